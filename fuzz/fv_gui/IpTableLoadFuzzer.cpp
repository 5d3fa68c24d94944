// libFuzzer target for IpTable::Load: the input is the blocklist file; its first two bytes pick
// the range buffer's size. Load is checked against a plain ordered-map model of the loader.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fv_gui/blocklist/IpTable.h"

namespace {

// A description as the store keeps it: C0 controls, DEL, C1 controls encoded in UTF-8 and bytes
// 0x80-0x9F outside well-formed UTF-8 become '?'.
std::string Printable(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '?';
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // Decode one character and accept it only when its encoding is the shortest one.
        // 0xF8-0xFF lead nothing: their high bits would be lost to the mask below.
        std::size_t size = c >= 0xF8 ? 0 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        std::uint32_t code = size == 4 ? c & 0x07u : size == 3 ? c & 0x0Fu : c & 0x1Fu;
        bool valid = size != 0 && i + size <= text.size();
        for (std::size_t k = 1; valid && k < size; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3Fu);
        }
        const std::uint32_t shortest = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        valid = valid && shortest == size && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            out += c <= 0x9F ? '?' : static_cast<char>(c);
            ++i;
        } else {
            out += code <= 0x9F ? std::string("?") : text.substr(i, size);
            i += size;
        }
    }
    return out;
}

struct Model {
    std::vector<RangeEntry> entries;
    std::map<std::uint32_t, std::pair<std::uint32_t, std::string>> store;
    std::uint64_t addresses = 0;

    bool Find(std::uint32_t address, std::string* description) const {
        if (store.empty() || address == 0) return false;
        auto it = store.upper_bound(address);
        if (it == store.begin()) return false;
        --it;
        if (it->first + it->second.first < address) return false;
        if (description != nullptr) *description = it->second.second;
        return true;
    }
    void Line(const std::string& line) {
        if (line.size() < 19) return;
        const std::size_t colon = line.rfind(':');
        if (colon == std::string::npos) return;
        const std::string rest = line.substr(colon + 1);
        const std::size_t dash = rest.rfind('-');
        if (dash == std::string::npos) return;
        const std::uint32_t a = fv::IpTable::ParseAddress(rest.substr(0, dash));
        const std::uint32_t b = fv::IpTable::ParseAddress(rest.substr(dash + 1));
        const std::uint32_t first = std::min(a, b);
        const std::uint32_t span = std::max(a, b) - first;
        entries.push_back({first, span});
        addresses += std::uint64_t{span} + 1;
        std::string description;
        for (char c : line.substr(0, colon)) {
            if (c != '\r' && c != '\n') description += c;
        }
        if (description.size() > 50) description = description.substr(0, 48) + "...";
        description = Printable(description);
        if (!Find(first, nullptr)) store[first] = {span, description};
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t bufferSize = (std::size_t{data[0]} | std::size_t{data[1]} << 8) % 2048;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    const int fd = ::memfd_create("blocklist", 0);
    if (fd < 0) std::abort();
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    std::vector<std::uint64_t> storage(bufferSize / 8 + 2, 0);
    auto* table = reinterpret_cast<RangeTable*>(storage.data());
    fv::IpTable ipTable;
    if (!ipTable.Load(path, table, bufferSize)) std::abort();
    ::close(fd);

    Model model;
    std::size_t start = 0;
    while (4 + (model.entries.size() + 1) * 8 <= bufferSize && start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string::npos) {
            model.Line(text.substr(start));
            break;
        }
        std::string line = text.substr(start, lf - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        model.Line(line);
        start = lf + 1;
    }

    if (table->count != model.entries.size()) std::abort();
    if (ipTable.RangeCount() != static_cast<std::int32_t>(model.entries.size())) std::abort();
    if (ipTable.AddressCount() != model.addresses) std::abort();
    if (ipTable.StoredCount() != model.store.size()) std::abort();
    const RangeEntry* loaded = table->Entries();
    auto byFirstThenSpan = [](const RangeEntry& a, const RangeEntry& b) {
        return a.first != b.first ? a.first < b.first : a.span < b.span;
    };
    for (std::uint32_t i = 1; i < table->count; ++i) {
        if (loaded[i - 1].first > loaded[i].first) std::abort();
    }
    std::vector<RangeEntry> got(loaded, loaded + table->count);
    std::sort(got.begin(), got.end(), byFirstThenSpan);
    std::sort(model.entries.begin(), model.entries.end(), byFirstThenSpan);
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i].first != model.entries[i].first || got[i].span != model.entries[i].span) std::abort();
    }
    for (const RangeEntry& e : model.entries) {
        for (std::uint32_t address : {e.first, e.first - 1, e.first + 1, e.first + e.span, e.first + e.span + 1}) {
            std::string expected, actual;
            const bool hit = model.Find(address, &expected);
            if (ipTable.LookupName(address, actual) != hit || (hit && actual != expected)) std::abort();
        }
    }
    return 0;
}
