#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <memory>
#include <string>
#include <vector>

#include "export/pdf_stream.h"
#include "model/output_records.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "raster/raster_entity.h"

namespace {

struct Pt {
    double x, y, bulge = 0, width = 0;
};

// A drawing whose current layer "Trace" receives the polylines.
class PolylineOutput : public ::testing::Test {
protected:
    CPolyLine* Add(const std::vector<Pt>& points, bool closed = false)
    {
        auto* poly = new CPolyLine();
        for (const Pt& p : points) {
            auto* v = new CVertex(p.x, p.y, p.width, p.width, 0);
            v->bulge = p.bulge;
            poly->AddVertex(v, true);
        }
        poly->m_Closed = closed;
        graph.GetCurrentLayer()->AddEntity(poly);
        return poly;
    }

    // Runs a writer on a memory stream and returns what it wrote.
    template <typename Write>
    static std::string Capture(Write write, bool* result = nullptr)
    {
        char* data = nullptr;
        std::size_t size = 0;
        std::FILE* file = open_memstream(&data, &size);
        const bool ok = write(file);
        std::fclose(file);
        std::string text(data, size);
        std::free(data);
        if (result)
            *result = ok;
        return text;
    }

    CGraph graph;
};

constexpr double kQuarterBulge = 0.41421356237309503;  // tan(22.5 degrees)

TEST_F(PolylineOutput, Dxf2000ClosedTriangleHasCountFlagAndNoBulges)
{
    CPolyLine* poly = Add({{0, 0}, {10, 0}, {10, 5}}, true);
    poly->m_Id = 0x2A;
    const std::string text = Capture([&](std::FILE* f) { return poly->WriteDXF2000(f, false); });
    EXPECT_EQ(text.rfind("  0\nLWPOLYLINE\n  5\n2A\n", 0), 0u) << text;
    EXPECT_NE(text.find("  8\nTrace\n100\nAcDbPolyline\n  90\n  3\n  70\n1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  10\n10.000000\n  20\n5.000000\n"), std::string::npos);
    EXPECT_EQ(text.find("  42\n"), std::string::npos);
    EXPECT_EQ(text.find("  40\n"), std::string::npos);
}

TEST_F(PolylineOutput, DxfWritesWidthsAndBulgesOnlyWhenPresentOrAsked)
{
    CPolyLine* poly = Add({{0, 0, kQuarterBulge, 2}, {10, 0, 0, 3}});
    const std::string text = Capture([&](std::FILE* f) { return poly->WriteDXF2000(f, true); });
    EXPECT_NE(text.find("  10\n0.000000\n  20\n0.000000\n  40\n2.000000\n  41\n2.000000\n  42\n0.414214\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  40\n3.000000\n  41\n3.000000\n"), std::string::npos);

    const std::string r10 = Capture([&](std::FILE* f) { return poly->WriteDXFR10(f, false); });
    EXPECT_EQ(r10.rfind("  0\nPOLYLINE\n  8\nTrace\n  66\n  1\n  70\n0\n", 0), 0u) << r10;
    EXPECT_NE(r10.find("  0\nVERTEX\n  8\nTrace\n  10\n10.000000\n  20\n0.000000\n  30\n0.0\n"), std::string::npos);
    EXPECT_NE(r10.find("  42\n0.414214\n"), std::string::npos);
    EXPECT_EQ(r10.substr(r10.size() - 11), "  0\nSEQEND\n");
}

TEST_F(PolylineOutput, NumbersIgnoreTheProcessLocale)
{
    locale_t comma = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    if (comma == static_cast<locale_t>(nullptr))
        GTEST_SKIP() << "no de_DE.UTF-8 locale";
    CPolyLine* poly = Add({{0.5, 0}, {10, 0}});
    locale_t previous = uselocale(comma);
    const std::string dxf = Capture([&](std::FILE* f) { return poly->WriteDXF2000(f, false); });
    const std::string svg = Capture([&](std::FILE* f) { return poly->WriteSVG(f, 10, false); });
    uselocale(previous);
    freelocale(comma);
    EXPECT_NE(dxf.find("0.500000"), std::string::npos) << dxf;
    EXPECT_NE(svg.find("M 0.500,10.000"), std::string::npos) << svg;
}

TEST_F(PolylineOutput, ShortPolylinesWriteNothing)
{
    CPolyLine* poly = Add({{1, 1}});
    bool ok = false;
    EXPECT_EQ(Capture([&](std::FILE* f) { return poly->WriteDXF2000(f, true); }, &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Capture([&](std::FILE* f) { return poly->WriteSVG(f, 5, true); }), "");
    EXPECT_EQ(Capture([&](std::FILE* f) { return poly->WriteCGM(f); }), "");
    EXPECT_EQ(Capture([&](std::FILE* f) { return poly->WriteEPS(f, true); }), "");
}

TEST_F(PolylineOutput, SvgQuarterCircleCounterClockwiseUsesSmallArcAndSweepZero)
{
    // (0,0) -> (10,0) straight, then a counter-clockwise quarter to (20,10).
    CPolyLine* poly = Add({{0, 0}, {10, 0, kQuarterBulge}, {20, 10}});
    poly->m_Color = 7;
    const std::string text = Capture([&](std::FILE* f) { return poly->WriteSVG(f, 100, false); });
    EXPECT_EQ(text, "<path d=\"M 0.000,100.000 L 10.000,100.000 A 10.000,10.000 0 0,0 20.000,90.000\"\n"
                    "fill=\"none\" stroke=\"rgb(0,0,0)\" stroke-width=\"0.01\" />\n");
    poly->GetHead()->next->bulge = -1.0 / kQuarterBulge;  // clockwise three-quarter turn
    const std::string big = Capture([&](std::FILE* f) { return poly->WriteSVG(f, 100, false); });
    EXPECT_NE(big.find(" 0 1,1 20.000,90.000"), std::string::npos) << big;
}

TEST_F(PolylineOutput, SvgStartsANewPathWhereTheWidthChanges)
{
    CPolyLine* four = Add({{0, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, 0, 3}, {3, 0, 0, 3}});
    four->m_Color = 7;
    const std::string text = Capture([&](std::FILE* f) { return four->WriteSVG(f, 0, true); });
    EXPECT_EQ(text, "<path d=\"M 0.000,0.000 L 1.000,0.000 L 2.000,0.000\"\n"
                    "fill=\"none\" stroke=\"rgb(0,0,0)\" stroke-width=\"1.000\" />\n"
                    "<path d=\"M 2.000,0.000 L 3.000,0.000\"\n"
                    "fill=\"none\" stroke=\"rgb(0,0,0)\" stroke-width=\"3.000\" />\n");

    CPolyLine* three = Add({{0, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, 0, 3}});
    three->m_Color = 7;
    const std::string one = Capture([&](std::FILE* f) { return three->WriteSVG(f, 0, true); });
    EXPECT_EQ(one, "<path d=\"M 0.000,0.000 L 1.000,0.000 L 2.000,0.000\"\n"
                   "fill=\"none\" stroke=\"rgb(0,0,0)\" stroke-width=\"1.000\" />\n");
}

TEST_F(PolylineOutput, SvgClosedPolylineReturnsToItsHead)
{
    CPolyLine* poly = Add({{0, 0}, {4, 0}, {4, 4}}, true);
    const std::string text = Capture([&](std::FILE* f) { return poly->WriteSVG(f, 4, false); });
    EXPECT_NE(text.find("L 4.000,0.000 L 0.000,4.000\""), std::string::npos) << text;
}

TEST_F(PolylineOutput, PointsAndWidthsAreConvertedToTheDrawingUnit)
{
    ASSERT_TRUE(graph.GetRaster()->GetImage().Create(10, 10, 8));
    ASSERT_TRUE(graph.GetRaster()->GetImage().SetResolution(10000));  // 10 pixels per mm
    ASSERT_TRUE(graph.SetUnit(UNIT_MM));
    CPolyLine* poly = Add({{10, 20, 0, 5}, {30, 40, 0, 5}});
    const std::string dxf = Capture([&](std::FILE* f) { return poly->WriteDXF2000(f, true); });
    EXPECT_NE(dxf.find("  10\n1.000000\n  20\n2.000000\n  40\n0.500000\n"), std::string::npos) << dxf;
    const std::string svg = Capture([&](std::FILE* f) { return poly->WriteSVG(f, 40, true); });
    EXPECT_NE(svg.find("M 1.000,2.000 L 3.000,0.000"), std::string::npos) << svg;
    EXPECT_NE(svg.find("stroke-width=\"0.500\""), std::string::npos);
}

// ---- CGM --------------------------------------------------------------------

std::vector<unsigned> Words(const std::string& bytes)
{
    std::vector<unsigned> words;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        words.push_back((static_cast<unsigned char>(bytes[i]) << 8) | static_cast<unsigned char>(bytes[i + 1]));
    return words;
}

TEST_F(PolylineOutput, CgmWritesColoursThenOnePolylineElement)
{
    CPolyLine* poly = Add({{0, 0}, {10.4, 0}, {10.6, -3.2}});
    poly->m_Color = 1;  // red
    const std::vector<unsigned> w = Words(Capture([&](std::FILE* f) { return poly->WriteCGM(f); }));
    ASSERT_EQ(w.size(), 9u + 2 + 6);
    EXPECT_EQ(w[0], 0x53A3u);
    EXPECT_EQ(w[1], 0xFF00u);  // red, green
    EXPECT_EQ(w[2], 0x0000u);  // blue, pad
    EXPECT_EQ(w[3], 0x52E3u);
    EXPECT_EQ(w[6], 0x5083u);
    EXPECT_EQ(w[9], 0x403Fu);
    EXPECT_EQ(w[10], 12u);
    EXPECT_EQ((std::vector<unsigned>(w.begin() + 11, w.end())),
              (std::vector<unsigned>{0, 0, 10, 0, 11, 0xFFFD}));  // -2.7 rounds to -3
}

TEST_F(PolylineOutput, CgmArcFirstWritesNoEmptyPolyline)
{
    CPolyLine* poly = Add({{10, 0, kQuarterBulge}, {0, 10}, {-10, 10}});
    const std::vector<unsigned> w = Words(Capture([&](std::FILE* f) { return poly->WriteCGM(f); }));
    ASSERT_GE(w.size(), 9u + 8);
    EXPECT_EQ(w[9], 0x41EEu);
    EXPECT_EQ((std::vector<unsigned>(w.begin() + 10, w.begin() + 17)),
              (std::vector<unsigned>{0, 0, 100, 0, 0, 100, 10}));
    EXPECT_EQ((std::vector<unsigned>(w.begin() + 17, w.end())),
              (std::vector<unsigned>{0x403F, 8, 0, 10, 0xFFF6, 10}));  // nearest, not toward zero

    // The same quarter run clockwise, from (0,10) back to (10,0): CGM arcs
    // turn counter-clockwise, so the vectors come the other way round.
    CPolyLine* back = Add({{0, 10, -kQuarterBulge}, {10, 0}});
    const std::vector<unsigned> c = Words(Capture([&](std::FILE* f) { return back->WriteCGM(f); }));
    ASSERT_GE(c.size(), 9u + 8);
    EXPECT_EQ(c[9], 0x41EEu);
    EXPECT_EQ((std::vector<unsigned>(c.begin() + 10, c.begin() + 17)),
              (std::vector<unsigned>{0, 0, 100, 0, 0, 100, 10}));
}

TEST_F(PolylineOutput, CgmSplitsRunsLongerThanOneElement)
{
    std::vector<frDoublePoint> points;
    for (int i = 0; i < CGM_MAX_POLYLINE_POINTS + 10; ++i)
        points.emplace_back(i, 0);
    const std::vector<unsigned> w = Words(Capture([&](std::FILE* f) {
        WriteCgmPolyline(points.data(), static_cast<int>(points.size()), f);
        return true;
    }));
    const std::size_t second = 2 + 2 * CGM_MAX_POLYLINE_POINTS;
    ASSERT_EQ(w.size(), second + 2 + 2 * 11);
    EXPECT_EQ(w[1], 4u * CGM_MAX_POLYLINE_POINTS);
    EXPECT_EQ(w[second], 0x403Fu);
    EXPECT_EQ(w[second + 1], 44u);
    EXPECT_EQ(w[second + 2], static_cast<unsigned>(CGM_MAX_POLYLINE_POINTS - 1));  // continues the run
}

// ---- HP-GL, EPS, PDF --------------------------------------------------------

TEST_F(PolylineOutput, HpglClockwiseQuarterHasNegativeSweep)
{
    CPolyLine* poly = Add({{0, 10, -kQuarterBulge}, {10, 0}});
    const std::string text = Capture([&](std::FILE* f) { return poly->WriteHPGL(f); });
    double cx = 1, cy = 1, sweep = 0;
    ASSERT_EQ(
        std::sscanf(text.c_str(), "PU0.000000,100.000000;PD0.000000,100.000000;AA %lf,%lf,%lf;", &cx, &cy, &sweep), 3)
        << text;
    EXPECT_NEAR(cx, 0, 1e-4);
    EXPECT_NEAR(cy, 0, 1e-4);
    EXPECT_NEAR(sweep, -90, 1e-4);
    EXPECT_EQ(text.substr(text.find(";PA")), ";PA100.000000,0.000000;");
}

// A width from 0.01 up is kept; a thinner one is the page's hairline (on its
// own a record sees the default page's, 0.01).
TEST_F(PolylineOutput, EpsStrokesEachSegmentWithItsWidthOrThePageHairline)
{
    CPolyLine* poly = Add({{0, 0, 0, 0.01}, {10, 0, kQuarterBulge, 2}, {20, 10, 0, 0.0099}, {30, 10}}, false);
    poly->m_Color = 1;
    const std::string text = Capture([&](std::FILE* f) { return poly->WriteEPS(f, true); });
    const std::string arcLine = "newpath\n10.000000 10.000000 10.000000 ";
    const std::size_t arc = text.find(arcLine);
    ASSERT_NE(arc, std::string::npos) << text;
    EXPECT_EQ(text.substr(0, arc), "1.000000 0.000000 0.000000 setrgbcolor\n"
                                   "newpath\n0.000000 0.000000 moveto\n10.000000 0.000000 lineto\n"
                                   "0.010000 setlinewidth\nstroke\n");
    double a = 0, b = 0, w = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + arc + arcLine.size(), "%lf %lf arc\n%lf setlinewidth\nstroke\n", &a, &b, &w),
              3);
    EXPECT_NEAR(a, 270, 1e-4);
    EXPECT_NEAR(b, 360, 1e-4);
    EXPECT_EQ(w, 2.0);
    COutputPage page;
    page.hairline = 0.004;
    const COutputPageScope scope(page);
    const std::string paged = Capture([&](std::FILE* f) { return poly->WriteEPS(f, true); });
    EXPECT_NE(paged.find("30.000000 10.000000 lineto\n0.004000 setlinewidth\n"), std::string::npos) << paged;
    EXPECT_NE(paged.find("10.000000 0.000000 lineto\n0.010000 setlinewidth\n"), std::string::npos) << paged;
    const std::string bare = Capture([&](std::FILE* f) { return poly->WriteEPS(f, false); });
    EXPECT_NE(bare.find("30.000000 10.000000 lineto\n0.004000 setlinewidth\n"), std::string::npos) << bare;
    EXPECT_EQ(bare.find("0.010000 setlinewidth"), std::string::npos) << bare;
}

TEST_F(PolylineOutput, PdfMapsThePathAndBreaksItWhereTheWidthChanges)
{
    CPolyLine* poly = Add({{0, 0, 0, 1}, {10, 0, 0, 1}, {10, 10, 0, 2}, {0, 10, 0, 2}});
    poly->m_Color = 7;
    CPDFStream stream;
    stream.m_Scale = 2;
    stream.m_OriginX = 5;
    stream.m_OriginY = 1;
    EXPECT_TRUE(poly->WritePDF(&stream, true));
    EXPECT_EQ(stream.GetData(), "0 G 2 w 5 1 m 25 1 l 25 21 l S 4 w 25 21 m 5 21 l S ");
}

TEST(PdfStream, NumbersAreStrippedAndRepeatedStatesSuppressed)
{
    EXPECT_EQ(FormatPdfNumber(1.5, 2), "1.5");
    EXPECT_EQ(FormatPdfNumber(2.0, 2), "2");
    EXPECT_EQ(FormatPdfNumber(-0.001, 2), "0");
    EXPECT_EQ(FormatPdfNumber(0.12345, 3), "0.123");
    CPDFStream stream;
    stream.SetStrokeRGB(1, 0.5, 0);
    stream.SetStrokeRGB(1, 0.5004, 0);
    stream.SetStrokeGray(0.25, false);
    stream.AppendText(" ");
    stream.SetFillGray(0.25);
    stream.SetLineWidth(0.5);
    stream.SetLineWidth(0.5001);
    stream.LineTo(1, 2, false);
    EXPECT_EQ(stream.GetData(), "1 0.5 0 RG 0.25 G 0.25 g 0.5 w 1 2 l");
}

TEST(PdfStream, ArcsSplitIntoPiecesBelowAQuarterTurn)
{
    auto pieces = [](double start, double end) {
        CPDFStream stream;
        stream.Arc(0, 0, 10, start, end, true);
        const std::string& d = stream.GetData();
        int count = 0;
        for (std::size_t at = d.find(" c "); at != std::string::npos; at = d.find(" c ", at + 1))
            ++count;
        return std::make_pair(count, d);
    };
    EXPECT_EQ(pieces(0, 89).first, 1);
    EXPECT_EQ(pieces(0, 90).first, 2);
    EXPECT_EQ(pieces(0, 270).first, 4);
    const auto [count, text] = pieces(90, 0);  // clockwise quarter
    EXPECT_EQ(count, 2);
    EXPECT_EQ(text.rfind("0 10 m ", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 8), " 10 0 c ");
    CPDFStream line;
    line.Arc(0, 0, 1, 0, 45, false);
    EXPECT_EQ(line.GetData().rfind("1 0 l ", 0), 0u);

    CPDFStream circle;
    circle.Circle(0, 0, 10);
    EXPECT_EQ(circle.GetData(), "10 0 m 10 5.52 5.52 10 0 10 c -5.52 10 -10 5.52 -10 0 c "
                                "-10 -5.52 -5.52 -10 0 -10 c 5.52 -10 10 -5.52 10 0 c s ");
}

}  // namespace
