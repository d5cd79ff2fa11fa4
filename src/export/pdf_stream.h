#pragma once
// CPDFStream: the content stream of the PDF page that every entity's PDF
// record appends its operators to.
//
// The export sets the page transform (scale, origin) before any entity is
// written: a point (x, y) in the drawing unit, measured from the page's
// corner (GetPagePoint), goes to (scale x + origin x, scale y + origin y), a
// length to scale x length. The stream remembers the current stroke and fill
// colour and line width so that repeated settings are not written again.
#include <cstdint>
#include <string>
#include <string_view>

class CPDFStream {
public:
    double m_Scale = 1.0;  // drawing unit to PDF points
    double m_OriginX = 0.0;
    double m_OriginY = 0.0;

    // Appends raw bytes; false when memory is short.
    bool AppendBytes(const void* bytes, std::uint32_t count);
    bool AppendText(std::string_view text);

    // "x y m " with two decimals each, trailing zeros stripped (" m" without
    // the trailing blank).
    bool MoveTo(double x, double y, bool trailingBlank = true);
    bool LineTo(double x, double y, bool trailingBlank = true);
    // The arc from start to end degrees (counter-clockwise when end > start)
    // as Bezier pieces each below 90 degrees, beginning with a move to its
    // start (beginWithMove) or a line to it. Paints nothing.
    bool Arc(double cx, double cy, double radius, double startDeg, double endDeg, bool beginWithMove);
    // A closed and stroked whole circle.
    bool Circle(double x, double y, double r);

    // Colours in 0..1 and the line width; nothing is written when the current
    // setting is already within 0.001 of the new one.
    bool SetStrokeRGB(double r, double g, double b, bool trailingBlank = true);
    bool SetStrokeGray(double v, bool trailingBlank = true);
    bool SetFillRGB(double r, double g, double b, bool trailingBlank = true);
    bool SetFillGray(double v, bool trailingBlank = true);
    bool SetLineWidth(double width, bool trailingBlank = true);

    [[nodiscard]] const std::string& GetData() const { return m_Data; }
    // Empties the stream and forgets the current colours and width.
    void Clear();

private:
    struct ColorState {
        bool set = false;
        double r = 0, g = 0, b = 0;
        [[nodiscard]] bool Equals(double r2, double g2, double b2) const;
    };
    bool AppendPoint(double x, double y, const char* op, bool trailingBlank);

    std::string m_Data;
    ColorState m_Stroke;
    ColorState m_Fill;
    bool m_WidthSet = false;
    double m_Width = 0.0;
};

// A number with the given decimals, trailing zeros (and a bare point)
// stripped, never "-0": 1.5 -> "1.5", 2.0 -> "2".
[[nodiscard]] std::string FormatPdfNumber(double value, int decimals);
