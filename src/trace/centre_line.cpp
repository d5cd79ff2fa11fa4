// Centre-line tracing: thin the raster to a skeleton, mark its junctions,
// then follow the skeleton into chains of pixel centres.
//
// Workspace: the working raster is a deep copy of the source that the
// thinning steps reduce to a skeleton one pixel wide and the chain walk
// erases pixel by pixel; the node raster holds the junction pixels, which
// are taken out of the working raster so that every walk stops beside them.
// The source raster is only read.
//
// A chain is a COutlineItem of integer pixel centres: its start, every pixel
// where the walking direction changes, and its end (the last pixel, or the
// junction it runs into, so that branches meeting at a junction share that
// end point).
#include "model/text_table.h"
#include "raster/packed_bits.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"
#include "trace/common_thread.h"
#include "trace/neighbour_words.h"
#include "trace/outline.h"
#include "trace/thinning.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kPercent = 100;
// Junction marking works in stretches of rows (about one per percent of the
// height) split into bands of at least this many rows.
constexpr int kMinStretchRows = 64;
constexpr int kMinBandRows = 16;

// Skeleton pixels where three or more branches meet (or two meet at a
// corner that the walk must not cut), by neighbourhood mask.
constexpr BYTE kJunctionMasks[] = {26,  27,  37,  49,  50,  53,  58,  60,  69,  74,  76,  77,  78,  81,  82,  83,  85,
                                   88,  89,  90,  92,  93,  94,  101, 113, 114, 115, 117, 119, 133, 138, 140, 141, 142,
                                   154, 161, 162, 163, 164, 165, 166, 167, 173, 177, 181, 186, 197, 202, 204, 210, 229};
static_assert(std::size(kJunctionMasks) == 51);

constexpr std::array<bool, 256> MakeJunctionTable()
{
    std::array<bool, 256> table{};
    for (BYTE mask : kJunctionMasks)
        table[mask] = true;
    return table;
}

constexpr std::array<bool, 256> kIsJunction = MakeJunctionTable();

void PostRunEnd(CCommonThread* thread, DWORD code)
{
    if (thread)
        thread->PostRunEnd(code);
}

bool Stopped(CCommonThread* thread)
{
    if (!thread || !thread->IsStopRequested())
        return false;
    thread->PostRunEnd(RUN_STOPPED);
    return true;
}

// Sends y * 100 / height when it differs from the last value sent.
class CRowProgress {
public:
    CRowProgress(CCommonThread* thread, int height) : m_thread(thread), m_height(height) {}
    void Row(int y)
    {
        int percent = static_cast<int>(static_cast<long long>(y) * kPercent / m_height);
        if (m_thread && percent != m_last) {
            m_last = percent;
            m_thread->SendProgressPos(static_cast<DWORD>(percent));
        }
    }

private:
    CCommonThread* m_thread;
    int m_height;
    int m_last = 0;
};

// The chain walk asks for a pixel's neighbours at every step, so it reads
// each of the three rows once (two bytes at most) instead of testing the
// eight pixels one by one. The direction codes are the mask's bits in the
// order the walk prefers them (NW, N, NE, W, E, SW, S, SE), so the first
// neighbour is the lowest bit.
struct CStepOffset {
    int dx;
    int dy;
};
constexpr CStepOffset kOffsetOfBit[8] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};

// Rows [top, bottom) of a raster: a band's walk reads only its own rows.
struct CRowRange {
    int top;
    int bottom;
};

CRowRange AllRows(const CRasterSrc& raster) { return {0, raster.GetHeight()}; }

// Pixels x - 1, x and x + 1 of a row as bits 0, 1 and 2 (west to east);
// pixels outside the raster or the rows read as background.
unsigned RowTriple(const CRasterSrc& raster, int x, int y, CRowRange rows)
{
    if (y < rows.top || y >= rows.bottom)
        return 0;
    const BYTE* row = raster.GetRow(y);
    if (x <= 0 || x + 1 >= raster.GetWidth()) {
        unsigned bits = 0;
        for (int i = 0; i < 3; ++i)
            if (IsForegroundBounded(raster, x - 1 + i, y))
                bits |= 1u << i;
        return bits;
    }
    const int first = x - 1;
    const int at = first & 7;
    unsigned window = static_cast<unsigned>(row[first >> 3]) << 8;
    if (at > 5)
        window |= row[(first >> 3) + 1];
    const unsigned eastward = (window >> (13 - at)) & 7;  // bit 2 is x - 1
    return ((eastward & 4) >> 2) | (eastward & 2) | ((eastward & 1) << 2);
}

// The foreground 8-neighbours of (x, y) within the rows as direction codes.
BYTE NeighbourMask(const CRasterSrc& raster, int x, int y, CRowRange rows)
{
    const unsigned up = RowTriple(raster, x, y - 1, rows);
    const unsigned mid = RowTriple(raster, x, y, rows);
    const unsigned down = RowTriple(raster, x, y + 1, rows);
    return static_cast<BYTE>(up | (mid & 1) << 3 | (mid & 4) << 2 | down << 5);
}

// NextNeighbour by the mask: moves (x, y) onto the first foreground
// neighbour and returns its code, or 0.
BYTE FirstNeighbour(const CRasterSrc& raster, int& x, int& y, CRowRange rows)
{
    const unsigned mask = NeighbourMask(raster, x, y, rows);
    if (mask == 0)
        return 0;
    const int bit = std::countr_zero(mask);
    x += kOffsetOfBit[bit].dx;
    y += kOffsetOfBit[bit].dy;
    return static_cast<BYTE>(1u << bit);
}

BYTE DirectionCode(int dx, int dy)
{
    static constexpr BYTE kCodes[3][3] = {{DIR_NW, DIR_N, DIR_NE}, {DIR_W, 0, DIR_E}, {DIR_SW, DIR_S, DIR_SE}};
    return kCodes[dy + 1][dx + 1];
}

struct CPixel {
    int x = 0;
    int y = 0;
};

BYTE DirectionBetween(CPixel from, CPixel to) { return DirectionCode(to.x - from.x, to.y - from.y); }

CPixel Step(CPixel p, int code, int sign)
{
    const CStepOffset& offset = kOffsetOfBit[std::countr_zero(static_cast<unsigned>(code))];
    return {p.x + sign * offset.dx, p.y + sign * offset.dy};
}

// Which 64-pixel words of the node raster hold a junction, a bit each.
// Junctions are few, so at most steps of a walk this small map tells that
// none is near, and the node raster's rows (a second large raster to miss
// the cache on) are read only where one may be.
class CJunctionWords {
public:
    // False when memory ran out.
    [[nodiscard]] bool Build(CRasterSrc& nodes)
    {
        CWordRows rows(nodes);
        m_words = rows.Words();
        m_width = rows.Width();
        m_height = rows.Height();
        try {
            m_bits.assign((static_cast<std::size_t>(m_words) * m_height + 63) / 64, 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (int y = 0; y < m_height; ++y)
            for (int k = 0; k < m_words; ++k)
                if (rows.Load(y, k) != 0) {
                    const std::size_t at = static_cast<std::size_t>(y) * m_words + k;
                    m_bits[at / 64] |= std::uint64_t{1} << (at % 64);
                }
        return true;
    }

    // Whether a junction may lie in the 3 x 3 pixels around (x, y).
    [[nodiscard]] bool Near(int x, int y) const
    {
        const int k0 = std::max(x - 1, 0) / kWordPixels;
        const int k1 = std::min(x + 1, m_width - 1) / kWordPixels;
        for (int row = std::max(y - 1, 0); row <= std::min(y + 1, m_height - 1); ++row)
            for (int k = k0; k <= k1; ++k) {
                const std::size_t at = static_cast<std::size_t>(row) * m_words + k;
                if (m_bits[at / 64] >> (at % 64) & 1)
                    return true;
            }
        return false;
    }

private:
    std::vector<std::uint64_t> m_bits;
    int m_words = 0;
    int m_width = 0;
    int m_height = 0;
};

// Follows skeleton chains in rows of the working raster, erasing what it
// follows; the node raster is only read, all of it.
class CChainWalker {
public:
    CChainWalker(CRasterSrc& working, CRowRange rows, const CRasterSrc& nodes, const CJunctionWords& junctions)
        : m_working(working), m_rows(rows), m_nodes(nodes), m_junctions(junctions)
    {}

    // Traces the chain through start into a new item at the tail of the
    // list; a chain of one node is dropped again. False when memory ran out.
    [[nodiscard]] bool Trace(CPixel start, OArray<COutlineItem>& items)
    {
        COutlineItem* item = items.AddNew();
        if (!item)
            return false;
        const bool ok = Trace(start, *item);
        if (!ok || item->GetNodeCount() <= 1) {
            items.SetCursor(items.GetTail());
            items.RemoveCurrent();
        }
        return ok;
    }

    // Traces the chain through start into an empty item; false when memory
    // ran out.
    [[nodiscard]] bool Trace(CPixel start, COutlineItem& item)
    {
        CPixel junction = start;
        const bool touchesJunction = m_junctions.Near(start.x, start.y) &&
                                     FirstNeighbour(m_nodes, junction.x, junction.y, AllRows(m_nodes)) != 0;
        bool ok = item.AddTail(start.x, start.y);
        Erase(start);
        ok = ok && Walk(item, start, true, touchesJunction ? &junction : nullptr);
        // A chain that starts beside a junction ends there; otherwise the
        // skeleton may go on from the start in the other direction.
        if (ok && !touchesJunction)
            ok = Walk(item, start, false, nullptr);
        return ok;
    }

private:
    void Erase(CPixel p) { ClearPixel(m_working.GetRow(p.y), p.x); }

    bool IsJunction(CPixel p) const { return IsForegroundBounded(m_nodes, p.x, p.y); }

    // The junction beside p, the one straight ahead in the walking direction
    // first; false when there is none.
    bool FindJunction(CPixel p, BYTE direction, CPixel& junction) const
    {
        if (!m_junctions.Near(p.x, p.y))
            return false;
        CPixel ahead = Step(p, direction, 1);
        if (IsJunction(ahead)) {
            junction = ahead;
            return true;
        }
        junction = p;
        return FirstNeighbour(m_nodes, junction.x, junction.y, AllRows(m_nodes)) != 0;
    }

    // Walks from start (already a node) while the working raster goes on,
    // adding the corners and the end at the tail or at the head. With a
    // start junction the chain begins there instead: it becomes the head,
    // and the start stays a node only where the path turns at it.
    bool Walk(COutlineItem& item, CPixel start, bool atTail, const CPixel* startJunction)
    {
        auto add = [&](CPixel p) { return atTail ? item.AddTail(p.x, p.y) : item.AddHead(p.x, p.y); };
        CPixel previous = start;
        BYTE heading = 0;
        for (int steps = 0;; ++steps) {
            CPixel next = previous;
            const BYTE direction = FirstNeighbour(m_working, next.x, next.y, m_rows);
            if (!direction)
                return steps == 0 || add(previous);
            if (steps == 0) {
                heading = direction;
                if (startJunction && !AddStartJunction(item, start, direction, *startJunction))
                    return false;
            } else if (direction != heading) {
                if (!add(previous))
                    return false;
                heading = direction;
            }
            Erase(next);
            CPixel junction;
            if (FindJunction(next, heading, junction)) {
                if (DirectionBetween(next, junction) != heading && !add(next))
                    return false;
                return add(junction);
            }
            previous = next;
        }
    }

    bool AddStartJunction(COutlineItem& item, CPixel start, BYTE direction, CPixel found)
    {
        // The junction the path comes straight out of, when there is one.
        CPixel behind = Step(start, direction, -1);
        CPixel junction = IsJunction(behind) ? behind : found;
        if (DirectionBetween(junction, start) == direction)
            item.RemoveHead();
        return item.AddHead(junction.x, junction.y);
    }

    CRasterSrc& m_working;
    CRowRange m_rows;
    const CRasterSrc& m_nodes;
    const CJunctionWords& m_junctions;
};

// --- the walk in bands ---
//
// The walk only ever steps onto 8-neighbours, so each connected piece of the
// working raster gives the same chains whatever else the raster holds, and
// the chains come out in the scan order of their starts. The pieces that run
// across a seam between bands are found first and walked on the calling
// thread (they are few); the other pieces are walked on the pool, each band
// into its own list, which takes each seam chain starting in its rows at its
// place in scan order. Every band on the pool reads and writes only its own
// rows.

struct CSeamChain {
    CPixel start;
    COutlineItem item;
};

bool ScanBefore(CPixel a, CPixel b) { return a.y != b.y ? a.y < b.y : a.x < b.x; }

// The pixels of every piece of the working raster that touches a seam
// between bands, in scan order. Throws std::bad_alloc.
std::vector<CPixel> FindSeamPieces(CRasterSrc& working, int bands)
{
    CWordRows rows(working);
    const int height = rows.Height();
    const int width = rows.Width();
    // The seam pixels that touch the other side, by the band that holds them.
    std::vector<std::vector<CPixel>> found(static_cast<std::size_t>(bands));
    const auto addSeeds = [&](int b, int y, int k, PackedWord pixels) {
        for (; pixels; pixels &= pixels - 1)
            found[static_cast<std::size_t>(b)].push_back(
                {k * kWordPixels + kWordPixels - 1 - std::countr_zero(pixels), y});
    };
    for (int b = 1; b < bands; ++b) {
        int y0 = 0, y1 = 0;
        RowBandOf(height, bands, b, y0, y1);
        for (int k = 0; k < rows.Words(); ++k) {
            const CWordTrio above = rows.LoadTrio(y0 - 1, k);
            const CWordTrio below = rows.LoadTrio(y0, k);
            addSeeds(b - 1, y0 - 1, k, above.centre & (below.left | below.centre | below.right));
            addSeeds(b, y0, k, below.centre & (above.left | above.centre | above.right));
        }
    }
    // Each band fills its part of the pieces from its seeds, clearing the
    // pixels it reaches to mark them, and then sets them again.
    std::atomic<bool> failed{false};
    RunBands(bands, [&](int b) {
        int y0 = 0, y1 = 0;
        RowBandOf(height, bands, b, y0, y1);
        std::vector<CPixel>& pixels = found[static_cast<std::size_t>(b)];
        const std::size_t seeds = pixels.size();
        try {
            std::vector<CPixel> reached;
            std::vector<CPixel> stack;
            const auto take = [&](int x, int y) {
                if (x < 0 || x >= width || y < y0 || y >= y1 || !IsForeground(working, x, y))
                    return;
                ClearPixel(working.GetRow(y), x);
                reached.push_back({x, y});
                stack.push_back({x, y});
            };
            for (std::size_t i = 0; i < seeds; ++i) {
                take(pixels[i].x, pixels[i].y);
                while (!stack.empty()) {
                    const CPixel q = stack.back();
                    stack.pop_back();
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx)
                            take(q.x + dx, q.y + dy);
                }
            }
            for (CPixel p : reached)
                SetPixel(working.GetRow(p.y), p.x);
            std::sort(reached.begin(), reached.end(), ScanBefore);
            pixels = std::move(reached);
        } catch (const std::bad_alloc&) {
            failed.store(true);
        }
    });
    if (failed.load())
        throw std::bad_alloc();
    std::vector<CPixel> all;
    for (const std::vector<CPixel>& pixels : found)
        all.insert(all.end(), pixels.begin(), pixels.end());
    return all;
}

// Walks the pieces through the given pixels (in scan order) out of the
// working raster, as a walk of the whole raster would; false when memory
// ran out.
bool TraceSeamChains(CRasterSrc& working, std::span<const CPixel> pixels, const CRasterSrc& nodes,
                     const CJunctionWords& junctions, std::vector<CSeamChain>& chains)
{
    CChainWalker walker(working, AllRows(working), nodes, junctions);
    try {
        for (CPixel start : pixels) {
            if (!IsForeground(working, start.x, start.y))
                continue;
            chains.push_back({start, COutlineItem()});
            if (!walker.Trace(start, chains.back().item))
                return false;
            if (chains.back().item.GetNodeCount() <= 1)
                chains.pop_back();
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

enum class EWalkEnd { Done, NoMemory, Stopped };

// Traces the chains that start in rows [y0, y1) into out in scan order, the
// seam chains of those rows (in scan order) placed among them; after each
// row, rowDone(y) tells whether to go on.
template <typename RowDone>
EWalkEnd WalkRows(CChainWalker& walker, CWordRows& rows, int y0, int y1, std::span<CSeamChain> seamChains,
                  OArray<COutlineItem>& out, RowDone&& rowDone)
{
    std::size_t next = 0;
    const auto placeSeamChains = [&](CPixel before) {
        for (; next < seamChains.size() && ScanBefore(seamChains[next].start, before); ++next)
            if (!out.AddTail(std::move(seamChains[next].item)))
                return false;
        return true;
    };
    for (int y = y0; y < y1; ++y) {
        for (int k = 0; k < rows.Words(); ++k) {
            // Each chain erases its start, so the word is read again after it.
            for (PackedWord left; (left = rows.Load(y, k)) != 0;) {
                const CPixel start{k * kWordPixels + std::countl_zero(left), y};
                if (!placeSeamChains(start) || !walker.Trace(start, out))
                    return EWalkEnd::NoMemory;
            }
        }
        if (!rowDone(y))
            return EWalkEnd::Stopped;
    }
    return placeSeamChains({0, y1}) ? EWalkEnd::Done : EWalkEnd::NoMemory;
}

// Appends the chains of the working raster to items in scan order of their
// starts, in bands on the pool. Only the calling thread sends progress: band
// 0 runs there and counts for the whole page, the bands being of one size,
// so that the messages are the same from run to run.
EWalkEnd WalkChains(CRasterSrc& working, const CRasterSrc& nodes, const CJunctionWords& junctions,
                    CCommonThread* thread, OArray<COutlineItem>& items)
{
    CWordRows rows(working);
    const int height = rows.Height();
    CRowProgress progress(thread, height);
    const auto stopRequested = [thread] { return thread && thread->IsStopRequested(); };
    const int bands = CountRowBands(height, kMinBandRows);
    if (bands <= 1) {
        CChainWalker walker(working, AllRows(working), nodes, junctions);
        return WalkRows(walker, rows, 0, height, {}, items, [&](int y) {
            progress.Row(y);
            return !stopRequested();
        });
    }

    std::vector<CSeamChain> seamChains;
    try {
        const std::vector<CPixel> seamPixels = FindSeamPieces(working, bands);
        if (!TraceSeamChains(working, seamPixels, nodes, junctions, seamChains))
            return EWalkEnd::NoMemory;
    } catch (const std::bad_alloc&) {
        return EWalkEnd::NoMemory;
    }
    if (stopRequested())
        return EWalkEnd::Stopped;
    std::vector<OArray<COutlineItem>> lists(static_cast<std::size_t>(bands));
    std::vector<EWalkEnd> ends(static_cast<std::size_t>(bands), EWalkEnd::Done);
    RunBands(bands, [&](int b) {
        int y0 = 0, y1 = 0;
        RowBandOf(height, bands, b, y0, y1);
        const auto first = std::partition_point(seamChains.begin(), seamChains.end(),
                                                [&](const CSeamChain& c) { return c.start.y < y0; });
        const auto last =
            std::partition_point(first, seamChains.end(), [&](const CSeamChain& c) { return c.start.y < y1; });
        CChainWalker walker(working, {y0, y1}, nodes, junctions);
        ends[static_cast<std::size_t>(b)] = WalkRows(
            walker, rows, y0, y1, std::span<CSeamChain>(first, last), lists[static_cast<std::size_t>(b)], [&](int y) {
                if (b == 0)
                    progress.Row(static_cast<int>(static_cast<long long>(y + 1) * height / y1) - 1);
                return !stopRequested();
            });
    });
    if (std::find(ends.begin(), ends.end(), EWalkEnd::NoMemory) != ends.end())
        return EWalkEnd::NoMemory;
    if (std::find(ends.begin(), ends.end(), EWalkEnd::Stopped) != ends.end())
        return EWalkEnd::Stopped;
    for (OArray<COutlineItem>& list : lists)
        items.TakeAll(&list);
    return EWalkEnd::Done;
}

}  // namespace

bool COutlineList::TraceCenterLines(CCommonThread* thread)
{
    try {
        m_items.RemoveAll();
        DeleteWorkspace();
        if (!m_source || !FitsNodeCoordinates(*m_source)) {
            PostRunEnd(thread, RUN_FAILED);
            return false;
        }
        auto working = std::unique_ptr<CRasterSrc>(new (std::nothrow) CRasterSrc);
        if (!working || !working->Copy(*m_source)) {
            PostRunEnd(thread, RUN_NO_MEMORY);
            return false;
        }
        SetWorkingRaster(std::move(working));
        if (!ThinFirstStep(*GetWorkingRaster(), thread) || !ThinSecondStep(*GetWorkingRaster(), thread) ||
            !TraceCenterLine(thread)) {
            DeleteWorkspace();
            return false;
        }
        DeleteWorkspace();
        return true;
    } catch (const std::bad_alloc&) {
        DeleteWorkspace();
        PostRunEnd(thread, RUN_NO_MEMORY);
    } catch (...) {
        DeleteWorkspace();
        PostRunEnd(thread, RUN_FAILED);
    }
    return false;
}

bool COutlineList::TraceCenterInit(CCommonThread* thread)
{
    const std::string text = GetLanString("ProcessTraceCenterInit", "Trace center initialize");
    if (thread)
        thread->SendProgressText(text.c_str());
    CRasterSrc* working = GetWorkingRaster();
    CRasterSrc* nodes = GetNodeRaster();
    if (!working || !nodes || working->GetBitCount() != 1 || nodes->GetBitCount() != 1 ||
        nodes->GetWidth() != working->GetWidth() || nodes->GetHeight() != working->GetHeight()) {
        PostRunEnd(thread, RUN_FAILED);
        return false;
    }
    CWordRows rows(*working);
    CWordRows nodeRows(*nodes);
    // A row's junctions are found on the skeleton as the step found it, so
    // a junction leaves the working raster only once the rows beside it have
    // been marked: the rows of a stretch are marked in bands on the pool,
    // each band listing the words it found; the words then leave the working
    // raster, but those of the stretch's last row only with the next
    // stretch, which reads that row.
    struct CFoundWord {
        int y;
        int word;
        PackedWord pixels;
    };
    const int stretch = std::max(kMinStretchRows, rows.Height() / kPercent);
    std::vector<std::vector<CFoundWord>> found(
        static_cast<std::size_t>(std::max(CountRowBands(stretch, kMinBandRows), 1)));
    std::vector<CFoundWord> lastRow;
    const auto mark = [&](int y, std::vector<CFoundWord>& list) {
        for (int k = 0; k < rows.Words(); ++k) {
            PackedWord skeleton = rows.Load(y, k);
            if (!skeleton)
                continue;
            CWordTrio up = rows.LoadTrio(y - 1, k);
            CWordTrio mid = MakeTrio(skeleton, rows.LeftPixel(y, k), rows.RightPixel(y, k));
            CWordTrio down = rows.LoadTrio(y + 1, k);
            PackedWord junctions = 0;
            for (PackedWord rest = skeleton; rest; rest &= rest - 1) {
                int b = std::countr_zero(rest);
                if (kIsJunction[MaskAt(up, mid, down, b)])
                    junctions |= PackedWord{1} << b;
            }
            if (junctions) {
                nodeRows.Store(y, k, nodeRows.Load(y, k) | junctions);
                list.push_back({y, k, junctions});
            }
        }
    };
    const auto clear = [&](const CFoundWord& w) { rows.Store(w.y, w.word, rows.Load(w.y, w.word) & ~w.pixels); };
    CRowProgress progress(thread, rows.Height());
    for (int y0 = 0; y0 < rows.Height(); y0 += stretch) {
        const int y1 = std::min(rows.Height(), y0 + stretch);
        const int bands = std::min(CountRowBands(y1 - y0, kMinBandRows), static_cast<int>(found.size()));
        std::atomic<bool> failed{false};
        RunBands(bands, [&](int b) {
            int from = 0, to = 0;
            RowBandOf(y1 - y0, bands, b, from, to);
            std::vector<CFoundWord>& list = found[static_cast<std::size_t>(b)];
            list.clear();
            try {
                for (int y = y0 + from; y < y0 + to; ++y)
                    mark(y, list);
            } catch (const std::bad_alloc&) {
                failed.store(true);
            }
        });
        if (failed.load()) {
            PostRunEnd(thread, RUN_NO_MEMORY);
            return false;
        }
        for (const CFoundWord& w : lastRow)
            clear(w);
        lastRow.clear();
        for (int b = 0; b < bands; ++b)
            for (const CFoundWord& w : found[static_cast<std::size_t>(b)]) {
                if (w.y == y1 - 1 && y1 < rows.Height())
                    lastRow.push_back(w);
                else
                    clear(w);
            }
        progress.Row(y1 - 1);
        if (Stopped(thread))
            return false;
    }
    if (thread)
        thread->SendProgressEnd(text.c_str());
    return true;
}

bool COutlineList::TraceCenterLine(CCommonThread* thread)
{
    CRasterSrc* working = GetWorkingRaster();
    if (!working || working->GetBitCount() != 1) {
        PostRunEnd(thread, RUN_FAILED);
        return false;
    }
    auto nodes = std::unique_ptr<CRasterSrc>(new (std::nothrow) CRasterSrc);
    if (!nodes || !nodes->Create(working->GetWidth(), working->GetHeight(), 1)) {
        DeleteWorkspace();
        PostRunEnd(thread, RUN_NO_MEMORY);
        return false;
    }
    SetNodeRaster(std::move(nodes));
    if (!TraceCenterInit(thread)) {
        DeleteWorkspace();
        return false;
    }

    const std::string text = GetLanString("ProcessTraceCenterLine", "Trace center line");
    if (thread)
        thread->SendProgressText(text.c_str());
    CJunctionWords junctions;
    if (!junctions.Build(*GetNodeRaster())) {
        DeleteWorkspace();
        PostRunEnd(thread, RUN_NO_MEMORY);
        return false;
    }
    switch (WalkChains(*working, *GetNodeRaster(), junctions, thread, m_items)) {
    case EWalkEnd::NoMemory:
        DeleteWorkspace();
        PostRunEnd(thread, RUN_NO_MEMORY);
        return false;
    case EWalkEnd::Stopped:
        PostRunEnd(thread, RUN_STOPPED);
        m_items.RemoveAll();
        return false;
    case EWalkEnd::Done: break;
    }
    SetNodeRaster(nullptr);
    if (thread)
        thread->SendProgressEnd(text.c_str());
    return true;
}
