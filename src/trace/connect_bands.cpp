// Matching the endpoint grid in bands of rows on the row-band pool, with the
// result of matching every row in order on one thread.
//
// In order, each unused end of a row starts a group that takes every unused
// end its growing window reaches. When the order reaches row r, every end
// of the earlier rows is used, so all that the rest of the run does follows
// from which ends of rows r and later are used. So each band of rows is
// matched ahead on the pool (its guess) as if no end of its rows or later
// were used. Then, band by band, the true state is carried on through the
// guess, keeping the ends whose state differs between the two: a group
// depends only on which ends were used in the tiles it looked at, so a
// guessed group that starts where the truth starts one, and looked at no
// differing end, is the truth's; any other is matched again. Once no end
// differs, the rest of the guess is the truth. Only groups that cross into
// a band from the bands before make the guess differ, and tall ones (chains
// of ends along a line) keep it differing for many rows, but only near them.
//
// A band's guess and the carrying on of earlier bands overlap: each call on
// the pool guesses some bands while the caller carries the true state
// through the bands guessed before. The groups are written into their final
// places once every row is done; until then no polyline is touched.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "model/polyline.h"
#include "raster/row_bands.h"
#include "trace/connect.h"
#include "trace/connect_matcher.h"
#include "trace/entity_batches.h"

namespace {

// Bands per thread: enough to even out bands of uneven work, few enough that
// the rows matched again at band borders stay a small share.
constexpr std::size_t kBandsPerThread = 8;
// Fewer ends than this in a band cost more in set-up than they share out.
constexpr std::size_t kMinBandEnds = 4096;
// Bands guessed per pool call and thread; the caller reports progress and
// heeds a stop between calls.
constexpr std::size_t kGuessesPerCall = 2;
// The list of differing ends is pruned when it grows past this many entries
// per end that still differs, and a few.
constexpr std::size_t kListedPerDiffering = 2;
constexpr std::size_t kFewListed = 64;
// Groups written out per task.
constexpr std::size_t kGroupsPerTask = 8192;

}  // namespace

class CConnectBands {
public:
    explicit CConnectBands(CConnectGrid& grid) : m_Grid(grid), m_True(grid, 0) {}

    [[nodiscard]] CConnectGrid::MatchResult Run(const CConnectGrid::MatchProgress& progress);

private:
    struct Band {
        std::size_t firstRow, endRow;
        std::unique_ptr<CConnectMatcher> guess;
        std::vector<std::uint32_t> rowGroups;  // the guess's groups before each row, and all
    };
    // Groups [groupBegin, groupEnd) of one matching, in the final order.
    struct Piece {
        CConnectMade* made;
        std::size_t groupBegin, groupEnd;
    };

    [[nodiscard]] std::vector<Band> SplitRows(std::size_t threads) const;
    [[nodiscard]] CConnectGrid::MatchResult InOrder(const CConnectGrid::MatchProgress& progress);
    [[nodiscard]] CConnectGrid::MatchResult InBands(std::vector<Band>& bands,
                                                    const CConnectGrid::MatchProgress& progress);
    void Guess(Band& band) const;
    void CarryOn(Band& band);
    void CarryRow(Band& band, std::size_t row);
    [[nodiscard]] bool Differs(const CConnectMatcher& guess, std::uint32_t cell) const
    {
        return m_True.IsUsed(cell) != guess.IsUsed(cell);
    }
    void NoteChange(const CConnectMatcher& guess, std::uint32_t cell, bool differed);
    [[nodiscard]] bool Unaffected(const CConnectMatcher& guess, const CConnectTiles& looked);
    void ForgetDiffering();
    void AddPiece(CConnectMade& made, std::size_t groupBegin, std::size_t groupEnd);
    void WriteGroups();
    [[nodiscard]] std::uint32_t RowBegin(std::size_t row) const;
    [[nodiscard]] std::size_t TileOfCell(std::uint32_t cell) const
    {
        return m_Grid.TileOf(m_Grid.m_Cells[cell].row, m_Grid.m_Cells[cell].column);
    }

    CConnectGrid& m_Grid;
    CConnectMatcher m_True;     // the state of the plain order, and the groups it made itself
    std::size_t m_NextRow = 0;  // rows before it are settled
    std::vector<Piece> m_Pieces;
    // Ends from the current row on whose state differs between the truth and
    // the guess carried on: counted by tile, and listed (an end may stay
    // listed after it agrees again, or twice).
    std::vector<std::uint32_t> m_DifferByTile;
    std::vector<std::uint32_t> m_Differing;
    std::size_t m_DifferCount = 0;
};

CConnectGrid::MatchResult CConnectGrid::Match(const MatchProgress& progress)
{
    try {
        CConnectBands bands(*this);
        return bands.Run(progress);
    } catch (const std::bad_alloc&) {
        return MatchResult::kNoMemory;
    }
}

CConnectGrid::MatchResult CConnectBands::Run(const CConnectGrid::MatchProgress& progress)
{
    const auto threads = static_cast<std::size_t>(GetRowBandThreads());
    std::vector<Band> bands;
    if (threads > 1 || m_Grid.m_BandRows > 0)
        bands = SplitRows(threads);
    const CConnectGrid::MatchResult result = bands.size() > 1 ? InBands(bands, progress) : InOrder(progress);
    if (result != CConnectGrid::MatchResult::kDone)
        return result;
    // Only what writing the groups out reads is kept.
    FreeVector(m_Grid.m_Reach);
    FreeVector(m_Grid.m_TileStart);
    FreeVector(m_Grid.m_TileCells);
    m_True.ReleaseScratch();
    m_True.ReleaseMarks();
    WriteGroups();
    FreeVector(m_Grid.m_Polylines);  // the links name them now
    return result;
}

std::uint32_t CConnectBands::RowBegin(std::size_t row) const
{
    return row < m_Grid.m_Rows.size() ? m_Grid.m_Rows[row].begin : static_cast<std::uint32_t>(m_Grid.m_Cells.size());
}

// Bands of about equal ends (or of the rows asked for).
std::vector<CConnectBands::Band> CConnectBands::SplitRows(std::size_t threads) const
{
    std::vector<Band> bands;
    const std::size_t rows = m_Grid.m_Rows.size();
    const std::size_t ends = m_Grid.m_Cells.size();
    const std::size_t perBand = std::max(kMinBandEnds, ends / (threads * kBandsPerThread));
    for (std::size_t row = 0; row < rows;) {
        std::size_t end = row + 1;
        if (m_Grid.m_BandRows > 0)
            end = std::min(rows, row + m_Grid.m_BandRows);
        else
            while (end < rows && RowBegin(end) - RowBegin(row) < perBand)
                ++end;
        bands.push_back({row, end, nullptr, {}});
        row = end;
    }
    return bands;
}

CConnectGrid::MatchResult CConnectBands::InOrder(const CConnectGrid::MatchProgress& progress)
{
    const std::size_t rows = m_Grid.m_Rows.size();
    m_True.made.links.reserve(m_Grid.m_Cells.size());  // every end is linked once
    for (std::size_t row = 0; row < rows; ++row) {
        m_True.MatchRow(row);
        if (!progress(row + 1, rows))
            return CConnectGrid::MatchResult::kStopped;
    }
    AddPiece(m_True.made, 0, m_True.made.groups.size());
    return CConnectGrid::MatchResult::kDone;
}

CConnectGrid::MatchResult CConnectBands::InBands(std::vector<Band>& bands, const CConnectGrid::MatchProgress& progress)
{
    const auto threads = static_cast<std::size_t>(GetRowBandThreads());
    const std::size_t perCall = threads * kGuessesPerCall;
    std::size_t guessed = 0, carried = 0;
    while (carried < bands.size()) {
        const std::size_t guessFrom = guessed, guessTo = std::min(bands.size(), guessed + perCall);
        std::atomic<bool> failed{false};
        // Task 0, the caller's, carries the true state through the bands
        // guessed by the calls before.
        RunBands(static_cast<int>(1 + guessTo - guessFrom), [&](int task) {
            try {
                if (task > 0)
                    Guess(bands[guessFrom + static_cast<std::size_t>(task) - 1]);
                else
                    for (; carried < guessFrom; ++carried)
                        CarryOn(bands[carried]);
            } catch (const std::bad_alloc&) {
                failed.store(true);
            }
        });
        if (failed.load())
            return CConnectGrid::MatchResult::kNoMemory;
        guessed = guessTo;
        if (!progress(m_NextRow, m_Grid.m_Rows.size()))
            return CConnectGrid::MatchResult::kStopped;
    }
    return CConnectGrid::MatchResult::kDone;
}

// Matches the band's rows as if none of their ends and none after them were
// used, noting where each row's groups start and which ends past the band
// were taken.
void CConnectBands::Guess(Band& band) const
{
    band.guess = std::make_unique<CConnectMatcher>(m_Grid, RowBegin(band.firstRow));
    CConnectMatcher& guess = *band.guess;
    guess.ListLinksFrom(RowBegin(band.endRow));
    guess.NoteLooked();
    band.rowGroups.reserve(band.endRow - band.firstRow + 1);
    for (std::size_t row = band.firstRow; row < band.endRow; ++row) {
        band.rowGroups.push_back(static_cast<std::uint32_t>(guess.made.groups.size()));
        guess.MatchRow(row);
    }
    band.rowGroups.push_back(static_cast<std::uint32_t>(guess.made.groups.size()));
    guess.ReleaseScratch();
}

// Carries the true state from the band's first row through the band, with
// the guess's groups where they are the truth's.
void CConnectBands::CarryOn(Band& band)
{
    CConnectMatcher& guess = *band.guess;
    ForgetDiffering();
    // The guess took no end from the band on as used: the ends the truth
    // has used there differ.
    const std::uint32_t from = RowBegin(band.firstRow);
    m_True.ForEachMarked(from, [&](std::uint32_t cell) { m_Differing.push_back(cell); });
    std::size_t row = band.firstRow;
    if (!m_Differing.empty()) {
        // The guess is replayed group by group: its marks start over.
        for (const std::uint32_t cell : guess.made.links)
            guess.Mark(cell, false);
        guess.RewindFrontier();
        if (m_DifferByTile.empty())
            m_DifferByTile.assign(m_Grid.m_TileStart.size() - 1, 0);
        for (const std::uint32_t cell : m_Differing)
            ++m_DifferByTile[TileOfCell(cell)];
        m_DifferCount = m_Differing.size();
        for (; m_DifferCount != 0 && row < band.endRow; ++row)
            CarryRow(band, row);
    }
    m_NextRow = band.endRow;
    if (m_DifferCount == 0) {
        AddPiece(guess.made, band.rowGroups[row - band.firstRow], guess.made.groups.size());
        for (const std::uint32_t cell : guess.spilled)
            m_True.Mark(cell, true);
    }
    guess.ReleaseMarks();
}

void CConnectBands::CarryRow(Band& band, std::size_t row)
{
    CConnectMatcher& guess = *band.guess;
    CConnectMade& made = guess.made;
    std::size_t g = band.rowGroups[row - band.firstRow];
    const std::size_t guessed = band.rowGroups[row - band.firstRow + 1];
    const CConnectGrid::Row& r = m_Grid.m_Rows[row];
    m_True.StartRow(row);
    for (std::uint32_t cell = r.begin; cell < r.end; ++cell) {
        const bool started = g < guessed && made.links[made.groups[g]] == cell;
        if (!m_True.IsUsed(cell)) {
            if (started && Unaffected(guess, made.looked[g])) {
                // The same group in both: its ends did not differ and do not.
                AddPiece(made, g, g + 1);
                for (std::size_t k = made.LinkStart(g); k < made.LinkStart(g + 1); ++k) {
                    m_True.Mark(made.links[k], true);
                    guess.Mark(made.links[k], true);
                }
                ++g;
                continue;
            }
            const std::size_t linked = m_True.made.links.size(), groups = m_True.made.groups.size();
            m_True.MatchCell(cell);
            AddPiece(m_True.made, groups, groups + 1);
            for (std::size_t k = linked; k < m_True.made.links.size(); ++k) {
                const std::uint32_t c = m_True.made.links[k];
                NoteChange(guess, c, guess.IsUsed(c));
            }
        }
        if (started) {
            for (std::size_t k = made.LinkStart(g); k < made.LinkStart(g + 1); ++k) {
                const std::uint32_t c = made.links[k];
                const bool differed = m_True.IsUsed(c);
                guess.Mark(c, true);
                NoteChange(guess, c, differed);
            }
            ++g;
        }
    }
}

void CConnectBands::NoteChange(const CConnectMatcher& guess, std::uint32_t cell, bool differed)
{
    const bool differs = Differs(guess, cell);
    if (differs == differed)
        return;
    std::uint32_t& count = m_DifferByTile[TileOfCell(cell)];
    if (differs) {
        ++count, ++m_DifferCount;
        m_Differing.push_back(cell);
    } else {
        --count, --m_DifferCount;
    }
}

// Whether no end in the tiles differs: by the counts of the tiles, or by
// the list when that is shorter.
bool CConnectBands::Unaffected(const CConnectMatcher& guess, const CConnectTiles& looked)
{
    if (m_DifferCount == 0)
        return true;
    const std::int64_t across = m_Grid.m_TilesAcross;
    const std::int64_t tiles = (std::int64_t{looked.x1} - looked.x0 + 1) * (std::int64_t{looked.y1} - looked.y0 + 1);
    if (m_Differing.size() > kListedPerDiffering * m_DifferCount + kFewListed) {
        // Drop what agrees again, and doubles.
        std::erase_if(m_Differing, [&](std::uint32_t cell) { return !Differs(guess, cell); });
        std::sort(m_Differing.begin(), m_Differing.end());
        m_Differing.erase(std::unique(m_Differing.begin(), m_Differing.end()), m_Differing.end());
    }
    if (tiles <= static_cast<std::int64_t>(m_Differing.size())) {
        for (std::int64_t y = looked.y0; y <= looked.y1; ++y)
            for (std::int64_t x = looked.x0; x <= looked.x1; ++x)
                if (m_DifferByTile[static_cast<std::size_t>(y * across + x)] != 0)
                    return false;
        return true;
    }
    const std::int64_t column0 = m_Grid.m_MinColumn, row0 = m_Grid.m_Rows.front().key;
    const int shift = m_Grid.m_TileShift;
    for (const std::uint32_t cell : m_Differing) {
        const CConnectCell& c = m_Grid.m_Cells[cell];
        const std::int64_t x = (c.column - column0) >> shift, y = (c.row - row0) >> shift;
        if (x >= looked.x0 && x <= looked.x1 && y >= looked.y0 && y <= looked.y1 && Differs(guess, cell))
            return false;
    }
    return true;
}

void CConnectBands::ForgetDiffering()
{
    if (!m_DifferByTile.empty())
        for (const std::uint32_t cell : m_Differing)
            m_DifferByTile[TileOfCell(cell)] = 0;
    m_Differing.clear();
    m_DifferCount = 0;
}

void CConnectBands::AddPiece(CConnectMade& made, std::size_t groupBegin, std::size_t groupEnd)
{
    if (groupBegin == groupEnd)
        return;
    if (!m_Pieces.empty() && m_Pieces.back().made == &made && m_Pieces.back().groupEnd == groupBegin)
        m_Pieces.back().groupEnd = groupEnd;
    else
        m_Pieces.push_back({&made, groupBegin, groupEnd});
}

// Writes the groups and links in the order made, each group's links newest
// first, on the pool: every polyline end has one link, so no two tasks touch
// the same field. A polyline's active end is the end it was linked at last.
void CConnectBands::WriteGroups()
{
    struct Task {
        CConnectMade* made;
        std::size_t groupBegin, groupEnd;  // in made
        std::size_t group, link;           // first places written
    };
    std::vector<Task> tasks;
    std::size_t groups = 0, links = 0;
    for (const Piece& piece : m_Pieces)
        for (std::size_t g = piece.groupBegin; g < piece.groupEnd; g += kGroupsPerTask) {
            const std::size_t end = std::min(piece.groupEnd, g + kGroupsPerTask);
            tasks.push_back({piece.made, g, end, groups, links});
            groups += end - g;
            links += piece.made->LinkStart(end) - piece.made->LinkStart(g);
        }
    const int taskCount = static_cast<int>(tasks.size());
    // Each link's filing order in place of its cell, and the place of each
    // order's link: the cells go before the links are made.
    std::vector<std::uint32_t> placeOf(m_Grid.m_Cells.size());
    RunBands(taskCount, [&](int t) {
        const Task& task = tasks[static_cast<std::size_t>(t)];
        const std::size_t first = task.made->LinkStart(task.groupBegin), last = task.made->LinkStart(task.groupEnd);
        for (std::size_t k = first; k < last; ++k) {
            const std::uint32_t order = m_Grid.m_Cells[task.made->links[k]].order;
            task.made->links[k] = order;
            placeOf[order] = static_cast<std::uint32_t>(task.link + (k - first));
        }
    });
    m_Grid.ReleaseCells();

    std::vector<CConnectGroup>& outGroups = m_Grid.m_Groups;
    std::vector<CConnectEnd>& outLinks = m_Grid.m_Links;
    outGroups.assign(groups, {});
    outLinks.assign(links, {});
    m_Grid.m_GroupHead = groups > 0 ? &outGroups.back() : nullptr;
    const std::vector<CPolyLine*>& polylines = m_Grid.m_Polylines;
    RunBands(taskCount, [&](int t) {
        const Task& task = tasks[static_cast<std::size_t>(t)];
        CConnectEnd* link = &outLinks[task.link];
        for (std::size_t g = task.groupBegin, at = task.group; g < task.groupEnd; ++g, ++at) {
            CConnectGroup& group = outGroups[at];
            group.next = at > 0 ? &outGroups[at - 1] : nullptr;
            for (std::size_t k = task.made->LinkStart(g); k < task.made->LinkStart(g + 1); ++k, ++link) {
                const std::uint32_t order = task.made->links[k];
                CPolyLine* polyline = polylines[order / 2];
                link->entity = polyline;
                link->end = static_cast<std::int32_t>(order % 2);
                link->group = &group;
                link->next = group.head;
                group.head = link;
                ++group.count;
                (link->end == 0 ? polyline->m_StartLink : polyline->m_EndLink) = link;
                if (placeOf[order] > placeOf[order ^ 1])
                    polyline->m_ActiveEnd = order % 2;
            }
        }
    });
}
