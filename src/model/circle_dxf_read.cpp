// CCircle and CArc from DXF CIRCLE and ARC records.
//
// Centre and angles are in the entity's object coordinate system; for the
// planar drawings read here that is the world plane, or the world plane
// seen from below when the extrusion points down (a mirrored entity), in
// which case x and the sense of the angles are reversed.
#include "model/circle.h"
#include "model/constants.h"
#include "model/dxf_import.h"

namespace {

struct CircleRecord {
    double x = 0, y = 0, radius = 0, start = 0, end = 0, extrusionZ = 1;
    bool hasX = false, hasY = false, hasRadius = false, hasStart = false, hasEnd = false;
    std::int16_t color = ENTITY_COLOR_BY_LAYER;
};

// False when the record ended early or a code was malformed.
bool ReadCircleRecord(std::FILE* file, std::string* layerName, CircleRecord& r)
{
    return ReadDxfRecord(file, [&](const CDxfPair& pair) {
        switch (pair.code) {
        case 8:
            if (layerName)
                *layerName = DxfNameToUtf8(pair.value);
            break;
        case 10: r.hasX = ParseDxfCoordinate(pair.value, r.x); break;
        case 20: r.hasY = ParseDxfCoordinate(pair.value, r.y); break;
        case 40: r.hasRadius = ParseDxfCoordinate(pair.value, r.radius); break;
        case 50: r.hasStart = ParseDxfCoordinate(pair.value, r.start); break;
        case 51: r.hasEnd = ParseDxfCoordinate(pair.value, r.end); break;
        case 62: r.color = DxfEntityColor(pair.value); break;
        case 230: (void)ParseDxfCoordinate(pair.value, r.extrusionZ); break;
        default: break;
        }
        return true;
    });
}

bool IsUsableCircle(const CircleRecord& r) { return r.hasX && r.hasY && r.hasRadius && r.radius > 0; }

}  // namespace

bool CCircle::ReadDXF(std::FILE* file, std::string* layerName)
{
    CircleRecord r;
    if (!ReadCircleRecord(file, layerName, r) || !IsUsableCircle(r))
        return false;
    m_Centre = frDoublePoint(DxfExtrusionIsMirrored(r.extrusionZ) ? -r.x : r.x, r.y, 0);
    m_Radius = r.radius;
    m_Color = r.color;
    m_Modified = true;
    return true;
}

bool CArc::ReadDXF(std::FILE* file, std::string* layerName)
{
    CircleRecord r;
    if (!ReadCircleRecord(file, layerName, r) || !IsUsableCircle(r) || !r.hasStart || !r.hasEnd)
        return false;
    double start = r.start / 180.0 * PI, end = r.end / 180.0 * PI;
    double x = r.x;
    if (DxfExtrusionIsMirrored(r.extrusionZ)) {
        // Mirrored in x: the arc runs from the mirror of its end to the
        // mirror of its start.
        x = -x;
        const double mirroredStart = PI - end;
        end = PI - start;
        start = mirroredStart;
    }
    m_Centre = frDoublePoint(x, r.y, 0);
    m_Radius = r.radius;
    m_Color = r.color;
    SetStartAngle(start);
    SetEndAngle(end);
    m_Modified = true;
    return true;
}
