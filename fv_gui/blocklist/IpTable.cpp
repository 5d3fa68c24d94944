#include "fv_gui/blocklist/IpTable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "fv_gui/blocklist/LongLine.h"
#include "fv_gui/blocklist/PrintableText.h"
#include "fv_platform/UniqueFd.h"

namespace fv {

namespace {

constexpr std::size_t kMinEntryLength = kMinEntryLineLength;
constexpr std::size_t kReadChunk = std::size_t{1} << 20;
constexpr std::size_t kKeptWhole = 50;
constexpr std::size_t kCutLength = 48;
constexpr char kCutMark[] = "...";
constexpr std::size_t kCutMarkLength = sizeof kCutMark - 1;
static_assert(kCutLength + kCutMarkLength == kMaxDescriptionLength);
// A line held whole always leaves most of the chunk to read into, so the chunk never grows.
static_assert(kMaxHeldLineLength < kReadChunk);
constexpr std::size_t kBucketThreshold = 4096;
// A large store's buckets are keyed by the high bits of an address.
constexpr unsigned kBucketShift = 16;
constexpr std::uint32_t kBucketCount = std::uint32_t{1} << kBucketShift;
// Room set aside up front is for at most this many entries; more grow it.
constexpr std::size_t kExpectedEntriesLimit = std::size_t{1} << 20;

// Whole entries that a buffer of `bufferSize` bytes holds after its count. The trailing bytes
// are not counted against it; the session's buffer has room for them even when full.
constexpr std::size_t EntryCapacity(std::size_t bufferSize) {
    return bufferSize >= sizeof(RangeTable) ? (bufferSize - sizeof(RangeTable)) / sizeof(RangeEntry)
                                            : 0;
}
static_assert(RangeTableImageSize(EntryCapacity(kSessionRangeBufferSize)) <=
              kSessionRangeBufferSize);
// The store's text offsets are 32 bits.
static_assert(EntryCapacity(kSessionRangeBufferSize) * kMaxDescriptionLength <=
              std::numeric_limits<std::uint32_t>::max());

// Where a prepared description lies in the loader's text buffer, packed in one word per entry:
// the offset above the length.
struct TextPlace {
    std::size_t offset;
    std::size_t length;
};
constexpr unsigned kTextLengthBits = 6;
constexpr std::uint64_t kTextLengthMask = (std::uint64_t{1} << kTextLengthBits) - 1;
static_assert(kMaxDescriptionLength <= kTextLengthMask);
// A load makes fewer than 2^32 entries (the count is 32 bits), so no offset reaches past the bits
// above the length.
static_assert(((std::uint64_t{1} << 32) * kMaxDescriptionLength) >> (64 - kTextLengthBits) == 0);
constexpr std::uint64_t PackText(std::size_t offset, std::size_t length) {
    return (static_cast<std::uint64_t>(offset) << kTextLengthBits) | length;
}
constexpr TextPlace UnpackText(std::uint64_t packed) {
    return {static_cast<std::size_t>(packed >> kTextLengthBits),
            static_cast<std::size_t>(packed & kTextLengthMask)};
}

// Bytes that are written over before they are read: growing does not clear them.
class RawBuffer {
public:
    char* Data() { return data_.get(); }
    const char* Data() const { return data_.get(); }
    std::size_t Capacity() const { return capacity_; }
    // Keeps the first `keep` bytes.
    void Grow(std::size_t capacity, std::size_t keep) {
        if (capacity <= capacity_) return;
        std::unique_ptr<char[]> grown(new char[capacity]);
        if (keep > 0) std::memcpy(grown.get(), data_.get(), keep);
        data_ = std::move(grown);
        capacity_ = capacity;
    }

private:
    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0;
};

// The file, read a large chunk at a time into one reused buffer; the start of a line that goes
// on past the chunk moves to the front. The caller leaves less than a chunk unconsumed.
class ChunkReader {
public:
    explicit ChunkReader(std::size_t chunk) { buffer_.Grow(chunk, 0); }
    const char* Begin() const { return buffer_.Data() + begin_; }
    const char* End() const { return buffer_.Data() + end_; }
    void Consume(const char* upTo) { begin_ = static_cast<std::size_t>(upTo - buffer_.Data()); }
    // Reads more after what is left unconsumed: the bytes read, 0 at the end, -1 on failure.
    long Fill(int fd) {
        const std::size_t left = end_ - begin_;
        if (begin_ > 0) {
            std::memmove(buffer_.Data(), buffer_.Data() + begin_, left);
            begin_ = 0;
            end_ = left;
        }
        for (;;) {
            const ssize_t got = ::read(fd, buffer_.Data() + end_, buffer_.Capacity() - end_);
            if (got < 0 && errno == EINTR) continue;
            if (got > 0) end_ += static_cast<std::size_t>(got);
            return static_cast<long>(got);
        }
    }

private:
    RawBuffer buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// Dotted-decimal text as the loader reads it: the first 16 characters, split at the first
// three dots, each field in wrapping 32-bit arithmetic with nothing checked.
inline std::uint32_t ParseDotted(const char* text, std::size_t size) {
    const std::size_t length = std::min(size, kAddressTextLength);
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

// Writes the stored form of a description to `out` (room for kMaxDescriptionLength): CR and
// LF removed; over 50 characters: 48 and "..."; then other control characters replaced.
// Returns its length.
std::size_t PrepareDescription(const char* description, std::size_t length, char* out) {
    // Most descriptions are plain ASCII in what is kept: copied whole or cut.
    const std::size_t window = std::min(length, kMaxDescriptionLength);
    if (IsPrintableAscii(description, window)) {
        if (length <= kKeptWhole) {
            std::memcpy(out, description, length);
            return length;
        }
        std::memcpy(out, description, kCutLength);
        std::memcpy(out + kCutLength, kCutMark, kCutMarkLength);
        return kCutLength + kCutMarkLength;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < length && kept < kMaxDescriptionLength; ++i) {
        const char c = description[i];
        if (c != '\r' && c != '\n') out[kept++] = c;
    }
    if (kept > kKeptWhole) {
        std::memcpy(out + kCutLength, kCutMark, kCutMarkLength);
        kept = kCutLength + kCutMarkLength;
    }
    // After the cut, so that a character it splits cannot leave a control byte behind.
    return ReplaceControlCharacters(out, kept);
}

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

// Room to set aside up front: for every entry that can fit, or for as many as the file can hold
// lines.
std::size_t ExpectedEntries(int file, std::size_t capacity) {
    std::size_t expected = capacity;
    struct stat status {};
    if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode)) {
        expected = std::min<std::size_t>(
            expected, static_cast<std::size_t>(status.st_size) / kMinEntryLength + 1);
    }
    return std::min(expected, kExpectedEntriesLimit);
}

// The entries of one load in file order: each is written to the range table image at once, its
// prepared description (at most kMaxDescriptionLength bytes) to one text buffer.
class EntryCollector {
public:
    EntryCollector(RangeTable* ranges, std::size_t capacity, std::size_t expected)
        : ranges_(ranges),
          entries_(reinterpret_cast<RangeEntry*>(ranges + 1)),
          capacity_(capacity) {
        descriptions_.reserve(expected);
        texts_.Grow(std::max<std::size_t>(expected, 1) * kMaxDescriptionLength, 0);
    }
    bool Full() const { return ranges_->count >= capacity_; }
    // A line without its line end; one that is no entry is skipped: shorter than
    // kMinEntryLength, no ':', or no '-' after the last ':'. The description may hold ':' and '-'.
    void AddLine(const char* line, std::size_t length) {
        if (length < kMinEntryLength) return;
        const char* colon = static_cast<const char*>(::memrchr(line, ':', length));
        if (colon == nullptr) return;
        const char* const rest = colon + 1;
        const char* const end = line + length;
        const char* dash =
            static_cast<const char*>(::memrchr(rest, '-', static_cast<std::size_t>(end - rest)));
        if (dash == nullptr) return;
        Append({line, static_cast<std::size_t>(colon - line)},
               ParseDotted(rest, static_cast<std::size_t>(dash - rest)),
               ParseDotted(dash + 1, static_cast<std::size_t>(end - dash - 1)));
    }
    // The entry of a line that was read in pieces.
    void Add(const LongLine::Entry& line) {
        Append(line.description, ParseDotted(line.first.data(), line.first.size()),
               ParseDotted(line.last.data(), line.last.size()));
    }

    std::uint64_t AddressCount() const { return addressCount_; }
    // Per entry, where its description lies in Texts() (PackText).
    const std::vector<std::uint64_t>& Descriptions() const { return descriptions_; }
    const char* Texts() const { return texts_.Data(); }
    void Release() {
        descriptions_ = {};
        texts_ = {};
    }

private:
    void Append(std::string_view description, std::uint32_t a, std::uint32_t b) {
        const std::uint32_t first = std::min(a, b);
        const std::uint32_t span = std::max(a, b) - first;
        entries_[ranges_->count] = RangeEntry{first, span};
        ++ranges_->count;
        addressCount_ += static_cast<std::uint64_t>(span) + 1;

        if (texts_.Capacity() - textsUsed_ < kMaxDescriptionLength) {
            texts_.Grow(texts_.Capacity() * 2, textsUsed_);
        }
        const std::size_t kept = PrepareDescription(description.data(), description.size(),
                                                    texts_.Data() + textsUsed_);
        descriptions_.push_back(PackText(textsUsed_, kept));
        textsUsed_ += kept;
    }

    RangeTable* ranges_;
    RangeEntry* entries_;
    std::size_t capacity_;
    std::uint64_t addressCount_ = 0;
    std::vector<std::uint64_t> descriptions_;
    RawBuffer texts_;
    std::size_t textsUsed_ = 0;
};

// Hands `entries` the lines that end in [p, end) while the image has room; returns where the
// first line not handed over starts.
inline const char* AddWholeLines(const char* p, const char* end, EntryCollector& entries) {
    while (p < end && !entries.Full()) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (lf == nullptr) break;
        std::size_t length = static_cast<std::size_t>(lf - p);
        if (length > 0 && p[length - 1] == '\r') --length;
        entries.AddLine(p, length);
        p = lf + 1;
    }
    return p;
}

// Hands every line of the file to `entries` until its end or until the image is full; false
// when a read fails. LF ends a line, a CR just before it belongs to the line end; a last line
// without LF is taken as it stands.
bool ReadLines(int file, EntryCollector& entries) {
    ChunkReader reader(kReadChunk);
    LongLine longLine;
    bool inLongLine = false;
    auto endLongLine = [&](bool atLineFeed) {
        inLongLine = false;
        if (const auto texts = longLine.Finish(atLineFeed)) entries.Add(*texts);
    };
    while (!entries.Full()) {
        const long got = reader.Fill(file);
        if (got < 0) return false;
        if (got == 0) {
            if (inLongLine) {
                endLongLine(false);
            } else if (reader.Begin() < reader.End()) {
                entries.AddLine(reader.Begin(),
                                static_cast<std::size_t>(reader.End() - reader.Begin()));
            }
            return true;
        }
        const char* p = reader.Begin();
        const char* const end = reader.End();
        if (inLongLine) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
            longLine.Feed(p, static_cast<std::size_t>((lf != nullptr ? lf : end) - p));
            p = end;
            if (lf != nullptr) {
                endLongLine(true);
                p = lf + 1;
            }
        }
        p = AddWholeLines(p, end, entries);
        // The rest is the start of a line; one too long to hold is taken in pieces from here.
        if (!entries.Full() && static_cast<std::size_t>(end - p) >= kMaxHeldLineLength) {
            inLongLine = true;
            longLine.Feed(p, static_cast<std::size_t>(end - p));
            p = end;
        }
        reader.Consume(p);
    }
    return true;
}

// The entries as (first << 32 | index) values, sorted by first; equal firsts keep file order.
std::vector<std::uint64_t> OrderByFirst(const RangeEntry* entries, std::size_t count) {
    std::vector<std::uint64_t> order(count);
    for (std::size_t i = 0; i < count; ++i) {
        order[i] = (static_cast<std::uint64_t>(entries[i].first) << 32) | i;
    }
    SortByFirst(order);
    return order;
}

// One slot per distinct first, in key order, and the slot of each entry.
struct Slots {
    std::vector<std::uint32_t> key;
    std::vector<std::uint32_t> of;
};

Slots AssignSlots(const std::vector<std::uint64_t>& order) {
    Slots slots;
    slots.of.resize(order.size());
    for (const std::uint64_t value : order) {
        const std::uint32_t first = static_cast<std::uint32_t>(value >> 32);
        if (slots.key.empty() || slots.key.back() != first) slots.key.push_back(first);
        slots.of[static_cast<std::uint32_t>(value)] =
            static_cast<std::uint32_t>(slots.key.size() - 1);
    }
    return slots;
}

// The slots that keep a description, and whose.
struct KeptDescriptions {
    SlotSet stored;
    std::vector<std::uint32_t> line;  // the entry whose description a slot keeps
    std::vector<std::uint32_t> last;  // the last address of that entry's range
    std::size_t count = 0;
    std::size_t textSize = 0;
};

// Decided in file order: a description is kept only when no description kept before covers its
// first address; for first 0.0.0.0 (never covered) a later one replaces it.
KeptDescriptions ChooseDescriptions(const RangeEntry* entries, const Slots& slots,
                                    const std::vector<std::uint64_t>& descriptions) {
    const std::size_t slotCount = slots.key.size();
    KeptDescriptions kept{SlotSet(slotCount), std::vector<std::uint32_t>(slotCount),
                          std::vector<std::uint32_t>(slotCount)};
    for (std::size_t i = 0; i < slots.of.size(); ++i) {
        const RangeEntry& entry = entries[i];
        const std::uint32_t slot = slots.of[i];
        if (entry.first != 0) {
            const std::int64_t below = kept.stored.Predecessor(slot);
            if (below >= 0 && kept.last[below] >= entry.first) continue;  // covered: discarded
        }
        if (kept.stored.Test(slot)) {
            kept.textSize -= UnpackText(descriptions[kept.line[slot]]).length;  // replaced
        } else {
            ++kept.count;
        }
        kept.stored.Set(slot);
        kept.line[slot] = static_cast<std::uint32_t>(i);
        kept.last[slot] = entry.first + entry.span;
        kept.textSize += UnpackText(descriptions[i]).length;
    }
    return kept;
}

// Sorts the image's `count` entries by first. When the load made them all, they are laid out in
// `order`, the order of the ones made from `firstNew` on.
void SortImage(RangeEntry* entries, std::uint32_t firstNew, std::uint32_t count,
               const std::vector<std::uint64_t>& order) {
    if (firstNew == 0) {
        std::vector<RangeEntry> sorted(order.size());
        for (std::size_t k = 0; k < order.size(); ++k) {
            sorted[k] = entries[static_cast<std::uint32_t>(order[k])];
        }
        std::copy(sorted.begin(), sorted.end(), entries);
    } else {
        std::sort(entries, entries + count,
                  [](const RangeEntry& a, const RangeEntry& b) { return a.first < b.first; });
    }
}

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
    return ParseDotted(text.data(), text.size());
}

bool IpTable::Load(const std::string& path, RangeTable* ranges, std::size_t bufferSize) {
    if (ranges == nullptr) return false;
    rangeCount_ = 0;
    addressCount_ = 0;
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) return false;
    const std::uint32_t countBefore = ranges->count;
    try {
        return Read(file.Get(), ranges, bufferSize);
    } catch (const std::bad_alloc&) {
        // The machine is short of memory (or the buffer is far larger than any blocklist): the
        // load fails as an unreadable file does, and the program goes on without it.
        ranges->count = countBefore;
        rangeCount_ = 0;
        addressCount_ = 0;
        keys_ = {};
        records_ = {};
        arena_ = {};
        bucket_ = {};
        return false;
    }
}

bool IpTable::Read(int file, RangeTable* ranges, std::size_t bufferSize) {
    RangeEntry* const entries = reinterpret_cast<RangeEntry*>(ranges + 1);
    const std::uint32_t firstNew = ranges->count;
    const std::size_t capacity = EntryCapacity(bufferSize);
    EntryCollector collected(ranges, capacity, ExpectedEntries(file, capacity));
    const bool complete = ReadLines(file, collected);

    const std::size_t added = ranges->count - firstNew;
    rangeCount_ = static_cast<std::int32_t>(added);
    addressCount_ = collected.AddressCount();
    const std::vector<std::uint64_t> order = OrderByFirst(entries + firstNew, added);
    BuildStore(entries + firstNew, order, collected.Descriptions(), collected.Texts());
    collected.Release();
    SortImage(entries, firstNew, ranges->count, order);
    return complete;
}

void IpTable::BuildStore(const RangeEntry* entries, const std::vector<std::uint64_t>& order,
                         const std::vector<std::uint64_t>& descriptions, const char* texts) {
    Slots slots = AssignSlots(order);
    KeptDescriptions kept = ChooseDescriptions(entries, slots, descriptions);
    slots.of = {};

    keys_.clear();
    records_.clear();
    keys_.reserve(kept.count);
    records_.reserve(kept.count + 1);
    std::vector<std::uint32_t> lines;  // the kept lines in key order
    lines.reserve(kept.count);
    kept.stored.ForEach([&](std::size_t slot) {
        keys_.push_back(slots.key[slot]);
        records_.push_back(Record{kept.last[slot] - slots.key[slot], 0});
        lines.push_back(kept.line[slot]);
    });
    kept.last = {};
    GatherTexts(lines, descriptions, texts, kept.textSize);
    IndexBuckets();
}

void IpTable::GatherTexts(const std::vector<std::uint32_t>& lines,
                          const std::vector<std::uint64_t>& descriptions, const char* texts,
                          std::size_t textSize) {
    // The texts lie in file order and are gathered in key order: fetched ahead of their turn,
    // or each costs a miss in memory.
    constexpr std::size_t kAhead = 8;
    arena_.clear();
    arena_.resize(textSize);
    std::size_t arenaUsed = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k + 2 * kAhead < lines.size()) __builtin_prefetch(&descriptions[lines[k + 2 * kAhead]]);
        if (k + kAhead < lines.size()) {
            __builtin_prefetch(texts + UnpackText(descriptions[lines[k + kAhead]]).offset);
        }
        const TextPlace text = UnpackText(descriptions[lines[k]]);
        records_[k].text = static_cast<std::uint32_t>(arenaUsed);
        std::memcpy(arena_.data() + arenaUsed, texts + text.offset, text.length);
        arenaUsed += text.length;
    }
    records_.push_back(Record{0, static_cast<std::uint32_t>(arenaUsed)});
}

void IpTable::IndexBuckets() {
    // Small stores are searched whole; large ones start from the bucket of the high bits.
    bucket_.clear();
    if (keys_.size() < kBucketThreshold) return;
    bucket_.assign(kBucketCount + 1, 0);
    for (std::uint32_t key : keys_) ++bucket_[(key >> kBucketShift) + 1];
    for (std::uint32_t h = 0; h < kBucketCount; ++h) bucket_[h + 1] += bucket_[h];
}

std::int64_t IpTable::Find(std::uint32_t address) const {
    if (address == 0 || keys_.empty()) return -1;
    const std::uint32_t* const base = keys_.data();
    const std::uint32_t* bound;
    if (bucket_.empty()) {
        bound = std::upper_bound(base, base + keys_.size(), address);
    } else {
        const std::uint32_t high = address >> kBucketShift;
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
