// gzip and zip bodies for the tests, made with the same libraries the tool reads them with.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace fv::test {

inline std::string Gzip(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, text.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

inline std::string Zip(const std::string& name, const std::string& text) {
    std::vector<char> buffer(text.size() + 4096);
    std::size_t used = 0;
    archive* writer = archive_write_new();
    archive_write_set_format_zip(writer);
    archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_size(entry, static_cast<la_int64_t>(text.size()));
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_write_header(writer, entry);
    archive_write_data(writer, text.data(), text.size());
    archive_entry_free(entry);
    archive_write_close(writer);
    archive_write_free(writer);
    return std::string(buffer.data(), used);
}

}  // namespace fv::test
