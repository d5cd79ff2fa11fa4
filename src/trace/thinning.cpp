// Thinning: the Zhang-Suen passes and the second step's clean-up.
//
// Both steps look at a pixel only through the 8-bit mask of its neighbours
// (a 256-entry table decides) and at the raster 64 pixels at a time. A test
// can only change its answer when a neighbour was deleted since the pixel
// was last tested, so each step keeps, per row, the set of 64-pixel words
// next to recent deletions and tests only those: after the first full pass
// the cost follows the pixels deleted, not the area. Testing a word that did
// not need it is harmless, so the sets are kept at word granularity. Inside
// a word only pixels with a background 4-neighbour are tested: neither step
// ever deletes one enclosed by N, W, E and S.
#include "trace/thinning.h"

#include "model/text_table.h"
#include "raster/packed_bits.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"
#include "trace/common_thread.h"
#include "trace/neighbour_words.h"
#include "trace/outline.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>

namespace {

// --- neighbourhood tables ---

constexpr int kMaskCount = 256;

// Zhang-Suen reads the neighbours in this cyclic order.
constexpr BYTE kCyclicOrder[8] = {DIR_N, DIR_NE, DIR_E, DIR_SE, DIR_S, DIR_SW, DIR_W, DIR_NW};

constexpr BYTE kDeleteInA = 1;
constexpr BYTE kDeleteInB = 2;

constexpr std::array<BYTE, kMaskCount> MakeZhangSuenTable()
{
    std::array<BYTE, kMaskCount> table{};
    for (int mask = 0; mask < kMaskCount; ++mask) {
        bool on[8] = {};
        int neighbours = 0;
        for (int i = 0; i < 8; ++i) {
            on[i] = (mask & kCyclicOrder[i]) != 0;
            neighbours += on[i];
        }
        int rises = 0;
        for (int i = 0; i < 8; ++i)
            rises += !on[i] && on[(i + 1) % 8];
        if (neighbours < 2 || neighbours > 6 || rises != 1)
            continue;
        const bool n = on[0], e = on[2], s = on[4], w = on[6];
        if (!(n && e && s) && !(e && s && w))
            table[mask] |= kDeleteInA;
        if (!(n && e && w) && !(n && s && w))
            table[mask] |= kDeleteInB;
    }
    return table;
}

constexpr std::array<BYTE, kMaskCount> kZhangSuen = MakeZhangSuenTable();

// The masks whose pixel the second step deletes: staircase corners whose
// removal keeps the skeleton 8-connected.
constexpr BYTE kSecondStepDeleted[] = {
    3,   6,   7,   9,   10,  11,  14,  15,  18,  19,  20,  22,  23,  26,  27,  30,  31,  40,
    41,  42,  43,  46,  47,  58,  59,  62,  63,  72,  73,  74,  75,  78,  79,  80,  82,  83,
    84,  86,  87,  88,  89,  92,  93,  104, 105, 106, 107, 110, 111, 112, 114, 115, 116, 118,
    119, 120, 121, 124, 125, 144, 146, 147, 148, 150, 151, 154, 155, 158, 159, 186, 187, 190,
    191, 192, 200, 201, 202, 203, 206, 207, 208, 210, 211, 212, 214, 215, 216, 217, 220, 221,
    224, 232, 233, 234, 235, 238, 239, 240, 242, 243, 244, 246, 247, 248, 249, 252, 253};
static_assert(std::size(kSecondStepDeleted) == 107);

constexpr std::array<bool, kMaskCount> MakeKeepTable()
{
    std::array<bool, kMaskCount> table{};
    table.fill(true);
    for (BYTE mask : kSecondStepDeleted)
        table[mask] = false;
    return table;
}

constexpr std::array<bool, kMaskCount> kSecondStepKeeps = MakeKeepTable();

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
    // Rises in the cyclic order of kCyclicOrder, in pairs. Two rises in a
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

// The word rule gives the table's answer for every neighbourhood.
constexpr bool WordRuleMatchesTable()
{
    for (int mask = 0; mask < kMaskCount; ++mask) {
        auto bit = [&](int code) { return (mask & code) ? PackedWord{1} : PackedWord{0}; };
        const CWordTrio up{bit(DIR_NW), 0, bit(DIR_NE)};
        const CWordTrio upCentre{up.left, bit(DIR_N), up.right};
        const CWordTrio mid{bit(DIR_W), 1, bit(DIR_E)};
        const CWordTrio down{bit(DIR_SW), bit(DIR_S), bit(DIR_SE)};
        for (BYTE which : {kDeleteInA, kDeleteInB})
            if ((ZhangSuenWord(upCentre, mid, down, which) & 1) != ((kZhangSuen[mask] & which) ? 1u : 0u))
                return false;
    }
    return true;
}
static_assert(WordRuleMatchesTable());

// Both steps skip the pixels inside a region (EnclosedPixels), which is
// sound only while neither table deletes a pixel with N, W, E and S set.
constexpr bool NeverDeletesEnclosed()
{
    constexpr int fourNeighbours = DIR_N | DIR_W | DIR_E | DIR_S;
    for (int mask = 0; mask < kMaskCount; ++mask)
        if ((mask & fourNeighbours) == fourNeighbours && (kZhangSuen[mask] || !kSecondStepKeeps[mask]))
            return false;
    return true;
}
static_assert(NeverDeletesEnclosed());

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

DWORD ClampToDword(std::uint64_t n)
{
    return static_cast<DWORD>(std::min<std::uint64_t>(n, std::numeric_limits<DWORD>::max()));
}

// --- first step: Zhang-Suen ---

// The pixels of word k of row y that the sub-iteration deletes.
PackedWord TestWord(const CWordRows& rows, int y, int k, BYTE which)
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

// The first passes, which test most of the page, run one sub-iteration at a
// time over bands of rows (CZhangSuen); the later ones in batches that sweep
// the page together (CWavefront).

// Bands of this many rows, taken by the threads one after another.
constexpr int kBandRows = 64;
// Passes run by bands of rows before the wavefront, with several threads:
// the first passes test most of the page, which bands split evenly.
constexpr int kBandedPasses = 4;

// A word position with the pixels that decide its marks or its deletion.
struct CRowWord {
    int row;
    int word;
    PackedWord pixels;
};

// One band of rows of a sub-iteration. Its rows are tested and changed only
// by its own thread; what reaches a neighbour band's rows (the marks around
// its first and last rows, and those rows' deletions, which the neighbours
// read) waits in fixed arrays until every band is done.
struct alignas(64) CThinBand {  // one cache line apart: bands run at once
    int y0 = 0;
    int y1 = 0;
    std::unique_ptr<CWordDeletion[]> pending;  // the row above, still read by the row below it
    std::unique_ptr<CWordDeletion[]> upper;    // the two rows tested together
    std::unique_ptr<CWordDeletion[]> lower;
    std::unique_ptr<CRowWord[]> edge;  // deletions of rows y0 and y1 - 1
    std::unique_ptr<CRowWord[]> halo;  // marks for rows y0 - 1 and y1
    int edgeCount = 0;
    int haloCount = 0;
    std::uint64_t deleted = 0;

    [[nodiscard]] bool Allocate(std::size_t words)
    {
        pending.reset(new (std::nothrow) CWordDeletion[words]);
        upper.reset(new (std::nothrow) CWordDeletion[words]);
        lower.reset(new (std::nothrow) CWordDeletion[words]);
        edge.reset(new (std::nothrow) CRowWord[2 * words]);
        halo.reset(new (std::nothrow) CRowWord[2 * words]);
        return pending && upper && lower && edge && halo;
    }
};

class CZhangSuen {
public:
    explicit CZhangSuen(CRasterSrc& raster) : m_rows(raster) {}

    [[nodiscard]] bool Allocate()
    {
        for (CWordSet& set : m_sets)
            if (!set.Allocate(m_rows.Height(), m_rows.Words()))
                return false;
        const std::size_t words = static_cast<std::size_t>(std::max(m_rows.Words(), 1));
        m_bandCount = GetRowBandThreads() > 1 ? std::max(1, m_rows.Height() / kBandRows) : 1;
        m_bands.reset(new (std::nothrow) CThinBand[static_cast<std::size_t>(m_bandCount)]);
        if (!m_bands)
            return false;
        for (int b = 0; b < m_bandCount; ++b) {
            RowBandOf(m_rows.Height(), m_bandCount, b, m_bands[b].y0, m_bands[b].y1);
            if (!m_bands[b].Allocate(words))
                return false;
        }
        // Nothing has been tested yet: the first two sub-iterations see all.
        m_sets[m_last].Fill();
        m_sets[m_beforeLast].Fill();
        return true;
    }

    // One pass, both sub-iterations; the count deleted.
    std::uint64_t RunPass() { return SubIteration(kDeleteInA) + SubIteration(kDeleteInB); }

    // The words next to the deletions of the last sub-iteration, and of the
    // one before.
    const CWordSet& LastMarks() const { return m_sets[m_last]; }
    const CWordSet& BeforeLastMarks() const { return m_sets[m_beforeLast]; }

private:
    // A pixel can change its answer only when a neighbour was deleted since
    // it was last tested, two sub-iterations ago: test the words next to the
    // deletions of the last two sub-iterations. Every test reads the raster
    // as the sub-iteration found it, so the bands may run in any order and
    // the result does not depend on their number.
    std::uint64_t SubIteration(BYTE which)
    {
        CWordSet& found = m_sets[m_free];
        found.Clear();
        RunBands(m_bandCount, [&](int b) { TestBand(m_bands[b], which, found); });
        std::uint64_t deleted = 0;
        for (int b = 0; b < m_bandCount; ++b) {
            const CThinBand& band = m_bands[b];
            for (int i = 0; i < band.edgeCount; ++i) {
                const CRowWord& d = band.edge[i];
                m_rows.Store(d.row, d.word, m_rows.Load(d.row, d.word) & ~d.pixels);
            }
            for (int i = 0; i < band.haloCount; ++i)
                found.MarkAround(band.halo[i].row, band.halo[i].word, band.halo[i].pixels);
            deleted += band.deleted;
        }
        int oldest = m_beforeLast;
        m_beforeLast = m_last;
        m_last = m_free;
        m_free = oldest;
        return deleted;
    }

    // Deletions take effect one row late, after the next row has read the
    // row as the sub-iteration found it; the band's first and last rows wait
    // for the other bands. Rows are tested two at a time.
    void TestBand(CThinBand& band, BYTE which, CWordSet& found)
    {
        band.edgeCount = 0;
        band.haloCount = 0;
        band.deleted = 0;
        int pendingCount = 0;
        auto toEdge = [&](int y, const CWordDeletion* deletions, int count) {
            for (int i = 0; i < count; ++i)
                band.edge[band.edgeCount++] = {y, deletions[i].word, deletions[i].pixels};
        };
        for (int y = band.y0; y < band.y1; y += 2) {
            const bool two = y + 1 < band.y1;
            int upper = 0;
            int lower = 0;
            TestRows(band, y, two, which, found, upper, lower);
            if (y - 1 > band.y0)
                Apply(y - 1, band.pending.get(), pendingCount);
            if (y == band.y0 || !two)
                toEdge(y, band.upper.get(), upper);
            else
                Apply(y, band.upper.get(), upper);
            if (two && y + 1 == band.y1 - 1)
                toEdge(y + 1, band.lower.get(), lower);
            std::swap(band.pending, band.lower);
            pendingCount = lower;
        }
    }

    // Rows y and (when two) y + 1 test the words marked in either.
    void TestRows(CThinBand& band, int y, bool two, BYTE which, CWordSet& found, int& upperCount, int& lowerCount) const
    {
        const CWordSet& last = m_sets[m_last];
        const CWordSet& beforeLast = m_sets[m_beforeLast];
        const std::uint64_t* marked[4] = {last.Row(y), beforeLast.Row(y), last.Row(two ? y + 1 : y),
                                          beforeLast.Row(two ? y + 1 : y)};
        const int words = m_rows.Words();
        const int height = m_rows.Height();
        const bool innerRows = two && y > 0 && y + 2 < height;
        const BYTE* const rows[4] = {innerRows ? m_rows.RowBytes(y - 1) : nullptr, m_rows.RowBytes(y),
                                     innerRows ? m_rows.RowBytes(y + 1) : nullptr,
                                     innerRows ? m_rows.RowBytes(y + 2) : nullptr};
        CWordDeletion* const upper = band.upper.get();
        CWordDeletion* const lower = band.lower.get();
        int nu = 0;
        int nl = 0;
        for (int s = 0; s < last.Stride(); ++s) {
            for (std::uint64_t marks = marked[0][s] | marked[1][s] | marked[2][s] | marked[3][s]; marks;
                 marks &= marks - 1) {
                const int k = s * 64 + std::countr_zero(marks);
                if (innerRows && k > 0 && k + 1 < words) {
                    if ((RawWord(rows[1], k) | RawWord(rows[2], k)) == 0)
                        continue;
                    const PackedPair pixels = TestInnerRows(rows, k, which);
                    upper[nu] = {k, pixels[0]};
                    nu += pixels[0] != 0;
                    lower[nl] = {k, pixels[1]};
                    nl += pixels[1] != 0;
                    continue;
                }
                const PackedWord pixels = TestWord(m_rows, y, k, which);
                upper[nu] = {k, pixels};
                nu += pixels != 0;
                if (two) {
                    const PackedWord below = TestWord(m_rows, y + 1, k, which);
                    lower[nl] = {k, below};
                    nl += below != 0;
                }
            }
        }
        MarkFound(band, y, upper, nu, found);
        MarkFound(band, y + 1, lower, nl, found);
        upperCount = nu;
        lowerCount = nl;
    }

    // Marks the neighbourhoods of row y's deletions: in the band's rows
    // directly, the rows of the bands either side later.
    void MarkFound(CThinBand& band, int y, const CWordDeletion* deletions, int count, CWordSet& found) const
    {
        for (int i = 0; i < count; ++i) {
            const int k = deletions[i].word;
            const PackedWord pixels = deletions[i].pixels;
            for (int r = y - 1; r <= y + 1; ++r) {
                if (r >= band.y0 && r < band.y1)
                    found.MarkAround(r, k, pixels);
                else if (r >= 0 && r < m_rows.Height())
                    band.halo[band.haloCount++] = {r, k, pixels};
            }
            band.deleted += static_cast<std::uint64_t>(CountWordPixels(pixels));
        }
    }

    // Changes rows of the calling band only.
    void Apply(int y, const CWordDeletion* deletions, int count)
    {
        for (int i = 0; i < count; ++i)
            m_rows.Store(y, deletions[i].word, m_rows.Load(y, deletions[i].word) & ~deletions[i].pixels);
    }

    CWordRows m_rows;
    // The words next to the deletions of the last and the one before last
    // sub-iteration, and the set being filled.
    CWordSet m_sets[3];
    int m_last = 0;
    int m_beforeLast = 1;
    int m_free = 2;
    std::unique_ptr<CThinBand[]> m_bands;
    int m_bandCount = 0;
};

// --- first step, later passes: a wavefront of sub-iterations ---
//
// The later passes only peel the page's filled areas, a few words in many
// rows; a sub-iteration sweeping the whole page would find each of them
// evicted from the cache since the last sweep. So a batch of sub-iterations
// ("stages") sweeps the page together, each kStageLag rows behind the one
// before, and the rows between the first stage and the last stay in the
// cache for all of them. Stage s tests row y once stage s - 1 has tested
// row y + 2, which left rows up to y + 1 as stage s has to see them; stage s
// itself changes row y - 1, which stage s - 1 no longer reads.
//
// Each stage marks the words it deleted in (and the words beside them that
// the deletions touch) in its row; the next two stages test the words marked
// in a row and the rows either side, and the second of them clears the
// marks once past. The stages
// of a batch are split into groups run in step by one thread each: inside a
// group the marks live in a ring of a few rows; the last two stages of a
// group mark page-sized sets, which the next group (or the next batch)
// reads. A group follows the group before it through that group's row
// counter and never waits for a later one, so the groups also finish when
// the pool runs them one after another.

constexpr int kStageLag = 2;
// The stages take turns on blocks of this many rows, so that a word one
// stage has read is still in the first-level cache when the next reads it.
constexpr int kBlockRows = 16;
// A stage steps two rows at a time, from an even row.
static_assert(kBlockRows % 2 == 0 && kStageLag % 2 == 0);
// Rows of a stage's ring: from the row above the one the stage two behind
// tests to the last one the stage itself has marked.
constexpr int kRingRows = 32;
static_assert(kRingRows >= kBlockRows + 2 * kStageLag + 1 && (kRingRows & (kRingRows - 1)) == 0);
// The row counter a group waits for: the group before has tested
// kGroupLead - 1 rows past the one to test.
constexpr int kGroupLead = kStageLag + 1;
// A group that has to wait lets the one before it get this many rows
// further ahead, so the threads do not wake each other on every row.
constexpr int kWaitSlack = 32;
// Stages per group: more keep the rows in the cache for more sub-iterations,
// but a batch reports its passes only at its end.
constexpr int kGroupStages = 32;
static_assert(kGroupStages % 2 == 0 && kGroupStages >= 2);
// Rows ahead of the first stage whose words are fetched early.
constexpr int kPrefetchRows = 8;
// Each group adds two page-sized sets; beyond this the threads buy little.
constexpr int kMaxGroups = 8;

// Word marks of whole rows with a flag per row: a page of rows or a ring.
class CRowMarks {
public:
    [[nodiscard]] bool Allocate(int height, int words, bool ring)
    {
        m_height = height;
        m_words = words;
        m_stride = (words + 63) / 64;
        m_rowMask = ring ? kRingRows - 1 : -1;
        const std::size_t rows = static_cast<std::size_t>(ring ? kRingRows : std::max(height, 1));
        m_bits.reset(new (std::nothrow) std::uint64_t[rows * static_cast<std::size_t>(m_stride)]());
        m_any.reset(new (std::nothrow) bool[rows]());
        return m_bits && m_any;
    }

    void Swap(CRowMarks& other)
    {
        std::swap(m_bits, other.m_bits);
        std::swap(m_any, other.m_any);
    }

    bool Any(int y) const { return m_any[Index(y)]; }

    // Whether rows y0 to y1 (those inside the raster) have marks.
    bool AnyIn(int y0, int y1) const
    {
        bool any = false;
        for (int y = std::max(y0, 0); y <= std::min(y1, m_height - 1); ++y)
            any = any || m_any[Index(y)];
        return any;
    }
    const std::uint64_t* Row(int y) const { return m_bits.get() + Index(y) * static_cast<std::size_t>(m_stride); }

    void ClearRow(int y)
    {
        std::fill_n(RowToChange(y), m_stride, 0);
        m_any[Index(y)] = false;
    }

    // Word k of row y and the words either side that the deleted pixels
    // touch.
    void MarkRow(int y, int k, PackedWord deleted)
    {
        const std::size_t index = Index(y);
        std::uint64_t* row = m_bits.get() + index * static_cast<std::size_t>(m_stride);
        m_any[index] = true;
        row[k >> 6] |= std::uint64_t{1} << (k & 63);
        if ((deleted & kFirstPixel) && k > 0)
            row[(k - 1) >> 6] |= std::uint64_t{1} << ((k - 1) & 63);
        if ((deleted & kLastPixel) && k + 1 < m_words)
            row[(k + 1) >> 6] |= std::uint64_t{1} << ((k + 1) & 63);
    }

    void FillRow(int y)
    {
        std::uint64_t* row = RowToChange(y);
        for (int s = 0; s < m_stride; ++s) {
            const int inWord = std::min(64, m_words - s * 64);
            row[s] = inWord >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << inWord) - 1;
        }
        m_any[Index(y)] = m_words > 0;
    }

    void CopyRow(int y, const std::uint64_t* marks)
    {
        std::copy_n(marks, m_stride, RowToChange(y));
        m_any[Index(y)] = std::any_of(marks, marks + m_stride, [](std::uint64_t m) { return m != 0; });
    }

private:
    std::size_t Index(int y) const { return static_cast<std::size_t>(y & m_rowMask); }
    std::uint64_t* RowToChange(int y) { return m_bits.get() + Index(y) * static_cast<std::size_t>(m_stride); }

    std::unique_ptr<std::uint64_t[]> m_bits;
    std::unique_ptr<bool[]> m_any;
    int m_height = 0;
    int m_words = 0;
    int m_stride = 0;
    int m_rowMask = 0;
};

// One sub-iteration of a batch.
struct CStage {
    BYTE which = kDeleteInA;
    CRowMarks ring;
    CRowMarks* marks = nullptr;     // where its deletions mark: the ring or a page set
    CRowMarks* previous = nullptr;  // the marks of the stage before it
    CRowMarks* older = nullptr;     // and of the one before that, cleared as read
    std::unique_ptr<CWordDeletion[]> deletions;  // three rows' worth:
    CWordDeletion* pending = nullptr;            // the row above, still read by the row below it
    CWordDeletion* upper = nullptr;              // the two rows tested together
    CWordDeletion* lower = nullptr;
    int pendingCount = 0;
    std::uint64_t deleted = 0;
};

struct alignas(64) CStageGroup {  // one cache line apart: groups run at once
    int first = 0;                 // its stages
    int end = 0;
    std::atomic<int> rowsDone{0};  // rows its last stage has tested and changed
};

class CWavefront {
public:
    explicit CWavefront(CRasterSrc& raster) : m_rows(raster) {}

    [[nodiscard]] bool Allocate(int groups)
    {
        m_groupCount = std::clamp(groups, 1, kMaxGroups);
        m_stageCount = m_groupCount * kGroupStages;
        const int words = m_rows.Words();
        const std::size_t wordCount = static_cast<std::size_t>(std::max(words, 1));
        m_stages.reset(new (std::nothrow) CStage[static_cast<std::size_t>(m_stageCount)]);
        m_groups.reset(new (std::nothrow) CStageGroup[static_cast<std::size_t>(m_groupCount)]);
        // The marks of the two stages before group g's first, for g == 0
        // from the last batch; at m_groupCount those for the next batch.
        m_handover.reset(new (std::nothrow) CRowMarks[2 * static_cast<std::size_t>(m_groupCount + 1)]);
        m_passes.reset(new (std::nothrow) std::uint64_t[static_cast<std::size_t>(m_stageCount / 2)]);
        m_zeros.reset(new (std::nothrow) std::uint64_t[(wordCount + 63) / 64]());
        if (!m_stages || !m_groups || !m_handover || !m_passes || !m_zeros)
            return false;
        for (int i = 0; i < 2 * (m_groupCount + 1); ++i)
            if (!m_handover[i].Allocate(m_rows.Height(), words, false))
                return false;
        for (int s = 0; s < m_stageCount; ++s) {
            CStage& stage = m_stages[s];
            stage.deletions.reset(new (std::nothrow) CWordDeletion[3 * wordCount]);
            if (!stage.deletions || !stage.ring.Allocate(m_rows.Height(), words, true))
                return false;
            stage.pending = stage.deletions.get();
            stage.upper = stage.pending + wordCount;
            stage.lower = stage.upper + wordCount;
        }
        for (int g = 0; g < m_groupCount; ++g) {
            m_groups[g].first = g * kGroupStages;
            m_groups[g].end = (g + 1) * kGroupStages;
        }
        for (int s = 0; s < m_stageCount; ++s)
            Connect(s);
        return true;
    }

    // The marks of the last two sub-iterations, or every word when nothing
    // has been tested yet.
    void Start(const CWordSet* last, const CWordSet* beforeLast)
    {
        for (int y = 0; y < m_rows.Height(); ++y) {
            if (last) {
                m_handover[0].CopyRow(y, beforeLast->Row(y));
                m_handover[1].CopyRow(y, last->Row(y));
            } else {
                m_handover[1].FillRow(y);
            }
        }
    }

    // Runs a batch of passes; the count each deleted, in order.
    std::span<const std::uint64_t> RunBatch()
    {
        for (int s = 0; s < m_stageCount; ++s)
            m_stages[s].deleted = 0;
        for (int g = 0; g < m_groupCount; ++g)
            m_groups[g].rowsDone.store(0, std::memory_order_relaxed);
        RunBands(m_groupCount, [&](int g) { RunGroup(g); });
        for (int p = 0; p < m_stageCount / 2; ++p)
            m_passes[p] = m_stages[2 * p].deleted + m_stages[2 * p + 1].deleted;
        m_handover[0].Swap(m_handover[2 * m_groupCount]);
        m_handover[1].Swap(m_handover[2 * m_groupCount + 1]);
        return {m_passes.get(), static_cast<std::size_t>(m_stageCount / 2)};
    }

private:
    // The marks stage s writes: page sets for the group's last two stages,
    // which the next group reads.
    CRowMarks* MarksOf(int s)
    {
        const int g = s / kGroupStages;
        const int fromEnd = m_groups[g].end - s;
        return fromEnd <= 2 ? &m_handover[2 * (g + 1) + 2 - fromEnd] : &m_stages[s].ring;
    }

    void Connect(int s)
    {
        CStage& stage = m_stages[s];
        stage.which = s % 2 == 0 ? kDeleteInA : kDeleteInB;
        stage.marks = MarksOf(s);
        const int g = s / kGroupStages;
        const int first = m_groups[g].first;
        // Before its group's first stage come the page sets of the group
        // before (or the last batch).
        stage.previous = s - 1 >= first ? MarksOf(s - 1) : &m_handover[2 * g + 1];
        stage.older = s - 2 >= first ? MarksOf(s - 2) : &m_handover[2 * g + (s - first)];
    }

    // The group's stages in step, stage i of the group kStageLag * i rows
    // behind its first; row Height() only applies the last row's deletions.
    void RunGroup(int g)
    {
        CStageGroup& group = m_groups[g];
        const int height = m_rows.Height();
        const int stages = group.end - group.first;
        int ready = 0;  // rows the group before has finished, as last seen
        for (int t = 0; t - kStageLag * (stages - 1) <= height; t += kBlockRows) {
            const int needed = std::min(t + kBlockRows - 1 + kGroupLead, height + 1);
            if (g > 0 && ready < needed)
                ready = WaitForRows(m_groups[g - 1].rowsDone, needed);
            for (int i = 0; i < stages; ++i) {
                CStage& stage = m_stages[group.first + i];
                const int first = std::max(t - kStageLag * i, 0);
                const int end = std::min(t - kStageLag * i + kBlockRows, height + 1);
                // Most stages have nothing to do in most blocks.
                if (first >= end || (stage.pendingCount == 0 && !stage.previous->AnyIn(first - 1, end + 1) &&
                                     !stage.older->AnyIn(first - 1, end + 1)))
                    continue;
                for (int y = first; y < end; y += 2) {
                    if (g == 0 && i == 0) {
                        Prefetch(y + kPrefetchRows);
                        Prefetch(y + kPrefetchRows + 1);
                    }
                    Step(stage, y);
                }
            }
            const int lastRow = t + kBlockRows - 1 - kStageLag * (stages - 1);
            if (lastRow >= 0) {
                group.rowsDone.store(std::min(lastRow + 1, height + 1), std::memory_order_release);
                group.rowsDone.notify_all();
            }
        }
    }

    // Asks for the words the batch's first stage will test in row y, which
    // no stage has read since the last batch: the few words in a row that
    // are tested are too far apart for the hardware to guess them.
    void Prefetch(int y) const
    {
        const CRowMarks& previous = m_handover[1];
        const CRowMarks& older = m_handover[0];
        if (y + 1 >= m_rows.Height() || (!previous.Any(y) && !older.Any(y)))
            return;
        const std::uint64_t* a = previous.Row(y);
        const std::uint64_t* b = older.Row(y);
        const int stride = (m_rows.Words() + 63) / 64;
        for (int s = 0; s < stride; ++s)
            for (std::uint64_t marks = a[s] | b[s]; marks; marks &= marks - 1) {
                const std::size_t offset = static_cast<std::size_t>(s * 64 + std::countr_zero(marks)) * sizeof(PackedWord);
                for (int r = y - 1; r <= y + 1; ++r)
                    __builtin_prefetch(m_rows.RowBytes(std::max(r, 0)) + offset);
            }
    }

    // Waits until the group before has finished the rows needed (or a few
    // more); the rows it has finished.
    int WaitForRows(const std::atomic<int>& rowsDone, int needed) const
    {
        const int last = m_rows.Height() + 1;
        int seen = rowsDone.load(std::memory_order_acquire);
        if (seen >= std::min(needed, last))
            return seen;
        const int target = std::min(needed + kWaitSlack, last);
        while (seen < target) {
            rowsDone.wait(seen, std::memory_order_acquire);
            seen = rowsDone.load(std::memory_order_acquire);
        }
        return seen;
    }

    // Tests rows y and y + 1 (those inside the raster), then deletes in
    // rows y - 1 and y; row y + 1 waits until the row below it is tested.
    void Step(CStage& stage, int y)
    {
        const int height = m_rows.Height();
        int upper = 0;
        int lower = 0;
        if (y < height)
            TestRows(stage, y, upper, lower);
        // The older marks of rows y - 1 and y have been read for the last time.
        for (int r = std::max(y - 1, 0); r <= std::min(y, height - 1); ++r)
            if (stage.older->Any(r))
                stage.older->ClearRow(r);
        Delete(y - 1, stage.pending, stage.pendingCount);
        Delete(y, stage.upper, upper);
        std::swap(stage.pending, stage.lower);
        stage.pendingCount = lower;
    }

    void Delete(int y, const CWordDeletion* deletions, int count)
    {
        for (int i = 0; i < count; ++i)
            m_rows.Store(y, deletions[i].word, m_rows.Load(y, deletions[i].word) & ~deletions[i].pixels);
    }

    // The words to test in rows y and y + 1: those the two stages before
    // deleted in, in the rows and the rows either side; both rows test all
    // of them, which is harmless and lets a word of the two rows be tested
    // at once.
    void TestRows(CStage& stage, int y, int& upperCount, int& lowerCount)
    {
        const int height = m_rows.Height();
        const std::uint64_t* const zeros = m_zeros.get();
        const std::uint64_t* marked[8] = {zeros, zeros, zeros, zeros, zeros, zeros, zeros, zeros};
        bool any = false;
        for (int r = std::max(y - 1, 0); r <= std::min(y + 2, height - 1); ++r) {
            const int i = 2 * (r - y + 1);
            if (stage.previous->Any(r)) {
                marked[i] = stage.previous->Row(r);
                any = true;
            }
            if (stage.older->Any(r)) {
                marked[i + 1] = stage.older->Row(r);
                any = true;
            }
        }
        if (!any)
            return;
        // Locals: the stores below could otherwise alias the stage's fields.
        CWordDeletion* const upper = stage.upper;
        CWordDeletion* const lower = stage.lower;
        const BYTE which = stage.which;
        const int words = m_rows.Words();
        const int stride = (words + 63) / 64;
        const bool second = y + 1 < height;
        // Rows with rows above and below them, and words away from the
        // rows' ends, skip the edge checks.
        const bool innerRows = y > 0 && y + 2 < height;
        const BYTE* const rows[4] = {innerRows ? m_rows.RowBytes(y - 1) : nullptr, m_rows.RowBytes(y),
                                     innerRows ? m_rows.RowBytes(y + 1) : nullptr,
                                     innerRows ? m_rows.RowBytes(y + 2) : nullptr};
        // The tests first, without a branch on their outcome (which the
        // processor cannot guess), then the words that lost pixels.
        int nu = 0;
        int nl = 0;
        for (int s = 0; s < stride; ++s) {
            std::uint64_t marks = (marked[0][s] | marked[1][s]) | (marked[2][s] | marked[3][s]) |
                                  (marked[4][s] | marked[5][s]) | (marked[6][s] | marked[7][s]);
            for (; marks; marks &= marks - 1) {
                const int k = s * 64 + std::countr_zero(marks);
                if (innerRows && k > 0 && k + 1 < words) {
                    // The first passes mark every word, most of them empty.
                    if ((RawWord(rows[1], k) | RawWord(rows[2], k)) == 0)
                        continue;
                    const PackedPair pixels = TestInnerRows(rows, k, which);
                    upper[nu] = {k, pixels[0]};
                    nu += pixels[0] != 0;
                    lower[nl] = {k, pixels[1]};
                    nl += pixels[1] != 0;
                    continue;
                }
                const PackedWord pixels = TestWord(m_rows, y, k, which);
                upper[nu] = {k, pixels};
                nu += pixels != 0;
                if (second) {
                    const PackedWord below = TestWord(m_rows, y + 1, k, which);
                    lower[nl] = {k, below};
                    nl += below != 0;
                }
            }
        }
        CRowMarks& marks = *stage.marks;
        std::uint64_t deleted = 0;
        for (int i = 0; i < nu; ++i) {
            marks.MarkRow(y, upper[i].word, upper[i].pixels);
            deleted += static_cast<std::uint64_t>(CountWordPixels(upper[i].pixels));
        }
        for (int i = 0; i < nl; ++i) {
            marks.MarkRow(y + 1, lower[i].word, lower[i].pixels);
            deleted += static_cast<std::uint64_t>(CountWordPixels(lower[i].pixels));
        }
        stage.deleted += deleted;
        upperCount = nu;
        lowerCount = nl;
    }

    CWordRows m_rows;
    std::unique_ptr<CStage[]> m_stages;
    std::unique_ptr<CStageGroup[]> m_groups;
    std::unique_ptr<CRowMarks[]> m_handover;
    std::unique_ptr<std::uint64_t[]> m_passes;
    std::unique_ptr<std::uint64_t[]> m_zeros;  // a row of no marks
    int m_stageCount = 0;
    int m_groupCount = 0;
};

// --- second step: sequential clean-up ---

class CSecondStep {
public:
    explicit CSecondStep(CRasterSrc& raster) : m_rows(raster) {}

    [[nodiscard]] bool Allocate()
    {
        if (!m_now.Allocate(m_rows.Height(), m_rows.Words()) || !m_later.Allocate(m_rows.Height(), m_rows.Words()))
            return false;
        m_now.Fill();
        return true;
    }

    // One pass over the interior in row order; the count deleted. A pixel is
    // tested when a neighbour was deleted since its test in the last pass:
    // deletions mark their neighbours still to come in this pass, and all
    // their neighbours for the next.
    std::uint64_t RunPass()
    {
        m_later.Clear();
        std::uint64_t deleted = 0;
        for (int y = 1; y < m_rows.Height() - 1; ++y)
            for (int k = m_now.Next(y, 0); k >= 0; k = m_now.Next(y, k + 1))
                deleted += CleanWord(y, k);
        std::swap(m_now, m_later);
        return deleted;
    }

private:
    // Pixels of word k with 1 <= x < width - 1.
    PackedWord InteriorMask(int k) const
    {
        PackedWord mask = LeadingWordMask(m_rows.Width() - 1 - k * kWordPixels);
        return k == 0 ? mask & ~kFirstPixel : mask;
    }

    int CleanWord(int y, int k)
    {
        PackedWord centre = m_rows.Load(y, k);
        const PackedWord interior = centre & InteriorMask(k);
        if (!interior)
            return 0;
        const PackedWord leftPixel = m_rows.LeftPixel(y, k);
        const PackedWord rightPixel = m_rows.RightPixel(y, k);
        const CWordTrio up = m_rows.LoadTrio(y - 1, k);
        const CWordTrio down = m_rows.LoadTrio(y + 1, k);
        CWordTrio mid = MakeTrio(centre, leftPixel, rightPixel);
        int deleted = 0;
        // Left to right: each test sees the deletions before it.
        for (PackedWord rest = interior & ~EnclosedPixels(up, mid, down); rest;) {
            int b = kWordPixels - 1 - std::countl_zero(rest);
            PackedWord pixel = PackedWord{1} << b;
            rest &= ~pixel;
            if (kSecondStepKeeps[MaskAt(up, mid, down, b)])
                continue;
            centre &= ~pixel;
            mid = MakeTrio(centre, leftPixel, rightPixel);
            ++deleted;
            // The right neighbour is no longer enclosed.
            rest |= (pixel >> 1) & interior;
            m_later.MarkNeighbourhood(y, k, pixel);
            if (pixel == kLastPixel && k + 1 < m_rows.Words())
                m_now.Mark(y, k + 1);
            m_now.MarkAround(y + 1, k, pixel);
        }
        if (deleted)
            m_rows.Store(y, k, centre);
        return deleted;
    }

    CWordRows m_rows;
    CWordSet m_now;    // still to test in this pass
    CWordSet m_later;  // to test in the next pass
};

bool CheckOneBit(const CRasterSrc& raster, CCommonThread* thread)
{
    if (raster.GetBitCount() == 1)
        return true;
    if (thread)
        thread->PostRunEnd(RUN_FAILED);
    return false;
}

bool IsBlank(const CRasterSrc& raster) { return raster.IsEmpty() || raster.GetWidth() <= 0 || raster.GetHeight() <= 0; }

// Stop seen: the run ends here.
bool Stopped(CCommonThread* thread)
{
    if (!thread || !thread->IsStopRequested())
        return false;
    thread->PostRunEnd(RUN_STOPPED);
    return true;
}

void NoMemory(CCommonThread* thread)
{
    if (thread)
        thread->PostRunEnd(RUN_NO_MEMORY);
}

}  // namespace

bool ZhangSuenDeletes(BYTE mask, int subIteration)
{
    return (kZhangSuen[mask] & (subIteration == 0 ? kDeleteInA : kDeleteInB)) != 0;
}

bool SecondStepKeeps(BYTE mask) { return kSecondStepKeeps[mask]; }

bool ThinFirstStep(CRasterSrc& raster, CCommonThread* thread)
{
    if (!CheckOneBit(raster, thread))
        return false;
    const std::string text = GetLanString("ProcessThinFirstStep", "Thin first step");
    if (thread)
        thread->SendProgressText(text.c_str());
    if (!IsBlank(raster)) {
        const int threads = GetRowBandThreads();
        const int bandedPasses = threads > 1 ? kBandedPasses : 0;
        CZhangSuen banded(raster);
        CWavefront wavefront(raster);
        if ((bandedPasses > 0 && !banded.Allocate()) || !wavefront.Allocate(threads)) {
            NoMemory(thread);
            return false;
        }
        // Every pass that deleted anything is reported, the first in any case.
        enum class Next { kPass, kDone, kStopped };
        bool first = true;
        auto report = [&](std::uint64_t deleted) {
            if (!first && deleted == 0)
                return Next::kDone;
            first = false;
            if (Stopped(thread))
                return Next::kStopped;
            if (thread)
                thread->SendProgressPos(ClampToDword(deleted));
            return deleted == 0 ? Next::kDone : Next::kPass;
        };
        Next next = Next::kPass;
        for (int pass = 0; pass < bandedPasses && next == Next::kPass; ++pass)
            next = report(banded.RunPass());
        if (next == Next::kPass) {
            if (bandedPasses > 0)
                wavefront.Start(&banded.LastMarks(), &banded.BeforeLastMarks());
            else
                wavefront.Start(nullptr, nullptr);
        }
        // Once a pass deletes nothing, so does every later one: the rest of
        // a batch past it changes nothing.
        while (next == Next::kPass)
            for (std::uint64_t deleted : wavefront.RunBatch())
                if (next == Next::kPass)
                    next = report(deleted);
        if (next == Next::kStopped)
            return false;
    }
    if (thread)
        thread->SendProgressEnd(text.c_str());
    return true;
}

bool ThinSecondStep(CRasterSrc& raster, CCommonThread* thread)
{
    if (!CheckOneBit(raster, thread))
        return false;
    const std::string text = GetLanString("ProcessThinSecondStep", "Thin second step");
    if (thread)
        thread->SendProgressText(text.c_str());
    if (!IsBlank(raster)) {
        CSecondStep cleaner(raster);
        if (!cleaner.Allocate()) {
            NoMemory(thread);
            return false;
        }
        for (;;) {
            std::uint64_t deleted = cleaner.RunPass();
            if (Stopped(thread))
                return false;
            if (thread)
                thread->SendProgressPos(ClampToDword(deleted));
            if (deleted == 0)
                break;
        }
    }
    if (thread)
        thread->SendProgressEnd(text.c_str());
    return true;
}
