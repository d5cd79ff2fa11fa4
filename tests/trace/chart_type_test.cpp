#include "trace/chart_type.h"

#include <gtest/gtest.h>

TEST(ChartType, PresetsSetTheirFields)
{
    CChartType c;
    c.SetDefaultPreset();
    EXPECT_EQ(c.Name, "pre_Default");
    EXPECT_EQ(c.d_MaxDis, 2.0);
    EXPECT_TRUE(c.b_CalcWidth);
    EXPECT_TRUE(c.b_DelLine);
    EXPECT_EQ(c.i_DelLine_Length, 10);
    EXPECT_TRUE(c.b_ForceOrtho);
    EXPECT_EQ(c.AngleSeries.Name, "Default");
    EXPECT_TRUE(c.b_Connect);
    EXPECT_EQ(c.i_ConDis, 5);
    EXPECT_TRUE(c.b_RecogniseCirArc);

    ASSERT_TRUE(c.SetPreset("pre_Engineering"));
    EXPECT_EQ(c.Name, "pre_Engineering");
    EXPECT_FALSE(c.b_CalcWidth);
    EXPECT_EQ(c.i_DelLine_Length, 5);
    EXPECT_EQ(c.i_ConDis, 9);
    EXPECT_FALSE(c.SetPreset("Engineering"));
}

TEST(ChartType, TopographyAfterDefaultKeepsLengthAndAngleSeries)
{
    CChartType c;
    c.SetDefaultPreset();
    c.SetTopographyPreset();
    EXPECT_EQ(c.Name, "pre_Topography");
    EXPECT_EQ(c.d_MaxDis, 1.0);
    EXPECT_FALSE(c.b_DelLine);
    EXPECT_FALSE(c.b_ForceOrtho);
    EXPECT_FALSE(c.b_RecogniseCirArc);
    EXPECT_EQ(c.i_DelLine_Length, 10);
    EXPECT_EQ(c.AngleSeries.Name, "Default");
    EXPECT_EQ(c.AngleSeries.GetCount(), 9u);
}

TEST(ChartType, NoPresetTouchesTheWidthSeries)
{
    CChartType c;
    c.WidthSeries.SetDefault();
    c.SetDefaultPreset();
    c.SetEngineeringPreset();
    EXPECT_EQ(c.WidthSeries.Name, "Default");
    EXPECT_EQ(c.WidthSeries.Widths.GetCount(), 4u);
}

TEST(ChartType, CopyIsIndependentOfItsSource)
{
    CChartType a;
    a.SetDefaultPreset();
    a.WidthSeries.SetDefault();
    CChartType b;
    b.Copy(a);
    b.AngleSeries.RemoveAt(0);
    ASSERT_TRUE(b.WidthSeries.AddWidth(4));
    b.i_ConDis = 1;
    EXPECT_EQ(a.AngleSeries.GetCount(), 9u);
    EXPECT_EQ(a.WidthSeries.Widths.GetCount(), 4u);
    EXPECT_EQ(a.i_ConDis, 5);
    EXPECT_EQ(b.AngleSeries.GetCount(), 8u);
    EXPECT_EQ(b.Name, "pre_Default");
}
