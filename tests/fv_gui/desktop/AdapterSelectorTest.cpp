// The adapter selector's rules and widget, and the logging-state row.
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "fv_gui/app/AdapterSelection.h"
#include "fv_gui/app/CAdapterComboBox.h"
#include "fv_gui/app/MainWindowTexts.h"
#include "fv_gui/settings/Settings.h"
#include "tests/fv_gui/TestFiles.h"

namespace {

using fv::AdapterInfo;
using fv::AdapterList;

AdapterList TwoAdapters() {
    AdapterList list;
    list["eth1"] = AdapterInfo{"Intel PRO/1000", "fv-eth1", "eth1", "802.3", "02-00-00-00-00-02"};
    list["eth0"] = AdapterInfo{"intel pro/1000", "fv-eth0", "eth0", "802.3", "02-00-00-00-00-01"};
    return list;
}

TEST(AdapterSelection, ItemsNameTheInterfaceAndFollowListOrder) {
    const AdapterList list = TwoAdapters();
    const auto items = fv::AdapterItems(list);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], "<not selected>");
    EXPECT_EQ(items[1], "intel pro/1000 (eth0)");  // eth0 sorts first
    EXPECT_EQ(items[2], "Intel PRO/1000 (eth1)");
    EXPECT_EQ(fv::AdapterItemText(AdapterInfo{"Veth", "fv-x", "\\Device\\veth7", "", ""}), "Veth (veth7)");
    EXPECT_EQ(fv::AdapterItemText(AdapterInfo{"", "fv-x", "tun0", "", ""}), "tun0");
    EXPECT_EQ(fv::ItemOfDevice(list, "eth1"), 2);
    EXPECT_EQ(fv::ItemOfDevice(list, "gone0"), 0);
    EXPECT_EQ(fv::ItemOfDevice(list, ""), 0);
    EXPECT_EQ(fv::EntryOfItem(list, 1)->lowerDeviceName, "eth0");
    EXPECT_EQ(fv::EntryOfItem(list, 0), nullptr);
    EXPECT_EQ(fv::EntryOfItem(list, 3), nullptr);
    EXPECT_EQ(fv::FindAdapter(list, "gone0"), nullptr);
    EXPECT_EQ(list.size(), 2u);  // a failed lookup adds nothing
    EXPECT_EQ(fv::AdapterItems({}).size(), 1u);
}

TEST(MainWindowTexts, LoggingStateNamesWhatGoesToTheFile) {
    const std::string path = "/var/log/fv/";
    EXPECT_EQ(fv::LoggingStateRow(true, true, path).text, "Logging all to \"/var/log/fv/fvconns.log\".");
    EXPECT_EQ(fv::LoggingStateRow(true, false, path).text,
              "Logging blocked packets only to \"/var/log/fv/fvconns.log\".");
    EXPECT_EQ(fv::LoggingStateRow(false, true, path).text,
              "Logging granted packets only to \"/var/log/fv/fvconns.log\".");
    const fv::StatusRow none = fv::LoggingStateRow(false, false, path);
    EXPECT_EQ(none.kind, fv::StatusKind::Warning);
    EXPECT_EQ(none.text, "Not logging.");
    EXPECT_EQ(fv::TitleText(), "Ferrovane v2.01 (build 9) **BETA**");
    EXPECT_EQ(fv::KnownAddressesText(4294967296ull, 1), "There are 4294967296 known IPs in 1 ranges.");
    EXPECT_EQ(fv::CancelledLoadRow("").kind, fv::StatusKind::Error);
}

class AdapterSelectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        settings = std::make_unique<fv::Settings>(dir / "program");
    }
    fv::test::TempDir dir;
    std::unique_ptr<fv::Settings> settings;
};

TEST_F(AdapterSelectorTest, StoredChoiceSelectedAndNewChoiceWrittenAtOnce) {
    fv::CAdapterComboBox box;
    box.SetSettings(settings.get());
    settings->SelectedAdapter.Set("eth1");
    box.FillAdapters(TwoAdapters());
    EXPECT_EQ(box.currentIndex(), 2);
    AdapterInfo entry;
    ASSERT_TRUE(box.GetSelectedAdapter(entry));
    EXPECT_EQ(entry.hardwareAddress, "02-00-00-00-00-02");

    QSignalSpy changed(&box, &fv::CAdapterComboBox::AdapterSelectionChanged);
    box.setCurrentIndex(0);
    box.OnSelectionDone();
    EXPECT_EQ(fv::Settings(dir / "program").SelectedAdapter.Value(), "");
    EXPECT_FALSE(box.GetSelectedAdapter(entry));
    ASSERT_TRUE(changed.wait(1000));
    EXPECT_FALSE(changed.at(0).at(0).toBool());

    box.setCurrentIndex(1);
    box.OnSelectionDone();
    EXPECT_EQ(fv::Settings(dir / "program").SelectedAdapter.Value(), "eth0");
}

TEST_F(AdapterSelectorTest, AdaptersDescribedAlikeCanEachBeChosen) {
    AdapterList list;
    for (const char* name : {"veth0", "veth1", "veth2"}) {
        list[name] = AdapterInfo{"Virtual Ethernet adapter", std::string("fv-") + name, name, "802.3", name};
    }
    fv::CAdapterComboBox box;
    box.SetSettings(settings.get());
    box.FillAdapters(list);
    QStringList texts;
    for (int i = 0; i < box.count(); ++i) texts << box.itemText(i);
    EXPECT_EQ(texts.removeDuplicates(), 0);
    for (const char* name : {"veth2", "veth1", "veth0"}) {
        const int item = box.findText(QString::fromLatin1(name), Qt::MatchContains);
        ASSERT_GT(item, 0) << name;
        box.setCurrentIndex(item);
        box.OnSelectionDone();
        EXPECT_EQ(settings->SelectedAdapter.Value(), name);
        AdapterInfo entry;
        ASSERT_TRUE(box.GetSelectedAdapter(entry));
        EXPECT_EQ(entry.hardwareAddress, name);
        // What was stored is what the next fill and a select by name show.
        box.FillAdapters(list);
        EXPECT_EQ(box.currentIndex(), item);
        box.setCurrentIndex(0);
        box.SelectAdapterByName(name);
        EXPECT_EQ(box.currentIndex(), item);
    }
}

TEST_F(AdapterSelectorTest, StoredAdapterMissingShowsNotSelectedAndKeepsTheSetting) {
    fv::CAdapterComboBox box;
    box.SetSettings(settings.get());
    settings->SelectedAdapter.Set("gone0");
    box.FillAdapters(TwoAdapters());
    EXPECT_EQ(box.currentIndex(), 0);
    EXPECT_TRUE(box.SelectedDevice().empty());
    EXPECT_EQ(settings->SelectedAdapter.Value(), "gone0");
}

TEST_F(AdapterSelectorTest, WheelNeverChangesTheAdapter) {
    fv::CAdapterComboBox box;
    box.SetSettings(settings.get());
    box.FillAdapters(TwoAdapters());
    box.resize(200, 24);
    for (int delta : {-120, 120, -120}) {
        QWheelEvent wheel(QPointF(10, 10), box.mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&box, &wheel);
    }
    EXPECT_EQ(box.currentIndex(), 0);
}

}  // namespace
