#include "model/clipping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr double XMIN = 0, YMIN = 0, XMAX = 1, YMAX = 1;

// Winding number by signed crossings of the horizontal ray to the right.
int ReferenceWinding(double x, double y, const std::vector<frDoublePoint>& poly)
{
    int w = 0;
    for (std::size_t i = 0; i < poly.size(); ++i) {
        const frDoublePoint& a = poly[i];
        const frDoublePoint& b = poly[(i + 1) % poly.size()];
        double cross = (b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y);
        if (a.y <= y && b.y > y && cross > 0)
            ++w;
        else if (a.y > y && b.y <= y && cross < 0)
            --w;
    }
    return w;
}

double DistanceToSegment(double x, double y, const frDoublePoint& a, const frDoublePoint& b)
{
    double dx = b.x - a.x, dy = b.y - a.y;
    double len = dx * dx + dy * dy;
    double t = len > 0 ? ((x - a.x) * dx + (y - a.y) * dy) / len : 0;
    t = std::fmax(0, std::fmin(1, t));
    return std::hypot(x - (a.x + t * dx), y - (a.y + t * dy));
}

bool NearBoundary(double x, double y, const std::vector<frDoublePoint>& poly)
{
    for (std::size_t i = 0; i < poly.size(); ++i)
        if (DistanceToSegment(x, y, poly[i], poly[(i + 1) % poly.size()]) < 1e-7)
            return true;
    return false;
}

// Liang-Barsky against the closed box: the visible parameter range.
bool ReferenceClip(double x1, double y1, double x2, double y2, double& t0, double& t1)
{
    t0 = 0, t1 = 1;
    double dx = x2 - x1, dy = y2 - y1;
    double p[4] = {-dx, dx, -dy, dy};
    double q[4] = {x1 - XMIN, XMAX - x1, y1 - YMIN, YMAX - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
        } else {
            double r = q[i] / p[i];
            if (p[i] < 0)
                t0 = std::fmax(t0, r);
            else
                t1 = std::fmin(t1, r);
        }
    }
    return t0 <= t1;
}

std::vector<frDoublePoint> RandomPolygon(std::mt19937& rng, int n)
{
    std::uniform_real_distribution<double> coord(-1.5, 2.5);
    std::vector<frDoublePoint> poly;
    for (int i = 0; i < n; ++i)
        poly.emplace_back(coord(rng), coord(rng));
    return poly;
}

using Clipper = bool (*)(double, double, double, double, const frDoublePoint*, int, std::vector<frDoublePoint>&);

bool Clip(Clipper clip, const std::vector<frDoublePoint>& poly, std::vector<frDoublePoint>& out)
{
    return clip(XMIN, YMIN, XMAX, YMAX, poly.data(), static_cast<int>(poly.size()), out);
}

void ExpectPoints(const std::vector<frDoublePoint>& out, std::initializer_list<frDoublePoint> expected)
{
    ASSERT_EQ(out.size(), expected.size());
    std::size_t i = 0;
    for (const frDoublePoint& e : expected) {
        EXPECT_DOUBLE_EQ(out[i].x, e.x) << "point " << i;
        EXPECT_DOUBLE_EQ(out[i].y, e.y) << "point " << i;
        ++i;
    }
}

}  // namespace

// ---- point in polygon -----------------------------------------------------

TEST(PointInPolygon, BoundaryPointsAreZero)
{
    std::vector<frDoublePoint> square = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    EXPECT_EQ(PointInPolygon(4, 4, 0, square.data(), 4), 0) << "on a vertex";
    EXPECT_EQ(PointInPolygon(2, 0, 0, square.data(), 4), 0) << "on a horizontal edge";
    EXPECT_EQ(PointInPolygon(0, 1, 0, square.data(), 4), 0) << "on a vertical edge";
    EXPECT_EQ(PointInPolygon(0, 4, 0, square.data(), 4), 0) << "on the closing vertex";
    std::vector<frDoublePoint> diamond = {{0, -2}, {2, 0}, {0, 2}, {-2, 0}};
    EXPECT_EQ(PointInPolygon(1, 1, 0, diamond.data(), 4), 0) << "on a slanted edge";
}

TEST(PointInPolygon, SignOfTheWindingSaysTheDirection)
{
    std::vector<frDoublePoint> ccw = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    std::vector<frDoublePoint> cw(ccw.rbegin(), ccw.rend());
    EXPECT_EQ(PointInPolygon(1, 2, 0, ccw.data(), 4), 1);
    EXPECT_EQ(PointInPolygon(1, 2, 0, cw.data(), 4), 2);
    EXPECT_EQ(PointInPolygon(5, 2, 0, ccw.data(), 4), -1);
    EXPECT_EQ(PointInPolygon(1, 2, 0, ccw.data(), 0), -1) << "no points, nothing inside";
}

TEST(PointInPolygon, AgreesWithCrossingCountOnRandomPolygons)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coord(-1, 2);
    for (int trial = 0; trial < 300; ++trial) {
        auto poly = RandomPolygon(rng, 3 + trial % 9);
        for (int s = 0; s < 20; ++s) {
            double x = coord(rng), y = coord(rng);
            if (NearBoundary(x, y, poly))
                continue;
            int w = ReferenceWinding(x, y, poly);
            int expected = w == 0 ? -1 : (w > 0 ? 1 : 2);
            ASSERT_EQ(PointInPolygon(x, y, 0, poly.data(), static_cast<int>(poly.size())), expected)
                << "trial " << trial;
        }
    }
}

// ---- segment clipping -----------------------------------------------------

TEST(ClipSegment, BoundaryRules)
{
    double x1 = 0, y1 = 0.2, x2 = 0, y2 = 0.8;
    std::int16_t c1 = 9, c2 = 9;
    ASSERT_TRUE(ClipSegmentToRect(XMIN, YMIN, XMAX, YMAX, x1, y1, x2, y2, c1, c2)) << "along the left edge";
    EXPECT_EQ(x1, 0);
    EXPECT_EQ(y1, 0.2);
    EXPECT_EQ(y2, 0.8);
    EXPECT_EQ(c1, kClipEdgeNone);
    EXPECT_EQ(c2, kClipEdgeNone);

    x1 = -1, y1 = 0.5, x2 = 0, y2 = 0.5;
    EXPECT_FALSE(ClipSegmentToRect(XMIN, YMIN, XMAX, YMAX, x1, y1, x2, y2, c1, c2)) << "ending on the left edge";

    // Inside to the top-left region exactly through the corner: cut there,
    // reported on the left edge.
    x1 = 0.5, y1 = 0.5, x2 = -1, y2 = 2;
    ASSERT_TRUE(ClipSegmentToRect(XMIN, YMIN, XMAX, YMAX, x1, y1, x2, y2, c1, c2));
    EXPECT_DOUBLE_EQ(x2, 0);
    EXPECT_DOUBLE_EQ(y2, 1);
    EXPECT_EQ(c1, kClipEdgeNone);
    EXPECT_EQ(c2, kClipEdgeLeft);

    // Both ends outside, touching only the bottom-right corner.
    x1 = 0.5, y1 = -0.5, x2 = 1.5, y2 = 0.5;
    EXPECT_FALSE(ClipSegmentToRect(XMIN, YMIN, XMAX, YMAX, x1, y1, x2, y2, c1, c2));

    double nan = std::nan("");
    x1 = nan, y1 = 0.5, x2 = 0.5, y2 = 0.5;
    EXPECT_FALSE(ClipSegmentToRect(XMIN, YMIN, XMAX, YMAX, x1, y1, x2, y2, c1, c2)) << "not-a-number is unseen";
    x1 = 0.5, y1 = 0.5, x2 = INFINITY, y2 = INFINITY;
    EXPECT_FALSE(ClipSegmentToRect(XMIN, YMIN, XMAX, YMAX, x1, y1, x2, y2, c1, c2)) << "and so is infinity";
}

TEST(ClipSegment, MatchesAReferenceClipperOnRandomSegments)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> coord(-1, 2);
    int visible = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        double x1 = coord(rng), y1 = coord(rng), x2 = coord(rng), y2 = coord(rng);
        double t0, t1;
        bool expected = ReferenceClip(x1, y1, x2, y2, t0, t1);
        double length = std::hypot(x2 - x1, y2 - y1);
        if (expected && (t1 - t0) * length < 1e-9)
            continue;  // a touch: the boundary rules decide
        double cx1 = x1, cy1 = y1, cx2 = x2, cy2 = y2;
        std::int16_t c1 = -1, c2 = -1;
        bool got = ClipSegmentToRect(XMIN, YMIN, XMAX, YMAX, cx1, cy1, cx2, cy2, c1, c2);
        ASSERT_EQ(got, expected) << "trial " << trial;
        if (!got)
            continue;
        ++visible;
        EXPECT_NEAR(cx1, x1 + t0 * (x2 - x1), 1e-9);
        EXPECT_NEAR(cy1, y1 + t0 * (y2 - y1), 1e-9);
        EXPECT_NEAR(cx2, x1 + t1 * (x2 - x1), 1e-9);
        EXPECT_NEAR(cy2, y1 + t1 * (y2 - y1), 1e-9);
        // Each code names the edge the moved end lies on.
        auto onEdge = [](std::int16_t code, double x, double y, bool moved) {
            switch (code) {
            case kClipEdgeNone: return !moved;
            case kClipEdgeBottom: return y == YMIN;
            case kClipEdgeRight: return x == XMAX;
            case kClipEdgeTop: return y == YMAX;
            case kClipEdgeLeft: return x == XMIN;
            }
            return false;
        };
        EXPECT_TRUE(onEdge(c1, cx1, cy1, t0 > 0)) << "trial " << trial;
        EXPECT_TRUE(onEdge(c2, cx2, cy2, t1 < 1)) << "trial " << trial;
    }
    EXPECT_GT(visible, 5000);
}

// ---- polygon clipping: fixed cases ---------------------------------------

TEST(ClipPolygon, SurroundingPolygonGivesTheBox)
{
    std::vector<frDoublePoint> around = {{-1, -1}, {2, -1}, {2, 2}, {-1, 2}};
    std::vector<frDoublePoint> out;
    ASSERT_TRUE(Clip(ClipPolygonWinding, around, out));
    ExpectPoints(out, {{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    ASSERT_TRUE(Clip(ClipPolygonEvenOdd, around, out));
    ExpectPoints(out, {{1, 0}, {1, 1}, {0, 1}, {0, 0}});

    std::vector<frDoublePoint> clockwise(around.rbegin(), around.rend());
    ASSERT_TRUE(Clip(ClipPolygonWinding, clockwise, out)) << "a negative winding fills too";
    ExpectPoints(out, {{0, 0}, {1, 0}, {1, 1}, {0, 1}});
}

TEST(ClipPolygon, BoxWoundTwiceStaysEmptyUnderEvenOdd)
{
    std::vector<frDoublePoint> twice = {{-1, -1},   {2, -1},     {2, 2},     {-1, 2},
                                        {-1, -1.5}, {2.5, -1.5}, {2.5, 2.5}, {-1.5, 2.5}};
    std::vector<frDoublePoint> out;
    ASSERT_TRUE(Clip(ClipPolygonWinding, twice, out));
    EXPECT_EQ(ReferenceWinding(0.5, 0.5, out), 2);
    EXPECT_FALSE(Clip(ClipPolygonEvenOdd, twice, out));
}

TEST(ClipPolygon, PolygonBesideTheBoxGivesNothing)
{
    std::vector<frDoublePoint> beside = {{2, 0}, {3, 0}, {3, 3}, {-1, 3}, {-1, 2}, {2, 2}};
    std::vector<frDoublePoint> out;
    EXPECT_FALSE(Clip(ClipPolygonWinding, beside, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(Clip(ClipPolygonEvenOdd, beside, out));
    EXPECT_TRUE(out.empty());
}

TEST(ClipPolygon, LoopRoundTheBoxThroughOneEdgeInsertsAllFourCorners)
{
    // In through the bottom at x 0.2, up, out through the bottom at x 0.5,
    // once clockwise round the outside and in again at x 0.8.
    std::vector<frDoublePoint> poly = {{0.2, -0.5}, {0.2, 0.5},  {0.5, 0.5},  {0.5, -0.3}, {-0.5, -0.3}, {-0.5, 1.5},
                                       {1.5, 1.5},  {1.5, -0.5}, {0.8, -0.5}, {0.8, 0.5},  {0.9, 0.5},   {0.9, -0.7}};
    std::vector<frDoublePoint> out;
    ASSERT_TRUE(Clip(ClipPolygonEvenOdd, poly, out));
    // After the exit at (0.5, 0): BL first, then round to BR, in at (0.8, 0).
    ASSERT_GE(out.size(), 8u);
    EXPECT_DOUBLE_EQ(out[3].x, 0.5);
    EXPECT_DOUBLE_EQ(out[3].y, 0);
    ExpectPoints(std::vector<frDoublePoint>(out.begin() + 4, out.begin() + 9),
                 {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0.8, 0}});
}

TEST(ClipPolygon, ManyPointsInsideAreAllKept)
{
    std::vector<frDoublePoint> poly;
    for (int i = 0; i < 33; ++i) {
        double a = i * 2 * 3.14159 / 33;
        poly.emplace_back(0.5 + 0.4 * std::cos(a), 0.5 + 0.4 * std::sin(a), i);
    }
    std::vector<frDoublePoint> out;
    ASSERT_TRUE(Clip(ClipPolygonEvenOdd, poly, out));
    ASSERT_EQ(out.size(), 33u);
    ASSERT_TRUE(Clip(ClipPolygonWinding, poly, out));
    ASSERT_EQ(out.size(), 33u);
    for (int i = 0; i < 33; ++i)
        EXPECT_EQ(out[i].x, poly[(i + 1) % 33].x);
}

TEST(ClipPolygon, ClockwiseTriangleKeepsItsOwnPart)
{
    // A solid drawn clockwise that covers the box's lower-left half and
    // reaches far outside; counter-clockwise corner walks would fill the
    // other half.
    std::vector<frDoublePoint> cw = {{-5, -5}, {-5, 6.2}, {6.2, -5}};
    std::vector<frDoublePoint> out;
    ASSERT_TRUE(Clip(ClipPolygonWinding, cw, out));
    auto n = static_cast<int>(out.size());
    EXPECT_GE(PointInPolygon(0.1, 0.1, 0, out.data(), n), 1);
    EXPECT_EQ(PointInPolygon(0.9, 0.9, 0, out.data(), n), -1);
    ASSERT_TRUE(Clip(ClipPolygonEvenOdd, cw, out));
    n = static_cast<int>(out.size());
    EXPECT_GE(PointInPolygon(0.1, 0.1, 0, out.data(), n), 1);
    EXPECT_EQ(PointInPolygon(0.9, 0.9, 0, out.data(), n), -1);
}

TEST(ClipPolygon, WindingKeepsEachExcursionsOwnWayRound)
{
    // Two excursions: one goes round the top-right corner, the next one
    // round three corners. Remembering each entry as the first would join
    // them the wrong way.
    std::vector<frDoublePoint> poly = {{0.5, 0.5},  {0.5, 1.5},   {1.5, 1.5},  {1.5, 0.5}, {0.7, 0.5},
                                       {0.7, -0.5}, {-0.5, -0.5}, {-0.5, 1.7}, {0.6, 1.7}, {0.6, 0.6}};
    for (bool reverse : {false, true}) {
        auto p = poly;
        if (reverse)
            p.assign(poly.rbegin(), poly.rend());
        std::vector<frDoublePoint> out;
        ASSERT_TRUE(Clip(ClipPolygonWinding, p, out));
        for (double x = 0.05; x < 1; x += 0.1)
            for (double y = 0.05; y < 1; y += 0.1)
                ASSERT_EQ(ReferenceWinding(x, y, out), ReferenceWinding(x, y, p)) << x << "," << y;
    }
}

// ---- polygon clipping: random polygons, both rules, both orientations ---

namespace {

// Every sampled point strictly inside the box must fill the same before and
// after clipping: under both fill rules for the WINDING clipper, under the
// even-odd rule for the ALTERNATE one.
void CheckRandomPolygons(Clipper clip, bool bothRules, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> inside(0.001, 0.999);
    int compared = 0;
    for (int trial = 0; trial < 400; ++trial) {
        auto poly = RandomPolygon(rng, 3 + trial % 10);
        for (bool reverse : {false, true}) {
            auto p = poly;
            if (reverse)
                p.assign(poly.rbegin(), poly.rend());
            std::vector<frDoublePoint> out;
            bool any = Clip(clip, p, out);
            for (int s = 0; s < 60; ++s) {
                double x = inside(rng), y = inside(rng);
                if (NearBoundary(x, y, p))
                    continue;
                int before = ReferenceWinding(x, y, p);
                int after = any ? ReferenceWinding(x, y, out) : 0;
                ++compared;
                if (bothRules) {
                    ASSERT_EQ(after != 0, before != 0) << "trial " << trial << " reverse " << reverse;
                }
                ASSERT_EQ(after % 2 != 0, before % 2 != 0) << "trial " << trial << " reverse " << reverse;
            }
        }
    }
    EXPECT_GT(compared, 40000);
}

}  // namespace

TEST(ClipPolygon, WindingResultFillsAlikeUnderBothRules) { CheckRandomPolygons(ClipPolygonWinding, true, 21); }

TEST(ClipPolygon, EvenOddKeepsEveryInsideParity) { CheckRandomPolygons(ClipPolygonEvenOdd, false, 23); }

TEST(ClipPolyPolygon, DropsHiddenOutlinesAndCompactsTheCounts)
{
    std::vector<frDoublePoint> points = {
        {5, 5},     {6, 5},     {6, 6},                  // wholly outside
        {-1, -1},   {2, -1},    {2, 2},     {-1, 2},     // round the box
        {0.2, 0.2}, {0.4, 0.2}, {0.4, 0.4}, {0.2, 0.4},  // a hole inside
    };
    int counts[3] = {3, 4, 4};
    std::vector<frDoublePoint> out;
    int remaining = -1;
    ASSERT_TRUE(ClipPolyPolygon(XMIN, YMIN, XMAX, YMAX, points.data(), counts, 3, out, remaining));
    ASSERT_EQ(remaining, 2);
    EXPECT_EQ(counts[0], 4);
    EXPECT_EQ(counts[1], 4);
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(out[4].x, 0.4) << "the hole starts with its second point";

    int none[1] = {3};
    EXPECT_FALSE(ClipPolyPolygon(XMIN, YMIN, XMAX, YMAX, points.data(), none, 1, out, remaining));
    EXPECT_EQ(remaining, 0);
}
