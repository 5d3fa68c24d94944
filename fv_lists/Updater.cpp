#include "fv_lists/Updater.h"

#include <unistd.h>

#include <algorithm>
#include <thread>

#include "fv_lists/FileIo.h"
#include "fv_lists/Merger.h"
#include "fv_lists/Unpack.h"

namespace fv::lists {
namespace {

// The state is a few lines per source.
constexpr std::size_t kMaxStateBytes = std::size_t{16} << 20;

struct Attempt {
    bool tried = false;
    bool good = false;        // fresh or unchanged
    bool fresh = false;       // a new body, parsed, in `body` and `list`
    std::string body;
    ParsedList list;
    std::string etag;
    std::string lastModified;
    std::string error;
};

// Fetches or reads one source, unpacks and parses it. Touches nothing but `attempt`.
void Try(const Source& source, const SourceState* state, const ListPaths& paths, const UpdateOptions& options,
         Attempt& attempt) {
    attempt.tried = true;
    std::string body;
    if (source.IsUrl()) {
        FetchRequest request;
        request.url = source.location;
        // Validators only stand for a copy that is still there.
        if (state != nullptr && !options.force && ::access(paths.CopyFile(source.location).c_str(), R_OK) == 0) {
            request.etag = state->etag;
            request.lastModified = state->lastModified;
        }
        FetchResult fetched = Fetch(request, options.fetch);
        if (fetched.outcome == FetchResult::Outcome::Failed) {
            attempt.error = std::move(fetched.error);
            return;
        }
        if (fetched.outcome == FetchResult::Outcome::NotModified) {
            attempt.good = true;
            attempt.etag = request.etag;
            attempt.lastModified = request.lastModified;
            return;
        }
        body = std::move(fetched.body);
        attempt.etag = std::move(fetched.etag);
        attempt.lastModified = std::move(fetched.lastModified);
    } else if (!ReadWholeFile(source.location, options.fetch.maxBytes, body, attempt.error)) {
        return;
    }
    if (!Unpack(body, options.fetch.maxBytes, attempt.error)) return;
    ParseList(body, attempt.list);
    attempt.error = RejectReason(attempt.list);
    if (!attempt.error.empty()) return;
    attempt.body = std::move(body);
    attempt.good = attempt.fresh = true;
}

}  // namespace

ListsState LoadState(const ListPaths& paths) {
    std::string text, error;
    if (!ReadWholeFile(paths.stateFile, kMaxStateBytes, text, error)) return {};
    return ParseState(text);
}

UpdateReport UpdateLists(const std::vector<Source>& sources, const ListPaths& paths, const UpdateOptions& options) {
    UpdateReport report;
    const ListsState previous = LoadState(paths);
    ListsState state;
    state.merge = previous.merge;
    for (const Source& source : sources) {
        const SourceState* old = previous.Find(source.location);
        state.sources.push_back(old != nullptr ? *old : SourceState{});
        state.sources.back().location = source.location;
    }

    // Every source at once: the run takes as long as its slowest source.
    std::vector<Attempt> attempts(sources.size());
    {
        std::vector<std::thread> workers;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const SourceState* old = previous.Find(sources[i].location);
            if (options.offline || (options.scheduled && !IsDue(sources[i], old, options.now))) continue;
            workers.emplace_back(Try, std::cref(sources[i]), old, std::cref(paths), std::cref(options),
                                 std::ref(attempts[i]));
        }
        for (std::thread& worker : workers) worker.join();
    }

    // A scheduled run that found nothing due leaves the merged file as it is, and spares
    // reading every copy again.
    const bool rebuild = !options.scheduled || ::access(paths.mergedFile.c_str(), F_OK) != 0 ||
                         std::any_of(attempts.begin(), attempts.end(), [](const Attempt& a) { return a.tried; });
    std::vector<ParsedList> copies(sources.size());
    std::vector<MergeInput> inputs;
    bool anyCopy = false;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const Source& source = sources[i];
        Attempt& attempt = attempts[i];
        SourceState& s = state.sources[i];
        const std::string copyFile = paths.CopyFile(source.location);
        // A server without validators sends the same list again: that is no change.
        bool changed = attempt.fresh;
        if (attempt.fresh) {
            std::string old, error;
            changed = !ReadWholeFile(copyFile, attempt.body.size(), old, error) || old != attempt.body;
        }
        if (changed && !WriteFileAtomically(copyFile, attempt.body, attempt.error)) {
            attempt.good = attempt.fresh = false;
        }
        if (attempt.tried) {
            s.lastAttempt = options.now;
            if (attempt.good) {
                s.lastSuccess = options.now;
                s.failures = 0;
                s.lastError.clear();
                s.etag = attempt.etag;
                s.lastModified = attempt.lastModified;
            } else {
                ++s.failures;
                s.lastError = attempt.error;
            }
        }
        ParsedList* list = &copies[i];
        bool have = false;
        if (attempt.fresh) {
            list = &attempt.list;
            if (changed) s.lastChange = options.now;
            have = true;
        } else if (!rebuild) {
            have = s.lastSuccess != 0 && ::access(copyFile.c_str(), R_OK) == 0;
        } else {
            std::string body, error;
            if (ReadWholeFile(copyFile, options.fetch.maxBytes, body, error)) {
                ParseList(body, *list);
                have = RejectReason(*list).empty();
            }
        }
        if (!rebuild) {
            // The counts of the last rebuild stand.
        } else if (have) {
            s.ranges = list->ranges.size();
            s.ipv6 = list->ipv6;
            inputs.push_back({list, source.DisplayName()});
            anyCopy = true;
        } else {
            s.ranges = s.ipv6 = 0;
        }
        if (!s.lastError.empty()) {
            report.problems.push_back(source.DisplayName() + ": " + s.lastError +
                                      (have ? " (its last good copy is used)" : ""));
        } else if (!have) {
            report.problems.push_back(source.DisplayName() + ": no good copy yet");
        }
    }

    // With no good copy anywhere the file the program loads stays as it is: a server that is
    // down never leaves the user with fewer ranges. With no sources at all it is emptied.
    if (rebuild && (anyCopy || sources.empty())) {
        const MergeResult merged = MergeLists(inputs);
        std::string existing, error;
        const bool same = ReadWholeFile(paths.mergedFile, merged.text.size(), existing, error) &&
                          existing == merged.text;
        if (!same) {
            if (WriteFileAtomically(paths.mergedFile, merged.text, error)) {
                report.mergedWritten = true;
                state.merge.built = options.now;
            } else {
                report.problems.push_back("merged file: " + error);
            }
        }
        if (same || report.mergedWritten) {
            state.merge.ranges = merged.ranges;
            state.merge.joined = merged.joined;
            state.merge.dropped = merged.dropped;
            if (state.merge.built == 0) state.merge.built = options.now;
        }
    }
    if (state.merge.dropped > 0) {
        report.problems.push_back("merged file: " + std::to_string(state.merge.dropped) +
                                  " ranges left out even after joining overlapping ones: the program "
                                  "takes at most " + std::to_string(MaxLoadedRanges()));
    }

    std::string error;
    if (!WriteFileAtomically(paths.stateFile, FormatState(state), error)) {
        report.problems.push_back("state: " + error);
    }
    report.state = std::move(state);
    return report;
}

}  // namespace fv::lists
