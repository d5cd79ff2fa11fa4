// CPolyPolygon from a DXF HATCH record with a solid fill.
//
// A HATCH lists its boundary paths after group 91, each starting with its
// flags (92). A polyline path (flag bit 2) gives its vertices as 10/20 with
// optional bulges (42); any other path is a chain of edges, each starting
// with its type (72): lines and circular arcs are turned into vertices with
// bulges; elliptic and spline edges cannot be, and such a path is passed
// over. A path ends where a group appears that no path holds: the next
// path's 92, or the hatch data that follow the paths (75, 76, 98, ...).
#include <cmath>
#include <new>
#include <vector>

#include "model/constants.h"
#include "model/dxf_import.h"
#include "model/polygon_set.h"

namespace {

constexpr std::int32_t kPathIsPolyline = 2;
constexpr int kEdgeLine = 1;
constexpr int kEdgeArc = 2;

// Groups that never occur inside a boundary path.
bool EndsPath(std::int32_t code)
{
    switch (code) {
    case 92:
    case 75:
    case 76:
    case 98:
    case 47:
    case 52:
    case 41:
    case 77:
    case 78: return true;
    default: return code >= 450;
    }
}

enum class PathGroup { kGroup, kPathEnd, kRecordEnd };

// The next group of a path; a group that ends the path is put back.
PathGroup ReadPathGroup(std::FILE* file, CDxfPair& pair)
{
    const long start = std::ftell(file);
    if (ReadDxfGroup(file, pair) != DxfGroupStatus::kGroup)
        return PathGroup::kRecordEnd;
    if (!EndsPath(pair.code))
        return PathGroup::kGroup;
    if (start < 0 || std::fseek(file, start, SEEK_SET) != 0)
        return PathGroup::kRecordEnd;
    return PathGroup::kPathEnd;
}

struct PathVertex {
    double x = 0, y = 0, bulge = 0;
};

// Points of a path are the same within a millionth of their size.
bool SamePoint(double ax, double ay, double bx, double by)
{
    const double tolerance = 1e-6 * (1.0 + std::fmax(std::fabs(ax), std::fabs(ay)));
    return std::fabs(ax - bx) <= tolerance && std::fabs(ay - by) <= tolerance;
}

// The outline through the vertices; a last vertex repeating the first is
// dropped (the outline closes by itself). Null below two vertices.
std::unique_ptr<CPolyLine> MakeOutline(std::vector<PathVertex> vertices)
{
    if (vertices.size() > 1 && SamePoint(vertices.front().x, vertices.front().y, vertices.back().x, vertices.back().y))
        vertices.pop_back();
    if (vertices.size() < 2)
        return nullptr;
    std::unique_ptr<CPolyLine> outline(new (std::nothrow) CPolyLine);
    if (!outline)
        return nullptr;
    for (const PathVertex& p : vertices) {
        CVertex* v = new (std::nothrow) CVertex;
        if (v == nullptr)
            return nullptr;
        v->x = p.x;
        v->y = p.y;
        v->bulge = p.bulge;
        outline->AppendMerging(v);
    }
    outline->m_Closed = true;
    return outline;
}

// ---- polyline paths ---------------------------------------------------------

// False when the record ended inside the path.
bool ReadPolylinePath(std::FILE* file, std::vector<PathVertex>& vertices, std::int32_t& expected)
{
    PathVertex current;
    bool hasX = false, hasY = false, done = false;
    auto finish = [&] {
        if (hasX && hasY)
            vertices.push_back(current);
        current = PathVertex();
        hasX = hasY = false;
    };
    CDxfPair pair;
    for (;;) {
        const PathGroup status = ReadPathGroup(file, pair);
        if (status == PathGroup::kRecordEnd)
            return false;
        if (status == PathGroup::kPathEnd)
            break;
        if (done)
            continue;  // the source object handles
        switch (pair.code) {
        case 10:
            if (hasX && hasY)
                finish();
            hasX = ParseDxfCoordinate(pair.value, current.x);
            break;
        case 20:
            if (hasX && hasY)
                finish();
            hasY = ParseDxfCoordinate(pair.value, current.y);
            break;
        case 42: (void)ParseDxfCoordinate(pair.value, current.bulge); break;
        case 93: (void)ParseDxfInt(pair.value, expected); break;
        case 97: done = true; break;
        default: break;
        }
    }
    finish();
    return true;
}

// ---- edge paths -------------------------------------------------------------

struct Edge {
    int type = 0;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0, radius = 0, start = 0, end = 0;
    bool hasX1 = false, hasY1 = false, hasX2 = false, hasY2 = false, hasRadius = false, hasStart = false,
         hasEnd = false;
    std::int32_t ccw = 1;
};

struct Segment {
    double sx = 0, sy = 0, ex = 0, ey = 0, bulge = 0;
    void Reverse()
    {
        std::swap(sx, ex);
        std::swap(sy, ey);
        bulge = -bulge;
    }
};

// One edge as one or two segments (a full circle takes two half turns).
// False for an edge whose groups are incomplete.
bool EdgeToSegments(const Edge& e, std::vector<Segment>& segments)
{
    if (e.type == kEdgeLine) {
        if (!(e.hasX1 && e.hasY1 && e.hasX2 && e.hasY2))
            return false;
        segments.push_back({e.x1, e.y1, e.x2, e.y2, 0});
        return true;
    }
    if (!(e.hasX1 && e.hasY1 && e.hasRadius && e.hasStart && e.hasEnd) || e.radius <= 0)
        return false;
    // Clockwise arcs are stored with complementary angles (360 - angle).
    const double sign = e.ccw ? 1.0 : -1.0;
    double sweep = std::fmod(e.end - e.start, 360.0);
    if (sweep <= 0)
        sweep += 360.0;
    const double a1 = sign * e.start / 180.0 * PI;
    const double a2 = sign * e.end / 180.0 * PI;
    auto at = [&](double a, double& x, double& y) {
        x = e.x1 + e.radius * std::cos(a);
        y = e.y1 + e.radius * std::sin(a);
    };
    Segment s;
    at(a1, s.sx, s.sy);
    if (sweep >= 360.0 - 1e-9) {
        // A whole circle: two half turns through the opposite point.
        Segment second;
        at(a1 + sign * PI, s.ex, s.ey);
        s.bulge = sign;
        second = {s.ex, s.ey, s.sx, s.sy, sign};
        segments.push_back(s);
        segments.push_back(second);
        return true;
    }
    at(a2, s.ex, s.ey);
    s.bulge = sign * std::tan(sweep / 180.0 * PI / 4.0);
    segments.push_back(s);
    return true;
}

// Turns segments that run against the chain so that each starts where the
// one before it ends, then takes each segment's start as a vertex.
std::vector<PathVertex> ChainSegments(std::vector<Segment>& segments)
{
    auto meets = [](double x, double y, const Segment& s) {
        return SamePoint(x, y, s.sx, s.sy) || SamePoint(x, y, s.ex, s.ey);
    };
    if (segments.size() > 1 && !meets(segments[0].ex, segments[0].ey, segments[1]) &&
        meets(segments[0].sx, segments[0].sy, segments[1]))
        segments[0].Reverse();
    for (std::size_t i = 1; i < segments.size(); ++i) {
        const Segment& previous = segments[i - 1];
        Segment& s = segments[i];
        if (!SamePoint(previous.ex, previous.ey, s.sx, s.sy) && SamePoint(previous.ex, previous.ey, s.ex, s.ey))
            s.Reverse();
    }
    std::vector<PathVertex> vertices;
    vertices.reserve(segments.size());
    for (const Segment& s : segments)
        vertices.push_back({s.sx, s.sy, s.bulge});
    return vertices;
}

enum class EdgePath { kRead, kUnsupported, kBroken, kRecordEnd };

EdgePath ReadEdgePath(std::FILE* file, std::vector<PathVertex>& vertices)
{
    std::vector<Edge> edges;
    std::int32_t expected = -1;
    bool unsupported = false, done = false;
    CDxfPair pair;
    for (;;) {
        const PathGroup status = ReadPathGroup(file, pair);
        if (status == PathGroup::kRecordEnd)
            return EdgePath::kRecordEnd;
        if (status == PathGroup::kPathEnd)
            break;
        // Spline edges hold groups of their own (knots, fit data, even a 97),
        // so nothing after an unusable edge is interpreted.
        if (done || unsupported)
            continue;
        if (pair.code == 72) {
            std::int32_t type = 0;
            (void)ParseDxfInt(pair.value, type);
            if (type != kEdgeLine && type != kEdgeArc) {
                unsupported = true;
                continue;
            }
            edges.emplace_back();
            edges.back().type = type;
            continue;
        }
        if (pair.code == 93) {
            (void)ParseDxfInt(pair.value, expected);
            continue;
        }
        if (pair.code == 97) {
            done = true;
            continue;
        }
        if (edges.empty())
            continue;
        Edge& e = edges.back();
        switch (pair.code) {
        case 10: e.hasX1 = ParseDxfCoordinate(pair.value, e.x1); break;
        case 20: e.hasY1 = ParseDxfCoordinate(pair.value, e.y1); break;
        case 11: e.hasX2 = ParseDxfCoordinate(pair.value, e.x2); break;
        case 21: e.hasY2 = ParseDxfCoordinate(pair.value, e.y2); break;
        case 40: e.hasRadius = ParseDxfCoordinate(pair.value, e.radius); break;
        case 50: e.hasStart = ParseDxfCoordinate(pair.value, e.start); break;
        case 51: e.hasEnd = ParseDxfCoordinate(pair.value, e.end); break;
        case 73: (void)ParseDxfInt(pair.value, e.ccw); break;
        default: break;
        }
    }
    if (unsupported)
        return EdgePath::kUnsupported;
    if (expected >= 0 && static_cast<std::size_t>(expected) != edges.size())
        return EdgePath::kBroken;
    std::vector<Segment> segments;
    for (const Edge& e : edges)
        if (!EdgeToSegments(e, segments))
            return EdgePath::kBroken;
    vertices = ChainSegments(segments);
    return EdgePath::kRead;
}

void MirrorOutline(CPolyLine& outline)
{
    CVertex* head = outline.GetHead();
    if (head == nullptr)
        return;
    CVertex* v = head;
    do {
        v->x = -v->x;
        v->bulge = -v->bulge;
        v = v->next;
    } while (v != head);
    outline.m_Modified = true;
}

}  // namespace

bool CPolyPolygon::ReadBoundaryPath(std::FILE* file)
{
    CDxfPair pair;
    const long start = std::ftell(file);
    if (ReadDxfGroup(file, pair) != DxfGroupStatus::kGroup)
        return false;
    std::int32_t flags = 0;
    if (pair.code != 92 || !ParseDxfInt(pair.value, flags)) {
        // Not a path: leave the group to the hatch.
        if (start >= 0)
            (void)std::fseek(file, start, SEEK_SET);
        return false;
    }
    std::vector<PathVertex> vertices;
    if (flags & kPathIsPolyline) {
        std::int32_t expected = -1;
        if (!ReadPolylinePath(file, vertices, expected))
            return false;
        if (expected >= 0 && static_cast<std::size_t>(expected) != vertices.size()) {
            DxfWarning("Hatch boundary paths whose vertex count did not match were passed over.");
            return true;
        }
    } else {
        switch (ReadEdgePath(file, vertices)) {
        case EdgePath::kRecordEnd: return false;
        case EdgePath::kUnsupported:
            DxfWarning("Hatch boundary paths with elliptic or spline edges were passed over.");
            return true;
        case EdgePath::kBroken: DxfWarning("Hatch boundary paths with incomplete edges were passed over."); return true;
        case EdgePath::kRead: break;
        }
    }
    (void)AddOutline(MakeOutline(std::move(vertices)));
    return true;
}

bool CPolyPolygon::ReadDXF(std::FILE* file, std::string* layerName)
{
    RemoveAllOutlines();
    bool solidPattern = false, solidFill = false, seedPending = false;
    double extrusionZ = 1;
    CDxfPair pair;
    for (;;) {
        const DxfGroupStatus status = ReadDxfGroup(file, pair);
        if (status == DxfGroupStatus::kRecordEnd)
            break;
        if (status == DxfGroupStatus::kFailed) {
            RemoveAllOutlines();
            return false;
        }
        switch (pair.code) {
        case 2: solidPattern = DxfNameIs(pair.value, "SOLID"); break;
        case 8:
            if (layerName)
                *layerName = DxfNameToUtf8(pair.value);
            break;
        case 10:
            if (seedPending)
                (void)ParseDxfCoordinate(pair.value, m_SeedPoint.x);
            break;
        case 20:
            if (seedPending)
                (void)ParseDxfCoordinate(pair.value, m_SeedPoint.y);
            break;
        case 62: m_Color = DxfEntityColor(pair.value); break;
        case 70: {
            std::int32_t fill = 0;
            solidFill = ParseDxfInt(pair.value, fill) && fill == 1;
            break;
        }
        case 91: {
            // Each path reads at least one group, so a huge count ends with
            // the record.
            std::int32_t count = 0;
            (void)ParseDxfInt(pair.value, count);
            for (std::int32_t i = 0; i < count; ++i)
                if (!ReadBoundaryPath(file))
                    break;
            break;
        }
        case 98: seedPending = true; break;
        case 230: (void)ParseDxfCoordinate(pair.value, extrusionZ); break;
        default: break;
        }
    }
    m_PatternHatch = !solidPattern || !solidFill;
    if (m_PatternHatch || GetOutlineCount() == 0) {
        RemoveAllOutlines();
        return false;
    }
    if (DxfExtrusionIsMirrored(extrusionZ)) {
        for (int i = 0; i < GetOutlineCount(); ++i)
            MirrorOutline(*GetOutline(i));
        m_SeedPoint.x = -m_SeedPoint.x;
    }
    m_Modified = true;
    return true;
}
