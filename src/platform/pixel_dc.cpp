// CPixelDC: state, mapping, and the figure calls. Each call turns its
// logical geometry into device figures, gathers the pen, pen gap and brush
// pixels as spans, and paints each pixel once.
#include "platform/pixel_dc.h"

#include "platform/pixel_dc_raster.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace {

// Device coordinates are kept within this so products of two stay exact.
constexpr long long kDeviceLimit = 1LL << 40;
// Canvases beyond this many pixels are refused rather than attempted.
constexpr long long kMaxPixels = 1LL << 30;

long long Saturate(__int128 v) { return static_cast<long long>(std::clamp<__int128>(v, -kDeviceLimit, kDeviceLimit)); }

// (value - windowOrg) * viewportExt / windowExt + viewportOrg, rounded to nearest.
long long MapAxis(long long value, int windowOrg, int windowExt, int viewportOrg, int viewportExt)
{
    __int128 num = static_cast<__int128>(value - windowOrg) * viewportExt;
    __int128 den = windowExt;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    __int128 twice = 2 * num + den;
    __int128 q = twice / (2 * den);
    if (twice % (2 * den) != 0 && twice < 0)
        --q;
    return Saturate(q + viewportOrg);
}

const CPen& StockPen()
{
    static const CPen pen(PS_SOLID, 0, RGB(0, 0, 0));
    return pen;
}

const CBrush& StockBrush()
{
    static const CBrush brush(RGB(255, 255, 255));
    return brush;
}

EllipseBox DeviceBox(CPixelDC::DPoint a, CPixelDC::DPoint b)
{
    return {static_cast<long long>(std::min(a.x, b.x)), static_cast<long long>(std::min(a.y, b.y)),
            static_cast<long long>(std::max(a.x, b.x)), static_cast<long long>(std::max(a.y, b.y))};
}

bool IsEmpty(const EllipseBox& box) { return box.right <= box.left || box.bottom <= box.top; }

}  // namespace

CPixelDC::CPixelDC(int width, int height, COLORREF fill)
{
    if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxPixels)
        return;
    m_bits.reset(new (std::nothrow) std::uint32_t[static_cast<std::size_t>(width) * height]);
    if (!m_bits)
        return;
    m_width = width;
    m_height = height;
    Clear(fill);
}

CPixelDC::~CPixelDC() = default;

COLORREF CPixelDC::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return CLR_INVALID;
    return ToColorRef(m_bits[static_cast<std::size_t>(y) * m_width + x]);
}

void CPixelDC::Clear(COLORREF color)
{
    std::fill(m_bits.get(), m_bits.get() + static_cast<std::size_t>(m_width) * m_height, ToPixel(color));
}

const std::uint32_t* CPixelDC::GetPixels(int* width, int* height) const
{
    *width = m_width;
    *height = m_height;
    return m_bits.get();
}

// --- objects and state -----------------------------------------------------

CPen* CPixelDC::SelectObject(CPen* pen) { return std::exchange(m_pen, pen); }

CBrush* CPixelDC::SelectObject(CBrush* brush) { return std::exchange(m_brush, brush); }

int CPixelDC::SetROP2(int mode)
{
    if (mode < R2_BLACK || mode > R2_WHITE)
        return 0;
    return std::exchange(m_rop2, mode);
}

int CPixelDC::SetPolyFillMode(int mode)
{
    if (mode != ALTERNATE && mode != WINDING)
        return 0;
    return std::exchange(m_fillMode, mode);
}

int CPixelDC::SetBkMode(int mode)
{
    if (mode != TRANSPARENT && mode != OPAQUE)
        return 0;
    return std::exchange(m_bkMode, mode);
}

COLORREF CPixelDC::SetBkColor(COLORREF color) { return std::exchange(m_bkColor, color & 0xFFFFFF); }

int CPixelDC::SetArcDirection(int direction)
{
    if (direction != AD_COUNTERCLOCKWISE && direction != AD_CLOCKWISE)
        return 0;
    return std::exchange(m_arcDirection, direction);
}

int CPixelDC::SetStretchBltMode(int mode)
{
    if (mode < BLACKONWHITE || mode > HALFTONE)
        return 0;
    return std::exchange(m_stretchMode, mode);
}

// --- mapping -----------------------------------------------------------------

int CPixelDC::SetMapMode(int mode)
{
    if (mode != MM_TEXT && mode != MM_ANISOTROPIC)
        return 0;
    if (mode == MM_TEXT)
        m_windowExt = m_viewportExt = SIZE{1, 1};
    return std::exchange(m_mapMode, mode);
}

POINT CPixelDC::SetWindowOrg(int x, int y) { return std::exchange(m_windowOrg, POINT{x, y}); }

SIZE CPixelDC::SetWindowExt(int cx, int cy)
{
    const SIZE previous = m_windowExt;
    if (m_mapMode == MM_ANISOTROPIC && cx != 0 && cy != 0)
        m_windowExt = SIZE{cx, cy};
    return previous;
}

POINT CPixelDC::SetViewportOrg(int x, int y) { return std::exchange(m_viewportOrg, POINT{x, y}); }

SIZE CPixelDC::SetViewportExt(int cx, int cy)
{
    const SIZE previous = m_viewportExt;
    if (m_mapMode == MM_ANISOTROPIC && cx != 0 && cy != 0)
        m_viewportExt = SIZE{cx, cy};
    return previous;
}

CPixelDC::DPoint CPixelDC::ToDevice(long long x, long long y) const
{
    return {static_cast<double>(MapAxis(x, m_windowOrg.x, m_windowExt.cx, m_viewportOrg.x, m_viewportExt.cx)),
            static_cast<double>(MapAxis(y, m_windowOrg.y, m_windowExt.cy, m_viewportOrg.y, m_viewportExt.cy))};
}

POINT CPixelDC::LogicalToDevice(int x, int y) const
{
    const DPoint p = ToDevice(x, y);
    auto clampInt = [](double v) { return static_cast<std::int32_t>(std::clamp(v, -2147483648.0, 2147483647.0)); };
    return {clampInt(p.x), clampInt(p.y)};
}

POINT CPixelDC::ToLogical(DPoint p) const
{
    auto axis = [](double v, int windowOrg, int windowExt, int viewportOrg, int viewportExt) {
        const double logical = std::round((v - viewportOrg) * windowExt / viewportExt + windowOrg);
        return static_cast<std::int32_t>(std::clamp(logical, -2147483648.0, 2147483647.0));
    };
    return {axis(p.x, m_windowOrg.x, m_windowExt.cx, m_viewportOrg.x, m_viewportExt.cx),
            axis(p.y, m_windowOrg.y, m_windowExt.cy, m_viewportOrg.y, m_viewportExt.cy)};
}

bool CPixelDC::IsMirrored() const
{
    const bool flipX = (m_windowExt.cx < 0) != (m_viewportExt.cx < 0);
    const bool flipY = (m_windowExt.cy < 0) != (m_viewportExt.cy < 0);
    return flipX != flipY;
}

int CPixelDC::DevicePenWidth() const
{
    const CPen& pen = m_pen ? *m_pen : StockPen();
    if (pen.GetWidth() == 0)
        return 1;
    const double scale = std::fabs(static_cast<double>(m_viewportExt.cx) / m_windowExt.cx);
    return static_cast<int>(std::clamp(std::round(pen.GetWidth() * scale), 1.0, 1e6));
}

// --- stroking and painting -----------------------------------------------------

void CPixelDC::Stroke(const std::vector<Figure>& figures, CSpanList& on, CSpanList& gaps) const
{
    const CPen& pen = m_pen ? *m_pen : StockPen();
    if (pen.GetStyle() == PS_NULL)
        return;
    const int width = DevicePenWidth();
    if (width > 1) {
        // Wide pens are solid whatever their style, with round ends and joins.
        const double radius = width / 2.0;
        const double shift = width % 2 ? 0.0 : -0.5;
        for (const Figure& figure : figures) {
            const std::size_t n = figure.points.size();
            const std::size_t segments = figure.closed ? n : n - 1;
            for (std::size_t i = 0; i < segments && n >= 2; ++i) {
                const DPoint a = figure.points[i], b = figure.points[(i + 1) % n];
                AddCapsule(on, {a.x + shift, a.y + shift}, {b.x + shift, b.y + shift}, radius);
            }
        }
        return;
    }
    const std::vector<int> dashes = PenDashes(pen.GetStyle());
    auto pixel = [](double v) { return static_cast<long long>(std::llround(v)); };
    for (const Figure& figure : figures) {
        const std::size_t n = figure.points.size();
        const std::size_t segments = figure.closed ? n : n - 1;
        long long phase = 0;
        for (std::size_t i = 0; i < segments && n >= 2; ++i) {
            const DPoint a = figure.points[i], b = figure.points[(i + 1) % n];
            AddCosmeticLine(on, &gaps, pixel(a.x), pixel(a.y), pixel(b.x), pixel(b.y), dashes, phase);
        }
    }
}

void CPixelDC::Paint(CSpanList& on, CSpanList& gaps, CSpanList* fill)
{
    const CPen& pen = m_pen ? *m_pen : StockPen();
    const CBrush& brush = m_brush ? *m_brush : StockBrush();
    const bool paintGaps = m_bkMode == OPAQUE;
    on.Normalize();
    gaps.Normalize();
    gaps.Subtract(on);
    if (fill && brush.GetStyle() != BS_NULL) {
        fill->Normalize();
        fill->Subtract(on);
        if (paintGaps)
            fill->Subtract(gaps);
        PaintSource source;
        source.color = ToPixel(brush.GetColor());
        if (brush.GetStyle() == BS_HATCHED) {
            source.pattern = HatchPattern(brush.GetHatch());
            source.background = ToPixel(m_bkColor);
            source.opaque = paintGaps;
        }
        PaintSpans(m_bits.get(), m_width, *fill, source, m_rop2);
    }
    if (paintGaps) {
        PaintSource background;
        background.color = ToPixel(m_bkColor);
        PaintSpans(m_bits.get(), m_width, gaps, background, m_rop2);
    }
    PaintSource ink;
    ink.color = ToPixel(pen.GetColor());
    PaintSpans(m_bits.get(), m_width, on, ink, m_rop2);
}

bool CPixelDC::HasBrush() const { return !m_brush || m_brush->GetStyle() != BS_NULL; }

void CPixelDC::DrawFigures(const std::vector<Figure>& outline, const std::vector<Figure>* fillFigures)
{
    CSpanList on(m_width, m_height), gaps(m_width, m_height), fill(m_width, m_height);
    Stroke(outline, on, gaps);
    if (fillFigures && HasBrush())
        AddPolygonFill(fill, *fillFigures, m_fillMode);
    Paint(on, gaps, fillFigures ? &fill : nullptr);
}

// --- lines and figures ---------------------------------------------------------

CPixelDC::Figure& CPixelDC::OpenPathFigure()
{
    if (m_path.empty() || m_path.back().closed || !m_figureOpen) {
        m_path.push_back({});
        m_path.back().points.push_back(ToDevice(m_position.x, m_position.y));
        m_figureOpen = true;
    }
    return m_path.back();
}

POINT CPixelDC::MoveTo(int x, int y)
{
    if (InPath()) {
        m_path.push_back({});
        m_path.back().points.push_back(ToDevice(x, y));
        m_figureOpen = true;
    }
    return std::exchange(m_position, POINT{x, y});
}

bool CPixelDC::LineTo(int x, int y)
{
    if (InPath()) {
        OpenPathFigure().points.push_back(ToDevice(x, y));
    } else if (m_bits) {
        DrawFigures({Figure{{ToDevice(m_position.x, m_position.y), ToDevice(x, y)}, false}}, nullptr);
    }
    m_position = POINT{x, y};
    return true;
}

CPixelDC::Figure CPixelDC::DeviceFigure(const POINT* points, int count, bool closed) const
{
    Figure figure;
    figure.closed = closed;
    figure.points.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        figure.points.push_back(ToDevice(points[i].x, points[i].y));
    return figure;
}

bool CPixelDC::Polyline(const POINT* points, int count)
{
    if (!points || count < 2)
        return false;
    if (InPath()) {
        m_path.push_back(DeviceFigure(points, count, false));
        m_figureOpen = true;
    } else if (m_bits) {
        DrawFigures({DeviceFigure(points, count, false)}, nullptr);
    }
    return true;
}

bool CPixelDC::Polygon(const POINT* points, int count)
{
    if (!points || count < 2)
        return false;
    const int counts[1] = {count};
    return PolyPolygon(points, counts, 1);
}

bool CPixelDC::PolyPolygon(const POINT* points, const int* counts, int polygonCount)
{
    if (!points || !counts || polygonCount <= 0)
        return false;
    std::vector<Figure> figures;
    for (int i = 0, offset = 0; i < polygonCount; offset += counts[i], ++i) {
        if (counts[i] < 2)
            return false;
        figures.push_back(DeviceFigure(points + offset, counts[i], true));
    }
    if (InPath()) {
        m_path.insert(m_path.end(), figures.begin(), figures.end());
        m_figureOpen = false;
    } else if (m_bits) {
        DrawFigures(figures, &figures);
    }
    return true;
}

bool CPixelDC::Rectangle(int left, int top, int right, int bottom)
{
    const EllipseBox box = DeviceBox(ToDevice(left, top), ToDevice(right, bottom));
    if (IsEmpty(box))
        return true;
    // The outline runs along the outermost pixels; right and bottom excluded.
    const double l = box.left, t = box.top, r = box.right - 1, b = box.bottom - 1;
    const std::vector<Figure> outline{Figure{{{l, t}, {r, t}, {r, b}, {l, b}}, true}};
    if (InPath()) {
        m_path.push_back(outline.front());
        m_figureOpen = false;
        return true;
    }
    if (!m_bits)
        return true;
    CSpanList on(m_width, m_height), gaps(m_width, m_height), fill(m_width, m_height);
    Stroke(outline, on, gaps);
    if (HasBrush()) {
        for (long long y = std::max(box.top, 0LL); y < std::min(box.bottom, static_cast<long long>(m_height)); ++y)
            fill.AddSpan(y, box.left, box.right);
    }
    Paint(on, gaps, &fill);
    return true;
}

bool CPixelDC::Ellipse(int left, int top, int right, int bottom)
{
    const EllipseBox box = DeviceBox(ToDevice(left, top), ToDevice(right, bottom));
    if (IsEmpty(box))
        return true;
    const CPen& pen = m_pen ? *m_pen : StockPen();
    const int width = DevicePenWidth();
    if (InPath() || (width <= 1 && pen.GetStyle() != PS_SOLID && pen.GetStyle() != PS_NULL)) {
        // Styled pens follow the flattened curve so the pattern runs along it.
        Figure figure;
        figure.closed = true;
        AppendEllipsePoints(figure.points, box, 0, kFullTurn);
        figure.points.pop_back();
        if (InPath()) {
            m_path.push_back(std::move(figure));
            m_figureOpen = false;
            return true;
        }
        if (!m_bits)
            return true;
        CSpanList on(m_width, m_height), gaps(m_width, m_height), fill(m_width, m_height);
        Stroke({figure}, on, gaps);
        if (HasBrush())
            AddEllipseFill(fill, box);
        Paint(on, gaps, &fill);
        return true;
    }
    if (!m_bits)
        return true;
    CSpanList on(m_width, m_height), gaps(m_width, m_height), fill(m_width, m_height);
    if (pen.GetStyle() != PS_NULL) {
        if (width > 1)
            AddEllipseRing(on, box, width);
        else
            AddEllipseOutline(on, box);
    }
    if (HasBrush())
        AddEllipseFill(fill, box);
    Paint(on, gaps, &fill);
    return true;
}

bool CPixelDC::ArcPoints(std::vector<DPoint>& out, double& start, double& sweep, int left, int top, int right,
                         int bottom, int x3, int y3, int x4, int y4) const
{
    const EllipseBox box = DeviceBox(ToDevice(left, top), ToDevice(right, bottom));
    if (IsEmpty(box))
        return false;
    // Rays from the box centre; parameter angles of the points where they
    // meet the ellipse, counterclockwise as seen on the device (y down).
    const double cx = (box.left + box.right) / 2.0, cy = (box.top + box.bottom) / 2.0;
    const double a = (box.right - box.left - 1) / 2.0, b = (box.bottom - box.top - 1) / 2.0;
    auto angle = [&](DPoint p) { return std::atan2(-(p.y - cy) * a, (p.x - cx) * b); };
    start = angle(ToDevice(x3, y3));
    const double end = angle(ToDevice(x4, y4));
    const bool counterclockwise = (m_arcDirection == AD_COUNTERCLOCKWISE) != IsMirrored();
    sweep = end - start;
    if (counterclockwise && sweep <= 0)
        sweep += kFullTurn;
    else if (!counterclockwise && sweep >= 0)
        sweep -= kFullTurn;
    AppendEllipsePoints(out, box, start, sweep);
    return true;
}

void CPixelDC::DrawArc(const Figure& figure, bool leadIn, int left, int top, int right, int bottom, double start,
                       double sweep)
{
    const CPen& pen = m_pen ? *m_pen : StockPen();
    if (pen.GetStyle() != PS_SOLID || DevicePenWidth() > 1) {
        DrawFigures({figure}, nullptr);
        return;
    }
    // A thin solid arc takes its pixels from the outline Ellipse draws.
    CSpanList on(m_width, m_height), gaps(m_width, m_height);
    if (leadIn)
        Stroke({Figure{{figure.points[0], figure.points[1]}, false}}, on, gaps);
    AddEllipseArcOutline(on, DeviceBox(ToDevice(left, top), ToDevice(right, bottom)), start, sweep);
    Paint(on, gaps, nullptr);
}

bool CPixelDC::Arc(int left, int top, int right, int bottom, int x3, int y3, int x4, int y4)
{
    Figure figure;
    double start = 0, sweep = 0;
    if (!ArcPoints(figure.points, start, sweep, left, top, right, bottom, x3, y3, x4, y4))
        return true;
    if (InPath()) {
        m_path.push_back(std::move(figure));
        m_figureOpen = true;
    } else if (m_bits) {
        DrawArc(figure, false, left, top, right, bottom, start, sweep);
    }
    return true;
}

bool CPixelDC::ArcTo(int left, int top, int right, int bottom, int x3, int y3, int x4, int y4)
{
    std::vector<DPoint> points;
    double start = 0, sweep = 0;
    if (!ArcPoints(points, start, sweep, left, top, right, bottom, x3, y3, x4, y4))
        return true;
    if (InPath()) {
        Figure& figure = OpenPathFigure();
        figure.points.insert(figure.points.end(), points.begin(), points.end());
    } else if (m_bits) {
        Figure figure;
        figure.points.push_back(ToDevice(m_position.x, m_position.y));
        figure.points.insert(figure.points.end(), points.begin(), points.end());
        DrawArc(figure, true, left, top, right, bottom, start, sweep);
    }
    m_position = ToLogical(points.back());
    return true;
}

COLORREF CPixelDC::SetPixel(int x, int y, COLORREF color)
{
    const DPoint p = ToDevice(x, y);
    if (InPath() || p.x < 0 || p.y < 0 || p.x >= m_width || p.y >= m_height)
        return CLR_INVALID;
    m_bits[static_cast<std::size_t>(p.y) * m_width + static_cast<std::size_t>(p.x)] = ToPixel(color);
    return color & 0xFFFFFF;
}

void CPixelDC::FillSolidRect(const RECT& rect, COLORREF color)
{
    const EllipseBox box = DeviceBox(ToDevice(rect.left, rect.top), ToDevice(rect.right, rect.bottom));
    const long long x0 = std::max(box.left, 0LL), x1 = std::min(box.right, static_cast<long long>(m_width));
    const long long y0 = std::max(box.top, 0LL), y1 = std::min(box.bottom, static_cast<long long>(m_height));
    const std::uint32_t pixel = ToPixel(color);
    for (long long y = y0; y < y1 && x0 < x1; ++y)
        std::fill(m_bits.get() + y * m_width + x0, m_bits.get() + y * m_width + x1, pixel);
}

// --- paths ---------------------------------------------------------------------

bool CPixelDC::BeginPath()
{
    m_path.clear();
    m_figureOpen = false;
    m_pathState = PathState::Building;
    return true;
}

bool CPixelDC::EndPath()
{
    if (m_pathState != PathState::Building)
        return false;
    m_pathState = PathState::Done;
    return true;
}

bool CPixelDC::CloseFigure()
{
    if (!InPath() || m_path.empty() || !m_figureOpen)
        return false;
    m_path.back().closed = true;
    m_figureOpen = false;
    return true;
}

bool CPixelDC::FinishPath(bool stroke, bool fill)
{
    if (m_pathState != PathState::Done)
        return false;
    std::vector<Figure> figures = std::move(m_path);
    m_path.clear();
    m_pathState = PathState::None;
    if (!m_bits)
        return true;
    CSpanList on(m_width, m_height), gaps(m_width, m_height), area(m_width, m_height);
    if (stroke)
        Stroke(figures, on, gaps);
    if (fill && HasBrush())
        AddPolygonFill(area, figures, m_fillMode);
    Paint(on, gaps, fill ? &area : nullptr);
    return true;
}

bool CPixelDC::FillPath() { return FinishPath(false, true); }
bool CPixelDC::StrokePath() { return FinishPath(true, false); }
bool CPixelDC::StrokeAndFillPath() { return FinishPath(true, true); }
