#pragma once
// Transient feedback the view draws straight onto its window while a
// command runs: rubber bands and object-snap markers. Coordinates are
// window pixels (y down). Each function draws with the XOR-pen raster
// operation and restores the pen, brush and raster operation it found, so
// drawing the same shape again with the same arguments erases it; they keep
// no state. A null DC draws nothing.
//
// CGraph::Draw (graph.h) paints the drawing itself on a drawing device.
#include <cstdint>

#include "platform/colorref.h"
#include "platform/gdi_types.h"

class CDC;

// Half the size of a snap marker, in pixels.
constexpr int SNAP_MARKER_HALF = 5;

void DrawRubberLine(CDC* dc, int x1, int y1, int x2, int y2);
// A crossing box dragged to the left (x2 <= x1) is dotted, any other box
// solid.
void DrawRubberRect(CDC* dc, int x1, int y1, int x2, int y2, bool crossing);
// The circle about c through p, and its radius to p.
void DrawRubberCircle(CDC* dc, int cx, int cy, int px, int py);
// The circle through three points, drawn as DrawRubberCircle through the
// first; false (nothing drawn) when two coincide or they are collinear.
bool DrawRubberCircle3P(CDC* dc, const POINT& p1, const POINT& p2, const POINT& p3);
void DrawRubberEllipse(CDC* dc, int left, int top, int right, int bottom);
// The arc about the centre with the radius of the start point, counter-
// clockwise on screen from the start direction to the end direction, and
// the line from the centre to the end point.
void DrawRubberArc(CDC* dc, const POINT& centre, const POINT& start, const POINT& end);
// The arc from start through middle to end; false when there is none.
bool DrawRubberArc3P(CDC* dc, const POINT& start, const POINT& middle, const POINT& end);
void DrawRubberTriangle(CDC* dc, const POINT& p1, const POINT& p2, const POINT& p3);

// The pen colour of the markers: the object-snap colour of the options with
// its colour bits inverted, so the XOR shows that colour on white.
[[nodiscard]] COLORREF SnapMarkerPenColor();
// The marker of one SnapMode bit centred on (x, y); false, nothing drawn,
// for any other value.
bool DrawSnapMarker(CDC* dc, int x, int y, std::int32_t mode);
void DrawEndPointMarker(CDC* dc, int x, int y);
void DrawMidPointMarker(CDC* dc, int x, int y);
void DrawCenterMarker(CDC* dc, int x, int y);
void DrawHashMarker(CDC* dc, int x, int y);
void DrawQuadrantMarker(CDC* dc, int x, int y);
void DrawIntersectionMarker(CDC* dc, int x, int y);
void DrawPerpendicularMarker(CDC* dc, int x, int y);
void DrawTangentMarker(CDC* dc, int x, int y);
void DrawNearestMarker(CDC* dc, int x, int y);
