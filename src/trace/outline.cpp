// The tracing workspace, its chain records and the raster probes shared by
// the tracing kernels. The outline walk is in outline_walk.cpp, the nesting
// of holes in outline_nesting.cpp.
#include "trace/outline.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>

#include "trace/common_thread.h"

// --- COutlineNodes ---

namespace {
// The first block of a chain: a corner chain never has fewer than four.
constexpr UINT kFirstNodeBlock = 4;
}  // namespace

COutlineNodes::Block COutlineNodes::NewBlock(UINT count)
{
    return Block(static_cast<COutlineNode*>(::operator new(sizeof(COutlineNode) * count, std::nothrow)));
}

bool COutlineNodes::Move(UINT newCapacity, UINT first)
{
    Block block = NewBlock(newCapacity);
    if (!block)
        return false;
    std::copy(begin(), end(), block.get() + first);
    m_data = std::move(block);
    m_first = first;
    m_capacity = newCapacity;
    return true;
}

bool COutlineNodes::Grow(bool atHead)
{
    if (m_capacity > UINT_MAX / 2)
        return false;
    const UINT capacity = std::max(kFirstNodeBlock, m_capacity * 2);
    // A chain grown at its head gets half the new room there; one grown only
    // at its tail gets all of it at the tail.
    const UINT room = capacity - m_count;
    const UINT first = atHead ? room - room / 2 : (m_first > 0 ? room / 2 : 0);
    return Move(capacity, first);
}

bool COutlineNodes::AddTail(const COutlineNode& node)
{
    if (m_first + m_count == m_capacity && !Grow(false))
        return false;
    m_data[m_first + m_count++] = node;
    return true;
}

bool COutlineNodes::AddHead(const COutlineNode& node)
{
    if (m_first == 0 && !Grow(true))
        return false;
    m_data[--m_first] = node;
    ++m_count;
    return true;
}

void COutlineNodes::RemoveHead()
{
    if (m_count == 0)
        return;
    ++m_first;
    --m_count;
}

void COutlineNodes::RemoveTail()
{
    if (m_count > 0)
        --m_count;
}

void COutlineNodes::Reverse() { std::reverse(begin(), end()); }

bool COutlineNodes::Reserve(UINT count) { return count <= m_capacity - m_first || Move(count, 0); }

COutlineNode* COutlineNodes::Resize(UINT count)
{
    RemoveAll();
    if (count == 0)
        return nullptr;
    m_data = NewBlock(count);
    if (!m_data)
        return nullptr;
    m_count = m_capacity = count;
    return m_data.get();
}

void COutlineNodes::RemoveAll()
{
    m_data.reset();
    m_first = m_count = m_capacity = 0;
}

// --- COutlineItem ---

COutlineItem::COutlineItem(const COutlineItem& other)
    : closed(other.closed), tailHorizontal(other.tailHorizontal), headHorizontal(other.headHorizontal), hole(other.hole)
{
    // A short allocation leaves the copy empty; AppendCopyTo reports it.
    if (nodes.Reserve(other.nodes.GetCount()))
        for (const COutlineNode& node : other.nodes)
            nodes.AddTail(node);
}

COutlineItem& COutlineItem::operator=(const COutlineItem& other)
{
    if (this != &other) {
        COutlineItem copy(other);
        *this = std::move(copy);
    }
    return *this;
}

bool COutlineItem::AddTail(double x, double y) { return nodes.AddTail(COutlineNode(x, y)); }

bool COutlineItem::AddHead(double x, double y) { return nodes.AddHead(COutlineNode(x, y)); }

void COutlineItem::RemoveHead() { nodes.RemoveHead(); }

void COutlineItem::RemoveTail() { nodes.RemoveTail(); }

void COutlineItem::Reverse() { nodes.Reverse(); }

void COutlineItem::GetBoundingBox(double& minX, double& minY, double& maxX, double& maxY) const
{
    minX = minY = maxX = maxY = 0.0;
    if (nodes.IsEmpty())
        return;
    minX = maxX = nodes[0].x;
    minY = maxY = nodes[0].y;
    for (const COutlineNode& node : nodes) {
        minX = std::min<double>(minX, node.x);
        maxX = std::max<double>(maxX, node.x);
        minY = std::min<double>(minY, node.y);
        maxY = std::max<double>(maxY, node.y);
    }
}

bool COutlineItem::AppendCopyTo(OArray<COutlineItem>& list) const
{
    COutlineItem* copy = list.AddNew();
    if (!copy)
        return false;
    *copy = *this;
    return copy->nodes.GetCount() == nodes.GetCount();
}

// --- COutlineList ---

COutlineList::COutlineList(CRasterSrc* source) : m_source(source) {}

COutlineList::~COutlineList()
{
    DeleteWorkspace();
    m_items.RemoveAll();
}

void COutlineList::DeleteWorkspace()
{
    m_working.reset();
    m_nodeRaster.reset();
}

bool COutlineList::TraceOutlines(CCommonThread* thread, COutlineConnectionList* connections)
{
    DeleteWorkspace();
    if (!TraceOutline(thread))
        return false;
    if (connections)
        return AnalyseOutline(thread, connections);
    return true;
}

// --- raster probes ---

namespace {

struct DirectionStep {
    int code;
    int dx;
    int dy;
};

// The search order of NextNeighbour.
constexpr DirectionStep kDirections[8] = {
    {DIR_NW, -1, -1}, {DIR_N, 0, -1},  {DIR_NE, 1, -1}, {DIR_W, -1, 0},
    {DIR_E, 1, 0},    {DIR_SW, -1, 1}, {DIR_S, 0, 1},   {DIR_SE, 1, 1},
};

const DirectionStep* FindDirection(int code)
{
    for (const DirectionStep& step : kDirections)
        if (step.code == code)
            return &step;
    return nullptr;
}

}  // namespace

bool IsEdgeBackground(const CRasterSrc& raster, int x, int y)
{
    if (IsForeground(raster, x, y))
        return false;
    return IsForegroundBounded(raster, x, y - 1) || IsForegroundBounded(raster, x - 1, y) ||
           IsForegroundBounded(raster, x + 1, y) || IsForegroundBounded(raster, x, y + 1);
}

BYTE NextNeighbour(const CRasterSrc& raster, int& x, int& y)
{
    const bool border = x <= 0 || y <= 0 || x >= raster.GetWidth() - 1 || y >= raster.GetHeight() - 1;
    for (const DirectionStep& step : kDirections) {
        int nx = x + step.dx;
        int ny = y + step.dy;
        if (border ? IsForegroundBounded(raster, nx, ny) : IsForeground(raster, nx, ny)) {
            x = nx;
            y = ny;
            return static_cast<BYTE>(step.code);
        }
    }
    return 0;
}

bool DirectionOffset(int code, int& dx, int& dy)
{
    const DirectionStep* step = FindDirection(code);
    if (!step)
        return false;
    dx = step->dx;
    dy = step->dy;
    return true;
}

bool StepDirection(int code, int& x, int& y)
{
    int dx = 0;
    int dy = 0;
    if (!DirectionOffset(code, dx, dy))
        return false;
    x += dx;
    y += dy;
    return true;
}

int OppositeDirection(int code)
{
    // Opposite codes mirror through the centre of the 3 x 3 block: their
    // product is always NW x SE.
    return FindDirection(code) ? DIR_SE / code : 0;
}

int RunLengthAlongLine(const CRasterSrc& raster, int x1, int y1, int x2, int y2)
{
    const int dx = std::abs(x2 - x1);
    const int dy = std::abs(y2 - y1);
    const int sx = x2 >= x1 ? 1 : -1;
    const int sy = y2 >= y1 ? 1 : -1;
    const int steps = std::max(dx, dy);
    const int width = raster.GetWidth();
    const int height = raster.GetHeight();

    int count = 0;
    bool gap = false;  // the previous pixel was background
    int x = x1;
    int y = y1;
    int error = 0;
    for (int i = 0; i < steps; ++i) {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return -1;
        if (IsForeground(raster, x, y)) {
            count += gap ? 2 : 1;
            gap = false;
        } else if (gap) {
            break;
        } else {
            gap = true;
        }
        // Bresenham step along the major axis.
        if (dx >= dy) {
            x += sx;
            error += 2 * dy;
            if (error > dx) {
                y += sy;
                error -= 2 * dx;
            }
        } else {
            y += sy;
            error += 2 * dx;
            if (error > dy) {
                x += sx;
                error -= 2 * dy;
            }
        }
    }
    return count;
}
