// The main frame: child windows of drawings, the status bar fed by the
// core's status texts, the file and trace commands (the scanner's in
// main_window_scanner.cpp).
#include "ui/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollArea>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QThread>
#include <QVBoxLayout>
#include <QTimer>
#include <mutex>
#include <vector>

#include "export/export_format.h"
#include "model/command_hints.h"
#include "model/file_paths.h"
#include "model/graph.h"
#include "model/property_list.h"
#include "model/text_table.h"
#include "model/undo.h"
#include "model/utilities.h"
#include "platform/locale_separators.h"
#include "platform/system.h"
#include "raster/raster_display.h"
#include "raster/raster_entity.h"
#include "raster/raster_file.h"
#include "raster/raster_src.h"
#include "trace/trace_option.h"
#include "ui/color_picker.h"
#include "ui/drawing_view.h"
#include "ui/property_list_widget.h"

namespace {

int g_platformCode = kPlatformUnknown;
// Wide enough for a row's name beside a colour name.
constexpr int kPropertyListMinWidth = 240;
std::string g_displayName = "Lineweft";

QString Lan(const char* key, const char* english) { return QString::fromUtf8(GetLanString(key, english)); }

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

}  // namespace

// ---- process-wide start-up values -------------------------------------------

QString OpenFileFilter()
{
    // The image library's names for the five types the raster reader takes.
    const QString rasters = "*.bmp *.jpg *.jpeg *.jpe *.jif *.pcx *.tga *.targa *.tif *.tiff";
    return Lan("OpenFilter", "Drawings and rasters") + " (*.lwt *.dxf " + rasters + ");;" +
           Lan("RasterFilter", "Raster images") + " (" + rasters + ");;" + Lan("ProjectFilter", "Lineweft project") +
           " (*.lwt);;" + Lan("DxfFilter", "DXF drawing") + " (*.dxf);;" + Lan("AllFilesFilter", "All files") + " (*)";
}

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

std::string BrowseForFolderWithDialog(QWidget* parent, const std::string& title, const std::string& start)
{
    QFileDialog dialog(parent, QString::fromUtf8(title), QString::fromUtf8(start));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // The status bar follows the folder the user is on.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog,
                     [](const QString& path) { ShowStatusText(path.toStdString()); });
    QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog,
                     [](const QString& path) { ShowStatusText(path.toStdString()); });
    ShowStatusText(start);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? std::string() : chosen.front().toStdString();
}

void InitDesktopSettings()
{
    InitLocaleSeparators();
    std::string why;
    if (!LoadUserLanguageFile(&why))
        ShowMessageBox(why);
    // The options set in earlier sessions.
    GetTraceOption().LoadFromRegistry();
    // The core's owner is a window handle of its own: the dialog goes over
    // the active window instead.
    SetFolderBrowser([](void*, const std::string& title, const std::string& start) {
        return BrowseForFolderWithDialog(QApplication::activeWindow(), title, start);
    });
}

std::unique_ptr<CMainFrame> StartDesktop(const QStringList& files)
{
    InitApplicationShell();
    InstallDesktopMessageBox();
    InitDesktopSettings();
    auto frame = std::make_unique<CMainFrame>();
    frame->show();
    frame->StartScanner();
    for (const QString& file : files)
        frame->OpenFile(file.toStdString());
    return frame;
}

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

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent), m_wake(std::make_shared<CWakeTarget>())
{
    setWindowTitle(QString::fromUtf8(g_displayName));
    m_mdi = new QMdiArea(this);
    setCentralWidget(m_mdi);
    ShowStatus(Lan("Ready", "Ready"));
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

    CreatePropertyDock();
    CreateActions();
    connect(m_mdi, &QMdiArea::subWindowActivated, this, [this] {
        UpdateActions();
        RefillProperties();
    });
    UpdateActions();
}

CMainFrame::~CMainFrame()
{
    // The area announces its children's going while QWidget deletes them,
    // when this part of the frame is gone already.
    disconnect(m_mdi, nullptr, this, nullptr);
    for (QMdiSubWindow* child : m_mdi->subWindowList())
        if (QWidget* view = child->widget())
            disconnect(view, nullptr, this, nullptr);
    m_properties->SetApplyHandler(nullptr);
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

void CMainFrame::ShowStatus(const QString& text)
{
    m_statusText = text;
    statusBar()->showMessage(text);
    // At once: a long load or save that reports its progress holds the
    // event loop until it ends.
    statusBar()->repaint();
}

bool CMainFrame::event(QEvent* event)
{
    // A hint ends with an empty tip when the pointer leaves its item: the
    // text it covered (a command's prompt) comes back instead of nothing.
    if (event->type() == QEvent::StatusTip && static_cast<QStatusTipEvent*>(event)->tip().isEmpty()) {
        statusBar()->showMessage(m_statusText);
        return true;
    }
    return QMainWindow::event(event);
}

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
    m_saveCurrentAction = file->addAction(Lan("MenuSave", "&Save"), QKeySequence::Save, this, [this] {
        if (CDrawingView* view = ActiveView())
            view->Save();
    });
    m_saveAction = file->addAction(Lan("MenuSaveAs", "Save &As..."), QKeySequence::SaveAs, this, &CMainFrame::OnSaveAs);
    m_saveRasterAction = file->addAction(Lan("MenuSaveRaster", "Save &Raster..."), this, &CMainFrame::OnSaveRaster);
    file->addSeparator();
    m_selectSourceAction =
        file->addAction(Lan("MenuSelectSource", "Select &Source..."), this, &CMainFrame::OnSelectSource);
    m_acquireAction = file->addAction(Lan("MenuAcquire", "&Acquire..."), this, &CMainFrame::OnAcquire);
    file->addSeparator();
    QAction* exitAction = file->addAction(Lan("MenuExit", "E&xit"), QKeySequence::Quit, this, &QWidget::close);
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
    CreateSelectionActions(edit);
    connect(edit, &QMenu::aboutToShow, this, [this] { UpdateActions(); });

    QMenu* view = menuBar()->addMenu(Lan("MenuView", "&View"));
    view->addAction(CreateZoomWindowAction());
    m_zoomAction = view->addAction(Lan("MenuZoomExtents", "Zoom &Extents"), this, &CMainFrame::OnZoomExtents);
    m_zoomPreviousAction = view->addAction(Lan("MenuZoomPrevious", "Zoom &Previous"), this, [this] {
        if (CDrawingView* active = ActiveView())
            active->ZoomPrevious();
    });
    view->addSeparator();
    CreateDisplayActions(view);
    view->addSeparator();
    view->addAction(m_propertyDock->toggleViewAction());

    QMenu* raster = menuBar()->addMenu(Lan("MenuRaster", "&Raster"));
    // One tool at a time takes the left button; "Select" gives it back to selecting.
    auto* tools = new QActionGroup(this);
    const struct {
        const char* key;
        const char* english;
        RasterTool tool;
        unsigned hint;
    } toolItems[] = {
        {"MenuRasterSelect", "&Select", RasterTool::None, 32789},
        {"MenuErasePoint", "&Erase by Point", RasterTool::EraseBrush, 32817},
        {"MenuEraseRect", "Erase by &Window", RasterTool::EraseWindow, 32818},
        {"MenuErasePolygon", "Erase by P&olygon", RasterTool::ErasePolygon, 32819},
        {"MenuFillPoint", "Fill by Poi&nt", RasterTool::FillBrush, 32840},
        {"MenuFillRect", "Fill by Win&dow", RasterTool::FillWindow, 32838},
        {"MenuFillPolygon", "&Fill by Polygon", RasterTool::FillPolygon, 32839},
    };
    for (const auto& item : toolItems) {
        QAction* action = raster->addAction(Lan(item.key, item.english));
        SetHint(action, item.hint);
        action->setCheckable(true);
        action->setChecked(item.tool == RasterTool::None);
        action->setData(static_cast<int>(item.tool));
        tools->addAction(action);
        m_rasterToolActions.push_back(action);
    }
    connect(tools, &QActionGroup::triggered, this, [this](QAction* action) {
        m_rasterTool = static_cast<RasterTool>(action->data().toInt());
        for (QMdiSubWindow* child : m_mdi->subWindowList())
            if (auto* view = qobject_cast<CDrawingView*>(child->widget()))
                view->SetRasterTool(m_rasterTool);
    });
    raster->addSeparator();
    m_replaceColorAction =
        raster->addAction(Lan("MenuReplaceColor", "&Replace Colour..."), this, &CMainFrame::OnReplaceColor);

    QMenu* tools2 = menuBar()->addMenu(Lan("MenuTools", "&Tools"));
    m_traceAction = tools2->addAction(Lan("MenuTrace", "&Trace"), this, &CMainFrame::OnTrace);
    CreateDrawActions();

    // The command ids of the hint table.
    const std::pair<QAction*, unsigned> hints[] = {
        {m_saveCurrentAction, 32783},
        {m_saveAction, 32783},
        {m_saveRasterAction, 32782},
        {m_selectSourceAction, 32773},
        {m_acquireAction, 32774},
        {exitAction, 57665},
        {m_undoAction, 32857},
        {m_redoAction, 32858},
        {m_rasterUndoAction, 32859},
        {m_rasterRedoAction, 32860},
        {m_zoomAction, 32791},
        {m_zoomPreviousAction, 32790},
        {m_propertyDock->toggleViewAction(), 32824},
        {m_replaceColorAction, 32845},
        {m_traceAction, 32807},
    };
    for (const auto& [action, id] : hints)
        SetHint(action, id);
    SetHint(file->actions().front(), 32771);
}

// The status-bar hint of a command id, when the hint table has one.
void CMainFrame::SetHint(QAction* action, unsigned id)
{
    const std::string hint = GetCommandHint(id);
    if (!hint.empty())
        action->setStatusTip(QString::fromUtf8(hint));
}

// ---- commands on the selection ----------------------------------------------------

void CMainFrame::CreateSelectionActions(QMenu* edit)
{
    edit->addSeparator();
    const struct {
        const char* key;
        const char* english;
        QKeySequence keys;
        void (CMainFrame::*slot)();
        unsigned hint;
    } items[] = {
        {"MenuSelectAll", "Select &All", QKeySequence::SelectAll, nullptr, 32809},
        {"MenuDeselectAll", "Dese&lect All", QKeySequence(), nullptr, 32810},
        {"MenuDelete", "&Delete", QKeySequence::Delete, &CMainFrame::OnDeleteSelection, 32811},
        {"MenuExplode", "E&xplode", QKeySequence(), &CMainFrame::OnExplode, 32813},
        {"MenuSeparateLayers", "Separate by &Width", QKeySequence(), &CMainFrame::OnSeparateByWidth, 32814},
    };
    for (const auto& item : items) {
        QAction* action = edit->addAction(Lan(item.key, item.english));
        action->setShortcut(item.keys);
        SetHint(action, item.hint);
        if (item.slot != nullptr)
            connect(action, &QAction::triggered, this, item.slot);
        m_selectionActions.push_back(action);
    }
    connect(m_selectionActions[0], &QAction::triggered, this, [this] {
        if (CDrawingView* view = ActiveView())
            view->SelectAllEntities();
    });
    connect(m_selectionActions[1], &QAction::triggered, this, [this] {
        if (CDrawingView* view = ActiveView())
            view->ClearSelection();
    });
}

void CMainFrame::OnDeleteSelection()
{
    if (CDrawingView* view = ActiveView())
        view->DeleteSelection();
}

void CMainFrame::OnExplode()
{
    if (CDrawingView* view = ActiveView())
        ShowStatus(Lan("ExplodedMsg", "Exploded polylines: ") + QString::number(view->ExplodeSelection()));
}

void CMainFrame::OnSeparateByWidth()
{
    CDrawingView* view = ActiveView();
    if (view == nullptr)
        return;
    std::string error;
    if (!view->SeparateByWidth(error) && !error.empty())
        ShowMessageBox(error, g_displayName, MB_OK | MB_ICONINFORMATION);
}

void CMainFrame::OnSaveRaster()
{
    CDrawingView* view = ActiveView();
    if (view != nullptr && view->SaveRaster())
        ShowStatus(Lan("RasterSavedMsg", "Raster saved"));
}

void CMainFrame::UpdateActions()
{
    CDrawingView* view = ActiveView();
    // Undo and redo stay enabled with a view: their keys must work without
    // the menu having been opened, and an empty list makes them do nothing.
    for (QAction* action : {m_saveCurrentAction, m_saveAction, m_traceAction, m_zoomAction, m_zoomPreviousAction,
                            m_undoAction, m_redoAction, m_rasterUndoAction, m_rasterRedoAction, m_replaceColorAction})
        action->setEnabled(view != nullptr);
    for (QAction* action : m_rasterToolActions)
        action->setEnabled(view != nullptr);
    for (QAction* action : m_selectionActions)
        action->setEnabled(view != nullptr);
    const CRaster* raster = view ? view->GetGraph().GetRaster() : nullptr;
    m_saveRasterAction->setEnabled(raster != nullptr && !raster->GetImage().IsEmpty());
    m_selectSourceAction->setEnabled(IsReady());
    m_acquireAction->setEnabled(IsReady() && !IsSourceEnabled());
    UpdateDrawActions();
}

// ---- property list ----------------------------------------------------------------

void CMainFrame::CreatePropertyDock()
{
    m_propertyDock = new QDockWidget(Lan("PropertiesTitle", "Properties"), this);
    m_propertyDock->setObjectName(QStringLiteral("properties"));
    auto* panel = new QWidget(m_propertyDock);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    // The lines scroll: however many there are, they ask the frame for no
    // room of their own.
    m_selectionScroll = new QScrollArea(panel);
    m_selectionScroll->setWidgetResizable(true);
    m_selectionInfo = new QLabel(m_selectionScroll);
    m_selectionInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_selectionInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_selectionScroll->setWidget(m_selectionInfo);
    m_selectionScroll->hide();
    layout->addWidget(m_selectionScroll);
    m_properties = new CPropertyListWidget(panel);
    m_properties->setMinimumWidth(kPropertyListMinWidth);
    layout->addWidget(m_properties, 1);
    m_propertyDock->setWidget(panel);
    m_propertyDock->toggleViewAction()->setText(Lan("VectorMenuProperties", "&Properties"));
    addDockWidget(Qt::RightDockWidgetArea, m_propertyDock);
    // Until the user asks for it the drawings keep the whole area.
    m_propertyDock->hide();
    m_properties->SetApplyHandler([this](int row, int value, const std::string& text, CPropertyRow* record) {
        return ApplyPropertyRow(row, value, text, record);
    });
}

void CMainFrame::RefillProperties() { ShowPropertiesOf(ActiveView()); }

QString CMainFrame::SelectionInfoText(CGraph& drawing)
{
    constexpr auto kMost = static_cast<std::size_t>(kSelectionInfoLines);
    std::vector<std::string> lines;
    const std::size_t left = drawing.GetSelectionInfo(&lines, kMost);
    QStringList shown;
    for (std::size_t i = 0; i < lines.size() && i < kMost; ++i)
        shown << QString::fromUtf8(lines[i]);
    // Only an entity described alone runs past the bound.
    if (lines.size() > kMost)
        shown << Lan("SelectionMoreLinesMsg", "... and more lines: ") + QString::number(lines.size() - kMost);
    if (left > 0)
        shown << Lan("SelectionMoreEntitiesMsg", "... and more selected entities: ") + QString::number(left);
    return shown.join('\n');
}

void CMainFrame::ShowPropertiesOf(CDrawingView* view)
{
    m_propertyView = view;
    m_properties->RemoveAllRows();
    m_selectionInfo->clear();
    // While a trace runs the worker owns the drawing.
    if (view == nullptr || view->IsTracing())
        return;
    CGraph& drawing = view->GetGraph();
    if (!drawing.GetSelectSet().IsEmpty())
        m_selectionInfo->setText(SelectionInfoText(drawing));
    m_selectionScroll->setVisible(!m_selectionInfo->text().isEmpty());
    drawing.FillProperties(m_properties);
}

int CMainFrame::ApplyPropertyRow(int row, int value, const std::string& text, CPropertyRow* record)
{
    CDrawingView* view = m_propertyView;
    if (view == nullptr || view->IsTracing())
        return PROP_REFUSED;
    // The drawing records the change for undo; a layer move is done inside.
    CUndoList& undo = view->GetVectorUndoList();
    const CUndoItem* newest = undo.GetUndoItem();
    const int code = view->GetGraph().ApplyProperty(row, value, text, record);
    // A new undo step is a change to keep.
    if (undo.GetUndoItem() != newest)
        view->GetGraph().SetModified(true);
    if (code == PROP_GEOMETRY_CHANGED) {
        view->InvalidateDrawing();
        ShowPropertiesOf(view);
    } else if (code != PROP_REFUSED) {
        view->InvalidateDrawing();
    }
    return code;
}

// ---- child windows ----------------------------------------------------------------

CDrawingView* CMainFrame::AddChild(std::unique_ptr<CDrawingView> view, const QString& title)
{
    CDrawingView* shown = view.get();
    QMdiSubWindow* child = m_mdi->addSubWindow(view.release());
    child->setAttribute(Qt::WA_DeleteOnClose);
    shown->SetTitle(title);
    connect(shown, &CDrawingView::statusText, this, &CMainFrame::ShowStatus);
    connect(shown, &CDrawingView::drawingEdited, this, [this, shown] {
        if (shown == ActiveView())
            ShowPropertiesOf(shown);
    });
    shown->SetRasterTool(m_rasterTool);
    child->showMaximized();
    m_mdi->setActiveSubWindow(child);
    UpdateActions();
    return shown;
}

CDrawingView* CMainFrame::NewDrawingWindow(const QString& title)
{
    return AddChild(std::make_unique<CDrawingView>(), title);
}

namespace {
void ShowOpenFailure(const std::string& path, const std::string& error)
{
    std::string text = GetLanString("OpenFileFailMsg", "Cannot open ") + path;
    if (!error.empty())
        text += "\n" + error;
    ShowMessageBox(text, g_displayName, MB_OK | MB_ICONERROR);
}
}  // namespace

CDrawingView* CMainFrame::OpenFile(const std::string& path)
{
    if (IsRasterFileName(path))
        return OpenRasterFile(path);
    auto view = std::make_unique<CDrawingView>();
    std::string error;
    if (!view->LoadFile(path, error)) {
        ShowOpenFailure(path, error);
        return nullptr;
    }
    ShowStatus(QString::fromUtf8(path));
    CDrawingView* shown = AddChild(std::move(view), QString::fromUtf8(GetFileNameWithExt(path)));
    ShowImportWarnings(path, shown->GetImportWarnings());
    return shown;
}

CDrawingView* CMainFrame::OpenRasterFile(const std::string& path)
{
    std::vector<CRasterPage> pages;
    RasterLoadError why = RasterLoadError::kNone;
    std::string detail;
    if (!LoadRasterPages(path, pages, &why, &detail)) {
        std::string error = RasterLoadErrorText(why);
        if (!detail.empty())
            error += "\n" + detail;
        ShowOpenFailure(path, error);
        return nullptr;
    }
    ShowStatus(QString::fromUtf8(path));
    CDrawingView* shown = nullptr;
    for (CRasterPage& page : pages) {
        auto view = std::make_unique<CDrawingView>();
        if (!view->TakeRasterPage(*page.image, page.name)) {
            ShowOpenFailure(page.name, GetLanString("NoMemoryMsg", "Not enough memory to perform operation !"));
            continue;
        }
        shown = AddChild(std::move(view), QString::fromUtf8(GetFileNameWithExt(page.name)));
    }
    return shown;
}

void CMainFrame::ShowImportWarnings(const std::string& path, const std::vector<std::string>& warnings)
{
    if (warnings.empty())
        return;
    // A long list would not fit the screen; the count tells the rest.
    constexpr std::size_t kShownWarnings = 20;
    std::string text = GetLanString("ImportWarningsMsg", "Parts of the file were not imported: ") + path;
    for (std::size_t i = 0; i < warnings.size() && i < kShownWarnings; ++i)
        text += "\n" + warnings[i];
    if (warnings.size() > kShownWarnings)
        text += "\n" + GetLanString("ImportMoreWarningsMsg", "... and more: ") +
                std::to_string(warnings.size() - kShownWarnings);
    ShowMessageBox(text, g_displayName, MB_OK | MB_ICONWARNING);
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
    const bool kept = result.code == RUN_FINISHED || result.code == RUN_NO_MEMORY || result.code == RUN_FILL_FAILED ||
                      result.code == RUN_STOPPED;
    if (kept) {
        const int entities = view->GetGraph().GetEntityCount();
        ShowStatus(Lan("TraceDoneMsg", "Traced entities: ") + QString::number(entities) +
                   QString::asprintf(" (%.1f s)", result.elapsedMs / 1000.0));
    }
    if (result.code == RUN_FINISHED) {
        std::string text = GetLanString("MainTraceFinish", "Tracing finished. Elapsed time:");
        FormatDuration(result.elapsedMs / 1000, text);
        ShowMessageBox(text, g_displayName, MB_OK | MB_ICONINFORMATION);
    } else if (!error.empty()) {
        ShowMessageBox(error, g_displayName,
                       MB_OK | (result.code == RUN_STOPPED ? MB_ICONINFORMATION : MB_ICONWARNING));
    }
    UpdateActions();
    return kept;
}

bool CMainFrame::SaveActive(const std::string& path, int format)
{
    CDrawingView* view = ActiveView();
    if (view == nullptr)
        return false;
    if (!view->SaveTo(path, format))
        return false;
    ShowStatus(Lan("SavedMsg", "Saved ") + QString::fromUtf8(path));
    return true;
}

void CMainFrame::OnOpen()
{
    const QStringList paths =
        QFileDialog::getOpenFileNames(this, Lan("OpenTitle", "Open"), QString(), OpenFileFilter());
    for (const QString& path : paths)
        OpenFile(path.toStdString());
}

void CMainFrame::OnSaveAs()
{
    CDrawingView* view = ActiveView();
    if (view == nullptr)
        return;
    std::string path;
    int format = EXPORT_NONE;
    if (AskSavePath(this, view->GetPathName(), path, format))
        SaveActive(path, format);
}

void CMainFrame::OnReplaceColor()
{
    CDrawingView* view = ActiveView();
    CRaster* raster = view ? view->GetGraph().GetRaster() : nullptr;
    if (raster == nullptr || raster->GetImage().IsEmpty())
        return;
    if (raster->GetImage().GetBitCount() <= 1) {
        ShowMessageBox(GetLanString("ReplaceColorOneBitMsg", "A black and white raster has no colours to replace."),
                       g_displayName, MB_OK | MB_ICONINFORMATION);
        return;
    }
    COLORREF from = RGB(0, 0, 0), to = RGB(255, 255, 255);
    ShowStatus(Lan("PickColorFromMsg", "Pick the colour to replace."));
    if (!SelectColorFromRaster(&raster->GetImage(), &from, this))
        return;
    ShowStatus(Lan("PickColorToMsg", "Pick the colour to put in its place."));
    to = from;
    if (!SelectColorFromRaster(&raster->GetImage(), &to, this))
        return;
    bool accepted = false;
    const int tolerance = QInputDialog::getInt(this, Lan("RasterReplaceColor", "Replace color"),
                                               Lan("ReplaceColorToleranceMsg", "Tolerance (squared colour distance):"),
                                               0, 0, 9 * 255 * 255, 1, &accepted);
    if (!accepted)
        return;
    std::string error;
    if (!view->ReplaceRasterColor(from, to, tolerance, error))
        ShowMessageBox(error, g_displayName, MB_OK | MB_ICONWARNING);
}

void CMainFrame::OnTrace() { TraceActive(); }

void CMainFrame::OnZoomExtents()
{
    if (CDrawingView* view = ActiveView())
        view->ZoomExtents();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Each window with unsaved changes asks; a cancel keeps the frame open.
    for (QMdiSubWindow* child : m_mdi->subWindowList(QMdiArea::StackingOrder)) {
        if (!child->close()) {
            event->ignore();
            return;
        }
    }
    m_scannerTimer->stop();
    QMainWindow::closeEvent(event);
}
