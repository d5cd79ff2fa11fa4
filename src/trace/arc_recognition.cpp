// Circle and arc recognition on traced polylines, polygon-set outlines and
// whole layers, and the rejoining of arcs that one circle was split into.
//
// A polyline's vertex ring is the data: x, y, start width and bulge per
// vertex. Fitting only reads it; the run search marks vertices visited; a
// recognised run keeps its first and last vertex, the first taking the
// run's bulge and mean width. Angles use the single-precision PI family.
#include "trace/arc_recognition.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/layer.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "trace/common_thread.h"
#include "trace/entity_batches.h"
#include "trace/ink_guard.h"
#include "trace/post_process.h"
#include "trace/straighten.h"
#include "trace/trace_option.h"

namespace {

// Fitting thresholds, tuned against traced rasters.
constexpr double kMinRadius = 2.5;
constexpr double kMaxRadiusDeviation = 0.0618;  // of the radius, at the sample vertices
constexpr double kLongStepFactor = 1.55;        // of the chord whose sagitta is the tolerance
constexpr double kShortStepFactor = 0.3;
constexpr double kBisectorLength = 10.0;
constexpr double kAngleSlack = 1e-8;
// 355/360 as the single-precision value the decision was made with.
constexpr double kFullCircleShare = static_cast<double>(0.9861111f);
// Rejoined arcs whose merged angles agree this closely form a circle.
constexpr double kClosedSweep = 1e-10;
// Against the raster, a fitted curve may stand off its ink by the distance
// tolerance, but never by less than this: a point on a stroke's centre line
// can lie this far from the nearest pixel centre.
constexpr double kMinInkReach = 1.0;
// A point of a border between ink and paper lies within this of the centre
// of an ink pixel: half a pixel's diagonal, at the pixel's corner.
constexpr double kBorderToInk = 0.7072;

double Distance(double x1, double y1, double x2, double y2) { return std::hypot(x2 - x1, y2 - y1); }

// Into [0, TWO_PI).
double AngleInTurn(double angle)
{
    angle = std::fmod(angle, TWO_PI);
    if (angle < 0)
        angle += TWO_PI;
    if (angle >= TWO_PI)
        angle -= TWO_PI;
    return angle;
}

double AngleAbout(const frDoublePoint& centre, const CVertex& v)
{
    return AngleInTurn(std::atan2(v.y - centre.y, v.x - centre.x));
}

// Every point of the circle from angle `from` to `to` (radians, either way
// round) after the first lies within reach of the ink, sampled at most
// kInkStep apart.
bool ArcOnInk(const CInkGuard& ink, const frDoublePoint& centre, double r, double from, double to, double reach)
{
    const int samples = std::max(1, static_cast<int>(std::ceil(std::fabs(to - from) * r / kInkStep)));
    for (int k = 1; k <= samples; ++k) {
        const double a = from + (to - from) * k / samples;
        if (!ink.IsNearInk({centre.x + r * std::cos(a), centre.y + r * std::sin(a)}, reach))
            return false;
    }
    return true;
}

// How far a fitted curve may stand off its ink: the tolerance holds from
// the stroke's middle, and the ink begins half the stroke's width from it.
double InkReach(double maxDis, double width) { return std::max(maxDis - 0.5 * width, kMinInkReach); }

// Which side of a circle fitted to a whole border ring its ink lies on: 1
// outside (a hole), -1 inside, 0 when the ring's vertices do not tell. Each
// vertex lies on the border, with ink on one side of it and paper on the
// other: the pixel just outside it along the radius votes. The side
// matters: the circle through the corners of a thin square's hole crosses
// the stroke and stands beyond it, near ink, but on the wrong side.
int BorderInkSide(const CInkGuard& ink, const frDoublePoint& centre, const CVertex* ring)
{
    int votes = 0;
    const CVertex* v = ring;
    do {
        const double dx = v->x - centre.x, dy = v->y - centre.y;
        const double length = std::hypot(dx, dy);
        if (length > 0)
            votes += ink.IsOnInk({v->x + kBorderToInk * dx / length, v->y + kBorderToInk * dy / length}) ? 1 : -1;
        v = v->next;
    } while (v != ring);
    return (votes > 0) - (votes < 0);
}

const CVertex* Advance(const CVertex* v, int steps)
{
    while (steps-- > 0)
        v = v->next;
    return v;
}

// The perpendicular bisector of a chord as two points of it.
void Bisector(const CVertex& a, const CVertex& b, frDoublePoint* p, frDoublePoint* q)
{
    *p = frDoublePoint((a.x + b.x) * 0.5, (a.y + b.y) * 0.5);
    const double angle = std::atan2(b.y - a.y, b.x - a.x) + HALF_PI;
    *q = frDoublePoint(p->x + kBisectorLength * std::cos(angle), p->y + kBisectorLength * std::sin(angle));
}

// Vertices from first to last inclusive (the whole ring once when they are
// the same vertex); 0 when the run passes the end of an open polyline or
// last is not met.
int CountRun(const CPolyLine& polyline, const CVertex* first, const CVertex* last)
{
    const CVertex* tail = polyline.GetTail();
    int steps = 0;
    const CVertex* v = first;
    do {
        if (!polyline.m_Closed && v == tail)
            return 0;
        v = v->next;
        ++steps;
        if (v == first && v != last)
            return 0;
    } while (v != last);
    return first == last ? steps : steps + 1;
}

// Centre and radius from three chords of the run; false when the bisectors
// do not meet or the sample vertices do not lie on one admissible circle.
bool EstimateCircle(const CVertex* first, const CVertex* last, int count, double maxRadius, frDoublePoint* centre,
                    double* radius)
{
    const int k = count / 3;
    const CVertex* q1 = Advance(first, k);
    const CVertex* q2 = Advance(q1, k);
    frDoublePoint b[3][2];
    Bisector(*first, *q1, &b[0][0], &b[0][1]);
    Bisector(*q1, *q2, &b[1][0], &b[1][1]);
    Bisector(*q2, *last, &b[2][0], &b[2][1]);
    frDoublePoint meet[3];
    if (!IntersectLines(b[0][0], b[0][1], b[1][0], b[1][1], 0, &meet[0]) ||
        !IntersectLines(b[0][0], b[0][1], b[2][0], b[2][1], 0, &meet[1]) ||
        !IntersectLines(b[1][0], b[1][1], b[2][0], b[2][1], 0, &meet[2]))
        return false;
    const frDoublePoint c((meet[0].x + meet[1].x + meet[2].x) / 3, (meet[0].y + meet[1].y + meet[2].y) / 3);

    const CVertex* samples[4] = {first, q1, q2, last};
    const int sampleCount = first == last ? 3 : 4;
    double distances[4];
    double sum = 0;
    for (int i = 0; i < sampleCount; ++i) {
        distances[i] = Distance(c.x, c.y, samples[i]->x, samples[i]->y);
        sum += distances[i];
    }
    const double r = sum / sampleCount;
    if (!(r >= kMinRadius && r <= maxRadius))
        return false;
    for (int i = 0; i < sampleCount; ++i)
        if (!(std::fabs(distances[i] - r) <= kMaxRadiusDeviation * r))
            return false;
    *centre = c;
    *radius = r;
    return true;
}

// The mean start width of the vertices from first to last, inclusive or
// not; first == last covers the whole ring.
double MeanStartWidth(const CVertex* first, const CVertex* last, bool includeLast)
{
    double sum = 0;
    int count = 0;
    const CVertex* v = first;
    do {
        sum += v->startWidth;
        ++count;
        v = v->next;
    } while (v != last);
    if (includeLast && first != last) {
        sum += last->startWidth;
        ++count;
    }
    return sum / count;
}

// The all-straight flag is the polyline's own; moving the ring out and back
// makes the polyline look at every bulge again.
void RecountArcFlag(CPolyLine& polyline)
{
    const bool closed = polyline.m_Closed;
    CPolyLine carrier;
    carrier.SpliceRing(polyline);
    polyline.SpliceRing(carrier);
    polyline.m_Closed = closed;
}

void LinkAfter(CVertex* v, CVertex* added)
{
    added->prev = v;
    added->next = v->next;
    v->next->prev = added;
    v->next = added;
}

// A curve that recognition puts on the layer. It is made once recognition
// of the polyline is over, in the order found: an entity's id is taken when
// it is made, and polylines may be recognised on several threads.
struct CCurveFound {
    frDoublePoint centre;
    double radius = 0;
    double start = 0, end = 0;
    double width = 0;
    bool circle = true;
};
using CCurveList = std::vector<CCurveFound>;

// What recognising one polyline leaves to be done in layer order: its
// curves to make, the arc flag to recount (a scratch polyline, which takes
// an id like every entity) and the flattening, in that order.
struct CRecognized {
    CCurveList curves;
    bool recount = false;
    bool flatten = false;
};

// Makes the curves and puts each at the front of the layer, in order; false
// when memory ran out.
bool AddCurvesToLayer(CLayer& layer, const CCurveList& curves)
{
    for (const CCurveFound& found : curves) {
        std::unique_ptr<CCircle> curve =
            found.circle ? NewCircle(found.centre, found.radius)
                         : std::unique_ptr<CCircle>(NewArc(found.centre, found.radius, found.start, found.end));
        if (!curve)
            return false;
        curve->SetWidth(found.width);
        layer.AddEntityFront(curve.release());
    }
    return true;
}

// An open layer polyline that is one curve as a whole.
int ReplaceOpenPolyline(CPolyLine& polyline, const CCircleFit& fit, CCurveList& curves)
{
    const double width = MeanStartWidth(polyline.GetHead(), polyline.GetTail(), false);
    double start = AngleInTurn(fit.startAngle);
    double end = AngleInTurn(fit.endAngle);
    if (fit.direction < 0)
        std::swap(start, end);
    if (start >= end)
        end += TWO_PI;
    if (end - start > kFullCircleShare * TWO_PI)
        curves.push_back({fit.centre, fit.radius, 0, 0, width, true});
    else
        curves.push_back({fit.centre, fit.radius, start, end, width, false});
    polyline.RemoveAllVertices();
    polyline.m_Modified = true;
    return RECOGNIZE_DONE;
}

// A whole outline rebuilt as two half circles turning by the sign of mode.
int RebuildAsHalfCircles(CPolyLine& polyline, const CCircleFit& fit, int mode, double width)
{
    std::unique_ptr<CVertex> left(new (std::nothrow) CVertex(fit.centre.x - fit.radius, fit.centre.y, width, 0, 0));
    std::unique_ptr<CVertex> right(new (std::nothrow) CVertex(fit.centre.x + fit.radius, fit.centre.y, width, 0, 0));
    if (!left || !right)
        return RECOGNIZE_NO_MEMORY;
    left->bulge = right->bulge = mode;
    polyline.RemoveAllVertices();
    polyline.AddVertex(left.release(), true);
    polyline.AddVertex(right.release(), true);
    polyline.m_Modified = true;
    return RECOGNIZE_DONE;
}

// The vertices strictly between first and last go; a run all round the
// ring (first == last) keeps first alone.
void CollapseRun(CPolyLine& polyline, CVertex* first, CVertex* last)
{
    if (first != last) {
        CollapseStraightRun(polyline, first, last);
        return;
    }
    while (first->next != first)
        polyline.RemoveVertex(first->next);
}

// Recognition outcome of one run from v to e inside a ring.
enum class RunResult { kArc, kDone, kNoMemory };

// A run whose ends coincide: a circle on the layer for a layer polyline,
// else two half circles through v and the point opposite it, so that the
// outline keeps its course and no bulge is computed from a null chord.
RunResult CloseRun(CPolyLine& polyline, CVertex* v, CVertex* e, const CCircleFit& fit, int mode, double width,
                   CCurveList& curves)
{
    if (mode == RECOGNIZE_LAYER_POLYLINE) {
        curves.push_back({fit.centre, fit.radius, 0, 0, width, true});
        CollapseRun(polyline, v, e);
        return RunResult::kDone;
    }
    if (v == e) {
        return RebuildAsHalfCircles(polyline, fit, mode, width) == RECOGNIZE_DONE ? RunResult::kDone
                                                                                  : RunResult::kNoMemory;
    }
    std::unique_ptr<CVertex> opposite(new (std::nothrow)
                                          CVertex(2 * fit.centre.x - v->x, 2 * fit.centre.y - v->y, width, 0, 0));
    if (!opposite)
        return RunResult::kNoMemory;
    CollapseRun(polyline, v, e);
    opposite->bulge = fit.direction;
    opposite->mark = 1;
    LinkAfter(v, opposite.release());
    polyline.ClearFlatList();
    v->bulge = fit.direction;
    v->startWidth = width;
    return RunResult::kArc;
}

// The run from v to e becomes v's bulge segment.
RunResult RecognizeRun(CPolyLine& polyline, CVertex* v, CVertex* e, const CCircleFit& fit, int mode, CCurveList& curves)
{
    const double width = MeanStartWidth(v, e, true);
    if (e == v || Distance(v->x, v->y, e->x, e->y) <= POINT_TOLERANCE)
        return CloseRun(polyline, v, e, fit, mode, width, curves);

    CollapseRun(polyline, v, e);
    double end = fit.endAngle;
    if (fit.direction > 0) {
        while (end < fit.startAngle)
            end += TWO_PI;
    } else {
        while (end > fit.startAngle)
            end -= TWO_PI;
    }
    const double mid = (fit.startAngle + end) * 0.5;
    const double mx = fit.centre.x + fit.radius * std::cos(mid);
    const double my = fit.centre.y + fit.radius * std::sin(mid);
    const double hx = (v->x + e->x) * 0.5, hy = (v->y + e->y) * 0.5;
    const double bulge = 2 * Distance(mx, my, hx, hy) / Distance(v->x, v->y, e->x, e->y);
    v->bulge = fit.direction < 0 ? -bulge : bulge;
    v->startWidth = width;
    return RunResult::kArc;
}

// A polyline that is not one curve as a whole: every circular run of its
// ring, from a start that splits none.
int RecognizeRuns(CPolyLine& polyline, int mode, const CCircleFitLimits& limits, CRecognized& found)
{
    CVertex* v = nullptr;
    if (!FindCircleStart(polyline, limits, &v))
        return RECOGNIZE_DONE;
    CVertex* ring = polyline.GetHead();
    CVertex* w = ring;
    do {
        w->mark = 0;
        w = w->next;
    } while (w != ring);

    bool arcs = false;
    CCircleFit fit;
    while (v != nullptr && v->mark == 0) {
        v->mark = 1;
        CVertex* e = FindCircularRun(polyline, v, limits, &fit);
        if (e == nullptr) {
            v = v->next;
            continue;
        }
        const bool wholeRing = e == v;
        const RunResult result = RecognizeRun(polyline, v, e, fit, mode, found.curves);
        if (result == RunResult::kNoMemory)
            return RECOGNIZE_NO_MEMORY;
        polyline.m_Modified = true;
        if (result == RunResult::kArc)
            arcs = true;
        // A whole ring rebuilt as two half circles has no vertex left to walk.
        if (wholeRing && mode != RECOGNIZE_LAYER_POLYLINE)
            break;
        v = e;
    }
    found.recount = arcs;
    return RECOGNIZE_DONE;
}

// Whether FindCircularRun would find a run from v: only its first fit counts.
bool RunStartsAt(const CPolyLine& polyline, const CVertex* v, const CCircleFitLimits& limits)
{
    const CVertex* e = Advance(v, 3);
    if (v->next == v || v->next->next == v || e == v)
        return false;
    CCircleFit fit;
    return FitCircleToRun(polyline, v, e, limits, &fit);
}

}  // namespace

// ---- fitting --------------------------------------------------------------

bool FitCircleToRun(const CPolyLine& polyline, const CVertex* first, const CVertex* last,
                    const CCircleFitLimits& limits, CCircleFit* fit)
{
    if (first == nullptr || last == nullptr || polyline.GetHead() == nullptr)
        return false;
    const int count = CountRun(polyline, first, last);
    if (count < 4)
        return false;

    frDoublePoint centre;
    double r = 0;
    if (!EstimateCircle(first, last, count, limits.maxRadius, &centre, &r))
        return false;

    // Step limits: no step may be much longer than the chord whose sagitta
    // is the tolerance (else the run may cut a corner) nor much shorter.
    const double d = limits.maxDis;
    const double h = d * (2 * r - d);
    if (!(h >= 1e-30))
        return false;
    const double chord = 2 * std::sqrt(h);
    const double longStep = std::min(kLongStepFactor * chord, 2 * r);
    // Checked against the ink, a short step (where a ring was closed, or a
    // vertex simplification kept) does no harm; without it, it may be noise.
    const double shortStep = limits.ink && limits.ink->IsActive() ? 0 : kShortStepFactor * chord;
    const double maxAngle = 2 * std::asin(std::min(longStep / (2 * r), 1.0));
    const double minAngle = 2 * std::asin(std::min(shortStep / (2 * r), 1.0));

    auto onCircle = [&](const CVertex& v) {
        const double tolerance = std::max(d, v.startWidth * 0.5);
        return std::fabs(Distance(centre.x, centre.y, v.x, v.y) - r) <= tolerance;
    };
    if (!onCircle(*first))
        return false;
    const double start = AngleAbout(centre, *first);
    double previous = start;
    int direction = 0;
    // The corners of a regular polygon lie on a circle too: its sides must
    // hold to the circle as well. With the raster, the circle between two
    // vertices must keep to their ink (simplification leaves chords that bow
    // off a true circle, so the chords cannot tell); without it, the middle
    // of each side must lie near the circle.
    auto midwayOnCircle = [&](const CVertex& a, const CVertex& b) {
        const double tolerance = std::max({d, a.startWidth * 0.5, kMaxRadiusDeviation * r});
        const double mx = (a.x + b.x) * 0.5, my = (a.y + b.y) * 0.5;
        return std::fabs(Distance(centre.x, centre.y, mx, my) - r) <= tolerance;
    };
    const CInkGuard* ink = limits.ink && limits.ink->IsActive() ? limits.ink : nullptr;
    const double inkReach = ink ? InkReach(d, MeanStartWidth(first, last, true)) : 0;
    // The circle measured against the ink: a whole border ring's moved
    // towards its ink by as much as a border may stand off it.
    const bool borderRing = ink && limits.borders && first == last;
    const double inkRadius = borderRing ? r + BorderInkSide(*ink, centre, first) * kBorderToInk : r;
    if (ink &&
        !ink->IsNearInk({centre.x + inkRadius * std::cos(start), centre.y + inkRadius * std::sin(start)}, inkReach))
        return false;
    const CVertex* v = first;
    do {
        if (!ink && !midwayOnCircle(*v, *v->next))
            return false;
        v = v->next;
        if (!onCircle(*v))
            return false;
        double angle = AngleAbout(centre, *v);
        double step = 0;
        if (direction == 0) {
            direction = angle >= start ? 1 : -1;
            step = std::fabs(angle - start);
        } else if (direction > 0) {
            if (angle <= previous + kAngleSlack)
                angle += TWO_PI;
            step = angle - previous;
        } else {
            if (angle >= previous - kAngleSlack)
                angle -= TWO_PI;
            step = previous - angle;
        }
        if (!(step >= minAngle && step <= maxAngle))
            return false;
        if (ink && !ArcOnInk(*ink, centre, inkRadius, previous, previous + direction * step, inkReach))
            return false;
        previous = angle;
    } while (v != last);

    fit->centre = centre;
    fit->radius = r;
    fit->startAngle = start;
    fit->endAngle = previous;
    fit->direction = direction;
    return true;
}

CVertex* FindCircularRun(const CPolyLine& polyline, CVertex* first, const CCircleFitLimits& limits, CCircleFit* fit)
{
    if (first == nullptr)
        return nullptr;
    CVertex* end = first->next->next->next;
    if (first->next == first || first->next->next == first || end == first)
        return nullptr;
    CCircleFit best;
    if (!FitCircleToRun(polyline, first, end, limits, &best))
        return nullptr;
    const CVertex* tail = polyline.GetTail();
    while (!IsArcBulge(end->bulge) && end != first && (polyline.m_Closed || end != tail)) {
        CCircleFit longer;
        if (!FitCircleToRun(polyline, first, end->next, limits, &longer))
            break;
        end = end->next;
        best = longer;
    }
    *fit = best;
    return end;
}

bool FindCircleStart(const CPolyLine& polyline, const CCircleFitLimits& limits, CVertex** start)
{
    CVertex* head = polyline.GetHead();
    if (head == nullptr)
        return false;
    *start = head;
    if (!polyline.m_Closed || !RunStartsAt(polyline, head, limits))
        return true;
    CVertex* earliest = head;
    for (;;) {
        CVertex* previous = earliest->prev;
        if (previous == head)
            return true;  // circular all round: keep the head
        if (!RunStartsAt(polyline, previous, limits))
            break;
        earliest = previous;
    }
    *start = earliest;
    return true;
}

// ---- polylines and polygon sets -------------------------------------------

namespace {

// One polyline, as far as it touches that polyline alone: what is left to
// do in layer order is noted in found.
int RecognizePolyline(CPolyLine& polyline, double size, int mode, const CTraceOption& options, const CInkGuard* ink,
                      bool borders, CRecognized& found)
{
    if (mode == RECOGNIZE_LAYER_POLYLINE && polyline.m_Layer == nullptr)
        return RECOGNIZE_NO_LAYER;
    if (!polyline.HasPointsAtLeast(4))
        return RECOGNIZE_DONE;
    const CCircleFitLimits limits{options.GetMaxDis(), size, ink, borders};

    CCircleFit fit;
    CVertex* head = polyline.GetHead();
    int result = RECOGNIZE_DONE;
    if (!polyline.m_Closed) {
        if (mode == RECOGNIZE_LAYER_POLYLINE && FitCircleToRun(polyline, head, polyline.GetTail(), limits, &fit))
            return ReplaceOpenPolyline(polyline, fit, found.curves);
        result = RecognizeRuns(polyline, mode, limits, found);
    } else if (FitCircleToRun(polyline, head, head, limits, &fit)) {
        const double width = MeanStartWidth(head, head, true);
        if (mode == RECOGNIZE_LAYER_POLYLINE) {
            found.curves.push_back({fit.centre, fit.radius, 0, 0, width, true});
            polyline.RemoveAllVertices();
            polyline.m_Modified = true;
            return RECOGNIZE_DONE;
        }
        result = RebuildAsHalfCircles(polyline, fit, mode, width);
    } else {
        result = RecognizeRuns(polyline, mode, limits, found);
    }
    found.flatten = result == RECOGNIZE_DONE;
    return result;
}

// The rest of a polyline's recognition, in layer order; the result passes
// through unless memory runs out.
int FinishPolyline(CPolyLine& polyline, const CRecognized& found, int result)
{
    if (!found.curves.empty() && !AddCurvesToLayer(*polyline.m_Layer, found.curves))
        return RECOGNIZE_NO_MEMORY;
    if (found.recount)
        RecountArcFlag(polyline);
    if (found.flatten && !polyline.IsAllStraight())
        polyline.Flatten(FLATTEN_STEP_HIT_TEST);
    return result;
}

}  // namespace

int RecognizeCircles(CPolyLine& polyline, double size, int mode, const CTraceOption& options, const CInkGuard* ink)
{
    try {
        CRecognized found;
        const int result =
            RecognizePolyline(polyline, size, mode, options, ink, mode != RECOGNIZE_LAYER_POLYLINE, found);
        return FinishPolyline(polyline, found, result);
    } catch (const std::bad_alloc&) {
        return RECOGNIZE_NO_MEMORY;
    }
}

int RecognizeCircles(CPolyPolygon& polygon, double size, const CTraceOption& options, const CInkGuard* ink)
{
    const int count = polygon.GetOutlineCount();
    for (int i = 0; i < count; ++i) {
        const int mode = i == 0 ? RECOGNIZE_OUTER_OUTLINE : RECOGNIZE_HOLE_OUTLINE;
        const int result = RecognizeCircles(*polygon.GetOutline(i), size, mode, options, ink);
        polygon.m_Modified = true;
        if (result == RECOGNIZE_NO_MEMORY)
            return RECOGNIZE_NO_MEMORY;
    }
    return RECOGNIZE_DONE;
}

// ---- the layer commands ---------------------------------------------------

namespace {

// Polylines that recognition emptied (or that came degenerate) go.
void DeleteDegeneratePolylines(CLayer& layer)
{
    CEntity* next = nullptr;
    for (CEntity* e = layer.GetFirstEntity(); e != nullptr; e = next) {
        next = e->m_Next;
        if (e->m_Type == ENTITY_POLYLINE && e->IsDegenerate()) {
            layer.RemoveEntity(e);
            delete e;
        }
    }
}

// Arc end points filed in square cells twice the connect distance wide, so
// every end within the distance (on both axes) of a point lies in the 3 x 3
// cells around it.
class CArcEndIndex {
public:
    CArcEndIndex(const std::vector<CArc*>& arcs, double distance, bool startPoints)
        : m_Cell(2 * std::max(distance, 0.5))
    {
        m_Entries.reserve(arcs.size());
        for (std::size_t i = 0; i < arcs.size(); ++i) {
            const frDoublePoint& p = startPoints ? arcs[i]->m_StartPoint : arcs[i]->m_EndPoint;
            std::int64_t cx = 0, cy = 0;
            if (CellOf(p, &cx, &cy))
                m_Entries.push_back({cx, cy, static_cast<int>(i)});
        }
        std::sort(m_Entries.begin(), m_Entries.end());
    }

    // Appends the arcs filed near p whose index is above `after`.
    void Collect(const frDoublePoint& p, int after, std::vector<int>* out) const
    {
        std::int64_t cx = 0, cy = 0;
        if (!CellOf(p, &cx, &cy))
            return;
        for (std::int64_t x = cx - 1; x <= cx + 1; ++x) {
            for (std::int64_t y = cy - 1; y <= cy + 1; ++y) {
                auto it = std::upper_bound(m_Entries.begin(), m_Entries.end(), Entry{x, y, after});
                for (; it != m_Entries.end() && it->cx == x && it->cy == y; ++it)
                    out->push_back(it->index);
            }
        }
    }

private:
    struct Entry {
        std::int64_t cx, cy;
        int index;
        bool operator<(const Entry& o) const
        {
            return cx != o.cx ? cx < o.cx : cy != o.cy ? cy < o.cy : index < o.index;
        }
    };

    bool CellOf(const frDoublePoint& p, std::int64_t* cx, std::int64_t* cy) const
    {
        // Ends beyond this can never be filed exactly; such arcs stay out.
        constexpr double kLimit = 1e15;
        const double x = std::floor(p.x / m_Cell), y = std::floor(p.y / m_Cell);
        if (!(std::fabs(x) < kLimit && std::fabs(y) < kLimit))
            return false;
        *cx = static_cast<std::int64_t>(x);
        *cy = static_cast<std::int64_t>(y);
        return true;
    }

    double m_Cell;
    std::vector<Entry> m_Entries;
};

// Merges arcs as RejoinRecognizedArcs says, with the positions already set
// up by the caller.
// With ink, a merged curve must keep to it as a recognised one does.
bool RejoinArcs(CLayer& layer, CStepProgress& progress, const CTraceOption& options, const CInkGuard* ink)
{
    const bool checkInk = ink && ink->IsActive();
    const double maxDis = options.GetMaxDis();
    std::vector<CArc*> arcs;
    for (CEntity* e = layer.GetFirstEntity(); e != nullptr; e = e->m_Next)
        if (e->m_Type == ENTITY_ARC)
            arcs.push_back(static_cast<CArc*>(e));
    const double distance = static_cast<unsigned>(options.ChartType.i_ConDis);
    const CArcEndIndex starts(arcs, distance, true);
    const CArcEndIndex ends(arcs, distance, false);
    std::vector<bool> gone(arcs.size(), false);
    std::vector<int> candidates;

    for (std::size_t i = 0; i < arcs.size(); ++i) {
        if (gone[i])
            continue;
        CArc* a = arcs[i];
        std::unique_ptr<CCircle> merged;  // the replacement made so far, not yet on the layer
        int position = static_cast<int>(i);
        for (;;) {
            // The later arcs that can meet a: an end at a's start or a start
            // at a's end; tried in layer order.
            candidates.clear();
            ends.Collect(a->m_StartPoint, position, &candidates);
            starts.Collect(a->m_EndPoint, position, &candidates);
            std::sort(candidates.begin(), candidates.end());
            candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
            int match = -1;
            frDoublePoint centre;
            double radius = 0, start = 0, end = 0;
            for (int j : candidates) {
                if (gone[j] || !a->MatchForMerge(*arcs[j], &centre, &radius, &start, &end, options))
                    continue;
                const double sweep = std::fabs(start - end) <= kClosedSweep ? TWO_PI : AngleInTurn(end - start);
                const double width = (a->GetWidth() + arcs[j]->GetWidth()) * 0.5;
                if (!checkInk || ArcOnInk(*ink, centre, radius, start, start + sweep, InkReach(maxDis, width))) {
                    match = j;
                    break;
                }
            }
            if (match < 0)
                break;
            CArc* b = arcs[match];
            const bool closed = std::fabs(start - end) <= kClosedSweep;
            std::unique_ptr<CCircle> next =
                closed ? NewCircle(centre, radius) : std::unique_ptr<CCircle>(NewArc(centre, radius, start, end));
            if (!next) {
                if (merged)
                    layer.AddEntityFront(merged.release());
                progress.Fail(RUN_NO_MEMORY);
                return false;
            }
            next->SetWidth((a->GetWidth() + b->GetWidth()) * 0.5);
            if (!merged) {
                gone[i] = true;
                layer.RemoveEntity(a);
                delete a;
            }
            gone[static_cast<std::size_t>(match)] = true;
            layer.RemoveEntity(b);
            delete b;
            merged = std::move(next);
            position = match;
            if (closed)
                break;
            a = static_cast<CArc*>(merged.get());
        }
        if (merged)
            layer.AddEntityFront(merged.release());
        if (!progress.Advance())
            return false;
    }
    return true;
}

}  // namespace

bool RecognizeCircles(CLayer& layer, CCommonThread* sink, double size, int mode, const CTraceOption& options,
                      const CInkGuard* ink)
{
    CStepProgress progress(sink, "ProcessRecCircle", "Recognize circle");
    const bool rejoin = mode == RECOGNIZE_AFTER_CENTER_LINE && options.ChartType.b_Connect;
    const std::int32_t count = layer.CountEntities();
    if (count == 0) {
        progress.End();
        return true;
    }
    progress.SetRange(0, rejoin ? 60 : 100, count);
    // Each polyline is recognised on its own, so a batch runs on the pool;
    // the curves found are made and put on the layer after it, in layer
    // order, as one walk would have made them, while the pool works on the
    // next batch. A batch is not stopped half way, so a stop already asked
    // for is heeded before the first.
    if (!progress.Poll())
        return false;
    std::vector<CRecognized> found(2 * kEntityBatch);
    std::array<int, 2 * kEntityBatch> results;
    bool noMemory = false;
    const BatchResult walked = ForEachEntityBatchAhead(
        layer,
        [&](std::size_t i, CEntity& e) {
            e.m_Layer = &layer;
            // Cleared, not replaced: each slot keeps its block for the next batch.
            found[i].curves.clear();
            found[i].recount = found[i].flatten = false;
            results[i] = RECOGNIZE_DONE;
            if (e.m_Type == ENTITY_POLYLINE)
                results[i] = RecognizePolyline(static_cast<CPolyLine&>(e), size, RECOGNIZE_LAYER_POLYLINE, options, ink,
                                               mode == RECOGNIZE_AFTER_OUTLINE, found[i]);
        },
        [&](std::span<CEntity* const> batch, std::size_t first) {
            // Every polyline worked on is finished, even when a stop comes:
            // its curves are no longer in it. Polygon sets are few and
            // recognised here, as they recount their outlines at once.
            for (std::size_t i = 0; i < batch.size() && !noMemory; ++i) {
                CEntity& e = *batch[i];
                int result = results[first + i];
                if (e.m_Type == ENTITY_POLYLINE && result != RECOGNIZE_NO_MEMORY)
                    result = FinishPolyline(static_cast<CPolyLine&>(e), found[first + i], result);
                else if (e.m_Type == ENTITY_POLYPOLYGON)
                    result = RecognizeCircles(static_cast<CPolyPolygon&>(e), size, options, ink);
                noMemory = result == RECOGNIZE_NO_MEMORY;
                // Emptied (or degenerate) polylines go here rather than in
                // a walk of their own.
                if (!noMemory && e.m_Type == ENTITY_POLYLINE && e.IsDegenerate()) {
                    layer.RemoveEntity(&e);
                    delete &e;
                }
            }
            return !noMemory;
        },
        [&](std::size_t done) { return AdvanceOverBatch(progress, done); });
    if (walked != BatchResult::kDone) {
        DeleteDegeneratePolylines(layer);
        if (walked == BatchResult::kNoMemory || noMemory)
            progress.Fail(RUN_NO_MEMORY);
        return false;
    }
    if (rejoin) {
        progress.SetRange(60, 40, layer.CountEntities());
        try {
            if (!RejoinArcs(layer, progress, options, ink))
                return false;
        } catch (const std::bad_alloc&) {
            progress.Fail(RUN_NO_MEMORY);
            return false;
        }
    }
    progress.End();
    return true;
}

bool RejoinRecognizedArcs(CLayer& layer, CCommonThread* sink, const CTraceOption& options)
{
    CStepProgress progress(sink, "ProcessRecCircle", "Recognize circle");
    progress.SetRange(60, 40, layer.CountEntities());
    try {
        if (!RejoinArcs(layer, progress, options, nullptr))
            return false;
    } catch (const std::bad_alloc&) {
        progress.Fail(RUN_NO_MEMORY);
        return false;
    }
    progress.End();
    return true;
}
