#pragma once
// CDrawingView: the child window of one drawing. It owns the drawing (its
// raster entity included) and the drawing's two undo lists, and shows it
// through a drawing device: each pass draws the raster with the vectors on
// top into the device's back buffer, which is blitted onto a pixel canvas
// and painted from there. Passes run only when the drawing, the view box or
// the window size changed; repaints reuse the last picture.
//
// While a trace runs on the drawing the worker owns it: the view then draws
// nothing new and ignores zoom and pan until the run has ended.
//
// Navigation: the wheel zooms about the point under the pointer, a drag with
// the middle button pans; both save the box for Zoom Previous. A new window
// size keeps the scale and the point under the pointer (or the centre); only
// a drawing just loaded and not yet shown fits its extents to it.
//
// Selection (view_selection.cpp): with no command or raster tool active the
// left button selects. A click picks what lies within kPickBoxPixels of the
// pointer and replaces the selection (empty space clears it); Shift+click
// adds what it picks or, when all of that is selected, takes it out. A drag
// to the right selects what lies wholly inside the box (window), a drag to
// the left what crosses it (crossing); the box is rubber-banded meanwhile.
// Esc clears the selection.
//
// Raster tools take the left button: the brush paints while it is held, a
// window is dragged from corner to corner, a polygon gets a corner per click
// and is filled on a right click or a double click (Esc drops it). Every
// edit goes on the raster undo list.
#include <QImage>
#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/colorref.h"

#include "model/cdc_device.h"
#include "model/graph.h"
#include "model/undo.h"
#include "trace/trace_run.h"
#include "ui/view_commands.h"

class CPixelDC;
class CRasterSrc;
class QPainter;

// Asks for a file to save a drawing in, one filter per format (the project
// first). False when cancelled; else the path (with the filter's extension
// when it had none) and the format code (0: by the extension).
bool AskSavePath(QWidget* parent, const std::string& start, std::string& path, int& format);

// Whether a file opens as a raster image: anything but a project (.lwt) or
// a DXF file, by the extension in any case.
[[nodiscard]] bool IsRasterFileName(const std::string& path);

// The canvas as an opaque image of the same size.
void CopyCanvasToImage(const CPixelDC& canvas, QImage& image);

enum class RasterTool { None, EraseBrush, FillBrush, EraseWindow, FillWindow, ErasePolygon, FillPolygon };

class CDrawingView : public QWidget {
    Q_OBJECT
public:
    // Pixels around the pointer in which grips, object snap points and
    // picked segments are found.
    static constexpr double kPickPixels = 5.0;

    explicit CDrawingView(QWidget* parent = nullptr);
    ~CDrawingView() override;

    [[nodiscard]] CGraph& GetGraph() { return m_graph; }
    [[nodiscard]] CUndoList& GetRasterUndoList() { return *m_rasterUndo; }
    [[nodiscard]] CUndoList& GetVectorUndoList() { return *m_vectorUndo; }
    [[nodiscard]] CFrCDCDevice& GetDevice() { return m_device; }
    // The file the drawing came from or was last saved as; empty for a scan.
    [[nodiscard]] const std::string& GetPathName() const { return m_pathName; }
    // What the last DXF import passed over (empty for other loads).
    [[nodiscard]] const std::vector<std::string>& GetImportWarnings() const { return m_importWarnings; }

    // ---- loading ----------------------------------------------------------

    // Each replaces the drawing, zooms to its extents and keeps the path;
    // false with the reason in `error` (the drawing as it was for a project
    // or DXF file).
    [[nodiscard]] bool LoadRaster(const std::string& path, std::string& error);
    [[nodiscard]] bool LoadProject(const std::string& path, std::string& error);
    [[nodiscard]] bool LoadDXF(const std::string& path, std::string& error);
    // By the extension: ".lwt", ".dxf", anything else as a raster.
    [[nodiscard]] bool LoadFile(const std::string& path, std::string& error);
    // Moves the image into the drawing's raster at the origin (the image is
    // left empty), computes the histogram and zooms to the extents.
    [[nodiscard]] bool TakeRasterImage(CRasterSrc& image);
    // A loaded image as the drawing's raster, under the page's name, the
    // layers replaced by an empty "Trace" (as LoadRaster does).
    [[nodiscard]] bool TakeRasterPage(CRasterSrc& image, const std::string& name);

    // ---- commands ---------------------------------------------------------

    // Makes the raster one bit by the stored threshold and traces it under
    // the progress dialog with the stored options. A code of
    // RUN_NOT_REPORTED without a raster; `error` says why nothing ran.
    // The conversion to one bit goes on the raster undo list and the whole
    // trace on the vector list (the old layers come back with Undo).
    CTraceRunResult Trace(std::string& error);
    // ".lwt" saves the project; otherwise the vector format (ExportFormat
    // code; 0 takes it from the extension). False with the reason.
    [[nodiscard]] bool SaveAs(const std::string& path, int format, std::string& error);
    // SaveAs with a failure shown to the user; on success the window takes
    // the file's name. Only a project holds everything (the raster and the
    // settings too): only its save makes the drawing count as saved.
    bool SaveTo(const std::string& path, int format);
    // Saves to the project the drawing came from, else asks where; a raster
    // without vectors, which no project takes, is saved as a raster.
    bool Save();
    // The name the window shows, followed by "*" while the drawing holds
    // unsaved changes (updated with every redraw and every settings change).
    void SetTitle(const QString& name);
    // With unsaved changes, asks whether to save them (Yes, No, Cancel):
    // true when the window may close (saved or discarded), false when the
    // user cancelled or the save failed.
    bool MaybeSave();

    // The undo commands: the newest done record of the list is taken back,
    // the oldest undone one applied again. The vector commands clear the
    // selection first. The drawing counts as modified afterwards unless both
    // lists are back where the last load or save left them. False when there
    // was nothing to do or the step failed.
    bool UndoVector();
    bool RedoVector();
    bool UndoRaster();
    bool RedoRaster();

    // Writes the raster image as BMP (the one raster format written). False
    // with the reason shown. A drawing without vectors then counts as saved.
    bool SaveRasterTo(const std::string& path);
    // Asks where, then SaveRasterTo; false when cancelled or failed.
    bool SaveRaster();

    // ---- selection (view_selection.cpp) ------------------------------------

    // Half the side of the pick box, in window pixels.
    static constexpr int kPickBoxPixels = 4;
    // A click at a window pixel: replaces the selection by what it picks, or
    // with toggle set adds it or takes it out. True when the selection changed.
    bool PickAt(const QPoint& pixel, bool toggle);
    // A box between two window pixels, window or crossing by its direction;
    // add keeps what was selected. True when anything was added.
    bool SelectBox(const QPoint& from, const QPoint& to, bool add);
    void SelectAllEntities();
    // False when nothing was selected.
    bool ClearSelection();
    // The editing commands on the selection, each one vector undo step.
    bool DeleteSelection();
    // The selected polylines (all when nothing is selected); how many exploded.
    int ExplodeSelection();
    // Moves every entity to the layer of its width in the series of the
    // tracing options, with the whole drawing recorded for undo. False with
    // the reason in `error` when nothing changed.
    bool SeparateByWidth(std::string& error);

    // ---- raster editing ---------------------------------------------------

    // The tool the left button works with; a polygon in progress is dropped.
    void SetRasterTool(RasterTool tool);
    // What the fill tools paint (erasing paints the image's background).
    void SetFillColor(COLORREF color) { m_fillColor = color; }
    // The edits the tools make, in world points. The window is the box of
    // two opposite corners. A polygon that cannot be filled is reported
    // ("RasterPolygonError"); false when nothing changed.
    bool EditRasterWindow(const frDoublePoint& a, const frDoublePoint& b, bool fill);
    bool EditRasterPolygon(std::span<const frDoublePoint> points, bool fill);
    // A brush stroke: begun at a point, drawn on to the next ones, ended.
    bool BeginRasterBrush(const frDoublePoint& at, bool fill);
    bool ContinueRasterBrush(const frDoublePoint& to);
    bool EndRasterBrush();
    // Replaces a colour of the raster (more than 1 bit per pixel) within the
    // tolerance (squared colour distance), as one raster undo step. False
    // with the reason in `error`.
    bool ReplaceRasterColor(COLORREF from, COLORREF to, int tolerance, std::string& error);

    // ---- view -------------------------------------------------------------

    // The drawing and its raster fill the window (3 % margin). False when
    // nothing has extents.
    bool ZoomExtents();
    // Zooms about a window pixel (y down); false at the zoom limits.
    bool ZoomAt(const QPoint& pixel, bool zoomIn);
    // Moves the picture by a window-pixel offset (y down).
    void PanBy(const QPoint& pixels);
    bool ZoomPrevious();
    // The world point under a window pixel.
    [[nodiscard]] frDoublePoint PixelToWorld(const QPoint& pixel) const;
    // The drawing changed: the next repaint runs a pass.
    void InvalidateDrawing();
    // The drawing's content, settings or selection changed (an edit, a
    // trace, an undo or redo): redraws and announces drawingEdited.
    void NoteDrawingEdited();
    // Runs a pass now when one is due and answers the picture the window
    // shows (window-sized, opaque).
    const QImage& RenderedImage();
    [[nodiscard]] bool IsTracing() const { return m_tracing; }

    // ---- interactive commands (drawing_view_commands.cpp) -----------------

    // Starts a command; the one running is cancelled first. Its prompt goes
    // to the status bar.
    void StartCommand(ViewCommandKind kind);
    // Drops the running command and what it holds (Esc).
    void CancelCommand();
    [[nodiscard]] bool IsCommandActive() const { return m_command != nullptr; }
    // Shows the box of two opposite corners, saved for Zoom Previous; false
    // for a box without area.
    bool ZoomWindow(const frDoublePoint& a, const frDoublePoint& b);
    // Half the side of the pick box of grips, object snap and picks, in
    // world units.
    [[nodiscard]] double PickReach() const;
    void ShowStatus(const std::string& text);
    // What the status bar says once the running command is over, in place
    // of "Ready" (why nothing was drawn).
    void SetCommandNote(const std::string& text) { m_commandNote = text; }

    // ---- settings switches and snapping (view_snap.cpp) ---------------------

    // Each switch of a setting the drawing stores is one vector undo step and
    // marks the drawing modified.
    // F7: shows or hides the grid.
    void ToggleGrid();
    // F9: points snap to the grid nodes, the view's own switch. Only a drawn
    // grid has nodes to snap to: F9 shows the grid, and grid snap counts as
    // off while the grid is hidden (by F7 or an undo), as its menu shows.
    void ToggleGridSnap();
    [[nodiscard]] bool GetGridSnap() const { return m_gridSnap && m_graph.GetGridShown(); }
    // F8: each next point lies square to the last in the snap frame.
    void ToggleOrtho();
    void SetObjectSnapOn(bool on);
    // Adds or removes one SnapMode bit of the object snap mask.
    void SetObjectSnapMode(std::int32_t bit, bool on);
    // The snap frame at a base point, its x axis towards a second point (the
    // angle kept when the two coincide).
    void SetSnapFrame(const frDoublePoint& base, const frDoublePoint& alongX);
    // The drawing's display switches, and the current layer's visibility
    // (hiding it clears the selection).
    void ToggleShowRaster();
    void ToggleShowVectors();
    void ToggleCurrentLayerVisible();
    // The point a click at the pixel gives the running command: object
    // snap first, else the grid, then ortho. The kind found goes to *kind.
    [[nodiscard]] frDoublePoint SnapPixel(const QPoint& pixel, std::int32_t* kind);

signals:
    // Status texts for the main frame (zoom limits, trace results).
    void statusText(const QString& text);
    // What the drawing holds or has selected may have changed: the frame's
    // property list fills its rows again.
    void drawingEdited();
    // A switch of the settings above changed (also by an undo or redo): the
    // menus follow.
    void settingsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void FitDeviceToWindow();
    // A new window size at the same scale, by the pointer or the centre: a
    // panel opening beside the view moves nothing the user is looking at.
    void KeepScaleInNewSize();
    // The extents box on the view, nothing saved for Zoom Previous.
    bool FitExtents();
    bool RunPass();
    void AfterLoad(const std::string& path);
    // The window pixel of a world point.
    [[nodiscard]] QPoint WorldToPixel(const frDoublePoint& p) const;
    // The colour of a fill or erase in the form the image takes it.
    [[nodiscard]] DWORD EditColor(bool fill) const;
    void AfterRasterEdit();
    void AfterRasterStep(bool done);
    bool RasterToolPress(QMouseEvent* event);
    bool RasterToolMove(QMouseEvent* event);
    bool RasterToolRelease(QMouseEvent* event);
    void FinishPolygon();
    void PaintToolFeedback(QPainter& painter);
    // A vector edit happened: marked modified, redrawn.
    void AfterVectorEdit();
    // Makes the change and pushes its record as one undo step; false, nothing
    // changed, without a record (memory short) or while a trace runs.
    bool PushSettingsChange(std::unique_ptr<CUndoItem> item, const std::function<void()>& change);
    // The same with a record of the drawing's settings named by the key.
    bool ChangeSettings(const char* key, const char* english, const std::function<void()>& change);
    // Both undo lists stand at their saved marks: the drawing is as the
    // file it was loaded from or saved to holds it.
    [[nodiscard]] bool IsAtSavedState() const;
    void MarkSavedState();
    // The title follows the modified flag; a change made where the lists
    // stand at their saved marks, which no list recorded, voids the marks.
    void FollowModified();
    void UpdateTitle();
    void AfterUndoStep(bool done);
    bool SelectionPress(QMouseEvent* event);
    bool SelectionMove(QMouseEvent* event);
    bool SelectionRelease(QMouseEvent* event);
    void PaintSelectionBand(QPainter& painter);
    // Copies the device's buffer to the picture the window shows.
    bool PublishPicture();

    // The hooks of the event handlers: true when the command (or a grip)
    // took the event.
    bool CommandPress(QMouseEvent* event);
    bool CommandMove(QMouseEvent* event);
    bool CommandRelease(QMouseEvent* event);
    bool CommandKey(QKeyEvent* event);
    void StartCommand(std::unique_ptr<CViewCommand> command);
    void PickPoint(const QPoint& pixel);
    void EndCommand();
    // Erases the feedback, runs the change and draws the feedback again,
    // straight on the shown picture; when a pass is due it only changes.
    void ChangeFeedback(const std::function<void()>& change);
    // The band and the snap marker in XOR.
    void DrawFeedback(CViewFeedback& feedback);
    // (view_grips.cpp) The grip under the pixel, or null.
    [[nodiscard]] CGripRecord* GripAt(const QPoint& pixel) const;
    bool StartGripMove(const QPoint& pixel);
    void TrackHover(const QPoint& pixel);

    CGraph m_graph;
    // Made right after the drawing, which keeps pointers to them; released
    // before it.
    std::unique_ptr<CUndoList> m_rasterUndo;
    std::unique_ptr<CUndoList> m_vectorUndo;
    CFrCDCDevice m_device;
    std::string m_pathName;
    QString m_title;
    std::vector<std::string> m_importWarnings;
    QImage m_picture;
    bool m_passDue = true;
    bool m_tracing = false;
    bool m_followExtents = false;
    bool m_panning = false;
    bool m_panPushed = false;
    QPoint m_panLast;

    RasterTool m_tool = RasterTool::None;
    COLORREF m_fillColor = RGB(0, 0, 0);
    bool m_brushing = false;
    bool m_dragging = false;
    frDoublePoint m_dragStart;
    std::vector<frDoublePoint> m_polygon;
    QPoint m_pointer;

    // A left press with no tool: a pick when released near where it began,
    // else a selection box.
    bool m_selecting = false;
    bool m_selectAdds = false;
    QPoint m_selectFrom;
    QPoint m_selectTo;
    std::unique_ptr<CViewCommand> m_command;
    bool m_gridSnap = false;
    std::int32_t m_markerKind = 0;  // the snap marker shown, 0 for none
    QPoint m_markerPixel;
    QPoint m_commandPress;  // where the left press of a grip move or a command was
    bool m_commandPressed = false;
    std::string m_commandNote;
};
