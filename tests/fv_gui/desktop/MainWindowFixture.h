// A main window with a private device folder, registry, runtime folder and tray, and message
// boxes recorded instead of shown.
#pragma once

#include <QAction>
#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fv_contract/DeviceNames.h"
#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/logview/CLogListCtrl.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/NamedEvents.h"
#include "tests/fv_gui/ClientFixture.h"
#include "tests/fv_gui/TestFiles.h"
#include "tests/fv_gui/desktop/EventWait.h"
#include "tests/fv_gui/desktop/FakeShell.h"
#include "tests/fv_gui/desktop/ProgramFolders.h"
#include "fv_gui/res/Resources.h"

namespace fv::test {

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareProgramFolders(dir.Path(), Blocklist());
        Configure([&](fv::Settings& s) {
            s.IPDB.Set(Blocklist());
            s.LogPath.Set(dir / "logs/");
            s.PopupTimeout.Set(1);
        });
    }
    void TearDown() override {
        window.reset();
        for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) fv::ReleaseNamedEvent(name);
    }

    // Stored settings as the next window reads them.
    template <typename F>
    void Configure(F change) {
        fv::Settings settings(dir / "program");
        change(settings);
    }

    fv::CMainDialog::Services MakeServices() {
        fv::CMainDialog::Services services;
        services.messages = &sink;
        services.tray.shell = &shell;
        services.tray.loadIcon = [this](int id) {
            trayIcons.push_back(id);
            return fv::res::Icon(id);
        };
        services.openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
        services.sleep = [this](std::uint32_t) {
            if (duringSleep) duringSleep();
        };
        services.chooseBlocklist = [this] { return chosenBlocklist; };
        return services;
    }

    fv::CMainDialog& Start() {
        window = std::make_unique<fv::CMainDialog>(MakeServices());
        window->OnInitDialog();
        QApplication::processEvents();
        return *window;
    }

    template <typename Predicate>
    static bool WaitFor(Predicate predicate, int ms = 10000) {
        return fv::test::WaitFor(predicate, ms);
    }

    // Every status row's text, in order.
    std::vector<std::string> StatusTexts() const {
        std::vector<std::string> rows;
        const fv::CLogListCtrl& list = window->StatusList();
        for (int i = 0; i < list.RowCount(); ++i) {
            rows.push_back(list.RowText(i, fv::CLogListCtrl::kColumnText).toStdString());
        }
        return rows;
    }
    bool HasStatus(const std::string& text) const {
        const auto rows = StatusTexts();
        return std::find(rows.begin(), rows.end(), text) != rows.end();
    }

    template <typename T>
    T* Control(int id) const {
        return window->findChild<T*>(QString::number(id));
    }

    // Chooses the item the window appends to its system menu under `text`.
    void ChooseSystemMenuItem(const char* text) const {
        for (QAction* action : window->actions()) {
            if (action->text() == QLatin1String(text)) {
                action->trigger();
                return;
            }
        }
        ADD_FAILURE() << "no system menu item " << text;
    }

    std::string Blocklist() const { return dir / "list.p2p"; }

    TempDir dir;
    RecordingSink sink;
    fv::notify::testing::FakeShell shell;
    std::vector<int> trayIcons;
    std::vector<QUrl> opened;
    std::string chosenBlocklist;
    std::function<void()> duringSleep;  // runs where the window would pause
    std::unique_ptr<fv::CMainDialog> window;
};

}  // namespace fv::test
