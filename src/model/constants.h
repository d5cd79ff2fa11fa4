#pragma once
// Angle constants and tolerances shared by every angle computation.
//
// PI is pi rounded to single precision and widened again (3.1415927410125732).
// The threshold decisions of fitting and snapping were tuned against these
// values, so never substitute M_PI or std::numbers::pi.

constexpr double PI = static_cast<double>(static_cast<float>(3.14159265358979323846));
constexpr double HALF_PI = PI * 0.5;
constexpr double TWO_PI = PI + PI;
constexpr double THREE_HALF_PI = 3 * HALF_PI;
constexpr double SIXTH_PI = PI / 6;
constexpr double THIRD_PI = PI / 3;
constexpr double TWO_THIRD_PI = 2 * (PI / 3);
constexpr double DEGREE = PI / 180;  // one degree in radians
constexpr double PI_40_DEGREES = PI * 0.2222222238779068;
constexpr double PI_170_DEGREES = PI * 0.9444444179534912;

// Points, bulges and angles are equal within this.
constexpr double POINT_TOLERANCE = 1e-5;
// The coarser tolerance of a few geometry tests.
constexpr double COARSE_TOLERANCE = 0.001;
