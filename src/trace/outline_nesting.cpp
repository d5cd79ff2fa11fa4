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
#include <bit>
#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "model/text_table.h"
#include "platform/message_box.h"
#include "raster/packed_bits.h"
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

// For every hole, the item that holds its query edge (kNone if none).
std::vector<int> FindQueryOwners(const CRasterSrc& raster, const std::vector<COutlineItem*>& items)
{
    std::vector<int> owner(items.size(), kNone);
    std::vector<EdgeQuery> queries;
    for (size_t i = 0; i < items.size(); ++i) {
        EdgeQuery query{};
        if (items[i]->hole && MakeQuery(raster, *items[i], static_cast<int>(i), query))
            queries.push_back(query);
    }
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

    for (size_t j = 0; j < items.size(); ++j) {
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
                if (owner[static_cast<size_t>(it->hole)] == kNone)
                    owner[static_cast<size_t>(it->hole)] = static_cast<int>(j);
        }
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

void MakeConnection(COutlineConnection& connection, COutlineItem* item)
{
    connection.outer = item;
    item->GetBoundingBox(connection.minX, connection.minY, connection.maxX, connection.maxY);
    if (const COutlineNode* head = item->GetHeadNode())
        connection.innerPoint = COutlineNode(head->x + kInnerPointDx, head->y + kInnerPointDy);
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
    } catch (const std::bad_alloc&) {
        if (thread)
            thread->PostRunEnd(RUN_NO_MEMORY);
        return false;
    }

    const size_t count = items.size();
    unsigned long long counter = 0;
    long long lastPos = -1;
    for (size_t i = 0; i < count; ++i) {
        COutlineItem* item = items[i];
        if (!connections) {
            // Nothing to nest into: only the reversal below.
        } else if (item->hole) {
            const int outer = outerOf[i];
            COutlineConnection* connection =
                outer != kNone ? connectionOf[static_cast<size_t>(outer)] : nullptr;
            // The hook forwards the box to the user interface's thread.
            if (!connection || !connection->holes.AddTail(item))
                ShowMessageBox("Error");
        } else {
            COutlineConnection* connection = connections->AddNew();
            if (connection) {
                MakeConnection(*connection, item);
                connectionOf[i] = connection;
            }
        }
        std::swap(item->headHorizontal, item->tailHorizontal);
        item->Reverse();

        if (!thread)
            continue;
        if (thread->IsStopRequested()) {
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

    if (thread)
        thread->SendProgressEnd(text.c_str());
    return true;
}
