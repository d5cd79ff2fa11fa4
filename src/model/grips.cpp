// The drawing's grips: drawing them, the current and the hovered grip, and
// dragging the hot ones. The grip list belongs to the drawing; each record
// names the selection node whose entity offered it, and an entity's records
// form one run (its AddGrips pushed them together).
#include "model/grips.h"

#include <cmath>
#include <vector>

#include "model/device.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/select_set.h"

bool MoveGripRecord(const CGripRecord& grip, const frDoublePoint& point, GripMove form)
{
    CSelectNode* node = grip.owner;
    CEntity* clone = node ? node->GetClone() : nullptr;
    if (clone == nullptr || node->GetEntity() == nullptr)
        return false;
    const bool moved = clone->MoveGrip(point.x, point.y, point.z, grip.index);
    if (form == GripMove::Drag && !moved)
        node->RefreshClone();
    else if (form == GripMove::Final && moved)
        node->ApplyClone();
    return moved;
}

namespace {

// The nodes of the hot grips, once for each run of one node's records, in
// list order.
std::vector<CSelectNode*> HotGripOwners(const CGripRecord* grips)
{
    std::vector<CSelectNode*> owners;
    for (const CGripRecord* g = grips; g; g = g->next)
        if (g->hot && g->owner && g->owner->GetClone() && (owners.empty() || owners.back() != g->owner))
            owners.push_back(g->owner);
    return owners;
}

bool InGripList(const CGripRecord* grips, const CGripRecord* grip)
{
    for (const CGripRecord* g = grips; g; g = g->next)
        if (g == grip)
            return true;
    return false;
}

}  // namespace

CGripRecord* CGraph::SetCurrentGrip(const CSelectNode* owner, std::int32_t index)
{
    if (m_CurrentGrip && InGripList(m_Grips, m_CurrentGrip))
        m_CurrentGrip->current = 0;
    m_CurrentGrip = nullptr;
    CGripRecord* g = m_Grips;
    while (g && g->owner != owner)
        g = g->next;
    for (; g && g->owner == owner; g = g->next) {
        if (g->index == index) {
            g->current = 1;
            m_CurrentGrip = g;
            break;
        }
    }
    return m_CurrentGrip;
}

void CGraph::DrawGrips(CFrDevice* device) const
{
    if (device == nullptr)
        return;
    for (const CGripRecord* g = m_Grips; g; g = g->next)
        device->DrawGripBox(g->point.x, g->point.y, g->hot != 0, g->current != 0);
}

bool CGraph::TrackHoverGrip(CFrDevice* device, const frDoublePoint& pointer, double pickPixels)
{
    if (device == nullptr)
        return false;
    // The list may have been rebuilt since: only a record still in it is
    // drawn again.
    if (m_HoverGrip && InGripList(m_Grips, m_HoverGrip))
        device->DrawGripBox(m_HoverGrip->point.x, m_HoverGrip->point.y, m_HoverGrip->hot != 0,
                            m_HoverGrip->current != 0);
    m_HoverGrip = nullptr;
    const double reach = std::fabs(pickPixels) * device->Transform().UnitsPerPixel();
    for (CGripRecord* g = m_Grips; g; g = g->next) {
        if (g->hot || std::fabs(g->point.x - pointer.x) > reach || std::fabs(g->point.y - pointer.y) > reach)
            continue;
        device->DrawGripBox(g->point.x, g->point.y, true, g->current != 0);
        m_HoverGrip = g;
        return true;
    }
    return false;
}

void CGraph::DragHotGrips(CFrDevice* device, const frDoublePoint& point)
{
    const std::vector<CSelectNode*> owners = HotGripOwners(m_Grips);
    // Each step starts again from the real entity, so the clone shows one
    // move and not the sum of every step of the drag.
    for (CSelectNode* node : owners) {
        if (device)
            node->GetClone()->Draw(device);
        node->RefreshClone();
    }
    for (const CGripRecord* g = m_Grips; g; g = g->next)
        if (g->hot)
            (void)MoveGripRecord(*g, point, GripMove::Drag);
    if (device)
        for (CSelectNode* node : owners)
            node->GetClone()->Draw(device);
}

void CGraph::DrawHotGripClones(CFrDevice* device)
{
    for (CSelectNode* node : HotGripOwners(m_Grips)) {
        if (device)
            node->GetClone()->Draw(device);
        node->RefreshClone();
    }
}
