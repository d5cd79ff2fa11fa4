// The view's snapping: the grid, grid snap, ortho and object snap toggles,
// and the point a click gives the running command.
#include <cmath>

#include "model/graph.h"
#include "ui/drawing_view.h"

void CDrawingView::ToggleGrid()
{
    m_graph.SetGridShown(!m_graph.GetGridShown());
    InvalidateDrawing();
    emit snapModesChanged();
}

void CDrawingView::ToggleGridSnap()
{
    m_gridSnap = !m_gridSnap;
    if (m_gridSnap && !m_graph.GetGridShown()) {
        m_graph.SetGridShown(true);
        InvalidateDrawing();
    }
    emit snapModesChanged();
}

void CDrawingView::ToggleOrtho()
{
    m_graph.SetOrtho(!m_graph.GetOrtho());
    emit snapModesChanged();
}

void CDrawingView::SetObjectSnapOn(bool on)
{
    m_graph.SetObjectSnapOn(on);
    emit snapModesChanged();
}

void CDrawingView::SetObjectSnapMode(std::int32_t bit, bool on)
{
    const std::uint32_t mask = m_graph.GetObjectSnapMask();
    const auto flag = static_cast<std::uint32_t>(bit);
    m_graph.SetObjectSnapMask(on ? mask | flag : mask & ~flag);
    emit snapModesChanged();
}

frDoublePoint CDrawingView::SnapPixel(const QPoint& pixel, std::int32_t* kind)
{
    frDoublePoint p = PixelToWorld(pixel);
    *kind = 0;
    if (m_command == nullptr || !m_command->Snaps())
        return p;
    const frDoublePoint* base = m_command->BasePoint();
    if (m_graph.GetObjectSnapOn() && m_graph.GetObjectSnapMask() != 0) {
        const double reach = PickReach();
        frDoublePoint found;
        const std::int32_t snapped = m_graph.FindSnapPoint(base, frDoublePoint(p.x - reach, p.y - reach),
                                                           frDoublePoint(p.x + reach, p.y + reach), &found);
        // A point on an entity is taken as it is: ortho would move it off.
        if (snapped != 0) {
            *kind = snapped;
            return found;
        }
    }
    if (m_gridSnap)
        *kind = m_graph.SnapToGrid(p);
    if (m_graph.GetOrtho() && base != nullptr && m_command->FollowsOrtho()) {
        frDoublePoint from = *base, to = p;
        m_graph.ToSnapFrame(from);
        m_graph.ToSnapFrame(to);
        if (std::fabs(to.x - from.x) >= std::fabs(to.y - from.y))
            to.y = from.y;
        else
            to.x = from.x;
        m_graph.FromSnapFrame(to);
        p.x = to.x;
        p.y = to.y;
    }
    return p;
}
