// Rubber bands and object-snap markers, drawn in XOR straight onto the
// window. They keep no state: the view erases a shape by drawing it again
// with the same arguments, so every call must cover exactly the same pixels
// each time and leave the DC as it found it.
#include "model/drawing_display.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "model/constants.h"
#include "model/geometry.h"
#include "model/view_transform.h"
#include "platform/dc.h"
#include "trace/trace_option.h"

namespace {

constexpr COLORREF kRubberColor = RGB(255, 255, 255);  // XOR with white inverts
constexpr COLORREF kColorBits = 0x00FFFFFF;
constexpr int kThinPen = 0;  // one pixel whatever the mapping
constexpr int kMarkerPen = 2;

// Selects an XOR pen and a hollow brush for one shape and puts back the
// pen, brush, raster operation and arc direction it found.
class CXorPen {
public:
    CXorPen(CDC& dc, int style, int width, COLORREF color)
        : m_dc(dc), m_pen(style, width, color), m_brush(CBrush::Null())
    {
        m_oldRop = dc.SetROP2(R2_XORPEN);
        m_oldPen = dc.SelectObject(&m_pen);
        m_oldBrush = dc.SelectObject(&m_brush);
        m_oldArcDirection = dc.SetArcDirection(AD_COUNTERCLOCKWISE);
    }
    ~CXorPen()
    {
        m_dc.SetArcDirection(m_oldArcDirection);
        m_dc.SelectObject(m_oldBrush);
        m_dc.SelectObject(m_oldPen);
        m_dc.SetROP2(m_oldRop);
    }
    CXorPen(const CXorPen&) = delete;
    CXorPen& operator=(const CXorPen&) = delete;

private:
    CDC& m_dc;
    CPen m_pen;
    CBrush m_brush;
    CPen* m_oldPen = nullptr;
    CBrush* m_oldBrush = nullptr;
    int m_oldRop = R2_COPYPEN;
    int m_oldArcDirection = AD_COUNTERCLOCKWISE;
};

// Sums and products of window coordinates are formed in double and brought
// back into the range the DC accepts.
int ToCoord(double v)
{
    if (!(v == v))
        return 0;
    const double limit = DEVICE_COORD_LIMIT;
    return static_cast<int>(std::lround(std::clamp(v, -limit, limit)));
}

// Keeps a marker's corners inside the int range.
void ClampCentre(int& x, int& y)
{
    x = std::clamp(x, -DEVICE_COORD_LIMIT, DEVICE_COORD_LIMIT);
    y = std::clamp(y, -DEVICE_COORD_LIMIT, DEVICE_COORD_LIMIT);
}

void Lines(CDC& dc, std::initializer_list<POINT> points)
{
    dc.Polyline(points.begin(), static_cast<int>(points.size()));
}

// The circle of that radius about the pixel (cx, cy): the box ends one
// past the last pixel, so the outline is symmetric about the centre.
void CircleBox(double cx, double cy, double r, int* left, int* top, int* right, int* bottom)
{
    *left = ToCoord(cx - r);
    *top = ToCoord(cy - r);
    *right = ToCoord(cx + r + 1);
    *bottom = ToCoord(cy + r + 1);
}

frDoublePoint ToPoint(const POINT& p) { return frDoublePoint(p.x, p.y); }

// The centre of the circle through three points: the crossing of two
// perpendicular bisectors. False when two points coincide or the bisectors
// are parallel.
bool CircleCentre(const POINT& p1, const POINT& p2, const POINT& p3, frDoublePoint* centre)
{
    const frDoublePoint a = ToPoint(p1), b = ToPoint(p2), c = ToPoint(p3);
    if (PointsEqual(a, b) || PointsEqual(b, c) || PointsEqual(a, c))
        return false;
    const frDoublePoint m1((a.x + b.x) * 0.5, (a.y + b.y) * 0.5);
    const frDoublePoint m1End(m1.x - (b.y - a.y), m1.y + (b.x - a.x));
    const frDoublePoint m2((b.x + c.x) * 0.5, (b.y + c.y) * 0.5);
    const frDoublePoint m2End(m2.x - (c.y - b.y), m2.y + (c.x - b.x));
    frDoublePoint out;
    if (!IntersectLines(m1, m1End, m2, m2End, 0, &out) || !std::isfinite(out.x) || !std::isfinite(out.y))
        return false;
    *centre = out;
    return true;
}

// The direction of a window point about the centre, counter-clockwise as
// seen on screen (window y grows downward), in [0, TWO_PI).
double ScreenAngle(const frDoublePoint& centre, const POINT& p)
{
    double a = NormalizeAngle(std::atan2(centre.y - p.y, p.x - centre.x));
    return a >= TWO_PI ? a - TWO_PI : a;
}

// Strokes every figure drawn by `figures` as one shape, so that where the
// strokes of a marker cross, the XOR shows the marker and not a hole.
template <class Figures>
void StrokeAsOne(CDC& dc, Figures figures)
{
    if (dc.BeginPath()) {
        figures();
        if (dc.EndPath() && dc.StrokePath())
            return;
    }
    figures();  // no path support: stroke by stroke
}

}  // namespace

// ---- rubber bands ----------------------------------------------------------

void DrawRubberLine(CDC* dc, int x1, int y1, int x2, int y2)
{
    if (dc == nullptr)
        return;
    CXorPen pen(*dc, PS_SOLID, kThinPen, kRubberColor);
    dc->MoveTo(x1, y1);
    dc->LineTo(x2, y2);
}

void DrawRubberRect(CDC* dc, int x1, int y1, int x2, int y2, bool crossing)
{
    if (dc == nullptr)
        return;
    const bool dotted = crossing && x2 <= x1;
    // A black pen leaves the pixels alone under XOR; the dotted box shows
    // through its gaps, which an opaque white background inverts.
    CXorPen pen(*dc, dotted ? PS_DOT : PS_SOLID, kThinPen, dotted ? RGB(0, 0, 0) : kRubberColor);
    const int oldBkMode = dc->SetBkMode(OPAQUE);
    const COLORREF oldBkColor = dc->SetBkColor(RGB(255, 255, 255));
    Lines(*dc, {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}, {x1, y1}});
    dc->SetBkColor(oldBkColor);
    dc->SetBkMode(oldBkMode);
}

void DrawRubberCircle(CDC* dc, int cx, int cy, int px, int py)
{
    if (dc == nullptr)
        return;
    const double r = std::round(std::hypot(static_cast<double>(px) - cx, static_cast<double>(py) - cy));
    int left, top, right, bottom;
    CircleBox(cx, cy, r, &left, &top, &right, &bottom);
    CXorPen pen(*dc, PS_SOLID, kThinPen, kRubberColor);
    dc->Ellipse(left, top, right, bottom);
    dc->MoveTo(cx, cy);
    dc->LineTo(px, py);
}

bool DrawRubberCircle3P(CDC* dc, const POINT& p1, const POINT& p2, const POINT& p3)
{
    frDoublePoint centre;
    if (dc == nullptr || !CircleCentre(p1, p2, p3, &centre))
        return false;
    DrawRubberCircle(dc, ToCoord(centre.x), ToCoord(centre.y), p1.x, p1.y);
    return true;
}

void DrawRubberEllipse(CDC* dc, int left, int top, int right, int bottom)
{
    if (dc == nullptr)
        return;
    CXorPen pen(*dc, PS_SOLID, kThinPen, kRubberColor);
    dc->Ellipse(left, top, right, bottom);
}

void DrawRubberArc(CDC* dc, const POINT& centre, const POINT& start, const POINT& end)
{
    if (dc == nullptr)
        return;
    const double r =
        std::round(std::hypot(static_cast<double>(start.x) - centre.x, static_cast<double>(start.y) - centre.y));
    int left, top, right, bottom;
    CircleBox(centre.x, centre.y, r, &left, &top, &right, &bottom);
    CXorPen pen(*dc, PS_SOLID, kThinPen, kRubberColor);
    dc->Arc(left, top, right, bottom, start.x, start.y, end.x, end.y);
    dc->MoveTo(centre.x, centre.y);
    dc->LineTo(end.x, end.y);
}

bool DrawRubberArc3P(CDC* dc, const POINT& start, const POINT& middle, const POINT& end)
{
    frDoublePoint centre;
    if (dc == nullptr || !CircleCentre(start, middle, end, &centre))
        return false;
    // Raise the later directions above the start's; when the end then comes
    // before the middle, the arc runs the other way round.
    const double a1 = ScreenAngle(centre, start);
    double a2 = ScreenAngle(centre, middle), a3 = ScreenAngle(centre, end);
    while (a2 < a1)
        a2 += TWO_PI;
    while (a3 < a1)
        a3 += TWO_PI;
    const POINT& from = a3 < a2 ? end : start;
    const POINT& to = a3 < a2 ? start : end;
    const double r = std::hypot(start.x - centre.x, start.y - centre.y);
    int left, top, right, bottom;
    CircleBox(std::round(centre.x), std::round(centre.y), std::round(r), &left, &top, &right, &bottom);
    CXorPen pen(*dc, PS_SOLID, kThinPen, kRubberColor);
    dc->Arc(left, top, right, bottom, from.x, from.y, to.x, to.y);
    return true;
}

void DrawRubberTriangle(CDC* dc, const POINT& p1, const POINT& p2, const POINT& p3)
{
    if (dc == nullptr)
        return;
    CXorPen pen(*dc, PS_SOLID, kThinPen, kRubberColor);
    Lines(*dc, {p1, p2, p3, p1});
}

// ---- snap markers ----------------------------------------------------------

COLORREF SnapMarkerPenColor()
{
    // Only the colour bits: the top byte of a COLORREF is not colour.
    return (GetTraceOption().c_OsnapBoxColor ^ kColorBits) & kColorBits;
}

void DrawEndPointMarker(CDC* dc, int x, int y)
{
    if (dc == nullptr)
        return;
    ClampCentre(x, y);
    constexpr int h = SNAP_MARKER_HALF;
    CXorPen pen(*dc, PS_SOLID, kThinPen, SnapMarkerPenColor());
    Lines(*dc, {{x - h, y - h}, {x + h, y - h}, {x + h, y + h}, {x - h, y + h}, {x - h, y - h}});
}

void DrawMidPointMarker(CDC* dc, int x, int y)
{
    if (dc == nullptr)
        return;
    ClampCentre(x, y);
    constexpr int h = SNAP_MARKER_HALF;
    CXorPen pen(*dc, PS_SOLID, kMarkerPen, SnapMarkerPenColor());
    Lines(*dc, {{x - h, y + h}, {x + h, y + h}, {x, y - h}, {x - h, y + h}});
}

void DrawCenterMarker(CDC* dc, int x, int y)
{
    if (dc == nullptr)
        return;
    ClampCentre(x, y);
    constexpr int h = SNAP_MARKER_HALF;
    CXorPen pen(*dc, PS_SOLID, kThinPen, SnapMarkerPenColor());
    dc->Ellipse(x - h, y - h, x + h + 1, y + h + 1);
}

void DrawHashMarker(CDC* dc, int x, int y)
{
    if (dc == nullptr)
        return;
    ClampCentre(x, y);
    constexpr int h = SNAP_MARKER_HALF;
    CXorPen pen(*dc, PS_SOLID, kThinPen, SnapMarkerPenColor());
    StrokeAsOne(*dc, [&] {
        dc->MoveTo(x - h, y - 2);
        dc->LineTo(x + h + 1, y - 2);
        dc->MoveTo(x - h, y + 2);
        dc->LineTo(x + h + 1, y + 2);
        dc->MoveTo(x - 2, y - h);
        dc->LineTo(x - 2, y + h + 1);
        dc->MoveTo(x + 2, y - h);
        dc->LineTo(x + 2, y + h + 1);
    });
}

void DrawQuadrantMarker(CDC* dc, int x, int y)
{
    if (dc == nullptr)
        return;
    ClampCentre(x, y);
    constexpr int h = SNAP_MARKER_HALF;
    CXorPen pen(*dc, PS_SOLID, kMarkerPen, SnapMarkerPenColor());
    Lines(*dc, {{x - h, y}, {x, y + h}, {x + h, y}, {x, y - h}, {x - h, y}});
}

void DrawIntersectionMarker(CDC* dc, int x, int y)
{
    if (dc == nullptr)
        return;
    ClampCentre(x, y);
    constexpr int h = SNAP_MARKER_HALF;
    CXorPen pen(*dc, PS_SOLID, kMarkerPen, SnapMarkerPenColor());
    StrokeAsOne(*dc, [&] {
        dc->MoveTo(x - h, y - h);
        dc->LineTo(x + h + 1, y + h + 1);
        dc->MoveTo(x + h, y - h);
        dc->LineTo(x - h - 1, y + h + 1);
    });
}

void DrawPerpendicularMarker(CDC* dc, int x, int y)
{
    if (dc == nullptr)
        return;
    ClampCentre(x, y);
    constexpr int h = SNAP_MARKER_HALF;
    CXorPen pen(*dc, PS_SOLID, kMarkerPen, SnapMarkerPenColor());
    StrokeAsOne(*dc, [&] {
        dc->MoveTo(x - h, y - h);
        dc->LineTo(x - h, y + h);
        dc->LineTo(x + h + 1, y + h);
        dc->MoveTo(x - h, y);
        dc->LineTo(x, y);
        dc->LineTo(x, y + h);
    });
}

void DrawTangentMarker(CDC* dc, int x, int y)
{
    if (dc == nullptr)
        return;
    ClampCentre(x, y);
    constexpr int h = SNAP_MARKER_HALF;
    CXorPen pen(*dc, PS_SOLID, kMarkerPen, SnapMarkerPenColor());
    StrokeAsOne(*dc, [&] {
        // A full turn: the arc from the rightmost point round to itself.
        dc->MoveTo(x + h, y);
        dc->ArcTo(x - h, y - h, x + h + 1, y + h + 1, x + h, y, x + h, y);
        dc->MoveTo(x - h, y - h);
        dc->LineTo(x + h + 1, y - h);
    });
}

void DrawNearestMarker(CDC* dc, int x, int y)
{
    if (dc == nullptr)
        return;
    ClampCentre(x, y);
    constexpr int h = SNAP_MARKER_HALF;
    CXorPen pen(*dc, PS_SOLID, kThinPen, SnapMarkerPenColor());
    Lines(*dc, {{x - h, y - h}, {x + h, y - h}, {x - h, y + h}, {x + h, y + h}, {x - h, y - h}});
}

bool DrawSnapMarker(CDC* dc, int x, int y, std::int32_t mode)
{
    if (dc == nullptr)
        return false;
    switch (mode) {
    case SNAP_END: DrawEndPointMarker(dc, x, y); return true;
    case SNAP_MIDDLE: DrawMidPointMarker(dc, x, y); return true;
    case SNAP_CENTRE: DrawCenterMarker(dc, x, y); return true;
    case SNAP_GRID: DrawHashMarker(dc, x, y); return true;
    case SNAP_QUADRANT: DrawQuadrantMarker(dc, x, y); return true;
    case SNAP_INTERSECTION: DrawIntersectionMarker(dc, x, y); return true;
    case SNAP_PERPENDICULAR: DrawPerpendicularMarker(dc, x, y); return true;
    case SNAP_TANGENT: DrawTangentMarker(dc, x, y); return true;
    case SNAP_NEAREST: DrawNearestMarker(dc, x, y); return true;
    default: return false;
    }
}
