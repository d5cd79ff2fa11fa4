// The output records of CLine. Each record is built in memory and written at
// once, so a failed write is seen on the record as a whole.
#include <cmath>
#include <string>

#include "export/cgm_colors.h"
#include "export/pdf_stream.h"
#include "model/color_index.h"
#include "model/graph.h"
#include "model/line.h"
#include "model/output_records.h"
#include "model/utilities.h"
#include "platform/number_text.h"

namespace {

// POLYLINE in the long form (class 4, element 1).
constexpr unsigned kCgmPolylineLong = 0x403F;

}  // namespace

// ---- CLine ------------------------------------------------------------------

namespace {

std::string LineDxfPoints(const CLine& line)
{
    double x0 = line.GetStart().x, y0 = line.GetStart().y, x1 = line.GetEnd().x, y1 = line.GetEnd().y;
    ConvertToDrawingUnit(line, &x0, &y0);
    ConvertToDrawingUnit(line, &x1, &y1);
    std::string text;
    AppendFixedFormat(text, "  10\n%f\n  20\n%f\n  11\n%f\n  21\n%f\n", {x0, y0, x1, y1});
    return text;
}

}  // namespace

bool CLine::WriteDXF2000(std::FILE* file, bool widths, const CDxfNames& names)
{
    if (m_Type == ENTITY_LINE && !WriteOutputText(file, "  0\nLINE\n"))
        return false;
    if (!CEntity::WriteDXF2000(file, widths, names))
        return false;
    return WriteOutputText(file, "100\nAcDbLine\n" + LineDxfPoints(*this));
}

bool CLine::WriteDXFR10(std::FILE* file, bool widths, const CDxfNames& names)
{
    if (m_Type == ENTITY_LINE && !WriteOutputText(file, "  0\nLINE\n"))
        return false;
    if (!CEntity::WriteDXFR10(file, widths, names))
        return false;
    return WriteOutputText(file, LineDxfPoints(*this));
}

bool CLine::WriteSVG(std::FILE* file, double pageHeight, bool widths)
{
    (void)widths;
    return WriteOutputText(file, "<path d=\"M " + SvgPointText(*this, pageHeight, m_Start.x, m_Start.y) + " L " +
                                     SvgPointText(*this, pageHeight, m_End.x, m_End.y) + "\"\n" +
                                     "fill=\"none\" stroke=\"" + SvgColorText(GetPageColor(*this)) +
                                     "\" stroke-width=\"" + SvgStrokeWidthText(0) + "\" />\n");
}

bool CLine::WriteCGM(std::FILE* file)
{
    WriteCgmColors(GetPageColor(*this), file);
    PutCgmWord16(file, kCgmPolylineLong);
    PutCgmWord16(file, 8);
    PutCgmPoint(file, m_Start.x, m_Start.y);
    PutCgmPoint(file, m_End.x, m_End.y);
    return true;
}

bool CLine::WriteHPGL(std::FILE* file)
{
    const std::string s = HpglPointText(*this, m_Start.x, m_Start.y), e = HpglPointText(*this, m_End.x, m_End.y);
    return WriteOutputText(file, "PU" + s + ";PD" + s + ";PD" + e + ";PU" + e + ";");
}

bool CLine::WriteEPS(std::FILE* file, bool widths)
{
    (void)widths;
    const frDoublePoint s = GetPagePoint(*this, m_Start.x, m_Start.y), e = GetPagePoint(*this, m_End.x, m_End.y);
    return WriteOutputText(file, EpsColorText(GetPageColor(*this)) +
                                     FormatC("%f %f moveto\n%f %f lineto\n%f setlinewidth\nstroke\n", s.x, s.y, e.x,
                                             e.y, GetStrokeWidth(0.0)));
}

bool CLine::WritePDF(CPDFStream* stream, bool widths)
{
    (void)widths;
    SetPdfColor(stream, GetPageColor(*this), false);
    stream->SetLineWidth(0);
    const frDoublePoint s = PdfPagePoint(*this, *stream, m_Start.x, m_Start.y);
    const frDoublePoint e = PdfPagePoint(*this, *stream, m_End.x, m_End.y);
    return stream->MoveTo(s.x, s.y) && stream->LineTo(e.x, e.y) && stream->AppendText("S ");
}
