// Projects through the command line: trace the sample into a project, convert
// it to other formats, describe it, and fail clearly on bad input.
#include <gtest/gtest.h>

#include "cli_runner.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "raster/raster_src.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Has(const CliRun& run, const std::string& text) { return run.out.find(text) != std::string::npos; }

class ConvertCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        suiteDir = fs::temp_directory_path() / ("lw-convert-" + std::to_string(::getpid()));
        fs::create_directories(suiteDir);
        project = suiteDir / "plate.lwt";
        const std::string sample = std::string(LW_TEST_DATA_DIR) + "/../../samples/plate.tif";
        traced = Lineweft("trace " + sample + " -o " + project.string());
    }
    static void TearDownTestSuite() { fs::remove_all(suiteDir); }

    static inline fs::path suiteDir;
    static inline fs::path project;
    static inline CliRun traced;
};

}  // namespace

TEST_F(ConvertCommand, TraceWritesAProjectWithTheRasterThatInfoDescribes)
{
    ASSERT_EQ(traced.status, 0) << traced.out;
    EXPECT_EQ(ReadFile(project).substr(0, 4), std::string("\x00\x00\x80\x3F", 4));

    CliRun info = Lineweft("info " + project.string());
    ASSERT_EQ(info.status, 0) << info.out;
    EXPECT_TRUE(Has(info, "Format:              Lineweft project")) << info.out;
    EXPECT_TRUE(Has(info, "Unit:                pixel"));
    EXPECT_TRUE(Has(info, "Layers:              1\n  Trace: "));
    EXPECT_TRUE(Has(info, "polylines"));
    EXPECT_TRUE(Has(info, "  Width:               1500 pixels"));
    EXPECT_TRUE(Has(info, "  Bits per pixel:      1"));
    EXPECT_TRUE(Has(info, "Extents:             "));
}

TEST_F(ConvertCommand, ProjectConvertsToDxfSvgAndBackToTheSameProject)
{
    ASSERT_EQ(traced.status, 0) << traced.out;
    const fs::path dxf = suiteDir / "plate.dxf";
    CliRun run = Lineweft("convert " + project.string() + " -o " + dxf.string());
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string dxfText = ReadFile(dxf);
    EXPECT_NE(dxfText.find("LWPOLYLINE"), std::string::npos);
    EXPECT_NE(dxfText.find("\nEOF"), std::string::npos);

    // The DXF reads back with the same entities; info describes it too.
    const fs::path fromDxf = suiteDir / "from-dxf.lwt";
    run = Lineweft("convert " + dxf.string() + " -o " + fromDxf.string());
    ASSERT_EQ(run.status, 0) << run.out;
    const CliRun projectInfo = Lineweft("info " + project.string());
    const std::size_t at = projectInfo.out.find("Entities:");
    ASSERT_NE(at, std::string::npos);
    const std::string entities = projectInfo.out.substr(at, projectInfo.out.find('\n', at) - at);
    EXPECT_TRUE(Has(Lineweft("info " + fromDxf.string()), entities)) << entities;
    EXPECT_TRUE(Has(Lineweft("info " + dxf.string()), "Format:              DXF"));

    const fs::path svg = suiteDir / "plate.out";
    run = Lineweft("convert " + project.string() + " -o " + svg.string() + " --format svg --widths off");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(ReadFile(svg).find("<svg"), std::string::npos);

    // A project written again is the same file; a new unit is the only change.
    const fs::path copy = suiteDir / "copy.lwt";
    ASSERT_EQ(Lineweft("convert " + project.string() + " -o " + copy.string()).status, 0);
    EXPECT_EQ(ReadFile(copy), ReadFile(project));
    ASSERT_EQ(Lineweft("convert " + project.string() + " -o " + copy.string() + " --unit mm").status, 0);
    EXPECT_TRUE(Has(Lineweft("info " + copy.string()), "Unit:                mm"));
}

TEST_F(ConvertCommand, AProjectFromStandardInputConvertsAndLeavesNoCopy)
{
    ASSERT_EQ(traced.status, 0) << traced.out;
    const fs::path temporary = suiteDir / "tmp";
    fs::create_directories(temporary);
    const fs::path piped = suiteDir / "piped.dxf";
    const fs::path named = suiteDir / "named.dxf";
    const CliRun run = Shell("TMPDIR=" + temporary.string() + " " + LW_CLI_PATH + " convert - -o " + piped.string() +
                             " < " + project.string());
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_EQ(Lineweft("convert " + project.string() + " -o " + named.string()).status, 0);
    EXPECT_EQ(ReadFile(piped), ReadFile(named));
    EXPECT_TRUE(fs::is_empty(temporary));
}

TEST_F(ConvertCommand, BadInputsFailClearlyWithoutWritingAFile)
{
    ASSERT_EQ(traced.status, 0) << traced.out;
    const fs::path out = suiteDir / "never.dxf";

    std::string damaged = ReadFile(project);
    damaged.resize(damaged.size() / 2);
    const fs::path cut = suiteDir / "cut.lwt";
    std::ofstream(cut, std::ios::binary) << damaged;
    CliRun run = Lineweft("convert " + cut.string() + " -o " + out.string());
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run, "cannot read '" + cut.string() + "'")) << run.out;
    run = Lineweft("info " + cut.string());
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run, "cannot read")) << run.out;

    EXPECT_EQ(Lineweft("convert " + project.string()).status, 2);
    EXPECT_EQ(Lineweft("convert plate.png -o " + out.string()).status, 2);
    EXPECT_EQ(Lineweft("convert " + project.string() + " -o " + out.string() + " --format tiff").status, 2);
    EXPECT_EQ(Lineweft("convert " + project.string() + " -o " + out.string() + " --unit yard").status, 2);
    EXPECT_FALSE(fs::exists(out));

    // A blank page traces to nothing, and an empty project is not written.
    const fs::path blank = suiteDir / "blank.bmp";
    CRasterSrc page;
    ASSERT_TRUE(page.Create(40, 30, 1));
    ASSERT_TRUE(page.SaveBMP(blank.string()));
    run = Lineweft("trace " + blank.string() + " -o " + (suiteDir / "blank.lwt").string());
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(Has(run, "no entities")) << run.out;
    EXPECT_FALSE(fs::exists(suiteDir / "blank.lwt"));
}
