#pragma once
// Angle adjustment: straight segments of traced polylines are turned to the
// main angles of an angle series.
//
// A segment whose direction (folded into [0, PI], so a segment and its
// reverse count alike) falls into an item's range takes the item's main
// angle; a segment already on a main angle is left as it is; any other
// segment has the corner it makes with the previous segment snapped
// instead. A segment turns by sliding its end points along the neighbouring
// segments, so the polyline stays connected. Arcs (|bulge| >= 1e-5) are
// never touched.
//
// The kernels take the series of the run's option snapshot; none reads the
// global options.
class CAngleSeries;
class CCommonThread;
class CInkGuard;
class CEntity;
class CLayer;
class CPolyLine;
class CTraceOption;
struct CVertex;

// Every straight segment of the polyline in ring order from the head (the
// closing segment last for a closed polyline).
void AdjustAngle(CPolyLine& polyline, const CAngleSeries& series);
// The entity operation for a run: only polylines act.
void AdjustAngle(CEntity& entity, const CAngleSeries& series);

// The same, kept on the ink: a segment whose turn would carry it or a
// segment beside it out of the guard's reach of the ink keeps its ends where
// they were (false when any segment was kept so).
bool AdjustAngle(CPolyLine& polyline, const CAngleSeries& series, const CInkGuard& guard);

// Snaps the corner between the segment that v begins and the previous one
// to a main angle of the series; nothing when either segment is an arc or
// v has no previous segment or begins none.
void AdjustVertexAngle(CPolyLine& polyline, CVertex* v, const CAngleSeries& series);

// Turns the segment that v begins to the angle (radians) about its midpoint,
// sliding v and its successor along their guides (the neighbouring segments,
// or perpendiculars at open ends). An end that would slide farther than
// kMaxSlide makes the segment turn about v instead.
void SetSegmentAngle(CPolyLine& polyline, CVertex* v, double angle);

// Farthest an end point may slide along its guide.
inline constexpr double kMaxSlide = 10.0;

// The layer command: AdjustAngle on every polyline with the series of the
// options' chart type, kept on the ink by the guard. Progress: share 100 / count per entity; the stop flag
// is tested after each entity (end code 10, false). True when it ran to the
// end.
[[nodiscard]] bool AdjustAngles(CLayer& layer, CCommonThread* sink, const CTraceOption& options,
                                const CInkGuard& guard);
