// The main frame's property list: the rows of the active drawing (or of its
// selection), edits applied to that drawing with undo, and an empty list
// once no window is left.
#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/line.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/property_list.h"
#include "platform/message_box.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "ui/drawing_view.h"
#include "ui/main_window.h"
#include "ui/property_list_widget.h"
#include "desktop_fixture.h"

namespace {

const std::vector<std::string> kDrawingRows{"Drawing Properties", "Current Layer", "Current Color", "Current Width"};
constexpr int kLayerRow = 1, kColorRow = 2, kWidthRow = 3, kUnitRow = 4;

// White, with a black block to trace.
constexpr BlockRaster kPlain{40, 30, 10, 8, 30, 22};

class PropertyViewTest : public DesktopTest {
protected:
    // Closing a changed drawing asks: discard it.
    PropertyViewTest() : DesktopTest("lw-property-view", IDNO) {}

    std::string WriteRaster() { return WriteBlockRaster(kPlain, "plain.bmp"); }

    static std::vector<std::string> RowNames(CPropertyListWidget& list)
    {
        std::vector<std::string> names;
        for (int n = 0; n < list.GetRowCount(); ++n)
            names.push_back(list.GetRow(n)->name);
        return names;
    }

    static QComboBox* ComboOf(CPropertyListWidget& list, int n)
    {
        QWidget* editor = list.GetEditor(n);
        if (editor == nullptr)
            return nullptr;
        if (auto* combo = qobject_cast<QComboBox*>(editor))
            return combo;
        return editor->findChild<QComboBox*>();
    }

    // The user picks an item of a choice or colour row.
    static void Choose(CPropertyListWidget& list, int n, int item)
    {
        QComboBox* combo = ComboOf(list, n);
        ASSERT_NE(combo, nullptr) << "row " << n;
        ASSERT_GE(item, 0);
        combo->setCurrentIndex(item);
        emit combo->activated(item);
    }
    static void ChooseText(CPropertyListWidget& list, int n, const char* text)
    {
        QComboBox* combo = ComboOf(list, n);
        ASSERT_NE(combo, nullptr) << "row " << n;
        Choose(list, n, combo->findText(text));
    }
    static void ChooseColor(CPropertyListWidget& list, int n, int colorIndex)
    {
        QComboBox* combo = ComboOf(list, n);
        ASSERT_NE(combo, nullptr) << "row " << n;
        Choose(list, n, combo->findData(colorIndex));
    }
};

TEST_F(PropertyViewTest, ListShowsTheActiveDrawingsRowsWithTheUnitRowOnlyForARaster)
{
    CMainFrame frame;
    frame.show();
    CPropertyListWidget& list = *frame.PropertyList();
    EXPECT_EQ(list.GetRowCount(), 0);

    CDrawingView* empty = frame.NewDrawingWindow("empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(RowNames(list), kDrawingRows);

    CDrawingView* raster = frame.OpenFile(WriteRaster());
    ASSERT_NE(raster, nullptr);
    std::vector<std::string> withUnit = kDrawingRows;
    withUnit.push_back("Current Unit");
    EXPECT_EQ(RowNames(list), withUnit);
    EXPECT_EQ(list.GetRow(kUnitRow)->value, "Pixel");
    EXPECT_EQ(list.GetRow(kLayerRow)->value, "Trace");

    // Back to the other window: its rows.
    frame.MdiArea()->setActiveSubWindow(frame.MdiArea()->subWindowList().front());
    ASSERT_EQ(frame.ActiveView(), empty);
    EXPECT_EQ(RowNames(list), kDrawingRows);

    // The View menu shows and hides the list.
    QAction* toggle = frame.PropertyDock()->toggleViewAction();
    bool inViewMenu = false;
    for (QAction* menu : frame.menuBar()->actions())
        if (menu->menu() && menu->menu()->actions().contains(toggle))
            inViewMenu = menu->text() == "&View";
    EXPECT_TRUE(inViewMenu);
    ASSERT_FALSE(frame.PropertyDock()->isVisible());
    toggle->trigger();
    EXPECT_TRUE(frame.PropertyDock()->isVisible());
    EXPECT_EQ(RowNames(list), kDrawingRows);
    toggle->trigger();
    EXPECT_FALSE(frame.PropertyDock()->isVisible());
}

TEST_F(PropertyViewTest, CurrentColourChosenInTheListChangesTheDrawingAndUndoes)
{
    CMainFrame frame;
    frame.show();
    CPropertyListWidget& list = *frame.PropertyList();
    CDrawingView* view = frame.NewDrawingWindow("colour");
    CGraph& graph = view->GetGraph();
    ASSERT_EQ(graph.GetCurrentColor(), 256);
    const int byLayerSwatch = list.GetRow(kColorRow)->number;
    ASSERT_NE(byLayerSwatch, 1);

    ChooseColor(list, kColorRow, 1);
    EXPECT_EQ(graph.GetCurrentColor(), 1);
    EXPECT_EQ(list.GetRow(kColorRow)->number, 1);
    EXPECT_EQ(ComboOf(list, kColorRow)->currentData().toInt(), 1);

    ASSERT_TRUE(view->UndoVector());
    EXPECT_EQ(graph.GetCurrentColor(), 256);
    // The list follows the undo.
    EXPECT_EQ(list.GetRow(kColorRow)->number, byLayerSwatch);
    ASSERT_TRUE(view->RedoVector());
    EXPECT_EQ(graph.GetCurrentColor(), 1);
    EXPECT_EQ(list.GetRow(kColorRow)->number, 1);
}

TEST_F(PropertyViewTest, UnitChangeRefillsTheRowsAndRefusedTextShowsTheOldValue)
{
    CMainFrame frame;
    frame.show();
    CPropertyListWidget& list = *frame.PropertyList();
    CDrawingView* view = frame.OpenFile(WriteRaster());
    ASSERT_NE(view, nullptr);
    CGraph& graph = view->GetGraph();
    const double pixelsPerInch = graph.GetRasterResolution() * 0.0254;
    ASSERT_GT(pixelsPerInch, 1.0);

    ChooseText(list, kUnitRow, "Inch");
    EXPECT_EQ(graph.GetUnit(), UNIT_INCH);
    Type(list, kWidthRow, "1");
    EXPECT_NEAR(graph.GetCurrentWidth(), pixelsPerInch, 1e-6);

    // The width row is written again in the new unit.
    ChooseText(list, kUnitRow, "mm");
    EXPECT_EQ(graph.GetUnit(), UNIT_MM);
    ASSERT_EQ(list.GetRowCount(), 5);
    EXPECT_NEAR(std::stod(list.GetRow(kWidthRow)->value), 25.4, 1e-4);

    const std::string shown = list.GetRow(kWidthRow)->value;
    Type(list, kWidthRow, "-3");
    EXPECT_NEAR(graph.GetCurrentWidth(), pixelsPerInch, 1e-6);
    EXPECT_EQ(list.GetRow(kWidthRow)->value, shown);
    EXPECT_EQ(qobject_cast<QLineEdit*>(list.GetEditor(kWidthRow))->text().toStdString(), shown);

    // Choosing the unit already set changes nothing and leaves no undo step.
    const auto steps = view->GetVectorUndoList().GetCount();
    ChooseText(list, kUnitRow, "mm");
    EXPECT_EQ(view->GetVectorUndoList().GetCount(), steps);

    // Another current layer, named as CAD programs name the layers of an
    // attached drawing: the bar belongs to the name.
    graph.SelectOrAddLayer("Site");
    graph.SelectOrAddLayer("Site|Walls");
    graph.SelectOrAddLayer("Trace");
    view->NoteDrawingEdited();
    ChooseText(list, kLayerRow, "Site|Walls");
    ASSERT_NE(graph.GetCurrentLayer(), nullptr);
    EXPECT_EQ(graph.GetCurrentLayer()->GetName(), "Site|Walls");
}

TEST_F(PropertyViewTest, SelectedEntityShowsItsRowsAndTakesTheEdits)
{
    CMainFrame frame;
    frame.show();
    CPropertyListWidget& list = *frame.PropertyList();
    CDrawingView* view = frame.NewDrawingWindow("line");
    CGraph& graph = view->GetGraph();
    CLayer* site = graph.SelectOrAddLayer("Site");
    graph.SelectOrAddLayer("Site\\Old|");
    CLayer* walls = graph.SelectOrAddLayer("Site|Walls");
    CLine* line = graph.AddLine(0, 0, 10, 10);
    ASSERT_NE(line, nullptr);
    ASSERT_TRUE(view->ZoomExtents());
    graph.SelectAll(true);
    view->NoteDrawingEdited();
    ASSERT_GT(list.GetRowCount(), 3);
    EXPECT_EQ(list.GetRow(0)->name, "Base Properties");
    EXPECT_EQ(list.GetRow(kColorRow)->name, "Color");

    // The layer row shows the line's own layer, and each layer is one choice.
    QComboBox* layers = ComboOf(list, kLayerRow);
    ASSERT_NE(layers, nullptr);
    EXPECT_EQ(layers->currentText(), "Site|Walls");
    QStringList offered;
    for (int i = 0; i < layers->count(); ++i)
        offered << layers->itemText(i);
    QStringList layerNames;
    for (const CLayer* layer = graph.GetFirstLayer(); layer; layer = layer->GetNext())
        layerNames << QString::fromStdString(layer->GetName());
    EXPECT_EQ(offered, layerNames);
    ChooseText(list, kLayerRow, "Site");
    EXPECT_EQ(line->m_Layer, site);
    graph.SelectAll(true);
    view->NoteDrawingEdited();
    ChooseText(list, kLayerRow, "Site|Walls");
    EXPECT_EQ(line->m_Layer, walls);
    graph.SelectAll(true);
    view->NoteDrawingEdited();

    ChooseColor(list, kColorRow, 3);
    EXPECT_EQ(line->m_Color, 3);
    EXPECT_EQ(graph.GetCurrentColor(), 256);

    // A new end point: the view draws the line anew and the length row follows.
    const std::vector<std::string> names = RowNames(list);
    const auto endX = std::find(names.begin(), names.end(), "X of EndPoint");
    const auto length = std::find(names.begin(), names.end(), "Length");
    ASSERT_NE(endX, names.end());
    ASSERT_NE(length, names.end());
    const QImage before = view->RenderedImage().copy();
    Type(list, static_cast<int>(endX - names.begin()), "2");
    EXPECT_DOUBLE_EQ(line->GetEnd().x, 2.0);
    EXPECT_NE(view->RenderedImage(), before);
    EXPECT_NEAR(std::stod(list.GetRow(static_cast<int>(length - names.begin()))->value), std::hypot(2.0, 10.0), 1e-3);

    // Undo drops the selection: the drawing's rows come back.
    ASSERT_TRUE(view->UndoVector());
    ASSERT_TRUE(view->UndoVector());
    EXPECT_EQ(line->m_Color, 256);
    ASSERT_TRUE(view->UndoVector());
    ASSERT_TRUE(view->UndoVector());
    EXPECT_EQ(line->m_Layer, walls);
    EXPECT_EQ(RowNames(list), kDrawingRows);
}

TEST_F(PropertyViewTest, TraceRefillsTheRowsWithTheNewLayers)
{
    CMainFrame frame;
    frame.show();
    CPropertyListWidget& list = *frame.PropertyList();
    CDrawingView* view = frame.OpenFile(WriteRaster());
    ASSERT_NE(view, nullptr);
    CGraph& graph = view->GetGraph();
    graph.SelectOrAddLayer("Sketch");
    view->NoteDrawingEdited();
    ASSERT_EQ(list.GetRow(kLayerRow)->value, "Sketch");

    ASSERT_TRUE(frame.TraceActive());
    ASSERT_NE(graph.GetCurrentLayer(), nullptr);
    ASSERT_NE(graph.GetCurrentLayer()->GetName(), "Sketch");
    EXPECT_EQ(list.GetRow(kLayerRow)->value, graph.GetCurrentLayer()->GetName());
}

TEST_F(PropertyViewTest, ClosingWindowsLeavesTheNextOnesRowsThenAnEmptyList)
{
    CMainFrame frame;
    frame.show();
    CPropertyListWidget& list = *frame.PropertyList();
    frame.NewDrawingWindow("first");
    ASSERT_NE(frame.OpenFile(WriteRaster()), nullptr);
    ASSERT_EQ(list.GetRowCount(), 5);

    frame.MdiArea()->activeSubWindow()->close();
    ASSERT_TRUE(PumpEventsUntil([&] { return frame.MdiArea()->subWindowList().size() == 1; }));
    EXPECT_EQ(RowNames(list), kDrawingRows);

    frame.MdiArea()->subWindowList().front()->close();
    ASSERT_TRUE(PumpEventsUntil([&] { return frame.MdiArea()->subWindowList().isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(list.GetRowCount(), 0);
    // An edit with nothing bound is refused.
    EXPECT_EQ(list.ApplyRow(kColorRow, 1, "Red"), PROP_REFUSED);
}

}  // namespace
