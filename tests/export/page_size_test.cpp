// The page formats give a scan its paper size whatever the drawing unit: an
// A4 sheet scanned at 300 or 200 dpi comes out as 210 x 297 mm in PDF, EPS
// and SVG; a scan whose file gives no resolution keeps one point per pixel.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "export/export_format.h"
#include "export/vector_file.h"
#include "model/graph.h"
#include "raster/raster_entity.h"

#include "export_test_support.h"

namespace {

using namespace export_test;

constexpr double kA4WidthMm = 210.0;
constexpr double kA4HeightMm = 297.0;
constexpr double kMmPerPoint = 25.4 / 72.0;

struct Scan {
    int dpi;
    int width, height;  // A4 in pixels at that resolution
};
constexpr Scan kScans[] = {{300, 2480, 3508}, {200, 1654, 2339}};

class PageSize : public ExportTest {
protected:
    // A blank one-bit scan; dpi 0 for a file without a resolution.
    void MakeScan(int width, int height, int dpi)
    {
        CRaster* raster = graph.GetRaster();
        ASSERT_NE(raster, nullptr);
        ASSERT_TRUE(raster->GetImage().Create(width, height, 1));
        const long dotsPerMetre = dpi > 0 ? static_cast<long>(dpi / 0.0254 + 0.5) : 0;
        ASSERT_TRUE(raster->GetImage().SetResolution(dotsPerMetre));
        raster->SetResolution(static_cast<std::uint32_t>(dotsPerMetre), static_cast<std::uint32_t>(dotsPerMetre));
    }

    std::string SaveText(int format, const char* name)
    {
        std::string error;
        EXPECT_TRUE(SaveVectorFile(graph, folder / name, format, &error)) << error;
        return Slurp(folder / name);
    }

    // The numbers after a marker ("/MediaBox [0 0 "), read as two doubles.
    static bool TwoNumbersAfter(const std::string& text, const std::string& marker, double& a, double& b)
    {
        const std::size_t at = text.find(marker);
        return at != std::string::npos && std::sscanf(text.c_str() + at + marker.size(), "%lf %lf", &a, &b) == 2;
    }

    // An SVG length attribute in millimetres; a bare number stays as it is.
    static double SvgLengthMm(const std::string& svg, const std::string& attribute)
    {
        const std::size_t at = svg.find(" " + attribute + "=\"");
        if (at == std::string::npos)
            return -1;
        double value = 0;
        char unit[8] = {};
        const int got = std::sscanf(svg.c_str() + at + attribute.size() + 3, "%lf%7[a-z]", &value, unit);
        if (got < 1)
            return -1;
        const std::string u = got == 2 ? unit : "";
        if (u == "mm")
            return value;
        if (u == "cm")
            return value * 10;
        if (u == "in")
            return value * 25.4;
        return u.empty() ? value : -1;
    }

    CGraph graph;
};

TEST_F(PageSize, A4ScansGiveA4PagesInEveryUnit)
{
    static const char* const kUnitNames[] = {"inch", "cm", "mm", "pixel"};
    for (const Scan& scan : kScans) {
        MakeScan(scan.width, scan.height, scan.dpi);
        for (std::uint32_t unit = UNIT_INCH; unit <= UNIT_PIXEL; ++unit) {
            SCOPED_TRACE(std::to_string(scan.dpi) + " dpi, unit " + kUnitNames[unit]);
            ASSERT_TRUE(graph.SetUnit(unit));
            double w = 0, h = 0;
            ASSERT_TRUE(TwoNumbersAfter(SaveText(EXPORT_PDF, "a4.pdf"), "/MediaBox [0 0 ", w, h));
            EXPECT_NEAR(w * kMmPerPoint, kA4WidthMm, kA4WidthMm * 0.01);
            EXPECT_NEAR(h * kMmPerPoint, kA4HeightMm, kA4HeightMm * 0.01);
            const std::string eps = SaveText(EXPORT_EPS, "a4.eps");
            ASSERT_TRUE(TwoNumbersAfter(eps, "%%BoundingBox: 0 0 ", w, h));
            EXPECT_NEAR(w * kMmPerPoint, kA4WidthMm, kA4WidthMm * 0.01);
            EXPECT_NEAR(h * kMmPerPoint, kA4HeightMm, kA4HeightMm * 0.01);
            const std::string svg = SaveText(EXPORT_SVG, "a4.svg");
            EXPECT_NEAR(SvgLengthMm(svg, "width"), kA4WidthMm, kA4WidthMm * 0.01) << svg.substr(0, 300);
            EXPECT_NEAR(SvgLengthMm(svg, "height"), kA4HeightMm, kA4HeightMm * 0.01);
        }
    }
}

TEST_F(PageSize, PixelDrawingsKeepTheirCoordinatesOnAPaperSizedPage)
{
    MakeScan(2480, 3508, 300);
    ASSERT_TRUE(graph.SetUnit(UNIT_PIXEL));
    const std::string svg = SaveText(EXPORT_SVG, "a4.svg");
    EXPECT_NE(svg.find("viewBox=\"0.000 0 2480.000 3508.000\""), std::string::npos) << svg.substr(0, 300);
    // The EPS draws pixels scaled by 72 / 300 points.
    EXPECT_NE(SaveText(EXPORT_EPS, "a4.eps").find("0.240000 0.240000 scale"), std::string::npos);
}

TEST_F(PageSize, AScanWithoutResolutionKeepsOnePointPerPixel)
{
    MakeScan(2480, 3508, 0);
    ASSERT_TRUE(graph.SetUnit(UNIT_PIXEL));
    double w = 0, h = 0;
    ASSERT_TRUE(TwoNumbersAfter(SaveText(EXPORT_PDF, "a.pdf"), "/MediaBox [0 0 ", w, h));
    EXPECT_DOUBLE_EQ(w, 2480);
    EXPECT_DOUBLE_EQ(h, 3508);
    ASSERT_TRUE(TwoNumbersAfter(SaveText(EXPORT_EPS, "a.eps"), "%%BoundingBox: 0 0 ", w, h));
    EXPECT_DOUBLE_EQ(w, 2480);
    EXPECT_DOUBLE_EQ(h, 3508);
    EXPECT_NE(SaveText(EXPORT_SVG, "a.svg").find("width=\"2480.000\" height=\"3508.000\""), std::string::npos);
    // Nor does a file that claims 1 dpi.
    MakeScan(2480, 3508, 1);
    ASSERT_TRUE(TwoNumbersAfter(SaveText(EXPORT_PDF, "a.pdf"), "/MediaBox [0 0 ", w, h));
    EXPECT_DOUBLE_EQ(w, 2480);
}

}  // namespace
