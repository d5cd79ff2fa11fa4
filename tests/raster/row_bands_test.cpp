// Row bands: every row exactly once, in contiguous bands, whatever the
// thread count and whoever calls.
#include "raster/row_bands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// Each row's visits, and whether the bands were contiguous and in order.
struct Coverage {
    std::vector<std::atomic<int>> visits;
    std::vector<int> bandStart;
    explicit Coverage(int rows, int bands) : visits(static_cast<std::size_t>(rows)), bandStart(bands, -1) {}
};

void ExpectEveryRowOnce(int rows, int minRows)
{
    const int bands = CountRowBands(rows, minRows);
    Coverage coverage(rows, std::max(bands, 1));
    ForEachRowBand(rows, minRows, [&](int band, int y0, int y1) {
        coverage.bandStart[static_cast<std::size_t>(band)] = y0;
        EXPECT_LE(y0, y1);
        for (int y = y0; y < y1; ++y)
            ++coverage.visits[static_cast<std::size_t>(y)];
    });
    for (int y = 0; y < rows; ++y)
        ASSERT_EQ(coverage.visits[static_cast<std::size_t>(y)].load(), 1) << "row " << y << " of " << rows;
    for (int b = 1; b < bands; ++b)
        EXPECT_GT(coverage.bandStart[static_cast<std::size_t>(b)], coverage.bandStart[static_cast<std::size_t>(b - 1)]);
}

}  // namespace

TEST(RowBands, EveryRowIsVisitedOnceForEveryThreadCount)
{
    for (int threads : {1, 2, 3, 8, 64}) {
        SetRowBandThreads(threads);
        EXPECT_EQ(GetRowBandThreads(), threads);
        for (int rows : {0, 1, 7, 64, 65, 1000})
            for (int minRows : {1, 16, 100})
                ExpectEveryRowOnce(rows, minRows);
        EXPECT_LE(CountRowBands(1000, 1), threads);
        EXPECT_EQ(CountRowBands(1000, 1000), 1);
        EXPECT_EQ(CountRowBands(0, 1), 0);
    }
    SetRowBandThreads(0);
}

TEST(RowBands, CountComesFromTheCallThenTheEnvironmentThenTheCores)
{
    const char* saved = std::getenv("LW_THREADS");
    const std::string savedText = saved ? saved : "";
    SetRowBandThreads(0);
    ASSERT_EQ(setenv("LW_THREADS", "3", 1), 0);
    EXPECT_EQ(GetRowBandThreads(), 3);
    SetRowBandThreads(5);
    EXPECT_EQ(GetRowBandThreads(), 5);
    SetRowBandThreads(0);
    // Text that is not a count falls back to the cores.
    for (const char* bad : {"0", "-2", "two", "", "99999"}) {
        ASSERT_EQ(setenv("LW_THREADS", bad, 1), 0);
        EXPECT_GE(GetRowBandThreads(), 1) << bad;
        EXPECT_NE(GetRowBandThreads(), 99999) << bad;
    }
    if (saved)
        setenv("LW_THREADS", savedText.c_str(), 1);
    else
        unsetenv("LW_THREADS");
}

TEST(RowBands, CallsFromInsideABandAndFromOtherThreadsAllComplete)
{
    SetRowBandThreads(4);
    std::atomic<long> rows{0};
    // Nested: the inner call runs its bands on the thread of the outer band.
    ForEachRowBand(400, 10,
                   [&](int, int y0, int y1) { ForEachRowBand(y1 - y0, 1, [&](int, int a, int b) { rows += b - a; }); });
    EXPECT_EQ(rows.load(), 400);
    // Several callers at once: one owns the pool, the others run alone.
    rows = 0;
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                ForEachRowBand(100, 1, [&](int, int y0, int y1) { rows += y1 - y0; });
        });
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(rows.load(), 4 * 50 * 100);
    SetRowBandThreads(0);
}
