// A generated `p2p` blocklist for the benchmarks: 600,000 lines, about 32 MB, descriptions of
// one to six words, random unsorted ranges of which some overlap.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fv::bench {

inline std::string GenerateBlocklist(const std::string& path, int lines = 600000) {
    if (std::filesystem::exists(path)) return path;
    std::mt19937 random(20261206);
    std::vector<std::string> words;
    for (int i = 0; i < 4000; ++i) {
        const int length = 3 + static_cast<int>(random() % 8);
        std::string word;
        for (int k = 0; k < length; ++k) word += static_cast<char>('a' + random() % 26);
        word[0] = static_cast<char>(word[0] - 'a' + 'A');
        words.push_back(word);
    }
    const std::string temporary = path + ".tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) return {};
    std::uint32_t previousFirst = 0;
    std::uint32_t previousSpan = 0;
    for (int i = 0; i < lines; ++i) {
        std::string description;
        const int count = 1 + static_cast<int>(random() % 6);
        for (int w = 0; w < count; ++w) {
            if (w > 0) description += ' ';
            description += words[random() % words.size()];
        }
        std::uint32_t first = static_cast<std::uint32_t>(random());
        const std::uint32_t span = random() % 8 == 0 ? random() % 65536 : random() % 256;
        if (random() % 20 == 0 && previousSpan > 0) first = previousFirst + random() % previousSpan;
        std::uint32_t last = first + span < first ? 0xFFFFFFFFu : first + span;
        previousFirst = first;
        previousSpan = last - first;
        if (random() % 2 == 0) std::swap(first, last);
        std::fprintf(out, "%s:%u.%u.%u.%u-%u.%u.%u.%u\r\n", description.c_str(), first >> 24,
                     (first >> 16) & 255, (first >> 8) & 255, first & 255, last >> 24,
                     (last >> 16) & 255, (last >> 8) & 255, last & 255);
    }
    std::fclose(out);
    std::filesystem::rename(temporary, path);
    return path;
}

inline std::string BlocklistPath() {
    return (std::filesystem::temp_directory_path() / "fv-bench-600k-v1.p2p").string();
}

}  // namespace fv::bench
