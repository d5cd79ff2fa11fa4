// The post-processing chain after centre-line tracing and the progress
// plumbing of its layer commands.
//
// The chain runs on the trace thread while the user interface waits, on the
// drawing's first layer, in a fixed order; each step is switched by the
// chart type of the run's option record. Steps change the layer in place,
// so a step that stops leaves the layer as it left it.
#include "trace/post_process.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <span>

#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "model/text_table.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "trace/angle_adjust.h"
#include "trace/arc_recognition.h"
#include "trace/common_thread.h"
#include "trace/connect.h"
#include "trace/entity_batches.h"
#include "trace/ink_guard.h"
#include "trace/line_widths.h"
#include "trace/straighten.h"
#include "trace/trace_option.h"

// ---- step progress ---------------------------------------------------------

CStepProgress::CStepProgress(CCommonThread* sink, const char* textKey, const char* englishDefault) : m_sink(sink)
{
    if (m_sink == nullptr)
        return;
    m_text = GetLanString(textKey, englishDefault);
    m_sink->SendProgressText(m_text.c_str());
}

void CStepProgress::SetRange(DWORD offset, DWORD span, std::int64_t count)
{
    m_offset = offset;
    m_share = count > 0 ? static_cast<double>(span) / static_cast<double>(count) : 0.0;
    m_done = 0;
}

bool CStepProgress::AdvanceBy(std::size_t count)
{
    if (m_sink == nullptr)
        return true;
    m_done += static_cast<std::int64_t>(count);
    const DWORD position = m_offset + static_cast<DWORD>(static_cast<double>(m_done) * m_share);
    // A message per entity would make a large layer wait on the display far
    // longer than on the work; the receiver shows nothing new for a repeat.
    if (position != m_last) {
        m_last = position;
        m_sink->SendProgressPos(position);
    }
    return Poll();
}

bool CStepProgress::Poll()
{
    if (m_sink == nullptr || !m_sink->IsStopRequested())
        return true;
    m_sink->PostRunEnd(RUN_STOPPED);
    return false;
}

void CStepProgress::Fail(DWORD code)
{
    if (m_sink)
        m_sink->PostRunEnd(code);
}

void CStepProgress::End()
{
    if (m_sink)
        m_sink->SendProgressEnd(m_text.c_str());
}

bool AdvanceOverBatch(CStepProgress& step, std::size_t count)
{
    // One message for the batch: each is a round trip to the receiver's
    // thread, and a batch's positions in between would show for no time.
    return count == 0 || step.AdvanceBy(count);
}

// ---- short lines -----------------------------------------------------------

void RemoveShortVectors(CLayer& layer, const CTraceOption& options)
{
    const auto limit = static_cast<double>(static_cast<unsigned>(options.ChartType.i_DelLine_Length));
    // A length walks the whole polyline: a batch is measured on the pool.
    std::array<bool, kEntityBatch> isShort;
    const BatchResult result = ForEachEntityBatch(
        layer,
        [&](std::size_t i, CEntity& e) {
            isShort[i] = (e.m_Type == ENTITY_LINE || e.m_Type == ENTITY_POLYLINE) && e.GetLength() < limit;
        },
        [&](std::span<CEntity* const> batch) {
            for (std::size_t i = 0; i < batch.size(); ++i) {
                if (isShort[i]) {
                    layer.RemoveEntity(batch[i]);
                    delete batch[i];
                }
            }
            return true;
        });
    (void)result;  // measuring allocates nothing, and nothing stops the walk
}

// ---- straightening ---------------------------------------------------------

bool StraightenLines(CLayer& layer, CCommonThread* sink, const CTraceOption& options, const CInkGuard* ink)
{
    CStepProgress step(sink, "ProcessStraightenLine", "Straighten line");
    step.SetRange(0, 100, layer.CountEntities());
    const double maxDis = options.GetMaxDis();
    if (!step.Poll())
        return false;
    // Each polyline is straightened on its own: a batch runs on the pool
    // while the caller reports the last one and walks to the next.
    const BatchResult result = ForEachEntityBatchAhead(
        layer,
        [&](std::size_t, CEntity& e) {
            if (e.m_Type == ENTITY_POLYLINE)
                StraightenPolyline(static_cast<CPolyLine&>(e), maxDis, ink);
        },
        [](std::span<CEntity* const>, std::size_t) { return true; },
        [&](std::size_t done) { return AdvanceOverBatch(step, done); });
    if (result == BatchResult::kNoMemory)
        step.Fail(RUN_NO_MEMORY);
    if (result != BatchResult::kDone)
        return false;
    step.End();
    return true;
}

// ---- the chain -------------------------------------------------------------

namespace {

bool HasEntities(CLayer& layer) { return layer.CountEntities() > 0; }

bool RunSteps(CGraph& drawing, CLayer& layer, CCommonThread* sink, const CTraceOption& options)
{
    const CChartType& chart = options.ChartType;
    CRaster* rasterEntity = drawing.GetRaster();
    CRasterSrc noImage;
    CRasterSrc& image = rasterEntity ? rasterEntity->GetImage() : noImage;

    if (HasEntities(layer) && !CalcLineWidths(layer, sink, image))
        return false;
    const CInkGuard guard(image, options);
    if (chart.b_Connect && HasEntities(layer) && !ConnectLines(layer, sink, options, &guard))
        return false;
    if (chart.b_DelLine && HasEntities(layer))
        RemoveShortVectors(layer, options);
    if (chart.b_RecogniseCirArc && HasEntities(layer)) {
        const double size = std::max(image.GetWidth(), image.GetHeight());
        if (!RecognizeCircles(layer, sink, size, RECOGNIZE_AFTER_CENTER_LINE, options, &guard))
            return false;
    }
    if (options.GetMaxDis() > 0 && HasEntities(layer) && !StraightenLines(layer, sink, options, &guard))
        return false;
    if (chart.b_ForceOrtho && HasEntities(layer) && !AdjustAngles(layer, sink, options, guard))
        return false;
    if (HasEntities(layer)) {
        if (!chart.b_CalcWidth) {
            layer.SetWidthAll(0.0);
        } else if (!chart.WidthSeries.Widths.IsEmpty()) {
            LONG resolution = 0;
            if (image.IsEmpty() || !image.GetResolution(resolution))
                resolution = 0;
            if (!RoundWidths(layer, sink, static_cast<double>(resolution), options))
                return false;
        }
    }
    return true;
}

}  // namespace

bool RunPostProcessing(CGraph& drawing, CCommonThread* sink, const CTraceOption& options)
{
    try {
        drawing.ClearSelection();
        CLayer* layer = drawing.GetFirstLayer();
        if (layer == nullptr)
            return true;
        drawing.SetCurrentLayerByIndex(0);
        drawing.SetModified(true);
        if (!RunSteps(drawing, *layer, sink, options))
            return false;
        drawing.SetModified(true);
        return true;
    } catch (const std::bad_alloc&) {
        if (sink)
            sink->PostRunEnd(RUN_NO_MEMORY);
    } catch (...) {
        if (sink)
            sink->PostRunEnd(RUN_FAILED);
    }
    return false;
}
