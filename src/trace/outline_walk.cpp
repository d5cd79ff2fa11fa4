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
// Cost grows with the edges, not the area. Edges are found 64 pixels at a
// time on packed rows (outline_edges.cpp), slabs of rows ahead of the walk on
// the row-band pool; the walk takes them in scan order on the calling thread,
// so the chains never depend on the thread count. Edges of row r touch only
// the corner lines r and r + 1 (corner line k is y = k - 0.5), so the index
// of open chain ends holds just those two lines; an end left on an older line
// can never be matched again.
//
// The walk is a long run of small unpredictable steps, so what it touches per
// edge is kept small: an open chain lives in a little table whose rows are
// reused, with its two ends there and the corners between them in a block
// that grows at both ends (corner_block.h). Joining copies the shorter chain
// onto the longer one, and a flag says when a block runs tail to head. The
// nodes of closed chains are made on the pool behind the walk.
#include "trace/outline.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "model/text_table.h"
#include "raster/row_bands.h"
#include "trace/common_thread.h"
#include "trace/corner_block.h"
#include "trace/outline_edges.h"

namespace {

enum End : int { kHead = 0, kTail = 1 };
enum class ChainState : BYTE { Open, Closed, Joined };

// What the walk keeps of every chain it made, by creation index.
struct ChainInfo {
    int item = -1;  // in the finished items, once closed
    BYTE hole = 0;
    ChainState state = ChainState::Open;
};

// An open chain, in a small table whose rows are reused: every edge reads
// and moves the ends here, and only a turn touches the corner block, which
// holds the corners between the two ends.
struct OpenChain {
    Corner end[2];       // head and tail
    int chain;           // creation index
    BYTE horizontal[2];  // the segment at head / tail is horizontal
    BYTE flipped;        // the block's front is next to the tail
    CCornerBlock inner;
};

// A closed chain on its way to an item: all its corners in the block.
struct ClosedChain {
    CCornerBlock corners;
    int item;
    bool flipped;
    COutlineNodes nodes;  // made from the corners on the pool
};

// The corners as item nodes, head first; throws std::bad_alloc. Touches only
// the chain, so several threads may each make their own.
void MakeNodes(ClosedChain& closed)
{
    const UINT count = closed.corners.Count();
    COutlineNode* nodes = closed.nodes.Resize(count);
    if (!nodes && count > 0)
        throw std::bad_alloc();
    const Corner* corners = closed.corners.begin();
    for (UINT k = 0; k < count; ++k) {
        const Corner& at = corners[closed.flipped ? count - 1 - k : k];
        nodes[k] = COutlineNode(at.x - 0.5, at.y - 0.5);
    }
}

// An open chain's end in the index: the chain's creation index * 2 + end in
// the high half, so the smallest entry is the first chain by creation, its
// head before its tail; the open chain's row * 2 + end in the low half.
using EndEntry = std::uint64_t;
constexpr EndEntry kNoEnd = ~EndEntry{0};
// Flips both halves' end bit: the entry of the chain's other end.
constexpr EndEntry kOtherEnd = 0x100000001u;
constexpr EndEntry MakeEntry(int chain, int open, End end)
{
    return (static_cast<EndEntry>(chain) * 2 + end) << 32 | (static_cast<EndEntry>(open) * 2 + end);
}
constexpr int ChainOf(EndEntry entry) { return static_cast<int>(entry >> 33); }
constexpr int OpenOf(EndEntry entry) { return static_cast<int>((entry & 0xFFFFFFFFu) >> 1); }
constexpr End EndOf(EndEntry entry) { return static_cast<End>(entry & 1); }

// The open ends at one corner. Edges of one row leave at most one end at a
// corner, and a second one lives only until the next edge there joins the
// two; a third would need a broken invariant and is dropped, which keeps its
// chain open rather than corrupting the index.
struct CornerSlot {
    EndEntry entry[2] = {kNoEnd, kNoEnd};
    EndEntry First() const { return std::min(entry[0], entry[1]); }
};

// The open ends on one corner line, by corner column.
class EndLine {
public:
    void Reset(int columns)
    {
        m_slots.assign(static_cast<size_t>(columns), CornerSlot{});
        m_live = 0;
    }
    const CornerSlot& At(int x) const { return m_slots[static_cast<size_t>(x + 1)]; }
    void Add(int x, EndEntry entry)
    {
        CornerSlot& slot = m_slots[static_cast<size_t>(x + 1)];
        EndEntry& e = slot.entry[0] == kNoEnd ? slot.entry[0] : slot.entry[1];
        if (e == kNoEnd) {
            e = entry;
            ++m_live;
        }
    }
    void Remove(int x, EndEntry entry)
    {
        CornerSlot& slot = m_slots[static_cast<size_t>(x + 1)];
        if (slot.entry[0] == entry) {
            slot.entry[0] = kNoEnd;
            --m_live;
        } else if (slot.entry[1] == entry) {
            slot.entry[1] = kNoEnd;
            --m_live;
        }
    }
    // Every end is matched on its own line, so the line is empty when it
    // leaves the index; only a broken invariant leaves ends to wipe.
    void Clear()
    {
        if (m_live != 0)
            std::fill(m_slots.begin(), m_slots.end(), CornerSlot{});
        m_live = 0;
    }

private:
    std::vector<CornerSlot> m_slots;
    int m_live = 0;
};

class COutlineWalk {
public:
    explicit COutlineWalk(int width)
    {
        m_lines[0].Reset(width + 3);
        m_lines[1].Reset(width + 3);
    }

    // Adds the edges of framed row r, pixels in scan order. Each kind of
    // edge knows which corner lines its points lie on.
    void AddRow(int r, const EdgePixel* pixels, const EdgePixel* end)
    {
        BeginRow(r);
        EndLine& top = m_lines[m_top];
        EndLine& bottom = m_lines[m_top ^ 1];
        for (; pixels != end; ++pixels) {
            const int x = static_cast<int>(*pixels >> kEdgeBits) - 1;
            const unsigned edges = *pixels & ((1u << kEdgeBits) - 1);
            if (edges & kNorth)
                AddHorizontal(top, true, Corner{x + 1, r}, Corner{x, r});
            if (edges & kWest)
                AddVertical(top, bottom, Corner{x, r});
            if (edges & kEast)
                AddVertical(top, bottom, Corner{x + 1, r});
            if (edges & kSouth)
                AddHorizontal(bottom, false, Corner{x, r + 1}, Corner{x + 1, r + 1});
        }
    }

    // Chains closed since the last call, to become items.
    std::vector<ClosedChain>& Pending() { return m_pending; }
    // Gives closed chains their nodes (MakeNodes) and frees their corners.
    void TakeNodes(std::vector<ClosedChain>& closed)
    {
        for (ClosedChain& chain : closed)
            m_done[static_cast<size_t>(chain.item)].nodes = std::move(chain.nodes);
        closed.clear();
    }

    // Ends a stopped walk: chains still open become items as they stand.
    void FinishOpenChains();
    // The chains in creation order, joined chains left out, as items. Every
    // pending chain must have been made an item.
    void MoveResultTo(OArray<COutlineItem>& items);

private:
    // Makes row r's corner lines r and r + 1 the indexed ones.
    void BeginRow(int r)
    {
        if (r != m_row) {
            m_lines[m_top].Clear();
            m_top ^= 1;
            m_row = r;
        }
    }

    OpenChain& Open(int open) { return m_open[static_cast<size_t>(open)]; }
    // The block end next to the chain's end.
    static bool AtBack(const OpenChain& c, End end) { return (end == kTail) != (c.flipped != 0); }
    // A turn: the end's corner is kept and a new end starts at `at`.
    static void AddCorner(OpenChain& c, End end, Corner at)
    {
        if (AtBack(c, end))
            c.inner.PushBack(c.end[end]);
        else
            c.inner.PushFront(c.end[end]);
        c.end[end] = at;
    }
    // The ends into the block, or out of it again.
    static void StoreEnds(OpenChain& c)
    {
        const bool headAtBack = AtBack(c, kHead);
        (headAtBack ? c.inner.PushBack(c.end[kHead]) : c.inner.PushFront(c.end[kHead]));
        (headAtBack ? c.inner.PushFront(c.end[kTail]) : c.inner.PushBack(c.end[kTail]));
    }
    static void LoadEnds(OpenChain& c)
    {
        const bool headAtBack = AtBack(c, kHead);
        c.end[kHead] = headAtBack ? c.inner.PopBack() : c.inner.PopFront();
        c.end[kTail] = headAtBack ? c.inner.PopFront() : c.inner.PopBack();
    }
    int NewOpen();
    void FreeOpen(int open)
    {
        m_open[static_cast<size_t>(open)].inner.Release();
        m_open[static_cast<size_t>(open)].chain = -1;
        m_freeOpen.push_back(open);
    }

    // A vertical edge from `top` down one corner: only its top point can
    // hold an end, since nothing before it in scan order touches its bottom.
    void AddVertical(EndLine& top, EndLine& bottom, Corner p)
    {
        const EndEntry match = top.At(p.x).First();
        const Corner q{p.x, p.y + 1};
        if (match == kNoEnd) {
            StartChain(false, p, &top, q, &bottom);
            return;
        }
        const End end = EndOf(match);
        OpenChain& c = Open(OpenOf(match));
        top.Remove(p.x, match);
        if (c.horizontal[end])
            AddCorner(c, end, q);
        else
            c.end[end] = q;
        c.horizontal[end] = 0;
        bottom.Add(q.x, match);
    }
    void AddHorizontal(EndLine& line, bool north, Corner p, Corner q);
    void StartChain(bool north, Corner p, EndLine* pLine, Corner q, EndLine* qLine);
    void Join(EndLine& line, EndEntry first, EndEntry second);
    void Finish(int open, ChainState state);

    int m_row = INT_MIN;
    int m_top = 0;  // index of the line of corner row m_row in m_lines
    EndLine m_lines[2];
    CCornerPool m_pool;  // before every holder of blocks, which give them back
    std::vector<OpenChain> m_open;
    std::vector<int> m_freeOpen;
    std::vector<ChainInfo> m_chains;
    std::vector<COutlineItem> m_done;    // items of closed chains, in closing order
    std::vector<ClosedChain> m_pending;  // closed chains not yet made items
};

int COutlineWalk::NewOpen()
{
    if (!m_freeOpen.empty()) {
        const int open = m_freeOpen.back();
        m_freeOpen.pop_back();
        return open;
    }
    if (m_open.size() >= static_cast<size_t>(INT_MAX / 2))
        throw std::bad_alloc();
    m_open.emplace_back();
    return static_cast<int>(m_open.size() - 1);
}

void COutlineWalk::StartChain(bool north, Corner p, EndLine* pLine, Corner q, EndLine* qLine)
{
    if (m_chains.size() >= static_cast<size_t>(INT_MAX / 2))
        throw std::bad_alloc();
    const int chain = static_cast<int>(m_chains.size());
    m_chains.emplace_back().hole = north ? 1 : 0;
    const int open = NewOpen();
    OpenChain& c = Open(open);
    c.inner.SetPool(&m_pool);
    c.end[kHead] = p;
    c.end[kTail] = q;
    c.chain = chain;
    c.flipped = 0;
    // Only a horizontal edge starts a chain from a raster.
    const BYTE horizontal = pLine == qLine ? 1 : 0;
    c.horizontal[kHead] = c.horizontal[kTail] = horizontal;
    pLine->Add(p.x, MakeEntry(chain, open, kHead));
    qLine->Add(q.x, MakeEntry(chain, open, kTail));
}

void COutlineWalk::AddHorizontal(EndLine& line, bool north, Corner p, Corner q)
{
    const EndEntry match = std::min(line.At(p.x).First(), line.At(q.x).First());
    if (match == kNoEnd) {
        StartChain(north, p, &line, q, &line);
        return;
    }

    const End end = EndOf(match);
    OpenChain& c = Open(OpenOf(match));
    const Corner at = c.end[end];
    // The end sits at p or at q; the edge takes it to the other one.
    const Corner to{p.x ^ q.x ^ at.x, p.y};

    line.Remove(at.x, match);
    // Collinear edges move the end corner; a turn adds a corner.
    if (c.horizontal[end])
        c.end[end] = to;
    else
        AddCorner(c, end, to);
    c.horizontal[end] = 1;

    const End otherEnd = end == kHead ? kTail : kHead;
    if (c.end[otherEnd] == to) {
        line.Remove(to.x, match ^ kOtherEnd);
        Finish(OpenOf(match), ChainState::Closed);
        return;
    }
    // The first other chain with an end at `to`.
    const CornerSlot& slot = line.At(to.x);
    EndEntry second = kNoEnd;
    for (EndEntry entry : slot.entry)
        if (entry != kNoEnd && ChainOf(entry) != c.chain)
            second = std::min(second, entry);
    if (second != kNoEnd)
        Join(line, match, second);
    else
        line.Add(to.x, match);
}

// The first chain's end and the second chain's end meet at one corner: the
// second chain's corners continue the first past it, the corner at the meet
// stays once, and the second chain's far end becomes the first chain's end.
void COutlineWalk::Join(EndLine& line, EndEntry firstEntry, EndEntry secondEntry)
{
    const int firstOpen = OpenOf(firstEntry);
    const int secondOpen = OpenOf(secondEntry);
    const End firstEnd = EndOf(firstEntry);
    const End secondEnd = EndOf(secondEntry);
    const End farEnd = secondEnd == kHead ? kTail : kHead;
    const End firstOther = firstEnd == kHead ? kTail : kHead;
    OpenChain& a = Open(firstOpen);
    OpenChain& b = Open(secondOpen);

    line.Remove(b.end[secondEnd].x, secondEntry);
    // The far end lies on either indexed line.
    const Corner far = b.end[farEnd];
    EndLine& farLine = far.y == m_row ? m_lines[m_top] : m_lines[m_top ^ 1];
    if (far.y == m_row || far.y == m_row + 1)
        farLine.Remove(far.x, secondEntry ^ kOtherEnd);
    StoreEnds(a);
    StoreEnds(b);

    // The shorter chain's corners after the meet, nearest first, onto the
    // longer one's meeting end.
    auto append = [](const OpenChain& from, bool fromBack, OpenChain& to, bool toBack) {
        const UINT count = from.inner.Count();
        const Corner* corners = from.inner.begin();
        for (UINT k = 1; k < count; ++k) {
            const Corner corner = corners[fromBack ? count - 1 - k : k];
            toBack ? to.inner.PushBack(corner, count - k) : to.inner.PushFront(corner, count - k);
        }
    };
    if (a.inner.Count() >= b.inner.Count()) {
        append(b, AtBack(b, secondEnd), a, AtBack(a, firstEnd));
    } else {
        // Then b's block becomes a's: a's far end now sits where b's meeting
        // end was.
        const bool toBack = AtBack(b, secondEnd);
        append(a, AtBack(a, firstEnd), b, toBack);
        a.flipped = static_cast<BYTE>((firstOther == kTail) != toBack);
        a.inner = std::move(b.inner);
    }
    LoadEnds(a);

    a.horizontal[firstEnd] = b.horizontal[farEnd];
    m_chains[static_cast<size_t>(b.chain)].state = ChainState::Joined;
    FreeOpen(secondOpen);
    const EndEntry entry = MakeEntry(a.chain, firstOpen, firstEnd);
    if (far.y == m_row || far.y == m_row + 1)
        farLine.Add(far.x, entry);
}

// The chain becomes an item; its nodes are made later, on the pool.
void COutlineWalk::Finish(int open, ChainState state)
{
    OpenChain& c = Open(open);
    ChainInfo& info = m_chains[static_cast<size_t>(c.chain)];
    info.state = state;
    info.item = static_cast<int>(m_done.size());
    COutlineItem& item = m_done.emplace_back();
    item.closed = state == ChainState::Closed ? 1 : 0;
    item.headHorizontal = c.horizontal[kHead];
    item.tailHorizontal = c.horizontal[kTail];
    item.hole = info.hole;
    StoreEnds(c);
    m_pending.push_back(ClosedChain{std::move(c.inner), info.item, c.flipped != 0, {}});
    FreeOpen(open);
}

void COutlineWalk::FinishOpenChains()
{
    for (size_t i = 0; i < m_open.size(); ++i)
        if (m_open[i].chain >= 0)
            Finish(static_cast<int>(i), ChainState::Open);
}

void COutlineWalk::MoveResultTo(OArray<COutlineItem>& items)
{
    for (const ChainInfo& c : m_chains)
        if (c.state != ChainState::Joined && c.item >= 0)
            items.AddTail(std::move(m_done[static_cast<size_t>(c.item)]));
    m_done.clear();
    m_chains.clear();
    m_open.clear();
    m_freeOpen.clear();
}

// The walk on the calling thread, with helpers on the pool that find the
// edges of the slabs ahead of it and make the nodes of the chains it closed
// behind it. A slab's edges live in a ring of buffers; the walk takes a slab
// that no helper has claimed yet itself, so it never waits for work that
// nobody runs (as when the pool runs the bands one after another).
class COutlineTracer {
public:
    COutlineTracer(const CRasterSrc& raster, CCommonThread* thread, int threads)
        : m_raster(raster), m_thread(thread), m_walk(raster.GetWidth()),
          m_slabs((raster.GetHeight() + 2 + kSlabRows - 1) / kSlabRows),
          m_ring(static_cast<size_t>(kSlabsAheadPerThread * threads + 2)), m_found(m_ring.size(), -1)
    {}

    // RUN_FINISHED, RUN_STOPPED or RUN_NO_MEMORY; the items hold what was
    // traced unless memory ran short.
    DWORD Run(OArray<COutlineItem>& items, int threads)
    {
        RunBands(threads, [&](int band) {
            if (band == 0)
                Walk();
            else
                Help();
        });
        if (m_failed)
            return RUN_NO_MEMORY;
        m_walk.MoveResultTo(items);
        return m_stopped ? RUN_STOPPED : RUN_FINISHED;
    }

private:
    // Framed rows [-1, height] in slabs of kSlabRows: small enough that a
    // slab's edges stay in cache until the walk reads them.
    static constexpr int kSlabRows = 64;
    // Slabs found ahead of the walk, per thread, besides the one walked.
    static constexpr int kSlabsAheadPerThread = 2;
    // Batches of closed chains left for helpers before the walk makes one.
    static constexpr int kMaxWaitingBatches = 2;

    struct Batch {
        std::vector<ClosedChain> chains;
        bool taken = false;
        bool done = false;
    };

    CRowEdges& Ring(int slab) { return m_ring[static_cast<size_t>(slab) % m_ring.size()]; }

    void Find(int slab)
    {
        const int r0 = slab * kSlabRows - 1;
        const int r1 = std::min(r0 + kSlabRows, m_raster.GetHeight() + 1);
        FindRowEdges(m_raster, r0, r1, Ring(slab));
    }

    void Walk()
    {
        try {
            long long lastPos = -1;
            const int height = m_raster.GetHeight();
            for (int slab = 0; slab < m_slabs && !m_stopped; ++slab) {
                WaitForEdges(slab);
                const CRowEdges& edges = Ring(slab);
                int r = slab * kSlabRows - 1;
                size_t begin = 0;
                for (size_t end : edges.rowEnd) {
                    m_walk.AddRow(r, edges.pixels.data() + begin, edges.pixels.data() + end);
                    begin = end;
                    if (m_thread) {
                        if (m_thread->IsStopRequested()) {
                            m_stopped = true;
                            break;
                        }
                        // The frame row above the raster would give a negative position.
                        const long long pos = std::max(0LL, static_cast<long long>(r) * 100 / height);
                        if (pos != lastPos) {
                            m_thread->SendProgressPos(static_cast<DWORD>(pos));
                            lastPos = pos;
                        }
                    }
                    ++r;
                }
                SlabWalked(slab + 1);
            }
            // A stopped walk: chains still open become items as they stand.
            if (m_stopped)
                m_walk.FinishOpenChains();
            SlabWalked(m_slabs);
        } catch (const std::bad_alloc&) {
            Fail();
        }
        std::unique_lock lock(m_mutex);
        m_walkDone = true;
        m_changed.notify_all();
        // Help with the batches left, then take every batch's nodes.
        while (!m_failed && !m_batches.empty()) {
            if (Batch* batch = NextBatch()) {
                MakeBatch(lock, *batch);
            } else if (m_batches.front().done) {
                TakeFront(lock);
            } else {
                m_changed.wait(lock);
            }
        }
    }

    // The slab's edges, found here unless a helper claimed them.
    void WaitForEdges(int slab)
    {
        std::unique_lock lock(m_mutex);
        if (m_nextFind <= slab) {
            m_nextFind = slab + 1;
            lock.unlock();
            Find(slab);
            return;
        }
        m_changed.wait(lock, [&] { return m_found[static_cast<size_t>(slab) % m_found.size()] == slab || m_failed; });
        if (m_failed)
            throw std::bad_alloc();
    }

    // Slabs before `walked` are done with; the chains they closed wait for
    // their nodes, and batches that have them give them to their items.
    void SlabWalked(int walked)
    {
        std::unique_lock lock(m_mutex);
        m_walked = walked;
        if (!m_walk.Pending().empty()) {
            m_batches.emplace_back().chains.swap(m_walk.Pending());
        }
        m_changed.notify_all();
        // Without helpers (one thread, or a busy pool) the walk makes the
        // nodes itself rather than keep every closed chain's corners.
        int waiting = 0;
        for (const Batch& batch : m_batches)
            waiting += batch.taken ? 0 : 1;
        if (waiting > kMaxWaitingBatches)
            if (Batch* batch = NextBatch())
                MakeBatch(lock, *batch);
        while (!m_batches.empty() && m_batches.front().done)
            TakeFront(lock);
    }

    // The first batch nobody took; null when none. Called locked.
    Batch* NextBatch()
    {
        for (Batch& batch : m_batches)
            if (!batch.taken)
                return &batch;
        return nullptr;
    }

    void MakeBatch(std::unique_lock<std::mutex>& lock, Batch& batch)
    {
        batch.taken = true;
        lock.unlock();
        bool ok = true;
        try {
            for (ClosedChain& chain : batch.chains)
                MakeNodes(chain);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        lock.lock();
        batch.done = true;
        if (!ok)
            m_failed = true;
        m_changed.notify_all();
    }

    // Called locked, with the front batch done; the walk's thread only.
    void TakeFront(std::unique_lock<std::mutex>& lock)
    {
        std::vector<ClosedChain> chains;
        chains.swap(m_batches.front().chains);
        m_batches.pop_front();
        lock.unlock();
        m_walk.TakeNodes(chains);
        lock.lock();
    }

    void Help()
    {
        std::unique_lock lock(m_mutex);
        while (!m_failed) {
            if (m_nextFind < m_slabs && m_nextFind < m_walked + static_cast<int>(m_ring.size())) {
                const int slab = m_nextFind++;
                lock.unlock();
                bool ok = true;
                try {
                    Find(slab);
                } catch (const std::bad_alloc&) {
                    ok = false;
                }
                lock.lock();
                m_found[static_cast<size_t>(slab) % m_found.size()] = slab;
                if (!ok)
                    m_failed = true;
                m_changed.notify_all();
            } else if (Batch* batch = NextBatch()) {
                MakeBatch(lock, *batch);
            } else if (m_walkDone) {
                return;
            } else {
                m_changed.wait(lock);
            }
        }
    }

    void Fail()
    {
        std::lock_guard lock(m_mutex);
        m_failed = true;
        m_changed.notify_all();
    }

    const CRasterSrc& m_raster;
    CCommonThread* m_thread;
    COutlineWalk m_walk;  // the walk's thread only
    const int m_slabs;
    bool m_stopped = false;  // the walk's thread only

    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_changed;
    std::vector<CRowEdges> m_ring;  // a slab's buffer belongs to whoever claimed the slab until it is walked
    std::vector<int> m_found;       // the slab each ring buffer last got the edges of
    int m_nextFind = 0;             // the first slab nobody claimed
    int m_walked = 0;               // slabs before this one are walked
    std::deque<Batch> m_batches;    // closed chains in closing order
    bool m_walkDone = false;
    bool m_failed = false;
};

}  // namespace

bool COutlineList::TraceOutline(CCommonThread* thread)
{
    m_items.RemoveAll();
    // Rows wider than an edge pixel can address, and rasters too large for
    // exact node coordinates, are refused, not misread.
    if (!m_source || m_source->IsEmpty() || m_source->GetBitCount() != 1 ||
        m_source->GetWidth() > kMaxEdgeRasterWidth || !FitsNodeCoordinates(*m_source)) {
        if (thread)
            thread->PostRunEnd(RUN_FAILED);
        return false;
    }

    const std::string text = GetLanString("ProcessTraceOutline", "Trace outline");
    if (thread)
        thread->SendProgressText(text.c_str());

    DWORD result = RUN_NO_MEMORY;
    try {
        const int threads = GetRowBandThreads();
        COutlineTracer tracer(*m_source, thread, threads);
        result = tracer.Run(m_items, threads);
    } catch (const std::bad_alloc&) {
        result = RUN_NO_MEMORY;
    }
    if (result == RUN_NO_MEMORY)
        m_items.RemoveAll();
    if (result != RUN_FINISHED) {
        if (thread)
            thread->PostRunEnd(result);
        return false;
    }
    if (thread)
        thread->SendProgressEnd(text.c_str());
    return true;
}
