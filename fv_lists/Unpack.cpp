#include "fv_lists/Unpack.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <memory>

namespace fv::lists {
namespace {

constexpr std::string_view kGzipMagic = "\x1F\x8B";
constexpr std::string_view kZipMagic = "PK\x03\x04";
// zlib's window bits for gzip only, with its header and trailer checked.
constexpr int kGzipWindowBits = 15 + 16;
constexpr std::size_t kOutChunk = std::size_t{1} << 20;

std::string TooLarge(std::size_t maxBytes) {
    return "the unpacked list is larger than " + std::to_string(maxBytes) + " bytes";
}

bool Gunzip(std::string_view in, std::size_t maxBytes, std::string& out, std::string& error) {
    z_stream stream{};
    if (inflateInit2(&stream, kGzipWindowBits) != Z_OK) {
        error = "cannot start gzip";
        return false;
    }
    const std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&stream, inflateEnd);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = static_cast<uInt>(in.size());
    out.clear();
    for (;;) {
        if (out.size() > maxBytes) {
            error = TooLarge(maxBytes);
            return false;
        }
        const std::size_t had = out.size();
        out.resize(had + kOutChunk);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + had);
        stream.avail_out = static_cast<uInt>(kOutChunk);
        const int status = inflate(&stream, Z_NO_FLUSH);
        out.resize(had + kOutChunk - stream.avail_out);
        if (status == Z_STREAM_END) {
            // Several members one after the other make one file.
            if (stream.avail_in == 0) break;
            if (inflateReset(&stream) != Z_OK) break;
            continue;
        }
        if (status != Z_OK) {
            error = std::string("damaged gzip data") + (stream.msg != nullptr ? std::string(": ") + stream.msg : "");
            return false;
        }
        if (stream.avail_in == 0 && stream.avail_out != 0) {
            error = "the gzip data ends early";
            return false;
        }
    }
    if (out.size() > maxBytes) {
        error = TooLarge(maxBytes);
        return false;
    }
    return true;
}

bool Unzip(std::string_view in, std::size_t maxBytes, std::string& out, std::string& error) {
    const std::unique_ptr<archive, int (*)(archive*)> reader(archive_read_new(), archive_read_free);
    if (!reader) {
        error = "cannot start unzip";
        return false;
    }
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_memory(reader.get(), in.data(), in.size()) != ARCHIVE_OK) {
        error = std::string("damaged zip data: ") + archive_error_string(reader.get());
        return false;
    }
    out.clear();
    archive_entry* entry = nullptr;
    bool anyFile = false;
    for (;;) {
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            error = std::string("damaged zip data: ") + archive_error_string(reader.get());
            return false;
        }
        if (archive_entry_filetype(entry) != AE_IFREG) continue;
        anyFile = true;
        if (!out.empty() && out.back() != '\n') out += '\n';
        char buffer[1 << 16];
        for (;;) {
            const la_ssize_t got = archive_read_data(reader.get(), buffer, sizeof buffer);
            if (got == 0) break;
            if (got < 0) {
                error = std::string("damaged zip data: ") + archive_error_string(reader.get());
                return false;
            }
            if (out.size() + static_cast<std::size_t>(got) > maxBytes) {
                error = TooLarge(maxBytes);
                return false;
            }
            out.append(buffer, static_cast<std::size_t>(got));
        }
    }
    if (!anyFile) {
        error = "the zip archive holds no file";
        return false;
    }
    return true;
}

}  // namespace

Packing SniffPacking(std::string_view body) {
    if (body.substr(0, kGzipMagic.size()) == kGzipMagic) return Packing::Gzip;
    if (body.substr(0, kZipMagic.size()) == kZipMagic) return Packing::Zip;
    return Packing::Plain;
}

bool Unpack(std::string& body, std::size_t maxBytes, std::string& error) {
    std::string out;
    switch (SniffPacking(body)) {
        case Packing::Plain: return true;
        case Packing::Gzip:
            if (!Gunzip(body, maxBytes, out, error)) return false;
            break;
        case Packing::Zip:
            if (!Unzip(body, maxBytes, out, error)) return false;
            break;
    }
    body = std::move(out);
    return true;
}

}  // namespace fv::lists
