// Saving a file without ever leaving a half-written one in its place.
//
// Order of a replacing save: resolve the symbolic links of the path to the
// file that is really meant, write the content into an unnamed file of that
// file's folder, give it the old file's mode, sync it, link it in under a
// temporary name and rename that over the target. Only the last two steps
// show a name, so a save killed while writing leaves nothing behind.
#include "platform/atomic_file.h"

#include "platform/stop_cleanup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Links followed before giving up, as the kernel's own path walk does.
constexpr int kMaxLinks = 40;
// Temporary names tried before giving up on a folder full of them.
constexpr int kNameAttempts = 100;
constexpr mode_t kNewFileMode = 0644;
// A streamed save asks the system to start writing out each this many bytes
// as they come, so that the sync before the rename waits for the last few
// only, not for a page's tens of megabytes.
constexpr off_t kWriteBackBytes = 8 << 20;

bool Fail(int error, std::string* why)
{
    if (why)
        *why = std::strerror(error);
    errno = error;
    return false;
}

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return false;
        if (put == 0) {
            errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a save to `path` really replaces: symbolic links are followed,
// one at a time, to the first name that is not a link (or does not exist).
bool ResolveLinks(const std::string& path, std::string& target)
{
    target = path;
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0)
            return errno == ENOENT;
        if (!S_ISLNK(info.st_mode))
            return true;
        char buffer[PATH_MAX];
        const ssize_t length = ::readlink(target.c_str(), buffer, sizeof buffer);
        if (length < 0)
            return false;
        if (static_cast<std::size_t>(length) >= sizeof buffer) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::string link(buffer, static_cast<std::size_t>(length));
        if (link.empty()) {
            errno = ENOENT;
            return false;
        }
        if (link[0] != '/' && target.find('/') != std::string::npos)
            link = FolderOf(target) + "/" + link;
        target = std::move(link);
    }
    errno = ELOOP;
    return false;
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

// A name beside the target that nothing else uses at the moment.
std::string TemporaryName(const std::string& target)
{
    static std::atomic<unsigned> counter{0};
    const auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".tmp-%lx%x%llx", static_cast<unsigned long>(::getpid()), counter.fetch_add(1),
                  ticks & 0xFFFFFFull);
    return target + suffix;
}

// Gives the unnamed file a temporary name. Linking through /proc needs no
// privilege; AT_EMPTY_PATH is the way where /proc is not mounted.
bool LinkUnnamed(int fd, const std::string& target, std::string& temp)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temp = TemporaryName(target);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno == EEXIST)
            continue;
        if (errno != ENOENT)
            return false;
        if (::linkat(fd, "", AT_FDCWD, temp.c_str(), AT_EMPTY_PATH) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}

// The mode a save gives the file: saving must not loosen or tighten what the
// user set on it.
mode_t SavedMode(const std::string& target)
{
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        return old.st_mode & 07777;
    return kNewFileMode;
}

// Set in the environment, saves take the named temporary as on a file system
// without unnamed files, so tests can see what a stop does with it.
bool NamedTemporaryForced() { return std::getenv("LINEWEFT_TEST_NAMED_TEMPORARY") != nullptr; }

// An unnamed file in the target's folder, or where the file system has none a
// named one (its name in `named`, removed on failure and on a stop).
bool OpenTemporary(const std::string& target, int& fd, std::string& named, CStopEntry& entry, std::string* why)
{
    named.clear();
    if (!NamedTemporaryForced()) {
        fd = ::open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0)
            return true;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return Fail(errno, why);
    }
    std::string temp = target + ".tmp-XXXXXX";
    fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return Fail(errno, why);
    named = std::move(temp);
    entry.Set(StopEntryKind::kFile, named);
    return true;
}

// Gives the written temporary its mode, syncs it and renames it over the
// target; the descriptor is closed and, on failure, the temporary is gone.
bool PutInPlace(int fd, const std::string& named, const std::string& target, mode_t mode, std::string* why)
{
    std::string temp = named;
    CStopEntry linked;
    bool ready = ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    if (ready && named.empty()) {
        ready = LinkUnnamed(fd, target, temp);
        if (ready)
            linked.Set(StopEntryKind::kFile, temp);
    }
    if (!ready) {
        const int error = errno;
        ::close(fd);
        if (!named.empty())
            ::unlink(named.c_str());
        return Fail(error, why);
    }
    if (::close(fd) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return Fail(error, why);
    }
    SyncFolder(FolderOf(target));
    return true;
}

bool ReplaceRegularFile(const std::string& target, std::string_view content, std::string* why)
{
    const mode_t mode = SavedMode(target);
    int fd = -1;
    std::string named;
    CStopEntry saving(StopEntryKind::kSaving, target), temporary;
    if (!OpenTemporary(target, fd, named, temporary, why))
        return false;
    if (!WriteAll(fd, content)) {
        const int error = errno;
        ::close(fd);
        if (!named.empty())
            ::unlink(named.c_str());
        return Fail(error, why);
    }
    return PutInPlace(fd, named, target, mode, why);
}

// A FIFO, a device or standard output takes the bytes as they come: there is
// nothing to replace, and renaming over it would put a file in its place.
bool WriteStraight(int fd, std::string_view content, std::string* why)
{
    if (!WriteAll(fd, content))
        return Fail(errno, why);
    return true;
}

}  // namespace

bool IsStreamTarget(const std::string& path)
{
    struct stat info {};
    return path == "-" || (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode));
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* why)
{
    if (path.empty())
        return Fail(ENOENT, why);
    if (path == "-")
        return WriteStraight(STDOUT_FILENO, content, why);

    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (S_ISDIR(info.st_mode))
            return Fail(EISDIR, why);
        // A FIFO waits here for its reader, as any writer to it would.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return Fail(errno, why);
        const bool ok = WriteStraight(fd, content, why);
        const int error = errno;
        ::close(fd);
        errno = error;
        return ok;
    }
    std::string target;
    if (!ResolveLinks(path, target))
        return Fail(errno, why);
    return ReplaceRegularFile(target, content, why);
}

CAtomicFile::~CAtomicFile()
{
    if (m_File)
        std::fclose(m_File);
    if (m_Fd >= 0)
        ::close(m_Fd);
    if (!m_Named.empty())
        ::unlink(m_Named.c_str());
}

bool CAtomicFile::Open(const std::string& path, std::string* why)
{
    if (path.empty())
        return Fail(ENOENT, why);
    if (IsStreamTarget(path))
        return Fail(EINVAL, why);
    if (!ResolveLinks(path, m_Target))
        return Fail(errno, why);
    m_Mode = SavedMode(m_Target);
    m_SavingEntry.Set(StopEntryKind::kSaving, m_Target);
    if (!OpenTemporary(m_Target, m_Fd, m_Named, m_TemporaryEntry, why))
        return false;
    // The stream writes to the temporary's descriptor, which stays open for
    // linking in after the stream is closed.
    m_File = fopencookie(this, "wb", {nullptr, &CAtomicFile::WriteToTemporary, nullptr, nullptr});
    if (!m_File)
        return Fail(errno, why);
    return true;
}

ssize_t CAtomicFile::WriteToTemporary(void* self, const char* data, std::size_t size)
{
    auto& file = *static_cast<CAtomicFile*>(self);
    if (!WriteAll(file.m_Fd, {data, size})) {
        if (file.m_WriteError == 0)
            file.m_WriteError = errno;
        return 0;
    }
    file.m_Written += static_cast<off_t>(size);
    // Whole blocks only: a page under writeback would hold up the next write
    // to its other part.
    const off_t whole = file.m_Written / kWriteBackBytes * kWriteBackBytes;
    if (whole > file.m_WrittenBack) {
        // Only a request: where the system cannot, the sync does it all.
        (void)::sync_file_range(file.m_Fd, file.m_WrittenBack, whole - file.m_WrittenBack, SYNC_FILE_RANGE_WRITE);
        file.m_WrittenBack = whole;
    }
    return static_cast<ssize_t>(size);
}

bool CAtomicFile::Commit(std::string* why)
{
    if (!m_File || m_Fd < 0)
        return Fail(EBADF, why);
    const bool written = std::ferror(m_File) == 0;
    const int writeError = m_WriteError != 0 ? m_WriteError : errno;
    const bool closed = std::fclose(m_File) == 0;
    m_File = nullptr;
    if (!written || !closed)
        return Fail(!written ? writeError : errno, why);
    const int fd = std::exchange(m_Fd, -1);
    const std::string named = std::exchange(m_Named, std::string());
    return PutInPlace(fd, named, m_Target, m_Mode, why);
}
