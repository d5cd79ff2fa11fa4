// World box fitting, world/device conversions and zooming; the zoom stack.
#include "model/view_transform.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "model/clipping.h"
#include "model/geometry.h"

namespace {

// A device side of zero pixels is measured as these instead.
constexpr std::int32_t EMPTY_DEVICE_WIDTH = 30;
constexpr std::int32_t EMPTY_DEVICE_HEIGHT = 40;
// A world box of no extent is opened to this scale about its centre.
constexpr double DEGENERATE_UNITS_PER_PIXEL = 1.0;
// The display chord of flattened arcs, in pixels.
constexpr double FLATTENING_PIXELS = 5.0;
// Half sizes of the box after a zoom, as fractions of the old size; the
// zoom-in factor is the single-precision 0.4 the system uses.
constexpr double ZOOM_IN_HALF = static_cast<double>(0.4f);
constexpr double ZOOM_OUT_HALF = 0.625;
// Zooming in stops before one pixel spans less than this part of the
// coordinates' size (or of one world unit near the origin): nothing in a
// drawing is finer, and conversions keep their precision.
constexpr double MIN_RELATIVE_PIXEL = 1e-9;

// Nearest integer, halves to the even neighbour, whatever the process's
// floating-point rounding mode.
double RoundHalfEven(double v)
{
    double r = std::floor(v);
    double rest = v - r;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(r, 2.0) != 0))
        r += 1;
    return r;
}

std::int32_t SaturateToDevice(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<std::int32_t>(std::clamp(v, -double(DEVICE_COORD_LIMIT), double(DEVICE_COORD_LIMIT)));
}

std::int32_t Span(std::int32_t low, std::int32_t high)
{
    std::int64_t d = std::int64_t(high) - std::int64_t(low);
    return static_cast<std::int32_t>(std::min<std::int64_t>(d, INT32_MAX));
}

bool IsFiniteBox(const CFrZoomBox& b)
{
    return std::isfinite(b.xmin) && std::isfinite(b.xmax) && std::isfinite(b.ymin) && std::isfinite(b.ymax) &&
           std::isfinite(b.xmax - b.xmin) && std::isfinite(b.ymax - b.ymin);
}

}  // namespace

CFrViewTransform::CFrViewTransform()
{
    SetWorldBox(0, 0, 40, 10, 1);
    SetDeviceRect(0, 0, 40, 30);
    m_changed = true;
}

void CFrViewTransform::SetWorldBox(double x1, double y1, double x2, double y2, int /*redraw*/)
{
    CFrZoomBox box;
    box.xmin = x2 < x1 ? x2 : x1;
    box.xmax = x2 > x1 ? x2 : x1;
    box.ymin = y2 < y1 ? y2 : y1;
    box.ymax = y2 > y1 ? y2 : y1;
    if (!IsFiniteBox(box))
        return;
    m_box = box;
    FitWorldToDevice();
    m_changed = true;
}

bool CFrViewTransform::SetWorldBoxFromPoints(const frDoublePoint& p1, const frDoublePoint& p2)
{
    SetWorldBox(p1.x, p1.y, p2.x, p2.y, 1);
    return true;
}

void CFrViewTransform::SetDeviceRect(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2)
{
    m_deviceRect.left = std::min(x1, x2);
    m_deviceRect.right = std::max(x1, x2);
    m_deviceRect.bottom = std::min(y1, y2);
    m_deviceRect.top = std::max(y1, y2);
    RefitToDeviceRect();
}

void CFrViewTransform::MeasureDevice()
{
    m_deviceWidth = Span(m_deviceRect.left, m_deviceRect.right);
    m_deviceHeight = Span(m_deviceRect.bottom, m_deviceRect.top);
    if (m_deviceWidth == 0)
        m_deviceWidth = EMPTY_DEVICE_WIDTH;
    if (m_deviceHeight == 0)
        m_deviceHeight = EMPTY_DEVICE_HEIGHT;
    m_worldWidth = m_box.xmax - m_box.xmin;
    m_worldHeight = m_box.ymax - m_box.ymin;
}

void CFrViewTransform::WidenDegenerateBox()
{
    // A box of no extent (a single point, or sizes that vanish against the
    // device) cannot be mapped; show it at a plain scale instead.
    if (m_worldWidth / m_deviceWidth > 0 || m_worldHeight / m_deviceHeight > 0)
        return;
    double cx = 0.5 * (m_box.xmin + m_box.xmax);
    double cy = 0.5 * (m_box.ymin + m_box.ymax);
    double hx = 0.5 * m_deviceWidth * DEGENERATE_UNITS_PER_PIXEL;
    double hy = 0.5 * m_deviceHeight * DEGENERATE_UNITS_PER_PIXEL;
    m_box.xmin = cx - hx;
    m_box.xmax = cx + hx;
    m_box.ymin = cy - hy;
    m_box.ymax = cy + hy;
    m_worldWidth = m_box.xmax - m_box.xmin;
    m_worldHeight = m_box.ymax - m_box.ymin;
}

void CFrViewTransform::FitWorldToDevice()
{
    MeasureDevice();
    WidenDegenerateBox();
    double ux = m_worldWidth / m_deviceWidth;
    double uy = m_worldHeight / m_deviceHeight;
    if (std::fabs(uy) > std::fabs(ux)) {
        double half = std::fabs(m_deviceWidth * uy) * 0.5;
        double cx = 0.5 * (m_box.xmin + m_box.xmax);
        m_box.xmin = cx - half;
        m_box.xmax = cx + half;
        m_worldWidth = 2 * half;
        m_unitsPerPixel = std::fabs(uy);
    } else if (std::fabs(ux) > std::fabs(uy)) {
        double half = std::fabs(m_deviceHeight * ux) * 0.5;
        double cy = 0.5 * (m_box.ymin + m_box.ymax);
        m_box.ymin = cy - half;
        m_box.ymax = cy + half;
        m_worldHeight = 2 * half;
        m_unitsPerPixel = std::fabs(ux);
    } else {
        m_unitsPerPixel = std::fabs(ux);
    }
    // Measured before widening; a box of no width measures by the height.
    m_flatteningLength = FLATTENING_PIXELS * ux;
    if (!(m_flatteningLength > 0))
        m_flatteningLength = FLATTENING_PIXELS * m_unitsPerPixel;
}

void CFrViewTransform::RefitToDeviceRect()
{
    MeasureDevice();
    WidenDegenerateBox();
    double ux = m_worldWidth / m_deviceWidth;
    double uy = m_worldHeight / m_deviceHeight;
    if (std::fabs(uy) >= ux) {
        double half = std::fabs(m_deviceWidth * uy) * 0.5;
        double cx = 0.5 * (m_box.xmin + m_box.xmax);
        m_box.xmin = cx - half;
        m_box.xmax = cx + half;
        m_worldWidth = 2 * half;
        m_unitsPerPixel = std::fabs(uy);
    } else {
        double half = std::fabs(m_deviceHeight * ux) * 0.5;
        double cy = 0.5 * (m_box.ymin + m_box.ymax);
        m_box.ymin = cy - half;
        m_box.ymax = cy + half;
        m_worldHeight = 2 * half;
        m_unitsPerPixel = std::fabs(ux);
    }
    m_flatteningLength = FLATTENING_PIXELS * ux;
    if (!(m_flatteningLength > 0))
        m_flatteningLength = FLATTENING_PIXELS * m_unitsPerPixel;
    m_changed = true;
}

void CFrViewTransform::Pan(double dx, double dy)
{
    CFrZoomBox box = m_box;
    box.xmin += dx;
    box.xmax += dx;
    box.ymax += dy;
    box.ymin += dy;
    if (!IsFiniteBox(box))
        return;
    m_box = box;
    m_changed = true;
}

namespace {

// The box scaled about its centre by twice the half factor, moved so that p
// keeps its relative place; false when that box is degenerate or overflows.
bool ZoomedBox(const CFrZoomBox& box, double width, double height, std::int32_t deviceWidth, const frDoublePoint& p,
               double half, CFrZoomBox* out, double* newWidth, double* newHeight)
{
    double cx = 0.5 * (box.xmin + box.xmax);
    double cy = 0.5 * (box.ymax + box.ymin);
    double rx = (p.x - cx) * 2.0 / width;
    double ry = (p.y - cy) * 2.0 / height;
    double hx = width * half;
    double hy = height * half;
    double dx = p.x - (cx + rx * hx);
    double dy = p.y - (cy + ry * hy);
    // The scaled box, then the move, in the order a pan would do it.
    CFrZoomBox z;
    z.xmin = cx - hx + dx;
    z.xmax = cx + hx + dx;
    z.ymax = cy + hy + dy;
    z.ymin = cy - hy + dy;
    if (!std::isfinite(dx) || !std::isfinite(dy) || !IsFiniteBox(z) || !(z.xmin < z.xmax) || !(z.ymin < z.ymax))
        return false;
    double size = std::max({1.0, std::fabs(z.xmin), std::fabs(z.xmax), std::fabs(z.ymin), std::fabs(z.ymax)});
    if (2 * hx / deviceWidth < MIN_RELATIVE_PIXEL * size)
        return false;
    *out = z;
    *newWidth = 2 * hx;
    *newHeight = 2 * hy;
    return true;
}

}  // namespace

bool CFrViewTransform::ZoomInAt(const frDoublePoint& p)
{
    if (!ZoomedBox(m_box, m_worldWidth, m_worldHeight, m_deviceWidth, p, ZOOM_IN_HALF, &m_box, &m_worldWidth,
                   &m_worldHeight))
        return false;
    m_changed = true;
    return true;
}

bool CFrViewTransform::ZoomOutAt(const frDoublePoint& p)
{
    if (!ZoomedBox(m_box, m_worldWidth, m_worldHeight, m_deviceWidth, p, ZOOM_OUT_HALF, &m_box, &m_worldWidth,
                   &m_worldHeight))
        return false;
    m_changed = true;
    return true;
}

void CFrViewTransform::WorldToDevice(double x, double y, std::int32_t* X, std::int32_t* Y) const
{
    double k = PixelsPerUnit();
    *X = SaturateToDevice(RoundHalfEven((x - m_box.xmin) * k + m_deviceRect.left));
    *Y = SaturateToDevice(RoundHalfEven((y - m_box.ymin) * k + m_deviceRect.bottom));
}

POINT CFrViewTransform::WorldToDevicePoint(const frDoublePoint& p) const
{
    POINT out;
    WorldToDevice(p.x, p.y, &out.x, &out.y);
    return out;
}

void CFrViewTransform::DeviceToWorld(std::int32_t X, std::int32_t Y, double* x, double* y) const
{
    double k = m_worldWidth / m_deviceWidth;
    *x = (double(X) - m_deviceRect.left) * k + m_box.xmin;
    *y = (double(Y) - m_deviceRect.bottom) * k + m_box.ymin;
}

void CFrViewTransform::DeviceToWorldPoint(std::int32_t X, std::int32_t Y, frDoublePoint& p) const
{
    DeviceToWorld(X, Y, &p.x, &p.y);
}

bool CFrViewTransform::ClipSegmentToDevice(double x1, double y1, double x2, double y2, POINT* out1, POINT* out2) const
{
    std::int16_t code1 = 0, code2 = 0;
    if (!ClipSegmentToRect(m_box.xmin, m_box.ymin, m_box.xmax, m_box.ymax, x1, y1, x2, y2, code1, code2))
        return false;
    double k = PixelsPerUnit();
    auto toDevice = [&](double v, double origin, std::int32_t offset) {
        return SaturateToDevice(RoundHalfEven((v - origin) * k) + offset);
    };
    out1->x = toDevice(x1, m_box.xmin, m_deviceRect.left);
    out1->y = toDevice(y1, m_box.ymin, m_deviceRect.bottom);
    out2->x = toDevice(x2, m_box.xmin, m_deviceRect.left);
    out2->y = toDevice(y2, m_box.ymin, m_deviceRect.bottom);
    return true;
}

bool CFrViewTransform::ClipSegmentToDevice(const frDoublePoint& p1, const frDoublePoint& p2, POINT* out1,
                                           POINT* out2) const
{
    return ClipSegmentToDevice(p1.x, p1.y, p2.x, p2.y, out1, out2);
}

bool CFrViewTransform::ClipSegmentToDevice(const CVertex& p1, const CVertex& p2, POINT* out1, POINT* out2) const
{
    return ClipSegmentToDevice(p1.x, p1.y, p2.x, p2.y, out1, out2);
}

bool CFrViewTransform::BoxToDevice(const double* box, RECT* out) const
{
    const double world[4] = {m_box.xmin, m_box.xmax, m_box.ymin, m_box.ymax};
    double seen[4];
    if (!BoxesOverlap(box, world, seen))
        return false;
    WorldToDevice(seen[0], seen[3], &out->left, &out->top);
    WorldToDevice(seen[1], seen[2], &out->right, &out->bottom);
    return true;
}

// ---- zoom stack -----------------------------------------------------------

bool CFrZoomStack::PushZoom(const CFrViewTransform& view)
{
    try {
        m_boxes.push_back(view.WorldBox());
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CFrZoomStack::RestoreZoom(CFrViewTransform& view)
{
    if (m_boxes.empty())
        return false;
    CFrZoomBox box = m_boxes.back();
    m_boxes.pop_back();
    view.SetWorldBox(box.xmin, box.ymax, box.xmax, box.ymin, 1);
    return true;
}

bool CFrZoomStack::PopZoom()
{
    if (m_boxes.empty())
        return false;
    m_boxes.pop_back();
    return true;
}
