// `lineweft render` end to end: a raster, a project and a DXF file drawn to
// PNG through the drawing device, read back pixel by pixel.
#include <gtest/gtest.h>

#include "raster/freeimage_api.h"

#include "cli_runner.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "model/graph.h"
#include "model/line.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"

namespace {

namespace fs = std::filesystem;

class RenderCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitRasterLibrary(); }
    static void TearDownTestSuite() { ReleaseRasterLibrary(); }
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("lw-render-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        if (picture)
            FreeImage_Unload(picture);
        fs::remove_all(dir);
    }

    std::string Path(const std::string& name) const { return (dir / name).string(); }

    // Loads the PNG the command wrote; false when there is none.
    bool Load(const std::string& name)
    {
        if (picture)
            FreeImage_Unload(picture);
        picture = nullptr;
        if (FIBITMAP* png = FreeImage_Load(FIF_PNG, Path(name).c_str(), PNG_DEFAULT)) {
            picture = FreeImage_ConvertTo24Bits(png);
            FreeImage_Unload(png);
        }
        return picture != nullptr;
    }
    // Pixel (x, y) of the loaded picture, y counted from the top.
    COLORREF At(int x, int y) const
    {
        RGBQUAD q{};
        FreeImage_GetPixelColor(picture, x, FreeImage_GetHeight(picture) - 1 - y, &q);
        return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }

    fs::path dir;
    FIBITMAP* picture = nullptr;
};

TEST_F(RenderCommand, RefusesBadArgumentsAndMissingFiles)
{
    EXPECT_EQ(Lineweft("render").status, 2);
    EXPECT_EQ(Lineweft("render in.bmp").status, 2);
    EXPECT_EQ(Lineweft("render in.bmp -o out.bmp").status, 2);
    EXPECT_EQ(Lineweft("render in.bmp -o out.png --size 0x10").status, 2);
    EXPECT_EQ(Lineweft("render in.bmp -o out.png --size 20000x10").status, 2);
    EXPECT_EQ(Lineweft("render in.bmp -o out.png --zoom-window 0,0,0,5").status, 2);
    EXPECT_EQ(Lineweft("render in.bmp -o out.png --zoom-window 1,2,3").status, 2);
    const CliRun missing = Lineweft("render " + Path("none.bmp") + " -o " + Path("out.png"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("none.bmp"), std::string::npos);
    EXPECT_NE(missing.out.find("The file does not exist."), std::string::npos) << missing.out;
    EXPECT_FALSE(fs::exists(Path("out.png")));
    // A refused raster gives the reason, as info and trace do.
    std::ofstream(Path("notes.tga")) << "not a picture";
    const CliRun damaged = Lineweft("render " + Path("notes.tga") + " -o " + Path("out.png"));
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.out.find("The file is damaged or is not the image its name says. (image type"), std::string::npos)
        << damaged.out;
}

TEST_F(RenderCommand, DrawsARasterPixelForPixelInItsZoomWindow)
{
    // A white 40 x 20 scan with a black 2 x 2 block whose top-left pixel is
    // column 10, row 4: world x 10..12, y 14..16.
    CRasterSrc image;
    ASSERT_TRUE(image.Create(40, 20, 1));
    for (int y = 4; y < 6; ++y)
        for (int x = 10; x < 12; ++x)
            image.SetPixelBit(x, y, true);
    ASSERT_TRUE(image.SaveBMP(Path("scan.bmp")));

    // Four device pixels a unit over world x 8..18, y 10..20.
    const CliRun run =
        Lineweft("render " + Path("scan.bmp") + " -o " + Path("zoom.png") + " --size 40x40 --zoom-window 8,10,18,20");
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_TRUE(Load("zoom.png"));
    EXPECT_EQ(FreeImage_GetWidth(picture), 40u);
    EXPECT_EQ(FreeImage_GetHeight(picture), 40u);
    // Block at columns (10 - 8) * 4 .. (12 - 8) * 4, rows (20 - 16) * 4 .. (20 - 14) * 4.
    EXPECT_EQ(At(8, 16), RGB(0, 0, 0));
    EXPECT_EQ(At(15, 23), RGB(0, 0, 0));
    EXPECT_EQ(At(7, 16), RGB(255, 255, 255));
    EXPECT_EQ(At(16, 23), RGB(255, 255, 255));
    EXPECT_EQ(At(8, 15), RGB(255, 255, 255));
    EXPECT_EQ(At(15, 24), RGB(255, 255, 255));

    // The whole drawing by default: the frame with its shadow shows.
    ASSERT_EQ(Lineweft("render " + Path("scan.bmp") + " -o " + Path("all.png") + " --size 100x60").status, 0);
    ASSERT_TRUE(Load("all.png"));
    EXPECT_EQ(FreeImage_GetWidth(picture), 100u);
    int shadow = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x)
            shadow += At(x, y) == RGB(160, 160, 160);
    EXPECT_GT(shadow, 100);
}

// The picture is encoded row by row as it is written: every pixel of a noisy
// colour scan drawn one to one comes back, over more rows than one band of
// the blit and more compressed bytes than one chunk of the file.
TEST_F(RenderCommand, AColourScanDrawnOneToOneComesBackPixelForPixel)
{
    constexpr int kW = 300, kH = 200, kInset = 10;
    CRasterSrc image;
    ASSERT_TRUE(image.Create(kW, kH, 24));
    std::uint32_t noise = 5;
    for (int y = 0; y < kH; ++y) {
        BYTE* row = image.GetRow(y);
        for (int i = 0; i < kW * 3; ++i) {
            noise = noise * 1103515245u + 12345u;
            // Noise over gradients, so that every row filter has its turn.
            row[i] = static_cast<BYTE>(i % 3 == 0 ? (noise >> 16) : i % 3 == 1 ? (y + i) : (noise >> 24) % 16 + y);
        }
    }
    ASSERT_TRUE(image.SaveBMP(Path("noise.bmp")));
    // All but a margin of kInset pixels, whose frame would cover the edge.
    const CliRun run = Lineweft("render " + Path("noise.bmp") + " -o " + Path("noise.png") +
                                " --size 280x180 --zoom-window 10,10,290,190");
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_TRUE(Load("noise.png"));
    ASSERT_GT(fs::file_size(Path("noise.png")), 65536u);
    for (int y = 0; y < kH - 2 * kInset; ++y)
        for (int x = 0; x < kW - 2 * kInset; ++x) {
            const BYTE* p = image.GetRow(y + kInset) + 3 * (x + kInset);
            ASSERT_EQ(At(x, y), RGB(p[2], p[1], p[0])) << x << ", " << y;
        }
}

TEST_F(RenderCommand, DrawsTheVectorsOfProjectAndDxfFilesWithGrips)
{
    {
        CGraph graph;
        CLine* line = graph.AddLine(0, 0, 100, 50);
        ASSERT_NE(line, nullptr);
        line->m_Color = 1;
        ASSERT_TRUE(graph.SaveProject(Path("drawing.lwt"), nullptr));
    }
    const std::string window = " --size 100x50 --zoom-window 0,0,100,50";
    ASSERT_EQ(Lineweft("render " + Path("drawing.lwt") + " -o " + Path("lwt.png") + window).status, 0);
    ASSERT_TRUE(Load("lwt.png"));
    EXPECT_EQ(At(50, 25), RGB(255, 0, 0));  // the line's midpoint
    EXPECT_EQ(At(50, 10), RGB(255, 255, 255));

    std::ofstream(Path("drawing.dxf")) << "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n62\n1\n"
                                          "10\n0\n20\n0\n11\n100\n21\n50\n0\nENDSEC\n0\nEOF\n";
    const CliRun dxf = Lineweft("render " + Path("drawing.dxf") + " -o " + Path("dxf.png") + window + " --grips");
    ASSERT_EQ(dxf.status, 0) << dxf.out;
    ASSERT_TRUE(Load("dxf.png"));
    // Selected for its grips: drawn in the selection colour, with a grip
    // box round its midpoint.
    EXPECT_NE(At(50, 25), RGB(255, 255, 255));
    int changed = 0;
    for (int y = 18; y <= 32; ++y)
        for (int x = 43; x <= 57; ++x)
            changed += At(x, y) != RGB(255, 255, 255);
    EXPECT_GT(changed, 30);
}

}  // namespace
