// CPolyLine from DXF LWPOLYLINE records and from POLYLINE / VERTEX / SEQEND
// sequences.
//
// Both readers first collect the vertices as read, then build the ring, so a
// record is either taken whole or leaves the polyline empty. Only bit 1 of
// the polyline's own group 70 means "closed"; the other bits (linetype
// generation 128, curve fitting, 3-D) do not change the outline, except that
// mesh and polyface polylines are no outline at all and are refused.
#include <new>
#include <vector>

#include "model/dxf_import.h"
#include "model/polyline.h"

namespace {

constexpr std::int32_t kPolylineClosed = 1;
constexpr std::int32_t kPolyline3D = 8;
constexpr std::int32_t kPolygonMesh = 16;
constexpr std::int32_t kPolyfaceMesh = 64;
// VERTEX flag of the control points of a spline-fit polyline; the fitted
// vertices that follow them carry the curve.
constexpr std::int32_t kSplineFrameVertex = 16;

struct PendingVertex {
    CVertex v;
    bool hasX = false;
    bool hasY = false;
    [[nodiscard]] bool Complete() const { return hasX && hasY; }
};

// A width group: finite and not negative, else ignored.
void ReadWidth(const std::string& value, double& width)
{
    double w = 0;
    if (ParseDxfCoordinate(value, w) && w >= 0)
        width = w;
}

// Builds the ring from the collected vertices; mirrored in x when the
// extrusion points down. False (ring empty) below two vertices or without
// memory.
bool BuildRing(CPolyLine& polyline, const std::vector<CVertex>& vertices, bool mirrored)
{
    polyline.RemoveAllVertices();
    if (vertices.size() < 2)
        return false;
    for (const CVertex& read : vertices) {
        CVertex* v = new (std::nothrow) CVertex;
        if (v == nullptr) {
            polyline.RemoveAllVertices();
            return false;
        }
        v->x = mirrored ? -read.x : read.x;
        v->y = read.y;
        v->startWidth = read.startWidth;
        v->endWidth = read.endWidth;
        v->bulge = mirrored ? -read.bulge : read.bulge;
        polyline.AppendMerging(v);
    }
    polyline.Flatten(FLATTEN_STEP_HIT_TEST);
    polyline.m_Modified = true;
    return true;
}

}  // namespace

bool CPolyLine::ReadDXF(std::FILE* file, std::string* layerName)
{
    RemoveAllVertices();
    std::vector<CVertex> vertices;
    PendingVertex current;
    double constantWidth = -1, extrusionZ = 1;
    std::int32_t flags = 0;
    auto finishVertex = [&] {
        if (current.Complete())
            vertices.push_back(current.v);
        current = PendingVertex();
    };
    const bool complete = ReadDxfRecord(file, [&](const CDxfPair& pair) {
        switch (pair.code) {
        case 8:
            if (layerName)
                *layerName = DxfNameToUtf8(pair.value);
            break;
        case 10:
            if (current.Complete())
                finishVertex();
            current.hasX = ParseDxfCoordinate(pair.value, current.v.x);
            break;
        case 20:
            if (current.Complete())
                finishVertex();
            current.hasY = ParseDxfCoordinate(pair.value, current.v.y);
            break;
        case 40: ReadWidth(pair.value, current.v.startWidth); break;
        case 41: ReadWidth(pair.value, current.v.endWidth); break;
        case 42: (void)ParseDxfCoordinate(pair.value, current.v.bulge); break;
        case 43: ReadWidth(pair.value, constantWidth); break;
        case 62: m_Color = DxfEntityColor(pair.value); break;
        case 70: (void)ParseDxfInt(pair.value, flags); break;
        case 230: (void)ParseDxfCoordinate(pair.value, extrusionZ); break;
        default: break;
        }
        return true;
    });
    finishVertex();
    if (!complete)
        return false;
    if (constantWidth > 0)
        for (CVertex& v : vertices)
            v.startWidth = v.endWidth = constantWidth;
    m_Closed = (flags & kPolylineClosed) != 0;
    return BuildRing(*this, vertices, DxfExtrusionIsMirrored(extrusionZ));
}

bool CPolyLine::ReadDXFR10(std::FILE* file, std::string* layerName)
{
    RemoveAllVertices();
    std::vector<CVertex> vertices;
    PendingVertex current;
    std::int32_t flags = 0, vertexFlags = 0;
    double startWidth = 0, endWidth = 0, extrusionZ = 1;
    bool inVertex = false;
    auto finishVertex = [&] {
        if (inVertex && current.Complete() && (vertexFlags & kSplineFrameVertex) == 0)
            vertices.push_back(current.v);
        current = PendingVertex();
        current.v.startWidth = startWidth;
        current.v.endWidth = endWidth;
        vertexFlags = 0;
    };
    CDxfPair pair;
    for (;;) {
        const long start = std::ftell(file);
        if (ReadDxfPair(file, pair) != DxfPairStatus::kPair)
            return false;
        if (pair.code == 0) {
            finishVertex();
            if (DxfNameIs(pair.value, "SEQEND"))
                break;
            if (!DxfNameIs(pair.value, "VERTEX")) {
                // No SEQEND: leave the next entity to the caller.
                if (start >= 0)
                    (void)std::fseek(file, start, SEEK_SET);
                return false;
            }
            inVertex = true;
            continue;
        }
        switch (pair.code) {
        case 8:
            if (layerName)
                *layerName = DxfNameToUtf8(pair.value);
            break;
        case 10:
            if (inVertex)
                current.hasX = ParseDxfCoordinate(pair.value, current.v.x);
            break;
        case 20:
            if (inVertex)
                current.hasY = ParseDxfCoordinate(pair.value, current.v.y);
            break;
        case 40: ReadWidth(pair.value, inVertex ? current.v.startWidth : startWidth); break;
        case 41: ReadWidth(pair.value, inVertex ? current.v.endWidth : endWidth); break;
        case 42:
            if (inVertex)
                (void)ParseDxfCoordinate(pair.value, current.v.bulge);
            break;
        case 62:
            if (!inVertex)
                m_Color = DxfEntityColor(pair.value);
            break;
        case 70: (void)ParseDxfInt(pair.value, inVertex ? vertexFlags : flags); break;
        case 230:
            if (!inVertex)
                (void)ParseDxfCoordinate(pair.value, extrusionZ);
            break;
        default: break;
        }
        if (!inVertex) {
            // Header widths are the defaults of the vertices that follow.
            current.v.startWidth = startWidth;
            current.v.endWidth = endWidth;
        }
    }
    if (flags & (kPolygonMesh | kPolyfaceMesh)) {
        DxfWarning("Polygon mesh and polyface mesh polylines were passed over.");
        return false;
    }
    m_Closed = (flags & kPolylineClosed) != 0;
    // 3-D polylines hold world coordinates; 2-D ones lie in their own plane.
    const bool mirrored = (flags & kPolyline3D) == 0 && DxfExtrusionIsMirrored(extrusionZ);
    return BuildRing(*this, vertices, mirrored);
}
