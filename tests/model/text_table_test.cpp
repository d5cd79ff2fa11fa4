#include "model/text_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/command_hints.h"

using namespace std::string_literals;

namespace {

// Tests load into the one global table; leave it empty for the next test.
class GlobalLangTable : public ::testing::Test {
protected:
    void TearDown() override { GetLangTable().Clear(); }

    // A language file on disk; removed when the test ends.
    std::string WriteLanguageFile(const std::string& bytes)
    {
        std::string path = ::testing::TempDir() + "lw_lang_XXXXXX";
        const int fd = mkstemp(path.data());
        EXPECT_GE(fd, 0);
        if (fd < 0) return {};
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        m_files.push_back(path);
        return path;
    }

    ~GlobalLangTable() override
    {
        for (const std::string& p : m_files) std::remove(p.c_str());
    }

private:
    std::vector<std::string> m_files;
};

std::vector<std::pair<std::string, std::string>> Entries(const CLangTable& t)
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (std::size_t i = 0; i < t.GetCount(); ++i) entries.emplace_back(t.GetKeyAt(i), t.GetValueAt(i));
    return entries;
}

TEST(LangTableEntries, KeyIsTrimmedValueIsKeptAsWritten)
{
    CLangTable t;
    t.ParseLine("  \tUndoDrawCircle \t=  Draw Circle  ");
    t.ParseLine("Formula=a=b+c");
    t.ParseLine("Empty=");
    t.ParseLine("Blanks=   ");
    EXPECT_EQ(t.Lookup("UndoDrawCircle"), "  Draw Circle  ");
    EXPECT_EQ(t.Lookup("Formula"), "a=b+c");
    EXPECT_EQ(t.Lookup("Empty"), " ");
    EXPECT_EQ(t.Lookup("Blanks"), "   ");
    EXPECT_EQ(t.GetCount(), 4u);
}

TEST(LangTableEntries, MalformedLinesAreSkipped)
{
    CLangTable t;
    t.ParseLine("no equals sign here");
    t.ParseLine("=value without key");
    t.ParseLine("   =value with blank key");
    t.ParseLine("");
    EXPECT_EQ(t.GetCount(), 0u);
    EXPECT_EQ(t.Lookup(""), "");
}

TEST(LangTableEntries, PercentBecomesCrLf)
{
    CLangTable t;
    t.ParseLine("Msg=first%second%third");
    t.ParseLine("Only=%");
    EXPECT_EQ(t.Lookup("Msg"), "first\r\nsecond\r\nthird");
    EXPECT_EQ(t.Lookup("Only"), "\r\n");
}

TEST(LangTableEntries, RepeatedKeyReplacesValueInPlace)
{
    CLangTable t;
    t.LoadFromMemory("A=1\nB=2\nC=3\nA=4\n");
    EXPECT_EQ(Entries(t), (std::vector<std::pair<std::string, std::string>>{{"A", "4"}, {"B", "2"}, {"C", "3"}}));
}

TEST(LangTableEntries, LookupIsCaseSensitive)
{
    CLangTable t;
    t.LoadFromMemory("ZoomIn=Zoom in\nzoomin=lower\n");
    EXPECT_EQ(t.Lookup("ZoomIn"), "Zoom in");
    EXPECT_EQ(t.Lookup("zoomin"), "lower");
    EXPECT_EQ(t.Lookup("ZOOMIN"), "");
    EXPECT_EQ(t.GetCount(), 2u);
}

TEST(LangTableEntries, ManyKeysKeepOrderAndResolve)
{
    CLangTable t;
    std::string file;
    for (int i = 0; i < 5000; ++i) file += "Key" + std::to_string(i) + "=Value" + std::to_string(i) + "\n";
    for (int i = 0; i < 5000; i += 7) file += "Key" + std::to_string(i) + "=Again" + std::to_string(i) + "\n";
    t.LoadFromMemory(file);
    ASSERT_EQ(t.GetCount(), 5000u);
    for (int i = 0; i < 5000; ++i) {
        const std::string expected = (i % 7 == 0 ? "Again" : "Value") + std::to_string(i);
        ASSERT_EQ(t.GetKeyAt(i), "Key" + std::to_string(i));
        ASSERT_EQ(t.Lookup("Key" + std::to_string(i)), expected);
    }
}

TEST(LangTableFile, AllLineEndsGiveTheSameTable)
{
    const std::vector<std::pair<std::string, std::string>> expected = {{"A", "alpha"}, {"B", "beta"}, {"C", "gamma"}};
    for (const std::string& eol : {"\n"s, "\r"s, "\r\n"s, "\0"s, "\r\n\r\n\0\0"s}) {
        CLangTable t;
        t.LoadFromMemory(eol + "A=alpha" + eol + "B=beta" + eol + "C=gamma");
        EXPECT_EQ(Entries(t), expected) << "line end of " << eol.size() << " bytes";
    }
}

TEST(LangTableFile, Windows1252LinesBecomeUtf8)
{
    CLangTable t;
    // One line in the code page, one already in UTF-8, one with a UTF-8 mark
    // in front of the file: each line decides for itself.
    t.LoadFromMemory("\xEF\xBB\xBF" "Angle=90\xB0\r\nEuro=\xE2\x82\xAC 5\r\nQuote=\x93hi\x94\r\n");
    EXPECT_EQ(t.Lookup("Angle"), "90\xC2\xB0");
    EXPECT_EQ(t.Lookup("Euro"), "\xE2\x82\xAC 5");
    EXPECT_EQ(t.Lookup("Quote"), "\xE2\x80\x9Chi\xE2\x80\x9D");
    EXPECT_EQ(t.GetKeyAt(0), "Angle");
}

TEST_F(GlobalLangTable, LoadedFileGivesTranslationsAndDefaultsElsewhere)
{
    const std::string path = WriteLanguageFile("UndoDrawCircle=Kreis zeichnen\r\nBlank=\r\nHourName=Stunden%h\r\n");
    ASSERT_TRUE(LoadLanguageFile(path));
    EXPECT_EQ(GetLanString("UndoDrawCircle", "Draw Circle"), "Kreis zeichnen");
    EXPECT_EQ(GetLanString("Blank", "Default"), " ");
    EXPECT_EQ(GetLanString("HourName", "hours"), "Stunden\r\nh");
    EXPECT_EQ(GetLanString("undodrawcircle", "Draw Circle"), "Draw Circle");
    EXPECT_EQ(GetLanString("Missing", "Fallback"), "Fallback");
}

TEST_F(GlobalLangTable, MissingFileLeavesAnEmptyTableAndDefaults)
{
    GetLangTable().LoadFromMemory("UndoDrawCircle=Kreis\n");
    EXPECT_FALSE(LoadLanguageFile(::testing::TempDir() + "no_such_dir/none.lan"));
    EXPECT_EQ(GetLangTable().GetCount(), 0u);
    EXPECT_EQ(GetLanString("UndoDrawCircle", "Draw Circle"), "Draw Circle");
    // A directory is not a language file either.
    EXPECT_FALSE(LoadLanguageFile(::testing::TempDir()));
    EXPECT_EQ(GetLangTable().GetCount(), 0u);
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
        if (id >= first && id <= last) return true;
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
    EXPECT_EQ(GetCommandHint(0x10000 + 32771), "");
}

TEST(CommandHintTable, RowsGiveTheirEnglishDefaults)
{
    EXPECT_EQ(GetCommandHint(32772), "Batch raste files process");
    EXPECT_EQ(GetCommandHint(32814), "Separate vector into multi Layers according to width.");
    EXPECT_EQ(GetCommandHint(1011), "Fill Pattern.");
    EXPECT_EQ(GetCommandHint(57665), "Exit Orvo Lineweft");
    EXPECT_EQ(GetCommandHint(113), "Undo until this step");
    EXPECT_EQ(GetCommandHint(127), "Undo until this step");
    // One key, two defaults: the history menu asks differently from the Edit menu.
    EXPECT_EQ(GetCommandHint(57644), "Redoes the previously undone action");
    EXPECT_EQ(GetCommandHint(118), "Redo until this step");
    EXPECT_EQ(GetCommandHint(132), "Redo until this step");
    EXPECT_EQ(GetCommandHint(1002), GetCommandHint(1041));
    EXPECT_EQ(GetCommandHint(1005), "");
    EXPECT_EQ(GetCommandHint(32806), "");
}

TEST_F(GlobalLangTable, LanguageFileOverridesCommandHints)
{
    GetLangTable().LoadFromMemory("MainActZoomInHint=Vergr\xF6\xDF" "ern\nEditMenuRedoHint=Wiederholen\n");
    EXPECT_EQ(GetCommandHint(32786), "Vergr\xC3\xB6\xC3\x9F" "ern");
    EXPECT_EQ(GetCommandHint(57644), "Wiederholen");
    EXPECT_EQ(GetCommandHint(120), "Wiederholen");
    EXPECT_EQ(GetCommandHint(32785), "Zoom out");
}

} // namespace
