#include "platform/settings_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/message_box.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> FolderEntries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string EveryByte()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s += static_cast<char>(i);
    return s;
}

bool Parses(const std::string& text)
{
    SettingsNode root;
    return CSettingsStore::ParseText(text, root);
}

// Sets or unsets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
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
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    std::string File() const { return dir_ + "/settings.conf"; }

    std::string dir_;
    std::vector<std::string> messages_;
    MessageBoxHook previousHook_;
};

// ---- values survive the file ----

using SettingsRoundTrip = SettingsTest;

TEST_F(SettingsRoundTrip, EveryTypeAndEveryByteSurvivesASaveAndReload)
{
    const std::string weirdName = "a \"quoted\"\\name\n\x7f\xff";
    std::vector<BYTE> allBytes(256);
    for (int i = 0; i < 256; ++i)
        allBytes[i] = static_cast<BYTE>(i);
    {
        CSettingsStore store(File());
        CSettingsKey key(store);
        ASSERT_TRUE(key.Create("Software\\Korvane\\Lineweft\\Option"));
        ASSERT_TRUE(key.SetDword("i_Gray", 128));
        ASSERT_TRUE(key.SetDword("max", 0xFFFFFFFFu));
        ASSERT_TRUE(key.SetString("s_every", EveryByte()));
        ASSERT_TRUE(key.SetString("s_utf8", "Gr\xc3\xb6\xc3\x9f" "e \xe2\x82\xac"));
        ASSERT_TRUE(key.SetString("", "the default"));
        ASSERT_TRUE(key.SetString(weirdName, ""));
        ASSERT_TRUE(key.SetBinary("bytes", allBytes.data(), allBytes.size()));
        ASSERT_TRUE(key.SetBinary("none", nullptr, 0));
        ASSERT_TRUE(key.Create("Control Panel\\International"));
        ASSERT_TRUE(key.SetString("sDecimal", ","));
        ASSERT_TRUE(key.Flush());
    }
    CSettingsStore reloaded(File());
    CSettingsKey key(reloaded);
    ASSERT_TRUE(key.Open("Software\\Korvane\\Lineweft\\Option"));
    DWORD d = 0;
    std::string s;
    std::vector<BYTE> b;
    EXPECT_TRUE(key.QueryDword("i_Gray", d) && d == 128);
    EXPECT_TRUE(key.QueryDword("max", d) && d == 0xFFFFFFFFu);
    EXPECT_TRUE(key.QueryString("s_every", s) && s == EveryByte());
    EXPECT_TRUE(key.QueryString("s_utf8", s) && s == "Gr\xc3\xb6\xc3\x9f" "e \xe2\x82\xac");
    EXPECT_TRUE(key.QueryString("", s) && s == "the default");
    EXPECT_TRUE(key.QueryString(weirdName, s) && s.empty());
    EXPECT_TRUE(key.QueryBinary("bytes", b) && b == allBytes);
    EXPECT_TRUE(key.QueryBinary("none", b) && b.empty());
    EXPECT_THAT(key.EnumValueNames(), ElementsAre("", weirdName, "bytes", "i_Gray", "max", "none", "s_every", "s_utf8"));
    ASSERT_TRUE(key.Open("control panel\\international"));
    EXPECT_TRUE(key.QueryString("sdecimal", s) && s == ",");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsRoundTrip, FileIsPlainTextAndRewritesIdentically)
{
    {
        CSettingsStore store(File());
        CSettingsKey key(store);
        ASSERT_TRUE(key.Create("Software\\Korvane\\Lineweft\\Option"));
        ASSERT_TRUE(key.SetDword("i_Gray", 42));
        ASSERT_TRUE(key.SetString("s_every", EveryByte()));
        ASSERT_TRUE(key.Create("Software\\Korvane\\Lineweft\\Empty"));
    }
    const std::string text = ReadFile(File());
    EXPECT_THAT(text, HasSubstr("[Software\\Korvane\\Lineweft\\Option]\n\"i_Gray\"=dword:0000002a\n"));
    EXPECT_THAT(text, HasSubstr("[Software\\Korvane\\Lineweft\\Empty]\n"));
    for (unsigned char c : text)
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);

    CSettingsStore reloaded(File());
    ASSERT_TRUE(reloaded.Save());
    EXPECT_EQ(ReadFile(File()), text);
}

TEST_F(SettingsRoundTrip, RootValuesAndEmptyKeysSurvive)
{
    {
        CSettingsStore store(File());
        CSettingsKey key(store);
        ASSERT_TRUE(key.Create("a\\b\\c"));
        ASSERT_TRUE(key.Open(""));
        ASSERT_TRUE(key.SetDword("top", 7));
    }
    CSettingsStore reloaded(File());
    CSettingsKey key(reloaded);
    ASSERT_TRUE(key.Open("a\\b\\c"));
    ASSERT_TRUE(key.Open(""));
    DWORD d = 0;
    EXPECT_TRUE(key.QueryDword("top", d) && d == 7);
}

// ---- the text format ----

TEST(SettingsFormat, AcceptsHandEditedText)
{
    const std::string text =
        "; comment\r\n"
        "# another\r\n"
        "\r\n"
        "  [Software\\Korvane]  \r\n"
        "\"n\" = DWORD:2A\r\n"
        "\"h\"=HEX: 01 , FF\r\n"
        "\"\"=\"default\\ttab\"\r\n"
        "[software\\KORVANE]\n"
        "\"N\"=\"later wins\"\n";
    SettingsNode root;
    std::string error;
    ASSERT_TRUE(CSettingsStore::ParseText(text, root, &error)) << error;
    ASSERT_EQ(root.subkeys.size(), 1u);
    const SettingsNode& korvane = *root.subkeys.at("software")->subkeys.at("korvane");
    EXPECT_EQ(korvane.name, "Korvane");
    EXPECT_EQ(korvane.values.at("n").name, "n");
    EXPECT_EQ(korvane.values.at("n").value.text, "later wins");
    EXPECT_EQ(korvane.values.at("h").value.bytes, (std::vector<BYTE> { 0x01, 0xFF }));
    EXPECT_EQ(korvane.values.at("").value.text, "default\ttab");
}

TEST(SettingsFormat, RejectsDamagedLines)
{
    EXPECT_TRUE(Parses("[k]\n\"v\"=dword:0\n"));
    for (const char* bad : {
             "\"v\"=dword:1\n",                  // value before any key
             "junk\n",                           // neither key nor value
             "[k\n",                             // unterminated key
             "[a\\\\b]\n",                       // empty key name
             "[\\a]\n", "[a\\]\n",               // stray separators
             "[k]\n\"v\"=dword:\n",              // no digits
             "[k]\n\"v\"=dword:123456789\n",     // too many digits
             "[k]\n\"v\"=dword:12x\n",           // text after the value
             "[k]\n\"v\"=hex:1\n",               // half a byte
             "[k]\n\"v\"=hex:01,\n",             // trailing comma
             "[k]\n\"v\"=hex:0g\n",              // not hex
             "[k]\n\"v\"=\"a\\q\"\n",            // unknown escape
             "[k]\n\"v\"=\"a\\x4\"\n",           // short escape
             "[k]\n\"v\"=\"open\n",              // unterminated string
             "[k]\n\"v\"=\"a\x01\"\n",           // raw control byte
             "[k]\n\"v\"=qword:1\n",             // unknown type
             "[k]\n\"v\"\n",                     // no '='
             "[k]\n\"v\"=\"a\" \"b\"\n",         // two values
         })
        EXPECT_FALSE(Parses(bad)) << bad;
    EXPECT_FALSE(Parses(std::string("[k]\n\"v\"=dword:1\0\n", 18)));
}

TEST(SettingsFormat, RejectsOversizeNamesValuesAndFiles)
{
    std::string hex = "[k]\n\"v\"=hex:00";
    for (size_t i = 1; i < SETTINGS_MAX_VALUE_SIZE; ++i)
        hex += ",00";
    EXPECT_TRUE(Parses(hex + "\n"));
    EXPECT_FALSE(Parses(hex + ",00\n"));
    const std::string text(SETTINGS_MAX_VALUE_SIZE, 'x');
    EXPECT_TRUE(Parses("[k]\n\"v\"=\"" + text + "\"\n"));
    EXPECT_FALSE(Parses("[k]\n\"v\"=\"" + text + "x\"\n"));
    EXPECT_FALSE(Parses("[k]\n;" + std::string(SETTINGS_MAX_LINE, ' ') + "\n"));
    EXPECT_FALSE(Parses("[" + std::string(SETTINGS_MAX_KEY_NAME + 1, 'k') + "]\n"));
    std::string deep = "[k";
    for (size_t i = 1; i < SETTINGS_MAX_DEPTH; ++i)
        deep += "\\k";
    EXPECT_TRUE(Parses(deep + "]\n"));
    EXPECT_FALSE(Parses(deep + "\\k]\n"));
    EXPECT_FALSE(Parses(std::string(SETTINGS_MAX_FILE_SIZE + 1, '\n')));
}

// ---- names ----

using SettingsNames = SettingsTest;

TEST_F(SettingsNames, CompareWithoutCaseAndKeepTheFirstSpelling)
{
    CSettingsStore store(File());
    CSettingsKey key(store);
    ASSERT_TRUE(key.Create("Software\\Korvane\\Lineweft\\Option"));
    ASSERT_TRUE(key.SetDword("i_Gray", 1));
    ASSERT_TRUE(key.SetDword("I_GRAY", 2));
    ASSERT_TRUE(key.Create("SOFTWARE\\KORVANE\\LINEWEFT\\OPTION\\Center"));
    ASSERT_TRUE(key.Open("software\\korvane\\lineweft\\OPTION"));
    DWORD d = 0;
    EXPECT_TRUE(key.QueryDword("i_gray", d));
    EXPECT_EQ(d, 2u);
    EXPECT_THAT(key.EnumValueNames(), ElementsAre("i_Gray"));
    EXPECT_THAT(key.EnumSubKeys(), ElementsAre("Center"));
    ASSERT_TRUE(key.Open("Software\\Korvane\\Lineweft"));
    EXPECT_THAT(key.EnumSubKeys(), ElementsAre("Option"));
}

TEST_F(SettingsNames, EnumerationIsOrderedByFoldedName)
{
    CSettingsStore store(File());
    CSettingsKey key(store);
    for (const char* name : { "OptionList\\zeta", "OptionList\\Alpha", "OptionList\\beta" })
        ASSERT_TRUE(key.Create(name));
    ASSERT_TRUE(key.Open("OptionList\\"));
    EXPECT_THAT(key.EnumSubKeys(), ElementsAre("Alpha", "beta", "zeta"));
}

TEST_F(SettingsNames, MalformedPathsAndOversizeValuesAreRefused)
{
    CSettingsStore store(File());
    CSettingsKey key(store);
    for (const std::string& bad : { std::string("a\\\\b"), std::string("\\a"), std::string("a\tb"),
                                    std::string(SETTINGS_MAX_KEY_NAME + 1, 'k') })
        EXPECT_FALSE(key.Create(bad)) << bad;
    EXPECT_FALSE(key.Open("missing"));
    EXPECT_FALSE(key.IsOpen());
    ASSERT_TRUE(key.Create("k"));
    const std::vector<BYTE> big(SETTINGS_MAX_VALUE_SIZE + 1);
    EXPECT_FALSE(key.SetBinary("big", big.data(), big.size()));
    EXPECT_FALSE(key.SetString("big", std::string(big.size(), 'x')));
    EXPECT_FALSE(key.SetDword(std::string(SETTINGS_MAX_VALUE_NAME + 1, 'n'), 1));
    EXPECT_TRUE(key.EnumValueNames().empty());
}

TEST_F(SettingsNames, QueriesOfAnotherTypeFailAndLeaveTheOutputAlone)
{
    CSettingsStore store(File());
    CSettingsKey key(store);
    ASSERT_TRUE(key.Create("k"));
    ASSERT_TRUE(key.SetString("s", "text"));
    ASSERT_TRUE(key.SetDword("d", 5));
    DWORD d = 99;
    std::string s = "kept";
    std::vector<BYTE> b { 1 };
    EXPECT_FALSE(key.QueryDword("s", d));
    EXPECT_FALSE(key.QueryString("d", s));
    EXPECT_FALSE(key.QueryBinary("s", b));
    EXPECT_FALSE(key.QueryDword("missing", d));
    EXPECT_EQ(d, 99u);
    EXPECT_EQ(s, "kept");
    EXPECT_EQ(b, std::vector<BYTE> { 1 });
    SettingValue v;
    ASSERT_TRUE(key.QueryValue("S", v));
    EXPECT_EQ(v.type, SettingType::String);
}

// ---- key handles ----

using SettingsKeyHandle = SettingsTest;

TEST_F(SettingsKeyHandle, KeyDeletedUnderAnOpenHandleIsGoneForIt)
{
    CSettingsStore store(File());
    CSettingsKey inner(store), outer(store);
    ASSERT_TRUE(inner.Create("OptionList\\Mine\\Deeper"));
    ASSERT_TRUE(inner.SetDword("v", 1));
    ASSERT_TRUE(outer.Open("OptionList"));
    EXPECT_TRUE(outer.DeleteSubKey("mine"));
    EXPECT_FALSE(outer.DeleteSubKey("mine"));

    DWORD d = 0;
    EXPECT_TRUE(inner.IsOpen());
    EXPECT_FALSE(inner.QueryDword("v", d));
    EXPECT_FALSE(inner.SetDword("v", 2));
    EXPECT_TRUE(inner.EnumValueNames().empty());
    EXPECT_TRUE(outer.EnumSubKeys().empty());

    // The handle finds the key again once someone recreates it.
    CSettingsKey again(store);
    ASSERT_TRUE(again.Create("OptionList\\Mine\\Deeper"));
    EXPECT_TRUE(inner.SetDword("v", 3));
}

TEST_F(SettingsKeyHandle, OnlyAHandleThatChangedSomethingSaves)
{
    CSettingsStore store(File());
    {
        CSettingsKey key(store);
        ASSERT_TRUE(key.Open(""));
        DWORD d;
        EXPECT_FALSE(key.QueryDword("x", d));
    }
    EXPECT_FALSE(fs::exists(File()));
    {
        CSettingsKey key(store);
        ASSERT_TRUE(key.Create("k"));
        ASSERT_TRUE(key.SetDword("x", 1));
    } // closing flushes
    EXPECT_THAT(ReadFile(File()), HasSubstr("\"x\"=dword:00000001"));
}

TEST_F(SettingsKeyHandle, DeletingValuesAndSubtrees)
{
    CSettingsStore store(File());
    CSettingsKey key(store);
    ASSERT_TRUE(key.Create("a\\b\\c"));
    ASSERT_TRUE(key.Create("a"));
    ASSERT_TRUE(key.SetDword("v", 1));
    EXPECT_TRUE(key.DeleteValue("V"));
    EXPECT_FALSE(key.DeleteValue("v"));
    EXPECT_FALSE(key.DeleteSubKey("b\\missing"));
    EXPECT_TRUE(key.DeleteSubKey("B"));
    EXPECT_TRUE(key.EnumSubKeys().empty());
    EXPECT_FALSE(key.DeleteSubKey(""));
    ASSERT_TRUE(key.Flush());
    CSettingsStore reloaded(File());
    CSettingsKey check(reloaded);
    EXPECT_FALSE(check.Open("a\\b"));
    EXPECT_TRUE(check.Open("a"));
}

// ---- saving ----

using SettingsAtomicSave = SettingsTest;

TEST_F(SettingsAtomicSave, SaveCreatesMissingFolders)
{
    const std::string path = dir_ + "/one/two/settings.conf";
    CSettingsStore store(path);
    CSettingsKey key(store);
    ASSERT_TRUE(key.Create("k"));
    EXPECT_TRUE(key.Flush());
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_THAT(FolderEntries(dir_ + "/one/two"), ElementsAre("settings.conf"));
}

TEST_F(SettingsAtomicSave, ReadOnlyFolderKeepsTheOldFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root ignores folder permissions";
    WriteFile(File(), "[k]\n\"v\"=dword:1\n");
    CSettingsStore store(File());
    CSettingsKey key(store);
    ASSERT_TRUE(key.Open("k"));
    ASSERT_TRUE(key.SetDword("v", 2));
    ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
    EXPECT_FALSE(key.Flush());
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    EXPECT_EQ(ReadFile(File()), "[k]\n\"v\"=dword:1\n");
    EXPECT_THAT(FolderEntries(dir_), ElementsAre("settings.conf"));
}

TEST_F(SettingsAtomicSave, FailedRenameLeavesNoTemporaryFile)
{
    WriteFile(File(), "[k]\n");
    CSettingsStore store(File());
    CSettingsKey key(store);
    ASSERT_TRUE(key.Open("k"));
    ASSERT_TRUE(key.SetDword("v", 2));
    // Something else now sits at the file's path; rename cannot replace it.
    fs::remove(File());
    fs::create_directory(File());
    WriteFile(File() + "/inside", "kept");
    EXPECT_FALSE(key.Flush());
    EXPECT_EQ(ReadFile(File() + "/inside"), "kept");
    EXPECT_THAT(FolderEntries(dir_), ElementsAre("settings.conf"));
}

TEST_F(SettingsAtomicSave, FolderThatCannotBeCreatedFailsTheSave)
{
    WriteFile(dir_ + "/file", "x");
    CSettingsStore store(dir_ + "/file/settings.conf");
    CSettingsKey key(store);
    ASSERT_TRUE(key.Create("k"));
    EXPECT_FALSE(key.Flush());
    EXPECT_EQ(ReadFile(dir_ + "/file"), "x");
}

TEST_F(SettingsAtomicSave, FileTooLargeToLoadAgainIsNotSaved)
{
    WriteFile(File(), "[k]\n");
    CSettingsStore store(File());
    CSettingsKey key(store);
    ASSERT_TRUE(key.Open("k"));
    // Each byte becomes \x80 in the file.
    const std::string value(SETTINGS_MAX_VALUE_SIZE, '\x80');
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(key.SetString("v" + std::to_string(i), value));
    EXPECT_FALSE(key.Flush());
    EXPECT_EQ(ReadFile(File()), "[k]\n");
}

// ---- damaged and unreadable files ----

using SettingsDamagedFile = SettingsTest;

TEST_F(SettingsDamagedFile, IsReportedOnceKeptAsideAndDefaultsUsed)
{
    const std::string damaged = "[k]\n\"v\"=dword:1\n\"w\"=hex:zz\n";
    WriteFile(File(), damaged);
    CSettingsStore store(File());
    CSettingsKey key(store);
    EXPECT_FALSE(key.Open("k"));
    EXPECT_TRUE(key.Open(""));
    EXPECT_TRUE(key.EnumSubKeys().empty());

    ASSERT_EQ(messages_.size(), 1u);
    std::vector<std::string> entries = FolderEntries(dir_);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_THAT(entries[0], ::testing::StartsWith("settings.conf.corrupt-"));
    const std::string aside = dir_ + "/" + entries[0];
    EXPECT_EQ(ReadFile(aside), damaged);
    EXPECT_THAT(messages_[0], HasSubstr(File()));
    EXPECT_THAT(messages_[0], HasSubstr(aside));
    EXPECT_THAT(messages_[0], HasSubstr("line 3"));

    // New settings go to a new file; the damaged copy stays as it was.
    ASSERT_TRUE(key.Create("k"));
    ASSERT_TRUE(key.SetDword("v", 5));
    ASSERT_TRUE(key.Flush());
    EXPECT_EQ(ReadFile(aside), damaged);
    EXPECT_EQ(FolderEntries(dir_).size(), 2u);
    EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(SettingsDamagedFile, EarlierDamagedCopiesAreNeverOverwritten)
{
    CSettingsStore store(File());
    for (const char* text : { "first\n", "second\n", "third\n" }) {
        WriteFile(File(), text);
        store.UseFile(File());
    }
    std::vector<std::string> contents;
    for (const std::string& name : FolderEntries(dir_))
        contents.push_back(ReadFile(dir_ + "/" + name));
    std::sort(contents.begin(), contents.end());
    EXPECT_THAT(contents, ElementsAre("first\n", "second\n", "third\n"));
    EXPECT_EQ(messages_.size(), 3u);
}

TEST_F(SettingsDamagedFile, OversizeFileIsSetAsideUnread)
{
    WriteFile(File(), "");
    ASSERT_EQ(::truncate(File().c_str(), SETTINGS_MAX_FILE_SIZE + 1), 0);
    CSettingsStore store(File());
    EXPECT_TRUE(store.IsWritable());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_THAT(messages_[0], HasSubstr("too large"));
    EXPECT_FALSE(fs::exists(File()));
}

TEST_F(SettingsDamagedFile, SomethingUnreadableAtThePathIsLeftAlone)
{
    fs::create_directory(File());
    WriteFile(File() + "/inside", "kept");
    CSettingsStore store(File());
    CSettingsKey key(store);
    ASSERT_TRUE(key.Create("k"));
    EXPECT_FALSE(key.Flush());
    EXPECT_FALSE(store.IsWritable());
    EXPECT_EQ(ReadFile(File() + "/inside"), "kept");
    EXPECT_THAT(FolderEntries(dir_), ElementsAre("settings.conf"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_THAT(messages_[0], HasSubstr("cannot be read"));
}

TEST_F(SettingsDamagedFile, FileWithoutReadPermissionIsLeftAlone)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root ignores file permissions";
    WriteFile(File(), "[k]\n");
    ASSERT_EQ(::chmod(File().c_str(), 0), 0);
    CSettingsStore store(File());
    EXPECT_FALSE(store.Save());
    ASSERT_EQ(::chmod(File().c_str(), 0644), 0);
    EXPECT_EQ(ReadFile(File()), "[k]\n");
    EXPECT_EQ(messages_.size(), 1u);
}

// ---- where the file lives ----

using SettingsLocation = SettingsTest;

TEST_F(SettingsLocation, ConfigDirOverridesXdgWhichOverridesHome)
{
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        ScopedEnv dir("LINEWEFT_CONFIG_DIR", nullptr);
        EXPECT_EQ(CSettingsStore::DefaultFolder(), "/home/someone/.config/Korvane/Lineweft");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg/");
        ScopedEnv dir("LINEWEFT_CONFIG_DIR", nullptr);
        EXPECT_EQ(CSettingsStore::DefaultFile(), "/xdg/Korvane/Lineweft/settings.conf");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/ignored");
        ScopedEnv dir("LINEWEFT_CONFIG_DIR", "");
        EXPECT_EQ(CSettingsStore::DefaultFolder(), "/home/someone/.config/Korvane/Lineweft");
    }
    ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
    ScopedEnv dir("LINEWEFT_CONFIG_DIR", dir_.c_str());
    EXPECT_EQ(CSettingsStore::DefaultFile(), File());
}

TEST_F(SettingsLocation, DefaultStoreLoadsLazilyFromTheOverrideFolder)
{
    ScopedEnv dir("LINEWEFT_CONFIG_DIR", (dir_ + "/cfg").c_str());
    CSettingsStore store;
    fs::create_directory(dir_ + "/cfg");
    WriteFile(dir_ + "/cfg/settings.conf", "[Option]\n\"i_Gray\"=dword:00000080\n");
    CSettingsKey key(store);
    ASSERT_TRUE(key.Open("option"));
    DWORD d = 0;
    EXPECT_TRUE(key.QueryDword("I_GRAY", d));
    EXPECT_EQ(d, 128u);
    EXPECT_EQ(store.FilePath(), dir_ + "/cfg/settings.conf");
}

// ---- threads ----

using SettingsThreads = SettingsTest;

TEST_F(SettingsThreads, ConcurrentHandlesSeeEveryValue)
{
    CSettingsStore store(File());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&store, t] {
            CSettingsKey key(store);
            if (!key.Create("T" + std::to_string(t)))
                return;
            for (DWORD i = 0; i < 200; ++i) {
                DWORD back = 0;
                if (!key.SetDword("v" + std::to_string(i), i) || !key.QueryDword("v" + std::to_string(i), back))
                    return;
            }
            (void)key.Flush();
        });
    for (std::thread& thread : threads)
        thread.join();
    CSettingsStore reloaded(File());
    CSettingsKey key(reloaded);
    for (int t = 0; t < 4; ++t) {
        ASSERT_TRUE(key.Open("t" + std::to_string(t)));
        EXPECT_EQ(key.EnumValueNames().size(), 200u);
    }
}

} // namespace
