#include "trace/trace_option.h"

#include <gtest/gtest.h>

#include "model/color_index.h"

TEST(TraceOption, ColoursComeFromTheirIndexesInThePalette)
{
    const CTraceOption o;
    EXPECT_EQ(o.c_NormalColor, ColorIndexToRGB(o.c_NormalColorIndex, nullptr, false));
    EXPECT_EQ(o.c_BackGroundColor, RGB(255, 255, 255));  // index 7 is shown as white
    EXPECT_EQ(o.c_GripBoxColor, ColorIndexToRGB(214, nullptr, false));
}

TEST(TraceOption, MaxDisFollowsTheMethod)
{
    CTraceOption o;
    o.ChartType.d_MaxDis = 2.5;
    o.Outline.d_MaxDis = 0.7;
    EXPECT_EQ(o.GetMaxDis(), 2.5);
    o.i_AutoTraceWhat = TRACE_OUTLINE;
    EXPECT_EQ(o.GetMaxDis(), 0.7);
    o.i_AutoTraceWhat = TRACE_FILL_PATTERN;
    EXPECT_EQ(o.GetMaxDis(), 1.0);
}

TEST(TraceOption, CopyIsDeepAndRecomputesGripColours)
{
    CTraceOption a;
    a.c_GripBoxColorIndex = 1;
    a.c_GripBoxColor = RGB(1, 2, 3);  // stale
    a.c_SelGripBoxColorIndex = 5;
    a.c_NormalColor = RGB(9, 9, 9);  // copied as it is
    a.ChartType.WidthSeries.SetDefault();
    a.b_Batch = true;
    CTraceOption b(a);
    EXPECT_EQ(b.c_GripBoxColor, RGB(255, 0, 0));
    EXPECT_EQ(b.c_SelGripBoxColor, RGB(0, 0, 255));
    EXPECT_EQ(b.c_NormalColor, RGB(9, 9, 9));
    EXPECT_TRUE(b.b_Batch);
    ASSERT_TRUE(b.ChartType.WidthSeries.AddWidth(9));
    b.ChartType.AngleSeries.Clear();
    EXPECT_EQ(a.ChartType.WidthSeries.Widths.GetCount(), 4u);
    EXPECT_EQ(a.ChartType.AngleSeries.GetCount(), 9u);
}

TEST(TraceOption, SnapshotDoesNotFollowLaterChanges)
{
    CTraceOption& global = GetTraceOption();
    const CTraceOption saved = global;
    global.ChartType.i_ConDis = 7;
    const CTraceOption snapshot = SnapshotTraceOption();
    global.ChartType.i_ConDis = 3;
    global.ChartType.AngleSeries.Clear();
    EXPECT_EQ(snapshot.ChartType.i_ConDis, 7);
    EXPECT_EQ(snapshot.ChartType.AngleSeries.GetCount(), 9u);
    global = saved;
}

TEST(TraceOption, OnlyTheGlobalRecordSetsTheViewBackground)
{
    CTraceOption& global = GetTraceOption();
    const CTraceOption saved = global;
    global.c_BackGroundColorIndex = 250;  // dark grey
    global.UpdateColors();
    EXPECT_EQ(GetViewBackgroundColor(), RGB(84, 84, 84));
    // Colour 7 now contrasts with the dark background.
    EXPECT_EQ(ColorIndexToRGB(7, nullptr, false), RGB(255, 255, 255));

    CTraceOption job;  // a batch job's record
    job.c_BackGroundColorIndex = 7;
    job.UpdateColors();
    job.SetDefaults();
    EXPECT_EQ(GetViewBackgroundColor(), RGB(84, 84, 84));

    global = saved;
    EXPECT_EQ(GetViewBackgroundColor(), RGB(255, 255, 255));
    EXPECT_EQ(ColorIndexToRGB(7, nullptr, false), RGB(0, 0, 0));
}

TEST(TraceOption, LoadClampsAreShared)
{
    EXPECT_EQ(ClampGray(-5), 0);
    EXPECT_EQ(ClampGray(300), 255);
    EXPECT_EQ(ClampDistance(-1), 0);
    EXPECT_EQ(ClampDistance(1LL << 40), INT32_MAX);
    EXPECT_EQ(ClampFillSpace(0, 1.0), 1.0);
    EXPECT_EQ(ClampFillSpace(-2, 3.0), 3.0);
    EXPECT_EQ(ClampFillSpace(1e-300, 1.0), kMinFillSpace);
    EXPECT_EQ(ClampFillSpace(2.5, 1.0), 2.5);
}
