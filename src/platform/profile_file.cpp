#include "platform/profile_file.h"

#include "platform/input_file.h"

#include "platform/text_encoding.h"
#include "platform/text_trim.h"

#include <climits>
#include <cstdio>
#include <memory>

namespace {

std::string_view Trim(std::string_view s) { return TrimChars(s, " \t\v\f"); }

char FoldChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldChar(a[i]) != FoldChar(b[i]))
            return false;
    return true;
}

// Cuts UTF-8 text after max characters without splitting a sequence.
std::string_view CutToChars(std::string_view text, size_t max)
{
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (chars == max)
            return text.substr(0, i);
        ++chars;
    }
    return text;
}

std::string Fold(std::string_view s)
{
    std::string folded(s);
    for (char& c : folded)
        c = FoldChar(c);
    return folded;
}

// Lines end at CR, LF or NUL, so any of CR LF, LF and CR endings work.
// A CR LF pair ends one line, for the line numbers.
bool NextLine(std::string_view& rest, std::string_view& line)
{
    if (rest.empty())
        return false;
    size_t end = rest.find_first_of(std::string_view("\r\n\0", 3));
    if (end == std::string_view::npos)
        end = rest.size();
    line = rest.substr(0, end);
    const bool crlf = end + 1 < rest.size() && rest[end] == '\r' && rest[end + 1] == '\n';
    rest.remove_prefix(end == rest.size() ? end : end + (crlf ? 2 : 1));
    return true;
}

std::string_view Unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

int ParseProfileInt(std::string_view text)
{
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        if (value <= static_cast<long long>(INT_MAX) + 1)
            value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

bool CProfileFile::Load(const std::string& path, std::string* why)
{
    Clear();
    std::unique_ptr<FILE, int (*)(FILE*)> file(OpenInputStream(path, why), std::fclose);
    if (!file)
        return false;
    std::string bytes;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        if (bytes.size() + n > kProfileFileMaxBytes) {
            if (why)
                *why = "larger than a job file can be";
            return false;
        }
        bytes.append(buffer, n);
    }
    if (std::ferror(file.get())) {
        if (why)
            *why = "a read error";
        return false;
    }
    Parse(bytes);
    return true;
}

void CProfileFile::Parse(std::string_view bytes)
{
    Clear();
    const std::string text = LegacyTextToUtf8(bytes);
    std::string_view rest = text;
    std::string_view line;
    Section* current = nullptr;
    int number = 0;
    while (NextLine(rest, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            line.remove_prefix(1);
            line = Trim(line.substr(0, line.find(']')));
            // Later sections of the same name are never looked at.
            if (!m_index.emplace(Fold(line), m_sections.size()).second) {
                current = nullptr;
                continue;
            }
            m_sections.push_back({std::string(line), {}});
            current = &m_sections.back();
            continue;
        }
        const size_t equals = line.find('=');
        if (!current || equals == std::string_view::npos)
            continue;
        current->entries.push_back(
            {std::string(Trim(line.substr(0, equals))), std::string(Trim(line.substr(equals + 1))), number});
    }
}

std::vector<std::string> CProfileFile::GetSectionNames() const
{
    std::vector<std::string> names;
    names.reserve(m_sections.size());
    for (const Section& section : m_sections)
        names.push_back(section.name);
    return names;
}

bool CProfileFile::HasSection(std::string_view section) const { return FindSection(section) != nullptr; }

bool CProfileFile::HasKey(std::string_view section, std::string_view key) const
{
    return FindValue(section, key) != nullptr;
}

std::string CProfileFile::GetProfileString(std::string_view section, std::string_view key,
                                           std::string_view defaultValue) const
{
    const std::string* value = FindValue(section, key);
    return std::string(CutToChars(value ? Unquote(*value) : defaultValue, kProfileStringMaxChars));
}

int CProfileFile::GetProfileInt(std::string_view section, std::string_view key, int defaultValue) const
{
    const std::string* value = FindValue(section, key);
    if (!value || value->empty())
        return defaultValue;
    return ParseProfileInt(Unquote(*value));
}

const CProfileFile::Section* CProfileFile::FindSection(std::string_view name) const
{
    const auto found = m_index.find(Fold(name));
    return found == m_index.end() ? nullptr : &m_sections[found->second];
}

int CProfileFile::GetKeyLine(std::string_view section, std::string_view key) const
{
    const Entry* entry = FindEntry(section, key);
    return entry ? entry->line : 0;
}

const CProfileFile::Entry* CProfileFile::FindEntry(std::string_view sectionName, std::string_view key) const
{
    const Section* section = FindSection(sectionName);
    if (!section)
        return nullptr;
    for (const Entry& entry : section->entries)
        if (EqualNoCase(entry.key, key))
            return &entry;
    return nullptr;
}

const std::string* CProfileFile::FindValue(std::string_view sectionName, std::string_view key) const
{
    const Entry* entry = FindEntry(sectionName, key);
    return entry ? &entry->value : nullptr;
}
