#include "raster/packed_bits.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

bool NaiveTest(const std::vector<BYTE>& row, int x) { return (row[static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1; }

std::vector<BYTE> RandomRow(int width, std::mt19937& random)
{
    std::vector<BYTE> row(static_cast<size_t>(PackedRowBytes(width)) + 8);
    for (BYTE& b : row)
        b = static_cast<BYTE>(random());
    return row;
}

const int kWidths[] = {1, 7, 8, 9, 63, 64, 65, 127, 128, 129, 200, 333};

}  // namespace

TEST(PackedBits, PixelZeroIsTheTopBitOfTheFirstByte)
{
    BYTE row[2] = {0x80, 0x01};
    EXPECT_TRUE(TestPixel(row, 0));
    EXPECT_FALSE(TestPixel(row, 1));
    EXPECT_TRUE(TestPixel(row, 15));
    EXPECT_EQ(LoadPartialWord(row, 2), 0x8001000000000000ull);
    SetPixel(row, 1);
    ClearPixel(row, 0);
    EXPECT_EQ(row[0], 0x40);
    EXPECT_EQ(LastByteMask(8), 0xFF);
    EXPECT_EQ(LastByteMask(11), 0xE0);
    EXPECT_EQ(LeadingWordMask(0), 0u);
    EXPECT_EQ(LeadingWordMask(64), ~0ull);
    EXPECT_EQ(LeadingWordMask(3), 0xE000000000000000ull);
}

TEST(PackedBits, WordKernelsMatchPixelByPixelReadings)
{
    std::mt19937 random(11);
    for (int width : kWidths) {
        std::vector<BYTE> row = RandomRow(width, random);

        std::vector<BYTE> unpacked(static_cast<size_t>(width));
        UnpackPixels(row.data(), width, unpacked.data());
        std::int64_t count = 0;
        for (int x = 0; x < width; ++x) {
            ASSERT_EQ(unpacked[static_cast<size_t>(x)], NaiveTest(row, x) ? 1 : 0) << width << " " << x;
            count += NaiveTest(row, x);
        }
        EXPECT_EQ(CountPixels(row.data(), width), count) << width;

        // Every start and length, each copied to the start of a fresh row.
        for (int x = 0; x < width; x += 5) {
            int n = width - x;
            std::vector<BYTE> out(static_cast<size_t>(PackedRowBytes(n)) + 1, 0xAA);
            ExtractPixels(row.data(), x, n, out.data());
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(NaiveTest(out, i), NaiveTest(row, x + i)) << width << " " << x << " " << i;
            EXPECT_EQ(out[static_cast<size_t>(PackedRowBytes(n) - 1)] & ~LastByteMask(n), 0) << "padding cleared";
            EXPECT_EQ(out.back(), 0xAA) << "nothing written past the last used byte";
        }
    }
}

TEST(PackedBits, PackRowWritesTheWholeWidthAndClearsPadding)
{
    std::mt19937 random(5);
    for (int width : kWidths) {
        std::vector<int> wanted(static_cast<size_t>(width));
        for (int& w : wanted)
            w = static_cast<int>(random() & 1);
        std::vector<BYTE> row(static_cast<size_t>(PackedRowBytes(width)) + 1, 0xFF);
        PackRow(row.data(), width, [&](int x) { return wanted[static_cast<size_t>(x)] != 0; });
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(NaiveTest(row, x), wanted[static_cast<size_t>(x)] != 0) << width << " " << x;
        EXPECT_EQ(row[static_cast<size_t>(PackedRowBytes(width) - 1)] & ~LastByteMask(width), 0);
        EXPECT_EQ(row.back(), 0xFF);
    }
}

TEST(PackedBits, FillPixelsTouchesOnlyItsRange)
{
    std::mt19937 random(3);
    for (int x0 = 0; x0 < 40; x0 += 3) {
        for (int x1 = x0; x1 < 90; x1 += 7) {
            for (bool on : {true, false}) {
                std::vector<BYTE> row = RandomRow(96, random);
                std::vector<BYTE> before = row;
                FillPixels(row.data(), x0, x1, on);
                for (int x = 0; x < 96; ++x) {
                    bool inside = x >= x0 && x < x1;
                    ASSERT_EQ(NaiveTest(row, x), inside ? on : NaiveTest(before, x)) << x0 << " " << x1 << " " << x;
                }
            }
        }
    }
}
