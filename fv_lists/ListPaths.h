// Where the lists live: the subscriptions in the user's configuration folder, the merged file,
// the state and the last good copies in the user's data folder, and the timer's units.
#pragma once

#include <string>

namespace fv::lists {

struct ListPaths {
    std::string configFile;  // $XDG_CONFIG_HOME/ferrovane/lists.conf
    std::string mergedFile;  // $XDG_DATA_HOME/ferrovane/lists.p2p
    std::string stateFile;   // $XDG_DATA_HOME/ferrovane/lists.state
    std::string lockFile;    // $XDG_DATA_HOME/ferrovane/lists.lock
    std::string copiesDir;   // $XDG_DATA_HOME/ferrovane/lists.d
    std::string unitDir;     // $XDG_CONFIG_HOME/systemd/user

    // From the XDG variables (defaults ~/.config and ~/.local/share).
    static ListPaths FromEnvironment();
    // All under one configuration and one data folder.
    static ListPaths Under(const std::string& configHome, const std::string& dataHome);

    // The last good copy of the source at `location`.
    std::string CopyFile(const std::string& location) const;
};

}  // namespace fv::lists
