// A blocklist line too long to hold in memory, taken in pieces as it is read. Only what the
// line's entry needs is kept: the first characters of its description (CR not counted) and the
// first characters of each address text, so a line of any length costs the same few bytes and
// gives the entry the whole line would give.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "fv_gui/blocklist/IpTable.h"

namespace fv {

class LongLine {
public:
    struct Entry {
        std::string_view description;  // CR removed; longer than kMaxDescriptionLength - 1
                                       // exactly when the line's description is
        std::string_view first;        // the first address text, up to kAddressTextLength
        std::string_view last;         // the same for the last address text
    };

    // The next piece of the line (no LF in it).
    void Feed(const char* data, std::size_t size);
    // Ends the line, at an LF (`atLineFeed`: a CR just before it is not part of the line) or at
    // the end of the file; the entry, or nullopt when the line is not one. The views are valid
    // until the next Feed. The line is assumed long enough to be an entry.
    std::optional<Entry> Finish(bool atLineFeed);

private:
    void Take(const char* data, std::size_t size);
    void Colon();
    void AfterColon(const char* data, std::size_t size);

    // The line's first characters that are not CR.
    char head_[kMaxDescriptionLength];
    std::size_t headLength_ = 0;
    bool pendingCr_ = false;  // the last byte fed was a CR; it may be the line end's
    // Since the last ':' (a line without one is no entry).
    bool colon_ = false;
    std::size_t descriptionLength_ = 0;  // of head_, the part before that ':'
    std::size_t sinceColon_ = 0;         // bytes after it, counted up to kAddressTextLength
    char first_[kAddressTextLength];
    // Since the last '-' after that ':'.
    bool dash_ = false;
    std::size_t firstLength_ = 0;
    char last_[kAddressTextLength];
    std::size_t lastLength_ = 0;
};

}  // namespace fv
