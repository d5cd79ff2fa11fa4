// `lineweft options` runs as a child process that inherits this program's
// private settings folder, so what one run saves the next one reads.
#include <gtest/gtest.h>

#include "cli_runner.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace {

CliRun Options(const std::string& args) { return Lineweft("options " + args); }

std::string TempFile(const std::string& name, const std::string& text)
{
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

const char* const kDefaultText = "[Options]\nAutoGray=1\nGray=128\nMethod=Center\nChart=pre_Default\n"
                                 "Straighten=2.000\nCircle=1\nWidth=1\nWidthSeries=\nConnect=1\ndistance=5\n"
                                 "Force=1\nAngleSeries=Default\nDelete=1\nLength=10\n";

}  // namespace

TEST(OptionsCommand, LoadPersistsUntilReset)
{
    ASSERT_EQ(Options("--reset").status, 0);
    CliRun shown = Options("");
    ASSERT_EQ(shown.status, 0) << shown.out;
    EXPECT_EQ(shown.out, kDefaultText);

    const std::string job =
        TempFile("options_command_test.lwj", "[Files]\nFile1=a.png\n[Job]\nGray=0\nmethod=OUTLINE\nStraighten=0.5\n"
                                             "Fill=1\nType=1\nSpace=2\n");
    CliRun loaded = Options("--load " + job);
    ASSERT_EQ(loaded.status, 0) << loaded.out;
    const std::string outline = "[Options]\nAutoGray=0\nGray=0\nMethod=Outline\nStraighten=0.500\nCircle=1\n"
                                "Fill=1\nType=1\nSpace=2.000\n";
    EXPECT_EQ(loaded.out, outline);
    // A later run reads what the load saved.
    EXPECT_EQ(Options("").out, outline);
    EXPECT_EQ(Options("--describe").out, "Method=Outline\nRecognise circle and arc.\nStraighten intension= 0.500\n"
                                         "Fill type : Vertical line\nFill space = 2.000\n");

    // What the command prints loads back as it is.
    const std::string printed = TempFile("options_command_printed.lwj", Options("").out);
    CliRun again = Options("--load " + printed + " --section options");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, outline);

    CliRun reset = Options("--reset");
    EXPECT_EQ(reset.status, 0);
    EXPECT_EQ(reset.out, kDefaultText);
    EXPECT_EQ(Options("").out, kDefaultText);
    std::filesystem::remove(job);
    std::filesystem::remove(printed);
}

TEST(OptionsCommand, BadFilesFailAndChangeNothing)
{
    ASSERT_EQ(Options("--reset").status, 0);
    const std::string noOptions = TempFile("options_command_none.lwj", "[Files]\nFile1=a.png\n");
    CliRun none = Options("--load " + noOptions);
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.out.find("no section with tracing options"), std::string::npos) << none.out;
    CliRun missingSection = Options("--load " + noOptions + " --section Job");
    EXPECT_EQ(missingSection.status, 1);
    EXPECT_NE(missingSection.out.find("no section [Job]"), std::string::npos) << missingSection.out;
    CliRun missingFile = Options("--load /nonexistent/job.lwj");
    EXPECT_EQ(missingFile.status, 1);
    EXPECT_NE(missingFile.out.find("cannot read /nonexistent/job.lwj"), std::string::npos);
    EXPECT_EQ(Options("").out, kDefaultText);
    std::filesystem::remove(noOptions);
}

// --set changes single keys of the stored options and stores them; --reset
// stores options that load back as the preset they name.
TEST(OptionsCommand, SetStoresSingleKeysAndResetForgetsTheSeries)
{
    ASSERT_EQ(Options("--reset").status, 0);
    const CliRun set = Options("--set Gray=3 --set widthseries=Default --set Force=0");
    ASSERT_EQ(set.status, 0) << set.out;
    const std::string changed = "[Options]\nAutoGray=1\nGray=3\nMethod=Center\nChart=Unnamed\nStraighten=2.000\n"
                                "Circle=1\nWidth=1\nWidthSeries=Default\nConnect=1\ndistance=5\nForce=0\n"
                                "Delete=1\nLength=10\n";
    EXPECT_EQ(set.out, changed);
    EXPECT_EQ(Options("").out, changed);

    // Refused settings leave the stored options as they were.
    for (const char* bad : {"--set Chart=Nope", "--set Fill=1", "--set Gray=300", "--set Nokey=1"}) {
        const CliRun run = Options(bad);
        EXPECT_EQ(run.status, 2) << bad << run.out;
    }
    EXPECT_NE(Options("--set Chart=Nope").out.find("\"pre_Engineering\""), std::string::npos);
    EXPECT_EQ(Options("").out, changed);

    EXPECT_EQ(Options("--reset").out, kDefaultText);
    EXPECT_EQ(Options("").out, kDefaultText);
    const CliRun outline = Options("--reset --set Method=Outline --set Fill=1 --set Type=0");
    EXPECT_EQ(outline.status, 0) << outline.out;
    EXPECT_EQ(Options("").out,
              "[Options]\nAutoGray=1\nGray=128\nMethod=Outline\nStraighten=1.500\nCircle=1\nFill=1\nType=0\n"
              "Space=1.000\n");
}

TEST(OptionsCommand, UsageErrors)
{
    EXPECT_EQ(Options("--load").status, 2);
    EXPECT_EQ(Options("--frobnicate").status, 2);
    EXPECT_EQ(Options("--reset --load x.lwj").status, 2);
    EXPECT_EQ(Options("--section Job").status, 2);
    CliRun help = Options("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--load FILE.lwj"), std::string::npos);
}

// Every kind of value the reader would quietly replace is refused with its
// line, whichever method names the keys, and the stored options stay.
TEST(OptionsCommand, BadJobValuesAreUsageErrorsNamingTheLine)
{
    ASSERT_EQ(Options("--reset").status, 0);
    struct Case {
        const char* section;   // the lines after "[Job]"
        const char* reported;  // "LINE: KEY=VALUE"
    };
    const Case cases[] = {
        {"Method=Banana\n", ":2: Method=Banana"},
        {"Gray=300\n", ":2: Gray=300"},
        {"Method=Center\nGray=-1\n", ":3: Gray=-1"},
        {"AutoGray=2\n", ":2: AutoGray=2"},
        {"Method=Center\nCircle=yes\n", ":3: Circle=yes"},
        {"Method=Center\nStraighten=-0.5\n", ":3: Straighten=-0.5"},
        {"Method=Center\nStraighten=abc\n", ":3: Straighten=abc"},
        {"Method=Center\nConnect=1\ndistance=-3\n", ":4: distance=-3"},
        {"Method=Center\nDelete=1\nLength=1.5\n", ":4: Length=1.5"},
        {"Method=Outline\nFill=1\nType=4\n", ":4: Type=4"},
        {"Method=FillPattern\nType=3\n", ":3: Type=3"},
        {"Method=FillPattern\nSpace=0\n", ":3: Space=0"},
        {"Method=Outline\r\nFill=1\r\nSpace=-2\r\n", ":4: Space=-2"},
        // Names that load nothing, with the names that would.
        {"Method=Center\nChart=nonexistent\n",
         ":3: Chart=nonexistent: Chart takes a chart type: \"pre_Default\", \"pre_Engineering\", \"pre_Topography\", "
         "\"Unnamed\""},
        {"Width=1\nWidthSeries=Nope\n", ":3: WidthSeries=Nope: WidthSeries takes a width series: \"Default\""},
        {"Method=Center\nForce=1\nAngleSeries=Nope\n",
         ":4: AngleSeries=Nope: AngleSeries takes an angle series: \"Default\", \"Ortho series\", \"Tinily Adjust\""},
    };
    for (const Case& c : cases) {
        const std::string job = TempFile("options_command_bad.lwj", std::string("[Job]\n") + c.section);
        CliRun run = Options("--load " + job + " --section Job");
        EXPECT_EQ(run.status, 2) << c.section << run.out;
        EXPECT_NE(run.out.find(job + c.reported), std::string::npos) << c.section << run.out;
        std::filesystem::remove(job);
    }
    // Keys of another method are not read and not checked; a valid section loads.
    const std::string job =
        TempFile("options_command_good.lwj", "[Job]\nMethod=fillpattern\nType=2\nSpace=0.5\nStraighten=-1\nFill=7\n");
    EXPECT_EQ(Options("--load " + job).status, 0);
    EXPECT_EQ(Options("--reset").status, 0);
    std::filesystem::remove(job);
    EXPECT_EQ(Options("").out, kDefaultText);
}
