#include "model/undo.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "platform/message_box.h"
#include "platform/number_text.h"
#include "platform/settings_store.h"
#include "raster/raster_src.h"
#include "test_entity.h"

#if __has_include("model/polyline.h")
#include "model/polyline.h"
#define LW_TEST_POLYLINE 1
#endif

namespace {

// Records status texts and message boxes for the life of the object.
struct UiRecorder {
    std::vector<std::string> status, messages;
    StatusTextHook oldStatus = SetStatusTextHook([this](const std::string& t) { status.push_back(t); });
    MessageBoxHook oldMessage = SetMessageBoxHook([this](const std::string& t, const std::string&, unsigned) {
        messages.push_back(t);
        return IDOK;
    });
    ~UiRecorder()
    {
        SetStatusTextHook(oldStatus);
        SetMessageBoxHook(oldMessage);
    }
};

// A record that logs its calls and answers as told.
class CLogItem : public CUndoItem {
public:
    static inline int live = 0;
    CLogItem(std::string name, std::vector<std::string>* log = nullptr) : CUndoItem(std::move(name)), m_log(log)
    {
        ++live;
    }
    ~CLogItem() override { --live; }
    bool undoResult = true, redoResult = true;
    bool Undo() override { return Log("undo ") && undoResult; }
    bool Redo() override { return Log("redo ") && redoResult; }

private:
    bool Log(const std::string& what)
    {
        if (m_log)
            m_log->push_back(what + GetName());
        return true;
    }
    std::vector<std::string>* m_log;
};

std::vector<std::string> Names(const CUndoList& list)
{
    std::vector<std::string> names;
    for (UINT i = 0; i < list.GetCount(); ++i)
        names.push_back(list.GetAt(i)->GetName());
    return names;
}

void PushNamed(CUndoList& list, const std::string& name)
{
    EXPECT_TRUE(list.PushItem(std::make_unique<CLogItem>(name)));
}

// A canonical text of a drawing: settings, then layers in order with their
// entities' project records sorted by id (undo puts entities back at the tail).
std::string Dump(CGraph& graph)
{
    std::string text =
        FormatC("unit=%u snap=%u/%d grid=%d base=%g,%g angle=%g spacing=%g,%g ortho=%d color=%d "
                "width=%g raster=%d vectors=%d current=%u",
                graph.GetUnit(), graph.GetObjectSnapMask(), graph.GetObjectSnapOn() ? 1 : 0,
                graph.GetGridShown() ? 1 : 0, graph.GetSnapBase().x, graph.GetSnapBase().y, graph.GetSnapAngle(),
                graph.GetGridSpacingX(), graph.GetGridSpacingY(), graph.GetOrtho() ? 1 : 0, graph.GetCurrentColor(),
                graph.GetCurrentWidth(), graph.GetShowRaster() ? 1 : 0, graph.GetShowVectors() ? 1 : 0,
                graph.GetCurrentLayer() ? graph.GetCurrentLayer()->GetId() : 0u);
    text += "\n";
    for (CLayer* layer = graph.GetFirstLayer(); layer; layer = layer->GetNext()) {
        text += FormatC("layer %u '%s' color=%d visible=%d\n", layer->GetId(), layer->GetName().c_str(),
                        layer->GetColor(), layer->IsVisible() ? 1 : 0);
        std::map<std::uint32_t, std::string> entities;
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            EXPECT_EQ(e->m_Layer, layer);
            std::string record;
            const std::string bytes = WriteToBytes([e](std::FILE* f) { return e->Save(f); });
            for (unsigned char ch : bytes)
                record += FormatC("%02x", ch);
            if (e->m_Selected)
                record += " selected";
            EXPECT_TRUE(entities.emplace(e->m_Id, record).second) << "two entities with id " << e->m_Id;
        }
        for (const auto& [id, record] : entities)
            text += FormatC("  %u ", id) + record + "\n";
    }
    return text;
}

CTestBox* AddBox(CLayer* layer, double x0, double y0, double x1, double y1)
{
    auto* box = new CTestBox(ENTITY_LINE, x0, y0, x1, y1);
    EXPECT_TRUE(layer->AddEntity(box));
    return box;
}

// A drawing with layers "Other" (head, current) and "Trace", two boxes on
// "Trace" and one on "Other".
struct Scene {
    CGraph graph;
    CLayer* trace = graph.GetCurrentLayer();
    CTestBox* a = AddBox(trace, 0, 0, 1, 1);
    CTestBox* b = AddBox(trace, 2, 2, 5, 5);
    CLayer* other = graph.SelectOrAddLayer("Other");
    CTestBox* c = AddBox(other, -1, -1, 0, 0);
    Scene() { c->m_Color = 3; }
};

// Runs a recorded command through an undo list: "do" has been done; checks
// that undo gives `before` and redo gives `after`, twice over.
void ExpectUndoRedo(CGraph& graph, CUndoList& list, const std::string& before, const std::string& after)
{
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(list.UndoLast());
        EXPECT_EQ(Dump(graph), before) << "after undo, round " << round;
        ASSERT_TRUE(list.RedoNext());
        EXPECT_EQ(Dump(graph), after) << "after redo, round " << round;
    }
}

// ---- the list ---------------------------------------------------------------

TEST(UndoList, KeepsTheNewestRecordsUpToItsDepthAndDeletesTheRest)
{
    const int before = CLogItem::live;
    {
        CUndoList list;
        for (int i = 1; i <= 6; ++i)
            PushNamed(list, std::to_string(i));
        EXPECT_EQ(Names(list), (std::vector<std::string>{"2", "3", "4", "5", "6"}));
        list.SetDepth(2);
        EXPECT_EQ(Names(list), (std::vector<std::string>{"5", "6"}));
        EXPECT_EQ(CLogItem::live, before + 2);
        // At least one, so pushing always ends.
        list.SetDepth(0);
        EXPECT_EQ(list.GetDepth(), 1);
        PushNamed(list, "b");
        EXPECT_EQ(Names(list), std::vector<std::string>{"b"});
        list.DeleteAllItems();
        EXPECT_EQ(CLogItem::live, before);
        PushNamed(list, "y");
    }
    EXPECT_FALSE(PushUndoItem(nullptr, std::make_unique<CLogItem>("orphan")));
    EXPECT_EQ(CLogItem::live, before);
}

// Writes (or with -1 removes) the two settings.
void StoreUndoSteps(long long raster, long long vector)
{
    CSettingsKey key;
    ASSERT_TRUE(key.Create("Software\\Korvane\\Lineweft\\Option"));
    for (auto [name, value] : {std::pair{"RasterUndoSteps", raster}, std::pair{"VectorUndoSteps", vector}}) {
        if (value < 0)
            key.DeleteValue(name);
        else
            ASSERT_TRUE(key.SetDword(name, static_cast<DWORD>(value)));
    }
    ASSERT_TRUE(key.Flush());
}

TEST(UndoList, DepthsComeFromTheSettingsWithinTheirRanges)
{
    StoreUndoSteps(3, 3);
    CUndoList raster, vector;
    ApplyUndoStepSettings(&raster, &vector);
    for (int i = 1; i <= 6; ++i) {
        PushNamed(raster, std::to_string(i));
        PushNamed(vector, std::to_string(i));
    }
    EXPECT_EQ(Names(raster), (std::vector<std::string>{"4", "5", "6"}));
    EXPECT_EQ(Names(vector), (std::vector<std::string>{"4", "5", "6"}));

    // Each end of each range, and one past it.
    StoreUndoSteps(10, 100);
    EXPECT_EQ(ReadRasterUndoSteps(), 10);
    EXPECT_EQ(ReadVectorUndoSteps(), 100);
    StoreUndoSteps(11, 101);
    EXPECT_EQ(ReadRasterUndoSteps(), 5);
    EXPECT_EQ(ReadVectorUndoSteps(), 32);
    StoreUndoSteps(1, 1);
    EXPECT_EQ(ReadRasterUndoSteps(), 1);
    EXPECT_EQ(ReadVectorUndoSteps(), 1);
    StoreUndoSteps(0, 0);
    EXPECT_EQ(ReadRasterUndoSteps(), 5);
    EXPECT_EQ(ReadVectorUndoSteps(), 32);
    StoreUndoSteps(-1, -1);
    ApplyUndoStepSettings(&raster, nullptr);
    EXPECT_EQ(raster.GetDepth(), 5);
    EXPECT_EQ(vector.GetDepth(), 3);
    ApplyUndoStepSettings(nullptr, &vector);
    EXPECT_EQ(vector.GetDepth(), 32);
}

TEST(UndoList, PushingAfterUndosDiscardsTheUndoneRecords)
{
    UiRecorder ui;
    CUndoList list;
    for (const char* name : {"1", "2", "3", "4"})
        PushNamed(list, name);
    ASSERT_TRUE(list.UndoLast());
    ASSERT_TRUE(list.UndoLast());
    EXPECT_EQ(list.GetRedoItem()->GetName(), "3");
    PushNamed(list, "5");
    EXPECT_EQ(Names(list), (std::vector<std::string>{"1", "2", "5"}));
    EXPECT_EQ(list.GetRedoItem(), nullptr);

    // Pushing nothing still discards undone records and trims below the depth.
    list.SetDepth(3);
    ASSERT_TRUE(list.UndoLast());
    EXPECT_FALSE(list.PushItem(nullptr));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"1", "2"}));
}

TEST(UndoList, UndoTakesTheNewestDoneAndRedoTheOldestUndone)
{
    UiRecorder ui;
    std::vector<std::string> log;
    CUndoList list;
    for (const char* name : {"a", "b", "c"})
        ASSERT_TRUE(list.PushItem(std::make_unique<CLogItem>(name, &log)));
    for (bool undo : {true, true, false, true, true})
        EXPECT_TRUE(undo ? list.UndoLast() : list.RedoNext());
    EXPECT_FALSE(list.UndoLast());
    EXPECT_TRUE(list.RedoNext());
    EXPECT_EQ(log, (std::vector<std::string>{"undo c", "undo b", "redo b", "undo b", "undo a", "redo a"}));
    EXPECT_EQ(ui.status.back(), "Redo: a");

    // A single step only runs in the matching state.
    CLogItem item("x");
    EXPECT_FALSE(RedoOneItem(&item));
    EXPECT_TRUE(UndoOneItem(&item));
    EXPECT_FALSE(UndoOneItem(&item));
    EXPECT_FALSE(UndoOneItem(nullptr));
}

// The saved mark is the one place in the history that matches the file: it
// is reached again only by stepping back to it over records still listed.
TEST(UndoList, SavedMarkIsReachedOnlyByStepsBackToIt)
{
    UiRecorder ui;
    CUndoList list(2);
    EXPECT_FALSE(list.IsAtSavedMark());
    list.MarkSaved();
    PushNamed(list, "a");
    EXPECT_FALSE(list.IsAtSavedMark());
    ASSERT_TRUE(list.UndoLast());
    EXPECT_TRUE(list.IsAtSavedMark());
    // A new change from the saved place: undoing it comes back there.
    PushNamed(list, "b");
    ASSERT_TRUE(list.UndoLast());
    EXPECT_TRUE(list.IsAtSavedMark());

    // Saved after "b": a change made after undoing "b" drops it for good.
    ASSERT_TRUE(list.RedoNext());
    list.MarkSaved();
    ASSERT_TRUE(list.UndoLast());
    PushNamed(list, "c");
    ASSERT_TRUE(list.UndoLast());
    EXPECT_FALSE(list.IsAtSavedMark());
    ASSERT_TRUE(list.RedoNext());
    EXPECT_FALSE(list.IsAtSavedMark());

    // Trimming the oldest records keeps the place until the one it follows
    // goes: then no step leads back to it.
    list.MarkSaved();
    PushNamed(list, "d");
    PushNamed(list, "e");
    ASSERT_EQ(Names(list), (std::vector<std::string>{"d", "e"}));
    ASSERT_TRUE(list.UndoLast());
    ASSERT_TRUE(list.UndoLast());
    EXPECT_TRUE(list.IsAtSavedMark());
    ASSERT_TRUE(list.RedoNext());
    ASSERT_TRUE(list.RedoNext());
    PushNamed(list, "f");
    ASSERT_TRUE(list.UndoLast());
    ASSERT_TRUE(list.UndoLast());
    EXPECT_FALSE(list.IsAtSavedMark());

    ASSERT_TRUE(list.RedoNext());
    list.MarkSaved();
    list.DeleteAllItems();
    EXPECT_FALSE(list.IsAtSavedMark());
}

TEST(UndoStep, AFailedStepIsReportedAndKeepsTheFlag)
{
    UiRecorder ui;
    CUndoList list;
    auto owned = std::make_unique<CLogItem>("Move");
    CLogItem* item = owned.get();
    ASSERT_TRUE(list.PushItem(std::move(owned)));
    item->undoResult = false;
    EXPECT_FALSE(list.UndoLast());
    EXPECT_TRUE(item->IsDone());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("Move"), std::string::npos);

    item->undoResult = true;
    ASSERT_TRUE(list.UndoLast());
    item->redoResult = false;
    EXPECT_FALSE(list.RedoNext());
    EXPECT_FALSE(item->IsDone());
    EXPECT_EQ(ui.messages.size(), 2u);
}

// ---- whole raster ---------------------------------------------------------------

void Paint(CRasterSrc& image, int value)
{
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            image.SetPixelIndex(x, y, (value + x * 7 + y * 13) & 0xFF);
}

std::vector<int> Pixels(const CRasterSrc& image)
{
    std::vector<int> pixels{image.GetWidth(), image.GetHeight()};
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            pixels.push_back(image.GetPixelIndex(x, y));
    return pixels;
}

TEST(RasterUndo, UndoAndRedoExchangeTheImagesWithoutCopyingPixels)
{
    UiRecorder ui;
    CRasterSrc image;
    ASSERT_TRUE(image.Create(9, 5, 8));
    Paint(image, 1);
    const std::vector<int> before = Pixels(image);
    image.GetEditSettings().undoName = "Erase brush";

    CUndoList list;
    ASSERT_TRUE(PushRasterUndo(&list, "Crop", &image));
    EXPECT_EQ(ui.status, std::vector<std::string>{"Create Raster undo date."});
    // The operation: a smaller, different picture.
    ASSERT_TRUE(image.Crop(1, 1, 6, 4));
    Paint(image, 100);
    const std::vector<int> after = Pixels(image);

    auto* item = static_cast<CRasterSrcUndoItem*>(list.GetUndoItem());
    const void* savedBits = item->GetSavedCopy()->GetBits();
    const void* liveBits = image.GetBits();
    ASSERT_TRUE(list.UndoLast());
    EXPECT_EQ(Pixels(image), before);
    // Swapped, not copied: the live image now holds the saved bitmap.
    EXPECT_EQ(image.GetBits(), savedBits);
    EXPECT_EQ(item->GetSavedCopy()->GetBits(), liveBits);
    ASSERT_TRUE(list.RedoNext());
    EXPECT_EQ(Pixels(image), after);
    // The brush settings belong to the live image throughout.
    EXPECT_EQ(image.GetEditSettings().undoName, "Erase brush");

    // Nothing is pushed without an image to copy; without a list there is
    // nothing to keep, and the operation may go on.
    CRasterSrc empty;
    EXPECT_FALSE(PushRasterUndo(&list, "Crop", &empty));
    EXPECT_EQ(list.GetCount(), 1u);
    EXPECT_TRUE(PushRasterUndo(nullptr, "Crop", &image));
    CRasterSrcUndoItem unsnapped("x", nullptr);
    EXPECT_FALSE(unsnapped.Undo());
}

// A saved rectangle of an 8-bit image.
class CTestBlock : public CRasterUndoBlock {
public:
    CTestBlock(int x, int y, int w, int h, int fill) : x(x), y(y), w(w), h(h), pixels(w * h, fill) {}
    int x, y, w, h;
    std::vector<int> pixels;
    bool SwapWith(CRasterSrc& image) override
    {
        if (x < 0 || y < 0 || x + w > image.GetWidth() || y + h > image.GetHeight())
            return false;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                int& saved = pixels[r * w + c];
                const int shown = image.GetPixelIndex(x + c, y + r);
                image.SetPixelIndex(x + c, y + r, saved);
                saved = shown;
            }
        return true;
    }
};

TEST(RasterUndo, OverlappingBrushBlocksComeBackInReverse)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(12, 10, 8));
    Paint(image, 5);
    const std::vector<int> before = Pixels(image);
    CLocalRasterUndoItem item("Brush", &image);
    // A stroke: each block paints over the last one's corner.
    for (int i = 0; i < 4; ++i) {
        auto block = std::make_unique<CTestBlock>(i * 2, i, 4, 4, 200 + i);
        ASSERT_TRUE(block->SwapWith(image));
        ASSERT_TRUE(item.AddBlock(std::move(block)));
    }
    const std::vector<int> after = Pixels(image);
    ASSERT_TRUE(item.Undo());
    EXPECT_EQ(Pixels(image), before);
    ASSERT_TRUE(item.Redo());
    EXPECT_EQ(Pixels(image), after);
    EXPECT_FALSE(item.AddBlock(nullptr));

    // Scan-line runs swap the same way.
    CRasterScanLineUndoItem runs("Fill", &image);
    for (int row = 1; row < 5; ++row) {
        auto run = std::make_unique<CTestBlock>(2, row, 5, 1, 255);
        ASSERT_TRUE(run->SwapWith(image));
        ASSERT_TRUE(runs.AddBlock(std::move(run)));
    }
    const std::vector<int> filled = Pixels(image);
    ASSERT_TRUE(runs.Undo());
    EXPECT_EQ(Pixels(image), after);
    ASSERT_TRUE(runs.Redo());
    EXPECT_EQ(Pixels(image), filled);
}

TEST(RasterUndo, ABlockThatNoLongerFitsLeavesTheImageAsItWas)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(8, 8, 8));
    Paint(image, 9);
    CLocalRasterUndoItem item("Brush", &image);
    ASSERT_TRUE(item.AddBlock(std::make_unique<CTestBlock>(6, 6, 2, 2, 1)));
    ASSERT_TRUE(item.AddBlock(std::make_unique<CTestBlock>(0, 0, 3, 3, 2)));
    ASSERT_TRUE(image.Crop(0, 0, 5, 5));  // the first block now lies outside
    const std::vector<int> shown = Pixels(image);
    EXPECT_FALSE(item.Undo());
    EXPECT_FALSE(item.Redo());
    EXPECT_EQ(Pixels(image), shown);
}

// ---- the drawing ------------------------------------------------------------------

TEST(GraphUndo, SettingsComeBackAndGoAgain)
{
    UiRecorder ui;
    Scene s;
    CUndoList list;
    const std::string before = Dump(s.graph);
    auto item = std::make_unique<CGraphUndoItem>("Options");
    ASSERT_TRUE(item->Init(&s.graph, CGraphUndoItem::KIND_SETTINGS));
    ASSERT_TRUE(list.PushItem(std::move(item)));

    ASSERT_TRUE(s.graph.SetCurrentLayerByName("Trace"));
    ASSERT_TRUE(s.graph.SetUnit(UNIT_MM) && s.graph.SetGridSpacing(3, 4) && s.graph.SetSnapAngle(0.5));
    ASSERT_TRUE(s.graph.SetSnapBase(frDoublePoint(1, 2, 0)) && s.graph.SetCurrentWidth(2.5));
    s.graph.SetObjectSnapMask(1);
    s.graph.SetObjectSnapOn(false);
    s.graph.SetOrtho(true);
    s.graph.SetShowVectors(false);
    const std::string after = Dump(s.graph);
    ExpectUndoRedo(s.graph, list, before, after);
}

TEST(GraphUndo, ModifiedComesBackOnlyWithEntitiesOnTheCurrentLayer)
{
    CGraph graph;  // current layer "Trace" is empty
    graph.SetModified(true);
    CGraphUndoItem item("Options");
    ASSERT_TRUE(item.Init(&graph, CGraphUndoItem::KIND_SETTINGS));
    EXPECT_FALSE(item.GetSavedSettings().modified);
    EXPECT_FALSE(item.Init(&graph, 2));  // unknown kind
    CGraphUndoItem orphan("x");
    EXPECT_FALSE(orphan.Init(nullptr, CGraphUndoItem::KIND_SETTINGS));
    EXPECT_FALSE(orphan.Undo());

    AddBox(graph.GetCurrentLayer(), 0, 0, 1, 1);
    graph.SetModified(true);
    ASSERT_TRUE(item.Init(&graph, CGraphUndoItem::KIND_SETTINGS));
    graph.SetModified(false);
    ASSERT_TRUE(item.Undo());
    EXPECT_TRUE(graph.IsModified());
    ASSERT_TRUE(item.Redo());
    EXPECT_FALSE(graph.IsModified());
}

TEST(GraphUndo, WholeDrawingComesBackWithItsLayerOrder)
{
    UiRecorder ui;
    Scene s;
    s.graph.SelectOrAddLayer("Third");
    ASSERT_TRUE(s.graph.SetCurrentLayerByName("Other"));
    CUndoList list;
    const std::string before = Dump(s.graph);
    auto item = std::make_unique<CGraphUndoItem>("Trace");
    ASSERT_TRUE(item->Init(&s.graph, CGraphUndoItem::KIND_DRAWING));
    ASSERT_TRUE(list.PushItem(std::move(item)));

    // What a trace run does: every layer goes, "Trace" comes back with new
    // entities.
    s.graph.RemoveAllLayers();
    CLayer* trace = s.graph.SelectOrAddLayer("Trace");
    AddBox(trace, 10, 10, 20, 20);
    AddBox(trace, 30, 10, 40, 20);
    ASSERT_TRUE(s.graph.SetGridSpacing(7, 7));
    const std::string after = Dump(s.graph);
    ExpectUndoRedo(s.graph, list, before, after);
    EXPECT_EQ(s.graph.GetFirstLayer()->GetOwner(), &s.graph);
}

// ---- entities -----------------------------------------------------------------------

TEST(VectorUndo, EveryKindOfRecordComesBackAndGoesAgain)
{
    UiRecorder ui;
    Scene s;
    CUndoList list;
    s.graph.SetUndoLists(nullptr, &list);
    const std::string before = Dump(s.graph);
    CTestBox* added = AddBox(s.trace, 7, 7, 8, 9);
    const std::uint32_t id = added->m_Id;
    auto item = std::make_unique<CVectorUndoItem>("Edit", &s.graph);
    ASSERT_TRUE(item->AddRecord(added, UNDO_ENTITY_ADDED));
    ASSERT_TRUE(item->AddSelection({s.a}, UNDO_ENTITY_DELETED));
    ASSERT_TRUE(item->AddRecord(s.b, UNDO_ENTITY_MOVED));
    ASSERT_TRUE(item->AddRecord(s.c, UNDO_ENTITY_CHANGED));
    ASSERT_TRUE(PushUndoItem(s.graph.GetVectorUndoList(), std::move(item)));
    s.trace->RemoveEntity(s.a);
    delete s.a;
    s.trace->RemoveEntity(s.b);
    s.other->AddEntity(s.b);
    s.c->box[EXT_MAX_X] = 40;
    s.c->m_Color = 5;
    s.c->SetWidth(1.5);
    const std::string after = Dump(s.graph);

    added->m_Selected = s.c->m_Selected = true;
    ASSERT_TRUE(list.UndoLast());
    EXPECT_FALSE(s.c->m_Selected);
    EXPECT_EQ(s.graph.FindEntity(s.c->m_Id), s.c);  // changed in place
    EXPECT_EQ(s.b->m_Layer, s.trace);
    EXPECT_EQ(Dump(s.graph), before);
    ASSERT_TRUE(list.RedoNext());
    EXPECT_EQ(Dump(s.graph), after);   // the added one comes back unselected
    EXPECT_EQ(s.b->m_Layer, s.other);  // where the recorded move had put it
    ExpectUndoRedo(s.graph, list, before, after);
    ASSERT_NE(s.graph.FindEntity(id), nullptr);
}

TEST(VectorUndo, SeveralRecordsOfOneEntityUndoNewestFirstAndRedoInOrder)
{
    UiRecorder ui;
    Scene s;
    const std::string before = Dump(s.graph);
    CUndoList list;
    auto item = std::make_unique<CVectorUndoItem>("Stretch", &s.graph);
    ASSERT_TRUE(item->AddRecord(s.a, UNDO_ENTITY_CHANGED));
    s.a->box[EXT_MAX_X] = 10;
    ASSERT_TRUE(item->AddRecord(s.a, UNDO_ENTITY_CHANGED));
    s.a->box[EXT_MAX_Y] = 20;
    CTestBox* drawn = AddBox(s.trace, 3, 3, 4, 4);
    ASSERT_TRUE(item->AddRecord(drawn, UNDO_ENTITY_ADDED));
    ASSERT_TRUE(item->AddRecord(drawn, UNDO_ENTITY_MOVED));
    s.trace->RemoveEntity(drawn);
    s.other->AddEntity(drawn);
    ASSERT_TRUE(list.PushItem(std::move(item)));
    const std::string after = Dump(s.graph);
    ExpectUndoRedo(s.graph, list, before, after);
}

// A command of many records walks the drawing once, keeping what it found
// in step as it deletes and restores; a random run of edits, ids deleted and
// added again among them, checked against the drawing as it was before and
// after it.
TEST(VectorUndo, ALongCommandComesBackWholeWhateverItsRecordsDoToOneId)
{
    UiRecorder ui;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        Scene s;
        CLayer* layers[] = {s.trace, s.other};
        for (int i = 0; i < 4; ++i)
            AddBox(s.trace, i, i, i + 1, i + 2);
        const std::string before = Dump(s.graph);
        std::mt19937 random(seed);
        auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
        auto item = std::make_unique<CVectorUndoItem>("Edit", &s.graph);
        std::vector<std::uint32_t> gone;
        std::uint32_t fresh = 9000;
        for (int step = 0; step < 16; ++step) {
            std::vector<CEntity*> present;
            for (CLayer* layer : layers)
                for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next)
                    present.push_back(e);
            const std::size_t op = pick(5);
            if (op >= 3 || present.empty()) {
                // Added: an id deleted earlier in the command, or a new one.
                auto* box = new CTestBox(ENTITY_LINE, step, 0, step + 3, 1);
                box->m_Id = op == 3 && !gone.empty() ? gone[pick(gone.size())] : fresh++;
                std::erase(gone, box->m_Id);
                ASSERT_TRUE(layers[pick(2)]->AddEntity(box));
                ASSERT_TRUE(item->AddRecord(box, UNDO_ENTITY_ADDED));
                continue;
            }
            CEntity* e = present[pick(present.size())];
            auto* box = static_cast<CTestBox*>(e);
            switch (op) {
            case 0:
                ASSERT_TRUE(item->AddRecord(e, UNDO_ENTITY_CHANGED));
                box->box[EXT_MAX_X] += 1;
                box->m_Color = static_cast<std::int16_t>(1 + pick(200));
                break;
            case 1:
                ASSERT_TRUE(item->AddRecord(e, UNDO_ENTITY_DELETED));
                gone.push_back(e->m_Id);
                e->m_Layer->RemoveEntity(e);
                delete e;
                break;
            default: {
                ASSERT_TRUE(item->AddRecord(e, UNDO_ENTITY_MOVED));
                CLayer* to = e->m_Layer == s.trace ? s.other : s.trace;
                e->m_Layer->RemoveEntity(e);
                ASSERT_TRUE(to->AddEntity(e));
                break;
            }
            }
        }
        const std::string after = Dump(s.graph);
        CUndoList list(2);
        ASSERT_TRUE(list.PushItem(std::move(item)));
        ExpectUndoRedo(s.graph, list, before, after);
    }
    EXPECT_TRUE(ui.messages.empty());
}

TEST(VectorUndo, ARecordThatFailsRollsTheWholeCommandBack)
{
    UiRecorder ui;
    Scene s;
    CUndoList list;
    auto owned = std::make_unique<CVectorUndoItem>("Draw", &s.graph);
    CTestBox* first = AddBox(s.trace, 3, 3, 4, 4);
    CTestBox* second = AddBox(s.other, 5, 5, 6, 6);
    ASSERT_TRUE(owned->AddRecord(first, UNDO_ENTITY_ADDED));
    ASSERT_TRUE(owned->AddRecord(second, UNDO_ENTITY_ADDED));
    CVectorUndoItem* item = owned.get();
    ASSERT_TRUE(list.PushItem(std::move(owned)));
    // Something outside the undo history took the older entity away.
    s.trace->RemoveEntity(first);
    delete first;
    const std::string present = Dump(s.graph);

    EXPECT_FALSE(list.UndoLast());
    EXPECT_EQ(Dump(s.graph), present);
    EXPECT_TRUE(item->IsDone());
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(VectorUndo, ARedoThatFailsRollsTheWholeCommandBack)
{
    UiRecorder ui;
    Scene s;
    CUndoList list;
    auto owned = std::make_unique<CVectorUndoItem>("Edit", &s.graph);
    ASSERT_TRUE(owned->AddRecord(s.a, UNDO_ENTITY_DELETED));
    ASSERT_TRUE(owned->AddRecord(s.b, UNDO_ENTITY_CHANGED));
    CVectorUndoItem* item = owned.get();
    ASSERT_TRUE(list.PushItem(std::move(owned)));
    s.trace->RemoveEntity(s.a);
    delete s.a;
    s.b->m_Color = 2;
    ASSERT_TRUE(list.UndoLast());
    // The changed entity disappears outside the history before the redo.
    s.trace->RemoveEntity(s.b);
    delete s.b;
    const std::string present = Dump(s.graph);

    EXPECT_FALSE(list.RedoNext());
    EXPECT_EQ(Dump(s.graph), present);  // the deleted entity is still back
    EXPECT_FALSE(item->IsDone());
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(VectorUndo, RecordsNeedACloneAKnownKindAndADrawing)
{
    Scene s;
    // An entity is never restored over one of the same id.
    CVectorUndoData data;
    ASSERT_TRUE(data.Set(s.a, UNDO_ENTITY_DELETED));
    const std::string present = Dump(s.graph);
    EXPECT_FALSE(data.Undo(s.graph));  // s.a was never deleted
    EXPECT_EQ(Dump(s.graph), present);

    CEntity bare;  // the base class cannot be cloned
    CVectorUndoItem item("x", &s.graph);
    ASSERT_TRUE(item.AddRecord(s.a, UNDO_ENTITY_CHANGED));
    EXPECT_FALSE(item.AddSelection({s.b, &bare}, UNDO_ENTITY_CHANGED));
    EXPECT_EQ(item.GetRecordCount(), 0u);  // all or nothing
    EXPECT_FALSE(item.AddRecord(s.a, 4));
    EXPECT_FALSE(item.AddRecord(nullptr, UNDO_ENTITY_ADDED));
    EXPECT_FALSE(item.AddData(nullptr));
    CVectorUndoItem orphan("x", nullptr);
    EXPECT_FALSE(orphan.Undo());
}

TEST(VectorUndo, RecordsFindTheirEntitiesAgainAfterAWholeDrawingUndo)
{
    UiRecorder ui;
    Scene s;
    CUndoList list;
    auto whole = std::make_unique<CGraphUndoItem>("Layer");
    ASSERT_TRUE(whole->Init(&s.graph, CGraphUndoItem::KIND_DRAWING));
    ASSERT_TRUE(list.PushItem(std::move(whole)));
    s.graph.SelectOrAddLayer("New");

    auto change = std::make_unique<CVectorUndoItem>("Properties", &s.graph);
    ASSERT_TRUE(change->AddRecord(s.b, UNDO_ENTITY_CHANGED));
    ASSERT_TRUE(list.PushItem(std::move(change)));
    s.b->m_Color = 9;
    const std::string after = Dump(s.graph);
    ASSERT_TRUE(list.UndoLast() && list.UndoLast());  // every entity is now a copy
    ASSERT_TRUE(list.RedoNext() && list.RedoNext());  // found by id in the copies
    EXPECT_EQ(Dump(s.graph), after);
}

#ifdef LW_TEST_POLYLINE
TEST(VectorUndo, PolylineChangesComeBack)
{
    UiRecorder ui;
    Scene s;
    const std::string before = Dump(s.graph);
    CUndoList list;
    auto* line = new CPolyLine;
    ASSERT_TRUE(line->AddPoint(0, 0) && line->AddPoint(10, 0) && line->AddPoint(10, 5));
    ASSERT_TRUE(s.trace->AddEntity(line));
    auto item = std::make_unique<CVectorUndoItem>("Draw PolyLine", &s.graph);
    ASSERT_TRUE(item->AddRecord(line, UNDO_ENTITY_ADDED));
    ASSERT_TRUE(item->AddRecord(line, UNDO_ENTITY_CHANGED));
    ASSERT_TRUE(line->AddPointWidth(0, 5, 1.5));
    line->SetWidth(2);
    ASSERT_TRUE(list.PushItem(std::move(item)));
    const std::string after = Dump(s.graph);
    ExpectUndoRedo(s.graph, list, before, after);
}
#endif

}  // namespace
