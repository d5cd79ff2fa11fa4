#pragma once
// CEntity: the abstract base of every object of the vector drawing.
//
// A layer (CLayer) owns its entities in a doubly linked chain threaded through
// the entities' own next/prev fields; the entity's layer field names that
// layer, or is null while the entity belongs to none. Subclasses add their
// geometry behind the common fields and replace the virtual operations below;
// the base versions are the safe defaults (nothing drawn, nothing written,
// no extents).
//
// Coordinates and lengths are raster pixels with y up. Extents boxes are four
// doubles {min x, max x, min y, max y} (EXT_MIN_X...); a box passed as two
// points is (lower-left, upper-right).
//
// Ids: every new entity and layer takes the next value of the one
// process-wide id counter (atomic, so the trace thread may create entities
// while the user interface does). Undo records find entities and layers by
// id, so ids are unique in the process; loading raises the counter past every
// id it reads.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "model/point.h"

class CLayer;
class CGraph;
class CFrDevice;
class CDC;
class CPDFStream;
class CPropertyList;
struct CPropertyRow;
class CSelectNode;
struct CGripRecord;
struct CSnapSegment;
struct CConnectEnd;

// Type codes, stored in every entity and in the project file.
enum EntityType : std::uint32_t {
    ENTITY_NONE = 0,  // a bare CEntity, only a temporary row holder
    ENTITY_LINE = 1,
    ENTITY_POLYLINE = 2,
    ENTITY_CIRCLE = 3,
    ENTITY_ARC = 4,
    ENTITY_RASTER = 5,
    ENTITY_SOLID = 6,
    ENTITY_POLYPOLYGON = 7,
};
constexpr std::uint32_t ENTITY_TYPE_FIRST = ENTITY_LINE;
constexpr std::uint32_t ENTITY_TYPE_LAST = ENTITY_POLYPOLYGON;

// The names a DXF record is written under: the entity's handle (DXF 2000
// only) and its layer's name as the file's layer table holds it.
struct CDxfNames {
    std::uint32_t handle = 0;
    std::string layer;
};

// Indexes into an extents box.
enum : int { EXT_MIN_X = 0, EXT_MAX_X = 1, EXT_MIN_Y = 2, EXT_MAX_Y = 3 };

// Widens `into` so that it covers `box` (smaller minima, larger maxima).
void MergeExtents(double* into, const double* box);

// The colour index meaning "use the layer's colour".
constexpr std::int16_t ENTITY_COLOR_BY_LAYER = 256;

// ---- the process-wide id counter -----------------------------------------

// The value the first id of the process gets (and the drawing's default).
constexpr std::uint32_t FIRST_ENTITY_ID = 48;

// Ids from here to the top of the range are never handed out. Loading raises
// the counter past every id read, so an id near the top would make later ids
// wrap round to values already in use: a file's ids up here raise nothing,
// and the project load gives those entities and layers fresh ids.
constexpr std::uint32_t ENTITY_ID_LIMIT = 0xC0000000u;

// Hands out the next id (post-increment). Never returns 0, which callers use
// for "no layer", nor an id at or above ENTITY_ID_LIMIT (the count starts
// again at FIRST_ENTITY_ID there, after some three billion ids).
[[nodiscard]] std::uint32_t TakeNextId();
// The id the next TakeNextId returns.
[[nodiscard]] std::uint32_t GetIdCounter();
// Makes every later id larger than `id` (loading calls it for each id read);
// ids at or above ENTITY_ID_LIMIT leave the counter alone.
void RaiseIdCounter(std::uint32_t id);
// Sets the counter outright. For tests that want known ids; production code
// only ever raises the counter.
void ResetIdCounter(std::uint32_t next = FIRST_ENTITY_ID);

// ---- the entity -----------------------------------------------------------

class CEntity {
public:
    CEntity();
    // Made on a helper thread without an id; its maker gives it one
    // (TakeNextId) in the order a single thread would have made them.
    struct DeferredId {};
    explicit CEntity(DeferredId);
    CEntity(const CEntity&) = delete;
    CEntity& operator=(const CEntity&) = delete;

    // Virtual operations, in the fixed order of their slots.

    // 0: the layer's selection operations call it right after selecting.
    virtual void OnSelect() {}
    // 1
    virtual ~CEntity();
    // 2, 3: (0, 0, 0) in the base.
    [[nodiscard]] virtual frDoublePoint GetStartPoint() const { return {}; }
    [[nodiscard]] virtual frDoublePoint GetEndPoint() const { return {}; }
    // 4: no caller.
    virtual double Spare4() { return 0.0; }
    // 5: the cached length field in the base; subclasses recompute and cache.
    virtual double GetLength() { return m_Length; }
    // 6
    [[nodiscard]] virtual int GetPointCount() const { return 0; }
    // 7: no caller.
    virtual bool Spare7() { return true; }
    // 8
    [[nodiscard]] virtual bool IsSingleSegment() const { return true; }
    // 9: the active end and the point that gives its direction.
    virtual void GetEndSegment(frDoublePoint* end, frDoublePoint* inner) { (void)end, (void)inner; }
    // 10: a new polyline joining this and other at their active ends (this
    // closing itself when other is this); null when nothing was joined.
    [[nodiscard]] virtual std::unique_ptr<CEntity> JoinPolyline(CEntity* other, bool forceMidpoint);
    // 11, 12
    virtual void AutoClose() {}
    virtual void AdjustAngle() {}
    // 13
    virtual void SetWidth(double width) { m_Width = width; }
    // 14: draws on the device and records in m_Drawn whether it was in view.
    virtual void Draw(CFrDevice* device) { (void)device; }
    // 15
    [[nodiscard]] virtual double GetWidth() const { return m_Width; }
    // 16
    [[nodiscard]] virtual bool IsDegenerate() const { return true; }
    // 17: width rounded to the width series of the current tracing options.
    virtual void RoundWidth(double resolution);
    // 18: crossing selection.
    [[nodiscard]] virtual bool IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax)
    {
        (void)boxMin, (void)boxMax;
        return false;
    }
    // 19: window selection; false for an entity that was not drawn or has no
    // extents. Refreshes m_Extents through GetExtents; bounds are inclusive.
    [[nodiscard]] virtual bool InsideRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax);
    // 20: object-snap segments of the entity within the box.
    virtual void CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                                 std::vector<CSnapSegment>& segments)
    {
        (void)boxMin, (void)boxMax, (void)segments;
    }
    // 21
    [[nodiscard]] virtual int GetGripCount() const { return 0; }
    // 22: fills `box` with the entity's extents and, when `merge` is given,
    // widens it by them. False (both untouched) when the entity has none.
    virtual bool GetExtents(double* merge, double* box)
    {
        (void)merge, (void)box;
        return false;
    }
    // 23: copies the common fields (see entity.cpp); subclasses call it first.
    virtual void CopyFrom(const CEntity* other);
    // 24: a copy of the same class carrying the same id, in no layer; null
    // when memory is short or the class cannot be copied.
    [[nodiscard]] virtual std::unique_ptr<CEntity> Clone() const { return nullptr; }
    // 25, 26: the common groups of a DXF record (handle, subclass marker,
    // layer, colour); a subclass writes its name line first when the type
    // code is its own, then calls these, then its own groups. The file
    // writers pass the names the file knows the entity and its layer by.
    virtual bool WriteDXF2000(std::FILE* file, bool widths, const CDxfNames& names);
    virtual bool WriteDXFR10(std::FILE* file, bool widths, const CDxfNames& names);
    // The same under the entity's own names (GetDxfNames).
    bool WriteDXF2000(std::FILE* file, bool widths) { return WriteDXF2000(file, widths, GetDxfNames()); }
    bool WriteDXFR10(std::FILE* file, bool widths) { return WriteDXFR10(file, widths, GetDxfNames()); }
    // The id as handle and the layer's name, "0" outside any layer.
    [[nodiscard]] CDxfNames GetDxfNames() const;
    // 27..32: output records; the base writes nothing and succeeds.
    virtual bool WriteSVG(std::FILE* file, double pageHeight, bool widths)
    {
        (void)file, (void)pageHeight, (void)widths;
        return true;
    }
    virtual bool WriteCGM(std::FILE* file)
    {
        (void)file;
        return true;
    }
    virtual void DrawToDC(CDC* dc, double pageHeight, bool widths) { (void)dc, (void)pageHeight, (void)widths; }
    virtual bool WriteHPGL(std::FILE* file)
    {
        (void)file;
        return true;
    }
    virtual bool WriteEPS(std::FILE* file, bool widths)
    {
        (void)file, (void)widths;
        return true;
    }
    virtual bool WritePDF(CPDFStream* stream, bool widths)
    {
        (void)stream, (void)widths;
        return true;
    }
    // 33: reads the groups of the entity's DXF record (the file stands after
    // its name pair) up to the next group 0, which is left to be read again,
    // and puts the record's layer name (group 8) into *layerName. False when
    // the record does not make a usable entity; the base reads nothing.
    virtual bool ReadDXF(std::FILE* file, std::string* layerName)
    {
        (void)file, (void)layerName;
        return false;
    }
    // 34..36: information lines and property rows (entity_properties.cpp,
    // property_list.h). The base shows layer, colour and (but for lines and
    // solids) width; an entity in no layer shows nothing. ApplyProperty
    // answers with the codes of property_list.h; a class passes the rows
    // past its own to a derived class as a positive number. `owner` is the
    // selection node whose grips the rows pick (null: grips left alone).
    virtual void GetInfo(std::vector<std::string>* lines);
    virtual void FillProperties(CPropertyList* list, const CSelectNode* owner = nullptr);
    virtual int ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                              const CSelectNode* owner = nullptr);
    // 37, 38: grips.
    virtual void AddGrips(CSelectNode* tag, CGripRecord** grips) { (void)tag, (void)grips; }
    virtual bool MoveGrip(double x, double y, double z, int index)
    {
        (void)x, (void)y, (void)z, (void)index;
        return false;
    }
    // 39: reads the common entity record (the type code was read by the
    // factory) and raises the id counter past the id read; subclasses call
    // it first, then read their own data. False on the first short read.
    [[nodiscard]] virtual bool Load(std::FILE* file);
    // 40: writes the type code and the common entity record; subclasses call
    // it first. False on the first failed write.
    [[nodiscard]] virtual bool Save(std::FILE* file);

    // ---- plain helpers ----------------------------------------------------

    // The colour index to draw with: the entity's, or its layer's when the
    // entity is coloured by layer (7 when it has no layer).
    [[nodiscard]] int GetDrawColorIndex() const;
    // The drawing the entity belongs to through its layer, or null.
    [[nodiscard]] CGraph* GetGraph() const;

    // ---- common fields, in the system's order -----------------------------

    std::uint32_t m_Id;                                 // from the id counter
    std::int16_t m_Color = ENTITY_COLOR_BY_LAYER;       // 1..255, 256 = by layer
    std::int16_t m_SavedColor = ENTITY_COLOR_BY_LAYER;  // kept aside during exports
    double m_Width = 0.0;                               // raster pixels, 0 = thinnest
    double m_Length;                                    // cached length (see GetLength)
    CLayer* m_Layer = nullptr;                          // owning layer, not owned
    std::uint32_t m_ActiveEnd = 0;                      // 0 first vertex, 1 last
    EntityType m_Type = ENTITY_NONE;
    bool m_Selected = false;
    bool m_Drawn = true;            // in view at the last draw
    bool m_Modified = false;        // cached derived data are stale
    std::int32_t m_CurVertex = 1;   // 1-based, property list
    std::int32_t m_CurOutline = 1;  // 1-based, property list
    bool m_Closed = false;
    bool m_Joined = false;               // merged by polyline joining
    double m_Extents[4] = {0, 0, 0, 0};  // filled by InsideRect
    CEntity* m_Next = nullptr;           // layer chain
    CEntity* m_Prev = nullptr;
    CConnectEnd* m_StartLink = nullptr;  // connect-lines step only
    CConnectEnd* m_EndLink = nullptr;
};

// ---- creation from a type code --------------------------------------------

// Makes a new default-constructed entity of one class (null when memory is
// short). Each entity class is known to the factory by one of these.
using EntityCreator = CEntity* (*)();

// Installs the creator for a type code (1..7) and returns the one it
// replaces; null for a code outside the range. Tests use it to stand in for
// classes that are not built.
EntityCreator RegisterEntityCreator(std::uint32_t type, EntityCreator creator);
// A new entity of that type, or null for an unknown code, a class that is
// not registered, or a failed allocation.
[[nodiscard]] std::unique_ptr<CEntity> CreateEntity(std::uint32_t type);
// Reads one entity record of the project file: the type code, then the
// object's Load. Null on a short read, an unknown code (nothing more read) or
// a failed Load (the half-read object is deleted).
[[nodiscard]] std::unique_ptr<CEntity> CreateEntityFromProject(std::FILE* file);

// ---- little-endian primitives of the project file -------------------------
// Every writer returns false when the bytes were not all written, every
// reader false on a short read (the value is then unspecified).

[[nodiscard]] bool WriteProjectBytes(std::FILE* file, const void* data, std::size_t size);
[[nodiscard]] bool WriteProjectU8(std::FILE* file, std::uint8_t value);
[[nodiscard]] bool WriteProjectI16(std::FILE* file, std::int16_t value);
[[nodiscard]] bool WriteProjectU32(std::FILE* file, std::uint32_t value);
[[nodiscard]] bool WriteProjectI32(std::FILE* file, std::int32_t value);
[[nodiscard]] bool WriteProjectF32(std::FILE* file, float value);
[[nodiscard]] bool WriteProjectF64(std::FILE* file, double value);

[[nodiscard]] bool ReadProjectBytes(std::FILE* file, void* data, std::size_t size);
[[nodiscard]] bool ReadProjectU8(std::FILE* file, std::uint8_t& value);
[[nodiscard]] bool ReadProjectI16(std::FILE* file, std::int16_t& value);
[[nodiscard]] bool ReadProjectU32(std::FILE* file, std::uint32_t& value);
[[nodiscard]] bool ReadProjectI32(std::FILE* file, std::int32_t& value);
[[nodiscard]] bool ReadProjectF32(std::FILE* file, float& value);
[[nodiscard]] bool ReadProjectF64(std::FILE* file, double& value);

// Bytes between the file position and its end; -1 when the stream cannot
// tell (a pipe), which leaves the short reads to stop a damaged count.
[[nodiscard]] long ProjectBytesLeft(std::FILE* file);
