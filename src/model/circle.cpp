// CCircle and CArc: construction, angle rules, the flat list for drawing and
// hit tests, extents, snap segments, grips, copies and project records.
#include "model/circle.h"

#include <cmath>
#include <new>

#include "model/constants.h"
#include "model/device.h"
#include "model/geometry.h"
#include "trace/trace_option.h"

namespace {

frDoublePoint Midway(const frDoublePoint& a, const frDoublePoint& b)
{
    return {(a.x + b.x) * 0.5, (a.y + b.y) * 0.5, 0};
}

void WidenBox(double* box, const frDoublePoint& p)
{
    if (p.x < box[EXT_MIN_X])
        box[EXT_MIN_X] = p.x;
    if (p.x > box[EXT_MAX_X])
        box[EXT_MAX_X] = p.x;
    if (p.y < box[EXT_MIN_Y])
        box[EXT_MIN_Y] = p.y;
    if (p.y > box[EXT_MAX_Y])
        box[EXT_MAX_Y] = p.y;
}

}  // namespace

// ---- construction ---------------------------------------------------------

CCircle::CCircle()
{
    m_Type = ENTITY_CIRCLE;
    m_Closed = true;
}

CCircle::~CCircle() { FreeFlatList(); }

CArc::CArc() { m_Type = ENTITY_ARC; }

std::unique_ptr<CCircle> NewCircle(const frDoublePoint& centre, double radius)
{
    std::unique_ptr<CCircle> circle(new (std::nothrow) CCircle);
    if (!circle)
        return nullptr;
    circle->m_Centre = centre;
    circle->m_Radius = std::fabs(radius);
    return circle;
}

std::unique_ptr<CArc> NewArc(const frDoublePoint& centre, double radius, double startAngle, double endAngle)
{
    std::unique_ptr<CArc> arc(new (std::nothrow) CArc);
    if (!arc)
        return nullptr;
    arc->m_Centre = centre;
    arc->m_Radius = std::fabs(radius);
    arc->SetStartAngle(startAngle);
    arc->SetEndAngle(endAngle);
    return arc;
}

// ---- arc angles -----------------------------------------------------------

void CArc::NormalizeAngles()
{
    m_StartAngle = NormalizeAngle(m_StartAngle);
    m_EndAngle = NormalizeAngle(m_EndAngle);
    // Equal angles stay an arc of no sweep, not a full turn.
    if (m_EndAngle < m_StartAngle)
        m_EndAngle += TWO_PI;
    UpdateEndPoints();
}

void CArc::SetStartAngle(double angle)
{
    if (std::isfinite(angle))
        m_StartAngle = angle;
    NormalizeAngles();
}

void CArc::SetEndAngle(double angle)
{
    if (std::isfinite(angle))
        m_EndAngle = angle;
    NormalizeAngles();
}

void CArc::UpdateEndPoints()
{
    m_StartPoint.x = m_Centre.x + m_Radius * std::cos(m_StartAngle);
    m_StartPoint.y = m_Centre.y + m_Radius * std::sin(m_StartAngle);
    m_EndPoint.x = m_Centre.x + m_Radius * std::cos(m_EndAngle);
    m_EndPoint.y = m_Centre.y + m_Radius * std::sin(m_EndAngle);
}

void CArc::GetMidPoint(frDoublePoint* out) const
{
    const double m = (m_StartAngle + m_EndAngle) * 0.5;
    out->x = m_Centre.x + m_Radius * std::cos(m);
    out->y = m_Centre.y + m_Radius * std::sin(m);
}

// ---- the flat list --------------------------------------------------------

CVertex* CCircle::AddFlatPoint(double x, double y)
{
    CVertex* v = new (std::nothrow) CVertex(x, y, m_Width, 0.0, 0);
    if (v == nullptr)
        return nullptr;
    v->prev = m_FlatTail;
    if (m_FlatTail)
        m_FlatTail->next = v;
    else
        m_FlatHead = v;
    m_FlatTail = v;
    return v;
}

void CCircle::FreeFlatList()
{
    while (m_FlatHead) {
        CVertex* next = m_FlatHead->next;
        delete m_FlatHead;  // the destructor clears the links
        m_FlatHead = next;
    }
    m_FlatTail = nullptr;
}

void CCircle::AddFlatPointAt(double angle)
{
    AddFlatPoint(m_Centre.x + m_Radius * std::cos(angle), m_Centre.y + m_Radius * std::sin(angle));
}

void CCircle::UpdateFlatList(double chord)
{
    // A list made with a chord up to five times finer than asked still
    // looks right.
    if (!m_Modified && m_FlatHead && !(chord < m_FlatChord) && !(chord * 0.2 > m_FlatChord) &&
        !(m_FlatChord < POINT_TOLERANCE))
        return;
    FreeFlatList();
    m_FlatChord = chord;
    BuildFlatList(chord);
    m_Modified = false;
}

void CCircle::BuildFlatList(double chord)
{
    if (!(2 * m_Radius - POINT_TOLERANCE > chord)) {
        // Smaller than one chord: a two-point list across the circle.
        AddFlatPointAt(0);
        AddFlatPointAt(PI);
        return;
    }
    const double step = ArcFlatteningStep(m_Radius, TWO_PI, chord);
    AddFlatPointAt(0);
    for (int k = 1; k <= MAX_ARC_PIECES; ++k) {
        const double a = k * step;
        if (!(a < TWO_PI - POINT_TOLERANCE))
            break;
        AddFlatPointAt(a);
    }
}

void CArc::BuildFlatList(double chord)
{
    if (!(2 * m_Radius - POINT_TOLERANCE > chord)) {
        AddFlatPointAt(m_StartAngle);
        AddFlatPointAt(m_EndAngle);
        return;
    }
    const double step = ArcFlatteningStep(m_Radius, m_EndAngle - m_StartAngle, chord);
    AddFlatPointAt(m_StartAngle);
    for (int k = 1; k <= MAX_ARC_PIECES; ++k) {
        const double a = m_StartAngle + k * step;
        if (!(a < m_EndAngle - POINT_TOLERANCE))
            break;
        AddFlatPointAt(a);
    }
    AddFlatPointAt(m_EndAngle);
}

void CCircle::EnsureFlatListForHitTest()
{
    if (m_FlatHead && !m_Modified)
        return;
    // A hit test before the first draw (or after an edit) needs the current
    // shape. The chord 0 stored makes the next draw build its own list.
    FreeFlatList();
    m_FlatChord = 0.0;
    BuildFlatList(-CIRCLE_HIT_TEST_PIECES);
}

bool CCircle::FlatListCrossesRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax, bool closed) const
{
    if (m_FlatHead == nullptr)
        return false;
    const CVertex* v = m_FlatHead;
    for (; v->next; v = v->next) {
        if (SegmentCrossesRect({v->x, v->y}, {v->next->x, v->next->y}, boxMin, boxMax))
            return true;
    }
    return closed && SegmentCrossesRect({v->x, v->y}, {m_FlatHead->x, m_FlatHead->y}, boxMin, boxMax);
}

// ---- drawing and hit tests ------------------------------------------------

void CCircle::Draw(CFrDevice* device)
{
    if (device == nullptr)
        return;
    UpdateFlatList(device->GetFlattenStep());
    m_Drawn = device->DrawClosedPolyline(m_FlatHead, GetDrawColorIndex(), m_Selected);
}

void CArc::Draw(CFrDevice* device)
{
    if (device == nullptr)
        return;
    UpdateFlatList(device->GetFlattenStep());
    m_Drawn = device->DrawPolyline(GetFlatHead(), GetDrawColorIndex(), m_Selected);
}

bool CCircle::CrossesRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax, bool closed)
{
    if (!m_Drawn)
        return false;
    if (InsideRect(boxMin, boxMax))
        return true;
    if (m_Extents[EXT_MAX_X] < boxMin.x || m_Extents[EXT_MAX_Y] < boxMin.y || m_Extents[EXT_MIN_X] > boxMax.x ||
        m_Extents[EXT_MIN_Y] > boxMax.y)
        return false;
    EnsureFlatListForHitTest();
    return FlatListCrossesRect(boxMin, boxMax, closed);
}

bool CCircle::IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax)
{
    return CrossesRect(boxMin, boxMax, true);
}

bool CArc::IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax)
{
    return CrossesRect(boxMin, boxMax, false);
}

// ---- extents and snap segments --------------------------------------------

bool CCircle::GetExtents(double* merge, double* box)
{
    box[EXT_MIN_X] = m_Centre.x - m_Radius;
    box[EXT_MAX_X] = m_Centre.x + m_Radius;
    box[EXT_MIN_Y] = m_Centre.y - m_Radius;
    box[EXT_MAX_Y] = m_Centre.y + m_Radius;
    if (merge)
        MergeExtents(merge, box);
    return true;
}

bool CArc::GetExtents(double* merge, double* box)
{
    const frDoublePoint s = PolarPoint(m_Centre, m_StartAngle, m_Radius);
    const frDoublePoint e = PolarPoint(m_Centre, m_EndAngle, m_Radius);
    double result[4] = {s.x, s.x, s.y, s.y};
    WidenBox(result, e);
    for (int i = 0; i < 4; ++i) {
        double q = i * HALF_PI;
        if (q < m_StartAngle)
            q += TWO_PI;
        if (q < m_EndAngle)
            WidenBox(result, PolarPoint(m_Centre, q, m_Radius));
    }
    for (int i = 0; i < 4; ++i)
        box[i] = result[i];
    if (merge)
        MergeExtents(merge, box);
    return true;
}

void CCircle::CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                              std::vector<CSnapSegment>& segments)
{
    if (!IntersectRect(boxMin, boxMax))
        return;
    CSnapSegment segment;
    segment.kind = CSnapSegment::kArc;
    segment.modes = CIRCLE_SNAP_MODES;
    segment.centre = m_Centre;
    segment.radius = m_Radius;
    segment.startAngle = 0;
    segment.endAngle = TWO_PI;
    segments.push_back(segment);
}

void CArc::CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                           std::vector<CSnapSegment>& segments)
{
    if (!IntersectRect(boxMin, boxMax))
        return;
    CSnapSegment segment;
    segment.kind = CSnapSegment::kArc;
    segment.modes = -1;  // every mode
    segment.centre = m_Centre;
    segment.radius = m_Radius;
    segment.startAngle = m_StartAngle;
    segment.endAngle = m_EndAngle;
    segments.push_back(segment);
}

// ---- grips ----------------------------------------------------------------

void CCircle::AddGrips(CSelectNode* tag, CGripRecord** grips)
{
    if (!AddGrip(m_Centre, tag, 0, grips))
        return;
    for (int i = 1; i <= 4; ++i)
        if (!AddGrip(PolarPoint(m_Centre, (i - 1) * HALF_PI, m_Radius), tag, i, grips))
            return;
}

bool CCircle::MoveGrip(double x, double y, double z, int index)
{
    if (index == 0) {
        m_Centre = {x, y, z};
    } else {
        const frDoublePoint p(x, y);
        const double radius = PointDistance(&m_Centre, &p);
        // A circle of no radius could never be picked again.
        if (!(radius > 0))
            return false;
        m_Radius = radius;
    }
    FreeFlatList();
    return true;
}

void CArc::AddGrips(CSelectNode* tag, CGripRecord** grips)
{
    frDoublePoint middle;
    GetMidPoint(&middle);
    if (AddGrip(m_StartPoint, tag, 1, grips) && AddGrip(middle, tag, 2, grips))
        (void)AddGrip(m_EndPoint, tag, 3, grips);
}

bool CArc::MoveGrip(double x, double y, double z, int index)
{
    if (index < 1 || index > 3)
        return false;
    frDoublePoint p[3] = {m_StartPoint, {}, m_EndPoint};
    GetMidPoint(&p[1]);
    p[index - 1] = {x, y, z};
    frDoublePoint centre;
    double radius = 0;
    if (!BulgeFromThreePoints(p[0], p[1], p[2], &centre, &radius))
        return false;

    const double a1 = NormalizeAngle(AngleAbout(centre, p[0]));
    double a2 = NormalizeAngle(AngleAbout(centre, p[1]));
    double a3 = NormalizeAngle(AngleAbout(centre, p[2]));
    while (a2 < a1)
        a2 += TWO_PI;
    while (a3 < a1)
        a3 += TWO_PI;
    double start = a1, end = a3;
    if (a3 < a2) {
        // The middle grip crossed the chord: the arc now runs the other way.
        start = NormalizeAngle(a3);
        end = a1;
        while (end < start)
            end += TWO_PI;
    }
    m_Centre.x = centre.x;
    m_Centre.y = centre.y;
    m_Radius = radius;
    m_StartAngle = start;
    m_EndAngle = end;
    UpdateEndPoints();
    FreeFlatList();
    return true;
}

// ---- copies ---------------------------------------------------------------

void CCircle::CopyFrom(const CEntity* other)
{
    const auto* source = dynamic_cast<const CCircle*>(other);
    if (source == nullptr || source == this)
        return;
    const EntityType own = m_Type;  // an arc copied into a circle stays a circle
    CEntity::CopyFrom(other);
    m_Type = own;
    m_Centre = source->m_Centre;
    m_Radius = source->m_Radius;
    FreeFlatList();
}

void CArc::CopyFrom(const CEntity* other)
{
    CCircle::CopyFrom(other);
    const auto* source = dynamic_cast<const CArc*>(other);
    if (source == nullptr) {
        UpdateEndPoints();
        return;
    }
    if (source == this)
        return;
    m_StartAngle = source->m_StartAngle;
    m_EndAngle = source->m_EndAngle;
    m_StartPoint = source->m_StartPoint;
    m_EndPoint = source->m_EndPoint;
}

std::unique_ptr<CEntity> CCircle::Clone() const
{
    std::unique_ptr<CCircle> copy(new (std::nothrow) CCircle);
    if (copy)
        copy->CopyFrom(this);
    return copy;
}

std::unique_ptr<CEntity> CArc::Clone() const
{
    std::unique_ptr<CArc> copy(new (std::nothrow) CArc);
    if (copy)
        copy->CopyFrom(this);
    return copy;
}

void CCircle::RoundWidth(double resolution, const CTraceOption& options)
{
    m_Width = options.ChartType.WidthSeries.RoundToSeries(m_Width, resolution);
}

// ---- arc merging ----------------------------------------------------------

bool CArc::MatchForMerge(const CArc& other, frDoublePoint* centre, double* radius, double* start, double* end) const
{
    return MatchForMerge(other, centre, radius, start, end, GetTraceOption());
}

bool CArc::MatchForMerge(const CArc& other, frDoublePoint* centre, double* radius, double* start, double* end,
                         const CTraceOption& options) const
{
    // The connect distance is never negative; it is read as unsigned.
    const double t = static_cast<unsigned>(options.ChartType.i_ConDis);
    auto meet = [t](const frDoublePoint& a, const frDoublePoint& b) {
        return std::fabs(a.x - b.x) <= t && std::fabs(a.y - b.y) <= t;
    };
    const bool atStart = meet(m_StartPoint, other.m_EndPoint);
    const bool atEnd = meet(m_EndPoint, other.m_StartPoint);
    if (!atStart && !atEnd)
        return false;

    frDoublePoint c;
    double r = 0, a1 = 0, a2 = 0;
    if (atStart && atEnd) {
        c = Midway(m_Centre, other.m_Centre);
        r = (m_Radius + other.m_Radius) * 0.5;
    } else {
        // The merged arc runs from the free end of the one to the free end of
        // the other, through the middle of the junction.
        const frDoublePoint& first = atStart ? other.m_StartPoint : m_StartPoint;
        const frDoublePoint& last = atStart ? m_EndPoint : other.m_EndPoint;
        const frDoublePoint junction =
            atStart ? Midway(m_StartPoint, other.m_EndPoint) : Midway(m_EndPoint, other.m_StartPoint);
        if (!BulgeFromThreePoints(first, junction, last, &c, &r))
            return false;
        a1 = AngleAbout(c, first);
        a2 = AngleAbout(c, last);
    }

    frDoublePoint middleA, middleB;
    GetMidPoint(&middleA);
    other.GetMidPoint(&middleB);
    const frDoublePoint* checks[6] = {&m_StartPoint,     &m_EndPoint, &other.m_StartPoint,
                                      &other.m_EndPoint, &middleA,    &middleB};
    for (const frDoublePoint* p : checks) {
        const double dx = p->x - c.x, dy = p->y - c.y;
        const double squared = dx * dx + dy * dy;
        const double distance = squared < 1e-15 ? 0.0 : std::sqrt(squared);
        if (!(std::fabs(distance - r) <= t * 0.5))
            return false;
    }
    centre->x = c.x;
    centre->y = c.y;
    centre->z = 0;
    *radius = r;
    *start = a1;
    *end = a2;
    return true;
}

// ---- project records ------------------------------------------------------

bool CCircle::Save(std::FILE* file)
{
    return CEntity::Save(file) && WriteProjectF64(file, m_Centre.x) && WriteProjectF64(file, m_Centre.y) &&
           WriteProjectF64(file, m_Centre.z) && WriteProjectF64(file, m_Radius);
}

bool CCircle::Load(std::FILE* file)
{
    FreeFlatList();
    m_Modified = true;
    frDoublePoint centre;
    double radius = 0;
    if (!CEntity::Load(file) || !ReadProjectF64(file, centre.x) || !ReadProjectF64(file, centre.y) ||
        !ReadProjectF64(file, centre.z) || !ReadProjectF64(file, radius))
        return false;
    // No value can stand in for a damaged centre or radius.
    if (!IsCoordinateInRange(centre.x) || !IsCoordinateInRange(centre.y) || !IsCoordinateInRange(radius))
        return false;
    m_Centre = centre;
    m_Radius = std::fabs(radius);
    return true;
}

bool CArc::Save(std::FILE* file)
{
    return CCircle::Save(file) && WriteProjectF64(file, m_StartAngle) && WriteProjectF64(file, m_EndAngle);
}

bool CArc::Load(std::FILE* file)
{
    double start = 0, end = 0;
    if (!CCircle::Load(file) || !ReadProjectF64(file, start) || !ReadProjectF64(file, end))
        return false;
    if (!IsCoordinateInRange(start) || !IsCoordinateInRange(end))
        return false;
    // Taken as stored: a saved arc comes back exactly as it was.
    m_StartAngle = start;
    m_EndAngle = end;
    UpdateEndPoints();
    return true;
}
