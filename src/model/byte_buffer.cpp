#include "model/byte_buffer.h"

#include <cstdlib>
#include <limits>
#include <zlib.h>

namespace {

constexpr std::uint32_t kLengthBytes = 4;
// zlib cannot expand data by more than about 1032:1, so a stated length
// beyond that is a lie; checking it first keeps a 10-byte block from asking
// for gigabytes.
constexpr std::uint64_t kMaxInflateRatio = 1032;
constexpr std::uint64_t kInflateSlack = 64;

void PutLength(std::uint8_t* p, std::uint32_t n)
{
    p[0] = static_cast<std::uint8_t>(n);
    p[1] = static_cast<std::uint8_t>(n >> 8);
    p[2] = static_cast<std::uint8_t>(n >> 16);
    p[3] = static_cast<std::uint8_t>(n >> 24);
}

std::uint32_t GetLength(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

CByteBuffer::~CByteBuffer() { Free(); }

bool CByteBuffer::Alloc(std::uint32_t n)
{
    Free();
    if (n == 0)
        return false;
    m_data = static_cast<std::uint8_t*>(std::malloc(n));
    if (!m_data)
        return false;
    m_cursor = m_data;
    m_size = n;
    m_used = 0;
    return true;
}

void CByteBuffer::Free()
{
    std::free(m_data);
    Release();
}

void CByteBuffer::Release()
{
    m_data = nullptr;
    m_cursor = nullptr;
    m_size = 0;
    m_used = 0;
}

void CByteBuffer::SetBlock(std::uint8_t* block, std::uint32_t n)
{
    if (block != m_data)
        Free();
    m_data = block;
    m_cursor = block;
    m_size = n;
    m_used = n;
}

void CByteBuffer::Attach(CByteBuffer& other)
{
    if (&other == this)
        return;
    Free();
    m_data = other.m_data;
    m_cursor = m_data;
    m_size = other.m_size;
    m_used = other.m_size;
    other.Release();
}

bool CByteBuffer::Compress(bool borrowed)
{
    std::uint64_t n = m_size;
    std::uint64_t workSize = n + n / 1000 + 16;
    if (workSize > std::numeric_limits<std::uint32_t>::max() || (n > 0 && !m_data))
        return false;
    CByteBuffer work;
    if (!work.Alloc(static_cast<std::uint32_t>(workSize)))
        return false;
    PutLength(work.m_data, m_size);
    uLongf packed = static_cast<uLongf>(workSize - kLengthBytes);
    static const Bytef empty = 0;
    const Bytef* source = m_data ? m_data : &empty;
    if (compress(work.m_data + kLengthBytes, &packed, source, static_cast<uLong>(n)) != Z_OK)
        return false;
    work.SetSize(static_cast<std::uint32_t>(packed + kLengthBytes));
    if (borrowed)
        Release();
    Attach(work);
    return true;
}

std::uint32_t CByteBuffer::GetUnpackedLength() const
{
    return m_data && m_size >= kLengthBytes ? GetLength(m_data) : 0;
}

bool CByteBuffer::UnpackHead(std::uint8_t* out, std::uint32_t n) const
{
    if (!m_data || m_size < kLengthBytes || !out)
        return false;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = m_data + kLengthBytes;
    stream.avail_in = m_size - kLengthBytes;
    stream.next_out = out;
    stream.avail_out = n;
    int result = Z_OK;
    // Each call makes progress or says why not; the output bounds the loop.
    while (stream.avail_out > 0 && result == Z_OK)
        result = inflate(&stream, Z_SYNC_FLUSH);
    inflateEnd(&stream);
    return stream.avail_out == 0;
}

bool CByteBuffer::Decompress(bool borrowed)
{
    if (!m_data || m_size < kLengthBytes)
        return false;
    std::uint32_t stated = GetLength(m_data);
    std::uint64_t streamBytes = m_size - kLengthBytes;
    if (stated == 0 || stated > streamBytes * kMaxInflateRatio + kInflateSlack)
        return false;
    CByteBuffer work;
    if (!work.Alloc(stated))
        return false;
    uLongf unpacked = stated;
    if (uncompress(work.m_data, &unpacked, m_data + kLengthBytes, static_cast<uLong>(streamBytes)) != Z_OK ||
        unpacked != stated)
        return false;
    work.SetSize(stated);
    if (borrowed)
        Release();
    Attach(work);
    return true;
}
