#pragma once
// CStaticEx: a static text with its own colours, edge, alignment and font,
// painted by itself so that none of them depends on the widget style (the
// progress dialog's step counter is yellow on blue whatever the theme).
#include <QColor>
#include <QFrame>
#include <QString>

#include "platform/colorref.h"

// Text drawing flags, as the callers pass them to SetTextFormat. Without a
// horizontal flag the text sits left, without a vertical one at the top.
inline constexpr UINT DT_LEFT = 0x00;
inline constexpr UINT DT_CENTER = 0x01;
inline constexpr UINT DT_RIGHT = 0x02;
inline constexpr UINT DT_TOP = 0x00;
inline constexpr UINT DT_VCENTER = 0x04;
inline constexpr UINT DT_BOTTOM = 0x08;
inline constexpr UINT DT_WORDBREAK = 0x10;
inline constexpr UINT DT_SINGLELINE = 0x20;

// Edges of SetEdge: 0 none, 1 raised, anything else sunken.
inline constexpr int kStaticEdgeNone = 0;
inline constexpr int kStaticEdgeRaised = 1;
inline constexpr int kStaticEdgeSunken = 2;

class CStaticEx : public QFrame {
    Q_OBJECT
public:
    // The window background and button-text colours of the palette, the
    // arrow cursor, font size 10, DT_VCENTER, no edge.
    explicit CStaticEx(QWidget* parent = nullptr);
    ~CStaticEx() override;

    void SetText(const QString& text);
    [[nodiscard]] QString GetText() const { return m_text; }

    // Each setter answers the old value and repaints the control.
    COLORREF SetBkColor(COLORREF color);
    COLORREF SetTextColor(COLORREF color);
    int SetEdge(int edge);
    UINT SetTextFormat(UINT format);
    bool SetFontBold(bool bold);
    // The font's height in pixels.
    int SetFontSize(int size);

    [[nodiscard]] COLORREF GetBkColor() const { return m_bkColor; }
    [[nodiscard]] COLORREF GetTextColor() const { return m_textColor; }
    [[nodiscard]] int GetEdge() const { return m_edge; }
    [[nodiscard]] UINT GetTextFormat() const { return m_format; }
    [[nodiscard]] bool IsFontBold() const { return m_bold; }
    [[nodiscard]] int GetFontSize() const { return m_fontSize; }

    // The alignment and wrapping flags that the text format stands for.
    [[nodiscard]] static int TextFlagsOf(UINT format);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Every setter answers the old value and repaints.
    template <class T>
    T Replace(T& field, T value)
    {
        const T old = field;
        field = value;
        update();
        return old;
    }

    void ApplyFont();

    QString m_text;
    COLORREF m_bkColor;
    COLORREF m_textColor;
    int m_edge = kStaticEdgeNone;
    UINT m_format = DT_VCENTER;
    bool m_bold = false;
    int m_fontSize = 10;
};

// Conversions between the core's colours and Qt's.
[[nodiscard]] QColor ToQColor(COLORREF color);
[[nodiscard]] COLORREF ToColorRef(const QColor& color);
