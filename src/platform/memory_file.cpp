#include "platform/memory_file.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

namespace {

// The block's first mapping; it doubles as it fills.
constexpr std::size_t kFirstMapping = 256 * 1024;
// The stdio buffer of a buffered stream, which many small writes fill.
constexpr std::size_t kStreamBuffer = 64 * 1024;

}  // namespace

MemoryFile::MemoryFile(Buffering buffering)
{
    m_File = fopencookie(this, "w", {nullptr, &MemoryFile::Write, &MemoryFile::Seek, nullptr});
    if (m_File == nullptr)
        return;
    int set = 0;
    if (buffering == Buffering::kBuffered) {
        m_Buffer.reset(new (std::nothrow) char[kStreamBuffer]);
        set = m_Buffer ? std::setvbuf(m_File, m_Buffer.get(), _IOFBF, kStreamBuffer) : -1;
    } else {
        set = std::setvbuf(m_File, nullptr, _IONBF, 0);
    }
    if (set != 0) {
        std::fclose(m_File);
        m_File = nullptr;
    }
}

MemoryFile::~MemoryFile()
{
    if (m_File)
        std::fclose(m_File);
    if (m_Data)
        ::munmap(m_Data, m_Capacity);
}

bool MemoryFile::Finish()
{
    if (!m_File)
        return false;
    const bool ok = std::ferror(m_File) == 0;
    const bool closed = std::fclose(m_File) == 0;
    m_File = nullptr;
    return ok && closed;
}

void MemoryFile::Clear()
{
    if (m_File) {
        std::fflush(m_File);
        std::rewind(m_File);
        std::clearerr(m_File);
    }
    m_Size = m_Position = 0;
}

ssize_t MemoryFile::Write(void* self, const char* data, std::size_t size)
{
    auto& file = *static_cast<MemoryFile*>(self);
    if (size > file.m_Capacity - file.m_Position && !file.Grow(file.m_Position + size))
        return 0;
    std::memcpy(file.m_Data + file.m_Position, data, size);
    file.m_Position += size;
    file.m_Size = std::max(file.m_Size, file.m_Position);
    return static_cast<ssize_t>(size);
}

int MemoryFile::Seek(void* self, off64_t* offset, int whence)
{
    auto& file = *static_cast<MemoryFile*>(self);
    off64_t target = *offset;
    if (whence == SEEK_CUR)
        target += static_cast<off64_t>(file.m_Position);
    else if (whence == SEEK_END)
        target += static_cast<off64_t>(file.m_Size);
    // Only within what was written: past it, the pages may still hold the
    // bytes of a content cleared before.
    if ((whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) || target < 0 ||
        target > static_cast<off64_t>(file.m_Size)) {
        errno = EINVAL;
        return -1;
    }
    file.m_Position = static_cast<std::size_t>(target);
    *offset = target;
    return 0;
}

bool MemoryFile::Grow(std::size_t needed)
{
    if (needed > std::numeric_limits<std::size_t>::max() / 2) {
        errno = ENOMEM;
        return false;
    }
    std::size_t capacity = std::max(m_Capacity, kFirstMapping);
    while (capacity < needed)
        capacity *= 2;
    // A new mapping and a copy rather than mremap, which ThreadSanitizer
    // does not follow: it would take the old pages' writes for another
    // thread's at the address they had.
    void* data = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED)
        return false;
    if (m_Data) {
        std::memcpy(data, m_Data, m_Size);
        ::munmap(m_Data, m_Capacity);
    }
    m_Data = static_cast<char*>(data);
    m_Capacity = capacity;
    return true;
}
