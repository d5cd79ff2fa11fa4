#pragma once
// SVG framing: an XML declaration, one <svg> sized by the drawing's page in
// its unit, and one group per layer holding its entities' paths.
//
// The page is the box of the raster and every layer's entities; y is flipped
// about the page's top (drawing y up, SVG y down).
#include <cstdio>
#include <string>

class CGraph;

// The page box {min x, max x, min y, max y} in raster pixels: the raster's box
// merged with every layer's, or 0..1 in both directions when nothing has
// extents.
void GetSvgPageBox(const CGraph& drawing, double* box);

// Writes the whole document to an open stream. Entities whose class has no
// SVG record yet are left out. False at the first failed write or entity
// record, with a message in *error when given.
[[nodiscard]] bool WriteSVGFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error);
