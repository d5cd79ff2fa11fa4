// The selection set: nodes with their highlight clones, and the operations
// that act on every selected entity.
#include "model/select_set.h"

#include <memory>
#include <new>
#include <unordered_set>

#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "model/undo.h"

// ---- nodes ----------------------------------------------------------------

CSelectNode::CSelectNode(CEntity* entity) : m_Entity(entity)
{
    if (m_Entity == nullptr)
        return;
    m_Clone = m_Entity->Clone();
    if (m_Clone)
        m_Clone->m_Color = SELECTION_CLONE_COLOR;
}

CSelectNode::~CSelectNode() = default;

void CSelectNode::ApplyClone()
{
    if (m_Entity == nullptr || !m_Clone)
        return;
    // The clone may have been made while the entity lived on another layer;
    // taking its layer over would leave the entity in one chain while naming
    // another.
    const std::int16_t color = m_Entity->m_Color;
    CLayer* layer = m_Entity->m_Layer;
    const bool selected = m_Entity->m_Selected;
    m_Entity->CopyFrom(m_Clone.get());
    m_Entity->m_Color = color;
    m_Entity->m_Layer = layer;
    m_Entity->m_Selected = selected;
}

void CSelectNode::RefreshClone()
{
    if (m_Entity == nullptr || !m_Clone)
        return;
    m_Clone->CopyFrom(m_Entity);
    m_Clone->m_Color = SELECTION_CLONE_COLOR;
}

// ---- the set --------------------------------------------------------------

namespace {
void FreeNodes(CSelectNode* node)
{
    while (node) {
        CSelectNode* next = node->GetNext();
        delete node;
        node = next;
    }
}

// Unlinks the entity from the layer that names it. False when it is in no
// layer or its layer's chain does not hold it: then nobody is known to own
// it, and it must not be deleted.
bool UnlinkFromLayer(CEntity* entity)
{
    CLayer* layer = entity->m_Layer;
    if (layer == nullptr)
        return false;
    const bool linked = entity->m_Prev ? entity->m_Prev->m_Next == entity : layer->GetFirstEntity() == entity;
    if (!linked)
        return false;
    layer->RemoveEntity(entity);
    return true;
}
}  // namespace

CSelectSet::~CSelectSet() { FreeNodes(m_Head); }

CSelectNode* CSelectSet::Add(CEntity* entity)
{
    if (entity == nullptr)
        return nullptr;
    auto* node = new (std::nothrow) CSelectNode(entity);
    if (node == nullptr)
        return nullptr;
    node->m_Next = m_Head;
    m_Head = node;
    ++m_Count;
    return node;
}

CSelectNode* CSelectSet::TakeNodes()
{
    // The grips name the nodes: they go first, whatever happens to the nodes.
    if (m_Owner)
        m_Owner->ClearGrips();
    CSelectNode* nodes = m_Head;
    m_Head = nullptr;
    m_Count = 0;
    return nodes;
}

void CSelectSet::Clear()
{
    CSelectNode* nodes = TakeNodes();
    for (CSelectNode* n = nodes; n; n = n->m_Next)
        if (n->m_Entity)
            n->m_Entity->m_Selected = false;
    FreeNodes(nodes);
}

CSelectNode* CSelectSet::FindNode(const CEntity* entity) const
{
    for (CSelectNode* n = m_Head; n; n = n->m_Next)
        if (n->m_Entity == entity)
            return n;
    return nullptr;
}

std::vector<CEntity*> CSelectSet::GetEntities() const
{
    std::vector<CEntity*> entities;
    std::unordered_set<const CEntity*> seen;
    for (CSelectNode* n = m_Head; n; n = n->m_Next)
        if (n->m_Entity && seen.insert(n->m_Entity).second)
            entities.push_back(n->m_Entity);
    return entities;
}

void CSelectSet::Draw(CFrDevice* device)
{
    if (device == nullptr)
        return;
    for (CSelectNode* n = m_Head; n; n = n->m_Next)
        if (n->m_Entity)
            n->m_Entity->Draw(device);
}

void CSelectSet::CollectGrips(CGripRecord** grips)
{
    if (grips == nullptr)
        return;
    for (CSelectNode* n = m_Head; n; n = n->m_Next)
        if (n->m_Entity)
            n->m_Entity->AddGrips(n, grips);
}

bool CSelectSet::DeleteAll()
{
    if (m_Head == nullptr)
        return false;
    // Every flag is cleared while the entities still live; the same entity
    // listed twice is deleted once.
    const std::vector<CEntity*> entities = GetEntities();
    FreeNodes(TakeNodes());
    for (CEntity* e : entities)
        e->m_Selected = false;
    for (CEntity* e : entities)
        if (UnlinkFromLayer(e))
            delete e;
    return true;
}

int CSelectSet::ExplodePolylines(CVectorUndoItem* undo)
{
    const std::vector<CEntity*> entities = GetEntities();
    FreeNodes(TakeNodes());
    for (CEntity* e : entities)
        e->m_Selected = false;

    int exploded = 0;
    for (CEntity* e : entities) {
        auto* polyline = e->m_Type == ENTITY_POLYLINE ? dynamic_cast<CPolyLine*>(e) : nullptr;
        if (polyline == nullptr || polyline->m_Layer == nullptr)
            continue;
        // The deletion is recorded after the pieces, so that undo brings the
        // polyline back before it takes the pieces away.
        std::unique_ptr<CVectorUndoData> record;
        if (undo) {
            record.reset(new (std::nothrow) CVectorUndoData);
            if (!record || !record->Set(polyline, UNDO_ENTITY_DELETED))
                continue;
        }
        if (!polyline->Explode(undo))
            continue;
        if (record)
            (void)undo->AddData(std::move(record));
        if (UnlinkFromLayer(polyline))
            delete polyline;
        ++exploded;
    }
    return exploded;
}

void CSelectSet::FillProperties(CPropertyList* list)
{
    if (m_Head == nullptr || m_Head->m_Entity == nullptr || list == nullptr)
        return;
    if (IsSingle()) {
        m_Head->m_Entity->FillProperties(list, m_Head);
        return;
    }
    // Several entities share only the base rows; a plain entity shows them
    // with the values of the newest one.
    CEntity common;
    common.CopyFrom(m_Head->m_Entity);
    common.FillProperties(list);
}

namespace {
// Codes of the property protocol.
constexpr int kPropRefused = -1;
constexpr int kPropMoveLayer = -2;
constexpr int kPropChanged = -3;

// Moves the entity to the layer named by the text; false when that layer
// or the entity's own is missing.
bool MoveToNamedLayer(CGraph* drawing, CEntity* entity, const std::string& name)
{
    CLayer* target = drawing ? drawing->FindLayerByName(name) : nullptr;
    CLayer* present = entity->m_Layer;
    if (target == nullptr || present == nullptr)
        return false;
    if (target == present)
        return true;
    present->RemoveEntity(entity);
    (void)target->AddEntity(entity);
    return true;
}
}  // namespace

int CSelectSet::ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                              bool* changed)
{
    if (changed)
        *changed = false;
    if (row < 1)
        return kPropRefused;
    bool anyChanged = false;
    bool redraw = false;
    int result = kPropRefused;
    for (CSelectNode* n = m_Head; n; n = n->m_Next) {
        CEntity* e = n->m_Entity;
        if (e == nullptr)
            continue;
        int code = e->ApplyProperty(drawing, row, value, text, record, n);
        if (code == kPropMoveLayer) {
            // A layer deleted since the rows were filled: refused, and the
            // walk stops before anything moved.
            if (!MoveToNamedLayer(drawing, e, text)) {
                if (changed)
                    *changed = anyChanged;
                return kPropRefused;
            }
            code = kPropChanged;
        }
        if (code == 0 || code == kPropChanged)
            anyChanged = true;
        if (code == kPropChanged)
            redraw = true;
        // A code of 1 or more names a row of a derived class that nobody
        // took: refused.
        result = code >= 1 ? kPropRefused : code;
    }
    if (redraw)
        result = kPropChanged;
    if (changed)
        *changed = anyChanged;
    return result;
}
