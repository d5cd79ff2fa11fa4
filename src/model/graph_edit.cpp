// The temporary polyline of the polyline command, and direct lines.
#include <new>

#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "model/text_table.h"
#include "model/undo.h"

namespace {
// Widths below this stand for "use the drawing's current width".
constexpr double kNoWidth = -1e-5;
}  // namespace

void CGraph::BeginTempPolyline()
{
    // The drawing owns the temporary polyline: the previous one goes here.
    m_TempPolyline.reset();
    if (m_CurrentLayer == nullptr)
        return;
    m_TempPolyline = CreateEntity(ENTITY_POLYLINE);
    if (!m_TempPolyline)
        return;
    m_TempPolyline->SetWidth(m_CurrentWidth);
    m_TempPolyline->m_Color = m_CurrentColor;
    m_TempPolyline->m_Layer = m_CurrentLayer;
}

CPolyLine* CGraph::GetTempPolyline() const
{
    CEntity* e = m_TempPolyline.get();
    return e && e->m_Type == ENTITY_POLYLINE ? static_cast<CPolyLine*>(e) : nullptr;
}

void CGraph::AddTempVertex(double x, double y, double startWidth, double endWidth, std::int32_t flags)
{
    CPolyLine* polyline = GetTempPolyline();
    if (polyline == nullptr)
        return;
    if (startWidth < kNoWidth || endWidth < kNoWidth)
        startWidth = endWidth = m_CurrentWidth;
    CVertex* v = new (std::nothrow) CVertex(x, y, startWidth, endWidth, flags);
    if (v == nullptr)
        return;
    polyline->AddVertex(v, true);
}

void CGraph::EndTempPolyline(bool keep)
{
    std::unique_ptr<CEntity> polyline = std::move(m_TempPolyline);
    if (!keep || !polyline || m_CurrentLayer == nullptr)
        return;
    CEntity* kept = polyline.get();
    kept->m_Layer = nullptr;
    if (!m_CurrentLayer->AddEntity(kept))
        return;
    polyline.release();
    SetModified(true);

    auto item = std::unique_ptr<CVectorUndoItem>(
        new (std::nothrow) CVectorUndoItem(GetLanString("UndoDrawPLine", "Draw PolyLine"), this));
    if (item && item->AddRecord(kept, UNDO_ENTITY_ADDED))
        PushUndoItem(m_VectorUndo, std::move(item));
}

CLine* CGraph::AddLine(double x1, double y1, double x2, double y2)
{
    if (m_CurrentLayer == nullptr)
        return nullptr;
    std::unique_ptr<CLine> line(new (std::nothrow) CLine);
    if (!line)
        return nullptr;
    line->SetEnds({x1, y1}, {x2, y2});
    line->m_Color = m_CurrentColor;
    line->SetWidth(m_CurrentWidth);
    if (!m_CurrentLayer->AddEntity(line.get()))
        return nullptr;
    SetModified(true);
    return line.release();
}
