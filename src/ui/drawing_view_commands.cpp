// The view's side of its interactive commands: which events reach the
// running command, the snapped point each click gives it, and its XOR
// feedback drawn on the shown picture between passes.
#include <QKeyEvent>
#include <QMouseEvent>

#include "model/drawing_display.h"
#include "model/text_table.h"
#include "ui/drawing_view.h"

namespace {

// A release this far (Manhattan pixels) from the press that took a grip is
// a drag, and drops the grip there.
constexpr int kDragPixels = 3;

}  // namespace

double CDrawingView::PickReach() const { return kPickPixels * m_device.Transform().UnitsPerPixel(); }

void CDrawingView::ShowStatus(const std::string& text) { emit statusText(QString::fromUtf8(text)); }

void CDrawingView::StartCommand(ViewCommandKind kind) { StartCommand(MakeViewCommand(kind)); }

void CDrawingView::StartCommand(std::unique_ptr<CViewCommand> command)
{
    if (m_tracing || command == nullptr)
        return;
    CancelCommand();
    ChangeFeedback([&] { m_command = std::move(command); });
    ShowStatus(m_command->Prompt());
    setFocus();
}

void CDrawingView::CancelCommand()
{
    if (m_command == nullptr)
        return;
    ChangeFeedback([&] {
        m_command->Cancel(*this);
        EndCommand();
    });
}

void CDrawingView::EndCommand()
{
    m_command.reset();
    m_markerKind = 0;
    m_commandPressed = false;
    ShowStatus(m_commandNote.empty() ? GetLanString("Ready", "Ready") : m_commandNote);
    m_commandNote.clear();
}

bool CDrawingView::ZoomWindow(const frDoublePoint& a, const frDoublePoint& b)
{
    if (m_tracing || a.x == b.x || a.y == b.y)
        return false;
    FitDeviceToWindow();
    const bool pushed = m_device.ZoomStack().PushZoom(m_device.Transform());
    if (!m_device.Transform().SetWorldBoxFromPoints(a, b)) {
        if (pushed)
            m_device.ZoomStack().PopZoom();
        return false;
    }
    m_followExtents = false;
    InvalidateDrawing();
    return true;
}

// ---- feedback -------------------------------------------------------------------

void CDrawingView::DrawFeedback(CViewFeedback& feedback)
{
    if (m_command)
        m_command->DrawBand(feedback);
    if (m_markerKind != 0)
        (void)DrawSnapMarker(feedback.Pixels(), m_markerPixel.x(), m_markerPixel.y(), m_markerKind);
    feedback.Done();
}

void CDrawingView::ChangeFeedback(const std::function<void()>& change)
{
    // A due pass paints everything afresh, the feedback included.
    if (m_passDue || m_tracing || m_picture.isNull() || !m_device.BeginDraw(nullptr, false)) {
        change();
        update();
        return;
    }
    CViewFeedback feedback(m_device);
    DrawFeedback(feedback);
    change();
    if (!m_passDue)
        DrawFeedback(feedback);
    m_device.EndDraw();
    if (!m_passDue)
        (void)PublishPicture();
    update();
}

// ---- events -----------------------------------------------------------------------

void CDrawingView::PickPoint(const QPoint& pixel)
{
    std::int32_t kind = 0;
    const frDoublePoint p = SnapPixel(pixel, &kind);
    ChangeFeedback([&] {
        if (m_command->Pick(*this, p))
            EndCommand();
    });
    if (m_command)
        ShowStatus(m_command->Prompt());
}

bool CDrawingView::CommandPress(QMouseEvent* event)
{
    if (m_tracing)
        return false;
    const QPoint at = event->position().toPoint();
    if (m_command == nullptr) {
        if (event->button() != Qt::LeftButton || event->modifiers() != Qt::NoModifier || !StartGripMove(at))
            return false;
        m_commandPress = at;
        m_commandPressed = true;
        return true;
    }
    if (event->button() == Qt::LeftButton) {
        PickPoint(at);
        // A command that takes drags gets its next point on the release.
        m_commandPress = at;
        m_commandPressed = m_command != nullptr;
        return true;
    }
    if (event->button() == Qt::RightButton) {
        ChangeFeedback([&] {
            if (m_command->Finish(*this))
                EndCommand();
        });
        return true;
    }
    // The middle button still pans.
    return false;
}

bool CDrawingView::CommandMove(QMouseEvent* event)
{
    if (m_tracing || (event->buttons() & Qt::MiddleButton))
        return false;
    const QPoint at = event->position().toPoint();
    if (m_command == nullptr) {
        // Hovering marks a grip; whatever else a move does goes on.
        if (m_graph.GetGrips() != nullptr)
            TrackHover(at);
        return false;
    }
    std::int32_t kind = 0;
    const frDoublePoint p = SnapPixel(at, &kind);
    ChangeFeedback([&] {
        m_command->Track(*this, p);
        m_markerKind = kind;
        m_markerPixel = WorldToPixel(p);
    });
    return true;
}

bool CDrawingView::CommandRelease(QMouseEvent* event)
{
    const bool pressed = m_commandPressed;
    m_commandPressed = false;
    if (m_command == nullptr)
        return pressed;
    const QPoint at = event->position().toPoint();
    if (pressed && event->button() == Qt::LeftButton && m_command->PicksOnDragRelease() &&
        (at - m_commandPress).manhattanLength() > kDragPixels)
        PickPoint(at);
    return event->button() != Qt::MiddleButton;
}

bool CDrawingView::CommandKey(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_F7: ToggleGrid(); return true;
    case Qt::Key_F8: ToggleOrtho(); return true;
    case Qt::Key_F9: ToggleGridSnap(); return true;
    case Qt::Key_Escape:
        if (m_command == nullptr)
            return false;
        CancelCommand();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_command == nullptr)
            return false;
        ChangeFeedback([&] {
            if (m_command->Finish(*this))
                EndCommand();
        });
        return true;
    default: return false;
    }
}
