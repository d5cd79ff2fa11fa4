// Enhanced Metafile framing: a picture frame of the page box in raster
// pixels, its top left corner at the page's left edge and top, and every
// visible layer's entities drawn into it through the metafile DC.
#include "export/format_writers.h"

#include <algorithm>
#include <cmath>

#include "export/export_format.h"
#include "export/svg_writer.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/metafile_points.h"
#include "platform/metafile_dc.h"

namespace {

// Whole pixels outward, within the range the records carry.
int PageEdge(double value, bool up)
{
    return MetafileTrunc(up ? std::ceil(value) : std::floor(value));
}

} // namespace

bool WriteMetafileFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error)
{
    double box[4];
    GetSvgPageBox(drawing, box);
    const int left = PageEdge(box[EXT_MIN_X], false), right = PageEdge(box[EXT_MAX_X], true);
    const int bottom = PageEdge(box[EXT_MIN_Y], false), top = PageEdge(box[EXT_MAX_Y], true);
    // The records turn y over about the page's top, so the page starts at
    // device y 0.
    CMetafileDC dc;
    if (!dc.Create(file, std::max(1, right - left), std::max(1, top - bottom), left, 0)) {
        if (error) *error = "Could not start the metafile.";
        return false;
    }
    for (CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
        if (!layer->IsVisible()) continue;   // a page shows what the view shows
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next)
            if (EntityHasOutputRecord(*e, EXPORT_METAFILE)) e->DrawToDC(&dc, top, widths);
    }
    if (!dc.Close()) {
        if (error) *error = "Could not write the metafile.";
        return false;
    }
    return true;
}
