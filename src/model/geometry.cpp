// Tolerant comparisons, angle arithmetic, box tests, vertex rings and grip
// records.
#include "model/geometry.h"

#include <cmath>
#include <new>

#include "model/constants.h"

// ---- tolerant comparisons -------------------------------------------------

bool IsNearlyEqual(double a, double b, double tolerance)
{
    double d = a - b;
    return -tolerance <= d && d <= tolerance;
}

bool IsNearlyEqualCoarse(double a, double b) { return IsNearlyEqual(a, b, COARSE_TOLERANCE); }

bool PointsNearlyEqual(const frDoublePoint& a, const frDoublePoint& b, double tolerance)
{
    return IsNearlyEqual(a.x, b.x, tolerance) && IsNearlyEqual(a.y, b.y, tolerance);
}

bool PointInSegmentBox(const frDoublePoint& a, const frDoublePoint& b, const frDoublePoint& p)
{
    double xmin = std::fmin(a.x, b.x) - COARSE_TOLERANCE;
    double xmax = std::fmax(a.x, b.x) + COARSE_TOLERANCE;
    double ymin = std::fmin(a.y, b.y) - COARSE_TOLERANCE;
    double ymax = std::fmax(a.y, b.y) + COARSE_TOLERANCE;
    return xmin <= p.x && p.x <= xmax && ymin <= p.y && p.y <= ymax;
}

// ---- angles ---------------------------------------------------------------

// Beyond this the subtraction loop would take too long (or, for huge values,
// never end); fmod reduces exactly first.
constexpr double ANGLE_LOOP_LIMIT = 64 * TWO_PI;

double NormalizeAngle(double angle)
{
    if (!std::isfinite(angle))
        return angle;
    if (std::fabs(angle) > ANGLE_LOOP_LIMIT)
        angle = std::fmod(angle, TWO_PI);
    while (angle > TWO_PI)
        angle -= TWO_PI;
    while (angle < 0)
        angle += TWO_PI;
    return angle;
}

double AngleSweep(double from, double to)
{
    from = NormalizeAngle(from);
    to = NormalizeAngle(to);
    if (to >= from)
        return to - from;
    // Both lie in [0, TWO_PI], so one turn always suffices.
    return to + TWO_PI - from;
}

bool AnglesNearlyEqual(double a, double b, double tolerance)
{
    double d = std::fabs(a - b);
    if (!std::isfinite(d))
        return false;
    if (d > ANGLE_LOOP_LIMIT)
        d = std::fmod(d, TWO_PI);
    while (d >= TWO_PI)
        d -= TWO_PI;
    return d < tolerance || d > TWO_PI - tolerance;
}

bool AngleInArc(double start, double end, double angle)
{
    return AngleSweep(start, end) + POINT_TOLERANCE > AngleSweep(start, angle);
}

bool AngleInArcTol(double start, double end, double angle, double tolerance)
{
    if (AngleSweep(start, end) + tolerance > AngleSweep(start, angle))
        return true;
    return AnglesNearlyEqual(angle, start, tolerance) || AnglesNearlyEqual(angle, end, tolerance);
}

// ---- boxes and rings ------------------------------------------------------

// Below this a segment counts as vertical or horizontal.
constexpr double AXIS_EPSILON = 1e-10;

bool SegmentCrossesRect(const frDoublePoint& p, const frDoublePoint& q, const frDoublePoint& boxMin,
                        const frDoublePoint& boxMax)
{
    double sxmin = std::fmin(p.x, q.x), sxmax = std::fmax(p.x, q.x);
    double symin = std::fmin(p.y, q.y), symax = std::fmax(p.y, q.y);
    if (sxmax < boxMin.x || symax < boxMin.y || sxmin > boxMax.x || symin > boxMax.y)
        return false;
    if (sxmin >= boxMin.x && sxmax <= boxMax.x && symin >= boxMin.y && symax <= boxMax.y)
        return true;

    double dx = q.x - p.x;
    double dy = q.y - p.y;
    if (std::fabs(dx) >= AXIS_EPSILON && std::fabs(dy) >= AXIS_EPSILON) {
        double k = dy / dx;
        auto yAt = [&](double x) { return p.y + (x - p.x) * k; };
        auto xAt = [&](double y) { return p.x + (y - p.y) / k; };
        if (sxmin <= boxMin.x) {
            double y = yAt(boxMin.x);
            if (boxMin.y <= y && y <= boxMax.y)
                return true;
        }
        if (sxmax >= boxMax.x) {
            double y = yAt(boxMax.x);
            if (boxMin.y <= y && y <= boxMax.y)
                return true;
        }
        if (symax >= boxMax.y) {
            double x = xAt(boxMax.y);
            if (boxMin.x <= x && x <= boxMax.x)
                return true;
        }
        if (symin > boxMin.y)
            return false;
        double x = xAt(boxMin.y);
        return boxMin.x <= x && x <= boxMax.x;
    }
    if (std::fabs(dx) < AXIS_EPSILON) {
        if (p.x < boxMin.x || p.x > boxMax.x)
            return false;
        auto endInside = [&](double y) { return boxMin.y < y && y <= boxMax.y; };
        return endInside(p.y) || endInside(q.y) || (symin <= boxMin.y && symax >= boxMax.y);
    }
    if (p.y < boxMin.y || p.y > boxMax.y)
        return false;
    auto endInside = [&](double x) { return boxMin.x < x && x <= boxMax.x; };
    return endInside(p.x) || endInside(q.x) || (sxmin <= boxMin.x && sxmax >= boxMax.x);
}

bool BoxesOverlap(const double* a, const double* b, double* out)
{
    // {min x, max x, min y, max y}
    if (a[1] < b[0] || b[1] < a[0] || a[3] < b[2] || b[3] < a[2])
        return false;
    double box[4] = {std::fmax(a[0], b[0]), std::fmin(a[1], b[1]), std::fmax(a[2], b[2]), std::fmin(a[3], b[3])};
    for (int i = 0; i < 4; ++i)
        out[i] = box[i];
    return true;
}

CVertex* RemoveVertexFromRing(CVertex* head, CVertex* vertex)
{
    if (!head)
        return nullptr;
    if (!vertex)
        return head;
    CVertex* next = vertex->next;
    CVertex* prev = vertex->prev;
    bool alone = !next || next == vertex;
    if (!alone) {
        if (prev)
            prev->next = next;
        next->prev = prev;
    }
    vertex->next = vertex->prev = nullptr;
    if (vertex != head)
        return head;
    return alone ? nullptr : next;
}

// ---- grip records ---------------------------------------------------------

bool AddGrip(const frDoublePoint& point, CSelectNode* owner, std::int32_t index, CGripRecord** head)
{
    if (!head)
        return false;
    CGripRecord* record = new (std::nothrow) CGripRecord;
    if (!record)
        return false;
    record->point = point;
    record->owner = owner;
    record->index = index;
    record->next = *head;
    *head = record;
    return true;
}

void RemoveGripRecords(const CSelectNode* owner, CGripRecord** head)
{
    if (!head)
        return;
    // An owner's grips were pushed together, so they form one run.
    CGripRecord** link = head;
    while (*link && (*link)->owner != owner)
        link = &(*link)->next;
    while (*link && (*link)->owner == owner) {
        CGripRecord* gone = *link;
        *link = gone->next;
        delete gone;
    }
}
