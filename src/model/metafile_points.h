#pragma once
// Device points of the metafile records. The records draw on the page's grid
// (COutputPage: raster pixels unless the framing chose a finer one) with y
// turned over about the page's top edge (device y = (page height - y) times
// the grid's scale; the turn already brings y near 0, so the grid's y origin
// is not used), each value cut to an integer the way its record does it; a value is held
// within a range that leaves room for a player's arithmetic, so a far point
// cannot wrap round to the other side of the picture.
#include <cmath>

#include "model/constants.h"
#include "model/geometry.h"
#include "model/output_records.h"
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
    if (!(value >= -METAFILE_COORDINATE_LIMIT))
        return -static_cast<int>(METAFILE_COORDINATE_LIMIT);
    if (value > METAFILE_COORDINATE_LIMIT)
        return static_cast<int>(METAFILE_COORDINATE_LIMIT);
    return static_cast<int>(value);
}

// x and a length on the grid, truncated; a turned-over y on the grid,
// rounded (halves up).
inline int MetafileX(double x)
{
    const COutputPage& page = GetOutputPage();
    return MetafileTrunc((x - page.originX) * page.scale);
}
inline int MetafileLength(double length) { return MetafileTrunc(length * GetOutputPage().scale); }
// The pen width of a stroke: its width on the grid, or for none the page's
// hairline (COutputPage::hairline, in device units; 0 keeps the cosmetic
// pen), so a converter that draws a cosmetic pen one unit of a large frame
// wide still shows the line.
inline int MetafilePenWidth(double width)
{
    const int w = MetafileLength(width);
    return w > 0 ? w : static_cast<int>(GetOutputPage().hairline);
}
inline int MetafileRoundedY(double turnedY) { return MetafileTrunc(turnedY * GetOutputPage().scale + 0.5); }

// (x, page height - y) on the grid, both truncated: the points of polylines
// and polygon sets.
inline POINT MetafilePoint(double x, double y, double pageHeight)
{
    return {MetafileX(x), MetafileTrunc((pageHeight - y) * GetOutputPage().scale)};
}

// What GDI's arc calls take of an arc: the bounding square of its circle
// and the points on the rays of its start and end angle.
struct CMetafileArcPoints {
    POINT topLeft, bottomRight, start, end;
};
inline CMetafileArcPoints GetMetafileArcPoints(const CBulgeArc& arc, double pageHeight)
{
    const double cx = arc.centre.x, cy = arc.centre.y, r = arc.radius, far = METAFILE_RADIAL_DISTANCE * r;
    return {MetafilePoint(cx - r, cy + r, pageHeight), MetafilePoint(cx + r, cy - r, pageHeight),
            MetafilePoint(cx + far * std::cos(arc.startAngle), cy + far * std::sin(arc.startAngle), pageHeight),
            MetafilePoint(cx + far * std::cos(arc.endAngle), cy + far * std::sin(arc.endAngle), pageHeight)};
}

// GDI sweeps an arc from one ray to the other about its box's centre and
// draws the whole ellipse for rays that meet. Cut to integers, the rays of
// an arc shorter than about a device unit meet or pass each other: false
// for such an arc, whose chord is then its picture. One of half a turn or
// more keeps its rays: where they meet, the whole ellipse lies within a
// device unit of it. The arc turns `sweep` (0 to TWO_PI) from start to end,
// counter-clockwise on the page or else clockwise.
inline bool MetafileRaysHold(const CMetafileArcPoints& points, bool counterClockwise, double sweep)
{
    const double cx = (points.topLeft.x + points.bottomRight.x) / 2.0;
    const double cy = (points.topLeft.y + points.bottomRight.y) / 2.0;
    const POINT& from = counterClockwise ? points.start : points.end;
    const POINT& to = counterClockwise ? points.end : points.start;
    // Device y runs down the page.
    return sweep >= PI || WrittenRaysKeepSweep(from.x - cx, cy - from.y, to.x - cx, cy - to.y, sweep);
}

// The arc of a bulge segment p -> q as the metafile draws it (see
// GetWrittenBulgeArc); false for a segment drawn as its chord: a straight
// one, one of a circle too large for the device coordinates, or one too
// short for its rays (MetafileRaysHold).
inline bool GetMetafileArc(const CVertex& p, const CVertex& q, double bulge, double pageHeight,
                           CMetafileArcPoints* points)
{
    CBulgeArc arc;
    if (!GetWrittenBulgeArc(p, q, bulge, &arc) || !(arc.radius * GetOutputPage().scale < METAFILE_COORDINATE_LIMIT / 4))
        return false;
    *points = GetMetafileArcPoints(arc, pageHeight);
    return MetafileRaysHold(*points, bulge > 0, BulgeArcSweep(arc.startAngle, arc.endAngle, bulge));
}
