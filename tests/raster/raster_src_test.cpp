#include "raster_test_support.h"

#include "raster/packed_bits.h"

#include <cstring>

namespace {

void ExpectColour(const CRasterSrc& image, int x, int y, BYTE blue, BYTE green, BYTE red)
{
    BYTE bgr[3] = {1, 2, 3};
    ASSERT_TRUE(image.GetPixelColor(x, y, bgr));
    EXPECT_EQ(bgr[0], blue);
    EXPECT_EQ(bgr[1], green);
    EXPECT_EQ(bgr[2], red);
}

bool SameColours(const CRasterSrc& a, const CRasterSrc& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return false;
    for (int y = 0; y < a.GetHeight(); ++y) {
        for (int x = 0; x < a.GetWidth(); ++x) {
            BYTE p[3], q[3];
            a.GetPixelBGR(x, y, p);
            b.GetPixelBGR(x, y, q);
            if (std::memcmp(p, q, 3) != 0)
                return false;
        }
    }
    return true;
}

}  // namespace

TEST(RasterImage, NewOneBitImagesAreBlankWhite)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(21, 5, 1));
    EXPECT_EQ(image.GetBitCount(), 1);
    EXPECT_FALSE(image.IsMoreThan1Bit());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 21; ++x)
            ASSERT_EQ(image.GetPixelIndex(x, y), 0);
    ExpectColour(image, 20, 4, 255, 255, 255);
    EXPECT_EQ(image.GetPalette()[0].rgbRed, 255);
    EXPECT_EQ(image.GetPalette()[1].rgbRed, 0);
    EXPECT_EQ(image.GetBackgroundColor(), 0u);
    EXPECT_FALSE(image.IsHistogramValid());
}

TEST(RasterImage, CreateRefusesSizesAndDepthsItCannotHold)
{
    CRasterSrc image;
    EXPECT_FALSE(image.Create(0, 5, 8));
    EXPECT_FALSE(image.Create(5, -1, 8));
    EXPECT_FALSE(image.Create(5, 5, 2));
    EXPECT_TRUE(image.IsEmpty());
}

TEST(RasterImage, AttachMakesADarkFirstEntryWhiteAndKeepsThePicture)
{
    // The library's own 1-bit palette is {black, white}.
    FIBITMAP* bitmap = FreeImage_Allocate(10, 2, 1);
    RGBQUAD* palette = FreeImage_GetPalette(bitmap);
    ASSERT_EQ(palette[0].rgbRed, 0);
    FreeImage_GetScanLine(bitmap, 1)[0] = 0x80;  // top row, x = 0: entry 1 = white
    CRasterSrc image;
    ASSERT_TRUE(image.Attach(bitmap));
    EXPECT_EQ(image.GetPalette()[0].rgbGreen, 255);
    EXPECT_EQ(image.GetPalette()[1].rgbGreen, 0);
    ExpectColour(image, 0, 0, 255, 255, 255);
    ExpectColour(image, 1, 0, 0, 0, 0);
    ExpectColour(image, 9, 1, 0, 0, 0);
    EXPECT_EQ(image.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(image.GetPixelIndex(1, 0), 1);
}

TEST(RasterImage, AttachRefusesLayoutsItCannotHoldAndLeavesThemToTheCaller)
{
    FIBITMAP* grey16 = FreeImage_AllocateT(FIT_UINT16, 4, 4);
    FIBITMAP* rgb565 = FreeImage_Allocate(4, 4, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK);
    CRasterSrc image;
    EXPECT_FALSE(image.Attach(grey16));
    EXPECT_FALSE(image.Attach(rgb565));
    EXPECT_FALSE(image.Attach(nullptr));
    EXPECT_TRUE(image.IsEmpty());
    FreeImage_Unload(grey16);
    FreeImage_Unload(rgb565);
}

TEST(RasterImage, RowZeroIsTheTopRowOfThePicture)
{
    FIBITMAP* bitmap = FreeImage_Allocate(3, 4, 8);
    FreeImage_GetScanLine(bitmap, 3)[0] = 7;  // the library's last scan line
    FreeImage_GetScanLine(bitmap, 0)[2] = 9;
    CRasterSrc image;
    ASSERT_TRUE(image.Attach(bitmap));
    EXPECT_EQ(image.GetPixelIndex(0, 0), 7);
    EXPECT_EQ(image.GetPixelIndex(2, 3), 9);
    EXPECT_EQ(image.GetRow(0), FreeImage_GetScanLine(bitmap, 3));
}

TEST(RasterImage, PixelAccessOutsideTheImageFailsAndWritesNothing)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(4, 3, 24));
    BYTE bgr[3] = {1, 2, 3};
    EXPECT_FALSE(image.GetPixelColor(4, 0, bgr));
    EXPECT_FALSE(image.GetPixelColor(-1, 0, bgr));
    EXPECT_FALSE(image.GetPixelColor(0, 3, bgr));
    EXPECT_EQ(bgr[0], 1);
    EXPECT_EQ(bgr[2], 3);
    EXPECT_FALSE(image.SetPixelColor(0, -1, bgr));
    CRasterSrc empty;
    EXPECT_FALSE(empty.GetPixelColor(0, 0, bgr));
}

TEST(RasterImage, PixelLayoutsPerDepth)
{
    CRasterSrc one;
    ASSERT_TRUE(one.Create(9, 1, 1));
    const BYTE redOne[3] = {0, 0, 1};
    const BYTE redZero[3] = {0, 0, 0};
    ASSERT_TRUE(one.SetPixelColor(8, 0, redOne));
    EXPECT_EQ(one.GetRow(0)[1], 0x80);
    ExpectColour(one, 8, 0, 0, 0, 0);
    ASSERT_TRUE(one.SetPixelColor(8, 0, redZero));
    EXPECT_EQ(one.GetRow(0)[1], 0x00);

    CRasterSrc four;
    ASSERT_TRUE(four.Create(3, 1, 4));
    four.SetPixelIndex(0, 0, 0xA);
    four.SetPixelIndex(1, 0, 0x5);
    four.SetPixelIndex(2, 0, 0xF);
    EXPECT_EQ(four.GetRow(0)[0], 0xA5);
    EXPECT_EQ(four.GetRow(0)[1] & 0xF0, 0xF0);
    EXPECT_EQ(four.GetPixelIndex(1, 0), 5);

    CRasterSrc sixteen;
    ASSERT_TRUE(sixteen.Create(2, 1, 16));
    sixteen.SetPixelRGB(1, 0, 0xFF, 0x80, 0x0F);
    BYTE* p = sixteen.GetRow(0) + 2;
    EXPECT_EQ(p[0] | (p[1] << 8), (0x1F << 10) | (0x10 << 5) | 0x01);
    ExpectColour(sixteen, 1, 0, 0x08, 0x80, 0xF8);

    CRasterSrc thirtyTwo;
    ASSERT_TRUE(thirtyTwo.Create(1, 1, 32));
    thirtyTwo.GetRow(0)[3] = 0x55;
    thirtyTwo.SetPixelRGB(0, 0, 1, 2, 3);
    EXPECT_EQ(thirtyTwo.GetRow(0)[0], 3);
    EXPECT_EQ(thirtyTwo.GetRow(0)[2], 1);
    EXPECT_EQ(thirtyTwo.GetRow(0)[3], 0);
    EXPECT_EQ(thirtyTwo.GetPixelIndex(0, 0), 0);
}

TEST(RasterImage, PaletteBackgroundAndNearestColour)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(2, 2, 8));
    const BYTE black[3] = {0, 0, 0};
    for (int i = 0; i < 256; ++i)
        ASSERT_TRUE(image.SetPaletteEntry(i, black));
    const BYTE white[3] = {255, 255, 255};
    const BYTE nearlyWhite[3] = {250, 255, 255};
    ASSERT_TRUE(image.SetPaletteEntry(40, nearlyWhite));
    ASSERT_TRUE(image.SetPaletteEntry(77, white));
    ASSERT_TRUE(image.SetPaletteEntry(90, white));
    EXPECT_FALSE(image.SetPaletteEntry(256, white));
    EXPECT_EQ(image.FindNearestPaletteIndex(white), 77);
    EXPECT_EQ(image.FindNearestPaletteIndex(nearlyWhite), 40);
    image.InitBackgroundColor();
    EXPECT_EQ(image.GetBackgroundColor(), 77u);
    EXPECT_FALSE(image.IsGreyRamp());
    image.SetGreyRamp();
    EXPECT_TRUE(image.IsGreyRamp());

    CRasterSrc colour;
    ASSERT_TRUE(colour.Create(2, 2, 24));
    EXPECT_EQ(colour.FindNearestPaletteIndex(white), -1);
    EXPECT_EQ(colour.GetBackgroundColor(), 0xFFFFFFu);
    EXPECT_FALSE(colour.IsGreyRamp());
}

TEST(RasterImage, ResolutionOfOneDotPerInchOrLessReadsAs200Dpi)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(2, 2, 8));
    LONG dpm = 0;
    ASSERT_TRUE(image.SetResolution(39));
    ASSERT_TRUE(image.GetResolution(dpm));
    EXPECT_EQ(dpm, 7874);
    EXPECT_EQ(image.GetHeader()->biXPelsPerMeter, 7874);
    EXPECT_EQ(image.GetHeader()->biYPelsPerMeter, 7874);
    ASSERT_TRUE(image.SetResolution(40));
    ASSERT_TRUE(image.GetResolution(dpm));
    EXPECT_EQ(dpm, 40);
    CRasterSrc empty;
    EXPECT_FALSE(empty.GetResolution(dpm));
}

TEST(RasterImage, UnpackRowAndFillBytesCoverTheWholeWidth)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(13, 2, 1));
    image.FillBytes(0xFF);
    for (int x = 0; x < 13; ++x)
        ASSERT_EQ(image.GetPixelIndex(x, 1), 1) << x;
    EXPECT_EQ(image.GetRow(0)[1], 0xF8) << "padding bits stay clear";
    image.SetPixelBit(12, 0, false);
    std::vector<BYTE> bytes(13, 9);
    ASSERT_TRUE(image.UnpackRow(0, bytes.data()));
    EXPECT_EQ(bytes[11], 1);
    EXPECT_EQ(bytes[12], 0);
    EXPECT_FALSE(image.UnpackRow(2, bytes.data()));
    EXPECT_FALSE(image.UnpackRow(-1, bytes.data()));
    image.FillBytes(0xAA);
    EXPECT_EQ(image.GetPixelIndex(8, 0), 1);
    EXPECT_EQ(image.GetPixelIndex(9, 0), 0);
}

TEST(RasterImage, CopyClonesBeforeLettingGo)
{
    CRasterSrc source;
    MakeRandomImage(source, 17, 5, 8, 1);
    BYTE bins[256];
    source.ComputeHistogram(bins);
    ASSERT_TRUE(source.IsHistogramValid());

    CRasterSrc copy;
    MakeRandomImage(copy, 3, 3, 24, 2);
    ASSERT_TRUE(copy.Copy(source));
    EXPECT_TRUE(SameColours(copy, source));
    EXPECT_NE(copy.GetBitmap(), source.GetBitmap());
    EXPECT_TRUE(copy.IsHistogramValid());
    EXPECT_EQ(std::memcmp(copy.GetDisplayHistogram(), bins, 256), 0);

    // Nothing to copy: the picture already held stays.
    CRasterSrc empty;
    EXPECT_FALSE(copy.Copy(empty));
    EXPECT_TRUE(SameColours(copy, source));
    // Onto itself: nothing happens.
    FIBITMAP* before = copy.GetBitmap();
    EXPECT_TRUE(copy.Copy(copy));
    EXPECT_EQ(copy.GetBitmap(), before);
}

TEST(RasterImage, CopyKeepsADimmedOneBitPalette)
{
    CRasterSrc source;
    ASSERT_TRUE(source.Create(8, 8, 1));
    source.SetPaletteGrey(1, 220);
    EXPECT_EQ(source.GetPaletteDimmed(), 1);
    CRasterSrc copy;
    ASSERT_TRUE(copy.Copy(source));
    EXPECT_EQ(copy.GetPaletteDimmed(), 1);
    EXPECT_EQ(copy.GetPalette()[1].rgbRed, 220);
}

TEST(RasterImage, MoveToHandsEverythingOver)
{
    CRasterSrc source;
    MakeRandomImage(source, 6, 4, 4, 3);
    source.SetReservedFlag(1);
    source.SetLastBrushPoint(3, 2);
    source.GetEditSettings().brushHalfWidth = 5;
    FIBITMAP* bitmap = source.GetBitmap();
    CRasterSrc target;
    MakeRandomImage(target, 2, 2, 8, 4);
    ASSERT_TRUE(source.MoveTo(target));
    EXPECT_TRUE(source.IsEmpty());
    EXPECT_EQ(target.GetBitmap(), bitmap);
    EXPECT_EQ(target.GetWidth(), 6);
    EXPECT_EQ(target.GetReservedFlag(), 1);
    EXPECT_EQ(target.GetEditSettings().brushHalfWidth, 5);
    int x = 0, y = 0;
    target.GetLastBrushPoint(x, y);
    EXPECT_EQ(x, 3);
    EXPECT_FALSE(source.MoveTo(target));
    EXPECT_EQ(target.GetBitmap(), bitmap);
}

TEST(RasterImage, CopyRectToClipsOnEverySide)
{
    for (int bits : kAllDepths) {
        CRasterSrc source;
        MakeRandomImage(source, 29, 11, bits, 10u + static_cast<unsigned>(bits));
        ASSERT_TRUE(source.SetResolution(11811));
        CRasterSrc target;
        // [-3, 17) x [-2, 6) clips to [0, 17) x [0, 6).
        ASSERT_TRUE(source.CopyRectTo(target, -3, -2, 20, 8)) << bits;
        ASSERT_EQ(target.GetWidth(), 17);
        ASSERT_EQ(target.GetHeight(), 6);
        EXPECT_EQ(target.GetBitCount(), bits);
        EXPECT_EQ(target.GetHeader()->biXPelsPerMeter, 11811);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 17; ++x) {
                BYTE p[3], q[3];
                source.GetPixelBGR(x, y, p);
                target.GetPixelBGR(x, y, q);
                ASSERT_EQ(std::memcmp(p, q, 3), 0) << bits << " " << x << "," << y;
            }
        // Odd offsets keep odd and even pixels (4 bits) and bit positions apart.
        ASSERT_TRUE(source.CopyRectTo(target, 5, 3, 100, 100));
        ASSERT_EQ(target.GetWidth(), 24);
        ASSERT_EQ(target.GetHeight(), 8);
        for (int y = 0; y < 8 && bits <= 8; ++y) {
            for (int x = 0; x < 24; ++x)
                ASSERT_EQ(target.GetPixelIndex(x, y), source.GetPixelIndex(x + 5, y + 3)) << bits;
        }
    }
}

TEST(RasterImage, CopyRectToWithNothingInsideDoesNothing)
{
    CRasterSrc source;
    MakeRandomImage(source, 10, 10, 8, 1);
    CRasterSrc target;
    EXPECT_TRUE(source.CopyRectTo(target, 10, 0, 5, 5));
    EXPECT_TRUE(source.CopyRectTo(target, -8, 0, 5, 5));
    EXPECT_TRUE(source.CopyRectTo(target, 2, 2, 0, 5));
    EXPECT_TRUE(source.CopyRectTo(target, 2, 2, -4, 5));
    EXPECT_TRUE(target.IsEmpty());
    EXPECT_FALSE(source.CopyRectTo(source, 0, 0, 2, 2));
}

TEST(RasterImage, CropKeepsTheRectangleAtEveryDepth)
{
    for (int bits : kAllDepths) {
        CRasterSrc image;
        MakeRandomImage(image, 23, 9, bits, 20u + static_cast<unsigned>(bits));
        ASSERT_TRUE(image.SetResolution(5000));
        CRasterSrc original;
        ASSERT_TRUE(original.Copy(image));
        ASSERT_TRUE(image.Crop(3, 2, 20, 7)) << bits;
        ASSERT_EQ(image.GetWidth(), 17);
        ASSERT_EQ(image.GetHeight(), 5);
        EXPECT_EQ(image.GetHeader()->biXPelsPerMeter, 5000);
        EXPECT_FALSE(image.IsHistogramValid());
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 17; ++x) {
                BYTE p[3], q[3];
                original.GetPixelBGR(x + 3, y + 2, p);
                image.GetPixelBGR(x, y, q);
                ASSERT_EQ(std::memcmp(p, q, 3), 0) << bits << " " << x << "," << y;
            }
    }
}

TEST(RasterImage, CropRefusesBadRectanglesWithoutTheMemoryMessage)
{
    MessageRecorder recorder;
    CRasterSrc image;
    MakeRandomImage(image, 16, 16, 1, 1);
    FIBITMAP* bitmap = image.GetBitmap();
    EXPECT_FALSE(image.Crop(4, 4, 4, 8));   // empty
    EXPECT_FALSE(image.Crop(8, 4, 4, 8));   // inverted
    EXPECT_FALSE(image.Crop(-1, 0, 4, 4));  // outside
    EXPECT_FALSE(image.Crop(0, 0, 17, 4));
    EXPECT_FALSE(image.Crop(0, 0, 4, 17));
    EXPECT_EQ(image.GetBitmap(), bitmap);
    EXPECT_TRUE(recorder.messages.empty());
    CRasterSrc empty;
    EXPECT_FALSE(empty.Crop(0, 0, 1, 1));
}
