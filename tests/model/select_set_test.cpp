#include "model/select_set.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "model/property_list.h"
#include "model/undo.h"
#include "test_entity.h"

namespace {

CLine* AddLineTo(CLayer* layer, double x1, double y1, double x2, double y2)
{
    auto* line = new CLine;
    line->SetEnds({x1, y1}, {x2, y2});
    EXPECT_TRUE(layer->AddEntity(line));
    return line;
}

std::set<CEntity*> InSet(const CGraph& graph)
{
    const std::vector<CEntity*> entities = graph.GetSelectSet().GetEntities();
    return {entities.begin(), entities.end()};
}

// An entity is in the set exactly while its flag is set, and every grip
// names a node of the set.
void ExpectFlagsMatchSet(const CGraph& graph)
{
    const std::set<CEntity*> selected = InSet(graph);
    for (CLayer* l = graph.GetFirstLayer(); l; l = l->GetNext())
        for (CEntity* e = l->GetFirstEntity(); e; e = e->m_Next)
            EXPECT_EQ(e->m_Selected, selected.count(e) == 1);
    std::set<const CSelectNode*> nodes;
    for (CSelectNode* n = graph.GetSelectSet().GetHead(); n; n = n->GetNext())
        nodes.insert(n);
    std::uint32_t grips = 0;
    for (CGripRecord* g = graph.GetGrips(); g; g = g->next, ++grips)
        EXPECT_EQ(nodes.count(g->owner), 1u);
    EXPECT_EQ(graph.GetGripCount(), grips);
}

// "Trace" holds a line inside the box (0,0)-(10,10), one crossing its left
// edge and one far outside; a hidden layer holds a line across everything.
struct Scene {
    CGraph graph;
    CLayer* trace = graph.GetCurrentLayer();
    CLine* inside = AddLineTo(trace, 1, 1, 2, 2);
    CLine* crossing = AddLineTo(trace, -5, 5, 5, 5);
    CLine* outside = AddLineTo(trace, 20, 20, 30, 30);
    CLayer* hidden = graph.SelectOrAddLayer("Hidden");
    CLine* hiddenLine = AddLineTo(hidden, -100, -100, 100, 100);
    Scene() { hidden->SetVisible(false); }
};

TEST(Selection, WindowTakesWhatLiesInsideAndCrossingWhatTouchesInEitherCornerOrder)
{
    for (bool reversed : {false, true}) {
        Scene s;
        const frDoublePoint lo(0, 0), hi(10, 10);
        EXPECT_TRUE(reversed ? s.graph.SelectWindow(hi, lo) : s.graph.SelectWindow(lo, hi));
        EXPECT_EQ(InSet(s.graph), std::set<CEntity*>{s.inside});
        ExpectFlagsMatchSet(s.graph);
        EXPECT_EQ(s.graph.GetGripCount(), 3u);

        EXPECT_TRUE(reversed ? s.graph.SelectCrossing(hi, lo) : s.graph.SelectCrossing(lo, hi));
        EXPECT_EQ(InSet(s.graph), (std::set<CEntity*>{s.inside, s.crossing}));
        EXPECT_EQ(s.graph.GetSelectSet().GetCount(), 2);
        ExpectFlagsMatchSet(s.graph);
        EXPECT_EQ(s.graph.GetGripCount(), 6u);

        // Nothing new: false, grips as they were.
        EXPECT_FALSE(s.graph.SelectCrossing(lo, hi));
        EXPECT_EQ(s.graph.GetGripCount(), 6u);
        EXPECT_FALSE(s.hiddenLine->m_Selected);
    }
}

TEST(Selection, PointPickIsASmallCrossingBoxAndSelectAllSkipsHiddenLayers)
{
    Scene s;
    EXPECT_TRUE(s.graph.SelectCrossing({-3.1, 4.9}, {-2.9, 5.1}));
    EXPECT_EQ(InSet(s.graph), std::set<CEntity*>{s.crossing});
    EXPECT_TRUE(s.graph.GetSelectSet().IsSingle());

    s.graph.SelectAll(true);
    EXPECT_EQ(InSet(s.graph), (std::set<CEntity*>{s.inside, s.crossing, s.outside}));
    ExpectFlagsMatchSet(s.graph);

    s.graph.SelectAll(false);
    EXPECT_TRUE(s.graph.GetSelectSet().IsEmpty());
    EXPECT_EQ(s.graph.GetGrips(), nullptr);
    ExpectFlagsMatchSet(s.graph);
}

// Run under the sanitizers: each of these used to leave nodes or grips
// naming freed entities.
TEST(Selection, DeletingLayersDropsTheSelectionFirst)
{
    {
        Scene s;
        s.graph.SelectAll(true);
        ASSERT_TRUE(s.graph.RemoveLayer(s.trace, true));
        EXPECT_TRUE(s.graph.GetSelectSet().IsEmpty());
        EXPECT_EQ(s.graph.GetGrips(), nullptr);
        s.graph.ClearSelection();
    }
    {
        Scene s;
        s.graph.SelectAll(true);
        s.graph.RemoveAllLayers();
        EXPECT_TRUE(s.graph.GetSelectSet().IsEmpty());
        EXPECT_EQ(s.graph.GetGrips(), nullptr);
    }
    {
        Scene s;  // destroyed with a selection and its grips
        s.graph.SelectAll(true);
    }
    {
        // Selection in a layer that stays: it is kept.
        Scene s;
        s.hidden->SetVisible(true);
        s.graph.SelectWindow({-200, -200}, {200, 200});
        CLayer* extra = s.graph.SelectOrAddLayer("Empty");
        ASSERT_TRUE(s.graph.RemoveLayer(extra, true));
        EXPECT_EQ(s.graph.GetSelectSet().GetCount(), 4);
    }
}

TEST(SelectNode, CloneIsColourSevenAndApplyingItKeepsTheEntitysColourLayerAndFlag)
{
    CGraph graph;
    CLine* line = AddLineTo(graph.GetCurrentLayer(), 0, 0, 4, 0);
    line->m_Color = 3;
    CSelectSet set;
    CSelectNode* node = set.Add(line);
    ASSERT_NE(node, nullptr);
    ASSERT_NE(node->GetClone(), nullptr);
    EXPECT_EQ(node->GetClone()->m_Color, SELECTION_CLONE_COLOR);
    line->m_Selected = true;

    ASSERT_TRUE(node->GetClone()->MoveGrip(9, 9, 0, 2));
    // The entity moved to another layer since the clone was made.
    CLayer* other = graph.SelectOrAddLayer("Other");
    line->m_Layer->RemoveEntity(line);
    other->AddEntity(line);
    node->ApplyClone();
    EXPECT_EQ(line->GetEndPoint().x, 9);
    EXPECT_EQ(line->m_Color, 3);
    EXPECT_EQ(line->m_Layer, other);
    EXPECT_TRUE(line->m_Selected);

    line->SetEnd(1, 1);
    node->RefreshClone();
    EXPECT_EQ(node->GetClone()->GetEndPoint().x, 1);
    EXPECT_EQ(node->GetClone()->m_Color, SELECTION_CLONE_COLOR);
    set.Clear();
    EXPECT_FALSE(line->m_Selected);
}

TEST(SelectSet, DeleteAllClearsFlagsBeforeFreeingAndDeletesAnEntityListedTwiceOnce)
{
    CGraph graph;
    CLayer* layer = graph.GetCurrentLayer();
    CLine* a = AddLineTo(layer, 0, 0, 1, 1);
    CLine* b = AddLineTo(layer, 2, 2, 3, 3);
    CLine* kept = AddLineTo(layer, 4, 4, 5, 5);
    CSelectSet& set = graph.GetSelectSet();
    EXPECT_FALSE(set.DeleteAll());
    for (CLine* e : {a, b, a}) {
        e->m_Selected = true;
        set.Add(e);
    }
    set.CollectGrips(graph.GetGripListHead());
    EXPECT_TRUE(set.DeleteAll());
    EXPECT_EQ(graph.GetGrips(), nullptr);
    EXPECT_TRUE(set.IsEmpty());
    EXPECT_EQ(layer->GetFirstEntity(), kept);
    EXPECT_EQ(layer->GetLastEntity(), kept);
}

TEST(SelectSet, ExplodeReplacesSelectedPolylinesAndEmptiesSetAndGrips)
{
    CGraph graph;
    CLayer* layer = graph.GetCurrentLayer();
    auto* polyline = new CPolyLine;
    for (auto [x, y] : {std::pair{0.0, 0.0}, {10.0, 0.0}, {10.0, 10.0}})
        ASSERT_TRUE(polyline->AddPoint(x, y));
    layer->AddEntity(polyline);
    CLine* line = AddLineTo(layer, 0, 0, 5, 5);
    auto* unselected = new CPolyLine;
    for (auto [x, y] : {std::pair{0.0, 20.0}, {10.0, 20.0}, {10.0, 30.0}})
        ASSERT_TRUE(unselected->AddPoint(x, y));
    layer->AddEntity(unselected);
    graph.SelectWindow({-1, -1}, {11, 11});
    ASSERT_EQ(graph.GetSelectSet().GetCount(), 2);
    ASSERT_NE(graph.GetGrips(), nullptr);

    CVectorUndoItem undo("x", &graph);
    EXPECT_EQ(graph.GetSelectSet().ExplodePolylines(&undo), 1);
    EXPECT_TRUE(graph.GetSelectSet().IsEmpty());
    EXPECT_EQ(graph.GetGrips(), nullptr);
    EXPECT_FALSE(line->m_Selected);
    EXPECT_EQ(graph.GetEntityCount(), 4);  // two pieces, the line, the other polyline
    ASSERT_EQ(undo.GetRecordCount(), 3u);
    EXPECT_EQ(undo.GetRecord(2)->GetKind(), UNDO_ENTITY_DELETED);
    EXPECT_EQ(graph.FindEntity(undo.GetRecord(2)->GetEntityId()), nullptr);
}

// Answers ApplyProperty with a set code and counts its calls.
class CScripted : public CTestBox {
public:
    int code = 0;
    int calls = 0;
    int filled = 0;
    int ApplyProperty(CGraph*, int, int, const std::string&, CPropertyRow*, const CSelectNode*) override
    {
        ++calls;
        return code;
    }
    void FillProperties(CPropertyList*, const CSelectNode*) override { ++filled; }
};

CScripted* AddScripted(CGraph& graph, int code)
{
    auto* e = new CScripted;
    e->code = code;
    graph.GetCurrentLayer()->AddEntity(e);
    e->m_Selected = true;
    graph.GetSelectSet().Add(e);
    return e;
}

TEST(SelectSetProperty, CodesFollowTheProtocolAndLayerRequestsMoveTheEntity)
{
    CGraph graph;
    CLayer* trace = graph.GetCurrentLayer();
    CLayer* other = graph.SelectOrAddLayer("Other");
    graph.SetCurrentLayerByName("Trace");
    CSelectSet& set = graph.GetSelectSet();
    bool changed = true;

    CScripted* e = AddScripted(graph, -2);
    EXPECT_EQ(set.ApplyProperty(&graph, 0, 0, "", nullptr, &changed), -1);
    EXPECT_EQ(e->calls, 0);
    EXPECT_EQ(set.ApplyProperty(&graph, 1, 0, "nowhere", nullptr, &changed), -1);
    EXPECT_EQ(e->m_Layer, trace);
    EXPECT_FALSE(changed);
    EXPECT_EQ(set.ApplyProperty(&graph, 1, 0, "OTHER", nullptr, &changed), -3);
    EXPECT_EQ(e->m_Layer, other);
    EXPECT_EQ(other->GetFirstEntity(), e);
    EXPECT_TRUE(changed);
    e->code = 2;  // a row nobody took
    EXPECT_EQ(set.ApplyProperty(&graph, 9, 0, "", nullptr, &changed), -1);

    // Several: head (newest) first; any -3 wins, else the last one's code,
    // while a change anywhere still counts.
    e->code = -1;
    CScripted* f = AddScripted(graph, 0);
    EXPECT_EQ(set.ApplyProperty(&graph, 2, 0, "", nullptr, &changed), -1);
    EXPECT_TRUE(changed);
    f->code = -3;
    EXPECT_EQ(set.ApplyProperty(&graph, 5, 0, "", nullptr, &changed), -3);
    e->code = f->code = -1;
    EXPECT_EQ(set.ApplyProperty(&graph, 5, 0, "", nullptr, &changed), -1);
    EXPECT_FALSE(changed);

    // Rows: one entity shows its own, several the plain entity's.
    struct Rows : CPropertyList {
        int rows = 0;
        int AddCategory(const std::string&) override { return rows++; }
        int AddPropItem(const std::string&, const std::string&, int, const std::string&) override { return rows++; }
        int AddColorIndexItem(const std::string&, int, const std::string&) override { return rows++; }
        int AddSpinItem(const std::string&, int, int, int) override { return rows++; }
        void RemoveAllRows() override { rows = 0; }
        int GetRowCount() const override { return rows; }
        CPropertyRow* GetRow(int) override { return nullptr; }
    } list;
    set.FillProperties(&list);
    EXPECT_EQ(e->filled + f->filled, 0);
    EXPECT_GT(list.rows, 0);
    set.Clear();
    set.Add(e);
    set.FillProperties(&list);
    EXPECT_EQ(e->filled, 1);
}

}  // namespace
