// The drawing's paint order, and the XOR feedback: rubber bands, snap
// markers and the crop frame erase themselves when drawn again, and the
// markers cover the pixels of their figures.
#include "model/drawing_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "model/cdc_device.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "platform/pixel_dc.h"
#include "raster/raster_entity.h"
#include "recording_device.h"
#include "trace/trace_option.h"

namespace {

// ---- the paint pass ---------------------------------------------------------

// Two layers with one line each, a temporary polyline, a grip, the grid.
struct DrawFixture {
    CGraph graph;
    CRecordingDevice device;

    DrawFixture()
    {
        graph.AddLine(1, 1, 2, 2);  // layer "Trace"
        graph.SelectOrAddLayer("Top");
        graph.AddLine(3, 3, 4, 4);  // "Top", now first in the list
        graph.BeginTempPolyline();
        graph.AddTempVertex(5, 5, 0, 0, 0);
        graph.AddTempVertex(6, 5, 0, 0, 0);
        (void)AddGrip(frDoublePoint(50, 50), nullptr, 0, graph.GetGripListHead());
        graph.SetGridShown(true);
        (void)graph.SetGridSpacing(50, 50);
        device.Transform().SetDeviceRect(0, 0, 100, 100);
        device.Transform().SetWorldBox(0, 0, 100, 100);
    }
    // The calls reduced to their names, markers and grips summed up.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const std::string& call : device.calls) {
            std::string name = call.substr(0, call.find(' '));
            if (name == "SetXorMode")
                name = call;
            if (name == "DrawEntityLine")
                name += call.substr(call.find(' '), 6);
            if (names.empty() || names.back() != name || name != "DrawCrossMarker")
                names.push_back(name);
        }
        return names;
    }
};

TEST(GraphDraw, PaintsRasterLayersTemporaryPolylineGridThenGrips)
{
    DrawFixture f;
    CRaster* raster = f.graph.GetRaster();
    ASSERT_NE(raster, nullptr);
    ASSERT_TRUE(raster->GetImage().Create(8, 8, 8));
    f.graph.SetTempPolylineXor(true);
    EXPECT_EQ(f.graph.Draw(&f.device), 0);
    const std::vector<std::string> names = f.Names();
    ASSERT_GE(names.size(), 8u);
    EXPECT_TRUE(names[0].rfind("DrawRaster", 0) == 0) << names[0];
    const std::vector<std::string> rest(names.end() - 7, names.end());
    EXPECT_EQ(rest, (std::vector<std::string>{"DrawEntityLine (3,3 ", "DrawEntityLine (1,1 ", "SetXorMode 1",
                                              "DrawPolyline", "SetXorMode 0", "DrawCrossMarker", "DrawGripBox"}));

    // Without the raster, the vectors or XOR.
    f.device.calls.clear();
    f.graph.SetShowRaster(false);
    f.graph.SetTempPolylineXor(false);
    EXPECT_EQ(f.graph.Draw(&f.device), 0);
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"DrawEntityLine (3,3 ", "DrawEntityLine (1,1 ", "DrawPolyline",
                                                   "DrawCrossMarker", "DrawGripBox"}));
    f.device.calls.clear();
    f.graph.SetShowVectors(false);
    EXPECT_EQ(f.graph.Draw(&f.device), 0);
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"DrawCrossMarker", "DrawGripBox"}));
    // A grid that has just become too dense is reported once.
    ASSERT_TRUE(f.graph.SetGridSpacing(1, 1));
    EXPECT_EQ(f.graph.Draw(&f.device), 1);
    EXPECT_EQ(f.graph.Draw(&f.device), 0);
}

// ---- XOR feedback on pixels ---------------------------------------------------

constexpr int kSide = 64;
constexpr COLORREF kWhite = RGB(255, 255, 255);

std::vector<std::uint32_t> Pixels(const CPixelDC& dc) { return {dc.Bits(), dc.Bits() + kSide * kSide}; }

void FillRandom(CPixelDC& dc, unsigned seed)
{
    std::mt19937 random(seed);
    for (int i = 0; i < kSide * kSide; ++i)
        dc.Bits()[i] = random() & 0xFFFFFF;
}

// Every XOR shape of the view, centred in the canvas.
std::vector<std::pair<std::string, std::function<void(CDC*)>>> Shapes()
{
    const POINT a{10, 12}, b{50, 20}, c{30, 55};
    std::vector<std::pair<std::string, std::function<void(CDC*)>>> shapes = {
        {"line", [](CDC* dc) { DrawRubberLine(dc, 3, 60, 61, 5); }},
        {"rect", [](CDC* dc) { DrawRubberRect(dc, 5, 6, 50, 40, true); }},
        {"crossing rect", [](CDC* dc) { DrawRubberRect(dc, 50, 6, 5, 40, true); }},
        {"circle", [](CDC* dc) { DrawRubberCircle(dc, 32, 30, 45, 38); }},
        {"circle 3p", [=](CDC* dc) { EXPECT_TRUE(DrawRubberCircle3P(dc, a, b, c)); }},
        {"ellipse", [](CDC* dc) { DrawRubberEllipse(dc, 4, 10, 60, 41); }},
        {"arc",
         [](CDC* dc) {
             DrawRubberArc(dc, {32, 32}, {50, 30}, {20, 50});
         }},
        {"arc 3p", [=](CDC* dc) { EXPECT_TRUE(DrawRubberArc3P(dc, a, c, b)); }},
        {"triangle", [=](CDC* dc) { DrawRubberTriangle(dc, a, b, c); }},
        {"huge circle", [](CDC* dc) { DrawRubberCircle(dc, 32, 32, 2000000000, -2000000000); }},
    };
    for (std::int32_t mode : {SNAP_END, SNAP_MIDDLE, SNAP_CENTRE, SNAP_GRID, SNAP_QUADRANT, SNAP_INTERSECTION,
                              SNAP_PERPENDICULAR, SNAP_TANGENT, SNAP_NEAREST})
        shapes.push_back(
            {"marker " + std::to_string(mode), [mode](CDC* dc) { EXPECT_TRUE(DrawSnapMarker(dc, 31, 33, mode)); }});
    return shapes;
}

TEST(XorFeedback, EveryShapeDrawnTwiceRestoresThePixelsAndTheDC)
{
    for (const auto& [name, draw] : Shapes()) {
        SCOPED_TRACE(name);
        CPixelDC dc(kSide, kSide);
        ASSERT_TRUE(dc.IsValid());
        FillRandom(dc, 7);
        const std::vector<std::uint32_t> before = Pixels(dc);
        CPen pen(PS_DASH, 3, RGB(1, 2, 3));
        CBrush brush(RGB(4, 5, 6));
        dc.SelectObject(&pen);
        dc.SelectObject(&brush);
        dc.SetROP2(R2_MASKPEN);
        dc.SetArcDirection(AD_CLOCKWISE);
        dc.SetBkMode(TRANSPARENT);

        draw(&dc);
        EXPECT_NE(Pixels(dc), before);
        draw(&dc);
        EXPECT_EQ(Pixels(dc), before);

        EXPECT_EQ(dc.SelectObject(static_cast<CPen*>(nullptr)), &pen);
        EXPECT_EQ(dc.SelectObject(static_cast<CBrush*>(nullptr)), &brush);
        EXPECT_EQ(dc.GetROP2(), R2_MASKPEN);
        EXPECT_EQ(dc.GetArcDirection(), AD_CLOCKWISE);
        EXPECT_EQ(dc.SetBkMode(OPAQUE), TRANSPARENT);
    }
}

TEST(XorFeedback, CropFrameOfTheDeviceErasesItself)
{
    CFrCDCDevice device;
    device.Transform().SetDeviceRect(0, 0, kSide, kSide);
    device.Transform().SetWorldBox(0, 0, kSide, kSide);
    ASSERT_TRUE(device.BeginDraw(nullptr, false));
    auto* dc = dynamic_cast<CPixelDC*>(device.GetDC());
    ASSERT_NE(dc, nullptr);
    ASSERT_EQ(dc->Width(), kSide);
    FillRandom(*dc, 11);
    const std::vector<std::uint32_t> before = Pixels(*dc);
    // Partly outside the view: some sides and handles are skipped.
    for (const double x2 : {40.0, 90.0}) {
        ASSERT_TRUE(device.DrawHandleFrame(12, 10, x2, 50));
        EXPECT_NE(Pixels(*dc), before);
        ASSERT_TRUE(device.DrawHandleFrame(12, 10, x2, 50));
        EXPECT_EQ(Pixels(*dc), before);
    }
    device.EndDraw();
}

// ---- what the markers show ----------------------------------------------------

// A white canvas with the object-snap colour set for the test.
struct MarkerFixture {
    CPixelDC dc{kSide, kSide, kWhite};
    COLORREF saved = GetTraceOption().c_OsnapBoxColor;
    static constexpr COLORREF kSnapColor = RGB(200, 30, 90);
    static constexpr int x = 30, y = 34;

    MarkerFixture() { GetTraceOption().c_OsnapBoxColor = kSnapColor | 0x02000000; }
    ~MarkerFixture() { GetTraceOption().c_OsnapBoxColor = saved; }

    // The pixels the marker changed, as "x,y" relative to its centre; each
    // must show the snap colour.
    std::set<std::pair<int, int>> Marked()
    {
        std::set<std::pair<int, int>> marked;
        for (int py = 0; py < kSide; ++py)
            for (int px = 0; px < kSide; ++px) {
                const COLORREF c = dc.GetPixel(px, py);
                if (c == kWhite)
                    continue;
                EXPECT_EQ(c, kSnapColor) << px << "," << py;
                marked.insert({px - x, py - y});
            }
        return marked;
    }
};

std::set<std::pair<int, int>> Segment(int x0, int y0, int x1, int y1)
{
    // Axis-parallel or 45-degree runs, both ends included.
    std::set<std::pair<int, int>> s;
    const int n = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    for (int i = 0; i <= n; ++i)
        s.insert({x0 + (x1 > x0 ? i : x1 < x0 ? -i : 0), y0 + (y1 > y0 ? i : y1 < y0 ? -i : 0)});
    return s;
}

std::set<std::pair<int, int>> Union(std::initializer_list<std::set<std::pair<int, int>>> parts)
{
    std::set<std::pair<int, int>> all;
    for (const auto& p : parts)
        all.insert(p.begin(), p.end());
    return all;
}

TEST(SnapMarkers, ThinMarkersCoverExactlyTheirFiguresInTheSnapColour)
{
    EXPECT_EQ(SnapMarkerPenColor() & 0xFF000000, 0u);
    {
        MarkerFixture f;
        EXPECT_EQ(SnapMarkerPenColor(), MarkerFixture::kSnapColor ^ 0xFFFFFF);
        DrawEndPointMarker(&f.dc, f.x, f.y);
        EXPECT_EQ(f.Marked(),
                  Union({Segment(-5, -5, 5, -5), Segment(5, -5, 5, 5), Segment(5, 5, -5, 5), Segment(-5, 5, -5, -5)}));
    }
    {
        MarkerFixture f;
        DrawHashMarker(&f.dc, f.x, f.y);  // crossings included: one shape
        EXPECT_EQ(f.Marked(),
                  Union({Segment(-5, -2, 5, -2), Segment(-5, 2, 5, 2), Segment(-2, -5, -2, 5), Segment(2, -5, 2, 5)}));
    }
    {
        MarkerFixture f;
        DrawNearestMarker(&f.dc, f.x, f.y);
        EXPECT_EQ(f.Marked(),
                  Union({Segment(-5, -5, 5, -5), Segment(5, -5, -5, 5), Segment(-5, 5, 5, 5), Segment(5, 5, -5, -5)}));
    }
    {
        MarkerFixture f;
        DrawCenterMarker(&f.dc, f.x, f.y);
        const auto marked = f.Marked();
        for (const auto& p : {std::pair{-5, 0}, {5, 0}, {0, -5}, {0, 5}})
            EXPECT_EQ(marked.count(p), 1u);
        for (const auto& [px, py] : marked) {
            EXPECT_TRUE(std::abs(px) <= 5 && std::abs(py) <= 5) << px << "," << py;
            EXPECT_EQ(marked.count({-px, py}), 1u);  // symmetric about the centre
            EXPECT_EQ(marked.count({px, -py}), 1u);
        }
    }
}

TEST(SnapMarkers, WideMarkersReachTheirDefiningPoints)
{
    struct Case {
        std::int32_t mode;
        std::vector<std::pair<int, int>> points;
    };
    const std::vector<Case> cases = {
        {SNAP_MIDDLE, {{-5, 5}, {5, 5}, {0, -5}}},
        {SNAP_QUADRANT, {{-5, 0}, {0, 5}, {5, 0}, {0, -5}}},
        {SNAP_INTERSECTION, {{-5, -5}, {5, 5}, {0, 0}, {5, -5}, {-5, 5}}},
        {SNAP_PERPENDICULAR, {{-5, -5}, {-5, 5}, {5, 5}, {0, 0}, {0, 3}}},
        {SNAP_TANGENT, {{-5, -5}, {5, -5}, {0, -5}, {-5, 0}, {0, 5}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        MarkerFixture f;
        EXPECT_TRUE(DrawSnapMarker(&f.dc, f.x, f.y, c.mode));
        const auto marked = f.Marked();
        for (const auto& p : c.points)
            EXPECT_EQ(marked.count(p), 1u) << p.first << "," << p.second;
        for (const auto& [px, py] : marked)
            EXPECT_TRUE(std::abs(px) <= 7 && std::abs(py) <= 7);
    }
    MarkerFixture f;
    EXPECT_FALSE(DrawSnapMarker(&f.dc, f.x, f.y, 64));
    EXPECT_FALSE(DrawSnapMarker(&f.dc, f.x, f.y, SNAP_END | SNAP_MIDDLE));
    EXPECT_TRUE(f.Marked().empty());
}

// ---- rubber bands on white ---------------------------------------------------

int CountDark(const CPixelDC& dc, int x0, int x1, int y)
{
    int n = 0;
    for (int x = x0; x <= x1; ++x)
        n += dc.GetPixel(x, y) == RGB(0, 0, 0);
    return n;
}

TEST(RubberBands, CrossingBoxDraggedLeftIsDottedElseSolid)
{
    CPixelDC solid(kSide, kSide, kWhite), dotted(kSide, kSide, kWhite), window(kSide, kSide, kWhite);
    DrawRubberRect(&solid, 10, 10, 50, 40, true);
    DrawRubberRect(&dotted, 50, 10, 10, 40, true);
    DrawRubberRect(&window, 50, 10, 10, 40, false);
    EXPECT_EQ(CountDark(solid, 10, 50, 10), 41);
    EXPECT_EQ(CountDark(window, 10, 50, 40), 41);
    const int dots = CountDark(dotted, 10, 50, 10);
    EXPECT_GT(dots, 5);
    EXPECT_LT(dots, 36);
    // A box of no width counts as dragged left.
    CPixelDC thin(kSide, kSide, kWhite);
    DrawRubberRect(&thin, 30, 10, 30, 40, true);
    int dark = 0;
    for (int y = 10; y <= 40; ++y)
        dark += thin.GetPixel(30, y) != kWhite;
    EXPECT_GT(dark, 5);
    EXPECT_LT(dark, 28);
}

TEST(RubberBands, ArcsRunCounterClockwiseOnScreenAndThroughTheMiddlePoint)
{
    const POINT east{44, 32}, south{32, 44}, west{20, 32}, north{32, 20};
    auto drawn = [](const std::function<void(CDC*)>& draw, int x, int y) {
        CPixelDC dc(kSide, kSide, kWhite);
        draw(&dc);
        return dc.GetPixel(x, y) != kWhite;
    };
    // Through the south point, whichever end is given first.
    for (const auto& [from, to] : {std::pair{east, west}, std::pair{west, east}}) {
        EXPECT_TRUE(drawn([&](CDC* dc) { DrawRubberArc3P(dc, from, south, to); }, 32, 44));
        EXPECT_FALSE(drawn([&](CDC* dc) { DrawRubberArc3P(dc, from, south, to); }, 32, 20));
        EXPECT_TRUE(drawn([&](CDC* dc) { DrawRubberArc3P(dc, from, north, to); }, 32, 20));
        EXPECT_FALSE(drawn([&](CDC* dc) { DrawRubberArc3P(dc, from, north, to); }, 32, 44));
    }
    // Centre form: east to north counter-clockwise is the upper right
    // quarter, with the radius line to the north point.
    CPixelDC quarter(kSide, kSide, kWhite);
    DrawRubberArc(&quarter, {32, 32}, east, north);
    int upperRight = 0, elsewhere = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            if (quarter.GetPixel(x, y) == kWhite || x == 32)
                continue;  // the radius line
            (x > 32 && y < 32 ? upperRight : elsewhere) += 1;
        }
    EXPECT_GT(upperRight, 12);
    EXPECT_EQ(elsewhere, 0);
    EXPECT_NE(quarter.GetPixel(32, 26), kWhite);
    // Coincident or collinear points make no circle.
    CPixelDC dc(kSide, kSide, kWhite);
    EXPECT_FALSE(DrawRubberArc3P(&dc, east, east, west));
    EXPECT_FALSE(DrawRubberCircle3P(&dc, east, {38, 32}, west));
    EXPECT_FALSE(DrawRubberCircle3P(nullptr, east, south, west));
    EXPECT_EQ(CountDark(dc, 0, kSide - 1, 32), 0);
}

}  // namespace
