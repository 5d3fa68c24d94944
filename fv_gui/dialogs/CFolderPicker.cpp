#include "fv_gui/dialogs/CFolderPicker.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace fv::dialogs {

bool CFolderPicker::Browse(QWidget* owner) {
    const QString title = title_.empty() ? QStringLiteral("Open") : QString::fromStdString(title_);
    const QString chosen = QFileDialog::getExistingDirectory(
        owner, title, QString::fromStdString(initialFolder_), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return false;
    const QFileInfo info(chosen);
    if (!info.isAbsolute() || !info.isDir()) return false;
    path_ = QDir::cleanPath(info.absoluteFilePath()).toStdString();
    displayName_ = info.fileName().isEmpty() ? path_ : info.fileName().toStdString();
    return true;
}

}  // namespace fv::dialogs
