// EPS framing: the bounding box in points, a scale from the drawing unit to
// points, the records with their points measured from the page's lower left
// corner.
#include "export/format_writers.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "export/export_format.h"
#include "export/svg_writer.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/output_records.h"
#include "model/polyline.h"
#include "platform/number_text.h"
#include "raster/raster_entity.h"

namespace {

constexpr double kPointsPerInch = 72.0;
constexpr double kMetresPerInch = 0.0254;
// A file resolution of 1 dpi or less is no resolution (the image reads it as
// 200 dpi for the length units).
constexpr double kMinimumFileDotsPerInch = 1.0;

bool Put(std::FILE* file, const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace

double GetScanDotsPerMetre(const CGraph& drawing)
{
    const CRaster* raster = drawing.GetRaster();
    if (raster == nullptr || raster->GetResolutionX() * kMetresPerInch <= kMinimumFileDotsPerInch)
        return 0.0;
    return drawing.GetRasterResolution();
}

double GetPointsPerUnit(const CGraph& drawing)
{
    std::string name;
    drawing.GetPixelsPerUnit(nullptr, nullptr, &name);
    if (name.empty()) {
        // Pixels: the page is the scan's paper size when the scan says how
        // large its pixels are.
        const double dotsPerMetre = drawing.GetUnit() == UNIT_PIXEL ? GetScanDotsPerMetre(drawing) : 0.0;
        return dotsPerMetre > 0 ? kPointsPerInch / (dotsPerMetre * kMetresPerInch) : 1.0;
    }
    switch (drawing.GetUnit()) {
    case UNIT_INCH: return kPointsPerInch;
    case UNIT_CM: return kPointsPerInch / 2.54;
    case UNIT_MM: return kPointsPerInch / 25.4;
    default: return 1.0;
    }
}

namespace {

void ConvertBox(const CGraph& drawing, double* box)
{
    drawing.GetPixelsPerUnit(&box[EXT_MIN_X], &box[EXT_MIN_Y], nullptr);
    drawing.GetPixelsPerUnit(&box[EXT_MAX_X], &box[EXT_MAX_Y], nullptr);
}

// The widest stroke a page format draws of the visible entities, in raster
// pixels: the polylines' vertex widths and the circles' and arcs' widths
// when widths are written; 0 when every stroke is a hairline.
double GetWidestStroke(const CGraph& drawing, bool widths)
{
    double widest = 0;
    if (!widths)
        return widest;
    for (const CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
        if (!layer->IsVisible())
            continue;
        for (const CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            if (e->m_Type == ENTITY_CIRCLE || e->m_Type == ENTITY_ARC) {
                widest = std::max(widest, e->GetWidth());
            } else if (e->m_Type == ENTITY_POLYLINE) {
                const CVertex* head = static_cast<const CPolyLine*>(e)->GetHead();
                for (const CVertex* v = head; v; v = v->next == head ? nullptr : v->next)
                    widest = std::max(widest, v->startWidth);
            }
        }
    }
    return widest;
}

}  // namespace

void GetPageBoxInUnits(const CGraph& drawing, double* box)
{
    GetSvgPageBox(drawing, box);
    ConvertBox(drawing, box);
}

void GetStrokedPageBox(const CGraph& drawing, bool widths, double* box, double* hairline)
{
    GetPageBoxInUnits(drawing, box);
    const double thinnest = GetPageHairline(box[EXT_MAX_X] - box[EXT_MIN_X], box[EXT_MAX_Y] - box[EXT_MIN_Y]);
    if (hairline)
        *hairline = thinnest;
    double strokes[4];
    if (!MergeLayersExtents(drawing, strokes, false))
        return;
    ConvertBox(drawing, strokes);
    double widest = GetWidestStroke(drawing, widths), unused = 0;
    drawing.GetPixelsPerUnit(&widest, &unused, nullptr);
    // A line on the drawing's edge is stroked half outside it. A hairline
    // there is kept a whole width inside the page: half a width from the
    // edge it lies between pixel centres at many resolutions, and readers
    // leave it out.
    const double reach = std::max(thinnest, widest / 2);
    strokes[EXT_MIN_X] -= reach;
    strokes[EXT_MIN_Y] -= reach;
    strokes[EXT_MAX_X] += reach;
    strokes[EXT_MAX_Y] += reach;
    MergeExtents(box, strokes);
}

bool WriteEPSFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error)
{
    double box[4], hairline = 0;
    GetStrokedPageBox(drawing, widths, box, &hairline);
    const double s = GetPointsPerUnit(drawing);
    // Whole points: a reader crops the page to whole pixels, and at a point
    // to the pixel a fraction past the last whole point would take the
    // hairline along the right or top edge with it.
    const double width = std::ceil((box[EXT_MAX_X] - box[EXT_MIN_X]) * s);
    const double height = std::ceil((box[EXT_MAX_Y] - box[EXT_MIN_Y]) * s);
    std::string head = "%!PS-Adobe-3.0 EPSF-3.0\n";
    head += FormatC("%%%%BoundingBox: 0 0 %d %d\n", static_cast<int>(width), static_cast<int>(height));
    head += FormatC("%%%%HiResBoundingBox: 0 0 %f %f\n", width, height);
    head += "%%Creator: Lineweft\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\ngsave\n1 setlinecap\n1 setlinejoin\n";
    head += FormatC("%f %f scale\n", s, s);
    if (!Put(file, head)) {
        if (error)
            *error = "Could not write the EPS file head.";
        return false;
    }
    // Strokes without a width are drawn in the drawing unit, thin beside the
    // page whatever that unit is.
    COutputPage page;
    page.hairline = hairline;
    page.cornerX = box[EXT_MIN_X];
    page.cornerY = box[EXT_MIN_Y];
    const COutputPageScope pageScope(page);
    for (CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
        if (!layer->IsVisible())
            continue;  // a page shows what the view shows
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            if (!EntityHasOutputRecord(*e, EXPORT_EPS))
                continue;
            if (!e->WriteEPS(file, widths)) {
                if (error)
                    *error = FormatC("Could not write entity %u of layer \"%s\".", e->m_Id, layer->GetName().c_str());
                return false;
            }
        }
    }
    if (!Put(file, "grestore\nshowpage\n%%EOF\n")) {
        if (error)
            *error = "Could not write the EPS file tail.";
        return false;
    }
    return std::ferror(file) == 0;
}
