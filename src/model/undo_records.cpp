// The undo record classes: whole rasters, saved raster blocks, the drawing's
// settings or layers, and per-entity records.
#include <new>
#include <unordered_map>

#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/undo.h"
#include "raster/raster_src.h"

// ---- whole raster ---------------------------------------------------------

CRasterSrcUndoItem::CRasterSrcUndoItem(std::string name, CRasterSrc* raster)
    : CUndoItem(std::move(name)), m_Saved(new (std::nothrow) CRasterSrc), m_Raster(m_Saved ? raster : nullptr)
{
    SendStatusText("Create Raster undo date.");
}

CRasterSrcUndoItem::~CRasterSrcUndoItem() = default;

bool CRasterSrcUndoItem::TakeSnapshot()
{
    if (!m_Saved || !m_Raster || m_Raster->IsEmpty())
        return false;
    return m_Saved->Copy(*m_Raster);
}

bool CRasterSrcUndoItem::Swap()
{
    if (!m_Saved || !m_Raster)
        return false;
    // The bitmaps change places, not their pixels: nothing is allocated, so
    // the swap cannot stop half way. The brush settings belong to the live
    // image and stay with it; emptied, they move without allocating.
    CRasterEditSettings settings = std::move(m_Raster->GetEditSettings());
    m_Raster->GetEditSettings().undoName.clear();
    int brushX = 0, brushY = 0;
    m_Raster->GetLastBrushPoint(brushX, brushY);

    // MoveTo leaves its target alone when the source is empty, and each
    // target here is empty by then, so an empty side swaps as well.
    CRasterSrc held;
    (void)m_Raster->MoveTo(held);
    (void)m_Saved->MoveTo(*m_Raster);
    (void)held.MoveTo(*m_Saved);

    m_Saved->GetEditSettings() = CRasterEditSettings{};
    m_Raster->GetEditSettings() = std::move(settings);
    m_Raster->SetLastBrushPoint(brushX, brushY);
    return true;
}

bool PushRasterUndo(CUndoList* list, const std::string& name, CRasterSrc* raster)
{
    // Nobody keeps the history: no need for a copy of the image.
    if (list == nullptr)
        return true;
    std::unique_ptr<CRasterSrcUndoItem> item(new (std::nothrow) CRasterSrcUndoItem(name, raster));
    if (!item || !item->TakeSnapshot())
        return false;
    return list->PushItem(std::move(item));
}

// ---- raster blocks --------------------------------------------------------

namespace {
using BlockList = std::vector<std::unique_ptr<CRasterUndoBlock>>;

bool AppendBlock(BlockList& blocks, std::unique_ptr<CRasterUndoBlock> block)
{
    if (!block)
        return false;
    try {
        blocks.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Swaps every block in turn. When one does not fit, the blocks swapped so far
// are swapped back in the opposite order, so the image is as it was.
bool SwapBlocks(CRasterSrc* raster, const BlockList& blocks, bool lastFirst)
{
    if (raster == nullptr)
        return true;
    const std::size_t n = blocks.size();
    auto at = [&](std::size_t k) { return lastFirst ? n - 1 - k : k; };
    for (std::size_t k = 0; k < n; ++k) {
        if (!blocks[at(k)]->SwapWith(*raster)) {
            while (k-- > 0)
                (void)blocks[at(k)]->SwapWith(*raster);
            return false;
        }
    }
    return true;
}
}  // namespace

bool CLocalRasterUndoItem::AddBlock(std::unique_ptr<CRasterUndoBlock> block)
{
    return AppendBlock(m_Blocks, std::move(block));
}

// Blocks of one stroke overlap; the last swapped in must come out first.
bool CLocalRasterUndoItem::Undo() { return SwapBlocks(m_Raster, m_Blocks, true); }

bool CLocalRasterUndoItem::Redo() { return SwapBlocks(m_Raster, m_Blocks, false); }

bool CRasterScanLineUndoItem::AddBlock(std::unique_ptr<CRasterUndoBlock> block)
{
    return AppendBlock(m_Blocks, std::move(block));
}

// The runs of a fill never overlap, so one order serves both ways.
bool CRasterScanLineUndoItem::Swap() { return SwapBlocks(m_Raster, m_Blocks, false); }

// ---- the drawing ----------------------------------------------------------

CGraphUndoItem::CGraphUndoItem(std::string name) : CUndoItem(std::move(name)) {}

CGraphUndoItem::~CGraphUndoItem() = default;

CGraphUndoItem::Settings CGraphUndoItem::Note(const CGraph& drawing)
{
    Settings s;
    const CLayer* current = drawing.GetCurrentLayer();
    s.currentLayerId = current ? current->GetId() : 0;
    s.showRaster = drawing.GetShowRaster();
    s.showVectors = drawing.GetShowVectors();
    // A drawing whose current layer is empty counts as unchanged.
    s.modified = drawing.IsModified() && current && !current->IsEmpty();
    s.objectSnapMask = drawing.GetObjectSnapMask();
    s.objectSnapOn = drawing.GetObjectSnapOn();
    s.gridShown = drawing.GetGridShown();
    s.snapBase = drawing.GetSnapBase();
    s.snapAngle = drawing.GetSnapAngle();
    s.gridSpacingX = drawing.GetGridSpacingX();
    s.gridSpacingY = drawing.GetGridSpacingY();
    s.ortho = drawing.GetOrtho();
    s.currentColor = drawing.GetCurrentColor();
    s.currentWidth = drawing.GetCurrentWidth();
    s.unit = drawing.GetUnit();
    return s;
}

void CGraphUndoItem::Apply(CGraph& drawing, const Settings& s)
{
    // Every value came from a drawing, so the setters accept it; an id that
    // no layer has any more leaves the current layer as it is.
    (void)drawing.SetCurrentLayerById(s.currentLayerId);
    drawing.SetShowRaster(s.showRaster);
    drawing.SetShowVectors(s.showVectors);
    drawing.SetModified(s.modified);
    drawing.SetObjectSnapMask(s.objectSnapMask);
    drawing.SetObjectSnapOn(s.objectSnapOn);
    drawing.SetGridShown(s.gridShown);
    (void)drawing.SetSnapBase(s.snapBase);
    (void)drawing.SetSnapAngle(s.snapAngle);
    (void)drawing.SetGridSpacing(s.gridSpacingX, s.gridSpacingY);
    drawing.SetOrtho(s.ortho);
    (void)drawing.SetCurrentColor(s.currentColor);
    (void)drawing.SetCurrentWidth(s.currentWidth);
    (void)drawing.SetUnit(s.unit);
}

bool CGraphUndoItem::Init(CGraph* drawing, std::uint32_t kind)
{
    if (drawing == nullptr)
        return false;
    switch (kind) {
    case KIND_SETTINGS: m_Settings = Note(*drawing); break;
    case KIND_DRAWING: {
        std::unique_ptr<CGraph> copy(new (std::nothrow) CGraph);
        if (!copy || !copy->CopyFrom(*drawing))
            return false;
        m_Saved = std::move(copy);
        break;
    }
    default: return false;
    }
    m_Kind = kind;
    m_Target = drawing;
    return true;
}

bool CGraphUndoItem::Swap()
{
    if (m_Target == nullptr)
        return false;
    if (m_Kind == KIND_SETTINGS) {
        const Settings present = Note(*m_Target);
        Apply(*m_Target, m_Settings);
        m_Settings = present;
        return true;
    }
    if (!m_Saved)
        return false;
    // Each copy reverses the layer order, so two copies per swap keep it.
    std::unique_ptr<CGraph> present(new (std::nothrow) CGraph);
    if (!present || !present->CopyFrom(*m_Target))
        return false;
    if (!m_Target->CopyFrom(*m_Saved)) {
        // Put the drawing back as it was; the saved copy is untouched.
        (void)m_Target->CopyFrom(*present);
        return false;
    }
    m_Saved = std::move(present);
    return true;
}

// ---- finding what the records name ----------------------------------------

// How the records of one walk find entities and layers by id. A record alone
// searches the drawing; a walk over many records builds tables once and the
// records keep them up to date as they add and remove entities, since a
// search per record would make undoing a large deletion quadratic.
class CUndoLookup {
public:
    explicit CUndoLookup(CGraph& drawing) : m_Drawing(drawing) {}

    // Builds the tables; false, searching kept, when memory is short. Ids
    // are unique in a drawing (a restore never brings back a second one); a
    // damaged file's repeated id finds the first entity, as the search does.
    bool Index();

    [[nodiscard]] CGraph& Drawing() const { return m_Drawing; }
    [[nodiscard]] CEntity* FindEntity(std::uint32_t id) const
    {
        if (!m_Indexed)
            return m_Drawing.FindEntity(id);
        const auto found = m_Entities.find(id);
        return found == m_Entities.end() ? nullptr : found->second;
    }
    [[nodiscard]] CLayer* FindLayer(std::uint32_t id) const
    {
        if (!m_Indexed)
            return m_Drawing.FindLayer(id);
        const auto found = m_Layers.find(id);
        return found == m_Layers.end() ? nullptr : found->second;
    }
    // An entity of an id no entity has now went into a layer.
    [[nodiscard]] bool Added(CEntity* entity);
    // The entity left the drawing.
    void Removed(const CEntity* entity)
    {
        const auto found = m_Indexed ? m_Entities.find(entity->m_Id) : m_Entities.end();
        if (found != m_Entities.end() && found->second == entity)
            m_Entities.erase(found);
    }

private:
    CGraph& m_Drawing;
    bool m_Indexed = false;
    std::unordered_map<std::uint32_t, CEntity*> m_Entities;
    std::unordered_map<std::uint32_t, CLayer*> m_Layers;
};

bool CUndoLookup::Index()
{
    try {
        for (CLayer* layer = m_Drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
            m_Layers.emplace(layer->GetId(), layer);
            for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next)
                m_Entities.emplace(e->m_Id, e);
        }
    } catch (const std::bad_alloc&) {
        m_Entities.clear();
        m_Layers.clear();
        return false;
    }
    m_Indexed = true;
    return true;
}

bool CUndoLookup::Added(CEntity* entity)
{
    if (!m_Indexed)
        return true;
    try {
        m_Entities.emplace(entity->m_Id, entity);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// ---- per-entity records ---------------------------------------------------

CVectorUndoData::~CVectorUndoData() = default;

namespace {
// A copy that lives in no layer and is not selected.
std::unique_ptr<CEntity> DetachedClone(const CEntity& entity)
{
    std::unique_ptr<CEntity> clone = entity.Clone();
    if (clone) {
        clone->m_Selected = false;
        clone->m_Layer = nullptr;
    }
    return clone;
}
}  // namespace

bool CVectorUndoData::Set(const CEntity* entity, std::uint32_t kind)
{
    if (entity == nullptr || kind > UNDO_ENTITY_CHANGED)
        return false;
    std::unique_ptr<CEntity> clone = DetachedClone(*entity);
    if (!clone)
        return false;
    m_Saved = std::move(clone);
    m_EntityId = entity->m_Id;
    m_LayerId = entity->m_Layer ? entity->m_Layer->GetId() : 0;
    m_Kind = kind;
    return true;
}

bool CVectorUndoData::RemoveEntity(CUndoLookup& lookup)
{
    CEntity* entity = lookup.FindEntity(m_EntityId);
    if (entity == nullptr || entity->m_Layer == nullptr)
        return false;
    // The view drops the selection before it undoes; a node left naming the
    // entity would outlive it.
    if (entity->m_Selected)
        lookup.Drawing().ClearSelection();
    entity->m_Layer->RemoveEntity(entity);
    lookup.Removed(entity);
    delete entity;
    return true;
}

bool CVectorUndoData::RestoreEntity(CUndoLookup& lookup)
{
    CLayer* layer = lookup.FindLayer(m_LayerId);
    // An entity of this id is already back: a second copy would make every
    // later lookup by id ambiguous.
    if (layer == nullptr || !m_Saved || lookup.FindEntity(m_EntityId) != nullptr)
        return false;
    std::unique_ptr<CEntity> clone = DetachedClone(*m_Saved);
    if (!clone || !layer->AddEntity(clone.get()))
        return false;
    if (!lookup.Added(clone.get())) {
        layer->RemoveEntity(clone.get());
        return false;
    }
    clone.release();
    return true;
}

bool CVectorUndoData::SwapLayer(CUndoLookup& lookup)
{
    CEntity* entity = lookup.FindEntity(m_EntityId);
    CLayer* target = lookup.FindLayer(m_LayerId);
    if (entity == nullptr || entity->m_Layer == nullptr || target == nullptr)
        return false;
    CLayer* present = entity->m_Layer;
    m_LayerId = present->GetId();
    entity->m_Selected = false;
    present->RemoveEntity(entity);
    target->AddEntity(entity);
    return true;
}

bool CVectorUndoData::SwapState(CUndoLookup& lookup)
{
    CEntity* entity = lookup.FindEntity(m_EntityId);
    if (entity == nullptr || !m_Saved)
        return false;
    std::unique_ptr<CEntity> present = DetachedClone(*entity);
    if (!present)
        return false;
    CLayer* layer = entity->m_Layer;
    entity->CopyFrom(m_Saved.get());
    entity->m_Layer = layer;
    entity->m_Selected = false;
    m_Saved = std::move(present);
    return true;
}

bool CVectorUndoData::Undo(CGraph& drawing)
{
    CUndoLookup lookup(drawing);
    return Undo(lookup);
}

bool CVectorUndoData::Redo(CGraph& drawing)
{
    CUndoLookup lookup(drawing);
    return Redo(lookup);
}

bool CVectorUndoData::Undo(CUndoLookup& lookup)
{
    switch (m_Kind) {
    case UNDO_ENTITY_ADDED: return RemoveEntity(lookup);
    case UNDO_ENTITY_DELETED: return RestoreEntity(lookup);
    case UNDO_ENTITY_MOVED: return SwapLayer(lookup);
    case UNDO_ENTITY_CHANGED: return SwapState(lookup);
    default: return false;
    }
}

bool CVectorUndoData::Redo(CUndoLookup& lookup)
{
    switch (m_Kind) {
    case UNDO_ENTITY_ADDED: return RestoreEntity(lookup);
    case UNDO_ENTITY_DELETED: return RemoveEntity(lookup);
    case UNDO_ENTITY_MOVED: return SwapLayer(lookup);
    case UNDO_ENTITY_CHANGED: return SwapState(lookup);
    default: return false;
    }
}

CVectorUndoItem::~CVectorUndoItem() = default;

bool CVectorUndoItem::AddRecord(const CEntity* entity, std::uint32_t kind)
{
    std::unique_ptr<CVectorUndoData> data(new (std::nothrow) CVectorUndoData);
    if (!data || !data->Set(entity, kind))
        return false;
    return AddData(std::move(data));
}

bool CVectorUndoItem::AddSelection(const std::vector<CEntity*>& entities, std::uint32_t kind)
{
    for (const CEntity* entity : entities) {
        if (!AddRecord(entity, kind)) {
            FreeRecords();
            return false;
        }
    }
    return true;
}

bool CVectorUndoItem::AddData(std::unique_ptr<CVectorUndoData> data)
{
    if (!data)
        return false;
    try {
        m_Records.push_back(std::move(data));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CVectorUndoItem::FreeRecords() { m_Records.clear(); }

namespace {
// From this many records on a walk builds the id tables; below it a search
// per record costs no more than building them.
constexpr std::size_t kIndexedWalkRecords = 4;
}  // namespace

bool CVectorUndoItem::Undo()
{
    if (m_Drawing == nullptr)
        return false;
    const std::size_t n = m_Records.size();
    CUndoLookup lookup(*m_Drawing);
    if (n >= kIndexedWalkRecords)
        (void)lookup.Index();
    for (std::size_t k = n; k-- > 0;) {
        if (!m_Records[k]->Undo(lookup)) {
            // Re-apply what was taken back, oldest first, so the drawing
            // shows the whole change again.
            for (std::size_t j = k + 1; j < n; ++j)
                (void)m_Records[j]->Redo(lookup);
            return false;
        }
    }
    if (n > 0)
        m_Drawing->SetModified(true);
    return true;
}

bool CVectorUndoItem::Redo()
{
    if (m_Drawing == nullptr)
        return false;
    // Oldest first: the exact inverse of Undo, so that two records of one
    // entity are re-applied in the order they were made.
    const std::size_t n = m_Records.size();
    CUndoLookup lookup(*m_Drawing);
    if (n >= kIndexedWalkRecords)
        (void)lookup.Index();
    for (std::size_t k = 0; k < n; ++k) {
        if (!m_Records[k]->Redo(lookup)) {
            for (std::size_t j = k; j-- > 0;)
                (void)m_Records[j]->Undo(lookup);
            return false;
        }
    }
    if (n > 0)
        m_Drawing->SetModified(true);
    return true;
}
