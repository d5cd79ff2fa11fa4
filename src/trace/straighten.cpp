// Straightening of polylines: each maximal run of vertices that stays within
// a tolerance of the chord from its first to its last vertex becomes that
// chord.
//
// A run is a stretch of the vertex ring from first to last, at least two
// segments long. It is straight when all its segments are straight, the
// widths of its inner vertices stay near the first one's, it does not pass
// the head of an open ring, and every inner vertex lies within
// t = max(straighten distance, half the mean width) of the chord.
//
// The search grows a run one vertex at a time. Rechecking every inner vertex
// against each new chord would make a long straight line quadratic, so the
// search keeps the convex hull of the inner vertices: the distance to a
// segment is convex, so its largest value over the run is reached at a hull
// vertex, and the hull of points along a nearly straight line stays small.
#include "trace/straighten.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/constants.h"
#include "model/polyline.h"
#include "trace/ink_guard.h"
#include "trace/trace_option.h"

namespace {

// Widths below this count as no width at all.
constexpr double kThinWidth = 0.01;
// Inner widths may differ from the first one (or the mean) by this share.
constexpr double kWidthSpread = 0.5;
// An absolute width an inner vertex of a thin run may reach.
constexpr double kThinSpread = 0.5;
// A chord no longer than this (squared) is a point.
constexpr double kPointChord2 = 1e-25;

bool IsStraightSegment(const CVertex& v) { return std::fabs(v.bulge) < POINT_TOLERANCE; }

// The inner vertex keeps the run's width close to that of its first vertex.
bool WidthFits(double first, double width)
{
    if (first < kThinWidth)
        return width <= kThinSpread;
    return std::fabs(width - first) / first <= kWidthSpread;
}

// Distance of p from the segment a-b: to the nearer end beyond either end,
// else to the line; to a when the chord is a point.
double DistanceToChord(double px, double py, const CVertex& a, const CVertex& b)
{
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    const double ax = px - a.x, ay = py - a.y;
    if (length2 <= kPointChord2)
        return std::sqrt(ax * ax + ay * ay);
    const double along = ax * dx + ay * dy;
    if (along <= 0)
        return std::sqrt(ax * ax + ay * ay);
    if (along >= length2) {
        const double bx = px - b.x, by = py - b.y;
        return std::sqrt(bx * bx + by * by);
    }
    return std::fabs(ax * dy - ay * dx) / std::sqrt(length2);
}

struct HullPoint {
    double x;
    double y;
    bool operator<(const HullPoint& o) const { return x < o.x || (x == o.x && y < o.y); }
    bool operator==(const HullPoint& o) const { return x == o.x && y == o.y; }
};

double Cross(const HullPoint& o, const HullPoint& a, const HullPoint& b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// The inner vertices of a growing run, as the vertices of their convex hull
// (monotone chain; collinear points dropped, so a straight line keeps two).
class CInnerHull {
public:
    void Reset(const CVertex& v) { m_Hull.assign(1, HullPoint{v.x, v.y}); }
    void Add(const CVertex& v)
    {
        m_Points.assign(m_Hull.begin(), m_Hull.end());
        m_Points.push_back({v.x, v.y});
        std::sort(m_Points.begin(), m_Points.end());
        m_Points.erase(std::unique(m_Points.begin(), m_Points.end()), m_Points.end());
        m_Hull.clear();
        if (m_Points.size() < 3) {
            m_Hull = m_Points;
            return;
        }
        for (const HullPoint& p : m_Points) {  // lower chain
            while (m_Hull.size() >= 2 && Cross(m_Hull[m_Hull.size() - 2], m_Hull.back(), p) <= 0)
                m_Hull.pop_back();
            m_Hull.push_back(p);
        }
        const std::size_t lower = m_Hull.size() + 1;
        for (std::size_t i = m_Points.size() - 1; i-- > 0;) {  // upper chain
            const HullPoint& p = m_Points[i];
            while (m_Hull.size() >= lower && Cross(m_Hull[m_Hull.size() - 2], m_Hull.back(), p) <= 0)
                m_Hull.pop_back();
            m_Hull.push_back(p);
        }
        m_Hull.pop_back();  // the first point again
    }
    // Every inner vertex lies within t of the chord a-b.
    [[nodiscard]] bool Within(const CVertex& a, const CVertex& b, double t) const
    {
        for (const HullPoint& p : m_Hull)
            if (DistanceToChord(p.x, p.y, a, b) > t)
                return false;
        return true;
    }

private:
    std::vector<HullPoint> m_Hull;
    std::vector<HullPoint> m_Points;
};

}  // namespace

bool IsStraightRun(const CPolyLine& polyline, const CVertex* first, const CVertex* last, double maxDis)
{
    if (first == nullptr || last == nullptr || last == first || last == first->next)
        return false;
    const CVertex* tail = polyline.GetTail();
    const double firstWidth = first->startWidth;
    double widthSum = 0;
    int count = 0;
    for (const CVertex* v = first; v != last; v = v->next) {
        if (!IsStraightSegment(*v))
            return false;
        if (v != first && !WidthFits(firstWidth, v->startWidth))
            return false;
        if (!polyline.m_Closed && v == tail)
            return false;  // the run would pass the head
        widthSum += v->startWidth;
        ++count;
        if (v->next == first)
            return false;  // last is not on the ring after first
    }
    const double t = std::max(maxDis, widthSum / (2.0 * count));
    for (const CVertex* v = first->next; v != last; v = v->next)
        if (DistanceToChord(v->x, v->y, *first, *last) > t)
            return false;
    return true;
}

CVertex* FindStraightRun(const CPolyLine& polyline, CVertex* first, double maxDis)
{
    if (first == nullptr)
        return nullptr;
    CVertex* candidate = first->next->next;
    if (!IsStraightRun(polyline, first, candidate, maxDis))
        return nullptr;

    // The run first..candidate holds; grow it while it stays straight,
    // checking only what the next vertex adds.
    const CVertex* tail = polyline.GetTail();
    const double firstWidth = first->startWidth;
    double widthSum = first->startWidth + first->next->startWidth;
    int count = 2;
    CInnerHull hull;
    hull.Reset(*first->next);
    for (;;) {
        if (!polyline.m_Closed && candidate == tail)
            return candidate;
        CVertex* next = candidate->next;
        if (next == first)
            return nullptr;  // round the whole ring
        if (!IsStraightSegment(*candidate) || !WidthFits(firstWidth, candidate->startWidth))
            return candidate;
        const double sum = widthSum + candidate->startWidth;
        const double t = std::max(maxDis, sum / (2.0 * (count + 1)));
        hull.Add(*candidate);
        if (!hull.Within(*first, *next, t))
            return candidate;
        widthSum = sum;
        ++count;
        candidate = next;
    }
}

double StraightRunWidth(const CVertex* first, const CVertex* last)
{
    double sum = 0, widest = first->startWidth;
    int count = 0;
    for (const CVertex* v = first; v != last; v = v->next) {
        sum += v->startWidth;
        widest = std::max(widest, v->startWidth);
        ++count;
    }
    const double mean = sum / count;
    if (mean <= kThinWidth)
        return 0.0;
    for (const CVertex* v = first->next; v != last; v = v->next)
        if (std::fabs(v->startWidth - mean) > kWidthSpread * mean)
            return widest;
    return mean;
}

void CollapseStraightRun(CPolyLine& polyline, CVertex* first, CVertex* last)
{
    if (first == nullptr || last == nullptr || first == last)
        return;
    const double width = StraightRunWidth(first, last);
    while (first->next != last)
        polyline.RemoveVertex(first->next);
    first->startWidth = width;
}

namespace {

// A chord off the ink is cut back a vertex at a time, this many times at
// most, so that a long run cannot make the search quadratic.
constexpr int kInkCutBacks = 8;

// The end of the longest run from first, up to last, whose chord keeps to
// the ink, or null.
CVertex* KeepRunOnInk(const CPolyLine& polyline, CVertex* first, CVertex* last, double maxDis, const CInkGuard& ink)
{
    for (int cut = 0; cut <= kInkCutBacks && last != first->next; ++cut, last = last->prev) {
        if (cut > 0 && !IsStraightRun(polyline, first, last, maxDis))
            continue;
        if (ink.IsChordNearInk({first->x, first->y}, {last->x, last->y}, StraightRunWidth(first, last)))
            return last;
    }
    return nullptr;
}

}  // namespace

void StraightenPolyline(CPolyLine& polyline, double maxDis, const CInkGuard* ink)
{
    if (ink != nullptr && !ink->IsActive())
        ink = nullptr;
    const CVertex* head = polyline.GetHead();
    if (head == nullptr || head->next->next == head)
        return;  // fewer than three vertices
    // A closed ring goes round once more from the end of the last run, so
    // that a run across the head is found too.
    CVertex* stop = polyline.m_Closed ? polyline.GetHead() : polyline.GetTail();
    CVertex* current = polyline.GetHead();
    for (;;) {
        CVertex* last = FindStraightRun(polyline, current, maxDis);
        if (last != nullptr && ink != nullptr)
            last = KeepRunOnInk(polyline, current, last, maxDis, *ink);
        if (last != nullptr) {
            CollapseStraightRun(polyline, current, last);
            stop = last;
            current = last;
            continue;
        }
        current = current->next;
        if (current == stop || (!polyline.m_Closed && current == polyline.GetHead()))
            return;
    }
}

void StraightenPolyline(CPolyLine& polyline, const CTraceOption& options)
{
    StraightenPolyline(polyline, options.GetMaxDis());
}
