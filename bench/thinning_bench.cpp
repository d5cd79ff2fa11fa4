// thinning_bench: thinning of a one-bit page, Lineweft against OpenCV's
// Zhang-Suen thinning (cv::ximgproc::thinning), each in a process of its
// own reading the same PBM file. Built by thinning_bench.sh only: OpenCV is
// a dependency of this program, never of Lineweft.
//
//   thinning_bench make GREY.bmp OUT.pbm
//       thresholds a scan at half grey and writes it as a raw PBM.
//   thinning_bench band IN.pbm OUT.pbm ROWS
//       keeps the top ROWS rows of a page: OpenCV needs about 9 s a pass on
//       the whole A0 page, and the page's filled areas take hundreds of
//       passes, so a band keeps a comparison run within minutes.
//   thinning_bench lineweft IN.pbm OUT.pbm
//       thins a copy of the page (both steps), writes the Zhang-Suen
//       skeleton (the first step's result), then runs the whole centre-line
//       trace on the page; prints the kernel times and the memory.
//   thinning_bench opencv IN.pbm OUT.pbm
//       OpenCV's thinning of the same page; prints the kernel time and
//       writes the skeleton.
//   thinning_bench compare IN.pbm RUNS WORKDIR
//       runs both RUNS times, prints the medians and their ratio, and counts
//       the pixels where the two Zhang-Suen skeletons differ.
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "trace/outline.h"
#include "trace/thinning.h"

#include <opencv2/core.hpp>
#include <opencv2/ximgproc.hpp>

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

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// --- PBM (P4): packed rows, leftmost pixel in the top bit, 1 for black:
// the raster's own row layout.

bool WritePbm(const CRasterSrc& raster, const char* path)
{
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    const size_t rowBytes = static_cast<size_t>((raster.GetWidth() + 7) / 8);
    bool ok = std::fprintf(f, "P4\n%d %d\n", raster.GetWidth(), raster.GetHeight()) > 0;
    for (int y = 0; ok && y < raster.GetHeight(); ++y)
        ok = std::fwrite(raster.GetRow(y), 1, rowBytes, f) == rowBytes;
    return std::fclose(f) == 0 && ok;
}

bool ReadPbm(CRasterSrc& raster, const char* path)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    int w = 0, h = 0;
    bool ok = std::fscanf(f, "P4 %d %d", &w, &h) == 2 && std::fgetc(f) != EOF && w > 0 && h > 0 &&
              raster.Create(w, h, 1);
    const size_t rowBytes = static_cast<size_t>((w + 7) / 8);
    for (int y = 0; ok && y < h; ++y)
        ok = std::fread(raster.GetRow(y), 1, rowBytes, f) == rowBytes;
    std::fclose(f);
    return ok;
}

// The page inside a white frame one pixel wide. OpenCV never changes the
// outermost rows and columns, where Lineweft thins like anywhere else; with
// the frame both see the same picture and must give the same skeleton.
bool ReadFramedPbm(CRasterSrc& raster, const char* path)
{
    CRasterSrc page;
    if (!ReadPbm(page, path) || !raster.Create(page.GetWidth() + 2, page.GetHeight() + 2, 1))
        return false;
    for (int y = 0; y < page.GetHeight(); ++y)
        for (int x = 0; x < page.GetWidth(); ++x)
            if (page.GetRow(y)[x >> 3] & (0x80 >> (x & 7)))
                raster.SetPixelBit(x + 1, y + 1, true);
    return true;
}

// OpenCV thins 8-bit images: foreground 255.
cv::Mat ToMat(const CRasterSrc& raster)
{
    cv::Mat mat(raster.GetHeight(), raster.GetWidth(), CV_8UC1);
    for (int y = 0; y < raster.GetHeight(); ++y) {
        BYTE* out = mat.ptr<BYTE>(y);
        const BYTE* row = raster.GetRow(y);
        for (int x = 0; x < raster.GetWidth(); ++x)
            out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    }
    return mat;
}

long long CountPixels(const CRasterSrc& raster)
{
    long long n = 0;
    for (int y = 0; y < raster.GetHeight(); ++y)
        for (int x = 0; x < raster.GetWidth(); ++x)
            n += raster.GetPixelIndex(x, y);
    return n;
}

int MakePage(const char* greyPath, const char* pbmPath)
{
    CRasterLibraryGuard library;
    CRasterSrc raster;
    if (!raster.Load(greyPath) || !raster.ConvertTo1Bit(kHalfThreshold) || !WritePbm(raster, pbmPath)) {
        std::fprintf(stderr, "thinning_bench: cannot make %s from %s\n", pbmPath, greyPath);
        return 1;
    }
    return 0;
}

int MakeBand(const char* pbmPath, const char* outPath, int rows)
{
    CRasterLibraryGuard library;
    CRasterSrc page, band;
    if (!ReadPbm(page, pbmPath) || rows <= 0 ||
        !page.CopyRectTo(band, 0, 0, page.GetWidth(), std::min(rows, page.GetHeight())) || !WritePbm(band, outPath)) {
        std::fprintf(stderr, "thinning_bench: cannot cut a band of %s\n", pbmPath);
        return 1;
    }
    return 0;
}

size_t ItemBytes(const COutlineList& list, size_t& items, size_t& nodes)
{
    size_t bytes = 0;
    for (ONode<COutlineItem>* item = list.GetItems().GetHead(); item; item = item->next) {
        ++items;
        bytes += malloc_usable_size(item) + sizeof(size_t);
        for (ONode<COutlineNode>* node = item->value.nodes.GetHead(); node; node = node->next) {
            ++nodes;
            bytes += malloc_usable_size(node) + sizeof(size_t);
        }
    }
    return bytes;
}

long PeakKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentKb()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int RunLineweft(const char* pbmPath, const char* outPath)
{
    CRasterLibraryGuard library;
    CRasterSrc source;
    if (!ReadFramedPbm(source, pbmPath)) {
        std::fprintf(stderr, "thinning_bench: cannot read %s\n", pbmPath);
        return 1;
    }
    const long baseKb = CurrentKb();
    const double rasterBytes = static_cast<double>(source.GetRowBytes()) * source.GetHeight();
    double first = 0, second = 0;
    {
        CRasterSrc working;
        if (!working.Copy(source))
            return 1;
        auto start = Clock::now();
        if (!ThinFirstStep(working, nullptr))
            return 1;
        first = Since(start);
        if (!WritePbm(working, outPath))
            return 1;
        start = Clock::now();
        if (!ThinSecondStep(working, nullptr))
            return 1;
        second = Since(start);
    }
    COutlineList list(&source);
    auto start = Clock::now();
    if (!list.TraceCenterLines(nullptr))
        return 1;
    const double trace = Since(start);
    size_t items = 0, nodes = 0;
    const size_t itemBytes = ItemBytes(list, items, nodes);
    const long peakKb = PeakKb();
    const double ratio = (peakKb * 1024.0 - (baseKb * 1024.0 - rasterBytes) - static_cast<double>(itemBytes)) / rasterBytes;
    std::printf("kernel %.4f\n", first + second);
    std::printf("lineweft: thin first step %.3f s, second step %.3f s; whole centre-line trace %.3f s "
                "(%zu chains, %zu nodes, %.1f MB)\n",
                first, second, trace, items, nodes, itemBytes / 1e6);
    std::printf("lineweft: one-bit raster %.1f MB, peak %.1f MB, peak - process base - items = %.2f x raster "
                "(goal <= 4)\n",
                rasterBytes / 1e6, peakKb / 1e3, ratio);
    return 0;
}

int RunOpenCv(const char* pbmPath, const char* outPath)
{
    CRasterLibraryGuard library;
    cv::Mat src;
    CRasterSrc skeleton;
    {
        CRasterSrc source;
        if (!ReadFramedPbm(source, pbmPath)) {
            std::fprintf(stderr, "thinning_bench: cannot read %s\n", pbmPath);
            return 1;
        }
        src = ToMat(source);
    }
    cv::Mat dst;
    auto start = Clock::now();
    cv::ximgproc::thinning(src, dst, cv::ximgproc::THINNING_ZHANGSUEN);
    const double seconds = Since(start);
    std::printf("kernel %.4f\n", seconds);
    std::printf("opencv: thinning %.3f s (%d threads available to OpenCV)\n", seconds, cv::getNumThreads());
    src.release();
    if (!skeleton.Create(dst.cols, dst.rows, 1))
        return 1;
    for (int y = 0; y < dst.rows; ++y)
        for (int x = 0; x < dst.cols; ++x)
            skeleton.SetPixelBit(x, y, dst.ptr<BYTE>(y)[x] != 0);
    return WritePbm(skeleton, outPath) ? 0 : 1;
}

// Pixels where two skeletons of the framed page differ.
bool Differ(const char* pagePath, const char* aPath, const char* bPath)
{
    CRasterLibraryGuard library;
    CRasterSrc page, a, b;
    if (!ReadFramedPbm(page, pagePath) || !ReadPbm(a, aPath) || !ReadPbm(b, bPath) || a.GetWidth() != b.GetWidth() ||
        a.GetHeight() != b.GetHeight())
        return false;
    long long differ = 0;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            differ += a.GetPixelIndex(x, y) != b.GetPixelIndex(x, y);
    std::printf("page %lld black pixels, Zhang-Suen skeleton %lld; pixels that differ from OpenCV's: %lld\n",
                CountPixels(page), CountPixels(a), differ);
    return true;
}

struct Figures {
    double wall = 0;
    double kernel = 0;
    long peakKb = 0;
    std::string output;
    bool ok = false;
};

// Runs this program in another mode and reads what it prints.
Figures Measure(const std::vector<std::string>& command)
{
    Figures figures;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return figures;
    auto start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::vector<char*> argv;
        for (const std::string& arg : command)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        figures.output.append(buffer, static_cast<size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0)
        return figures;
    figures.wall = Since(start);
    figures.peakKb = usage.ru_maxrss;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                 std::sscanf(figures.output.c_str(), "kernel %lf", &figures.kernel) == 1;
    return figures;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Compare(const char* self, const char* pbmPath, int runs, const std::string& work)
{
    const std::string lwOut = work + "/lineweft-skeleton.pbm", cvOut = work + "/opencv-skeleton.pbm";
    struct Series {
        const char* name;
        std::vector<std::string> command;
        std::vector<double> kernels, walls;
        long peakKb = 0;
        std::string lastOutput;
    };
    std::vector<Series> series = {{"lineweft thinning", {self, "lineweft", pbmPath, lwOut}, {}, {}, 0, {}},
                                  {"opencv thinning", {self, "opencv", pbmPath, cvOut}, {}, {}, 0, {}}};
    for (int run = 0; run < runs; ++run)
        for (Series& s : series) {
            Figures f = Measure(s.command);
            if (!f.ok) {
                std::fprintf(stderr, "thinning_bench: %s failed\n%s", s.name, f.output.c_str());
                return 1;
            }
            s.kernels.push_back(f.kernel);
            s.walls.push_back(f.wall);
            s.peakKb = std::max(s.peakKb, f.peakKb);
            s.lastOutput = f.output;
            std::printf("  run %d %-18s kernel %8.3f s  process %8.2f s  peak %6ld MB\n", run + 1, s.name, f.kernel,
                        f.wall, f.peakKb / 1000);
            std::fflush(stdout);
        }
    std::printf("\n");
    for (const Series& s : series) {
        const char* details = std::strchr(s.lastOutput.c_str(), '\n');
        std::printf("%s", details ? details + 1 : "");
    }
    std::printf("\nmedians over %d runs:\n", runs);
    for (const Series& s : series)
        std::printf("  %-18s kernel %8.3f s  process %8.2f s  peak %6ld MB\n", s.name, Median(s.kernels),
                    Median(s.walls), s.peakKb / 1000);
    std::printf("time ratio lineweft / opencv (thinning kernels): %.3f (goal <= 0.2)\n",
                Median(series[0].kernels) / Median(series[1].kernels));
    return Differ(pbmPath, lwOut.c_str(), cvOut.c_str()) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 4)
        return MakePage(argv[2], argv[3]);
    if (mode == "band" && argc == 5)
        return MakeBand(argv[2], argv[3], std::atoi(argv[4]));
    if (mode == "lineweft" && argc == 4)
        return RunLineweft(argv[2], argv[3]);
    if (mode == "opencv" && argc == 4)
        return RunOpenCv(argv[2], argv[3]);
    if (mode == "compare" && argc == 5)
        return Compare("/proc/self/exe", argv[2], std::max(1, std::atoi(argv[3])), argv[4]);
    std::fprintf(stderr, "usage: thinning_bench make GREY.bmp OUT.pbm | band IN.pbm OUT.pbm ROWS | lineweft IN.pbm OUT.pbm | "
                         "opencv IN.pbm OUT.pbm | compare IN.pbm RUNS WORKDIR\n");
    return 2;
}
