// Filling holes of a 1-bit image: n dilations, then n erosions, each pixel
// against its four neighbours, 64 pixels at a time.
//
// The picture is held in two word planes, A and B, of the same layout: each
// row is a zero guard word, the row's pixels (pixel 0 in bit 63 of its first
// word, zero past the width) and another guard word, so the left and right
// neighbours of any word are loads away. Passes alternate from A into B and
// back. Only interior pixels (rows 1..height-2, columns 1..width-2) are
// written, so both planes keep the original border throughout.
#include "raster/pixel_ops.h"

#include "model/text_table.h"
#include "raster/packed_bits.h"
#include "raster/pixel_ops_support.h"

#include <algorithm>
#include <cstdint>

namespace {

class CWordPlane {
public:
    [[nodiscard]] bool Init(int width, int height)
    {
        m_words = (width + kWordPixels - 1) / kWordPixels;
        m_stride = static_cast<size_t>(m_words) + 2;
        m_data = TryAllocate<PackedWord>(m_stride * static_cast<size_t>(height));
        if (!m_data)
            return false;
        std::fill(m_data.get(), m_data.get() + m_stride * static_cast<size_t>(height), PackedWord{0});
        return true;
    }
    // The first pixel word of row y; words -1 and Words() are guards.
    PackedWord* Row(int y) { return m_data.get() + m_stride * static_cast<size_t>(y) + 1; }
    int Words() const { return m_words; }

private:
    std::unique_ptr<PackedWord[]> m_data;
    size_t m_stride = 0;
    int m_words = 0;
};

void LoadRow(const BYTE* row, int width, PackedWord* words)
{
    for (int k = 0, x = 0; x < width; ++k, x += kWordPixels)
        words[k] = ReadPixels(row, x, std::min(kWordPixels, width - x));
}

void StoreRow(const PackedWord* words, int width, BYTE* row)
{
    int k = 0;
    for (; (k + 1) * kWordPixels <= width; ++k)
        StoreWord(row + k * 8, words[k]);
    if (k * kWordPixels < width)
        StorePartialWord(row + k * 8, words[k], PackedRowBytes(width - k * kWordPixels));
}

enum class Morphology { kDilate, kErode };

// One pass over the interior rows; mask[k] selects the interior columns.
template <Morphology kind>
void Pass(CWordPlane& from, CWordPlane& to, const PackedWord* mask, int y)
{
    const PackedWord* up = from.Row(y - 1);
    const PackedWord* centre = from.Row(y);
    const PackedWord* down = from.Row(y + 1);
    PackedWord* out = to.Row(y);
    for (int k = 0; k < from.Words(); ++k) {
        PackedWord c = centre[k];
        PackedWord left = (c >> 1) | (centre[k - 1] << (kWordPixels - 1));
        PackedWord right = (c << 1) | (centre[k + 1] >> (kWordPixels - 1));
        PackedWord v =
            kind == Morphology::kDilate ? (c | left | right | up[k] | down[k]) : (c & left & right & up[k] & down[k]);
        out[k] = (v & mask[k]) | (out[k] & ~mask[k]);
    }
}

}  // namespace

bool SmoothFilter(CRasterSrc& image, int passes, RasterProgress progress)
{
    if (image.IsEmpty() || image.GetBitCount() != 1 || passes < 0)
        return false;
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    ReportProgress(progress, GetLanString("RasterInitSmoothFilter", "Inittialize smooth filter..."), 0);
    // Without interior pixels there is nothing to change.
    if (passes == 0 || width < 3 || height < 3) {
        ReportProgress(progress, GetLanString("RasterSmoothFilterFinish", "Smooth filter finish"), kFullPercent);
        return true;
    }

    CWordPlane a, b;
    auto mask = TryAllocate<PackedWord>(static_cast<size_t>((width + kWordPixels - 1) / kWordPixels));
    if (!mask || !a.Init(width, height) || !b.Init(width, height)) {
        ShowNoMemoryMessage();
        return false;
    }
    for (int k = 0; k < a.Words(); ++k) {
        // Columns 1 .. width-2 of this word.
        int x0 = k * kWordPixels;
        PackedWord inside = LeadingWordMask(width - 1 - x0);
        if (k == 0)
            inside &= ~PackedWord{0} >> 1;
        mask[static_cast<size_t>(k)] = inside;
    }
    for (int y = 0; y < height; ++y) {
        LoadRow(image.GetRow(y), width, a.Row(y));
        std::copy(a.Row(y), a.Row(y) + a.Words(), b.Row(y));
    }

    ReportProgress(progress, GetLanString("RasterSmoothFilterStart", "Start smooth filter"), 0);
    const std::string text = GetLanString("RasterSmoothFilter", "Smooth filter");
    const std::int64_t rowsPerPass = height - 2;
    const std::int64_t totalRows = rowsPerPass * 2 * passes;
    int lastPercent = -1;
    CWordPlane* from = &a;
    CWordPlane* to = &b;
    for (int pass = 0; pass < 2 * passes; ++pass) {
        const bool dilate = pass < passes;
        for (int y = 1; y < height - 1; ++y) {
            if (dilate)
                Pass<Morphology::kDilate>(*from, *to, mask.get(), y);
            else
                Pass<Morphology::kErode>(*from, *to, mask.get(), y);
            int percent = ProgressPercent(pass * rowsPerPass + y, totalRows);
            if (percent != lastPercent) {
                ReportProgress(progress, text, percent);
                lastPercent = percent;
            }
        }
        std::swap(from, to);
    }
    for (int y = 1; y < height - 1; ++y)
        StoreRow(from->Row(y), width, image.GetRow(y));
    ReportProgress(progress, GetLanString("RasterSmoothFilterFinish", "Smooth filter finish"), kFullPercent);
    return true;
}
