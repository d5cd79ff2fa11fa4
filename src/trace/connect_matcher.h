#pragma once
// One matching over an indexed endpoint grid (connect_grid.cpp): it keeps
// its own record of the used ends and of the groups it made, and only reads
// the grid, so that several can run at once on different bands of rows
// (connect_bands.cpp). The groups become the grid's links only once every
// row is matched.
//
// An end counts as used when its cell lies before the frontier (the first
// cell of the row being matched: every end of the earlier rows is used) or
// is marked. Marks are bits from a base cell on; no cell before the base is
// ever marked.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "trace/connect.h"

// Gives a vector's memory back: assigning {} keeps its capacity.
template <class T>
void FreeVector(std::vector<T>& v)
{
    std::vector<T>().swap(v);
}

// The tiles a group looked at (tile coordinates of the grid's tile index):
// the group depends on which ends in them were used when it started, and
// on nothing else.
struct CConnectTiles {
    std::int32_t x0, x1, y0, y1;
};

// Groups as made: the cells linked, in order, and where each group's run of
// them starts (its first cell is where it started).
struct CConnectMade {
    std::vector<std::uint32_t> links;   // cells
    std::vector<std::uint32_t> groups;  // first link of each group
    std::vector<CConnectTiles> looked;  // by group, when asked for

    // The first link of a group, or the end of all links.
    [[nodiscard]] std::size_t LinkStart(std::size_t group) const
    {
        return group < groups.size() ? groups[group] : links.size();
    }
};

class CConnectMatcher {
public:
    // Takes the ends before cell `base` as used and no other.
    CConnectMatcher(const CConnectGrid& grid, std::uint32_t base);

    [[nodiscard]] bool IsUsed(std::uint32_t cell) const
    {
        if (cell < m_Frontier)
            return true;
        const std::uint32_t bit = cell - m_Base;
        return (m_Marks[bit / kMarkBits] >> (bit % kMarkBits)) & 1u;
    }
    void Mark(std::uint32_t cell, bool used);
    // Calls f(cell) for each marked cell from `from` on, in order.
    template <class F>
    void ForEachMarked(std::uint32_t from, F&& f) const
    {
        std::size_t bit = from - m_Base;
        for (std::size_t word = bit / kMarkBits; word < m_Marks.size(); ++word) {
            std::uint64_t bits = m_Marks[word];
            if (word == bit / kMarkBits)
                bits &= ~std::uint64_t{0} << (bit % kMarkBits);
            for (; bits != 0; bits &= bits - 1) {
                const auto bitAt = static_cast<std::size_t>(std::countr_zero(bits));
                f(static_cast<std::uint32_t>(m_Base + word * kMarkBits + bitAt));
            }
        }
    }
    // Back to taking only the ends before the base and the marked ones as used.
    void RewindFrontier() { m_Frontier = m_Base; }

    // Matches each unused end of the row, in order; every end of the earlier
    // rows must be used.
    void MatchRow(std::size_t row);
    // Moves the frontier to the row, whose ends are then matched one by one
    // in order by MatchCell: each unused one starts a group.
    void StartRow(std::size_t row);
    void MatchCell(std::uint32_t cell);
    // Notes in made.looked the tiles each group looked at.
    void NoteLooked() { m_NoteLooked = true; }
    // Lists the ends linked from cell `from` on in spilled.
    void ListLinksFrom(std::uint32_t from) { m_SpillFrom = from; }
    // Frees what only matching needs; the marks and what was made stay.
    void ReleaseScratch();
    // Frees the marks, once the used state is no longer asked for.
    void ReleaseMarks() { FreeVector(m_Marks); }

    CConnectMade made;
    std::vector<std::uint32_t> spilled;

private:
    static constexpr std::uint32_t kMarkBits = 64;
    struct Window;
    // Tiles of the tile index, by corner (tile coordinates).
    struct TileRange {
        std::int64_t x0, x1, y0, y1;
    };
    // An unused end of the tiles a group has covered, and how many sides
    // of the box (at most one across and one up or down) must still pass it.
    struct Candidate {
        std::uint32_t cell;
        std::int32_t pending;
    };
    // A candidate waiting for one side of the box to reach its row or column.
    struct Waiting {
        std::int64_t key;
        std::uint32_t candidate;
    };

    void LinkCell(std::uint32_t cell, Window& window);
    void Cover(const Window& window, TileRange& covered, bool first);
    void AddTiles(const Window& window, std::int64_t y, std::int64_t x0, std::int64_t x1);
    void Reach(int side, std::int64_t key);

    const CConnectGrid& m_Grid;
    std::uint32_t m_Base;
    std::uint32_t m_Frontier;
    std::uint32_t m_SpillFrom;
    bool m_NoteLooked = false;
    std::vector<std::uint64_t> m_Marks;
    std::vector<Candidate> m_Candidates;
    std::vector<Waiting> m_Waiting[4];      // heaps by side: left, right, down, up
    std::vector<std::uint32_t> m_Entering;  // cells the box reached this round
};
