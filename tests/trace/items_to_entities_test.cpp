#include "trace/items_to_entities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model/polygon_set.h"
#include "model/entity.h"
#include "model/polyline.h"
#include "platform/window_messages.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"
#include "trace/common_thread.h"
#include "trace/trace_option.h"
#include "support/idle_worker.h"

namespace {

// ---- fixtures ---------------------------------------------------------------

COutlineItem MakeItem(const std::vector<std::pair<double, double>>& points, bool closed = false)
{
    COutlineItem item;
    for (auto [x, y] : points)
        item.AddTail(x, y);
    item.closed = closed ? 1 : 0;
    return item;
}

std::vector<COutlineNode*> NodesOf(COutlineItem& item)
{
    std::vector<COutlineNode*> nodes;
    for (COutlineNode& n : item.nodes)
        nodes.push_back(&n);
    return nodes;
}

std::unique_ptr<CRasterSrc> MakeRaster(const std::vector<std::string>& rows)
{
    auto raster = std::make_unique<CRasterSrc>();
    EXPECT_TRUE(raster->Create(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 1));
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x)
            raster->SetPixelBit(static_cast<int>(x), static_cast<int>(y), rows[y][x] == '#');
    return raster;
}

CTraceOption Options(UINT method, double maxDis)
{
    CTraceOption options;
    options.i_AutoTraceWhat = method;
    options.ChartType.d_MaxDis = maxDis;
    options.Outline.d_MaxDis = maxDis;
    return options;
}

std::vector<frDoublePoint> Vertices(const CPolyLine& polyline)
{
    std::vector<frDoublePoint> points;
    const CVertex* v = polyline.GetHead();
    if (!v)
        return points;
    do {
        points.emplace_back(v->x, v->y);
        v = v->next;
    } while (v != polyline.GetHead());
    return points;
}

class CPositionRecorder : public CMessageReceiver {
public:
    ~CPositionRecorder() override { Close(); }
    std::vector<DWORD> positions;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM) override
    {
        if (message == WM_STEP_POS)
            positions.push_back(static_cast<DWORD>(wParam));
        return 0;
    }
};

// ---- the chord test ---------------------------------------------------------

TEST(ChordFits, NodeExactlyAtTheDistanceFitsAndJustBeyondFails)
{
    COutlineItem item = MakeItem({{0, 0}, {2, 1}, {4, 0}});
    auto nodes = NodesOf(item);
    EXPECT_EQ(ChordFits(nodes, 0, 2, 1.0), nodes[2]);
    EXPECT_EQ(ChordFits(nodes, 0, 2, 0.999), nullptr);
}

// Far from the origin on a chord millions of pixels long, the distance is
// still exact: node coordinates are stored small but measured in doubles.
TEST(ChordFits, LongChordFarOutMeasuresExactly)
{
    // A 3-4-5 chord; the middle node is 2.5 off it, perpendicular.
    COutlineItem item = MakeItem({{0.5, 0.5}, {1999999.0, 1500002.5}, {4000000.5, 3000000.5}});
    auto nodes = NodesOf(item);
    EXPECT_EQ(ChordFits(nodes, 0, 2, 2.5), nodes[2]);
    EXPECT_EQ(ChordFits(nodes, 0, 2, 2.499), nullptr);
}

TEST(ChordFits, NodesProjectingBeyondAnEndAreMeasuredToThatEnd)
{
    // (-1, 0.5) lies 0.5 off the line but 1.118 from the start.
    COutlineItem before = MakeItem({{0, 0}, {-1, 0.5}, {4, 0}});
    auto nodes = NodesOf(before);
    EXPECT_EQ(ChordFits(nodes, 0, 2, 1.1), nullptr);
    EXPECT_NE(ChordFits(nodes, 0, 2, 1.12), nullptr);

    COutlineItem after = MakeItem({{0, 0}, {5, 0.5}, {4, 0}});
    nodes = NodesOf(after);
    EXPECT_EQ(ChordFits(nodes, 0, 2, 1.1), nullptr);

    // A chord of no length measures every node from its start.
    COutlineItem loop = MakeItem({{0, 0}, {1.5, 2}, {0, 0}});
    nodes = NodesOf(loop);
    EXPECT_NE(ChordFits(nodes, 0, 2, 2.5), nullptr);
    EXPECT_EQ(ChordFits(nodes, 0, 2, 2.49), nullptr);
}

// ---- the chord search -------------------------------------------------------

TEST(FindFarthest, FindsTheLastFittingNodeOfALongStraightRunThenTheBend)
{
    // 300 nodes along y = 0 (longer than the step cap), then up at x = 299.
    std::vector<std::pair<double, double>> points;
    for (int x = 0; x < 300; ++x)
        points.emplace_back(x, 0);
    for (int y = 1; y <= 20; ++y)
        points.emplace_back(299, y);
    COutlineItem item = MakeItem(points);
    auto nodes = NodesOf(item);
    std::size_t j = 0;
    const CChordSearch search{0.5, 128};
    EXPECT_EQ(FindFarthest(nodes, 0, j, search), nodes[299]);
    EXPECT_EQ(j, 299u);
    // The rest of the chain fits from the corner on.
    EXPECT_EQ(FindFarthest(nodes, 299, j, search), nodes.back());
    EXPECT_EQ(j, nodes.size() - 1);
    EXPECT_EQ(FindFarthest(nodes, nodes.size() - 1, j, search), nullptr);
}

// ---- snapping ---------------------------------------------------------------

TEST(SnapChordEnds, EndsOnePixelOffAVerticalRunMoveOntoIt)
{
    COutlineItem item = MakeItem({{0, 0}, {1, 1}, {1, 2}, {1, 3}, {2, 4}});
    auto nodes = NodesOf(item);
    SnapChordEnds(nodes, 0, 4);
    EXPECT_EQ(nodes[0]->x, 1.0);
    EXPECT_EQ(nodes[4]->x, 1.0);
    EXPECT_EQ(nodes[0]->y, 0.0);
    EXPECT_EQ(nodes[4]->y, 4.0);
}

TEST(SnapChordEnds, EndsOnePixelOffAHorizontalRunOrOffTheOtherEndsAxisMove)
{
    COutlineItem run = MakeItem({{0, 1}, {1, 0}, {2, 0}, {3, 0}, {4, 1}});
    auto nodes = NodesOf(run);
    SnapChordEnds(nodes, 0, 4);
    EXPECT_EQ(nodes[0]->y, 0.0);
    EXPECT_EQ(nodes[4]->y, 0.0);
    EXPECT_EQ(nodes[4]->x, 4.0);

    // One node between the ends: the end that lines up with it on an axis
    // pulls the other end, one pixel off, onto that axis.
    struct Case {
        std::vector<std::pair<double, double>> points;
        double ax, ay, bx, by;
    };
    const Case cases[] = {
        {{{0, 0}, {0, 5}, {1, 6}}, 0, 0, 0, 6},  // a under s: b.x follows a
        {{{0, 0}, {5, 0}, {6, 1}}, 0, 0, 6, 0},  // a beside s: b.y follows a
        {{{1, 1}, {0, 0}, {0, 5}}, 0, 1, 0, 5},  // b above s: a.x follows b
        {{{1, 1}, {0, 0}, {5, 0}}, 1, 0, 5, 0},  // b beside s: a.y follows b
        {{{3, 3}, {0, 0}, {5, 5}}, 3, 3, 5, 5},  // none lines up: nothing moves
    };
    for (const Case& c : cases) {
        COutlineItem item = MakeItem(c.points);
        auto three = NodesOf(item);
        SnapChordEnds(three, 0, 2);
        EXPECT_EQ(three[0]->x, c.ax);
        EXPECT_EQ(three[0]->y, c.ay);
        EXPECT_EQ(three[2]->x, c.bx);
        EXPECT_EQ(three[2]->y, c.by);
    }
}

// ---- simplification ---------------------------------------------------------

TEST(SimplifyItem, SnapOfAChordStartReachesTheCopyAlreadyMade)
{
    // The first chord ends at (1, 5) and snaps its start (0, 0), already
    // copied out, onto the vertical run at x = 1.
    COutlineItem item = MakeItem({{0, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {5, 9}});
    std::vector<COutlineNode> out;
    ASSERT_TRUE(SimplifyItem(item, out, CChordSearch{1.0, 128}));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].x, 1.0);
    EXPECT_EQ(out[0].y, 0.0);
    EXPECT_EQ(out[1].y, 5.0);
    EXPECT_EQ(out[2].x, 5.0);
}

TEST(SimplifyItem, ClosedChainLeavesOutItsFirstNode)
{
    COutlineItem item = MakeItem({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}, true);
    std::vector<COutlineNode> out;
    ASSERT_TRUE(SimplifyItem(item, out, CChordSearch{1.0, 128}));
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].x, 10.0);
    EXPECT_EQ(out[3].x, 0.0);
    EXPECT_EQ(out[3].y, 0.0);

    COutlineItem single = MakeItem({{0, 0}});
    EXPECT_FALSE(SimplifyItem(single, out, CChordSearch{1.0, 128}));
}

// ---- items to polylines -----------------------------------------------------

TEST(OutlineItemToPolyline, WithoutSimplificationEveryNodeIsKeptAndClosedChainsClose)
{
    auto raster = MakeRaster({"....", "....", "....", "...."});
    const CTraceOption options = Options(TRACE_OUTLINE, 0.0);
    COutlineItem item = MakeItem({{0.5, 0.5}, {1.5, 0.5}, {1.5, 1.5}, {0.5, 0.5}}, true);
    std::unique_ptr<CPolyLine> out;
    ASSERT_EQ(OutlineItemToPolyline(&item, *raster, out, 300, options), ITEM_DONE);
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->m_Closed);
    auto points = Vertices(*out);
    ASSERT_EQ(points.size(), 4u);
    EXPECT_DOUBLE_EQ(points[0].y, 4 - 0.5 - 1);  // y flipped
    EXPECT_DOUBLE_EQ(points[2].x, 1.5);

    COutlineItem open = MakeItem({{0, 0}, {1, 0}});
    ASSERT_EQ(OutlineItemToPolyline(&open, *raster, out, 300, options), ITEM_DONE);
    ASSERT_TRUE(out);  // small results are kept
    EXPECT_FALSE(out->m_Closed);

    COutlineItem one = MakeItem({{0, 0}});
    EXPECT_EQ(OutlineItemToPolyline(&one, *raster, out, 300, options), ITEM_NO_NODES);
    EXPECT_EQ(OutlineItemToPolyline(nullptr, *raster, out, 300, options), ITEM_NO_NODES);
    EXPECT_FALSE(out);
}

TEST(OutlineItemToPolyline, TracedSquareBecomesAClosedFourCornerPolylineAndSpecksAreDropped)
{
    auto raster = MakeRaster({"..........", ".######...", ".######...", ".######...", ".######...", "..........",
                              "........#.", ".........."});
    COutlineList list(raster.get());
    ASSERT_TRUE(list.TraceOutlines(nullptr, nullptr));
    ASSERT_EQ(list.GetItems().GetCount(), 2u);
    const CTraceOption options = Options(TRACE_OUTLINE, 1.5);

    std::unique_ptr<CPolyLine> out;
    COutlineItem* square = &list.GetItems().GetHead()->value;
    ASSERT_EQ(OutlineItemToPolyline(square, *raster, out, 300, options), ITEM_DONE);
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->m_Closed);
    double box[4] = {1e9, 1e9, -1e9, -1e9};
    for (const frDoublePoint& p : Vertices(*out)) {
        box[0] = std::min(box[0], p.x), box[1] = std::min(box[1], p.y);
        box[2] = std::max(box[2], p.x), box[3] = std::max(box[3], p.y);
    }
    EXPECT_DOUBLE_EQ(box[0], 0.5);
    EXPECT_DOUBLE_EQ(box[2], 6.5);
    EXPECT_DOUBLE_EQ(box[1], 8 - 4.5 - 1);
    EXPECT_DOUBLE_EQ(box[3], 8 - 0.5 - 1);

    COutlineItem* speck = &list.GetItems().GetHead()->next->value;
    EXPECT_EQ(OutlineItemToPolyline(speck, *raster, out, 300, options), ITEM_TOO_SMALL);
    EXPECT_FALSE(out);
    // A three-corner outline shorter than 3.5 all round is a speck too.
    for (double side : {1.0, 1.2}) {
        COutlineItem triangle = MakeItem({{0, 0}, {side, 0}, {side, 1}, {0, 0}}, true);
        EXPECT_EQ(OutlineItemToPolyline(&triangle, *raster, out, 300, Options(TRACE_OUTLINE, 0.01)),
                  side < 1.1 ? ITEM_TOO_SMALL : ITEM_DONE)
            << side;
    }
}

TEST(OutlineItemToPolyline, ShortCentreLineIsDroppedAboveFiftyDpi)
{
    auto raster = MakeRaster({"....", "....", "....", "...."});
    const CTraceOption options = Options(TRACE_CENTER_LINE, 1.0);
    COutlineItem item = MakeItem({{1, 1}, {2, 1}});
    std::unique_ptr<CPolyLine> out;
    EXPECT_EQ(OutlineItemToPolyline(&item, *raster, out, 50, options), ITEM_DONE);
    EXPECT_TRUE(out);
    EXPECT_EQ(OutlineItemToPolyline(&item, *raster, out, 51, options), ITEM_TOO_SMALL);
    EXPECT_FALSE(out);
    COutlineItem longer = MakeItem({{0, 1}, {3, 1}, {3, 3}});
    EXPECT_EQ(OutlineItemToPolyline(&longer, *raster, out, 300, options), ITEM_DONE);
    EXPECT_TRUE(out);
}

// ---- connections to polygon sets --------------------------------------------

TEST(OutlineConnectionToPolyPolygon, SquareWithHoleBecomesTwoClosedOutlinesAndMovesTheBarExactly)
{
    auto raster = MakeRaster({"..........", ".########.", ".########.", ".##....##.", ".##....##.", ".##....##.",
                              ".########.", ".########.", ".........."});
    COutlineList list(raster.get());
    COutlineConnectionList connections;
    ASSERT_TRUE(list.TraceOutlines(nullptr, &connections));
    ASSERT_EQ(connections.GetCount(), 1u);
    const COutlineConnection& connection = connections.GetHead()->value;
    ASSERT_EQ(connection.holes.GetCount(), 1u);

    CPositionRecorder recorder;
    CIdleWorker worker;
    worker.SetNotifyWindow(&recorder);
    DWORD counter = 0;
    std::unique_ptr<CPolyPolygon> out;
    // A share below 1 (more than 100 items) still moves the bar.
    ASSERT_EQ(OutlineConnectionToPolyPolygon(connection, *raster, out, 300, &worker, counter, 0.6,
                                             Options(TRACE_OUTLINE, 1.5)),
              ITEM_DONE);
    ASSERT_TRUE(out);
    EXPECT_EQ(counter, 2u);
    EXPECT_EQ(recorder.positions, (std::vector<DWORD>{0, 1}));
    ASSERT_EQ(out->GetOutlineCount(), 2);
    EXPECT_TRUE(out->GetOutline(0)->m_Closed);
    EXPECT_TRUE(out->GetOutline(1)->m_Closed);
    EXPECT_DOUBLE_EQ(out->m_SeedPoint.y, 9 - connection.innerPoint.y - 1);
}

TEST(OutlineConnectionToPolyPolygon, OuterChainTooSmallGivesNoPolygonSet)
{
    auto raster = MakeRaster({"...", ".#.", "..."});
    COutlineList list(raster.get());
    COutlineConnectionList connections;
    ASSERT_TRUE(list.TraceOutlines(nullptr, &connections));
    ASSERT_EQ(connections.GetCount(), 1u);
    DWORD counter = 0;
    std::unique_ptr<CPolyPolygon> out;
    EXPECT_EQ(OutlineConnectionToPolyPolygon(connections.GetHead()->value, *raster, out, 300, nullptr, counter, 1.0,
                                             Options(TRACE_OUTLINE, 1.5)),
              ITEM_DONE);
    EXPECT_FALSE(out);
    EXPECT_EQ(counter, 0u);
}

}  // namespace

TEST(OutlineItemToPolyline, EveryChainOfASquareRingKeepsItsFourCorners)
{
    // A hole's chain closes on its bottom edge, not at a corner; the
    // simplification must still keep every corner of it.
    std::vector<std::string> rows(120, std::string(120, '.'));
    for (int y = 5; y < 115; ++y)
        for (int x = 5; x < 115; ++x)
            rows[static_cast<size_t>(y)][static_cast<size_t>(x)] =
                (x < 10 || x >= 110 || y < 10 || y >= 110) ? '#' : '.';
    auto raster = MakeRaster(rows);
    COutlineList list(raster.get());
    ASSERT_TRUE(list.TraceOutlines(nullptr, nullptr));
    ASSERT_EQ(list.GetItems().GetCount(), 2u);
    for (double maxDis : {1.0, 1.5, 3.0}) {
        for (ONode<COutlineItem>* node = list.GetItems().GetHead(); node; node = node->next) {
            COutlineItem copy = node->value;
            std::unique_ptr<CPolyLine> out;
            ASSERT_EQ(OutlineItemToPolyline(&copy, *raster, out, 300, Options(TRACE_OUTLINE, maxDis)), ITEM_DONE);
            ASSERT_TRUE(out);
            const std::vector<frDoublePoint> points = Vertices(*out);
            ASSERT_EQ(points.size(), 4u) << maxDis;
            // Every side is axis-parallel: each vertex shares x with one
            // neighbour and y with the other.
            for (size_t i = 0; i < 4; ++i) {
                const frDoublePoint& a = points[i];
                const frDoublePoint& b = points[(i + 1) % 4];
                EXPECT_TRUE(a.x == b.x || a.y == b.y)
                    << maxDis << ": " << a.x << "," << a.y << " " << b.x << "," << b.y;
            }
        }
    }
}

// Polylines made ahead on the pool must be the ones a single thread makes,
// ids included: the ids are the entities' handles in every file written.
TEST(OutlineItemToPolyline, PreparedChainsGiveTheSamePolylinesAndIds)
{
    std::mt19937 rng(31);
    std::bernoulli_distribution black(0.45);
    std::vector<std::string> rows(90, std::string(77, '.'));
    for (std::string& row : rows)
        for (char& c : row)
            c = black(rng) ? '#' : '.';
    auto raster = MakeRaster(rows);
    COutlineList list(raster.get());
    ASSERT_TRUE(list.TraceOutline(nullptr));

    struct Made {
        int result;
        std::uint32_t id;  // from the counter at the start of the pass
        bool closed;
        std::vector<std::pair<double, double>> points;
        bool operator==(const Made&) const = default;
    };
    auto pointsOf = [](const CPolyLine& polyline) {
        std::vector<std::pair<double, double>> points;
        for (const frDoublePoint& p : Vertices(polyline))
            points.emplace_back(p.x, p.y);
        return points;
    };
    for (const CTraceOption& options :
         {Options(TRACE_OUTLINE, 1.5), Options(TRACE_OUTLINE, 0.0), Options(TRACE_CENTER_LINE, 1.0)}) {
        // Copies, since the simplification snaps the nodes; a null chain and
        // a one-node chain among them.
        std::vector<COutlineItem> plainItems(1, MakeItem({{3.5, 4.5}}));
        for (ONode<COutlineItem>* node = list.GetItems().GetHead(); node; node = node->next)
            plainItems.push_back(node->value);
        std::vector<COutlineItem> preparedItems = plainItems;
        std::vector<COutlineItem*> plain{nullptr};
        std::vector<COutlineItem*> prepared{nullptr};
        for (size_t i = 0; i < plainItems.size(); ++i) {
            plain.push_back(&plainItems[i]);
            prepared.push_back(&preparedItems[i]);
        }

        auto pass = [&](std::vector<COutlineItem*>& items, std::vector<CPreparedChain>* chains) {
            std::vector<Made> made;
            const std::uint32_t start = GetIdCounter();
            for (size_t i = 0; i < items.size(); ++i) {
                std::unique_ptr<CPolyLine> out;
                const int result =
                    OutlineItemToPolyline(items[i], *raster, out, 300, options, chains ? &(*chains)[i] : nullptr);
                made.push_back({result, out ? out->m_Id - start : 0, out && out->m_Closed,
                                out ? pointsOf(*out) : std::vector<std::pair<double, double>>{}});
            }
            made.push_back({0, GetIdCounter() - start, false, {}});
            return made;
        };
        const std::vector<Made> single = pass(plain, nullptr);
        SetRowBandThreads(3);
        std::vector<CPreparedChain> chains;
        PrepareChains(prepared, *raster, 300, options, chains);
        SetRowBandThreads(0);
        ASSERT_EQ(chains.size(), prepared.size());
        const std::vector<Made> ahead = pass(prepared, &chains);
        ASSERT_EQ(ahead.size(), single.size());
        int kept = 0;
        for (size_t i = 0; i < single.size(); ++i) {
            EXPECT_TRUE(ahead[i] == single[i]) << "chain " << i << " method " << options.i_AutoTraceWhat;
            kept += single[i].points.empty() ? 0 : 1;
        }
        EXPECT_GT(kept, 10);
    }
}
