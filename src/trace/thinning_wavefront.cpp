// The later passes of the first thinning step: a wavefront of
// sub-iterations.
//
// The later passes only peel the page's filled areas, a few words in many
// rows; a sub-iteration sweeping the whole page would find each of them
// evicted from the cache since the last sweep. So a batch of sub-iterations
// ("stages") sweeps the page together, each kStageLag rows behind the one
// before, and the rows between the first stage and the last stay in the
// cache for all of them. A stage tests two rows at a time, y and y + 1,
// once the stage before has tested rows up to y + 3 and so left rows up to
// y + 2 as this stage has to see them; it then changes rows y - 1 and y,
// which the stage before no longer reads.
//
// Each stage marks the words it deleted in (and the words beside them that
// the deletions touch) in its row; the next two stages test the words marked
// in a row and the rows either side, and the second of them clears the
// marks once past. The stages of a batch are split into groups run in step
// by one thread each: inside a group the marks live in a ring of a few rows;
// the last two stages of a group mark page-sized sets, which the next group
// (or the next batch) reads. A group follows the group before it through
// that group's row counter and never waits for a later one, so the groups
// also finish when the pool runs them one after another.
//
// A batch is whole passes. Once a pass deletes nothing so does every later
// one, so the stages past the end of the thinning change nothing.
#include "trace/thinning_wavefront.h"

#include "raster/row_bands.h"
#include "trace/thinning_words.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <utility>

namespace {

// Rows each stage runs behind the one before it.
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
    CRowMarks* marks = nullptr;                  // where its deletions mark: the ring or a page set
    CRowMarks* previous = nullptr;               // the marks of the stage before it
    CRowMarks* older = nullptr;                  // and of the one before that, cleared as read
    std::unique_ptr<CWordDeletion[]> deletions;  // three rows' worth:
    CWordDeletion* pending = nullptr;            // the row above, still read by the row below it
    CWordDeletion* upper = nullptr;              // the two rows tested together
    CWordDeletion* lower = nullptr;
    int pendingCount = 0;
    std::uint64_t deleted = 0;
};

struct alignas(64) CStageGroup {  // one cache line apart: groups run at once
    int first = 0;                // its stages
    int end = 0;
    std::atomic<int> rowsDone{0};  // rows its last stage has tested and changed
};

}  // namespace

class CWavefront::CImpl {
public:
    explicit CImpl(CRasterSrc& raster) : m_rows(raster) {}

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
                // Most stages have nothing to do in most blocks: nothing
                // waiting, no marks in the rows it reads (a row to spare).
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
                const std::size_t offset =
                    static_cast<std::size_t>(s * 64 + std::countr_zero(marks)) * sizeof(PackedWord);
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
        // A local copy of the stage's arrays: stores through the stage's
        // own fields could alias them.
        CRowPairDeletions pair{stage.upper, stage.lower};
        const BYTE which = stage.which;
        const int stride = (m_rows.Words() + 63) / 64;
        const bool second = y + 1 < height;
        // Rows with rows above and below them, and words away from the
        // rows' ends, skip the edge checks.
        const bool innerRows = y > 0 && y + 2 < height;
        const BYTE* const rows[4] = {innerRows ? m_rows.RowBytes(y - 1) : nullptr, m_rows.RowBytes(y),
                                     innerRows ? m_rows.RowBytes(y + 1) : nullptr,
                                     innerRows ? m_rows.RowBytes(y + 2) : nullptr};
        // The tests first, then the words that lost pixels.
        for (int s = 0; s < stride; ++s) {
            std::uint64_t marks = (marked[0][s] | marked[1][s]) | (marked[2][s] | marked[3][s]) |
                                  (marked[4][s] | marked[5][s]) | (marked[6][s] | marked[7][s]);
            for (; marks; marks &= marks - 1)
                TestMarkedWord(m_rows, rows, innerRows, second, y, s * 64 + std::countr_zero(marks), which, pair);
        }
        const CWordDeletion* const upper = pair.upper;
        const CWordDeletion* const lower = pair.lower;
        const int nu = pair.upperCount;
        const int nl = pair.lowerCount;
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

CWavefront::CWavefront(CRasterSrc& raster) : m_impl(new (std::nothrow) CImpl(raster)) {}

CWavefront::~CWavefront() = default;

bool CWavefront::Allocate(int groups) { return m_impl && m_impl->Allocate(groups); }

void CWavefront::Start(const CWordSet* last, const CWordSet* beforeLast) { m_impl->Start(last, beforeLast); }

std::span<const std::uint64_t> CWavefront::RunBatch() { return m_impl->RunBatch(); }
