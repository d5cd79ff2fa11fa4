#include "model/circle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "model/constants.h"
#include "model/geometry.h"
#include "model/polyline.h"
#include "recording_device.h"
#include "test_entity.h"
#include "trace/trace_option.h"

namespace {

constexpr double kTruePi = 3.14159265358979323846;

std::vector<const CVertex*> ChainOf(const CVertex* head)
{
    std::vector<const CVertex*> out;
    for (const CVertex* v = head; v && out.size() < 100000; v = v->next)
        out.push_back(v);
    return out;
}

void SetFlattenStep(CFrDevice& device, double step)
{
    device.Transform().SetDeviceRect(0, 0, 1000, 1000);
    device.Transform().SetWorldBox(0, 0, step * 200, step * 200);
    ASSERT_NEAR(device.GetFlattenStep(), step, step * 1e-12);
}

double Distance(double x1, double y1, double x2, double y2) { return std::hypot(x2 - x1, y2 - y1); }

std::vector<CGripRecord*> GripsOf(CGripRecord* head)
{
    std::vector<CGripRecord*> out;
    for (CGripRecord* g = head; g; g = g->next)
        out.insert(out.begin(), g);  // oldest first
    return out;
}

void FreeGrips(CGripRecord* head)
{
    while (head) {
        CGripRecord* next = head->next;
        delete head;
        head = next;
    }
}

// ---- construction and angles ----------------------------------------------

TEST(CircleConstruction, FactoriesAndArcAngleNormalisation)
{
    EXPECT_EQ(NewCircle({1, 2, 3}, -5)->m_Radius, 5);
    EXPECT_EQ(CreateEntity(ENTITY_CIRCLE)->m_Type, ENTITY_CIRCLE);
    EXPECT_NE(dynamic_cast<CArc*>(CreateEntity(ENTITY_ARC).get()), nullptr);

    auto arc = NewArc({0, 0}, -5, 7.0, -1.0);
    EXPECT_EQ(arc->m_Radius, 5);
    EXPECT_DOUBLE_EQ(arc->m_StartAngle, 7.0 - TWO_PI);
    EXPECT_DOUBLE_EQ(arc->m_EndAngle, -1.0 + TWO_PI);

    arc = NewArc({0, 0}, 1, TWO_PI, TWO_PI);
    EXPECT_EQ(arc->m_StartAngle, TWO_PI);  // exactly TWO_PI stays
    EXPECT_EQ(arc->m_EndAngle, TWO_PI);    // equal angles: no sweep, not a full turn

    arc = NewArc({0, 0}, 1, 1e300, -1e300);  // ends at once, lands in range
    EXPECT_TRUE(arc->m_StartAngle >= 0 && arc->m_StartAngle <= TWO_PI);
    EXPECT_GE(arc->m_EndAngle, arc->m_StartAngle);

    arc = NewArc({0, 0}, 1, 1.0, 2.0);
    arc->SetStartAngle(NAN);
    arc->SetEndAngle(INFINITY);
    EXPECT_EQ(arc->m_StartAngle, 1.0);
    EXPECT_EQ(arc->m_EndAngle, 2.0);
}

// ---- drawing --------------------------------------------------------------

TEST(CircleDraw, FlatListLiesOnTheCircleWithChordsOfTheDeviceStepSmallOnesBecomeTwoPoints)
{
    auto circle = NewCircle({3, 4}, 10);
    circle->m_Width = 0.5;
    CRecordingDevice device;
    SetFlattenStep(device, 2.0);
    circle->Draw(&device);
    const auto chain = ChainOf(circle->GetFlatHead());
    const double step = 2 * std::asin(2.0 / 20);
    ASSERT_EQ(chain.size(), static_cast<std::size_t>(std::ceil((TWO_PI - 1e-5) / step)));
    for (std::size_t i = 0; i < chain.size(); ++i) {
        EXPECT_NEAR(Distance(chain[i]->x, chain[i]->y, 3, 4), 10, 1e-9);
        EXPECT_EQ(chain[i]->startWidth, 0.5);
        if (i > 0) {
            EXPECT_NEAR(Distance(chain[i]->x, chain[i]->y, chain[i - 1]->x, chain[i - 1]->y), 2.0, 1e-9);
        }
    }
    // The closing chord is no longer than the others.
    EXPECT_LE(Distance(chain.back()->x, chain.back()->y, chain[0]->x, chain[0]->y), 2.0 + 1e-9);
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_EQ(device.calls[0].rfind("DrawClosedPolyline (13,4 w0.5) ", 0), 0u);

    // A circle no wider than the chord becomes two points.
    NewCircle({0, 0}, 1)->Draw(&device);  // 2 r - 1e-5 is not above the chord
    ASSERT_EQ(device.calls.size(), 2u);
    EXPECT_EQ(device.calls[1].rfind("DrawClosedPolyline (1,0 w0) (-1,-8.742278e-08 w0) ", 0), 0u);
}

TEST(CircleDraw, ArcListRunsFromStartToEndWithinTheSweep)
{
    auto arc = NewArc({0, 0}, 50, 5.5, 5.5 + 1.3);  // crosses angle 0
    CRecordingDevice device;
    SetFlattenStep(device, 3.0);
    arc->Draw(&device);
    const auto chain = ChainOf(arc->GetFlatHead());
    ASSERT_GE(chain.size(), 3u);
    EXPECT_NEAR(chain.front()->y, arc->m_StartPoint.y, 1e-9);
    EXPECT_NEAR(chain.back()->y, arc->m_EndPoint.y, 1e-9);
    double travelled = 0;
    for (std::size_t i = 1; i < chain.size(); ++i) {
        const double d = Distance(chain[i]->x, chain[i]->y, chain[i - 1]->x, chain[i - 1]->y);
        EXPECT_TRUE(d > 0 && d <= 3.0 + 1e-9);
        travelled += d;
    }
    EXPECT_NEAR(travelled, 50 * 1.3, 0.05);
}

TEST(CircleDraw, ListIsReusedUntilTheChordChangesFivefoldOrTheShapeChanges)
{
    auto circle = NewCircle({0, 0}, 100);
    CRecordingDevice device;
    auto drawAndCheckReused = [&](double step) {
        SetFlattenStep(device, step);
        const CVertex* marked = circle->GetFlatHead();
        if (marked)
            const_cast<CVertex*>(marked)->z = 77;
        circle->Draw(&device);
        return circle->GetFlatHead() == marked && marked->z == 77;
    };
    EXPECT_FALSE(drawAndCheckReused(1.0));
    EXPECT_TRUE(drawAndCheckReused(5.0));
    EXPECT_FALSE(drawAndCheckReused(5.5));
    EXPECT_FALSE(drawAndCheckReused(5.0));  // finer than the list
    circle->m_Modified = true;
    EXPECT_FALSE(drawAndCheckReused(5.0));
    EXPECT_FALSE(circle->m_Modified);
}

TEST(CircleDraw, TinyChordsOnHugeCirclesAreCapped)
{
    auto circle = NewCircle({0, 0}, 1e9);
    CRecordingDevice device;
    SetFlattenStep(device, 1e-3);
    circle->Draw(&device);
    EXPECT_LE(ChainOf(circle->GetFlatHead()).size(), static_cast<std::size_t>(MAX_ARC_PIECES) + 1);
    auto arc = NewArc({0, 0}, 1e9, 0, 6);
    arc->Draw(&device);
    EXPECT_LE(ChainOf(arc->GetFlatHead()).size(), static_cast<std::size_t>(MAX_ARC_PIECES) + 2);
}

// ---- extents --------------------------------------------------------------

TEST(CircleExtents, CircleBoxMergesAndArcBoxMatchesDenseSampling)
{
    double box[4], merge[4] = {0, 10, 0, 1};
    ASSERT_TRUE(NewCircle({1, 2}, 3)->GetExtents(merge, box));
    EXPECT_EQ(box[EXT_MIN_X], -2);
    EXPECT_TRUE(merge[EXT_MIN_X] == -2 && merge[EXT_MAX_X] == 10 && merge[EXT_MAX_Y] == 5);

    std::mt19937 random(5);
    std::uniform_real_distribution<double> angle(-10, 10), sweep(0, 6.2);
    for (int trial = 0; trial < 300; ++trial) {
        const double start = angle(random);
        auto arc = NewArc({2, -3}, 7, start, start + sweep(random));
        double sampled[4] = {1e300, -1e300, 1e300, -1e300};
        for (int k = 0; k <= 20000; ++k) {
            const double a = arc->m_StartAngle + (arc->m_EndAngle - arc->m_StartAngle) * k / 20000.0;
            const double x = 2 + 7 * std::cos(a), y = -3 + 7 * std::sin(a);
            sampled[EXT_MIN_X] = std::min(sampled[EXT_MIN_X], x);
            sampled[EXT_MAX_X] = std::max(sampled[EXT_MAX_X], x);
            sampled[EXT_MIN_Y] = std::min(sampled[EXT_MIN_Y], y);
            sampled[EXT_MAX_Y] = std::max(sampled[EXT_MAX_Y], y);
        }
        double box[4];
        ASSERT_TRUE(arc->GetExtents(nullptr, box));
        for (int side = 0; side < 4; ++side)
            EXPECT_NEAR(box[side], sampled[side], 1e-5) << trial << " " << side;
    }
}

// ---- hit tests and snap segments ------------------------------------------

TEST(CircleIntersect, CrossingNeedsTheOutlineAndTheCircleClosesItsList)
{
    auto circle = NewCircle({0, 0}, 10);
    auto arc = NewArc({0, 0}, 10, 0, kTruePi);  // the upper half
    for (CCircle* entity : {static_cast<CCircle*>(circle.get()), static_cast<CCircle*>(arc.get())}) {
        // Before any draw the test builds its own list.
        EXPECT_TRUE(entity->IntersectRect({9, -1}, {11, 1}));
        EXPECT_FALSE(entity->IntersectRect({-1, 3}, {1, 4}));  // inside, touching nothing
        EXPECT_TRUE(entity->IntersectRect({-20, -20}, {20, 20}));
    }
    // Only the circle's list closes: a box on the chord from the last point
    // back to the first crosses the circle and misses the arc.
    CRecordingDevice device;
    SetFlattenStep(device, 1);
    circle->Draw(&device);
    arc->Draw(&device);
    for (CCircle* entity : {static_cast<CCircle*>(circle.get()), static_cast<CCircle*>(arc.get())}) {
        const auto chain = ChainOf(entity->GetFlatHead());
        const double mx = (chain.front()->x + chain.back()->x) / 2, my = (chain.front()->y + chain.back()->y) / 2;
        EXPECT_EQ(entity->IntersectRect({mx - 1e-4, my - 1e-4}, {mx + 1e-4, my + 1e-4}), entity == circle.get());
    }
    circle->m_Drawn = false;
    EXPECT_FALSE(circle->IntersectRect({-20, -20}, {20, 20}));
}

TEST(CircleIntersect, SnapSegmentsDescribeTheWholeCurveWhenItCrossesTheBox)
{
    auto circle = NewCircle({1, 2}, 3);
    auto arc = NewArc({1, 2}, 3, 0.5, 2.0);
    std::vector<CSnapSegment> segments;
    circle->CollectSegments({50, 50}, {60, 60}, segments);
    EXPECT_TRUE(segments.empty());
    circle->CollectSegments({-10, -10}, {10, 10}, segments);
    arc->CollectSegments({-10, -10}, {10, 10}, segments);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].endAngle, TWO_PI);
    EXPECT_EQ(segments[1].startAngle, 0.5);
}

// ---- grips ----------------------------------------------------------------

TEST(CircleGrips, CentreAndQuadrantsThenRadiusAndCentreMoves)
{
    auto circle = NewCircle({1, 2, 5}, 3);
    CGripRecord* list = nullptr;
    circle->AddGrips(nullptr, &list);
    const auto grips = GripsOf(list);
    ASSERT_EQ(grips.size(), static_cast<std::size_t>(circle->GetGripCount()));
    EXPECT_EQ(grips[0]->point.z, 5);
    const double expected[4][2] = {{4, 2}, {1, 5}, {-2, 2}, {1, -1}};
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(grips[i]->index, i);
        EXPECT_NEAR(grips[i]->point.x, expected[i - 1][0], 1e-6);
        EXPECT_NEAR(grips[i]->point.y, expected[i - 1][1], 1e-6);
    }
    FreeGrips(list);

    CRecordingDevice device;
    circle->Draw(&device);
    EXPECT_TRUE(circle->MoveGrip(1, 7, 0, 2));
    EXPECT_EQ(circle->m_Radius, 5);
    EXPECT_EQ(circle->GetFlatHead(), nullptr);   // redrawn with the new shape
    EXPECT_FALSE(circle->MoveGrip(1, 2, 0, 3));  // onto the centre
    EXPECT_EQ(circle->m_Radius, 5);
}

TEST(ArcGrips, MovingTheMiddleAcrossTheChordReversesTheArc)
{
    // Angles are normalised with the single-precision TWO_PI, which moves the
    // refitted end points by up to about 2e-7 of the radius.
    constexpr double kGripTol = 2e-6;
    // Upper half of the unit circle, from (1,0) to (-1,0).
    auto arc = NewArc({0, 0}, 1, 0, kTruePi);
    ASSERT_TRUE(arc->MoveGrip(0, -0.5, 0, 2));
    // Still through both old end points, now running from the old end to the
    // old start through (0, -0.5).
    EXPECT_NEAR(arc->m_StartPoint.x, -1, kGripTol);
    EXPECT_NEAR(arc->m_EndPoint.x, 1, kGripTol);
    frDoublePoint middle;
    arc->GetMidPoint(&middle);
    EXPECT_NEAR(middle.y, -0.5, kGripTol);

    auto upper = NewArc({0, 0}, 1, 0, kTruePi);
    // Moving the end beyond the start's side: the arc still joins the start
    // and the new point through the middle, now starting at the new point.
    ASSERT_TRUE(upper->MoveGrip(3, 1, 0, 3));
    EXPECT_NEAR(upper->m_StartPoint.x, 3, kGripTol);
    EXPECT_NEAR(upper->m_EndPoint.x, 1, kGripTol);
    upper->GetMidPoint(&middle);
    EXPECT_NEAR(Distance(middle.x, middle.y, upper->m_Centre.x, upper->m_Centre.y), upper->m_Radius, kGripTol);

    // Collinear grips leave the arc unchanged.
    arc = NewArc({0, 0}, 1, 0, kTruePi);
    const double start = arc->m_StartAngle, end = arc->m_EndAngle;
    EXPECT_FALSE(arc->MoveGrip(0, 0, 0, 2));  // middle onto the chord
    EXPECT_FALSE(arc->MoveGrip(1, 0, 0, 7));  // no such grip
    EXPECT_TRUE(arc->m_StartAngle == start && arc->m_EndAngle == end);
}

// ---- copies ---------------------------------------------------------------

TEST(CircleCopy, ClonesCarryTheirClassData)
{
    auto arc = NewArc({1, 2, 3}, 4, 0.5, 1.5);
    arc->m_Id = 4242;
    arc->m_Color = 12;
    auto clone = arc->Clone();
    auto* copy = dynamic_cast<CArc*>(clone.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->m_Id, 4242u);
    EXPECT_EQ(copy->m_Color, 12);
    EXPECT_EQ(copy->m_StartAngle, 0.5);
    EXPECT_EQ(copy->m_EndPoint.x, arc->m_EndPoint.x);
    EXPECT_EQ(dynamic_cast<CArc*>(NewCircle({5, 6}, 7)->Clone().get()), nullptr);

    // An arc copied into a circle stays a circle; a polyline is ignored.
    CCircle circle;
    circle.CopyFrom(arc.get());
    CPolyLine poly;
    circle.CopyFrom(&poly);
    EXPECT_EQ(circle.m_Type, ENTITY_CIRCLE);
    EXPECT_EQ(circle.m_Radius, 4);
}

// ---- arc merging ----------------------------------------------------------

TEST(ArcMerge, NeighbouringArcsOfOneCircleMergeOthersDoNot)
{
    CTraceOption options;
    options.ChartType.i_ConDis = 1;
    frDoublePoint centre;
    double radius = 0, start = 0, end = 0;

    // B (0..90 degrees) ends where A (90..200 degrees) starts.
    auto a = NewArc({10, 10}, 20, 90 * DEGREE, 200 * DEGREE);
    auto b = NewArc({10, 10}, 20, 0, 90 * DEGREE);
    ASSERT_TRUE(a->MatchForMerge(*b, &centre, &radius, &start, &end, options));
    EXPECT_NEAR(radius, 20, 1e-6);
    auto merged = NewArc(centre, radius, start, end);
    EXPECT_NEAR(merged->m_StartAngle, 0, 1e-6);
    EXPECT_NEAR(merged->m_EndAngle, 200 * DEGREE, 1e-6);

    // The same the other way round: A's end meets B's start.
    ASSERT_TRUE(b->MatchForMerge(*a, &centre, &radius, &start, &end, options));
    merged = NewArc(centre, radius, start, end);
    EXPECT_NEAR(merged->m_EndAngle - merged->m_StartAngle, 200 * DEGREE, 1e-6);

    // Two halves close a circle.
    auto upper = NewArc({0, 0}, 5, 0, PI);
    auto lower = NewArc({0.2, 0}, 5.2, PI, TWO_PI);
    ASSERT_TRUE(upper->MatchForMerge(*lower, &centre, &radius, &start, &end, options));
    EXPECT_NEAR(radius, 5.1, 1e-12);
    EXPECT_TRUE(start == 0 && end == 0);

    // Distant ends or clearly different radii do not merge.
    a = NewArc({0, 0}, 20, 100 * DEGREE, 200 * DEGREE);
    b = NewArc({0, 0}, 20, 0, 90 * DEGREE);
    EXPECT_FALSE(a->MatchForMerge(*b, &centre, &radius, &start, &end, options));
    options.ChartType.i_ConDis = 4;  // the ends are about 3.5 apart
    EXPECT_TRUE(a->MatchForMerge(*b, &centre, &radius, &start, &end, options));

    // Ends that meet, but on circles of clearly different size.
    options.ChartType.i_ConDis = 1;
    EXPECT_FALSE(NewArc({0, -30}, 50, 90 * DEGREE, 120 * DEGREE)
                     ->MatchForMerge(*NewArc({0, 10}, 10, 0, 90 * DEGREE), &centre, &radius, &start, &end, options));
}

// ---- project records ------------------------------------------------------

struct Bytes {
    std::string s;
    Bytes& F64(double v)
    {
        char b[8];
        std::memcpy(b, &v, 8);  // the test host is little-endian
        s.append(b, 8);
        return *this;
    }
};

std::string SaveBytes(CEntity& entity)
{
    bool ok = false;
    std::string bytes = WriteToBytes([&](std::FILE* f) { return entity.Save(f); }, &ok);
    EXPECT_TRUE(ok);
    return bytes;
}

TEST(CircleRecord, LayoutAfterTheCommonRecord)
{
    auto circle = NewCircle({1.5, -2, 0.25}, 8);
    std::string bytes = SaveBytes(*circle);
    EXPECT_EQ(bytes.substr(34), Bytes().F64(1.5).F64(-2).F64(0.25).F64(8).s);

    auto arc = NewArc({1.5, -2, 0.25}, 8, 0.5, 7.0);
    bytes = SaveBytes(*arc);
    EXPECT_EQ(bytes.substr(34), Bytes().F64(1.5).F64(-2).F64(0.25).F64(8).F64(0.5).F64(7.0 - TWO_PI).s);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 4u);
}

TEST(CircleRecord, RecordsRoundTripByteForByteAndAnglesLoadAsStored)
{
    auto arc = NewArc({1, 2, 3}, 4, 1, 2);
    arc->m_StartAngle = 9.5;  // outside the normal range: loads as it was
    arc->m_EndAngle = -3;
    std::vector<std::unique_ptr<CEntity>> cases;
    cases.push_back(NewCircle({-1e6, 1e-9, 0}, 0));
    cases.push_back(std::move(arc));
    for (auto& entity : cases) {
        const std::string first = SaveBytes(*entity);
        FilePtr file = OpenBytes(first);
        auto loaded = CreateEntityFromProject(file.get());
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(SaveBytes(*loaded), first);
    }
    FilePtr file = OpenBytes(SaveBytes(*cases[1]));
    auto again = CreateEntityFromProject(file.get());
    auto* arcAgain = dynamic_cast<CArc*>(again.get());
    ASSERT_NE(arcAgain, nullptr);
    EXPECT_EQ(arcAgain->m_StartAngle, 9.5);
    EXPECT_NEAR(arcAgain->m_StartPoint.x, 1 + 4 * std::cos(9.5), 1e-12);
}

TEST(CircleRecord, EveryTruncatedPrefixFailsCleanly)
{
    auto circle = NewCircle({1, 2, 3}, 4);
    auto arc = NewArc({1, 2, 3}, 4, 1, 2);
    for (CEntity* entity : {static_cast<CEntity*>(circle.get()), static_cast<CEntity*>(arc.get())}) {
        const std::string full = SaveBytes(*entity);
        for (std::size_t n = 0; n < full.size(); ++n) {
            FilePtr file = OpenBytes(full.substr(0, n));
            EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr) << "prefix " << n;
        }
    }
}

TEST(CircleRecord, DamagedValuesAreRefusedOrRepaired)
{
    auto arc = NewArc({1, 2, 3}, 4, 1, 2);
    const std::string good = SaveBytes(*arc);
    for (std::size_t at : {34u, 42u, 58u, 66u, 74u}) {  // x, y, radius, start, end
        std::string bad = good;
        bad.replace(at, 8, Bytes().F64(at == 58 ? INFINITY : NAN).s);
        FilePtr file = OpenBytes(bad);
        EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr) << at;
    }
    std::string negative = good;
    negative.replace(58, 8, Bytes().F64(-4).s);
    FilePtr file = OpenBytes(negative);
    auto loaded = CreateEntityFromProject(file.get());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(static_cast<CArc*>(loaded.get())->m_Radius, 4);
}

}  // namespace
