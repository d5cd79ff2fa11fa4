// CPolyLine geometry: flattening into the cached ring, length, extents,
// drawing and the crossing test. The arc of a bulge segment comes from
// GetBulgeArc (geometry.h).
#include <cmath>

#include "model/constants.h"
#include "model/device.h"
#include "model/geometry.h"
#include "model/polyline.h"

namespace {

frDoublePoint ToPoint(const CVertex& v) { return {v.x, v.y, v.z}; }

double HalfChord(const CVertex& s, const CVertex& e)
{
    const frDoublePoint a = ToPoint(s), b = ToPoint(e);
    return PointDistance(&a, &b) * 0.5;
}

// Two vertices at one place begin no segment worth a flat point.
bool RepeatsPoint(const CVertex& v, const CVertex& p)
{
    return std::fabs(v.x - p.x) < POINT_TOLERANCE && std::fabs(v.y - p.y) < POINT_TOLERANCE;
}

void WidenBox(double* box, bool& empty, double x, double y)
{
    if (empty) {
        box[EXT_MIN_X] = box[EXT_MAX_X] = x;
        box[EXT_MIN_Y] = box[EXT_MAX_Y] = y;
        empty = false;
        return;
    }
    if (x < box[EXT_MIN_X])
        box[EXT_MIN_X] = x;
    if (x > box[EXT_MAX_X])
        box[EXT_MAX_X] = x;
    if (y > box[EXT_MAX_Y])
        box[EXT_MAX_Y] = y;
    if (y < box[EXT_MIN_Y])
        box[EXT_MIN_Y] = y;
}

// Widens the box by the axis extremes that the counter-clockwise arc from
// `from` to `to` passes; its end points are the caller's.
void WidenByArcQuadrants(double* box, bool& empty, const frDoublePoint& centre, double r, double from, double to)
{
    static constexpr double kQuadrant[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    from = NormalizeAngle(from);
    to = NormalizeAngle(to);
    if (to < from)
        to += TWO_PI;
    for (int i = 0; i < 4; ++i) {
        double q = i * HALF_PI;
        if (q < from)
            q += TWO_PI;
        if (q < to)
            WidenBox(box, empty, centre.x + r * kQuadrant[i][0], centre.y + r * kQuadrant[i][1]);
    }
}

}  // namespace

double BulgeSegmentLength(const CVertex& s, const CVertex& e, double bulge)
{
    CBulgeArc arc;
    if (!IsArcBulge(bulge) || !GetBulgeArc(s, e, bulge, &arc))
        return HalfChord(s, e) * 2;
    return arc.radius * BulgeArcSweep(arc.startAngle, arc.endAngle, bulge);
}

// ---- flattening -----------------------------------------------------------

void CPolyLine::Flatten(double step)
{
    ClearFlatList();
    m_FlatStep = step;
    if (m_Head == nullptr)
        return;
    CVertex* v = m_Head;
    do {
        CVertex* p = v->prev;
        if (!m_Closed && v == m_Head) {
            // The head of an open polyline has no segment leading to it.
            if (CVertex* f = AddFlatPoint(v->x, v->y, v->startWidth))
                f->source = v;
        } else if (!RepeatsPoint(*v, *p)) {
            if (IsArcBulge(p->bulge)) {
                FlattenArc(v);
            } else if (CVertex* f = AddFlatPoint(v->x, v->y, v->startWidth)) {
                f->source = v;
            }
        }
        v = v->next;
    } while (v != m_Head);
}

void CPolyLine::FlattenArc(CVertex* v)
{
    if (v == nullptr)
        return;
    CVertex* p = v->prev;
    if (HalfChord(*p, *v) < POINT_TOLERANCE)
        return;
    const double step = m_FlatStep;

    CBulgeArc arc;
    // When the chord reaches the diameter, or the arc cannot be computed
    // (a damaged bulge), the end point alone stands for the arc. It begins
    // the next segment, so it carries that segment's width.
    if (!GetBulgeArc(*p, *v, p->bulge, &arc) || 2 * arc.radius - POINT_TOLERANCE <= step) {
        if (CVertex* f = AddFlatPoint(v->x, v->y, v->startWidth))
            f->source = v;
        return;
    }
    const double r = arc.radius;
    const bool ccw = p->bulge > 0;
    double a1 = NormalizeAngle(arc.startAngle);
    const double a2 = NormalizeAngle(arc.endAngle);
    if (ccw) {
        while (a1 > a2)
            a1 -= TWO_PI;
    } else {
        while (a1 < a2)
            a1 += TWO_PI;
    }
    const double delta = ArcFlatteningStep(r, std::fabs(a2 - a1), step);

    // Inner points strictly inside the sweep; the step is never below
    // sweep / MAX_ARC_PIECES, and the count is capped besides.
    for (int k = 1; k <= MAX_ARC_PIECES; ++k) {
        const double angle = ccw ? a1 + k * delta : a1 - k * delta;
        if (ccw ? !(angle < a2 - POINT_TOLERANCE) : !(angle > a2 + POINT_TOLERANCE))
            break;
        CVertex* f =
            AddFlatPoint(arc.centre.x + r * std::cos(angle), arc.centre.y + r * std::sin(angle), p->startWidth);
        if (f == nullptr)
            return;
        f->source = p;
    }
    // The end vertex itself: recomputing it from an angle normalised with
    // the single-precision TWO_PI would move it by up to 2e-7 radius.
    if (CVertex* f = AddFlatPoint(v->x, v->y, v->startWidth))
        f->source = v;
}

CVertex* CPolyLine::GetFlatList(const CFrDevice* device, bool force)
{
    if (IsDegenerate())
        return nullptr;
    if (m_AllStraight)
        return m_Head;
    const double t = device ? device->GetFlattenStep() : FLATTEN_STEP_NO_DEVICE;
    const double s = m_FlatStep;
    // A ring made with a chord up to five times finer than asked still looks
    // right; piece counts (negative steps) are never reused.
    if (!force && !m_Modified && m_FlatHead && POINT_TOLERANCE <= s && 0.2 * t <= s && s <= t)
        return m_FlatHead;
    Flatten(t);
    m_Modified = false;
    return m_FlatHead;
}

// ---- length and extents ---------------------------------------------------

double CPolyLine::GetLength()
{
    double length = 0.0;
    if (m_Head) {
        const CVertex* v = m_Head;
        do {
            if (m_Closed || v->next != m_Head)
                length += BulgeSegmentLength(*v, *v->next, v->bulge);
            v = v->next;
        } while (v != m_Head);
    }
    m_Length = length;
    return length;
}

bool CPolyLine::GetExtents(double* merge, double* box)
{
    if (m_Head == nullptr)
        return false;
    // Computed from the vertices and the arcs themselves: a cached flattened
    // ring may be stale or missing, and its chords cut inside the arcs.
    double result[4];
    bool empty = true;
    const CVertex* v = m_Head;
    do {
        WidenBox(result, empty, v->x, v->y);
        CBulgeArc arc;
        if ((m_Closed || v->next != m_Head) && IsArcBulge(v->bulge) && GetBulgeArc(*v, *v->next, v->bulge, &arc)) {
            if (v->bulge > 0)
                WidenByArcQuadrants(result, empty, arc.centre, arc.radius, arc.startAngle, arc.endAngle);
            else
                WidenByArcQuadrants(result, empty, arc.centre, arc.radius, arc.endAngle, arc.startAngle);
        }
        v = v->next;
    } while (v != m_Head);
    for (int i = 0; i < 4; ++i)
        box[i] = result[i];
    if (merge)
        MergeExtents(merge, box);
    return true;
}

// ---- drawing and hit tests ------------------------------------------------

void CPolyLine::Draw(CFrDevice* device)
{
    if (device == nullptr || IsDegenerate())
        return;
    const CVertex* ring = GetFlatList(device, false);
    if (ring == nullptr)
        return;
    const int color = GetDrawColorIndex();
    m_Drawn =
        m_Closed ? device->DrawClosedPolyline(ring, color, m_Selected) : device->DrawPolyline(ring, color, m_Selected);
}

bool CPolyLine::IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax)
{
    if (!m_Drawn || IsDegenerate())
        return false;
    if (InsideRect(boxMin, boxMax))
        return true;
    if (m_Extents[EXT_MAX_X] < boxMin.x || m_Extents[EXT_MAX_Y] < boxMin.y || m_Extents[EXT_MIN_X] > boxMax.x ||
        m_Extents[EXT_MIN_Y] > boxMax.y)
        return false;

    const CVertex* ring = m_Head;
    if (!m_AllStraight) {
        // A stale ring would test the old shape. The modified flag stays, so
        // the next draw still builds its own ring.
        if (m_FlatHead == nullptr || m_Modified)
            Flatten(FLATTEN_STEP_HIT_TEST);
        ring = m_FlatHead;
    }
    if (ring == nullptr)
        return false;
    const CVertex* v = ring;
    while (v->next != ring) {
        if (SegmentCrossesRect(ToPoint(*v), ToPoint(*v->next), boxMin, boxMax))
            return true;
        v = v->next;
    }
    return m_Closed && SegmentCrossesRect(ToPoint(*v), ToPoint(*ring), boxMin, boxMax);
}
