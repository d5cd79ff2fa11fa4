#pragma once
// File framing of the export formats beside DXF 2000 and SVG: each walks the
// layers head first and writes every entity's record for its format.
//
// Each writes the whole file to an open stream and returns false at the
// first failed write or entity record, with a message in *error when given.
#include <cstdio>
#include <string>

class CGraph;

[[nodiscard]] bool WriteDXFR10File(const CGraph& drawing, std::FILE* file, bool widths, std::string* error);
// The SVG file packed in the gzip format.
[[nodiscard]] bool WriteSVGZFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error);
[[nodiscard]] bool WriteEPSFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error);
// One page, its content stream Flate-compressed; a page of a few points is
// drawn on a finer grid that the page transform scales back.
[[nodiscard]] bool WritePDFFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error);
[[nodiscard]] bool WriteHPGLFile(const CGraph& drawing, std::FILE* file, std::string* error);
// Binary CGM in raster pixels, or on a finer or coarser grid where the page
// needs one to keep its shape within the 16-bit coordinate range; the VDC
// extent is the page box.
[[nodiscard]] bool WriteCGMFile(const CGraph& drawing, std::FILE* file, std::string* error);
// Enhanced Metafile in raster pixels, or on a finer grid for a small page:
// the frame is the page box from device (0, 0), y turned over about its
// top; hidden layers are left out.
[[nodiscard]] bool WriteMetafileFile(const CGraph& drawing, std::FILE* file, bool widths, std::string* error);

// The resolution the scan's own file gave (dots per metre), or 0 when it gave
// none (or 1 dpi or less) or the drawing has no raster image.
[[nodiscard]] double GetScanDotsPerMetre(const CGraph& drawing);
// PostScript points per drawing unit. Pixels of a scan with a resolution are
// 72 / dpi points, so the page has the paper's size; pixels without one are
// 1 point.
[[nodiscard]] double GetPointsPerUnit(const CGraph& drawing);
// Widens the box by every layer's extents; `found` says whether the box
// already holds extents. Whether it holds any afterwards.
bool MergeLayersExtents(const CGraph& drawing, double* box, bool found);
// The page box of the page formats in the drawing unit: the raster and every
// layer's extents.
void GetPageBoxInUnits(const CGraph& drawing, double* box);
// The page of EPS and PDF in the drawing unit: the page box, grown where the
// entities' strokes reach past it (half the widest stroke, at least the
// page's hairline, beyond their extents), so that a line on the drawing's
// edge is drawn whole. With `hairline`, the page's hairline (GetPageHairline
// of the page box).
void GetStrokedPageBox(const CGraph& drawing, bool widths, double* box, double* hairline);
