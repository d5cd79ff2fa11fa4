#pragma once
// CDC: a drawing context with the rules of the classic Windows graphics
// interface, so that drawing code written for it behaves the same here.
// Two back ends: CPixelDC (platform/pixel_dc.h) draws into our own 32-bit
// pixel canvas, CMetafileDC (platform/metafile_dc.h) records an Enhanced
// Metafile.
//
// Selected pens and brushes are used, not owned: the caller keeps them
// alive while selected and selects the previous object back before
// destroying its own. Rectangles exclude their right and bottom edges;
// lines exclude their end pixel.
#include "platform/colorref.h"
#include "platform/dib_types.h"
#include "platform/gdi_types.h"

#include <cstdint>

// Raster operations of pens (binary: pen P, destination D).
constexpr int R2_BLACK = 1;
constexpr int R2_NOTMERGEPEN = 2;
constexpr int R2_MASKNOTPEN = 3;
constexpr int R2_NOTCOPYPEN = 4;
constexpr int R2_MASKPENNOT = 5;
constexpr int R2_NOT = 6;
constexpr int R2_XORPEN = 7;
constexpr int R2_NOTMASKPEN = 8;
constexpr int R2_MASKPEN = 9;
constexpr int R2_NOTXORPEN = 10;
constexpr int R2_NOP = 11;
constexpr int R2_MERGENOTPEN = 12;
constexpr int R2_COPYPEN = 13;
constexpr int R2_MERGEPENNOT = 14;
constexpr int R2_MERGEPEN = 15;
constexpr int R2_WHITE = 16;

// Raster operations of blits (ternary codes: source S, destination D).
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD SRCERASE = 0x00440328;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD NOTSRCERASE = 0x001100A6;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// Pen styles.
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_DASHDOT = 3;
constexpr int PS_DASHDOTDOT = 4;
constexpr int PS_NULL = 5;

// Brush styles and hatches.
constexpr int BS_SOLID = 0;
constexpr int BS_NULL = 1;
constexpr int BS_HATCHED = 2;
constexpr int HS_HORIZONTAL = 0;
constexpr int HS_VERTICAL = 1;
constexpr int HS_FDIAGONAL = 2;
constexpr int HS_BDIAGONAL = 3;
constexpr int HS_CROSS = 4;
constexpr int HS_DIAGCROSS = 5;

// Polygon fill modes.
constexpr int ALTERNATE = 1;
constexpr int WINDING = 2;

// Background modes (for hatches and pen gaps).
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Arc directions.
constexpr int AD_COUNTERCLOCKWISE = 1;
constexpr int AD_CLOCKWISE = 2;

// Mapping modes.
constexpr int MM_TEXT = 1;
constexpr int MM_ANISOTROPIC = 8;

// Stretch modes.
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;

// DIB colour table usage.
constexpr UINT DIB_RGB_COLORS = 0;

// A pen: style, width in logical units (0 is one pixel whatever the
// mapping) and colour. Wide pens have round ends and joins.
class CPen {
public:
    CPen() = default;
    CPen(int style, int width, COLORREF color) : m_style(style), m_width(width < 0 ? 0 : width), m_color(color) {}

    int GetStyle() const { return m_style; }
    int GetWidth() const { return m_width; }
    COLORREF GetColor() const { return m_color; }

private:
    int m_style = PS_SOLID;
    int m_width = 0;
    COLORREF m_color = RGB(0, 0, 0);
};

// A brush: solid, hatched with one of the 8x8 hatch patterns, or null.
class CBrush {
public:
    CBrush() = default;
    explicit CBrush(COLORREF color) : m_style(BS_SOLID), m_color(color) {}
    CBrush(int hatch, COLORREF color) : m_style(BS_HATCHED), m_hatch(hatch), m_color(color) {}
    static CBrush Null()
    {
        CBrush brush;
        brush.m_style = BS_NULL;
        return brush;
    }

    int GetStyle() const { return m_style; }
    int GetHatch() const { return m_hatch; }
    COLORREF GetColor() const { return m_color; }

private:
    int m_style = BS_SOLID;
    int m_hatch = HS_HORIZONTAL;
    COLORREF m_color = RGB(255, 255, 255);
};

class CDC {
public:
    CDC() = default;
    virtual ~CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // Objects. Null selects the stock object (black 0-width pen, white
    // brush). Returns the previously selected object (null for a stock one).
    virtual CPen* SelectObject(CPen* pen) = 0;
    virtual CBrush* SelectObject(CBrush* brush) = 0;

    // State; each setter returns the previous value. Defaults: R2_COPYPEN,
    // ALTERNATE, OPAQUE on white, AD_COUNTERCLOCKWISE, BLACKONWHITE.
    virtual int SetROP2(int mode) = 0;
    virtual int GetROP2() const = 0;
    virtual int SetPolyFillMode(int mode) = 0;
    virtual int GetPolyFillMode() const = 0;
    virtual int SetBkMode(int mode) = 0;
    virtual COLORREF SetBkColor(COLORREF color) = 0;
    virtual int SetArcDirection(int direction) = 0;
    virtual int GetArcDirection() const = 0;
    virtual int SetStretchBltMode(int mode) = 0;

    // Mapping: MM_TEXT (unit extents) or MM_ANISOTROPIC.
    //   device = (logical - window origin) * viewport extent / window extent
    //            + viewport origin
    virtual int SetMapMode(int mode) = 0;
    virtual int GetMapMode() const = 0;
    virtual POINT SetWindowOrg(int x, int y) = 0;
    virtual POINT GetWindowOrg() const = 0;
    virtual SIZE SetWindowExt(int cx, int cy) = 0;  // MM_ANISOTROPIC only; 0 refused
    virtual SIZE GetWindowExt() const = 0;
    virtual POINT SetViewportOrg(int x, int y) = 0;
    virtual SIZE SetViewportExt(int cx, int cy) = 0;  // MM_ANISOTROPIC only; 0 refused
    virtual SIZE GetViewportExt() const = 0;

    // Lines and figures, in logical coordinates, with the current pen,
    // brush, raster operation and fill mode.
    virtual POINT MoveTo(int x, int y) = 0;  // returns the previous position
    virtual bool LineTo(int x, int y) = 0;
    virtual bool Polyline(const POINT* points, int count) = 0;
    virtual bool Polygon(const POINT* points, int count) = 0;
    virtual bool PolyPolygon(const POINT* points, const int* counts, int polygonCount) = 0;
    virtual bool Rectangle(int left, int top, int right, int bottom) = 0;
    virtual bool Ellipse(int left, int top, int right, int bottom) = 0;
    // The arc of the ellipse in the box from the ray through (x3, y3) to
    // the ray through (x4, y4), in the current arc direction (taken in
    // logical space, so a mirrored mapping turns it over on the device).
    virtual bool Arc(int left, int top, int right, int bottom, int x3, int y3, int x4, int y4) = 0;
    // As Arc, with a line from the current position to the arc's start;
    // the current position moves to the arc's end.
    virtual bool ArcTo(int left, int top, int right, int bottom, int x3, int y3, int x4, int y4) = 0;
    virtual COLORREF SetPixel(int x, int y, COLORREF color) = 0;
    // Fills with the colour whatever the raster operation.
    virtual void FillSolidRect(const RECT& rect, COLORREF color) = 0;

    // Paths: between BeginPath and EndPath, MoveTo, LineTo, Polyline, ArcTo
    // and CloseFigure build figures instead of drawing.
    virtual bool BeginPath() = 0;
    virtual bool EndPath() = 0;
    virtual bool CloseFigure() = 0;
    virtual bool FillPath() = 0;
    virtual bool StrokePath() = 0;
    virtual bool StrokeAndFillPath() = 0;

    // Blits. The source of BitBlt and StretchBlt must have pixels
    // (GetPixels); a back end may refuse other sources.
    virtual bool BitBlt(int x, int y, int width, int height, CDC* source, int sourceX, int sourceY, DWORD rop) = 0;
    virtual bool StretchBlt(int x, int y, int width, int height, CDC* source, int sourceX, int sourceY, int sourceWidth,
                            int sourceHeight, DWORD rop) = 0;
    // Rows of a packed DIB (1, 4, 8, 24 or 32 bits, bottom-up); sourceY
    // counts rows from the bottom, as the DIB stores them. Returns the
    // number of rows drawn, 0 on failure.
    virtual int StretchDIBits(int x, int y, int width, int height, int sourceX, int sourceY, int sourceWidth,
                              int sourceHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) = 0;

    // Pixels of a canvas back end: 0x00RRGGBB words, top row first, width
    // words a row; null for a back end that has none.
    virtual const std::uint32_t* GetPixels(int* width, int* height) const
    {
        *width = *height = 0;
        return nullptr;
    }
};
