// Outline tracing: the borders between black and white pixels, as closed
// chains of corner points.
//
// The raster is scanned row by row with a one-pixel white frame around it.
// Every white pixel adds its unit edges that face black, in the order N, W,
// E, S; each edge extends the first open chain (in creation order, head
// before tail) that ends at one of its points, or starts a new chain.
// Horizontal edges close a chain whose other end they reach and join two
// chains that meet at their far point. Collinear unit edges merge, so a chain
// keeps only its corners.
//
// Cost grows with the edges, not the area: edges are found 64 pixels at a
// time on packed rows, and the open chain ends are indexed by their corner.
// Edges of row r touch only the corner lines r and r + 1 (corner line k is
// y = k - 0.5), so only ends on those two lines can still be matched and the
// index holds just those two lines; an end left on an older line can never
// be matched again.
//
// Chains are built in a node pool whose nodes keep two unordered neighbour
// links, so joining a chain in reverse costs nothing; a chain becomes a
// COutlineItem as soon as it closes and its pool nodes are reused.
#include "trace/outline.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <new>
#include <vector>

#include "model/text_table.h"
#include "raster/packed_bits.h"
#include "trace/common_thread.h"

namespace {

// A corner in whole numbers: (X, Y) is the point (X - 0.5, Y - 0.5), so pixel
// (x, y) has the corners (x, y), (x + 1, y), (x, y + 1), (x + 1, y + 1).
struct Corner {
    int x;
    int y;
    bool operator==(const Corner&) const = default;
};

enum class EdgeKind { North, West, East, South };

constexpr int kNoNode = -1;

struct PoolNode {
    Corner at;
    int link[2];  // neighbours in the chain, unordered; kNoNode at an end
};

enum End : int { kHead = 0, kTail = 1 };

struct Chain {
    int end[2];         // pool nodes at head and tail
    BYTE horizontal[2]; // the segment at head / tail is horizontal
    BYTE hole = 0;
    bool open = true;
    bool removed = false;  // joined into an earlier chain
    int item = -1;         // in the finished items, once closed
    UINT nodes = 2;
};

// An open chain's end, as the index holds it.
struct EndRef {
    int chain;
    End end;
};

// The open ends at one corner; at most the four unit edges that meet there.
struct CornerSlot {
    static constexpr int kCapacity = 4;
    EndRef refs[kCapacity];
    int count = 0;
};

// The open ends on one corner line, by corner column.
class EndLine {
public:
    void Reset(int columns)
    {
        m_slots.assign(static_cast<size_t>(columns), CornerSlot{});
        m_touched.clear();
    }
    CornerSlot& At(int x) { return m_slots[static_cast<size_t>(x + 1)]; }
    void Add(int x, EndRef ref)
    {
        CornerSlot& slot = At(x);
        if (slot.count == 0)
            m_touched.push_back(x);
        // A fifth end would need a fifth unit edge at the corner; a full slot
        // can only mean a broken invariant, and dropping the end keeps the
        // chain open rather than corrupting the index.
        if (slot.count < CornerSlot::kCapacity)
            slot.refs[slot.count++] = ref;
    }
    void Remove(int x, int chain, End end)
    {
        CornerSlot& slot = At(x);
        for (int i = 0; i < slot.count; ++i)
            if (slot.refs[i].chain == chain && slot.refs[i].end == end) {
                std::copy(slot.refs + i + 1, slot.refs + slot.count, slot.refs + i);
                --slot.count;
                return;
            }
    }
    void Replace(int x, EndRef from, EndRef to)
    {
        CornerSlot& slot = At(x);
        for (int i = 0; i < slot.count; ++i)
            if (slot.refs[i].chain == from.chain && slot.refs[i].end == from.end) {
                slot.refs[i] = to;
                return;
            }
    }
    // Empties the slots used since the last clear.
    void Clear()
    {
        for (int x : m_touched)
            At(x).count = 0;
        m_touched.clear();
    }

private:
    std::vector<CornerSlot> m_slots;
    std::vector<int> m_touched;
};

class COutlineWalk {
public:
    explicit COutlineWalk(int width)
    {
        m_lines[0].Reset(width + 3);
        m_lines[1].Reset(width + 3);
    }

    // Makes row r's corner lines r and r + 1 the indexed ones.
    void BeginRow(int r)
    {
        if (r != m_row) {
            m_lines[m_top].Clear();
            m_top ^= 1;
            m_row = r;
        }
    }

    void AddEdge(EdgeKind kind, Corner p, Corner q);

    // The chains in creation order, joined chains left out, as items.
    void MoveResultTo(OArray<COutlineItem>& items);

private:
    EndLine* LineOf(int y)
    {
        if (y == m_row)
            return &m_lines[m_top];
        if (y == m_row + 1)
            return &m_lines[m_top ^ 1];
        return nullptr;
    }
    void IndexAdd(Corner at, EndRef ref)
    {
        if (EndLine* line = LineOf(at.y))
            line->Add(at.x, ref);
    }
    void IndexRemove(Corner at, int chain, End end)
    {
        if (EndLine* line = LineOf(at.y))
            line->Remove(at.x, chain, end);
    }
    // The first open chain, by creation, with an end at the corner, its head
    // preferred; false when none. A chain to skip may be given.
    bool FindEnd(Corner at, int skip, EndRef& found);
    void Consider(Corner at, int skip, EndRef& best);

    int NewNode(Corner at);
    void FreeNode(int node) { m_free.push_back(node); }
    Corner& EndCorner(const Chain& chain, End end) { return m_pool[static_cast<size_t>(chain.end[end])].at; }
    // Adds a node at the chain's end, linked to the old end node.
    void Extend(int chain, End end, Corner at);

    void StartChain(EdgeKind kind, Corner p, Corner q);
    void Join(int first, End firstEnd, EndRef second);
    void Finish(int chain);

    int m_row = INT_MIN;
    int m_top = 0;  // index of the line of corner row m_row in m_lines
    EndLine m_lines[2];
    std::vector<PoolNode> m_pool;
    std::vector<int> m_free;
    std::vector<Chain> m_chains;
    std::vector<COutlineItem> m_done;  // items of closed chains, in closing order
};

int COutlineWalk::NewNode(Corner at)
{
    if (!m_free.empty()) {
        int node = m_free.back();
        m_free.pop_back();
        m_pool[static_cast<size_t>(node)] = PoolNode{at, {kNoNode, kNoNode}};
        return node;
    }
    m_pool.push_back(PoolNode{at, {kNoNode, kNoNode}});
    return static_cast<int>(m_pool.size() - 1);
}

void COutlineWalk::Extend(int chain, End end, Corner at)
{
    int node = NewNode(at);
    Chain& c = m_chains[static_cast<size_t>(chain)];
    int old = c.end[end];
    PoolNode& oldNode = m_pool[static_cast<size_t>(old)];
    oldNode.link[oldNode.link[0] == kNoNode ? 0 : 1] = node;
    m_pool[static_cast<size_t>(node)].link[0] = old;
    c.end[end] = node;
    ++c.nodes;
}

void COutlineWalk::Consider(Corner at, int skip, EndRef& best)
{
    EndLine* line = LineOf(at.y);
    if (!line)
        return;
    const CornerSlot& slot = line->At(at.x);
    for (int i = 0; i < slot.count; ++i) {
        const EndRef& ref = slot.refs[i];
        if (ref.chain == skip)
            continue;
        if (ref.chain < best.chain || (ref.chain == best.chain && ref.end == kHead))
            best = ref;
    }
}

bool COutlineWalk::FindEnd(Corner at, int skip, EndRef& found)
{
    found = EndRef{INT_MAX, kTail};
    Consider(at, skip, found);
    return found.chain != INT_MAX;
}

void COutlineWalk::StartChain(EdgeKind kind, Corner p, Corner q)
{
    int chain = static_cast<int>(m_chains.size());
    m_chains.emplace_back();
    int head = NewNode(p);
    int tail = NewNode(q);
    m_pool[static_cast<size_t>(head)].link[0] = tail;
    m_pool[static_cast<size_t>(tail)].link[0] = head;
    Chain& c = m_chains.back();
    c.end[kHead] = head;
    c.end[kTail] = tail;
    const bool horizontal = kind == EdgeKind::North || kind == EdgeKind::South;
    c.horizontal[kHead] = c.horizontal[kTail] = horizontal ? 1 : 0;
    c.hole = kind == EdgeKind::North ? 1 : 0;
    IndexAdd(p, EndRef{chain, kHead});
    IndexAdd(q, EndRef{chain, kTail});
}

void COutlineWalk::AddEdge(EdgeKind kind, Corner p, Corner q)
{
    EndRef match{INT_MAX, kTail};
    Consider(p, -1, match);
    Consider(q, -1, match);
    if (match.chain == INT_MAX) {
        StartChain(kind, p, q);
        return;
    }

    const int chain = match.chain;
    const End end = match.end;
    const End otherEnd = end == kHead ? kTail : kHead;
    const Corner at = EndCorner(m_chains[static_cast<size_t>(chain)], end);
    const Corner to = at == p ? q : p;
    const BYTE horizontal = (kind == EdgeKind::North || kind == EdgeKind::South) ? 1 : 0;

    IndexRemove(at, chain, end);
    // Collinear edges move the end node; a turn adds a corner.
    if (m_chains[static_cast<size_t>(chain)].horizontal[end] == horizontal)
        EndCorner(m_chains[static_cast<size_t>(chain)], end) = to;
    else
        Extend(chain, end, to);
    m_chains[static_cast<size_t>(chain)].horizontal[end] = horizontal;

    if (!horizontal) {
        IndexAdd(to, EndRef{chain, end});
        return;
    }
    Chain& c = m_chains[static_cast<size_t>(chain)];
    if (EndCorner(c, otherEnd) == to) {
        IndexRemove(to, chain, otherEnd);
        c.open = false;
        Finish(chain);
        return;
    }
    EndRef second;
    if (FindEnd(to, chain, second))
        Join(chain, end, second);
    else
        IndexAdd(to, EndRef{chain, end});
}

// The first chain's end and the second chain's end meet at one corner: the
// second chain's nodes continue the first past it, its corner node is
// dropped, and its far end becomes the first chain's end.
void COutlineWalk::Join(int first, End firstEnd, EndRef second)
{
    Chain& a = m_chains[static_cast<size_t>(first)];
    Chain& b = m_chains[static_cast<size_t>(second.chain)];
    const End farEnd = second.end == kHead ? kTail : kHead;
    const Corner meet = EndCorner(b, second.end);

    IndexRemove(meet, second.chain, second.end);
    IndexRemove(EndCorner(b, farEnd), second.chain, farEnd);

    int dropped = b.end[second.end];
    PoolNode& droppedNode = m_pool[static_cast<size_t>(dropped)];
    int next = droppedNode.link[0] != kNoNode ? droppedNode.link[0] : droppedNode.link[1];
    int joint = a.end[firstEnd];
    PoolNode& nextNode = m_pool[static_cast<size_t>(next)];
    nextNode.link[nextNode.link[0] == dropped ? 0 : 1] = joint;
    PoolNode& jointNode = m_pool[static_cast<size_t>(joint)];
    jointNode.link[jointNode.link[0] == kNoNode ? 0 : 1] = next;
    FreeNode(dropped);

    a.end[firstEnd] = b.end[farEnd];
    a.horizontal[firstEnd] = b.horizontal[farEnd];
    a.nodes += b.nodes - 1;
    b.removed = true;
    b.open = false;
    IndexAdd(EndCorner(a, firstEnd), EndRef{first, firstEnd});
}

// Makes the chain an item now, so its pool nodes serve later chains.
void COutlineWalk::Finish(int chain)
{
    Chain& c = m_chains[static_cast<size_t>(chain)];
    c.item = static_cast<int>(m_done.size());
    COutlineItem& item = m_done.emplace_back();
    item.closed = c.open ? 0 : 1;
    item.headHorizontal = c.horizontal[kHead];
    item.tailHorizontal = c.horizontal[kTail];
    item.hole = c.hole;
    if (!item.nodes.Reserve(c.nodes))
        throw std::bad_alloc();
    int previous = kNoNode;
    for (int node = c.end[kHead]; node != kNoNode;) {
        const PoolNode& n = m_pool[static_cast<size_t>(node)];
        item.AddTail(n.at.x - 0.5, n.at.y - 0.5);
        int next = n.link[0] != previous ? n.link[0] : n.link[1];
        FreeNode(node);
        previous = node;
        node = next;
    }
}

void COutlineWalk::MoveResultTo(OArray<COutlineItem>& items)
{
    // Chains still open (a stopped walk) become items as they stand.
    for (size_t i = 0; i < m_chains.size(); ++i)
        if (m_chains[i].open)
            Finish(static_cast<int>(i));
    for (size_t i = 0; i < m_chains.size(); ++i)
        if (!m_chains[i].removed)
            items.AddTail(std::move(m_done[static_cast<size_t>(m_chains[i].item)]));
    m_done.clear();
    m_chains.clear();
}

// --- edge detection on packed rows ---
//
// A framed row holds width + 2 pixels: pixel p is raster pixel p - 1, so the
// frame columns -1 and width are pixels 0 and width + 1 (always white). One
// word more than needed stays 0, so the east neighbours of the last word read
// white.

class CFramedRows {
public:
    CFramedRows(const CRasterSrc& raster)
        : m_raster(raster), m_width(raster.GetWidth()), m_height(raster.GetHeight()),
          m_words((m_width + 2 + kWordPixels - 1) / kWordPixels)
    {
        for (auto& row : m_rows)
            row.assign(static_cast<size_t>(m_words + 1), 0);
        m_zero.assign(static_cast<size_t>(m_words + 1), 0);
        m_valid.assign(static_cast<size_t>(m_words), ~PackedWord{0});
        m_valid.back() = LeadingWordMask(m_width + 2 - (m_words - 1) * kWordPixels);
        Load(m_rows[1], -1);
        Load(m_rows[2], 0);
    }

    int Words() const { return m_words; }
    PackedWord Valid(int i) const { return m_valid[static_cast<size_t>(i)]; }

    // Rows r - 1, r and r + 1 of the framed raster for r = -1 .. height; call
    // with r increasing by one from -1. Rows outside the raster are white.
    void Rows(int r, const PackedWord*& up, const PackedWord*& here, const PackedWord*& down)
    {
        if (r >= 0) {
            std::swap(m_rows[0], m_rows[1]);
            std::swap(m_rows[1], m_rows[2]);
            Load(m_rows[2], r + 1);
        }
        up = r >= 0 ? m_rows[0].data() : m_zero.data();
        here = m_rows[1].data();
        down = m_rows[2].data();
    }

private:
    // Raster row y shifted one pixel right behind the frame column.
    void Load(std::vector<PackedWord>& out, int y)
    {
        if (y < 0 || y >= m_height) {
            std::fill(out.begin(), out.end(), 0);
            return;
        }
        const BYTE* row = m_raster.GetRow(y);
        PackedWord carry = 0;
        int x = 0;
        for (int i = 0; i < m_words; ++i, x += kWordPixels) {
            PackedWord raw = 0;
            if (x + kWordPixels <= m_width)
                raw = LoadWord(row + (x >> 3));
            else if (x < m_width)
                raw = LoadPartialWord(row + (x >> 3), PackedRowBytes(m_width - x)) &
                      LeadingWordMask(m_width - x);
            out[static_cast<size_t>(i)] = carry | (raw >> 1);
            carry = raw << (kWordPixels - 1);
        }
        out[static_cast<size_t>(m_words)] = 0;
    }

    const CRasterSrc& m_raster;
    int m_width;
    int m_height;
    int m_words;
    std::vector<PackedWord> m_rows[3];
    std::vector<PackedWord> m_zero;
    std::vector<PackedWord> m_valid;
};

// Adds the edges of framed row r (raster row r, -1 .. height) in scan order.
void AddRowEdges(COutlineWalk& walk, CFramedRows& rows, int r)
{
    const PackedWord* up = nullptr;
    const PackedWord* here = nullptr;
    const PackedWord* down = nullptr;
    rows.Rows(r, up, here, down);
    walk.BeginRow(r);
    const int words = rows.Words();
    for (int i = 0; i < words; ++i) {
        const PackedWord c = here[i];
        const PackedWord white = ~c & rows.Valid(i);
        const PackedWord westBlack = (c >> 1) | (i > 0 ? here[i - 1] << (kWordPixels - 1) : 0);
        const PackedWord eastBlack = (c << 1) | (here[i + 1] >> (kWordPixels - 1));
        const PackedWord n = white & up[i];
        const PackedWord w = white & westBlack;
        const PackedWord e = white & eastBlack;
        const PackedWord s = white & down[i];
        PackedWord any = n | w | e | s;
        while (any) {
            const int j = std::countl_zero(any);
            const PackedWord bit = PackedWord{1} << (kWordPixels - 1 - j);
            any &= ~bit;
            const int x = i * kWordPixels + j - 1;
            if (n & bit)
                walk.AddEdge(EdgeKind::North, Corner{x + 1, r}, Corner{x, r});
            if (w & bit)
                walk.AddEdge(EdgeKind::West, Corner{x, r}, Corner{x, r + 1});
            if (e & bit)
                walk.AddEdge(EdgeKind::East, Corner{x + 1, r}, Corner{x + 1, r + 1});
            if (s & bit)
                walk.AddEdge(EdgeKind::South, Corner{x, r + 1}, Corner{x + 1, r + 1});
        }
    }
}

}  // namespace

bool COutlineList::TraceOutline(CCommonThread* thread)
{
    m_items.RemoveAll();
    if (!m_source || m_source->IsEmpty() || m_source->GetBitCount() != 1) {
        if (thread)
            thread->PostRunEnd(RUN_FAILED);
        return false;
    }

    const std::string text = GetLanString("ProcessTraceOutline", "Trace outline");
    if (thread)
        thread->SendProgressText(text.c_str());

    const int width = m_source->GetWidth();
    const int height = m_source->GetHeight();
    try {
        COutlineWalk walk(width);
        CFramedRows rows(*m_source);
        long long lastPos = -1;
        for (int r = -1; r <= height; ++r) {
            AddRowEdges(walk, rows, r);
            if (!thread)
                continue;
            if (thread->IsStopRequested()) {
                walk.MoveResultTo(m_items);
                thread->PostRunEnd(RUN_STOPPED);
                return false;
            }
            // The frame row above the raster would give a negative position.
            long long pos = std::max(0LL, static_cast<long long>(r) * 100 / height);
            if (pos != lastPos) {
                thread->SendProgressPos(static_cast<DWORD>(pos));
                lastPos = pos;
            }
        }
        walk.MoveResultTo(m_items);
    } catch (const std::bad_alloc&) {
        m_items.RemoveAll();
        if (thread)
            thread->PostRunEnd(RUN_NO_MEMORY);
        return false;
    }

    if (thread)
        thread->SendProgressEnd(text.c_str());
    return true;
}
