#pragma once
// Hatching: the fill-pattern method, and the hatch fill of the outline
// method, cover the black areas of a one-bit raster with parallel CLine
// entities at a fixed spacing, horizontal, vertical or both. Each line spans
// one run of black pixels along a raster row or column, from the outer edge
// of its first pixel to the outer edge of its last (pixel x covers drawing x
// - 0.5 to x + 0.5), so a single pixel gives a line one unit long. The lines
// go to the drawing's current layer with its current colour and width.
//
// The scan position starts at 0 and grows by the spacing; the row (column)
// scanned is the position truncated, and the line sits at the unrounded
// position: Y = H - p - 1 for rows, X = q for columns.
#include "platform/win_types.h"

class CCommonThread;
class CGraph;
class CRasterSrc;

// Type 0 horizontal, 1 vertical, 2 cross (horizontal, then vertical when
// that succeeded). Solid (3) and unknown types are refused: false, nothing
// posted.
[[nodiscard]] bool FillPattern(const CRasterSrc& source, UINT type, double spacing, CGraph* drawing,
                               CCommonThread* thread);

// One direction each. False without a drawing or its current layer, for a
// spacing below kMinFillSpace (or not finite) or a raster that is not one
// bit: nothing posted then. A stop posts 10 and a shortage of memory 2, and
// the lines made so far stay. The raster is only read: the run dims its
// palette once the worker has ended, as the display may be drawing it now.
[[nodiscard]] bool FillHorLines(const CRasterSrc& source, double spacing, CGraph* drawing, CCommonThread* thread);
[[nodiscard]] bool FillVerLines(const CRasterSrc& source, double spacing, CGraph* drawing, CCommonThread* thread);
