#include "trace/outline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <new>
#include <queue>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/message_box.h"
#include "raster/packed_bits.h"
#include "raster/row_bands.h"
#include "support/idle_worker.h"
#include "trace/common_thread.h"

// Non-throwing allocations of this size fail while it is not 0: the lists'
// nodes are made that way, so a test can make one kind of node fail on its
// own thread.
static thread_local size_t g_failNothrowNewOfSize = 0;

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (size == g_failNothrowNewOfSize)
        return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

using namespace std::chrono_literals;

// --- fixtures ---

using Raster = std::unique_ptr<CRasterSrc>;

Raster MakeBlank(int width, int height)
{
    auto raster = std::make_unique<CRasterSrc>();
    EXPECT_TRUE(raster->Create(width, height, 1));
    return raster;
}

// From rows of text, '#' black.
Raster MakeRaster(const std::vector<std::string>& rows)
{
    Raster raster = MakeBlank(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x)
            raster->SetPixelBit(static_cast<int>(x), static_cast<int>(y), rows[y][x] == '#');
    return raster;
}

Raster MakeRandomRaster(std::mt19937& rng, int width, int height, double density)
{
    Raster raster = MakeBlank(width, height);
    std::bernoulli_distribution black(density);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            raster->SetPixelBit(x, y, black(rng));
    return raster;
}

// Square rings of alternating colour, some cut by the raster's edges, with a
// little noise: deep nesting, islands in holes, holes beside islands.
Raster MakeRingsRaster(std::mt19937& rng, int width, int height)
{
    Raster raster = MakeBlank(width, height);
    std::uniform_int_distribution<int> cx(-3, width + 3), cy(-3, height + 3), radius(2, 14);
    for (int ring = 0; ring < 4; ++ring) {
        const int x0 = cx(rng), y0 = cy(rng), r = radius(rng);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (int d = std::max(std::abs(x - x0), std::abs(y - y0)); d <= r)
                    raster->SetPixelBit(x, y, d % 2 == 0);
    }
    std::bernoulli_distribution noise(0.04);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (noise(rng))
                raster->SetPixelBit(x, y, !IsForeground(*raster, x, y));
    return raster;
}

// --- the walk as first written: open chains searched linearly per edge ---

struct Pt {
    double x, y;
    bool operator==(const Pt&) const = default;
};

struct RefItem {
    std::deque<Pt> nodes;
    bool closed = false, tailHorizontal = false, headHorizontal = false, hole = false;
    bool operator==(const RefItem&) const = default;
};

void PrintTo(const RefItem& item, std::ostream* out)
{
    *out << (item.hole ? "hole" : "outer") << (item.closed ? " closed" : " open") << " h" << item.headHorizontal << " t"
         << item.tailHorizontal << ":";
    for (const Pt& v : item.nodes)
        *out << " (" << v.x << "," << v.y << ")";
}

void RefAddEdge(std::vector<RefItem>& items, bool horizontal, bool north, Pt p, Pt q)
{
    size_t found = 0;
    bool atHead = false;
    for (; found < items.size(); ++found) {
        const RefItem& item = items[found];
        if (item.closed)
            continue;
        if ((atHead = item.nodes.front() == p || item.nodes.front() == q) || item.nodes.back() == p ||
            item.nodes.back() == q)
            break;
    }
    if (found == items.size()) {
        items.push_back({{p, q}, false, horizontal, horizontal, north});
        return;
    }
    RefItem& item = items[found];
    auto add = [&](Pt v) { atHead ? item.nodes.push_front(v) : item.nodes.push_back(v); };
    Pt& end = atHead ? item.nodes.front() : item.nodes.back();
    bool& endHorizontal = atHead ? item.headHorizontal : item.tailHorizontal;
    const Pt other = end == p ? q : p;
    if (endHorizontal == horizontal)
        end = other;
    else
        add(other);
    endHorizontal = horizontal;
    if (!horizontal)
        return;
    if ((atHead ? item.nodes.back() : item.nodes.front()) == other) {
        item.closed = true;
        return;
    }
    for (size_t j = 0; j < items.size(); ++j) {
        if (j == found || items[j].closed || (!(items[j].nodes.front() == other) && !(items[j].nodes.back() == other)))
            continue;
        RefItem second = items[j];
        const bool fromHead = second.nodes.front() == other;
        if (!fromHead)
            std::reverse(second.nodes.begin(), second.nodes.end());
        for (size_t k = 1; k < second.nodes.size(); ++k)
            add(second.nodes[k]);
        endHorizontal = fromHead ? second.tailHorizontal : second.headHorizontal;
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(j));
        return;
    }
}

std::vector<RefItem> ReferenceTrace(const CRasterSrc& raster)
{
    std::vector<RefItem> items;
    auto black = [&](int x, int y) { return IsForegroundBounded(raster, x, y); };
    for (int y = -1; y <= raster.GetHeight(); ++y)
        for (int x = -1; x <= raster.GetWidth(); ++x) {
            if (black(x, y))
                continue;
            const Pt tr{x + 0.5, y - 0.5}, tl{x - 0.5, y - 0.5}, bl{x - 0.5, y + 0.5}, br{x + 0.5, y + 0.5};
            if (black(x, y - 1))
                RefAddEdge(items, true, true, tr, tl);
            if (black(x - 1, y))
                RefAddEdge(items, false, false, tl, bl);
            if (black(x + 1, y))
                RefAddEdge(items, false, false, tr, br);
            if (black(x, y + 1))
                RefAddEdge(items, true, false, bl, br);
        }
    return items;
}

RefItem ToRef(const COutlineItem& item)
{
    RefItem out{{}, item.closed != 0, item.tailHorizontal != 0, item.headHorizontal != 0, item.hole != 0};
    for (const COutlineNode& v : item.nodes)
        out.nodes.push_back({v.x, v.y});
    return out;
}

std::vector<RefItem> ToRef(const OArray<COutlineItem>& items)
{
    std::vector<RefItem> out;
    for (const ONode<COutlineItem>* n = items.GetHead(); n; n = n->next)
        out.push_back(ToRef(n->value));
    return out;
}

std::vector<RefItem> Trace(CRasterSrc& raster)
{
    COutlineList list(&raster);
    EXPECT_TRUE(list.TraceOutline(nullptr));
    return ToRef(list.GetItems());
}

// Twice the area of a closed chain, unsigned.
long long DoubleArea(const RefItem& item)
{
    double sum = 0.0;
    for (size_t i = 0; i + 1 < item.nodes.size(); ++i)
        sum += item.nodes[i].x * item.nodes[i + 1].y - item.nodes[i + 1].x * item.nodes[i].y;
    return std::llabs(std::llround(sum));
}

// --- records and probes ---

// The node block against a deque under a random mix of end operations: the
// regrowth at either end must keep every node and its order.
TEST(OutlineItem, NodeBlockGrowsAtBothEndsKeepingTheOrder)
{
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        COutlineItem item;
        std::deque<Pt> reference;
        size_t most = 0;
        for (int step = 0; step < 400; ++step) {
            const double v = step;
            switch (random() % 8) {
            case 0:
            case 1:
            case 2:
                ASSERT_TRUE(item.AddTail(v, -v));
                reference.push_back({v, -v});
                break;
            case 3:
            case 4:
            case 5:
                ASSERT_TRUE(item.AddHead(v, -v));
                reference.push_front({v, -v});
                break;
            case 6:
                if (random() % 2) {
                    item.RemoveHead();
                    if (!reference.empty())
                        reference.pop_front();
                } else {
                    item.RemoveTail();
                    if (!reference.empty())
                        reference.pop_back();
                }
                break;
            default:
                item.Reverse();
                std::reverse(reference.begin(), reference.end());
                break;
            }
            ASSERT_EQ(ToRef(item).nodes, reference) << round << " " << step;
            most = std::max(most, reference.size());
            ASSERT_LE(item.nodes.GetCapacity(), 4 * most + 4);
        }
        // Reserving leaves room for the rest without moving the nodes.
        ASSERT_TRUE(item.nodes.Reserve(item.GetNodeCount() + 10));
        const COutlineNode* head = item.GetHeadNode();
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(item.AddTail(i, i));
        if (head) {
            EXPECT_EQ(item.GetHeadNode(), head);
        }
    }
}

TEST(OutlineItem, EndOperationsReverseAndCopyKeepTheChain)
{
    COutlineItem item;
    double box[4] = {1, 1, 1, 1};
    item.GetBoundingBox(box[0], box[1], box[2], box[3]);
    EXPECT_EQ(box[0] + box[1] + box[2] + box[3], 0.0);

    EXPECT_TRUE(item.AddHead(2, 0));
    EXPECT_TRUE(item.AddTail(3, 0));
    EXPECT_TRUE(item.AddHead(1, 0));
    EXPECT_TRUE(item.AddTail(4, -1));
    EXPECT_EQ(ToRef(item).nodes, (std::deque<Pt>{{1, 0}, {2, 0}, {3, 0}, {4, -1}}));
    item.GetBoundingBox(box[0], box[1], box[2], box[3]);
    EXPECT_EQ((std::vector<double>(box, box + 4)), (std::vector<double>{1, -1, 4, 0}));

    item.Reverse();
    EXPECT_EQ(ToRef(item).nodes, (std::deque<Pt>{{4, -1}, {3, 0}, {2, 0}, {1, 0}}));
    item.RemoveTail();
    item.RemoveHead();
    EXPECT_EQ(ToRef(item).nodes, (std::deque<Pt>{{3, 0}, {2, 0}}));

    item.hole = 1;
    item.closed = 1;
    OArray<COutlineItem> list;
    ASSERT_TRUE(item.AppendCopyTo(list));
    COutlineItem& copy = list.GetHead()->value;
    EXPECT_EQ(ToRef(copy), ToRef(item));
    copy.nodes[0].x = 9;  // the copy owns its nodes
    EXPECT_EQ(item.GetHeadNode()->x, 3);

    for (int i = 0; i < 3; ++i)
        item.RemoveTail();
    EXPECT_EQ(item.GetNodeCount(), 0u);
    EXPECT_EQ(item.GetHeadNode(), nullptr);
}

TEST(OutlineProbes, PixelTestsAndNeighbourSearchStayInsideTheRaster)
{
    Raster raster = MakeRaster({
        "#...",
        ".#.#",
        "..#.",
        "#..#",
    });
    EXPECT_FALSE(IsForegroundBounded(*raster, -1, 0));
    EXPECT_FALSE(IsForegroundBounded(*raster, 0, 4));
    EXPECT_FALSE(IsEdgeBackground(*raster, 0, 0));  // foreground itself
    EXPECT_TRUE(IsEdgeBackground(*raster, 1, 0));
    EXPECT_FALSE(IsEdgeBackground(*raster, 2, 0));  // diagonal neighbours only
    EXPECT_TRUE(IsEdgeBackground(*raster, 0, 2));   // W neighbour outside, S inside

    int x = 2, y = 2;
    EXPECT_EQ(NextNeighbour(*raster, x, y), DIR_NW);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(1, 1));
    raster->SetPixelBit(1, 1, false);
    x = 2, y = 2;
    EXPECT_EQ(NextNeighbour(*raster, x, y), DIR_NE);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(3, 1));
    x = 3, y = 3;  // a corner: the neighbours outside read white
    EXPECT_EQ(NextNeighbour(*raster, x, y), DIR_NW);
    x = 0, y = 3;
    EXPECT_EQ(NextNeighbour(*raster, x, y), 0);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(0, 3));
}

TEST(OutlineProbes, DirectionCodesAndRunLength)
{
    for (int code : {DIR_NW, DIR_N, DIR_NE, DIR_W, DIR_E, DIR_SW, DIR_S, DIR_SE}) {
        int x = 5, y = 5;
        ASSERT_TRUE(StepDirection(code, x, y));
        ASSERT_TRUE(StepDirection(OppositeDirection(code), x, y));
        EXPECT_EQ(std::make_pair(x, y), std::make_pair(5, 5));
    }
    int x = 0, y = 0;
    ASSERT_TRUE(StepDirection(DIR_SW, x, y));
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(-1, 1));
    for (int bad : {0, 3, 256, -1}) {
        EXPECT_FALSE(StepDirection(bad, x, y));
        EXPECT_EQ(OppositeDirection(bad), 0);
    }

    Raster raster = MakeRaster({
        "##.##..###",
        "#.........",
        ".#........",
        "..#.......",
    });
    EXPECT_EQ(RunLengthAlongLine(*raster, 0, 0, 9, 0), 5);  // one gap bridged, two end it
    EXPECT_EQ(RunLengthAlongLine(*raster, 7, 0, 9, 0), 2);  // the end pixel is not walked
    EXPECT_EQ(RunLengthAlongLine(*raster, 9, 0, 4, 0), 3);
    EXPECT_EQ(RunLengthAlongLine(*raster, 0, 1, 3, 4), 3);
    EXPECT_EQ(RunLengthAlongLine(*raster, 0, 1, 3, 3), 2);  // (0,1) (1,2), then (2,2) and out
    EXPECT_EQ(RunLengthAlongLine(*raster, 7, 0, 12, 0), -1);
}

// --- outline walk ---

TEST(OutlineTrace, SmallCasesGiveTheirBorders)
{
    EXPECT_TRUE(Trace(*MakeRaster({"....", "...."})).empty());

    std::vector<RefItem> pixel = Trace(*MakeRaster({"...", ".#.", "..."}));
    ASSERT_EQ(pixel.size(), 1u);
    EXPECT_EQ(pixel[0],
              (RefItem{{{1.5, 1.5}, {0.5, 1.5}, {0.5, 0.5}, {1.5, 0.5}, {1.5, 1.5}}, true, false, true, false}));

    // Corner pixels are traced through the white frame round the raster.
    std::vector<RefItem> corners = Trace(*MakeRaster({"#..#", "....", "#..#"}));
    ASSERT_EQ(corners.size(), 4u);
    for (const RefItem& item : corners)
        EXPECT_TRUE(item.closed && !item.hole && item.nodes.size() == 5u && DoubleArea(item) == 2);
    EXPECT_EQ(corners[0].nodes.front(), (Pt{0.5, 0.5}));

    Raster ring = MakeRaster({"###", "#.#", "###"});
    std::vector<RefItem> items = Trace(*ring);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_FALSE(items[0].hole);
    EXPECT_TRUE(items[1].hole);
    EXPECT_EQ(DoubleArea(items[0]), 18);
    EXPECT_EQ(DoubleArea(items[1]), 2);
    EXPECT_EQ(ring->GetPalette()[1].rgbRed, 0) << "the kernel leaves the palette; the run dims it afterwards";

    CRasterSrc grey;
    ASSERT_TRUE(grey.Create(4, 4, 8));
    EXPECT_FALSE(COutlineList(&grey).TraceOutline(nullptr));
    EXPECT_FALSE(COutlineList(nullptr).TraceOutline(nullptr));
}

// Nodes keep single-precision coordinates: the largest raster traced still
// gets its far corners and the nesting's probe point exactly; one pixel more
// is refused by both methods rather than traced with rounded corners.
TEST(OutlineTrace, LargestRasterKeepsExactCornersAndOneMoreIsRefused)
{
    const int side = kMaxTraceRasterSide;
    Raster row = MakeBlank(side, 1);
    row->SetPixelBit(side - 2, 0, true);
    COutlineList list(row.get());
    COutlineConnectionList connections;
    ASSERT_TRUE(list.TraceOutlines(nullptr, &connections));
    ASSERT_EQ(list.GetItems().GetCount(), 1u);
    double minX, minY, maxX, maxY;
    list.GetItems().GetHead()->value.GetBoundingBox(minX, minY, maxX, maxY);
    EXPECT_EQ(minX, side - 2.5);
    EXPECT_EQ(maxX, side - 1.5);
    ASSERT_EQ(connections.GetCount(), 1u);
    const COutlineNode& probe = connections.GetHead()->value.innerPoint;
    EXPECT_EQ(std::fmod(double(probe.x), 0.5), 0.25) << "the probe point lies a quarter pixel off the corners";

    Raster wide = MakeBlank(side + 1, 1);
    wide->SetPixelBit(side, 0, true);
    EXPECT_FALSE(COutlineList(wide.get()).TraceOutline(nullptr));
    Raster tall = MakeBlank(1, side + 1);
    tall->SetPixelBit(0, side, true);
    EXPECT_FALSE(COutlineList(tall.get()).TraceOutline(nullptr));
    EXPECT_FALSE(COutlineList(tall.get()).TraceCenterLines(nullptr));
}

// Widths around the 64-pixel words, so frame columns and word seams meet
// black runs.
TEST(OutlineTrace, MatchesTheLinearWalkOnRandomRasters)
{
    std::mt19937 rng(4711);
    for (int width : {1, 2, 7, 8, 9, 31, 62, 63, 64, 65, 66, 127, 128, 130})
        for (double density : {0.1, 0.35, 0.5, 0.65, 0.9})
            for (int height : {1, 3, 17}) {
                Raster raster = MakeRandomRaster(rng, width, height, density);
                ASSERT_EQ(Trace(*raster), ReferenceTrace(*raster)) << width << "x" << height << " at " << density;
            }
    for (int i = 0; i < 40; ++i) {
        Raster raster = MakeRingsRaster(rng, 70, 40);
        ASSERT_EQ(Trace(*raster), ReferenceTrace(*raster)) << "rings " << i;
    }
}

// Discs with holes and islands placed across the 64-row slabs the walk finds
// edges in ahead, plus noise: chains open across every slab border.
Raster MakeBlobsRaster(std::mt19937& rng, int width, int height)
{
    Raster raster = MakeBlank(width, height);
    std::uniform_int_distribution<int> cx(-5, width + 5), radius(3, 40), border(1, 6);
    for (int blob = 0; blob < 12; ++blob) {
        const int x0 = cx(rng);
        const int y0 = 64 * (blob % 6) + border(rng) - 3;
        const int r = radius(rng);
        const int hole = r / 2;
        for (int y = std::max(0, y0 - r); y <= std::min(height - 1, y0 + r); ++y)
            for (int x = std::max(0, x0 - r); x <= std::min(width - 1, x0 + r); ++x) {
                const int d2 = (x - x0) * (x - x0) + (y - y0) * (y - y0);
                if (d2 <= r * r)
                    raster->SetPixelBit(x, y, d2 > hole * hole || d2 < hole * hole / 9);
            }
    }
    std::bernoulli_distribution noise(0.03);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (noise(rng))
                raster->SetPixelBit(x, y, !IsForeground(*raster, x, y));
    return raster;
}

// The walk finds edges on the row-band pool and makes items behind it: the
// chains must not depend on how many threads do that.
TEST(OutlineTrace, ThreadCountChangesNothing)
{
    std::mt19937 rng(2024);
    struct Page {
        int width, height;
        bool blobs;
    };
    const Page pages[] = {{1, 1, false},   {65, 1, false},  {130, 1, true},   {9, 63, false},   {77, 64, true},
                          {131, 65, true}, {63, 129, true}, {100, 200, true}, {33, 333, false}, {257, 300, true}};
    for (const Page& page : pages) {
        Raster raster = page.blobs ? MakeBlobsRaster(rng, page.width, page.height)
                                   : MakeRandomRaster(rng, page.width, page.height, 0.4);
        SetRowBandThreads(1);
        const std::vector<RefItem> single = Trace(*raster);
        if (page.width * page.height <= 40000) {
            ASSERT_EQ(single, ReferenceTrace(*raster)) << page.width << "x" << page.height;
        }
        for (int threads : {2, 3, 8}) {
            SetRowBandThreads(threads);
            ASSERT_EQ(Trace(*raster), single) << page.width << "x" << page.height << " on " << threads;
        }
    }
    SetRowBandThreads(0);
}

TEST(OutlineTrace, ClosedCornerPathsEncloseTheBlackPixelsExactly)
{
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> size(1, 90);
    std::uniform_real_distribution<double> density(0.05, 0.95);
    for (int round = 0; round < 150; ++round) {
        Raster raster = round % 3 == 2 ? MakeRingsRaster(rng, size(rng) + 10, size(rng) + 10)
                                       : MakeRandomRaster(rng, size(rng), size(rng), density(rng));
        SCOPED_TRACE("round " + std::to_string(round));
        long long area = 0;
        for (const RefItem& item : Trace(*raster)) {
            ASSERT_TRUE(item.closed);
            ASSERT_GE(item.nodes.size(), 5u);
            ASSERT_EQ(item.nodes.front(), item.nodes.back());
            for (size_t i = 0; i < item.nodes.size(); ++i) {
                const Pt& a = item.nodes[i];
                ASSERT_EQ(a.x - std::floor(a.x), 0.5);
                ASSERT_EQ(a.y - std::floor(a.y), 0.5);
                if (i + 1 < item.nodes.size()) {
                    ASSERT_TRUE((a.x == item.nodes[i + 1].x) != (a.y == item.nodes[i + 1].y)) << i;
                }
            }
            area += (item.hole ? -1 : 1) * DoubleArea(item) / 2;
        }
        long long black = 0;
        for (int y = 0; y < raster->GetHeight(); ++y)
            black += CountPixels(raster->GetRow(y), raster->GetWidth());
        EXPECT_EQ(area, black);
    }
}

// --- nesting ---

// Component labels of the framed raster: black 8-connected, white (with the
// frame) 4-connected, as the borders turn round white pixels where two black
// pixels touch at a corner.
class CComponents {
public:
    explicit CComponents(const CRasterSrc& raster) : m_raster(raster), m_w(raster.GetWidth() + 2)
    {
        m_label.assign(static_cast<size_t>(m_w * (raster.GetHeight() + 2)), -1);
        int next = 0;
        for (int y = -1; y <= raster.GetHeight(); ++y)
            for (int x = -1; x <= raster.GetWidth(); ++x)
                if (Label(x, y) < 0)
                    Fill(x, y, next++);
    }
    int& Label(int x, int y) { return m_label[static_cast<size_t>((y + 1) * m_w + x + 1)]; }
    size_t Count() const { return m_label.size(); }

    // The black component beside the first unit edge of a chain.
    int BlackSide(const COutlineItem& item)
    {
        const COutlineNode& a = item.nodes[0];
        const COutlineNode& b = item.nodes[1];
        int x1 = static_cast<int>(std::floor(a.x)), y1 = static_cast<int>(std::floor(a.y));
        int x2 = x1, y2 = y1;
        if (a.y == b.y)
            x1 = x2 = static_cast<int>(std::floor(std::min(a.x, b.x) + 0.5)), ++y2;
        else
            y1 = y2 = static_cast<int>(std::floor(std::min(a.y, b.y) + 0.5)), ++x2;
        return IsForegroundBounded(m_raster, x1, y1) ? Label(x1, y1) : Label(x2, y2);
    }

private:
    void Fill(int x0, int y0, int label)
    {
        const bool black = IsForegroundBounded(m_raster, x0, y0);
        std::queue<std::pair<int, int>> todo;
        todo.push({x0, y0});
        Label(x0, y0) = label;
        while (!todo.empty()) {
            auto [x, y] = todo.front();
            todo.pop();
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if ((!black && dx && dy) || nx < -1 || ny < -1 || nx > m_raster.GetWidth() ||
                        ny > m_raster.GetHeight() || Label(nx, ny) >= 0 ||
                        IsForegroundBounded(m_raster, nx, ny) != black)
                        continue;
                    Label(nx, ny) = label;
                    todo.push({nx, ny});
                }
        }
    }
    const CRasterSrc& m_raster;
    int m_w;
    std::vector<int> m_label;
};

struct Nesting {
    std::unique_ptr<COutlineList> list;
    COutlineConnectionList connections;
    int errorBoxes = 0;
    std::vector<UINT> holeCounts;  // per connection
};

// Traces and nests, recording the "Error" boxes the hook receives.
void TraceAndNest(CRasterSrc& raster, Nesting& result)
{
    result.list = std::make_unique<COutlineList>(&raster);
    MessageBoxHook old = SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned) {
        EXPECT_EQ(text, "Error");
        ++result.errorBoxes;
        return IDOK;
    });
    EXPECT_TRUE(result.list->TraceOutlines(nullptr, &result.connections));
    SetMessageBoxHook(old);
    for (const ONode<COutlineConnection>* n = result.connections.GetHead(); n; n = n->next)
        result.holeCounts.push_back(n->value.holes.GetCount());
}

// Every black component has one outer border with its own connection, and
// every hole sits in the connection of the component it borders.
void ExpectNestingMatchesComponents(CRasterSrc& raster)
{
    Nesting nesting;
    TraceAndNest(raster, nesting);
    CComponents comps(raster);
    EXPECT_EQ(nesting.errorBoxes, 0);
    std::vector<const COutlineConnection*> connectionOf(comps.Count(), nullptr);
    for (const ONode<COutlineConnection>* n = nesting.connections.GetHead(); n; n = n->next) {
        ASSERT_FALSE(n->value.outer->hole);
        const COutlineConnection*& slot = connectionOf[static_cast<size_t>(comps.BlackSide(*n->value.outer))];
        ASSERT_EQ(slot, nullptr) << "two outer borders of one component";
        slot = &n->value;
    }
    size_t holes = 0;
    for (const ONode<COutlineItem>* n = nesting.list->GetItems().GetHead(); n; n = n->next)
        holes += n->value.hole;
    for (const ONode<COutlineConnection>* n = nesting.connections.GetHead(); n; n = n->next)
        for (const ONode<COutlineItem*>* h = n->value.holes.GetHead(); h; h = h->next, --holes)
            EXPECT_EQ(connectionOf[static_cast<size_t>(comps.BlackSide(*h->value))], &n->value);
    EXPECT_EQ(holes, 0u) << "holes left out";
}

TEST(OutlineNesting, ConnectionHoldsItsHolesAndEveryChainIsReversed)
{
    Raster raster = MakeRaster({"###", "#.#", "###"});
    std::vector<RefItem> before = Trace(*raster);
    Nesting nesting;
    TraceAndNest(*raster, nesting);
    ASSERT_EQ(nesting.holeCounts, std::vector<UINT>{1});
    const COutlineConnection& connection = nesting.connections.GetHead()->value;
    EXPECT_TRUE(connection.holes.GetHead()->value->hole);
    EXPECT_EQ((std::vector<double>{connection.minX, connection.minY, connection.maxX, connection.maxY}),
              (std::vector<double>{-0.5, -0.5, 2.5, 2.5}));
    // Just inside the outer border's head as traced.
    EXPECT_EQ(connection.innerPoint.x, before[0].nodes.front().x + 0.25);
    EXPECT_EQ(connection.innerPoint.y, before[0].nodes.front().y - 0.25);

    std::vector<RefItem> after = ToRef(nesting.list->GetItems());
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        std::reverse(before[i].nodes.begin(), before[i].nodes.end());
        std::swap(before[i].headHorizontal, before[i].tailHorizontal);
        EXPECT_EQ(after[i], before[i]);
    }
}

TEST(OutlineNesting, HolesFindTheRegionThatEnclosesThem)
{
    struct Case {
        const char* name;
        std::vector<std::string> rows;
        std::vector<UINT> holeCounts;
    };
    const std::vector<Case> cases = {
        {"region on the left edge", {"####.", "#..#.", "####."}, {1}},
        {"hole diagonally below another", {"#######", "#..####", "###.###", "#######"}, {2}},
        // The left hole holds an island level with the right hole.
        {"island in the neighbouring hole",
         {"###########", "#.....##..#", "#.###.#...#", "#.#.#.#...#", "#.###.#...#", "#.....#...#", "###########"},
         {2, 1}},
        {"pixels touching at corners", {"#.#", ".#.", "#.#"}, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Raster raster = MakeRaster(c.rows);
        Nesting nesting;
        TraceAndNest(*raster, nesting);
        EXPECT_EQ(nesting.errorBoxes, 0);
        EXPECT_EQ(nesting.holeCounts, c.holeCounts);
        ExpectNestingMatchesComponents(*raster);
    }
}

// Holes are matched to their regions and the chains reversed in bands on
// the pool: the nesting must not depend on the thread count.
TEST(OutlineNesting, ThreadCountChangesNothing)
{
    std::mt19937 rng(77);
    // Per connection the outer chain's index and its holes' indices, then
    // every chain as reversed.
    auto describe = [](CRasterSrc& raster) {
        Nesting nesting;
        TraceAndNest(raster, nesting);
        std::vector<const COutlineItem*> order;
        for (const ONode<COutlineItem>* n = nesting.list->GetItems().GetHead(); n; n = n->next)
            order.push_back(&n->value);
        auto indexOf = [&](const COutlineItem* item) {
            return std::find(order.begin(), order.end(), item) - order.begin();
        };
        std::vector<std::vector<long>> connections;
        for (const ONode<COutlineConnection>* c = nesting.connections.GetHead(); c; c = c->next) {
            std::vector<long>& record = connections.emplace_back(1, indexOf(c->value.outer));
            for (const ONode<COutlineItem*>* h = c->value.holes.GetHead(); h; h = h->next)
                record.push_back(indexOf(h->value));
        }
        return std::make_tuple(connections, ToRef(nesting.list->GetItems()), nesting.errorBoxes);
    };
    for (int round = 0; round < 8; ++round) {
        Raster raster = round % 2 ? MakeBlobsRaster(rng, 90 + round * 17, 140 + round * 23)
                                  : MakeRingsRaster(rng, 60 + round * 9, 70 + round * 31);
        SetRowBandThreads(1);
        const auto single = describe(*raster);
        EXPECT_GT(std::get<0>(single).size(), 1u);
        for (int threads : {2, 3, 8}) {
            SetRowBandThreads(threads);
            ASSERT_TRUE(describe(*raster) == single) << "round " << round << " on " << threads;
        }
    }
    SetRowBandThreads(0);
}

TEST(OutlineNesting, MatchesAFloodFillOnRandomRasters)
{
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> size(3, 80);
    std::uniform_real_distribution<double> density(0.3, 0.8);
    for (int round = 0; round < 120; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Raster raster = round % 2 ? MakeRingsRaster(rng, size(rng) + 8, size(rng) + 8)
                                  : MakeRandomRaster(rng, size(rng), size(rng), density(rng));
        ExpectNestingMatchesComponents(*raster);
    }
}

TEST(OutlineNesting, HoleWithoutEnclosingBorderShowsErrorAndFailsTheRun)
{
    Raster raster = MakeBlank(4, 3);
    COutlineList list(raster.get());
    COutlineItem* hole = list.GetItems().AddNew();
    hole->hole = hole->closed = 1;
    for (Pt v : {Pt{1.5, 0.5}, {0.5, 0.5}, {0.5, 1.5}, {1.5, 1.5}, {1.5, 0.5}})
        hole->AddTail(v.x, v.y);
    int boxes = 0;
    MessageBoxHook old = SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned) {
        EXPECT_EQ(text, "Error");
        return ++boxes, IDOK;
    });
    COutlineConnectionList connections;
    // A drawing without the hole would be wrong; the run says so instead.
    CIdleWorker worker;
    EXPECT_FALSE(list.AnalyseOutline(&worker, &connections));
    SetMessageBoxHook(old);
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(worker.GetRunResult(), DWORD{RUN_FAILED});
    EXPECT_EQ(connections.GetCount(), 0u);
}

TEST(OutlineNesting, AConnectionThatCannotBeMadeFailsTheRunForWantOfMemory)
{
    Raster ring = MakeRaster({"#####", "#...#", "#####"});
    Raster square = MakeRaster({"##", "##"});
    const std::pair<CRasterSrc*, size_t> cases[] = {
        {ring.get(), sizeof(ONode<COutlineConnection>)},
        {ring.get(), sizeof(ONode<COutlineItem*>)},
        {square.get(), sizeof(ONode<COutlineConnection>)},  // no hole to notice the loss
    };
    for (const auto& [raster, size] : cases) {
        SCOPED_TRACE(size);
        COutlineList list(raster);
        ASSERT_TRUE(list.TraceOutline(nullptr));
        int boxes = 0;
        MessageBoxHook old =
            SetMessageBoxHook([&](const std::string&, const std::string&, unsigned) { return ++boxes, IDOK; });
        COutlineConnectionList connections;
        CIdleWorker worker;
        g_failNothrowNewOfSize = size;
        const bool done = list.AnalyseOutline(&worker, &connections);
        g_failNothrowNewOfSize = 0;
        SetMessageBoxHook(old);
        EXPECT_FALSE(done);
        EXPECT_EQ(worker.GetRunResult(), DWORD{RUN_NO_MEMORY});
    }
}

// --- progress and stop ---

// What a progress dialog receives; sets the worker's stop flag while
// handling the stopAt-th message (1-based; 0 never).
class CRecorder : public CMessageReceiver {
public:
    ~CRecorder() override { Close(); }
    std::vector<std::pair<UINT, WPARAM>> entries;
    std::vector<std::string> texts;
    CCommonThread* worker = nullptr;
    size_t stopAt = 0;

    bool Ended() const { return !entries.empty() && entries.back().first == WM_RUN_END; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        entries.push_back({message, wParam});
        if (message == WM_STEP_TEXT)
            texts.emplace_back(reinterpret_cast<const char*>(lParam));
        if (entries.size() == stopAt && worker)
            worker->RequestStop();
        return 0;
    }
};

// The outline method's run: posts 0 unless a step has posted.
class COutlineWorker : public CCommonThread {
public:
    explicit COutlineWorker(CRasterSrc& raster) : m_list(&raster) {}
    ~COutlineWorker() override { StopAndWait(); }

protected:
    DWORD Run() override
    {
        if (m_list.TraceOutlines(this, &m_connections))
            PostRunEnd(RUN_FINISHED);
        return 0;
    }

private:
    COutlineList m_list;
    COutlineConnectionList m_connections;
};

void RunWorker(CRasterSrc& raster, CRecorder& recorder)
{
    COutlineWorker worker(raster);
    recorder.worker = &worker;
    worker.SetNotifyWindow(&recorder);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(recorder.PumpUntil([&] { return recorder.Ended(); }, 10s));
    worker.Wait();
    recorder.Pump();  // a second run end would show here
}

TEST(OutlineProtocol, FullRunReportsBothStepsThenFinishes)
{
    std::mt19937 rng(5);
    Raster raster = MakeRandomRaster(rng, 40, 250, 0.4);
    CRecorder recorder;
    RunWorker(*raster, recorder);
    EXPECT_EQ(recorder.texts, (std::vector<std::string>{"Trace outline", "Analyse Outline"}));
    ASSERT_EQ(recorder.entries.front().first, WM_STEP_TEXT);
    EXPECT_EQ(recorder.entries.back(), std::make_pair(UINT{WM_RUN_END}, WPARAM{RUN_FINISHED}));
    // Each step's positions are percentages that never go back.
    WPARAM last = 0;
    for (auto [message, wParam] : recorder.entries) {
        if (message == WM_STEP_TEXT)
            last = 0;
        if (message == WM_STEP_POS) {
            EXPECT_LE(wParam, 100u);
            EXPECT_GE(wParam, last);
            last = wParam;
        }
    }
}

TEST(OutlineProtocol, StopAtAnyMessageEndsWithOneStoppedCodeAndNoProgressAfter)
{
    std::mt19937 rng(6);
    Raster raster = MakeRandomRaster(rng, 30, 120, 0.4);
    CRecorder full;
    RunWorker(*raster, full);
    const size_t progress = full.entries.size() - 1;
    ASSERT_GT(progress, 10u);
    for (size_t n = 1; n <= progress; ++n) {
        SCOPED_TRACE("stop at message " + std::to_string(n));
        CRecorder recorder;
        recorder.stopAt = n;
        RunWorker(*raster, recorder);
        ASSERT_EQ(recorder.entries.size(), n + 1);
        EXPECT_EQ(recorder.entries.back().first, UINT{WM_RUN_END});
        // The analysis polls before its last position: a stop during that
        // position or the step end comes too late and the run finishes.
        if (n + 1 < progress) {
            EXPECT_EQ(recorder.entries.back().second, WPARAM{RUN_STOPPED});
        }
    }
}

TEST(OutlineProtocol, WithoutThreadRunsSilentlyToTheEnd)
{
    Raster raster = MakeRaster({"##.", "#.#", ".##"});
    COutlineList list(raster.get());
    COutlineConnectionList connections;
    ASSERT_TRUE(list.TraceOutlines(nullptr, &connections));
    EXPECT_EQ(connections.GetCount(), 1u);
    EXPECT_EQ(list.GetItems().GetCount(), 2u);
}

}  // namespace
