#include "fv_lists/Fetcher.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <string_view>

#include "fv_gui/settings/Version.h"

namespace fv::lists {
namespace {

constexpr long kHttpOk = 200;
constexpr long kHttpNotModified = 304;

struct Transfer {
    std::string body;
    std::size_t maxBytes = 0;
    bool tooLarge = false;
    std::string etag;
    std::string lastModified;
};

std::string_view TrimHeader(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
        value.remove_suffix(1);
    }
    return value;
}

bool HeaderIs(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char a = line[i] >= 'A' && line[i] <= 'Z' ? static_cast<char>(line[i] - 'A' + 'a') : line[i];
        if (a != name[i]) return false;
    }
    return true;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (transfer->body.size() + bytes > transfer->maxBytes) {
        transfer->tooLarge = true;
        return 0;  // ends the transfer
    }
    transfer->body.append(data, bytes);
    return bytes;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    if (line.substr(0, 5) == "HTTP/") {
        // A new response (after a redirect): only the last one's validators count.
        transfer->etag.clear();
        transfer->lastModified.clear();
    } else if (HeaderIs(line, "etag")) {
        transfer->etag = TrimHeader(line.substr(5));
    } else if (HeaderIs(line, "last-modified")) {
        transfer->lastModified = TrimHeader(line.substr(14));
    }
    return size * count;
}

bool HasLineBreak(const std::string& value) { return value.find_first_of("\r\n") != std::string::npos; }

}  // namespace

void InitFetching() { curl_global_init(CURL_GLOBAL_DEFAULT); }

std::string UserAgent() {
    char text[64];
    std::snprintf(text, sizeof text, "Ferrovane/%d.%02d (ferrovane-lists)", kProgramVersionMajor,
                  kProgramVersionMinor);
    return text;
}

FetchResult Fetch(const FetchRequest& request, const FetchOptions& options) {
    FetchResult result;
    const std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        result.error = "cannot start libcurl";
        return result;
    }
    Transfer transfer;
    transfer.maxBytes = options.maxBytes;
    char curlError[CURL_ERROR_SIZE] = "";
    const std::string agent = UserAgent();
    const bool https = request.url.rfind("https://", 0) == 0;

    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    // An https source never continues over plain http.
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, options.maxRedirects);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, options.timeoutMs);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str());
    // Transfer compression is undone by libcurl; the size limit counts what it delivers.
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, curlError);

    curl_slist* headers = nullptr;
    // Validators come from an earlier response; one holding a line break is not sent.
    if (!request.etag.empty() && !HasLineBreak(request.etag)) {
        headers = curl_slist_append(headers, ("If-None-Match: " + request.etag).c_str());
    }
    if (!request.lastModified.empty() && !HasLineBreak(request.lastModified)) {
        headers = curl_slist_append(headers, ("If-Modified-Since: " + request.lastModified).c_str());
    }
    const std::unique_ptr<curl_slist, void (*)(curl_slist*)> headerList(headers, curl_slist_free_all);
    if (headers != nullptr) curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);

    const CURLcode code = curl_easy_perform(c);
    if (code != CURLE_OK) {
        if (transfer.tooLarge) {
            result.error = "the list is larger than " + std::to_string(options.maxBytes) + " bytes";
        } else {
            result.error = curlError[0] != '\0' ? curlError : curl_easy_strerror(code);
        }
        return result;
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status == kHttpNotModified && headers != nullptr) {
        result.outcome = FetchResult::Outcome::NotModified;
        return result;
    }
    if (status != kHttpOk) {
        result.error = "HTTP status " + std::to_string(status);
        return result;
    }
    result.outcome = FetchResult::Outcome::Fresh;
    result.body = std::move(transfer.body);
    result.etag = std::move(transfer.etag);
    result.lastModified = std::move(transfer.lastModified);
    return result;
}

}  // namespace fv::lists
