// The output records of CCircle and CArc. A wide circle or arc goes into DXF
// as a polyline of half-circle bulges, since CIRCLE and ARC have no width.
#include <cmath>
#include <string>

#include "export/cgm_colors.h"
#include "export/pdf_stream.h"
#include "model/circle.h"
#include "model/constants.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/output_records.h"
#include "model/polyline.h"
#include "model/utilities.h"
#include "platform/number_text.h"

namespace {

constexpr unsigned kCgmInteriorStyle = 0x52C2;
constexpr unsigned kCgmCircle = 0x4186;
// Widths below this are drawn as the thinnest line.
constexpr double kMinWidth = 0.01;

// The sweep of an arc in radians, in [0, TWO_PI).
double ArcSweep(const CArc& arc)
{
    double sweep = arc.m_EndAngle - arc.m_StartAngle;
    while (sweep < 0)
        sweep += TWO_PI;
    return sweep;
}

// The bulge of the arc as one polyline segment; 0 for a zero chord.
double ArcBulge(const CArc& arc)
{
    const double d = std::hypot(arc.m_EndPoint.x - arc.m_StartPoint.x, arc.m_EndPoint.y - arc.m_StartPoint.y);
    if (d <= 0)
        return 0;
    const double mx = (arc.m_StartPoint.x + arc.m_EndPoint.x) / 2, my = (arc.m_StartPoint.y + arc.m_EndPoint.y) / 2;
    const double off = std::hypot(mx - arc.m_Centre.x, my - arc.m_Centre.y);
    const double h = ArcSweep(arc) <= PI ? arc.m_Radius - off : arc.m_Radius + off;
    return 2 * h / d;
}

std::string Point(const CEntity& entity, double x, double y)
{
    ConvertToDrawingUnit(entity, &x, &y);
    std::string text;
    AppendFixedFormat(text, "  10\n%f\n  20\n%f\n", {x, y});
    return text;
}

// Common groups and the circle's own groups, after the record name.
bool WriteCircleGroups(CCircle& circle, std::FILE* file, bool widths, const CDxfNames& names, bool r2000)
{
    const bool common =
        r2000 ? circle.CEntity::WriteDXF2000(file, widths, names) : circle.CEntity::WriteDXFR10(file, widths, names);
    if (!common)
        return false;
    std::string text = r2000 ? "100\nAcDbCircle\n" : "";
    text += Point(circle, circle.m_Centre.x, circle.m_Centre.y);
    AppendFixedFormat(text, "  40\n%f\n", {ConvertLengthToDrawingUnit(circle, circle.m_Radius)});
    return WriteOutputText(file, text);
}

double PlotLength(const CEntity& entity, double length)
{
    const CGraph* graph = entity.GetGraph();
    double x = ConvertLengthToDrawingUnit(entity, length), y = 0;
    ScaleToPlotterUnits(&x, &y, graph ? static_cast<int>(graph->GetUnit()) : kUnitPixel);
    return x;
}

std::string SvgStroke(const CEntity& entity, bool widths)
{
    const std::string color = SvgColorText(GetPageColor(entity));
    const double w = ConvertLengthToDrawingUnit(entity, entity.GetWidth());
    return "fill=\"none\" stroke=\"" + color + "\" stroke-width=\"" + SvgStrokeWidthText(widths ? w : 0.0) + "\" />\n";
}

std::string EpsHead(const CEntity& entity) { return EpsColorText(GetPageColor(entity)) + "newpath\n"; }

std::string EpsTail(const CEntity& entity, bool widths)
{
    const double w = widths ? ConvertLengthToDrawingUnit(entity, entity.GetWidth()) : 0.0;
    return FormatC("%f setlinewidth\nstroke\n", GetStrokeWidth(w));
}

// Width, colour and the mapped centre and radius of a PDF record.
struct PdfCircle {
    double x, y, r;
};

PdfCircle PreparePdf(const CCircle& circle, CPDFStream* stream, bool widths)
{
    const double s = stream->m_Scale;
    if (widths)
        stream->SetLineWidth(s * ConvertLengthToDrawingUnit(circle, circle.GetWidth()));
    const frDoublePoint c = PdfPagePoint(circle, *stream, circle.m_Centre.x, circle.m_Centre.y);
    SetPdfColor(stream, GetPageColor(circle), false);
    return {c.x, c.y, s * ConvertLengthToDrawingUnit(circle, circle.m_Radius)};
}

}  // namespace

// ---- CCircle ----------------------------------------------------------------

bool CCircle::WriteDXF2000(std::FILE* file, bool widths, const CDxfNames& names)
{
    if (widths && GetWidth() > 0) {
        if (!WriteOutputText(file, "  0\nLWPOLYLINE\n"))
            return false;
        if (!CEntity::WriteDXF2000(file, widths, names))
            return false;
        std::string text = "100\nAcDbPolyline\n  90\n  2\n  70\n1\n";
        AppendFixedFormat(text, "  43\n  %f\n", {ConvertLengthToDrawingUnit(*this, GetWidth())});
        text += Point(*this, m_Centre.x + m_Radius, m_Centre.y) + "  42\n  1.0\n";
        text += Point(*this, m_Centre.x - m_Radius, m_Centre.y) + "  42\n  1.0\n";
        return WriteOutputText(file, text);
    }
    if (m_Type == ENTITY_CIRCLE && !WriteOutputText(file, "  0\nCIRCLE\n"))
        return false;
    return WriteCircleGroups(*this, file, widths, names, true);
}

bool CCircle::WriteDXFR10(std::FILE* file, bool widths, const CDxfNames& names)
{
    if (widths && GetWidth() > 0) {
        if (!WriteOutputText(file, "  0\nPOLYLINE\n"))
            return false;
        if (!CEntity::WriteDXFR10(file, widths, names))
            return false;
        const double w = ConvertLengthToDrawingUnit(*this, GetWidth());
        std::string text;
        AppendFixedFormat(text, "  66\n  1\n  70\n1\n  10\n0.0\n  20\n0.0\n  30\n0.0\n  40\n  %f\n", {w});
        for (const double dx : {m_Radius, -m_Radius}) {
            text += "  0\nVERTEX\n  8\n" + names.layer + "\n" + Point(*this, m_Centre.x + dx, m_Centre.y);
            AppendFixedFormat(text, "  40\n%f\n  41\n%f\n  42\n  1.0\n", {w, w});
        }
        text += "  0\nSEQEND\n";
        return WriteOutputText(file, text);
    }
    if (m_Type == ENTITY_CIRCLE && !WriteOutputText(file, "  0\nCIRCLE\n"))
        return false;
    return WriteCircleGroups(*this, file, widths, names, false);
}

bool CCircle::WriteSVG(std::FILE* file, double pageHeight, bool widths)
{
    const frDoublePoint c = SvgPagePoint(*this, pageHeight, m_Centre.x, m_Centre.y);
    return WriteOutputText(file, FormatC("<circle cx=\"%-.3f\" cy=\"%-.3f\" r=\"%-.3f\"\n", c.x, c.y,
                                         ConvertLengthToDrawingUnit(*this, m_Radius)) +
                                     SvgStroke(*this, widths));
}

bool CCircle::WriteCGM(std::FILE* file)
{
    WriteCgmColors(GetPageColor(*this), file);
    PutCgmWord16(file, kCgmInteriorStyle);
    PutCgmWord16(file, 0);
    PutCgmWord16(file, kCgmCircle);
    PutCgmPoint(file, m_Centre.x, m_Centre.y);
    PutCgmLength(file, m_Radius);
    return true;
}

bool CCircle::WriteHPGL(std::FILE* file)
{
    const std::string c = HpglPointText(*this, m_Centre.x, m_Centre.y);
    return WriteOutputText(file, "PU" + c + ";PD" + c + ";" + FormatC("CI %f;", PlotLength(*this, m_Radius)));
}

bool CCircle::WriteEPS(std::FILE* file, bool widths)
{
    const frDoublePoint c = GetPagePoint(*this, m_Centre.x, m_Centre.y);
    return WriteOutputText(
        file, EpsHead(*this) +
                  FormatC("%f %f %f 0.0 360.0 arc\n", c.x, c.y, ConvertLengthToDrawingUnit(*this, m_Radius)) +
                  EpsTail(*this, widths));
}

bool CCircle::WritePDF(CPDFStream* stream, bool widths)
{
    const PdfCircle c = PreparePdf(*this, stream, widths);
    return stream->Circle(c.x, c.y, c.r);
}

// ---- CArc -------------------------------------------------------------------

bool CArc::WriteDXF2000(std::FILE* file, bool widths, const CDxfNames& names)
{
    UpdateEndPoints();
    if (widths && GetWidth() >= kMinWidth) {
        if (!WriteOutputText(file, "  0\nLWPOLYLINE\n"))
            return false;
        if (!CEntity::WriteDXF2000(file, widths, names))
            return false;
        std::string text = "100\nAcDbPolyline\n  90\n  2\n  70\n0\n";
        AppendFixedFormat(text, "  43\n  %f\n", {ConvertLengthToDrawingUnit(*this, GetWidth())});
        text += Point(*this, m_StartPoint.x, m_StartPoint.y);
        const double bulge = ArcBulge(*this);
        if (bulge != 0)
            AppendFixedFormat(text, "  42\n%f\n", {bulge});
        text += Point(*this, m_EndPoint.x, m_EndPoint.y);
        return WriteOutputText(file, text);
    }
    if (m_Type == ENTITY_ARC && !WriteOutputText(file, "  0\nARC\n"))
        return false;
    if (!WriteCircleGroups(*this, file, widths, names, true))
        return false;
    std::string text;
    AppendFixedFormat(text, "100\nAcDbArc\n  50\n%f\n  51\n%f\n", {ToDegrees(m_StartAngle), ToDegrees(m_EndAngle)});
    return WriteOutputText(file, text);
}

bool CArc::WriteDXFR10(std::FILE* file, bool widths, const CDxfNames& names)
{
    UpdateEndPoints();
    if (widths && GetWidth() > 0) {
        if (!WriteOutputText(file, "  0\nPOLYLINE\n"))
            return false;
        if (!CEntity::WriteDXFR10(file, widths, names))
            return false;
        const double w = ConvertLengthToDrawingUnit(*this, GetWidth());
        const double bulge = ArcBulge(*this);
        std::string text;
        AppendFixedFormat(text, "  66\n  1\n  70\n0\n  10\n0.0\n  20\n0.0\n  30\n0.0\n  40\n  %f\n", {w});
        for (const frDoublePoint& p : {m_StartPoint, m_EndPoint}) {
            text += "  0\nVERTEX\n  8\n" + names.layer + "\n" + Point(*this, p.x, p.y);
            AppendFixedFormat(text, "  40\n%f\n  41\n%f\n", {w, w});
            if (bulge != 0)
                AppendFixedFormat(text, "  42\n%f\n", {bulge});
        }
        text += "  0\nSEQEND\n";
        return WriteOutputText(file, text);
    }
    if (m_Type == ENTITY_ARC && !WriteOutputText(file, "  0\nARC\n"))
        return false;
    if (!WriteCircleGroups(*this, file, widths, names, false))
        return false;
    std::string text;
    AppendFixedFormat(text, "  50\n%f\n  51\n%f\n", {ToDegrees(m_StartAngle), ToDegrees(m_EndAngle)});
    return WriteOutputText(file, text);
}

bool CArc::WriteSVG(std::FILE* file, double pageHeight, bool widths)
{
    UpdateEndPoints();
    const double sweep = ArcSweep(*this);
    return WriteOutputText(file, "<path d=\"M " + SvgPointText(*this, pageHeight, m_StartPoint.x, m_StartPoint.y) +
                                     SvgArcText(*this, pageHeight, m_Centre.x, m_Centre.y, m_Radius, m_StartAngle,
                                                sweep, sweep > PI ? 1 : 0, m_EndPoint.x, m_EndPoint.y) +
                                     "\"\n" + SvgStroke(*this, widths));
}

bool CArc::WriteCGM(std::FILE* file)
{
    UpdateEndPoints();
    WriteCgmColors(GetPageColor(*this), file);
    const double sweep = m_EndAngle - m_StartAngle, length = m_Radius * GetOutputPage().scale;
    if (!IsCgmArcChord(m_Centre.x, m_Centre.y, m_Radius, m_StartAngle, sweep, length)) {
        PutCgmArc(file, m_Centre.x, m_Centre.y, m_Radius, m_StartAngle, sweep, length);
    } else if (!CgmPointsMeet(m_StartPoint.x, m_StartPoint.y, m_EndPoint.x, m_EndPoint.y)) {
        const frDoublePoint chord[2] = {m_StartPoint, m_EndPoint};
        WriteCgmPolyline(chord, 2, file);
    }
    return true;
}

bool CArc::WriteHPGL(std::FILE* file)
{
    UpdateEndPoints();
    const std::string s = HpglPointText(*this, m_StartPoint.x, m_StartPoint.y);
    return WriteOutputText(file, "PU" + s + ";PD" + s + ";AA " + HpglPointText(*this, m_Centre.x, m_Centre.y) +
                                     FormatC(",%f;", ToDegrees(ArcSweep(*this))));
}

bool CArc::WriteEPS(std::FILE* file, bool widths)
{
    const frDoublePoint c = GetPagePoint(*this, m_Centre.x, m_Centre.y);
    double end = m_EndAngle;
    while (end < m_StartAngle)
        end += TWO_PI;
    return WriteOutputText(file,
                           EpsHead(*this) +
                               FormatC("%f %f %f %f %f arc\n", c.x, c.y, ConvertLengthToDrawingUnit(*this, m_Radius),
                                       ToDegrees(m_StartAngle), ToDegrees(end)) +
                               EpsTail(*this, widths));
}

bool CArc::WritePDF(CPDFStream* stream, bool widths)
{
    const PdfCircle c = PreparePdf(*this, stream, widths);
    const double start = ToDegrees(m_StartAngle);
    // A record starts a new subpath; a line to the start would draw from
    // wherever the previous entity ended.
    return stream->Arc(c.x, c.y, c.r, start, start + ToDegrees(ArcSweep(*this)), true) && stream->AppendBytes("S ", 2);
}
