// CAD drawings and a trace, written in every page format and drawn by that
// format's reader, show the same drawing as their PDF does: the ink of each
// picture lies near the other's. The drawings are in inches, millimetres
// and raster pixels, far from the origin and near it, with and without line
// widths, so a writer that snaps to whole units, loses thin lines or turns
// the page over shows as ink where the PDF has none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "export/export_format.h"
#include "export/vector_file.h"
#include "model/circle.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "platform/number_text.h"

#include "cgm_decoder.h"
#include "support/dxf_samples.h"
#include "export_test_support.h"
#include "render_support.h"

namespace {

using namespace export_test;

constexpr int kBox = kRenderBox;

// What a trace of a small scan gives, in raster pixels: closed outlines
// without width (written unfilled) and centre lines with widths. (Filled
// polygon sets have no CGM record; the drawing of RenderCompare has one.)
void MakeTrace(CGraph* graph)
{
    CLayer* layer = graph->GetCurrentLayer();
    layer->SetColor(7);
    layer->AddEntity(Chain({{{0, 0, 0}}, {{300, 0, 0}}, {{300, 180, 0}}, {{0, 180, 0}}}, true, 0).release());
    layer->AddEntity(Chain({{{20, 20, 0}}, {{80, 20, 0.4}}, {{80, 70, 0}}, {{20, 70, -0.3}}}, true, 0).release());
    layer->AddEntity(Chain({{{110, 160, 0}}, {{170, 120, 0.5}}, {{230, 150, 0}}}, false, 4).release());
    layer->AddEntity(Chain({{{120, 30, -1}}, {{160, 30, 0}}}, false, 2).release());
    auto* arc = new CArc();
    arc->m_Centre = frDoublePoint(250, 60);
    arc->m_Radius = 30;
    arc->SetStartAngle(HALF_PI);
    arc->SetEndAngle(PI * 1.75);
    layer->AddEntity(arc);
    auto* circle = new CCircle();
    circle->m_Centre = frDoublePoint(60, 130);
    circle->m_Radius = 25;
    circle->SetWidth(3);
    layer->AddEntity(circle);
    layer->AddEntity(Chain({{{190, 20, 0}}, {{220, 20, 0.6}}, {{220, 90, 0}}, {{190, 90, 0}}}, true, 0).release());
    layer->AddEntity(Chain({{{197, 35, 0}}, {{197, 75, 0}}, {{210, 75, 0}}, {{210, 35, 0}}}, true, 0).release());
}

// Two small crosses (x) beyond opposite corners of the drawing: every format
// puts them at the picture's corners, so the pictures line up by their
// ink, and no line of the drawing lies on the page's edge, where a reader
// may draw half a hairline or none.
void AddCornerMarks(CGraph* graph)
{
    double box[4];
    bool found = false;
    for (CLayer* layer = graph->GetFirstLayer(); layer; layer = layer->GetNext()) {
        double b[4];
        if (!layer->GetExtents(nullptr, b))
            continue;
        if (!found)
            std::copy(b, b + 4, box);
        box[EXT_MIN_X] = std::min(box[EXT_MIN_X], b[EXT_MIN_X]);
        box[EXT_MAX_X] = std::max(box[EXT_MAX_X], b[EXT_MAX_X]);
        box[EXT_MIN_Y] = std::min(box[EXT_MIN_Y], b[EXT_MIN_Y]);
        box[EXT_MAX_Y] = std::max(box[EXT_MAX_Y], b[EXT_MAX_Y]);
        found = true;
    }
    ASSERT_TRUE(found);
    const double side = std::max(box[EXT_MAX_X] - box[EXT_MIN_X], box[EXT_MAX_Y] - box[EXT_MIN_Y]);
    const double gap = side * 0.03, arm = side * 0.01;
    CLayer* marks = graph->SelectOrAddLayer("corner marks");
    marks->SetColor(7);
    for (const auto& [x, y] : {std::pair{box[EXT_MIN_X] - gap, box[EXT_MIN_Y] - gap},
                               std::pair{box[EXT_MAX_X] + gap, box[EXT_MAX_Y] + gap}}) {
        // Diagonals: the mark touches the page's edge in one point only.
        marks->AddEntity(Chain({{{x - arm, y - arm, 0}}, {{x + arm, y + arm, 0}}}, false, 0).release());
        marks->AddEntity(Chain({{{x - arm, y + arm, 0}}, {{x + arm, y - arm, 0}}}, false, 0).release());
    }
}

struct Sample {
    std::string name;  // a DXF file of the samples, or "trace"
    bool widths;
};

// A few samples in inches, millimetres and large units, and the trace; with
// LW_RENDER_ALL_SAMPLES=1 (bench/export_render_bench.sh) every sample.
std::vector<Sample> Samples()
{
    std::vector<Sample> samples;
    if (const char* all = std::getenv("LW_RENDER_ALL_SAMPLES"); all && std::string(all) == "1") {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(test_support::DxfSamplesFolder(), ec)) {
            std::string ext = entry.path().extension().string();
            for (char& c : ext)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (ext == ".dxf")
                samples.push_back({entry.path().filename().string(), true});
        }
        std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.name < b.name; });
    } else {
        for (const char* name :
             {"Gear.dxf", "Vesa_Mount.dxf", "HorseFarmNoFence.dxf", "SingleArcs.dxf", "Circle.dxf",
              "SquareWithCircleHoleSimpleR12.dxf", "InwardArcBox.dxf", "Pinapple.dxf", "RoundedRectangleInside.dxf",
              // 1.2 units wide, of nearly straight arcs.
              "4x8Nest_6mm_Raw_Offsets_For_Single_Hole_19_8872147.dxf"})
            samples.push_back({name, true});
    }
    samples.push_back({"trace", true});
    samples.push_back({"trace", false});
    return samples;
}

std::string PrintSample(const ::testing::TestParamInfo<Sample>& info)
{
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name + (info.param.widths ? "" : "_NoWidths");
}

class SampleRender : public ExportTest, public ::testing::WithParamInterface<Sample> {
protected:
    void Load()
    {
        const Sample& s = GetParam();
        if (s.name == "trace") {
            MakeTrace(&graph);
        } else {
            const fs::path path = test_support::DxfSamplesFolder() / s.name;
            ASSERT_TRUE(fs::is_regular_file(path)) << path << ": the CAD samples are missing (LW_DXF_SAMPLES)";
            std::string error;
            ASSERT_TRUE(graph.ReadDXF(path.string(), nullptr, &error)) << error;
        }
        AddCornerMarks(&graph);
    }

    fs::path Save(int format, const std::string& name)
    {
        const fs::path path = folder / name;
        std::string error;
        CVectorFileOptions options;
        options.widths = GetParam().widths;
        EXPECT_TRUE(SaveVectorFile(graph, path.string(), format, options, &error)) << error;
        return path;
    }

    // Runs the reader's command and loads its PNG as ink in the box.
    void Render(const std::string& command, const fs::path& png, InkPicture* ink)
    {
        std::string out;
        ASSERT_EQ(RunCommand(command, &out), 0) << command << "\n" << out;
        LoadInk(png, ink);
        if (const char* keep = std::getenv("LW_KEEP_RENDERS"))
            fs::copy_file(png, fs::path(keep) / (PrintSample({GetParam(), 0}) + "_" + png.filename().string()),
                          fs::copy_options::overwrite_existing);
    }

    std::string SvgToPng(const fs::path& svg, const fs::path& png) const
    {
        return "rsvg-convert -a -w " + std::to_string(kBox) + " -h " + std::to_string(kBox) + " -b white -o " +
               png.string() + " " + svg.string();
    }

    CGraph graph;
};

// The EPS resolution that draws its bounding box kBox pixels on its larger
// side; 0 when the file has no box.
double EpsResolution(const std::string& eps)
{
    const std::size_t at = eps.find("%%BoundingBox:");
    double x0, y0, x1, y1;
    if (at == std::string::npos || std::sscanf(eps.c_str() + at + 14, "%lf %lf %lf %lf", &x0, &y0, &x1, &y1) != 4 ||
        std::max(x1 - x0, y1 - y0) <= 0)
        return 0;
    return 72.0 * kBox / std::max(x1 - x0, y1 - y0);
}

// hp2xx works in whole plotter units, so a plot spanning fewer than this
// many (a drawing of a few units: pixels are ten plotter units) comes out
// in a few coarse strokes whatever the file holds; such plots are not
// compared.
constexpr double kMinPlotterSpan = 1000.0;

// The hp2xx options that draw the plot's range kBox pixels on its larger
// side with a pen one pixel wide: the range of its pen positions, which the
// corner marks bound. Empty for a plot too small for the reader.
std::string PlotterWindow(const std::string& plot)
{
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (std::size_t at = 0; (at = plot.find_first_of("PU", at)) != std::string::npos; ++at) {
        if (at + 2 > plot.size() ||
            (plot.compare(at, 2, "PU") && plot.compare(at, 2, "PD") && plot.compare(at, 2, "PA")))
            continue;
        double x, y;
        if (std::sscanf(plot.c_str() + at + 2, "%lf,%lf", &x, &y) != 2)
            continue;
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
    if (x1 <= x0 || y1 <= y0 || std::max(x1 - x0, y1 - y0) < kMinPlotterSpan)
        return "";
    // 254 dots per inch: a tenth of a millimetre to the pixel.
    const double mm = kBox / 10.0 / std::max(x1 - x0, y1 - y0);
    return FormatC("-x %f -X %f -y %f -Y %f -w %f -h %f -d 254 -p 1", x0, x1, y0, y1, (x1 - x0) * mm, (y1 - y0) * mm);
}

TEST_P(SampleRender, EveryReaderShowsTheDrawingOfThePdf)
{
    for (const char* tool : {"rsvg-convert", "pdftoppm", "gs", "hp2xx", "emf2svg-conv"})
        ASSERT_TRUE(HaveTool(tool)) << tool << " is missing: run scripts/install-deps";
    Load();
    if (HasFatalFailure())
        return;
    const std::string box = std::to_string(kBox);

    InkPicture pdf;
    const fs::path pdfFile = Save(EXPORT_PDF, "d.pdf");
    Render("pdftoppm -gray -png -singlefile -scale-to " + box + " " + pdfFile.string() + " " +
               (folder / "pdf").string(),
           folder / "pdf.png", &pdf);
    if (HasFatalFailure())
        return;

    for (const auto& [format, name] : {std::pair{EXPORT_SVG, "d.svg"}, std::pair{EXPORT_SVGZ, "d.svgz"}}) {
        InkPicture svg;
        const fs::path png = folder / (std::string(name) + ".png");
        Render(SvgToPng(Save(format, name), png), png, &svg);
        ExpectSameDrawing(pdf, svg, name);
    }

    const fs::path eps = Save(EXPORT_EPS, "d.eps");
    const double dpi = EpsResolution(Slurp(eps));
    ASSERT_GT(dpi, 0) << "the EPS has no bounding box";
    InkPicture postscript;
    Render("gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -r" + std::to_string(dpi) + " -sDEVICE=pnggray -o " +
               (folder / "eps.png").string() + " " + eps.string(),
           folder / "eps.png", &postscript);
    ExpectSameDrawing(pdf, postscript, "EPS");

    // The reader adds a margin, which the ink box takes away. It is given
    // short names: a long path overflows its buffer.
    const fs::path plt = Save(EXPORT_HPGL, "d.plt");
    if (const std::string window = PlotterWindow(Slurp(plt)); !window.empty()) {
        InkPicture plot;
        Render("cd " + folder.string() + " && hp2xx -q -m png " + window + " -f hpgl.png d.plt", folder / "hpgl.png",
               &plot);
        ExpectSameDrawing(pdf, plot, "HP-GL");
    }

    InkPicture metafile;
    Render("emf2svg-conv -i " + Save(EXPORT_METAFILE, "d.emf").string() + " -o " + (folder / "emf.svg").string() +
               " && " + SvgToPng(folder / "emf.svg", folder / "emf.png"),
           folder / "emf.png", &metafile);
    ExpectSameDrawing(pdf, metafile, "metafile");

    CgmPicture picture;
    std::string why;
    ASSERT_TRUE(DecodeCgm(Slurp(Save(EXPORT_CGM, "d.cgm")), &picture, &why)) << why;
    std::ofstream(folder / "cgm.svg") << CgmPictureToSvg(picture);
    InkPicture cgm;
    Render(SvgToPng(folder / "cgm.svg", folder / "cgm.png"), folder / "cgm.png", &cgm);
    ExpectSameDrawing(pdf, cgm, "CGM");
}

INSTANTIATE_TEST_SUITE_P(CadAndTrace, SampleRender, ::testing::ValuesIn(Samples()), PrintSample);

}  // namespace
