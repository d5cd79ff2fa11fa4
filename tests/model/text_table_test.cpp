#include "model/text_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/command_hints.h"
#include "support/fifo_guard.h"

using namespace std::string_literals;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries EntriesOf(const CLangTable& t)
{
    Entries entries;
    for (std::size_t i = 0; i < t.GetCount(); ++i)
        entries.emplace_back(t.GetKeyAt(i), t.GetValueAt(i));
    return entries;
}

// Tests load into the one global table; leave it empty for the next test.
class GlobalLangTable : public ::testing::Test {
protected:
    void TearDown() override { GetLangTable().Clear(); }
};

TEST(LangTableEntries, KeysAreTrimmedValuesKeptAsWrittenAndMalformedLinesSkipped)
{
    CLangTable t;
    t.LoadFromMemory("  \tUndoDrawCircle \t=  Draw Circle  \nDup=first\nFormula=a=b+c\nEmpty=\nBlanks=   \n"
                     "Msg=first%second%third\nOnly=%\nno equals sign here\n=value without key\n"
                     "   =value with blank key\n\nDup=second\n");
    EXPECT_EQ(EntriesOf(t), (Entries{{"UndoDrawCircle", "  Draw Circle  "},
                                     {"Dup", "second"},
                                     {"Formula", "a=b+c"},
                                     {"Empty", " "},
                                     {"Blanks", "   "},
                                     {"Msg", "first\r\nsecond\r\nthird"},
                                     {"Only", "\r\n"}}));
    EXPECT_EQ(t.Lookup("Dup"), "second");
    EXPECT_EQ(t.Lookup(""), "");
}

TEST(LangTableEntries, LookupIsCaseSensitive)
{
    CLangTable t;
    t.LoadFromMemory("ZoomIn=Zoom in\nzoomin=lower\n");
    EXPECT_EQ(t.Lookup("ZoomIn"), "Zoom in");
    EXPECT_EQ(t.Lookup("zoomin"), "lower");
    EXPECT_EQ(t.Lookup("ZOOMIN"), "");
}

TEST(LangTableFile, AllLineEndsGiveTheSameTable)
{
    for (const std::string& eol : {"\n"s, "\r"s, "\r\n"s, "\0"s, "\r\n\r\n\0\0"s}) {
        CLangTable t;
        t.LoadFromMemory(eol + "A=alpha" + eol + "B=beta" + eol + "C=gamma");
        EXPECT_EQ(EntriesOf(t), (Entries{{"A", "alpha"}, {"B", "beta"}, {"C", "gamma"}}))
            << "line end of " << eol.size() << " bytes";
    }
}

TEST(LangTableFile, Windows1252LinesBecomeUtf8)
{
    CLangTable t;
    // One line in the code page, one already in UTF-8, one with a UTF-8 mark
    // in front of the file: each line decides for itself.
    t.LoadFromMemory("\xEF\xBB\xBF"
                     "Angle=90\xB0\r\nEuro=\xE2\x82\xAC 5\r\nQuote=\x93hi\x94\r\n");
    EXPECT_EQ(t.Lookup("Angle"), "90\xC2\xB0");
    EXPECT_EQ(t.Lookup("Euro"), "\xE2\x82\xAC 5");
    EXPECT_EQ(t.Lookup("Quote"), "\xE2\x80\x9Chi\xE2\x80\x9D");
}

TEST_F(GlobalLangTable, LoadedFileGivesTranslationsAndAMissingOneDefaults)
{
    const std::string path = ::testing::TempDir() + "lw_lang_" + std::to_string(::getpid()) + ".lan";
    std::ofstream(path, std::ios::binary) << "UndoDrawCircle=Kreis zeichnen\r\nBlank=\r\nHourName=Stunden%h\r\n";
    const bool loaded = LoadLanguageFile(path);
    std::remove(path.c_str());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(GetLanString("UndoDrawCircle", "Draw Circle"), "Kreis zeichnen");
    EXPECT_EQ(GetLanString("Blank", "Default"), " ");
    EXPECT_EQ(GetLanString("HourName", "hours"), "Stunden\r\nh");
    EXPECT_EQ(GetLanString("undodrawcircle", "Draw Circle"), "Draw Circle");
    EXPECT_EQ(GetLanString("Missing", "Fallback"), "Fallback");

    // A file that cannot be read leaves an empty table: every text shows its default.
    for (const std::string& bad : {::testing::TempDir() + "no_such_dir/none.lan", ::testing::TempDir()}) {
        EXPECT_FALSE(LoadLanguageFile(bad)) << bad;
        EXPECT_EQ(GetLangTable().GetCount(), 0u);
    }
    EXPECT_EQ(GetLanString("UndoDrawCircle", "Draw Circle"), "Draw Circle");

    // A FIFO is refused at once: start-up must not wait for a writer.
    FifoGuard fifo(path);
    ASSERT_TRUE(fifo.Made());
    std::string why;
    EXPECT_FALSE(LoadLanguageFile(path, &why));
    EXPECT_FALSE(fifo.WokeAReader());
    EXPECT_EQ(why, "not a regular file");
}

// Ranges of ids that have a hint, written out independently of the table.
constexpr std::pair<unsigned, unsigned> kHintedIds[] = {
    {103, 132},     {1001, 1004},   {1006, 1028},   {1040, 1041},   {1044, 1044},   {1046, 1046},
    {1048, 1048},   {1051, 1051},   {1053, 1053},   {1170, 1170},   {2016, 2016},   {32771, 32775},
    {32782, 32791}, {32793, 32805}, {32807, 32840}, {32843, 32843}, {32845, 32854}, {32856, 32860},
    {32927, 32927}, {57643, 57644}, {57649, 57651}, {57664, 57665},
};

bool IsHinted(unsigned id)
{
    for (const auto& [first, last] : kHintedIds)
        if (id >= first && id <= last)
            return true;
    return false;
}

TEST(CommandHintTable, HasTheRowsAndIdsOfTheHintList)
{
    std::set<std::pair<std::string, std::string>> rows;
    unsigned ids = 0;
    for (const CommandHintEntry& e : GetCommandHintTable()) {
        rows.emplace(e.key, e.englishDefault);
        ids += e.idLast - e.idFirst + 1;
    }
    // 123 rows; rows that cover two id ranges or two ids are two entries.
    EXPECT_EQ(rows.size(), 123u);
    EXPECT_EQ(GetCommandHintTable().size(), 128u);
    EXPECT_EQ(ids, 152u);

    for (unsigned id = 0; id <= 0xFFFF; ++id)
        ASSERT_EQ(GetCommandHint(id).empty(), !IsHinted(id)) << "id " << id;
    EXPECT_EQ(GetCommandHint(1005), "");
    EXPECT_EQ(GetCommandHint(0x10000 + 32771), "");
    EXPECT_EQ(GetCommandHint(1011), "Fill Pattern.");
    // One key, two defaults: the history menu asks differently from the Edit menu.
    EXPECT_EQ(GetCommandHint(57644), "Redoes the previously undone action");
    EXPECT_EQ(GetCommandHint(118), "Redo until this step");
}

TEST_F(GlobalLangTable, LanguageFileOverridesCommandHints)
{
    GetLangTable().LoadFromMemory("MainActZoomInHint=Vergr\xF6\xDF"
                                  "ern\nEditMenuRedoHint=Wiederholen\n");
    EXPECT_EQ(GetCommandHint(32786), "Vergr\xC3\xB6\xC3\x9F"
                                     "ern");
    EXPECT_EQ(GetCommandHint(57644), "Wiederholen");
    EXPECT_EQ(GetCommandHint(120), "Wiederholen");
    EXPECT_EQ(GetCommandHint(32785), "Zoom out");
}

}  // namespace
