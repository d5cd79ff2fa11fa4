#include "trace/thinning.h"

#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"
#include "trace/common_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

class RasterLibraryForThinning : public ::testing::Environment {
public:
    void SetUp() override { InitRasterLibrary(); }
    void TearDown() override { ReleaseRasterLibrary(); }
};

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new RasterLibraryForThinning);

// A picture as one byte per pixel, [y][x]; outside reads as background.
struct Grid {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    Grid(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, 0) {}
    std::uint8_t At(int x, int y) const
    {
        return x < 0 || y < 0 || x >= width || y >= height ? 0 : pixels[static_cast<std::size_t>(y) * width + x];
    }
    void Set(int x, int y, std::uint8_t v = 1)
    {
        if (x >= 0 && y >= 0 && x < width && y < height)
            pixels[static_cast<std::size_t>(y) * width + x] = v;
    }
    bool operator==(const Grid&) const = default;
};

std::string Picture(const Grid& g)
{
    std::string text;
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x)
            text += g.At(x, y) ? '#' : '.';
        text += '\n';
    }
    return text;
}

void ToRaster(const Grid& g, CRasterSrc& raster)
{
    ASSERT_TRUE(raster.Create(g.width, g.height, 1));
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            raster.SetPixelBit(x, y, g.At(x, y) != 0);
}

Grid FromRaster(const CRasterSrc& raster)
{
    Grid g(raster.GetWidth(), raster.GetHeight());
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            g.Set(x, y, static_cast<std::uint8_t>(raster.GetPixelIndex(x, y)));
    return g;
}

// --- progress ---

// A worker that never starts: the kernels run on the test's thread, which
// also owns the receiver, so every message is handled at once.
class CInlineWorker : public CCommonThread {
protected:
    DWORD Run() override { return 0; }
};

// Keeps the positions the steps report.
class CRecorder : public CMessageReceiver {
public:
    ~CRecorder() override { Close(); }
    std::vector<WPARAM> positions;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM) override
    {
        if (message == WM_STEP_POS)
            positions.push_back(wParam);
        return 0;
    }
};

// --- the reference: full passes over every pixel ---

// Zhang-Suen: each sub-iteration tests every foreground pixel against the
// picture as the sub-iteration found it. Returns the count deleted per pass,
// the last pass (deleting nothing) included.
std::vector<int> ReferenceFirstStep(Grid& g)
{
    std::vector<int> perPass;
    for (;;) {
        int deleted = 0;
        for (int sub = 0; sub < 2; ++sub) {
            std::vector<std::pair<int, int>> marked;
            for (int y = 0; y < g.height; ++y)
                for (int x = 0; x < g.width; ++x) {
                    if (!g.At(x, y))
                        continue;
                    // P, N, NE, E, SE, S, SW, W, NW
                    const int p[9] = {1,
                                      g.At(x, y - 1),
                                      g.At(x + 1, y - 1),
                                      g.At(x + 1, y),
                                      g.At(x + 1, y + 1),
                                      g.At(x, y + 1),
                                      g.At(x - 1, y + 1),
                                      g.At(x - 1, y),
                                      g.At(x - 1, y - 1)};
                    int b = 0, a = 0;
                    for (int i = 1; i <= 8; ++i) {
                        b += p[i];
                        a += p[i] == 0 && p[i == 8 ? 1 : i + 1] == 1;
                    }
                    bool deletes = b >= 2 && b <= 6 && a == 1;
                    if (sub == 0)
                        deletes = deletes && p[1] * p[3] * p[5] == 0 && p[3] * p[5] * p[7] == 0;
                    else
                        deletes = deletes && p[1] * p[3] * p[7] == 0 && p[1] * p[5] * p[7] == 0;
                    if (deletes)
                        marked.emplace_back(x, y);
                }
            for (auto [x, y] : marked)
                g.Set(x, y, 0);
            deleted += static_cast<int>(marked.size());
        }
        perPass.push_back(deleted);
        if (deleted == 0)
            return perPass;
    }
}

const std::vector<int> kSecondStepDeletes = {
    3,   6,   7,   9,   10,  11,  14,  15,  18,  19,  20,  22,  23,  26,  27,  30,  31,  40,  41,  42,  43,  46,
    47,  58,  59,  62,  63,  72,  73,  74,  75,  78,  79,  80,  82,  83,  84,  86,  87,  88,  89,  92,  93,  104,
    105, 106, 107, 110, 111, 112, 114, 115, 116, 118, 119, 120, 121, 124, 125, 144, 146, 147, 148, 150, 151, 154,
    155, 158, 159, 186, 187, 190, 191, 192, 200, 201, 202, 203, 206, 207, 208, 210, 211, 212, 214, 215, 216, 217,
    220, 221, 224, 232, 233, 234, 235, 238, 239, 240, 242, 243, 244, 246, 247, 248, 249, 252, 253};

int Mask(const Grid& g, int x, int y)
{
    return g.At(x - 1, y - 1) * 1 | g.At(x, y - 1) * 2 | g.At(x + 1, y - 1) * 4 | g.At(x - 1, y) * 8 |
           g.At(x + 1, y) * 16 | g.At(x - 1, y + 1) * 32 | g.At(x, y + 1) * 64 | g.At(x + 1, y + 1) * 128;
}

// The second step: interior pixels row by row, left to right, each deleted
// at once when its mask (of the picture as changed so far) is listed.
std::vector<int> ReferenceSecondStep(Grid& g)
{
    static const std::vector<bool> listed = [] {
        std::vector<bool> table(256, false);
        for (int mask : kSecondStepDeletes)
            table[static_cast<std::size_t>(mask)] = true;
        return table;
    }();
    std::vector<int> perPass;
    for (;;) {
        int deleted = 0;
        for (int y = 1; y < g.height - 1; ++y)
            for (int x = 1; x < g.width - 1; ++x) {
                if (!g.At(x, y))
                    continue;
                if (listed[static_cast<std::size_t>(Mask(g, x, y))]) {
                    g.Set(x, y, 0);
                    ++deleted;
                }
            }
        perPass.push_back(deleted);
        if (deleted == 0)
            return perPass;
    }
}

// --- pictures ---

// Thick strokes, blobs and holes over light noise, so that thinning takes
// several passes and deletions cross word and row boundaries.
Grid RandomPicture(int width, int height, std::uint32_t seed)
{
    std::mt19937 random(seed);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(std::max(n, 1))); };
    Grid g(width, height);
    int shapes = 1 + width * height / 400;
    for (int s = 0; s < shapes; ++s) {
        int cx = below(width), cy = below(height);
        int r = 1 + below(9);
        std::uint8_t value = below(5) == 0 ? 0 : 1;  // some shapes cut holes
        switch (below(3)) {
        case 0:  // disc
            for (int y = cy - r; y <= cy + r; ++y)
                for (int x = cx - r; x <= cx + r; ++x)
                    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
                        g.Set(x, y, value);
            break;
        case 1: {  // rectangle
            int w = 1 + below(30), h = 1 + below(12);
            for (int y = cy; y < cy + h; ++y)
                for (int x = cx; x < cx + w; ++x)
                    g.Set(x, y, value);
            break;
        }
        default: {  // thick slanted stroke
            int dx = below(41) - 20, dy = below(41) - 20;
            int steps = std::max(std::abs(dx), std::abs(dy)) + 1;
            for (int i = 0; i <= steps; ++i) {
                int x0 = cx + dx * i / steps, y0 = cy + dy * i / steps;
                for (int y = y0 - r / 2; y <= y0 + r / 2; ++y)
                    for (int x = x0 - r / 2; x <= x0 + r / 2; ++x)
                        g.Set(x, y, value);
            }
        }
        }
    }
    for (int i = 0; i < width * height / 50; ++i)
        g.Set(below(width), below(height), static_cast<std::uint8_t>(below(2)));
    return g;
}

Grid Solid(int width, int height)
{
    Grid g(width, height);
    std::fill(g.pixels.begin(), g.pixels.end(), 1);
    return g;
}

struct Sizes {
    int width, height;
};

// Odd widths around the 64-pixel words, and degenerate strips.
const std::vector<Sizes> kSizes = {{1, 1},   {1, 9},   {9, 1},  {2, 2},    {3, 3},    {5, 17},   {31, 7},   {63, 40},
                                   {64, 33}, {65, 29}, {66, 3}, {127, 21}, {128, 35}, {129, 47}, {191, 13}, {200, 61}};

// A thinned picture with the positions its steps reported.
struct Thinned {
    Grid picture;
    std::vector<WPARAM> positions;
};

// The first step reports every pass that deleted anything (and the first
// pass in any case); the second every pass, the last (empty) one included.
Thinned ReferenceThin(const Grid& g, bool first, bool second)
{
    Thinned result{g, {}};
    if (first) {
        std::vector<int> passes = ReferenceFirstStep(result.picture);
        if (passes.size() > 1)
            passes.pop_back();
        result.positions.insert(result.positions.end(), passes.begin(), passes.end());
    }
    if (second) {
        std::vector<int> passes = ReferenceSecondStep(result.picture);
        result.positions.insert(result.positions.end(), passes.begin(), passes.end());
    }
    return result;
}

Thinned FastThin(const Grid& g, bool first, bool second)
{
    CRecorder recorder;
    CInlineWorker worker;
    worker.SetNotifyWindow(&recorder);
    CRasterSrc raster;
    ToRaster(g, raster);
    if (first) {
        EXPECT_TRUE(ThinFirstStep(raster, &worker));
    }
    if (second) {
        EXPECT_TRUE(ThinSecondStep(raster, &worker));
    }
    return {FromRaster(raster), recorder.positions};
}

// Same picture and same count deleted in every pass.
void ExpectSameThinning(const Grid& picture, bool first, bool second, const std::string& what)
{
    Thinned expected = ReferenceThin(picture, first, second);
    Thinned actual = FastThin(picture, first, second);
    EXPECT_EQ(actual.picture, expected.picture) << what << "\n"
                                                << Picture(picture) << "\nexpected\n"
                                                << Picture(expected.picture) << "\nactual\n"
                                                << Picture(actual.picture);
    EXPECT_EQ(actual.positions, expected.positions) << what;
}

Grid Noise(int width, int height, int percent, std::mt19937& random)
{
    Grid g(width, height);
    for (auto& p : g.pixels)
        p = static_cast<int>(random() % 100) < percent;
    return g;
}

// --- kernels against the reference ---

std::string Describe(Sizes size, std::uint32_t seed)
{
    return std::to_string(size.width) + " x " + std::to_string(size.height) + " seed " + std::to_string(seed);
}

TEST(ThinningKernel, EqualsFullPassesOverEveryPixelOnRandomDrawings)
{
    std::uint32_t seed = 1;
    for (Sizes size : kSizes)
        for (int round = 0; round < 4; ++round, ++seed) {
            Grid picture = RandomPicture(size.width, size.height, seed);
            const std::string what = Describe(size, seed);
            ExpectSameThinning(picture, true, false, "first step, " + what);
            ExpectSameThinning(picture, false, true, "second step alone, " + what);
            ExpectSameThinning(picture, true, true, "both steps, " + what);
        }
}

TEST(ThinningKernel, ThickShapesNeedingManyPassesEqualTheReference)
{
    // Each pass peels one layer: rows beside the changed rows must be tested
    // again, or the skeleton stays thick.
    std::vector<Grid> pictures = {Solid(40, 21), Solid(70, 70), Solid(130, 9), Solid(9, 130)};
    Grid ring(101, 77);
    for (int y = 0; y < ring.height; ++y)
        for (int x = 0; x < ring.width; ++x) {
            int d = (x - 50) * (x - 50) + (y - 38) * (y - 38);
            ring.Set(x, y, d <= 36 * 36 && d >= 14 * 14);
        }
    pictures.push_back(ring);
    for (const Grid& picture : pictures) {
        Grid thinned = picture;
        EXPECT_GT(ReferenceFirstStep(thinned).size(), 3u);
        ExpectSameThinning(picture, true, false, "first step");
        ExpectSameThinning(picture, true, true, "both steps");
    }
}

TEST(ThinningKernel, NoiseOfEveryDensityEqualsTheReference)
{
    // On noise the second step deletes in long chains where a deletion
    // depends on those before it in the same pass, across words and rows;
    // the counts per pass show a test that was skipped even when the
    // picture ends up the same. Cases that catch a missed neighbour at a
    // word's edge are rare: it takes a few thousand pictures.
    std::mt19937 random(12345);
    for (int i = 0; i < 3000 && !HasFailure(); ++i) {
        int width = 3 + static_cast<int>(random() % 140);
        int height = 3 + static_cast<int>(random() % 12);
        int percent = 10 + static_cast<int>(random() % 90);
        Grid picture = Noise(width, height, percent, random);
        std::string what = "picture " + std::to_string(i);
        ExpectSameThinning(picture, false, true, what);
        ExpectSameThinning(picture, true, true, what);
    }
}

TEST(ThinningKernel, EveryThreadCountEqualsTheReference)
{
    // Bands of rows run at once; deletions and marks at a band's first and
    // last rows cross to its neighbours. Tall pictures give several bands of
    // a few dozen rows, with strokes and blobs across their borders.
    const std::vector<Sizes> sizes = {{70, 64}, {130, 97}, {200, 260}, {64, 333}};
    std::uint32_t seed = 900;
    for (int threads : {2, 3, 5, 8}) {
        SetRowBandThreads(threads);
        for (Sizes size : sizes) {
            Grid picture = RandomPicture(size.width, size.height, seed++);
            const std::string what = std::to_string(threads) + " threads, " + Describe(size, seed);
            ExpectSameThinning(picture, true, true, what);
        }
        ExpectSameThinning(Solid(90, 200), true, false, std::to_string(threads) + " threads, solid");
    }
    // A skipped mark across a border shows only where no other deletion
    // marks the same word: noise finds such places.
    std::mt19937 random(777);
    for (int i = 0; i < 400 && !HasFailure(); ++i) {
        SetRowBandThreads(2 + i % 3);
        int width = 3 + static_cast<int>(random() % 140);
        int height = 64 + static_cast<int>(random() % 40);
        int percent = 10 + static_cast<int>(random() % 90);
        ExpectSameThinning(Noise(width, height, percent, random), true, false, "noise " + std::to_string(i));
    }
    SetRowBandThreads(0);
}

// Large filled areas, as on scanned plans: thinning peels them for as many
// passes as they are thick, so the later passes run in several batches
// whose first stages take the marks left by the batch before.
Grid FilledBlobs(int width, int height, std::uint32_t seed)
{
    std::mt19937 random(seed);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(std::max(n, 1))); };
    Grid g(width, height);
    const int largest = std::max(width, height) / 2 + 1;
    for (int s = 0; s < 4; ++s) {
        const int cx = below(width), cy = below(height);
        const int rx = 1 + below(largest), ry = 1 + below(largest);
        const bool disc = below(2) == 0;
        for (int y = cy - ry; y <= cy + ry; ++y)
            for (int x = cx - rx; x <= cx + rx; ++x) {
                const long long dx = x - cx, dy = y - cy;
                if (!disc || dx * dx * ry * ry + dy * dy * rx * rx <= 1LL * rx * rx * ry * ry)
                    g.Set(x, y);
            }
    }
    // A hole or two and a few strokes across the blobs' edges.
    for (int h = below(3); h > 0; --h) {
        const int cx = below(width), cy = below(height), r = 1 + below(largest / 3 + 1);
        for (int y = cy - r; y <= cy + r; ++y)
            for (int x = cx - r; x <= cx + r; ++x)
                g.Set(x, y, 0);
    }
    for (int i = 0; i < 6; ++i) {
        const int x0 = below(width), y0 = below(height), x1 = below(width), y1 = below(height);
        const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0)) + 1;
        for (int k = 0; k <= steps; ++k)
            g.Set(x0 + (x1 - x0) * k / steps, y0 + (y1 - y0) * k / steps, static_cast<std::uint8_t>(i % 3 != 0));
    }
    return g;
}

TEST(ThinningKernel, LargeFilledAreasEqualTheReferenceForEveryThreadCount)
{
    // Odd widths around the 64-pixel words, single rows and columns, and
    // blobs thick enough for more passes than one batch holds even with
    // many threads.
    const std::vector<Sizes> sizes = {{1, 150},  {150, 1},  {2, 90},   {90, 2},    {63, 140}, {65, 120},
                                      {129, 97}, {200, 61}, {128, 64}, {257, 180}, {300, 300}};
    std::uint32_t seed = 4000;
    for (Sizes size : sizes) {
        Grid picture = FilledBlobs(size.width, size.height, seed++);
        if (size.width == 300)
            picture = Solid(300, 300);
        const Thinned expected = ReferenceThin(picture, true, false);
        if (size.width == 300) {
            EXPECT_GT(expected.positions.size(), 128u) << "more passes than a batch of eight threads";
        }
        for (int threads : {1, 2, 3, 4, 8}) {
            SetRowBandThreads(threads);
            const Thinned actual = FastThin(picture, true, false);
            const std::string what = std::to_string(threads) + " threads, " + Describe(size, seed);
            EXPECT_EQ(actual.picture, expected.picture) << what;
            EXPECT_EQ(actual.positions, expected.positions) << what;
        }
    }
    SetRowBandThreads(0);
}

TEST(ThinningKernel, TallPagesThinTheSameOnEveryThreadCount)
{
    // Pages tall enough for the threads' groups of sub-iterations to run
    // at once, each following the one before down the page; one thread,
    // checked against the reference above, is the measure.
    for (std::uint32_t seed : {71u, 72u}) {
        Grid picture = FilledBlobs(150, 1500, seed);
        std::mt19937 random(seed);
        for (int i = 0; i < 3000; ++i)
            picture.Set(static_cast<int>(random() % 150), static_cast<int>(random() % 1500));
        SetRowBandThreads(1);
        const Thinned single = FastThin(picture, true, true);
        for (int threads : {2, 4, 8}) {
            SetRowBandThreads(threads);
            const Thinned actual = FastThin(picture, true, true);
            EXPECT_TRUE(actual.picture == single.picture) << threads << " threads, seed " << seed;
            EXPECT_EQ(actual.positions, single.positions) << threads << " threads, seed " << seed;
        }
    }
    SetRowBandThreads(0);
}

TEST(ThinningKernel, TallNoiseEqualsTheReferenceOnOneThread)
{
    // One thread runs the later passes as a wavefront in blocks of rows: a
    // deletion in a block's last row must still reach the rows below it.
    SetRowBandThreads(1);
    std::mt19937 random(2024);
    for (int i = 0; i < 300 && !HasFailure(); ++i) {
        const int width = 3 + static_cast<int>(random() % 140);
        const int height = 20 + static_cast<int>(random() % 60);
        const int percent = 30 + static_cast<int>(random() % 70);
        ExpectSameThinning(Noise(width, height, percent, random), true, false, "noise " + std::to_string(i));
    }
    SetRowBandThreads(0);
}

TEST(ThinningKernel, StopRequestedEndsTheFirstStepStopped)
{
    CRecorder recorder;
    CInlineWorker worker;
    worker.SetNotifyWindow(&recorder);
    CRasterSrc raster;
    ToRaster(Solid(120, 90), raster);
    worker.RequestStop();
    EXPECT_FALSE(ThinFirstStep(raster, &worker));
    EXPECT_EQ(worker.GetRunResult(), RUN_STOPPED);
}

// --- properties of the skeleton ---

TEST(ThinningSkeleton, IsASubsetOfTheInputAndStableUnderThinningAgain)
{
    std::uint32_t seed = 500;
    for (Sizes size : kSizes) {
        Grid picture = RandomPicture(size.width, size.height, seed++);
        picture.Set(0, 0);  // alone unless a shape covers it
        Grid skeleton = FastThin(picture, true, true).picture;
        for (std::size_t i = 0; i < picture.pixels.size(); ++i)
            ASSERT_LE(skeleton.pixels[i], picture.pixels[i]) << "pixel " << i << " appeared";
        if (!picture.At(1, 0) && !picture.At(0, 1) && !picture.At(1, 1)) {
            EXPECT_TRUE(skeleton.At(0, 0)) << "a lone pixel survives";
        }
        EXPECT_EQ(FastThin(skeleton, true, true).picture, skeleton) << Picture(skeleton);
    }
}

TEST(ThinningSkeleton, ThickBarBecomesALineOnePixelWide)
{
    Grid picture(40, 15);
    for (int y = 3; y < 10; ++y)
        for (int x = 5; x < 35; ++x)
            picture.Set(x, y);
    Grid skeleton = FastThin(picture, true, true).picture;
    for (int x = 10; x < 30; ++x) {
        int inColumn = 0;
        for (int y = 0; y < skeleton.height; ++y)
            inColumn += skeleton.At(x, y);
        EXPECT_EQ(inColumn, 1) << "column " << x << "\n" << Picture(skeleton);
    }
}

TEST(ThinningSkeleton, PaddingBitsPastTheWidthAreNotPixels)
{
    // Files may leave junk in a row's padding: it must neither be thinned as
    // foreground nor keep a neighbour alive.
    for (int width : {13, 64, 70}) {
        Grid picture = RandomPicture(width, 30, static_cast<std::uint32_t>(width));
        Grid expected = picture;
        ReferenceFirstStep(expected);
        ReferenceSecondStep(expected);
        CRasterSrc raster;
        ToRaster(picture, raster);
        for (int y = 0; y < raster.GetHeight(); ++y) {
            BYTE* row = raster.GetRow(y);
            for (std::size_t i = static_cast<std::size_t>(width) / 8; i < raster.GetRowBytes(); ++i)
                row[i] |= static_cast<BYTE>(i == static_cast<std::size_t>(width) / 8 ? 0xFFu >> (width % 8) : 0xFFu);
        }
        ASSERT_TRUE(ThinFirstStep(raster, nullptr));
        ASSERT_TRUE(ThinSecondStep(raster, nullptr));
        EXPECT_EQ(FromRaster(raster), expected) << "width " << width;
    }
}

TEST(ThinningFailure, RasterOfMoreThanOneBitFailsTheRun)
{
    CRecorder recorder;
    CInlineWorker worker;
    worker.SetNotifyWindow(&recorder);
    CRasterSrc raster;
    ASSERT_TRUE(raster.Create(8, 8, 8));
    EXPECT_FALSE(ThinFirstStep(raster, &worker));
    EXPECT_FALSE(ThinSecondStep(raster, nullptr));
    EXPECT_EQ(worker.GetRunResult(), RUN_FAILED);
}

}  // namespace
