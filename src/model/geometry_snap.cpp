// Object-snap candidates of one snap segment, and the crossings of two.
#include <cmath>
#include <initializer_list>

#include "model/constants.h"
#include "model/geometry.h"

namespace {

// The angle turned by whole turns into [start, start + TWO_PI).
double AngleFrom(double start, double angle)
{
    if (!std::isfinite(angle) || !std::isfinite(start))
        return angle;
    angle = start + NormalizeAngle(angle - start);
    if (angle >= start + TWO_PI)
        angle -= TWO_PI;
    return angle;
}

// The best candidate so far: the first one found, replaced only by a
// strictly nearer one.
struct SnapChoice {
    explicit SnapChoice(const frDoublePoint& c) : cursor(c) {}

    const frDoublePoint& cursor;
    std::int32_t mode = 0;
    frDoublePoint point;
    double distance = 0;

    void Offer(std::int32_t candidateMode, const frDoublePoint& candidate)
    {
        double d = PointDistance(&candidate, &cursor);
        if (mode == 0 || d < distance) {
            mode = candidateMode;
            point = candidate;
            distance = d;
        }
    }
};

// The nearest of a mode's own candidates (the first on a tie).
struct Nearest {
    explicit Nearest(const frDoublePoint& c) : cursor(c) {}

    const frDoublePoint& cursor;
    bool found = false;
    frDoublePoint point;
    double distance = 0;

    void Offer(const frDoublePoint& candidate)
    {
        double d = PointDistance(&candidate, &cursor);
        if (!found || d < distance) {
            found = true;
            point = candidate;
            distance = d;
        }
    }
};

frDoublePoint ArcPoint(const CSnapSegment& s, double angle)
{
    frDoublePoint p(0, 0, s.centre.z);
    PolarPoint(s.centre, angle, s.radius, &p);
    return p;
}

// Offers the arc's point at the angle when the angle lies on the arc.
void OfferOnArc(const CSnapSegment& s, double angle, Nearest& nearest)
{
    double a = AngleFrom(s.startAngle, angle);
    if (a <= s.endAngle)
        nearest.Offer(ArcPoint(s, a));
}

// Foot of the perpendicular from p onto the line segment, when it lies on it.
bool FootOnLine(const CSnapSegment& s, const frDoublePoint& p, frDoublePoint* foot)
{
    frDoublePoint normalEnd(p.x - (s.end.y - s.start.y), p.y + (s.end.x - s.start.x));
    *foot = frDoublePoint(0, 0, s.start.z);
    return IntersectLines(s.start, s.end, p, normalEnd, 1, foot);
}

void FindOnLine(const CSnapSegment& s, const frDoublePoint* base, const frDoublePoint& cursor, std::int32_t wanted,
                SnapChoice& choice)
{
    if (wanted & SNAP_END) {
        Nearest n{cursor};
        n.Offer(s.start);
        n.Offer(s.end);
        choice.Offer(SNAP_END, n.point);
    }
    if (wanted & SNAP_MIDDLE)
        choice.Offer(SNAP_MIDDLE, frDoublePoint((s.start.x + s.end.x) * 0.5, (s.start.y + s.end.y) * 0.5, s.start.z));
    frDoublePoint foot;
    if ((wanted & SNAP_PERPENDICULAR) && base && FootOnLine(s, *base, &foot))
        choice.Offer(SNAP_PERPENDICULAR, foot);
    if ((wanted & SNAP_NEAREST) && FootOnLine(s, cursor, &foot))
        choice.Offer(SNAP_NEAREST, foot);
}

void FindOnArc(const CSnapSegment& s, const frDoublePoint* base, const frDoublePoint& cursor, std::int32_t wanted,
               SnapChoice& choice)
{
    if (wanted & SNAP_END) {
        Nearest n{cursor};
        n.Offer(ArcPoint(s, s.startAngle));
        n.Offer(ArcPoint(s, s.endAngle));
        choice.Offer(SNAP_END, n.point);
    }
    if (wanted & SNAP_MIDDLE)
        choice.Offer(SNAP_MIDDLE, ArcPoint(s, (s.startAngle + s.endAngle) * 0.5));
    if (wanted & SNAP_CENTRE)
        choice.Offer(SNAP_CENTRE, s.centre);
    if ((wanted & SNAP_TANGENT) && base) {
        // Tangent points see the centre and the base point at a right angle:
        // they lie on the circle over that distance (Thales).
        frDoublePoint m((s.centre.x + base->x) * 0.5, (s.centre.y + base->y) * 0.5);
        double d = std::hypot(m.x - s.centre.x, m.y - s.centre.y);
        frDoublePoint t1, t2;
        int n = s.radius < 2 * d
                    ? IntersectArcs(s.centre, s.startAngle, s.endAngle, s.radius, m, 0, TWO_PI, d, 1, &t1, &t2)
                    : 0;
        if (n > 0) {
            Nearest nearest{cursor};
            nearest.Offer(t1);
            if (n > 1)
                nearest.Offer(t2);
            choice.Offer(SNAP_TANGENT, nearest.point);
        }
    }
    auto offerAcross = [&](const frDoublePoint& p, std::int32_t mode) {
        double a = std::atan2(p.y - s.centre.y, p.x - s.centre.x);
        Nearest nearest{cursor};
        OfferOnArc(s, a, nearest);
        OfferOnArc(s, a + PI, nearest);
        if (nearest.found)
            choice.Offer(mode, nearest.point);
    };
    if ((wanted & SNAP_PERPENDICULAR) && base)
        offerAcross(*base, SNAP_PERPENDICULAR);
    if (wanted & SNAP_QUADRANT) {
        Nearest nearest{cursor};
        for (double a : {0.0, HALF_PI, PI, THREE_HALF_PI})
            OfferOnArc(s, a, nearest);
        if (nearest.found)
            choice.Offer(SNAP_QUADRANT, nearest.point);
    }
    if (wanted & SNAP_NEAREST)
        offerAcross(cursor, SNAP_NEAREST);
}

}  // namespace

std::int32_t CSnapSegment::FindSnap(const frDoublePoint* base, const frDoublePoint& cursor, std::int32_t requested,
                                    frDoublePoint* point, double* distance) const
{
    SnapChoice choice{cursor};
    std::int32_t wanted = requested & modes;
    if (kind == kLine)
        FindOnLine(*this, base, cursor, wanted, choice);
    else if (kind == kArc)
        FindOnArc(*this, base, cursor, wanted, choice);
    if (choice.mode == 0)
        return 0;
    if (point)
        *point = choice.point;
    if (distance)
        *distance = choice.distance;
    return choice.mode;
}

int IntersectSnapSegments(const CSnapSegment& a, const CSnapSegment& b, frDoublePoint* out1, frDoublePoint* out2)
{
    bool aLine = a.kind == CSnapSegment::kLine, aArc = a.kind == CSnapSegment::kArc;
    bool bLine = b.kind == CSnapSegment::kLine, bArc = b.kind == CSnapSegment::kArc;
    if (aLine && bLine)
        return IntersectLines(a.start, a.end, b.start, b.end, 2, out1) ? 1 : 0;
    if (aArc && bArc)
        return IntersectArcs(a.centre, a.startAngle, a.endAngle, a.radius, b.centre, b.startAngle, b.endAngle, b.radius,
                             1, out1, out2);
    if (aArc && bLine)
        return IntersectLineArc(a.centre, a.startAngle, a.endAngle, a.radius, b.start, b.end, 1, out1, out2);
    if (aLine && bArc)
        return IntersectLineArc(b.centre, b.startAngle, b.endAngle, b.radius, a.start, a.end, 1, out1, out2);
    return 0;
}
