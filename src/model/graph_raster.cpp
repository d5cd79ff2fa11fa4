// The drawing's raster: the raster entity, the unit conversions that use its
// resolution, a fresh drawing over a new image and the histogram.
#include "model/graph.h"

#include "model/entity.h"
#include "model/layer.h"
#include "model/text_table.h"

#include "raster/raster_entity.h"

void CGraph::CreateRasterEntity() { m_Raster = CreateEntity(ENTITY_RASTER); }

CRaster* CGraph::GetRaster() const
{
    CEntity* e = m_Raster.get();
    return e && e->m_Type == ENTITY_RASTER ? static_cast<CRaster*>(e) : nullptr;
}

double CGraph::GetRasterResolution() const
{
    CRaster* raster = GetRaster();
    if (raster == nullptr || raster->GetImage().IsEmpty())
        return 0.0;
    LONG dotsPerMetre = 0;
    // The image raises a resolution of 1 dpi or less to 200 dpi.
    if (!raster->GetImage().GetResolution(dotsPerMetre) || dotsPerMetre <= 0)
        return 0.0;
    return static_cast<double>(dotsPerMetre);
}

void CGraph::UnitsToPixels(double* a, double* b) const
{
    const double r = GetRasterResolution();
    if (r <= 0 || m_Unit == UNIT_PIXEL)
        return;
    double factor = 1.0;
    switch (m_Unit) {
    case UNIT_INCH: factor = r * 0.0254; break;
    case UNIT_CM: factor = r / 100; break;
    case UNIT_MM: factor = r / 1000; break;
    default: return;
    }
    if (a)
        *a *= factor;
    if (b)
        *b *= factor;
}

void CGraph::GetPixelsPerUnit(double* a, double* b, std::string* unitName) const
{
    if (unitName)
        unitName->clear();
    const double r = GetRasterResolution();
    if (r <= 0 || m_Unit == UNIT_PIXEL)
        return;
    double divisor = 1.0;
    switch (m_Unit) {
    case UNIT_INCH:
        divisor = r / 100 * 2.54;
        if (unitName)
            *unitName = GetLanString("UnitNameInch", "Inch");
        break;
    case UNIT_CM:
        divisor = r / 100;
        if (unitName)
            *unitName = GetLanString("UnitNamecm", "cm");
        break;
    case UNIT_MM:
        divisor = r / 1000;
        if (unitName)
            *unitName = GetLanString("UnitNamemm", "mm");
        break;
    default: return;
    }
    if (a)
        *a /= divisor;
    if (b)
        *b /= divisor;
}

bool CGraph::NewFromRaster(const std::string& fileName, GraphProgress progress)
{
    RemoveAllLayers();
    SelectOrAddLayer("Trace");
    CRaster* raster = GetRaster();
    if (raster == nullptr || !raster->LoadImage(0.0, 0.0, fileName))
        return false;
    ComputeRasterHistogram(progress);
    return true;
}

void CGraph::ComputeRasterHistogram(GraphProgress progress)
{
    m_Histogram.fill(0);
    CRaster* raster = GetRaster();
    if (raster == nullptr || raster->GetImage().IsEmpty())
        return;
    raster->GetImage().ComputeHistogram(m_Histogram.data(), progress);
}
