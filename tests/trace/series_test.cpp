#include "trace/series.h"

#include <cmath>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "model/constants.h"

using ::testing::ElementsAre;

namespace {

constexpr double k200DpiInDotsPerMetre = 7874;

CWidthSeries Series(std::initializer_list<double> widths, UINT unit, UINT more)
{
    CWidthSeries s;
    s.Unit = unit;
    s.MoreWidth = more;
    for (double w : widths)
        EXPECT_TRUE(s.AddWidth(w));
    return s;
}

CAngleItem Degrees(double main, double min, double max) { return {main * DEGREE, max * DEGREE, min * DEGREE}; }

}  // namespace

// ---- width series ----

TEST(WidthSeries, NewAndDefaultSeries)
{
    CWidthSeries s;
    EXPECT_EQ(s.Name, "");
    EXPECT_EQ(s.Unit, WIDTH_UNIT_MM);
    EXPECT_EQ(s.MoreWidth, MORE_WIDTH_CONTINUE);
    EXPECT_TRUE(s.GetWidths().empty());
    s.SetDefault();
    EXPECT_EQ(s.Name, "Default");
    EXPECT_EQ(s.Unit, WIDTH_UNIT_MM);
    EXPECT_EQ(s.MoreWidth, MORE_WIDTH_KEEP);
    EXPECT_THAT(s.GetWidths(), ElementsAre(0, 0.5, 1.0, 2.0));
}

TEST(WidthSeries, AddWidthKeepsOrderAndRefusesNearDuplicates)
{
    CWidthSeries s;
    s.SetDefault();
    EXPECT_FALSE(s.AddWidth(0.500001));
    EXPECT_TRUE(s.AddWidth(0.75));
    EXPECT_TRUE(s.AddWidth(-1));
    EXPECT_TRUE(s.AddWidth(5));
    EXPECT_FALSE(s.AddWidth(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(s.AddWidth(std::numeric_limits<double>::infinity()));
    EXPECT_THAT(s.GetWidths(), ElementsAre(-1, 0, 0.5, 0.75, 1.0, 2.0, 5));
    EXPECT_EQ(s.Widths.GetCount(), 7u);
}

TEST(WidthSeries, SetMoreWidthClamps)
{
    CWidthSeries s;
    s.SetMoreWidth(7);
    EXPECT_EQ(s.MoreWidth, 2u);
    s.SetMoreWidth(-1);
    EXPECT_EQ(s.MoreWidth, 0u);
    s.SetMoreWidth(1);
    EXPECT_EQ(s.MoreWidth, 1u);
}

TEST(WidthSeries, CopyIsDeepAndRenameNeedsANewName)
{
    CWidthSeries a;
    a.SetDefault();
    CWidthSeries b(a);
    ASSERT_TRUE(b.AddWidth(3));
    EXPECT_EQ(a.Widths.GetCount(), 4u);
    EXPECT_EQ(b.Widths.GetCount(), 5u);
    EXPECT_FALSE(b.Rename(""));
    EXPECT_FALSE(b.Rename("Default"));
    EXPECT_TRUE(b.Rename("default"));
    b = a;
    EXPECT_THAT(b.GetWidths(), ElementsAre(0, 0.5, 1.0, 2.0));
    EXPECT_EQ(b.Name, "Default");
    b.Clear();
    EXPECT_EQ(b.Name, "");
    EXPECT_TRUE(b.GetWidths().empty());
}

TEST(WidthSeries, DefaultRoundsToMillimetresAt200Dpi)
{
    CWidthSeries s;
    s.SetDefault();
    EXPECT_NEAR(s.RoundToSeries(5, k200DpiInDotsPerMetre), 3.937, 1e-9);
    EXPECT_NEAR(s.RoundToSeries(10, k200DpiInDotsPerMetre), 7.874, 1e-9);
    EXPECT_EQ(s.RoundToSeries(1, k200DpiInDotsPerMetre), 0);
    // Beyond the last value the default keeps the measured width.
    EXPECT_EQ(s.RoundToSeries(40, k200DpiInDotsPerMetre), 40);
}

TEST(WidthSeries, HalfWayGoesToTheSmallerValue)
{
    const CWidthSeries s = Series({2, 4}, WIDTH_UNIT_PIXEL, MORE_WIDTH_SHRINK);
    EXPECT_EQ(s.RoundToSeries(3, 0), 2);
    EXPECT_EQ(s.RoundToSeries(3.0001, 0), 4);
    EXPECT_EQ(s.RoundToSeries(5, 0), 4);    // within half the last gap
    EXPECT_EQ(s.RoundToSeries(500, 0), 4);  // shrunk to the last value
}

TEST(WidthSeries, MoreWidthContinuesInEqualSteps)
{
    const CWidthSeries s = Series({1, 3}, WIDTH_UNIT_PIXEL, MORE_WIDTH_CONTINUE);
    EXPECT_EQ(s.RoundToSeries(4.5, 0), 5);
    EXPECT_EQ(s.RoundToSeries(7.9, 0), 7);
    EXPECT_EQ(s.RoundToSeries(8.1, 0), 9);
    // A one-value series steps by its value.
    const CWidthSeries one = Series({2}, WIDTH_UNIT_PIXEL, MORE_WIDTH_CONTINUE);
    EXPECT_EQ(one.RoundToSeries(2.9, 0), 2);
    EXPECT_EQ(one.RoundToSeries(7.1, 0), 8);
    const CWidthSeries shrink = Series({2}, WIDTH_UNIT_PIXEL, MORE_WIDTH_SHRINK);
    EXPECT_EQ(shrink.RoundToSeries(9, 0), 2);
}

TEST(WidthSeries, AZeroStepHasNothingToContinueWith)
{
    const CWidthSeries zero = Series({0}, WIDTH_UNIT_PIXEL, MORE_WIDTH_CONTINUE);
    EXPECT_EQ(zero.RoundToSeries(0, 0), 0);
    EXPECT_EQ(zero.RoundToSeries(3.5, 0), 3.5);
    EXPECT_EQ(zero.RoundToSeries(1e300, 0), 1e300);
}

TEST(WidthSeries, UnitsScaleByTheResolution)
{
    // 1000 dots per metre: 1 mm = 1 px, 1 cm = 10 px, 1 inch = 25.4 px.
    EXPECT_EQ(Series({1, 2}, WIDTH_UNIT_MM, MORE_WIDTH_SHRINK).RoundToSeries(1.9, 1000), 2);
    EXPECT_EQ(Series({1, 2}, WIDTH_UNIT_CM, MORE_WIDTH_SHRINK).RoundToSeries(19, 1000), 20);
    EXPECT_NEAR(Series({1, 2}, WIDTH_UNIT_INCH, MORE_WIDTH_SHRINK).RoundToSeries(30, 1000), 25.4, 1e-9);
    // 1/50 inch at 200 dpi is 4 pixels.
    EXPECT_NEAR(Series({0.02, 0.04}, WIDTH_UNIT_INCH, MORE_WIDTH_SHRINK).RoundToSeries(4.2, k200DpiInDotsPerMetre), 4.0,
                1e-3);
}

TEST(WidthSeries, NoResolutionNoWidthsOrAnUnknownUnitLeaveTheWidth)
{
    EXPECT_EQ(Series({1, 2}, WIDTH_UNIT_MM, MORE_WIDTH_SHRINK).RoundToSeries(5, 0.5), 5);
    EXPECT_EQ(Series({1, 2}, WIDTH_UNIT_MM, MORE_WIDTH_SHRINK).RoundToSeries(5, std::nan("")), 5);
    EXPECT_EQ(Series({}, WIDTH_UNIT_PIXEL, MORE_WIDTH_SHRINK).RoundToSeries(5, 0), 5);
    EXPECT_EQ(Series({1, 2}, 9, MORE_WIDTH_SHRINK).RoundToSeries(5, 1000), 5);
    // Pixels need no resolution.
    EXPECT_EQ(Series({1, 2}, WIDTH_UNIT_PIXEL, MORE_WIDTH_SHRINK).RoundToSeries(5, 0), 2);
}

// ---- angle series ----

TEST(AngleSeries, PresetsHoldTheirItemsInOrder)
{
    CAngleSeries s;
    s.SetDefault();
    EXPECT_EQ(s.Name, "Default");
    std::vector<CAngleItem> items = s.GetItems();
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[0].MainAngle, 0);
    EXPECT_EQ(items[0].MaxAngle, 5 * DEGREE);
    EXPECT_EQ(items[1].MainAngle, SIXTH_PI);
    EXPECT_EQ(items[3].MainAngle, THIRD_PI);
    EXPECT_EQ(items[4].MainAngle, HALF_PI);
    EXPECT_EQ(items[4].MinAngle, 87.5 * DEGREE);
    EXPECT_EQ(items[5].MainAngle, TWO_THIRD_PI);
    EXPECT_EQ(items[8].MainAngle, PI);
    EXPECT_EQ(items[8].MinAngle, 175 * DEGREE);
    EXPECT_EQ(items[8].MaxAngle, PI);

    ASSERT_TRUE(s.SetPreset("ortho SERIES"));
    EXPECT_EQ(s.Name, "Ortho series");
    items = s.GetItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].MinAngle, 85 * DEGREE);
    EXPECT_EQ(items[2].MinAngle, 170 * DEGREE);

    s.SetTinilyAdjust();
    items = s.GetItems();
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[0].MaxAngle, 1.5 * DEGREE);
    EXPECT_EQ(items[1].MinAngle, 29 * DEGREE);
    EXPECT_EQ(items[4].MainAngle, HALF_PI);
    EXPECT_EQ(items[4].MinAngle, 88.5 * DEGREE);
    EXPECT_EQ(items[8].MinAngle, 178.5 * DEGREE);
    EXPECT_FALSE(s.SetPreset("Nonesuch"));
    EXPECT_EQ(s.Name, "Tinily Adjust");
}

TEST(AngleSeries, FindMainAngleSnapsOnlyAnglesOffTheMainAngle)
{
    CAngleSeries s;
    s.SetDefault();
    double a = HALF_PI;
    EXPECT_FALSE(s.FindMainAngle(a));
    EXPECT_EQ(a, HALF_PI);
    a = 89 * DEGREE;
    EXPECT_TRUE(s.FindMainAngle(a));
    EXPECT_EQ(a, HALF_PI);
    a = 177 * DEGREE;
    EXPECT_TRUE(s.FindMainAngle(a));
    EXPECT_EQ(a, PI);
    a = 10 * DEGREE;
    EXPECT_FALSE(s.FindMainAngle(a));
    EXPECT_EQ(a, 10 * DEGREE);
}

TEST(AngleSeries, AddItemInsertsInOrderWithoutOverlap)
{
    CAngleSeries s;
    EXPECT_TRUE(s.AddItem(Degrees(90, 85, 95)));
    EXPECT_TRUE(s.AddItem(Degrees(0, 0, 10)));
    EXPECT_TRUE(s.AddItem(Degrees(45, 10, 50)));   // touches the range before it
    EXPECT_FALSE(s.AddItem(Degrees(60, 49, 70)));  // overlaps 45
    EXPECT_FALSE(s.AddItem(Degrees(70, 60, 86)));  // overlaps 90
    EXPECT_FALSE(s.AddItem(Degrees(30, 31, 40)));  // main angle outside its range
    EXPECT_FALSE(s.AddItem({std::nan(""), 1, 0}));
    EXPECT_FALSE(s.AddItem({0.5, std::numeric_limits<double>::infinity(), 0}));
    const std::vector<CAngleItem> items = s.GetItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].MainAngle, 0);
    EXPECT_EQ(items[1].MainAngle, 45 * DEGREE);
    EXPECT_EQ(items[2].MainAngle, HALF_PI);
}

TEST(AngleSeries, AddItemReplacesAnItemOfTheSameMainAngleWhenItFits)
{
    CAngleSeries s;
    s.SetOrtho();
    EXPECT_TRUE(s.AddItem(Degrees(90, 80, 100)));
    EXPECT_EQ(s.GetItems()[1].MinAngle, 80 * DEGREE);
    EXPECT_FALSE(s.AddItem(Degrees(90, 5, 100)));  // would overlap 0 .. 10
    EXPECT_EQ(s.GetCount(), 3u);
    EXPECT_EQ(s.GetItems()[1].MinAngle, 80 * DEGREE);
}

TEST(AngleSeries, ModifyAndRemoveCheckIndexAndNeighbours)
{
    CAngleSeries s;
    s.SetOrtho();
    EXPECT_FALSE(s.ModifyAt(3, Degrees(1, 0, 2)));
    EXPECT_FALSE(s.ModifyAt(1, Degrees(90, 9, 95)));    // below the previous maximum
    EXPECT_FALSE(s.ModifyAt(1, Degrees(90, 85, 171)));  // above the next minimum
    // No range check of the main angle and no re-ordering.
    EXPECT_TRUE(s.ModifyAt(1, Degrees(120, 85, 95)));
    EXPECT_EQ(s.GetItems()[1].MainAngle, 120 * DEGREE);
    EXPECT_FALSE(s.RemoveAt(3));
    EXPECT_TRUE(s.RemoveAt(0));
    EXPECT_EQ(s.GetCount(), 2u);
    EXPECT_EQ(s.GetItems()[0].MainAngle, 120 * DEGREE);
}

TEST(AngleSeries, CopyIsDeep)
{
    CAngleSeries a;
    a.SetDefault();
    CAngleSeries b = a;
    b.RemoveAt(0);
    EXPECT_EQ(a.GetCount(), 9u);
    EXPECT_EQ(b.GetCount(), 8u);
    b.Clear();
    EXPECT_EQ(b.Name, "");
    EXPECT_EQ(a.Name, "Default");
}
