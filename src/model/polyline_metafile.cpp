// The metafile drawing of CPolyLine: each segment on its own, a straight one
// as a move and a line, an arc one as a GDI arc, with the segment's width
// when widths are asked for. All values are truncated toward zero.
#include "model/metafile_points.h"
#include "model/output_records.h"
#include "model/polyline.h"
#include "platform/dc.h"

#include <utility>

namespace {

void DrawSegment(CDC* dc, const CVertex& v, const CVertex& w, double pageHeight)
{
    CMetafileArcPoints points;
    if (!GetMetafileArc(v, w, v.bulge, pageHeight, &points)) {
        const POINT a = MetafilePoint(v.x, v.y, pageHeight), b = MetafilePoint(w.x, w.y, pageHeight);
        dc->MoveTo(a.x, a.y);
        dc->LineTo(b.x, b.y);
        return;
    }
    POINT first = points.start, second = points.end;
    // Counter-clockwise from the first ray to the second: a clockwise
    // segment is the same arc from its end.
    if (v.bulge < 0)
        std::swap(first, second);
    dc->Arc(points.topLeft.x, points.topLeft.y, points.bottomRight.x, points.bottomRight.y, first.x, first.y, second.x,
            second.y);
}

}  // namespace

void CPolyLine::DrawToDC(CDC* dc, double pageHeight, bool widths)
{
    if (m_Head == nullptr || m_Head->next == m_Head)
        return;
    const COLORREF color = GetPageColor(*this);
    CPen pen(PS_SOLID, MetafilePenWidth(widths ? m_Width : 0.0), color);
    CPen* oldPen = dc->SelectObject(&pen);
    const int oldDirection = dc->SetArcDirection(AD_COUNTERCLOCKWISE);
    auto segment = [&](const CVertex& v, const CVertex& w) {
        // A segment without a width of its own keeps the pen it finds.
        const int width = widths ? MetafileLength(v.startWidth) : 0;
        if (width != 0 && width != pen.GetWidth()) {
            pen = CPen(PS_SOLID, width, color);
            dc->SelectObject(&pen);
        }
        DrawSegment(dc, v, w, pageHeight);
    };
    const CVertex* tail = m_Head->prev;
    for (const CVertex* v = m_Head; v != tail; v = v->next)
        segment(*v, *v->next);
    if (m_Closed)
        segment(*tail, *m_Head);
    dc->SetArcDirection(oldDirection);
    dc->SelectObject(oldPen);
}
