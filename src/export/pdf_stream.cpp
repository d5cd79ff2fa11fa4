#include "export/pdf_stream.h"

#include <cmath>
#include <new>
#include <stdexcept>

#include "model/constants.h"
#include "platform/number_text.h"

namespace {

// Settings closer than this to the current one are not written again.
constexpr double kStateTolerance = 0.001;
// Distance of a quarter circle's Bezier control points, in radii.
constexpr double kQuarterCircleKappa = 0.552;
// Decimals of coordinates, of colours and widths.
constexpr int kPointDecimals = 2;
constexpr int kStateDecimals = 3;

}  // namespace

std::string FormatPdfNumber(double value, int decimals)
{
    std::string text = FormatC("%.*f", decimals, value);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    return text;
}

bool CPDFStream::ColorState::Equals(double r2, double g2, double b2) const
{
    return set && std::fabs(r - r2) < kStateTolerance && std::fabs(g - g2) < kStateTolerance &&
           std::fabs(b - b2) < kStateTolerance;
}

bool CPDFStream::AppendBytes(const void* bytes, std::uint32_t count)
{
    try {
        m_Data.append(static_cast<const char*>(bytes), count);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool CPDFStream::AppendText(std::string_view text)
{
    return AppendBytes(text.data(), static_cast<std::uint32_t>(text.size()));
}

void CPDFStream::Clear()
{
    m_Data.clear();
    m_Stroke = {};
    m_Fill = {};
    m_WidthSet = false;
    m_Width = 0.0;
}

bool CPDFStream::AppendPoint(double x, double y, const char* op, bool trailingBlank)
{
    std::string text = FormatPdfNumber(x, kPointDecimals);
    text += ' ';
    text += FormatPdfNumber(y, kPointDecimals);
    text += ' ';
    text += op;
    if (trailingBlank)
        text += ' ';
    return AppendText(text);
}

bool CPDFStream::MoveTo(double x, double y, bool trailingBlank) { return AppendPoint(x, y, "m", trailingBlank); }

bool CPDFStream::LineTo(double x, double y, bool trailingBlank) { return AppendPoint(x, y, "l", trailingBlank); }

bool CPDFStream::Arc(double cx, double cy, double radius, double startDeg, double endDeg, bool beginWithMove)
{
    const double sweepDeg = endDeg - startDeg;
    // The fewest equal pieces that each stay strictly below a quarter turn.
    const int pieces = static_cast<int>(std::floor(std::fabs(sweepDeg) / 90.0)) + 1;
    const double step = sweepDeg / pieces * DEGREE;
    const double kappa = 4.0 / 3.0 * std::tan(step / 4.0) * radius;
    double a = startDeg * DEGREE;
    double x0 = cx + radius * std::cos(a), y0 = cy + radius * std::sin(a);
    bool ok = beginWithMove ? MoveTo(x0, y0) : LineTo(x0, y0);
    for (int i = 0; i < pieces && ok; ++i) {
        const double b = a + step;
        const double x1 = cx + radius * std::cos(b), y1 = cy + radius * std::sin(b);
        std::string text;
        text += FormatPdfNumber(x0 - kappa * std::sin(a), kPointDecimals) + ' ';
        text += FormatPdfNumber(y0 + kappa * std::cos(a), kPointDecimals) + ' ';
        text += FormatPdfNumber(x1 + kappa * std::sin(b), kPointDecimals) + ' ';
        text += FormatPdfNumber(y1 - kappa * std::cos(b), kPointDecimals) + ' ';
        text += FormatPdfNumber(x1, kPointDecimals) + ' ';
        text += FormatPdfNumber(y1, kPointDecimals) + " c ";
        ok = AppendText(text);
        a = b;
        x0 = x1;
        y0 = y1;
    }
    return ok;
}

bool CPDFStream::Circle(double x, double y, double r)
{
    const double k = kQuarterCircleKappa * r;
    // Four quarters counter-clockwise from (x + r, y): each is
    // (control 1, control 2, end).
    const double q[4][6] = {
        {x + r, y + k, x + k, y + r, x, y + r},
        {x - k, y + r, x - r, y + k, x - r, y},
        {x - r, y - k, x - k, y - r, x, y - r},
        {x + k, y - r, x + r, y - k, x + r, y},
    };
    bool ok = MoveTo(x + r, y);
    for (const auto& piece : q) {
        std::string text;
        for (double v : piece)
            text += FormatPdfNumber(v, kPointDecimals) + ' ';
        text += "c ";
        ok = ok && AppendText(text);
    }
    return ok && AppendText("s ");
}

namespace {

std::string ColorText(double r, double g, double b, const char* op, bool trailingBlank)
{
    std::string text = FormatPdfNumber(r, kStateDecimals) + ' ' + FormatPdfNumber(g, kStateDecimals) + ' ' +
                       FormatPdfNumber(b, kStateDecimals) + ' ' + op;
    if (trailingBlank)
        text += ' ';
    return text;
}

std::string GrayText(double v, const char* op, bool trailingBlank)
{
    std::string text = FormatPdfNumber(v, kStateDecimals) + ' ' + op;
    if (trailingBlank)
        text += ' ';
    return text;
}

}  // namespace

bool CPDFStream::SetStrokeRGB(double r, double g, double b, bool trailingBlank)
{
    if (m_Stroke.Equals(r, g, b))
        return true;
    m_Stroke = {true, r, g, b};
    return AppendText(ColorText(r, g, b, "RG", trailingBlank));
}

bool CPDFStream::SetStrokeGray(double v, bool trailingBlank)
{
    if (m_Stroke.Equals(v, v, v))
        return true;
    m_Stroke = {true, v, v, v};
    return AppendText(GrayText(v, "G", trailingBlank));
}

bool CPDFStream::SetFillRGB(double r, double g, double b, bool trailingBlank)
{
    if (m_Fill.Equals(r, g, b))
        return true;
    m_Fill = {true, r, g, b};
    return AppendText(ColorText(r, g, b, "rg", trailingBlank));
}

bool CPDFStream::SetFillGray(double v, bool trailingBlank)
{
    if (m_Fill.Equals(v, v, v))
        return true;
    m_Fill = {true, v, v, v};
    return AppendText(GrayText(v, "g", trailingBlank));
}

bool CPDFStream::SetLineWidth(double width, bool trailingBlank)
{
    if (m_WidthSet && std::fabs(m_Width - width) < kStateTolerance)
        return true;
    m_WidthSet = true;
    m_Width = width;
    return AppendText(GrayText(width, "w", trailingBlank));
}
