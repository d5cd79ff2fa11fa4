// The view's switches of what the drawing stores with it (grid, ortho,
// object snap, the display of raster and vectors, the current layer's
// visibility), each one undo step that marks the drawing modified; and the
// point a click gives the running command.
#include <cmath>
#include <memory>
#include <new>

#include "model/edit_commands.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/point.h"
#include "model/text_table.h"
#include "model/undo.h"
#include "ui/drawing_view.h"

namespace {

// A layer's visibility is no setting of the drawing's settings record; a
// record of its own keeps the step small however large the drawing is.
class CLayerVisibilityUndoItem : public CUndoItem {
public:
    CLayerVisibilityUndoItem(std::string name, CGraph& drawing, std::uint32_t layerId)
        : CUndoItem(std::move(name)), m_Drawing(drawing), m_LayerId(layerId)
    {}
    bool Undo() override { return Flip(); }
    bool Redo() override { return Flip(); }

private:
    bool Flip()
    {
        CLayer* layer = m_Drawing.FindLayer(m_LayerId);
        if (layer == nullptr)
            return false;
        layer->SetVisible(!layer->IsVisible());
        return true;
    }

    CGraph& m_Drawing;
    std::uint32_t m_LayerId;
};

}  // namespace

bool CDrawingView::PushSettingsChange(std::unique_ptr<CUndoItem> item, const std::function<void()>& change)
{
    // Without the record the change would be one Undo could not take back.
    if (m_tracing || !item)
        return false;
    change();
    (void)m_vectorUndo->PushItem(std::move(item));
    AfterVectorEdit();
    emit settingsChanged();
    return true;
}

bool CDrawingView::ChangeSettings(const char* key, const char* english, const std::function<void()>& change)
{
    return PushSettingsChange(NewSettingsUndo(&m_graph, key, english), change);
}

void CDrawingView::ToggleGrid()
{
    const bool shown = !m_graph.GetGridShown();
    (void)ChangeSettings("UndoGrid", "Show Grid", [&] { m_graph.SetGridShown(shown); });
}

void CDrawingView::ToggleGridSnap()
{
    if (GetGridSnap()) {
        m_gridSnap = false;
        emit settingsChanged();
        return;
    }
    // The grid shows while points snap to it.
    if (!m_graph.GetGridShown() && !ChangeSettings("UndoGrid", "Show Grid", [&] { m_graph.SetGridShown(true); }))
        return;
    m_gridSnap = true;
    emit settingsChanged();
}

void CDrawingView::ToggleOrtho()
{
    const bool on = !m_graph.GetOrtho();
    (void)ChangeSettings("UndoOrtho", "Ortho", [&] { m_graph.SetOrtho(on); });
}

void CDrawingView::SetObjectSnapOn(bool on)
{
    if (m_graph.GetObjectSnapOn() == on) {
        emit settingsChanged();
        return;
    }
    (void)ChangeSettings("UndoObjectSnap", "Object Snap", [&] { m_graph.SetObjectSnapOn(on); });
}

void CDrawingView::SetObjectSnapMode(std::int32_t bit, bool on)
{
    const std::uint32_t mask = m_graph.GetObjectSnapMask();
    const auto flag = static_cast<std::uint32_t>(bit);
    const std::uint32_t changed = on ? mask | flag : mask & ~flag;
    if (changed == mask) {
        emit settingsChanged();
        return;
    }
    (void)ChangeSettings("UndoObjectSnapModes", "Object Snap Modes", [&] { m_graph.SetObjectSnapMask(changed); });
}

void CDrawingView::SetSnapFrame(const frDoublePoint& base, const frDoublePoint& alongX)
{
    (void)ChangeSettings("UndoSnapFrame", "Snap Frame", [&] {
        (void)m_graph.SetSnapBase(base);
        // The second point only gives the direction of the frame's x axis.
        if (!PointsEqual(base, alongX))
            (void)m_graph.SetSnapAngle(std::atan2(alongX.y - base.y, alongX.x - base.x));
    });
}

void CDrawingView::ToggleShowRaster()
{
    const bool on = !m_graph.GetShowRaster();
    (void)ChangeSettings("UndoShowRaster", "Show Raster", [&] { m_graph.SetShowRaster(on); });
}

void CDrawingView::ToggleShowVectors()
{
    const bool on = !m_graph.GetShowVectors();
    (void)ChangeSettings("UndoShowVectors", "Show Vectors", [&] { m_graph.SetShowVectors(on); });
}

void CDrawingView::ToggleCurrentLayerVisible()
{
    CLayer* layer = m_graph.GetCurrentLayer();
    if (layer == nullptr)
        return;
    std::unique_ptr<CUndoItem> item(new (std::nothrow) CLayerVisibilityUndoItem(
        GetLanString("UndoLayerVisible", "Layer Visibility"), m_graph, layer->GetId()));
    (void)PushSettingsChange(std::move(item), [&] {
        // What cannot be seen cannot stay selected: a Delete would take it unseen.
        if (layer->IsVisible())
            m_graph.ClearSelection();
        layer->SetVisible(!layer->IsVisible());
    });
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
    if (GetGridSnap())
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
