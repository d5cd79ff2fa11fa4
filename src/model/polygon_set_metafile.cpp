// The metafile drawing of CPolyPolygon: every outline a closed figure of
// one path, filled at once with the device context's fill mode (even-odd
// by default), so holes stay open. All values are truncated toward zero.
#include "model/metafile_points.h"
#include "model/output_records.h"
#include "model/polygon_set.h"
#include "platform/dc.h"

namespace {

void AddSegment(CDC* dc, const CVertex& v, const CVertex& w, double pageHeight)
{
    CMetafileArcPoints p;
    if (!GetMetafileArc(v, w, v.bulge, pageHeight, &p)) {
        const POINT to = MetafilePoint(w.x, w.y, pageHeight);
        dc->LineTo(to.x, to.y);
        return;
    }
    const int old = dc->SetArcDirection(v.bulge >= 0 ? AD_COUNTERCLOCKWISE : AD_CLOCKWISE);
    dc->ArcTo(p.topLeft.x, p.topLeft.y, p.bottomRight.x, p.bottomRight.y, p.start.x, p.start.y, p.end.x, p.end.y);
    dc->SetArcDirection(old);
}

}  // namespace

void CPolyPolygon::DrawToDC(CDC* dc, double pageHeight, bool widths)
{
    (void)widths;
    if (m_Outlines.empty())
        return;
    CBrush brush(GetPageColor(*this));
    CBrush* oldBrush = dc->SelectObject(&brush);
    dc->BeginPath();
    for (const std::unique_ptr<CPolyLine>& outline : m_Outlines) {
        const CVertex* head = outline->GetHead();
        if (head == nullptr)
            continue;
        const POINT start = MetafilePoint(head->x, head->y, pageHeight);
        dc->MoveTo(start.x, start.y);
        const CVertex* v = head;
        do {
            AddSegment(dc, *v, *v->next, pageHeight);
            v = v->next;
        } while (v != head);
        dc->CloseFigure();
    }
    dc->EndPath();
    dc->FillPath();
    dc->SelectObject(oldBrush);
}
