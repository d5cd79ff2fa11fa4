// The entity base: common fields, base operations, the id counter, the
// factory table and the project-file primitives.
#include "model/entity.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

#include "model/color_index.h"
#include "model/layer.h"
#include "model/output_records.h"
#include "platform/number_text.h"
#include "trace/trace_option.h"

// ---- extents --------------------------------------------------------------

void MergeExtents(double* into, const double* box)
{
    if (box[EXT_MIN_X] < into[EXT_MIN_X])
        into[EXT_MIN_X] = box[EXT_MIN_X];
    if (box[EXT_MAX_X] > into[EXT_MAX_X])
        into[EXT_MAX_X] = box[EXT_MAX_X];
    if (box[EXT_MIN_Y] < into[EXT_MIN_Y])
        into[EXT_MIN_Y] = box[EXT_MIN_Y];
    if (box[EXT_MAX_Y] > into[EXT_MAX_Y])
        into[EXT_MAX_Y] = box[EXT_MAX_Y];
}

// ---- id counter -----------------------------------------------------------

namespace {
// One counter for the whole process: a counter per drawing let two drawings
// hand out equal ids, and undo records find entities by id.
std::atomic<std::uint32_t> g_NextId{FIRST_ENTITY_ID};
}  // namespace

std::uint32_t TakeNextId()
{
    std::uint32_t current = g_NextId.load(std::memory_order_relaxed);
    for (;;) {
        // 0 means "none"; the ids from the limit up are left to the files.
        const std::uint32_t id = current == 0 || current >= ENTITY_ID_LIMIT ? FIRST_ENTITY_ID : current;
        if (g_NextId.compare_exchange_weak(current, id + 1, std::memory_order_relaxed))
            return id;
    }
}

std::uint32_t GetIdCounter() { return g_NextId.load(std::memory_order_relaxed); }

void RaiseIdCounter(std::uint32_t id)
{
    if (id >= ENTITY_ID_LIMIT)
        return;
    std::uint32_t current = g_NextId.load(std::memory_order_relaxed);
    while (current <= id && !g_NextId.compare_exchange_weak(current, id + 1, std::memory_order_relaxed)) {
    }
}

void ResetIdCounter(std::uint32_t next) { g_NextId.store(next, std::memory_order_relaxed); }

// ---- CEntity --------------------------------------------------------------

CEntity::CEntity()
    : m_Id(TakeNextId()),
      // i_ConDis is never negative; the system reads it as unsigned.
      m_Length(2.0 * static_cast<unsigned>(GetTraceOption().ChartType.i_ConDis))
{}

CEntity::CEntity(DeferredId) : m_Id(0), m_Length(2.0 * static_cast<unsigned>(GetTraceOption().ChartType.i_ConDis)) {}

CEntity::~CEntity() = default;

std::unique_ptr<CEntity> CEntity::JoinPolyline(CEntity* other, bool forceMidpoint)
{
    (void)other, (void)forceMidpoint;
    return nullptr;
}

void CEntity::RoundWidth(double resolution)
{
    m_Width = GetTraceOption().ChartType.WidthSeries.RoundToSeries(m_Width, resolution);
}

bool CEntity::InsideRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax)
{
    // An entity without extents (no vertex yet) would be judged by a stale
    // box; it lies inside nothing.
    if (!m_Drawn || !GetExtents(nullptr, m_Extents))
        return false;
    return m_Extents[EXT_MIN_X] >= boxMin.x && m_Extents[EXT_MIN_Y] >= boxMin.y && m_Extents[EXT_MAX_X] <= boxMax.x &&
           m_Extents[EXT_MAX_Y] <= boxMax.y;
}

void CEntity::CopyFrom(const CEntity* other)
{
    if (other == nullptr || other == this)
        return;
    m_Id = other->m_Id;
    m_Color = other->m_Color;
    m_Type = other->m_Type;
    m_Layer = other->m_Layer;
    m_Closed = other->m_Closed;
    m_Width = other->m_Width;
    m_Length = other->m_Length;
    m_Drawn = other->m_Drawn;
    m_Selected = other->m_Selected;
    if (m_Type == ENTITY_POLYLINE)
        m_CurVertex = other->m_CurVertex;
    if (m_Type == ENTITY_POLYPOLYGON)
        m_CurOutline = other->m_CurOutline;
}

CDxfNames CEntity::GetDxfNames() const
{
    // A writer needs the entity's drawing for units; an entity outside any
    // layer still writes a valid record, on layer "0".
    return {m_Id, m_Layer ? m_Layer->GetName() : "0"};
}

namespace {
// The layer and colour groups after the record's own head; one write each.
bool WriteCommonDXF(std::FILE* file, const CEntity& entity, const CDxfNames& names, std::string text)
{
    text += "  8\n";
    text += names.layer;
    text += '\n';
    if (entity.m_Color != ENTITY_COLOR_BY_LAYER)
        text += "  62\n" + std::to_string(entity.m_Color) + "\n";
    return WriteOutputText(file, text);
}
}  // namespace

bool CEntity::WriteDXF2000(std::FILE* file, bool widths, const CDxfNames& names)
{
    (void)widths;
    return WriteCommonDXF(file, *this, names, "  5\n" + HexText(names.handle) + "\n  100\nAcDbEntity\n");
}

bool CEntity::WriteDXFR10(std::FILE* file, bool widths, const CDxfNames& names)
{
    (void)widths;
    return WriteCommonDXF(file, *this, names, {});
}

namespace {
bool IsEntityColor(std::int16_t color) { return color >= 1 && color <= ENTITY_COLOR_BY_LAYER; }
}  // namespace

bool CEntity::Load(std::FILE* file)
{
    std::uint32_t id = 0, activeEnd = 0;
    std::int16_t color = 0, savedColor = 0;
    double width = 0, length = 0;
    std::uint8_t closed = 0, joined = 0;
    if (!ReadProjectU32(file, id) || !ReadProjectI16(file, color) || !ReadProjectI16(file, savedColor) ||
        !ReadProjectF64(file, width) || !ReadProjectF64(file, length) || !ReadProjectU32(file, activeEnd) ||
        !ReadProjectU8(file, closed) || !ReadProjectU8(file, joined))
        return false;
    m_Id = id;
    RaiseIdCounter(id);
    // As DXF import does: anything but an index or "by layer" is by layer,
    // so that every writer gets a colour its format knows.
    m_Color = IsEntityColor(color) ? color : ENTITY_COLOR_BY_LAYER;
    m_SavedColor = IsEntityColor(savedColor) ? savedColor : ENTITY_COLOR_BY_LAYER;
    // Pen widths are computed from this; a damaged value must not reach them.
    m_Width = IsCoordinateInRange(width) && width >= 0 ? width : 0.0;
    m_Length = std::isfinite(length) ? length : 0.0;
    m_ActiveEnd = activeEnd;
    m_Closed = closed != 0;
    m_Joined = joined != 0;
    return true;
}

bool CEntity::Save(std::FILE* file)
{
    return WriteProjectU32(file, m_Type) && WriteProjectU32(file, m_Id) && WriteProjectI16(file, m_Color) &&
           WriteProjectI16(file, m_SavedColor) && WriteProjectF64(file, m_Width) && WriteProjectF64(file, m_Length) &&
           WriteProjectU32(file, m_ActiveEnd) && WriteProjectU8(file, m_Closed ? 1 : 0) &&
           WriteProjectU8(file, m_Joined ? 1 : 0);
}

int CEntity::GetDrawColorIndex() const
{
    if (m_Color >= 1 && m_Color <= 255)
        return m_Color;
    return m_Layer ? m_Layer->GetColor() : kColorWhite;
}

CGraph* CEntity::GetGraph() const { return m_Layer ? m_Layer->GetOwner() : nullptr; }

// ---- factory --------------------------------------------------------------

// Registers the classes the program is built with (entity_factory.cpp).
void RegisterBuiltInEntities();

namespace {
std::atomic<EntityCreator> g_Creators[ENTITY_TYPE_LAST + 1];
std::once_flag g_BuiltInsOnce;

void EnsureBuiltIns() { std::call_once(g_BuiltInsOnce, RegisterBuiltInEntities); }

bool IsEntityTypeCode(std::uint32_t type) { return type >= ENTITY_TYPE_FIRST && type <= ENTITY_TYPE_LAST; }
}  // namespace

// The built-in table is filled before any other registration, so a test's
// stand-in is never overwritten by it.
EntityCreator RegisterEntityCreator(std::uint32_t type, EntityCreator creator)
{
    if (!IsEntityTypeCode(type))
        return nullptr;
    EnsureBuiltIns();
    return g_Creators[type].exchange(creator);
}

// Used by entity_factory.cpp while the built-ins are registered (inside the
// call_once, so it must not call EnsureBuiltIns).
void RegisterBuiltInEntityCreator(std::uint32_t type, EntityCreator creator)
{
    if (IsEntityTypeCode(type))
        g_Creators[type].store(creator);
}

std::unique_ptr<CEntity> CreateEntity(std::uint32_t type)
{
    if (!IsEntityTypeCode(type))
        return nullptr;
    EnsureBuiltIns();
    EntityCreator creator = g_Creators[type].load();
    return std::unique_ptr<CEntity>(creator ? creator() : nullptr);
}

std::unique_ptr<CEntity> CreateEntityFromProject(std::FILE* file)
{
    std::uint32_t type = 0;
    if (!ReadProjectU32(file, type))
        return nullptr;
    std::unique_ptr<CEntity> entity = CreateEntity(type);
    if (!entity)
        return nullptr;
    if (!entity->Load(file))
        return nullptr;
    return entity;
}

// ---- project-file primitives ----------------------------------------------

namespace {
template <typename U>
bool WriteLittleEndian(std::FILE* file, U value)
{
    unsigned char bytes[sizeof(U)];
    for (std::size_t i = 0; i < sizeof(U); ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    return WriteProjectBytes(file, bytes, sizeof bytes);
}

template <typename U>
bool ReadLittleEndian(std::FILE* file, U& value)
{
    unsigned char bytes[sizeof(U)];
    if (!ReadProjectBytes(file, bytes, sizeof bytes))
        return false;
    U v = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i)
        v = static_cast<U>(v | static_cast<U>(bytes[i]) << (8 * i));
    value = v;
    return true;
}
}  // namespace

bool WriteProjectBytes(std::FILE* file, const void* data, std::size_t size)
{
    if (size == 0)
        return true;
    return file != nullptr && std::fwrite(data, 1, size, file) == size;
}

bool ReadProjectBytes(std::FILE* file, void* data, std::size_t size)
{
    if (size == 0)
        return true;
    return file != nullptr && std::fread(data, 1, size, file) == size;
}

bool WriteProjectU8(std::FILE* file, std::uint8_t value) { return WriteProjectBytes(file, &value, 1); }
bool WriteProjectI16(std::FILE* file, std::int16_t value)
{
    return WriteLittleEndian(file, static_cast<std::uint16_t>(value));
}
bool WriteProjectU32(std::FILE* file, std::uint32_t value) { return WriteLittleEndian(file, value); }
bool WriteProjectI32(std::FILE* file, std::int32_t value)
{
    return WriteLittleEndian(file, static_cast<std::uint32_t>(value));
}
bool WriteProjectF32(std::FILE* file, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return WriteLittleEndian(file, bits);
}
bool WriteProjectF64(std::FILE* file, double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return WriteLittleEndian(file, bits);
}

bool ReadProjectU8(std::FILE* file, std::uint8_t& value) { return ReadProjectBytes(file, &value, 1); }
bool ReadProjectI16(std::FILE* file, std::int16_t& value)
{
    std::uint16_t v;
    if (!ReadLittleEndian(file, v))
        return false;
    value = static_cast<std::int16_t>(v);
    return true;
}
bool ReadProjectU32(std::FILE* file, std::uint32_t& value) { return ReadLittleEndian(file, value); }
bool ReadProjectI32(std::FILE* file, std::int32_t& value)
{
    std::uint32_t v;
    if (!ReadLittleEndian(file, v))
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}
bool ReadProjectF32(std::FILE* file, float& value)
{
    std::uint32_t bits;
    if (!ReadLittleEndian(file, bits))
        return false;
    std::memcpy(&value, &bits, sizeof value);
    return true;
}
bool ReadProjectF64(std::FILE* file, double& value)
{
    std::uint64_t bits;
    if (!ReadLittleEndian(file, bits))
        return false;
    std::memcpy(&value, &bits, sizeof value);
    return true;
}

long ProjectBytesLeft(std::FILE* file)
{
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    const long end = std::ftell(file);
    if (std::fseek(file, here, SEEK_SET) != 0)
        return -1;
    return end >= here ? end - here : -1;
}
