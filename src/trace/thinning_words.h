#pragma once
// The word-level pieces both thinning kernels share: the Zhang-Suen rule on
// 64 pixels at once (and on two words at once in the vector unit), the sets
// of words still to test, and the tests of a word of the raster.
#include "platform/win_types.h"
#include "raster/packed_bits.h"
#include "trace/neighbour_words.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

// The sub-iteration a test is for, as bits of the rule table.
constexpr BYTE kDeleteInA = 1;
constexpr BYTE kDeleteInB = 2;

// The table's rule for 64 pixels at once, written out for speed (for one
// word or, in CPairTrio, two). Exactly one rise around the ring means the
// set neighbours form one run; it holds 2 to 6 of them when some two
// neighbours in a row are set and some two in a row are clear.
template <class Trio>
constexpr auto ZhangSuenWord(const Trio& up, const Trio& mid, const Trio& down, BYTE which)
{
    using Word = decltype(up.centre);
    const Word n = up.centre, ne = up.right, e = mid.right, se = down.right;
    const Word s = down.centre, sw = down.left, w = mid.left, nw = up.left;
    // Rises around the ring N, NE, E, SE, S, SW, W, NW, in pairs. Two rises in a
    // row cannot both be set, so two rises show as two pairs with one each.
    const Word r01 = (~n & ne) | (~ne & e), r23 = (~e & se) | (~se & s);
    const Word r45 = (~s & sw) | (~sw & w), r67 = (~w & nw) | (~nw & n);
    const Word r03 = r01 | r23, r47 = r45 | r67;
    const Word twoRises = (r01 & r23) | (r45 & r67) | (r03 & r47);
    const Word setPair = (ne & (n | e)) | (se & (e | s)) | (sw & (s | w)) | (nw & (w | n));
    const Word noClearPair = (ne | (n & e)) & (se | (e & s)) & (sw | (s & w)) & (nw | (w & n));
    const Word base = (r03 | r47) & ~twoRises & setPair & ~noClearPair;
    if (which == kDeleteInA)
        return Word(base & ~(e & s & (n | w)));
    return Word(base & ~(n & w & (e | s)));
}

// A set of word positions (row, word), one bit each: the words a step still
// has to test.
class CWordSet {
public:
    [[nodiscard]] bool Allocate(int height, int words)
    {
        m_height = height;
        m_words = words;
        m_stride = (words + 63) / 64;
        std::size_t size = static_cast<std::size_t>(height) * static_cast<std::size_t>(m_stride);
        m_bits.reset(new (std::nothrow) std::uint64_t[std::max<std::size_t>(size, 1)]);
        if (!m_bits)
            return false;
        Clear();
        return true;
    }

    void Clear()
    {
        std::memset(m_bits.get(), 0, sizeof(std::uint64_t) * static_cast<std::size_t>(m_height) * m_stride);
    }

    void Fill()
    {
        for (int y = 0; y < m_height; ++y)
            for (int s = 0; s < m_stride; ++s) {
                int inWord = std::min(64, m_words - s * 64);
                Row(y)[s] = inWord >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << inWord) - 1;
            }
    }

    const std::uint64_t* Row(int y) const { return m_bits.get() + static_cast<std::size_t>(y) * m_stride; }
    std::uint64_t* Row(int y) { return m_bits.get() + static_cast<std::size_t>(y) * m_stride; }
    int Stride() const { return m_stride; }

    void Mark(int y, int k) { Row(y)[k >> 6] |= std::uint64_t{1} << (k & 63); }

    // Marks word k of row y, and the words either side of it where the
    // deleted pixels touch them. Rows outside the raster are ignored.
    void MarkAround(int y, int k, PackedWord deleted)
    {
        if (y < 0 || y >= m_height)
            return;
        Mark(y, k);
        if ((deleted & kFirstPixel) && k > 0)
            Mark(y, k - 1);
        if ((deleted & kLastPixel) && k + 1 < m_words)
            Mark(y, k + 1);
    }

    void MarkNeighbourhood(int y, int k, PackedWord deleted)
    {
        for (int r = y - 1; r <= y + 1; ++r)
            MarkAround(r, k, deleted);
    }

    // The first marked word at or after k in row y, or -1.
    int Next(int y, int k) const
    {
        const std::uint64_t* row = Row(y);
        for (int s = k >> 6; s < m_stride; ++s) {
            std::uint64_t bits = row[s];
            if (s == (k >> 6))
                bits &= ~std::uint64_t{0} << (k & 63);
            if (bits)
                return s * 64 + std::countr_zero(bits);
        }
        return -1;
    }

private:
    std::unique_ptr<std::uint64_t[]> m_bits;
    int m_height = 0;
    int m_words = 0;
    int m_stride = 0;
};

// The pixels of word k of row y that the sub-iteration deletes.
inline PackedWord TestWord(const CWordRows& rows, int y, int k, BYTE which)
{
    const PackedWord foreground = rows.Load(y, k);
    if (!foreground)
        return 0;
    const CWordTrio up = rows.LoadTrio(y - 1, k);
    const CWordTrio mid = MakeTrio(foreground, rows.LeftPixel(y, k), rows.RightPixel(y, k));
    const CWordTrio down = rows.LoadTrio(y + 1, k);
    const PackedWord candidates = foreground & ~EnclosedPixels(up, mid, down);
    return candidates ? candidates & ZhangSuenWord(up, mid, down, which) : 0;
}

// Word k of a row in memory order, enough to see whether it is empty.
inline PackedWord RawWord(const BYTE* row, int k)
{
    PackedWord w;
    std::memcpy(&w, row + static_cast<std::size_t>(k) * sizeof(PackedWord), sizeof w);
    return w;
}

// Two words in one register: every x86-64 processor runs the rule's plain
// logic on both at once.
using PackedPair = PackedWord __attribute__((vector_size(16)));

struct CPairTrio {
    PackedPair left;
    PackedPair centre;
    PackedPair right;
};

// The words at p0 and p1, away from their rows' ends, with their rows'
// pixels either side.
inline CPairTrio InnerTrios(const BYTE* p0, const BYTE* p1)
{
    const PackedPair centre = {LoadWord(p0), LoadWord(p1)};
    const PackedPair leftPixel = {p0[-1] & 1u, p1[-1] & 1u};
    const PackedPair rightPixel = {static_cast<PackedWord>(p0[sizeof(PackedWord)] >> 7),
                                   static_cast<PackedWord>(p1[sizeof(PackedWord)] >> 7)};
    return {(centre >> 1) | (leftPixel << (kWordPixels - 1)), centre, (centre << 1) | rightPixel};
}

// Lane 1 of a and lane 0 of b.
inline PackedPair MiddleLanes(PackedPair a, PackedPair b) { return PackedPair{a[1], b[0]}; }

// Word k of two rows at once, given the four rows from the one above the
// first to the one below the second: lane 0 holds the first row's result,
// lane 1 the second's. Four words are read for two tests.
[[gnu::always_inline]] inline PackedPair TestInnerRows(const BYTE* const rows[4], int k, BYTE which)
{
    const std::size_t offset = static_cast<std::size_t>(k) * sizeof(PackedWord);
    const CPairTrio top = InnerTrios(rows[0] + offset, rows[1] + offset);
    const CPairTrio bottom = InnerTrios(rows[2] + offset, rows[3] + offset);
    const CPairTrio mid = {MiddleLanes(top.left, bottom.left), MiddleLanes(top.centre, bottom.centre),
                           MiddleLanes(top.right, bottom.right)};
    const PackedPair enclosed = top.centre & mid.left & mid.right & bottom.centre;
    return mid.centre & ~enclosed & ZhangSuenWord(top, mid, bottom, which);
}

// The deletions of rows y and (when second) y + 1 found in their marked words,
// appended without a branch on the outcome (which the processor cannot guess).
struct CRowPairDeletions {
    CWordDeletion* upper;
    CWordDeletion* lower;
    int upperCount = 0;
    int lowerCount = 0;
};

// Tests word k of row y and, when second, of row y + 1. With innerRows,
// rows holds rows y - 1 to y + 2 and inner words go two rows at once.
[[gnu::always_inline]] inline void TestMarkedWord(const CWordRows& wordRows, const BYTE* const rows[4], bool innerRows,
                                                  bool second, int y, int k, BYTE which, CRowPairDeletions& out)
{
    if (innerRows && k > 0 && k + 1 < wordRows.Words()) {
        // The first passes mark every word, most of them empty.
        if ((RawWord(rows[1], k) | RawWord(rows[2], k)) == 0)
            return;
        const PackedPair pixels = TestInnerRows(rows, k, which);
        out.upper[out.upperCount] = {k, pixels[0]};
        out.upperCount += pixels[0] != 0;
        out.lower[out.lowerCount] = {k, pixels[1]};
        out.lowerCount += pixels[1] != 0;
        return;
    }
    const PackedWord pixels = TestWord(wordRows, y, k, which);
    out.upper[out.upperCount] = {k, pixels};
    out.upperCount += pixels != 0;
    if (second) {
        const PackedWord below = TestWord(wordRows, y + 1, k, which);
        out.lower[out.lowerCount] = {k, below};
        out.lowerCount += below != 0;
    }
}
