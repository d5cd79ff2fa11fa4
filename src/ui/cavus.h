#pragma once
// CCavus: a control that shows an off-screen picture (a CDib). The owner
// draws into the picture through a drawing context between BeginDraw and
// UpdateImage; the control shows the picture as of the last UpdateImage,
// inside a two-pixel sunken frame, and reports left clicks and mouse moves
// to callbacks.
//
// Coordinates of the picture and of the callbacks are the control's client
// coordinates: (0, 0) is the picture's top-left pixel, inside the frame.
#include <QFrame>
#include <QImage>
#include <QString>

#include "platform/colorref.h"
#include "platform/gdi_types.h"
#include "raster/dib.h"

class CDC;

// Mouse flags of the callbacks.
inline constexpr UINT MK_LBUTTON = 0x0001;
inline constexpr UINT MK_RBUTTON = 0x0002;
inline constexpr UINT MK_SHIFT = 0x0004;
inline constexpr UINT MK_CONTROL = 0x0008;
inline constexpr UINT MK_MBUTTON = 0x0010;

// (context, mouse flags, x, y) in client coordinates.
using CavusMouseCallback = void (*)(void* context, UINT flags, int x, int y);

class CCavus : public QFrame {
    Q_OBJECT
public:
    // The frame's width on each side: the picture is the window less twice it.
    static constexpr int kFrameWidth = 2;

    explicit CCavus(QWidget* parent = nullptr);
    ~CCavus() override;

    // Makes a blank picture as large as the control less the frame, of that
    // depth (rounded as CDib rounds it). False, picture gone, when the
    // control is too small or memory is short.
    [[nodiscard]] bool CreateImageFitWindow(int bitCount);
    // {0, 0, picture width, picture height}; empty without a picture.
    [[nodiscard]] RECT GetImageRect() const;
    [[nodiscard]] CDib& GetImage() { return m_image; }

    // A drawing context over the picture; null without one. Ended by
    // UpdateImage.
    CDC* BeginDraw();
    // Ends the drawing and repaints the control at once.
    void UpdateImage();
    // The whole picture in one colour, shown at once.
    void FillImage(COLORREF color);
    // A line of text over the middle of the control, in a band of this height
    // (a notice while the picture is being made); empty for none.
    void SetBandText(const QString& text, int bandHeight = 40);

    // The shown picture, as of the last UpdateImage.
    [[nodiscard]] const QImage& GetShownImage() const { return m_shown; }

    void SetClickCallback(CavusMouseCallback callback, void* context);
    void SetMouseMoveCallback(CavusMouseCallback callback, void* context);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void RefreshShown();
    // Flags and client coordinates of a mouse event.
    [[nodiscard]] UINT FlagsOf(const QMouseEvent& event) const;
    [[nodiscard]] QPoint ClientPoint(const QMouseEvent& event) const;

    CDib m_image;
    QImage m_shown;
    QString m_bandText;
    int m_bandHeight = 40;
    CavusMouseCallback m_click = nullptr;
    void* m_clickContext = nullptr;
    CavusMouseCallback m_move = nullptr;
    void* m_moveContext = nullptr;
};
