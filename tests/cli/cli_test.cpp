#include <gtest/gtest.h>

#include "cli_runner.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {}  // namespace

TEST(Cli, HelpAndVersionSucceed)
{
    CliRun help = Lineweft("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: lineweft"), std::string::npos);
    EXPECT_NE(help.out.find("install"), std::string::npos);
    CliRun version = Lineweft("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("lineweft ", 0), 0u);
}

// Output that cannot be written is a failure that says why, whatever wrote it.
TEST(Cli, AStandardOutputThatCannotBeWrittenFailsAndSaysWhy)
{
    const std::string page = std::string(LW_TEST_DATA_DIR) + "/../../samples/plate.tif";
    for (const std::string& args :
         std::vector<std::string>{"--version", "trace --help", "options", "options --describe", "info " + page}) {
        const CliRun run = Shell("(" + std::string(LW_CLI_PATH) + " " + args + " >/dev/full)");
        EXPECT_EQ(run.status, 1) << args << run.out;
        EXPECT_NE(run.out.find("cannot write to standard output: No space left on device"), std::string::npos)
            << args << run.out;
    }
}

TEST(Cli, UnknownCommandsAndOptionsAreUsageErrors)
{
    CliRun command = Lineweft("frobnicate");
    EXPECT_EQ(command.status, 2);
    EXPECT_NE(command.out.find("unknown command 'frobnicate'"), std::string::npos);
    CliRun option = Lineweft("--frobnicate");
    EXPECT_EQ(option.status, 2);
    EXPECT_NE(option.out.find("unknown option '--frobnicate'"), std::string::npos);
    EXPECT_EQ(Lineweft("").status, 2);
    EXPECT_EQ(Lineweft("install extra").status, 2);
}

TEST(Cli, InstallAndUninstallTheProjectType)
{
    CliRun install = Lineweft("install");
    ASSERT_EQ(install.status, 0) << install.out;
    std::string mime = std::string(std::getenv("XDG_DATA_HOME")) + "/mime/packages/lineweft-lwt.xml";
    EXPECT_TRUE(std::filesystem::exists(mime));
    EXPECT_EQ(Lineweft("uninstall").status, 0);
    EXPECT_FALSE(std::filesystem::exists(mime));
}

// An unknown option is named as unknown (never as missing a value) and the
// command's usage line follows, for every command.
TEST(Cli, UnknownOptionsOfEachCommandRepeatTheUsageLine)
{
    const char* const commands[] = {"trace x.tif -o x.dxf",
                                    "convert x.lwt -o x.dxf",
                                    "raster x.tif -o x.bmp",
                                    "render x.tif -o x.png",
                                    "info x.tif",
                                    "options"};
    for (const char* command : commands) {
        const std::string name = std::string(command).substr(0, std::string(command).find(' '));
        for (const char* where : {" --bogus", " --bogus 3"}) {
            CliRun run = Lineweft(command + std::string(where));
            EXPECT_EQ(run.status, 2) << command << run.out;
            EXPECT_NE(run.out.find("unknown option '--bogus'"), std::string::npos) << command << run.out;
            EXPECT_NE(run.out.find("Usage: lineweft " + name), std::string::npos) << command << run.out;
        }
    }
    // A known option at the end still lacks its value.
    CliRun run = Lineweft("trace x.tif --page");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.out.find("--page needs a value"), std::string::npos) << run.out;
}

// Each command's help lists every value its options take.
TEST(Cli, HelpOfEachCommandListsEveryAcceptedValue)
{
    const char* const formats[] = {"dxf", "dxf-r10", "svg", "svgz", "eps", "pdf", "cgm", "hpgl", "plt", "emf", "lwt"};
    for (const char* command : {"trace", "convert"}) {
        CliRun help = Lineweft(std::string(command) + " --help");
        EXPECT_EQ(help.status, 0);
        for (const char* format : formats) {
            const std::string name = std::string(" ") + format;
            const bool listed =
                help.out.find(name + ",") != std::string::npos || help.out.find(name + "\n") != std::string::npos;
            EXPECT_TRUE(listed) << command << " " << format;
        }
        for (const char* unit : {"inch", "cm", "mm", "pixel"})
            EXPECT_NE(help.out.find(unit), std::string::npos) << command << " " << unit;
    }
    for (const char* command : {"trace", "raster"}) {
        const std::string help = Lineweft(std::string(command) + " --help").out;
        // The built-in templates and every resampling filter.
        for (const char* value :
             {"\"Blur 3x3\"", "\"Sharpen 3x3\"", "\"Edges 3x3\"", "\"Horizontal lines\"", "\"Vertical lines\"",
              "triangle", "box", "hermite", "bell", "spline", "lanczos3", "mitchell", "--median N", "--replace-colour"})
            EXPECT_NE(help.find(value), std::string::npos) << command << " " << value;
    }
    const std::string trace = Lineweft("trace --help").out;
    for (const char* value : {"centerline", "outline", "fill", "auto", "dynamic", "0 to 255", "--job", "--section"})
        EXPECT_NE(trace.find(value), std::string::npos) << value;
}
