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

class CCommonThread;
class CLayer;
class CPolyLine;
class CTraceOption;
struct CConnectEnd;

// A group of ends that reach each other through their search windows.
struct CConnectGroup {
    CConnectEnd* head = nullptr;     // links, newest first
    CConnectGroup* next = nullptr;   // groups, newest first
    std::int32_t count = 0;          // links ever made in the group
};

// What one end adds to the search window of its group, worked out once when
// the end is filed: the bounds of its reach (its point widened by its
// window radius), the sides its end segment clamps and where.
struct CConnectReach {
    enum : std::uint8_t { kClampXLow = 1, kClampXHigh = 2, kClampYLow = 4, kClampYHigh = 8 };
    std::int64_t xLow = 0, xHigh = 0, yLow = 0, yHigh = 0;
    std::int64_t clampX = 0, clampY = 0;   // cell of the end segment's middle
    std::int64_t groupRadius = 0;          // box radius of a group this end starts
    std::uint8_t clamps = 0;
};

// One filed end: its cell, its polyline and which end it is.
struct CConnectCell {
    std::int32_t row = 0;      // floor(y)
    std::int32_t column = 0;   // floor(x)
    std::uint32_t order = 0;   // filing order: equal cells keep it
    CPolyLine* polyline = nullptr;
    std::int32_t end = 0;      // 0 head, 1 tail
    bool used = false;         // joined a group
};

// The endpoint grid of one run: cells sorted by row, then column, then
// filing order (a new cell goes behind the cells of an equal key), the
// groups found by matching and their links.
class CConnectGrid {
public:
    CConnectGrid() = default;
    ~CConnectGrid();
    CConnectGrid(const CConnectGrid&) = delete;
    CConnectGrid& operator=(const CConnectGrid&) = delete;

    // Forgets every cell, group and link; each live link is first cleared
    // from its polyline.
    void Clear();

    // Files both ends of every polyline, in order (start point as end 0,
    // end point as end 1), with their reach under the options. The
    // polylines are measured on the row-band pool; each keeps its active
    // end. False when memory ran out.
    [[nodiscard]] bool FilePolylines(std::span<CPolyLine* const> polylines, const CTraceOption& options);
    // Sorts the filed ends into rows; call once after filing. False when
    // memory ran out.
    [[nodiscard]] bool Index();

    [[nodiscard]] std::size_t GetRowCount() const { return m_Rows.size(); }
    [[nodiscard]] std::int32_t GetRowKey(std::size_t row) const { return m_Rows[row].key; }
    [[nodiscard]] std::span<const CConnectCell> GetRowCells(std::size_t row) const;
    // The reach of a filed end; once indexed, by its place among the cells.
    [[nodiscard]] const CConnectReach& GetReach(std::size_t cell) const { return m_Reach[cell]; }

    // Matches each unused cell of the row, in order: every end reachable
    // from it through chains of search windows joins its group. The
    // polylines' active ends are changed. False when memory ran out.
    [[nodiscard]] bool MatchRow(std::size_t row);
    // Drops the cells once matching is over; the groups and links stay.
    void ReleaseCells();

    [[nodiscard]] CConnectGroup* GetGroups() const { return m_GroupHead; }
    [[nodiscard]] std::size_t GetGroupCount() const { return m_Groups.size(); }

private:
    struct Row {
        std::int32_t key;
        std::uint32_t begin;   // cell range
        std::uint32_t end;
    };
    struct Window;
    // Tiles of the tile index, by corner (tile coordinates).
    struct TileRange {
        std::int64_t x0, x1, y0, y1;
    };

    void MatchCell(std::uint32_t cell);
    void LinkCell(CConnectCell& cell, CConnectGroup* group, Window& window);
    void Cover(const Window& window, TileRange& covered, bool first);
    void AddTiles(const Window& window, std::int64_t y, std::int64_t x0, std::int64_t x1);
    void Reach(int side, std::int64_t key);
    void IndexTiles();
    [[nodiscard]] std::size_t TileOf(std::int64_t row, std::int64_t column) const;

    std::vector<CConnectCell> m_Cells;
    std::vector<CConnectReach> m_Reach;   // by filing order, once indexed by cell
    std::vector<Row> m_Rows;
    std::int32_t m_MinColumn = 0;   // extent of the filed ends
    std::int32_t m_MaxColumn = 0;
    std::vector<CConnectGroup> m_Groups;   // reserved: addresses stay
    std::vector<CConnectEnd> m_Links;      // reserved: addresses stay
    CConnectGroup* m_GroupHead = nullptr;
    // The cells again, by tile (a square of cells) and then in cell order,
    // so that a window finds the ends near it without walking rows.
    std::vector<std::uint32_t> m_TileStart;   // tiles row by row from the ends' corner, and the end
    std::vector<std::uint32_t> m_TileCells;
    int m_TileShift = 0;
    std::int64_t m_TilesAcross = 0;
    // An unused cell of the tiles a group has covered, and how many sides
    // of the box (at most one across and one up or down) must still pass it.
    struct Candidate {
        std::uint32_t cell;
        std::int32_t pending;
    };
    // A candidate waiting for one side of the box to reach its row or column.
    struct Waiting {
        std::int64_t key;
        std::uint32_t candidate;
    };
    std::vector<Candidate> m_Candidates;
    std::vector<Waiting> m_Waiting[4];      // heaps by side: left, right, down, up
    std::vector<std::uint32_t> m_Entering;  // cells the box reached this round
};

// Makes the join of a (at its active end) with b (at its active end); the
// run treats null as a shortage of memory. Tests stand in a failing one.
using PolylineJoiner = std::function<std::unique_ptr<CPolyLine>(CPolyLine& a, CPolyLine& b, bool forceMidpoint)>;

// Connects the polylines of the layer with the given options. The sink
// (null: silent and unstoppable) gets the step text "Connect line", the
// positions 0-50 matching, 50-90 joining and 90-100 closing, and the step
// end. False when stopped (run end 10) or out of memory (run end 2); the
// layer then keeps every polyline, joined as far as the run got.
[[nodiscard]] bool ConnectLines(CLayer& layer, CCommonThread* sink, const CTraceOption& options);
[[nodiscard]] bool ConnectLines(CLayer& layer, CCommonThread* sink, const CTraceOption& options,
                                const PolylineJoiner& join);
