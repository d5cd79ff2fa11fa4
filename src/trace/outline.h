#pragma once
// The tracing workspace of one raster and its records, shared by the outline
// and centre-line methods, with the small raster probes every tracing kernel
// uses.
//
// Coordinates: pixel (x, y) has its centre at (x, y); x grows to the right,
// y downwards (row 0 is the top row). Outline corners lie on half-integers
// (x +- 0.5, y +- 0.5); centre-line nodes are pixel centres. A set bit of the
// one-bit raster is foreground (black).
//
// Outline tracing makes one closed chain of corner points per border between
// black and white: only the corners are kept (collinear unit edges merge),
// the chain's head and tail nodes coincide, and a chain whose first edge in
// scan order was the top of a white region is a hole. AnalyseOutline then
// nests the holes into the outer chains as COutlineConnection records and
// reverses every chain.
//
// Ownership: the list owns its items and the two workspace rasters (working
// and node); it only uses the source raster. Connections point into the
// items and are freed before them.
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "model/list.h"
#include "platform/win_types.h"
#include "raster/raster_src.h"

class CCommonThread;

// 8-neighbourhood direction codes, used as bit masks of a pixel's neighbours.
enum : BYTE {
    DIR_NW = 1,
    DIR_N = 2,
    DIR_NE = 4,
    DIR_W = 8,
    DIR_E = 16,
    DIR_SW = 32,
    DIR_S = 64,
    DIR_SE = 128,
};

// Rasters traced are at most this many pixels a side: node coordinates are
// stored in single precision, exact up to here for the half and quarter
// pixels they hold.
constexpr int kMaxTraceRasterSide = 1 << 22;

inline bool FitsNodeCoordinates(const CRasterSrc& raster)
{
    return raster.GetWidth() <= kMaxTraceRasterSide && raster.GetHeight() <= kMaxTraceRasterSide;
}

// A node coordinate, stored in single precision and read as a double, so
// that arithmetic on nodes never rounds to single precision. An A0 page has
// tens of millions of corners; this halves what they take.
class CNodeCoordinate {
public:
    constexpr CNodeCoordinate() = default;
    constexpr CNodeCoordinate(double value) : m_value(static_cast<float>(value)) {}
    constexpr operator double() const { return m_value; }

private:
    float m_value = 0.0f;
};

// A corner of an outline or a node of a centre line. Plain data: a chain
// holds its nodes in one block.
class COutlineNode {
public:
    COutlineNode() = default;
    COutlineNode(double nx, double ny, BYTE nflag = 0) : x(nx), y(ny), flag(nflag) {}

    CNodeCoordinate x;
    CNodeCoordinate y;
    BYTE flag = 0;  // 0 as created; copied unchanged
};

static_assert(std::is_trivially_copyable_v<COutlineNode> && std::is_trivially_destructible_v<COutlineNode>,
              "node blocks are raw storage");

// The nodes of one chain, head to tail, in one block of memory: an A0 page
// has millions of outline corners, and a heap node for each would take more
// than the raster itself. A block that fills up grows with room at the end
// that was being added to, so chains grown at both ends (centre lines) still
// add in constant time on average.
class COutlineNodes {
public:
    COutlineNodes() = default;
    // Copies go through COutlineItem, which reports a short allocation.
    COutlineNodes(const COutlineNodes&) = delete;
    COutlineNodes& operator=(const COutlineNodes&) = delete;
    COutlineNodes(COutlineNodes&& other) noexcept { *this = std::move(other); }
    COutlineNodes& operator=(COutlineNodes&& other) noexcept
    {
        if (this != &other) {
            m_data = std::move(other.m_data);
            m_first = std::exchange(other.m_first, 0);
            m_count = std::exchange(other.m_count, 0);
            m_capacity = std::exchange(other.m_capacity, 0);
        }
        return *this;
    }

    UINT GetCount() const { return m_count; }
    UINT GetCapacity() const { return m_capacity; }
    bool IsEmpty() const { return m_count == 0; }
    COutlineNode* begin() const { return m_data.get() + m_first; }
    COutlineNode* end() const { return begin() + m_count; }
    // i < GetCount().
    COutlineNode& operator[](std::size_t i) const { return begin()[i]; }

    // False, adding nothing, when memory is short.
    bool AddTail(const COutlineNode& node);
    bool AddHead(const COutlineNode& node);
    void RemoveHead();
    void RemoveTail();
    void Reverse();
    // Room for count nodes in all, so that adding up to there never
    // reallocates; false when memory is short.
    bool Reserve(UINT count);
    // Replaces the nodes by count nodes whose values the caller writes
    // before any other use; null (and no nodes) when memory is short.
    COutlineNode* Resize(UINT count);
    void RemoveAll();

private:
    // Blocks are raw storage, so that a fresh block's pages are first touched
    // by whoever writes its nodes (the outline walk fills them on the pool).
    struct BlockDeleter {
        void operator()(COutlineNode* block) const { ::operator delete(block); }
    };
    using Block = std::unique_ptr<COutlineNode[], BlockDeleter>;
    static Block NewBlock(UINT count);

    // A block of newCapacity nodes with the nodes placed at first.
    bool Move(UINT newCapacity, UINT first);
    bool Grow(bool atHead);

    Block m_data;
    UINT m_first = 0;  // index of the head node in the block
    UINT m_count = 0;
    UINT m_capacity = 0;
};

// One traced chain, head to tail.
class COutlineItem {
public:
    COutlineItem() = default;
    // Copies the nodes and the four flags.
    COutlineItem(const COutlineItem& other);
    COutlineItem& operator=(const COutlineItem& other);
    COutlineItem(COutlineItem&& other) noexcept = default;
    COutlineItem& operator=(COutlineItem&& other) noexcept = default;
    virtual ~COutlineItem() = default;

    // A node (flag 0) at either end; false, adding nothing, when memory is
    // short.
    bool AddHead(double x, double y);
    bool AddTail(double x, double y);
    void RemoveHead();
    void RemoveTail();
    // Head becomes tail: the nodes run the other way. The flags stay;
    // callers that keep end flags swap them themselves.
    void Reverse();
    // min x, min y, max x, max y of the nodes; all 0 for an empty chain.
    void GetBoundingBox(double& minX, double& minY, double& maxX, double& maxY) const;
    // Appends a copy of this item at the list's tail; false when memory is short.
    bool AppendCopyTo(OArray<COutlineItem>& list) const;

    // Null for an empty chain.
    COutlineNode* GetHeadNode() const { return nodes.IsEmpty() ? nullptr : nodes.begin(); }
    COutlineNode* GetTailNode() const { return nodes.IsEmpty() ? nullptr : nodes.end() - 1; }
    UINT GetNodeCount() const { return nodes.GetCount(); }

    COutlineNodes nodes;
    BYTE closed = 0;          // the chain came back to its start
    BYTE tailHorizontal = 0;  // the segment at the tail is horizontal
    BYTE headHorizontal = 0;  // the segment at the head is horizontal
    BYTE hole = 0;            // an inner border (the top of a white region came first)
};

// One outer chain with the holes nested in it: one polygon set.
struct COutlineConnection {
    double minX = 0.0;  // bounding box of the outer chain's nodes
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;
    COutlineNode innerPoint;        // the outer chain's head + (0.25, -0.25)
    COutlineItem* outer = nullptr;  // not owned: an item of the workspace
    OArray<COutlineItem*> holes;    // not owned; in discovery order
};

using COutlineConnectionList = OArray<COutlineConnection>;

class COutlineList {
public:
    // No workspace rasters and no items; the source stays the caller's.
    explicit COutlineList(CRasterSrc* source);
    COutlineList(const COutlineList&) = delete;
    COutlineList& operator=(const COutlineList&) = delete;
    virtual ~COutlineList();

    // --- outline method (outline.cpp) ---
    // Deletes the workspace rasters, traces the outlines and, when
    // connections are given, nests them. False when a step stopped or
    // failed; that step has posted the run's code.
    [[nodiscard]] bool TraceOutlines(CCommonThread* thread, COutlineConnectionList* connections);
    // Replaces the items by the closed borders of the source raster. On stop
    // (code 10) the items hold what was traced so far.
    [[nodiscard]] bool TraceOutline(CCommonThread* thread);
    // Adds one connection per outer chain to the list and attaches every hole
    // to the connection of the outer chain that directly encloses it; then
    // reverses every item. A hole with no enclosing chain is reported and
    // stays unattached.
    [[nodiscard]] bool AnalyseOutline(CCommonThread* thread, COutlineConnectionList* connections);

    // --- centre-line method (centre_line.cpp) ---
    [[nodiscard]] bool TraceCenterLines(CCommonThread* thread);
    [[nodiscard]] bool TraceCenterInit(CCommonThread* thread);
    [[nodiscard]] bool TraceCenterLine(CCommonThread* thread);

    // Deletes the working and the node raster; every kernel calls it first.
    void DeleteWorkspace();

    OArray<COutlineItem>& GetItems() { return m_items; }
    const OArray<COutlineItem>& GetItems() const { return m_items; }
    CRasterSrc* GetSourceRaster() const { return m_source; }
    CRasterSrc* GetWorkingRaster() const { return m_working.get(); }
    CRasterSrc* GetNodeRaster() const { return m_nodeRaster.get(); }
    // Replace (and delete) a workspace raster; null deletes it.
    void SetWorkingRaster(std::unique_ptr<CRasterSrc> raster) { m_working = std::move(raster); }
    void SetNodeRaster(std::unique_ptr<CRasterSrc> raster) { m_nodeRaster = std::move(raster); }

private:
    std::unique_ptr<CRasterSrc> m_working;     // deep copy thinned and erased by the centre-line kernels
    CRasterSrc* m_source;                      // the drawing's one-bit raster
    std::unique_ptr<CRasterSrc> m_nodeRaster;  // junction pixels of the centre-line method
    OArray<COutlineItem> m_items;              // the result of the last trace
};

// --- raster probes on a one-bit raster (outline.cpp) ---

// Pixel test without bounds: (x, y) must lie in the raster.
inline bool IsForeground(const CRasterSrc& raster, int x, int y)
{
    return (raster.GetRow(y)[x >> 3] & (0x80u >> (x & 7))) != 0;
}
// Pixel test where everything outside the raster is background.
inline bool IsForegroundBounded(const CRasterSrc& raster, int x, int y)
{
    return x >= 0 && y >= 0 && x < raster.GetWidth() && y < raster.GetHeight() && IsForeground(raster, x, y);
}
// (x, y) is background and one of its N, W, E, S neighbours is foreground.
// The pixel itself is read without bounds test.
bool IsEdgeBackground(const CRasterSrc& raster, int x, int y);
// The first foreground 8-neighbour of (x, y), in the order NW, N, NE, W, E,
// SW, S, SE: moves (x, y) onto it and returns its direction code; 0 (and
// (x, y) unchanged) when there is none. (x, y) must lie in the raster.
BYTE NextNeighbour(const CRasterSrc& raster, int& x, int& y);
// Moves the point one step in the code's direction; false for a value that
// is not one of the eight codes.
bool StepDirection(int code, int& x, int& y);
// The opposite code; 0 for a value that is not one of the eight codes.
int OppositeDirection(int code);
// The step offsets of a code; false for a value that is not a code.
bool DirectionOffset(int code, int& dx, int& dy);
// Foreground pixels along the Bresenham line from (x1, y1) towards
// (x2, y2), max(|dx|, |dy|) steps starting with (x1, y1). A single background
// pixel followed by foreground is bridged and counted (2 then); a second
// background pixel in a row ends the walk. -1 when the walk leaves the raster
// before its end.
int RunLengthAlongLine(const CRasterSrc& raster, int x1, int y1, int x2, int y2);
