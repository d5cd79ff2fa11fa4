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
#include "trace/common_thread.h"
#include "trace/neighbour_words.h"
#include "trace/outline.h"
#include "trace/thinning.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace {

constexpr int kPercent = 100;

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
    int dx = 0, dy = 0;
    DirectionOffset(code, dx, dy);
    return {p.x + sign * dx, p.y + sign * dy};
}

// Follows skeleton chains in the working raster, erasing what it follows.
class CChainWalker {
public:
    CChainWalker(CRasterSrc& working, const CRasterSrc& nodes) : m_working(working), m_nodes(nodes) {}

    // Traces the chain through start into a new item at the tail of the
    // list; a chain of one node is dropped again. False when memory ran out.
    [[nodiscard]] bool Trace(CPixel start, OArray<COutlineItem>& items)
    {
        COutlineItem* item = items.AddNew();
        if (!item)
            return false;
        CPixel junction = start;
        const bool touchesJunction = NextNeighbour(m_nodes, junction.x, junction.y) != 0;
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
        CPixel ahead = Step(p, direction, 1);
        if (IsJunction(ahead)) {
            junction = ahead;
            return true;
        }
        junction = p;
        return NextNeighbour(m_nodes, junction.x, junction.y) != 0;
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
            const BYTE direction = NextNeighbour(m_working, next.x, next.y);
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
    const std::size_t words = static_cast<std::size_t>(std::max(rows.Words(), 1));
    std::unique_ptr<CWordDeletion[]> pending(new (std::nothrow) CWordDeletion[words]);
    std::unique_ptr<CWordDeletion[]> current(new (std::nothrow) CWordDeletion[words]);
    if (!pending || !current) {
        PostRunEnd(thread, RUN_NO_MEMORY);
        return false;
    }
    // Junctions leave the working raster a row late, once the next row has
    // seen the skeleton as the step found it.
    auto clear = [&](int y, const CWordDeletion* found, int count) {
        for (int i = 0; i < count; ++i)
            rows.Store(y, found[i].word, rows.Load(y, found[i].word) & ~found[i].pixels);
    };
    CRowProgress progress(thread, rows.Height());
    int pendingCount = 0;
    for (int y = 0; y < rows.Height(); ++y) {
        int count = 0;
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
                current[count++] = {k, junctions};
            }
        }
        clear(y - 1, pending.get(), pendingCount);
        std::swap(pending, current);
        pendingCount = count;
        if (y == rows.Height() - 1)
            clear(y, pending.get(), pendingCount);
        progress.Row(y);
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
    CChainWalker walker(*working, *GetNodeRaster());
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
