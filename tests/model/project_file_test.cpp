// The project file: its framing byte by byte, a stable round trip, and loads
// that either take the whole file or leave the drawing exactly as it was.
#include "model/graph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sys/stat.h>

#include "model/circle.h"
#include "model/entity.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/solid.h"
#include "model/undo.h"
#include "raster/raster_entity.h"
#include "raster/raster_test_support.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// What WriteProject makes of the drawing now: equal bytes, equal drawings.
std::string Snapshot(CGraph& drawing)
{
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* memory = open_memstream(&data, &size);
    const bool written = drawing.WriteProject(memory);
    std::fclose(memory);
    std::string bytes = written ? std::string(data, size) : "(not written)";
    std::free(data);
    return bytes;
}

// ReadProject over the bytes, as LoadProject reads an opened file.
bool ReadBytes(CGraph& drawing, const std::string& bytes, std::string* error = nullptr)
{
    std::FILE* file = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
    const bool loaded = drawing.ReadProject(file, error);
    std::fclose(file);
    return loaded;
}

std::vector<std::string> LayerNames(const CGraph& drawing)
{
    std::vector<std::string> names;
    for (CLayer* l = drawing.GetFirstLayer(); l; l = l->GetNext())
        names.push_back(l->GetName());
    return names;
}

template <typename T>
T* Add(CLayer* layer, T* entity)
{
    layer->AddEntity(entity);
    return entity;
}

// Layers "B", "A", "Trace" in list order holding one entity of every class,
// settings away from their defaults and a small grey raster.
void MakeDrawing(CGraph& drawing)
{
    CLayer* trace = drawing.GetCurrentLayer();
    CLayer* a = drawing.SelectOrAddLayer("A");
    CLayer* b = drawing.SelectOrAddLayer("B");
    a->SetSavedName("kept aside");
    a->SetVisible(false);
    a->SetColor(3);

    CLine* line = Add(trace, new CLine);
    line->SetEnds({1, 2, 0}, {30, 4, 0});
    line->m_Color = 1;
    line->m_Width = 2.5;
    auto* polyline = Add(trace, new CPolyLine);
    polyline->AddVertex(new CVertex(0, 0, 1, 1, 0), true);
    polyline->AddVertex(new CVertex(10, 0, 1, 2, 0), true);
    polyline->AddVertex(new CVertex(10, 10, 2, 2, 0), true);
    auto* circle = Add(a, new CCircle);
    circle->m_Centre = {50, 50, 0};
    circle->m_Radius = 7;
    auto* arc = Add(a, new CArc);
    arc->m_Centre = {20, 60, 0};
    arc->m_Radius = 5;
    arc->SetStartAngle(0.5);
    arc->SetEndAngle(2.0);
    auto* solid = Add(b, new CSolid);
    ASSERT_TRUE(solid->AppendVertex(CVertex(0, 0, 0, 0, 0)));
    ASSERT_TRUE(solid->AppendVertex(CVertex(4, 0, 0, 0, 0)));
    ASSERT_TRUE(solid->AppendVertex(CVertex(0, 4, 0, 0, 0)));
    auto* region = Add(b, new CPolyPolygon);
    auto outline = std::make_unique<CPolyLine>();
    outline->AddVertex(new CVertex(60, 60, 0, 0, 0), true);
    outline->AddVertex(new CVertex(70, 60, 0, 0, 0), true);
    outline->AddVertex(new CVertex(65, 70, 0, 0, 0), true);
    ASSERT_TRUE(region->AddOutline(std::move(outline)));

    ASSERT_TRUE(drawing.SetUnit(UNIT_MM));
    ASSERT_TRUE(drawing.SetGridSpacing(5, 7.5));
    ASSERT_TRUE(drawing.SetSnapBase({1.5, -2, 0}));
    ASSERT_TRUE(drawing.SetSnapAngle(0.25));
    drawing.SetObjectSnapMask(0x3B4);
    drawing.SetGridShown(true);
    drawing.SetOrtho(true);

    CRaster* raster = drawing.GetRaster();
    ASSERT_NE(raster, nullptr);
    CRasterSrc& image = raster->GetImage();
    ASSERT_TRUE(image.Create(24, 16, 8));
    image.SetGreyRamp();
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x)
            image.SetPixelIndex(x, y, (x * 11 + y * 5) & 0xFF);
    ASSERT_TRUE(raster->SetOrigin(3, 4));
    raster->SetResolution(11811, 11811);
}

std::vector<std::pair<std::string, int>> g_progress;
void RecordProgress(const std::string& text, int percent) { g_progress.emplace_back(text, percent); }

class ProjectFile : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return folder / name; }
    TempFolder folder;
};

// Offsets into the file.
constexpr std::size_t kUnitAt = 4;
constexpr std::size_t kSnapBaseXAt = 20;
constexpr std::size_t kSnapAngleAt = 36;
constexpr std::size_t kGridXAt = 44;
constexpr std::size_t kGridYAt = 52;
constexpr std::size_t kLayerCountAt = 68;
constexpr std::size_t kFirstLayerAt = 72;

void PutU32(std::string& bytes, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(v >> (8 * i));
}
void PutF64(std::string& bytes, std::size_t at, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i)
        bytes[at + i] = static_cast<char>(bits >> (8 * i));
}

}  // namespace

// ---- layout and round trip ------------------------------------------------

TEST_F(ProjectFile, OneLineDrawingHasTheFixedFraming)
{
    ResetIdCounter(48);
    CGraph drawing;  // layer "Trace" id 48, raster 49
    CLine* line = Add(drawing.GetCurrentLayer(), new CLine);
    line->SetEnds({0, 0, 0}, {1, 1, 0});
    ASSERT_TRUE(drawing.SaveProject(Path("one.lwt"), nullptr));
    const std::string bytes = ReadFile(Path("one.lwt"));
    ASSERT_GT(bytes.size(), 72u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x00\x00\x80\x3F", 4));
    EXPECT_EQ(bytes.substr(kUnitAt, 4), std::string("\x03\0\0\0", 4));       // pixel
    EXPECT_EQ(bytes.substr(64, 8), std::string("\x01\0\0\0\x01\0\0\0", 8));  // 1 entity, 1 layer
    // The layer block: id 48, "Trace", empty saved name, visible, colour, 1 entity.
    EXPECT_EQ(bytes.substr(kFirstLayerAt, 13), std::string("\x30\0\0\0\x05\0\0\0Trace", 13));
    EXPECT_EQ(bytes.substr(kFirstLayerAt + 13, 5), std::string("\0\0\0\0\x01", 5));
    EXPECT_EQ(bytes.substr(kFirstLayerAt + 22, 4), std::string("\x01\0\0\0", 4));
    // Then the line's record and, after it, the raster's (type 5, id 49).
    const std::size_t lineAt = kFirstLayerAt + 26;
    EXPECT_EQ(bytes.substr(lineAt, 4), std::string("\x01\0\0\0", 4));
    const std::size_t rasterAt = lineAt + 34 + 32;  // common record and two points
    EXPECT_EQ(bytes.substr(rasterAt, 8), std::string("\x05\0\0\0\x31\0\0\0", 8));
}

TEST_F(ProjectFile, SaveLoadSaveGivesTheSameBytesAndTheSameDrawing)
{
    CGraph drawing;
    MakeDrawing(drawing);
    g_progress.clear();
    ASSERT_TRUE(drawing.SaveProject(Path("first.lwt"), RecordProgress));
    EXPECT_FALSE(drawing.IsModified());
    EXPECT_EQ(g_progress, (std::vector<std::pair<std::string, int>>{{"Saving Lineweft Project file...", 0},
                                                                    {"Saving Lineweft Project file...", 100}}));

    CGraph loaded;
    loaded.SelectOrAddLayer("Old");
    // Raster undo items point at the image: the entity stays, its content changes.
    const CRaster* raster = loaded.GetRaster();
    loaded.GetRaster()->GetImage().GetEditSettings().brushHalfWidth = 3;
    g_progress.clear();
    std::string error;
    ASSERT_TRUE(loaded.LoadProject(Path("first.lwt"), RecordProgress, &error)) << error;
    EXPECT_EQ(g_progress.back(), (std::pair<std::string, int>{"Openning Lineweft Project file...", 100}));
    EXPECT_FALSE(loaded.IsModified());
    EXPECT_EQ(LayerNames(loaded), (std::vector<std::string>{"B", "A", "Trace"}));
    EXPECT_EQ(loaded.GetCurrentLayer(), loaded.GetFirstLayer());
    const CLayer* a = loaded.GetFirstLayer()->GetNext();
    EXPECT_EQ(a->GetSavedName(), "kept aside");
    EXPECT_FALSE(a->IsVisible());
    EXPECT_EQ(a->GetColor(), 3);
    EXPECT_EQ(a->GetOwner(), &loaded);
    EXPECT_EQ(loaded.GetEntityCount(), 6);
    EXPECT_EQ(loaded.GetUnit(), UNIT_MM);
    EXPECT_EQ(loaded.GetGridSpacingY(), 7.5);
    EXPECT_EQ(loaded.GetSnapBase().y, -2);
    EXPECT_EQ(loaded.GetObjectSnapMask(), 0x3B4u);
    EXPECT_TRUE(loaded.GetOrtho());
    EXPECT_EQ(loaded.GetRaster(), raster);
    EXPECT_EQ(raster->GetImage().GetWidth(), 24);
    EXPECT_EQ(raster->GetImage().GetEditSettings().brushHalfWidth, 3);
    EXPECT_EQ(raster->GetOriginY(), 4);
    // Every id read stays unique among the ids handed out later.
    for (CLayer* l = loaded.GetFirstLayer(); l; l = l->GetNext()) {
        EXPECT_LT(l->GetId(), GetIdCounter());
        for (CEntity* e = l->GetFirstEntity(); e; e = e->m_Next)
            EXPECT_LT(e->m_Id, GetIdCounter());
    }

    ASSERT_TRUE(loaded.SaveProject(Path("second.lwt"), nullptr));
    EXPECT_EQ(ReadFile(Path("second.lwt")), ReadFile(Path("first.lwt")));
}

// ---- failures leave the drawing as it was ---------------------------------

TEST_F(ProjectFile, TruncatedAndDamagedFilesFailAndLeaveTheDrawingUntouched)
{
    CGraph source;
    MakeDrawing(source);
    const std::string good = Snapshot(source);
    // The raster record follows the last layer block; a file may end right
    // there, or (written before the image flags existed) two bytes short.
    std::string rasterStart("\x05\0\0\0", 4);
    for (int i = 0; i < 4; ++i)
        rasterStart += static_cast<char>(source.GetRasterEntity()->m_Id >> (8 * i));
    const std::size_t rasterAt = good.rfind(rasterStart);
    ASSERT_NE(rasterAt, std::string::npos);
    for (std::size_t n = 0; n < good.size(); ++n) {
        CGraph target;
        target.SelectOrAddLayer("Mine");
        target.AddLine(1, 1, 5, 5);
        ASSERT_TRUE(target.GetRaster()->GetImage().Create(5, 5, 1));
        const std::string before = Snapshot(target);
        std::string error;
        const bool loaded = ReadBytes(target, good.substr(0, n), &error);
        if (n == rasterAt || n >= good.size() - 2) {
            EXPECT_TRUE(loaded) << n << ": " << error;
            continue;
        }
        ASSERT_FALSE(loaded) << "prefix " << n;
        EXPECT_FALSE(error.empty());
        ASSERT_EQ(Snapshot(target), before) << "prefix " << n;
    }

    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        CGraph victim;
        victim.AddLine(0, 0, 1, 1);
        const std::string victimBefore = Snapshot(victim);
        std::string damaged = good;
        for (int k = 0; k < 1 + round % 4; ++k)
            damaged[random() % damaged.size()] = static_cast<char>(random());
        if (!ReadBytes(victim, damaged)) {
            ASSERT_EQ(Snapshot(victim), victimBefore) << "round " << round;
            ASSERT_EQ(victim.GetLayerCount(), 1);
        } else {
            EXPECT_NE(victim.GetCurrentLayer(), nullptr);
        }
    }
}

TEST_F(ProjectFile, AFileWithoutARasterRecordEmptiesTheRaster)
{
    CGraph source;
    source.AddLine(0, 0, 3, 3);
    std::string bytes = Snapshot(source);
    bytes.resize(bytes.rfind(std::string("\x05\0\0\0", 4)));
    WriteFile(Path("bare.lwt"), bytes);

    CGraph target;
    ASSERT_TRUE(target.GetRaster()->GetImage().Create(8, 8, 8));
    ASSERT_TRUE(target.LoadProject(Path("bare.lwt"), nullptr));
    EXPECT_TRUE(target.GetRaster()->GetImage().IsEmpty());
    EXPECT_EQ(target.GetEntityCount(), 1);

    // A few bytes after the layers are a cut record, not "no raster".
    WriteFile(Path("stub.lwt"), bytes + std::string("\x05\0", 2));
    std::string error;
    EXPECT_FALSE(target.LoadProject(Path("stub.lwt"), nullptr, &error));
    EXPECT_NE(error.find("raster"), std::string::npos) << error;
}

TEST_F(ProjectFile, HeaderValuesNoSaveWritesAreRefused)
{
    CGraph source;
    source.AddLine(0, 0, 3, 3);
    const std::string good = Snapshot(source);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        std::size_t at;
        double value;  // -1: the unit 4
    };
    const Case cases[] = {
        {"unit 4", kUnitAt, -1},       {"grid x 0", kGridXAt, 0.0},          {"grid y negative", kGridYAt, -5},
        {"grid x NaN", kGridXAt, nan}, {"snap base NaN", kSnapBaseXAt, nan}, {"snap angle inf", kSnapAngleAt, INFINITY},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        if (c.value == -1 && c.at == kUnitAt)
            PutU32(bytes, kUnitAt, 4);
        else
            PutF64(bytes, c.at, c.value);
        WriteFile(Path("bad.lwt"), bytes);
        CGraph target;
        std::string error;
        EXPECT_FALSE(target.LoadProject(Path("bad.lwt"), nullptr, &error)) << c.what;
        EXPECT_NE(error.find("header"), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(target.GetGridSpacingX(), 25.0);
        EXPECT_EQ(target.GetUnit(), UNIT_PIXEL);
    }
}

TEST_F(ProjectFile, CountsAndRecordsThatCannotBeRightAreRefused)
{
    CGraph source;
    source.AddLine(0, 0, 3, 3);
    const std::string good = Snapshot(source);
    const auto refused = [&](std::string bytes, const char* expected) {
        WriteFile(Path("bad.lwt"), bytes);
        CGraph target;
        std::string error;
        const bool loaded = target.LoadProject(Path("bad.lwt"), nullptr, &error);
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        return !loaded;
    };

    std::string bytes = good;
    PutU32(bytes, kLayerCountAt, 0xFFFFFFFF);  // checked before anything is allocated
    EXPECT_TRUE(refused(bytes, "layer count"));
    bytes = good;
    PutU32(bytes, kFirstLayerAt + 4, 256);  // a name one byte too long
    EXPECT_TRUE(refused(bytes, "layer 1 of 1"));
    bytes = good;
    PutU32(bytes, kFirstLayerAt + 26, ENTITY_RASTER);  // a raster record inside the layer
    EXPECT_TRUE(refused(bytes, "layer 1 of 1"));
    bytes = good;
    PutU32(bytes, good.rfind(std::string("\x05\0\0\0", 4)), ENTITY_LINE);  // not a raster after the layers
    EXPECT_TRUE(refused(bytes, "not a raster"));
}

TEST_F(ProjectFile, IdsWithoutRoomAboveThemGetFreshOnesAndNewIdsStayUnique)
{
    const std::uint32_t counter = GetIdCounter();
    ResetIdCounter(1000);  // the file's own ids stay small
    CGraph source;
    source.AddLine(0, 0, 3, 3);
    source.AddLine(5, 5, 6, 6);
    const std::string good = Snapshot(source);
    const std::size_t lineIdAt = kFirstLayerAt + 26 + 4;  // after the "Trace" block and the type
    const std::size_t secondIdAt = lineIdAt + 34 + 32;    // a line's record is 66 bytes

    // Below the limit ids are kept and raise the counter.
    std::string bytes = good;
    PutU32(bytes, lineIdAt, ENTITY_ID_LIMIT - 10);
    CGraph kept;
    ASSERT_TRUE(ReadBytes(kept, bytes));
    EXPECT_NE(kept.FindEntity(ENTITY_ID_LIMIT - 10), nullptr);
    EXPECT_GT(GetIdCounter(), ENTITY_ID_LIMIT - 10);
    EXPECT_LT(GetIdCounter(), ENTITY_ID_LIMIT);

    // At the limit and above: the counter stays, the entities and the layer
    // get fresh ids, and the file's other ids are kept.
    ResetIdCounter(1100);
    for (const std::uint32_t id : {0xFFFFFFFFu, ENTITY_ID_LIMIT}) {
        bytes = good;
        PutU32(bytes, kFirstLayerAt, id);
        PutU32(bytes, lineIdAt, id);
        PutU32(bytes, secondIdAt, 5000);
        CGraph drawing;
        CUndoList undo;
        drawing.SetUndoLists(nullptr, &undo);
        ASSERT_TRUE(ReadBytes(drawing, bytes));
        EXPECT_EQ(drawing.FindEntity(id), nullptr);
        ASSERT_NE(drawing.FindEntity(5000), nullptr);
        const std::uint32_t renumbered = drawing.GetCurrentLayer()->GetFirstEntity()->m_Id;
        EXPECT_GT(renumbered, 5000u);
        EXPECT_LT(renumbered, ENTITY_ID_LIMIT);
        EXPECT_NE(drawing.GetCurrentLayer()->GetId(), id);
        EXPECT_LT(GetIdCounter(), 6000u);

        // What is drawn next gets an id of its own, and undoing the drawing
        // removes only what was drawn.
        drawing.BeginTempPolyline();
        drawing.AddTempVertex(10, 10, 0, 0, 0);
        drawing.AddTempVertex(20, 10, 0, 0, 0);
        const std::uint32_t drawnId = drawing.GetTempPolyline()->m_Id;
        drawing.EndTempPolyline(true);
        EXPECT_NE(drawnId, renumbered);
        EXPECT_NE(drawnId, 5000u);
        EXPECT_EQ(drawing.GetEntityCount(), 3);
        ASSERT_TRUE(undo.UndoLast());
        EXPECT_EQ(drawing.GetEntityCount(), 2);
        EXPECT_NE(drawing.FindEntity(renumbered), nullptr);
        EXPECT_NE(drawing.FindEntity(5000), nullptr);
        EXPECT_EQ(drawing.FindEntity(drawnId), nullptr);
        drawing.SetUndoLists(nullptr, nullptr);

        // Saved again, the file holds only ids that load as they are.
        const std::string again = Snapshot(drawing);
        CGraph reloaded;
        ASSERT_TRUE(ReadBytes(reloaded, again));
        EXPECT_EQ(Snapshot(reloaded), again);
    }

    // An id without room read last must not pull the counter back under
    // the ids read before it.
    ResetIdCounter(FIRST_ENTITY_ID);
    bytes = good;
    PutU32(bytes, kFirstLayerAt, 60);
    PutU32(bytes, lineIdAt, FIRST_ENTITY_ID + 1);
    PutU32(bytes, secondIdAt, 0xFFFFFFFFu);
    {
        CGraph drawing;
        ASSERT_TRUE(ReadBytes(drawing, bytes));
        const CEntity* first = drawing.GetCurrentLayer()->GetFirstEntity();
        ASSERT_TRUE(first && first->m_Next);
        EXPECT_EQ(first->m_Id, FIRST_ENTITY_ID + 1);
        EXPECT_NE(first->m_Next->m_Id, first->m_Id);
        EXPECT_NE(first->m_Next->m_Id, drawing.GetCurrentLayer()->GetId());
        EXPECT_NE(first->m_Next->m_Id, drawing.GetRaster()->m_Id);
        const std::uint32_t next = TakeNextId();  // what the next entity drawn gets
        EXPECT_GT(next, std::max(first->m_Id, first->m_Next->m_Id));
    }

    ResetIdCounter(counter);
}

TEST_F(ProjectFile, ColoursThatAreNoIndexLoadByLayer)
{
    CGraph source;
    source.AddLine(0, 0, 3, 3)->m_Color = 5;
    const std::string good = Snapshot(source);
    const std::size_t layerColourAt = kFirstLayerAt + 18;
    const std::size_t lineColourAt = kFirstLayerAt + 26 + 8;
    const auto load = [&](std::size_t at, std::uint32_t value, int bytesWide) {
        std::string bytes = good;
        const char raw[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                             static_cast<char>(value >> 24)};
        bytes.replace(at, static_cast<std::size_t>(bytesWide), raw, static_cast<std::size_t>(bytesWide));
        CGraph target;
        EXPECT_TRUE(ReadBytes(target, bytes));
        return std::make_pair(target.GetFirstLayer()->GetFirstEntity()->m_Color, target.GetFirstLayer()->GetColor());
    };
    EXPECT_EQ(load(lineColourAt, 300, 2).first, ENTITY_COLOR_BY_LAYER);
    EXPECT_EQ(load(lineColourAt, 0, 2).first, ENTITY_COLOR_BY_LAYER);
    EXPECT_EQ(load(lineColourAt, 0xFFFF, 2).first, ENTITY_COLOR_BY_LAYER);
    EXPECT_EQ(load(lineColourAt, 255, 2).first, 255);
    EXPECT_EQ(load(lineColourAt, 256, 2).first, ENTITY_COLOR_BY_LAYER);
    EXPECT_EQ(load(lineColourAt, 1, 2).first, 1);
    EXPECT_EQ(load(layerColourAt, 300, 4).second, 7);
    EXPECT_EQ(load(layerColourAt, 0xFFFFFFFF, 4).second, 7);
    EXPECT_EQ(load(layerColourAt, 255, 4).second, 255);
}

TEST_F(ProjectFile, EmptyDrawingsAndUnreadablePathsFailWithAReason)
{
    CGraph empty;
    std::string error;
    EXPECT_FALSE(empty.SaveProject(Path("empty.lwt"), nullptr, &error));
    EXPECT_NE(error.find("no entities"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Path("empty.lwt")));

    // Saving goes beside the file: a failed save keeps the previous one.
    CGraph drawing;
    drawing.AddLine(0, 0, 1, 1);
    ASSERT_TRUE(drawing.SaveProject(Path("kept.lwt"), nullptr));
    const std::string kept = ReadFile(Path("kept.lwt"));
    EXPECT_FALSE(empty.SaveProject(Path("kept.lwt"), nullptr));
    EXPECT_EQ(ReadFile(Path("kept.lwt")), kept);
    EXPECT_FALSE(drawing.SaveProject(Path("missing/x.lwt"), nullptr, &error));

    // A read-only file is opened for reading only.
    ASSERT_EQ(::chmod(Path("kept.lwt").c_str(), 0444), 0);
    CGraph target;
    EXPECT_TRUE(target.LoadProject(Path("kept.lwt"), nullptr, &error)) << error;
    EXPECT_FALSE(target.LoadProject(Path("missing.lwt"), nullptr, &error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_FALSE(target.LoadProject(folder.Path(), nullptr, &error));
    EXPECT_EQ(target.GetEntityCount(), 1);
}
