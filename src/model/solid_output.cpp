// The output records of CSolid. DXF corners run 1, 2, 4, 3, so a
// four-corner ring is written with its last two corners exchanged.
#include <string>

#include "export/cgm_colors.h"
#include "export/pdf_stream.h"
#include "model/graph.h"
#include "model/output_records.h"
#include "model/solid.h"
#include "model/utilities.h"
#include "platform/number_text.h"

namespace {

constexpr unsigned kCgmInteriorStyle = 0x52C2;
constexpr unsigned kCgmPolygonLong = 0x40FF;

// The corners in DXF order, converted; the third repeated for a triangle.
std::string SolidDxfCorners(const CSolid& solid)
{
    const int n = solid.GetPointCount();
    static const int kOrder4[4] = {0, 1, 3, 2};
    static const int kOrder3[4] = {0, 1, 2, 2};
    const int* order = n == 4 ? kOrder4 : kOrder3;
    std::string text;
    for (int k = 0; k < 4; ++k) {
        const CVertex* v = solid.GetVertex(order[k]);
        double x = v->x, y = v->y;
        ConvertToDrawingUnit(solid, &x, &y);
        text += "  " + std::to_string(10 + k) + "\n";
        AppendFixed6(text, x);
        text += "\n  " + std::to_string(20 + k) + "\n";
        AppendFixed6(text, y);
        text += '\n';
    }
    return text;
}

bool IsWritable(const CSolid& solid) { return solid.GetPointCount() >= 3; }

}  // namespace

bool CSolid::WriteDXF2000(std::FILE* file, bool widths, const CDxfNames& names)
{
    if (!IsWritable(*this))
        return true;
    if (m_Type == ENTITY_SOLID && !WriteOutputText(file, "  0\nSOLID\n"))
        return false;
    if (!CEntity::WriteDXF2000(file, widths, names))
        return false;
    return WriteOutputText(file, "100\nAcDbTrace\n" + SolidDxfCorners(*this));
}

bool CSolid::WriteDXFR10(std::FILE* file, bool widths, const CDxfNames& names)
{
    if (!IsWritable(*this))
        return true;
    if (m_Type == ENTITY_SOLID && !WriteOutputText(file, "  0\nSOLID\n"))
        return false;
    if (!CEntity::WriteDXFR10(file, widths, names))
        return false;
    return WriteOutputText(file, SolidDxfCorners(*this));
}

bool CSolid::WriteSVG(std::FILE* file, double pageHeight, bool widths)
{
    (void)widths;
    if (!IsWritable(*this))
        return true;
    auto point = [&](int i) { return " " + SvgPointText(*this, pageHeight, m_Vertices[i].x, m_Vertices[i].y); };
    std::string text = "<path d=\"M" + point(0) + " L";
    for (int i = 1; i < m_Count; ++i)
        text += point(i);
    text += point(0);
    // The filled shape and nothing more: an outline in SVG's default width
    // of one unit would swell it, and flood a drawing a few units wide.
    text += "\"\nfill=\"" + SvgColorText(GetPageColor(*this)) + "\" stroke=\"none\" />\n";
    return WriteOutputText(file, text);
}

bool CSolid::WriteCGM(std::FILE* file)
{
    if (!IsWritable(*this))
        return true;
    WriteCgmColors(GetPageColor(*this), file);
    PutCgmWord16(file, kCgmInteriorStyle);
    PutCgmWord16(file, 1);
    PutCgmWord16(file, kCgmPolygonLong);
    PutCgmWord16(file, static_cast<unsigned>(4 * m_Count));
    for (int k = 1; k <= m_Count; ++k) {
        const CVertex& v = m_Vertices[k % m_Count];
        PutCgmPoint(file, v.x, v.y);
    }
    return true;
}

bool CSolid::WriteHPGL(std::FILE* file)
{
    if (!IsWritable(*this))
        return true;
    const std::string first = HpglPointText(*this, m_Vertices[0].x, m_Vertices[0].y);
    std::string text = "PU" + first + ";PD" + first + ";FT2;PM0;";
    for (int i = 1; i < m_Count; ++i)
        text += "PA" + HpglPointText(*this, m_Vertices[i].x, m_Vertices[i].y) + ";";
    text += "PM2;FP;";
    return WriteOutputText(file, text);
}

bool CSolid::WriteEPS(std::FILE* file, bool widths)
{
    (void)widths;
    if (!IsWritable(*this))
        return true;
    std::string text = EpsColorText(GetPageColor(*this)) + "newpath\n";
    for (int i = 0; i < m_Count; ++i) {
        const frDoublePoint p = GetPagePoint(*this, m_Vertices[i].x, m_Vertices[i].y);
        text += FormatC(i == 0 ? "%f %f moveto\n" : "%f %f lineto\n", p.x, p.y);
    }
    text += "0.001 setlinewidth\nfill\n";
    return WriteOutputText(file, text);
}

bool CSolid::WritePDF(CPDFStream* stream, bool widths)
{
    (void)widths;
    if (!IsWritable(*this))
        return true;
    SetPdfColor(stream, GetPageColor(*this), true);
    stream->SetLineWidth(0);
    bool ok = true;
    for (int k = 0; k <= m_Count; ++k) {
        const frDoublePoint p = PdfPagePoint(*this, *stream, m_Vertices[k % m_Count].x, m_Vertices[k % m_Count].y);
        ok = (k == 0 ? stream->MoveTo(p.x, p.y) : stream->LineTo(p.x, p.y)) && ok;
    }
    return stream->AppendText("b ") && ok;
}
