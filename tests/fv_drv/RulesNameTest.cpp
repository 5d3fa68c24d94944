// The names our rules go by: iptables refuses chain names over 28 characters and nft takes
// only words, yet every attachable interface, however it is spelt, needs a name of its own.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "fv_drv/ndis/nfqueue/QueueRules.h"

namespace {

using ndis::nfqueue_media::AttachableName;
using ndis::nfqueue_media::RulesName;

constexpr std::size_t kIptablesChainLimit = 28;
constexpr std::size_t kLongestInterfaceName = 15;

bool NftWord(const std::string& name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') return false;
    }
    return true;
}

std::string Attachable() {
    std::string all;
    for (char c = '!'; c <= '~'; ++c) {
        if (AttachableName(std::string(1, c))) all += c;
    }
    return all;
}

TEST(RulesName, EveryAttachableNameGetsAShortWordOfItsOwn) {
    const std::string alphabet = Attachable();
    std::mt19937 random(20261207);
    std::set<std::string> interfaces;
    // Single characters, the longest names of odd characters only, and names of every length
    // across the point where spelling them out stops fitting.
    for (char c : alphabet) interfaces.insert(std::string(1, c));
    for (char c : alphabet) interfaces.insert(std::string(kLongestInterfaceName, c));
    for (int i = 0; i < 4000; ++i) {
        std::string name(1 + random() % kLongestInterfaceName, ' ');
        for (char& c : name) c = alphabet[random() % alphabet.size()];
        if (name != "." && name != "..") interfaces.insert(name);
    }
    interfaces.insert("wlp0s20f3");
    interfaces.insert("enx00e04c680a1b");
    interfaces.insert("eth@0,1;2#3$4%5");

    std::set<std::string> names;
    for (const std::string& interface : interfaces) {
        ASSERT_TRUE(AttachableName(interface)) << interface;
        const std::string name = RulesName(interface);
        EXPECT_LE(name.size(), kIptablesChainLimit) << interface << " -> " << name;
        EXPECT_TRUE(NftWord(name)) << interface << " -> " << name;
        EXPECT_EQ(name.rfind("ferrovane", 0), 0u) << interface << " -> " << name;
        EXPECT_TRUE(names.insert(name).second) << interface << " shares " << name;
    }
}

// A run that crashed left rules under the names it used: the next one must find them.
TEST(RulesName, NamesThatFitKeepTheirEarlierSpelling) {
    EXPECT_EQ(RulesName("eth0"), "ferrovane-eth0");
    EXPECT_EQ(RulesName("enx00e04c680a1b"), "ferrovane-enx00e04c680a1b");
    EXPECT_EQ(RulesName("a@b"), "ferrovane_614062");
    EXPECT_EQ(RulesName("wlan@1234"), "ferrovane_776c616e4031323334");
}

}  // namespace
