// Information lines and property rows of lines.
//
// Class rows (after layer and colour): 1 heading, 2..5 start x, start y,
// end x, end y (editable), 6 length and 7 angle (shown only).
#include <cmath>
#include <string>
#include <vector>

#include "model/graph.h"
#include "model/line.h"
#include "model/property_list.h"
#include "model/text_table.h"
#include "model/utilities.h"

namespace {

// atan2 gives true radians, so its degrees use the exact factor; the
// single-precision PI would show a vertical line at 89.999997 degrees.
constexpr double kDegreesPerRadian = 57.295779513082320876798;

enum LineRow { kLineHeading = 1, kStartX, kStartY, kEndX, kEndY, kLength, kAngle };

std::string PointLine(const std::string& label, double x, double y, const CGraph* drawing)
{
    return "    " + label + " X=" + InfoNumber(PixelsToDrawingUnit(drawing, x)) +
           "  Y=" + InfoNumber(PixelsToDrawingUnit(drawing, y)) + UnitNameSuffix(drawing);
}

}  // namespace

void CLine::GetInfo(std::vector<std::string>* lines)
{
    if (lines == nullptr)
        return;
    const bool own = m_Type == ENTITY_LINE;
    const CGraph* drawing = GetGraph();
    if (own)
        lines->push_back("  " + GetLanString("LineName", "Name: Line"));
    CEntity::GetInfo(lines);
    lines->push_back(PointLine(GetLanString("LineStartPoint", "StartPoint:"), m_Start.x, m_Start.y, drawing));
    lines->push_back(PointLine(GetLanString("LineEndPoint", "EndPoint:"), m_End.x, m_End.y, drawing));
    lines->push_back("    " + GetLanString("LineLength", "Length:") + " " +
                     InfoNumber(PixelsToDrawingUnit(drawing, m_Length)));
    if (own)
        lines->push_back("");
}

void CLine::FillProperties(CPropertyList* list, const CSelectNode* owner)
{
    if (list == nullptr || m_Layer == nullptr)
        return;
    CEntity::FillProperties(list, owner);
    const CGraph* drawing = GetGraph();
    auto number = [drawing](double v) { return DoubleToString(PixelsToDrawingUnit(drawing, v), 6); };
    list->AddCategory(GetLanString("PropLine", "Line Properties"));
    list->AddPropItem(GetLanString("PropLineStartX", "X of StartPoint"), number(m_Start.x), PROP_TEXT, "");
    list->AddPropItem(GetLanString("PropLineStartY", "Y of StartPoint"), number(m_Start.y), PROP_TEXT, "");
    list->AddPropItem(GetLanString("PropLineEndX", "X of EndPoint"), number(m_End.x), PROP_TEXT, "");
    list->AddPropItem(GetLanString("PropLineEndY", "Y of EndPoint"), number(m_End.y), PROP_TEXT, "");
    const double dx = m_End.x - m_Start.x, dy = m_End.y - m_Start.y;
    list->AddPropItem(GetLanString("PropLineLength", "Length"), number(std::hypot(dx, dy)), PROP_READ_ONLY, "");
    double degrees = std::atan2(dy, dx) * kDegreesPerRadian;
    if (degrees < 0)
        degrees += 360.0;
    if (degrees >= 360.0)
        degrees -= 360.0;
    list->AddPropItem(GetLanString("PropLineAngle", "Angle"), DoubleToString(degrees, 6), PROP_READ_ONLY, "");
}

int CLine::ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                         const CSelectNode* owner)
{
    const int classRow = CEntity::ApplyProperty(drawing, row, value, text, record, owner);
    if (classRow < 1)
        return classRow;
    if (classRow < kStartX || classRow > kEndY)
        return PROP_REFUSED;  // heading, shown values, past the rows

    double coordinate = 0;
    if (!ParseDrawingUnit(drawing, text, &coordinate))
        return PROP_REFUSED;
    switch (classRow) {
    case kStartX:
        if (coordinate == m_Start.x)
            return PROP_REFUSED;
        SetStart(coordinate, m_Start.y);
        break;
    case kStartY:
        if (coordinate == m_Start.y)
            return PROP_REFUSED;
        SetStart(m_Start.x, coordinate);
        break;
    case kEndX:
        if (coordinate == m_End.x)
            return PROP_REFUSED;
        SetEnd(coordinate, m_End.y);
        break;
    default:
        if (coordinate == m_End.y)
            return PROP_REFUSED;
        SetEnd(m_End.x, coordinate);
        break;
    }
    return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
}
