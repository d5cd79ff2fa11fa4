// resample_bench: Lanczos3 resampling of a scan, Lineweft against
// ImageMagick ("-filter Lanczos -resize") and OpenCV ("resize"), all on one
// thread.
//
//   resample_bench compare IN.bmp WIDTH HEIGHT RUNS WORKDIR
//       Lineweft and OpenCV in this process, timing the resampling alone;
//       ImageMagick and Lineweft as whole processes (load, resample, write a
//       BMP), with ImageMagick's load-and-write alone subtracted to estimate
//       its resampling time. Prints medians and ratios.
//   resample_bench lineweft IN.bmp OUT.bmp WIDTH HEIGHT
//       one resampling by Lineweft as a process (what compare runs).
//
// OpenCV's Lanczos is an 8-tap kernel of four lobes that is not widened when
// shrinking, so it does less work per pixel than a filter that lets every
// source pixel contribute; its ratio is printed for reference.
#include "bench_support.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "raster/resample.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int RunLineweft(const std::string& in, const std::string& out, int width, int height)
{
    CRasterLibraryGuard library;
    CRasterSrc image;
    if (!image.Load(in) || !image.Resample(width, height, 0, CLanczos3Filter()) || !image.SaveBMP(out)) {
        std::fprintf(stderr, "resample_bench: Lineweft could not resample %s\n", in.c_str());
        return 1;
    }
    return 0;
}

// The image as an OpenCV matrix, top row first: grey or blue, green, red.
cv::Mat ToMat(const CRasterSrc& image)
{
    const int channels = image.GetBitCount() == 8 ? 1 : 3;
    cv::Mat mat(image.GetHeight(), image.GetWidth(), channels == 1 ? CV_8UC1 : CV_8UC3);
    for (int y = 0; y < image.GetHeight(); ++y)
        std::memcpy(mat.ptr(y), image.GetRow(y), static_cast<size_t>(image.GetWidth()) * channels);
    return mat;
}

// Mean absolute difference of the samples of two images of one size.
double MeanDifference(const std::string& a, const std::string& b)
{
    CRasterSrc x, y;
    if (!x.Load(a) || !y.Load(b) || x.GetWidth() != y.GetWidth() || x.GetHeight() != y.GetHeight())
        return -1;
    double sum = 0;
    for (int row = 0; row < x.GetHeight(); ++row)
        for (int col = 0; col < x.GetWidth(); ++col) {
            BYTE p[3], q[3];
            x.GetPixelBGR(col, row, p);
            y.GetPixelBGR(col, row, q);
            sum += std::abs(p[0] - q[0]) + std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]);
        }
    return sum / (3.0 * x.GetWidth() * x.GetHeight());
}

struct InProcess {
    std::vector<double> wall, cpu;
};

int Compare(const std::string& self, const std::string& in, int width, int height, int runs, const std::string& work)
{
    CRasterLibraryGuard library;
    cv::setNumThreads(1);
    CRasterSrc source;
    if (!source.Load(in)) {
        std::fprintf(stderr, "resample_bench: cannot read %s\n", in.c_str());
        return 1;
    }
    std::printf("input %s: %d x %d, %d bits per pixel -> %d x %d, Lanczos3, one thread\n", in.c_str(),
                source.GetWidth(), source.GetHeight(), source.GetBitCount(), width, height);

    InProcess lineweft, opencv;
    const cv::Mat mat = ToMat(source);
    for (int run = 0; run < runs; ++run) {
        CRasterSrc image;
        if (!image.Copy(source))
            return 1;
        auto start = BenchClock::now();
        double cpu = ThreadCpuSeconds();
        if (!image.Resample(width, height, 0, CLanczos3Filter()))
            return 1;
        lineweft.cpu.push_back(ThreadCpuSeconds() - cpu);
        lineweft.wall.push_back(Since(start));

        cv::Mat out;
        start = BenchClock::now();
        cpu = ThreadCpuSeconds();
        cv::resize(mat, out, cv::Size(width, height), 0, 0, cv::INTER_LANCZOS4);
        opencv.cpu.push_back(ThreadCpuSeconds() - cpu);
        opencv.wall.push_back(Since(start));
        std::printf("  run %d  lineweft resample cpu %6.2f s   opencv resize cpu %6.2f s\n", run + 1,
                    lineweft.cpu.back(), opencv.cpu.back());
        std::fflush(stdout);
    }

    const std::string convert = ImageMagickConvert();
    const std::string size = std::to_string(width) + "x" + std::to_string(height) + "!";
    const std::vector<std::string> oneThread = {"MAGICK_THREAD_LIMIT=1"};
    std::vector<ProcessSeries> series = {
        {"lineweft process",
         {self, "lineweft", in, work + "/lw.bmp", std::to_string(width), std::to_string(height)},
         oneThread},
        {"imagemagick resize",
         {convert, in, "-filter", "Lanczos", "-resize", size, "BMP3:" + work + "/im.bmp"},
         oneThread},
        {"imagemagick load+write", {convert, in, "BMP3:" + work + "/copy.bmp"}, oneThread},
    };
    for (int run = 0; run < runs; ++run) {
        for (ProcessSeries& s : series) {
            ProcessFigures f = MeasureProcess(s.command, s.environment);
            if (!f.ok) {
                std::fprintf(stderr, "resample_bench: %s failed\n", s.name.c_str());
                return 1;
            }
            s.Add(f);
            std::printf("  run %d  %-24s wall %7.2f s  cpu %7.2f s  peak %6ld MiB\n", run + 1, s.name.c_str(), f.wall,
                        f.cpu, f.peakKb / 1024);
            std::fflush(stdout);
        }
    }

    const double lwCpu = Median(lineweft.cpu), cvCpu = Median(opencv.cpu);
    const double imResize = series[1].MedianCpu() - series[2].MedianCpu();
    std::printf("\nmedians over %d runs:\n", runs);
    std::printf("  lineweft resample (in process)    wall %7.2f s  cpu %7.2f s\n", Median(lineweft.wall), lwCpu);
    std::printf("  opencv resize (in process)        wall %7.2f s  cpu %7.2f s\n", Median(opencv.wall), cvCpu);
    for (const ProcessSeries& s : series)
        std::printf("  %-33s wall %7.2f s  cpu %7.2f s  peak %6ld MiB\n", s.name.c_str(), s.MedianWall(), s.MedianCpu(),
                    s.peakKb / 1024);
    std::printf("  imagemagick resampling alone (cpu of resize - load+write): %.2f s\n", imResize);
    std::printf("time ratio lineweft resample / imagemagick resampling (cpu): %.3f (goal <= 0.5)\n", lwCpu / imResize);
    std::printf("time ratio lineweft process / imagemagick process (cpu): %.3f\n",
                series[0].MedianCpu() / series[1].MedianCpu());
    std::printf("time ratio lineweft resample / opencv resize (cpu): %.3f\n", lwCpu / cvCpu);
    std::printf("mean absolute difference from ImageMagick's result: %.2f grey levels\n",
                MeanDifference(work + "/lw.bmp", work + "/im.bmp"));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "lineweft" && argc == 6)
        return RunLineweft(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
    if (mode == "compare" && argc == 7)
        return Compare(argv[0], argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::max(1, std::atoi(argv[5])),
                       argv[6]);
    std::fprintf(stderr, "usage: resample_bench compare IN.bmp WIDTH HEIGHT RUNS WORKDIR\n"
                         "       resample_bench lineweft IN.bmp OUT.bmp WIDTH HEIGHT\n");
    return 2;
}
