#pragma once
// Helpers that every entity's output records share: the page colour, the
// conversion from raster pixels to the drawing unit, whole-record writes,
// the colour forms of SVG and PDF and the words of binary CGM.
#include <cstdio>
#include <string>

#include "model/point.h"
#include "platform/colorref.h"

class CEntity;
class CPDFStream;
struct CBulgeArc;

// The colour a page format (SVG, CGM, EPS, PDF, metafile) draws the entity
// in: its own index or its layer's, with index 7 as black so that it shows on
// the white page whichever way it was reached.
[[nodiscard]] COLORREF GetPageColor(const CEntity& entity);
// Raster pixels to the unit of the entity's drawing (unchanged without one).
void ConvertToDrawingUnit(const CEntity& entity, double* x, double* y);
[[nodiscard]] double ConvertLengthToDrawingUnit(const CEntity& entity, double length);
// The whole text in one write; false when it was not all written.
[[nodiscard]] bool WriteOutputText(std::FILE* file, const std::string& text);
// "rgb(r,g,b)" for SVG.
[[nodiscard]] std::string SvgColorText(COLORREF color);
// The stroke-width text of an SVG stroke: the width with three decimals,
// or the page's hairline for one thinner than 0.01 (none at all included).
[[nodiscard]] std::string SvgStrokeWidthText(double width);
// The line width of an EPS or SVG stroke: its own width, or the page's
// hairline for one thinner than 0.01 (none at all included).
[[nodiscard]] double GetStrokeWidth(double width);
// "r g b setrgbcolor\n" with each part / 255, for EPS.
[[nodiscard]] std::string EpsColorText(COLORREF color);
// "%f,%f" of a point in HP-GL plotter units: converted to the drawing unit,
// then scaled for that unit.
[[nodiscard]] std::string HpglPointText(const CEntity& entity, double x, double y);
// Grey when the three parts are equal, else RGB; the fill as well when asked.
void SetPdfColor(CPDFStream* stream, COLORREF color, bool fill);
// A point of the page formats (SVG, EPS, PDF): converted to the drawing unit
// and measured from the page's corner (COutputPage).
[[nodiscard]] frDoublePoint GetPagePoint(const CEntity& entity, double x, double y);
// An SVG point in the drawing unit: x from the page's left edge, y down
// from the page height (raster pixels, the record's argument); and its text
// "%-.3f,%-.3f".
[[nodiscard]] frDoublePoint SvgPagePoint(const CEntity& entity, double pageHeight, double x, double y);
[[nodiscard]] std::string SvgPointText(const CEntity& entity, double pageHeight, double x, double y);
// The path data of an SVG arc from the current point to (x, y), both ends on
// the circle of `radius` (raster pixels) about (cx, cy), sweeping `sweep`
// radians from `startAngle`, counter-clockwise in the drawing when positive.
// `large` is the large-arc flag of the whole arc. An arc that nearly closes
// on itself is written in two halves: a reader skips an arc whose ends meet
// and places one whose ends nearly meet by numbers that lost their digits.
[[nodiscard]] std::string SvgArcText(const CEntity& entity, double pageHeight, double cx, double cy, double radius,
                                     double startAngle, double sweep, int large, double x, double y);
// A point on the PDF page: the page point (GetPagePoint) through the
// stream's scale and origin.
[[nodiscard]] frDoublePoint PdfPagePoint(const CEntity& entity, const CPDFStream& stream, double x, double y);
// Continues the current PDF path along the arc of a bulge segment
// (GetWrittenBulgeArc), turning the bulge's way.
bool AppendPdfBulgeArc(CPDFStream* stream, const CEntity& entity, const CBulgeArc& arc, double bulge);

// How the file being written lays the drawing on its page. A format's
// framing sets it for the records it asks for, on its own thread; a record
// written on its own sees the defaults (thin lines 0.01 wide, no grid).
struct COutputPage {
    // Stroke width of geometry drawn without a width: in the drawing unit for
    // SVG and EPS, in device units for the metafile (below 1: the cosmetic pen).
    double hairline = 0.01;
    // The page's lower-left corner in the drawing unit. The page formats
    // write points measured from it: readers that compute in single
    // precision keep a far drawing's shape.
    double cornerX = 0.0, cornerY = 0.0;
    // The integer grid of CGM and the metafile: a raster point (x, y) lies
    // at ((x - originX) * scale, (y - originY) * scale) on it, so a drawing
    // in any unit keeps its shape and a far one its place.
    double scale = 1.0, originX = 0.0, originY = 0.0;
};
[[nodiscard]] const COutputPage& GetOutputPage();
// The hairline of a page of this width and height (any one unit): thin
// beside the page at any size, and never so thin that a reader drops it.
[[nodiscard]] double GetPageHairline(double width, double height);
// Sets the page for the records written on this thread until it goes.
class COutputPageScope {
public:
    explicit COutputPageScope(const COutputPage& page);
    ~COutputPageScope();
    COutputPageScope(const COutputPageScope&) = delete;
    COutputPageScope& operator=(const COutputPageScope&) = delete;

private:
    COutputPage m_Page;
    const COutputPage* m_Previous;
};
// The grid for the box {min x, max x, min y, max y}: none when the box lies
// within +-limit and its larger side is at least `fine` long; else the
// box's centre as origin and the power of two that makes the larger side
// at least `fine` (and less than twice `fine`) long. `fine` is at most the
// limit.
[[nodiscard]] COutputPage GetOutputGrid(const double* box, double limit, double fine);

// A big-endian 16-bit word, and a coordinate rounded to the nearest integer
// (halves up) and held within the signed 16-bit range.
void PutCgmWord16(std::FILE* file, unsigned word);
void PutCgmCoordinate(std::FILE* file, double value);
// A point and a length on the page's grid, as CGM coordinates.
void PutCgmPoint(std::FILE* file, double x, double y);
void PutCgmLength(std::FILE* file, double length);
// Whether two points fall on one CGM point of the page's grid.
[[nodiscard]] bool CgmPointsMeet(double x0, double y0, double x1, double y1);

// Whether a reader that turns counter-clockwise from the ray (fx, fy) to the
// ray (tx, ty), as written, sweeps about `sweep` (0 to TWO_PI). Cut to
// integers, the rays of an arc shorter than about a unit meet (a reader
// draws nothing, or the whole turn) or pass each other (nearly a whole turn
// too many or too few); rays that meet never keep the sweep.
[[nodiscard]] bool WrittenRaysKeepSweep(double fx, double fy, double tx, double ty, double sweep);

// The CGM arc about (cx, cy) counter-clockwise from angle `a` by `sweep`
// (0 to TWO_PI), its start and end vectors `length` long on the page's grid.
// True for one too short for its vectors (WrittenRaysKeepSweep) or, when it
// goes by its points (PutCgmArc), whose ends fall on one point: the caller
// writes its chord instead, which lies within a grid unit of it.
[[nodiscard]] bool IsCgmArcChord(double cx, double cy, double radius, double a, double sweep, double length);
// Writes any other such arc as CIRCULAR ARC CENTRE; one that nearly closes
// and whose vectors would meet, in two halves. An arc whose centre or radius
// lies beyond the coordinate range (a nearly straight arc of a huge radius)
// goes by CIRCULAR ARC 3 POINT, its start, middle and end, which lie on the
// page: clamped, its centre would bend it round another point.
void PutCgmArc(std::FILE* file, double cx, double cy, double radius, double a, double sweep, double length);
