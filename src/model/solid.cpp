// CSolid: the vertex ring, drawing, hit tests, snap segments, grips, copies
// and the project record.
#include "model/solid.h"

#include <cmath>
#include <new>
#include <utility>

#include "model/device.h"
#include "model/geometry.h"

namespace {

frDoublePoint ToPoint(const CVertex& v) { return {v.x, v.y, v.z}; }

}  // namespace

CSolid::CSolid() { m_Type = ENTITY_SOLID; }

CSolid::~CSolid() { RemoveAllVertices(); }

// ---- the vertex ring ------------------------------------------------------

void CSolid::Relink()
{
    for (int i = 0; i < SOLID_MAX_VERTICES; ++i) {
        CVertex& v = m_Vertices[i];
        const bool used = i < m_Count;
        v.next = used ? &m_Vertices[(i + 1) % m_Count] : nullptr;
        v.prev = used ? &m_Vertices[(i + m_Count - 1) % m_Count] : nullptr;
    }
}

bool CSolid::AppendVertex(const CVertex& v)
{
    if (m_Count >= SOLID_MAX_VERTICES)
        return false;
    CVertex& slot = m_Vertices[m_Count++];
    slot = v;
    slot.source = nullptr;
    Relink();
    return true;
}

bool CSolid::AddPoint(double x, double y)
{
    CVertex v;
    v.x = x;
    v.y = y;
    return AppendVertex(v);
}

void CSolid::RemoveAllVertices()
{
    for (CVertex& v : m_Vertices)
        v = CVertex();
    m_Count = 0;
}

void CSolid::SwapLastTwo()
{
    if (m_Count < 3)
        return;
    // Exchanging the contents keeps the ring's links where they are.
    CVertex& a = m_Vertices[m_Count - 2];
    CVertex& b = m_Vertices[m_Count - 1];
    std::swap(a.x, b.x), std::swap(a.y, b.y), std::swap(a.z, b.z);
    std::swap(a.startWidth, b.startWidth), std::swap(a.endWidth, b.endWidth);
    std::swap(a.flags, b.flags), std::swap(a.bulge, b.bulge), std::swap(a.mark, b.mark);
}

const CVertex* CSolid::GetVertex(int i) const { return i >= 0 && i < m_Count ? &m_Vertices[i] : nullptr; }

template <typename Visit>
void CSolid::ForEachEdge(Visit visit) const
{
    for (int i = 0; i < m_Count; ++i)
        visit(ToPoint(m_Vertices[i]), ToPoint(m_Vertices[(i + 1) % m_Count]));
}

// ---- drawing and hit tests ------------------------------------------------

void CSolid::Draw(CFrDevice* device)
{
    if (device == nullptr || m_Count < 3)
        return;
    const int color = GetDrawColorIndex();
    m_Drawn = m_Count == 3 ? device->FillPolygonWinding(GetHead(), color, m_Selected)
                           : device->FillPolygon(GetHead(), color, m_Selected);
}

bool CSolid::IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax)
{
    if (!m_Drawn || m_Count < 2)
        return false;
    if (InsideRect(boxMin, boxMax))
        return true;  // also refreshes m_Extents
    if (m_Extents[EXT_MAX_X] < boxMin.x || m_Extents[EXT_MAX_Y] < boxMin.y || m_Extents[EXT_MIN_X] > boxMax.x ||
        m_Extents[EXT_MIN_Y] > boxMax.y)
        return false;
    bool crossed = false;
    ForEachEdge([&](const frDoublePoint& a, const frDoublePoint& b) {
        crossed = crossed || SegmentCrossesRect(a, b, boxMin, boxMax);
    });
    return crossed;
}

void CSolid::CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                             std::vector<CSnapSegment>& segments)
{
    if (!m_Drawn || m_Count < 2)
        return;
    auto add = [&segments](const frDoublePoint& a, const frDoublePoint& b) {
        CSnapSegment segment;
        segment.kind = CSnapSegment::kLine;
        segment.modes = -1;  // every mode
        segment.start = a;
        segment.end = b;
        segments.push_back(segment);
    };
    if (InsideRect(boxMin, boxMax)) {
        // A solid wholly in the box offers one edge, enough to snap to it.
        add(ToPoint(m_Vertices[0]), ToPoint(m_Vertices[1]));
        return;
    }
    if (m_Extents[EXT_MAX_X] < boxMin.x || m_Extents[EXT_MAX_Y] < boxMin.y || m_Extents[EXT_MIN_X] > boxMax.x ||
        m_Extents[EXT_MIN_Y] > boxMax.y)
        return;
    ForEachEdge([&](const frDoublePoint& a, const frDoublePoint& b) {
        if (SegmentCrossesRect(a, b, boxMin, boxMax))
            add(a, b);
    });
}

bool CSolid::GetExtents(double* merge, double* box)
{
    if (m_Count == 0)
        return false;
    double result[4] = {m_Vertices[0].x, m_Vertices[0].x, m_Vertices[0].y, m_Vertices[0].y};
    for (int i = 1; i < m_Count; ++i) {
        const CVertex& v = m_Vertices[i];
        const double point[4] = {v.x, v.x, v.y, v.y};
        MergeExtents(result, point);
    }
    for (int i = 0; i < 4; ++i)
        box[i] = result[i];
    if (merge)
        MergeExtents(merge, box);
    return true;
}

// ---- grips ----------------------------------------------------------------

void CSolid::AddGrips(CSelectNode* tag, CGripRecord** grips)
{
    for (int i = 0; i < m_Count; ++i)
        if (!AddGrip(ToPoint(m_Vertices[i]), tag, i, grips))
            return;
}

bool CSolid::MoveGrip(double x, double y, double z, int index)
{
    if (index < 0 || index >= m_Count)
        return false;
    CVertex& v = m_Vertices[index];
    v.x = x, v.y = y, v.z = z;
    return true;
}

// ---- copies ---------------------------------------------------------------

void CSolid::CopyFrom(const CEntity* other)
{
    const auto* source = dynamic_cast<const CSolid*>(other);
    if (source == nullptr || source == this)
        return;
    CEntity::CopyFrom(other);
    RemoveAllVertices();
    for (int i = 0; i < source->m_Count; ++i)
        AddPoint(source->m_Vertices[i].x, source->m_Vertices[i].y);
}

std::unique_ptr<CEntity> CSolid::Clone() const
{
    std::unique_ptr<CSolid> copy(new (std::nothrow) CSolid);
    if (copy)
        copy->CopyFrom(this);
    return copy;
}

std::unique_ptr<CSolid> NewSolid(frDoublePoint p1, frDoublePoint p2, frDoublePoint p3)
{
    const int side = GetPointSide(p3, p1, p2);
    if (side == 0)
        return nullptr;  // collinear: no area to fill
    std::unique_ptr<CSolid> solid(new (std::nothrow) CSolid);
    if (!solid)
        return nullptr;
    if (side < 0)
        std::swap(p2, p3);
    solid->AddPoint(p1.x, p1.y);
    solid->AddPoint(p2.x, p2.y);
    solid->AddPoint(p3.x, p3.y);
    return solid;
}

// ---- project record -------------------------------------------------------

bool CSolid::Save(std::FILE* file)
{
    if (!CEntity::Save(file) || !WriteProjectU32(file, static_cast<std::uint32_t>(m_Count)))
        return false;
    for (int i = 0; i < m_Count; ++i)
        if (!WriteProjectF64(file, m_Vertices[i].x) || !WriteProjectF64(file, m_Vertices[i].y))
            return false;
    return true;
}

bool CSolid::Load(std::FILE* file)
{
    RemoveAllVertices();
    std::uint32_t count = 0;
    if (!CEntity::Load(file) || !ReadProjectU32(file, count))
        return false;
    // No solid ever saves more corners than it can hold.
    if (count > SOLID_MAX_VERTICES)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        double x = 0, y = 0;
        if (!ReadProjectF64(file, x) || !ReadProjectF64(file, y))
            return false;
        if (!IsCoordinateInRange(x) || !IsCoordinateInRange(y))
            return false;
        AddPoint(x, y);
    }
    return true;
}
