// The endpoint grid of line connection: filing polyline ends by cell and
// matching them into groups through their search windows.
//
// Cells are kept in one array sorted by row, column and filing order, which
// is the order the row and cell chains of the grid define (rows by key,
// cells by column, a new cell behind those of an equal key), built by
// sorting instead of walking the chains for every end. A row is a range of
// that array.
//
// Matching grows a box around the first end of a group one cell per side
// and round, up to bounds that each joining end's window may widen or clamp.
// Every cell inside the box has been linked once the box holds it, so a
// round links what the box gained, in the order the full border walk would
// meet it: by row, then column, then filing order. A box may span many rows
// and columns for many rounds and gain nothing, so the ends are not looked
// for row by row: a tile index (squares of cells) gives the unused ends
// near the window's bounds as candidates, and each candidate waits in a heap
// per side of the box that must still pass it; a round pops the candidates
// its sides reach and links those no side still waits for.
//
// What an end adds to the window depends on its polyline alone, so it is
// worked out for all ends at filing time, on the row-band pool, and kept in
// filing order (sorting it with the cells would need a second copy).
// The rows are matched by CConnectMatcher, in bands (connect_bands.cpp).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>

#include "model/constants.h"
#include "model/polyline.h"
#include "raster/row_bands.h"
#include "trace/connect.h"
#include "trace/connect_matcher.h"
#include "trace/entity_batches.h"
#include "trace/trace_option.h"

namespace {

// Cell keys stay within kKeyLimit; window bounds saturate one further, as
// everything past the keys acts alike. The group radius saturates where the
// bounds it makes from any key lie past the keys, and window arithmetic is
// done in 64 bits.
constexpr double kCoordinateLimit = 1e15;
constexpr std::int32_t kKeyLimit = std::numeric_limits<std::int32_t>::max() / 2;
constexpr std::int32_t kBoundLimit = kKeyLimit + 1;
constexpr std::int64_t kRadiusLimit = std::numeric_limits<std::int32_t>::max();
// Filing orders and cell indexes are 32-bit.
constexpr std::size_t kMaxEnds = std::numeric_limits<std::uint32_t>::max() - 1;
// Rows may be sorted by counting while the key span is within this many rows
// per end (and a few): else a sparse, far-flung drawing is sorted directly.
constexpr std::int64_t kCountedRowsPerEnd = 2;
constexpr std::int64_t kFewRows = 4096;
// Rows are counted in chunks of the cells on the pool, each chunk with
// counts for every row: no more chunks than leave this many ends a count.
constexpr std::size_t kEndsPerRowCount = 8;

// The window radius grows with the line width by this factor.
constexpr double kRadiusFactor = 1.5;
// The angle band around each axis in which an end clamps one side only.
constexpr double kAngleBand = PI_40_DEGREES;

std::int32_t CellKey(double v)
{
    const double f = std::floor(v);
    if (!(f > -kKeyLimit))
        return std::isnan(f) ? 0 : -kKeyLimit;
    if (f > kKeyLimit)
        return kKeyLimit;
    return static_cast<std::int32_t>(f);
}

// Truncation toward zero, saturated.
std::int64_t TruncToInt(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<std::int64_t>(std::clamp(v, -kCoordinateLimit, kCoordinateLimit));
}

// Truncation toward zero, saturated at the bounds' limit.
std::int32_t BoundOf(double v)
{
    if (std::isnan(v))
        return 0;
    const auto limit = static_cast<double>(kBoundLimit);
    return static_cast<std::int32_t>(std::clamp(v, -limit, limit));
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

// Tiles of the tile index are squares of 1 << shift cells: at the smallest
// shift a window of the default connect distance meets one to four of them.
// A wider shift keeps the index of a sparse, far-flung drawing small.
constexpr int kMinTileShift = 4;
constexpr std::int64_t kTilesPerEnd = 4;
constexpr std::int64_t kFewTiles = 4096;

// The reach of one end: the clamp on the side its polyline runs to (by the
// direction of its end segment), and its point widened by the radius.
CConnectReach EndReach(CPolyLine& polyline, int end, const CTraceOption& options)
{
    CConnectReach reach;
    polyline.m_ActiveEnd = static_cast<std::uint32_t>(end);
    frDoublePoint e = end == 0 ? polyline.GetStartPoint() : polyline.GetEndPoint(), inner = e;
    polyline.GetEndSegment(&e, &inner, options);
    double a = std::atan2(inner.y - e.y, inner.x - e.x);
    if (a < 0)
        a += TWO_PI;
    reach.clampX = CellKey((e.x + inner.x) * 0.5);
    reach.clampY = CellKey((e.y + inner.y) * 0.5);
    const double t = kAngleBand;
    using R = CConnectReach;
    if (a > TWO_PI - t || a <= t)
        reach.clamps = R::kClampXHigh;
    else if (a <= HALF_PI - t)
        reach.clamps = R::kClampXHigh | R::kClampYHigh;
    else if (a <= HALF_PI + t)
        reach.clamps = R::kClampYHigh;
    else if (a <= PI - t)
        reach.clamps = R::kClampXLow | R::kClampYHigh;
    else if (a <= PI + t)
        reach.clamps = R::kClampXLow;
    else if (a <= THREE_HALF_PI - t)
        reach.clamps = R::kClampXLow | R::kClampYLow;
    else if (a <= THREE_HALF_PI + t)
        reach.clamps = R::kClampYLow;
    else
        reach.clamps = R::kClampYLow | R::kClampXHigh;

    const double width = EndWidth(polyline, end);
    const auto r = static_cast<double>(WindowRadius(width, ConnectDistance(options)));
    reach.xLow = BoundOf(e.x - r);
    reach.xHigh = BoundOf(e.x + r);
    reach.yLow = BoundOf(e.y - r);
    reach.yHigh = BoundOf(e.y + r);
    reach.groupRadius = static_cast<std::int32_t>(std::min(GroupRadius(width, ConnectDistance(options)), kRadiusLimit));
    return reach;
}

}  // namespace

// The search window of one group: the box visited so far, the bounds it may
// grow to and the clamps that keep it from reaching behind an end.
struct CConnectMatcher::Window {
    std::int64_t boxXLow, boxXHigh, boxYLow, boxYHigh;
    std::int64_t xLow, xHigh, yLow, yHigh;  // bounds
    bool hasXLow = false, hasXHigh = false, hasYLow = false, hasYHigh = false;
    std::int64_t clampXLow = -1, clampXHigh = -1, clampYLow = -1, clampYHigh = -1;

    void ClampXLow(std::int64_t c)
    {
        clampXLow = hasXLow ? std::max(clampXLow, c) : c;
        hasXLow = true;
        if (xLow < c)
            xLow = c;
    }
    void ClampXHigh(std::int64_t c)
    {
        clampXHigh = hasXHigh ? std::min(clampXHigh, c) : c;
        hasXHigh = true;
        if (xHigh > c)
            xHigh = c;
    }
    void ClampYLow(std::int64_t c)
    {
        clampYLow = hasYLow ? std::max(clampYLow, c) : c;
        hasYLow = true;
        if (yLow < c)
            yLow = c;
    }
    void ClampYHigh(std::int64_t c)
    {
        clampYHigh = hasYHigh ? std::min(clampYHigh, c) : c;
        hasYHigh = true;
        if (yHigh > c)
            yHigh = c;
    }

    // Adds the window of one end: clamps on the side its polyline runs to,
    // then bounds widened by the radius, but not across a clamp of 1 or more.
    void Apply(const CConnectReach& reach)
    {
        if (reach.clamps & CConnectReach::kClampXLow)
            ClampXLow(reach.clampX);
        if (reach.clamps & CConnectReach::kClampXHigh)
            ClampXHigh(reach.clampX);
        if (reach.clamps & CConnectReach::kClampYLow)
            ClampYLow(reach.clampY);
        if (reach.clamps & CConnectReach::kClampYHigh)
            ClampYHigh(reach.clampY);
        std::int64_t v = reach.xLow;
        if (hasXLow && clampXLow >= 1)
            v = std::max(v, clampXLow);
        xLow = std::min(xLow, v);
        v = reach.xHigh;
        if (hasXHigh && clampXHigh >= 1)
            v = std::min(v, clampXHigh);
        xHigh = std::max(xHigh, v);
        v = reach.yLow;
        if (hasYLow && clampYLow >= 1)
            v = std::max(v, clampYLow);
        yLow = std::min(yLow, v);
        v = reach.yHigh;
        if (hasYHigh && clampYHigh >= 1)
            v = std::min(v, clampYHigh);
        yHigh = std::max(yHigh, v);
    }
};

CConnectGrid::~CConnectGrid() { Clear(); }

void CConnectGrid::Clear()
{
    for (CConnectEnd& link : m_Links) {
        if (link.entity == nullptr)
            continue;
        CConnectEnd*& field = link.end == 0 ? link.entity->m_StartLink : link.entity->m_EndLink;
        if (field == &link)
            field = nullptr;
        link.entity = nullptr;
    }
    ReleaseCells();
    FreeVector(m_Polylines);
    FreeVector(m_Groups);
    FreeVector(m_Links);
    m_GroupHead = nullptr;
}

bool CConnectGrid::FilePolylines(std::span<CPolyLine* const> polylines, const CTraceOption& options)
{
    const std::size_t first = m_Cells.size();
    if (polylines.size() > (kMaxEnds - first) / 2)
        return false;
    try {
        m_Polylines.insert(m_Polylines.end(), polylines.begin(), polylines.end());
        m_Cells.resize(first + 2 * polylines.size());
        m_Reach.resize(first + 2 * polylines.size());
        // Both ends of a polyline in one task: the measure moves its active end.
        return ForEachIndexInBands(0, polylines.size(), [&](std::size_t i) {
            CPolyLine* polyline = polylines[i];
            const std::size_t at = first + 2 * i;
            const std::uint32_t active = polyline->m_ActiveEnd;
            const frDoublePoint start = polyline->GetStartPoint(), end = polyline->GetEndPoint();
            const auto order = static_cast<std::uint32_t>(at);
            m_Cells[at] = {CellKey(start.y), CellKey(start.x), order};
            m_Cells[at + 1] = {CellKey(end.y), CellKey(end.x), order + 1};
            m_Reach[at] = EndReach(*polyline, 0, options);
            m_Reach[at + 1] = EndReach(*polyline, 1, options);
            polyline->m_ActiveEnd = active;
        });
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CConnectGrid::Index()
{
    try {
        SortCells();
        IndexTiles();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Cells arrive in filing order, so a stable counting sort by row, then a
// sort of each row by column (and order), gives the order of the three keys
// without comparing across rows, and the rows sort on the pool.
void CConnectGrid::SortCells()
{
    m_Rows.clear();
    m_MinColumn = m_MaxColumn = 0;
    if (m_Cells.empty())
        return;
    std::int32_t minRow = m_Cells[0].row, maxRow = minRow;
    m_MinColumn = m_MaxColumn = m_Cells[0].column;
    for (const CConnectCell& c : m_Cells) {
        minRow = std::min(minRow, c.row);
        maxRow = std::max(maxRow, c.row);
        m_MinColumn = std::min(m_MinColumn, c.column);
        m_MaxColumn = std::max(m_MaxColumn, c.column);
    }
    const auto byKeys = [](const CConnectCell& a, const CConnectCell& b) {
        if (a.row != b.row)
            return a.row < b.row;
        if (a.column != b.column)
            return a.column < b.column;
        return a.order < b.order;
    };
    const std::int64_t span = std::int64_t{maxRow} - minRow + 1;
    if (span > kCountedRowsPerEnd * static_cast<std::int64_t>(m_Cells.size()) + kFewRows) {
        std::sort(m_Cells.begin(), m_Cells.end(), byKeys);
        for (std::uint32_t i = 0; i < m_Cells.size(); ++i) {
            if (m_Rows.empty() || m_Rows.back().key != m_Cells[i].row)
                m_Rows.push_back({m_Cells[i].row, i, i});
            m_Rows.back().end = i + 1;
        }
        return;
    }
    // Each chunk of the cells counts its rows, then moves its cells to its
    // own places in each row, in order.
    const std::size_t n = m_Cells.size(), rows = static_cast<std::size_t>(span);
    const std::size_t chunks =
        std::min(static_cast<std::size_t>(GetRowBandThreads()), 1 + n / (kEndsPerRowCount * rows));
    std::vector<std::uint32_t> place(chunks * rows, 0);  // by row, then chunk
    const auto chunkOf = [&](std::size_t chunk) { return std::pair{chunk * n / chunks, (chunk + 1) * n / chunks}; };
    const auto placeOf = [&](std::size_t i, int chunk) -> std::uint32_t& {
        return place[static_cast<std::size_t>(m_Cells[i].row - minRow) * chunks + static_cast<std::size_t>(chunk)];
    };
    RunBands(static_cast<int>(chunks), [&](int chunk) {
        const auto [from, to] = chunkOf(static_cast<std::size_t>(chunk));
        for (std::size_t i = from; i < to; ++i)
            ++placeOf(i, chunk);
    });
    std::uint32_t at = 0;
    for (std::size_t r = 0; r < rows; ++r) {
        const std::uint32_t begin = at;
        for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
            const std::uint32_t count = place[r * chunks + chunk];
            place[r * chunks + chunk] = at;
            at += count;
        }
        if (at > begin)
            m_Rows.push_back({static_cast<std::int32_t>(minRow + static_cast<std::int64_t>(r)), begin, at});
    }
    std::vector<CConnectCell> sorted(n);
    RunBands(static_cast<int>(chunks), [&](int chunk) {
        const auto [from, to] = chunkOf(static_cast<std::size_t>(chunk));
        for (std::size_t i = from; i < to; ++i)
            sorted[placeOf(i, chunk)++] = m_Cells[i];
    });
    m_Cells = std::move(sorted);
    if (!ForEachIndexInBands(0, m_Rows.size(), [&](std::size_t r) {
            std::sort(m_Cells.begin() + m_Rows[r].begin, m_Cells.begin() + m_Rows[r].end, byKeys);
        }))
        throw std::bad_alloc();
}

void CConnectGrid::IndexTiles()
{
    m_TileStart.clear();
    m_TileCells.clear();
    if (m_Cells.empty())
        return;
    const std::int64_t width = std::int64_t{m_MaxColumn} - m_MinColumn + 1;
    const std::int64_t height = std::int64_t{m_Rows.back().key} - m_Rows.front().key + 1;
    const std::int64_t most = std::max(kTilesPerEnd * static_cast<std::int64_t>(m_Cells.size()), kFewTiles);
    m_TileShift = kMinTileShift;
    while ((((width - 1) >> m_TileShift) + 1) * (((height - 1) >> m_TileShift) + 1) > most)
        ++m_TileShift;
    m_TilesAcross = ((width - 1) >> m_TileShift) + 1;
    const std::int64_t tileRows = ((height - 1) >> m_TileShift) + 1;
    const std::int64_t tiles = m_TilesAcross * tileRows;
    // A counting sort: each tile's cells stay in cell order. The cells of a
    // row of tiles are a range of the cells, so the rows of tiles sort on the
    // pool.
    const auto n = static_cast<std::uint32_t>(m_Cells.size());
    m_TileStart.assign(static_cast<std::size_t>(tiles) + 1, 0);
    m_TileCells.resize(n);
    const auto cellsFrom = [&](std::int64_t key) {
        const auto row =
            std::lower_bound(m_Rows.begin(), m_Rows.end(), key, [](const Row& r, std::int64_t k) { return r.key < k; });
        return row == m_Rows.end() ? n : row->begin;
    };
    const std::int64_t row0 = m_Rows.front().key;
    const auto across = static_cast<std::size_t>(m_TilesAcross);
    if (!ForEachIndexInBands(0, static_cast<std::size_t>(tileRows), [&](std::size_t y) {
            const std::int64_t top = row0 + (static_cast<std::int64_t>(y) << m_TileShift);
            const std::uint32_t begin = cellsFrom(top), end = cellsFrom(top + (std::int64_t{1} << m_TileShift));
            std::uint32_t* start = m_TileStart.data() + y * across;
            const auto tileOf = [&](std::uint32_t i) {
                return static_cast<std::size_t>((std::int64_t{m_Cells[i].column} - m_MinColumn) >> m_TileShift);
            };
            for (std::uint32_t i = begin; i < end; ++i)
                ++start[tileOf(i)];
            for (std::size_t x = 0, at = begin; x < across; ++x) {
                const std::uint32_t count = start[x];
                start[x] = static_cast<std::uint32_t>(at);
                at += count;
            }
            for (std::uint32_t i = begin; i < end; ++i)
                m_TileCells[start[tileOf(i)]++] = i;
            // Each start moved to its tile's end, the next one's start.
            for (std::size_t x = across - 1; x > 0; --x)
                start[x] = start[x - 1];
            start[0] = begin;
        }))
        throw std::bad_alloc();
    m_TileStart[static_cast<std::size_t>(tiles)] = n;
}

std::size_t CConnectGrid::TileOf(std::int64_t row, std::int64_t column) const
{
    return static_cast<std::size_t>(((row - m_Rows.front().key) >> m_TileShift) * m_TilesAcross +
                                    ((column - m_MinColumn) >> m_TileShift));
}

std::span<const CConnectCell> CConnectGrid::GetRowCells(std::size_t row) const
{
    const Row& r = m_Rows[row];
    return {m_Cells.data() + r.begin, r.end - r.begin};
}

void CConnectGrid::ReleaseCells()
{
    FreeVector(m_Cells);
    FreeVector(m_Reach);
    FreeVector(m_TileStart);
    FreeVector(m_TileCells);
    FreeVector(m_Rows);
}

// ---- one matching -------------------------------------------------------------

CConnectMatcher::CConnectMatcher(const CConnectGrid& grid, std::uint32_t base)
    : m_Grid(grid), m_Base(base), m_Frontier(base), m_SpillFrom(std::numeric_limits<std::uint32_t>::max()),
      m_Marks((grid.m_Cells.size() - base + kMarkBits - 1) / kMarkBits, 0)
{}

void CConnectMatcher::Mark(std::uint32_t cell, bool used)
{
    const std::uint32_t bit = cell - m_Base;
    const std::uint64_t mask = std::uint64_t{1} << (bit % kMarkBits);
    if (used)
        m_Marks[bit / kMarkBits] |= mask;
    else
        m_Marks[bit / kMarkBits] &= ~mask;
}

void CConnectMatcher::ReleaseScratch()
{
    FreeVector(m_Candidates);
    for (auto& waiting : m_Waiting)
        FreeVector(waiting);
    FreeVector(m_Entering);
}

void CConnectMatcher::StartRow(std::size_t row) { m_Frontier = std::max(m_Frontier, m_Grid.m_Rows[row].begin); }

void CConnectMatcher::MatchRow(std::size_t row)
{
    StartRow(row);
    const CConnectGrid::Row& r = m_Grid.m_Rows[row];
    for (std::uint32_t i = r.begin; i < r.end; ++i)
        if (!IsUsed(i))
            MatchCell(i);
}

void CConnectMatcher::LinkCell(std::uint32_t cell, Window& window)
{
    Mark(cell, true);
    made.links.push_back(cell);
    if (cell >= m_SpillFrom)
        spilled.push_back(cell);
    window.Apply(m_Grid.m_Reach[m_Grid.m_Cells[cell].order]);
}

namespace {

// Heap orders of the waiting candidates: the side moving down the keys (left,
// down) keeps its largest key on top, the one moving up its smallest.
struct LargestOnTop {
    template <class W>
    bool operator()(const W& a, const W& b) const
    {
        return a.key < b.key;
    }
};
struct SmallestOnTop {
    template <class W>
    bool operator()(const W& a, const W& b) const
    {
        return a.key > b.key;
    }
};

enum Side { kLeft, kRight, kDown, kUp };

}  // namespace

// The candidates of the tiles in tile row y, tile columns x0 to x1: each waits for the
// sides of the box it lies beyond, or enters at once inside it.
void CConnectMatcher::AddTiles(const Window& w, std::int64_t y, std::int64_t x0, std::int64_t x1)
{
    const auto wait = [this](int side, std::int64_t key, std::uint32_t candidate) {
        std::vector<Waiting>& heap = m_Waiting[side];
        heap.push_back({key, candidate});
        if (side == kLeft || side == kDown)
            std::push_heap(heap.begin(), heap.end(), LargestOnTop{});
        else
            std::push_heap(heap.begin(), heap.end(), SmallestOnTop{});
    };
    const std::size_t row = static_cast<std::size_t>(y * m_Grid.m_TilesAcross);
    const std::uint32_t from = m_Grid.m_TileStart[row + static_cast<std::size_t>(x0)];
    const std::uint32_t to = m_Grid.m_TileStart[row + static_cast<std::size_t>(x1) + 1];
    for (std::uint32_t at = from; at < to; ++at) {
        const std::uint32_t cell = m_Grid.m_TileCells[at];
        if (IsUsed(cell))
            continue;
        const CConnectCell& c = m_Grid.m_Cells[cell];
        const auto candidate = static_cast<std::uint32_t>(m_Candidates.size());
        std::int32_t pending = 0;
        if (c.column < w.boxXLow)
            wait(kLeft, c.column, candidate), ++pending;
        if (c.column > w.boxXHigh)
            wait(kRight, c.column, candidate), ++pending;
        if (c.row < w.boxYLow)
            wait(kDown, c.row, candidate), ++pending;
        if (c.row > w.boxYHigh)
            wait(kUp, c.row, candidate), ++pending;
        m_Candidates.push_back({cell, pending});
        if (pending == 0)
            m_Entering.push_back(cell);
    }
}

// Makes the candidates hold every unused cell that the box may reach next:
// those inside the window's bounds (within the filed ends), beside the box.
void CConnectMatcher::Cover(const Window& w, TileRange& covered, bool first)
{
    const CConnectGrid& g = m_Grid;
    const std::int64_t x0 = std::min(w.boxXLow, std::max<std::int64_t>(w.xLow, g.m_MinColumn));
    const std::int64_t x1 = std::max(w.boxXHigh, std::min<std::int64_t>(w.xHigh, g.m_MaxColumn));
    const std::int64_t y0 = std::min(w.boxYLow, std::max<std::int64_t>(w.yLow, g.m_Rows.front().key));
    const std::int64_t y1 = std::max(w.boxYHigh, std::min<std::int64_t>(w.yHigh, g.m_Rows.back().key));
    // Tile coordinates from the corner of the filed ends.
    const std::int64_t column0 = g.m_MinColumn, row0 = g.m_Rows.front().key;
    const int shift = g.m_TileShift;
    TileRange want{(x0 - column0) >> shift, (x1 - column0) >> shift, (y0 - row0) >> shift, (y1 - row0) >> shift};
    if (!first) {
        want = {std::min(want.x0, covered.x0), std::max(want.x1, covered.x1), std::min(want.y0, covered.y0),
                std::max(want.y1, covered.y1)};
        if (want.x0 == covered.x0 && want.x1 == covered.x1 && want.y0 == covered.y0 && want.y1 == covered.y1)
            return;
    }
    for (std::int64_t y = want.y0; y <= want.y1; ++y) {
        if (first || y < covered.y0 || y > covered.y1) {
            AddTiles(w, y, want.x0, want.x1);
            continue;
        }
        if (want.x0 < covered.x0)
            AddTiles(w, y, want.x0, covered.x0 - 1);
        if (want.x1 > covered.x1)
            AddTiles(w, y, covered.x1 + 1, want.x1);
    }
    covered = want;
}

// The candidates that a side of the box, moved to key, has passed; those
// passed by every side they waited for enter the box.
void CConnectMatcher::Reach(int side, std::int64_t key)
{
    std::vector<Waiting>& heap = m_Waiting[side];
    const bool largest = side == kLeft || side == kDown;
    // A waiting key lay beyond the side when it was filed, and the side moves
    // by one a round: it is passed exactly when the side reaches it.
    while (!heap.empty() && heap.front().key == key) {
        Candidate& c = m_Candidates[heap.front().candidate];
        if (--c.pending == 0)
            m_Entering.push_back(c.cell);
        if (largest)
            std::pop_heap(heap.begin(), heap.end(), LargestOnTop{});
        else
            std::pop_heap(heap.begin(), heap.end(), SmallestOnTop{});
        heap.pop_back();
    }
}

void CConnectMatcher::MatchCell(std::uint32_t index)
{
    made.groups.push_back(static_cast<std::uint32_t>(made.links.size()));

    const CConnectGrid& g = m_Grid;
    const CConnectCell& first = g.m_Cells[index];
    const std::int64_t radius = g.m_Reach[first.order].groupRadius;
    Window w;
    w.boxXLow = w.boxXHigh = first.column;
    w.boxYLow = w.boxYHigh = first.row;
    w.xLow = first.column - radius;
    w.xHigh = first.column + radius;
    w.yLow = first.row - radius;
    w.yHigh = first.row + radius;
    LinkCell(index, w);

    // The cells the box gains in a round join in cell order: that is the
    // border walk's order (new bottom row, then each row's new left and
    // right columns, then the new top row). Linking only widens or clamps
    // the bounds, never the box, so the candidates are topped up between
    // rounds.
    m_Candidates.clear();
    for (auto& waiting : m_Waiting)
        waiting.clear();
    m_Entering.clear();
    TileRange covered{};
    Cover(w, covered, true);
    for (;;) {
        std::sort(m_Entering.begin(), m_Entering.end());
        for (const std::uint32_t cell : m_Entering)
            LinkCell(cell, w);
        m_Entering.clear();

        // Past the outermost ends there is nothing to find, however far a
        // wide line's window reaches.
        const bool left = w.boxXLow > std::max<std::int64_t>(w.xLow, g.m_MinColumn);
        const bool right = w.boxXHigh < std::min<std::int64_t>(w.xHigh, g.m_MaxColumn);
        const bool down = w.boxYLow > std::max<std::int64_t>(w.yLow, g.m_Rows.front().key);
        const bool up = w.boxYHigh < std::min<std::int64_t>(w.yHigh, g.m_Rows.back().key);
        if (!left && !right && !down && !up)
            break;
        Cover(w, covered, false);
        w.boxXLow -= left;
        w.boxXHigh += right;
        w.boxYLow -= down;
        w.boxYHigh += up;
        if (left)
            Reach(kLeft, w.boxXLow);
        if (right)
            Reach(kRight, w.boxXHigh);
        if (down)
            Reach(kDown, w.boxYLow);
        if (up)
            Reach(kUp, w.boxYHigh);
    }
    if (m_NoteLooked)
        made.looked.push_back({static_cast<std::int32_t>(covered.x0), static_cast<std::int32_t>(covered.x1),
                               static_cast<std::int32_t>(covered.y0), static_cast<std::int32_t>(covered.y1)});
}
