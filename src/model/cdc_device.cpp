// The view's drawing device: the drawing pass, lines, fills, markers and
// grips. Images are in cdc_device_images.cpp.
#include "model/cdc_device.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/clipping.h"
#include "model/color_index.h"
#include "platform/dc.h"
#include "trace/trace_option.h"

namespace {

// Wider pens than this are drawn at this width: the pen would cover the
// window many times over anyway.
constexpr double kMaxPenWidth = 1 << 16;

// Size of the crop frame's handles, in pixels.
constexpr int kHandleOuter = 11;
constexpr int kHandleInner = 1;
constexpr int kHandleHalf = 4;

COLORREF SelectionColor() { return GetTraceOption().c_SelectColor; }

COLORREF EntityColor(int colorIndex, bool selected)
{
    return selected ? SelectionColor() : ColorIndexToRGB(colorIndex, nullptr, false);
}

bool InBox(const CFrZoomBox& box, double x, double y)
{
    return x >= box.xmin && x <= box.xmax && y >= box.ymin && y <= box.ymax;
}

bool SamePoint(const POINT& a, const POINT& b) { return a.x == b.x && a.y == b.y; }

// Selects a pen and a brush for one call and puts the previous ones back.
class CObjectScope {
public:
    CObjectScope(CDC* dc, CPen* pen, CBrush* brush) : m_dc(dc)
    {
        if (pen) {
            m_oldPen = dc->SelectObject(pen);
            m_penSelected = true;
        }
        if (brush) {
            m_oldBrush = dc->SelectObject(brush);
            m_brushSelected = true;
        }
    }
    ~CObjectScope()
    {
        if (m_brushSelected)
            m_dc->SelectObject(m_oldBrush);
        if (m_penSelected)
            m_dc->SelectObject(m_oldPen);
    }
    CObjectScope(const CObjectScope&) = delete;
    CObjectScope& operator=(const CObjectScope&) = delete;

private:
    CDC* m_dc;
    CPen* m_oldPen = nullptr;
    CBrush* m_oldBrush = nullptr;
    bool m_penSelected = false;
    bool m_brushSelected = false;
};

}  // namespace

CFrCDCDevice::CFrCDCDevice() = default;

CFrCDCDevice::~CFrCDCDevice() { EndDraw(); }

// ---- the drawing pass --------------------------------------------------------

bool CFrCDCDevice::BeginDraw(CDC* parent, bool fillBackground)
{
    if (m_DC)
        EndDraw();
    const int width = Transform().DeviceWidth(), height = Transform().DeviceHeight();
    if (m_BackBuffer.Width() != width || m_BackBuffer.Height() != height) {
        if (!m_BackBuffer.Create(width, height, 24))
            return false;
    }
    return OpenPass(m_BackBuffer.BeginPaint(parent), fillBackground, false);
}

bool CFrCDCDevice::BeginDrawOn(CDC* dc, bool fillBackground)
{
    if (m_DC)
        EndDraw();
    return OpenPass(dc, fillBackground, true);
}

bool CFrCDCDevice::OpenPass(CDC* dc, bool fillBackground, bool callersContext)
{
    if (dc == nullptr)
        return false;
    m_DC = dc;
    m_CallersContext = callersContext;
    if (fillBackground)
        m_DC->FillSolidRect(RECT{0, 0, Transform().DeviceWidth(), Transform().DeviceHeight()},
                            GetTraceOption().c_BackGroundColor);
    ResetXorFlag();
    m_DC->SetROP2(R2_COPYPEN);
    SetMapping();
    return true;
}

void CFrCDCDevice::EndDraw()
{
    if (m_DC == nullptr)
        return;
    RestoreMapping();
    if (!m_CallersContext)
        m_BackBuffer.EndPaint();
    m_DC = nullptr;
    m_CallersContext = false;
}

bool CFrCDCDevice::CopyToDC(CDC* destination, int x, int y)
{
    EndDraw();
    return destination != nullptr && m_BackBuffer.Draw(destination, x, y, SRCCOPY);
}

void CFrCDCDevice::SetMapping()
{
    if (m_DC == nullptr || m_MappingSet)
        return;
    m_SavedMapMode = m_DC->SetMapMode(MM_ANISOTROPIC);
    m_SavedWindowExt = m_DC->GetWindowExt();
    m_DC->SetWindowExt(m_SavedWindowExt.cx, -m_SavedWindowExt.cy);
    // Device y points up: logical (X, Y) lands on column X - left, row
    // top - Y of the device rectangle.
    const RECT& rect = Transform().DeviceRect();
    m_SavedWindowOrg = m_DC->SetWindowOrg(rect.left, rect.bottom + Transform().DeviceHeight());
    m_MappingSet = true;
}

void CFrCDCDevice::RestoreMapping()
{
    if (m_DC == nullptr || !m_MappingSet)
        return;
    m_DC->SetWindowOrg(m_SavedWindowOrg.x, m_SavedWindowOrg.y);
    m_DC->SetWindowExt(m_SavedWindowExt.cx, m_SavedWindowExt.cy);
    m_DC->SetMapMode(m_SavedMapMode);
    m_MappingSet = false;
}

void CFrCDCDevice::SetXorMode(bool on)
{
    if (on == IsXorMode())
        return;
    CFrDevice::SetXorMode(on);
    if (m_DC)
        m_DC->SetROP2(on ? R2_XORPEN : R2_COPYPEN);
}

int CFrCDCDevice::PenWidth(double startWidth) const
{
    if (!(startWidth > 0) || !GetShowWidths())
        return 0;
    const double pixels = startWidth / Transform().UnitsPerPixel() + 0.5;
    return static_cast<int>(std::min(pixels, kMaxPenWidth));
}

// ---- lines -------------------------------------------------------------------

bool CFrCDCDevice::DrawSegment(const POINT& a, const POINT& b, COLORREF color, int width)
{
    CPen pen(PS_SOLID, width, color);
    CObjectScope scope(m_DC, &pen, nullptr);
    m_DC->MoveTo(a.x, a.y);
    m_DC->LineTo(b.x, b.y);
    return true;
}

bool CFrCDCDevice::DrawLine(const CVertex& a, const CVertex& b, COLORREF color)
{
    POINT p, q;
    if (m_DC == nullptr || !Transform().ClipSegmentToDevice(a, b, &p, &q))
        return false;
    return DrawSegment(p, q, color, PenWidth(a.startWidth));
}

bool CFrCDCDevice::DrawEntityLine(const CVertex& a, const CVertex& b, int colorIndex, bool selected)
{
    return DrawLine(a, b, EntityColor(colorIndex, selected));
}

bool CFrCDCDevice::DrawRectOutline(const frDoublePoint& a, const frDoublePoint& b, COLORREF color)
{
    const CVertex aa(a.x, a.y, 0, 0, 0), ab(a.x, b.y, 0, 0, 0), bb(b.x, b.y, 0, 0, 0), ba(b.x, a.y, 0, 0, 0);
    bool drew = DrawLine(aa, ab, color);
    drew = DrawLine(bb, ab, color) || drew;
    drew = DrawLine(bb, ba, color) || drew;
    drew = DrawLine(aa, ba, color) || drew;
    return drew;
}

bool CFrCDCDevice::DrawPolylineRun(const CVertex* ring, int colorIndex, bool selected, bool closed)
{
    if (m_DC == nullptr || ring == nullptr || ring->next == nullptr || ring->next == ring)
        return false;
    const CFrZoomBox& box = Transform().WorldBox();
    const COLORREF color = EntityColor(colorIndex, selected);
    CPen pen;
    CPen* oldPen = nullptr;
    int penWidth = -1;    // no pen selected yet
    bool joined = false;  // the current position is the end of the last segment drawn
    POINT last;
    for (const CVertex* v = ring;;) {
        const CVertex* n = v->next;
        if (n == nullptr) {
            if (!closed)
                break;
            n = ring;
        } else if (n == ring && !closed) {
            break;
        }
        double x1 = v->x, y1 = v->y, x2 = n->x, y2 = n->y;
        std::int16_t code1 = 0, code2 = 0;
        if (ClipSegmentToRect(box.xmin, box.ymin, box.xmax, box.ymax, x1, y1, x2, y2, code1, code2)) {
            const int width = PenWidth(v->startWidth);
            if (width != penWidth) {
                pen = CPen(PS_SOLID, width, color);
                CPen* previous = m_DC->SelectObject(&pen);
                if (penWidth < 0)
                    oldPen = previous;
                penWidth = width;
            }
            POINT p, q;
            Transform().WorldToDevice(x1, y1, &p.x, &p.y);
            Transform().WorldToDevice(x2, y2, &q.x, &q.y);
            // Continuing from the last end keeps each shared vertex one
            // pixel, which an XOR rubber band needs.
            if (!joined || !SamePoint(p, last))
                m_DC->MoveTo(p.x, p.y);
            m_DC->LineTo(q.x, q.y);
            last = q;
            joined = true;
        } else {
            joined = false;
        }
        if (n == ring)
            break;
        v = n;
    }
    if (penWidth < 0)
        return false;
    m_DC->SelectObject(oldPen);
    return true;
}

bool CFrCDCDevice::DrawPolyline(const CVertex* ring, int colorIndex, bool selected)
{
    return DrawPolylineRun(ring, colorIndex, selected, false);
}

bool CFrCDCDevice::DrawClosedPolyline(const CVertex* ring, int colorIndex, bool selected)
{
    return DrawPolylineRun(ring, colorIndex, selected, true);
}

// ---- frames, rectangles, markers -------------------------------------------

bool CFrCDCDevice::DrawShadowFrame(const CVertex& a, const CVertex& b, COLORREF color)
{
    const CVertex low(std::min(a.x, b.x), std::min(a.y, b.y), 0, 0, 0);
    const CVertex high(std::max(a.x, b.x), std::max(a.y, b.y), 0, 0, 0);
    bool drew = DrawLine(low, CVertex(low.x, high.y, 0, 0, 0), color);
    drew = DrawLine(high, CVertex(low.x, high.y, 0, 0, 0), color) || drew;
    if (m_DC == nullptr)
        return drew;

    const RECT& rect = Transform().DeviceRect();
    const int top = rect.bottom + Transform().DeviceHeight();
    // The bands are filled on the window's own rows, between the mapping's
    // rows of their upper and lower device y.
    auto band = [&](int left, int right, int upperY, int lowerY) {
        if (left >= right || upperY <= lowerY)
            return;
        RestoreMapping();
        m_DC->FillSolidRect(RECT{left - rect.left, top - upperY, right - rect.left, top - lowerY}, kShadowColor);
        SetMapping();
    };
    std::int32_t cornerX, cornerY;
    POINT p, q;
    if (Transform().ClipSegmentToDevice(high.x, high.y, high.x, low.y, &p, &q)) {
        DrawSegment(p, q, color, 0);
        Transform().WorldToDevice(high.x, high.y, &cornerX, &cornerY);
        band(p.x, p.x + kShadowDepth, std::min(p.y, cornerY - kShadowDepth), q.y);
    }
    if (Transform().ClipSegmentToDevice(low.x, low.y, high.x, low.y, &p, &q)) {
        DrawSegment(p, q, color, 0);
        Transform().WorldToDevice(low.x, low.y, &cornerX, &cornerY);
        band(std::max(p.x, cornerX + kShadowDepth), q.x + kShadowDepth, p.y, p.y - kShadowDepth);
    }
    return drew;
}

bool CFrCDCDevice::DrawRectangle(const frDoublePoint& lowerLeft, const frDoublePoint& upperRight, COLORREF color)
{
    if (m_DC == nullptr)
        return false;
    const double box[4] = {lowerLeft.x, upperRight.x, lowerLeft.y, upperRight.y};
    RECT r;
    if (!Transform().BoxToDevice(box, &r))
        return true;
    CPen pen(PS_SOLID, 0, color);
    CBrush brush(color);
    CObjectScope scope(m_DC, &pen, &brush);
    m_DC->Rectangle(r.left, r.top, r.right, r.bottom);
    return true;
}

bool CFrCDCDevice::DrawHandleFrame(double x1, double y1, double x2, double y2)
{
    if (m_DC == nullptr)
        return false;
    const int oldRop = m_DC->SetROP2(R2_XORPEN);
    const COLORREF color = SelectionColor() ^ 0xFFFFFF;
    CPen pen(PS_SOLID, 0, color);
    CBrush brush(color);
    {
        CObjectScope scope(m_DC, &pen, &brush);
        const double sides[4][4] = {{x1, y1, x2, y1}, {x2, y1, x2, y2}, {x2, y2, x1, y2}, {x1, y2, x1, y1}};
        for (const auto& s : sides) {
            POINT p, q;
            if (!Transform().ClipSegmentToDevice(s[0], s[1], s[2], s[3], &p, &q))
                continue;
            m_DC->MoveTo(p.x, p.y);
            m_DC->LineTo(q.x, q.y);
        }
        const double xm = (x1 + x2) * 0.5, ym = (y1 + y2) * 0.5;
        constexpr int o = kHandleOuter, i = kHandleInner, h = kHandleHalf;
        // Handle point, then the rectangle's left, top, right, bottom as
        // offsets from its device point.
        struct Handle {
            double x, y;
            int left, top, right, bottom;
        };
        const Handle handles[8] = {
            {x1, y1, -o, o, -i, i},
            {xm, y1, -h, o, h + 1, i},
            {x2, y1, o + 1, o, i + 1, i},
            {x2, ym, o + 1, h, i + 1, -h - 1},
            {x2, y2, o + 1, -o - 1, i + 1, -i - 1},
            {xm, y2, h + 1, -o - 1, -h, -i - 1},
            {x1, y2, -o, -o - 1, -i, -i - 1},
            {x1, ym, -o, -h - 1, -i, h},
        };
        for (const Handle& handle : handles) {
            if (!InBox(Transform().WorldBox(), handle.x, handle.y))
                continue;
            std::int32_t X, Y;
            Transform().WorldToDevice(handle.x, handle.y, &X, &Y);
            m_DC->Rectangle(X + handle.left, Y + handle.top, X + handle.right, Y + handle.bottom);
        }
    }
    m_DC->SetROP2(oldRop);
    return true;
}

bool CFrCDCDevice::DrawCrossMarker(double x, double y, COLORREF color)
{
    if (m_DC == nullptr || !InBox(Transform().WorldBox(), x, y))
        return false;
    std::int32_t X, Y;
    Transform().WorldToDevice(x, y, &X, &Y);
    CPen pen(PS_SOLID, 0, color);
    CObjectScope scope(m_DC, &pen, nullptr);
    switch (GetTraceOption().GridPointType) {
    case 0: m_DC->SetPixel(X, Y, color); break;
    case 1:
        m_DC->MoveTo(X - 3, Y);
        m_DC->LineTo(X + 4, Y);
        m_DC->MoveTo(X, Y - 3);
        m_DC->LineTo(X, Y + 4);
        break;
    case 2:
        m_DC->MoveTo(X - 3, Y - 3);
        m_DC->LineTo(X + 4, Y + 4);
        m_DC->MoveTo(X + 3, Y - 3);
        m_DC->LineTo(X - 4, Y + 4);
        break;
    default: break;
    }
    return true;
}

bool CFrCDCDevice::DrawGripBox(double x, double y, bool hot, bool cross)
{
    if (m_DC == nullptr || !InBox(Transform().WorldBox(), x, y))
        return false;
    const CTraceOption& options = GetTraceOption();
    const COLORREF color = hot ? options.c_SelGripBoxColor : options.c_GripBoxColor;
    const int h = options.i_GripBoxHalfWidth;
    std::int32_t X, Y;
    Transform().WorldToDevice(x, y, &X, &Y);
    const int oldRop = m_DC->SetROP2(R2_COPYPEN);
    {
        CPen pen(PS_SOLID, 2, color);
        CObjectScope scope(m_DC, &pen, nullptr);
        m_DC->MoveTo(X - h, Y - h);
        m_DC->LineTo(X - h, Y + h);
        m_DC->LineTo(X + h, Y + h);
        m_DC->LineTo(X + h, Y - h);
        m_DC->LineTo(X - h, Y - h);
    }
    if (cross) {
        CPen pen(PS_SOLID, 1, color);
        CObjectScope scope(m_DC, &pen, nullptr);
        m_DC->MoveTo(X - 2 * h, Y - 2 * h);
        m_DC->LineTo(X + 2 * h, Y + 2 * h);
        m_DC->MoveTo(X - 2 * h, Y + 2 * h);
        m_DC->LineTo(X + 2 * h, Y - 2 * h);
    }
    m_DC->SetROP2(oldRop);
    return true;
}

// ---- fills -------------------------------------------------------------------

bool CFrCDCDevice::FillDevicePolygons(const frDoublePoint* points, const int* counts, int outlineCount, int colorIndex,
                                      bool selected, int fillMode)
{
    std::size_t total = 0;
    for (int i = 0; i < outlineCount; ++i)
        total += static_cast<std::size_t>(counts[i]);
    std::vector<POINT> device(total);
    for (std::size_t i = 0; i < total; ++i)
        device[i] = Transform().WorldToDevicePoint(points[i]);

    const COLORREF color = EntityColor(colorIndex, selected);
    CBrush brush = selected ? CBrush(HS_DIAGCROSS, color) : CBrush(color);
    CPen pen(PS_SOLID, 0, color);
    CObjectScope scope(m_DC, &pen, &brush);
    const int oldBk = m_DC->SetBkMode(TRANSPARENT);
    const int oldMode = m_DC->SetPolyFillMode(fillMode);
    if (outlineCount == 1)
        m_DC->Polygon(device.data(), counts[0]);
    else
        m_DC->PolyPolygon(device.data(), counts, outlineCount);
    m_DC->SetPolyFillMode(oldMode);
    m_DC->SetBkMode(oldBk);
    return true;
}

bool CFrCDCDevice::FillRing(const CVertex* ring, int colorIndex, bool selected, bool winding)
{
    if (m_DC == nullptr || ring == nullptr || ring->next == nullptr || ring->next->next == nullptr)
        return false;
    std::vector<frDoublePoint> points;
    const CVertex* v = ring;
    do {
        points.emplace_back(v->x, v->y, v->z);
        v = v->next;
    } while (v != nullptr && v != ring);
    if (points.size() < 3)
        return false;
    const CFrZoomBox& box = Transform().WorldBox();
    std::vector<frDoublePoint> clipped;
    const int count = static_cast<int>(points.size());
    const bool visible =
        winding ? ClipPolygonWinding(box.xmin, box.ymin, box.xmax, box.ymax, points.data(), count, clipped)
                : ClipPolygonEvenOdd(box.xmin, box.ymin, box.xmax, box.ymax, points.data(), count, clipped);
    if (!visible || clipped.size() < 3)
        return false;
    const int clippedCount = static_cast<int>(clipped.size());
    return FillDevicePolygons(clipped.data(), &clippedCount, 1, colorIndex, selected, winding ? WINDING : ALTERNATE);
}

bool CFrCDCDevice::FillPolygonWinding(const CVertex* ring, int colorIndex, bool selected)
{
    return FillRing(ring, colorIndex, selected, true);
}

bool CFrCDCDevice::FillPolygon(const CVertex* ring, int colorIndex, bool selected)
{
    return FillRing(ring, colorIndex, selected, false);
}

bool CFrCDCDevice::FillPolyPolygon(const frDoublePoint* points, const std::int32_t* counts, int outlineCount,
                                   int colorIndex, bool selected)
{
    if (m_DC == nullptr || points == nullptr || counts == nullptr || outlineCount <= 0)
        return false;
    std::vector<int> clippedCounts(counts, counts + outlineCount);
    if (std::any_of(clippedCounts.begin(), clippedCounts.end(), [](int n) { return n < 0; }))
        return false;
    const CFrZoomBox& box = Transform().WorldBox();
    std::vector<frDoublePoint> clipped;
    int remaining = 0;
    if (!ClipPolyPolygon(box.xmin, box.ymin, box.xmax, box.ymax, points, clippedCounts.data(), outlineCount, clipped,
                         remaining) ||
        remaining <= 0)
        return false;
    return FillDevicePolygons(clipped.data(), clippedCounts.data(), remaining, colorIndex, selected, ALTERNATE);
}
