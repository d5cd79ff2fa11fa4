// The trace run on its worker thread, and the receiver-side logic around it.
#include "trace/trace_run.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "model/graph.h"
#include "model/layer.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/text_table.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "trace/arc_recognition.h"
#include "trace/fill_pattern.h"
#include "trace/items_to_entities.h"
#include "trace/outline.h"
#include "trace/post_process.h"

namespace {

constexpr double kCmPerInch = 2.54;
constexpr double kCmPerMetre = 100.0;
constexpr double kFullBar = 100.0;

// The raster's horizontal resolution in dots per inch, rounded.
int RasterDpi(CRasterSrc& raster)
{
    LONG dotsPerMetre = 0;
    if (!raster.GetResolution(dotsPerMetre) || dotsPerMetre <= 0)
        return 0;
    return static_cast<int>(dotsPerMetre / kCmPerMetre * kCmPerInch + 0.5);
}

bool IsSolidOutlineFill(const CTraceOption& options)
{
    return options.Outline.b_Fill && options.Outline.i_FillType == FILL_SOLID;
}

// The traced items of one run on their way into the layer.
class CItemsToLayer {
public:
    CItemsToLayer(CCommonThread& thread, CRasterSrc& raster, CLayer& layer, const CTraceOption& options)
        : m_thread(thread), m_raster(raster), m_layer(layer), m_options(options), m_dpi(RasterDpi(raster))
    {
    }

    // Each chain becomes a polyline; the bar moves by the exact share per
    // item. False when the run ended here (its code posted).
    [[nodiscard]] bool AddPolylines(OArray<COutlineItem>& items)
    {
        const UINT count = items.GetCount();
        DWORD done = 0;
        DWORD lastSent = ~DWORD{0};
        auto* node = items.GetHead();
        for (UINT i = 0; i < count && node; ++i, node = node->next) {
            std::unique_ptr<CPolyLine> polyline;
            const int result = OutlineItemToPolyline(&node->value, m_raster, polyline, m_dpi, m_options);
            if (result == ITEM_NO_MEMORY)
                return End(RUN_NO_MEMORY);
            if (polyline)
                m_layer.AddEntity(polyline.release());
            ++done;
            // Each send waits for the receiver: send only when the bar moves.
            const DWORD position = static_cast<DWORD>(done * kFullBar / static_cast<double>(count));
            if (position != lastSent) {
                m_thread.SendProgressPos(position);
                lastSent = position;
            }
            if (m_thread.IsStopRequested())
                return End(RUN_STOPPED);
        }
        return true;
    }

    // Each connection (outer chain with its holes) becomes a polygon set.
    // The share stays a double, so that a run of more than a hundred chains
    // still moves the bar.
    [[nodiscard]] bool AddPolygonSets(COutlineConnectionList& connections, std::size_t itemCount)
    {
        const double share = kFullBar / static_cast<double>(itemCount);
        DWORD counter = 0;
        const UINT count = connections.GetCount();
        auto* node = connections.GetHead();
        for (UINT i = 0; i < count && node; ++i, node = node->next) {
            std::unique_ptr<CPolyPolygon> polygon;
            const int result = OutlineConnectionToPolyPolygon(node->value, m_raster, polygon, m_dpi, &m_thread,
                                                              counter, share, m_options);
            if (result == ITEM_NO_MEMORY)
                return End(RUN_NO_MEMORY);
            if (m_thread.IsStopRequested())
                return End(RUN_STOPPED);
            if (polygon)
                m_layer.AddEntity(polygon.release());
        }
        return true;
    }

private:
    bool End(DWORD code)
    {
        m_thread.PostRunEnd(code);
        return false;
    }

    CCommonThread& m_thread;
    CRasterSrc& m_raster;
    CLayer& m_layer;
    const CTraceOption& m_options;
    int m_dpi;
};

} // namespace

// ---- the worker -------------------------------------------------------------

CDoAllThread::~CDoAllThread() { StopAndWait(); }

void CDoAllThread::Setup(CGraph* drawing, HWND notify, const CTraceOption& options)
{
    m_drawing = drawing;
    m_options = options;
    SetNotifyWindow(notify);
}

DWORD CDoAllThread::Run()
{
    if (m_drawing == nullptr)
        return 0;
    CGraph& drawing = *m_drawing;
    drawing.RemoveAllLayers();
    CLayer* layer = drawing.SelectOrAddLayer("Trace");
    CRaster* rasterEntity = drawing.GetRaster();
    if (layer == nullptr || rasterEntity == nullptr || rasterEntity->GetImage().GetBitCount() != 1 ||
        rasterEntity->GetImage().IsEmpty()) {
        PostRunEnd(RUN_FAILED);
        return 0;
    }
    CRasterSrc& raster = rasterEntity->GetImage();
    const UINT method = GetMethod();

    if (method == TRACE_FILL_PATTERN) {
        if (FillPattern(raster, m_options.FillPattern.i_FillType, m_options.FillPattern.d_FillSpace, &drawing,
                        this)) {
            m_rasterGrey = kOutlineRasterGrey;
            PostRunEnd(RUN_FINISHED);
        } else if (!IsStopRequested()) {
            PostRunEnd(RUN_FAILED);
        }
        return 0;
    }
    if (method != TRACE_CENTER_LINE && method != TRACE_OUTLINE) {
        PostRunEnd(RUN_FAILED);
        return 0;
    }

    // The connections point into the list's items: declared after it, so
    // that they go first.
    COutlineList outlines(&raster);
    COutlineConnectionList connections;
    const bool solid = method == TRACE_OUTLINE && IsSolidOutlineFill(m_options);
    const bool traced = method == TRACE_CENTER_LINE ? outlines.TraceCenterLines(this)
                                                    : outlines.TraceOutlines(this, solid ? &connections : nullptr);
    if (!traced)
        return 0; // the failing step has posted its code
    m_rasterGrey = method == TRACE_CENTER_LINE ? kCenterLineRasterGrey : kOutlineRasterGrey;

    OArray<COutlineItem>& items = outlines.GetItems();
    if (items.GetCount() == 0) {
        PostRunEnd(RUN_FINISHED);
        return 0;
    }

    drawing.SetModified(true);
    const std::string text = GetLanString("ProcessGeneratePolyline", "Generate polyline");
    SendProgressText(text.c_str());
    CItemsToLayer toLayer(*this, raster, *layer, m_options);
    if (solid ? !toLayer.AddPolygonSets(connections, items.GetCount()) : !toLayer.AddPolylines(items))
        return 0;
    SendProgressEnd(text.c_str());

    if (method == TRACE_CENTER_LINE) {
        if (RunPostProcessing(drawing, this, m_options))
            PostRunEnd(RUN_FINISHED);
        return 0;
    }

    if (m_options.Outline.b_RecogniseCirArc) {
        layer->CountEntities();
        const double size = std::max(raster.GetWidth(), raster.GetHeight());
        if (!RecognizeCircles(*layer, this, size, RECOGNIZE_AFTER_OUTLINE, m_options))
            return 0;
    }
    if (m_options.Outline.b_Fill && !solid) {
        if (!FillPattern(raster, m_options.Outline.i_FillType, m_options.Outline.d_FillSpace, &drawing, this)) {
            if (!IsStopRequested())
                PostRunEnd(RUN_FILL_FAILED);
            return 0;
        }
    }
    PostRunEnd(RUN_FINISHED);
    return 0;
}

void CDoAllThread::ApplyRasterPalette()
{
    if (m_rasterGrey == 0 || m_drawing == nullptr || m_drawing->GetRaster() == nullptr)
        return;
    CRasterSrc& raster = m_drawing->GetRaster()->GetImage();
    if (raster.GetBitCount() == 1) {
        raster.SetPaletteGrey(1, m_rasterGrey);
        m_drawing->GetRaster()->InvalidateDisplayCache();
    }
}

// ---- the receiver's side ------------------------------------------------------

int GetTraceStepCount(const CTraceOption& options)
{
    switch (options.i_AutoTraceWhat) {
    case TRACE_CENTER_LINE: {
        // thin (two steps), centre initialise, centre line, generate
        // polyline, line widths
        const CChartType& chart = options.ChartType;
        int steps = 6;
        steps += chart.b_Connect ? 1 : 0;
        steps += chart.b_RecogniseCirArc ? 1 : 0;
        steps += options.GetMaxDis() > 0 ? 1 : 0;
        steps += chart.b_ForceOrtho ? 1 : 0;
        steps += chart.b_CalcWidth && !chart.WidthSeries.Widths.IsEmpty() ? 1 : 0;
        return steps;
    }
    case TRACE_OUTLINE: {
        const COutlineOption& outline = options.Outline;
        int steps = 2; // trace outline, generate polyline
        steps += outline.b_RecogniseCirArc ? 1 : 0;
        if (outline.b_Fill)
            steps += outline.i_FillType == FILL_CROSS ? 2 : 1;
        return steps;
    }
    case TRACE_FILL_PATTERN:
        return options.FillPattern.i_FillType == FILL_CROSS ? 2 : 1;
    default:
        return 0;
    }
}

CTraceRunResult TraceDrawing(CGraph* drawing, const CTraceOption& options, TraceRunner runner)
{
    CTraceRunResult result;
    if (drawing == nullptr || runner == nullptr)
        return result;
    const auto start = std::chrono::steady_clock::now();
    {
        CDoAllThread worker;
        worker.Setup(drawing, nullptr, options);
        result.code = runner(worker, GetTraceStepCount(options));
        // A runner that returned without the thread's end (it could not be
        // started, or a receiver gave up) must not leave it running.
        worker.StopAndWait();
        if (result.code == RUN_NOT_REPORTED && worker.IsFinished())
            result.code = worker.GetRunResult();
        worker.ApplyRasterPalette();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    result.elapsedMs = static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    return result;
}

std::string TraceResultText(DWORD code)
{
    switch (code) {
    case RUN_FINISHED:
        return {};
    case RUN_NO_MEMORY:
        return GetLanString("NoMemoryMsg", "Not enough memory to perform operation !");
    case RUN_FILL_FAILED:
        return GetLanString("TraceFillFailedMsg", "The outlines were traced, but their hatch fill failed.");
    case RUN_STOPPED:
        return GetLanString("TraceStoppedMsg", "Tracing was stopped; the drawing keeps what was traced so far.");
    case RUN_FAILED:
        return GetLanString("TraceFailedMsg", "Tracing failed.");
    default:
        return GetLanString("TraceNotFinishedMsg", "Tracing did not finish.");
    }
}
