// The drawing view's commands: the draw commands (line, polyline, solid,
// circles, arcs), the snap frame, the zoom window and Insert Vertex. Each
// collects its points one click at a time and hands them to the drawing,
// which records the new entity for undo.
#include "ui/view_commands.h"

#include <cmath>
#include <vector>

#include "model/cdc_device.h"
#include "model/circle.h"
#include "model/drawing_display.h"
#include "model/edit_commands.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "model/solid.h"
#include "model/text_table.h"
#include "model/undo.h"
#include "ui/drawing_view.h"

// ---- feedback -----------------------------------------------------------------

CDC* CViewFeedback::Pixels()
{
    m_device.SetXorMode(false);
    m_device.RestoreMapping();
    return m_device.GetDC();
}

CFrDevice* CViewFeedback::World()
{
    m_device.SetMapping();
    m_device.SetXorMode(true);
    return &m_device;
}

void CViewFeedback::Done()
{
    m_device.SetXorMode(false);
    m_device.SetMapping();
}

POINT CViewFeedback::ToPixel(const frDoublePoint& p) const
{
    const CFrViewTransform& view = m_device.Transform();
    std::int32_t x = 0, y = 0;
    view.WorldToDevice(p.x, p.y, &x, &y);
    return {x, view.DeviceRect().top - y};
}

bool CViewCommand::Finish(CDrawingView& view)
{
    Cancel(view);
    return true;
}

void CViewCommand::Track(CDrawingView&, const frDoublePoint& p)
{
    m_pointer = p;
    m_tracking = true;
}

namespace {

// The band a command shows while it waits for its next point.
enum class Band { None, Line, Triangle, Circle, Circle3P, Arc, Arc3P, Rect };

struct PointStep {
    const char* key;
    const char* english;
    Band band;  // drawn from the points so far to the pointer
};

// Makes what the points describe; the points are as many as the steps.
using PointMaker = void (*)(CDrawingView& view, const std::vector<frDoublePoint>& points);

// A command of a fixed number of points.
class CPointCommand : public CViewCommand {
public:
    CPointCommand(std::vector<PointStep> steps, PointMaker make, bool snaps, bool ortho = true)
        : m_steps(std::move(steps)), m_make(make), m_snaps(snaps), m_ortho(ortho)
    {}

    std::string Prompt() const override
    {
        const PointStep& step = m_steps[m_points.size()];
        return GetLanString(step.key, step.english);
    }

    bool Pick(CDrawingView& view, const frDoublePoint& p) override
    {
        m_points.push_back(p);
        if (m_points.size() < m_steps.size())
            return false;
        m_make(view, m_points);
        return true;
    }

    void DrawBand(CViewFeedback& feedback) const override
    {
        if (!m_tracking || m_points.empty())
            return;
        const POINT a = feedback.ToPixel(m_points[0]);
        const POINT b = feedback.ToPixel(m_points.back());
        const POINT p = feedback.ToPixel(m_pointer);
        CDC* dc = feedback.Pixels();
        switch (m_steps[m_points.size()].band) {
        case Band::None: break;
        case Band::Line: DrawRubberLine(dc, b.x, b.y, p.x, p.y); break;
        case Band::Triangle: DrawRubberTriangle(dc, a, b, p); break;
        case Band::Circle: DrawRubberCircle(dc, a.x, a.y, p.x, p.y); break;
        case Band::Circle3P: (void)DrawRubberCircle3P(dc, a, b, p); break;
        case Band::Arc: DrawRubberArc(dc, a, b, p); break;
        case Band::Arc3P: (void)DrawRubberArc3P(dc, a, b, p); break;
        case Band::Rect: DrawRubberRect(dc, a.x, a.y, p.x, p.y, false); break;
        }
    }

    bool Snaps() const override { return m_snaps; }
    bool FollowsOrtho() const override { return m_snaps && m_ortho; }
    const frDoublePoint* BasePoint() const override { return m_points.empty() ? nullptr : &m_points.back(); }

private:
    std::vector<PointStep> m_steps;
    PointMaker m_make;
    bool m_snaps;
    bool m_ortho;
    std::vector<frDoublePoint> m_points;
};

void NoteMade(CDrawingView& view, const CEntity* made)
{
    if (made == nullptr) {
        view.SetCommandNote(GetLanString("DrawNothingMsg", "Nothing was drawn: the points do not define the shape."));
        return;
    }
    view.NoteDrawingEdited();
}

void MakeLine(CDrawingView& view, const std::vector<frDoublePoint>& p)
{
    CGraph& graph = view.GetGraph();
    if (PointsEqual(p[0], p[1]))
        return NoteMade(view, nullptr);
    // The drawing's line maker records nothing: the command does.
    auto item = std::make_unique<CVectorUndoItem>(GetLanString("UndoDrawLine", "Draw Line"), &graph);
    CLine* line = graph.AddLine(p[0].x, p[0].y, p[1].x, p[1].y);
    if (line != nullptr && item->AddRecord(line, UNDO_ENTITY_ADDED))
        (void)PushUndoItem(graph.GetVectorUndoList(), std::move(item));
    NoteMade(view, line);
}

void MakeSolid(CDrawingView& view, const std::vector<frDoublePoint>& p)
{
    NoteMade(view, view.GetGraph().DrawSolid(p[0], p[1], p[2]));
}

void MakeCircleCentre(CDrawingView& view, const std::vector<frDoublePoint>& p)
{
    NoteMade(view, view.GetGraph().DrawCircle(p[0], PointDistance(&p[0], &p[1])));
}

void MakeCircle3P(CDrawingView& view, const std::vector<frDoublePoint>& p)
{
    NoteMade(view, view.GetGraph().DrawCircle3P(p[0], p[1], p[2]));
}

void MakeArcCentre(CDrawingView& view, const std::vector<frDoublePoint>& p)
{
    NoteMade(view, view.GetGraph().DrawArcCentre(p[0], p[1], p[2]));
}

void MakeArc3P(CDrawingView& view, const std::vector<frDoublePoint>& p)
{
    NoteMade(view, view.GetGraph().DrawArc3P(p[0], p[1], p[2]));
}

void MakeSnapFrame(CDrawingView& view, const std::vector<frDoublePoint>& p) { view.SetSnapFrame(p[0], p[1]); }

void ZoomToWindow(CDrawingView& view, const std::vector<frDoublePoint>& p) { (void)view.ZoomWindow(p[0], p[1]); }

// The box is two clicks, or a press, a drag and a release.
class CZoomWindowCommand : public CPointCommand {
public:
    CZoomWindowCommand()
        : CPointCommand({{"ZoomWinMsg1", "Zoom window: pick the first corner", Band::None},
                         {"ZoomWinMsg2", "Zoom window: pick the opposite corner", Band::Rect}},
                        ZoomToWindow, false)
    {}
    bool PicksOnDragRelease() const override { return true; }
};

// The polyline command enters the drawing's temporary polyline, which the
// drawing shows in XOR; the band only joins its last vertex to the pointer.
class CPolylineCommand : public CViewCommand {
public:
    std::string Prompt() const override
    {
        if (m_count == 0)
            return GetLanString("DrawPLineFirstMsg", "Polyline: pick the first point");
        return GetLanString("DrawPLineNextMsg",
                            "Polyline: pick the next point (Enter or right click keeps it, Esc drops it)");
    }

    bool Pick(CDrawingView& view, const frDoublePoint& p) override
    {
        CGraph& graph = view.GetGraph();
        if (graph.GetTempPolyline() == nullptr) {
            graph.BeginTempPolyline();
            if (graph.GetTempPolyline() == nullptr)
                return true;
            graph.SetTempPolylineXor(true);
        }
        graph.AddTempVertex(p.x, p.y, -1.0, -1.0, 0);
        m_count = graph.GetTempPolyline()->GetPointCount();
        m_last = p;
        view.InvalidateDrawing();
        return false;
    }

    bool Finish(CDrawingView& view) override
    {
        CGraph& graph = view.GetGraph();
        // One vertex is no polyline.
        const bool keep = m_count >= 2;
        graph.EndTempPolyline(keep);
        if (keep)
            view.NoteDrawingEdited();
        else
            view.InvalidateDrawing();
        return true;
    }

    void Cancel(CDrawingView& view) override
    {
        view.GetGraph().EndTempPolyline(false);
        view.InvalidateDrawing();
    }

    void DrawBand(CViewFeedback& feedback) const override
    {
        if (!m_tracking || m_count == 0)
            return;
        const POINT a = feedback.ToPixel(m_last), p = feedback.ToPixel(m_pointer);
        DrawRubberLine(feedback.Pixels(), a.x, a.y, p.x, p.y);
    }

    const frDoublePoint* BasePoint() const override { return m_count ? &m_last : nullptr; }

private:
    int m_count = 0;
    frDoublePoint m_last;
};

// The segment of a visible polyline that passes through the box, as the
// vertex that begins it; null when none does.
CVertex* FindPolylineSegment(const CGraph& graph, const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                             CPolyLine** owner)
{
    for (CLayer* layer = graph.GetFirstLayer(); layer; layer = layer->GetNext()) {
        if (!layer->IsVisible())
            continue;
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            if (e->m_Type != ENTITY_POLYLINE)
                continue;
            auto* polyline = static_cast<CPolyLine*>(e);
            CVertex* head = polyline->GetHead();
            if (head == nullptr)
                continue;
            CVertex* v = head;
            do {
                if (v == polyline->GetTail() && !polyline->m_Closed)
                    break;
                if (SegmentCrossesRect(frDoublePoint(v->x, v->y), frDoublePoint(v->next->x, v->next->y), boxMin,
                                       boxMax)) {
                    *owner = polyline;
                    return v;
                }
                v = v->next;
            } while (v != head);
        }
    }
    return nullptr;
}

class CInsertVertexCommand : public CViewCommand {
public:
    std::string Prompt() const override
    {
        return GetLanString("InsertVertexMsg", "Insert vertex: pick a segment of a polyline");
    }

    bool Pick(CDrawingView& view, const frDoublePoint& p) override
    {
        CGraph& graph = view.GetGraph();
        const double reach = view.PickReach();
        CPolyLine* polyline = nullptr;
        CVertex* v = FindPolylineSegment(graph, frDoublePoint(p.x - reach, p.y - reach),
                                         frDoublePoint(p.x + reach, p.y + reach), &polyline);
        if (v == nullptr) {
            view.ShowStatus(GetLanString("InsertVertexMissMsg", "No polyline segment there; pick another point"));
            return false;
        }
        auto item = std::make_unique<CVectorUndoItem>(GetLanString("UndoInsertVertex", "Insert Vertex"), &graph);
        const bool recorded = item->AddRecord(polyline, UNDO_ENTITY_CHANGED);
        if (!polyline->InsertMidVertex(v))
            return true;
        graph.SetModified(true);
        if (recorded)
            (void)PushUndoItem(graph.GetVectorUndoList(), std::move(item));
        if (CSelectNode* node = graph.GetSelectSet().FindNode(polyline))
            RebuildSelectionGrips(graph, {node});
        view.NoteDrawingEdited();
        return true;
    }

    void DrawBand(CViewFeedback&) const override {}
    bool Snaps() const override { return false; }
};

}  // namespace

std::unique_ptr<CViewCommand> MakeViewCommand(ViewCommandKind kind)
{
    switch (kind) {
    case ViewCommandKind::Line:
        return std::make_unique<CPointCommand>(
            std::vector<PointStep>{{"DrawLineFirstMsg", "Line: pick the start point", Band::None},
                                   {"DrawLineNextMsg", "Line: pick the end point", Band::Line}},
            MakeLine, true);
    case ViewCommandKind::Polyline: return std::make_unique<CPolylineCommand>();
    case ViewCommandKind::Solid:
        return std::make_unique<CPointCommand>(
            std::vector<PointStep>{{"DrawSolidMsg1", "Solid: pick the first corner", Band::None},
                                   {"DrawSolidMsg2", "Solid: pick the second corner", Band::Line},
                                   {"DrawSolidMsg3", "Solid: pick the third corner", Band::Triangle}},
            MakeSolid, true);
    case ViewCommandKind::CircleCentre:
        return std::make_unique<CPointCommand>(
            std::vector<PointStep>{{"DrawCircleCentreMsg", "Circle: pick the centre", Band::None},
                                   {"DrawCircleRadiusMsg", "Circle: pick a point on the circle", Band::Circle}},
            MakeCircleCentre, true);
    case ViewCommandKind::Circle3P:
        return std::make_unique<CPointCommand>(
            std::vector<PointStep>{{"DrawCircle3PMsg1", "Circle: pick the first point", Band::None},
                                   {"DrawCircle3PMsg2", "Circle: pick the second point", Band::Line},
                                   {"DrawCircle3PMsg3", "Circle: pick the third point", Band::Circle3P}},
            MakeCircle3P, true);
    case ViewCommandKind::ArcCentre:
        return std::make_unique<CPointCommand>(
            std::vector<PointStep>{{"DrawArcCentreMsg", "Arc: pick the centre", Band::None},
                                   {"DrawArcStartMsg", "Arc: pick the start point", Band::Line},
                                   {"DrawArcEndMsg", "Arc: pick the end direction", Band::Arc}},
            MakeArcCentre, true);
    case ViewCommandKind::Arc3P:
        return std::make_unique<CPointCommand>(
            std::vector<PointStep>{{"DrawArc3PMsg1", "Arc: pick the start point", Band::None},
                                   {"DrawArc3PMsg2", "Arc: pick a point on the arc", Band::Line},
                                   {"DrawArc3PMsg3", "Arc: pick the end point", Band::Arc3P}},
            MakeArc3P, true);
    case ViewCommandKind::SnapFrame:
        return std::make_unique<CPointCommand>(
            std::vector<PointStep>{{"SnapBaseMsg", "Snap frame: pick the base point", Band::None},
                                   {"SnapAngleMsg", "Snap frame: pick a point along the new x axis", Band::Line}},
            // Under ortho the frame could only turn by right angles.
            MakeSnapFrame, true, false);
    case ViewCommandKind::ZoomWindow: return std::make_unique<CZoomWindowCommand>();
    case ViewCommandKind::InsertVertex: return std::make_unique<CInsertVertexCommand>();
    }
    return nullptr;
}
