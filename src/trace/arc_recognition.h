#pragma once
// Circle and arc recognition: traced polylines approximate curves by many
// short segments. Recognition fits circles to runs of vertices: a polyline
// that is one circle or arc as a whole becomes a CCircle or CArc on its
// layer; a shorter circular run inside a polyline becomes one bulge segment;
// the outlines of a polygon set keep their place and take bulges. After the
// centre-line pipeline, arcs of one circle split by the trace are merged
// again (RejoinRecognizedArcs).
//
// The distance tolerance is the straighten distance of the method the run
// traced with (CTraceOption::GetMaxDis), the same one simplification used.
// A tolerance of 0 recognises nothing. The functions work on the option
// record they are given, never on the global one.
//
// During one recognition of a polyline each vertex's `mark` is its visited
// flag; recognition clears the marks of the ring before it walks it.
#include "model/point.h"

class CArc;
class CCommonThread;
class CInkGuard;
class CLayer;
class CPolyLine;
class CPolyPolygon;
class CTraceOption;

// Modes of the polyline recognition: a layer polyline (may be replaced by a
// circle or arc entity), the outer outline of a polygon set (full circles
// turn counter-clockwise) or a hole (clockwise).
enum : int { RECOGNIZE_LAYER_POLYLINE = 0, RECOGNIZE_OUTER_OUTLINE = 1, RECOGNIZE_HOLE_OUTLINE = -1 };
// Modes of the layer command: after the centre-line pipeline (arcs are
// rejoined when connecting is on) and after the outline method.
enum : int { RECOGNIZE_AFTER_CENTER_LINE = 1, RECOGNIZE_AFTER_OUTLINE = 2 };
// Results of the polyline and polygon-set recognition.
enum : int { RECOGNIZE_DONE = 0, RECOGNIZE_NO_LAYER = -1, RECOGNIZE_NO_MEMORY = -2 };

// What a fit may accept: the distance tolerance and the largest radius, and
// the ink of the raster traced, when there is one: the circle between each
// two vertices of a run must then stay within the tolerance (at least one
// pixel) of the ink; without it, the middle of each chord must lie near the
// circle.
//
// The vertices lie on the middles of strokes, or with `borders` on the
// borders between ink and paper that the outline method follows. A border
// stands up to half a pixel's diagonal off the centres of its ink pixels,
// on the side away from the ink, so a circle fitted to a whole border ring
// (a hole, or the outside of a ring or disc) is measured moved that far
// towards the side its ink lies on (not moved where the ring's vertices do
// not tell that side). Arcs of shorter runs are measured where they are:
// measured from the border, they could stand off it by the whole tolerance
// along their length.
struct CCircleFitLimits {
    double maxDis = 0;     // distance of a vertex from the circle; also sets the step limits
    double maxRadius = 0;  // the larger raster dimension
    const CInkGuard* ink = nullptr;
    bool borders = false;
};

// A circle fitted to a run of vertices. The end angle is unwrapped in the
// run's direction (it may lie outside [0, 2 PI)).
struct CCircleFit {
    frDoublePoint centre;
    double radius = 0;
    double startAngle = 0;  // of the first vertex, in [0, 2 PI)
    double endAngle = 0;
    int direction = 1;  // 1 counter-clockwise, -1 clockwise
};

// Fits a circle to the vertices from first to last (first == last on a
// closed polyline: the whole ring). False when the run has fewer than four
// vertices, passes the end of an open polyline, or strays from the circle,
// steps too short or too long, or turns back. The fit is written only on
// success.
[[nodiscard]] bool FitCircleToRun(const CPolyLine& polyline, const CVertex* first, const CVertex* last,
                                  const CCircleFitLimits& limits, CCircleFit* fit);
// The last vertex of the longest circular run from first (first itself when
// the run goes all round a closed ring), with the fit of that run; null when
// not even the run of four vertices fits. The run ends early at a vertex
// that begins an arc segment.
[[nodiscard]] CVertex* FindCircularRun(const CPolyLine& polyline, CVertex* first, const CCircleFitLimits& limits,
                                       CCircleFit* fit);
// Where the run search of a closed ring begins so that no circular run is
// split at the head: the earliest vertex of the circular stretch that holds
// the head, or the head. An open polyline starts at its head. False for an
// empty polyline.
[[nodiscard]] bool FindCircleStart(const CPolyLine& polyline, const CCircleFitLimits& limits, CVertex** start);

// One polyline with the largest admissible radius `size` and a mode above.
// The outlines of a polygon set are fitted as borders, a layer polyline as a
// stroke's middle.
// A layer polyline replaced by a circle or arc (added at the front of its
// layer) is left without vertices for the layer command to delete.
// RECOGNIZE_NO_LAYER for a layer polyline in no layer.
[[nodiscard]] int RecognizeCircles(CPolyLine& polyline, double size, int mode, const CTraceOption& options,
                                   const CInkGuard* ink = nullptr);
// Every outline of the set: the first as the outer outline, the others as
// holes. Marks the set modified.
[[nodiscard]] int RecognizeCircles(CPolyPolygon& polygon, double size, const CTraceOption& options,
                                   const CInkGuard* ink = nullptr);
// The layer command: every polyline and polygon set of the layer, head to
// tail; polylines left with fewer than two vertices are deleted. With mode
// RECOGNIZE_AFTER_CENTER_LINE and connecting on, RejoinRecognizedArcs
// follows. Progress and stop through the sink (may be null); false when
// stopped (run end 10) or out of memory (run end 2). The ink, when given,
// is that of the raster the layer was traced from; with mode
// RECOGNIZE_AFTER_OUTLINE the polylines are fitted as borders.
[[nodiscard]] bool RecognizeCircles(CLayer& layer, CCommonThread* sink, double size, int mode,
                                    const CTraceOption& options, const CInkGuard* ink = nullptr);
// Merges arcs of the layer that CArc::MatchForMerge accepts into one arc or
// a circle, in layer order; progress positions 60 to 100.
[[nodiscard]] bool RejoinRecognizedArcs(CLayer& layer, CCommonThread* sink, const CTraceOption& options);
