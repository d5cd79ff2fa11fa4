// PDF framing: catalog, page tree, one page of the page box's size and its
// Flate-compressed content stream, the cross-reference table and trailer.
//
// Content numbers carry two decimals of a point, so a page only a few points
// large (a drawing of a few units at a point to the unit) is drawn on a
// finer power-of-two grid that the page's transform scales back: the page
// keeps its size and the drawing its shape.
#include "export/format_writers.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "export/export_format.h"
#include "export/pdf_stream.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/output_records.h"
#include "platform/number_text.h"

namespace {

// A page side of 4096 content steps of a hundredth of a point; smaller pages
// take the finer grid, down to a page of 2^-20 of that.
constexpr double kFinePageSide = 40.96;
constexpr double kFinestGrid = 1 << 20;
// The grid's transform is written with every digit of the power of two.
constexpr int kGridDecimals = 20;

bool Deflate(const std::string& data, std::string* packed)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    packed->resize(size);
    if (compress2(reinterpret_cast<Bytef*>(packed->data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                  static_cast<uLong>(data.size()), Z_BEST_COMPRESSION) != Z_OK)
        return false;
    packed->resize(size);
    return true;
}

}  // namespace

bool WritePDFFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error)
{
    double box[4];
    GetStrokedPageBox(drawing, widths, box, nullptr);
    const double pointsPerUnit = GetPointsPerUnit(drawing);
    const double width = (box[EXT_MAX_X] - box[EXT_MIN_X]) * pointsPerUnit;
    const double height = (box[EXT_MAX_Y] - box[EXT_MIN_Y]) * pointsPerUnit;
    const double pageInPoints[4] = {0.0, width, 0.0, height};
    const double grid =
        std::min(GetOutputGrid(pageInPoints, std::numeric_limits<double>::max(), kFinePageSide).scale, kFinestGrid);
    CPDFStream stream;
    stream.m_Scale = pointsPerUnit * grid;
    // The records measure points from the page's corner themselves, before
    // scaling, so a far drawing keeps its digits.
    COutputPage page;
    page.cornerX = box[EXT_MIN_X];
    page.cornerY = box[EXT_MIN_Y];
    const COutputPageScope pageScope(page);
    bool ok = true;
    if (grid > 1) {
        const std::string step = FormatPdfNumber(1 / grid, kGridDecimals);
        ok = stream.AppendText(step + " 0 0 " + step + " 0 0 cm ");
    }
    ok = ok && stream.AppendText("1 J 1 j ");
    for (CLayer* layer = drawing.GetFirstLayer(); layer && ok; layer = layer->GetNext()) {
        if (!layer->IsVisible())
            continue;
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            if (!EntityHasOutputRecord(*e, EXPORT_PDF))
                continue;
            if (!e->WritePDF(&stream, widths)) {
                if (error)
                    *error = FormatC("Could not write entity %u of layer \"%s\".", e->m_Id, layer->GetName().c_str());
                return false;
            }
        }
    }
    std::string packed;
    if (!ok || !Deflate(stream.GetData(), &packed)) {
        if (error)
            *error = "Not enough memory for the page content.";
        return false;
    }

    // Objects 1..4: catalog, pages, page, content; offsets for the xref.
    std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    auto object = [&](const std::string& body) {
        offsets.push_back(out.size());
        out += FormatC("%d 0 obj\n", static_cast<int>(offsets.size())) + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + FormatPdfNumber(std::max(width, 1.0), 3) + " " +
           FormatPdfNumber(std::max(height, 1.0), 3) + "] /Resources << >> /Contents 4 0 R >>");
    object(FormatC("<< /Length %zu /Filter /FlateDecode >>\nstream\n", packed.size()) + packed + "\nendstream");
    const std::size_t xref = out.size();
    out += FormatC("xref\n0 %d\n0000000000 65535 f \n", static_cast<int>(offsets.size()) + 1);
    for (std::size_t at : offsets)
        out += FormatC("%010zu 00000 n \n", at);
    out += FormatC("trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%zu\n%%%%EOF\n",
                   static_cast<int>(offsets.size()) + 1, xref);
    if (std::fwrite(out.data(), 1, out.size(), file) != out.size() || std::ferror(file) != 0) {
        if (error)
            *error = "Could not write the PDF file.";
        return false;
    }
    return true;
}
