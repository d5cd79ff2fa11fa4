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
#include "bench_support.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "trace/outline.h"
#include "trace/thinning.h"

#include <opencv2/core.hpp>
#include <opencv2/ximgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

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
    if (!MakePbmPage(raster, greyPath, pbmPath)) {
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

int RunLineweft(const char* pbmPath, const char* outPath)
{
    CRasterLibraryGuard library;
    CRasterSrc source;
    if (!ReadFramedPbm(source, pbmPath)) {
        std::fprintf(stderr, "thinning_bench: cannot read %s\n", pbmPath);
        return 1;
    }
    const long baseKb = CurrentRssKb();
    const double rasterBytes = static_cast<double>(source.GetRowBytes()) * source.GetHeight();
    double first = 0, second = 0;
    {
        CRasterSrc working;
        if (!working.Copy(source))
            return 1;
        auto start = BenchClock::now();
        if (!ThinFirstStep(working, nullptr))
            return 1;
        first = Since(start);
        if (!WritePbm(working, outPath))
            return 1;
        start = BenchClock::now();
        if (!ThinSecondStep(working, nullptr))
            return 1;
        second = Since(start);
    }
    COutlineList list(&source);
    auto start = BenchClock::now();
    if (!list.TraceCenterLines(nullptr))
        return 1;
    const double trace = Since(start);
    size_t items = 0, nodes = 0;
    const size_t itemBytes = OutlineItemBytes(list, items, nodes);
    const long peakKb = PeakRssKb();
    const double ratio =
        (peakKb * 1024.0 - (baseKb * 1024.0 - rasterBytes) - static_cast<double>(itemBytes)) / rasterBytes;
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
    auto start = BenchClock::now();
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

// Runs this program in another mode and reads the kernel time it prints first.
bool MeasureKernel(const std::vector<std::string>& command, ProcessFigures& figures, double& kernel)
{
    figures = MeasureProcess(command, {}, ChildOutput::Capture);
    return figures.ok && std::sscanf(figures.output.c_str(), "kernel %lf", &kernel) == 1;
}

int Compare(const char* self, const char* pbmPath, int runs, const std::string& work)
{
    const std::string lwOut = work + "/lineweft-skeleton.pbm", cvOut = work + "/opencv-skeleton.pbm";
    struct Series : ProcessSeries {
        using ProcessSeries::ProcessSeries;
        std::vector<double> kernels;
        std::string lastOutput;
    };
    std::vector<Series> series = {{"lineweft thinning", {self, "lineweft", pbmPath, lwOut}},
                                  {"opencv thinning", {self, "opencv", pbmPath, cvOut}}};
    for (int run = 0; run < runs; ++run)
        for (Series& s : series) {
            ProcessFigures f;
            double kernel = 0;
            if (!MeasureKernel(s.command, f, kernel)) {
                std::fprintf(stderr, "thinning_bench: %s failed\n%s", s.name.c_str(), f.output.c_str());
                return 1;
            }
            s.kernels.push_back(kernel);
            s.Add(f);
            s.lastOutput = f.output;
            std::printf("  run %d %-18s kernel %8.3f s  process %8.2f s  peak %6ld MB\n", run + 1, s.name.c_str(),
                        kernel, f.wall, f.peakKb / 1000);
            std::fflush(stdout);
        }
    std::printf("\n");
    for (const Series& s : series) {
        const char* details = std::strchr(s.lastOutput.c_str(), '\n');
        std::printf("%s", details ? details + 1 : "");
    }
    std::printf("\nmedians over %d runs:\n", runs);
    for (const Series& s : series)
        std::printf("  %-18s kernel %8.3f s  process %8.2f s  peak %6ld MB\n", s.name.c_str(), Median(s.kernels),
                    s.MedianWall(), s.peakKb / 1000);
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
    std::fprintf(stderr,
                 "usage: thinning_bench make GREY.bmp OUT.pbm | band IN.pbm OUT.pbm ROWS | lineweft IN.pbm OUT.pbm | "
                 "opencv IN.pbm OUT.pbm | compare IN.pbm RUNS WORKDIR\n");
    return 2;
}
