// A layer: its entity chain, selection, copies, the project block and the
// DXF LAYER record.
#include "model/layer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "model/dxf_import.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/polyline.h"
#include "model/undo.h"
#include "platform/number_text.h"
#include "trace/trace_option.h"

namespace {
// Layer colours are indexes 1..255; anything else read from a file gets the
// DXF default, white.
constexpr std::int32_t kMaxLayerColor = 255;
constexpr std::int32_t kDefaultLayerColor = 7;
}  // namespace

std::string ClampLayerName(const std::string& name)
{
    std::size_t length = std::min(name.find('\0'), name.size());
    if (length > MAX_LAYER_NAME) {
        length = MAX_LAYER_NAME;
        // Back off to the lead byte of a sequence the cut would split.
        while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
            --length;
    }
    return name.substr(0, length);
}

bool LayerNamesEqual(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

CLayer::CLayer() : m_Id(TakeNextId()), m_Color(static_cast<std::int32_t>(GetTraceOption().c_NormalColorIndex)) {}

CLayer::~CLayer() { CLayer::DeleteAll(); }

// ---- virtual operations ---------------------------------------------------

void CLayer::DeleteAll()
{
    CEntity* entity = m_First;
    m_First = m_Last = nullptr;
    m_Count = 0;
    m_Live = 0;
    while (entity) {
        CEntity* next = entity->m_Next;
        delete entity;
        entity = next;
    }
}

void CLayer::Draw(CFrDevice* device)
{
    if (!IsVisible() || device == nullptr)
        return;
    for (CEntity* e = m_First; e; e = e->m_Next)
        e->Draw(device);
}

bool CLayer::GetExtents(double* merge, double* box)
{
    // Entities without extents (an empty polyline) are skipped rather than
    // leaving an unwritten box to merge into.
    double result[4];
    double scratch[4];
    bool found = false;
    for (CEntity* e = m_First; e; e = e->m_Next) {
        if (!found)
            found = e->GetExtents(nullptr, result);
        else
            (void)e->GetExtents(result, scratch);
    }
    if (!found)
        return false;
    std::memcpy(box, result, sizeof result);
    if (merge)
        MergeExtents(merge, result);
    return true;
}

namespace {
void MarkSelected(CEntity* e, bool resetCursor, const EntityCollector& collect)
{
    e->m_Selected = true;
    if (resetCursor)
        e->m_CurVertex = e->m_CurOutline = 1;
    e->OnSelect();
    if (collect)
        collect(e);
}
}  // namespace

bool CLayer::SelectCrossing(const frDoublePoint& boxMin, const frDoublePoint& boxMax, const EntityCollector& collect)
{
    bool any = false;
    for (CEntity* e = m_First; e; e = e->m_Next) {
        if (e->m_Selected || !e->IntersectRect(boxMin, boxMax))
            continue;
        MarkSelected(e, true, collect);
        any = true;
    }
    return any;
}

bool CLayer::SelectWindow(const frDoublePoint& boxMin, const frDoublePoint& boxMax, const EntityCollector& collect)
{
    bool any = false;
    for (CEntity* e = m_First; e; e = e->m_Next) {
        if (e->m_Selected || !e->InsideRect(boxMin, boxMax))
            continue;
        MarkSelected(e, true, collect);
        any = true;
    }
    return any;
}

void CLayer::SelectAll(bool select, const EntityCollector& collect)
{
    for (CEntity* e = m_First; e; e = e->m_Next) {
        if (select)
            MarkSelected(e, false, collect);
        else
            e->m_Selected = false;
    }
}

// ---- name -----------------------------------------------------------------

bool CLayer::SetName(const std::string& name)
{
    std::string clamped = ClampLayerName(name);
    if (clamped.empty() || LayerNamesEqual(clamped, m_Name))
        return false;
    std::string oldName = std::exchange(m_Name, std::move(clamped));
    if (m_Owner)
        m_Owner->OnLayerRenamed(this, oldName);
    return true;
}

void CLayer::SetSavedName(const std::string& name) { m_SavedName = ClampLayerName(name); }

// ---- entity chain ---------------------------------------------------------

namespace {
// An entity already linked somewhere would corrupt two chains at once.
bool IsLinked(const CEntity* e, const CEntity* first) { return e == first || e->m_Next || e->m_Prev; }
}  // namespace

bool CLayer::AddEntity(CEntity* entity)
{
    if (entity == nullptr || IsLinked(entity, m_First))
        return false;
    entity->m_Layer = this;
    entity->m_Next = nullptr;
    entity->m_Prev = m_Last;
    if (m_Last)
        m_Last->m_Next = entity;
    else
        m_First = entity;
    m_Last = entity;
    ++m_Live;
    return true;
}

bool CLayer::AddEntityFront(CEntity* entity)
{
    if (entity == nullptr || IsLinked(entity, m_First))
        return false;
    entity->m_Layer = this;
    entity->m_Prev = nullptr;
    entity->m_Next = m_First;
    if (m_First)
        m_First->m_Prev = entity;
    else
        m_Last = entity;
    m_First = entity;
    ++m_Live;
    return true;
}

void CLayer::RemoveEntity(CEntity* entity)
{
    if (entity == nullptr || entity->m_Layer != this)
        return;
    // Not in the chain (removed before): unlinking would cut the chain.
    if ((entity->m_Prev == nullptr && m_First != entity) || (entity->m_Next == nullptr && m_Last != entity))
        return;
    if (entity->m_Prev)
        entity->m_Prev->m_Next = entity->m_Next;
    else
        m_First = entity->m_Next;
    if (entity->m_Next)
        entity->m_Next->m_Prev = entity->m_Prev;
    else
        m_Last = entity->m_Prev;
    entity->m_Next = entity->m_Prev = nullptr;
    --m_Live;
}

CEntity* CLayer::FindEntity(std::uint32_t id) const
{
    for (CEntity* e = m_First; e; e = e->m_Next)
        if (e->m_Id == id)
            return e;
    return nullptr;
}

std::int32_t CLayer::GetCount() const
{
    if (m_Owner && m_Owner->GetModificationMark() != m_CountMark)
        return 0;
    return m_Count;
}

std::int32_t CLayer::CountEntities()
{
    m_Count = m_Live;
    m_CountMark = m_Owner ? m_Owner->GetModificationMark() : 0;
    return m_Live;
}

// ---- operations on every entity -------------------------------------------

void CLayer::SetWidthAll(double width)
{
    for (CEntity* e = m_First; e; e = e->m_Next)
        e->SetWidth(width);
}

void CLayer::OverrideColors(std::int32_t color)
{
    for (CEntity* e = m_First; e; e = e->m_Next) {
        e->m_SavedColor = e->m_Color;
        if (color >= 0)
            e->m_Color = static_cast<std::int16_t>(color);
    }
}

void CLayer::RestoreColors()
{
    for (CEntity* e = m_First; e; e = e->m_Next)
        e->m_Color = e->m_SavedColor;
}

bool CLayer::GetSelectedInfo(std::vector<std::string>* lines, std::size_t maxLines, std::size_t* skipped)
{
    bool any = false;
    std::size_t left = skipped != nullptr ? *skipped : 0;
    std::vector<std::string> own;
    for (CEntity* e = m_First; e; e = e->m_Next) {
        if (!e->m_Selected)
            continue;
        any = true;
        if (left > 0) {
            ++left;
            continue;
        }
        own.clear();
        e->GetInfo(&own);
        if (!lines->empty() && lines->size() + own.size() > maxLines) {
            left = 1;
            continue;
        }
        lines->insert(lines->end(), std::make_move_iterator(own.begin()), std::make_move_iterator(own.end()));
    }
    if (skipped != nullptr)
        *skipped = left;
    return any;
}

void CLayer::CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                             std::vector<CSnapSegment>& segments)
{
    for (CEntity* e = m_First; e; e = e->m_Next)
        e->CollectSegments(boxMin, boxMax, segments);
}

int CLayer::ExplodePolylines(bool all, CVectorUndoItem* undo)
{
    int exploded = 0;
    CEntity* e = m_First;
    while (e) {
        CEntity* next = e->m_Next;  // pieces go to the front, never ahead of us
        auto* polyline = e->m_Type == ENTITY_POLYLINE ? dynamic_cast<CPolyLine*>(e) : nullptr;
        if (polyline && (all || e->m_Selected)) {
            // The deletion is recorded after the pieces, so undo brings the
            // polyline back before it takes the pieces away.
            std::unique_ptr<CVectorUndoData> record;
            if (undo) {
                record.reset(new (std::nothrow) CVectorUndoData);
                if (!record || !record->Set(polyline, UNDO_ENTITY_DELETED))
                    record.reset();
            }
            if ((undo == nullptr || record) && polyline->Explode(undo)) {
                if (record)
                    (void)undo->AddData(std::move(record));
                RemoveEntity(polyline);
                delete polyline;
                ++exploded;
            }
        }
        e = next;
    }
    return exploded;
}

// ---- copies ---------------------------------------------------------------

void CLayer::CopyAttributes(const CLayer& other)
{
    if (&other == this)
        return;
    m_Id = other.m_Id;
    m_Name = other.m_Name;
    m_Color = other.m_Color;
    m_Visible = other.m_Visible;
    m_Owner = other.m_Owner;
}

bool CLayer::CopyFrom(const CLayer& other)
{
    if (&other == this)
        return true;
    CopyAttributes(other);
    DeleteAll();
    bool complete = true;
    for (const CEntity* e = other.m_First; e; e = e->m_Next) {
        std::unique_ptr<CEntity> clone = e->Clone();
        if (!clone) {
            complete = false;
            continue;
        }
        // A copy is in no selection set, so it must not carry the flag.
        clone->m_Selected = false;
        AddEntity(clone.release());
    }
    return complete;
}

void CLayer::MoveEntitiesFrom(CLayer& other)
{
    if (&other == this || other.m_First == nullptr)
        return;
    for (CEntity* e = other.m_First; e; e = e->m_Next)
        e->m_Layer = this;
    other.m_First->m_Prev = m_Last;
    if (m_Last)
        m_Last->m_Next = other.m_First;
    else
        m_First = other.m_First;
    m_Last = other.m_Last;
    m_Live += other.m_Live;
    other.m_First = other.m_Last = nullptr;
    other.m_Count = 0;
    other.m_Live = 0;
}

bool CLayer::DistributeToLayers(CLayer* targets, std::uint32_t unit, double resolution)
{
    // Target names are widths in the drawing unit written with four
    // decimals, the decimal point as "_"; the resolution (dots per metre)
    // turns the unit into pixels the way the drawing converts it. An entity
    // belongs to the name its width rounds to, so the comparison allows half
    // of the last decimal, in the unit.
    constexpr double kHalfLastDecimal = 0.00005 * (1 + 1e-9);
    double scale = 0;
    switch (unit) {
    case 0: scale = resolution * 0.0254; break;
    case 1: scale = resolution / 100; break;
    case 2: scale = resolution / 1000; break;
    default: break;
    }
    const bool scaled = unit != 3 && scale > 0;

    bool all = true;
    CEntity* e = m_First;
    while (e) {
        CEntity* next = e->m_Next;
        CLayer* taker = nullptr;
        for (CLayer* t = targets; t && !taker; t = t->GetNext()) {
            if (t == this)
                continue;  // moving to itself would loop for ever
            std::string text = t->GetName();
            if (std::size_t pos = text.find('_'); pos != std::string::npos)
                text[pos] = '.';
            double value = 0;
            if (!ParseDoubleC(text, value))
                continue;
            const double width = scaled ? e->GetWidth() / scale : e->GetWidth();
            if (std::fabs(value - width) <= kHalfLastDecimal)
                taker = t;
        }
        if (taker) {
            RemoveEntity(e);
            taker->AddEntity(e);
        } else {
            all = false;
        }
        e = next;
    }
    return all;
}

// ---- project block --------------------------------------------------------

namespace {
bool WriteName(std::FILE* file, const std::string& name)
{
    // Names are kept within the limit where they are set; the check keeps a
    // bad name from producing a file that cannot be loaded.
    if (name.size() > MAX_LAYER_NAME)
        return false;
    return WriteProjectU32(file, static_cast<std::uint32_t>(name.size())) &&
           WriteProjectBytes(file, name.data(), name.size());
}

bool ReadName(std::FILE* file, std::string& name)
{
    std::uint32_t length = 0;
    if (!ReadProjectU32(file, length) || length > MAX_LAYER_NAME)
        return false;
    char bytes[MAX_LAYER_NAME];
    if (!ReadProjectBytes(file, bytes, length))
        return false;
    name = ClampLayerName(std::string(bytes, length));
    return true;
}
}  // namespace

bool CLayer::Write(std::FILE* file)
{
    const std::int32_t count = CountEntities();
    if (!WriteProjectU32(file, m_Id) || !WriteName(file, m_Name) || !WriteName(file, m_SavedName) ||
        !WriteProjectU8(file, m_Visible ? 1 : 0) || !WriteProjectI32(file, m_Color) ||
        !WriteProjectU32(file, static_cast<std::uint32_t>(count)))
        return false;
    for (CEntity* e = m_First; e; e = e->m_Next)
        if (!e->Save(file))
            return false;
    return true;
}

bool CLayer::Read(std::FILE* file)
{
    DeleteAll();
    std::uint32_t id = 0, count = 0;
    std::uint8_t visible = 0;
    std::int32_t color = 0;
    std::string name, savedName;
    if (!ReadProjectU32(file, id) || !ReadName(file, name) || !ReadName(file, savedName) ||
        !ReadProjectU8(file, visible) || !ReadProjectI32(file, color) || !ReadProjectU32(file, count))
        return false;
    m_Id = id;
    RaiseIdCounter(id);
    m_Name = std::move(name);
    m_SavedName = std::move(savedName);
    m_Visible = visible ? 1 : 0;
    // A layer's colour is an index; what is no index gets the DXF default.
    m_Color = color >= 1 && color <= kMaxLayerColor ? color : kDefaultLayerColor;
    // Each record is at least a type code long, so a huge count ends at the
    // end of the file rather than in memory.
    for (std::uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<CEntity> entity = CreateEntityFromProject(file);
        if (!entity)
            return false;
        AddEntity(entity.release());
    }
    return true;
}

// ---- DXF LAYER record -----------------------------------------------------

bool CLayer::ReadDXF(std::FILE* file)
{
    // DXF's own default, not the one the options give new layers.
    m_Color = kDefaultLayerColor;
    bool nameRead = false;
    const bool ended = ReadDxfRecord(file, [&](const CDxfPair& pair) {
        if (pair.code == 2 && !pair.value.empty()) {
            SetName(DxfNameToUtf8(pair.value));
            nameRead = true;
        } else if (pair.code == 62) {
            std::int32_t color = 0;
            if (!ParseDxfInt(pair.value, color))
                color = kDefaultLayerColor;
            // A negative colour is how DXF marks a layer that is turned off.
            SetVisible(color >= 0);
            if (color < 0)
                color = color == INT32_MIN ? 0 : -color;
            m_Color = color >= 1 && color <= kMaxLayerColor ? color : kDefaultLayerColor;
        }
        return true;
    });
    return ended && nameRead;
}
