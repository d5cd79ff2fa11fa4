// Information lines and property rows of circles and arcs.
//
// Circle class rows (after layer, colour and width): 1 heading, 2 centre x,
// 3 centre y, 4 radius (editable), 5 circumference (a circle's own, shown
// only). An arc shows the circle's rows 1 to 4 and then its own, numbered
// from 1: heading, start and end points (shown only), 6 start angle, 7 end
// angle (editable, degrees), 8 length and 9 sweep (shown only).
//
// Arc angles are converted with the single-precision PI they are stored
// with, so a typed angle shows again as typed.
#include <string>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/property_list.h"
#include "model/text_table.h"
#include "model/utilities.h"

namespace {

enum CircleRow { kCircleHeading = 1, kCentreX, kCentreY, kRadius, kCircumference };
constexpr int kCircleRows = kRadius;  // the rows an arc shares
enum ArcRow { kArcHeading = 1, kStartPointX, kStartPointY, kEndPointX, kEndPointY, kStartAngle, kEndAngle };

// An angle reduced by whole turns while above a full turn.
double ReduceTurns(double angle)
{
    while (angle > TWO_PI)
        angle -= TWO_PI;
    return angle;
}

std::string Point(const CGraph* drawing, const frDoublePoint& p, const char* separator)
{
    return " X=" + InfoNumber(PixelsToDrawingUnit(drawing, p.x)) + separator +
           "Y=" + InfoNumber(PixelsToDrawingUnit(drawing, p.y));
}

std::string Row6(const CGraph* drawing, double pixels)
{
    return DoubleToString(PixelsToDrawingUnit(drawing, pixels), 6);
}

}  // namespace

// ---- CCircle --------------------------------------------------------------

void CCircle::GetInfo(std::vector<std::string>* lines)
{
    if (lines == nullptr)
        return;
    const bool own = m_Type == ENTITY_CIRCLE;
    const CGraph* drawing = GetGraph();
    const std::string unit = UnitNameSuffix(drawing);
    auto length = [&](const char* key, const char* english, double pixels) {
        lines->push_back("    " + GetLanString(key, english) + "  " + InfoNumber(PixelsToDrawingUnit(drawing, pixels)) +
                         unit);
    };
    if (own)
        lines->push_back("  " + GetLanString("CircleName", "Name: Circle"));
    CEntity::GetInfo(lines);
    lines->push_back("    " + GetLanString("CircleCenter", "CenterPoint:") + " " + Point(drawing, m_Centre, "  ") +
                     unit);
    length("CircleRadius", "Radius:", m_Radius);
    length("CircleWidth", "Width:", GetWidth());
    if (!own)
        return;
    length("CircleCircumference", "Circumference:", TWO_PI * m_Radius);
    lines->push_back("");
}

void CCircle::FillProperties(CPropertyList* list, const CSelectNode* owner)
{
    if (list == nullptr || m_Layer == nullptr)
        return;
    CEntity::FillProperties(list, owner);
    const CGraph* drawing = GetGraph();
    list->AddCategory(GetLanString("PropCircle", "Circle Properties"));
    list->AddPropItem(GetLanString("PropCircleCenterX", "X of Center"), Row6(drawing, m_Centre.x), PROP_TEXT, "");
    list->AddPropItem(GetLanString("PropCircleCenterY", "Y of Center"), Row6(drawing, m_Centre.y), PROP_TEXT, "");
    list->AddPropItem(GetLanString("PropCircleRadius", "Radius"), Row6(drawing, m_Radius), PROP_TEXT, "");
    if (m_Type == ENTITY_CIRCLE)
        list->AddPropItem(GetLanString("PropCircleCircumference", "Circumference"), Row6(drawing, TWO_PI * m_Radius),
                          PROP_READ_ONLY, "");
}

int CCircle::ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                           const CSelectNode* owner)
{
    const int classRow = CEntity::ApplyProperty(drawing, row, value, text, record, owner);
    if (classRow < 1)
        return classRow;
    if (classRow > kCircleRows)
        return m_Type == ENTITY_CIRCLE ? PROP_REFUSED : classRow - kCircleRows;
    if (classRow == kCircleHeading)
        return PROP_REFUSED;

    double number = 0;
    if (!ParseDrawingUnit(drawing, text, &number))
        return PROP_REFUSED;
    double* field = classRow == kCentreX ? &m_Centre.x : classRow == kCentreY ? &m_Centre.y : &m_Radius;
    // A radius of nothing or less would turn the curve and its extents inside out.
    if (field == &m_Radius && number < POINT_TOLERANCE)
        return PROP_REFUSED;
    if (number == *field)
        return PROP_REFUSED;
    *field = number;
    m_Modified = true;  // the flat list is rebuilt at the next draw
    return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
}

// ---- CArc -----------------------------------------------------------------

void CArc::GetInfo(std::vector<std::string>* lines)
{
    if (lines == nullptr)
        return;
    const CGraph* drawing = GetGraph();
    const std::string unit = UnitNameSuffix(drawing);
    lines->push_back("  " + GetLanString("ArcName", "Name: Arc"));
    CCircle::GetInfo(lines);
    const double sweep = m_EndAngle - m_StartAngle;
    lines->push_back("    " + GetLanString("ArcStartAngle", "StartAngle:") + " " +
                     InfoNumber(ToDegrees(ReduceTurns(m_StartAngle))));
    lines->push_back("    " + GetLanString("ArcEndAngle", "EndAngle:") + " " +
                     InfoNumber(ToDegrees(ReduceTurns(m_EndAngle))));
    lines->push_back("    " + GetLanString("ArcStartPoint", "StartPoint:") + Point(drawing, m_StartPoint, "  ") + unit);
    lines->push_back("    " + GetLanString("ArcEndPoint", "EndPoint:") + "  " + Point(drawing, m_EndPoint, "  ") +
                     unit);
    lines->push_back("    " + GetLanString("ArcAngle", "Angle:") + "  " + InfoNumber(ToDegrees(sweep)));
    lines->push_back("    " + GetLanString("ArcLength", "Length:") + " " +
                     InfoNumber(PixelsToDrawingUnit(drawing, m_Radius) * sweep) + unit);
    lines->push_back("");
}

void CArc::FillProperties(CPropertyList* list, const CSelectNode* owner)
{
    if (list == nullptr || m_Layer == nullptr)
        return;
    CCircle::FillProperties(list, owner);
    const CGraph* drawing = GetGraph();
    const double sweep = m_EndAngle - m_StartAngle;
    list->AddCategory(GetLanString("PropArc", "Arc Properties"));
    list->AddPropItem(GetLanString("PropStartPointX", "X of StartPoint"), Row6(drawing, m_StartPoint.x), PROP_READ_ONLY,
                      "");
    list->AddPropItem(GetLanString("PropStartPointY", "Y of StartPoint"), Row6(drawing, m_StartPoint.y), PROP_READ_ONLY,
                      "");
    list->AddPropItem(GetLanString("PropEndPointX", "X of EndPoint"), Row6(drawing, m_EndPoint.x), PROP_READ_ONLY, "");
    list->AddPropItem(GetLanString("PropEndPointY", "Y of EndPoint"), Row6(drawing, m_EndPoint.y), PROP_READ_ONLY, "");
    list->AddPropItem(GetLanString("PropStartAngle", "Start Angle"), DoubleToString(ToDegrees(m_StartAngle), 6),
                      PROP_TEXT, "");
    list->AddPropItem(GetLanString("PropEndAngle", "End Angle"), DoubleToString(ToDegrees(m_EndAngle), 6), PROP_TEXT,
                      "");
    list->AddPropItem(GetLanString("PropArcLength", "Length of Arc"), Row6(drawing, sweep * m_Radius), PROP_READ_ONLY,
                      "");
    list->AddPropItem(GetLanString("PropArcSweepAngle", "Sweep Angle"), DoubleToString(ToDegrees(sweep), 6),
                      PROP_READ_ONLY, "");
}

int CArc::ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                        const CSelectNode* owner)
{
    const int classRow = CCircle::ApplyProperty(drawing, row, value, text, record, owner);
    if (classRow < 1) {
        // A new centre or radius moves the end points too.
        UpdateEndPoints();
        return classRow;
    }
    if (classRow != kStartAngle && classRow != kEndAngle)
        return PROP_REFUSED;

    double degrees = 0;
    if (!ParseDouble(text, degrees))
        return PROP_REFUSED;
    const double oldStart = m_StartAngle, oldEnd = m_EndAngle;
    if (classRow == kStartAngle)
        SetStartAngle(degrees / 180.0 * PI);
    else
        SetEndAngle(degrees / 180.0 * PI);
    if (m_StartAngle == oldStart && m_EndAngle == oldEnd)
        return PROP_REFUSED;
    m_Modified = true;
    return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
}
