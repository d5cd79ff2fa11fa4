#pragma once
// The mapping between the drawing's world coordinates (doubles, y up) and
// the pixels of one output window, and the stack of saved world boxes behind
// Zoom Previous.
//
// One scale serves both axes: a new world box is always widened, never cut,
// so the whole requested box stays visible and circles stay round. Device y
// points up as well; the device flips it for the window. The box is never
// degenerate: a box of zero width and height is widened about its centre to
// one world unit per pixel, so the conversions never divide by zero.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/device_types.h"
#include "model/point.h"

// A world box; also a node of the zoom stack. Maximum y comes before
// minimum y, as the system keeps them. The fresh values are placeholders.
struct CFrZoomBox {
    double xmin = 0;
    double xmax = 100;
    double ymax = 0;
    double ymin = 100;
};

// Device coordinates are saturated to this magnitude, so that far-away world
// points neither overflow the conversion nor the sums and differences the
// device forms from two coordinates.
constexpr std::int32_t DEVICE_COORD_LIMIT = 1 << 30;

class CFrViewTransform {
public:
    // Starts as the system's device does: world box (0, 0)-(40, 10) fitted
    // first to the 30 x 40 default and then to a 40 x 30 device rectangle;
    // the changed flag is set.
    CFrViewTransform();

    // The box with its corners in any order, then widened to the device's
    // shape. Non-finite corners leave the box as it was. The redraw argument
    // is accepted for the callers' sake and not used.
    void SetWorldBox(double x1, double y1, double x2, double y2, int redraw = 1);
    bool SetWorldBoxFromPoints(const frDoublePoint& p1, const frDoublePoint& p2);
    // Pixels, corners in any order; then the box is refitted.
    void SetDeviceRect(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
    void FitWorldToDevice();
    void RefitToDeviceRect();

    void Pan(double dx, double dy);
    // Zoom about a point that keeps its place in the box (the point under the
    // mouse stays under the mouse). False, with the box unchanged, when the
    // new box could no longer be told apart from a point or would overflow.
    // Units per pixel and the flattening length wait for the next refit.
    bool ZoomInAt(const frDoublePoint& p);
    bool ZoomOutAt(const frDoublePoint& p);

    // Rounds to the nearest pixel, halves to even, saturated to
    // +-DEVICE_COORD_LIMIT (a not-a-number gives 0).
    void WorldToDevice(double x, double y, std::int32_t* X, std::int32_t* Y) const;
    POINT WorldToDevicePoint(const frDoublePoint& p) const;
    void DeviceToWorld(std::int32_t X, std::int32_t Y, double* x, double* y) const;
    // Writes x and y of the point; z stays.
    void DeviceToWorldPoint(std::int32_t X, std::int32_t Y, frDoublePoint& p) const;

    // The part of the segment inside the world box, in pixels; false, with
    // the outputs untouched, when none of it is inside.
    bool ClipSegmentToDevice(double x1, double y1, double x2, double y2, POINT* out1, POINT* out2) const;
    bool ClipSegmentToDevice(const frDoublePoint& p1, const frDoublePoint& p2, POINT* out1, POINT* out2) const;
    bool ClipSegmentToDevice(const CVertex& p1, const CVertex& p2, POINT* out1, POINT* out2) const;
    // The box is an extents record {min x, max x, min y, max y}; the part of
    // it inside the world box goes to the rectangle (top is the larger y).
    // Touching counts; false when it lies wholly outside.
    bool BoxToDevice(const double* box, RECT* out) const;

    double WorldWidth() const { return m_worldWidth; }
    double WorldHeight() const { return m_worldHeight; }
    std::int32_t DeviceWidth() const { return m_deviceWidth; }
    std::int32_t DeviceHeight() const { return m_deviceHeight; }
    const RECT& DeviceRect() const { return m_deviceRect; }
    const CFrZoomBox& WorldBox() const { return m_box; }
    // The chord length, in world units, of arcs flattened for display: five
    // pixels as the last fit measured them. Always positive.
    double FlatteningLength() const { return m_flatteningLength; }
    // World units per device pixel; always positive.
    double UnitsPerPixel() const { return m_unitsPerPixel; }
    bool IsChanged() const { return m_changed; }
    void ClearChanged() { m_changed = false; }

private:
    void MeasureDevice();
    void WidenDegenerateBox();
    double PixelsPerUnit() const { return m_deviceWidth / m_worldWidth; }

    double m_worldWidth = 0;
    double m_worldHeight = 0;
    std::int32_t m_deviceWidth = 0;
    std::int32_t m_deviceHeight = 0;
    RECT m_deviceRect;
    CFrZoomBox m_box;
    double m_flatteningLength = 0;
    bool m_changed = true;
    double m_unitsPerPixel = 1;
};

// Saved world boxes for Zoom Previous, newest last. The device keeps one
// beside its transform; the view pushes the box before each zoom or pan.
class CFrZoomStack {
public:
    // Saves the transform's current box; false when memory is short.
    [[nodiscard]] bool PushZoom(const CFrViewTransform& view);
    // Takes the newest box off and sets it on the transform; false (and no
    // change) when the stack is empty.
    bool RestoreZoom(CFrViewTransform& view);
    // Drops the newest box without applying it (a zoom that did not happen).
    bool PopZoom();
    void ClearZoomStack() { m_boxes.clear(); }
    std::size_t Depth() const { return m_boxes.size(); }

private:
    std::vector<CFrZoomBox> m_boxes;
};
