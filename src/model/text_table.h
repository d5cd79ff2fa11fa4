#pragma once
// Every text shown to the user is named by a language key with its English
// default beside the call site. Translations come from one language file
// loaded at start-up into one global table; a missing file, key or value
// shows the default, so the program runs in English without any file.
//
// Threads: the table is loaded at start-up before any worker thread runs and
// is only read afterwards; lookups do not modify it, so concurrent readers
// are safe. Loading while other threads look up texts is not.
//
// UI texts come from user-editable files: never pass one as a printf format.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CLangTable {
public:
    // Empties the table, then reads the file. False when the file could not
    // be read (or is no regular file), with the reason in `why` when given;
    // the table is then empty and every text shows its default, which is a
    // normal state, so callers may ignore the result.
    bool Load(const std::string& path, std::string* why = nullptr);

    // Empties the table, then reads language-file bytes from memory.
    void LoadFromMemory(std::string_view bytes);

    // One "key=value" line: the key is trimmed, the value kept as written
    // except that an empty value becomes " " and every "%" becomes CR LF.
    // Lines without "=" or with an empty key are ignored. Bytes that are not
    // valid UTF-8 are taken as Windows-1252.
    void ParseLine(std::string_view line);

    // Replaces the value of a known key in place, else appends the pair.
    void SetAt(std::string_view key, std::string_view value);

    // The stored value (case-sensitive), or an empty string when absent. The
    // reference stays valid until the table is next changed.
    [[nodiscard]] const std::string& Lookup(std::string_view key) const;

    void Clear();
    [[nodiscard]] std::size_t GetCount() const { return m_keys.size(); }
    [[nodiscard]] const std::string& GetKeyAt(std::size_t i) const { return m_keys[i]; }
    [[nodiscard]] const std::string& GetValueAt(std::size_t i) const { return m_values[i]; }

private:
    // Lets the index be searched with a string_view without building a string.
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };

    // Keys in first-seen order, values[i] belongs to keys[i]; the index maps a
    // key to its position so files with thousands of keys stay fast.
    std::vector<std::string> m_keys;
    std::vector<std::string> m_values;
    std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> m_index;
};

// The one table the program's texts come from.
[[nodiscard]] CLangTable& GetLangTable();

// Loads the global table from a file (see CLangTable::Load).
bool LoadLanguageFile(const std::string& path, std::string* why = nullptr);

// Loads the user's language file, named by the setting "LanguageFileName"
// under "Language" (default english.lan); a relative name lies beside the
// program. Without the file every text keeps its English default; false, with
// a sentence for the user in `why`, when the file is there but unreadable.
bool LoadUserLanguageFile(std::string* why = nullptr);

// The translation of key when the table has a non-empty value, else the
// English default.
[[nodiscard]] std::string GetLanString(std::string_view key, std::string_view englishDefault);
