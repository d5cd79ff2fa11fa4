#include "model/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "model/constants.h"

namespace {

double Distance(const frDoublePoint& a, const frDoublePoint& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// Segment against closed box by parameter ranges, for comparison.
bool ReferenceSegmentHitsBox(const frDoublePoint& p, const frDoublePoint& q, const frDoublePoint& lo,
                             const frDoublePoint& hi)
{
    double t0 = 0, t1 = 1;
    double dx = q.x - p.x, dy = q.y - p.y;
    double pr[4] = {-dx, dx, -dy, dy};
    double qr[4] = {p.x - lo.x, hi.x - p.x, p.y - lo.y, hi.y - p.y};
    for (int i = 0; i < 4; ++i) {
        if (pr[i] == 0) {
            if (qr[i] < 0)
                return false;
        } else if (pr[i] < 0) {
            t0 = std::fmax(t0, qr[i] / pr[i]);
        } else {
            t1 = std::fmin(t1, qr[i] / pr[i]);
        }
    }
    return t0 <= t1;
}

CSnapSegment Line(frDoublePoint a, frDoublePoint b)
{
    CSnapSegment s;
    s.kind = CSnapSegment::kLine;
    s.modes = -1;
    s.start = a;
    s.end = b;
    return s;
}

CSnapSegment Arc(frDoublePoint c, double r, double start, double end)
{
    CSnapSegment s;
    s.kind = CSnapSegment::kArc;
    s.modes = -1;
    s.centre = c;
    s.radius = r;
    s.startAngle = start;
    s.endAngle = end;
    return s;
}

}  // namespace

// ---- angles ----------------------------------------------------------------

TEST(GeometryAngles, SweepNormalizeAndArcMembership)
{
    EXPECT_DOUBLE_EQ(AngleSweep(THREE_HALF_PI, HALF_PI), PI);
    EXPECT_EQ(AngleSweep(0, TWO_PI), TWO_PI);
    EXPECT_EQ(AngleSweep(HALF_PI, HALF_PI), 0);
    EXPECT_NEAR(AngleSweep(5 * TWO_PI + 1, 2), 1, 1e-9);
    EXPECT_EQ(NormalizeAngle(TWO_PI), TWO_PI) << "exactly one turn stays";
    // Huge and infinite angles end instead of looping for ever.
    double huge = NormalizeAngle(1e300);
    EXPECT_TRUE(huge >= 0 && huge <= TWO_PI);
    EXPECT_TRUE(std::isinf(NormalizeAngle(std::numeric_limits<double>::infinity())));
    EXPECT_FALSE(AnglesNearlyEqual(std::numeric_limits<double>::infinity(), 0, 0.1));
    EXPECT_TRUE(AnglesNearlyEqual(0.001, TWO_PI - 0.001, 0.01));
    EXPECT_FALSE(AnglesNearlyEqual(1, 1.1, 0.05));
    EXPECT_TRUE(AngleInArc(THREE_HALF_PI, HALF_PI, 0.1)) << "an arc through zero";
    EXPECT_FALSE(AngleInArc(THREE_HALF_PI, HALF_PI, PI));
    EXPECT_TRUE(AngleInArcTol(0, HALF_PI, -0.0005, 0.001)) << "within the tolerance of the start";
    EXPECT_FALSE(AngleInArcTol(0, HALF_PI, -0.01, 0.001));
}

// ---- boxes and rings ------------------------------------------------------

// Every fourth segment is axis-parallel and some run along an edge.
TEST(SegmentCrossesRect, AgreesWithParameterClippingOnRandomSegments)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> coord(-2, 3);
    frDoublePoint lo(0, 0), hi(1, 1);
    for (int i = 0; i < 20000; ++i) {
        frDoublePoint p(coord(rng), coord(rng)), q(coord(rng), coord(rng));
        if (i % 4 == 1)
            q.x = p.x = i % 8 == 1 ? 0.5 : p.x;
        if (i % 4 == 2)
            q.y = p.y = i % 8 == 2 ? 1 : p.y;
        ASSERT_EQ(SegmentCrossesRect(p, q, lo, hi), ReferenceSegmentHitsBox(p, q, lo, hi))
            << p.x << "," << p.y << " " << q.x << "," << q.y;
    }
}

TEST(BoxesOverlap, TouchingBoxesOverlapInAnEdge)
{
    double a[4] = {0, 2, 0, 2}, b[4] = {2, 3, 1, 5}, c[4] = {2.1, 3, 0, 1}, d[4] = {0, 1, 2.5, 3};
    double out[4];
    ASSERT_TRUE(BoxesOverlap(a, b, out));
    EXPECT_EQ(std::vector<double>(out, out + 4), (std::vector<double>{2, 2, 1, 2}));
    EXPECT_FALSE(BoxesOverlap(a, c, out));
    EXPECT_FALSE(BoxesOverlap(a, d, out));
}

// ---- equations and line crossings -----------------------------------------

TEST(SolveQuadratic, RootsAndTheDoubleRootTolerance)
{
    double r1 = 0, r2 = 0;
    ASSERT_EQ(SolveQuadratic(1, -3, 2, &r1, &r2), 1);
    EXPECT_DOUBLE_EQ(std::fmax(r1, r2), 2);
    EXPECT_DOUBLE_EQ(std::fmin(r1, r2), 1);
    // Discriminant -5e-6: one double root.
    ASSERT_EQ(SolveQuadratic(1, 0, 1.25e-6, &r1, &r2), 0);
    EXPECT_EQ(r1, 0);
    EXPECT_EQ(SolveQuadratic(1, 0, 1, &r1, &r2), -1);
    EXPECT_EQ(SolveQuadratic(0, 1, 1, &r1, &r2), -1);
}

TEST(IntersectLines, ModesAndParallels)
{
    frDoublePoint out(7, 7, 7);
    EXPECT_FALSE(IntersectLines({0, 0}, {1, 0}, {0, 1}, {1, 1}, 0, &out));
    EXPECT_EQ(out.x, 7) << "parallel lines leave the point alone";
    // c-d crosses a-b at u = 1.000005: still on the segment in mode 1.
    ASSERT_TRUE(IntersectLines({0, 0}, {1, 0}, {1.000005, -1}, {1.000005, 1}, 1, &out));
    EXPECT_DOUBLE_EQ(out.x, 1.000005);
    EXPECT_FALSE(IntersectLines({0, 0}, {1, 0}, {1.1, -1}, {1.1, 1}, 1, &out));
    EXPECT_DOUBLE_EQ(out.x, 1.1) << "the point is written whatever the mode says";
    EXPECT_FALSE(IntersectLines({0, 0}, {1, 0}, {0.5, 1}, {0.5, 3}, 2, &out)) << "off c-d";
    EXPECT_TRUE(IntersectLines({0, 0}, {1, 0}, {0.5, 1}, {0.5, 3}, 1, &out));
    EXPECT_EQ(out.z, 7) << "z is not touched";
}

// ---- circles -------------------------------------------------------------

TEST(IntersectLineArc, CrossingsLieOnTheCircleAndTheSegment)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> coord(-10, 10), rad(0.5, 8);
    int found = 0;
    for (int i = 0; i < 3000; ++i) {
        frDoublePoint c(coord(rng), coord(rng)), a(coord(rng), coord(rng)), b(coord(rng), coord(rng)), p[2];
        double r = rad(rng);
        int n = IntersectLineArc(c, 0, TWO_PI, r, a, b, 1, &p[0], &p[1]);
        for (int k = 0; k < n; ++k) {
            ++found;
            EXPECT_NEAR(Distance(p[k], c), r, 1e-6);
            double cross = (b.x - a.x) * (p[k].y - a.y) - (b.y - a.y) * (p[k].x - a.x);
            EXPECT_NEAR(cross / Distance(a, b), 0, 1e-6);
            EXPECT_TRUE(PointInSegmentBox(a, b, p[k]));
        }
    }
    EXPECT_GT(found, 500);
}

TEST(IntersectArcs, CrossingsLieOnBothCircles)
{
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> coord(-10, 10), rad(0.5, 12), angle(0, TWO_PI);
    int found = 0;
    for (int i = 0; i < 3000; ++i) {
        frDoublePoint c1(coord(rng) + 5000, coord(rng)), c2(coord(rng) + 5000, coord(rng)), p[2];
        const int mode = i % 2;
        double r1 = rad(rng), r2 = rad(rng), s1 = angle(rng), s2 = angle(rng);
        double e1 = s1 + angle(rng), e2 = s2 + angle(rng);
        int n = IntersectArcs(c1, s1, e1, r1, c2, s2, e2, r2, mode, &p[0], &p[1]);
        for (int k = 0; k < n; ++k) {
            ++found;
            EXPECT_NEAR(Distance(p[k], c1), r1, 1e-6);
            EXPECT_NEAR(Distance(p[k], c2), r2, 1e-6);
            if (mode == 1) {
                EXPECT_TRUE(AngleInArcTol(s1, e1, std::atan2(p[k].y - c1.y, p[k].x - c1.x), 1e-5));
                EXPECT_TRUE(AngleInArcTol(s2, e2, std::atan2(p[k].y - c2.y, p[k].x - c2.x), 1e-5));
            }
        }
    }
    EXPECT_GT(found, 1000);
}

// A touching point is one crossing, not two.
TEST(CircleCrossings, TangentsAndArcsSharingOnlyAnEndReportItOnce)
{
    frDoublePoint c(0, 0, 3), p1, p2;
    ASSERT_EQ(IntersectLineArc(c, 0, TWO_PI, 1, {-2, 1}, {2, 1}, 1, &p1, &p2), 1);
    EXPECT_NEAR(Distance(p1, {0, 1}), 0, 1e-12);
    // The same line as a segment that ends before the touching point.
    EXPECT_EQ(IntersectLineArc(c, 0, TWO_PI, 1, {2, 1}, {5, 1}, 1, &p1, &p2), 0);
    EXPECT_EQ(IntersectLineArc(c, 0, TWO_PI, 1, {2, 1}, {5, 1}, 0, &p1, &p2), 1) << "infinite line";
    // Quarter arcs of two circles that touch at (1, 0).
    ASSERT_EQ(IntersectArcs({0, 0}, 0, HALF_PI, 1, {2, 0}, HALF_PI, PI, 1, 1, &p1, &p2), 1);
    EXPECT_NEAR(Distance(p1, {1, 0}), 0, 1e-6);
    // Concentric arcs of one circle meeting end to start.
    ASSERT_EQ(IntersectArcs({0, 0}, 0, HALF_PI, 1, {0, 0}, HALF_PI, PI, 1, 1, &p1, &p2), 1);
    EXPECT_NEAR(Distance(p1, {0, 1}), 0, 1e-6);
    EXPECT_EQ(IntersectArcs({0, 0}, 0, HALF_PI, 1, {5, 0}, 0, TWO_PI, 1, 0, &p1, &p2), 0) << "apart";
}

// ---- bulge arcs -----------------------------------------------------------

TEST(ArcFromBulge, DirectionAndDegenerateInput)
{
    frDoublePoint c, m;
    double r = 0, b = 0;
    ASSERT_TRUE(ArcFromBulge({0, 0}, {2, 0}, 1, &c, &r, &m));
    EXPECT_DOUBLE_EQ(r, 1);
    EXPECT_NEAR(Distance(c, {1, 0}), 0, 1e-12);
    EXPECT_NEAR(Distance(m, {1, -1}), 0, 1e-6) << "positive bulge turns counter-clockwise, below the chord";
    EXPECT_FALSE(ArcFromBulge({0, 0}, {2, 0}, 5e-6, &c));
    EXPECT_FALSE(ArcFromBulge({0, 0}, {0, 1e-5}, 1, &c)) << "no chord";
    EXPECT_FALSE(ArcFromBulge({0, 0}, {2, 0}, std::numeric_limits<double>::infinity(), &c));
    EXPECT_FALSE(ArcFromBulge({0, 0}, {2, 0}, std::nan(""), &c));
    // Through (1, 0.2): the shallow arc over the chord, clockwise.
    ASSERT_TRUE(BulgeFromThreePoints({0, 0}, {1, 0.2}, {2, 0}, &c, &r, &b));
    EXPECT_NEAR(b, -0.2, 1e-12);
    EXPECT_FALSE(BulgeFromThreePoints({0, 0}, {1, 0}, {2, 0}, &c)) << "collinear";
    EXPECT_FALSE(BulgeFromThreePoints({0, 0}, {0, 0}, {2, 1}, &c)) << "repeated point";
}

TEST(ArcFromBulge, RoundTripsThroughThreePoints)
{
    std::mt19937 rng(13);
    std::uniform_real_distribution<double> coord(-100, 100), size(0.01, 20);
    for (int i = 0; i < 2000; ++i) {
        frDoublePoint p(coord(rng), coord(rng)), q(coord(rng), coord(rng));
        double bulge = size(rng) * (i % 2 ? 1 : -1);
        frDoublePoint c, m, c2;
        double r = 0, r2 = 0, back = 0;
        ASSERT_TRUE(ArcFromBulge(p, q, bulge, &c, &r, &m));
        EXPECT_NEAR(Distance(m, c), r, 1e-9 * r);
        ASSERT_TRUE(BulgeFromThreePoints(p, m, q, &c2, &r2, &back));
        EXPECT_NEAR(back, bulge, 1e-6 * std::fmax(1, std::fabs(bulge)));
        EXPECT_NEAR(r2, r, 1e-6 * r);
        EXPECT_NEAR(c2.x, c.x, 1e-6 * r);
    }
}

TEST(GetBulgeArc, OneRuleDecidesWhatIsAnArcAndWhatIsWrittenAsOne)
{
    auto vertex = [](double x, double y) { return CVertex(x, y, 0, 0, 0); };
    const CVertex origin = vertex(0, 0), far = vertex(1000, 0);
    CBulgeArc arc;
    // The bulge: an arc from the tolerance on, either way round.
    EXPECT_TRUE(GetBulgeArc(origin, far, POINT_TOLERANCE, &arc));
    EXPECT_TRUE(GetWrittenBulgeArc(origin, far, -POINT_TOLERANCE, &arc));
    EXPECT_FALSE(GetBulgeArc(origin, far, 0.99 * POINT_TOLERANCE, &arc));
    EXPECT_FALSE(GetWrittenBulgeArc(origin, far, -0.99 * POINT_TOLERANCE, &arc));
    // The half chord must exceed the tolerance.
    EXPECT_FALSE(GetBulgeArc(origin, vertex(2e-5, 0), 1, &arc));
    EXPECT_TRUE(GetBulgeArc(origin, vertex(2.2e-5, 0), 1, &arc));
    // An arc no higher than the tolerance is written as its chord: half
    // chord 1, so the height is the bulge.
    const CVertex two = vertex(2, 0);
    ASSERT_TRUE(GetBulgeArc(origin, two, POINT_TOLERANCE, &arc));
    EXPECT_DOUBLE_EQ(arc.height, POINT_TOLERANCE);
    EXPECT_FALSE(GetWrittenBulgeArc(origin, two, POINT_TOLERANCE, &arc));
    EXPECT_TRUE(GetWrittenBulgeArc(origin, two, 1.1 * POINT_TOLERANCE, &arc));
}

TEST(GetBulgeArc, AnglesAsAtan2GivesThemAndWrittenIntoOneTurn)
{
    // A quarter circle about the origin from (0, -1) to (1, 0),
    // counter-clockwise: bulge tan(pi / 8). The construction turns by the
    // single-precision HALF_PI, hence the looser tolerance.
    const CVertex s(0, -1, 0, 0, 0), e(1, 0, 0, 0, 0);
    const double quarter = std::tan(std::atan(1.0) / 2);
    CBulgeArc arc;
    ASSERT_TRUE(GetBulgeArc(s, e, quarter, &arc));
    EXPECT_NEAR(Distance(arc.centre, {0, 0}), 0, 1e-6);
    EXPECT_NEAR(arc.radius, 1, 1e-6);
    EXPECT_NEAR(arc.startAngle, -std::acos(0.0), 1e-6);
    EXPECT_NEAR(arc.endAngle, 0, 1e-6);
    ASSERT_TRUE(GetWrittenBulgeArc(s, e, quarter, &arc));
    EXPECT_NEAR(arc.startAngle, TWO_PI - std::acos(0.0), 1e-6) << "brought into [0, TWO_PI]";
    EXPECT_NEAR(BulgeArcSweep(arc.startAngle, arc.endAngle, quarter), std::acos(0.0), 1e-6)
        << "counter-clockwise across angle 0";
    // The same arc walked back is clockwise: the same sweep, signed.
    ASSERT_TRUE(GetWrittenBulgeArc(e, s, -quarter, &arc));
    EXPECT_NEAR(BulgeArcSweep(arc.startAngle, arc.endAngle, -quarter), std::acos(0.0), 1e-6);
    EXPECT_NEAR(SignedBulgeArcSweep(arc.startAngle, arc.endAngle, -quarter), -std::acos(0.0), 1e-6);
    EXPECT_EQ(BulgeArcSweep(1, 1, 1), 0.0);
    EXPECT_EQ(BulgeArcSweep(1, 1, -1), 0.0);
}

TEST(ArcFlatteningStep, StepsAreBoundedWhateverTheChord)
{
    EXPECT_NEAR(ArcFlatteningStep(10, PI, 1), 2 * std::asin(0.05), 1e-15);
    EXPECT_DOUBLE_EQ(ArcFlatteningStep(10, PI, -4), PI / 4);
    EXPECT_EQ(ArcFlatteningStep(1, PI, 3), PI) << "the chord reaches the diameter";
    EXPECT_DOUBLE_EQ(ArcFlatteningStep(10, TWO_PI, 0), TWO_PI / MAX_ARC_PIECES) << "zero chord";
    EXPECT_DOUBLE_EQ(ArcFlatteningStep(10, TWO_PI, 1e-300), TWO_PI / MAX_ARC_PIECES);
    EXPECT_DOUBLE_EQ(ArcFlatteningStep(10, TWO_PI, -1e12), TWO_PI / MAX_ARC_PIECES);
    EXPECT_GT(ArcFlatteningStep(10, TWO_PI, std::nan("")), 0);
    EXPECT_GT(ArcFlatteningStep(0, TWO_PI, 1), 0);
}

// ---- object snap ----------------------------------------------------------

TEST(FindSnap, LineCandidates)
{
    CSnapSegment line = Line({0, 0}, {10, 0});
    frDoublePoint p, base(3, 5);
    double d = -1;
    EXPECT_EQ(line.FindSnap(nullptr, {4.5, 1}, SNAP_END | SNAP_MIDDLE, &p, &d), SNAP_MIDDLE);
    EXPECT_DOUBLE_EQ(d, std::hypot(0.5, 1));
    EXPECT_EQ(line.FindSnap(nullptr, {1, 1}, SNAP_END | SNAP_MIDDLE, &p, &d), SNAP_END);
    EXPECT_EQ(line.FindSnap(&base, {9, 9}, SNAP_PERPENDICULAR, &p, &d), SNAP_PERPENDICULAR);
    EXPECT_DOUBLE_EQ(p.x, 3);
    EXPECT_EQ(line.FindSnap(nullptr, {12, 2}, SNAP_NEAREST, &p, &d), 0) << "foot beyond the end";
    EXPECT_EQ(line.FindSnap(nullptr, {1, 1}, SNAP_CENTRE | SNAP_QUADRANT, &p, &d), 0) << "arcs only";
    line.modes = SNAP_MIDDLE;
    EXPECT_EQ(line.FindSnap(nullptr, {0, 0}, SNAP_END | SNAP_MIDDLE, &p, &d), SNAP_MIDDLE) << "not offered";
}

TEST(FindSnap, ArcCandidates)
{
    CSnapSegment arc = Arc({0, 0}, 2, 0, PI);  // upper half
    frDoublePoint p;
    double d = -1;
    EXPECT_EQ(arc.FindSnap(nullptr, {0.1, -1.9}, SNAP_QUADRANT, &p, &d), SNAP_QUADRANT);
    EXPECT_NEAR(std::fabs(p.x), 2, 1e-6) << "the bottom quadrant is not on the arc";
    EXPECT_EQ(arc.FindSnap(nullptr, {0.3, 0.2}, SNAP_CENTRE | SNAP_END, &p, &d), SNAP_CENTRE);
    EXPECT_EQ(arc.FindSnap(nullptr, {3, 3}, SNAP_NEAREST, &p, &d), SNAP_NEAREST);
    EXPECT_NEAR(p.x, std::sqrt(2), 1e-6);

    // Tangents from a base point: the radius meets the base line at a right
    // angle.
    frDoublePoint base(4, 1), within(0.5, 0);
    CSnapSegment circle = Arc({0, 0}, 2, 0, TWO_PI);
    ASSERT_EQ(circle.FindSnap(&base, {0, 3}, SNAP_TANGENT, &p, &d), SNAP_TANGENT);
    EXPECT_NEAR(std::hypot(p.x, p.y), 2, 1e-6);
    EXPECT_NEAR(p.x * (base.x - p.x) + p.y * (base.y - p.y), 0, 1e-6);
    EXPECT_GT(p.y, 0) << "the tangent point nearer the cursor";
    EXPECT_EQ(circle.FindSnap(&within, {0, 3}, SNAP_TANGENT, &p, &d), 0) << "no tangent from inside";
}

TEST(IntersectSnapSegments, EveryPairingOfLinesAndArcs)
{
    frDoublePoint p1, p2;
    EXPECT_EQ(IntersectSnapSegments(Line({0, 0}, {1, 1}), Line({0, 2}, {0.9, 1.1}), &p1, &p2), 0);
    EXPECT_EQ(IntersectSnapSegments(Arc({0, 0}, 1, 0, TWO_PI), Line({-2, 0}, {2, 0}), &p1, &p2), 2);
    EXPECT_EQ(IntersectSnapSegments(Line({-2, 0.5}, {0, 0.5}), Arc({0, 0}, 1, 0, TWO_PI), &p1, &p2), 1);
    EXPECT_NEAR(p1.x, -std::sqrt(0.75), 1e-9);
    EXPECT_EQ(IntersectSnapSegments(Arc({0, 0}, 1, 0, PI), Arc({1, 0}, 1, 0, PI), &p1, &p2), 1);
    EXPECT_EQ(IntersectSnapSegments(CSnapSegment{}, Line({0, 0}, {1, 1}), &p1, &p2), 0);
}

// ---- grips and vertex rings -----------------------------------------------

TEST(GripRecords, AddedAtTheHeadAndRemovedByOwner)
{
    CGripRecord* head = nullptr;
    auto* a = reinterpret_cast<CSelectNode*>(0x10);
    auto* b = reinterpret_cast<CSelectNode*>(0x20);
    ASSERT_TRUE(AddGrip({1, 1}, a, 0, &head));
    ASSERT_TRUE(AddGrip({2, 2}, b, 0, &head));
    ASSERT_TRUE(AddGrip({3, 3}, b, 1, &head));
    EXPECT_FALSE(AddGrip({4, 4}, a, 0, nullptr));
    EXPECT_EQ(head->index, 1);
    RemoveGripRecords(b, &head);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->owner, a);
    EXPECT_EQ(head->next, nullptr);
    RemoveGripRecords(a, &head);
    EXPECT_EQ(head, nullptr);
}

TEST(VertexRings, UnlinkedToTheLastVertex)
{
    CVertex v[3] = {{-5, -5, 0, 0, 0}, {-5, 6.2, 0, 0, 0}, {6.2, -5, 0, 0, 0}};
    for (int i = 0; i < 3; ++i) {
        v[i].next = &v[(i + 1) % 3];
        v[i].prev = &v[(i + 2) % 3];
    }
    CVertex* head = RemoveVertexFromRing(&v[0], &v[1]);
    EXPECT_EQ(head, &v[0]);
    EXPECT_EQ(v[0].next, &v[2]);
    EXPECT_EQ(v[2].prev, &v[0]);
    EXPECT_EQ(v[1].next, nullptr);
    head = RemoveVertexFromRing(head, &v[0]);
    EXPECT_EQ(head, &v[2]) << "the head moves on";
    EXPECT_EQ(v[2].next, &v[2]);
    EXPECT_EQ(RemoveVertexFromRing(head, &v[2]), nullptr);
    EXPECT_EQ(RemoveVertexFromRing(nullptr, &v[2]), nullptr);
}
