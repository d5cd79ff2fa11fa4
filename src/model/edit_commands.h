#pragma once
// Helpers of the drawing's editing commands (the commands themselves are
// CGraph members, declared in graph.h): the geometry the drawing commands
// agree on, and the names of the width layers.
#include <memory>
#include <string>
#include <vector>

#include "model/point.h"

class CGraph;
class CGraphUndoItem;
class CSelectNode;

// Circles and arcs smaller than this are not drawn.
constexpr double MIN_DRAWN_RADIUS = 1e-5;

// The circle through three points; false when two of them coincide, they
// are collinear, or the circle is not finite.
[[nodiscard]] bool CircleThroughPoints(const frDoublePoint& p1, const frDoublePoint& p2, const frDoublePoint& p3,
                                       frDoublePoint* centre, double* radius);

// The arc from start through middle to end, counter-clockwise from the
// returned start angle to the end angle (radians in [0, TWO_PI)); the ends
// are exchanged when the arc through the points runs clockwise. False when
// the points admit no circle or its radius is below MIN_DRAWN_RADIUS.
[[nodiscard]] bool ArcThroughPoints(const frDoublePoint& start, const frDoublePoint& middle, const frDoublePoint& end,
                                    frDoublePoint* centre, double* radius, double* startAngle, double* endAngle);

// The layer name of a width: four decimals in the C locale, the decimal
// point as "_" ("0_5000").
[[nodiscard]] std::string WidthLayerName(double width);

// Makes the grips of the nodes' entities again (after their shapes changed);
// the current grip is set again to the same node and index when it still
// exists.
void RebuildSelectionGrips(CGraph& drawing, const std::vector<CSelectNode*>& nodes);

// A record of the drawing's settings as they are now (CGraphUndoItem kind 0)
// named by the UI text of the key, to push once the settings have changed;
// null when memory is short.
[[nodiscard]] std::unique_ptr<CGraphUndoItem> NewSettingsUndo(CGraph* drawing, const char* key, const char* english);
