// Packed blocks come from project files: any bytes must unpack or fail cleanly.
#include "model/byte_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    CByteBuffer buffer;
    auto* block = static_cast<std::uint8_t*>(std::malloc(size ? size : 1));
    if (!block)
        return 0;
    std::memcpy(block, data, size);
    buffer.SetBlock(block, static_cast<std::uint32_t>(size));
    // A reader checks the head before it unpacks the rest: whatever unpacks
    // whole must start with what its head unpacked to.
    std::uint8_t head[64];
    const std::uint32_t headBytes = std::min<std::uint32_t>(buffer.GetUnpackedLength(), sizeof head);
    const bool headRead = buffer.UnpackHead(head, headBytes);
    if (!buffer.Decompress(false))
        return 0;
    if (!headRead || std::memcmp(head, buffer.GetData(), headBytes) != 0)
        std::abort();
    // What unpacked must pack and unpack to the same bytes.
    std::uint32_t n = buffer.GetSize();
    auto* copy = static_cast<std::uint8_t*>(std::malloc(n));
    std::memcpy(copy, buffer.GetData(), n);
    if (!buffer.Compress(false) || !buffer.Decompress(false) || buffer.GetSize() != n ||
        std::memcmp(copy, buffer.GetData(), n) != 0)
        std::abort();
    std::free(copy);
    return 0;
}
