// Nesting of traced outlines: one connection per outer chain, holding the
// holes of the black region that the outer chain bounds.
//
// A hole's region is found from the raster: above the hole's top-left corner
// lies a black pixel of the region that encloses the hole. Walking left along
// that row to the first white pixel (the frame column at the latest) crosses
// nothing, so the vertical edge reached there is a border of the same black
// region: either its outer chain, or another hole of it whose region is
// already known, since that hole starts on an earlier row. Unlike the first
// border to the left of the hole itself, this never lands on an island that
// sits in a neighbouring hole.
#include "trace/outline.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <bit>
#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "model/text_table.h"
#include "platform/message_box.h"
#include "raster/packed_bits.h"
#include "raster/row_bands.h"
#include "trace/common_thread.h"

namespace {

constexpr int kNone = -1;

// The inner point of a connection lies this far inside the outer chain's head.
constexpr double kInnerPointDx = 0.25;
constexpr double kInnerPointDy = -0.25;

// A corner coordinate (a half-integer) as the whole number k of k - 0.5;
// false when the value is not a corner.
bool CornerIndex(double v, long long& k)
{
    double shifted = v + 0.5;
    double whole = std::floor(shifted);
    if (whole != shifted || std::fabs(whole) > 1e15)
        return false;
    k = static_cast<long long>(whole);
    return true;
}

// The last white pixel left of x in the row, or -1 (the frame) when the row
// is black from its start up to x.
int WhiteLeftOf(const BYTE* row, int x)
{
    while (x > 0) {
        int start = std::max(0, x - kWordPixels);
        int n = x - start;
        PackedWord white = ~ReadPixels(row, start, n) & LeadingWordMask(n);
        if (white)
            return start + (kWordPixels - 1 - std::countr_zero(white));
        x = start;
    }
    return -1;
}

// The vertical unit edge on corner column x across pixel row `row` that the
// hole `hole` asks about.
struct EdgeQuery {
    long long x;
    long long row;
    int hole;
    bool operator<(const EdgeQuery& o) const { return x != o.x ? x < o.x : row < o.row; }
};

// The query of a hole, from its top-left corner; false when the hole does
// not sit on black pixels of the raster as traced.
bool MakeQuery(const CRasterSrc& raster, const COutlineItem& item, int index, EdgeQuery& query)
{
    if (item.nodes.IsEmpty())
        return false;
    double topX = item.nodes[0].x;
    double topY = item.nodes[0].y;
    for (const COutlineNode& v : item.nodes) {
        if (v.y < topY || (v.y == topY && v.x < topX)) {
            topX = v.x;
            topY = v.y;
        }
    }
    long long cx = 0;
    long long cy = 0;
    if (!CornerIndex(topX, cx) || !CornerIndex(topY, cy))
        return false;
    // The black pixel above the hole's first white pixel (cx, cy).
    const long long bx = cx;
    const long long by = cy - 1;
    if (bx < 0 || by < 0 || bx >= raster.GetWidth() || by >= raster.GetHeight() ||
        !IsForeground(raster, static_cast<int>(bx), static_cast<int>(by)))
        return false;
    int white = WhiteLeftOf(raster.GetRow(static_cast<int>(by)), static_cast<int>(bx));
    query = EdgeQuery{white + 1, by, index};
    return true;
}

// Bands of items per pool thread: chains differ widely in length.
constexpr int kItemBandsPerThread = 4;

// Runs body(i0, i1) over bands of [0, count) on the row-band pool; false when
// a band ran out of memory.
template <typename Body>
bool ForItemBands(std::size_t count, const Body& body)
{
    const int bands = static_cast<int>(
        std::min<std::size_t>(count, static_cast<std::size_t>(GetRowBandThreads()) * kItemBandsPerThread));
    std::atomic<bool> failed{false};
    RunBands(bands, [&](int b) {
        int i0 = 0;
        int i1 = 0;
        RowBandOf(static_cast<int>(count), bands, b, i0, i1);
        try {
            body(b, static_cast<std::size_t>(i0), static_cast<std::size_t>(i1));
        } catch (const std::bad_alloc&) {
            failed.store(true);
        }
    });
    return !failed.load();
}

// For every hole, the item that holds its query edge (kNone if none). Items
// are scanned in bands on the pool; the first item that holds the edge wins,
// as in a scan in order. Throws std::bad_alloc.
std::vector<int> FindQueryOwners(const CRasterSrc& raster, const std::vector<COutlineItem*>& items)
{
    std::vector<int> owner(items.size(), kNone);
    if (items.size() > static_cast<std::size_t>(INT_MAX))
        throw std::bad_alloc();
    // Each band's queries in item order, so the sort sees them as a scan in
    // order would give them.
    std::vector<std::vector<EdgeQuery>> bandQueries(static_cast<std::size_t>(GetRowBandThreads()) *
                                                    kItemBandsPerThread);
    if (!ForItemBands(items.size(), [&](int b, std::size_t i0, std::size_t i1) {
            for (size_t i = i0; i < i1; ++i) {
                EdgeQuery query{};
                if (items[i]->hole && MakeQuery(raster, *items[i], static_cast<int>(i), query))
                    bandQueries[static_cast<std::size_t>(b)].push_back(query);
            }
        }))
        throw std::bad_alloc();
    std::vector<EdgeQuery> queries;
    for (const std::vector<EdgeQuery>& band : bandQueries)
        queries.insert(queries.end(), band.begin(), band.end());
    if (queries.empty())
        return owner;
    std::sort(queries.begin(), queries.end());

    // The queries of corner column x (-1 .. width + 1) are [first[x + 1],
    // first[x + 2]); most vertical segments lie on columns without any and
    // cost one lookup.
    const long long lastColumn = raster.GetWidth() + 1;
    std::vector<size_t> first(static_cast<size_t>(lastColumn + 3), queries.size());
    for (size_t q = queries.size(); q-- > 0;)
        first[static_cast<size_t>(queries[q].x + 1)] = q;
    for (size_t x = first.size() - 1; x-- > 0;)
        first[x] = std::min(first[x], first[x + 1]);

    // The smallest item index per hole, whichever band finds it first.
    std::vector<std::atomic<int>> firstOwner(items.size());
    for (std::atomic<int>& o : firstOwner)
        o.store(INT_MAX, std::memory_order_relaxed);
    auto claim = [&](int hole, int item) {
        std::atomic<int>& o = firstOwner[static_cast<size_t>(hole)];
        int current = o.load(std::memory_order_relaxed);
        while (item < current && !o.compare_exchange_weak(current, item, std::memory_order_relaxed)) {
        }
    };
    // The vertical segments of item j claim the query edges they hold.
    auto scan = [&](size_t j) {
        const COutlineNodes& nodes = items[j]->nodes;
        for (UINT i = 1; i < nodes.GetCount(); ++i) {
            const COutlineNode& p = nodes[i - 1];
            const COutlineNode& q = nodes[i];
            long long x = 0;
            if (p.x != q.x || !CornerIndex(p.x, x) || x < -1 || x > lastColumn)
                continue;
            size_t begin = first[static_cast<size_t>(x + 1)];
            size_t end = first[static_cast<size_t>(x + 2)];
            if (begin == end)
                continue;
            long long y0 = 0;
            long long y1 = 0;
            if (!CornerIndex(p.y, y0) || !CornerIndex(q.y, y1))
                continue;
            if (y0 > y1)
                std::swap(y0, y1);
            // Pixel rows y0 .. y1 - 1 lie between the corners.
            auto it = std::lower_bound(queries.begin() + static_cast<std::ptrdiff_t>(begin),
                                       queries.begin() + static_cast<std::ptrdiff_t>(end), EdgeQuery{x, y0, 0});
            for (; it != queries.begin() + static_cast<std::ptrdiff_t>(end) && it->row < y1; ++it)
                claim(it->hole, static_cast<int>(j));
        }
    };
    if (!ForItemBands(items.size(), [&](int, std::size_t j0, std::size_t j1) {
            for (size_t j = j0; j < j1; ++j)
                scan(j);
        }))
        throw std::bad_alloc();
    for (size_t h = 0; h < owner.size(); ++h) {
        const int o = firstOwner[h].load(std::memory_order_relaxed);
        owner[h] = o == INT_MAX ? kNone : o;
    }
    return owner;
}

// For every hole, the index of the outer chain of its region (kNone when it
// cannot be found). A hole whose query edge belongs to another hole shares
// that hole's region.
std::vector<int> FindEnclosingOuters(const std::vector<COutlineItem*>& items, const std::vector<int>& owner)
{
    const size_t count = items.size();
    std::vector<int> outer(count, kNone);
    std::vector<char> known(count, 0);
    std::vector<size_t> path;
    for (size_t i = 0; i < count; ++i) {
        if (!items[i]->hole || known[i])
            continue;
        // Follow hole to hole until an outer chain or a settled hole; the
        // steps are bounded so that hand-made lists with cycles end.
        path.clear();
        size_t at = i;
        int result = kNone;
        for (size_t steps = 0; steps <= count; ++steps) {
            if (known[at]) {
                result = outer[at];
                break;
            }
            path.push_back(at);
            int next = owner[at];
            if (next == kNone)
                break;
            if (!items[static_cast<size_t>(next)]->hole) {
                result = next;
                break;
            }
            at = static_cast<size_t>(next);
        }
        for (size_t hole : path) {
            outer[hole] = result;
            known[hole] = 1;
        }
    }
    return outer;
}

// Reverses items [0, count), end flags included, on the pool.
void ReverseItems(const std::vector<COutlineItem*>& items, std::size_t count)
{
    // Reversing takes no memory, so no band can fail.
    static_cast<void>(ForItemBands(count, [&](int, std::size_t i0, std::size_t i1) {
        for (std::size_t i = i0; i < i1; ++i) {
            std::swap(items[i]->headHorizontal, items[i]->tailHorizontal);
            items[i]->Reverse();
        }
    }));
}

// The box is left to BoxConnections.
void MakeConnection(COutlineConnection& connection, COutlineItem* item)
{
    connection.outer = item;
    if (const COutlineNode* head = item->GetHeadNode())
        connection.innerPoint = COutlineNode(head->x + kInnerPointDx, head->y + kInnerPointDy);
}

// The bounding boxes of the connections' outer chains, on the pool.
void BoxConnections(const std::vector<COutlineConnection*>& made)
{
    // Boxes take no memory, so no band can fail.
    static_cast<void>(ForItemBands(made.size(), [&](int, std::size_t i0, std::size_t i1) {
        for (std::size_t i = i0; i < i1; ++i) {
            COutlineConnection& c = *made[i];
            c.outer->GetBoundingBox(c.minX, c.minY, c.maxX, c.maxY);
        }
    }));
}

}  // namespace

bool COutlineList::AnalyseOutline(CCommonThread* thread, COutlineConnectionList* connections)
{
    const std::string text = GetLanString("ProcessAnalyseOutline", "Analyse Outline");
    if (thread)
        thread->SendProgressText(text.c_str());

    std::vector<COutlineItem*> items;
    std::vector<int> outerOf;
    // The connection of each outer chain, by item index, once made.
    std::vector<COutlineConnection*> connectionOf;
    // The connections made, in order.
    std::vector<COutlineConnection*> made;
    try {
        items.reserve(m_items.GetCount());
        for (ONode<COutlineItem>* node = m_items.GetHead(); node; node = node->next)
            items.push_back(&node->value);
        std::vector<int> owner;
        if (m_source && !m_source->IsEmpty() && m_source->GetBitCount() == 1)
            owner = FindQueryOwners(*m_source, items);
        else
            owner.assign(items.size(), kNone);
        outerOf = FindEnclosingOuters(items, owner);
        connectionOf.assign(items.size(), nullptr);
        made.reserve(items.size());
    } catch (const std::bad_alloc&) {
        if (thread)
            thread->PostRunEnd(RUN_NO_MEMORY);
        return false;
    }

    const size_t count = items.size();
    // A hole left unattached would vanish from the drawing: the run fails
    // instead of finishing without it.
    DWORD failure = RUN_FINISHED;
    unsigned long long counter = 0;
    long long lastPos = -1;
    for (size_t i = 0; i < count; ++i) {
        COutlineItem* item = items[i];
        if (!connections) {
            // Nothing to nest into: only the reversal below.
        } else if (item->hole) {
            const int outer = outerOf[i];
            COutlineConnection* connection = outer != kNone ? connectionOf[static_cast<size_t>(outer)] : nullptr;
            if (!connection) {
                // The hook forwards the box to the user interface's thread.
                ShowMessageBox("Error");
                if (failure == RUN_FINISHED)
                    failure = outer != kNone ? RUN_NO_MEMORY : RUN_FAILED;
            } else if (!connection->holes.AddTail(item)) {
                failure = RUN_NO_MEMORY;
            }
        } else {
            COutlineConnection* connection = connections->AddNew();
            if (connection) {
                MakeConnection(*connection, item);
                connectionOf[i] = connection;
                made.push_back(connection);
            } else {
                failure = RUN_NO_MEMORY;
            }
        }
        if (!thread)
            continue;
        if (thread->IsStopRequested()) {
            // The items up to here are reversed, as a stop leaves them.
            BoxConnections(made);
            ReverseItems(items, i + 1);
            thread->PostRunEnd(RUN_STOPPED);
            return false;
        }
        long long pos = static_cast<long long>(counter / count);
        counter += 100;
        if (pos != lastPos) {
            thread->SendProgressPos(static_cast<DWORD>(pos));
            lastPos = pos;
        }
    }

    BoxConnections(made);
    ReverseItems(items, count);
    if (failure != RUN_FINISHED) {
        if (thread)
            thread->PostRunEnd(failure);
        return false;
    }
    if (thread)
        thread->SendProgressEnd(text.c_str());
    return true;
}
