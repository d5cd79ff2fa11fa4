#pragma once
// CFrCDCDevice: the drawing device of a view. It draws into an off-screen
// 24-bit back buffer through a CDC whose mapping puts world y up (logical
// (X, Y) on buffer column X - left, row top - Y of the device rectangle), and
// puts the finished picture on a window with one blit.
//
// A pass: CFrViewTransform::SetDeviceRect, BeginDraw, drawing operations,
// EndDraw; CopyToDC as often as the window needs repainting. The buffer keeps
// its picture between passes. Colours and grip settings come from the view
// options of the current tracing option record, read at each call.
#include <cstdint>

#include "model/device.h"
#include "raster/dib.h"

class CDC;

class CFrCDCDevice : public CFrDevice {
public:
    // The colour of the drop shadow round a raster image.
    static constexpr COLORREF kShadowColor = RGB(160, 160, 160);
    // Depth of that shadow, in pixels.
    static constexpr int kShadowDepth = 5;
    // Scaled display caches of the whole raster stay within this many pixels
    // a side; larger rasters are cached one visible rectangle at a time.
    static constexpr int kMaxScaledCacheSide = 2000;
    // A crop cache is kept only while its sides stay within this many times
    // the device's: far zoomed in, the whole pixels round the view would make
    // it many windows large, and the visible part is drawn straight from the
    // image instead (cheap, as it then enlarges a small source).
    static constexpr int kMaxCropCacheWindows = 2;
    // Cache scale values (see CFrDevice::DrawRasterScaled): no valid copy,
    // one crop, and the bound below which a scale means a crop.
    static constexpr double kInvalidCacheScale = -1.0;
    static constexpr double kCropCacheScale = -10.0;
    static constexpr double kCropCacheLimit = -9.0;

    CFrCDCDevice();
    ~CFrCDCDevice() override;

    // Opens a pass: resizes the buffer to the device rectangle when needed,
    // opens its drawing context, fills it with the background colour when
    // asked, clears the XOR flag and sets the flipped mapping. False, and the
    // device stays idle, when the buffer cannot be made or painted. The
    // parent only stands for the window the buffer will be shown on.
    [[nodiscard]] bool BeginDraw(CDC* parent, bool fillBackground);
    // Opens a pass on a context the caller owns instead of the back buffer,
    // which is left as it was: a picture written out by the caller is then
    // held once, not also in the buffer. The context covers the device
    // rectangle; false, idle, for none.
    [[nodiscard]] bool BeginDrawOn(CDC* dc, bool fillBackground);
    void EndDraw();
    // Ends an open pass, then blits the buffer to (x, y) of the destination.
    [[nodiscard]] bool CopyToDC(CDC* destination, int x, int y);
    // The flipped mapping of a pass, and back to what it replaced.
    void SetMapping();
    void RestoreMapping();

    [[nodiscard]] bool IsDrawing() const { return m_DC != nullptr; }
    // The drawing context of the open pass; null when idle.
    [[nodiscard]] CDC* GetDC() const { return m_DC; }
    [[nodiscard]] const CDib& GetBackBuffer() const { return m_BackBuffer; }

    // ---- drawing operations (see CFrDevice) ---------------------------------

    void SetXorMode(bool on) override;
    bool DrawLine(const CVertex& a, const CVertex& b, COLORREF color) override;
    bool DrawEntityLine(const CVertex& a, const CVertex& b, int colorIndex, bool selected) override;
    bool DrawShadowFrame(const CVertex& a, const CVertex& b, COLORREF color) override;
    bool DrawRectOutline(const frDoublePoint& a, const frDoublePoint& b, COLORREF color) override;
    bool DrawRectangle(const frDoublePoint& lowerLeft, const frDoublePoint& upperRight, COLORREF color) override;
    bool DrawHandleFrame(double x1, double y1, double x2, double y2) override;
    bool DrawPolyline(const CVertex* ring, int colorIndex, bool selected) override;
    bool DrawClosedPolyline(const CVertex* ring, int colorIndex, bool selected) override;
    bool FillPolygonWinding(const CVertex* ring, int colorIndex, bool selected) override;
    bool FillPolygon(const CVertex* ring, int colorIndex, bool selected) override;
    bool FillPolyPolygon(const frDoublePoint* points, const std::int32_t* counts, int outlineCount, int colorIndex,
                         bool selected) override;
    bool DrawCrossMarker(double x, double y, COLORREF color) override;
    bool DrawGripBox(double x, double y, bool hot, bool cross) override;
    bool DrawDib(double x, double y, const CDib* dib) override;
    bool DrawRasterScaled(double x, double y, const CRasterSrc* image, double* cacheScale, std::int32_t* cacheRect,
                          CDib* cache) override;
    bool DrawRaster(double x, double y, const CRasterSrc* image) override;

    // The pen width, in pixels, of a line whose vertex has that start width:
    // 0 (one pixel) for no width or with widths hidden, else the width in
    // pixels rounded half up.
    [[nodiscard]] int PenWidth(double startWidth) const;

private:
    struct ImagePlacement;
    bool DrawPolylineRun(const CVertex* ring, int colorIndex, bool selected, bool closed);
    bool FillRing(const CVertex* ring, int colorIndex, bool selected, bool winding);
    bool FillDevicePolygons(const frDoublePoint* points, const int* counts, int outlineCount, int colorIndex,
                            bool selected, int fillMode);
    bool DrawSegment(const POINT& a, const POINT& b, COLORREF color, int width);
    [[nodiscard]] bool PlaceImage(double x, double y, int width, int height, ImagePlacement* place) const;
    bool OpenPass(CDC* dc, bool fillBackground, bool callersContext);

    CDib m_BackBuffer;
    CDC* m_DC = nullptr;
    bool m_CallersContext = false;  // the pass draws on a context given to BeginDrawOn
    SIZE m_SavedWindowExt;
    POINT m_SavedWindowOrg;
    int m_SavedMapMode = 0;
    bool m_MappingSet = false;
};
