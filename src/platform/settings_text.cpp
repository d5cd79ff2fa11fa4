#include "platform/settings_store.h"

#include <cstdio>

#include "platform/settings_tree.h"
#include "platform/text_trim.h"

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

constexpr std::string_view kBlanks = " \t";

bool IsBlank(char c) { return kBlanks.find(c) != std::string_view::npos; }

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

std::string_view Trim(std::string_view s) { return TrimChars(s, kBlanks); }

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && FoldSettingName(s.substr(0, prefix.size())) == prefix;
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
    default: return c.Fail("bad escape");
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
        } else if (IsSettingsControl(static_cast<unsigned char>(ch)) && ch != '\t') {
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
    SetNamedSetting(section, name, std::move(v));
    return true;
}

SettingsNode* ParseSectionLine(std::string_view line, SettingsNode& root, const char*& why)
{
    std::vector<std::string> parts;
    if (line.size() < 2 || line.back() != ']' || !SplitSettingsPath(line.substr(1, line.size() - 2), parts)) {
        why = "bad key path";
        return nullptr;
    }
    // A trailing backslash is tolerated from callers, not in the file.
    if (line.size() > 2 && line[line.size() - 2] == '\\') {
        why = "bad key path";
        return nullptr;
    }
    bool created = false;
    return CreateSettingsNode(root, parts, created);
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
        } else if (IsSettingsControl(c)) {
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
    case SettingType::String: WriteQuoted(v.text, out); break;
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

}  // namespace

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
            LineCursor cursor{line};
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
