// Information lines and property rows of polylines, shared with the outlines
// of polygon sets, and the re-flatten test the polygon set uses.
//
// The rows show one vertex at a time, the current vertex (m_CurVertex,
// 1-based); its grip follows it when the rows know the selection node.
#include <cmath>
#include <string>
#include <vector>

#include "model/constants.h"
#include "model/device.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "model/property_list.h"
#include "model/text_table.h"
#include "model/utilities.h"

namespace {

// Vertex rows as ApplyVertexRow numbers them.
enum VertexRow {
    kPolylineHeading = 1,
    kClose,
    kLength,
    kVertexHeading,
    kCurrentPoint,
    kAddPoint,
    kDeletePoint,
    kVertexX,
    kVertexY,
    kVertexWidth,
    kVertexBulge,
};

// The arc of the segment v begins, as the metafile drawing takes it: both
// angles in [0, 2 PI], the end not below the start.
bool ShownArc(const CVertex& v, CBulgeArc* arc)
{
    if (v.next == nullptr || !GetWrittenBulgeArc(v, *v.next, v.bulge, arc))
        return false;
    while (arc->endAngle < arc->startAngle)
        arc->endAngle += TWO_PI;
    return true;
}

std::string Number6(const CGraph* drawing, double pixels)
{
    return DoubleToString(PixelsToDrawingUnit(drawing, pixels), 6);
}

bool SamePoint(const CVertex& a, const CVertex& b)
{
    return std::fabs(a.x - b.x) < POINT_TOLERANCE && std::fabs(a.y - b.y) < POINT_TOLERANCE;
}

}  // namespace

// ---- information ----------------------------------------------------------

void CPolyLine::GetInfo(std::vector<std::string>* lines)
{
    if (lines == nullptr)
        return;
    if (m_Type == ENTITY_POLYLINE)
        lines->push_back("  " + GetLanString("PolyLineName", "Name: PolyLine"));
    CEntity::GetInfo(lines);
    lines->push_back("    " +
                     (m_Closed ? GetLanString("PolyLineClosed", "Closed") : GetLanString("PolyLineOpen", "Open")));
    AddVertexInfo(GetGraph(), lines, true);
    lines->push_back("");
}

void CPolyLine::AddVertexInfo(const CGraph* drawing, std::vector<std::string>* lines, bool polyline)
{
    if (lines == nullptr)
        return;
    const std::string unit = UnitNameSuffix(drawing);
    auto length = [drawing](double pixels) { return InfoNumber(PixelsToDrawingUnit(drawing, pixels)); };
    lines->push_back("    " + GetLanString("PolylineVertexCount", "Vertex Count:") + " " +
                     IntToString(GetPointCount()));
    if (m_Head) {
        const std::string pointLabel = GetLanString("PolylinePoint", "At Point:");
        const CVertex* v = m_Head;
        do {
            std::string line = "    " + pointLabel + "  X=" + length(v->x) + "  Y=" + length(v->y) + " ";
            if (polyline)
                line += GetLanString("PolylineWidth", "Width") + "=" + length(v->startWidth);
            lines->push_back(line + unit);
            CBulgeArc arc;
            const bool beginsSegment = m_Closed || v->next != m_Head;
            if (beginsSegment && IsArcBulge(v->bulge) && ShownArc(*v, &arc)) {
                lines->push_back("      " + GetLanString("PolylineBulg", "Bulg=") + InfoNumber(v->bulge, 6));
                lines->push_back("      " + GetLanString("PolylineCenter", "Center") + " X=" + length(arc.centre.x) +
                                 ", Y=" + length(arc.centre.y) + " " + GetLanString("PolylineRadius", " Radius=") +
                                 length(arc.radius) + unit);
            }
            v = v->next;
        } while (v != m_Head);
    }
    lines->push_back("    " + GetLanString("PolylineLength", "Length:") + " " + length(GetLength()) + unit);
}

// ---- rows -----------------------------------------------------------------

void CPolyLine::FillProperties(CPropertyList* list, const CSelectNode* owner)
{
    if (list == nullptr || m_Layer == nullptr)
        return;
    CEntity::FillProperties(list, owner);
    AddVertexRows(list, GetGraph(), true, owner, 0);
}

void CPolyLine::AddVertexRows(CPropertyList* list, CGraph* drawing, bool polyline, const CSelectNode* owner,
                              int gripOffset)
{
    if (list == nullptr)
        return;
    list->AddCategory(GetLanString("PropPLine", "PolyLine Properties"));
    if (polyline) {
        const std::string open = GetLanString("PropPLineOpen", "Open");
        const std::string close = GetLanString("PropPLineClose", "Close");
        list->AddPropItem(close, m_Closed ? close : open, PROP_CHOICE, open + "|" + close + "|");
    }
    list->AddPropItem(GetLanString("PropPLineLength", "Length"),
                      DoubleToString(PixelsToDrawingUnit(drawing, GetLength()), 4), PROP_READ_ONLY, "");
    list->AddCategory(GetLanString("PropPLineVertex", "Vertex of PolyLine"));

    const int count = GetPointCount();
    if (count == 0)
        return;
    // An edit elsewhere (grips, undo) may have removed the vertex shown last.
    if (m_CurVertex < 1 || m_CurVertex > count)
        m_CurVertex = 1;
    list->AddSpinItem(GetLanString("PropPLineCurPt", "Current Point"), m_CurVertex, 1, count);
    if (owner)
        SelectCurrentVertexGrip(drawing, owner, gripOffset);
    list->AddPropItem(GetLanString("PropPLineAddCurPt", "Add Point"), "", PROP_BUTTON, "");
    if (count > 2)
        list->AddPropItem(GetLanString("PropPLineDelCurPt", "Delete Current Point"), "", PROP_BUTTON, "");

    const CVertex* v = m_Head;
    for (int i = 1; i < m_CurVertex; ++i)
        v = v->next;
    list->AddPropItem(GetLanString("PorpPLineVertexX", "X of Vertex"), Number6(drawing, v->x), PROP_TEXT, "");
    list->AddPropItem(GetLanString("PorpPLineVertexY", "Y of Vertex"), Number6(drawing, v->y), PROP_TEXT, "");
    // An outline takes its widths from the polygon set: shown, not edited.
    list->AddPropItem(GetLanString("PorpPLineVertexWidth", "Width of Vertex"), Number6(drawing, v->startWidth),
                      polyline ? PROP_TEXT : PROP_READ_ONLY, "");
    list->AddPropItem(GetLanString("PorpPLineVertexBulg", "Bulg of Vertex"), DoubleToString(v->bulge, 6), PROP_TEXT,
                      "");
    CBulgeArc arc;
    const bool beginsSegment = m_Closed || v->next != m_Head;
    if (beginsSegment && std::fabs(v->bulge) > POINT_TOLERANCE && ShownArc(*v, &arc)) {
        list->AddPropItem(GetLanString("PorpPLineVertexCenX", "X of Arc Center"), Number6(drawing, arc.centre.x),
                          PROP_READ_ONLY, "");
        list->AddPropItem(GetLanString("PorpPLineVertexCenY", "Y of Arc Center"), Number6(drawing, arc.centre.y),
                          PROP_READ_ONLY, "");
        list->AddPropItem(GetLanString("PorpPLineVertexR", "Radius of Arc"), Number6(drawing, arc.radius),
                          PROP_READ_ONLY, "");
        list->AddPropItem(GetLanString("PorpPLineVertexStartAngle", "StartAngle of Arc"),
                          DoubleToString(ToDegrees(arc.startAngle), 6), PROP_READ_ONLY, "");
        list->AddPropItem(GetLanString("PorpPLineVertexEndAngle", "EndAngle of Arc"),
                          DoubleToString(ToDegrees(arc.endAngle), 6), PROP_READ_ONLY, "");
    }
}

int CPolyLine::ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                             const CSelectNode* owner)
{
    const int classRow = CEntity::ApplyProperty(drawing, row, value, text, record, owner);
    if (classRow < 1)
        return classRow;
    return ApplyVertexRow(drawing, classRow, value, text, true, owner, 0);
}

int CPolyLine::ApplyVertexRow(CGraph* drawing, int row, int value, const std::string& text, bool polyline,
                              const CSelectNode* owner, int gripOffset)
{
    const int count = GetPointCount();
    // Without the delete row the rows after it came one lower.
    if (count <= 2 && row >= kDeletePoint)
        ++row;
    if (row == kClose) {
        if (!polyline)
            return PROP_REFUSED;  // an outline is always closed
        bool close = false;
        // One straight segment cannot enclose anything.
        if (count > 2 || (m_Head && IsArcBulge(m_Head->bulge)))
            close = LayerNamesEqual(text, GetLanString("PropPLineClose", "Close"));
        if (close == m_Closed)
            return PROP_REFUSED;
        m_Closed = close;
        if (close && IsArcBulge(GetTail()->bulge))
            m_AllStraight = false;
        m_Modified = true;
        return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
    }
    if (row < kCurrentPoint || row > kVertexBulge || count == 0)
        return PROP_REFUSED;
    if (m_CurVertex < 1 || m_CurVertex > count)
        m_CurVertex = 1;
    CVertex* v = m_Head;
    for (int i = 1; i < m_CurVertex; ++i)
        v = v->next;

    switch (row) {
    case kCurrentPoint:
        if (value < 1 || value > count || value == m_CurVertex)
            return PROP_REFUSED;
        m_CurVertex = value;
        if (owner)
            SelectCurrentVertexGrip(drawing, owner, gripOffset);
        return PROP_GEOMETRY_CHANGED;  // the rows show another vertex; nothing was edited
    case kAddPoint:
        if (!InsertMidVertex(v))
            return PROP_REFUSED;
        return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
    case kDeletePoint:
        if (count < 3)
            return PROP_REFUSED;
        if (std::fabs(v->bulge) > POINT_TOLERANCE || std::fabs(v->prev->bulge) > POINT_TOLERANCE)
            m_Modified = true;
        RemoveVertex(v);
        if (m_CurVertex > 1)
            --m_CurVertex;
        if (owner)
            SelectCurrentVertexGrip(drawing, owner, gripOffset);
        return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
    case kVertexX:
    case kVertexY: {
        double coordinate = 0;
        if (!ParseDrawingUnit(drawing, text, &coordinate))
            return PROP_REFUSED;
        double& field = row == kVertexX ? v->x : v->y;
        if (coordinate == field)
            return PROP_REFUSED;
        field = coordinate;
        // Flat points are copies; a straight polyline draws its vertices.
        if (!m_AllStraight)
            m_Modified = true;
        return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
    }
    case kVertexWidth: {
        double width = 0;
        if (!polyline || !ParseDrawingUnit(drawing, text, &width) || width < 0 || width == v->startWidth)
            return PROP_REFUSED;
        v->startWidth = width;
        m_Modified = true;
        return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
    }
    default: {  // bulge
        double bulge = 0;
        if (!ParseDouble(text, bulge) || bulge == v->bulge)
            return PROP_REFUSED;
        // The tail of an open polyline begins no segment; a point cannot bend.
        if ((!m_Closed && v->next == m_Head) || SamePoint(*v, *v->next))
            return PROP_REFUSED;
        v->bulge = bulge;
        m_Modified = true;
        if (IsArcBulge(bulge))
            m_AllStraight = false;
        return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
    }
    }
}

// ---- flattening -----------------------------------------------------------

bool CPolyLine::NeedsReflatten(const CFrDevice* device) const
{
    if (m_AllStraight)
        return false;
    const double t = device ? device->GetFlattenStep() : FLATTEN_STEP_NO_DEVICE;
    const double s = m_FlatStep;
    return m_Modified || m_FlatHead == nullptr || s > t || s < 0.2 * t || s < POINT_TOLERANCE;
}
