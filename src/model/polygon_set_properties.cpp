// Information lines and property rows of polygon sets.
//
// Class rows (after layer, colour and width): 1 heading, 2 current outline,
// then the rows of the current outline; class row r is the outline's vertex
// row r - 1, so the outline's heading takes the place of the close row an
// outline does not have.
#include <string>
#include <vector>

#include "model/graph.h"
#include "model/polygon_set.h"
#include "model/property_list.h"
#include "model/text_table.h"
#include "model/utilities.h"

namespace {
enum PolygonRow { kPolygonHeading = 1, kCurrentOutline };
}  // namespace

int CPolyPolygon::GetGripOffset(int i) const
{
    int offset = 0;
    for (int j = 0; j < i && j < GetOutlineCount(); ++j)
        offset += m_Outlines[static_cast<std::size_t>(j)]->GetGripCount();
    return offset;
}

void CPolyPolygon::GetInfo(std::vector<std::string>* lines)
{
    if (lines == nullptr)
        return;
    const CGraph* drawing = GetGraph();
    if (m_Type == ENTITY_POLYPOLYGON)
        lines->push_back("  " + GetLanString("PolygonName", "Name: Polygon"));
    CEntity::GetInfo(lines);
    lines->push_back("    " + GetLanString("PolygonOutlineCount", "Outline Count:") + " " +
                     IntToString(GetOutlineCount()));
    lines->push_back("");
    const std::string idLabel = GetLanString("PolygonOutlineID", "Outline ID:");
    for (int i = 0; i < GetOutlineCount(); ++i) {
        lines->push_back("    " + idLabel + " " + IntToString(i + 1));
        m_Outlines[static_cast<std::size_t>(i)]->AddVertexInfo(drawing, lines, false);
        lines->push_back("");
    }
}

void CPolyPolygon::FillProperties(CPropertyList* list, const CSelectNode* owner)
{
    if (list == nullptr || m_Layer == nullptr)
        return;
    CEntity::FillProperties(list, owner);
    list->AddCategory(GetLanString("PropPolyPolygon", "PolyPolygon Properties"));
    const int count = GetOutlineCount();
    if (count == 0)
        return;
    // The row is there whether or not the set was drawn since it was loaded:
    // applying counts on it.
    if (m_CurOutline < 1 || m_CurOutline > count)
        m_CurOutline = 1;
    list->AddSpinItem(GetLanString("PropPolygonCurLine", "Current Outline"), m_CurOutline, 1, count);
    m_Outlines[static_cast<std::size_t>(m_CurOutline - 1)]->AddVertexRows(list, GetGraph(), false, owner,
                                                                          GetGripOffset(m_CurOutline - 1));
}

int CPolyPolygon::ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                                const CSelectNode* owner)
{
    const int classRow = CEntity::ApplyProperty(drawing, row, value, text, record, owner);
    if (classRow < 1)
        return classRow;
    const int count = GetOutlineCount();
    if (classRow == kPolygonHeading || count == 0)
        return PROP_REFUSED;
    if (m_CurOutline < 1 || m_CurOutline > count)
        m_CurOutline = 1;

    if (classRow == kCurrentOutline) {
        if (value < 1 || value > count || value == m_CurOutline)
            return PROP_REFUSED;
        m_CurOutline = value;
        if (owner)
            GetOutline(value - 1)->SelectCurrentVertexGrip(drawing, owner, GetGripOffset(value - 1));
        return PROP_GEOMETRY_CHANGED;  // the rows show another outline; nothing was edited
    }
    const int code =
        GetOutline(m_CurOutline - 1)
            ->ApplyVertexRow(drawing, classRow - 1, value, text, false, owner, GetGripOffset(m_CurOutline - 1));
    // Any edit of an outline, straight ones included, changes the filled
    // region: the point arrays are rebuilt at the next draw.
    if (code == PROP_GEOMETRY_CHANGED)
        m_Modified = true;
    return code > 0 ? PROP_REFUSED : code;
}
