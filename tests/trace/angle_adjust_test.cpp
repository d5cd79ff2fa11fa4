#include "trace/angle_adjust.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "model/constants.h"
#include "model/line.h"
#include "model/polyline.h"
#include "trace/series.h"

namespace {

struct Pt {
    double x, y;
};

std::unique_ptr<CPolyLine> MakePolyline(const std::vector<Pt>& points, bool closed = false)
{
    auto polyline = std::make_unique<CPolyLine>();
    for (const Pt& p : points)
        polyline->AddPoint(p.x, p.y);
    polyline->m_Closed = closed;
    return polyline;
}

std::vector<Pt> Points(const CPolyLine& polyline)
{
    std::vector<Pt> out;
    for (const CVertex* v = polyline.GetHead(); v; v = v->next == polyline.GetHead() ? nullptr : v->next)
        out.push_back({v->x, v->y});
    return out;
}

Pt Polar(Pt from, double degrees, double length)
{
    return {from.x + length * std::cos(degrees * DEGREE), from.y + length * std::sin(degrees * DEGREE)};
}

double Direction(Pt a, Pt b) { return std::atan2(b.y - a.y, b.x - a.x) / DEGREE; }

CAngleSeries Preset(const char* name)
{
    CAngleSeries series;
    EXPECT_TRUE(series.SetPreset(name));
    return series;
}

// Exactly the same points unless a tolerance is given.
void ExpectPoints(const std::vector<Pt>& expected, const CPolyLine& polyline, double tolerance = 0)
{
    const std::vector<Pt> actual = Points(polyline);
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(expected[i].x, actual[i].x, tolerance) << "vertex " << i;
        EXPECT_NEAR(expected[i].y, actual[i].y, tolerance) << "vertex " << i;
    }
}

TEST(AngleAdjust, SegmentInARangeTakesItsMainAngle)
{
    auto slanted = MakePolyline({{0, 0}, Polar({0, 0}, 29, 100)});
    AdjustAngle(*slanted, Preset("Default"));
    auto p = Points(*slanted);
    EXPECT_NEAR(30.0, Direction(p[0], p[1]), 1e-9);

    // -2 degrees is looked up as 178 like its reverse; both end up level.
    for (double degrees : {-2.0, 178.0}) {
        auto polyline = MakePolyline({{0, 0}, Polar({0, 0}, degrees, 100)});
        AdjustAngle(*polyline, Preset("Default"));
        p = Points(*polyline);
        EXPECT_NEAR(p[0].y, p[1].y, 1e-4) << degrees;
    }
}

TEST(AngleAdjust, EndsSlideAlongTheirGuides)
{
    // Open ends slide across the segment: it turns about its midpoint.
    auto lone = MakePolyline({{0, 0}, {10, 0.5}});
    AdjustAngle(*lone, Preset("Default"));
    ExpectPoints({{-0.0125, 0.25}, {10.0125, 0.25}}, *lone, 1e-12);

    // Inner ends slide along the neighbouring segments.
    auto middle = MakePolyline({{0, 0}, {0, 10}, {10, 10.3}, {10, 0}});
    AdjustAngle(*middle, Preset("Default"));
    ExpectPoints({{0, 0}, {0, 10.15}, {10, 10.15}, {10, 0}}, *middle, 1e-12);

    // A closed ring's closing segment is adjusted too.
    auto ring = MakePolyline({{0, 0}, {20, 0}, {20, 20}, {0.6, 20}}, true);
    AdjustAngle(*ring, Preset("Ortho series"));
    EXPECT_NEAR(0.3, Points(*ring)[0].x, 1e-5);
    EXPECT_NEAR(0.3, Points(*ring)[3].x, 1e-5);
}

TEST(AngleAdjust, FarSlideTurnsTheSegmentAboutItsStart)
{
    // The previous segment is almost parallel to the new direction, so the
    // crossing lies more than 10 up it: the start stays.
    const Pt p{0, 0}, v = Polar(p, 26.9, 50), n = Polar(v, 27.6, 60);
    auto polyline = MakePolyline({p, v, n});
    AdjustAngle(*polyline, Preset("Default"));
    const auto out = Points(*polyline);
    EXPECT_EQ(v.x, out[1].x);
    EXPECT_EQ(v.y, out[1].y);
    EXPECT_NEAR(30.0, Direction(out[1], out[2]), 1e-9);
}

TEST(AngleAdjust, StartSlidesUpToTenAlongTheLevelSegmentBeforeIt)
{
    // After a level segment, one at 28 degrees turned to 30 about its
    // midpoint moves its start along the level line by 0.0349 of its length:
    // 4.2, 7, 9.8, 10.5 and 13 here; beyond 10 the segment turns about its
    // start.
    for (double length : {120.0, 200.0, 280.0, 300.0, 372.0}) {
        const Pt v{100, 0};
        auto polyline = MakePolyline({{0, 0}, v, Polar(v, 28, length)});
        AdjustAngle(*polyline, Preset("Default"));
        const auto out = Points(*polyline);
        EXPECT_EQ(out[1].x != v.x, length < 290) << length;
        EXPECT_EQ(out[1].y, 0.0) << length;
        EXPECT_NEAR(30.0, Direction(out[1], out[2]), 1e-9) << length;
    }
}

TEST(AngleAdjust, CornerIsSnappedWhenTheDirectionMatchesNoItem)
{
    // 40 and -52 degrees match no "Ortho series" item; the corner of 88
    // degrees becomes a right angle, the first segment keeping its line.
    const Pt p{0, 0}, v = Polar(p, 40, 20), n = Polar(v, -52, 20);
    auto polyline = MakePolyline({p, v, n});
    AdjustAngle(*polyline, Preset("Ortho series"));
    const auto out = Points(*polyline);
    EXPECT_NEAR(40.0, Direction(out[0], out[1]), 1e-9);
    EXPECT_NEAR(90.0,
                VectorAngle({out[1].x - out[0].x, out[1].y - out[0].y}, {out[2].x - out[1].x, out[2].y - out[1].y}) /
                    DEGREE,
                1e-5);
}

TEST(AngleAdjust, SegmentsOnTheSeriesAndArcsStayPut)
{
    // The level segment lies on the 0 item; its turn of 61 degrees from the
    // first segment falls into the 60 item, which must not tilt it.
    CAngleSeries series;
    ASSERT_TRUE(series.AddItem({0, 5 * DEGREE, 0}));
    ASSERT_TRUE(series.AddItem({60 * DEGREE, 63 * DEGREE, 57 * DEGREE}));
    ASSERT_TRUE(series.AddItem({PI, PI, 175 * DEGREE}));
    const Pt p{0, 0}, v = Polar(p, -61, 10), n{v.x + 20, v.y};
    auto polyline = MakePolyline({p, v, n});
    AdjustAngle(*polyline, series);
    ExpectPoints({p, v, n}, *polyline);

    auto arcs = MakePolyline({{0, 0}, {10, 0.5}, {20, 0.2}});
    arcs->GetHead()->bulge = arcs->GetHead()->next->bulge = 0.3;
    AdjustAngle(*arcs, Preset("Default"));
    ExpectPoints({{0, 0}, {10, 0.5}, {20, 0.2}}, *arcs);
}

// Staircases of level and upright steps, exact or a few degrees off.
std::unique_ptr<CPolyLine> Staircase(std::mt19937& rng, double noise)
{
    std::uniform_real_distribution<double> length(20, 60), off(-noise, noise);
    std::uniform_int_distribution<int> steps(3, 12), flip(0, 1);
    std::vector<Pt> points{{0, 0}};
    for (int i = steps(rng); i > 0; --i) {
        const double base = i % 2 ? (flip(rng) ? 0 : 180) : (flip(rng) ? 90 : -90);
        const double l = length(rng);
        if (noise == 0)
            points.push_back({points.back().x + l * std::round(std::cos(base * DEGREE)),
                              points.back().y + l * std::round(std::sin(base * DEGREE))});
        else
            points.push_back(Polar(points.back(), base + off(rng), l));
    }
    return MakePolyline(points);
}

TEST(AngleAdjustProperty, AxisAlignedStaircasesAreLeftExactlyAsTheyAre)
{
    std::mt19937 rng(7);
    for (const char* name : {"Default", "Ortho series", "Tinily Adjust"})
        for (int trial = 0; trial < 50; ++trial) {
            auto polyline = Staircase(rng, 0);
            const auto before = Points(*polyline);
            AdjustAngle(*polyline, Preset(name));
            ExpectPoints(before, *polyline);
        }
}

TEST(AngleAdjustProperty, NoisyStaircasesComeOutAxisAligned)
{
    std::mt19937 rng(11);
    const CAngleSeries series = Preset("Ortho series");
    for (int trial = 0; trial < 200; ++trial) {
        auto polyline = Staircase(rng, 3);
        const size_t count = Points(*polyline).size();
        AdjustAngle(*polyline, series);
        const auto out = Points(*polyline);
        ASSERT_EQ(count, out.size());
        for (size_t i = 0; i + 1 < out.size(); ++i) {
            const double d = std::fabs(Direction(out[i], out[i + 1]));
            EXPECT_LT(std::min({d, std::fabs(d - 90), 180 - d}), 1e-4) << "trial " << trial << " segment " << i;
        }
    }
}

}  // namespace
