// The coloured static text: state, then painting.
#include "ui/static_ex.h"

#include <QPaintEvent>
#include <QPainter>

namespace {

// Edges are drawn two pixels wide, like the classic 3-D edges.
constexpr int kEdgeWidth = 2;

}  // namespace

QColor ToQColor(COLORREF color) { return QColor(GetRValue(color), GetGValue(color), GetBValue(color)); }

COLORREF ToColorRef(const QColor& color)
{
    return RGB(static_cast<BYTE>(color.red()), static_cast<BYTE>(color.green()), static_cast<BYTE>(color.blue()));
}

CStaticEx::CStaticEx(QWidget* parent)
    : QFrame(parent), m_bkColor(ToColorRef(palette().color(QPalette::Window))),
      m_textColor(ToColorRef(palette().color(QPalette::ButtonText)))
{
    setCursor(Qt::ArrowCursor);
    setFrameStyle(QFrame::NoFrame);
    ApplyFont();
}

CStaticEx::~CStaticEx() = default;

void CStaticEx::SetText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

COLORREF CStaticEx::SetBkColor(COLORREF color) { return Replace(m_bkColor, color); }

COLORREF CStaticEx::SetTextColor(COLORREF color) { return Replace(m_textColor, color); }

int CStaticEx::SetEdge(int edge)
{
    const int old = m_edge;
    m_edge = edge;
    if (edge == kStaticEdgeNone) {
        setFrameStyle(QFrame::NoFrame);
    } else {
        setFrameStyle(QFrame::Panel | (edge == kStaticEdgeRaised ? QFrame::Raised : QFrame::Sunken));
        setLineWidth(kEdgeWidth);
    }
    update();
    return old;
}

UINT CStaticEx::SetTextFormat(UINT format) { return Replace(m_format, format); }

bool CStaticEx::SetFontBold(bool bold)
{
    const bool old = Replace(m_bold, bold);
    ApplyFont();
    return old;
}

int CStaticEx::SetFontSize(int size)
{
    const int old = Replace(m_fontSize, size);
    ApplyFont();
    return old;
}

void CStaticEx::ApplyFont()
{
    QFont shown = font();
    // A size of 0 or less (a control not laid out yet) keeps the pixel size
    // Qt can draw.
    shown.setPixelSize(m_fontSize > 0 ? m_fontSize : 1);
    shown.setWeight(m_bold ? QFont::Bold : QFont::Normal);
    setFont(shown);
}

int CStaticEx::TextFlagsOf(UINT format)
{
    int flags = 0;
    if (format & DT_CENTER)
        flags |= Qt::AlignHCenter;
    else if (format & DT_RIGHT)
        flags |= Qt::AlignRight;
    else
        flags |= Qt::AlignLeft;
    if (format & DT_VCENTER)
        flags |= Qt::AlignVCenter;
    else if (format & DT_BOTTOM)
        flags |= Qt::AlignBottom;
    else
        flags |= Qt::AlignTop;
    if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE))
        flags |= Qt::TextWordWrap;
    return flags;
}

void CStaticEx::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(m_bkColor));
    drawFrame(&painter);
    painter.setPen(ToQColor(m_textColor));
    painter.setFont(font());
    painter.drawText(contentsRect(), TextFlagsOf(m_format), m_text);
}
