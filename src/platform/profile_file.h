#pragma once
// Profile (INI) files: "[section]" headers followed by "key=value" lines, as
// the batch job files keep one option set per section. The whole file is
// parsed once and then queried like the profile functions the job files were
// written for:
// - section and key names are compared without regard to ASCII case; the
//   first section of a name and the first key of a name in it count;
// - names and values are trimmed of blanks, and one pair of matching single
//   or double quotes around a value is dropped;
// - a missing key gives the caller's default;
// - strings are cut to kProfileStringMaxChars characters (the old 512-byte
//   buffers);
// - integers are read leniently: a sign and the leading digits count, text
//   without digits is 0, values beyond the int range saturate.
// Files are read as bytes; text that is not UTF-8 is taken as Windows-1252.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

inline constexpr std::size_t kProfileStringMaxChars = 511;
// Job files are small; a larger file is refused before it is read.
inline constexpr std::size_t kProfileFileMaxBytes = 16u << 20;

class CProfileFile {
public:
    // Reads and parses the file; false (and an empty profile) when it cannot
    // be read, is no regular file or is larger than kProfileFileMaxBytes,
    // with the reason in `why` when given.
    [[nodiscard]] bool Load(const std::string& path, std::string* why = nullptr);
    // Parses profile bytes from memory, replacing what was held.
    void Parse(std::string_view bytes);
    void Clear()
    {
        m_sections.clear();
        m_index.clear();
    }

    // Section names in file order, each once (as first spelt).
    [[nodiscard]] std::vector<std::string> GetSectionNames() const;
    [[nodiscard]] bool HasSection(std::string_view section) const;
    [[nodiscard]] bool HasKey(std::string_view section, std::string_view key) const;

    // The value of key in section, or the default when either is missing.
    [[nodiscard]] std::string GetProfileString(std::string_view section, std::string_view key,
                                               std::string_view defaultValue) const;
    // The integer of key in section; the default when the key is missing or
    // its value is empty.
    [[nodiscard]] int GetProfileInt(std::string_view section, std::string_view key, int defaultValue) const;
    // The line (from 1) of the key that counts, for messages; 0 when missing.
    [[nodiscard]] int GetKeyLine(std::string_view section, std::string_view key) const;

private:
    struct Entry {
        std::string key;
        std::string value;  // as stored
        int line = 0;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    const Section* FindSection(std::string_view name) const;
    const Entry* FindEntry(std::string_view section, std::string_view key) const;
    const std::string* FindValue(std::string_view section, std::string_view key) const;

    std::vector<Section> m_sections;
    // Each section by its name folded to lower case: a job file of many
    // sections is looked up once per section, which a search would make
    // quadratic.
    std::unordered_map<std::string, std::size_t> m_index;
};

// The lenient integer reading of the profile functions (see above).
[[nodiscard]] int ParseProfileInt(std::string_view text);
