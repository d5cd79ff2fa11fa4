// filters_bench: the median filters and convolution templates on the
// synthetic A0 page, Lineweft against OpenCV and ImageMagick, each on one
// thread, printing the time ratios.
//
//   filters_bench compare GREY.bmp RGB.bmp RUNS [full]
//
// Lineweft and OpenCV run in this process on images already in memory (the
// median of RUNS runs, each on a fresh copy that is not timed). ImageMagick
// runs as a process once per operation; its time is that run less a run
// that only reads the file, so loading is left out on every side. With
// "full", ImageMagick's 5 x 5 colour median (several minutes) runs too.
#include "raster/freeimage_api.h"

#include "raster/median.h"
#include "raster/pixel_ops.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The median time of f on a fresh copy of the image.
double TimeLineweft(const CRasterSrc& source, int runs, const std::function<bool(CRasterSrc&)>& f)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        CRasterSrc image;
        if (!image.Copy(source)) {
            std::fprintf(stderr, "filters_bench: out of memory\n");
            std::exit(1);
        }
        auto start = Clock::now();
        if (!f(image)) {
            std::fprintf(stderr, "filters_bench: a Lineweft operation failed\n");
            std::exit(1);
        }
        times.push_back(Since(start));
    }
    return Median(times);
}

double TimeOpenCv(const cv::Mat& source, int runs, const std::function<void(const cv::Mat&, cv::Mat&)>& f)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        cv::Mat out;
        auto start = Clock::now();
        f(source, out);
        times.push_back(Since(start));
    }
    return Median(times);
}

// Seconds of one ImageMagick run on one thread, output discarded.
double RunMagick(const std::string& in, const std::vector<std::string>& operation)
{
    const char* magick = std::getenv("IMAGEMAGICK_CONVERT");
    std::vector<std::string> args = {magick && *magick ? magick : "convert", in, "-limit", "thread", "1"};
    args.insert(args.end(), operation.begin(), operation.end());
    args.push_back("null:");
    auto start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "filters_bench: ImageMagick failed\n");
        std::exit(1);
    }
    return Since(start);
}

struct Magick {
    std::string file;
    double readOnly = 0;
    double Time(const std::vector<std::string>& operation) const
    {
        return std::max(0.001, RunMagick(file, operation) - readOnly);
    }
};

void Report(const char* what, double lineweft, const char* peer, double theirs, const char* goal, double limit)
{
    double ratio = lineweft / theirs;
    std::printf("%-34s lineweft %7.3f s  %-11s %8.3f s  ratio %6.3f  goal %s %.2f: %s\n", what, lineweft, peer, theirs,
                ratio, goal, limit, ratio <= limit ? "met" : "MISSED");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5 || std::string(argv[1]) != "compare") {
        std::fprintf(stderr, "usage: filters_bench compare GREY.bmp RGB.bmp RUNS [full]\n");
        return 2;
    }
    const std::string greyFile = argv[2], rgbFile = argv[3];
    const int runs = std::max(1, std::atoi(argv[4]));
    const bool full = argc > 5 && std::string(argv[5]) == "full";
    CRasterLibraryGuard library;
    cv::setNumThreads(1);

    CRasterSrc grey, rgb;
    if (!grey.Load(greyFile) || !rgb.Load(rgbFile)) {
        std::fprintf(stderr, "filters_bench: cannot read the scans\n");
        return 1;
    }
    cv::Mat cvGrey = cv::imread(greyFile, cv::IMREAD_UNCHANGED);
    cv::Mat cvRgb = cv::imread(rgbFile, cv::IMREAD_UNCHANGED);
    std::printf("A0 page %d x %d, one thread each, median of %d runs (ImageMagick once)\n", grey.GetWidth(),
                grey.GetHeight(), runs);

    // Grey median against OpenCV's medianBlur.
    for (int size : {3, 5}) {
        double lw = TimeLineweft(grey, runs, [&](CRasterSrc& im) { return GreyMedianFilter(im, size); });
        double cv = TimeOpenCv(cvGrey, runs, [&](const cv::Mat& in, cv::Mat& out) { cv::medianBlur(in, out, size); });
        std::string what = "grey median " + std::to_string(size) + "x" + std::to_string(size);
        Report(what.c_str(), lw, "OpenCV", cv, "<=", 1.5);
    }

    // Colour median and templates against ImageMagick.
    Magick magickRgb{rgbFile, RunMagick(rgbFile, {})};
    Magick magickGrey{greyFile, RunMagick(greyFile, {})};
    for (int size : {3, 5}) {
        if (size == 5 && !full)
            continue;
        double lw = TimeLineweft(rgb, runs, [&](CRasterSrc& im) { return ColorMedianFilter(im, size); });
        std::string window = std::to_string(size) + "x" + std::to_string(size);
        double im = magickRgb.Time({"-statistic", "Median", window});
        Report(("colour median " + window).c_str(), lw, "ImageMagick", im, "<=", 0.2);
    }
    const double blur[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    const double fraction[9] = {0.25, -0.5, 0.125, 1.5, 2.0, -0.75, 0.1, 0.2, 0.3};
    const char* blurText = "3x3:1,1,1,1,1,1,1,1,1";
    const char* fractionText = "3x3:0.25,-0.5,0.125,1.5,2.0,-0.75,0.1,0.2,0.3";
    struct Case {
        const char* what;
        const CRasterSrc& image;
        const Magick& magick;
        const double* k;
        const char* text;
    } cases[] = {
        {"colour template 3x3 integers", rgb, magickRgb, blur, blurText},
        {"colour template 3x3 fractions", rgb, magickRgb, fraction, fractionText},
        {"grey template 3x3 integers", grey, magickGrey, blur, blurText},
        {"grey template 3x3 fractions", grey, magickGrey, fraction, fractionText},
    };
    for (const Case& c : cases) {
        double lw = TimeLineweft(c.image, runs, [&](CRasterSrc& im) {
            return CRasterProcess(im, nullptr).ApplyTemplate(3, 3, 1, 1, c.k, 0.1111);
        });
        double im = c.magick.Time({"-morphology", "Correlate", c.text});
        Report(c.what, lw, "ImageMagick", im, "<=", 0.2);
    }
    // For reference, OpenCV's filter2D on the same colour kernel.
    {
        cv::Mat kernel(3, 3, CV_64F, const_cast<double*>(fraction));
        double lw = TimeLineweft(rgb, runs, [&](CRasterSrc& im) {
            return CRasterProcess(im, nullptr).ApplyTemplate(3, 3, 1, 1, fraction, 0.1111);
        });
        double cv = TimeOpenCv(cvRgb, runs,
                               [&](const cv::Mat& in, cv::Mat& out) { cv::filter2D(in, out, -1, kernel * 0.1111); });
        std::printf("%-34s lineweft %7.3f s  OpenCV      %8.3f s  ratio %6.3f  (no goal)\n",
                    "colour template 3x3 fractions", lw, cv, lw / cv);
    }

    // One-bit kernels on the page made one-bit: no peer, times only.
    CRasterSrc bits;
    if (!bits.Copy(grey) || !bits.ConvertTo1Bit(127))
        return 1;
    for (int size : {3, 5}) {
        double lw = TimeLineweft(bits, runs, [&](CRasterSrc& im) {
            CBinaryMedianFilter filter;
            return filter.SetSize(size) && filter.Apply(im);
        });
        std::printf("%-34s lineweft %7.3f s\n",
                    ("one-bit majority " + std::to_string(size) + "x" + std::to_string(size)).c_str(), lw);
    }
    double holes = TimeLineweft(bits, runs, [](CRasterSrc& im) { return SmoothFilter(im, 2); });
    std::printf("%-34s lineweft %7.3f s\n", "one-bit fill holes, 2 passes", holes);
    double turn = TimeLineweft(bits, runs, [](CRasterSrc& im) { return Rotate1Bit(im, 90); });
    std::printf("%-34s lineweft %7.3f s\n", "one-bit quarter turn", turn);
    double slant = TimeLineweft(bits, runs, [](CRasterSrc& im) { return Rotate1Bit(im, 1.5); });
    std::printf("%-34s lineweft %7.3f s\n", "one-bit turn by 1.5 degrees", slant);
    return 0;
}
