#pragma once
// A growable block of bytes that packs and unpacks itself with zlib; the
// raster entity keeps its image in the project file this way.
//
// Packed form: a u32 little-endian length before packing, then a zlib stream
// (RFC 1950) of exactly that many bytes.
#include <cstdint>

class CByteBuffer {
public:
    CByteBuffer() = default;
    ~CByteBuffer();
    CByteBuffer(const CByteBuffer&) = delete;
    CByteBuffer& operator=(const CByteBuffer&) = delete;

    // A new block of n bytes (not cleared); false for 0 or when memory is short.
    [[nodiscard]] bool Alloc(std::uint32_t n);
    void Free();
    void SetSize(std::uint32_t n)
    {
        m_size = n;
        m_used = n;
    }
    // Takes ownership of a block allocated with malloc.
    void SetBlock(std::uint8_t* block, std::uint32_t n);
    // Takes over the other buffer's block; the other buffer is left empty.
    void Attach(CByteBuffer& other);

    // With `borrowed` the present block belongs to someone else (an image
    // library bitmap) and is forgotten rather than freed on success. Both
    // leave the buffer untouched on failure.
    [[nodiscard]] bool Compress(bool borrowed);
    [[nodiscard]] bool Decompress(bool borrowed);
    // The length a packed block says it unpacks to; 0 when too short to say.
    [[nodiscard]] std::uint32_t GetUnpackedLength() const;
    // Unpacks only the first n bytes of a packed block into out, leaving the
    // buffer as it is, so that a reader can check what the block says it
    // holds before it allocates for all of it. False when the stream is
    // damaged or holds fewer bytes.
    [[nodiscard]] bool UnpackHead(std::uint8_t* out, std::uint32_t n) const;

    std::uint8_t* GetData() const { return m_data; }
    std::uint8_t* GetCursor() const { return m_cursor; }
    void SetCursor(std::uint8_t* cursor) { m_cursor = cursor; }
    std::uint32_t GetSize() const { return m_size; }
    std::uint32_t GetUsed() const { return m_used; }

    // Forgets the block without freeing it (its owner frees it).
    void Release();

private:
    std::uint8_t* m_data = nullptr;
    std::uint8_t* m_cursor = nullptr;
    std::uint32_t m_size = 0;
    std::uint32_t m_used = 0;
};
