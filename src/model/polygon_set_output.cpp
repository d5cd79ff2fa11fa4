// The output records of CPolyPolygon: every format fills the outlines as one
// region with the even-odd rule, so holes stay open.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "export/cgm_colors.h"
#include "export/pdf_stream.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/output_records.h"
#include "model/polygon_set.h"
#include "model/utilities.h"
#include "platform/number_text.h"

namespace {

// POLYGON SET in the long form (class 4, element 8) and INTERIOR STYLE.
constexpr unsigned kCgmPolygonSetLong = 0x411F;
constexpr unsigned kCgmInteriorStyle = 0x52C2;
// Edge-out flags of a CGM polygon set point: visible edge, and the visible
// edge that closes an outline.
constexpr unsigned kCgmEdgeVisible = 1;
constexpr unsigned kCgmEdgeCloseVisible = 3;
// Longest data part of one CGM element; longer ones go on in partitions.
constexpr std::size_t kCgmPartitionBytes = 32760;
// Arcs go into the CGM polygon set as chords of at most this angle.
constexpr double kCgmArcStep = PI / 36;

std::vector<const CVertex*> Ring(const CPolyLine& outline)
{
    std::vector<const CVertex*> ring;
    const CVertex* head = outline.GetHead();
    if (head == nullptr)
        return ring;
    const CVertex* v = head;
    do {
        ring.push_back(v);
        v = v->next;
    } while (v != head);
    return ring;
}

// The outlines that have vertices, outer first.
std::vector<std::vector<const CVertex*>> Rings(const CPolyPolygon& set)
{
    std::vector<std::vector<const CVertex*>> rings;
    for (int i = 0; i < set.GetOutlineCount(); ++i) {
        std::vector<const CVertex*> ring = Ring(*set.GetOutline(i));
        if (ring.size() >= 2)
            rings.push_back(std::move(ring));
    }
    return rings;
}

bool HasArc(const std::vector<const CVertex*>& ring)
{
    for (const CVertex* v : ring)
        if (IsArcBulge(v->bulge))
            return true;
    return false;
}

}  // namespace

// ---- DXF --------------------------------------------------------------------

bool CPolyPolygon::WriteDXF2000(std::FILE* file, bool widths, const CDxfNames& names)
{
    const auto rings = Rings(*this);
    if (rings.empty())
        return true;
    if (m_Type == ENTITY_POLYPOLYGON && !WriteOutputText(file, "  0\nHATCH\n"))
        return false;
    if (!CEntity::WriteDXF2000(file, widths, names))
        return false;
    std::string text = "100\nAcDbHatch\n";
    text += " 10\n 0.0\n 20\n 0.0\n  30\n 0.0\n";
    text += " 210\n 0.0\n 220\n 0.0\n  230\n 1.0\n";
    text += "  2\nSOLID\n 70\n1\n 71\n0\n";
    text += FormatC("  91\n%d\n", static_cast<int>(rings.size()));
    for (std::size_t i = 0; i < rings.size(); ++i) {
        const bool arcs = HasArc(rings[i]);
        text += FormatC("  92\n%d\n  72\n%d\n  73\n1\n  93\n%d\n", i == 0 ? 7 : 22, arcs ? 1 : 0,
                        static_cast<int>(rings[i].size()));
        for (const CVertex* v : rings[i]) {
            double x = v->x, y = v->y;
            ConvertToDrawingUnit(*this, &x, &y);
            AppendFixedFormat(text, "  10\n%f\n  20\n%f\n", {x, y});
            if (arcs)
                AppendFixedFormat(text, "  42\n%f\n", {v->bulge});
        }
        text += "  97\n0\n";
    }
    text += " 75\n  0\n 76\n  1\n 47\n  0.0\n";
    double sx = m_SeedPoint.x, sy = m_SeedPoint.y;
    ConvertToDrawingUnit(*this, &sx, &sy);
    text += FormatC("  98\n%d\n", static_cast<int>(rings.size()));
    for (std::size_t i = 0; i < rings.size(); ++i)
        AppendFixedFormat(text, "  10\n%f\n  20\n%f\n", {sx, sy});
    return WriteOutputText(file, text);
}

bool CPolyPolygon::WriteDXFR10(std::FILE* file, bool widths, const CDxfNames& names)
{
    for (const auto& ring : Rings(*this)) {
        if (!WriteOutputText(file, "  0\nPOLYLINE\n"))
            return false;
        if (!CEntity::WriteDXFR10(file, widths, names))
            return false;
        std::string text = "  66\n  1\n  70\n1\n  10\n0.0\n  20\n0.0\n  30\n0.0\n";
        for (const CVertex* v : ring) {
            double x = v->x, y = v->y;
            ConvertToDrawingUnit(*this, &x, &y);
            text += "  0\nVERTEX\n  8\n" + names.layer + "\n";
            AppendFixedFormat(text, "  10\n%f\n  20\n%f\n  30\n0.0\n", {x, y});
            if (IsArcBulge(v->bulge))
                AppendFixedFormat(text, "  42\n%f\n", {v->bulge});
        }
        text += "  0\nSEQEND\n";
        if (!WriteOutputText(file, text))
            return false;
    }
    return true;
}

// ---- SVG --------------------------------------------------------------------

bool CPolyPolygon::WriteSVG(std::FILE* file, double pageHeight, bool widths)
{
    (void)widths;
    const auto rings = Rings(*this);
    if (rings.empty())
        return true;
    auto point = [&](const CVertex& v) { return SvgPointText(*this, pageHeight, v.x, v.y); };
    auto segment = [&](const CVertex& p, const CVertex& q) {
        CBulgeArc arc;
        if (!GetWrittenBulgeArc(p, q, p.bulge, &arc))
            return " L " + point(q);
        const double sweep = SignedBulgeArcSweep(arc.startAngle, arc.endAngle, p.bulge);
        return SvgArcText(*this, pageHeight, arc.centre.x, arc.centre.y, arc.radius, arc.startAngle, sweep,
                          std::fabs(sweep) >= PI ? 1 : 0, q.x, q.y);
    };
    std::string text = "<path d=\"";
    for (std::size_t i = 0; i < rings.size(); ++i) {
        const auto& ring = rings[i];
        text += "M " + point(*ring[0]);
        for (std::size_t k = 1; k < ring.size(); ++k)
            text += segment(*ring[k - 1], *ring[k]);
        CBulgeArc arc;
        if (GetWrittenBulgeArc(*ring.back(), *ring[0], ring.back()->bulge, &arc))
            text += segment(*ring.back(), *ring[0]);
        text += i + 1 < rings.size() ? "Z\n" : "Z\"\n";
    }
    text += "fill-rule=\"evenodd\" fill=\"" + SvgColorText(GetPageColor(*this)) + "\"/>\n";
    return WriteOutputText(file, text);
}

// ---- CGM --------------------------------------------------------------------

bool CPolyPolygon::WriteCGM(std::FILE* file)
{
    const auto rings = Rings(*this);
    if (rings.empty())
        return true;
    // Points with their edge flags; arcs become chords since the element
    // holds only straight edges.
    struct Point {
        double x, y;
        unsigned flag;
    };
    std::vector<Point> points;
    for (const auto& ring : rings) {
        const std::size_t first = points.size();
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const CVertex& p = *ring[k];
            const CVertex& q = *ring[(k + 1) % ring.size()];
            points.push_back({p.x, p.y, kCgmEdgeVisible});
            CBulgeArc arc;
            if (!GetWrittenBulgeArc(p, q, p.bulge, &arc))
                continue;
            const double sweep = SignedBulgeArcSweep(arc.startAngle, arc.endAngle, p.bulge);
            const int pieces = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / kCgmArcStep)));
            for (int j = 1; j < pieces; ++j) {
                const double a = arc.startAngle + sweep * j / pieces;
                points.push_back({arc.centre.x + arc.radius * std::cos(a), arc.centre.y + arc.radius * std::sin(a),
                                  kCgmEdgeVisible});
            }
        }
        if (points.size() > first)
            points.back().flag = kCgmEdgeCloseVisible;
    }
    WriteCgmColors(GetPageColor(*this), file);
    PutCgmWord16(file, kCgmInteriorStyle);
    PutCgmWord16(file, 1);
    PutCgmWord16(file, kCgmPolygonSetLong);
    const std::size_t perPart = kCgmPartitionBytes / 6;
    for (std::size_t at = 0; at < points.size(); at += perPart) {
        const std::size_t n = std::min(perPart, points.size() - at);
        const bool more = at + n < points.size();
        PutCgmWord16(file, static_cast<unsigned>(n * 6) | (more ? 0x8000u : 0u));
        for (std::size_t i = at; i < at + n; ++i) {
            PutCgmPoint(file, points[i].x, points[i].y);
            PutCgmWord16(file, points[i].flag);
        }
    }
    return true;
}

// ---- HP-GL ------------------------------------------------------------------

bool CPolyPolygon::WriteHPGL(std::FILE* file)
{
    const auto rings = Rings(*this);
    if (rings.empty())
        return true;
    auto plot = [&](double x, double y) { return HpglPointText(*this, x, y); };
    std::string text;
    for (std::size_t i = 0; i < rings.size(); ++i) {
        const auto& ring = rings[i];
        const std::string first = plot(ring[0]->x, ring[0]->y);
        text += i == 0 ? "PU" + first + ";FT2;PM0;PD" + first + ";" : "PU" + first + ";PD" + first + ";";
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const CVertex& p = *ring[k];
            const CVertex& q = *ring[(k + 1) % ring.size()];
            CBulgeArc arc;
            if (GetWrittenBulgeArc(p, q, p.bulge, &arc))
                text += "AA " + plot(arc.centre.x, arc.centre.y) +
                        FormatC(",%f;", ToDegrees(SignedBulgeArcSweep(arc.startAngle, arc.endAngle, p.bulge)));
            text += "PA" + plot(q.x, q.y) + ";";
        }
        // A bare pair here would be taken as more of the previous command.
        text += "PA" + first + (i + 1 < rings.size() ? ";PM1;" : ";PM2;");
    }
    text += "FP;\n";
    return WriteOutputText(file, text);
}

// ---- EPS --------------------------------------------------------------------

bool CPolyPolygon::WriteEPS(std::FILE* file, bool widths)
{
    (void)widths;
    const auto rings = Rings(*this);
    if (rings.empty())
        return true;
    std::string text = EpsColorText(GetPageColor(*this)) + "newpath\n";
    for (const auto& ring : rings) {
        const frDoublePoint first = GetPagePoint(*this, ring[0]->x, ring[0]->y);
        text += FormatC("%f %f moveto\n", first.x, first.y);
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const CVertex& p = *ring[k];
            const CVertex& q = *ring[(k + 1) % ring.size()];
            CBulgeArc arc;
            if (GetWrittenBulgeArc(p, q, p.bulge, &arc)) {
                const frDoublePoint c = GetPagePoint(*this, arc.centre.x, arc.centre.y);
                double end = arc.endAngle;
                while (end < arc.startAngle)
                    end += TWO_PI;
                text += FormatC("%f %f %f %f %f %s\n", c.x, c.y, ConvertLengthToDrawingUnit(*this, arc.radius),
                                ToDegrees(arc.startAngle), ToDegrees(end), p.bulge > 0 ? "arc" : "arcn");
            } else {
                const frDoublePoint to = GetPagePoint(*this, q.x, q.y);
                text += FormatC("%f %f lineto\n", to.x, to.y);
            }
        }
        text += "closepath\n";
    }
    text += "eofill\n";
    return WriteOutputText(file, text);
}

// ---- PDF --------------------------------------------------------------------

bool CPolyPolygon::WritePDF(CPDFStream* stream, bool widths)
{
    (void)widths;
    const auto rings = Rings(*this);
    if (rings.empty())
        return true;
    SetPdfColor(stream, GetPageColor(*this), true);
    auto mapped = [&](double x, double y) { return PdfPagePoint(*this, *stream, x, y); };
    bool ok = true;
    auto segment = [&](const CVertex& p, const CVertex& q) {
        CBulgeArc arc;
        if (!GetWrittenBulgeArc(p, q, p.bulge, &arc)) {
            const frDoublePoint pt = mapped(q.x, q.y);
            ok = stream->LineTo(pt.x, pt.y) && ok;
            return;
        }
        ok = AppendPdfBulgeArc(stream, *this, arc, p.bulge) && ok;
    };
    for (const auto& ring : rings) {
        const frDoublePoint first = mapped(ring[0]->x, ring[0]->y);
        ok = stream->MoveTo(first.x, first.y) && ok;
        for (std::size_t k = 1; k < ring.size(); ++k)
            segment(*ring[k - 1], *ring[k]);
        CBulgeArc arc;
        if (GetWrittenBulgeArc(*ring.back(), *ring[0], ring.back()->bulge, &arc))
            segment(*ring.back(), *ring[0]);
        ok = stream->AppendText("h ") && ok;
    }
    return stream->AppendText("B* ") && ok;
}
