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
    return {MetafileTrunc(c.m_Centre.x - c.m_Radius), MetafileTrunc(pageHeight - (c.m_Centre.y + c.m_Radius) + 0.5),
            MetafileTrunc(c.m_Centre.x + c.m_Radius), MetafileTrunc(pageHeight - (c.m_Centre.y - c.m_Radius) + 0.5)};
}

CPen CurvePen(const CEntity& entity, bool widths)
{
    return CPen(PS_SOLID, widths ? MetafileTrunc(entity.m_Width) : 0, GetPageColor(entity));
}

} // namespace

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
    // The arc runs counter-clockwise from start to end; turning y over keeps
    // that the sense the page shows.
    const int oldDirection = dc->SetArcDirection(AD_COUNTERCLOCKWISE);
    const DeviceBox box = CircleBox(*this, pageHeight);
    const double cx = m_Centre.x, cy = m_Centre.y, r = m_Radius;
    dc->Arc(box.left, box.top, box.right, box.bottom, MetafileTrunc(cx + r * std::cos(m_StartAngle)),
            MetafileTrunc(pageHeight - (cy + r * std::sin(m_StartAngle)) + 0.5),
            MetafileTrunc(cx + r * std::cos(m_EndAngle)), MetafileTrunc(pageHeight - (cy + r * std::sin(m_EndAngle)) + 0.5));
    dc->SetArcDirection(oldDirection);
    dc->SelectObject(oldPen);
}
