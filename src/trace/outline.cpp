// The tracing workspace, its chain records and the raster probes shared by
// the tracing kernels. The outline walk is in outline_walk.cpp, the nesting
// of holes in outline_nesting.cpp.
#include "trace/outline.h"

#include <algorithm>
#include <cstdlib>

#include "trace/common_thread.h"

// --- COutlineItem ---
//
// OArray has no insertion at the head; the ring entry gives one in constant
// time: close the ring, add at the tail (which in a ring sits just before the
// head) and make the new node the entry before opening the ring again.

COutlineItem::COutlineItem(const COutlineItem& other)
    : closed(other.closed), tailHorizontal(other.tailHorizontal), headHorizontal(other.headHorizontal),
      hole(other.hole)
{
    const ONode<COutlineNode>* node = other.nodes.GetHead();
    for (UINT i = 0; node && i < other.nodes.GetCount(); ++i, node = node->next)
        nodes.AddTail(node->value);
}

COutlineItem& COutlineItem::operator=(const COutlineItem& other)
{
    if (this != &other) {
        COutlineItem copy(other);
        *this = std::move(copy);
    }
    return *this;
}

bool COutlineItem::AddTail(double x, double y)
{
    return nodes.AddTail(COutlineNode(x, y));
}

bool COutlineItem::AddHead(double x, double y)
{
    if (nodes.IsEmpty())
        return nodes.AddTail(COutlineNode(x, y));
    nodes.CloseRing();
    bool added = nodes.AddTail(COutlineNode(x, y));
    if (added)
        nodes.SetRingEntry(nodes.GetTail());
    nodes.OpenRing();
    return added;
}

void COutlineItem::RemoveHead()
{
    nodes.RemoveHead();
}

void COutlineItem::RemoveTail()
{
    ONode<COutlineNode>* tail = nodes.GetTail();
    if (!tail)
        return;
    ONode<COutlineNode>* cursor = nodes.GetCursor();
    nodes.SetCursor(tail);
    nodes.RemoveCurrent();
    nodes.SetCursor(cursor == tail ? nullptr : cursor);
}

void COutlineItem::Reverse()
{
    const UINT count = nodes.GetCount();
    if (count < 2)
        return;
    ONode<COutlineNode>* oldTail = nodes.GetTail();
    nodes.CloseRing();
    ONode<COutlineNode>* node = nodes.GetHead();
    for (UINT i = 0; i < count; ++i) {
        ONode<COutlineNode>* next = node->next;
        std::swap(node->prev, node->next);
        node = next;
    }
    nodes.SetRingEntry(oldTail);
    nodes.OpenRing();
}

void COutlineItem::GetBoundingBox(double& minX, double& minY, double& maxX, double& maxY) const
{
    minX = minY = maxX = maxY = 0.0;
    const ONode<COutlineNode>* node = nodes.GetHead();
    if (!node)
        return;
    minX = maxX = node->value.x;
    minY = maxY = node->value.y;
    for (UINT i = 0; node && i < nodes.GetCount(); ++i, node = node->next) {
        minX = std::min(minX, node->value.x);
        maxX = std::max(maxX, node->value.x);
        minY = std::min(minY, node->value.y);
        maxY = std::max(maxY, node->value.y);
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
    {DIR_NW, -1, -1}, {DIR_N, 0, -1}, {DIR_NE, 1, -1}, {DIR_W, -1, 0},
    {DIR_E, 1, 0},    {DIR_SW, -1, 1}, {DIR_S, 0, 1},  {DIR_SE, 1, 1},
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
