#pragma once
// Line widths of traced centre lines, measured on the one-bit raster they
// were traced from, and the clean-up of the hooks that thinning leaves at
// line ends.
//
// A width lives in the start width of the vertex that begins a segment, in
// raster pixels. Polyline coordinates are world coordinates (y up): the pixel
// of (x, y) on a raster of height H is column round(x), row H - 1 - round(y),
// the inverse of the tracer's node mapping (x, H - 1 - y). Samples whose
// pixel lies outside the raster count as no stroke.
#include "model/point.h"

class CCommonThread;
class CLayer;
class CPolyLine;
class CRasterSrc;
class CTraceOption;

// Stroke thickness across a segment from P in direction d (the segment's
// vector): the two runs of foreground pixels from P's pixel towards
// P +- the perpendicular of d, joined. -10 when neither side has a stroke
// (or P lies outside the raster); 0 for a hairline of up to two pixels.
[[nodiscard]] double SampleStrokeWidth(const CRasterSrc& raster, const frDoublePoint& p, const frDoublePoint& d,
                                       int height);
// Sets the start width of v from samples along the segment v -> v->next.
void MeasureWidthAtVertex(const CRasterSrc& raster, CVertex& v, int height);
// Every vertex that begins a segment gets its measured width. The raster
// must be one bit per pixel; anything else leaves the widths alone.
void CalcLineWidth(CPolyLine& polyline, const CRasterSrc& raster);

// Straightens the thinning hooks at both ends. False when the polyline is
// too short for its width (two vertices, length at most 0.95 x the head's
// width) and is to be deleted.
[[nodiscard]] bool CorrectPolylineEnds(CPolyLine& polyline);
// One end: e the end vertex, n its neighbour, q the next one, h the limit
// half-width, w the end width. A short hook or an end inside the band of
// half-width h round the line q-n is folded onto the line (n slides along
// it, e is deleted); an end segment shorter than 0.01 is simply deleted.
void CorrectPolylineEnd(CPolyLine& polyline, CVertex* e, CVertex* n, CVertex* q, double h, double w);

// The layer commands. CalcLineWidths measures every polyline (positions 0 to
// 50), then corrects the ends of each (50 to 100), removing and deleting the
// polylines that turn out too short. RoundWidths rounds every entity's widths
// to the options' width series at the resolution (dots per metre). Both
// test the stop flag after each entity (end code 10, false) and return true
// when they ran to the end.
[[nodiscard]] bool CalcLineWidths(CLayer& layer, CCommonThread* sink, const CRasterSrc& raster);
[[nodiscard]] bool RoundWidths(CLayer& layer, CCommonThread* sink, double resolution, const CTraceOption& options);
