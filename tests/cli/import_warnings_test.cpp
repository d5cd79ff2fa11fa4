// What a DXF import leaves out is said by every command that reads DXF.
#include <gtest/gtest.h>

#include "cli_runner.h"

#include <filesystem>
#include <string>
#include <unistd.h>

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

}  // namespace
