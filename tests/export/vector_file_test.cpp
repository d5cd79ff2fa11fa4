#include "export/vector_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "export/export_format.h"
#include "export/svg_writer.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "raster/raster_entity.h"

#include "export_test_support.h"

namespace {

using namespace export_test;

bool HaveEzdxf()
{
    std::string out;
    return access(kPython, X_OK) == 0 && RunCommand(std::string(kPython) + " -c 'import ezdxf'", &out) == 0;
}

class VectorFile : public export_test::ExportTest {
protected:
    // Two layers, an open polyline with an arc and a closed square; ids
    // 1 and up, the handles a careless framing would take for itself.
    void MakeDrawing()
    {
        ResetIdCounter(1);
        Add(graph.GetCurrentLayer(), {{{0, 0, 0}}, {{10, 0, kQuarterBulge}}, {{20, 10, 0}}});
        graph.SelectOrAddLayer("Walls & <Doors>");
        graph.GetCurrentLayer()->SetColor(1);
        CPolyLine* square =
            Add(graph.GetCurrentLayer(), {{{5, 5, 0}}, {{15, 5, 0}}, {{15, 15, 0}}, {{5, 15, 0}}}, true);
        square->m_Color = 3;
        ResetIdCounter();
    }

    CGraph graph;
};

TEST_F(VectorFile, DxfOpensInEzdxfWithACleanAuditAndTheEntities)
{
    if (!HaveEzdxf())
        GTEST_SKIP() << "python3 ezdxf missing";
    MakeDrawing();
    // A second name that DXF refuses and that maps onto the first one, and an
    // entity that repeats the square's id.
    ResetIdCounter(2);
    graph.SelectOrAddLayer("Walls & >Doors>");
    Add(graph.GetCurrentLayer(), {{{0, 0, 0}}, {{1, 1, 0}}});
    ResetIdCounter();
    const fs::path path = folder / "out.dxf";
    std::string error;
    ASSERT_TRUE(SaveVectorFile(graph, path, EXPORT_DXF2000, &error)) << error;
    const std::string script =
        "import ezdxf,sys\n"
        "doc=ezdxf.readfile(sys.argv[1]); a=doc.audit()\n"
        "assert not a.has_errors, [str(e.message) for e in a.errors]\n"
        "assert doc.dxfversion=='AC1015'\n"
        "seed=int(doc.header['$HANDSEED'],16)\n"
        "es=list(doc.modelspace())\n"
        "assert all(int(e.dxf.handle,16)<seed for e in es)\n"
        "for e in sorted(es,key=lambda e:e.dxf.layer):\n"
        "  print(e.dxftype(),e.dxf.layer,e.dxf.color,e.closed,[tuple(round(v,3) for v in p) for p in "
        "e.get_points('xyb')])\n"
        "print(sorted((l.dxf.name,l.color) for l in doc.layers if l.dxf.name!='Defpoints'))\n";
    const fs::path scriptPath = folder / "check.py";
    std::ofstream(scriptPath) << script;
    std::string out;
    ASSERT_EQ(RunCommand(std::string(kPython) + " " + scriptPath.string() + " " + path.string(), &out), 0) << out;
    EXPECT_EQ(out, "LWPOLYLINE Trace 256 False [(0.0, 0.0, 0.0), (10.0, 0.0, 0.414), (20.0, 10.0, 0.0)]\n"
                   "LWPOLYLINE Walls & _Doors_ 256 False [(0.0, 0.0, 0.0), (1.0, 1.0, 0.0)]\n"
                   "LWPOLYLINE Walls & _Doors__2 3 True [(5.0, 5.0, 0.0), (15.0, 5.0, 0.0), (15.0, 15.0, 0.0), "
                   "(5.0, 15.0, 0.0)]\n"
                   "[('0', 7), ('Trace', 5), ('Walls & _Doors_', 5), ('Walls & _Doors__2', 1)]\n");
}

TEST_F(VectorFile, DxfLayerNamesCollideWithoutRegardToCase)
{
    // Layers are written newest first. "PLAN?A" becomes "PLAN_A"; "plan<a"
    // becomes "plan_a", which is that apart from case, so it gets a number;
    // "Plan_A" needs no change and shares the row of "PLAN_A".
    graph.SelectOrAddLayer("Plan_A");
    Add(graph.GetCurrentLayer(), {{{0, 0, 0}}, {{1, 1, 0}}});
    graph.SelectOrAddLayer("plan<a");
    Add(graph.GetCurrentLayer(), {{{2, 2, 0}}, {{3, 3, 0}}});
    graph.SelectOrAddLayer("PLAN?A");
    Add(graph.GetCurrentLayer(), {{{4, 4, 0}}, {{5, 5, 0}}});
    const fs::path path = folder / "layers.dxf";
    std::string error;
    ASSERT_TRUE(SaveVectorFile(graph, path, EXPORT_DXF2000, &error)) << error;
    const std::string text = Slurp(path);
    auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("\n 70\n4\n"), 1u);  // rows: 0, Trace, PLAN_A, plan_a_2
    for (const char* name : {"PLAN_A", "plan_a_2"})
        EXPECT_EQ(count(std::string("AcDbLayerTableRecord\n  2\n") + name + "\n"), 1u) << name;
    for (const char* name : {"PLAN_A", "plan_a_2", "Plan_A"})
        EXPECT_EQ(count(std::string("AcDbEntity\n  8\n") + name + "\n"), 1u) << name;
}

TEST_F(VectorFile, EmptyDrawingStillGivesAReadableDxfWithItsLayer)
{
    if (!HaveEzdxf())
        GTEST_SKIP() << "python3 ezdxf missing";
    const fs::path path = folder / "empty.dxf";
    std::string error, out;
    ASSERT_TRUE(SaveVectorFile(graph, path, EXPORT_DXF2000, &error)) << error;
    ASSERT_EQ(RunCommand(std::string(kPython) +
                             " -c \"import ezdxf,sys; d=ezdxf.readfile(sys.argv[1]); a=d.audit(); "
                             "assert not a.has_errors; print(len(d.modelspace()), 'Trace' in d.layers)\" " +
                             path.string(),
                         &out),
              0)
        << out;
    EXPECT_EQ(out, "0 True\n");
}

TEST_F(VectorFile, SvgHasOneGroupPerLayerAndRenders)
{
    MakeDrawing();
    ASSERT_TRUE(graph.GetRaster()->GetImage().Create(40, 30, 8));
    ASSERT_TRUE(graph.GetRaster()->GetImage().SetResolution(10000));  // 10 pixels per mm
    ASSERT_TRUE(graph.SetUnit(UNIT_MM));
    const fs::path path = folder / "out.svg";
    std::string error;
    ASSERT_TRUE(SaveVectorFile(graph, path, EXPORT_SVG, &error)) << error;
    const std::string text = Slurp(path);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\"", 0), 0u);
    EXPECT_NE(text.find("width=\"4.000mm\" height=\"3.000mm\" viewBox=\"0.000 0 4.000 3.000\""), std::string::npos)
        << text;
    EXPECT_NE(text.find("<title>Walls &amp; &lt;Doors&gt;</title>"), std::string::npos);
    EXPECT_NE(text.find("<g id=\"layer1\">\n<title>Trace</title>\n<path d=\"M 0.000,3.000"), std::string::npos);

    std::string out;
    if (RunCommand("command -v rsvg-convert", &out) != 0)
        GTEST_SKIP() << "rsvg-convert missing";
    const fs::path png = folder / "out.png";
    ASSERT_EQ(RunCommand("rsvg-convert -o " + png.string() + " " + path.string(), &out), 0) << out;
    EXPECT_GT(fs::file_size(png), 0u);
}

TEST_F(VectorFile, SvgPageFallsBackToAUnitBoxForAnEmptyDrawing)
{
    double box[4];
    GetSvgPageBox(graph, box);
    EXPECT_EQ(box[EXT_MIN_X], 0.0);
    EXPECT_EQ(box[EXT_MAX_Y], 1.0);
    std::string error;
    ASSERT_TRUE(SaveVectorFile(graph, folder / "empty.svg", EXPORT_SVG, &error)) << error;
    EXPECT_NE(Slurp(folder / "empty.svg").find("viewBox=\"0.000 0 1.000 1.000\""), std::string::npos);
}

TEST_F(VectorFile, UnknownFormatsFailWithoutTouchingTheFile)
{
    const fs::path path = folder / "keep.emf";
    std::ofstream(path) << "previous";
    std::string error;
    EXPECT_FALSE(SaveVectorFile(graph, path, 42, &error));
    EXPECT_NE(error.find("Unknown output format"), std::string::npos);
    EXPECT_EQ(Slurp(path), "previous");
    EXPECT_FALSE(SaveVectorFile(graph, folder / "missing" / "x.dxf", EXPORT_DXF2000, &error));
    EXPECT_FALSE(error.empty());
}

// A disk that fills part way through a save: every format gives the
// system's reason (here the file size limit's), not the record it stopped
// at, and leaves the old file.
TEST_F(VectorFile, AFailedWriteGivesTheSystemsReasonInEveryFormat)
{
    for (int i = 0; i < 400; ++i)
        Add(graph.GetCurrentLayer(),
            {{{0, 0, 0}}, {{10.0 + i, 0, kQuarterBulge}}, {{20, 10.0 + i, 0}}, {{i * 0.5, 30, 0}}});
    const std::string reason = std::strerror(EFBIG);
    for (int format = EXPORT_FORMAT_FIRST; format <= EXPORT_FORMAT_LAST; ++format) {
        if (!IsExportFormatAvailable(format))
            continue;
        SCOPED_TRACE(ExportFormatName(format));
        const fs::path path = folder / (std::string("plan") + ExportFormatExtension(format));
        std::ofstream(path) << "previous";
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ends[0]);
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit size{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &size);
            std::string error;
            const bool saved = SaveVectorFile(graph, path.string(), format, &error);
            if (saved)
                error = "saved";
            (void)!::write(ends[1], error.data(), error.size());
            ::_exit(0);
        }
        ::close(ends[1]);
        std::string error;
        char buffer[512];
        for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
            error.append(buffer, static_cast<std::size_t>(got));
        ::close(ends[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(error.find("entity"), std::string::npos) << error;
        EXPECT_EQ(Slurp(path), "previous");
    }
}

TEST(ExportFormat, NamesAndExtensionsMapToCodes)
{
    EXPECT_EQ(ExportFormatFromPath("/a.b/plan.DXF"), EXPORT_DXF2000);
    EXPECT_EQ(ExportFormatFromPath("plan.svgz"), EXPORT_SVGZ);
    EXPECT_EQ(ExportFormatFromPath("plan.hpgl"), EXPORT_HPGL);
    EXPECT_EQ(ExportFormatFromPath("/a.svg/plan"), EXPORT_NONE);
    EXPECT_EQ(ExportFormatFromName("SVG"), EXPORT_SVG);
    EXPECT_EQ(ExportFormatFromName("dxf-r10"), EXPORT_DXFR10);
    EXPECT_EQ(ExportFormatFromName("png"), EXPORT_NONE);
    EXPECT_STREQ(ExportFormatExtension(EXPORT_CGM), ".cgm");
    EXPECT_TRUE(IsExportFormatAvailable(EXPORT_DXF2000));
    EXPECT_TRUE(IsExportFormatAvailable(EXPORT_METAFILE));
    EXPECT_FALSE(IsExportFormatAvailable(EXPORT_NONE));
}

}  // namespace
