#include "platform/pixel_dc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace {

using Draw = std::function<void(CPixelDC&)>;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

void FillRandom(CPixelDC& dc, unsigned seed)
{
    std::mt19937 random(seed);
    for (int i = 0; i < dc.Width() * dc.Height(); ++i)
        dc.Bits()[i] = random() & 0xFFFFFF;
}

std::vector<std::uint32_t> Snapshot(const CPixelDC& dc)
{
    return {dc.Bits(), dc.Bits() + static_cast<std::size_t>(dc.Width()) * dc.Height()};
}

std::set<std::pair<int, int>> PixelsNot(const CPixelDC& dc, COLORREF color)
{
    std::set<std::pair<int, int>> pixels;
    for (int y = 0; y < dc.Height(); ++y)
        for (int x = 0; x < dc.Width(); ++x)
            if (dc.GetPixel(x, y) != color)
                pixels.insert({x, y});
    return pixels;
}

std::set<std::pair<int, int>> Changed(const CPixelDC& dc, const std::vector<std::uint32_t>& before)
{
    std::set<std::pair<int, int>> pixels;
    for (int y = 0; y < dc.Height(); ++y)
        for (int x = 0; x < dc.Width(); ++x)
            if (dc.Bits()[y * dc.Width() + x] != before[y * dc.Width() + x])
                pixels.insert({x, y});
    return pixels;
}

// Pen, brush and background colours whose XOR with each other is none of them,
// so a pixel touched twice in one call shows.
struct Tools {
    CPen pen;
    CBrush brush;
    void Select(CPixelDC& dc)
    {
        dc.SelectObject(&pen);
        dc.SelectObject(&brush);
        dc.SetBkColor(RGB(0, 0, 4));
    }
};

struct Case {
    const char* name;
    CPen pen;
    CBrush brush;
    Draw draw;
};

std::vector<Case> Figures()
{
    const CPen thin(PS_SOLID, 0, RGB(1, 0, 0));
    const CPen wide(PS_SOLID, 5, RGB(1, 0, 0));
    const CPen even(PS_SOLID, 4, RGB(1, 0, 0));
    const CPen dotted(PS_DOT, 0, RGB(1, 0, 0));
    const CPen dashDot(PS_DASHDOT, 0, RGB(1, 0, 0));
    const CBrush solid(RGB(0, 2, 0));
    const CBrush hatch(HS_DIAGCROSS, RGB(0, 2, 0));
    const POINT zigzag[] = {{3, 3}, {50, 40}, {10, 45}, {45, 5}, {3, 3}, {30, 60}};
    const POINT star[] = {{30, 2}, {47, 55}, {3, 22}, {57, 22}, {13, 55}};
    const POINT squares[] = {{5, 5}, {40, 5}, {40, 40}, {5, 40}, {15, 15}, {55, 15}, {55, 55}, {15, 55}};
    const int squareCounts[] = {4, 4};
    return {
        {"line", thin, solid,
         [](CPixelDC& dc) {
             dc.MoveTo(2, 3);
             dc.LineTo(57, 41);
         }},
        {"steep line", thin, solid,
         [](CPixelDC& dc) {
             dc.MoveTo(40, 60);
             dc.LineTo(33, 1);
         }},
        {"self-crossing polyline", thin, solid, [=](CPixelDC& dc) { dc.Polyline(zigzag, 6); }},
        {"wide polyline", wide, solid, [=](CPixelDC& dc) { dc.Polyline(zigzag, 6); }},
        {"even wide polyline", even, solid, [=](CPixelDC& dc) { dc.Polyline(zigzag, 6); }},
        {"dotted polyline", dotted, solid, [=](CPixelDC& dc) { dc.Polyline(zigzag, 6); }},
        {"transparent dash-dot", dashDot, solid,
         [=](CPixelDC& dc) {
             dc.SetBkMode(TRANSPARENT);
             dc.Polyline(zigzag, 6);
         }},
        {"pentagram", thin, solid,
         [=](CPixelDC& dc) {
             dc.SetPolyFillMode(WINDING);
             dc.Polygon(star, 5);
         }},
        {"hatched wide pentagram", wide, hatch, [=](CPixelDC& dc) { dc.Polygon(star, 5); }},
        {"dotted poly-polygon", dotted, hatch, [=](CPixelDC& dc) { dc.PolyPolygon(squares, squareCounts, 2); }},
        {"rectangle", thin, solid, [](CPixelDC& dc) { dc.Rectangle(4, 6, 50, 33); }},
        {"wide hatched rectangle", wide, hatch, [](CPixelDC& dc) { dc.Rectangle(4, 6, 50, 33); }},
        {"ellipse", thin, solid, [](CPixelDC& dc) { dc.Ellipse(3, 5, 58, 40); }},
        {"wide ellipse", wide, hatch, [](CPixelDC& dc) { dc.Ellipse(3, 5, 58, 40); }},
        {"dotted ellipse", dotted, solid, [](CPixelDC& dc) { dc.Ellipse(3, 5, 58, 40); }},
        {"arc", thin, solid, [](CPixelDC& dc) { dc.Arc(3, 5, 58, 50, 60, 10, 0, 30); }},
        {"wide clockwise arc", wide, solid,
         [](CPixelDC& dc) {
             dc.SetArcDirection(AD_CLOCKWISE);
             dc.Arc(3, 5, 58, 50, 60, 10, 0, 30);
         }},
        {"arc to", dotted, solid,
         [](CPixelDC& dc) {
             dc.MoveTo(1, 60);
             dc.ArcTo(3, 5, 58, 50, 0, 30, 60, 10);
         }},
        {"stroked and filled path", even, hatch,
         [](CPixelDC& dc) {
             EXPECT_TRUE(dc.BeginPath());
             dc.MoveTo(5, 5);
             dc.LineTo(50, 10);
             dc.ArcTo(20, 20, 60, 60, 60, 40, 20, 40);
             EXPECT_TRUE(dc.CloseFigure());
             EXPECT_TRUE(dc.EndPath());
             EXPECT_TRUE(dc.StrokeAndFillPath());
         }},
    };
}

}  // namespace

TEST(PixelDC, XorFiguresTouchEachCoveredPixelOnceAndRestoreWhenDrawnTwice)
{
    for (const Case& figure : Figures()) {
        SCOPED_TRACE(figure.name);
        // Where the figure paints, drawn once with copy over white.
        CPixelDC plain(64, 64);
        Case copy = figure;
        plain.SelectObject(&copy.pen);
        plain.SelectObject(&copy.brush);
        plain.SetBkColor(RGB(0, 0, 4));
        figure.draw(plain);
        const std::set<std::pair<int, int>> covered = PixelsNot(plain, kWhite);
        ASSERT_FALSE(covered.empty());

        for (int rop : {R2_XORPEN, R2_NOT, R2_NOTXORPEN}) {
            CPixelDC dc(64, 64);
            FillRandom(dc, 7);
            const std::vector<std::uint32_t> before = Snapshot(dc);
            dc.SelectObject(&copy.pen);
            dc.SelectObject(&copy.brush);
            dc.SetBkColor(RGB(0, 0, 4));
            dc.SetROP2(rop);
            figure.draw(dc);
            if (rop == R2_XORPEN) {
                // Each covered pixel changed by exactly one of the colours.
                EXPECT_EQ(Changed(dc, before), covered);
                for (const auto& [x, y] : covered) {
                    const std::uint32_t diff = dc.Bits()[y * 64 + x] ^ before[y * 64 + x];
                    EXPECT_TRUE(diff == 0x010000 || diff == 0x000200 || diff == 0x000004) << x << "," << y;
                }
            }
            figure.draw(dc);
            EXPECT_EQ(Snapshot(dc), before) << "rop " << rop;
            for (std::uint32_t p : Snapshot(dc))
                ASSERT_EQ(p >> 24, 0u);
        }
    }
}

TEST(PixelDC, LinesLeaveOutTheirLastPixelAndJoinsAreDrawnOnce)
{
    CPixelDC dc(20, 20);
    dc.MoveTo(2, 5);
    EXPECT_TRUE(dc.LineTo(8, 5));
    EXPECT_EQ(dc.GetPixel(2, 5), kBlack);
    EXPECT_EQ(dc.GetPixel(7, 5), kBlack);
    EXPECT_EQ(dc.GetPixel(8, 5), kWhite);
    EXPECT_EQ(dc.GetCurrentPosition().x, 8);

    // A closed rectangle as a polyline, XOR-ed once: every corner inverted.
    CPixelDC xdc(20, 20, kBlack);
    CPen white(PS_SOLID, 0, kWhite);
    xdc.SelectObject(&white);
    xdc.SetROP2(R2_XORPEN);
    const POINT ring[] = {{2, 2}, {10, 2}, {10, 10}, {2, 10}, {2, 2}};
    xdc.Polyline(ring, 5);
    for (const POINT& p : ring)
        EXPECT_EQ(xdc.GetPixel(p.x, p.y), kWhite) << p.x << "," << p.y;
    EXPECT_EQ(PixelsNot(xdc, kBlack).size(), 32u);

    // A single point or a zero-length line draws nothing.
    CPixelDC empty(8, 8);
    empty.MoveTo(3, 3);
    empty.LineTo(3, 3);
    EXPECT_TRUE(PixelsNot(empty, kWhite).empty());
}

TEST(PixelDC, RectanglesAndEllipsesExcludeRightAndBottomEdges)
{
    CPixelDC dc(20, 20);
    CBrush red(kRed);
    dc.SelectObject(&red);
    dc.Rectangle(2, 3, 9, 8);
    EXPECT_EQ(dc.GetPixel(2, 3), kBlack);
    EXPECT_EQ(dc.GetPixel(8, 7), kBlack);
    EXPECT_EQ(dc.GetPixel(9, 7), kWhite);
    EXPECT_EQ(dc.GetPixel(8, 8), kWhite);
    EXPECT_EQ(dc.GetPixel(5, 5), kRed);
    EXPECT_EQ(PixelsNot(dc, kWhite).size(), 35u);

    // Reversed corners make the same rectangle.
    CPixelDC reversed(20, 20);
    reversed.SelectObject(&red);
    reversed.Rectangle(9, 8, 2, 3);
    EXPECT_EQ(Snapshot(reversed), Snapshot(dc));

    CPixelDC round(20, 20);
    CPen none(PS_NULL, 0, kBlack);
    round.SelectObject(&none);
    round.SelectObject(&red);
    round.Ellipse(0, 0, 10, 6);
    const auto painted = PixelsNot(round, kWhite);
    int maxX = 0, maxY = 0;
    for (const auto& [x, y] : painted) {
        maxX = std::max(maxX, x);
        maxY = std::max(maxY, y);
        EXPECT_EQ(round.GetPixel(9 - x, y), kRed) << "symmetric";
        EXPECT_EQ(round.GetPixel(x, 5 - y), kRed) << "symmetric";
    }
    EXPECT_EQ(maxX, 9);
    EXPECT_EQ(maxY, 5);
    EXPECT_EQ(round.GetPixel(0, 0), kWhite);

    // A tiny box still gets its pixels.
    CPixelDC tiny(4, 4);
    tiny.Ellipse(1, 1, 3, 3);
    EXPECT_EQ(PixelsNot(tiny, kWhite).size(), 4u);
}

TEST(PixelDC, PentagramCentreIsHollowWithAlternateAndFullWithWinding)
{
    const POINT star[] = {{50, 0}, {79, 90}, {2, 35}, {98, 35}, {21, 90}};
    CPen none(PS_NULL, 0, kBlack);
    CBrush blue(kBlue);
    for (int mode : {ALTERNATE, WINDING}) {
        CPixelDC dc(100, 100);
        dc.SelectObject(&none);
        dc.SelectObject(&blue);
        dc.SetPolyFillMode(mode);
        ASSERT_TRUE(dc.Polygon(star, 5));
        EXPECT_EQ(dc.GetPixel(50, 50), mode == WINDING ? kBlue : kWhite);
        EXPECT_EQ(dc.GetPixel(50, 10), kBlue);  // a point
        EXPECT_EQ(dc.GetPixel(5, 5), kWhite);
    }
    // The fill of an axis-aligned square excludes its right and bottom edges.
    const POINT square[] = {{2, 2}, {8, 2}, {8, 8}, {2, 8}};
    CPixelDC dc(12, 12);
    dc.SelectObject(&none);
    dc.SelectObject(&blue);
    dc.Polygon(square, 4);
    EXPECT_EQ(PixelsNot(dc, kWhite).size(), 36u);
    EXPECT_EQ(dc.GetPixel(7, 7), kBlue);
    EXPECT_EQ(dc.GetPixel(8, 7), kWhite);
    EXPECT_FALSE(dc.Polygon(square, 1));
}

TEST(PixelDC, HatchesAlignToTheDeviceOriginAndGapsFollowTheBackgroundMode)
{
    CPen none(PS_NULL, 0, kBlack);
    CBrush cross(HS_CROSS, kRed);
    CBrush diagonal(HS_FDIAGONAL, kRed);
    CPixelDC dc(32, 32, kBlue);
    dc.SelectObject(&none);
    dc.SelectObject(&cross);
    dc.SetBkColor(kBlack);
    dc.Rectangle(3, 3, 30, 30);
    EXPECT_EQ(dc.GetPixel(8, 11), kRed);   // vertical line at x = 8
    EXPECT_EQ(dc.GetPixel(11, 16), kRed);  // horizontal line at y = 16
    EXPECT_EQ(dc.GetPixel(10, 10), kBlack);
    EXPECT_EQ(dc.GetPixel(2, 2), kBlue);

    CPixelDC clear(32, 32, kBlue);
    clear.SelectObject(&none);
    clear.SelectObject(&diagonal);
    clear.SetBkMode(TRANSPARENT);
    clear.Rectangle(0, 0, 32, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(clear.GetPixel(x, y), x % 8 == y % 8 ? kRed : kBlue) << x << "," << y;
}

TEST(PixelDC, DottedPensAlternateAlongThePolylineWithBackgroundInTheGaps)
{
    CPen dot(PS_DOT, 0, kBlack);
    CPixelDC dc(20, 4, kBlue);
    dc.SelectObject(&dot);
    dc.SetBkColor(kRed);
    const POINT path[] = {{0, 1}, {3, 1}, {10, 1}};
    dc.Polyline(path, 3);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(dc.GetPixel(x, 1), x % 2 ? kRed : kBlack) << x;
    EXPECT_EQ(dc.GetPixel(10, 1), kBlue);

    dc.SetBkMode(TRANSPARENT);
    dc.MoveTo(0, 2);
    dc.LineTo(10, 2);
    EXPECT_EQ(dc.GetPixel(0, 2), kBlack);
    EXPECT_EQ(dc.GetPixel(1, 2), kBlue);

    CPen none(PS_NULL, 3, kBlack);
    dc.SelectObject(&none);
    dc.MoveTo(0, 3);
    dc.LineTo(10, 3);
    EXPECT_EQ(dc.GetPixel(0, 3), kBlue);
}

TEST(PixelDC, WidePensHaveRoundEndsAndTheirWidthInDevicePixels)
{
    CPen wide(PS_SOLID, 5, kBlack);
    CPixelDC dc(40, 40);
    dc.SelectObject(&wide);
    dc.MoveTo(10, 20);
    dc.LineTo(30, 20);
    EXPECT_EQ(dc.GetPixel(20, 18), kBlack);
    EXPECT_EQ(dc.GetPixel(20, 22), kBlack);
    EXPECT_EQ(dc.GetPixel(20, 23), kWhite);
    EXPECT_EQ(dc.GetPixel(8, 20), kBlack);  // round end reaches past the point
    EXPECT_EQ(dc.GetPixel(8, 18), kWhite);  // but not its corner
    EXPECT_EQ(dc.GetPixel(32, 20), kBlack);

    CPen two(PS_SOLID, 2, kBlack);
    CPixelDC even(20, 20);
    even.SelectObject(&two);
    even.MoveTo(2, 10);
    even.LineTo(15, 10);
    int rows = 0;
    for (int y = 0; y < 20; ++y)
        rows += even.GetPixel(8, y) == kBlack;
    EXPECT_EQ(rows, 2);

    // Width 2 in logical units at half scale is a cosmetic pen.
    CPixelDC scaled(20, 20);
    scaled.SetMapMode(MM_ANISOTROPIC);
    scaled.SetWindowExt(2, 2);
    scaled.SetViewportExt(1, 1);
    scaled.SelectObject(&two);
    scaled.MoveTo(4, 20);
    scaled.LineTo(30, 20);
    EXPECT_EQ(PixelsNot(scaled, kWhite).size(), 13u);
}

TEST(PixelDC, MirroredMappingPutsLogicalYUpAndTurnsArcsOver)
{
    CPixelDC dc(100, 100);
    EXPECT_EQ(dc.SetMapMode(MM_ANISOTROPIC), MM_TEXT);
    dc.SetWindowOrg(0, 0);
    dc.SetWindowExt(1000, 1000);
    dc.SetViewportOrg(0, 99);
    dc.SetViewportExt(100, -100);
    EXPECT_EQ(dc.LogicalToDevice(0, 0).y, 99);
    EXPECT_EQ(dc.LogicalToDevice(500, 990).y, 0);
    EXPECT_EQ(dc.LogicalToDevice(505, 0).x, 51);  // 50.5 rounds up
    EXPECT_EQ(dc.LogicalToDevice(-505, 0).x, -50);
    dc.SetPixel(100, 100, kRed);
    EXPECT_EQ(dc.GetPixel(10, 89), kRed);
    EXPECT_EQ(dc.SetWindowExt(0, 5).cx, 1000);  // zero refused
    EXPECT_EQ(dc.GetWindowExt().cy, 1000);

    // The same arc request, from the right ray to the ray towards logical
    // up: a quarter through the top right without mirroring, three quarters
    // the other way round with it.
    auto quadrants = [](const CPixelDC& canvas) {
        int topRight = 0, bottomLeft = 0;
        for (const auto& [x, y] : PixelsNot(canvas, kWhite)) {
            topRight += x > 55 && y < 45;
            bottomLeft += x < 45 && y > 55;
        }
        return std::pair(topRight, bottomLeft);
    };
    dc.Arc(100, 100, 900, 900, 1000, 500, 500, 1000);
    const auto [mirroredTopRight, mirroredBottomLeft] = quadrants(dc);
    EXPECT_EQ(mirroredTopRight, 0);
    EXPECT_GT(mirroredBottomLeft, 20);

    CPixelDC text(100, 100);
    text.Arc(10, 10, 90, 90, 100, 50, 50, 0);
    const auto [topRight, bottomLeft] = quadrants(text);
    EXPECT_GT(topRight, 20);
    EXPECT_EQ(bottomLeft, 0);
    EXPECT_EQ(text.GetPixel(89, 49), kBlack);

    // A thin arc is a part of the ellipse's outline.
    CPixelDC whole(100, 100);
    CBrush hollow = CBrush::Null();
    whole.SelectObject(&hollow);
    whole.Ellipse(10, 10, 90, 90);
    const auto outline = PixelsNot(whole, kWhite);
    for (const auto& p : PixelsNot(text, kWhite))
        EXPECT_TRUE(outline.count(p)) << p.first << "," << p.second;
}

TEST(PixelDC, HugeCoordinatesAreClippedWithoutHangingOrOverflow)
{
    CPixelDC dc(50, 50);
    CPen wide(PS_SOLID, 7, kBlack);
    CPen dot(PS_DOT, 0, kBlack);
    dc.MoveTo(-1000000000, -1000000000);
    dc.LineTo(1000000000, 1000000000);
    EXPECT_EQ(dc.GetPixel(25, 25), kBlack);
    EXPECT_EQ(dc.GetPixel(26, 25), kWhite);
    dc.SelectObject(&dot);
    dc.MoveTo(-1000000000, 30);
    dc.LineTo(1000000000, 30);
    EXPECT_NE(dc.GetPixel(10, 30), dc.GetPixel(11, 30));
    dc.SelectObject(&wide);
    dc.MoveTo(10, -2000000000);
    dc.LineTo(10, 2000000000);
    EXPECT_EQ(dc.GetPixel(13, 0), kBlack);
    EXPECT_EQ(dc.GetPixel(14, 49), kWhite);
    dc.Ellipse(-1000000000, -1000000000, 1000000000, 1000000000);
    dc.Arc(-1000000000, -1000000000, 1000000000, 1000000000, 0, -5, 5, 0);
    const POINT far[] = {{-2000000000, -2000000000}, {2000000000, -2000000000}, {0, 2000000000}};
    dc.Polygon(far, 3);
    dc.Rectangle(-2000000000, -2000000000, 2000000000, 2000000000);

    CPixelDC scaled(50, 50);
    scaled.SetMapMode(MM_ANISOTROPIC);
    scaled.SetWindowExt(1, 1);
    scaled.SetViewportExt(100000, 100000);
    scaled.MoveTo(-2000000000, 0);
    scaled.LineTo(2000000000, 0);
    EXPECT_EQ(scaled.GetPixel(0, 0), kBlack);
}

TEST(PixelDC, SolidRectsAndPixelsIgnoreTheRasterOperation)
{
    CPixelDC dc(10, 10, kBlue);
    dc.SetROP2(R2_XORPEN);
    dc.FillSolidRect(RECT{2, 2, 5, 4}, kRed);
    EXPECT_EQ(dc.GetPixel(2, 2), kRed);
    EXPECT_EQ(dc.GetPixel(4, 3), kRed);
    EXPECT_EQ(dc.GetPixel(5, 3), kBlue);
    EXPECT_EQ(dc.SetPixel(7, 7, kRed), kRed);
    EXPECT_EQ(dc.GetPixel(7, 7), kRed);
    EXPECT_EQ(dc.SetPixel(70, 7, kRed), CLR_INVALID);
    EXPECT_EQ(dc.GetPixel(-1, 0), CLR_INVALID);
    EXPECT_EQ(dc.Bits()[7 * 10 + 7], 0xFF0000u);
}

TEST(PixelDC, PathsFillAndStrokeOnlyAfterEndPath)
{
    CPixelDC dc(40, 40);
    CBrush red(kRed);
    dc.SelectObject(&red);
    EXPECT_FALSE(dc.FillPath());
    dc.BeginPath();
    dc.MoveTo(5, 5);
    dc.LineTo(35, 5);
    dc.LineTo(35, 35);
    EXPECT_TRUE(PixelsNot(dc, kWhite).empty()) << "nothing drawn while building";
    EXPECT_FALSE(dc.StrokePath());
    dc.EndPath();
    EXPECT_TRUE(dc.FillPath());
    EXPECT_EQ(dc.GetPixel(30, 10), kRed);
    EXPECT_EQ(dc.GetPixel(10, 30), kWhite);
    EXPECT_FALSE(dc.FillPath()) << "the path is used up";

    dc.BeginPath();
    dc.MoveTo(5, 5);
    dc.LineTo(5, 35);
    dc.EndPath();
    EXPECT_TRUE(dc.StrokePath());
    EXPECT_EQ(dc.GetPixel(5, 20), kBlack);
}

TEST(PixelDC, ClosingAFigureStrokesItsClosingEdgeAndNeedsAnOpenFigure)
{
    // Two sides of a triangle; closed, the diagonal back to the start shows.
    auto draw = [](bool close) {
        auto dc = std::make_unique<CPixelDC>(40, 40);
        EXPECT_FALSE(dc->CloseFigure()) << "outside a path";
        EXPECT_TRUE(dc->BeginPath());
        EXPECT_FALSE(dc->CloseFigure()) << "no figure yet";
        dc->MoveTo(5, 5);
        dc->LineTo(35, 5);
        dc->LineTo(35, 35);
        if (close) {
            EXPECT_TRUE(dc->CloseFigure());
            EXPECT_FALSE(dc->CloseFigure()) << "closed already";
        }
        EXPECT_TRUE(dc->EndPath());
        EXPECT_FALSE(dc->CloseFigure()) << "the path has ended";
        EXPECT_TRUE(dc->StrokePath());
        return dc;
    };
    const auto open = draw(false);
    EXPECT_EQ(open->GetPixel(20, 5), kBlack);
    EXPECT_EQ(open->GetPixel(20, 20), kWhite);
    const auto closed = draw(true);
    EXPECT_EQ(closed->GetPixel(20, 5), kBlack);
    EXPECT_EQ(closed->GetPixel(20, 20), kBlack);
    EXPECT_EQ(closed->GetPixel(10, 30), kWhite);

    // A path of two figures: each closes on its own start, and no edge
    // joins one to the other.
    CPixelDC dc(40, 40);
    ASSERT_TRUE(dc.BeginPath());
    dc.MoveTo(2, 2);
    dc.LineTo(10, 2);
    dc.LineTo(10, 10);
    ASSERT_TRUE(dc.CloseFigure());
    dc.MoveTo(30, 30);
    dc.LineTo(38, 30);
    ASSERT_TRUE(dc.CloseFigure());
    ASSERT_TRUE(dc.EndPath());
    ASSERT_TRUE(dc.StrokePath());
    EXPECT_EQ(dc.GetPixel(20, 20), kWhite);
    EXPECT_EQ(dc.GetPixel(6, 6), kBlack);
}

namespace {

// A packed DIB: header, colour table, bottom-up rows padded to 4 bytes.
struct Dib {
    std::vector<std::uint8_t> info;
    std::vector<std::uint8_t> bits;
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(info.data()); }

    Dib(int width, int height, int bitCount, std::vector<RGBQUAD> palette = {})
    {
        BITMAPINFOHEADER header{};
        header.biSize = sizeof(header);
        header.biWidth = width;
        header.biHeight = height;
        header.biPlanes = 1;
        header.biBitCount = static_cast<WORD>(bitCount);
        header.biClrUsed = static_cast<DWORD>(palette.size());
        info.resize(sizeof(header) + 4 * std::max<std::size_t>(palette.size(), 1));
        std::memcpy(info.data(), &header, sizeof(header));
        if (!palette.empty())
            std::memcpy(info.data() + sizeof(header), palette.data(), 4 * palette.size());
        stride = (width * bitCount + 31) / 32 * 4;
        bits.resize(static_cast<std::size_t>(stride) * std::abs(height));
    }
    int stride;
    std::uint8_t* Row(int fromBottom) { return bits.data() + fromBottom * stride; }
};

}  // namespace

TEST(PixelDC, StretchDIBitsReadsEveryDepthBottomUpAndMirrors)
{
    const RGBQUAD black{0, 0, 0, 0}, white{255, 255, 255, 0}, red{0, 0, 255, 0}, blue{255, 0, 0, 0};
    Dib one(10, 2, 1, {white, black});
    one.Row(1)[0] = 0x80;  // top row: leftmost pixel black
    Dib four(3, 2, 4, {white, red, blue});
    four.Row(1)[0] = 0x12;  // top row: red, blue
    Dib eight(3, 2, 8, {white, red, blue});
    eight.Row(0)[2] = 2;  // bottom row, right pixel blue
    Dib rgb(2, 2, 24);
    rgb.Row(1)[2] = 255;  // top-left red
    Dib rgbx(2, 2, 32);
    rgbx.Row(0)[4] = 255;  // bottom-right blue

    CPixelDC dc(12, 12, kBlue);
    EXPECT_EQ(dc.StretchDIBits(0, 0, 10, 2, 0, 0, 10, 2, one.bits.data(), one.Info(), DIB_RGB_COLORS, SRCCOPY), 2);
    EXPECT_EQ(dc.GetPixel(0, 0), kBlack);
    EXPECT_EQ(dc.GetPixel(1, 0), kWhite);
    EXPECT_EQ(dc.GetPixel(0, 1), kWhite);
    dc.StretchDIBits(0, 2, 3, 2, 0, 0, 3, 2, four.bits.data(), four.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(dc.GetPixel(0, 2), kRed);
    EXPECT_EQ(dc.GetPixel(1, 2), kBlue);
    EXPECT_EQ(dc.GetPixel(2, 3), kWhite);
    dc.StretchDIBits(0, 4, 3, 2, 0, 0, 3, 2, eight.bits.data(), eight.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(dc.GetPixel(2, 5), kBlue);
    dc.StretchDIBits(0, 6, 2, 2, 0, 0, 2, 2, rgb.bits.data(), rgb.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(dc.GetPixel(0, 6), kRed);
    EXPECT_EQ(dc.GetPixel(1, 7), kBlack);
    dc.StretchDIBits(0, 8, 2, 2, 0, 0, 2, 2, rgbx.bits.data(), rgbx.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(dc.GetPixel(1, 9), kBlue);

    // Source rows count from the bottom; a negative width mirrors.
    dc.StretchDIBits(4, 6, 1, 1, 0, 1, 1, 1, rgb.bits.data(), rgb.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(dc.GetPixel(4, 6), kRed);
    dc.StretchDIBits(8, 8, -2, 2, 0, 0, 2, 2, rgbx.bits.data(), rgbx.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(dc.GetPixel(6, 9), kBlue);
    EXPECT_EQ(dc.GetPixel(7, 9), kBlack);
    // Inverting operations and refused input.
    dc.StretchDIBits(0, 6, 2, 2, 0, 0, 2, 2, rgb.bits.data(), rgb.Info(), DIB_RGB_COLORS, NOTSRCCOPY);
    EXPECT_EQ(dc.GetPixel(0, 6), RGB(0, 255, 255));
    EXPECT_EQ(dc.StretchDIBits(0, 0, 2, 2, 0, 0, 2, 2, rgb.bits.data(), rgb.Info(), 1, SRCCOPY), 0);
    EXPECT_EQ(dc.StretchDIBits(0, 0, 2, 2, 5, 5, 2, 2, rgb.bits.data(), rgb.Info(), DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(dc.StretchDIBits(0, 0, 2, 2, 0, 0, 2, 2, nullptr, rgb.Info(), DIB_RGB_COLORS, SRCCOPY), 0);
}

TEST(PixelDC, ShrinkingAOneBitScanGivesGreyInHalftoneAndKeepsThinLines)
{
    const RGBQUAD black{0, 0, 0, 0}, white{255, 255, 255, 0};
    Dib checker(8, 8, 1, {black, white});
    for (int y = 0; y < 8; ++y)
        checker.Row(y)[0] = y % 2 ? 0xAA : 0x55;
    Dib line(64, 64, 1, {black, white});
    for (int y = 0; y < 64; ++y)
        for (int b = 0; b < 8; ++b)
            line.Row(y)[b] = b == 2 ? 0xFB : 0xFF;  // column 21 black

    CPixelDC dc(16, 16);
    dc.SetStretchBltMode(HALFTONE);
    dc.StretchDIBits(0, 0, 2, 2, 0, 0, 8, 8, checker.bits.data(), checker.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(128, 128, 128));
    EXPECT_EQ(dc.GetPixel(1, 1), RGB(128, 128, 128));
    dc.StretchDIBits(8, 0, 8, 8, 0, 0, 64, 64, line.bits.data(), line.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(dc.GetPixel(10, 3), RGB(223, 223, 223));
    EXPECT_EQ(dc.GetPixel(11, 3), kWhite);

    // The default shrink keeps dark pixels, the white-on-black one light ones.
    CPixelDC plain(8, 8);
    EXPECT_EQ(plain.SetStretchBltMode(WHITEONBLACK), BLACKONWHITE);
    plain.StretchDIBits(0, 0, 8, 8, 0, 0, 64, 64, line.bits.data(), line.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(plain.GetPixel(2, 3), kWhite);
    plain.SetStretchBltMode(BLACKONWHITE);
    plain.StretchDIBits(0, 0, 8, 8, 0, 0, 64, 64, line.bits.data(), line.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(plain.GetPixel(2, 3), kBlack);
    EXPECT_EQ(plain.GetPixel(3, 3), kWhite);

    Dib pair(2, 1, 24);
    pair.Row(0)[2] = 255;  // red, then blue
    pair.Row(0)[3] = 255;
    const std::pair<int, COLORREF> shrinks[] = {
        {BLACKONWHITE, kBlack}, {WHITEONBLACK, RGB(255, 0, 255)}, {HALFTONE, RGB(128, 0, 128)}};
    for (const auto& [mode, expected] : shrinks) {
        plain.SetStretchBltMode(mode);
        plain.StretchDIBits(0, 0, 1, 1, 0, 0, 2, 1, pair.bits.data(), pair.Info(), DIB_RGB_COLORS, SRCCOPY);
        EXPECT_EQ(plain.GetPixel(0, 0), expected) << mode;
    }

    dc.SetStretchBltMode(COLORONCOLOR);
    dc.StretchDIBits(0, 0, 2, 2, 0, 0, 8, 8, checker.bits.data(), checker.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_TRUE(dc.GetPixel(0, 0) == kBlack || dc.GetPixel(0, 0) == kWhite);
    // Enlarging repeats pixels in either mode.
    dc.SetStretchBltMode(HALFTONE);
    dc.StretchDIBits(0, 8, 16, 8, 0, 0, 2, 1, checker.bits.data(), checker.Info(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(dc.GetPixel(0, 8), kBlack);
    EXPECT_EQ(dc.GetPixel(7, 15), kBlack);
    EXPECT_EQ(dc.GetPixel(8, 8), kWhite);
}

TEST(PixelDC, BlitsCopyCombineAndClipAgainstBothCanvases)
{
    CPixelDC source(4, 4, kRed);
    source.SetPixel(0, 0, kBlue);
    CPixelDC dc(10, 10, kWhite);
    EXPECT_TRUE(dc.BitBlt(-2, -2, 4, 4, &source, 0, 0, SRCCOPY));
    EXPECT_EQ(dc.GetPixel(0, 0), kRed);
    EXPECT_EQ(dc.GetPixel(2, 2), kWhite);
    EXPECT_TRUE(dc.BitBlt(5, 5, 8, 8, &source, 2, 2, SRCCOPY));  // source ends after 2 pixels
    EXPECT_EQ(dc.GetPixel(6, 6), kRed);
    EXPECT_EQ(dc.GetPixel(7, 7), kWhite);
    EXPECT_TRUE(dc.StretchBlt(0, 4, 2, -2, &source, 0, 0, 1, 1, SRCCOPY));
    EXPECT_EQ(dc.GetPixel(1, 3), kBlue);

    EXPECT_TRUE(dc.BitBlt(0, 0, 10, 10, nullptr, 0, 0, DSTINVERT));
    EXPECT_EQ(dc.GetPixel(9, 9), kBlack);
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(0, 255, 255));
    EXPECT_TRUE(dc.BitBlt(0, 0, 2, 2, &source, 0, 0, SRCINVERT));
    EXPECT_EQ(dc.GetPixel(1, 1), RGB(255, 255, 255));
    EXPECT_TRUE(dc.BitBlt(8, 8, 2, 2, &source, 0, 0, SRCPAINT));
    EXPECT_EQ(dc.GetPixel(9, 9), kRed);
    EXPECT_TRUE(dc.BitBlt(0, 0, 10, 1, nullptr, 0, 0, WHITENESS));
    EXPECT_EQ(dc.GetPixel(5, 0), kWhite);

    CPixelDC none(0, 0);
    EXPECT_FALSE(none.IsValid());
    EXPECT_FALSE(dc.BitBlt(0, 0, 2, 2, &none, 0, 0, SRCCOPY));
    EXPECT_FALSE(dc.BitBlt(0, 0, 2, 2, &source, 0, 0, 0x00F00021));  // PATCOPY needs a brush

    // Within one canvas the copy reads the pixels as they were.
    CPixelDC strip(6, 1);
    for (int x = 0; x < 6; ++x)
        strip.SetPixel(x, 0, RGB(x, 0, 0));
    strip.BitBlt(1, 0, 5, 1, &strip, 0, 0, SRCCOPY);
    EXPECT_EQ(strip.GetPixel(5, 0), RGB(4, 0, 0));
}

TEST(PixelDC, LargeCanvasesFillAndBlitWholly)
{
    CPixelDC dc(4000, 3000);
    CPixelDC other(4000, 3000, kRed);
    CBrush blue(kBlue);
    dc.SelectObject(&blue);
    const POINT shape[] = {{-10, -10}, {4010, 50}, {3900, 3010}, {20, 2900}};
    dc.Polygon(shape, 4);
    dc.BitBlt(0, 0, 4000, 3000, &other, 0, 0, SRCINVERT);
    EXPECT_EQ(dc.GetPixel(2000, 1500), RGB(255, 0, 255));
    EXPECT_EQ(dc.GetPixel(100, 2800), RGB(255, 0, 255));
    EXPECT_EQ(dc.GetPixel(3999, 2999), RGB(0, 255, 255));
    EXPECT_EQ(dc.GetPixel(0, 2999), RGB(0, 255, 255));  // below the shape: white XOR red
}
