#include "fv_gui/logging/ConnectionLog.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

#include "tests/fv_gui/TestFiles.h"
#include "fv_gui/blocklist/IpTable.h"

namespace {

using fv::ConnectionLog;

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

struct RecordingSink : fv::MessageSink {
    struct Message {
        std::string text, caption;
        fv::MessageKind kind;
    };
    std::vector<Message> messages;
    void ShowMessage(const std::string& text, const std::string& caption, fv::MessageKind kind) override {
        messages.push_back({text, caption, kind});
    }
};

// Sunday, December 06, 2026 at 11:17:27 UTC, and three seconds later.
std::time_t At(int second) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = 11;
    t.tm_min = 17;
    t.tm_sec = second;
    return ::timegm(&t);
}

class ConnectionLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        RangeBufferLoad("Some Org:10.0.0.1-10.0.0.9\nOther:20.0.0.0-20.0.0.255\n");
    }
    void RangeBufferLoad(const std::string& text) {
        fv::test::WriteFile(dir / "list.p2p", text);
        buffer.assign(1000, 0);
        ASSERT_TRUE(table.Load(dir / "list.p2p", reinterpret_cast<RangeTable*>(buffer.data()), 8000));
    }
    ConnectionLog::Clock Clock() {
        return [this] { return At(second); };
    }
    std::string Folder() const { return dir.Path() + "/"; }
    std::string LogText() { return fv::test::ReadFile(dir / "fvconns.log"); }

    fv::test::TempDir dir;
    std::vector<std::uint64_t> buffer;
    fv::IpTable table;
    RecordingSink sink;
    int second = 27;
};

PacketEventRecord Record(std::uint32_t address, std::uint16_t first, std::uint16_t second,
                         std::uint8_t direction, std::uint8_t protocol) {
    PacketEventRecord record{};
    record.remoteAddress = address;
    record.firstPort = htons(first);
    record.secondPort = htons(second);
    record.direction = direction;
    record.protocol = protocol;
    return record;
}

const std::string kRule(80, '-');
const std::string kBanner1 =
    "\r\n\r\nFerrovane v2.01(build 9) [**BETA**]\r\nLOGGING STARTED on Sunday, December 06, 2026 at 11:17:27\r\n";
const std::string kBanner2 = kRule + "\r\n\r\nThere are 265 known IP addresses in 2 ranges.\r\n\r\n";

TEST_F(ConnectionLogTest, BannerLineAndFooter) {
    {
        ConnectionLog log(table, Folder(), "fvconns.log", &sink, Clock());
        ASSERT_TRUE(log.Enabled());
        EXPECT_EQ(log.CurrentPath(), dir / "fvconns.log");
        second = 30;
        log.LogRecord(Record(Ip(10, 0, 0, 5), 80, 1234, 0, 6), true);
    }
    EXPECT_EQ(LogText(), kBanner1 + kBanner2 +
                             "2026/12/06  11:17:30  [->] REJECTED - Source is Some Org (10.0.0.5) "
                             "[Protocol: TCP - src: 80 / dst: 1234]\r\n" +
                             "\r\n\r\n" + kRule +
                             "\r\nLOGGING STOPPED on Sunday, December 06, 2026 at 11:17:30\r\n\r\n");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(ConnectionLogTest, RecordTexts) {
    EXPECT_EQ(fv::FormatRecordText(Record(Ip(10, 0, 0, 5), 80, 1234, 0, 6), true, table),
              "[->] REJECTED - Source is Some Org (10.0.0.5) [Protocol: TCP - src: 80 / dst: 1234]");
    EXPECT_EQ(fv::FormatRecordText(Record(Ip(20, 0, 0, 7), 5000, 53, 1, 17), true, table),
              "[<-] BLOCKED [!] - Destination is Other (20.0.0.7) [Protocol: UDP - src: 5000 / dst: 53]");
    EXPECT_EQ(fv::FormatRecordText(Record(Ip(1, 2, 3, 4), 0, 0, 0, 1), false, table),
              "[->] non-hostile source (1.2.3.4), access granted [Protocol: ICMP - src: -- / dst: --]");
    EXPECT_EQ(fv::FormatRecordText(Record(Ip(1, 2, 3, 4), 443, 40000, 1, 6), false, table),
              "[<-] non-hostile destination (1.2.3.4), access granted [Protocol: TCP - src: 443 / dst: 40000]");
    // Direction other than 0 or 1: empty direction text.
    EXPECT_EQ(fv::FormatRecordText(Record(Ip(1, 2, 3, 4), 1, 2, 7, 6), false, table),
              " (1.2.3.4), access granted [Protocol: TCP - src: 1 / dst: 2]");
}

TEST_F(ConnectionLogTest, LookupMissAndUnknownProtocol) {
    EXPECT_EQ(fv::FormatRecordText(Record(Ip(10, 0, 0, 10), 0, 0, 0, 5), true, table),
              "[->] REJECTED - Source is Overlapped values in IP list! Description lookup failed. "
              "(10.0.0.10) [Protocol: Partly unassigned protocol [id: 5] - src: -- / dst: --]");
}

TEST_F(ConnectionLogTest, AppendsToAnExistingLog) {
    fv::test::WriteFile(dir / "fvconns.log", "old content\r\n");
    {
        ConnectionLog log(table, Folder(), "fvconns.log", &sink, Clock());
        log.WriteLine("hello");
    }
    const std::string text = LogText();
    EXPECT_EQ(text.rfind("old content\r\n" + kBanner1 + kBanner2 + "2026/12/06  11:17:27  hello\r\n", 0), 0u);
}

TEST_F(ConnectionLogTest, ChangeFolderToTheSameFolderInOtherCase) {
    fv::test::TempDir upper;  // a folder name with letters
    const std::string folder = upper.Path() + "/Logs/";
    std::filesystem::create_directories(folder);
    ConnectionLog log(table, folder, "fvconns.log", &sink, Clock());
    ASSERT_TRUE(log.Enabled());
    const std::string before = fv::test::ReadFile(folder + "fvconns.log");
    EXPECT_FALSE(log.ChangeFolder(upper.Path() + "/LOGS/"));
    EXPECT_FALSE(log.ChangeFolder(folder));
    EXPECT_EQ(fv::test::ReadFile(folder + "fvconns.log"), before);
    EXPECT_FALSE(std::filesystem::exists(upper.Path() + "/LOGS/fvconns.log"));
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(ConnectionLogTest, ChangeFolderWritesTheSwitchBlock) {
    fv::test::TempDir other;
    {
        ConnectionLog log(table, Folder(), "fvconns.log", &sink, Clock());
        EXPECT_TRUE(log.ChangeFolder(other.Path() + "/"));
        EXPECT_EQ(log.CurrentPath(), other / "fvconns.log");
        log.WriteLine("moved");
    }
    // The old file gets no footer.
    EXPECT_EQ(LogText(), kBanner1 + kBanner2);
    EXPECT_EQ(fv::test::ReadFile(other / "fvconns.log"),
              kBanner1 + kRule + "\r\n\r\n[!] Logfile changed, old is \"" + (dir / "fvconns.log") +
                  "\"\r\nThere are 265 known IP addresses in 2 ranges.\r\n\r\n" +
                  "2026/12/06  11:17:27  moved\r\n\r\n\r\n" + kRule +
                  "\r\nLOGGING STOPPED on Sunday, December 06, 2026 at 11:17:27\r\n\r\n");
}

TEST_F(ConnectionLogTest, ChangeFolderFailureKeepsTheOldFile) {
    ConnectionLog log(table, Folder(), "fvconns.log", &sink, Clock());
    EXPECT_FALSE(log.ChangeFolder(dir.Path() + "/no/such/folder/"));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Failed using the new log file.\r\nFerrovane will use the old one.");
    EXPECT_TRUE(log.Enabled());
    log.WriteLine("still here");
    EXPECT_NE(LogText().find("11:17:27  still here\r\n"), std::string::npos);
}

// The box of a failed switch waits for the user: the readers, and anything the box's own loop
// runs (a reload that stops the log), must find both locks free meanwhile.
TEST_F(ConnectionLogTest, FailedSwitchShowsItsMessageWithTheLocksFree) {
    struct ProbingSink : fv::MessageSink {
        void ShowMessage(const std::string&, const std::string&, fv::MessageKind) override {
            reader = std::async(std::launch::async, [this] { log->LogRecord(Record(Ip(10, 0, 0, 5), 80, 1234, 0, 6), true); });
            // Bounded only so that a held lock fails the test instead of hanging it.
            readerFinished = reader.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        }
        ConnectionLog* log = nullptr;
        std::future<void> reader;
        bool readerFinished = false;
    } probe;
    ConnectionLog log(table, Folder(), "fvconns.log", &probe, Clock());
    probe.log = &log;
    EXPECT_FALSE(log.ChangeFolder(dir.Path() + "/no/such/folder/"));
    ASSERT_TRUE(probe.reader.valid());
    probe.reader.wait();
    EXPECT_TRUE(probe.readerFinished);
    // Logging was back in the old file before the message.
    EXPECT_NE(LogText().find("REJECTED - Source is Some Org (10.0.0.5)"), std::string::npos);
}

TEST_F(ConnectionLogTest, FileHeldByAnotherWriterDisablesLogging) {
    const int holder = ::open((dir / "fvconns.log").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    {
        ConnectionLog log(table, Folder(), "fvconns.log", &sink, Clock());
        EXPECT_FALSE(log.Enabled());
        EXPECT_EQ(log.CurrentPath(), "");
        log.LogRecord(Record(Ip(10, 0, 0, 5), 80, 1234, 0, 6), true);
        log.WriteLine("nothing");
        // A failed switch with no file before: logging stays off, a message is asked for.
        EXPECT_FALSE(log.ChangeFolder(dir.Path() + "/missing/"));
        EXPECT_FALSE(log.Enabled());
        EXPECT_EQ(sink.messages.size(), 1u);
    }
    EXPECT_EQ(LogText(), "");  // no banner, line or footer
    ::close(holder);
}

// A description made to look like terminal escapes reaches the log as plain text.
TEST_F(ConnectionLogTest, DescriptionsReachTheLogWithoutControlCharacters) {
    fv::test::WriteFile(dir / "hostile.p2p",
                        "\x1b]0;owned\a\x1b[2J\xc2\x9b" "1mEvil\x9b" "0m:30.0.0.1-30.0.0.9\n");
    std::vector<std::uint64_t> ranges(100, 0);
    fv::IpTable hostile;
    ASSERT_TRUE(hostile.Load(dir / "hostile.p2p", reinterpret_cast<RangeTable*>(ranges.data()), 800));
    {
        ConnectionLog log(hostile, Folder(), "fvconns.log", &sink, Clock());
        log.LogRecord(Record(Ip(30, 0, 0, 5), 80, 1234, 0, 6), true);
    }
    const std::string text = LogText();
    EXPECT_NE(text.find("Source is ?]0;owned??[2J?1mEvil?0m (30.0.0.5)"), std::string::npos) << text;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        EXPECT_TRUE((byte >= 0x20 && byte < 0x7F) || c == '\r' || c == '\n') << int(byte);
    }
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The log lists every address the machine talked to: a new one is its owner's alone, an existing
// one keeps its mode, and a link or FIFO planted where it would be is not written through.
TEST_F(ConnectionLogTest, NewLogIsPrivateAndPlantedFilesAreRefused) {
    const mode_t mask = ::umask(0);
    {
        ConnectionLog log(table, Folder(), "fvconns.log", &sink, Clock());
        EXPECT_TRUE(log.Enabled());
    }
    ::umask(mask);
    EXPECT_EQ(ModeOf(dir / "fvconns.log"), 0600u);

    fv::test::TempDir shared;
    const std::string log = shared / "fvconns.log";
    fv::test::WriteFile(log, "old\r\n");
    ASSERT_EQ(::chmod(log.c_str(), 0640), 0);
    {
        ConnectionLog existing(table, shared.Path() + "/", "fvconns.log", &sink, Clock());
        EXPECT_TRUE(existing.Enabled());
    }
    EXPECT_EQ(ModeOf(log), 0640u);
    EXPECT_EQ(fv::test::ReadFile(log).rfind("old\r\n" + kBanner1, 0), 0u);

    ASSERT_EQ(::unlink(log.c_str()), 0);
    fv::test::WriteFile(shared / "victim", "victim\n");
    ASSERT_EQ(::symlink((shared / "victim").c_str(), log.c_str()), 0);
    {
        ConnectionLog linked(table, shared.Path() + "/", "fvconns.log", &sink, Clock());
        EXPECT_FALSE(linked.Enabled());
    }
    EXPECT_EQ(fv::test::ReadFile(shared / "victim"), "victim\n");

    ASSERT_EQ(::unlink(log.c_str()), 0);
    ASSERT_EQ(::symlink((shared / "absent").c_str(), log.c_str()), 0);
    {
        ConnectionLog dangling(table, shared.Path() + "/", "fvconns.log", &sink, Clock());
        EXPECT_FALSE(dangling.Enabled());
    }
    EXPECT_FALSE(std::filesystem::exists(shared / "absent"));

    ASSERT_EQ(::unlink(log.c_str()), 0);
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    const int reader = ::open(log.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // so that no open waits
    ASSERT_GE(reader, 0);
    {
        ConnectionLog fifo(table, shared.Path() + "/", "fvconns.log", &sink, Clock());
        EXPECT_FALSE(fifo.Enabled());
    }
    char byte;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);
}

TEST_F(ConnectionLogTest, DisabledLogIsEnabledByASuccessfulSwitch) {
    ConnectionLog log(table, dir.Path() + "/missing/", "fvconns.log", &sink, Clock());
    EXPECT_FALSE(log.Enabled());
    EXPECT_TRUE(log.ChangeFolder(Folder()));
    EXPECT_TRUE(log.Enabled());
    EXPECT_NE(LogText().find("[!] Logfile changed, old is \"\"\r\n"), std::string::npos);
}

TEST_F(ConnectionLogTest, OtherProgramsMayRead) {
    ConnectionLog log(table, Folder(), "fvconns.log", &sink, Clock());
    log.WriteLine("readable");
    EXPECT_NE(LogText().find("readable"), std::string::npos);
    // A second log on the same file is refused while the first holds it.
    ConnectionLog second(table, Folder(), "fvconns.log", &sink, Clock());
    EXPECT_FALSE(second.Enabled());
}

TEST_F(ConnectionLogTest, ConcurrentRecordsKeepWholeLines) {
    {
        ConnectionLog log(table, Folder(), "fvconns.log", &sink, Clock());
        std::thread blocked([&] {
            for (int i = 0; i < 500; ++i) log.LogRecord(Record(Ip(10, 0, 0, 5), 80, 1234, 0, 6), true);
        });
        std::thread granted([&] {
            for (int i = 0; i < 500; ++i) log.LogRecord(Record(Ip(1, 1, 1, 1), 443, 999, 1, 6), false);
        });
        fv::test::TempDir other;
        EXPECT_TRUE(log.ChangeFolder(other.Path() + "/"));
        EXPECT_TRUE(log.ChangeFolder(Folder()));
        blocked.join();
        granted.join();
    }
    const std::string text = LogText();
    std::size_t lines = 0;
    for (std::size_t at = text.find("2026/12/06  "); at != std::string::npos; at = text.find("2026/12/06  ", at + 1)) {
        const std::size_t end = text.find("\r\n", at);
        const std::string line = text.substr(at, end - at);
        EXPECT_TRUE(line.ends_with("dst: 1234]") || line.ends_with("dst: 999]")) << line;
        ++lines;
    }
    EXPECT_GT(lines, 0u);
}

TEST(GrantedAddressCache, LimitTwoSequence) {
    fv::GrantedAddressCache cache;
    EXPECT_EQ(cache.Limit(), 500u);
    cache.SetLimit(2);
    const std::uint32_t a1 = 1, a2 = 2, a3 = 3;
    EXPECT_TRUE(cache.Admit(a1));
    EXPECT_TRUE(cache.Admit(a2));
    EXPECT_FALSE(cache.Admit(a1));
    EXPECT_TRUE(cache.Admit(a3));
    EXPECT_EQ(cache.Size(), 3u);
    EXPECT_TRUE(cache.Admit(a1));  // the set held three: emptied first
    EXPECT_EQ(cache.Size(), 1u);
}

TEST(LogDates, EnglishNamesAndPadding) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    std::tm t{};
    t.tm_year = 2027 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 3;
    t.tm_hour = 4;
    t.tm_min = 5;
    t.tm_sec = 6;
    const std::time_t when = ::timegm(&t);
    EXPECT_EQ(fv::FormatLongDate(when), "Sunday, January 03, 2027 at 04:05:06");
    EXPECT_EQ(fv::FormatStampDate(when), "2027/01/03  04:05:06");
}

// A line goes out whole through partial writes and interruptions; a write that takes nothing
// ends it (trying again would take nothing for ever).
TEST(LogWrites, PartialWritesContinueAndAStalledWriteFails) {
    static std::string written;
    static int calls;
    written.clear();
    calls = 0;
    auto trickle = [](int, const void* data, std::size_t) -> ssize_t {
        if (++calls % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        written += *static_cast<const char*>(data);
        return 1;
    };
    EXPECT_TRUE(fv::WriteAll(-1, "line\r\n", 6, trickle));
    EXPECT_EQ(written, "line\r\n");

    calls = 0;
    auto stalled = [](int, const void*, std::size_t size) -> ssize_t {
        return ++calls < 1000 ? 0 : ssize_t(size);
    };
    EXPECT_FALSE(fv::WriteAll(-1, "line", 4, stalled));
    EXPECT_EQ(calls, 1);
}

}  // namespace
