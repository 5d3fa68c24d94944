#include "fv_lists/ListsCommand.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>

#include "fv_gui/settings/RegistryValue.h"
#include "fv_gui/settings/Settings.h"
#include "fv_lists/FileIo.h"
#include "fv_lists/ListState.h"
#include "fv_lists/Schedule.h"
#include "fv_lists/SourceConfig.h"
#include "fv_lists/Updater.h"
#include "fv_platform/UniqueFd.h"

namespace fv::lists {
namespace {

constexpr std::size_t kMaxConfigBytes = std::size_t{1} << 20;
constexpr char kIpdbName[] = "IPDB";
constexpr char kUsage[] =
    "usage: ferrovane-lists add URL|PATH [--every PERIOD] [--label TEXT]\n"
    "       ferrovane-lists remove URL|PATH|LABEL\n"
    "       ferrovane-lists list\n"
    "       ferrovane-lists update [--force] [--scheduled]\n"
    "       ferrovane-lists enable | disable\n"
    "PERIOD: a number and m, h or d (at least 1h; default 24h)\n";

class Run {
public:
    explicit Run(const CommandContext& context) : c_(context), out_(*context.out), err_(*context.err) {}

    int Main(const std::vector<std::string>& args) {
        if (args.empty()) return Usage("");
        const std::string& verb = args[0];
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (verb == "add") return Add(rest);
        if (verb == "remove") return rest.size() == 1 ? Remove(rest[0]) : Usage("remove takes one source");
        if (verb == "list") return rest.empty() ? List() : Usage("list takes no arguments");
        if (verb == "update") return Update(rest);
        if (verb == "enable" || verb == "disable") {
            if (!rest.empty()) return Usage(verb + " takes no arguments");
            return Schedule(verb == "enable");
        }
        return Usage("unknown command \"" + verb + "\"");
    }

private:
    int Usage(const std::string& problem) {
        if (!problem.empty()) err_ << "ferrovane-lists: " << problem << "\n";
        err_ << kUsage;
        return kExitUsage;
    }

    int Fail(const std::string& problem) {
        err_ << "ferrovane-lists: " << problem << "\n";
        return kExitProblem;
    }

    // Updates and edits of the subscriptions run one at a time (the timer may start one).
    bool Lock(std::string& error) {
        if (!MakeDirectories(std::filesystem::path(c_.paths.lockFile).parent_path().string(), error)) return false;
        lock_.Reset(::open(c_.paths.lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!lock_.Valid()) {
            error = "cannot open " + c_.paths.lockFile + ": " + std::strerror(errno);
            return false;
        }
        while (::flock(lock_.Get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                error = "cannot lock " + c_.paths.lockFile + ": " + std::strerror(errno);
                return false;
            }
        }
        return true;
    }

    std::optional<std::vector<Source>> LoadSources() {
        std::string text, error;
        if (::access(c_.paths.configFile.c_str(), F_OK) != 0) return std::vector<Source>{};
        if (!ReadWholeFile(c_.paths.configFile, kMaxConfigBytes, text, error)) {
            Fail(error);
            return std::nullopt;
        }
        ConfigError bad;
        auto sources = ParseSources(text, bad);
        if (!sources) Fail(c_.paths.configFile + " line " + std::to_string(bad.line) + ": " + bad.message);
        return sources;
    }

    bool SaveSources(const std::vector<Source>& sources) {
        std::string error;
        if (WriteFileAtomically(c_.paths.configFile, FormatSources(sources), error)) return true;
        Fail(error);
        return false;
    }

    static bool HasControl(const std::string& text) {
        return std::any_of(text.begin(), text.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
    }

    int Add(const std::vector<std::string>& args) {
        Source source;
        std::string location;
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if ((arg == "--every" || arg == "--label") && i + 1 == args.size()) return Usage(arg + " needs a value");
            if (arg == "--every") {
                const auto period = ParsePeriod(args[++i]);
                if (!period) return Usage("bad period \"" + args[i] + "\"");
                source.periodSeconds = *period;
            } else if (arg == "--label") {
                source.label = args[++i];
                if (HasControl(source.label)) return Usage("the label holds a control character");
            } else if (location.empty() && !arg.empty() && (arg[0] != '-' || arg == "-")) {
                location = arg;
            } else {
                return Usage("unexpected \"" + arg + "\"");
            }
        }
        if (location.empty()) return Usage("add needs a URL or a path");
        if (HasControl(location)) return Usage("the location holds a control character");
        source.location = location;
        if (!source.IsUrl()) {
            if (location.find("://") != std::string::npos) return Usage("only http:// and https:// URLs are fetched");
            source.location = std::filesystem::absolute(location).lexically_normal().string();
        }

        std::string error;
        if (!Lock(error)) return Fail(error);
        auto sources = LoadSources();
        if (!sources) return kExitProblem;
        if (FindSource(*sources, source.location) >= 0) return Fail(source.location + " is already subscribed");
        if (!source.label.empty() && FindSource(*sources, source.label) >= 0) {
            return Fail("another source has the label \"" + source.label + "\"");
        }
        const bool first = sources->empty();
        sources->push_back(source);
        if (!SaveSources(*sources)) return kExitProblem;
        out_ << "Subscribed to " << source.location << " (every " << FormatPeriod(source.periodSeconds) << ").\n";
        return UpdateAndReport(*sources, {}, first);
    }

    int Remove(const std::string& key) {
        std::string error;
        if (!Lock(error)) return Fail(error);
        auto sources = LoadSources();
        if (!sources) return kExitProblem;
        int index = FindSource(*sources, key);
        // A file may be named as the user reaches it from here.
        if (index < 0 && !key.empty() && key.find("://") == std::string::npos) {
            index = FindSource(*sources, std::filesystem::absolute(key).lexically_normal().string());
        }
        if (index < 0) return Fail("no source \"" + key + "\"");
        const Source removed = (*sources)[static_cast<std::size_t>(index)];
        sources->erase(sources->begin() + index);
        if (!SaveSources(*sources)) return kExitProblem;
        ::unlink(c_.paths.CopyFile(removed.location).c_str());
        out_ << "Unsubscribed from " << removed.location << ".\n";
        UpdateOptions options;
        options.offline = true;
        // What the other sources' earlier failures are does not make the removal fail.
        (void)UpdateAndReport(*sources, options, false);
        return kExitGood;
    }

    int Update(const std::vector<std::string>& args) {
        UpdateOptions options;
        for (const std::string& arg : args) {
            if (arg == "--force") options.force = true;
            else if (arg == "--scheduled") options.scheduled = true;
            else return Usage("unexpected \"" + arg + "\"");
        }
        std::string error;
        if (!Lock(error)) return Fail(error);
        auto sources = LoadSources();
        if (!sources) return kExitProblem;
        if (sources->empty()) {
            out_ << "No sources: add one with ferrovane-lists add URL.\n";
            return kExitGood;
        }
        return UpdateAndReport(*sources, options, false);
    }

    int UpdateAndReport(const std::vector<Source>& sources, UpdateOptions options, bool firstSource) {
        options.now = c_.now();
        options.fetch = c_.fetch;
        const bool hadRanges = LoadState(c_.paths).merge.ranges > 0;
        const UpdateReport report = UpdateLists(sources, c_.paths, options);
        for (const Source& source : sources) {
            const SourceState* s = report.state.Find(source.location);
            if (s != nullptr && !options.offline && s->lastSuccess == options.now) {
                out_ << source.DisplayName() << ": " << s->ranges << " ranges"
                     << (s->lastChange == options.now ? "" : " (unchanged)") << "\n";
            }
        }
        if (report.mergedWritten) {
            out_ << "Wrote " << c_.paths.mergedFile << ": " << report.state.merge.ranges << " ranges.\n";
        }
        int status = report.AllGood() ? kExitGood : kExitProblem;
        for (const std::string& problem : report.problems) err_ << "ferrovane-lists: " << problem << "\n";
        // The program is pointed at the merged file when the first source comes, or when the
        // file first holds ranges (the first source's first fetch may have failed); never at a
        // file without ranges, which would take the table the program has away.
        if ((firstSource || !hadRanges) && report.state.merge.ranges > 0 &&
            ::access(c_.paths.mergedFile.c_str(), R_OK) == 0) {
            if (!PointProgramAtMergedFile()) status = kExitProblem;
        }
        return status;
    }

    bool PointProgramAtMergedFile() {
        RegistryString ipdb(std::string(kSettingsKey) + kIpdbName, "");
        if (ipdb.Unreadable()) {
            Fail("the program's settings cannot be read: IPDB is left as it is");
            return false;
        }
        const std::string before = ipdb.Found() ? ipdb.LastValue() : std::string();
        if (ipdb.Found() && before == c_.paths.mergedFile) return true;
        if (!ipdb.Set(c_.paths.mergedFile)) {
            Fail("cannot write the program's IPDB setting");
            return false;
        }
        out_ << "The program now loads its IP table from " << c_.paths.mergedFile << " (setting IPDB";
        if (!before.empty()) out_ << ", was " << before;
        out_ << ").\n";
        return true;
    }

    int List() {
        auto sources = LoadSources();
        if (!sources) return kExitProblem;
        if (sources->empty()) {
            out_ << "No sources: add one with ferrovane-lists add URL.\n";
            return kExitGood;
        }
        const ListsState state = LoadState(c_.paths);
        const std::int64_t now = c_.now();
        bool good = true;
        for (const Source& source : *sources) {
            const SourceState* s = state.Find(source.location);
            out_ << source.DisplayName() << "\n  " << source.location << "\n  every "
                 << FormatPeriod(source.periodSeconds);
            if (s == nullptr || s->lastSuccess == 0) {
                out_ << ", never updated";
                good = false;
            } else {
                out_ << ", last success " << FormatAge(s->lastSuccess, now) << ", changed "
                     << FormatAge(s->lastChange, now) << ", " << s->ranges << " ranges";
                if (s->ipv6 > 0) out_ << ", " << s->ipv6 << " IPv6 entries not filtered";
                if (IsStale(source, s, now)) out_ << ", STALE";
            }
            out_ << "\n";
            if (s != nullptr && !s->lastError.empty()) {
                out_ << "  last error: " << s->lastError << "\n";
                good = false;
            }
        }
        out_ << "merged: " << c_.paths.mergedFile;
        if (state.merge.built != 0) {
            out_ << ", " << state.merge.ranges << " ranges, built " << FormatAge(state.merge.built, now);
            if (state.merge.joined) out_ << ", overlapping ranges joined";
            if (state.merge.dropped > 0) {
                out_ << ", " << state.merge.dropped << " ranges LEFT OUT (too many for the program)";
                good = false;
            }
        } else {
            out_ << ", not built yet";
        }
        out_ << "\n";
        return good ? kExitGood : kExitProblem;
    }

    int Schedule(bool enable) {
        std::string error;
        if (enable) {
            if (!EnableSchedule(c_.paths.unitDir, c_.program, error)) return Fail(error);
            out_ << "Scheduled updates on: " << kTimerUnit << " checks every source against its period.\n";
        } else {
            if (!DisableSchedule(c_.paths.unitDir, error)) return Fail(error);
            out_ << "Scheduled updates off.\n";
        }
        return kExitGood;
    }

    const CommandContext& c_;
    std::ostream& out_;
    std::ostream& err_;
    UniqueFd lock_;
};

}  // namespace

int RunListsCommand(const std::vector<std::string>& args, const CommandContext& context) {
    return Run(context).Main(args);
}

}  // namespace fv::lists
