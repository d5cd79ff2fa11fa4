// The metafile drawing of CLine: one thin stroke in the page colour.
#include "model/line.h"
#include "model/metafile_points.h"
#include "model/output_records.h"
#include "platform/dc.h"

void CLine::DrawToDC(CDC* dc, double pageHeight, bool widths)
{
    (void)widths;   // a line is drawn thin whatever its width
    CPen pen(PS_SOLID, 0, GetPageColor(*this));
    CPen* old = dc->SelectObject(&pen);
    dc->MoveTo(MetafileTrunc(m_Start.x), MetafileTrunc(pageHeight - m_Start.y + 0.5));
    dc->LineTo(MetafileTrunc(m_End.x), MetafileTrunc(pageHeight - m_End.y + 0.5));
    dc->SelectObject(old);
}
