// The rule text built from an interface's name: whatever the name holds, it reaches nft as one
// quoted string and iptables as one argument, or not at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fv_drv/ndis/nfqueue/RuleText.h"

namespace {

using namespace std::string_literals;
using namespace ndis::nfqueue_media;

std::vector<std::string> SplitAtQuotes(const std::string& text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == '"') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// The script's text outside its quoted strings, with our table's name put as "T".
std::string Frame(const std::vector<std::string>& parts, const std::string& rulesName) {
    std::string frame;
    for (std::size_t i = 0; i < parts.size(); i += 2) {
        std::string part = parts[i];
        for (std::size_t at; (at = part.find(rulesName)) != std::string::npos;) {
            part.replace(at, rulesName.size(), "T");
        }
        frame += part + '|';
    }
    return frame;
}

TEST(RuleText, PlainNameGivesTheWholeScriptAndArguments) {
    EXPECT_EQ(NftQueueScript("eth0", 65535),
              "add table ip ferrovane-eth0; "
              "add chain ip ferrovane-eth0 incoming"
              " { type filter hook prerouting priority mangle; policy accept; }; "
              "add chain ip ferrovane-eth0 outgoing"
              " { type filter hook postrouting priority mangle; policy accept; }; "
              "add rule ip ferrovane-eth0 incoming iifname \"eth0\" queue num 65535 bypass; "
              "add rule ip ferrovane-eth0 outgoing oifname \"eth0\" queue num 65535 bypass");
    EXPECT_EQ(IptablesQueueRule("eth0", 0),
              (std::vector<std::string>{"ferrovane-eth0", "-j", "NFQUEUE", "--queue-num", "0",
                                        "--queue-bypass"}));
    EXPECT_EQ(IptablesJump(kJumps[0], "eth0"),
              (std::vector<std::string>{"PREROUTING", "-i", "eth0", "-j", "ferrovane-eth0"}));
    EXPECT_EQ(IptablesJump(kJumps[1], "eth0"),
              (std::vector<std::string>{"POSTROUTING", "-o", "eth0", "-j", "ferrovane-eth0"}));
}

// Names that would end the quoted string, split the line, make a pattern of the name or be
// cut short by the kernel.
TEST(RuleText, NamesThatWouldBreakOutOfTheTextAreRefused) {
    const std::string refused[] = {
        "",
        "eth0\"; flush ruleset; \"",
        "a\"b",
        "a\\",
        "a'b",
        "a b",
        "a\nadd",
        "a\tb",
        "a\rb",
        "a\0b"s,
        "a\x7f",
        "a\x80",
        "eth+",
        "eth*",
        "!eth0",
        "a/b",
        "a:b",
        "a=b",
        ".",
        "..",
        "abcdefghijklmnop",  // one past the longest interface name
    };
    for (const std::string& name : refused) {
        EXPECT_FALSE(AttachableName(name)) << name;
        EXPECT_EQ(NftQueueScript(name, 1), std::nullopt) << name;
    }
}

// Characters that mean something to nft outside a string, or to iptables' option parser,
// stay inside the one string or the one argument they were given as.
TEST(RuleText, OddNamesStayOneQuotedStringAndOneArgument) {
    const std::string reference = "eth0";
    const std::string referenceFrame =
        Frame(SplitAtQuotes(*NftQueueScript(reference, 7)), RulesName(reference));
    const std::string names[] = {
        "a;b", "x;add", "a{b}", "a}b", "#c", "$v", "@set", "-j", "--help", "-", "a,b", "(a)",
        "a[0]", "a|b", "a&b", "a<b>", "a?b", "a^b", "a`b", "a~b", "a%b", "a.b", "0",
        "ferrovane-eth0", "abcdefghijklmno",  // the longest interface name
        "#$%&(),-.;<>?@[", "]^_`{|}~#$%&(),",
    };
    for (const std::string& name : names) {
        ASSERT_TRUE(AttachableName(name)) << name;
        const std::optional<std::string> script = NftQueueScript(name, 7);
        ASSERT_TRUE(script.has_value()) << name;
        const std::vector<std::string> parts = SplitAtQuotes(*script);
        ASSERT_EQ(parts.size(), 5u) << *script;
        EXPECT_EQ(parts[1], name);
        EXPECT_EQ(parts[3], name);
        EXPECT_EQ(Frame(parts, RulesName(name)), referenceFrame) << *script;

        for (const auto& jump : kJumps) {
            const std::vector<std::string> args = IptablesJump(jump, name);
            ASSERT_EQ(args.size(), 5u) << name;
            EXPECT_EQ(args[1], jump.side);
            EXPECT_EQ(args[2], name);
            EXPECT_EQ(args[4], RulesName(name));
        }
        EXPECT_EQ(IptablesQueueRule(name, 7).front(), RulesName(name));
    }
}

}  // namespace
