#include "trace/polygon_cleanup.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "model/clipping.h"
#include "model/polygon_set.h"
#include "model/polyline.h"

namespace {

std::unique_ptr<CPolyLine> MakeOutline(const std::vector<frDoublePoint>& points)
{
    auto outline = std::make_unique<CPolyLine>();
    for (const frDoublePoint& p : points)
        outline->AddPoint(p.x, p.y);
    outline->m_Closed = true;
    return outline;
}

std::vector<frDoublePoint> Points(const CPolyLine& outline)
{
    std::vector<frDoublePoint> out;
    const CVertex* v = outline.GetHead();
    if (!v)
        return out;
    do {
        out.emplace_back(v->x, v->y);
        v = v->next;
    } while (v != outline.GetHead());
    return out;
}

void ExpectPoints(const CPolyLine& outline, const std::vector<frDoublePoint>& expected)
{
    const auto points = Points(outline);
    ASSERT_EQ(points.size(), expected.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_NEAR(points[i].x, expected[i].x, 1e-6) << "point " << i;
        EXPECT_NEAR(points[i].y, expected[i].y, 1e-6) << "point " << i;
    }
}

// ---- flat outlines ----------------------------------------------------------

TEST(FlatOutline, CollinearTriangleBecomesAStripRightOfItsFirstSegment)
{
    auto outline = MakeOutline({{0, 0}, {4, 0}, {2, 0}});
    ASSERT_TRUE(WidenFlatOutline(*outline, true));
    ExpectPoints(*outline, {{0, 0}, {0, -0.5}, {4, -0.5}, {4, 0}});
    EXPECT_TRUE(outline->m_Closed);

    auto forward = MakeOutline({{0, 0}, {0, 4}, {0, 2}});
    ASSERT_TRUE(WidenFlatOutline(*forward, false));
    ExpectPoints(*forward, {{0, 0}, {0, 4}, {0.5, 4}, {0.5, 0}});
}

TEST(FlatOutline, RealTriangleAndOtherSizesAreLeftAlone)
{
    auto triangle = MakeOutline({{0, 0}, {4, 0}, {2, 1}});
    EXPECT_FALSE(WidenFlatOutline(*triangle, true));
    ExpectPoints(*triangle, {{0, 0}, {4, 0}, {2, 1}});

    auto four = MakeOutline({{0, 0}, {1, 0}, {2, 0}, {3, 0}});
    EXPECT_FALSE(WidenFlatOutline(*four, true));
    EXPECT_EQ(four->GetPointCount(), 4);
}

TEST(FlatOutline, NearlyCoincidentFirstVerticesGiveAStripOnePixelAlongX)
{
    auto outline = MakeOutline({{3, 3}, {3.05, 3}, {7, 3}});
    ASSERT_TRUE(WidenFlatOutline(*outline, false));
    ExpectPoints(*outline, {{3, 3}, {4, 3}, {4, 2.5}, {3, 2.5}});
}

// ---- polygon sets ---------------------------------------------------------------

TEST(TracedPolygonCleanup, HolesOutsideTheOuterOutlineAreDropped)
{
    CPolyPolygon polygon;
    ASSERT_TRUE(polygon.AddOutline(MakeOutline({{0, 0}, {10, 0}, {10, 10}, {0, 10}})));
    ASSERT_TRUE(polygon.AddOutline(MakeOutline({{2, 2}, {2, 4}, {4, 4}, {4, 2}})));    // inside
    ASSERT_TRUE(polygon.AddOutline(MakeOutline({{8, 8}, {8, 11}, {9, 11}, {9, 8}})));  // one corner out
    ASSERT_TRUE(polygon.AddOutline(MakeOutline({{0, 5}, {3, 7}, {3, 5}})));            // touches the border
    ASSERT_TRUE(polygon.AddOutline(MakeOutline({{5, 1}, {7, 1}, {6, 1}})));            // flat hole, widened
    CPolyLine* touching = polygon.GetOutline(3);
    CPolyLine* flat = polygon.GetOutline(4);
    polygon.m_Modified = false;

    CleanTracedPolygon(polygon);

    ASSERT_EQ(polygon.GetOutlineCount(), 4);
    EXPECT_EQ(polygon.GetOutline(2), touching);
    EXPECT_EQ(polygon.GetOutline(3), flat);
    ExpectPoints(*flat, {{5, 1}, {7, 1}, {7, 0.5}, {5, 0.5}});
    EXPECT_TRUE(polygon.GetPoints().empty());
    EXPECT_TRUE(polygon.GetOutlineCounts().empty());
    EXPECT_TRUE(polygon.m_Modified);
}

TEST(TracedPolygonCleanup, FlatOuterOutlineIsWidenedBeforeHolesAreTested)
{
    CPolyPolygon polygon;
    ASSERT_TRUE(polygon.AddOutline(MakeOutline({{0, 0}, {4, 0}, {2, 0}})));
    // Inside the strip only once the outer outline has been widened.
    ASSERT_TRUE(polygon.AddOutline(MakeOutline({{1, -0.1}, {1, -0.3}, {2, -0.3}})));
    CleanTracedPolygon(polygon);
    ExpectPoints(*polygon.GetOutline(0), {{0, 0}, {0, -0.5}, {4, -0.5}, {4, 0}});
    EXPECT_EQ(polygon.GetOutlineCount(), 2);

    CPolyPolygon empty;
    CleanTracedPolygon(empty);
    EXPECT_EQ(empty.GetOutlineCount(), 0);
}

// ---- the locator ------------------------------------------------------------

// Every answer equals the plain winding test: on small integer grids the
// queries hit vertices, horizontal edges and the lines through vertices.
TEST(PolygonLocator, AgreesWithPointInPolygon)
{
    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        const int count = 1 + static_cast<int>(random() % (round < 200 ? 12 : 400));
        const int span = round < 200 ? 6 : 60;
        std::vector<frDoublePoint> polygon;
        for (int i = 0; i < count; ++i)
            polygon.emplace_back(static_cast<double>(random() % span), static_cast<double>(random() % span));
        if (round % 7 == 0)
            for (auto& p : polygon)
                p.y = 2;  // all on one line
        const CPolygonLocator locator(polygon.data(), count);
        for (int q = 0; q < 200; ++q) {
            const double x = static_cast<double>(random() % (2 * span + 4)) * 0.5 - 1;
            const double y = static_cast<double>(random() % (2 * span + 4)) * 0.5 - 1;
            ASSERT_EQ(locator.Locate(x, y), PointInPolygon(x, y, 0, polygon.data(), count))
                << "round " << round << " at " << x << ", " << y;
        }
    }
}

TEST(PolygonLocator, EmptyPolygonHasNothingInside)
{
    const CPolygonLocator locator(nullptr, 0);
    EXPECT_EQ(locator.Locate(0, 0), -1);
}

}  // namespace
