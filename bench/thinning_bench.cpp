// thinning_bench: thinning of a one-bit page, Lineweft against OpenCV's
// Zhang-Suen thinning (cv::ximgproc::thinning), each in a process of its
// own reading the same PBM file. Built by thinning_bench.sh only: OpenCV is
// a dependency of this program, never of Lineweft.
//
//   thinning_bench make GREY.bmp OUT.pbm
//       thresholds a scan at half grey and writes it as a raw PBM.
//   thinning_bench lineweft IN.pbm
//       thins a copy of the page (both steps), then runs the whole
//       centre-line trace on it; prints the kernel times and the memory.
//   thinning_bench opencv IN.pbm
//       OpenCV's thinning of the same page; prints the kernel time.
//   thinning_bench check IN.pbm
//       counts the pixels where Lineweft's first step and OpenCV differ.
//   thinning_bench compare IN.pbm RUNS
//       runs both RUNS times and prints the medians and their ratio.
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

int RunLineweft(const char* pbmPath)
{
    CRasterLibraryGuard library;
    CRasterSrc source;
    if (!ReadPbm(source, pbmPath)) {
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

int RunOpenCv(const char* pbmPath)
{
    cv::Mat src;
    {
        CRasterLibraryGuard library;
        CRasterSrc source;
        if (!ReadPbm(source, pbmPath)) {
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
    return 0;
}

int Check(const char* pbmPath)
{
    CRasterLibraryGuard library;
    CRasterSrc source;
    if (!ReadPbm(source, pbmPath))
        return 1;
    cv::Mat dst;
    cv::ximgproc::thinning(ToMat(source), dst, cv::ximgproc::THINNING_ZHANGSUEN);
    CRasterSrc working;
    if (!working.Copy(source) || !ThinFirstStep(working, nullptr))
        return 1;
    long long differ = 0, border = 0;
    for (int y = 0; y < working.GetHeight(); ++y) {
        const BYTE* cvRow = dst.ptr<BYTE>(y);
        for (int x = 0; x < working.GetWidth(); ++x) {
            bool ours = working.GetPixelIndex(x, y) != 0;
            bool theirs = cvRow[x] != 0;
            if (ours == theirs)
                continue;
            // OpenCV leaves the outermost rows and columns as they are.
            bool onBorder = x == 0 || y == 0 || x == working.GetWidth() - 1 || y == working.GetHeight() - 1;
            (onBorder ? border : differ) += 1;
        }
    }
    std::printf("check: page %lld black pixels, skeleton %lld; differ from OpenCV inside %lld, on the border %lld\n",
                CountPixels(source), CountPixels(working), differ, border);
    return differ == 0 ? 0 : 1;
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

int Compare(const char* self, const char* pbmPath, int runs)
{
    struct Series {
        const char* name;
        std::vector<std::string> command;
        std::vector<double> kernels, walls;
        long peakKb = 0;
        std::string lastOutput;
    };
    std::vector<Series> series = {{"lineweft thinning", {self, "lineweft", pbmPath}, {}, {}, 0, {}},
                                  {"opencv thinning", {self, "opencv", pbmPath}, {}, {}, 0, {}}};
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
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 4)
        return MakePage(argv[2], argv[3]);
    if (mode == "lineweft" && argc == 3)
        return RunLineweft(argv[2]);
    if (mode == "opencv" && argc == 3)
        return RunOpenCv(argv[2]);
    if (mode == "check" && argc == 3)
        return Check(argv[2]);
    if (mode == "compare" && argc == 4)
        return Compare("/proc/self/exe", argv[2], std::max(1, std::atoi(argv[3])));
    std::fprintf(stderr, "usage: thinning_bench make GREY.bmp OUT.pbm | lineweft IN.pbm | opencv IN.pbm | "
                         "check IN.pbm | compare IN.pbm RUNS\n");
    return 2;
}
