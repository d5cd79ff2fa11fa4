// Packed DIBs from drivers: built only after every size is checked.
#include "raster_test_support.h"

#include <algorithm>
#include <cstring>

namespace {

struct DibShape {
    int width = 5;
    int height = 3;  // negative: top-down
    int bits = 8;
    DWORD compression = BI_RGB;
    DWORD colours = 0;  // biClrUsed
    WORD planes = 1;
    DWORD headerSize = 40;
    DWORD masks[3] = {};
    LONG xDotsPerMetre = 11811;
    LONG yDotsPerMetre = 11811;
};

// A packed DIB whose pixel (x, row) from the bottom holds (x + 3 * row) in
// every byte, with a colour table of grey ramp entries.
std::vector<BYTE> MakeDib(const DibShape& s)
{
    BITMAPINFOHEADER h{};
    h.biSize = s.headerSize;
    h.biWidth = s.width;
    h.biHeight = s.height;
    h.biPlanes = s.planes;
    h.biBitCount = static_cast<WORD>(s.bits);
    h.biCompression = s.compression;
    h.biClrUsed = s.colours;
    h.biXPelsPerMeter = s.xDotsPerMetre;
    h.biYPelsPerMeter = s.yDotsPerMetre;
    std::vector<BYTE> block(std::max<size_t>(s.headerSize, sizeof h), 0);
    std::memcpy(block.data(), &h, sizeof h);
    if (s.compression == BI_BITFIELDS) {
        const BYTE* m = reinterpret_cast<const BYTE*>(s.masks);
        if (s.headerSize == 40)
            block.insert(block.end(), m, m + 12);
        else
            std::memcpy(block.data() + 40, m, 12);
    }
    DWORD entries = s.colours ? s.colours : (s.bits <= 8 ? 1u << s.bits : 0);
    for (DWORD i = 0; i < entries; ++i) {
        BYTE g = static_cast<BYTE>(i * 255 / (entries > 1 ? entries - 1 : 1));
        block.insert(block.end(), {g, g, g, 0});
    }
    size_t rowBytes = static_cast<size_t>(AlignedRowBytes(s.bits, s.width));
    int rows = s.height < 0 ? -s.height : s.height;
    for (int r = 0; r < rows; ++r)
        for (size_t i = 0; i < rowBytes; ++i)
            block.push_back(static_cast<BYTE>(i + 3 * r));
    return block;
}

}  // namespace

TEST(RasterDibBlock, ValidBlocksBecomeTheImage)
{
    DibShape shape;
    std::vector<BYTE> block = MakeDib(shape);
    CRasterSrc image;
    ASSERT_TRUE(image.AttachDIBHandle(block.data(), block.size()));
    EXPECT_EQ(image.GetWidth(), 5);
    EXPECT_EQ(image.GetHeight(), 3);
    EXPECT_EQ(image.GetBitCount(), 8);
    EXPECT_EQ(image.GetPixelIndex(1, 2), 1);  // bottom row first in the block
    EXPECT_EQ(image.GetPixelIndex(1, 0), 7);
    EXPECT_EQ(image.GetHeader()->biXPelsPerMeter, 11811);

    shape.height = -3;  // top-down rows
    block = MakeDib(shape);
    ASSERT_TRUE(image.AttachDIBHandle(block.data(), block.size()));
    EXPECT_EQ(image.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(image.GetHeight(), 3);

    shape = DibShape{};
    shape.bits = 24;
    shape.headerSize = 124;
    block = MakeDib(shape);
    ASSERT_TRUE(image.AttachDIBHandle(block.data(), block.size()));
    EXPECT_EQ(image.GetBitCount(), 24);
}

TEST(RasterDibBlock, ABlockWithoutAResolutionTakes200Dpi)
{
    // A driver's block with none (0, or a negative value) keeps none in the
    // header, so the image's 200 dpi stands in for it; a resolution above
    // 1 dpi is kept as it is.
    struct Case {
        LONG x, y;
        LONG headerX, headerY;
        LONG read;
    } cases[] = {{0, 0, 0, 0, kDefaultDotsPerMetre},
                 {-5, -5, 0, 0, kDefaultDotsPerMetre},
                 {11811, -3, 11811, 0, 11811},
                 {39, 39, 39, 39, kDefaultDotsPerMetre},
                 {40, 40, 40, 40, 40}};
    for (const Case& c : cases) {
        DibShape shape;
        shape.xDotsPerMetre = c.x;
        shape.yDotsPerMetre = c.y;
        const std::vector<BYTE> block = MakeDib(shape);
        CRasterSrc image;
        ASSERT_TRUE(image.AttachDIBHandle(block.data(), block.size()));
        EXPECT_EQ(image.GetHeader()->biXPelsPerMeter, c.headerX) << c.x;
        EXPECT_EQ(image.GetHeader()->biYPelsPerMeter, c.headerY) << c.y;
        LONG read = 0;
        ASSERT_TRUE(image.GetResolution(read));
        EXPECT_EQ(read, c.read) << c.x;
    }
    EXPECT_EQ(kDefaultDotsPerMetre, 7874);
}

TEST(RasterDibBlock, OneBitBlocksAreNormalisedToWhiteBlack)
{
    DibShape shape;
    shape.bits = 1;
    shape.width = 9;
    std::vector<BYTE> block = MakeDib(shape);  // palette {black, white}
    CRasterSrc image;
    ASSERT_TRUE(image.AttachDIBHandle(block.data(), block.size()));
    EXPECT_EQ(image.GetPalette()[0].rgbRed, 255);
    // Bottom row bytes are 0x00 0x01 ...: index 0 was black and stays black.
    BYTE bgr[3];
    ASSERT_TRUE(image.GetPixelColor(0, 2, bgr));
    EXPECT_EQ(bgr[0], 0);
}

TEST(RasterDibBlock, FiveSixFiveBlocksAreConvertedTo24Bits)
{
    DibShape shape;
    shape.bits = 16;
    shape.width = 2;
    shape.height = 1;
    shape.compression = BI_BITFIELDS;
    shape.masks[0] = FI16_565_RED_MASK;
    shape.masks[1] = FI16_565_GREEN_MASK;
    shape.masks[2] = FI16_565_BLUE_MASK;
    std::vector<BYTE> block = MakeDib(shape);
    // Pixel 0: pure red in 5-6-5.
    size_t bits = block.size() - 4;
    block[bits] = 0x00;
    block[bits + 1] = 0xF8;
    CRasterSrc image;
    ASSERT_TRUE(image.AttachDIBHandle(block.data(), block.size()));
    EXPECT_EQ(image.GetBitCount(), 24);
    BYTE bgr[3];
    ASSERT_TRUE(image.GetPixelColor(0, 0, bgr));
    EXPECT_EQ(bgr[2], 255);
    EXPECT_EQ(bgr[1], 0);
    EXPECT_EQ(bgr[0], 0);
}

TEST(RasterDibBlock, DamagedBlocksAreRefusedAndTheImageKept)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(2, 2, 8));
    FIBITMAP* kept = image.GetBitmap();
    MessageRecorder recorder;

    auto refused = [&](const std::vector<BYTE>& block, size_t length) {
        return !image.AttachDIBHandle(block.data(), length);
    };
    std::vector<BYTE> good = MakeDib(DibShape{});
    EXPECT_TRUE(refused(good, good.size() - 1)) << "last row cut short";
    EXPECT_TRUE(refused(good, 39)) << "no whole header";
    EXPECT_FALSE(image.AttachDIBHandle(nullptr, 100));

    DibShape s;
    s.headerSize = 12;
    EXPECT_TRUE(refused(MakeDib(s), MakeDib(s).size()));
    s = DibShape{};
    s.planes = 2;
    EXPECT_TRUE(refused(MakeDib(s), MakeDib(s).size()));
    s = DibShape{};
    s.bits = 2;
    EXPECT_TRUE(refused(MakeDib(s), MakeDib(s).size()));
    s = DibShape{};
    s.width = 0;
    EXPECT_TRUE(refused(MakeDib(s), MakeDib(s).size()));
    s = DibShape{};
    s.compression = BI_RLE8;
    EXPECT_TRUE(refused(MakeDib(s), MakeDib(s).size()));
    s = DibShape{};
    s.colours = 300;  // more entries than 8 bits can index
    EXPECT_TRUE(refused(MakeDib(s), MakeDib(s).size()));
    s = DibShape{};
    s.bits = 32;
    s.compression = BI_BITFIELDS;
    s.masks[0] = 0xFF;  // swapped channels
    s.masks[1] = 0xFF00;
    s.masks[2] = 0xFF0000;
    EXPECT_TRUE(refused(MakeDib(s), MakeDib(s).size()));

    // A header claiming a huge picture in a small block.
    std::vector<BYTE> huge = good;
    LONG height = 0x7FFFFFFF;
    std::memcpy(huge.data() + 8, &height, 4);
    EXPECT_TRUE(refused(huge, huge.size()));
    LONG width = 0x7FFFFFFF;
    std::memcpy(huge.data() + 4, &width, 4);
    EXPECT_TRUE(refused(huge, huge.size()));

    EXPECT_EQ(image.GetBitmap(), kept);
    ASSERT_FALSE(recorder.messages.empty());
    EXPECT_EQ(recorder.messages.back(), "Copy DIB Error !!!");
}
