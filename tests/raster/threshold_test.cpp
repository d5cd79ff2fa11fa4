// Threshold, histogram and grey conversion: the row kernels against
// pixel-by-pixel reference versions, plus the known answers.
#include "raster_test_support.h"

#include "raster/grey_rows.h"
#include "raster/packed_bits.h"
#include "raster/row_bands.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

const int kWidths[] = {1, 7, 64, 65, 131};
const int kColourDepths[] = {4, 8, 16, 24, 32};

std::vector<int> ReferenceThreshold(const CRasterSrc& image, BYTE threshold)
{
    std::vector<int> bits;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            bits.push_back(ReferenceGrey(image, x, y) <= threshold ? 1 : 0);
    return bits;
}

// Column by column, as the histogram was first described.
void ReferenceHistogram(const CRasterSrc& image, BYTE* bins)
{
    std::vector<long long> counts(256, 0);
    for (int x = 0; x < image.GetWidth(); ++x)
        for (int y = 0; y < image.GetHeight(); ++y)
            ++counts[ReferenceRoundedGrey(image, x, y)];
    long long maxCount = *std::max_element(counts.begin(), counts.end());
    for (int i = 0; i < 256; ++i)
        bins[i] = counts[i] >= maxCount ? 80 : static_cast<BYTE>(static_cast<double>(counts[i]) / maxCount * 80.0);
}

std::vector<int> ReferenceSmartThreshold(const CRasterSrc& image, int box, float factor)
{
    int w = image.GetWidth(), h = image.GetHeight();
    int tw = std::min(box, w), th = std::min(box, h);
    std::vector<int> bits(static_cast<size_t>(w) * h, 0);
    for (int ty = 0; ty < h; ty += th) {
        for (int tx = 0; tx < w; tx += tw) {
            int cw = std::min(tw, w - tx), ch = std::min(th, h - ty);
            long long sum = 0;
            for (int y = ty; y < ty + ch; ++y)
                for (int x = tx; x < tx + cw; ++x)
                    sum += ReferenceGrey(image, x, y);
            float t = static_cast<float>(sum) * factor / static_cast<float>(cw * ch);
            int threshold = static_cast<int>(std::min(t, 256.0f));
            for (int y = ty; y < ty + ch; ++y)
                for (int x = tx; x < tx + cw; ++x)
                    bits[static_cast<size_t>(y) * w + x] = ReferenceGrey(image, x, y) < threshold ? 1 : 0;
        }
    }
    return bits;
}

void FillGrey(CRasterSrc& image, BYTE grey)
{
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            image.SetPixelRGB(x, y, grey, grey, grey);
}

std::vector<int> g_progress;
void RecordProgress(const std::string&, int percent) { g_progress.push_back(percent); }

void ExpectProgressRisesTo100(int firstAtLeast)
{
    ASSERT_FALSE(g_progress.empty());
    EXPECT_GE(g_progress.front(), firstAtLeast == 0 ? 0 : firstAtLeast);
    EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end()));
    EXPECT_LE(g_progress.back(), 100);
    EXPECT_GE(g_progress.back(), 95);
    g_progress.clear();
}

}  // namespace

TEST(Threshold, ConvertTo1BitMatchesTheReferenceAtEveryDepth)
{
    unsigned seed = 1;
    for (int bits : kColourDepths) {
        for (int width : kWidths) {
            for (int t : {0, 37, 128, 254, 255}) {
                CRasterSrc image;
                MakeRandomImage(image, width, 3, bits, seed++);
                std::vector<int> wanted = ReferenceThreshold(image, static_cast<BYTE>(t));
                ASSERT_TRUE(image.ConvertTo1Bit(static_cast<BYTE>(t)));
                ASSERT_EQ(image.GetBitCount(), 1);
                ASSERT_EQ(Bits(image), wanted) << bits << " bits, width " << width << ", threshold " << t;
            }
        }
    }
}

TEST(Threshold, ColoursWhoseGreyIsAWholeNumberFollowTheFormula)
{
    // Sums of 1000 times a whole grey, where the formula in doubles can fall
    // just below that whole number: every such colour at every depth above 8.
    std::vector<std::array<BYTE, 3>> colours;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b)
                if (GreySum(r, g, b) % kGreySumScale == 0 && GreySum(r, g, b) > 0)
                    colours.push_back({static_cast<BYTE>(r), static_cast<BYTE>(g), static_cast<BYTE>(b)});
    const int width = 257;
    const int height = static_cast<int>((colours.size() + width - 1) / width);
    for (int bits : {24, 32}) {
        CRasterSrc image;
        ASSERT_TRUE(image.Create(width, height, bits));
        for (size_t i = 0; i < colours.size(); ++i)
            image.SetPixelRGB(static_cast<int>(i % width), static_cast<int>(i / width), colours[i][0], colours[i][1],
                              colours[i][2]);
        for (int t = 0; t < 255; ++t) {
            CRasterSrc copy;
            ASSERT_TRUE(copy.Copy(image));
            std::vector<int> wanted = ReferenceThreshold(copy, static_cast<BYTE>(t));
            ASSERT_TRUE(copy.ConvertTo1Bit(static_cast<BYTE>(t)));
            ASSERT_EQ(Bits(copy), wanted) << bits << " bits, threshold " << t;
        }
    }
}

TEST(Threshold, ConvertTo1BitKnownAnswers)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(4, 1, 24));
    image.SetPixelRGB(0, 0, 0, 0, 0);
    image.SetPixelRGB(1, 0, 0, 0, 9);  // grey 1.026
    image.SetPixelRGB(2, 0, 100, 100, 100);
    image.SetPixelRGB(3, 0, 255, 255, 255);
    ASSERT_TRUE(image.SetResolution(15748));
    CRasterSrc copy;
    ASSERT_TRUE(copy.Copy(image));

    ASSERT_TRUE(image.ConvertTo1Bit(255, RecordProgress));
    EXPECT_EQ(Bits(image), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(image.GetHeader()->biXPelsPerMeter, 15748);
    ExpectProgressRisesTo100(0);

    ASSERT_TRUE(image.Copy(copy));
    ASSERT_TRUE(image.ConvertTo1Bit(0));
    EXPECT_EQ(Bits(image), (std::vector<int>{1, 0, 0, 0}));

    // A pixel whose grey is exactly t is black.
    ASSERT_TRUE(image.Copy(copy));
    BYTE t = GreyLevel(100, 100, 100);
    ASSERT_TRUE(image.ConvertTo1Bit(t));
    EXPECT_EQ(image.GetPixelIndex(2, 0), 1);
    ASSERT_TRUE(image.Copy(copy));
    ASSERT_TRUE(image.ConvertTo1Bit(static_cast<BYTE>(t - 1)));
    EXPECT_EQ(image.GetPixelIndex(2, 0), 0);

    // A 1-bit image stays as it is.
    FIBITMAP* bitmap = image.GetBitmap();
    EXPECT_TRUE(image.ConvertTo1Bit(10));
    EXPECT_EQ(image.GetBitmap(), bitmap);
    CRasterSrc empty;
    EXPECT_FALSE(empty.ConvertTo1Bit(10));
}

TEST(Threshold, ConvertToGrey8MatchesTheReference)
{
    unsigned seed = 100;
    for (int bits : kAllDepths) {
        for (int width : kWidths) {
            CRasterSrc image;
            MakeRandomImage(image, width, 3, bits, seed++);
            ASSERT_TRUE(image.SetResolution(4000));
            std::vector<int> wanted;
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < width; ++x)
                    wanted.push_back(ReferenceGrey(image, x, y));
            ASSERT_TRUE(image.ConvertToGrey8());
            ASSERT_TRUE(image.IsGreyRamp());
            std::vector<int> got;
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < width; ++x)
                    got.push_back(image.GetPixelIndex(x, y));
            ASSERT_EQ(got, wanted) << bits << " bits, width " << width;
            EXPECT_EQ(image.GetHeader()->biXPelsPerMeter, 4000);
            FIBITMAP* ramp = image.GetBitmap();
            EXPECT_TRUE(image.ConvertToGrey8());
            EXPECT_EQ(image.GetBitmap(), ramp) << "already grey";
        }
    }
}

TEST(Histogram, RowKernelsCountLikeTheColumnByColumnReference)
{
    unsigned seed = 200;
    for (int bits : kColourDepths) {
        for (int width : kWidths) {
            CRasterSrc image;
            MakeRandomImage(image, width, 5, bits, seed++);
            BYTE wanted[256], got[256];
            ReferenceHistogram(image, wanted);
            image.ComputeHistogram(got, RecordProgress);
            ASSERT_EQ(std::memcmp(got, wanted, 256), 0) << bits << " bits, width " << width;
            EXPECT_TRUE(image.IsHistogramValid());
            ExpectProgressRisesTo100(10);
            // A valid histogram is handed out as stored.
            BYTE again[256];
            image.ComputeHistogram(again, RecordProgress);
            EXPECT_EQ(std::memcmp(again, wanted, 256), 0);
            EXPECT_TRUE(g_progress.empty());
        }
    }
}

TEST(Histogram, BlankPageThresholdIs239)
{
    for (int bits : {8, 24}) {
        CRasterSrc image;
        ASSERT_TRUE(image.Create(40, 30, bits));
        if (bits == 8)
            image.SetGreyRamp();
        FillGrey(image, 255);
        EXPECT_EQ(image.GetAutoThreshold(), 239) << bits;
        EXPECT_EQ(image.GetDisplayHistogram()[255], 80);
        EXPECT_EQ(image.GetDisplayHistogram()[254], 0);
    }
}

TEST(Histogram, OneBitImagesHaveNoHistogram)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(8, 8, 1));
    BYTE bins[256];
    std::memset(bins, 0xAB, sizeof bins);
    image.ComputeHistogram(bins);
    EXPECT_EQ(bins[0], 0xAB);
    EXPECT_EQ(bins[255], 0xAB);
    EXPECT_FALSE(image.IsHistogramValid());
    EXPECT_EQ(image.GetAutoThreshold(), 0);
}

TEST(Histogram, AutoThresholdFindsValleysAndForegroundPeaks)
{
    BYTE bins[256] = {};
    bins[250] = 80;
    bins[249] = 10;
    bins[248] = 75;  // foreground right after the valley starts
    EXPECT_EQ(AutoThresholdFromHistogram(bins), 249);

    // A valley far from the peak needs only 10 flat bins.
    std::memset(bins, 0, sizeof bins);
    bins[200] = 80;
    for (int i = 199; i > 150; --i)
        bins[i] = 40;  // still paper
    EXPECT_EQ(AutoThresholdFromHistogram(bins), 150 - 10);

    // No full bin: no threshold.
    std::memset(bins, 0, sizeof bins);
    bins[100] = 79;
    EXPECT_EQ(AutoThresholdFromHistogram(bins), 0);
}

TEST(SmartThreshold, MatchesTheTileByTileReference)
{
    unsigned seed = 300;
    for (int bits : kColourDepths) {
        for (int width : {7, 65}) {
            for (int box : {1, 3, 16, 1000}) {
                for (float factor : {0.9f, 1.0f, 1.1f}) {
                    CRasterSrc image;
                    MakeRandomImage(image, width, 9, bits, seed++);
                    std::vector<int> wanted = ReferenceSmartThreshold(image, box, factor);
                    ASSERT_TRUE(image.SmartThreshold(box, factor));
                    ASSERT_EQ(image.GetBitCount(), 1);
                    ASSERT_EQ(Bits(image), wanted)
                        << bits << " bits, width " << width << ", box " << box << ", factor " << factor;
                }
            }
        }
    }
}

TEST(SmartThreshold, RefusesBoxesBelowOneAndKeepsTheImage)
{
    CRasterSrc image;
    MakeRandomImage(image, 20, 20, 8, 1);
    FIBITMAP* bitmap = image.GetBitmap();
    EXPECT_FALSE(image.SmartThreshold(0, 1.0f));
    EXPECT_FALSE(image.SmartThreshold(-4, 1.0f));
    EXPECT_FALSE(image.SmartThreshold(8, std::numeric_limits<float>::quiet_NaN()));
    EXPECT_EQ(image.GetBitmap(), bitmap);
}

TEST(SmartThreshold, UniformTilesStayWhiteAndTheResolutionIsKept)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(30, 20, 24));
    FillGrey(image, 128);
    ASSERT_TRUE(image.SetResolution(11811));
    ASSERT_TRUE(image.SmartThreshold(8, 1.0f, RecordProgress));
    EXPECT_EQ(image.GetHeader()->biXPelsPerMeter, 11811);
    std::vector<int> bits = Bits(image);
    EXPECT_EQ(std::count(bits.begin(), bits.end(), 1), 0);
    ExpectProgressRisesTo100(0);
}

TEST(SmartThreshold, LargeTilesDoNotOverflowTheirSums)
{
    // 4100 x 4100 white pixels sum to more than 2^32.
    CRasterSrc image;
    ASSERT_TRUE(image.Create(4100, 4100, 8));
    image.SetGreyRamp();
    for (int y = 0; y < image.GetHeight(); ++y)
        std::memset(image.GetRow(y), 255, static_cast<size_t>(image.GetWidth()));
    for (int y = 10; y < 20; ++y)
        std::memset(image.GetRow(y) + 10, 0, 10);
    ASSERT_TRUE(image.SmartThreshold(5000, 0.5f));
    EXPECT_EQ(image.GetPixelIndex(10, 10), 1);
    EXPECT_EQ(image.GetPixelIndex(19, 19), 1);
    EXPECT_EQ(image.GetPixelIndex(20, 19), 0);
    EXPECT_EQ(image.GetPixelIndex(4099, 4099), 0);
    std::int64_t black = 0;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); x += 8)
            black += __builtin_popcount(image.GetRow(y)[x >> 3]);
    EXPECT_EQ(black, 100);
}

TEST(ThresholdPreview, RectMatchesTheReferenceAndLeavesOutTheLastColumnAndRow)
{
    unsigned seed = 400;
    for (int bits : kAllDepths) {
        CRasterSrc image;
        MakeRandomImage(image, 37, 12, bits, seed++);
        ASSERT_TRUE(image.SetResolution(9000));
        CRasterSrc preview;
        ASSERT_TRUE(image.ThresholdRect(preview, 0, 0, 37, 12, 120));
        ASSERT_EQ(preview.GetWidth(), 36);
        ASSERT_EQ(preview.GetHeight(), 11);
        EXPECT_EQ(preview.GetHeader()->biXPelsPerMeter, 9000);
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 36; ++x)
                ASSERT_EQ(preview.GetPixelIndex(x, y), ReferenceGrey(image, x, y) <= 120 ? 1 : 0) << bits;

        // An inner rectangle at odd offsets, into the same target size.
        FIBITMAP* reused = nullptr;
        ASSERT_TRUE(image.ThresholdRect(preview, 3, 2, 21, 5, 77));
        reused = preview.GetBitmap();
        ASSERT_TRUE(image.ThresholdRect(preview, 5, 1, 21, 5, 77));
        EXPECT_EQ(preview.GetBitmap(), reused);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 21; ++x)
                ASSERT_EQ(preview.GetPixelIndex(x, y), ReferenceGrey(image, x + 5, y + 1) <= 77 ? 1 : 0) << bits;
    }
}

TEST(ThresholdPreview, RectanglesOutsideOrReachingLeftAreClipped)
{
    CRasterSrc image;
    MakeRandomImage(image, 20, 10, 8, 9);
    CRasterSrc preview;
    EXPECT_TRUE(image.ThresholdRect(preview, 19, 0, 5, 5, 100));
    EXPECT_TRUE(image.ThresholdRect(preview, 0, 9, 5, 5, 100));
    EXPECT_TRUE(image.ThresholdRect(preview, 4, 4, 0, 5, 100));
    EXPECT_TRUE(preview.IsEmpty());
    // Reaching left of and above the image: the part inside is previewed.
    ASSERT_TRUE(image.ThresholdRect(preview, -5, -3, 10, 8, 100));
    ASSERT_EQ(preview.GetWidth(), 5);
    ASSERT_EQ(preview.GetHeight(), 5);
    EXPECT_EQ(preview.GetPixelIndex(0, 0), ReferenceGrey(image, 0, 0) <= 100 ? 1 : 0);
    EXPECT_FALSE(image.ThresholdRect(image, 0, 0, 5, 5, 100));
}

TEST(ThresholdPreview, ScaledRectReadsOneToOneFromTheScaledCorner)
{
    CRasterSrc image;
    MakeRandomImage(image, 40, 30, 24, 17);
    CRasterSrc scaled, plain;
    // (3, 2) at scale 2.5 is (7, 5); 6 x 4 view pixels are 15 x 10 image pixels.
    ASSERT_TRUE(image.ThresholdScaledRect(scaled, 3, 2, 6, 4, 2.5, 90));
    ASSERT_TRUE(image.ThresholdRect(plain, 7, 5, 15, 10, 90));
    EXPECT_EQ(scaled.GetWidth(), 15);
    EXPECT_EQ(scaled.GetHeight(), 10);
    EXPECT_EQ(Bits(scaled), Bits(plain));
    // Reaching the right edge clips to width - 1.
    ASSERT_TRUE(image.ThresholdScaledRect(scaled, 10, 0, 100, 4, 2.0, 90));
    EXPECT_EQ(scaled.GetWidth(), 19);
    EXPECT_FALSE(image.ThresholdScaledRect(scaled, 0, 0, 4, 4, std::nan(""), 90));
    EXPECT_TRUE(image.ThresholdScaledRect(scaled, 0, 0, 4, 4, 1e300, 90));
}

TEST(ThresholdBands, EveryThreadCountGivesTheReferenceOnTallImages)
{
    // Tall enough for chunks of rows split into several bands, with a
    // partial last chunk.
    unsigned seed = 500;
    for (int threads : {1, 3, 8}) {
        SetRowBandThreads(threads);
        for (int bits : {8, 24}) {
            CRasterSrc image;
            MakeRandomImage(image, 67, 1100, bits, seed++);
            BYTE wanted[256], got[256];
            ReferenceHistogram(image, wanted);
            image.ComputeHistogram(got, RecordProgress);
            EXPECT_EQ(std::memcmp(got, wanted, 256), 0) << threads << " threads, " << bits << " bits";
            ExpectProgressRisesTo100(10);
            CRasterSrc grey;
            ASSERT_TRUE(grey.Copy(image));
            std::vector<int> wantedBits = ReferenceThreshold(image, 120);
            ASSERT_TRUE(image.ConvertTo1Bit(120, RecordProgress));
            EXPECT_EQ(Bits(image), wantedBits) << threads << " threads, " << bits << " bits";
            ExpectProgressRisesTo100(0);
            std::vector<int> wantedGrey;
            for (int y = 0; y < grey.GetHeight(); ++y)
                for (int x = 0; x < grey.GetWidth(); ++x)
                    wantedGrey.push_back(ReferenceGrey(grey, x, y));
            ASSERT_TRUE(grey.ConvertToGrey8());
            std::vector<int> gotGrey;
            for (int y = 0; y < grey.GetHeight(); ++y)
                for (int x = 0; x < grey.GetWidth(); ++x)
                    gotGrey.push_back(grey.GetPixelIndex(x, y));
            EXPECT_EQ(gotGrey, wantedGrey) << threads << " threads, " << bits << " bits";
        }
    }
    SetRowBandThreads(0);
}

namespace {

// Every colour once, 4096 x 4096: red from the row's top bits, green from
// the rest of the row and the column's top bits, blue from the column.
void MakeEveryColour(CRasterSrc& image, int bits)
{
    ASSERT_TRUE(image.Create(4096, 4096, bits));
    const int bytes = bits / 8;
    for (int y = 0; y < 4096; ++y) {
        BYTE* row = image.GetRow(y);
        for (int x = 0; x < 4096; ++x) {
            row[x * bytes] = static_cast<BYTE>(x & 255);
            row[x * bytes + 1] = static_cast<BYTE>(((y & 15) << 4) | (x >> 8));
            row[x * bytes + 2] = static_cast<BYTE>(y >> 4);
        }
    }
}

// The grey formula written out here, apart from the code under test.
double FormulaGrey(const BYTE* bgr) { return 0.587 * bgr[1] + 0.299 * bgr[2] + 0.114 * bgr[0]; }

}  // namespace

TEST(GreyRows, EveryColourIsCountedAndThresholdedByTheFormula)
{
    // The row kernels work in blocks, through an exact integer sum and a
    // float quotient, and fall back to the formula where those cannot tell:
    // over every colour, counts and bits must be the formula's.
    for (int bits : {24, 32}) {
        CRasterSrc image;
        MakeEveryColour(image, bits);
        const int bytes = bits / 8;
        std::vector<const BYTE*> rows;
        for (int y = 0; y < image.GetHeight(); ++y)
            rows.push_back(image.GetRow(y));
        CGreyRowReader reader;
        ASSERT_TRUE(reader.Init(image));

        std::uint64_t wanted[256] = {}, got[256] = {};
        for (int y = 0; y < image.GetHeight(); ++y)
            for (int x = 0; x < image.GetWidth(); ++x)
                ++wanted[std::min(255, static_cast<int>(FormulaGrey(rows[y] + x * bytes) + 0.5))];
        ASSERT_TRUE(CountGreyRows(reader, rows.data(), image.GetWidth(), image.GetHeight(), got, {}));
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(got[i], wanted[i]) << bits << " bits, grey " << i;

        CRasterSrc bitsImage;
        ASSERT_TRUE(bitsImage.Create(image.GetWidth(), image.GetHeight(), 1));
        std::vector<BYTE*> out;
        for (int y = 0; y < image.GetHeight(); ++y)
            out.push_back(bitsImage.GetRow(y));
        for (int t : {0, 1, 99, 128, 254, 255}) {
            ThresholdGreyRows(reader, rows.data(), image.GetWidth(), image.GetHeight(), static_cast<BYTE>(t),
                              out.data(), {});
            std::int64_t wrong = 0;
            for (int y = 0; y < image.GetHeight(); ++y)
                for (int x = 0; x < image.GetWidth(); ++x)
                    wrong += TestPixel(out[y], x) != (static_cast<int>(FormulaGrey(rows[y] + x * bytes)) <= t);
            EXPECT_EQ(wrong, 0) << bits << " bits, threshold " << t;
        }
    }
}
