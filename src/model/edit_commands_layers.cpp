// Separating the drawing into one layer per line width.
#include <memory>
#include <new>
#include <vector>

#include "model/edit_commands.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "trace/series.h"

static_assert(UINT{WIDTH_UNIT_INCH} == UINT{UNIT_INCH} && UINT{WIDTH_UNIT_CM} == UINT{UNIT_CM} &&
              UINT{WIDTH_UNIT_MM} == UINT{UNIT_MM} && UINT{WIDTH_UNIT_PIXEL} == UINT{UNIT_PIXEL});

namespace {
// The layer that takes every entity whose width is not in the series.
constexpr const char* kOtherLayerName = "other";
}  // namespace

bool CGraph::CreateBasisLayers(const CWidthSeries& series)
{
    const std::vector<double> widths = series.GetWidths();
    if (widths.empty())
        return false;
    for (double width : widths)
        (void)SelectOrAddLayer(WidthLayerName(width));
    return m_FirstLayer != nullptr;
}

bool CGraph::SeparateToLayers(const CWidthSeries& series)
{
    if (m_FirstLayer == nullptr || series.GetWidths().empty())
        return false;
    // Made first: without it the entities left over would go with their old
    // layers.
    std::unique_ptr<CLayer> other(new (std::nothrow) CLayer);
    if (!other)
        return false;
    other->SetName(kOtherLayerName);
    // Entities change layers and the old layers go.
    ClearSelection();

    CLayer* const oldCurrent = m_CurrentLayer;
    CLayer* const oldLayers = DetachLayers();
    if (!CreateBasisLayers(series)) {
        // No layer was made; the drawing gets its own list back.
        AttachLayers(oldLayers, oldCurrent);
        return false;
    }

    // The names are the series' values, so they are read in the series'
    // unit (the unit codes agree), not in the drawing's: traced widths are
    // series values in pixels whatever unit the drawing shows.
    const double resolution = GetRasterResolution();
    for (CLayer* l = oldLayers; l; l = l->GetNext())
        (void)l->DistributeToLayers(m_FirstLayer, series.Unit, resolution);
    for (CLayer* l = oldLayers; l;) {
        CLayer* next = l->GetNext();
        other->MoveEntitiesFrom(*l);
        delete l;
        l = next;
    }
    AddLayer(other.release());

    // Only layers that hold entities stay; each goes to the head again, so
    // the order turns round and the last one added is current.
    CLayer* layers = DetachLayers();
    while (layers) {
        CLayer* next = layers->GetNext();
        layers->SetNext(nullptr);
        if (layers->IsEmpty())
            delete layers;
        else
            AddLayer(layers);
        layers = next;
    }
    // The temporary polyline named one of the layers just deleted.
    if (m_TempPolyline)
        m_TempPolyline->m_Layer = m_CurrentLayer;
    SetModified(true);
    return true;
}
