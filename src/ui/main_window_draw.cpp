// The frame's Draw and Snap menus and toolbars, the Zoom Window item and the
// View menu's display switches: each starts a command of the active view or
// switches one of its drawing's settings.
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

#include "model/command_hints.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/text_table.h"
#include "ui/main_window.h"

namespace {

QString Lan(const char* key, const char* english) { return QString::fromUtf8(GetLanString(key, english)); }

// Ids of the commands in the hint table.
constexpr unsigned kZoomWindowId = 32787;
constexpr unsigned kObjectSnapId = 32827;
constexpr unsigned kGridSnapId = 32828;
constexpr unsigned kOrthoId = 32837;
constexpr unsigned kShowRasterId = 32793;
constexpr unsigned kShowVectorsId = 32795;

}  // namespace

QAction* CMainFrame::CreateZoomWindowAction()
{
    auto* action = new QAction(Lan("MenuZoomWindow", "Zoom &Window"), this);
    SetHint(action, kZoomWindowId);
    connect(action, &QAction::triggered, this, [this] {
        if (CDrawingView* view = ActiveView())
            view->StartCommand(ViewCommandKind::ZoomWindow);
    });
    m_drawActions.push_back(action);
    return action;
}

void CMainFrame::CreateDisplayActions(QMenu* view)
{
    auto toggle = [&](const char* key, const char* english, unsigned hint, void (CDrawingView::*flip)()) {
        QAction* action = view->addAction(Lan(key, english));
        action->setCheckable(true);
        SetHint(action, hint);
        connect(action, &QAction::triggered, this, [this, flip] {
            if (CDrawingView* active = ActiveView())
                (active->*flip)();
            UpdateDrawActions();
        });
        m_drawActions.push_back(action);
        return action;
    };
    m_showRasterAction = toggle("MenuShowRaster", "Show &Raster", kShowRasterId, &CDrawingView::ToggleShowRaster);
    m_showVectorsAction = toggle("MenuShowVectors", "Show &Vectors", kShowVectorsId, &CDrawingView::ToggleShowVectors);
    m_layerVisibleAction =
        toggle("MenuShowCurrentLayer", "Show &Current Layer", 0, &CDrawingView::ToggleCurrentLayerVisible);
}

void CMainFrame::CreateDrawActions()
{
    QMenu* draw = menuBar()->addMenu(Lan("MenuDraw", "&Draw"));
    QToolBar* drawBar = addToolBar(Lan("DrawToolbar", "Draw"));
    drawBar->setObjectName(QStringLiteral("draw"));
    const struct {
        const char* key;
        const char* english;
        unsigned hint;
        ViewCommandKind kind;
    } commands[] = {
        {"MenuDrawLine", "&Line", 32820, ViewCommandKind::Line},
        {"MenuDrawPolyline", "&Polyline", 32821, ViewCommandKind::Polyline},
        {"MenuDrawSolid", "&Solid", 32834, ViewCommandKind::Solid},
        {"MenuDrawCircle", "&Circle (Centre, Radius)", 32823, ViewCommandKind::CircleCentre},
        {"MenuDrawCircle3P", "Circle (&3 Points)", 32826, ViewCommandKind::Circle3P},
        {"MenuDrawArc", "&Arc (Centre, Start, End)", 32825, ViewCommandKind::ArcCentre},
        {"MenuDrawArc3P", "Arc (3 P&oints)", 32822, ViewCommandKind::Arc3P},
        {"MenuInsertVertex", "&Insert Vertex", 0, ViewCommandKind::InsertVertex},
    };
    for (const auto& item : commands) {
        if (item.kind == ViewCommandKind::InsertVertex)
            draw->addSeparator();
        QAction* action = draw->addAction(Lan(item.key, item.english));
        SetHint(action, item.hint);
        const ViewCommandKind kind = item.kind;
        connect(action, &QAction::triggered, this, [this, kind] {
            if (CDrawingView* view = ActiveView())
                view->StartCommand(kind);
        });
        drawBar->addAction(action);
        m_drawActions.push_back(action);
    }

    QMenu* snap = menuBar()->addMenu(Lan("MenuSnap", "&Snap"));
    QToolBar* snapBar = addToolBar(Lan("SnapToolbar", "Snap"));
    snapBar->setObjectName(QStringLiteral("snap"));
    // The keys also reach a focused view that the frame's shortcuts miss.
    auto toggle = [&](const char* key, const char* english, unsigned hint, const QKeySequence& shortcut,
                      void (CDrawingView::*flip)()) {
        QAction* action = snap->addAction(Lan(key, english));
        action->setCheckable(true);
        action->setShortcut(shortcut);
        SetHint(action, hint);
        connect(action, &QAction::triggered, this, [this, flip] {
            if (CDrawingView* view = ActiveView())
                (view->*flip)();
            UpdateDrawActions();
        });
        snapBar->addAction(action);
        m_drawActions.push_back(action);
        return action;
    };
    m_gridAction = toggle("MenuGrid", "Show &Grid", 0, QKeySequence(Qt::Key_F7), &CDrawingView::ToggleGrid);
    m_orthoAction = toggle("MenuOrtho", "&Ortho", kOrthoId, QKeySequence(Qt::Key_F8), &CDrawingView::ToggleOrtho);
    m_gridSnapAction =
        toggle("MenuGridSnap", "S&nap to Grid", kGridSnapId, QKeySequence(Qt::Key_F9), &CDrawingView::ToggleGridSnap);
    QAction* frame = snap->addAction(Lan("MenuSnapFrame", "Snap &Frame"));
    connect(frame, &QAction::triggered, this, [this] {
        if (CDrawingView* view = ActiveView())
            view->StartCommand(ViewCommandKind::SnapFrame);
    });
    m_drawActions.push_back(frame);

    snap->addSeparator();
    m_objectSnapAction = snap->addAction(Lan("MenuObjectSnap", "&Object Snap"));
    m_objectSnapAction->setCheckable(true);
    SetHint(m_objectSnapAction, kObjectSnapId);
    connect(m_objectSnapAction, &QAction::triggered, this, [this](bool on) {
        if (CDrawingView* view = ActiveView())
            view->SetObjectSnapOn(on);
    });
    snapBar->addAction(m_objectSnapAction);
    m_drawActions.push_back(m_objectSnapAction);
    const struct {
        const char* key;
        const char* english;
        unsigned hint;
        std::int32_t bit;
    } modes[] = {
        {"MenuOsnapEnd", "&End Point", 32847, SNAP_END},
        {"MenuOsnapMid", "&Midpoint", 32848, SNAP_MIDDLE},
        {"MenuOsnapCentre", "&Centre", 32852, SNAP_CENTRE},
        {"MenuOsnapQuadrant", "&Quadrant", 32854, SNAP_QUADRANT},
        {"MenuOsnapIntersection", "&Intersection", 32849, SNAP_INTERSECTION},
        {"MenuOsnapPerpendicular", "&Perpendicular", 32850, SNAP_PERPENDICULAR},
        {"MenuOsnapTangent", "&Tangent", 32853, SNAP_TANGENT},
        {"MenuOsnapNearest", "&Nearest", 32851, SNAP_NEAREST},
    };
    QMenu* modeMenu = snap->addMenu(Lan("MenuOsnapModes", "Object Snap &Modes"));
    for (const auto& mode : modes) {
        QAction* action = modeMenu->addAction(Lan(mode.key, mode.english));
        action->setCheckable(true);
        action->setData(mode.bit);
        SetHint(action, mode.hint);
        const std::int32_t bit = mode.bit;
        connect(action, &QAction::triggered, this, [this, bit](bool on) {
            if (CDrawingView* view = ActiveView())
                view->SetObjectSnapMode(bit, on);
        });
        snapBar->addAction(action);
        m_snapModeActions.push_back(action);
        m_drawActions.push_back(action);
    }
}

void CMainFrame::UpdateDrawActions()
{
    CDrawingView* view = ActiveView();
    for (QAction* action : m_drawActions)
        action->setEnabled(view != nullptr);
    if (view == nullptr)
        return;
    // The menus follow the modes whichever way they were switched.
    connect(view, &CDrawingView::settingsChanged, this, &CMainFrame::UpdateDrawActions, Qt::UniqueConnection);
    const CGraph& graph = view->GetGraph();
    m_gridAction->setChecked(graph.GetGridShown());
    m_gridSnapAction->setChecked(view->GetGridSnap());
    m_orthoAction->setChecked(graph.GetOrtho());
    m_objectSnapAction->setChecked(graph.GetObjectSnapOn());
    m_showRasterAction->setChecked(graph.GetShowRaster());
    m_showVectorsAction->setChecked(graph.GetShowVectors());
    const CLayer* layer = graph.GetCurrentLayer();
    m_layerVisibleAction->setEnabled(layer != nullptr);
    m_layerVisibleAction->setChecked(layer != nullptr && layer->IsVisible());
    for (QAction* action : m_snapModeActions)
        action->setChecked((graph.GetObjectSnapMask() & static_cast<std::uint32_t>(action->data().toInt())) != 0);
}
