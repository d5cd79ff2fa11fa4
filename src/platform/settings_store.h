#pragma once
// The settings store: the per-user key-value tree the program keeps its
// options in, with keys and subkeys holding typed values (DWORD, string,
// binary). Key and value names are compared without regard to ASCII case and
// keep the spelling they were first created with; an empty value name is the
// key's default value.
//
// The tree lives in one text file (settings.conf) that is saved atomically. A
// damaged file is moved aside and reported, an unreadable one is left alone;
// neither is ever overwritten.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <functional>
#include <vector>

#include "platform/win_types.h"

enum class SettingType { Dword, String, Binary };

struct SettingValue {
    SettingType type = SettingType::Dword;
    DWORD dword = 0;
    std::string text;
    std::vector<BYTE> bytes;

    bool operator==(const SettingValue&) const = default;
};

struct NamedSetting {
    std::string name;  // as first spelt
    SettingValue value;

    bool operator==(const NamedSetting&) const = default;
};

// One key. Children are indexed by their case-folded name, which also gives
// the stable order of enumeration and of the file.
struct SettingsNode {
    std::string name;  // as first spelt; empty for the root
    std::map<std::string, NamedSetting> values;
    std::map<std::string, std::unique_ptr<SettingsNode>> subkeys;
};
bool operator==(const SettingsNode& a, const SettingsNode& b);

// Limits the loader enforces before it allocates; setters refuse the same.
constexpr size_t SETTINGS_MAX_FILE_SIZE = 16u << 20;
constexpr size_t SETTINGS_MAX_VALUE_SIZE = 1u << 20;
constexpr size_t SETTINGS_MAX_KEY_NAME = 255;
constexpr size_t SETTINGS_MAX_VALUE_NAME = 16383;
constexpr size_t SETTINGS_MAX_DEPTH = 512;
// A line holds at most one value, every byte of it possibly escaped as \xHH.
constexpr size_t SETTINGS_MAX_LINE = 4 * (SETTINGS_MAX_VALUE_SIZE + SETTINGS_MAX_VALUE_NAME) + 64;

// ASCII lower case, the form names are compared in.
std::string FoldSettingName(std::string_view name);

class CSettingsStore {
public:
    CSettingsStore();                           // loads DefaultFile() on first use
    explicit CSettingsStore(std::string path);  // loads path on first use
    ~CSettingsStore();
    CSettingsStore(const CSettingsStore&) = delete;
    CSettingsStore& operator=(const CSettingsStore&) = delete;

    static CSettingsStore& Instance();
    // LINEWEFT_CONFIG_DIR, else $XDG_CONFIG_HOME/Korvane/Lineweft, else
    // $HOME/.config/Korvane/Lineweft; no trailing slash.
    static std::string DefaultFolder();
    static std::string DefaultFile();

    void UseFile(const std::string& path);  // re-point and reload now
    std::string FilePath() const;
    // False when the file on disk could not be read or moved aside, so saving
    // would destroy it.
    bool IsWritable();
    [[nodiscard]] bool Save();

    // The file format, from and to memory. ParseText fills root only on
    // success; error gets "line N: reason".
    [[nodiscard]] static bool ParseText(std::string_view text, SettingsNode& root, std::string* error = nullptr);
    static std::string WriteText(const SettingsNode& root);

private:
    friend class CSettingsKey;
    // Runs f on the loaded tree under the lock; a load report is shown after
    // the lock is released so a message hook may use the store itself.
    void WithTree(const std::function<void(SettingsNode&)>& f);
    void LoadLocked(std::string& report);
    bool SaveLocked();

    mutable std::mutex mutex_;
    std::string path_;
    bool loaded_ = false;
    bool writable_ = true;
    std::unique_ptr<SettingsNode> root_;
};

// Like an open registry key. The handle keeps only its path and resolves it
// on every call, so a key deleted under an open handle is simply gone for it.
// One handle belongs to one thread; the store itself is shared.
class CSettingsKey {
public:
    explicit CSettingsKey(CSettingsStore& store = CSettingsStore::Instance());
    ~CSettingsKey();
    CSettingsKey(const CSettingsKey&) = delete;
    CSettingsKey& operator=(const CSettingsKey&) = delete;

    // Paths are backslash-separated and relative to the user's root; "" is the
    // root itself. Opening closes what the handle had open.
    [[nodiscard]] bool Open(const std::string& path);    // existing key only
    [[nodiscard]] bool Create(const std::string& path);  // creates missing levels
    [[nodiscard]] bool Flush();                          // saves the store if this handle changed it
    void Close();                                        // Flush, ignoring the result
    bool IsOpen() const;

    [[nodiscard]] bool SetDword(const std::string& name, DWORD v);
    [[nodiscard]] bool SetString(const std::string& name, const std::string& v);
    [[nodiscard]] bool SetBinary(const std::string& name, const void* data, size_t size);
    [[nodiscard]] bool SetValue(const std::string& name, const SettingValue& v);
    // False when missing or of another type; v is then untouched.
    [[nodiscard]] bool QueryDword(const std::string& name, DWORD& v) const;
    [[nodiscard]] bool QueryString(const std::string& name, std::string& v) const;
    [[nodiscard]] bool QueryBinary(const std::string& name, std::vector<BYTE>& v) const;
    [[nodiscard]] bool QueryValue(const std::string& name, SettingValue& v) const;
    bool DeleteValue(const std::string& name);
    bool DeleteSubKey(const std::string& name);    // a relative path; with all its subkeys
    std::vector<std::string> EnumSubKeys() const;  // names as first spelt, ordered by folded name
    std::vector<std::string> EnumValueNames() const;

private:
    SettingsNode* Resolve(SettingsNode& root) const;

    CSettingsStore* store_;
    std::vector<std::string> path_;
    bool open_ = false;
    bool changed_ = false;
};
