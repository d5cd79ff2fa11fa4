// The raster tools of the child window: brush, window and polygon edits of
// the drawing's raster and the colour replacement, each one step of the
// raster undo list, and the mouse and keys that drive them.
#include "ui/drawing_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

#include "model/text_table.h"
#include "platform/message_box.h"
#include "raster/pixel_ops.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"

namespace {

bool IsFillTool(RasterTool tool)
{
    return tool == RasterTool::FillBrush || tool == RasterTool::FillWindow || tool == RasterTool::FillPolygon;
}

bool IsBrushTool(RasterTool tool) { return tool == RasterTool::EraseBrush || tool == RasterTool::FillBrush; }

bool IsWindowTool(RasterTool tool) { return tool == RasterTool::EraseWindow || tool == RasterTool::FillWindow; }

bool IsPolygonTool(RasterTool tool) { return tool == RasterTool::ErasePolygon || tool == RasterTool::FillPolygon; }

std::string Caption() { return QApplication::applicationDisplayName().toStdString(); }

}  // namespace

// ---- edits ------------------------------------------------------------------

DWORD CDrawingView::EditColor(bool fill) const
{
    const CRaster* raster = m_graph.GetRaster();
    if (raster == nullptr)
        return 0;
    const CRasterSrc& image = raster->GetImage();
    if (!fill)
        return image.GetBackgroundColor();
    if (image.GetBitCount() > 8)
        return m_fillColor;
    // Palette images take the entry nearest the colour (black at one bit).
    const BYTE bgr[3] = {GetBValue(m_fillColor), GetGValue(m_fillColor), GetRValue(m_fillColor)};
    const int index = image.FindNearestPaletteIndex(bgr);
    return index < 0 ? 0 : static_cast<DWORD>(index);
}

// The edit's mode and undo name go into the image before it paints.
static void SetEditMode(CRasterSrc& image, bool fill, const std::string& undoName, DWORD paletteIndex, COLORREF color)
{
    if (!fill) {
        image.SetEraseMode(undoName.c_str());
        return;
    }
    const BYTE bytes[4] = {GetBValue(color), GetGValue(color), GetRValue(color), static_cast<BYTE>(paletteIndex)};
    image.SetFillMode(undoName.c_str(), bytes);
}

void CDrawingView::AfterRasterEdit()
{
    m_graph.SetModified(true);
    InvalidateDrawing();
}

bool CDrawingView::EditRasterWindow(const frDoublePoint& a, const frDoublePoint& b, bool fill)
{
    CRaster* raster = m_graph.GetRaster();
    if (m_tracing || raster == nullptr || raster->GetImage().IsEmpty())
        return false;
    // A click without a drag encloses nothing.
    if (a.x == b.x || a.y == b.y)
        return false;
    const std::string name = fill ? GetLanString("FillRasterByWin", "Fill raster by window")
                                  : GetLanString("EraseRasterByWin", "Erase raster by window");
    const DWORD color = EditColor(fill);
    SetEditMode(raster->GetImage(), fill, name, color, m_fillColor);
    const frDoublePoint corners[4] = {{a.x, a.y}, {b.x, a.y}, {b.x, b.y}, {a.x, b.y}};
    if (!raster->FillPolygon(m_rasterUndo.get(), corners, color))
        return false;
    AfterRasterEdit();
    return true;
}

bool CDrawingView::EditRasterPolygon(std::span<const frDoublePoint> points, bool fill)
{
    CRaster* raster = m_graph.GetRaster();
    if (m_tracing || raster == nullptr || raster->GetImage().IsEmpty())
        return false;
    const std::string name = fill ? GetLanString("FillRasterByPoly", "Fill raster by polygon")
                                  : GetLanString("EraseRasterByPoly", "Erase raster by polygon");
    const DWORD color = EditColor(fill);
    SetEditMode(raster->GetImage(), fill, name, color, m_fillColor);
    if (points.size() < 3 || !raster->FillPolygon(m_rasterUndo.get(), points, color)) {
        InvalidateDrawing();
        ShowMessageBox(GetLanString("RasterPolygonError", "The number of edges must be greater that 2!"), Caption(),
                       MB_OK | MB_ICONWARNING);
        return false;
    }
    AfterRasterEdit();
    return true;
}

bool CDrawingView::BeginRasterBrush(const frDoublePoint& at, bool fill)
{
    CRaster* raster = m_graph.GetRaster();
    if (m_tracing || raster == nullptr || raster->GetImage().IsEmpty())
        return false;
    const std::string name = fill ? GetLanString("UndoFillByPoint", "Fill raster by point")
                                  : GetLanString("UndoEraseByPoint", "Erase raster by point");
    SetEditMode(raster->GetImage(), fill, name, EditColor(fill), m_fillColor);
    m_brushing = raster->BeginErase(at.x, at.y);
    InvalidateDrawing();
    return m_brushing;
}

bool CDrawingView::ContinueRasterBrush(const frDoublePoint& to)
{
    CRaster* raster = m_graph.GetRaster();
    if (!m_brushing || raster == nullptr)
        return false;
    const bool painted = raster->EraseTo(to.x, to.y);
    InvalidateDrawing();
    return painted;
}

bool CDrawingView::EndRasterBrush()
{
    CRaster* raster = m_graph.GetRaster();
    if (!m_brushing || raster == nullptr)
        return false;
    m_brushing = false;
    const bool pushed = raster->EndErase(m_rasterUndo.get());
    if (pushed)
        AfterRasterEdit();
    else
        InvalidateDrawing();
    return pushed;
}

bool CDrawingView::ReplaceRasterColor(COLORREF from, COLORREF to, int tolerance, std::string& error)
{
    CRaster* raster = m_graph.GetRaster();
    if (m_tracing || raster == nullptr || raster->GetImage().IsEmpty()) {
        error = GetLanString("NoRasterMsg", "There is no raster image.");
        return false;
    }
    CRasterSrc& image = raster->GetImage();
    if (image.GetBitCount() <= 1) {
        error = GetLanString("ReplaceColorOneBitMsg", "A black and white raster has no colours to replace.");
        return false;
    }
    if (!PushRasterUndo(m_rasterUndo.get(), GetLanString("RasterReplaceColor", "Replace color"), &image)) {
        error = GetLanString("NoMemoryMsg", "Not enough memory to perform operation !");
        return false;
    }
    CRasterProcess process(image, nullptr);
    if (!process.ReplaceColor(from, to, tolerance)) {
        // Nothing was written: the copy on the list would undo nothing.
        (void)m_rasterUndo->UndoLast();
        error = GetLanString("ReplaceColorFailMsg", "The colour could not be replaced.");
        return false;
    }
    raster->InvalidateDisplayCache();
    m_graph.ComputeRasterHistogram(nullptr);
    AfterRasterEdit();
    return true;
}

// ---- tools --------------------------------------------------------------------

void CDrawingView::SetRasterTool(RasterTool tool)
{
    if (m_brushing)
        EndRasterBrush();
    m_dragging = false;
    m_polygon.clear();
    m_tool = tool;
    setCursor(tool == RasterTool::None ? Qt::ArrowCursor : Qt::CrossCursor);
    update();
}

QPoint CDrawingView::WorldToPixel(const frDoublePoint& p) const
{
    const CFrViewTransform& view = m_device.Transform();
    std::int32_t x = 0, y = 0;
    view.WorldToDevice(p.x, p.y, &x, &y);
    return {x, view.DeviceRect().top - y};
}

void CDrawingView::FinishPolygon()
{
    if (m_polygon.empty())
        return;
    const std::vector<frDoublePoint> points = std::move(m_polygon);
    m_polygon.clear();
    EditRasterPolygon(points, IsFillTool(m_tool));
    update();
}

bool CDrawingView::RasterToolPress(QMouseEvent* event)
{
    if (m_tool == RasterTool::None || event->button() == Qt::MiddleButton)
        return false;
    if (m_tracing)
        return true;
    const QPoint at = event->position().toPoint();
    m_pointer = at;
    const frDoublePoint world = PixelToWorld(at);
    if (event->button() == Qt::LeftButton) {
        if (IsBrushTool(m_tool)) {
            BeginRasterBrush(world, IsFillTool(m_tool));
        } else if (IsWindowTool(m_tool)) {
            m_dragging = true;
            m_dragStart = world;
        } else {
            m_polygon.push_back(world);
            update();
        }
        return true;
    }
    if (event->button() == Qt::RightButton && IsPolygonTool(m_tool)) {
        FinishPolygon();
        return true;
    }
    return false;
}

bool CDrawingView::RasterToolMove(QMouseEvent* event)
{
    if (m_tool == RasterTool::None)
        return false;
    m_pointer = event->position().toPoint();
    if (m_brushing)
        ContinueRasterBrush(PixelToWorld(m_pointer));
    else if (m_dragging || !m_polygon.empty())
        update();
    return true;
}

bool CDrawingView::RasterToolRelease(QMouseEvent* event)
{
    if (m_tool == RasterTool::None || event->button() == Qt::MiddleButton)
        return false;
    m_pointer = event->position().toPoint();
    if (event->button() != Qt::LeftButton)
        return true;
    if (m_brushing) {
        ContinueRasterBrush(PixelToWorld(m_pointer));
        EndRasterBrush();
    } else if (m_dragging) {
        m_dragging = false;
        EditRasterWindow(m_dragStart, PixelToWorld(m_pointer), IsFillTool(m_tool));
        update();
    }
    return true;
}

void CDrawingView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second click of a pair is a click to a running command.
    if (IsCommandActive() && CommandPress(event)) {
        event->accept();
        return;
    }
    // The first click of the pair has set the last corner already.
    if (IsPolygonTool(m_tool) && event->button() == Qt::LeftButton) {
        FinishPolygon();
        event->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void CDrawingView::keyPressEvent(QKeyEvent* event)
{
    if (CommandKey(event)) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && (m_dragging || !m_polygon.empty())) {
        m_dragging = false;
        m_polygon.clear();
        update();
        event->accept();
        return;
    }
    // With nothing in progress Esc clears the selection.
    if (event->key() == Qt::Key_Escape && m_tool == RasterTool::None) {
        m_selecting = false;
        ClearSelection();
        update();
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !m_polygon.empty()) {
        FinishPolygon();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CDrawingView::PaintToolFeedback(QPainter& painter)
{
    if (!m_dragging && m_polygon.empty())
        return;
    painter.setPen(QPen(Qt::red, 1, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    if (m_dragging) {
        painter.drawRect(QRect(WorldToPixel(m_dragStart), m_pointer).normalized());
        return;
    }
    QPolygon band;
    for (const frDoublePoint& p : m_polygon)
        band << WorldToPixel(p);
    band << m_pointer;
    painter.drawPolyline(band);
}
