#pragma once
// One-bit rows. Pixel x of a row is bit (0x80 >> (x & 7)) of byte x >> 3; a set
// bit is black (foreground). Rows are stored padded to 4 bytes; the bits past
// the width in the last used byte are padding, which writers here clear.
//
// Kernels move 64 pixels at a time through words loaded big-endian, so pixel
// i of a word is bit 63 - i whatever the machine's byte order. Every kernel
// that touches one-bit rows uses these helpers rather than its own bit
// arithmetic.
#include "platform/win_types.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

using PackedWord = std::uint64_t;
constexpr int kWordPixels = 64;

// Bytes a row of width pixels uses, without the padding to 4 bytes.
constexpr int PackedRowBytes(int width) { return (width + 7) >> 3; }

constexpr BYTE PixelMask(int x) { return static_cast<BYTE>(0x80u >> (x & 7)); }

// Mask of the first n (0..8) pixels of a byte.
constexpr BYTE LeadingPixelsMask(int n) { return static_cast<BYTE>(0xFF00u >> n); }

// Mask of the pixels of a row's last used byte that lie inside the width.
constexpr BYTE LastByteMask(int width) { return (width & 7) ? LeadingPixelsMask(width & 7) : BYTE{0xFF}; }

// Mask of the first n (0..64) pixels of a word.
constexpr PackedWord LeadingWordMask(int n)
{
    return n >= kWordPixels ? ~PackedWord{0} : n <= 0 ? 0 : ~(~PackedWord{0} >> n);
}

inline bool TestPixel(const BYTE* row, int x) { return (row[x >> 3] & PixelMask(x)) != 0; }
inline void SetPixel(BYTE* row, int x) { row[x >> 3] |= PixelMask(x); }
inline void ClearPixel(BYTE* row, int x) { row[x >> 3] &= static_cast<BYTE>(~PixelMask(x)); }
inline void AssignPixel(BYTE* row, int x, bool on) { on ? SetPixel(row, x) : ClearPixel(row, x); }

inline PackedWord ToBigEndianWord(PackedWord w)
{
    if constexpr (std::endian::native == std::endian::little)
        return __builtin_bswap64(w);
    else
        return w;
}

// Eight bytes at p, pixel 0 in bit 63.
inline PackedWord LoadWord(const BYTE* p)
{
    PackedWord w;
    std::memcpy(&w, p, sizeof w);
    return ToBigEndianWord(w);
}

inline void StoreWord(BYTE* p, PackedWord w)
{
    w = ToBigEndianWord(w);
    std::memcpy(p, &w, sizeof w);
}

// Like LoadWord but reads only the first bytes (0..8) bytes; the rest is 0.
inline PackedWord LoadPartialWord(const BYTE* p, int bytes)
{
    BYTE buffer[8] = {};
    std::memcpy(buffer, p, static_cast<size_t>(bytes));
    return LoadWord(buffer);
}

inline void StorePartialWord(BYTE* p, PackedWord w, int bytes)
{
    BYTE buffer[8];
    StoreWord(buffer, w);
    std::memcpy(p, buffer, static_cast<size_t>(bytes));
}

// n (0..64) pixels starting at pixel x, at the top of the word; reads only the
// bytes those pixels lie in.
inline PackedWord ReadPixels(const BYTE* row, int x, int n)
{
    if (n <= 0)
        return 0;
    const BYTE* p = row + (x >> 3);
    int shift = x & 7;
    int bytes = (shift + n + 7) >> 3;  // 1..9
    PackedWord w = LoadPartialWord(p, std::min(bytes, 8));
    if (shift) {
        w <<= shift;
        if (bytes > 8)
            w |= static_cast<PackedWord>(p[8] >> (8 - shift));
    }
    return w & LeadingWordMask(n);
}

// Packs n flags (each 0 or 1, one byte per pixel) into bits from pixel 0 of
// out; the padding bits of the last byte written are cleared. Eight flags
// become one byte through one multiplication: flag i of the little-endian
// load lands in bit 7 - i of the top byte, and no two partial products meet.
inline void PackFlags(const BYTE* flags, int n, BYTE* out)
{
    constexpr std::uint64_t kGather = 0x8040201008040201ull;
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t v;
        std::memcpy(&v, flags + i, sizeof v);
        if constexpr (std::endian::native == std::endian::big)
            v = __builtin_bswap64(v);
        out[i >> 3] = static_cast<BYTE>((v * kGather) >> 56);
    }
    if (i < n) {
        BYTE last = 0;
        for (int j = 0; i + j < n; ++j)
            last = static_cast<BYTE>(last | ((flags[i + j] & 1) << (7 - j)));
        out[i >> 3] = last;
    }
}

// Writes a whole row from a predicate: pixel x is set when isSet(x). The
// padding bits of the last used byte are cleared. The predicate runs over a
// block of pixels at a time, so it stays a tight loop of its own.
template <class Predicate>
inline void PackRow(BYTE* row, int width, Predicate&& isSet)
{
    constexpr int kBlock = 256;
    BYTE flags[kBlock];
    for (int x = 0; x < width; x += kBlock) {
        int n = std::min(kBlock, width - x);
        for (int i = 0; i < n; ++i)
            flags[i] = isSet(x + i) ? 1 : 0;
        PackFlags(flags, n, row + (x >> 3));
    }
}

// Copies pixels [x, x + n) of src to the start of dst; the padding bits of
// dst's last used byte are cleared.
inline void ExtractPixels(const BYTE* src, int x, int n, BYTE* dst)
{
    int i = 0;
    for (; i + kWordPixels <= n; i += kWordPixels)
        StoreWord(dst + (i >> 3), ReadPixels(src, x + i, kWordPixels));
    if (i < n)
        StorePartialWord(dst + (i >> 3), ReadPixels(src, x + i, n - i), PackedRowBytes(n - i));
}

// Sets or clears pixels [x0, x1) and leaves the others.
inline void FillPixels(BYTE* row, int x0, int x1, bool on)
{
    if (x1 <= x0)
        return;
    int first = x0 >> 3;
    int last = (x1 - 1) >> 3;
    BYTE head = static_cast<BYTE>(0xFFu >> (x0 & 7));
    BYTE tail = LastByteMask(x1);
    auto apply = [&](int i, BYTE mask) {
        row[i] = on ? static_cast<BYTE>(row[i] | mask) : static_cast<BYTE>(row[i] & ~mask);
    };
    if (first == last) {
        apply(first, static_cast<BYTE>(head & tail));
        return;
    }
    apply(first, head);
    if (last > first + 1)
        std::memset(row + first + 1, on ? 0xFF : 0x00, static_cast<size_t>(last - first - 1));
    apply(last, tail);
}

// One byte per pixel, 1 for set and 0 for clear, for the whole width.
inline void UnpackPixels(const BYTE* row, int width, BYTE* out)
{
    int x = 0;
    for (; x + kWordPixels <= width; x += kWordPixels) {
        PackedWord w = LoadWord(row + (x >> 3));
        for (int i = 0; i < kWordPixels; ++i)
            out[x + i] = static_cast<BYTE>((w >> (kWordPixels - 1 - i)) & 1);
    }
    for (; x < width; ++x)
        out[x] = TestPixel(row, x) ? 1 : 0;
}

// Set pixels of a word. The build assumes no popcount instruction, where
// std::popcount is a library call: too slow for a kernel's inner loop.
constexpr int CountWordPixels(PackedWord w)
{
    w -= (w >> 1) & 0x5555555555555555ull;
    w = (w & 0x3333333333333333ull) + ((w >> 2) & 0x3333333333333333ull);
    w = (w + (w >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int>((w * 0x0101010101010101ull) >> 56);
}

// Set pixels among the first width pixels.
inline std::int64_t CountPixels(const BYTE* row, int width)
{
    std::int64_t count = 0;
    int x = 0;
    for (; x + kWordPixels <= width; x += kWordPixels)
        count += std::popcount(LoadWord(row + (x >> 3)));
    if (x < width)
        count += std::popcount(ReadPixels(row, x, width - x));
    return count;
}
