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
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "trace/outline.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr BYTE kHalfThreshold = 127;

// --- PBM (P4): rows of packed bits, the leftmost pixel in the top bit and 1
// for black, which is the raster's own row layout.

bool WritePbm(const CRasterSrc& raster, const char* path)
{
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    const int w = raster.GetWidth();
    const int h = raster.GetHeight();
    const size_t rowBytes = static_cast<size_t>((w + 7) / 8);
    bool ok = std::fprintf(f, "P4\n%d %d\n", w, h) > 0;
    for (int y = 0; ok && y < h; ++y)
        ok = std::fwrite(raster.GetRow(y), 1, rowBytes, f) == rowBytes;
    return std::fclose(f) == 0 && ok;
}

bool ReadPbm(CRasterSrc& raster, const char* path)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    int w = 0;
    int h = 0;
    bool ok = std::fscanf(f, "P4 %d %d", &w, &h) == 2 && std::fgetc(f) != EOF && w > 0 && h > 0 &&
              raster.Create(w, h, 1);
    const size_t rowBytes = static_cast<size_t>((w + 7) / 8);
    for (int y = 0; ok && y < h; ++y)
        ok = std::fread(raster.GetRow(y), 1, rowBytes, f) == rowBytes;
    std::fclose(f);
    return ok;
}

long CurrentRssKb()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0;
    long resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int MakePage(const char* greyPath, const char* pbmPath)
{
    CRasterLibraryGuard library;
    CRasterSrc raster;
    if (!raster.Load(greyPath) || !raster.ConvertTo1Bit(kHalfThreshold) || !WritePbm(raster, pbmPath)) {
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
    auto start = std::chrono::steady_clock::now();
    if (!list.TraceOutlines(nullptr, &connections)) {
        std::fprintf(stderr, "outline_bench: trace failed\n");
        return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // What the result occupies as allocated: every list node with its
    // allocator overhead.
    size_t items = 0;
    size_t nodes = 0;
    size_t bytes = 0;
    for (ONode<COutlineItem>* item = list.GetItems().GetHead(); item; item = item->next) {
        ++items;
        bytes += malloc_usable_size(item) + sizeof(size_t);
        for (ONode<COutlineNode>* node = item->value.nodes.GetHead(); node; node = node->next) {
            ++nodes;
            bytes += malloc_usable_size(node) + sizeof(size_t);
        }
    }
    for (ONode<COutlineConnection>* c = connections.GetHead(); c; c = c->next) {
        bytes += malloc_usable_size(c) + sizeof(size_t);
        for (ONode<COutlineItem*>* h = c->value.holes.GetHead(); h; h = h->next)
            bytes += malloc_usable_size(h) + sizeof(size_t);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double rasterBytes = static_cast<double>(raster.GetRowBytes()) * raster.GetHeight();
    std::printf("trace+nest %.3f s: %zu items, %zu nodes, %zu connections; items %.1f MB, "
                "one-bit raster %.1f MB, process before trace %.1f MB, peak %.1f MB, "
                "peak - base - items = %.2f x raster\n",
                seconds, items, nodes, static_cast<size_t>(connections.GetCount()), bytes / 1e6, rasterBytes / 1e6,
                rasterKb / 1e3, usage.ru_maxrss / 1e3,
                (usage.ru_maxrss * 1024.0 - (rasterKb * 1024.0 - rasterBytes) - static_cast<double>(bytes)) /
                    rasterBytes);
    return 0;
}

struct Figures {
    double wall = 0;
    long peakKb = 0;
    bool ok = false;
};

Figures Measure(const std::vector<std::string>& command, bool quiet)
{
    Figures figures;
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        if (quiet) {
            std::FILE* null = std::freopen("/dev/null", "w", stdout);
            (void)null;
        }
        std::vector<char*> argv;
        for (const std::string& arg : command)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0)
        return figures;
    figures.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.peakKb = usage.ru_maxrss;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return figures;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Compare(const char* self, const char* pbmPath, int runs)
{
    struct Series {
        const char* name;
        std::vector<std::string> command;
        std::vector<double> walls;
        long peakKb = 0;
    };
    std::vector<Series> series = {
        {"lineweft outline", {self, "trace", pbmPath}, {}},
        {"potrace (svg)", {"potrace", "-b", "svg", "-o", "/dev/null", pbmPath}, {}},
        {"potrace (polygons: -a 0 -n)", {"potrace", "-b", "svg", "-a", "0", "-n", "-o", "/dev/null", pbmPath}, {}},
    };
    // One lineweft run with its own figures shown.
    if (!Measure(series[0].command, false).ok)
        return 1;
    for (int run = 0; run < runs; ++run)
        for (Series& s : series) {
            Figures f = Measure(s.command, true);
            if (!f.ok) {
                std::fprintf(stderr, "outline_bench: %s failed\n", s.name);
                return 1;
            }
            s.walls.push_back(f.wall);
            s.peakKb = std::max(s.peakKb, f.peakKb);
        }
    const double ours = Median(series[0].walls);
    for (const Series& s : series)
        std::printf("%-30s median %.3f s over %d runs, peak %.1f MB, time ratio lineweft/this %.3f\n", s.name,
                    Median(s.walls), runs, s.peakKb / 1e3, ours / Median(s.walls));
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
