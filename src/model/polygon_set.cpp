// CPolyPolygon: outlines, the point arrays the device fills, grips, copies
// and the project record.
#include "model/polygon_set.h"

#include <algorithm>
#include <new>

#include "model/constants.h"
#include "model/device.h"
#include "model/geometry.h"

namespace {

// The shortest outline record: type code, the rest of the common entity
// record, and the polyline's fixed fields (two f64, u8, u32 vertex count).
constexpr long kMinOutlineRecordSize = 4 + 30 + 8 + 8 + 1 + 4;

}  // namespace

CPolyPolygon::CPolyPolygon()
{
    m_Type = ENTITY_POLYPOLYGON;
    m_Modified = true;
}

CPolyPolygon::~CPolyPolygon() = default;

// ---- outlines -------------------------------------------------------------

bool CPolyPolygon::AddOutline(std::unique_ptr<CPolyLine> outline)
{
    if (!outline || outline->IsDegenerate())
        return false;
    // Every outline bounds the region; an open one would lose its closing
    // segment in the flattening and its closing grip.
    if (!outline->m_Closed) {
        outline->m_Closed = true;
        outline->m_Modified = true;
    }
    outline->m_Next = outline->m_Prev = nullptr;
    m_Outlines.push_back(std::move(outline));
    m_Modified = true;
    return true;
}

void CPolyPolygon::RemoveOutline(CPolyLine* outline)
{
    if (outline == nullptr || m_Outlines.empty() || outline == m_Outlines.front().get())
        return;
    auto found = std::find_if(m_Outlines.begin(), m_Outlines.end(),
                              [outline](const std::unique_ptr<CPolyLine>& o) { return o.get() == outline; });
    if (found == m_Outlines.end())
        return;
    m_Outlines.erase(found);
    m_Modified = true;
}

void CPolyPolygon::RemoveAllOutlines()
{
    m_Outlines.clear();
    ClearPointArrays();
    m_Modified = true;
}

CPolyLine* CPolyPolygon::GetOutline(int i) const
{
    return i >= 0 && i < GetOutlineCount() ? m_Outlines[static_cast<std::size_t>(i)].get() : nullptr;
}

// ---- the point arrays -----------------------------------------------------

bool CPolyPolygon::NeedsRebuild(const CFrDevice* view) const
{
    if (m_Modified)
        return true;
    return std::any_of(m_Outlines.begin(), m_Outlines.end(),
                       [view](const std::unique_ptr<CPolyLine>& o) { return o->NeedsReflatten(view); });
}

void CPolyPolygon::ClearPointArrays()
{
    m_Points.clear();
    m_OutlineCounts.clear();
}

void CPolyPolygon::ReserveOutlineCounts(int n)
{
    if (n <= 0)
        return;
    const std::size_t size = m_OutlineCounts.size(), wanted = static_cast<std::size_t>(n);
    const std::size_t capacity = m_OutlineCounts.capacity();
    if (size + wanted < capacity)
        return;
    // Grow in steps rather than to the exact size: callers reserve one outline
    // at a time, and exact growth copied the array on every outline.
    const std::size_t step = n > 4 ? wanted + 128 : 128;
    m_OutlineCounts.reserve(std::max(capacity + step, capacity + capacity / 2));
}

void CPolyPolygon::AppendOutlinePoints(const CVertex* head)
{
    if (head == nullptr)
        return;
    std::int32_t count = 0;
    const CVertex* v = head;
    do {
        m_Points.emplace_back(v->x, v->y, v->z);
        ++count;
        v = v->next;
    } while (v && v != head);
    m_OutlineCounts.push_back(count);
}

void CPolyPolygon::RebuildPointArrays(const CFrDevice* view)
{
    ClearPointArrays();
    m_Modified = true;
    ReserveOutlineCounts(GetOutlineCount());
    for (std::size_t i = 0; i < m_Outlines.size();) {
        const CVertex* ring = m_Outlines[i]->GetFlatList(view, true);
        if (ring == nullptr && i > 0) {
            m_Outlines.erase(m_Outlines.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        AppendOutlinePoints(ring);
        ++i;
    }
    m_Modified = false;
}

// ---- CEntity --------------------------------------------------------------

void CPolyPolygon::OnSelect()
{
    for (auto& outline : m_Outlines)
        outline->m_CurVertex = 1;
}

int CPolyPolygon::GetPointCount() const
{
    int count = 0;
    for (const auto& outline : m_Outlines)
        count += outline->GetPointCount();
    return count;
}

void CPolyPolygon::Draw(CFrDevice* device)
{
    if (device == nullptr)
        return;
    if (NeedsRebuild(device))
        RebuildPointArrays(device);
    if (m_OutlineCounts.empty())
        return;
    // The set keeps m_Drawn as it is: it stays pickable wherever the view is.
    (void)device->FillPolyPolygon(m_Points.data(), m_OutlineCounts.data(), static_cast<int>(m_OutlineCounts.size()),
                                  GetDrawColorIndex(), m_Selected);
}

bool CPolyPolygon::IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax)
{
    return std::any_of(m_Outlines.begin(), m_Outlines.end(),
                       [&](const std::unique_ptr<CPolyLine>& o) { return o->IntersectRect(boxMin, boxMax); });
}

void CPolyPolygon::CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                                   std::vector<CSnapSegment>& segments)
{
    for (auto& outline : m_Outlines)
        outline->CollectSegments(boxMin, boxMax, segments);
}

int CPolyPolygon::GetGripCount() const
{
    int count = 0;
    for (const auto& outline : m_Outlines)
        count += outline->GetGripCount();
    return count;
}

void CPolyPolygon::AddGrips(CSelectNode* tag, CGripRecord** grips)
{
    if (grips == nullptr)
        return;
    int first = 0;
    for (auto& outline : m_Outlines) {
        // The outline numbers its grips from 0 and pushes them at the head;
        // the records above the old head are its own.
        CGripRecord* before = *grips;
        outline->AddGrips(tag, grips);
        for (CGripRecord* g = *grips; g && g != before; g = g->next)
            g->index += first;
        // Numbered by the count, as MoveGrip walks, even if the outline
        // offered fewer grips than it counts.
        first += outline->GetGripCount();
    }
}

bool CPolyPolygon::MoveGrip(double x, double y, double z, int index)
{
    if (index < 0)
        return false;
    for (auto& outline : m_Outlines) {
        const int count = outline->GetGripCount();
        if (index < count) {
            if (!outline->MoveGrip(x, y, z, index))
                return false;
            m_Modified = true;
            return true;
        }
        index -= count;
    }
    return false;
}

bool CPolyPolygon::GetExtents(double* merge, double* box)
{
    double result[4];
    double scratch[4];
    bool found = false;
    for (auto& outline : m_Outlines) {
        if (!found)
            found = outline->GetExtents(nullptr, result);
        else
            (void)outline->GetExtents(result, scratch);
    }
    if (!found)
        return false;
    for (int i = 0; i < 4; ++i)
        box[i] = result[i];
    if (merge)
        MergeExtents(merge, box);
    return true;
}

// ---- copies ---------------------------------------------------------------

bool CPolyPolygon::CopyOutlinesFrom(const CPolyPolygon& other)
{
    for (const auto& outline : other.m_Outlines) {
        std::unique_ptr<CEntity> copy = outline->Clone();
        auto* polyline = dynamic_cast<CPolyLine*>(copy.get());
        if (polyline == nullptr)
            return false;
        copy.release();
        AddOutline(std::unique_ptr<CPolyLine>(polyline));
    }
    return true;
}

void CPolyPolygon::CopyFrom(const CEntity* other)
{
    const auto* source = dynamic_cast<const CPolyPolygon*>(other);
    if (source == nullptr || source == this)
        return;
    RemoveAllOutlines();
    CEntity::CopyFrom(other);
    (void)CopyOutlinesFrom(*source);
    // Kept with the copy: it is the hatch's seed point on export.
    m_SeedPoint = source->m_SeedPoint;
    m_Modified = true;
}

std::unique_ptr<CEntity> CPolyPolygon::Clone() const
{
    std::unique_ptr<CPolyPolygon> copy(new (std::nothrow) CPolyPolygon);
    if (!copy)
        return nullptr;
    copy->CEntity::CopyFrom(this);
    if (!copy->CopyOutlinesFrom(*this))
        return nullptr;
    copy->m_SeedPoint = m_SeedPoint;
    copy->m_Modified = true;
    return copy;
}

// ---- project record -------------------------------------------------------

bool CPolyPolygon::Save(std::FILE* file)
{
    if (!CEntity::Save(file) || !WriteProjectU32(file, static_cast<std::uint32_t>(m_Outlines.size())))
        return false;
    for (auto& outline : m_Outlines)
        if (!outline->Save(file))
            return false;
    return true;
}

bool CPolyPolygon::Load(std::FILE* file)
{
    RemoveAllOutlines();
    std::uint32_t count = 0;
    if (!CEntity::Load(file) || !ReadProjectU32(file, count))
        return false;
    const long remaining = ProjectBytesLeft(file);
    if (remaining >= 0 && count > static_cast<unsigned long>(remaining / kMinOutlineRecordSize))
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t type = 0;
        if (!ReadProjectU32(file, type))
            return false;
        // Any other class's record would be misread as polyline data.
        if (type != ENTITY_POLYLINE)
            return false;
        std::unique_ptr<CPolyLine> outline(new (std::nothrow) CPolyLine);
        if (!outline || !outline->Load(file))
            return false;
        AddOutline(std::move(outline));
    }
    return true;
}
