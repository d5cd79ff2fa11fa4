// Traced chains to polylines and polygon sets: the corridor simplification
// (chord test, chord search, snapping), then one entity per chain or per
// connection.
#include "trace/items_to_entities.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "model/polygon_set.h"
#include "model/entity.h"
#include "model/polyline.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"
#include "trace/common_thread.h"
#include "trace/polygon_cleanup.h"
#include "trace/straighten.h"
#include "trace/trace_option.h"

namespace {

// Below these the chord has no length, or a node projects outside it.
constexpr double kZeroChordSquared = 1e-10;
constexpr double kProjectionSlack = 1e-5;
// A straighten distance below this switches simplification off.
constexpr double kNoSimplification = 1e-5;
// Centre lines of one short segment are scan noise at real resolutions.
constexpr int kNoiseDpi = 50;
constexpr double kShortCentreLine = 3.0;
// An outline of three vertices shorter than this is a speck.
constexpr double kShortOutline = 3.5;
// Bands of chains per pool thread when polylines are made ahead.
constexpr int kChainBandsPerThread = 4;

double Distance(double ax, double ay, double bx, double by) { return std::hypot(ax - bx, ay - by); }

// Differences of corner or centre coordinates are whole pixels; truncation
// reads them as the pixel offsets they stand for.
bool IsOnePixelOff(double difference) { return std::fabs(std::trunc(difference)) == 1.0; }

bool TruncatesToZero(double difference) { return std::trunc(difference) == 0.0; }

// Throws std::bad_alloc.
void CollectNodes(COutlineItem& item, std::vector<COutlineNode*>& nodes)
{
    nodes.clear();
    nodes.reserve(item.nodes.GetCount());
    for (COutlineNode& node : item.nodes)
        nodes.push_back(&node);
}

// The lists one chain is simplified in, kept by each thread from chain to
// chain: a page has hundreds of thousands of chains.
struct CSimplifyLists {
    std::vector<COutlineNode*> nodes;
    std::vector<COutlineNode> kept;
};

// Lists grown past this by a long chain are let go at the next chain.
constexpr std::size_t kKeptListNodes = 1 << 16;

CSimplifyLists& ThreadSimplifyLists()
{
    thread_local CSimplifyLists lists;
    if (lists.nodes.capacity() > kKeptListNodes || lists.kept.capacity() > kKeptListNodes)
        lists = CSimplifyLists();
    return lists;
}

// A closed chain repeats its first node at its end. A hole's chain closes in
// the middle of its bottom side, and the first chord from there may cut the
// corner that follows; such a chain is walked from that corner instead (its
// start lies on a straight side and adds nothing). The corner then stands at
// both ends, as one node, so snapping it moves both.
void StartClosedChainAtCorner(std::vector<COutlineNode*>& nodes)
{
    const std::size_t count = nodes.size();
    if (count < 4)
        return;
    const COutlineNode& start = *nodes[0];
    const COutlineNode& end = *nodes[count - 1];
    const COutlineNode& before = *nodes[count - 2];
    const COutlineNode& after = *nodes[1];
    if (end.x != start.x || end.y != start.y)
        return;
    const double inX = start.x - before.x, inY = start.y - before.y;
    const double outX = after.x - start.x, outY = after.y - start.y;
    if (inX * outY - inY * outX != 0 || inX * outX + inY * outY <= 0)
        return;
    nodes.erase(nodes.begin());
    nodes.back() = nodes.front();
}

// SimplifyItem's body; throws std::bad_alloc.
bool SimplifyNodes(CChainNodes nodes, bool closed, std::vector<COutlineNode>& out, const CChordSearch& search)
{
    out.clear();
    const std::size_t count = nodes.size();
    if (count < 2)
        return false;
    // copiedFrom: the index whose node out's last element copies; snapping
    // may move that node afterwards, and the copy must follow it.
    std::size_t copiedFrom = count;
    if (!closed) {
        out.push_back(*nodes[0]);
        copiedFrom = 0;
    }
    std::size_t i = 0;
    std::size_t j = 0;
    do {
        COutlineNode* node = FindFarthest(nodes, i, j, search);
        if (!node)
            return false;
        if (copiedFrom == i)
            out.back() = *nodes[i];
        out.push_back(*node);
        copiedFrom = j;
        i = j;
    } while (j < count - 1);
    return true;
}

// Drawing coordinates: y flipped to grow upwards, one unit per pixel.
double DrawingY(double y, int height) { return height - y - 1.0; }

// A polyline with an id, or without one when made ahead on the pool.
std::unique_ptr<CPolyLine> NewPolyline(bool deferId)
{
    return deferId ? std::make_unique<CPolyLine>(CEntity::DeferredId{}) : std::make_unique<CPolyLine>();
}

std::unique_ptr<CPolyLine> NodesToPolyline(const std::vector<COutlineNode>& nodes, bool closed, int height,
                                           bool deferId)
{
    auto polyline = NewPolyline(deferId);
    if (closed) {
        // A closed chain's last node stands for its first.
        polyline->AddPoint(nodes.back().x, DrawingY(nodes.back().y, height));
        polyline->m_Closed = true;
    }
    for (const COutlineNode& node : nodes)
        polyline->AddPoint(node.x, DrawingY(node.y, height));
    return polyline;
}

// Throws std::bad_alloc. made: a polyline was made (and took an id unless
// deferId), whether or not it was kept.
int ItemToPolyline(COutlineItem& item, int height, std::unique_ptr<CPolyLine>& out, int dpi,
                   const CTraceOption& options, bool deferId, bool& made)
{
    made = false;
    const double maxDis = options.GetMaxDis();
    if (maxDis < kNoSimplification) {
        if (item.GetNodeCount() < 2)
            return ITEM_NO_NODES;
        auto polyline = NewPolyline(deferId);
        made = true;
        for (const COutlineNode& node : item.nodes)
            polyline->AddPoint(node.x, DrawingY(node.y, height));
        polyline->m_Closed = item.closed != 0;
        if (!polyline->IsDegenerate())
            out = std::move(polyline);
        return ITEM_DONE;
    }

    CSimplifyLists& lists = ThreadSimplifyLists();
    std::vector<COutlineNode>& kept = lists.kept;
    std::vector<COutlineNode*>& nodes = lists.nodes;
    CollectNodes(item, nodes);
    if (item.closed)
        StartClosedChainAtCorner(nodes);
    if (!SimplifyNodes(nodes, item.closed != 0, kept, CChordSearch{maxDis, options.i_SearchStepCap}))
        return ITEM_SIMPLIFY_FAILED;
    std::unique_ptr<CPolyLine> polyline = NodesToPolyline(kept, item.closed != 0, height, deferId);
    made = true;
    if (polyline->IsDegenerate())
        return ITEM_TOO_SMALL;
    StraightenPolyline(*polyline, options);

    const int vertices = polyline->GetPointCount();
    switch (options.i_AutoTraceWhat) {
    case TRACE_CENTER_LINE:
        if (dpi > kNoiseDpi && vertices <= 2 && polyline->GetLength() <= kShortCentreLine)
            return ITEM_TOO_SMALL;
        break;
    case TRACE_OUTLINE:
        if (vertices < 3 || (vertices == 3 && polyline->GetLength() < kShortOutline))
            return ITEM_TOO_SMALL;
        break;
    default: break;
    }
    out = std::move(polyline);
    return ITEM_DONE;
}

void AdvanceBar(CCommonThread* thread, DWORD& counter, double share)
{
    if (!thread)
        return;
    const DWORD before = static_cast<DWORD>(counter * share);
    ++counter;
    const DWORD position = static_cast<DWORD>(counter * share);
    // Each send waits for the receiver: send the first position, then only
    // when the bar moves.
    if (counter == 1 || position != before)
        thread->SendProgressPos(position);
}

}  // namespace

COutlineNode* ChordFits(CChainNodes nodes, std::size_t i, std::size_t j, double maxDis)
{
    const COutlineNode& a = *nodes[i];
    const COutlineNode& b = *nodes[j];
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double chordSquared = dx * dx + dy * dy;
    const double chord = std::sqrt(chordSquared);
    for (std::size_t k = i + 1; k < j; ++k) {
        const COutlineNode& m = *nodes[k];
        double distance;
        if (chordSquared < kZeroChordSquared)
            distance = Distance(m.x, m.y, a.x, a.y);
        else if (dx * (m.x - a.x) + dy * (m.y - a.y) < -kProjectionSlack)
            distance = Distance(m.x, m.y, a.x, a.y);
        else if (dx * (m.x - b.x) + dy * (m.y - b.y) > kProjectionSlack)
            distance = Distance(m.x, m.y, b.x, b.y);
        else
            distance = std::fabs((a.x - m.x) * (b.y - m.y) - (a.y - m.y) * (b.x - m.x)) / chord;
        if (distance > maxDis)
            return nullptr;
    }
    return nodes[j];
}

COutlineNode* FindFarthest(CChainNodes nodes, std::size_t i, std::size_t& j, const CChordSearch& search)
{
    if (nodes.empty() || i >= nodes.size() - 1)
        return nullptr;
    const std::size_t last = nodes.size() - 1;
    if (i + 1 == last) {
        j = last;
        return nodes[last];
    }
    if (i + 2 == last) {
        if (ChordFits(nodes, i, last, search.maxDis)) {
            j = last;
            SnapChordEnds(nodes, i, last);
            return nodes[last];
        }
        j = i + 1;
        return nodes[j];
    }

    // Chords are taken to grow worse with length: nothing past the first
    // failing end is looked at.
    const std::size_t cap = std::max<std::size_t>(search.stepCap, 1);
    std::size_t good = i + 1;
    std::size_t probe = i + 2;
    std::size_t step = 2;
    while (ChordFits(nodes, i, probe, search.maxDis)) {
        good = probe;
        if (probe == last) {
            j = last;
            SnapChordEnds(nodes, i, last);
            return nodes[last];
        }
        step = std::min(step * 2, cap);
        probe = std::min(probe + step, last);
    }
    while (probe - good > 1) {
        const std::size_t mid = (good + probe) / 2;
        if (ChordFits(nodes, i, mid, search.maxDis))
            good = mid;
        else
            probe = mid;
    }
    j = good;
    SnapChordEnds(nodes, i, good);
    return nodes[good];
}

void SnapChordEnds(CChainNodes nodes, std::size_t i, std::size_t j)
{
    if (j <= i || j >= nodes.size())
        return;
    COutlineNode& a = *nodes[i];
    COutlineNode& b = *nodes[j];
    const COutlineNode& s = *nodes[i + 1];
    const COutlineNode& p = *nodes[j - 1];

    if (&s != &p && (s.x != p.x || s.y != p.y)) {
        if (TruncatesToZero(s.x - p.x)) {  // the run between them is vertical
            if (IsOnePixelOff(a.x - s.x))
                a.x = s.x;
            if (IsOnePixelOff(b.x - p.x))
                b.x = s.x;
        } else if (TruncatesToZero(s.y - p.y)) {  // horizontal
            if (IsOnePixelOff(a.y - s.y))
                a.y = s.y;
            if (IsOnePixelOff(b.y - p.y))
                b.y = s.y;
        }
        return;
    }

    const double ax = a.x - s.x;
    const double ay = a.y - s.y;
    const double bx = b.x - p.x;
    const double by = b.y - p.y;
    if (TruncatesToZero(ax)) {
        if (IsOnePixelOff(bx))
            b.x = a.x;
    } else if (TruncatesToZero(ay)) {
        if (IsOnePixelOff(by))
            b.y = a.y;
    } else if (TruncatesToZero(bx)) {
        if (IsOnePixelOff(ax))
            a.x = b.x;
    } else if (TruncatesToZero(by)) {
        if (IsOnePixelOff(ay))
            a.y = b.y;
    }
}

bool SimplifyItem(COutlineItem& item, std::vector<COutlineNode>& out, const CChordSearch& search)
{
    try {
        std::vector<COutlineNode*> nodes;
        CollectNodes(item, nodes);
        if (item.closed)
            StartClosedChainAtCorner(nodes);
        return SimplifyNodes(nodes, item.closed != 0, out, search);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
}

void PrepareChain(COutlineItem* item, const CRasterSrc& raster, int dpi, const CTraceOption& options,
                  CPreparedChain& out)
{
    out.ready = true;
    out.made = false;
    out.polyline.reset();
    if (!item) {
        out.result = ITEM_NO_NODES;
        return;
    }
    try {
        out.result = ItemToPolyline(*item, raster.GetHeight(), out.polyline, dpi, options, true, out.made);
    } catch (const std::bad_alloc&) {
        out.polyline.reset();
        out.result = ITEM_NO_MEMORY;
    }
}

void PrepareChains(std::span<COutlineItem* const> items, const CRasterSrc& raster, int dpi, const CTraceOption& options,
                   std::vector<CPreparedChain>& out)
{
    out.clear();
    out.resize(items.size());
    // On one thread each polyline is made as its turn comes, while its chain
    // is still in the cache.
    if (GetRowBandThreads() == 1)
        return;
    const int count = static_cast<int>(items.size());
    // Chains differ widely in length: more bands than threads even it out.
    const int bands = std::min(count, GetRowBandThreads() * kChainBandsPerThread);
    RunBands(bands, [&](int b) {
        int i0 = 0;
        int i1 = 0;
        RowBandOf(count, bands, b, i0, i1);
        for (int i = i0; i < i1; ++i)
            PrepareChain(items[static_cast<std::size_t>(i)], raster, dpi, options, out[static_cast<std::size_t>(i)]);
    });
}

int OutlineItemToPolyline(COutlineItem* item, const CRasterSrc& raster, std::unique_ptr<CPolyLine>& out, int dpi,
                          const CTraceOption& options, CPreparedChain* prepared)
{
    out.reset();
    if (prepared && prepared->ready) {
        if (prepared->made) {
            // The id a polyline made here would have taken.
            const std::uint32_t id = TakeNextId();
            if (prepared->polyline)
                prepared->polyline->m_Id = id;
        }
        out = std::move(prepared->polyline);
        return prepared->result;
    }
    if (!item)
        return ITEM_NO_NODES;
    try {
        bool made = false;
        return ItemToPolyline(*item, raster.GetHeight(), out, dpi, options, false, made);
    } catch (const std::bad_alloc&) {
        out.reset();
        return ITEM_NO_MEMORY;
    }
}

int OutlineConnectionToPolyPolygon(const COutlineConnection& connection, const CRasterSrc& raster,
                                   std::unique_ptr<CPolyPolygon>& out, int dpi, CCommonThread* thread, DWORD& counter,
                                   double share, const CTraceOption& options, CPreparedChain* prepared)
{
    out.reset();
    std::unique_ptr<CPolyLine> outline;
    if (OutlineItemToPolyline(connection.outer, raster, outline, dpi, options, prepared) == ITEM_NO_MEMORY)
        return ITEM_NO_MEMORY;
    if (!outline)
        return ITEM_DONE;
    AdvanceBar(thread, counter, share);

    try {
        auto polygon = std::make_unique<CPolyPolygon>();
        outline->m_Closed = true;
        polygon->AddOutline(std::move(outline));
        polygon->m_SeedPoint =
            frDoublePoint{connection.innerPoint.x, DrawingY(connection.innerPoint.y, raster.GetHeight())};

        const ONode<COutlineItem*>* hole = connection.holes.GetHead();
        for (UINT k = 0; hole && k < connection.holes.GetCount(); ++k, hole = hole->next) {
            if (OutlineItemToPolyline(hole->value, raster, outline, dpi, options,
                                      prepared ? prepared + 1 + k : nullptr) == ITEM_NO_MEMORY)
                return ITEM_NO_MEMORY;
            AdvanceBar(thread, counter, share);
            if (outline) {
                outline->m_Closed = true;
                polygon->AddOutline(std::move(outline));
            }
        }
        CleanTracedPolygon(*polygon);
        out = std::move(polygon);
    } catch (const std::bad_alloc&) {
        return ITEM_NO_MEMORY;
    }
    return ITEM_DONE;
}
