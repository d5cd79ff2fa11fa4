#pragma once
// CMainFrame: the desktop's main window. A multiple-document area whose child
// windows each show one drawing (CDrawingView), the status bar that shows
// the status texts of the core, the commands that open, trace and save
// drawings, and the main frame's part of the scanner client.
//
// Status texts reach the frame two ways, both shown on the user-interface
// thread: WM_APP_STATUSTEXT sent to its receiver (GetStatusWindow, installed
// as the main status window of model/undo.h), and the status-text hook of
// platform/message_box.h, which any thread may call.
//
// The property dock shows the rows of the active window's drawing (its
// selection's information lines and rows when something is selected) and
// applies edits to it with undo; with no window it is empty.
//
// Scanner: the frame is the TWAIN client. StartScanner runs the client's
// start-up on a thread of its own (joined when the frame goes); while a
// source is enabled a timer polls it, and each image it delivers opens a
// child window of its own.
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/window_messages.h"
#include "raster/twain.h"
#include "ui/drawing_view.h"

class CPropertyListWidget;
struct CPropertyRow;
class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QMdiArea;
class QMdiSubWindow;
class QScrollArea;
class QTimer;

// ---- process-wide start-up values -----------------------------------------

// Reads the platform code once and builds the program's display name (handed
// to the scanner client as its product name). Call once, after the
// QApplication exists and before any frame starts the scanner.
void InitApplicationShell();
// The platform code read at start-up (raster/raster_display.h codes);
// kPlatformUnknown before InitApplicationShell.
[[nodiscard]] int GetShellPlatformCode();
// The program's display name as built at start-up.
[[nodiscard]] const std::string& GetProgramDisplayName();
// The Open dialog's filters: everything that opens (projects, DXF and the
// raster types the reader takes), then each kind alone, then all files.
[[nodiscard]] QString OpenFileFilter();
// Routes message boxes of the core to Qt dialogs over the active window.
void InstallDesktopMessageBox();
// The start-up the desktop shares with the command: the locale's separators,
// the user's language file and the stored tracing options; and the folder
// chooser the core asks through BrowseForFolder. Before any window is made.
void InitDesktopSettings();
class CMainFrame;
// The program's start-up once the application object exists: the shell's
// values, the desktop message boxes and the shared settings (language,
// locale, tracing options), all before the main frame is made; then the
// frame is shown, the scanner client started and each file opened.
std::unique_ptr<CMainFrame> StartDesktop(const QStringList& files);
// What a scanner's condition code says to the user; empty for success.
[[nodiscard]] std::string ScannerFailureText(TW_UINT16 condition);
// A folder chooser: the chosen folder, or "" when cancelled. The folder it
// opens in and the one the user is on show as status texts.
[[nodiscard]] std::string BrowseForFolderWithDialog(QWidget* parent, const std::string& title,
                                                    const std::string& start);

class CMainFrame : public QMainWindow, public CTwain {
    Q_OBJECT
public:
    // How often an enabled scanner source is asked for its events.
    static constexpr int kScannerPollMs = 50;
    // The most information lines the panel shows of a selection: a large
    // one is told by a count instead.
    static constexpr int kSelectionInfoLines = 200;

    explicit CMainFrame(QWidget* parent = nullptr);
    // Stops polling, waits for the scanner start-up and releases the client
    // before the status receiver closes.
    ~CMainFrame() override;

    // ---- child windows --------------------------------------------------

    // A new, empty child window with that title, shown and active.
    CDrawingView* NewDrawingWindow(const QString& title);
    // Opens a drawing by its extension (.lwt project, .dxf, else a raster
    // image) in a new child window titled with the file name; each page of a
    // multi-page TIFF a.tif opens in a window of its own, a_0.tif, a_1.tif,
    // ... Answers the (last) window opened, or null, with the reason shown,
    // when the file does not load.
    CDrawingView* OpenFile(const std::string& path);
    [[nodiscard]] CDrawingView* ActiveView() const;
    [[nodiscard]] QMdiArea* MdiArea() const { return m_mdi; }
    [[nodiscard]] QDockWidget* PropertyDock() const { return m_propertyDock; }
    [[nodiscard]] CPropertyListWidget* PropertyList() const { return m_properties; }
    // The selection's information lines above the rows (empty without one).
    [[nodiscard]] QLabel* SelectionInfo() const { return m_selectionInfo; }
    // Fills the property list again from the active view's drawing.
    void RefillProperties();

    // ---- commands on the active view --------------------------------------

    // Traces the active drawing under the progress dialog; false without a
    // view or when nothing was kept.
    bool TraceActive();
    // Saves the active drawing: a project for ".lwt", else the vector format
    // (an ExportFormat code, or 0 for the one the extension names). False
    // with the reason shown.
    bool SaveActive(const std::string& path, int format = 0);

    // ---- status text ------------------------------------------------------

    // The receiver of WM_APP_STATUSTEXT; pumped from the frame's event loop.
    [[nodiscard]] HWND GetStatusWindow() const;
    // Shows the text in the status bar (user-interface thread only).
    void ShowStatus(const QString& text);

    // ---- scanner ----------------------------------------------------------

    // Starts the client on a thread of its own, or on the user-interface
    // thread when the platform code names the old platform family.
    void StartScanner();
    bool SelectScannerSource();
    // Enables the source with its own interface and starts polling it.
    bool AcquireFromScanner();
    [[nodiscard]] bool IsPollingScanner() const;

    // CTwain, as the frame overrides it: every image is transferred, each
    // opens a child window titled "Scanned Raster Image", and the source may
    // always close after the last one.
    int ShouldTransfer(const TW_IMAGEINFO& info) override;
    void CopyImage(TW_HANDLE dib, const TW_IMAGEINFO& info) override;
    bool CanClose() override;

protected:
    // Asks each window with unsaved changes; a cancel keeps everything open.
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    class CStatusReceiver;
    struct CWakeTarget;

    // OpenFile for a raster file: a window per page it holds.
    CDrawingView* OpenRasterFile(const std::string& path);
    // Puts the view in a new child window, maximized and active.
    CDrawingView* AddChild(std::unique_ptr<CDrawingView> view, const QString& title);
    void CreateActions();
    // The Draw and Snap menus and toolbars (main_window_draw.cpp).
    void CreateDrawActions();
    // The View menu's switches of what the drawing shows.
    void CreateDisplayActions(QMenu* view);
    QAction* CreateZoomWindowAction();
    // Enables them with a view and shows its snap modes.
    void UpdateDrawActions();
    void CreatePropertyDock();
    // Shows the rows of that view's drawing (none for null) and binds the
    // list's edits to it.
    void ShowPropertiesOf(CDrawingView* view);
    // The information lines of the selection, kSelectionInfoLines at most,
    // then the count of what they leave out.
    static QString SelectionInfoText(CGraph& drawing);
    int ApplyPropertyRow(int row, int value, const std::string& text, CPropertyRow* record);
    void UpdateActions();
    void OnOpen();
    void OnSaveAs();
    void OnReplaceColor();
    // Lists what a file's import passed over.
    void ShowImportWarnings(const std::string& path, const std::vector<std::string>& warnings);
    void OnTrace();
    void OnZoomExtents();
    // The commands on the selection (Edit menu) and Save Raster (File menu).
    void CreateSelectionActions(QMenu* edit);
    void OnDeleteSelection();
    void OnExplode();
    void OnSeparateByWidth();
    void OnSaveRaster();
    // Shows the hint of the command id in the status bar while hovered.
    static void SetHint(QAction* action, unsigned id);
    void OnSelectSource();
    void OnAcquire();
    void OnScannerTimer();
    void PumpStatusMessages();

    QMdiArea* m_mdi = nullptr;
    QDockWidget* m_propertyDock = nullptr;
    CPropertyListWidget* m_properties = nullptr;
    // The view whose rows the list shows.
    QPointer<CDrawingView> m_propertyView;
    QTimer* m_scannerTimer = nullptr;
    // Images the running acquisition has delivered.
    int m_scannedImages = 0;
    QAction* m_saveCurrentAction = nullptr;
    QAction* m_saveAction = nullptr;
    QAction* m_traceAction = nullptr;
    QAction* m_zoomAction = nullptr;
    QAction* m_zoomPreviousAction = nullptr;
    QAction* m_undoAction = nullptr;
    QAction* m_redoAction = nullptr;
    QAction* m_rasterUndoAction = nullptr;
    QAction* m_rasterRedoAction = nullptr;
    QAction* m_selectSourceAction = nullptr;
    QAction* m_acquireAction = nullptr;
    QAction* m_replaceColorAction = nullptr;
    QAction* m_saveRasterAction = nullptr;
    std::vector<QAction*> m_selectionActions;
    // The selection's information lines, above its rows, in a scroll area.
    QLabel* m_selectionInfo = nullptr;
    QScrollArea* m_selectionScroll = nullptr;
    std::vector<QAction*> m_rasterToolActions;
    // Draw and snap actions, enabled with a view.
    std::vector<QAction*> m_drawActions;
    QAction* m_gridAction = nullptr;
    QAction* m_gridSnapAction = nullptr;
    QAction* m_orthoAction = nullptr;
    QAction* m_objectSnapAction = nullptr;
    QAction* m_showRasterAction = nullptr;
    QAction* m_showVectorsAction = nullptr;
    QAction* m_layerVisibleAction = nullptr;
    std::vector<QAction*> m_snapModeActions;
    RasterTool m_rasterTool = RasterTool::None;

    std::shared_ptr<CWakeTarget> m_wake;
    std::unique_ptr<CStatusReceiver> m_statusReceiver;
    HWND m_previousStatusWindow = nullptr;
    StatusTextHook m_previousStatusHook;
    // What ShowStatus showed last; a hint shows over it until it ends.
    QString m_statusText;
};
