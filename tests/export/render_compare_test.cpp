// Every page format of one small drawing, rendered by the usual outside
// tools, shows the same picture: one drawn here from the geometry. The
// drawing is lopsided on purpose, so that a page turned over or an arc run
// the wrong way round shows as a large difference.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "export/export_format.h"
#include "export/vector_file.h"
#include "model/circle.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polygon_set.h"
#include "model/polyline.h"

#include "cgm_decoder.h"
#include "export_test_support.h"
#include "render_support.h"

namespace {

using namespace export_test;

constexpr int kPageWidth = 200, kPageHeight = 120;
// Half the drawing's stroke width.
constexpr double kHalfStroke = 1.5;

// The same drawing in SVG, y already turned over: what every render should
// look like, on a page that reaches `margin` past the drawing.
std::string ExpectedSvg(double margin)
{
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kPageWidth + 2 * margin) +
           "\" height=\"" + std::to_string(kPageHeight + 2 * margin) + "\">\n<g transform=\"translate(" +
           std::to_string(margin) + "," + std::to_string(margin) + ")\">\n" +
           R"(<g fill="none" stroke="black" stroke-width="3">
<path d="M 0,120 L 200,120 L 200,0 L 0,0 Z"/>
<path d="M 10,10 L 60,50"/>
<path d="M 130,80 A 20,20 0 0,0 110,60"/>
<path d="M 95,35 A 15,15 0 0,1 125,35"/>
<circle cx="160" cy="30" r="15"/>
<circle cx="160" cy="85" r="12"/>
<circle cx="185" cy="100" r="8"/>
</g>
<path fill-rule="evenodd" fill="black" d="M 15,105 L 75,105 A 25,25 0 0,0 75,65 L 15,65 Z M 30,95 L 30,75 L 50,75 A 12.5,12.5 0 0,1 50,95 Z"/>
</g>
</svg>
)";
}

// Dark pixels of a with no dark pixel of b within `reach` pixels: the part
// of a that b does not show, forgiving antialiasing and rounding.
int Unmatched(const GrayImage& a, const GrayImage& b, int reach)
{
    int count = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            if (!a.Dark(x, y))
                continue;
            bool found = false;
            for (int dy = -reach; dy <= reach && !found; ++dy)
                for (int dx = -reach; dx <= reach && !found; ++dx) {
                    const int u = x + dx, v = y + dy;
                    found = u >= 0 && v >= 0 && u < b.width && v < b.height && b.Dark(u, v);
                }
            count += found ? 0 : 1;
        }
    return count;
}

// The centre of the first dark run met walking right or down from (x, y);
// -1 when there is none.
int FirstRunCentre(const GrayImage& image, int x, int y, int dx, int dy)
{
    while (x < image.width && y < image.height && !image.Dark(x, y))
        x += dx, y += dy;
    if (x >= image.width || y >= image.height)
        return -1;
    const int start = dx != 0 ? x : y;
    while (x < image.width && y < image.height && image.Dark(x, y))
        x += dx, y += dy;
    return (start + (dx != 0 ? x : y) - 1) / 2;
}

// The render moved so that the centres of the frame's left and top sides lie
// on the page's edges, cut to the page as the other renders are: for a reader
// that puts a margin of its own around the picture.
bool RegisterByFrame(const GrayImage& render, GrayImage* page)
{
    const int left = FirstRunCentre(render, 0, render.height / 2, 1, 0);
    const int top = FirstRunCentre(render, render.width / 2, 0, 0, 1);
    if (left < 0 || top < 0)
        return false;
    page->width = kPageWidth;
    page->height = kPageHeight;
    page->pixels.assign(static_cast<std::size_t>(kPageWidth) * kPageHeight, 255);
    for (int y = 0; y < kPageHeight && y + top < render.height; ++y)
        for (int x = 0; x < kPageWidth && x + left < render.width; ++x)
            page->pixels[static_cast<std::size_t>(y) * kPageWidth + x] =
                render.pixels[static_cast<std::size_t>(y + top) * render.width + x + left];
    return true;
}

class RenderCompare : public ExportTest {
protected:
    void SetUp() override
    {
        ExportTest::SetUp();
        CLayer* layer = graph.GetCurrentLayer();
        layer->SetColor(7);
        layer->AddEntity(Chain({{{0, 0, 0}}, {{200, 0, 0}}, {{200, 120, 0}}, {{0, 120, 0}}}, true, 3).release());
        layer->AddEntity(Chain({{{10, 110, 0}}, {{60, 70, 0}}}, false, 3).release());
        // Clockwise half circle from left to right: over the chord.
        layer->AddEntity(Chain({{{95, 85, -1}}, {{125, 85, 0}}}, false, 3).release());
        // Counter-clockwise all round but for a gap far below a thousandth.
        layer->AddEntity(Chain({{{193, 20.0002, 80000}}, {{193, 19.9998, 0}}}, false, 3).release());
        layer->AddEntity(MakeArc(110, 40, 20, 0, HALF_PI));  // the upper right quarter
        layer->AddEntity(MakeArc(160, 35, 12, 0, TWO_PI));   // a whole turn
        auto* circle = new CCircle();
        circle->m_Centre = frDoublePoint(160 + offset, 90 + offset);
        circle->m_Radius = 15;
        circle->SetWidth(3);
        layer->AddEntity(circle);
        // A bump bulging out on the right, a hole on the left with a
        // clockwise arc on its right. The hole runs the other way round, as
        // traced holes do: the metafile converter fills paths by the winding
        // rule whatever the file says.
        auto* set = new CPolyPolygon();
        set->AddOutline(Chain({{{15, 15, 0}}, {{75, 15, 0.5}}, {{75, 55, 0}}, {{15, 55, 0}}}, true, 0));
        set->AddOutline(Chain({{{30, 25, 0}}, {{30, 45, 0}}, {{50, 45, -0.5}}, {{50, 25, 0}}}, true, 0));
        layer->AddEntity(set);
    }

    // A polyline of the drawing, moved by the offset.
    std::unique_ptr<CPolyLine> Chain(std::initializer_list<std::array<double, 3>> points, bool closed, double width)
    {
        auto poly = std::make_unique<CPolyLine>();
        for (const auto& p : points) {
            auto* v = new CVertex(p[0] + offset, p[1] + offset, width, width, 0);
            v->bulge = p[2];
            poly->AddVertex(v, true);
        }
        poly->m_Closed = closed;
        poly->m_Width = width;
        return poly;
    }

    CArc* MakeArc(double cx, double cy, double r, double start, double end) const
    {
        auto* arc = new CArc();
        arc->m_Centre = frDoublePoint(cx + offset, cy + offset);
        arc->m_Radius = r;
        arc->SetStartAngle(start);
        arc->SetEndAngle(end);
        arc->SetWidth(3);
        return arc;
    }

    static bool Have(const char* tool)
    {
        std::string out;
        return RunCommand(std::string("command -v ") + tool, &out) == 0;
    }

    fs::path Save(int format, const char* name)
    {
        const fs::path path = folder / name;
        std::string error;
        EXPECT_TRUE(SaveVectorFile(graph, path, format, &error)) << error;
        return path;
    }

    // Renders with the command, then compares with the picture drawn from
    // the geometry on a page `margin` pixels wider on every side.
    void ExpectSamePicture(const std::string& command, const fs::path& png, bool registerByFrame = false,
                           double margin = 0)
    {
        std::string out;
        ASSERT_EQ(RunCommand(command, &out), 0) << command << "\n" << out;
        const fs::path expectedSvg = folder / "expected.svg", expectedPng = folder / "expected.png";
        std::ofstream(expectedSvg) << ExpectedSvg(margin);
        ASSERT_EQ(RunCommand("rsvg-convert -b white -o " + expectedPng.string() + " " + expectedSvg.string(), &out), 0)
            << out;
        if (const char* keep = std::getenv("LW_KEEP_RENDERS")) {
            fs::copy_file(png, fs::path(keep) / png.filename(), fs::copy_options::overwrite_existing);
            fs::copy_file(expectedPng, fs::path(keep) / expectedPng.filename(), fs::copy_options::overwrite_existing);
        }
        GrayImage expected, actual;
        ASSERT_TRUE(LoadGray(expectedPng, &expected));
        ASSERT_TRUE(LoadGray(png, &actual)) << png;
        if (registerByFrame) {
            GrayImage page;
            ASSERT_TRUE(RegisterByFrame(actual, &page)) << png;
            actual = std::move(page);
        }
        ASSERT_EQ(actual.width, expected.width) << png;
        ASSERT_EQ(actual.height, expected.height) << png;
        // The renders match to the pixel within the reach; one arc run the
        // wrong way round leaves over a hundred pixels unmatched.
        const int missing = Unmatched(expected, actual, 2), extra = Unmatched(actual, expected, 2);
        EXPECT_LE(missing, 20) << png;
        EXPECT_LE(extra, 20) << png;
    }

    void ExpectSvgPicture()
    {
        const fs::path svg = Save(EXPORT_SVG, "drawing.svg"), png = folder / "svg.png";
        ExpectSamePicture("rsvg-convert -b white -o " + png.string() + " " + svg.string(), png);
    }

    // The page reaches half a stroke past the drawing, so the frame is whole.
    void ExpectPdfPicture()
    {
        const fs::path pdf = Save(EXPORT_PDF, "drawing.pdf");
        ExpectSamePicture("pdftoppm -gray -png -r 72 -singlefile " + pdf.string() + " " + (folder / "pdf").string(),
                          folder / "pdf.png", false, kHalfStroke);
    }

    void ExpectEpsPicture()
    {
        const fs::path eps = Save(EXPORT_EPS, "drawing.eps"), png = folder / "eps.png";
        ExpectSamePicture("gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -r72 -sDEVICE=pnggray -o " + png.string() + " " +
                              eps.string(),
                          png, false, kHalfStroke);
    }

    CGraph graph;
    // Where the drawing lies: beside the origin, or far from it.
    double offset = 0;
};

// The drawing a thousand million units from the origin. Readers compute in
// single precision, whose step is some dozens of units out there: the page
// formats must write points from the page's corner.
class FarRenderCompare : public RenderCompare {
protected:
    FarRenderCompare() { offset = 1e9; }
};

TEST_F(FarRenderCompare, SvgEpsAndPdfShowTheDrawingAsBesideTheOrigin)
{
    for (const char* tool : {"rsvg-convert", "pdftoppm", "gs"})
        if (!Have(tool))
            GTEST_SKIP() << tool << " missing";
    ExpectSvgPicture();
    ExpectPdfPicture();
    ExpectEpsPicture();
}

TEST_F(RenderCompare, SvgShowsTheDrawing)
{
    if (!Have("rsvg-convert"))
        GTEST_SKIP() << "rsvg-convert missing";
    ExpectSvgPicture();
}

TEST_F(RenderCompare, PdfShowsTheDrawing)
{
    if (!Have("rsvg-convert") || !Have("pdftoppm"))
        GTEST_SKIP() << "rsvg-convert or pdftoppm missing";
    ExpectPdfPicture();
}

TEST_F(RenderCompare, EpsShowsTheDrawing)
{
    if (!Have("rsvg-convert") || !Have("gs"))
        GTEST_SKIP() << "rsvg-convert or gs missing";
    ExpectEpsPicture();
}

TEST_F(RenderCompare, MetafileShowsTheDrawing)
{
    if (!Have("rsvg-convert") || !Have("emf2svg-conv"))
        GTEST_SKIP() << "rsvg-convert or emf2svg-conv missing";
    const fs::path emf = Save(EXPORT_METAFILE, "drawing.emf"), svg = folder / "emf.svg", png = folder / "emf.png";
    // The frame is drawn on a finer grid; the picture is drawn page size.
    ExpectSamePicture("emf2svg-conv -i " + emf.string() + " -o " + svg.string() + " && rsvg-convert -w " +
                          std::to_string(kPageWidth) + " -h " + std::to_string(kPageHeight) + " -b white -o " +
                          png.string() + " " + svg.string(),
                      png);
}

TEST_F(RenderCompare, HpglShowsTheDrawing)
{
    if (!Have("rsvg-convert") || !Have("hp2xx"))
        GTEST_SKIP() << "rsvg-convert or hp2xx missing";
    const fs::path plt = Save(EXPORT_HPGL, "drawing.plt"), png = folder / "hpgl.png";
    // The frame's plotter range drawn 20 x 12 mm at 254 dpi is one pixel a
    // drawing unit; pen 1 is 0.3 mm, the drawing's width of 3. The reader
    // adds a margin for the pen, which the frame registers away.
    ExpectSamePicture("hp2xx -q -m png -x 0 -X 2000 -y 0 -Y 1200 -w 20 -h 12 -d 254 -p 3 -f " + png.string() + " " +
                          plt.string(),
                      png, true);
}

// No CGM reader comes with the system: the tests' decoder draws the file
// as SVG for rsvg-convert. CGM holds no widths; the strokes are drawn as
// wide as the drawing's.
TEST_F(RenderCompare, CgmShowsTheDrawing)
{
    if (!Have("rsvg-convert"))
        GTEST_SKIP() << "rsvg-convert missing";
    CgmPicture picture;
    std::string why;
    ASSERT_TRUE(DecodeCgm(Slurp(Save(EXPORT_CGM, "drawing.cgm")), &picture, &why)) << why;
    const fs::path svg = folder / "cgm.svg", png = folder / "cgm.png";
    const double unit = (picture.extent[2] - picture.extent[0]) / static_cast<double>(kPageWidth);
    std::ofstream(svg) << CgmPictureToSvg(picture, 3 * unit);
    ExpectSamePicture("rsvg-convert -w " + std::to_string(kPageWidth) + " -h " + std::to_string(kPageHeight) +
                          " -b white -o " + png.string() + " " + svg.string(),
                      png);
}

}  // namespace
