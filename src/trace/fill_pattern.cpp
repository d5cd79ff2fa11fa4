// Hatch lines over the black runs of a one-bit raster, row by row or column
// by column at a fixed spacing.
#include "trace/fill_pattern.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "model/graph.h"
#include "model/text_table.h"
#include "raster/packed_bits.h"
#include "raster/raster_src.h"
#include "trace/common_thread.h"
#include "trace/trace_option.h"

namespace {

// A pixel reaches half a unit either side of its centre.
constexpr double kHalfPixel = 0.5;
constexpr double kPercent = 100.0;

// The first run of set pixels at or after pixel from: [x0, x1], both set.
// False when the rest of the row is clear.
bool NextRun(const BYTE* row, int width, int from, int& x0, int& x1)
{
    int x = from;
    for (;; x += kWordPixels) {
        if (x >= width)
            return false;
        const int n = std::min(kWordPixels, width - x);
        const PackedWord w = ReadPixels(row, x, n);
        if (w) {
            x0 = x + std::countl_zero(w);
            break;
        }
    }
    for (x = x0 + 1; x < width; x += kWordPixels) {
        const int n = std::min(kWordPixels, width - x);
        const PackedWord clear = ~ReadPixels(row, x, n) & LeadingWordMask(n);
        if (clear) {
            x1 = x + std::countl_zero(clear) - 1;
            return true;
        }
    }
    x1 = width - 1;
    return true;
}

bool CanHatch(const CRasterSrc& source, double spacing, const CGraph* drawing)
{
    return drawing && drawing->GetCurrentLayer() && std::isfinite(spacing) && spacing >= kMinFillSpace &&
           !source.IsEmpty() && source.GetBitCount() == 1;
}

// The progress and stop protocol of one hatch direction.
class CHatchStep {
public:
    CHatchStep(CCommonThread* thread, const char* key, const char* englishDefault)
        : m_thread(thread), m_text(GetLanString(key, englishDefault))
    {
        if (m_thread)
            m_thread->SendProgressText(m_text.c_str());
    }

    // After each row or column: false (code 10 posted) when the run is to
    // stop. Positions go out only when they change.
    [[nodiscard]] bool Advance(double position, int extent)
    {
        if (!m_thread)
            return true;
        if (m_thread->IsStopRequested()) {
            m_thread->PostRunEnd(RUN_STOPPED);
            return false;
        }
        const auto percent = static_cast<DWORD>(position * kPercent / extent);
        if (percent != m_last) {
            m_thread->SendProgressPos(percent);
            m_last = percent;
        }
        return true;
    }

    void Fail(DWORD code) const
    {
        if (m_thread)
            m_thread->PostRunEnd(code);
    }

    void End() const
    {
        if (m_thread)
            m_thread->SendProgressEnd(m_text.c_str());
    }

private:
    CCommonThread* m_thread;
    std::string m_text;
    DWORD m_last = ~DWORD{0};
};

}  // namespace

bool FillHorLines(const CRasterSrc& source, double spacing, CGraph* drawing, CCommonThread* thread)
{
    if (!CanHatch(source, spacing, drawing))
        return false;
    CHatchStep step(thread, "ProcessFillHorLine", "Fill horizontal line");
    const int width = source.GetWidth();
    const int height = source.GetHeight();
    for (double p = 0.0; static_cast<int>(p) < height; p += spacing) {
        const BYTE* row = source.GetRow(static_cast<int>(p));
        const double y = height - p - 1.0;
        int x0 = 0;
        int x1 = 0;
        for (int x = 0; NextRun(row, width, x, x0, x1); x = x1 + 1) {
            if (!drawing->AddLine(x0 - kHalfPixel, y, x1 + kHalfPixel, y)) {
                step.Fail(RUN_NO_MEMORY);
                return false;
            }
        }
        if (!step.Advance(p, height))
            return false;
    }
    step.End();
    return true;
}

bool FillVerLines(const CRasterSrc& source, double spacing, CGraph* drawing, CCommonThread* thread)
{
    if (!CanHatch(source, spacing, drawing))
        return false;
    CHatchStep step(thread, "ProcessFillVerLine", "Fill vertical line");
    const int width = source.GetWidth();
    const int height = source.GetHeight();
    for (double q = 0.0; static_cast<int>(q) < width; q += spacing) {
        const int c = static_cast<int>(q);
        int y = 0;
        while (y < height) {
            if (!TestPixel(source.GetRow(y), c)) {
                ++y;
                continue;
            }
            const int y0 = y;
            while (y < height && TestPixel(source.GetRow(y), c))
                ++y;
            const int y1 = y - 1;
            if (!drawing->AddLine(q, height - y0 - kHalfPixel, q, height - y1 - 1.0 - kHalfPixel)) {
                step.Fail(RUN_NO_MEMORY);
                return false;
            }
        }
        if (!step.Advance(q, width))
            return false;
    }
    step.End();
    return true;
}

bool FillPattern(const CRasterSrc& source, UINT type, double spacing, CGraph* drawing, CCommonThread* thread)
{
    switch (type) {
    case FILL_HORIZONTAL: return FillHorLines(source, spacing, drawing, thread);
    case FILL_VERTICAL: return FillVerLines(source, spacing, drawing, thread);
    case FILL_CROSS:
        return FillHorLines(source, spacing, drawing, thread) && FillVerLines(source, spacing, drawing, thread);
    default: return false;
    }
}
