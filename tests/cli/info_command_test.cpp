// lineweft info: what a raster file holds, and clear failures.
#include "cli_runner.h"
#include "raster/crafted_files.h"
#include "raster/raster_test_support.h"

#include "raster/raster_file.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

namespace {

CliRun Info(const std::string& args) { return Lineweft("info " + args); }

bool Has(const CliRun& run, const std::string& text) { return run.out.find(text) != std::string::npos; }

}  // namespace

TEST(InfoCommand, PrintsWhatARasterHolds)
{
    TempFolder folder;
    CRasterSrc page;
    ASSERT_TRUE(page.Create(40, 30, 8));
    page.SetGreyRamp();
    for (int y = 0; y < 30; ++y)
        std::memset(page.GetRow(y), 255, 40);
    ASSERT_TRUE(page.SetResolution(11811));
    ASSERT_TRUE(page.SaveBMP(folder / "blank.bmp"));

    CliRun run = Info(folder / "blank.bmp");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "Format:              BMP")) << run.out;
    EXPECT_TRUE(Has(run, "Pages:               1"));
    EXPECT_TRUE(Has(run, "Width:               40 pixels"));
    EXPECT_TRUE(Has(run, "Height:              30 pixels"));
    EXPECT_TRUE(Has(run, "Bits per pixel:      8"));
    EXPECT_TRUE(Has(run, "Resolution:          300 x 300 dpi (11811 x 11811 dots per metre)"));
    EXPECT_TRUE(Has(run, "Automatic threshold: 239"));

    ASSERT_TRUE(page.ConvertTo1Bit(128));
    ASSERT_TRUE(page.SetResolution(0));
    ASSERT_TRUE(page.SaveBMP(folder / "line.bmp"));
    run = Info(folder / "line.bmp");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "Bits per pixel:      1"));
    EXPECT_TRUE(Has(run, "Resolution:          200 x 200 dpi")) << run.out;
    EXPECT_TRUE(Has(run, "none in the file")) << run.out;
    EXPECT_TRUE(Has(run, "1 point per pixel"));
    EXPECT_TRUE(Has(run, "Automatic threshold: none (already 1 bit per pixel)"));
}

TEST(InfoCommand, ListsThePagesOfAMultiPageTiff)
{
    TempFolder folder;
    std::string path = folder / "a.tif";
    FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(FIF_TIFF, path.c_str(), TRUE, FALSE, TRUE, 0);
    ASSERT_NE(multi, nullptr);
    for (int i = 0; i < 3; ++i) {
        FIBITMAP* bitmap = FreeImage_Allocate(10 + i, 8, 24);
        FreeImage_AppendPage(multi, bitmap);
        FreeImage_Unload(bitmap);
    }
    FreeImage_CloseMultiBitmap(multi, 0);

    CliRun run = Info(path);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "Format:              TIFF"));
    EXPECT_TRUE(Has(run, "Pages:               3"));
    EXPECT_TRUE(Has(run, "Page 3:              " + folder / "a_2.tif")) << run.out;
    EXPECT_TRUE(Has(run, "  Width:               12 pixels"));
    EXPECT_TRUE(Has(run, "  Bits per pixel:      24"));
}

TEST(InfoCommand, MissingUnsupportedAndDamagedFilesFailClearly)
{
    TempFolder folder;
    CliRun run = Info(folder / "absent.bmp");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run, "does not exist")) << run.out;

    std::ofstream(folder / "notes.txt") << "hello";
    run = Info(folder / "notes.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run, "Unsupported file type")) << run.out;

    std::ofstream(folder / "broken.tga") << "not a picture";
    run = Info(folder / "broken.tga");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run, "damaged")) << run.out;

    FIBITMAP* floats = FreeImage_AllocateT(FIT_DOUBLE, 2, 2);
    ASSERT_TRUE(FreeImage_Save(FIF_TIFF, floats, (folder / "float.tif").c_str(), 0));
    FreeImage_Unload(floats);
    run = Info(folder / "float.tif");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run, "pixel format is not supported")) << run.out;

    EXPECT_EQ(Info("").status, 2);
    EXPECT_EQ(Info("a.bmp b.bmp").status, 2);
}

TEST(InfoCommand, OneBitTiffPagesArePrintedFromTheirHeadersAndBrokenResolutionsAsNone)
{
    // A Group 4 page of 100,000 pixels square in strips of 1000 rows, whose
    // decoding took 2.4 GB (bench/raster_files_bench.sh measures the bound).
    TempFolder folder;
    const std::vector<CTiffEntry> page = {{256, kTiffLong, 100000},
                                          {257, kTiffLong, 100000},
                                          {258, kTiffShort, 1},
                                          {259, kTiffShort, 4},
                                          {262, kTiffShort, 0},
                                          {278, kTiffLong, 1000},
                                          {282, kTiffRational, 4294967295u, 1},
                                          {283, kTiffRational, 1, 4294967295u},
                                          {296, kTiffShort, 77}};
    WriteBytes(folder / "huge.tif", CraftTiff(page, std::vector<BYTE>(20000, 0), false, 0, 100));
    CliRun run = Info(folder / "huge.tif");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "Width:               100000 pixels")) << run.out;
    EXPECT_TRUE(Has(run, "Bits per pixel:      1"));
    // 40372693 x 0 dpi before.
    EXPECT_TRUE(Has(run, "Resolution:          200 x 200 dpi (7874 x 7874 dots per metre)"));
    EXPECT_TRUE(Has(run, "none in the file"));
    EXPECT_TRUE(Has(run, "Automatic threshold: none (already 1 bit per pixel)"));

    // A page of a sound resolution prints it.
    WriteBytes(folder / "small.tif", CraftTiff({{256, kTiffLong, 8},
                                                {257, kTiffLong, 1},
                                                {258, kTiffShort, 1},
                                                {259, kTiffShort, 1},
                                                {262, kTiffShort, 0},
                                                {282, kTiffRational, 600},
                                                {283, kTiffRational, 300}},
                                               {0x80}));
    run = Info(folder / "small.tif");
    EXPECT_TRUE(Has(run, "Resolution:          600 x 300 dpi (23622 x 11811 dots per metre)")) << run.out;
    EXPECT_FALSE(Has(run, "none in the file"));
}

TEST(InfoCommand, ARunLengthBmpReadPastDamageIsNamedInAWarning)
{
    TempFolder folder;
    // 2 x 1 at 8 bits, RLE8: a run of three on a row of two.
    std::vector<BYTE> bmp = {'B', 'M'};
    Put(bmp, 10, 14 + 40 + 8, 4);
    Put(bmp, 14, 40, 4);
    Put(bmp, 18, 2, 4);
    Put(bmp, 22, 1, 4);
    Put(bmp, 26, 1, 2);
    Put(bmp, 28, 8, 2);
    Put(bmp, 30, 1, 4);
    Put(bmp, 46, 2, 4);
    Put(bmp, 54, 0x00FFFFFF, 4);
    Put(bmp, 58, 0, 4);
    bmp.insert(bmp.end(), {3, 1, 0, 1});
    WriteBytes(folder / "runs.bmp", bmp);
    CliRun run = Info(folder / "runs.bmp");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "lineweft: warning: '" + folder / "runs.bmp" +
                             "' is damaged (a run overruns row 1 from the bottom); it was read as far as it goes"))
        << run.out;
    run = Lineweft("raster " + folder / "runs.bmp" + " -o " + folder / "out.bmp");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "a run overruns row 1")) << run.out;
}

// "-" reads the file from standard input; its kind comes from its content.
TEST(InfoCommand, ReadsEveryKindOfFileFromStandardInput)
{
    TempFolder folder;
    CRasterSrc page;
    ASSERT_TRUE(page.Create(40, 30, 8));
    page.SetGreyRamp();
    for (int y = 0; y < 30; ++y)  // white with a black square
        std::memset(page.GetRow(y), y >= 10 && y < 20 ? 0 : 255, 40);
    ASSERT_TRUE(page.SetResolution(11811));
    ASSERT_TRUE(page.SaveBMP(folder / "page.bmp"));
    const std::string cli = LW_CLI_PATH;
    CliRun run = Shell(cli + " info - < " + folder / "page.bmp");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "File:                -\n")) << run.out;
    EXPECT_TRUE(Has(run, "Format:              BMP"));
    EXPECT_TRUE(Has(run, "Width:               40 pixels"));

    // A project, traced from the same page, and a DXF file.
    ASSERT_EQ(Lineweft("trace " + folder / "page.bmp" + " -o " + folder / "page.lwt").status, 0);
    run = Shell(cli + " info - < " + folder / "page.lwt");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "Format:              Lineweft project")) << run.out;
    EXPECT_TRUE(Has(run, "Width:               40 pixels")) << run.out;
    std::ofstream(folder / "line.dxf") << "999\nmade by hand\n  0\nSECTION\n  2\nENTITIES\n  0\nLINE\n  8\nWalls\n"
                                          " 10\n0\n 20\n0\n 11\n5\n 21\n5\n  0\nENDSEC\n  0\nEOF\n";
    run = Shell("cat " + folder / "line.dxf" + " | " + cli + " info -");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "Format:              DXF")) << run.out;
    EXPECT_TRUE(Has(run, "1 line")) << run.out;

    run = Shell("echo hello | " + cli + " info -");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run, "Unsupported file type")) << run.out;
    run = Shell(cli + " info - < /dev/null");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run, "standard input is empty")) << run.out;
}

TEST(InfoCommand, AFileIsDescribedAsWhatItHolds)
{
    TempFolder folder;
    CRasterSrc page;
    ASSERT_TRUE(page.Create(6, 4, 24));
    ASSERT_TRUE(page.SaveBMP(folder / "page.bmp"));
    std::filesystem::copy_file(folder / "page.bmp", folder / "page.tif");
    CliRun run = Info(folder / "page.tif");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "Format:              BMP (the file's name says TIFF)")) << run.out;
    run = Info(folder / "page.bmp");
    EXPECT_TRUE(Has(run, "Format:              BMP\n")) << run.out;

    std::ofstream(folder / "cut.bmp") << "BM";
    run = Info(folder / "cut.bmp");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run, "truncated")) << run.out;
    run = Info(folder / "absent.pcx");
    EXPECT_TRUE(Has(run, "does not exist. (No such file or directory)")) << run.out;
}

// info counts an 8-bit grey or RGB TIFF page strip by strip; the threshold
// it shows must be the one trace takes when told "auto".
TEST(InfoCommand, TheThresholdOfAGreyOrColourTiffPageIsTheOneTraceUses)
{
    TempFolder folder;
    const std::string out = folder / "out.dxf";
    auto traced = [&](const std::string& page, const std::string& threshold) {
        const CliRun run = Lineweft("trace " + page + " -o " + out + " --method outline --threshold " + threshold);
        EXPECT_EQ(run.status, 0) << run.out;
        return ReadBytes(out);
    };
    constexpr std::uint32_t kW = 420, kH = 300;
    for (std::uint16_t samples : {1, 3}) {
        const std::string page = folder / "page.tif";
        ASSERT_TRUE(WriteEncodedTiff(page, kW, kH, samples, samples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB,
                                     {"LZW", COMPRESSION_LZW, 16}, ScanPicture(kW, kH, samples)));
        const CliRun run = Info(page);
        ASSERT_EQ(run.status, 0) << run.out;
        const std::size_t at = run.out.find("Automatic threshold: ");
        ASSERT_NE(at, std::string::npos) << run.out;
        const std::string threshold = run.out.substr(at + 21, run.out.find('\n', at) - at - 21);
        const std::vector<BYTE> automatic = traced(page, "auto");
        EXPECT_EQ(automatic, traced(page, threshold)) << samples << " samples, threshold " << threshold;
        // The band between ink and paper makes the level matter.
        EXPECT_NE(automatic, traced(page, "128")) << samples << " samples";
    }
}

// A page info cannot count strip by strip and would not decode in its
// memory bound is described without its threshold, saying so.
TEST(InfoCommand, ALargePageThatCannotBeCountedHasItsThresholdLeftOut)
{
    if (!TIFFIsCODECConfigured(COMPRESSION_JPEG))
        GTEST_SKIP() << "no JPEG codec";
    TempFolder folder;
    constexpr std::uint32_t kSide = 4100;  // 64 MiB at 32 bits a pixel, and a little more
    const std::string page = folder / "jpeg.tif";
    ASSERT_TRUE(WriteEncodedTiff(page, kSide, kSide, 1, PHOTOMETRIC_MINISBLACK, {"JPEG", COMPRESSION_JPEG, 64},
                                 std::vector<BYTE>(std::size_t{kSide} * kSide, 230)));
    CliRun run = Info(page);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Has(run, "Width:               4100 pixels")) << run.out;
    EXPECT_TRUE(Has(run, "Bits per pixel:      8 (as stored)")) << run.out;
    EXPECT_TRUE(Has(run, "(automatic threshold left out: the page is too large to decode here)")) << run.out;
    EXPECT_FALSE(Has(run, "Automatic threshold:")) << run.out;
    // A smaller one is decoded.
    ASSERT_TRUE(WriteEncodedTiff(page, 64, 64, 1, PHOTOMETRIC_MINISBLACK, {"JPEG", COMPRESSION_JPEG, 64},
                                 std::vector<BYTE>(64 * 64, 230)));
    run = Info(page);
    EXPECT_TRUE(Has(run, "Automatic threshold:")) << run.out;
    EXPECT_FALSE(Has(run, "(as stored)")) << run.out;
}
