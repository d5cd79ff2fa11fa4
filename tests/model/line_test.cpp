#include "model/line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "recording_device.h"
#include "test_entity.h"

namespace {

constexpr double kTruePi = 3.14159265358979323846;

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

std::unique_ptr<CLine> MakeLine(double x1, double y1, double x2, double y2)
{
    auto line = std::make_unique<CLine>();
    line->SetStart(x1, y1);
    line->SetEnd(x2, y2);
    return line;
}

double EndDistance(const CLine& line)
{
    return std::hypot(line.GetEnd().x - line.GetStart().x, line.GetEnd().y - line.GetStart().y);
}

std::string SaveBytes(CEntity& entity)
{
    bool ok = false;
    std::string bytes = WriteToBytes([&](std::FILE* f) { return entity.Save(f); }, &ok);
    EXPECT_TRUE(ok);
    return bytes;
}

std::string F64Bytes(double v)
{
    std::string s(8, '\0');
    std::memcpy(s.data(), &v, 8);  // the test host is little-endian
    return s;
}

// ---- ends and length ------------------------------------------------------

TEST(LineEnds, SettersKeepTheLengthAndExtents)
{
    CLine fresh;
    EXPECT_EQ(fresh.m_Type, ENTITY_LINE);
    EXPECT_EQ(fresh.m_Length, 0.0);
    EXPECT_EQ(fresh.GetPointCount(), 2);

    auto line = MakeLine(0, 0, 3, 4);
    EXPECT_EQ(line->m_Length, 5.0);
    EXPECT_EQ(line->GetLength(), 5.0);
    double box[4];
    ASSERT_TRUE(line->GetExtents(nullptr, box));
    EXPECT_EQ(std::vector<double>(box, box + 4), (std::vector<double>{0, 3, 0, 4}));

    line->SetEnds({1, 1, 7}, {1, 2, 8});
    EXPECT_EQ(line->m_Length, 1.0);
    EXPECT_EQ(line->GetStartPoint().z, 7);
    EXPECT_EQ(line->GetEndPoint().z, 8);
}

TEST(LineEnds, EveryGripMoveRecomputesTheLength)
{
    auto line = MakeLine(0, 0, 3, 4);
    // The midpoint grip carries the whole line.
    ASSERT_TRUE(line->MoveGrip(10, 10, 0, 1));
    EXPECT_EQ(line->GetStart().x, 8.5);
    EXPECT_EQ(line->GetStart().y, 8);
    EXPECT_EQ(line->GetEnd().x, 11.5);
    EXPECT_EQ(line->GetEnd().y, 12);
    EXPECT_DOUBLE_EQ(line->m_Length, 5.0);

    ASSERT_TRUE(line->MoveGrip(20, 8, 2, 0));
    EXPECT_DOUBLE_EQ(line->m_Length, EndDistance(*line));
    EXPECT_EQ(line->GetStartPoint().z, 2);

    ASSERT_TRUE(line->MoveGrip(0, 0, 0, 2));
    EXPECT_DOUBLE_EQ(line->m_Length, EndDistance(*line));
    ASSERT_TRUE(line->MoveGrip(20, 8, 0, 2));
    EXPECT_EQ(line->m_Length, 0.0);  // collapsed to a point

    // A line has three grips and no other.
    for (int bad : {-1, 3})
        EXPECT_FALSE(line->MoveGrip(99, 99, 0, bad)) << bad;
    EXPECT_EQ(line->GetStart().x, 20);
}

TEST(LineGrips, CountMatchesTheGripsAddedAndEachMoveLandsItsGrip)
{
    auto line = MakeLine(1, 2, 7, -4);
    const std::vector<CGripRecord> grips = GripsOf(*line);
    ASSERT_EQ(static_cast<int>(grips.size()), line->GetGripCount());
    EXPECT_EQ(grips[1].point.x, 4);
    EXPECT_EQ(grips[1].point.y, -1);
    for (int i = 0; i < line->GetGripCount(); ++i) {
        auto moved = MakeLine(1, 2, 7, -4);
        EXPECT_EQ(grips[i].index, i);
        ASSERT_TRUE(moved->MoveGrip(grips[i].point.x + 0.5, grips[i].point.y - 2, 0, grips[i].index));
        const std::vector<CGripRecord> after = GripsOf(*moved);
        EXPECT_EQ(after[i].point.x, grips[i].point.x + 0.5) << i;
        EXPECT_EQ(after[i].point.y, grips[i].point.y - 2) << i;
    }
}

TEST(LineEnds, VertexHelpers)
{
    EXPECT_NEAR(VectorAngle({1, 0}, {0, 2}), kTruePi / 2, 1e-12);
    EXPECT_NEAR(VectorAngle({1, 1}, {-3, -3}), kTruePi, 1e-7);
    EXPECT_EQ(VectorAngle({2, 0}, {5, 0}), 0.0);
    EXPECT_NEAR(VectorAngle({0, 0}, {1, 0}), kTruePi / 2, 1e-12);  // a zero vector is taken as it is

    CVertex ring[2];
    ring[0].next = ring[0].prev = &ring[1];
    CVertex from(3, 4, 1, 2, 5);
    from.bulge = 0.5;
    from.mark = 9;
    from.next = &from;
    CopyVertex(&ring[0], &from);
    EXPECT_EQ(ring[0].x, 3);
    EXPECT_EQ(ring[0].endWidth, 2);
    EXPECT_EQ(ring[0].bulge, 0.5);
    EXPECT_EQ(ring[0].mark, 9);
    EXPECT_EQ(ring[0].next, &ring[1]);
}

// ---- drawing and hit tests ------------------------------------------------

TEST(LineDraw, DrawsBothEndsWithTheWidthAndLayerColour)
{
    CLayer layer;
    layer.SetColor(5);
    auto owned = MakeLine(0, 0, 3, 4);
    CLine* line = owned.get();
    layer.AddEntity(owned.release());
    line->SetWidth(2);
    CRecordingDevice device;
    line->Draw(&device);
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_EQ(device.calls[0], "DrawEntityLine (0,0 w2) (3,4 w2) color=5 selected=0");
    EXPECT_TRUE(line->m_Drawn);
    device.result = false;
    line->Draw(&device);
    EXPECT_FALSE(line->m_Drawn);
}

TEST(LineHitTest, PickBoxesFollowTheSegmentAndTheDrawnFlag)
{
    auto line = MakeLine(0, 0, 10, 10);
    EXPECT_TRUE(line->IntersectRect({4, 4}, {6, 6}));
    EXPECT_TRUE(line->IntersectRect({-1, -1}, {11, 11}));
    EXPECT_FALSE(line->IntersectRect({6, 0}, {10, 3}));  // inside the extents, off the segment
    EXPECT_FALSE(line->IntersectRect({20, 20}, {30, 30}));

    std::vector<CSnapSegment> segments;
    line->CollectSegments({20, 20}, {30, 30}, segments);
    EXPECT_TRUE(segments.empty());
    line->CollectSegments({4, 4}, {6, 6}, segments);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].kind, CSnapSegment::kLine);
    EXPECT_EQ(segments[0].modes, -1);
    EXPECT_EQ(segments[0].end.x, 10);

    line->m_Drawn = false;
    EXPECT_FALSE(line->IntersectRect({-1, -1}, {11, 11}));
}

// ---- the drawing ----------------------------------------------------------

TEST(LineDrawing, AddLineUsesTheCurrentSettingsAndLayer)
{
    CGraph graph;
    ASSERT_TRUE(graph.SetCurrentColor(4));
    ASSERT_TRUE(graph.SetCurrentWidth(2.5));
    graph.SetModified(false);
    CLine* line = graph.AddLine(0, 0, 6, 8);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(graph.GetCurrentLayer()->GetLastEntity(), line);
    EXPECT_EQ(line->m_Layer, graph.GetCurrentLayer());
    EXPECT_EQ(line->m_Color, 4);
    EXPECT_EQ(line->GetWidth(), 2.5);
    EXPECT_EQ(line->GetStart().startWidth, 2.5);
    EXPECT_EQ(line->m_Length, 10.0);
    EXPECT_TRUE(graph.IsModified());

    graph.RemoveAllLayers();
    EXPECT_EQ(graph.AddLine(0, 0, 1, 1), nullptr);
}

// ---- project record -------------------------------------------------------

TEST(LineRecord, RoundTripsByteForByteAndTheFactoryMakesLines)
{
    auto line = MakeLine(-1.25, 2e-300, 1e6, -3);
    line->m_Color = 9;
    line->m_Width = 0.5;
    line->m_ActiveEnd = 1;
    const std::string bytes = SaveBytes(*line);
    ASSERT_EQ(bytes.size(), 34u + 32u);
    EXPECT_EQ(bytes.substr(34, 8), F64Bytes(-1.25));
    EXPECT_EQ(bytes.substr(58, 8), F64Bytes(-3));
    FilePtr file = OpenBytes(bytes);
    std::unique_ptr<CEntity> loaded = CreateEntityFromProject(file.get());
    ASSERT_NE(dynamic_cast<CLine*>(loaded.get()), nullptr);
    EXPECT_EQ(SaveBytes(*loaded), bytes);
    EXPECT_EQ(static_cast<CLine*>(loaded.get())->GetStart().startWidth, 0.5);
}

TEST(LineRecord, TruncatedDamagedAndStaleRecords)
{
    const std::string bytes = SaveBytes(*MakeLine(0, 0, 3, 4));
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        FilePtr file = OpenBytes(bytes.substr(0, n));
        EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr) << "prefix " << n;
    }

    // Not a number, or beyond the range DXF import takes too.
    for (const double bad : {std::nan(""), -1e308}) {
        std::string damaged = bytes;
        damaged.replace(42, 8, F64Bytes(bad));
        FilePtr file = OpenBytes(damaged);
        EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr) << bad;
    }

    // A stored length that disagrees with the ends is recomputed.
    std::string stale = bytes;
    stale.replace(20, 8, F64Bytes(0.25));
    FilePtr file = OpenBytes(stale);
    std::unique_ptr<CEntity> loaded = CreateEntityFromProject(file.get());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->m_Length, 5.0);
}

}  // namespace
