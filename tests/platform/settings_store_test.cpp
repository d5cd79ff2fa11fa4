#include "platform/settings_store.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/message_box.h"
#include "support/fifo_guard.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> FolderEntries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool Parses(const std::string& text)
{
    SettingsNode root;
    return CSettingsStore::ParseText(text, root);
}

// Sets an environment variable for one scope.
struct ScopedEnv {
    ScopedEnv(const char* name, const char* value) : name(name)
    {
        if (const char* previous = std::getenv(name))
            old = previous;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() { old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

// Each test gets a fresh folder and records the messages shown.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "lw-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        previousHook_ = SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            messages_.push_back(text);
            return IDOK;
        });
    }
    void TearDown() override
    {
        SetMessageBoxHook(previousHook_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string File() const { return dir_ + "/settings.conf"; }

    std::string dir_;
    std::vector<std::string> messages_;
    MessageBoxHook previousHook_;
};

TEST_F(SettingsTest, EveryTypeAndEveryByteSurvivesASaveAndReload)
{
    const std::string weirdName = "a \"quoted\"\\name\n\x7f\xff";
    std::string everyChar;
    for (int i = 0; i < 256; ++i)
        everyChar += static_cast<char>(i);
    const std::vector<BYTE> everyByte(everyChar.begin(), everyChar.end());
    const unsigned long long nanBits = 0x7FF4000000000123ull;  // a NaN payload, as a double is kept
    const std::string path = dir_ + "/one/two/settings.conf";
    {
        CSettingsStore store(path);
        CSettingsKey reader(store);
        ASSERT_TRUE(reader.Open(""));
    }
    EXPECT_FALSE(fs::exists(dir_ + "/one"));  // reading alone writes nothing
    {
        CSettingsStore store(path);
        CSettingsKey key(store);
        ASSERT_TRUE(key.Create("Software\\Korvane\\Lineweft\\Option"));
        ASSERT_TRUE(key.SetDword("max", 0xFFFFFFFFu));
        ASSERT_TRUE(key.SetString("s_every", everyChar));
        ASSERT_TRUE(key.SetString("", "the default"));
        ASSERT_TRUE(key.SetString(weirdName, ""));
        ASSERT_TRUE(key.SetBinary("bytes", everyByte.data(), everyByte.size()));
        ASSERT_TRUE(key.SetBinary("double", &nanBits, sizeof nanBits));
        ASSERT_TRUE(key.SetBinary("none", nullptr, 0));
        ASSERT_TRUE(key.Create("Empty\\Deeper"));
        ASSERT_TRUE(key.Open(""));
        ASSERT_TRUE(key.SetDword("top", 7));
    }  // closing the handle saves, creating the folders
    // The file is plain 7-bit text a user can edit.
    for (unsigned char c : ReadFile(path))
        ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);

    CSettingsStore reloaded(path);
    CSettingsKey key(reloaded);
    ASSERT_TRUE(key.Open("Software\\Korvane\\Lineweft\\Option"));
    DWORD d = 0;
    std::string s;
    std::vector<BYTE> b;
    EXPECT_TRUE(key.QueryDword("max", d) && d == 0xFFFFFFFFu);
    EXPECT_TRUE(key.QueryString("s_every", s) && s == everyChar);
    EXPECT_TRUE(key.QueryString("", s) && s == "the default");
    EXPECT_TRUE(key.QueryString(weirdName, s) && s.empty());
    EXPECT_TRUE(key.QueryBinary("bytes", b) && b == everyByte);
    EXPECT_TRUE(key.QueryBinary("double", b) && b.size() == 8 && std::memcmp(b.data(), &nanBits, 8) == 0);
    EXPECT_TRUE(key.QueryBinary("none", b) && b.empty());
    EXPECT_THAT(key.EnumValueNames(), ElementsAre("", weirdName, "bytes", "double", "max", "none", "s_every"));
    EXPECT_TRUE(key.Open("Empty\\Deeper"));
    ASSERT_TRUE(key.Open(""));
    EXPECT_TRUE(key.QueryDword("top", d) && d == 7);
    EXPECT_TRUE(messages_.empty());
}

TEST(SettingsFormat, AcceptsHandEditedTextAndRejectsDamagedLines)
{
    const std::string text =
        "; comment\r\n# another\r\n\r\n  [Software\\Korvane]  \r\n\"n\" = DWORD:2A\r\n"
        "\"h\"=HEX: 01 , FF\r\n\"\"=\"default\\ttab\"\r\n[software\\KORVANE]\n\"N\"=\"later wins\"\n";
    SettingsNode root;
    std::string error;
    ASSERT_TRUE(CSettingsStore::ParseText(text, root, &error)) << error;
    const SettingsNode& korvane = *root.subkeys.at("software")->subkeys.at("korvane");
    EXPECT_EQ(korvane.name, "Korvane");
    EXPECT_EQ(korvane.values.at("n").value.text, "later wins");
    EXPECT_EQ(korvane.values.at("h").value.bytes, (std::vector<BYTE>{0x01, 0xFF}));
    EXPECT_EQ(korvane.values.at("").value.text, "default\ttab");

    for (const char* bad :
         {"\"v\"=dword:1\n", "junk\n", "[k\n", "[a\\\\b]\n", "[a\\]\n", "[k]\n\"v\"=dword:\n",
          "[k]\n\"v\"=dword:123456789\n", "[k]\n\"v\"=dword:12x\n", "[k]\n\"v\"=hex:1\n", "[k]\n\"v\"=hex:01,\n",
          "[k]\n\"v\"=\"a\\q\"\n", "[k]\n\"v\"=\"open\n", "[k]\n\"v\"=\"a\x01\"\n", "[k]\n\"v\"=qword:1\n",
          "[k]\n\"v\"\n", "[k]\n\"v\"=\"a\" \"b\"\n"})
        EXPECT_FALSE(Parses(bad)) << bad;
    EXPECT_FALSE(Parses(std::string("[k]\n\"v\"=dword:1\0\n", 18)));
}

TEST_F(SettingsTest, OversizeNamesValuesAndFilesAreRefused)
{
    std::string hex = "[k]\n\"v\"=hex:00";
    for (size_t i = 1; i < SETTINGS_MAX_VALUE_SIZE; ++i)
        hex += ",00";
    EXPECT_TRUE(Parses(hex + "\n"));
    EXPECT_FALSE(Parses(hex + ",00\n"));
    EXPECT_FALSE(Parses("[k]\n\"v\"=\"" + std::string(SETTINGS_MAX_VALUE_SIZE + 1, 'x') + "\"\n"));
    EXPECT_FALSE(Parses("[" + std::string(SETTINGS_MAX_KEY_NAME + 1, 'k') + "]\n"));
    EXPECT_FALSE(Parses("[k]\n;" + std::string(SETTINGS_MAX_LINE, ' ') + "\n"));
    std::string deep = "[k";
    for (size_t i = 1; i < SETTINGS_MAX_DEPTH; ++i)
        deep += "\\k";
    EXPECT_TRUE(Parses(deep + "]\n"));
    EXPECT_FALSE(Parses(deep + "\\k]\n"));

    CSettingsStore store(File());
    CSettingsKey key(store);
    EXPECT_FALSE(key.Create(std::string(SETTINGS_MAX_KEY_NAME + 1, 'k')));
    ASSERT_TRUE(key.Create("k"));
    const std::vector<BYTE> big(SETTINGS_MAX_VALUE_SIZE + 1);
    EXPECT_FALSE(key.SetBinary("big", big.data(), big.size()));
    EXPECT_FALSE(key.SetString("big", std::string(big.size(), 'x')));
    EXPECT_FALSE(key.SetDword(std::string(SETTINGS_MAX_VALUE_NAME + 1, 'n'), 1));
    EXPECT_TRUE(key.EnumValueNames().empty());
}

TEST_F(SettingsTest, NamesCompareWithoutCaseKeepTheFirstSpellingAndSortFolded)
{
    CSettingsStore store(File());
    CSettingsKey key(store);
    ASSERT_TRUE(key.Create("Software\\Korvane\\Option"));
    ASSERT_TRUE(key.SetDword("i_Gray", 1));
    ASSERT_TRUE(key.SetDword("I_GRAY", 2));
    for (const char* name :
         {"SOFTWARE\\KORVANE\\OPTION\\zeta", "software\\korvane\\option\\Alpha", "Software\\Korvane\\Option\\beta"})
        ASSERT_TRUE(key.Create(name));
    ASSERT_TRUE(key.Open("software\\korvane\\OPTION"));
    DWORD d = 0;
    EXPECT_TRUE(key.QueryDword("i_gray", d) && d == 2);
    EXPECT_THAT(key.EnumValueNames(), ElementsAre("i_Gray"));
    EXPECT_THAT(key.EnumSubKeys(), ElementsAre("Alpha", "beta", "zeta"));
    // A query of another type fails and leaves the output alone.
    std::string s = "kept";
    EXPECT_FALSE(key.QueryString("i_gray", s));
    EXPECT_EQ(s, "kept");
}

TEST_F(SettingsTest, KeyDeletedUnderAnOpenHandleIsGoneForIt)
{
    CSettingsStore store(File());
    CSettingsKey inner(store), outer(store);
    ASSERT_TRUE(inner.Create("OptionList\\Mine\\Deeper"));
    ASSERT_TRUE(inner.SetDword("v", 1) && inner.Flush());
    ASSERT_TRUE(outer.Open("OptionList"));
    EXPECT_TRUE(outer.DeleteSubKey("mine"));
    EXPECT_FALSE(outer.DeleteSubKey("mine"));

    DWORD d = 0;
    EXPECT_FALSE(inner.QueryDword("v", d));
    EXPECT_FALSE(inner.SetDword("v", 2));
    EXPECT_TRUE(inner.EnumValueNames().empty());
    EXPECT_TRUE(outer.EnumSubKeys().empty());
    ASSERT_TRUE(outer.Flush());
    CSettingsStore reloaded(File());
    CSettingsKey check(reloaded);
    EXPECT_FALSE(check.Open("OptionList\\Mine"));

    // The handle finds the key again once someone recreates it.
    CSettingsKey again(store);
    ASSERT_TRUE(again.Create("OptionList\\Mine\\Deeper"));
    EXPECT_TRUE(inner.SetDword("v", 3));
}

TEST_F(SettingsTest, FailedSaveKeepsTheOldFileAndLeavesNoTemporary)
{
    WriteFile(File(), "[k]\n");
    CSettingsStore store(File());
    CSettingsKey key(store);
    ASSERT_TRUE(key.Open("k"));
    // Escaped as \x80 each, these would make a file too large to load again.
    const std::string value(SETTINGS_MAX_VALUE_SIZE, '\x80');
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(key.SetString("v" + std::to_string(i), value));
    EXPECT_FALSE(key.Flush());
    EXPECT_EQ(ReadFile(File()), "[k]\n");
    // Something else now sits at the file's path; rename cannot replace it.
    fs::remove(File());
    fs::create_directory(File());
    WriteFile(File() + "/inside", "kept");
    EXPECT_FALSE(key.Flush());
    EXPECT_EQ(ReadFile(File() + "/inside"), "kept");
    EXPECT_THAT(FolderEntries(dir_), ElementsAre("settings.conf"));
}

TEST_F(SettingsTest, DamagedFileIsReportedKeptAsideNeverOverwrittenAndDefaultsUsed)
{
    const std::string damaged = "[k]\n\"v\"=dword:1\n\"w\"=hex:zz\n";
    WriteFile(File(), damaged);
    CSettingsStore store(File());
    CSettingsKey key(store);
    EXPECT_FALSE(key.Open("k"));
    ASSERT_EQ(messages_.size(), 1u);
    std::vector<std::string> entries = FolderEntries(dir_);
    ASSERT_EQ(entries.size(), 1u);
    const std::string aside = dir_ + "/" + entries[0];
    EXPECT_THAT(entries[0], ::testing::StartsWith("settings.conf.corrupt-"));
    EXPECT_EQ(ReadFile(aside), damaged);
    EXPECT_THAT(messages_[0], AllOf(HasSubstr(File()), HasSubstr(aside), HasSubstr("line 3")));

    // New settings go to a new file; the damaged copy stays as it was.
    ASSERT_TRUE(key.Create("k"));
    ASSERT_TRUE(key.SetDword("v", 5));
    ASSERT_TRUE(key.Flush());
    EXPECT_EQ(ReadFile(aside), damaged);
    EXPECT_EQ(messages_.size(), 1u);

    // Later damaged files get copies of their own, even within one second.
    for (const char* text : {"second\n", "third\n"}) {
        WriteFile(File(), text);
        store.UseFile(File());
    }
    EXPECT_FALSE(fs::exists(File()));
    std::vector<std::string> contents;
    for (const std::string& name : FolderEntries(dir_))
        contents.push_back(ReadFile(dir_ + "/" + name));
    std::sort(contents.begin(), contents.end());
    EXPECT_THAT(contents, ElementsAre(damaged, "second\n", "third\n"));

    // An oversize file is set aside without being read.
    WriteFile(File(), "");
    ASSERT_EQ(::truncate(File().c_str(), SETTINGS_MAX_FILE_SIZE + 1), 0);
    store.UseFile(File());
    EXPECT_TRUE(store.IsWritable());
    ASSERT_EQ(messages_.size(), 4u);
    EXPECT_THAT(messages_[3], HasSubstr("too large"));
    EXPECT_FALSE(fs::exists(File()));

    // Something unreadable at the path is left alone and never saved over.
    fs::create_directory(File());
    store.UseFile(File());
    EXPECT_FALSE(store.IsWritable());
    ASSERT_TRUE(key.Create("k"));
    EXPECT_FALSE(key.Flush());
    EXPECT_TRUE(fs::is_directory(File()));
    ASSERT_EQ(messages_.size(), 5u);
    EXPECT_THAT(messages_[4], HasSubstr("cannot be read"));

    // A FIFO likewise, and reading it never waits for a writer.
    fs::remove(File());
    FifoGuard fifo(File());
    ASSERT_TRUE(fifo.Made());
    store.UseFile(File());
    EXPECT_FALSE(store.IsWritable());
    ASSERT_EQ(messages_.size(), 6u);
    EXPECT_THAT(messages_[5], AllOf(HasSubstr("cannot be read"), HasSubstr("not a regular file")));
    EXPECT_FALSE(fifo.WokeAReader());
    EXPECT_TRUE(fifo.IsStillAFifo());
}

TEST_F(SettingsTest, ConfigDirOverridesXdgWhichOverridesHome)
{
    ScopedEnv home("HOME", "/home/someone"), xdg("XDG_CONFIG_HOME", "relative/ignored"), dir("LINEWEFT_CONFIG_DIR", "");
    EXPECT_EQ(CSettingsStore::DefaultFolder(), "/home/someone/.config/Korvane/Lineweft");
    ::setenv("XDG_CONFIG_HOME", "/xdg/", 1);
    EXPECT_EQ(CSettingsStore::DefaultFile(), "/xdg/Korvane/Lineweft/settings.conf");
    ::setenv("LINEWEFT_CONFIG_DIR", (dir_ + "/cfg").c_str(), 1);
    // The default store reads the folder on first use, not when constructed.
    CSettingsStore store;
    fs::create_directory(dir_ + "/cfg");
    WriteFile(dir_ + "/cfg/settings.conf", "[Option]\n\"i_Gray\"=dword:00000080\n");
    CSettingsKey key(store);
    ASSERT_TRUE(key.Open("option"));
    DWORD d = 0;
    EXPECT_TRUE(key.QueryDword("I_GRAY", d) && d == 128);
    EXPECT_EQ(store.FilePath(), dir_ + "/cfg/settings.conf");
}

}  // namespace
