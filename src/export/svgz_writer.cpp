// SVGZ: the SVG file built in memory, then packed in the gzip format.
#include "export/format_writers.h"

#include <zlib.h>

#include <cstdlib>
#include <string>

#include "export/svg_writer.h"

namespace {

// windowBits 15 + 16 asks zlib for a gzip header and trailer.
constexpr int kGzipWindowBits = 31;
constexpr int kMemLevel = 8;

bool Gzip(const char* data, std::size_t size, std::string* packed)
{
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    packed->resize(deflateBound(&z, static_cast<uLong>(size)) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = static_cast<uInt>(size);
    z.next_out = reinterpret_cast<Bytef*>(packed->data());
    z.avail_out = static_cast<uInt>(packed->size());
    const int result = deflate(&z, Z_FINISH);
    packed->resize(z.total_out);
    deflateEnd(&z);
    return result == Z_STREAM_END;
}

}  // namespace

bool WriteSVGZFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error)
{
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* memory = open_memstream(&data, &size);
    if (memory == nullptr) {
        if (error)
            *error = "Not enough memory for the SVG text.";
        return false;
    }
    const bool written = WriteSVGFile(drawing, memory, widths, error);
    const bool clean = std::ferror(memory) == 0;
    const bool closed = std::fclose(memory) == 0;
    std::string packed;
    const bool ok = written && clean && closed && size <= 0xFFFFFFFFu && Gzip(data ? data : "", size, &packed);
    std::free(data);
    if (!ok) {
        if (error && error->empty())
            *error = "Could not pack the SVG text.";
        return false;
    }
    if (std::fwrite(packed.data(), 1, packed.size(), file) != packed.size()) {
        if (error)
            *error = "Could not write the SVGZ file.";
        return false;
    }
    return true;
}
