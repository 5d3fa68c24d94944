// One HTTP(S) download with libcurl: certificates checked against the system's store,
// conditional on the validators of the copy held, limited in time, size and redirects.
#pragma once

#include <cstddef>
#include <string>

namespace fv::lists {

inline constexpr std::size_t kDefaultMaxListBytes = std::size_t{256} << 20;

struct FetchOptions {
    long timeoutMs = 10 * 60 * 1000;        // the whole transfer
    long connectTimeoutMs = 30 * 1000;
    std::size_t maxBytes = kDefaultMaxListBytes;  // of the body and of what it unpacks to
    long maxRedirects = 5;
};

struct FetchRequest {
    std::string url;
    // Sent as If-None-Match and If-Modified-Since when not empty.
    std::string etag;
    std::string lastModified;
};

struct FetchResult {
    enum class Outcome { Fresh, NotModified, Failed };
    Outcome outcome = Outcome::Failed;
    std::string body;
    std::string etag;          // of a fresh body, as the server sent them
    std::string lastModified;
    std::string error;         // when failed
};

// Once per process, before any fetch starts (libcurl's global set-up is not thread-safe).
void InitFetching();
// The User-Agent every request carries.
std::string UserAgent();

FetchResult Fetch(const FetchRequest& request, const FetchOptions& options);

}  // namespace fv::lists
