#pragma once
// Files made byte by byte from a few header fields, so each damaged or
// unusual case is written out in its test instead of stored as a blob.
#include "raster/freeimage_api.h"

#include "raster/raster_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <tiffio.h>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<BYTE> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteBytes(const std::string& path, const std::vector<BYTE>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A little-endian value of size bytes at at, growing the buffer as needed.
inline void Put(std::vector<BYTE>& bytes, size_t at, std::uint64_t value, int size)
{
    if (bytes.size() < at + static_cast<size_t>(size))
        bytes.resize(at + static_cast<size_t>(size));
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<BYTE>(value >> (8 * i));
}

// One entry of a TIFF directory: a single value, or a rational (type 5) of
// value / denominator.
struct CTiffEntry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t value;
    std::uint32_t denominator = 1;
};

constexpr std::uint16_t kTiffShort = 3, kTiffLong = 4, kTiffRational = 5;
constexpr std::uint16_t kTagStripOffsets = 273, kTagStripBytes = 279, kTagTileOffsets = 324, kTagTileBytes = 325;

// A little-endian TIFF of one page: the entries, then the pixel data cut
// into pieces equal strips (or tiles), whose offsets and lengths are filled
// in; pieceBytes overrides the length of a single piece.
inline std::vector<BYTE> CraftTiff(std::vector<CTiffEntry> entries, const std::vector<BYTE>& pixels, bool tiled = false,
                                   std::uint32_t pieceBytes = 0, std::uint32_t pieces = 1)
{
    const std::uint16_t offsetsTag = tiled ? kTagTileOffsets : kTagStripOffsets;
    const std::uint16_t bytesTag = tiled ? kTagTileBytes : kTagStripBytes;
    const auto each = static_cast<std::uint32_t>(pixels.size() / pieces);
    entries.push_back({offsetsTag, kTiffLong, 0});
    entries.push_back({bytesTag, kTiffLong, pieceBytes ? pieceBytes : each});
    std::sort(entries.begin(), entries.end(), [](const CTiffEntry& a, const CTiffEntry& b) { return a.tag < b.tag; });
    std::vector<BYTE> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
    Put(tiff, 8, entries.size(), 2);
    size_t extra = 8 + 2 + 12 * entries.size() + 4;
    const size_t rationals = static_cast<size_t>(
        std::count_if(entries.begin(), entries.end(), [](const CTiffEntry& e) { return e.type == kTiffRational; }));
    const size_t lists = pieces > 1 ? 2 * 4 * size_t{pieces} : 0;
    const size_t data = extra + 8 * rationals + lists;
    size_t list = extra + 8 * rationals;
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t at = 10 + 12 * i;
        const CTiffEntry& e = entries[i];
        Put(tiff, at, e.tag, 2);
        Put(tiff, at + 2, e.type, 2);
        const bool pieceList = pieces > 1 && (e.tag == offsetsTag || e.tag == bytesTag);
        Put(tiff, at + 4, pieceList ? pieces : 1, 4);
        if (e.type == kTiffRational) {
            Put(tiff, at + 8, extra, 4);
            Put(tiff, extra, e.value, 4);
            Put(tiff, extra + 4, e.denominator, 4);
            extra += 8;
        } else if (pieceList) {
            Put(tiff, at + 8, list, 4);
            for (std::uint32_t p = 0; p < pieces; ++p)
                Put(tiff, list + 4 * p, e.tag == offsetsTag ? data + size_t{each} * p : e.value, 4);
            list += 4 * size_t{pieces};
        } else {
            Put(tiff, at + 8, e.tag == offsetsTag ? data : e.value, e.type == kTiffShort ? 2 : 4);
        }
    }
    Put(tiff, 8 + 2 + 12 * entries.size(), 0, 4);
    tiff.resize(data);
    tiff.insert(tiff.end(), pixels.begin(), pixels.end());
    return tiff;
}

// The same from (tag, type, value) triples.
inline std::vector<BYTE> Tiff(const std::vector<std::array<std::uint32_t, 3>>& triples, const std::vector<BYTE>& strip,
                              std::uint32_t stripBytes = 0)
{
    std::vector<CTiffEntry> entries;
    for (const auto& t : triples)
        entries.push_back({static_cast<std::uint16_t>(t[0]), static_cast<std::uint16_t>(t[1]), t[2]});
    return CraftTiff(entries, strip, false, stripBytes);
}

// Why a file does not load (kNone when it does), with the detail.
inline RasterLoadError LoadError(const std::string& path, std::string* detail = nullptr)
{
    RasterLoadError error = RasterLoadError::kNone;
    FIBITMAP* bitmap = LoadRasterFile(path, &error, detail);
    if (bitmap)
        FreeImage_Unload(bitmap);
    return error;
}

// A TIFF page as the decoder writes it: 8-bit samples, row after row, in
// strips of rowsPerStrip rows or in tiles of tileSide pixels square (when
// not 0), with the compression given. False when it cannot be written.
struct CTiffEncoding {
    const char* name;
    std::uint16_t compression;
    std::uint32_t rowsPerStrip;
    std::uint32_t tileSide = 0;
};

inline bool WriteEncodedTiff(const std::string& path, std::uint32_t width, std::uint32_t height, std::uint16_t samples,
                             std::uint16_t photometric, const CTiffEncoding& encoding, const std::vector<BYTE>& pixels)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, encoding.compression);
    const std::size_t rowBytes = std::size_t{width} * samples;
    bool ok = true;
    if (encoding.tileSide) {
        const std::uint32_t side = encoding.tileSide;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
        std::vector<BYTE> tile(std::size_t{side} * side * samples, 0);
        for (std::uint32_t y0 = 0; y0 < height && ok; y0 += side)
            for (std::uint32_t x0 = 0; x0 < width && ok; x0 += side) {
                std::fill(tile.begin(), tile.end(), BYTE{0});
                for (std::uint32_t y = y0; y < std::min(height, y0 + side); ++y)
                    for (std::uint32_t x = x0; x < std::min(width, x0 + side); ++x)
                        for (std::uint16_t c = 0; c < samples; ++c)
                            tile[((y - y0) * side + (x - x0)) * samples + c] = pixels[y * rowBytes + x * samples + c];
                ok = TIFFWriteTile(tif, tile.data(), x0, y0, 0, 0) >= 0;
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, encoding.rowsPerStrip);
        std::vector<BYTE> row(rowBytes);
        for (std::uint32_t y = 0; y < height && ok; ++y) {
            std::copy_n(pixels.begin() + static_cast<std::ptrdiff_t>(y * rowBytes), rowBytes, row.begin());
            ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
        }
    }
    TIFFClose(tif);
    return ok;
}

// A scanned page: noisy paper, a mid-grey band and dark strokes, whose
// histogram has the valley the automatic threshold looks for. Colour
// pages tint paper and ink apart, so that red and blue differ.
inline std::vector<BYTE> ScanPicture(std::uint32_t width, std::uint32_t height, unsigned samples)
{
    std::vector<BYTE> pixels(std::size_t{width} * height * samples);
    std::uint32_t state = 12345;
    auto noise = [&state](unsigned range) {
        state = state * 1103515245u + 12345u;
        return static_cast<int>((state >> 16) % range);
    };
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const bool ink = x % 37 < 3 || (y > height / 2 && y % 23 < 2);
            const bool band = y >= 40 && y < 50;
            const int grey = ink ? 40 + noise(30) : band ? 150 + noise(10) : 225 + noise(20);
            BYTE* p = &pixels[(std::size_t{y} * width + x) * samples];
            if (samples == 1) {
                p[0] = static_cast<BYTE>(grey);
                continue;
            }
            const int tint = ink ? -30 : 12;
            p[0] = static_cast<BYTE>(std::clamp(grey + tint, 0, 255));
            p[1] = static_cast<BYTE>(grey);
            p[2] = static_cast<BYTE>(std::clamp(grey - tint, 0, 255));
        }
    return pixels;
}
