// Angle adjustment of traced polylines to an angle series.
//
// Works on the vertex ring of a polyline: vertex v begins the segment
// v -> v->next; an open polyline has no segment from its tail back to its
// head. Only vertex positions change; the ring keeps its vertices.
#include "trace/angle_adjust.h"

#include <cmath>
#include <span>

#include "model/constants.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "trace/common_thread.h"
#include "trace/entity_batches.h"
#include "trace/ink_guard.h"
#include "trace/post_process.h"
#include "trace/series.h"
#include "trace/trace_option.h"

namespace {

// The second point of a line through a point at an angle.
constexpr double kLineReach = 10000.0;

bool IsStraight(const CVertex* v) { return std::fabs(v->bulge) < POINT_TOLERANCE; }

frDoublePoint At(const CVertex* v) { return {v->x, v->y}; }

double Distance(const frDoublePoint& a, const frDoublePoint& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// A direction already on a main angle needs no turn. The series' own lookup
// reports such an angle as "not found", which must not send the segment on
// to the corner snapping.
bool IsOnMainAngle(const CAngleSeries& series, double a)
{
    for (const auto* node = series.Items.GetHead(); node; node = node->next) {
        const CAngleItem& item = node->value;
        if (item.MinAngle <= a && a <= item.MaxAngle && std::fabs(item.MainAngle - a) <= POINT_TOLERANCE)
            return true;
    }
    return false;
}

void AdjustSegment(CPolyLine& polyline, CVertex* v, const CAngleSeries& series)
{
    if (!IsStraight(v))
        return;
    const CVertex* n = v->next;
    double a = std::atan2(n->y - v->y, n->x - v->x);
    if (a < 0)
        a += PI;
    if (IsOnMainAngle(series, a))
        return;
    if (series.FindMainAngle(a))
        SetSegmentAngle(polyline, v, a);
    else
        AdjustVertexAngle(polyline, v, series);
}

void MoveVertex(CPolyLine& polyline, CVertex* v, const frDoublePoint& to)
{
    v->x = to.x;
    v->y = to.y;
    polyline.m_Modified = true;
}

// Moves n onto the line a-b: where it crosses n's guide when that is near,
// else where it crosses the perpendicular through n's old position.
bool PlaceEnd(CPolyLine& polyline, CVertex* n, const frDoublePoint& a, const frDoublePoint& b,
              const frDoublePoint& guideA, const frDoublePoint& guideB, const frDoublePoint& perpendicular)
{
    frDoublePoint cross;
    if (!IntersectLines(a, b, guideA, guideB, 0, &cross))
        return false;
    if (Distance(cross, At(n)) <= kMaxSlide) {
        MoveVertex(polyline, n, cross);
        return true;
    }
    if (IntersectLines(a, b, At(n), perpendicular, 0, &cross))
        MoveVertex(polyline, n, cross);
    return true;
}

}  // namespace

void AdjustAngle(CPolyLine& polyline, const CAngleSeries& series)
{
    CVertex* head = polyline.GetHead();
    if (head == nullptr || head->next == head)
        return;
    CVertex* tail = head->prev;
    for (CVertex* v = head; v != tail; v = v->next)
        AdjustSegment(polyline, v, series);
    if (polyline.m_Closed)
        AdjustSegment(polyline, tail, series);
}

void AdjustAngle(CEntity& entity, const CAngleSeries& series)
{
    if (entity.m_Type == ENTITY_POLYLINE)
        AdjustAngle(static_cast<CPolyLine&>(entity), series);
}

bool AdjustAngle(CPolyLine& polyline, const CAngleSeries& series, const CInkGuard& guard)
{
    CVertex* head = polyline.GetHead();
    if (!guard.IsActive() || head == nullptr || head->next == head) {
        AdjustAngle(polyline, series);
        return true;
    }
    CVertex* tail = head->prev;
    const bool closed = polyline.m_Closed;
    // A segment turns by moving its two ends, which moves the segments
    // beside it as well; when any of the three would leave the ink, both
    // ends go back.
    auto segmentHolds = [&](const CVertex* begin) {
        return (!closed && begin == tail) || guard.IsSegmentNearInk(*begin);
    };
    bool kept = true;
    auto adjust = [&](CVertex* v) {
        CVertex* n = v->next;
        const frDoublePoint vAt = At(v), nAt = At(n);
        const bool modified = polyline.m_Modified;
        AdjustSegment(polyline, v, series);
        if (vAt.x == v->x && vAt.y == v->y && nAt.x == n->x && nAt.y == n->y)
            return;
        if (((!closed && v == head) || segmentHolds(v->prev)) && segmentHolds(v) && segmentHolds(n))
            return;
        MoveVertex(polyline, v, vAt);
        MoveVertex(polyline, n, nAt);
        polyline.m_Modified = modified;
        kept = false;
    };
    for (CVertex* v = head; v != tail; v = v->next)
        adjust(v);
    if (closed)
        adjust(tail);
    return kept;
}

void AdjustVertexAngle(CPolyLine& polyline, CVertex* v, const CAngleSeries& series)
{
    CVertex* head = polyline.GetHead();
    if (v == nullptr || head == nullptr)
        return;
    if (!polyline.m_Closed && (v == head || v == head->prev))
        return;
    const CVertex* p = v->prev;
    const CVertex* n = v->next;
    if (!IsStraight(p) || !IsStraight(v))
        return;
    double m = VectorAngle({v->x - p->x, v->y - p->y}, {n->x - v->x, n->y - v->y});
    if (!series.FindMainAngle(m))
        return;
    const double d = std::atan2(v->y - p->y, v->x - p->x);
    SetSegmentAngle(polyline, v, GetPointSide(At(n), At(p), At(v)) == 1 ? d + m : d - m);
}

void SetSegmentAngle(CPolyLine& polyline, CVertex* v, double angle)
{
    CVertex* head = polyline.GetHead();
    if (v == nullptr || head == nullptr || v->next == v)
        return;
    CVertex* n = v->next;
    const CVertex* p = v->prev;
    const CVertex* q = n->next;
    const double dx = n->x - v->x;
    const double dy = n->y - v->y;
    if (std::fabs(dx) < POINT_TOLERANCE && std::fabs(dy) < POINT_TOLERANCE)
        return;
    const bool open = !polyline.m_Closed;
    auto perpendicular = [dx, dy](const CVertex* at) { return frDoublePoint(at->x - dy, at->y + dx); };

    // Each end slides along its neighbouring segment; an open end, or a
    // neighbour in line with the segment, gives no usable guide, so the end
    // slides across the segment instead.
    const frDoublePoint vPos = At(v);
    const frDoublePoint nPos = At(n);
    const frDoublePoint nPerpendicular = perpendicular(n);
    frDoublePoint guideNA = nPos;
    frDoublePoint guideNB = (open && n == head->prev) || GetPointSide(At(q), vPos, nPos) == 0 ? nPerpendicular : At(q);
    frDoublePoint guideVA = (open && v == head) || GetPointSide(At(p), vPos, nPos) == 0 ? perpendicular(v) : At(p);
    frDoublePoint guideVB = vPos;

    const frDoublePoint reach(kLineReach * std::cos(angle), kLineReach * std::sin(angle));
    const frDoublePoint mid((v->x + n->x) / 2, (v->y + n->y) / 2);
    const frDoublePoint midFar(mid.x + reach.x, mid.y + reach.y);

    frDoublePoint cross;
    if (IntersectLines(mid, midFar, guideVA, guideVB, 0, &cross)) {
        if (Distance(cross, vPos) > kMaxSlide) {
            // Too far along the guide: keep v and turn about it.
            const frDoublePoint vFar(vPos.x + reach.x, vPos.y + reach.y);
            PlaceEnd(polyline, n, vPos, vFar, guideNA, guideNB, nPerpendicular);
            return;
        }
        MoveVertex(polyline, v, cross);
    }
    PlaceEnd(polyline, n, mid, midFar, guideNA, guideNB, nPerpendicular);
}

bool AdjustAngles(CLayer& layer, CCommonThread* sink, const CTraceOption& options, const CInkGuard& guard)
{
    CStepProgress step(sink, "ProcessAdjustAngle", "Adjust angle");
    step.SetRange(0, 100, layer.CountEntities());
    const CAngleSeries& series = options.ChartType.AngleSeries;
    if (!step.Poll())
        return false;
    // Each polyline moves only its own vertices: a batch runs on the pool.
    const BatchResult result = ForEachEntityBatch(
        layer,
        [&](std::size_t, CEntity& e) {
            if (e.m_Type == ENTITY_POLYLINE)
                (void)AdjustAngle(static_cast<CPolyLine&>(e), series, guard);
        },
        [&](std::span<CEntity* const> batch) { return AdvanceOverBatch(step, batch.size()); });
    if (result == BatchResult::kNoMemory)
        step.Fail(RUN_NO_MEMORY);
    if (result != BatchResult::kDone)
        return false;
    step.End();
    return true;
}
