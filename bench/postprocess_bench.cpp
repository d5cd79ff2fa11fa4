// postprocess_bench: the post-processing chain on the centre lines traced
// from a one-bit page, step by step, on growing parts of the page so that
// the growth of each step with the number of segments shows.
//
//   postprocess_bench IN.pbm [PARTS]
//       for the top 1/PARTS, 2/PARTS, ... of the page (PARTS defaults to 4):
//       traces the centre lines, makes polylines of them as the trace run
//       does (chords within the straighten distance, then straightening),
//       runs each step of the chain with the "pre_Default" chart type and
//       prints its time, the segments it started with and the time per
//       segment; then the whole chain once more through RunPostProcessing.
#include "bench_support.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "raster/raster_entity.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "trace/angle_adjust.h"
#include "trace/arc_recognition.h"
#include "trace/connect.h"
#include "trace/ink_guard.h"
#include "trace/line_widths.h"
#include "trace/outline.h"
#include "trace/post_process.h"
#include "trace/straighten.h"
#include "trace/trace_option.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr LONG k400DpiInDotsPerMetre = 15748;
constexpr std::size_t kSearchCap = 128;

// ---- chains to polylines -----------------------------------------------------

struct Node {
    double x, y;
};

bool ChordFits(const std::vector<Node>& nodes, std::size_t i, std::size_t j, double d)
{
    const Node a = nodes[i], b = nodes[j];
    const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
    for (std::size_t k = i + 1; k < j; ++k) {
        const double t = l2 > 0 ? std::clamp(((nodes[k].x - a.x) * dx + (nodes[k].y - a.y) * dy) / l2, 0.0, 1.0) : 0;
        if (std::hypot(nodes[k].x - a.x - t * dx, nodes[k].y - a.y - t * dy) > d)
            return false;
    }
    return true;
}

// The farthest node whose chord from i fits: exponential search with a
// capped step, then bisection, as the trace run simplifies.
std::size_t FarthestFit(const std::vector<Node>& nodes, std::size_t i, double d)
{
    const std::size_t last = nodes.size() - 1;
    std::size_t good = i + 1, j = i + 2, step = 2;
    while (j <= last && ChordFits(nodes, i, j, d)) {
        good = j;
        if (j == last)
            return last;
        step = std::min(step * 2, kSearchCap);
        j = std::min(j + step, last);
    }
    while (j <= last && j - good > 1) {
        const std::size_t mid = (good + j) / 2;
        (ChordFits(nodes, i, mid, d) ? good : j) = mid;
    }
    return good;
}

std::size_t AddTracedPolylines(CGraph& drawing, COutlineList& list, const CTraceOption& options)
{
    const double height = drawing.GetRaster()->GetImage().GetHeight();
    const double d = options.GetMaxDis();
    CLayer& layer = *drawing.GetFirstLayer();
    std::size_t count = 0;
    std::vector<Node> nodes;
    for (const auto* item = list.GetItems().GetHead(); item; item = item->next) {
        nodes.clear();
        for (const COutlineNode& node : item->value.nodes)
            nodes.push_back({node.x, height - 1 - node.y});
        if (nodes.size() < 2)
            continue;
        const bool closed = item->value.closed && nodes.size() > 3;
        auto polyline = std::make_unique<CPolyLine>();
        polyline->AddPoint(nodes[0].x, nodes[0].y);
        for (std::size_t i = 0; i + 1 < nodes.size();) {
            const std::size_t j = FarthestFit(nodes, i, d);
            if (!(closed && j + 1 == nodes.size()))
                polyline->AddPoint(nodes[j].x, nodes[j].y);
            i = j;
        }
        polyline->m_Closed = closed;
        if (polyline->IsDegenerate())
            continue;
        StraightenPolyline(*polyline, d);
        if (polyline->IsSingleSegment() && polyline->GetLength() <= 3.0)
            continue;
        layer.AddEntity(polyline.release());
        ++count;
    }
    return count;
}

// ---- the chain, step by step --------------------------------------------------

std::size_t CountSegments(CLayer& layer)
{
    std::size_t segments = 0;
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next) {
        const int points = e->GetPointCount();
        segments += e->m_Type == ENTITY_POLYLINE ? static_cast<std::size_t>(std::max(points - 1, 0)) + e->m_Closed : 1;
    }
    return segments;
}

struct StepTime {
    const char* name;
    std::size_t segments;
    double seconds;
};

std::vector<StepTime> RunStepByStep(CGraph& drawing, const CTraceOption& options)
{
    CLayer& layer = *drawing.GetFirstLayer();
    CRasterSrc& image = drawing.GetRaster()->GetImage();
    const CChartType& chart = options.ChartType;
    std::vector<StepTime> times;
    auto timed = [&](const char* name, const std::function<bool()>& step) {
        const std::size_t segments = CountSegments(layer);
        const auto start = BenchClock::now();
        if (!step())
            std::fprintf(stderr, "postprocess_bench: %s failed\n", name);
        times.push_back({name, segments, Since(start)});
    };
    timed("line widths", [&] { return CalcLineWidths(layer, nullptr, image); });
    // The steps keep to the ink of the page, as in the chain.
    const CInkGuard guard(image, options);
    if (chart.b_Connect)
        timed("connect", [&] { return ConnectLines(layer, nullptr, options, &guard); });
    if (chart.b_DelLine)
        timed("short lines", [&] {
            RemoveShortVectors(layer, options);
            return true;
        });
    if (chart.b_RecogniseCirArc) {
        const double size = std::max(image.GetWidth(), image.GetHeight());
        timed("circles",
              [&] { return RecognizeCircles(layer, nullptr, size, RECOGNIZE_AFTER_CENTER_LINE, options, &guard); });
    }
    if (options.GetMaxDis() > 0)
        timed("straighten", [&] { return StraightenLines(layer, nullptr, options, &guard); });
    if (chart.b_ForceOrtho)
        timed("angles", [&] { return AdjustAngles(layer, nullptr, options, guard); });
    timed("round widths", [&] { return RoundWidths(layer, nullptr, k400DpiInDotsPerMetre, options); });
    return times;
}

int RunPart(const char* path, int parts, int part, const CTraceOption& options)
{
    auto drawing = std::make_unique<CGraph>();
    CRasterSrc& image = drawing->GetRaster()->GetImage();
    if (!ReadPbm(image, path, parts, part) || !image.SetResolution(k400DpiInDotsPerMetre)) {
        std::fprintf(stderr, "postprocess_bench: cannot read %s\n", path);
        return 1;
    }
    auto start = BenchClock::now();
    COutlineList list(&image);
    if (!list.TraceCenterLines(nullptr)) {
        std::fprintf(stderr, "postprocess_bench: centre-line trace failed\n");
        return 1;
    }
    const double traceSeconds = Since(start);
    start = BenchClock::now();
    const std::size_t polylines = AddTracedPolylines(*drawing, list, options);
    const double polylineSeconds = Since(start);
    list.GetItems().RemoveAll();

    // A copy of the traced layer for the whole chain afterwards.
    auto whole = std::make_unique<CGraph>();
    if (!whole->GetRaster()->GetImage().Copy(image) || !whole->GetFirstLayer()->CopyFrom(*drawing->GetFirstLayer())) {
        std::fprintf(stderr, "postprocess_bench: cannot copy the drawing\n");
        return 1;
    }

    std::printf("\n%d/%d of the page: %d x %d, trace %.2f s, %zu polylines (%.2f s), %zu segments\n", part, parts,
                image.GetWidth(), image.GetHeight(), traceSeconds, polylines, polylineSeconds,
                CountSegments(*drawing->GetFirstLayer()));
    std::printf("  %-14s %10s %9s %12s\n", "step", "segments", "seconds", "ns/segment");
    double total = 0;
    for (const StepTime& t : RunStepByStep(*drawing, options)) {
        total += t.seconds;
        std::printf("  %-14s %10zu %9.3f %12.1f\n", t.name, t.segments, t.seconds,
                    t.segments ? t.seconds * 1e9 / static_cast<double>(t.segments) : 0.0);
    }
    std::printf("  %-14s %10s %9.3f\n", "steps in all", "", total);
    start = BenchClock::now();
    const bool ok = RunPostProcessing(*whole, nullptr, options);
    std::printf("  %-14s %10s %9.3f  (%s), %d entities left\n", "whole chain", "", Since(start),
                ok ? "ran to its end" : "FAILED", whole->GetFirstLayer()->CountEntities());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: postprocess_bench IN.pbm [PARTS]\n");
        return 2;
    }
    const int parts = argc == 3 ? std::max(1, std::atoi(argv[2])) : 4;
    CRasterLibraryGuard library;
    CTraceOption options;  // "pre_Default": every step on
    options.ChartType.WidthSeries.SetDefault();
    for (int part = 1; part <= parts; ++part)
        if (RunPart(argv[1], parts, part, options) != 0)
            return 1;
    return 0;
}
