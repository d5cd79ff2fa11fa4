// The metafile drawing of CCircle and CArc: an unfilled ellipse or an arc
// in the page colour. x values are truncated, turned-over y values rounded.
#include "model/circle.h"
#include "model/metafile_points.h"
#include "model/output_records.h"
#include "platform/dc.h"

#include <cmath>

namespace {

struct DeviceBox {
    int left, top, right, bottom;
};

DeviceBox CircleBox(const CCircle& c, double pageHeight)
{
    return {MetafileX(c.m_Centre.x - c.m_Radius), MetafileRoundedY(pageHeight - (c.m_Centre.y + c.m_Radius)),
            MetafileX(c.m_Centre.x + c.m_Radius), MetafileRoundedY(pageHeight - (c.m_Centre.y - c.m_Radius))};
}

CPen CurvePen(const CEntity& entity, bool widths)
{
    return CPen(PS_SOLID, MetafilePenWidth(widths ? entity.m_Width : 0.0), GetPageColor(entity));
}

}  // namespace

void CCircle::DrawToDC(CDC* dc, double pageHeight, bool widths)
{
    CPen pen = CurvePen(*this, widths);
    CBrush hollow = CBrush::Null();
    CPen* oldPen = dc->SelectObject(&pen);
    CBrush* oldBrush = dc->SelectObject(&hollow);
    const DeviceBox box = CircleBox(*this, pageHeight);
    dc->Ellipse(box.left, box.top, box.right, box.bottom);
    dc->SelectObject(oldBrush);
    dc->SelectObject(oldPen);
}

void CArc::DrawToDC(CDC* dc, double pageHeight, bool widths)
{
    CPen pen = CurvePen(*this, widths);
    CPen* oldPen = dc->SelectObject(&pen);
    const DeviceBox box = CircleBox(*this, pageHeight);
    const double cx = m_Centre.x, cy = m_Centre.y, r = m_Radius;
    auto ray = [&](double angle) {
        return POINT{MetafileX(cx + r * std::cos(angle)), MetafileRoundedY(pageHeight - (cy + r * std::sin(angle)))};
    };
    const POINT start = ray(m_StartAngle), end = ray(m_EndAngle);
    if (MetafileRaysHold({{box.left, box.top}, {box.right, box.bottom}, start, end}, true, m_EndAngle - m_StartAngle)) {
        // The arc runs counter-clockwise from start to end; turning y over
        // keeps that the sense the page shows.
        const int oldDirection = dc->SetArcDirection(AD_COUNTERCLOCKWISE);
        dc->Arc(box.left, box.top, box.right, box.bottom, start.x, start.y, end.x, end.y);
        dc->SetArcDirection(oldDirection);
    } else if (start.x != end.x || start.y != end.y) {
        // Its chord, or nothing where its ends meet.
        dc->MoveTo(start.x, start.y);
        dc->LineTo(end.x, end.y);
    }
    dc->SelectObject(oldPen);
}
