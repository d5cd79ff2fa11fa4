#pragma once
// CSelectSet: the drawing's selection, a singly linked list of CSelectNode,
// newest first.
//
// The set does not own the entities; each node owns a highlight clone of its
// entity (colour 7) that the grip drag rubber-bands. An entity is in the set
// exactly while its selected flag is set: the layer selection operations set
// the flag and add the node, Clear clears the flags. The drawing's grip
// records point at the nodes, so whatever frees nodes frees the owner
// drawing's grips first.
//
// Whoever deletes a selected entity must take it out of the set before (or
// clear the set), since the nodes keep plain pointers to the entities.
#include <memory>
#include <string>
#include <vector>

class CEntity;
class CFrDevice;
class CGraph;
class CPropertyList;
struct CPropertyRow;
class CVectorUndoItem;
struct CGripRecord;

// The colour index of the highlight clone.
constexpr int SELECTION_CLONE_COLOR = 7;

class CSelectNode {
public:
    // Stores the entity and makes its clone. An entity class that cannot be
    // cloned gets no clone: it is selected all the same, without rubber band.
    explicit CSelectNode(CEntity* entity);
    ~CSelectNode();
    CSelectNode(const CSelectNode&) = delete;
    CSelectNode& operator=(const CSelectNode&) = delete;

    [[nodiscard]] CEntity* GetEntity() const { return m_Entity; }
    [[nodiscard]] CEntity* GetClone() const { return m_Clone.get(); }
    [[nodiscard]] CSelectNode* GetNext() const { return m_Next; }

    // Copies the clone into the entity; the entity keeps its own colour,
    // layer and selected flag.
    void ApplyClone();
    // Copies the entity into the clone and makes the clone colour 7 again.
    void RefreshClone();

private:
    friend class CSelectSet;

    CEntity* m_Entity;  // not owned
    std::unique_ptr<CEntity> m_Clone;
    CSelectNode* m_Next = nullptr;
};

class CSelectSet {
public:
    // The owner's grips point at the nodes; it may be null (no grips).
    explicit CSelectSet(CGraph* owner = nullptr) : m_Owner(owner) {}
    // Frees the nodes without touching the entities, which may be gone.
    ~CSelectSet();
    CSelectSet(const CSelectSet&) = delete;
    CSelectSet& operator=(const CSelectSet&) = delete;

    // A new node at the head; null (nothing added) for a null entity or when
    // memory is short.
    CSelectNode* Add(CEntity* entity);
    // Frees the owner's grips, clears the selected flag of every entity in
    // the set and frees every node.
    void Clear();

    [[nodiscard]] CSelectNode* GetHead() const { return m_Head; }
    [[nodiscard]] int GetCount() const { return m_Count; }
    [[nodiscard]] bool IsEmpty() const { return m_Head == nullptr; }
    [[nodiscard]] bool IsSingle() const { return m_Count == 1; }
    // The node of that entity, or null.
    [[nodiscard]] CSelectNode* FindNode(const CEntity* entity) const;
    // The selected entities, head first, each once.
    [[nodiscard]] std::vector<CEntity*> GetEntities() const;

    // Draws each selected entity.
    void Draw(CFrDevice* device);
    // Each node's entity adds its grips, head first, with the node as owner.
    void CollectGrips(CGripRecord** grips);

    // Frees the owner's grips, then takes each entity out of its layer and
    // deletes it, and empties the set. True when the set was not empty.
    bool DeleteAll();
    // Explodes each selected polyline into one-segment pieces in its layer,
    // recording the pieces as added and the polyline as deleted; a polyline
    // that cannot be exploded or recorded stays. Other entities stay. The
    // set (and the owner's grips) is empty afterwards. Returns how many
    // polylines were exploded.
    int ExplodePolylines(CVectorUndoItem* undo);

    // One entity: its own rows. Several: the base rows of a plain entity
    // that copied the head's entity.
    void FillProperties(CPropertyList* list);
    // Applies an edited row to the selection and returns the property code:
    // -1 refused or unchanged (a target layer that no longer exists
    // included), -3 changed (redraw and refill), else the entity's own code. An entity that asks to move
    // to another layer is moved to the layer of that name. `changed`, when
    // given, tells whether any entity changed at all (a walk over several
    // may change some and refuse the last).
    int ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                      bool* changed = nullptr);

private:
    // Unhooks the node list from the set, after freeing the owner's grips.
    CSelectNode* TakeNodes();

    CGraph* m_Owner;
    CSelectNode* m_Head = nullptr;
    int m_Count = 0;
};
