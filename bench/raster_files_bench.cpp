// raster_files_bench: what opening hostile or huge raster files costs.
//
//   raster_files_bench walk PAGES WORKDIR
//       a TIFF of PAGES one-row pages, opened page by page as the shell
//       opens it; prints the wall time (locking each page through the image
//       library walked from the first page every time: 5000 pages took over
//       ten seconds).
//   raster_files_bench tile OUT.tif
//       a 30 KB TIFF of one 200 x 150 page declaring 65,536 x 65,536 tiles
//       (the library allocated 4 GiB for it before failing).
//   raster_files_bench g4 OUT.tif
//       a 100,000 x 100,000 one-bit Group 4 page in strips of 1000 rows, a
//       few lines drawn on white (its pixels are 1.25 GB).
#include "raster/freeimage_api.h"

#include "bench_support.h"
#include "raster/raster_file.h"
#include "raster/raster_library.h"

#include <tiffio.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

void Put(std::vector<BYTE>& bytes, size_t at, std::uint64_t value, int size)
{
    if (bytes.size() < at + static_cast<size_t>(size))
        bytes.resize(at + static_cast<size_t>(size));
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<BYTE>(value >> (8 * i));
}

bool Write(const std::string& path, const std::vector<BYTE>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Directory entries (tag, type, value), all of count 1, at the file's end.
void AppendDirectory(std::vector<BYTE>& tiff, size_t link, const std::vector<std::array<std::uint32_t, 3>>& entries)
{
    const size_t ifd = tiff.size();
    Put(tiff, link, ifd, 4);
    Put(tiff, ifd, entries.size(), 2);
    for (size_t e = 0; e < entries.size(); ++e) {
        Put(tiff, ifd + 2 + 12 * e, entries[e][0], 2);
        Put(tiff, ifd + 4 + 12 * e, entries[e][1], 2);
        Put(tiff, ifd + 6 + 12 * e, 1, 4);
        Put(tiff, ifd + 10 + 12 * e, entries[e][2], 4);
    }
    Put(tiff, ifd + 2 + 12 * entries.size(), 0, 4);
}

int Walk(int pages, const std::string& work)
{
    std::vector<BYTE> tiff = {'I', 'I', 42, 0, 0, 0, 0, 0};
    size_t link = 4;
    for (int i = 0; i < pages; ++i) {
        const auto strip = static_cast<std::uint32_t>(tiff.size());
        tiff.push_back(0x80);
        tiff.push_back(0);
        const size_t ifd = tiff.size();
        AppendDirectory(tiff, link,
                        {{256, 3, static_cast<std::uint32_t>(1 + i % 7)},
                         {257, 3, 1},
                         {258, 3, 1},
                         {259, 3, 1},
                         {262, 3, 0},
                         {273, 4, strip},
                         {277, 3, 1},
                         {278, 3, 1},
                         {279, 4, 1}});
        link = ifd + 2 + 12 * 9;
    }
    const std::string path = work + "/pages.tif";
    if (!Write(path, tiff))
        return 1;
    CRasterLibraryGuard library;
    const auto start = BenchClock::now();
    std::vector<CRasterPage> opened;
    const bool ok = LoadRasterPages(path, opened);
    const double seconds = Since(start);
    std::remove(path.c_str());
    std::printf("%d pages opened one by one: %.2f s, %zu read%s\n", pages, seconds, opened.size(),
                ok ? "" : " (failed)");
    return ok && opened.size() == static_cast<size_t>(pages) ? 0 : 1;
}

int Tile(const std::string& out)
{
    std::vector<BYTE> tiff = {'I', 'I', 42, 0, 0, 0, 0, 0};
    const auto data = static_cast<std::uint32_t>(tiff.size());
    tiff.resize(tiff.size() + 30000, 0x55);
    AppendDirectory(tiff, 4,
                    {{256, 4, 200},
                     {257, 4, 150},
                     {258, 3, 8},
                     {259, 3, 8},
                     {262, 3, 1},
                     {277, 3, 1},
                     {322, 4, 65536},
                     {323, 4, 65536},
                     {324, 4, data},
                     {325, 4, 30000}});
    return Write(out, tiff) ? 0 : 1;
}

// A big TIFF of one square page, its samples together, for scanlines.
TIFF* OpenSquarePage(const std::string& out, std::uint32_t side, std::uint16_t bits, std::uint16_t samples,
                     std::uint16_t compression, std::uint16_t photometric, std::uint32_t rowsPerStrip)
{
    TIFF* tif = TIFFOpen(out.c_str(), "w8");
    if (!tif)
        return nullptr;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    return tif;
}

int GroupFour(const std::string& out)
{
    constexpr std::uint32_t kSide = 100000, kRowsPerStrip = 1000, kLineEvery = 5000;
    TIFF* tif = OpenSquarePage(out, kSide, 1, 1, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, kRowsPerStrip);
    if (!tif)
        return 1;
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 400.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 400.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::vector<BYTE> white(kSide / 8, 0), line(kSide / 8, 0xFF);
    bool ok = true;
    for (std::uint32_t y = 0; y < kSide && ok; ++y) {
        // Horizontal lines, and a vertical one down the middle.
        std::vector<BYTE>& row = y % kLineEvery < 8 ? line : white;
        row[kSide / 16] |= 0x80;
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    return ok ? 0 : 1;
}

// A page of 8-bit samples (1 grey or 3 RGB) side pixels square: light
// paper of a few levels, dark lines every 500 rows and one down the middle.
int EightBitPage(const std::string& out, std::uint32_t side, std::uint16_t samples, std::uint16_t compression)
{
    constexpr std::uint32_t kRowsPerStrip = 64, kLineEvery = 500;
    TIFF* tif = OpenSquarePage(out, side, 8, samples, compression,
                               samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK, kRowsPerStrip);
    if (!tif)
        return 1;
    std::vector<BYTE> paper(std::size_t{side} * samples), line(paper.size(), 30);
    for (std::size_t i = 0; i < paper.size(); ++i)
        paper[i] = static_cast<BYTE>(230 + i % 7);
    for (std::uint16_t c = 0; c < samples; ++c)
        paper[side / 2 * samples + c] = 30;
    bool ok = true;
    for (std::uint32_t y = 0; y < side && ok; ++y)
        ok = TIFFWriteScanline(tif, (y % kLineEvery < 4 ? line : paper).data(), y, 0) == 1;
    TIFFClose(tif);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "walk" && argc == 4)
        return Walk(std::atoi(argv[2]), argv[3]);
    if (mode == "tile" && argc == 3)
        return Tile(argv[2]);
    if (mode == "g4" && argc == 3)
        return GroupFour(argv[2]);
    if (mode == "grey" && argc == 3)
        return EightBitPage(argv[2], 30000, 1, COMPRESSION_LZW);
    if (mode == "rgb" && argc == 3)
        return EightBitPage(argv[2], 20000, 3, COMPRESSION_LZW);
    if (mode == "jpeg" && argc == 3)
        return EightBitPage(argv[2], 30000, 1, COMPRESSION_JPEG);
    std::fprintf(stderr, "usage: raster_files_bench walk PAGES WORKDIR | tile OUT.tif | g4 OUT.tif | grey OUT.tif"
                         " | rgb OUT.tif | jpeg OUT.tif\n");
    return 2;
}
