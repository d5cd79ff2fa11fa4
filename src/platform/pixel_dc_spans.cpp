// Span lists of covered pixels and the painting of them with a raster
// operation: the only place that writes pixels for the figure calls.
#include "platform/pixel_dc_raster.h"

#include <algorithm>

void CSpanList::AddSpan(long long y, long long x0, long long x1)
{
    if (y < 0 || y >= m_height)
        return;
    x0 = std::max(x0, 0LL);
    x1 = std::min(x1, static_cast<long long>(m_width));
    if (x0 >= x1)
        return;
    m_spans.push_back({static_cast<int>(y), static_cast<int>(x0), static_cast<int>(x1)});
}

void CSpanList::Add(const CSpanList& other)
{
    m_spans.insert(m_spans.end(), other.m_spans.begin(), other.m_spans.end());
}

void CSpanList::Normalize()
{
    auto before = [](const PixelSpan& a, const PixelSpan& b) { return a.y != b.y ? a.y < b.y : a.x0 < b.x0; };
    if (!std::is_sorted(m_spans.begin(), m_spans.end(), before))
        std::sort(m_spans.begin(), m_spans.end(), before);
    std::size_t out = 0;
    for (std::size_t i = 0; i < m_spans.size(); ++i) {
        const PixelSpan& s = m_spans[i];
        if (out > 0 && m_spans[out - 1].y == s.y && m_spans[out - 1].x1 >= s.x0) {
            m_spans[out - 1].x1 = std::max(m_spans[out - 1].x1, s.x1);
            continue;
        }
        m_spans[out++] = s;
    }
    m_spans.resize(out);
}

void CSpanList::Subtract(const CSpanList& other)
{
    if (other.m_spans.empty() || m_spans.empty())
        return;
    std::vector<PixelSpan> result;
    result.reserve(m_spans.size());
    const std::vector<PixelSpan>& cut = other.m_spans;
    std::size_t j = 0;
    for (PixelSpan s : m_spans) {
        // Cuts are sorted by row, then start: skip those wholly before s.
        while (j < cut.size() && (cut[j].y < s.y || (cut[j].y == s.y && cut[j].x1 <= s.x0)))
            ++j;
        std::size_t k = j;
        while (k < cut.size() && cut[k].y == s.y && cut[k].x0 < s.x1) {
            if (cut[k].x0 > s.x0)
                result.push_back({s.y, s.x0, cut[k].x0});
            s.x0 = std::max(s.x0, cut[k].x1);
            if (s.x0 >= s.x1)
                break;
            ++k;
        }
        if (s.x0 < s.x1)
            result.push_back(s);
    }
    m_spans.swap(result);
}

BinaryOp::BinaryOp(unsigned table)
    : m0(table & 1 ? 0xFFFFFFu : 0), m1(table & 2 ? 0xFFFFFFu : 0), m2(table & 4 ? 0xFFFFFFu : 0),
      m3(table & 8 ? 0xFFFFFFu : 0)
{}

namespace {

// R2_x - 1 is the truth table of the operation over (pen, destination).
BinaryOp Rop2Op(int rop2)
{
    if (rop2 < R2_BLACK || rop2 > R2_WHITE)
        rop2 = R2_COPYPEN;
    return BinaryOp(static_cast<unsigned>(rop2 - 1));
}

void PaintSolid(std::uint32_t* bits, int width, const CSpanList& spans, std::uint32_t color, int rop2)
{
    if (rop2 == R2_COPYPEN) {
        for (const PixelSpan& s : spans.Spans())
            std::fill(bits + static_cast<std::size_t>(s.y) * width + s.x0,
                      bits + static_cast<std::size_t>(s.y) * width + s.x1, color);
        return;
    }
    // With a constant pen the operation reduces to (a & ~D) | (b & D).
    const BinaryOp op = Rop2Op(rop2);
    const std::uint32_t a = op(color, 0);
    const std::uint32_t b = op(color, 0xFFFFFF);
    for (const PixelSpan& s : spans.Spans()) {
        std::uint32_t* p = bits + static_cast<std::size_t>(s.y) * width;
        for (int x = s.x0; x < s.x1; ++x)
            p[x] = ((a & ~p[x]) | (b & p[x])) & 0xFFFFFF;
    }
}

void PaintPattern(std::uint32_t* bits, int width, const CSpanList& spans, const PaintSource& source, int rop2)
{
    const BinaryOp op = Rop2Op(rop2);
    const std::uint32_t fa = op(source.color, 0), fb = op(source.color, 0xFFFFFF);
    const std::uint32_t ba = op(source.background, 0), bb = op(source.background, 0xFFFFFF);
    for (const PixelSpan& s : spans.Spans()) {
        std::uint32_t* p = bits + static_cast<std::size_t>(s.y) * width;
        const unsigned row = source.pattern[s.y & 7];
        for (int x = s.x0; x < s.x1; ++x) {
            if (row & (0x80u >> (x & 7)))
                p[x] = ((fa & ~p[x]) | (fb & p[x])) & 0xFFFFFF;
            else if (source.opaque)
                p[x] = ((ba & ~p[x]) | (bb & p[x])) & 0xFFFFFF;
        }
    }
}

// Hatches repeat every 8 device pixels from the canvas origin.
constexpr std::uint8_t kHatches[6][8] = {
    {0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // HS_HORIZONTAL
    {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},  // HS_VERTICAL
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // HS_FDIAGONAL: down to the right
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // HS_BDIAGONAL: up to the right
    {0xFF, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},  // HS_CROSS
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // HS_DIAGCROSS
};

}  // namespace

const std::uint8_t* HatchPattern(int hatch)
{
    if (hatch < HS_HORIZONTAL || hatch > HS_DIAGCROSS)
        return nullptr;
    return kHatches[hatch];
}

void PaintSpans(std::uint32_t* bits, int width, const CSpanList& spans, const PaintSource& source, int rop2)
{
    if (spans.Empty() || rop2 == R2_NOP)
        return;
    if (source.pattern)
        PaintPattern(bits, width, spans, source, rop2);
    else
        PaintSolid(bits, width, spans, source.color & 0xFFFFFF, rop2);
}

std::vector<int> PenDashes(int style)
{
    switch (style) {
    case PS_DASH: return {6, 2};
    case PS_DOT: return {1, 1};
    case PS_DASHDOT: return {6, 2, 1, 2};
    case PS_DASHDOTDOT: return {6, 2, 1, 2, 1, 2};
    default: return {};
    }
}
