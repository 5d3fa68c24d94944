// Runs a dialog modally and tells an observer once it is on screen (tests press its buttons).
#pragma once

#include <QDialog>
#include <QTimer>

#include <functional>

namespace fv::dialogs {

using DialogShown = std::function<void(QDialog&)>;

inline int ExecModal(QDialog& dialog, const DialogShown& shown) {
    if (shown) QTimer::singleShot(0, &dialog, [&dialog, shown] { shown(dialog); });
    return dialog.exec();
}

}  // namespace fv::dialogs
