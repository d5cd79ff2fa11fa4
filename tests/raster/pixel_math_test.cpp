#include "raster/pixel_math.h"

#include <gtest/gtest.h>

TEST(PixelMath, FastGreyLevelsEqualTheDoubleFormulaForEveryColour)
{
    int truncatedMismatches = 0;
    int roundedMismatches = 0;
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                auto red = static_cast<BYTE>(r), green = static_cast<BYTE>(g), blue = static_cast<BYTE>(b);
                double sum = 0.587 * g + 0.299 * r + 0.114 * b;
                auto truncated = static_cast<BYTE>(sum);
                double half = sum + 0.5;
                BYTE rounded = half >= 255.0 ? BYTE{255} : static_cast<BYTE>(half);
                truncatedMismatches += FastGreyLevel(red, green, blue) != truncated;
                roundedMismatches += FastRoundedGreyLevel(red, green, blue) != rounded;
            }
        }
    }
    EXPECT_EQ(truncatedMismatches, 0);
    EXPECT_EQ(roundedMismatches, 0);
}

TEST(PixelMath, GreyLevelTruncatesAndTheHistogramRounds)
{
    EXPECT_EQ(GreyLevel(255, 255, 255), 255);
    EXPECT_EQ(GreyLevel(0, 0, 0), 0);
    EXPECT_EQ(GreyLevel(0, 0, 255), 29);  // 29.07
    EXPECT_EQ(RoundedGreyLevel(0, 0, 255), 29);
    EXPECT_EQ(GreyLevel(255, 0, 0), 76);   // 76.245
    EXPECT_EQ(GreyLevel(0, 255, 0), 149);  // 149.685
    EXPECT_EQ(RoundedGreyLevel(0, 255, 0), 150);
    EXPECT_EQ(RoundedGreyLevel(255, 255, 255), 255);
}

TEST(PixelMath, RowLengthsPerDepth)
{
    EXPECT_EQ(PixelsToBytes(13, 1), 1);  // not rounded up
    EXPECT_EQ(PixelsToBytes(13, 4), 6);
    EXPECT_EQ(PixelsToBytes(13, 16), 26);
    EXPECT_EQ(PixelsToBytes(13, 24), 39);
    EXPECT_EQ(PixelsToBytes(13, 2), 0);
    EXPECT_EQ(AlignedRowBytes(1, 33), 8);
    EXPECT_EQ(AlignedRowBytes(4, 9), 8);
    EXPECT_EQ(AlignedRowBytes(8, 5), 8);
    EXPECT_EQ(AlignedRowBytes(24, 5), 16);
    EXPECT_EQ(AlignedRowBytes(32, 3), 12);
}

TEST(PixelMath, ColourDistanceAndClamps)
{
    const BYTE a[3] = {10, 20, 30};  // blue, green, red
    const BYTE b[3] = {11, 22, 33};
    EXPECT_EQ(ColorDistance(a, b), 3 * 9 + 4 * 4 + 2 * 1);
    EXPECT_EQ(ClampByte(-4), 0);
    EXPECT_EQ(ClampByte(300), 255);
    EXPECT_EQ(AddClamp255(250, 10), 255);
    EXPECT_EQ(SubClamp0(5, 10), 0);
    EXPECT_EQ(AddClamp255(5, 10), 15);
}
