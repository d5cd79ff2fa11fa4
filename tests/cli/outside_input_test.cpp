// Files from outside: what a DXF import leaves out is said by every command
// that reads DXF, and a FIFO where a file is expected is refused at once.
#include <gtest/gtest.h>

#include "cli_runner.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "support/fifo_guard.h"

namespace {

namespace fs = std::filesystem;

TEST(ImportWarnings, ConvertInfoAndRenderNameEachKindLeftOut)
{
    const fs::path dir = fs::temp_directory_path() / ("lw-warnings-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string input = std::string(LW_TEST_DATA_DIR) + "/dxf/r2000_entities.dxf";
    const std::string spline = "warning: " + input + ": 1 SPLINE entity was left out";
    const std::string ellipse = "warning: " + input + ": 1 ELLIPSE entity was left out";
    for (const std::string& args : {"convert " + input + " -o " + (dir / "out.svg").string(), "info " + input,
                                    "render " + input + " -o " + (dir / "out.png").string() + " --size 32x32"}) {
        const CliRun run = Lineweft(args);
        EXPECT_EQ(run.status, 0) << args << "\n" << run.out;
        EXPECT_NE(run.out.find(spline), std::string::npos) << args << "\n" << run.out;
        EXPECT_NE(run.out.find(ellipse), std::string::npos) << args << "\n" << run.out;
    }
    fs::remove_all(dir);
}

TEST(OutsideFiles, FifosAsLanguageJobRasterOrDxfFilesAreRefusedWithoutWaiting)
{
    const fs::path dir = fs::temp_directory_path() / ("lw-fifos-" + std::to_string(::getpid()));
    fs::create_directories(dir / "config");
    FifoGuard language((dir / "german.lan").string()), job((dir / "job.lwj").string()),
        raster((dir / "scan.tif").string()), dxf((dir / "plan.dxf").string());
    ASSERT_TRUE(language.Made() && job.Made() && raster.Made() && dxf.Made());
    std::ofstream(dir / "config" / "settings.conf")
        << "[Software\\Korvane\\Lineweft\\Language]\n\"LanguageFileName\"=\"" << language.Path() << "\"\n";
    const std::string run = "LINEWEFT_CONFIG_DIR=" + (dir / "config").string() + " timeout 60 " + LW_CLI_PATH;

    // The language file is read at start-up: the command still runs, in English.
    const CliRun options = Shell(run + " options");
    EXPECT_EQ(options.status, 0) << options.out;
    EXPECT_NE(options.out.find("cannot read the language file " + language.Path() + " (not a regular file)"),
              std::string::npos)
        << options.out;
    const CliRun jobRun = Shell(run + " options --load " + job.Path());
    EXPECT_EQ(jobRun.status, 1) << jobRun.out;
    EXPECT_NE(jobRun.out.find(job.Path() + ": not a regular file"), std::string::npos) << jobRun.out;
    const CliRun rasterRun = Shell(run + " trace " + raster.Path() + " -o " + (dir / "out.dxf").string());
    EXPECT_EQ(rasterRun.status, 1) << rasterRun.out;
    const CliRun dxfRun = Shell(run + " info " + dxf.Path());
    EXPECT_EQ(dxfRun.status, 1) << dxfRun.out;
    EXPECT_NE(dxfRun.out.find("not a regular file"), std::string::npos) << dxfRun.out;
    for (FifoGuard* fifo : {&language, &job, &raster, &dxf}) {
        EXPECT_FALSE(fifo->WokeAReader()) << fifo->Path();
        EXPECT_TRUE(fifo->IsStillAFifo()) << fifo->Path();
    }
    EXPECT_FALSE(fs::exists(dir / "out.dxf"));
    fs::remove_all(dir);
}

}  // namespace
