#pragma once
// The ink guard of post-processing: steps that move traced lines (angle
// adjustment, straightening, the joints of connecting) may not carry a line
// off the stroke
// it was traced from. A point is near the ink when the centre of a
// foreground pixel of the one-bit raster lies within the reach of it. A
// segment's reach is the larger of the connect distance and its stroke's
// width, held from the stroke's middle: its ink already stands half its
// width off the middle, so the segment keeps that much nearer the ink. A step
// whose result would leave that reach anywhere is not applied to the line.
//
// Coordinates are world coordinates (y up) as in line_widths.h: (x, y) lies
// at column x, row H - 1 - y, pixel centres on whole numbers. Without a one-bit raster
// the guard lets everything pass.
#include "model/point.h"

class CRasterSrc;
class CTraceOption;

class CInkGuard {
public:
    // A guard that lets everything pass.
    CInkGuard() = default;
    CInkGuard(const CRasterSrc& raster, const CTraceOption& options);

    [[nodiscard]] bool IsActive() const { return m_raster != nullptr; }
    [[nodiscard]] bool IsNearInk(const frDoublePoint& p, double reach) const;
    // The pixel under the point is ink.
    [[nodiscard]] bool IsOnInk(const frDoublePoint& p) const;
    // On a stroke of that width: near the ink by half the width, at least
    // kOnStrokeReach.
    [[nodiscard]] bool IsOnStroke(const frDoublePoint& p, double width) const;
    // Every point of the segment that v begins (straight or arc), sampled at
    // most kInkStep apart, ends included, lies within the segment's reach
    // of its stroke's middle (less half its width from the ink, at least
    // kOnStrokeReach).
    [[nodiscard]] bool IsSegmentNearInk(const CVertex& v) const;
    // The same for the straight segment a-b drawn with that width.
    [[nodiscard]] bool IsChordNearInk(const frDoublePoint& a, const frDoublePoint& b, double width) const;
    // Every point of the segment that v begins lies on its stroke
    // (IsOnStroke with the segment's width).
    [[nodiscard]] bool IsSegmentOnStroke(const CVertex& v) const;

private:
    // How near the ink a segment of that width keeps: its reach less half
    // the width, at least kOnStrokeReach.
    [[nodiscard]] double StrokeReach(double width) const;
    static double OnStrokeReach(double width);
    [[nodiscard]] bool IsSegmentWithin(const CVertex& v, double reach) const;
    [[nodiscard]] bool IsChordWithin(const frDoublePoint& a, const frDoublePoint& b, double reach) const;

    const CRasterSrc* m_raster = nullptr;
    double m_connectDistance = 0;
};

// Samples of a segment lie this far apart at most, in pixels.
inline constexpr double kInkStep = 1.0;
// A point on a stroke's centre line may lie this far from the nearest pixel
// centre of a thin stroke.
inline constexpr double kOnStrokeReach = 1.0;
