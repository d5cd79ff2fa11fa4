// CPolyLine: the vertex ring and its upkeep, the simple queries, copies and
// the project record. Flattening, length, extents, drawing and hit tests are
// in polyline_flatten.cpp.
#include "model/polyline.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "model/constants.h"
#include "model/geometry.h"
#include "trace/trace_option.h"

namespace {

frDoublePoint ToPoint(const CVertex& v) { return {v.x, v.y, v.z}; }

// Deletes a ring of vertices; the ring may be null.
void DeleteRing(CVertex* head)
{
    if (head == nullptr)
        return;
    head->prev->next = nullptr;  // open the ring so the walk ends
    while (head) {
        CVertex* next = head->next;
        delete head;
        head = next;
    }
}

// Links v behind the tail of the ring whose head is `head`.
void LinkAtTail(CVertex*& head, CVertex* v)
{
    if (head == nullptr) {
        v->next = v->prev = v;
        head = v;
        return;
    }
    CVertex* tail = head->prev;
    v->prev = tail;
    v->next = head;
    tail->next = v;
    head->prev = v;
}

bool WriteVertexRecord(std::FILE* file, const CVertex& v)
{
    return WriteProjectF64(file, v.x) && WriteProjectF64(file, v.y) && WriteProjectF64(file, v.startWidth) &&
           WriteProjectF64(file, v.endWidth) && WriteProjectF64(file, v.bulge);
}

bool ReadVertexRecord(std::FILE* file, CVertex& v)
{
    return ReadProjectF64(file, v.x) && ReadProjectF64(file, v.y) && ReadProjectF64(file, v.startWidth) &&
           ReadProjectF64(file, v.endWidth) && ReadProjectF64(file, v.bulge);
}

}  // namespace

CPolyLine::CPolyLine() { m_Type = ENTITY_POLYLINE; }

CPolyLine::CPolyLine(DeferredId id) : CEntity(id) { m_Type = ENTITY_POLYLINE; }

CPolyLine::~CPolyLine() { RemoveAllVertices(); }

// ---- the vertex ring ------------------------------------------------------

bool CPolyLine::AddVertex(CVertex* v, bool deleteDuplicate)
{
    if (v == nullptr)
        return false;
    if (m_Head && v->x == m_Head->prev->x && v->y == m_Head->prev->y) {
        if (deleteDuplicate)
            delete v;
        return false;
    }
    LinkAtTail(m_Head, v);
    if (m_AllStraight && IsArcBulge(v->bulge))
        m_AllStraight = false;
    return true;
}

void CPolyLine::AppendMerging(CVertex* v)
{
    CVertex* tail = GetTail();
    if (tail && v->x == tail->x && v->y == tail->y) {
        // The repeat begins the next segment; the tail begins it instead.
        tail->bulge = v->bulge;
        tail->startWidth = v->startWidth;
        tail->endWidth = v->endWidth;
        if (IsArcBulge(tail->bulge))
            m_AllStraight = false;
        delete v;
        return;
    }
    AddVertex(v, true);
}

bool CPolyLine::AddPoint(double x, double y) { return AddPointWidth(x, y, 0.0); }

bool CPolyLine::AddPointWidth(double x, double y, double startWidth)
{
    CVertex* v = new (std::nothrow) CVertex(x, y, startWidth, 0.0, 0);
    return v != nullptr && AddVertex(v, true);
}

void CPolyLine::RemoveVertex(CVertex* v)
{
    if (v == nullptr || m_Head == nullptr)
        return;
    // Flat points link their source vertex; none may outlive it.
    ClearFlatList();
    m_Head = RemoveVertexFromRing(m_Head, v);
    delete v;
}

void CPolyLine::RemoveAllVertices()
{
    ClearFlatList();
    DeleteRing(m_Head);
    m_Head = nullptr;
    m_AllStraight = true;
}

// ---- the flattened ring ---------------------------------------------------

CVertex* CPolyLine::AddFlatPoint(double x, double y, double width)
{
    CVertex* v = new (std::nothrow) CVertex(x, y, width, width, 0);
    if (v)
        LinkAtTail(m_FlatHead, v);
    return v;
}

void CPolyLine::ClearFlatList()
{
    DeleteRing(m_FlatHead);
    m_FlatHead = nullptr;
}

// ---- simple queries -------------------------------------------------------

frDoublePoint CPolyLine::GetStartPoint() const { return m_Head ? ToPoint(*m_Head) : frDoublePoint{}; }

frDoublePoint CPolyLine::GetEndPoint() const { return m_Head ? ToPoint(*m_Head->prev) : frDoublePoint{}; }

bool CPolyLine::HasPointsAtLeast(int n) const
{
    if (n <= 0)
        return true;
    if (m_Head == nullptr)
        return false;
    const CVertex* v = m_Head;
    for (int seen = 1; seen < n; ++seen) {
        v = v->next;
        if (v == m_Head)
            return false;
    }
    return true;
}

int CPolyLine::GetPointCount() const
{
    if (m_Head == nullptr)
        return 0;
    int count = 0;
    const CVertex* v = m_Head;
    do {
        ++count;
        v = v->next;
    } while (v != m_Head);
    return count;
}

bool CPolyLine::IsSingleSegment() const { return m_Head == nullptr || m_Head->next->next == m_Head; }

bool CPolyLine::IsDegenerate() const { return m_Head == nullptr || m_Head->next == m_Head; }

double CPolyLine::GetWidth() const { return m_Head ? m_Head->startWidth : m_Width; }

void CPolyLine::SetWidth(double width)
{
    m_Width = width;
    if (m_Head == nullptr)
        return;
    CVertex* v = m_Head;
    do {
        v->startWidth = v->endWidth = width;
        v = v->next;
    } while (v != m_Head);
    // Flat points carry copies of the widths.
    m_Modified = true;
}

void CPolyLine::GetEndSegment(frDoublePoint* end, frDoublePoint* direction)
{
    GetEndSegment(end, direction, GetTraceOption());
}

void CPolyLine::GetEndSegment(frDoublePoint* end, frDoublePoint* direction, const CTraceOption& options) const
{
    if (m_Head == nullptr)
        return;
    const bool atHead = m_ActiveEnd == 0;
    const CVertex* endVertex = atHead ? m_Head : m_Head->prev;
    const CVertex* inner = atHead ? endVertex->next : endVertex->prev;
    const CVertex* segmentStart = atHead ? m_Head : inner;  // its start width is the end segment's
    const CVertex* further = atHead ? inner->next : inner->prev;
    end->x = endVertex->x;
    end->y = endVertex->y;
    direction->x = inner->x;
    direction->y = inner->y;
    if (IsSingleSegment())
        return;

    // A last segment much shorter than the line's width or the connect
    // distance would point the end anywhere; look one vertex further.
    const frDoublePoint e = ToPoint(*endVertex), d = ToPoint(*inner), f = ToPoint(*further);
    const double length = PointDistance(&e, &d);
    const double reach =
        std::max(static_cast<double>(static_cast<unsigned>(options.ChartType.i_ConDis)), segmentStart->startWidth);
    const double next = PointDistance(&d, &f);
    if (1.5 * reach > length && next > 0 && length / next < 0.05) {
        direction->x = further->x;
        direction->y = further->y;
    }
}

// ---- copies ---------------------------------------------------------------

bool CPolyLine::CopyVerticesFrom(const CPolyLine& other)
{
    if (other.m_Head == nullptr)
        return true;
    const CVertex* s = other.m_Head;
    do {
        CVertex* v = new (std::nothrow) CVertex(*s);
        if (v == nullptr)
            return false;
        v->next = v->prev = nullptr;
        AppendMerging(v);
        s = s->next;
    } while (s != other.m_Head);
    return true;
}

void CPolyLine::CopyFrom(const CEntity* other)
{
    const auto* source = dynamic_cast<const CPolyLine*>(other);
    if (source == nullptr || source == this)
        return;
    CEntity::CopyFrom(other);
    m_Type = ENTITY_POLYLINE;
    RemoveAllVertices();
    if (CopyVerticesFrom(*source))
        m_Modified = true;
}

std::unique_ptr<CEntity> CPolyLine::Clone() const
{
    std::unique_ptr<CPolyLine> copy(new (std::nothrow) CPolyLine);
    if (!copy)
        return nullptr;
    copy->CEntity::CopyFrom(this);
    copy->m_Type = ENTITY_POLYLINE;
    // A clone missing vertices would silently change the drawing.
    if (!copy->CopyVerticesFrom(*this))
        return nullptr;
    copy->m_Modified = true;
    return copy;
}

// ---- project record -------------------------------------------------------

bool CPolyLine::Save(std::FILE* file)
{
    if (!CEntity::Save(file))
        return false;
    const int count = GetPointCount();
    if (!WriteProjectF64(file, m_Reserved) || !WriteProjectF64(file, m_FlatStep) ||
        !WriteProjectU8(file, m_AllStraight ? 1 : 0) || !WriteProjectU32(file, static_cast<std::uint32_t>(count)))
        return false;
    if (m_Head == nullptr)
        return true;
    const CVertex* v = m_Head;
    do {
        if (!WriteVertexRecord(file, *v))
            return false;
        v = v->next;
    } while (v != m_Head);
    return true;
}

bool CPolyLine::Load(std::FILE* file)
{
    RemoveAllVertices();
    m_Modified = true;
    if (!CEntity::Load(file))
        return false;
    double reserved = 0, step = 0;
    std::uint8_t allStraight = 1;
    std::uint32_t count = 0;
    if (!ReadProjectF64(file, reserved) || !ReadProjectF64(file, step) || !ReadProjectU8(file, allStraight) ||
        !ReadProjectU32(file, count))
        return false;
    m_Reserved = reserved;
    m_FlatStep = std::isfinite(step) ? step : 0.0;
    // The flag only ever falls while vertices arrive, so an arc is never
    // routed past the flattening even when the stored flag claims otherwise.
    m_AllStraight = allStraight != 0;

    const long remaining = ProjectBytesLeft(file);
    if (remaining >= 0 && count > static_cast<unsigned long>(remaining) / POLYLINE_VERTEX_RECORD_SIZE)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        CVertex record;
        if (!ReadVertexRecord(file, record))
            return false;
        // No coordinate can stand in for a damaged one; widths and bulges can.
        if (!IsCoordinateInRange(record.x) || !IsCoordinateInRange(record.y))
            return false;
        if (!IsCoordinateInRange(record.startWidth) || record.startWidth < 0)
            record.startWidth = 0;
        if (!IsCoordinateInRange(record.endWidth) || record.endWidth < 0)
            record.endWidth = 0;
        if (!IsCoordinateInRange(record.bulge))
            record.bulge = 0;
        CVertex* v = new (std::nothrow) CVertex(record);
        if (v == nullptr)
            return false;
        AppendMerging(v);
    }
    return true;
}
