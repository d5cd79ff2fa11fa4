// outline_bench: outline tracing of a one-bit page, Lineweft against potrace,
// each as a whole process reading the same PBM file.
//
//   outline_bench make GREY.bmp OUT.pbm
//       thresholds a scan at half grey and writes it as a raw PBM.
//   outline_bench trace IN.pbm
//       one trace with nesting by Lineweft (what compare runs); prints the
//       trace time, the items and what they occupy.
//   outline_bench compare IN.pbm RUNS
//       runs both RUNS times, prints wall times, peak memory and the ratio
//       of the medians.
#include "bench_support.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "trace/outline.h"

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int MakePage(const char* greyPath, const char* pbmPath)
{
    CRasterLibraryGuard library;
    CRasterSrc raster;
    if (!MakePbmPage(raster, greyPath, pbmPath)) {
        std::fprintf(stderr, "outline_bench: cannot make %s from %s\n", pbmPath, greyPath);
        return 1;
    }
    std::printf("one-bit page %d x %d written to %s\n", raster.GetWidth(), raster.GetHeight(), pbmPath);
    return 0;
}

int TraceOnce(const char* pbmPath)
{
    CRasterLibraryGuard library;
    CRasterSrc raster;
    if (!ReadPbm(raster, pbmPath)) {
        std::fprintf(stderr, "outline_bench: cannot read %s\n", pbmPath);
        return 1;
    }
    const long rasterKb = CurrentRssKb();
    COutlineList list(&raster);
    COutlineConnectionList connections;
    auto start = BenchClock::now();
    if (!list.TraceOutlines(nullptr, &connections)) {
        std::fprintf(stderr, "outline_bench: trace failed\n");
        return 1;
    }
    double seconds = Since(start);

    size_t items = 0;
    size_t nodes = 0;
    size_t bytes = OutlineItemBytes(list, items, nodes);
    for (ONode<COutlineConnection>* c = connections.GetHead(); c; c = c->next) {
        bytes += malloc_usable_size(c) + sizeof(size_t);
        for (ONode<COutlineItem*>* h = c->value.holes.GetHead(); h; h = h->next)
            bytes += malloc_usable_size(h) + sizeof(size_t);
    }
    const long peakKb = PeakRssKb();
    const double rasterBytes = static_cast<double>(raster.GetRowBytes()) * raster.GetHeight();
    std::printf("trace+nest %.3f s: %zu items, %zu nodes, %zu connections; items %.1f MB, "
                "one-bit raster %.1f MB, process before trace %.1f MB, peak %.1f MB, "
                "peak - base - items = %.2f x raster\n",
                seconds, items, nodes, static_cast<size_t>(connections.GetCount()), bytes / 1e6, rasterBytes / 1e6,
                rasterKb / 1e3, peakKb / 1e3,
                (peakKb * 1024.0 - (rasterKb * 1024.0 - rasterBytes) - static_cast<double>(bytes)) / rasterBytes);
    return 0;
}

int Compare(const char* self, const char* pbmPath, int runs)
{
    std::vector<ProcessSeries> series = {
        {"lineweft outline", {self, "trace", pbmPath}},
        {"potrace (svg)", {"potrace", "-b", "svg", "-o", "/dev/null", pbmPath}},
        {"potrace (polygons: -a 0 -n)", {"potrace", "-b", "svg", "-a", "0", "-n", "-o", "/dev/null", pbmPath}},
    };
    // One lineweft run with its own figures shown.
    if (!MeasureProcess(series[0].command).ok)
        return 1;
    for (int run = 0; run < runs; ++run)
        for (ProcessSeries& s : series) {
            ProcessFigures f = MeasureProcess(s.command, {}, ChildOutput::Discard);
            if (!f.ok) {
                std::fprintf(stderr, "outline_bench: %s failed\n", s.name.c_str());
                return 1;
            }
            s.Add(f);
        }
    const double ours = series[0].MedianWall();
    for (const ProcessSeries& s : series)
        std::printf("%-30s median %.3f s over %d runs, peak %.1f MB, time ratio lineweft/this %.3f\n", s.name.c_str(),
                    s.MedianWall(), runs, s.peakKb / 1e3, ours / s.MedianWall());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "make") == 0)
        return MakePage(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "trace") == 0)
        return TraceOnce(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "compare") == 0)
        return Compare(argv[0], argv[2], std::max(1, std::atoi(argv[3])));
    std::fprintf(stderr, "usage: outline_bench make GREY.bmp OUT.pbm | trace IN.pbm | compare IN.pbm RUNS\n");
    return 2;
}
