#include "fv_gui/dialogs/DialogIds.h"

#include <QWidget>

namespace fv::dialogs {

void SetControlId(QWidget* widget, int id) { widget->setObjectName(QString::number(id)); }

QWidget* ControlById(const QWidget* root, int id) {
    return root->findChild<QWidget*>(QString::number(id));
}

}  // namespace fv::dialogs
