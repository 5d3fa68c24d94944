#include "fv_lists/Schedule.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fv_lists/FileIo.h"

extern char** environ;

namespace fv::lists {
namespace {

// How often the timer looks for due sources; the sources' own periods are longer.
constexpr char kCheckInterval[] = "15min";
constexpr char kFirstCheck[] = "2min";
constexpr char kJitter[] = "5min";

// systemd splits ExecStart= at spaces unless quoted; backslashes and quotes are escaped.
std::string QuoteForUnit(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '%') out += '%';  // a specifier otherwise
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string ServiceUnitText(const std::string& program) {
    return "[Unit]\n"
           "Description=Ferrovane blocklist update\n"
           "After=network-online.target\n"
           "\n"
           "[Service]\n"
           "Type=oneshot\n"
           "ExecStart=" + QuoteForUnit(program) + " update --scheduled\n"
           "Nice=10\n";
}

std::string TimerUnitText() {
    return std::string("[Unit]\n"
                       "Description=Ferrovane blocklist updates on schedule\n"
                       "\n"
                       "[Timer]\n"
                       "OnStartupSec=") + kFirstCheck + "\n"
           "OnUnitActiveSec=" + kCheckInterval + "\n"
           "RandomizedDelaySec=" + kJitter + "\n"
           "\n"
           "[Install]\n"
           "WantedBy=timers.target\n";
}

bool RunSystemctl(const std::vector<std::string>& args, std::string& error) {
    std::vector<std::string> words = {"systemctl", "--user"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) {
        error = std::string("cannot run systemctl: ") + std::strerror(spawned);
        return false;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            error = "cannot wait for systemctl";
            return false;
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    std::string command;
    for (const std::string& word : words) command += (command.empty() ? "" : " ") + word;
    error = command + " failed (status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
    return false;
}

bool EnableSchedule(const std::string& unitDir, const std::string& program, std::string& error) {
    return WriteFileAtomically(unitDir + "/" + kServiceUnit, ServiceUnitText(program), error) &&
           WriteFileAtomically(unitDir + "/" + kTimerUnit, TimerUnitText(), error) &&
           RunSystemctl({"daemon-reload"}, error) && RunSystemctl({"enable", "--now", kTimerUnit}, error);
}

bool DisableSchedule(const std::string& unitDir, std::string& error) {
    // Stopped before its files go, so that the manager does not keep a timer without a unit.
    std::string stopError;
    const bool stopped = RunSystemctl({"disable", "--now", kTimerUnit}, stopError);
    for (const char* unit : {kTimerUnit, kServiceUnit}) {
        const std::string path = unitDir + "/" + unit;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            error = "cannot remove " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!RunSystemctl({"daemon-reload"}, error)) return false;
    if (!stopped) error = stopError;
    return stopped;
}

}  // namespace fv::lists
