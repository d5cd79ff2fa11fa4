#pragma once
// Geometry shared by the entities, the device, object snap and the tracing
// kernels: tolerant comparisons, angles on [0, 2 PI], box tests, the
// quadratic solver, line and circle intersections, bulge arcs, snap segments
// and grip records.
//
// Only x and y take part; z is carried along where a point is copied. Angles
// are radians, counter-clockwise from the positive x axis, normalised with
// TWO_PI (the single-precision based value). Boxes exchanged with entities
// are extents records of four doubles {min x, max x, min y, max y}.
#include <cmath>
#include <cstdint>
#include <vector>

#include "model/constants.h"
#include "model/point.h"

// ---- tolerant comparisons -------------------------------------------------

bool IsNearlyEqual(double a, double b, double tolerance);
bool IsNearlyEqualCoarse(double a, double b);  // within COARSE_TOLERANCE
bool PointsNearlyEqual(const frDoublePoint& a, const frDoublePoint& b, double tolerance);
// The point lies in the segment's bounding box widened by COARSE_TOLERANCE.
bool PointInSegmentBox(const frDoublePoint& a, const frDoublePoint& b, const frDoublePoint& p);

// ---- angles ---------------------------------------------------------------

// Brings an angle into [0, TWO_PI]; exactly TWO_PI stays. Non-finite angles
// are returned unchanged.
double NormalizeAngle(double angle);
// Counter-clockwise sweep from one angle to another, in [0, TWO_PI].
double AngleSweep(double from, double to);
bool AnglesNearlyEqual(double a, double b, double tolerance);
// The angle lies on the counter-clockwise arc from start to end.
bool AngleInArc(double start, double end, double angle);
bool AngleInArcTol(double start, double end, double angle, double tolerance);
// Direction of p seen from the centre, as atan2 gives it.
double AngleAbout(const frDoublePoint& centre, const frDoublePoint& p);
// Degrees of an angle, as every file record and property row writes them.
inline double ToDegrees(double radians) { return radians / PI * 180.0; }

// ---- boxes and rings ------------------------------------------------------

// The segment crosses or touches the box given by its lower-left and
// upper-right corners.
bool SegmentCrossesRect(const frDoublePoint& p, const frDoublePoint& q, const frDoublePoint& boxMin,
                        const frDoublePoint& boxMax);
// Extents records {min x, max x, min y, max y}; touching boxes overlap. The
// out box (which may be a or b) receives the intersection on success.
bool BoxesOverlap(const double* a, const double* b, double* out);
// Unlinks the vertex from its ring and clears its links; returns the new head
// (the next vertex when the head itself goes), null when the ring is empty.
CVertex* RemoveVertexFromRing(CVertex* head, CVertex* vertex);

// ---- equations and intersections -----------------------------------------

// -1: no real root; 0: one double root (|D| <= POINT_TOLERANCE); 1: two roots.
int SolveQuadratic(double a, double b, double c, double* root1, double* root2);

// Crossing of a-b with c-d. Mode 0: infinite lines; 1: on the segment a-b;
// 2: on both segments. The out point (x and y) is written whenever the lines
// are not parallel, whatever the mode says about the parameters.
bool IntersectLines(const frDoublePoint& a, const frDoublePoint& b, const frDoublePoint& c, const frDoublePoint& d,
                    int mode, frDoublePoint* out);
// The line a-b touches the arc; out is the foot of the perpendicular.
bool LineTangentToArc(const frDoublePoint& a, const frDoublePoint& b, const frDoublePoint& centre, double radius,
                      double startAngle, double endAngle, frDoublePoint* out);
// Mode 0: full circle and infinite line; mode 1: arc and segment.
int IntersectLineArc(const frDoublePoint& centre, double startAngle, double endAngle, double radius,
                     const frDoublePoint& a, const frDoublePoint& b, int mode, frDoublePoint* out1,
                     frDoublePoint* out2);
// Mode 0: full circles; mode 1: arcs (counter-clockwise from start to end).
int IntersectArcs(const frDoublePoint& c1, double start1, double end1, double r1, const frDoublePoint& c2,
                  double start2, double end2, double r2, int mode, frDoublePoint* out1, frDoublePoint* out2);

// ---- bulge arcs -------------------------------------------------------------
//
// The segment that leaves a vertex is an arc when its bulge is at least
// POINT_TOLERANCE in size and its half chord is longer than POINT_TOLERANCE;
// a positive bulge turns counter-clockwise. Every caller builds the arc here.

[[nodiscard]] inline bool IsArcBulge(double bulge) { return std::fabs(bulge) >= POINT_TOLERANCE; }

// The arc of a bulge segment p -> q. Writes x and y of the centre and of the
// optional middle point.
bool ArcFromBulge(const frDoublePoint& p, const frDoublePoint& q, double bulge, frDoublePoint* centre,
                  double* radius = nullptr, frDoublePoint* middle = nullptr);
// The arc of the bulge segment from s to e: centre, radius, height (the
// sagitta) and the angles of s (start) and e (end) about the centre as atan2
// gives them. False for a straight segment.
struct CBulgeArc {
    frDoublePoint centre;
    double radius = 0;
    double height = 0;
    double startAngle = 0;
    double endAngle = 0;
};
[[nodiscard]] bool GetBulgeArc(const CVertex& s, const CVertex& e, double bulge, CBulgeArc* arc);
// The arc as the output records and the metafile write it: an arc no higher
// than POINT_TOLERANCE is written as its chord. Both angles are brought into
// [0, TWO_PI] (NormalizeAngle).
[[nodiscard]] bool GetWrittenBulgeArc(const CVertex& s, const CVertex& e, double bulge, CBulgeArc* arc);
// The angle an arc sweeps from start to end in the bulge's direction, never
// negative: for a positive bulge the end is raised by whole turns until it is
// not below the start, otherwise the start until it is not below the end.
[[nodiscard]] double BulgeArcSweep(double start, double end, double bulge);
// The same, negative for a clockwise arc.
[[nodiscard]] inline double SignedBulgeArcSweep(double start, double end, double bulge)
{
    const double sweep = BulgeArcSweep(start, end, bulge);
    return bulge > 0 ? sweep : -sweep;
}

// The arc from p1 through p2 to p3; the bulge is negative for a clockwise arc
// and 0 when p1 and p3 coincide.
bool BulgeFromThreePoints(const frDoublePoint& p1, const frDoublePoint& p2, const frDoublePoint& p3,
                          frDoublePoint* centre, double* radius = nullptr, double* bulge = nullptr);

// Arc flattening never makes more pieces than this, whatever chord is asked.
constexpr int MAX_ARC_PIECES = 4096;
// Angular step that cuts an arc of the given radius and sweep into chords of
// the given length (a negative chord -n asks for n pieces). The step is never
// below sweep / MAX_ARC_PIECES, so a zero or tiny chord cannot loop without
// end; a chord that reaches the diameter gives the whole sweep.
double ArcFlatteningStep(double radius, double sweep, double chord);

// ---- object snap ----------------------------------------------------------

// Snap modes: the drawing's object snap mask and the kind of a snap result.
enum SnapMode : std::int32_t {
    SNAP_END = 1,
    SNAP_MIDDLE = 2,
    SNAP_CENTRE = 4,
    SNAP_GRID = 8,
    SNAP_QUADRANT = 16,
    SNAP_INTERSECTION = 32,
    SNAP_PERPENDICULAR = 128,
    SNAP_TANGENT = 256,
    SNAP_NEAREST = 512,
};

// One line or arc that an entity offers to object snap. Arcs run
// counter-clockwise from start to end angle, the end not below the start.
struct CSnapSegment {
    enum Kind : std::int32_t { kNone = 0, kLine = 1, kArc = 2 };

    std::int32_t kind = kNone;
    std::int32_t modes = 0;  // SnapMode bits the segment offers
    frDoublePoint start;
    frDoublePoint end;
    frDoublePoint centre;
    double radius = 0;
    double startAngle = 0;
    double endAngle = 0;

    // The nearest candidate to the cursor among the requested modes; the
    // base point (or null) is where the rubber band starts. Returns the mode
    // bit of the chosen candidate, 0 when none (outputs then untouched).
    std::int32_t FindSnap(const frDoublePoint* base, const frDoublePoint& cursor, std::int32_t requested,
                          frDoublePoint* point, double* distance) const;
};

// Up to two crossing points of two snap segments.
int IntersectSnapSegments(const CSnapSegment& a, const CSnapSegment& b, frDoublePoint* out1, frDoublePoint* out2);

// ---- grip records ---------------------------------------------------------

class CSelectNode;

// One grip of a selected entity, in the drawing's singly linked grip list
// (newest first). The list's owner frees the records.
struct CGripRecord {
    double reserved[3] = {0, 0, 0};
    frDoublePoint point;
    CSelectNode* owner = nullptr;  // the selection node whose entity offered the grip
    std::int32_t index = 0;
    std::uint8_t hot = 0;
    std::uint8_t current = 0;
    CGripRecord* next = nullptr;
};

// Puts a new record at the head of the list; false when head is null or
// memory is short.
[[nodiscard]] bool AddGrip(const frDoublePoint& point, CSelectNode* owner, std::int32_t index, CGripRecord** head);
// Deletes the first run of records of that owner.
void RemoveGripRecords(const CSelectNode* owner, CGripRecord** head);
