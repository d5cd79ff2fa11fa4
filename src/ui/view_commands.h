#pragma once
// The interactive commands of the drawing view. While one is active the view
// hands it every click, pointer move and key: each left click gives it the
// next point (snapped by the view), Enter or a right click ends it, Esc
// cancels it. A command's rubber band is a function of its state only: the
// view draws it once in XOR before a step (which erases it) and once after,
// so the picture comes back exactly as it was when the band goes.
#include <memory>
#include <string>

#include "model/point.h"
#include "platform/gdi_types.h"

class CDC;
class CDrawingView;
class CFrCDCDevice;
class CFrDevice;
class CGraph;

// Where a band is drawn: the view's back buffer, which stands for its window.
class CViewFeedback {
public:
    explicit CViewFeedback(CFrCDCDevice& device) : m_device(device) {}
    // The buffer in window pixels (y down), for the rubber-band functions.
    CDC* Pixels();
    // The device in world coordinates, XOR mode on, for entity clones.
    CFrDevice* World();
    // Back to the device's own state.
    void Done();
    [[nodiscard]] POINT ToPixel(const frDoublePoint& p) const;

private:
    CFrCDCDevice& m_device;
};

class CViewCommand {
public:
    virtual ~CViewCommand() = default;
    // The status-bar prompt for what the command waits for next.
    [[nodiscard]] virtual std::string Prompt() const = 0;
    // A picked point; true when the command is over.
    virtual bool Pick(CDrawingView& view, const frDoublePoint& p) = 0;
    // Enter or a right click; true when the command is over.
    virtual bool Finish(CDrawingView& view);
    // Esc or another command: whatever the command holds is dropped.
    virtual void Cancel(CDrawingView& view) { (void)view; }
    // The pointer moved to p (snapped as a pick would be).
    virtual void Track(CDrawingView& view, const frDoublePoint& p);
    // Draws the band of the present state in XOR; nothing before the
    // pointer has moved.
    virtual void DrawBand(CViewFeedback& feedback) const = 0;
    // Points of this command go through object and grid snap.
    [[nodiscard]] virtual bool Snaps() const { return true; }
    // Ortho holds its next point square to the base point.
    [[nodiscard]] virtual bool FollowsOrtho() const { return Snaps(); }
    // The point the band starts from (ortho and object snap measure from
    // it), or null.
    [[nodiscard]] virtual const frDoublePoint* BasePoint() const { return nullptr; }
    // A left press that gave a point and a release elsewhere give the next.
    [[nodiscard]] virtual bool PicksOnDragRelease() const { return false; }

protected:
    frDoublePoint m_pointer;
    bool m_tracking = false;
};

// The commands the Draw, Snap and View menus start.
enum class ViewCommandKind {
    Line,
    Polyline,
    Solid,
    CircleCentre,
    Circle3P,
    ArcCentre,
    Arc3P,
    SnapFrame,
    ZoomWindow,
    InsertVertex,
};

[[nodiscard]] std::unique_ptr<CViewCommand> MakeViewCommand(ViewCommandKind kind);
// The move of the drawing's hot grip (view_grips.cpp).
[[nodiscard]] std::unique_ptr<CViewCommand> MakeGripCommand(CGraph& graph, const frDoublePoint& grip);
