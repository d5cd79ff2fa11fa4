// The drawing: its layer list, settings, extents, copies and project header.
// The raster-specific operations are in graph_raster.cpp, the temporary
// polyline in graph_edit.cpp.
#include "model/graph.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "model/entity.h"
#include "model/geometry.h"
#include "model/layer.h"

namespace {
// The margin GetExtents adds around the drawing, as a factor of the
// half-width and half-height.
constexpr double kExtentsMargin = 1.03;
}  // namespace

CGraph::CGraph()
{
    SelectOrAddLayer("Trace");
    CreateRasterEntity();
    // Last, so that a new drawing is not marked modified.
    m_Modified = false;
}

CGraph::~CGraph()
{
    m_VectorUndo = nullptr;
    m_TempPolyline.reset();
    ClearGrips();
    ClearSelection();
    RemoveAllLayers();
}

// ---- layers ---------------------------------------------------------------

namespace {
// The index key of a name: cut as names are, ASCII letters in lower case.
std::string LayerKey(const std::string& name)
{
    std::string key = ClampLayerName(name);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return key;
}
}  // namespace

bool CGraph::HoldsLayer(const CLayer* layer) const
{
    const auto it = m_LayersByName.find(LayerKey(layer->GetName()));
    return it != m_LayersByName.end() && std::find(it->second.begin(), it->second.end(), layer) != it->second.end();
}

void CGraph::IndexLayerAtFront(CLayer* layer)
{
    std::vector<CLayer*>& named = m_LayersByName[LayerKey(layer->GetName())];
    named.insert(named.begin(), layer);
}

void CGraph::UnindexLayer(CLayer* layer, const std::string& name)
{
    const auto it = m_LayersByName.find(LayerKey(name));
    if (it == m_LayersByName.end())
        return;
    std::vector<CLayer*>& named = it->second;
    named.erase(std::remove(named.begin(), named.end(), layer), named.end());
    if (named.empty())
        m_LayersByName.erase(it);
}

void CGraph::RebuildLayerIndex()
{
    m_LayersByName.clear();
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        m_LayersByName[LayerKey(l->GetName())].push_back(l);
}

CLayer* CGraph::DetachLayers()
{
    CLayer* first = m_FirstLayer;
    m_FirstLayer = m_CurrentLayer = nullptr;
    m_LayersByName.clear();
    return first;
}

void CGraph::AttachLayers(CLayer* first, CLayer* current)
{
    m_FirstLayer = first;
    m_CurrentLayer = current;
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        l->SetOwner(this);
    RebuildLayerIndex();
}

void CGraph::OnLayerRenamed(CLayer* layer, const std::string& oldName)
{
    const auto it = m_LayersByName.find(LayerKey(oldName));
    if (it == m_LayersByName.end() || std::find(it->second.begin(), it->second.end(), layer) == it->second.end())
        return;  // not one of this drawing's layers
    UnindexLayer(layer, oldName);
    const auto now = m_LayersByName.find(LayerKey(layer->GetName()));
    if (now == m_LayersByName.end()) {
        m_LayersByName[LayerKey(layer->GetName())].push_back(layer);
        return;
    }
    // Another layer has the name already: keep the entry in list order.
    std::vector<CLayer*>& named = now->second;
    named.clear();
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        if (LayerNamesEqual(l->GetName(), layer->GetName()))
            named.push_back(l);
}

void CGraph::AddLayer(CLayer* layer)
{
    if (layer == nullptr)
        return;
    if (HoldsLayer(layer))
        return;  // already ours: relinking would make a cycle
    layer->SetNext(m_FirstLayer);
    layer->SetOwner(this);
    IndexLayerAtFront(layer);
    m_FirstLayer = layer;
    m_CurrentLayer = layer;
    SetModified(true);
}

bool CGraph::RemoveLayer(CLayer* layer, bool del)
{
    if (m_FirstLayer == nullptr || layer == nullptr || !del)
        return true;
    CLayer* previous = nullptr;
    CLayer* l = m_FirstLayer;
    while (l && l != layer) {
        previous = l;
        l = l->GetNext();
    }
    if (l == nullptr)
        return false;
    // A selected entity of the layer would leave its node and grips behind.
    for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
        if (!e->m_Selected)
            continue;
        ClearSelection();
        break;
    }
    if (previous)
        previous->SetNext(layer->GetNext());
    else
        m_FirstLayer = layer->GetNext();
    UnindexLayer(layer, layer->GetName());
    if (m_CurrentLayer == layer)
        m_CurrentLayer = previous ? previous : m_FirstLayer;
    // The temporary polyline names its layer for its colour.
    if (m_TempPolyline && m_TempPolyline->m_Layer == layer)
        m_TempPolyline->m_Layer = m_CurrentLayer;
    delete layer;
    SetModified(true);
    return true;
}

void CGraph::RemoveAllLayers()
{
    // The selection names entities of these layers: it goes while they live.
    ClearSelection();
    CLayer* layer = DetachLayers();
    while (layer) {
        CLayer* next = layer->GetNext();
        delete layer;
        layer = next;
    }
    if (m_TempPolyline)
        m_TempPolyline->m_Layer = nullptr;
    SetModified(true);
}

CLayer* CGraph::SelectOrAddLayer(const std::string& name)
{
    const std::string clamped = ClampLayerName(name);
    if (clamped.empty())
        return m_CurrentLayer;
    if (CLayer* layer = FindLayerByName(clamped)) {
        m_CurrentLayer = layer;
        return layer;
    }
    CLayer* layer = new (std::nothrow) CLayer;
    if (layer == nullptr)
        return m_CurrentLayer;
    layer->SetName(clamped);
    AddLayer(layer);
    return layer;
}

CLayer* CGraph::FindLayer(std::uint32_t id) const
{
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        if (l->GetId() == id)
            return l;
    return nullptr;
}

CLayer* CGraph::FindLayerByName(const std::string& name) const
{
    if (name.empty())
        return nullptr;
    const auto it = m_LayersByName.find(LayerKey(name));
    return it == m_LayersByName.end() || it->second.empty() ? nullptr : it->second.front();
}

bool CGraph::SetCurrentLayerById(std::uint32_t id)
{
    if (id == 0)
        return false;
    CLayer* layer = FindLayer(id);
    if (layer == nullptr)
        return false;
    m_CurrentLayer = layer;
    return true;
}

bool CGraph::SetCurrentLayer(CLayer* layer)
{
    if (layer == nullptr || !HoldsLayer(layer))
        return false;
    m_CurrentLayer = layer;
    return true;
}

bool CGraph::SetCurrentLayerByName(const std::string& name)
{
    CLayer* layer = FindLayerByName(name);
    if (layer == nullptr)
        return false;
    m_CurrentLayer = layer;
    return true;
}

bool CGraph::SetCurrentLayerByIndex(int n)
{
    if (n < 0)
        return false;
    CLayer* l = m_FirstLayer;
    for (int i = 0; l && i < n; ++i)
        l = l->GetNext();
    if (l == nullptr)
        return false;
    m_CurrentLayer = l;
    return true;
}

int CGraph::GetLayerCount() const
{
    int count = 0;
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        ++count;
    return count;
}

int CGraph::GetEntityCount()
{
    int count = 0;
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        count += l->CountEntities();
    return count;
}

CEntity* CGraph::FindEntity(std::uint32_t id) const
{
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        if (CEntity* e = l->FindEntity(id))
            return e;
    return nullptr;
}

bool CGraph::IsEmpty() const
{
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        if (!l->IsEmpty())
            return false;
    return true;
}

// ---- state ----------------------------------------------------------------

void CGraph::SetModified(bool modified)
{
    m_Modified = modified;
    if (modified)
        InvalidateExtents();
    ++m_ModificationMark;
}

bool CGraph::GetExtents(double* box, bool margin, bool withRaster)
{
    if (!m_ExtentsValid) {
        m_ExtentsFound = false;
        double scratch[4];
        for (CLayer* l = m_FirstLayer; l; l = l->GetNext()) {
            if (!m_ExtentsFound)
                m_ExtentsFound = l->GetExtents(nullptr, m_Extents);
            else
                (void)l->GetExtents(m_Extents, scratch);
        }
        m_ExtentsValid = true;
    }

    double result[4];
    bool found = m_ExtentsFound;
    if (found)
        std::memcpy(result, m_Extents, sizeof result);
    if (withRaster && m_Raster) {
        double raster[4];
        if (m_Raster->GetExtents(nullptr, raster)) {
            if (found)
                MergeExtents(result, raster);
            else
                std::memcpy(result, raster, sizeof result);
            found = true;
        }
    }
    if (!found)
        return false;
    if (margin) {
        const double cx = (result[EXT_MIN_X] + result[EXT_MAX_X]) * 0.5;
        const double cy = (result[EXT_MIN_Y] + result[EXT_MAX_Y]) * 0.5;
        const double hx = (result[EXT_MAX_X] - result[EXT_MIN_X]) * 0.5 * kExtentsMargin;
        const double hy = (result[EXT_MAX_Y] - result[EXT_MIN_Y]) * 0.5 * kExtentsMargin;
        result[EXT_MIN_X] = cx - hx;
        result[EXT_MAX_X] = cx + hx;
        result[EXT_MIN_Y] = cy - hy;
        result[EXT_MAX_Y] = cy + hy;
    }
    std::memcpy(box, result, sizeof result);
    return true;
}

bool CGraph::CopyFrom(const CGraph& other)
{
    if (&other == this)
        return true;
    ClearGrips();
    ClearSelection();
    RemoveAllLayers();

    m_TempPolylineXor = false;
    m_ShowRaster = other.m_ShowRaster;
    m_ShowVectors = other.m_ShowVectors;
    m_ObjectSnapMask = other.m_ObjectSnapMask;
    m_ObjectSnapOn = other.m_ObjectSnapOn;
    m_GridShown = other.m_GridShown;
    m_SnapBase = other.m_SnapBase;
    m_SnapAngle = other.m_SnapAngle;
    m_GridSpacingX = other.m_GridSpacingX;
    m_GridSpacingY = other.m_GridSpacingY;
    m_Ortho = other.m_Ortho;
    m_CurrentColor = other.m_CurrentColor;
    m_CurrentWidth = other.m_CurrentWidth;
    m_Unit = other.m_Unit;

    // Each copy goes to the head, so the copy lists the layers in reverse.
    bool complete = true;
    for (const CLayer* l = other.m_FirstLayer; l; l = l->GetNext()) {
        CLayer* copy = new (std::nothrow) CLayer;
        if (copy == nullptr) {
            complete = false;
            break;
        }
        if (!copy->CopyFrom(*l))
            complete = false;
        AddLayer(copy);
    }
    if (other.m_CurrentLayer)
        SetCurrentLayerById(other.m_CurrentLayer->GetId());
    // Adding the layers marked the copy modified; it is as modified as its
    // source (the extents cache was dropped all the same).
    m_Modified = other.m_Modified;
    return complete;
}

// ---- settings -------------------------------------------------------------

bool CGraph::SetUnit(std::uint32_t unit)
{
    if (unit > UNIT_LAST)
        return false;
    m_Unit = unit;
    return true;
}

bool CGraph::SetGridSpacing(double x, double y)
{
    // The grid drawing steps by these; zero, negative or NaN never ends.
    if (!std::isfinite(x) || !std::isfinite(y) || x <= 0 || y <= 0)
        return false;
    m_GridSpacingX = x;
    m_GridSpacingY = y;
    return true;
}

bool CGraph::SetSnapBase(const frDoublePoint& base)
{
    if (!std::isfinite(base.x) || !std::isfinite(base.y) || !std::isfinite(base.z))
        return false;
    m_SnapBase = base;
    return true;
}

bool CGraph::SetSnapAngle(double radians)
{
    if (!std::isfinite(radians))
        return false;
    m_SnapAngle = radians;
    return true;
}

bool CGraph::SetCurrentColor(int color)
{
    if (color < 1 || color > 256)
        return false;
    m_CurrentColor = static_cast<std::int16_t>(color);
    return true;
}

bool CGraph::SetCurrentWidth(double width)
{
    if (!std::isfinite(width) || width < 0)
        return false;
    m_CurrentWidth = width;
    return true;
}

// ---- selection, grips, display --------------------------------------------

void CGraph::ClearSelection()
{
    // Only entities in the set carry the flag (copies and undo records never
    // do), so the set alone is walked, however large the drawing.
    m_Selection.Clear();  // frees the grips first
}

void CGraph::ClearGrips()
{
    CGripRecord* grip = m_Grips;
    m_Grips = nullptr;
    while (grip) {
        CGripRecord* next = grip->next;
        delete grip;
        grip = next;
    }
    m_GripCount = 0;
    m_CurrentGrip = nullptr;
    m_HoverGrip = nullptr;
}

void CGraph::DrawLayers(CFrDevice* device)
{
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        l->Draw(device);
}

// ---- project header -------------------------------------------------------

bool CGraph::WriteHeader(std::FILE* file) const
{
    return WriteProjectU32(file, m_Unit) && WriteProjectU32(file, m_ObjectSnapMask) &&
           WriteProjectU32(file, m_ObjectSnapOn) && WriteProjectU32(file, m_GridShown) &&
           WriteProjectF64(file, m_SnapBase.x) && WriteProjectF64(file, m_SnapBase.y) &&
           WriteProjectF64(file, m_SnapAngle) && WriteProjectF64(file, m_GridSpacingX) &&
           WriteProjectF64(file, m_GridSpacingY) && WriteProjectU32(file, m_Ortho);
}
