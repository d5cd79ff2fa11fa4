// DXF 2000 framing around the entity records.
//
// The file holds what a reader needs to accept a drawing of this version: a
// header with the version, handle seed, unit and extents; the symbol tables
// (every layer with its colour); the model and paper space blocks with their
// layouts; the entities of every layer; the root dictionary. Handles of the
// framing are handed out in order, skipping the entities' ids, which the
// entity records use as their handles.
#include "export/dxf_writer.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "export/export_format.h"
#include "export/format_writers.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "platform/number_text.h"

namespace {

// $INSUNITS codes of the drawing units.
constexpr int kInsUnitsNone = 0;
constexpr int kInsUnitsInch = 1;
constexpr int kInsUnitsMm = 4;
constexpr int kInsUnitsCm = 5;
// Layer colour of a layer whose own index is outside the DXF range.
constexpr int kDefaultLayerColor = 7;

class HandleSource {
public:
    // Marks a handle as used by someone else; false when it already was.
    bool Reserve(std::uint32_t handle)
    {
        if (!m_Taken.insert(handle).second) return false;
        m_Highest = std::max(m_Highest, handle);
        return true;
    }
    // The lowest handle not used yet.
    std::uint32_t Take()
    {
        while (m_Taken.count(m_Next) != 0) ++m_Next;
        m_Highest = std::max(m_Highest, m_Next);
        return m_Next++;
    }
    // A seed above every handle handed out or taken by an entity.
    [[nodiscard]] std::uint32_t Seed() const { return m_Highest + 1; }

private:
    std::unordered_set<std::uint32_t> m_Taken;
    std::uint32_t m_Next = 1;
    std::uint32_t m_Highest = 0;
};

// Group code and value lines, the code right-aligned in three places.
class DxfText {
public:
    void Pair(int code, std::string_view value)
    {
        // Codes run from 0 to 1071: right-aligned in three places, as "%3d".
        const std::string digits = std::to_string(code);
        if (digits.size() < 3) m_Text.append(3 - digits.size(), ' ');
        m_Text += digits;
        m_Text += '\n';
        m_Text += value;
        m_Text += '\n';
    }
    void Int(int code, int value) { Pair(code, std::to_string(value)); }
    void Real(int code, double value)
    {
        std::string text;
        AppendFixed6(text, value);
        Pair(code, text);
    }
    void Handle(int code, std::uint32_t handle) { Pair(code, HexText(handle)); }
    void Point(int base, double x, double y, double z = 0.0)
    {
        Real(base, x);
        Real(base + 10, y);
        Real(base + 20, z);
    }
    [[nodiscard]] bool WriteTo(std::FILE* file)
    {
        const bool ok = std::fwrite(m_Text.data(), 1, m_Text.size(), file) == m_Text.size();
        m_Text.clear();
        return ok;
    }

private:
    std::string m_Text;
};

struct LayerRow {
    std::string name;   // as written to the file
    int color;
};

// Characters a DXF symbol table name may not hold.
bool IsInvalidNameChar(char c)
{
    static constexpr std::string_view kInvalid = "<>/\\\":;?*|=`";
    return static_cast<unsigned char>(c) < 0x20 || kInvalid.find(c) != std::string_view::npos;
}

// The layer name with each character a DXF reader refuses replaced.
std::string DxfSafeName(const std::string& name)
{
    std::string safe = name;
    for (char& c : safe)
        if (IsInvalidNameChar(c)) c = '_';
    return safe.empty() ? "_" : safe;
}

// The key LayerNamesEqual compares by: ASCII letters folded to lower case.
std::string LayerNameKey(std::string name)
{
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
}

struct LayerTable {
    std::vector<LayerRow> rows;
    // Layers whose name had to change, with the name written instead.
    std::unordered_map<const CLayer*, std::string> renamed;

    [[nodiscard]] const std::string* RenamedName(const CLayer* layer) const
    {
        auto found = renamed.find(layer);
        return found == renamed.end() ? nullptr : &found->second;
    }
};

// Every layer once (names compared without case), "0" first. A name that DXF
// refuses gets its bad characters replaced and, when that collides, a number.
// Rows are found by a hash of their name, so a drawing of many layers stays
// linear.
LayerTable CollectLayers(const CGraph& drawing)
{
    LayerTable table;
    std::unordered_map<std::string, std::size_t> rowOf;
    auto add = [&](const std::string& name, int color) {
        rowOf.emplace(LayerNameKey(name), table.rows.size());
        table.rows.push_back({name, color});
    };
    auto taken = [&](const std::string& name) { return rowOf.count(LayerNameKey(name)) != 0; };
    add("0", kDefaultLayerColor);
    for (const CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
        int color = layer->GetColor();
        if (color < 1 || color > 255) color = kDefaultLayerColor;
        if (!layer->IsVisible()) color = -color;   // a negative colour means "off"
        std::string name = DxfSafeName(layer->GetName());
        if (name != layer->GetName()) {
            const std::string base = name;
            for (int n = 2; taken(name); ++n) name = base + "_" + std::to_string(n);
            table.renamed.emplace(layer, name);
        }
        auto found = rowOf.find(LayerNameKey(name));
        if (found == rowOf.end())
            add(name, color);
        else if (found->second == 0)
            table.rows.front().color = color;
    }
    return table;
}

// The entities' handles: their ids, except that an id seen before (a copy
// keeps its original's id) or 0 gets a fresh handle, since a reader keeps
// only one entity per handle.
class EntityHandles {
public:
    EntityHandles(const CGraph& drawing, HandleSource& source)
    {
        std::vector<const CEntity*> repeats;
        for (const CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext())
            for (const CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next)
                if (EntityHasOutputRecord(*e, EXPORT_DXF2000) && (e->m_Id == 0 || !source.Reserve(e->m_Id)))
                    repeats.push_back(e);
        for (const CEntity* e : repeats) m_Fresh.emplace(e, source.Take());
    }
    [[nodiscard]] std::uint32_t Of(const CEntity& entity) const
    {
        auto found = m_Fresh.find(&entity);
        return found == m_Fresh.end() ? entity.m_Id : found->second;
    }

private:
    std::unordered_map<const CEntity*, std::uint32_t> m_Fresh;
};

// The framing's handles, taken once so that owners can be named before the
// objects they own are written.
struct FrameHandles {
    std::uint32_t vportTable, ltypeTable, layerTable, styleTable, viewTable, ucsTable, appidTable,
        dimstyleTable, blockRecordTable;
    std::uint32_t vport, ltypeByBlock, ltypeByLayer, ltypeContinuous, style, appid, dimstyle;
    std::uint32_t modelRecord, paperRecord, modelBlock, modelEnd, paperBlock, paperEnd;
    std::uint32_t rootDict, groupDict, layoutDict, modelLayout, paperLayout;
    std::vector<std::uint32_t> layers;
};

FrameHandles TakeHandles(HandleSource& source, std::size_t layerCount)
{
    FrameHandles h{};
    for (std::uint32_t* field :
         {&h.vportTable, &h.ltypeTable, &h.layerTable, &h.styleTable, &h.viewTable, &h.ucsTable, &h.appidTable,
          &h.dimstyleTable, &h.blockRecordTable, &h.vport, &h.ltypeByBlock, &h.ltypeByLayer, &h.ltypeContinuous,
          &h.style, &h.appid, &h.dimstyle, &h.modelRecord, &h.paperRecord, &h.modelBlock, &h.modelEnd,
          &h.paperBlock, &h.paperEnd, &h.rootDict, &h.groupDict, &h.layoutDict, &h.modelLayout, &h.paperLayout})
        *field = source.Take();
    for (std::size_t i = 0; i < layerCount; ++i) h.layers.push_back(source.Take());
    return h;
}

void WriteHeader(DxfText& out, const CGraph& drawing, std::uint32_t seed)
{
    out.Pair(0, "SECTION");
    out.Pair(2, "HEADER");
    out.Pair(9, "$ACADVER");
    out.Pair(1, "AC1015");
    out.Pair(9, "$HANDSEED");
    out.Handle(5, seed);
    std::string unitName;
    drawing.GetPixelsPerUnit(nullptr, nullptr, &unitName);
    int insUnits = kInsUnitsNone;
    if (!unitName.empty()) {
        switch (drawing.GetUnit()) {
        case UNIT_INCH: insUnits = kInsUnitsInch; break;
        case UNIT_CM: insUnits = kInsUnitsCm; break;
        case UNIT_MM: insUnits = kInsUnitsMm; break;
        default: break;
        }
    }
    out.Pair(9, "$INSUNITS");
    out.Int(70, insUnits);
    double box[4];
    if (MergeLayersExtents(drawing, box, false)) {
        drawing.GetPixelsPerUnit(&box[EXT_MIN_X], &box[EXT_MIN_Y], nullptr);
        drawing.GetPixelsPerUnit(&box[EXT_MAX_X], &box[EXT_MAX_Y], nullptr);
        out.Pair(9, "$EXTMIN");
        out.Point(10, box[EXT_MIN_X], box[EXT_MIN_Y]);
        out.Pair(9, "$EXTMAX");
        out.Point(10, box[EXT_MAX_X], box[EXT_MAX_Y]);
    }
    out.Pair(0, "ENDSEC");
}

void BeginTable(DxfText& out, const char* name, std::uint32_t handle, int count)
{
    out.Pair(0, "TABLE");
    out.Pair(2, name);
    out.Handle(5, handle);
    out.Pair(330, "0");
    out.Pair(100, "AcDbSymbolTable");
    out.Int(70, count);
}

void BeginRecord(DxfText& out, const char* type, std::uint32_t handle, std::uint32_t table, const char* subclass)
{
    out.Pair(0, type);
    out.Handle(5, handle);
    out.Handle(330, table);
    out.Pair(100, "AcDbSymbolTableRecord");
    out.Pair(100, subclass);
}

void WriteLineTypes(DxfText& out, const FrameHandles& h)
{
    BeginTable(out, "LTYPE", h.ltypeTable, 3);
    const std::pair<const char*, std::uint32_t> types[] = {
        {"ByBlock", h.ltypeByBlock}, {"ByLayer", h.ltypeByLayer}, {"Continuous", h.ltypeContinuous}};
    for (const auto& [name, handle] : types) {
        BeginRecord(out, "LTYPE", handle, h.ltypeTable, "AcDbLinetypeTableRecord");
        out.Pair(2, name);
        out.Int(70, 0);
        out.Pair(3, name == std::string_view("Continuous") ? "Solid line" : "");
        out.Int(72, 65);
        out.Int(73, 0);
        out.Real(40, 0.0);
    }
    out.Pair(0, "ENDTAB");
}

void WriteTables(DxfText& out, const FrameHandles& h, const std::vector<LayerRow>& layers)
{
    out.Pair(0, "SECTION");
    out.Pair(2, "TABLES");

    BeginTable(out, "VPORT", h.vportTable, 1);
    BeginRecord(out, "VPORT", h.vport, h.vportTable, "AcDbViewportTableRecord");
    out.Pair(2, "*Active");
    out.Int(70, 0);
    out.Pair(0, "ENDTAB");

    WriteLineTypes(out, h);

    BeginTable(out, "LAYER", h.layerTable, static_cast<int>(layers.size()));
    for (std::size_t i = 0; i < layers.size(); ++i) {
        BeginRecord(out, "LAYER", h.layers[i], h.layerTable, "AcDbLayerTableRecord");
        out.Pair(2, layers[i].name);
        out.Int(70, 0);
        out.Int(62, layers[i].color);
        out.Pair(6, "Continuous");
    }
    out.Pair(0, "ENDTAB");

    BeginTable(out, "STYLE", h.styleTable, 1);
    BeginRecord(out, "STYLE", h.style, h.styleTable, "AcDbTextStyleTableRecord");
    out.Pair(2, "Standard");
    out.Int(70, 0);
    out.Real(40, 0.0);
    out.Real(41, 1.0);
    out.Real(50, 0.0);
    out.Int(71, 0);
    out.Real(42, 2.5);
    out.Pair(3, "txt");
    out.Pair(4, "");
    out.Pair(0, "ENDTAB");

    BeginTable(out, "VIEW", h.viewTable, 0);
    out.Pair(0, "ENDTAB");
    BeginTable(out, "UCS", h.ucsTable, 0);
    out.Pair(0, "ENDTAB");

    BeginTable(out, "APPID", h.appidTable, 1);
    BeginRecord(out, "APPID", h.appid, h.appidTable, "AcDbRegAppTableRecord");
    out.Pair(2, "ACAD");
    out.Int(70, 0);
    out.Pair(0, "ENDTAB");

    BeginTable(out, "DIMSTYLE", h.dimstyleTable, 1);
    out.Pair(100, "AcDbDimStyleTable");
    out.Pair(0, "DIMSTYLE");
    out.Handle(105, h.dimstyle);   // dimension styles carry their handle in 105
    out.Handle(330, h.dimstyleTable);
    out.Pair(100, "AcDbSymbolTableRecord");
    out.Pair(100, "AcDbDimStyleTableRecord");
    out.Pair(2, "Standard");
    out.Int(70, 0);
    out.Handle(340, h.style);
    out.Pair(0, "ENDTAB");

    BeginTable(out, "BLOCK_RECORD", h.blockRecordTable, 2);
    BeginRecord(out, "BLOCK_RECORD", h.modelRecord, h.blockRecordTable, "AcDbBlockTableRecord");
    out.Pair(2, "*Model_Space");
    out.Handle(340, h.modelLayout);
    BeginRecord(out, "BLOCK_RECORD", h.paperRecord, h.blockRecordTable, "AcDbBlockTableRecord");
    out.Pair(2, "*Paper_Space");
    out.Handle(340, h.paperLayout);
    out.Pair(0, "ENDTAB");

    out.Pair(0, "ENDSEC");
}

void WriteBlock(DxfText& out, const char* name, std::uint32_t begin, std::uint32_t end, std::uint32_t record,
                bool paper)
{
    out.Pair(0, "BLOCK");
    out.Handle(5, begin);
    out.Handle(330, record);
    out.Pair(100, "AcDbEntity");
    if (paper) out.Int(67, 1);
    out.Pair(8, "0");
    out.Pair(100, "AcDbBlockBegin");
    out.Pair(2, name);
    out.Int(70, 0);
    out.Point(10, 0.0, 0.0);
    out.Pair(3, name);
    out.Pair(1, "");
    out.Pair(0, "ENDBLK");
    out.Handle(5, end);
    out.Handle(330, record);
    out.Pair(100, "AcDbEntity");
    if (paper) out.Int(67, 1);
    out.Pair(8, "0");
    out.Pair(100, "AcDbBlockEnd");
}

void WriteBlocks(DxfText& out, const FrameHandles& h)
{
    out.Pair(0, "SECTION");
    out.Pair(2, "BLOCKS");
    WriteBlock(out, "*Model_Space", h.modelBlock, h.modelEnd, h.modelRecord, false);
    WriteBlock(out, "*Paper_Space", h.paperBlock, h.paperEnd, h.paperRecord, true);
    out.Pair(0, "ENDSEC");
}

void BeginDictionary(DxfText& out, std::uint32_t handle, std::uint32_t owner)
{
    out.Pair(0, "DICTIONARY");
    out.Handle(5, handle);
    out.Handle(330, owner);
    out.Pair(100, "AcDbDictionary");
    out.Int(281, 1);
}

void WriteLayout(DxfText& out, std::uint32_t handle, std::uint32_t owner, const char* name, int order,
                 std::uint32_t record)
{
    out.Pair(0, "LAYOUT");
    out.Handle(5, handle);
    out.Handle(330, owner);
    out.Pair(100, "AcDbPlotSettings");
    out.Pair(1, "");
    out.Pair(2, "none_device");
    out.Pair(4, "");
    out.Pair(6, "");
    out.Pair(100, "AcDbLayout");
    out.Pair(1, name);
    out.Int(70, 1);
    out.Int(71, order);
    out.Handle(330, record);
}

void WriteObjects(DxfText& out, const FrameHandles& h)
{
    out.Pair(0, "SECTION");
    out.Pair(2, "OBJECTS");
    BeginDictionary(out, h.rootDict, 0);
    out.Pair(3, "ACAD_GROUP");
    out.Handle(350, h.groupDict);
    out.Pair(3, "ACAD_LAYOUT");
    out.Handle(350, h.layoutDict);
    BeginDictionary(out, h.groupDict, h.rootDict);
    BeginDictionary(out, h.layoutDict, h.rootDict);
    out.Pair(3, "Layout1");
    out.Handle(350, h.paperLayout);
    out.Pair(3, "Model");
    out.Handle(350, h.modelLayout);
    WriteLayout(out, h.modelLayout, h.layoutDict, "Model", 0, h.modelRecord);
    WriteLayout(out, h.paperLayout, h.layoutDict, "Layout1", 1, h.paperRecord);
    out.Pair(0, "ENDSEC");
    out.Pair(0, "EOF");
}

void SetError(std::string* error, std::string message)
{
    if (error) *error = std::move(message);
}

} // namespace

bool WriteDXF2000File(const CGraph& drawing, std::FILE* file, bool widths, std::string* error)
{
    const LayerTable layers = CollectLayers(drawing);
    HandleSource handles;
    const EntityHandles entityHandles(drawing, handles);
    const FrameHandles h = TakeHandles(handles, layers.rows.size());

    DxfText out;
    WriteHeader(out, drawing, handles.Seed());
    WriteTables(out, h, layers.rows);
    WriteBlocks(out, h);
    out.Pair(0, "SECTION");
    out.Pair(2, "ENTITIES");
    if (!out.WriteTo(file)) {
        SetError(error, "Could not write the DXF file head.");
        return false;
    }
    for (CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
        const std::string* renamed = layers.RenamedName(layer);
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            if (!EntityHasOutputRecord(*e, EXPORT_DXF2000)) continue;
            CDxfNames names = e->GetDxfNames();
            names.handle = entityHandles.Of(*e);
            if (renamed) names.layer = *renamed;
            if (!e->WriteDXF2000(file, widths, names)) {
                SetError(error, FormatC("Could not write entity %u of layer \"%s\".", e->m_Id,
                                        layer->GetName().c_str()));
                return false;
            }
        }
    }
    out.Pair(0, "ENDSEC");
    WriteObjects(out, h);
    if (!out.WriteTo(file)) {
        SetError(error, "Could not write the DXF file tail.");
        return false;
    }
    return true;
}
