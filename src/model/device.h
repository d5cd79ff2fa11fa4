#pragma once
// CFrDevice: the abstract output device on which every entity draws itself,
// in world coordinates (raster pixels, y up).
//
// The device keeps the view transform that maps the world to its pixels, the
// zoom stack behind Zoom Previous, a switch that shows line widths and an XOR
// switch. The drawing operations below are its fixed list of virtual slots;
// each returns true when something was drawn (or, where stated, when the call
// was accepted). The base draws nothing and answers false, so a device only
// replaces what it can show.
//
// Records passed in: a vertex ring is given by its head; its next pointers
// lead round to the head again or end in null. Only x, y, the start width and
// next are read. Colour indexes become RGB through ColorIndexToRGB; a
// selected entity is drawn in the selection colour instead.
#include <cstdint>

#include "model/point.h"
#include "model/view_transform.h"
#include "platform/colorref.h"

class CDib;
class CRasterSrc;

class CFrDevice {
public:
    CFrDevice(const CFrDevice&) = delete;
    CFrDevice& operator=(const CFrDevice&) = delete;

    // Virtual operations, in the fixed order of their slots.

    virtual ~CFrDevice() = default;
    // Stores the flag; a device that draws switches its raster operation
    // when the value changes.
    virtual void SetXorMode(bool on) { m_XorMode = on; }
    virtual bool DrawLine(const CVertex& a, const CVertex& b, COLORREF color)
    {
        (void)a, (void)b, (void)color;
        return false;
    }
    virtual bool DrawEntityLine(const CVertex& a, const CVertex& b, int colorIndex, bool selected)
    {
        (void)a, (void)b, (void)colorIndex, (void)selected;
        return false;
    }
    // The border of a raster image with a drop shadow.
    virtual bool DrawShadowFrame(const CVertex& a, const CVertex& b, COLORREF color)
    {
        (void)a, (void)b, (void)color;
        return false;
    }
    virtual bool DrawRectOutline(const frDoublePoint& a, const frDoublePoint& b, COLORREF color)
    {
        (void)a, (void)b, (void)color;
        return false;
    }
    virtual bool DrawRectangle(const frDoublePoint& lowerLeft, const frDoublePoint& upperRight, COLORREF color)
    {
        (void)lowerLeft, (void)upperRight, (void)color;
        return false;
    }
    // The XOR crop frame with eight handles; drawing it twice removes it.
    virtual bool DrawHandleFrame(double x1, double y1, double x2, double y2)
    {
        (void)x1, (void)y1, (void)x2, (void)y2;
        return false;
    }
    // Open polyline: the closing segment is not drawn.
    virtual bool DrawPolyline(const CVertex* ring, int colorIndex, bool selected)
    {
        (void)ring, (void)colorIndex, (void)selected;
        return false;
    }
    virtual bool DrawClosedPolyline(const CVertex* ring, int colorIndex, bool selected)
    {
        (void)ring, (void)colorIndex, (void)selected;
        return false;
    }
    // Filled polygon, non-zero winding rule.
    virtual bool FillPolygonWinding(const CVertex* ring, int colorIndex, bool selected)
    {
        (void)ring, (void)colorIndex, (void)selected;
        return false;
    }
    // Filled polygon, even-odd rule.
    virtual bool FillPolygon(const CVertex* ring, int colorIndex, bool selected)
    {
        (void)ring, (void)colorIndex, (void)selected;
        return false;
    }
    // Filled polygon set, even-odd rule: counts[i] points of outline i follow
    // each other in points.
    virtual bool FillPolyPolygon(const frDoublePoint* points, const std::int32_t* counts, int outlineCount,
                                 int colorIndex, bool selected)
    {
        (void)points, (void)counts, (void)outlineCount, (void)colorIndex, (void)selected;
        return false;
    }
    // Reserved places; they take no part in drawing.
    virtual bool Spare13(const std::uint32_t (&words)[7])
    {
        (void)words;
        return false;
    }
    virtual bool Spare14(const std::uint32_t (&words)[11])
    {
        (void)words;
        return false;
    }
    virtual bool Spare15(const std::uint32_t (&words)[6])
    {
        (void)words;
        return false;
    }
    // A grid marker in the style of the view options.
    virtual bool DrawCrossMarker(double x, double y, COLORREF color)
    {
        (void)x, (void)y, (void)color;
        return false;
    }
    virtual bool DrawGripBox(double x, double y, bool hot, bool cross)
    {
        (void)x, (void)y, (void)hot, (void)cross;
        return false;
    }
    // Images: one image pixel is one world unit, the lower-left corner at
    // (x, y).
    virtual bool DrawDib(double x, double y, const CDib* dib)
    {
        (void)x, (void)y, (void)dib;
        return false;
    }
    // The raster through a display cache that belongs to the caller: its
    // scale (> 0 whole raster scaled, -10 one crop, -1 invalid), its source
    // rectangle {left, top, right, bottom} and its bitmap.
    virtual bool DrawRasterScaled(double x, double y, const CRasterSrc* image, double* cacheScale,
                                  std::int32_t* cacheRect, CDib* cache)
    {
        (void)x, (void)y, (void)image, (void)cacheScale, (void)cacheRect, (void)cache;
        return false;
    }
    virtual bool DrawRaster(double x, double y, const CRasterSrc* image)
    {
        (void)x, (void)y, (void)image;
        return false;
    }

    // ---- state ------------------------------------------------------------

    CFrViewTransform& Transform() { return m_Transform; }
    const CFrViewTransform& Transform() const { return m_Transform; }
    CFrZoomStack& ZoomStack() { return m_ZoomStack; }
    // The chord length, in world units, with which arcs are flattened for
    // this device.
    [[nodiscard]] double GetFlattenStep() const { return m_Transform.FlatteningLength(); }
    [[nodiscard]] bool GetShowWidths() const { return m_ShowWidths; }
    void SetShowWidths(bool on) { m_ShowWidths = on; }
    [[nodiscard]] bool IsXorMode() const { return m_XorMode; }

protected:
    CFrDevice() = default;
    // For implementations that clear the XOR mode at the start of a pass.
    void ResetXorFlag() { m_XorMode = false; }

private:
    CFrViewTransform m_Transform;
    CFrZoomStack m_ZoomStack;
    bool m_ShowWidths = true;  // false: every line one pixel wide
    bool m_XorMode = false;
};
