#pragma once
// Points and vertices of the vector drawing, and the basic point geometry with
// the common tolerance (POINT_TOLERANCE).
#include <cmath>
#include <cstdint>

// Coordinates and lengths a drawing takes from any file: beyond this,
// arithmetic on them (areas, squared distances) would overflow.
constexpr double kMaxCoordinate = 1e12;
// Finite and within +-kMaxCoordinate.
[[nodiscard]] inline bool IsCoordinateInRange(double v) { return std::fabs(v) <= kMaxCoordinate; }

struct frDoublePoint {
    double x = 0;
    double y = 0;
    double z = 0;  // carried along, never used by the plane geometry

    frDoublePoint() = default;
    frDoublePoint(double px, double py, double pz = 0) : x(px), y(py), z(pz) {}
};

// One vertex of a ring. Rings are circular: a ring of one vertex points to
// itself both ways; the owner keeps the first vertex and the last is
// first->prev. Width and bulge describe the segment that leaves the vertex.
struct CVertex {
    double x = 0;
    double y = 0;
    double z = 0;
    double startWidth = 0;
    double endWidth = 0;
    std::int32_t flags = 0;
    double bulge = 0;
    std::uint16_t mark = 0;
    CVertex* source = nullptr;  // the vertex a flattened one was made from
    CVertex* next = nullptr;
    CVertex* prev = nullptr;

    CVertex() = default;
    CVertex(double px, double py, double startW, double endW, std::int32_t f)
        : x(px), y(py), startWidth(startW), endWidth(endW), flags(f)
    {}
    ~CVertex() { source = next = prev = nullptr; }
};

// 2-D distance; exactly 0 when both differences are strictly within the
// tolerance.
double PointDistance(const frDoublePoint* p, const frDoublePoint* q);
void PolarPoint(frDoublePoint centre, double angle, double radius, frDoublePoint* out);
// The same point as a value, z 0.
frDoublePoint PolarPoint(const frDoublePoint& centre, double angle, double radius);
// Rotates in place about the origin.
void RotatePoint(frDoublePoint* p, double angle);
// 1 when p lies left of a->b (y up), -1 right, 0 on the line within tolerance.
int GetPointSide(const frDoublePoint& p, const frDoublePoint& a, const frDoublePoint& b);
// Both differences within the tolerance, bounds included.
bool PointsEqual(const frDoublePoint& p, const frDoublePoint& q);
