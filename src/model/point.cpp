#include "model/point.h"

#include "model/constants.h"

#include <cmath>

double PointDistance(const frDoublePoint* p, const frDoublePoint* q)
{
    double dx = p->x - q->x;
    double dy = p->y - q->y;
    if (-POINT_TOLERANCE < dx && dx < POINT_TOLERANCE && -POINT_TOLERANCE < dy && dy < POINT_TOLERANCE)
        return 0.0;
    return std::sqrt(dx * dx + dy * dy);
}

void PolarPoint(frDoublePoint centre, double angle, double radius, frDoublePoint* out)
{
    out->x = centre.x + radius * std::cos(angle);
    out->y = centre.y + radius * std::sin(angle);
}

frDoublePoint PolarPoint(const frDoublePoint& centre, double angle, double radius)
{
    frDoublePoint p;
    PolarPoint(centre, angle, radius, &p);
    return p;
}

void RotatePoint(frDoublePoint* p, double angle)
{
    double c = std::cos(angle);
    double s = std::sin(angle);
    double x = p->x * c - p->y * s;
    double y = p->x * s + p->y * c;
    p->x = x;
    p->y = y;
}

int GetPointSide(const frDoublePoint& p, const frDoublePoint& a, const frDoublePoint& b)
{
    double d = (p.y - a.y) * (b.x - a.x) - (b.y - a.y) * (p.x - a.x);
    if (d > POINT_TOLERANCE)
        return 1;
    if (d < -POINT_TOLERANCE)
        return -1;
    return 0;
}

bool PointsEqual(const frDoublePoint& p, const frDoublePoint& q)
{
    double dx = p.x - q.x;
    double dy = p.y - q.y;
    return -POINT_TOLERANCE <= dx && dx <= POINT_TOLERANCE && -POINT_TOLERANCE <= dy && dy <= POINT_TOLERANCE;
}
