#pragma once
// A FILE* over a growing memory buffer: records write through stdio, and the
// finished content is then put in place in one step (WriteFileAtomically).
#include <cstdio>
#include <cstdlib>
#include <string_view>

class MemoryFile {
public:
    MemoryFile() : m_File(open_memstream(&m_Data, &m_Size)) {}
    ~MemoryFile()
    {
        if (m_File) std::fclose(m_File);
        std::free(m_Data);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Null when the stream could not be made.
    [[nodiscard]] std::FILE* Get() const { return m_File; }
    // Closes the stream; false when a write failed on the way.
    [[nodiscard]] bool Finish()
    {
        if (!m_File) return false;
        const bool ok = std::ferror(m_File) == 0;
        const bool closed = std::fclose(m_File) == 0;
        m_File = nullptr;
        return ok && closed;
    }
    [[nodiscard]] std::string_view Content() const { return {m_Data ? m_Data : "", m_Size}; }

private:
    char* m_Data = nullptr;
    std::size_t m_Size = 0;
    std::FILE* m_File;
};
