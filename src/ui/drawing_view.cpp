// The child window of one drawing: loading, tracing, saving, and showing the
// drawing through its device with wheel zoom and drag pan.
#include "ui/drawing_view.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cctype>
#include <cstdint>

#include "export/export_format.h"
#include "export/vector_file.h"
#include "model/file_paths.h"
#include "model/text_table.h"
#include "platform/message_box.h"
#include "platform/pixel_dc.h"
#include "platform/settings_store.h"
#include "raster/raster_entity.h"
#include "raster/raster_file.h"
#include "raster/raster_src.h"
#include "trace/trace_option.h"
#include "ui/progress_dialog.h"

namespace {

std::string LowerExt(const std::string& path)
{
    std::string ext = GetFileExt(path);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string NoMemoryText() { return GetLanString("NoMemoryMsg", "Not enough memory to perform operation !"); }

// A project's load and save tell their caption and percent in the status bar.
void ShowFileProgress(const std::string& text, int percent)
{
    ShowStatusText(text + " " + std::to_string(percent) + "%");
}

}  // namespace

bool IsRasterFileName(const std::string& path)
{
    const std::string ext = LowerExt(path);
    return ext != ".lwt" && ext != ".dxf";
}

// Canvas words keep their top byte 0; an opaque Qt image wants it set.
void CopyCanvasToImage(const CPixelDC& canvas, QImage& image)
{
    const int width = canvas.Width(), height = canvas.Height();
    image = QImage(width, height, QImage::Format_RGB32);
    const std::uint32_t* source = canvas.Bits();
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        const std::uint32_t* from = source + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x)
            row[x] = 0xFF000000u | from[x];
    }
}

namespace {

// Where the preferences keep the undo depths.
QString Lan(const char* key, const char* english) { return QString::fromUtf8(GetLanString(key, english)); }

}  // namespace

bool AskSavePath(QWidget* parent, const std::string& start, std::string& path, int& format)
{
    // One filter per format, the project first; each remembers its code.
    struct Choice {
        QString filter;
        QString extension;
        int format;
    };
    std::vector<Choice> choices{{Lan("ProjectFilter", "Lineweft project") + " (*.lwt)", ".lwt", EXPORT_NONE}};
    for (int code = EXPORT_FORMAT_FIRST; code <= EXPORT_FORMAT_LAST; ++code) {
        if (!IsExportFormatAvailable(code))
            continue;
        const QString extension = QString::fromUtf8(ExportFormatExtension(code));
        choices.push_back({QString::fromUtf8(ExportFormatName(code)) + " (*" + extension + ")", extension, code});
    }
    QStringList filters;
    for (const Choice& choice : choices)
        filters << choice.filter;
    QString selected = choices.front().filter;
    QString chosen = QFileDialog::getSaveFileName(parent, Lan("SaveAsTitle", "Save As"), QString::fromStdString(start),
                                                  filters.join(";;"), &selected);
    if (chosen.isEmpty())
        return false;
    format = EXPORT_NONE;
    for (const Choice& choice : choices) {
        if (choice.filter != selected)
            continue;
        if (QFileInfo(chosen).suffix().isEmpty())
            chosen += choice.extension;
        format = choice.format;
        break;
    }
    // ".lwt" always saves the project, whatever filter was left selected.
    path = chosen.toStdString();
    return true;
}

CDrawingView::CDrawingView(QWidget* parent)
    : QWidget(parent), m_rasterUndo(std::make_unique<CUndoList>(ReadRasterUndoSteps())),
      m_vectorUndo(std::make_unique<CUndoList>(ReadVectorUndoSteps()))
{
    m_graph.SetUndoLists(m_rasterUndo.get(), m_vectorUndo.get());
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(64, 48);
    setFocusPolicy(Qt::WheelFocus);
    // Rubber bands and grip hovering follow the pointer with no button held.
    setMouseTracking(true);
    // The settings the project keeps change without a new picture.
    connect(this, &CDrawingView::settingsChanged, this, &CDrawingView::FollowModified);
    // An empty drawing is what a new window starts from.
    MarkSavedState();
}

CDrawingView::~CDrawingView() { m_graph.SetUndoLists(nullptr, nullptr); }

// ---- loading ----------------------------------------------------------------

void CDrawingView::AfterLoad(const std::string& path)
{
    m_pathName = path;
    m_importWarnings.clear();
    m_rasterUndo->DeleteAllItems();
    m_vectorUndo->DeleteAllItems();
    m_device.ZoomStack().ClearZoomStack();
    if (CRaster* raster = m_graph.GetRaster())
        raster->InvalidateDisplayCache();
    m_graph.SetModified(false);
    // A scan matches no file: no undo step leads back to a saved state.
    if (!path.empty())
        MarkSavedState();
    // A new window takes its size after the load: until the picture is first
    // shown, the extents follow the window's size.
    m_followExtents = FitExtents();
}

bool CDrawingView::LoadRaster(const std::string& path, std::string& error)
{
    // Read beside the drawing first: a refused file leaves it as it was and
    // the user learns why.
    CRasterSrc image;
    RasterLoadError why = RasterLoadError::kNone;
    // Only what this load reports may explain its failure.
    SetLastRasterLibraryMessage("");
    if (!image.Load(path, 0, &why)) {
        error = RasterLoadErrorText(why);
        const std::string& detail = GetLastRasterLibraryMessage();
        if (why == RasterLoadError::kDecodeFailed && !detail.empty())
            error += "\n" + detail;
        return false;
    }
    if (!TakeRasterPage(image, path)) {
        error = NoMemoryText();
        return false;
    }
    return true;
}

bool CDrawingView::TakeRasterPage(CRasterSrc& image, const std::string& name)
{
    m_graph.RemoveAllLayers();
    m_graph.SelectOrAddLayer("Trace");
    if (!TakeRasterImage(image))
        return false;
    m_pathName = name;
    MarkSavedState();
    return true;
}

bool CDrawingView::LoadProject(const std::string& path, std::string& error)
{
    if (!m_graph.LoadProject(path, ShowFileProgress, &error))
        return false;
    AfterLoad(path);
    return true;
}

bool CDrawingView::LoadDXF(const std::string& path, std::string& error)
{
    std::vector<std::string> warnings;
    if (!m_graph.ReadDXF(path, nullptr, &error, &warnings))
        return false;
    AfterLoad(path);
    m_importWarnings = std::move(warnings);
    return true;
}

bool CDrawingView::LoadFile(const std::string& path, std::string& error)
{
    const std::string ext = LowerExt(path);
    if (ext == ".lwt")
        return LoadProject(path, error);
    if (ext == ".dxf")
        return LoadDXF(path, error);
    return LoadRaster(path, error);
}

bool CDrawingView::TakeRasterImage(CRasterSrc& image)
{
    CRaster* raster = m_graph.GetRaster();
    if (raster == nullptr || image.IsEmpty() || !image.MoveTo(raster->GetImage()))
        return false;
    const BITMAPINFOHEADER* header = raster->GetImage().GetHeader();
    raster->SetResolution(header->biXPelsPerMeter > 0 ? static_cast<std::uint32_t>(header->biXPelsPerMeter) : 0,
                          header->biYPelsPerMeter > 0 ? static_cast<std::uint32_t>(header->biYPelsPerMeter) : 0);
    (void)raster->SetOrigin(0.0, 0.0);
    m_graph.ComputeRasterHistogram(nullptr);
    AfterLoad({});
    return true;
}

// ---- commands ---------------------------------------------------------------

CTraceRunResult CDrawingView::Trace(std::string& error)
{
    CRaster* raster = m_graph.GetRaster();
    if (raster == nullptr || raster->GetImage().IsEmpty()) {
        error = GetLanString("NoRasterMsg", "There is no raster image to trace.");
        return {};
    }
    const CTraceOption options = SnapshotTraceOption();
    CRasterSrc& image = raster->GetImage();
    if (image.GetBitCount() != 1) {
        if (image.GetBitCount() <= 8 && image.GetColorsUsed() < 2) {
            error = GetLanString("TraceTwoColorsMsg", "A raster needs at least two colours to be traced.");
            return {};
        }
        BYTE grey = options.i_Gray;
        if (options.b_AutoGray) {
            // A histogram without a valley (a blank page) keeps the stored level.
            const BYTE found = image.GetAutoThreshold();
            if (found != 0)
                grey = found;
        }
        raster->InvalidateDisplayCache();
        // A raster change like any other: Undo Raster brings the grey back.
        if (!PushRasterUndo(m_rasterUndo.get(), GetLanString("UndoConvertTo1Bit", "Convert raster to black and white"),
                            &image)) {
            error = NoMemoryText();
            return {};
        }
        if (!image.ConvertTo1Bit(grey)) {
            // The image is as it was; its copy on the list would undo nothing.
            (void)m_rasterUndo->UndoLast();
            error = NoMemoryText();
            return {};
        }
        m_graph.ComputeRasterHistogram(nullptr);
    }

    // The run replaces every layer: one record of the whole drawing keeps
    // the old layers, and the records before it stay valid behind it.
    auto whole = std::make_unique<CGraphUndoItem>(GetLanString("UndoTrace", "Trace"));
    const bool kept = whole->Init(&m_graph, CGraphUndoItem::KIND_DRAWING);

    // The worker owns the drawing until the dialog has ended.
    m_tracing = true;
    const CTraceRunResult result = TraceWithProgressDialog(this, &m_graph, options);
    m_tracing = false;
    // Without the copy the records of the old entities are void.
    if (!kept || !m_vectorUndo->PushItem(std::move(whole)))
        m_vectorUndo->DeleteAllItems();
    raster->InvalidateDisplayCache();
    m_graph.SetModified(true);
    NoteDrawingEdited();
    if (result.code != RUN_FINISHED)
        error = TraceResultText(result.code);
    return result;
}

bool CDrawingView::SaveAs(const std::string& path, int format, std::string& error)
{
    if (LowerExt(path) == ".lwt") {
        if (!m_graph.SaveProject(path, ShowFileProgress, &error))
            return false;
    } else {
        if (format == EXPORT_NONE)
            format = ExportFormatFromPath(path);
        if (format == EXPORT_NONE) {
            error = GetLanString("UnknownFormatMsg", "The file name names no output format: ") + path;
            return false;
        }
        if (!SaveVectorFile(m_graph, path, format, &error))
            return false;
    }
    m_pathName = path;
    return true;
}

bool CDrawingView::SaveTo(const std::string& path, int format)
{
    std::string error;
    if (!SaveAs(path, format, error)) {
        std::string text = GetLanString("SaveFileFailMsg", "Cannot save ") + path;
        if (!error.empty())
            text += "\n" + error;
        ShowMessageBox(text, QApplication::applicationDisplayName().toStdString(), MB_OK | MB_ICONERROR);
        return false;
    }
    if (LowerExt(path) == ".lwt") {
        m_graph.SetModified(false);
        MarkSavedState();
    }
    SetTitle(QString::fromUtf8(GetFileNameWithExt(path)));
    return true;
}

bool CDrawingView::Save()
{
    const CRaster* raster = m_graph.GetRaster();
    if (m_graph.IsEmpty() && raster != nullptr && !raster->GetImage().IsEmpty())
        return SaveRaster();
    if (LowerExt(m_pathName) == ".lwt")
        return SaveTo(m_pathName, EXPORT_NONE);
    // A raster or an import is not overwritten with a drawing unasked.
    std::string path;
    int format = EXPORT_NONE;
    const std::string start = m_pathName.empty() ? std::string() : ReplaceFileExt(m_pathName, ".lwt");
    return AskSavePath(this, start, path, format) && SaveTo(path, format);
}

bool CDrawingView::MaybeSave()
{
    if (m_tracing)
        return false;
    if (!m_graph.IsModified())
        return true;
    QString name = m_title;
    if (name.isEmpty())
        name = Lan("Untitled", "Untitled");
    const std::string text =
        GetLanString("SaveChangesMsg", "Save the changes to the drawing?") + "\n" + name.toStdString();
    switch (
        ShowMessageBox(text, QApplication::applicationDisplayName().toStdString(), MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES: return Save();
    case IDNO: return true;
    default: return false;
    }
}

void CDrawingView::closeEvent(QCloseEvent* event)
{
    if (MaybeSave())
        event->accept();
    else
        event->ignore();
}

void CDrawingView::AfterVectorEdit()
{
    m_graph.SetModified(true);
    NoteDrawingEdited();
}

void CDrawingView::SetTitle(const QString& name)
{
    m_title = name;
    UpdateTitle();
}

void CDrawingView::UpdateTitle()
{
    if (QWidget* child = parentWidget())
        child->setWindowTitle(m_graph.IsModified() ? m_title + "*" : m_title);
}

bool CDrawingView::IsAtSavedState() const { return m_rasterUndo->IsAtSavedMark() && m_vectorUndo->IsAtSavedMark(); }

void CDrawingView::MarkSavedState()
{
    m_rasterUndo->MarkSaved();
    m_vectorUndo->MarkSaved();
}

void CDrawingView::FollowModified()
{
    // The worker owns the drawing: the run's end comes back here.
    if (m_tracing)
        return;
    // Unsaved work that no list recorded is taken back by no step: no step
    // may count as the file's state any more.
    if (m_graph.IsModified() && IsAtSavedState()) {
        m_rasterUndo->ForgetSaved();
        m_vectorUndo->ForgetSaved();
    }
    UpdateTitle();
}

void CDrawingView::AfterUndoStep(bool done)
{
    if (done) {
        // Marked first, which also drops what the drawing cached of its
        // entities. Back where the last load or save left it, the drawing
        // holds nothing unsaved; anywhere else the file no longer matches.
        m_graph.SetModified(true);
        if (IsAtSavedState())
            m_graph.SetModified(false);
    }
    NoteDrawingEdited();
}

bool CDrawingView::UndoVector()
{
    if (m_tracing)
        return false;
    FollowModified();
    m_graph.ClearSelection();
    const bool done = m_vectorUndo->UndoLast();
    AfterUndoStep(done);
    emit settingsChanged();
    return done;
}

bool CDrawingView::RedoVector()
{
    if (m_tracing)
        return false;
    FollowModified();
    m_graph.ClearSelection();
    const bool done = m_vectorUndo->RedoNext();
    AfterUndoStep(done);
    emit settingsChanged();
    return done;
}

bool CDrawingView::SaveRasterTo(const std::string& path)
{
    const CRaster* raster = m_graph.GetRaster();
    if (m_tracing || raster == nullptr || raster->GetImage().IsEmpty())
        return false;
    if (!raster->GetImage().SaveBMP(path)) {
        ShowMessageBox(GetLanString("SaveFileFailMsg", "Cannot save ") + path,
                       QApplication::applicationDisplayName().toStdString(), MB_OK | MB_ICONERROR);
        return false;
    }
    // The raster was all there was to keep.
    if (m_graph.IsEmpty()) {
        m_graph.SetModified(false);
        MarkSavedState();
        UpdateTitle();
    }
    return true;
}

bool CDrawingView::SaveRaster()
{
    const std::string start = m_pathName.empty() ? std::string() : ReplaceFileExt(m_pathName, ".bmp");
    QString chosen =
        QFileDialog::getSaveFileName(this, Lan("SaveRasterTitle", "Save Raster"), QString::fromStdString(start),
                                     Lan("BmpFilter", "BMP image") + " (*.bmp)");
    if (chosen.isEmpty())
        return false;
    if (QFileInfo(chosen).suffix().isEmpty())
        chosen += ".bmp";
    return SaveRasterTo(chosen.toStdString());
}

void CDrawingView::AfterRasterStep(bool done)
{
    if (CRaster* raster = m_graph.GetRaster()) {
        raster->InvalidateDisplayCache();
        // A step may change the depth (the trace's conversion): the
        // threshold reads the histogram of the image as it is now.
        if (done)
            m_graph.ComputeRasterHistogram(nullptr);
    }
    if (done)
        m_graph.SetModified(!IsAtSavedState());
    InvalidateDrawing();
}

bool CDrawingView::UndoRaster()
{
    if (m_tracing)
        return false;
    FollowModified();
    const bool done = m_rasterUndo->UndoLast();
    AfterRasterStep(done);
    return done;
}

bool CDrawingView::RedoRaster()
{
    if (m_tracing)
        return false;
    FollowModified();
    const bool done = m_rasterUndo->RedoNext();
    AfterRasterStep(done);
    return done;
}

// ---- view -------------------------------------------------------------------

void CDrawingView::FitDeviceToWindow()
{
    const int w = std::max(1, width()), h = std::max(1, height());
    CFrViewTransform& view = m_device.Transform();
    const RECT& rect = view.DeviceRect();
    if (rect.left != 0 || rect.bottom != 0 || rect.right != w || rect.top != h)
        view.SetDeviceRect(0, 0, w, h);
}

void CDrawingView::KeepScaleInNewSize()
{
    CFrViewTransform& view = m_device.Transform();
    const RECT old = view.DeviceRect();
    const int w = std::max(1, width()), h = std::max(1, height());
    if (old.left == 0 && old.bottom == 0 && old.right == w && old.top == h)
        return;
    const double unit = view.WorldWidth() / view.DeviceWidth();
    // The world point under the anchor keeps its window pixel: the pointer's
    // when it is over the view, else the centre's.
    QPoint anchor = mapFromGlobal(QCursor::pos());
    QPoint was = anchor;
    if (!rect().contains(anchor)) {
        was = QPoint((old.right - old.left) / 2, (old.top - old.bottom) / 2);
        anchor = QPoint(w / 2, h / 2);
    }
    const frDoublePoint at = PixelToWorld(was);
    const double xmin = at.x - anchor.x() * unit, ymax = at.y + anchor.y() * unit;
    view.SetDeviceRect(0, 0, w, h);
    view.SetWorldBox(xmin, ymax - h * unit, xmin + w * unit, ymax);
}

bool CDrawingView::FitExtents()
{
    FitDeviceToWindow();
    double box[4];
    if (!m_graph.GetExtents(box, true, true))
        return false;
    m_device.Transform().SetWorldBox(box[0], box[2], box[1], box[3]);
    InvalidateDrawing();
    return true;
}

bool CDrawingView::ZoomExtents()
{
    if (m_tracing)
        return false;
    FitDeviceToWindow();
    const bool pushed = m_device.ZoomStack().PushZoom(m_device.Transform());
    if (!FitExtents()) {
        if (pushed)
            m_device.ZoomStack().PopZoom();
        return false;
    }
    return true;
}

bool CDrawingView::ZoomAt(const QPoint& pixel, bool zoomIn)
{
    if (m_tracing)
        return false;
    FitDeviceToWindow();
    CFrViewTransform& view = m_device.Transform();
    const frDoublePoint at = PixelToWorld(pixel);
    const bool pushed = m_device.ZoomStack().PushZoom(view);
    if (!(zoomIn ? view.ZoomInAt(at) : view.ZoomOutAt(at))) {
        if (pushed)
            m_device.ZoomStack().PopZoom();
        emit statusText(QString::fromUtf8(GetLanString("ZoomLimitMsg", "Cannot zoom any further.")));
        return false;
    }
    // The zoom leaves the scale to the next refit.
    view.FitWorldToDevice();
    m_followExtents = false;
    InvalidateDrawing();
    return true;
}

void CDrawingView::PanBy(const QPoint& pixels)
{
    if (m_tracing || pixels.isNull())
        return;
    FitDeviceToWindow();
    CFrViewTransform& view = m_device.Transform();
    const double unit = view.UnitsPerPixel();
    // The picture follows the pointer: the box moves the other way; window
    // y points down, world y up.
    view.Pan(-pixels.x() * unit, pixels.y() * unit);
    m_followExtents = false;
    InvalidateDrawing();
}

bool CDrawingView::ZoomPrevious()
{
    if (m_tracing || !m_device.ZoomStack().RestoreZoom(m_device.Transform()))
        return false;
    m_followExtents = false;
    InvalidateDrawing();
    return true;
}

frDoublePoint CDrawingView::PixelToWorld(const QPoint& pixel) const
{
    const CFrViewTransform& view = m_device.Transform();
    frDoublePoint p;
    // Device y counts up from the bottom row.
    view.DeviceToWorldPoint(pixel.x(), view.DeviceRect().top - pixel.y(), p);
    return p;
}

void CDrawingView::InvalidateDrawing()
{
    m_passDue = true;
    update();
    // Whatever changed the picture may have changed the drawing too.
    FollowModified();
}

void CDrawingView::NoteDrawingEdited()
{
    InvalidateDrawing();
    emit drawingEdited();
}

bool CDrawingView::RunPass()
{
    FitDeviceToWindow();
    if (!m_device.BeginDraw(nullptr, true))
        return false;
    if (m_graph.Draw(&m_device) == 1)
        emit statusText(QString::fromUtf8(GetLanString("GridTooDenseMsg", "The grid is too dense to show.")));
    CViewFeedback feedback(m_device);
    DrawFeedback(feedback);
    m_device.EndDraw();
    if (!PublishPicture())
        return false;
    m_passDue = false;
    return true;
}

bool CDrawingView::PublishPicture()
{
    const CFrViewTransform& view = m_device.Transform();
    CPixelDC canvas(view.DeviceWidth(), view.DeviceHeight());
    if (!canvas.IsValid() || !m_device.CopyToDC(&canvas, 0, 0))
        return false;
    CopyCanvasToImage(canvas, m_picture);
    return true;
}

const QImage& CDrawingView::RenderedImage()
{
    // The worker may be changing the drawing: keep the last picture.
    if (m_passDue && !m_tracing)
        (void)RunPass();
    return m_picture;
}

void CDrawingView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QImage& picture = RenderedImage();
    painter.fillRect(rect(), palette().window());
    if (!picture.isNull())
        painter.drawImage(0, 0, picture);
    PaintToolFeedback(painter);
    PaintSelectionBand(painter);
    // What the user has seen stays put when the window's size changes.
    m_followExtents = false;
}

void CDrawingView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_tracing)
        return;
    if (!m_followExtents || !FitExtents())
        KeepScaleInNewSize();
    InvalidateDrawing();
}

void CDrawingView::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y();
    if (steps == 0) {
        event->ignore();
        return;
    }
    ZoomAt(event->position().toPoint(), steps > 0);
    event->accept();
}

void CDrawingView::mousePressEvent(QMouseEvent* event)
{
    if (CommandPress(event)) {
        event->accept();
        return;
    }
    // A raster tool takes the left button; with none, the left button selects.
    if (RasterToolPress(event) || SelectionPress(event)) {
        event->accept();
        return;
    }
    if (event->button() == Qt::MiddleButton) {
        m_panning = !m_tracing;
        m_panPushed = false;
        m_panLast = event->position().toPoint();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void CDrawingView::mouseMoveEvent(QMouseEvent* event)
{
    if (CommandMove(event)) {
        event->accept();
        return;
    }
    if (!m_panning) {
        if (SelectionMove(event) || RasterToolMove(event)) {
            event->accept();
            return;
        }
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    if (at == m_panLast)
        return;
    // One saved box per drag, taken when it starts to move.
    if (!m_panPushed)
        m_panPushed = m_device.ZoomStack().PushZoom(m_device.Transform());
    PanBy(at - m_panLast);
    m_panLast = at;
    event->accept();
}

void CDrawingView::mouseReleaseEvent(QMouseEvent* event)
{
    if (CommandRelease(event)) {
        event->accept();
        return;
    }
    if (!m_panning && (SelectionRelease(event) || RasterToolRelease(event))) {
        event->accept();
        return;
    }
    if (m_panning && event->button() == Qt::MiddleButton) {
        mouseMoveEvent(event);
        m_panning = false;
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}
