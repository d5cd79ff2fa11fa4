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
// the left or middle button pans; both save the box for Zoom Previous.
#include <QImage>
#include <QPoint>
#include <QWidget>
#include <memory>
#include <string>

#include "model/cdc_device.h"
#include "model/graph.h"
#include "model/undo.h"
#include "trace/trace_run.h"

class CRasterSrc;

class CDrawingView : public QWidget {
    Q_OBJECT
public:
    explicit CDrawingView(QWidget* parent = nullptr);
    ~CDrawingView() override;

    [[nodiscard]] CGraph& GetGraph() { return m_graph; }
    [[nodiscard]] CUndoList& GetRasterUndoList() { return *m_rasterUndo; }
    [[nodiscard]] CUndoList& GetVectorUndoList() { return *m_vectorUndo; }
    [[nodiscard]] CFrCDCDevice& GetDevice() { return m_device; }
    // The file the drawing came from or was last saved as; empty for a scan.
    [[nodiscard]] const std::string& GetPathName() const { return m_pathName; }

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

    // ---- commands ---------------------------------------------------------

    // Makes the raster one bit by the stored threshold and traces it under
    // the progress dialog with the stored options. A code of
    // RUN_NOT_REPORTED without a raster; `error` says why nothing ran.
    CTraceRunResult Trace(std::string& error);
    // ".lwt" saves the project; otherwise the vector format (ExportFormat
    // code; 0 takes it from the extension). False with the reason.
    [[nodiscard]] bool SaveAs(const std::string& path, int format, std::string& error);

    // The undo commands: the newest done record of the list is taken back,
    // the oldest undone one applied again. The vector commands clear the
    // selection first. False when there was nothing to do or the step failed.
    bool UndoVector();
    bool RedoVector();
    bool UndoRaster();
    bool RedoRaster();

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
    // Runs a pass now when one is due and answers the picture the window
    // shows (window-sized, opaque).
    const QImage& RenderedImage();
    [[nodiscard]] bool IsTracing() const { return m_tracing; }

signals:
    // Status texts for the main frame (zoom limits, trace results).
    void statusText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void FitDeviceToWindow();
    // The extents box on the view, nothing saved for Zoom Previous.
    bool FitExtents();
    bool RunPass();
    void AfterLoad(const std::string& path);

    CGraph m_graph;
    // Made right after the drawing, which keeps pointers to them; released
    // before it.
    std::unique_ptr<CUndoList> m_rasterUndo;
    std::unique_ptr<CUndoList> m_vectorUndo;
    CFrCDCDevice m_device;
    std::string m_pathName;
    QImage m_picture;
    bool m_passDue = true;
    bool m_tracing = false;
    bool m_followExtents = false;
    bool m_panning = false;
    bool m_panPushed = false;
    QPoint m_panLast;
};
