#include "platform/profile_file.h"

#include "support/fifo_guard.h"
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;

namespace {

CProfileFile Parsed(std::string_view text)
{
    CProfileFile profile;
    profile.Parse(text);
    return profile;
}

}  // namespace

TEST(ProfileFile, NamesMatchWithoutRegardToCaseAndValuesAreTrimmed)
{
    const CProfileFile p = Parsed("[Job1]\n  Method =  Outline  \nSTRAIGHTEN=2.5\n[job2]\nGray=\t77 \n");
    EXPECT_EQ(p.GetProfileString("JOB1", "method", "x"), "Outline");
    EXPECT_EQ(p.GetProfileString("job1", "Straighten", "x"), "2.5");
    EXPECT_EQ(p.GetProfileInt("JOB2", "GRAY", 0), 77);
    EXPECT_THAT(p.GetSectionNames(), ElementsAre("Job1", "job2"));
}

TEST(ProfileFile, MissingSectionsAndKeysGiveTheDefault)
{
    const CProfileFile p = Parsed("[A]\nx=1\nempty=\n");
    EXPECT_EQ(p.GetProfileString("B", "x", "dflt"), "dflt");
    EXPECT_EQ(p.GetProfileString("A", "y", "dflt"), "dflt");
    EXPECT_EQ(p.GetProfileInt("A", "y", -4), -4);
    // An empty value is a value for strings, but no number.
    EXPECT_EQ(p.GetProfileString("A", "empty", "dflt"), "");
    EXPECT_EQ(p.GetProfileInt("A", "empty", 9), 9);
    EXPECT_FALSE(p.HasKey("A", "y"));
    EXPECT_TRUE(p.HasKey("a", "X"));
}

TEST(ProfileFile, IntegersAreReadLeniently)
{
    const CProfileFile p = Parsed("[S]\na=12abc\nb=abc\nc=-7\nd=+3\ne=99999999999999\nf=-99999999999999\ng= 42 \n");
    EXPECT_EQ(p.GetProfileInt("S", "a", 0), 12);
    EXPECT_EQ(p.GetProfileInt("S", "b", 5), 0);
    EXPECT_EQ(p.GetProfileInt("S", "c", 0), -7);
    EXPECT_EQ(p.GetProfileInt("S", "d", 0), 3);
    EXPECT_EQ(p.GetProfileInt("S", "e", 0), INT_MAX);
    EXPECT_EQ(p.GetProfileInt("S", "f", 0), INT_MIN);
    EXPECT_EQ(p.GetProfileInt("S", "g", 0), 42);
}

TEST(ProfileFile, StringsAreCutAt511Characters)
{
    const std::string longValue(600, 'x');
    EXPECT_EQ(Parsed("[S]\nk=" + longValue + "\n").GetProfileString("S", "k", "").size(), 511u);
    // Characters, not bytes: a two-byte letter is never split.
    std::string umlauts;
    for (int i = 0; i < 600; ++i)
        umlauts += "\xC3\xA4";
    const std::string cut = Parsed("[S]\nk=" + umlauts).GetProfileString("S", "k", "");
    EXPECT_EQ(cut.size(), 2 * 511u);
}

TEST(ProfileFile, FirstSectionAndFirstKeyOfANameCount)
{
    const CProfileFile p = Parsed("[S]\nk=first\nK=second\n[s]\nk=third\nonly=later\n");
    EXPECT_EQ(p.GetProfileString("S", "k", ""), "first");
    EXPECT_FALSE(p.HasKey("S", "only"));
    EXPECT_THAT(p.GetSectionNames(), ElementsAre("S"));
}

TEST(ProfileFile, LineEndingsCommentsQuotesAndStrayLines)
{
    const CProfileFile p = Parsed("top=ignored\r\n; comment=1\r\n[ S ] trailing\r\nname=\"quoted value\"\rsingle='x'\n"
                                  "odd=\"unbalanced'\nno equals sign\n=novalue\n[T\nk=v");
    EXPECT_FALSE(p.HasKey("", "top"));
    EXPECT_FALSE(p.HasKey("S", "; comment"));
    EXPECT_EQ(p.GetProfileString("S", "name", ""), "quoted value");
    EXPECT_EQ(p.GetProfileString("S", "single", ""), "x");
    EXPECT_EQ(p.GetProfileString("S", "odd", ""), "\"unbalanced'");
    EXPECT_EQ(p.GetProfileString("S", "", "d"), "novalue");
    EXPECT_EQ(p.GetProfileString("T", "k", ""), "v");
}

TEST(ProfileFile, Windows1252TextBecomesUtf8)
{
    const CProfileFile p = Parsed("[S]\nChart=Stra\xDF"
                                  "e\n");
    EXPECT_EQ(p.GetProfileString("S", "Chart", ""), "Stra\xC3\x9F"
                                                    "e");
}

TEST(ProfileFile, LoadsFilesAndRefusesMissingOnes)
{
    const std::string path = (std::filesystem::temp_directory_path() / "profile_file_test.lwj").string();
    std::ofstream(path, std::ios::binary) << "[Job]\nGray=100\n";
    CProfileFile p;
    ASSERT_TRUE(p.Load(path));
    EXPECT_EQ(p.GetProfileInt("job", "gray", 0), 100);
    std::filesystem::remove(path);
    EXPECT_FALSE(p.Load(path));
    EXPECT_FALSE(p.HasSection("Job"));

    // A FIFO named as a job file is refused at once, with the reason.
    FifoGuard fifo(path);
    ASSERT_TRUE(fifo.Made());
    std::string why;
    EXPECT_FALSE(p.Load(path, &why));
    EXPECT_FALSE(fifo.WokeAReader());
    EXPECT_EQ(why, "not a regular file");
    EXPECT_TRUE(fifo.IsStillAFifo());
}
