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

#include "platform/atomic_file.h"
#include "platform/message_box.h"
#include "platform/settings_tree.h"

// The tree, its file on disk and the key handles; the file's text format is
// in settings_text.cpp.

namespace {

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

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

bool ValueFits(const SettingValue& v)
{
    switch (v.type) {
    case SettingType::Dword: return true;
    case SettingType::String: return v.text.size() <= SETTINGS_MAX_VALUE_SIZE;
    case SettingType::Binary: return v.bytes.size() <= SETTINGS_MAX_VALUE_SIZE;
    }
    return false;
}

// ---- files ----

enum class ReadResult { Ok, Missing, Unreadable, TooLarge };

ReadResult ReadWholeFile(const std::string& path, std::string& text, std::string& why)
{
    // Not blocking: a FIFO in the file's place must not stall the program.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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
    std::tm local{};
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

}  // namespace

std::string FoldSettingName(std::string_view name)
{
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

bool IsValidSettingsKeyName(std::string_view name)
{
    if (name.empty() || name.size() > SETTINGS_MAX_KEY_NAME)
        return false;
    for (unsigned char c : name)
        if (c == '\\' || IsSettingsControl(c))
            return false;
    return true;
}

bool SplitSettingsPath(std::string_view path, std::vector<std::string>& parts)
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
        if (!IsValidSettingsKeyName(part) || parts.size() >= SETTINGS_MAX_DEPTH)
            return false;
        parts.emplace_back(part);
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

SettingsNode* CreateSettingsNode(SettingsNode& root, const std::vector<std::string>& parts, bool& created)
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

void SetNamedSetting(SettingsNode& node, const std::string& name, SettingValue value)
{
    auto [it, inserted] = node.values.try_emplace(FoldSettingName(name));
    if (inserted)
        it->second.name = name;
    it->second.value = std::move(value);
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
    case ReadResult::Missing: return;
    case ReadResult::Unreadable:
        writable_ = false;
        report = "The settings file " + path_ + " cannot be read (" + why +
                 "); default settings are used and changes will not be saved.";
        return;
    case ReadResult::TooLarge: why = "the file is too large"; break;
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
        report = "The settings file " + path_ + " is damaged (" + why + ") and could not be kept aside (" + moveError +
                 "); default settings are used and changes will not be saved.";
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

    return WriteFileAtomically(path_, text);
}

// ---- CSettingsKey ----

CSettingsKey::CSettingsKey(CSettingsStore& store) : store_(&store) {}

CSettingsKey::~CSettingsKey() { Close(); }

bool CSettingsKey::Open(const std::string& path)
{
    Close();
    std::vector<std::string> parts;
    if (!SplitSettingsPath(path, parts))
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
    if (!SplitSettingsPath(path, parts))
        return false;
    bool created = false;
    store_->WithTree([&](SettingsNode& root) { CreateSettingsNode(root, parts, created); });
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

SettingsNode* CSettingsKey::Resolve(SettingsNode& root) const { return open_ ? FindNode(root, path_) : nullptr; }

bool CSettingsKey::SetValue(const std::string& name, const SettingValue& v)
{
    if (name.size() > SETTINGS_MAX_VALUE_NAME || !ValueFits(v))
        return false;
    bool done = false;
    store_->WithTree([&](SettingsNode& root) {
        if (SettingsNode* node = Resolve(root)) {
            SetNamedSetting(*node, name, v);
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
    if (!SplitSettingsPath(name, parts) || parts.empty())
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
