// The view's drawing device on the pixel canvas: the flipped mapping, pen
// widths, XOR drawing, the raster display caches and their limits, raster
// alignment with the vectors, and a small golden picture per entity kind.
//
// The goldens live in tests/data/render; LW_UPDATE_GOLDENS=1 rewrites them
// (look at each one before keeping it).
#include <gtest/gtest.h>

#include "raster/freeimage_api.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/cdc_device.h"
#include "model/circle.h"
#include "model/constants.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/solid.h"
#include "platform/pixel_dc.h"
#include "raster/raster_entity.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);

class CdcDevice : public ::testing::Test {
protected:
    // A device of width x height pixels showing the world box from (x0, y0)
    // at k pixels per unit, with an open pass on a white buffer.
    void Open(int width, int height, double k = 1.0, double x0 = 0.0, double y0 = 0.0)
    {
        device.Transform().SetDeviceRect(0, 0, width, height);
        device.Transform().SetWorldBox(x0, y0, x0 + width / k, y0 + height / k);
        ASSERT_TRUE(device.BeginDraw(nullptr, true));
    }
    CPixelDC& Canvas() { return *static_cast<CPixelDC*>(device.GetDC()); }
    COLORREF At(int column, int row) { return Canvas().GetPixel(column, row); }
    std::vector<std::uint32_t> Snapshot()
    {
        return std::vector<std::uint32_t>(Canvas().Bits(), Canvas().Bits() + Canvas().Width() * Canvas().Height());
    }

    CFrCDCDevice device;
};

TEST_F(CdcDevice, WorldYPointsUpAndThePassEndsInTheBackBuffer)
{
    Open(100, 80);
    EXPECT_TRUE(device.DrawLine(CVertex(10, 70, 0, 0, 0), CVertex(50, 70, 0, 0, 0), kRed));
    EXPECT_EQ(At(10, 10), kRed);  // row = device height - y
    EXPECT_EQ(At(49, 10), kRed);
    EXPECT_EQ(At(50, 10), kWhite);  // the end pixel is left out
    EXPECT_FALSE(device.DrawLine(CVertex(200, 10, 0, 0, 0), CVertex(300, 10, 0, 0, 0), kRed));

    CPixelDC window(120, 90, RGB(0, 0, 0));
    ASSERT_TRUE(device.CopyToDC(&window, 5, 5));  // ends the pass first
    EXPECT_FALSE(device.IsDrawing());
    EXPECT_EQ(window.GetPixel(15, 15), kRed);
    EXPECT_EQ(window.GetPixel(4, 4), RGB(0, 0, 0));
    EXPECT_EQ(window.GetPixel(5, 5), kWhite);
    // Idle, every operation finds no context and draws nothing.
    EXPECT_FALSE(device.DrawLine(CVertex(10, 70, 0, 0, 0), CVertex(50, 70, 0, 0, 0), kRed));
    EXPECT_FALSE(device.DrawGripBox(10, 10, false, false));
}

TEST_F(CdcDevice, PenWidthsRoundHalfUpInPixels)
{
    Open(100, 80);
    EXPECT_EQ(device.PenWidth(0.4), 0);
    EXPECT_EQ(device.PenWidth(0.5), 1);
    EXPECT_EQ(device.PenWidth(2.49), 2);
    EXPECT_EQ(device.PenWidth(-3), 0);
    device.SetShowWidths(false);
    EXPECT_EQ(device.PenWidth(5), 0);
    device.SetShowWidths(true);

    // At two pixels a unit a width of 0.4 already makes a 1-pixel pen, and
    // a width of 3 a band 6 pixels deep.
    device.EndDraw();
    Open(100, 80, 2.0);
    EXPECT_EQ(device.PenWidth(0.4), 1);
    EXPECT_TRUE(device.DrawLine(CVertex(5, 20, 3, 3, 0), CVertex(45, 20, 3, 3, 0), kRed));
    EXPECT_EQ(At(40, 80 - 40 - 2), kRed);
    EXPECT_EQ(At(40, 80 - 40 + 2), kRed);
    EXPECT_EQ(At(40, 80 - 40 - 5), kWhite);
    EXPECT_EQ(At(40, 80 - 40 + 5), kWhite);
}

// A ring of the points (closed through the head), each with the width.
struct Ring {
    std::vector<CVertex> v;
    Ring(std::initializer_list<std::pair<double, double>> points, double width = 0)
    {
        for (auto [x, y] : points)
            v.emplace_back(x, y, width, width, 0);
        for (std::size_t i = 0; i < v.size(); ++i) {
            v[i].next = &v[(i + 1) % v.size()];
            v[i].prev = &v[(i + v.size() - 1) % v.size()];
        }
    }
    const CVertex* Head() const { return &v[0]; }
};

TEST_F(CdcDevice, OpenPolylinesLeaveOutTheClosingSegment)
{
    Open(100, 80);
    const Ring square({{10, 10}, {60, 10}, {60, 60}, {10, 60}});
    EXPECT_TRUE(device.DrawPolyline(square.Head(), 1, false));
    const COLORREF red = At(30, 70);  // colour index 1
    EXPECT_NE(red, kWhite);
    EXPECT_EQ(At(60, 45), red);
    EXPECT_EQ(At(10, 45), kWhite);
    EXPECT_TRUE(device.DrawClosedPolyline(square.Head(), 1, false));
    EXPECT_EQ(At(10, 45), red);

    const Ring single({{20, 20}});
    EXPECT_FALSE(device.DrawPolyline(single.Head(), 1, false));
    EXPECT_FALSE(device.DrawClosedPolyline(single.Head(), 1, false));
    const Ring outside({{200, 200}, {300, 200}, {300, 300}});
    EXPECT_FALSE(device.DrawClosedPolyline(outside.Head(), 1, false));

    // Widths hidden: a wide ring draws one-pixel lines.
    device.SetShowWidths(false);
    const Ring wide({{10, 30}, {90, 30}}, 6);
    EXPECT_TRUE(device.DrawPolyline(wide.Head(), 1, false));
    EXPECT_EQ(At(50, 50), red);
    EXPECT_EQ(At(50, 49), kWhite);
    EXPECT_EQ(At(50, 51), kWhite);
}

TEST_F(CdcDevice, WindingFillCoversTheCentreOfAStarThatEvenOddLeavesOut)
{
    // A five-pointed star drawn in one stroke winds twice round its centre.
    const Ring star({{50, 70}, {67.6, 15.7}, {21.5, 49.3}, {78.5, 49.3}, {32.4, 15.7}});
    for (bool winding : {false, true}) {
        Open(100, 80);
        EXPECT_TRUE(winding ? device.FillPolygonWinding(star.Head(), 1, false)
                            : device.FillPolygon(star.Head(), 1, false));
        const COLORREF tip = At(50, 15);  // world (50, 65), in the top point
        EXPECT_NE(tip, kWhite);
        EXPECT_EQ(At(50, 40) == tip, winding);  // the centre
        device.EndDraw();
    }
}

TEST_F(CdcDevice, XorDrawingTwiceRestoresThePicture)
{
    Open(100, 80);
    EXPECT_TRUE(device.DrawRectangle(frDoublePoint(30, 20), frDoublePoint(70, 50), kGreen));
    EXPECT_TRUE(device.FillPolygon(Ring({{5, 5}, {40, 75}, {95, 10}}).Head(), 5, true));  // hatched
    const std::vector<std::uint32_t> before = Snapshot();

    // The frame reaches out of the view at the top: only what is inside
    // is drawn, and the second drawing takes all of it away again.
    EXPECT_TRUE(device.DrawHandleFrame(20, 15, 90, 95));
    EXPECT_NE(Snapshot(), before);
    EXPECT_NE(At(20 - 5, 80 - 15 - 5), kWhite);  // the lower-left handle
    EXPECT_TRUE(device.DrawHandleFrame(20, 15, 90, 95));
    EXPECT_EQ(Snapshot(), before);

    device.SetXorMode(true);
    device.SetXorMode(true);  // unchanged: no second switch
    const Ring zigzag({{10, 10}, {50, 70}, {60, 10}, {90, 70}}, 2);
    EXPECT_TRUE(device.DrawPolyline(zigzag.Head(), 3, false));
    EXPECT_NE(Snapshot(), before);
    EXPECT_TRUE(device.DrawPolyline(zigzag.Head(), 3, false));
    EXPECT_EQ(Snapshot(), before);
    device.SetXorMode(false);
    EXPECT_EQ(Canvas().GetROP2(), R2_COPYPEN);
}

TEST_F(CdcDevice, FiguresOutsideTheViewChangeNothing)
{
    Open(100, 80);
    const std::vector<std::uint32_t> before = Snapshot();
    EXPECT_TRUE(device.DrawRectangle(frDoublePoint(200, 200), frDoublePoint(300, 300), kRed));
    EXPECT_FALSE(device.DrawGripBox(-5, 10, true, true));
    EXPECT_FALSE(device.DrawCrossMarker(10, 81, kRed));
    EXPECT_FALSE(device.FillPolygonWinding(Ring({{200, 0}, {300, 0}, {250, 50}}).Head(), 1, false));
    EXPECT_EQ(Snapshot(), before);
    EXPECT_TRUE(device.DrawGripBox(50, 40, false, true));
    EXPECT_NE(Snapshot(), before);
}

// ---- the raster display caches ---------------------------------------------

// A one-bit raster with every fourth column black.
void StripedRaster(CRasterSrc& image, int width, int height)
{
    ASSERT_TRUE(image.Create(width, height, 1));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; x += 4)
            image.SetPixelBit(x, y, true);
}

// Marks the whole cache, so that a reused cache shows on the buffer.
void MarkCache(CDib& cache)
{
    CDC* dc = cache.BeginPaint(nullptr);
    ASSERT_NE(dc, nullptr);
    static_cast<CPixelDC*>(dc)->Clear(kGreen);
    cache.EndPaint();
}

struct Cache {
    double scale = CFrCDCDevice::kInvalidCacheScale;
    std::int32_t rect[4] = {-1, 0, -1, 0};
    CDib bitmap;
};

TEST_F(CdcDevice, ScaledCacheHoldsUpTo2000PixelsAndOnePercentOfZoom)
{
    CRasterSrc image;
    StripedRaster(image, 1000, 10);
    Cache cache;
    Open(200, 40, 2.0);
    ASSERT_TRUE(device.DrawRasterScaled(0, 0, &image, &cache.scale, cache.rect, &cache.bitmap));
    EXPECT_DOUBLE_EQ(cache.scale, 2.0);
    EXPECT_EQ(cache.bitmap.Width(), 2000);
    device.EndDraw();
    Cache fresh;
    Open(200, 40, 2.001);
    ASSERT_TRUE(device.DrawRasterScaled(0, 0, &image, &fresh.scale, fresh.rect, &fresh.bitmap));
    EXPECT_EQ(fresh.scale, CFrCDCDevice::kCropCacheScale);  // 2001 pixels: one crop
    EXPECT_EQ(fresh.bitmap.Width(), 200);
    EXPECT_EQ(fresh.rect[0], 0);
    EXPECT_EQ(fresh.rect[2], 100);  // 99.95 units in view, widened to whole pixels
    // The scaled cache made at 2 still serves 2.001.
    ASSERT_TRUE(device.DrawRasterScaled(0, 0, &image, &cache.scale, cache.rect, &cache.bitmap));
    EXPECT_DOUBLE_EQ(cache.scale, 2.0);
    device.EndDraw();

    Open(200, 40, 1.0);
    ASSERT_TRUE(device.DrawRasterScaled(0, 0, &image, &cache.scale, cache.rect, &cache.bitmap));
    EXPECT_DOUBLE_EQ(cache.scale, 1.0);
    MarkCache(cache.bitmap);
    device.EndDraw();
    Open(200, 40, 1.0078125);  // within 1 %: the marked cache is shown
    ASSERT_TRUE(device.DrawRasterScaled(0, 0, &image, &cache.scale, cache.rect, &cache.bitmap));
    EXPECT_DOUBLE_EQ(cache.scale, 1.0);
    EXPECT_EQ(At(1, 35), kGreen);
    device.EndDraw();
    Open(200, 40, 1.015625);  // beyond: drawn again
    ASSERT_TRUE(device.DrawRasterScaled(0, 0, &image, &cache.scale, cache.rect, &cache.bitmap));
    EXPECT_DOUBLE_EQ(cache.scale, 1.015625);
    EXPECT_EQ(At(0, 35), RGB(0, 0, 0));
    EXPECT_EQ(At(2, 35), kWhite);
}

TEST_F(CdcDevice, CropCacheIsKeptForTheSameSourceAndDestinationSize)
{
    CRasterSrc image;
    StripedRaster(image, 3000, 10);
    Cache cache;
    Open(3100, 40, 1.0);  // the whole raster in view, 3000 pixels wide
    ASSERT_TRUE(device.DrawRasterScaled(0, 0, &image, &cache.scale, cache.rect, &cache.bitmap));
    EXPECT_EQ(cache.scale, CFrCDCDevice::kCropCacheScale);
    EXPECT_EQ(cache.bitmap.Width(), 3000);
    MarkCache(cache.bitmap);
    ASSERT_TRUE(device.DrawRasterScaled(0, 0, &image, &cache.scale, cache.rect, &cache.bitmap));
    EXPECT_EQ(At(1, 35), kGreen);
    device.EndDraw();

    // Zoomed by 2 %: the same source rectangle, but a destination 3060
    // pixels wide, so the marked crop must not be stretched over it.
    Open(3100, 40, 1.02);
    ASSERT_TRUE(device.DrawRasterScaled(0, 0, &image, &cache.scale, cache.rect, &cache.bitmap));
    EXPECT_EQ(cache.bitmap.Width(), 3060);
    EXPECT_EQ(At(0, 35), RGB(0, 0, 0));
    EXPECT_EQ(At(2, 35), kWhite);
}

TEST_F(CdcDevice, RasterLessThanAPixelAcrossDrawsNothing)
{
    CRasterSrc image;
    StripedRaster(image, 10000, 2);
    Cache cache;
    // Only the last half pixel of the raster is in view, at 0.3 pixels a
    // pixel: its destination rounds to no width at all.
    Open(100, 40, 0.3, 9999.5, 0.0);
    const std::vector<std::uint32_t> before = Snapshot();
    EXPECT_FALSE(device.DrawRasterScaled(0, 0, &image, &cache.scale, cache.rect, &cache.bitmap));
    EXPECT_EQ(cache.scale, CFrCDCDevice::kInvalidCacheScale);
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(CdcDevice, RasterPixelsLandOnTheirWorldEdgesAtHighZoom)
{
    // One black pixel, column 2 and row 1 of a raster 4 rows high at the
    // origin, covers world x 2..3 and y 2..3. The views start at fractions
    // of a pixel. Every device pixel more than one pixel away from the
    // pixel's edges must lie on the right side of them (cutting the source
    // at the view's edge moved them by several device pixels).
    enum Path { kScaledCache, kCropCache, kDirect, kFarDirect };
    auto check = [&](int width, double k, double x0, double y0, Path path) {
        CRasterSrc image;
        ASSERT_TRUE(image.Create(width, 4, 1));
        image.SetPixelBit(2, 1, true);
        Cache cache;
        Open(100, 80, k, x0, y0);
        ASSERT_TRUE(path == kDirect ? device.DrawRaster(0, 0, &image)
                                    : device.DrawRasterScaled(0, 0, &image, &cache.scale, cache.rect, &cache.bitmap));
        if (path == kScaledCache)
            EXPECT_GT(cache.scale, 0);
        else
            EXPECT_EQ(cache.scale,
                      path == kCropCache ? CFrCDCDevice::kCropCacheScale : CFrCDCDevice::kInvalidCacheScale);
        std::int32_t left, bottom, right, top;
        device.Transform().WorldToDevice(2, 2, &left, &bottom);
        device.Transform().WorldToDevice(3, 3, &right, &top);
        auto near = [](int v, int edge) { return std::abs(v - edge) <= 1; };
        int checked = 0;
        for (int row = 0; row < 80; ++row)
            for (int column = 0; column < 100; ++column) {
                const int y = 80 - row;  // device y of the row
                if (near(column, left) || near(column, right) || near(y, bottom) || near(y, top))
                    continue;
                const bool black = column > left && column < right && y > bottom && y < top;
                ASSERT_EQ(At(column, row), black ? RGB(0, 0, 0) : kWhite)
                    << "k " << k << " path " << path << ": " << column << "," << row;
                ++checked;
            }
        EXPECT_GT(checked, 6000);
        device.EndDraw();
    };
    check(5, 10.3, 0.37, 0.21, kScaledCache);
    check(300, 10.3, 0.37, 0.21, kCropCache);
    check(5, 10.3, 0.37, 0.21, kDirect);
    // So far in that whole pixels reach two windows beyond the view: no
    // cache, the visible part straight from the image.
    check(300, 80, 2.9, 2.9, kFarDirect);
}

// ---- golden pictures --------------------------------------------------------

class CdcDeviceGolden : public CdcDevice {
protected:
    static void SetUpTestSuite() { InitRasterLibrary(); }
    static void TearDownTestSuite() { ReleaseRasterLibrary(); }

    // Draws the entity on a 64 x 64 view of the world box (0, 0)-(64, 64)
    // (or the given scale) and compares the picture with the golden.
    void ExpectGolden(CEntity& entity, const std::string& name, double k = 1.0)
    {
        Open(kSide, kSide, k);
        entity.Draw(&device);
        device.EndDraw();
        const CDib& buffer = device.GetBackBuffer();
        const std::string path = std::string(LW_TEST_DATA_DIR) + "/render/" + name + ".png";
        if (std::getenv("LW_UPDATE_GOLDENS"))
            Save(buffer, path);
        FIBITMAP* golden = FreeImage_Load(FIF_PNG, path.c_str(), PNG_DEFAULT);
        ASSERT_NE(golden, nullptr) << path;
        FIBITMAP* rgb = FreeImage_ConvertTo24Bits(golden);
        FreeImage_Unload(golden);
        ASSERT_EQ(FreeImage_GetWidth(rgb), unsigned(kSide));
        ASSERT_EQ(FreeImage_GetHeight(rgb), unsigned(kSide));
        const BYTE* bits = FindDIBBits(buffer.GetHandle().Lock());
        const DWORD stride = DIBBytesPerLine(buffer.GetHandle().Lock());
        int differing = 0;
        for (int y = 0; y < kSide; ++y) {
            const BYTE* want = FreeImage_GetScanLine(rgb, y);
            const BYTE* got = bits + stride * y;
            for (int i = 0; i < 3 * kSide; i += 3)
                if (std::abs(want[i] - got[i]) + std::abs(want[i + 1] - got[i + 1]) +
                        std::abs(want[i + 2] - got[i + 2]) >
                    kChannelTolerance)
                    ++differing;
        }
        FreeImage_Unload(rgb);
        EXPECT_LE(differing, kPixelTolerance) << name;
    }

private:
    static void Save(const CDib& buffer, const std::string& path)
    {
        FIBITMAP* out = FreeImage_Allocate(kSide, kSide, 24);
        const BYTE* bits = FindDIBBits(buffer.GetHandle().Lock());
        const DWORD stride = DIBBytesPerLine(buffer.GetHandle().Lock());
        for (int y = 0; y < kSide; ++y)
            std::memcpy(FreeImage_GetScanLine(out, y), bits + stride * y, 3 * kSide);
        FreeImage_Save(FIF_PNG, out, path.c_str(), PNG_DEFAULT);
        FreeImage_Unload(out);
    }

    static constexpr int kSide = 64;
    // Small differences of edge pixels are allowed, a misplaced or missing
    // stroke is not.
    static constexpr int kChannelTolerance = 48;
    static constexpr int kPixelTolerance = 12;
};

TEST_F(CdcDeviceGolden, Line)
{
    CLine line;
    line.SetEnds(frDoublePoint(6, 8), frDoublePoint(58, 44));
    line.m_Color = 1;
    line.SetWidth(3);
    ExpectGolden(line, "line");
}

TEST_F(CdcDeviceGolden, PolylineWithWidthsAndBulges)
{
    CPolyLine polyline;
    polyline.m_Color = 5;
    auto vertex = [&](double x, double y, double width, double bulge) {
        auto* v = new CVertex(x, y, width, width, 0);
        v->bulge = bulge;
        ASSERT_TRUE(polyline.AddVertex(v, true));
    };
    vertex(6, 8, 1, 0);
    vertex(30, 8, 3, 1);  // a half circle to the next vertex
    vertex(30, 36, 0, 0);
    vertex(58, 56, 0, -0.4);
    vertex(58, 30, 0, 0);
    ExpectGolden(polyline, "polyline");
}

TEST_F(CdcDeviceGolden, CircleAndArc)
{
    CCircle circle;
    circle.m_Color = 3;
    circle.m_Centre = frDoublePoint(32, 32);
    circle.m_Radius = 20;
    ExpectGolden(circle, "circle");

    CArc arc;
    arc.m_Color = 6;
    arc.m_Centre = frDoublePoint(32, 32);
    arc.m_Radius = 24;
    arc.SetWidth(2);
    arc.SetStartAngle(0);
    arc.SetEndAngle(1.5 * PI);
    ExpectGolden(arc, "arc");
}

TEST_F(CdcDeviceGolden, SolidAndPolygonSetWithHole)
{
    CSolid solid;
    solid.m_Color = 4;
    const std::initializer_list<std::pair<double, double>> corners = {{8, 8}, {56, 14}, {54, 58}, {12, 50}};
    for (auto [x, y] : corners)
        ASSERT_TRUE(solid.AddPoint(x, y));
    ExpectGolden(solid, "solid");

    CPolyPolygon set;
    set.m_Color = 2;
    auto outline = [](std::initializer_list<std::pair<double, double>> points) {
        auto polyline = std::make_unique<CPolyLine>();
        for (auto [x, y] : points)
            EXPECT_TRUE(polyline->AddPoint(x, y));
        return polyline;
    };
    ASSERT_TRUE(set.AddOutline(outline({{6, 6}, {58, 6}, {58, 58}, {6, 58}})));
    ASSERT_TRUE(set.AddOutline(outline({{20, 20}, {44, 20}, {32, 46}})));
    ExpectGolden(set, "polygon_set");
}

TEST_F(CdcDeviceGolden, RasterWithItsShadowedFrame)
{
    CRaster raster;
    CRasterSrc& image = raster.GetImage();
    ASSERT_TRUE(image.Create(16, 12, 1));
    for (int i = 0; i < 12; ++i) {
        image.SetPixelBit(i, i, true);   // a diagonal
        image.SetPixelBit(15, i, true);  // the right column
    }
    ASSERT_TRUE(raster.SetOrigin(2, 3));
    ExpectGolden(raster, "raster", 2.5);
}

}  // namespace
