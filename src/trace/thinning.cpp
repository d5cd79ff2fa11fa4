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
#include "trace/thinning_wavefront.h"
#include "trace/thinning_words.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace {

// --- neighbourhood tables ---

constexpr int kMaskCount = 256;

// Zhang-Suen reads the neighbours in this cyclic order.
constexpr BYTE kCyclicOrder[8] = {DIR_N, DIR_NE, DIR_E, DIR_SE, DIR_S, DIR_SW, DIR_W, DIR_NW};

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
    3,   6,   7,   9,   10,  11,  14,  15,  18,  19,  20,  22,  23,  26,  27,  30,  31,  40,  41,  42,  43,  46,
    47,  58,  59,  62,  63,  72,  73,  74,  75,  78,  79,  80,  82,  83,  84,  86,  87,  88,  89,  92,  93,  104,
    105, 106, 107, 110, 111, 112, 114, 115, 116, 118, 119, 120, 121, 124, 125, 144, 146, 147, 148, 150, 151, 154,
    155, 158, 159, 186, 187, 190, 191, 192, 200, 201, 202, 203, 206, 207, 208, 210, 211, 212, 214, 215, 216, 217,
    220, 221, 224, 232, 233, 234, 235, 238, 239, 240, 242, 243, 244, 246, 247, 248, 249, 252, 253};
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

// Pixels the second step might delete: every mask it deletes has two set
// neighbours side by side on the ring, or two 4-neighbours at a right angle,
// which pixels on lines one pixel wide lack. Deletions never add such a
// pair, so the answer holds while a word is cleaned.
constexpr PackedWord MayBeCleaned(const CWordTrio& up, const CWordTrio& mid, const CWordTrio& down)
{
    const PackedWord n = up.centre, ne = up.right, e = mid.right, se = down.right;
    const PackedWord s = down.centre, sw = down.left, w = mid.left, nw = up.left;
    const PackedWord sideBySide = (ne & (n | e)) | (se & (e | s)) | (sw & (s | w)) | (nw & (w | n));
    return sideBySide | ((n | s) & (e | w));
}

constexpr bool SecondStepDeletesOnlyWhatMayBeCleaned()
{
    for (int mask = 0; mask < kMaskCount; ++mask) {
        auto bit = [&](int code) { return (mask & code) ? PackedWord{1} : PackedWord{0}; };
        const CWordTrio up{bit(DIR_NW), bit(DIR_N), bit(DIR_NE)};
        const CWordTrio mid{bit(DIR_W), 1, bit(DIR_E)};
        const CWordTrio down{bit(DIR_SW), bit(DIR_S), bit(DIR_SE)};
        if (!kSecondStepKeeps[mask] && !(MayBeCleaned(up, mid, down) & 1))
            return false;
    }
    return true;
}
static_assert(SecondStepDeletesOnlyWhatMayBeCleaned());

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

DWORD ClampToDword(std::uint64_t n)
{
    return static_cast<DWORD>(std::min<std::uint64_t>(n, std::numeric_limits<DWORD>::max()));
}

// --- first step: Zhang-Suen ---

// The first passes, which test most of the page, run one sub-iteration at a
// time over bands of rows (CZhangSuen); the later ones in batches that sweep
// the page together (CWavefront).

// Bands of this many rows, taken by the threads one after another.
constexpr int kBandRows = 64;
// Passes run by bands of rows before the wavefront, with several threads:
// the first passes test most of the page, which bands split evenly.
constexpr int kBandedPasses = 2;

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
        const int height = m_rows.Height();
        const bool innerRows = two && y > 0 && y + 2 < height;
        const BYTE* const rows[4] = {innerRows ? m_rows.RowBytes(y - 1) : nullptr, m_rows.RowBytes(y),
                                     innerRows ? m_rows.RowBytes(y + 1) : nullptr,
                                     innerRows ? m_rows.RowBytes(y + 2) : nullptr};
        CRowPairDeletions pair{band.upper.get(), band.lower.get()};
        for (int s = 0; s < last.Stride(); ++s)
            for (std::uint64_t marks = marked[0][s] | marked[1][s] | marked[2][s] | marked[3][s]; marks;
                 marks &= marks - 1)
                TestMarkedWord(m_rows, rows, innerRows, two, y, s * 64 + std::countr_zero(marks), which, pair);
        MarkFound(band, y, pair.upper, pair.upperCount, found);
        MarkFound(band, y + 1, pair.lower, pair.lowerCount, found);
        upperCount = pair.upperCount;
        lowerCount = pair.lowerCount;
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
        const PackedWord possible = interior & MayBeCleaned(up, mid, down);
        int deleted = 0;
        // Left to right: each test sees the deletions before it.
        for (PackedWord rest = possible & ~EnclosedPixels(up, mid, down); rest;) {
            int b = kWordPixels - 1 - std::countl_zero(rest);
            PackedWord pixel = PackedWord{1} << b;
            rest &= ~pixel;
            if (kSecondStepKeeps[MaskAt(up, mid, down, b)])
                continue;
            centre &= ~pixel;
            mid = MakeTrio(centre, leftPixel, rightPixel);
            ++deleted;
            // The right neighbour is no longer enclosed.
            rest |= (pixel >> 1) & possible;
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
