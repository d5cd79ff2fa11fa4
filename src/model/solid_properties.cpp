// Information lines and property rows of solids.
//
// Class rows (after layer and colour): 1 heading, then x and y of each
// vertex in ring order (2 + 2k and 3 + 2k for vertex k), then for a solid of
// its own type the perimeter (shown only).
#include <cmath>
#include <string>
#include <vector>

#include "model/graph.h"
#include "model/property_list.h"
#include "model/solid.h"
#include "model/text_table.h"
#include "model/utilities.h"
#include "platform/number_text.h"

namespace {

constexpr int kFirstVertexRow = 2;

std::string VertexRowDefault(char axis, int number)
{
    static const char* const kOrdinals[SOLID_MAX_VERTICES] = {"1st", "2nd", "3rd", "4th"};
    return std::string(1, axis) + " of " + kOrdinals[number - 1] + " point";
}

}  // namespace

void CSolid::GetInfo(std::vector<std::string>* lines)
{
    if (lines == nullptr)
        return;
    const CGraph* drawing = GetGraph();
    if (m_Type == ENTITY_SOLID)
        lines->push_back("  " + GetLanString("SolidName", "Name: Solid"));
    CEntity::GetInfo(lines);
    const std::string label = GetLanString("SolidPoint", "At Point:");
    for (int i = 0; i < m_Count; ++i)
        lines->push_back("    " + label + "  X=" + InfoNumber(PixelsToDrawingUnit(drawing, m_Vertices[i].x)) +
                         "  Y=" + InfoNumber(PixelsToDrawingUnit(drawing, m_Vertices[i].y)) + UnitNameSuffix(drawing));
}

void CSolid::FillProperties(CPropertyList* list, const CSelectNode* owner)
{
    if (list == nullptr || m_Layer == nullptr)
        return;
    CEntity::FillProperties(list, owner);
    const CGraph* drawing = GetGraph();
    list->AddCategory(GetLanString("PropSolid", "Solid Properties"));
    double perimeter = 0;
    for (int i = 0; i < m_Count; ++i) {
        const CVertex& v = m_Vertices[i];
        const CVertex& w = m_Vertices[(i + 1) % m_Count];
        perimeter += std::hypot(w.x - v.x, w.y - v.y);
        list->AddPropItem(GetLanString(FormatC("PropSolidPoint_%d_X", i + 1), VertexRowDefault('X', i + 1)),
                          DoubleToString(PixelsToDrawingUnit(drawing, v.x), 6), PROP_TEXT, "");
        list->AddPropItem(GetLanString(FormatC("PropSolidPoint_%d_Y", i + 1), VertexRowDefault('Y', i + 1)),
                          DoubleToString(PixelsToDrawingUnit(drawing, v.y), 6), PROP_TEXT, "");
    }
    if (m_Type == ENTITY_SOLID)
        list->AddPropItem(GetLanString("PropSolidLength", "Length"),
                          DoubleToString(PixelsToDrawingUnit(drawing, perimeter), 6), PROP_READ_ONLY, "");
}

int CSolid::ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                          const CSelectNode* owner)
{
    const int classRow = CEntity::ApplyProperty(drawing, row, value, text, record, owner);
    if (classRow < 1)
        return classRow;
    // The heading, the perimeter and anything past the rows cannot be edited.
    if (classRow < kFirstVertexRow || classRow >= kFirstVertexRow + 2 * m_Count)
        return PROP_REFUSED;

    double coordinate = 0;
    if (!ParseDrawingUnit(drawing, text, &coordinate))
        return PROP_REFUSED;
    const int k = (classRow - kFirstVertexRow) / 2;
    const bool isX = (classRow - kFirstVertexRow) % 2 == 0;
    const CVertex& v = m_Vertices[k];
    if (coordinate == (isX ? v.x : v.y))
        return PROP_REFUSED;
    if (!MoveGrip(isX ? coordinate : v.x, isX ? v.y : coordinate, v.z, k))
        return PROP_REFUSED;
    // The solid is redrawn and its rows (the perimeter) filled again.
    return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
}
