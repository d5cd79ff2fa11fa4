// The trace run on its worker thread, and the receiver-side logic around it.
#include "trace/trace_run.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "model/graph.h"
#include "model/layer.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/text_table.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"
#include "trace/arc_recognition.h"
#include "trace/ink_guard.h"
#include "trace/fill_pattern.h"
#include "trace/items_to_entities.h"
#include "trace/outline.h"
#include "trace/post_process.h"

namespace {

constexpr double kCmPerInch = 2.54;
constexpr double kCmPerMetre = 100.0;
constexpr double kFullBar = 100.0;
// Chains whose polylines are made on the pool at a time, ahead of adding them
// to the layer in order.
constexpr std::size_t kChainsPerChunk = 4096;
// Bands of a chunk per pool thread: chains differ widely in length.
constexpr int kMakerBandsPerThread = 4;

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

// Empties the traced item list. Freeing half a million chains takes the
// caller tens of milliseconds that the first post-processing step could
// use, so with more than one thread a thread of its own frees them (the
// items are no longer read); the run joins it when it ends.
std::jthread ReleaseItems(OArray<COutlineItem>& items)
{
    if (GetRowBandThreads() > 1) {
        try {
            auto doomed = std::make_unique<OArray<COutlineItem>>(std::move(items));
            return std::jthread([list = std::move(doomed)]() mutable { list.reset(); });
        } catch (const std::exception&) {
            // No thread (or no memory for the handle): empty it here.
        }
    }
    items.RemoveAll();
    return {};
}

// The traced items of one run on their way into the layer.
class CItemsToLayer {
public:
    CItemsToLayer(CCommonThread& thread, CRasterSrc& raster, CLayer& layer, const CTraceOption& options)
        : m_thread(thread), m_raster(raster), m_layer(layer), m_options(options), m_dpi(RasterDpi(raster))
    {}

    // Each chain becomes a polyline; the bar moves by the exact share per
    // item. False when the run ended here (its code posted). manyChains:
    // the centre line's page of short chains (see AddPolylinesAhead).
    [[nodiscard]] bool AddPolylines(OArray<COutlineItem>& items, bool manyChains)
    {
        return GetRowBandThreads() == 1 ? AddPolylinesInTurn(items) : AddPolylinesAhead(items, manyChains);
    }

    // Each polyline is made as its chain's turn comes, while the chain is in
    // the cache.
    [[nodiscard]] bool AddPolylinesInTurn(OArray<COutlineItem>& items)
    {
        const UINT count = items.GetCount();
        CPolylineProgress progress(m_thread, count);
        for (UINT i = 0; i < count && items.GetHead(); ++i) {
            std::unique_ptr<CPolyLine> polyline;
            if (OutlineItemToPolyline(&items.GetHead()->value, m_raster, polyline, m_dpi, m_options) == ITEM_NO_MEMORY)
                return End(RUN_NO_MEMORY);
            // The chain is done with: on a page of millions of nodes the
            // chains and the polylines made of them would otherwise peak
            // together. Its list entry goes too, while the polylines can
            // still take its place: half a million entries freed later
            // would stay behind among the polylines as holes (40 MB of the
            // centre line's peak on an A0 page).
            items.RemoveHead();
            if (polyline)
                m_layer.AddEntity(polyline.release());
            progress.ChainDone();
            if (m_thread.IsStopRequested())
                return End(RUN_STOPPED);
        }
        return true;
    }

    // The polylines of one chunk of chains are made on the pool while this
    // thread adds those of the chunk before to the layer, in chain order, and
    // then finds the chains of the chunk after: the adding (ids, the layer's
    // chain, progress) and the walk along the list are what cannot be shared
    // out. Each chunk's chains give up their nodes once the chunk is added,
    // or the chains and their polylines peak together. The centre line's
    // short chains, three times as many on a page, measured slower freed
    // here, among the pool's allocations, than in one pass when the list is
    // emptied, so those wait for that pass.
    [[nodiscard]] bool AddPolylinesAhead(OArray<COutlineItem>& items, bool manyChains)
    {
        const UINT count = items.GetCount();
        ONode<COutlineItem>* node = items.GetHead();
        UINT collected = 0;
        constexpr int kSlots = 3;  // added, made, found
        std::vector<COutlineItem*> chunks[kSlots];
        std::vector<CPreparedChain> prepared[kSlots];
        // The next chunk of chains, with a record for each; throws std::bad_alloc.
        const auto collect = [&](int c) {
            chunks[c].clear();
            for (; node && collected < count && chunks[c].size() < kChainsPerChunk; node = node->next, ++collected)
                chunks[c].push_back(&node->value);
            prepared[c].clear();
            prepared[c].resize(chunks[c].size());
        };
        const int makers = GetRowBandThreads() * kMakerBandsPerThread;
        const auto make = [&](int c, int band) {
            const int size = static_cast<int>(chunks[c].size());
            int i0 = 0;
            int i1 = 0;
            RowBandOf(size, makers, band, i0, i1);
            for (int i = i0; i < i1; ++i)
                PrepareChain(chunks[c][static_cast<std::size_t>(i)], m_raster, m_dpi, m_options,
                             prepared[c][static_cast<std::size_t>(i)]);
        };
        CPolylineProgress progress(m_thread, count);
        try {
            collect(0);
            RunBands(makers, [&](int b) { make(0, b); });
            collect(1);
        } catch (const std::bad_alloc&) {
            return End(RUN_NO_MEMORY);
        }
        for (int c = 0; !chunks[c].empty(); c = (c + 1) % kSlots) {
            DWORD code = RUN_FINISHED;
            RunBands(1 + makers, [&](int b) {
                if (b > 0) {
                    make((c + 1) % kSlots, b - 1);
                    return;
                }
                code = AddChunk(chunks[c], prepared[c], progress);
                try {
                    if (code == RUN_FINISHED)
                        collect((c + 2) % kSlots);
                } catch (const std::bad_alloc&) {
                    code = RUN_NO_MEMORY;
                }
            });
            if (code != RUN_FINISHED)
                return End(code);
            if (!manyChains)
                for (COutlineItem* item : chunks[c])
                    item->nodes.RemoveAll();
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
        std::vector<COutlineItem*> chunk;
        std::vector<CPreparedChain> prepared;
        std::vector<std::size_t> first;  // a connection's first chain in the chunk
        std::size_t next = 0;
        for (UINT i = 0; i < count && node; ++i, node = node->next) {
            if (next == first.size()) {
                // The polylines of the next connections are made on the pool.
                try {
                    chunk.clear();
                    first.clear();
                    for (auto* n = node; n && chunk.size() < kChainsPerChunk && i + first.size() < count; n = n->next) {
                        first.push_back(chunk.size());
                        chunk.push_back(n->value.outer);
                        const ONode<COutlineItem*>* hole = n->value.holes.GetHead();
                        for (UINT k = 0; hole && k < n->value.holes.GetCount(); ++k, hole = hole->next)
                            chunk.push_back(hole->value);
                    }
                    PrepareChains(chunk, m_raster, m_dpi, m_options, prepared);
                } catch (const std::bad_alloc&) {
                    return End(RUN_NO_MEMORY);
                }
                next = 0;
            }
            std::unique_ptr<CPolyPolygon> polygon;
            const int result = OutlineConnectionToPolyPolygon(node->value, m_raster, polygon, m_dpi, &m_thread, counter,
                                                              share, m_options, &prepared[first[next++]]);
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
    // Sends the share of the chains done, when the bar moves: each send
    // waits for the receiver.
    class CPolylineProgress {
    public:
        CPolylineProgress(CCommonThread& thread, UINT count) : m_thread(thread), m_count(count) {}
        void ChainDone()
        {
            ++m_done;
            const DWORD position = static_cast<DWORD>(m_done * kFullBar / static_cast<double>(m_count));
            if (position != m_lastSent) {
                m_thread.SendProgressPos(position);
                m_lastSent = position;
            }
        }

    private:
        CCommonThread& m_thread;
        UINT m_count;
        DWORD m_done = 0;
        DWORD m_lastSent = ~DWORD{0};
    };

    // Adds the prepared polylines of a chunk, giving each its id; the run's
    // code when it ends here, RUN_FINISHED otherwise.
    DWORD AddChunk(const std::vector<COutlineItem*>& chunk, std::vector<CPreparedChain>& prepared,
                   CPolylineProgress& progress)
    {
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            std::unique_ptr<CPolyLine> polyline;
            if (OutlineItemToPolyline(chunk[i], m_raster, polyline, m_dpi, m_options, &prepared[i]) == ITEM_NO_MEMORY)
                return RUN_NO_MEMORY;
            if (polyline)
                m_layer.AddEntity(polyline.release());
            progress.ChainDone();
            if (m_thread.IsStopRequested())
                return RUN_STOPPED;
        }
        return RUN_FINISHED;
    }

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

}  // namespace

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
        if (FillPattern(raster, m_options.FillPattern.i_FillType, m_options.FillPattern.d_FillSpace, &drawing, this)) {
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
        return 0;  // the failing step has posted its code
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
    if (solid ? !toLayer.AddPolygonSets(connections, items.GetCount())
              : !toLayer.AddPolylines(items, method == TRACE_CENTER_LINE))
        return 0;
    SendProgressEnd(text.c_str());
    // Post-processing works on the layer alone; the polygon sets' connections
    // still point into the items.
    // Joined before the run ends, whichever way it ends.
    std::jthread release;
    if (!solid)
        release = ReleaseItems(items);

    if (method == TRACE_CENTER_LINE) {
        if (RunPostProcessing(drawing, this, m_options))
            PostRunEnd(RUN_FINISHED);
        return 0;
    }

    if (m_options.Outline.b_RecogniseCirArc) {
        layer->CountEntities();
        const double size = std::max(raster.GetWidth(), raster.GetHeight());
        const CInkGuard ink(raster, m_options);
        if (!RecognizeCircles(*layer, this, size, RECOGNIZE_AFTER_OUTLINE, m_options, &ink))
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
        int steps = 2;  // trace outline, generate polyline
        steps += outline.b_RecogniseCirArc ? 1 : 0;
        if (outline.b_Fill)
            steps += outline.i_FillType == FILL_CROSS ? 2 : 1;
        return steps;
    }
    case TRACE_FILL_PATTERN: return options.FillPattern.i_FillType == FILL_CROSS ? 2 : 1;
    default: return 0;
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
    case RUN_FINISHED: return {};
    case RUN_NO_MEMORY: return GetLanString("NoMemoryMsg", "Not enough memory to perform operation !");
    case RUN_FILL_FAILED:
        return GetLanString("TraceFillFailedMsg", "The outlines were traced, but their hatch fill failed.");
    case RUN_STOPPED:
        return GetLanString("TraceStoppedMsg", "Tracing was stopped; the drawing keeps what was traced so far.");
    case RUN_FAILED: return GetLanString("TraceFailedMsg", "Tracing failed.");
    default: return GetLanString("TraceNotFinishedMsg", "Tracing did not finish.");
    }
}
