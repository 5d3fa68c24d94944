// Runs nft and iptables on the daemon's behalf. The tools are looked for in the system's own
// folders only, never through a search path the caller controls.
#pragma once

#include <string>
#include <vector>

namespace ndis::nfqueue_media {

struct ToolResult {
    int status = -1;
    std::string output;  // standard output and errors together
};

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnvironment = {});

// Where the lock of legacy iptables goes when the shared one cannot be used. Set before the
// first rule is added; the folder must be the daemon's own.
void SetIptablesLockFolder(const std::string& folder);

// iptables on the mangle table, in the variant the rules use: iptables-nft where it exists
// (it takes no lock file), else plain iptables.
ToolResult Iptables(std::vector<std::string> args);
// True when the rules iptables adds live in nftables' ruleset.
bool IptablesOnNftables();

// Where the rules use iptables-nft but legacy iptables' mangle table is in use too (an earlier
// run may have added rules there with a legacy iptables): runs legacy iptables on it.
// Status -1 where there is no such table or tool.
ToolResult LegacyIptablesBeside(std::vector<std::string> args);

}  // namespace ndis::nfqueue_media
