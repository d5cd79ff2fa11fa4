#pragma once
// Traced chains to entities: every COutlineItem becomes one CPolyLine in
// drawing coordinates, and for the solid outline fill the chains of one
// COutlineConnection (outer border and holes) become one CPolyPolygon.
//
// A chain is first thinned out by a corridor simplification of width d, the
// straighten distance of the method in use (CTraceOption::GetMaxDis): from
// each kept node the farthest node whose chord keeps every node between
// within d is kept next. Chords along a pixel row or column are snapped
// exactly horizontal or vertical. The polyline is then straightened and too
// small results are dropped.
//
// Drawing coordinates of a chain node (x, y) on a raster of height H: (x,
// H - y - 1). Line ends are not filed for connection here: the connect step
// builds its own grid from the layer when it runs.
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "model/polyline.h"
#include "platform/win_types.h"
#include "trace/outline.h"

class CCommonThread;
class CPolyLine;
class CPolyPolygon;
class CRasterSrc;
class CTraceOption;

// Results of OutlineItemToPolyline.
enum : int {
    ITEM_DONE = 0,  // a polyline may or may not have been made
    ITEM_SIMPLIFY_FAILED = -1,
    ITEM_NO_MEMORY = -2,
    ITEM_TOO_SMALL = -3,  // made, then dropped
    ITEM_NO_NODES = -4,   // no item, or fewer than 2 nodes
};

// The parameters of the chord search.
struct CChordSearch {
    double maxDis = 1.0;  // the corridor's half width d; a node exactly at d fits
    UINT stepCap = 128;   // the largest step of the exponential search
};

// The nodes of one chain by index; the pointees are the item's own nodes, so
// snapping changes the item.
using CChainNodes = std::span<COutlineNode* const>;

// Every node strictly between i and j lies within d of the segment from node
// i to node j (or of the nearer end where it projects beyond one). Node j, or
// null when the chord fails.
[[nodiscard]] COutlineNode* ChordFits(CChainNodes nodes, std::size_t i, std::size_t j, double maxDis);
// The farthest node from node i whose chord fits, found by an exponential
// search capped at the step cap and a bisection; sets j to its index. When
// the found node is not the very next one its chord ends are snapped
// (SnapChordEnds). Null when i is the last node.
[[nodiscard]] COutlineNode* FindFarthest(CChainNodes nodes, std::size_t i, std::size_t& j, const CChordSearch& search);
// Makes the chord from node i to node j exactly horizontal or vertical when
// it runs along a pixel column or row and an end lies one pixel off it.
void SnapChordEnds(CChainNodes nodes, std::size_t i, std::size_t j);
// The kept nodes of the item, in order (an open item's first node included,
// a closed item's not: its last node stands for it). The item's nodes may be
// snapped. False for fewer than 2 nodes or when memory ran out.
[[nodiscard]] bool SimplifyItem(COutlineItem& item, std::vector<COutlineNode>& out, const CChordSearch& search);

// A chain's polyline made ahead, on the row-band pool. Polylines made there
// take no entity id: OutlineItemToPolyline hands the ids out later in chain
// order, as a run on one thread would have.
struct CPreparedChain {
    bool ready = false;
    int result = ITEM_DONE;  // what OutlineItemToPolyline returns
    bool made = false;       // a polyline was made, kept or not: it takes an id
    std::unique_ptr<CPolyLine> polyline;
};
// Makes one chain's polyline ahead on the calling thread, as PrepareChains
// does for each of its chains.
void PrepareChain(COutlineItem* item, const CRasterSrc& raster, int dpi, const CTraceOption& options,
                  CPreparedChain& out);
// Makes each chain's polyline as OutlineItemToPolyline would (snapping the
// chain's nodes), on the row-band pool; out gets one record per chain, not
// ready when the pool has one thread.
// Throws std::bad_alloc when the records cannot be made.
void PrepareChains(std::span<COutlineItem* const> items, const CRasterSrc& raster, int dpi, const CTraceOption& options,
                   std::vector<CPreparedChain>& out);

// One polyline from one chain, with the options the run started with (the
// method, its straighten distance and the search step cap). `dpi` is the
// raster's resolution. out is null unless a polyline was made and kept; a
// closed chain gives a closed polyline. Returns one of the ITEM_ codes. A
// chain prepared ahead (PrepareChains) gives its polyline, with its id now.
[[nodiscard]] int OutlineItemToPolyline(COutlineItem* item, const CRasterSrc& raster, std::unique_ptr<CPolyLine>& out,
                                        int dpi, const CTraceOption& options, CPreparedChain* prepared = nullptr);

// One polygon set from a connection: the outer chain first, then the holes
// in order, each closed; the seed point is the connection's inner point in
// drawing coordinates. With a thread, each chain made moves the bar to
// trunc(++counter x share), sent when it differs from the last (or is the
// first). out is null when the outer chain gave no polyline. ITEM_DONE, or
// ITEM_NO_MEMORY with nothing made. prepared, when given, holds the
// connection's chains prepared in the same order (outer, then holes).
[[nodiscard]] int OutlineConnectionToPolyPolygon(const COutlineConnection& connection, const CRasterSrc& raster,
                                                 std::unique_ptr<CPolyPolygon>& out, int dpi, CCommonThread* thread,
                                                 DWORD& counter, double share, const CTraceOption& options,
                                                 CPreparedChain* prepared = nullptr);
