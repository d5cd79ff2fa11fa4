// The display stretch blit and the display half of CDib, drawn onto pixel
// canvases and read back pixel by pixel.
#include <gtest/gtest.h>

#include "raster_test_support.h"

#include <cstdint>
#include <cstring>

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
    for (auto [x, y] : black) image.SetPixelBit(x, y, true);
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
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(233, 233, 233));   // half and half: 232.5, rounded
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
            if (x >= 1 && x < 7 && y >= 1 && y < 7) expected = (x >= 4 && y < 4) ? kBlack : kWhite;
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
        for (int x = 0; x < 7; ++x) image.SetPixelRGB(x, y, BYTE(x * 30), BYTE(y * 40), 200);
    CPixelDC whole(21, 15);
    ASSERT_TRUE(DrawRasterDib(&image, RECT{0, 0, 7, 5}, &whole, RECT{0, 0, 21, 15}));
    CPixelDC part(6, 4);
    ASSERT_TRUE(DrawRasterDib(&image, RECT{0, 0, 7, 5}, &part, RECT{-5, -7, 16, 8}, RECT{0, 0, 6, 4}));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(part.GetPixel(x, y), whole.GetPixel(x + 5, y + 7)) << x << "," << y;
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
    EXPECT_EQ(dib.BeginPaint(nullptr), dc);   // one context while painting
    dc->FillSolidRect(RECT{0, 0, 5, 3}, kWhite);
    dc->SetPixel(1, 0, RGB(10, 20, 30));      // top row
    dib.EndPaint();
    EXPECT_FALSE(dib.IsPainting());
    const BYTE* block = dib.GetBlock();
    const BYTE* topRow = FindDIBBits(block) + 2 * DIBBytesPerLine(block);
    EXPECT_EQ(topRow[3], 30);   // blue, green, red
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
    palette[1] = RGBQUAD{255, 255, 255, 0};   // entry 0 black, entry 1 white
    ASSERT_TRUE(dib.UpdateGdiObjects());
    CDC* dc = dib.BeginPaint(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(static_cast<CPixelDC*>(dc)->GetPixel(0, 0), kBlack);
    dc->SetPixel(2, 1, RGB(230, 230, 230));
    dib.EndPaint();
    EXPECT_EQ(FindDIBBits(dib.GetBlock())[0], 0x20);   // bottom row, pixel 2 set
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

}   // namespace
