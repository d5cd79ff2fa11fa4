// curves_bench: the figures of bench/curves_bench.sh for one drawing.
//
//   curves_bench trace TRUTH|sheet|tangle-SEED METHOD [KEY=VALUE...]
//       rasterise (3 px round pen), trace by METHOD (centerline or outline)
//       with the default options changed by the job-file keys given, and print
//       the figures: max distance, covered share, circles found, polygons
//       made curves;
//   curves_bench pbm TRUTH|sheet|tangle-SEED OUT.pbm     the raster for
//       another tracer;
//   curves_bench measure TRUTH|sheet|tangle-SEED TRACED  figures of another
//       tracer's
//       lines (TRACED in the same format, pixels of the same raster).
// With CURVES_DUMP=FILE, trace writes the traced lines to FILE; with
// CURVES_DEBUG set it prints where the farthest point lies, the traced lines
// near it, and what was traced near each true circle.
#include <chrono>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <string>

#include "raster/raster_src.h"
#include "support/ground_truth.h"
#include "trace/option_text.h"
#include "trace/trace_option.h"

namespace gt = ground_truth;

namespace {

constexpr double kPen = 3.0;

bool Load(const char* name, gt::Drawing& drawing)
{
    if (std::strcmp(name, "sheet") == 0) {
        drawing = gt::SyntheticSheet();
        return true;
    }
    if (std::strncmp(name, "tangle-", 7) == 0) {
        drawing = gt::Tangle(std::strtoull(name + 7, nullptr, 10));
        return true;
    }
    return gt::ReadDrawing(name, drawing);
}

void Print(const gt::Figures& f, double seconds)
{
    std::printf("%.2f %.4f %d %d %d %d %.3f\n", f.maxDistance, f.covered, f.circlesFound, f.circles, f.polygonsCurved,
                f.polygons, seconds);
}

bool WritePbm(const gt::Drawing& drawing, const char* path)
{
    CRasterSrc image;
    if (!gt::Rasterise(drawing, kPen, image))
        return false;
    std::FILE* out = std::fopen(path, "wb");
    if (!out)
        return false;
    std::fprintf(out, "P4\n%d %d\n", drawing.width, drawing.height);
    for (int y = 0; y < drawing.height; ++y) {
        for (int x0 = 0; x0 < drawing.width; x0 += 8) {
            unsigned byte = 0;
            for (int b = 0; b < 8; ++b)
                if (x0 + b < drawing.width && image.GetPixelIndex(x0 + b, y) != 0)
                    byte |= 0x80u >> b;
            std::fputc(static_cast<int>(byte), out);
        }
    }
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    gt::Drawing truth;
    if (!Load(argv[2], truth)) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 1;
    }
    const std::string mode = argv[1];
    if (mode == "pbm")
        return WritePbm(truth, argv[3]) ? 0 : 1;
    if (mode == "measure") {
        gt::Drawing other;
        if (!gt::ReadDrawing(argv[3], other))
            return 1;
        Print(gt::Measure(truth, gt::FromDrawing(other), kPen), 0);
        return 0;
    }
    CTraceOption options;
    options.i_AutoTraceWhat = std::strcmp(argv[3], "outline") == 0 ? TRACE_OUTLINE : TRACE_CENTER_LINE;
    std::string error;
    if (!ApplyJobSettings(std::vector<std::string>(argv + 4, argv + argc), options, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    gt::Traced traced;
    const auto start = std::chrono::steady_clock::now();
    if (!gt::TraceDrawing(truth, kPen, options, traced)) {
        std::fprintf(stderr, "the trace failed\n");
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const gt::Figures figures = gt::Measure(truth, traced, kPen);
    Print(figures, seconds);
    if (const char* dump = std::getenv("CURVES_DUMP")) {
        if (std::FILE* out = std::fopen(dump, "w")) {
            for (const auto& line : traced.lines) {
                std::fprintf(out, "line");
                for (const gt::Point& p : line)
                    std::fprintf(out, " %.2f %.2f", p.x, p.y);
                std::fprintf(out, "\n");
            }
            std::fclose(out);
        }
    }
    if (std::getenv("CURVES_DEBUG")) {
        std::printf("farthest at %.1f %.1f\n", figures.farthest.x, figures.farthest.y);
        for (const auto& line : traced.lines) {
            bool near = false;
            for (const gt::Point& p : line)
                near = near || std::hypot(p.x - figures.farthest.x, p.y - figures.farthest.y) < 40;
            if (!near)
                continue;
            std::printf("line:");
            for (const gt::Point& p : line)
                if (std::hypot(p.x - figures.farthest.x, p.y - figures.farthest.y) < 60)
                    std::printf(" %.1f,%.1f", p.x, p.y);
            std::printf("\n");
        }
        for (const gt::Circle& c : truth.circles) {
            std::printf("true %.1f %.1f r %.1f:", c.centre.x, c.centre.y, c.radius);
            for (const gt::Circle& f : traced.circles)
                if (std::hypot(f.centre.x - c.centre.x, f.centre.y - c.centre.y) < c.radius)
                    std::printf(" circle %.1f %.1f r %.1f", f.centre.x, f.centre.y, f.radius);
            int arcs = 0;
            for (const gt::Circle& f : traced.curves)
                arcs += std::hypot(f.centre.x - c.centre.x, f.centre.y - c.centre.y) < 3;
            std::printf(" curves near %d\n", arcs);
        }
    }
    return 0;
}
