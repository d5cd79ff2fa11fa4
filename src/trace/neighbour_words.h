#pragma once
// The 8-neighbourhoods of one-bit pixels, 64 pixels at a time, for the
// centre-line kernels (thinning and junction marking).
//
// Word k of a row holds pixels [64k, 64k + 64), pixel i at bit 63 - i (the
// order of raster/packed_bits.h). A neighbourhood mask uses the direction
// codes of trace/outline.h as bits: NW 1, N 2, NE 4, W 8, E 16, SW 32, S 64,
// SE 128.
#include "platform/win_types.h"
#include "raster/packed_bits.h"
#include "raster/raster_src.h"

#include <cstddef>

// A word and its row's pixels either side of it, aligned so that bit b of
// left, centre and right holds the left neighbour, the pixel itself and the
// right neighbour of the word's pixel at bit b.
struct CWordTrio {
    PackedWord left = 0;
    PackedWord centre = 0;
    PackedWord right = 0;
};

inline CWordTrio MakeTrio(PackedWord centre, PackedWord leftPixel, PackedWord rightPixel)
{
    return {(centre >> 1) | (leftPixel << (kWordPixels - 1)), centre, (centre << 1) | rightPixel};
}

inline unsigned NeighbourBit(PackedWord w, int b) { return static_cast<unsigned>((w >> b) & 1); }

// The neighbourhood mask of the pixel at bit b of the middle row's word.
inline BYTE MaskAt(const CWordTrio& up, const CWordTrio& mid, const CWordTrio& down, int b)
{
    return static_cast<BYTE>(NeighbourBit(up.left, b) | NeighbourBit(up.centre, b) << 1 |
                             NeighbourBit(up.right, b) << 2 | NeighbourBit(mid.left, b) << 3 |
                             NeighbourBit(mid.right, b) << 4 | NeighbourBit(down.left, b) << 5 |
                             NeighbourBit(down.centre, b) << 6 | NeighbourBit(down.right, b) << 7);
}

// Pixels of the middle word whose N, W, E and S neighbours are all set:
// inside a region, where thinning never deletes.
inline PackedWord EnclosedPixels(const CWordTrio& up, const CWordTrio& mid, const CWordTrio& down)
{
    return up.centre & mid.left & mid.right & down.centre;
}

constexpr PackedWord kFirstPixel = PackedWord{1} << (kWordPixels - 1);
constexpr PackedWord kLastPixel = 1;

// The rows of a one-bit raster as words. Pixels past the width read as
// background whatever the padding holds; so do rows outside the raster.
class CWordRows {
public:
    explicit CWordRows(CRasterSrc& raster)
        : m_raster(raster), m_width(raster.GetWidth()), m_height(raster.GetHeight()),
          m_words((m_width + kWordPixels - 1) / kWordPixels)
    {
        if (m_words > 0) {
            int lastStart = (m_words - 1) * kWordPixels;
            m_lastBytes = PackedRowBytes(m_width) - (lastStart >> 3);
            m_lastMask = LeadingWordMask(m_width - lastStart);
        }
    }

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int Words() const { return m_words; }
    const BYTE* RowBytes(int y) const { return m_raster.GetRow(y); }

    PackedWord Load(int y, int k) const
    {
        const BYTE* p = m_raster.GetRow(y) + static_cast<std::size_t>(k) * sizeof(PackedWord);
        return k + 1 < m_words ? LoadWord(p) : LoadPartialWord(p, m_lastBytes) & m_lastMask;
    }

    void Store(int y, int k, PackedWord w)
    {
        BYTE* p = m_raster.GetRow(y) + static_cast<std::size_t>(k) * sizeof(PackedWord);
        if (k + 1 < m_words)
            StoreWord(p, w);
        else
            StorePartialWord(p, w & m_lastMask, m_lastBytes);
    }

    PackedWord LeftPixel(int y, int k) const { return k > 0 ? Load(y, k - 1) & kLastPixel : 0; }
    PackedWord RightPixel(int y, int k) const { return k + 1 < m_words ? Load(y, k + 1) >> (kWordPixels - 1) : 0; }

    CWordTrio LoadTrio(int y, int k) const
    {
        if (y < 0 || y >= m_height)
            return {};
        return MakeTrio(Load(y, k), LeftPixel(y, k), RightPixel(y, k));
    }

private:
    CRasterSrc& m_raster;
    int m_width;
    int m_height;
    int m_words;
    int m_lastBytes = 0;
    PackedWord m_lastMask = 0;
};

// Pixels found in one word of a row, kept until the rows that read the
// row as it was have been tested.
struct CWordDeletion {
    int word;
    PackedWord pixels;
};
