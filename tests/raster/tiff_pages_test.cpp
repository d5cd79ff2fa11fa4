// TIFF pages checked before the library decodes them: a page is read as a
// viewer shows it or refused with what is wrong, never read as a blank or
// wrongly coloured page. Every page here is a few directory entries.
#include "crafted_files.h"
#include "raster_test_support.h"

#include "raster/raster_file.h"
#include "raster/pixel_math.h"
#include "raster/tiff_pages.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kWidth = 256, kHeight = 257, kBits = 258, kCompression = 259, kPhotometric = 262,
                        kSamples = 277, kRowsPerStrip = 278, kXResolution = 282, kYResolution = 283,
                        kResolutionUnit = 296, kTileWidth = 322, kTileHeight = 323, kExtraSamples = 338,
                        kSampleFormat = 339;

// A grey page of w x h pixels at bits per sample, one strip of the given
// bytes, with extra entries.
std::vector<BYTE> GreyPage(std::uint32_t w, std::uint32_t h, std::uint32_t bits, const std::vector<BYTE>& pixels,
                           std::vector<CTiffEntry> extra = {})
{
    std::vector<CTiffEntry> entries = {{kWidth, kTiffLong, w},        {kHeight, kTiffLong, h},
                                       {kBits, kTiffShort, bits},     {kCompression, kTiffShort, 1},
                                       {kPhotometric, kTiffShort, 1}, {kSamples, kTiffShort, 1},
                                       {kRowsPerStrip, kTiffLong, h}};
    for (const CTiffEntry& e : extra) {
        bool replaced = false;
        for (CTiffEntry& existing : entries) {
            if (existing.tag == e.tag) {
                existing = e;
                replaced = true;
            }
        }
        if (!replaced)
            entries.push_back(e);
    }
    return CraftTiff(entries, pixels);
}

// The file loaded, or the reason it was refused in detail.
struct Loaded {
    RasterLoadError error = RasterLoadError::kNone;
    std::string detail;
    CRasterSrc image;
};

void Load(const std::vector<BYTE>& bytes, Loaded& out)
{
    TempFolder folder;
    WriteBytes(folder / "page.tif", bytes);
    FIBITMAP* bitmap = LoadRasterFile(folder / "page.tif", &out.error, &out.detail);
    if (bitmap) {
        ASSERT_TRUE(out.image.Attach(bitmap));
    }
}

}  // namespace

TEST(TiffPages, SamplesThatAreNotUnsignedIntegersAreRefusedAtEveryDepth)
{
    // Half floats decoded as green where they were white.
    struct Case {
        std::uint32_t bits, format;
        const char* named;
    } cases[] = {{16, 3, "floating-point samples of 16 bits"},
                 {8, 2, "signed integer samples of 8 bits"},
                 {16, 2, "signed integer samples of 16 bits"},
                 {32, 3, "floating-point samples of 32 bits"},
                 {16, 6, "complex samples of 16 bits"}};
    for (const Case& c : cases) {
        Loaded loaded;
        Load(GreyPage(2, 1, c.bits, std::vector<BYTE>(c.bits / 4, 0), {{kSampleFormat, kTiffShort, c.format}}), loaded);
        EXPECT_EQ(loaded.error, RasterLoadError::kUnsupportedLayout) << c.named;
        EXPECT_EQ(loaded.detail, c.named);
    }
    // The same half floats in a tiled page.
    Loaded tiled;
    Load(CraftTiff({{kWidth, kTiffLong, 2},
                    {kHeight, kTiffLong, 2},
                    {kBits, kTiffShort, 16},
                    {kCompression, kTiffShort, 1},
                    {kPhotometric, kTiffShort, 1},
                    {kSamples, kTiffShort, 1},
                    {kTileWidth, kTiffLong, 16},
                    {kTileHeight, kTiffLong, 16},
                    {kSampleFormat, kTiffShort, 3}},
                   std::vector<BYTE>(512, 0x3C), true),
         tiled);
    EXPECT_EQ(tiled.detail, "floating-point samples of 16 bits");
    // Unsigned said outright, or left to the default, reads.
    for (std::uint32_t format : {1u, 4u}) {
        Loaded grey;
        Load(GreyPage(2, 1, 8, {255, 128}, {{kSampleFormat, kTiffShort, format}}), grey);
        ASSERT_EQ(grey.error, RasterLoadError::kNone) << format << ": " << grey.detail;
        BYTE colour[4] = {};
        ASSERT_TRUE(grey.image.GetPixelColor(0, 0, colour));
        EXPECT_EQ(colour[1], 255);
        ASSERT_TRUE(grey.image.GetPixelColor(1, 0, colour));
        EXPECT_EQ(colour[1], 128);
    }
}

TEST(TiffPages, ACompressionTheDecoderLacksIsRefusedByItsNumber)
{
    // Compression 99 loaded as an all-white page.
    Loaded loaded;
    Load(GreyPage(8, 2, 8, std::vector<BYTE>(16, 0), {{kCompression, kTiffShort, 99}}), loaded);
    EXPECT_EQ(loaded.error, RasterLoadError::kUnsupportedLayout);
    EXPECT_EQ(loaded.detail, "compression 99");
    // PackBits, which it has: a run of 8 black bytes, twice.
    Loaded packed;
    Load(GreyPage(8, 2, 8, {0xF9, 0x00, 0xF9, 0x00}, {{kCompression, kTiffShort, 32773}}), packed);
    ASSERT_EQ(packed.error, RasterLoadError::kNone) << packed.detail;
    BYTE colour[4] = {255, 255, 255, 0};
    ASSERT_TRUE(packed.image.GetPixelColor(7, 1, colour));
    EXPECT_EQ(colour[0], 0);
}

TEST(TiffPages, AnAbsurdResolutionOrUnitCountsAsNone)
{
    auto dotsPerMetre = [](std::vector<CTiffEntry> resolution) {
        Loaded loaded;
        Load(GreyPage(1, 1, 8, {0x80}, std::move(resolution)), loaded);
        EXPECT_EQ(loaded.error, RasterLoadError::kNone) << loaded.detail;
        const BITMAPINFOHEADER* h = loaded.image.GetHeader();
        return h ? std::vector<LONG>{h->biXPelsPerMeter, h->biYPelsPerMeter} : std::vector<LONG>{};
    };
    using V = std::vector<LONG>;
    // The fuzzer's page: 40372693 x 0 dpi before.
    EXPECT_EQ(dotsPerMetre({{kXResolution, kTiffRational, 4294967295u, 1},
                            {kYResolution, kTiffRational, 1, 4294967295u},
                            {kResolutionUnit, kTiffShort, 77}}),
              (V{0, 0}));
    // A sound resolution with an unknown unit, and either side above 100,000 dpi.
    EXPECT_EQ(
        dotsPerMetre(
            {{kXResolution, kTiffRational, 300}, {kYResolution, kTiffRational, 300}, {kResolutionUnit, kTiffShort, 4}}),
        (V{0, 0}));
    EXPECT_EQ(dotsPerMetre({{kXResolution, kTiffRational, 300},
                            {kYResolution, kTiffRational, 100001},
                            {kResolutionUnit, kTiffShort, 2}}),
              (V{0, 0}));
    EXPECT_EQ(dotsPerMetre({{kXResolution, kTiffRational, 100000},
                            {kYResolution, kTiffRational, 300},
                            {kResolutionUnit, kTiffShort, 2}}),
              (V{3937008, 11811}));
    // A hundredth of a dot above, though it rounds to the same dots per metre.
    EXPECT_EQ(dotsPerMetre({{kXResolution, kTiffRational, 10000001, 100},
                            {kYResolution, kTiffRational, 300},
                            {kResolutionUnit, kTiffShort, 2}}),
              (V{0, 0}));
    // Centimetres: 39371 dots per cm is just above 100,000 dpi.
    EXPECT_EQ(dotsPerMetre({{kXResolution, kTiffRational, 39370},
                            {kYResolution, kTiffRational, 118},
                            {kResolutionUnit, kTiffShort, 3}}),
              (V{3937000, 11800}));
    EXPECT_EQ(dotsPerMetre({{kXResolution, kTiffRational, 39371},
                            {kYResolution, kTiffRational, 118},
                            {kResolutionUnit, kTiffShort, 3}}),
              (V{0, 0}));
    // Unit none takes inches, as the library has it; no resolution at all
    // is the library's 300 dpi.
    EXPECT_EQ(
        dotsPerMetre(
            {{kXResolution, kTiffRational, 150}, {kYResolution, kTiffRational, 150}, {kResolutionUnit, kTiffShort, 1}}),
        (V{5906, 5906}));
    EXPECT_EQ(dotsPerMetre({}), (V{11811, 11811}));
}

TEST(TiffPages, TilesAndStripsBeyondThePageOrTheBoundAreRefusedBeforeDecoding)
{
    // What the check of the page's directory finds: no page is decoded, so
    // the sizes on the accepted side of each bound cost nothing here.
    auto check = [](const std::vector<BYTE>& tiff) {
        std::vector<CTiffPage> pages;
        CDecodeStatus status;
        EXPECT_TRUE(ScanTiffPages(tiff.data(), tiff.size(), pages, status));
        return pages.empty()                              ? std::string("no page")
               : pages[0].error == RasterLoadError::kNone ? "fine"
                                                          : pages[0].detail;
    };
    auto tiled = [&](std::uint32_t w, std::uint32_t h, std::uint32_t tw, std::uint32_t th, std::uint32_t samples) {
        return check(CraftTiff({{kWidth, kTiffLong, w},
                                {kHeight, kTiffLong, h},
                                {kBits, kTiffShort, 8},
                                {kCompression, kTiffShort, 8},
                                {kPhotometric, kTiffShort, samples == 3 ? 2u : 1u},
                                {kSamples, kTiffShort, samples},
                                {kTileWidth, kTiffLong, tw},
                                {kTileHeight, kTiffLong, th}},
                               std::vector<BYTE>(300000, 0x55), true));
    };
    // The 30 KB file that made the library allocate 4 GiB.
    EXPECT_EQ(tiled(200, 150, 65536, 65536, 1), "tiles of 65536 x 65536 pixels on a page of 200 x 150");
    // Tiles may overhang the page up to its sides rounded up to 16.
    EXPECT_EQ(tiled(200, 150, 208, 160, 1), "fine");
    EXPECT_EQ(tiled(200, 150, 224, 160, 1), "tiles of 224 x 160 pixels on a page of 200 x 150");
    EXPECT_EQ(tiled(200, 150, 208, 176, 1), "tiles of 208 x 176 pixels on a page of 200 x 150");
    // A tile within its page but over 256 MiB decoded: 9472 x 9472 x 3 bytes.
    EXPECT_EQ(tiled(9472, 9472, 9472, 9472, 3), "a tile of 269156352 bytes decoded, more than 268435456");
    EXPECT_EQ(tiled(9456, 9456, 9456, 9456, 3), "fine");

    // One deflated strip of 16384 rows of 16384 bytes is 256 MiB: the
    // largest taken; a row more is refused.
    auto strip = [&](std::uint32_t rows) {
        return check(GreyPage(16384, rows, 8, std::vector<BYTE>(300000, 0x55), {{kCompression, kTiffShort, 8}}));
    };
    EXPECT_EQ(strip(16385), "a strip of 268451840 bytes decoded, more than 268435456");
    EXPECT_EQ(strip(16384), "fine");
    // Through the loader the refusal names the piece.
    TempFolder folder;
    WriteBytes(folder / "tile.tif", CraftTiff({{kWidth, kTiffLong, 200},
                                               {kHeight, kTiffLong, 150},
                                               {kBits, kTiffShort, 8},
                                               {kCompression, kTiffShort, 8},
                                               {kPhotometric, kTiffShort, 1},
                                               {kTileWidth, kTiffLong, 65536},
                                               {kTileHeight, kTiffLong, 65536}},
                                              std::vector<BYTE>(30000, 0x55), true));
    std::string detail;
    EXPECT_EQ(LoadError(folder / "tile.tif", &detail), RasterLoadError::kUnsupportedLayout);
    EXPECT_EQ(detail, "tiles of 65536 x 65536 pixels on a page of 200 x 150");
}

TEST(TiffPages, SixteenBitAlphaIsComposedOverWhite)
{
    // Red with alpha 0, half and full, at 16 bits a sample: straight and
    // premultiplied.
    for (std::uint32_t kind : {2u, 1u}) {
        std::vector<BYTE> pixels;
        for (std::uint16_t alpha : {0, 0x8000, 0xFFFF})
            for (std::uint16_t v :
                 {kind == 2 ? std::uint16_t{0xFFFF} : alpha, std::uint16_t{0}, std::uint16_t{0}, alpha})
                pixels.insert(pixels.end(), {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8)});
        Loaded loaded;
        Load(CraftTiff({{kWidth, kTiffLong, 3},
                        {kHeight, kTiffLong, 1},
                        {kBits, kTiffShort, 16},
                        {kCompression, kTiffShort, 1},
                        {kPhotometric, kTiffShort, 2},
                        {kSamples, kTiffShort, 4},
                        {kRowsPerStrip, kTiffLong, 1},
                        {kExtraSamples, kTiffShort, kind}},
                       pixels),
             loaded);
        ASSERT_EQ(loaded.error, RasterLoadError::kNone) << loaded.detail;
        const BYTE expected[3][3] = {{255, 255, 255}, {127, 127, 255}, {0, 0, 255}};  // blue, green, red
        for (int x = 0; x < 3; ++x) {
            BYTE colour[4] = {};
            ASSERT_TRUE(loaded.image.GetPixelColor(x, 0, colour));
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(colour[c], expected[x][c], 1) << "kind " << kind << " x " << x << " c " << c;
        }
    }
}

TEST(TiffPages, AOneBitPageHeaderIsWhatDecodingTheSamePageGives)
{
    TempFolder folder;
    const std::vector<BYTE> page = GreyPage(
        12, 2, 1, {0xF0, 0x00, 0x0F, 0x00},
        {{kXResolution, kTiffRational, 400}, {kYResolution, kTiffRational, 300}, {kPhotometric, kTiffShort, 0}});
    WriteBytes(folder / "page.tif", page);
    CRasterLoader loader;
    ASSERT_TRUE(loader.Open(folder / "page.tif"));
    CRasterHeader header;
    ASSERT_TRUE(loader.GetPageHeader(0, header));
    CRasterSrc image;
    ASSERT_TRUE(image.Attach(loader.CopyPage(0)));
    EXPECT_EQ(header.width, image.GetWidth());
    EXPECT_EQ(header.height, image.GetHeight());
    EXPECT_EQ(header.bitCount, image.GetBitCount());
    EXPECT_EQ(header.xDotsPerMetre, image.GetHeader()->biXPelsPerMeter);
    EXPECT_EQ(header.yDotsPerMetre, image.GetHeader()->biYPelsPerMeter);
    EXPECT_EQ(header.xDotsPerMetre, 15748);
    // A 16-bit page must be decoded to tell its bits and threshold.
    WriteBytes(folder / "grey.tif", GreyPage(2, 1, 16, {0, 0, 255, 255}));
    ASSERT_TRUE(loader.Open(folder / "grey.tif"));
    EXPECT_FALSE(loader.GetPageHeader(0, header));
    EXPECT_EQ(header.bitCount, 16);
}

namespace {

// The rounded grey-level counts the loaded image of the picture holds.
std::vector<std::uint64_t> PictureCounts(const std::vector<BYTE>& pixels, unsigned samples, bool inverted)
{
    std::vector<std::uint64_t> counts(256, 0);
    for (std::size_t i = 0; i < pixels.size(); i += samples) {
        const BYTE* p = &pixels[i];
        ++counts[samples == 3 ? RoundedGreyLevel(p[0], p[1], p[2]) : inverted ? 255 - p[0] : p[0]];
    }
    return counts;
}

}  // namespace

// info counts a page's grey levels strip by strip (or tile by tile) so that
// a page too large to decode whole still gets its threshold; it must be the
// threshold the decoded page gives, which is the one trace uses.
TEST(TiffPages, AThresholdCountedStripByStripIsTheDecodedPages)
{
    const CTiffEncoding encodings[] = {
        {"plain strips of 7 rows", COMPRESSION_NONE, 7},
        {"LZW strips of 16 rows", COMPRESSION_LZW, 16},
        {"deflate in one strip", COMPRESSION_ADOBE_DEFLATE, 1000},
        {"PackBits rows", COMPRESSION_PACKBITS, 1},
        {"LZW tiles of 64", COMPRESSION_LZW, 0, 64},
        {"plain tiles of 16", COMPRESSION_NONE, 0, 16},
    };
    struct Layout {
        const char* name;
        std::uint16_t samples, photometric;
        int bitCount;
    } layouts[] = {{"grey", 1, PHOTOMETRIC_MINISBLACK, 8},
                   {"inverted grey", 1, PHOTOMETRIC_MINISWHITE, 8},
                   {"RGB", 3, PHOTOMETRIC_RGB, 24}};
    constexpr std::uint32_t kW = 301, kH = 203;
    TempFolder folder;
    for (const Layout& layout : layouts) {
        const std::vector<BYTE> pixels = ScanPicture(kW, kH, layout.samples);
        const std::vector<std::uint64_t> expected =
            PictureCounts(pixels, layout.samples, layout.photometric == PHOTOMETRIC_MINISWHITE);
        for (const CTiffEncoding& encoding : encodings) {
            const std::string what = std::string(layout.name) + ", " + encoding.name;
            const std::string path = folder / "page.tif";
            ASSERT_TRUE(WriteEncodedTiff(path, kW, kH, layout.samples, layout.photometric, encoding, pixels)) << what;
            CRasterLoader loader;
            ASSERT_TRUE(loader.Open(path)) << what;
            CRasterHeader header;
            ASSERT_TRUE(loader.GetPageHeader(0, header)) << what;
            BYTE counted = 0;
            ASSERT_TRUE(loader.GetPageAutoThreshold(0, counted)) << what;
            CRasterSrc image;
            ASSERT_TRUE(image.Attach(loader.CopyPage(0))) << what;
            EXPECT_EQ(header.bitCount, image.GetBitCount()) << what;
            EXPECT_EQ(header.bitCount, layout.bitCount) << what;
            EXPECT_EQ(counted, image.GetAutoThreshold()) << what;
            // Below the paper, above the band.
            if (layout.photometric != PHOTOMETRIC_MINISWHITE) {
                EXPECT_GT(counted, 160) << what;
            }

            const std::vector<BYTE> bytes = ReadBytes(path);
            std::vector<CTiffPage> pages;
            CDecodeStatus status;
            ASSERT_TRUE(ScanTiffPages(bytes.data(), bytes.size(), pages, status)) << what;
            std::vector<std::uint64_t> counts(256, 0);
            ASSERT_TRUE(CountTiffPageGrey(bytes.data(), bytes.size(), pages[0], counts.data())) << what;
            EXPECT_EQ(counts, expected) << what;
        }
    }
}

// Without a photometric entry the decoder guesses black is zero where the
// library takes white as zero: such a page is not counted strip by strip.
TEST(TiffPages, AGreyPageWithoutItsPhotometricIsDecodedToTellItsThreshold)
{
    TempFolder folder;
    std::vector<BYTE> pixels(64);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<BYTE>(i < 8 ? 20 : 230 + i % 5);
    WriteBytes(folder / "page.tif", CraftTiff({{kWidth, kTiffLong, 8},
                                               {kHeight, kTiffLong, 8},
                                               {kBits, kTiffShort, 8},
                                               {kCompression, kTiffShort, 1},
                                               {kSamples, kTiffShort, 1},
                                               {kRowsPerStrip, kTiffLong, 8}},
                                              pixels));
    CRasterLoader loader;
    ASSERT_TRUE(loader.Open(folder / "page.tif"));
    CRasterHeader header;
    EXPECT_FALSE(loader.GetPageHeader(0, header));
    BYTE counted = 0;
    EXPECT_FALSE(loader.GetPageAutoThreshold(0, counted));

    // Nor is one whose photometric entry the decoder throws away for its
    // count: the library guesses then, as if the entry were missing.
    std::vector<BYTE> bad = GreyPage(8, 8, 8, pixels);
    for (size_t at = 10; at + 12 <= bad.size(); at += 12)
        if (bad[at] == (kPhotometric & 0xFF) && bad[at + 1] == kPhotometric >> 8) {
            Put(bad, at + 4, 0x40001, 4);
            break;
        }
    WriteBytes(folder / "count.tif", bad);
    ASSERT_TRUE(loader.Open(folder / "count.tif"));
    if (loader.GetPageAutoThreshold(0, counted)) {
        CRasterSrc image;
        ASSERT_TRUE(image.Attach(loader.CopyPage(0)));
        EXPECT_EQ(counted, image.GetAutoThreshold());
    }

    // Nor is one with an extra sample; one whose strips do not cover it is
    // refused.
    WriteBytes(folder / "extra.tif", GreyPage(8, 8, 8, pixels, {{kExtraSamples, kTiffShort, 2}}));
    ASSERT_TRUE(loader.Open(folder / "extra.tif"));
    EXPECT_FALSE(loader.GetPageAutoThreshold(0, counted));
    WriteBytes(folder / "short.tif", GreyPage(8, 8, 8, pixels, {{kRowsPerStrip, kTiffLong, 4}}));
    ASSERT_TRUE(loader.Open(folder / "short.tif"));
    EXPECT_FALSE(loader.GetPageHeader(0, header));
    EXPECT_FALSE(loader.GetPageAutoThreshold(0, counted));
}

namespace {

// A one-bit fax page of crossing lines, in strips of rowsPerStrip rows.
bool WriteFaxTiff(const std::string& path, std::uint32_t width, std::uint32_t height, std::uint16_t compression,
                  std::uint32_t rowsPerStrip)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    std::vector<BYTE> row((width + 7) / 8);
    bool ok = true;
    for (std::uint32_t y = 0; y < height && ok; ++y) {
        for (std::size_t x = 0; x < row.size(); ++x)
            row[x] = y % 20 == 0 || x % 10 == 0 ? 0xFF : 0x00;
        ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

// Where each strip's compressed bytes lie.
std::vector<std::pair<std::uint64_t, std::uint64_t>> StripSpans(const std::string& path)
{
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    if (TIFF* tif = TIFFOpen(path.c_str(), "r")) {
        for (std::uint32_t i = 0; i < TIFFNumberOfStrips(tif); ++i)
            spans.emplace_back(TIFFGetStrileOffset(tif, i), TIFFGetStrileByteCount(tif, i));
        TIFFClose(tif);
    }
    return spans;
}

}  // namespace

// The library decodes damaged compressed strips as blank rows without a
// word; the decoder's reports tell them. A page with no intact strip is
// refused, one with some is read with a warning naming the damaged ones, and
// its intact strips are read as written.
TEST(TiffPages, DamagedCompressedStripsAreRefusedOrNamedNeverReadAsBlankRows)
{
    constexpr std::uint32_t kW = 120, kH = 96, kRows = 16, kDamaged = 3;
    const CTiffEncoding encodings[] = {{"LZW", COMPRESSION_LZW, kRows},
                                       {"deflate", COMPRESSION_ADOBE_DEFLATE, kRows},
                                       {"PackBits", COMPRESSION_PACKBITS, kRows},
                                       {"JPEG", COMPRESSION_JPEG, kRows},
                                       {"fax group 3", COMPRESSION_CCITTFAX3, kRows},
                                       {"fax group 4", COMPRESSION_CCITTFAX4, kRows}};
    const std::vector<BYTE> pixels = ScanPicture(kW, kH, 1);
    TempFolder folder;
    for (const CTiffEncoding& encoding : encodings) {
        const std::string path = folder / "page.tif";
        const bool fax = encoding.compression == COMPRESSION_CCITTFAX3 || encoding.compression == COMPRESSION_CCITTFAX4;
        ASSERT_TRUE(fax ? WriteFaxTiff(path, kW, kH, encoding.compression, kRows)
                        : WriteEncodedTiff(path, kW, kH, 1, PHOTOMETRIC_MINISBLACK, encoding, pixels))
            << encoding.name;
        const std::vector<BYTE> intact = ReadBytes(path);
        const auto spans = StripSpans(path);
        ASSERT_EQ(spans.size(), kH / kRows) << encoding.name;
        RasterLoadError error = RasterLoadError::kNone;
        std::string detail;
        FIBITMAP* clean = LoadRasterFile(path, &error, &detail);
        ASSERT_NE(clean, nullptr) << encoding.name << ": " << detail;
        FreeImage_Unload(clean);
        EXPECT_EQ(GetLastRasterLoadWarning(), "") << encoding.name;

        std::uint32_t noise = 7;  // bytes that make no valid strip in any of the encodings
        auto scramble = [&](std::vector<BYTE>& bytes, std::pair<std::uint64_t, std::uint64_t> span) {
            for (std::uint64_t i = 0; i < span.second; ++i) {
                noise = noise * 1103515245u + 12345u;
                bytes[span.first + i] = static_cast<BYTE>(noise >> 16);
            }
        };
        std::vector<BYTE> garbage = intact;
        for (const auto& span : spans)
            scramble(garbage, span);
        WriteBytes(path, garbage);
        EXPECT_EQ(LoadRasterFile(path, &error, &detail), nullptr) << encoding.name;
        EXPECT_EQ(error, RasterLoadError::kDecodeFailed) << encoding.name;
        EXPECT_NE(detail.find("every strip is damaged"), std::string::npos) << encoding.name << ": " << detail;

        std::vector<BYTE> one = intact;
        scramble(one, spans[kDamaged]);
        WriteBytes(path, one);
        CRasterSrc image;
        ASSERT_TRUE(image.Attach(LoadRasterFile(path, &error, &detail))) << encoding.name << ": " << detail;
        EXPECT_NE(GetLastRasterLoadWarning().find("strip 4 of 6 is damaged"), std::string::npos)
            << encoding.name << ": " << GetLastRasterLoadWarning();
        if (fax || encoding.compression == COMPRESSION_JPEG)
            continue;
        for (std::uint32_t y = 0; y < kH; ++y) {
            if (y / kRows == kDamaged)
                continue;
            ASSERT_TRUE(
                std::equal(pixels.begin() + y * kW, pixels.begin() + (y + 1) * kW, image.GetRow(static_cast<int>(y))))
                << encoding.name << ", row " << y;
        }
    }
}
