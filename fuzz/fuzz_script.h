#pragma once
// The fuzzer's bytes as a script a fake device reads front to back; once
// they run out every read gives zeros.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

struct Script {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;

    bool Empty() const { return at >= size; }
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    // Little-endian words; the low byte is read first.
    std::uint16_t Word()
    {
        const std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | Byte() << 8);
    }
    std::uint32_t Long()
    {
        const std::uint32_t low = Word();
        return low | static_cast<std::uint32_t>(Word()) << 16;
    }
    std::int32_t Int() { return static_cast<std::int32_t>(Long()); }
    // Up to n bytes into out, the rest of out as it was; answers how many.
    std::size_t Fill(void* out, std::size_t n)
    {
        n = std::min(n, size - std::min(size, at));
        std::memcpy(out, data + at, n);
        at += n;
        return n;
    }
};
