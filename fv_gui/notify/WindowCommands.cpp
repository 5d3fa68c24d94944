#include "fv_gui/notify/WindowCommands.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace fv::notify {

void ApplyWindowCommand(QWidget* window, WindowCommand command) {
    switch (command) {
    case WindowCommand::Minimize: window->showMinimized(); break;
    case WindowCommand::Maximize: window->showMaximized(); break;
    case WindowCommand::Restore: window->showNormal(); break;
    case WindowCommand::Close: window->close(); break;
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

}  // namespace fv::notify
