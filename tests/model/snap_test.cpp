// Grid snapping in plain and turned snap frames, the grid drawing and its
// drawable flag, object snap over the drawing, and the grips.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

#include "model/constants.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/grips.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/select_set.h"
#include "recording_device.h"
#include "trace/trace_option.h"

namespace {

// A drawing with its grid shown and a device of 100 x 100 pixels showing
// the world box (0, 0)-(100, 100): one unit per pixel.
struct GridFixture {
    CGraph graph;
    CRecordingDevice device;

    GridFixture()
    {
        graph.SetGridShown(true);
        device.Transform().SetDeviceRect(0, 0, 100, 100);
        device.Transform().SetWorldBox(0, 0, 100, 100);
    }
};

frDoublePoint Snapped(const CGraph& graph, double x, double y, std::int32_t expected = SNAP_GRID)
{
    frDoublePoint p(x, y, 7);
    EXPECT_EQ(graph.SnapToGrid(p), expected) << x << "," << y;
    EXPECT_EQ(p.z, 7);
    return p;
}

// ---- grid snapping ----------------------------------------------------------

TEST(SnapToGrid, RoundsToTheNearestNodeWithHalvesUp)
{
    GridFixture f;
    EXPECT_EQ(Snapped(f.graph, 37.5, 0).x, 50);
    EXPECT_EQ(Snapped(f.graph, 37.4, 0).x, 25);
    EXPECT_EQ(Snapped(f.graph, -12.5, 0).x, 0);
    EXPECT_EQ(Snapped(f.graph, 0, -12.6).y, -25);

    ASSERT_TRUE(f.graph.SetSnapBase(frDoublePoint(10, 10)));
    EXPECT_EQ(Snapped(f.graph, 22, 0).x, 10);
    EXPECT_EQ(Snapped(f.graph, 23, 0).x, 35);
    EXPECT_EQ(Snapped(f.graph, 0, 23).y, 35);

    ASSERT_TRUE(f.graph.SetGridSpacing(10, 4));
    frDoublePoint p = Snapped(f.graph, 14.9, 12.1);
    EXPECT_EQ(p.x, 10);
    EXPECT_EQ(p.y, 14);
}

TEST(SnapToGrid, TurnedFrameSnapsToTheTurnedLattice)
{
    GridFixture f;
    const double angle = 30 * DEGREE;
    const frDoublePoint base(5, -3);
    ASSERT_TRUE(f.graph.SetSnapBase(base));
    ASSERT_TRUE(f.graph.SetSnapAngle(angle));
    ASSERT_TRUE(f.graph.SetGridSpacing(25, 10));
    const double c = std::cos(angle), s = std::sin(angle);
    auto world = [&](double u, double v) { return frDoublePoint(base.x + u * c - v * s, base.y + u * s + v * c); };

    // Frame (63, -13.2) lies nearest the node (3, -1) of the lattice.
    const frDoublePoint p = world(63, -13.2);
    const frDoublePoint q = Snapped(f.graph, p.x, p.y);
    const frDoublePoint node = world(75, -10);
    EXPECT_NEAR(q.x, node.x, 1e-9);
    EXPECT_NEAR(q.y, node.y, 1e-9);

    frDoublePoint frame = p;
    f.graph.ToSnapFrame(frame);
    EXPECT_NEAR(frame.x, 63, 1e-9);
    EXPECT_NEAR(frame.y, -13.2, 1e-9);
}

TEST(SnapToGrid, HiddenDenseOrUnusableGridLeavesThePointAlone)
{
    GridFixture f;
    f.graph.SetGridShown(false);
    EXPECT_EQ(Snapped(f.graph, 37.5, 3, 0).x, 37.5);

    f.graph.SetGridShown(true);
    f.graph.SetGridDrawable(false);
    EXPECT_EQ(Snapped(f.graph, 37.5, 3, 0).x, 37.5);

    f.graph.SetGridDrawable(true);
    frDoublePoint p(NAN, 3);
    EXPECT_EQ(f.graph.SnapToGrid(p), 0);
    EXPECT_EQ(p.y, 3);
}

// ---- the grid drawing -------------------------------------------------------

TEST(DrawGrid, DrawsEveryVisibleNodeRowByRowInTheContrastColour)
{
    GridFixture f;
    COLORREF& background = GetTraceOption().c_BackGroundColor;
    const COLORREF saved = background;
    background = RGB(140, 140, 140);  // light: black markers
    EXPECT_TRUE(f.graph.DrawGrid(&f.device));
    const auto calls = f.device.CallsStartingWith("DrawCrossMarker");
    ASSERT_EQ(calls.size(), 25u);  // 0, 25, ..., 100 both ways, the box's edges included
    EXPECT_EQ(calls[0], "DrawCrossMarker 0 0 rgb=000000");
    EXPECT_EQ(calls[1], "DrawCrossMarker 25 0 rgb=000000");
    EXPECT_EQ(calls[5], "DrawCrossMarker 0 25 rgb=000000");
    EXPECT_EQ(calls[24], "DrawCrossMarker 100 100 rgb=000000");

    background = RGB(110, 110, 110);  // dark: white markers
    f.device.calls.clear();
    EXPECT_TRUE(f.graph.DrawGrid(&f.device));
    EXPECT_EQ(f.device.calls.at(0), "DrawCrossMarker 0 0 rgb=FFFFFF");
    background = saved;
}

TEST(DrawGrid, TurnedGridDrawsEachVisibleNodeOnce)
{
    GridFixture f;
    const double angle = 0.6;
    ASSERT_TRUE(f.graph.SetSnapBase(frDoublePoint(-37, 212)));
    ASSERT_TRUE(f.graph.SetSnapAngle(angle));
    ASSERT_TRUE(f.graph.SetGridSpacing(7, 11));
    EXPECT_TRUE(f.graph.DrawGrid(&f.device));

    std::set<std::pair<long, long>> drawn;
    for (const std::string& call : f.device.CallsStartingWith("DrawCrossMarker")) {
        double x = 0, y = 0;
        ASSERT_EQ(std::sscanf(call.c_str(), "DrawCrossMarker %lf %lf", &x, &y), 2);
        EXPECT_TRUE(x >= 0 && x <= 100 && y >= 0 && y <= 100) << call;
        frDoublePoint q(x, y);
        f.graph.ToSnapFrame(q);
        const long i = std::lround(q.x / 7), j = std::lround(q.y / 11);
        EXPECT_NEAR(q.x, i * 7.0, 1e-6);
        EXPECT_NEAR(q.y, j * 11.0, 1e-6);
        EXPECT_TRUE(drawn.insert({i, j}).second) << "twice: " << call;
    }
    // Every lattice node inside the box, counted by brute force.
    std::size_t inside = 0;
    for (long i = -100; i <= 100; ++i)
        for (long j = -100; j <= 100; ++j) {
            frDoublePoint n(i * 7.0, j * 11.0);
            f.graph.FromSnapFrame(n);
            if (n.x >= 0 && n.x <= 100 && n.y >= 0 && n.y <= 100)
                ++inside;
        }
    EXPECT_EQ(drawn.size(), inside);
    EXPECT_GT(inside, 50u);
}

TEST(DrawGrid, TooDenseGridReportsOnceAndStopsSnapping)
{
    GridFixture f;
    ASSERT_TRUE(f.graph.SetGridSpacing(1.5, 25));  // 1.5 pixels apart
    EXPECT_FALSE(f.graph.DrawGrid(&f.device));
    EXPECT_FALSE(f.graph.GetGridDrawable());
    EXPECT_TRUE(f.graph.DrawGrid(&f.device));  // told once only
    EXPECT_TRUE(f.device.calls.empty());
    frDoublePoint p(37.5, 0);
    EXPECT_EQ(f.graph.SnapToGrid(p), 0);

    ASSERT_TRUE(f.graph.SetGridSpacing(2, 25));  // exactly 2 pixels: drawable
    EXPECT_TRUE(f.graph.DrawGrid(&f.device));
    EXPECT_TRUE(f.graph.GetGridDrawable());
    EXPECT_EQ(f.graph.SnapToGrid(p), SNAP_GRID);
}

// ---- object snap ------------------------------------------------------------

struct SnapFixture {
    CGraph graph;
    frDoublePoint out{-1, -1};

    SnapFixture()
    {
        // Two diagonals crossing at (5, 5).
        graph.AddLine(0, 0, 10, 10);
        graph.AddLine(0, 10, 10, 0);
    }
    std::int32_t Find(std::uint32_t mask, frDoublePoint a, frDoublePoint b, const frDoublePoint* base = nullptr)
    {
        graph.SetObjectSnapMask(mask);
        return graph.FindSnapPoint(base, a, b, &out);
    }
};

TEST(FindSnapPoint, CrossingLinesGiveTheirIntersection)
{
    SnapFixture f;
    EXPECT_EQ(f.Find(SNAP_INTERSECTION, {4, 4.2}, {6, 6.2}), SNAP_INTERSECTION);
    EXPECT_NEAR(f.out.x, 5, 1e-12);
    EXPECT_NEAR(f.out.y, 5, 1e-12);
    // Corners in the other order give the same.
    f.out = {-1, -1};
    EXPECT_EQ(f.Find(SNAP_INTERSECTION, {6, 6.2}, {4, 4.2}), SNAP_INTERSECTION);
    EXPECT_NEAR(f.out.x, 5, 1e-12);
    // Ends only: the ends are far from the box centre, yet the nearest wins.
    EXPECT_EQ(f.Find(SNAP_END, {4, 4}, {6, 6}), SNAP_END);
    EXPECT_EQ(f.out.x, 0);
    EXPECT_EQ(f.out.y, 0);
    // Nothing in the box: 0 and out untouched.
    f.out = {-1, -1};
    EXPECT_EQ(f.Find(SNAP_END | SNAP_INTERSECTION, {20, 20}, {22, 22}), 0);
    EXPECT_EQ(f.out.x, -1);
    // A mask without candidates for lines.
    EXPECT_EQ(f.Find(SNAP_CENTRE | SNAP_GRID | 64, {4, 4}, {6, 6}), 0);
}

TEST(FindSnapPoint, NearerEndBeatsIntersection)
{
    SnapFixture f;
    f.graph.AddLine(5.8, 5.6, 9, 3);  // crosses neither diagonal
    // Centre (5.5, 5.5): intersection 0.71 away, the new line's start 0.32.
    EXPECT_EQ(f.Find(SNAP_END | SNAP_INTERSECTION, {4.5, 4.5}, {6.5, 6.5}), SNAP_END);
    EXPECT_EQ(f.out.x, 5.8);
    EXPECT_EQ(f.out.y, 5.6);
    EXPECT_EQ(f.Find(SNAP_INTERSECTION, {4.5, 4.5}, {6.5, 6.5}), SNAP_INTERSECTION);
    EXPECT_NEAR(f.out.x, 5, 1e-12);
}

TEST(FindSnapPoint, HiddenLayersAreSkippedAndTheBaseDrivesPerpendicular)
{
    SnapFixture f;
    f.graph.GetCurrentLayer()->SetVisible(false);
    EXPECT_EQ(f.Find(-1u, {4, 4}, {6, 6}), 0);
    f.graph.GetCurrentLayer()->SetVisible(true);

    CGraph graph;
    graph.AddLine(0, 0, 10, 0);
    graph.SetObjectSnapMask(SNAP_PERPENDICULAR);
    frDoublePoint out;
    EXPECT_EQ(graph.FindSnapPoint(nullptr, {3.5, -1}, {4.5, 1}, &out), 0);
    const frDoublePoint base(3, 5);
    EXPECT_EQ(graph.FindSnapPoint(&base, {3.5, -1}, {4.5, 1}, &out), SNAP_PERPENDICULAR);
    EXPECT_NEAR(out.x, 3, 1e-12);
    EXPECT_NEAR(out.y, 0, 1e-12);
}

TEST(FindSnapPoint, TemporaryPolylineTakesPart)
{
    CGraph graph;
    graph.BeginTempPolyline();
    graph.AddTempVertex(0, 0, 0, 0, 0);
    graph.AddTempVertex(10, 0, 0, 0, 0);
    graph.SetObjectSnapMask(SNAP_MIDDLE);
    frDoublePoint out;
    EXPECT_EQ(graph.FindSnapPoint(nullptr, {4, -1}, {6, 1}, &out), SNAP_MIDDLE);
    EXPECT_EQ(out.x, 5);
    EXPECT_EQ(out.y, 0);
}

// ---- grips ------------------------------------------------------------------

// Two selected lines with their grips (line grips: 0 start, 1 middle, 2 end).
struct GripFixture {
    CGraph graph;
    CLine* a;
    CLine* b;
    std::unique_ptr<CSelectNode> nodeA, nodeB;
    CRecordingDevice device;

    GripFixture()
    {
        a = graph.AddLine(0, 0, 10, 0);
        b = graph.AddLine(0, 20, 10, 20);
        nodeA = std::make_unique<CSelectNode>(a);
        nodeB = std::make_unique<CSelectNode>(b);
        a->AddGrips(nodeA.get(), graph.GetGripListHead());
        b->AddGrips(nodeB.get(), graph.GetGripListHead());
        device.Transform().SetDeviceRect(0, 0, 100, 100);
        device.Transform().SetWorldBox(0, 0, 100, 100);
    }
    ~GripFixture() { graph.ClearGrips(); }

    CGripRecord* Grip(const CSelectNode* owner, int index)
    {
        for (CGripRecord* g = graph.GetGrips(); g; g = g->next)
            if (g->owner == owner && g->index == index)
                return g;
        return nullptr;
    }
    static frDoublePoint Start(const CEntity* e) { return e->GetStartPoint(); }
    static frDoublePoint End(const CEntity* e) { return e->GetEndPoint(); }
};

TEST(Grips, CurrentGripIsFoundInItsOwnersRunAndMovesOn)
{
    GripFixture f;
    CGripRecord* g = f.graph.SetCurrentGrip(f.nodeA.get(), 2);
    ASSERT_EQ(g, f.Grip(f.nodeA.get(), 2));
    EXPECT_EQ(f.graph.GetCurrentGrip(), g);
    EXPECT_EQ(g->current, 1);

    CGripRecord* h = f.graph.SetCurrentGrip(f.nodeB.get(), 0);
    ASSERT_EQ(h, f.Grip(f.nodeB.get(), 0));
    EXPECT_EQ(g->current, 0);
    EXPECT_EQ(h->current, 1);

    EXPECT_EQ(f.graph.SetCurrentGrip(f.nodeB.get(), 5), nullptr);
    EXPECT_EQ(f.graph.GetCurrentGrip(), nullptr);
    EXPECT_EQ(h->current, 0);

    // A current grip freed behind the drawing's back is not written to.
    f.graph.SetCurrentGrip(f.nodeB.get(), 1);
    RemoveGripRecords(f.nodeB.get(), f.graph.GetGripListHead());
    EXPECT_EQ(f.graph.SetCurrentGrip(f.nodeA.get(), 0), f.Grip(f.nodeA.get(), 0));
}

TEST(Grips, DrawnWithTheirFlagsAndHoverHighlightsOneThatIsNotHot)
{
    GripFixture f;
    f.Grip(f.nodeA.get(), 0)->hot = 1;
    f.graph.SetCurrentGrip(f.nodeA.get(), 0);
    f.graph.DrawGrips(&f.device);
    ASSERT_EQ(f.device.calls.size(), 6u);
    EXPECT_EQ(f.device.calls[0], "DrawGripBox 10 20 hot=0 cross=0");  // newest first
    EXPECT_EQ(f.device.calls[5], "DrawGripBox 0 0 hot=1 cross=1");

    f.device.calls.clear();
    // (0.5, 0.5) is within 1 pixel of the hot grip only: nothing.
    EXPECT_FALSE(f.graph.TrackHoverGrip(&f.device, {0.5, 0.5}, 1));
    EXPECT_TRUE(f.device.calls.empty());
    EXPECT_TRUE(f.graph.TrackHoverGrip(&f.device, {5.5, -0.8}, 1));
    EXPECT_EQ(f.device.calls, std::vector<std::string>{"DrawGripBox 5 0 hot=1 cross=0"});
    // Moving away draws it normally again.
    f.device.calls.clear();
    EXPECT_FALSE(f.graph.TrackHoverGrip(&f.device, {50, 50}, 1));
    EXPECT_EQ(f.device.calls, std::vector<std::string>{"DrawGripBox 5 0 hot=0 cross=0"});
    // A hovered grip whose list was rebuilt is forgotten, not drawn.
    EXPECT_TRUE(f.graph.TrackHoverGrip(&f.device, {10, 20}, 1));
    f.graph.ClearGrips();
    f.device.calls.clear();
    EXPECT_FALSE(f.graph.TrackHoverGrip(&f.device, {10, 20}, 1));
    EXPECT_TRUE(f.device.calls.empty());
}

TEST(Grips, DragMovesTheClonesEachStepFromTheEntity)
{
    GripFixture f;
    f.Grip(f.nodeA.get(), 2)->hot = 1;
    f.Grip(f.nodeB.get(), 0)->hot = 1;
    f.Grip(f.nodeB.get(), 2)->hot = 1;

    f.graph.DragHotGrips(&f.device, {30, 40});
    // b's grips come first in the list; each clone is drawn before and after.
    EXPECT_EQ(f.device.calls.size(), 4u);
    const CEntity* cloneA = f.nodeA->GetClone();
    const CEntity* cloneB = f.nodeB->GetClone();
    ASSERT_TRUE(cloneA && cloneB);
    EXPECT_EQ(f.End(cloneA).x, 30);
    EXPECT_EQ(f.Start(cloneA).x, 0);
    EXPECT_EQ(f.Start(cloneB).y, 40);
    EXPECT_EQ(f.End(cloneB).y, 40);
    // The entities stay; the next step starts from them again.
    EXPECT_EQ(f.End(f.a).x, 10);
    f.graph.DragHotGrips(nullptr, {12, 0});
    EXPECT_EQ(f.End(cloneA).x, 12);
    EXPECT_EQ(f.Start(cloneA).x, 0);

    // The final form writes an accepted move into the entity.
    f.nodeA->RefreshClone();
    EXPECT_TRUE(MoveGripRecord(*f.Grip(f.nodeA.get(), 0), {-4, 1}, GripMove::Final));
    EXPECT_EQ(f.Start(f.a).x, -4);
    EXPECT_EQ(f.Start(f.a).y, 1);
    // A refused drag puts the entity's shape back into the clone.
    CGripRecord bad = *f.Grip(f.nodeA.get(), 0);
    bad.index = 9;
    EXPECT_FALSE(MoveGripRecord(bad, {50, 50}, GripMove::Drag));
    EXPECT_EQ(f.Start(cloneA).x, -4);
    EXPECT_EQ(f.End(cloneA).x, 10);

    f.device.calls.clear();
    f.graph.DrawHotGripClones(&f.device);
    EXPECT_EQ(f.device.calls.size(), 2u);
}

}  // namespace
