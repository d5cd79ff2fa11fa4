#include "model/constants.h"
#include "model/point.h"

#include <gtest/gtest.h>

TEST(Constants, PiIsTheSinglePrecisionValue)
{
    EXPECT_EQ(PI, 3.1415927410125732);
    EXPECT_EQ(TWO_PI, 6.2831854820251465);
    EXPECT_EQ(HALF_PI, 1.5707963705062866);
    EXPECT_EQ(THREE_HALF_PI, 4.71238911151886);
    EXPECT_EQ(SIXTH_PI, 0.5235987901687622);
}

TEST(PointGeometry, ToleranceBoundsDifferBetweenDistanceAndEquality)
{
    frDoublePoint origin;
    frDoublePoint near(0.000009, 0);
    frDoublePoint edge(1e-5, 0);
    EXPECT_EQ(PointDistance(&origin, &near), 0.0);
    EXPECT_EQ(PointDistance(&origin, &edge), 1e-5);
    EXPECT_TRUE(PointsEqual(origin, edge));
    EXPECT_FALSE(PointsEqual(origin, frDoublePoint(0, 1.1e-5)));
    frDoublePoint far(3, 4);
    EXPECT_EQ(PointDistance(&origin, &far), 5.0);
}

TEST(PointGeometry, SideOfALine)
{
    frDoublePoint a(0, 0), b(10, 0);
    EXPECT_EQ(GetPointSide(frDoublePoint(5, 1), a, b), 1);
    EXPECT_EQ(GetPointSide(frDoublePoint(5, -1), a, b), -1);
    EXPECT_EQ(GetPointSide(frDoublePoint(20, 0), a, b), 0);
    // Cross product exactly 1e-5 counts as on the line.
    EXPECT_EQ(GetPointSide(frDoublePoint(0.5, 1e-5), a, frDoublePoint(1, 0)), 0);
    EXPECT_EQ(GetPointSide(frDoublePoint(0.5, 2e-5), a, frDoublePoint(1, 0)), 1);
}

TEST(PointGeometry, PolarAndRotation)
{
    frDoublePoint p(1, 0);
    RotatePoint(&p, HALF_PI);
    EXPECT_NEAR(p.x, 0, 1e-7);
    EXPECT_NEAR(p.y, 1, 1e-12);
    frDoublePoint out(0, 0, 9);
    PolarPoint(frDoublePoint(1, 1), PI, 2, &out);
    EXPECT_NEAR(out.x, -1, 1e-12);
    EXPECT_NEAR(out.y, 1, 1e-6);
    EXPECT_EQ(out.z, 9) << "z is left alone";
}
