// What a driver-session test needs around the session: a device folder, a private registry,
// the main window's queue, statistics and notify events, a blocklist file and a recorded
// message sink.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/fv_gui/TestFiles.h"
#include "fv_contract/DeviceNames.h"
#include "fv_gui/client/DriverSession.h"
#include "fv_gui/logging/MessageSink.h"
#include "fv_gui/logging/PacketRecordQueue.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/NamedEvents.h"

namespace fv::test {

struct RecordedMessage {
    std::string text;
    fv::MessageKind kind;
};

class RecordingSink final : public fv::MessageSink {
public:
    void ShowMessage(const std::string& text, const std::string&, fv::MessageKind kind) override {
        messages.push_back({text, kind});
    }
    std::vector<RecordedMessage> messages;
};

// Host-order a.b.c.d.
constexpr std::uint32_t Address(int a, int b, int c, int d) {
    return std::uint32_t(a) << 24 | std::uint32_t(b) << 16 | std::uint32_t(c) << 8 | std::uint32_t(d);
}

class ClientFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv(kDeviceDirVariable, (dir / "dev").c_str(), 1);
        ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        std::filesystem::create_directories(dir / "dev");
        std::filesystem::create_directories(dir / "logs");
        settings = std::make_unique<fv::Settings>(dir / "program");
        statistics = std::make_unique<fv::PacketStatistics>();
        WriteFile(Blocklist(), "Listed Net:203.0.113.0-203.0.113.255\r\nOther Net:198.51.100.7-198.51.100.9\r\n");
    }
    void TearDown() override {
        session.reset();
        for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
            fv::ReleaseNamedEvent(name);
        }
    }

    std::string DeviceDir() const { return dir / "dev"; }
    std::string Blocklist() const { return dir / "list.p2p"; }
    std::string LogFile() const { return dir / "logs/fvconns.log"; }

    fv::SessionParameters Parameters(const std::string& adapter) {
        fv::SessionParameters p;
        p.blocklistPath = Blocklist();
        p.logFolder = dir / "logs/";
        p.logBaseName = fv::kLogFileName;
        p.settings = settings.get();
        p.blockedNotify = &blockedNotify;
        p.grantedNotify = &grantedNotify;
        p.queue = &queue;
        p.statistics = statistics.get();
        p.selectedAdapter = adapter;
        return p;
    }

    std::vector<fv::BlockedPacketView> PopAllBlocked() {
        std::vector<fv::BlockedPacketView> views;
        fv::BlockedPacketView v;
        while (queue.PopBlocked(v)) views.push_back(v);
        return views;
    }
    std::vector<PacketEventRecord> PopAllGranted() {
        std::vector<PacketEventRecord> records;
        PacketEventRecord r;
        while (queue.PopGranted(r)) records.push_back(r);
        return records;
    }

    TempDir dir;
    RecordingSink sink;
    std::unique_ptr<fv::Settings> settings;
    std::unique_ptr<fv::PacketStatistics> statistics;
    fv::PacketRecordQueue queue;
    fv::Event blockedNotify{fv::Event::Mode::AutoReset};
    fv::Event grantedNotify{fv::Event::Mode::AutoReset};
    std::unique_ptr<fv::DriverSession> session = std::make_unique<fv::DriverSession>(&sink);
};

}  // namespace fv::test
