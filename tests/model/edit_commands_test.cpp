#include "model/edit_commands.h"

#include <gtest/gtest.h>

#include <locale.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "model/property_list.h"
#include "model/solid.h"
#include "model/undo.h"
#include "recording_property_list.h"
#include "platform/number_text.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "test_entity.h"
#include "trace/series.h"

namespace {

// The drawing as text: settings, then each layer in order with its
// entities' project records sorted by id (undo puts entities back at the
// tail of their layer, so the order within a layer is not kept).
std::string Dump(CGraph& graph)
{
    std::string text =
        FormatC("unit=%u color=%d width=%.17g current=%u\n", graph.GetUnit(), graph.GetCurrentColor(),
                graph.GetCurrentWidth(), graph.GetCurrentLayer() ? graph.GetCurrentLayer()->GetId() : 0u);
    for (CLayer* layer = graph.GetFirstLayer(); layer; layer = layer->GetNext()) {
        text += FormatC("layer %u '%s'\n", layer->GetId(), layer->GetName().c_str());
        std::map<std::uint32_t, std::string> entities;
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            EXPECT_EQ(e->m_Layer, layer);
            std::string record;
            for (unsigned char ch : WriteToBytes([e](std::FILE* f) { return e->Save(f); }))
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

class EditCommands : public ::testing::Test {
protected:
    CGraph graph;
    CUndoList undo{20};

    void SetUp() override { graph.SetUndoLists(nullptr, &undo); }

    // The command has just run: undo gives `before` and redo `after`,
    // twice over. The view clears the selection around each step.
    void ExpectUndoRedo(const std::string& before, const std::string& after)
    {
        for (int round = 0; round < 2; ++round) {
            graph.ClearSelection();
            ASSERT_TRUE(undo.UndoLast());
            EXPECT_EQ(Dump(graph), before) << "after undo, round " << round;
            graph.ClearSelection();
            ASSERT_TRUE(undo.RedoNext());
            EXPECT_EQ(Dump(graph), after) << "after redo, round " << round;
        }
    }

    CLine* AddLine(double x1, double y1, double x2, double y2)
    {
        auto* line = new CLine;
        line->SetEnds({x1, y1}, {x2, y2});
        EXPECT_TRUE(graph.GetCurrentLayer()->AddEntity(line));
        return line;
    }

    CPolyLine* AddPolyline(std::initializer_list<std::pair<double, double>> points)
    {
        auto* polyline = new CPolyLine;
        for (auto [x, y] : points)
            EXPECT_TRUE(polyline->AddPoint(x, y));
        EXPECT_TRUE(graph.GetCurrentLayer()->AddEntity(polyline));
        return polyline;
    }
};

// ---- drawing commands -----------------------------------------------------

TEST_F(EditCommands, DrawingCommandsUseCurrentColourAndWidthAndUndoExactly)
{
    ASSERT_TRUE(graph.SetCurrentColor(3));
    ASSERT_TRUE(graph.SetCurrentWidth(2.5));
    const std::vector<std::function<CEntity*()>> commands = {
        [&] {
            return graph.DrawSolid({0, 0}, {0, 10}, {10, 0});
        },
        [&] {
            return graph.DrawCircle({5, 5, 7}, -4);
        },
        [&] {
            return graph.DrawCircle3P({1, 0}, {0, 1}, {-1, 0});
        },
        [&] {
            return graph.DrawArcCentre({0, 0}, {2, 0}, {0, 5});
        },
        [&] {
            return graph.DrawArc3P({1, 0}, {0, 1}, {-1, 0});
        },
    };
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const std::string before = Dump(graph);
        graph.SetModified(false);
        CEntity* e = commands[i]();
        ASSERT_NE(e, nullptr) << i;
        EXPECT_EQ(e->m_Color, 3);
        EXPECT_EQ(e->GetWidth(), 2.5);
        EXPECT_EQ(e->m_Layer, graph.GetCurrentLayer());
        EXPECT_TRUE(graph.IsModified());
        EXPECT_EQ(undo.GetCount(), i + 1);
        if (i == 1) {
            auto* circle = dynamic_cast<CCircle*>(e);
            ASSERT_NE(circle, nullptr);
            EXPECT_EQ(circle->m_Radius, 4);
            EXPECT_EQ(circle->m_Centre.z, 0);
        }
        ExpectUndoRedo(before, Dump(graph));
    }
}

TEST_F(EditCommands, DrawingCommandsRefuseDegenerateInputAndRecordNothing)
{
    // A command pushed now and undone: a refused command must keep its redo.
    ASSERT_NE(graph.DrawCircle({0, 0}, 1), nullptr);
    ASSERT_TRUE(undo.UndoLast());
    const std::string before = Dump(graph);

    EXPECT_EQ(graph.DrawCircle({0, 0}, 5e-6), nullptr);
    EXPECT_EQ(graph.DrawCircle({0, 0}, -5e-6), nullptr);
    EXPECT_EQ(graph.DrawCircle({0, 0}, std::nan("")), nullptr);
    EXPECT_EQ(graph.DrawCircle3P({0, 0}, {1, 1}, {2, 2}), nullptr);
    EXPECT_EQ(graph.DrawCircle3P({0, 0}, {0, 0}, {2, 0}), nullptr);
    EXPECT_EQ(graph.DrawCircle3P({0, 0}, {1.2e-5, 0}, {6e-6, 1.04e-5}), nullptr);
    EXPECT_EQ(graph.DrawArcCentre({0, 0}, {0, 0}, {1, 1}), nullptr);
    EXPECT_EQ(graph.DrawArcCentre({0, 0}, {1, 0}, {1, 0}), nullptr);
    EXPECT_EQ(graph.DrawArcCentre({0, 0}, {1, 0}, {3, 0}), nullptr);  // no sweep
    EXPECT_EQ(graph.DrawArc3P({0, 0}, {1, 0}, {2, 0}), nullptr);
    EXPECT_EQ(graph.DrawSolid({0, 0}, {1, 1}, {2, 2}), nullptr);
    EXPECT_EQ(Dump(graph), before);
    EXPECT_NE(undo.GetRedoItem(), nullptr);

    graph.RemoveAllLayers();
    EXPECT_EQ(graph.DrawCircle({0, 0}, 1), nullptr);
    EXPECT_EQ(graph.DrawSolid({0, 0}, {0, 10}, {10, 0}), nullptr);
    EXPECT_NE(undo.GetRedoItem(), nullptr);
}

TEST_F(EditCommands, ArcsRunCounterClockwiseThroughTheGivenPoints)
{
    CArc* lower = graph.DrawArc3P({1, 0}, {0, -1}, {-1, 0});
    ASSERT_NE(lower, nullptr);
    EXPECT_NEAR(lower->m_StartAngle, PI, 1e-6);
    EXPECT_NEAR(lower->m_EndAngle, TWO_PI, 1e-6);
    CArc* upper = graph.DrawArc3P({1, 0}, {0, 1}, {-1, 0});
    ASSERT_NE(upper, nullptr);
    EXPECT_NEAR(upper->m_StartAngle, 0, 1e-6);
    EXPECT_NEAR(upper->m_EndAngle, PI, 1e-6);

    // The end point gives only a direction.
    CArc* onCircle = graph.DrawArcCentre({1, 1}, {3, 1}, {1, 3});
    CArc* beyond = graph.DrawArcCentre({1, 1}, {3, 1}, {1, 5});
    ASSERT_TRUE(onCircle && beyond);
    EXPECT_EQ(onCircle->m_Radius, 2);
    EXPECT_EQ(beyond->m_Radius, onCircle->m_Radius);
    EXPECT_EQ(beyond->m_StartAngle, onCircle->m_StartAngle);
    EXPECT_EQ(beyond->m_EndAngle, onCircle->m_EndAngle);
    EXPECT_NEAR(onCircle->m_EndAngle - onCircle->m_StartAngle, HALF_PI, 1e-6);
}

TEST_F(EditCommands, UndoingTheAdditionOfASelectedEntityDropsTheSelection)
{
    ASSERT_NE(graph.DrawCircle({0, 0}, 2), nullptr);
    graph.SelectAll(true);
    ASSERT_EQ(graph.GetSelectSet().GetCount(), 1);
    ASSERT_TRUE(undo.UndoLast());  // without the view clearing the selection first
    EXPECT_TRUE(graph.GetSelectSet().IsEmpty());
    EXPECT_EQ(graph.GetGrips(), nullptr);
    EXPECT_TRUE(graph.IsEmpty());
}

// ---- deleting -------------------------------------------------------------

TEST_F(EditCommands, DeleteSelectedRecordsFirstAndPushesOnlyWhatItDeleted)
{
    AddLine(0, 0, 1, 1);
    const std::uint32_t deleted = AddLine(2, 2, 3, 3)->m_Id;
    AddLine(4, 4, 5, 5);
    const std::string before = Dump(graph);

    // Nothing selected: no record, the redo history stays.
    ASSERT_NE(graph.DrawCircle({9, 9}, 1), nullptr);
    ASSERT_TRUE(undo.UndoLast());
    EXPECT_FALSE(graph.DeleteSelected());
    ASSERT_NE(undo.GetRedoItem(), nullptr);
    EXPECT_EQ(Dump(graph), before);

    graph.SelectCrossing({-1, -1}, {2.5, 2.5});
    ASSERT_EQ(graph.GetSelectSet().GetCount(), 2);
    graph.SetModified(false);
    EXPECT_TRUE(graph.DeleteSelected());
    EXPECT_TRUE(graph.IsModified());
    EXPECT_TRUE(graph.GetSelectSet().IsEmpty());
    EXPECT_EQ(graph.GetGrips(), nullptr);
    EXPECT_EQ(graph.GetEntityCount(), 1);
    EXPECT_EQ(graph.FindEntity(deleted), nullptr);
    EXPECT_EQ(undo.GetRedoItem(), nullptr);
    ExpectUndoRedo(before, Dump(graph));
}

// An entity class that cannot be copied cannot be recorded.
class CUncopyable : public CTestBox {
public:
    std::unique_ptr<CEntity> Clone() const override { return nullptr; }
};

TEST_F(EditCommands, DeleteSelectedWithoutARecordDeletesNothingUnlessNobodyKeepsRecords)
{
    graph.GetCurrentLayer()->AddEntity(new CUncopyable);
    graph.SelectAll(true);
    ASSERT_EQ(graph.GetSelectSet().GetCount(), 1);
    EXPECT_FALSE(graph.DeleteSelected());
    EXPECT_EQ(graph.GetEntityCount(), 1);
    EXPECT_EQ(undo.GetCount(), 0u);

    graph.SetUndoLists(nullptr, nullptr);
    EXPECT_TRUE(graph.DeleteSelected());
    EXPECT_EQ(graph.GetEntityCount(), 0);
}

// ---- exploding ------------------------------------------------------------

TEST_F(EditCommands, ExplodeTakesTheSelectionOrEveryPolylineAndUndoesExactly)
{
    CPolyLine* first = AddPolyline({{0, 0}, {10, 0}, {10, 10}});
    AddPolyline({{20, 0}, {30, 0}, {30, 10}, {20, 10}});
    AddLine(0, 50, 10, 50);
    const std::string start = Dump(graph);

    graph.SelectWindow({-1, -1}, {11, 11});
    ASSERT_TRUE(first->m_Selected);
    EXPECT_EQ(graph.ExplodePolylines(false), 1);
    EXPECT_EQ(graph.GetGrips(), nullptr);
    EXPECT_TRUE(graph.GetSelectSet().IsEmpty());
    EXPECT_EQ(graph.GetEntityCount(), 2 + 1 + 1);
    const std::string afterFirst = Dump(graph);
    ExpectUndoRedo(start, afterFirst);

    // Nothing selected means every polyline; the lines are left.
    EXPECT_EQ(graph.ExplodePolylines(false), 1);
    EXPECT_EQ(graph.GetEntityCount(), 2 + 3 + 1);
    ExpectUndoRedo(afterFirst, Dump(graph));

    // A selection without polylines: nothing pushed, the redo step stays.
    ASSERT_TRUE(undo.UndoLast());
    const std::string undone = Dump(graph);
    const UINT count = undo.GetCount();
    graph.SelectCrossing({-1, 49}, {11, 51});
    ASSERT_EQ(graph.GetSelectSet().GetCount(), 1);
    EXPECT_EQ(graph.ExplodePolylines(false), 0);
    EXPECT_EQ(undo.GetCount(), count);
    EXPECT_NE(undo.GetRedoItem(), nullptr);
    EXPECT_EQ(Dump(graph), undone);
}

// ---- grips ----------------------------------------------------------------

TEST_F(EditCommands, MoveGripPointMovesHotGripsRebuildsGripsAndUndoesExactly)
{
    CLine* line = AddLine(0, 0, 4, 0);
    CLine* other = AddLine(0, 10, 4, 10);
    const std::string before = Dump(graph);
    EXPECT_FALSE(graph.MoveGripPoint({1, 1}));  // no grip at all

    graph.SelectAll(true);
    CSelectNode* node = graph.GetSelectSet().FindNode(line);
    ASSERT_NE(node, nullptr);
    CGripRecord* end = nullptr;
    for (CGripRecord* g = graph.GetGrips(); g; g = g->next)
        if (g->owner == node && g->index == 2)
            end = g;
    ASSERT_NE(end, nullptr);
    EXPECT_FALSE(graph.MoveGripPoint({1, 1}));  // none hot
    EXPECT_EQ(undo.GetCount(), 0u);

    end->hot = 1;
    ASSERT_EQ(graph.SetCurrentGrip(node, 2), end);
    EXPECT_TRUE(graph.MoveGripPoint({9, 9}));
    EXPECT_EQ(line->GetEndPoint().x, 9);
    EXPECT_EQ(line->GetEndPoint().y, 9);
    EXPECT_EQ(line->m_Color, ENTITY_COLOR_BY_LAYER);
    EXPECT_EQ(other->GetEndPoint().x, 4);
    EXPECT_EQ(graph.GetGripCount(), 6u);
    CGripRecord* current = graph.GetCurrentGrip();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->owner, node);
    EXPECT_EQ(current->index, 2);
    EXPECT_EQ(current->point.x, 9);
    EXPECT_EQ(current->hot, 0);
    EXPECT_EQ(undo.GetCount(), 1u);
    graph.ClearSelection();
    ExpectUndoRedo(before, Dump(graph));
}

// ---- property rows --------------------------------------------------------

// Takes the value of any row as its colour; row 4 and above move its box
// and answer "geometry changed". Grips at two corners.
class CPaintable : public CTestBox {
public:
    int ApplyProperty(CGraph*, int row, int value, const std::string&, CPropertyRow*, const CSelectNode*) override
    {
        if (row >= 4) {
            box[EXT_MAX_X] += 1;
            return -3;
        }
        if (value == m_Color)
            return -1;
        m_Color = static_cast<std::int16_t>(value);
        return 0;
    }
    void AddGrips(CSelectNode* tag, CGripRecord** grips) override
    {
        (void)AddGrip({box[EXT_MIN_X], box[EXT_MIN_Y]}, tag, 0, grips);
        (void)AddGrip({box[EXT_MAX_X], box[EXT_MAX_Y]}, tag, 1, grips);
    }
};

TEST_F(EditCommands, ApplyPropertyToTheSelectionRecordsOnlyChanges)
{
    auto* e = new CPaintable;
    graph.GetCurrentLayer()->AddEntity(e);
    const std::string before = Dump(graph);
    graph.SelectAll(true);
    CSelectNode* node = graph.GetSelectSet().GetHead();
    ASSERT_NE(graph.SetCurrentGrip(node, 1), nullptr);

    EXPECT_EQ(graph.ApplyProperty(2, 5, "", nullptr), 0);
    EXPECT_EQ(e->m_Color, 5);
    EXPECT_EQ(undo.GetCount(), 1u);
    EXPECT_EQ(graph.ApplyProperty(2, 5, "", nullptr), -1);  // unchanged: nothing pushed
    EXPECT_EQ(undo.GetCount(), 1u);

    // A geometry row: the grips follow the entity, the current one stays.
    EXPECT_EQ(graph.ApplyProperty(4, 0, "", nullptr), -3);
    EXPECT_EQ(undo.GetCount(), 2u);
    ASSERT_NE(graph.GetCurrentGrip(), nullptr);
    EXPECT_EQ(graph.GetCurrentGrip()->index, 1);
    EXPECT_EQ(graph.GetCurrentGrip()->point.x, 2);
    EXPECT_EQ(graph.GetGripCount(), 2u);

    graph.ClearSelection();
    const std::string after = Dump(graph);
    ASSERT_TRUE(undo.UndoLast());
    ASSERT_TRUE(undo.UndoLast());
    EXPECT_EQ(Dump(graph), before);
    ASSERT_TRUE(undo.RedoNext());
    ASSERT_TRUE(undo.RedoNext());
    EXPECT_EQ(Dump(graph), after);
}

TEST_F(EditCommands, ApplyPropertyToTheDrawingRowsPushesOnlyRealChanges)
{
    CLayer* trace = graph.GetCurrentLayer();
    graph.SelectOrAddLayer("Walls");
    const std::string start = Dump(graph);

    EXPECT_EQ(graph.ApplyProperty(0, 0, "", nullptr), -1);
    EXPECT_EQ(graph.ApplyProperty(5, 0, "", nullptr), -1);
    EXPECT_EQ(graph.ApplyProperty(1, 0, "nowhere", nullptr), -1);
    EXPECT_EQ(graph.ApplyProperty(3, 0, "-1", nullptr), -1);
    EXPECT_EQ(graph.ApplyProperty(3, 0, "wide", nullptr), -1);
    EXPECT_EQ(graph.ApplyProperty(4, 0, "pixel", nullptr), -1);  // already pixels
    EXPECT_EQ(undo.GetCount(), 0u);

    EXPECT_EQ(graph.ApplyProperty(1, 0, "TRACE", nullptr), -3);
    EXPECT_EQ(graph.GetCurrentLayer(), trace);
    CPropertyRow row;
    EXPECT_EQ(graph.ApplyProperty(2, 300, "", &row), 0);
    EXPECT_EQ(graph.GetCurrentColor(), 256);  // was 256 already: nothing pushed
    EXPECT_EQ(row.number, trace->GetColor());
    EXPECT_FALSE(row.value.empty());
    EXPECT_EQ(graph.ApplyProperty(2, 3, "", &row), 0);
    EXPECT_EQ(row.number, 3);
    EXPECT_EQ(graph.ApplyProperty(3, 0, "2.5", nullptr), 0);
    EXPECT_EQ(graph.GetCurrentWidth(), 2.5);
    EXPECT_EQ(graph.ApplyProperty(4, 0, "MM", nullptr), -3);
    EXPECT_EQ(graph.GetUnit(), UNIT_MM);
    EXPECT_EQ(undo.GetCount(), 4u);
    const std::string end = Dump(graph);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(undo.UndoLast());
    EXPECT_EQ(Dump(graph), start);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(undo.RedoNext());
    EXPECT_EQ(Dump(graph), end);
}

TEST_F(EditCommands, ALayerRowNamingADeletedLayerIsRefusedAndChangesNothing)
{
    auto* line = new CLine;
    line->SetEnds({0, 0}, {4, 0});
    CLayer* trace = graph.GetCurrentLayer();
    ASSERT_TRUE(trace->AddEntity(line));
    CLayer* gone = graph.SelectOrAddLayer("Gone");
    graph.SetCurrentLayerByName("Trace");
    graph.SelectAll(true);
    ASSERT_TRUE(graph.RemoveLayer(gone, true));  // after the rows were filled
    graph.SelectAll(true);
    graph.SetModified(false);
    const std::string before = Dump(graph);

    EXPECT_EQ(graph.ApplyProperty(1, 0, "Gone", nullptr), -1);
    EXPECT_EQ(line->m_Layer, trace);
    EXPECT_EQ(undo.GetCount(), 0u);
    EXPECT_FALSE(graph.IsModified());
    EXPECT_EQ(Dump(graph), before);
}

// The drawing's own rows, by the names they show.
int RowNamed(const CRecordingPropertyList& list, const std::string& name)
{
    for (std::size_t i = 0; i < list.rows.size(); ++i)
        if (list.rows[i].name == name)
            return static_cast<int>(i);
    return -1;
}

TEST_F(EditCommands, DrawingRowsShowTheCurrentSettingsAndApplyThroughTheDrawing)
{
    graph.SelectOrAddLayer("Walls");  // Walls, Trace; Walls current
    ASSERT_TRUE(graph.SetCurrentWidth(2.5));
    {
        CRecordingPropertyList list;
        graph.FillProperties(&list);
        EXPECT_EQ(list.Names(),
                  (std::vector<std::string>{"Drawing Properties", "Current Layer", "Current Color", "Current Width"}));
        EXPECT_EQ(list.Kinds(), (std::vector<int>{PROP_CATEGORY, PROP_CHOICE, PROP_COLOR_INDEX, PROP_TEXT}));
        EXPECT_EQ(list.rows[1].value, "Walls");
        EXPECT_EQ(list.rows[1].choices, "Walls|Trace");
        // By layer: the swatch shows the layer's colour.
        EXPECT_EQ(list.rows[2].number, graph.GetCurrentLayer()->GetColor());
        EXPECT_EQ(list.rows[3].value, "2.500000");
    }

    // With a raster image of 400 dpi the unit row joins, and lengths show
    // in the unit: 157.48 pixels are 10 mm.
    ASSERT_TRUE(graph.GetRaster()->GetImage().Create(8, 8, 1));
    ASSERT_TRUE(graph.GetRaster()->GetImage().SetResolution(15748));
    ASSERT_TRUE(graph.SetUnit(UNIT_MM));
    ASSERT_TRUE(graph.SetCurrentWidth(157.48));
    ASSERT_TRUE(graph.SetCurrentColor(3));
    CRecordingPropertyList list;
    graph.FillProperties(&list);
    ASSERT_EQ(list.rows.size(), 5u);
    EXPECT_EQ(list.rows[2].number, 3);
    EXPECT_EQ(list.rows[3].value, "10.000000");
    EXPECT_EQ(list.rows[4].name, "Current Unit");
    EXPECT_EQ(list.rows[4].kind, PROP_CHOICE);
    EXPECT_EQ(list.rows[4].value, "mm");
    EXPECT_EQ(list.rows[4].choices, "Inch|cm|mm|Pixel");

    // Each row goes back through the drawing's apply under its own number.
    EXPECT_EQ(graph.ApplyProperty(RowNamed(list, "Current Layer"), 0, "trace", nullptr), -3);
    EXPECT_EQ(graph.GetCurrentLayer()->GetName(), "Trace");
    EXPECT_EQ(graph.ApplyProperty(RowNamed(list, "Current Color"), 5, "", &list.rows[2]), 0);
    EXPECT_EQ(graph.GetCurrentColor(), 5);
    EXPECT_EQ(graph.ApplyProperty(RowNamed(list, "Current Width"), 0, "20", nullptr), 0);
    EXPECT_NEAR(graph.GetCurrentWidth(), 314.96, 1e-9);
    EXPECT_EQ(graph.ApplyProperty(RowNamed(list, "Current Unit"), 0, "Inch", nullptr), -3);
    EXPECT_EQ(graph.GetUnit(), UNIT_INCH);
    EXPECT_EQ(graph.ApplyProperty(RowNamed(list, "Current Unit"), 3, "Pixel", nullptr), -3);
    EXPECT_EQ(graph.GetUnit(), UNIT_PIXEL);
    EXPECT_EQ(undo.GetCount(), 5u);
    list.RemoveAllRows();
    graph.FillProperties(&list);
    EXPECT_EQ(list.rows[1].value, "Trace");
    EXPECT_EQ(list.rows[3].value, "314.960000");
    EXPECT_EQ(list.rows[4].value, "Pixel");
}

TEST_F(EditCommands, DrawingRowsGiveWayToTheSelectionAndReleaseTheCurrentGrip)
{
    auto* e = new CPaintable;
    graph.GetCurrentLayer()->AddEntity(e);
    graph.SelectAll(true);
    CGripRecord* grip = graph.SetCurrentGrip(graph.GetSelectSet().GetHead(), 1);
    ASSERT_NE(grip, nullptr);
    CRecordingPropertyList list;
    graph.FillProperties(&list);
    EXPECT_EQ(graph.GetCurrentGrip(), nullptr);
    EXPECT_EQ(grip->current, 0);
    ASSERT_FALSE(list.rows.empty());
    EXPECT_EQ(list.rows[0].name, "Base Properties");
    EXPECT_EQ(RowNamed(list, "Current Layer"), -1);
}

// ---- width layers ---------------------------------------------------------

CTestBox* AddWidth(CLayer* layer, double width)
{
    auto* box = new CTestBox;
    box->m_Width = width;
    layer->AddEntity(box);
    return box;
}

std::vector<std::string> LayerNames(const CGraph& graph)
{
    std::vector<std::string> names;
    for (CLayer* l = graph.GetFirstLayer(); l; l = l->GetNext())
        names.push_back(l->GetName());
    return names;
}

TEST(WidthLayers, NamesAreWrittenInTheCLocaleWhateverTheThreadsLocale)
{
    locale_t german = newlocale(LC_ALL_MASK, "de_DE.utf8", static_cast<locale_t>(0));
    if (german == static_cast<locale_t>(0))
        GTEST_SKIP() << "no German locale";
    const locale_t old = uselocale(german);
    EXPECT_EQ(WidthLayerName(0.5), "0_5000");
    EXPECT_EQ(WidthLayerName(12.34567), "12_3457");
    uselocale(old);
    freelocale(german);
}

TEST(WidthLayers, SeparatingMovesEachEntityToItsWidthAndDropsEmptyLayers)
{
    CWidthSeries series;
    for (double w : {0.5, 1.0, 2.0})
        ASSERT_TRUE(series.AddWidth(w));
    {
        CGraph graph;
        CTestBox* a = AddWidth(graph.GetCurrentLayer(), 0.5);
        CLayer* second = graph.SelectOrAddLayer("Second");
        CTestBox* b = AddWidth(second, 1.0);
        CTestBox* c = AddWidth(second, 0.5);
        graph.SelectAll(true);
        graph.BeginTempPolyline();
        ASSERT_TRUE(graph.SeparateToLayers(series));
        // No "other", no empty "2_0000"; the list turned round.
        EXPECT_EQ(LayerNames(graph), (std::vector<std::string>{"0_5000", "1_0000"}));
        EXPECT_EQ(graph.GetCurrentLayer(), graph.GetFirstLayer());
        // Lookups by name follow the new list; the old layers are gone from them.
        EXPECT_EQ(graph.FindLayerByName("0_5000"), graph.GetFirstLayer());
        EXPECT_EQ(graph.FindLayerByName("second"), nullptr);
        EXPECT_EQ(graph.FindLayerByName("trace"), nullptr);
        EXPECT_EQ(a->m_Layer->GetName(), "0_5000");
        EXPECT_EQ(c->m_Layer, a->m_Layer);
        EXPECT_EQ(b->m_Layer->GetName(), "1_0000");
        EXPECT_TRUE(graph.GetSelectSet().IsEmpty());
        EXPECT_FALSE(a->m_Selected);
        ASSERT_NE(graph.GetTempPolyline(), nullptr);
        EXPECT_EQ(graph.GetTempPolyline()->m_Layer, graph.GetCurrentLayer());
        EXPECT_TRUE(graph.IsModified());
    }
    {
        CGraph graph;
        AddWidth(graph.GetCurrentLayer(), 0.75);
        AddWidth(graph.GetCurrentLayer(), 2.0);
        ASSERT_TRUE(graph.SeparateToLayers(series));
        EXPECT_EQ(LayerNames(graph), (std::vector<std::string>{"2_0000", "other"}));
    }
    {
        // Widths traced from a millimetre series in a drawing shown in
        // pixels: the names are millimetres, and so is the comparison.
        CGraph graph;
        ASSERT_NE(graph.GetRaster(), nullptr);
        ASSERT_TRUE(graph.GetRaster()->GetImage().Create(8, 8, 1));
        ASSERT_TRUE(graph.GetRaster()->GetImage().SetResolution(15748));
        ASSERT_EQ(graph.GetUnit(), UNIT_PIXEL);
        series.Unit = WIDTH_UNIT_MM;
        CTestBox* traced = AddWidth(graph.GetCurrentLayer(), 2.0 * 15748 / 1000);
        ASSERT_TRUE(graph.SeparateToLayers(series));
        EXPECT_EQ(LayerNames(graph), std::vector<std::string>{"2_0000"});
        EXPECT_EQ(traced->m_Layer, graph.GetCurrentLayer());
    }
    {
        CGraph graph;  // nothing to separate by: the drawing is left alone
        CLayer* trace = graph.GetCurrentLayer();
        AddWidth(trace, 0.5);
        EXPECT_FALSE(graph.SeparateToLayers(CWidthSeries()));
        EXPECT_FALSE(graph.CreateBasisLayers(CWidthSeries()));
        EXPECT_EQ(graph.GetFirstLayer(), trace);
        EXPECT_EQ(graph.GetCurrentLayer(), trace);
        EXPECT_EQ(graph.GetEntityCount(), 1);
    }
}

TEST(WidthLayers, DistributionConvertsUnitsAsTheDrawingDoesAndMatchesTheNamesDecimals)
{
    CLayer inch, third, source;
    inch.SetName(WidthLayerName(0.01));
    third.SetName(WidthLayerName(1.0 / 3));
    inch.SetNext(&third);
    // 0.01 inch at 7874 dots per metre.
    CTestBox* a = AddWidth(&source, 0.01 * 7874 * 0.0254);
    EXPECT_TRUE(source.DistributeToLayers(&inch, UNIT_INCH, 7874));
    EXPECT_EQ(a->m_Layer, &inch);
    // A third of a millimetre at 400 dpi: its name keeps four decimals.
    CTestBox* b = AddWidth(&source, 15748.0 / 1000 / 3);
    CTestBox* c = AddWidth(&source, 15748.0 / 1000 * 0.3335);
    EXPECT_FALSE(source.DistributeToLayers(&inch, UNIT_MM, 15748));
    EXPECT_EQ(b->m_Layer, &third);
    EXPECT_EQ(c->m_Layer, &source);
}

}  // namespace
