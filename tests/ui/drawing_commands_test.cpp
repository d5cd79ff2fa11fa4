// The drawing view's commands through the main window and real mouse and key
// events: drawing each kind of entity, object and grid snap, ortho, grips,
// Insert Vertex, zoom window, and rubber bands that leave the picture as it
// was.
#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QWindow>

#include <cmath>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "model/circle.h"
#include "model/drawing_display.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "model/solid.h"
#include "model/undo.h"
#include "ui/drawing_view.h"
#include "ui/main_window.h"
#include "desktop_fixture.h"

namespace {

class DrawingCommandsTest : public DesktopTest {
protected:
    DrawingCommandsTest() : DesktopTest("lw-drawing-commands") {}

    void SetUp() override
    {
        DesktopTest::SetUp();
        m_frame = std::make_unique<CMainFrame>();
        m_frame->show();
        m_view = m_frame->NewDrawingWindow("drawing");
        QCoreApplication::processEvents();
        // A known view: world (0, 0) to (400, 300) or wider.
        m_view->GetDevice().Transform().SetWorldBox(0, 0, 400, 300);
        m_view->InvalidateDrawing();
        (void)m_view->RenderedImage();
    }

    void TearDown() override
    {
        m_view->GetGraph().SetModified(false);
        m_frame.reset();
        DesktopTest::TearDown();
    }

    CGraph& Graph() { return m_view->GetGraph(); }

    QPoint PixelOf(double x, double y) const
    {
        const CFrViewTransform& transform = m_view->GetDevice().Transform();
        std::int32_t X = 0, Y = 0;
        transform.WorldToDevice(x, y, &X, &Y);
        return {X, transform.DeviceRect().top - Y};
    }

    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent event(type, QPointF(at), QPointF(m_view->mapToGlobal(at)), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &event);
    }
    void MoveTo(QPoint at) { Mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton); }
    void Click(QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        MoveTo(at);
        Mouse(QEvent::MouseButtonPress, at, button, button);
        Mouse(QEvent::MouseButtonRelease, at, button, Qt::NoButton);
    }
    void Key(int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &press);
    }
    QAction* Action(const QString& text)
    {
        for (QAction* action : m_frame->findChildren<QAction*>())
            if (action->text() == text)
                return action;
        ADD_FAILURE() << "no action " << text.toStdString();
        return nullptr;
    }
    void Trigger(const QString& text)
    {
        if (QAction* action = Action(text))
            action->trigger();
    }

    // The entities of the current layer, newest first.
    std::vector<CEntity*> Entities()
    {
        std::vector<CEntity*> all;
        for (CEntity* e = Graph().GetCurrentLayer()->GetFirstEntity(); e; e = e->m_Next)
            all.insert(all.begin(), e);
        return all;
    }

    CPolyLine* AddPolyline(std::initializer_list<frDoublePoint> points)
    {
        Graph().BeginTempPolyline();
        for (const frDoublePoint& p : points)
            Graph().AddTempVertex(p.x, p.y, -1, -1, 0);
        CPolyLine* made = Graph().GetTempPolyline();
        Graph().EndTempPolyline(true);
        m_view->GetVectorUndoList().DeleteAllItems();
        m_view->InvalidateDrawing();
        (void)m_view->RenderedImage();
        return made;
    }

    static std::vector<frDoublePoint> Vertices(const CPolyLine& polyline)
    {
        std::vector<frDoublePoint> points;
        const CVertex* v = polyline.GetHead();
        for (int i = 0; i < polyline.GetPointCount(); ++i, v = v->next)
            points.emplace_back(v->x, v->y);
        return points;
    }

    std::unique_ptr<CMainFrame> m_frame;
    CDrawingView* m_view = nullptr;
};

void ExpectSamePoint(const frDoublePoint& a, const frDoublePoint& b)
{
    EXPECT_NEAR(a.x, b.x, 1e-9);
    EXPECT_NEAR(a.y, b.y, 1e-9);
}

// ---- drawing ------------------------------------------------------------------

TEST_F(DrawingCommandsTest, PolylineOfThreeClicksAndEnterIsKeptAsOneUndoStep)
{
    Trigger("&Polyline");
    ASSERT_TRUE(m_view->IsCommandActive());
    EXPECT_EQ(m_frame->statusBar()->currentMessage().toStdString(), "Polyline: pick the first point");
    const QPoint clicks[] = {{60, 200}, {200, 80}, {320, 190}};
    for (const QPoint& at : clicks) {
        Click(at);
        (void)m_view->RenderedImage();
    }
    // While it is entered the polyline is the drawing's, in no layer.
    ASSERT_NE(Graph().GetTempPolyline(), nullptr);
    EXPECT_TRUE(Entities().empty());
    Key(Qt::Key_Return);
    EXPECT_FALSE(m_view->IsCommandActive());
    EXPECT_EQ(Graph().GetTempPolyline(), nullptr);

    const std::vector<CEntity*> made = Entities();
    ASSERT_EQ(made.size(), 1u);
    ASSERT_EQ(made[0]->m_Type, ENTITY_POLYLINE);
    const std::vector<frDoublePoint> vertices = Vertices(*static_cast<CPolyLine*>(made[0]));
    ASSERT_EQ(vertices.size(), 3u);
    for (int i = 0; i < 3; ++i)
        ExpectSamePoint(vertices[i], m_view->PixelToWorld(clicks[i]));
    EXPECT_TRUE(Graph().IsModified());

    EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), 1u);
    ASSERT_TRUE(m_view->UndoVector());
    EXPECT_TRUE(Entities().empty());
    // Back to the empty drawing the window began with: nothing to lose.
    EXPECT_FALSE(Graph().IsModified());
}

TEST_F(DrawingCommandsTest, EscDropsThePolylineAndARightClickKeepsIt)
{
    const QImage before = m_view->RenderedImage().copy();
    m_view->StartCommand(ViewCommandKind::Polyline);
    Click({60, 200});
    Click({200, 80});
    MoveTo({300, 80});
    EXPECT_NE(m_view->RenderedImage(), before);
    Key(Qt::Key_Escape);
    EXPECT_EQ(m_view->RenderedImage(), before);
    EXPECT_FALSE(m_view->IsCommandActive());
    EXPECT_EQ(Graph().GetTempPolyline(), nullptr);
    EXPECT_TRUE(Entities().empty());
    EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), 0u);

    m_view->StartCommand(ViewCommandKind::Polyline);
    Click({60, 200});
    Click({200, 80});
    Click({250, 80}, Qt::RightButton);
    EXPECT_FALSE(m_view->IsCommandActive());
    EXPECT_EQ(Entities().size(), 1u);
}

TEST_F(DrawingCommandsTest, CircleCentreSnapsExactlyToTheEndOfALine)
{
    CLine* line = Graph().AddLine(100.25, 150.75, 300, 40);
    ASSERT_NE(line, nullptr);
    m_view->InvalidateDrawing();
    (void)m_view->RenderedImage();

    m_view->StartCommand(ViewCommandKind::CircleCentre);
    // Two pixels off the end: the end point snap takes the end itself.
    const QPoint near = PixelOf(100.25, 150.75) + QPoint(2, -2);
    Click(near);
    Click(PixelOf(160, 150));
    const std::vector<CEntity*> made = Entities();
    ASSERT_EQ(made.size(), 2u);
    ASSERT_EQ(made[0]->m_Type, ENTITY_CIRCLE);
    const auto* circle = static_cast<CCircle*>(made[0]);
    EXPECT_EQ(circle->m_Centre.x, 100.25);
    EXPECT_EQ(circle->m_Centre.y, 150.75);
    const frDoublePoint rim = m_view->PixelToWorld(PixelOf(160, 150));
    EXPECT_NEAR(circle->m_Radius, std::hypot(rim.x - 100.25, rim.y - 150.75), 1e-9);
    EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), 1u);

    // The Snap menu adds the midpoint mode.
    Trigger("&Midpoint");
    EXPECT_EQ(Graph().GetObjectSnapMask() & SNAP_MIDDLE, static_cast<std::uint32_t>(SNAP_MIDDLE));
    m_view->StartCommand(ViewCommandKind::CircleCentre);
    Click(PixelOf(200.125, 95.375) + QPoint(-2, 1));
    Click(PixelOf(160, 150));
    const auto* middle = static_cast<CCircle*>(Entities()[0]);
    EXPECT_EQ(middle->m_Centre.x, (100.25 + 300) / 2);
    EXPECT_EQ(middle->m_Centre.y, (150.75 + 40) / 2);

    // With object snap off the click is taken where it is.
    m_view->SetObjectSnapOn(false);
    m_view->StartCommand(ViewCommandKind::CircleCentre);
    Click(near);
    Click(PixelOf(160, 150));
    const auto* loose = static_cast<CCircle*>(Entities()[0]);
    ExpectSamePoint(loose->m_Centre, m_view->PixelToWorld(near));
}

TEST_F(DrawingCommandsTest, ThreePointArcAndCircleGoThroughThePickedPoints)
{
    const QPoint picks[] = {{300, 150}, {200, 60}, {100, 150}};
    frDoublePoint world[3];
    for (int i = 0; i < 3; ++i)
        world[i] = m_view->PixelToWorld(picks[i]);

    m_view->StartCommand(ViewCommandKind::Arc3P);
    for (const QPoint& at : picks)
        Click(at);
    ASSERT_EQ(Entities().size(), 1u);
    ASSERT_EQ(Entities()[0]->m_Type, ENTITY_ARC);
    const auto* arc = static_cast<CArc*>(Entities()[0]);
    for (const frDoublePoint& p : world)
        EXPECT_NEAR(std::hypot(p.x - arc->m_Centre.x, p.y - arc->m_Centre.y), arc->m_Radius, 1e-6);
    // The pixel rows grow downward: the middle pick is the arc's top, and the
    // arc runs counter-clockwise from the right end over it to the left end.
    EXPECT_TRUE(AngleInArc(arc->m_StartAngle, arc->m_EndAngle, AngleAbout(arc->m_Centre, world[1])));
    EXPECT_NEAR(arc->m_StartAngle, AngleAbout(arc->m_Centre, world[0]), 1e-6);
    EXPECT_NEAR(arc->m_EndAngle, AngleAbout(arc->m_Centre, world[2]), 1e-6);

    m_view->StartCommand(ViewCommandKind::Circle3P);
    for (const QPoint& at : picks)
        Click(at + QPoint(0, 60));
    ASSERT_EQ(Entities().size(), 2u);
    EXPECT_EQ(Entities()[0]->m_Type, ENTITY_CIRCLE);
    EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), 2u);

    // Three points on a line make no circle, and the user is told.
    m_view->StartCommand(ViewCommandKind::Circle3P);
    for (const QPoint& at : {QPoint(50, 40), QPoint(150, 40), QPoint(250, 40)})
        Click(at);
    EXPECT_FALSE(m_view->IsCommandActive());
    EXPECT_EQ(Entities().size(), 2u);
    EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), 2u);
    EXPECT_EQ(m_frame->statusBar()->currentMessage().toStdString(),
              "Nothing was drawn: the points do not define the shape.");
}

TEST_F(DrawingCommandsTest, CentreArcAndLineAreDrawnFromTheirClicks)
{
    m_view->StartCommand(ViewCommandKind::ArcCentre);
    Click({200, 150});
    Click({280, 150});
    Click({200, 40});
    ASSERT_EQ(Entities().size(), 1u);
    const auto* arc = static_cast<CArc*>(Entities()[0]);
    const frDoublePoint centre = m_view->PixelToWorld({200, 150});
    ExpectSamePoint(arc->m_Centre, centre);
    // From the right (0) counter-clockwise to straight up.
    EXPECT_NEAR(arc->m_StartAngle, 0.0, 1e-9);
    EXPECT_NEAR(arc->m_EndAngle, HALF_PI, 1e-6);

    m_view->StartCommand(ViewCommandKind::Line);
    Click({50, 250});
    Click({350, 230});
    ASSERT_EQ(Entities().size(), 2u);
    ASSERT_EQ(Entities()[0]->m_Type, ENTITY_LINE);
    const auto* line = static_cast<CLine*>(Entities()[0]);
    ExpectSamePoint(frDoublePoint(line->GetEnd().x, line->GetEnd().y), m_view->PixelToWorld({350, 230}));
    EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), 2u);
    ASSERT_TRUE(m_view->UndoVector());
    EXPECT_EQ(Entities().size(), 1u);
}

TEST_F(DrawingCommandsTest, SolidWithGridSnapHasItsCornersOnTheGrid)
{
    Key(Qt::Key_F9);
    EXPECT_TRUE(m_view->GetGridSnap());
    EXPECT_TRUE(Graph().GetGridShown());
    (void)m_view->RenderedImage();
    ASSERT_TRUE(Graph().GetGridDrawable());

    m_view->StartCommand(ViewCommandKind::Solid);
    Click({53, 211});
    Click({247, 67});
    Click({331, 199});
    ASSERT_EQ(Entities().size(), 1u);
    ASSERT_EQ(Entities()[0]->m_Type, ENTITY_SOLID);
    const auto* solid = static_cast<CSolid*>(Entities()[0]);
    ASSERT_GE(solid->GetPointCount(), 3);
    for (int i = 0; i < solid->GetPointCount(); ++i) {
        const CVertex* v = solid->GetVertex(i);
        EXPECT_EQ(std::fmod(v->x, 25.0), 0.0) << v->x;
        EXPECT_EQ(std::fmod(v->y, 25.0), 0.0) << v->y;
    }

    // A hidden grid has no nodes: grid snap is off and the menu says so,
    // whether an undo took back the grid F9 showed or F7 hid it.
    ASSERT_TRUE(Action("S&nap to Grid")->isChecked());
    ASSERT_TRUE(m_view->UndoVector());  // the solid
    ASSERT_TRUE(m_view->UndoVector());  // the grid
    EXPECT_FALSE(Graph().GetGridShown());
    EXPECT_FALSE(m_view->GetGridSnap());
    EXPECT_FALSE(Action("S&nap to Grid")->isChecked());
    Key(Qt::Key_F9);
    EXPECT_TRUE(Action("S&nap to Grid")->isChecked());
    Key(Qt::Key_F7);
    EXPECT_FALSE(m_view->GetGridSnap());
    EXPECT_FALSE(Action("S&nap to Grid")->isChecked());
    m_view->StartCommand(ViewCommandKind::Line);
    Click({143, 251});
    Click({263, 237});
    const auto* line = static_cast<CLine*>(Entities()[0]);
    ExpectSamePoint(frDoublePoint(line->GetEnd().x, line->GetEnd().y), m_view->PixelToWorld({263, 237}));
}

TEST_F(DrawingCommandsTest, OrthoKeepsTheNextPointSquareToTheLastInTheSnapFrame)
{
    Key(Qt::Key_F8);
    ASSERT_TRUE(Graph().GetOrtho());
    m_view->StartCommand(ViewCommandKind::Line);
    Click({100, 200});
    Click({300, 170});
    const auto* line = static_cast<CLine*>(Entities()[0]);
    EXPECT_EQ(line->GetEnd().y, line->GetStart().y);
    EXPECT_EQ(line->GetEnd().x, m_view->PixelToWorld({300, 170}).x);

    // Steeper than 45 degrees: vertical.
    m_view->StartCommand(ViewCommandKind::Line);
    Click({100, 250});
    Click({130, 60});
    line = static_cast<CLine*>(Entities()[0]);
    EXPECT_EQ(line->GetEnd().x, line->GetStart().x);

    // In a frame turned by 45 degrees (which ortho does not hold square),
    // "horizontal" is the diagonal.
    Graph().SetObjectSnapOn(false);
    m_view->StartCommand(ViewCommandKind::SnapFrame);
    Click({50, 250});
    Click({150, 150});
    EXPECT_NEAR(Graph().GetSnapAngle(), PI / 4, 1e-7);
    m_view->StartCommand(ViewCommandKind::Line);
    Click({100, 250});
    Click({210, 130});
    line = static_cast<CLine*>(Entities()[0]);
    EXPECT_NEAR(line->GetEnd().x - line->GetStart().x, line->GetEnd().y - line->GetStart().y, 1e-9);
    Key(Qt::Key_F8);
    EXPECT_FALSE(Graph().GetOrtho());
}

// ---- settings switches -------------------------------------------------------------

// Every switch of a setting the project keeps (grid, ortho, object snap, the
// snap frame, the display switches of the View menu) marks the drawing, so
// closing asks, and is one step that Ctrl+Z takes back, newest first, before
// the older edit.
TEST_F(DrawingCommandsTest, SettingSwitchesMarkTheDrawingAndCtrlZTakesEachBackInTurn)
{
    m_frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame.get()));
    m_view->setFocus();
    // A line on another layer, and one drawn on the current layer.
    CLayer* current = Graph().GetCurrentLayer();
    CLayer* other = Graph().SelectOrAddLayer("Other");
    ASSERT_NE(Graph().AddLine(100, 100, 300, 100), nullptr);
    ASSERT_TRUE(Graph().SetCurrentLayerById(current->GetId()));
    m_view->StartCommand(ViewCommandKind::Line);
    Click(PixelOf(100, 150));
    Click(PixelOf(300, 150));
    ASSERT_EQ(Entities().size(), 1u);
    const QPoint onCurrent = PixelOf(212, 150), onOther = PixelOf(212, 100);
    const QRgb background = m_view->RenderedImage().pixel(1, 1);
    auto shown = [&](QPoint at) { return m_view->RenderedImage().pixel(at) != background; };
    ASSERT_TRUE(shown(onCurrent) && shown(onOther));

    struct Switch {
        const char* name;
        std::function<void()> flip;
        std::function<std::vector<double>()> state;
    };
    auto one = [](double value) { return std::vector<double>{value}; };
    const Switch switches[] = {
        {"current layer",
         [&] {
             // What is hidden is no longer selected, so no Delete takes it unseen.
             Graph().SelectAll(true);
             Trigger("Show &Current Layer");
             EXPECT_TRUE(Graph().GetSelectSet().IsEmpty());
             EXPECT_FALSE(shown(onCurrent));
             EXPECT_TRUE(shown(onOther));
         },
         [&] { return one(current->IsVisible()); }},
        {"show vectors",
         [&] {
             Trigger("Show &Vectors");
             EXPECT_FALSE(shown(onOther));
         },
         [&] { return one(Graph().GetShowVectors()); }},
        {"show raster", [&] { Trigger("Show &Raster"); }, [&] { return one(Graph().GetShowRaster()); }},
        {"F7", [&] { QTest::keyClick(m_view, Qt::Key_F7); }, [&] { return one(Graph().GetGridShown()); }},
        {"F8", [&] { QTest::keyClick(m_view, Qt::Key_F8); }, [&] { return one(Graph().GetOrtho()); }},
        {"object snap", [&] { Trigger("&Object Snap"); }, [&] { return one(Graph().GetObjectSnapOn()); }},
        {"nearest", [&] { Trigger("&Nearest"); }, [&] { return one(Graph().GetObjectSnapMask()); }},
        {"snap frame",
         [&] {
             Trigger("Snap &Frame");
             Click({70, 260});
             Click({170, 160});
         },
         [&] {
             return std::vector<double>{Graph().GetSnapBase().x, Graph().GetSnapBase().y, Graph().GetSnapAngle()};
         }},
    };
    std::vector<std::vector<double>> before;
    for (const Switch& s : switches) {
        SCOPED_TRACE(s.name);
        Graph().SetModified(false);  // as if just saved
        const auto steps = m_view->GetVectorUndoList().GetCount();
        before.push_back(s.state());
        s.flip();
        EXPECT_NE(s.state(), before.back());
        EXPECT_TRUE(Graph().IsModified());
        EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), steps + 1);
    }
    EXPECT_FALSE(Action("Show &Vectors")->isChecked());
    EXPECT_FALSE(Action("Show &Current Layer")->isChecked());

    for (std::size_t i = std::size(switches); i-- > 0;) {
        SCOPED_TRACE(switches[i].name);
        QTest::keySequence(m_view, QKeySequence::Undo);
        EXPECT_EQ(switches[i].state(), before[i]);
        EXPECT_EQ(Entities().size(), 1u);
    }
    EXPECT_TRUE(Action("Show &Vectors")->isChecked());
    EXPECT_TRUE(Action("Show &Current Layer")->isChecked());
    EXPECT_TRUE(Action("&Object Snap")->isChecked());
    EXPECT_TRUE(shown(onCurrent) && shown(onOther));
    // Only now the line drawn before them.
    QTest::keySequence(m_view, QKeySequence::Undo);
    EXPECT_TRUE(Entities().empty());
    EXPECT_NE(other->GetFirstEntity(), nullptr);
}

// ---- grips ----------------------------------------------------------------------

TEST_F(DrawingCommandsTest, ClickingAGripThenAPointMovesTheVertexAsOneUndoStep)
{
    CPolyLine* polyline = AddPolyline({{50, 50}, {200, 250}, {350, 50}});
    Graph().SelectAll(true);
    m_view->InvalidateDrawing();
    (void)m_view->RenderedImage();
    ASSERT_NE(Graph().GetGrips(), nullptr);

    Click(PixelOf(200, 250) + QPoint(1, 1));
    ASSERT_TRUE(m_view->IsCommandActive());
    const QPoint target = PixelOf(230, 120);
    MoveTo(PixelOf(220, 180));
    (void)m_view->RenderedImage();
    MoveTo(target);
    // The entity stays until the click; only its clone follows.
    ExpectSamePoint(Vertices(*polyline)[1], frDoublePoint(200, 250));
    Click(target);
    EXPECT_FALSE(m_view->IsCommandActive());
    ExpectSamePoint(Vertices(*polyline)[1], m_view->PixelToWorld(target));
    ExpectSamePoint(Vertices(*polyline)[0], frDoublePoint(50, 50));
    EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), 1u);

    ASSERT_TRUE(m_view->UndoVector());
    CPolyLine* restored = static_cast<CPolyLine*>(Entities()[0]);
    ExpectSamePoint(Vertices(*restored)[1], frDoublePoint(200, 250));
}

TEST_F(DrawingCommandsTest, AClickPickedPolylineShowsGripsThatMoveAndMarkTheDrawing)
{
    CPolyLine* polyline = AddPolyline({{50, 50}, {200, 250}, {350, 50}});
    Graph().SetModified(false);
    // A click on a segment, away from the vertices, picks the polyline.
    Click(PixelOf(125, 150));
    EXPECT_FALSE(m_view->IsCommandActive());
    ASSERT_NE(Graph().GetSelectSet().FindNode(polyline), nullptr);
    ASSERT_NE(Graph().GetGrips(), nullptr);

    Click(PixelOf(350, 50));
    ASSERT_TRUE(m_view->IsCommandActive());
    const QPoint target = PixelOf(320, 200);
    MoveTo(target);
    Click(target);
    EXPECT_FALSE(m_view->IsCommandActive());
    ExpectSamePoint(Vertices(*polyline)[2], m_view->PixelToWorld(target));
    EXPECT_TRUE(Graph().IsModified());
    EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), 1u);
}

TEST_F(DrawingCommandsTest, DraggingAGripMovesItAndEscLeavesItWhereItWas)
{
    CPolyLine* polyline = AddPolyline({{50, 50}, {200, 250}, {350, 50}});
    Graph().SelectAll(true);
    m_view->InvalidateDrawing();
    (void)m_view->RenderedImage();

    const QPoint grip = PixelOf(350, 50);
    const QPoint target = PixelOf(300, 100);
    MoveTo(grip);
    Mouse(QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, target, Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, target, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(m_view->IsCommandActive());
    ExpectSamePoint(Vertices(*polyline)[2], m_view->PixelToWorld(target));

    // A double click on a grip drops it where it was: nothing to undo.
    Graph().SelectAll(true);
    const QPoint first = PixelOf(50, 50) + QPoint(1, -1);
    Click(first);
    Mouse(QEvent::MouseButtonDblClick, first, Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, first, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(m_view->IsCommandActive());
    EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), 1u);

    Graph().SelectAll(true);
    Click(PixelOf(50, 50));
    ASSERT_TRUE(m_view->IsCommandActive());
    MoveTo(PixelOf(80, 80));
    Key(Qt::Key_Escape);
    EXPECT_FALSE(m_view->IsCommandActive());
    ExpectSamePoint(Vertices(*static_cast<CPolyLine*>(Entities()[0]))[0], frDoublePoint(50, 50));
    EXPECT_EQ(m_view->GetVectorUndoList().GetCount(), 1u);
}

TEST_F(DrawingCommandsTest, InsertVertexSplitsThePickedSegmentWithUndo)
{
    CPolyLine* polyline = AddPolyline({{50, 50}, {350, 50}, {350, 250}});
    Trigger("&Insert Vertex");
    ASSERT_TRUE(m_view->IsCommandActive());
    // A miss keeps the command waiting.
    Click(PixelOf(200, 200));
    EXPECT_TRUE(m_view->IsCommandActive());
    Click(PixelOf(120, 51));
    EXPECT_FALSE(m_view->IsCommandActive());
    const std::vector<frDoublePoint> vertices = Vertices(*polyline);
    ASSERT_EQ(vertices.size(), 4u);
    ExpectSamePoint(vertices[1], frDoublePoint(200, 50));
    ASSERT_TRUE(m_view->UndoVector());
    EXPECT_EQ(static_cast<CPolyLine*>(Entities()[0])->GetPointCount(), 3);
}

// ---- view ------------------------------------------------------------------------

TEST_F(DrawingCommandsTest, RubberBandsAndMarkersLeaveThePictureExactlyAsItWas)
{
    ASSERT_NE(Graph().AddLine(100, 100, 300, 200), nullptr);
    ASSERT_NE(Graph().DrawCircle(frDoublePoint(200, 150), 60), nullptr);
    m_view->InvalidateDrawing();
    const QImage before = m_view->RenderedImage().copy();

    m_view->StartCommand(ViewCommandKind::CircleCentre);
    Click({120, 130});
    MoveTo({180, 90});
    EXPECT_NE(m_view->RenderedImage(), before);
    // Onto the line's end: the band moves and the end marker shows.
    MoveTo(PixelOf(300, 200) + QPoint(1, 0));
    EXPECT_NE(m_view->RenderedImage(), before);
    MoveTo({60, 40});
    Key(Qt::Key_Escape);
    EXPECT_EQ(m_view->RenderedImage(), before);

    m_view->StartCommand(ViewCommandKind::Arc3P);
    Click({120, 130});
    Click({200, 60});
    MoveTo({250, 140});
    MoveTo({260, 150});
    Key(Qt::Key_Escape);
    EXPECT_EQ(m_view->RenderedImage(), before);
}

TEST_F(DrawingCommandsTest, SnapMarkerIsCentredOnTheSnappedPoint)
{
    ASSERT_NE(Graph().AddLine(100, 100, 300, 200), nullptr);
    m_view->InvalidateDrawing();
    const QImage before = m_view->RenderedImage().copy();
    const QPoint end = PixelOf(300, 200);
    m_view->StartCommand(ViewCommandKind::Line);
    Click(end + QPoint(-150, 0));
    MoveTo(end + QPoint(2, 1));
    const QImage& shown = m_view->RenderedImage();
    // The end point's square reaches 5 pixels above the end, and no further.
    for (int dx : {-3, 0, 3})
        EXPECT_NE(shown.pixel(end + QPoint(dx, -SNAP_MARKER_HALF)), before.pixel(end + QPoint(dx, -SNAP_MARKER_HALF)))
            << dx;
    EXPECT_EQ(shown.pixel(end + QPoint(0, -SNAP_MARKER_HALF - 2)),
              before.pixel(end + QPoint(0, -SNAP_MARKER_HALF - 2)));
    Key(Qt::Key_Escape);
    EXPECT_EQ(m_view->RenderedImage(), before);
}

TEST_F(DrawingCommandsTest, HoveringAGripMarksItUntilThePointerLeaves)
{
    AddPolyline({{50, 50}, {200, 250}, {350, 50}});
    Graph().SelectAll(true);
    m_view->InvalidateDrawing();
    const QImage before = m_view->RenderedImage().copy();
    const QPoint grip = PixelOf(200, 250);
    MoveTo(grip + QPoint(1, 0));
    EXPECT_NE(m_view->RenderedImage(), before);
    MoveTo(grip + QPoint(40, 40));
    EXPECT_EQ(m_view->RenderedImage(), before);
}

TEST_F(DrawingCommandsTest, ZoomWindowShowsTheBoxAndZoomPreviousGoesBack)
{
    const CFrViewTransform& transform = m_view->GetDevice().Transform();
    const double width = transform.WorldWidth();
    Trigger("Zoom &Window");
    const frDoublePoint a = m_view->PixelToWorld({100, 100}), b = m_view->PixelToWorld({200, 160});
    Click({100, 100});
    Click({200, 160});
    const CFrZoomBox& box = transform.WorldBox();
    EXPECT_LE(box.xmin, a.x + 1e-9);
    EXPECT_GE(box.xmax, b.x - 1e-9);
    EXPECT_LT(transform.WorldWidth(), width / 2);
    Trigger("Zoom &Previous");
    EXPECT_NEAR(transform.WorldWidth(), width, 1e-9);

    // A press, a drag and a release make the same box.
    Trigger("Zoom &Window");
    MoveTo({100, 100});
    Mouse(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, {150, 130}, Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, {200, 160}, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(m_view->IsCommandActive());
    EXPECT_LE(box.xmin, a.x + 1e-9);
    EXPECT_GE(box.xmax, b.x - 1e-9);
    EXPECT_LT(transform.WorldWidth(), width / 2);
}

TEST_F(DrawingCommandsTest, PromptOfACommandStartedFromTheToolbarOutlivesTheButtonsHint)
{
    QToolBar* bar = m_frame->findChild<QToolBar*>("draw");
    ASSERT_NE(bar, nullptr);
    QAction* line = nullptr;
    for (QAction* action : bar->actions())
        if (action->text() == "&Line")
            line = action;
    ASSERT_NE(line, nullptr);
    QWidget* button = bar->widgetForAction(line);
    ASSERT_NE(button, nullptr);
    // Through the window, as the platform delivers the pointer: entering the
    // button shows its hint, leaving it takes the hint away.
    QWindow* window = m_frame->windowHandle();
    const QPoint onButton = button->mapTo(m_frame.get(), button->rect().center());
    const QPoint onView = m_view->mapTo(m_frame.get(), m_view->rect().center());
    QTest::mouseMove(window, onButton);
    EXPECT_EQ(m_frame->statusBar()->currentMessage(), line->statusTip());
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, onButton);
    EXPECT_TRUE(m_view->IsCommandActive());
    QTest::mouseMove(window, onView);
    EXPECT_EQ(m_frame->statusBar()->currentMessage().toStdString(), "Line: pick the start point");
    m_view->CancelCommand();
}

TEST_F(DrawingCommandsTest, GridTooDenseToDrawIsToldInTheStatusBar)
{
    ASSERT_TRUE(Graph().SetGridSpacing(0.5, 0.5));
    Key(Qt::Key_F7);
    EXPECT_TRUE(Graph().GetGridShown());
    (void)m_view->RenderedImage();
    EXPECT_FALSE(Graph().GetGridDrawable());
    EXPECT_EQ(m_frame->statusBar()->currentMessage().toStdString(), "The grid is too dense to show.");
}

}  // namespace
