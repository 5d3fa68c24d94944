#include "fv_gui/blocklist/IpTable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fv_platform/UniqueFd.h"

namespace fv {

namespace {

constexpr std::size_t kMinEntryLength = 19;
constexpr std::size_t kParsedLength = 16;
constexpr std::size_t kReadChunk = std::size_t{1} << 20;
constexpr std::size_t kKeptWhole = 50;
constexpr std::size_t kCutLength = 48;
constexpr std::size_t kBucketThreshold = 4096;

// Stable LSD radix sort of (first << 32 | line) values by their high 32 bits.
void SortByFirst(std::vector<std::uint64_t>& values) {
    std::vector<std::uint64_t> scratch(values.size());
    constexpr int kBits = 11;
    constexpr std::uint32_t kBuckets = 1u << kBits;
    for (int shift = 32; shift < 64; shift += kBits) {
        std::vector<std::size_t> counts(kBuckets + 1, 0);
        for (std::uint64_t v : values) ++counts[((v >> shift) & (kBuckets - 1)) + 1];
        if (counts[((values.empty() ? 0 : values[0]) >> shift & (kBuckets - 1)) + 1] ==
            values.size()) {
            continue;  // every value has the same digit here
        }
        for (std::uint32_t b = 0; b < kBuckets; ++b) counts[b + 1] += counts[b];
        for (std::uint64_t v : values) scratch[counts[(v >> shift) & (kBuckets - 1)]++] = v;
        values.swap(scratch);
    }
}

// Which slots (distinct keys, in key order) hold a stored record; answers "greatest set slot
// at or below s" in a few word operations per level.
class SlotSet {
public:
    explicit SlotSet(std::size_t size) {
        std::size_t n = size;
        do {
            n = (n + 63) / 64;
            levels_.emplace_back(n, 0);
        } while (n > 1);
    }
    void Set(std::size_t slot) {
        for (auto& level : levels_) {
            level[slot / 64] |= std::uint64_t{1} << (slot % 64);
            slot /= 64;
        }
    }
    bool Test(std::size_t slot) const {
        return (levels_[0][slot / 64] >> (slot % 64)) & 1u;
    }
    // Greatest set slot <= slot, or -1.
    std::int64_t Predecessor(std::size_t slot) const {
        std::size_t level = 0;
        std::size_t pos = slot;
        // Climb until a word holds a set bit at or below the position.
        for (;;) {
            const std::uint64_t word = levels_[level][pos / 64];
            const unsigned bit = pos % 64;
            const std::uint64_t masked = word & (bit == 63 ? ~std::uint64_t{0}
                                                            : ((std::uint64_t{1} << (bit + 1)) - 1));
            if (masked != 0) {
                pos = (pos / 64) * 64 + (63 - static_cast<unsigned>(__builtin_clzll(masked)));
                break;
            }
            if (pos / 64 == 0 || level + 1 == levels_.size()) return -1;
            // Nothing here: continue from the word before, one level up.
            pos = pos / 64 - 1;
            ++level;
        }
        // Descend, taking the highest set bit of each word below.
        while (level > 0) {
            --level;
            const std::uint64_t word = levels_[level][pos];
            pos = pos * 64 + (63 - static_cast<unsigned>(__builtin_clzll(word)));
        }
        return static_cast<std::int64_t>(pos);
    }
    template <typename F>
    void ForEach(F&& f) const {
        const auto& bits = levels_[0];
        for (std::size_t w = 0; w < bits.size(); ++w) {
            std::uint64_t word = bits[w];
            while (word != 0) {
                f(w * 64 + static_cast<unsigned>(__builtin_ctzll(word)));
                word &= word - 1;
            }
        }
    }

private:
    std::vector<std::vector<std::uint64_t>> levels_;
};

}  // namespace

std::string FormatDottedAddress(std::uint32_t address) {
    char text[20];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFFu,
                  (address >> 8) & 0xFFu, address & 0xFFu);
    return text;
}

IpTable::IpTable() = default;
IpTable::~IpTable() = default;

std::uint32_t IpTable::ParseAddress(std::string_view text) {
    const std::size_t length = std::min(text.size(), kParsedLength);
    std::uint32_t fields[4] = {0, 0, 0, 0};
    unsigned field = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '.' && field < 3) {
            ++field;
            continue;
        }
        fields[field] = fields[field] * 10u + (static_cast<std::uint32_t>(c) - '0');
    }
    return (((((fields[0] << 8) | fields[1]) << 8) | fields[2]) << 8) | fields[3];
}

bool IpTable::Load(const std::string& path, RangeTable* ranges, std::size_t bufferSize) {
    if (ranges == nullptr) return false;
    rangeCount_ = 0;
    addressCount_ = 0;
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) return false;

    RangeEntry* const entries = reinterpret_cast<RangeEntry*>(ranges + 1);
    const std::uint32_t firstNew = ranges->count;
    auto fits = [&] {
        return 4 + (static_cast<std::uint64_t>(ranges->count) + 1) * 8 <= bufferSize;
    };

    // Per entry made here: where its prepared description lies in `texts` (offset << 6 | length).
    std::vector<std::uint64_t> descriptions;
    std::vector<char> texts;

    auto addLine = [&](const char* line, std::size_t length) {
        if (length < kMinEntryLength) return;
        const char* colon = static_cast<const char*>(::memrchr(line, ':', length));
        if (colon == nullptr) return;
        const char* rest = colon + 1;
        const std::size_t restLength = static_cast<std::size_t>(line + length - rest);
        const char* dash = static_cast<const char*>(::memrchr(rest, '-', restLength));
        if (dash == nullptr) return;
        const std::uint32_t a =
            ParseAddress({rest, static_cast<std::size_t>(dash - rest)});
        const std::uint32_t b =
            ParseAddress({dash + 1, static_cast<std::size_t>(line + length - dash - 1)});
        const std::uint32_t first = std::min(a, b);
        const std::uint32_t span = std::max(a, b) - first;
        ++rangeCount_;
        entries[ranges->count] = RangeEntry{first, span};
        ++ranges->count;
        addressCount_ += static_cast<std::uint64_t>(span) + 1;

        // Description: CR and LF removed; over 50 characters: 48 and "...".
        const std::size_t offset = texts.size();
        const std::size_t descriptionLength = static_cast<std::size_t>(colon - line);
        char kept[kMaxDescriptionLength];
        std::size_t keptLength = 0;
        for (std::size_t i = 0; i < descriptionLength && keptLength < kMaxDescriptionLength; ++i) {
            const char c = line[i];
            if (c != '\r' && c != '\n') kept[keptLength++] = c;
        }
        if (keptLength > kKeptWhole) {
            keptLength = kCutLength;
            kept[keptLength++] = '.';
            kept[keptLength++] = '.';
            kept[keptLength++] = '.';
        }
        texts.insert(texts.end(), kept, kept + keptLength);
        descriptions.push_back((static_cast<std::uint64_t>(offset) << 6) | keptLength);
    };

    // Read line by line: LF ends a line, a CR just before it belongs to the line end.
    bool readFailed = false;
    {
        // A small file needs no full-size chunk (its size is only a hint: reading goes on to
        // the end whatever it says).
        std::size_t chunkSize = kReadChunk;
        struct stat status {};
        if (::fstat(file.Get(), &status) == 0 && S_ISREG(status.st_mode) &&
            static_cast<std::uint64_t>(status.st_size) < kReadChunk) {
            chunkSize = std::max<std::size_t>(static_cast<std::size_t>(status.st_size) + 1, 4096);
        }
        std::vector<char> chunk(chunkSize);
        std::string carry;  // the start of a line that continues in the next chunk
        bool full = !fits();
        auto deliver = [&](const char* line, std::size_t length) {
            if (length > 0 && line[length - 1] == '\r') --length;
            addLine(line, length);
            full = !fits();
        };
        while (!full) {
            const ssize_t got = ::read(file.Get(), chunk.data(), chunk.size());
            if (got < 0) {
                if (errno == EINTR) continue;
                readFailed = true;
                break;
            }
            if (got == 0) {
                if (!carry.empty()) {
                    addLine(carry.data(), carry.size());  // a last line without a line end
                }
                break;
            }
            const char* p = chunk.data();
            const char* const end = p + got;
            while (p < end && !full) {
                const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
                if (lf == nullptr) {
                    carry.append(p, end);
                    break;
                }
                if (carry.empty()) {
                    deliver(p, static_cast<std::size_t>(lf - p));
                } else {
                    carry.append(p, lf);
                    deliver(carry.data(), carry.size());
                    carry.clear();
                }
                p = lf + 1;
            }
        }
    }

    // The store, built in file order: a description is kept only when no record kept before
    // covers its first address; for first 0.0.0.0 (never covered) a later one replaces it.
    const std::size_t added = ranges->count - firstNew;
    std::vector<std::uint64_t> order(added);
    for (std::size_t i = 0; i < added; ++i) {
        order[i] = (static_cast<std::uint64_t>(entries[firstNew + i].first) << 32) | i;
    }
    SortByFirst(order);

    std::vector<std::uint32_t> slotKey;
    std::vector<std::uint32_t> slotOf(added);
    for (std::size_t k = 0; k < added; ++k) {
        const std::uint32_t first = static_cast<std::uint32_t>(order[k] >> 32);
        if (slotKey.empty() || slotKey.back() != first) slotKey.push_back(first);
        slotOf[static_cast<std::uint32_t>(order[k])] = static_cast<std::uint32_t>(slotKey.size() - 1);
    }
    SlotSet stored(slotKey.size());
    std::vector<std::uint32_t> storedLine(slotKey.size());
    for (std::size_t i = 0; i < added; ++i) {
        const RangeEntry& entry = entries[firstNew + i];
        const std::uint32_t slot = slotOf[i];
        if (entry.first != 0) {
            const std::int64_t below = stored.Predecessor(slot);
            if (below >= 0 && slotKey[below] + entries[firstNew + storedLine[below]].span >= entry.first) {
                continue;  // covered by a stored record: the description is discarded
            }
        }
        stored.Set(slot);
        storedLine[slot] = static_cast<std::uint32_t>(i);
    }
    slotOf = {};

    std::size_t storedCount = 0;
    std::size_t storedText = 0;
    stored.ForEach([&](std::size_t slot) {
        ++storedCount;
        storedText += descriptions[storedLine[slot]] & 63u;
    });
    keys_.clear();
    records_.clear();
    arena_.clear();
    keys_.reserve(storedCount);
    records_.reserve(storedCount + 1);
    arena_.reserve(storedText);
    stored.ForEach([&](std::size_t slot) {
        const std::uint32_t line = storedLine[slot];
        const std::uint64_t text = descriptions[line];
        keys_.push_back(slotKey[slot]);
        records_.push_back(Record{entries[firstNew + line].span,
                                  static_cast<std::uint32_t>(arena_.size())});
        const char* begin = texts.data() + (text >> 6);
        arena_.insert(arena_.end(), begin, begin + (text & 63u));
    });
    records_.push_back(Record{0, static_cast<std::uint32_t>(arena_.size())});
    // Small stores are searched whole; large ones start from the bucket of the high 16 bits.
    bucket_.clear();
    if (keys_.size() >= kBucketThreshold) {
        bucket_.assign(65537, 0);
        for (std::uint32_t key : keys_) ++bucket_[(key >> 16) + 1];
        for (std::uint32_t h = 0; h < 65536; ++h) bucket_[h + 1] += bucket_[h];
    }
    texts = {};
    descriptions = {};

    // The range table image, sorted by first.
    if (firstNew == 0) {
        std::vector<RangeEntry> sorted(added);
        for (std::size_t k = 0; k < added; ++k) {
            sorted[k] = entries[static_cast<std::uint32_t>(order[k])];
        }
        std::copy(sorted.begin(), sorted.end(), entries);
    } else {
        std::sort(entries, entries + ranges->count,
                  [](const RangeEntry& a, const RangeEntry& b) { return a.first < b.first; });
    }
    return !readFailed;
}

std::int64_t IpTable::Find(std::uint32_t address) const {
    if (address == 0 || keys_.empty()) return -1;
    const std::uint32_t* const base = keys_.data();
    const std::uint32_t* bound;
    if (bucket_.empty()) {
        bound = std::upper_bound(base, base + keys_.size(), address);
    } else {
        const std::uint32_t high = address >> 16;
        bound = std::upper_bound(base + bucket_[high], base + bucket_[high + 1], address);
    }
    if (bound == base) return -1;
    const std::size_t index = static_cast<std::size_t>(bound - base) - 1;
    if (keys_[index] + records_[index].span < address) return -1;
    return static_cast<std::int64_t>(index);
}

std::optional<std::string_view> IpTable::FindDescription(std::uint32_t address) const {
    const std::int64_t index = Find(address);
    if (index < 0) return std::nullopt;
    return TextOf(static_cast<std::size_t>(index));
}

bool IpTable::LookupName(std::uint32_t address, std::string& description) const {
    const std::int64_t index = Find(address);
    if (index < 0) return false;
    const std::string_view text = TextOf(static_cast<std::size_t>(index));
    description.assign(text.data(), text.size());
    return true;
}

std::optional<std::string> IpTable::LookupName(std::uint32_t address) const {
    const std::int64_t index = Find(address);
    if (index < 0) return std::nullopt;
    return std::string(TextOf(static_cast<std::size_t>(index)));
}

}  // namespace fv
