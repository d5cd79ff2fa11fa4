#include "trace/ink_guard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "model/constants.h"
#include "model/polyline.h"
#include "raster/raster_src.h"
#include "trace/angle_adjust.h"
#include "trace/series.h"
#include "trace/trace_option.h"

namespace {

CTraceOption ConnectDistance(int distance)
{
    CTraceOption options;
    options.ChartType.i_ConDis = distance;
    return options;
}

// Pixels within half a pixel of the world segment (x0, y0)-(x1, y1).
void Hairline(CRasterSrc& raster, double x0, double y0, double x1, double y1)
{
    const int h = raster.GetHeight();
    const double dx = x1 - x0, dy = y1 - y0, l2 = dx * dx + dy * dy;
    for (int row = 0; row < h; ++row) {
        for (int x = 0; x < raster.GetWidth(); ++x) {
            const double y = h - 1 - row;
            const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / l2, 0.0, 1.0);
            if (std::hypot(x - x0 - t * dx, y - y0 - t * dy) <= 0.5)
                raster.SetPixelBit(x, row, true);
        }
    }
}

TEST(InkGuard, FindsInkWithinTheReachAsAPlainSearchDoes)
{
    std::mt19937 random(36);
    for (int round = 0; round < 20; ++round) {
        CRasterSrc raster;
        const int width = 40 + round * 7, height = 30 + round * 3;
        ASSERT_TRUE(raster.Create(width, height, 1));
        std::uniform_int_distribution<int> column(0, width - 1), row(0, height - 1);
        for (int i = 0; i < 1 + round % 5; ++i)
            raster.SetPixelBit(column(random), row(random), true);
        const CInkGuard guard(raster, CTraceOption());
        std::uniform_real_distribution<double> x(-12, width + 12), y(-12, height + 12), reach(0, 15);
        for (int i = 0; i < 300; ++i) {
            const frDoublePoint p(x(random), y(random));
            const double r = reach(random);
            bool expected = false;
            for (int py = 0; py < height; ++py)
                for (int px = 0; px < width; ++px)
                    if (raster.GetPixelIndex(px, py) && std::hypot(px - p.x, py - (height - 1 - p.y)) <= r)
                        expected = true;
            ASSERT_EQ(expected, guard.IsNearInk(p, r)) << p.x << "," << p.y << " reach " << r;
        }
    }
}

TEST(InkGuard, ReachIsTheConnectDistanceOrTheStrokeWidth)
{
    CRasterSrc raster;
    ASSERT_TRUE(raster.Create(10, 10, 1));
    const CInkGuard guard(raster, ConnectDistance(5));
    CVertex v;
    v.startWidth = 4.5;
    EXPECT_EQ(5.0, guard.ReachOf(v));
    v.startWidth = 7.5;
    EXPECT_EQ(7.5, guard.ReachOf(v));
}

TEST(InkGuard, WithoutAOneBitRasterEverythingPasses)
{
    CRasterSrc grey;
    ASSERT_TRUE(grey.Create(10, 10, 8));
    EXPECT_FALSE(CInkGuard(grey, CTraceOption()).IsActive());
    EXPECT_TRUE(CInkGuard().IsNearInk({500, 500}, 0));
}

// A line 3 degrees off level on its hairline, turned level about its middle:
// each end moves across by half its length times tan 3 degrees.
class InkGuardedAngles : public ::testing::Test {
protected:
    // The ends' move across the line; true when the line was turned.
    bool TurnLevel(double endMove, int connectDistance, double width)
    {
        const double length = 2 * endMove / std::tan(3 * DEGREE);
        CRasterSrc raster;
        EXPECT_TRUE(raster.Create(static_cast<int>(length) + 40, 60, 1));
        const frDoublePoint a(20, 20), b(20 + length * std::cos(3 * DEGREE), 20 + length * std::sin(3 * DEGREE));
        Hairline(raster, a.x, a.y, b.x, b.y);
        CPolyLine polyline;
        polyline.AddPoint(a.x, a.y);
        polyline.AddPoint(b.x, b.y);
        polyline.GetHead()->startWidth = width;
        CAngleSeries series;
        series.SetDefault();
        const bool kept = AdjustAngle(polyline, series, CInkGuard(raster, ConnectDistance(connectDistance)));
        const CVertex* v = polyline.GetHead();
        const bool level = std::fabs(v->next->y - v->y) < 1e-9;
        EXPECT_EQ(kept, level);
        if (!level) {
            EXPECT_EQ(a.x, v->x);   // put back exactly
            EXPECT_EQ(b.y, v->next->y);
        }
        return level;
    }
};

TEST_F(InkGuardedAngles, ALineStaysTurnedWhileItsEndsKeepWithinTheConnectDistance)
{
    EXPECT_TRUE(TurnLevel(3.5, 5, 0));
    EXPECT_FALSE(TurnLevel(6.5, 5, 0));
}

TEST_F(InkGuardedAngles, AWideStrokeReachesAsFarAsItsWidth)
{
    EXPECT_TRUE(TurnLevel(6.5, 5, 8));
    EXPECT_FALSE(TurnLevel(9.5, 5, 8));
}

} // namespace
