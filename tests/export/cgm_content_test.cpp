// What the CGM holds, read back element by element: long polylines split
// into whole long-form elements, far and small drawings kept on the grid,
// arcs in every quadrant with their true centre, radius and directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "export/export_format.h"
#include "export/format_writers.h"
#include "model/circle.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/solid.h"

#include "cgm_decoder.h"
#include "export_test_support.h"

namespace {

using namespace export_test;

std::vector<CgmElement> Elements(const std::string& bytes)
{
    std::vector<CgmElement> elements;
    std::string why;
    EXPECT_TRUE(WalkCgm(bytes, &elements, &why)) << why;
    return elements;
}

TEST(CgmContent, ARunLongerThanOneElementSplitsIntoWholeLongElementsSharingTheirJoin)
{
    std::vector<frDoublePoint> points;
    for (int i = 0; i < 10000; ++i)
        points.emplace_back(i % 3000, i / 3000 * 7 + 0.4);
    const std::string bytes = Capture([&](std::FILE* f) {
        WriteCgmPolyline(points.data(), static_cast<int>(points.size()), f);
        return true;
    });
    const std::vector<CgmElement> elements = Elements(bytes);
    ASSERT_EQ(elements.size(), 2u);
    std::vector<CgmPoint> read;
    for (const CgmElement& e : elements) {
        EXPECT_EQ(e.cls, 4);
        EXPECT_EQ(e.id, 1);
        EXPECT_TRUE(e.longForm);
        EXPECT_EQ(e.partitions, 1) << "one partition: the length word's top bit is clear";
        ASSERT_EQ(e.params.size() % 4, 0u);
        for (std::size_t k = 0; k < e.params.size() / 2; k += 2)
            read.push_back(
                {static_cast<double>(CgmInt16(e.params, k)), static_cast<double>(CgmInt16(e.params, k + 1))});
    }
    // 8191 points fill the first element (its length word 32764); the
    // second starts again at the first one's last point.
    EXPECT_EQ(elements[0].params.size(), 8191u * 4);
    EXPECT_EQ(elements[1].params.size(), (10000u - 8190u) * 4);
    EXPECT_EQ(static_cast<unsigned char>(bytes[2]) << 8 | static_cast<unsigned char>(bytes[3]), 32764);
    ASSERT_EQ(read.size(), 10001u);
    for (std::size_t i = 0; i < read.size(); ++i) {
        const frDoublePoint& p = points[i < 8191 ? i : i - 1];
        ASSERT_EQ(read[i].x, std::floor(p.x + 0.5)) << i;
        ASSERT_EQ(read[i].y, std::floor(p.y + 0.5)) << i;
    }
}

TEST(CgmContent, AShortPolylineIsStillOneLongFormElement)
{
    const std::vector<frDoublePoint> points{{1, 2}, {3, 4}};
    const std::string bytes = Capture([&](std::FILE* f) {
        WriteCgmPolyline(points.data(), 2, f);
        return true;
    });
    EXPECT_EQ(bytes, std::string("\x40\x3F\x00\x08\x00\x01\x00\x02\x00\x03\x00\x04", 12));
}

// A bulge arc of a quarter turn in each quadrant, both ways round: the arc
// element's centre and radius are the circle's, and its start and end
// vectors run counter-clockwise over the arc's middle.
TEST(CgmContent, ArcsInEveryQuadrantKeepCentreRadiusAndDirection)
{
    const double cx = 5000, cy = 3000, r = 1000;
    for (int quadrant = 0; quadrant < 4; ++quadrant)
        for (const double bulge : {kQuarterBulge, -kQuarterBulge}) {
            SCOPED_TRACE(std::to_string(quadrant) + (bulge > 0 ? " ccw" : " cw"));
            const double a = HALF_PI * quadrant, b = a + HALF_PI;
            const double from = bulge > 0 ? a : b, to = bulge > 0 ? b : a;
            CPolyLine poly;
            auto* v = new CVertex(cx + r * std::cos(from), cy + r * std::sin(from), 0, 0, 0);
            v->bulge = bulge;
            poly.AddVertex(v, true);
            poly.AddVertex(new CVertex(cx + r * std::cos(to), cy + r * std::sin(to), 0, 0, 0), true);
            CgmPicture picture;
            ASSERT_TRUE(DecodeCgm(Capture([&](std::FILE* f) { return poly.WriteCGM(f); }), &picture));
            ASSERT_EQ(picture.shapes.size(), 1u) << "an arc and no empty polyline";
            const CgmShape& arc = picture.shapes[0];
            ASSERT_EQ(arc.kind, CgmShape::kArc);
            EXPECT_NEAR(arc.centre.x, cx, 1);
            EXPECT_NEAR(arc.centre.y, cy, 1);
            EXPECT_NEAR(arc.radius, r, 1);
            double sweep = arc.end - arc.start;
            while (sweep < 0)
                sweep += TWO_PI;
            EXPECT_NEAR(sweep, HALF_PI, 0.02);
            const double middle = arc.start + sweep / 2;
            EXPECT_NEAR(std::cos(middle), std::cos(a + HALF_PI / 2), 0.01);
            EXPECT_NEAR(std::sin(middle), std::sin(a + HALF_PI / 2), 0.01);
        }
    CArc arc;
    arc.m_Centre = frDoublePoint(-200, 300);
    arc.m_Radius = 150;
    arc.SetStartAngle(PI * 0.75);
    arc.SetEndAngle(PI * 1.6);
    CgmPicture picture;
    ASSERT_TRUE(DecodeCgm(Capture([&](std::FILE* f) { return arc.WriteCGM(f); }), &picture));
    ASSERT_EQ(picture.shapes.size(), 1u);
    EXPECT_NEAR(picture.shapes[0].centre.x, -200, 0.5);
    EXPECT_NEAR(picture.shapes[0].centre.y, 300, 0.5);
    EXPECT_NEAR(picture.shapes[0].radius, 150, 0.5);
    EXPECT_NEAR(picture.shapes[0].start, PI * 0.75, 0.01);
    EXPECT_NEAR(picture.shapes[0].end, PI * 1.6 - TWO_PI, 0.01);
}

// What a reader turns through on the decoded arcs: each counter-clockwise
// from its start vector to its end vector, which must differ.
double TotalArcSweep(const CgmPicture& picture)
{
    double total = 0;
    for (const CgmShape& s : picture.shapes) {
        if (s.kind != CgmShape::kArc)
            continue;
        EXPECT_NE(s.start, s.end) << "start and end vectors meet: the arc is undefined";
        double sweep = s.end - s.start;
        while (sweep <= 0)
            sweep += TWO_PI;
        total += sweep;
    }
    return total;
}

// Arcs whose vectors, cut to integers, would meet or pass each other: a
// nearly flat bulge (sweep 0.004, radius 25000) is its chord; a bulge that
// nearly closes and a full-turn arc keep their turn in arcs whose vectors
// differ; an arc of no sweep and one of 0.005 degrees leave nothing.
TEST(CgmContent, ArcsTooShortForTheirVectorsAreChordsAndNearlyClosedOnesKeepTheirTurn)
{
    auto decode = [](CEntity& entity) {
        CgmPicture picture;
        EXPECT_TRUE(DecodeCgm(Capture([&](std::FILE* f) { return entity.WriteCGM(f); }), &picture));
        return picture;
    };
    std::unique_ptr<CPolyLine> flat = Chain({{{1000, 1000, 0.001}}, {{1100, 1000, 0}}}, false, 0);
    CgmPicture picture = decode(*flat);
    ASSERT_EQ(picture.shapes.size(), 1u);
    ASSERT_EQ(picture.shapes[0].kind, CgmShape::kPolyline);
    ASSERT_EQ(picture.shapes[0].points.size(), 2u);
    EXPECT_EQ(picture.shapes[0].points[0].x, 1000);
    EXPECT_EQ(picture.shapes[0].points[1].x, 1100);

    // Sweep 2 pi - 0.004 on a circle of radius 100, either way round.
    for (const double bulge : {1000.0, -1000.0}) {
        std::unique_ptr<CPolyLine> closing = Chain({{{500, 500, bulge}}, {{500.4, 500, 0}}}, false, 0);
        EXPECT_NEAR(TotalArcSweep(decode(*closing)), TWO_PI - 0.004, 0.02) << bulge;
    }

    // A full turn, also of a circle too small for its own vectors.
    for (const double radius : {50.0, 0.2}) {
        CArc full;
        full.m_Centre = frDoublePoint(300, 300);
        full.m_Radius = radius;
        full.SetStartAngle(0);
        full.SetEndAngle(TWO_PI);
        EXPECT_NEAR(TotalArcSweep(decode(full)), TWO_PI, 0.02) << radius;
    }
    // No sweep and 0.005 degrees; no sweep on a circle whose centre lies
    // beyond the coordinate range (written by its points).
    const std::array<double, 3> tiny[] = {{300, 20, 0}, {300, 20, 0.005 * PI / 180}, {-39000, 40000, 0}};
    for (const auto& [cx, radius, sweep] : tiny) {
        CArc arc;
        arc.m_Centre = frDoublePoint(cx, 300);
        arc.m_Radius = radius;
        arc.SetStartAngle(0);
        arc.SetEndAngle(sweep);
        EXPECT_TRUE(decode(arc).shapes.empty()) << radius << " " << sweep;
    }
}

class CgmFile : public ExportTest {
protected:
    CgmPicture Write() { return Write(graph); }
    static CgmPicture Write(const CGraph& graph)
    {
        CgmPicture picture;
        std::string error, why;
        const std::string bytes = Capture([&](std::FILE* f) { return WriteCGMFile(graph, f, &error); });
        EXPECT_TRUE(DecodeCgm(bytes, &picture, &why)) << why;
        const std::vector<CgmElement> elements = Elements(bytes);
        EXPECT_TRUE(!elements.empty() && elements.back().cls == 0 && elements.back().id == 2) << "END METAFILE last";
        return picture;
    }
    CGraph graph;
};

// A coordinate past the 16-bit range keeps its place in the picture: the
// page goes onto a coarser grid instead of being clamped or wrapped.
TEST_F(CgmFile, FarCoordinatesKeepTheirPlaceOnThePage)
{
    auto* line = new CLine();
    line->SetStart(0, 0);
    line->SetEnd(70000.4, 30000);
    graph.GetCurrentLayer()->AddEntity(line);
    const CgmPicture picture = Write();
    ASSERT_EQ(picture.shapes.size(), 1u);
    const std::vector<CgmPoint>& p = picture.shapes[0].points;
    ASSERT_EQ(p.size(), 2u);
    const int* e = picture.extent;
    EXPECT_GE(e[2] - e[0], 16384) << "a fine grid";
    EXPECT_NEAR(p[0].x, e[0], 1);
    EXPECT_NEAR(p[0].y, e[1], 1);
    EXPECT_NEAR(p[1].x, e[2], 1);
    EXPECT_NEAR(p[1].y, e[3], 1);
    EXPECT_NEAR((p[1].y - p[0].y) / (p[1].x - p[0].x), 30000 / 70000.4, 1e-3);
}

// A drawing a few units wide (inches) keeps its curves: the circle of
// radius 0.1 is not rounded away.
TEST_F(CgmFile, ASmallDrawingKeepsItsShapeOnAFinerGrid)
{
    auto* circle = new CCircle();
    circle->m_Centre = frDoublePoint(1, 1);
    circle->m_Radius = 0.1;
    graph.GetCurrentLayer()->AddEntity(circle);
    auto* line = new CLine();
    line->SetStart(0.5, 0.5);
    line->SetEnd(7.5, 5.5);
    graph.GetCurrentLayer()->AddEntity(line);
    const CgmPicture picture = Write();
    ASSERT_EQ(picture.shapes.size(), 2u);
    const CgmShape& c = picture.shapes[0];
    const std::vector<CgmPoint>& p = picture.shapes[1].points;
    ASSERT_EQ(c.kind, CgmShape::kCircle);
    ASSERT_EQ(p.size(), 2u);
    const double scale = (p[1].x - p[0].x) / 7.0;
    EXPECT_GE(scale * 7.0, 16384);
    EXPECT_NEAR(c.radius / scale, 0.1, 1e-3);
    EXPECT_NEAR((c.centre.x - p[0].x) / scale, 0.5, 1e-3);
    EXPECT_NEAR((c.centre.y - p[0].y) / scale, 0.5, 1e-3);
    EXPECT_NEAR((p[1].y - p[0].y) / scale, 5.0, 1e-3);
}

// A drawing under a unit wide lies about its own centre on the grid, not
// about the nearest whole unit, which would push it half a unit (many
// thousand grid steps) aside and past the coordinate range.
TEST_F(CgmFile, ADrawingUnderAUnitWideStaysWithinTheRange)
{
    auto* line = new CLine();
    line->SetStart(0.37, 0);
    line->SetEnd(0.63, 0.1);
    graph.GetCurrentLayer()->AddEntity(line);
    const CgmPicture picture = Write();
    ASSERT_EQ(picture.shapes.size(), 1u);
    const std::vector<CgmPoint>& p = picture.shapes[0].points;
    ASSERT_EQ(p.size(), 2u);
    // 65536 steps to the unit, about the centre (0.5, 0.05).
    EXPECT_EQ(p[0].x, -8520);
    EXPECT_EQ(p[1].x, 8520);
    EXPECT_NEAR((p[1].y - p[0].y) / (p[1].x - p[0].x), 0.1 / 0.26, 1e-3);
    EXPECT_EQ(picture.extent[0], -8520);
    EXPECT_EQ(picture.extent[2], 8520);
}

// A flat arc whose centre or radius lies beyond the coordinate range, as a
// CAD file's nearly straight arcs do, is written by three points on it: its
// decoded circle is the true one, not one about a clamped centre or of a
// clamped radius. The same arc as a polyline's bulge segment goes the same
// way. Each arc spans 10 units and rises `h`: 2048 steps to the unit.
TEST_F(CgmFile, AnArcWhoseCentreOrRadiusIsOutOfRangeKeepsItsCircle)
{
    const double scale = 2048;
    // h 0.2: the centre is far out; h 0.8: the centre fits, the radius
    // (16.025 units) does not.
    for (const double h : {0.2, 0.8}) {
        SCOPED_TRACE(h);
        const double r = (25 + h * h) / (2 * h), chordY = 0, cy = chordY + h - r, originY = chordY + h / 2;
        CGraph single, bulged;
        auto* arc = new CArc();
        arc->m_Centre = frDoublePoint(5, cy);
        arc->m_Radius = r;
        arc->SetStartAngle(std::atan2(chordY - cy, 5.0));
        arc->SetEndAngle(std::atan2(chordY - cy, -5.0));
        single.GetCurrentLayer()->AddEntity(arc);
        // Counter-clockwise from (10, 0) to (0, 0) over the top.
        bulged.GetCurrentLayer()->AddEntity(Chain({{{10, chordY, h / 5}}, {{0, chordY, 0}}}, false, 0).release());
        for (const CGraph* graph : {&single, &bulged}) {
            const CgmPicture picture = Write(*graph);
            ASSERT_EQ(picture.shapes.size(), 1u);
            const CgmShape& s = picture.shapes[0];
            ASSERT_EQ(s.kind, CgmShape::kArc);
            EXPECT_NEAR(s.radius / scale, r, 0.1);
            EXPECT_NEAR(s.centre.x / scale, 0, 0.01);
            EXPECT_NEAR(s.centre.y + s.radius, (chordY + h - originY) * scale, 1.5);
            EXPECT_NEAR(std::cos(s.start), 5 / r, 1e-3);
            EXPECT_NEAR(std::cos(s.end), -5 / r, 1e-3);
        }
    }
}

// Filled shapes lie on the grid of the lines: a solid and a polygon set
// whose corners are the ends of a line (a page of 12 x 5 units, drawn 2048
// steps to the unit about its centre).
TEST_F(CgmFile, FilledShapesShareTheGridOfTheLines)
{
    auto* line = new CLine();
    line->SetStart(0, 0);
    line->SetEnd(12, 5);
    graph.GetCurrentLayer()->AddEntity(line);
    auto* solid = new CSolid();
    (void)solid->AddPoint(0, 0), (void)solid->AddPoint(12, 0), (void)solid->AddPoint(12, 5);
    graph.GetCurrentLayer()->AddEntity(solid);
    auto* set = new CPolyPolygon();
    ASSERT_TRUE(set->AddOutline(Chain({{{0, 0, 0}}, {{12, 5, 0}}, {{0, 5, 0}}}, true, 0)));
    graph.GetCurrentLayer()->AddEntity(set);
    const CgmPicture picture = Write();
    ASSERT_EQ(picture.shapes.size(), 3u);
    const std::vector<CgmPoint>& ends = picture.shapes[0].points;
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[1].x - ends[0].x, 12 * 2048);
    for (const std::size_t k : {1u, 2u}) {
        const CgmShape& shape = picture.shapes[k];
        ASSERT_EQ(shape.points.size(), 3u) << k;
        EXPECT_TRUE(shape.filled) << k;
        double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
        for (const CgmPoint& p : shape.points)
            x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
        EXPECT_EQ(x0, ends[0].x) << k;
        EXPECT_EQ(y0, ends[0].y) << k;
        EXPECT_EQ(x1, ends[1].x) << k;
        EXPECT_EQ(y1, ends[1].y) << k;
    }
}

// A page whose larger side is 16384 pixels keeps them; one a pixel smaller
// goes onto the grid of two to the pixel about its centre.
TEST_F(CgmFile, ThePageKeepsItsPixelsFromTheFineSideOn)
{
    auto* line = new CLine();
    line->SetEnd(16384, 100);
    graph.GetCurrentLayer()->AddEntity(line);
    CgmPicture picture = Write();
    EXPECT_EQ(picture.extent[0], 0);
    EXPECT_EQ(picture.extent[2], 16384);
    CGraph smaller;
    auto* shorter = new CLine();
    shorter->SetEnd(16383, 100);
    smaller.GetCurrentLayer()->AddEntity(shorter);
    picture = Write(smaller);
    EXPECT_EQ(picture.extent[0], -16383);
    EXPECT_EQ(picture.extent[2], 16383);
    EXPECT_EQ(picture.extent[1], -100);
    EXPECT_EQ(picture.extent[3], 100);
}

// A page that fits the 16-bit range on a fine enough grid keeps its pixels.
TEST_F(CgmFile, ALargeScanKeepsItsPixels)
{
    auto* line = new CLine();
    line->SetStart(10, 20);
    line->SetEnd(20000.4, 30000);
    graph.GetCurrentLayer()->AddEntity(line);
    const CgmPicture picture = Write();
    ASSERT_EQ(picture.shapes.size(), 1u);
    EXPECT_EQ(picture.extent[0], 10);
    EXPECT_EQ(picture.extent[3], 30000);
    EXPECT_EQ(picture.shapes[0].points[1].x, 20000);
}

}  // namespace
