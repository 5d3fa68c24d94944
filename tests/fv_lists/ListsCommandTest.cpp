// ferrovane-lists against a real HTTP server on 127.0.0.1: subscriptions, conditional fetches,
// formats, failures that must keep the last good copy, the schedule and the program's setting.
#include "fv_lists/ListsCommand.h"
#include "fv_lists/ListState.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "fv_platform/registry/Registry.h"
#include "tests/fv_gui/TestFiles.h"
#include "tests/fv_lists/LoaderCheck.h"
#include "tests/fv_lists/Packers.h"
#include "tests/fv_lists/TestHttpServer.h"

namespace {

using namespace fv::lists;
using fv::test::HttpReply;

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}
constexpr std::int64_t kHour = 3600;
constexpr std::size_t kTestCap = std::size_t{64} << 10;
constexpr char kSettingsKey[] = "Software\\Ferrovane\\Settings";
constexpr char kListA[] = "Alpha one:1.0.0.0-1.0.0.255\nAlpha two:2.0.0.0-2.0.0.15\n";

class ListsCommandTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitFetching(); }

    void SetUp() override {
        ASSERT_TRUE(server.Running());
        const std::string registry = dir / "registry";
        ::mkdir(registry.c_str(), 0700);
        ::setenv("FERROVANE_REGISTRY_DIR", registry.c_str(), 1);
        context.paths = ListPaths::Under(dir / "config", dir / "data");
        context.fetch.timeoutMs = 60 * 1000;  // generous: only the time-out case waits for it
        context.fetch.maxBytes = kTestCap;
        context.now = [this] { return clock; };
        context.program = "/opt/fv dir/ferrovane-lists";
        context.out = &out;
        context.err = &err;
    }
    void TearDown() override { ::unsetenv("FERROVANE_REGISTRY_DIR"); }

    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        return RunListsCommand(args, context);
    }
    std::string Merged() const { return fv::test::ReadFile(context.paths.mergedFile); }
    fv::test::LoadedList Load() const { return fv::test::LoadWithProgramLoader(context.paths.mergedFile, Merged()); }
    std::string Ipdb() const {
        return fv::registry::QueryString(fv::registry::Hive::CurrentUser, kSettingsKey, "IPDB").value_or("<none>");
    }
    static HttpReply Ok(std::string body, std::vector<std::pair<std::string, std::string>> headers = {}) {
        HttpReply reply;
        reply.body = std::move(body);
        reply.headers = std::move(headers);
        return reply;
    }

    fv::test::TempDir dir;
    fv::test::TestHttpServer server;
    std::int64_t clock = 1'800'000'000;
    std::ostringstream out, err;
    CommandContext context;
};

TEST_F(ListsCommandTest, FirstSourcePointsTheProgramAtTheMergedFileAndLaterOnesDoNot) {
    ASSERT_TRUE(fv::registry::SetString(fv::registry::Hive::CurrentUser, kSettingsKey, "IPDB", "/home/me/ridozeru.p2p"));
    server.Serve("/a.p2p", Ok(kListA));
    ASSERT_EQ(Run({"add", server.Url("/a.p2p"), "--every", "12h", "--label", "Level A"}), kExitGood) << err.str();
    EXPECT_EQ(Ipdb(), context.paths.mergedFile);
    EXPECT_NE(out.str().find("IPDB, was /home/me/ridozeru.p2p"), std::string::npos) << out.str();
    const auto loaded = Load();
    ASSERT_TRUE(loaded.loaded);
    EXPECT_EQ(loaded.ranges, 2);
    EXPECT_EQ(loaded.Name(Ip(2, 0, 0, 3)), "Alpha two");
    EXPECT_NE(fv::test::ReadFile(context.paths.configFile).find(server.Url("/a.p2p") + " every=12h label=Level A"),
              std::string::npos);

    // The user loads another table; a second subscription leaves that choice alone.
    ASSERT_TRUE(fv::registry::SetString(fv::registry::Hive::CurrentUser, kSettingsKey, "IPDB", "/home/me/mine.p2p"));
    server.Serve("/b.txt", Ok("9.9.9.0/24\n"));
    ASSERT_EQ(Run({"add", server.Url("/b.txt")}), kExitGood) << err.str();
    EXPECT_EQ(Ipdb(), "/home/me/mine.p2p");
    EXPECT_EQ(Load().ranges, 3);
    EXPECT_EQ(Load().Name(Ip(9, 9, 9, 9)), "127.0.0.1:" + server.Url("").substr(17));  // the host names it

    EXPECT_EQ(Run({"add", server.Url("/b.txt")}), kExitProblem);
    ASSERT_EQ(Run({"remove", "Level A"}), kExitGood) << err.str();
    EXPECT_EQ(Load().ranges, 1);
    EXPECT_EQ(Run({"remove", "Level A"}), kExitProblem);
}

TEST_F(ListsCommandTest, UnchangedListsCostA304AndForceFetchesWithoutValidators) {
    HttpReply etagged = Ok(kListA, {{"ETag", "\"v1\""}, {"Last-Modified", "Mon, 07 Dec 2026 10:00:00 GMT"}});
    etagged.notModifiedIfEtag = "\"v1\"";
    server.Serve("/e.p2p", etagged);
    HttpReply dated = Ok("7.7.7.7\n", {{"Last-Modified", "Sun, 06 Dec 2026 10:00:00 GMT"}});
    dated.notModifiedIfSince = "Sun, 06 Dec 2026 10:00:00 GMT";
    server.Serve("/d.txt", dated);
    ASSERT_EQ(Run({"add", server.Url("/e.p2p")}), kExitGood) << err.str();
    ASSERT_EQ(Run({"add", server.Url("/d.txt")}), kExitGood) << err.str();
    const std::string before = Merged();

    clock += kHour;
    ASSERT_EQ(Run({"update"}), kExitGood) << err.str();
    EXPECT_NE(out.str().find("2 ranges (unchanged)"), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find("Wrote"), std::string::npos) << out.str();
    EXPECT_EQ(Merged(), before);
    const auto etagRequests = server.Requests("/e.p2p");
    ASSERT_GE(etagRequests.size(), 3u);
    EXPECT_EQ(etagRequests.back().Header("if-none-match"), "\"v1\"");
    EXPECT_EQ(etagRequests.back().Header("if-modified-since"), "Mon, 07 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(etagRequests.back().Header("user-agent").rfind("Ferrovane/", 0), 0u);
    EXPECT_EQ(server.Requests("/d.txt").back().Header("if-modified-since"), "Sun, 06 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(etagRequests.front().Header("if-none-match"), "");

    ASSERT_EQ(Run({"update", "--force"}), kExitGood) << err.str();
    EXPECT_EQ(server.Requests("/e.p2p").back().Header("if-none-match"), "");
    // Fetched whole, the same list is still no change.
    EXPECT_NE(out.str().find("2 ranges (unchanged)"), std::string::npos) << out.str();
    EXPECT_EQ(Merged(), before);

    // A copy that went missing is fetched whole again, not asked about.
    std::filesystem::remove_all(context.paths.copiesDir);
    ASSERT_EQ(Run({"update"}), kExitGood) << err.str();
    EXPECT_EQ(server.Requests("/e.p2p").back().Header("if-none-match"), "");
    EXPECT_EQ(Merged(), before);
}

TEST_F(ListsCommandTest, CompressedDatAndCidrListsAndARedirect) {
    const std::string dat =
        "001.000.000.000 - 001.000.000.255 , 000 , Dat blocked\n"
        "003.000.000.000 - 003.000.000.255 , 200 , Dat allowed\n";
    server.Serve("/list.bin", Ok(fv::test::Gzip(dat)));
    server.Serve("/cidr", Ok(fv::test::Zip("inner/list.txt", "# cidr\n4.4.0.0/16\n2001:db8::/32\n2001:db8:1::1\n")));
    HttpReply moved;
    moved.status = 302;
    moved.headers = {{"Location", "/cidr"}};
    server.Serve("/old-cidr", moved);
    ASSERT_EQ(Run({"add", server.Url("/list.bin"), "--label", "dat"}), kExitGood) << err.str();
    ASSERT_EQ(Run({"add", server.Url("/old-cidr"), "--label", "cidr"}), kExitGood) << err.str();
    const auto loaded = Load();
    EXPECT_EQ(loaded.ranges, 2);
    EXPECT_EQ(loaded.Name(Ip(1, 0, 0, 9)), "Dat blocked");
    EXPECT_EQ(loaded.Name(Ip(3, 0, 0, 9)), "<miss>");
    EXPECT_EQ(loaded.Name(Ip(4, 4, 200, 1)), "cidr");
    ASSERT_EQ(Run({"list"}), kExitGood) << err.str();
    EXPECT_NE(out.str().find("1 ranges, 2 IPv6 entries not filtered"), std::string::npos) << out.str();
}

TEST_F(ListsCommandTest, EveryKindOfFailureKeepsTheLastGoodCopy) {
    server.Serve("/a.p2p", Ok(kListA));
    server.Serve("/b.txt", Ok("8.8.0.0/16\n"));
    ASSERT_EQ(Run({"add", server.Url("/a.p2p"), "--label", "A"}), kExitGood) << err.str();
    ASSERT_EQ(Run({"add", server.Url("/b.txt"), "--label", "B"}), kExitGood) << err.str();
    const std::string good = Merged();
    ASSERT_EQ(Load().ranges, 3);

    std::string junk(4096, '\0');
    std::mt19937 random(7);
    for (char& c : junk) c = static_cast<char>(random());
    std::string big;
    while (big.size() <= kTestCap) big += "Filler range here:10.0.0.0-10.0.0.255\n";
    HttpReply truncated = Ok(kListA);
    truncated.sendOnly = 20;
    HttpReply stall;
    stall.stall = true;
    HttpReply error500 = Ok("oops");
    error500.status = 500;
    HttpReply missing = Ok("gone");
    missing.status = 404;
    HttpReply toFile;
    toFile.status = 302;
    fv::test::WriteFile(dir / "local.p2p", "Read from the disk:9.9.9.9-9.9.9.9\n");
    toFile.headers = {{"Location", "file://" + dir / "local.p2p"}};
    HttpReply loop;
    loop.status = 302;
    loop.headers = {{"Location", "/a.p2p"}};
    const std::string gzipped = fv::test::Gzip(kListA);
    struct Case {
        const char* name;
        HttpReply reply;
    };
    const Case cases[] = {
        {"500", error500},
        {"time-out", stall},
        {"truncated", truncated},
        {"over the cap", Ok(big)},
        {"unpacks over the cap", Ok(fv::test::Gzip(big))},
        {"binary junk", Ok(junk)},
        {"error page", Ok("<html>\n<body>\n<h1>Maintenance</h1>\n</body>\n</html>\n")},
        {"damaged gzip", Ok(gzipped.substr(0, gzipped.size() / 2))},
        {"empty", Ok("")},
        {"not found", missing},
        {"redirect to a local file", toFile},
        {"endless redirects", loop},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.Serve("/a.p2p", c.reply);
        context.fetch.timeoutMs = c.reply.stall ? 300 : 60 * 1000;
        clock += kHour;
        EXPECT_EQ(Run({"update"}), kExitProblem);
        EXPECT_NE(err.str().find("A: "), std::string::npos) << err.str();
        EXPECT_EQ(err.str().find("B: "), std::string::npos) << err.str();
        EXPECT_EQ(Merged(), good);
        EXPECT_EQ(Load().ranges, 3);
        EXPECT_EQ(Run({"list"}), kExitProblem);
        EXPECT_NE(out.str().find("last error: "), std::string::npos) << out.str();
    }
    server.Serve("/a.p2p", Ok("Alpha three:5.0.0.0-5.0.0.1\n"));
    EXPECT_EQ(Run({"update"}), kExitGood) << err.str();
    EXPECT_EQ(Load().ranges, 2);
    EXPECT_EQ(Run({"list"}), kExitGood) << out.str();
}

TEST_F(ListsCommandTest, AFirstFetchThatFailsLeavesTheProgramsTableUntilAListArrives) {
    ASSERT_TRUE(fv::registry::SetString(fv::registry::Hive::CurrentUser, kSettingsKey, "IPDB", "/home/me/ridozeru.p2p"));
    HttpReply down = Ok("down");
    down.status = 503;
    server.Serve("/a.p2p", down);
    EXPECT_EQ(Run({"add", server.Url("/a.p2p")}), kExitProblem);
    EXPECT_NE(err.str().find("HTTP status 503"), std::string::npos) << err.str();
    EXPECT_FALSE(std::filesystem::exists(context.paths.mergedFile));
    EXPECT_EQ(Ipdb(), "/home/me/ridozeru.p2p");

    // A list the IPv4 filter cannot use is good, but gives the program nothing to load.
    server.Serve("/a.p2p", Ok("2001:db8::/32\n"));
    ASSERT_EQ(Run({"update"}), kExitGood) << err.str();
    EXPECT_EQ(Ipdb(), "/home/me/ridozeru.p2p");

    server.Serve("/a.p2p", Ok(kListA));
    ASSERT_EQ(Run({"update"}), kExitGood) << err.str();
    EXPECT_EQ(Ipdb(), context.paths.mergedFile);
    EXPECT_EQ(Load().ranges, 2);
}

TEST_F(ListsCommandTest, ScheduledRunsFetchOnlyDueSourcesAndBackOffAfterFailures) {
    server.Serve("/a.p2p", Ok(kListA));
    ASSERT_EQ(Run({"add", server.Url("/a.p2p"), "--every", "12h"}), kExitGood) << err.str();
    auto requests = [&] { return server.Requests("/a.p2p").size(); };
    ASSERT_EQ(requests(), 1u);
    clock += 11 * kHour;
    EXPECT_EQ(Run({"update", "--scheduled"}), kExitGood) << err.str();
    EXPECT_EQ(requests(), 1u);
    EXPECT_EQ(Run({"list"}), kExitGood);
    EXPECT_NE(out.str().find(", 2 ranges"), std::string::npos) << out.str();
    EXPECT_EQ(Run({"update"}), kExitGood);  // by hand: at once
    EXPECT_EQ(requests(), 2u);

    HttpReply down = Ok("x");
    down.status = 500;
    server.Serve("/a.p2p", down);
    clock += 12 * kHour;
    EXPECT_EQ(Run({"update", "--scheduled"}), kExitProblem);
    EXPECT_EQ(requests(), 3u);
    clock += kFirstRetrySeconds - 1;
    EXPECT_EQ(Run({"update", "--scheduled"}), kExitProblem);  // still failing, not asked again
    EXPECT_EQ(requests(), 3u);
    clock += 1;
    server.Serve("/a.p2p", Ok(kListA));
    EXPECT_EQ(Run({"update", "--scheduled"}), kExitGood) << err.str();
    EXPECT_EQ(requests(), 4u);
}

TEST_F(ListsCommandTest, EnableAndDisableInstallTheUserTimer) {
    const std::string bin = dir / "bin";
    const std::string log = dir / "systemctl.log";
    std::filesystem::create_directories(bin);
    fv::test::WriteFile(bin + "/systemctl", "#!/bin/sh\necho \"$*\" >> '" + log + "'\nexit ${FAKE_SYSTEMCTL_STATUS:-0}\n");
    std::filesystem::permissions(bin + "/systemctl", std::filesystem::perms::owner_all);
    struct PathGuard {
        std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
        ~PathGuard() {
            ::setenv("PATH", saved.c_str(), 1);
            ::unsetenv("FAKE_SYSTEMCTL_STATUS");
        }
    } guard;
    ::setenv("PATH", (bin + ":" + guard.saved).c_str(), 1);

    ASSERT_EQ(Run({"enable"}), kExitGood) << err.str();
    const std::string service = fv::test::ReadFile(context.paths.unitDir + "/ferrovane-lists.service");
    EXPECT_NE(service.find("ExecStart=\"/opt/fv dir/ferrovane-lists\" update --scheduled\n"), std::string::npos)
        << service;
    EXPECT_TRUE(std::filesystem::exists(context.paths.unitDir + "/ferrovane-lists.timer"));
    EXPECT_EQ(fv::test::ReadFile(log), "--user daemon-reload\n--user enable --now ferrovane-lists.timer\n");

    ASSERT_EQ(Run({"disable"}), kExitGood) << err.str();
    EXPECT_FALSE(std::filesystem::exists(context.paths.unitDir + "/ferrovane-lists.service"));
    EXPECT_FALSE(std::filesystem::exists(context.paths.unitDir + "/ferrovane-lists.timer"));

    ::setenv("FAKE_SYSTEMCTL_STATUS", "1", 1);
    EXPECT_EQ(Run({"enable"}), kExitProblem);
    EXPECT_NE(err.str().find("systemctl --user daemon-reload failed"), std::string::npos) << err.str();
}

TEST_F(ListsCommandTest, CommandLinesThatAreNotUnderstood) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"fetch"}, {"add"}, {"add", "ftp://x/y"}, {"add", "x", "--every", "5m"},
                                               {"add", "x", "--label", "a\nb"}, {"update", "--now"}, {"list", "x"}}) {
        EXPECT_EQ(Run(args), kExitUsage) << (args.empty() ? "" : args[0]);
    }
    EXPECT_FALSE(std::filesystem::exists(context.paths.configFile));
}

}  // namespace
