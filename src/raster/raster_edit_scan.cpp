// Polygon scan conversion for the raster fill: edges to crossings, crossings
// to spans (see raster_edit_scan.h for the rules).
#include "raster/raster_edit_scan.h"

#include <algorithm>
#include <cstdlib>

// ---- line steps -----------------------------------------------------------

CLineSteps::CLineSteps(CPoint from, CPoint to)
    : m_x1(from.x), m_y1(from.y), m_dx(static_cast<std::int64_t>(to.x) - from.x),
      m_dy(static_cast<std::int64_t>(to.y) - from.y), m_n(std::max(std::llabs(m_dx), std::llabs(m_dy)))
{}

std::int64_t CLineSteps::Offset(std::int64_t i, std::int64_t d) const
{
    if (m_n == 0)
        return 0;
    // floor((2 i d + n) / 2n); i d can exceed 64 bits on coordinates near
    // the ends of the int range.
    const __int128 num = static_cast<__int128>(2) * i * d + m_n;
    const __int128 den = static_cast<__int128>(2) * m_n;
    __int128 q = num / den;
    if (num % den != 0 && num < 0)
        --q;
    return static_cast<std::int64_t>(q);
}

// ---- polygon measures -----------------------------------------------------

int PolygonTurnAtTop(std::span<const CPoint> points)
{
    // Twice the signed area; with rows growing downwards a positive sum runs
    // clockwise on the screen.
    __int128 sum = 0;
    const std::size_t n = points.size();
    for (std::size_t i = 0; i < n; ++i) {
        const CPoint& a = points[i];
        const CPoint& b = points[(i + 1) % n];
        sum += static_cast<__int128>(a.x) * b.y - static_cast<__int128>(b.x) * a.y;
    }
    return sum > 0 ? 1 : sum < 0 ? -1 : 0;
}

bool PolygonBounds(std::span<const CPoint> points, int& ymin, int& ymax)
{
    if (points.size() < 3)
        return false;
    auto [lo, hi] =
        std::minmax_element(points.begin(), points.end(), [](const CPoint& a, const CPoint& b) { return a.y < b.y; });
    ymin = lo->y;
    ymax = hi->y;
    return true;
}

// ---- one row --------------------------------------------------------------

namespace {

// Crossings that round to one pixel keep the order in which their edges meet
// the row, so a sliver of the polygon (or of the outside) one pixel wide pairs
// with itself, not with its neighbours; a tip's two crossings keep the order
// they came in.
bool CrossingBefore(const CVirtualPoint& a, const CVirtualPoint& b)
{
    return a.x != b.x ? a.x < b.x : a.exact < b.exact;
}

}  // namespace

void CVirtualLine::NoteLeftOutside(CVirtualPoint p)
{
    // The last in sorted order, the latest among equals.
    if (!m_hasLeft || !CrossingBefore(p, m_left))
        m_left = p;
    m_hasLeft = true;
}

void CVirtualLine::NoteRightOutside(CVirtualPoint p)
{
    // The first in sorted order, the earliest among equals.
    if (!m_hasRight || CrossingBefore(p, m_right))
        m_right = p;
    m_hasRight = true;
}

void CVirtualLine::ToScanLines(int y, int width, std::vector<CScanLine>& spans)
{
    std::stable_sort(m_inside.begin(), m_inside.end(), CrossingBefore);
    std::vector<CVirtualPoint> row;
    row.reserve(m_inside.size() + 2);
    if (m_hasLeft)
        row.push_back(m_left);
    row.insert(row.end(), m_inside.begin(), m_inside.end());
    if (m_hasRight)
        row.push_back(m_right);

    const std::size_t firstOfRow = spans.size();
    bool open = false;
    std::int64_t x1 = 0;
    std::int64_t x2 = 0;
    auto flush = [&] {
        if (!open)
            return;
        open = false;
        const int from = static_cast<int>(std::max<std::int64_t>(x1, 0));
        const int to = static_cast<int>(std::min<std::int64_t>(x2, width));
        if (from >= to)
            return;
        if (spans.size() > firstOfRow && spans.back().x2 >= from)
            spans.back().x2 = std::max(spans.back().x2, to);
        else
            spans.push_back(CScanLine{y, from, to});
    };
    auto extendOrOpen = [&](std::int64_t from, std::int64_t to) {
        if (!open) {
            open = true;
            x1 = from;
        }
        x2 = to;
    };
    for (std::size_t k = 1; k < row.size(); ++k) {
        const CVirtualPoint& p = row[k - 1];
        const CVirtualPoint& c = row[k];
        if (p.kind == kCrossLeft) {
            flush();
            extendOrOpen(p.x, c.x);
        } else if (static_cast<std::int64_t>(c.x) == static_cast<std::int64_t>(p.x) + 1) {
            extendOrOpen(p.x, c.x);
        } else if (p.kind == kCrossRight || c.kind == kCrossLeft) {
            flush();  // the gap p..c lies outside
        } else {
            extendOrOpen(p.x, c.x);
        }
    }
    flush();
}

// ---- the table ------------------------------------------------------------

bool CScanLineTable::Init(int ymin, int ymax, int width, int height)
{
    m_rows.clear();
    m_spans.clear();
    m_width = width;
    m_ymin = std::max(ymin, 0);
    m_ymax = std::min(ymax, height - 1);
    if (width <= 0 || m_ymin > m_ymax)
        return false;
    m_rows.resize(static_cast<std::size_t>(m_ymax - m_ymin) + 1);
    return true;
}

void CScanLineTable::AddStep(CVirtualLine& row, std::int64_t x, BYTE kind, double exact)
{
    CVirtualPoint p{static_cast<int>(x), kind, exact};
    if (x < 0)
        row.NoteLeftOutside(p);
    else if (x >= m_width)
        row.NoteRightOutside(p);
    else
        row.InsertCrossing(p);
}

namespace {

int VerticalSign(CPoint from, CPoint to) { return to.y > from.y ? 1 : to.y < from.y ? -1 : 0; }

BYTE CrossingKind(int verticalSign, int orientation)
{
    if (verticalSign == 0)
        return kCrossHorizontal;
    return (verticalSign > 0) == (orientation > 0) ? kCrossRight : kCrossLeft;
}

}  // namespace

void CScanLineTable::AddPolygon(std::span<const CPoint> points, int orientation)
{
    const std::size_t n = points.size();
    auto edgeSign = [&](std::size_t i) { return VerticalSign(points[i % n], points[(i + 1) % n]); };
    // ahead[i]: the first edge from vertex i on that is not horizontal.
    std::vector<std::size_t> ahead(n, 0);
    std::size_t next = 0;
    for (std::size_t k = 2 * n; k-- > 0;) {
        if (edgeSign(k) != 0)
            next = k % n;
        if (k < n)
            ahead[k] = next;
    }
    for (std::size_t i = 0; i < n; ++i) {
        // A tip: the outline turns back vertically (past any flat run); it
        // is a crossing of the edge before it as well.
        const std::size_t before = (i + n - 1) % n;
        const int in = edgeSign(before);
        BYTE tip = kNoTip;
        bool tipFirst = false;
        if (in != 0 && edgeSign(ahead[i]) == -in) {
            // The turn from the edge before into the first edge of length
            // (along a flat run, if there is one): with the polygon's turn a
            // spike, whose left crossing comes first, else a notch, whose
            // right one does.
            const CPoint& p = points[before];
            const CPoint& v = points[i];
            std::size_t j = (i + 1) % n;
            while (j != i && points[j] == v)
                j = (j + 1) % n;
            const CPoint& w = points[j];
            const __int128 turn =
                static_cast<__int128>(static_cast<std::int64_t>(v.x) - p.x) * (static_cast<std::int64_t>(w.y) - v.y) -
                static_cast<__int128>(static_cast<std::int64_t>(v.y) - p.y) * (static_cast<std::int64_t>(w.x) - v.x);
            const bool spike = (turn > 0 && orientation > 0) || (turn < 0 && orientation < 0);
            tip = CrossingKind(in, orientation);
            tipFirst = spike == (tip == kCrossLeft);
        }
        AddEdge(points[i], points[(i + 1) % n], orientation, tip, tipFirst);
    }
}

void CScanLineTable::AddEdge(CPoint from, CPoint to, int orientation, BYTE tip, bool tipFirst)
{
    if (m_rows.empty())
        return;
    // A tip is the end of the edge before it as well, beside this edge's
    // first step.
    CVirtualLine* tipRow = nullptr;
    if (tip != kNoTip && from.y >= m_ymin && from.y <= m_ymax)
        tipRow = &m_rows[static_cast<std::size_t>(from.y - m_ymin)];
    if (tipRow && tipFirst)
        AddStep(*tipRow, from.x, tip, from.x);
    AddEdgeSteps(from, to, orientation);
    if (tipRow && !tipFirst)
        AddStep(*tipRow, from.x, tip, from.x);
}

void CScanLineTable::AddEdgeSteps(CPoint from, CPoint to, int orientation)
{
    const CLineSteps line(from, to);
    const std::int64_t n = line.GetCount();
    if (n == 0)
        return;
    const std::int64_t dx = line.GetDx();
    const std::int64_t dy = line.GetDy();
    const BYTE kind = CrossingKind(VerticalSign(from, to), orientation);
    auto exact = [&](std::int64_t i) { return from.x + static_cast<double>(i) * static_cast<double>(dx) / n; };

    // Rows the steps 0..n-1 reach, kept to the table's rows.
    const std::int64_t yFirst = line.Y(0);
    const std::int64_t yLast = line.Y(n - 1);
    const std::int64_t lo = std::max<std::int64_t>(std::min(yFirst, yLast), m_ymin);
    const std::int64_t hi = std::min<std::int64_t>(std::max(yFirst, yLast), m_ymax);
    const bool steep = std::llabs(dy) == n;  // one step per row
    for (std::int64_t k = 0; k <= hi - lo; ++k) {
        const std::int64_t r = dy >= 0 ? lo + k : hi - k;  // in step order
        std::int64_t a = 0;
        std::int64_t b = n - 1;
        if (dy != 0 && steep) {
            a = b = std::llabs(r - yFirst);
        } else if (dy > 0) {
            a = CLineSteps::FirstWhere(0, n, [&](std::int64_t i) { return line.Y(i) >= r; });
            b = CLineSteps::FirstWhere(a, n, [&](std::int64_t i) { return line.Y(i) > r; }) - 1;
        } else if (dy < 0) {
            a = CLineSteps::FirstWhere(0, n, [&](std::int64_t i) { return line.Y(i) <= r; });
            b = CLineSteps::FirstWhere(a, n, [&](std::int64_t i) { return line.Y(i) < r; }) - 1;
        }
        CVirtualLine& row = m_rows[static_cast<std::size_t>(r - m_ymin)];
        // Steps left or right of the image count only by the one nearest to
        // it; x moves one way along the edge, so they are found by search.
        const bool rising = dx >= 0;
        auto inside = [&](std::int64_t i) { return rising ? line.X(i) >= 0 : line.X(i) < m_width; };
        auto beyond = [&](std::int64_t i) { return rising ? line.X(i) >= m_width : line.X(i) < 0; };
        const std::int64_t m0 = CLineSteps::FirstWhere(a, b + 1, inside);
        const std::int64_t m1 = CLineSteps::FirstWhere(m0, b + 1, beyond);
        if (m0 > a)
            AddStep(row, line.X(m0 - 1), kind, exact(m0 - 1));
        for (std::int64_t i = m0; i < m1; ++i)
            AddStep(row, line.X(i), kind, exact(i));
        if (m1 <= b)
            AddStep(row, line.X(m1), kind, exact(m1));
    }
}

void CScanLineTable::BuildScanLines()
{
    m_spans.clear();
    for (std::size_t r = 0; r < m_rows.size(); ++r)
        m_rows[r].ToScanLines(m_ymin + static_cast<int>(r), m_width, m_spans);
}
