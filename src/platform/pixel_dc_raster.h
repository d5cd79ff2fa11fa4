#pragma once
// The kernels behind CPixelDC, shared by its source files only.
//
// A drawing call gathers what it covers as row spans of device pixels,
// clipped to the canvas when added, so a span list never holds more than
// the visible part. Normalize() sorts and merges them, after which each
// pixel is in at most one span: painting then touches it exactly once.
// Coordinates of points are device pixels: point (x, y) is the centre of
// pixel (x, y), so pixels are sampled at integer positions.
#include "platform/pixel_dc.h"

#include <cstdint>
#include <vector>

// A full turn in radians, for the angles of arcs on the canvas.
constexpr double kFullTurn = 6.283185307179586;

struct PixelSpan {
    int y;
    int x0;  // first pixel
    int x1;  // one past the last pixel
};

class CSpanList {
public:
    CSpanList(int width, int height) : m_width(width), m_height(height) {}

    // Half-open [x0, x1) on row y; whatever lies outside the canvas is dropped.
    void AddSpan(long long y, long long x0, long long x1);
    void AddPixel(long long x, long long y) { AddSpan(y, x, x + 1); }
    void Add(const CSpanList& other);
    void Normalize();
    // Removes the pixels of another normalized list; both must be normalized.
    void Subtract(const CSpanList& other);

    bool Empty() const { return m_spans.empty(); }
    const std::vector<PixelSpan>& Spans() const { return m_spans; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    int m_width;
    int m_height;
    std::vector<PixelSpan> m_spans;
};

// What covered pixels are painted with: a colour, or an 8x8 pattern whose
// set bits take the colour and clear bits the background (or nothing when
// the background is transparent). Colours are canvas words.
struct PaintSource {
    std::uint32_t color = 0;
    const std::uint8_t* pattern = nullptr;  // 8 rows, bit 7 is the leftmost pixel
    std::uint32_t background = 0;
    bool opaque = false;
};

// The 8x8 pattern of a hatch style, null for an unknown style.
const std::uint8_t* HatchPattern(int hatch);

// Applies a binary raster operation (R2_*) once per pixel of the spans.
void PaintSpans(std::uint32_t* bits, int width, const CSpanList& spans, const PaintSource& source, int rop2);

// A binary operation of source and destination in the form of a raster
// operation code's truth table (bit 2*S + D of the low nibble).
struct BinaryOp {
    std::uint32_t m0, m1, m2, m3;
    explicit BinaryOp(unsigned table);
    std::uint32_t operator()(std::uint32_t s, std::uint32_t d) const
    {
        const std::uint32_t a = (~s & m0) | (s & m2);
        const std::uint32_t b = (~s & m1) | (s & m3);
        return ((a & ~d) | (b & d)) & 0xFFFFFF;
    }
};

// Dash pattern of a cosmetic pen: alternating on and off run lengths in
// pixels, starting with on; empty for a solid pen.
std::vector<int> PenDashes(int style);

// A cosmetic (one pixel) line from a to b without the pixel of b. The pen
// pattern's position runs on in `phase` from one segment to the next.
// Pixels of the pattern's gaps go to `gaps` when it is not null.
void AddCosmeticLine(CSpanList& on, CSpanList* gaps, long long ax, long long ay, long long bx, long long by,
                     const std::vector<int>& dashes, long long& phase);

// Pixels whose centre lies closer than radius to the segment (a round
// ended stroke).
void AddCapsule(CSpanList& spans, CPixelDC::DPoint a, CPixelDC::DPoint b, double radius);

// Interior of closed polygons with the fill rule: pixel centres on a left
// or top edge are inside, on a right or bottom edge outside.
void AddPolygonFill(CSpanList& spans, const std::vector<CPixelDC::Figure>& figures, int fillMode);

// Ellipse in the box [left, right) x [top, bottom) of device pixels (a
// normalized, non-empty box).
struct EllipseBox {
    long long left, top, right, bottom;
};
void AddEllipseFill(CSpanList& spans, const EllipseBox& box);
// The one-pixel outline: pixels of the fill with a neighbour outside it.
void AddEllipseOutline(CSpanList& spans, const EllipseBox& box);
// The outline of a wide pen centred on the one-pixel outline.
void AddEllipseRing(CSpanList& spans, const EllipseBox& box, int penWidth);

// The pixels of the one-pixel outline from parameter angle t0 through the
// sweep (as for AppendEllipsePoints), both ends included.
void AddEllipseArcOutline(CSpanList& spans, const EllipseBox& box, double t0, double sweep);

// Points of the elliptical arc in the box, from parameter angle t0 through
// the sweep (positive: counterclockwise as seen on the device), appended to
// out; a flattening fine enough for the size, first point included.
void AppendEllipsePoints(std::vector<CPixelDC::DPoint>& out, const EllipseBox& box, double t0, double sweep);
