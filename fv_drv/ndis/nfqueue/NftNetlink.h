// The few questions and changes the rules need from nftables, asked over netlink: nft itself
// cannot delete a chain or a table only when nothing is in it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace ndis::nfqueue_media::nft {

// The ruleset's generation: it moves with every change, whoever makes it.
std::optional<std::uint32_t> Generation();

bool TableExists(const std::string& table);

struct ChainState {
    bool exists = false;
    bool base = false;          // on a hook
    bool acceptPolicy = false;  // a base chain that lets what it does not judge pass
};
// nullopt when nftables could not be asked.
std::optional<ChainState> QueryChain(const std::string& table, const std::string& chain);

// Deletes an IPv4 chain (a table with an empty `chain`) in a transaction of its own that
// the kernel refuses when anything is still in it or refers to it. 0 or an errno value:
// EBUSY when it was not empty, ENOENT when it was not there.
int DeleteIfEmpty(const std::string& table, const std::string& chain = {});

// How many rules each chain of an IPv4 table holds; nullopt when the table is not there or
// nftables could not be asked.
std::optional<std::map<std::string, int>> RulesPerChain(const std::string& table);

}  // namespace ndis::nfqueue_media::nft
