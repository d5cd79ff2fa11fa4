// Raster files: the five formats, multi-page TIFF pages, layouts converted or
// refused, BMP saving. Fixtures are written by small generators here.
#include "raster_test_support.h"

#include "model/file_paths.h"
#include "raster/raster_file.h"
#include "raster/raster_layout.h"
#include "raster/row_bands.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

bool Save(FIBITMAP* bitmap, FREE_IMAGE_FORMAT format, const std::string& path, int flags = 0)
{
    bool ok = FreeImage_Save(format, bitmap, path.c_str(), flags) != FALSE;
    FreeImage_Unload(bitmap);
    return ok;
}

void WriteBytes(const std::string& path, const std::vector<BYTE>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<BYTE> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

// An 8-bit grey PCX of width x height whose pixel (x, y) is (x * 16 + y).
std::vector<BYTE> MakeGreyPcx(int width, int height)
{
    std::vector<BYTE> pcx(128, 0);
    int bytesPerLine = (width + 1) & ~1;
    pcx[0] = 10;  // manufacturer
    pcx[1] = 5;   // version
    pcx[2] = 1;   // run-length encoded
    pcx[3] = 8;   // bits per pixel and plane
    pcx[8] = static_cast<BYTE>(width - 1);
    pcx[10] = static_cast<BYTE>(height - 1);
    pcx[12] = 72;
    pcx[14] = 72;
    pcx[65] = 1;  // planes
    pcx[66] = static_cast<BYTE>(bytesPerLine);
    pcx[68] = 2;  // greyscale palette
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < bytesPerLine; ++x) {
            BYTE v = static_cast<BYTE>(x * 16 + y);
            if (v >= 0xC0)
                pcx.push_back(0xC1);  // a run of one
            pcx.push_back(v);
        }
    }
    pcx.push_back(0x0C);
    for (int i = 0; i < 256; ++i)
        pcx.insert(pcx.end(), {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i)});
    return pcx;
}

FIBITMAP* MakeGreyPage(int width, int height, BYTE grey)
{
    FIBITMAP* page = FreeImage_Allocate(width, height, 8);
    for (int y = 0; y < height; ++y)
        std::memset(FreeImage_GetScanLine(page, y), grey, static_cast<size_t>(width));
    return page;
}

void WriteMultiPage(FREE_IMAGE_FORMAT format, const std::string& path, int pages)
{
    FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(format, path.c_str(), TRUE, FALSE, TRUE, 0);
    ASSERT_NE(multi, nullptr);
    for (int i = 0; i < pages; ++i) {
        FIBITMAP* page = MakeGreyPage(10 + i, 20 + i, static_cast<BYTE>(40 * i));
        FreeImage_AppendPage(multi, page);
        FreeImage_Unload(page);
    }
    ASSERT_TRUE(FreeImage_CloseMultiBitmap(multi, 0));
}

bool SameStoredPixels(const CRasterSrc& a, const CRasterSrc& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetBitCount() != b.GetBitCount())
        return false;
    size_t used = static_cast<size_t>(AlignedRowBytes(a.GetBitCount(), a.GetWidth()));
    int bits = a.GetBitCount() * a.GetWidth();
    for (int y = 0; y < a.GetHeight(); ++y) {
        // Compare whole bytes, then the used bits of a partial last byte.
        size_t whole = static_cast<size_t>(bits / 8);
        if (std::memcmp(a.GetRow(y), b.GetRow(y), std::min(whole, used)) != 0)
            return false;
        if (bits % 8) {
            BYTE mask = static_cast<BYTE>(0xFF00 >> (bits % 8));
            if ((a.GetRow(y)[whole] & mask) != (b.GetRow(y)[whole] & mask))
                return false;
        }
    }
    if (a.GetPalette())
        return std::memcmp(a.GetPalette(), b.GetPalette(), sizeof(RGBQUAD) * a.GetColorsUsed()) == 0;
    return true;
}

}  // namespace

TEST(RasterFile, AOneBitFileWithABlackFirstEntryLoadsAsWhiteBlackWithInvertedBits)
{
    TempFolder folder;
    FIBITMAP* bitmap = FreeImage_Allocate(12, 3, 1);  // palette {black, white}
    FreeImage_GetScanLine(bitmap, 2)[0] = 0xF0;       // top row: four white pixels, the rest black
    ASSERT_TRUE(Save(bitmap, FIF_BMP, folder / "bw.bmp"));

    CRasterSrc image;
    ASSERT_TRUE(image.Load(folder / "bw.bmp"));
    EXPECT_EQ(image.GetPalette()[0].rgbRed, 255);
    EXPECT_EQ(image.GetPalette()[1].rgbRed, 0);
    BYTE bgr[3];
    ASSERT_TRUE(image.GetPixelColor(3, 0, bgr));
    EXPECT_EQ(bgr[0], 255);
    ASSERT_TRUE(image.GetPixelColor(4, 0, bgr));
    EXPECT_EQ(bgr[0], 0);
    EXPECT_EQ(image.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(image.GetPixelIndex(4, 0), 1);
    EXPECT_EQ(image.GetPixelIndex(11, 2), 1);
}

TEST(RasterFile, BmpSavedAndReloadedIsIdenticalAtEveryDepth)
{
    TempFolder folder;
    unsigned seed = 1;
    for (int bits : kAllDepths) {
        CRasterSrc image;
        MakeRandomImage(image, 29, 7, bits, seed++);
        ASSERT_TRUE(image.SetResolution(11811));
        std::string path = folder / ("depth" + std::to_string(bits) + ".bmp");
        ASSERT_TRUE(image.SaveBMP(path)) << bits;
        CRasterSrc again;
        ASSERT_TRUE(again.Load(path)) << bits;
        EXPECT_TRUE(SameStoredPixels(image, again)) << bits;
        EXPECT_EQ(again.GetHeader()->biXPelsPerMeter, 11811);
    }
    // Only the saved files are left: no temporary beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 6);
}

TEST(RasterFile, OnlyBmpIsWritten)
{
    TempFolder folder;
    CRasterSrc image;
    ASSERT_TRUE(image.Create(4, 4, 8));
    EXPECT_FALSE(image.SaveBMP(folder / "out.jpg"));
    EXPECT_FALSE(image.SaveBMP(folder / "out"));
    EXPECT_FALSE(FileExists(folder / "out.jpg"));
    EXPECT_TRUE(image.SaveBMP(folder / "out.BMP"));
    EXPECT_FALSE(image.SaveBMP(folder / "missing-folder/out.bmp"));
    CRasterSrc empty;
    EXPECT_FALSE(empty.SaveBMP(folder / "empty.bmp"));
}

TEST(RasterFile, TheFiveFormatsLoadByTheirExtensions)
{
    TempFolder folder;
    ASSERT_TRUE(Save(MakeGreyPage(9, 5, 128), FIF_JPEG, folder / "scan.jpeg"));
    ASSERT_TRUE(Save(MakeGreyPage(9, 5, 128), FIF_TIFF, folder / "scan.tif"));
    ASSERT_TRUE(Save(MakeGreyPage(9, 5, 128), FIF_TIFF, folder / "scan.tiff"));
    FIBITMAP* grey = MakeGreyPage(9, 5, 128);
    ASSERT_TRUE(Save(FreeImage_ConvertTo24Bits(grey), FIF_TARGA, folder / "scan.tga"));
    FreeImage_Unload(grey);
    WriteBytes(folder / "scan.pcx", MakeGreyPcx(9, 5));
    for (const char* name : {"scan.jpeg", "scan.tif", "scan.tiff", "scan.tga", "scan.pcx"}) {
        CRasterSrc image;
        RasterLoadError error = RasterLoadError::kNone;
        ASSERT_TRUE(image.Load(folder / name, 0, &error)) << name << " " << static_cast<int>(error);
        EXPECT_EQ(image.GetWidth(), 9) << name;
        EXPECT_EQ(image.GetHeight(), 5) << name;
    }
    CRasterSrc pcx;
    ASSERT_TRUE(pcx.Load(folder / "scan.pcx"));
    EXPECT_EQ(pcx.GetPixelIndex(2, 3), 2 * 16 + 3);
    EXPECT_EQ(RasterFileFormatName("a.jpeg"), "JPEG");
    EXPECT_EQ(RasterFileFormatName("a.TIF"), "TIFF");
    EXPECT_EQ(RasterFileFormatName("a.png"), "");
}

TEST(RasterFile, OtherFormatsAndBadFilesAreRefusedWithAReason)
{
    TempFolder folder;
    ASSERT_TRUE(Save(MakeGreyPage(4, 4, 0), FIF_PNG, folder / "scan.png"));
    RasterLoadError error = RasterLoadError::kNone;
    EXPECT_EQ(LoadRasterFile(folder / "scan.png", &error), nullptr);
    EXPECT_EQ(error, RasterLoadError::kUnknownFormat);
    EXPECT_EQ(LoadRasterFile(folder / "absent.bmp", &error), nullptr);
    EXPECT_EQ(error, RasterLoadError::kNotFound);
    std::filesystem::create_directory(folder / "folder.bmp");
    EXPECT_EQ(LoadRasterFile(folder / "folder.bmp", &error), nullptr);
    EXPECT_EQ(error, RasterLoadError::kNotReadable);
    WriteBytes(folder / "damaged.bmp", {'B', 'N', 1, 2, 3});
    EXPECT_EQ(LoadRasterFile(folder / "damaged.bmp", &error), nullptr);
    EXPECT_EQ(error, RasterLoadError::kDecodeFailed);
    WriteBytes(folder / "short.bmp", {'B', 'M', 1, 2, 3});
    EXPECT_EQ(LoadRasterFile(folder / "short.bmp", &error), nullptr);
    EXPECT_EQ(error, RasterLoadError::kTruncated);
    WriteBytes(folder / "empty.tif", {});
    EXPECT_EQ(LoadRasterFile(folder / "empty.tif", &error), nullptr);
    EXPECT_EQ(error, RasterLoadError::kTruncated);
    EXPECT_FALSE(RasterLoadErrorText(RasterLoadError::kUnknownFormat).empty());
}

TEST(RasterFile, DeepAndPackedLayoutsAreConvertedNotMisread)
{
    TempFolder folder;
    FIBITMAP* grey16 = FreeImage_AllocateT(FIT_UINT16, 3, 2);
    for (int y = 0; y < 2; ++y) {
        auto* row = reinterpret_cast<WORD*>(FreeImage_GetScanLine(grey16, y));
        row[0] = 0xABCD;
        row[1] = 0x1200;
        row[2] = 0xFFFF;
    }
    ASSERT_TRUE(Save(grey16, FIF_TIFF, folder / "grey16.tif"));
    CRasterSrc image;
    ASSERT_TRUE(image.Load(folder / "grey16.tif"));
    EXPECT_EQ(image.GetBitCount(), 8);
    BYTE bgr[3];
    ASSERT_TRUE(image.GetPixelColor(0, 0, bgr));
    EXPECT_EQ(bgr[0], 0xAB);
    ASSERT_TRUE(image.GetPixelColor(1, 1, bgr));
    EXPECT_EQ(bgr[1], 0x12);

    FIBITMAP* rgb48 = FreeImage_AllocateT(FIT_RGB16, 2, 2);
    auto* pixel = reinterpret_cast<FIRGB16*>(FreeImage_GetScanLine(rgb48, 1));
    pixel[0] = FIRGB16{0xFF00, 0x8000, 0x1000};
    ASSERT_TRUE(Save(rgb48, FIF_TIFF, folder / "rgb48.tif"));
    ASSERT_TRUE(image.Load(folder / "rgb48.tif"));
    EXPECT_EQ(image.GetBitCount(), 24);
    ASSERT_TRUE(image.GetPixelColor(0, 0, bgr));
    EXPECT_EQ(bgr[2], 0xFF);
    EXPECT_EQ(bgr[1], 0x80);
    EXPECT_EQ(bgr[0], 0x10);

    FIBITMAP* rgba64 = FreeImage_AllocateT(FIT_RGBA16, 2, 2);
    ASSERT_TRUE(Save(rgba64, FIF_TIFF, folder / "rgba64.tif"));
    ASSERT_TRUE(image.Load(folder / "rgba64.tif"));
    EXPECT_EQ(image.GetBitCount(), 32);

    FIBITMAP* rgb565 = FreeImage_Allocate(2, 1, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK);
    auto* word = reinterpret_cast<WORD*>(FreeImage_GetScanLine(rgb565, 0));
    word[0] = 0x07E0;  // pure green in 5-6-5, which 5-5-5 would read as red and green
    ASSERT_TRUE(Save(rgb565, FIF_BMP, folder / "rgb565.bmp"));
    ASSERT_TRUE(image.Load(folder / "rgb565.bmp"));
    EXPECT_EQ(image.GetBitCount(), 24);
    ASSERT_TRUE(image.GetPixelColor(0, 0, bgr));
    EXPECT_EQ(bgr[2], 0);
    EXPECT_EQ(bgr[1], 255);
    EXPECT_EQ(bgr[0], 0);
}

TEST(RasterFile, LayoutsWithoutAFaithfulConversionAreRefused)
{
    TempFolder folder;
    FIBITMAP* floats = FreeImage_AllocateT(FIT_FLOAT, 2, 2);
    ASSERT_TRUE(Save(floats, FIF_TIFF, folder / "float.tif"));
    RasterLoadError error = RasterLoadError::kNone;
    std::string detail;
    EXPECT_EQ(LoadRasterFile(folder / "float.tif", &error, &detail), nullptr);
    EXPECT_EQ(error, RasterLoadError::kUnsupportedLayout);
    EXPECT_FALSE(detail.empty());

    FIBITMAP* cmyk = FreeImage_Allocate(2, 2, 32);
    BYTE profile[4] = {};
    FreeImage_CreateICCProfile(cmyk, profile, sizeof profile)->flags |= FIICC_COLOR_IS_CMYK;
    EXPECT_FALSE(IsHeldRasterLayout(cmyk));
    EXPECT_EQ(NormaliseRasterBitmap(cmyk, &detail), nullptr);  // unloaded here
    EXPECT_NE(detail.find("CMYK"), std::string::npos);
}

TEST(RasterFile, AThreePageTiffOpensAsOneImagePerPage)
{
    TempFolder folder;
    WriteMultiPage(FIF_TIFF, folder / "a.tif", 3);
    std::vector<CRasterPage> pages;
    ASSERT_TRUE(LoadRasterPages(folder / "a.tif", pages));
    ASSERT_EQ(pages.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pages[static_cast<size_t>(i)].name, folder / ("a_" + std::to_string(i) + ".tif"));
        EXPECT_EQ(pages[static_cast<size_t>(i)].image->GetWidth(), 10 + i);
        EXPECT_EQ(pages[static_cast<size_t>(i)].image->GetHeight(), 20 + i);
        EXPECT_EQ(pages[static_cast<size_t>(i)].image->GetPixelIndex(0, 0), 40 * i);
    }
    CRasterLoader loader;
    ASSERT_TRUE(loader.Open(folder / "a.tif"));
    EXPECT_EQ(loader.GetPageCount(), 3);
    EXPECT_EQ(loader.CopyPage(3), nullptr);
    EXPECT_EQ(loader.CopyPage(-1), nullptr);
    loader.SplitPath("/scans/map.tif");
    EXPECT_EQ(loader.GetPageFileName(0), "/scans/map_0.tif");
}

TEST(RasterFile, ASinglePageTiffOpensUnderItsOwnName)
{
    TempFolder folder;
    WriteMultiPage(FIF_TIFF, folder / "one.tif", 1);
    std::vector<CRasterPage> pages;
    ASSERT_TRUE(LoadRasterPages(folder / "one.tif", pages));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].name, folder / "one.tif");
}

TEST(RasterFile, OnlyTiffIsSplitIntoPages)
{
    TempFolder folder;
    WriteMultiPage(FIF_ICO, folder / "icons.ico", 2);
    CRasterLoader loader;
    EXPECT_FALSE(loader.Open(folder / "icons.ico"));
    std::vector<CRasterPage> pages;
    RasterLoadError error = RasterLoadError::kNone;
    EXPECT_FALSE(LoadRasterPages(folder / "icons.ico", pages, &error));
    EXPECT_EQ(error, RasterLoadError::kUnknownFormat);
    EXPECT_FALSE(LoadRasterPages(folder / "drawing.lwt", pages, &error));
}

TEST(RasterFile, LoadingFromMemoryMatchesLoadingTheFile)
{
    TempFolder folder;
    CRasterSrc image;
    MakeRandomImage(image, 13, 6, 8, 7);
    ASSERT_TRUE(image.SaveBMP(folder / "m.bmp"));
    std::vector<BYTE> bytes = ReadBytes(folder / "m.bmp");
    FIBITMAP* bitmap = LoadRasterFromMemory("m.bmp", bytes.data(), bytes.size());
    CRasterSrc fromMemory;
    ASSERT_TRUE(fromMemory.Attach(bitmap));
    EXPECT_TRUE(SameStoredPixels(image, fromMemory));

    WriteMultiPage(FIF_TIFF, folder / "p.tif", 2);
    bytes = ReadBytes(folder / "p.tif");
    CRasterLoader loader;
    ASSERT_TRUE(loader.OpenMemory("p.tif", bytes.data(), bytes.size()));
    EXPECT_EQ(loader.GetPageCount(), 2);
    FIBITMAP* page = loader.CopyPage(1);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(page), 11u);
    FreeImage_Unload(page);
}

namespace {

// A BMP of 24 or 32 bits per pixel written byte by byte: pixel (x, y) from
// the top is colour(x, y) as blue, green, red; rows bottom-up unless topDown.
template <class Colour>
std::vector<BYTE> MakeColourBmp(int width, int height, int bits, bool topDown, Colour colour)
{
    const int bytes = bits / 8;
    const int stride = (width * bytes + 3) & ~3;
    std::vector<BYTE> bmp(54 + static_cast<size_t>(stride) * height, 0);
    auto put32 = [&](size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = static_cast<BYTE>(v >> (8 * i));
    };
    bmp[0] = 'B', bmp[1] = 'M';
    put32(2, static_cast<std::uint32_t>(bmp.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(topDown ? -height : height));
    bmp[26] = 1;
    bmp[28] = static_cast<BYTE>(bits);
    put32(38, 11811);  // 300 dpi across
    put32(42, 3937);   // 100 dpi down
    for (int y = 0; y < height; ++y) {
        BYTE* row = bmp.data() + 54 + static_cast<size_t>(stride) * (topDown ? y : height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::array<BYTE, 3> bgr = colour(x, y);
            std::memcpy(row + x * bytes, bgr.data(), 3);
            if (bytes == 4)
                row[x * bytes + 3] = static_cast<BYTE>(x * 13 + y);  // unused, must not count
        }
    }
    return bmp;
}

// Paper (grey 230 to 250, some tinted) with ink blots and a few random colours, so the
// histogram has the valley the automatic threshold looks for.
std::array<BYTE, 3> PagePixel(std::mt19937& random)
{
    const unsigned pick = random() % 100;
    if (pick < 10) {
        const BYTE v = static_cast<BYTE>(20 + random() % 30);
        return {v, static_cast<BYTE>(v + 5), v};
    }
    if (pick < 12)
        return {static_cast<BYTE>(random()), static_cast<BYTE>(random()), static_cast<BYTE>(random())};
    const BYTE v = static_cast<BYTE>(230 + random() % 21);
    return {v, v, static_cast<BYTE>(pick < 20 ? v - 9 : v)};
}

}  // namespace

TEST(RasterFile, ColourBmpLoadsStraightToOneBitAsLoadingAndThresholdingDoes)
{
    TempFolder folder;
    unsigned seed = 7;
    struct Size {
        int width, height;
    };
    // Widths below, at and across the kernels' blocks of 256 pixels; one
    // page tall enough for several chunks of rows.
    for (const Size size : {Size{1, 1}, Size{7, 3}, Size{255, 4}, Size{256, 2}, Size{600, 5}, Size{300, 2100}}) {
        for (int bits : {24, 32}) {
            for (bool topDown : {false, true}) {
                std::mt19937 random(seed++);
                const std::string path = folder / "page.bmp";
                WriteBytes(path, MakeColourBmp(size.width, size.height, bits, topDown,
                                               [&](int, int) { return PagePixel(random); }));
                for (bool automatic : {true, false}) {
                    const BYTE grey = static_cast<BYTE>(automatic ? 128 : random() % 256);
                    CRasterSrc wanted;
                    ASSERT_TRUE(wanted.Load(path));
                    BYTE threshold = grey;
                    if (automatic && wanted.GetAutoThreshold() != 0)
                        threshold = wanted.GetAutoThreshold();
                    // A page of some size has its valley.
                    if (automatic && size.width * size.height >= 1000) {
                        EXPECT_NE(threshold, grey);
                    }
                    ASSERT_TRUE(wanted.ConvertTo1Bit(threshold));

                    CRasterSrc got;
                    ASSERT_EQ(LoadBmpAsOneBit(path, grey, automatic, got), OneBitLoad::kDone);
                    const std::string what = std::to_string(size.width) + " x " + std::to_string(size.height) + ", " +
                                             std::to_string(bits) + " bits" + (topDown ? ", top-down" : "") +
                                             (automatic ? ", automatic" : ", grey " + std::to_string(grey));
                    ASSERT_EQ(got.GetBitCount(), 1) << what;
                    ASSERT_EQ(got.GetWidth(), size.width) << what;
                    ASSERT_EQ(got.GetHeight(), size.height) << what;
                    EXPECT_EQ(Bits(got), Bits(wanted)) << what;
                    EXPECT_EQ(got.GetHeader()->biXPelsPerMeter, wanted.GetHeader()->biXPelsPerMeter) << what;
                    EXPECT_EQ(got.GetHeader()->biYPelsPerMeter, wanted.GetHeader()->biYPelsPerMeter) << what;
                }
            }
        }
    }
}

TEST(RasterFile, OtherFilesAreLeftToTheOrdinaryLoad)
{
    TempFolder folder;
    CRasterSrc image;
    ASSERT_TRUE(image.Create(20, 10, 8));
    ASSERT_TRUE(image.SaveBMP(folder / "grey.bmp"));
    const auto white = [](int, int) { return std::array<BYTE, 3>{255, 255, 255}; };
    std::vector<BYTE> colour = MakeColourBmp(20, 10, 24, false, white);
    WriteBytes(folder / "colour.tif", colour);
    colour.resize(colour.size() - 61);  // the last row and part of the one above
    WriteBytes(folder / "short.bmp", colour);
    for (const char* name : {"grey.bmp", "colour.tif", "short.bmp", "missing.bmp"}) {
        CRasterSrc target;
        EXPECT_EQ(LoadBmpAsOneBit(folder / name, 128, true, target), OneBitLoad::kNotInPlace) << name;
        EXPECT_TRUE(target.IsEmpty()) << name;
    }
}

TEST(RasterFile, ALargeBmpIsCopiedInChunksRowForRow)
{
    // Over 16 MB of pixels: copied in several chunks of rows, each split
    // across the threads, whatever their count.
    TempFolder folder;
    const int width = 2900, height = 2000;
    const auto colour = [](int x, int y) {
        return std::array<BYTE, 3>{static_cast<BYTE>(x * 7 + y), static_cast<BYTE>(y * 3 + x),
                                   static_cast<BYTE>(x ^ y)};
    };
    WriteBytes(folder / "large.bmp", MakeColourBmp(width, height, 24, false, colour));
    for (int threads : {1, 3}) {
        SetRowBandThreads(threads);
        CRasterSrc image;
        ASSERT_TRUE(image.Load(folder / "large.bmp"));
        std::int64_t wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                wrong += std::memcmp(image.GetRow(y) + 3 * x, colour(x, y).data(), 3) != 0;
        EXPECT_EQ(wrong, 0) << threads << " threads";
    }
    SetRowBandThreads(0);
}
