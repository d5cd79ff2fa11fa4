#pragma once
// Line connection: joins the traced polylines of a layer whose ends lie close
// together into longer polylines.
//
// Ends are filed in an endpoint grid by whole cell (floor of x and y). Ends
// that lie within each other's search windows form a group; inside a group
// short spurs at three-way junctions are removed and the other ends are
// paired by how well their end segments line up, and each pair is joined
// (CPolyLine::JoinPolyline). Polylines whose ends found no partner go back
// to the layer unchanged; finally every polyline may close itself.
//
// The grid belongs to one run and is empty outside it, so it never names a
// polyline that someone else may have deleted meanwhile. While a run holds
// polylines off the layer, each of them is named by at least one live link
// (a CConnectEnd whose entity points back at it), and a link's entity is
// either null or a polyline the run owns; a stop or a shortage of memory
// puts every polyline it holds back on the layer.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "model/point.h"
#include "model/polyline.h"

class CCommonThread;
class CInkGuard;
class CLayer;
class CTraceOption;
struct CConnectEnd;

// A group of ends that reach each other through their search windows.
struct CConnectGroup {
    CConnectEnd* head = nullptr;    // links, newest first
    CConnectGroup* next = nullptr;  // groups, newest first
    std::int32_t count = 0;         // links ever made in the group
};

// What one end adds to the search window of its group, worked out once when
// the end is filed: the bounds of its reach (its point widened by its
// window radius), the sides its end segment clamps and where. Bounds and
// radius saturate just past the range of cell keys: beyond it every value
// compares alike with the keys, so the window grows the same.
struct CConnectReach {
    enum : std::uint8_t { kClampXLow = 1, kClampXHigh = 2, kClampYLow = 4, kClampYHigh = 8 };
    std::int32_t xLow = 0, xHigh = 0, yLow = 0, yHigh = 0;
    std::int32_t clampX = 0, clampY = 0;  // cell of the end segment's middle
    std::int32_t groupRadius = 0;         // box radius of a group this end starts
    std::uint8_t clamps = 0;
};

// One filed end: its cell and its filing order, which names the polyline
// (order / 2 among the filed ones) and the end (order % 2: 0 head, 1 tail).
struct CConnectCell {
    std::int32_t row = 0;     // floor(y)
    std::int32_t column = 0;  // floor(x)
    std::uint32_t order = 0;  // equal cells keep it
};

// The endpoint grid of one run: cells sorted by row, then column, then
// filing order (a new cell goes behind the cells of an equal key), the
// groups found by matching and their links.
class CConnectGrid {
public:
    enum class MatchResult { kDone, kStopped, kNoMemory };
    // Told the rows matched so far and all rows; false stops matching.
    using MatchProgress = std::function<bool(std::size_t done, std::size_t rows)>;

    CConnectGrid() = default;
    ~CConnectGrid();
    CConnectGrid(const CConnectGrid&) = delete;
    CConnectGrid& operator=(const CConnectGrid&) = delete;

    // Forgets every cell, group and link; each live link is first cleared
    // from its polyline.
    void Clear();

    // Files both ends of every polyline, in order (start point as end 0,
    // end point as end 1), with their reach under the options; a polyline is
    // filed once at most. The polylines are measured on the row-band pool;
    // each keeps its active end. False when memory ran out.
    [[nodiscard]] bool FilePolylines(std::span<CPolyLine* const> polylines, const CTraceOption& options);
    // Sorts the filed ends into rows; call once after filing. False when
    // memory ran out.
    [[nodiscard]] bool Index();

    [[nodiscard]] std::size_t GetRowCount() const { return m_Rows.size(); }
    [[nodiscard]] std::int32_t GetRowKey(std::size_t row) const { return m_Rows[row].key; }
    [[nodiscard]] std::span<const CConnectCell> GetRowCells(std::size_t row) const;
    [[nodiscard]] const CConnectReach& GetReach(const CConnectCell& cell) const { return m_Reach[cell.order]; }
    [[nodiscard]] CPolyLine* GetPolyline(const CConnectCell& cell) const { return m_Polylines[cell.order / 2]; }

    // Matches the rows in order: each unused end of a row starts a group
    // that every end reachable from it through chains of search windows
    // joins. Bands of rows are matched on the row-band pool, with the result
    // of the plain order whatever the thread count. The progress runs on the
    // calling thread between bands; a stop (or a shortage of memory) links
    // nothing. When done, each polyline's active end is its end linked last
    // and the cells are dropped; the groups and links stay.
    [[nodiscard]] MatchResult Match(const MatchProgress& progress);
    // Rows per band of Match; 0 (the default) chooses by the ends and the
    // threads. Small bands make groups cross band borders often, for tests.
    void SetBandRows(std::size_t rows) { m_BandRows = rows; }
    // Drops the cells; the groups and links stay.
    void ReleaseCells();

    [[nodiscard]] CConnectGroup* GetGroups() const { return m_GroupHead; }
    [[nodiscard]] std::size_t GetGroupCount() const { return m_Groups.size(); }

private:
    friend class CConnectMatcher;
    friend class CConnectBands;
    struct Row {
        std::int32_t key;
        std::uint32_t begin;  // cell range
        std::uint32_t end;
    };

    void SortCells();
    void IndexTiles();
    [[nodiscard]] std::size_t TileOf(std::int64_t row, std::int64_t column) const;

    std::vector<CPolyLine*> m_Polylines;  // in filing order, until matched
    std::vector<CConnectCell> m_Cells;
    std::vector<CConnectReach> m_Reach;  // by filing order
    std::vector<Row> m_Rows;
    std::int32_t m_MinColumn = 0;  // extent of the filed ends
    std::int32_t m_MaxColumn = 0;
    std::vector<CConnectGroup> m_Groups;  // polylines point at these: never resized while links live
    std::vector<CConnectEnd> m_Links;
    CConnectGroup* m_GroupHead = nullptr;
    // The cells again, by tile (a square of cells) and then in cell order,
    // so that a window finds the ends near it without walking rows.
    std::vector<std::uint32_t> m_TileStart;  // tiles row by row from the ends' corner, and the end
    std::vector<std::uint32_t> m_TileCells;
    int m_TileShift = 0;
    std::int64_t m_TilesAcross = 0;
    std::size_t m_BandRows = 0;
};

// Makes the join of a (at its active end) with b (at its active end). Null
// with refused set leaves both ends as they are; any other null is a
// shortage of memory. Tests stand in a failing one.
using PolylineJoiner =
    std::function<std::unique_ptr<CPolyLine>(CPolyLine& a, CPolyLine& b, bool forceMidpoint, bool& refused)>;

// Connects the polylines of the layer with the given options. The sink
// (null: silent and unstoppable) gets the step text "Connect line", the
// positions 0-50 matching, 50-90 joining and 90-100 closing, and the step
// end. False when stopped (run end 10) or out of memory (run end 2); the
// layer then keeps every polyline, joined as far as the run got.
// With an ink guard, ends meet at a corner or half way only where
// JointKeepsToInk accepts the joint, else they are bridged where it accepts
// the bridge, else they stay apart.
[[nodiscard]] bool ConnectLines(CLayer& layer, CCommonThread* sink, const CTraceOption& options,
                                const CInkGuard* ink = nullptr);
// The joint lies on the thinner of the two strokes (CInkGuard::IsOnStroke);
// the segments reaching a corner keep within the guard's reach of the ink
// (CInkGuard::IsSegmentNearInk), those reaching a joint half way on their
// strokes (CInkGuard::IsSegmentOnStroke) unless it closes a ring and moves
// its ends no farther than half the stroke's width; a bridge keeps within
// the guard's reach for either line's width. guard is a CInkGuard.
[[nodiscard]] bool JointKeepsToInk(const CPolyLine::CJoint& joint, const void* guard);
[[nodiscard]] bool ConnectLines(CLayer& layer, CCommonThread* sink, const CTraceOption& options,
                                const PolylineJoiner& join);
