// The output records of CLine, and the helpers every entity's records share.
// Each record is built in memory and written at once, so a failed write is
// seen on the record as a whole.
#include <cmath>
#include <string>

#include "export/cgm_colors.h"
#include "export/pdf_stream.h"
#include "model/color_index.h"
#include "model/graph.h"
#include "model/line.h"
#include "model/utilities.h"
#include "platform/number_text.h"

namespace {

// POLYLINE in the long form (class 4, element 1).
constexpr unsigned kCgmPolylineLong = 0x403F;

} // namespace

// ---- shared helpers ---------------------------------------------------------

COLORREF GetPageColor(const CEntity& entity)
{
    const int index = entity.GetDrawColorIndex();
    if (index == kColorWhite) return RGB(0, 0, 0);
    return ColorIndexToRGB(index, nullptr, true);
}

void ConvertToDrawingUnit(const CEntity& entity, double* x, double* y)
{
    if (const CGraph* graph = entity.GetGraph()) graph->GetPixelsPerUnit(x, y, nullptr);
}

double ConvertLengthToDrawingUnit(const CEntity& entity, double length)
{
    if (const CGraph* graph = entity.GetGraph()) graph->GetPixelsPerUnit(&length, nullptr, nullptr);
    return length;
}

bool WriteOutputText(std::FILE* file, const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

std::string SvgColorText(COLORREF color)
{
    return FormatC("RGB(%d,%d,%d)", GetRValue(color), GetGValue(color), GetBValue(color));
}

void SetPdfColor(CPDFStream* stream, COLORREF color, bool fill)
{
    const double r = GetRValue(color) / 255.0, g = GetGValue(color) / 255.0, b = GetBValue(color) / 255.0;
    const bool gray = GetRValue(color) == GetGValue(color) && GetGValue(color) == GetBValue(color);
    if (gray) {
        stream->SetStrokeGray(r);
        if (fill) stream->SetFillGray(r);
    } else {
        stream->SetStrokeRGB(r, g, b);
        if (fill) stream->SetFillRGB(r, g, b);
    }
}

void PutCgmWord16(std::FILE* file, unsigned word)
{
    const unsigned char bytes[2] = {static_cast<unsigned char>((word >> 8) & 0xFF),
                                    static_cast<unsigned char>(word & 0xFF)};
    (void)std::fwrite(bytes, 1, 2, file);
}

void PutCgmCoordinate(std::FILE* file, double value)
{
    // Wrapping would move a far point to the other side of the picture.
    double v = std::floor(value + 0.5);
    if (!(v >= -32768.0)) v = -32768.0;
    if (v > 32767.0) v = 32767.0;
    PutCgmWord16(file, static_cast<unsigned>(static_cast<int>(v)) & 0xFFFF);
}

// ---- CLine ------------------------------------------------------------------

namespace {

std::string LineDxfPoints(const CLine& line)
{
    double x0 = line.GetStart().x, y0 = line.GetStart().y, x1 = line.GetEnd().x, y1 = line.GetEnd().y;
    ConvertToDrawingUnit(line, &x0, &y0);
    ConvertToDrawingUnit(line, &x1, &y1);
    return FormatC("  10\n%f\n  20\n%f\n  11\n%f\n  21\n%f\n", x0, y0, x1, y1);
}

} // namespace

bool CLine::WriteDXF2000(std::FILE* file, bool widths)
{
    if (m_Type == ENTITY_LINE && !WriteOutputText(file, "  0\nLINE\n")) return false;
    if (!CEntity::WriteDXF2000(file, widths)) return false;
    return WriteOutputText(file, "100\nAcDbLine\n" + LineDxfPoints(*this));
}

bool CLine::WriteDXFR10(std::FILE* file, bool widths)
{
    if (m_Type == ENTITY_LINE && !WriteOutputText(file, "  0\nLINE\n")) return false;
    if (!CEntity::WriteDXFR10(file, widths)) return false;
    return WriteOutputText(file, LineDxfPoints(*this));
}

bool CLine::WriteSVG(std::FILE* file, double pageHeight, bool widths)
{
    (void)widths;
    double x0 = m_Start.x, y0 = pageHeight - m_Start.y, x1 = m_End.x, y1 = pageHeight - m_End.y;
    ConvertToDrawingUnit(*this, &x0, &y0);
    ConvertToDrawingUnit(*this, &x1, &y1);
    return WriteOutputText(file, FormatC("<path d=\"M %-.3f,%-.3f L %-.3f,%-.3f\"\n", x0, y0, x1, y1) +
                                     "fill=\"none\" stroke=\"" + SvgColorText(GetPageColor(*this)) +
                                     "\" stroke-width=\"0.01\" />\n");
}

bool CLine::WriteCGM(std::FILE* file)
{
    WriteCgmColors(GetPageColor(*this), file);
    PutCgmWord16(file, kCgmPolylineLong);
    PutCgmWord16(file, 8);
    PutCgmCoordinate(file, m_Start.x);
    PutCgmCoordinate(file, m_Start.y);
    PutCgmCoordinate(file, m_End.x);
    PutCgmCoordinate(file, m_End.y);
    return true;
}

bool CLine::WriteHPGL(std::FILE* file)
{
    const CGraph* graph = GetGraph();
    const int unit = graph ? static_cast<int>(graph->GetUnit()) : kUnitPixel;
    double x0 = m_Start.x, y0 = m_Start.y, x1 = m_End.x, y1 = m_End.y;
    ConvertToDrawingUnit(*this, &x0, &y0);
    ConvertToDrawingUnit(*this, &x1, &y1);
    ScaleToPlotterUnits(&x0, &y0, unit);
    ScaleToPlotterUnits(&x1, &y1, unit);
    return WriteOutputText(file, FormatC("PU%f,%f;PD%f,%f;PD%f,%f;PU%f,%f;", x0, y0, x0, y0, x1, y1, x1, y1));
}

bool CLine::WriteEPS(std::FILE* file, bool widths)
{
    (void)widths;
    const COLORREF color = GetPageColor(*this);
    double x0 = m_Start.x, y0 = m_Start.y, x1 = m_End.x, y1 = m_End.y;
    ConvertToDrawingUnit(*this, &x0, &y0);
    ConvertToDrawingUnit(*this, &x1, &y1);
    return WriteOutputText(file, FormatC("%f %f %f setrgbcolor\n%f %f moveto\n%f %f lineto\n0.1 setlinewidth\nstroke\n",
                                         GetRValue(color) / 255.0, GetGValue(color) / 255.0,
                                         GetBValue(color) / 255.0, x0, y0, x1, y1));
}

bool CLine::WritePDF(CPDFStream* stream, bool widths)
{
    (void)widths;
    SetPdfColor(stream, GetPageColor(*this), false);
    stream->SetLineWidth(0);
    const double s = stream->m_Scale;
    double x0 = m_Start.x, y0 = m_Start.y, x1 = m_End.x, y1 = m_End.y;
    ConvertToDrawingUnit(*this, &x0, &y0);
    ConvertToDrawingUnit(*this, &x1, &y1);
    return stream->MoveTo(s * x0 + stream->m_OriginX, s * y0 + stream->m_OriginY) &&
           stream->LineTo(s * x1 + stream->m_OriginX, s * y1 + stream->m_OriginY) && stream->AppendText("S ");
}
