#include "raster_test_support.h"

#include "model/undo.h"
#include "raster/raster_edit.h"
#include "raster/raster_entity.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

// ---- straightforward references ----

std::vector<BYTE> StoredBytes(const CRasterSrc& image)
{
    std::vector<BYTE> bytes;
    for (int y = 0; y < image.GetHeight(); ++y)
        bytes.insert(bytes.end(), image.GetRow(y), image.GetRow(y) + image.GetRowBytes());
    return bytes;
}

// Step i of a line of n = max(|dx|, |dy|) steps: the start plus i d / n,
// halves rounded up.
long Step(long i, long d, long n)
{
    long num = 2 * i * d + n;
    long den = 2 * n;
    return num / den - ((num % den != 0 && num < 0) ? 1 : 0);
}

// Colour as blue, green, red, palette index.
using Colour = std::array<BYTE, 4>;

Colour ColourOfValue(int bits, DWORD value)
{
    if (bits <= 8)
        return {0, 0, 0, static_cast<BYTE>(bits == 1 ? value != 0 : value)};
    return {static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value), 0};
}

void PaintPixel(CRasterSrc& image, int x, int y, const Colour& colour)
{
    if (x < 0 || y < 0 || x >= image.GetWidth() || y >= image.GetHeight())
        return;
    const int bits = image.GetBitCount();
    if (bits == 1)
        image.SetPixelIndex(x, y, colour[3] != 0);
    else if (bits <= 8)
        image.SetPixelIndex(x, y, bits == 4 ? colour[3] & 15 : colour[3]);
    else
        image.SetPixelRGB(x, y, colour[2], colour[1], colour[0]);
}

void PaintRect(CRasterSrc& image, int x0, int y0, int x1, int y1, const Colour& colour)
{
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            PaintPixel(image, x, y, colour);
}

// The brush of a stroke through the given points, each segment from the step
// after its start to its end.
void ReferenceStroke(CRasterSrc& image, const std::vector<CPoint>& path, int w, int h, const Colour& colour)
{
    PaintRect(image, path[0].x - w, path[0].y - h, path[0].x + w, path[0].y + h, colour);
    for (size_t k = 1; k < path.size(); ++k) {
        const long dx = path[k].x - path[k - 1].x, dy = path[k].y - path[k - 1].y;
        const long n = std::max(std::labs(dx), std::labs(dy));
        for (long i = 1; i <= n; ++i) {
            const int x = path[k - 1].x + static_cast<int>(Step(i, dx, n));
            const int y = path[k - 1].y + static_cast<int>(Step(i, dy, n));
            PaintRect(image, x - w, y - h, x + w, y + h, colour);
        }
    }
}

// ---- an independent reference for polygon fills ----
//
// The scan rules decide the pixels along the outline; everywhere else a fill
// must agree with the even-odd interior of the polygon, tested point by point.

bool InsideEvenOdd(const std::vector<CPoint>& points, double x, double y)
{
    bool inside = false;
    for (size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
        const double xi = points[i].x, yi = points[i].y, xj = points[j].x, yj = points[j].y;
        if ((yi > y) != (yj > y) && x < xi + (y - yi) * (xj - xi) / (yj - yi))
            inside = !inside;
    }
    return inside;
}

double DistanceToOutline(const std::vector<CPoint>& points, double x, double y)
{
    double best = 1e300;
    for (size_t i = 0; i < points.size(); ++i) {
        const CPoint& a = points[i];
        const CPoint& b = points[(i + 1) % points.size()];
        const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
        const double squared = dx * dx + dy * dy;
        double t = squared > 0 ? ((x - a.x) * dx + (y - a.y) * dy) / squared : 0;
        t = std::clamp(t, 0.0, 1.0);
        best = std::min(best, std::hypot(a.x + t * dx - x, a.y + t * dy - y));
    }
    return best;
}

// The pixels a fill changes, read from a blank 8-bit image filled with 1.
std::vector<std::vector<bool>> FillMask(const std::vector<CPoint>& points, int width, int height, bool* filled)
{
    CRasterSrc blank;
    EXPECT_TRUE(blank.Create(width, height, 8));
    *filled = blank.FillPolygon(nullptr, points, 1);
    std::vector<std::vector<bool>> mask(static_cast<size_t>(height), std::vector<bool>(static_cast<size_t>(width)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            mask[static_cast<size_t>(y)][static_cast<size_t>(x)] = blank.GetPixelIndex(x, y) == 1;
    return mask;
}

// Pixels farther than 1.5 from the outline are filled exactly when inside.
void ExpectMaskFollowsTheInterior(const std::vector<std::vector<bool>>& mask, const std::vector<CPoint>& points)
{
    int wrong = 0;
    for (size_t y = 0; y < mask.size(); ++y) {
        for (size_t x = 0; x < mask[y].size(); ++x) {
            const double px = static_cast<double>(x), py = static_cast<double>(y);
            if (DistanceToOutline(points, px, py) <= 1.5)
                continue;
            if (mask[y][x] != InsideEvenOdd(points, px, py) && ++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << (mask[y][x] ? " filled outside" : " left empty inside");
        }
    }
}

// The mask painted over the image.
void PaintMask(CRasterSrc& image, const std::vector<std::vector<bool>>& mask, const Colour& colour)
{
    for (size_t y = 0; y < mask.size(); ++y)
        for (size_t x = 0; x < mask[y].size(); ++x)
            if (mask[y][x])
                PaintPixel(image, static_cast<int>(x), static_cast<int>(y), colour);
}

// An x-monotone polygon: a top chain left to right over a bottom chain right
// to left, their heights drawn from a few rows so that many tips share one.
std::vector<CPoint> RandomMonotonePolygon(std::mt19937& random, int x0, int y0)
{
    const int count = 3 + static_cast<int>(random() % 6);
    std::vector<CPoint> top, bottom;
    int x = x0;
    for (int i = 0; i < count; ++i) {
        top.push_back({x, y0 + 3 * static_cast<int>(random() % 4)});
        bottom.push_back({x, y0 + 12 + 3 * static_cast<int>(random() % 4)});
        x += 1 + static_cast<int>(random() % 7);
    }
    std::vector<CPoint> polygon(top);
    polygon.insert(polygon.end(), bottom.rbegin(), bottom.rend());
    if (random() % 2)
        std::reverse(polygon.begin(), polygon.end());
    if (random() % 3 == 0)
        for (CPoint& p : polygon)
            std::swap(p.x, p.y);
    return polygon;
}

void MakeEditImage(CRasterSrc& image, int bits, unsigned seed)
{
    const int width = bits == 1 ? 53 : 37;
    MakeRandomImage(image, width, 29, bits, seed);
}

// Undo brings back every stored byte, redo the edited ones.
void ExpectUndoRedo(CUndoList& list, CRasterSrc& image, const std::vector<BYTE>& before)
{
    const std::vector<BYTE> after = StoredBytes(image);
    ASSERT_TRUE(list.UndoLast());
    EXPECT_EQ(StoredBytes(image), before);
    ASSERT_TRUE(list.RedoNext());
    EXPECT_EQ(StoredBytes(image), after);
}

}  // namespace

// ---- polygons and windows ----

TEST(RasterEdit, RectangleFillsColumnsTenToNineteenOfRowsTenToTwenty)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(40, 40, 8));
    const std::vector<CPoint> square = {{10, 10}, {20, 10}, {20, 20}, {10, 20}};
    CUndoList list;
    ASSERT_TRUE(image.FillPolygon(&list, square, 7));
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(image.GetPixelIndex(x, y), (x >= 10 && x < 20 && y >= 10 && y <= 20) ? 7 : 0) << x << "," << y;
    EXPECT_EQ(list.GetCount(), 1u);

    // The same window given the other way round, and moved by an offset.
    CRasterSrc moved;
    ASSERT_TRUE(moved.Create(40, 40, 8));
    const std::vector<CPoint> reversed = {{0, 10}, {10, 10}, {10, 0}, {0, 0}};
    const CPoint offset{10, 10};
    ASSERT_TRUE(moved.FillPolygon(nullptr, reversed, 7, &offset));
    EXPECT_EQ(moved.GetPixelIndex(10, 10), 7);
    EXPECT_EQ(moved.GetPixelIndex(19, 19), 7);
    EXPECT_EQ(moved.GetPixelIndex(9, 15), 0);
}

TEST(RasterEdit, FillsFollowTheInteriorOnEveryDepthAndUndoExactly)
{
    std::mt19937 random(17);
    for (int bits : kAllDepths) {
        for (int trial = 0; trial < 200; ++trial) {
            CRasterSrc image;
            MakeEditImage(image, bits, static_cast<unsigned>(trial * 7 + bits));
            std::uniform_int_distribution<int> xs(-12, image.GetWidth() - 8), ys(-8, image.GetHeight() - 8);
            const std::vector<CPoint> polygon = RandomMonotonePolygon(random, xs(random), ys(random));
            const DWORD value = static_cast<DWORD>(random());
            SCOPED_TRACE(testing::Message() << bits << " bits, trial " << trial);

            bool fills = false;
            const auto mask = FillMask(polygon, image.GetWidth(), image.GetHeight(), &fills);
            ExpectMaskFollowsTheInterior(mask, polygon);
            CRasterSrc expected;
            ASSERT_TRUE(expected.Copy(image));
            PaintMask(expected, mask, ColourOfValue(bits, value));
            const std::vector<BYTE> before = StoredBytes(image);
            CUndoList list;
            ASSERT_EQ(image.FillPolygon(&list, polygon, value), fills);
            EXPECT_EQ(StoredBytes(image), StoredBytes(expected));
            EXPECT_EQ(list.GetCount(), fills ? 1u : 0u);
            if (fills)
                ExpectUndoRedo(list, image, before);
        }
    }
}

TEST(RasterEdit, TipsOnOneRowFillOnlyTheirOwnShape)
{
    // W: two bottom tips on row 30; M: two top tips on row 5; and the same
    // with flat tips, both ways round.
    const std::vector<std::pair<std::vector<CPoint>, int>> shapes = {
        {{{2, 5}, {38, 5}, {30, 30}, {20, 12}, {10, 30}}, 30},
        {{{2, 30}, {10, 5}, {20, 22}, {30, 5}, {38, 30}}, 5},
        {{{2, 30}, {8, 5}, {12, 5}, {20, 22}, {28, 5}, {32, 5}, {38, 30}}, 5},
        {{{2, 5}, {38, 5}, {32, 30}, {28, 30}, {20, 12}, {12, 30}, {8, 30}}, 30},
    };
    for (auto [polygon, tipRow] : shapes) {
        for (int turn = 0; turn < 2; ++turn) {
            bool fills = false;
            const auto mask = FillMask(polygon, 40, 36, &fills);
            EXPECT_TRUE(fills);
            ExpectMaskFollowsTheInterior(mask, polygon);
            for (int x = 14; x < 27; ++x)
                EXPECT_FALSE(mask[static_cast<size_t>(tipRow)][static_cast<size_t>(x)]) << x;
            std::reverse(polygon.begin(), polygon.end());
        }
    }
}

TEST(RasterEdit, OrientationComesFromTheAreaAndFlatPolygonsFillNothing)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(40, 40, 8));
    CUndoList list;
    // Neighbours of the top vertex that say nothing about the turn.
    for (const std::vector<CPoint>& polygon :
         {std::vector<CPoint>{{10, 0}, {0, 30}, {5, 2}}, std::vector<CPoint>{{10, 0}, {20, 20}, {20, 10}}}) {
        bool fills = false;
        const auto mask = FillMask(polygon, 40, 40, &fills);
        ASSERT_TRUE(fills);
        ExpectMaskFollowsTheInterior(mask, polygon);
        CRasterSrc expected;
        ASSERT_TRUE(expected.Copy(image));
        PaintMask(expected, mask, {0, 0, 0, 9});
        ASSERT_TRUE(image.FillPolygon(&list, polygon, 9));
        EXPECT_EQ(StoredBytes(image), StoredBytes(expected));
    }
    EXPECT_EQ(list.GetCount(), 2u);

    const std::vector<BYTE> before = StoredBytes(image);
    const std::vector<CPoint> collinear = {{10, 5}, {10, 15}, {10, 25}};
    const std::vector<CPoint> slanted = {{1, 1}, {5, 9}, {3, 5}};
    const std::vector<CPoint> two = {{1, 1}, {30, 30}};
    EXPECT_FALSE(image.FillPolygon(&list, collinear, 9));
    EXPECT_FALSE(image.FillPolygon(&list, slanted, 9));
    EXPECT_FALSE(image.FillPolygon(&list, two, 9));
    const std::vector<CPoint> outside = {{50, 50}, {60, 50}, {60, 60}};
    EXPECT_FALSE(image.FillPolygon(&list, outside, 9));
    EXPECT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(StoredBytes(image), before);
}

TEST(RasterEdit, VerticesFarOutsideFillAsOnAnUnboundedCanvas)
{
    // Long shallow edges and tips far outside: the interior inside the image
    // is all that counts, on a wide image and clipped to a narrow one.
    for (const std::vector<CPoint>& polygon :
         {std::vector<CPoint>{{-100000, 5}, {30, 8}, {20, 25}}, std::vector<CPoint>{{5, 20}, {60000, -3}, {9, 27}},
          std::vector<CPoint>{{-3, -40000}, {31, 12}, {2, 17}, {-70000, 14}},
          std::vector<CPoint>{{-90000, 2}, {-50000, 2}, {10, 20}, {30, 2}, {40000, 2}, {35, 27}}}) {
        bool fills = false;
        const auto mask = FillMask(polygon, 37, 29, &fills);
        ASSERT_TRUE(fills);
        ExpectMaskFollowsTheInterior(mask, polygon);
        for (int bits : {1, 8, 24}) {
            CRasterSrc image;
            MakeEditImage(image, bits, 3);
            CRasterSrc expected;
            ASSERT_TRUE(expected.Copy(image));
            // The edit images are 53 wide at one bit: the mask covers the left 37.
            bool wider = false;
            PaintMask(expected, FillMask(polygon, image.GetWidth(), 29, &wider), ColourOfValue(bits, 0x123456));
            ASSERT_TRUE(image.FillPolygon(nullptr, polygon, 0x123456));
            EXPECT_EQ(StoredBytes(image), StoredBytes(expected)) << bits;
        }
    }
    for (int bits : {1, 8, 24}) {
        CRasterSrc image;
        MakeEditImage(image, bits, 3);
        // A window around everything, at the ends of the coordinate range.
        const std::vector<CPoint> huge = {
            {-2000000000, -2000000000}, {2000000000, -2000000000}, {2000000000, 2000000000}, {-2000000000, 2000000000}};
        CRasterSrc expected;
        ASSERT_TRUE(expected.Copy(image));
        PaintRect(expected, 0, 0, image.GetWidth(), image.GetHeight(), ColourOfValue(bits, 0x00FF00));
        const std::vector<BYTE> before = StoredBytes(image);
        CUndoList list;
        ASSERT_TRUE(image.FillPolygon(&list, huge, 0x00FF00));
        EXPECT_EQ(StoredBytes(image), StoredBytes(expected));
        ExpectUndoRedo(list, image, before);
    }
}

// ---- the brush ----

TEST(RasterEdit, ClickPaintsOneSquareCentredOnThePoint)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(100, 100, 8));
    const BYTE colour[4] = {0, 0, 0, 5};
    image.SetFillMode("Fill raster by point", colour);
    ASSERT_TRUE(image.BeginErase(50, 50));
    ASSERT_TRUE(image.EraseTo(50, 50));  // staying put paints nothing more
    ASSERT_NE(image.GetLocalUndoItem(), nullptr);
    EXPECT_EQ(image.GetLocalUndoItem()->GetBlockCount(), 1u);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(image.GetPixelIndex(x, y), (x >= 18 && x < 82 && y >= 18 && y < 82) ? 5 : 0) << x << "," << y;
    CUndoList list;
    ASSERT_TRUE(image.EndErase(&list));
    EXPECT_EQ(image.GetLocalUndoItem(), nullptr);
    ASSERT_EQ(list.GetCount(), 1u);
    EXPECT_EQ(list.GetAt(0)->GetName(), "Fill raster by point");
    EXPECT_FALSE(image.EndErase(&list));
}

TEST(RasterEdit, StrokesPaintTheBrushAlongThePathAndUndoExactly)
{
    std::mt19937 random(5);
    for (int bits : kAllDepths) {
        for (int trial = 0; trial < 12; ++trial) {
            CRasterSrc image;
            MakeEditImage(image, bits, static_cast<unsigned>(trial + 11 * bits));
            std::uniform_int_distribution<int> xs(-8, image.GetWidth() + 8), ys(-8, image.GetHeight() + 8);
            const CBrushSize brush{1 + static_cast<int>(random() % 4), 1 + static_cast<int>(random() % 3)};
            const Colour colour = {static_cast<BYTE>(random()), static_cast<BYTE>(random()),
                                   static_cast<BYTE>(random()), static_cast<BYTE>(random())};
            if (trial % 2)
                image.SetFillMode(nullptr, colour.data(), &brush);
            else
                image.SetEraseMode(nullptr, &brush);
            Colour painted;
            std::copy(image.GetEditSettings().colour, image.GetEditSettings().colour + 4, painted.begin());
            std::vector<CPoint> path(1 + random() % 6);
            for (CPoint& p : path)
                p = {xs(random), ys(random)};
            SCOPED_TRACE(testing::Message() << bits << " bits, trial " << trial);

            CRasterSrc expected;
            ASSERT_TRUE(expected.Copy(image));
            ReferenceStroke(expected, path, brush.halfWidth, brush.halfHeight, painted);
            const std::vector<BYTE> before = StoredBytes(image);
            ASSERT_TRUE(image.BeginErase(path[0].x, path[0].y));
            for (size_t k = 1; k < path.size(); ++k)
                ASSERT_TRUE(image.EraseTo(path[k].x, path[k].y));
            EXPECT_EQ(StoredBytes(image), StoredBytes(expected));
            CUndoList list;
            if (image.EndErase(&list))
                ExpectUndoRedo(list, image, before);
            else
                EXPECT_EQ(StoredBytes(image), before);  // the whole stroke missed the image
        }
    }
}

TEST(RasterEdit, OneBitBrushChangesOnlyThePixelsInside)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(40, 10, 1));
    image.FillBytes(0xFF);
    const CBrushSize brush{3, 3};
    image.SetEraseMode("Erase raster by point", &brush);
    EXPECT_EQ(image.GetEditSettings().mode, CRasterEditSettings::kModeErase);
    EXPECT_EQ(image.GetEditSettings().colour[3], 0);
    ASSERT_TRUE(image.BeginErase(16, 5));  // left edge at 13, inside the byte of 8..15
    for (int x = 0; x < 40; ++x)
        EXPECT_EQ(image.GetPixelIndex(x, 5), (x >= 13 && x < 19) ? 0 : 1) << x;
    EXPECT_EQ(image.GetPixelIndex(15, 1), 1);
    EXPECT_EQ(image.GetPixelIndex(15, 2), 0);
}

TEST(RasterEdit, UnfinishedStrokeIsTakenBackAndBlocksCheckTheirImage)
{
    CRasterSrc image;
    MakeEditImage(image, 24, 8);
    const std::vector<BYTE> before = StoredBytes(image);
    ASSERT_TRUE(image.BeginErase(5, 5));
    ASSERT_TRUE(image.EraseTo(20, 9));
    EXPECT_NE(StoredBytes(image), before);
    ASSERT_TRUE(image.BeginErase(300, 300));  // a new stroke, outside: paints nothing
    EXPECT_EQ(StoredBytes(image), before);

    ASSERT_TRUE(image.BeginErase(30, 20));
    CUndoList list;
    ASSERT_TRUE(image.EndErase(&list));
    // A smaller picture in its place: the saved pixels no longer fit.
    ASSERT_TRUE(image.Crop(0, 0, 10, 10));
    const std::vector<BYTE> cropped = StoredBytes(image);
    MessageRecorder messages;
    EXPECT_FALSE(list.UndoLast());
    EXPECT_EQ(StoredBytes(image), cropped);
}

TEST(RasterEdit, RasterEntityEditsInWorldCoordinates)
{
    CRaster raster;
    ASSERT_TRUE(raster.GetImage().Create(30, 20, 8));
    ASSERT_TRUE(raster.SetOrigin(100, 200));
    // World (110, 210) is column 10, row 20 - 10 = 10.
    const std::vector<frDoublePoint> window = {{110, 210}, {120, 210}, {120, 200}, {110, 200}};
    CUndoList list;
    ASSERT_TRUE(raster.FillPolygon(&list, window, 3));
    CRasterSrc expected;
    ASSERT_TRUE(expected.Create(30, 20, 8));
    const std::vector<CPoint> pixels = {{10, 10}, {20, 10}, {20, 20}, {10, 20}};
    ASSERT_TRUE(expected.FillPolygon(nullptr, pixels, 3));
    EXPECT_EQ(StoredBytes(raster.GetImage()), StoredBytes(expected));
    EXPECT_EQ(raster.GetCacheScale(), CRaster::kCacheInvalid);

    raster.GetImage().SetEraseMode();
    ASSERT_TRUE(raster.BeginErase(115.2, 205.4));  // column 15, row 15
    ASSERT_TRUE(raster.EndErase(&list));
    EXPECT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(raster.GetImage().GetPixelIndex(0, 0), raster.GetImage().GetBackground()[3]);
}
