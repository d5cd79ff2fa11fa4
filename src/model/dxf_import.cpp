// CGraph::ReadDXF: a drawing from a DXF text file.
//
// What the drawing can hold is kept: the current colour, layer, width, ortho
// and object-snap settings of the HEADER, the grid snap of the active
// viewport, the LAYER table, and the entities LWPOLYLINE, POLYLINE, LINE,
// CIRCLE, ARC, SOLID, 3DFACE and HATCH (each class reads its own record).
// Blocks, other tables, sections and entities are passed over. Names are
// read in the code page the HEADER declares.
//
// The file is read into a fresh drawing, which replaces this one's layers
// and settings only when the whole file was read: a damaged file never
// leaves a half-imported drawing behind.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/dxf_import.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/solid.h"
#include "model/text_table.h"
#include "platform/input_file.h"
#include "platform/message_box.h"
#include "platform/number_text.h"

namespace {

// Results of reading one entity.
enum EntityResult {
    kEntityRead = 0,  // one entity read and returned
    kEntityEndOfFile = 1,
    kEntityNoMemory = 2,
    kEntitySectionEnd = 3,  // "0"/"ENDSEC" met
    kEntityDropped = 4,     // the record did not make an entity
};

// A binary DXF starts with this; its pairs are not text lines.
constexpr char kBinarySentinel[] = "AutoCAD Binary DXF";

// The tally of entities left out: kinds named one by one, then the rest
// together; a kind's name as far as it is shown.
constexpr std::size_t kMaxLeftOutKinds = 32;
constexpr std::size_t kMaxKindLength = 40;
constexpr char kOtherKinds[] = "other";
// The layer of entities that name none.
constexpr char kDefaultLayer[] = "0";

class CDxfImporter {
public:
    CDxfImporter(CGraph& graph, std::FILE* file, GraphProgress progress, long size)
        : m_Graph(graph), m_File(file), m_Progress(progress), m_Factor(size > 0 ? 100.0 / size : 0.0),
          m_Message(GetLanString("GraphReadDXF", "Reading DXF file..."))
    {}

    // The section loop. False with Error() set when the file is no DXF or
    // is damaged.
    bool ReadSections();
    [[nodiscard]] const std::string& Error() const { return m_Error; }
    // The first group code between records that was not a number; -1 when none.
    [[nodiscard]] long BadCodeAt() const { return m_BadCodeAt; }
    [[nodiscard]] const std::string& BadCode() const { return m_BadCode; }
    [[nodiscard]] bool FoundSection() const { return m_SectionFound; }

private:
    DxfPairStatus Next(CDxfPair& pair);
    // Sets the file back before the pair last read by Next.
    void PutBack() { (void)std::fseek(m_File, m_PairStart, SEEK_SET); }
    void Report();
    bool Fail(const std::string& text)
    {
        if (m_Error.empty())
            m_Error = text;
        return false;
    }

    bool ReadHeader();
    bool ReadTables();
    // The records named recordName up to ENDTAB; false when the table ends
    // at anything else.
    template <class ReadRecord>
    bool ReadTableRecords(const char* recordName, ReadRecord&& readRecord);
    bool ReadVportTable();
    bool ReadVport();
    bool ReadLayerTable();
    void ReadLayerRecord();
    bool SkipSection(const char* name);
    // A SECTION met inside a section: the one being read lost its ENDSEC,
    // and reading on would swallow the sections after it.
    [[nodiscard]] static bool StartsSection(const CDxfPair& pair)
    {
        return pair.code == 0 && DxfNameIs(pair.value, "SECTION");
    }
    bool FailUnended(const char* name)
    {
        return Fail(std::string("The ") + name +
                    " section of the DXF file has no end: another SECTION starts inside it.");
    }
    int ReadEntities();
    int ReadEntity(std::unique_ptr<CEntity>& entity, std::string& layerName);
    void PlaceEntity(std::unique_ptr<CEntity> entity, const std::string& layerName);
    // Counts an entity of this kind that the drawing did not get: one the
    // drawing cannot hold, or one whose record was refused.
    enum class LeftOutWhy { kUnsupported, kRefused, kPattern };
    void CountLeftOut(const std::string& name, LeftOutWhy why);
    void WarnLeftOut() const;

    struct LeftOut {
        std::string kind;  // the entity name in upper case
        long unsupported = 0;
        long refused = 0;
        long patterns = 0;  // HATCH filled with a pattern
    };

    CGraph& m_Graph;
    std::FILE* m_File;
    GraphProgress m_Progress;
    double m_Factor;
    std::string m_Message;
    int m_LastPercent = 0;  // the caller reports 0 before reading
    long m_PairStart = 0;
    bool m_SectionFound = false;
    long m_BadCodeAt = -1;
    std::string m_BadCode;
    std::string m_Error;
    std::vector<LeftOut> m_LeftOut;  // in the order first met
    long m_WithoutLayer = 0;         // entities put on layer "0"
};

DxfPairStatus CDxfImporter::Next(CDxfPair& pair)
{
    m_PairStart = std::ftell(m_File);
    long codeAt = -1;
    const DxfPairStatus status = ReadDxfPair(m_File, pair, &codeAt);
    if (status == DxfPairStatus::kBadCode && m_BadCodeAt < 0) {
        m_BadCodeAt = codeAt;
        m_BadCode = pair.value;
    }
    Report();
    return status;
}

void CDxfImporter::Report()
{
    if (m_Progress == nullptr)
        return;
    const long position = std::ftell(m_File);
    const int percent = std::clamp(static_cast<int>(position * m_Factor), 0, 100);
    // Once per percent: a callback per line would cost more than the reading.
    if (percent == m_LastPercent)
        return;
    m_LastPercent = percent;
    m_Progress(m_Message, percent);
}

bool CDxfImporter::ReadSections()
{
    CDxfPair pair;
    for (;;) {
        const DxfPairStatus status = Next(pair);
        if (status == DxfPairStatus::kEnd)
            break;
        // Between sections anything is passed over.
        if (status == DxfPairStatus::kBadCode || pair.code != 0)
            continue;
        if (DxfNameIs(pair.value, "EOF"))
            break;
        if (!DxfNameIs(pair.value, "SECTION"))
            continue;
        if (Next(pair) != DxfPairStatus::kPair || pair.code != 2)
            return Fail("A SECTION of the DXF file has no name.");
        m_SectionFound = true;
        if (DxfNameIs(pair.value, "HEADER")) {
            if (!ReadHeader())
                return false;
        } else if (DxfNameIs(pair.value, "TABLES")) {
            if (!ReadTables())
                return false;
        } else if (DxfNameIs(pair.value, "BLOCKS")) {
            if (!SkipSection("BLOCKS"))
                return false;
        } else if (DxfNameIs(pair.value, "ENTITIES")) {
            if (ReadEntities() != kEntitySectionEnd)
                return false;
        }
        // Other sections (CLASSES, OBJECTS, ...) are passed over by the loop.
    }
    if (!m_SectionFound)
        return Fail("The file is not a DXF text file: it holds no SECTION.");
    if (m_WithoutLayer > 0)
        DxfWarning(std::to_string(m_WithoutLayer) + (m_WithoutLayer == 1 ? " entity had" : " entities had") +
                   " no layer and went to layer \"0\".");
    return true;
}

// ---- HEADER -------------------------------------------------------------------

bool CDxfImporter::ReadHeader()
{
    enum class Expect { kVariable, kSkipOne, kCodePage, kColor, kLayer, kWidth, kOrtho, kOsnap };
    Expect expect = Expect::kVariable;
    std::string variable;
    CDxfPair pair;
    for (;;) {
        const DxfPairStatus status = Next(pair);
        if (status == DxfPairStatus::kEnd)
            return Fail("The DXF file ends inside its HEADER section.");
        const bool isPair = status == DxfPairStatus::kPair;
        if (isPair && pair.code == 0 && DxfNameIs(pair.value, "ENDSEC"))
            return true;
        if (isPair && StartsSection(pair))
            return FailUnended("HEADER");
        if (expect == Expect::kVariable) {
            if (!isPair || pair.code != 9)
                continue;
            variable = pair.value;
            if (DxfNameIs(variable, "$CECOLOR"))
                expect = Expect::kColor;
            else if (DxfNameIs(variable, "$CLAYER"))
                expect = Expect::kLayer;
            else if (DxfNameIs(variable, "$PLINEWID"))
                expect = Expect::kWidth;
            else if (DxfNameIs(variable, "$ORTHOMODE"))
                expect = Expect::kOrtho;
            else if (DxfNameIs(variable, "$OSMODE"))
                expect = Expect::kOsnap;
            else if (DxfNameIs(variable, "$DWGCODEPAGE"))
                expect = Expect::kCodePage;
            else
                expect = Expect::kSkipOne;
            continue;
        }
        // The names that follow are read in the file's code page; a value of
        // another kind is passed over like that of any other variable.
        if (expect == Expect::kCodePage && isPair && pair.code == 3)
            SetDxfCodePage(pair.value);
        if (expect == Expect::kSkipOne || expect == Expect::kCodePage) {
            expect = Expect::kVariable;
            continue;
        }
        std::int32_t n = 0;
        double w = 0;
        bool applied = false;
        if (isPair) {
            switch (expect) {
            case Expect::kColor:
                if ((applied = pair.code == 62 && ParseDxfInt(pair.value, n)))
                    (void)m_Graph.SetCurrentColor(n >= 1 && n <= 256 ? n : ENTITY_COLOR_BY_LAYER);
                break;
            case Expect::kLayer:
                if ((applied = pair.code == 8))
                    (void)m_Graph.SelectOrAddLayer(DxfNameToUtf8(pair.value));
                break;
            case Expect::kWidth:
                if ((applied = pair.code == 40 && ParseDxfCoordinate(pair.value, w)))
                    (void)m_Graph.SetCurrentWidth(w > 0 ? w : 0.0);
                break;
            case Expect::kOrtho:
                if ((applied = pair.code == 70 && ParseDxfInt(pair.value, n)))
                    m_Graph.SetOrtho(n != 0);
                break;
            case Expect::kOsnap:
                if ((applied = pair.code == 70 && ParseDxfInt(pair.value, n))) {
                    const std::uint32_t mask = n >= 1 ? static_cast<std::uint32_t>(n) : 0;
                    m_Graph.SetObjectSnapMask(mask);
                    m_Graph.SetObjectSnapOn(mask != 0);
                }
                break;
            default: break;
            }
        }
        if (!applied)
            return Fail("The DXF header variable " + variable + " has a malformed value.");
        expect = Expect::kVariable;
    }
}

// ---- TABLES -------------------------------------------------------------------

bool CDxfImporter::ReadTables()
{
    CDxfPair pair;
    for (;;) {
        const DxfPairStatus status = Next(pair);
        if (status == DxfPairStatus::kEnd)
            return Fail("The DXF file ends inside its TABLES section.");
        if (status == DxfPairStatus::kBadCode || pair.code != 0)
            continue;
        if (DxfNameIs(pair.value, "ENDSEC"))
            return true;
        if (StartsSection(pair))
            return FailUnended("TABLES");
        if (!DxfNameIs(pair.value, "TABLE"))
            continue;
        if (Next(pair) != DxfPairStatus::kPair || pair.code != 2)
            return Fail("A TABLE of the DXF file has no name.");
        // A table cut short leaves the pair that ended it to this loop.
        if (DxfNameIs(pair.value, "VPORT"))
            (void)ReadVportTable();
        else if (DxfNameIs(pair.value, "LAYER"))
            (void)ReadLayerTable();
    }
}

template <class ReadRecord>
bool CDxfImporter::ReadTableRecords(const char* recordName, ReadRecord&& readRecord)
{
    CDxfPair pair;
    for (;;) {
        const DxfPairStatus status = Next(pair);
        if (status == DxfPairStatus::kEnd)
            return false;
        if (status == DxfPairStatus::kBadCode || pair.code != 0)
            continue;
        if (DxfNameIs(pair.value, "ENDTAB"))
            return true;
        if (DxfNameIs(pair.value, recordName)) {
            readRecord();
            continue;
        }
        PutBack();
        return false;
    }
}

bool CDxfImporter::ReadVportTable()
{
    bool activeFound = false;
    return ReadTableRecords("VPORT", [&] {
        if (!activeFound)
            activeFound = ReadVport();
    });
}

bool CDxfImporter::ReadVport()
{
    frDoublePoint base = m_Graph.GetSnapBase();
    double angle = m_Graph.GetSnapAngle();
    double spacingX = m_Graph.GetGridSpacingX(), spacingY = m_Graph.GetGridSpacingY();
    bool snapOn = m_Graph.GetGridShown();
    bool active = false;
    CDxfPair pair;
    for (;;) {
        if (Next(pair) != DxfPairStatus::kPair)
            return false;
        double value = 0;
        std::int32_t n = 0;
        switch (pair.code) {
        case 0:
            PutBack();
            if (active) {
                (void)m_Graph.SetSnapBase(base);
                (void)m_Graph.SetSnapAngle(angle);
                (void)m_Graph.SetGridSpacing(spacingX, spacingY);
                m_Graph.SetGridShown(snapOn);
            }
            return active;
        case 2: active = DxfNameIs(pair.value, "*ACTIVE"); break;
        case 13:
            if (ParseDxfCoordinate(pair.value, value))
                base.x = value;
            break;
        case 23:
            if (ParseDxfCoordinate(pair.value, value))
                base.y = value;
            break;
        case 14:
            if (ParseDxfCoordinate(pair.value, value))
                spacingX = value;
            break;
        case 24:
            if (ParseDxfCoordinate(pair.value, value))
                spacingY = value;
            break;
        case 50:
            if (ParseDxfCoordinate(pair.value, value))
                angle = value / 180.0 * PI;
            break;
        case 75:
            if (ParseDxfInt(pair.value, n))
                snapOn = n != 0;
            break;
        default: break;
        }
    }
}

bool CDxfImporter::ReadLayerTable()
{
    return ReadTableRecords("LAYER", [&] {
        ReadLayerRecord();
        Report();
    });
}

void CDxfImporter::ReadLayerRecord()
{
    std::unique_ptr<CLayer> layer(new (std::nothrow) CLayer);
    // A record without a name is dropped; the table goes on.
    if (!layer || !layer->ReadDXF(m_File))
        return;
    if (CLayer* existing = m_Graph.FindLayerByName(layer->GetName())) {
        existing->SetColor(layer->GetColor());
        existing->SetVisible(layer->IsVisible());
        return;
    }
    CLayer* previous = m_Graph.GetCurrentLayer();
    m_Graph.AddLayer(layer.release());
    if (previous)
        (void)m_Graph.SetCurrentLayer(previous);
}

bool CDxfImporter::SkipSection(const char* name)
{
    CDxfPair pair;
    for (;;) {
        const DxfPairStatus status = Next(pair);
        if (status == DxfPairStatus::kEnd)
            return Fail(std::string("The DXF file ends inside its ") + name + " section.");
        if (status == DxfPairStatus::kPair && pair.code == 0 && DxfNameIs(pair.value, "ENDSEC"))
            return true;
        if (status == DxfPairStatus::kPair && StartsSection(pair))
            return FailUnended(name);
    }
}

// ---- ENTITIES -----------------------------------------------------------------

int CDxfImporter::ReadEntities()
{
    std::string layerName;
    for (;;) {
        std::unique_ptr<CEntity> entity;
        // An entity without a layer of its own is on layer "0", as in every
        // CAD program, not on the layer of the entity before it.
        layerName.clear();
        const int result = ReadEntity(entity, layerName);
        if (result == kEntityEndOfFile)
            Fail("The DXF file ends inside its ENTITIES section.");
        if (result == kEntityNoMemory)
            Fail("Not enough memory to read the DXF file.");
        if (result == kEntitySectionEnd)
            WarnLeftOut();
        if (result != kEntityRead && result != kEntityDropped)
            return result;
        Report();
        if (result != kEntityRead)
            continue;
        if (layerName.empty()) {
            layerName = kDefaultLayer;
            ++m_WithoutLayer;
        }
        PlaceEntity(std::move(entity), layerName);
    }
}

void CDxfImporter::CountLeftOut(const std::string& name, LeftOutWhy why)
{
    std::string kind = name.substr(0, kMaxKindLength);
    for (char& c : kind)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    auto it = std::find_if(m_LeftOut.begin(), m_LeftOut.end(), [&](const LeftOut& l) { return l.kind == kind; });
    if (it == m_LeftOut.end()) {
        // A file of made-up names must not grow the tally without end.
        if (m_LeftOut.size() >= kMaxLeftOutKinds)
            kind = kOtherKinds;
        it = std::find_if(m_LeftOut.begin(), m_LeftOut.end(), [&](const LeftOut& l) { return l.kind == kind; });
        if (it == m_LeftOut.end())
            it = m_LeftOut.insert(m_LeftOut.end(), LeftOut{kind});
    }
    ++(why == LeftOutWhy::kRefused ? it->refused : why == LeftOutWhy::kPattern ? it->patterns : it->unsupported);
}

// One line per kind, so that nobody loses part of a drawing without knowing.
void CDxfImporter::WarnLeftOut() const
{
    const auto count = [](long n, const std::string& kind) {
        return std::to_string(n) + " " + kind + (n == 1 ? " entity was" : " entities were");
    };
    for (const LeftOut& l : m_LeftOut) {
        if (l.unsupported > 0)
            DxfWarning(count(l.unsupported, l.kind) + " left out: the drawing cannot hold this kind of entity.");
        if (l.refused > 0)
            DxfWarning(count(l.refused, l.kind) +
                       " left out: missing, unreadable or out-of-range values, or too few points.");
        if (l.patterns > 0)
            DxfWarning(count(l.patterns, l.kind) + " left out: a hatch pattern is not kept, only solid fills.");
    }
}

void CDxfImporter::PlaceEntity(std::unique_ptr<CEntity> entity, const std::string& layerName)
{
    CLayer* previous = m_Graph.GetCurrentLayer();
    if (CLayer* layer = m_Graph.SelectOrAddLayer(layerName))
        (void)layer->AddEntity(entity.release());
    if (previous)
        (void)m_Graph.SetCurrentLayer(previous);
}

int CDxfImporter::ReadEntity(std::unique_ptr<CEntity>& entity, std::string& layerName)
{
    CDxfPair pair;
    for (;;) {
        const DxfPairStatus status = Next(pair);
        if (status == DxfPairStatus::kEnd)
            return kEntityEndOfFile;
        if (status == DxfPairStatus::kBadCode || pair.code != 0)
            continue;
        const std::string& name = pair.value;
        if (DxfNameIs(name, "ENDSEC"))
            return kEntitySectionEnd;
        if (DxfNameIs(name, "EOF") || DxfNameIs(name, "SECTION")) {
            // The section lacks its end marker: the section loop takes over.
            PutBack();
            return kEntitySectionEnd;
        }
        const bool isLwPolyline = DxfNameIs(name, "LWPOLYLINE");
        const bool isPolyline = DxfNameIs(name, "POLYLINE");
        const bool isSolid = DxfNameIs(name, "SOLID");
        if (isLwPolyline || isPolyline)
            entity.reset(new (std::nothrow) CPolyLine);
        else if (DxfNameIs(name, "LINE"))
            entity.reset(new (std::nothrow) CLine);
        else if (DxfNameIs(name, "CIRCLE"))
            entity.reset(new (std::nothrow) CCircle);
        else if (DxfNameIs(name, "ARC"))
            entity.reset(new (std::nothrow) CArc);
        else if (isSolid || DxfNameIs(name, "3DFACE"))
            entity.reset(new (std::nothrow) CSolid);
        else if (DxfNameIs(name, "HATCH"))
            entity.reset(new (std::nothrow) CPolyPolygon);
        else {
            // Paper-space viewports are views, not part of the drawing.
            if (!DxfNameIs(name, "VIEWPORT"))
                CountLeftOut(name, LeftOutWhy::kUnsupported);
            continue;  // its groups are passed over by this loop
        }
        if (!entity)
            return kEntityNoMemory;

        if (isPolyline || isLwPolyline) {
            auto* polyline = static_cast<CPolyLine*>(entity.get());
            const bool read =
                isPolyline ? polyline->ReadDXFR10(m_File, &layerName) : polyline->ReadDXF(m_File, &layerName);
            if (!read || polyline->IsDegenerate()) {
                entity.reset();
                CountLeftOut(name, LeftOutWhy::kRefused);
                return kEntityDropped;
            }
            // Two bulged vertices may describe a whole circle or one arc.
            if (std::unique_ptr<CEntity> curve = PolylineToCircleOrArc(*polyline))
                entity = std::move(curve);
            return kEntityRead;
        }
        if (!entity->ReadDXF(m_File, &layerName)) {
            const bool pattern =
                DxfNameIs(name, "HATCH") && static_cast<CPolyPolygon*>(entity.get())->WasPatternHatch();
            entity.reset();
            CountLeftOut(name, pattern ? LeftOutWhy::kPattern : LeftOutWhy::kRefused);
            return kEntityDropped;
        }
        // SOLID corners run 1, 2, 4, 3 (3DFACE corners run round the face).
        if (isSolid && entity->GetPointCount() == 4)
            static_cast<CSolid*>(entity.get())->SwapLastTwo();
        return kEntityRead;
    }
}

// Reads the first bytes and sets the stream back.
bool StartsWithBinarySentinel(std::FILE* file, long start)
{
    char head[sizeof kBinarySentinel] = {};
    const std::size_t got = std::fread(head, 1, sizeof kBinarySentinel - 1, file);
    (void)std::fseek(file, start, SEEK_SET);
    return got == sizeof kBinarySentinel - 1 && std::memcmp(head, kBinarySentinel, got) == 0;
}

// Text editors may put a UTF-8 byte order mark before the first code.
void SkipByteOrderMark(std::FILE* file, long start)
{
    unsigned char head[3] = {};
    const bool mark = std::fread(head, 1, 3, file) == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
    (void)std::fseek(file, mark ? start + 3 : start, SEEK_SET);
}

// The line (from 1) at a position of the stream, counting a lone CR as a line end.
long LineNumberAt(std::FILE* file, long start, long at)
{
    long line = 1;
    if (std::fseek(file, start, SEEK_SET) != 0)
        return line;
    int previous = 0;
    for (long i = start; i < at; ++i) {
        const int c = std::getc(file);
        if (c == EOF)
            break;
        if (c == '\n' || (previous == '\r' && c != '\n'))
            ++line;
        previous = c;
    }
    return previous == '\r' ? line + 1 : line;
}

}  // namespace

bool CGraph::ReadDXF(const std::string& path, GraphProgress progress, std::string* error,
                     std::vector<std::string>* warnings)
{
    std::string reason;
    bool ok = false;
    if (path.empty()) {
        reason = "No DXF file name was given.";
    } else if (std::FILE* file = OpenInputStream(path, &reason)) {
        ok = ReadDXFStream(file, progress, &reason, warnings);
        std::fclose(file);
    } else {
        reason = GetLanString("GraphOpenDXFFail", "Can't open DXF file!") + " (" + reason + ")";
    }
    if (ok)
        return true;
    if (error)
        *error = reason;
    else
        (void)ShowMessageBox(reason);
    return false;
}

bool CGraph::ReadDXFStream(std::FILE* file, GraphProgress progress, std::string* error,
                           std::vector<std::string>* warnings)
{
    if (file == nullptr)
        return false;
    const long start = std::ftell(file);
    long size = 0;
    if (start >= 0 && std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file) - start;
    if (start < 0 || std::fseek(file, start, SEEK_SET) != 0) {
        if (error)
            *error = "The DXF stream cannot be read.";
        return false;
    }
    if (StartsWithBinarySentinel(file, start)) {
        if (error)
            *error = "Binary DXF files cannot be read; save the drawing as DXF text.";
        return false;
    }
    SkipByteOrderMark(file, start);

    // The fresh drawing starts from this one's settings: the file may set
    // only some of them.
    CGraph imported;
    imported.RemoveAllLayers();
    imported.m_CurrentColor = m_CurrentColor;
    imported.m_CurrentWidth = m_CurrentWidth;
    imported.m_Ortho = m_Ortho;
    imported.m_ObjectSnapMask = m_ObjectSnapMask;
    imported.m_ObjectSnapOn = m_ObjectSnapOn;
    imported.m_GridShown = m_GridShown;
    imported.m_SnapBase = m_SnapBase;
    imported.m_SnapAngle = m_SnapAngle;
    imported.m_GridSpacingX = m_GridSpacingX;
    imported.m_GridSpacingY = m_GridSpacingY;

    const std::string message = GetLanString("GraphReadDXF", "Reading DXF file...");
    if (progress)
        progress(message, 0);
    bool ok;
    std::string reason;
    {
        DxfWarningScope scope(warnings);
        DxfTextScope text;
        CDxfImporter importer(imported, file, progress, size);
        ok = importer.ReadSections();
        reason = importer.Error();
        // Pairs out of step are passed over between records, so a file of
        // them would read as an empty drawing; where they made the reading
        // fail, they are the first cause.
        if (importer.BadCodeAt() >= 0 && (ok || importer.FoundSection())) {
            ok = false;
            reason = FormatC("Line %ld of the DXF file holds the group code '%s', which is not a number.",
                             LineNumberAt(file, start, importer.BadCodeAt()), importer.BadCode().c_str());
        }
    }
    if (progress)
        progress(message, 100);
    if (!ok) {
        if (error)
            *error = reason;
        return false;
    }
    if (imported.m_FirstLayer == nullptr)
        (void)imported.SelectOrAddLayer("0");
    if (imported.m_CurrentLayer == nullptr)
        imported.m_CurrentLayer = imported.m_FirstLayer;

    ClearGrips();
    ClearSelection();
    RemoveAllLayers();
    CLayer* const current = imported.m_CurrentLayer;
    // Each new layer went to the head: turned round, the list has the file's
    // order (table records, then layers only entities named), so a DXF
    // written again lists them as the file did.
    CLayer* reversed = nullptr;
    for (CLayer* l = imported.DetachLayers(); l;) {
        CLayer* next = l->GetNext();
        l->SetNext(reversed);
        reversed = l;
        l = next;
    }
    AttachLayers(reversed, current);
    m_CurrentColor = imported.m_CurrentColor;
    m_CurrentWidth = imported.m_CurrentWidth;
    m_Ortho = imported.m_Ortho;
    m_ObjectSnapMask = imported.m_ObjectSnapMask;
    m_ObjectSnapOn = imported.m_ObjectSnapOn;
    m_GridShown = imported.m_GridShown;
    m_SnapBase = imported.m_SnapBase;
    m_SnapAngle = imported.m_SnapAngle;
    m_GridSpacingX = imported.m_GridSpacingX;
    m_GridSpacingY = imported.m_GridSpacingY;
    SetModified(false);
    InvalidateExtents();
    return true;
}
