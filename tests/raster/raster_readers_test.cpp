// Raster files as users have them: what ImageMagick writes by default in each
// format reads as the same pixels as the PNG that ImageMagick makes of the
// same file (transparent pixels over white); files that end early are
// truncated in every format; headers declaring more than the file can hold
// or the machine can take are refused before anything is allocated; a file
// is read as what it holds, whatever its name.
#include "crafted_files.h"
#include "raster_test_support.h"

#include "raster/raster_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

bool HasImageMagick()
{
    static const bool has = std::system("convert -version >/dev/null 2>&1") == 0;
    return has;
}

bool Convert(const std::string& arguments)
{
    return std::system(("convert " + arguments + " 2>/dev/null").c_str()) == 0;
}

// The largest difference of any colour byte between the image and the
// reference file, read by the library's own reader of its format with any
// alpha put over white; -1 when the sizes differ.
int LargestDifference(CRasterSrc& image, const std::string& file, FREE_IMAGE_FORMAT format = FIF_PNG)
{
    FIBITMAP* loaded = FreeImage_Load(format, file.c_str(), 0);
    if (!loaded)
        return -1;
    if (FreeImage_GetBPP(loaded) == 32) {
        for (unsigned y = 0; y < FreeImage_GetHeight(loaded); ++y) {
            BYTE* p = FreeImage_GetScanLine(loaded, static_cast<int>(y));
            for (unsigned x = 0; x < FreeImage_GetWidth(loaded); ++x, p += 4) {
                const double alpha = p[3] / 255.0;
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<BYTE>(std::lround(p[c] * alpha + 255.0 * (1.0 - alpha)));
            }
        }
    }
    FIBITMAP* reference = FreeImage_ConvertTo24Bits(loaded);
    FreeImage_Unload(loaded);
    int largest = -1;
    if (static_cast<int>(FreeImage_GetWidth(reference)) == image.GetWidth() &&
        static_cast<int>(FreeImage_GetHeight(reference)) == image.GetHeight()) {
        largest = 0;
        for (int y = 0; y < image.GetHeight(); ++y) {
            const BYTE* row = FreeImage_GetScanLine(reference, image.GetHeight() - 1 - y);
            for (int x = 0; x < image.GetWidth(); ++x) {
                BYTE colour[4] = {};
                image.GetPixelColor(x, y, colour);
                for (int c = 0; c < 3; ++c)
                    largest = std::max(largest, std::abs(colour[c] - row[3 * x + c]));
            }
        }
    }
    FreeImage_Unload(reference);
    return largest;
}

// A drawing of few colours, so palette formats hold it exactly, and the same
// on a transparent black background with a half-transparent part.
struct Sources {
    std::string opaque, transparent;
};

Sources MakeSources(TempFolder& folder)
{
    Sources s{folder / "opaque.png", folder / "transparent.png"};
    const std::string shapes = "-fill 'rgb(200,30,40)' -draw 'circle 18,8 18,2' "
                               "-fill 'rgba(20,120,220,0.5)' -draw 'rectangle 2,2 10,20' ";
    EXPECT_TRUE(Convert("-size 37x23 gradient:white-'rgb(190,230,200)' " + shapes + "-alpha off -depth 8 " + s.opaque));
    EXPECT_TRUE(Convert("-size 37x23 xc:none " + shapes + "-depth 8 " + s.transparent));
    return s;
}

struct Fixture {
    const char* name;
    const char* options;  // between the source and the output
    bool transparent;
    int bits;       // as loaded
    int tolerance;  // channels narrower than a byte widen by rounding here, by bit copies there
};

constexpr Fixture kFixtures[] = {
    {"v5_1.bmp", "-threshold 50% -type bilevel", false, 1, 0},
    {"v5_8.bmp", "-type palette -compress none", false, 8, 0},
    {"v5_24.bmp", "-type truecolor", false, 24, 0},
    {"v5_32.bmp", "-type truecolormatte", true, 32, 1},
    {"bmp3.bmp", "-type truecolor -define bmp:format=bmp3", false, 24, 0},
    {"rle8.bmp", "-type palette -compress RLE -define bmp:format=bmp3", false, 8, 0},
    {"rgb565.bmp", "-type truecolor -define bmp:subtype=RGB565", false, 24, 1},
    {"rgb555.bmp", "-type truecolor -define bmp:subtype=RGB555", false, 16, 8},
    // ImageMagick widens 4-bit channels by a shift (15 reads as 240).
    {"argb4444.bmp", "-define bmp:subtype=ARGB4444", true, 32, 17},
    {"planes3.pcx", "-type truecolor", false, 24, 0},
    {"planes4.pcx", "-type truecolormatte", true, 32, 1},
    {"index8.pcx", "-type palette", false, 8, 0},
    {"index4.bmp", "-colors 9 -type palette -compress none", false, 4, 0},
    {"alpha.tga", "-type truecolormatte", true, 32, 1},
    {"rle.tga", "-type truecolor -compress RLE", false, 24, 0},
    {"mapped.tga", "-type palette", false, 8, 0},
    {"alpha.tif", "-type truecolormatte -compress lzw", true, 32, 1},
    {"premultiplied.tif", "-type truecolormatte -define tiff:alpha=associated", true, 32, 2},
};

// The same file stored top-down: height negated, rows in the other order.
std::vector<BYTE> TopDown(std::vector<BYTE> bmp)
{
    const std::uint32_t at = bmp[10] | bmp[11] << 8 | bmp[12] << 16 | static_cast<std::uint32_t>(bmp[13]) << 24;
    const int width = bmp[18] | bmp[19] << 8, height = bmp[22] | bmp[23] << 8, bits = bmp[28];
    const size_t stride = static_cast<size_t>((width * bits + 31) / 32 * 4);
    std::vector<BYTE> flipped = bmp;
    if (bmp[30] != 0 && bmp[30] != 3)  // run-length rows cannot be stored top-down
        return {};
    flipped.resize(std::max(bmp.size(), at + height * stride));
    for (int row = 0; row < height; ++row)
        std::copy_n(bmp.begin() + at + row * stride, stride, flipped.begin() + at + (height - 1 - row) * stride);
    Put(flipped, 22, static_cast<std::uint32_t>(-height), 4);
    return flipped;
}

}  // namespace

TEST(RasterReaders, ImageMagickFilesReadAsTheirPngInEveryFormat)
{
    if (!HasImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    TempFolder folder;
    const Sources sources = MakeSources(folder);
    for (const Fixture& f : kFixtures) {
        const std::string file = folder / f.name;
        const std::string reference = folder / (std::string(f.name) + ".png");
        ASSERT_TRUE(Convert((f.transparent ? sources.transparent : sources.opaque) + " " + f.options + " " + file));
        // ImageMagick's own reading of the file, over white.
        ASSERT_TRUE(
            Convert(file + " -background white -alpha remove -alpha off -type truecolor -depth 8 " + reference));
        CRasterSrc image;
        ASSERT_TRUE(image.Load(file)) << f.name;
        EXPECT_EQ(image.GetBitCount(), f.bits) << f.name;
        // ImageMagick reads its own TARGA files upside down (their first row
        // is the top one, their header says the bottom one): the TARGA
        // reference is the library's reader, which the old loader used.
        const bool targa = std::string(f.name).ends_with(".tga");
        int difference = targa ? LargestDifference(image, file, FIF_TARGA) : LargestDifference(image, reference);
        EXPECT_GE(difference, 0) << f.name;
        EXPECT_LE(difference, f.tolerance) << f.name;
    }
    // The headers ImageMagick writes by default are the newest ones.
    EXPECT_EQ(ReadBytes(folder / "v5_24.bmp")[14], 124);

    for (const char* name : {"v5_24.bmp", "v5_32.bmp", "v5_8.bmp", "v5_1.bmp"}) {
        const std::string flipped = folder / (std::string("top_") + name);
        WriteBytes(flipped, TopDown(ReadBytes(folder / name)));
        CRasterSrc image;
        ASSERT_TRUE(image.Load(flipped)) << name;
        EXPECT_LE(LargestDifference(image, folder / (std::string(name) + ".png")), 1) << name;
    }
}

TEST(RasterReaders, FilesThatEndEarlyAreTruncatedInEveryFormat)
{
    if (!HasImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    TempFolder folder;
    const std::string source = folder / "source.png";
    // Noise, so that no format compresses it to a few bytes.
    ASSERT_TRUE(Convert("-size 61x47 xc: +noise Random -depth 8 " + source));
    const char* const files[] = {"a.bmp", "b.bmp", "c.pcx", "d.pcx", "e.tga",
                                 "f.tga", "g.tif", "h.tif", "i.jpg", "j.tif"};
    const char* const options[] = {"-type truecolor", "-type palette -colors 200 -compress RLE",
                                   "-type truecolor", "-colors 200 -type palette",
                                   "-type truecolor", "-compress RLE",
                                   "-compress lzw",   "-compress none",
                                   "-quality 90",     "-type palette -compress none"};
    for (size_t i = 0; i < std::size(files); ++i) {
        const std::string whole = folder / files[i];
        ASSERT_TRUE(Convert(source + " " + options[i] + " " + whole));
        ASSERT_EQ(LoadError(whole), RasterLoadError::kNone) << files[i];
        const std::vector<BYTE> bytes = ReadBytes(whole);
        // ImageMagick's TIFF files may end with tags the page does not need.
        const bool tiff = std::string(files[i]).ends_with(".tif");
        for (double part : {0.02, 0.3, 0.6, tiff ? 0.6 : (bytes.size() - 100.0) / bytes.size()}) {
            const std::vector<BYTE> cut(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() * part));
            const std::string path = folder / ("cut_" + std::to_string(part) + "_" + files[i]);
            WriteBytes(path, cut);
            std::string detail;
            EXPECT_EQ(LoadError(path, &detail), RasterLoadError::kTruncated)
                << files[i] << " at " << part << ": " << detail;
        }
    }
}

TEST(RasterReaders, AFileIsReadAsWhatItHolds)
{
    TempFolder folder;
    CRasterSrc image;
    MakeRandomImage(image, 13, 5, 24, 3);
    ASSERT_TRUE(image.SaveBMP(folder / "scan.bmp"));
    const std::vector<BYTE> bmp = ReadBytes(folder / "scan.bmp");
    WriteBytes(folder / "scan.pcx", bmp);
    CRasterSrc again;
    ASSERT_TRUE(again.Load(folder / "scan.pcx"));
    ASSERT_EQ(again.GetWidth(), 13);
    for (int x = 0; x < 13; ++x) {
        BYTE a[4] = {}, b[4] = {};
        image.GetPixelColor(x, 4, a);
        again.GetPixelColor(x, 4, b);
        EXPECT_TRUE(std::equal(a, a + 3, b)) << x;
    }
    EXPECT_EQ(RasterContentFormatName(folder / "scan.pcx"), "BMP");
    EXPECT_EQ(RasterFileFormatName(folder / "scan.pcx"), "PCX");
    // A name outside the five still refuses the file.
    WriteBytes(folder / "scan.png", bmp);
    EXPECT_EQ(LoadError(folder / "scan.png"), RasterLoadError::kUnknownFormat);

    std::string detail;
    EXPECT_EQ(LoadError(folder / "absent.tif", &detail), RasterLoadError::kNotFound);
    EXPECT_EQ(detail, "No such file or directory");
    std::filesystem::create_directory(folder / "folder.tga");
    EXPECT_EQ(LoadError(folder / "folder.tga", &detail), RasterLoadError::kNotReadable);
    EXPECT_EQ(detail, "Is a directory");
}

// ------------------------------------------------------- crafted files --

TEST(RasterReaders, AOneBitTiffWithSeparatePlanesReadsAsItsPixels)
{
    // The image library aborted on this valid page: one sample, planes apart.
    TempFolder folder;
    const std::vector<BYTE> rows = {0x55, 0x80, 0xAA, 0x00, 0xFF, 0x80};
    WriteBytes(
        folder / "planes.tif",
        Tiff({{256, 3, 9}, {257, 3, 3}, {258, 3, 1}, {259, 3, 1}, {262, 3, 0}, {277, 3, 1}, {278, 3, 3}, {284, 3, 2}},
             rows));
    CRasterSrc image;
    ASSERT_TRUE(image.Load(folder / "planes.tif"));
    ASSERT_EQ(image.GetBitCount(), 1);
    // Min-is-white: a set bit is black, as the image keeps it.
    std::string seen;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 9; ++x)
            seen += image.GetPixelIndex(x, y) ? '#' : '.';
    EXPECT_EQ(seen, ".#.#.#.##"
                    "#.#.#.#.."
                    "#########");
}

TEST(RasterReaders, DeclaredSizesBeyondTheBytesPresentAreTruncatedNotAllocated)
{
    TempFolder folder;
    std::string detail;
    // A page of 100000 x 100000 at one bit whose strip is not in the file.
    WriteBytes(
        folder / "absent.tif",
        Tiff({{256, 4, 100000}, {257, 4, 100000}, {258, 3, 1}, {259, 3, 4}, {262, 3, 0}, {278, 4, 100000}}, {}, 1000));
    EXPECT_EQ(LoadError(folder / "absent.tif", &detail), RasterLoadError::kTruncated);
    EXPECT_NE(detail.find("beyond the end"), std::string::npos) << detail;
    // 40000 x 40000 colour from ten bytes of LZW.
    WriteBytes(
        folder / "lzw.tif",
        Tiff({{256, 4, 40000}, {257, 4, 40000}, {258, 3, 8}, {259, 3, 5}, {262, 3, 2}, {277, 3, 3}, {278, 4, 40000}},
             std::vector<BYTE>(10, 0x80)));
    EXPECT_EQ(LoadError(folder / "lzw.tif", &detail), RasterLoadError::kTruncated);
    EXPECT_NE(detail.find("cannot hold"), std::string::npos) << detail;
    // The same page with enough LZW bytes to be possible is not refused for
    // its size, only for its content.
    WriteBytes(folder / "dense.tif",
               Tiff({{256, 4, 40}, {257, 4, 40}, {258, 3, 8}, {259, 3, 5}, {262, 3, 2}, {277, 3, 3}, {278, 4, 40}},
                    std::vector<BYTE>(4, 0x80)));
    EXPECT_NE(LoadError(folder / "dense.tif"), RasterLoadError::kTruncated);

    // A grey JPEG frame of 8000 x 8000 with two hundred bytes of scan, ended.
    std::vector<BYTE> jpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0x1F, 0x40, 0x1F, 0x40, 1, 1,
                              0x11, 0,    0xFF, 0xDA, 0, 8,  1, 1,    0,    0,    63,   0};
    jpeg.resize(jpeg.size() + 200, 0);
    jpeg.push_back(0xFF);
    jpeg.push_back(0xD9);
    WriteBytes(folder / "frame.jpg", jpeg);
    EXPECT_EQ(LoadError(folder / "frame.jpg", &detail), RasterLoadError::kTruncated) << detail;
    EXPECT_NE(detail.find("cannot hold"), std::string::npos) << detail;

    // Run-length TARGA of 60000 x 60000 grey in 100 bytes.
    std::vector<BYTE> tga(18 + 100, 0);
    tga[2] = 11;
    Put(tga, 12, 60000, 2);
    Put(tga, 14, 60000, 2);
    tga[16] = 8;
    WriteBytes(folder / "runs.tga", tga);
    EXPECT_EQ(LoadError(folder / "runs.tga", &detail), RasterLoadError::kTruncated);
    EXPECT_NE(detail.find("cannot hold"), std::string::npos) << detail;

    // Beyond what the machine may give an image: too large, not damaged.
    std::uint64_t previous = SetMaxRasterPixelBytes(1000);
    EXPECT_EQ(LoadError(folder / "dense.tif", &detail), RasterLoadError::kTooLarge);
    SetMaxRasterPixelBytes(previous);
    EXPECT_NE(RasterLoadErrorText(RasterLoadError::kTooLarge).find("too large for this machine"), std::string::npos);
}

TEST(RasterReaders, CraftedTargaHeadersAreRefusedCleanly)
{
    TempFolder folder;
    // Colour-mapped, map of 1 entry at 24 bits, 65535 x 65535, then nothing.
    std::vector<BYTE> mapped = {0, 1, 1, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 8, 0};
    mapped.resize(44, 0);
    WriteBytes(folder / "mapped.tga", mapped);
    EXPECT_NE(LoadError(folder / "mapped.tga"), RasterLoadError::kNone);
    // Seven bytes of header and a footer that claims the file.
    std::vector<BYTE> footer = {0, 0, 2, 0, 0, 0, 0};
    for (char c : std::string("TRUEVISION-XFILE.")) {
        footer.push_back(static_cast<BYTE>(c));
    }
    footer.push_back(0);
    WriteBytes(folder / "footer.tga", footer);
    EXPECT_EQ(LoadError(folder / "footer.tga"), RasterLoadError::kUnsupportedLayout);
    // A true-colour image of 2 x 1 whose pixels are all there reads.
    std::vector<BYTE> small = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 0, 1, 2, 3, 4, 5, 6};
    WriteBytes(folder / "small.tga", small);
    CRasterSrc image;
    ASSERT_TRUE(image.Load(folder / "small.tga"));
    BYTE colour[4] = {};
    ASSERT_TRUE(image.GetPixelColor(1, 0, colour));
    EXPECT_EQ(colour[0], 4);
    EXPECT_EQ(colour[2], 6);
}

TEST(RasterReaders, ThousandsOfPagesAreWalkedOnce)
{
    // Page i is (1 + i % 7) pixels wide, one row, its first pixel black.
    constexpr int kPages = 6000;
    std::vector<BYTE> tiff = {'I', 'I', 42, 0, 0, 0, 0, 0};
    size_t link = 4;
    for (int i = 0; i < kPages; ++i) {
        const size_t strip = tiff.size();
        tiff.push_back(0x80);
        tiff.push_back(0);
        const size_t ifd = tiff.size();
        Put(tiff, link, ifd, 4);
        const std::uint32_t entries[][3] = {
            {256, 3, static_cast<std::uint32_t>(1 + i % 7)}, {257, 3, 1}, {258, 3, 1}, {259, 3, 1}, {262, 3, 0},
            {273, 4, static_cast<std::uint32_t>(strip)},     {277, 3, 1}, {278, 3, 1}, {279, 4, 1}};
        Put(tiff, ifd, std::size(entries), 2);
        for (size_t e = 0; e < std::size(entries); ++e) {
            Put(tiff, ifd + 2 + 12 * e, entries[e][0], 2);
            Put(tiff, ifd + 4 + 12 * e, entries[e][1], 2);
            Put(tiff, ifd + 6 + 12 * e, 1, 4);
            Put(tiff, ifd + 10 + 12 * e, entries[e][2], 4);
        }
        link = ifd + 2 + 12 * std::size(entries);
        Put(tiff, link, 0, 4);
    }
    TempFolder folder;
    WriteBytes(folder / "pages.tif", tiff);
    std::vector<CRasterPage> pages;
    ASSERT_TRUE(LoadRasterPages(folder / "pages.tif", pages));
    ASSERT_EQ(pages.size(), static_cast<size_t>(kPages));
    for (int i : {0, 1, 2345, kPages - 1}) {
        EXPECT_EQ(pages[static_cast<size_t>(i)].image->GetWidth(), 1 + i % 7) << i;
        EXPECT_EQ(pages[static_cast<size_t>(i)].image->GetPixelIndex(0, 0), 1) << i;
    }
}

TEST(RasterReaders, PcxBitPlanesCombineIntoIndices)
{
    // 10 x 2 pixels, rows of 2 bytes per plane, run-length coded; the header's
    // table gives the colours.
    auto header = [](int planes) {
        std::vector<BYTE> pcx(128, 0);
        pcx[0] = 10, pcx[1] = 5, pcx[2] = 1, pcx[3] = 1;
        Put(pcx, 8, 9, 2);
        Put(pcx, 10, 1, 2);
        pcx[65] = static_cast<BYTE>(planes);
        Put(pcx, 66, 2, 2);
        for (int i = 0; i < 16; ++i) {  // entry i: red 16 i, green 255 - 16 i, blue i
            pcx[16 + 3 * i] = static_cast<BYTE>(16 * i);
            pcx[17 + 3 * i] = static_cast<BYTE>(255 - 16 * i);
            pcx[18 + 3 * i] = static_cast<BYTE>(i);
        }
        return pcx;
    };
    TempFolder folder;
    // One plane with an empty table: clear bits black, set bits white (the
    // image keeps white as 0). Row 0 is 1010 0000 00, row 1 a run of 0xFF.
    std::vector<BYTE> mono = header(1);
    std::fill(mono.begin() + 16, mono.begin() + 64, 0);
    mono.insert(mono.end(), {0xA0, 0x00, 0xC2, 0xFF});
    WriteBytes(folder / "mono.pcx", mono);
    CRasterSrc image;
    ASSERT_TRUE(image.Load(folder / "mono.pcx"));
    ASSERT_EQ(image.GetBitCount(), 1);
    std::string seen;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 10; ++x)
            seen += image.GetPixelIndex(x, y) ? '#' : '.';
    EXPECT_EQ(seen, ".#.#######"
                    "..........");
    BYTE colour[4] = {};

    // Four planes: pixel x of row 0 has bit p set in plane p when bit p of x is.
    std::vector<BYTE> ega = header(4);
    const BYTE planes[4][2] = {{0x55, 0x40}, {0x33, 0x00}, {0x0F, 0x00}, {0x00, 0xC0}};
    for (int row = 0; row < 2; ++row) {
        for (const auto& plane : planes) {
            for (BYTE b : plane) {
                if (b >= 0xC0)  // a literal that looks like a run is a run of one
                    ega.push_back(0xC1);
                ega.push_back(b);
            }
        }
    }
    WriteBytes(folder / "ega.pcx", ega);
    ASSERT_TRUE(image.Load(folder / "ega.pcx"));
    ASSERT_EQ(image.GetBitCount(), 4);
    for (int x = 0; x < 10; ++x) {
        ASSERT_TRUE(image.GetPixelColor(x, 1, colour));
        EXPECT_EQ(colour[0], x) << x;  // blue holds the index
        EXPECT_EQ(colour[2], 16 * x) << x;
    }
    // The same file a row short is truncated.
    ega.resize(ega.size() - 8);
    WriteBytes(folder / "short.pcx", ega);
    EXPECT_EQ(LoadError(folder / "short.pcx"), RasterLoadError::kTruncated);
}

TEST(RasterReaders, SampleLayoutsWithoutAReaderAreUnsupportedNotDamaged)
{
    // CMYK and alpha, five samples of 8 bits.
    TempFolder folder;
    WriteBytes(
        folder / "cmyka.tif",
        Tiff({{256, 3, 4}, {257, 3, 3}, {258, 3, 8}, {259, 3, 1}, {262, 3, 5}, {277, 3, 5}, {278, 3, 3}, {338, 3, 2}},
             std::vector<BYTE>(60, 0x40)));
    EXPECT_EQ(LoadError(folder / "cmyka.tif"), RasterLoadError::kUnsupportedLayout);

    // Colour pages with fewer samples than channels made the library abort:
    // CMYK of two planes apart (a fuzzer's find), RGB of two samples.
    WriteBytes(folder / "cmyk2.tif", Tiff({{256, 3, 4},
                                           {257, 3, 3},
                                           {258, 3, 8},
                                           {259, 3, 1},
                                           {262, 3, 5},
                                           {277, 3, 2},
                                           {278, 3, 3},
                                           {284, 3, 2},
                                           {338, 3, 2}},
                                          std::vector<BYTE>(24, 0x40)));
    EXPECT_EQ(LoadError(folder / "cmyk2.tif"), RasterLoadError::kUnsupportedLayout);
    WriteBytes(folder / "rg.tif",
               Tiff({{256, 3, 4}, {257, 3, 3}, {258, 3, 8}, {259, 3, 1}, {262, 3, 2}, {277, 3, 2}, {278, 3, 3}},
                    std::vector<BYTE>(24, 0x40)));
    EXPECT_EQ(LoadError(folder / "rg.tif"), RasterLoadError::kUnsupportedLayout);
    // A palette page of four 4-bit samples made the library write through a
    // null row: the fuzzer's input, past its format-choosing byte.
    std::ifstream seed(std::filesystem::path(LW_TEST_DATA_DIR) / ".." / ".." / "fuzz" / "corpus" / "raster_decoders" /
                           "tiff_palette_four_samples",
                       std::ios::binary);
    std::vector<BYTE> found((std::istreambuf_iterator<char>(seed)), std::istreambuf_iterator<char>());
    ASSERT_GT(found.size(), 8u);
    WriteBytes(folder / "palette4.tif", std::vector<BYTE>(found.begin() + 1, found.end()));
    EXPECT_EQ(LoadError(folder / "palette4.tif"), RasterLoadError::kUnsupportedLayout);
}

namespace {

// A BMP of w x h at 4 or 8 bits with the given compression (1 RLE8, 2 RLE4):
// palette entry 0 white, every other entry black.
std::vector<BYTE> PaletteBmp(int w, int h, int bits, int compression, const std::vector<BYTE>& pixels,
                             std::uint32_t xDpm = 0, std::uint32_t yDpm = 0)
{
    const size_t entries = size_t{1} << bits, at = 14 + 40 + 4 * entries;
    std::vector<BYTE> bmp = {'B', 'M'};
    Put(bmp, 2, at + pixels.size(), 4);
    Put(bmp, 10, at, 4);
    Put(bmp, 14, 40, 4);
    Put(bmp, 18, static_cast<std::uint32_t>(w), 4);
    Put(bmp, 22, static_cast<std::uint32_t>(h), 4);
    Put(bmp, 26, 1, 2);
    Put(bmp, 28, static_cast<std::uint32_t>(bits), 2);
    Put(bmp, 30, static_cast<std::uint32_t>(compression), 4);
    Put(bmp, 34, pixels.size(), 4);
    Put(bmp, 38, xDpm, 4);
    Put(bmp, 42, yDpm, 4);
    Put(bmp, 46, entries, 4);
    Put(bmp, 54, 0x00FFFFFF, 4);
    Put(bmp, at - 1, 0, 1);
    bmp.insert(bmp.end(), pixels.begin(), pixels.end());
    return bmp;
}

// Rows from the top, '#' for black.
std::string Picture(const CRasterSrc& image)
{
    std::string seen;
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            BYTE colour[4] = {};
            EXPECT_TRUE(image.GetPixelColor(x, y, colour));
            seen += colour[0] == 0 ? '#' : '.';
        }
        seen += '/';
    }
    return seen;
}

}  // namespace

TEST(RasterReaders, DamagedRunLengthBmpReadsWithAWarningDrawingNothingOutside)
{
    TempFolder folder;
    struct Case {
        const char* name;
        int bits;
        std::vector<BYTE> runs;
        const char* picture;
        const char* warning;
    } cases[] = {
        // RLE8, 4 x 3: a run of six on the bottom row, then an end of line.
        {"overrun8", 8, {6, 1, 0, 0, 2, 1, 0, 1}, "..../##../####/", "a run overruns row 1 from the bottom"},
        // A literal of five after two pixels on the middle row.
        {"literal8",
         8,
         {0, 0, 2, 1, 0, 5, 1, 1, 1, 1, 1, 0, 0, 1},
         "..../####/..../",
         "a run overruns row 2 from the bottom"},
        // A move five to the right from the bottom row, then a run.
        {"right8",
         8,
         {1, 1, 0, 2, 5, 0, 2, 1, 0, 1},
         "..../..../#.../",
         "a move from row 1 from the bottom leaves the image"},
        // A move up past the top.
        {"up8", 8, {0, 2, 0, 3, 1, 1, 0, 1}, "..../..../..../", "a move from row 1 from the bottom leaves the image"},
        // RLE4: a run of nine alternating black and white pixels on 4.
        {"overrun4", 4, {9, 0x10, 0, 1}, "..../..../#.#./", "a run overruns row 1 from the bottom"},
        // Sound files warn of nothing.
        {"sound8", 8, {4, 1, 0, 0, 0, 1}, "..../..../####/", ""},
        {"sound4", 4, {1, 0x00, 1, 0x10, 2, 0x00, 0, 1}, "..../..../.#../", ""},
    };
    for (const Case& c : cases) {
        const std::string path = folder / (std::string(c.name) + ".bmp");
        WriteBytes(path, PaletteBmp(4, 3, c.bits, c.bits == 8 ? 1 : 2, c.runs));
        CRasterSrc image;
        std::string why;
        ASSERT_EQ(LoadError(path, &why), RasterLoadError::kNone) << c.name << ": " << why;
        ASSERT_TRUE(image.Load(path)) << c.name;
        EXPECT_EQ(Picture(image), c.picture) << c.name;
        EXPECT_EQ(GetLastRasterLoadWarning(), c.warning) << c.name;
    }
    // The next load starts without the last one's warning.
    WriteBytes(folder / "overrun.bmp", PaletteBmp(4, 3, 8, 1, cases[0].runs));
    WriteBytes(folder / "plain.bmp", PaletteBmp(4, 1, 8, 0, {1, 0, 1, 0}));
    CRasterSrc image;
    ASSERT_TRUE(image.Load(folder / "overrun.bmp"));
    ASSERT_TRUE(image.Load(folder / "plain.bmp"));
    EXPECT_EQ(GetLastRasterLoadWarning(), "");
}

TEST(RasterReaders, AResolutionAbove100000DpiCountsAsNone)
{
    TempFolder folder;
    auto dotsPerMetre = [&](std::uint32_t x, std::uint32_t y) {
        WriteBytes(folder / "page.bmp", PaletteBmp(4, 1, 8, 0, {1, 0, 1, 0}, x, y));
        CRasterSrc image;
        EXPECT_TRUE(image.Load(folder / "page.bmp"));
        return std::pair<LONG, LONG>(image.GetHeader()->biXPelsPerMeter, image.GetHeader()->biYPelsPerMeter);
    };
    // 3937008 dots per metre is 100,000 dpi to the nearest dot.
    EXPECT_EQ(dotsPerMetre(3937008, 11811), std::make_pair(LONG{3937008}, LONG{11811}));
    EXPECT_EQ(dotsPerMetre(3937009, 11811), std::make_pair(LONG{0}, LONG{0}));
    EXPECT_EQ(dotsPerMetre(11811, 3937009), std::make_pair(LONG{0}, LONG{0}));
}

TEST(RasterReaders, TargaColourMapsWithoutTheIndicesUsedAreRefused)
{
    // 2 x 1 colour-mapped pixels, 24-bit map entries: blue, green, red.
    auto mapped = [](unsigned first, const std::vector<BYTE>& map, std::vector<BYTE> indices) {
        std::vector<BYTE> tga = {0, 1, 1};
        Put(tga, 3, first, 2);
        Put(tga, 5, map.size() / 3, 2);
        tga.push_back(24);
        Put(tga, 12, 2, 2);
        Put(tga, 14, 1, 2);
        tga.push_back(8);
        tga.push_back(0x20);
        tga.insert(tga.end(), map.begin(), map.end());
        tga.insert(tga.end(), indices.begin(), indices.end());
        return tga;
    };
    TempFolder folder;
    const std::string path = folder / "mapped.tga";
    std::string detail;
    // A map of no entries made a black page.
    WriteBytes(path, mapped(0, {}, {0, 0}));
    EXPECT_EQ(LoadError(path, &detail), RasterLoadError::kDecodeFailed);
    EXPECT_EQ(detail, "a colour map of 0 entries");
    const std::vector<BYTE> two = {255, 0, 0, 0, 0, 255};  // blue, red
    WriteBytes(path, mapped(0, two, {1, 2}));
    EXPECT_EQ(LoadError(path, &detail), RasterLoadError::kDecodeFailed);
    EXPECT_EQ(detail, "pixels use index 2, the colour map holds 0 to 1");
    WriteBytes(path, mapped(3, two, {2, 4}));
    EXPECT_EQ(LoadError(path, &detail), RasterLoadError::kDecodeFailed);
    EXPECT_EQ(detail, "pixels use index 2, the colour map holds 3 to 4");
    // Indices within a map that starts late read as its entries.
    WriteBytes(path, mapped(3, two, {4, 3}));
    CRasterSrc image;
    ASSERT_TRUE(image.Load(path));
    BYTE colour[4] = {};
    ASSERT_TRUE(image.GetPixelColor(0, 0, colour));
    EXPECT_EQ(colour[2], 255);
    ASSERT_TRUE(image.GetPixelColor(1, 0, colour));
    EXPECT_EQ(colour[0], 255);
}
