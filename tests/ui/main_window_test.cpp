// The main frame and its drawing windows: opening each kind of file, the
// status texts from any thread, scanned images, zoom and pan, and a traced
// drawing saved in every format.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QInputDialog>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "export/export_format.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/undo.h"
#include "platform/dib_types.h"
#include "platform/message_box.h"
#include "raster/freeimage_api.h"
#include "raster/raster_display.h"
#include "raster/raster_entity.h"
#include "raster/raster_file.h"
#include "raster/raster_src.h"
#include "ui/drawing_view.h"
#include "ui/main_window.h"
#include "desktop_fixture.h"

namespace {

namespace fs = std::filesystem;

// The block raster the tests open.
constexpr BlockRaster kBlock{};

class MainWindowTest : public DesktopTest {
protected:
    MainWindowTest() : DesktopTest("lw-main-window") {}
};

class CNamedStep : public CUndoItem {
public:
    explicit CNamedStep(std::string name) : CUndoItem(std::move(name)) {}
    bool Undo() override { return true; }
    bool Redo() override { return true; }
};

// ---- opening --------------------------------------------------------------

TEST_F(MainWindowTest, OpenedRasterShowsInItsOwnChildWindowFittedToIt)
{
    CMainFrame frame;
    frame.show();
    CDrawingView* view = frame.OpenFile(WriteBlockRaster());
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(ChildCount(frame), 1);
    EXPECT_EQ(frame.MdiArea()->subWindowList().front()->windowTitle(), "block.bmp");
    EXPECT_EQ(frame.ActiveView(), view);
    ASSERT_NE(view->GetGraph().GetRaster(), nullptr);
    EXPECT_EQ(view->GetGraph().GetRaster()->GetImage().GetWidth(), kBlock.width);
    QCoreApplication::processEvents();

    // The whole raster is in view, as large as the window allows.
    const CFrZoomBox& box = view->GetDevice().Transform().WorldBox();
    EXPECT_LE(box.xmin, 0.0);
    EXPECT_GE(box.xmax, kBlock.width);
    EXPECT_LE(box.ymin, 0.0);
    EXPECT_GE(box.ymax, kBlock.height);
    EXPECT_LT(box.ymax - box.ymin, kBlock.height * 1.1);
    EXPECT_EQ(view->RenderedImage().size(), view->size());

    // World y is up: the block's centre (row 40 from the top) is at y 40.
    EXPECT_LT(qGray(ShownAt(*view, 60, kBlock.height - 40)), 64);
    EXPECT_GT(qGray(ShownAt(*view, 10, kBlock.height - 10)), 192);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, EachPageOfAMultiPageTiffOpensInAWindowOfItsOwn)
{
    // Three pages told apart by their sizes.
    const std::string path = PathOf("a.tif");
    FIMULTIBITMAP* pages = FreeImage_OpenMultiBitmap(FIF_TIFF, path.c_str(), TRUE, FALSE, TRUE, 0);
    ASSERT_NE(pages, nullptr);
    for (int i = 0; i < 3; ++i) {
        FIBITMAP* page = FreeImage_Allocate(30 + i, 20 + i, 8);
        ASSERT_NE(page, nullptr);
        FreeImage_AppendPage(pages, page);
        FreeImage_Unload(page);
    }
    ASSERT_TRUE(FreeImage_CloseMultiBitmap(pages, 0));

    CMainFrame frame;
    frame.show();
    CDrawingView* last = frame.OpenFile(path);
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(m_messages.empty());
    const QList<QMdiSubWindow*> children = frame.MdiArea()->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(children.size(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const std::string name = "a_" + std::to_string(i) + ".tif";
        EXPECT_EQ(children[i]->windowTitle().toStdString(), name);
        auto* view = qobject_cast<CDrawingView*>(children[i]->widget());
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->GetPathName(), PathOf(name));
        const CRasterSrc& image = view->GetGraph().GetRaster()->GetImage();
        EXPECT_EQ(image.GetWidth(), 30 + i);
        EXPECT_EQ(image.GetHeight(), 20 + i);
    }
    EXPECT_EQ(frame.ActiveView(), last);
}

TEST_F(MainWindowTest, OpenedProjectAndDxfShowTheirEntities)
{
    const std::string project = PathOf("line.lwt");
    {
        CGraph drawing;
        ASSERT_NE(drawing.AddLine(0, 0, 100, 50), nullptr);
        ASSERT_TRUE(drawing.SaveProject(project, nullptr));
    }
    const std::string dxf = PathOf("line.dxf");
    std::ofstream(dxf) << "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n0.0\n20\n0.0\n11\n100.0\n21\n50.0\n"
                          "0\nENDSEC\n0\nEOF\n";

    CMainFrame frame;
    frame.show();
    // A project's load and save tell their progress in the status bar.
    QStringList shown;
    QObject::connect(frame.statusBar(), &QStatusBar::messageChanged, [&](const QString& text) { shown << text; });
    auto wasShown = [&](const QString& caption) {
        return std::any_of(shown.begin(), shown.end(), [&](const QString& text) { return text.startsWith(caption); });
    };
    for (const std::string& path : {project, dxf}) {
        SCOPED_TRACE(path);
        CDrawingView* view = frame.OpenFile(path);
        ASSERT_NE(view, nullptr) << (m_messages.empty() ? "" : m_messages.back());
        EXPECT_EQ(view->GetGraph().GetEntityCount(), 1);
        EXPECT_EQ(view->GetPathName(), path);
        const QRgb background = view->RenderedImage().pixel(1, 1);
        EXPECT_NE(ShownAt(*view, 50, 25), background);
        EXPECT_EQ(ShownAt(*view, 50, 40), background);
    }
    EXPECT_EQ(ChildCount(frame), 2);
    EXPECT_TRUE(wasShown("Openning Lineweft Project file...")) << shown.join('|').toStdString();
    EXPECT_FALSE(wasShown("Saving Lineweft Project file..."));
    ASSERT_TRUE(frame.SaveActive(PathOf("again.lwt")));
    EXPECT_TRUE(wasShown("Saving Lineweft Project file...")) << shown.join('|').toStdString();
}

TEST_F(MainWindowTest, FileThatDoesNotLoadOpensNoWindowAndSaysWhy)
{
    const std::string garbage = PathOf("broken.png");
    std::ofstream(garbage) << "not an image";
    CMainFrame frame;
    EXPECT_EQ(frame.OpenFile(PathOf("missing.lwt")), nullptr);
    EXPECT_EQ(frame.OpenFile(garbage), nullptr);
    EXPECT_EQ(ChildCount(frame), 0);
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_NE(m_messages[0].find("missing.lwt"), std::string::npos);
    EXPECT_NE(m_messages[1].find("broken.png"), std::string::npos);
    // The library knows PNG, the raster reader does not take it: the user
    // learns which types it takes.
    EXPECT_NE(m_messages[1].find("must be BMP, JPEG, PCX, TGA or TIFF"), std::string::npos) << m_messages[1];

    const std::string damaged = PathOf("damaged.bmp");
    std::ofstream(damaged) << "BM not really a bitmap";
    EXPECT_EQ(frame.OpenFile(damaged), nullptr);
    ASSERT_EQ(m_messages.size(), 3u);
    EXPECT_NE(m_messages[2].find("damaged"), std::string::npos) << m_messages[2];
    EXPECT_NE(m_messages[2].find("The file is damaged"), std::string::npos) << m_messages[2];
}

TEST_F(MainWindowTest, OpenDialogOffersOnlyTypesThatOpen)
{
    const QStringList filters = OpenFileFilter().split(";;");
    ASSERT_GE(filters.size(), 2);
    // The first filter holds every type; the image library's own table says
    // which raster types the reader takes.
    const QString all = filters.front();
    const QStringList patterns = all.mid(all.indexOf('(') + 1).chopped(1).split(' ');
    for (const QString& pattern : patterns) {
        ASSERT_TRUE(pattern.startsWith("*.")) << pattern.toStdString();
        const std::string name = "a" + pattern.mid(1).toStdString();
        const bool opens = pattern == "*.lwt" || pattern == "*.dxf" || !RasterFileFormatName(name).empty();
        EXPECT_TRUE(opens) << name;
    }
    for (const char* type : {"*.bmp", "*.jpg", "*.pcx", "*.tga", "*.tif", "*.tiff", "*.lwt", "*.dxf"})
        EXPECT_TRUE(patterns.contains(type)) << type;
    EXPECT_FALSE(OpenFileFilter().contains("*.png"));
    EXPECT_FALSE(OpenFileFilter().contains("*.gif"));
    EXPECT_TRUE(filters.back().endsWith("(*)"));
}

TEST_F(MainWindowTest, DxfImportTellsWhatItPassedOver)
{
    CMainFrame frame;
    CDrawingView* view = frame.OpenFile(std::string(LW_TEST_DATA_DIR) + "/dxf/r2000_entities.dxf");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(frame.ActiveView(), view);
    EXPECT_GT(view->GetGraph().GetEntityCount(), 5);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find("r2000_entities.dxf"), std::string::npos) << m_messages[0];
    EXPECT_NE(m_messages[0].find("spline"), std::string::npos) << m_messages[0];
}

// ---- status texts ---------------------------------------------------------

TEST_F(MainWindowTest, StatusTextsReachTheStatusBarFromEveryThread)
{
    auto shown = [](CMainFrame& frame) { return frame.statusBar()->currentMessage().toStdString(); };
    {
        CMainFrame frame;
        ASSERT_EQ(GetMainStatusWindow(), frame.GetStatusWindow());

        SendStatusText("from the interface");
        EXPECT_EQ(shown(frame), "from the interface");

        CNamedStep step("Delete");
        ASSERT_TRUE(UndoOneItem(&step));
        EXPECT_EQ(shown(frame), "Undo: Delete");

        // A worker's send waits until the frame's loop has shown it.
        std::thread sender([] { SendStatusText("from a worker"); });
        EXPECT_TRUE(PumpEventsUntil([&] { return shown(frame) == "from a worker"; }));
        sender.join();

        std::thread hooked([] { ShowStatusText("through the hook"); });
        hooked.join();
        EXPECT_TRUE(PumpEventsUntil([&] { return shown(frame) == "through the hook"; }));
    }
    // The frame hands both routes back when it goes.
    EXPECT_EQ(GetMainStatusWindow(), nullptr);
    SendStatusText("nobody listens");
    ShowStatusText("nobody listens");
}

// ---- scanner --------------------------------------------------------------

// A packed 8-bit grey DIB as a source hands it over: a ramp across the rows.
std::vector<BYTE> GreyDib(int width, int height)
{
    const int stride = (width + 3) / 4 * 4;
    std::vector<BYTE> block(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD) + stride * height);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 8;
    header.biXPelsPerMeter = header.biYPelsPerMeter = 11811;  // 300 dpi
    std::memcpy(block.data(), &header, sizeof header);
    auto* palette = reinterpret_cast<RGBQUAD*>(block.data() + sizeof header);
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    BYTE* bits = block.data() + sizeof header + 256 * sizeof(RGBQUAD);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bits[y * stride + x] = static_cast<BYTE>(x * 255 / (width - 1));
    return block;
}

TEST_F(MainWindowTest, EachScannedImageOpensAChildWindowOfItsOwn)
{
    CMainFrame frame;
    frame.show();
    TW_IMAGEINFO info{};
    EXPECT_EQ(frame.ShouldTransfer(info), CTwain::kTransferImage);

    std::vector<BYTE> dib = GreyDib(64, 48);
    frame.CopyImage(dib.data(), info);
    ASSERT_EQ(ChildCount(frame), 1);
    EXPECT_EQ(frame.MdiArea()->subWindowList().front()->windowTitle(), "Scanned Raster Image*");  // not saved anywhere yet
    CDrawingView* view = frame.ActiveView();
    ASSERT_NE(view, nullptr);
    CRaster* raster = view->GetGraph().GetRaster();
    ASSERT_NE(raster, nullptr);
    EXPECT_EQ(raster->GetImage().GetWidth(), 64);
    EXPECT_EQ(raster->GetImage().GetHeight(), 48);
    EXPECT_EQ(raster->GetResolutionX(), 11811u);
    int filledBins = 0;
    for (BYTE bin : view->GetGraph().GetHistogram())
        filledBins += bin != 0;
    EXPECT_GT(filledBins, 32);
    const CFrZoomBox& box = view->GetDevice().Transform().WorldBox();
    EXPECT_TRUE(box.xmin <= 0 && box.xmax >= 64 && box.ymin <= 0 && box.ymax >= 48);

    // A block whose header is not a DIB's opens nothing.
    dib[0] = 12;
    frame.CopyImage(dib.data(), info);
    EXPECT_EQ(ChildCount(frame), 1);
}

TEST_F(MainWindowTest, AcquireStartsPollingAndTheTransferOpensTheScan)
{
    unsetenv("FAKE_TWAIN_SCRIPT");
    setenv("LINEWEFT_TWAIN_DSM", LW_FAKE_DSM_PATH, 1);
    InitApplicationShell();
    EXPECT_EQ(GetShellPlatformCode(), kPlatformNT);
    {
        CMainFrame frame;
        EXPECT_FALSE(frame.AcquireFromScanner());  // not started yet: no scanner
        frame.StartScanner();
        frame.WaitForStartup();
        ASSERT_TRUE(frame.IsReady());
        EXPECT_EQ(std::string(frame.GetAppIdentity().ProductName), GetProgramDisplayName());
        ASSERT_TRUE(frame.AcquireFromScanner());
        EXPECT_TRUE(frame.IsPollingScanner());
        EXPECT_TRUE(PumpEventsUntil([&] { return ChildCount(frame) == 1 && !frame.IsPollingScanner(); }));
        ASSERT_EQ(ChildCount(frame), 1);
        EXPECT_EQ(frame.MdiArea()->subWindowList().front()->windowTitle(), "Scanned Raster Image*");
        CDrawingView* view = frame.ActiveView();
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->GetGraph().GetRaster()->GetImage().GetWidth(), 17);
        EXPECT_EQ(view->GetGraph().GetRaster()->GetImage().GetHeight(), 8);
        EXPECT_FALSE(frame.IsSourceOpen());
    }
    unsetenv("LINEWEFT_TWAIN_DSM");
}

TEST_F(MainWindowTest, ScanThatFailsSaysWhatTheScannerReportedAndOpensNothing)
{
    setenv("LINEWEFT_TWAIN_DSM", LW_FAKE_DSM_PATH, 1);
    InitApplicationShell();
    // Held open so that the script set here is the one the frame finds.
    void* manager = dlopen(LW_FAKE_DSM_PATH, RTLD_NOW);
    ASSERT_NE(manager, nullptr) << dlerror();
    auto reset = reinterpret_cast<void (*)(const char*)>(dlsym(manager, "FakeTwainReset"));
    ASSERT_NE(reset, nullptr);
    const std::pair<const char*, const char*> cases[] = {{"failscan=20", "jammed"},
                                                         {"failscan=29", "no document"},
                                                         {"failscan=5", "could not scan"},
                                                         {"failscan=1", "error: 1"},
                                                         {"cancelui", nullptr}};
    for (const auto& [script, reason] : cases) {
        SCOPED_TRACE(script);
        m_messages.clear();
        reset(script);
        CMainFrame frame;
        frame.StartScanner();
        frame.WaitForStartup();
        ASSERT_TRUE(frame.IsReady());
        ASSERT_TRUE(frame.AcquireFromScanner());
        EXPECT_TRUE(PumpEventsUntil([&] { return !frame.IsPollingScanner(); }));
        EXPECT_EQ(ChildCount(frame), 0);
        if (reason == nullptr) {
            // The user cancelled: nothing to report.
            EXPECT_TRUE(m_messages.empty());
            continue;
        }
        ASSERT_EQ(m_messages.size(), 1u);
        EXPECT_NE(m_messages[0].find(reason), std::string::npos) << m_messages[0];
    }
    dlclose(manager);
    unsetenv("LINEWEFT_TWAIN_DSM");
}

#ifdef LW_SANE_DSM_PATH

// A real scan through our SANE manager and SANE's test backend, which offers
// two devices: Select Source lists both, the user takes the second, and the
// page it scans arrives in a child window of its own.
TEST_F(MainWindowTest, SecondOfTwoSaneDevicesChosenInSelectSourceScansThePage)
{
    const char* backend = "/usr/lib/x86_64-linux-gnu/sane/libsane-test.so.1";
    if (!fs::exists(backend))
        GTEST_SKIP() << "SANE test backend not installed";
    const std::string folder = std::string(std::getenv("LINEWEFT_CONFIG_DIR")) + "-sane-gui";
    fs::create_directories(folder);
    std::ofstream(folder + "/dll.conf") << "test\n";
    std::ofstream(folder + "/test.conf")
        << "number_of_devices 2\nresolution 50.0\nmode Gray\ndepth 8\ntest-picture \"Solid black\"\n";
    setenv("SANE_CONFIG_DIR", folder.c_str(), 1);
    setenv("LINEWEFT_TWAIN_DSM", LW_SANE_DSM_PATH, 1);
    // Kept loaded: SANE keeps buffers in statics that read as leaks once unloaded.
    static void* const keepManager = dlopen(LW_SANE_DSM_PATH, RTLD_NOW);
    static void* const keepBackend = dlopen(backend, RTLD_NOW);
    ASSERT_TRUE(keepManager && keepBackend) << dlerror();
    {
        CMainFrame frame;
        frame.show();
        frame.StartScanner();
        frame.WaitForStartup();
        ASSERT_TRUE(frame.IsReady());
        // The first device is the default.
        EXPECT_STREQ(frame.GetSourceIdentity().Version.Info, "test:0");

        // The user moves to the second entry of the dialog and takes it.
        QStringList offered;
        QTimer answer;
        answer.setInterval(10);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible() || QThread::currentThread()->loopLevel() == 0)
                return;
            answer.stop();
            offered = dialog->comboBoxItems();
            auto* choices = dialog->findChild<QComboBox*>();
            ASSERT_NE(choices, nullptr);
            QTest::keyClick(choices, Qt::Key_Down);
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        answer.start();
        // From the File menu, which enables the item as it opens.
        QAction* select = nullptr;
        for (QAction* menu : frame.menuBar()->actions())
            for (QAction* action : menu->menu() ? menu->menu()->actions() : QList<QAction*>())
                if (action->text() == "Select &Source...") {
                    emit menu->menu()->aboutToShow();
                    select = action;
                }
        ASSERT_NE(select, nullptr);
        ASSERT_TRUE(select->isEnabled());
        select->trigger();
        ASSERT_EQ(offered.size(), 2);
        EXPECT_NE(offered[0], offered[1]);
        EXPECT_STREQ(frame.GetSourceIdentity().Version.Info, "test:1");

        ASSERT_TRUE(frame.AcquireFromScanner());
        EXPECT_TRUE(PumpEventsUntil([&] { return ChildCount(frame) == 1 && !frame.IsPollingScanner(); }));
        ASSERT_EQ(ChildCount(frame), 1);
        EXPECT_EQ(frame.MdiArea()->subWindowList().front()->windowTitle(), "Scanned Raster Image*");
        // The device that was opened, as the manager named it.
        EXPECT_STREQ(frame.GetSourceIdentity().Version.Info, "test:1");
        EXPECT_EQ(offered[1].toStdString(), frame.GetSourceIdentity().ProductName);
        const CRasterSrc& image = frame.ActiveView()->GetGraph().GetRaster()->GetImage();
        EXPECT_EQ(image.GetWidth(), 157);
        EXPECT_EQ(image.GetHeight(), 196);
    }
    unsetenv("LINEWEFT_TWAIN_DSM");
    unsetenv("SANE_CONFIG_DIR");
}

#endif

// ---- zoom and pan ---------------------------------------------------------

TEST_F(MainWindowTest, WheelZoomKeepsThePointUnderThePointerAndMiddleDragPansWithIt)
{
    CMainFrame frame;
    frame.show();
    CDrawingView* view = frame.OpenFile(WriteBlockRaster());
    ASSERT_NE(view, nullptr);
    QCoreApplication::processEvents();
    const CFrViewTransform& transform = view->GetDevice().Transform();
    const double width = transform.WorldWidth();

    const QPoint pointer(view->width() / 3, view->height() / 4);
    const frDoublePoint before = view->PixelToWorld(pointer);
    QWheelEvent wheel(QPointF(pointer), QPointF(view->mapToGlobal(pointer)), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view, &wheel);
    // One notch in shows four fifths of the width.
    EXPECT_NEAR(transform.WorldWidth(), width * 0.8, width * 1e-4);
    const frDoublePoint after = view->PixelToWorld(pointer);
    EXPECT_NEAR(after.x, before.x, transform.UnitsPerPixel());
    EXPECT_NEAR(after.y, before.y, transform.UnitsPerPixel());

    const QPoint from(100, 100), to(160, 130);
    const frDoublePoint grabbed = view->PixelToWorld(from);
    auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(at), QPointF(view->mapToGlobal(at)), Qt::MiddleButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &event);
    };
    mouse(QEvent::MouseButtonPress, from, Qt::MiddleButton);
    mouse(QEvent::MouseMove, QPoint(130, 110), Qt::MiddleButton);
    mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    const frDoublePoint dropped = view->PixelToWorld(to);
    EXPECT_NEAR(dropped.x, grabbed.x, 1e-6);
    EXPECT_NEAR(dropped.y, grabbed.y, 1e-6);

    // Zoom Previous undoes the drag in one step, then the zoom.
    ASSERT_TRUE(view->ZoomPrevious());
    EXPECT_NEAR(view->PixelToWorld(pointer).x, after.x, 1e-6);
    ASSERT_TRUE(view->ZoomPrevious());
    EXPECT_NEAR(transform.WorldWidth(), width, 1e-6);
    EXPECT_FALSE(view->ZoomPrevious());
}

// ---- trace and save -------------------------------------------------------

TEST_F(MainWindowTest, TracedPlateShowsVectorsOverTheRasterAndSavesInEveryFormat)
{
    const std::string plate = std::string(LW_TEST_DATA_DIR) + "/../../samples/plate.tif";
    CMainFrame frame;
    frame.resize(1100, 800);
    frame.show();
    CDrawingView* view = frame.OpenFile(plate);
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(frame.TraceActive()) << (m_messages.empty() ? "" : m_messages.back());
    // The end of the run is reported with its time.
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].rfind("Tracing finished. Elapsed time: ", 0), 0u) << m_messages[0];
    EXPECT_NE(m_messages[0].find(" seconds"), std::string::npos) << m_messages[0];
    m_messages.clear();
    const int entities = view->GetGraph().GetEntityCount();
    EXPECT_GT(entities, 20);
    EXPECT_EQ(view->GetGraph().GetRaster()->GetImage().GetBitCount(), 1);
    EXPECT_TRUE(frame.statusBar()->currentMessage().startsWith("Traced entities: "));
    QCoreApplication::processEvents();

    // The vectors are drawn in colour over the dimmed raster.
    const QImage& picture = view->RenderedImage();
    int coloured = 0;
    for (int y = 0; y < picture.height(); y += 2)
        for (int x = 0; x < picture.width(); x += 2) {
            const QRgb c = picture.pixel(x, y);
            coloured += qBlue(c) > qRed(c) + 64;
        }
    EXPECT_GT(coloured, 500);

    const QImage shot = frame.grab().toImage();
    const QString shotPath = QCoreApplication::applicationDirPath() + "/main_window_traced_plate.png";
    ASSERT_TRUE(shot.save(shotPath));

    // The project by its extension, each vector format by its code.
    std::vector<std::pair<std::string, int>> saved{{PathOf("plate.lwt"), EXPORT_NONE}};
    for (int format = EXPORT_FORMAT_FIRST; format <= EXPORT_FORMAT_LAST; ++format)
        if (IsExportFormatAvailable(format))
            saved.emplace_back(PathOf("plate-" + std::to_string(format) + ExportFormatExtension(format)), format);
    EXPECT_GT(saved.size(), 5u);
    for (const auto& [path, format] : saved) {
        EXPECT_TRUE(frame.SaveActive(path, format)) << path;
        std::error_code error;
        EXPECT_GT(fs::file_size(path, error), 100u) << path;
    }
    EXPECT_TRUE(m_messages.empty()) << m_messages.front();
    EXPECT_EQ(frame.MdiArea()->currentSubWindow()->windowTitle().toStdString(),
              fs::path(saved.back().first).filename().string());

    CDrawingView* reopened = frame.OpenFile(saved.front().first);
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(reopened->GetGraph().GetEntityCount(), entities);
    EXPECT_EQ(reopened->GetGraph().GetRaster()->GetImage().GetWidth(), 1500);
}

TEST_F(MainWindowTest, CommandsThatCannotRunSayWhyAndLeaveTheDrawing)
{
    CMainFrame frame;
    EXPECT_FALSE(frame.TraceActive());  // no window at all: nothing to say
    EXPECT_FALSE(frame.SaveActive(PathOf("nothing.dxf")));
    EXPECT_TRUE(m_messages.empty());

    CDrawingView* view = frame.NewDrawingWindow("Empty");
    ASSERT_NE(view, nullptr);
    ASSERT_NE(view->GetGraph().AddLine(0, 0, 10, 10), nullptr);
    EXPECT_FALSE(frame.TraceActive());
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "There is no raster image to trace.");
    EXPECT_EQ(view->GetGraph().GetEntityCount(), 1);

    EXPECT_FALSE(frame.SaveActive(PathOf("drawing.unknown")));
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_NE(m_messages[1].find("drawing.unknown"), std::string::npos);
    EXPECT_FALSE(fs::exists(PathOf("drawing.unknown")));
    EXPECT_EQ(frame.MdiArea()->currentSubWindow()->windowTitle(), "Empty");
}

}  // namespace
