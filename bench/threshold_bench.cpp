// threshold_bench: a raster file to one bit per pixel, Lineweft against
// ImageMagick, each as a whole process (load, convert, write a BMP), in turn.
//
//   threshold_bench compare IN.bmp RUNS WORKDIR
//       runs both RUNS times and prints wall and CPU times, peak memory and
//       the ratio of the medians; ImageMagick once limited to one thread (the
//       same footing as Lineweft) and once with its own thread count.
//   threshold_bench lineweft IN.bmp OUT.bmp
//       one conversion by Lineweft (what compare runs).
#include "raster/freeimage_api.h"

#include "bench_support.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int RunLineweft(const std::string& in, const std::string& out)
{
    CRasterLibraryGuard library;
    CRasterSrc image;
    if (!image.Load(in) || !image.ConvertTo1Bit(kHalfThreshold) || !image.SaveBMP(out)) {
        std::fprintf(stderr, "threshold_bench: Lineweft could not convert %s\n", in.c_str());
        return 1;
    }
    return 0;
}

// Share of pixels on which two 1-bit results differ.
double Disagreement(const std::string& a, const std::string& b)
{
    CRasterSrc x, y;
    if (!x.Load(a) || !y.Load(b) || x.GetWidth() != y.GetWidth() || x.GetHeight() != y.GetHeight())
        return -1;
    if (!x.ConvertTo1Bit(kHalfThreshold) || !y.ConvertTo1Bit(kHalfThreshold))
        return -1;
    long long differ = 0;
    size_t bytes = static_cast<size_t>(x.GetWidth()) / 8;
    for (int row = 0; row < x.GetHeight(); ++row)
        for (size_t i = 0; i < bytes; ++i)
            differ += __builtin_popcount(static_cast<unsigned>(x.GetRow(row)[i] ^ y.GetRow(row)[i]));
    return 100.0 * static_cast<double>(differ) / (static_cast<double>(bytes) * 8 * x.GetHeight());
}

int Compare(const std::string& self, const std::string& in, int runs, const std::string& work)
{
    CRasterLibraryGuard library;
    FIBITMAP* header = FreeImage_Load(FreeImage_GetFIFFromFilename(in.c_str()), in.c_str(), FIF_LOAD_NOPIXELS);
    if (!header) {
        std::fprintf(stderr, "threshold_bench: cannot read %s\n", in.c_str());
        return 1;
    }
    double width = FreeImage_GetWidth(header), height = FreeImage_GetHeight(header);
    double inputMb = width * height * FreeImage_GetBPP(header) / 8 / 1048576.0;
    double planeMb = width * height / 1048576.0;
    std::printf("input %s: %.0f x %.0f, %u bits per pixel, %.0f MiB of pixels\n", in.c_str(), width, height,
                FreeImage_GetBPP(header), inputMb);
    FreeImage_Unload(header);

    // The plain BMP flavour (40-byte header), which every reader takes, like
    // the BMP Lineweft writes.
    std::string convert = ImageMagickConvert();
    std::vector<std::string> imArgs = {
        convert, in, "-colorspace", "Gray", "-threshold", "50%", "BMP3:" + work + "/im.bmp"};
    std::vector<ProcessSeries> series = {
        {"lineweft", {self, "lineweft", in, work + "/lw.bmp"}},
        {"imagemagick (1 thread)", imArgs, {"MAGICK_THREAD_LIMIT=1"}},
        {"imagemagick (own threads)", imArgs},
    };
    for (int run = 0; run < runs; ++run) {
        for (ProcessSeries& s : series) {
            ProcessFigures f = MeasureProcess(s.command, s.environment);
            if (!f.ok) {
                std::fprintf(stderr, "threshold_bench: %s failed\n", s.name.c_str());
                return 1;
            }
            s.Add(f);
            std::printf("  run %d %-26s wall %7.2f s  cpu %7.2f s  peak %6ld MiB\n", run + 1, s.name.c_str(), f.wall,
                        f.cpu, f.peakKb / 1024);
            std::fflush(stdout);
        }
    }
    std::printf("\nmedians over %d runs:\n", runs);
    for (const ProcessSeries& s : series)
        std::printf("  %-26s wall %7.2f s  cpu %7.2f s  peak %6ld MiB\n", s.name.c_str(), s.MedianWall(), s.MedianCpu(),
                    s.peakKb / 1024);
    const ProcessSeries& lw = series[0];
    for (size_t i = 1; i < series.size(); ++i)
        std::printf("time ratio lineweft / %s: %.3f (goal <= 0.333)\n", series[i].name.c_str(),
                    lw.MedianWall() / series[i].MedianWall());
    std::printf("lineweft peak %ld MiB; budget input + one 8-bit plane = %.0f MiB: %s\n", lw.peakKb / 1024,
                inputMb + planeMb, lw.peakKb / 1024.0 <= inputMb + planeMb ? "within" : "OVER");
    std::printf("pixels that differ from ImageMagick's result: %.3f%%\n",
                Disagreement(work + "/lw.bmp", work + "/im.bmp"));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "lineweft" && argc == 4)
        return RunLineweft(argv[2], argv[3]);
    if (mode == "compare" && argc == 5)
        return Compare(argv[0], argv[2], std::max(1, std::atoi(argv[3])), argv[4]);
    std::fprintf(stderr, "usage: threshold_bench compare IN.bmp RUNS WORKDIR\n"
                         "       threshold_bench lineweft IN.bmp OUT.bmp\n");
    return 2;
}
