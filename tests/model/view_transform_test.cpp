#include "model/view_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// A 100 x 100 pixel window showing world (0, 0)-(100, 100): one pixel per unit.
CFrViewTransform UnitView()
{
    CFrViewTransform view;
    view.SetDeviceRect(0, 0, 100, 100);
    view.SetWorldBox(0, 0, 100, 100);
    return view;
}

void ExpectBoxNear(const CFrZoomBox& a, const CFrZoomBox& b, double tolerance)
{
    EXPECT_NEAR(a.xmin, b.xmin, tolerance);
    EXPECT_NEAR(a.xmax, b.xmax, tolerance);
    EXPECT_NEAR(a.ymin, b.ymin, tolerance);
    EXPECT_NEAR(a.ymax, b.ymax, tolerance);
}

}  // namespace

// ---- fitting --------------------------------------------------------------

TEST(ViewFit, StartsFittedToTheDefaultWindow)
{
    CFrViewTransform view;
    EXPECT_EQ(view.DeviceWidth(), 40);
    EXPECT_EQ(view.DeviceHeight(), 30);
    EXPECT_EQ(view.DeviceRect().top, 30);
    const CFrZoomBox& box = view.WorldBox();
    // First fitted to 30 x 40 (height widened to 160 / 3), then to 40 x 30.
    EXPECT_NEAR(box.ymax - box.ymin, 160.0 / 3, 1e-9);
    EXPECT_NEAR(box.xmin, 20 - 320.0 / 9, 1e-9);
    EXPECT_NEAR(box.xmax, 20 + 320.0 / 9, 1e-9);
    EXPECT_NEAR(view.UnitsPerPixel(), 16.0 / 9, 1e-12);
    EXPECT_DOUBLE_EQ(view.FlatteningLength(), 5.0);
    EXPECT_TRUE(view.IsChanged());
}

TEST(ViewFit, BoxIsWidenedToTheWindowShapeNeverCut)
{
    CFrViewTransform view;
    view.SetDeviceRect(0, 0, 200, 100);
    view.SetWorldBox(0, 0, 10, 40);
    const CFrZoomBox& box = view.WorldBox();
    EXPECT_DOUBLE_EQ(box.ymin, 0);
    EXPECT_DOUBLE_EQ(box.ymax, 40);
    EXPECT_DOUBLE_EQ(box.xmin, 5 - 40);
    EXPECT_DOUBLE_EQ(box.xmax, 5 + 40);
    EXPECT_DOUBLE_EQ(view.UnitsPerPixel(), 0.4);
    EXPECT_DOUBLE_EQ(view.FlatteningLength(), 5 * 10.0 / 200) << "measured before widening";

    CFrViewTransform swapped;
    swapped.SetDeviceRect(200, 100, 0, 0);
    swapped.SetWorldBox(10, 40, 0, 0);
    ExpectBoxNear(swapped.WorldBox(), box, 0);
    swapped.SetWorldBox(0, 40, 10, 0);
    ExpectBoxNear(swapped.WorldBox(), box, 0);
}

TEST(ViewFit, EmptyDeviceSidesCountAsThirtyAndForty)
{
    CFrViewTransform view;
    view.SetDeviceRect(5, 7, 5, 7);
    EXPECT_EQ(view.DeviceWidth(), 30);
    EXPECT_EQ(view.DeviceHeight(), 40);
    view.SetWorldBox(0, 0, 30, 40);
    std::int32_t X = 0, Y = 0;
    view.WorldToDevice(30, 40, &X, &Y);
    EXPECT_EQ(X, 35);
    EXPECT_EQ(Y, 47);
}

TEST(ViewFit, BoxOfNoWidthTakesItsWidthFromTheHeight)
{
    CFrViewTransform view;
    view.SetDeviceRect(0, 0, 40, 30);
    view.SetWorldBox(10, 0, 10, 20);
    EXPECT_NEAR(view.WorldWidth(), 40 * (20.0 / 30), 1e-12);
    EXPECT_GT(view.FlatteningLength(), 0) << "arcs must still be flattened in finite steps";
    view.SetWorldBox(0, 5, 30, 5);
    EXPECT_NEAR(view.WorldHeight(), 30 * (30.0 / 40), 1e-12);
}

TEST(ViewFit, BoxOfNoSizeIsOpenedAboutItsPoint)
{
    CFrViewTransform view;
    view.SetDeviceRect(0, 0, 40, 30);
    view.SetWorldBox(3, 4, 3, 4);
    EXPECT_DOUBLE_EQ(view.UnitsPerPixel(), 1);
    EXPECT_GT(view.FlatteningLength(), 0);
    std::int32_t X = 0, Y = 0;
    view.WorldToDevice(3, 4, &X, &Y);
    EXPECT_EQ(X, 20);
    EXPECT_EQ(Y, 15);
    double x = 0, y = 0;
    view.DeviceToWorld(20, 15, &x, &y);
    EXPECT_DOUBLE_EQ(x, 3);
    EXPECT_DOUBLE_EQ(y, 4);
    view.SetDeviceRect(0, 0, 80, 60);
    EXPECT_TRUE(std::isfinite(view.UnitsPerPixel()));
}

TEST(ViewFit, NonFiniteBoxesAreRefused)
{
    CFrViewTransform view = UnitView();
    CFrZoomBox before = view.WorldBox();
    view.SetWorldBox(0, 0, std::numeric_limits<double>::infinity(), 10);
    view.SetWorldBox(std::nan(""), 0, 10, 10);
    view.SetWorldBox(-1e308, 0, 1e308, 10);
    view.Pan(std::nan(""), 0);
    ExpectBoxNear(view.WorldBox(), before, 0);
}

// ---- conversions ----------------------------------------------------------

TEST(ViewConvert, WorldToDeviceRoundsHalvesToEven)
{
    CFrViewTransform view = UnitView();
    std::int32_t X = 0, Y = 0;
    view.WorldToDevice(2.5, 3.5, &X, &Y);
    EXPECT_EQ(X, 2);
    EXPECT_EQ(Y, 4);
    view.WorldToDevice(-0.5, -1.5, &X, &Y);
    EXPECT_EQ(X, 0);
    EXPECT_EQ(Y, -2);
    view.WorldToDevice(10.49, 10.51, &X, &Y);
    EXPECT_EQ(X, 10);
    EXPECT_EQ(Y, 11);
    POINT p = view.WorldToDevicePoint(frDoublePoint(7.5, 8.5));
    EXPECT_EQ(p.x, 8);
    EXPECT_EQ(p.y, 8);
}

TEST(ViewConvert, FarPointsSaturate)
{
    CFrViewTransform view = UnitView();
    std::int32_t X = 0, Y = 0;
    view.WorldToDevice(1e300, -1e300, &X, &Y);
    EXPECT_EQ(X, DEVICE_COORD_LIMIT);
    EXPECT_EQ(Y, -DEVICE_COORD_LIMIT);
    view.WorldToDevice(std::nan(""), std::numeric_limits<double>::infinity(), &X, &Y);
    EXPECT_EQ(X, 0);
    EXPECT_EQ(Y, DEVICE_COORD_LIMIT);
}

TEST(ViewConvert, DeviceToWorldInvertsTheMapping)
{
    CFrViewTransform view;
    view.SetDeviceRect(10, 20, 330, 260);
    view.SetWorldBox(-50, 100, 250, 400);
    for (std::int32_t X : {10, 77, 330}) {
        for (std::int32_t Y : {20, 111, 260}) {
            frDoublePoint w(0, 0, 9);
            view.DeviceToWorldPoint(X, Y, w);
            EXPECT_EQ(w.z, 9);
            std::int32_t X2 = 0, Y2 = 0;
            view.WorldToDevice(w.x, w.y, &X2, &Y2);
            EXPECT_EQ(X2, X);
            EXPECT_EQ(Y2, Y);
        }
    }
}

TEST(ViewConvert, SegmentsAreClippedToTheWorldBox)
{
    CFrViewTransform view = UnitView();
    POINT a{-7, -7}, b{-7, -7};
    EXPECT_FALSE(view.ClipSegmentToDevice(frDoublePoint(-10, -10), frDoublePoint(-5, 50), &a, &b));
    EXPECT_EQ(a.x, -7) << "outputs untouched";
    EXPECT_EQ(b.y, -7);
    ASSERT_TRUE(view.ClipSegmentToDevice(frDoublePoint(-50, 50), frDoublePoint(50.5, 50), &a, &b));
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(a.y, 50);
    EXPECT_EQ(b.x, 50);
    CVertex v1(20, 30, 0, 0, 0), v2(20, 300, 0, 0, 0);
    ASSERT_TRUE(view.ClipSegmentToDevice(v1, v2, &a, &b));
    EXPECT_EQ(b.y, 100);
}

TEST(ViewConvert, BoxesTouchingTheWorldBoxGiveThinRectangles)
{
    CFrViewTransform view = UnitView();
    RECT r{};
    const double inside[4] = {10, 20, 30, 60};
    ASSERT_TRUE(view.BoxToDevice(inside, &r));
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.right, 20);
    EXPECT_EQ(r.top, 60);
    EXPECT_EQ(r.bottom, 30);
    const double touching[4] = {100, 150, 10, 20};
    ASSERT_TRUE(view.BoxToDevice(touching, &r));
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.right, 100);
    const double outside[4] = {101, 150, 10, 20};
    EXPECT_FALSE(view.BoxToDevice(outside, &r));
}

// ---- zoom and pan ---------------------------------------------------------

TEST(ViewZoom, InThenOutReturnsTheBoxWithTheCursorFixed)
{
    CFrViewTransform view;
    view.SetDeviceRect(0, 0, 640, 480);
    view.SetWorldBox(-200, -100, 600, 500);
    CFrZoomBox start = view.WorldBox();
    frDoublePoint cursor(0, 0);
    view.DeviceToWorldPoint(123, 321, cursor);

    ASSERT_TRUE(view.ZoomInAt(cursor));
    view.SetDeviceRect(0, 0, 640, 480);
    EXPECT_NEAR(view.WorldWidth(), 0.8 * (start.xmax - start.xmin), 1e-4);
    POINT under = view.WorldToDevicePoint(cursor);
    EXPECT_EQ(under.x, 123);
    EXPECT_EQ(under.y, 321);

    ASSERT_TRUE(view.ZoomOutAt(cursor));
    view.SetDeviceRect(0, 0, 640, 480);
    under = view.WorldToDevicePoint(cursor);
    EXPECT_EQ(under.x, 123);
    EXPECT_EQ(under.y, 321);
    // 0.8 x 1.25 is 1 up to the single-precision zoom-in factor.
    ExpectBoxNear(view.WorldBox(), start, 2e-5);
}

TEST(ViewZoom, EndlessZoomingStopsAtAUsableBox)
{
    CFrViewTransform view = UnitView();
    int in = 0;
    while (view.ZoomInAt(frDoublePoint(0, 0)) && in < 10000)
        ++in;
    EXPECT_LT(in, 10000);
    const CFrZoomBox& box = view.WorldBox();
    EXPECT_LT(box.xmin, box.xmax);
    EXPECT_LT(box.ymin, box.ymax);
    view.SetDeviceRect(0, 0, 100, 100);
    EXPECT_GT(view.UnitsPerPixel(), 0);
    EXPECT_TRUE(std::isfinite(view.FlatteningLength()));

    CFrViewTransform far = UnitView();
    int out = 0;
    while (far.ZoomOutAt(frDoublePoint(50, 50)) && out < 10000)
        ++out;
    EXPECT_LT(out, 10000);
    EXPECT_TRUE(std::isfinite(far.WorldWidth()));
    std::int32_t X = 0, Y = 0;
    far.WorldToDevice(0, 0, &X, &Y);
    EXPECT_GE(X, 0);
}

TEST(ZoomStack, RestoresBoxesNewestFirst)
{
    CFrViewTransform view = UnitView();
    CFrZoomStack stack;
    EXPECT_FALSE(stack.RestoreZoom(view)) << "empty";
    EXPECT_FALSE(stack.PopZoom());
    ExpectBoxNear(view.WorldBox(), CFrZoomBox{0, 100, 100, 0}, 0);

    ASSERT_TRUE(stack.PushZoom(view));
    view.ZoomInAt(frDoublePoint(10, 10));
    CFrZoomBox zoomed = view.WorldBox();
    ASSERT_TRUE(stack.PushZoom(view));
    view.Pan(30, 30);
    EXPECT_EQ(stack.Depth(), 2u);

    ASSERT_TRUE(stack.RestoreZoom(view));
    ExpectBoxNear(view.WorldBox(), zoomed, 1e-9);
    ASSERT_TRUE(stack.PushZoom(view));
    EXPECT_TRUE(stack.PopZoom()) << "a zoom that did not happen";
    ASSERT_TRUE(stack.RestoreZoom(view));
    ExpectBoxNear(view.WorldBox(), CFrZoomBox{0, 100, 100, 0}, 1e-9);
    EXPECT_EQ(stack.Depth(), 0u);
    stack.ClearZoomStack();
}
