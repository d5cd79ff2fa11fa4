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
constexpr BYTE kJunctionMasks[] = {26,  27,  37,  49,  50,  53,  58,  60,  69,  74,  76,  77,  78,
                                   81,  82,  83,  85,  88,  89,  90,  92,  93,  94,  101, 113, 114,
                                   115, 117, 119, 133, 138, 140, 141, 142, 154, 161, 162, 163, 164,
                                   165, 166, 167, 173, 177, 181, 186, 197, 202, 204, 210, 229};
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

// Pixels x - 1, x and x + 1 of a row as bits 0, 1 and 2 (west to east);
// pixels outside the raster read as background.
unsigned RowTriple(const CRasterSrc& raster, int x, int y)
{
    if (y < 0 || y >= raster.GetHeight())
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

// The foreground 8-neighbours of (x, y) as direction codes.
BYTE NeighbourMask(const CRasterSrc& raster, int x, int y)
{
    const unsigned up = RowTriple(raster, x, y - 1);
    const unsigned mid = RowTriple(raster, x, y);
    const unsigned down = RowTriple(raster, x, y + 1);
    return static_cast<BYTE>(up | (mid & 1) << 3 | (mid & 4) << 2 | down << 5);
}

// NextNeighbour by the mask: moves (x, y) onto the first foreground
// neighbour and returns its code, or 0.
BYTE FirstNeighbour(const CRasterSrc& raster, int& x, int& y)
{
    const unsigned mask = NeighbourMask(raster, x, y);
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

// Follows skeleton chains in the working raster, erasing what it follows.
class CChainWalker {
public:
    CChainWalker(CRasterSrc& working, const CRasterSrc& nodes, const CJunctionWords& junctions)
        : m_working(working), m_nodes(nodes), m_junctions(junctions)
    {
    }

    // Traces the chain through start into a new item at the tail of the
    // list; a chain of one node is dropped again. False when memory ran out.
    [[nodiscard]] bool Trace(CPixel start, OArray<COutlineItem>& items)
    {
        COutlineItem* item = items.AddNew();
        if (!item)
            return false;
        CPixel junction = start;
        const bool touchesJunction =
            m_junctions.Near(start.x, start.y) && FirstNeighbour(m_nodes, junction.x, junction.y) != 0;
        bool ok = item->AddTail(start.x, start.y);
        Erase(start);
        ok = ok && Walk(*item, start, true, touchesJunction ? &junction : nullptr);
        // A chain that starts beside a junction ends there; otherwise the
        // skeleton may go on from the start in the other direction.
        if (ok && !touchesJunction)
            ok = Walk(*item, start, false, nullptr);
        if (!ok || item->GetNodeCount() <= 1) {
            items.SetCursor(items.GetTail());
            items.RemoveCurrent();
        }
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
        return FirstNeighbour(m_nodes, junction.x, junction.y) != 0;
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
            const BYTE direction = FirstNeighbour(m_working, next.x, next.y);
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
    const CRasterSrc& m_nodes;
    const CJunctionWords& m_junctions;
};

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
    std::vector<std::vector<CFoundWord>> found(static_cast<std::size_t>(std::max(CountRowBands(stretch, kMinBandRows), 1)));
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
    CWordRows rows(*working);
    CJunctionWords junctions;
    if (!junctions.Build(*GetNodeRaster())) {
        DeleteWorkspace();
        PostRunEnd(thread, RUN_NO_MEMORY);
        return false;
    }
    CChainWalker walker(*working, *GetNodeRaster(), junctions);
    CRowProgress progress(thread, rows.Height());
    for (int y = 0; y < rows.Height(); ++y) {
        for (int k = 0; k < rows.Words(); ++k) {
            // Each chain erases its start, so the word is read again after it.
            for (PackedWord left; (left = rows.Load(y, k)) != 0;) {
                int x = k * kWordPixels + std::countl_zero(left);
                if (!walker.Trace({x, y}, m_items)) {
                    DeleteWorkspace();
                    PostRunEnd(thread, RUN_NO_MEMORY);
                    return false;
                }
            }
        }
        progress.Row(y);
        if (Stopped(thread)) {
            m_items.RemoveAll();
            return false;
        }
    }
    SetNodeRaster(nullptr);
    if (thread)
        thread->SendProgressEnd(text.c_str());
    return true;
}
