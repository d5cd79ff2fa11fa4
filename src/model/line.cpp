// CLine: ends and their cached length, drawing, hit tests, snap segments,
// grips, copies and the project record; the small vertex helpers.
#include "model/line.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "model/device.h"
#include "model/geometry.h"

namespace {

frDoublePoint ToPoint(const CVertex& v) { return {v.x, v.y, v.z}; }

}  // namespace

// ---- vertex helpers -------------------------------------------------------

void CopyVertex(CVertex* to, const CVertex* from)
{
    if (to == nullptr || from == nullptr || to == from)
        return;
    to->x = from->x;
    to->y = from->y;
    to->z = from->z;
    to->bulge = from->bulge;
    to->startWidth = from->startWidth;
    to->endWidth = from->endWidth;
    to->flags = from->flags;
    to->source = from->source;
    to->mark = from->mark;
}

double VectorAngle(frDoublePoint a, frDoublePoint b)
{
    const double la = std::sqrt(a.x * a.x + a.y * a.y);
    if (la > 0)
        a.x /= la, a.y /= la;
    const double lb = std::sqrt(b.x * b.x + b.y * b.y);
    if (lb > 0)
        b.x /= lb, b.y /= lb;
    return std::acos(std::clamp(a.x * b.x + a.y * b.y, -1.0, 1.0));
}

// ---- construction and ends ------------------------------------------------

CLine::CLine()
{
    m_Type = ENTITY_LINE;
    UpdateLength();
}

CLine::~CLine()
{
    m_Start.source = m_Start.next = m_Start.prev = nullptr;
    m_End.source = m_End.next = m_End.prev = nullptr;
}

void CLine::UpdateLength()
{
    const frDoublePoint s = ToPoint(m_Start), e = ToPoint(m_End);
    m_Length = PointDistance(&s, &e);
}

void CLine::SetStart(double x, double y)
{
    m_Start.x = x;
    m_Start.y = y;
    UpdateLength();
}

void CLine::SetEnd(double x, double y)
{
    m_End.x = x;
    m_End.y = y;
    UpdateLength();
}

void CLine::SetEnds(const frDoublePoint& start, const frDoublePoint& end)
{
    m_Start.x = start.x, m_Start.y = start.y, m_Start.z = start.z;
    m_End.x = end.x, m_End.y = end.y, m_End.z = end.z;
    UpdateLength();
}

frDoublePoint CLine::GetStartPoint() const { return ToPoint(m_Start); }

frDoublePoint CLine::GetEndPoint() const { return ToPoint(m_End); }

void CLine::SetWidth(double width)
{
    m_Width = width;
    m_Start.startWidth = m_Start.endWidth = width;
    m_End.startWidth = m_End.endWidth = width;
}

// ---- drawing and hit tests ------------------------------------------------

void CLine::Draw(CFrDevice* device)
{
    if (device == nullptr)
        return;
    m_Drawn = device->DrawEntityLine(m_Start, m_End, GetDrawColorIndex(), m_Selected);
}

bool CLine::IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax)
{
    if (!m_Drawn)
        return false;
    if (InsideRect(boxMin, boxMax))
        return true;  // also refreshes m_Extents
    if (m_Extents[EXT_MAX_X] < boxMin.x || m_Extents[EXT_MAX_Y] < boxMin.y || m_Extents[EXT_MIN_X] > boxMax.x ||
        m_Extents[EXT_MIN_Y] > boxMax.y)
        return false;
    return SegmentCrossesRect(ToPoint(m_Start), ToPoint(m_End), boxMin, boxMax);
}

void CLine::CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                            std::vector<CSnapSegment>& segments)
{
    if (!IntersectRect(boxMin, boxMax))
        return;
    CSnapSegment segment;
    segment.kind = CSnapSegment::kLine;
    segment.modes = -1;  // every mode
    segment.start = ToPoint(m_Start);
    segment.end = ToPoint(m_End);
    segments.push_back(segment);
}

bool CLine::GetExtents(double* merge, double* box)
{
    box[EXT_MIN_X] = std::min(m_Start.x, m_End.x);
    box[EXT_MAX_X] = std::max(m_Start.x, m_End.x);
    box[EXT_MIN_Y] = std::min(m_Start.y, m_End.y);
    box[EXT_MAX_Y] = std::max(m_Start.y, m_End.y);
    if (merge)
        MergeExtents(merge, box);
    return true;
}

// ---- grips ----------------------------------------------------------------

void CLine::AddGrips(CSelectNode* tag, CGripRecord** grips)
{
    const frDoublePoint middle((m_Start.x + m_End.x) * 0.5, (m_Start.y + m_End.y) * 0.5, 0);
    if (AddGrip(ToPoint(m_Start), tag, 0, grips) && AddGrip(middle, tag, 1, grips))
        (void)AddGrip(ToPoint(m_End), tag, 2, grips);
}

bool CLine::MoveGrip(double x, double y, double z, int index)
{
    frDoublePoint start = ToPoint(m_Start), end = ToPoint(m_End);
    switch (index) {
    case 0: start = {x, y, z}; break;
    case 2: end = {x, y, z}; break;
    case 1: {
        const double dx = x - (start.x + end.x) * 0.5, dy = y - (start.y + end.y) * 0.5;
        start.x += dx, start.y += dy;
        end.x += dx, end.y += dy;
        break;
    }
    default: return false;  // the line offers no other grip
    }
    SetEnds(start, end);
    return true;
}

// ---- copies ---------------------------------------------------------------

void CLine::CopyFrom(const CEntity* other)
{
    const auto* source = dynamic_cast<const CLine*>(other);
    if (source == nullptr || source == this)
        return;
    CEntity::CopyFrom(other);
    CopyVertex(&m_Start, &source->m_Start);
    CopyVertex(&m_End, &source->m_End);
    UpdateLength();
}

std::unique_ptr<CEntity> CLine::Clone() const
{
    std::unique_ptr<CLine> copy(new (std::nothrow) CLine);
    if (copy)
        copy->CopyFrom(this);
    return copy;
}

// ---- project record -------------------------------------------------------

bool CLine::Save(std::FILE* file)
{
    return CEntity::Save(file) && WriteProjectF64(file, m_Start.x) && WriteProjectF64(file, m_Start.y) &&
           WriteProjectF64(file, m_End.x) && WriteProjectF64(file, m_End.y);
}

bool CLine::Load(std::FILE* file)
{
    frDoublePoint start, end;
    if (!CEntity::Load(file) || !ReadProjectF64(file, start.x) || !ReadProjectF64(file, start.y) ||
        !ReadProjectF64(file, end.x) || !ReadProjectF64(file, end.y))
        return false;
    // No value can stand in for a damaged coordinate.
    if (!IsCoordinateInRange(start.x) || !IsCoordinateInRange(start.y) || !IsCoordinateInRange(end.x) ||
        !IsCoordinateInRange(end.y))
        return false;
    // The stored length may be stale or damaged; the ends decide it.
    SetEnds(start, end);
    SetWidth(m_Width);
    return true;
}
