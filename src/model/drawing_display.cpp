// The drawing's paint pass on a drawing device: the raster underneath, the
// layers in list order (later ones over earlier ones), the temporary
// polyline, the grid and the grips on top.
#include "model/device.h"
#include "model/entity.h"
#include "model/graph.h"

#include "raster/raster_entity.h"

int CGraph::Draw(CFrDevice* device)
{
    if (device == nullptr)
        return 0;
    if (m_ShowRaster) {
        CRaster* raster = GetRaster();
        if (raster && !raster->GetImage().IsEmpty())
            raster->Draw(device);
    }
    if (m_ShowVectors) {
        DrawLayers(device);
        if (CEntity* temp = m_TempPolyline.get()) {
            if (m_TempPolylineXor) {
                device->SetXorMode(true);
                temp->Draw(device);
                device->SetXorMode(false);
            } else {
                temp->Draw(device);
            }
        }
    }
    int result = 0;
    if (GetGridShown() && !DrawGrid(device))
        result = 1;
    DrawGrips(device);
    return result;
}
