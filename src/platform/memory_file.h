#pragma once
// A FILE* over a growing memory block: records write through stdio, and the
// finished content is then put in place in one step (WriteFileAtomically).
//
// The block is mapped for the file rather than taken from the allocator: the
// row-band pool's threads write records, and a thread's first request for a
// large block makes the allocator sweep every small block that thread freed
// before (a traced page's vertices), which costs more than the writing.
#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string_view>

class MemoryFile {
public:
    // A stream written in large pieces may go without a buffer of its own.
    enum class Buffering { kBuffered, kUnbuffered };
    explicit MemoryFile(Buffering buffering = Buffering::kBuffered);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Null when the stream could not be made.
    [[nodiscard]] std::FILE* Get() const { return m_File; }
    // Closes the stream; false when a write failed on the way.
    [[nodiscard]] bool Finish();
    // Empties the content for the stream to be written again; its pages stay.
    void Clear();
    // What was written; of a buffered stream, once it is finished.
    [[nodiscard]] std::string_view Content() const { return {m_Data ? m_Data : "", m_Size}; }

private:
    static ssize_t Write(void* self, const char* data, std::size_t size);
    static int Seek(void* self, off64_t* offset, int whence);
    bool Grow(std::size_t needed);

    std::FILE* m_File = nullptr;
    std::unique_ptr<char[]> m_Buffer;
    char* m_Data = nullptr;
    std::size_t m_Size = 0;
    std::size_t m_Position = 0;
    std::size_t m_Capacity = 0;
};
