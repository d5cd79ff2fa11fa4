// The metafile drawing of CLine: one thin stroke in the page colour.
#include "model/line.h"
#include "model/metafile_points.h"
#include "model/output_records.h"
#include "platform/dc.h"

void CLine::DrawToDC(CDC* dc, double pageHeight, bool widths)
{
    (void)widths;  // a line is drawn thin whatever its width
    CPen pen(PS_SOLID, MetafilePenWidth(0), GetPageColor(*this));
    CPen* old = dc->SelectObject(&pen);
    dc->MoveTo(MetafileX(m_Start.x), MetafileRoundedY(pageHeight - m_Start.y));
    dc->LineTo(MetafileX(m_End.x), MetafileRoundedY(pageHeight - m_End.y));
    dc->SelectObject(old);
}
