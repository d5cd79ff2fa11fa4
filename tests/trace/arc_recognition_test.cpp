#include "trace/arc_recognition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/layer.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "trace/common_thread.h"
#include "trace/trace_option.h"

namespace {

// Test geometry in true degrees; the recognised angles carry the error of
// the single-precision PI, hence the 1e-6 tolerances.
constexpr double kDeg = 3.14159265358979323846 / 180;
constexpr double kAngleTolerance = 1e-6;

CTraceOption CentreLineOptions(double maxDis)
{
    CTraceOption options;
    options.i_AutoTraceWhat = TRACE_CENTER_LINE;
    options.ChartType.d_MaxDis = maxDis;
    return options;
}

// Points on a circle from a0 by step (degrees), n of them.
std::vector<frDoublePoint> Arc(double cx, double cy, double r, double a0, double step, int n)
{
    std::vector<frDoublePoint> points;
    for (int i = 0; i < n; ++i) {
        const double a = (a0 + step * i) * kDeg;
        points.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a));
    }
    return points;
}

std::unique_ptr<CPolyLine> MakePolyline(const std::vector<frDoublePoint>& points, bool closed, double width = 0)
{
    auto polyline = std::make_unique<CPolyLine>();
    for (const frDoublePoint& p : points)
        polyline->AddPointWidth(p.x, p.y, width);
    polyline->m_Closed = closed;
    return polyline;
}

std::vector<CEntity*> Entities(const CLayer& layer)
{
    std::vector<CEntity*> out;
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
        out.push_back(e);
    return out;
}

// The ring that begins at head, as a list.
std::vector<CVertex*> Ring(CVertex* head)
{
    std::vector<CVertex*> out;
    for (CVertex* v = head; v && (out.empty() || v != head); v = v->next)
        out.push_back(v);
    return out;
}

class CIdleWorker : public CCommonThread {
protected:
    DWORD Run() override { return 0; }
};

// ---- whole polylines --------------------------------------------------------

TEST(CircleRecognition, ClosedRingBecomesOneCircleWithMeanWidth)
{
    // 40 vertices of radius 20 are 9 degrees apart; the tolerance must let
    // steps that short pass (0.3 of the chord whose sagitta it is). No
    // vertex sits at angle 0, where the direction read from the first two
    // vertices would hang on rounding.
    const CTraceOption options = CentreLineOptions(0.2);
    auto polyline = MakePolyline(Arc(50, 60, 20, 4.5, 9, 40), true);
    int i = 0;
    for (CVertex* v : Ring(polyline->GetHead()))
        v->startWidth = (i++ % 2) ? 2.0 : 1.0;
    CLayer layer;
    layer.AddEntity(polyline.release());

    ASSERT_TRUE(RecognizeCircles(layer, nullptr, 1000, RECOGNIZE_AFTER_CENTER_LINE, options));
    const auto entities = Entities(layer);
    ASSERT_EQ(entities.size(), 1u);
    ASSERT_EQ(entities[0]->m_Type, ENTITY_CIRCLE);
    const auto* circle = static_cast<const CCircle*>(entities[0]);
    EXPECT_NEAR(circle->m_Centre.x, 50, 1e-6);
    EXPECT_NEAR(circle->m_Centre.y, 60, 1e-6);
    EXPECT_NEAR(circle->m_Radius, 20, 1e-6);
    EXPECT_DOUBLE_EQ(circle->GetWidth(), 1.5);
}

// Whether a closed ring of n vertices on a circle comes out as one circle.
bool RingIsCircle(double r, int n, double maxDis, double a0 = 4.5, double width = 0)
{
    CLayer layer;
    layer.AddEntity(MakePolyline(Arc(500, 500, r, a0, 360.0 / n, n), true, width).release());
    if (!RecognizeCircles(layer, nullptr, 1000, RECOGNIZE_AFTER_CENTER_LINE, CentreLineOptions(maxDis)))
        return false;
    const auto entities = Entities(layer);
    return entities.size() == 1 && entities[0]->m_Type == ENTITY_CIRCLE;
}

TEST(CircleRecognition, RegularPolygonsWhoseSidesLeaveTheCircleStayPolygons)
{
    // The corners lie on a circle, the middles of the sides do not: a
    // square of side 24, hexagons and octagons whose sides stand off by more
    // than the tolerance (2) or 0.0618 of the radius.
    EXPECT_FALSE(RingIsCircle(12 * std::sqrt(2.0), 4, 2.0, 45));
    EXPECT_FALSE(RingIsCircle(28, 6, 2.0, 0));
    EXPECT_FALSE(RingIsCircle(28, 8, 2.0, 22.5));
    EXPECT_FALSE(RingIsCircle(40, 8, 2.0, 22.5));
    EXPECT_FALSE(RingIsCircle(56, 8, 1.5, 22.5));
    // A wide stroke widens the tolerance: an octagon of radius 28 drawn 6 wide.
    EXPECT_TRUE(RingIsCircle(28, 8, 2.0, 22.5, 6.0));
    // Circles of the same sizes, in as many vertices as tracing leaves.
    EXPECT_TRUE(RingIsCircle(17, 12, 2.0));
    EXPECT_TRUE(RingIsCircle(28, 16, 2.0));
    EXPECT_TRUE(RingIsCircle(56, 24, 1.5));
    // An octagon within the tolerance is as round as the trace can tell.
    EXPECT_TRUE(RingIsCircle(16, 8, 2.0, 22.5));
}

TEST(CircleRecognition, FitLimitsHoldOnEachSideOfTheirBoundaries)
{
    // Radius: 2.4 never, 2.6 yes.
    EXPECT_FALSE(RingIsCircle(2.4, 10, 0.2));
    EXPECT_TRUE(RingIsCircle(2.6, 10, 0.2));
    // Steps: with tolerance 0.1 on radius 100 the chord whose sagitta is the
    // tolerance is 8.94; steps may run from 0.3 to 1.55 of it (2.68 to 13.86).
    EXPECT_TRUE(RingIsCircle(100, 52, 0.1));    // 12.07
    EXPECT_FALSE(RingIsCircle(100, 32, 0.1));   // 19.6
    EXPECT_TRUE(RingIsCircle(100, 180, 0.1));   // 3.49
    EXPECT_FALSE(RingIsCircle(100, 360, 0.1));  // 1.75
    // The sample vertices (here the first) must lie within 0.0618 of the
    // radius, even where the stroke's width lets the walk pass: an open arc
    // whose first vertex stands out by 0.05 of the radius is one arc, by 0.2
    // it is not.
    for (double out : {2.5, 10.0}) {
        CLayer layer;
        auto arc = MakePolyline(Arc(500, 500, 50, 0, 10, 19), false, 12.0);
        arc->GetHead()->x += out;
        layer.AddEntity(arc.release());
        ASSERT_TRUE(RecognizeCircles(layer, nullptr, 1000, RECOGNIZE_AFTER_CENTER_LINE, CentreLineOptions(0.5)));
        EXPECT_EQ(Entities(layer)[0]->m_Type == ENTITY_ARC, out < 3) << out;
    }
}

TEST(CircleRecognition, OpenRunOverThreeHundredFiftyFiveDegreesIsACircleElseAnArc)
{
    const CTraceOption options = CentreLineOptions(1.0);
    CLayer layer;
    layer.AddEntity(MakePolyline(Arc(0, 0, 20, 2, 356.0 / 24, 25), false, 0.5).release());
    layer.AddEntity(MakePolyline(Arc(100, 0, 20, 2, 354.0 / 24, 25), false, 0.5).release());
    layer.AddEntity(MakePolyline(Arc(0, 0, 20, 100, -15, 7), false).release());  // clockwise, 100 to 10
    ASSERT_TRUE(RecognizeCircles(layer, nullptr, 1000, RECOGNIZE_AFTER_OUTLINE, options));

    const auto entities = Entities(layer);
    ASSERT_EQ(entities.size(), 3u);
    // Each went to the front, so the last one comes first.
    ASSERT_EQ(entities[2]->m_Type, ENTITY_CIRCLE);
    ASSERT_EQ(entities[1]->m_Type, ENTITY_ARC);
    const auto* arc = static_cast<const CArc*>(entities[1]);
    EXPECT_NEAR(arc->m_StartAngle, 2 * kDeg, kAngleTolerance);
    EXPECT_NEAR(arc->m_EndAngle, 356 * kDeg, kAngleTolerance);
    EXPECT_DOUBLE_EQ(arc->GetWidth(), 0.5);
    ASSERT_EQ(entities[0]->m_Type, ENTITY_ARC);
    const auto* clockwise = static_cast<const CArc*>(entities[0]);
    EXPECT_NEAR(clockwise->m_StartAngle, 10 * kDeg, kAngleTolerance);
    EXPECT_NEAR(clockwise->m_EndAngle, 100 * kDeg, kAngleTolerance);
}

// ---- runs inside polylines ---------------------------------------------------

TEST(CircleRunRecognition, QuarterCircleAfterStraightPartBecomesOneBulgeSegment)
{
    std::vector<frDoublePoint> points{{-40, 20}, {-20, 20}};
    for (const frDoublePoint& p : Arc(0, 0, 20, 90, -15, 7))
        points.push_back(p);
    auto owned = MakePolyline(points, false, 1.0);
    CPolyLine* polyline = owned.get();
    CLayer layer;
    layer.AddEntity(owned.release());
    ASSERT_TRUE(RecognizeCircles(layer, nullptr, 1000, RECOGNIZE_AFTER_OUTLINE, CentreLineOptions(0.5)));

    ASSERT_EQ(layer.GetFirstEntity(), polyline);
    const auto ring = Ring(polyline->GetHead());
    ASSERT_EQ(ring.size(), 4u);
    EXPECT_NEAR(ring[2]->x, 0, 1e-6);
    EXPECT_NEAR(ring[2]->bulge, -std::tan(22.5 * kDeg), 1e-9);  // clockwise quarter
    EXPECT_DOUBLE_EQ(ring[2]->startWidth, 1.0);
    EXPECT_FALSE(polyline->IsAllStraight());
    EXPECT_EQ(polyline->GetFlatStep(), -25.0);
    EXPECT_EQ(Ring(polyline->GetFlatHead()).size(), 3u + 25);
}

TEST(CircleRunRecognition, CircularStretchAcrossTheHeadIsNotSplit)
{
    // A "D": an arc from 10 to 170 degrees whose middle vertex is the head,
    // closed by a straight side.
    std::vector<frDoublePoint> points = Arc(0, 0, 20, 90, 20, 5);  // 90..170
    const double y = 20 * std::sin(10 * kDeg);
    points.push_back({0, y});
    for (const frDoublePoint& p : Arc(0, 0, 20, 10, 20, 4))
        points.push_back(p);  // 10..70
    auto polyline = MakePolyline(points, true);
    ASSERT_EQ(RecognizeCircles(*polyline, 1000, RECOGNIZE_OUTER_OUTLINE, CentreLineOptions(1.0)), RECOGNIZE_DONE);

    const auto ring = Ring(polyline->GetHead());
    ASSERT_EQ(ring.size(), 3u);
    const CVertex* start = *std::find_if(ring.begin(), ring.end(), [](const CVertex* v) { return v->bulge != 0; });
    EXPECT_NEAR(start->x, 20 * std::cos(10 * kDeg), 1e-9);
    EXPECT_NEAR(start->y, y, 1e-9);
    EXPECT_NEAR(start->bulge, std::tan(40 * kDeg), 1e-6);  // 160 degrees, counter-clockwise
    EXPECT_NEAR(start->next->x, -20 * std::cos(10 * kDeg), 1e-9);
}

// ---- polygon-set outlines ----------------------------------------------------

TEST(OutlineCircleRecognition, FullCircleOutlineBecomesTwoHalfCircles)
{
    CPolyPolygon polygon;
    ASSERT_TRUE(polygon.AddOutline(MakePolyline(Arc(0, 0, 20, 5, 30, 12), true)));
    ASSERT_EQ(RecognizeCircles(polygon, 1000, CentreLineOptions(1.0)), RECOGNIZE_DONE);
    const auto ring = Ring(polygon.GetOutline(0)->GetHead());
    ASSERT_EQ(ring.size(), 2u);
    EXPECT_NEAR(ring[1]->x - ring[0]->x, 40, 1e-9);
    EXPECT_EQ(ring[0]->bulge, 1);
    EXPECT_EQ(ring[1]->bulge, 1);
    EXPECT_TRUE(polygon.m_Modified);
}

TEST(OutlineCircleRecognition, RunAllRoundFromAnotherVertexGivesHalfCircles)
{
    // The head sits just below 360 degrees: read from the head the ring
    // seems to turn clockwise by a whole turn and fails; the run from the
    // next vertex goes all the way round (a null chord). 22 vertices, so that
    // no fit on the way has two parallel bisectors.
    auto polyline = MakePolyline(Arc(0, 0, 20, -0.1, 360.0 / 22, 22), true);
    ASSERT_EQ(RecognizeCircles(*polyline, 1000, RECOGNIZE_HOLE_OUTLINE, CentreLineOptions(1.0)), RECOGNIZE_DONE);
    const auto ring = Ring(polyline->GetHead());
    ASSERT_EQ(ring.size(), 2u);
    for (const CVertex* v : ring)
        EXPECT_EQ(v->bulge, -1);
    EXPECT_NEAR(std::fabs(ring[0]->x - ring[1]->x), 40, 1e-6);
}

TEST(OutlineCircleRecognition, LoopClosingOnItselfInsideAnOutlineTakesTwoHalfCircles)
{
    // A circle traced from P round to a point 1e-7 from P, with a spur out
    // of P: the run's chord is too short for a bulge.
    const double a = 30 * kDeg;
    const frDoublePoint p(20 * std::cos(a), 20 * std::sin(a));
    const frDoublePoint out(p.x + 15 * std::cos(a), p.y + 15 * std::sin(a));
    const frDoublePoint side(-3 * std::sin(a), 3 * std::cos(a));
    std::vector<frDoublePoint> points{{out.x + side.x, out.y + side.y}, p};
    for (const frDoublePoint& q : Arc(0, 0, 20, 30 + 360.0 / 22, 360.0 / 22, 21))
        points.push_back(q);
    points.push_back({p.x + 1e-7, p.y});
    points.push_back({out.x - side.x, out.y - side.y});
    auto polyline = MakePolyline(points, true);
    ASSERT_EQ(RecognizeCircles(*polyline, 1000, RECOGNIZE_OUTER_OUTLINE, CentreLineOptions(1.0)), RECOGNIZE_DONE);

    const auto ring = Ring(polyline->GetHead());
    ASSERT_EQ(ring.size(), 5u);
    EXPECT_EQ(ring[0]->bulge, 0);
    EXPECT_NEAR(ring[1]->x, p.x, 1e-12);
    EXPECT_EQ(ring[1]->bulge, 1);
    EXPECT_NEAR(ring[2]->x, -p.x, 1e-5);  // opposite P about the fitted centre
    EXPECT_NEAR(ring[2]->y, -p.y, 1e-5);
    EXPECT_EQ(ring[2]->bulge, 1);
    EXPECT_NEAR(ring[3]->x, p.x + 1e-7, 1e-12);
    EXPECT_EQ(ring[3]->bulge, 0);
    const CVertex* flat = polyline->GetFlatHead();
    ASSERT_NE(flat, nullptr);
    do {
        ASSERT_TRUE(std::isfinite(flat->x) && std::isfinite(flat->y));
        flat = flat->next;
    } while (flat != polyline->GetFlatHead());
}

// Noisy circles, spurs and pinches: every ring stays linked and every bulge
// finite, whatever the mode.
TEST(OutlineCircleRecognition, RandomRingsKeepSoundGeometry)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    int changed = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<frDoublePoint> points;
        const int pieces = 1 + round % 4;
        for (int k = 0; k < pieces; ++k) {
            const double r = 3 + unit(random) * 30, step = 8 + unit(random) * 30;
            const int n = 2 + static_cast<int>(unit(random) * 360 / step);
            for (frDoublePoint q : Arc(unit(random) * 10, unit(random) * 10, r, unit(random) * 360, step, n)) {
                q.x += (unit(random) - 0.5) * 0.6;
                q.y += (unit(random) - 0.5) * 0.6;
                points.push_back(q);
            }
            if (unit(random) < 0.3)
                points.push_back({points.front().x + 1e-7, points.front().y});
        }
        const bool closed = round % 3 != 0;
        auto polyline = MakePolyline(points, closed, unit(random));
        const int mode = closed ? (round % 2 ? RECOGNIZE_OUTER_OUTLINE : RECOGNIZE_HOLE_OUTLINE) : 0;
        CLayer layer;
        CPolyLine* kept = polyline.get();
        if (mode == 0)
            layer.AddEntity(polyline.release());
        ASSERT_EQ(RecognizeCircles(*kept, 1000, mode, CentreLineOptions(0.3 + unit(random))), RECOGNIZE_DONE);
        for (CVertex* v : Ring(kept->GetHead())) {
            ASSERT_EQ(v->next->prev, v);
            ASSERT_TRUE(std::isfinite(v->bulge) && std::isfinite(v->x) && std::isfinite(v->y)) << round;
        }
        if (mode != 0) {
            EXPECT_GE(kept->GetPointCount(), 2) << round;
        }
        changed += kept->GetPointCount() < static_cast<int>(points.size());
    }
    EXPECT_GT(changed, 100);  // most rounds recognise something
}

// ---- the layer command and rejoining -----------------------------------------

TEST(CircleRecognitionLayer, HalfCirclesRejoinIntoOneCircleWhenConnecting)
{
    CTraceOption options = CentreLineOptions(1.0);
    options.ChartType.b_Connect = true;
    options.ChartType.i_ConDis = 2;
    CLayer layer;
    layer.AddEntity(MakePolyline(Arc(0, 0, 20, 5, 15, 13), false, 1.0).release());    // 5..185
    layer.AddEntity(MakePolyline(Arc(0, 0, 20, 185, 15, 13), false, 2.0).release());  // 185..365
    ASSERT_TRUE(RecognizeCircles(layer, nullptr, 1000, RECOGNIZE_AFTER_CENTER_LINE, options));
    auto entities = Entities(layer);
    ASSERT_EQ(entities.size(), 1u);
    ASSERT_EQ(entities[0]->m_Type, ENTITY_CIRCLE);
    EXPECT_NEAR(static_cast<CCircle*>(entities[0])->m_Radius, 20, 1e-6);
    EXPECT_DOUBLE_EQ(entities[0]->GetWidth(), 1.5);
}

TEST(CircleRecognitionLayer, StopLeavesEveryEntityOnTheLayer)
{
    CIdleWorker worker;
    worker.RequestStop();
    CLayer layer;
    layer.AddEntity(MakePolyline({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 20}}, false).release());
    layer.AddEntity(MakePolyline(Arc(0, 0, 20, 0, 30, 12), true).release());
    EXPECT_FALSE(RecognizeCircles(layer, &worker, 1000, RECOGNIZE_AFTER_CENTER_LINE, CentreLineOptions(1.0)));
    EXPECT_EQ(worker.GetRunResult(), RUN_STOPPED);
    for (CEntity* e : Entities(layer))
        EXPECT_EQ(e->m_Type, ENTITY_POLYLINE);
    EXPECT_EQ(Entities(layer).size(), 2u);
}

std::unique_ptr<CArc> MakeArc(double cx, double cy, double r, double a1, double a2, double width = 0)
{
    auto arc = NewArc({cx, cy}, r, a1 * kDeg, a2 * kDeg);
    arc->SetWidth(width);
    return arc;
}

// The rejoining as a plain scan of every later arc, for comparison.
struct CCurve {
    bool circle;
    double cx, cy, r, a1, a2, width;
};

std::vector<CCurve> ReferenceRejoin(const std::vector<CArc*>& arcs, const CTraceOption& options)
{
    std::vector<CCurve> front;  // replacements, newest first
    std::vector<bool> gone(arcs.size(), false);
    std::vector<std::unique_ptr<CArc>> owned;
    for (std::size_t i = 0; i < arcs.size(); ++i) {
        if (gone[i])
            continue;
        const CArc* a = arcs[i];
        bool merged = false;
        CCurve last{};
        for (std::size_t j = i + 1; j < arcs.size(); ++j) {
            if (gone[j])
                continue;
            frDoublePoint c;
            double r = 0, s = 0, e = 0;
            if (!a->MatchForMerge(*arcs[j], &c, &r, &s, &e, options))
                continue;
            gone[i] = gone[j] = true;
            const double width = (a->GetWidth() + arcs[j]->GetWidth()) * 0.5;
            merged = true;
            if (std::fabs(s - e) <= 1e-10) {
                last = {true, c.x, c.y, std::fabs(r), 0, 0, width};
                break;
            }
            owned.push_back(NewArc(c, r, s, e));
            owned.back()->SetWidth(width);
            a = owned.back().get();
            last = {false, a->m_Centre.x, a->m_Centre.y, a->m_Radius, a->m_StartAngle, a->m_EndAngle, width};
        }
        if (merged)
            front.insert(front.begin(), last);
    }
    for (std::size_t i = 0; i < arcs.size(); ++i)
        if (!gone[i])
            front.push_back({false, arcs[i]->m_Centre.x, arcs[i]->m_Centre.y, arcs[i]->m_Radius, arcs[i]->m_StartAngle,
                             arcs[i]->m_EndAngle, arcs[i]->GetWidth()});
    return front;
}

TEST(ArcRejoining, IndexedSearchMatchesThePlainScan)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    std::size_t merges = 0;
    for (int round = 0; round < 40; ++round) {
        CTraceOption options;
        options.ChartType.i_ConDis = 1 + round % 3;
        // Pieces of a few circles, some of them near each other, shuffled.
        std::vector<std::unique_ptr<CArc>> pieces;
        const int circles = 1 + round % 5;
        for (int c = 0; c < circles; ++c) {
            const double cx = std::floor(unit(random) * 60), cy = std::floor(unit(random) * 60);
            const double r = 10 + std::floor(unit(random) * 30);
            double a = unit(random) * 360;
            const double stop = a + (unit(random) < 0.5 ? 360 : 180 + unit(random) * 170);
            while (a < stop - 1) {
                const double b = std::min(stop, a + 20 + unit(random) * 100);
                pieces.push_back(MakeArc(cx, cy, r + unit(random) * 0.4, a, b, std::floor(unit(random) * 4)));
                a = b + (unit(random) < 0.2 ? unit(random) * 3 : 0);
            }
        }
        std::shuffle(pieces.begin(), pieces.end(), random);
        CLayer layer;
        std::vector<CArc*> order;
        for (auto& piece : pieces) {
            order.push_back(piece.get());
            layer.AddEntity(piece.release());
        }
        const std::vector<CCurve> expected = ReferenceRejoin(order, options);
        ASSERT_TRUE(RejoinRecognizedArcs(layer, nullptr, options));

        const auto entities = Entities(layer);
        ASSERT_EQ(entities.size(), expected.size()) << "round " << round;
        merges += order.size() - entities.size();
        for (std::size_t i = 0; i < entities.size(); ++i) {
            const auto* curve = static_cast<const CCircle*>(entities[i]);
            const CCurve& want = expected[i];
            ASSERT_EQ(entities[i]->m_Type, want.circle ? ENTITY_CIRCLE : ENTITY_ARC) << "round " << round;
            EXPECT_EQ(curve->m_Centre.x, want.cx);
            EXPECT_EQ(curve->m_Radius, want.r);
            EXPECT_EQ(curve->GetWidth(), want.width);
            if (!want.circle) {
                EXPECT_EQ(static_cast<const CArc*>(curve)->m_EndAngle, want.a2);
            }
        }
    }
    EXPECT_GT(merges, 100u);  // the rounds exercise merging, not just misses
}

}  // namespace
