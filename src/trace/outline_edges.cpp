// Edge finding on packed rows, 64 pixels at a time.
#include "trace/outline_edges.h"

#include <algorithm>
#include <bit>
#include <climits>

#include "raster/packed_bits.h"
#include "raster/raster_src.h"

namespace {

// A framed row holds width + 2 pixels: pixel p is raster pixel p - 1, so the
// frame columns -1 and width are pixels 0 and width + 1 (always white). One
// word more than needed stays 0, so the east neighbours of the last word read
// white.

class CFramedRows {
public:
    explicit CFramedRows(const CRasterSrc& raster)
        : m_raster(raster), m_width(raster.GetWidth()), m_height(raster.GetHeight()),
          m_words((m_width + 2 + kWordPixels - 1) / kWordPixels)
    {
        for (auto& row : m_rows)
            row.assign(static_cast<size_t>(m_words + 1), 0);
        m_valid.assign(static_cast<size_t>(m_words), ~PackedWord{0});
        m_valid.back() = LeadingWordMask(m_width + 2 - (m_words - 1) * kWordPixels);
    }

    int Words() const { return m_words; }
    PackedWord Valid(int i) const { return m_valid[static_cast<size_t>(i)]; }

    // Rows r - 1, r and r + 1 of the framed raster for r = -1 .. height.
    // Rows outside the raster are white; a call for the row after the last
    // one loads only its lower row.
    void Rows(int r, const PackedWord*& up, const PackedWord*& here, const PackedWord*& down)
    {
        if (r == m_row + 1) {
            std::swap(m_rows[0], m_rows[1]);
            std::swap(m_rows[1], m_rows[2]);
            Load(m_rows[2], r + 1);
        } else {
            for (int i = 0; i < 3; ++i)
                Load(m_rows[i], r - 1 + i);
        }
        m_row = r;
        up = m_rows[0].data();
        here = m_rows[1].data();
        down = m_rows[2].data();
    }

private:
    // Raster row y shifted one pixel right behind the frame column.
    void Load(std::vector<PackedWord>& out, int y)
    {
        if (y < 0 || y >= m_height) {
            std::fill(out.begin(), out.end(), 0);
            return;
        }
        const BYTE* row = m_raster.GetRow(y);
        PackedWord carry = 0;
        int x = 0;
        for (int i = 0; i < m_words; ++i, x += kWordPixels) {
            PackedWord raw = 0;
            if (x + kWordPixels <= m_width)
                raw = LoadWord(row + (x >> 3));
            else if (x < m_width)
                raw = LoadPartialWord(row + (x >> 3), PackedRowBytes(m_width - x)) & LeadingWordMask(m_width - x);
            out[static_cast<size_t>(i)] = carry | (raw >> 1);
            carry = raw << (kWordPixels - 1);
        }
        out[static_cast<size_t>(m_words)] = 0;
    }

    const CRasterSrc& m_raster;
    int m_width;
    int m_height;
    int m_words;
    int m_row = INT_MIN;
    std::vector<PackedWord> m_rows[3];
    std::vector<PackedWord> m_valid;
};

}  // namespace

void FindRowEdges(const CRasterSrc& raster, int r0, int r1, CRowEdges& out)
{
    CFramedRows rows(raster);
    out.pixels.clear();
    out.rowEnd.clear();
    const int words = rows.Words();
    for (int r = r0; r < r1; ++r) {
        const PackedWord* up = nullptr;
        const PackedWord* here = nullptr;
        const PackedWord* down = nullptr;
        rows.Rows(r, up, here, down);
        for (int i = 0; i < words; ++i) {
            const PackedWord c = here[i];
            const PackedWord white = ~c & rows.Valid(i);
            const PackedWord westBlack = (c >> 1) | (i > 0 ? here[i - 1] << (kWordPixels - 1) : 0);
            const PackedWord eastBlack = (c << 1) | (here[i + 1] >> (kWordPixels - 1));
            const PackedWord n = white & up[i];
            const PackedWord w = white & westBlack;
            const PackedWord e = white & eastBlack;
            const PackedWord s = white & down[i];
            PackedWord any = n | w | e | s;
            while (any) {
                const int j = std::countl_zero(any);
                const int shift = kWordPixels - 1 - j;
                any &= ~(PackedWord{1} << shift);
                const unsigned edges = static_cast<unsigned>(((n >> shift) & 1) << 3 | ((w >> shift) & 1) << 2 |
                                                             ((e >> shift) & 1) << 1 | ((s >> shift) & 1));
                out.pixels.push_back(static_cast<EdgePixel>(i * kWordPixels + j) << kEdgeBits | edges);
            }
        }
        out.rowEnd.push_back(out.pixels.size());
    }
}
