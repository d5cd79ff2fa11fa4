#include "model/polyline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/geometry.h"
#include "model/layer.h"
#include "recording_device.h"
#include "test_entity.h"
#include "trace/trace_option.h"

namespace {

constexpr double kTruePi = 3.14159265358979323846;

struct Pt {
    double x, y, bulge = 0, startWidth = 0, endWidth = 0;
};

std::unique_ptr<CPolyLine> MakePolyline(const std::vector<Pt>& points, bool closed = false)
{
    auto poly = std::make_unique<CPolyLine>();
    for (const Pt& p : points) {
        auto* v = new CVertex(p.x, p.y, p.startWidth, p.endWidth, 0);
        v->bulge = p.bulge;
        poly->AddVertex(v, true);
    }
    poly->m_Closed = closed;
    return poly;
}

std::vector<const CVertex*> RingOf(const CVertex* head)
{
    std::vector<const CVertex*> out;
    if (head == nullptr)
        return out;
    const CVertex* v = head;
    do {
        out.push_back(v);
        v = v->next;
    } while (v != head && out.size() < 100000);
    return out;
}

// A device whose flattening chord is `step` world units.
void SetFlattenStep(CFrDevice& device, double step)
{
    device.Transform().SetDeviceRect(0, 0, 1000, 1000);
    device.Transform().SetWorldBox(0, 0, step * 200, step * 200);
    ASSERT_NEAR(device.GetFlattenStep(), step, step * 1e-12);
}

// The arc of a bulge segment computed from the textbook definition (sweep
// 4 atan(bulge), counter-clockwise when positive), independent of the code
// under test.
struct ReferenceArc {
    double cx, cy, r, startAngle, sweep;  // sweep signed

    ReferenceArc(double sx, double sy, double ex, double ey, double bulge)
    {
        sweep = 4 * std::atan(bulge);
        const double dx = ex - sx, dy = ey - sy, chord = std::hypot(dx, dy);
        const double c = chord / 2;
        r = std::fabs(c / std::sin(sweep / 2));
        const double d = c / std::tan(sweep / 2);
        cx = (sx + ex) / 2 - dy / chord * d;
        cy = (sy + ey) / 2 + dx / chord * d;
        startAngle = std::atan2(sy - cy, sx - cx);
    }
    void Sample(double t, double* x, double* y) const
    {
        *x = cx + r * std::cos(startAngle + t * sweep);
        *y = cy + r * std::sin(startAngle + t * sweep);
    }
    // Fraction of the sweep at which the point lies (its angle from the start
    // in the arc's direction over the sweep).
    double FractionOf(double x, double y) const
    {
        double a = std::atan2(y - cy, x - cx) - startAngle;
        if (sweep > 0) {
            while (a < -1e-9)
                a += 2 * kTruePi;
        } else {
            while (a > 1e-9)
                a -= 2 * kTruePi;
        }
        return a / sweep;
    }
};

// ---- the vertex ring ------------------------------------------------------

TEST(PolyLineRing, ExactRepeatOfTheTailIsDroppedANearOneKept)
{
    CPolyLine poly;
    poly.AddPoint(3, 4);
    EXPECT_FALSE(poly.AddPoint(3, 4));
    EXPECT_TRUE(poly.AddPoint(3, 4.000001));

    // Without the delete flag the caller keeps the rejected vertex.
    CVertex repeat(3, 4.000001, 0, 0, 0);
    EXPECT_FALSE(poly.AddVertex(&repeat, false));
    EXPECT_EQ(poly.GetPointCount(), 2);
}

TEST(PolyLineRing, EmptyPolylinesAnswerNeutrally)
{
    CPolyLine empty;
    EXPECT_TRUE(empty.IsDegenerate());
    EXPECT_EQ(empty.GetLength(), 0.0);
    double box[4];
    EXPECT_FALSE(empty.GetExtents(nullptr, box));
    EXPECT_EQ(empty.GetFlatList(nullptr, true), nullptr);
    frDoublePoint end(7, 7), dir(7, 7);
    empty.GetEndSegment(&end, &dir);
    EXPECT_EQ(end.x, 7);
    EXPECT_TRUE(empty.HasPointsAtLeast(0));
    EXPECT_FALSE(empty.HasPointsAtLeast(1));
}

TEST(PolyLineRing, HasPointsAtLeastAgreesWithTheCount)
{
    CPolyLine polyline;
    for (int points = 1; points <= 4; ++points) {
        ASSERT_TRUE(polyline.AddPoint(points, 2 * points));
        for (int n = 0; n <= 6; ++n)
            EXPECT_EQ(polyline.HasPointsAtLeast(n), polyline.GetPointCount() >= n) << points << " points, n " << n;
    }
}

TEST(PolyLineRing, RemovingAVertexDropsTheFlattenedRingThatLinksIt)
{
    auto poly = MakePolyline({{0, 0, 1}, {10, 0, 1}, {20, 0}});
    ASSERT_NE(poly->GetFlatList(nullptr, true), nullptr);
    poly->RemoveVertex(poly->GetHead()->next);
    EXPECT_EQ(poly->GetFlatHead(), nullptr);
    // Rebuilding walks only live vertices (the sanitizer build checks it).
    const CVertex* ring = poly->GetFlatList(nullptr, true);
    for (const CVertex* f : RingOf(ring))
        EXPECT_TRUE(f->source == poly->GetHead() || f->source == poly->GetTail());

    // The head hands over to the next vertex; the last one empties the ring.
    poly->RemoveVertex(poly->GetHead());
    EXPECT_EQ(poly->GetHead()->x, 20);
    EXPECT_EQ(poly->GetHead()->next, poly->GetHead());
    poly->RemoveVertex(poly->GetHead());
    EXPECT_EQ(poly->GetHead(), nullptr);
}

// ---- flattening -----------------------------------------------------------

TEST(PolyLineFlatten, FlatPointsLieOnTheArcInOrderInsideTheSweep)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> coord(-50, 50), bulgeMag(0.01, 3), width(0, 2);
    const double steps[] = {-20, -3, -1, 0.05, 0.7, 4, 30};
    for (int trial = 0; trial < 200; ++trial) {
        const double bulge = (trial % 2 ? -1 : 1) * bulgeMag(random);
        Pt s{coord(random), coord(random), bulge, width(random)}, e{coord(random), coord(random), 0, width(random)};
        if (std::hypot(e.x - s.x, e.y - s.y) < 1)
            continue;
        const double step = steps[trial % 7];
        auto poly = MakePolyline({s, e});
        poly->Flatten(step);
        const ReferenceArc ref(s.x, s.y, e.x, e.y, bulge);
        const auto ring = RingOf(poly->GetFlatHead());
        ASSERT_GE(ring.size(), 2u);
        const double tol = 1e-6 * std::max(1.0, ref.r);
        double previous = 0;
        for (std::size_t i = 1; i < ring.size(); ++i) {
            EXPECT_NEAR(std::hypot(ring[i]->x - ref.cx, ring[i]->y - ref.cy), ref.r, tol) << trial;
            const double t = ref.FractionOf(ring[i]->x, ring[i]->y);
            EXPECT_GT(t, previous) << "trial " << trial << " point " << i;
            EXPECT_LE(t, 1 + 1e-6) << "trial " << trial << " point " << i;
            previous = t;
            EXPECT_EQ(ring[i]->startWidth, i + 1 < ring.size() ? s.startWidth : e.startWidth);
            if (step > 0 && i + 1 < ring.size()) {
                // The chord asked for, unless that needs more than the piece cap.
                const double chord = std::max(step, ref.r * std::fabs(ref.sweep) / MAX_ARC_PIECES);
                EXPECT_LE(std::hypot(ring[i]->x - ring[i - 1]->x, ring[i]->y - ring[i - 1]->y), chord + tol);
            }
        }
        EXPECT_NEAR(previous, 1.0, 1e-6);
    }
}

TEST(PolyLineFlatten, TinyStepsOnHugeRadiiAreCapped)
{
    auto poly = MakePolyline({{0, 0, 1e-4}, {1e6, 0}});
    for (double step : {1e-3, 0.0 /* never passed by callers; must still end */, -1e12}) {
        poly->Flatten(step);
        EXPECT_LE(RingOf(poly->GetFlatHead()).size(), static_cast<std::size_t>(MAX_ARC_PIECES) + 2) << step;
    }
}

TEST(PolyLineFlatten, AChordThatReachesTheDiameterCollapsesToTheEndVertex)
{
    auto poly = MakePolyline({{0, 0, 1, 0.5}, {2, 0, 0, 0.25}, {4, 0}});
    poly->Flatten(2.0);
    const auto ring = RingOf(poly->GetFlatHead());
    ASSERT_EQ(ring.size(), 3u);
    EXPECT_EQ(ring[1]->x, 2);
    // The point begins the next segment, so it carries that segment's width.
    EXPECT_EQ(ring[1]->startWidth, 0.25);
    EXPECT_EQ(ring[1]->source, poly->GetHead()->next);
}

TEST(PolyLineFlatten, RepeatedVerticesAndZeroLengthArcsAddNoPoint)
{
    auto poly = std::make_unique<CPolyLine>();
    poly->AddPoint(0, 0);
    poly->AddPoint(5, 0);
    poly->AddPoint(5.000001, 0);  // within the tolerance of its predecessor
    poly->GetHead()->next->bulge = 0.5;
    poly->AddPoint(9, 0);
    poly->GetHead()->next->next->bulge = 0;
    poly->Flatten(-4);
    const auto ring = RingOf(poly->GetFlatHead());
    ASSERT_EQ(ring.size(), 3u);
    EXPECT_EQ(ring[1]->x, 5);
    EXPECT_EQ(ring[2]->x, 9);

    poly->ClearFlatList();
    poly->FlattenArc(poly->GetHead()->next->next);  // the arc of no length
    EXPECT_EQ(poly->GetFlatHead(), nullptr);
}

TEST(PolyLineFlatten, OpenHeadIsKeptEvenWhereTheTailMeetsIt)
{
    auto poly = MakePolyline({{0, 0}, {10, 0, 0.5}, {0, 0}});
    CRecordingDevice device;
    SetFlattenStep(device, 1.0);
    poly->Draw(&device);
    const auto ring = RingOf(poly->GetFlatHead());
    ASSERT_GE(ring.size(), 3u);
    EXPECT_EQ(ring[0]->source, poly->GetHead());
    EXPECT_EQ(ring[1]->x, 10);  // the first, straight segment is drawn
}

TEST(PolyLineFlatten, ClosingArcOfAClosedPolylineIsFlattened)
{
    // Square whose closing side (tail to head) bulges outwards.
    auto poly = MakePolyline({{0, 0}, {10, 0}, {10, 10}, {0, 10, 1}}, true);
    poly->Flatten(-8);
    const auto ring = RingOf(poly->GetFlatHead());
    // 7 inner points of the closing arc, the head, and the three others.
    ASSERT_EQ(ring.size(), 7u + 4u);
    for (std::size_t i = 0; i < 7; ++i)
        EXPECT_LT(ring[i]->x, 0);  // the arc swells to the left
    EXPECT_EQ(ring[7]->source, poly->GetHead());
}

// ---- the cache reuse rule -------------------------------------------------

TEST(PolyLineCache, ChordRingIsReusedWhileTheRequestIsUpToFiveTimesCoarser)
{
    // Straight polylines need no ring of their own.
    auto straight = MakePolyline({{0, 0}, {1, 0}, {1, 1}});
    EXPECT_EQ(straight->GetFlatList(nullptr, true), straight->GetHead());

    auto poly = MakePolyline({{0, 0, 0.7}, {100, 0}});
    CRecordingDevice device;
    // A built ring is marked so that a rebuild shows.
    auto requestAndCheckReused = [&](double step) {
        SetFlattenStep(device, step);
        CVertex* marked = poly->GetFlatHead();
        const double mark = -12345.5;
        if (marked)
            marked->z = mark;
        CVertex* ring = poly->GetFlatList(&device, false);
        return ring == marked && ring->z == mark;
    };
    EXPECT_FALSE(requestAndCheckReused(1.0));
    EXPECT_TRUE(requestAndCheckReused(1.0));
    EXPECT_TRUE(requestAndCheckReused(5.0));
    EXPECT_DOUBLE_EQ(poly->GetFlatStep(), 1.0);
    EXPECT_FALSE(requestAndCheckReused(5.5));  // too coarse for the ring
    EXPECT_DOUBLE_EQ(poly->GetFlatStep(), 5.5);
    EXPECT_FALSE(requestAndCheckReused(5.0));  // finer than the ring
    poly->m_Modified = true;
    EXPECT_FALSE(requestAndCheckReused(5.0));
    EXPECT_FALSE(poly->m_Modified);

    // Piece counts are never reused.
    CVertex* first = poly->GetFlatList(nullptr, false);
    first->z = 99;
    EXPECT_EQ(poly->GetFlatStep(), FLATTEN_STEP_NO_DEVICE);
    EXPECT_NE(poly->GetFlatList(nullptr, false)->z, 99);
}

// ---- length ---------------------------------------------------------------

TEST(PolyLineLength, ClosingSideCountsOnlyWhenClosedAndArcsMeasureRadiusTimesSweep)
{
    auto square = MakePolyline({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    EXPECT_DOUBLE_EQ(square->GetLength(), 3.0);
    square->m_Closed = true;
    EXPECT_DOUBLE_EQ(square->GetLength(), 4.0);

    std::mt19937 random(3);
    std::uniform_real_distribution<double> coord(-20, 20), bulge(-2.5, 2.5);
    for (int trial = 0; trial < 100; ++trial) {
        Pt s{coord(random), coord(random), bulge(random)}, e{coord(random), coord(random)};
        if (std::hypot(e.x - s.x, e.y - s.y) < 0.5 || std::fabs(s.bulge) < 0.01)
            continue;
        const ReferenceArc ref(s.x, s.y, e.x, e.y, s.bulge);
        EXPECT_NEAR(MakePolyline({s, e})->GetLength(), ref.r * std::fabs(ref.sweep), 1e-5 * ref.r) << trial;
    }
}

// ---- extents --------------------------------------------------------------

TEST(PolyLineExtents, BoxIsTheTightBoxOfDenseSamples)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> coord(-30, 30), bulge(-3, 3);
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<Pt> points;
        for (int i = 0; i < 4; ++i)
            points.push_back({coord(random), coord(random), i % 2 ? bulge(random) : 0});
        const bool closed = trial % 2;
        auto poly = MakePolyline(points, closed);
        double sampled[4] = {1e300, -1e300, 1e300, -1e300};
        // The arcs are computed with the single-precision PI, which moves a
        // centre by up to about 5e-8 of the radius.
        double tol = 1e-6;
        for (std::size_t i = 0; i < points.size(); ++i) {
            if (!closed && i + 1 == points.size())
                break;
            const Pt& s = points[i];
            const Pt& e = points[(i + 1) % points.size()];
            for (int k = 0; k <= 20000; ++k) {
                double x = s.x + (e.x - s.x) * k / 20000.0, y = s.y + (e.y - s.y) * k / 20000.0;
                if (std::fabs(s.bulge) >= 1e-5) {
                    const ReferenceArc ref(s.x, s.y, e.x, e.y, s.bulge);
                    ref.Sample(k / 20000.0, &x, &y);
                    tol = std::max(tol, 1e-7 * ref.r);
                }
                sampled[EXT_MIN_X] = std::min(sampled[EXT_MIN_X], x);
                sampled[EXT_MAX_X] = std::max(sampled[EXT_MAX_X], x);
                sampled[EXT_MIN_Y] = std::min(sampled[EXT_MIN_Y], y);
                sampled[EXT_MAX_Y] = std::max(sampled[EXT_MAX_Y], y);
            }
        }
        double box[4];
        ASSERT_TRUE(poly->GetExtents(nullptr, box));
        // Contains every sample and is no larger than the sampling's reach.
        for (int side = 0; side < 4; ++side)
            EXPECT_NEAR(box[side], sampled[side], 1e-3 + tol) << trial << " " << side;
        EXPECT_TRUE(box[EXT_MIN_X] <= sampled[EXT_MIN_X] + tol && box[EXT_MAX_X] >= sampled[EXT_MAX_X] - tol &&
                    box[EXT_MIN_Y] <= sampled[EXT_MIN_Y] + tol && box[EXT_MAX_Y] >= sampled[EXT_MAX_Y] - tol);
    }
}

TEST(PolyLineExtents, MergeWidensTheGivenBox)
{
    auto poly = MakePolyline({{-1, 0, 1}, {1, 0}});  // the lower half circle
    double box[4], merged[4] = {-5, -4, 2, 3};
    ASSERT_TRUE(poly->GetExtents(merged, box));
    EXPECT_EQ(merged[EXT_MIN_X], -5);
    EXPECT_NEAR(merged[EXT_MIN_Y], -1, 1e-6);
    EXPECT_EQ(merged[EXT_MAX_Y], 3);
}

// ---- crossing test --------------------------------------------------------

TEST(PolyLineIntersect, CrossingFollowsTheShapeAndTheVisibleFlag)
{
    auto poly = MakePolyline({{-1, 0, -1}, {1, 0}});  // clockwise: the upper half circle
    const frDoublePoint topMin(-0.2, 0.9), topMax(0.2, 1.1);
    EXPECT_TRUE(poly->IntersectRect(topMin, topMax));            // builds its ring on demand
    EXPECT_FALSE(poly->IntersectRect({-0.2, 0.3}, {0.2, 0.6}));  // inside the bow, touching nothing
    EXPECT_TRUE(poly->IntersectRect({-2, -2}, {2, 2}));          // wholly inside the box
    poly->m_Drawn = false;
    EXPECT_FALSE(poly->IntersectRect({-2, -2}, {2, 2}));

    // Only a closed polyline has its closing segment.
    auto square = MakePolyline({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    EXPECT_FALSE(square->IntersectRect({-1, 4}, {1, 6}));
    square->m_Closed = true;
    EXPECT_TRUE(square->IntersectRect({-1, 4}, {1, 6}));
}

TEST(PolyLineIntersect, AStaleRingIsNotTestedAfterAnEdit)
{
    auto poly = MakePolyline({{-1, 0, -1}, {1, 0}});
    EXPECT_TRUE(poly->IntersectRect({-0.2, 0.9}, {0.2, 1.1}));
    poly->GetHead()->bulge = 1;  // now the lower half
    poly->m_Modified = true;
    EXPECT_FALSE(poly->IntersectRect({-0.2, 0.9}, {0.2, 1.1}));
    EXPECT_TRUE(poly->IntersectRect({-0.2, -1.1}, {0.2, -0.9}));
    EXPECT_TRUE(poly->m_Modified);  // left for the next draw
}

// ---- end segment ----------------------------------------------------------

TEST(PolyLineEndSegment, AShortLastSegmentIsLookedPastWithinTheConnectDistance)
{
    auto poly = MakePolyline({{0, 0}, {10, 0}, {10.2, 0}});
    CTraceOption options;
    options.ChartType.i_ConDis = 0;
    frDoublePoint end, dir;
    poly->m_ActiveEnd = 1;
    poly->GetEndSegment(&end, &dir, options);
    EXPECT_EQ(end.x, 10.2);
    EXPECT_EQ(dir.x, 10);
    options.ChartType.i_ConDis = 10;
    poly->GetEndSegment(&end, &dir, options);
    EXPECT_EQ(dir.x, 0);

    // The end segment's own width counts as well.
    poly->m_ActiveEnd = 1;
    options.ChartType.i_ConDis = 0;
    poly->GetHead()->next->startWidth = 1;
    poly->GetEndSegment(&end, &dir, options);
    EXPECT_EQ(dir.x, 0);
}

// ---- drawing --------------------------------------------------------------

TEST(PolyLineDraw, OpenAndClosedRingsGoToTheirSlotsAndShortOnesDrawNothing)
{
    CLayer layer;
    layer.SetColor(3);
    auto poly = MakePolyline({{0, 0, 0, 1}, {10, 0, 0, 2}, {10, 5}});
    poly->m_Color = 5;
    CRecordingDevice device;
    poly->Draw(&device);
    poly->m_Closed = true;
    poly->m_Selected = true;
    poly->m_Color = ENTITY_COLOR_BY_LAYER;
    poly->m_Layer = &layer;
    device.result = false;
    poly->Draw(&device);
    CPolyLine single;
    single.AddPoint(1, 1);
    single.Draw(&device);
    ASSERT_EQ(device.calls.size(), 2u);
    EXPECT_EQ(device.calls[0], "DrawPolyline (0,0 w1) (10,0 w2) (10,5 w0) color=5 selected=0");
    EXPECT_EQ(device.calls[1], "DrawClosedPolyline (0,0 w1) (10,0 w2) (10,5 w0) color=3 selected=1");
    EXPECT_FALSE(poly->m_Drawn);  // the device's answer
}

// ---- copies ---------------------------------------------------------------

TEST(PolyLineCopy, CloneCarriesVerticesAndCommonFieldsButNotTheCache)
{
    auto poly = MakePolyline({{0, 0, 0.3, 1, 2}, {5, 0}, {5, 5}}, true);
    poly->m_Id = 777;
    poly->GetHead()->mark = 8;
    poly->Flatten(-5);
    auto clone = poly->Clone();
    auto* copy = dynamic_cast<CPolyLine*>(clone.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->m_Id, 777u);
    EXPECT_TRUE(copy->m_Closed);
    EXPECT_EQ(copy->GetFlatHead(), nullptr);
    ASSERT_EQ(copy->GetPointCount(), 3);
    const CVertex* h = copy->GetHead();
    EXPECT_NE(h, poly->GetHead());
    EXPECT_EQ(h->bulge, 0.3);
    EXPECT_EQ(h->mark, 8);

    // Other classes and itself are ignored.
    CCircle circle;
    copy->CopyFrom(&circle);
    copy->CopyFrom(copy);
    EXPECT_EQ(copy->GetPointCount(), 3);
}

TEST(PolyLineCopy, ADroppedRepeatHandsItsSegmentToTheVertexKept)
{
    // A source ring holding an exact repeat (built by hand, as an editor
    // might): the repeat carries the arc and widths of the segment after it.
    CPolyLine source;
    source.AddPoint(0, 0);
    source.AddPoint(5, 0);
    auto* repeat = new CVertex(5, 0, 0.7, 0.9, 0);
    repeat->bulge = 0.5;
    source.GetTail()->next = repeat;  // linked in by hand past AddVertex's check
    repeat->prev = source.GetTail();
    repeat->next = source.GetHead();
    source.GetHead()->prev = repeat;
    source.AddPoint(10, 0);

    CPolyLine copy;
    copy.CopyFrom(&source);
    ASSERT_EQ(copy.GetPointCount(), 3);
    EXPECT_EQ(copy.GetHead()->next->bulge, 0.5);
    EXPECT_EQ(copy.GetHead()->next->endWidth, 0.9);
    EXPECT_FALSE(copy.IsAllStraight());
    EXPECT_NEAR(copy.GetLength(), source.GetLength(), 1e-12);
}

// ---- project record -------------------------------------------------------

// Little-endian byte builder for expected records.
struct Bytes {
    std::string s;
    template <typename T>
    Bytes& Raw(T v)
    {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &v, sizeof v);  // the test host is little-endian
        s.append(reinterpret_cast<char*>(b), sizeof b);
        return *this;
    }
    Bytes& U32(std::uint32_t v) { return Raw(v); }
    Bytes& F64(double v) { return Raw(v); }
};

std::string SaveBytes(CEntity& entity)
{
    bool ok = false;
    std::string bytes = WriteToBytes([&](std::FILE* f) { return entity.Save(f); }, &ok);
    EXPECT_TRUE(ok);
    return bytes;
}

TEST(PolyLineRecord, TwoVertexRecordIsTheCommonRecordAndOneHundredOneBytes)
{
    auto poly = MakePolyline({{1, 2, 0.25, 3, 4}, {5, 6, 0, 7, 8}});
    poly->m_Id = 0x01020304;
    poly->m_Width = 1.5;
    poly->m_Closed = true;
    poly->Flatten(-7);
    const std::string bytes = SaveBytes(*poly);
    Bytes expected;
    expected.F64(0.0).F64(-7.0);
    expected.s += '\0';  // an arc: not all straight
    expected.U32(2).F64(1).F64(2).F64(3).F64(4).F64(0.25).F64(5).F64(6).F64(7).F64(8).F64(0);
    EXPECT_EQ(bytes.substr(34), expected.s);
    EXPECT_EQ(bytes.substr(0, 8), Bytes().U32(ENTITY_POLYLINE).U32(0x01020304).s);
}

TEST(PolyLineRecord, RecordsRoundTripByteForByte)
{
    std::vector<std::unique_ptr<CPolyLine>> cases;
    cases.push_back(std::make_unique<CPolyLine>());
    cases.push_back(MakePolyline({{0, 0}, {1e-300, -3.5}}));
    cases.push_back(MakePolyline({{0.1, 0.2, -2.5, 0.5, 0.75}, {3, 4, 0.1}, {-8, 1e6, 0, 2, 2}}, true));
    cases.back()->m_ActiveEnd = 1;
    cases.back()->m_Joined = true;
    for (auto& poly : cases) {
        const std::string first = SaveBytes(*poly);
        FilePtr file = OpenBytes(first);
        std::unique_ptr<CEntity> loaded = CreateEntityFromProject(file.get());
        ASSERT_NE(dynamic_cast<CPolyLine*>(loaded.get()), nullptr);
        EXPECT_EQ(SaveBytes(*loaded), first);
    }
}

TEST(PolyLineRecord, EveryTruncatedPrefixFailsCleanly)
{
    auto poly = MakePolyline({{0.1, 0.2, -2.5, 0.5, 0.75}, {3, 4, 0.1}, {-8, 1, 0, 2, 2}});
    const std::string full = SaveBytes(*poly);
    for (std::size_t n = 0; n < full.size(); ++n) {
        FilePtr file = OpenBytes(full.substr(0, n));
        EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr) << "prefix " << n;
    }
    // A polyline whose load failed is still whole: it saves again.
    CPolyLine partial;
    FilePtr file = OpenBytes(full.substr(4, full.size() - 4 - 1));
    EXPECT_FALSE(partial.Load(file.get()));
    EXPECT_FALSE(SaveBytes(partial).empty());
}

TEST(PolyLineRecord, ImpossibleCountsAndDamagedValuesAreRefused)
{
    auto poly = MakePolyline({{0, 0}, {1, 1}});
    std::string bytes = SaveBytes(*poly);
    const std::size_t countAt = 34 + 17;
    // A count far beyond the bytes that follow fails before any vertex.
    std::string huge = bytes;
    huge.replace(countAt, 4, Bytes().U32(0xFFFFFFFFu).s);
    FilePtr file = OpenBytes(huge);
    EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr);

    // A coordinate that is not a number, or beyond the range DXF import
    // takes too, cannot be drawn or measured; the range's edge can.
    for (const double x : {std::nan(""), 1e308, -kMaxCoordinate * 1.000001, kMaxCoordinate}) {
        std::string damaged = bytes;
        damaged.replace(countAt + 4, 8, Bytes().F64(x).s);
        file = OpenBytes(damaged);
        EXPECT_EQ(CreateEntityFromProject(file.get()) != nullptr, x == kMaxCoordinate) << x;
    }

    // A damaged bulge or width becomes straight and thin.
    std::string soft = bytes;
    soft.replace(countAt + 4 + 16, 8, Bytes().F64(std::nan("")).s);
    soft.replace(countAt + 4 + 32, 8, Bytes().F64(INFINITY).s);
    file = OpenBytes(soft);
    auto loaded = CreateEntityFromProject(file.get());
    ASSERT_NE(loaded, nullptr);
    const CVertex* head = static_cast<CPolyLine*>(loaded.get())->GetHead();
    EXPECT_EQ(head->startWidth, 0);
    EXPECT_EQ(head->bulge, 0);
}

TEST(PolyLineRecord, LoadMergesRepeatsAndCorrectsTheStraightFlag)
{
    Bytes record;
    record.U32(ENTITY_POLYLINE).U32(100).Raw<std::int16_t>(256).Raw<std::int16_t>(256).F64(0).F64(0).U32(0);
    record.s += '\0';
    record.s += '\0';
    record.F64(0).F64(0);
    record.s += '\1';  // claims all straight
    record.U32(3);
    record.F64(0).F64(0).F64(0).F64(0).F64(0);
    record.F64(4).F64(0).F64(0).F64(0).F64(0);
    record.F64(4).F64(0).F64(0.5).F64(0.6).F64(1);  // repeat carrying an arc
    FilePtr file = OpenBytes(record.s);
    auto loaded = CreateEntityFromProject(file.get());
    ASSERT_NE(loaded, nullptr);
    auto* poly = static_cast<CPolyLine*>(loaded.get());
    ASSERT_EQ(poly->GetPointCount(), 2);
    EXPECT_EQ(poly->GetTail()->bulge, 1);
    EXPECT_EQ(poly->GetTail()->startWidth, 0.5);
    EXPECT_FALSE(poly->IsAllStraight());
    EXPECT_GE(GetIdCounter(), 101u);
}

}  // namespace
