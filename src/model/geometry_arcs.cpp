// The quadratic solver, line and circle intersections, and arcs from bulges
// and from three points.
#include <cmath>

#include "model/constants.h"
#include "model/geometry.h"

int SolveQuadratic(double a, double b, double c, double* root1, double* root2)
{
    double d = b * b - 4 * a * c;
    if (d < -POINT_TOLERANCE)
        return -1;
    if (d < 0)
        d = 0;
    if (a == 0 || std::isnan(d))
        return -1;
    *root1 = (std::sqrt(d) - b) / (2 * a);
    *root2 = -*root1 - b / a;
    return std::fabs(d) <= POINT_TOLERANCE ? 0 : 1;
}

bool IntersectLines(const frDoublePoint& a, const frDoublePoint& b, const frDoublePoint& c, const frDoublePoint& d,
                    int mode, frDoublePoint* out)
{
    double den = (b.x - a.x) * (c.y - d.y) - (c.x - d.x) * (b.y - a.y);
    if (den == 0 || !std::isfinite(den))
        return false;
    double t = ((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x)) / den;  // on c-d
    double u = ((c.y - d.y) * (c.x - a.x) - (c.x - d.x) * (c.y - a.y)) / den;  // on a-b
    out->x = c.x + t * (d.x - c.x);
    out->y = c.y + t * (d.y - c.y);
    auto onSegment = [](double s) { return -POINT_TOLERANCE <= s && s <= 1 + POINT_TOLERANCE; };
    switch (mode) {
    case 0: return true;
    case 1: return onSegment(u);
    default: return onSegment(u) && onSegment(t);
    }
}

double AngleAbout(const frDoublePoint& centre, const frDoublePoint& p)
{
    return std::atan2(p.y - centre.y, p.x - centre.x);
}

namespace {

// Crossings of the line la x + lb y + lc = 0 with the circle about the
// centre, solved for the coordinate along which the line runs more. Returns
// false when they do not meet.
bool LineCircleCrossings(double la, double lb, double lc, const frDoublePoint& centre, double radius, frDoublePoint* p1,
                         frDoublePoint* p2)
{
    double r1 = 0, r2 = 0;
    if (std::fabs(la) <= std::fabs(lb)) {
        if (lb == 0)
            return false;
        double m = -la / lb;
        double n = -lc / lb - centre.y;
        if (SolveQuadratic(1 + m * m, 2 * (m * n - centre.x), centre.x * centre.x + n * n - radius * radius, &r1, &r2) <
            0)
            return false;
        p1->x = r1;
        p1->y = -(la * r1 + lc) / lb;
        p2->x = r2;
        p2->y = -(la * r2 + lc) / lb;
    } else {
        double m = -lb / la;
        double n = -lc / la - centre.x;
        if (SolveQuadratic(1 + m * m, 2 * (m * n - centre.y), centre.y * centre.y + n * n - radius * radius, &r1, &r2) <
            0)
            return false;
        p1->y = r1;
        p1->x = -(lb * r1 + lc) / la;
        p2->y = r2;
        p2->x = -(lb * r2 + lc) / la;
    }
    return true;
}

// Counts the candidates that pass, moving a lone second one into the first
// place; two that coincide count once when merge is set.
int KeepPoints(bool keep1, bool keep2, bool merge, frDoublePoint* out1, frDoublePoint* out2)
{
    if (!keep1 && keep2) {
        *out1 = *out2;
        return 1;
    }
    if (keep1 && keep2)
        return merge && PointsNearlyEqual(*out1, *out2, POINT_TOLERANCE) ? 1 : 2;
    return keep1 ? 1 : 0;
}

}  // namespace

bool LineTangentToArc(const frDoublePoint& a, const frDoublePoint& b, const frDoublePoint& centre, double radius,
                      double startAngle, double endAngle, frDoublePoint* out)
{
    frDoublePoint normalEnd(centre.x - (b.y - a.y), centre.y + (b.x - a.x));
    frDoublePoint foot;
    if (!IntersectLines(a, b, centre, normalEnd, 0, &foot))
        return false;
    if (!IsNearlyEqual(radius, std::hypot(foot.x - centre.x, foot.y - centre.y), POINT_TOLERANCE))
        return false;
    bool onArc = AngleInArc(startAngle, endAngle, AngleAbout(centre, foot));
    if (!onArc) {
        frDoublePoint start, end;
        PolarPoint(centre, startAngle, radius, &start);
        PolarPoint(centre, endAngle, radius, &end);
        onArc = PointsNearlyEqual(foot, start, POINT_TOLERANCE) || PointsNearlyEqual(foot, end, POINT_TOLERANCE);
    }
    if (!onArc)
        return false;
    out->x = foot.x;
    out->y = foot.y;
    return true;
}

int IntersectLineArc(const frDoublePoint& centre, double startAngle, double endAngle, double radius,
                     const frDoublePoint& a, const frDoublePoint& b, int mode, frDoublePoint* out1, frDoublePoint* out2)
{
    frDoublePoint foot(0, 0, centre.z);
    if (LineTangentToArc(a, b, centre, radius, startAngle, endAngle, &foot)) {
        // A segment whose line only touches the circle beyond its ends does
        // not meet the arc.
        if (mode != 0 && !PointInSegmentBox(a, b, foot))
            return 0;
        *out1 = foot;
        return 1;
    }
    double la = a.y - b.y;
    double lb = b.x - a.x;
    double lc = (a.x - b.x) * a.y - la * a.x;
    frDoublePoint p1(0, 0, centre.z), p2(0, 0, centre.z);
    if (!LineCircleCrossings(la, lb, lc, centre, radius, &p1, &p2))
        return 0;
    *out1 = p1;
    *out2 = p2;
    startAngle = NormalizeAngle(startAngle);
    endAngle = NormalizeAngle(endAngle);
    if (mode == 0) {
        auto onCircle = [&](const frDoublePoint& p) {
            return IsNearlyEqualCoarse(std::hypot(p.x - centre.x, p.y - centre.y), radius);
        };
        return KeepPoints(onCircle(p1), onCircle(p2), false, out1, out2);
    }
    auto onArc = [&](const frDoublePoint& p) {
        return AngleInArcTol(startAngle, endAngle, AngleAbout(centre, p), POINT_TOLERANCE) &&
               PointInSegmentBox(a, b, p);
    };
    return KeepPoints(onArc(p1), onArc(p2), true, out1, out2);
}

int IntersectArcs(const frDoublePoint& c1, double start1, double end1, double r1, const frDoublePoint& c2,
                  double start2, double end2, double r2, int mode, frDoublePoint* out1, frDoublePoint* out2)
{
    // The common chord dx x + dy y = k, worked out about c1 so that large
    // coordinates do not cancel away the precision.
    double dx = c1.x - c2.x;
    double dy = c1.y - c2.y;
    double k = 0.5 * ((r2 * r2 - r1 * r1) - dx * dx - dy * dy);
    frDoublePoint p1(0, 0, c1.z), p2(0, 0, c1.z);
    bool crossed = (dx != 0 || dy != 0) && LineCircleCrossings(dx, dy, -k, frDoublePoint(), r1, &p1, &p2);
    if (crossed) {
        p1.x += c1.x, p1.y += c1.y;
        p2.x += c1.x, p2.y += c1.y;
        *out1 = p1;
        *out2 = p2;
        start1 = NormalizeAngle(start1);
        end1 = NormalizeAngle(end1);
        start2 = NormalizeAngle(start2);
        end2 = NormalizeAngle(end2);
        auto counts = [&](const frDoublePoint& p) {
            if (mode == 0)
                return IsNearlyEqualCoarse(std::hypot(p.x - c1.x, p.y - c1.y), r1) &&
                       IsNearlyEqualCoarse(std::hypot(p.x - c2.x, p.y - c2.y), r2);
            return AngleInArcTol(start1, end1, AngleAbout(c1, p), POINT_TOLERANCE) &&
                   AngleInArcTol(start2, end2, AngleAbout(c2, p), POINT_TOLERANCE);
        };
        int n = KeepPoints(counts(p1), counts(p2), true, out1, out2);
        if (n > 0)
            return n;
    }
    // Arcs that only share an end point.
    frDoublePoint ends1[2], ends2[2];
    PolarPoint(c1, start1, r1, &ends1[0]);
    PolarPoint(c1, end1, r1, &ends1[1]);
    PolarPoint(c2, start2, r2, &ends2[0]);
    PolarPoint(c2, end2, r2, &ends2[1]);
    for (const frDoublePoint& e1 : ends1) {
        for (const frDoublePoint& e2 : ends2) {
            if (PointsNearlyEqual(e1, e2, POINT_TOLERANCE)) {
                *out1 = frDoublePoint(e2.x, e2.y, 0);
                return 1;
            }
        }
    }
    return 0;
}

namespace {

// Centre, radius and height of a bulge arc; false for a straight segment.
bool BulgeArcCircle(const frDoublePoint& p, const frDoublePoint& q, double bulge, frDoublePoint* centre, double* radius,
                    double* height)
{
    if (!IsArcBulge(bulge) || !std::isfinite(bulge))
        return false;
    double h = PointDistance(&p, &q) * 0.5;
    if (!(h > POINT_TOLERANCE))
        return false;
    double s = std::fabs(bulge) * h;
    double r = (h * h + s * s) / (2 * s);
    double theta = std::atan2(q.y - p.y, q.x - p.x) + (bulge > 0 ? HALF_PI : -HALF_PI);
    double cx = (p.x + q.x) * 0.5 + (r - s) * std::cos(theta);
    double cy = (p.y + q.y) * 0.5 + (r - s) * std::sin(theta);
    if (!std::isfinite(r) || !std::isfinite(cx) || !std::isfinite(cy))
        return false;
    centre->x = cx;
    centre->y = cy;
    *radius = r;
    *height = s;
    return true;
}

}  // namespace

bool ArcFromBulge(const frDoublePoint& p, const frDoublePoint& q, double bulge, frDoublePoint* centre, double* radius,
                  frDoublePoint* middle)
{
    double r = 0, s = 0;
    if (!BulgeArcCircle(p, q, bulge, centre, &r, &s))
        return false;
    if (radius)
        *radius = r;
    if (middle) {
        double a1 = NormalizeAngle(AngleAbout(*centre, p));
        double a2 = NormalizeAngle(AngleAbout(*centre, q));
        if (bulge > 0) {
            while (a1 > a2)
                a1 -= TWO_PI;
        } else {
            while (a1 < a2)
                a1 += TWO_PI;
        }
        PolarPoint(*centre, (a1 + a2) * 0.5, r, middle);
    }
    return true;
}

bool GetBulgeArc(const CVertex& s, const CVertex& e, double bulge, CBulgeArc* arc)
{
    const frDoublePoint p(s.x, s.y, s.z), q(e.x, e.y, e.z);
    if (!BulgeArcCircle(p, q, bulge, &arc->centre, &arc->radius, &arc->height))
        return false;
    arc->startAngle = AngleAbout(arc->centre, p);
    arc->endAngle = AngleAbout(arc->centre, q);
    return true;
}

bool GetWrittenBulgeArc(const CVertex& s, const CVertex& e, double bulge, CBulgeArc* arc)
{
    if (!GetBulgeArc(s, e, bulge, arc) || !(arc->height > POINT_TOLERANCE))
        return false;
    arc->startAngle = NormalizeAngle(arc->startAngle);
    arc->endAngle = NormalizeAngle(arc->endAngle);
    return true;
}

double BulgeArcSweep(double start, double end, double bulge)
{
    if (bulge > 0) {
        while (end < start)
            end += TWO_PI;
        return end - start;
    }
    while (start < end)
        start += TWO_PI;
    return start - end;
}

bool BulgeFromThreePoints(const frDoublePoint& p1, const frDoublePoint& p2, const frDoublePoint& p3,
                          frDoublePoint* centre, double* radius, double* bulge)
{
    if (PointsEqual(p1, p2) || PointsEqual(p2, p3) || GetPointSide(p2, p1, p3) == 0)
        return false;
    frDoublePoint m1((p1.x + p2.x) * 0.5, (p1.y + p2.y) * 0.5);
    frDoublePoint m2((p2.x + p3.x) * 0.5, (p2.y + p3.y) * 0.5);
    frDoublePoint n1(m1.x - (p2.y - p1.y), m1.y + (p2.x - p1.x));
    frDoublePoint n2(m2.x - (p3.y - p2.y), m2.y + (p3.x - p2.x));
    frDoublePoint c;
    if (!IntersectLines(m1, n1, m2, n2, 0, &c))
        return false;
    double r = std::hypot(p1.x - c.x, p1.y - c.y);
    centre->x = c.x;
    centre->y = c.y;
    if (radius)
        *radius = r;
    if (!bulge)
        return true;
    if (PointsNearlyEqual(p1, p3, POINT_TOLERANCE)) {
        *bulge = 0;
        return true;
    }
    double a1 = NormalizeAngle(AngleAbout(c, p1));
    double a2 = NormalizeAngle(AngleAbout(c, p2));
    double a3 = NormalizeAngle(AngleAbout(c, p3));
    double a3Normal = a3;
    while (a2 < a1)
        a2 += TWO_PI;
    while (a3 < a1)
        a3 += TWO_PI;
    bool counterClockwise = a3 >= a2;
    double mean;
    if (counterClockwise) {
        mean = (a1 + a3) * 0.5;
    } else {
        while (a1 <= a3Normal)
            a1 += TWO_PI;
        mean = (a1 + a3Normal) * 0.5;
    }
    frDoublePoint m;
    PolarPoint(c, mean, r, &m);
    double hx = m.x - (p1.x + p3.x) * 0.5;
    double hy = m.y - (p1.y + p3.y) * 0.5;
    double b = 2 * std::hypot(hx, hy) / std::hypot(p3.x - p1.x, p3.y - p1.y);
    *bulge = counterClockwise ? b : -b;
    return true;
}

double ArcFlatteningStep(double radius, double sweep, double chord)
{
    sweep = std::fabs(sweep);
    if (!(sweep > 0) || !std::isfinite(sweep) || !(radius > 0) || !std::isfinite(radius))
        return sweep > 0 && std::isfinite(sweep) ? sweep : TWO_PI;
    double step;
    if (chord < 0) {
        step = sweep / -chord;
    } else {
        if (2 * radius - POINT_TOLERANCE <= chord)
            return sweep;
        step = 2 * std::asin(chord / (2 * radius));
    }
    double smallest = sweep / MAX_ARC_PIECES;
    return step >= smallest ? step : smallest;  // also replaces a NaN step
}
