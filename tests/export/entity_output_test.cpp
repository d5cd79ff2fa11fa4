// Output records of lines, solids, polygon sets, circles and arcs, read back
// by the tools that consume the files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "export/export_format.h"
#include "export/pdf_stream.h"
#include "export/vector_file.h"
#include "model/circle.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/solid.h"

#include "export_test_support.h"

namespace {

using namespace export_test;

bool HaveTool(const std::string& command)
{
    std::string out;
    return RunCommand(command, &out) == 0;
}

std::unique_ptr<CPolyLine> Ring(std::initializer_list<std::array<double, 3>> points)
{
    auto poly = std::make_unique<CPolyLine>();
    for (const auto& p : points) {
        auto* v = new CVertex(p[0], p[1], 0, 0, 0);
        v->bulge = p[2];
        poly->AddVertex(v, true);
    }
    poly->m_Closed = true;
    return poly;
}

class EntityOutput : public export_test::ExportTest {
protected:
    CLine* AddLine(CLayer* layer, double x0, double y0, double x1, double y1)
    {
        auto* line = new CLine();
        line->SetStart(x0, y0);
        line->SetEnd(x1, y1);
        layer->AddEntity(line);
        return line;
    }
    CSolid* AddSolid(CLayer* layer, std::initializer_list<frDoublePoint> points)
    {
        auto* solid = new CSolid();
        for (const auto& p : points)
            (void)solid->AddPoint(p.x, p.y);
        layer->AddEntity(solid);
        return solid;
    }
    CPolyPolygon* AddSquareWithHole(CLayer* layer)
    {
        auto* set = new CPolyPolygon();
        set->AddOutline(Ring({{{40, 0, 0}}, {{60, 0, 0}}, {{60, 20, 0}}, {{40, 20, 0}}}));
        set->AddOutline(Ring({{{45, 5, 0}}, {{55, 5, 1}}, {{55, 15, 0}}, {{45, 15, 0}}}));
        set->m_SeedPoint = frDoublePoint(41, 1);
        layer->AddEntity(set);
        return set;
    }

    // Every entity kind on two layers, with colour 7 both own and by layer
    // and one solid of two corners.
    void MakeDrawing()
    {
        CLayer* trace = graph.GetCurrentLayer();
        trace->SetColor(7);
        AddLine(trace, 0, 0, 30, 10);
        CSolid* triangle = AddSolid(trace, {{0, 20}, {10, 20}, {5, 28}});
        triangle->m_Color = 7;
        AddSolid(trace, {{12, 20}, {20, 20}, {20, 28}, {12, 28}})->m_Color = 5;
        AddSolid(trace, {{0, 0}, {1, 1}});
        auto* poly = Ring({{{0, 30, 0}}, {{10, 30, 0.5}}, {{20, 35, 0}}}).release();
        poly->m_Closed = false;
        poly->SetWidth(1.5);
        trace->AddEntity(poly);
        CLayer* shapes = graph.SelectOrAddLayer("Shapes");
        shapes->SetColor(1);
        AddSquareWithHole(shapes);
        auto* circle = new CCircle();
        circle->m_Centre = frDoublePoint(80, 10);
        circle->m_Radius = 8;
        shapes->AddEntity(circle);
        auto* wide = new CCircle();
        wide->m_Centre = frDoublePoint(80, 30);
        wide->m_Radius = 5;
        wide->SetWidth(2);
        wide->m_Color = 3;
        shapes->AddEntity(wide);
        auto* arc = new CArc();
        arc->m_Centre = frDoublePoint(100, 10);
        arc->m_Radius = 6;
        arc->SetStartAngle(0);
        arc->SetEndAngle(PI * 1.5);
        shapes->AddEntity(arc);
    }

    CGraph graph;
};

TEST_F(EntityOutput, DxfOfEveryKindPassesTheAuditWithTheGeometry)
{
    if (!HaveTool(std::string(kPython) + " -c 'import ezdxf'"))
        GTEST_SKIP() << "python3 ezdxf missing";
    MakeDrawing();
    const fs::path path = folder / "all.dxf";
    std::string error;
    ASSERT_TRUE(SaveVectorFile(graph, path, EXPORT_DXF2000, &error)) << error;
    const std::string script =
        "import ezdxf,sys,collections\n"
        "d=ezdxf.readfile(sys.argv[1]); a=d.audit()\n"
        "assert not a.has_errors, [str(e.message) for e in a.errors]\n"
        "m=d.modelspace()\n"
        "print(sorted(collections.Counter(e.dxftype() for e in m).items()))\n"
        "for s in m.query('SOLID'): print([tuple(round(v,1) for v in s.dxf.get('vtx%d'%i))[:2] for i in range(4)])\n"
        "h=m.query('HATCH')[0]; print(len(h.paths), h.dxf.layer)\n"
        "c=[e for e in m.query('CIRCLE')][0]; print(c.dxf.center.x, c.dxf.center.y, c.dxf.radius)\n"
        "r=m.query('ARC')[0]; print(round(r.dxf.start_angle,3), round(r.dxf.end_angle,3))\n"
        "print(sorted(round(p.dxf.const_width,1) for p in m.query('LWPOLYLINE') if p.closed))\n";
    std::ofstream(folder / "check.py") << script;
    std::string out;
    ASSERT_EQ(RunCommand(std::string(kPython) + " " + (folder / "check.py").string() + " " + path.string(), &out), 0)
        << out;
    // The two-corner solid is skipped; the wide circle is a closed polyline.
    EXPECT_EQ(out, "[('ARC', 1), ('CIRCLE', 1), ('HATCH', 1), ('LINE', 1), ('LWPOLYLINE', 2), ('SOLID', 2)]\n"
                   "[(0.0, 20.0), (10.0, 20.0), (5.0, 28.0), (5.0, 28.0)]\n"
                   "[(12.0, 20.0), (20.0, 20.0), (12.0, 28.0), (20.0, 28.0)]\n"
                   "2 Shapes\n"
                   "80.0 10.0 8.0\n"
                   "0.0 270.0\n"
                   "[2.0]\n");
}

TEST_F(EntityOutput, SvgOfEveryKindIsWellFormedRendersAndDrawsSevenBlack)
{
    MakeDrawing();
    const fs::path path = folder / "all.svg";
    std::string error, out;
    ASSERT_TRUE(SaveVectorFile(graph, path, EXPORT_SVG, &error)) << error;
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    const std::string svg = text.str();
    EXPECT_NE(svg.find("<circle cx="), std::string::npos);
    EXPECT_NE(svg.find("fill-rule=\"evenodd\""), std::string::npos);
    // Colour 7 by layer and by the entity's own index both come out black.
    EXPECT_EQ(svg.find("rgb(255,255,255)"), std::string::npos) << svg;
    EXPECT_NE(svg.find("fill=\"rgb(0,0,0)\" stroke=\"none\""), std::string::npos);
    if (HaveTool("command -v xmllint")) {
        EXPECT_EQ(RunCommand("xmllint --noout " + path.string(), &out), 0) << out;
    }
    if (!HaveTool("command -v rsvg-convert"))
        GTEST_SKIP() << "rsvg-convert missing";
    ASSERT_EQ(RunCommand("rsvg-convert -o " + (folder / "all.png").string() + " " + path.string(), &out), 0) << out;
    EXPECT_GT(fs::file_size(folder / "all.png"), 0u);
}

TEST_F(EntityOutput, R10RecordsReadBackAndPolygonSetsBecomeClosedPolylines)
{
    if (!HaveTool(std::string(kPython) + " -c 'import ezdxf'"))
        GTEST_SKIP() << "python3 ezdxf missing";
    MakeDrawing();
    std::string body = "  0\nSECTION\n  2\nENTITIES\n";
    for (CLayer* layer = graph.GetFirstLayer(); layer; layer = layer->GetNext())
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            bool ok = false;
            body += Capture([&](std::FILE* f) { return e->WriteDXFR10(f, true); }, &ok);
            ASSERT_TRUE(ok);
        }
    body += "  0\nENDSEC\n  0\nEOF\n";
    EXPECT_EQ(body.find("100\n"), std::string::npos);
    const fs::path path = folder / "r10.dxf";
    std::ofstream(path) << body;
    std::string out;
    ASSERT_EQ(RunCommand(std::string(kPython) +
                             " -c \"import ezdxf,sys,collections; d=ezdxf.readfile(sys.argv[1]); "
                             "m=d.modelspace(); print(sorted(collections.Counter(e.dxftype() for e in m).items())); "
                             "print(sorted((p.is_closed, len(p)) for p in m.query('POLYLINE')))\" " +
                             path.string(),
                         &out),
              0)
        << out;
    EXPECT_EQ(out, "[('ARC', 1), ('CIRCLE', 1), ('LINE', 1), ('POLYLINE', 4), ('SOLID', 2)]\n"
                   "[(False, 3), (True, 2), (True, 4), (True, 4)]\n");
}

TEST_F(EntityOutput, LineAndSolidDxfGroupsKeepTheSolidRing)
{
    CLayer* layer = graph.GetCurrentLayer();
    CLine* line = AddLine(layer, 1, 2, 3, 4);
    const std::string text = Capture([&](std::FILE* f) { return line->WriteDXF2000(f, false); });
    EXPECT_NE(text.find("100\nAcDbLine\n  10\n1.000000\n  20\n2.000000\n  11\n3.000000\n  21\n4.000000\n"),
              std::string::npos)
        << text;
    CSolid* quad = AddSolid(layer, {{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    const std::string r10 = Capture([&](std::FILE* f) { return quad->WriteDXFR10(f, false); });
    EXPECT_EQ(r10.rfind("  0\nSOLID\n", 0), 0u);
    EXPECT_NE(r10.find("  12\n0.000000\n  22\n1.000000\n  13\n1.000000\n  23\n1.000000\n"), std::string::npos);
    EXPECT_EQ(quad->GetVertex(2)->x, 1.0);
    EXPECT_EQ(quad->GetVertex(3)->x, 0.0);
}

TEST_F(EntityOutput, DegenerateSolidWritesNothingAnywhereAndSucceeds)
{
    CSolid* solid = AddSolid(graph.GetCurrentLayer(), {{0, 0}, {5, 5}});
    CPDFStream pdf;
    bool ok = false;
    EXPECT_EQ(Capture([&](std::FILE* f) { return solid->WriteDXF2000(f, true); }, &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Capture([&](std::FILE* f) { return solid->WriteDXFR10(f, true); }, &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Capture([&](std::FILE* f) { return solid->WriteSVG(f, 10, true); }), "");
    EXPECT_EQ(Capture([&](std::FILE* f) { return solid->WriteHPGL(f); }), "");
    EXPECT_EQ(Capture([&](std::FILE* f) { return solid->WriteEPS(f, true); }), "");
    EXPECT_EQ(Capture([&](std::FILE* f) { return solid->WriteCGM(f); }), "");
    EXPECT_TRUE(solid->WritePDF(&pdf, true));
    EXPECT_EQ(pdf.GetData(), "");
}

TEST_F(EntityOutput, HpglPolygonSetUsesPaBetweenOutlinesAndOnePolygonMode)
{
    CPolyPolygon* set = AddSquareWithHole(graph.GetCurrentLayer());
    const std::string text = Capture([&](std::FILE* f) { return set->WriteHPGL(f); });
    EXPECT_EQ(text.rfind("PU400.000000,0.000000;FT2;PM0;PD400.000000,0.000000;", 0), 0u) << text;
    EXPECT_NE(text.find(";PA400.000000,0.000000;PM1;PU450.000000,50.000000;PD"), std::string::npos) << text;
    EXPECT_NE(text.find("AA 550.000000,100.000000,1"), std::string::npos) << text;
    EXPECT_NE(text.find("PA450.000000,50.000000;PM2;FP;\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("FT2", text.find("FT2") + 1), std::string::npos);
    EXPECT_EQ(text.find(";4"), std::string::npos);  // no bare coordinate pair
}

TEST_F(EntityOutput, PageFormatsDrawSevenBlackAndPdfArcsStartWithAMove)
{
    CLayer* layer = graph.GetCurrentLayer();
    layer->SetColor(7);
    auto* arc = new CArc();
    arc->m_Centre = frDoublePoint(10, 10);
    arc->m_Radius = 5;
    arc->SetStartAngle(HALF_PI);
    arc->SetEndAngle(PI);
    layer->AddEntity(arc);
    CPDFStream pdf;
    pdf.LineTo(1, 1);  // a previous record's open end must not be joined
    ASSERT_TRUE(arc->WritePDF(&pdf, false));
    const std::string data = pdf.GetData();
    EXPECT_NE(data.find("0 G "), std::string::npos) << data;
    EXPECT_NE(data.find("10 15 m "), std::string::npos) << data;
    EXPECT_EQ(data.substr(data.size() - 2), "S ");
    EXPECT_EQ(Capture([&](std::FILE* f) { return arc->WriteEPS(f, false); })
                  .rfind("0.000000 0.000000 0.000000 setrgbcolor\nnewpath\n10.000000 10.000000 5.000000 90.000000 "
                         "180.000000 arc\n",
                         0),
              0u);
    CLine* line = AddLine(layer, 0, 0, 1, 1);
    line->m_Color = 7;
    const std::string cgm = Capture([&](std::FILE* f) { return line->WriteCGM(f); });
    ASSERT_GE(cgm.size(), 4u);
    EXPECT_EQ(cgm.substr(2, 3), std::string(3, '\0'));  // edge colour red, green, blue
}

TEST_F(EntityOutput, CgmCoordinatesRoundToNearestAndStayInRange)
{
    CLine* line = AddLine(graph.GetCurrentLayer(), -2.6, 70000.4, 1.5, -40000);
    const std::string cgm = Capture([&](std::FILE* f) { return line->WriteCGM(f); });
    ASSERT_GE(cgm.size(), 12u);
    const std::string geometry = cgm.substr(cgm.size() - 12);
    auto word = [&](int i) {
        return static_cast<short>((static_cast<unsigned char>(geometry[2 * i]) << 8) |
                                  static_cast<unsigned char>(geometry[2 * i + 1]));
    };
    EXPECT_EQ(word(0), 0x403F);
    EXPECT_EQ(word(1), 8);
    EXPECT_EQ(word(2), -3);
    EXPECT_EQ(word(3), 32767);
    EXPECT_EQ(word(4), 2);
    EXPECT_EQ(word(5), -32768);
}

TEST_F(EntityOutput, ArcRecordsCarryTheirSweepInEveryFormat)
{
    // Three quarters counter-clockwise from 0 degrees round (100, 10), radius 6.
    auto* arc = new CArc();
    arc->m_Centre = frDoublePoint(100, 10);
    arc->m_Radius = 6;
    arc->SetStartAngle(0);
    arc->SetEndAngle(PI * 1.5);
    arc->SetWidth(2);
    graph.GetCurrentLayer()->AddEntity(arc);

    // As a wide polyline: one bulge of tan(270 / 4), on both R10 vertices.
    const std::string dxf = Capture([&](std::FILE* f) { return arc->WriteDXF2000(f, true); });
    EXPECT_NE(dxf.find("  42\n2.414214\n"), std::string::npos) << dxf;
    const std::string r10 = Capture([&](std::FILE* f) { return arc->WriteDXFR10(f, true); });
    std::size_t bulges = 0;
    for (std::size_t at = r10.find("  42\n2.414214\n"); at != std::string::npos;
         at = r10.find("  42\n2.414214\n", at + 1))
        ++bulges;
    EXPECT_EQ(bulges, 2u) << r10;
    // The plotter's sweep is positive for counter-clockwise.
    const std::string hpgl = Capture([&](std::FILE* f) { return arc->WriteHPGL(f); });
    EXPECT_NE(hpgl.find(",270.000000;"), std::string::npos) << hpgl;
    // CGM: centre, start vector, end vector, radius.
    const std::string cgm = Capture([&](std::FILE* f) { return arc->WriteCGM(f); });
    ASSERT_GE(cgm.size(), 14u);
    const std::string geometry = cgm.substr(cgm.size() - 14);
    std::vector<int> words;
    for (int i = 0; i < 7; ++i)
        words.push_back(static_cast<short>((static_cast<unsigned char>(geometry[2 * i]) << 8) |
                                           static_cast<unsigned char>(geometry[2 * i + 1])));
    EXPECT_EQ(words, (std::vector<int>{100, 10, 6, 0, 0, -6, 6}));
    // SVG: the large-arc flag only above half a turn.
    EXPECT_NE(Capture([&](std::FILE* f) { return arc->WriteSVG(f, 100, true); }).find(" 0 1,0 "), std::string::npos);
    arc->SetEndAngle(PI);
    EXPECT_NE(Capture([&](std::FILE* f) { return arc->WriteSVG(f, 100, true); }).find(" 0 0,0 "), std::string::npos);

    // A hair of width 0.005: a circle still writes its polyline form, an
    // arc its plain record.
    auto* circle = new CCircle();
    circle->m_Centre = frDoublePoint(10, 10);
    circle->m_Radius = 3;
    circle->SetWidth(0.005);
    graph.GetCurrentLayer()->AddEntity(circle);
    arc->SetWidth(0.005);
    EXPECT_NE(Capture([&](std::FILE* f) { return circle->WriteDXF2000(f, true); }).find("LWPOLYLINE"),
              std::string::npos);
    EXPECT_NE(Capture([&](std::FILE* f) { return circle->WriteDXFR10(f, true); }).find("POLYLINE"), std::string::npos);
    const std::string thinArc = Capture([&](std::FILE* f) { return arc->WriteDXF2000(f, true); });
    EXPECT_EQ(thinArc.find("LWPOLYLINE"), std::string::npos);
    EXPECT_NE(thinArc.find("ARC"), std::string::npos);
}

TEST_F(EntityOutput, FailedWritesAreReported)
{
    CLayer* layer = graph.GetCurrentLayer();
    CLine* line = AddLine(layer, 0, 0, 1, 1);
    CPolyPolygon* set = AddSquareWithHole(layer);
    auto* circle = new CCircle();
    layer->AddEntity(circle);
    std::FILE* readOnly = std::fopen("/dev/null", "r");
    ASSERT_NE(readOnly, nullptr);
    for (CEntity* e : {static_cast<CEntity*>(line), static_cast<CEntity*>(set), static_cast<CEntity*>(circle)}) {
        EXPECT_FALSE(e->WriteDXF2000(readOnly, true));
        EXPECT_FALSE(e->WriteDXFR10(readOnly, true));
        EXPECT_FALSE(e->WriteSVG(readOnly, 10, true));
        EXPECT_FALSE(e->WriteEPS(readOnly, true));
        EXPECT_FALSE(e->WriteHPGL(readOnly));
    }
    std::fclose(readOnly);
}

TEST(EntityOutputRecords, EveryDrawnKindCountsForTheRecordFormats)
{
    CLine line;
    CSolid solid;
    CPolyPolygon set;
    CCircle circle;
    CArc arc;
    for (int format :
         {EXPORT_DXF2000, EXPORT_DXFR10, EXPORT_SVG, EXPORT_CGM, EXPORT_HPGL, EXPORT_EPS, EXPORT_PDF, EXPORT_METAFILE})
        for (const CEntity* e : {static_cast<const CEntity*>(&line), static_cast<const CEntity*>(&solid),
                                 static_cast<const CEntity*>(&set), static_cast<const CEntity*>(&circle),
                                 static_cast<const CEntity*>(&arc)})
            EXPECT_TRUE(EntityHasOutputRecord(*e, format)) << format;
}

}  // namespace
