// The framing of DXF R10, SVGZ, EPS, PDF, HP-GL and CGM, checked with the
// readers of each format where they are installed.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "export/export_format.h"
#include "export/format_writers.h"
#include "export/svg_writer.h"
#include "export/vector_file.h"
#include "model/circle.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"

#include "cgm_decoder.h"
#include "export_test_support.h"

namespace {

using namespace export_test;

bool Have(const char* tool) { return access(tool, X_OK) == 0; }

class Formats : public export_test::ExportTest {
protected:
    // An open polyline with a quarter arc, a closed square in colour 3 on a
    // layer with a name R10 refuses, colour 7 by layer.
    void MakeDrawing(double scale = 1.0)
    {
        const double s = scale;
        Add(graph.GetCurrentLayer(), {{{0, 0, 0}}, {{10 * s, 0, kQuarterBulge}}, {{20 * s, 10 * s, 0}}});
        graph.SelectOrAddLayer("Walls & <Doors>");
        graph.GetCurrentLayer()->SetColor(7);
        CPolyLine* square =
            Add(graph.GetCurrentLayer(),
                {{{5 * s, 5 * s, 0}}, {{15 * s, 5 * s, 0}}, {{15 * s, 15 * s, 0}}, {{5 * s, 15 * s, 0}}}, true);
        square->m_Color = 3;
        Add(graph.GetCurrentLayer(), {{{2 * s, 18 * s, 0}}, {{18 * s, 18 * s, 0}}});
    }

    fs::path Save(int format, const char* name)
    {
        const fs::path path = folder / name;
        std::string error;
        EXPECT_TRUE(SaveVectorFile(graph, path, format, &error)) << error;
        return path;
    }

    CGraph graph;
};

TEST_F(Formats, DxfR10ReadsInEzdxfWithACleanAuditAndTheVertices)
{
    std::string out;
    if (!Have("/usr/bin/python3") || RunCommand("/usr/bin/python3 -c 'import ezdxf'", &out) != 0)
        GTEST_SKIP() << "python3 ezdxf missing";
    MakeDrawing();
    const fs::path path = Save(EXPORT_DXFR10, "r10.dxf");
    const std::string script =
        "import ezdxf,sys\n"
        "doc=ezdxf.readfile(sys.argv[1]); a=doc.audit()\n"
        "assert not a.has_errors, [str(e.message) for e in a.errors]\n"
        "for e in sorted(doc.modelspace(),key=lambda e:(e.dxf.layer,len(e))):\n"
        "  print(e.dxftype(),e.dxf.layer,e.dxf.color,e.is_closed,[(round(v.dxf.location.x,3),round(v.dxf.location.y,3),"
        "round(v.dxf.bulge,3)) for v in e.vertices])\n"
        "print(sorted(l.dxf.name for l in doc.layers))\n";
    std::ofstream(folder / "check.py") << script;
    ASSERT_EQ(RunCommand("/usr/bin/python3 " + (folder / "check.py").string() + " " + path.string(), &out), 0) << out;
    // Layer names become R10's upper case letters, digits and '_'.
    EXPECT_EQ(out, "POLYLINE TRACE 256 False [(0.0, 0.0, 0), (10.0, 0.0, 0.414), (20.0, 10.0, 0)]\n"
                   "POLYLINE WALLS____DOORS_ 256 False [(2.0, 18.0, 0), (18.0, 18.0, 0)]\n"
                   "POLYLINE WALLS____DOORS_ 3 True [(5.0, 5.0, 0), (15.0, 5.0, 0), (15.0, 15.0, 0), "
                   "(5.0, 15.0, 0)]\n"
                   "['0', 'Defpoints', 'TRACE', 'WALLS____DOORS_']\n");
}

TEST_F(Formats, DxfRecordsNameOnlyTheLayersOfTheTable)
{
    // Records that repeat their layer (R10 vertices of polylines, wide
    // circles and arcs, polygon sets) on a layer both versions rename.
    MakeDrawing();
    CLayer* walls = graph.GetCurrentLayer();
    std::unique_ptr<CCircle> circle = NewCircle({30, 30}, 5);
    std::unique_ptr<CArc> arc = NewArc({30, 30}, 8, 0, HALF_PI);
    auto outline = std::make_unique<CPolyLine>();
    auto set = std::make_unique<CPolyPolygon>();
    ASSERT_TRUE(circle && arc && outline && set);
    circle->SetWidth(1);
    arc->SetWidth(1);
    ASSERT_TRUE(outline->AddPoint(40, 0) && outline->AddPoint(50, 0) && outline->AddPoint(50, 10));
    ASSERT_TRUE(set->AddOutline(std::move(outline)));
    ASSERT_TRUE(walls->AddEntity(circle.release()));
    ASSERT_TRUE(walls->AddEntity(arc.release()));
    ASSERT_TRUE(walls->AddEntity(set.release()));
    for (int format : {EXPORT_DXFR10, EXPORT_DXF2000}) {
        const std::string text = Slurp(Save(format, "names.dxf"));
        if (format == EXPORT_DXFR10) {
            EXPECT_NE(text.find("VERTEX"), std::string::npos);
        }
        EXPECT_EQ(text.find("Walls & <Doors>"), std::string::npos) << format;
    }
}

TEST_F(Formats, SvgzIsTheSvgInGzipAndRenders)
{
    MakeDrawing();
    const std::string packed = Slurp(Save(EXPORT_SVGZ, "d.svgz"));
    ASSERT_GT(packed.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(packed[0]), 0x1F);
    EXPECT_EQ(static_cast<unsigned char>(packed[1]), 0x8B);
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, 31), Z_OK);
    std::string text(1 << 20, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = reinterpret_cast<Bytef*>(text.data());
    z.avail_out = static_cast<uInt>(text.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    text.resize(z.total_out);
    inflateEnd(&z);
    EXPECT_EQ(text, Slurp(Save(EXPORT_SVG, "d.svg")));
    std::string out;
    if (!Have("/usr/bin/rsvg-convert"))
        GTEST_SKIP() << "rsvg-convert missing";
    std::ofstream(folder / "u.svg", std::ios::binary) << text;
    EXPECT_EQ(
        RunCommand("/usr/bin/rsvg-convert -o " + (folder / "u.png").string() + " " + (folder / "u.svg").string(), &out),
        0)
        << out;
}

TEST_F(Formats, PdfPassesQpdfAndRendersInInches)
{
    MakeDrawing();
    graph.SetUnit(UNIT_INCH);
    const fs::path path = Save(EXPORT_PDF, "d.pdf");
    const std::string pdf = Slurp(path);
    EXPECT_EQ(pdf.rfind("%PDF-1.4\n", 0), 0u);
    EXPECT_NE(pdf.find("/FlateDecode"), std::string::npos);
    std::string out;
    if (Have("/usr/bin/qpdf")) {
        EXPECT_EQ(RunCommand("/usr/bin/qpdf --check " + path.string(), &out), 0) << out;
        EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
        // The decompressed page starts a path with a move before any arc.
        ASSERT_EQ(RunCommand("/usr/bin/qpdf --qdf --object-streams=disable " + path.string() + " " +
                                 (folder / "q.pdf").string(),
                             &out),
                  0)
            << out;
        const std::string plain = Slurp(folder / "q.pdf");
        const std::size_t move = plain.find(" m "), curve = plain.find(" c ");
        EXPECT_NE(curve, std::string::npos);
        EXPECT_LT(move, curve);
    }
    if (Have("/usr/bin/pdftoppm")) {
        EXPECT_EQ(RunCommand("/usr/bin/pdftoppm -png -r 36 " + path.string() + " " + (folder / "p").string(), &out), 0)
            << out;
    }
}

// A drawing smaller than a point at a point to the unit is drawn 64 times
// larger and scaled back by the page's transform: two decimals of a point
// would leave it a few dozen steps.
TEST_F(Formats, PdfDrawsATinyPageOnAFinerGrid)
{
    graph.GetCurrentLayer()->AddEntity(Chain({{{0.25, 0.5, 0}}, {{1.007, 1.013, 0}}}, false, 0).release());
    const fs::path path = Save(EXPORT_PDF, "tiny.pdf");
    if (!Have("/usr/bin/qpdf"))
        GTEST_SKIP() << "qpdf missing";
    std::string out;
    ASSERT_EQ(
        RunCommand("/usr/bin/qpdf --qdf --object-streams=disable " + path.string() + " " + (folder / "q.pdf").string(),
                   &out),
        0)
        << out;
    const std::string plain = Slurp(folder / "q.pdf");
    EXPECT_NE(plain.find("0.015625 0 0 0.015625 0 0 cm"), std::string::npos) << plain;
    // The page reaches a hairline past the drawing.
    EXPECT_NE(plain.find("0.05 0.05 m"), std::string::npos) << plain;
    EXPECT_NE(plain.find("48.5 32.88 l"), std::string::npos) << plain;
    EXPECT_NE(Slurp(path).find("/MediaBox [0 0 1 1]"), std::string::npos) << "the page keeps its size";
}

TEST_F(Formats, EpsHasABoundingBoxAndRendersInGhostscript)
{
    MakeDrawing();
    const fs::path path = Save(EXPORT_EPS, "d.eps");
    const std::string eps = Slurp(path);
    // The drawing's 20 x 18 and half the widest stroke (1.5) on every side.
    EXPECT_EQ(eps.rfind("%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 22 20\n", 0), 0u) << eps.substr(0, 80);
    EXPECT_NE(eps.find("%%EOF"), std::string::npos);
    // Without widths every stroke is a thousandth of the drawing's larger
    // side (a point is a unit here).
    // A line and an arc inside the page, whose records write their own
    // strokes.
    auto* line = new CLine();
    line->SetStart(3, 3);
    line->SetEnd(6, 4);
    graph.GetCurrentLayer()->AddEntity(line);
    auto* arc = new CArc();
    arc->m_Centre = frDoublePoint(10, 10);
    arc->m_Radius = 2;
    arc->SetEndAngle(HALF_PI);
    graph.GetCurrentLayer()->AddEntity(arc);
    const fs::path thin = folder / "thin.eps";
    std::FILE* file = std::fopen(thin.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::string error;
    EXPECT_TRUE(WriteEPSFile(graph, file, false, &error)) << error;
    std::fclose(file);
    const std::string thinEps = Slurp(thin);
    double box[4];
    GetPageBoxInUnits(graph, box);
    char hairline[64];
    std::snprintf(hairline, sizeof hairline, "%f setlinewidth",
                  std::max(box[EXT_MAX_X] - box[EXT_MIN_X], box[EXT_MAX_Y] - box[EXT_MIN_Y]) / 1000);
    std::size_t strokes = 0;
    for (std::size_t at = thinEps.find("setlinewidth"); at != std::string::npos;
         at = thinEps.find("setlinewidth", at + 1)) {
        ++strokes;
        EXPECT_EQ(thinEps.compare(thinEps.rfind('\n', at) + 1, std::strlen(hairline), hairline), 0) << thinEps;
    }
    EXPECT_EQ(strokes, 9u);
    if (!Have("/usr/bin/gs"))
        GTEST_SKIP() << "Ghostscript missing";
    std::string out;
    EXPECT_EQ(RunCommand("/usr/bin/gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -sDEVICE=png16m -sOutputFile=" +
                             (folder / "e.png").string() + " " + path.string(),
                         &out),
              0)
        << out;
    EXPECT_TRUE(fs::exists(folder / "e.png"));
}

TEST_F(Formats, HpglRendersInHp2xx)
{
    MakeDrawing();
    const fs::path path = Save(EXPORT_HPGL, "d.plt");
    const std::string plt = Slurp(path);
    EXPECT_EQ(plt.rfind("IN;SP1;PA;\n", 0), 0u);
    EXPECT_NE(plt.find("PU;SP0;"), std::string::npos);
    if (!Have("/usr/bin/hp2xx"))
        GTEST_SKIP() << "hp2xx missing";
    std::string out;
    EXPECT_EQ(RunCommand("cd " + folder.string() + " && /usr/bin/hp2xx -q -m png -f h.png d.plt", &out), 0) << out;
    EXPECT_TRUE(fs::exists(folder / "h.png"));
}

TEST_F(Formats, CgmElementsFrameThePictureAndStayInsideTheExtent)
{
    MakeDrawing();
    std::vector<CgmElement> elements;
    ASSERT_TRUE(WalkCgm(Slurp(Save(EXPORT_CGM, "d.cgm")), &elements));
    ASSERT_GE(elements.size(), 10u);
    auto is = [&](std::size_t i, int cls, int id) { return elements[i].cls == cls && elements[i].id == id; };
    EXPECT_TRUE(is(0, 0, 1));  // BEGIN METAFILE
    EXPECT_TRUE(is(1, 1, 1));  // METAFILE VERSION
    EXPECT_TRUE(is(elements.size() - 2, 0, 5));
    EXPECT_TRUE(is(elements.size() - 1, 0, 2));
    std::size_t extent = 0, body = 0;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (is(i, 2, 6))
            extent = i;
        if (is(i, 0, 4))
            body = i;
    }
    ASSERT_GT(extent, 0u);
    ASSERT_GT(body, extent);
    const std::string& box = elements[extent].params;
    // The 20 x 18 page lies on a grid 1024 to the pixel about its centre.
    EXPECT_EQ(CgmInt16(box, 0), -10240);
    EXPECT_EQ(CgmInt16(box, 1), -9216);
    EXPECT_EQ(CgmInt16(box, 2), 10240);
    EXPECT_EQ(CgmInt16(box, 3), 9216);
    int polylines = 0, arcs = 0;
    for (std::size_t i = body + 1; i + 2 < elements.size(); ++i) {
        const CgmElement& e = elements[i];
        EXPECT_TRUE(e.cls == 4 || e.cls == 5) << e.cls << "/" << e.id;
        if (is(i, 4, 1)) {
            ++polylines;
            ASSERT_EQ(e.params.size() % 4, 0u);
            for (std::size_t k = 0; k < e.params.size() / 2; k += 2) {
                EXPECT_GE(CgmInt16(e.params, k), CgmInt16(box, 0));
                EXPECT_LE(CgmInt16(e.params, k), CgmInt16(box, 2));
                EXPECT_GE(CgmInt16(e.params, k + 1), CgmInt16(box, 1));
                EXPECT_LE(CgmInt16(e.params, k + 1), CgmInt16(box, 3));
            }
        }
        if (is(i, 4, 15))
            ++arcs;
    }
    EXPECT_EQ(polylines, 3);  // the open one's straight piece, the square, the line
    EXPECT_EQ(arcs, 1);
}

TEST_F(Formats, CgmOfAHugeDrawingKeepsItsWholePageIn16Bits)
{
    // 100000 x 90000 pixels: a quarter of a VDC unit to the pixel about the
    // centre, so the far corner is not clamped.
    MakeDrawing(5000.0);
    std::vector<CgmElement> elements;
    ASSERT_TRUE(WalkCgm(Slurp(Save(EXPORT_CGM, "big.cgm")), &elements));
    int extents = 0;
    for (const CgmElement& e : elements)
        if (e.cls == 2 && e.id == 6) {
            ++extents;
            EXPECT_EQ(CgmInt16(e.params, 0), -12500);
            EXPECT_EQ(CgmInt16(e.params, 1), -11250);
            EXPECT_EQ(CgmInt16(e.params, 2), 12500);
            EXPECT_EQ(CgmInt16(e.params, 3), 11250);
        }
    EXPECT_EQ(extents, 1);
}

TEST_F(Formats, AFailedWriteIsReportedAndLeavesTheOldFile)
{
    MakeDrawing();
    const fs::path keep = folder / "keep.txt";
    std::ofstream(keep) << "previous";
    using Writer = bool (*)(const CGraph&, std::FILE*, std::string*);
    const Writer writers[] = {
        [](const CGraph& g, std::FILE* f, std::string* e) { return WriteDXFR10File(g, f, true, e); },
        [](const CGraph& g, std::FILE* f, std::string* e) { return WriteSVGZFile(g, f, true, e); },
        [](const CGraph& g, std::FILE* f, std::string* e) { return WriteEPSFile(g, f, true, e); },
        [](const CGraph& g, std::FILE* f, std::string* e) { return WritePDFFile(g, f, true, e); },
        [](const CGraph& g, std::FILE* f, std::string* e) { return WriteHPGLFile(g, f, e); },
        [](const CGraph& g, std::FILE* f, std::string* e) { return WriteCGMFile(g, f, e); },
    };
    for (const Writer write : writers) {
        // A stream open for reading refuses every write.
        std::FILE* file = std::fopen(keep.c_str(), "r");
        ASSERT_NE(file, nullptr);
        std::string error;
        EXPECT_FALSE(write(graph, file, &error));
        EXPECT_FALSE(error.empty());
        std::fclose(file);
    }
    EXPECT_EQ(Slurp(keep), "previous");
    std::string error;
    for (int format : {EXPORT_DXFR10, EXPORT_SVGZ, EXPORT_EPS, EXPORT_PDF, EXPORT_HPGL, EXPORT_CGM})
        EXPECT_FALSE(SaveVectorFile(graph, folder / "missing" / "x", format, &error)) << format;
}

}  // namespace
