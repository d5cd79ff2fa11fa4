#pragma once
// Ground truth for tracing: drawings kept as geometry (centre lines and true
// circles, in raster pixels: x right, y down, pixel centres on whole
// numbers), rasterised with a round pen, traced, and the trace measured
// against the geometry. Shared by the trace tests and the curves bench.
//
// Distances are taken from points sampled every kSampleStep along the traced
// lines and arcs to the nearest true centre line, and back from the true
// centre line to the trace (the share within kNearTrace).
#include <cstdint>
#include <string>
#include <vector>

#include "trace/trace_option.h"

class CGraph;
class CLayer;
class CRasterSrc;

namespace ground_truth {

inline constexpr double kSampleStep = 0.25;
inline constexpr double kNearTrace = 2.0;    // a true point this near the trace is covered
inline constexpr double kCircleMatch = 2.0;  // centre and radius of a found circle
inline constexpr double kFarCap = 500.0;     // distances are not searched beyond this

struct Point {
    double x = 0, y = 0;
};
struct Circle {
    Point centre;
    double radius = 0;
};
// A regular polygon of the synthetic sheet.
struct Polygon {
    Point centre;
    double radius = 0;  // circumradius
    int sides = 0;
};

struct Drawing {
    int width = 0, height = 0;
    int texts = 0;                          // text entities the reader skipped
    std::vector<std::vector<Point>> lines;  // centre lines, curves flattened
    std::vector<Circle> circles;            // the true circles among them
    std::vector<Polygon> polygons;          // the synthetic sheet's polygons
};

// A drawing written by bench/dxf_truth.py. False when it cannot be read.
[[nodiscard]] bool ReadDrawing(const std::string& path, Drawing& out);

// Circles of radius 12, 16, 25, 40, 60 and 150 and squares, hexagons,
// octagons and triangles of circumradius 12 to 100, in rows.
[[nodiscard]] Drawing SyntheticSheet();
// A random walk of 500 steps of 18 to 32 pixels folded back on itself in a
// 640-pixel square: strokes cross at every angle, leaving junctions
// everywhere and blobs that measure wider than the pen. The same seed gives
// the same walk with every standard library.
[[nodiscard]] Drawing Tangle(std::uint64_t seed);
// A circle or polygon added to a drawing as its flattened centre line.
void AddCircle(Drawing& drawing, Point centre, double radius);
void AddPolygon(Drawing& drawing, Point centre, double radius, int sides, double turn);

// The drawing's centre lines drawn with a round pen of the given width into
// a new one-bit raster of the drawing's size (ink is 1).
[[nodiscard]] bool Rasterise(const Drawing& drawing, double penWidth, CRasterSrc& image);

// What a trace made, in the drawing's pixels.
struct Traced {
    std::vector<std::vector<Point>> lines;  // every entity flattened
    std::vector<Circle> circles;            // circles, and closed polylines of half circles
    std::vector<Circle> curves;             // every circle, arc and bulge segment (centre, radius)
    // The trace followed the borders of the ink: a true circle is a ring
    // with an outer border and a hole, half the pen's width either side.
    bool borders = false;
};
// The entities of a layer traced from a raster of the given height.
[[nodiscard]] Traced Collect(CLayer& layer, int height);
// Lines from a file in the format of ReadDrawing (another tracer's output).
[[nodiscard]] Traced FromDrawing(const Drawing& drawing);

struct Figures {
    double maxDistance = 0;  // farthest traced point from the true centre line
    Point farthest;          // where it is
    double covered = 0;      // share of the true centre line within kNearTrace of the trace
    int circles = 0;         // true circles
    int circlesFound = 0;    // every border of the ring a circle of its own
    int polygons = 0;        // polygons whose sides stand off their circle by >= 1.5 pen widths
    int polygonsCurved = 0;  // of them, made a circle or arc
};
[[nodiscard]] Figures Measure(const Drawing& truth, const Traced& traced, double penWidth);

// Rasterises the drawing, traces it with the options (its one-bit raster
// stays in the drawing) and collects the result; false when the run failed.
[[nodiscard]] bool TraceDrawing(const Drawing& truth, double penWidth, const CTraceOption& options, Traced& traced);

}  // namespace ground_truth
