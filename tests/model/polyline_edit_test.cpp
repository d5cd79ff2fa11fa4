#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "model/undo.h"
#include "trace/trace_option.h"

namespace {

struct Pt {
    double x, y, bulge = 0, startWidth = 0, endWidth = 0;
};

std::unique_ptr<CPolyLine> MakePolyline(const std::vector<Pt>& points, bool closed = false)
{
    auto poly = std::make_unique<CPolyLine>();
    for (const Pt& p : points) {
        auto* v = new CVertex(p.x, p.y, p.startWidth, p.endWidth, 0);
        v->bulge = p.bulge;
        EXPECT_TRUE(poly->AddVertex(v, true));
    }
    poly->m_Closed = closed;
    return poly;
}

// Every field of every vertex, head first.
void ExpectPoints(const CPolyLine& poly, const std::vector<Pt>& expected)
{
    ASSERT_EQ(poly.GetPointCount(), static_cast<int>(expected.size()));
    const CVertex* v = poly.GetHead();
    for (std::size_t i = 0; i < expected.size(); ++i, v = v->next) {
        const Pt& e = expected[i];
        const double got[] = {v->x, v->y, v->bulge, v->startWidth, v->endWidth};
        const double want[] = {e.x, e.y, e.bulge, e.startWidth, e.endWidth};
        for (int f = 0; f < 5; ++f)
            EXPECT_NEAR(got[f], want[f], 1e-9) << "vertex " << i << " field " << f;
    }
}

CTraceOption OptionsWithConnectDistance(int distance)
{
    CTraceOption options;
    options.ChartType.i_ConDis = distance;
    return options;
}

std::vector<CGripRecord> GripsOf(CPolyLine& poly)
{
    CGripRecord* head = nullptr;
    poly.AddGrips(nullptr, &head);
    std::vector<CGripRecord> out;
    while (head) {
        out.insert(out.begin(), *head);  // newest first in the list
        CGripRecord* next = head->next;
        delete head;
        head = next;
    }
    return out;
}

const double kQuarter = std::tan(PI / 8);  // bulge of a quarter circle

}  // namespace

// ---- joining and closing --------------------------------------------------

TEST(PolyLineJoin, ParallelEndsMeetHalfWayAndTheOuterEndLinksMove)
{
    CConnectEnd aHead, aTail, bHead, bTail;
    auto a = MakePolyline({{0, 0}, {10, 0}});
    auto b = MakePolyline({{10, 0.5}, {20, 0.5}});
    a->m_StartLink = &aHead;
    a->m_EndLink = &aTail;
    b->m_StartLink = &bHead;
    b->m_EndLink = &bTail;
    a->m_ActiveEnd = 1;
    auto joined = a->JoinPolyline(b.get(), false, OptionsWithConnectDistance(5));
    ASSERT_NE(joined, nullptr);
    ExpectPoints(*joined, {{0, 0}, {10, 0.25}, {20, 0.5}});
    EXPECT_TRUE(a->m_Joined && b->m_Joined);
    EXPECT_EQ(a->GetHead(), nullptr);
    EXPECT_EQ(joined->m_EndLink, &bTail);
    EXPECT_TRUE(aHead.entity == joined.get() && aHead.end == 0);
    EXPECT_TRUE(bTail.entity == joined.get() && bTail.end == 1);
    EXPECT_TRUE(a->m_StartLink == nullptr && b->m_EndLink == nullptr);
}

TEST(PolyLineJoin, PerpendicularStrokesMeetAtTheCornerAndDistantOnesAreBridged)
{
    const CTraceOption options = OptionsWithConnectDistance(5);
    // A runs right to (9,0); B runs up from (10,1): their lines cross at (10,0).
    // A's active end is its head and B's its tail, so both are turned first.
    auto a = MakePolyline({{9, 0, 0, 2}, {0, 0}});
    auto b = MakePolyline({{10, 10, 0, 3}, {10, 1}});
    a->m_ActiveEnd = 0;
    b->m_ActiveEnd = 1;
    auto joined = a->JoinPolyline(b.get(), false, options);
    ASSERT_NE(joined, nullptr);
    ExpectPoints(*joined, {{0, 0, 0, 2}, {10, 0, 0, 3}, {10, 10}});

    // Ends beyond the connect distance are bridged unless the midpoint is forced.
    for (bool force : {false, true}) {
        a = MakePolyline({{0, 0}, {10, 0}});
        b = MakePolyline({{10, 6}, {10, 20}});
        a->m_ActiveEnd = 1;
        joined = a->JoinPolyline(b.get(), force, OptionsWithConnectDistance(1));
        ASSERT_NE(joined, nullptr);
        if (force) {
            ExpectPoints(*joined, {{0, 0}, {10, 3}, {10, 20}});
        } else {
            ExpectPoints(*joined, {{0, 0}, {10, 0}, {10, 6}, {10, 20}});
        }
    }
}

TEST(PolyLineJoin, CornerOnBothNeighbouringVerticesLeavesNoNullSegment)
{
    // A's last segment and B's first both run through (0, 0), the vertex
    // before A's end and after B's head: the corner is that one vertex, and
    // it begins B's next segment with that segment's width.
    auto a = MakePolyline({{0, -20, 0, 3}, {0, 0, 0, 4}, {3, -5}});
    auto b = MakePolyline({{-4, -6, 0, 7}, {0, 0, 0, 9}, {0, 20}});
    a->m_ActiveEnd = 1;
    b->m_ActiveEnd = 0;
    auto joined = a->JoinPolyline(b.get(), false, OptionsWithConnectDistance(5));
    ASSERT_NE(joined, nullptr);
    ExpectPoints(*joined, {{0, -20, 0, 3}, {0, 0, 0, 9}, {0, 20}});
}

TEST(PolyLineJoin, SelfJoinClosesAtTheMidpointAndTwoVerticesAreRefused)
{
    CConnectEnd head, tail;
    auto a = MakePolyline({{0, 0}, {10, 0}, {10, 10}, {1, 1}});
    a->m_StartLink = &head;
    a->m_EndLink = &tail;
    head.entity = tail.entity = a.get();
    auto closed = a->JoinPolyline(a.get(), false, OptionsWithConnectDistance(5));
    ASSERT_NE(closed, nullptr);
    EXPECT_TRUE(closed->m_Closed);
    ExpectPoints(*closed, {{0.5, 0.5}, {10, 0}, {10, 10}});
    EXPECT_TRUE(head.entity == nullptr && tail.entity == nullptr);
}

TEST(PolyLineJoin, TheJointStartsAFreshSegmentWhateverAsOldEndCarried)
{
    // Too far apart to meet: the joint stays at A's end and bridges to B.
    auto a = MakePolyline({{0, 0}, {10, 0, 0.4, 8, 9}});
    auto b = MakePolyline({{10, 6, 0, 2, 3}, {10, 20}});
    CVertex* end = a->GetTail();
    end->z = 5;
    end->flags = 3;
    end->mark = 7;
    CVertex flat;
    end->source = &flat;
    a->m_ActiveEnd = 1;
    auto joined = a->JoinPolyline(b.get(), false, OptionsWithConnectDistance(1));
    ASSERT_NE(joined, nullptr);
    ExpectPoints(*joined, {{0, 0}, {10, 0, 0, 2}, {10, 6, 0, 2, 3}, {10, 20}});
    const CVertex* joint = joined->GetHead()->next;
    EXPECT_EQ(joint->z, 0);
    EXPECT_EQ(joint->flags, 0);
    EXPECT_EQ(joint->mark, 0);
    EXPECT_EQ(joint->source, nullptr);
    EXPECT_TRUE(joined->IsAllStraight());
}

TEST(PolyLineJoin, RefusalsLeaveTwoVerticesAndPointsAloneAndMarkOtherClasses)
{
    auto two = MakePolyline({{0, 0}, {10, 0}});
    auto point = MakePolyline({{20, 0}});
    EXPECT_EQ(two->JoinPolyline(two.get(), false), nullptr);
    EXPECT_EQ(two->JoinPolyline(point.get(), false), nullptr);
    EXPECT_EQ(two->JoinPolyline(nullptr, false), nullptr);
    EXPECT_FALSE(two->m_Joined);

    struct CStroke : CEntity {
        CStroke() { m_Type = ENTITY_LINE; }
        [[nodiscard]] bool IsDegenerate() const override { return false; }
    } stroke;
    EXPECT_EQ(two->JoinPolyline(&stroke, false), nullptr);
    EXPECT_TRUE(two->m_Joined);
    EXPECT_TRUE(stroke.m_Joined);
}

TEST(PolyLineAutoClose, CoincidentEndsDropTheTailNearOnesKeepIt)
{
    const CTraceOption options = OptionsWithConnectDistance(5);
    // Tail x, whether it closes, vertices left.
    for (auto [x, closes, count] : {std::tuple{0.0, true, 3}, {3.0, true, 4}, {6.0, false, 4}}) {
        auto poly = MakePolyline({{0, 0}, {10, 0}, {10, 10}, {x, 0}});
        poly->AutoClose(options);
        EXPECT_EQ(poly->m_Closed, closes) << x;
        EXPECT_EQ(poly->GetPointCount(), count) << x;
    }
}

TEST(PolyLineSplice, SplicedArcsClearTheStraightFlag)
{
    auto a = MakePolyline({{0, 0}, {10, 0}}, true);
    auto b = MakePolyline({{20, 0, 0.5}, {30, 0}});
    a->SpliceRing(*b);
    EXPECT_FALSE(a->IsAllStraight());
    EXPECT_EQ(a->GetTail()->next, a->GetHead());
    EXPECT_EQ(b->GetHead(), nullptr);
}

// ---- reverse --------------------------------------------------------------

TEST(PolyLineReverse, ClosedRingKeepsEachSegmentsWidthAndArcAndTwiceGivesBackTheOriginal)
{
    // Segments: (0,0)->(10,0) width 1 arc 0.3; (10,0)->(10,10) width 2;
    // closing (10,10)->(0,0) width 3 arc -0.2.
    auto poly = MakePolyline({{0, 0, 0.3, 1}, {10, 0, 0, 2}, {10, 10, -0.2, 3}}, true);
    const double length = poly->GetLength();
    poly->Reverse();
    ExpectPoints(*poly, {{10, 10, 0, 2}, {10, 0, -0.3, 1}, {0, 0, 0.2, 3}});
    EXPECT_EQ(poly->m_ActiveEnd, 1u);
    EXPECT_NEAR(poly->GetLength(), length, 1e-9);

    const std::vector<Pt> open = {{0, 0, 0.3, 1, 1.5}, {10, 0, 0, 2}, {10, 10, -0.2, 3}, {0, 10, 0.7, 4, 5}};
    poly = MakePolyline(open);
    poly->Reverse();
    poly->Reverse();
    ExpectPoints(*poly, open);
}

TEST(PolyLineReverse, RandomRingsMatchTheirSegmentsRunBackwards)
{
    // Reversed, old vertex i begins the segment back to vertex i-1 (the
    // closing or unused record for vertex 0): it takes that segment's widths
    // and its bulge negated; coordinates and the other fields stay put.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> coordinate(-50, 50), width(0, 4);
    for (int round = 0; round < 200; ++round) {
        const int count = 1 + round % 7;
        const bool closed = round % 2 == 1;
        std::vector<CVertex> before(static_cast<std::size_t>(count));
        auto poly = std::make_unique<CPolyLine>();
        for (CVertex& r : before) {
            r.x = coordinate(random);
            r.y = coordinate(random);
            r.z = coordinate(random);
            r.startWidth = width(random);
            r.endWidth = width(random);
            r.bulge = random() % 3 == 0 ? 0.0 : coordinate(random) / 50;
            r.flags = static_cast<std::int32_t>(random() % 5);
            r.mark = static_cast<std::uint16_t>(random() % 5);
            auto* v = new CVertex(r);
            v->next = v->prev = nullptr;
            ASSERT_TRUE(poly->AddVertex(v, true));
        }
        poly->m_Closed = closed;
        poly->m_ActiveEnd = static_cast<std::uint32_t>(round % 2);
        poly->Reverse();

        EXPECT_EQ(poly->m_ActiveEnd, static_cast<std::uint32_t>(1 - round % 2));
        const CVertex* v = poly->GetHead();
        for (int k = 0; k < count; ++k, v = v->next) {
            const int i = count - 1 - k;  // the old place of the k-th vertex
            const CVertex& at = before[static_cast<std::size_t>(i)];
            const CVertex& from = before[static_cast<std::size_t>((i + count - 1) % count)];
            EXPECT_TRUE(v->x == at.x && v->y == at.y && v->z == at.z && v->flags == at.flags && v->mark == at.mark)
                << round << " vertex " << k;
            EXPECT_TRUE(v->startWidth == from.startWidth && v->endWidth == from.endWidth && v->bulge == -from.bulge)
                << round << " vertex " << k;
            EXPECT_EQ(v->next->prev, v);
        }
        EXPECT_EQ(v, poly->GetHead());
    }
}

// ---- explode --------------------------------------------------------------

TEST(PolyLineExplode, PiecesKeepColourWidthsAndArcs)
{
    EXPECT_FALSE(MakePolyline({{0, 0}, {10, 0}, {20, 0}})->Explode(nullptr));  // in no layer
    CLayer layer;
    CPolyLine* poly = MakePolyline({{0, 0, 0, 1.5}, {10, 0, 1.0, 2.5}, {20, 0}}).release();
    poly->m_Color = 3;
    ASSERT_TRUE(layer.AddEntity(poly));
    ASSERT_TRUE(poly->Explode(nullptr));

    // Each piece went to the front: the arc first, then the line.
    CEntity* first = layer.GetFirstEntity();
    ASSERT_EQ(first->m_Type, ENTITY_ARC);
    auto* arc = static_cast<CArc*>(first);
    EXPECT_NEAR(arc->m_StartAngle, PI, 1e-6);  // counter-clockwise below the chord
    EXPECT_EQ(arc->GetWidth(), 2.5);
    EXPECT_EQ(arc->m_Color, 3);
    EXPECT_EQ(first->m_Next->m_Next, poly);
}

TEST(PolyLineExplode, JoiningThePiecesRestoresTheGeometry)
{
    const std::vector<Pt> points = {{0, 0, 0, 1}, {10, 0, 0, 2}, {10, 10, 0, 3}, {20, 15}};
    CLayer layer;
    ASSERT_TRUE(layer.AddEntity(MakePolyline(points).release()));
    EXPECT_EQ(layer.ExplodePolylines(true, nullptr), 1);
    ASSERT_EQ(layer.CountEntities(), 3);

    // The pieces lie last segment first; join them in path order.
    std::vector<CPolyLine*> pieces;
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
        pieces.insert(pieces.begin(), static_cast<CPolyLine*>(e));
    const CTraceOption options = OptionsWithConnectDistance(5);
    pieces[0]->m_ActiveEnd = 1;
    std::unique_ptr<CPolyLine> joined = pieces[0]->JoinPolyline(pieces[1], false, options);
    ASSERT_NE(joined, nullptr);
    joined->m_ActiveEnd = 1;
    joined = joined->JoinPolyline(pieces[2], false, options);
    ASSERT_NE(joined, nullptr);
    ExpectPoints(*joined, points);
}

TEST(PolyLineExplode, LayerCommandIsUndoneAsOneStep)
{
    CGraph graph;
    CLayer* layer = graph.GetCurrentLayer();
    CPolyLine* poly = MakePolyline({{0, 0}, {10, 0, 0.5}, {20, 0}, {30, 5}}).release();
    const std::uint32_t id = poly->m_Id;
    poly->m_Selected = true;
    ASSERT_TRUE(layer->AddEntity(poly));
    ASSERT_TRUE(layer->AddEntity(MakePolyline({{0, 5}, {10, 5}, {20, 5}}).release()));

    CVectorUndoItem item("Explode", &graph);
    EXPECT_EQ(layer->ExplodePolylines(false, &item), 1);
    EXPECT_EQ(layer->CountEntities(), 4);  // three pieces and the unselected polyline
    EXPECT_EQ(graph.FindEntity(id), nullptr);

    ASSERT_TRUE(item.Undo());
    EXPECT_EQ(layer->CountEntities(), 2);
    ASSERT_NE(graph.FindEntity(id), nullptr);
    ASSERT_TRUE(item.Redo());
    EXPECT_EQ(layer->CountEntities(), 4);
}

// ---- widths ---------------------------------------------------------------

TEST(PolyLineRoundWidth, SegmentWidthsGoToTheSeriesAndTheOpenTailIsLeft)
{
    CTraceOption options;
    CWidthSeries& series = options.ChartType.WidthSeries;
    series.Clear();
    series.Unit = WIDTH_UNIT_PIXEL;
    for (double w : {1.0, 2.0, 4.0})
        series.AddWidth(w);
    for (bool closed : {false, true}) {
        auto poly = MakePolyline({{0, 0, 0, 1.2, 7}, {10, 0, 0, 3.5}, {20, 0, 0, 1.6}}, closed);
        poly->m_Width = 1.7;
        poly->RoundWidth(1000, options);
        ExpectPoints(*poly, {{0, 0, 0, 1, 7}, {10, 0, 0, 4}, {20, 0, 0, closed ? 2.0 : 1.6}});
        EXPECT_EQ(poly->m_Width, 2.0);
    }
}

// ---- grips ----------------------------------------------------------------

TEST(PolyLineGrips, CountMatchesTheGripsAddedEvenWhereAnArcCannotBeBuilt)
{
    // (10,0) -> (10,0.000001) carries a bulge but no computable arc.
    auto poly = MakePolyline({{0, 0, 0.5}, {10, 0, 0.5}, {10, 0.000001}, {20, 5, 0.3}, {30, 0}}, true);
    const std::vector<CGripRecord> grips = GripsOf(*poly);
    ASSERT_EQ(static_cast<int>(grips.size()), poly->GetGripCount());
    for (std::size_t i = 0; i < grips.size(); ++i)
        EXPECT_EQ(grips[i].index, static_cast<int>(i));
    // The grip after the missing midpoint still names the vertex at (10,0.000001).
    EXPECT_EQ(grips[3].point.y, 0.000001);
    EXPECT_TRUE(poly->MoveGrip(10, 1, 0, 3));
    EXPECT_EQ(poly->GetHead()->next->next->y, 1);
    EXPECT_FALSE(poly->MoveGrip(0, 0, 0, poly->GetGripCount()));
    EXPECT_FALSE(poly->MoveGrip(0, 0, 0, -1));
}

TEST(PolyLineGrips, MovingEachGripMovesWhatItNames)
{
    const std::vector<Pt> points = {{0, 0, kQuarter}, {10, 0}, {10, 10, -0.4}, {0, 10}};
    const int count = MakePolyline(points, true)->GetGripCount();
    ASSERT_EQ(count, 6);
    for (int k = 0; k < count; ++k) {
        auto poly = MakePolyline(points, true);
        const std::vector<CGripRecord> before = GripsOf(*poly);
        const frDoublePoint target(before[k].point.x + 0.7, before[k].point.y - 0.4);
        ASSERT_TRUE(poly->MoveGrip(target.x, target.y, 0, k));
        const std::vector<CGripRecord> after = GripsOf(*poly);
        ASSERT_EQ(after.size(), before.size()) << "grip " << k;
        // Every other vertex stays; each arc keeps passing through its old
        // midpoint, and a moved midpoint bends its arc through the target.
        auto arcPasses = [&](int grip, const frDoublePoint& p) {
            const CVertex* v = grip == 1 ? poly->GetHead() : poly->GetHead()->next->next;
            frDoublePoint centre;
            double radius = 0;
            ASSERT_TRUE(ArcFromBulge({v->x, v->y}, {v->next->x, v->next->y}, v->bulge, &centre, &radius));
            EXPECT_NEAR(std::hypot(p.x - centre.x, p.y - centre.y), radius, 1e-6) << "arc " << grip << " after " << k;
        };
        for (int i = 0; i < count; ++i) {
            if (i == 1 || i == 4) {
                arcPasses(i, i == k ? target : before[i].point);
            } else {
                const frDoublePoint want = i == k ? target : before[i].point;
                EXPECT_NEAR(after[i].point.x, want.x, 1e-12) << "grip " << i << " after moving " << k;
                EXPECT_NEAR(after[i].point.y, want.y, 1e-12) << "grip " << i << " after moving " << k;
            }
        }
    }
}

TEST(PolyLineGrips, CurrentVertexGripBecomesTheDrawingsCurrentGrip)
{
    CGraph graph;
    auto poly = MakePolyline({{0, 0, 0.5}, {10, 0}, {20, 0}});
    EXPECT_EQ(poly->AddGripsFrom(nullptr, graph.GetGripListHead(), 5), 4);
    poly->m_CurVertex = 2;
    poly->SelectCurrentVertexGrip(&graph, nullptr, 5);
    ASSERT_NE(graph.GetCurrentGrip(), nullptr);
    EXPECT_EQ(graph.GetCurrentGrip()->index, 7);  // 5 v1, 6 midpoint, 7 v2
}

// ---- inserting a vertex ---------------------------------------------------

TEST(PolyLineInsert, LinesSplitAtTheChordMiddleArcsOnTheirCircle)
{
    auto poly = MakePolyline({{0, 0, 0, 2}, {10, 0, 1.0}, {20, 0}});
    ASSERT_TRUE(poly->InsertMidVertex(poly->GetHead()));
    EXPECT_EQ(poly->GetHead()->next->x, 5);
    EXPECT_EQ(poly->GetHead()->next->startWidth, 2);

    // A half circle from (10,0) to (20,0) halves into two quarters.
    CVertex* arcStart = poly->GetHead()->next->next;
    const double length = poly->GetLength();
    ASSERT_TRUE(poly->InsertMidVertex(arcStart));
    EXPECT_NEAR(arcStart->next->y, -5, 1e-6);
    EXPECT_NEAR(arcStart->next->bulge, kQuarter, 1e-6);
    EXPECT_NEAR(poly->GetLength(), length, 1e-6);
    EXPECT_FALSE(poly->InsertMidVertex(poly->GetTail()));
    EXPECT_FALSE(poly->InsertMidVertex(nullptr));
}

// ---- object snap ----------------------------------------------------------

TEST(PolyLineSnap, PiecesOfOneArcGiveOneCounterClockwiseRecord)
{
    // Line (0,0)-(10,0), then a clockwise half circle to (20,0) above the chord.
    auto poly = MakePolyline({{0, 0}, {10, 0, -1}, {20, 0}});
    std::vector<CSnapSegment> segments;
    poly->CollectSegments({14, -1}, {30, 10}, segments);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_NEAR(segments[0].startAngle, 0, 1e-6);
    EXPECT_NEAR(segments[0].endAngle, PI, 1e-6);

    segments.clear();
    poly->CollectSegments({-1, -1}, {30, 10}, segments);  // wholly inside
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].kind, CSnapSegment::kLine);

    segments.clear();
    poly->CollectSegments({5, -1}, {11, 1}, segments);  // the line and the arc's start
    EXPECT_EQ(segments.size(), 2u);
}

// ---- circle or arc --------------------------------------------------------

TEST(PolyLineToCircle, TwoVertexArcsBecomeArcsAndCircles)
{
    auto open = MakePolyline({{10, 0, -kQuarter, 1.5}, {0, 10}});
    auto arc = PolylineToCircleOrArc(*open);
    ASSERT_NE(arc, nullptr);
    ASSERT_EQ(arc->m_Type, ENTITY_ARC);
    auto* a = static_cast<CArc*>(arc.get());
    // Clockwise from (10,0) to (0,10) turns about (10,10).
    EXPECT_NEAR(a->m_StartAngle, PI, 1e-6);
    EXPECT_NEAR(a->m_EndAngle, 1.5 * PI, 1e-6);
    EXPECT_EQ(a->GetWidth(), 1.5);

    // Complementary arcs turning the same way, and two half circles.
    for (double second : {2.0, 1.0}) {
        auto circle = PolylineToCircleOrArc(*MakePolyline({{0, 0, 1 / second}, {10, 0, second}}, true));
        ASSERT_NE(circle, nullptr);
        EXPECT_EQ(circle->m_Type, ENTITY_CIRCLE);
    }

    // One arc traced there and back, unequal widths, three vertices: none.
    EXPECT_EQ(PolylineToCircleOrArc(*MakePolyline({{0, 0, 0.5}, {10, 0, -0.5}}, true)), nullptr);
    EXPECT_EQ(PolylineToCircleOrArc(*MakePolyline({{0, 0, 1, 1}, {10, 0, 1, 2}}, true)), nullptr);
    EXPECT_EQ(PolylineToCircleOrArc(*MakePolyline({{0, 0, 0.5}, {10, 0}, {20, 0}})), nullptr);
}
