#pragma once
// Device points of the metafile records. The records draw in raster pixels
// with y turned over about the page's top edge (device y = page height - y),
// each value cut to an integer the way its record does it; a value is held
// within a range that leaves room for a player's arithmetic, so a far point
// cannot wrap round to the other side of the picture.
#include <cmath>

#include "model/constants.h"
#include "model/point.h"
#include "platform/gdi_types.h"

constexpr double METAFILE_COORDINATE_LIMIT = 1 << 28;
// Polylines and polygon sets give the rays of their arcs by points this many
// radii from the centre: GDI takes only their direction, which far points
// keep despite the truncation.
constexpr double METAFILE_RADIAL_DISTANCE = 2.5;

// Truncated toward zero.
inline int MetafileTrunc(double value)
{
    if (!(value >= -METAFILE_COORDINATE_LIMIT)) return -static_cast<int>(METAFILE_COORDINATE_LIMIT);
    if (value > METAFILE_COORDINATE_LIMIT) return static_cast<int>(METAFILE_COORDINATE_LIMIT);
    return static_cast<int>(value);
}

// (x, page height - y), both truncated: the points of polylines and
// polygon sets.
inline POINT MetafilePoint(double x, double y, double pageHeight)
{
    return {MetafileTrunc(x), MetafileTrunc(pageHeight - y)};
}

// The circular arc of a bulge segment p -> q for the metafile: centre,
// radius and the angles of p and q about the centre in [0, TWO_PI).
struct CMetafileArc {
    frDoublePoint centre;
    double radius = 0;
    double start = 0;
    double end = 0;
};

// False when the segment is drawn straight: a bulge below the tolerance in
// size, no chord, a sagitta of at most the tolerance, or a circle too large
// for the device coordinates (its chord is then the better picture).
inline bool GetMetafileArc(const CVertex& p, const CVertex& q, double bulge, CMetafileArc* arc)
{
    if (!(std::fabs(bulge) >= POINT_TOLERANCE)) return false;
    const double dx = q.x - p.x, dy = q.y - p.y;
    if (std::fabs(dx) < POINT_TOLERANCE && std::fabs(dy) < POINT_TOLERANCE) return false;
    const double half = std::hypot(dx, dy) / 2, sagitta = std::fabs(bulge) * half;
    if (!(sagitta > POINT_TOLERANCE)) return false;
    const double r = (half * half + sagitta * sagitta) / (2 * sagitta);
    if (!(r < METAFILE_COORDINATE_LIMIT / 4)) return false;
    const double theta = std::atan2(dy, dx) + (bulge > 0 ? HALF_PI : -HALF_PI);
    arc->radius = r;
    arc->centre = frDoublePoint((p.x + q.x) / 2 + (r - sagitta) * std::cos(theta),
                                (p.y + q.y) / 2 + (r - sagitta) * std::sin(theta));
    auto angle = [&](const CVertex& v) {
        double a = std::atan2(v.y - arc->centre.y, v.x - arc->centre.x);
        if (a < 0) a += TWO_PI;
        return a >= TWO_PI ? a - TWO_PI : a;
    };
    arc->start = angle(p);
    arc->end = angle(q);
    return true;
}
