#pragma once
// CLayer: a named layer of a drawing with a colour index and a visible flag.
//
// The layer owns an ordered chain of entities, doubly linked through each
// entity's m_Next/m_Prev; every entity of the chain has m_Layer == this, and
// deleting the layer deletes them. Invariants: first and last are both null
// or both set, and following next from first reaches last. The add and remove
// operations keep a live count; CountEntities stores it in the count field.
//
// The layer is itself a link of its drawing's singly linked layer list.
// Names are UTF-8 strings of at most MAX_LAYER_NAME bytes without a zero byte,
// so that every name saved can be loaded again.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "model/point.h"

class CEntity;
class CFrDevice;
class CGraph;
class CVectorUndoItem;
struct CSnapSegment;

// Longest layer name, in bytes (the project file's limit).
constexpr std::size_t MAX_LAYER_NAME = 255;

// Receives each entity that a selection operation selects (the drawing's
// selection set adds it to its list). May be empty.
using EntityCollector = std::function<void(CEntity*)>;

class CLayer {
public:
    // Named "0", visible, in the normal display colour of the tracing
    // options, with the next id of the id counter.
    CLayer();
    virtual ~CLayer();
    CLayer(const CLayer&) = delete;
    CLayer& operator=(const CLayer&) = delete;

    // ---- virtual operations, in slot order --------------------------------

    // Deletes every entity, head first.
    virtual void DeleteAll();
    // Draws each entity head to tail when visible.
    virtual void Draw(CFrDevice* device);
    // False (boxes untouched) when no entity has extents. Else `box` gets the
    // union of the entities' extents and `merge`, when given, is widened by it.
    virtual bool GetExtents(double* merge, double* box);
    // Selects every entity not yet selected that crosses (lies inside) the
    // box; true when at least one was selected.
    virtual bool SelectCrossing(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                                const EntityCollector& collect);
    virtual bool SelectWindow(const frDoublePoint& boxMin, const frDoublePoint& boxMax, const EntityCollector& collect);
    // select false clears every selected flag; true selects every entity
    // (already selected ones included) and hands each to the collector.
    virtual void SelectAll(bool select, const EntityCollector& collect);

    // ---- name and attributes ----------------------------------------------

    [[nodiscard]] const std::string& GetName() const { return m_Name; }
    // No change when the name is empty or equals the current one ignoring
    // case. A name is cut at its first zero byte and to MAX_LAYER_NAME bytes
    // (at a character boundary). True when the name changed.
    bool SetName(const std::string& name);
    [[nodiscard]] const std::string& GetSavedName() const { return m_SavedName; }
    // Cut like a name; an empty saved name is allowed.
    void SetSavedName(const std::string& name);

    [[nodiscard]] std::uint32_t GetId() const { return m_Id; }
    void SetId(std::uint32_t id) { m_Id = id; }
    [[nodiscard]] bool IsVisible() const { return m_Visible != 0; }
    void SetVisible(bool visible) { m_Visible = visible ? 1 : 0; }
    [[nodiscard]] std::int32_t GetColor() const { return m_Color; }
    void SetColor(std::int32_t color) { m_Color = color; }
    // The count as last stored by CountEntities; 0 once the drawing has been
    // marked modified since.
    [[nodiscard]] std::int32_t GetCount() const;
    [[nodiscard]] CGraph* GetOwner() const { return m_Owner; }
    void SetOwner(CGraph* owner) { m_Owner = owner; }
    [[nodiscard]] CLayer* GetNext() const { return m_NextLayer; }
    void SetNext(CLayer* next) { m_NextLayer = next; }

    // ---- the entity chain -------------------------------------------------

    [[nodiscard]] CEntity* GetFirstEntity() const { return m_First; }
    [[nodiscard]] CEntity* GetLastEntity() const { return m_Last; }
    [[nodiscard]] bool IsEmpty() const { return m_First == nullptr; }

    // The layer takes ownership of the entity and appends it (or puts it at
    // the head); null gives false. The entity must be in no chain.
    bool AddEntity(CEntity* entity);
    bool AddEntityFront(CEntity* entity);
    // Unlinks without deleting; the entity's layer field is left alone and
    // the caller owns the entity again. Null or an entity of another layer:
    // nothing.
    void RemoveEntity(CEntity* entity);
    [[nodiscard]] CEntity* FindEntity(std::uint32_t id) const;
    // Walks the chain, stores the count and returns it.
    std::int32_t CountEntities();

    // ---- operations on every entity ---------------------------------------

    void SetWidthAll(double width);
    // Saves each colour into the saved colour; when color >= 0 also sets it.
    void OverrideColors(std::int32_t color);
    void RestoreColors();
    // Appends the information lines of every selected entity, each entity's
    // lines whole; true when any entity was selected. With a limit, an entity
    // whose lines would take the list past maxLines is left out with every
    // selected entity after it, each counted in *skipped (the first entity of
    // an empty list is always described). A *skipped above 0 on entry means
    // the list is full already: the entities are only counted.
    bool GetSelectedInfo(std::vector<std::string>* lines, std::size_t maxLines = SIZE_MAX,
                         std::size_t* skipped = nullptr);
    void CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax, std::vector<CSnapSegment>& segments);
    // Explodes each selected polyline (every one when all is set) into
    // one-segment pieces; the undo item, when given, records the pieces as
    // added and the polyline as deleted. A polyline that cannot be exploded
    // (or recorded) stays. Returns how many were exploded.
    int ExplodePolylines(bool all, CVectorUndoItem* undo);

    // ---- copies -----------------------------------------------------------

    // Id, name, colour, visible flag and owner; the entities stay.
    void CopyAttributes(const CLayer& other);
    // The attributes, then a clone of each entity of the other layer in
    // order, none of them selected (this layer's entities are deleted
    // first). False when some
    // entity could not be cloned; the others are still copied.
    bool CopyFrom(const CLayer& other);
    // Moves every entity of the other layer to the tail of this one; the
    // other layer is left empty.
    void MoveEntitiesFrom(CLayer& other);
    // Hands each entity to the first target layer (of the chain starting at
    // `targets`) whose name, a width in the drawing unit with four decimals
    // and "_" for the decimal point, is the entity's width rounded to four
    // decimals (converted to the unit with the resolution in dots per metre,
    // as the drawing converts). True when every entity found a target.
    bool DistributeToLayers(CLayer* targets, std::uint32_t unit, double resolution);

    // ---- files ------------------------------------------------------------

    // The layer block of the project file, then each entity's record. False
    // at the first failed write.
    [[nodiscard]] bool Write(std::FILE* file);
    // Deletes the entities, reads the block and its entity records and
    // appends them. False at the first short read, an over-long name or a
    // failed record; the entities read so far stay. Raises the id counter
    // past the layer id read.
    [[nodiscard]] bool Read(std::FILE* file);
    // One LAYER table record of a DXF file (code/value line pairs) up to the
    // next "0" line, which is left to be read again. True when a name was
    // read.
    bool ReadDXF(std::FILE* file);

private:
    std::uint32_t m_Id;
    CEntity* m_First = nullptr;
    CEntity* m_Last = nullptr;
    std::string m_Name = "0";
    std::string m_SavedName;
    std::uint32_t m_Visible = 1;
    std::int32_t m_Color;
    std::int32_t m_Count = 0;
    std::int32_t m_Live = 0;        // entities in the chain, kept by every link and unlink
    std::uint64_t m_CountMark = 0;  // the owner's modification mark m_Count was stored at
    CGraph* m_Owner = nullptr;
    CLayer* m_NextLayer = nullptr;
};

// Cuts a layer name at its first zero byte and to MAX_LAYER_NAME bytes,
// never inside a UTF-8 sequence.
[[nodiscard]] std::string ClampLayerName(const std::string& name);
// Layer names compare without regard to ASCII letter case.
[[nodiscard]] bool LayerNamesEqual(const std::string& a, const std::string& b);
