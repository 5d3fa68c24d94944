// The per-user named locks behind the single instance and the about box.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "fv_platform/NamedLock.h"
#include "tests/fv_gui/TestFiles.h"

namespace {

using fv::NamedLock;

class NamedLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir((dir / "run").c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    }
    fv::test::TempDir dir;
};

TEST_F(NamedLockTest, OneHolderAtATimeUntilItLetsGo) {
    EXPECT_EQ(NamedLock::PathFor("FerrovaneAbout"), dir / "run/ferrovane/FerrovaneAbout.lock");
    NamedLock first, second;
    ASSERT_EQ(first.Create("FerrovaneStarted"), NamedLock::Result::Acquired);
    EXPECT_EQ(second.Create("FerrovaneStarted"), NamedLock::Result::AlreadyHeld);
    EXPECT_FALSE(second.Held());
    EXPECT_EQ(second.Create("FerrovaneAbout"), NamedLock::Result::Acquired);
    first.Close();
    NamedLock third;
    EXPECT_EQ(third.Create("FerrovaneStarted"), NamedLock::Result::Acquired);
    for (const char* name : {"../escape", "..", "", "a/b"}) {
        EXPECT_EQ(NamedLock::PathFor(name), "") << name;
        EXPECT_EQ(third.Create(name), NamedLock::Result::Failed) << name;
    }
}

TEST_F(NamedLockTest, FolderThatIsALinkIsRefused) {
    std::filesystem::create_directories(dir / "elsewhere");
    std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "run/ferrovane");
    NamedLock lock;
    EXPECT_EQ(lock.Create("FerrovaneStarted"), NamedLock::Result::Failed);
}

TEST_F(NamedLockTest, AFolderOthersCanWriteIsNotTrusted) {
    ASSERT_EQ(::mkdir((dir / "run/ferrovane").c_str(), 0700), 0);
    ASSERT_EQ(::chmod((dir / "run/ferrovane").c_str(), 0777), 0);
    EXPECT_EQ(NamedLock::PathFor("FerrovaneAbout"), "");
    NamedLock lock;
    EXPECT_EQ(lock.Create("FerrovaneAbout"), NamedLock::Result::Failed);
}

}  // namespace
