#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int Fail(int error, const char* reason, std::string* why)
{
    if (why)
        *why = reason ? reason : std::strerror(error);
    errno = error;
    return -1;
}

}  // namespace

int OpenInputFile(const std::string& path, std::string* why)
{
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Fail(errno, nullptr, why);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return Fail(error, nullptr, why);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return Fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL,
                    S_ISDIR(info.st_mode) ? "a folder, not a file" : "not a regular file", why);
    }
    // Reads of a regular file never wait; the flag goes for the readers' sake.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        return Fail(error, nullptr, why);
    }
    return fd;
}

std::FILE* OpenInputStream(const std::string& path, std::string* why)
{
    const int fd = OpenInputFile(path, why);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        Fail(error, nullptr, why);
    }
    return file;
}
