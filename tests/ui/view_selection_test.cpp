// Correcting a drawing in the desktop with the mouse and the keys: picking
// and box selection, the selection's rows, the editing commands with undo,
// and the modified mark that keeps unsaved work from being dropped.
#include <QAction>
#include <QDockWidget>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "model/select_set.h"
#include "raster/raster_entity.h"
#include "trace/trace_option.h"
#include "ui/property_list_widget.h"
#include "desktop_fixture.h"

namespace {

// Three lines apart from each other: A along the bottom, B rising to the
// right of it, C above A.
struct Lines {
    CEntity* a = nullptr;
    CEntity* b = nullptr;
    CEntity* c = nullptr;
};

class ViewSelection : public DesktopTest {
protected:
    ViewSelection() : DesktopTest("lw-view-selection") {}

    std::string WriteLinesProject()
    {
        CGraph drawing;
        EXPECT_NE(drawing.AddLine(10, 10, 40, 10), nullptr);
        EXPECT_NE(drawing.AddLine(60, 10, 90, 40), nullptr);
        EXPECT_NE(drawing.AddLine(10, 60, 40, 90), nullptr);
        const std::string path = PathOf("lines.lwt");
        EXPECT_TRUE(drawing.SaveProject(path, nullptr));
        return path;
    }

    // Opens the lines in a shown frame with its property dock open.
    CDrawingView* OpenLines(CMainFrame& frame, Lines& lines)
    {
        frame.show();
        frame.PropertyDock()->show();
        CDrawingView* view = frame.OpenFile(WriteLinesProject());
        if (view == nullptr)
            return nullptr;
        QCoreApplication::processEvents();
        lines.a = EntityAt(*view, 25, 10);
        lines.b = EntityAt(*view, 75, 25);
        lines.c = EntityAt(*view, 25, 75);
        view->GetGraph().ClearSelection();
        return view;
    }

    // The window pixel of a world point.
    static QPoint PixelOf(CDrawingView& view, double x, double y)
    {
        const CFrViewTransform& transform = view.GetDevice().Transform();
        std::int32_t X = 0, Y = 0;
        transform.WorldToDevice(x, y, &X, &Y);
        return QPoint(X, transform.DeviceRect().top - Y);
    }

    // The one entity a box of one pixel about the point crosses.
    static CEntity* EntityAt(CDrawingView& view, double x, double y)
    {
        CGraph& drawing = view.GetGraph();
        drawing.ClearSelection();
        (void)view.RenderedImage();
        const double d = view.GetDevice().Transform().UnitsPerPixel();
        drawing.SelectCrossing({x - d, y - d}, {x + d, y + d});
        const std::vector<CEntity*> hit = drawing.GetSelectSet().GetEntities();
        return hit.size() == 1 ? hit.front() : nullptr;
    }

    // A left click at a world point, as the user makes it.
    static void ClickAt(CDrawingView& view, double x, double y, Qt::KeyboardModifiers keys = Qt::NoModifier)
    {
        QTest::mouseClick(&view, Qt::LeftButton, keys, PixelOf(view, x, y));
    }

    static std::set<CEntity*> Selected(CDrawingView& view)
    {
        const std::vector<CEntity*> entities = view.GetGraph().GetSelectSet().GetEntities();
        return {entities.begin(), entities.end()};
    }

    static QAction* ActionNamed(CMainFrame& frame, const QString& text)
    {
        for (QAction* action : frame.findChildren<QAction*>())
            if (action->text() == text)
                return action;
        ADD_FAILURE() << "no action " << text.toStdString();
        return nullptr;
    }

    // The frame takes keys as the user's active window.
    static void Activate(CMainFrame& frame, CDrawingView& view)
    {
        frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
        view.setFocus();
    }

    // Answers every file dialog with that path while it lives, typed into
    // its name field from the dialog's own loop. The dialog fills in its own
    // start name once its folder has loaded: it is accepted only while the
    // field holds the path.
    static std::unique_ptr<QTimer> AnswerFileDialogsWith(const std::string& path)
    {
        auto timer = std::make_unique<QTimer>();
        timer->setInterval(10);
        const QString wanted = QString::fromStdString(path);
        QObject::connect(timer.get(), &QTimer::timeout, [wanted] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            // Showing may handle events before the dialog's loop runs: an
            // answer then would be lost.
            if (dialog == nullptr || !dialog->isVisible() || QThread::currentThread()->loopLevel() == 0)
                return;
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (name == nullptr)
                return;
            name->setText(wanted);
            QTimer::singleShot(0, dialog, [dialog, name, wanted] {
                if (name->text() == wanted)
                    QMetaObject::invokeMethod(dialog, "accept");
            });
        });
        timer->start();
        return timer;
    }

    // The title of the active drawing's window.
    static std::string Title(CMainFrame& frame)
    {
        return frame.MdiArea()->currentSubWindow()->windowTitle().toStdString();
    }

    static int RowNamed(CPropertyListWidget& list, const std::string& name)
    {
        for (int n = 0; n < list.GetRowCount(); ++n)
            if (list.GetRow(n)->name == name)
                return n;
        return -1;
    }
};

// ---- picking ----------------------------------------------------------------

TEST_F(ViewSelection, ClickPicksWithinThePickBoxAndTheDockShowsTheEntitysRows)
{
    CMainFrame frame;
    Lines lines;
    CDrawingView* view = OpenLines(frame, lines);
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(lines.a && lines.b && lines.c);
    CPropertyListWidget& list = *frame.PropertyList();
    const QImage plain = view->RenderedImage().copy();

    ClickAt(*view, 25, 10);
    EXPECT_EQ(Selected(*view), std::set<CEntity*>{lines.a});
    ASSERT_GE(RowNamed(list, "X of StartPoint"), 0);
    EXPECT_EQ(list.GetRow(0)->name, "Base Properties");
    EXPECT_TRUE(frame.SelectionInfo()->text().contains("Line")) << frame.SelectionInfo()->text().toStdString();
    // The selected line is drawn highlighted.
    EXPECT_NE(view->RenderedImage(), plain);

    // Three pixels off the line it is still picked; six pixels off, nothing is.
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, PixelOf(*view, 75, 25) + QPoint(0, 3));
    EXPECT_EQ(Selected(*view), std::set<CEntity*>{lines.b});
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, PixelOf(*view, 25, 10) + QPoint(0, 6));
    EXPECT_TRUE(Selected(*view).empty());
    EXPECT_EQ(list.GetRow(0)->name, "Drawing Properties");
    EXPECT_TRUE(frame.SelectionInfo()->text().isEmpty());
    EXPECT_EQ(view->RenderedImage(), plain);
}

TEST_F(ViewSelection, EditedRowOfThePickedEntityIsOneUndoStepAndMarksTheDrawing)
{
    CMainFrame frame;
    Lines lines;
    CDrawingView* view = OpenLines(frame, lines);
    ASSERT_NE(view, nullptr);
    CPropertyListWidget& list = *frame.PropertyList();
    ClickAt(*view, 25, 10);
    const int endX = RowNamed(list, "X of EndPoint"), length = RowNamed(list, "Length");
    ASSERT_GE(endX, 0);
    ASSERT_GE(length, 0);

    // Changed: the rows are filled again, the length follows.
    Type(list, endX, "70");
    EXPECT_DOUBLE_EQ(std::stod(list.GetRow(length)->value), 60.0);
    EXPECT_TRUE(view->GetGraph().IsModified());
    EXPECT_EQ(view->GetVectorUndoList().GetCount(), 1u);
    // Refused: the row shows the value it had.
    Type(list, endX, "east");
    EXPECT_DOUBLE_EQ(std::stod(list.GetRow(endX)->value), 70.0);
    EXPECT_EQ(view->GetVectorUndoList().GetCount(), 1u);

    ASSERT_TRUE(view->UndoVector());
    ClickAt(*view, 25, 10);
    EXPECT_DOUBLE_EQ(std::stod(list.GetRow(endX)->value), 40.0);

    // The drawing's own rows change what the project keeps as well.
    ASSERT_TRUE(frame.SaveActive(view->GetPathName()));
    QTest::keyClick(view, Qt::Key_Escape);
    const int width = RowNamed(list, "Current Width");
    ASSERT_GE(width, 0);
    Type(list, width, "2");
    EXPECT_DOUBLE_EQ(view->GetGraph().GetCurrentWidth(), 2.0);
    EXPECT_TRUE(view->GetGraph().IsModified());
    m_answers = {IDNO};
}

TEST_F(ViewSelection, ShiftClickAddsAnEntityOrTakesASelectedOneOut)
{
    CMainFrame frame;
    Lines lines;
    CDrawingView* view = OpenLines(frame, lines);
    ASSERT_NE(view, nullptr);

    ClickAt(*view, 25, 10);
    ClickAt(*view, 25, 75, Qt::ShiftModifier);
    EXPECT_EQ(Selected(*view), (std::set<CEntity*>{lines.a, lines.c}));
    // Several: the rows every entity has.
    CPropertyListWidget& list = *frame.PropertyList();
    EXPECT_LT(RowNamed(list, "X of StartPoint"), 0);
    EXPECT_GE(RowNamed(list, "Layer"), 0);

    ClickAt(*view, 25, 10, Qt::ShiftModifier);
    EXPECT_EQ(Selected(*view), std::set<CEntity*>{lines.c});
    EXPECT_TRUE(lines.c->m_Selected);
    EXPECT_FALSE(lines.a->m_Selected);
    // Shift on empty space keeps the selection.
    ClickAt(*view, 75, 75, Qt::ShiftModifier);
    EXPECT_EQ(Selected(*view), std::set<CEntity*>{lines.c});
}

// ---- the panel beside the view --------------------------------------------------

TEST_F(ViewSelection, CtrlAOnTwentyThousandEntitiesKeepsTheWindowAndListsABoundedPartOfThem)
{
    constexpr int kEntities = 20000;
    const std::string path = PathOf("many.lwt");
    {
        CGraph drawing;
        for (int i = 0; i < kEntities; ++i) {
            const double x = i % 200 * 5.0, y = i / 200 * 5.0;
            ASSERT_NE(drawing.AddLine(x, y, x + 3, y + 3), nullptr);
        }
        ASSERT_TRUE(drawing.SaveProject(path, nullptr));
    }
    CMainFrame frame;
    frame.show();
    frame.PropertyDock()->show();
    CDrawingView* view = frame.OpenFile(path);
    ASSERT_NE(view, nullptr);
    QCoreApplication::processEvents();
    Activate(frame, *view);
    const QSize size = frame.size();

    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QCoreApplication::processEvents();
    ASSERT_EQ(view->GetGraph().GetSelectSet().GetCount(), kEntities);
    EXPECT_EQ(frame.size(), size);
    // Whole entities of seven lines each, then how many were left out.
    const QStringList lines = frame.SelectionInfo()->text().split('\n');
    const int described = CMainFrame::kSelectionInfoLines / 7;
    ASSERT_EQ(lines.size(), described * 7 + 1);
    EXPECT_EQ(lines.front().trimmed(), "Name: Line");
    EXPECT_EQ(lines.back().toStdString(), "... and more selected entities: " + std::to_string(kEntities - described));

    // One entity whose lines alone pass the bound shows the bound's worth.
    view->GetGraph().ClearSelection();
    CGraph& drawing = view->GetGraph();
    drawing.BeginTempPolyline();
    for (int i = 0; i < 2 * CMainFrame::kSelectionInfoLines; ++i)
        drawing.AddTempVertex(i, i % 2, -1, -1, 0);
    CPolyLine* long_ = drawing.GetTempPolyline();
    drawing.EndTempPolyline(true);
    ASSERT_NE(long_, nullptr);
    ASSERT_NE(drawing.GetSelectSet().Add(long_), nullptr);
    long_->m_Selected = true;
    view->NoteDrawingEdited();
    const QStringList own = frame.SelectionInfo()->text().split('\n');
    ASSERT_EQ(own.size(), CMainFrame::kSelectionInfoLines + 1);
    EXPECT_TRUE(own.back().startsWith("... and more lines: ")) << own.back().toStdString();
    EXPECT_EQ(frame.size(), size);
    m_answers = {IDNO};
}

TEST_F(ViewSelection, PanelChangingWidthKeepsTheScaleAndThePointUnderThePointer)
{
    CMainFrame frame;
    Lines lines;
    CDrawingView* view = OpenLines(frame, lines);
    ASSERT_NE(view, nullptr);
    QDockWidget& dock = *frame.PropertyDock();
    const CFrViewTransform& transform = view->GetDevice().Transform();
    auto widenDock = [&](int by) {
        const int width = view->width();
        frame.resizeDocks({&dock}, {dock.width() + by}, Qt::Horizontal);
        QCoreApplication::processEvents();
        (void)view->RenderedImage();
        ASSERT_NE(view->width(), width);
    };
    const double scale = transform.UnitsPerPixel();

    // With the pointer over the view, the point under it stays.
    const QPoint pointer(view->width() / 4, view->height() / 3);
    QTest::mouseMove(view, pointer);
    const frDoublePoint under = view->PixelToWorld(pointer);
    widenDock(120);
    EXPECT_DOUBLE_EQ(transform.UnitsPerPixel(), scale);
    EXPECT_NEAR(view->PixelToWorld(pointer).x, under.x, 1e-9);
    EXPECT_NEAR(view->PixelToWorld(pointer).y, under.y, 1e-9);

    // With the pointer elsewhere, the centre stays.
    QTest::mouseMove(frame.menuBar(), QPoint(2, 2));
    const frDoublePoint centre = view->PixelToWorld(QPoint(view->width() / 2, view->height() / 2));
    widenDock(-80);
    EXPECT_DOUBLE_EQ(transform.UnitsPerPixel(), scale);
    const frDoublePoint now = view->PixelToWorld(QPoint(view->width() / 2, view->height() / 2));
    EXPECT_NEAR(now.x, centre.x, scale);
    EXPECT_NEAR(now.y, centre.y, scale);
}

// ---- selection boxes --------------------------------------------------------

// How many pixels of the row between two columns the band changed.
int BandPixels(CDrawingView& view, int row, int x1, int x2)
{
    const QImage shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage& picture = view.RenderedImage();
    int changed = 0;
    for (int x = std::min(x1, x2); x < std::max(x1, x2); ++x)
        changed += shown.pixel(x, row) != picture.pixel(x, row);
    return changed;
}

TEST_F(ViewSelection, DragRightSelectsByWindowDragLeftByCrossingEachWithItsBand)
{
    CMainFrame frame;
    Lines lines;
    CDrawingView* view = OpenLines(frame, lines);
    ASSERT_NE(view, nullptr);
    // The box holds A wholly and crosses the start of B.
    const QPoint lowerLeft = PixelOf(*view, 8, 8), upperRight = PixelOf(*view, 70, 30);
    const QPoint upperLeft(lowerLeft.x(), upperRight.y());
    const QPoint lowerRight(upperRight.x(), lowerLeft.y());
    const int width = upperRight.x() - lowerLeft.x();

    // Left to right: a solid band while dragging, then the window selection.
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, upperLeft);
    QTest::mouseMove(view, lowerRight);
    EXPECT_GE(BandPixels(*view, upperLeft.y(), upperLeft.x(), lowerRight.x()), width - 1);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, lowerRight);
    EXPECT_EQ(Selected(*view), std::set<CEntity*>{lines.a});
    EXPECT_EQ(BandPixels(*view, upperLeft.y(), upperLeft.x(), lowerRight.x()), 0);

    // Right to left over the same box: a dotted band, then what crosses it.
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, lowerRight);
    QTest::mouseMove(view, upperLeft);
    const int dotted = BandPixels(*view, upperLeft.y(), upperLeft.x(), lowerRight.x());
    EXPECT_GT(dotted, width / 4);
    EXPECT_LT(dotted, width * 3 / 4);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, upperLeft);
    EXPECT_EQ(Selected(*view), (std::set<CEntity*>{lines.a, lines.b}));

    // A new box replaces the selection; with Shift it adds.
    const QPoint aroundC1 = PixelOf(*view, 5, 55), aroundC2 = PixelOf(*view, 45, 95);
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, aroundC1);
    QTest::mouseMove(view, aroundC2);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, aroundC2);
    EXPECT_EQ(Selected(*view), std::set<CEntity*>{lines.c});
    QTest::mousePress(view, Qt::LeftButton, Qt::ShiftModifier, upperLeft);
    QTest::mouseMove(view, lowerRight);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::ShiftModifier, lowerRight);
    EXPECT_EQ(Selected(*view), (std::set<CEntity*>{lines.a, lines.c}));
}

// ---- editing with the keys, undo and the modified mark -----------------------

TEST_F(ViewSelection, KeysSelectDeleteUndoAndSaveAndEveryStepKeepsTheModifiedMarkRight)
{
    CMainFrame frame;
    Lines lines;
    CDrawingView* view = OpenLines(frame, lines);
    ASSERT_NE(view, nullptr);
    Activate(frame, *view);
    CGraph& drawing = view->GetGraph();
    const std::string project = view->GetPathName();
    auto saved = [&] {
        CGraph reopened;
        EXPECT_TRUE(reopened.LoadProject(project, nullptr));
        return reopened.GetEntityCount();
    };

    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(Selected(*view).size(), 3u);
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_TRUE(Selected(*view).empty());
    EXPECT_FALSE(drawing.IsModified());
    EXPECT_EQ(Title(frame), "lines.lwt");

    // The title marks unsaved work; undoing back to what the file holds
    // drops the mark, and redoing brings it back.
    ClickAt(*view, 25, 10);
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_TRUE(drawing.IsModified());
    EXPECT_EQ(Title(frame), "lines.lwt*");
    QTest::keySequence(view, QKeySequence::Undo);
    EXPECT_EQ(drawing.GetEntityCount(), 3);
    EXPECT_FALSE(drawing.IsModified());
    EXPECT_EQ(Title(frame), "lines.lwt");
    QTest::keySequence(view, QKeySequence::Redo);
    EXPECT_EQ(drawing.GetEntityCount(), 2);
    EXPECT_TRUE(drawing.IsModified());
    EXPECT_EQ(Title(frame), "lines.lwt*");
    EXPECT_EQ(view->GetVectorUndoList().GetCount(), 1u);

    QTest::keySequence(view, QKeySequence::Save);
    EXPECT_FALSE(drawing.IsModified());
    EXPECT_EQ(Title(frame), "lines.lwt");
    EXPECT_EQ(saved(), 2);

    // Undo and Redo change the drawing the file no longer matches.
    QTest::keySequence(view, QKeySequence::Undo);
    EXPECT_EQ(drawing.GetEntityCount(), 3);
    EXPECT_TRUE(drawing.IsModified());
    QTest::keySequence(view, QKeySequence::Save);
    EXPECT_EQ(saved(), 3);
    QTest::keySequence(view, QKeySequence::Redo);
    EXPECT_EQ(drawing.GetEntityCount(), 2);
    EXPECT_TRUE(drawing.IsModified());

    // Closing asks, offering Yes, No and Cancel; Cancel keeps it.
    m_answers = {IDCANCEL};
    EXPECT_FALSE(frame.close());
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_buttons[0], unsigned(MB_YESNOCANCEL));
    EXPECT_EQ(ChildCount(frame), 1);
    m_answers = {IDYES};
    EXPECT_TRUE(frame.close());
    EXPECT_EQ(saved(), 2);
}

TEST_F(ViewSelection, UnsavedSnapFrameKeepsTheMarkWhenTheEditAfterItIsUndone)
{
    CMainFrame frame;
    Lines lines;
    CDrawingView* view = OpenLines(frame, lines);
    ASSERT_NE(view, nullptr);
    CGraph& drawing = view->GetGraph();
    QAction* snapFrame = ActionNamed(frame, "Snap &Frame");
    ASSERT_NE(snapFrame, nullptr);
    snapFrame->trigger();
    ClickAt(*view, 50, 50);
    ClickAt(*view, 80, 60);
    ASSERT_TRUE(drawing.IsModified());

    ClickAt(*view, 25, 10);
    ASSERT_TRUE(view->DeleteSelection());
    ASSERT_TRUE(view->UndoVector());
    EXPECT_TRUE(drawing.IsModified());
    EXPECT_EQ(Title(frame), "lines.lwt*");
    m_answers = {IDNO};
}

TEST_F(ViewSelection, ExportLeavesTheWorkUnsavedSoClosingStillAsks)
{
    CMainFrame frame;
    Lines lines;
    CDrawingView* view = OpenLines(frame, lines);
    ASSERT_NE(view, nullptr);
    ClickAt(*view, 25, 10);
    ASSERT_TRUE(view->DeleteSelection());
    ASSERT_TRUE(frame.SaveActive(PathOf("lines.svg")));
    EXPECT_TRUE(view->GetGraph().IsModified());
    m_answers = {IDNO};
    EXPECT_TRUE(frame.close());
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find("Save the changes"), std::string::npos) << m_messages[0];
    EXPECT_EQ(m_buttons[0], unsigned(MB_YESNOCANCEL));
}

TEST_F(ViewSelection, ExplodeSplitsTheSelectedPolylineInOneUndoStep)
{
    const std::string project = PathOf("bend.lwt");
    {
        CGraph drawing;
        drawing.BeginTempPolyline();
        drawing.AddTempVertex(10, 10, -1, -1, 0);
        drawing.AddTempVertex(50, 10, -1, -1, 0);
        drawing.AddTempVertex(50, 50, -1, -1, 0);
        drawing.EndTempPolyline(true);
        ASSERT_TRUE(drawing.SaveProject(project, nullptr));
    }
    CMainFrame frame;
    frame.show();
    CDrawingView* view = frame.OpenFile(project);
    ASSERT_NE(view, nullptr);
    QCoreApplication::processEvents();
    ClickAt(*view, 30, 10);
    ASSERT_EQ(Selected(*view).size(), 1u);
    ActionNamed(frame, "E&xplode")->trigger();
    EXPECT_EQ(view->GetGraph().GetEntityCount(), 2);
    EXPECT_TRUE(view->GetGraph().IsModified());
    ASSERT_TRUE(view->UndoVector());
    EXPECT_EQ(view->GetGraph().GetEntityCount(), 1);
    m_answers = {IDNO};
}

TEST_F(ViewSelection, SeparateByWidthNeedsAWidthSeriesAndIsOneUndoStep)
{
    const std::string project = PathOf("widths.lwt");
    {
        CGraph drawing;
        for (double width : {1.0, 3.0, 3.0}) {
            ASSERT_TRUE(drawing.SetCurrentWidth(width));
            ASSERT_NE(drawing.DrawCircle({20 * width, 20}, 5), nullptr);
        }
        ASSERT_TRUE(drawing.SaveProject(project, nullptr));
    }
    CMainFrame frame;
    frame.show();
    CDrawingView* view = frame.OpenFile(project);
    ASSERT_NE(view, nullptr);
    CGraph& drawing = view->GetGraph();
    CWidthSeries& series = GetTraceOption().ChartType.WidthSeries;
    const CWidthSeries kept = series;
    QAction* separate = ActionNamed(frame, "Separate by &Width");
    ASSERT_NE(separate, nullptr);

    // No preset sets a series: nothing changes and the user learns why.
    series.Clear();
    separate->trigger();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find("No widths are set"), std::string::npos) << m_messages[0];
    EXPECT_EQ(drawing.GetLayerCount(), 1);
    EXPECT_EQ(view->GetVectorUndoList().GetCount(), 0u);
    EXPECT_FALSE(drawing.IsModified());

    series.Unit = WIDTH_UNIT_PIXEL;
    ASSERT_TRUE(series.AddWidth(1.0));
    ASSERT_TRUE(series.AddWidth(3.0));
    separate->trigger();
    series = kept;
    EXPECT_EQ(m_messages.size(), 1u);
    ASSERT_NE(drawing.FindLayerByName("1_0000"), nullptr);
    ASSERT_NE(drawing.FindLayerByName("3_0000"), nullptr);
    EXPECT_EQ(drawing.FindLayerByName("Trace"), nullptr);
    EXPECT_EQ(drawing.GetEntityCount(), 3);
    EXPECT_TRUE(drawing.IsModified());
    EXPECT_EQ(view->GetVectorUndoList().GetCount(), 1u);

    // The step keeps the whole drawing, its modified flag of the time
    // included: after a save, Undo and Redo still leave unsaved work.
    ASSERT_TRUE(frame.SaveActive(project));
    ASSERT_FALSE(drawing.IsModified());
    ASSERT_TRUE(view->UndoVector());
    EXPECT_NE(drawing.FindLayerByName("Trace"), nullptr);
    EXPECT_EQ(drawing.FindLayerByName("1_0000"), nullptr);
    EXPECT_EQ(drawing.GetEntityCount(), 3);
    EXPECT_TRUE(drawing.IsModified());
    ASSERT_TRUE(frame.SaveActive(project));
    ASSERT_TRUE(view->RedoVector());
    EXPECT_NE(drawing.FindLayerByName("1_0000"), nullptr);
    EXPECT_TRUE(drawing.IsModified());
    m_answers = {IDNO};
}

// ---- a raster without vectors -------------------------------------------------

std::vector<int> Pixels(const CRasterSrc& image)
{
    std::vector<int> pixels;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            pixels.push_back(image.GetPixelIndex(x, y));
    return pixels;
}

TEST_F(ViewSelection, EditedRasterIsSavedAsBmpFromTheCloseQuestionAndReloadsTheSame)
{
    const std::string edited = PathOf("edited.bmp");
    std::vector<int> shown;
    {
        CMainFrame frame;
        frame.show();
        CDrawingView* view = frame.OpenFile(WriteBlockRaster());
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->EditRasterWindow({30, 70}, {95, 40}, false));
        shown = Pixels(view->GetGraph().GetRaster()->GetImage());
        // Yes has nowhere but a raster to save the scan-like drawing.
        m_answers = {IDYES};
        const auto answering = AnswerFileDialogsWith(edited);
        EXPECT_TRUE(frame.close());
        ASSERT_EQ(m_messages.size(), 1u) << m_messages.back();
        EXPECT_EQ(m_buttons[0], unsigned(MB_YESNOCANCEL));
    }
    CDrawingView reopened;
    std::string error;
    ASSERT_TRUE(reopened.LoadFile(edited, error)) << error;
    EXPECT_EQ(Pixels(reopened.GetGraph().GetRaster()->GetImage()), shown);
}

TEST_F(ViewSelection, SaveRasterCommandWritesTheRasterAndClearsTheMarkOnlyWithoutVectors)
{
    CMainFrame frame;
    frame.show();
    CDrawingView* view = frame.OpenFile(WriteBlockRaster());
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->EditRasterWindow({30, 70}, {95, 40}, true));
    const std::vector<int> shown = Pixels(view->GetGraph().GetRaster()->GetImage());
    const auto answering = AnswerFileDialogsWith(PathOf("saved"));
    ActionNamed(frame, "Save &Raster...")->trigger();
    EXPECT_FALSE(view->GetGraph().IsModified());
    CDrawingView reopened;
    std::string error;
    ASSERT_TRUE(reopened.LoadFile(PathOf("saved.bmp"), error)) << error;
    EXPECT_EQ(Pixels(reopened.GetGraph().GetRaster()->GetImage()), shown);
    // The saved raster holds the edit: taking it back is a change.
    ASSERT_TRUE(view->UndoRaster());
    EXPECT_TRUE(view->GetGraph().IsModified());
    ASSERT_TRUE(view->RedoRaster());
    EXPECT_FALSE(view->GetGraph().IsModified());

    // With vectors the raster alone is not all the work.
    ASSERT_NE(view->GetGraph().AddLine(0, 0, 10, 10), nullptr);
    EXPECT_TRUE(view->SaveRasterTo(PathOf("again.bmp")));
    EXPECT_TRUE(view->GetGraph().IsModified());
    // Only BMP is written.
    EXPECT_FALSE(view->SaveRasterTo(PathOf("again.png")));
    EXPECT_EQ(m_messages.size(), 1u);
    m_answers = {IDNO};
}

// ---- hints ----------------------------------------------------------------------

TEST_F(ViewSelection, HoveredMenuItemsShowTheirHintInTheStatusBar)
{
    CMainFrame frame;
    frame.show();
    ASSERT_NE(frame.NewDrawingWindow("empty"), nullptr);
    QAction* editMenu = nullptr;
    for (QAction* menu : frame.menuBar()->actions())
        if (menu->text() == "&Edit")
            editMenu = menu;
    ASSERT_NE(editMenu, nullptr);
    QMenu* edit = editMenu->menu();
    // Opened from the menu bar, as the user opens it.
    QTest::mouseClick(frame.menuBar(), Qt::LeftButton, Qt::NoModifier,
                      frame.menuBar()->actionGeometry(editMenu).center());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(edit));
    for (const auto& [item, hint] :
         {std::pair{"&Delete", "Delete the selected entities"},
          std::pair{"E&xplode", "Explode polyline into 1-seg polyline and arc"},
          std::pair{"Separate by &Width", "Separate vector into multi Layers according to width."}}) {
        QAction* action = ActionNamed(frame, item);
        ASSERT_NE(action, nullptr);
        // The menu takes the pointer once it has moved since the menu opened.
        const QPoint at = edit->actionGeometry(action).center();
        for (const QPoint& step : {at + QPoint(0, 1), at}) {
            QMouseEvent move(QEvent::MouseMove, QPointF(step), QPointF(edit->mapToGlobal(step)), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(edit, &move);
        }
        EXPECT_EQ(frame.statusBar()->currentMessage().toStdString(), hint);
    }
    edit->close();
    EXPECT_EQ(ActionNamed(frame, "Save &Raster...")->statusTip(), "Save raster file");
}

}  // namespace
