#pragma once
// Small pixel arithmetic shared by the raster operations: row lengths, grey
// levels, colour distance and saturating byte arithmetic.
//
// Grey levels are defined by the double formula 0.587 g + 0.299 r + 0.114 b
// (in that order of summation). The kernels use the exact integer sum
// 587 g + 299 r + 114 b instead and fall back to the double formula only
// where the real value is an integer (or, rounded, a half), the only places
// where the double's rounding can move the result: elsewhere the value is at
// least 0.001 from the next integer, far beyond the double's error.
#include "platform/win_types.h"

#include <cstdint>

// Bytes of n pixels, not rounded up.
constexpr int PixelsToBytes(int n, int bitCount)
{
    switch (bitCount) {
    case 1: return n >> 3;
    case 4: return n >> 1;
    case 8: return n;
    case 16: return 2 * n;
    case 24: return 3 * n;
    case 32: return 4 * n;
    default: return 0;
    }
}

// The stored length of a row: its bytes rounded up to a multiple of 4.
constexpr std::int64_t AlignedRowBytes(int bitCount, int width)
{
    std::int64_t w = width;
    std::int64_t bytes = 0;
    switch (bitCount) {
    case 1: bytes = (w + 7) / 8; break;
    case 4: bytes = (w + 1) / 2; break;
    case 8: bytes = w; break;
    case 16: bytes = 2 * w; break;
    case 24: bytes = 3 * w; break;
    case 32: bytes = 4 * w; break;
    default: break;
    }
    return (bytes + 3) & ~std::int64_t{3};
}

// The grey level of a colour, truncated.
inline BYTE GreyLevel(BYTE red, BYTE green, BYTE blue)
{
    return static_cast<BYTE>(0.587 * green + 0.299 * red + 0.114 * blue);
}

// The grey level rounded, as the histogram counts it (255 at most).
inline BYTE RoundedGreyLevel(BYTE red, BYTE green, BYTE blue)
{
    double grey = 0.587 * green + 0.299 * red + 0.114 * blue + 0.5;
    return grey >= 255.0 ? BYTE{255} : static_cast<BYTE>(grey);
}

// 1000 times the grey level, exactly.
constexpr std::uint32_t GreySum(std::uint32_t red, std::uint32_t green, std::uint32_t blue)
{
    return 587 * green + 299 * red + 114 * blue;
}
constexpr std::uint32_t kGreySumScale = 1000;

// GreyLevel through the exact sum; equal to GreyLevel for every colour.
inline BYTE FastGreyLevel(BYTE red, BYTE green, BYTE blue)
{
    std::uint32_t sum = GreySum(red, green, blue);
    if (sum % kGreySumScale == 0)
        return GreyLevel(red, green, blue);
    return static_cast<BYTE>(sum / kGreySumScale);
}

inline BYTE FastRoundedGreyLevel(BYTE red, BYTE green, BYTE blue)
{
    std::uint32_t sum = GreySum(red, green, blue) + kGreySumScale / 2;
    if (sum % kGreySumScale == 0)
        return RoundedGreyLevel(red, green, blue);
    return static_cast<BYTE>(sum / kGreySumScale);
}

// Weighted squared distance of two colours, given as blue, green, red bytes.
inline int ColorDistance(const BYTE* a, const BYTE* b)
{
    int db = a[0] - b[0];
    int dg = a[1] - b[1];
    int dr = a[2] - b[2];
    return 3 * dr * dr + 4 * dg * dg + 2 * db * db;
}

constexpr BYTE ClampByte(int v) { return static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v); }
constexpr BYTE AddClamp255(BYTE b, int n) { return ClampByte(b + n); }
constexpr BYTE SubClamp0(BYTE b, int n) { return ClampByte(b - n); }
