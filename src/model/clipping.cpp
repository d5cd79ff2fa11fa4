// Point in polygon, the segment clipper and the three polygon clippers.
//
// Polygons are arrays of points closed from the last point to the first. The
// polygon clippers walk the edges, keep the visible part of each and join the
// pieces along the box's boundary through its corners. Which corners join an
// exit to the next entry decides what the fill keeps, so they follow the path
// the polygon takes outside the box: pressed onto the box (every point moved
// to the nearest point of the box) that path runs along the boundary, and the
// corners it passes are the ones inserted. Pressing never moves a path across
// a point inside the box, so every inside point keeps its winding number,
// whichever way the polygon runs; both fill rules see the same fill.
#include "model/clipping.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

struct ClipBox {
    double xmin, ymin, xmax, ymax;
};

frDoublePoint CornerPoint(const ClipBox& box, int corner)
{
    switch (corner) {
    case kCornerBL: return {box.xmin, box.ymin};
    case kCornerBR: return {box.xmax, box.ymin};
    case kCornerTR: return {box.xmax, box.ymax};
    default: return {box.xmin, box.ymax};
    }
}

// Regions of the 3 x 3 grid, numbered row by row from the bottom left; the
// box's own edges belong to the middle row and column.
int Region(const ClipBox& box, double x, double y)
{
    int column = x < box.xmin ? 0 : (x > box.xmax ? 2 : 1);
    int row = y < box.ymin ? 0 : (y > box.ymax ? 2 : 1);
    return row * 3 + column + 1;
}

// Edge of the boundary on which a point of the box lies, tested in the order
// bottom, right, top, left; 0 when it lies strictly inside.
std::int16_t BoundaryEdge(const ClipBox& box, double x, double y)
{
    if (y == box.ymin)
        return kClipEdgeBottom;
    if (x == box.xmax)
        return kClipEdgeRight;
    if (y == box.ymax)
        return kClipEdgeTop;
    if (x == box.xmin)
        return kClipEdgeLeft;
    return kClipEdgeNone;
}

void AppendPoint(std::vector<frDoublePoint>& out, double x, double y, double z = 0) { out.emplace_back(x, y, z); }

}  // namespace

// ---- point in polygon -----------------------------------------------------

std::int16_t PointQuadrant(double x0, double y0, double x, double y)
{
    if (x > x0 && y >= y0)
        return 0;
    if (x <= x0 && y > y0)
        return 1;
    if (x < x0 && y <= y0)
        return 2;
    if (x >= x0 && y < y0)
        return 3;
    return -1;
}

namespace {

// Quarter turns (times two) that the edge a -> b adds about (x, y); false
// when the point lies on the edge.
bool AddEdgeTurns(double x, double y, const frDoublePoint& a, const frDoublePoint& b, int q, int q2, int& sum)
{
    int d = (q2 - q + 4) % 4;  // 0, 1, 2 or 3 (3 stands for -1)
    if (d == 1) {
        sum += 1;
    } else if (d == 3) {
        sum -= 1;
    } else if (d == 2) {
        // The edge jumps over the point's quadrant corner: which side of the
        // point it passes decides the direction.
        double xi = (y - b.y) / (a.y - b.y) * (a.x - b.x) + b.x;
        if (std::isnan(xi) || xi == x)
            return false;
        if (xi < x)
            sum += (q == 0 || q == 1) ? 2 : -2;
        else
            sum += (q == 2 || q == 3) ? 2 : -2;
    }
    return true;
}

}  // namespace

namespace {

// Four times the winding number of the polygon about (x, y); false when the
// point lies on the boundary.
bool WindingSum(double x, double y, const frDoublePoint* points, int count, int& sum)
{
    sum = 0;
    if (!points || count <= 0)
        return true;
    int first = PointQuadrant(x, y, points[0].x, points[0].y);
    if (first < 0)
        return false;
    int q = first;
    for (int i = 1; i < count; ++i) {
        int q2 = PointQuadrant(x, y, points[i].x, points[i].y);
        if (q2 < 0)
            return false;
        if (!AddEdgeTurns(x, y, points[i - 1], points[i], q, q2, sum))
            return false;
        q = q2;
    }
    return AddEdgeTurns(x, y, points[count - 1], points[0], q, first, sum);
}

}  // namespace

std::int16_t PointInPolygon(double x, double y, double /*z*/, const frDoublePoint* points, int count)
{
    int sum = 0;
    if (!WindingSum(x, y, points, count, sum))
        return 0;
    if (sum == 0)
        return -1;
    return sum > 0 ? 1 : 2;
}

// ---- segment clipping -----------------------------------------------------

namespace {

struct Crossing {
    double x, y;
    std::int16_t code;
};

// Where the segment, seen from the end (xa, ya), passes the edge next to an
// end in the given outside region. In a corner region the vertical edge wins
// unless the crossing lies beyond the corner's horizontal edge.
Crossing EdgeCrossing(const ClipBox& box, int region, double xa, double ya, double slope)
{
    auto onVertical = [&](double ex, std::int16_t code) { return Crossing{ex, ya + (ex - xa) * slope, code}; };
    auto onHorizontal = [&](double ey, std::int16_t code) { return Crossing{xa + (ey - ya) / slope, ey, code}; };
    switch (region) {
    case 2: return onHorizontal(box.ymin, kClipEdgeBottom);
    case 8: return onHorizontal(box.ymax, kClipEdgeTop);
    case 4: return onVertical(box.xmin, kClipEdgeLeft);
    case 6: return onVertical(box.xmax, kClipEdgeRight);
    case 1: {
        Crossing c = onVertical(box.xmin, kClipEdgeLeft);
        return c.y >= box.ymin ? c : onHorizontal(box.ymin, kClipEdgeBottom);
    }
    case 3: {
        Crossing c = onVertical(box.xmax, kClipEdgeRight);
        return c.y >= box.ymin ? c : onHorizontal(box.ymin, kClipEdgeBottom);
    }
    case 7: {
        Crossing c = onVertical(box.xmin, kClipEdgeLeft);
        return c.y <= box.ymax ? c : onHorizontal(box.ymax, kClipEdgeTop);
    }
    default: {  // 9
        Crossing c = onVertical(box.xmax, kClipEdgeRight);
        return c.y <= box.ymax ? c : onHorizontal(box.ymax, kClipEdgeTop);
    }
    }
}

bool OnEdgeSpan(const ClipBox& box, const Crossing& c)
{
    if (c.code == kClipEdgeLeft || c.code == kClipEdgeRight)
        return box.ymin <= c.y && c.y <= box.ymax;
    return box.xmin <= c.x && c.x <= box.xmax;
}

bool IsCorner(const ClipBox& box, double x, double y)
{
    return (x == box.xmin || x == box.xmax) && (y == box.ymin || y == box.ymax);
}

}  // namespace

bool ClipSegmentToRect(double xmin, double ymin, double xmax, double ymax, double& x1, double& y1, double& x2,
                       double& y2, std::int16_t& code1, std::int16_t& code2)
{
    // A not-a-number falls into the middle row and column, and an infinite
    // end makes the slope one; either would come out as a visible segment of
    // garbage.
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2) || !(xmin <= xmax) ||
        !(ymin <= ymax))
        return false;
    if ((x1 < xmin && x2 <= xmin) || (x1 > xmax && x2 >= xmax))
        return false;
    if ((y2 > ymax && y1 >= ymax) || (y2 < ymin && y1 <= ymin))
        return false;

    const ClipBox box{xmin, ymin, xmax, ymax};
    int r1 = Region(box, x1, y1);
    int r2 = Region(box, x2, y2);
    code1 = code2 = kClipEdgeNone;
    if (r1 == 5 && r2 == 5)
        return true;

    double slope = (y2 - y1) / (x2 - x1);
    if (r1 == 5 || r2 == 5) {
        // The crossing is computed from the end that stays.
        bool firstStays = r1 == 5;
        Crossing c = firstStays ? EdgeCrossing(box, r2, x1, y1, slope) : EdgeCrossing(box, r1, x2, y2, slope);
        if (firstStays) {
            x2 = c.x, y2 = c.y, code2 = c.code;
        } else {
            x1 = c.x, y1 = c.y, code1 = c.code;
        }
        return true;
    }

    // Both ends outside: each moves onto the edge through which the segment
    // enters or leaves, both computed from the first end.
    Crossing c1 = EdgeCrossing(box, r1, x1, y1, slope);
    Crossing c2 = EdgeCrossing(box, r2, x1, y1, slope);
    if (!OnEdgeSpan(box, c1) || !OnEdgeSpan(box, c2))
        return false;
    if (c1.x == c2.x && c1.y == c2.y && IsCorner(box, c1.x, c1.y))
        return false;  // it only touches a corner
    x1 = c1.x, y1 = c1.y, code1 = c1.code;
    x2 = c2.x, y2 = c2.y, code2 = c2.code;
    return true;
}

// ---- polygons: following the outside path ------------------------------

namespace {

// Corners that the outside path passes, in order. A path pressed onto the
// box moves along its boundary and can only change edges at a corner, so
// the corners alone fix its way round; a corner left and re-entered straight
// away (A, B, A) is a spike of no area and is dropped.
void PushCorner(std::vector<int>& corners, int corner)
{
    if (!corners.empty() && corners.back() == corner)
        return;
    if (corners.size() >= 2 && corners[corners.size() - 2] == corner) {
        corners.pop_back();
        return;
    }
    corners.push_back(corner);
}

int ClampedCorner(const ClipBox& box, double x, double y)
{
    double cx = std::clamp(x, box.xmin, box.xmax);
    double cy = std::clamp(y, box.ymin, box.ymax);
    if (cy == box.ymin) {
        if (cx == box.xmin)
            return kCornerBL;
        if (cx == box.xmax)
            return kCornerBR;
    } else if (cy == box.ymax) {
        if (cx == box.xmin)
            return kCornerTL;
        if (cx == box.xmax)
            return kCornerTR;
    }
    return -1;
}

// Adds the corners passed by the segment p -> q pressed onto the box
// (each point moved to the nearest point of the box). The pressed segment
// bends only where it crosses one of the box's four lines.
void AddOutsideCorners(const ClipBox& box, const frDoublePoint& p, const frDoublePoint& q, std::vector<int>& corners)
{
    struct Stop {
        double t, x, y;
    };
    Stop stops[6];
    int n = 0;
    stops[n++] = {0, p.x, p.y};
    double dx = q.x - p.x;
    double dy = q.y - p.y;
    for (double line : {box.xmin, box.xmax}) {
        if ((p.x < line && q.x > line) || (p.x > line && q.x < line)) {
            double t = (line - p.x) / dx;
            stops[n++] = {t, line, p.y + t * dy};
        }
    }
    for (double line : {box.ymin, box.ymax}) {
        if ((p.y < line && q.y > line) || (p.y > line && q.y < line)) {
            double t = (line - p.y) / dy;
            stops[n++] = {t, p.x + t * dx, line};
        }
    }
    stops[n++] = {1, q.x, q.y};
    // At most four inner stops: order them along the segment.
    for (int i = 2; i < n - 1; ++i)
        for (int j = i; j > 1 && stops[j].t < stops[j - 1].t; --j)
            std::swap(stops[j], stops[j - 1]);
    for (int i = 0; i < n; ++i) {
        int corner = ClampedCorner(box, stops[i].x, stops[i].y);
        if (corner >= 0)
            PushCorner(corners, corner);
    }
}

void AppendCorner(const ClipBox& box, int corner, std::vector<frDoublePoint>& out)
{
    frDoublePoint c = CornerPoint(box, corner);
    AppendPoint(out, c.x, c.y);
}

// Appends a clipped end unless it repeats the last point.
void AppendEnd(std::vector<frDoublePoint>& out, double x, double y, double z)
{
    if (!out.empty() && out.back().x == x && out.back().y == y)
        return;
    AppendPoint(out, x, y, z);
}

// The visible pieces of the polygon's edges, joined by the corners that the
// path between them passes outside. Every point strictly inside the box
// keeps its winding number. False when no edge reaches the box; the caller
// then decides by the box's centre.
bool ClipPolygonPath(const ClipBox& box, const frDoublePoint* points, int count, std::vector<frDoublePoint>& out)
{
    std::vector<int> outside;      // corners passed since the last exit
    std::vector<int> beforeFirst;  // corners passed before the first visible piece
    bool anyVisible = false;

    for (int i = 0; i < count; ++i) {
        const frDoublePoint& p = points[i];
        const frDoublePoint& q = points[(i + 1) % count];
        double x1 = p.x, y1 = p.y, x2 = q.x, y2 = q.y;
        std::int16_t code1 = 0, code2 = 0;
        if (!ClipSegmentToRect(box.xmin, box.ymin, box.xmax, box.ymax, x1, y1, x2, y2, code1, code2)) {
            AddOutsideCorners(box, p, q, outside);
            continue;
        }
        if (code1 != kClipEdgeNone)
            AddOutsideCorners(box, p, frDoublePoint(x1, y1), outside);
        // A start that was kept but lies on the boundary is an entry too.
        bool entry = code1 != kClipEdgeNone || BoundaryEdge(box, x1, y1) != kClipEdgeNone;
        if (!anyVisible) {
            beforeFirst.swap(outside);
            anyVisible = true;
        } else {
            for (int corner : outside)
                AppendCorner(box, corner, out);
        }
        outside.clear();
        if (entry)
            AppendEnd(out, x1, y1, p.z);
        AppendEnd(out, x2, y2, q.z);
        if (code2 != kClipEdgeNone)
            AddOutsideCorners(box, frDoublePoint(x2, y2), q, outside);
    }
    if (!anyVisible)
        return false;
    // The path from the last exit round to the first entry.
    for (int corner : beforeFirst)
        PushCorner(outside, corner);
    for (int corner : outside)
        AppendCorner(box, corner, out);
    if (out.size() > 1 && out.back().x == out.front().x && out.back().y == out.front().y)
        out.pop_back();
    return true;
}

// Winding number of the polygon about the box's centre, for a polygon of
// which no edge reaches the box (the centre then cannot lie on it).
int CentreWinding(const ClipBox& box, const frDoublePoint* points, int count)
{
    int sum = 0;
    if (!WindingSum((box.xmin + box.xmax) / 2, (box.ymin + box.ymax) / 2, points, count, sum))
        return 0;
    return sum / 4;
}

}  // namespace

bool ClipPolygonWinding(double xmin, double ymin, double xmax, double ymax, const frDoublePoint* points, int count,
                        std::vector<frDoublePoint>& out)
{
    out.clear();
    if (!points || count <= 0)
        return false;
    const ClipBox box{xmin, ymin, xmax, ymax};
    if (ClipPolygonPath(box, points, count, out))
        return true;
    // Nothing reaches the box: it lies wholly inside the polygon or wholly
    // outside it. A box wound an even number of times goes in twice, so that
    // an ALTERNATE fill of the result agrees as well.
    int winding = CentreWinding(box, points, count);
    if (winding == 0)
        return false;
    int rounds = winding % 2 == 0 ? 2 : 1;
    for (int round = 0; round < rounds; ++round)
        for (int corner : {kCornerBL, kCornerBR, kCornerTR, kCornerTL})
            AppendCorner(box, corner, out);
    return true;
}

bool ClipPolygonEvenOdd(double xmin, double ymin, double xmax, double ymax, const frDoublePoint* points, int count,
                        std::vector<frDoublePoint>& out)
{
    out.clear();
    if (!points || count <= 0)
        return false;
    const ClipBox box{xmin, ymin, xmax, ymax};
    if (ClipPolygonPath(box, points, count, out))
        return true;
    if (CentreWinding(box, points, count) % 2 == 0)
        return false;
    for (int corner : {kCornerBR, kCornerTR, kCornerTL, kCornerBL})
        AppendCorner(box, corner, out);
    return true;
}

// ---- polygon sets ---------------------------------------------------------

bool ClipPolyPolygon(double xmin, double ymin, double xmax, double ymax, const frDoublePoint* points, int* counts,
                     int outlineCount, std::vector<frDoublePoint>& out, int& newOutlineCount)
{
    out.clear();
    newOutlineCount = 0;
    if (!points || !counts)
        return false;
    std::vector<frDoublePoint> outline;
    std::size_t offset = 0;
    for (int i = 0; i < outlineCount; ++i) {
        int n = std::max(counts[i], 0);
        if (ClipPolygonEvenOdd(xmin, ymin, xmax, ymax, points + offset, n, outline)) {
            out.insert(out.end(), outline.begin(), outline.end());
            counts[newOutlineCount++] = static_cast<int>(outline.size());
        }
        offset += static_cast<std::size_t>(n);
    }
    return newOutlineCount > 0;
}
