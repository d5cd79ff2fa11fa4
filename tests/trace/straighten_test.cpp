#include "trace/straighten.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "model/polyline.h"
#include "trace/trace_option.h"

namespace {

struct Pt {
    double x, y, width = 0, bulge = 0;
};

std::unique_ptr<CPolyLine> MakePolyline(const std::vector<Pt>& points, bool closed = false)
{
    auto poly = std::make_unique<CPolyLine>();
    for (const Pt& p : points) {
        auto* v = new CVertex(p.x, p.y, p.width, p.width, 0);
        v->bulge = p.bulge;
        EXPECT_TRUE(poly->AddVertex(v, true));
    }
    poly->m_Closed = closed;
    return poly;
}

std::vector<Pt> PointsOf(const CPolyLine& poly)
{
    std::vector<Pt> out;
    const CVertex* v = poly.GetHead();
    if (v == nullptr)
        return out;
    do {
        out.push_back({v->x, v->y, v->startWidth, v->bulge});
        v = v->next;
    } while (v != poly.GetHead());
    return out;
}

CVertex* VertexAt(const CPolyLine& poly, int index)
{
    CVertex* v = poly.GetHead();
    while (index-- > 0)
        v = v->next;
    return v;
}

// The search as the plain definition states it: test each longer run anew.
CVertex* ReferenceFindStraightRun(const CPolyLine& poly, CVertex* first, double maxDis)
{
    CVertex* candidate = first->next->next;
    if (!IsStraightRun(poly, first, candidate, maxDis))
        return nullptr;
    for (;;) {
        if (!poly.m_Closed && candidate == poly.GetTail())
            return candidate;
        CVertex* next = candidate->next;
        if (next == first)
            return nullptr;
        if (!IsStraightRun(poly, first, next, maxDis))
            return candidate;
        candidate = next;
    }
}

TEST(StraightenRuns, ShortOrCurvedPolylinesAreLeftAlone)
{
    auto two = MakePolyline({{0, 0}, {10, 0.1}});
    StraightenPolyline(*two, 1.0);
    EXPECT_EQ(two->GetPointCount(), 2);

    auto arc = MakePolyline({{0, 0, 0, 0.2}, {5, 0.1}, {10, 0}});
    StraightenPolyline(*arc, 1.0);
    EXPECT_EQ(arc->GetPointCount(), 3);
}

TEST(StraightenRuns, ZigzagWithinTheDistanceBecomesOneChord)
{
    auto poly = MakePolyline({{0, 0, 1.0}, {1, 0.4, 1.0}, {2, 0, 1.0}, {3, 0.4, 1.0}, {4, 0, 1.0}});
    StraightenPolyline(*poly, 0.5);
    const std::vector<Pt> got = PointsOf(*poly);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_DOUBLE_EQ(got[0].x, 0);
    EXPECT_DOUBLE_EQ(got[1].x, 4);
    EXPECT_DOUBLE_EQ(got[0].width, 1.0);
}

TEST(StraightenRuns, RunIsTwoStraightSegmentsOrMoreWithinTheTolerance)
{
    auto poly = MakePolyline({{0, 0}, {1, 0.9}, {2, 0}, {3, 0}});
    CVertex* head = poly->GetHead();
    EXPECT_FALSE(IsStraightRun(*poly, head, head->next, 1.0));
    EXPECT_FALSE(IsStraightRun(*poly, nullptr, head, 1.0));
    // From the tail round to the second vertex passes the head of an open ring.
    EXPECT_FALSE(IsStraightRun(*poly, poly->GetTail(), head->next, 5.0));
    poly->m_Closed = true;
    EXPECT_TRUE(IsStraightRun(*poly, poly->GetTail(), head->next, 5.0));
    // 0.9 off the chord: too far for a distance of 0.5, not for widths of 2.
    EXPECT_FALSE(IsStraightRun(*poly, head, head->next->next, 0.5));
    head->startWidth = head->next->startWidth = 2.0;
    EXPECT_TRUE(IsStraightRun(*poly, head, head->next->next, 0.5));
}

TEST(StraightenRuns, DistantWidthEndsARunButMayBeItsLastVertex)
{
    auto poly = MakePolyline({{0, 0, 1}, {1, 0, 1}, {2, 0, 2.2}, {3, 0, 1}, {4, 0, 1}});
    EXPECT_EQ(FindStraightRun(*poly, poly->GetHead(), 0.5), VertexAt(*poly, 2));
    StraightenPolyline(*poly, 0.5);
    const std::vector<Pt> got = PointsOf(*poly);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_DOUBLE_EQ(got[1].x, 2);
    EXPECT_DOUBLE_EQ(got[0].width, 1.0);
    EXPECT_DOUBLE_EQ(got[1].width, 2.2);
}

TEST(StraightenRuns, AThinRunTakesInnerWidthsUpToHalfAPixel)
{
    for (double inner : {0.45, 0.55}) {
        auto poly = MakePolyline({{0, 0, 0}, {1, 0.1, inner}, {2, 0, 0}});
        EXPECT_EQ(FindStraightRun(*poly, poly->GetHead(), 0.5) != nullptr, inner < 0.5) << inner;
    }
}

TEST(StraightenRuns, ChordTakesTheMeanOfUniformWidthsElseTheLargest)
{
    auto uniform = MakePolyline({{0, 0, 1.0}, {1, 0, 1.4}, {2, 0, 0.6}, {3, 0, 5.0}, {3, 5, 5.0}});
    CollapseStraightRun(*uniform, uniform->GetHead(), VertexAt(*uniform, 3));
    EXPECT_EQ(uniform->GetPointCount(), 3);
    EXPECT_DOUBLE_EQ(uniform->GetHead()->startWidth, 1.0);

    auto mixed = MakePolyline({{0, 0, 1.0}, {1, 0, 1.5}, {2, 0, 1.5}, {3, 0, 1.5}, {4, 0, 0.5}, {5, 0, 0}});
    StraightenPolyline(*mixed, 0.5);
    EXPECT_EQ(mixed->GetPointCount(), 2);
    EXPECT_DOUBLE_EQ(mixed->GetHead()->startWidth, 1.5);

    auto thin = MakePolyline({{0, 0, 0.005}, {1, 0, 0.01}, {2, 0, 0}});
    StraightenPolyline(*thin, 0.5);
    EXPECT_DOUBLE_EQ(thin->GetHead()->startWidth, 0.0);
}

std::vector<Pt> SquareRing(int startOffset)
{
    // 40 vertices, ten per side of a 10 x 10 square, starting part way along.
    std::vector<Pt> ring;
    for (int i = 0; i < 10; ++i)
        ring.push_back({double(i), 0});
    for (int i = 0; i < 10; ++i)
        ring.push_back({10, double(i)});
    for (int i = 0; i < 10; ++i)
        ring.push_back({double(10 - i), 10});
    for (int i = 0; i < 10; ++i)
        ring.push_back({0, double(10 - i)});
    std::vector<Pt> rotated(ring.begin() + startOffset, ring.end());
    rotated.insert(rotated.end(), ring.begin(), ring.begin() + startOffset);
    return rotated;
}

TEST(StraightenRuns, ClosedSquareKeepsOneVertexPerCorner)
{
    for (int offset : {0, 5, 10, 37}) {
        auto poly = MakePolyline(SquareRing(offset), true);
        StraightenPolyline(*poly, 0.5);
        std::vector<Pt> got = PointsOf(*poly);
        ASSERT_EQ(got.size(), 4u) << "offset " << offset;
        for (const Pt& p : got) {
            EXPECT_TRUE((p.x == 0 || p.x == 10) && (p.y == 0 || p.y == 10)) << p.x << "," << p.y;
        }
        EXPECT_TRUE(poly->m_Closed);
    }
}

TEST(StraightenRuns, UsesTheStraightenDistanceOfTheTracingMethod)
{
    CTraceOption options;
    options.ChartType.d_MaxDis = 0.0;
    options.Outline.d_MaxDis = 0.5;
    options.i_AutoTraceWhat = TRACE_OUTLINE;
    auto poly = MakePolyline({{0, 0}, {1, 0.3}, {2, 0}, {3, 0.3}, {4, 0}});
    StraightenPolyline(*poly, options);
    EXPECT_EQ(poly->GetPointCount(), 2);

    options.i_AutoTraceWhat = TRACE_CENTER_LINE;
    auto kept = MakePolyline({{0, 0}, {1, 0.3}, {2, 0}, {3, 0.3}, {4, 0}});
    StraightenPolyline(*kept, options);
    EXPECT_EQ(kept->GetPointCount(), 5);
}

TEST(StraightenRuns, GrowingSearchAgreesWithTestingEachRunAnew)
{
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> noise(-0.6, 0.6), step(0.5, 2.0), turn(-0.25, 0.25);
    std::uniform_real_distribution<double> width(0.0, 2.0);
    std::uniform_int_distribution<int> count(3, 40), coin(0, 3);
    int found = 0, missed = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<Pt> points;
        double x = 0, y = 0, heading = 0;
        const int n = count(random);
        const bool wide = coin(random) == 0;
        for (int i = 0; i < n; ++i) {
            heading += coin(random) == 0 ? turn(random) * 6 : turn(random) * 0.1;
            x += std::cos(heading) * step(random);
            y += std::sin(heading) * step(random);
            points.push_back({x + noise(random), y + noise(random), wide ? width(random) : 0.0,
                              coin(random) == 0 && i % 7 == 3 ? 0.3 : 0.0});
        }
        auto poly = MakePolyline(points, coin(random) < 2);
        const double maxDis = 0.2 + 0.2 * coin(random);
        CVertex* v = poly->GetHead();
        do {
            const CVertex* run = FindStraightRun(*poly, v, maxDis);
            ASSERT_EQ(run, ReferenceFindStraightRun(*poly, v, maxDis)) << "trial " << trial;
            ++(run ? found : missed);
            v = v->next;
        } while (v != poly->GetHead());
    }
    EXPECT_GT(found, 500);
    EXPECT_GT(missed, 500);
}

// A zigzag of 200,000 segments within the tolerance is one run. (Its speed,
// linear through the inner hull, is measured in bench/postprocess_bench.)
TEST(StraightenRuns, LongZigzagWithinTheToleranceBecomesOneSegment)
{
    std::vector<Pt> points;
    for (int i = 0; i <= 200000; ++i)
        points.push_back({double(i), (i % 2) * 0.5});
    auto poly = MakePolyline(points);
    StraightenPolyline(*poly, 1.0);
    EXPECT_EQ(poly->GetPointCount(), 2);
}

}  // namespace
