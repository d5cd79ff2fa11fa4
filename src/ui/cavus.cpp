// The picture control: the off-screen picture, its display and the mouse.
#include "ui/cavus.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QtMath>

#include "platform/dc.h"
#include "platform/pixel_dc.h"

namespace {

// Canvas words are 0x00RRGGBB; an opaque Qt pixel wants the top byte set.
constexpr std::uint32_t kOpaque = 0xFF000000u;

}  // namespace

CCavus::CCavus(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(kFrameWidth);
    setMouseTracking(true);
}

CCavus::~CCavus() = default;

bool CCavus::CreateImageFitWindow(int bitCount)
{
    const int width = this->width() - 2 * kFrameWidth;
    const int height = this->height() - 2 * kFrameWidth;
    if (width < 1 || height < 1 || !m_image.Create(width, height, bitCount)) {
        m_image.Free();
        m_shown = QImage();
        update();
        return false;
    }
    RefreshShown();
    update();
    return true;
}

RECT CCavus::GetImageRect() const { return RECT{0, 0, m_image.Width(), m_image.Height()}; }

CDC* CCavus::BeginDraw() { return m_image.BeginPaint(nullptr); }

void CCavus::UpdateImage()
{
    if (m_image.IsPainting())
        m_image.EndPaint();
    RefreshShown();
    repaint();
}

void CCavus::FillImage(COLORREF color)
{
    if (CDC* dc = BeginDraw())
        dc->FillSolidRect(GetImageRect(), color);
    UpdateImage();
}

void CCavus::SetBandText(const QString& text, int bandHeight)
{
    m_bandText = text;
    m_bandHeight = bandHeight;
    update();
}

void CCavus::SetClickCallback(CavusMouseCallback callback, void* context)
{
    m_click = callback;
    m_clickContext = context;
}

void CCavus::SetMouseMoveCallback(CavusMouseCallback callback, void* context)
{
    m_move = callback;
    m_moveContext = context;
}

void CCavus::RefreshShown()
{
    const int width = m_image.Width(), height = m_image.Height();
    if (width < 1 || height < 1) {
        m_shown = QImage();
        return;
    }
    CPixelDC canvas(width, height, RGB(0, 0, 0));
    QImage shown(width, height, QImage::Format_RGB32);
    if (!canvas.IsValid() || shown.isNull() || !m_image.Draw(&canvas, 0, 0, SRCCOPY)) {
        m_shown = QImage();
        return;
    }
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* in = canvas.Bits() + static_cast<std::size_t>(y) * width;
        auto* out = reinterpret_cast<std::uint32_t*>(shown.scanLine(y));
        for (int x = 0; x < width; ++x)
            out[x] = in[x] | kOpaque;
    }
    m_shown = std::move(shown);
}

void CCavus::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const QRect client = contentsRect();
    painter.fillRect(client, palette().color(QPalette::Window));
    if (!m_shown.isNull())
        painter.drawImage(client.topLeft(), m_shown);
    if (!m_bandText.isEmpty()) {
        const QRect band(client.left(), client.top() + (client.height() - m_bandHeight) / 2, client.width(),
                         m_bandHeight);
        painter.fillRect(band, palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(band, Qt::AlignCenter, m_bandText);
    }
    drawFrame(&painter);
}

UINT CCavus::FlagsOf(const QMouseEvent& event) const
{
    UINT flags = 0;
    const Qt::MouseButtons buttons = event.buttons();
    if (buttons & Qt::LeftButton)
        flags |= MK_LBUTTON;
    if (buttons & Qt::RightButton)
        flags |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton)
        flags |= MK_MBUTTON;
    if (event.modifiers() & Qt::ShiftModifier)
        flags |= MK_SHIFT;
    if (event.modifiers() & Qt::ControlModifier)
        flags |= MK_CONTROL;
    return flags;
}

QPoint CCavus::ClientPoint(const QMouseEvent& event) const
{
    // The pixel under a fractional position is the one it lies in.
    const QPointF position = event.position();
    return QPoint(qFloor(position.x()), qFloor(position.y())) - contentsRect().topLeft();
}

void CCavus::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_click) {
        QFrame::mousePressEvent(event);
        return;
    }
    const QPoint point = ClientPoint(*event);
    m_click(m_clickContext, FlagsOf(*event), point.x(), point.y());
}

void CCavus::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_move) {
        QFrame::mouseMoveEvent(event);
        return;
    }
    const QPoint point = ClientPoint(*event);
    m_move(m_moveContext, FlagsOf(*event), point.x(), point.y());
}
