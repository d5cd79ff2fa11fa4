// The output records of CPolyLine: DXF 2000 and R10, SVG, CGM, HP-GL, EPS
// and PDF. The export writes each format's framing and calls these once per
// entity.
//
// Every coordinate and length except CGM's is converted from raster pixels to
// the drawing unit through the drawing that owns the polyline's layer (none:
// left in pixels). Numbers are formatted in the C locale whatever the
// process locale is, and each record is built in memory and written at once
// (a DXF 2000 polyline in pieces), so a failed write is seen on the record.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "export/cgm_colors.h"
#include "export/pdf_stream.h"
#include "model/color_index.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/output_records.h"
#include "model/polyline.h"
#include "model/utilities.h"
#include "platform/number_text.h"

namespace {

// CGM POLYLINE in the long form (class 4, element 1).
constexpr unsigned kCgmPolylineLong = 0x403F;
// Length of the start and end vectors of a CGM arc.
constexpr double kCgmArcVector = 100.0;
// Widths closer than this continue one path.
constexpr double kWidthStep = 0.01;
// A DXF vertex's usual length ("  10\n", six decimals, twice) and that of
// its two widths.
constexpr std::size_t kDxfVertexBytes = 40;
constexpr std::size_t kDxfWidthsBytes = 32;
// A DXF 2000 polyline's vertices are written a piece of about this size at a
// time, in one small block: the row-band pool formats records, and a pool
// thread's first request for a block of a kilobyte or more makes the
// allocator sweep every small block (vertices) that thread freed before,
// which on a traced page costs more than the formatting.
constexpr std::size_t kDxfPieceBytes = 768;

int CountVertices(const CVertex* head)
{
    int count = 0;
    if (head == nullptr)
        return 0;
    const CVertex* v = head;
    do {
        ++count;
        v = v->next;
    } while (v != head);
    return count;
}

// The vertices of the SVG and PDF walk: head to tail, and the head again for
// a closed polyline.
std::vector<const CVertex*> WalkVertices(const CVertex* head, bool closed)
{
    std::vector<const CVertex*> walk;
    const CVertex* v = head;
    do {
        walk.push_back(v);
        v = v->next;
    } while (v != head);
    if (closed)
        walk.push_back(head);
    return walk;
}

std::string SvgPathEnd(const std::string& color, const std::string& width)
{
    return "\"\nfill=\"none\" stroke=\"" + color + "\" stroke-width=\"" + width + "\" />\n";
}

// Appends the groups that follow a DXF vertex's point: the start width as
// both widths when asked, and the bulge of an arc segment. In place, with no
// string of its own: a page writes hundreds of thousands of vertices.
void AppendDxfVertexTail(std::string& text, const CPolyLine& polyline, const CVertex& v, bool widths)
{
    if (widths) {
        const double w = ConvertLengthToDrawingUnit(polyline, v.startWidth);
        AppendFixedFormat(text, "  40\n%f\n  41\n%f\n", {w, w});
    }
    if (IsArcBulge(v.bulge))
        AppendFixedFormat(text, "  42\n%f\n", {v.bulge});
}

}  // namespace

// ---- DXF --------------------------------------------------------------------

bool CPolyLine::WriteDXF2000(std::FILE* file, bool widths, const CDxfNames& names)
{
    const int count = CountVertices(m_Head);
    if (count < 2)
        return true;
    if (m_Type == ENTITY_POLYLINE && !WriteOutputText(file, "  0\nLWPOLYLINE\n"))
        return false;
    if (!CEntity::WriteDXF2000(file, widths, names))
        return false;
    std::string text =
        "100\nAcDbPolyline\n  90\n  " + std::to_string(count) + (m_Closed ? "\n  70\n1\n" : "\n  70\n0\n");
    text.reserve(kDxfPieceBytes + kDxfVertexBytes + kDxfWidthsBytes);
    const CVertex* v = m_Head;
    do {
        double x = v->x, y = v->y;
        ConvertToDrawingUnit(*this, &x, &y);
        AppendFixedFormat(text, "  10\n%f\n  20\n%f\n", {x, y});
        AppendDxfVertexTail(text, *this, *v, widths);
        if (text.size() >= kDxfPieceBytes) {
            if (!WriteOutputText(file, text))
                return false;
            text.clear();
        }
        v = v->next;
    } while (v != m_Head);
    return WriteOutputText(file, text);
}

bool CPolyLine::WriteDXFR10(std::FILE* file, bool widths, const CDxfNames& names)
{
    if (CountVertices(m_Head) < 2)
        return true;
    if (m_Type == ENTITY_POLYLINE && !WriteOutputText(file, "  0\nPOLYLINE\n"))
        return false;
    if (!CEntity::WriteDXFR10(file, widths, names))
        return false;
    std::string text = FormatC("  66\n  1\n  70\n%d\n  10\n0.0\n  20\n0.0\n  30\n0.0\n", m_Closed ? 1 : 0);
    const CVertex* v = m_Head;
    do {
        double x = v->x, y = v->y;
        ConvertToDrawingUnit(*this, &x, &y);
        text += "  0\nVERTEX\n  8\n" + names.layer + "\n";
        AppendFixedFormat(text, "  10\n%f\n  20\n%f\n  30\n0.0\n", {x, y});
        AppendDxfVertexTail(text, *this, *v, widths);
        v = v->next;
    } while (v != m_Head);
    text += "  0\nSEQEND\n";
    return WriteOutputText(file, text);
}

// ---- SVG --------------------------------------------------------------------

bool CPolyLine::WriteSVG(std::FILE* file, double pageHeight, bool widths)
{
    if (CountVertices(m_Head) < 2)
        return true;
    const std::string color = SvgColorText(GetPageColor(*this));
    auto point = [&](const CVertex& v) { return SvgPointText(*this, pageHeight, v.x, v.y); };
    const std::vector<const CVertex*> walk = WalkVertices(m_Head, m_Closed);
    std::string text = "<path d=\"M " + point(*walk[0]);
    double current = widths ? ConvertLengthToDrawingUnit(*this, walk[0]->startWidth) : 0.0;
    bool open = true;
    for (std::size_t i = 1; i < walk.size(); ++i) {
        const CVertex& v = *walk[i];
        const CVertex& p = *v.prev;
        CBulgeArc arc;
        if (GetWrittenBulgeArc(p, v, p.bulge, &arc)) {
            const double sweep = SignedBulgeArcSweep(arc.startAngle, arc.endAngle, p.bulge);
            text += SvgArcText(*this, pageHeight, arc.centre.x, arc.centre.y, arc.radius, arc.startAngle, sweep,
                               std::fabs(sweep) > PI ? 1 : 0, v.x, v.y);
        } else {
            text += " L " + point(v);
        }
        if (!widths)
            continue;
        const double w = ConvertLengthToDrawingUnit(*this, v.startWidth);
        if (std::fabs(w - current) > kWidthStep) {
            text += SvgPathEnd(color, SvgStrokeWidthText(current));
            open = false;
            if (i + 1 < walk.size()) {
                text += "<path d=\"M " + point(v);
                open = true;
            }
        }
        current = w;
    }
    if (open) {
        text += SvgPathEnd(color, SvgStrokeWidthText(widths ? current : 0.0));
    }
    return WriteOutputText(file, text);
}

// ---- CGM --------------------------------------------------------------------

void WriteCgmPolyline(const frDoublePoint* points, int count, std::FILE* file)
{
    int first = 0;
    while (count - first >= 2) {
        // A run longer than one element holds continues from its last point.
        const int n = std::min(count - first, CGM_MAX_POLYLINE_POINTS);
        PutCgmWord16(file, kCgmPolylineLong);
        PutCgmWord16(file, static_cast<unsigned>(n) * 4);
        for (int i = first; i < first + n; ++i)
            PutCgmPoint(file, points[i].x, points[i].y);
        first += n - 1;
    }
}

bool CPolyLine::WriteCGM(std::FILE* file)
{
    const int count = CountVertices(m_Head);
    if (count < 2)
        return true;
    WriteCgmColors(GetPageColor(*this), file);
    std::vector<frDoublePoint> buffer;
    buffer.reserve(static_cast<std::size_t>(count) + 2);
    auto flush = [&] {
        WriteCgmPolyline(buffer.data(), static_cast<int>(buffer.size()), file);
        buffer.clear();
    };
    // Open: the segments that leave head .. tail->prev; closed: all of them.
    const CVertex* stop = m_Closed ? m_Head : m_Head->prev;
    const CVertex* v = m_Head;
    do {
        CBulgeArc arc;
        const bool curved = GetWrittenBulgeArc(*v, *v->next, v->bulge, &arc);
        // CGM arcs run counter-clockwise: a clockwise one from its end.
        const double a = v->bulge > 0 ? arc.startAngle : arc.endAngle;
        const double sweep = curved ? BulgeArcSweep(arc.startAngle, arc.endAngle, v->bulge) : 0.0;
        if (!curved || IsCgmArcChord(arc.centre.x, arc.centre.y, arc.radius, a, sweep, kCgmArcVector)) {
            buffer.emplace_back(v->x, v->y);
        } else {
            if (!buffer.empty()) {
                buffer.emplace_back(v->x, v->y);
                flush();
            }
            PutCgmArc(file, arc.centre.x, arc.centre.y, arc.radius, a, sweep, kCgmArcVector);
        }
        v = v->next;
    } while (v != stop);
    if (!buffer.empty()) {
        buffer.emplace_back(stop->x, stop->y);
        flush();
    }
    return true;
}

// ---- HP-GL ------------------------------------------------------------------

bool CPolyLine::WriteHPGL(std::FILE* file)
{
    if (CountVertices(m_Head) < 2)
        return true;
    auto plot = [&](double x, double y) { return HpglPointText(*this, x, y); };
    const std::string first = plot(m_Head->x, m_Head->y);
    std::string text = "PU" + first + ";PD" + first + ";";
    const CVertex* stop = m_Closed ? m_Head : m_Head->prev;
    const CVertex* v = m_Head;
    do {
        const CVertex& q = *v->next;
        CBulgeArc arc;
        if (GetWrittenBulgeArc(*v, q, v->bulge, &arc)) {
            const double sweep = SignedBulgeArcSweep(arc.startAngle, arc.endAngle, v->bulge);
            text += "AA " + plot(arc.centre.x, arc.centre.y) + FormatC(",%f;", ToDegrees(sweep));
        }
        text += "PA" + plot(q.x, q.y) + ";";
        v = v->next;
    } while (v != stop);
    return WriteOutputText(file, text);
}

// ---- EPS --------------------------------------------------------------------

bool CPolyLine::WriteEPS(std::FILE* file, bool widths)
{
    if (CountVertices(m_Head) < 2)
        return true;
    std::string text = EpsColorText(GetPageColor(*this));
    const CVertex* stop = m_Closed ? m_Head : m_Head->prev;
    const CVertex* v = m_Head;
    do {
        const CVertex& q = *v->next;
        text += "newpath\n";
        const double w = GetStrokeWidth(widths ? ConvertLengthToDrawingUnit(*this, v->startWidth) : 0.0);
        CBulgeArc arc;
        if (GetWrittenBulgeArc(*v, q, v->bulge, &arc)) {
            const frDoublePoint c = GetPagePoint(*this, arc.centre.x, arc.centre.y);
            // PostScript's arc runs counter-clockwise from the first angle.
            double a = ToDegrees(arc.startAngle), b = ToDegrees(arc.endAngle);
            if (v->bulge < 0)
                std::swap(a, b);
            while (b < a)
                b += 360.0;
            text += FormatC("%f %f %f %f %f arc\n", c.x, c.y, ConvertLengthToDrawingUnit(*this, arc.radius), a, b);
        } else {
            const frDoublePoint s = GetPagePoint(*this, v->x, v->y), e = GetPagePoint(*this, q.x, q.y);
            text += FormatC("%f %f moveto\n%f %f lineto\n", s.x, s.y, e.x, e.y);
        }
        text += FormatC("%f setlinewidth\nstroke\n", w);
        v = v->next;
    } while (v != stop);
    return WriteOutputText(file, text);
}

// ---- PDF --------------------------------------------------------------------

bool CPolyLine::WritePDF(CPDFStream* stream, bool widths)
{
    if (CountVertices(m_Head) < 2)
        return true;
    const double s = stream->m_Scale;
    auto mapped = [&](double x, double y) { return PdfPagePoint(*this, *stream, x, y); };
    SetPdfColor(stream, GetPageColor(*this), false);

    const std::vector<const CVertex*> walk = WalkVertices(m_Head, m_Closed);
    double current = ConvertLengthToDrawingUnit(*this, walk[0]->startWidth);
    if (widths)
        stream->SetLineWidth(s * current);
    frDoublePoint pt = mapped(walk[0]->x, walk[0]->y);
    stream->MoveTo(pt.x, pt.y);
    for (std::size_t i = 1; i < walk.size(); ++i) {
        const CVertex& v = *walk[i];
        const CVertex& p = *v.prev;
        pt = mapped(v.x, v.y);
        CBulgeArc arc;
        if (GetWrittenBulgeArc(p, v, p.bulge, &arc)) {
            AppendPdfBulgeArc(stream, *this, arc, p.bulge);
        } else {
            stream->LineTo(pt.x, pt.y);
        }
        if (!widths)
            continue;
        const double w = ConvertLengthToDrawingUnit(*this, v.startWidth);
        if (std::fabs(w - current) > kWidthStep) {
            stream->AppendText("S ");
            if (i + 1 == walk.size())
                return true;
            stream->SetLineWidth(s * w);
            stream->MoveTo(pt.x, pt.y);
        }
        current = w;
    }
    stream->AppendText("S ");
    return true;
}
