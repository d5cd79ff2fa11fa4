// Clean-up of traced polygon sets: flat outlines widened into strips, holes
// outside the outer outline dropped.
//
// The inside test is the point-in-polygon of the device clipping, answered
// from a segment tree over height bands of the outer outline's edges: a
// region with thousands of holes against an outer outline of thousands of
// vertices must not cost their product.
#include "trace/polygon_cleanup.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/clipping.h"
#include "model/constants.h"
#include "model/polygon_set.h"
#include "model/polyline.h"

namespace {

// Strip geometry: half a pixel wide; a first segment shorter than the
// threshold gives no direction and is replaced by one pixel along x.
constexpr double kStripWidth = 0.5;
constexpr double kShortestDirection = 0.1;

}  // namespace

// ---- flat outlines ---------------------------------------------------------

bool WidenFlatOutline(CPolyLine& outline, bool reverse)
{
    if (outline.GetPointCount() != 3)
        return false;
    const CVertex* head = outline.GetHead();
    const CVertex* tail = outline.GetTail();
    const frDoublePoint p1(head->x, head->y);
    if (GetPointSide(p1, frDoublePoint(tail->prev->x, tail->prev->y), frDoublePoint(tail->x, tail->y)) != 0)
        return false;
    frDoublePoint p2(head->next->x, head->next->y);
    if (std::hypot(p2.x - p1.x, p2.y - p1.y) < kShortestDirection)
        p2 = frDoublePoint(p1.x + 1, p1.y);

    const double normal = std::atan2(p2.y - p1.y, p2.x - p1.x) - HALF_PI;
    const double ox = kStripWidth * std::cos(normal), oy = kStripWidth * std::sin(normal);
    const frDoublePoint q1(p1.x + ox, p1.y + oy), q2(p2.x + ox, p2.y + oy);

    outline.RemoveAllVertices();
    const frDoublePoint order[4] = {p1, reverse ? q1 : p2, q2, reverse ? p2 : q1};
    for (const frDoublePoint& p : order)
        outline.AddPoint(p.x, p.y);
    outline.m_Modified = true;
    return true;
}

// ---- polygon sets ------------------------------------------------------------

void CleanTracedPolygon(CPolyPolygon& polygon)
{
    CPolyLine* outer = polygon.GetOutline(0);
    if (outer == nullptr)
        return;
    if (outer->GetPointCount() == 3)
        (void)WidenFlatOutline(*outer, true);

    polygon.ClearPointArrays();
    polygon.ReserveOutlineCounts(1);
    polygon.AppendOutlinePoints(outer->GetHead());
    polygon.m_Modified = true;

    const std::vector<frDoublePoint>& points = polygon.GetPoints();
    const CPolygonLocator locator(points.data(), static_cast<int>(points.size()));
    std::vector<CPolyLine*> holes;
    for (int i = 1; i < polygon.GetOutlineCount(); ++i)
        holes.push_back(polygon.GetOutline(i));
    for (CPolyLine* hole : holes) {
        if (hole->GetPointCount() == 3)
            (void)WidenFlatOutline(*hole, false);
        const CVertex* head = hole->GetHead();
        const CVertex* v = head;
        bool outside = false;
        do {
            outside = locator.Locate(v->x, v->y) == -1;
            v = v->next;
        } while (!outside && v != head);
        if (outside)
            polygon.RemoveOutline(hole);
    }

    polygon.ClearPointArrays();
    polygon.m_Modified = true;
}

// ---- the point locator -------------------------------------------------------
//
// PointInPolygon sums the quarter turns of every edge about the point. An
// edge that stays in the upper half plane (quadrants 0 and 1) or the lower
// one (2 and 3) adds exactly the difference of its end quadrants, and those
// differences cancel round the closed ring. So the sum is the sum, over the
// edges that cross between the halves, of their turns less their quadrant
// difference; such edges all span the point's height. A vertex on the point
// or a jump through it is found among the same edges.

CPolygonLocator::CPolygonLocator(const frDoublePoint* points, int count) : m_Points(points), m_Count(count)
{
    if (points == nullptr || count <= 0)
        return;
    double minY = points[0].y, maxY = points[0].y;
    for (int i = 0; i < count; ++i) {
        minY = std::min(minY, points[i].y);
        maxY = std::max(maxY, points[i].y);
    }
    if (!std::isfinite(minY) || !std::isfinite(maxY))
        return;
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(points[i].x))
            return;

    // About four edges per band; a flat polygon is one band.
    m_Bands = std::max(1, count / 4);
    m_MinY = minY;
    m_BandHeight = (maxY - minY) / m_Bands;
    if (!(m_BandHeight > 0)) {
        m_Bands = 1;
        m_BandHeight = 1;
    }
    int leaves = 1;
    while (leaves < m_Bands)
        leaves *= 2;
    m_Nodes.resize(static_cast<std::size_t>(2 * leaves));
    for (int i = 0; i < count; ++i) {
        const frDoublePoint& a = points[i];
        const frDoublePoint& b = points[i + 1 < count ? i + 1 : 0];
        Insert(leaves, BandOf(std::min(a.y, b.y)), BandOf(std::max(a.y, b.y)), i);
    }
    m_Leaves = leaves;
    m_Usable = true;
}

int CPolygonLocator::BandOf(double y) const
{
    const double band = std::floor((y - m_MinY) / m_BandHeight);
    if (!(band >= 0))
        return 0;
    return band >= m_Bands ? m_Bands - 1 : static_cast<int>(band);
}

void CPolygonLocator::Insert(int leaves, int from, int to, int edge)
{
    // The canonical nodes of the band range, bottom-up.
    int lo = from + leaves, hi = to + leaves + 1;
    while (lo < hi) {
        if (lo & 1)
            m_Nodes[static_cast<std::size_t>(lo++)].push_back(edge);
        if (hi & 1)
            m_Nodes[static_cast<std::size_t>(--hi)].push_back(edge);
        lo >>= 1;
        hi >>= 1;
    }
}

std::int16_t CPolygonLocator::Locate(double x, double y) const
{
    if (m_Points == nullptr || m_Count <= 0)
        return -1;
    if (!m_Usable || !std::isfinite(x) || !std::isfinite(y))
        return PointInPolygon(x, y, 0, m_Points, m_Count);

    int sum = 0;
    for (int node = BandOf(y) + m_Leaves; node >= 1; node >>= 1) {
        for (int edge : m_Nodes[static_cast<std::size_t>(node)]) {
            const frDoublePoint& a = m_Points[edge];
            const frDoublePoint& b = m_Points[edge + 1 < m_Count ? edge + 1 : 0];
            if (y < std::min(a.y, b.y) || y > std::max(a.y, b.y))
                continue;
            const int qa = PointQuadrant(x, y, a.x, a.y);
            const int qb = PointQuadrant(x, y, b.x, b.y);
            if (qa < 0 || qb < 0)
                return 0;
            const int d = (qb - qa + 4) % 4;
            if (d == 1) {
                sum += 1;
            } else if (d == 3) {
                sum -= 1;
            } else if (d == 2) {
                const double xi = (y - b.y) / (a.y - b.y) * (a.x - b.x) + b.x;
                if (std::isnan(xi) || xi == x)
                    return 0;
                if (xi < x)
                    sum += (qa == 0 || qa == 1) ? 2 : -2;
                else
                    sum += (qa == 2 || qa == 3) ? 2 : -2;
            }
            sum -= qb - qa;
        }
    }
    if (sum == 0)
        return -1;
    return sum > 0 ? 1 : 2;
}
