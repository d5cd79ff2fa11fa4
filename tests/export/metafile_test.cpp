// The metafile export: the GDI calls each entity makes, and whole files
// read back by an outside converter.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "export/export_format.h"
#include "export/vector_file.h"
#include "model/circle.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/solid.h"
#include "platform/dc.h"
#include "platform/metafile_dc.h"
#include "platform/number_text.h"

#include "export_test_support.h"

namespace {

using namespace export_test;

// Writes every call as one line of text; pens and brushes as what they are.
class RecordingDC : public CDC {
public:
    std::vector<std::string> calls;

    CPen* SelectObject(CPen* pen) override
    {
        calls.push_back(pen ? FormatC("pen %d %d %06X", pen->GetStyle(), pen->GetWidth(), pen->GetColor())
                            : "pen stock");
        return std::exchange(m_Pen, pen);
    }
    CBrush* SelectObject(CBrush* brush) override
    {
        calls.push_back(brush ? FormatC("brush %d %06X", brush->GetStyle(), brush->GetColor()) : "brush stock");
        return std::exchange(m_Brush, brush);
    }
    int SetROP2(int mode) override { return Note("rop", mode, m_Rop); }
    int GetROP2() const override { return m_Rop; }
    int SetPolyFillMode(int mode) override { return Note("fill", mode, m_Fill); }
    int GetPolyFillMode() const override { return m_Fill; }
    int SetBkMode(int mode) override { return std::exchange(m_BkMode, mode); }
    COLORREF SetBkColor(COLORREF color) override { return color; }
    int SetArcDirection(int direction) override
    {
        return Note(direction == AD_CLOCKWISE ? "clockwise" : "counter-clockwise", direction, m_Direction);
    }
    int GetArcDirection() const override { return m_Direction; }
    int SetStretchBltMode(int mode) override { return mode; }
    int SetMapMode(int mode) override { return mode; }
    int GetMapMode() const override { return MM_TEXT; }
    POINT SetWindowOrg(int, int) override { return {}; }
    POINT GetWindowOrg() const override { return {}; }
    SIZE SetWindowExt(int, int) override { return {1, 1}; }
    SIZE GetWindowExt() const override { return {1, 1}; }
    POINT SetViewportOrg(int, int) override { return {}; }
    SIZE SetViewportExt(int, int) override { return {1, 1}; }
    SIZE GetViewportExt() const override { return {1, 1}; }
    POINT MoveTo(int x, int y) override { return Point("move", x, y); }
    bool LineTo(int x, int y) override { return Point("line", x, y), true; }
    bool Polyline(const POINT* p, int n) override { return Points("polyline", p, n); }
    bool Polygon(const POINT* p, int n) override { return Points("polygon", p, n); }
    bool PolyPolygon(const POINT*, const int*, int) override { return Add("polypolygon"); }
    bool Rectangle(int l, int t, int r, int b) override { return Add(FormatC("rectangle %d %d %d %d", l, t, r, b)); }
    bool Ellipse(int l, int t, int r, int b) override { return Add(FormatC("ellipse %d %d %d %d", l, t, r, b)); }
    bool Arc(int l, int t, int r, int b, int x3, int y3, int x4, int y4) override
    {
        return Add(FormatC("arc %d %d %d %d  %d %d  %d %d", l, t, r, b, x3, y3, x4, y4));
    }
    bool ArcTo(int l, int t, int r, int b, int x3, int y3, int x4, int y4) override
    {
        return Add(FormatC("arcto %d %d %d %d  %d %d  %d %d", l, t, r, b, x3, y3, x4, y4));
    }
    COLORREF SetPixel(int, int, COLORREF color) override { return color; }
    void FillSolidRect(const RECT&, COLORREF) override { Add("fillrect"); }
    bool BeginPath() override { return Add("begin path"); }
    bool EndPath() override { return Add("end path"); }
    bool CloseFigure() override { return Add("close figure"); }
    bool FillPath() override { return Add("fill path"); }
    bool StrokePath() override { return Add("stroke path"); }
    bool StrokeAndFillPath() override { return Add("stroke and fill path"); }
    bool BitBlt(int, int, int, int, CDC*, int, int, DWORD) override { return Add("bitblt"); }
    bool StretchBlt(int, int, int, int, CDC*, int, int, int, int, DWORD) override { return Add("stretchblt"); }
    int StretchDIBits(int, int, int, int, int, int, int, int, const void*, const BITMAPINFO*, UINT, DWORD) override
    {
        return Add("stretchdibits"), 0;
    }

    // Every selection was put back and the arc direction restored.
    bool LeftAsFound() const { return m_Pen == nullptr && m_Brush == nullptr && m_Direction == AD_COUNTERCLOCKWISE; }

private:
    bool Add(std::string call)
    {
        calls.push_back(std::move(call));
        return true;
    }
    int Note(const char* name, int value, int& field)
    {
        calls.push_back(name);
        return std::exchange(field, value);
    }
    POINT Point(const char* name, int x, int y)
    {
        calls.push_back(FormatC("%s %d %d", name, x, y));
        return {};
    }
    bool Points(const char* name, const POINT* p, int n)
    {
        std::string call = name;
        for (int i = 0; i < n; ++i)
            call += FormatC(" %d,%d", p[i].x, p[i].y);
        return Add(call);
    }

    CPen* m_Pen = nullptr;
    CBrush* m_Brush = nullptr;
    int m_Rop = R2_COPYPEN, m_Fill = ALTERNATE, m_BkMode = OPAQUE, m_Direction = AD_COUNTERCLOCKWISE;
};

std::unique_ptr<CPolyLine> Chain(std::initializer_list<std::array<double, 4>> points, bool closed)
{
    auto poly = std::make_unique<CPolyLine>();
    for (const auto& p : points) {
        auto* v = new CVertex(p[0], p[1], p[3], p[3], 0);
        v->bulge = p[2];
        poly->AddVertex(v, true);
    }
    poly->m_Closed = closed;
    return poly;
}

class Metafile : public ExportTest {
protected:
    std::vector<std::string> Draw(CEntity* entity, double pageHeight, bool widths)
    {
        layer->AddEntity(entity);
        RecordingDC dc;
        entity->DrawToDC(&dc, pageHeight, widths);
        EXPECT_TRUE(dc.LeftAsFound());
        return dc.calls;
    }

    void SetUp() override
    {
        ExportTest::SetUp();
        layer->SetColor(7);
    }

    CGraph graph;
    CLayer* layer = graph.GetCurrentLayer();
};

using Calls = std::vector<std::string>;

TEST_F(Metafile, LinesAndSolidsRoundTheTurnedOverYAndDrawSevenBlack)
{
    auto* line = new CLine();
    line->SetStart(1.7, 2.2);
    line->SetEnd(30.2, 10.6);
    line->SetWidth(4);
    EXPECT_EQ(Draw(line, 50, true), (Calls{"pen 0 0 000000", "move 1 48", "line 30 39", "pen stock"}));

    auto* solid = new CSolid();
    (void)solid->AddPoint(0, 0), (void)solid->AddPoint(10, 0.4), (void)solid->AddPoint(5, 8);
    solid->m_Color = 1;
    EXPECT_EQ(Draw(solid, 50, false),
              (Calls{"pen 0 0 0000FF", "brush 0 0000FF", "polygon 0,50 10,50 5,42", "brush stock", "pen stock"}));
    auto* two = new CSolid();
    (void)two->AddPoint(0, 0), (void)two->AddPoint(1, 1);
    EXPECT_TRUE(Draw(two, 50, false).empty());
}

TEST_F(Metafile, CirclesAndArcsGiveTheirBoxAndRaysWithTheWidthWhenAsked)
{
    auto* circle = new CCircle();
    circle->m_Centre = frDoublePoint(20, 10);
    circle->m_Radius = 5;
    circle->SetWidth(2.7);
    circle->m_Color = 3;
    EXPECT_EQ(Draw(circle, 40, true),
              (Calls{"pen 0 2 00FF00", "brush 1 FFFFFF", "ellipse 15 25 25 35", "brush stock", "pen stock"}));
    // A quarter from 0 to 90 degrees: the first ray is the start, on the
    // right; the second the end, above the centre on the page (its x is
    // truncated from just below 20).
    auto* arc = new CArc();
    arc->m_Centre = frDoublePoint(20, 10);
    arc->m_Radius = 5;
    arc->SetStartAngle(0);
    arc->SetEndAngle(HALF_PI);
    arc->SetWidth(2.7);
    EXPECT_EQ(Draw(arc, 40, false), (Calls{"pen 0 0 000000", "counter-clockwise", "arc 15 25 25 35  25 30  19 25",
                                           "counter-clockwise", "pen stock"}));
}

TEST_F(Metafile, PolylineArcsGoCounterClockwiseFromTheirStartRay)
{
    // Half circles over the chord (0,0)-(10,0): the centre is the chord's
    // midpoint and r is the half chord; rays 2.5 r long. Positive (under
    // the chord): from the start ray; negative: the same arc from its end.
    CPolyLine* under = Chain({{{0, 0, 1, 0}}, {{10, 0, 0, 0}}}, false).release();
    EXPECT_EQ(Draw(under, 20, false)[2], "arc 0 15 10 25  -7 20  17 20");
    CPolyLine* over = Chain({{{0, 0, -1, 0}}, {{10, 0, 0, 0}}}, false).release();
    EXPECT_EQ(Draw(over, 20, false)[2], "arc 0 15 10 25  17 20  -7 20");
}

TEST_F(Metafile, PolylineSegmentsTakeTheirOwnWidthAndClosedOnesReturnToTheHead)
{
    CPolyLine* poly = Chain({{{0, 0, 0, 3.5}}, {{10, 0, 0, 0}}, {{10, 10, 0, 5}}}, true).release();
    poly->m_Width = 2;
    EXPECT_EQ(Draw(poly, 10, true),
              (Calls{"pen 0 2 000000", "counter-clockwise", "pen 0 3 000000", "move 0 10", "line 10 10", "move 10 10",
                     "line 10 0", "pen 0 5 000000", "move 10 0", "line 0 10", "counter-clockwise", "pen stock"}));
    CPolyLine* single = Chain({{{3, 3, 0, 0}}}, false).release();
    EXPECT_TRUE(Draw(single, 10, true).empty());
}

TEST_F(Metafile, PolygonSetsFillOnePathAndSetTheDirectionOfEachArc)
{
    auto* set = new CPolyPolygon();
    set->AddOutline(Chain({{{0, 0, 0, 0}}, {{10, 0, -1, 0}}, {{20, 0, 0, 0}}, {{20, 10, 0, 0}}}, true));
    set->AddOutline(Chain({{{14, 4, 0, 0}}, {{16, 4, 0, 0}}, {{16, 6, 0, 0}}}, true));
    set->m_Color = 5;
    EXPECT_EQ(Draw(set, 30, false), (Calls{"brush 0 FF0000", "begin path", "move 0 30", "line 10 30", "clockwise",
                                           "arcto 10 25 20 35  2 30  27 30", "counter-clockwise", "line 20 20",
                                           "line 0 30", "close figure", "move 14 26", "line 16 26", "line 16 24",
                                           "line 14 26", "close figure", "end path", "fill path", "brush stock"}));
}

TEST_F(Metafile, EveryKindConvertsToWellFormedSvgWithSevenBlackAndHiddenLayersLeftOut)
{
    std::string out;
    if (RunCommand("command -v emf2svg-conv", &out) != 0)
        GTEST_SKIP() << "emf2svg-conv missing";
    auto* line = new CLine();
    line->SetStart(0, 0);
    line->SetEnd(30, 10);
    layer->AddEntity(line);
    auto* solid = new CSolid();
    (void)solid->AddPoint(0, 20), (void)solid->AddPoint(10, 20), (void)solid->AddPoint(5, 28);
    solid->m_Color = 7;
    layer->AddEntity(solid);
    layer->AddEntity(Chain({{{0, 30, 0, 2}}, {{10, 30, 0.5, 2}}, {{20, 35, 0, 2}}}, false).release());
    auto* set = new CPolyPolygon();
    set->AddOutline(Chain({{{40, 0, 0, 0}}, {{60, 0, 0, 0}}, {{60, 20, 0, 0}}, {{40, 20, 0, 0}}}, true));
    set->AddOutline(Chain({{{45, 5, 0, 0}}, {{55, 5, 1, 0}}, {{55, 15, 0, 0}}, {{45, 15, 0, 0}}}, true));
    layer->AddEntity(set);
    auto* circle = new CCircle();
    circle->m_Centre = frDoublePoint(80, 10);
    circle->m_Radius = 8;
    layer->AddEntity(circle);
    auto* arc = new CArc();
    arc->m_Centre = frDoublePoint(100, 10);
    arc->m_Radius = 6;
    arc->SetEndAngle(PI * 1.5);
    layer->AddEntity(arc);
    CLayer* hidden = graph.SelectOrAddLayer("Hidden");
    hidden->SetVisible(false);
    auto* ghost = new CLine();
    ghost->SetEnd(5, 5);
    ghost->m_Color = 3;
    hidden->AddEntity(ghost);

    const fs::path emf = folder / "all.emf", svg = folder / "all.svg";
    std::string error;
    ASSERT_TRUE(SaveVectorFile(graph, emf, EXPORT_METAFILE, &error)) << error;
    const std::string bytes = Slurp(emf);
    ASSERT_GT(bytes.size(), 88u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x01\0\0\0", 4));  // the header record comes first
    EXPECT_EQ(bytes.substr(40, 4), " EMF");
    ASSERT_EQ(RunCommand("emf2svg-conv -i " + emf.string() + " -o " + svg.string(), &out), 0) << out;
    const std::string text = Slurp(svg);
    // The page is the drawing's box, 106 x 35 pixels, on a grid of 64 to
    // the pixel (its larger side at least 4096).
    EXPECT_NE(text.find("width=\"6784.0"), std::string::npos) << text;
    EXPECT_NE(text.find("height=\"2240.0"), std::string::npos) << text;
    EXPECT_EQ(text.find("#FFFFFF\""), std::string::npos) << text;
    EXPECT_EQ(text.find("#00FF00"), std::string::npos) << "the hidden layer was drawn";
    EXPECT_NE(text.find("fill=\"#000000\""), std::string::npos);
    // The converter draws paths by the winding rule, so the file is asked
    // directly: alternate (even-odd) filling is recorded.
    ASSERT_EQ(RunCommand("emf2svg-conv -v -i " + emf.string() + " -o " + svg.string(), &out), 0);
    const std::size_t fillMode = out.find("U_EMR_SETPOLYFILLMODE");
    ASSERT_NE(fillMode, std::string::npos);
    EXPECT_NE(out.find("iMode:          0x00000001", fillMode), std::string::npos);
    EXPECT_LT(fillMode, out.find("U_EMR_FILLPATH"));
    if (RunCommand("command -v xmllint", &out) == 0) {
        EXPECT_EQ(RunCommand("xmllint --noout " + svg.string(), &out), 0) << out;
    }
}

// The points of the moves and lines, as the converter's listing gives them.
std::vector<std::pair<long, long>> ConverterPoints(const std::string& listing)
{
    std::vector<std::pair<long, long>> points;
    for (std::size_t at = 0; (at = listing.find("ptl:", at)) != std::string::npos; ++at) {
        long x = 0, y = 0;
        if (std::sscanf(listing.c_str() + at + 4, " {%ld,%ld}", &x, &y) == 2)
            points.emplace_back(x, y);
    }
    return points;
}

// A drawing a few pixels wide far from the origin keeps its shape: the
// finer grid is given up before a point would pass the device's range.
TEST_F(Metafile, ASmallDrawingFarOutKeepsItsPoints)
{
    CGraph far;
    auto* line = new CLine();
    line->SetStart(1e6, 0);
    line->SetEnd(1e6 + 5, 3);
    far.GetCurrentLayer()->AddEntity(line);
    const fs::path emf = folder / "far.emf";
    std::string error, out;
    ASSERT_TRUE(SaveVectorFile(far, emf, EXPORT_METAFILE, &error)) << error;
    ASSERT_EQ(RunCommand("emf2svg-conv -v -i " + emf.string() + " -o " + (folder / "far.svg").string(), &out), 0);
    const std::vector<std::pair<long, long>> points = ConverterPoints(out);
    ASSERT_EQ(points.size(), 2u) << out;
    const double dx = static_cast<double>(points[1].first - points[0].first);
    const double dy = static_cast<double>(points[0].second - points[1].second);
    EXPECT_GE(dx, 5);
    EXPECT_NEAR(dy / dx, 0.6, 0.01);
}

// The frame of a page smaller than the fine grid is its box on that grid:
// a drawing 7.25 units wide at 0.25 keeps its place at the frame's left
// edge instead of sitting inside a frame of whole units.
TEST_F(Metafile, ASmallPageIsItsOwnBoxOnTheGrid)
{
    CGraph small;
    auto* line = new CLine();
    line->SetStart(0.25, 0.5);
    line->SetEnd(7.5, 3.25);
    small.GetCurrentLayer()->AddEntity(line);
    const fs::path emf = folder / "small.emf";
    std::string error, out;
    ASSERT_TRUE(SaveVectorFile(small, emf, EXPORT_METAFILE, &error)) << error;
    ASSERT_EQ(RunCommand("emf2svg-conv -v -i " + emf.string() + " -o " + (folder / "small.svg").string(), &out), 0);
    // 1024 grid steps to the unit: the larger side, 7.25, spans 4096 to 8191.
    EXPECT_NE(out.find("rclBounds:      {0,0,7424,2816}"), std::string::npos) << out;
    const std::vector<std::pair<long, long>> points = ConverterPoints(out);
    ASSERT_EQ(points.size(), 2u) << out;
    EXPECT_EQ(points[0], std::make_pair(0L, 2816L));
    EXPECT_EQ(points[1], std::make_pair(7424L, 0L));
}

// GDI draws the whole ellipse for an arc whose rays meet. Arcs whose rays
// fall on one device point (a 0.005 degree arc, one of no sweep, a nearly
// straight bulge of a polyline) or, cut to integers, point the same way from
// the box's centre (a 0.1 arc of radius 2) are their chords or nothing: the
// converter draws no curve but the four quarters of a full-turn arc, whose
// rays meet too. The page is 5000 pixels wide, one device unit each.
TEST_F(Metafile, ArcsShorterThanADeviceUnitDrawNoCircle)
{
    std::string out;
    if (RunCommand("command -v emf2svg-conv", &out) != 0)
        GTEST_SKIP() << "emf2svg-conv missing";
    auto* diagonal = new CLine();
    diagonal->SetEnd(5000, 2500);
    layer->AddEntity(diagonal);
    auto* tiny = new CArc();
    tiny->m_Centre = frDoublePoint(1000, 2000);
    tiny->m_Radius = 300;
    tiny->SetStartAngle(PI / 18);
    tiny->SetEndAngle(PI / 18 + 0.005 * PI / 180);
    layer->AddEntity(tiny);
    auto* none = new CArc();
    none->m_Centre = frDoublePoint(2500, 500);
    none->m_Radius = 300;
    none->SetStartAngle(PI * 10 / 9);
    none->SetEndAngle(PI * 10 / 9);
    layer->AddEntity(none);
    auto* small = new CArc();
    small->m_Centre = frDoublePoint(1564.776, 1436.599);
    small->m_Radius = 2;
    small->SetStartAngle(1.8404323819057307);
    small->SetEndAngle(1.9404323819057307);
    layer->AddEntity(small);
    auto* full = new CArc();
    full->m_Centre = frDoublePoint(4000.5, 600);
    full->m_Radius = 200;
    full->SetEndAngle(TWO_PI);
    layer->AddEntity(full);
    // Counter-clockwise over the top of a circle of radius 100 about
    // (3000.5, 1000.5), sweeping 0.001: its rays 2.5 radii out lie a
    // quarter unit either side of x = 3000.5.
    const double r = 100, half = 0.0005;
    layer->AddEntity(Chain({{{3000.5 + r * std::sin(half), 1000.5 + r * std::cos(half), std::tan(half / 2), 0}},
                            {{3000.5 - r * std::sin(half), 1000.5 + r * std::cos(half), 0, 0}}},
                           false)
                         .release());
    const fs::path emf = folder / "short.emf", svg = folder / "short.svg";
    std::string error;
    ASSERT_TRUE(SaveVectorFile(graph, emf, EXPORT_METAFILE, &error)) << error;
    ASSERT_EQ(RunCommand("emf2svg-conv -i " + emf.string() + " -o " + svg.string(), &out), 0) << out;
    const std::string text = Slurp(svg);
    int curves = 0;
    for (std::size_t at = 0; (at = text.find(" C ", at)) != std::string::npos; ++at)
        ++curves;
    EXPECT_EQ(curves, 4) << text;
    EXPECT_EQ(text.find("<ellipse"), std::string::npos) << text;
}

TEST_F(Metafile, FailedSavesNameTheFormatAndLeaveNothingBehind)
{
    auto* line = new CLine();
    line->SetEnd(10, 10);
    layer->AddEntity(line);
    // A folder in the way of the file: the rename fails at the very end.
    const fs::path blocked = folder / "plan.emf";
    fs::create_directory(blocked);
    std::string error;
    EXPECT_FALSE(SaveVectorFile(graph, blocked, EXPORT_METAFILE, &error));
    EXPECT_EQ(error.rfind("Saving the Enhanced Metafile failed!", 0), 0u) << error;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::is_directory(blocked));

    CMetafileDC dc;
    ASSERT_TRUE(dc.Create((folder / "missing" / "x.emf").string(), 10, 10));
    EXPECT_FALSE(dc.Create((folder / "second.emf").string(), 10, 10));  // one recording at a time
    EXPECT_TRUE(dc.LineTo(5, 5));
    EXPECT_FALSE(dc.Close());
    EXPECT_FALSE(dc.LineTo(5, 5));  // nothing is recording now
    EXPECT_FALSE(fs::exists(folder / "missing"));
    std::FILE* readOnly = std::fopen("/dev/null", "r");
    ASSERT_NE(readOnly, nullptr);
    ASSERT_TRUE(dc.Create(readOnly, 10, 10));
    EXPECT_FALSE(dc.Close());
    std::fclose(readOnly);
}

TEST_F(Metafile, TraceWritesAMetafileByExtensionAndByFormatName)
{
    std::string out;
    const std::string sample = std::string(LW_TEST_DATA_DIR) + "/../../samples/plate.tif";
    if (!fs::exists(sample))
        GTEST_SKIP() << "no sample scan";
    const fs::path byExtension = folder / "plate.emf", byName = folder / "plate.out";
    ASSERT_EQ(RunCommand(std::string(LW_CLI_PATH) + " trace " + sample + " -o " + byExtension.string(), &out), 0)
        << out;
    ASSERT_EQ(RunCommand(std::string(LW_CLI_PATH) + " trace " + sample + " --format emf -o " + byName.string(), &out),
              0)
        << out;
    EXPECT_EQ(Slurp(byExtension).substr(40, 4), " EMF");
    EXPECT_EQ(Slurp(byName), Slurp(byExtension));
}

}  // namespace
