// The main frame: child windows of drawings, the status bar fed by the
// core's status texts, the file, trace and scanner commands.
#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <mutex>
#include <vector>

#include "export/export_format.h"
#include "model/file_paths.h"
#include "model/graph.h"
#include "model/text_table.h"
#include "model/undo.h"
#include "raster/raster_display.h"
#include "raster/raster_src.h"
#include "ui/drawing_view.h"

namespace {

int g_platformCode = kPlatformUnknown;
std::string g_displayName = "Lineweft";

QString Lan(const char* key, const char* english)
{
    return QString::fromUtf8(GetLanString(key, english));
}

int AskWithDialog(const std::string& text, const std::string& caption, unsigned type)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromUtf8(caption));
    box.setText(QString::fromUtf8(text));
    switch (type & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    switch (type & 0x0F) {
    case MB_OKCANCEL: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MB_YESNOCANCEL: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
    case MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return IDOK;
    }
}

} // namespace

// ---- process-wide start-up values -------------------------------------------

void InitApplicationShell()
{
    g_platformCode = GetPlatformCode();
    const QString name = QGuiApplication::applicationDisplayName();
    if (!name.isEmpty())
        g_displayName = name.toStdString();
    CTwain::SetProductName(g_displayName);
}

int GetShellPlatformCode() { return g_platformCode; }

const std::string& GetProgramDisplayName() { return g_displayName; }

void InstallDesktopMessageBox()
{
    SetMessageBoxHook([](const std::string& text, const std::string& caption, unsigned type) -> int {
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr)
            return IDOK;
        if (QThread::currentThread() == app->thread())
            return AskWithDialog(text, caption, type);
        // Dialogs belong to the user-interface thread.
        int answer = IDOK;
        QMetaObject::invokeMethod(
            app, [&] { answer = AskWithDialog(text, caption, type); }, Qt::BlockingQueuedConnection);
        return answer;
    });
}

// ---- status texts -------------------------------------------------------------

// What other threads reach the frame through; the frame clears it before it
// goes, so a late caller finds nobody instead of a freed window.
struct CMainFrame::CWakeTarget {
    std::mutex mutex;
    CMainFrame* frame = nullptr;

    void Wake()
    {
        std::lock_guard lock(mutex);
        if (frame != nullptr)
            QMetaObject::invokeMethod(
                frame, [f = frame] { f->PumpStatusMessages(); }, Qt::QueuedConnection);
    }

    void Show(const std::string& text)
    {
        const QString qtext = QString::fromUtf8(text);
        std::unique_lock lock(mutex);
        CMainFrame* target = frame;
        if (target == nullptr)
            return;
        if (QThread::currentThread() == target->thread()) {
            // Only this thread deletes the frame.
            lock.unlock();
            target->ShowStatus(qtext);
            return;
        }
        QMetaObject::invokeMethod(
            target, [target, qtext] { target->ShowStatus(qtext); }, Qt::QueuedConnection);
    }
};

class CMainFrame::CStatusReceiver : public CMessageReceiver {
public:
    explicit CStatusReceiver(CMainFrame* frame) : m_frame(frame) {}
    ~CStatusReceiver() override { Close(); }

protected:
    LRESULT WindowProc(UINT message, WPARAM, LPARAM lParam) override
    {
        if (message != WM_APP_STATUSTEXT || lParam == 0)
            return 0;
        m_frame->ShowStatus(QString::fromUtf8(reinterpret_cast<const char*>(lParam)));
        return 1;
    }

private:
    CMainFrame* m_frame;
};

// ---- the frame ----------------------------------------------------------------

CMainFrame::CMainFrame(QWidget* parent)
    : QMainWindow(parent), m_wake(std::make_shared<CWakeTarget>())
{
    setWindowTitle(QString::fromUtf8(g_displayName));
    m_mdi = new QMdiArea(this);
    setCentralWidget(m_mdi);
    statusBar()->showMessage(Lan("Ready", "Ready"));
    resize(1024, 720);

    m_scannerTimer = new QTimer(this);
    m_scannerTimer->setInterval(kScannerPollMs);
    connect(m_scannerTimer, &QTimer::timeout, this, &CMainFrame::OnScannerTimer);

    m_wake->frame = this;
    m_statusReceiver = std::make_unique<CStatusReceiver>(this);
    m_statusReceiver->SetWakeCallback([wake = m_wake]() noexcept {
        try {
            wake->Wake();
        } catch (...) {
            // A lost wake-up only delays the text until the next one.
        }
    });
    m_previousStatusWindow = GetMainStatusWindow();
    SetMainStatusWindow(m_statusReceiver.get());
    m_previousStatusHook = SetStatusTextHook([wake = m_wake](const std::string& text) { wake->Show(text); });

    CreateActions();
    connect(m_mdi, &QMdiArea::subWindowActivated, this, [this] { UpdateActions(); });
    UpdateActions();
}

CMainFrame::~CMainFrame()
{
    // The area announces its children's going while QWidget deletes them,
    // when this part of the frame is gone already.
    disconnect(m_mdi, nullptr, this, nullptr);
    m_scannerTimer->stop();
    // The client's start-up thread and the source manager know the status
    // receiver as their window: both go before it does.
    WaitForStartup();
    ReleaseTwain();

    if (GetMainStatusWindow() == m_statusReceiver.get())
        SetMainStatusWindow(m_previousStatusWindow);
    SetStatusTextHook(std::move(m_previousStatusHook));
    {
        std::lock_guard lock(m_wake->mutex);
        m_wake->frame = nullptr;
    }
    m_statusReceiver.reset();
}

HWND CMainFrame::GetStatusWindow() const { return m_statusReceiver.get(); }

void CMainFrame::ShowStatus(const QString& text) { statusBar()->showMessage(text); }

void CMainFrame::PumpStatusMessages()
{
    if (m_statusReceiver)
        m_statusReceiver->Pump();
}

// ---- menus ----------------------------------------------------------------------

void CMainFrame::CreateActions()
{
    QMenu* file = menuBar()->addMenu(Lan("MenuFile", "&File"));
    file->addAction(Lan("MenuOpen", "&Open..."), QKeySequence::Open, this, &CMainFrame::OnOpen);
    m_saveAction = file->addAction(Lan("MenuSaveAs", "Save &As..."), QKeySequence::SaveAs, this,
                                   &CMainFrame::OnSaveAs);
    file->addSeparator();
    m_selectSourceAction = file->addAction(Lan("MenuSelectSource", "Select &Source..."), this,
                                           &CMainFrame::OnSelectSource);
    m_acquireAction = file->addAction(Lan("MenuAcquire", "&Acquire..."), this, &CMainFrame::OnAcquire);
    file->addSeparator();
    file->addAction(Lan("MenuExit", "E&xit"), QKeySequence::Quit, this, &QWidget::close);
    connect(file, &QMenu::aboutToShow, this, [this] { UpdateActions(); });

    QMenu* edit = menuBar()->addMenu(Lan("MenuEdit", "&Edit"));
    m_undoAction = edit->addAction(Lan("MenuUndo", "&Undo"), QKeySequence::Undo, this, [this] {
        if (CDrawingView* view = ActiveView())
            view->UndoVector();
    });
    m_redoAction = edit->addAction(Lan("MenuRedo", "&Redo"), QKeySequence::Redo, this, [this] {
        if (CDrawingView* view = ActiveView())
            view->RedoVector();
    });
    m_rasterUndoAction = edit->addAction(Lan("MenuRasterUndo", "Undo Raster"), this, [this] {
        if (CDrawingView* view = ActiveView())
            view->UndoRaster();
    });
    m_rasterRedoAction = edit->addAction(Lan("MenuRasterRedo", "Redo Raster"), this, [this] {
        if (CDrawingView* view = ActiveView())
            view->RedoRaster();
    });
    connect(edit, &QMenu::aboutToShow, this, [this] { UpdateActions(); });

    QMenu* view = menuBar()->addMenu(Lan("MenuView", "&View"));
    m_zoomAction = view->addAction(Lan("MenuZoomExtents", "Zoom &Extents"), this, &CMainFrame::OnZoomExtents);
    m_zoomPreviousAction = view->addAction(Lan("MenuZoomPrevious", "Zoom &Previous"), this, [this] {
        if (CDrawingView* active = ActiveView())
            active->ZoomPrevious();
    });

    QMenu* tools = menuBar()->addMenu(Lan("MenuTools", "&Tools"));
    m_traceAction = tools->addAction(Lan("MenuTrace", "&Trace"), this, &CMainFrame::OnTrace);
}

void CMainFrame::UpdateActions()
{
    CDrawingView* view = ActiveView();
    // Undo and redo stay enabled with a view: their keys must work without
    // the menu having been opened, and an empty list makes them do nothing.
    for (QAction* action : {m_saveAction, m_traceAction, m_zoomAction, m_zoomPreviousAction, m_undoAction,
                            m_redoAction, m_rasterUndoAction, m_rasterRedoAction})
        action->setEnabled(view != nullptr);
    m_selectSourceAction->setEnabled(IsReady());
    m_acquireAction->setEnabled(IsReady() && !IsSourceEnabled());
}

// ---- child windows ----------------------------------------------------------------

CDrawingView* CMainFrame::AddChild(std::unique_ptr<CDrawingView> view, const QString& title)
{
    CDrawingView* shown = view.get();
    QMdiSubWindow* child = m_mdi->addSubWindow(view.release());
    child->setAttribute(Qt::WA_DeleteOnClose);
    child->setWindowTitle(title);
    connect(shown, &CDrawingView::statusText, this, &CMainFrame::ShowStatus);
    child->showMaximized();
    m_mdi->setActiveSubWindow(child);
    UpdateActions();
    return shown;
}

CDrawingView* CMainFrame::NewDrawingWindow(const QString& title)
{
    return AddChild(std::make_unique<CDrawingView>(), title);
}

CDrawingView* CMainFrame::OpenFile(const std::string& path)
{
    auto view = std::make_unique<CDrawingView>();
    std::string error;
    if (!view->LoadFile(path, error)) {
        std::string text = GetLanString("OpenFileFailMsg", "Cannot open ") + path;
        if (!error.empty())
            text += "\n" + error;
        ShowMessageBox(text, g_displayName, MB_OK | MB_ICONERROR);
        return nullptr;
    }
    ShowStatus(QString::fromUtf8(path));
    return AddChild(std::move(view), QString::fromUtf8(GetFileNameWithExt(path)));
}

CDrawingView* CMainFrame::ActiveView() const
{
    QMdiSubWindow* child = m_mdi->currentSubWindow();
    if (child == nullptr) {
        const QList<QMdiSubWindow*> children = m_mdi->subWindowList(QMdiArea::ActivationHistoryOrder);
        if (!children.isEmpty())
            child = children.last();
    }
    return child ? qobject_cast<CDrawingView*>(child->widget()) : nullptr;
}

// ---- commands ----------------------------------------------------------------------

bool CMainFrame::TraceActive()
{
    CDrawingView* view = ActiveView();
    if (view == nullptr)
        return false;
    std::string error;
    const CTraceRunResult result = view->Trace(error);
    const bool kept = result.code == RUN_FINISHED || result.code == RUN_NO_MEMORY ||
                      result.code == RUN_FILL_FAILED || result.code == RUN_STOPPED;
    if (kept) {
        const int entities = view->GetGraph().GetEntityCount();
        ShowStatus(Lan("TraceDoneMsg", "Traced entities: ") + QString::number(entities) +
                   QString::asprintf(" (%.1f s)", result.elapsedMs / 1000.0));
    }
    // A stop is the user's own doing; other ends are worth a message.
    if (!error.empty() && result.code != RUN_STOPPED)
        ShowMessageBox(error, g_displayName, MB_OK | MB_ICONWARNING);
    UpdateActions();
    return kept;
}

bool CMainFrame::SaveActive(const std::string& path, int format)
{
    CDrawingView* view = ActiveView();
    if (view == nullptr)
        return false;
    std::string error;
    if (!view->SaveAs(path, format, error)) {
        std::string text = GetLanString("SaveFileFailMsg", "Cannot save ") + path;
        if (!error.empty())
            text += "\n" + error;
        ShowMessageBox(text, g_displayName, MB_OK | MB_ICONERROR);
        return false;
    }
    if (QWidget* child = view->parentWidget())
        child->setWindowTitle(QString::fromUtf8(GetFileNameWithExt(path)));
    ShowStatus(Lan("SavedMsg", "Saved ") + QString::fromUtf8(path));
    return true;
}

void CMainFrame::OnOpen()
{
    const QString filter = Lan("OpenFilter", "Drawings and rasters") +
                           " (*.lwt *.dxf *.bmp *.tif *.tiff *.png *.jpg *.jpeg *.gif *.pcx *.tga);;" +
                           Lan("AllFilesFilter", "All files") + " (*)";
    const QStringList paths = QFileDialog::getOpenFileNames(this, Lan("OpenTitle", "Open"), QString(), filter);
    for (const QString& path : paths)
        OpenFile(path.toStdString());
}

void CMainFrame::OnSaveAs()
{
    CDrawingView* view = ActiveView();
    if (view == nullptr)
        return;
    // One filter per format, the project first; each remembers its code.
    struct Choice {
        QString filter;
        QString extension;
        int format;
    };
    std::vector<Choice> choices{{Lan("ProjectFilter", "Lineweft project") + " (*.lwt)", ".lwt", EXPORT_NONE}};
    for (int format = EXPORT_FORMAT_FIRST; format <= EXPORT_FORMAT_LAST; ++format) {
        if (!IsExportFormatAvailable(format))
            continue;
        const QString extension = QString::fromUtf8(ExportFormatExtension(format));
        choices.push_back({QString::fromUtf8(ExportFormatName(format)) + " (*" + extension + ")", extension, format});
    }
    QStringList filters;
    for (const Choice& choice : choices)
        filters << choice.filter;
    QString selected = choices.front().filter;
    QString path = QFileDialog::getSaveFileName(this, Lan("SaveAsTitle", "Save As"),
                                                QString::fromStdString(view->GetPathName()),
                                                filters.join(";;"), &selected);
    if (path.isEmpty())
        return;
    for (const Choice& choice : choices) {
        if (choice.filter != selected)
            continue;
        if (QFileInfo(path).suffix().isEmpty())
            path += choice.extension;
        // ".lwt" always saves the project, whatever filter was left selected.
        SaveActive(path.toStdString(), choice.format);
        return;
    }
    SaveActive(path.toStdString());
}

void CMainFrame::OnTrace() { TraceActive(); }

void CMainFrame::OnZoomExtents()
{
    if (CDrawingView* view = ActiveView())
        view->ZoomExtents();
}

// ---- scanner -------------------------------------------------------------------------

void CMainFrame::StartScanner()
{
    // The old platform family started the client on the user-interface thread.
    const int platform = GetShellPlatformCode();
    StartTwain(GetStatusWindow(), platform != kPlatformOld && platform != kPlatformNew);
}

bool CMainFrame::SelectScannerSource()
{
    if (!IsReady()) {
        ShowStatus(Lan("NoScannerMsg", "No scanner is available."));
        return false;
    }
    return SelectSource();
}

bool CMainFrame::AcquireFromScanner()
{
    if (!IsReady()) {
        ShowStatus(Lan("NoScannerMsg", "No scanner is available."));
        return false;
    }
    if (!Acquire(-1)) {
        ShowMessageBox(GetLanString("AcquireFailMsg", "The scanner could not be started."), g_displayName,
                       MB_OK | MB_ICONWARNING);
        return false;
    }
    m_scannerTimer->start();
    UpdateActions();
    return true;
}

bool CMainFrame::IsPollingScanner() const { return m_scannerTimer->isActive(); }

void CMainFrame::OnSelectSource() { SelectScannerSource(); }

void CMainFrame::OnAcquire() { AcquireFromScanner(); }

void CMainFrame::OnScannerTimer()
{
    if (IsSourceEnabled())
        PollEvents();
    if (!IsSourceEnabled()) {
        m_scannerTimer->stop();
        UpdateActions();
    }
}

int CMainFrame::ShouldTransfer(const TW_IMAGEINFO&) { return kTransferImage; }

void CMainFrame::CopyImage(TW_HANDLE dib, const TW_IMAGEINFO&)
{
    const std::size_t size = TwainNativeImageSize(dib);
    CRasterSrc image;
    if (size == 0 || !image.AttachDIBHandle(dib, size))
        return;
    auto view = std::make_unique<CDrawingView>();
    if (!view->TakeRasterImage(image))
        return;
    AddChild(std::move(view), Lan("ScannedRaster", "Scanned Raster Image"));
}

bool CMainFrame::CanClose() { return true; }

void CMainFrame::closeEvent(QCloseEvent* event)
{
    m_scannerTimer->stop();
    QMainWindow::closeEvent(event);
}
