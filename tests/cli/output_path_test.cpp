// Where the commands write: standard output, links and devices, and nothing
// at all when a trace is stopped.
#include <gtest/gtest.h>

#include "cli_process.h"
#include "cli_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "raster/raster_src.h"
#include "support/file_contents.h"

namespace {

namespace fs = std::filesystem;

bool Has(const CliRun& run, const std::string& text) { return run.out.find(text) != std::string::npos; }

class OutputPath : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        suiteDir = fs::temp_directory_path() / ("lw-output-" + std::to_string(::getpid()));
        fs::create_directories(suiteDir);
        project = suiteDir / "plate.lwt";
        const std::string sample = std::string(LW_TEST_DATA_DIR) + "/../../samples/plate.tif";
        traced = Lineweft("trace " + sample + " -o " + project.string());
    }
    static void TearDownTestSuite() { fs::remove_all(suiteDir); }

    void SetUp() override
    {
        ASSERT_EQ(traced.status, 0) << traced.out;
        dir = suiteDir / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir);
    }

    // The command run from the test's own folder.
    CliRun Here(const std::string& command) { return Shell("cd " + dir.string() + " && " + command); }

    static inline fs::path suiteDir;
    static inline fs::path project;
    static inline CliRun traced;
    fs::path dir;
};

}  // namespace

TEST_F(OutputPath, AMinusWritesToStandardOutputAndNoFileNamedMinus)
{
    const CliRun dxf = Here(std::string(LW_CLI_PATH) + " convert " + project.string() +
                            " -o - --format dxf 2>/dev/null | /usr/bin/python3 -c "
                            "'import sys,io,ezdxf;d=ezdxf.read(io.StringIO(sys.stdin.read()));"
                            "print(len(d.audit().errors),len(d.modelspace()))'");
    ASSERT_EQ(dxf.status, 0) << dxf.out;
    EXPECT_EQ(dxf.out.substr(0, 2), "0 ") << dxf.out;
    EXPECT_NE(dxf.out, "0 0\n");

    const CliRun png = Here(std::string(LW_CLI_PATH) + " render " + project.string() +
                            " -o - --size 64x48 | /usr/bin/python3 -c "
                            "'import sys;d=sys.stdin.buffer.read();print(d[:4]==b\"\\x89PNG\")'");
    ASSERT_EQ(png.status, 0) << png.out;
    EXPECT_EQ(png.out, "True\n");

    const CliRun bmp = Here(std::string(LW_CLI_PATH) + " raster " + std::string(LW_TEST_DATA_DIR) +
                            "/../../samples/plate.tif -o - | head -c 2");
    EXPECT_EQ(bmp.out, "BM");

    // A link to the process's standard output, made here rather than the
    // system's /dev/stdout, which a fault could replace.
    fs::create_symlink("/proc/self/fd/1", dir / "stdout");
    const CliRun device = Here(std::string(LW_CLI_PATH) + " convert " + project.string() +
                               " -o stdout --format svg 2>/dev/null | head -c 5");
    EXPECT_EQ(device.out, "<?xml");
    EXPECT_TRUE(fs::is_symlink(dir / "stdout"));
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"stdout"});
}

TEST_F(OutputPath, ALinkedOutputKeepsItsLinkAndSaveErrorsSayWhy)
{
    fs::create_directories(dir / "real");
    WriteFile(dir / "real" / "plan.svg", "old");
    fs::create_symlink("real/plan.svg", dir / "plan.svg");
    const CliRun svg = Here(std::string(LW_CLI_PATH) + " convert " + project.string() + " -o plan.svg");
    ASSERT_EQ(svg.status, 0) << svg.out;
    EXPECT_TRUE(fs::is_symlink(dir / "plan.svg"));
    EXPECT_EQ(ReadFile(dir / "real" / "plan.svg").substr(0, 5), "<?xml");

    for (const char* name : {"missing/plan.dxf", "missing/plan.svg", "missing/plan.lwt", "missing/plan.png"}) {
        const bool render = std::string(name).ends_with(".png");
        const CliRun failed = Lineweft(std::string(render ? "render " : "convert ") + project.string() + " -o " +
                                       (dir / name).string() + (render ? " --size 8x8" : ""));
        EXPECT_NE(failed.status, 0) << name;
        EXPECT_TRUE(Has(failed, "No such file or directory")) << failed.out;
    }
}

TEST_F(OutputPath, AStoppedTraceLeavesTheEarlierOutputByteForByte)
{
    const fs::path input = NoisePage(dir, 2000);
    const fs::path output = dir / "keep.dxf";
    const std::string earlier = "an earlier good output\n";
    WriteFile(output, earlier);
    const std::vector<std::string> before = Entries(dir);
    // Early, in the middle and at the last step of the run.
    for (const char* step : {"1 / ", "4 / ", "7 / ", "10 / "}) {
        const fs::path errors = dir.parent_path() / "stderr.txt";
        const pid_t pid = Start({"trace", input.string(), "-o", output.string()}, errors);
        ASSERT_GT(pid, 0);
        const bool reached = WaitFor(errors, step);
        ::kill(pid, SIGINT);
        int status = -1;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(reached) << step << ReadFile(errors);
        const bool last = std::string(step) == "10 / ";
        // At the last step the signal may come too late to stop the run: the
        // run then ends as usual, or, past its handler, the signal ends the
        // process as it would any other. The file is then the earlier one or
        // the whole new one, never a part of it.
        if (last && (WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0))) {
            const std::string now = ReadFile(output);
            const std::string end = "  0\nEOF\n";
            const bool whole = now.size() > end.size() && now.compare(now.size() - end.size(), end.size(), end) == 0;
            EXPECT_TRUE(now == earlier || whole) << step << now.substr(0, 200);
            EXPECT_EQ(Entries(dir), before) << step;
            continue;
        }
        ASSERT_TRUE(WIFEXITED(status)) << step;
        EXPECT_EQ(WEXITSTATUS(status), 5) << step << ReadFile(errors);
        EXPECT_NE(ReadFile(errors).find("nothing was written"), std::string::npos) << ReadFile(errors);
        EXPECT_EQ(ReadFile(output), earlier) << step;
        EXPECT_EQ(Entries(dir), before) << step;
    }
}
