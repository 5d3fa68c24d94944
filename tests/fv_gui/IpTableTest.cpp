#include "fv_gui/blocklist/IpTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
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

TEST(IpTableBadInput, NulBytesAreOrdinaryBytes) {
    Loaded l(std::string("N\0L org:10.0.0.1-10.0.0.9\n\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\n", 47));
    EXPECT_EQ(l.table.RangeCount(), 1);
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 2)), std::string("N\0L org", 7));
}

TEST(IpTableBadInput, TenMegabyteLine) {
    std::string line(10 << 20, 'x');
    Loaded l("Before:1.0.0.1-1.0.0.2\n" + line + ":10.0.0.1-10.0.0.9\r\n" + line + "\nAfter:2.0.0.1-2.0.0.2");
    EXPECT_EQ(l.table.RangeCount(), 3);
    EXPECT_EQ(l.Name(Ip(10, 0, 0, 9)), std::string(48, 'x') + "...");
    EXPECT_EQ(l.Name(Ip(2, 0, 0, 2)), "After");
}

TEST(IpTableBadInput, MixedLineEnds) {
    Loaded l("One:1.0.0.1-1.0.0.2\r\nTwo:2.0.0.1-2.0.0.2\nThree:3.0.0.1-3.0.0.2\r\n\r\n\nFour:4.0.0.1-4.0.0.2\r");
    EXPECT_EQ(l.table.RangeCount(), 4);
    EXPECT_EQ(l.Name(Ip(1, 0, 0, 2)), "One");
    EXPECT_EQ(l.Name(Ip(3, 0, 0, 2)), "Three");
    // A CR at the end of the file (no LF after it) is part of the last address text.
    EXPECT_EQ(l.buffer.At(3).first, Ip(4, 0, 0, 1));
}

// The flat store gives what the ordered map of ReferenceStore gives, for files with many
// overlaps, duplicates and ranges starting at 0.0.0.0.
TEST(IpTableModel, MatchesOrderedMap) {
    for (unsigned seed = 1; seed <= 30; ++seed) {
        std::mt19937 random(seed);
        const std::uint32_t spread = seed % 3 == 0 ? 5000u : (seed % 3 == 1 ? 200000u : 0xFFFFFFFFu);
        std::string text;
        ReferenceStore reference;
        std::uint64_t addresses = 0;
        // Every fifth file is large enough for the bucketed search of big stores.
        const int lines = seed % 5 == 0 ? 20000 : 1 + static_cast<int>(random() % 3000);
        for (int i = 0; i < lines; ++i) {
            std::uint32_t a = static_cast<std::uint32_t>(random()) % spread;
            if (random() % 50 == 0) a = 0;
            std::uint32_t b = a + static_cast<std::uint32_t>(random() % 300);
            if (random() % 2) std::swap(a, b);
            // Not "d" + std::to_string(i): GCC 12 at -O3 warns (-Wrestrict) inside libstdc++.
            std::string description = "d";
            description += std::to_string(i);
            text += description + ":" + fv::FormatDottedAddress(a) + "-" + fv::FormatDottedAddress(b) +
                    (random() % 2 ? "\r\n" : "\n");
            reference.Add(std::min(a, b), std::max(a, b) - std::min(a, b), description);
            addresses += std::max(a, b) - std::min(a, b) + 1ull;
        }
        Loaded l(text);
        ASSERT_EQ(l.table.RangeCount(), lines);
        ASSERT_EQ(l.table.AddressCount(), addresses);
        ASSERT_EQ(l.table.StoredCount(), reference.Size()) << "seed " << seed;
        for (int probe = 0; probe < 20000; ++probe) {
            const std::uint32_t address = static_cast<std::uint32_t>(random()) % (spread == 0xFFFFFFFFu ? spread : spread + 400);
            std::string expected = "<miss>";
            reference.Find(address, &expected);
            ASSERT_EQ(l.Name(address), expected) << "seed " << seed << " address " << address;
        }
    }
}

}  // namespace
