#include "platform/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/message_box.h"

// The file is a sequence of lines:
//   ; comment                      (also '#'; blank lines are ignored)
//   [Software\Korvane\Lineweft]    a key by its full path; [] is the root
//   "name"=dword:0000002a          1 to 8 hex digits
//   "name"="text"                  \\ \" \n \r \t \xHH; other bytes raw
//   "name"=hex:01,ff               2 hex digits per byte, possibly none
//   @=...                          the key's default value ("" also works)
// Every key with values, and every key without subkeys, gets a section, so
// the tree comes back exactly.
// Values are never split over lines; SETTINGS_MAX_LINE leaves room for the
// largest value fully escaped.

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && FoldSettingName(s.substr(0, prefix.size())) == prefix;
}

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// ---- names and paths ----

bool IsValidKeyName(std::string_view name)
{
    if (name.empty() || name.size() > SETTINGS_MAX_KEY_NAME)
        return false;
    for (unsigned char c : name)
        if (c == '\\' || IsControl(c))
            return false;
    return true;
}

// Splits a backslash path into key names; one trailing backslash is allowed
// because callers build paths as base + "\" + name.
bool SplitPath(std::string_view path, std::vector<std::string>& parts)
{
    parts.clear();
    if (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    if (path.empty())
        return true;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string_view part = path.substr(start, end == std::string_view::npos ? end : end - start);
        if (!IsValidKeyName(part) || parts.size() >= SETTINGS_MAX_DEPTH)
            return false;
        parts.emplace_back(part);
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

SettingsNode* FindChild(SettingsNode& node, const std::string& name)
{
    auto it = node.subkeys.find(FoldSettingName(name));
    return it == node.subkeys.end() ? nullptr : it->second.get();
}

SettingsNode* FindNode(SettingsNode& root, const std::vector<std::string>& parts, size_t count)
{
    SettingsNode* node = &root;
    for (size_t i = 0; i < count && node; ++i)
        node = FindChild(*node, parts[i]);
    return node;
}

SettingsNode* FindNode(SettingsNode& root, const std::vector<std::string>& parts)
{
    return FindNode(root, parts, parts.size());
}

SettingsNode* CreateNode(SettingsNode& root, const std::vector<std::string>& parts, bool& created)
{
    SettingsNode* node = &root;
    for (const std::string& part : parts) {
        auto& slot = node->subkeys[FoldSettingName(part)];
        if (!slot) {
            slot = std::make_unique<SettingsNode>();
            slot->name = part;
            created = true;
        }
        node = slot.get();
    }
    return node;
}

void SetNamed(SettingsNode& node, const std::string& name, SettingValue value)
{
    auto [it, inserted] = node.values.try_emplace(FoldSettingName(name));
    if (inserted)
        it->second.name = name;
    it->second.value = std::move(value);
}

bool ValueFits(const SettingValue& v)
{
    switch (v.type) {
    case SettingType::Dword:
        return true;
    case SettingType::String:
        return v.text.size() <= SETTINGS_MAX_VALUE_SIZE;
    case SettingType::Binary:
        return v.bytes.size() <= SETTINGS_MAX_VALUE_SIZE;
    }
    return false;
}

// ---- parsing one line ----

// A cursor over one trimmed line; a failure leaves its reason in why.
struct LineCursor {
    std::string_view line;
    size_t pos = 0;
    const char* why = nullptr;

    bool AtEnd() const { return pos >= line.size(); }
    char Peek() const { return AtEnd() ? '\0' : line[pos]; }
    void SkipBlanks()
    {
        while (!AtEnd() && IsBlank(line[pos]))
            ++pos;
    }
    bool Fail(const char* reason)
    {
        why = reason;
        return false;
    }
};

bool ParseEscape(LineCursor& c, std::string& out)
{
    if (c.AtEnd())
        return c.Fail("unterminated string");
    switch (c.line[c.pos++]) {
    case '\\': out += '\\'; return true;
    case '"': out += '"'; return true;
    case 'n': out += '\n'; return true;
    case 'r': out += '\r'; return true;
    case 't': out += '\t'; return true;
    case 'x': {
        if (c.pos + 2 > c.line.size())
            return c.Fail("bad escape");
        int hi = HexDigit(c.line[c.pos]), lo = HexDigit(c.line[c.pos + 1]);
        if (hi < 0 || lo < 0)
            return c.Fail("bad escape");
        out += static_cast<char>(hi * 16 + lo);
        c.pos += 2;
        return true;
    }
    default:
        return c.Fail("bad escape");
    }
}

// Reads "..." at the cursor.
bool ParseQuoted(LineCursor& c, size_t limit, std::string& out)
{
    if (c.Peek() != '"')
        return c.Fail("expected a quoted string");
    ++c.pos;
    for (;;) {
        if (c.AtEnd())
            return c.Fail("unterminated string");
        char ch = c.line[c.pos++];
        if (ch == '"')
            return true;
        if (out.size() >= limit)
            return c.Fail("value too large");
        if (ch == '\\') {
            if (!ParseEscape(c, out))
                return false;
        } else if (IsControl(static_cast<unsigned char>(ch)) && ch != '\t') {
            return c.Fail("control character in a string");
        } else {
            out += ch;
        }
    }
}

bool ParseDword(LineCursor& c, DWORD& v)
{
    size_t digits = 0;
    v = 0;
    while (!c.AtEnd() && HexDigit(c.Peek()) >= 0) {
        if (++digits > 8)
            return c.Fail("bad dword");
        v = v * 16 + static_cast<DWORD>(HexDigit(c.line[c.pos++]));
    }
    return digits > 0 || c.Fail("bad dword");
}

bool ParseHexBytes(LineCursor& c, std::vector<BYTE>& bytes)
{
    c.SkipBlanks();
    if (c.AtEnd())
        return true;
    for (;;) {
        if (c.pos + 2 > c.line.size())
            return c.Fail("bad hex");
        int hi = HexDigit(c.line[c.pos]), lo = HexDigit(c.line[c.pos + 1]);
        if (hi < 0 || lo < 0)
            return c.Fail("bad hex");
        if (bytes.size() >= SETTINGS_MAX_VALUE_SIZE)
            return c.Fail("value too large");
        bytes.push_back(static_cast<BYTE>(hi * 16 + lo));
        c.pos += 2;
        c.SkipBlanks();
        if (c.AtEnd())
            return true;
        if (c.Peek() != ',')
            return c.Fail("bad hex");
        ++c.pos;
        c.SkipBlanks();
    }
}

bool ParseValueLine(LineCursor& c, SettingsNode& section)
{
    std::string name;
    if (c.Peek() == '@')
        ++c.pos;
    else if (!ParseQuoted(c, SETTINGS_MAX_VALUE_NAME, name))
        return false;
    c.SkipBlanks();
    if (c.Peek() != '=')
        return c.Fail("expected '='");
    ++c.pos;
    c.SkipBlanks();

    SettingValue v;
    std::string_view rest = c.line.substr(c.pos);
    if (c.Peek() == '"') {
        v.type = SettingType::String;
        if (!ParseQuoted(c, SETTINGS_MAX_VALUE_SIZE, v.text))
            return false;
    } else if (StartsWithNoCase(rest, "dword:")) {
        c.pos += 6;
        v.type = SettingType::Dword;
        if (!ParseDword(c, v.dword))
            return false;
    } else if (StartsWithNoCase(rest, "hex:")) {
        c.pos += 4;
        v.type = SettingType::Binary;
        if (!ParseHexBytes(c, v.bytes))
            return false;
    } else {
        return c.Fail("unknown value type");
    }
    c.SkipBlanks();
    if (!c.AtEnd())
        return c.Fail("text after the value");
    SetNamed(section, name, std::move(v));
    return true;
}

SettingsNode* ParseSectionLine(std::string_view line, SettingsNode& root, const char*& why)
{
    std::vector<std::string> parts;
    if (line.size() < 2 || line.back() != ']' || !SplitPath(line.substr(1, line.size() - 2), parts)) {
        why = "bad key path";
        return nullptr;
    }
    // A trailing backslash is tolerated from callers, not in the file.
    if (line.size() > 2 && line[line.size() - 2] == '\\') {
        why = "bad key path";
        return nullptr;
    }
    bool created = false;
    return CreateNode(root, parts, created);
}

// ---- writing ----

// Length of the well-formed UTF-8 sequence at s[i], or 0.
size_t Utf8SequenceLength(std::string_view s, size_t i)
{
    unsigned char lead = static_cast<unsigned char>(s[i]);
    size_t n;
    unsigned cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        cp = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        unsigned char b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0u) != 0x80u)
            return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)))
        return 0;
    if (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))
        return 0;
    return n;
}

void AppendHexByte(std::string& out, unsigned char b)
{
    static const char digits[] = "0123456789abcdef";
    out += digits[b >> 4];
    out += digits[b & 15];
}

// Text stays readable UTF-8: bytes that are not part of a well-formed
// sequence are escaped like control bytes.
void WriteQuoted(std::string_view s, std::string& out)
{
    out += '"';
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c >= 0x80) {
            if (size_t n = Utf8SequenceLength(s, i)) {
                out.append(s.substr(i, n));
                i += n;
                continue;
            }
            out += "\\x";
            AppendHexByte(out, c);
        } else if (IsControl(c)) {
            out += "\\x";
            AppendHexByte(out, c);
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

void WriteValue(const NamedSetting& setting, std::string& out)
{
    if (setting.name.empty())
        out += '@';
    else
        WriteQuoted(setting.name, out);
    out += '=';
    const SettingValue& v = setting.value;
    switch (v.type) {
    case SettingType::Dword: {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v.dword));
        out += buf;
        break;
    }
    case SettingType::String:
        WriteQuoted(v.text, out);
        break;
    case SettingType::Binary:
        out += "hex:";
        for (size_t i = 0; i < v.bytes.size(); ++i) {
            if (i)
                out += ',';
            AppendHexByte(out, v.bytes[i]);
        }
        break;
    }
    out += '\n';
}

// A key with subkeys and no values is implied by its subkeys' sections.
void WriteNode(const SettingsNode& node, const std::string& path, bool isRoot, std::string& out)
{
    if (!node.values.empty() || (!isRoot && node.subkeys.empty())) {
        out += '[';
        out += path;
        out += "]\n";
        for (const auto& [folded, setting] : node.values)
            WriteValue(setting, out);
        out += '\n';
    }
    for (const auto& [folded, child] : node.subkeys)
        WriteNode(*child, isRoot ? child->name : path + '\\' + child->name, false, out);
}

// ---- files ----

enum class ReadResult { Ok, Missing, Unreadable, TooLarge };

ReadResult ReadWholeFile(const std::string& path, std::string& text, std::string& why)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        why = ErrnoText(errno);
        return ReadResult::Unreadable;
    }
    struct stat st {};
    ReadResult result = ReadResult::Ok;
    if (::fstat(fd, &st) != 0) {
        why = ErrnoText(errno);
        result = ReadResult::Unreadable;
    } else if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        result = ReadResult::Unreadable;
    } else if (static_cast<unsigned long long>(st.st_size) > SETTINGS_MAX_FILE_SIZE) {
        result = ReadResult::TooLarge;
    } else {
        text.reserve(static_cast<size_t>(st.st_size));
        char buf[65536];
        for (;;) {
            ssize_t got = ::read(fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                why = ErrnoText(errno);
                result = ReadResult::Unreadable;
                break;
            }
            if (got == 0)
                break;
            // The file may have grown since fstat.
            if (text.size() + static_cast<size_t>(got) > SETTINGS_MAX_FILE_SIZE) {
                result = ReadResult::TooLarge;
                break;
            }
            text.append(buf, static_cast<size_t>(got));
        }
    }
    ::close(fd);
    return result;
}

// 0 or an errno; never replaces an existing target.
int RenameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // Filesystems without RENAME_NOREPLACE: link refuses an existing target.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

bool MoveAside(const std::string& path, std::string& aside, std::string& why)
{
    std::time_t now = std::time(nullptr);
    std::tm local {};
    char stamp[32] = "";
    if (localtime_r(&now, &local))
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = path + ".corrupt-" + stamp;
    for (int n = 0; n < 1000; ++n) {
        aside = n == 0 ? base : base + "-" + std::to_string(n);
        int error = RenameNoReplace(path, aside);
        if (error == 0)
            return true;
        if (error != EEXIST) {
            why = ErrnoText(error);
            return false;
        }
    }
    why = "too many damaged copies kept already";
    return false;
}

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

// Makes the rename itself durable; a failure here loses nothing already saved.
void SyncFolder(const std::string& folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string WithoutTrailingSlashes(std::string s)
{
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    struct passwd pw {};
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return ".";
}

} // namespace

std::string FoldSettingName(std::string_view name)
{
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

bool operator==(const SettingsNode& a, const SettingsNode& b)
{
    if (a.name != b.name || a.values != b.values || a.subkeys.size() != b.subkeys.size())
        return false;
    for (auto ia = a.subkeys.begin(), ib = b.subkeys.begin(); ia != a.subkeys.end(); ++ia, ++ib)
        if (ia->first != ib->first || !(*ia->second == *ib->second))
            return false;
    return true;
}

// ---- CSettingsStore ----

CSettingsStore::CSettingsStore() = default;

CSettingsStore::CSettingsStore(std::string path) : path_(std::move(path)) {}

CSettingsStore::~CSettingsStore() = default;

CSettingsStore& CSettingsStore::Instance()
{
    static CSettingsStore store;
    return store;
}

std::string CSettingsStore::DefaultFolder()
{
    if (const char* dir = std::getenv("LINEWEFT_CONFIG_DIR"); dir && *dir)
        return WithoutTrailingSlashes(dir);
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return WithoutTrailingSlashes(xdg) + "/Korvane/Lineweft";
    return WithoutTrailingSlashes(HomeFolder()) + "/.config/Korvane/Lineweft";
}

std::string CSettingsStore::DefaultFile()
{
    std::string folder = DefaultFolder();
    return folder == "/" ? "/settings.conf" : folder + "/settings.conf";
}

void CSettingsStore::UseFile(const std::string& path)
{
    std::string report;
    {
        std::lock_guard lock(mutex_);
        path_ = path;
        LoadLocked(report);
    }
    if (!report.empty())
        ShowMessageBox(report, "Lineweft", MB_OK | MB_ICONWARNING);
}

std::string CSettingsStore::FilePath() const
{
    std::lock_guard lock(mutex_);
    return path_.empty() ? DefaultFile() : path_;
}

bool CSettingsStore::IsWritable()
{
    bool writable = false;
    WithTree([&](SettingsNode&) { writable = writable_; });
    return writable;
}

bool CSettingsStore::Save()
{
    bool saved = false;
    WithTree([&](SettingsNode&) { saved = SaveLocked(); });
    return saved;
}

void CSettingsStore::WithTree(const std::function<void(SettingsNode&)>& f)
{
    std::string report;
    {
        std::lock_guard lock(mutex_);
        if (!loaded_)
            LoadLocked(report);
        f(*root_);
    }
    if (!report.empty())
        ShowMessageBox(report, "Lineweft", MB_OK | MB_ICONWARNING);
}

void CSettingsStore::LoadLocked(std::string& report)
{
    if (path_.empty())
        path_ = DefaultFile();
    loaded_ = true;
    writable_ = true;
    root_ = std::make_unique<SettingsNode>();

    std::string text, why;
    switch (ReadWholeFile(path_, text, why)) {
    case ReadResult::Missing:
        return;
    case ReadResult::Unreadable:
        writable_ = false;
        report = "The settings file " + path_ + " cannot be read (" + why +
                 "); default settings are used and changes will not be saved.";
        return;
    case ReadResult::TooLarge:
        why = "the file is too large";
        break;
    case ReadResult::Ok: {
        SettingsNode tree;
        if (ParseText(text, tree, &why)) {
            *root_ = std::move(tree);
            return;
        }
        break;
    }
    }

    std::string aside, moveError;
    if (MoveAside(path_, aside, moveError)) {
        report = "The settings file " + path_ + " is damaged (" + why + "); it was kept as " + aside +
                 " and default settings are used.";
    } else {
        writable_ = false;
        report = "The settings file " + path_ + " is damaged (" + why + ") and could not be kept aside (" +
                 moveError + "); default settings are used and changes will not be saved.";
    }
}

bool CSettingsStore::SaveLocked()
{
    if (!writable_)
        return false;
    const std::string text = WriteText(*root_);
    // A file the loader would refuse must not replace a good one.
    if (text.size() > SETTINGS_MAX_FILE_SIZE)
        return false;

    std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return false;

    mode_t mode = 0644;
    struct stat old {};
    if (::stat(path_.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        mode = old.st_mode & 07777;

    std::string temp = path_ + ".tmp-XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path_.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(folder.string());
    return true;
}

bool CSettingsStore::ParseText(std::string_view text, SettingsNode& root, std::string* error)
{
    auto fail = [&](size_t lineNo, const std::string& why) {
        if (error)
            *error = lineNo ? "line " + std::to_string(lineNo) + ": " + why : why;
        return false;
    };
    if (text.size() > SETTINGS_MAX_FILE_SIZE)
        return fail(0, "the file is too large");

    SettingsNode tree;
    SettingsNode* section = nullptr;
    size_t lineNo = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (line.size() > SETTINGS_MAX_LINE)
            return fail(lineNo, "line too long");
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;

        const char* why = nullptr;
        if (line[0] == '[') {
            section = ParseSectionLine(line, tree, why);
        } else if (line[0] == '"' || line[0] == '@') {
            LineCursor cursor { line };
            if (!section)
                why = "value before any key";
            else if (!ParseValueLine(cursor, *section))
                why = cursor.why;
        } else {
            why = "neither a key nor a value";
        }
        if (why)
            return fail(lineNo, why);
    }
    root = std::move(tree);
    return true;
}

std::string CSettingsStore::WriteText(const SettingsNode& root)
{
    std::string out = "; Lineweft settings\n\n";
    WriteNode(root, "", true, out);
    return out;
}

// ---- CSettingsKey ----

CSettingsKey::CSettingsKey(CSettingsStore& store) : store_(&store) {}

CSettingsKey::~CSettingsKey() { Close(); }

bool CSettingsKey::Open(const std::string& path)
{
    Close();
    std::vector<std::string> parts;
    if (!SplitPath(path, parts))
        return false;
    bool found = false;
    store_->WithTree([&](SettingsNode& root) { found = FindNode(root, parts) != nullptr; });
    if (!found)
        return false;
    path_ = std::move(parts);
    open_ = true;
    return true;
}

bool CSettingsKey::Create(const std::string& path)
{
    Close();
    std::vector<std::string> parts;
    if (!SplitPath(path, parts))
        return false;
    bool created = false;
    store_->WithTree([&](SettingsNode& root) { CreateNode(root, parts, created); });
    path_ = std::move(parts);
    open_ = true;
    changed_ = created;
    return true;
}

bool CSettingsKey::Flush()
{
    if (!changed_)
        return true;
    if (!store_->Save())
        return false;
    changed_ = false;
    return true;
}

void CSettingsKey::Close()
{
    if (open_)
        (void)Flush();
    open_ = false;
    changed_ = false;
    path_.clear();
}

bool CSettingsKey::IsOpen() const { return open_; }

SettingsNode* CSettingsKey::Resolve(SettingsNode& root) const
{
    return open_ ? FindNode(root, path_) : nullptr;
}

bool CSettingsKey::SetValue(const std::string& name, const SettingValue& v)
{
    if (name.size() > SETTINGS_MAX_VALUE_NAME || !ValueFits(v))
        return false;
    bool done = false;
    store_->WithTree([&](SettingsNode& root) {
        if (SettingsNode* node = Resolve(root)) {
            SetNamed(*node, name, v);
            done = true;
        }
    });
    changed_ = changed_ || done;
    return done;
}

bool CSettingsKey::SetDword(const std::string& name, DWORD v)
{
    SettingValue value;
    value.type = SettingType::Dword;
    value.dword = v;
    return SetValue(name, value);
}

bool CSettingsKey::SetString(const std::string& name, const std::string& v)
{
    SettingValue value;
    value.type = SettingType::String;
    value.text = v;
    return SetValue(name, value);
}

bool CSettingsKey::SetBinary(const std::string& name, const void* data, size_t size)
{
    if (size > SETTINGS_MAX_VALUE_SIZE || (size && !data))
        return false;
    SettingValue value;
    value.type = SettingType::Binary;
    const BYTE* p = static_cast<const BYTE*>(data);
    value.bytes.assign(p, p + size);
    return SetValue(name, value);
}

bool CSettingsKey::QueryValue(const std::string& name, SettingValue& v) const
{
    bool found = false;
    store_->WithTree([&](SettingsNode& root) {
        if (SettingsNode* node = Resolve(root)) {
            auto it = node->values.find(FoldSettingName(name));
            if (it != node->values.end()) {
                v = it->second.value;
                found = true;
            }
        }
    });
    return found;
}

bool CSettingsKey::QueryDword(const std::string& name, DWORD& v) const
{
    SettingValue value;
    if (!QueryValue(name, value) || value.type != SettingType::Dword)
        return false;
    v = value.dword;
    return true;
}

bool CSettingsKey::QueryString(const std::string& name, std::string& v) const
{
    SettingValue value;
    if (!QueryValue(name, value) || value.type != SettingType::String)
        return false;
    v = std::move(value.text);
    return true;
}

bool CSettingsKey::QueryBinary(const std::string& name, std::vector<BYTE>& v) const
{
    SettingValue value;
    if (!QueryValue(name, value) || value.type != SettingType::Binary)
        return false;
    v = std::move(value.bytes);
    return true;
}

bool CSettingsKey::DeleteValue(const std::string& name)
{
    bool done = false;
    store_->WithTree([&](SettingsNode& root) {
        if (SettingsNode* node = Resolve(root))
            done = node->values.erase(FoldSettingName(name)) > 0;
    });
    changed_ = changed_ || done;
    return done;
}

bool CSettingsKey::DeleteSubKey(const std::string& name)
{
    std::vector<std::string> parts;
    if (!SplitPath(name, parts) || parts.empty())
        return false;
    bool done = false;
    store_->WithTree([&](SettingsNode& root) {
        SettingsNode* node = Resolve(root);
        if (node)
            node = FindNode(*node, parts, parts.size() - 1);
        if (node)
            done = node->subkeys.erase(FoldSettingName(parts.back())) > 0;
    });
    changed_ = changed_ || done;
    return done;
}

std::vector<std::string> CSettingsKey::EnumSubKeys() const
{
    std::vector<std::string> names;
    store_->WithTree([&](SettingsNode& root) {
        if (SettingsNode* node = Resolve(root))
            for (const auto& [folded, child] : node->subkeys)
                names.push_back(child->name);
    });
    return names;
}

std::vector<std::string> CSettingsKey::EnumValueNames() const
{
    std::vector<std::string> names;
    store_->WithTree([&](SettingsNode& root) {
        if (SettingsNode* node = Resolve(root))
            for (const auto& [folded, setting] : node->values)
                names.push_back(setting.name);
    });
    return names;
}
