// The ink guard: the disc round a point is searched row by row from the
// point's own row outwards, each row's span tested a word at a time, so
// a point on its stroke costs one word.
#include "trace/ink_guard.h"

#include <algorithm>
#include <cmath>

#include "model/geometry.h"
#include "raster/packed_bits.h"
#include "raster/raster_src.h"
#include "trace/trace_option.h"

namespace {

// The centre of the pixel under a point lies within this of it, and the
// centres of the four pixels round it within the second.
constexpr double kInkUnderReach = 0.7072;
constexpr double kInkAroundReach = 1.4143;

bool AnyInk(const BYTE* row, int x0, int x1)
{
    for (int x = x0; x <= x1; x += kWordPixels)
        if (ReadPixels(row, x, std::min(kWordPixels, x1 - x + 1)) != 0)
            return true;
    return false;
}

}  // namespace

CInkGuard::CInkGuard(const CRasterSrc& raster, const CTraceOption& options)
    : m_raster(!raster.IsEmpty() && raster.GetBitCount() == 1 ? &raster : nullptr),
      m_connectDistance(static_cast<double>(static_cast<unsigned>(options.ChartType.i_ConDis)))
{}

bool CInkGuard::IsNearInk(const frDoublePoint& p, double reach) const
{
    if (m_raster == nullptr)
        return true;
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !(reach >= 0))
        return false;
    const int width = m_raster->GetWidth(), height = m_raster->GetHeight();
    // The point in pixel units: column x, row H - 1 - y, pixel centres on
    // whole numbers.
    const double column = p.x, row = static_cast<double>(height) - 1.0 - p.y;
    if (column < -reach - 1 || column > width + reach || row < -reach - 1 || row > height + reach)
        return false;
    const int nearest = static_cast<int>(std::floor(row + 0.5));
    // Most points asked about lie on ink: the pixel under the point, or the
    // four round it when the reach takes in all of them, answer for them
    // without a search.
    if (reach >= kInkAroundReach) {
        const int left = static_cast<int>(std::floor(column)), top = static_cast<int>(std::floor(row));
        if (left >= 0 && left + 1 < width && top >= 0 && top + 1 < height) {
            const BYTE* upper = m_raster->GetRow(top);
            const BYTE* lower = m_raster->GetRow(top + 1);
            if (TestPixel(upper, left) || TestPixel(upper, left + 1) || TestPixel(lower, left) ||
                TestPixel(lower, left + 1))
                return true;
        }
    } else if (reach >= kInkUnderReach && IsOnInk(p)) {
        return true;
    }
    const int rows = static_cast<int>(std::ceil(reach)) + 1;
    for (int k = 0; k <= 2 * rows; ++k) {
        const int y = nearest + ((k & 1) ? (k + 1) / 2 : -(k / 2));
        const double dy = y - row;
        if (y < 0 || y >= height || dy * dy > reach * reach)
            continue;
        const double half = std::sqrt(reach * reach - dy * dy);
        const int x0 = std::max(0, static_cast<int>(std::ceil(column - half)));
        const int x1 = std::min(width - 1, static_cast<int>(std::floor(column + half)));
        if (x0 <= x1 && AnyInk(m_raster->GetRow(y), x0, x1))
            return true;
    }
    return false;
}

bool CInkGuard::IsOnInk(const frDoublePoint& p) const
{
    if (m_raster == nullptr)
        return true;
    if (!std::isfinite(p.x) || !std::isfinite(p.y))
        return false;
    const double column = std::floor(p.x + 0.5);
    const double row = std::floor(static_cast<double>(m_raster->GetHeight()) - 1.0 - p.y + 0.5);
    if (column < 0 || column >= m_raster->GetWidth() || row < 0 || row >= m_raster->GetHeight())
        return false;
    return TestPixel(m_raster->GetRow(static_cast<int>(row)), static_cast<int>(column));
}

double CInkGuard::OnStrokeReach(double width) { return std::max(kOnStrokeReach, width * 0.5); }

bool CInkGuard::IsOnStroke(const frDoublePoint& p, double width) const { return IsNearInk(p, OnStrokeReach(width)); }

double CInkGuard::StrokeReach(double width) const
{
    const double w = std::max(0.0, width);
    return std::max(kOnStrokeReach, std::max(m_connectDistance, w) - 0.5 * w);
}

bool CInkGuard::IsSegmentNearInk(const CVertex& v) const { return IsSegmentWithin(v, StrokeReach(v.startWidth)); }

bool CInkGuard::IsSegmentOnStroke(const CVertex& v) const { return IsSegmentWithin(v, OnStrokeReach(v.startWidth)); }

bool CInkGuard::IsChordNearInk(const frDoublePoint& a, const frDoublePoint& b, double width) const
{
    return IsChordWithin(a, b, StrokeReach(width));
}

bool CInkGuard::IsSegmentWithin(const CVertex& v, double reach) const
{
    if (m_raster == nullptr)
        return true;
    const CVertex& n = *v.next;
    CBulgeArc arc;
    if (!IsArcBulge(v.bulge) || !GetBulgeArc(v, n, v.bulge, &arc))
        return IsChordWithin({v.x, v.y}, {n.x, n.y}, reach);
    const double sweep = SignedBulgeArcSweep(arc.startAngle, arc.endAngle, v.bulge);
    const int steps = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) * arc.radius / kInkStep)));
    for (int k = 0; k <= steps; ++k) {
        const double a = arc.startAngle + sweep * k / steps;
        if (!IsNearInk({arc.centre.x + arc.radius * std::cos(a), arc.centre.y + arc.radius * std::sin(a)}, reach))
            return false;
    }
    return true;
}

bool CInkGuard::IsChordWithin(const frDoublePoint& a, const frDoublePoint& b, double reach) const
{
    if (m_raster == nullptr)
        return true;
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    if (!std::isfinite(length))
        return false;
    const int steps = std::max(1, static_cast<int>(std::ceil(length / kInkStep)));
    for (int k = 0; k <= steps; ++k) {
        const double t = static_cast<double>(k) / steps;
        if (!IsNearInk({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}, reach))
            return false;
    }
    return true;
}
