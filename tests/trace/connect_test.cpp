#include "trace/connect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "model/constants.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "raster/row_bands.h"
#include "trace/common_thread.h"
#include "trace/trace_option.h"

namespace {

struct Pt {
    double x, y, width = 0;
};

CPolyLine* MakePolyline(const std::vector<Pt>& points)
{
    auto* poly = new CPolyLine;
    for (const Pt& p : points)
        EXPECT_TRUE(poly->AddPointWidth(p.x, p.y, p.width));
    return poly;
}

CPolyLine* AddPolyline(CLayer& layer, const std::vector<Pt>& points)
{
    CPolyLine* poly = MakePolyline(points);
    EXPECT_TRUE(layer.AddEntity(poly));
    return poly;
}

CTraceOption ConnectOptions(int distance = 5)
{
    CTraceOption options;
    options.ChartType.b_Connect = true;
    options.ChartType.i_ConDis = distance;
    return options;
}

std::vector<CPolyLine*> PolylinesOf(const CLayer& layer)
{
    std::vector<CPolyLine*> out;
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
        if (e->m_Type == ENTITY_POLYLINE)
            out.push_back(static_cast<CPolyLine*>(e));
    return out;
}

double TotalLength(const CLayer& layer)
{
    double total = 0;
    for (CPolyLine* p : PolylinesOf(layer))
        total += p->GetLength();
    return total;
}

// Nothing may point into a grid once a run is over.
void ExpectNoLinks(const CLayer& layer)
{
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next) {
        EXPECT_EQ(e->m_StartLink, nullptr);
        EXPECT_EQ(e->m_EndLink, nullptr);
    }
}

// A polyline runs from a to b when its ends are those points (either way).
bool Runs(const CPolyLine& poly, double ax, double ay, double bx, double by)
{
    const frDoublePoint s = poly.GetStartPoint(), e = poly.GetEndPoint();
    const auto at = [](const frDoublePoint& p, double x, double y) {
        return std::fabs(p.x - x) < 1e-9 && std::fabs(p.y - y) < 1e-9;
    };
    return (at(s, ax, ay) && at(e, bx, by)) || (at(s, bx, by) && at(e, ax, ay));
}

int CountRunning(const CLayer& layer, double ax, double ay, double bx, double by)
{
    int n = 0;
    for (CPolyLine* p : PolylinesOf(layer))
        n += Runs(*p, ax, ay, bx, by);
    return n;
}

// ---- joining ----------------------------------------------------------------

TEST(ConnectLines, CollinearEndsInOneCellJoinAndLoneLinesComeBackUnchanged)
{
    CLayer layer;
    AddPolyline(layer, {{0, 0.5}, {10.3, 0.5}});
    AddPolyline(layer, {{10.6, 0.5}, {20, 0.5}});
    CPolyLine* lone = AddPolyline(layer, {{0, 50}, {3, 60}, {8, 50}});
    auto* line = new CLine;
    ASSERT_TRUE(layer.AddEntity(line));

    ASSERT_TRUE(ConnectLines(layer, nullptr, ConnectOptions()));
    ExpectNoLinks(layer);
    const std::vector<CPolyLine*> polylines = PolylinesOf(layer);
    ASSERT_EQ(polylines.size(), 2u);
    EXPECT_EQ(layer.GetFirstEntity(), line);  // other entities stay where they were
    EXPECT_EQ(polylines[0], lone);
    EXPECT_EQ(lone->GetPointCount(), 3);
    EXPECT_TRUE(Runs(*polylines[1], 0, 0.5, 20, 0.5));
    EXPECT_EQ(polylines[1]->GetPointCount(), 3);

    CLayer plus;  // four arms: the straight continuations pair up
    AddPolyline(plus, {{0, 10}, {10, 10}});
    AddPolyline(plus, {{10, 10}, {20, 10}});
    AddPolyline(plus, {{10, 0}, {10, 10}});
    AddPolyline(plus, {{10, 10}, {10, 20}});
    ASSERT_TRUE(ConnectLines(plus, nullptr, ConnectOptions()));
    ASSERT_EQ(PolylinesOf(plus).size(), 2u);
    EXPECT_EQ(CountRunning(plus, 0, 10, 20, 10), 1);
    EXPECT_EQ(CountRunning(plus, 10, 0, 10, 20), 1);
}

TEST(ConnectLines, ThinShortStubAtATJunctionIsRemoved)
{
    CLayer layer;
    AddPolyline(layer, {{0, 0, 2}, {10, 0, 2}});
    AddPolyline(layer, {{10, 0, 2}, {20, 0, 2}});
    AddPolyline(layer, {{10, 0, 1}, {10, 2, 1}});
    ASSERT_TRUE(ConnectLines(layer, nullptr, ConnectOptions()));
    const std::vector<CPolyLine*> polylines = PolylinesOf(layer);
    ASSERT_EQ(polylines.size(), 1u);
    EXPECT_TRUE(Runs(*polylines[0], 0, 0, 20, 0));

    // Not 1.2 times thinner than the through lines, the stub is a line of
    // its own.
    for (auto [width, stub] : {std::pair{1.15, 1.0}, std::pair{2.0, 2.0}}) {
        CLayer kept;
        AddPolyline(kept, {{0, 0, width}, {10, 0, width}});
        AddPolyline(kept, {{10, 0, width}, {20, 0, width}});
        AddPolyline(kept, {{10, 0, stub}, {10, 2, stub}});
        ASSERT_TRUE(ConnectLines(kept, nullptr, ConnectOptions()));
        EXPECT_EQ(PolylinesOf(kept).size(), 2u) << width;
        EXPECT_EQ(CountRunning(kept, 0, 0, 20, 0), 1) << width;
    }
    // Clearly thinner: 1.25 against 1.0 is more than 1.2 times.
    {
        CLayer thinner;
        AddPolyline(thinner, {{0, 0, 1.25}, {10, 0, 1.25}});
        AddPolyline(thinner, {{10, 0, 1.25}, {20, 0, 1.25}});
        AddPolyline(thinner, {{10, 0, 1.0}, {10, 2, 1.0}});
        ASSERT_TRUE(ConnectLines(thinner, nullptr, ConnectOptions()));
        EXPECT_EQ(PolylinesOf(thinner).size(), 1u);
    }
    // The lines it meets must be more than 2.5 times as long as the stub (3).
    for (double length : {7.3, 7.7}) {
        CLayer shorter;
        AddPolyline(shorter, {{10 - length, 0, 1}, {10, 0, 1}});
        AddPolyline(shorter, {{10, 0, 1}, {10 + length, 0, 1}});
        AddPolyline(shorter, {{10, 0, 0.5}, {10, 3, 0.5}});
        ASSERT_TRUE(ConnectLines(shorter, nullptr, ConnectOptions(2)));
        EXPECT_EQ(PolylinesOf(shorter).size(), length < 7.5 ? 2u : 1u) << length;
        EXPECT_EQ(CountRunning(shorter, 10 - length, 0, 10 + length, 0), 1) << length;
    }
    // A stub is a spur up to four connect distances long (20 here).
    for (double length : {17.0, 21.0}) {
        CLayer layer2;
        AddPolyline(layer2, {{0, 0, 2}, {100, 0, 2}});
        AddPolyline(layer2, {{100, 0, 2}, {200, 0, 2}});
        AddPolyline(layer2, {{100, 0, 1}, {100, length, 1}});
        ASSERT_TRUE(ConnectLines(layer2, nullptr, ConnectOptions()));
        EXPECT_EQ(PolylinesOf(layer2).size(), length < 20 ? 1u : 2u) << length;
    }
}

TEST(ConnectLines, GroupAndWindowReachGrowWithTheLineWidth)
{
    // Width 10 reaches 1.5 x 11 = 16 cells: ends 16 cells apart meet, 17 not.
    for (double gap : {16.0, 17.0}) {
        CLayer wide;
        AddPolyline(wide, {{0.5, 0.5, 10}, {100.5, 0.5, 10}});
        AddPolyline(wide, {{100.5 + gap, 0.5, 10}, {200.5, 0.5, 10}});
        ASSERT_TRUE(ConnectLines(wide, nullptr, ConnectOptions()));
        EXPECT_EQ(PolylinesOf(wide).size(), gap < 17 ? 1u : 2u) << gap;
    }

    // Width 2.7 reaches 1.5 x 3.2 = 4.8 cells, but a group spans at least the
    // connect distance: five cells left of (-10.5, 0.5), in cell -16, lies
    // the next end, one row up.
    CLayer thin;
    AddPolyline(thin, {{0, 0.5, 2.7}, {-10.5, 0.5, 2.7}});
    AddPolyline(thin, {{-15.5, 1.5, 2.7}, {-40, 1.5, 2.7}});
    ASSERT_TRUE(ConnectLines(thin, nullptr, ConnectOptions()));
    EXPECT_EQ(PolylinesOf(thin).size(), 1u);
}

TEST(ConnectLines, AnEndLooksBehindItOnlyWithinFortyDegreesOfItsLine)
{
    // A runs from (10.5, 10.5) at 35 degrees: within 40 degrees of the x
    // axis only the columns it runs into are cut off, so B's end up and to
    // the left is found.
    const double c = std::cos(35 * DEGREE), s = std::sin(35 * DEGREE);
    CLayer layer;
    AddPolyline(layer, {{10.5, 10.5}, {10.5 + 4 * c, 10.5 + 4 * s}});
    AddPolyline(layer, {{9.5, 13.5}, {5, 20}});
    ASSERT_TRUE(ConnectLines(layer, nullptr, ConnectOptions()));
    EXPECT_EQ(PolylinesOf(layer).size(), 1u);
}

TEST(ConnectLines, APairIsRefusedWhenACheaperPairUsesEitherLine)
{
    // Five ends round the origin: two U-shaped lines with both ends there
    // and one straight line. Closing the second U on itself is not its
    // cheapest pair, so it is refused: that U goes back whole and closes as
    // the triangle it is, instead of being folded to two vertices.
    CLayer layer;
    AddPolyline(layer, {{1.5, -1}, {19, -18}, {-1, -0.5}});
    AddPolyline(layer, {{-0.5, -0.5}, {8, -17}, {0, 1.5}});
    AddPolyline(layer, {{-0.5, 1.5}, {-30, 0}});
    ASSERT_TRUE(ConnectLines(layer, nullptr, ConnectOptions()));
    const std::vector<CPolyLine*> polylines = PolylinesOf(layer);
    ASSERT_EQ(polylines.size(), 2u);
    int closed = 0;
    for (CPolyLine* p : polylines) {
        if (p->m_Closed) {
            ++closed;
            EXPECT_EQ(p->GetPointCount(), 3);
        } else {
            EXPECT_TRUE(Runs(*p, -30, 0, 1.5, -1));
        }
    }
    EXPECT_EQ(closed, 1);
}

TEST(ConnectLines, TwoVertexLineIsNeverJoinedToItselfALongerOneCloses)
{
    CLayer shortLayer;
    AddPolyline(shortLayer, {{0, 0}, {2, 0}});
    ASSERT_TRUE(ConnectLines(shortLayer, nullptr, ConnectOptions()));
    ASSERT_EQ(PolylinesOf(shortLayer).size(), 1u);
    EXPECT_FALSE(PolylinesOf(shortLayer)[0]->m_Closed);

    CLayer loop;
    AddPolyline(loop, {{0, 0}, {20, 0}, {20, 20}, {0, 20}, {0, 1}});
    ASSERT_TRUE(ConnectLines(loop, nullptr, ConnectOptions()));
    ASSERT_EQ(PolylinesOf(loop).size(), 1u);
    EXPECT_TRUE(PolylinesOf(loop)[0]->m_Closed);
    EXPECT_EQ(PolylinesOf(loop)[0]->GetPointCount(), 4);
}

TEST(ConnectLines, BridgeBetweenTwoJunctionsIsSettledByItsAngles)
{
    struct Case {
        const char* name;
        std::vector<std::vector<Pt>> polylines;  // two arms at (10,10), the bar, two arms at (12,10)
        std::vector<std::vector<double>> runs;   // the polylines expected, by their ends
    };
    const Case cases[] = {
        {"X traced with a bar: both arms go on",
         {{{10, 10}, {0, 20}}, {{10, 10}, {0, 0}}, {{10, 10}, {12, 10}}, {{12, 10}, {22, 20}}, {{12, 10}, {22, 0}}},
         {{0, 20, 22, 0}, {0, 0, 22, 20}}},
        {"H: the bar is a line, each side joins",
         {{{10, 10}, {5, 30}}, {{10, 10}, {5, -10}}, {{10, 10}, {12, 10}}, {{12, 10}, {17, 30}}, {{12, 10}, {17, -10}}},
         {{10, 10, 12, 10}, {5, 30, 5, -10}, {17, 30, 17, -10}}},
        {"steps: the line through the bar joins, the branches stay",
         {{{10, 10}, {0, 10}}, {{10, 10}, {10, 0}}, {{10, 10}, {12, 10}}, {{12, 10}, {22, 10}}, {{12, 10}, {12, 20}}},
         {{0, 10, 22, 10}, {10, 10, 10, 0}, {12, 10, 12, 20}}},
    };
    for (const Case& c : cases) {
        CLayer layer;
        for (const auto& points : c.polylines)
            AddPolyline(layer, points);
        ASSERT_TRUE(ConnectLines(layer, nullptr, ConnectOptions()));
        ExpectNoLinks(layer);
        EXPECT_EQ(PolylinesOf(layer).size(), c.runs.size()) << c.name;
        for (const auto& r : c.runs)
            EXPECT_EQ(CountRunning(layer, r[0], r[1], r[2], r[3]), 1) << c.name;
    }
}

// An absurd width reaches everything; the search must still end with the ends.
TEST(ConnectLines, AbsurdlyWideEndsStillFinish)
{
    CLayer layer;
    AddPolyline(layer, {{5000, 5000, 1e12}, {5001, 5000, 1e12}});
    AddPolyline(layer, {{0.5, 0.5, 2.6}, {0.5, -10, 2.6}});
    AddPolyline(layer, {{-4.5, 2.5}, {-4.5, 20}});
    ASSERT_TRUE(ConnectLines(layer, nullptr, ConnectOptions()));
    ExpectNoLinks(layer);
    EXPECT_FALSE(PolylinesOf(layer).empty());
}

// ---- stopping and running out of memory -------------------------------------

class CTestWorker : public CCommonThread {
protected:
    DWORD Run() override { return 0; }
};

// Records the progress protocol and presses Stop at one message.
class CStopAt : public CMessageReceiver {
public:
    ~CStopAt() override { Close(); }
    CCommonThread* worker = nullptr;
    std::size_t stopAt = 0;
    std::vector<UINT> messages;
    std::vector<DWORD> positions;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM) override
    {
        messages.push_back(message);
        if (message == WM_STEP_POS)
            positions.push_back(static_cast<DWORD>(wParam));
        if (messages.size() == stopAt)
            worker->RequestStop();
        return 0;
    }
};

// A field of small crosses and stubs: many rows and groups, so that progress
// is reported often and a stop can fall in every phase.
void FillCrosses(CLayer& layer, int size)
{
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < size; ++j) {
            const double x = i * 40.0, y = j * 40.0;
            AddPolyline(layer, {{x, y + 10}, {x + 10, y + 10}});
            AddPolyline(layer, {{x + 10, y + 10}, {x + 20, y + 10.5}});
            AddPolyline(layer, {{x + 10, y}, {x + 10, y + 10}});
            AddPolyline(layer, {{x + 10, y + 10}, {x + 9.5, y + 20}, {x + 12, y + 30}});
            AddPolyline(layer, {{x + 22, y + 10.5}, {x + 30, y + 11}});
        }
}

TEST(ConnectLines, StopAnywhereLeavesEveryPolylineOnTheLayer)
{
    CLayer reference;
    FillCrosses(reference, 6);
    const double length = TotalLength(reference);
    const std::size_t before = PolylinesOf(reference).size();

    int untouched = 0, partlyJoined = 0;
    for (std::size_t stopAt = 1;; ++stopAt) {
        CLayer layer;
        FillCrosses(layer, 6);
        const std::vector<CPolyLine*> original = PolylinesOf(layer);
        CTestWorker worker;
        CStopAt receiver;
        receiver.worker = &worker;
        receiver.stopAt = stopAt;
        worker.SetNotifyWindow(&receiver);
        const bool finished = ConnectLines(layer, &worker, ConnectOptions());
        ExpectNoLinks(layer);
        const std::vector<CPolyLine*> now = PolylinesOf(layer);
        EXPECT_GE(TotalLength(layer), length - 1e-6) << "stop at " << stopAt;
        EXPECT_LE(now.size(), before);
        if (finished && worker.IsStopRequested())
            continue;  // pressed while closing, which runs on
        if (finished) {
            // Each cross: one horizontal line of three pieces, one vertical of two.
            EXPECT_EQ(now.size(), 72u);
            EXPECT_EQ(receiver.messages.front(), WM_STEP_TEXT);
            EXPECT_EQ(receiver.messages.back(), WM_STEP_END);
            EXPECT_GT(receiver.positions.size(), 10u);
            EXPECT_TRUE(std::is_sorted(receiver.positions.begin(), receiver.positions.end()));
            EXPECT_LE(receiver.positions.back(), 100u);
            EXPECT_EQ(worker.GetRunResult(), RUN_NOT_REPORTED);  // a finished step posts nothing
            break;
        }
        EXPECT_EQ(worker.GetRunResult(), RUN_STOPPED);
        // Up to the end of matching nothing has left the layer.
        if (now.size() == before) {
            EXPECT_EQ(now, original);
            ++untouched;
        } else if (now.size() > 72u) {
            ++partlyJoined;
        }
        ASSERT_LT(stopAt, 100u);
    }
    EXPECT_GT(untouched, 0);
    EXPECT_GT(partlyJoined, 0);
}

TEST(ConnectLines, MemoryFailureAtAnyJoinKeepsWhatWasMade)
{
    CLayer reference;
    FillCrosses(reference, 4);
    const double length = TotalLength(reference);
    for (int allowed = 0;; ++allowed) {
        CLayer layer;
        FillCrosses(layer, 4);
        const CTraceOption options = ConnectOptions();
        int joins = 0;
        const PolylineJoiner join = [&](CPolyLine& a, CPolyLine& b, bool force, bool&) -> std::unique_ptr<CPolyLine> {
            if (joins++ == allowed)
                return nullptr;
            return a.JoinPolyline(&b, force, options);
        };
        CTestWorker worker;
        const bool finished = ConnectLines(layer, &worker, options, join);
        ExpectNoLinks(layer);
        EXPECT_GE(TotalLength(layer), length - 1e-6) << "failing join " << allowed;
        if (finished) {
            EXPECT_EQ(PolylinesOf(layer).size(), 32u);
            break;
        }
        EXPECT_EQ(worker.GetRunResult(), RUN_NO_MEMORY);
        EXPECT_EQ(PolylinesOf(layer).size(), 80u - static_cast<std::size_t>(allowed));
        ASSERT_LT(allowed, 200);
    }
}

TEST(ConnectLines, RandomSegmentsKeepTheirLengthAndLeaveNoLinks)
{
    std::mt19937 random(99);
    std::uniform_real_distribution<double> where(0, 60), along(-8, 8), width(0, 3);
    std::uniform_int_distribution<int> vertices(2, 4);
    for (int trial = 0; trial < 30; ++trial) {
        CLayer layer;
        for (int i = 0; i < 60; ++i) {
            std::vector<Pt> points;
            double x = where(random), y = where(random);
            const double w = trial % 2 ? width(random) : 0.0;
            for (int k = vertices(random); k > 0; --k) {
                points.push_back({x, y, w});
                x += along(random);
                y += along(random);
            }
            AddPolyline(layer, points);
        }
        const double length = TotalLength(layer);
        ASSERT_TRUE(ConnectLines(layer, nullptr, ConnectOptions(trial % 7)));
        ExpectNoLinks(layer);
        // Joins bridge gaps and drop spurs; the drawing never loses much.
        EXPECT_GT(TotalLength(layer), 0.5 * length);
        // A second run over the result, and over a layer that lost some
        // polylines in between, finds no stale ends.
        std::vector<CPolyLine*> polylines = PolylinesOf(layer);
        for (std::size_t i = 0; i < polylines.size(); i += 3) {
            layer.RemoveEntity(polylines[i]);
            delete polylines[i];
        }
        ASSERT_TRUE(ConnectLines(layer, nullptr, ConnectOptions(trial % 7)));
        ExpectNoLinks(layer);
    }
}

}  // namespace

// ---- the endpoint grid against a plain scan ------------------------------------

namespace grid_reference {

struct Link {
    const CPolyLine* polyline;
    int end;
    bool operator==(const Link&) const = default;
};
using Groups = std::vector<std::vector<Link>>;  // in the order made, links in the order linked

// The window rule of one group, written out plainly.
struct Window {
    std::int64_t boxX0, boxX1, boxY0, boxY1, x0, x1, y0, y1;
    bool hasX0 = false, hasX1 = false, hasY0 = false, hasY1 = false;
    std::int64_t cx0 = 0, cx1 = 0, cy0 = 0, cy1 = 0;

    void Apply(const CConnectReach& r)
    {
        const std::int64_t clampX = r.clampX, clampY = r.clampY;
        const std::int64_t xLow = r.xLow, xHigh = r.xHigh, yLow = r.yLow, yHigh = r.yHigh;
        if (r.clamps & CConnectReach::kClampXLow)
            cx0 = hasX0 ? std::max(cx0, clampX) : clampX, hasX0 = true, x0 = std::max(x0, clampX);
        if (r.clamps & CConnectReach::kClampXHigh)
            cx1 = hasX1 ? std::min(cx1, clampX) : clampX, hasX1 = true, x1 = std::min(x1, clampX);
        if (r.clamps & CConnectReach::kClampYLow)
            cy0 = hasY0 ? std::max(cy0, clampY) : clampY, hasY0 = true, y0 = std::max(y0, clampY);
        if (r.clamps & CConnectReach::kClampYHigh)
            cy1 = hasY1 ? std::min(cy1, clampY) : clampY, hasY1 = true, y1 = std::min(y1, clampY);
        x0 = std::min(x0, hasX0 && cx0 >= 1 ? std::max(xLow, cx0) : xLow);
        x1 = std::max(x1, hasX1 && cx1 >= 1 ? std::min(xHigh, cx1) : xHigh);
        y0 = std::min(y0, hasY0 && cy0 >= 1 ? std::max(yLow, cy0) : yLow);
        y1 = std::max(y1, hasY1 && cy1 >= 1 ? std::min(yHigh, cy1) : yHigh);
    }
};

// Grows each group's box a cell per side and round, and links every unused
// end inside the box, scanning all ends in grid order every round.
Groups Match(const CConnectGrid& grid)
{
    struct End {
        CConnectCell cell;
        const CConnectReach* reach;
        bool used = false;
    };
    std::vector<End> ends;
    for (std::size_t row = 0; row < grid.GetRowCount(); ++row)
        for (const CConnectCell& c : grid.GetRowCells(row))
            ends.push_back({c, &grid.GetReach(c)});
    if (ends.empty())
        return {};
    std::int64_t minX = ends[0].cell.column, maxX = minX, minY = ends[0].cell.row, maxY = minY;
    for (const End& e : ends) {
        minX = std::min<std::int64_t>(minX, e.cell.column), maxX = std::max<std::int64_t>(maxX, e.cell.column);
        minY = std::min<std::int64_t>(minY, e.cell.row), maxY = std::max<std::int64_t>(maxY, e.cell.row);
    }
    Groups groups;
    for (End& first : ends) {
        if (first.used)
            continue;
        std::vector<Link>& group = groups.emplace_back();
        const std::int64_t r = first.reach->groupRadius;
        Window w{first.cell.column,     first.cell.column,     first.cell.row,     first.cell.row,
                 first.cell.column - r, first.cell.column + r, first.cell.row - r, first.cell.row + r};
        const auto link = [&](End& e) {
            e.used = true;
            group.push_back({grid.GetPolyline(e.cell), static_cast<int>(e.cell.order % 2)});
            w.Apply(*e.reach);
        };
        link(first);
        for (;;) {
            for (End& e : ends)
                if (!e.used && e.cell.column >= w.boxX0 && e.cell.column <= w.boxX1 && e.cell.row >= w.boxY0 &&
                    e.cell.row <= w.boxY1)
                    link(e);
            const bool left = w.boxX0 > std::max(w.x0, minX), right = w.boxX1 < std::min(w.x1, maxX);
            const bool down = w.boxY0 > std::max(w.y0, minY), up = w.boxY1 < std::min(w.y1, maxY);
            if (!left && !right && !down && !up)
                break;
            w.boxX0 -= left, w.boxX1 += right, w.boxY0 -= down, w.boxY1 += up;
        }
    }
    return groups;
}

Groups GroupsOf(const CConnectGrid& grid)
{
    Groups groups;
    for (CConnectGroup* g = grid.GetGroups(); g; g = g->next) {
        std::vector<Link>& group = groups.emplace_back();
        for (CConnectEnd* link = g->head; link; link = link->next) {
            group.push_back({static_cast<const CPolyLine*>(link->entity), link->end});
            EXPECT_EQ(link->group, g);
            EXPECT_EQ(link->end == 0 ? link->entity->m_StartLink : link->entity->m_EndLink, link);
        }
        EXPECT_EQ(static_cast<std::size_t>(g->count), group.size());
        std::reverse(group.begin(), group.end());
    }
    std::reverse(groups.begin(), groups.end());
    return groups;
}

// Cells by row, then column, then filing order, each row's key its cells'.
void ExpectCellOrder(const CConnectGrid& grid)
{
    std::vector<CConnectCell> cells;
    for (std::size_t row = 0; row < grid.GetRowCount(); ++row)
        for (const CConnectCell& c : grid.GetRowCells(row)) {
            EXPECT_EQ(c.row, grid.GetRowKey(row));
            cells.push_back(c);
        }
    EXPECT_TRUE(std::is_sorted(cells.begin(), cells.end(), [](const CConnectCell& a, const CConnectCell& b) {
        return std::tie(a.row, a.column, a.order) < std::tie(b.row, b.column, b.order);
    }));
    for (std::size_t row = 1; row < grid.GetRowCount(); ++row)
        EXPECT_LT(grid.GetRowKey(row - 1), grid.GetRowKey(row));
}

// Each polyline's active end after matching: the end linked last.
std::vector<std::uint32_t> ActiveEndsOf(const Groups& groups, const std::vector<CPolyLine*>& polylines)
{
    std::vector<std::uint32_t> active(polylines.size(), 2);
    for (const std::vector<Link>& group : groups)
        for (const Link& link : group) {
            const auto at = std::find(polylines.begin(), polylines.end(), link.polyline) - polylines.begin();
            active[static_cast<std::size_t>(at)] = static_cast<std::uint32_t>(link.end);
        }
    return active;
}

std::vector<std::uint32_t> ActiveEnds(const std::vector<CPolyLine*>& polylines)
{
    std::vector<std::uint32_t> active;
    for (const CPolyLine* p : polylines)
        active.push_back(p->m_ActiveEnd);
    return active;
}

}  // namespace grid_reference

// Dense clusters chain windows into large groups, wide ends reach far and
// clamp, and a far-off end makes the grid index coarser tiles.
TEST(ConnectGrid, GroupsEqualAPlainScanOfEveryEndEachRound)
{
    std::mt19937 random(7);
    for (int trial = 0; trial < 40; ++trial) {
        const double span = trial % 4 == 0 ? 400.0 : 70.0;
        std::uniform_real_distribution<double> where(-span / 4, span), step(-9, 9), width(0, trial % 3 ? 2.0 : 9.0);
        std::vector<std::unique_ptr<CPolyLine>> owned;
        std::vector<CPolyLine*> polylines;
        for (int i = 0; i < 150; ++i) {
            std::vector<Pt> points;
            double x = where(random), y = where(random);
            if (trial % 5 == 1 && i == 0)
                x = 3e6, y = -2e6;  // far off
            const double w = width(random);
            for (int k = 2 + i % 3; k > 0; --k) {
                points.push_back({x, y, w});
                x += step(random);
                y += step(random);
            }
            owned.emplace_back(MakePolyline(points));
            polylines.push_back(owned.back().get());
        }
        // In row order, and in bands of two rows that many groups cross.
        for (const std::size_t bandRows : {0, 2}) {
            CConnectGrid grid;
            grid.SetBandRows(bandRows);
            ASSERT_TRUE(grid.FilePolylines(polylines, ConnectOptions(2 + trial % 7)));
            ASSERT_TRUE(grid.Index());
            grid_reference::ExpectCellOrder(grid);
            const grid_reference::Groups expected = grid_reference::Match(grid);
            ASSERT_EQ(grid.Match([](std::size_t, std::size_t) { return true; }), CConnectGrid::MatchResult::kDone);
            EXPECT_EQ(grid_reference::GroupsOf(grid), expected) << "trial " << trial;
            EXPECT_EQ(grid_reference::ActiveEnds(polylines), grid_reference::ActiveEndsOf(expected, polylines))
                << "trial " << trial;
            grid.Clear();
        }
    }
}

// Bands matched ahead on the pool and carried on in order give the groups,
// links and active ends of the plain row order, whatever the threads and the
// bands: dense ends chain windows across many rows and band borders, and
// wide lines reach far.
TEST(ConnectGrid, BandsGiveTheGroupsOfThePlainRowOrder)
{
    std::mt19937 random(11);
    for (int trial = 0; trial < 12; ++trial) {
        // The first is large enough for bands of its own choosing; every
        // fourth packs many ends into each row.
        const int count = trial == 0 ? 5000 : 400;
        const double across = trial % 3 == 0 ? 60.0 : 200.0, down = trial == 0 ? 2000.0 : trial % 4 == 3 ? 30.0 : 300.0;
        std::uniform_real_distribution<double> x0(0, across), y0(0, down), step(-6, 6), width(0, trial % 2 ? 2.0 : 8.0);
        std::uniform_int_distribution<int> vertices(2, 4);
        std::vector<std::unique_ptr<CPolyLine>> owned;
        std::vector<CPolyLine*> polylines;
        for (int i = 0; i < count; ++i) {
            std::vector<Pt> points;
            double x = x0(random), y = y0(random);
            // A few very wide lines chain windows far down the page.
            const double w = i % 97 == 0 ? 30.0 : width(random);
            for (int k = vertices(random); k > 0; --k) {
                points.push_back({x, y, w});
                x += step(random);
                y += step(random);
            }
            owned.emplace_back(MakePolyline(points));
            owned.back()->m_ActiveEnd = static_cast<std::uint32_t>(i % 2);
            polylines.push_back(owned.back().get());
        }
        const CTraceOption options = ConnectOptions(1 + trial % 5);
        const auto match = [&](int threads, std::size_t bandRows) {
            SetRowBandThreads(threads);
            for (std::size_t i = 0; i < polylines.size(); ++i)
                polylines[i]->m_ActiveEnd = static_cast<std::uint32_t>(i % 2);
            auto grid = std::make_unique<CConnectGrid>();
            grid->SetBandRows(bandRows);
            EXPECT_TRUE(grid->FilePolylines(polylines, options));
            EXPECT_TRUE(grid->Index());
            grid_reference::ExpectCellOrder(*grid);
            std::size_t calls = 0, last = 0;
            EXPECT_EQ(grid->Match([&](std::size_t done, std::size_t rows) {
                EXPECT_GE(done, last);
                EXPECT_LE(done, rows);
                last = done;
                ++calls;
                return true;
            }),
                      CConnectGrid::MatchResult::kDone);
            EXPECT_GT(calls, 0u);
            return grid;
        };
        const std::unique_ptr<CConnectGrid> plain = match(1, 0);
        const grid_reference::Groups expected = grid_reference::GroupsOf(*plain);
        const std::vector<std::uint32_t> active = grid_reference::ActiveEnds(polylines);
        EXPECT_EQ(active, grid_reference::ActiveEndsOf(expected, polylines));
        plain->Clear();
        for (const int threads : {1, 2, 4, 7})
            for (const std::size_t bandRows : {0, 1, 2, 3, 8, 41}) {
                if (threads == 1 && bandRows == 0)
                    continue;  // the plain order itself
                const std::unique_ptr<CConnectGrid> grid = match(threads, bandRows);
                EXPECT_EQ(grid->GetGroupCount(), expected.size());
                EXPECT_EQ(grid_reference::GroupsOf(*grid), expected) << trial << " " << threads << " " << bandRows;
                EXPECT_EQ(grid_reference::ActiveEnds(polylines), active) << trial << " " << threads << " " << bandRows;
            }
    }
    SetRowBandThreads(0);
}

// Nothing filed matches to no group; a stop between bands links nothing
// and leaves the active ends alone.
TEST(ConnectGrid, AnEmptyOrStoppedMatchLinksNothing)
{
    for (const std::size_t bandRows : {0, 3}) {
        CConnectGrid empty;
        empty.SetBandRows(bandRows);
        ASSERT_TRUE(empty.FilePolylines({}, ConnectOptions()));
        ASSERT_TRUE(empty.Index());
        EXPECT_EQ(empty.Match([](std::size_t, std::size_t) { return true; }), CConnectGrid::MatchResult::kDone);
        EXPECT_EQ(empty.GetGroups(), nullptr);
    }
    CLayer layer;
    FillCrosses(layer, 6);
    const std::vector<CPolyLine*> polylines = PolylinesOf(layer);
    for (CPolyLine* p : polylines)
        p->m_ActiveEnd = 1;
    for (const std::size_t bandRows : {0, 3}) {
        CConnectGrid grid;
        grid.SetBandRows(bandRows);
        ASSERT_TRUE(grid.FilePolylines(polylines, ConnectOptions()));
        ASSERT_TRUE(grid.Index());
        EXPECT_EQ(grid.Match([](std::size_t, std::size_t) { return false; }), CConnectGrid::MatchResult::kStopped);
        EXPECT_EQ(grid.GetGroupCount(), 0u);
        EXPECT_EQ(grid.GetGroups(), nullptr);
        ExpectNoLinks(layer);
        for (const CPolyLine* p : polylines)
            EXPECT_EQ(p->m_ActiveEnd, 1u);
    }
}

// Reach bounds are kept in 32 bits: a window wider than the page still
// reaches past the farthest cell keys, as it did unnarrowed.
TEST(ConnectGrid, AnAbsurdlyWideWindowReachesPastTheFarthestKeys)
{
    std::vector<std::unique_ptr<CPolyLine>> owned;
    owned.emplace_back(MakePolyline({{0, 0, 1e12}, {0, 10, 1e12}}));
    owned.emplace_back(MakePolyline({{1e15, 1e15}, {-1e15, -1e15}}));
    const std::vector<CPolyLine*> polylines{owned[0].get(), owned[1].get()};
    CConnectGrid grid;
    ASSERT_TRUE(grid.FilePolylines(polylines, ConnectOptions()));
    ASSERT_TRUE(grid.Index());
    std::int64_t low = 0, high = 0;
    for (std::size_t row = 0; row < grid.GetRowCount(); ++row)
        for (const CConnectCell& c : grid.GetRowCells(row)) {
            low = std::min<std::int64_t>({low, c.row, c.column});
            high = std::max<std::int64_t>({high, c.row, c.column});
        }
    ASSERT_LT(low, -1000000);
    ASSERT_GT(high, 1000000);
    std::size_t wide = 0;
    for (std::size_t row = 0; row < grid.GetRowCount(); ++row)
        for (const CConnectCell& c : grid.GetRowCells(row)) {
            if (grid.GetPolyline(c) == polylines[0]) {
                const CConnectReach& r = grid.GetReach(c);
                EXPECT_LT(r.xLow, low);
                EXPECT_LT(r.yLow, low);
                EXPECT_GT(r.xHigh, high);
                EXPECT_GT(r.yHigh, high);
                // A group this end starts reaches past every key from any key.
                EXPECT_LT(high - std::int64_t{r.groupRadius}, low);
                EXPECT_GT(low + std::int64_t{r.groupRadius}, high);
                ++wide;
            }
        }
    EXPECT_EQ(wide, 2u);
}
