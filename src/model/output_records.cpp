// The helpers every entity's output records share.
#include "model/output_records.h"

#include <algorithm>
#include <cmath>

#include "export/pdf_stream.h"
#include "model/color_index.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/utilities.h"
#include "platform/number_text.h"

namespace {

// Narrower strokes are drawn as the page's hairline.
constexpr double kThinnestStroke = 0.01;
// The hairline's part of the page's larger side.
constexpr double kHairlinePerPageSide = 1.0 / 1000.0;
// The largest CGM coordinate; CIRCULAR ARC 3 POINT (class 4, element 13,
// 12 bytes) and CIRCULAR ARC CENTRE (class 4, element 15, 14 bytes).
constexpr double kCgmCoordinateLimit = 32767.0;
constexpr unsigned kCgmArc3Point = 0x41AC;
constexpr unsigned kCgmArcCentre = 0x41EE;
// The vectors of each half of a nearly closed arc are at least this long:
// ones a quarter turn or more apart then always differ.
constexpr double kCgmShortestHalfVector = 16.0;
// Cut to integers, the rays of an arc a few units wide turn by far less
// than this; rays that meet or pass each other are off by nearly a turn.
constexpr double kWrittenSweepSlack = HALF_PI;

double CgmRounded(double value) { return std::floor(value + 0.5); }
// An SVG arc sweeping more than this has its ends within one radius of each
// other, and is written in two halves.
constexpr double kSvgHalvedSweep = 5 * PI / 3;

}  // namespace

COLORREF GetPageColor(const CEntity& entity)
{
    const int index = entity.GetDrawColorIndex();
    if (index == kColorWhite)
        return RGB(0, 0, 0);
    return ColorIndexToRGB(index, nullptr, true);
}

void ConvertToDrawingUnit(const CEntity& entity, double* x, double* y)
{
    if (const CGraph* graph = entity.GetGraph())
        graph->GetPixelsPerUnit(x, y, nullptr);
}

double ConvertLengthToDrawingUnit(const CEntity& entity, double length)
{
    if (const CGraph* graph = entity.GetGraph())
        graph->GetPixelsPerUnit(&length, nullptr, nullptr);
    return length;
}

bool WriteOutputText(std::FILE* file, const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

std::string SvgColorText(COLORREF color)
{
    // Lower case: Qt's SVG renderer takes no other, and draws nothing.
    return FormatC("rgb(%d,%d,%d)", GetRValue(color), GetGValue(color), GetBValue(color));
}

std::string SvgStrokeWidthText(double width)
{
    if (width >= kThinnestStroke)
        return FormatC("%-.3f", width);
    return FormatC("%.6g", GetOutputPage().hairline);
}

double GetStrokeWidth(double width) { return width >= kThinnestStroke ? width : GetOutputPage().hairline; }

std::string EpsColorText(COLORREF color)
{
    return FormatC("%f %f %f setrgbcolor\n", GetRValue(color) / 255.0, GetGValue(color) / 255.0,
                   GetBValue(color) / 255.0);
}

std::string HpglPointText(const CEntity& entity, double x, double y)
{
    const CGraph* graph = entity.GetGraph();
    ConvertToDrawingUnit(entity, &x, &y);
    ScaleToPlotterUnits(&x, &y, graph ? static_cast<int>(graph->GetUnit()) : kUnitPixel);
    return FormatC("%f,%f", x, y);
}

frDoublePoint GetPagePoint(const CEntity& entity, double x, double y)
{
    ConvertToDrawingUnit(entity, &x, &y);
    const COutputPage& page = GetOutputPage();
    return {x - page.cornerX, y - page.cornerY};
}

frDoublePoint SvgPagePoint(const CEntity& entity, double pageHeight, double x, double y)
{
    // y is flipped in raster pixels, where the page height is given; the
    // difference is small whatever the drawing's place.
    return {GetPagePoint(entity, x, y).x, ConvertLengthToDrawingUnit(entity, pageHeight - y)};
}

std::string SvgPointText(const CEntity& entity, double pageHeight, double x, double y)
{
    const frDoublePoint p = SvgPagePoint(entity, pageHeight, x, y);
    return FormatC("%-.3f,%-.3f", p.x, p.y);
}

std::string SvgArcText(const CEntity& entity, double pageHeight, double cx, double cy, double radius, double startAngle,
                       double sweep, int large, double x, double y)
{
    const double r = ConvertLengthToDrawingUnit(entity, radius);
    // Counter-clockwise in the drawing is SVG's negative sweep (y runs down).
    const int direction = sweep > 0 ? 0 : 1;
    std::string text;
    if (std::fabs(sweep) > kSvgHalvedSweep) {
        const double middle = startAngle + sweep / 2;
        text = FormatC(" A %-.3f,%-.3f 0 0,%d ", r, r, direction) +
               SvgPointText(entity, pageHeight, cx + radius * std::cos(middle), cy + radius * std::sin(middle));
        large = 0;
    }
    return text + FormatC(" A %-.3f,%-.3f 0 %d,%d ", r, r, large, direction) + SvgPointText(entity, pageHeight, x, y);
}

frDoublePoint PdfPagePoint(const CEntity& entity, const CPDFStream& stream, double x, double y)
{
    const frDoublePoint p = GetPagePoint(entity, x, y);
    return {stream.m_Scale * p.x + stream.m_OriginX, stream.m_Scale * p.y + stream.m_OriginY};
}

bool AppendPdfBulgeArc(CPDFStream* stream, const CEntity& entity, const CBulgeArc& arc, double bulge)
{
    const frDoublePoint c = PdfPagePoint(entity, *stream, arc.centre.x, arc.centre.y);
    double start = ToDegrees(arc.startAngle), end = ToDegrees(arc.endAngle);
    if (bulge > 0) {
        while (start > end)
            start -= 360.0;
    } else {
        while (end > start)
            end -= 360.0;
    }
    return stream->Arc(c.x, c.y, stream->m_Scale * ConvertLengthToDrawingUnit(entity, arc.radius), start, end, false);
}

void SetPdfColor(CPDFStream* stream, COLORREF color, bool fill)
{
    const double r = GetRValue(color) / 255.0, g = GetGValue(color) / 255.0, b = GetBValue(color) / 255.0;
    const bool gray = GetRValue(color) == GetGValue(color) && GetGValue(color) == GetBValue(color);
    if (gray) {
        stream->SetStrokeGray(r);
        if (fill)
            stream->SetFillGray(r);
    } else {
        stream->SetStrokeRGB(r, g, b);
        if (fill)
            stream->SetFillRGB(r, g, b);
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
    double v = CgmRounded(value);
    if (!(v >= -32768.0))
        v = -32768.0;
    if (v > 32767.0)
        v = 32767.0;
    PutCgmWord16(file, static_cast<unsigned>(static_cast<int>(v)) & 0xFFFF);
}

void PutCgmPoint(std::FILE* file, double x, double y)
{
    const COutputPage& page = GetOutputPage();
    PutCgmCoordinate(file, (x - page.originX) * page.scale);
    PutCgmCoordinate(file, (y - page.originY) * page.scale);
}

void PutCgmLength(std::FILE* file, double length) { PutCgmCoordinate(file, length * GetOutputPage().scale); }

bool CgmPointsMeet(double x0, double y0, double x1, double y1)
{
    const COutputPage& page = GetOutputPage();
    auto at = [&](double v, double origin) { return CgmRounded((v - origin) * page.scale); };
    return at(x0, page.originX) == at(x1, page.originX) && at(y0, page.originY) == at(y1, page.originY);
}

bool WrittenRaysKeepSweep(double fx, double fy, double tx, double ty, double sweep)
{
    if (fx == tx && fy == ty)
        return false;
    double seen = std::atan2(ty, tx) - std::atan2(fy, fx);
    while (seen <= 0)
        seen += TWO_PI;
    return std::fabs(seen - sweep) <= kWrittenSweepSlack;
}

namespace {

bool CgmArcCentreFits(double cx, double cy, double radius)
{
    const COutputPage& page = GetOutputPage();
    auto fits = [](double v) { return std::fabs(v) <= kCgmCoordinateLimit; };
    return fits((cx - page.originX) * page.scale) && fits((cy - page.originY) * page.scale) &&
           fits(radius * page.scale);
}

bool CgmVectorsKeepSweep(double a, double sweep, double length)
{
    const double b = a + sweep;
    return WrittenRaysKeepSweep(CgmRounded(length * std::cos(a)), CgmRounded(length * std::sin(a)),
                                CgmRounded(length * std::cos(b)), CgmRounded(length * std::sin(b)), sweep);
}

void PutCgmArcCentre(std::FILE* file, double cx, double cy, double radius, double a, double b, double length)
{
    PutCgmWord16(file, kCgmArcCentre);
    PutCgmPoint(file, cx, cy);
    PutCgmCoordinate(file, length * std::cos(a));
    PutCgmCoordinate(file, length * std::sin(a));
    PutCgmCoordinate(file, length * std::cos(b));
    PutCgmCoordinate(file, length * std::sin(b));
    PutCgmLength(file, radius);
}

}  // namespace

bool IsCgmArcChord(double cx, double cy, double radius, double a, double sweep, double length)
{
    if (sweep >= PI)
        return false;
    if (!CgmArcCentreFits(cx, cy, radius)) {
        const double b = a + sweep;
        return CgmPointsMeet(cx + radius * std::cos(a), cy + radius * std::sin(a), cx + radius * std::cos(b),
                             cy + radius * std::sin(b));
    }
    return !CgmVectorsKeepSweep(a, sweep, length);
}

void PutCgmArc(std::FILE* file, double cx, double cy, double radius, double a, double sweep, double length)
{
    if (!CgmArcCentreFits(cx, cy, radius)) {
        PutCgmWord16(file, kCgmArc3Point);
        for (const double angle : {a, a + sweep / 2, a + sweep})
            PutCgmPoint(file, cx + radius * std::cos(angle), cy + radius * std::sin(angle));
        return;
    }
    if (CgmVectorsKeepSweep(a, sweep, length)) {
        PutCgmArcCentre(file, cx, cy, radius, a, a + sweep, length);
        return;
    }
    const double half = std::max(length, kCgmShortestHalfVector), middle = a + sweep / 2;
    PutCgmArcCentre(file, cx, cy, radius, a, middle, half);
    PutCgmArcCentre(file, cx, cy, radius, middle, a + sweep, half);
}

namespace {

const COutputPage kDefaultPage;
thread_local const COutputPage* t_Page = nullptr;

}  // namespace

const COutputPage& GetOutputPage() { return t_Page ? *t_Page : kDefaultPage; }

double GetPageHairline(double width, double height) { return std::max(width, height) * kHairlinePerPageSide; }

COutputPageScope::COutputPageScope(const COutputPage& page) : m_Page(page), m_Previous(t_Page) { t_Page = &m_Page; }

COutputPageScope::~COutputPageScope() { t_Page = m_Previous; }

COutputPage GetOutputGrid(const double* box, double limit, double fine)
{
    COutputPage grid;
    const double far = std::max(
        {std::fabs(box[EXT_MIN_X]), std::fabs(box[EXT_MAX_X]), std::fabs(box[EXT_MIN_Y]), std::fabs(box[EXT_MAX_Y])});
    const double side = std::max(box[EXT_MAX_X] - box[EXT_MIN_X], box[EXT_MAX_Y] - box[EXT_MIN_Y]);
    // A drawing that fits about the origin on a grid fine enough already
    // keeps its own coordinates.
    if (!(side > 0) || !std::isfinite(far) || (far <= limit && side >= fine))
        return grid;
    // About the centre the box reaches half its side, so a fine grid below
    // the limit keeps it within the limit. The centre is taken on the grid
    // itself: a whole-unit centre would be up to half a unit off, many grid
    // steps on a drawing smaller than a unit.
    grid.scale = std::exp2(std::ceil(std::log2(fine / side)));
    grid.originX = std::round((box[EXT_MIN_X] + box[EXT_MAX_X]) / 2 * grid.scale) / grid.scale;
    grid.originY = std::round((box[EXT_MIN_Y] + box[EXT_MAX_Y]) / 2 * grid.scale) / grid.scale;
    return grid;
}
