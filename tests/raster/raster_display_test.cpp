// The display stretch blit and the display half of CDib, drawn onto pixel
// canvases and read back pixel by pixel.
#include <gtest/gtest.h>

#include "raster_test_support.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

#include "platform/bitmap.h"
#include "platform/palette.h"
#include "platform/pixel_dc.h"
#include "raster/dib.h"
#include "raster/raster_display.h"
#include "raster/raster_src.h"

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

// A white one-bit image with the listed pixels black.
void MakeOneBit(CRasterSrc& image, int width, int height, std::initializer_list<std::pair<int, int>> black)
{
    ASSERT_TRUE(image.Create(width, height, 1));
    for (auto [x, y] : black)
        image.SetPixelBit(x, y, true);
}

TEST(RasterDisplay, ReportsTheModernPlatform) { EXPECT_EQ(GetPlatformCode(), kPlatformNT); }

TEST(RasterDisplay, ShrinkingOneBitAveragesCoveredPixelsToGrey)
{
    // A one-pixel vertical line in column 0 of an 8 x 8 image, shown 2 x 2:
    // each left destination pixel covers a 4 x 4 box of which a quarter is
    // black, so the line stays visible as grey instead of vanishing.
    CRasterSrc image;
    MakeOneBit(image, 8, 8, {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 6}, {0, 7}});
    CPixelDC dc(2, 2);
    ASSERT_TRUE(DrawRasterDib(&image, RECT{0, 0, 8, 8}, &dc, RECT{0, 0, 2, 2}));
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(191, 191, 191));
    EXPECT_EQ(dc.GetPixel(0, 1), RGB(191, 191, 191));
    EXPECT_EQ(dc.GetPixel(1, 0), kWhite);

    // A dimmed palette blends towards its grey, not towards black.
    image.SetPaletteGrey(1, 210);
    ASSERT_TRUE(DrawRasterDib(&image, RECT{0, 0, 2, 8}, &dc, RECT{0, 0, 1, 1}));
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(233, 233, 233));  // half and half: 232.5, rounded
}

TEST(RasterDisplay, EnlargingRepeatsEachPixelOverItsDestinationCells)
{
    CRasterSrc image;
    MakeOneBit(image, 2, 2, {{1, 0}});
    CPixelDC dc(8, 8, RGB(1, 2, 3));
    ASSERT_TRUE(DrawRasterDib(&image, RECT{0, 0, 2, 2}, &dc, RECT{1, 1, 7, 7}));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            COLORREF expected = RGB(1, 2, 3);
            if (x >= 1 && x < 7 && y >= 1 && y < 7)
                expected = (x >= 4 && y < 4) ? kBlack : kWhite;
            EXPECT_EQ(dc.GetPixel(x, y), expected) << x << "," << y;
        }
}

TEST(RasterDisplay, VisiblePartMatchesTheSameCellsOfTheWholeDestination)
{
    // A colour image enlarged 3 times into a destination far bigger than the
    // canvas: only the visible cells are computed, and they agree with a
    // full-size drawing.
    CRasterSrc image;
    ASSERT_TRUE(image.Create(7, 5, 24));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            image.SetPixelRGB(x, y, BYTE(x * 30), BYTE(y * 40), 200);
    CPixelDC whole(21, 15);
    ASSERT_TRUE(DrawRasterDib(&image, RECT{0, 0, 7, 5}, &whole, RECT{0, 0, 21, 15}));
    CPixelDC part(6, 4);
    ASSERT_TRUE(DrawRasterDib(&image, RECT{0, 0, 7, 5}, &part, RECT{-5, -7, 16, 8}, RECT{0, 0, 6, 4}));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(part.GetPixel(x, y), whole.GetPixel(x + 5, y + 7)) << x << "," << y;
    // Out of view or degenerate: nothing drawn.
    EXPECT_FALSE(DrawRasterDib(&image, RECT{0, 0, 7, 5}, &part, RECT{10, 10, 20, 20}, RECT{0, 0, 6, 4}));
    EXPECT_FALSE(DrawRasterDib(&image, RECT{0, 0, 7, 5}, &part, RECT{0, 0, 0, 4}));
    EXPECT_FALSE(DrawRasterDib(&image, RECT{0, 0, 8, 5}, &part, RECT{0, 0, 4, 4}));
    EXPECT_FALSE(DrawRasterDib(nullptr, RECT{0, 0, 7, 5}, &part, RECT{0, 0, 4, 4}));
}

TEST(DibDisplay, PaintingWritesBackIntoTheBitmap)
{
    CDib dib;
    ASSERT_TRUE(dib.Create(5, 3, 24));
    CDC* dc = dib.BeginPaint(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(dib.BeginPaint(nullptr), dc);  // one context while painting
    dc->FillSolidRect(RECT{0, 0, 5, 3}, kWhite);
    dc->SetPixel(1, 0, RGB(10, 20, 30));  // top row
    dib.EndPaint();
    EXPECT_FALSE(dib.IsPainting());
    const BYTE* block = dib.GetBlock();
    const BYTE* topRow = FindDIBBits(block) + 2 * DIBBytesPerLine(block);
    EXPECT_EQ(topRow[3], 30);  // blue, green, red
    EXPECT_EQ(topRow[4], 20);
    EXPECT_EQ(topRow[5], 10);

    // The picture drawn, stretched and cut out: rows count from the top.
    CPixelDC target(12, 8, kBlack);
    ASSERT_TRUE(dib.Draw(&target, 2, 1, SRCCOPY));
    EXPECT_EQ(target.GetPixel(3, 1), RGB(10, 20, 30));
    EXPECT_EQ(target.GetPixel(2, 1), kWhite);
    EXPECT_EQ(target.GetPixel(1, 1), kBlack);
    ASSERT_TRUE(dib.DrawRect(&target, RECT{8, 0, 12, 4}, RECT{1, 0, 3, 2}, SRCCOPY));
    EXPECT_EQ(target.GetPixel(8, 0), RGB(10, 20, 30));
    EXPECT_EQ(target.GetPixel(9, 1), RGB(10, 20, 30));
    EXPECT_EQ(target.GetPixel(10, 1), kWhite);
    EXPECT_EQ(target.GetPixel(8, 2), kWhite);

    CDib empty;
    EXPECT_EQ(empty.BeginPaint(nullptr), nullptr);
    EXPECT_FALSE(empty.Draw(&target, 0, 0, SRCCOPY));
}

TEST(DibDisplay, PaletteBitmapsTakeTheNearestEntryBack)
{
    CDib dib;
    ASSERT_TRUE(dib.Create(4, 2, 1));
    RGBQUAD* palette = reinterpret_cast<RGBQUAD*>(dib.GetBlock() + sizeof(BITMAPINFOHEADER));
    palette[1] = RGBQUAD{255, 255, 255, 0};  // entry 0 black, entry 1 white
    ASSERT_TRUE(dib.UpdateGdiObjects());
    CDC* dc = dib.BeginPaint(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(static_cast<CPixelDC*>(dc)->GetPixel(0, 0), kBlack);
    dc->SetPixel(2, 1, RGB(230, 230, 230));
    dib.EndPaint();
    EXPECT_EQ(FindDIBBits(dib.GetBlock())[0], 0x20);  // bottom row, pixel 2 set
}

TEST(DibDisplay, TransparentColourLeavesTheBackgroundShowing)
{
    CDib dib;
    ASSERT_TRUE(dib.Create(3, 1, 24));
    CDC* dc = dib.BeginPaint(nullptr);
    ASSERT_NE(dc, nullptr);
    dc->SetPixel(0, 0, RGB(255, 0, 255));
    dc->SetPixel(1, 0, RGB(0, 128, 0));
    dc->SetPixel(2, 0, kWhite);
    dib.EndPaint();
    CPixelDC target(5, 1, RGB(50, 60, 70));
    ASSERT_TRUE(DrawTransparentBitmap(&target, dib, 1, 0, RGB(255, 0, 255)));
    EXPECT_EQ(target.GetPixel(0, 0), RGB(50, 60, 70));
    EXPECT_EQ(target.GetPixel(1, 0), RGB(50, 60, 70));
    EXPECT_EQ(target.GetPixel(2, 0), RGB(0, 128, 0));
    EXPECT_EQ(target.GetPixel(3, 0), kWhite);
    EXPECT_EQ(target.GetPixel(4, 0), RGB(50, 60, 70));
}

}  // namespace

// ---- the DIB's drawing objects --------------------------------------------

namespace {

// The index of pixel x in a packed row, most significant bits first.
int IndexAt(const BYTE* row, int x, int bits)
{
    const int bit = x * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
}

// A blank DIB whose table holds distinct colours and whose pixels are
// random; the row padding stays zero.
CDibHandle PatternDib(int width, int height, int bits, unsigned seed)
{
    CDibHandle handle = CreateBlankDIB(width, height, bits);
    BYTE* block = handle.Lock();
    auto* table = reinterpret_cast<RGBQUAD*>(block + sizeof(BITMAPINFOHEADER));
    for (DWORD i = 0; i < DIBNumColors(block); ++i)
        table[i] = RGBQUAD{static_cast<BYTE>(i * 7), static_cast<BYTE>(255 - i), static_cast<BYTE>(i ^ 0x5A), 0};
    std::mt19937 random(seed);
    const DWORD stride = DIBBytesPerLine(block);
    for (int y = 0; y < height; ++y) {
        BYTE* row = FindDIBBits(block) + stride * static_cast<DWORD>(y);
        for (int x = 0; x < width; ++x) {
            if (bits == 24) {
                for (int c = 0; c < 3; ++c)
                    row[3 * x + c] = static_cast<BYTE>(random());
            } else {
                const int bit = x * bits;
                row[bit / 8] |= static_cast<BYTE>((random() & ((1u << bits) - 1)) << (8 - bits - bit % 8));
            }
        }
    }
    return handle;
}

// The colour the block shows at (x, y), y from the top.
COLORREF ColourAt(const BYTE* block, int x, int y)
{
    BITMAPINFOHEADER h;
    std::memcpy(&h, block, sizeof h);
    const BYTE* row = FindDIBBits(block) + DIBBytesPerLine(block) * static_cast<DWORD>(h.biHeight - 1 - y);
    if (h.biBitCount == 24)
        return RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    const auto* table = reinterpret_cast<const RGBQUAD*>(block + h.biSize);
    const RGBQUAD& c = table[IndexAt(row, x, h.biBitCount)];
    return RGB(c.rgbRed, c.rgbGreen, c.rgbBlue);
}

}  // namespace

TEST(DibSection, HoldsThePictureAndReadsBackToTheSameBlock)
{
    for (int bits : {1, 4, 8, 24}) {
        for (int width : {1, 7, 33}) {
            CDibHandle handle = PatternDib(width, 3, bits, static_cast<unsigned>(bits * 100 + width));
            const BYTE* block = handle.Lock();
            std::unique_ptr<CBitmap> section = HandleToDIBSection(handle);
            ASSERT_NE(section, nullptr) << bits;
            EXPECT_EQ(section->GetBitCount(), bits);
            EXPECT_EQ(section->GetColorTable().size(), DIBNumColors(block));
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < width; ++x)
                    ASSERT_EQ(section->GetCanvas().GetPixel(x, y), ColourAt(block, x, y))
                        << bits << " " << x << "," << y;

            CDibHandle back = BitmapToDIB(*section);
            ASSERT_FALSE(back.IsNull());
            ASSERT_EQ(back.GetSize(), handle.GetSize()) << bits;
            EXPECT_EQ(DIBWidth(back.Lock()), width);
            EXPECT_EQ(DIBHeight(back.Lock()), 3);
            EXPECT_EQ(std::memcmp(back.Lock() + 40, block + 40, handle.GetSize() - 40), 0) << bits << " bits";
        }
    }
    // A block too short for its rows, or one the section cannot hold.
    CDibHandle whole = CreateBlankDIB(8, 8, 8);
    CDibHandle shortBlock = CDibHandle::Allocate(whole.GetSize() - 1);
    std::memcpy(shortBlock.Lock(), whole.Lock(), shortBlock.GetSize());
    EXPECT_EQ(HandleToDIBSection(shortBlock), nullptr);
    BITMAPINFOHEADER h;
    std::memcpy(&h, whole.Lock(), sizeof h);
    h.biCompression = BI_RLE8;
    std::memcpy(whole.Lock(), &h, sizeof h);
    EXPECT_EQ(HandleToDIBSection(whole), nullptr);
    EXPECT_EQ(HandleToDIBSection(CDibHandle()), nullptr);
}

TEST(DibSection, PalettesFollowTheColourTable)
{
    CDibHandle handle = PatternDib(3, 2, 4, 1);
    std::unique_ptr<CPalette> palette = CreateDIBPaletteFromHandle(handle);
    ASSERT_NE(palette, nullptr);
    ASSERT_EQ(palette->GetEntryCount(), 16);
    const auto* table = reinterpret_cast<const RGBQUAD*>(handle.Lock() + 40);
    for (int i = 0; i < 16; ++i) {
        const PALETTEENTRY& e = palette->GetEntries()[static_cast<std::size_t>(i)];
        EXPECT_EQ(e.peRed, table[i].rgbRed);
        EXPECT_EQ(e.peGreen, table[i].rgbGreen);
        EXPECT_EQ(e.peBlue, table[i].rgbBlue);
        EXPECT_EQ(e.peFlags, 0);
    }
    // A core header's table has three bytes an entry.
    BYTE core[12 + 6] = {};
    const BITMAPCOREHEADER h{12, 9, 2, 1, 1};
    std::memcpy(core, &h, sizeof h);
    const BYTE triples[6] = {1, 2, 3, 4, 5, 6};
    std::memcpy(core + 12, triples, sizeof triples);
    palette = CreateDIBPalette(core);
    ASSERT_NE(palette, nullptr);
    ASSERT_EQ(palette->GetEntryCount(), 2);
    EXPECT_EQ(palette->GetEntries()[1].peRed, 6);
    EXPECT_EQ(palette->GetEntries()[1].peBlue, 4);

    EXPECT_EQ(CreateDIBPaletteFromHandle(CreateBlankDIB(3, 3, 24)), nullptr);
    CDibHandle cut = CDibHandle::Allocate(40 + 8);
    std::memcpy(cut.Lock(), handle.Lock(), 48);
    EXPECT_EQ(CreateDIBPaletteFromHandle(cut), nullptr);
}

TEST(DibSection, DrawBitmapCopiesOrStretchesAndRestoresTheStretchMode)
{
    std::unique_ptr<CBitmap> section = HandleToDIBSection(PatternDib(3, 2, 24, 9));
    ASSERT_NE(section, nullptr);
    const CPixelDC& picture = section->GetCanvas();
    CPixelDC target(12, 8, kBlack);
    ASSERT_TRUE(DrawBitmap(&target, RECT{1, 1, 4, 3}, *section, RECT{0, 0, 3, 2}, nullptr, SRCCOPY));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(target.GetPixel(x + 1, y + 1), picture.GetPixel(x, y));
    EXPECT_EQ(target.GetPixel(0, 0), kBlack);
    EXPECT_EQ(target.GetPixel(4, 1), kBlack);

    // Twice the size: each pixel becomes a 2 x 2 block, no blending.
    ASSERT_TRUE(DrawBitmap(&target, RECT{5, 2, 11, 6}, *section, RECT{0, 0, 3, 2}, nullptr, SRCCOPY));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(target.GetPixel(x + 5, y + 2), picture.GetPixel(x / 2, y / 2));
    EXPECT_EQ(target.SetStretchBltMode(HALFTONE), BLACKONWHITE);

    EXPECT_FALSE(DrawBitmap(nullptr, RECT{0, 0, 3, 2}, *section, RECT{0, 0, 3, 2}, nullptr, SRCCOPY));
    EXPECT_FALSE(DrawBitmap(&target, RECT{0, 0, 0, 2}, *section, RECT{0, 0, 3, 2}, nullptr, SRCCOPY));
}

TEST(DibSection, TheDibRebuildsItsObjectsWithEveryNewBlock)
{
    CDib dib;
    EXPECT_EQ(dib.GetBitmap(), nullptr);
    ASSERT_TRUE(dib.Create(4, 3, 8));
    ASSERT_NE(dib.GetBitmap(), nullptr);
    ASSERT_NE(dib.GetPalette(), nullptr);
    EXPECT_EQ(dib.GetPalette()->GetEntryCount(), 256);
    EXPECT_EQ(dib.GetBitmap()->GetWidth(), 4);
    ASSERT_TRUE(dib.Create(5, 2, 24));
    EXPECT_EQ(dib.GetPalette(), nullptr);
    EXPECT_EQ(dib.GetBitmap()->GetBitCount(), 24);
    // Painting draws into the section, and the block takes it back with
    // its resolution.
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib.GetBlock(), sizeof h);
    h.biXPelsPerMeter = 3937;
    h.biYPelsPerMeter = 7874;
    std::memcpy(dib.GetBlock(), &h, sizeof h);
    CDC* dc = dib.BeginPaint(nullptr);
    ASSERT_EQ(dc, static_cast<const CDC*>(&dib.GetBitmap()->GetCanvas()));
    dc->SetPixel(0, 0, RGB(1, 2, 3));
    dib.EndPaint();
    EXPECT_EQ(ColourAt(dib.GetBlock(), 0, 0), RGB(1, 2, 3));
    std::memcpy(&h, dib.GetBlock(), sizeof h);
    EXPECT_EQ(h.biXPelsPerMeter, 3937);
    EXPECT_EQ(h.biYPelsPerMeter, 7874);
    EXPECT_EQ(dib.GetBitmap()->GetCanvas().GetPixel(0, 0), RGB(1, 2, 3));

    CDibHandle pattern = PatternDib(6, 4, 4, 3);
    std::unique_ptr<CBitmap> section = HandleToDIBSection(pattern);
    ASSERT_NE(section, nullptr);
    ASSERT_TRUE(dib.CreateFromBitmap(*section));
    EXPECT_EQ(dib.Width(), 6);
    EXPECT_EQ(std::memcmp(dib.GetBlock() + 40, pattern.Lock() + 40, pattern.GetSize() - 40), 0);
    EXPECT_EQ(dib.GetPalette()->GetEntryCount(), 16);
    EXPECT_EQ(dib.GetBitmap()->GetCanvas().GetPixel(5, 3), ColourAt(pattern.Lock(), 5, 3));

    dib.Free();
    EXPECT_EQ(dib.GetBitmap(), nullptr);
    EXPECT_EQ(dib.GetPalette(), nullptr);
}
