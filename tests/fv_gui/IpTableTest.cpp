#include "fv_gui/blocklist/IpTable.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "tests/fv_gui/TestFiles.h"

namespace {

using fv::IpTable;

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

// A range buffer as the session allocates it.
class RangeBuffer {
public:
    explicit RangeBuffer(std::size_t size = fv::kSessionRangeBufferSize)
        : storage_((size + 7) / 8 + 1, 0), size_(size) {}
    RangeTable* Table() { return reinterpret_cast<RangeTable*>(storage_.data()); }
    std::size_t Size() const { return size_; }
    std::uint32_t Count() { return Table()->count; }
    const RangeEntry& At(std::size_t i) { return Table()->Entries()[i]; }

private:
    std::vector<std::uint64_t> storage_;
    std::size_t size_;
};

struct Loaded {
    fv::test::TempDir dir;
    RangeBuffer buffer;
    IpTable table;
    bool result = false;
    explicit Loaded(const std::string& text, std::size_t size = fv::kSessionRangeBufferSize)
        : buffer(size) {
        fv::test::WriteFile(dir / "list.p2p", text);
        result = table.Load(dir / "list.p2p", buffer.Table(), buffer.Size());
    }
    std::string Name(std::uint32_t address) {
        std::string description = "<miss>";
        table.LookupName(address, description);
        return description;
    }
};

// A plain model of the store: an ordered map built in file order, where the first range that
// covers an address keeps it.
class ReferenceStore {
public:
    bool Find(std::uint32_t address, std::string* description = nullptr) const {
        if (map_.empty() || address == 0) return false;
        auto it = map_.upper_bound(address);
        if (it == map_.begin()) return false;
        --it;
        if (it->first + it->second.first < address) return false;
        if (description != nullptr) *description = it->second.second;
        return true;
    }
    void Add(std::uint32_t first, std::uint32_t span, const std::string& description) {
        if (!Find(first)) map_[first] = {span, description};
    }
    std::size_t Size() const { return map_.size(); }

private:
    std::map<std::uint32_t, std::pair<std::uint32_t, std::string>> map_;
};

TEST(IpTableLoad, ExampleLines) {
    Loaded l("Some Org:10.0.0.1-10.0.0.9\n"
             "A:B:1.2.3.4-1.2.3.4\n"
             "x:1.1.1.1-1.1.1.2\n"
             "xyz:1.1.1.1-1.1.1.2\n"
             "Net:10.0.0.9-10.0.0.1\n");
    ASSERT_TRUE(l.result);
    EXPECT_EQ(l.buffer.Count(), 4u);
    EXPECT_EQ(l.table.RangeCount(), 4);
    EXPECT_EQ(l.table.AddressCount(), 9u + 1u + 2u + 9u);
    // Sorted: 1.1.1.1, 1.2.3.4, 10.0.0.1 (twice).
    EXPECT_EQ(l.buffer.At(0).first, Ip(1, 1, 1, 1));
    EXPECT_EQ(l.buffer.At(0).span, 1u);
    EXPECT_EQ(l.buffer.At(1).first, Ip(1, 2, 3, 4));
    EXPECT_EQ(l.buffer.At(1).span, 0u);
    EXPECT_EQ(l.buffer.At(2).first, Ip(10, 0, 0, 1));
    EXPECT_EQ(l.buffer.At(2).span, 8u);
    EXPECT_EQ(l.buffer.At(3).first, Ip(10, 0, 0, 1));
    EXPECT_EQ(l.buffer.At(3).span, 8u);
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 5)), "Some Org");  // Net starts at the same address: dropped
    EXPECT_EQ(l.Name(Ip(1, 2, 3, 4)), "A:B");
    EXPECT_EQ(l.Name(Ip(1, 1, 1, 2)), "xyz");
    EXPECT_EQ(l.table.StoredCount(), 3u);
}

TEST(IpTableLoad, DescriptionWithTwoColons) {
    Loaded l("a:b:c:10.1.1.1-10.1.1.2\n");
    EXPECT_EQ(l.Name(Ip(10, 1, 1, 1)), "a:b:c");
}

TEST(IpTableLoad, ColonWithoutDashAfterItIsSkipped) {
    Loaded l("some-thing-long:10.1.1.1 10.1.1.2\nfoo-bar-baz-qux-quux:\n");
    EXPECT_TRUE(l.result);
    EXPECT_EQ(l.buffer.Count(), 0u);
    EXPECT_EQ(l.table.RangeCount(), 0);
}

TEST(IpTableLoad, LongDescriptionsAreCut) {
    const std::string sixty(60, 'd');
    const std::string fifty(50, 'f');
    const std::string fiftyOne(51, 'g');
    Loaded l(sixty + ":1.0.0.1-1.0.0.1\n" + fifty + ":2.0.0.1-2.0.0.1\n" + fiftyOne +
             ":3.0.0.1-3.0.0.1\n");
    EXPECT_EQ(l.Name(Ip(1, 0, 0, 1)), std::string(48, 'd') + "...");
    EXPECT_EQ(l.Name(Ip(2, 0, 0, 1)), fifty);
    EXPECT_EQ(l.Name(Ip(3, 0, 0, 1)), std::string(48, 'g') + "...");
}

TEST(IpTableLoad, CarriageReturnsAreRemovedFromDescriptions) {
    Loaded l("ab\rcd:1.0.0.1-1.0.0.9\r\n" + std::string(49, 'e') + "\r\r:2.0.0.1-2.0.0.1\r\n");
    EXPECT_EQ(l.Name(Ip(1, 0, 0, 5)), "abcd");
    EXPECT_EQ(l.Name(Ip(2, 0, 0, 1)), std::string(49, 'e'));  // 49 once CRs are gone: whole
    EXPECT_EQ(l.Name(Ip(1, 0, 0, 9)), "abcd");                // CR LF is not part of the address
}

TEST(IpTableLoad, DuplicateLines) {
    Loaded l("First:10.0.0.1-10.0.0.9\nFirst:10.0.0.1-10.0.0.9\n");
    EXPECT_EQ(l.buffer.Count(), 2u);
    EXPECT_EQ(l.table.RangeCount(), 2);
    EXPECT_EQ(l.table.AddressCount(), 18u);
    EXPECT_EQ(l.table.StoredCount(), 1u);
}

TEST(IpTableLoad, LaterRangeStartingInsideAnEarlierOne) {
    Loaded l("Outer:10.0.0.1-10.0.0.100\nInner:10.0.0.50-10.0.0.200\n");
    EXPECT_EQ(l.buffer.Count(), 2u);
    EXPECT_EQ(l.table.StoredCount(), 1u);
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 60)), "Outer");
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 150)), "<miss>");
}

TEST(IpTableLoad, LaterRangeStartingBeforeAnEarlierOne) {
    Loaded l("A:10.0.0.10-10.0.0.20\nB:10.0.0.5-10.0.0.50\n");
    EXPECT_EQ(l.table.StoredCount(), 2u);
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 15)), "A");
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 7)), "B");
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 30)), "<miss>");  // B holds it, A is the nearest below
}

TEST(IpTableLoad, WholeAddressSpace) {
    Loaded l("Everything:0.0.0.0-255.255.255.255\n");
    EXPECT_EQ(l.table.AddressCount(), 4294967296ull);
    EXPECT_EQ(l.buffer.At(0).first, 0u);
    EXPECT_EQ(l.buffer.At(0).span, 0xFFFFFFFFu);
    EXPECT_EQ(l.Name(Ip(255, 255, 255, 255)), "Everything");
    EXPECT_EQ(l.Name(0), "<miss>");
}

TEST(IpTableLoad, FirstZeroIsReplacedByALaterLine) {
    Loaded l("Zero one:0.0.0.0-0.0.0.10\nZero two:0.0.0.0-0.0.0.20\n");
    EXPECT_EQ(l.table.StoredCount(), 1u);
    EXPECT_EQ(l.Name(Ip(0, 0, 0, 15)), "Zero two");
}

TEST(IpTableLoad, UnsortedFileGivesSortedTable) {
    Loaded l("c:30.0.0.1-30.0.0.2\na:10.0.0.1-10.0.0.2\nd:200.0.0.1-200.0.0.2\nb:20.0.0.1-20.0.0.2\n");
    ASSERT_EQ(l.buffer.Count(), 4u);
    for (std::uint32_t i = 1; i < 4; ++i) EXPECT_LT(l.buffer.At(i - 1).first, l.buffer.At(i).first);
    EXPECT_EQ(l.Name(Ip(200, 0, 0, 2)), "d");
}

TEST(IpTableLoad, EmptyFileAndNoEntries) {
    Loaded empty("");
    EXPECT_TRUE(empty.result);
    EXPECT_EQ(empty.buffer.Count(), 0u);
    EXPECT_EQ(empty.table.AddressCount(), 0u);
    EXPECT_EQ(empty.Name(Ip(1, 2, 3, 4)), "<miss>");
    Loaded none("# comment line without colon\n\nshort:1-2\n");
    EXPECT_TRUE(none.result);
    EXPECT_EQ(none.table.RangeCount(), 0);
}

TEST(IpTableLoad, AbsentBufferAndMissingFile) {
    IpTable table;
    EXPECT_FALSE(table.Load("/nonexistent", nullptr, 100));
    RangeBuffer buffer;
    EXPECT_FALSE(table.Load("/nonexistent/list.p2p", buffer.Table(), buffer.Size()));
    EXPECT_EQ(buffer.Count(), 0u);
}

TEST(IpTableLoad, LastLineWithoutLineEnd) {
    Loaded l("Tail:10.0.0.1-10.0.0.2");
    EXPECT_EQ(l.table.RangeCount(), 1);
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 2)), "Tail");
}

TEST(IpTableLoad, CapacityStopsReading) {
    // 600,000 entry lines; the ones after 524,280 lie in 200.0.0.0/8 and must not be seen.
    std::string text;
    text.reserve(600000 * 40);
    for (std::uint32_t i = 0; i < 600000; ++i) {
        const std::uint32_t first = i < 524280 ? Ip(1, 0, 0, 0) + i * 16 : Ip(200, 0, 0, 0) + i * 16;
        text += "Line " + std::to_string(i) + ":" + fv::FormatDottedAddress(first) + "-" +
                fv::FormatDottedAddress(first + 3) + "\n";
    }
    Loaded l(text);
    EXPECT_TRUE(l.result);
    EXPECT_EQ(l.buffer.Count(), 524280u);
    EXPECT_EQ(l.table.RangeCount(), 524280);
    EXPECT_EQ(l.table.AddressCount(), 524280u * 4u);
    EXPECT_EQ(l.Name(Ip(1, 0, 0, 0) + 524279 * 16 + 2), "Line 524279");
    EXPECT_EQ(l.Name(Ip(200, 0, 0, 0) + 524280 * 16), "<miss>");
}

TEST(IpTableLoad, BufferSmallerThanOneEntry) {
    Loaded l("Some Org:10.0.0.1-10.0.0.9\n", 11);
    EXPECT_TRUE(l.result);
    EXPECT_EQ(l.buffer.Count(), 0u);
    Loaded two("a line:1.0.0.1-1.0.0.2\nb line:2.0.0.1-2.0.0.2\nc line:3.0.0.1-3.0.0.2\n", 4 + 16);
    EXPECT_EQ(two.buffer.Count(), 2u);
    EXPECT_EQ(two.Name(Ip(3, 0, 0, 1)), "<miss>");
}

TEST(IpTableLookup, NearestRecordOnly) {
    Loaded l("R:10.0.0.1-10.0.0.9\n");
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 1)), "R");
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 9)), "R");
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 10)), "<miss>");
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 0)), "<miss>");
    EXPECT_EQ(l.Name(0), "<miss>");
    EXPECT_EQ(l.Name(Ip(9, 255, 255, 255)), "<miss>");
    EXPECT_EQ(l.Name(0xFFFFFFFFu), "<miss>");
    EXPECT_TRUE(l.table.Covers(Ip(10, 0, 0, 4)));
    EXPECT_FALSE(l.table.Covers(Ip(10, 0, 0, 10)));
    EXPECT_FALSE(l.table.LookupName(Ip(10, 0, 0, 10)).has_value());
    EXPECT_EQ(*l.table.FindDescription(Ip(10, 0, 0, 3)), "R");
}

TEST(IpTableParse, Addresses) {
    EXPECT_EQ(IpTable::ParseAddress("10.0.0.1"), Ip(10, 0, 0, 1));
    EXPECT_EQ(IpTable::ParseAddress("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(IpTable::ParseAddress(""), 0u);
    EXPECT_EQ(IpTable::ParseAddress("1.2.3"), Ip(1, 2, 3, 0));
    EXPECT_EQ(IpTable::ParseAddress("7"), Ip(7, 0, 0, 0));
    // Only the first 16 characters count.
    EXPECT_EQ(IpTable::ParseAddress("001.002.003.0045"), Ip(1, 2, 3, 45));
    EXPECT_EQ(IpTable::ParseAddress("001.002.003.00459"), Ip(1, 2, 3, 45));
    // Fields are ORed after shifting: 256 in the last field reaches into the third.
    EXPECT_EQ(IpTable::ParseAddress("0.0.1.256"), 0x100u | 0x100u);
    // Nothing is skipped: a blank counts as its code minus '0'.
    EXPECT_EQ(IpTable::ParseAddress(" 1.0.0.0"), ((static_cast<std::uint32_t>(' ') - '0') * 10u + 1u) << 24);
}

TEST(IpTableBadInput, BinaryGarbage) {
    std::mt19937 random(7);
    std::string bytes(1 << 20, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    Loaded l(bytes);
    EXPECT_TRUE(l.result);
    for (std::uint32_t i = 1; i < l.buffer.Count(); ++i) {
        EXPECT_LE(l.buffer.At(i - 1).first, l.buffer.At(i).first);
    }
    for (int i = 0; i < 1000; ++i) l.Name(static_cast<std::uint32_t>(random()));
}

TEST(IpTableBadInput, NulBytesAreOrdinaryBytesButNotStored) {
    Loaded l(std::string("N\0L org:10.0.0.1-10.0.0.9\n\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\n", 47));
    EXPECT_EQ(l.table.RangeCount(), 1);
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 2)), "N?L org");
}

// Descriptions end up in fvconns.log, which is read in terminals: control characters are
// stored as '?', the characters of other scripts as they are.
TEST(IpTableBadInput, ControlCharactersInDescriptionsAreReplaced) {
    Loaded l("\x1b[2J\x1b]0;title\a:1.0.0.1-1.0.0.1\n"
             "Bs\b\tDel\x7f:2.0.0.1-2.0.0.1\n"
             "Z\xc3\xbcrich \xe2\x82\xac \xf0\x9f\x9b\x91:3.0.0.1-3.0.0.1\n"
             "Caf\xe9 \xa0\xff:4.0.0.1-4.0.0.1\n"
             "Lone\x9b" "2J\x9d\x85:5.0.0.1-5.0.0.1\n"
             "Utf\xc2\x9b" "2J\xc2\x9d\xc2\xa0:6.0.0.1-6.0.0.1\n"
             "Overlong\xe0\x82\x9b\xc1\x9b:7.0.0.1-7.0.0.1\n" +
             // The cut splits a character whose second byte would be a C1 byte on its own.
             std::string(46, 'a') + "\xe2\x82\x9b" "bbbb:8.0.0.1-8.0.0.1\n");
    EXPECT_EQ(l.table.RangeCount(), 8);
    EXPECT_EQ(l.Name(Ip(1, 0, 0, 1)), "?[2J?]0;title?");
    EXPECT_EQ(l.Name(Ip(2, 0, 0, 1)), "Bs??Del?");
    EXPECT_EQ(l.Name(Ip(3, 0, 0, 1)), "Z\xc3\xbcrich \xe2\x82\xac \xf0\x9f\x9b\x91");
    EXPECT_EQ(l.Name(Ip(4, 0, 0, 1)), "Caf\xe9 \xa0\xff");
    EXPECT_EQ(l.Name(Ip(5, 0, 0, 1)), "Lone?2J??");
    EXPECT_EQ(l.Name(Ip(6, 0, 0, 1)), "Utf?2J?\xc2\xa0");
    EXPECT_EQ(l.Name(Ip(7, 0, 0, 1)), "Overlong\xe0??\xc1?");
    EXPECT_EQ(l.Name(Ip(8, 0, 0, 1)), std::string(46, 'a') + "\xe2?...");
}

// What one line gives, worked out the plain way (printable descriptions only).
struct LineEntry {
    std::uint32_t first;
    std::uint32_t span;
    std::string description;
};

std::optional<LineEntry> ReferenceEntry(const std::string& line) {
    if (line.size() < 19) return std::nullopt;
    const std::size_t colon = line.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    const std::string rest = line.substr(colon + 1);
    const std::size_t dash = rest.rfind('-');
    if (dash == std::string::npos) return std::nullopt;
    const std::uint32_t a = IpTable::ParseAddress(rest.substr(0, dash));
    const std::uint32_t b = IpTable::ParseAddress(rest.substr(dash + 1));
    std::string description;
    for (char c : line.substr(0, colon)) {
        if (c != '\r') description += c;
    }
    if (description.size() > 50) description = description.substr(0, 48) + "...";
    return LineEntry{std::min(a, b), std::max(a, b) - std::min(a, b), description};
}

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

// Lines of megabytes, which the loader reads through in pieces, give the entries the whole
// lines would give, wherever their ':', '-' and CR characters fall.
TEST(IpTableBadInput, LinesLongerThanHeldGiveTheirEntries) {
    constexpr std::size_t kLong = (std::size_t{3} << 20) / 2;
    static_assert(kLong > fv::kMaxHeldLineLength);
    const std::vector<std::string> lines = {
        std::string(kLong, 'x') + ":10.0.0.1-10.0.0.9",
        "cr" + std::string(kLong, '\r') + "lf:11.0.0.1-11.0.0.9",
        "Org:" + std::string(kLong, '1') + "-12.0.0.9",
        "Org:12.1.0.1-" + std::string(kLong, '2'),
        Repeat("a:b-c", kLong / 5) + ":13.0.0.1-13.0.0.9",
        "Head:" + Repeat("13.1.0.1-", kLong / 9) + "13.1.0.9",
        std::string(49, 'p') + ":" + std::string(kLong, '-') + "14.0.0.1",
        std::string(50, 'q') + ":14.1.0" + std::string(kLong, '\r') + "-14.1.0.9\r\r",
        std::string(kLong, 'n'),
        "Nodash:" + std::string(kLong, '3'),
        std::string(kLong, '-') + ":15.0.0.1 15.0.0.9",
        "Short:16.0.0.1-16.0.0.9",
        Repeat("Many:17.0.0.1-17.0.0.9", kLong / 22),
    };
    std::string text;
    ReferenceStore reference;
    std::vector<LineEntry> expected;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += lines[i] + (i % 2 ? "\r\n" : "\n");
        if (const auto entry = ReferenceEntry(lines[i])) {
            expected.push_back(*entry);
            reference.Add(entry->first, entry->span, entry->description);
        }
    }
    Loaded l(text);
    ASSERT_TRUE(l.result);
    ASSERT_EQ(l.table.RangeCount(), static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(l.table.StoredCount(), reference.Size());
    for (const LineEntry& entry : expected) {
        for (std::uint32_t address : {entry.first, entry.first + entry.span}) {
            std::string description = "<miss>";
            reference.Find(address, &description);
            EXPECT_EQ(l.Name(address), description) << address;
        }
        bool inTable = false;
        for (std::uint32_t i = 0; i < l.buffer.Count(); ++i) {
            inTable |= l.buffer.At(i).first == entry.first && l.buffer.At(i).span == entry.span;
        }
        EXPECT_TRUE(inTable) << entry.description;
    }
}

// Reads are taken in large pieces: one may end between the CR and the LF of a long line, or
// right after the CR that ends a file.
TEST(IpTableBadInput, LongLineEndingWhereAReadEnds) {
    const std::string range = ":1.0.0.1-1.0.0.9";
    for (std::size_t length = (1u << 20) - 2; length <= (1u << 20) + 1; ++length) {
        const std::string line = std::string(length - range.size(), 'y') + range;
        Loaded crlf(line + "\r\nNext:2.0.0.1-2.0.0.9\r\n");
        ASSERT_EQ(crlf.table.RangeCount(), 2) << length;
        EXPECT_EQ(crlf.buffer.At(0).first, Ip(1, 0, 0, 1)) << length;
        EXPECT_EQ(crlf.buffer.At(0).span, 8u) << length;
        EXPECT_EQ(crlf.Name(Ip(2, 0, 0, 5)), "Next");

        Loaded lastCr(line + "\r");
        const auto entry = ReferenceEntry(line + "\r");
        ASSERT_EQ(lastCr.table.RangeCount(), 1);
        EXPECT_EQ(lastCr.buffer.At(0).first, entry->first) << length;
        EXPECT_EQ(lastCr.buffer.At(0).span, entry->span) << length;
    }
}

long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    }
    return -1;
}

// A file of one 256 MB line (sparse: NUL bytes) and an entry after it: the loader's memory does
// not grow with the line.
TEST(IpTableBadInput, HugeLineDoesNotGrowMemory) {
    constexpr off_t kLineLength = off_t{256} << 20;
    constexpr long kGrowthLimitKb = 32 << 10;
    fv::test::TempDir dir;
    const std::string path = dir / "huge.p2p";
    const std::string tail = ":1.2.3.4-1.2.3.9\nOrg:10.0.0.1-10.0.0.9\n";
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), kLineLength), static_cast<ssize_t>(tail.size()));
        ::close(fd);
    }
    RangeBuffer buffer;
    IpTable table;
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";  // resets the peak resident size
        if (!clear.flush()) GTEST_SKIP() << "the peak resident size cannot be reset here";
    }
    const long before = StatusKilobytes("VmHWM:");
    ASSERT_TRUE(table.Load(path, buffer.Table(), buffer.Size()));
    EXPECT_LT(StatusKilobytes("VmHWM:") - before, kGrowthLimitKb);
    EXPECT_EQ(table.RangeCount(), 2);
    EXPECT_EQ(table.LookupName(Ip(1, 2, 3, 5)), std::string(48, '?') + "...");
    EXPECT_EQ(table.LookupName(Ip(10, 0, 0, 5)), "Org");
}

// Running out of memory (an address-space limit, in a child process) fails the load instead of
// ending the program.
TEST(IpTableBadInput, RunningOutOfMemoryFailsTheLoad) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator ends the process when the address space runs out";
#endif
    // Far more than the heap space that earlier tests may have left free.
    constexpr std::size_t kEntries = 2500000;
    constexpr long kHeadroomKb = 8 << 10;
    constexpr int kFreshMappingsFrom = 128 << 10;
    fv::test::TempDir dir;
    fv::test::WriteFile(dir / "list.p2p", Repeat("Org:10.0.0.1-10.0.0.9\n", kEntries));
    RangeBuffer buffer(4 + kEntries * sizeof(RangeEntry));
    const std::string path = dir / "list.p2p";
    const pid_t child = ::fork();
    if (child == 0) {
        // Large blocks from fresh mappings, which the limit counts.
        ::mallopt(M_MMAP_THRESHOLD, kFreshMappingsFrom);
        rlimit low{};
        ::getrlimit(RLIMIT_AS, &low);
        low.rlim_cur = static_cast<rlim_t>(StatusKilobytes("VmSize:") + kHeadroomKb) << 10;
        if (::setrlimit(RLIMIT_AS, &low) != 0) ::_exit(90);
        IpTable table;
        if (table.Load(path, buffer.Table(), buffer.Size())) ::_exit(1);
        if (buffer.Count() != 0 || table.RangeCount() != 0 || table.AddressCount() != 0) ::_exit(2);
        ::_exit(table.Covers(Ip(10, 0, 0, 5)) ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
