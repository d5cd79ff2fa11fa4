// Raster headers that declare absurd sizes are refused before any pixels are
// allocated. The files here are a few bytes declaring terabytes: under the
// address sanitizer an attempt to allocate them aborts the test.
#include "raster_test_support.h"

#include "raster/raster_file.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <utility>

namespace {

void Put(std::vector<BYTE>& bytes, size_t at, std::uint32_t value, int size)
{
    if (bytes.size() < at + static_cast<size_t>(size))
        bytes.resize(at + static_cast<size_t>(size));
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<BYTE>(value >> (8 * i));
}

std::vector<BYTE> BmpHeader(std::uint32_t width, std::uint32_t height, int bits)
{
    std::vector<BYTE> bmp(54 + 16, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    Put(bmp, 2, static_cast<std::uint32_t>(bmp.size()), 4);
    Put(bmp, 10, 54, 4);  // pixels follow the headers
    Put(bmp, 14, 40, 4);  // BITMAPINFOHEADER
    Put(bmp, 18, width, 4);
    Put(bmp, 22, height, 4);
    Put(bmp, 26, 1, 2);
    Put(bmp, 28, static_cast<std::uint32_t>(bits), 2);
    return bmp;
}

std::vector<BYTE> TgaHeader(std::uint16_t width, std::uint16_t height)
{
    std::vector<BYTE> tga(18 + 16, 0);
    tga[2] = 2;  // uncompressed true colour
    Put(tga, 12, width, 2);
    Put(tga, 14, height, 2);
    tga[16] = 32;
    tga[17] = 8;  // alpha bits
    return tga;
}

std::vector<BYTE> PcxHeader(std::uint16_t xMax, std::uint16_t yMax, std::uint16_t xMin = 0)
{
    std::vector<BYTE> pcx(128 + 16, 0);
    pcx[0] = 10;
    pcx[1] = 5;
    pcx[2] = 1;
    pcx[3] = 8;  // bits per plane
    Put(pcx, 4, xMin, 2);
    Put(pcx, 8, xMax, 2);
    Put(pcx, 10, yMax, 2);
    pcx[65] = 3;  // planes: 24-bit colour
    Put(pcx, 66, 0xFFFF, 2);
    return pcx;
}

// An 8-bit grey TIFF with one page per size. The pages share one strip of
// grey, enough for a small page; a huge one gets no more.
std::vector<BYTE> Tiff(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> sizes)
{
    const std::uint32_t pixels = 8;
    const std::uint32_t stripBytes = 128;
    std::vector<BYTE> tiff = {'I', 'I', 42, 0};
    tiff.resize(pixels + stripBytes, 0x80);
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t value;
    };
    size_t link = 4;  // where the previous page points to the next
    for (auto [width, height] : sizes) {
        size_t ifd = tiff.size();
        Put(tiff, link, static_cast<std::uint32_t>(ifd), 4);
        auto bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{width} * height, stripBytes));
        const Entry entries[] = {{256, 4, width},  {257, 4, height}, {258, 3, 8},      {259, 3, 1},    {262, 3, 1},
                                 {273, 4, pixels}, {277, 3, 1},      {278, 4, height}, {279, 4, bytes}};
        Put(tiff, ifd, std::size(entries), 2);
        size_t at = ifd + 2;
        for (const Entry& entry : entries) {
            Put(tiff, at, entry.tag, 2);
            Put(tiff, at + 2, entry.type, 2);
            Put(tiff, at + 4, 1, 4);
            Put(tiff, at + 8, entry.value, 4);
            at += 12;
        }
        Put(tiff, at, 0, 4);
        link = at;
    }
    return tiff;
}

void WriteBytes(const std::string& path, const std::vector<BYTE>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Loads the bytes as a file and from memory; both must give the same answer.
RasterLoadError LoadBoth(const std::string& name, const std::vector<BYTE>& bytes, std::string* detail = nullptr)
{
    TempFolder folder;
    WriteBytes(folder / name, bytes);
    RasterLoadError fromFile = RasterLoadError::kNone;
    RasterLoadError fromMemory = RasterLoadError::kNone;
    FIBITMAP* a = LoadRasterFile(folder / name, &fromFile, detail);
    FIBITMAP* b = LoadRasterFromMemory(name, bytes.data(), bytes.size(), &fromMemory);
    EXPECT_EQ(fromFile, fromMemory) << name;
    EXPECT_EQ(a != nullptr, fromFile == RasterLoadError::kNone) << name;
    for (FIBITMAP* bitmap : {a, b}) {
        if (bitmap)
            FreeImage_Unload(bitmap);
    }
    return fromFile;
}

}  // namespace

TEST(RasterLimits, HeadersDeclaringHugeImagesAreRefusedInEveryFormat)
{
    std::string detail;
    EXPECT_EQ(LoadBoth("huge.bmp", BmpHeader(1000000, 1000000, 24), &detail), RasterLoadError::kTooLarge);
    EXPECT_NE(detail.find("1000000 x 1000000 pixels at 24 bits"), std::string::npos) << detail;
    EXPECT_EQ(LoadBoth("wide.bmp", BmpHeader(1000001, 1, 1)), RasterLoadError::kTooLarge);
    EXPECT_EQ(LoadBoth("huge.tga", TgaHeader(65535, 65535)), RasterLoadError::kTooLarge);
    EXPECT_EQ(LoadBoth("huge.pcx", PcxHeader(65535, 65535)), RasterLoadError::kTooLarge);
    EXPECT_EQ(LoadBoth("huge.tif", Tiff({{2000000, 2000000}})), RasterLoadError::kTooLarge);
    // A window whose right edge is left of its left edge declares nothing.
    EXPECT_EQ(LoadBoth("empty.pcx", PcxHeader(0, 9, 5), &detail), RasterLoadError::kDecodeFailed);
    EXPECT_NE(detail.find("empty"), std::string::npos);
    EXPECT_FALSE(RasterLoadErrorText(RasterLoadError::kTooLarge).empty());
}

TEST(RasterLimits, AMillionPixelsWideStillLoads)
{
    TempFolder folder;
    FIBITMAP* row = FreeImage_Allocate(1000000, 1, 1);
    ASSERT_TRUE(FreeImage_Save(FIF_BMP, row, (folder / "row.bmp").c_str(), 0));
    FreeImage_Unload(row);
    CRasterSrc image;
    ASSERT_TRUE(image.Load(folder / "row.bmp"));
    EXPECT_EQ(image.GetWidth(), 1000000);
}

TEST(RasterLimits, AHugeTiffPageIsSkippedAndItsNeighboursKept)
{
    TempFolder folder;
    std::vector<BYTE> bytes = Tiff({{2, 2}, {2000000, 2000000}, {2, 2}});
    WriteBytes(folder / "scan.tif", bytes);
    std::vector<CRasterPage> pages;
    ASSERT_TRUE(LoadRasterPages(folder / "scan.tif", pages));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].name, folder / "scan_2.tif");

    CRasterLoader loader;
    ASSERT_TRUE(loader.OpenMemory("scan.tif", bytes.data(), bytes.size()));
    RasterLoadError error = RasterLoadError::kNone;
    std::string detail;
    EXPECT_EQ(loader.CopyPage(1, &error, &detail), nullptr);
    EXPECT_EQ(error, RasterLoadError::kTooLarge);
    EXPECT_NE(detail.find("2000000 x 2000000"), std::string::npos) << detail;
    EXPECT_EQ(loader.LockPage(1), nullptr);
    FIBITMAP* small = loader.CopyPage(2, &error);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(small), 2u);
    FreeImage_Unload(small);
}

TEST(RasterLimits, ALowerBoundCountsThePixelBlockInBytes)
{
    std::uint64_t previous = SetMaxRasterPixelBytes(100);
    EXPECT_EQ(LoadBoth("fits.tif", Tiff({{10, 10}})), RasterLoadError::kNone);
    EXPECT_EQ(LoadBoth("over.tif", Tiff({{11, 10}})), RasterLoadError::kTooLarge);
    EXPECT_EQ(LoadBoth("over.pcx", PcxHeader(6, 4)), RasterLoadError::kTooLarge);  // 7 x 5 x 24 bits
    SetMaxRasterPixelBytes(previous);
}
