#pragma once
// The 5-5-5 pixel format of 16-bit images, in one place: a pixel is a
// little-endian u16 with red in bits 10..14, green in 5..9 and blue in 0..4;
// bit 15 is unused. Unpacking widens each field to the top of a byte (the low
// three bits stay 0), packing drops the low three bits of each byte.
#include "platform/win_types.h"

#include <cstddef>
#include <memory>
#include <new>

constexpr unsigned kMask555Red = 0x7C00;
constexpr unsigned kMask555Green = 0x03E0;
constexpr unsigned kMask555Blue = 0x001F;
constexpr unsigned kMask555 = kMask555Red | kMask555Green | kMask555Blue;

constexpr BYTE Red555(unsigned v) { return static_cast<BYTE>((v >> 7) & 0xF8); }
constexpr BYTE Green555(unsigned v) { return static_cast<BYTE>((v >> 2) & 0xF8); }
constexpr BYTE Blue555(unsigned v) { return static_cast<BYTE>((v << 3) & 0xF8); }

constexpr WORD Pack555(unsigned red, unsigned green, unsigned blue)
{
    return static_cast<WORD>(((red & 0xF8) << 7) | ((green & 0xF8) << 2) | ((blue & 0xF8) >> 3));
}

// Pixel x of a 16-bit row.
inline WORD Load555(const BYTE* row, std::size_t x) { return static_cast<WORD>(row[2 * x] | (row[2 * x + 1] << 8)); }

inline void Store555(BYTE* row, std::size_t x, WORD v)
{
    row[2 * x] = static_cast<BYTE>(v);
    row[2 * x + 1] = static_cast<BYTE>(v >> 8);
}

// Work buffers that may be large: null instead of an exception when memory
// runs out, so the operation can report it.
template <class T>
std::unique_ptr<T[]> TryAllocate(std::size_t n)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[n]);
}
