#include "raster_test_support.h"

#include "raster/resample.h"
#include "raster/resample_kernel.h"

#include <cmath>
#include <cstring>

namespace {

// ---- a straightforward resampler: per output pixel, per contributor, through
// the pixel accessors, with an intermediate image of bytes ----

struct Contributor {
    int index;
    float weight;
};

std::vector<std::vector<Contributor>> ReferenceContributors(int in, int out, const CStrecthFilter& kernel)
{
    float scale = 0;
    float offset = 0;
    if (in == 1) {
        scale = static_cast<float>(out);
    } else if (out == 1) {
        scale = 1.0f / static_cast<float>(in);
        offset = static_cast<float>(in - 1) * 0.5f;
    } else {
        scale = static_cast<float>(out - 1) / static_cast<float>(in - 1);
    }
    const bool minify = scale < 1.0f;
    const float width = minify ? kernel.support / scale : kernel.support;
    const float fscale = minify ? 1.0f / scale : 1.0f;
    std::vector<std::vector<Contributor>> lists(static_cast<size_t>(out));
    for (int i = 0; i < out; ++i) {
        const float c = static_cast<float>(i) / scale + offset;
        auto& list = lists[static_cast<size_t>(i)];
        // Every sample a few pixels beyond the kernel's reach is tried: the
        // kernel itself, not a window, decides who contributes.
        const long reach = static_cast<long>(width) + 4;
        for (long j = static_cast<long>(c) - reach; j <= static_cast<long>(c) + reach; ++j) {
            const float t = c - static_cast<float>(j);
            const float w = minify ? kernel.Filter(t / fscale) / fscale : kernel.Filter(t);
            if (w == 0.0f)
                continue;
            long k = j;
            while (k < 0 || k >= in)
                k = k < 0 ? -k : 2L * in - k - 1;
            list.push_back({static_cast<int>(k), w});
        }
        float total = 0;
        for (const Contributor& e : list)
            total += e.weight;
        for (Contributor& e : list)
            e.weight /= total;
    }
    return lists;
}

BYTE ReferenceRound(float sum)
{
    if (sum > 255.0f)
        return 255;
    if (sum < 0.0f)
        return 0;
    return static_cast<BYTE>(std::floor(sum + 0.5f));
}

// Output samples, row by row: the grey level below 16 bits, else blue, green,
// red.
std::vector<BYTE> ReferenceResample(const CRasterSrc& image, int newWidth, int newHeight, const CStrecthFilter& kernel)
{
    CRasterSrc work;
    EXPECT_TRUE(work.Copy(image));
    const bool grey = work.GetBitCount() <= 8;
    if (grey) {
        EXPECT_TRUE(work.ConvertToGrey8());
    }
    const int channels = grey ? 1 : 3;
    const int width = work.GetWidth();
    const int height = work.GetHeight();
    auto sample = [&](int x, int y, int c) {
        BYTE bgr[3];
        EXPECT_TRUE(work.GetPixelColor(x, y, bgr));
        return grey ? bgr[2] : bgr[c];
    };
    const auto columns = ReferenceContributors(width, newWidth, kernel);
    const auto rows = ReferenceContributors(height, newHeight, kernel);
    std::vector<BYTE> temp(static_cast<size_t>(newWidth) * height * channels);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < newWidth; ++i)
            for (int c = 0; c < channels; ++c) {
                float sum = 0;
                for (const Contributor& e : columns[static_cast<size_t>(i)])
                    sum += e.weight * static_cast<float>(sample(e.index, y, c));
                temp[(static_cast<size_t>(y) * newWidth + i) * channels + c] = ReferenceRound(sum);
            }
    std::vector<BYTE> out(static_cast<size_t>(newWidth) * newHeight * channels);
    for (int y = 0; y < newHeight; ++y)
        for (int x = 0; x < newWidth; ++x)
            for (int c = 0; c < channels; ++c) {
                float sum = 0;
                for (const Contributor& e : rows[static_cast<size_t>(y)])
                    sum += e.weight *
                           static_cast<float>(temp[(static_cast<size_t>(e.index) * newWidth + x) * channels + c]);
                out[(static_cast<size_t>(y) * newWidth + x) * channels + c] = ReferenceRound(sum);
            }
    return out;
}

// The samples of a resampled image, as ReferenceResample lays them out; a
// 16-bit image keeps the top five bits of each.
std::vector<BYTE> Samples(const CRasterSrc& image, int sourceBits)
{
    std::vector<BYTE> out;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x) {
            BYTE bgr[3];
            EXPECT_TRUE(image.GetPixelColor(x, y, bgr));
            if (sourceBits <= 8)
                out.push_back(bgr[2]);
            else
                out.insert(out.end(), bgr, bgr + 3);
        }
    return out;
}

std::vector<BYTE> Truncate555(std::vector<BYTE> samples)
{
    for (BYTE& s : samples)
        s &= 0xF8;
    return samples;
}

std::vector<BYTE> StoredBytes(const CRasterSrc& image)
{
    std::vector<BYTE> bytes;
    for (int y = 0; y < image.GetHeight(); ++y)
        bytes.insert(bytes.end(), image.GetRow(y), image.GetRow(y) + image.GetRowBytes());
    return bytes;
}

struct SizeCase {
    int width, height, newWidth, newHeight;
};

void ExpectMatchesReference(const CRasterSrc& source, const SizeCase& size, const CStrecthFilter& kernel,
                            std::size_t budget = kResampleCacheBudget)
{
    const int bits = source.GetBitCount();
    CRasterSrc target;
    ASSERT_TRUE(target.Create(size.newWidth, size.newHeight, bits <= 8 ? 8 : bits));
    target.SetGreyRamp();
    ASSERT_TRUE(ResampleInto(source, target, kernel, nullptr, budget));
    std::vector<BYTE> expected = ReferenceResample(source, size.newWidth, size.newHeight, kernel);
    if (bits == 16)
        expected = Truncate555(expected);
    EXPECT_EQ(Samples(target, bits), expected);
}

}  // namespace

TEST(Resample, KernelsHaveTheirShapesAndNames)
{
    for (int i = 0; i < kStretchFilterCount; ++i) {
        auto kernel = CreateStretchFilter(i);
        ASSERT_TRUE(kernel);
        EXPECT_EQ(FindStretchFilter(GetStretchFilterName(i)), i);
        EXPECT_EQ(kernel->Filter(kernel->support + 0.01f), 0.0f);
        EXPECT_EQ(kernel->Filter(0.3f), kernel->Filter(-0.3f)) << i;
    }
    EXPECT_FALSE(CreateStretchFilter(7));
    EXPECT_EQ(FindStretchFilter("Lanczos"), 5);
    EXPECT_EQ(FindStretchFilter("BSPLINE"), 4);
    EXPECT_EQ(FindStretchFilter("cubic"), -1);

    EXPECT_FLOAT_EQ(CTriangleFilter().Filter(0.25f), 0.75f);
    EXPECT_EQ(CBoxFilter().Filter(0.5f), 1.0f);
    EXPECT_EQ(CBoxFilter().Filter(-0.5f), 0.0f);
    EXPECT_FLOAT_EQ(CHermiteFilter().Filter(0.5f), 0.5f);
    EXPECT_FLOAT_EQ(CBellFilter().Filter(1.0f), 0.125f);
    EXPECT_FLOAT_EQ(CSplineFilter().Filter(1.0f), 1.0f / 6.0f);
    EXPECT_FLOAT_EQ(CLanczos3Filter().Filter(0.0f), 1.0f);
    EXPECT_LT(CLanczos3Filter().Filter(1.5f), 0.0f);
    EXPECT_FLOAT_EQ(CMitchellFilter().Filter(0.0f), 16.0f / 18.0f);
    EXPECT_NEAR(CMitchellFilter().Filter(1.0f), 1.0f / 18.0f, 1e-6);
}

TEST(Resample, ContributorsStayInsideAndSumToOne)
{
    // Mirroring repeats as often as a wide kernel needs on a narrow source.
    for (int count = 1; count <= 5; ++count)
        for (long j = -40; j <= 40; ++j) {
            long k = j;
            while (k < 0 || k >= count)
                k = k < 0 ? -k : 2L * count - k - 1;
            EXPECT_EQ(ReflectIndex(j, count), k) << j << " in " << count;
        }

    const SizeCase cases[] = {{1, 0, 1, 0}, {2, 0, 1, 0}, {1, 0, 9, 0}, {3, 0, 1000, 0}, {1000, 0, 3, 0}, {7, 0, 2, 0}};
    for (int f = 0; f < kStretchFilterCount; ++f) {
        auto kernel = CreateStretchFilter(f);
        for (const SizeCase& c : cases) {
            CContributorTable table;
            ASSERT_TRUE(BuildContributors(c.width, c.newWidth, *kernel, table));
            ASSERT_EQ(table.index.size(), static_cast<size_t>(c.newWidth) * table.taps);
            for (int i = 0; i < c.newWidth; ++i) {
                double total = 0;
                for (int k = 0; k < table.taps; ++k) {
                    const size_t at = static_cast<size_t>(i) * table.taps + k;
                    ASSERT_GE(table.index[at], 0);
                    ASSERT_LT(table.index[at], c.width);
                    total += table.weight[at];
                }
                EXPECT_NEAR(total, 1.0, 1e-5) << f << ": " << c.width << " to " << c.newWidth;
            }
        }
    }
}

TEST(Resample, FlatPicturesStayFlatAtAnyRatio)
{
    // Weights that do not sum to one band a flat area at ratios like these.
    for (int f = 0; f < kStretchFilterCount; ++f) {
        CRasterSrc image;
        ASSERT_TRUE(image.Create(37, 23, 24));
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x)
                image.SetPixelRGB(x, y, 200, 100, 30);
        ASSERT_TRUE(image.Resample(50, 17, 0, *CreateStretchFilter(f)));
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 50; ++x) {
                BYTE red, green, blue;
                image.GetPixelRGB(x, y, red, green, blue);
                ASSERT_TRUE(red == 200 && green == 100 && blue == 30) << f << ": " << x << "," << y;
            }
    }
}

TEST(Resample, BoxHalvesOneHundredAndOneColumnsIntoFiftyOne)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(101, 3, 8));
    image.SetGreyRamp();
    auto source = [](int x, int y) { return static_cast<BYTE>((x * 37 + y * 11) % 256); };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 101; ++x)
            image.SetPixelIndex(x, y, source(x, y));
    ASSERT_TRUE(image.Resample(51, 3, 0, CBoxFilter()));
    ASSERT_EQ(image.GetWidth(), 51);
    for (int y = 0; y < 3; ++y)
        for (int i = 0; i < 51; ++i) {
            const int left = i == 0 ? 1 : 2 * i - 1;  // column -1 mirrors to 1
            const float sum = 0.5f * source(left, y) + 0.5f * source(2 * i, y);
            EXPECT_EQ(image.GetPixelIndex(i, y), static_cast<int>(std::floor(sum + 0.5f))) << i << "," << y;
        }
}

TEST(Resample, TriangleAtTheSameSizeKeepsEveryPixel)
{
    for (int bits : kAllDepths) {
        CRasterSrc image;
        MakeRandomImage(image, 23, 7, bits, 40u + static_cast<unsigned>(bits));
        CRasterSrc grey;
        ASSERT_TRUE(grey.Copy(image));
        if (bits <= 8) {
            ASSERT_TRUE(grey.ConvertToGrey8());
        }
        MessageRecorder messages;
        ASSERT_TRUE(image.Resample(23, 7, 0, CTriangleFilter()));
        EXPECT_EQ(image.GetBitCount(), bits <= 8 ? 8 : bits);
        EXPECT_EQ(Samples(image, bits), Samples(grey, bits)) << bits;
    }
}

TEST(Resample, FastPassesMatchTheReferenceOnEveryDepthAndKernel)
{
    const SizeCase sizes[] = {{13, 9, 29, 17}, {37, 11, 11, 23}, {1, 7, 5, 3}, {9, 1, 3, 6},
                              {21, 15, 1, 4},  {17, 12, 17, 12}, {5, 4, 1, 1}};
    for (int bits : kAllDepths) {
        for (const SizeCase& size : sizes) {
            CRasterSrc source;
            MakeRandomImage(source, size.width, size.height, bits, static_cast<unsigned>(bits * 100 + size.width));
            for (int f = 0; f < kStretchFilterCount; ++f) {
                SCOPED_TRACE(testing::Message() << bits << " bits, " << size.width << "x" << size.height << " to "
                                                << size.newWidth << "x" << size.newHeight << ", kernel " << f);
                ExpectMatchesReference(source, size, *CreateStretchFilter(f));
            }
        }
    }
}

TEST(Resample, WideRowsAndShortCachesGiveTheSameResult)
{
    // Rows longer than one second-pass stride, and a cache too small to hold
    // every band an output row reads, which then fetches band by band.
    CRasterSrc colour;
    MakeRandomImage(colour, 701, 19, 24, 5);
    ExpectMatchesReference(colour, {701, 19, 689, 9}, CLanczos3Filter());
    ExpectMatchesReference(colour, {701, 19, 689, 9}, CLanczos3Filter(), 1);

    CRasterSrc grey;
    MakeRandomImage(grey, 31, 150, 8, 6);
    ExpectMatchesReference(grey, {31, 150, 12, 7}, CMitchellFilter(), 1);
    ExpectMatchesReference(grey, {31, 150, 12, 1}, CBellFilter(), 1);
}

TEST(Resample, RefusesBadSizesAndLeavesTheImageAlone)
{
    CRasterSrc image;
    MakeRandomImage(image, 15, 6, 24, 9);
    const std::vector<BYTE> before = StoredBytes(image);
    const SizeCase bad[] = {{0, 0, 0, 6}, {0, 0, 10, 0}, {0, 0, -3, 4}, {0, 0, 1000001, 4}};
    for (const SizeCase& size : bad) {
        MessageRecorder messages;
        EXPECT_FALSE(image.Resample(size.newWidth, size.newHeight, 0, CLanczos3Filter()));
        EXPECT_EQ(messages.messages.size(), 1u);
    }
    EXPECT_EQ(image.GetWidth(), 15);
    EXPECT_EQ(image.GetBitCount(), 24);
    EXPECT_EQ(StoredBytes(image), before);

    CRasterSrc empty;
    EXPECT_FALSE(empty.Resample(4, 4, 0, CLanczos3Filter()));
}

TEST(Resample, SaysSoWhenColoursTurnGreyAndSetsTheResolution)
{
    std::vector<std::pair<std::string, int>> steps;
    static std::vector<std::pair<std::string, int>>* s_steps;
    s_steps = &steps;
    auto progress = [](const std::string& text, int percent) { s_steps->emplace_back(text, percent); };

    CRasterSrc oneBit;
    MakeRandomImage(oneBit, 30, 20, 1, 3);
    {
        MessageRecorder messages;
        ASSERT_TRUE(oneBit.Resample(12, 9, 11811, CHermiteFilter(), progress));
        EXPECT_TRUE(messages.messages.empty());
    }
    EXPECT_EQ(oneBit.GetBitCount(), 8);
    EXPECT_TRUE(oneBit.IsGreyRamp());
    LONG resolution = 0;
    ASSERT_TRUE(oneBit.GetResolution(resolution));
    EXPECT_EQ(resolution, 11811);
    EXPECT_EQ(oneBit.GetHeader()->biYPelsPerMeter, 11811);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.front(), std::make_pair(std::string("Resample step 1:"), 0));
    EXPECT_EQ(steps.back(), std::make_pair(std::string("Resample step 5:"), 100));

    // Without a resolution the present one stays.
    ASSERT_TRUE(oneBit.Resample(5, 5, 0, CHermiteFilter()));
    ASSERT_TRUE(oneBit.GetResolution(resolution));
    EXPECT_EQ(resolution, 11811);

    CRasterSrc fourBit;
    MakeRandomImage(fourBit, 9, 9, 4, 4);
    MessageRecorder messages;
    ASSERT_TRUE(fourBit.Resample(18, 4, 0, CBellFilter()));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0], "Convert image to gray !!!");
}
