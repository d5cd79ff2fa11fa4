#include "model/graph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cctype>
#include <limits>
#include <random>
#include <set>

#include "model/entity.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "model/undo.h"
#include "raster/raster_entity.h"
#include "recording_device.h"
#include "test_entity.h"

namespace {

std::vector<std::string> LayerNames(const CGraph& graph)
{
    std::vector<std::string> names;
    for (CLayer* l = graph.GetFirstLayer(); l; l = l->GetNext())
        names.push_back(l->GetName());
    return names;
}

std::vector<double> Box(const double* box) { return std::vector<double>(box, box + 4); }

// ---- construction and layers ----------------------------------------------

TEST(GraphLayers, NewLayersStandAtTheHeadAndAreFoundIgnoringCase)
{
    ResetIdCounter(48);
    CGraph graph;
    CLayer* trace = graph.GetCurrentLayer();
    ASSERT_NE(trace, nullptr);
    EXPECT_EQ(trace->GetId(), 48u);
    EXPECT_EQ(trace->GetOwner(), &graph);
    EXPECT_FALSE(graph.IsModified());
    graph.SelectOrAddLayer("A");
    graph.SelectOrAddLayer("B");
    EXPECT_EQ(LayerNames(graph), (std::vector<std::string>{"B", "A", "Trace"}));
    EXPECT_EQ(graph.GetCurrentLayer()->GetName(), "B");
    EXPECT_TRUE(graph.IsModified());

    EXPECT_TRUE(graph.SetCurrentLayerByIndex(2));
    EXPECT_EQ(graph.GetCurrentLayer(), trace);
    EXPECT_FALSE(graph.SetCurrentLayerByIndex(3));
    EXPECT_FALSE(graph.SetCurrentLayerByIndex(-1));
    EXPECT_TRUE(graph.SetCurrentLayerByName("a"));
    EXPECT_EQ(graph.GetCurrentLayer()->GetName(), "A");
    EXPECT_FALSE(graph.SetCurrentLayerById(0));
    EXPECT_EQ(graph.SelectOrAddLayer("trace"), trace);
    EXPECT_EQ(graph.GetCurrentLayer(), trace);
    EXPECT_EQ(graph.SelectOrAddLayer(""), trace);
    EXPECT_EQ(graph.GetLayerCount(), 3);

    // An over-long name is held cut; asking again finds that layer.
    graph.SelectOrAddLayer(std::string(300, 'L'));
    graph.SelectOrAddLayer(std::string(300, 'L'));
    EXPECT_EQ(graph.GetLayerCount(), 4);
}

TEST(GraphLayers, RemovingTheCurrentLayerHandsOverToItsPredecessor)
{
    CGraph graph;
    graph.SelectOrAddLayer("A");
    graph.SelectOrAddLayer("B");
    graph.SelectOrAddLayer("C");  // C, B, A, Trace

    graph.SetCurrentLayerByName("A");
    EXPECT_TRUE(graph.RemoveLayer(graph.GetCurrentLayer(), true));
    EXPECT_EQ(LayerNames(graph), (std::vector<std::string>{"C", "B", "Trace"}));
    EXPECT_EQ(graph.GetCurrentLayer()->GetName(), "B");

    graph.SetCurrentLayerByName("C");
    EXPECT_TRUE(graph.RemoveLayer(graph.GetCurrentLayer(), true));  // the head
    EXPECT_EQ(graph.GetCurrentLayer()->GetName(), "B");
    EXPECT_TRUE(graph.RemoveLayer(graph.GetCurrentLayer(), true));
    EXPECT_EQ(graph.GetCurrentLayer()->GetName(), "Trace");

    EXPECT_TRUE(graph.RemoveLayer(graph.GetCurrentLayer(), false));  // delete false: nothing
    EXPECT_EQ(graph.GetLayerCount(), 1);

    CLayer foreign;
    EXPECT_FALSE(graph.RemoveLayer(&foreign, true));
    graph.AddLayer(graph.GetCurrentLayer());  // twice would make a cycle
    graph.AddLayer(nullptr);
    EXPECT_EQ(graph.GetLayerCount(), 1);

    graph.GetCurrentLayer()->AddEntity(new CTestBox);
    graph.SetModified(false);
    graph.RemoveAllLayers();
    EXPECT_EQ(graph.GetCurrentLayer(), nullptr);
    EXPECT_TRUE(graph.IsModified());
    EXPECT_TRUE(graph.RemoveLayer(nullptr, true));
}

// The first layer in list order whose name matches ignoring ASCII case,
// found by walking the list.
const CLayer* ScanForLayer(const CGraph& graph, const std::string& name)
{
    const auto fold = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    for (const CLayer* l = graph.GetFirstLayer(); l; l = l->GetNext())
        if (fold(l->GetName()) == fold(name))
            return l;
    return nullptr;
}

TEST(GraphLayers, LookupByNameStaysInStepWithTheListThroughEveryChange)
{
    CGraph graph;
    std::mt19937 random(7);
    const std::vector<std::string> names = {"Trace", "a", "A", "b", "Walls", "WALLS", "x", "\xC3\xA4", "\xC3\x84"};
    const auto pick = [&] { return names[random() % names.size()]; };
    const auto layerAt = [&](int n) {
        CLayer* l = graph.GetFirstLayer();
        for (int i = 0; l && i < n; ++i)
            l = l->GetNext();
        return l;
    };
    for (int step = 0; step < 3000; ++step) {
        const int count = graph.GetLayerCount();
        switch (random() % 7) {
        case 0: graph.SelectOrAddLayer(pick()); break;
        case 1: {  // a second layer of a name already there, added as it is
            auto* layer = new CLayer;
            layer->SetName(pick());
            graph.AddLayer(layer);
            break;
        }
        case 2:
            if (count > 0)
                (void)graph.RemoveLayer(layerAt(static_cast<int>(random() % count)), true);
            break;
        case 3:
        case 4:
            if (count > 0)
                (void)layerAt(static_cast<int>(random() % count))->SetName(pick());
            break;
        case 5:
            if (random() % 20 == 0)
                graph.RemoveAllLayers();
            break;
        case 6:
            if (count > 0)
                graph.AddLayer(layerAt(static_cast<int>(random() % count)));  // ours: no change
            break;
        }
        for (const std::string& name : names)
            ASSERT_EQ(graph.FindLayerByName(name), ScanForLayer(graph, name)) << step << " " << name;
    }
    // A layer that is not the drawing's, even of a known name, is never made current.
    CLayer foreign;
    foreign.SetName("a");
    EXPECT_FALSE(graph.SetCurrentLayer(&foreign));
    EXPECT_FALSE(graph.SetCurrentLayer(nullptr));
}

TEST(GraphLayers, StoredCountsReadAsResetOnceTheDrawingIsMarkedModified)
{
    CGraph graph;
    CLayer* trace = graph.GetCurrentLayer();
    trace->AddEntity(new CTestBox);
    trace->AddEntity(new CTestBox);
    EXPECT_EQ(trace->CountEntities(), 2);
    EXPECT_EQ(trace->GetCount(), 2);
    graph.SetModified(false);  // either way the counts go
    EXPECT_EQ(trace->GetCount(), 0);
    EXPECT_EQ(trace->CountEntities(), 2);
    graph.SelectOrAddLayer("New");  // adding a layer marks the drawing modified
    EXPECT_EQ(trace->GetCount(), 0);
    EXPECT_EQ(graph.GetEntityCount(), 2);
    EXPECT_EQ(trace->GetCount(), 2);
}

TEST(GraphLayers, ReplacedAndRebuiltListsAreFoundByName)
{
    // A copy, a whole-drawing undo and a separation by widths rebuild the list.
    CGraph source;
    source.SelectOrAddLayer("Walls")->AddEntity(new CTestBox);
    source.SelectOrAddLayer("Doors");
    CGraph copy;
    copy.SelectOrAddLayer("Gone");
    ASSERT_TRUE(copy.CopyFrom(source));
    EXPECT_EQ(copy.FindLayerByName("gone"), nullptr);
    ASSERT_NE(copy.FindLayerByName("WALLS"), nullptr);
    EXPECT_EQ(copy.FindLayerByName("WALLS")->GetOwner(), &copy);
    EXPECT_EQ(copy.FindLayerByName("walls"), ScanForLayer(copy, "walls"));
    EXPECT_TRUE(copy.SetCurrentLayer(copy.FindLayerByName("doors")));
    EXPECT_FALSE(copy.SetCurrentLayer(source.FindLayerByName("doors")));
}

TEST(GraphEntities, IdsAreUniqueAcrossDrawingsAndFoundAcrossLayers)
{
    auto first = std::make_unique<CGraph>();
    CGraph graph;
    auto* a = new CTestBox;
    first->GetCurrentLayer()->AddEntity(a);
    std::set<std::uint32_t> ids{first->GetCurrentLayer()->GetId(), graph.GetCurrentLayer()->GetId(), a->m_Id};
    first.reset();  // the counter outlives any drawing
    auto* b = new CTestBox;
    auto* c = new CTestBox;
    graph.GetCurrentLayer()->AddEntity(b);
    CLayer* other = graph.SelectOrAddLayer("Other");
    other->AddEntity(c);
    ids.insert({b->m_Id, c->m_Id, other->GetId()});
    EXPECT_EQ(ids.size(), 6u);
    EXPECT_EQ(graph.GetEntityCount(), 2);
    EXPECT_EQ(graph.FindEntity(b->m_Id), b);
    graph.SelectAll(true);
    EXPECT_TRUE(b->m_Selected && c->m_Selected);
    graph.ClearSelection();
    EXPECT_FALSE(b->m_Selected || c->m_Selected);
    // Clearing walks the set, not the drawing: a flag nobody put in the set
    // is not looked at.
    c->m_Selected = true;
    graph.ClearSelection();
    EXPECT_TRUE(c->m_Selected);
    c->m_Selected = false;
}

// ---- copies ---------------------------------------------------------------

TEST(GraphCopy, CopyReversesTheLayerOrderAndKeepsTheCurrentLayer)
{
    CGraph source;
    source.SelectOrAddLayer("A");
    auto* a = new CTestBox(ENTITY_LINE, 1, 2, 3, 4);
    source.GetCurrentLayer()->AddEntity(a);
    source.SelectOrAddLayer("B");  // B, A, Trace
    source.SetCurrentLayerByName("A");
    ASSERT_TRUE(source.SetGridSpacing(5, 7));
    source.SelectAll(true);  // the copy holds no selection, so no flags
    source.SetModified(false);

    CGraph copy;
    copy.GetCurrentLayer()->AddEntity(new CTestBox);
    ASSERT_TRUE(copy.CopyFrom(source));
    EXPECT_EQ(LayerNames(copy), (std::vector<std::string>{"Trace", "A", "B"}));
    EXPECT_EQ(copy.GetCurrentLayer()->GetId(), source.GetCurrentLayer()->GetId());
    EXPECT_EQ(copy.GetCurrentLayer()->GetOwner(), &copy);
    CEntity* clone = copy.FindEntity(a->m_Id);
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone, a);
    EXPECT_FALSE(clone->m_Selected);
    EXPECT_TRUE(a->m_Selected);
    EXPECT_EQ(copy.GetEntityCount(), 1);
    EXPECT_EQ(copy.GetGridSpacingY(), 7.0);
    EXPECT_FALSE(copy.IsModified());

    // A second copy restores the first order.
    CGraph again;
    ASSERT_TRUE(again.CopyFrom(copy));
    EXPECT_EQ(LayerNames(again), LayerNames(source));
    EXPECT_TRUE(again.CopyFrom(again));
    // A source without layers gives an empty copy.
    source.RemoveAllLayers();
    ASSERT_TRUE(copy.CopyFrom(source));
    EXPECT_EQ(copy.GetFirstLayer(), nullptr);
    EXPECT_EQ(copy.GetCurrentLayer(), nullptr);
}

// ---- extents --------------------------------------------------------------

TEST(GraphExtents, UnionOverLayersWithMarginAppliedPerCallAndCached)
{
    CGraph graph;
    double box[4] = {1, 2, 3, 4};
    EXPECT_FALSE(graph.GetExtents(box, true, true));
    EXPECT_EQ(Box(box), (std::vector<double>{1, 2, 3, 4}));  // left unwritten
    auto* e = new CTestBox(ENTITY_LINE, 0, 0, 100, 50);
    graph.GetCurrentLayer()->AddEntity(e);
    graph.SelectOrAddLayer("Other");
    graph.GetCurrentLayer()->AddEntity(new CTestBox(ENTITY_LINE, -100, 10, 0, 20));
    graph.SetModified(true);

    ASSERT_TRUE(graph.GetExtents(box, false, false));
    EXPECT_EQ(Box(box), (std::vector<double>{-100, 100, 0, 50}));
    ASSERT_TRUE(graph.GetExtents(box, true, false));
    EXPECT_DOUBLE_EQ(box[EXT_MIN_X], -103);
    EXPECT_DOUBLE_EQ(box[EXT_MAX_X], 103);
    EXPECT_DOUBLE_EQ(box[EXT_MIN_Y], 25 - 25 * 1.03);
    EXPECT_DOUBLE_EQ(box[EXT_MAX_Y], 25 + 25 * 1.03);
    // Asking without margin after asking with it gives the raw box again.
    ASSERT_TRUE(graph.GetExtents(box, false, true));
    EXPECT_EQ(Box(box), (std::vector<double>{-100, 100, 0, 50}));

    // The cache holds until the drawing is marked modified.
    e->box[EXT_MAX_X] = 200;
    graph.SetModified(false);
    ASSERT_TRUE(graph.GetExtents(box, false, false));
    EXPECT_EQ(box[EXT_MAX_X], 100.0);
    graph.SetModified(true);
    ASSERT_TRUE(graph.GetExtents(box, false, false));
    EXPECT_EQ(box[EXT_MAX_X], 200.0);
}

// ---- settings -------------------------------------------------------------

TEST(GraphSettings, InvalidGridUnitAndColourAreRefused)
{
    CGraph graph;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(graph.SetGridSpacing(0, 10));
    EXPECT_FALSE(graph.SetGridSpacing(nan, 10));
    EXPECT_FALSE(graph.SetGridSpacing(10, inf));
    EXPECT_EQ(graph.GetGridSpacingY(), 25.0);
    EXPECT_FALSE(graph.SetUnit(4));
    EXPECT_EQ(graph.GetUnit(), UNIT_PIXEL);
    EXPECT_FALSE(graph.SetSnapAngle(nan));
    EXPECT_FALSE(graph.SetSnapBase(frDoublePoint(inf, 0)));
    EXPECT_FALSE(graph.SetCurrentColor(0));
    EXPECT_FALSE(graph.SetCurrentColor(257));
    EXPECT_FALSE(graph.SetCurrentWidth(nan));
}

// ---- project header -------------------------------------------------------

std::string SampleHeader()
{
    CGraph graph;
    (void)graph.SetUnit(UNIT_MM);
    graph.SetObjectSnapMask(0x3B4);
    graph.SetObjectSnapOn(false);
    graph.SetGridShown(true);
    (void)graph.SetSnapBase(frDoublePoint(1.5, -2.25));
    (void)graph.SetSnapAngle(0.125);
    (void)graph.SetGridSpacing(10, 12.5);
    graph.SetOrtho(true);
    return WriteToBytes([&](std::FILE* f) { return graph.WriteHeader(f); });
}

TEST(GraphHeader, HeaderHoldsSixtyBytesWithOrthoLast)
{
    const std::string bytes = SampleHeader();
    ASSERT_EQ(bytes.size(), GRAPH_HEADER_SIZE);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x02\0\0\0", 4));  // millimetres
    EXPECT_EQ(bytes.substr(56, 4), std::string("\x01\0\0\0", 4));
}

// ---- temporary polyline ---------------------------------------------------

class GraphTempPolyline : public ::testing::Test {
protected:
    CTestBoxCreator standIn{ENTITY_POLYLINE};
};

TEST_F(GraphTempPolyline, KeptOnesJoinTheCurrentLayerAndTheRestAreFreed)
{
    const int before = CTestBox::live;
    {
        CGraph graph;
        (void)graph.SetCurrentColor(5);
        graph.SetModified(false);
        graph.BeginTempPolyline();
        graph.BeginTempPolyline();  // frees the previous one
        EXPECT_EQ(CTestBox::live, before + 1);
        graph.EndTempPolyline(true);
        ASSERT_EQ(graph.GetEntityCount(), 1);
        CEntity* kept = graph.GetCurrentLayer()->GetFirstEntity();
        EXPECT_EQ(kept->m_Color, 5);
        EXPECT_EQ(kept->m_Layer, graph.GetCurrentLayer());
        EXPECT_TRUE(graph.IsModified());
        graph.BeginTempPolyline();
        graph.EndTempPolyline(false);
        EXPECT_EQ(CTestBox::live, before + 1);
        graph.BeginTempPolyline();  // the drawing frees the last one
    }
    EXPECT_EQ(CTestBox::live, before);
    CGraph graph;
    graph.RemoveAllLayers();
    graph.BeginTempPolyline();  // none without a current layer
    EXPECT_EQ(CTestBox::live, before);
    graph.EndTempPolyline(true);
}

TEST(GraphTempPolylineReal, VerticesTakeTheCurrentWidthAndKeepingIsUndoable)
{
    CGraph graph;
    CUndoList vectorList;
    graph.SetUndoLists(nullptr, &vectorList);
    ASSERT_TRUE(graph.SetCurrentWidth(2.0));
    graph.BeginTempPolyline();
    CPolyLine* polyline = graph.GetTempPolyline();
    ASSERT_NE(polyline, nullptr);
    graph.AddTempVertex(0, 0, -1, -1, 0);  // "no width": the current one
    graph.AddTempVertex(0, 0, 1, 1, 0);    // repeat of the tail: dropped
    graph.AddTempVertex(5, 0, 0.5, 0.25, 0);
    ASSERT_EQ(polyline->GetPointCount(), 2);
    EXPECT_EQ(polyline->GetHead()->startWidth, 2.0);
    EXPECT_EQ(polyline->GetHead()->next->endWidth, 0.25);

    graph.EndTempPolyline(true);
    ASSERT_EQ(graph.GetEntityCount(), 1);
    ASSERT_EQ(vectorList.GetCount(), 1u);
    EXPECT_TRUE(UndoOneItem(vectorList.GetAt(0)));
    EXPECT_EQ(graph.GetEntityCount(), 0);

    graph.SetUndoLists(nullptr, nullptr);  // kept without an undo list too
    graph.BeginTempPolyline();
    graph.AddTempVertex(1, 1, 0, 0, 0);
    graph.EndTempPolyline(true);
    EXPECT_EQ(graph.GetEntityCount(), 1);
}

// ---- raster ---------------------------------------------------------------

TEST(GraphRaster, ExtentsTakeInTheRasterOnlyWhenAsked)
{
    CGraph graph;
    ASSERT_TRUE(graph.GetRaster()->GetImage().Create(100, 50, 8));
    graph.GetCurrentLayer()->AddEntity(new CTestBox(ENTITY_LINE, 90, 10, 120, 20));
    graph.SetModified(true);
    double box[4];
    ASSERT_TRUE(graph.GetExtents(box, false, true));
    EXPECT_EQ(Box(box), (std::vector<double>{0, 120, 0, 50}));
    ASSERT_TRUE(graph.GetExtents(box, false, false));
    EXPECT_EQ(Box(box), (std::vector<double>{90, 120, 10, 20}));

    graph.GetCurrentLayer()->DeleteAll();
    graph.SetModified(true);
    EXPECT_FALSE(graph.GetExtents(box, false, false));
    ASSERT_TRUE(graph.GetExtents(box, false, true));  // the raster alone
    EXPECT_EQ(Box(box), (std::vector<double>{0, 100, 0, 50}));
}

TEST(GraphRaster, UnitsConvertWithTheImageResolution)
{
    CGraph graph;
    ASSERT_TRUE(graph.SetUnit(UNIT_CM));
    double a = 3, b = 4;
    graph.UnitsToPixels(&a, &b);  // no image: lengths stay in pixels
    EXPECT_EQ(a, 3.0);
    ASSERT_TRUE(graph.GetRaster()->GetImage().Create(10, 10, 8));
    ASSERT_TRUE(graph.GetRaster()->GetImage().SetResolution(7874));
    a = 1.0, b = 2.0;
    graph.UnitsToPixels(&a, &b);
    EXPECT_DOUBLE_EQ(b, 157.48);
    std::string name;
    graph.GetPixelsPerUnit(&a, &b, &name);
    EXPECT_DOUBLE_EQ(a, 1.0);
    EXPECT_EQ(name, "cm");
    ASSERT_TRUE(graph.SetUnit(UNIT_INCH));
    a = 1.0;
    graph.UnitsToPixels(&a, nullptr);
    EXPECT_NEAR(a, 200.0, 0.01);
    a = 200.0;  // 7874 dots per metre are 200 dots per inch
    graph.GetPixelsPerUnit(&a, nullptr, &name);
    EXPECT_NEAR(a, 1.0, 1e-4);
    EXPECT_EQ(name, "Inch");
}

TEST(GraphRaster, NewFromAMissingImageLeavesOneEmptyLayer)
{
    CGraph graph;
    graph.SelectOrAddLayer("Extra");
    EXPECT_FALSE(graph.NewFromRaster("/nonexistent/scan.png", nullptr));
    EXPECT_EQ(LayerNames(graph), std::vector<std::string>{"Trace"});
    EXPECT_TRUE(graph.IsModified());
}

TEST(GraphDraw, DrawsLayersHeadFirst)
{
    CGraph graph;
    graph.GetCurrentLayer()->AddEntity(new CTestBox(ENTITY_LINE, 0, 0, 1, 1));
    graph.SelectOrAddLayer("Top");
    graph.GetCurrentLayer()->AddEntity(new CTestBox(ENTITY_LINE, 5, 5, 6, 6));
    CRecordingDevice device;
    graph.DrawLayers(&device);
    ASSERT_EQ(device.calls.size(), 2u);
    EXPECT_EQ(device.calls[0].rfind("DrawEntityLine (5,5", 0), 0u);
}

}  // namespace
