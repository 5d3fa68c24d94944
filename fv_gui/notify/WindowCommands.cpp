#include "fv_gui/notify/WindowCommands.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace fv::notify {

void DefaultSysCommand(QWidget* window, unsigned command) {
    switch (command & kSysCommandMask) {
    case SC_MINIMIZE: window->showMinimized(); break;
    case SC_MAXIMIZE: window->showMaximized(); break;
    case SC_RESTORE: window->showNormal(); break;
    case SC_CLOSE: window->close(); break;
    default: break;
    }
}

namespace {

QAction* AddCommand(QMenu* menu, const char* label, int command) {
    QAction* action = menu->addAction(QString::fromLatin1(label));
    action->setData(command);
    return action;
}

}  // namespace

std::unique_ptr<QMenu> LoadMenuResource(int id) {
    if (id != kTrayMenu) return nullptr;
    auto bar = std::make_unique<QMenu>();
    QMenu* tray = bar->addMenu(QStringLiteral("Tray"));
    AddCommand(tray, "Show", kCommandShow);
    AddCommand(tray, "Start", kCommandStartStop);
    AddCommand(tray, "Quit", kCommandQuit);
    tray->addSeparator();
    AddCommand(tray, "About Ferrovane...", kCommandAbout);
    return bar;
}

QMenu* FirstSubmenu(QMenu* menu) {
    if (!menu) return nullptr;
    for (QAction* action : menu->actions()) {
        if (action->menu()) return action->menu();
    }
    return nullptr;
}

QAction* FindCommand(QMenu* menu, int commandId) {
    if (!menu) return nullptr;
    for (QAction* action : menu->actions()) {
        if (action->menu()) {
            if (QAction* found = FindCommand(action->menu(), commandId)) return found;
        } else if (!action->isSeparator() && action->data().toInt() == commandId) {
            return action;
        }
    }
    return nullptr;
}

int TrackMenuBottomAligned(QMenu* menu, QPoint screenPos) {
    if (!menu || menu->isEmpty()) return 0;
    const QPoint topLeft(screenPos.x(), screenPos.y() - menu->sizeHint().height());
    QAction* chosen = menu->exec(topLeft);
    return chosen ? chosen->data().toInt() : 0;
}

std::unique_ptr<QMenu> SystemMenu(QWidget* window, bool hasMinimize, bool hasMaximize) {
    auto menu = std::make_unique<QMenu>();
    const bool maximized = window->isMaximized();
    AddCommand(menu.get(), "&Restore", static_cast<int>(SC_RESTORE))->setEnabled(maximized || window->isMinimized());
    AddCommand(menu.get(), "Mi&nimize", static_cast<int>(SC_MINIMIZE))->setEnabled(hasMinimize);
    AddCommand(menu.get(), "Ma&ximize", static_cast<int>(SC_MAXIMIZE))->setEnabled(hasMaximize && !maximized);
    menu->addSeparator();
    AddCommand(menu.get(), "&Close", static_cast<int>(SC_CLOSE));
    // The window's own actions are the items a program appends to its system menu.
    for (QAction* action : window->actions()) menu->addAction(action);
    return menu;
}

}  // namespace fv::notify
