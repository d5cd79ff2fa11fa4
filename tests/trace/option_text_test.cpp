#include "trace/option_text.h"

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <locale.h>

#include <gtest/gtest.h>

#include "platform/settings_store.h"

namespace {

// Job files may name chart types and series of the store: start each test
// without any.
class JobText : public ::testing::Test {
protected:
    void SetUp() override { ClearStore(); }
    void TearDown() override { ClearStore(); }
    static void ClearStore()
    {
        CSettingsKey key;
        if (key.Open("Software\\Korvane"))
            key.DeleteSubKey("Lineweft");
        ASSERT_TRUE(key.Flush());
    }
};

CTraceOption Read(const std::string& body, CTraceOption start = CTraceOption())
{
    CProfileFile profile;
    profile.Parse("[Job]\n" + body);
    start.ReadJobSection(profile, "Job");
    return start;
}

}  // namespace

// ---- writing ----

TEST_F(JobText, DefaultsWriteTheCentreLineSection)
{
    EXPECT_EQ(CTraceOption().GetJobText(), "AutoGray=1\nGray=128\nMethod=Center\nChart=pre_Default\nStraighten=2.000\n"
                                           "Circle=1\nWidth=1\nWidthSeries=\nConnect=1\ndistance=5\nForce=1\n"
                                           "AngleSeries=Default\nDelete=1\nLength=10\n");
    CTraceOption o;
    o.ChartType.SetTopographyPreset();
    o.b_AutoGray = false;
    o.i_Gray = 7;
    EXPECT_EQ(o.GetJobText(), "AutoGray=0\nGray=7\nMethod=Center\nChart=pre_Topography\nStraighten=1.000\n"
                              "Circle=0\nWidth=0\nConnect=1\ndistance=5\nForce=0\nDelete=0\n");
}

TEST_F(JobText, OutlineAndFillPatternSections)
{
    CTraceOption o;
    o.i_AutoTraceWhat = TRACE_OUTLINE;
    o.Outline.d_MaxDis = 1.23456;
    EXPECT_EQ(o.GetJobText(), "AutoGray=1\nGray=128\nMethod=Outline\nStraighten=1.235\nCircle=1\nFill=0\n");
    o.Outline.b_Fill = true;
    o.Outline.i_FillType = FILL_CROSS;
    o.Outline.d_FillSpace = 2.5;
    EXPECT_EQ(o.GetJobText(), "AutoGray=1\nGray=128\nMethod=Outline\nStraighten=1.235\nCircle=1\nFill=1\nType=2\n"
                              "Space=2.500\n");
    o.i_AutoTraceWhat = TRACE_FILL_PATTERN;
    o.FillPattern.i_FillType = FILL_VERTICAL;
    o.FillPattern.d_FillSpace = 0.75;
    EXPECT_EQ(o.GetJobText(), "AutoGray=1\nGray=128\nMethod=FillPattern\nType=1\nSpace=0.750\n");
}

TEST_F(JobText, NumbersAreWrittenInTheCLocale)
{
    locale_t german = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    if (!german)
        GTEST_SKIP() << "no German locale installed";
    locale_t previous = uselocale(german);
    CTraceOption o;
    o.ChartType.d_MaxDis = 1.5;
    const std::string text = o.GetJobText();
    const CTraceOption back = Read(text);
    uselocale(previous);
    freelocale(german);
    EXPECT_NE(text.find("Straighten=1.500\n"), std::string::npos);
    EXPECT_EQ(back.ChartType.d_MaxDis, 1.5);
}

TEST_F(JobText, StoredNamesCannotAddLines)
{
    CTraceOption o;
    o.ChartType.Name = "Evil\nMethod=Outline";
    o.ChartType.WidthSeries.Name = "w\r\nGray=1";
    const std::string text = o.GetJobText();
    EXPECT_NE(text.find("Chart=Evil Method=Outline\n"), std::string::npos);
    EXPECT_EQ(Read(text).i_AutoTraceWhat, TRACE_CENTER_LINE);
    EXPECT_EQ(Read(text).i_Gray, 128);
}

TEST_F(JobText, WrittenSectionsReadBackUnchanged)
{
    std::vector<CTraceOption> options(6);
    options[1].ChartType.SetEngineeringPreset();
    options[1].i_Gray = 200;
    options[1].b_AutoGray = false;
    options[2].ChartType.SetTopographyPreset();
    options[2].ChartType.d_MaxDis = 0.25;
    options[2].ChartType.Name = "Unnamed";
    options[3].i_AutoTraceWhat = TRACE_OUTLINE;
    options[3].Outline = {0.5, false, true, FILL_VERTICAL, 3.0};
    options[4].i_AutoTraceWhat = TRACE_FILL_PATTERN;
    options[4].FillPattern = {FILL_CROSS, 4.0};
    // Names keep the quotes and blanks that readers would strip (a width
    // series is read back only when it is stored).
    for (const char* name : {"'quoted'", " padded "}) {
        CWidthSeries stored;
        stored.Name = name;
        ASSERT_TRUE(stored.SaveToRegistry());
    }
    options[5].ChartType.Name = "Unnamed";
    options[5].ChartType.WidthSeries.Name = "'quoted'";
    options[5].ChartType.AngleSeries.Name = "Ortho series";
    options[5].ChartType.AngleSeries.SetOrtho();
    for (const CTraceOption& o : options) {
        const std::string text = o.GetJobText();
        EXPECT_EQ(Read(text).GetJobText(), text);
    }
    options[5].ChartType.WidthSeries.Name = " padded ";
    EXPECT_EQ(Read(options[5].GetJobText()).ChartType.WidthSeries.Name, " padded ");
}

// ---- reading ----

TEST_F(JobText, OnlyAMethodGivesTheOutlineDefaults)
{
    CTraceOption start;
    start.Outline = {3.0, false, true, FILL_CROSS, 5.0};
    const CTraceOption o = Read("Method=outline\n", start);
    EXPECT_EQ(o.i_AutoTraceWhat, TRACE_OUTLINE);
    EXPECT_EQ(o.Outline.d_MaxDis, 1.0);
    EXPECT_TRUE(o.Outline.b_RecogniseCirArc);
    EXPECT_FALSE(o.Outline.b_Fill);
    EXPECT_FALSE(o.b_AutoGray);
    EXPECT_EQ(o.i_Gray, 128);
    EXPECT_EQ(Read("Method=FILLPATTERN\n").i_AutoTraceWhat, TRACE_FILL_PATTERN);
    EXPECT_EQ(Read("Method=Something\n").i_AutoTraceWhat, TRACE_CENTER_LINE);
}

TEST_F(JobText, AStoredChartTypeKeepsItsNameUntilAValueDiffers)
{
    CChartType mine;
    mine.SetDefaultPreset();
    mine.Name = "Mine";
    mine.i_ConDis = 3;
    mine.d_MaxDis = 1.2344;
    ASSERT_TRUE(mine.SaveToRegistry());

    CTraceOption o = Read("Chart=Mine\n");
    EXPECT_EQ(o.ChartType.Name, "Mine");
    EXPECT_EQ(o.ChartType.i_ConDis, 3);
    // The file's three decimals are the chart's value, not a change.
    o = Read("Chart=Mine\nStraighten=1.234\n");
    EXPECT_EQ(o.ChartType.Name, "Mine");
    EXPECT_EQ(o.ChartType.d_MaxDis, 1.2344);
    o = Read("Chart=Mine\ndistance=4\n");
    EXPECT_EQ(o.ChartType.Name, "Unnamed");
    EXPECT_EQ(o.ChartType.i_ConDis, 4);
    // Values of a switched-off step are not read.
    o = Read("Chart=Mine\nConnect=0\ndistance=4\n");
    EXPECT_FALSE(o.ChartType.b_Connect);
    EXPECT_EQ(o.ChartType.i_ConDis, 3);
}

TEST_F(JobText, AnUnknownChartKeepsTheValuesUnderTheUnnamedName)
{
    CTraceOption start;
    start.ChartType.SetEngineeringPreset();
    const CTraceOption o = Read("Chart=Nowhere\n", start);
    EXPECT_EQ(o.ChartType.Name, "Unnamed");
    EXPECT_EQ(o.ChartType.i_ConDis, 9);
    EXPECT_EQ(Read("Chart=pre_Topography\n").ChartType.Name, "pre_Topography");
}

TEST_F(JobText, SeriesAreLoadedByName)
{
    CTraceOption o = Read("Chart=pre_Default\nWidthSeries=Default\nAngleSeries=Ortho series\n");
    EXPECT_EQ(o.ChartType.WidthSeries.Widths.GetCount(), 4u);
    EXPECT_EQ(o.ChartType.AngleSeries.GetCount(), 3u);
    EXPECT_EQ(o.ChartType.Name, "Unnamed");
    o = Read("Chart=pre_Default\nWidthSeries=  Missing  \nAngleSeries=Missing\n");
    EXPECT_EQ(o.ChartType.WidthSeries.Name, "");
    EXPECT_TRUE(o.ChartType.WidthSeries.GetWidths().empty());
    EXPECT_EQ(o.ChartType.AngleSeries.Name, "Default");
    o = Read("Chart=pre_Default\nAngleSeries=\n");
    EXPECT_EQ(o.ChartType.AngleSeries.Name, "Default");
    EXPECT_EQ(o.ChartType.Name, "Unnamed");
}

TEST_F(JobText, HostileValuesAreClamped)
{
    CTraceOption o = Read("Gray=-5\ndistance=-4\nLength=-1\nStraighten=-2\n");
    EXPECT_EQ(o.i_Gray, 0);
    EXPECT_EQ(o.ChartType.i_ConDis, 0);
    EXPECT_EQ(o.ChartType.i_DelLine_Length, 0);
    EXPECT_EQ(o.ChartType.d_MaxDis, 0.0);
    EXPECT_EQ(Read("Gray=999\n").i_Gray, 255);
    EXPECT_EQ(Read("Gray=banana\n").i_Gray, 0);

    o = Read("Straighten=nan\n");
    EXPECT_EQ(o.ChartType.d_MaxDis, 2.0);
    EXPECT_EQ(o.ChartType.Name, "Unnamed");  // "Chart" was not given
    EXPECT_EQ(Read("Straighten=1e999\n").ChartType.d_MaxDis, 2.0);

    CTraceOption start;
    start.FillPattern.d_FillSpace = 4.0;
    o = Read("Method=FillPattern\nType=-3\nSpace=0\n", start);
    EXPECT_EQ(o.FillPattern.i_FillType, 0u);
    EXPECT_EQ(o.FillPattern.d_FillSpace, 4.0);
    o = Read("Method=FillPattern\nType=3\nSpace=1e-300\n", start);
    EXPECT_EQ(o.FillPattern.i_FillType, 2u);
    EXPECT_EQ(o.FillPattern.d_FillSpace, kMinFillSpace);
    o = Read("Method=FillPattern\nSpace=abc\n", start);
    EXPECT_EQ(o.FillPattern.d_FillSpace, 4.0);

    o = Read("Method=Outline\nStraighten=x\nFill=1\nType=-9\nSpace=-1\n");
    EXPECT_EQ(o.Outline.d_MaxDis, 1.0);
    EXPECT_EQ(o.Outline.i_FillType, 0u);
    EXPECT_EQ(o.Outline.d_FillSpace, 1.0);
    o = Read("Method=Outline\nFill=1\nType=12\nSpace=2,5\n");
    EXPECT_EQ(o.Outline.i_FillType, 3u);
    EXPECT_EQ(o.Outline.d_FillSpace, 1.0);
}

TEST_F(JobText, JobFilesAreFoundByTheirOptionSection)
{
    const std::string path = (std::filesystem::temp_directory_path() / "option_text_test.lwj").string();
    std::ofstream(path, std::ios::binary)
        << "[Files]\nFile1=a.png\n[Job1]\nMethod=Outline\n[Job2]\nMethod=FillPattern\n";
    CTraceOption o;
    std::string error;
    ASSERT_TRUE(LoadJobFileOptions(path, "", o, &error)) << error;
    EXPECT_EQ(o.i_AutoTraceWhat, TRACE_OUTLINE);
    ASSERT_TRUE(LoadJobFileOptions(path, "job2", o, &error)) << error;
    EXPECT_EQ(o.i_AutoTraceWhat, TRACE_FILL_PATTERN);
    EXPECT_FALSE(LoadJobFileOptions(path, "Job3", o, &error));
    EXPECT_NE(error.find("[Job3]"), std::string::npos);
    EXPECT_TRUE(o.ReadJobSection("Job1", path));
    EXPECT_EQ(o.i_AutoTraceWhat, TRACE_OUTLINE);

    std::ofstream(path, std::ios::binary) << "[Files]\nFile1=a.png\n";
    EXPECT_FALSE(LoadJobFileOptions(path, "", o, &error));
    std::filesystem::remove(path);
    EXPECT_FALSE(LoadJobFileOptions(path, "", o, &error));
    EXPECT_FALSE(o.ReadJobSection("Job1", path));
}

// ---- the summary ----

TEST_F(JobText, DescriptionsSummariseEachMethod)
{
    CTraceOption o;
    EXPECT_EQ(o.GetDescriptionText(), "Method=Center\nChart type= pre_Default\nStraighten intension= 2.000\n"
                                      "Recognise circle and arc.\nCalculate width.\nWidth series name = \n"
                                      "Connect adjacent line.\nConnect distance = 5\nAdjust angle.\n"
                                      "Angle series: Default\nDelete mix-up line.\nLength = 10\n");
    o.ChartType.SetTopographyPreset();
    EXPECT_EQ(o.GetDescriptionText(), "Method=Center\nChart type= pre_Topography\nStraighten intension= 1.000\n"
                                      "Not recognise circle and arc.\nNot calculate width.\n"
                                      "Connect adjacent line.\nConnect distance = 5\nNot adjust angle.\n"
                                      "Not delete mix-up line.\n");
    o.i_AutoTraceWhat = TRACE_OUTLINE;
    o.Outline.b_Fill = true;
    EXPECT_EQ(o.GetDescriptionText(), "Method=Outline\nRecognise circle and arc.\nStraighten intension= 1.500\n"
                                      "Fill type : Solid\nFill space = 1.000\n");
    o.i_AutoTraceWhat = TRACE_FILL_PATTERN;
    o.FillPattern.i_FillType = FILL_CROSS;
    EXPECT_EQ(o.GetDescriptionText(), "Method=Fill Pattern\nFill type : Cross line\nFill space = 1.000\n");
}

// ---- single keys (--set) ----

TEST_F(JobText, SetKeysReadAsTheSameKeysOfAJobSection)
{
    CTraceOption set;
    std::string error;
    ASSERT_TRUE(ApplyJobSettings({"force=0", "Delete = 0", "Connect=1", "distance=9", "Gray=90"}, set, &error))
        << error;
    const CTraceOption job =
        Read("AutoGray=1\nGray=90\nMethod=Center\nChart=pre_Default\nForce=0\nDelete=0\ndistance=9\n");
    EXPECT_EQ(job.GetJobText(), set.GetJobText());
    EXPECT_FALSE(set.ChartType.b_ForceOrtho);
    EXPECT_EQ(set.ChartType.Name, UnnamedChartName());
    // Nothing set leaves everything, the chart's name included.
    CTraceOption untouched;
    EXPECT_TRUE(ApplyJobSettings({}, untouched));
    EXPECT_TRUE(ApplyJobSettings({"Force=1"}, untouched));
    EXPECT_EQ(untouched.ChartType.Name, "pre_Default");
    // The last of a repeated key counts.
    ASSERT_TRUE(ApplyJobSettings({"Gray=10", "GRAY=20"}, untouched));
    EXPECT_EQ(untouched.i_Gray, 20);
    // A chart type deleted since the options were loaded is no setting's
    // fault: only the names set are checked.
    untouched.ChartType.Name = "Deleted";
    EXPECT_TRUE(ApplyJobSettings({"Gray=30"}, untouched, &error)) << error;
    EXPECT_FALSE(ApplyJobSettings({"Chart=Deleted"}, untouched));
}

TEST_F(JobText, SetKeysFollowTheJobReadersDependencies)
{
    // A chart type brings its own values unless they are set as well.
    CTraceOption chart;
    ASSERT_TRUE(ApplyJobSettings({"Chart=pre_Engineering", "Force=0"}, chart));
    CChartType engineering;
    engineering.SetEngineeringPreset();
    EXPECT_EQ(chart.ChartType.i_ConDis, engineering.i_ConDis);
    EXPECT_FALSE(chart.ChartType.b_ForceOrtho);
    // A method's keys are its own: the outline keeps its straighten distance.
    CTraceOption outline;
    outline.Outline.d_MaxDis = 1.5;
    ASSERT_TRUE(ApplyJobSettings({"Method=outline", "Circle=0"}, outline));
    EXPECT_EQ(outline.i_AutoTraceWhat, static_cast<UINT>(TRACE_OUTLINE));
    EXPECT_EQ(outline.Outline.d_MaxDis, 1.5);
    EXPECT_FALSE(outline.Outline.b_RecogniseCirArc);
    EXPECT_TRUE(outline.ChartType.b_RecogniseCirArc);
    // A connect distance counts only while connecting, as in a file.
    CTraceOption off;
    ASSERT_TRUE(ApplyJobSettings({"Connect=0", "distance=40"}, off));
    EXPECT_EQ(off.ChartType.i_ConDis, CTraceOption().ChartType.i_ConDis);
}

TEST_F(JobText, BadSettingsAreRefusedWithTheJobReadersMessages)
{
    CTraceOption option;
    const std::string before = option.GetJobText();
    std::string error;
    std::vector<CJobValueProblem> problems;
    EXPECT_FALSE(ApplyJobSettings({"Gray=300", "Method=Banana"}, option, &error, &problems));
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(error, "--set Gray=300: Gray takes a grey level from 0 to 255\n"
                     "--set Method=Banana: Method takes Center, Outline or FillPattern");
    EXPECT_FALSE(ApplyJobSettings({"Forc=0"}, option, &error));
    EXPECT_EQ(error, "--set: 'Forc' is no job-file key");
    EXPECT_FALSE(ApplyJobSettings({"Force"}, option, &error));
    EXPECT_FALSE(ApplyJobSettings({"Chart=a\nForce=0"}, option, &error));
    EXPECT_EQ(option.GetJobText(), before);
}
