// `lineweft raster` end to end, and the clean-up steps it shares with trace:
// small generated rasters in, BMP out, read back pixel by pixel.
#include <gtest/gtest.h>

#include "cli_runner.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "raster/raster_src.h"

namespace {

namespace fs = std::filesystem;

class RasterCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("lw-raster-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A white 24-bit page 20 x 10 with a red pixel at (2, 1).
    std::string Page()
    {
        CRasterSrc image;
        EXPECT_TRUE(image.Create(20, 10, 24));
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x)
                image.SetPixelRGB(x, y, 255, 255, 255);
        image.SetPixelRGB(2, 1, 255, 0, 0);
        const std::string path = (dir / "page.bmp").string();
        EXPECT_TRUE(image.SaveBMP(path));
        return path;
    }

    // Runs raster on the page with the steps and reads the result back.
    bool Run(const std::string& steps, CRasterSrc& result)
    {
        const std::string out = (dir / "out.bmp").string();
        const CliRun run = Lineweft("raster " + Page() + " -o " + out + " " + steps);
        EXPECT_EQ(run.status, 0) << steps << "\n" << run.out;
        return run.status == 0 && result.Load(out);
    }

    static std::string Rgb(const CRasterSrc& image, int x, int y)
    {
        BYTE r = 0, g = 0, b = 0;
        image.GetPixelRGB(x, y, r, g, b);
        char text[8];
        std::snprintf(text, sizeof text, "%02x%02x%02x", r, g, b);
        return text;
    }

    fs::path dir;
};

TEST_F(RasterCommand, InvertComplementsEveryPixel)
{
    CRasterSrc image;
    ASSERT_TRUE(Run("--invert", image));
    EXPECT_EQ(image.GetWidth(), 20);
    EXPECT_EQ(Rgb(image, 2, 1), "00ffff");
    EXPECT_EQ(Rgb(image, 0, 0), "000000");
    EXPECT_EQ(Rgb(image, 19, 9), "000000");
}

TEST_F(RasterCommand, StepsRunInTheOrderGiven)
{
    CRasterSrc image;
    // The inverted red pixel is cyan by the time the replacement looks for it...
    ASSERT_TRUE(Run("--invert --replace-colour 00ffff:0000ff", image));
    EXPECT_EQ(Rgb(image, 2, 1), "0000ff");
    // ...but not when the replacement comes first.
    ASSERT_TRUE(Run("--replace-colour 00FFFF:0000ff --invert", image));
    EXPECT_EQ(Rgb(image, 2, 1), "00ffff");

    // An 8 x 5 crop whose top left is the red pixel, turned clockwise: 5 x 8
    // with the pixel at the top right.
    ASSERT_TRUE(Run("--crop 2,1,8,5 --rotate 90", image));
    EXPECT_EQ(image.GetWidth(), 5);
    EXPECT_EQ(image.GetHeight(), 8);
    EXPECT_EQ(Rgb(image, 4, 0), "ff0000");
    ASSERT_TRUE(Run("--rotate 90 --crop 0,0,4,3", image));
    EXPECT_EQ(image.GetWidth(), 4);
    EXPECT_EQ(image.GetHeight(), 3);

    ASSERT_TRUE(Run("--mirror --flip --resample 10x5:box", image));
    EXPECT_EQ(image.GetWidth(), 10);
    EXPECT_EQ(image.GetHeight(), 5);
}

TEST_F(RasterCommand, BadValuesAreUsageErrors)
{
    const std::string page = Page();
    const std::string out = (dir / "out.bmp").string();
    for (const char* steps : {"--median 4", "--crop 1,2,3", "--crop 0,0,0,4", "--rotate", "--rotate left",
                              "--replace-colour red:blue", "--replace-colour ff0000", "--resample 10x0",
                              "--resample 10x10:nope", "--brightness 101", "--fill-holes -1"}) {
        const CliRun run = Lineweft("raster " + page + " -o " + out + " " + steps);
        EXPECT_EQ(run.status, 2) << steps << "\n" << run.out;
    }
    EXPECT_EQ(Lineweft("raster " + page + " -o " + (dir / "out.png").string()).status, 2);
    EXPECT_EQ(Lineweft("trace " + page + " -o " + (dir / "out.dxf").string() + " --median 2").status, 2);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(RasterCommand, FailuresSayWhatWentWrong)
{
    const std::string page = Page();
    const std::string out = (dir / "out.bmp").string();
    CliRun run = Lineweft("raster " + (dir / "missing.bmp").string() + " -o " + out);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("missing.bmp"), std::string::npos) << run.out;

    run = Lineweft("raster " + page + " -o " + out + " --crop 15,0,6,10");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("outside the 20 x 10 image"), std::string::npos) << run.out;
    run = Lineweft("raster " + page + " -o " + out + " --fill-holes 1");
    EXPECT_EQ(run.status, 1) << run.out;
    run = Lineweft("raster " + page + " -o " + out + " --template nothing-by-this-name");
    EXPECT_EQ(run.status, 1) << run.out;
    run = Lineweft("trace " + page + " -o " + (dir / "out.dxf").string() + " --crop 0,0,30,5");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(RasterCommand, BrightnessAndContrastAloneLeaveTheOtherAtZero)
{
    // On the red pixel: brightness 20 adds 51 to each channel; contrast -50
    // halves each channel's distance from 128.
    struct Case {
        const char* steps;
        const char* red;
        const char* white;
    };
    const Case cases[] = {
        {"--brightness 20", "ff3333", "ffffff"},
        {"--contrast -50", "bf4040", "bfbfbf"},
        {"--brightness 20 --contrast -50", "f27373", "f2f2f2"},
        {"--contrast -50 --brightness 20", "f27373", "f2f2f2"},
        // Given twice, the option makes a second step on the first's result.
        {"--brightness 20 --brightness 20", "ff6666", "ffffff"},
    };
    for (const Case& c : cases) {
        CRasterSrc image;
        ASSERT_TRUE(Run(c.steps, image)) << c.steps;
        EXPECT_EQ(Rgb(image, 2, 1), c.red) << c.steps;
        EXPECT_EQ(Rgb(image, 0, 0), c.white) << c.steps;
    }
}

TEST_F(RasterCommand, HelpListsEveryStepItTakes)
{
    const CliRun help = Lineweft("raster --help");
    ASSERT_EQ(help.status, 0) << help.out;
    const std::string page = Page();
    const std::string out = (dir / "out.bmp").string();
    int options = 0;
    for (size_t at = help.out.find("\n  --"); at != std::string::npos; at = help.out.find("\n  --", at + 1)) {
        const size_t end = help.out.find_first_of(" \n", at + 3);
        const std::string option = help.out.substr(at + 3, end - at - 3);
        if (option == "--help" || option == "-o")
            continue;
        // Every listed option is known: without its value it is refused as
        // such, never taken for another step or an unknown option.
        const CliRun run = Lineweft("raster " + page + " -o " + out + " " + option);
        if (run.status == 2) {
            EXPECT_NE(run.out.find(option + " needs a value"), std::string::npos) << run.out;
            ++options;
        }
    }
    EXPECT_GE(options, 9);
}

TEST_F(RasterCommand, AFailingStepSaysWhatTheKernelReported)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under a memory limit";
#else
    const std::string page = Page();
    const std::string out = (dir / "out.bmp").string();
    // 30000 x 30000 pixels of 24 bits do not fit in one gigabyte: the exit
    // status of a shortage of memory, in both commands that take the steps.
    for (const char* command : {" raster ", " trace "}) {
        const std::string target = (dir / (command[1] == 'r' ? "out.bmp" : "out.dxf")).string();
        const CliRun run = Shell("ulimit -v 1000000; " + std::string(LW_CLI_PATH) + command + page + " -o " + target +
                                 " --resample 30000x30000:box");
        EXPECT_EQ(run.status, 3) << command << run.out;
        EXPECT_NE(run.out.find("Not enough memory to perform operation !"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("--resample failed"), std::string::npos) << run.out;
        EXPECT_FALSE(fs::exists(target));
    }
#endif
}

TEST_F(RasterCommand, AnUnusableThreadCountInTheEnvironmentIsSaidOnce)
{
    const std::string page = Page();
    const std::string out = (dir / "out.bmp").string();
    for (const char* bad : {"abc", "-3", "0", "65"}) {
        const CliRun run = Shell(std::string("LW_THREADS=") + bad + " " + LW_CLI_PATH + " raster " + page + " -o " +
                                 out + " --median 3 --median 5");
        EXPECT_EQ(run.status, 0) << bad << run.out;
        const std::string warning = std::string("LW_THREADS=\"") + bad + "\"";
        const size_t first = run.out.find(warning);
        EXPECT_NE(first, std::string::npos) << run.out;
        EXPECT_EQ(run.out.find(warning, first + 1), std::string::npos) << run.out;
    }
    const CliRun good =
        Shell(std::string("LW_THREADS=2 ") + LW_CLI_PATH + " raster " + page + " -o " + out + " --median 3");
    EXPECT_EQ(good.status, 0) << good.out;
    EXPECT_EQ(good.out.find("LW_THREADS"), std::string::npos) << good.out;
}

}  // namespace
