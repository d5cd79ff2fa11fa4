// The endpoint grid of line connection: filing polyline ends by cell and
// matching them into groups through their search windows.
//
// Cells are kept in one array sorted by row, column and filing order, which
// is the order the row and cell chains of the grid define (rows by key,
// cells by column, a new cell behind those of an equal key), built in
// n log n instead of walking the chains for every end. A row is a range of
// that array.
//
// Matching grows a box around the first end of a group one cell per side
// and round, up to bounds that each joining end's window may widen or clamp.
// Every cell inside the box has been visited once the box holds it, so a
// round only needs to look at what the box gained: whole new rows at the
// bottom and top, and in the rows it already spans the cells of the new left
// and right columns, found by moving each row's in-box range by one column.
// Ends join in the order the full border walk would meet them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

#include "model/constants.h"
#include "model/polyline.h"
#include "trace/connect.h"
#include "trace/trace_option.h"

namespace {

// Cell keys and window coordinates stay well inside 64-bit arithmetic.
constexpr double kCoordinateLimit = 1e15;
constexpr std::int32_t kKeyLimit = std::numeric_limits<std::int32_t>::max() / 2;

// The window radius grows with the line width by this factor.
constexpr double kRadiusFactor = 1.5;
// The angle band around each axis in which an end clamps one side only.
constexpr double kAngleBand = PI_40_DEGREES;

std::int32_t CellKey(double v)
{
    const double f = std::floor(v);
    if (!(f > -kKeyLimit)) return std::isnan(f) ? 0 : -kKeyLimit;
    if (f > kKeyLimit) return kKeyLimit;
    return static_cast<std::int32_t>(f);
}

// Truncation toward zero, saturated.
std::int64_t TruncToInt(double v)
{
    if (std::isnan(v)) return 0;
    return static_cast<std::int64_t>(std::clamp(v, -kCoordinateLimit, kCoordinateLimit));
}

std::int64_t ConnectDistance(const CTraceOption& options)
{
    return static_cast<std::int64_t>(static_cast<unsigned>(options.ChartType.i_ConDis));
}

// Start width of the vertex at the end.
double EndWidth(const CPolyLine& polyline, int end)
{
    const CVertex* v = end == 0 ? polyline.GetHead() : polyline.GetTail();
    return v ? v->startWidth : 0.0;
}

// The box a group starts with: the connect distance, or a reach from the
// line width for wide lines, never less than the connect distance.
std::int64_t GroupRadius(double width, std::int64_t distance)
{
    if (static_cast<double>(distance) < kRadiusFactor * std::ceil(width + 0.5))
        return std::max(distance, TruncToInt(kRadiusFactor * (width + 0.5)));
    return distance;
}

// The reach of every end's window.
std::int64_t WindowRadius(double width, std::int64_t distance)
{
    if (static_cast<double>(distance) < kRadiusFactor * std::trunc(width + 0.5))
        return TruncToInt(kRadiusFactor * std::ceil(width + 0.5));
    return distance;
}

}  // namespace

// The search window of one group: the box visited so far, the bounds it may
// grow to and the clamps that keep it from reaching behind an end.
struct CConnectGrid::Window {
    std::int64_t boxXLow, boxXHigh, boxYLow, boxYHigh;
    std::int64_t xLow, xHigh, yLow, yHigh;   // bounds
    bool hasXLow = false, hasXHigh = false, hasYLow = false, hasYHigh = false;
    std::int64_t clampXLow = -1, clampXHigh = -1, clampYLow = -1, clampYHigh = -1;

    void ClampXLow(std::int64_t c)
    {
        clampXLow = hasXLow ? std::max(clampXLow, c) : c;
        hasXLow = true;
        if (xLow < c) xLow = c;
    }
    void ClampXHigh(std::int64_t c)
    {
        clampXHigh = hasXHigh ? std::min(clampXHigh, c) : c;
        hasXHigh = true;
        if (xHigh > c) xHigh = c;
    }
    void ClampYLow(std::int64_t c)
    {
        clampYLow = hasYLow ? std::max(clampYLow, c) : c;
        hasYLow = true;
        if (yLow < c) yLow = c;
    }
    void ClampYHigh(std::int64_t c)
    {
        clampYHigh = hasYHigh ? std::min(clampYHigh, c) : c;
        hasYHigh = true;
        if (yHigh > c) yHigh = c;
    }

    // Adds the window of one end: clamps on the side its polyline runs to,
    // then bounds widened by the radius, but not across a clamp of 1 or more.
    void Apply(CPolyLine& polyline, int end, const CTraceOption& options)
    {
        polyline.m_ActiveEnd = static_cast<std::uint32_t>(end);
        frDoublePoint e = end == 0 ? polyline.GetStartPoint() : polyline.GetEndPoint(), inner = e;
        polyline.GetEndSegment(&e, &inner, options);
        double a = std::atan2(inner.y - e.y, inner.x - e.x);
        if (a < 0) a += TWO_PI;
        const std::int64_t cx = CellKey((e.x + inner.x) * 0.5), cy = CellKey((e.y + inner.y) * 0.5);
        const double t = kAngleBand;
        if (a > TWO_PI - t || a <= t) {
            ClampXHigh(cx);
        } else if (a <= HALF_PI - t) {
            ClampXHigh(cx);
            ClampYHigh(cy);
        } else if (a <= HALF_PI + t) {
            ClampYHigh(cy);
        } else if (a <= PI - t) {
            ClampXLow(cx);
            ClampYHigh(cy);
        } else if (a <= PI + t) {
            ClampXLow(cx);
        } else if (a <= THREE_HALF_PI - t) {
            ClampXLow(cx);
            ClampYLow(cy);
        } else if (a <= THREE_HALF_PI + t) {
            ClampYLow(cy);
        } else {
            ClampYLow(cy);
            ClampXHigh(cx);
        }

        const auto r = static_cast<double>(WindowRadius(EndWidth(polyline, end), ConnectDistance(options)));
        std::int64_t v = TruncToInt(e.x - r);
        if (hasXLow && clampXLow >= 1) v = std::max(v, clampXLow);
        xLow = std::min(xLow, v);
        v = TruncToInt(e.x + r);
        if (hasXHigh && clampXHigh >= 1) v = std::min(v, clampXHigh);
        xHigh = std::max(xHigh, v);
        v = TruncToInt(e.y - r);
        if (hasYLow && clampYLow >= 1) v = std::max(v, clampYLow);
        yLow = std::min(yLow, v);
        v = TruncToInt(e.y + r);
        if (hasYHigh && clampYHigh >= 1) v = std::min(v, clampYHigh);
        yHigh = std::max(yHigh, v);
    }
};

CConnectGrid::~CConnectGrid() { Clear(); }

void CConnectGrid::Clear()
{
    for (CConnectEnd& link : m_Links) {
        if (link.entity == nullptr) continue;
        CConnectEnd*& field = link.end == 0 ? link.entity->m_StartLink : link.entity->m_EndLink;
        if (field == &link) field = nullptr;
        link.entity = nullptr;
    }
    m_Cells = {};
    m_Rows = {};
    m_Groups = {};
    m_Links = {};
    m_SpansUp = {};
    m_SpansDown = {};
    m_GroupHead = nullptr;
}

bool CConnectGrid::FilePolyline(CPolyLine* polyline)
{
    if (polyline == nullptr) return true;
    try {
        const frDoublePoint start = polyline->GetStartPoint(), end = polyline->GetEndPoint();
        const auto order = static_cast<std::uint32_t>(m_Cells.size());
        m_Cells.push_back({CellKey(start.y), CellKey(start.x), order, polyline, 0, false});
        m_Cells.push_back({CellKey(end.y), CellKey(end.x), order + 1, polyline, 1, false});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CConnectGrid::Index()
{
    try {
        std::sort(m_Cells.begin(), m_Cells.end(), [](const CConnectCell& a, const CConnectCell& b) {
            if (a.row != b.row) return a.row < b.row;
            if (a.column != b.column) return a.column < b.column;
            return a.order < b.order;
        });
        m_Rows.clear();
        m_MinColumn = m_MaxColumn = 0;
        for (std::uint32_t i = 0; i < m_Cells.size(); ++i) {
            m_MinColumn = i == 0 ? m_Cells[i].column : std::min(m_MinColumn, m_Cells[i].column);
            m_MaxColumn = i == 0 ? m_Cells[i].column : std::max(m_MaxColumn, m_Cells[i].column);
            if (m_Rows.empty() || m_Rows.back().key != m_Cells[i].row) m_Rows.push_back({m_Cells[i].row, i, i});
            m_Rows.back().end = i + 1;
        }
        // Every end joins one group at most once; nothing may move later,
        // as the polylines point at their links.
        m_Links.reserve(m_Cells.size());
        m_Groups.reserve(m_Cells.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::span<const CConnectCell> CConnectGrid::GetRowCells(std::size_t row) const
{
    const Row& r = m_Rows[row];
    return {m_Cells.data() + r.begin, r.end - r.begin};
}

void CConnectGrid::ReleaseCells()
{
    m_Cells = {};
    m_Rows = {};
    m_SpansUp = {};
    m_SpansDown = {};
}

bool CConnectGrid::MatchRow(std::size_t row, const CTraceOption& options)
{
    try {
        for (std::uint32_t i = m_Rows[row].begin; i < m_Rows[row].end; ++i)
            if (!m_Cells[i].used) MatchCell(row, i, options);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CConnectGrid::LinkCell(CConnectCell& cell, CConnectGroup* group, Window& window, const CTraceOption& options)
{
    cell.used = true;
    CConnectEnd& link = m_Links.emplace_back();   // reserved: never moves
    link.entity = cell.polyline;
    link.end = cell.end;
    link.group = group;
    link.next = group->head;
    group->head = &link;
    ++group->count;
    (cell.end == 0 ? cell.polyline->m_StartLink : cell.polyline->m_EndLink) = &link;
    window.Apply(*cell.polyline, cell.end, options);
}

void CConnectGrid::LinkRange(std::uint32_t from, std::uint32_t to, CConnectGroup* group, Window& window,
                             const CTraceOption& options)
{
    for (std::uint32_t i = from; i < to; ++i)
        if (!m_Cells[i].used) LinkCell(m_Cells[i], group, window, options);
}

CConnectGrid::RowSpan& CConnectGrid::SpanOf(std::size_t row, std::size_t startRow)
{
    return row >= startRow ? m_SpansUp[row - startRow] : m_SpansDown[startRow - 1 - row];
}

void CConnectGrid::MatchCell(std::size_t startRow, std::uint32_t index, const CTraceOption& options)
{
    CConnectGroup* group = &m_Groups.emplace_back();   // reserved: never moves
    group->next = m_GroupHead;
    m_GroupHead = group;

    CConnectCell& first = m_Cells[index];
    const std::int64_t radius = GroupRadius(EndWidth(*first.polyline, first.end), ConnectDistance(options));
    Window w;
    w.boxXLow = w.boxXHigh = first.column;
    w.boxYLow = w.boxYHigh = first.row;
    w.xLow = first.column - radius;
    w.xHigh = first.column + radius;
    w.yLow = first.row - radius;
    w.yHigh = first.row + radius;
    LinkCell(first, group, w, options);

    // The cells of a row inside the box's columns.
    auto spanIn = [this, &w](const Row& r) {
        const auto begin = m_Cells.begin() + r.begin, end = m_Cells.begin() + r.end;
        const auto lo = std::lower_bound(begin, end, w.boxXLow,
                                         [](const CConnectCell& c, std::int64_t x) { return c.column < x; });
        const auto hi = std::upper_bound(lo, end, w.boxXHigh,
                                         [](std::int64_t x, const CConnectCell& c) { return x < c.column; });
        return RowSpan{static_cast<std::uint32_t>(lo - m_Cells.begin()),
                       static_cast<std::uint32_t>(hi - m_Cells.begin())};
    };

    m_SpansUp.clear();
    m_SpansDown.clear();
    m_SpansUp.push_back(spanIn(m_Rows[startRow]));
    LinkRange(m_SpansUp[0].lo, m_SpansUp[0].hi, group, w, options);
    std::size_t rowLow = startRow, rowHigh = startRow;   // the rows inside the box

    for (;;) {
        // Past the outermost ends there is nothing to find, however far a
        // wide line's window reaches.
        const bool left = w.boxXLow > std::max<std::int64_t>(w.xLow, m_MinColumn);
        const bool right = w.boxXHigh < std::min<std::int64_t>(w.xHigh, m_MaxColumn);
        const bool down = w.boxYLow > std::max<std::int64_t>(w.yLow, m_Rows.front().key);
        const bool up = w.boxYHigh < std::min<std::int64_t>(w.yHigh, m_Rows.back().key);
        if (!left && !right && !down && !up) break;
        w.boxXLow -= left;
        w.boxXHigh += right;
        w.boxYLow -= down;
        w.boxYHigh += up;

        // Rows bottom to top: a new bottom row whole, the rows already
        // inside at their new columns (left before right), a new top row.
        bool newBottom = false;
        if (down && rowLow > 0 && m_Rows[rowLow - 1].key == w.boxYLow) {
            --rowLow;
            newBottom = true;
            m_SpansDown.push_back(spanIn(m_Rows[rowLow]));
            const RowSpan s = m_SpansDown.back();
            LinkRange(s.lo, s.hi, group, w, options);
        }
        for (std::size_t r = rowLow + newBottom; r <= rowHigh && (left || right); ++r) {
            // No span is added inside this loop, so the reference holds.
            RowSpan& s = SpanOf(r, startRow);
            const Row& row = m_Rows[r];
            if (left) {
                const std::uint32_t oldLo = s.lo;
                while (s.lo > row.begin && m_Cells[s.lo - 1].column == w.boxXLow) --s.lo;
                LinkRange(s.lo, oldLo, group, w, options);
            }
            if (right) {
                const std::uint32_t oldHi = s.hi;
                while (s.hi < row.end && m_Cells[s.hi].column == w.boxXHigh) ++s.hi;
                LinkRange(oldHi, s.hi, group, w, options);
            }
        }
        if (up && rowHigh + 1 < m_Rows.size() && m_Rows[rowHigh + 1].key == w.boxYHigh) {
            ++rowHigh;
            m_SpansUp.push_back(spanIn(m_Rows[rowHigh]));
            const RowSpan s = m_SpansUp.back();
            LinkRange(s.lo, s.hi, group, w, options);
        }
    }
}
