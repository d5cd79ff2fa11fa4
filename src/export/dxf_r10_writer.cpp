// DXF R10 framing: a header with the version and extents, the line type and
// layer tables, the entities of every layer. R10 has no handles or
// subclasses; the records are written under the layer names of the table.
#include "export/format_writers.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "export/export_format.h"
#include "export/svg_writer.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "platform/number_text.h"

namespace {

constexpr int kDefaultLayerColor = 7;

// R10 layer names hold letters, digits, '$', '-' and '_' only.
std::string R10LayerName(const std::string& name)
{
    std::string safe;
    for (char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '$' ||
                        c == '-' || c == '_';
        safe += ok ? static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c) : '_';
    }
    return safe.empty() ? "_" : safe;
}

bool Put(std::FILE* file, const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

void SetError(std::string* error, std::string message)
{
    if (error)
        *error = std::move(message);
}

}  // namespace

bool WriteDXFR10File(const CGraph& drawing, std::FILE* file, bool widths, std::string* error)
{
    // Layer rows: "0" first, every layer once under its R10 name.
    std::vector<std::pair<std::string, int>> rows{{"0", kDefaultLayerColor}};
    std::unordered_set<std::string> taken{"0"};  // the rows' names, for a linear table
    std::vector<std::pair<const CLayer*, std::string>> names;
    for (const CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
        int color = layer->GetColor();
        if (color < 1 || color > 255)
            color = kDefaultLayerColor;
        if (!layer->IsVisible())
            color = -color;
        std::string name = R10LayerName(layer->GetName());
        if (name != "0") {
            const std::string base = name;
            for (int n = 2; taken.count(name) != 0; ++n)
                name = base + "_" + std::to_string(n);
            taken.insert(name);
            rows.emplace_back(name, color);
        } else {
            rows.front().second = color;
        }
        names.emplace_back(layer, name);
    }

    std::string head = "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1006\n";
    double box[4];
    GetPageBoxInUnits(drawing, box);
    head += FormatC("  9\n$EXTMIN\n 10\n%f\n 20\n%f\n  9\n$EXTMAX\n 10\n%f\n 20\n%f\n", box[EXT_MIN_X], box[EXT_MIN_Y],
                    box[EXT_MAX_X], box[EXT_MAX_Y]);
    head += "  0\nENDSEC\n  0\nSECTION\n  2\nTABLES\n";
    head += "  0\nTABLE\n  2\nLTYPE\n 70\n1\n  0\nLTYPE\n  2\nCONTINUOUS\n 70\n0\n  3\nSolid line\n 72\n65\n"
            " 73\n0\n 40\n0.0\n  0\nENDTAB\n";
    head += FormatC("  0\nTABLE\n  2\nLAYER\n 70\n%d\n", static_cast<int>(rows.size()));
    for (const auto& [name, color] : rows)
        head += "  0\nLAYER\n  2\n" + name + FormatC("\n 70\n0\n 62\n%d\n  6\nCONTINUOUS\n", color);
    head += "  0\nENDTAB\n  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n";
    if (!Put(file, head)) {
        SetError(error, "Could not write the DXF file head.");
        return false;
    }
    for (const auto& [layer, name] : names) {
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            if (!EntityHasOutputRecord(*e, EXPORT_DXFR10))
                continue;
            CDxfNames names = e->GetDxfNames();
            names.layer = name;
            if (!e->WriteDXFR10(file, widths, names)) {
                SetError(error,
                         FormatC("Could not write entity %u of layer \"%s\".", e->m_Id, layer->GetName().c_str()));
                return false;
            }
        }
    }
    if (!Put(file, "  0\nENDSEC\n  0\nEOF\n")) {
        SetError(error, "Could not write the DXF file tail.");
        return false;
    }
    return true;
}
