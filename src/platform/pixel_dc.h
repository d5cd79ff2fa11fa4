#pragma once
// CPixelDC: the raster back end of CDC. Draws into a canvas of its own:
// Width() x Height() words 0x00RRGGBB, top row first, the top byte always 0.
//
// Every drawing call first collects the device pixels it covers as row
// spans (pen, pen gaps, brush), clipped to the canvas, then applies the
// raster operation once per covered pixel. So a figure drawn twice with
// R2_XORPEN or R2_NOT restores the canvas exactly, and huge coordinates
// cost no more than the visible part.
#include "platform/dc.h"

#include <cstdint>
#include <memory>
#include <vector>

constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

class CSpanList;

class CPixelDC : public CDC {
public:
    // A canvas filled with the colour; an empty one (0 x 0) when a size is
    // not positive or the memory is not there (IsValid tells).
    CPixelDC(int width, int height, COLORREF fill = RGB(255, 255, 255));
    ~CPixelDC() override;

    bool IsValid() const { return m_bits != nullptr; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    std::uint32_t* Bits() { return m_bits.get(); }
    const std::uint32_t* Bits() const { return m_bits.get(); }
    // The colour of a device pixel (not mapped); CLR_INVALID outside.
    COLORREF GetPixel(int x, int y) const;
    // Fills the whole canvas, whatever the raster operation and mapping.
    void Clear(COLORREF color);
    POINT GetCurrentPosition() const { return m_position; }
    // Device pixel of a logical point, rounded to nearest (saturated far
    // outside the int range).
    POINT LogicalToDevice(int x, int y) const;

    // Canvas words and COLORREF values have red and blue swapped.
    static constexpr std::uint32_t ToPixel(COLORREF c)
    {
        return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
    static constexpr COLORREF ToColorRef(std::uint32_t pixel) { return ToPixel(pixel & 0xFFFFFF); }

    // CDC
    CPen* SelectObject(CPen* pen) override;
    CBrush* SelectObject(CBrush* brush) override;

    int SetROP2(int mode) override;
    int GetROP2() const override { return m_rop2; }
    int SetPolyFillMode(int mode) override;
    int GetPolyFillMode() const override { return m_fillMode; }
    int SetBkMode(int mode) override;
    COLORREF SetBkColor(COLORREF color) override;
    int SetArcDirection(int direction) override;
    int GetArcDirection() const override { return m_arcDirection; }
    int SetStretchBltMode(int mode) override;

    int SetMapMode(int mode) override;
    int GetMapMode() const override { return m_mapMode; }
    POINT SetWindowOrg(int x, int y) override;
    POINT GetWindowOrg() const override { return m_windowOrg; }
    SIZE SetWindowExt(int cx, int cy) override;
    SIZE GetWindowExt() const override { return m_windowExt; }
    POINT SetViewportOrg(int x, int y) override;
    SIZE SetViewportExt(int cx, int cy) override;
    SIZE GetViewportExt() const override { return m_viewportExt; }

    POINT MoveTo(int x, int y) override;
    bool LineTo(int x, int y) override;
    bool Polyline(const POINT* points, int count) override;
    bool Polygon(const POINT* points, int count) override;
    bool PolyPolygon(const POINT* points, const int* counts, int polygonCount) override;
    bool Rectangle(int left, int top, int right, int bottom) override;
    bool Ellipse(int left, int top, int right, int bottom) override;
    bool Arc(int left, int top, int right, int bottom, int x3, int y3, int x4, int y4) override;
    bool ArcTo(int left, int top, int right, int bottom, int x3, int y3, int x4, int y4) override;
    COLORREF SetPixel(int x, int y, COLORREF color) override;
    void FillSolidRect(const RECT& rect, COLORREF color) override;

    bool BeginPath() override;
    bool EndPath() override;
    bool CloseFigure() override;
    bool FillPath() override;
    bool StrokePath() override;
    bool StrokeAndFillPath() override;

    bool BitBlt(int x, int y, int width, int height, CDC* source, int sourceX, int sourceY, DWORD rop) override;
    bool StretchBlt(int x, int y, int width, int height, CDC* source, int sourceX, int sourceY, int sourceWidth,
                    int sourceHeight, DWORD rop) override;
    int StretchDIBits(int x, int y, int width, int height, int sourceX, int sourceY, int sourceWidth, int sourceHeight,
                      const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) override;

    const std::uint32_t* GetPixels(int* width, int* height) const override;

    // Internal records, public only so the drawing kernels in the other
    // pixel_dc_*.cpp files can name them.
    struct DPoint {  // device pixels: point (x, y) is the centre of pixel (x, y)
        double x = 0;
        double y = 0;
    };
    struct Figure {
        std::vector<DPoint> points;
        bool closed = false;
    };
    struct DeviceRect {  // a negative size mirrors
        long long x, y, width, height;
    };

private:
    DPoint ToDevice(long long x, long long y) const;
    POINT ToLogical(DPoint p) const;
    bool IsMirrored() const;
    int DevicePenWidth() const;
    bool HasBrush() const;
    bool InPath() const { return m_pathState == PathState::Building; }
    Figure DeviceFigure(const POINT* points, int count, bool closed) const;
    Figure& OpenPathFigure();
    bool ArcPoints(std::vector<DPoint>& out, double& start, double& sweep, int left, int top, int right, int bottom,
                   int x3, int y3, int x4, int y4) const;
    void DrawArc(const Figure& figure, bool leadIn, int left, int top, int right, int bottom, double start,
                 double sweep);
    void Stroke(const std::vector<Figure>& figures, CSpanList& on, CSpanList& gaps) const;
    void Paint(CSpanList& on, CSpanList& gaps, CSpanList* fill);
    void DrawFigures(const std::vector<Figure>& outline, const std::vector<Figure>* fillFigures);
    bool FinishPath(bool stroke, bool fill);
    DeviceRect DeviceRectOf(int x, int y, int width, int height) const;

    enum class PathState { None, Building, Done };

    int m_width = 0;
    int m_height = 0;
    std::unique_ptr<std::uint32_t[]> m_bits;

    CPen* m_pen = nullptr;
    CBrush* m_brush = nullptr;
    int m_rop2 = R2_COPYPEN;
    int m_fillMode = ALTERNATE;
    int m_bkMode = OPAQUE;
    COLORREF m_bkColor = RGB(255, 255, 255);
    int m_arcDirection = AD_COUNTERCLOCKWISE;
    int m_stretchMode = BLACKONWHITE;

    int m_mapMode = MM_TEXT;
    POINT m_windowOrg;
    SIZE m_windowExt{1, 1};
    POINT m_viewportOrg;
    SIZE m_viewportExt{1, 1};

    POINT m_position;
    PathState m_pathState = PathState::None;
    std::vector<Figure> m_path;
    bool m_figureOpen = false;
};
