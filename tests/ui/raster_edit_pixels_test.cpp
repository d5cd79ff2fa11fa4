// What the child window's fill and erase edits write into the raster at each
// depth (the fill colour, the nearest palette entry, the background), pixel
// by pixel, and that the view shows every edit, undo and redo at once.
#include <QApplication>
#include <QImage>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/undo.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "ui/drawing_view.h"
#include "desktop_fixture.h"

namespace {

constexpr int kWidth = 120, kHeight = 80;
// A black block in the middle, ends excluded.
constexpr int kBlockLeft = 40, kBlockTop = 20, kBlockRight = 80, kBlockBottom = 60;
constexpr COLORREF kFill = RGB(20, 180, 60);

bool InBlock(int x, int y) { return x >= kBlockLeft && x < kBlockRight && y >= kBlockTop && y < kBlockBottom; }

// World point of an image pixel's corner: the raster lies at the origin, rows
// counted from the top.
frDoublePoint Corner(int column, int row) { return {static_cast<double>(column), static_cast<double>(kHeight - row)}; }

// A white image with the black block, at 1, 8 (grey ramp) or 24 bits.
void MakeBlockImage(CRasterSrc& image, int bits)
{
    EXPECT_TRUE(image.Create(kWidth, kHeight, bits));
    if (bits == 8)
        image.SetGreyRamp();
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const bool black = InBlock(x, y);
            if (bits == 1)
                image.SetPixelBit(x, y, black);
            else if (bits == 8)
                image.SetPixelIndex(x, y, black ? 0 : 255);
            else
                image.SetPixelRGB(x, y, black ? 0 : 255, black ? 0 : 255, black ? 0 : 255);
        }
}

// A pixel as one number: the palette index up to 8 bits, else the COLORREF.
DWORD PixelAt(const CRasterSrc& image, int x, int y)
{
    if (image.GetBitCount() <= 8)
        return static_cast<DWORD>(image.GetPixelIndex(x, y));
    BYTE r = 0, g = 0, b = 0;
    image.GetPixelRGB(x, y, r, g, b);
    return RGB(r, g, b);
}

// The pixels whose value differs from before, as a list of (x, y, value).
struct Change {
    int x, y;
    DWORD value;
    bool operator==(const Change&) const = default;
};

// What a list of changes covers, to read a failure by: count, box, values.
std::string Summary(const std::vector<Change>& changes)
{
    if (changes.empty())
        return "nothing";
    int x0 = changes[0].x, x1 = x0, y0 = changes[0].y, y1 = y0;
    for (const Change& c : changes) {
        x0 = std::min(x0, c.x);
        x1 = std::max(x1, c.x);
        y0 = std::min(y0, c.y);
        y1 = std::max(y1, c.y);
    }
    return std::to_string(changes.size()) + " pixels in columns " + std::to_string(x0) + ".." + std::to_string(x1) +
           ", rows " + std::to_string(y0) + ".." + std::to_string(y1) + ", first to " +
           std::to_string(changes[0].value);
}

#define EXPECT_CHANGES(actual, expected)                                                                               \
    do {                                                                                                               \
        const std::vector<Change> a = (actual), e = (expected);                                                        \
        EXPECT_TRUE(a == e) << Summary(a) << "\nwanted " << Summary(e);                                                \
    } while (false)

std::vector<DWORD> Pixels(const CRasterSrc& image)
{
    std::vector<DWORD> pixels;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            pixels.push_back(PixelAt(image, x, y));
    return pixels;
}

std::vector<Change> Changes(const std::vector<DWORD>& before, const CRasterSrc& image)
{
    std::vector<Change> changes;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x) {
            const DWORD now = PixelAt(image, x, y);
            if (now != before[static_cast<size_t>(y) * image.GetWidth() + x])
                changes.push_back({x, y, now});
        }
    return changes;
}

// Every pixel of the rectangle [x0, x1) x [y0, y1) that changes to `value`.
std::vector<Change> RectChanges(const std::vector<DWORD>& before, int x0, int y0, int x1, int y1, DWORD value)
{
    std::vector<Change> changes;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (before[static_cast<size_t>(y) * kWidth + x] != value)
                changes.push_back({x, y, value});
    return changes;
}

class RasterEditPixels : public DesktopTest {
protected:
    RasterEditPixels() : DesktopTest("lw-raster-edit-pixels") {}

    static CRasterSrc& Image(CDrawingView& view) { return view.GetGraph().GetRaster()->GetImage(); }
};

// The values a fill and an erase write at each depth: the fill colour itself
// above 8 bits, the nearest palette entry at 8, black at 1; the background
// (white) for an erase.
struct Depth {
    int bits;
    DWORD fill, background;
};
// The grey fill colour is nearest to entry 117 of the grey ramp (red, green
// and blue weighed 3 : 4 : 2), not its red byte.
constexpr COLORREF kGreyFill = RGB(90, 120, 150);
const Depth kDepths[] = {{1, 1, 0}, {8, 117, 255}, {24, kFill, RGB(255, 255, 255)}};

// The view holds the block image at the depth, with the fill colour set.
bool OpenBlock(CDrawingView& view, const Depth& depth)
{
    view.SetFillColor(depth.bits == 24 ? kFill : kGreyFill);
    CRasterSrc image;
    MakeBlockImage(image, depth.bits);
    return view.TakeRasterImage(image);
}

TEST_F(RasterEditPixels, WindowsFillAndEraseExactlyTheirPixelsAtEveryDepth)
{
    for (const Depth& depth : kDepths) {
        SCOPED_TRACE(std::to_string(depth.bits) + " bits");
        CDrawingView view;
        ASSERT_TRUE(OpenBlock(view, depth));
        const std::vector<DWORD> original = Pixels(Image(view));

        // A window from column 10, row 5 to column 30, row 15 (dragged from
        // either corner) covers 20 x 11 pixels: the scan lines leave out the
        // right edge but fill both the top and the bottom row.
        ASSERT_TRUE(view.EditRasterWindow(Corner(30, 15), Corner(10, 5), true));
        EXPECT_CHANGES(Changes(original, Image(view)), RectChanges(original, 10, 5, 30, 16, depth.fill));
        const std::vector<DWORD> filled = Pixels(Image(view));

        // Erasing across the block's top left corner whitens the block's part only.
        ASSERT_TRUE(view.EditRasterWindow(Corner(35, 10), Corner(50, 30), false));
        EXPECT_CHANGES(Changes(filled, Image(view)), RectChanges(filled, 40, 20, 50, 31, depth.background));
        EXPECT_TRUE(view.GetGraph().IsModified());

        ASSERT_TRUE(view.UndoRaster());
        EXPECT_EQ(Pixels(Image(view)), filled);
        ASSERT_TRUE(view.UndoRaster());
        EXPECT_EQ(Pixels(Image(view)), original);
    }
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(RasterEditPixels, PolygonsFillAndEraseTheirInsideOnly)
{
    for (const Depth& depth : kDepths) {
        SCOPED_TRACE(std::to_string(depth.bits) + " bits");
        CDrawingView view;
        ASSERT_TRUE(OpenBlock(view, depth));
        const std::vector<DWORD> original = Pixels(Image(view));

        // A right triangle in the white part: its pixels change, no other.
        const frDoublePoint triangle[] = {Corner(90, 10), Corner(110, 10), Corner(90, 30)};
        ASSERT_TRUE(view.EditRasterPolygon(triangle, true));
        const std::vector<Change> filled = Changes(original, Image(view));
        EXPECT_GE(filled.size(), 190u);  // half of 20 x 20, the diagonal in between
        EXPECT_LE(filled.size(), 230u);
        for (const Change& change : filled) {
            EXPECT_EQ(change.value, depth.fill);
            EXPECT_GE(change.x, 90);
            EXPECT_LT(change.y, 30);
            EXPECT_LE(change.x - 90 + change.y - 10, 20) << change.x << "," << change.y;
        }
        EXPECT_EQ(PixelAt(Image(view), 91, 11), depth.fill);
        EXPECT_EQ(PixelAt(Image(view), 108, 28), depth.background);

        // Erasing a square inside the block leaves a white hole of its size
        // (with its bottom row, as the window).
        const std::vector<DWORD> before = Pixels(Image(view));
        const frDoublePoint square[] = {Corner(50, 30), Corner(60, 30), Corner(60, 40), Corner(50, 40)};
        ASSERT_TRUE(view.EditRasterPolygon(square, false));
        EXPECT_CHANGES(Changes(before, Image(view)), RectChanges(before, 50, 30, 60, 41, depth.background));
        ASSERT_EQ(view.GetRasterUndoList().GetCount(), 2u);
        EXPECT_EQ(view.GetRasterUndoList().GetAt(1)->GetName(), "Erase raster by polygon");
    }
}

TEST_F(RasterEditPixels, TheBrushPaintsItsSquareAlongTheStroke)
{
    for (const Depth& depth : kDepths) {
        SCOPED_TRACE(std::to_string(depth.bits) + " bits");
        CDrawingView view;
        ASSERT_TRUE(OpenBlock(view, depth));
        const std::vector<DWORD> original = Pixels(Image(view));

        // The default brush is 64 pixels square round the pointer's pixel:
        // from column 20 the stroke to column 30 fills columns 0..61 of rows
        // 8..71 (the image's left edge clips it).
        ASSERT_FALSE(view.GetGraph().IsModified());
        ASSERT_TRUE(view.BeginRasterBrush(Corner(20, 40), true));
        ASSERT_TRUE(view.ContinueRasterBrush(Corner(30, 40)));
        ASSERT_TRUE(view.EndRasterBrush());
        EXPECT_TRUE(view.GetGraph().IsModified());
        EXPECT_CHANGES(Changes(original, Image(view)), RectChanges(original, 0, 8, 62, 72, depth.fill));
        ASSERT_EQ(view.GetRasterUndoList().GetCount(), 1u);
        EXPECT_EQ(view.GetRasterUndoList().GetAt(0)->GetName(), "Fill raster by point");

        // The eraser on the block's far corner whitens what is left of it there.
        const std::vector<DWORD> before = Pixels(Image(view));
        ASSERT_TRUE(view.BeginRasterBrush(Corner(100, 75), false));
        ASSERT_TRUE(view.EndRasterBrush());
        EXPECT_CHANGES(Changes(before, Image(view)),
                       RectChanges(before, 68, 43, kBlockRight, kBlockBottom, depth.background));
        ASSERT_TRUE(view.UndoRaster());
        ASSERT_TRUE(view.UndoRaster());
        EXPECT_EQ(Pixels(Image(view)), original);
    }
}

// ---- what the view shows -----------------------------------------------------------

// The colour the view shows over the middle of an image pixel.
QRgb Shown(CDrawingView& view, int column, int row)
{
    const QImage& picture = view.RenderedImage();
    const CFrViewTransform& transform = view.GetDevice().Transform();
    std::int32_t X = 0, Y = 0;
    transform.WorldToDevice(column + 0.5, kHeight - row - 0.5, &X, &Y);
    const int y = transform.DeviceRect().top - Y;
    EXPECT_TRUE(picture.valid(X, y)) << X << "," << y;
    return picture.valid(X, y) ? picture.pixel(X, y) & 0xFFFFFFu : 0;
}

constexpr QRgb kShownWhite = 0xFFFFFF, kShownBlack = 0x000000;
constexpr QRgb kShownFill = (20u << 16) | (180u << 8) | 60u;

TEST_F(RasterEditPixels, TheViewShowsEveryEditUndoAndRedoWithoutBeingAsked)
{
    CDrawingView view;
    view.resize(480, 320);
    view.show();
    CRasterSrc image;
    MakeBlockImage(image, 24);
    ASSERT_TRUE(view.TakeRasterImage(image));
    view.SetFillColor(kFill);
    QCoreApplication::processEvents();
    ASSERT_EQ(Shown(view, 15, 10), kShownWhite);
    ASSERT_EQ(Shown(view, 45, 25), kShownBlack);

    ASSERT_TRUE(view.EditRasterWindow(Corner(10, 5), Corner(30, 15), true));
    EXPECT_EQ(Shown(view, 15, 10), kShownFill);
    ASSERT_TRUE(
        view.EditRasterPolygon(std::array{Corner(42, 22), Corner(50, 22), Corner(50, 30), Corner(42, 30)}, false));
    EXPECT_EQ(Shown(view, 45, 25), kShownWhite);
    ASSERT_TRUE(view.UndoRaster());
    EXPECT_EQ(Shown(view, 45, 25), kShownBlack);
    ASSERT_TRUE(view.RedoRaster());
    EXPECT_EQ(Shown(view, 45, 25), kShownWhite);

    // The brush shows while it is held, before the stroke is an undo step.
    ASSERT_TRUE(view.BeginRasterBrush(Corner(100, 60), true));
    EXPECT_EQ(Shown(view, 100, 60), kShownFill);
    ASSERT_TRUE(view.ContinueRasterBrush(Corner(20, 60)));
    EXPECT_EQ(Shown(view, 30, 65), kShownFill);
    ASSERT_TRUE(view.EndRasterBrush());
    EXPECT_EQ(Shown(view, 15, 10), kShownFill);

    std::string error;
    ASSERT_TRUE(view.ReplaceRasterColor(kFill, RGB(0, 0, 255), 0, error)) << error;
    EXPECT_EQ(Shown(view, 15, 10), 0x0000FFu);
    ASSERT_TRUE(view.UndoRaster());
    EXPECT_EQ(Shown(view, 15, 10), kShownFill);
}

}  // namespace
