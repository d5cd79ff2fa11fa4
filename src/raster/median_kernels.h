#pragma once
// The vector kernels of the grey and colour medians for windows of 3 and 5:
// samples are bytes (grey levels) or 32-bit keys (colours in median order),
// many pixels at a time. Rows passed in must be readable kMedianSlack
// elements past the last one used.
#include "platform/win_types.h"

#include <cstdint>

constexpr int kMedianSlack = 32;

// Sizes the vector kernels handle.
constexpr bool HasMedianNetwork(int size) { return size == 3 || size == 5; }

// sorted[i][x] = the i-th smallest of rows[0..size)[x], for x in [0, n).
void SortColumns(const BYTE* const* rows, int size, int n, BYTE* const* sorted);
void SortColumns(const std::uint32_t* const* rows, int size, int n, std::uint32_t* const* sorted);

// out[x] = the median of the size x size samples sorted[i][x .. x + size),
// for x in [0, n).
void MedianRow(const BYTE* const* sorted, int size, int n, BYTE* out);
void MedianRow(const std::uint32_t* const* sorted, int size, int n, std::uint32_t* out);
