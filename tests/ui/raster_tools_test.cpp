// The child window's raster edits (brush, window, polygon, colour
// replacement) with their undo steps, the trace's conversion on the raster
// undo list, the question before unsaved work is closed, and the undo depths
// taken from the settings.
#include <QAction>
#include <QApplication>
#include <QInputDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QTimer>

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/graph.h"
#include "model/undo.h"
#include "platform/message_box.h"
#include "platform/settings_store.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "ui/color_picker.h"
#include "ui/drawing_view.h"
#include "ui/main_window.h"
#include "desktop_fixture.h"

namespace {

// The block raster the tests open.
constexpr BlockRaster kBlock{};
constexpr int kWhite = 255, kBlack = 0;
const char* const kOptionKey = "Software\\Korvane\\Lineweft\\Option";

// Everything an undo step must bring back: depth, pixels and palette.
std::vector<BYTE> ImageBytes(const CRasterSrc& image)
{
    std::vector<BYTE> bytes{static_cast<BYTE>(image.GetBitCount())};
    const std::size_t rowBytes = (static_cast<std::size_t>(image.GetWidth()) * image.GetBitCount() + 7) / 8;
    for (int y = 0; y < image.GetHeight(); ++y)
        bytes.insert(bytes.end(), image.GetRow(y), image.GetRow(y) + rowBytes);
    for (unsigned i = 0; i < image.GetColorsUsed(); ++i) {
        const RGBQUAD& entry = image.GetPalette()[i];
        bytes.insert(bytes.end(), {entry.rgbBlue, entry.rgbGreen, entry.rgbRed});
    }
    return bytes;
}

// Image row of a world y and the world y of the middle of a row.
double RowToWorld(int row) { return kBlock.height - row - 0.25; }

class RasterTools : public DesktopTest {
protected:
    RasterTools() : DesktopTest("lw-raster-tools") {}

    // Grey strokes a few pixels wide, as a scan of a line drawing holds.
    std::string WriteStrokesRaster()
    {
        return WriteGreyRaster("strokes.bmp", kBlock.width, kBlock.height, [](int x, int y) {
            const bool bar = (y >= 20 && y < 24 && x >= 10 && x < 110) || (x >= 60 && x < 64 && y >= 30 && y < 75);
            return bar ? 40 : 230;
        });
    }

    static CRasterSrc& Image(CDrawingView& view) { return view.GetGraph().GetRaster()->GetImage(); }

    static int CountIndex(const CRasterSrc& image, int index)
    {
        int count = 0;
        for (int y = 0; y < image.GetHeight(); ++y)
            for (int x = 0; x < image.GetWidth(); ++x)
                count += image.GetPixelIndex(x, y) == index;
        return count;
    }

    // The window pixel over the middle of an image pixel.
    static QPoint PixelOf(CDrawingView& view, int column, int row)
    {
        const CFrViewTransform& transform = view.GetDevice().Transform();
        std::int32_t X = 0, Y = 0;
        transform.WorldToDevice(column + 0.25, RowToWorld(row), &X, &Y);
        return {X, transform.DeviceRect().top - Y};
    }

    static void Mouse(QWidget& target, QEvent::Type type, QPoint at, Qt::MouseButton button)
    {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : Qt::MouseButtons(button);
        QMouseEvent event(type, QPointF(at), target.mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
        QApplication::sendEvent(&target, &event);
    }

    static void Click(QWidget& target, QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        Mouse(target, QEvent::MouseButtonPress, at, button);
        Mouse(target, QEvent::MouseButtonRelease, at, button);
    }
};

// Runs one handler on each modal dialog that comes up, in order.
class CModalScript {
public:
    explicit CModalScript(std::vector<std::function<void(QWidget*)>> steps) : m_steps(steps.begin(), steps.end())
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal->property("lwScripted").toBool() || m_steps.empty())
                return;
            modal->setProperty("lwScripted", true);
            auto step = std::move(m_steps.front());
            m_steps.pop_front();
            step(modal);
        });
        m_timer.start(5);
    }
    [[nodiscard]] bool Done() const { return m_steps.empty(); }

private:
    QTimer m_timer;
    std::deque<std::function<void(QWidget*)>> m_steps;
};

// ---- window and polygon --------------------------------------------------------

TEST_F(RasterTools, WindowAndPolygonEditsUndoAndRedoToTheExactBytes)
{
    CMainFrame frame;
    frame.show();
    CDrawingView* view = frame.OpenFile(WriteBlockRaster());
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(view->GetGraph().IsModified());
    const std::vector<BYTE> original = ImageBytes(Image(*view));

    // Erase the block's top half through a window dragged across it.
    ASSERT_TRUE(view->EditRasterWindow({30, RowToWorld(10)}, {95, RowToWorld(40)}, false));
    EXPECT_EQ(Image(*view).GetPixelIndex(60, 30), kWhite);
    EXPECT_EQ(Image(*view).GetPixelIndex(60, 50), kBlack);
    EXPECT_EQ(Image(*view).GetPixelIndex(10, 30), kWhite);
    const std::vector<BYTE> erased = ImageBytes(Image(*view));
    ASSERT_NE(erased, original);

    // Fill a triangle in the white part on the right.
    const frDoublePoint triangle[] = {{90, RowToWorld(10)}, {115, RowToWorld(10)}, {102, RowToWorld(70)}};
    ASSERT_TRUE(view->EditRasterPolygon(triangle, true));
    EXPECT_EQ(Image(*view).GetPixelIndex(102, 30), kBlack);
    EXPECT_EQ(Image(*view).GetPixelIndex(91, 65), kWhite);
    const std::vector<BYTE> filled = ImageBytes(Image(*view));
    ASSERT_NE(filled, erased);
    EXPECT_TRUE(view->GetGraph().IsModified());
    EXPECT_TRUE(m_messages.empty());

    CUndoList& list = view->GetRasterUndoList();
    ASSERT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(list.GetAt(0)->GetName(), "Erase raster by window");
    EXPECT_EQ(list.GetAt(1)->GetName(), "Fill raster by polygon");

    ASSERT_TRUE(view->UndoRaster());
    EXPECT_EQ(ImageBytes(Image(*view)), erased);
    ASSERT_TRUE(view->UndoRaster());
    EXPECT_EQ(ImageBytes(Image(*view)), original);
    // As the file holds it again: nothing unsaved.
    EXPECT_FALSE(view->GetGraph().IsModified());
    EXPECT_FALSE(view->UndoRaster());
    ASSERT_TRUE(view->RedoRaster());
    EXPECT_EQ(ImageBytes(Image(*view)), erased);
    EXPECT_TRUE(view->GetGraph().IsModified());
    ASSERT_TRUE(view->RedoRaster());
    EXPECT_EQ(ImageBytes(Image(*view)), filled);
    EXPECT_FALSE(view->RedoRaster());
}

TEST_F(RasterTools, PolygonThatCannotBeFilledIsReportedAndChangesNothing)
{
    CMainFrame frame;
    frame.show();
    CDrawingView* view = frame.OpenFile(WriteBlockRaster());
    ASSERT_NE(view, nullptr);
    const std::vector<BYTE> original = ImageBytes(Image(*view));
    const std::string expected = "The number of edges must be greater that 2!";

    // Three corners in a column: no turn at the top.
    const frDoublePoint column[] = {{50, RowToWorld(10)}, {50, RowToWorld(30)}, {50, RowToWorld(50)}};
    EXPECT_FALSE(view->EditRasterPolygon(column, true));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], expected);

    const frDoublePoint two[] = {{10, 10}, {30, 40}};
    EXPECT_FALSE(view->EditRasterPolygon(two, false));
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[1], expected);

    // A window clicked without a drag encloses nothing and says nothing.
    EXPECT_FALSE(view->EditRasterWindow({20, 20}, {20, 40}, true));
    EXPECT_EQ(m_messages.size(), 2u);

    EXPECT_EQ(ImageBytes(Image(*view)), original);
    EXPECT_EQ(view->GetRasterUndoList().GetCount(), 0u);
    EXPECT_FALSE(view->GetGraph().IsModified());
}

// ---- the mouse -----------------------------------------------------------------

TEST_F(RasterTools, MouseDrivesTheWindowPolygonAndBrushTools)
{
    CMainFrame frame;
    frame.resize(900, 700);
    frame.show();
    CDrawingView* view = frame.OpenFile(WriteBlockRaster());
    ASSERT_NE(view, nullptr);
    QCoreApplication::processEvents();
    const std::vector<BYTE> original = ImageBytes(Image(*view));
    const int blockPixels = (kBlock.right - kBlock.left) * (kBlock.bottom - kBlock.top);
    ASSERT_EQ(CountIndex(Image(*view), kBlack), blockPixels);

    // A window dragged over the block's left half erases it.
    view->SetRasterTool(RasterTool::EraseWindow);
    Mouse(*view, QEvent::MouseButtonPress, PixelOf(*view, 30, 10), Qt::LeftButton);
    Mouse(*view, QEvent::MouseMove, PixelOf(*view, 45, 40), Qt::LeftButton);
    Mouse(*view, QEvent::MouseButtonRelease, PixelOf(*view, 60, 70), Qt::LeftButton);
    EXPECT_EQ(Image(*view).GetPixelIndex(50, 40), kWhite);
    EXPECT_EQ(Image(*view).GetPixelIndex(70, 40), kBlack);
    const int left = CountIndex(Image(*view), kBlack);
    EXPECT_GT(left, blockPixels / 3);
    EXPECT_LT(left, blockPixels * 2 / 3);

    // Three clicks and a right click fill a triangle.
    view->SetRasterTool(RasterTool::FillPolygon);
    Click(*view, PixelOf(*view, 90, 10));
    Click(*view, PixelOf(*view, 115, 10));
    Click(*view, PixelOf(*view, 102, 70));
    EXPECT_EQ(Image(*view).GetPixelIndex(102, 30), kWhite);  // not before it is closed
    Click(*view, PixelOf(*view, 20, 20), Qt::RightButton);
    EXPECT_EQ(Image(*view).GetPixelIndex(102, 30), kBlack);

    // One click of the brush erases a 64 x 64 square round it, which holds
    // what is left of the block.
    view->SetRasterTool(RasterTool::EraseBrush);
    Click(*view, PixelOf(*view, 70, 40));
    EXPECT_EQ(Image(*view).GetPixelIndex(kBlock.right - 1, kBlock.bottom - 1), kWhite);
    EXPECT_EQ(Image(*view).GetPixelIndex(101, 30), kWhite);
    EXPECT_EQ(Image(*view).GetPixelIndex(102, 30), kBlack);  // the square's right edge is left out

    CUndoList& list = view->GetRasterUndoList();
    ASSERT_EQ(list.GetCount(), 3u);
    EXPECT_EQ(list.GetAt(0)->GetName(), "Erase raster by window");
    EXPECT_EQ(list.GetAt(1)->GetName(), "Fill raster by polygon");
    EXPECT_EQ(list.GetAt(2)->GetName(), "Erase raster by point");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(view->UndoRaster());
    EXPECT_EQ(ImageBytes(Image(*view)), original);

    // Without a tool the left button pans again and edits nothing.
    view->SetRasterTool(RasterTool::None);
    Click(*view, PixelOf(*view, 60, 40));
    EXPECT_EQ(ImageBytes(Image(*view)), original);
}

// ---- colour replacement ----------------------------------------------------------

TEST_F(RasterTools, ReplaceColourTakesBothColoursFromThePicker)
{
    // White, with a red block on the left and a blue one on the right.
    CRasterSrc image;
    ASSERT_TRUE(image.Create(60, 40, 24));
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) {
            if (x < 20)
                image.SetPixelRGB(x, y, 200, 0, 0);
            else if (x >= 40)
                image.SetPixelRGB(x, y, 0, 0, 200);
            else
                image.SetPixelRGB(x, y, 255, 255, 255);
        }
    const std::string path = PathOf("colours.bmp");
    ASSERT_TRUE(image.SaveBMP(path));

    CMainFrame frame;
    frame.show();
    CDrawingView* view = frame.OpenFile(path);
    ASSERT_NE(view, nullptr);
    const std::vector<BYTE> original = ImageBytes(Image(*view));

    // A click on the picture over a raster pixel.
    auto clickOn = [](int x, int y) {
        return [x, y](QWidget* modal) {
            auto* picker = qobject_cast<CRasterSelectDibColor*>(modal);
            ASSERT_NE(picker, nullptr);
            const RECT p = picker->GetPictureRect();
            CRasterSelectDibColor::ClickCallback(picker, 0, p.left + static_cast<int>((x + 0.5) * picker->GetScale()),
                                                 p.top + static_cast<int>((y + 0.5) * picker->GetScale()));
        };
    };
    CModalScript script({clickOn(5, 5), clickOn(50, 30), [](QWidget* modal) {
                             auto* input = qobject_cast<QInputDialog*>(modal);
                             ASSERT_NE(input, nullptr);
                             input->setIntValue(0);
                             input->accept();
                         }});
    QAction* replace = nullptr;
    for (QAction* action : frame.findChildren<QAction*>())
        if (action->text() == "&Replace Colour...")
            replace = action;
    ASSERT_NE(replace, nullptr);
    replace->trigger();
    EXPECT_TRUE(script.Done());
    EXPECT_TRUE(m_messages.empty()) << m_messages.front();

    BYTE red = 0, green = 0, blue = 0;
    Image(*view).GetPixelRGB(3, 17, red, green, blue);
    EXPECT_EQ(RGB(red, green, blue), RGB(0, 0, 200));
    Image(*view).GetPixelRGB(30, 17, red, green, blue);
    EXPECT_EQ(RGB(red, green, blue), RGB(255, 255, 255));
    ASSERT_EQ(view->GetRasterUndoList().GetCount(), 1u);
    EXPECT_EQ(view->GetRasterUndoList().GetAt(0)->GetName(), "Replace color");
    ASSERT_TRUE(view->UndoRaster());
    EXPECT_EQ(ImageBytes(Image(*view)), original);
}

// ---- trace -------------------------------------------------------------------------

TEST_F(RasterTools, TraceConversionIsARasterUndoStepAndTheTraceAVectorOne)
{
    CMainFrame frame;
    frame.show();
    CDrawingView* view = frame.OpenFile(WriteStrokesRaster());
    ASSERT_NE(view, nullptr);
    const std::vector<BYTE> grey = ImageBytes(Image(*view));
    ASSERT_EQ(view->GetGraph().GetEntityCount(), 0);

    ASSERT_TRUE(frame.TraceActive()) << (m_messages.empty() ? "" : m_messages.back());
    EXPECT_EQ(Image(*view).GetBitCount(), 1);
    EXPECT_GT(view->GetGraph().GetEntityCount(), 0);
    EXPECT_TRUE(view->GetGraph().IsModified());
    ASSERT_EQ(view->GetRasterUndoList().GetCount(), 1u);
    ASSERT_EQ(view->GetVectorUndoList().GetCount(), 1u);

    // Undo Raster brings the grey image back byte for byte; the vectors stay.
    ASSERT_TRUE(view->UndoRaster());
    EXPECT_EQ(ImageBytes(Image(*view)), grey);
    EXPECT_GT(view->GetGraph().GetEntityCount(), 0);
    ASSERT_TRUE(view->RedoRaster());
    EXPECT_EQ(Image(*view).GetBitCount(), 1);

    // Undo takes the traced vectors back.
    ASSERT_TRUE(view->UndoVector());
    EXPECT_EQ(view->GetGraph().GetEntityCount(), 0);
    ASSERT_TRUE(view->RedoVector());
    EXPECT_GT(view->GetGraph().GetEntityCount(), 0);
}

// ---- unsaved work --------------------------------------------------------------------

TEST_F(RasterTools, ClosingUnsavedWorkAsksToSaveDiscardOrCancel)
{
    const std::string raster = WriteBlockRaster();
    CMainFrame frame;
    frame.show();

    // Nothing changed: closes without a question.
    ASSERT_NE(frame.OpenFile(raster), nullptr);
    ASSERT_TRUE(frame.MdiArea()->subWindowList().front()->close());
    EXPECT_TRUE(m_messages.empty());
    QCoreApplication::processEvents();

    CDrawingView* view = frame.OpenFile(raster);
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->EditRasterWindow({30, 70}, {95, 40}, false));

    // Cancel keeps the frame and the window open.
    m_answers = {IDCANCEL};
    EXPECT_FALSE(frame.close());
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find("Save the changes"), std::string::npos) << m_messages[0];
    EXPECT_NE(m_messages[0].find("block.bmp"), std::string::npos) << m_messages[0];
    EXPECT_EQ(m_buttons[0], unsigned(MB_YESNOCANCEL));
    EXPECT_EQ(ChildCount(frame), 1);
    EXPECT_TRUE(frame.isVisible());

    // Discard lets it close.
    m_answers = {IDNO};
    EXPECT_TRUE(frame.close());
    EXPECT_EQ(m_messages.size(), 2u);
}

TEST_F(RasterTools, SavingOnCloseWritesTheProjectTheDrawingCameFrom)
{
    const std::string project = PathOf("work.lwt");
    {
        CMainFrame frame;
        frame.show();
        CDrawingView* view = frame.OpenFile(WriteStrokesRaster());
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(frame.TraceActive());
        m_messages.clear();
        // A vector format keeps neither the raster nor the settings: the
        // work is still unsaved.
        ASSERT_TRUE(view->GetGraph().IsModified());
        ASSERT_TRUE(frame.SaveActive(PathOf("work.dxf"))) << (m_messages.empty() ? "" : m_messages.back());
        EXPECT_TRUE(view->GetGraph().IsModified());
        ASSERT_TRUE(frame.SaveActive(project)) << (m_messages.empty() ? "" : m_messages.back());
        EXPECT_FALSE(view->GetGraph().IsModified());
    }
    std::vector<BYTE> edited;
    {
        CMainFrame frame;
        frame.show();
        CDrawingView* view = frame.OpenFile(project);
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->EditRasterWindow({30, 70}, {95, 40}, false));
        edited = ImageBytes(Image(*view));
        m_answers = {IDYES};
        EXPECT_TRUE(frame.MdiArea()->subWindowList().front()->close());
        EXPECT_EQ(m_messages.size(), 1u);
    }
    CDrawingView reopened;
    std::string error;
    ASSERT_TRUE(reopened.LoadFile(project, error)) << error;
    EXPECT_EQ(ImageBytes(Image(reopened)), edited);
}

// ---- undo depths -----------------------------------------------------------------------

TEST_F(RasterTools, UndoDepthsComeFromTheSettingsWithinTheirRanges)
{
    CSettingsKey key;
    ASSERT_TRUE(key.Create(kOptionKey));
    auto depths = [&key](DWORD raster, DWORD vector) {
        EXPECT_TRUE(key.SetDword("RasterUndoSteps", raster));
        EXPECT_TRUE(key.SetDword("VectorUndoSteps", vector));
        CDrawingView view;
        return std::pair<int, int>(view.GetRasterUndoList().GetDepth(), view.GetVectorUndoList().GetDepth());
    };
    EXPECT_EQ(depths(1, 1), std::pair(1, 1));
    EXPECT_EQ(depths(10, 100), std::pair(10, 100));
    EXPECT_EQ(depths(11, 101), std::pair(5, 32));
    EXPECT_EQ(depths(0, 0), std::pair(5, 32));

    EXPECT_TRUE(key.SetDword("RasterUndoSteps", 3));
    CMainFrame frame;
    CDrawingView* view = frame.OpenFile(WriteBlockRaster());
    ASSERT_NE(view, nullptr);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(view->EditRasterWindow({10.0 + 10 * i, 70}, {15.0 + 10 * i, 10}, i % 2 == 0));
    EXPECT_EQ(view->GetRasterUndoList().GetCount(), 3u);

    EXPECT_TRUE(key.DeleteValue("RasterUndoSteps"));
    EXPECT_TRUE(key.DeleteValue("VectorUndoSteps"));
    CDrawingView plain;
    EXPECT_EQ(plain.GetRasterUndoList().GetDepth(), 5);
    EXPECT_EQ(plain.GetVectorUndoList().GetDepth(), 32);
}

}  // namespace
