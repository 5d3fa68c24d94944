// One blocklist of one driver session: the `p2p` loader that fills the driver's range table
// image, the range counters, and the description store that turns an address back into the
// description of its blocklist line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fv_contract/RangeImage.h"

namespace fv {

// A description of a stored range: at most 51 characters (48 and "..." when cut).
inline constexpr std::size_t kMaxDescriptionLength = 51;
// What callers write where a description would go when the lookup misses.
inline constexpr const char kDescriptionLookupFailed[] =
    "Overlapped values in IP list! Description lookup failed.";
// The buffer the driver session hands to Load: the count and 524,280 entries.
inline constexpr std::size_t kSessionRangeBufferSize = 4194250;
// Load skips a line shorter than this.
inline constexpr std::size_t kMinEntryLineLength = 19;
// ParseAddress reads at most this many characters of an address text.
inline constexpr std::size_t kAddressTextLength = 16;
// How much of a blocklist line that goes on past what has been read Load holds; a longer one is
// read through in pieces (it still gives its entry), so a hostile file cannot make the loader's
// memory grow with it.
inline constexpr std::size_t kMaxHeldLineLength = std::size_t{64} << 10;

// Host-order address as dotted text: four decimal numbers without leading zeros.
std::string FormatDottedAddress(std::uint32_t address);

class IpTable {
public:
    IpTable();
    ~IpTable();
    IpTable(const IpTable&) = delete;
    IpTable& operator=(const IpTable&) = delete;

    // Reads the blocklist at `path`, appending one RangeEntry per entry line to `ranges` (its
    // count set to 0 by the caller) while one more entry fits in `bufferSize` bytes, builds the
    // description store in file order and sorts the entries by first. Control characters in a
    // description are stored as '?' (see PrintableText.h). Returns false without doing anything
    // when `ranges` is null; false also when the file cannot be opened or memory runs out
    // (nothing loaded), or a read fails (the entries read so far stay, sorted). Call once.
    [[nodiscard]] bool Load(const std::string& path, RangeTable* ranges, std::size_t bufferSize);

    // Dotted-decimal text to a host-order value, exactly as the loader computes it: the first
    // 16 characters, split at the first three dots, each field in wrapping 32-bit arithmetic.
    static std::uint32_t ParseAddress(std::string_view text);

    std::int32_t RangeCount() const { return rangeCount_; }
    std::uint64_t AddressCount() const { return addressCount_; }
    // Number of descriptions in the store.
    std::size_t StoredCount() const { return keys_.size(); }

    // True when the nearest stored record at or below `address` holds it (never for 0).
    bool Covers(std::uint32_t address) const { return Find(address) >= 0; }
    // On a hit copies the description into `description` and returns true; `description` is
    // left alone on a miss.
    bool LookupName(std::uint32_t address, std::string& description) const;
    std::optional<std::string> LookupName(std::uint32_t address) const;
    // The description as a view into the store (valid while the table lives).
    std::optional<std::string_view> FindDescription(std::uint32_t address) const;

private:
    struct Record {
        std::uint32_t span;
        std::uint32_t text;  // offset of the description in the arena; it ends where the next
                             // record's begins (records_ has one sentinel at the end)
    };
    static_assert(sizeof(Record) == 8);
    bool Read(int file, RangeTable* ranges, std::size_t bufferSize);
    // The store from the `order.size()` entries made by this load, `order` sorting them by
    // first; `descriptions` places each one's prepared description in `texts`.
    void BuildStore(const RangeEntry* entries, const std::vector<std::uint64_t>& order,
                    const std::vector<std::uint64_t>& descriptions, const char* texts);
    // The arena from the descriptions of `lines`, in key order; sets each record's text.
    void GatherTexts(const std::vector<std::uint32_t>& lines,
                     const std::vector<std::uint64_t>& descriptions, const char* texts,
                     std::size_t textSize);
    void IndexBuckets();
    // Index of the record found for `address`, or -1.
    std::int64_t Find(std::uint32_t address) const;
    std::string_view TextOf(std::size_t index) const {
        const std::uint32_t begin = records_[index].text;
        return {arena_.data() + begin, records_[index + 1].text - begin};
    }

    std::int32_t rangeCount_ = 0;
    std::uint64_t addressCount_ = 0;
    // The store, read-only after Load: sorted keys, their records, and the text arena.
    std::vector<std::uint32_t> keys_;
    std::vector<Record> records_;
    std::vector<char> arena_;
    // bucket_[h] = index of the first key whose high 16 bits are >= h (65,537 entries); empty
    // for small stores.
    std::vector<std::uint32_t> bucket_;
};

}  // namespace fv
