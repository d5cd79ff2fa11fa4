#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"
#include "trace/common_thread.h"
#include "trace/outline.h"
#include "trace/thinning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>
#include "support/idle_worker.h"

namespace {

class RasterLibraryForCentreLines : public ::testing::Environment {
public:
    void SetUp() override { InitRasterLibrary(); }
    void TearDown() override { ReleaseRasterLibrary(); }
};

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new RasterLibraryForCentreLines);

using Point = std::pair<int, int>;
using Chain = std::vector<Point>;

// '#' is black.
void Draw(CRasterSrc& raster, const std::vector<std::string>& rows)
{
    ASSERT_TRUE(raster.Create(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 1));
    for (int y = 0; y < raster.GetHeight(); ++y)
        for (int x = 0; x < raster.GetWidth(); ++x)
            raster.SetPixelBit(x, y, rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] == '#');
}

std::vector<Chain> Chains(const COutlineList& list)
{
    std::vector<Chain> chains;
    for (auto* item = list.GetItems().GetHead(); item; item = item->next) {
        Chain chain;
        for (const COutlineNode& node : item->value.nodes) {
            EXPECT_EQ(node.flag, 0);
            chain.emplace_back(static_cast<int>(node.x), static_cast<int>(node.y));
            EXPECT_EQ(node.x, chain.back().first);
            EXPECT_EQ(node.y, chain.back().second);
        }
        chains.push_back(chain);
    }
    return chains;
}

// The chains the walk follows on a thinned page with the given threads.
std::vector<Chain> FollowSkeleton(CRasterSrc& skeleton, int threads)
{
    SetRowBandThreads(threads);
    COutlineList list(&skeleton);
    auto working = std::make_unique<CRasterSrc>();
    EXPECT_TRUE(working->Copy(skeleton));
    list.SetWorkingRaster(std::move(working));
    EXPECT_TRUE(list.TraceCenterLine(nullptr));
    return Chains(list);
}

// Follows an already thin skeleton, as the trace does after thinning.
std::vector<Chain> FollowSkeleton(const std::vector<std::string>& rows)
{
    CRasterSrc source;
    Draw(source, rows);
    COutlineList list(&source);
    auto working = std::make_unique<CRasterSrc>();
    EXPECT_TRUE(working->Copy(source));
    list.SetWorkingRaster(std::move(working));
    EXPECT_TRUE(list.TraceCenterLine(nullptr));
    EXPECT_EQ(list.GetNodeRaster(), nullptr);
    return Chains(list);
}

// --- following known skeletons ---

struct ChainCase {
    const char* name;
    std::vector<std::string> picture;
    std::vector<Chain> expected;
};

TEST(CentreLineChains, FollowKnownSkeletons)
{
    const std::vector<ChainCase> cases = {
        {"a diagonal run, walked down-left from the end met first",
         {"....#", "...#.", "..#..", ".#...", "....."},
         {{{4, 0}, {1, 3}}}},
        {"an L: every turn adds a node",
         {"...........", ".#######...", ".......#...", ".......#...", "..........."},
         {{{1, 1}, {7, 1}, {7, 3}}}},
        {"a T: the three branches end at the junction pixel",
         {"...........", "#########..", "....#......", "....#......", "....#......", "..........."},
         {{{0, 1}, {4, 1}}, {{4, 1}, {8, 1}}, {{4, 1}, {4, 4}}}},
        {"a branch turning into its junction gets a corner before it",
         {"......#....", ".....#.....", "....#......", "#########..", "..........."},
         {{{6, 0}, {4, 2}, {4, 3}}, {{0, 3}, {4, 3}}, {{4, 3}, {8, 3}}}},
        {"a start inside the chain: the second half is added at the head",
         {"..........", "....#.....", "...#.#....", "..#...#...", ".#.....#..", ".........."},
         {{{7, 4}, {4, 1}, {1, 4}}}},
        {"a ring: one open chain all the way round to beside its start",
         {"..........", "...####...", "..#....#..", "..#....#..", "...####...", ".........."},
         {{{3, 1}, {6, 1}, {7, 2}, {7, 3}, {6, 4}, {3, 4}, {2, 3}, {2, 2}}}},
        {"lone pixels give no chain", {".....", ".#...", "...#.", "....."}, {}},
        {"pixels on the border are followed", {"#####", "....#", "....#"}, {{{0, 0}, {4, 0}, {4, 2}}}},
    };
    for (const ChainCase& c : cases)
        EXPECT_EQ(FollowSkeleton(c.picture), c.expected) << c.name;
}

// --- the whole method on drawn strokes ---

std::vector<Chain> TraceWhole(CRasterSrc& source)
{
    COutlineList list(&source);
    EXPECT_TRUE(list.TraceCenterLines(nullptr));
    EXPECT_EQ(list.GetWorkingRaster(), nullptr);
    EXPECT_EQ(list.GetNodeRaster(), nullptr);
    return Chains(list);
}

void FillRect(CRasterSrc& raster, int x0, int y0, int x1, int y1)
{
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            raster.SetPixelBit(x, y, true);
}

// The skeleton the two thinning steps leave of source.
bool Thin(const CRasterSrc& source, CRasterSrc& skeleton)
{
    return skeleton.Copy(source) && ThinFirstStep(skeleton, nullptr) && ThinSecondStep(skeleton, nullptr);
}

// Random straight strokes, square pens 1 to maxPen pixels wide.
void DrawStrokes(CRasterSrc& source, std::mt19937& random, int strokes, int maxPen)
{
    const int width = source.GetWidth(), height = source.GetHeight();
    for (int s = 0; s < strokes; ++s) {
        const int x0 = static_cast<int>(random() % width), y0 = static_cast<int>(random() % height);
        const int x1 = static_cast<int>(random() % width), y1 = static_cast<int>(random() % height);
        const int pen = 1 + static_cast<int>(random() % maxPen);
        const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0)) + 1;
        for (int i = 0; i <= steps; ++i)
            FillRect(source, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps,
                     std::min(width, x0 + (x1 - x0) * i / steps + pen),
                     std::min(height, y0 + (y1 - y0) * i / steps + pen));
    }
}

TEST(CentreLineTrace, CrossGivesFourBranchesMeetingAtOnePoint)
{
    CRasterSrc source;
    ASSERT_TRUE(source.Create(61, 61, 1));
    FillRect(source, 5, 28, 56, 33);
    FillRect(source, 28, 5, 33, 56);
    const std::vector<Chain> chains = TraceWhole(source);
    ASSERT_EQ(chains.size(), 4u);
    // Each arm runs from its far end to the one junction pixel in the middle.
    for (const Chain& chain : chains) {
        ASSERT_EQ(chain.size(), 2u);
        ASSERT_TRUE(chain.front() == Point(30, 30) || chain.back() == Point(30, 30));
        const Point& far = chain.front() == Point(30, 30) ? chain.back() : chain.front();
        EXPECT_GE(std::abs(far.first - 30) + std::abs(far.second - 30), 20);
    }
}

TEST(CentreLineTrace, SourceKeepsItsPixelsAndPaletteAndTracingAgainReplacesTheItems)
{
    CRasterSrc source;
    ASSERT_TRUE(source.Create(40, 30, 1));
    FillRect(source, 3, 3, 30, 9);
    FillRect(source, 10, 3, 15, 27);
    CRasterSrc before;
    ASSERT_TRUE(before.Copy(source));
    COutlineList list(&source);
    ASSERT_TRUE(list.TraceCenterLines(nullptr));
    std::vector<Chain> first = Chains(list);
    ASSERT_FALSE(first.empty());
    ASSERT_TRUE(list.TraceCenterLines(nullptr));
    EXPECT_EQ(Chains(list), first);
    for (int y = 0; y < source.GetHeight(); ++y)
        for (int x = 0; x < source.GetWidth(); ++x)
            ASSERT_EQ(source.GetPixelIndex(x, y), before.GetPixelIndex(x, y)) << x << ", " << y;
    // The user interface may still draw the source: the run dims it afterwards.
    EXPECT_EQ(source.GetPalette()[1].rgbRed, 0);
    EXPECT_EQ(source.GetPaletteDimmed(), 0);
}

// Random strokes: the chains follow the skeleton in straight runs.
TEST(CentreLineTrace, ChainsRunStraightAlongTheSkeletonOfRandomDrawings)
{
    std::mt19937 random(3);
    for (int round = 0; round < 12; ++round) {
        const int width = 40 + static_cast<int>(random() % 150);
        const int height = 30 + static_cast<int>(random() % 60);
        CRasterSrc source;
        ASSERT_TRUE(source.Create(width, height, 1));
        DrawStrokes(source, random, 12, 6);
        CRasterSrc skeleton;
        ASSERT_TRUE(Thin(source, skeleton));
        const std::vector<Chain> chains = TraceWhole(source);
        ASSERT_FALSE(chains.empty());
        std::vector<char> covered(static_cast<std::size_t>(width) * height, 0);
        for (const Chain& chain : chains) {
            ASSERT_GE(chain.size(), 2u);
            for (std::size_t i = 1; i < chain.size(); ++i) {
                int dx = chain[i].first - chain[i - 1].first;
                int dy = chain[i].second - chain[i - 1].second;
                ASSERT_TRUE((dx || dy) && (dx == 0 || dy == 0 || std::abs(dx) == std::abs(dy)))
                    << "segment " << i << " is not one of the eight directions";
                int n = std::max(std::abs(dx), std::abs(dy));
                for (int k = 0; k <= n; ++k) {
                    int x = chain[i - 1].first + dx / n * k, y = chain[i - 1].second + dy / n * k;
                    ASSERT_EQ(skeleton.GetPixelIndex(x, y), 1) << "chain leaves the skeleton at " << x << ", " << y;
                    covered[static_cast<std::size_t>(y) * width + x] = 1;
                }
            }
        }
        // Only junction pixels, lone pixels and the like stay uncovered.
        int skeletonPixels = 0, coveredPixels = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (skeleton.GetPixelIndex(x, y)) {
                    ++skeletonPixels;
                    coveredPixels += covered[static_cast<std::size_t>(y) * width + x];
                }
        EXPECT_GE(coveredPixels * 10, skeletonPixels * 9) << "round " << round;
    }
}

// --- progress and stop ---

using namespace std::chrono_literals;

class CRecorder : public CMessageReceiver {
public:
    ~CRecorder() override { Close(); }
    std::vector<std::pair<UINT, WPARAM>> messages;
    std::vector<std::string> texts;
    CCommonThread* worker = nullptr;
    std::size_t stopAt = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        messages.emplace_back(message, wParam);
        if (message == WM_STEP_TEXT)
            texts.emplace_back(reinterpret_cast<const char*>(lParam));
        if (messages.size() == stopAt && worker)
            worker->RequestStop();
        return 0;
    }
};

// A trace run reduced to the centre-line method: it posts "finished" when
// the method did not post a code itself.
class CCentreLineWorker : public CCommonThread {
public:
    explicit CCentreLineWorker(COutlineList& list) : m_list(list) {}
    ~CCentreLineWorker() override { StopAndWait(); }

protected:
    DWORD Run() override
    {
        if (m_list.TraceCenterLines(this))
            PostRunEnd(RUN_FINISHED);
        return 0;
    }

private:
    COutlineList& m_list;
};

void DrawStrokes(CRasterSrc& source)
{
    ASSERT_TRUE(source.Create(90, 70, 1));
    FillRect(source, 5, 10, 80, 17);
    FillRect(source, 40, 5, 46, 65);
    FillRect(source, 10, 50, 30, 60);
}

using Messages = std::vector<std::pair<UINT, WPARAM>>;

// Runs the method on a worker, asking it to stop at message stopAt (0: never).
Messages RunOnWorker(COutlineList& list, std::size_t stopAt, std::vector<std::string>* texts = nullptr)
{
    CRecorder recorder;
    CCentreLineWorker worker(list);
    recorder.worker = &worker;
    recorder.stopAt = stopAt;
    worker.SetNotifyWindow(&recorder);
    EXPECT_TRUE(worker.Start());
    auto runEnds = [&] {
        return std::count_if(recorder.messages.begin(), recorder.messages.end(),
                             [](auto m) { return m.first == WM_RUN_END; });
    };
    EXPECT_TRUE(recorder.PumpUntil([&] { return runEnds() > 0; }, 20s));
    worker.Wait();
    recorder.Pump();
    EXPECT_EQ(runEnds(), 1);
    EXPECT_EQ(worker.GetRunResult(), recorder.messages.back().second);
    if (texts)
        *texts = recorder.texts;
    return recorder.messages;
}

// Junctions are marked in bands of rows on the pool; rows at the seams of
// the bands and of the stretches between progress reports must come out as
// anywhere else. Crossing strokes put junctions on many rows.
TEST(CentreLineTrace, ChainsAndJunctionsAreTheSameOnAnyThreadCount)
{
    std::mt19937 random(17);
    for (int round = 0; round < 4; ++round) {
        const int width = 120, height = 200 + 70 * round;
        CRasterSrc source;
        ASSERT_TRUE(source.Create(width, height, 1));
        DrawStrokes(source, random, 60, 3);
        CRasterSrc skeleton;
        ASSERT_TRUE(Thin(source, skeleton));
        const auto follow = [&](int threads) { return FollowSkeleton(skeleton, threads); };
        const std::vector<Chain> one = follow(1);
        EXPECT_GT(one.size(), 100u);
        for (int threads : {2, 3, 4, 7})
            EXPECT_EQ(follow(threads), one) << "round " << round << ", " << threads << " threads";

        // Whether a pixel is a junction depends on its own 3 x 3 pixels of
        // the skeleton alone: each one marked on its own must agree.
        SetRowBandThreads(4);
        COutlineList page(&skeleton);
        auto working = std::make_unique<CRasterSrc>();
        ASSERT_TRUE(working->Copy(skeleton));
        page.SetWorkingRaster(std::move(working));
        auto nodes = std::make_unique<CRasterSrc>();
        ASSERT_TRUE(nodes->Create(width, height, 1));
        page.SetNodeRaster(std::move(nodes));
        ASSERT_TRUE(page.TraceCenterInit(nullptr));
        int junctions = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                if (!skeleton.GetPixelIndex(x, y))
                    continue;
                CRasterSrc block;
                ASSERT_TRUE(block.Create(3, 3, 1));
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        if (x + dx >= 0 && x + dx < width && y + dy >= 0 && y + dy < height)
                            block.SetPixelBit(dx + 1, dy + 1, skeleton.GetPixelIndex(x + dx, y + dy) != 0);
                COutlineList alone(&block);
                auto blockWorking = std::make_unique<CRasterSrc>();
                ASSERT_TRUE(blockWorking->Copy(block));
                alone.SetWorkingRaster(std::move(blockWorking));
                auto blockNodes = std::make_unique<CRasterSrc>();
                ASSERT_TRUE(blockNodes->Create(3, 3, 1));
                alone.SetNodeRaster(std::move(blockNodes));
                ASSERT_TRUE(alone.TraceCenterInit(nullptr));
                const int expected = alone.GetNodeRaster()->GetPixelIndex(1, 1);
                junctions += expected;
                ASSERT_EQ(page.GetNodeRaster()->GetPixelIndex(x, y), expected) << x << ", " << y;
                ASSERT_EQ(page.GetWorkingRaster()->GetPixelIndex(x, y), 1 - expected) << x << ", " << y;
            }
        EXPECT_GT(junctions, 50);
        SetRowBandThreads(0);
    }
}

// One-pixel random walks that wander up and down across the seams of the row
// bands, cross word boundaries there and run into each other: every chain
// must come out, in its place, as the walk of the whole page on one thread
// makes it.
TEST(CentreLineTrace, ChainsAcrossBandSeamsComeOutAsOnOneThread)
{
    std::mt19937 random(29);
    for (int round = 0; round < 6; ++round) {
        const int width = 130, height = 224 + 13 * round;
        CRasterSrc skeleton;
        ASSERT_TRUE(skeleton.Create(width, height, 1));
        for (int walk = 0; walk < 16; ++walk) {
            int x = static_cast<int>(random() % width), y = static_cast<int>(random() % height);
            int down = random() % 2 ? 1 : -1;
            for (int step = 0; step < 250; ++step) {
                skeleton.SetPixelBit(x, y, true);
                if (random() % 60 == 0)
                    down = -down;
                if (random() % 4 == 0)
                    x = std::clamp(x + (random() % 2 ? 1 : -1), 0, width - 1);
                else
                    y = std::clamp(y + down, 0, height - 1);
            }
        }
        const auto follow = [&](int threads) { return FollowSkeleton(skeleton, threads); };
        const std::vector<Chain> one = follow(1);
        // Chains over more than 32 rows cross a seam of seven bands.
        const auto tall = std::count_if(one.begin(), one.end(), [](const Chain& chain) {
            const auto [low, high] =
                std::minmax_element(chain.begin(), chain.end(), [](Point a, Point b) { return a.second < b.second; });
            return high->second - low->second > 32;
        });
        EXPECT_GE(tall, 3) << "round " << round;
        for (int threads : {2, 4, 7})
            EXPECT_EQ(follow(threads), one) << "round " << round << ", " << threads << " threads";
        SetRowBandThreads(0);
    }
}

TEST(CentreLineProtocol, StepsReportInOrderAndTheRunEndsOnce)
{
    CRasterSrc source;
    DrawStrokes(source);
    COutlineList list(&source);
    std::vector<std::string> texts;
    const Messages messages = RunOnWorker(list, 0, &texts);
    EXPECT_EQ(texts, (std::vector<std::string>{"Thin first step", "Thin second step", "Trace center initialize",
                                               "Trace center line"}));
    EXPECT_EQ(messages.back(), (std::pair<UINT, WPARAM>{WM_RUN_END, RUN_FINISHED}));
    // The row steps count up in percent, each value once.
    std::vector<WPARAM> lastStep;
    for (auto [message, w] : messages) {
        if (message == WM_STEP_TEXT)
            lastStep.clear();
        else if (message == WM_STEP_POS)
            lastStep.push_back(w);
    }
    EXPECT_TRUE(std::is_sorted(lastStep.begin(), lastStep.end()));
    EXPECT_EQ(std::adjacent_find(lastStep.begin(), lastStep.end()), lastStep.end());
    EXPECT_LE(lastStep.back(), 100u);
    EXPECT_FALSE(list.GetItems().IsEmpty());
}

// A stop while following the chains also empties the items.
TEST(CentreLineProtocol, StopAtAnyMessageEndsWithOneStoppedCodeAndNothingAfter)
{
    CRasterSrc source;
    DrawStrokes(source);
    COutlineList whole(&source);
    const std::size_t total = RunOnWorker(whole, 0).size() - 1;  // the progress messages
    ASSERT_GT(total, 10u);
    for (std::size_t n = 1; n <= total; ++n) {
        SCOPED_TRACE("stop at message " + std::to_string(n));
        COutlineList list(&source);
        const Messages messages = RunOnWorker(list, n);
        ASSERT_EQ(messages.size(), n + 1);
        EXPECT_EQ(messages.back().first, WM_RUN_END);
        // Only the last message, the last step's end, comes after every test
        // of the flag.
        EXPECT_EQ(messages.back().second, n == total ? RUN_FINISHED : RUN_STOPPED);
        EXPECT_EQ(list.GetItems().IsEmpty(), n != total);
        EXPECT_EQ(list.GetWorkingRaster(), nullptr);
        EXPECT_EQ(list.GetNodeRaster(), nullptr);
    }
}

// Lends its stop flag and run end to kernels called on the test's thread.
TEST(CentreLineFailure, MissingRastersEndTheRunWithACode)
{
    CRasterSrc source;
    DrawStrokes(source);
    COutlineList list(&source);
    EXPECT_FALSE(list.TraceCenterInit(nullptr));
    CIdleWorker worker;
    EXPECT_FALSE(list.TraceCenterLine(&worker));
    EXPECT_EQ(worker.GetRunResult(), RUN_FAILED);

    // An empty source cannot be copied: no memory for the workspace.
    CRasterSrc empty;
    COutlineList emptyList(&empty);
    CIdleWorker emptyWorker;
    EXPECT_FALSE(emptyList.TraceCenterLines(&emptyWorker));
    EXPECT_EQ(emptyWorker.GetRunResult(), RUN_NO_MEMORY);
}

}  // namespace
