// CPolyLine editing: joining and closing, reversing, exploding into pieces,
// width rounding, grips, inserting a vertex, object-snap records and the
// circle or arc that a two-vertex bulge polyline stands for.
//
// Every edit of the vertex ring drops the flattened ring and sets the
// modified flag, so no flat point outlives or misplaces its source vertex.
// Segment records (start width, end width, bulge) live on the vertex that
// begins the segment; an edit that moves segments moves their records too.
#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "model/circle.h"
#include "model/constants.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "model/undo.h"
#include "trace/trace_option.h"

namespace {

// Grips and moves count an arc only strictly above the tolerance.
bool IsGripArc(double bulge) { return std::fabs(bulge) > POINT_TOLERANCE; }

frDoublePoint ToPoint(const CVertex& v) { return {v.x, v.y, v.z}; }

// The connect distance is never negative; it is read as unsigned.
double ConnectDistance(const CTraceOption& options)
{
    return static_cast<double>(static_cast<unsigned>(options.ChartType.i_ConDis));
}

// The bulge of the arc from p through m to q; straight when there is none.
double BulgeThrough(const frDoublePoint& p, const frDoublePoint& m, const frDoublePoint& q)
{
    frDoublePoint centre;
    double bulge = 0.0;
    if (!BulgeFromThreePoints(p, m, q, &centre, nullptr, &bulge) || !std::isfinite(bulge))
        return 0.0;
    return bulge;
}

// Hands an end record to its new polyline.
void HandLink(CConnectEnd*& from, CConnectEnd*& to, CEntity* owner, int end)
{
    to = from;
    from = nullptr;
    if (to) {
        to->entity = owner;
        to->end = end;
    }
}

void DetachLink(CConnectEnd*& link)
{
    if (link)
        link->entity = nullptr;
    link = nullptr;
}

// The grip numbering, walked once for counting, adding, moving and picking:
// each vertex, then the midpoint of the arc it begins when that is a real
// segment whose arc can be computed.
struct GripSite {
    CVertex* vertex = nullptr;
    bool midpoint = false;
    frDoublePoint point;
};

// Calls visit(number, site) for each grip until it returns true; returns the
// number of grips visited.
template <class Visit>
int WalkGrips(CVertex* head, bool closed, Visit&& visit)
{
    if (head == nullptr)
        return 0;
    int number = 0;
    CVertex* v = head;
    do {
        if (visit(number++, GripSite{v, false, ToPoint(*v)}))
            return number;
        if (IsGripArc(v->bulge)) {
            if (!closed && v->next == head)
                break;  // the tail of an open polyline begins nothing
            frDoublePoint centre, middle;
            if (ArcFromBulge(ToPoint(*v), ToPoint(*v->next), v->bulge, &centre, nullptr, &middle) &&
                visit(number++, GripSite{v, true, middle}))
                return number;
        }
        v = v->next;
    } while (v != head);
    return number;
}

// Like CGraph's current grip: the old one loses its flag, the record of that
// owner and index (if any) becomes current.
void MakeCurrentGrip(CGraph& drawing, const CSelectNode* owner, int index)
{
    if (CGripRecord* old = drawing.GetCurrentGrip())
        old->current = 0;
    CGripRecord* found = nullptr;
    for (CGripRecord* g = drawing.GetGrips(); g && !found; g = g->next)
        if (g->owner == owner && g->index == index)
            found = g;
    if (found)
        found->current = 1;
    drawing.SetCurrentGrip(found);
}

}  // namespace

void CPolyLine::MarkGeometryChanged()
{
    ClearFlatList();
    m_Modified = true;
}

// ---- ring edits -----------------------------------------------------------

void CPolyLine::RemoveEnd(int end)
{
    if (m_Head == nullptr)
        return;
    if (end == 0)
        RemoveVertex(m_Head);
    else if (end == 1)
        RemoveVertex(m_Head->prev);
}

void CPolyLine::SpliceRing(CPolyLine& other)
{
    if (&other == this)
        return;
    m_Closed = false;
    CVertex* ring = other.m_Head;
    other.ClearFlatList();
    other.m_Head = nullptr;
    other.m_AllStraight = true;
    other.m_Modified = true;
    if (ring == nullptr)
        return;

    bool straight = true;
    const CVertex* v = ring;
    do {
        if (IsArcBulge(v->bulge))
            straight = false;
        v = v->next;
    } while (v != ring);
    if (!straight)
        m_AllStraight = false;

    if (m_Head == nullptr) {
        m_Head = ring;
    } else {
        CVertex* tail = m_Head->prev;
        CVertex* otherTail = ring->prev;
        tail->next = ring;
        ring->prev = tail;
        otherTail->next = m_Head;
        m_Head->prev = otherTail;
    }
    MarkGeometryChanged();
}

void CPolyLine::Reverse()
{
    if (m_Head == nullptr)
        return;
    // Each vertex now begins the segment that its old predecessor began, run
    // backwards, so it takes that vertex's record (widths, bulge negated). For
    // the new tail that is the old tail's record: the closing segment of a
    // closed ring, and for an open one the tail's unused record, so that
    // reversing twice restores everything. One walk carries the record along
    // and swaps the links: joining reverses long lines.
    CVertex* tail = m_Head->prev;
    double startWidth = tail->startWidth, endWidth = tail->endWidth, bulge = tail->bulge;
    CVertex* v = m_Head;
    do {
        CVertex* next = v->next;
        std::swap(v->startWidth, startWidth);
        std::swap(v->endWidth, endWidth);
        const double own = v->bulge;
        v->bulge = -bulge;
        bulge = own;
        std::swap(v->next, v->prev);
        v = next;
    } while (v != m_Head);
    m_Head = tail;

    m_ActiveEnd = m_ActiveEnd == 0 ? 1 : 0;
    MarkGeometryChanged();
}

bool CPolyLine::InsertMidVertex(CVertex* v)
{
    if (v == nullptr || m_Head == nullptr || (!m_Closed && v == m_Head->prev))
        return false;
    CVertex* next = v->next;
    // Both halves keep the segment's widths.
    std::unique_ptr<CVertex> middle(new (std::nothrow) CVertex(0, 0, v->startWidth, v->endWidth, 0));
    if (!middle)
        return false;

    if (!IsArcBulge(v->bulge)) {
        middle->x = (v->x + next->x) * 0.5;
        middle->y = (v->y + next->y) * 0.5;
    } else {
        frDoublePoint centre, m;
        double radius = 0;
        if (!ArcFromBulge(ToPoint(*v), ToPoint(*next), v->bulge, &centre, &radius, &m))
            return false;
        double a1 = NormalizeAngle(std::atan2(v->y - centre.y, v->x - centre.x));
        const double a2 = NormalizeAngle(std::atan2(next->y - centre.y, next->x - centre.x));
        if (v->bulge > 0) {
            while (a1 > a2)
                a1 -= TWO_PI;
        } else {
            while (a1 < a2)
                a1 += TWO_PI;
        }
        const double q1Angle = a1 + (a2 - a1) * 0.25, q3Angle = a1 + (a2 - a1) * 0.75;
        const frDoublePoint q1(centre.x + radius * std::cos(q1Angle), centre.y + radius * std::sin(q1Angle));
        const frDoublePoint q3(centre.x + radius * std::cos(q3Angle), centre.y + radius * std::sin(q3Angle));
        middle->x = m.x;
        middle->y = m.y;
        v->bulge = BulgeThrough(ToPoint(*v), q1, m);
        middle->bulge = BulgeThrough(m, q3, ToPoint(*next));
    }
    CVertex* inserted = middle.release();
    inserted->prev = v;
    inserted->next = next;
    v->next = inserted;
    next->prev = inserted;
    MarkGeometryChanged();
    return true;
}

// ---- joining and closing --------------------------------------------------

std::unique_ptr<CEntity> CPolyLine::JoinPolyline(CEntity* other, bool forceMidpoint)
{
    return JoinPolyline(other, forceMidpoint, GetTraceOption());
}

CPolyLine::CJoint CPolyLine::PlanJoin(const CPolyLine& other, bool forceMidpoint, const CTraceOption& options,
                                      JointCheck jointFits, const void* context) const
{
    CJoint joint{};
    joint.kind = JoinKind::kRefused;
    if (IsDegenerate() || other.IsDegenerate() || (&other == this && GetPointCount() < 3))
        return joint;
    const auto fits = [&] { return jointFits == nullptr || jointFits(joint, context); };
    const CVertex* head = m_Head;
    const CVertex* tail = m_Head->prev;
    if (&other == this) {
        // The head moves half way to the tail, which goes; else the ring
        // closes where its ends are.
        joint = {JoinKind::kMiddle,
                 {(head->x + tail->x) * 0.5, (head->y + tail->y) * 0.5},
                 ToPoint(*tail),
                 ToPoint(*head),
                 ToPoint(*tail->prev),
                 tail->prev->startWidth,
                 tail->prev->bulge,
                 ToPoint(*head->next),
                 head->startWidth,
                 head->bulge,
                 0.5 * std::hypot(head->x - tail->x, head->y - tail->y),
                 true};
        if (fits())
            return joint;
        joint.kind = JoinKind::kBridge;
        joint.at = joint.aEnd;
        joint.moved = 0;
        if (fits())
            return joint;
        joint.kind = JoinKind::kRefused;
        return joint;
    }

    // A's joining end j, the vertex d1 before it and the segment between
    // them as it runs towards j; a reversed segment keeps its record with
    // the bulge negated.
    const bool aAtHead = m_ActiveEnd == 0;
    const frDoublePoint j = ToPoint(aAtHead ? *head : *tail), d1 = ToPoint(aAtHead ? *head->next : *tail->prev);
    // B's joining end h, the vertex n after it and the segment from h.
    const CVertex* bHead = other.m_Head;
    const CVertex* bTail = bHead->prev;
    const bool bAtTail = other.m_ActiveEnd == 1;
    const frDoublePoint h = ToPoint(bAtTail ? *bTail : *bHead), n = ToPoint(bAtTail ? *bTail->prev : *bHead->next);
    const double width = bAtTail ? bTail->prev->startWidth : bHead->startWidth;
    joint.aEnd = j;
    joint.bEnd = h;
    joint.from = d1;
    joint.fromWidth = aAtHead ? head->startWidth : tail->prev->startWidth;
    joint.fromBulge = aAtHead ? -head->bulge : tail->prev->bulge;
    joint.to = n;
    joint.toWidth = width;
    joint.toBulge = bAtTail ? -bTail->prev->bulge : bHead->bulge;
    const auto moved = [&](const frDoublePoint& at) {
        return std::max(std::hypot(at.x - j.x, at.y - j.y), std::hypot(at.x - h.x, at.y - h.y));
    };

    const double angle = VectorAngle({n.x - h.x, n.y - h.y}, {d1.x - j.x, d1.y - j.y});
    const double tolerance = std::max(ConnectDistance(options), width);
    // Where the end lines meet close to both ends, the joint goes to the
    // corner; ends that nearly touch or nearly continue each other meet
    // half way; anything else is bridged by a segment.
    frDoublePoint crossing;
    if (IntersectLines(j, d1, h, n, 0, &crossing) && PointDistance(&crossing, &j) <= 1.5 * tolerance &&
        PointDistance(&crossing, &h) <= 1.5 * tolerance) {
        joint.kind = JoinKind::kCorner;
        joint.at = crossing;
        joint.moved = moved(crossing);
        if (fits())
            return joint;
    }
    if ((angle > HALF_PI && std::fabs(j.x - h.x) <= 2.0 && std::fabs(j.y - h.y) <= 2.0) || angle > PI_170_DEGREES ||
        forceMidpoint) {
        joint.kind = JoinKind::kMiddle;
        joint.at = {(j.x + h.x) * 0.5, (j.y + h.y) * 0.5};
        joint.moved = moved(joint.at);
        if (fits())
            return joint;
    }
    joint.kind = JoinKind::kBridge;
    joint.at = j;
    joint.moved = 0;
    if (fits())
        return joint;
    joint.kind = JoinKind::kRefused;
    return joint;
}

std::unique_ptr<CPolyLine> CPolyLine::JoinPolyline(CEntity* other, bool forceMidpoint, const CTraceOption& options,
                                                   JointCheck jointFits, const void* context)
{
    if (other == nullptr || IsDegenerate() || other->IsDegenerate())
        return nullptr;
    auto* b = other->m_Type == ENTITY_POLYLINE ? dynamic_cast<CPolyLine*>(other) : nullptr;
    if (b == nullptr) {
        m_Closed = false;
        m_Joined = other->m_Joined = true;
        return nullptr;
    }
    // Closing two vertices on themselves would leave a single point.
    if (b == this && GetPointCount() < 3)
        return nullptr;
    // Decided before anything changes, so that a refusal leaves both whole.
    const CJoint plan = PlanJoin(*b, forceMidpoint, options, jointFits, context);
    if (plan.kind == JoinKind::kRefused)
        return nullptr;
    return JoinAsPlanned(*b, plan);
}

std::unique_ptr<CPolyLine> CPolyLine::JoinAsPlanned(CPolyLine& other, const CJoint& plan)
{
    if (plan.kind == JoinKind::kRefused)
        return nullptr;
    CPolyLine* b = &other;
    // The one allocation comes first, so that the join cannot stop half way.
    std::unique_ptr<CPolyLine> joined(new (std::nothrow) CPolyLine);
    if (!joined)
        return nullptr;
    m_Closed = false;
    joined->m_Color = m_Color;

    if (b == this) {
        DetachLink(m_StartLink);
        DetachLink(m_EndLink);
        if (plan.kind != JoinKind::kBridge) {
            m_Head->x = plan.at.x;
            m_Head->y = plan.at.y;
            RemoveEnd(1);
        }
        joined->SpliceRing(*this);
        joined->m_Closed = true;
        m_Joined = true;
        return joined;
    }

    // A's joining end becomes its tail; its outer end is the new head.
    if (m_ActiveEnd == 0) {
        Reverse();
        HandLink(m_EndLink, joined->m_StartLink, joined.get(), 0);
    } else {
        HandLink(m_StartLink, joined->m_StartLink, joined.get(), 0);
    }
    m_StartLink = m_EndLink = nullptr;

    // A's joining end leaves A and is made over into the joint, which spares
    // an allocation and a release on every join.
    CVertex* end = m_Head->prev;
    const frDoublePoint j = ToPoint(*end);
    ClearFlatList();  // as when a vertex goes: flat points may link it
    m_Head = RemoveVertexFromRing(m_Head, end);
    std::unique_ptr<CVertex> joint(end);
    *joint = CVertex();
    joined->SpliceRing(*this);

    // B's joining end becomes its head; its outer end is the new tail.
    if (b->m_ActiveEnd == 1) {
        b->Reverse();
        HandLink(b->m_StartLink, joined->m_EndLink, joined.get(), 1);
    } else {
        HandLink(b->m_EndLink, joined->m_EndLink, joined.get(), 1);
    }
    b->m_StartLink = b->m_EndLink = nullptr;

    CVertex* bHead = b->m_Head;
    const double width = bHead->startWidth;
    const bool merge = plan.kind != JoinKind::kBridge;
    const frDoublePoint at = merge ? plan.at : j;
    joint->x = at.x;
    joint->y = at.y;
    joint->startWidth = width;
    if (merge) {
        // The joint begins B's first segment in place of B's head.
        joint->endWidth = bHead->endWidth;
        joint->bulge = bHead->bulge;
        b->RemoveEnd(0);
    }
    (void)joined->AddVertex(joint.release(), true);  // a repeat of the tail is dropped
    CVertex* corner = joined->GetTail();
    joined->SpliceRing(*b);
    // The corner may also fall on B's next vertex: that vertex goes, and the
    // corner begins its segment, so no segment of zero length is left.
    while (corner->next != joined->GetHead() && corner->next->x == corner->x && corner->next->y == corner->y) {
        CVertex* repeat = corner->next;
        corner->startWidth = repeat->startWidth;
        corner->endWidth = repeat->endWidth;
        corner->bulge = repeat->bulge;
        joined->RemoveVertex(repeat);
    }

    m_Joined = b->m_Joined = true;
    return joined;
}

void CPolyLine::AutoClose() { AutoClose(GetTraceOption()); }

void CPolyLine::AutoClose(const CTraceOption& options)
{
    if (m_Closed || !HasPointsAtLeast(3))
        return;
    const double tolerance = ConnectDistance(options);
    const CVertex* head = m_Head;
    const CVertex* tail = m_Head->prev;
    if (!(tail->x - tolerance <= head->x && head->x <= tail->x + tolerance && tail->y - tolerance <= head->y &&
          head->y <= tail->y + tolerance))
        return;
    m_Closed = true;
    if (head->x == tail->x && head->y == tail->y)
        RemoveEnd(1);
    MarkGeometryChanged();
}

// ---- explode --------------------------------------------------------------

namespace {

// The one-segment piece for the segment v -> next, keeping the polyline's
// colour and the segment's widths. Null piece: nothing to make (a point or
// an arc too short to compute). False: no memory.
bool MakeExplodePiece(const CPolyLine& source, const CVertex& v, const CVertex& next, std::unique_ptr<CEntity>& piece)
{
    piece.reset();
    if (!IsArcBulge(v.bulge)) {
        if (next.x == v.x && next.y == v.y)
            return true;  // a point, no segment
        std::unique_ptr<CPolyLine> line(new (std::nothrow) CPolyLine);
        if (!line || !line->AddPointWidth(v.x, v.y, v.startWidth) || !line->AddPoint(next.x, next.y))
            return false;
        line->GetHead()->endWidth = v.endWidth;
        line->m_Width = v.startWidth;
        piece = std::move(line);
    } else {
        CBulgeArc arc;
        if (!GetBulgeArc(v, next, v.bulge, &arc))
            return true;
        const double a1 = NormalizeAngle(arc.startAngle), a2 = NormalizeAngle(arc.endAngle);
        std::unique_ptr<CArc> curve =
            v.bulge > 0 ? NewArc(arc.centre, arc.radius, a1, a2) : NewArc(arc.centre, arc.radius, a2, a1);
        if (!curve)
            return false;
        curve->SetWidth(v.startWidth);
        piece = std::move(curve);
    }
    piece->m_Color = source.m_Color;
    return true;
}

}  // namespace

bool CPolyLine::Explode(CVectorUndoItem* undo)
{
    if (m_Layer == nullptr || GetPointCount() < 3)
        return false;
    // All pieces are made before the layer changes, so a shortage of memory
    // leaves the polyline whole.
    std::vector<std::unique_ptr<CEntity>> pieces;
    const CVertex* v = m_Head;
    do {
        if (!m_Closed && v == m_Head->prev)
            break;
        std::unique_ptr<CEntity> piece;
        if (!MakeExplodePiece(*this, *v, *v->next, piece))
            return false;
        if (piece)
            pieces.push_back(std::move(piece));
        v = v->next;
    } while (v != m_Head);

    for (std::unique_ptr<CEntity>& piece : pieces) {
        CEntity* added = piece.release();
        (void)m_Layer->AddEntityFront(added);  // a fresh entity is in no chain
        if (undo)
            (void)undo->AddEntity(added, UNDO_ENTITY_ADDED);
    }
    RemoveAllVertices();
    return true;
}

// ---- widths ---------------------------------------------------------------

void CPolyLine::RoundWidth(double resolution) { RoundWidth(resolution, GetTraceOption()); }

void CPolyLine::RoundWidth(double resolution, const CTraceOption& options)
{
    if (m_Head == nullptr)
        return;
    const CWidthSeries& series = options.ChartType.WidthSeries;
    CVertex* v = m_Head;
    do {
        if (!m_Closed && v == m_Head->prev)
            break;  // the tail of an open polyline begins nothing
        v->startWidth = series.RoundToSeries(v->startWidth, resolution);
        v = v->next;
    } while (v != m_Head);
    m_Width = series.RoundToSeries(m_Width, resolution);
    m_Modified = true;  // flat points carry copies of the widths
}

// ---- grips ----------------------------------------------------------------

int CPolyLine::GetGripCount() const
{
    return WalkGrips(m_Head, m_Closed, [](int, const GripSite&) { return false; });
}

void CPolyLine::AddGrips(CSelectNode* tag, CGripRecord** grips) { (void)AddGripsFrom(tag, grips, 0); }

int CPolyLine::AddGripsFrom(CSelectNode* tag, CGripRecord** grips, int firstIndex)
{
    bool failed = false;
    const int count = WalkGrips(m_Head, m_Closed, [&](int number, const GripSite& site) {
        if (!failed && !AddGrip(site.point, tag, firstIndex + number, grips))
            failed = true;
        return false;
    });
    return count;
}

bool CPolyLine::MoveGrip(double x, double y, double z, int index)
{
    if (index < 0)
        return false;
    GripSite grip;
    bool found = false;
    WalkGrips(m_Head, m_Closed, [&](int number, const GripSite& site) {
        if (number != index)
            return false;
        grip = site;
        found = true;
        return true;
    });
    if (!found)
        return false;

    const frDoublePoint p(x, y, z);
    CVertex* v = grip.vertex;
    if (grip.midpoint) {
        v->bulge = BulgeThrough(ToPoint(*v), p, ToPoint(*v->next));
    } else {
        // Each arc beside the vertex keeps passing through its old midpoint.
        CVertex* before = v->prev;
        frDoublePoint centre, middle;
        const bool beforeIsSegment = m_Closed || v != m_Head;
        const bool ownIsSegment = m_Closed || v != m_Head->prev;
        if (beforeIsSegment && IsGripArc(before->bulge) &&
            ArcFromBulge(ToPoint(*before), ToPoint(*v), before->bulge, &centre, nullptr, &middle))
            before->bulge = BulgeThrough(ToPoint(*before), middle, p);
        if (ownIsSegment && IsGripArc(v->bulge) &&
            ArcFromBulge(ToPoint(*v), ToPoint(*v->next), v->bulge, &centre, nullptr, &middle))
            v->bulge = BulgeThrough(p, middle, ToPoint(*v->next));
        v->x = x;
        v->y = y;
        v->z = z;
    }
    MarkGeometryChanged();
    return true;
}

void CPolyLine::SelectCurrentVertexGrip(CGraph* drawing, const CSelectNode* owner, int firstIndex) const
{
    if (drawing == nullptr)
        return;
    int vertexNumber = 0, gripNumber = -1;
    WalkGrips(m_Head, m_Closed, [&](int number, const GripSite& site) {
        if (site.midpoint || ++vertexNumber != m_CurVertex)
            return false;
        gripNumber = firstIndex + number;
        return true;
    });
    if (gripNumber >= 0)
        MakeCurrentGrip(*drawing, owner, gripNumber);
}

// ---- object snap ----------------------------------------------------------

void CPolyLine::AddSnapSegment(const CVertex* v, std::vector<CSnapSegment>& segments) const
{
    if (v == nullptr || v->next == nullptr)
        return;
    CSnapSegment segment;
    segment.modes = -1;  // every mode
    CBulgeArc arc;
    if (!GetBulgeArc(*v, *v->next, v->bulge, &arc)) {
        segment.kind = CSnapSegment::kLine;
        segment.start = ToPoint(*v);
        segment.end = ToPoint(*v->next);
    } else {
        segment.kind = CSnapSegment::kArc;
        segment.centre = arc.centre;
        segment.radius = arc.radius;
        const double a1 = NormalizeAngle(arc.startAngle), a2 = NormalizeAngle(arc.endAngle);
        segment.startAngle = v->bulge >= 0 ? a1 : a2;
        segment.endAngle = v->bulge >= 0 ? a2 : a1;
        while (segment.endAngle < segment.startAngle)
            segment.endAngle += TWO_PI;
    }
    segments.push_back(segment);
}

void CPolyLine::CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                                std::vector<CSnapSegment>& segments)
{
    if (!m_Drawn || IsDegenerate())
        return;
    if (InsideRect(boxMin, boxMax)) {
        AddSnapSegment(m_Head, segments);
        return;
    }
    if (m_Extents[EXT_MAX_X] < boxMin.x || m_Extents[EXT_MAX_Y] < boxMin.y || m_Extents[EXT_MIN_X] > boxMax.x ||
        m_Extents[EXT_MIN_Y] > boxMax.y)
        return;

    const CVertex* ring = m_Head;
    if (!m_AllStraight) {
        if (m_FlatHead == nullptr || m_Modified)
            Flatten(FLATTEN_STEP_HIT_TEST);
        ring = m_FlatHead;
    }
    if (ring == nullptr)
        return;
    // The pieces of one flattened arc all stem from one vertex: one record.
    const CVertex* last = nullptr;
    auto consider = [&](const CVertex* p, const CVertex* q) {
        const CVertex* source = ring == m_Head || p->source == nullptr ? p : p->source;
        if (source == last || !SegmentCrossesRect(ToPoint(*p), ToPoint(*q), boxMin, boxMax))
            return;
        AddSnapSegment(source, segments);
        last = source;
    };
    const CVertex* p = ring;
    for (; p->next != ring; p = p->next)
        consider(p, p->next);
    if (m_Closed)
        consider(p, ring);
}

// ---- circle or arc --------------------------------------------------------

std::unique_ptr<CEntity> PolylineToCircleOrArc(const CPolyLine& polyline)
{
    if (polyline.GetPointCount() != 2)
        return nullptr;
    const CVertex* head = polyline.GetHead();
    const CVertex* next = head->next;
    if (!IsGripArc(head->bulge))
        return nullptr;
    CBulgeArc first;
    if (!GetBulgeArc(*head, *next, head->bulge, &first))
        return nullptr;

    std::unique_ptr<CEntity> result;
    if (!polyline.m_Closed) {
        const double a1 = NormalizeAngle(first.startAngle), a2 = NormalizeAngle(first.endAngle);
        result =
            head->bulge > 0 ? NewArc(first.centre, first.radius, a1, a2) : NewArc(first.centre, first.radius, a2, a1);
    } else {
        if (!IsGripArc(next->bulge) || std::fabs(head->startWidth - next->startWidth) > POINT_TOLERANCE)
            return nullptr;
        // Arcs turning opposite ways retrace one arc rather than close a circle.
        if ((head->bulge > 0) != (next->bulge > 0))
            return nullptr;
        const bool halves =
            std::fabs(head->bulge - 1.0) <= POINT_TOLERANCE && std::fabs(next->bulge - 1.0) <= POINT_TOLERANCE;
        if (!halves) {
            CBulgeArc second;
            if (!GetBulgeArc(*next, *head, next->bulge, &second) ||
                std::fabs(first.centre.x - second.centre.x) > POINT_TOLERANCE ||
                std::fabs(first.centre.y - second.centre.y) > POINT_TOLERANCE ||
                std::fabs(first.radius - second.radius) > POINT_TOLERANCE)
                return nullptr;
        }
        result = NewCircle(first.centre, first.radius);
    }
    if (!result)
        return nullptr;
    result->SetWidth(head->startWidth);
    result->m_Color = polyline.m_Color;
    return result;
}
