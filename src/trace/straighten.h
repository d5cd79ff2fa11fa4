#pragma once
// Straightening: traced polylines follow the pixels and zigzag along lines
// that are straight in the drawing. Each maximal run of straight segments
// whose vertices stay within a tolerance of the chord from its first to its
// last vertex is replaced by that chord, which gets one width.
//
// The tolerance is the straighten distance of the tracing method in use
// (CTraceOption::GetMaxDis), widened to half the run's mean width.
#include "model/point.h"

class CPolyLine;
class CTraceOption;

// Straightens the whole polyline in place; nothing below three vertices.
void StraightenPolyline(CPolyLine& polyline, double maxDis);
// The same with the straighten distance of the options' method.
void StraightenPolyline(CPolyLine& polyline, const CTraceOption& options);

// The run first..last (last at least two vertices on) is straight: every
// segment of it straight, widths alike, inside an open ring, every inner
// vertex within the tolerance of the chord.
[[nodiscard]] bool IsStraightRun(const CPolyLine& polyline, const CVertex* first, const CVertex* last, double maxDis);
// The last vertex of the longest straight run from first, or null.
[[nodiscard]] CVertex* FindStraightRun(const CPolyLine& polyline, CVertex* first, double maxDis);
// Deletes the vertices strictly between first and last and gives first the
// run's width: 0 for a thin run, the mean when the widths are uniform, else
// the largest.
void CollapseStraightRun(CPolyLine& polyline, CVertex* first, CVertex* last);
