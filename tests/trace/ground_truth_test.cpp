// Traces of drawings kept as geometry: each is rasterised with a 3-pixel
// round pen, traced with the stored defaults (and without angle adjustment),
// and measured against its own centre lines and circles.
#include "support/ground_truth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/constants.h"

namespace gt = ground_truth;

namespace {

constexpr double kPen = 3.0;

CTraceOption Method(UINT method, bool angles = true)
{
    CTraceOption options;
    options.i_AutoTraceWhat = method;
    options.ChartType.b_ForceOrtho = angles;
    return options;
}

// The outline method with its solid fill: polygon sets instead of polylines.
CTraceOption SolidOutline()
{
    CTraceOption options = Method(TRACE_OUTLINE);
    options.Outline.b_Fill = true;
    options.Outline.i_FillType = FILL_SOLID;
    return options;
}

gt::Figures Trace(const gt::Drawing& drawing, const CTraceOption& options, double pen = kPen)
{
    gt::Traced traced;
    EXPECT_TRUE(gt::TraceDrawing(drawing, pen, options, traced));
    return gt::Measure(drawing, traced, pen);
}

void AddLine(gt::Drawing& drawing, gt::Point a, double degrees, double length)
{
    drawing.lines.push_back(
        {a, {a.x + length * std::cos(degrees * DEGREE), a.y - length * std::sin(degrees * DEGREE)}});
}

// A plate with a border, six mounting holes and a large bore.
gt::Drawing Plate()
{
    gt::Drawing plate;
    plate.width = 700;
    plate.height = 500;
    plate.lines.push_back({{40, 40}, {660, 40}, {660, 460}, {40, 460}, {40, 40}});
    for (int i = 0; i < 6; ++i)
        gt::AddCircle(plate, {100.4 + 100 * i, 100.3 + (i % 2) * 300}, 10 + 4 * i);
    gt::AddCircle(plate, {350.2, 250.6}, 90);
    return plate;
}

// Long lines a little off the angles of the default series, none crossing
// another, and a narrow wedge: turning them whole would swing their far ends
// well off the ink.
gt::Drawing Fan()
{
    gt::Drawing fan;
    fan.width = 1200;
    fan.height = 720;
    AddLine(fan, {40.5, 100.3}, 1.4, 1100);
    AddLine(fan, {40.5, 250.6}, 4.0, 1100);
    AddLine(fan, {40.2, 650.4}, 28.0, 500);
    AddLine(fan, {500.7, 650.1}, 46.5, 500);
    AddLine(fan, {880.3, 650.8}, 61.0, 500);
    AddLine(fan, {40.2, 690.1}, 0, 1100);
    AddLine(fan, {40.2, 680.4}, -0.5, 1100);
    return fan;
}

// Sharp tips: two arcs that meet in a cusp, and a narrow V.
gt::Drawing Cusps()
{
    gt::Drawing cusps;
    cusps.width = 600;
    cusps.height = 400;
    for (int side : {-1, 1}) {
        std::vector<gt::Point> arc;
        for (int k = 0; k <= 60; ++k) {
            const double a = PI * k / 120;
            arc.push_back({200.3 + side * (120 - 120 * std::cos(a)), 320.6 - 120 * std::sin(a)});
        }
        cusps.lines.push_back(arc);
    }
    cusps.lines.push_back({{380.5, 40.5}, {450.2, 350.2}, {470.7, 40.3}});
    return cusps;
}

// Small squares, each a quarter pixel off the last, for a thin pen: the
// circle through the corners of a square's hole crosses the stroke and
// stands just beyond it, near ink, but on the wrong side of the border.
gt::Drawing ThinSquares()
{
    gt::Drawing squares;
    squares.width = 440;
    squares.height = 60;
    for (int i = 0; i < 8; ++i)
        gt::AddPolygon(squares, {30.0 + 50 * i + 0.125 * i, 30.0 + 0.25 * (i % 4)}, 12, 4, 0.4);
    return squares;
}

// Lines near an angle of the series are turned onto it, as far as their ink
// allows: they may leave the true line, but not by much.
void ExpectCentreLinesNearTheDrawing(const gt::Drawing& drawing, double covered)
{
    const gt::Figures figures = Trace(drawing, Method(TRACE_CENTER_LINE));
    EXPECT_LE(figures.maxDistance, 6.0) << figures.farthest.x << "," << figures.farthest.y;
    const gt::Figures straight = Trace(drawing, Method(TRACE_CENTER_LINE, false));
    EXPECT_LE(straight.maxDistance, 4.0) << straight.farthest.x << "," << straight.farthest.y;
    EXPECT_GE(straight.covered, covered);
}

}  // namespace

TEST(GroundTruth, CentreLinesStayNearTheDrawing)
{
    for (const gt::Drawing& drawing : {Plate(), Fan(), Cusps(), gt::SyntheticSheet()})
        ExpectCentreLinesNearTheDrawing(drawing, 0.93);
}

// Where strokes cross, ends meet across junctions: a joint that would pull
// a line sideways off its stroke is bridged instead. Junctions swallow some
// of the true line wherever strokes cross.
TEST(GroundTruth, ATangleOfCrossingStrokesStaysOnItsInk) { ExpectCentreLinesNearTheDrawing(gt::Tangle(2), 0.84); }

// Traced by its outline, a ring is found only when its hole is a circle
// too, in polylines and in the polygon sets of the solid fill.
TEST(GroundTruth, EveryTrueCircleIsFoundAndNoPolygonIsMadeACurve)
{
    for (const CTraceOption& options : {Method(TRACE_CENTER_LINE), Method(TRACE_OUTLINE), SolidOutline()}) {
        const std::string method = std::to_string(options.i_AutoTraceWhat) + (options.Outline.b_Fill ? " solid" : "");
        const gt::Figures sheet = Trace(gt::SyntheticSheet(), options);
        EXPECT_EQ(sheet.circlesFound, sheet.circles) << method;
        EXPECT_GT(sheet.polygons, 8);
        EXPECT_EQ(sheet.polygonsCurved, 0) << method;
        // A border lies half the pen off the true line, and its curves keep
        // within the tolerance of it.
        if (options.i_AutoTraceWhat == TRACE_OUTLINE) {
            EXPECT_LE(sheet.maxDistance, 0.5 * kPen + options.Outline.d_MaxDis) << method;
        }
        const gt::Figures plate = Trace(Plate(), options);
        EXPECT_EQ(plate.circlesFound, plate.circles) << method;
    }
    const gt::Figures squares = Trace(ThinSquares(), Method(TRACE_OUTLINE), 2.0);
    EXPECT_EQ(squares.polygons, 8);
    EXPECT_EQ(squares.polygonsCurved, 0);
}
