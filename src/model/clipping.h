#pragma once
// Clipping to the visible world box before anything reaches the device, so
// that coordinates stay small and shapes reaching far outside the window are
// still filled correctly inside it.
//
// The box is xmin, ymin, xmax, ymax with its edges included. A clipped end is
// reported with the edge it was moved onto (ClipEdge); the polygon clippers
// use those reports, and the corners of the box, to keep the fill of every
// point inside the box as it was. Everything here is re-entrant.
#include <cstdint>
#include <vector>

#include "model/point.h"

enum ClipEdge : std::int16_t {
    kClipEdgeNone = 0,    // the end was not moved
    kClipEdgeBottom = 1,  // y = ymin
    kClipEdgeRight = 2,   // x = xmax
    kClipEdgeTop = 3,     // y = ymax
    kClipEdgeLeft = 4,    // x = xmin
};

enum ClipCorner : int {
    kCornerBL = 0,
    kCornerBR = 1,
    kCornerTR = 2,
    kCornerTL = 3,
};

// Quadrant of (x, y) about (x0, y0), counter-clockwise from 0 (x > x0 and
// y >= y0); -1 when the points are equal.
std::int16_t PointQuadrant(double x0, double y0, double x, double y);

// 0 on the boundary, -1 outside, 1 inside with a positive winding, 2 inside
// with a negative winding. The polygon closes from its last point to its
// first; z is not used.
std::int16_t PointInPolygon(double x, double y, double z, const frDoublePoint* points, int count);

// Clips the segment in place; false when no part of it is visible. Each code
// says on which edge the new end lies (kClipEdgeNone when the end was kept).
bool ClipSegmentToRect(double xmin, double ymin, double xmax, double ymax, double& x1, double& y1, double& x2,
                       double& y2, std::int16_t& code1, std::int16_t& code2);

// The closed polygon clipped for a WINDING fill: every point strictly inside
// the box keeps its winding number, whichever way the polygon runs, so the
// result fills the same under either fill rule. False when nothing is
// inside; a polygon that surrounds the box gives BL, BR, TR, TL.
bool ClipPolygonWinding(double xmin, double ymin, double xmax, double ymax, const frDoublePoint* points, int count,
                        std::vector<frDoublePoint>& out);

// The closed polygon clipped for an ALTERNATE fill: every point strictly
// inside the box keeps the parity of its winding number. A polygon that
// surrounds the box gives BR, TR, TL, BL.
bool ClipPolygonEvenOdd(double xmin, double ymin, double xmax, double ymax, const frDoublePoint* points, int count,
                        std::vector<frDoublePoint>& out);

// Each outline (counts[i] points, one after another in points) is clipped
// for an ALTERNATE fill; the counts of the outlines that remain are written,
// compacted, to the front of counts and their points appended to out.
bool ClipPolyPolygon(double xmin, double ymin, double xmax, double ymax, const frDoublePoint* points, int* counts,
                     int outlineCount, std::vector<frDoublePoint>& out, int& newOutlineCount);
