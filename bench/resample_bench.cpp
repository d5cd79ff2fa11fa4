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
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "raster/resample.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct Figures {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds
    long peakKb = 0;
    bool ok = false;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

Figures Measure(const std::vector<std::string>& command, const std::vector<std::string>& environment)
{
    Figures figures;
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        for (const std::string& entry : environment)
            putenv(const_cast<char*>(entry.c_str()));
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
    figures.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
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
        auto start = std::chrono::steady_clock::now();
        double cpu = ThreadCpuSeconds();
        if (!image.Resample(width, height, 0, CLanczos3Filter()))
            return 1;
        lineweft.cpu.push_back(ThreadCpuSeconds() - cpu);
        lineweft.wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

        cv::Mat out;
        start = std::chrono::steady_clock::now();
        cpu = ThreadCpuSeconds();
        cv::resize(mat, out, cv::Size(width, height), 0, 0, cv::INTER_LANCZOS4);
        opencv.cpu.push_back(ThreadCpuSeconds() - cpu);
        opencv.wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::printf("  run %d  lineweft resample cpu %6.2f s   opencv resize cpu %6.2f s\n", run + 1,
                    lineweft.cpu.back(), opencv.cpu.back());
        std::fflush(stdout);
    }

    const char* magick = std::getenv("IMAGEMAGICK_CONVERT");
    const std::string convert = magick && *magick ? magick : "convert";
    const std::string size = std::to_string(width) + "x" + std::to_string(height) + "!";
    struct Series {
        const char* name;
        std::vector<std::string> command;
        std::vector<double> wall, cpu;
        long peakKb = 0;
    };
    std::vector<Series> series = {
        {"lineweft process", {self, "lineweft", in, work + "/lw.bmp", std::to_string(width), std::to_string(height)}, {}, {}},
        {"imagemagick resize", {convert, in, "-filter", "Lanczos", "-resize", size, "BMP3:" + work + "/im.bmp"}, {}, {}},
        {"imagemagick load+write", {convert, in, "BMP3:" + work + "/copy.bmp"}, {}, {}},
    };
    for (int run = 0; run < runs; ++run) {
        for (Series& s : series) {
            Figures f = Measure(s.command, {"MAGICK_THREAD_LIMIT=1"});
            if (!f.ok) {
                std::fprintf(stderr, "resample_bench: %s failed\n", s.name);
                return 1;
            }
            s.wall.push_back(f.wall);
            s.cpu.push_back(f.cpu);
            s.peakKb = std::max(s.peakKb, f.peakKb);
            std::printf("  run %d  %-24s wall %7.2f s  cpu %7.2f s  peak %6ld MiB\n", run + 1, s.name, f.wall, f.cpu,
                        f.peakKb / 1024);
            std::fflush(stdout);
        }
    }

    const double lwCpu = Median(lineweft.cpu), cvCpu = Median(opencv.cpu);
    const double imResize = Median(series[1].cpu) - Median(series[2].cpu);
    std::printf("\nmedians over %d runs:\n", runs);
    std::printf("  lineweft resample (in process)    wall %7.2f s  cpu %7.2f s\n", Median(lineweft.wall), lwCpu);
    std::printf("  opencv resize (in process)        wall %7.2f s  cpu %7.2f s\n", Median(opencv.wall), cvCpu);
    for (const Series& s : series)
        std::printf("  %-33s wall %7.2f s  cpu %7.2f s  peak %6ld MiB\n", s.name, Median(s.wall), Median(s.cpu),
                    s.peakKb / 1024);
    std::printf("  imagemagick resampling alone (cpu of resize - load+write): %.2f s\n", imResize);
    std::printf("time ratio lineweft resample / imagemagick resampling (cpu): %.3f (goal <= 0.5)\n", lwCpu / imResize);
    std::printf("time ratio lineweft process / imagemagick process (cpu): %.3f\n",
                Median(series[0].cpu) / Median(series[1].cpu));
    std::printf("time ratio lineweft resample / opencv resize (cpu): %.3f\n", lwCpu / cvCpu);
    std::printf("mean absolute difference from ImageMagick's result: %.2f grey levels\n",
                MeanDifference(work + "/lw.bmp", work + "/im.bmp"));
    return 0;
}

} // namespace

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
