// Median filters: the comparator networks proved on every 0-1 input, each
// kernel against a straightforward window-sorting reference, ImageMagick's
// median on a generated fixture, and the known answers.
#include "raster_test_support.h"

#include "raster/median.h"
#include "raster/median_network.h"
#include "raster/packed_bits.h"
#include "raster/row_bands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

const int kOddWidths[] = {1, 2, 7, 33, 67, 130};

// Per pixel, the window's samples sorted; edges repeated beyond the image.
template <class Sample>
std::vector<Sample> ReferenceMedian(const CRasterSrc& image, int size, Sample (*sample)(const CRasterSrc&, int, int))
{
    const int w = image.GetWidth(), h = image.GetHeight(), r = size / 2;
    std::vector<Sample> out, window;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            window.clear();
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx)
                    window.push_back(sample(image, std::clamp(x + dx, 0, w - 1), std::clamp(y + dy, 0, h - 1)));
            std::sort(window.begin(), window.end());
            out.push_back(window[window.size() / 2]);
        }
    }
    return out;
}

BYTE IndexSample(const CRasterSrc& image, int x, int y) { return static_cast<BYTE>(image.GetPixelIndex(x, y)); }

// Luminance first, then red, green, blue.
std::uint32_t ColourSample(const CRasterSrc& image, int x, int y)
{
    BYTE bgr[3];
    image.GetPixelBGR(x, y, bgr);
    std::uint32_t luminance = (30u * bgr[2] + 59u * bgr[1] + 11u * bgr[0]) / 100u;
    return luminance << 24 | std::uint32_t{bgr[2]} << 16 | std::uint32_t{bgr[1]} << 8 | bgr[0];
}

template <class Sample>
std::vector<Sample> Samples(const CRasterSrc& image, Sample (*sample)(const CRasterSrc&, int, int))
{
    std::vector<Sample> out;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            out.push_back(sample(image, x, y));
    return out;
}

// The majority filter as first described: count each window, border kept.
std::vector<int> ReferenceMajority(const CRasterSrc& image, int size)
{
    const int w = image.GetWidth(), h = image.GetHeight(), r = size / 2;
    std::vector<int> out = Bits(image);
    for (int y = r; y < h - r; ++y) {
        for (int x = r; x < w - r; ++x) {
            int count = 0;
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx)
                    count += image.GetPixelIndex(x + dx, y + dy);
            out[static_cast<size_t>(y) * w + x] = count > (size * size - 1) / 2 ? 1 : 0;
        }
    }
    return out;
}

// A random picture with long runs, like a scan, rather than pure noise.
void MakeBlotchyImage(CRasterSrc& image, int width, int height, int bitCount, unsigned seed)
{
    MakeRandomImage(image, width, height, bitCount, seed);
    std::mt19937 random(seed);
    const size_t bytes = static_cast<size_t>(PixelsToBytes(width, bitCount));
    for (int y = 1; y < height; y += 2)
        if (random() % 2)
            std::memcpy(image.GetRow(y), image.GetRow(y - 1), bytes);
}

std::vector<int> g_progress;
void RecordProgress(const std::string&, int percent) { g_progress.push_back(percent); }

bool WritePgm(const CRasterSrc& image, const std::string& path)
{
    std::ofstream file(path, std::ios::binary);
    file << "P5\n" << image.GetWidth() << " " << image.GetHeight() << "\n255\n";
    for (int y = 0; y < image.GetHeight(); ++y)
        file.write(reinterpret_cast<const char*>(image.GetRow(y)), image.GetWidth());
    return static_cast<bool>(file);
}

std::vector<BYTE> ReadPgmPixels(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, maxValue = 0;
    file >> magic >> w >> h >> maxValue;
    file.get();
    std::vector<BYTE> pixels(static_cast<size_t>(w) * h);
    file.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    return file && magic == "P5" && maxValue == 255 ? pixels : std::vector<BYTE>{};
}

}  // namespace

// 0-1 principle: a network of comparisons finds the median of every input
// exactly when it does for every input of zeros and ones. With sorted
// columns such an input is one count of ones per column.
TEST(MedianNetwork, FindsTheMedianOfEverySortedColumnInput)
{
    for (const CompareNetwork* net : {&kMedian3x3, &kMedian5x5}) {
        const int size = net == &kMedian3x3 ? 3 : 5;
        int ones[5] = {};
        for (;;) {
            int wires[25];
            int total = 0;
            for (int c = 0; c < size; ++c)
                for (int r = 0; r < size; ++r) {
                    wires[c * size + r] = r >= size - ones[c] ? 1 : 0;
                    total += wires[c * size + r];
                }
            for (int i = 0; i < net->count; ++i) {
                const CompareOp op = net->ops[static_cast<size_t>(i)];
                int a = wires[op.lo], b = wires[op.hi];
                if (op.keep != kKeepMax)
                    wires[op.lo] = std::min(a, b);
                if (op.keep != kKeepMin)
                    wires[op.hi] = std::max(a, b);
            }
            ASSERT_EQ(wires[net->output], total > size * size / 2 ? 1 : 0) << "size " << size;
            int c = 0;
            while (c < size && ++ones[c] > size)
                ones[c++] = 0;
            if (c == size)
                break;
        }
    }
    // Fewer comparisons than sorting the window, which is why it exists.
    EXPECT_LT(kMedian5x5.count, BatcherSortNetwork(25).count);
}

TEST(MedianSize, OddSizesFromThreeToFifteenAreAcceptedAndOthersRefusedWithAMessage)
{
    for (int size : {3, 5, 7, 15})
        EXPECT_TRUE(IsValidMedianSize(size)) << size;
    CRasterSrc grey, bits;
    MakeRandomImage(grey, 20, 20, 8, 1);
    MakeRandomImage(bits, 20, 20, 1, 2);
    std::vector<int> before = Bits(bits);
    for (int size : {-3, 0, 1, 2, 4, 16, 17, 255, 256}) {
        MessageRecorder messages;
        CBinaryMedianFilter filter;
        EXPECT_FALSE(filter.SetSize(size)) << size;
        EXPECT_FALSE(filter.Apply(bits)) << "no size set";
        EXPECT_FALSE(ApplyMedianFilter(bits, size)) << size;
        EXPECT_FALSE(MedianFilter(grey, size)) << size;
        EXPECT_EQ(messages.messages.size(), 2u) << size;
    }
    EXPECT_EQ(Bits(bits), before);
}

TEST(BinaryMedian, MatchesTheCountingReferenceOnEveryWidthAndSize)
{
    for (int size : {3, 5, 7, 15}) {
        for (int width : {1, 7, 16, 63, 64, 65, 131, 200}) {
            for (unsigned seed = 0; seed < 2; ++seed) {
                CRasterSrc image;
                MakeBlotchyImage(image, width, size + 9, 1, seed * 977 + static_cast<unsigned>(width * 31 + size));
                for (int y = 0; y < image.GetHeight(); ++y)  // random padding; the filter must not set any
                    image.GetRow(y)[PackedRowBytes(width) - 1] &= LastByteMask(width);
                std::vector<int> expected = ReferenceMajority(image, size);
                CBinaryMedianFilter filter;
                ASSERT_TRUE(filter.SetSize(size));
                ASSERT_TRUE(filter.Apply(image));
                ASSERT_EQ(Bits(image), expected) << "size " << size << " width " << width;
                for (int y = 0; y < image.GetHeight() && (width & 7); ++y) {
                    ASSERT_EQ(image.GetRow(y)[width >> 3] & ~LastByteMask(width), 0) << "padding bits";
                }
            }
        }
    }
}

TEST(BinaryMedian, RemovesLoneSpecksAndFillsLoneHolesButNeverTouchesTheBorder)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(9, 9, 1));
    image.SetPixelBit(3, 3, true);  // a lone black speck
    for (int y = 5; y < 9; ++y)     // a black block with a white hole at (6, 6)
        for (int x = 5; x < 9; ++x)
            image.SetPixelBit(x, y, !(x == 6 && y == 6));
    image.SetPixelBit(0, 0, true);  // border pixels: a lone black one stays
    image.SetPaletteDimmed(1);
    CBinaryMedianFilter filter;
    ASSERT_TRUE(filter.SetSize(3));
    ASSERT_TRUE(filter.Apply(image));
    EXPECT_EQ(image.GetPixelIndex(3, 3), 0);
    EXPECT_EQ(image.GetPixelIndex(6, 6), 1);
    EXPECT_EQ(image.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(image.GetPixelIndex(8, 8), 1);
    EXPECT_EQ(image.GetPaletteDimmed(), 0);
}

TEST(BinaryMedian, ImagesNoLargerThanTheWindowAreLeftAlone)
{
    for (int side : {1, 4, 5}) {
        CRasterSrc image;
        MakeRandomImage(image, side, 5, 1, static_cast<unsigned>(side));
        std::vector<int> before = Bits(image);
        CBinaryMedianFilter filter;
        ASSERT_TRUE(filter.SetSize(5));
        g_progress.clear();
        EXPECT_TRUE(filter.Apply(image, RecordProgress));
        EXPECT_EQ(Bits(image), before);
        EXPECT_EQ(g_progress.back(), 100);
    }
}

TEST(GreyMedian, MatchesTheSortingReferenceWithEdgesRepeated)
{
    for (int size : {3, 5, 7, 9, 15}) {
        for (int width : kOddWidths) {
            CRasterSrc image;
            MakeBlotchyImage(image, width, 11, 8, static_cast<unsigned>(width * 7 + size));
            std::vector<BYTE> expected = ReferenceMedian<BYTE>(image, size, IndexSample);
            ASSERT_TRUE(GreyMedianFilter(image, size));
            ASSERT_EQ(Samples<BYTE>(image, IndexSample), expected) << "size " << size << " width " << width;
        }
    }
}

TEST(ColourMedian, MatchesTheSortingReferenceAtEveryColourDepth)
{
    for (int bitCount : {16, 24, 32}) {
        for (int size : {3, 5, 7}) {
            for (int width : {1, 9, 45}) {
                CRasterSrc image;
                MakeBlotchyImage(image, width, 8, bitCount, static_cast<unsigned>(bitCount + size * 11 + width));
                // Some equal luminances of different colours, for the ties.
                BYTE a[3] = {0, 100, 0}, b[3] = {0, 0, 196};  // both luminance 59
                for (int x = 0; x < width; x += 3) {
                    image.SetPixelColor(x, 2, a);
                    image.SetPixelColor(x, 3, b);
                }
                std::vector<std::uint32_t> expected = ReferenceMedian<std::uint32_t>(image, size, ColourSample);
                ASSERT_TRUE(ColorMedianFilter(image, size));
                ASSERT_EQ(Samples<std::uint32_t>(image, ColourSample), expected)
                    << bitCount << " bits, size " << size << " width " << width;
                if (bitCount == 32) {
                    EXPECT_EQ(image.GetRow(0)[3], 0);
                }
            }
        }
    }
}

// Bands side by side borrow their neighbours' rows before these are
// overwritten: any thread count gives the reference's result.
TEST(MedianFilter, RowBandsGiveTheReferenceResultAtAnyThreadCount)
{
    for (int bitCount : {8, 24}) {
        for (int size : {3, 5, 9, 15}) {
            CRasterSrc original;
            MakeBlotchyImage(original, 23, 600, bitCount, static_cast<unsigned>(bitCount * 3 + size));
            const bool grey = bitCount == 8;
            const std::vector<std::uint32_t> expected =
                grey ? std::vector<std::uint32_t>() : ReferenceMedian<std::uint32_t>(original, size, ColourSample);
            const std::vector<BYTE> expectedGrey =
                grey ? ReferenceMedian<BYTE>(original, size, IndexSample) : std::vector<BYTE>();
            for (int threads : {1, 3, 8}) {
                SetRowBandThreads(threads);
                CRasterSrc image;
                ASSERT_TRUE(image.Copy(original));
                if (grey) {
                    ASSERT_TRUE(GreyMedianFilter(image, size));
                    EXPECT_EQ(Samples<BYTE>(image, IndexSample), expectedGrey) << size << " " << threads;
                } else {
                    ASSERT_TRUE(ColorMedianFilter(image, size));
                    EXPECT_EQ(Samples<std::uint32_t>(image, ColourSample), expected) << size << " " << threads;
                }
            }
        }
    }
    for (int size : {3, 7, 15}) {
        CRasterSrc original;
        MakeBlotchyImage(original, 70, 600, 1, static_cast<unsigned>(size));
        const std::vector<int> expected = ReferenceMajority(original, size);
        for (int threads : {1, 3, 8}) {
            SetRowBandThreads(threads);
            CRasterSrc image;
            ASSERT_TRUE(image.Copy(original));
            CBinaryMedianFilter filter;
            ASSERT_TRUE(filter.SetSize(size));
            ASSERT_TRUE(filter.Apply(image));
            EXPECT_EQ(Bits(image), expected) << size << " " << threads;
        }
    }
    SetRowBandThreads(0);
}

TEST(ColourMedian, AWhitePageKeepsWhiteCorners)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(6, 6, 24));
    for (int y = 0; y < 6; ++y)
        std::memset(image.GetRow(y), 255, 18);
    ASSERT_TRUE(MedianFilter(image, 5));
    BYTE corner[3];
    ASSERT_TRUE(image.GetPixelColor(0, 0, corner));
    EXPECT_EQ(corner[0] + corner[1] + corner[2], 3 * 255);
    ASSERT_TRUE(image.GetPixelColor(5, 5, corner));
    EXPECT_EQ(corner[0] + corner[1] + corner[2], 3 * 255);
}

TEST(MedianFilter, PaletteImagesBecomeGreyFirstAndOneBitImagesAreRefused)
{
    CRasterSrc image;
    MakeRandomImage(image, 21, 9, 4, 5);
    CRasterSrc grey;
    ASSERT_TRUE(grey.Copy(image));
    ASSERT_TRUE(grey.ConvertToGrey8());
    std::vector<BYTE> expected = ReferenceMedian<BYTE>(grey, 3, IndexSample);
    g_progress.clear();
    ASSERT_TRUE(MedianFilter(image, 3, RecordProgress));
    EXPECT_EQ(image.GetBitCount(), 8);
    EXPECT_EQ(Samples<BYTE>(image, IndexSample), expected);
    EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end()));
    EXPECT_EQ(g_progress.front(), 0);
    EXPECT_EQ(g_progress.back(), 100);

    CRasterSrc bits;
    MakeRandomImage(bits, 9, 9, 1, 6);
    EXPECT_FALSE(MedianFilter(bits, 3));
    EXPECT_FALSE(GreyMedianFilter(bits, 3));
    EXPECT_FALSE(ColorMedianFilter(image, 3)) << "8 bits is not a colour image";
}

// ImageMagick repeats edge pixels beyond the image as well, so its median of
// a grey picture is ours byte for byte.
TEST(GreyMedian, AgreesWithImageMagick)
{
    if (std::system("convert -version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    TempFolder folder;
    for (int size : {3, 5, 7}) {
        CRasterSrc image;
        MakeBlotchyImage(image, 37, 23, 8, static_cast<unsigned>(size));
        image.SetGreyRamp();
        ASSERT_TRUE(WritePgm(image, folder / "in.pgm"));
        std::string command = "convert " + folder / "in.pgm" + " -statistic Median " + std::to_string(size) + "x" +
                              std::to_string(size) + " " + folder / "out.pgm";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::vector<BYTE> expected = ReadPgmPixels(folder / "out.pgm");
        ASSERT_EQ(expected.size(), 37u * 23u);
        ASSERT_TRUE(GreyMedianFilter(image, size));
        EXPECT_EQ(Samples<BYTE>(image, IndexSample), expected) << "size " << size;
    }
}
