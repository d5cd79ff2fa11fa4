#include "model/text_table.h"

#include <cstdio>
#include <memory>

#include "model/file_paths.h"
#include "model/text_lines.h"
#include "platform/input_file.h"
#include "platform/settings_store.h"
#include "platform/system.h"
#include "platform/text_encoding.h"
#include "platform/text_trim.h"

namespace {

// Real language files are a few hundred kilobytes; anything far beyond that is
// not one, and reading it whole would only waste memory.
constexpr std::size_t kMaxLanguageFileBytes = 16 * 1024 * 1024;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) { return TrimChars(s, " \t\v\f\r\n"); }

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* why)
{
    std::unique_ptr<std::FILE, FileCloser> f(OpenInputStream(path, why));
    if (!f)
        return false;
    char chunk[16 * 1024];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) {
        if (bytes.size() + got > kMaxLanguageFileBytes) {
            if (why)
                *why = "larger than a language file can be";
            return false;
        }
        bytes.append(chunk, got);
    }
    if (std::ferror(f.get())) {
        if (why)
            *why = "a read error";
        return false;
    }
    return true;
}

}  // namespace

bool CLangTable::Load(const std::string& path, std::string* why)
{
    Clear();
    std::string bytes;
    if (!ReadWholeFile(path, bytes, why))
        return false;
    LoadFromMemory(bytes);
    return true;
}

void CLangTable::LoadFromMemory(std::string_view bytes)
{
    Clear();
    // Editors saving UTF-8 often put a byte-order mark in front of the first key.
    if (bytes.starts_with(kUtf8Bom))
        bytes.remove_prefix(kUtf8Bom.size());
    for (std::string line = ReadTextLine(bytes); !line.empty(); line = ReadTextLine(bytes))
        ParseLine(line);
}

void CLangTable::ParseLine(std::string_view rawLine)
{
    // Each line decides its encoding on its own, so a file partly re-saved in
    // UTF-8 still reads. "=" and "%" are ASCII and survive the conversion.
    const std::string line = LegacyTextToUtf8(rawLine);
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0)
        return;
    const std::string_view key = Trim(std::string_view(line).substr(0, eq));
    if (key.empty())
        return;

    const std::string_view raw = std::string_view(line).substr(eq + 1);
    std::string value;
    if (raw.empty()) {
        // Present but blank: shows as a blank instead of the default.
        value = " ";
    } else {
        value.reserve(raw.size());
        for (const char c : raw) {
            if (c == '%')
                value += "\r\n";
            else
                value += c;
        }
    }
    SetAt(key, value);
}

void CLangTable::SetAt(std::string_view key, std::string_view value)
{
    if (const auto it = m_index.find(key); it != m_index.end()) {
        m_values[it->second] = value;
        return;
    }
    m_index.emplace(std::string(key), m_keys.size());
    m_keys.emplace_back(key);
    m_values.emplace_back(value);
}

const std::string& CLangTable::Lookup(std::string_view key) const
{
    static const std::string kEmpty;
    const auto it = m_index.find(key);
    return it == m_index.end() ? kEmpty : m_values[it->second];
}

void CLangTable::Clear()
{
    m_keys.clear();
    m_values.clear();
    m_index.clear();
}

CLangTable& GetLangTable()
{
    static CLangTable table;
    return table;
}

bool LoadLanguageFile(const std::string& path, std::string* why) { return GetLangTable().Load(path, why); }

bool LoadUserLanguageFile(std::string* why)
{
    std::string name = "english.lan";
    CSettingsKey key;
    std::string stored;
    if (key.Open("Software\\Korvane\\Lineweft\\Language") && key.QueryString("LanguageFileName", stored) &&
        !stored.empty())
        name = stored;
    if (name[0] != '/')
        name = GetFileDir(GetProgramPath()) + name;
    if (!FileExists(name))
        return true;
    std::string reason;
    if (LoadLanguageFile(name, &reason))
        return true;
    if (why)
        *why = "cannot read the language file " + name + " (" + reason + "); English texts are used";
    return false;
}

std::string GetLanString(std::string_view key, std::string_view englishDefault)
{
    const std::string& value = GetLangTable().Lookup(key);
    return value.empty() ? std::string(englishDefault) : value;
}
