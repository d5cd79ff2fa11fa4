// The drawing's selection and editing commands: selecting by box, deleting,
// exploding polylines, the drawing commands and the grip move. Every change
// is recorded on the vector undo list. A record that cannot be made stops
// the command before it changes anything, unless there is no list to keep it.
#include "model/edit_commands.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/grips.h"
#include "model/layer.h"
#include "model/solid.h"
#include "model/text_table.h"
#include "model/undo.h"
#include "platform/number_text.h"

// ---- geometry of the drawing commands -------------------------------------

bool CircleThroughPoints(const frDoublePoint& p1, const frDoublePoint& p2, const frDoublePoint& p3,
                         frDoublePoint* centre, double* radius)
{
    frDoublePoint c;
    double r = 0;
    if (!BulgeFromThreePoints(p1, p2, p3, &c, &r, nullptr))
        return false;
    if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(r))
        return false;
    *centre = frDoublePoint(c.x, c.y, 0);
    *radius = r;
    return true;
}

namespace {
// The direction from c to p in [0, TWO_PI).
double DirectionAbout(const frDoublePoint& c, const frDoublePoint& p)
{
    double a = std::atan2(p.y - c.y, p.x - c.x);
    if (a < 0)
        a += TWO_PI;
    return a;
}
}  // namespace

bool ArcThroughPoints(const frDoublePoint& start, const frDoublePoint& middle, const frDoublePoint& end,
                      frDoublePoint* centre, double* radius, double* startAngle, double* endAngle)
{
    frDoublePoint c;
    double r = 0;
    if (!CircleThroughPoints(start, middle, end, &c, &r) || r < MIN_DRAWN_RADIUS)
        return false;
    double a1 = DirectionAbout(c, start);
    double a2 = DirectionAbout(c, middle);
    double a3 = DirectionAbout(c, end);
    while (a2 < a1)
        a2 += TWO_PI;
    while (a3 < a1)
        a3 += TWO_PI;
    // Counter-clockwise from start the end comes before the middle: the arc
    // through the middle runs the other way round.
    if (a3 < a2)
        std::swap(a1, a3);
    *centre = c;
    *radius = r;
    *startAngle = std::fmod(a1, TWO_PI);
    *endAngle = std::fmod(a3, TWO_PI);
    return true;
}

std::string WidthLayerName(double width)
{
    std::string name = FormatC("%-.4f", width);
    if (std::size_t dot = name.find('.'); dot != std::string::npos)
        name[dot] = '_';
    return name;
}

// ---- shared steps ---------------------------------------------------------

namespace {
std::unique_ptr<CVectorUndoItem> NewVectorUndo(CGraph* drawing, const char* key, const char* english)
{
    return std::unique_ptr<CVectorUndoItem>(new (std::nothrow) CVectorUndoItem(GetLanString(key, english), drawing));
}

std::uint32_t CountGrips(const CGripRecord* grips)
{
    std::uint32_t count = 0;
    for (; grips; grips = grips->next)
        ++count;
    return count;
}

// The grip list made again from the whole selection.
void CollectSelectionGrips(CGraph& drawing)
{
    drawing.ClearGrips();
    drawing.GetSelectSet().CollectGrips(drawing.GetGripListHead());
    drawing.SetGripCount(CountGrips(drawing.GetGrips()));
}

bool OwnsGrip(const CGripRecord* grips, const CSelectNode* owner)
{
    for (; grips; grips = grips->next)
        if (grips->owner == owner)
            return true;
    return false;
}

}  // namespace

void RebuildSelectionGrips(CGraph& drawing, const std::vector<CSelectNode*>& nodes)
{
    CGripRecord* current = drawing.GetCurrentGrip();
    const CSelectNode* currentOwner = current ? current->owner : nullptr;
    const std::int32_t currentIndex = current ? current->index : 0;
    CGripRecord** head = drawing.GetGripListHead();
    for (CSelectNode* node : nodes) {
        if (drawing.GetCurrentGrip() && drawing.GetCurrentGrip()->owner == node)
            drawing.SetCurrentGrip(nullptr);
        // RemoveGripRecords takes one run at a time.
        while (OwnsGrip(*head, node))
            RemoveGripRecords(node, head);
        if (node->GetEntity())
            node->GetEntity()->AddGrips(node, head);
    }
    drawing.SetGripCount(CountGrips(*head));
    if (currentOwner)
        (void)drawing.SetCurrentGrip(currentOwner, currentIndex);
}

namespace {

// The common tail of the drawing commands: current colour and width, the
// current layer, the undo record. The entity is deleted again when it
// cannot be recorded.
CEntity* AddDrawnEntity(CGraph& drawing, std::unique_ptr<CEntity> entity, const char* key, const char* english)
{
    CLayer* layer = drawing.GetCurrentLayer();
    if (layer == nullptr || !entity)
        return nullptr;
    entity->m_Color = drawing.GetCurrentColor();
    entity->SetWidth(drawing.GetCurrentWidth());
    if (!layer->AddEntity(entity.get()))
        return nullptr;
    CEntity* added = entity.release();

    std::unique_ptr<CVectorUndoItem> item = NewVectorUndo(&drawing, key, english);
    const bool recorded = item && item->AddRecord(added, UNDO_ENTITY_ADDED);
    if (!recorded && drawing.GetVectorUndoList()) {
        layer->RemoveEntity(added);
        delete added;
        return nullptr;
    }
    drawing.SetModified(true);
    if (recorded)
        (void)PushUndoItem(drawing.GetVectorUndoList(), std::move(item));
    return added;
}

void NormaliseBox(const frDoublePoint& a, const frDoublePoint& b, frDoublePoint* lo, frDoublePoint* hi)
{
    *lo = frDoublePoint(std::min(a.x, b.x), std::min(a.y, b.y));
    *hi = frDoublePoint(std::max(a.x, b.x), std::max(a.y, b.y));
}
}  // namespace

// ---- selection ------------------------------------------------------------

namespace {
// Adds each entity a layer selects to the set; one that gets no node is not
// selected after all, so flag and set stay in step.
EntityCollector AddToSet(CSelectSet& set)
{
    return [&set](CEntity* e) {
        if (set.Add(e) == nullptr)
            e->m_Selected = false;
    };
}
}  // namespace

bool CGraph::SelectCrossing(const frDoublePoint& corner1, const frDoublePoint& corner2)
{
    frDoublePoint lo, hi;
    NormaliseBox(corner1, corner2, &lo, &hi);
    const EntityCollector collect = AddToSet(m_Selection);
    bool any = false;
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        if (l->IsVisible() && l->SelectCrossing(lo, hi, collect))
            any = true;
    if (any)
        CollectSelectionGrips(*this);
    return any;
}

bool CGraph::SelectWindow(const frDoublePoint& corner1, const frDoublePoint& corner2)
{
    frDoublePoint lo, hi;
    NormaliseBox(corner1, corner2, &lo, &hi);
    const EntityCollector collect = AddToSet(m_Selection);
    bool any = false;
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        if (l->IsVisible() && l->SelectWindow(lo, hi, collect))
            any = true;
    if (any)
        CollectSelectionGrips(*this);
    return any;
}

void CGraph::SelectAll(bool select)
{
    ClearSelection();
    if (!select)
        return;
    const EntityCollector collect = AddToSet(m_Selection);
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        if (l->IsVisible())
            l->SelectAll(true, collect);
    CollectSelectionGrips(*this);
}

void CGraph::DrawSelection(CFrDevice* device) { m_Selection.Draw(device); }

std::size_t CGraph::GetSelectionInfo(std::vector<std::string>* lines, std::size_t maxLines)
{
    if (lines == nullptr)
        return 0;
    bool any = false;
    std::size_t skipped = 0;
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
        if (l->GetSelectedInfo(lines, maxLines, &skipped))
            any = true;
    if (!any)
        lines->push_back(GetLanString("DisplayNoVector", "No vector selected!"));
    return skipped;
}

// ---- deleting and exploding -----------------------------------------------

bool CGraph::DeleteSelected()
{
    if (m_Selection.IsEmpty())
        return false;
    std::unique_ptr<CVectorUndoItem> item = NewVectorUndo(this, "UndoDeleteVector", "Delete Vectors");
    const bool recorded = item && item->AddSelection(m_Selection.GetEntities(), UNDO_ENTITY_DELETED);
    if (!recorded && m_VectorUndo)
        return false;
    (void)m_Selection.DeleteAll();  // frees the grips first
    SetModified(true);
    if (recorded)
        (void)PushUndoItem(m_VectorUndo, std::move(item));
    return true;
}

int CGraph::ExplodePolylines(bool all)
{
    if (m_FirstLayer == nullptr)
        return 0;
    if (!all && m_Selection.IsEmpty())
        all = true;
    std::unique_ptr<CVectorUndoItem> item = NewVectorUndo(this, "UndoExplode", "Explode PolyLines");
    if (!item)
        return 0;
    int exploded = 0;
    if (!all) {
        exploded = m_Selection.ExplodePolylines(item.get());
    } else {
        ClearSelection();
        for (CLayer* l = m_FirstLayer; l; l = l->GetNext())
            exploded += l->ExplodePolylines(true, item.get());
    }
    // An empty record would only throw away what could be redone.
    if (exploded == 0)
        return 0;
    SetModified(true);
    (void)PushUndoItem(m_VectorUndo, std::move(item));
    return exploded;
}

// ---- drawing commands -----------------------------------------------------

CSolid* CGraph::DrawSolid(const frDoublePoint& p1, const frDoublePoint& p2, const frDoublePoint& p3)
{
    if (m_CurrentLayer == nullptr)
        return nullptr;
    std::unique_ptr<CSolid> solid = NewSolid(p1, p2, p3);
    if (!solid)
        return nullptr;
    return static_cast<CSolid*>(AddDrawnEntity(*this, std::move(solid), "UndoDrawSolid", "Draw Solid"));
}

CCircle* CGraph::DrawCircle(const frDoublePoint& centre, double radius)
{
    const double r = std::fabs(radius);
    if (m_CurrentLayer == nullptr || !std::isfinite(r) || r < MIN_DRAWN_RADIUS || !std::isfinite(centre.x) ||
        !std::isfinite(centre.y))
        return nullptr;
    std::unique_ptr<CCircle> circle = NewCircle(frDoublePoint(centre.x, centre.y, 0), r);
    if (!circle)
        return nullptr;
    return static_cast<CCircle*>(AddDrawnEntity(*this, std::move(circle), "UndoDrawCircle", "Draw Circle"));
}

CCircle* CGraph::DrawCircle3P(const frDoublePoint& p1, const frDoublePoint& p2, const frDoublePoint& p3)
{
    frDoublePoint centre;
    double radius = 0;
    if (m_CurrentLayer == nullptr || !CircleThroughPoints(p1, p2, p3, &centre, &radius) || radius < MIN_DRAWN_RADIUS)
        return nullptr;
    std::unique_ptr<CCircle> circle = NewCircle(centre, radius);
    if (!circle)
        return nullptr;
    return static_cast<CCircle*>(AddDrawnEntity(*this, std::move(circle), "UndoDrawCircle", "Draw Circle"));
}

CArc* CGraph::DrawArcCentre(const frDoublePoint& centre, const frDoublePoint& start, const frDoublePoint& end)
{
    if (m_CurrentLayer == nullptr || PointsEqual(centre, start) || PointsEqual(centre, end) || PointsEqual(start, end))
        return nullptr;
    const double radius = std::hypot(start.x - centre.x, start.y - centre.y);
    if (!std::isfinite(radius) || radius < MIN_DRAWN_RADIUS || !std::isfinite(end.x) || !std::isfinite(end.y))
        return nullptr;
    const double a1 = DirectionAbout(centre, start);
    const double a2 = DirectionAbout(centre, end);
    // An end in the start's direction leaves an arc without sweep.
    const double sweep = AngleSweep(a1, a2);
    if (sweep < POINT_TOLERANCE || sweep > TWO_PI - POINT_TOLERANCE)
        return nullptr;
    std::unique_ptr<CArc> arc = NewArc(frDoublePoint(centre.x, centre.y, 0), radius, a1, a2);
    if (!arc)
        return nullptr;
    return static_cast<CArc*>(AddDrawnEntity(*this, std::move(arc), "UndoDrawArc", "Draw Arc"));
}

CArc* CGraph::DrawArc3P(const frDoublePoint& start, const frDoublePoint& middle, const frDoublePoint& end)
{
    frDoublePoint centre;
    double radius = 0, a1 = 0, a2 = 0;
    if (m_CurrentLayer == nullptr || !ArcThroughPoints(start, middle, end, &centre, &radius, &a1, &a2))
        return nullptr;
    std::unique_ptr<CArc> arc = NewArc(centre, radius, a1, a2);
    if (!arc)
        return nullptr;
    return static_cast<CArc*>(AddDrawnEntity(*this, std::move(arc), "UndoDrawArc", "Draw Arc"));
}

// ---- grips ----------------------------------------------------------------

bool CGraph::MoveGripPoint(const frDoublePoint& point)
{
    // The nodes of the hot grips, each once, in grip-list order.
    std::vector<CSelectNode*> nodes;
    std::unordered_set<const CSelectNode*> seen;
    for (CGripRecord* g = m_Grips; g; g = g->next)
        if (g->hot && g->owner && g->owner->GetEntity() && seen.insert(g->owner).second)
            nodes.push_back(g->owner);
    if (nodes.empty())
        return false;

    // Every entity is recorded before the first one moves, so that a record
    // that cannot be made leaves the drawing untouched.
    std::unique_ptr<CVectorUndoItem> item = NewVectorUndo(this, "UndoMoveGrip", "Move Grip Point");
    bool recorded = item != nullptr;
    for (CSelectNode* node : nodes) {
        node->RefreshClone();
        if (recorded && !item->AddRecord(node->GetEntity(), UNDO_ENTITY_CHANGED))
            recorded = false;
    }
    if (!recorded && m_VectorUndo)
        return false;

    std::vector<CSelectNode*> moved;
    for (CGripRecord* g = m_Grips; g; g = g->next) {
        if (!g->hot || g->owner == nullptr || !MoveGripRecord(*g, point, GripMove::Final))
            continue;
        if (std::find(moved.begin(), moved.end(), g->owner) == moved.end())
            moved.push_back(g->owner);
    }
    if (moved.empty())
        return false;
    SetModified(true);
    if (recorded)
        (void)PushUndoItem(m_VectorUndo, std::move(item));
    RebuildSelectionGrips(*this, moved);
    return true;
}
