// The Bezier pieces of PDF arcs and circles checked against the true
// circle: every piece starts and ends on it, its control points lie on the
// tangents at the right distance, and points along it stay on the circle.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "export/pdf_stream.h"
#include "model/constants.h"
#include "model/polyline.h"

#include "export_test_support.h"

namespace {

using namespace export_test;

struct Pt {
    double x = 0, y = 0;
};

// The path of a content stream: its first point (m) and its cubic pieces
// (c), each from the previous end; the operators in order.
struct PdfPath {
    Pt start;
    std::vector<std::array<Pt, 4>> pieces;
    std::string operators;
};

PdfPath ReadPath(const std::string& content)
{
    PdfPath path;
    std::istringstream in(content);
    std::vector<double> numbers;
    Pt current;
    for (std::string token; in >> token;) {
        char* end = nullptr;
        const double value = std::strtod(token.c_str(), &end);
        if (end != token.c_str() && *end == '\0') {
            numbers.push_back(value);
            continue;
        }
        path.operators += token + " ";
        if (token == "m" && numbers.size() >= 2)
            current = path.start = {numbers[0], numbers[1]};
        if (token == "l" && numbers.size() >= 2)
            current = {numbers[0], numbers[1]};
        if (token == "c" && numbers.size() >= 6) {
            path.pieces.push_back(
                {current, Pt{numbers[0], numbers[1]}, Pt{numbers[2], numbers[3]}, Pt{numbers[4], numbers[5]}});
            current = path.pieces.back()[3];
        }
        numbers.clear();
    }
    return path;
}

Pt Bezier(const std::array<Pt, 4>& p, double t)
{
    const double u = 1 - t;
    const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    return {a * p[0].x + b * p[1].x + c * p[2].x + d * p[3].x, a * p[0].y + b * p[1].y + c * p[2].y + d * p[3].y};
}

double Distance(Pt a, Pt b) { return std::hypot(a.x - b.x, a.y - b.y); }

// The pieces follow the arc of the circle (cx, cy, r) from `start` through
// `sweep` (radians, negative clockwise) in `count` equal parts.
void ExpectArcPieces(const PdfPath& path, double cx, double cy, double r, double start, double sweep, int count)
{
    ASSERT_EQ(static_cast<int>(path.pieces.size()), count);
    const double step = sweep / count;
    // The control distance that makes the piece's middle lie on the circle.
    const double kappa = 4.0 / 3.0 * std::tan(std::fabs(step) / 4) * r;
    const double rounding = 0.01;  // two decimals
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE("piece " + std::to_string(i));
        const auto& p = path.pieces[static_cast<std::size_t>(i)];
        const double a = start + step * i, b = a + step;
        EXPECT_LE(Distance(p[0], {cx + r * std::cos(a), cy + r * std::sin(a)}), rounding);
        EXPECT_LE(Distance(p[3], {cx + r * std::cos(b), cy + r * std::sin(b)}), rounding);
        // Tangents in the direction of travel.
        const double turn = sweep > 0 ? 1 : -1;
        EXPECT_LE(Distance(p[1], {p[0].x - turn * kappa * std::sin(a), p[0].y + turn * kappa * std::cos(a)}),
                  2 * rounding);
        EXPECT_LE(Distance(p[2], {p[3].x + turn * kappa * std::sin(b), p[3].y - turn * kappa * std::cos(b)}),
                  2 * rounding);
        for (double t : {0.25, 0.5, 0.75}) {
            const Pt q = Bezier(p, t);
            EXPECT_NEAR(Distance(q, {cx, cy}), r, 3e-4 * r + rounding) << "t " << t;
        }
    }
}

TEST(PdfArcs, ArcPiecesFollowTheCircleInTheFewestPartsBelowAQuarterTurn)
{
    const struct {
        double start, end;
        int pieces;
    } cases[] = {{0, 45, 1}, {10, 99.99, 1}, {10, 100, 2}, {30, 300, 4}, {200, -20, 3}, {-90, -450, 5}, {0, 359, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " to " + std::to_string(c.end));
        CPDFStream stream;
        ASSERT_TRUE(stream.Arc(300, 200, 150, c.start, c.end, true));
        const PdfPath path = ReadPath(stream.GetData());
        EXPECT_EQ(path.operators.substr(0, 2), "m ");
        ExpectArcPieces(path, 300, 200, 150, c.start / 180 * PI, (c.end - c.start) / 180 * PI, c.pieces);
    }
    // Without the move the arc continues the path with a line to its start.
    CPDFStream stream;
    ASSERT_TRUE(stream.Arc(0, 0, 100, 90, 180, false));
    EXPECT_EQ(ReadPath(stream.GetData()).operators, "l c c ");
}

TEST(PdfArcs, ACircleIsFourQuartersWithTheFixedControlDistanceClosedAndStroked)
{
    CPDFStream stream;
    ASSERT_TRUE(stream.Circle(50, -20, 1000));
    const PdfPath path = ReadPath(stream.GetData());
    EXPECT_EQ(path.operators, "m c c c c s ");
    ASSERT_EQ(path.pieces.size(), 4u);
    EXPECT_LE(Distance(path.start, {1050, -20}), 0.01);
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& p = path.pieces[i];
        EXPECT_NEAR(Distance(p[0], p[1]), 552, 0.01);
        EXPECT_NEAR(Distance(p[3], p[2]), 552, 0.01);
        const double b = HALF_PI * static_cast<double>(i + 1);
        EXPECT_LE(Distance(p[3], {50 + 1000 * std::cos(b), -20 + 1000 * std::sin(b)}), 0.01);
        EXPECT_NEAR(Distance(Bezier(p, 0.5), {50, -20}), 1000, 0.5);
    }
}

// A polyline's bulge segments go onto the page along their own circle,
// turning the bulge's way.
TEST(PdfArcs, PolylineBulgesAreDrawnAlongTheirCircle)
{
    for (const double bulge : {1.0, -kQuarterBulge, 2.4142135623730949}) {
        SCOPED_TRACE(bulge);
        CPolyLine poly;
        auto* v = new CVertex(100, 0, 0, 0, 0);
        v->bulge = bulge;
        poly.AddVertex(v, true);
        poly.AddVertex(new CVertex(0, 100, 0, 0, 0), true);
        CPDFStream stream;
        stream.m_Scale = 2;
        stream.m_OriginX = 10;
        stream.m_OriginY = 20;
        ASSERT_TRUE(poly.WritePDF(&stream, false));
        const PdfPath path = ReadPath(stream.GetData());
        ASSERT_FALSE(path.pieces.empty());
        // The circle of the bulge through the chord's ends, on the page.
        const double half = std::hypot(100, 100) / 2, h = half * std::fabs(bulge);
        const double r = (half * half + h * h) / (2 * h);
        const double dir = std::atan2(100, -100) + (bulge > 0 ? HALF_PI : -HALF_PI);
        const double cx = 50 + (r - h) * std::cos(dir), cy = 50 + (r - h) * std::sin(dir);
        const Pt centre{2 * cx + 10, 2 * cy + 20};
        EXPECT_LE(Distance(path.start, {210, 20}), 0.01);
        EXPECT_LE(Distance(path.pieces.back()[3], {10, 220}), 0.01);
        double swept = 0;
        for (const auto& p : path.pieces) {
            for (double t : {0.0, 0.25, 0.5, 0.75, 1.0})
                EXPECT_NEAR(Distance(Bezier(p, t), centre), 2 * r, 6e-4 * r + 0.02);
            const double a0 = std::atan2(p[0].y - centre.y, p[0].x - centre.x);
            double d = std::atan2(p[3].y - centre.y, p[3].x - centre.x) - a0;
            while (d > PI)
                d -= TWO_PI;
            while (d < -PI)
                d += TWO_PI;
            swept += d;
        }
        EXPECT_NEAR(swept, 4 * std::atan(bulge), 1e-3);
    }
}

}  // namespace
