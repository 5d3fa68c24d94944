#include "fv_gui/app/MainMenu.h"

#include <QAction>
#include <QMenu>

namespace fv {
namespace {

void AddCommand(QMenu* menu, const char* label, int command) {
    menu->addAction(QString::fromLatin1(label))->setData(command);
}

}  // namespace

std::unique_ptr<QMenu> LoadMainMenu() {
    auto bar = std::make_unique<QMenu>();
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    AddCommand(file, "&Load IP table...", kCommandLoadIpTable);
    AddCommand(file, "&Preferences...", kCommandPreferences);
    AddCommand(file, "View Log...", kCommandViewLog);
    file->addSeparator();
    AddCommand(file, "&Exit", kCommandExit);
    QMenu* about = bar->addMenu(QStringLiteral("&About"));
    QMenu* web = about->addMenu(QStringLiteral("Ferrovane on the Web"));
    AddCommand(web, "Ferrovane Web Support...", kCommandWebSupport);
    AddCommand(web, "Donate...", kCommandDonate);
    about->addSeparator();
    AddCommand(about, "About Ferrovane...", kCommandAboutUnguarded);
    return bar;
}

}  // namespace fv
