// The snap frame and the grid: a lattice of spacing x by spacing y in a
// frame turned by the snap angle about the snap base. Points snap to its
// nodes while the grid is shown and drawable; the grid drawing decides
// "drawable" (nodes at least kMinGridPixels apart on screen).
#include <cmath>
#include <cstdint>

#include "model/device.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "trace/trace_option.h"

namespace {

// Closer nodes would paint the screen solid, so the grid is not drawn.
constexpr double kMinGridPixels = 2.0;
// A grid pass never visits more nodes than this; only a box far larger than
// any window (or a broken transform) reaches it.
constexpr double kMaxGridNodes = 1e8;

bool SpacingUsable(double s) { return std::isfinite(s) && s > 0; }

// The nearest multiple of the spacing; halves go up.
double SnapCoordinate(double v, double spacing)
{
    double q = std::floor(v / spacing) * spacing;
    if (v - q >= spacing * 0.5)
        q += spacing;
    return q;
}

}  // namespace

void CGraph::ToSnapFrame(frDoublePoint& p) const
{
    p.x -= m_SnapBase.x;
    p.y -= m_SnapBase.y;
    if (m_SnapAngle != 0)
        RotatePoint(&p, -m_SnapAngle);
}

void CGraph::FromSnapFrame(frDoublePoint& p) const
{
    if (m_SnapAngle != 0)
        RotatePoint(&p, m_SnapAngle);
    p.x += m_SnapBase.x;
    p.y += m_SnapBase.y;
}

std::int32_t CGraph::SnapToGrid(frDoublePoint& p) const
{
    // A hidden grid keeps whatever drawable flag it had when last drawn, so
    // it says nothing about the present zoom: it does not snap.
    if (!m_GridDrawable || !GetGridShown())
        return 0;
    if (!SpacingUsable(m_GridSpacingX) || !SpacingUsable(m_GridSpacingY))
        return 0;
    if (!std::isfinite(p.x) || !std::isfinite(p.y))
        return 0;
    frDoublePoint q(p.x, p.y, p.z);
    ToSnapFrame(q);
    q.x = SnapCoordinate(q.x, m_GridSpacingX);
    q.y = SnapCoordinate(q.y, m_GridSpacingY);
    FromSnapFrame(q);
    p.x = q.x;
    p.y = q.y;
    return SNAP_GRID;
}

bool CGraph::DrawGrid(CFrDevice* device)
{
    if (device == nullptr)
        return true;
    const CFrViewTransform& view = device->Transform();
    const double unitsPerPixel = view.UnitsPerPixel();
    const bool usable = SpacingUsable(m_GridSpacingX) && SpacingUsable(m_GridSpacingY);
    if (!usable || !(m_GridSpacingX / unitsPerPixel >= kMinGridPixels) ||
        !(m_GridSpacingY / unitsPerPixel >= kMinGridPixels)) {
        if (!m_GridDrawable)
            return true;  // the user was told already
        m_GridDrawable = false;
        return false;
    }
    m_GridDrawable = true;

    // The world box in frame coordinates: the nodes to visit lie in the
    // bounding box of its four turned corners.
    const CFrZoomBox& box = view.WorldBox();
    double fxMin = INFINITY, fxMax = -INFINITY, fyMin = INFINITY, fyMax = -INFINITY;
    for (const frDoublePoint& corner : {frDoublePoint(box.xmin, box.ymin), frDoublePoint(box.xmax, box.ymin),
                                        frDoublePoint(box.xmax, box.ymax), frDoublePoint(box.xmin, box.ymax)}) {
        frDoublePoint f = corner;
        ToSnapFrame(f);
        fxMin = std::fmin(fxMin, f.x);
        fxMax = std::fmax(fxMax, f.x);
        fyMin = std::fmin(fyMin, f.y);
        fyMax = std::fmax(fyMax, f.y);
    }
    const double i0 = std::ceil(fxMin / m_GridSpacingX), i1 = std::floor(fxMax / m_GridSpacingX);
    const double j0 = std::ceil(fyMin / m_GridSpacingY), j1 = std::floor(fyMax / m_GridSpacingY);
    if (!std::isfinite(i0) || !std::isfinite(i1) || !std::isfinite(j0) || !std::isfinite(j1))
        return true;
    if (i1 < i0 || j1 < j0 || (i1 - i0 + 1) * (j1 - j0 + 1) > kMaxGridNodes)
        return true;

    const COLORREF color = GetGrayLevel(GetTraceOption().c_BackGroundColor) < 128 ? RGB(255, 255, 255) : RGB(0, 0, 0);
    // Whole-number counters: far from the base, adding 1 to a large double
    // index would not move it.
    const auto columns = static_cast<std::int64_t>(i1 - i0);
    const auto rows = static_cast<std::int64_t>(j1 - j0);
    for (std::int64_t r = 0; r <= rows; ++r) {
        for (std::int64_t k = 0; k <= columns; ++k) {
            frDoublePoint node((i0 + static_cast<double>(k)) * m_GridSpacingX,
                               (j0 + static_cast<double>(r)) * m_GridSpacingY);
            FromSnapFrame(node);
            if (node.x >= box.xmin && node.x <= box.xmax && node.y >= box.ymin && node.y <= box.ymax)
                device->DrawCrossMarker(node.x, node.y, color);
        }
    }
    return true;
}
