// The watch on the blocklist file: a new file renamed over it and a rewrite in place are both
// seen once they settle; what is not a new version of the file is not.
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "fv_gui/app/BlocklistWatch.h"
#include "tests/fv_gui/TestFiles.h"

namespace {

using fv::test::TempDir;
using fv::test::WriteFile;

constexpr int kTestSettleMs = 100;
constexpr int kPatienceMs = 10000;

class BlocklistWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(List(), "A:1.2.3.4-1.2.3.4\r\n");
        watch.Watch(List());
    }
    std::string List() const { return dir / "lists.p2p"; }
    // Waits until the watch has reported `count` changes in all.
    bool WaitForChanges(int count) {
        while (spy.count() < count) {
            if (!spy.wait(kPatienceMs)) return spy.count() >= count;
        }
        return true;
    }

    TempDir dir;
    fv::BlocklistWatch watch{nullptr, kTestSettleMs};
    QSignalSpy spy{&watch, &fv::BlocklistWatch::Changed};
};

TEST_F(BlocklistWatchTest, ARenameOverTheFileAndARewriteInPlaceAreBothSeen) {
    // As a list update writes it: beside the file, then renamed over it.
    WriteFile(dir / "lists.p2p.new", "B:5.6.7.8-5.6.7.8\r\n");
    std::filesystem::rename(dir / "lists.p2p.new", List());
    ASSERT_TRUE(WaitForChanges(1));
    // The watch on the replaced file went with it: the one now there is watched.
    {
        std::FILE* file = std::fopen(List().c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        std::fputs("C", file);
        std::fclose(file);
    }
    ASSERT_TRUE(WaitForChanges(2));
    // And so is the one after.
    WriteFile(dir / "lists.p2p.new", "D:9.9.9.9-9.9.9.9\r\n");
    std::filesystem::rename(dir / "lists.p2p.new", List());
    EXPECT_TRUE(WaitForChanges(3));
}

TEST_F(BlocklistWatchTest, OnlyANewVersionOfTheFileCounts) {
    WriteFile(dir / "other.p2p", "X:1.1.1.1-1.1.1.1\r\n");
    std::filesystem::remove(dir / "other.p2p");
    EXPECT_FALSE(watch.CheckNow());
    // Gone is nothing new to read; back again, it is.
    std::filesystem::remove(List());
    EXPECT_FALSE(watch.CheckNow());
    WriteFile(List(), "A:1.2.3.4-1.2.3.4\r\n");
    EXPECT_TRUE(watch.CheckNow());
    EXPECT_FALSE(watch.CheckNow());
    // A change its owner could not take is reported again.
    watch.Postpone();
    EXPECT_TRUE(WaitForChanges(1));
    // Watching another file takes what it holds as seen.
    WriteFile(dir / "second.p2p", "S:2.2.2.2-2.2.2.2\r\n");
    watch.Watch(dir / "second.p2p");
    EXPECT_FALSE(watch.CheckNow());
}

}  // namespace
