#include "model/file_paths.h"
#include "model/text_table.h"
#include "model/utilities.h"
#include "platform/locale_separators.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <locale.h>

namespace {

class UserNumbers : public ::testing::Test {
protected:
    void TearDown() override { InitLocaleSeparators("C"); }
    bool UseCommaLocale()
    {
        locale_t probe = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
        if (!probe)
            return false;
        freelocale(probe);
        InitLocaleSeparators("de_DE.UTF-8");
        return true;
    }
};

}  // namespace

TEST_F(UserNumbers, CommaLocaleReadsAndWritesCommas)
{
    if (!UseCommaLocale())
        GTEST_SKIP() << "de_DE.UTF-8 not generated";
    double d = 0;
    EXPECT_TRUE(ParseDouble("1,5", d));
    EXPECT_EQ(d, 1.5);
    EXPECT_FALSE(ParseDouble("1,5a", d));
    EXPECT_EQ(DoubleToString(1.5, 2), "1,50");
    std::string text = "3.25";
    UseLocaleDecimalPoint(text);
    EXPECT_EQ(text, "3,25");
}

TEST_F(UserNumbers, HostileTextIsRejected)
{
    InitLocaleSeparators("C");
    double d = 4;
    for (const char* bad : {"nan", "inf", "0x1p3", "1e400", "", "2 "})
        EXPECT_FALSE(ParseDouble(bad, d)) << bad;
    EXPECT_EQ(d, 4);
    std::int32_t i = 4;
    for (const char* bad : {"12 ", "", "99999999999", "0x10"})
        EXPECT_FALSE(ParseInt(bad, i)) << bad;
    EXPECT_TRUE(ParseInt("-12", i));
    EXPECT_EQ(i, -12);
    EXPECT_EQ(IntToString(-12), "-12");
    EXPECT_EQ(DoubleToString(2.0, 0), "2");
    EXPECT_EQ(DoubleToString(2.5, -3), "2") << "negative decimals clamp to none (2.5 rounds to even)";
}

TEST(FormatDuration, AppendsOnlyThePartsThatCount)
{
    std::string text = "Done:";
    FormatDuration(3725, text);
    EXPECT_EQ(text, "Done: 1 hours 2 minutes 5 seconds");
    text.clear();
    FormatDuration(59, text);
    EXPECT_EQ(text, " 59 seconds");
    text.clear();
    FormatDuration(3600, text);
    EXPECT_EQ(text, " 1 hours 0 minutes 0 seconds");
}

TEST(FormatDuration, FormatDirectivesInALanguageFileStayText)
{
    auto path = std::filesystem::temp_directory_path() / "lineweft-duration.lan";
    std::ofstream(path) << "SecondName=%s%n%d secs\nMinuteName=min\n";
    (void)LoadLanguageFile(path.string());
    std::string text;
    FormatDuration(61, text);
    // "%" in a language file is a line break; nothing is interpreted.
    EXPECT_EQ(text, " 1 min 1 \r\ns\r\nn\r\nd secs");
    (void)LoadLanguageFile("/nonexistent/none.lan");
    std::filesystem::remove(path);
}

TEST(PlotterUnits, ScaleByUnit)
{
    double x = 1, y = 2;
    ScaleToPlotterUnits(&x, &y, kUnitInch);
    EXPECT_EQ(x, 1016);
    EXPECT_EQ(y, 2032);
    x = y = 1;
    ScaleToPlotterUnits(&x, &y, kUnitMillimetre);
    EXPECT_EQ(x, 40);
    x = y = 1;
    ScaleToPlotterUnits(&x, &y, kUnitPixel);
    EXPECT_EQ(y, 10);
}

TEST(FilePaths, PiecesOfAPath)
{
    EXPECT_EQ(MakeNumberedFileName("/scans/b.tif", 3), "/scans/b_3.tif");
    EXPECT_EQ(GetFileDir("/scans/b.tif"), "/scans/");
    EXPECT_EQ(GetFileNameWithExt("/scans/b.tif"), "b.tif");
    EXPECT_EQ(GetFileBaseName("/scans/plan.v2.tif"), "plan.v2");
    EXPECT_EQ(GetFileExt("/scans/plan.v2.tif"), ".tif");
    EXPECT_EQ(GetFileExt("/scans.d/plan"), "") << "a dot in a folder is no extension";
    EXPECT_EQ(GetFileExt("/home/u/.hidden"), "");
    EXPECT_EQ(ReplaceFileExt("/scans/b.tif", ".dxf"), "/scans/b.dxf");
    EXPECT_EQ(ReplaceFileExt("b", ".dxf"), "b.dxf");
    EXPECT_TRUE(IsRasterFileExt(".TIFF"));
    EXPECT_TRUE(IsRasterFileExt(".pcx"));
    EXPECT_FALSE(IsRasterFileExt(".png"));
    EXPECT_FALSE(IsRasterFileExt("bmp"));
}

TEST(FilePaths, FoldersAreMadeAndTold)
{
    auto base = std::filesystem::temp_directory_path() / "lineweft-paths";
    std::filesystem::remove_all(base);
    std::string deep = (base / "a" / "b" / "c").string();
    EXPECT_TRUE(CreateDirectoryPath(deep));
    EXPECT_TRUE(DirectoryExists(deep + "/"));
    EXPECT_FALSE(FileExists(deep));
    std::ofstream((base / "f.txt").string()) << "x";
    EXPECT_TRUE(FileExists((base / "f.txt").string()));
    EXPECT_FALSE(DirectoryExists((base / "f.txt").string()));
    EXPECT_FALSE(CreateDirectoryPath((base / "f.txt" / "sub").string()));
    std::filesystem::remove_all(base);
}
