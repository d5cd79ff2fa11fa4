// Grips in the view: the hovered grip is marked, a click (or a press and
// drag) on one makes it hot and its entity's clone follows the pointer in
// XOR until the next click moves the point, as one undo step.
#include <cmath>

#include "model/cdc_device.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/select_set.h"
#include "model/text_table.h"
#include "ui/drawing_view.h"

namespace {

// Draws the clone of every entity that has a hot grip as it is now; the
// drawing's own DrawHotGripClones also puts each clone back into its
// entity's shape, which a band that is only being erased must not do.
void DrawHotClones(const CGraph& graph, CFrDevice* device)
{
    const CSelectNode* last = nullptr;
    // An entity's grips form one run of the list: its clone is drawn once.
    for (const CGripRecord* g = graph.GetGrips(); g; g = g->next) {
        if (!g->hot || g->owner == nullptr || g->owner == last || g->owner->GetClone() == nullptr)
            continue;
        last = g->owner;
        g->owner->GetClone()->Draw(device);
    }
}

void ClearHotGrips(CGraph& graph)
{
    for (CGripRecord* g = graph.GetGrips(); g; g = g->next)
        g->hot = 0;
}

class CGripCommand : public CViewCommand {
public:
    CGripCommand(CGraph& graph, const frDoublePoint& grip) : m_graph(graph), m_grip(grip) {}

    std::string Prompt() const override
    {
        return GetLanString("GripMoveMsg", "Pick the new place of the grip point (Esc cancels)");
    }

    bool Pick(CDrawingView& view, const frDoublePoint& p) override
    {
        // Dropped where it was (a double click on the grip): no change to
        // undo.
        if (PointsEqual(p, m_grip)) {
            Cancel(view);
            return true;
        }
        if (m_graph.MoveGripPoint(p)) {
            ClearHotGrips(m_graph);
            view.NoteDrawingEdited();
        } else {
            Cancel(view);
        }
        return true;
    }

    void Cancel(CDrawingView& view) override
    {
        // The clones take their entities' shapes again.
        m_graph.DrawHotGripClones(nullptr);
        ClearHotGrips(m_graph);
        view.InvalidateDrawing();
    }

    void Track(CDrawingView& view, const frDoublePoint& p) override
    {
        CViewCommand::Track(view, p);
        m_graph.DragHotGrips(nullptr, p);
    }

    void DrawBand(CViewFeedback& feedback) const override
    {
        if (m_tracking)
            DrawHotClones(m_graph, feedback.World());
    }

    const frDoublePoint* BasePoint() const override { return &m_grip; }
    bool PicksOnDragRelease() const override { return true; }

private:
    CGraph& m_graph;
    frDoublePoint m_grip;
};

}  // namespace

std::unique_ptr<CViewCommand> MakeGripCommand(CGraph& graph, const frDoublePoint& grip)
{
    return std::make_unique<CGripCommand>(graph, grip);
}

CGripRecord* CDrawingView::GripAt(const QPoint& pixel) const
{
    const frDoublePoint at = PixelToWorld(pixel);
    const double reach = PickReach();
    for (CGripRecord* g = m_graph.GetGrips(); g; g = g->next)
        if (std::fabs(g->point.x - at.x) <= reach && std::fabs(g->point.y - at.y) <= reach)
            return g;
    return nullptr;
}

bool CDrawingView::StartGripMove(const QPoint& pixel)
{
    CGripRecord* grip = GripAt(pixel);
    if (grip == nullptr)
        return false;
    grip->hot = 1;
    (void)m_graph.SetCurrentGrip(grip->owner, grip->index);
    StartCommand(MakeGripCommand(m_graph, grip->point));
    // The grip shows hot.
    InvalidateDrawing();
    return true;
}

void CDrawingView::TrackHover(const QPoint& pixel)
{
    const frDoublePoint at = PixelToWorld(pixel);
    ChangeFeedback([&] {
        m_device.SetMapping();
        (void)m_graph.TrackHoverGrip(&m_device, at, kPickPixels);
    });
}
