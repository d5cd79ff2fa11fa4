#include "trace/ink_guard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <random>
#include <tuple>

#include "model/circle.h"
#include "model/constants.h"
#include "model/entity.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "raster/raster_src.h"
#include "trace/angle_adjust.h"
#include "trace/arc_recognition.h"
#include "trace/connect.h"
#include "trace/series.h"
#include "trace/straighten.h"
#include "trace/trace_option.h"

namespace {

CTraceOption ConnectDistance(int distance)
{
    CTraceOption options;
    options.ChartType.i_ConDis = distance;
    return options;
}

// Pixels within half a pixel (or the given half width) of the world
// segment (x0, y0)-(x1, y1).
void Hairline(CRasterSrc& raster, double x0, double y0, double x1, double y1, double half = 0.5)
{
    const int h = raster.GetHeight();
    const double dx = x1 - x0, dy = y1 - y0, l2 = dx * dx + dy * dy;
    for (int row = 0; row < h; ++row) {
        for (int x = 0; x < raster.GetWidth(); ++x) {
            const double y = h - 1 - row;
            const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / l2, 0.0, 1.0);
            if (std::hypot(x - x0 - t * dx, y - y0 - t * dy) <= half)
                raster.SetPixelBit(x, row, true);
        }
    }
}

// A 100 x 100 page with strokes (x0, y0)-(x1, y1) of the given half width.
struct Stroke {
    double x0, y0, x1, y1;
};
void DrawStrokes(CRasterSrc& raster, std::initializer_list<Stroke> strokes, double half = 1.5)
{
    ASSERT_TRUE(raster.Create(100, 100, 1));
    for (const Stroke& stroke : strokes)
        Hairline(raster, stroke.x0, stroke.y0, stroke.x1, stroke.y1, half);
}

TEST(InkGuard, FindsInkWithinTheReachAndUnderAPointAsAPlainSearchDoes)
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
    // On a page half ink, the pixel under a point is the one whose square
    // holds it.
    CRasterSrc raster;
    ASSERT_TRUE(raster.Create(30, 20, 1));
    std::bernoulli_distribution ink(0.5);
    for (int py = 0; py < 20; ++py)
        for (int px = 0; px < 30; ++px)
            raster.SetPixelBit(px, py, ink(random));
    const CInkGuard guard(raster, CTraceOption());
    std::uniform_real_distribution<double> x(-2, 32), y(-2, 22);
    for (int i = 0; i < 2000; ++i) {
        const frDoublePoint p(x(random), y(random));
        bool under = false;
        for (int py = 0; py < 20; ++py)
            for (int px = 0; px < 30; ++px)
                if (raster.GetPixelIndex(px, py) && std::fabs(px - p.x) < 0.5 && std::fabs(py - (19 - p.y)) < 0.5)
                    under = true;
        ASSERT_EQ(under, guard.IsOnInk(p)) << p.x << "," << p.y;
    }
}

// A segment keeps within the larger of the connect distance and its width,
// less half its width, of an ink pixel's centre.
TEST(InkGuard, ReachIsTheConnectDistanceOrTheStrokeWidthLessHalfTheWidth)
{
    CRasterSrc raster;
    ASSERT_TRUE(raster.Create(100, 100, 1));
    raster.SetPixelBit(50, 49, true);  // world (50, 50)
    const CInkGuard guard(raster, ConnectDistance(5));
    const auto within = [&](double distance, double width) {
        return guard.IsChordNearInk({50 + distance, 50}, {50 + distance, 50}, width);
    };
    EXPECT_TRUE(within(2.7, 4.5));  // 5 - 2.25
    EXPECT_FALSE(within(2.8, 4.5));
    EXPECT_TRUE(within(3.7, 7.5));  // 7.5 - 3.75
    EXPECT_FALSE(within(3.8, 7.5));
}

TEST(InkGuard, AThinStrokeReachesOnePixel)
{
    CRasterSrc raster;
    ASSERT_TRUE(raster.Create(10, 10, 1));
    raster.SetPixelBit(5, 4, true);  // world (5, 5)
    const CInkGuard guard(raster, CTraceOption());
    EXPECT_TRUE(guard.IsOnStroke({5.9, 5}, 0));
    EXPECT_FALSE(guard.IsOnStroke({6.1, 5}, 0));
    EXPECT_TRUE(guard.IsOnStroke({6.4, 5}, 3));
    EXPECT_FALSE(guard.IsOnStroke({6.6, 5}, 3));
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
            EXPECT_EQ(a.x, v->x);  // put back exactly
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

// The reach holds from the stroke's middle: a stroke of width 8 reaches 8
// from its middle, 4 from the hairline drawn there.
TEST_F(InkGuardedAngles, AWideStrokeReachesAsFarAsItsWidthFromItsMiddle)
{
    EXPECT_TRUE(TurnLevel(3.0, 5, 8));
    EXPECT_FALSE(TurnLevel(5.0, 5, 8));
}

// A 3-pixel stroke's ink stands 1.5 off its middle, so its lines keep 3.5
// of the connect distance of 5 from the ink.
TEST_F(InkGuardedAngles, TheConnectDistanceHoldsFromTheStrokesMiddle)
{
    EXPECT_TRUE(TurnLevel(2.5, 5, 3));
    EXPECT_FALSE(TurnLevel(4.5, 5, 3));
}

// A 3-pixel stroke along the arc of radius r about (cx, cy) from a0 to a1
// degrees, on a raster of the given size.
void ArcStroke(CRasterSrc& raster, double cx, double cy, double r, double a0, double a1)
{
    for (double a = a0; a < a1; a += 2) {
        const double b = std::min(a + 2, a1);
        Hairline(raster, cx + r * std::cos(a * DEGREE), cy + r * std::sin(a * DEGREE), cx + r * std::cos(b * DEGREE),
                 cy + r * std::sin(b * DEGREE), 1.5);
    }
}

// Five vertices every 15 degrees on the circle of radius r about (100, 100),
// each with the stroke width given.
bool FitsOnInk(const CRasterSrc& raster, double r, double width)
{
    CPolyLine polyline;
    for (int k = 0; k < 5; ++k) {
        polyline.AddPoint(100 + r * std::cos((30 + 15 * k) * DEGREE), 100 + r * std::sin((30 + 15 * k) * DEGREE));
        polyline.GetTail()->startWidth = width;
    }
    const CInkGuard guard(raster, CTraceOption());
    CCircleFit fit;
    return FitCircleToRun(polyline, polyline.GetHead(), polyline.GetTail(), {2.0, 1000, &guard}, &fit);
}

}  // namespace

// The fit's tolerance of 2 holds from the stroke's middle: on a 3-pixel
// stroke of radius 50 a circle of radius 51 keeps to the ink and one of 52.5
// does not; a hairline trace (no width) may stand the whole tolerance off.
TEST(InkGuardedSteps, AFittedCircleKeepsToTheInkByTheToleranceFromTheStrokesMiddle)
{
    CRasterSrc raster;
    ASSERT_TRUE(raster.Create(200, 200, 1));
    ArcStroke(raster, 100, 100, 50, 0, 120);
    EXPECT_TRUE(FitsOnInk(raster, 51, 3));
    EXPECT_FALSE(FitsOnInk(raster, 52.5, 3));
    EXPECT_TRUE(FitsOnInk(raster, 52.5, 0));
    EXPECT_FALSE(FitsOnInk(raster, 54, 0));
}

// Where the tolerance less half the stroke is below a pixel, a curve may
// still stand a pixel off the ink: a gentle arc 0.7 above a row of ink
// fits, one 1.2 above it does not.
TEST(InkGuardedSteps, AFittedCurveMayStandAPixelOffTheInkAtLeast)
{
    CRasterSrc raster;
    ASSERT_TRUE(raster.Create(300, 100, 1));
    for (int x = 0; x < 300; ++x)
        raster.SetPixelBit(x, 49, true);  // world y = 50
    const CInkGuard guard(raster, CTraceOption());
    for (double above : {0.7, 1.2}) {
        const double r = 20000;
        CPolyLine polyline;
        for (int k = 0; k < 5; ++k) {
            const double dx = -50 + 25 * k;
            polyline.AddPoint(150 + dx, 50 + above + r - std::sqrt(r * r - dx * dx));
            polyline.GetTail()->startWidth = 3;
        }
        CCircleFit fit;
        EXPECT_EQ(FitCircleToRun(polyline, polyline.GetHead(), polyline.GetTail(), {2.0, 1e6, &guard}, &fit), above < 1)
            << above;
    }
}

// Checked against the ink, vertices of a circle of radius 50 may lie apart by
// up to 1.55 times the chord whose sagitta is the tolerance (28 for 2).
TEST(InkGuardedSteps, RunStepsAreNoLongerThanTheLongStepLimit)
{
    CRasterSrc raster;
    ASSERT_TRUE(raster.Create(200, 200, 1));
    ArcStroke(raster, 100, 100, 50, 0, 360);
    const CInkGuard guard(raster, CTraceOption());
    for (double chord : {42.0, 45.0}) {
        const double step = 2 * std::asin(chord / 100);
        CPolyLine polyline;
        for (int k = 0; k < 4; ++k) {
            polyline.AddPoint(100 + 50 * std::cos(0.2 + k * step), 100 + 50 * std::sin(0.2 + k * step));
            polyline.GetTail()->startWidth = 3;
        }
        CCircleFit fit;
        EXPECT_EQ(FitCircleToRun(polyline, polyline.GetHead(), polyline.GetTail(), {2.0, 1000, &guard}, &fit),
                  chord < 43.4)
            << chord;
    }
}

// Two arcs of one circle are merged only where the merged curve has ink.
TEST(InkGuardedSteps, ArcsRejoinOnlyAlongTheirInk)
{
    for (bool inked : {true, false}) {
        CRasterSrc raster;
        ASSERT_TRUE(raster.Create(200, 200, 1));
        ArcStroke(raster, 100, 100, 50, 0, inked ? 180 : 90);
        CLayer layer;
        layer.AddEntity(NewArc({100, 100}, 50, 0, HALF_PI).release());
        layer.AddEntity(NewArc({100, 100}, 50, HALF_PI, PI).release());
        const CInkGuard guard(raster, CTraceOption());
        ASSERT_TRUE(RecognizeCircles(layer, nullptr, 200, RECOGNIZE_AFTER_CENTER_LINE, CTraceOption(), &guard));
        EXPECT_EQ(layer.CountEntities(), inked ? 1 : 2);
    }
}

namespace {

// The two sides of a tip, hairlines from (40, 44) to (50, 50) and from
// (50, 54) to (40, 60) with the tip's end between; their lines cross at
// (53.3, 52), 2.3 off the ink.
void DrawTipSides(CRasterSrc& raster) { DrawStrokes(raster, {{40, 44, 50, 50}, {50, 54, 40, 60}, {50, 50, 50, 54}}); }

// The sides, each traced as one segment of the given width, connected under
// the guard (or without one) into one polyline.
const CPolyLine& JoinTipSides(CLayer& layer, double firstWidth, double secondWidth, const CInkGuard* guard)
{
    for (const auto& [a, b, width] : {std::tuple{frDoublePoint(40, 44), frDoublePoint(50, 50), firstWidth},
                                      std::tuple{frDoublePoint(50, 54), frDoublePoint(40, 60), secondWidth}}) {
        auto polyline = std::make_unique<CPolyLine>();
        polyline->AddPointWidth(a.x, a.y, width);
        polyline->AddPointWidth(b.x, b.y, width);
        layer.AddEntity(polyline.release());
    }
    EXPECT_TRUE(ConnectLines(layer, nullptr, CTraceOption(), guard));
    EXPECT_EQ(layer.CountEntities(), 1);
    return static_cast<const CPolyLine&>(*layer.GetFirstEntity());
}

}  // namespace

// Ends whose lines cross beyond the stroke are bridged, not carried to the
// crossing.
TEST(InkGuardedSteps, JoinedEndsMeetAtTheirCrossingOnlyOnTheStroke)
{
    for (bool guarded : {true, false}) {
        CRasterSrc raster;
        DrawTipSides(raster);
        CLayer layer;
        const CInkGuard guard(raster, CTraceOption());
        const CPolyLine& joined = JoinTipSides(layer, 0, 0, guarded ? &guard : nullptr);
        bool onStroke = true;
        for (const CVertex* v = joined.GetHead(); v; v = v->next == joined.GetHead() ? nullptr : v->next)
            onStroke = onStroke && guard.IsOnStroke({v->x, v->y}, 3);
        EXPECT_EQ(onStroke, guarded);
    }
}

// A corner lies on both strokes, so the thinner end's width decides: two
// wide ends (6) take the crossing; a thin one beside a wide one (a blob that
// measured wide) does not.
TEST(InkGuardedSteps, JoinedEndsMeetOnTheThinnerOfTheirStrokes)
{
    for (auto [first, second] : {std::pair{6.0, 6.0}, std::pair{6.0, 1.0}, std::pair{1.0, 6.0}}) {
        CRasterSrc raster;
        DrawTipSides(raster);
        CLayer layer;
        const CInkGuard guard(raster, CTraceOption());
        const CPolyLine& joined = JoinTipSides(layer, first, second, &guard);
        bool corner = false;
        for (const CVertex* v = joined.GetHead(); v; v = v->next == joined.GetHead() ? nullptr : v->next)
            corner = corner || std::hypot(v->x - 160.0 / 3, v->y - 52) < 1e-6;
        EXPECT_EQ(corner, first == second) << first << " " << second;
    }
}

// A joint half way pulls both lines sideways, so their segments keep to the
// strokes; a corner carries them on along their own lines, so they keep
// within the guard's reach. An L of 3-pixel strokes: (10, 50)-(60, 50) and
// (60, 50)-(60, 90).
TEST(InkGuardedSteps, JointsKeepTheirSegmentsOnTheInk)
{
    CRasterSrc raster;
    DrawStrokes(raster, {{10, 50, 60, 50}, {60, 50, 60, 90}});
    const CInkGuard guard(raster, ConnectDistance(5));
    // A's end (56, 50) and B's end (60, 54) meet at the joint.
    const auto joint = [](CPolyLine::JoinKind kind, frDoublePoint at, double moved = 4, bool closing = false) {
        return CPolyLine::CJoint{kind, at, {56, 50}, {60, 54}, {10, 50}, 3, 0, {60, 85}, 3, 0, moved, closing};
    };
    using Kind = CPolyLine::JoinKind;
    EXPECT_TRUE(JointKeepsToInk(joint(Kind::kCorner, {60, 50}), &guard));
    EXPECT_TRUE(JointKeepsToInk(joint(Kind::kMiddle, {60, 50}), &guard));
    // (60, 53) lies on the upright stroke; the segment from (10, 50) would
    // pass about two pixels off the ink near it.
    EXPECT_FALSE(JointKeepsToInk(joint(Kind::kMiddle, {60, 53}), &guard));
    // The ends of a ring closing on itself that move no farther than half
    // the stroke keep to it.
    EXPECT_TRUE(JointKeepsToInk(joint(Kind::kMiddle, {60, 53}, 1.5, true), &guard));
    // Off the strokes altogether.
    EXPECT_FALSE(JointKeepsToInk(joint(Kind::kCorner, {64, 46}), &guard));
    EXPECT_FALSE(JointKeepsToInk(joint(Kind::kMiddle, {64, 46}), &guard));

    // The level stroke ends at 25: a corner reached across the empty
    // stretch, or a bridge along it, stands off the ink by more than the
    // reach; a short bridge stays within it.
    CRasterSrc gap;
    DrawStrokes(gap, {{10, 50, 25, 50}, {60, 50, 60, 90}});
    const CInkGuard gapGuard(gap, ConnectDistance(5));
    const auto fromGap = [](Kind kind, frDoublePoint bEnd) {
        return CPolyLine::CJoint{kind, {60, 50}, {25, 50}, bEnd, {10, 50}, 3, 0, {60, 85}, 3, 0, 4, false};
    };
    EXPECT_FALSE(JointKeepsToInk(fromGap(Kind::kCorner, {60, 54}), &gapGuard));
    EXPECT_FALSE(JointKeepsToInk(fromGap(Kind::kBridge, {60, 54}), &gapGuard));
    EXPECT_TRUE(JointKeepsToInk(fromGap(Kind::kBridge, {29, 50}), &gapGuard));
    // A bridge 4 pixels past the ink's last pixel is within the reach of a
    // line measured 9 wide (4.5), not of one 3 wide (3.5): it must keep
    // within the reach of both lines it joins.
    const auto widths = [](double fromWidth, double toWidth) {
        return CPolyLine::CJoint{Kind::kBridge, {25, 50}, {25, 50}, {30, 50}, {10, 50}, fromWidth, 0,
                                 {60, 50},      toWidth,  0,        0,        false};
    };
    EXPECT_TRUE(JointKeepsToInk(widths(9, 9), &gapGuard));
    EXPECT_FALSE(JointKeepsToInk(widths(3, 9), &gapGuard));
    EXPECT_FALSE(JointKeepsToInk(widths(9, 3), &gapGuard));

    // The same for B's side: the upright stroke starts at 65.
    CRasterSrc upright;
    DrawStrokes(upright, {{10, 50, 60, 50}, {60, 65, 60, 90}});
    const CInkGuard uprightGuard(upright, ConnectDistance(5));
    const CPolyLine::CJoint corner{Kind::kCorner, {60, 50}, {56, 50}, {60, 65}, {10, 50}, 3, 0,
                                   {60, 85},      3,        0,        4,        false};
    EXPECT_FALSE(JointKeepsToInk(corner, &uprightGuard));
}

// A run whose chord would cut across a bend its vertices skip keeps its
// vertices; the same run over straight ink becomes its chord.
TEST(InkGuardedSteps, StraighteningKeepsAChordThatLeavesTheInk)
{
    for (bool bent : {true, false}) {
        CRasterSrc raster;
        DrawStrokes(raster, {{0, 50, 20, 50}, {40, 50, 60, 50}}, 0.5);
        if (bent) {
            Hairline(raster, 20, 50, 30, 60);
            Hairline(raster, 30, 60, 40, 50);
        } else {
            Hairline(raster, 20, 50, 40, 50);
        }
        const CInkGuard guard(raster, ConnectDistance(5));
        for (const CInkGuard* ink : {&guard, static_cast<const CInkGuard*>(nullptr)}) {
            CPolyLine polyline;
            for (double x : {0.0, 20.0, 40.0, 60.0})
                polyline.AddPoint(x, 50);
            StraightenPolyline(polyline, 0.5, ink);
            EXPECT_EQ(polyline.GetPointCount(), bent && ink ? 4 : 2) << bent << " " << (ink != nullptr);
        }
    }

    // Straight ink from 0 to 60 and a bend after it: the run to 80 gives way
    // to the run to 60, whose chord keeps to the ink.
    CRasterSrc raster;
    DrawStrokes(raster, {{0, 50, 60, 50}, {60, 50, 70, 60}, {70, 60, 80, 50}}, 0.5);
    const CInkGuard guard(raster, ConnectDistance(5));
    CPolyLine polyline;
    for (double x : {0.0, 20.0, 40.0, 60.0, 80.0})
        polyline.AddPoint(x, 50);
    StraightenPolyline(polyline, 0.5, &guard);
    ASSERT_EQ(polyline.GetPointCount(), 3);
    EXPECT_EQ(polyline.GetHead()->next->x, 60.0);
}

// Ends met half way across a junction (as connect forces where a spur goes)
// would pull both lines sideways off their strokes: they are bridged, and
// every segment stays on the ink.
TEST(InkGuardedSteps, EndsMetHalfWayOffTheInkAreBridged)
{
    CRasterSrc raster;
    DrawStrokes(raster, {{10, 50, 40, 50}, {40, 50, 40, 60}, {40, 60, 70, 60}});
    const CInkGuard guard(raster, ConnectDistance(5));
    for (bool guarded : {true, false}) {
        CPolyLine a, b;
        a.AddPointWidth(10, 50, 3);
        a.AddPointWidth(40, 50, 3);
        b.AddPointWidth(40, 60, 3);
        b.AddPointWidth(70, 60, 3);
        a.m_ActiveEnd = 1;
        b.m_ActiveEnd = 0;
        const auto joined = guarded ? a.JoinPolyline(&b, true, CTraceOption(), JointKeepsToInk, &guard)
                                    : a.JoinPolyline(&b, true, CTraceOption());
        ASSERT_TRUE(joined);
        EXPECT_EQ(joined->GetPointCount(), guarded ? 4 : 3);
        bool onStroke = true;
        for (const CVertex* v = joined->GetHead(); v != joined->GetTail(); v = v->next)
            onStroke = onStroke && guard.IsSegmentOnStroke(*v);
        EXPECT_EQ(onStroke, guarded);
    }
}

// A square traced from one corner round to the same corner: a ring whose
// ends stand a little apart closes where they are when meeting half way
// would take the corner off its stroke; ends farther apart stay open.
TEST(InkGuardedSteps, ARingClosesOnItsInkOrStaysOpen)
{
    CRasterSrc raster;
    DrawStrokes(raster, {{20, 20, 80, 20}, {80, 20, 80, 80}, {80, 80, 20, 80}, {20, 80, 20, 20}});
    const CInkGuard guard(raster, ConnectDistance(5));
    for (double gap : {6.0, 10.0}) {
        for (bool guarded : {true, false}) {
            CPolyLine ring;
            ring.AddPointWidth(20 + gap, 20, 3);
            for (const auto& corner : {frDoublePoint(80, 20), frDoublePoint(80, 80), frDoublePoint(20, 80)})
                ring.AddPointWidth(corner.x, corner.y, 3);
            ring.AddPointWidth(20, 20 + gap, 3);
            const auto closed = guarded ? ring.JoinPolyline(&ring, false, CTraceOption(), JointKeepsToInk, &guard)
                                        : ring.JoinPolyline(&ring, false, CTraceOption());
            if (guarded && gap > 6) {
                EXPECT_FALSE(closed);
                EXPECT_EQ(ring.GetPointCount(), 5);
                continue;
            }
            ASSERT_TRUE(closed) << gap << " " << guarded;
            EXPECT_TRUE(closed->m_Closed);
            const CVertex* head = closed->GetHead();
            EXPECT_EQ(closed->GetPointCount(), guarded ? 5 : 4);
            EXPECT_EQ(head->x, guarded ? 26.0 : 20 + gap / 2);
            EXPECT_EQ(head->y, guarded ? 20.0 : 20 + gap / 2);
        }
    }
}

// Ends whose every way of meeting would leave the ink stay apart, and the
// run goes on: a refusal is no shortage of memory.
TEST(InkGuardedSteps, EndsThatCannotMeetOnTheInkStayApart)
{
    CRasterSrc raster;
    DrawStrokes(raster, {{10, 50, 30, 50}, {54, 50, 80, 50}});
    const CInkGuard guard(raster, ConnectDistance(5));
    // Two lines whose facing ends lie off the ink, 4 pixels apart.
    const auto fill = [](CLayer& layer) {
        for (const auto& [a, b] : {std::pair{10.0, 40.0}, std::pair{44.0, 80.0}}) {
            auto polyline = std::make_unique<CPolyLine>();
            polyline->AddPointWidth(a, 50, 3);
            polyline->AddPointWidth(b, 50, 3);
            layer.AddEntity(polyline.release());
        }
    };
    CLayer layer;
    fill(layer);
    EXPECT_TRUE(ConnectLines(layer, nullptr, ConnectDistance(5), &guard));
    EXPECT_EQ(layer.CountEntities(), 2);
    CLayer unguarded;
    fill(unguarded);
    EXPECT_TRUE(ConnectLines(unguarded, nullptr, ConnectDistance(5)));
    EXPECT_EQ(unguarded.CountEntities(), 1);
}
