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

    // Files both ends of a polyline (start point as end 0, end point as
    // end 1). False when memory ran out.
    [[nodiscard]] bool FilePolyline(CPolyLine* polyline);
    // Sorts the filed ends into rows; call once after filing. False when
    // memory ran out.
    [[nodiscard]] bool Index();

    [[nodiscard]] std::size_t GetRowCount() const { return m_Rows.size(); }
    [[nodiscard]] std::int32_t GetRowKey(std::size_t row) const { return m_Rows[row].key; }
    [[nodiscard]] std::span<const CConnectCell> GetRowCells(std::size_t row) const;

    // Matches each unused cell of the row, in order: every end reachable
    // from it through chains of search windows joins its group. The
    // polylines' active ends are changed. False when memory ran out.
    [[nodiscard]] bool MatchRow(std::size_t row, const CTraceOption& options);
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
    struct RowSpan {
        std::uint32_t lo;   // first cell of the row inside the box
        std::uint32_t hi;   // one past the last
    };

    void MatchCell(std::size_t row, std::uint32_t cell, const CTraceOption& options);
    void LinkCell(CConnectCell& cell, CConnectGroup* group, Window& window, const CTraceOption& options);
    void LinkRange(std::uint32_t from, std::uint32_t to, CConnectGroup* group, Window& window,
                   const CTraceOption& options);
    RowSpan& SpanOf(std::size_t row, std::size_t startRow);

    std::vector<CConnectCell> m_Cells;
    std::vector<Row> m_Rows;
    std::int32_t m_MinColumn = 0;   // extent of the filed ends
    std::int32_t m_MaxColumn = 0;
    std::vector<CConnectGroup> m_Groups;   // reserved: addresses stay
    std::vector<CConnectEnd> m_Links;      // reserved: addresses stay
    CConnectGroup* m_GroupHead = nullptr;
    std::vector<RowSpan> m_SpansUp;        // rows from the start row up
    std::vector<RowSpan> m_SpansDown;      // rows below it, nearest first
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
