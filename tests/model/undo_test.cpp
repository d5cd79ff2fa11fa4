#include "model/undo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "platform/message_box.h"
#include "platform/number_text.h"
#include "raster/raster_src.h"
#include "test_entity.h"

#if __has_include("model/polyline.h")
#include "model/polyline.h"
#define LW_TEST_POLYLINE 1
#endif

namespace {

// ---- helpers ----------------------------------------------------------------

// Records status texts and message boxes for the life of the object.
class UiRecorder {
public:
    UiRecorder()
    {
        m_status = SetStatusTextHook([this](const std::string& t) { status.push_back(t); });
        m_message = SetMessageBoxHook([this](const std::string& t, const std::string&, unsigned) {
            messages.push_back(t);
            return IDOK;
        });
    }
    ~UiRecorder()
    {
        SetStatusTextHook(m_status);
        SetMessageBoxHook(m_message);
    }
    std::vector<std::string> status;
    std::vector<std::string> messages;

private:
    StatusTextHook m_status;
    MessageBoxHook m_message;
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
    bool undoResult = true;
    bool redoResult = true;
    bool Undo() override
    {
        if (m_log) m_log->push_back("undo " + GetName());
        return undoResult;
    }
    bool Redo() override
    {
        if (m_log) m_log->push_back("redo " + GetName());
        return redoResult;
    }

private:
    std::vector<std::string>* m_log;
};

std::vector<std::string> Names(const CUndoList& list)
{
    std::vector<std::string> names;
    for (UINT i = 0; i < list.GetCount(); ++i) names.push_back(list.GetAt(i)->GetName());
    return names;
}

void PushNamed(CUndoList& list, const std::string& name) { EXPECT_TRUE(list.PushItem(std::make_unique<CLogItem>(name))); }

std::string Hex(const std::string& bytes)
{
    std::string text;
    for (unsigned char c : bytes) text += FormatC("%02x", c);
    return text;
}

// A canonical text of a drawing: its settings, then the layers in list order,
// each with its entities sorted by id as their project records (so every
// field of every class takes part). Entities that undo puts back go to the
// tail of their layer, so order within a layer is not compared.
std::string Dump(CGraph& graph, bool withModified = false)
{
    std::string text = FormatC("unit=%u snap=%u/%d grid=%d base=%g,%g angle=%g spacing=%g,%g ortho=%d color=%d "
                               "width=%g raster=%d vectors=%d current=%u",
                               graph.GetUnit(), graph.GetObjectSnapMask(), graph.GetObjectSnapOn() ? 1 : 0,
                               graph.GetGridShown() ? 1 : 0, graph.GetSnapBase().x, graph.GetSnapBase().y,
                               graph.GetSnapAngle(), graph.GetGridSpacingX(), graph.GetGridSpacingY(),
                               graph.GetOrtho() ? 1 : 0, graph.GetCurrentColor(), graph.GetCurrentWidth(),
                               graph.GetShowRaster() ? 1 : 0, graph.GetShowVectors() ? 1 : 0,
                               graph.GetCurrentLayer() ? graph.GetCurrentLayer()->GetId() : 0u);
    if (withModified) text += graph.IsModified() ? " modified" : " unmodified";
    text += "\n";
    for (CLayer* layer = graph.GetFirstLayer(); layer; layer = layer->GetNext()) {
        text += FormatC("layer %u '%s' color=%d visible=%d\n", layer->GetId(), layer->GetName().c_str(),
                        layer->GetColor(), layer->IsVisible() ? 1 : 0);
        std::map<std::uint32_t, std::string> entities;
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            EXPECT_EQ(e->m_Layer, layer);
            std::string record = Hex(WriteToBytes([e](std::FILE* f) { return e->Save(f); }));
            if (e->m_Selected) record += " selected";
            EXPECT_TRUE(entities.emplace(e->m_Id, record).second) << "two entities with id " << e->m_Id;
        }
        for (const auto& [id, record] : entities) text += FormatC("  %u ", id) + record + "\n";
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
    CLayer* trace;
    CLayer* other;
    CTestBox* a;
    CTestBox* b;
    CTestBox* c;
    Scene()
    {
        trace = graph.GetCurrentLayer();
        a = AddBox(trace, 0, 0, 1, 1);
        b = AddBox(trace, 2, 2, 5, 5);
        other = graph.SelectOrAddLayer("Other");
        c = AddBox(other, -1, -1, 0, 0);
        c->m_Color = 3;
    }
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

TEST(UndoList, KeepsTheNewestRecordsUpToItsDepth)
{
    CUndoList list;
    EXPECT_EQ(list.GetDepth(), 5);
    for (int i = 1; i <= 6; ++i) PushNamed(list, std::to_string(i));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"2", "3", "4", "5", "6"}));
}

TEST(UndoList, PushingAfterUndosDiscardsTheUndoneRecords)
{
    UiRecorder ui;
    CUndoList list;
    for (int i = 1; i <= 4; ++i) PushNamed(list, std::to_string(i));
    ASSERT_TRUE(list.UndoLast());
    ASSERT_TRUE(list.UndoLast());
    EXPECT_EQ(list.GetUndoItem()->GetName(), "2");
    EXPECT_EQ(list.GetRedoItem()->GetName(), "3");
    PushNamed(list, "5");
    EXPECT_EQ(Names(list), (std::vector<std::string>{"1", "2", "5"}));
    EXPECT_EQ(list.GetRedoItem(), nullptr);
}

TEST(UndoList, PushingNothingStillDiscardsUndoneRecordsAndTrimsBelowTheDepth)
{
    UiRecorder ui;
    CUndoList list(3);
    for (int i = 1; i <= 3; ++i) PushNamed(list, std::to_string(i));
    EXPECT_FALSE(list.PushItem(nullptr));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"2", "3"}));
    ASSERT_TRUE(list.UndoLast());
    EXPECT_FALSE(list.PushItem(nullptr));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"2"}));
}

TEST(UndoList, DepthIsAtLeastOneSoPushingAlwaysEnds)
{
    CUndoList list(0);
    EXPECT_EQ(list.GetDepth(), 1);
    PushNamed(list, "a");
    PushNamed(list, "b");
    EXPECT_EQ(Names(list), std::vector<std::string>{"b"});
    list.SetDepth(0);
    EXPECT_EQ(list.GetDepth(), 1);
}

TEST(UndoList, LoweringTheDepthDropsTheOldestRecords)
{
    CUndoList list;
    for (int i = 1; i <= 5; ++i) PushNamed(list, std::to_string(i));
    list.SetDepth(2);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"4", "5"}));
}

TEST(UndoList, RecordsAreDeletedByTheListAndWithoutAList)
{
    const int before = CLogItem::live;
    {
        CUndoList list(2);
        for (int i = 0; i < 4; ++i) PushNamed(list, "x");
        EXPECT_EQ(CLogItem::live, before + 2);
        list.DeleteAllItems();
        EXPECT_EQ(CLogItem::live, before);
        PushNamed(list, "y");
    }
    EXPECT_EQ(CLogItem::live, before);
    EXPECT_FALSE(PushUndoItem(nullptr, std::make_unique<CLogItem>("orphan")));
    EXPECT_EQ(CLogItem::live, before);
    CUndoList list;
    EXPECT_TRUE(PushUndoItem(&list, std::make_unique<CLogItem>("kept")));
    EXPECT_EQ(list.GetCount(), 1u);
}

TEST(UndoList, UndoTakesTheNewestDoneAndRedoTheOldestUndone)
{
    UiRecorder ui;
    std::vector<std::string> log;
    CUndoList list;
    for (const char* name : {"a", "b", "c"}) ASSERT_TRUE(list.PushItem(std::make_unique<CLogItem>(name, &log)));
    EXPECT_TRUE(list.UndoLast());
    EXPECT_TRUE(list.UndoLast());
    EXPECT_TRUE(list.RedoNext());
    EXPECT_TRUE(list.UndoLast());
    EXPECT_TRUE(list.UndoLast());
    EXPECT_FALSE(list.UndoLast());
    EXPECT_TRUE(list.RedoNext());
    EXPECT_EQ(log, (std::vector<std::string>{"undo c", "undo b", "redo b", "undo b", "undo a", "redo a"}));
    EXPECT_EQ(ui.status, (std::vector<std::string>{"Undo: c", "Undo: b", "Redo: b", "Undo: b", "Undo: a",
                                                   "Redo: a"}));
}

// ---- one step -----------------------------------------------------------------

TEST(UndoStep, StepsOnlyRecordsInTheMatchingState)
{
    UiRecorder ui;
    CLogItem item("x");
    EXPECT_FALSE(RedoOneItem(&item));
    EXPECT_TRUE(UndoOneItem(&item));
    EXPECT_FALSE(item.IsDone());
    EXPECT_FALSE(UndoOneItem(&item));
    EXPECT_TRUE(RedoOneItem(&item));
    EXPECT_TRUE(item.IsDone());
    EXPECT_FALSE(UndoOneItem(nullptr));
    EXPECT_FALSE(RedoOneItem(nullptr));
    EXPECT_EQ(ui.status, (std::vector<std::string>{"Undo: x", "Redo: x"}));
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
    EXPECT_EQ(list.GetUndoItem(), item);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("Move"), std::string::npos);

    item->undoResult = true;
    ASSERT_TRUE(list.UndoLast());
    item->redoResult = false;
    EXPECT_FALSE(list.RedoNext());
    EXPECT_FALSE(item->IsDone());
    EXPECT_EQ(list.GetRedoItem(), item);
    EXPECT_EQ(ui.messages.size(), 2u);
}

class CStatusWindow : public CMessageReceiver {
public:
    std::vector<std::pair<UINT, std::string>> received;
    ~CStatusWindow() override { Close(); }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        EXPECT_EQ(wParam, 0u);
        received.emplace_back(message, reinterpret_cast<const char*>(lParam));
        return 1;
    }
};

TEST(UndoStep, StatusTextGoesToTheMainWindowWhenThereIsOne)
{
    UiRecorder ui;
    {
        CStatusWindow window;
        SetMainStatusWindow(&window);
        CLogItem item("Erase");
        EXPECT_TRUE(UndoOneItem(&item));
        ASSERT_EQ(window.received.size(), 1u);
        EXPECT_EQ(window.received[0].first, 0x80FAu);
        EXPECT_EQ(window.received[0].second, "Undo: Erase");
        EXPECT_TRUE(ui.status.empty());
        window.Close();
        EXPECT_TRUE(RedoOneItem(&item));
        EXPECT_EQ(ui.status, std::vector<std::string>{"Redo: Erase"});
    }
    SetMainStatusWindow(nullptr);
}

// ---- whole raster ---------------------------------------------------------------

void Paint(CRasterSrc& image, int value)
{
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x) image.SetPixelIndex(x, y, (value + x * 7 + y * 13) & 0xFF);
}

std::vector<int> Pixels(const CRasterSrc& image)
{
    std::vector<int> pixels{image.GetWidth(), image.GetHeight()};
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x) pixels.push_back(image.GetPixelIndex(x, y));
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
    image.SetLastBrushPoint(3, 4);

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
    ASSERT_TRUE(list.UndoLast());
    EXPECT_EQ(Pixels(image), before);

    // The brush settings belong to the live image throughout.
    EXPECT_EQ(image.GetEditSettings().undoName, "Erase brush");
    int x = 0, y = 0;
    image.GetLastBrushPoint(x, y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(3, 4));
}

TEST(RasterUndo, NothingIsPushedWhenThereIsNoImageToCopy)
{
    UiRecorder ui;
    CUndoList list;
    CRasterSrc empty;
    EXPECT_FALSE(PushRasterUndo(&list, "Crop", &empty));
    EXPECT_FALSE(PushRasterUndo(&list, "Crop", nullptr));
    EXPECT_EQ(list.GetCount(), 0u);
    // Without a list there is nothing to keep, and the operation may go on.
    CRasterSrc image;
    ASSERT_TRUE(image.Create(2, 2, 1));
    EXPECT_TRUE(PushRasterUndo(nullptr, "Crop", &image));

    CRasterSrcUndoItem unsnapped("x", nullptr);
    EXPECT_FALSE(unsnapped.TakeSnapshot());
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
        if (x < 0 || y < 0 || x + w > image.GetWidth() || y + h > image.GetHeight()) return false;
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
    ASSERT_NE(before, after);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(item.Undo());
        EXPECT_EQ(Pixels(image), before);
        ASSERT_TRUE(item.Redo());
        EXPECT_EQ(Pixels(image), after);
    }
    EXPECT_FALSE(item.AddBlock(nullptr));
}

TEST(RasterUndo, ABlockThatNoLongerFitsLeavesTheImageAsItWas)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(8, 8, 8));
    Paint(image, 9);
    CLocalRasterUndoItem item("Brush", &image);
    ASSERT_TRUE(item.AddBlock(std::make_unique<CTestBlock>(6, 6, 2, 2, 1)));
    ASSERT_TRUE(item.AddBlock(std::make_unique<CTestBlock>(0, 0, 3, 3, 2)));
    ASSERT_TRUE(image.Crop(0, 0, 5, 5));   // the first block now lies outside
    const std::vector<int> shown = Pixels(image);
    EXPECT_FALSE(item.Undo());
    EXPECT_EQ(Pixels(image), shown);
    EXPECT_FALSE(item.Redo());
    EXPECT_EQ(Pixels(image), shown);

    CLocalRasterUndoItem detached("Brush", nullptr);
    ASSERT_TRUE(detached.AddBlock(std::make_unique<CTestBlock>(0, 0, 1, 1, 0)));
    EXPECT_TRUE(detached.Undo());
    EXPECT_TRUE(detached.Redo());
}

TEST(RasterUndo, ScanLineRunsSwapBackAndForth)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(10, 6, 8));
    Paint(image, 77);
    const std::vector<int> before = Pixels(image);
    CRasterScanLineUndoItem item("Fill", &image);
    for (int row = 1; row < 5; ++row) {
        auto run = std::make_unique<CTestBlock>(2, row, 5, 1, 255);
        ASSERT_TRUE(run->SwapWith(image));
        ASSERT_TRUE(item.AddBlock(std::move(run)));
    }
    const std::vector<int> after = Pixels(image);
    ASSERT_TRUE(item.Undo());
    EXPECT_EQ(Pixels(image), before);
    ASSERT_TRUE(item.Redo());
    EXPECT_EQ(Pixels(image), after);
    EXPECT_EQ(item.GetBlockCount(), 4u);
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
    ASSERT_TRUE(s.graph.SetUnit(UNIT_MM));
    ASSERT_TRUE(s.graph.SetGridSpacing(3, 4));
    ASSERT_TRUE(s.graph.SetSnapBase(frDoublePoint(1, 2, 0)));
    ASSERT_TRUE(s.graph.SetSnapAngle(0.5));
    ASSERT_TRUE(s.graph.SetCurrentColor(4));
    ASSERT_TRUE(s.graph.SetCurrentWidth(2.5));
    s.graph.SetObjectSnapMask(1);
    s.graph.SetObjectSnapOn(false);
    s.graph.SetGridShown(true);
    s.graph.SetOrtho(true);
    s.graph.SetShowRaster(false);
    s.graph.SetShowVectors(false);
    const std::string after = Dump(s.graph);
    ASSERT_NE(before, after);
    ExpectUndoRedo(s.graph, list, before, after);
}

TEST(GraphUndo, ModifiedComesBackOnlyWithEntitiesOnTheCurrentLayer)
{
    CGraph graph;   // current layer "Trace" is empty
    graph.SetModified(true);
    CGraphUndoItem item("Options");
    ASSERT_TRUE(item.Init(&graph, CGraphUndoItem::KIND_SETTINGS));
    EXPECT_FALSE(item.GetSavedSettings().modified);

    AddBox(graph.GetCurrentLayer(), 0, 0, 1, 1);
    graph.SetModified(true);
    CGraphUndoItem full("Options");
    ASSERT_TRUE(full.Init(&graph, CGraphUndoItem::KIND_SETTINGS));
    graph.SetModified(false);
    ASSERT_TRUE(full.Undo());
    EXPECT_TRUE(graph.IsModified());
    ASSERT_TRUE(full.Redo());
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

TEST(GraphUndo, UnknownKindsAndMissingDrawingsAreRefused)
{
    CGraph graph;
    CGraphUndoItem item("x");
    EXPECT_FALSE(item.Init(&graph, 2));
    EXPECT_FALSE(item.Init(nullptr, CGraphUndoItem::KIND_SETTINGS));
    EXPECT_FALSE(item.Undo());
    EXPECT_FALSE(item.Redo());
}

// ---- entities -----------------------------------------------------------------------

TEST(VectorUndo, AddedEntityGoesAndComesBack)
{
    UiRecorder ui;
    Scene s;
    CUndoList list;
    s.graph.SetUndoLists(nullptr, &list);
    const std::string before = Dump(s.graph);
    CTestBox* added = AddBox(s.trace, 7, 7, 8, 9);
    const std::uint32_t id = added->m_Id;
    added->m_Selected = true;
    auto item = std::make_unique<CVectorUndoItem>("Draw", &s.graph);
    ASSERT_TRUE(item->AddRecord(added, UNDO_ENTITY_ADDED));
    ASSERT_TRUE(PushUndoItem(s.graph.GetVectorUndoList(), std::move(item)));
    added->m_Selected = false;
    const std::string after = Dump(s.graph);
    ExpectUndoRedo(s.graph, list, before, after);
    // The entity that came back is an unselected copy with the same id.
    CEntity* back = s.graph.FindEntity(id);
    ASSERT_NE(back, nullptr);
    EXPECT_FALSE(back->m_Selected);
    EXPECT_EQ(back->m_Layer, s.trace);
}

TEST(VectorUndo, DeletedEntitiesComeBackWithTheirLastState)
{
    UiRecorder ui;
    Scene s;
    CUndoList list;
    const std::string before = Dump(s.graph);
    auto item = std::make_unique<CVectorUndoItem>("Delete", &s.graph);
    ASSERT_TRUE(item->AddSelection({s.a, s.c}, UNDO_ENTITY_DELETED));
    ASSERT_TRUE(list.PushItem(std::move(item)));
    for (CEntity* e : {static_cast<CEntity*>(s.a), static_cast<CEntity*>(s.c)}) {
        e->m_Layer->RemoveEntity(e);
        delete e;
    }
    const std::string after = Dump(s.graph);
    ExpectUndoRedo(s.graph, list, before, after);
}

TEST(VectorUndo, MovedEntityReturnsToItsLayerAndBackAgain)
{
    UiRecorder ui;
    Scene s;
    CUndoList list;
    const std::string before = Dump(s.graph);
    auto item = std::make_unique<CVectorUndoItem>("Change layer", &s.graph);
    ASSERT_TRUE(item->AddRecord(s.b, UNDO_ENTITY_MOVED));
    ASSERT_TRUE(list.PushItem(std::move(item)));
    s.trace->RemoveEntity(s.b);
    s.other->AddEntity(s.b);
    const std::string after = Dump(s.graph);

    ASSERT_TRUE(list.UndoLast());
    EXPECT_EQ(s.b->m_Layer, s.trace);
    ASSERT_TRUE(list.RedoNext());
    EXPECT_EQ(s.b->m_Layer, s.other);   // where the recorded move had put it
    EXPECT_EQ(Dump(s.graph), after);
    ExpectUndoRedo(s.graph, list, before, after);
}

TEST(VectorUndo, ChangedEntityKeepsItsLayerAndIsDeselected)
{
    UiRecorder ui;
    Scene s;
    CUndoList list;
    const std::string before = Dump(s.graph);
    auto item = std::make_unique<CVectorUndoItem>("Properties", &s.graph);
    ASSERT_TRUE(item->AddRecord(s.c, UNDO_ENTITY_CHANGED));
    ASSERT_TRUE(list.PushItem(std::move(item)));
    s.c->box[EXT_MAX_X] = 40;
    s.c->m_Color = 5;
    s.c->SetWidth(1.5);
    const std::string after = Dump(s.graph);

    s.c->m_Selected = true;
    ASSERT_TRUE(list.UndoLast());
    EXPECT_FALSE(s.c->m_Selected);
    EXPECT_EQ(s.c->m_Layer, s.other);
    EXPECT_EQ(s.graph.FindEntity(s.c->m_Id), s.c);   // changed in place
    EXPECT_EQ(Dump(s.graph), before);
    ASSERT_TRUE(list.RedoNext());
    EXPECT_EQ(Dump(s.graph), after);
}

TEST(VectorUndo, TwoChangesOfOneEntityRedoInTheirOwnOrder)
{
    UiRecorder ui;
    Scene s;
    const std::string before = Dump(s.graph);
    CUndoList list;
    // One command changes the same entity twice, recording each step.
    auto item = std::make_unique<CVectorUndoItem>("Stretch", &s.graph);
    ASSERT_TRUE(item->AddRecord(s.a, UNDO_ENTITY_CHANGED));
    s.a->box[EXT_MAX_X] = 10;
    ASSERT_TRUE(item->AddRecord(s.a, UNDO_ENTITY_CHANGED));
    s.a->box[EXT_MAX_Y] = 20;
    ASSERT_TRUE(list.PushItem(std::move(item)));
    const std::string after = Dump(s.graph);
    ExpectUndoRedo(s.graph, list, before, after);
    EXPECT_EQ(s.a->box[EXT_MAX_X], 10);
    EXPECT_EQ(s.a->box[EXT_MAX_Y], 20);
}

TEST(VectorUndo, AddThenMoveOfOneEntityUndoesNewestFirst)
{
    UiRecorder ui;
    Scene s;
    const std::string before = Dump(s.graph);
    CUndoList list;
    auto item = std::make_unique<CVectorUndoItem>("Draw", &s.graph);
    CTestBox* drawn = AddBox(s.trace, 3, 3, 4, 4);
    ASSERT_TRUE(item->AddRecord(drawn, UNDO_ENTITY_ADDED));
    ASSERT_TRUE(item->AddRecord(drawn, UNDO_ENTITY_MOVED));
    s.trace->RemoveEntity(drawn);
    s.other->AddEntity(drawn);
    ASSERT_TRUE(list.PushItem(std::move(item)));
    const std::string after = Dump(s.graph);
    ExpectUndoRedo(s.graph, list, before, after);
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
    EXPECT_EQ(Dump(s.graph), present);   // the deleted entity is still back
    EXPECT_FALSE(item->IsDone());
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(VectorUndo, AnEntityIsNeverRestoredOverOneOfTheSameId)
{
    Scene s;
    CVectorUndoData data;
    ASSERT_TRUE(data.Set(s.a, UNDO_ENTITY_DELETED));
    const std::string present = Dump(s.graph);
    EXPECT_FALSE(data.Undo(s.graph));   // s.a was never deleted
    EXPECT_EQ(Dump(s.graph), present);
}

TEST(VectorUndo, RecordsNeedACloneAKnownKindAndADrawing)
{
    Scene s;
    CEntity bare;   // the base class cannot be cloned
    CVectorUndoItem item("x", &s.graph);
    ASSERT_TRUE(item.AddRecord(s.a, UNDO_ENTITY_CHANGED));
    EXPECT_FALSE(item.AddSelection({s.b, &bare}, UNDO_ENTITY_CHANGED));
    EXPECT_EQ(item.GetRecordCount(), 0u);
    EXPECT_FALSE(item.AddRecord(s.a, 4));
    EXPECT_FALSE(item.AddRecord(nullptr, UNDO_ENTITY_ADDED));
    EXPECT_FALSE(item.AddData(nullptr));
    EXPECT_TRUE(item.Undo());   // empty

    CVectorUndoItem orphan("x", nullptr);
    EXPECT_FALSE(orphan.Undo());
    EXPECT_FALSE(orphan.Redo());

    CVectorUndoData data;
    ASSERT_TRUE(data.Set(s.c, UNDO_ENTITY_MOVED));
    EXPECT_EQ(data.GetEntityId(), s.c->m_Id);
    EXPECT_EQ(data.GetLayerId(), s.other->GetId());
    EXPECT_FALSE(data.GetSavedCopy()->m_Selected);
    EXPECT_EQ(data.GetSavedCopy()->m_Layer, nullptr);
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

    ASSERT_TRUE(list.UndoLast());
    ASSERT_TRUE(list.UndoLast());   // every entity is now a copy
    ASSERT_TRUE(list.RedoNext());
    ASSERT_TRUE(list.RedoNext());   // found by id in the copies
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
    ASSERT_TRUE(line->AddPoint(0, 0));
    ASSERT_TRUE(line->AddPoint(10, 0));
    ASSERT_TRUE(line->AddPoint(10, 5));
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
