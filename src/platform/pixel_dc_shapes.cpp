// Rasterizers of CPixelDC: lines, round-ended strokes, polygon interiors
// and ellipses, each turning geometry in device pixels into spans. They
// walk only the rows and columns inside the canvas, so far-away
// coordinates cost nothing.
#include "platform/pixel_dc_raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

long long FloorDiv(__int128 a, __int128 b)  // b > 0
{
    __int128 q = a / b;
    if (a % b != 0 && a < 0)
        --q;
    return static_cast<long long>(q);
}

// Position inside a dash pattern, stepped one pixel at a time.
class CDashWalker {
public:
    CDashWalker(const std::vector<int>& dashes, long long start) : m_dashes(dashes)
    {
        if (dashes.empty())
            return;
        long long period = 0;
        for (int d : dashes)
            period += d;
        long long pos = start % period;
        if (pos < 0)
            pos += period;
        while (pos >= m_dashes[m_index]) {
            pos -= m_dashes[m_index];
            m_index = (m_index + 1) % m_dashes.size();
        }
        m_left = m_dashes[m_index] - pos;
    }
    bool On() const { return m_dashes.empty() || m_index % 2 == 0; }
    void Step()
    {
        if (m_dashes.empty() || --m_left > 0)
            return;
        m_index = (m_index + 1) % m_dashes.size();
        m_left = m_dashes[m_index];
    }

private:
    const std::vector<int>& m_dashes;
    std::size_t m_index = 0;
    long long m_left = 0;
};

}  // namespace

void AddCosmeticLine(CSpanList& on, CSpanList* gaps, long long ax, long long ay, long long bx, long long by,
                     const std::vector<int>& dashes, long long& phase)
{
    const long long dx = bx - ax, dy = by - ay;
    const long long n = std::max(std::llabs(dx), std::llabs(dy));
    if (n == 0)
        return;
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    // Walk the major axis; the minor coordinate of step k is the rounded
    // k * dMinor / n, computed exactly so a clipped start changes nothing.
    const long long major0 = xMajor ? ax : ay, minor0 = xMajor ? ay : ax;
    const long long dMinor = xMajor ? dy : dx;
    const long long step = (xMajor ? dx : dy) > 0 ? 1 : -1;
    const long long limit = xMajor ? on.Width() : on.Height();
    long long kFirst = step > 0 ? -major0 : major0 - (limit - 1);
    long long kLast = step > 0 ? limit - 1 - major0 : major0;
    kFirst = std::max(kFirst, 0LL);
    kLast = std::min(kLast, n - 1);
    const long long startPhase = phase;
    phase += n;
    const long long minorLimit = xMajor ? on.Height() : on.Width();
    const long long minor1 = xMajor ? by : bx;
    if (kFirst > kLast || (minor0 < 0 && minor1 < 0) || (minor0 >= minorLimit && minor1 >= minorLimit))
        return;

    const long long twoN = 2 * n;
    const __int128 numerator = static_cast<__int128>(2) * kFirst * dMinor + n;
    long long q = FloorDiv(numerator, twoN);
    long long r = static_cast<long long>(numerator - static_cast<__int128>(q) * twoN);
    CDashWalker dash(dashes, startPhase + kFirst);

    // Runs of the same row and state become one span (x-major lines).
    long long runRow = 0, runFrom = 0, runTo = -1;
    bool runOn = true;
    auto flush = [&]() {
        if (runTo < runFrom)
            return;
        if (runOn)
            on.AddSpan(runRow, runFrom, runTo + 1);
        else if (gaps)
            gaps->AddSpan(runRow, runFrom, runTo + 1);
        runTo = runFrom - 1;
    };
    for (long long k = kFirst; k <= kLast; ++k) {
        const long long major = major0 + step * k, minor = minor0 + q;
        const bool isOn = dash.On();
        if (xMajor) {
            if (runTo >= runFrom && runRow == minor && runOn == isOn && (major == runTo + 1 || major == runFrom - 1)) {
                runFrom = std::min(runFrom, major);
                runTo = std::max(runTo, major);
            } else {
                flush();
                runRow = minor;
                runFrom = runTo = major;
                runOn = isOn;
            }
        } else if (isOn) {
            on.AddPixel(minor, major);
        } else if (gaps) {
            gaps->AddPixel(minor, major);
        }
        dash.Step();
        r += 2 * dMinor;
        if (r >= twoN) {
            r -= twoN;
            ++q;
        } else if (r < 0) {
            r += twoN;
            --q;
        }
    }
    flush();
}

namespace {

constexpr double kHuge = 1e300;

struct Interval {
    double lo = kHuge;
    double hi = -kHuge;
    void Join(double a, double b)
    {
        lo = std::min(lo, a);
        hi = std::max(hi, b);
    }
};

// Open x interval {x : c + k x in (lo, hi)}; everything or nothing when k is 0.
bool Solve(double k, double c, double lo, double hi, double& a, double& b)
{
    if (k == 0) {
        a = -kHuge;
        b = kHuge;
        return c > lo && c < hi;
    }
    a = (lo - c) / k;
    b = (hi - c) / k;
    if (a > b)
        std::swap(a, b);
    return true;
}

// Pixels i with lo < i < hi on row y.
void AddOpenInterval(CSpanList& spans, long long y, double lo, double hi)
{
    if (!(lo < hi))
        return;
    lo = std::clamp(lo, -2.0, spans.Width() + 2.0);
    hi = std::clamp(hi, -2.0, spans.Width() + 2.0);
    spans.AddSpan(y, static_cast<long long>(std::floor(lo)) + 1, static_cast<long long>(std::ceil(hi)));
}

// Rows [first, last] of a figure spanning [lo, hi] in y, clipped to the canvas.
bool RowRange(const CSpanList& spans, double lo, double hi, long long& first, long long& last)
{
    if (!(lo <= hi) || hi < 0 || lo > spans.Height() - 1)
        return false;
    first = std::max(0LL, static_cast<long long>(std::floor(lo)));
    last = std::min(static_cast<long long>(spans.Height()) - 1, static_cast<long long>(std::ceil(hi)));
    return first <= last;
}

}  // namespace

void AddCapsule(CSpanList& spans, CPixelDC::DPoint a, CPixelDC::DPoint b, double radius)
{
    long long first = 0, last = 0;
    if (radius <= 0 || !RowRange(spans, std::min(a.y, b.y) - radius, std::max(a.y, b.y) + radius, first, last))
        return;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    const double reach = radius * std::sqrt(length2);
    for (long long y = first; y <= last; ++y) {
        Interval row;
        for (const CPixelDC::DPoint& end : {a, b}) {
            const double h = radius * radius - (y - end.y) * (y - end.y);
            if (h > 0)
                row.Join(end.x - std::sqrt(h), end.x + std::sqrt(h));
        }
        if (length2 > 0) {
            // Within the band: closer than radius to the line, projecting
            // inside the segment.
            const double across = dx * (y - a.y), along = dy * (y - a.y);
            double a1 = 0, b1 = 0, a2 = 0, b2 = 0;
            if (Solve(-dy, across, -reach, reach, a1, b1) && Solve(dx, along, 0, length2, a2, b2)) {
                const double lo = std::max(a1, a2), hi = std::min(b1, b2);
                if (lo < hi)
                    row.Join(a.x + lo, a.x + hi);
            }
        }
        AddOpenInterval(spans, y, row.lo, row.hi);
    }
}

void AddPolygonFill(CSpanList& spans, const std::vector<CPixelDC::Figure>& figures, int fillMode)
{
    struct Edge {
        double x0, y0, x1, y1;
        int dir;
    };
    std::vector<Edge> edges;
    double top = kHuge, bottom = -kHuge;
    for (const CPixelDC::Figure& figure : figures) {
        const std::size_t n = figure.points.size();
        for (std::size_t i = 0; i < n && n >= 2; ++i) {
            CPixelDC::DPoint p = figure.points[i], q = figure.points[(i + 1) % n];
            if (p.y == q.y)
                continue;
            const int dir = p.y < q.y ? 1 : -1;
            if (dir < 0)
                std::swap(p, q);
            edges.push_back({p.x, p.y, q.x, q.y, dir});
            top = std::min(top, p.y);
            bottom = std::max(bottom, q.y);
        }
    }
    long long first = 0, last = 0;
    if (edges.empty() || !RowRange(spans, top, bottom, first, last))
        return;
    std::sort(edges.begin(), edges.end(), [](const Edge& e, const Edge& f) { return e.y0 < f.y0; });

    std::vector<const Edge*> active;
    std::vector<std::pair<double, int>> crossings;
    std::size_t next = 0;
    for (long long y = first; y <= last; ++y) {
        // An edge covers the rows with y0 <= y < y1.
        while (next < edges.size() && edges[next].y0 <= y)
            active.push_back(&edges[next++]);
        std::erase_if(active, [y](const Edge* e) { return e->y1 <= y; });
        crossings.clear();
        for (const Edge* e : active) {
            if (e->y0 <= y)
                crossings.emplace_back(e->x0 + (y - e->y0) * (e->x1 - e->x0) / (e->y1 - e->y0), e->dir);
        }
        std::sort(crossings.begin(), crossings.end());
        int winding = 0;
        double from = 0;
        for (const auto& [x, dir] : crossings) {
            const bool wasIn = fillMode == WINDING ? winding != 0 : (winding & 1) != 0;
            winding += fillMode == WINDING ? dir : 1;
            const bool isIn = fillMode == WINDING ? winding != 0 : (winding & 1) != 0;
            if (!wasIn && isIn) {
                from = x;
            } else if (wasIn && !isIn) {
                // Pixels with from <= i < x.
                const double lo = std::clamp(from, -2.0, spans.Width() + 2.0);
                const double hi = std::clamp(x, -2.0, spans.Width() + 2.0);
                spans.AddSpan(y, static_cast<long long>(std::ceil(lo)), static_cast<long long>(std::ceil(hi)));
            }
        }
    }
}

namespace {

// Pixels [i0, i1] of a row whose centres lie closer than halfWidth to the
// centre c2 / 2; symmetric about the centre whatever the rounding.
bool CentredRange(long long c2, double halfWidth, long long& i0, long long& i1)
{
    if (!(halfWidth > 0))
        return false;
    const double limit = std::min(2 * halfWidth, 1e15);
    long long m = static_cast<long long>(std::ceil(limit)) - 1;
    if (((m - c2) & 1) != 0)
        --m;
    if (m < 0)
        return false;
    i0 = (c2 - m) / 2;
    i1 = (c2 + m) / 2;
    return true;
}

// Half width on row y of the ellipse with the centre cy2 / 2 and radii a, b.
double HalfWidth(long long cy2, double a, double b, long long y)
{
    if (!(a > 0 && b > 0))
        return 0;
    const double t = (2 * y - cy2) / (2 * b);
    return t * t < 1 ? a * std::sqrt(1 - t * t) : 0;
}

struct EllipseShape {
    long long cx2, cy2;  // twice the centre
    double a, b;
    explicit EllipseShape(const EllipseBox& box, double grow = 0)
        : cx2(box.left + box.right - 1), cy2(box.top + box.bottom - 1), a((box.right - box.left) / 2.0 + grow),
          b((box.bottom - box.top) / 2.0 + grow)
    {}
    bool Row(long long y, long long& i0, long long& i1) const
    {
        return CentredRange(cx2, HalfWidth(cy2, a, b, y), i0, i1);
    }
};

}  // namespace

void AddEllipseFill(CSpanList& spans, const EllipseBox& box)
{
    const EllipseShape shape(box);
    long long first = 0, last = 0, i0 = 0, i1 = 0;
    if (!RowRange(spans, box.top, box.bottom - 1, first, last))
        return;
    for (long long y = first; y <= last; ++y) {
        if (shape.Row(y, i0, i1))
            spans.AddSpan(y, i0, i1 + 1);
    }
}

void AddEllipseOutline(CSpanList& spans, const EllipseBox& box)
{
    const EllipseShape shape(box);
    long long first = 0, last = 0;
    if (!RowRange(spans, box.top, box.bottom - 1, first, last))
        return;
    for (long long y = first; y <= last; ++y) {
        long long i0 = 0, i1 = 0, u0 = 0, u1 = 0, d0 = 0, d1 = 0;
        if (!shape.Row(y, i0, i1))
            continue;
        // Pixels with all four neighbours inside are interior.
        long long in0 = i0 + 1, in1 = i1 - 1;
        if (y > box.top && y < box.bottom - 1 && shape.Row(y - 1, u0, u1) && shape.Row(y + 1, d0, d1)) {
            in0 = std::max({in0, u0, d0});
            in1 = std::min({in1, u1, d1});
        } else {
            in1 = in0 - 1;
        }
        if (in0 > in1) {
            spans.AddSpan(y, i0, i1 + 1);
        } else {
            spans.AddSpan(y, i0, in0);
            spans.AddSpan(y, in1 + 1, i1 + 1);
        }
    }
}

void AddEllipseRing(CSpanList& spans, const EllipseBox& box, int penWidth)
{
    // The pen is centred on the pixel centres of the one-pixel outline.
    const double half = penWidth / 2.0;
    const EllipseShape outer(box, half - 0.5), inner(box, -half - 0.5);
    long long first = 0, last = 0;
    if (!RowRange(spans, (outer.cy2 / 2.0) - outer.b, (outer.cy2 / 2.0) + outer.b, first, last))
        return;
    for (long long y = first; y <= last; ++y) {
        long long o0 = 0, o1 = 0, n0 = 0, n1 = 0;
        if (!outer.Row(y, o0, o1))
            continue;
        if (inner.Row(y, n0, n1)) {
            spans.AddSpan(y, o0, n0);
            spans.AddSpan(y, n1 + 1, o1 + 1);
        } else {
            spans.AddSpan(y, o0, o1 + 1);
        }
    }
}

void AppendEllipsePoints(std::vector<CPixelDC::DPoint>& out, const EllipseBox& box, double t0, double sweep)
{
    const double cx = (box.left + box.right - 1) / 2.0, cy = (box.top + box.bottom - 1) / 2.0;
    const double a = (box.right - box.left - 1) / 2.0, b = (box.bottom - box.top - 1) / 2.0;
    // Chords no further than a quarter pixel from the curve.
    constexpr double kTolerance = 0.25;
    constexpr long long kMaxSteps = 100000;
    const double radius = std::max(a, b);
    long long steps = 1;
    if (radius > kTolerance) {
        const double stepAngle = 2 * std::acos(1 - kTolerance / radius);
        steps = std::clamp(static_cast<long long>(std::ceil(std::fabs(sweep) / stepAngle)), 1LL, kMaxSteps);
    }
    for (long long k = 0; k <= steps; ++k) {
        const double t = t0 + sweep * static_cast<double>(k) / static_cast<double>(steps);
        out.push_back({cx + a * std::cos(t), cy - b * std::sin(t)});
    }
}

void AddEllipseArcOutline(CSpanList& spans, const EllipseBox& box, double t0, double sweep)
{
    CSpanList outline(spans.Width(), spans.Height());
    AddEllipseOutline(outline, box);
    // Parameter angle of a pixel centre, counterclockwise as seen (y down).
    const double cx = (box.left + box.right - 1) / 2.0, cy = (box.top + box.bottom - 1) / 2.0;
    const double a = (box.right - box.left - 1) / 2.0, b = (box.bottom - box.top - 1) / 2.0;
    auto within = [&](double x, double y) {
        const double t = std::atan2(-(y - cy) * a, (x - cx) * b);
        double d = sweep >= 0 ? t - t0 : t0 - t;
        d = std::fmod(d, kFullTurn);
        if (d < 0)
            d += kFullTurn;
        return d <= std::fabs(sweep);
    };
    for (const PixelSpan& s : outline.Spans()) {
        int from = -1;
        for (int x = s.x0; x <= s.x1; ++x) {
            const bool in = x < s.x1 && within(x, s.y);
            if (in && from < 0)
                from = x;
            if (!in && from >= 0) {
                spans.AddSpan(s.y, from, x);
                from = -1;
            }
        }
    }
}
