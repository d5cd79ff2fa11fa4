// The metafile drawing of CSolid: one polygon filled and edged in the page
// colour, with the device context's fill mode.
#include "model/metafile_points.h"
#include "model/output_records.h"
#include "model/solid.h"
#include "platform/dc.h"

void CSolid::DrawToDC(CDC* dc, double pageHeight, bool widths)
{
    (void)widths;
    if (m_Count < 3)
        return;
    POINT corners[SOLID_MAX_VERTICES];
    for (int i = 0; i < m_Count; ++i) {
        corners[i].x = MetafileX(m_Vertices[i].x);
        corners[i].y = MetafileRoundedY(pageHeight - m_Vertices[i].y);
    }
    const COLORREF color = GetPageColor(*this);
    CPen pen(PS_SOLID, 0, color);
    CBrush brush(color);
    CPen* oldPen = dc->SelectObject(&pen);
    CBrush* oldBrush = dc->SelectObject(&brush);
    dc->Polygon(corners, m_Count);
    dc->SelectObject(oldBrush);
    dc->SelectObject(oldPen);
}
