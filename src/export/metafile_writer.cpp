// Enhanced Metafile framing: a picture frame of the page box in raster
// pixels, its top left corner (the page's left edge and top) at device
// (0, 0), and every visible layer's entities drawn into it through the
// metafile DC.
//
// A page smaller than the fine grid (a drawing in inches, a small trace) is
// laid on a finer grid (GetOutputGrid), frame included, so no point snaps to
// a whole unit and a thin pen's one device pixel stays thin beside the page.
#include "export/format_writers.h"

#include <algorithm>
#include <cmath>

#include "export/export_format.h"
#include "export/svg_writer.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/metafile_points.h"
#include "model/output_records.h"
#include "platform/metafile_dc.h"

namespace {

// The page edge outward to a whole step of the grid: whole pixels for a page
// in raster pixels, finer steps on a finer grid, so the frame is the page
// box of the other formats and not a whole drawing unit larger.
double PageEdge(double value, double scale, bool up)
{
    const double steps = value * scale;
    return (up ? std::ceil(steps) : std::floor(steps)) / scale;
}

// The larger side of the page spans at least this many device pixels, and
// no grid value goes past the limit.
constexpr double kGridFineSide = 4096.0;
constexpr double kGridLimit = 1 << 20;

}  // namespace

bool WriteMetafileFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error)
{
    double box[4];
    GetSvgPageBox(drawing, box);
    COutputPage grid = GetOutputGrid(box, kGridLimit, kGridFineSide);
    const double left = PageEdge(box[EXT_MIN_X], grid.scale, false), right = PageEdge(box[EXT_MAX_X], grid.scale, true);
    const double bottom = PageEdge(box[EXT_MIN_Y], grid.scale, false), top = PageEdge(box[EXT_MAX_Y], grid.scale, true);
    // The records turn y over about the page's top, so the page starts at
    // device y 0.
    // The frame starts at device (0, 0): converters misplace a frame away
    // from the origin. y is turned over about the page's top already.
    grid.originX = left;
    grid.originY = 0;
    // Below one device unit the hairline is the cosmetic pen.
    grid.hairline = std::floor(GetPageHairline(right - left, top - bottom) * grid.scale);
    const COutputPageScope gridScope(grid);
    const int width = std::max(1, MetafileLength(right - left)), height = std::max(1, MetafileLength(top - bottom));
    CMetafileDC dc;
    if (!dc.Create(file, width, height, 0, 0)) {
        if (error)
            *error = "Could not start the metafile.";
        return false;
    }
    for (CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
        if (!layer->IsVisible())
            continue;  // a page shows what the view shows
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next)
            if (EntityHasOutputRecord(*e, EXPORT_METAFILE))
                e->DrawToDC(&dc, top, widths);
    }
    if (!dc.Close()) {
        if (error)
            *error = "Could not write the metafile.";
        return false;
    }
    return true;
}
