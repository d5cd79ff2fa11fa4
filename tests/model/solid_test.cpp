#include "model/solid.h"

#include "model/graph.h"
#include "model/layer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "model/geometry.h"
#include "model/layer.h"
#include "recording_device.h"
#include "test_entity.h"

namespace {

using Corners = std::vector<std::pair<double, double>>;

Corners CornersOf(const CSolid& solid)
{
    Corners out;
    for (int i = 0; i < solid.GetPointCount(); ++i)
        out.emplace_back(solid.GetVertex(i)->x, solid.GetVertex(i)->y);
    return out;
}

std::unique_ptr<CSolid> MakeSolid(const Corners& corners)
{
    auto solid = std::make_unique<CSolid>();
    for (auto [x, y] : corners)
        solid->AddPoint(x, y);
    return solid;
}

double SignedArea(const Corners& c)
{
    double twice = 0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        const auto& [x1, y1] = c[i];
        const auto& [x2, y2] = c[(i + 1) % c.size()];
        twice += x1 * y2 - x2 * y1;
    }
    return twice / 2;
}

std::vector<CGripRecord> GripsOf(CEntity& entity)
{
    CGripRecord* head = nullptr;
    entity.AddGrips(nullptr, &head);
    std::vector<CGripRecord> out;
    while (head) {
        out.insert(out.begin(), *head);  // oldest first
        CGripRecord* next = head->next;
        delete head;
        head = next;
    }
    return out;
}

std::string SaveBytes(CEntity& entity)
{
    bool ok = false;
    std::string bytes = WriteToBytes([&](std::FILE* f) { return entity.Save(f); }, &ok);
    EXPECT_TRUE(ok);
    return bytes;
}

// ---- construction ---------------------------------------------------------

TEST(SolidNew, TrianglesComeOutCounterClockwiseAndCollinearPointsGiveNone)
{
    auto kept = NewSolid({0, 0}, {1, 0}, {0, 1});
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(CornersOf(*kept), (Corners{{0, 0}, {1, 0}, {0, 1}}));
    auto turned = NewSolid({0, 0}, {0, 1}, {1, 0});
    ASSERT_NE(turned, nullptr);
    EXPECT_EQ(CornersOf(*turned), (Corners{{0, 0}, {1, 0}, {0, 1}}));
    EXPECT_EQ(NewSolid({0, 0}, {1, 1}, {3, 3}), nullptr);
    EXPECT_EQ(NewSolid({2, 2}, {2, 2}, {5, 1}), nullptr);

    std::mt19937 random(8);
    std::uniform_real_distribution<double> coordinate(-100, 100);
    for (int i = 0; i < 200; ++i) {
        const frDoublePoint a(coordinate(random), coordinate(random)), b(coordinate(random), coordinate(random)),
            c(coordinate(random), coordinate(random));
        auto solid = NewSolid(a, b, c);
        if (GetPointSide(c, a, b) == 0) {
            EXPECT_EQ(solid, nullptr);
            continue;
        }
        ASSERT_NE(solid, nullptr);
        EXPECT_GT(SignedArea(CornersOf(*solid)), 0) << i;
        EXPECT_EQ(solid->GetVertex(0)->x, a.x);
    }
}

TEST(SolidRing, HoldsFourCornersInARingAndSwapsTheLastTwo)
{
    auto solid = MakeSolid({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    EXPECT_FALSE(solid->AddPoint(5, 5));
    EXPECT_EQ(solid->GetPointCount(), 4);
    const CVertex* head = solid->GetHead();
    EXPECT_EQ(head->next->next->next->next, head);
    EXPECT_EQ(head->prev, solid->GetVertex(3));
    solid->SwapLastTwo();
    EXPECT_EQ(CornersOf(*solid), (Corners{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));

    auto triangle = MakeSolid({{0, 0}, {1, 0}, {2, 2}});
    triangle->SwapLastTwo();
    EXPECT_EQ(CornersOf(*triangle), (Corners{{0, 0}, {2, 2}, {1, 0}}));
    auto two = MakeSolid({{0, 0}, {1, 0}});
    two->SwapLastTwo();
    EXPECT_EQ(CornersOf(*two), (Corners{{0, 0}, {1, 0}}));

    solid->RemoveAllVertices();
    EXPECT_EQ(solid->GetHead(), nullptr);
    double box[4];
    EXPECT_FALSE(solid->GetExtents(nullptr, box));
    EXPECT_TRUE(GripsOf(*solid).empty());
    EXPECT_FALSE(solid->MoveGrip(1, 1, 0, 0));
}

// ---- drawing and hit tests ------------------------------------------------

TEST(SolidDraw, TrianglesFillByWindingQuadsByEvenOddAndLessNothing)
{
    CLayer layer;
    layer.SetColor(3);
    auto* triangle = NewSolid({0, 0}, {4, 0}, {0, 4}).release();
    layer.AddEntity(triangle);
    CRecordingDevice device;
    triangle->Draw(&device);
    triangle->AddPoint(4, 4);
    triangle->m_Color = 6;
    triangle->m_Selected = true;
    triangle->Draw(&device);
    ASSERT_EQ(device.calls.size(), 2u);
    EXPECT_EQ(device.calls[0], "FillPolygonWinding (0,0 w0) (4,0 w0) (0,4 w0) color=3 selected=0");
    EXPECT_EQ(device.calls[1], "FillPolygon (0,0 w0) (4,0 w0) (0,4 w0) (4,4 w0) color=6 selected=1");

    device.result = false;
    triangle->Draw(&device);
    EXPECT_FALSE(triangle->m_Drawn);
    auto two = MakeSolid({{0, 0}, {1, 0}});
    two->Draw(&device);
    EXPECT_EQ(device.calls.size(), 3u);
}

TEST(SolidHitTest, InsideGivesOneEdgeCrossingGivesEachCrossedEdge)
{
    auto square = MakeSolid({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    std::vector<CSnapSegment> segments;
    square->CollectSegments({-1, -1}, {11, 11}, segments);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].end.x, 10);
    EXPECT_EQ(segments[0].end.y, 0);

    segments.clear();
    square->CollectSegments({8, 8}, {12, 12}, segments);  // the corner at (10, 10)
    EXPECT_EQ(segments.size(), 2u);
    segments.clear();
    square->CollectSegments({20, 20}, {30, 30}, segments);
    EXPECT_TRUE(segments.empty());

    EXPECT_TRUE(square->IntersectRect({8, 8}, {12, 12}));
    EXPECT_FALSE(square->IntersectRect({3, 3}, {6, 6}));  // inside the fill, off every edge
    square->m_Drawn = false;
    EXPECT_FALSE(square->IntersectRect({8, 8}, {12, 12}));
    segments.clear();
    square->CollectSegments({8, 8}, {12, 12}, segments);
    EXPECT_TRUE(segments.empty());
}

TEST(SolidSnap, EveryEdgeOffersEverySnapMode)
{
    // A triangle (0, 0), (10, 0), (10, 10) on the drawing, and a line that
    // crosses its closing edge (from the last corner back to the first).
    CGraph graph;
    ASSERT_TRUE(graph.GetCurrentLayer()->AddEntity(MakeSolid({{0, 0}, {10, 0}, {10, 10}}).release()));
    graph.AddLine(0, 8, 8, 0);
    frDoublePoint out;
    auto find = [&](std::uint32_t mask, frDoublePoint a, frDoublePoint b, const frDoublePoint* base = nullptr) {
        graph.SetObjectSnapMask(mask);
        out = {-1, -1};
        return graph.FindSnapPoint(base, a, b, &out);
    };
    // The middle of the closing edge, in a box that also crosses the line.
    EXPECT_EQ(find(SNAP_MIDDLE, {4.5, 4.5}, {5.5, 5.5}), SNAP_MIDDLE);
    EXPECT_NEAR(out.x, 5, 1e-12);
    EXPECT_NEAR(out.y, 5, 1e-12);
    // Where the line crosses the closing edge.
    EXPECT_EQ(find(SNAP_INTERSECTION, {3.5, 3.5}, {4.5, 4.5}), SNAP_INTERSECTION);
    EXPECT_NEAR(out.x, 4, 1e-12);
    EXPECT_NEAR(out.y, 4, 1e-12);
    // The foot of the perpendicular from a base onto the right edge.
    const frDoublePoint base(20, 3);
    EXPECT_EQ(find(SNAP_PERPENDICULAR, {9, 2}, {11, 4}, &base), SNAP_PERPENDICULAR);
    EXPECT_NEAR(out.x, 10, 1e-12);
    EXPECT_NEAR(out.y, 3, 1e-12);
    // A corner by its end mode.
    EXPECT_EQ(find(SNAP_END, {9.5, 9.2}, {10.5, 10.2}), SNAP_END);
    EXPECT_EQ(out.x, 10);
    EXPECT_EQ(out.y, 10);
    // Nothing of the solid inside its fill, away from every edge.
    EXPECT_EQ(find(SNAP_MIDDLE | SNAP_END, {7, 2}, {8, 3}), 0);
}

// ---- grips ----------------------------------------------------------------

TEST(SolidGrips, CountMatchesTheGripsAddedAndEachMoveLandsItsGrip)
{
    const Corners corners{{0, 0}, {6, 1}, {5, 5}, {-1, 4}};
    auto solid = MakeSolid(corners);
    const std::vector<CGripRecord> grips = GripsOf(*solid);
    ASSERT_EQ(static_cast<int>(grips.size()), solid->GetGripCount());
    for (std::size_t i = 0; i < grips.size(); ++i) {
        auto moved = MakeSolid(corners);
        ASSERT_TRUE(moved->MoveGrip(grips[i].point.x - 3, grips[i].point.y + 2, 1, grips[i].index));
        Corners expected = corners;
        expected[i] = {corners[i].first - 3, corners[i].second + 2};
        EXPECT_EQ(CornersOf(*moved), expected) << i;
        EXPECT_EQ(GripsOf(*moved)[i].point.z, 1);
    }

    auto triangle = MakeSolid({{0, 0}, {1, 0}, {0, 1}});
    EXPECT_FALSE(triangle->MoveGrip(9, 9, 0, 3));
    EXPECT_FALSE(triangle->MoveGrip(9, 9, 0, -1));
    EXPECT_EQ(CornersOf(*triangle), (Corners{{0, 0}, {1, 0}, {0, 1}}));
}

// ---- project record -------------------------------------------------------

TEST(SolidRecord, RoundTripsByteForByteAndEveryTruncationFails)
{
    const std::vector<Corners> cases{{}, {{0, 0}, {1, 0}, {0, 1}}, {{-1, 2}, {3, 4}, {5, -6}, {7, 8}}};
    for (const Corners& corners : cases) {
        auto solid = MakeSolid(corners);
        const std::string bytes = SaveBytes(*solid);
        ASSERT_EQ(bytes.size(), 34u + 4u + 16u * corners.size());
        FilePtr file = OpenBytes(bytes);
        std::unique_ptr<CEntity> loaded = CreateEntityFromProject(file.get());
        ASSERT_NE(dynamic_cast<CSolid*>(loaded.get()), nullptr);
        EXPECT_EQ(CornersOf(*static_cast<CSolid*>(loaded.get())), corners);
        EXPECT_EQ(SaveBytes(*loaded), bytes);
        for (std::size_t n = 0; n < bytes.size(); ++n) {
            file = OpenBytes(bytes.substr(0, n));
            EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr) << "prefix " << n;
        }
    }
}

TEST(SolidRecord, CountsBeyondFourAndDamagedCornersAreRefused)
{
    std::string bytes = SaveBytes(*MakeSolid({{0, 0}, {1, 0}, {0, 1}}));
    std::string five = bytes;
    five[34] = 5;
    five += std::string(32, '\0');
    FilePtr file = OpenBytes(five);
    EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr);

    std::string damaged = bytes;
    const double nan = std::nan("");
    std::memcpy(damaged.data() + 38 + 8, &nan, 8);
    file = OpenBytes(damaged);
    EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr);
}

}  // namespace
