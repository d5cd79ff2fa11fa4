// DXF 2000 framing around the entity records.
//
// The file holds what a reader needs to accept a drawing of this version: a
// header with the version, code page, handle seed, unit and extents; the
// symbol tables (every layer with its colour); the model and paper space
// blocks with their layouts; the entities of every layer; the root
// dictionary. Handles of the framing are handed out in order, skipping the
// entities' ids, which the entity records use as their handles. The
// entities' records, and the boxes of the extents, are made on the row-band
// pool; the file holds the same bytes whatever the thread count.
#include "export/dxf_writer.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
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
#include "platform/memory_file.h"
#include "platform/number_text.h"
#include "platform/text_encoding.h"
#include "raster/row_bands.h"

namespace {

// $INSUNITS codes of the drawing units.
constexpr int kInsUnitsNone = 0;
constexpr int kInsUnitsInch = 1;
constexpr int kInsUnitsMm = 4;
constexpr int kInsUnitsCm = 5;
// Layer colour of a layer whose own index is outside the DXF range.
constexpr int kDefaultLayerColor = 7;
// The code page names are written in, and the UTF-16 forms of the code
// points past U+FFFF that it lacks.
constexpr char kCodePage[] = "ANSI_1252";
constexpr char32_t kFirstSupplementary = 0x10000, kHighSurrogate = 0xD800, kLowSurrogate = 0xDC00;

class HandleSource {
public:
    // Marks a handle as used by someone else; false when it already was.
    bool Reserve(std::uint32_t handle)
    {
        if (!m_Taken.insert(handle).second)
            return false;
        m_Highest = std::max(m_Highest, handle);
        return true;
    }
    // Room for this many handles, so that taking them does not rehash.
    void Expect(std::size_t count) { m_Taken.reserve(count); }
    // The lowest handle not used yet.
    std::uint32_t Take()
    {
        while (m_Taken.count(m_Next) != 0)
            ++m_Next;
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
        if (digits.size() < 3)
            m_Text.append(3 - digits.size(), ' ');
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
    std::string name;  // as written to the file
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
        if (IsInvalidNameChar(c))
            c = '_';
    return safe.empty() ? "_" : safe;
}

// A name in the file's code page: Windows-1252 bytes, and "\U+XXXX" (UTF-16
// code units) for a character the code page lacks, as readers of this
// version expect. A byte that is no UTF-8 becomes '_'.
std::string EncodeDxfName(const std::string& name)
{
    std::string encoded;
    for (std::size_t at = 0; at < name.size();) {
        char32_t cp = 0;
        if (!NextUtf8CodePoint(name, &at, &cp)) {
            encoded += '_';
            continue;
        }
        if (const int byte = CodePointToCp1252(cp); byte >= 0) {
            encoded += static_cast<char>(byte);
        } else if (cp < kFirstSupplementary) {
            encoded += FormatC("\\U+%04X", static_cast<unsigned>(cp));
        } else {
            const char32_t units = cp - kFirstSupplementary;
            encoded += FormatC("\\U+%04X\\U+%04X", static_cast<unsigned>(kHighSurrogate + (units >> 10)),
                               static_cast<unsigned>(kLowSurrogate + (units & 0x3FF)));
        }
    }
    return encoded;
}

// The key LayerNamesEqual compares by: ASCII letters folded to lower case.
std::string LayerNameKey(std::string name)
{
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
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
        if (color < 1 || color > 255)
            color = kDefaultLayerColor;
        if (!layer->IsVisible())
            color = -color;  // a negative colour means "off"
        std::string name = EncodeDxfName(DxfSafeName(layer->GetName()));
        if (name != layer->GetName()) {
            const std::string base = name;
            for (int n = 2; taken(name); ++n)
                name = base + "_" + std::to_string(n);
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

// Entities per task of the pool: the boxes and records of polylines differ
// widely in cost, so many small tasks even out the threads.
constexpr std::size_t kEntitiesPerTask = 256;

int TasksFor(std::size_t count) { return static_cast<int>((count + kEntitiesPerTask - 1) / kEntitiesPerTask); }

// What the header and the records need of an entity.
struct EntityFacts {
    double box[4];
    bool hasBox;
    bool hasRecord;
    std::uint32_t id;
};

void LearnFacts(CEntity& e, EntityFacts& facts)
{
    facts.hasBox = e.GetExtents(nullptr, facts.box);
    facts.hasRecord = EntityHasOutputRecord(e, EXPORT_DXF2000);
    facts.id = e.m_Id;
}

// One record of the ENTITIES section. Handles are the entities' ids, except
// that an id seen before (a copy keeps its original's id) or 0 gets a fresh
// handle, since a reader keeps only one entity per handle.
struct EntityRecord {
    CEntity* entity;
    const CLayer* layer;
    const std::string* renamed;  // the layer's name in the file, where it had to change
    std::uint32_t handle;
};

// Every entity of every layer in layer order, with all that a record takes
// from the records before it (its handle) settled before any is written, so
// that records can be formatted apart.
struct DrawingEntities {
    std::vector<CEntity*> all;
    std::vector<EntityFacts> facts;
    std::vector<std::size_t> layerEnds;  // where each layer's entities end in `all`
    std::vector<EntityRecord> records;
};

// Entities walked at a time while the pool learns the facts of the ones
// walked before.
constexpr std::size_t kWalkBatch = 4096;

// Walks the layers' chains in order, a batch at a time.
class EntityWalk {
public:
    explicit EntityWalk(const CGraph& drawing) : m_Layer(drawing.GetFirstLayer())
    {
        if (m_Layer)
            m_Next = m_Layer->GetFirstEntity();
    }
    // Fills `batch` with the next entities and adds the end of every layer
    // finished to `layerEnds`; empty at the end.
    void Next(std::vector<CEntity*>& batch, std::vector<std::size_t>& layerEnds)
    {
        batch.clear();
        while (m_Layer && batch.size() < kWalkBatch) {
            for (; m_Next && batch.size() < kWalkBatch; m_Next = m_Next->m_Next)
                batch.push_back(m_Next);
            if (m_Next)
                break;
            layerEnds.push_back(m_Walked + batch.size());
            m_Layer = m_Layer->GetNext();
            if (m_Layer)
                m_Next = m_Layer->GetFirstEntity();
        }
        m_Walked += batch.size();
    }

private:
    const CLayer* m_Layer;
    CEntity* m_Next = nullptr;
    std::size_t m_Walked = 0;
};

DrawingEntities CollectEntities(const CGraph& drawing, const LayerTable& layers, HandleSource& handles)
{
    // Following the chains costs a cache miss per entity, so the caller
    // walks the next batch while the pool reads the entities of this one.
    DrawingEntities found;
    EntityWalk walk(drawing);
    std::vector<CEntity*> batch, following;
    walk.Next(batch, found.layerEnds);
    while (!batch.empty()) {
        const std::size_t first = found.facts.size();
        found.facts.resize(first + batch.size());
        EntityFacts* facts = found.facts.data() + first;
        RunBands(TasksFor(batch.size()) + 1, [&](int task) {
            if (task == 0) {
                walk.Next(following, found.layerEnds);
                return;
            }
            const std::size_t begin = static_cast<std::size_t>(task - 1) * kEntitiesPerTask;
            const std::size_t end = std::min(batch.size(), begin + kEntitiesPerTask);
            for (std::size_t i = begin; i < end; ++i)
                LearnFacts(*batch[i], facts[i]);
        });
        found.all.insert(found.all.end(), batch.begin(), batch.end());
        std::swap(batch, following);
    }

    std::vector<std::size_t> repeats;
    found.records.reserve(found.all.size());
    handles.Expect(found.all.size());
    std::size_t i = 0;
    const CLayer* layer = drawing.GetFirstLayer();
    for (std::size_t end : found.layerEnds) {
        const std::string* renamed = layers.RenamedName(layer);
        for (; i < end; ++i) {
            const EntityFacts& facts = found.facts[i];
            if (!facts.hasRecord)
                continue;
            if (facts.id == 0 || !handles.Reserve(facts.id))
                repeats.push_back(found.records.size());
            found.records.push_back({found.all[i], layer, renamed, facts.id});
        }
        layer = layer->GetNext();
    }
    for (std::size_t r : repeats)
        found.records[r].handle = handles.Take();
    return found;
}

// The drawing's extents exactly as MergeLayersExtents finds them: each
// layer's box merges its entities' boxes in order, the drawing's box the
// layers'.
bool DrawingExtents(const DrawingEntities& entities, double* box)
{
    bool found = false;
    std::size_t i = 0;
    for (std::size_t end : entities.layerEnds) {
        double layerBox[4];
        bool layerFound = false;
        for (; i < end; ++i) {
            const EntityFacts& facts = entities.facts[i];
            if (!facts.hasBox)
                continue;
            if (layerFound)
                MergeExtents(layerBox, facts.box);
            else
                std::copy(facts.box, facts.box + 4, layerBox);
            layerFound = true;
        }
        if (!layerFound)
            continue;
        if (found)
            MergeExtents(box, layerBox);
        else
            std::copy(layerBox, layerBox + 4, box);
        found = true;
    }
    return found;
}

// The framing's handles, taken once so that owners can be named before the
// objects they own are written.
struct FrameHandles {
    std::uint32_t vportTable, ltypeTable, layerTable, styleTable, viewTable, ucsTable, appidTable, dimstyleTable,
        blockRecordTable;
    std::uint32_t vport, ltypeByBlock, ltypeByLayer, ltypeContinuous, style, appid, dimstyle;
    std::uint32_t modelRecord, paperRecord, modelBlock, modelEnd, paperBlock, paperEnd;
    std::uint32_t rootDict, groupDict, layoutDict, modelLayout, paperLayout;
    std::vector<std::uint32_t> layers;
};

FrameHandles TakeHandles(HandleSource& source, std::size_t layerCount)
{
    FrameHandles h{};
    for (std::uint32_t* field : {&h.vportTable,       &h.ltypeTable,  &h.layerTable,   &h.styleTable,
                                 &h.viewTable,        &h.ucsTable,    &h.appidTable,   &h.dimstyleTable,
                                 &h.blockRecordTable, &h.vport,       &h.ltypeByBlock, &h.ltypeByLayer,
                                 &h.ltypeContinuous,  &h.style,       &h.appid,        &h.dimstyle,
                                 &h.modelRecord,      &h.paperRecord, &h.modelBlock,   &h.modelEnd,
                                 &h.paperBlock,       &h.paperEnd,    &h.rootDict,     &h.groupDict,
                                 &h.layoutDict,       &h.modelLayout, &h.paperLayout})
        *field = source.Take();
    for (std::size_t i = 0; i < layerCount; ++i)
        h.layers.push_back(source.Take());
    return h;
}

// `extents` is null for a drawing without any.
void WriteHeader(DxfText& out, const CGraph& drawing, std::uint32_t seed, const double* extents)
{
    out.Pair(0, "SECTION");
    out.Pair(2, "HEADER");
    out.Pair(9, "$ACADVER");
    out.Pair(1, "AC1015");
    out.Pair(9, "$DWGCODEPAGE");
    out.Pair(3, kCodePage);
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
    if (extents) {
        double box[4];
        std::copy(extents, extents + 4, box);
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
    out.Handle(105, h.dimstyle);  // dimension styles carry their handle in 105
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
    if (paper)
        out.Int(67, 1);
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
    if (paper)
        out.Int(67, 1);
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
    if (error)
        *error = std::move(message);
}

// Records formatted together into one memory buffer on the pool, and the
// chunks a thread may format ahead of the one next to be written: the file
// streams out as it is made (a page's outline makes tens of megabytes), in
// order, so its bytes are those of writing the records one by one.
constexpr int kChunksAheadPerThread = 4;
constexpr std::size_t kNoRecord = std::numeric_limits<std::size_t>::max();

// Formats the chunk's records; the first record that failed, or kNoRecord.
std::size_t FormatChunk(const std::vector<EntityRecord>& records, std::size_t begin, bool widths, MemoryFile& text)
{
    const std::size_t end = std::min(records.size(), begin + kEntitiesPerTask);
    text.Clear();
    std::FILE* file = text.Get();
    if (file == nullptr)
        return begin;
    std::size_t i = begin;
    try {
        for (; i < end; ++i) {
            const EntityRecord& record = records[i];
            CDxfNames names = record.entity->GetDxfNames();
            names.handle = record.handle;
            if (record.renamed)
                names.layer = *record.renamed;
            if (!record.entity->WriteDXF2000(file, widths, names))
                return i;
        }
    } catch (const std::bad_alloc&) {
        return i;
    }
    return std::ferror(file) ? begin : kNoRecord;
}

// Writes the ENTITIES records with the chunks formatted on the pool. The
// thread that finishes the chunk next in order writes it and every finished
// one after it, so no thread waits for a whole round to end.
class EntityRecordWriter {
public:
    EntityRecordWriter(const std::vector<EntityRecord>& records, std::FILE* file, bool widths)
        : m_Records(records), m_File(file), m_Widths(widths), m_Chunks(TasksFor(records.size())),
          m_Ahead(std::max(1, GetRowBandThreads() * kChunksAheadPerThread)),
          m_Finished(static_cast<std::size_t>(m_Chunks)), m_Ready(static_cast<std::size_t>(m_Chunks), false),
          m_Failed(static_cast<std::size_t>(m_Chunks), kNoRecord)
    {}

    // False with the message in *error at the first record that failed.
    bool Write(std::string* error)
    {
        RunBands(m_Chunks, [this](int chunk) { FormatAndWrite(chunk); });
        if (m_Bad == kNoRecord)
            return true;
        const EntityRecord& record = m_Records[m_Bad];
        SetError(error, FormatC("Could not write entity %u of layer \"%s\".", record.entity->m_Id,
                                record.layer->GetName().c_str()));
        return false;
    }

private:
    std::size_t FirstOf(int chunk) const { return static_cast<std::size_t>(chunk) * kEntitiesPerTask; }

    void FormatAndWrite(int chunk)
    {
        const auto at = static_cast<std::size_t>(chunk);
        std::unique_ptr<MemoryFile> text;
        {
            std::unique_lock<std::mutex> lock(m_Mutex);
            m_Progress.wait(lock, [&] { return m_Bad != kNoRecord || chunk < m_NextToWrite + m_Ahead; });
            if (m_Bad != kNoRecord)
                return;
            if (!m_Spare.empty()) {
                text = std::move(m_Spare.back());
                m_Spare.pop_back();
            }
        }
        std::size_t failed = FirstOf(chunk);
        try {
            if (!text)
                text = std::make_unique<MemoryFile>(MemoryFile::Buffering::kUnbuffered);
            failed = FormatChunk(m_Records, FirstOf(chunk), m_Widths, *text);
        } catch (const std::bad_alloc&) {
        }
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Finished[at] = std::move(text);
        m_Failed[at] = failed;
        m_Ready[at] = true;
        while (m_Bad == kNoRecord && m_NextToWrite < m_Chunks && m_Ready[static_cast<std::size_t>(m_NextToWrite)])
            WriteNext();
        m_Progress.notify_all();
    }

    // The chunk next in order, with the mutex held.
    void WriteNext()
    {
        const auto at = static_cast<std::size_t>(m_NextToWrite);
        std::unique_ptr<MemoryFile> text = std::move(m_Finished[at]);
        m_Bad = m_Failed[at];
        if (m_Bad == kNoRecord) {
            const std::string_view written = text->Content();
            if (std::fwrite(written.data(), 1, written.size(), m_File) != written.size())
                m_Bad = FirstOf(m_NextToWrite);
        }
        if (text)
            m_Spare.push_back(std::move(text));
        ++m_NextToWrite;
    }

    const std::vector<EntityRecord>& m_Records;
    std::FILE* m_File;
    const bool m_Widths;
    const int m_Chunks;
    const int m_Ahead;
    std::mutex m_Mutex;
    std::condition_variable m_Progress;
    int m_NextToWrite = 0;
    std::vector<std::unique_ptr<MemoryFile>> m_Finished;  // formatted, not yet written
    std::vector<bool> m_Ready;                            // formatted, or failed without a text
    std::vector<std::size_t> m_Failed;                    // each chunk's first failed record
    std::vector<std::unique_ptr<MemoryFile>> m_Spare;
    std::size_t m_Bad = kNoRecord;  // the first failed record in file order
};

}  // namespace

bool WriteDXF2000File(const CGraph& drawing, std::FILE* file, bool widths, std::string* error)
{
    const LayerTable layers = CollectLayers(drawing);
    HandleSource handles;
    const DrawingEntities entities = CollectEntities(drawing, layers, handles);
    const FrameHandles h = TakeHandles(handles, layers.rows.size());
    double extents[4];
    const bool hasExtents = DrawingExtents(entities, extents);

    DxfText out;
    WriteHeader(out, drawing, handles.Seed(), hasExtents ? extents : nullptr);
    WriteTables(out, h, layers.rows);
    WriteBlocks(out, h);
    out.Pair(0, "SECTION");
    out.Pair(2, "ENTITIES");
    if (!out.WriteTo(file)) {
        SetError(error, "Could not write the DXF file head.");
        return false;
    }
    if (!EntityRecordWriter(entities.records, file, widths).Write(error))
        return false;
    out.Pair(0, "ENDSEC");
    WriteObjects(out, h);
    if (!out.WriteTo(file)) {
        SetError(error, "Could not write the DXF file tail.");
        return false;
    }
    return true;
}
