#pragma once
// Straightening: traced polylines follow the pixels and zigzag along lines
// that are straight in the drawing. Each maximal run of straight segments
// whose vertices stay within a tolerance of the chord from its first to its
// last vertex is replaced by that chord, which gets one width.
//
// The tolerance is the straighten distance of the tracing method in use
// (CTraceOption::GetMaxDis), widened to half the run's mean width.
//
// Where the raster is at hand, a chord must also keep to the ink
// (CInkGuard::IsChordNearInk): a tolerance measured from the traced vertices
// lets a chord cut across a bend, or across a tangle of strokes whose
// measured widths are inflated.
#include "model/point.h"

class CInkGuard;
class CPolyLine;
class CTraceOption;

// Straightens the whole polyline in place; nothing below three vertices.
// With an active ink guard, a run whose chord would leave the ink is cut
// back to the longest shorter run from the same vertex whose chord keeps
// to it, or left as it is.
void StraightenPolyline(CPolyLine& polyline, double maxDis, const CInkGuard* ink = nullptr);
// The same with the straighten distance of the options' method.
void StraightenPolyline(CPolyLine& polyline, const CTraceOption& options);

// The run first..last (last at least two vertices on) is straight: every
// segment of it straight, widths alike, inside an open ring, every inner
// vertex within the tolerance of the chord.
[[nodiscard]] bool IsStraightRun(const CPolyLine& polyline, const CVertex* first, const CVertex* last, double maxDis);
// The last vertex of the longest straight run from first, or null.
[[nodiscard]] CVertex* FindStraightRun(const CPolyLine& polyline, CVertex* first, double maxDis);
// The width the run's chord takes: 0 for a thin run, the mean when the
// widths are uniform, else the largest.
[[nodiscard]] double StraightRunWidth(const CVertex* first, const CVertex* last);
// Deletes the vertices strictly between first and last and gives first the
// run's width (StraightRunWidth).
void CollapseStraightRun(CPolyLine& polyline, CVertex* first, CVertex* last);
