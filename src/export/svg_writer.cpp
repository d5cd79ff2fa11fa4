// SVG framing around the entity paths.
//
// The page is the box of the raster and the entities, in the drawing unit;
// the entity records measure x from the page's left edge and y down from its
// top edge, so the viewBox starts at 0, 0.
#include "export/svg_writer.h"

#include <algorithm>
#include <string>

#include "export/export_format.h"
#include "export/format_writers.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/output_records.h"
#include "platform/number_text.h"

namespace {

constexpr double kMillimetresPerMetre = 1000.0;

std::string XmlEscape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters other than tab and line ends are not XML.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                out += ' ';
            else
                out += c;
        }
    }
    return out;
}

// The SVG length unit of the drawing's unit, "" for user units (pixels).
const char* SvgUnitSuffix(const CGraph& drawing)
{
    std::string name;
    drawing.GetPixelsPerUnit(nullptr, nullptr, &name);
    if (name.empty())
        return "";
    switch (drawing.GetUnit()) {
    case UNIT_INCH: return "in";
    case UNIT_CM: return "cm";
    case UNIT_MM: return "mm";
    default: return "";
    }
}

void SetError(std::string* error, std::string message)
{
    if (error)
        *error = std::move(message);
}

bool Put(std::FILE* file, const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace

bool MergeLayersExtents(const CGraph& drawing, double* box, bool found)
{
    for (CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
        double layerBox[4];
        if (!layer->GetExtents(nullptr, layerBox))
            continue;
        if (found)
            MergeExtents(box, layerBox);
        else
            std::copy(layerBox, layerBox + 4, box);
        found = true;
    }
    return found;
}

void GetSvgPageBox(const CGraph& drawing, double* box)
{
    bool found = false;
    if (CEntity* raster = drawing.GetRasterEntity())
        found = raster->GetExtents(nullptr, box);
    found = MergeLayersExtents(drawing, box, found);
    if (!found) {
        box[EXT_MIN_X] = box[EXT_MIN_Y] = 0.0;
        box[EXT_MAX_X] = box[EXT_MAX_Y] = 1.0;
    }
}

bool WriteSVGFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error)
{
    double box[4];
    GetSvgPageBox(drawing, box);
    double left = box[EXT_MIN_X], bottom = box[EXT_MIN_Y], width = box[EXT_MAX_X] - box[EXT_MIN_X];
    double height = box[EXT_MAX_Y] - box[EXT_MIN_Y];
    drawing.GetPixelsPerUnit(&left, &bottom, nullptr);
    drawing.GetPixelsPerUnit(&width, &height, nullptr);
    const char* unit = SvgUnitSuffix(drawing);
    double pageWidth = width, pageHeight = height;
    // Pixels of a scan with a resolution: the page gets the paper's size in
    // millimetres while the coordinates stay in pixels.
    if (const double dotsPerMetre = drawing.GetUnit() == UNIT_PIXEL ? GetScanDotsPerMetre(drawing) : 0.0;
        dotsPerMetre > 0 && *unit == '\0') {
        pageWidth = width / dotsPerMetre * kMillimetresPerMetre;
        pageHeight = height / dotsPerMetre * kMillimetresPerMetre;
        unit = "mm";
    }
    std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n";
    head += FormatC("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"%.3f%s\" height=\"%.3f%s\" "
                    "viewBox=\"0.000 0 %.3f %.3f\">\n",
                    pageWidth, unit, pageHeight, unit, width, height);
    if (!Put(file, head)) {
        SetError(error, "Could not write the SVG file head.");
        return false;
    }
    const double pageTop = box[EXT_MAX_Y];
    COutputPage page;
    page.hairline = GetPageHairline(width, height);
    page.cornerX = left;
    page.cornerY = bottom;
    const COutputPageScope pageScope(page);
    int index = 0;
    // Head first, as the view draws them, so later layers lie on top.
    for (CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext(), ++index) {
        std::string group = FormatC("<g id=\"layer%d\"", index);
        if (!layer->IsVisible())
            group += " display=\"none\"";
        group += ">\n<title>" + XmlEscape(layer->GetName()) + "</title>\n";
        if (!Put(file, group)) {
            SetError(error, "Could not write the SVG file.");
            return false;
        }
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            if (!EntityHasOutputRecord(*e, EXPORT_SVG))
                continue;
            if (!e->WriteSVG(file, pageTop, widths)) {
                SetError(error,
                         FormatC("Could not write entity %u of layer \"%s\".", e->m_Id, layer->GetName().c_str()));
                return false;
            }
        }
        if (!Put(file, "</g>\n")) {
            SetError(error, "Could not write the SVG file.");
            return false;
        }
    }
    if (!Put(file, "</svg>\n")) {
        SetError(error, "Could not write the SVG file tail.");
        return false;
    }
    return true;
}
