// The drawing view's selection: the left button picks and drags selection
// boxes while no tool is chosen, and the editing commands that act on what
// is selected. The drawing itself keeps the selection set and the grips;
// the view only turns pointer positions into its calls.
#include "ui/drawing_view.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "model/drawing_display.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/select_set.h"
#include "model/text_table.h"
#include "model/undo.h"
#include "platform/pixel_dc.h"
#include "trace/trace_option.h"

namespace {

// The selection becomes exactly these entities (head first, as the set
// lists them), with their grips.
void ReplaceSelection(CGraph& drawing, const std::vector<CEntity*>& entities)
{
    drawing.ClearSelection();
    CSelectSet& set = drawing.GetSelectSet();
    // Add puts each new node at the head: the last one added leads.
    for (auto it = entities.rbegin(); it != entities.rend(); ++it) {
        (*it)->m_Selected = true;
        if (set.Add(*it) == nullptr)
            (*it)->m_Selected = false;
    }
    set.CollectGrips(drawing.GetGripListHead());
    std::uint32_t grips = 0;
    for (const CGripRecord* g = drawing.GetGrips(); g != nullptr; g = g->next)
        ++grips;
    drawing.SetGripCount(grips);
}

bool Contains(const std::vector<CEntity*>& entities, const CEntity* entity)
{
    return std::find(entities.begin(), entities.end(), entity) != entities.end();
}

}  // namespace

// ---- selecting --------------------------------------------------------------

bool CDrawingView::PickAt(const QPoint& pixel, bool toggle)
{
    if (m_tracing)
        return false;
    // Only what the last pass drew can be hit.
    (void)RenderedImage();
    const QPoint half(kPickBoxPixels, kPickBoxPixels);
    const std::vector<CEntity*> before = m_graph.GetSelectSet().GetEntities();
    m_graph.ClearSelection();
    (void)m_graph.SelectCrossing(PixelToWorld(pixel - half), PixelToWorld(pixel + half));
    const std::vector<CEntity*> hit = m_graph.GetSelectSet().GetEntities();
    if (toggle) {
        std::vector<CEntity*> after;
        const bool allSelected =
            !hit.empty() && std::all_of(hit.begin(), hit.end(), [&](CEntity* e) { return Contains(before, e); });
        for (CEntity* e : before)
            if (!(allSelected && Contains(hit, e)))
                after.push_back(e);
        if (!allSelected)
            for (CEntity* e : hit)
                if (!Contains(before, e))
                    after.insert(after.begin(), e);
        ReplaceSelection(m_graph, after);
    }
    const bool changed = m_graph.GetSelectSet().GetEntities() != before;
    if (changed)
        NoteDrawingEdited();
    return changed;
}

bool CDrawingView::SelectBox(const QPoint& from, const QPoint& to, bool add)
{
    if (m_tracing)
        return false;
    (void)RenderedImage();
    const bool hadSelection = !m_graph.GetSelectSet().IsEmpty();
    if (!add)
        m_graph.ClearSelection();
    const frDoublePoint a = PixelToWorld(from), b = PixelToWorld(to);
    // Dragged to the right: what lies inside; to the left: what crosses.
    const bool added = to.x() > from.x() ? m_graph.SelectWindow(a, b) : m_graph.SelectCrossing(a, b);
    if (added || hadSelection != !m_graph.GetSelectSet().IsEmpty())
        NoteDrawingEdited();
    return added;
}

void CDrawingView::SelectAllEntities()
{
    if (m_tracing)
        return;
    m_graph.SelectAll(true);
    NoteDrawingEdited();
}

bool CDrawingView::ClearSelection()
{
    if (m_tracing || m_graph.GetSelectSet().IsEmpty())
        return false;
    m_graph.ClearSelection();
    NoteDrawingEdited();
    return true;
}

// ---- the left button ----------------------------------------------------------

bool CDrawingView::SelectionPress(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_tool != RasterTool::None)
        return false;
    m_selecting = !m_tracing;
    m_selectAdds = (event->modifiers() & Qt::ShiftModifier) != 0;
    m_selectFrom = m_selectTo = event->position().toPoint();
    return true;
}

bool CDrawingView::SelectionMove(QMouseEvent* event)
{
    if (!m_selecting)
        return false;
    m_selectTo = event->position().toPoint();
    update();
    return true;
}

bool CDrawingView::SelectionRelease(QMouseEvent* event)
{
    if (!m_selecting || event->button() != Qt::LeftButton)
        return false;
    m_selecting = false;
    m_selectTo = event->position().toPoint();
    // Within the pick box the press was a click, not a box.
    const QPoint moved = m_selectTo - m_selectFrom;
    if (std::abs(moved.x()) <= kPickBoxPixels && std::abs(moved.y()) <= kPickBoxPixels)
        PickAt(m_selectFrom, m_selectAdds);
    else
        SelectBox(m_selectFrom, m_selectTo, m_selectAdds);
    update();
    return true;
}

void CDrawingView::PaintSelectionBand(QPainter& painter)
{
    if (!m_selecting || m_picture.isNull())
        return;
    const QPoint from = m_selectFrom, to = m_selectTo;
    const QRect box = QRect(QPoint(std::min(from.x(), to.x()), std::min(from.y(), to.y())),
                            QPoint(std::max(from.x(), to.x()), std::max(from.y(), to.y())))
                          .intersected(m_picture.rect());
    if (box.isEmpty())
        return;
    // The band is drawn in XOR over the picture under it, as the drawing's
    // own rubber bands are: a small canvas holds that part of the picture.
    CPixelDC canvas(box.width() + 1, box.height() + 1);
    if (!canvas.IsValid())
        return;
    const QImage under = m_picture.copy(box.x(), box.y(), canvas.Width(), canvas.Height());
    for (int y = 0; y < canvas.Height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(under.constScanLine(y));
        std::copy(row, row + canvas.Width(), canvas.Bits() + static_cast<std::size_t>(y) * canvas.Width());
    }
    const QPoint a = m_selectFrom - box.topLeft(), b = m_selectTo - box.topLeft();
    DrawRubberRect(&canvas, a.x(), a.y(), b.x(), b.y(), true);
    QImage band;
    CopyCanvasToImage(canvas, band);
    painter.drawImage(box.topLeft(), band);
}

// ---- commands on the selection -----------------------------------------------

bool CDrawingView::DeleteSelection()
{
    if (m_tracing || !m_graph.DeleteSelected())
        return false;
    AfterVectorEdit();
    return true;
}

int CDrawingView::ExplodeSelection()
{
    if (m_tracing)
        return 0;
    const int exploded = m_graph.ExplodePolylines(false);
    if (exploded > 0)
        AfterVectorEdit();
    else
        NoteDrawingEdited();
    return exploded;
}

bool CDrawingView::SeparateByWidth(std::string& error)
{
    if (m_tracing)
        return false;
    const CWidthSeries& series = GetTraceOption().ChartType.WidthSeries;
    if (series.Widths.GetCount() == 0) {
        error = GetLanString("NoWidthSeriesMsg", "No widths are set: choose a width series in the tracing options.");
        return false;
    }
    if (m_graph.IsEmpty()) {
        error = GetLanString("NoVectorsMsg", "The drawing holds no vectors.");
        return false;
    }
    // The command moves every entity and drops layers: the whole drawing is
    // kept for undo beforehand.
    auto whole = std::make_unique<CGraphUndoItem>(GetLanString("UndoSeparateLayers", "Separate Layers"));
    if (!whole->Init(&m_graph, CGraphUndoItem::KIND_DRAWING)) {
        error = GetLanString("NoMemoryMsg", "Not enough memory to perform operation !");
        return false;
    }
    m_graph.ClearSelection();
    if (!m_graph.SeparateToLayers(series)) {
        error = GetLanString("NoWidthSeriesMsg", "No widths are set: choose a width series in the tracing options.");
        return false;
    }
    (void)m_vectorUndo->PushItem(std::move(whole));
    AfterVectorEdit();
    return true;
}
