#pragma once
// Comparator networks for the small median windows, built at compile time.
//
// A window's samples lie on wires c x size + r: column c of the window, the
// r-th smallest of that column. The columns come sorted (each image column
// is sorted once and shared by the windows that overlap it), so the median
// network starts from Batcher's odd-even merge sort of all the wires, drops
// every comparison whose outcome the known order already decides, and keeps
// only what the middle wire depends on, some comparisons as a bare minimum
// or maximum. Every comparison puts the smaller value on its lower wire.
#include <array>
#include <cstdint>

struct CompareOp {
    std::uint8_t lo;    // receives the smaller value
    std::uint8_t hi;    // receives the larger value
    std::uint8_t keep;  // which of the two results is used later
};
constexpr std::uint8_t kKeepBoth = 0;
constexpr std::uint8_t kKeepMin = 1;
constexpr std::uint8_t kKeepMax = 2;

constexpr int kMaxNetworkWires = 25;
constexpr int kMaxNetworkOps = 256;

struct CompareNetwork {
    std::array<CompareOp, kMaxNetworkOps> ops{};
    int count = 0;
    int output = 0;  // the wire that ends up holding the median
};

// Batcher's odd-even merge sort of n wires (any n, not only powers of two).
constexpr CompareNetwork BatcherSortNetwork(int n)
{
    CompareNetwork net;
    for (int p = 1; p < n; p *= 2) {
        for (int k = p; k >= 1; k /= 2) {
            for (int j = k % p; j <= n - 1 - k; j += 2 * k) {
                for (int i = 0; i < k && i < n - j - k; ++i) {
                    if ((i + j) / (p * 2) == (i + j + k) / (p * 2))
                        net.ops[net.count++] = {static_cast<std::uint8_t>(i + j), static_cast<std::uint8_t>(i + j + k),
                                                kKeepBoth};
                }
            }
        }
    }
    net.output = n / 2;
    return net;
}

// What is known about the order of the values on the wires: le[a][b] when
// the value on a is certainly at most the value on b.
struct WireOrder {
    bool le[kMaxNetworkWires][kMaxNetworkWires] = {};

    // Follows a comparison (min to lo, max to hi) through the known order.
    constexpr void Compare(int lo, int hi, int wires)
    {
        bool loBelow[kMaxNetworkWires] = {}, hiBelow[kMaxNetworkWires] = {};
        bool belowLo[kMaxNetworkWires] = {}, belowHi[kMaxNetworkWires] = {};
        for (int q = 0; q < wires; ++q) {
            loBelow[q] = le[lo][q];
            hiBelow[q] = le[hi][q];
            belowLo[q] = le[q][lo];
            belowHi[q] = le[q][hi];
        }
        for (int q = 0; q < wires; ++q) {
            if (q == lo || q == hi)
                continue;
            le[lo][q] = loBelow[q] || hiBelow[q];  // min <= q when either was
            le[q][lo] = belowLo[q] && belowHi[q];  // q <= min when q was below both
            le[hi][q] = loBelow[q] && hiBelow[q];  // max <= q when both were
            le[q][hi] = belowLo[q] || belowHi[q];  // q <= max when q was below either
        }
        le[lo][hi] = true;
        le[hi][lo] = false;
    }
};

// The median of size x size samples whose columns are sorted.
constexpr CompareNetwork MedianNetwork(int size)
{
    const int wires = size * size;
    const CompareNetwork sorter = BatcherSortNetwork(wires);
    WireOrder order;
    for (int c = 0; c < size; ++c)
        for (int r = 0; r < size; ++r)
            for (int r2 = r; r2 < size; ++r2)
                order.le[c * size + r][c * size + r2] = true;

    CompareNetwork open;  // the comparisons the known order leaves open
    for (int i = 0; i < sorter.count; ++i) {
        const CompareOp op = sorter.ops[static_cast<std::size_t>(i)];
        if (order.le[op.lo][op.hi])
            continue;
        order.Compare(op.lo, op.hi, wires);
        open.ops[static_cast<std::size_t>(open.count++)] = op;
    }

    // Backwards from the middle wire: keep what it depends on.
    bool needed[kMaxNetworkWires] = {};
    needed[sorter.output] = true;
    CompareOp kept[kMaxNetworkOps] = {};
    int keptCount = 0;
    for (int i = open.count - 1; i >= 0; --i) {
        CompareOp op = open.ops[static_cast<std::size_t>(i)];
        const bool lo = needed[op.lo];
        const bool hi = needed[op.hi];
        if (!lo && !hi)
            continue;
        op.keep = lo && hi ? kKeepBoth : lo ? kKeepMin : kKeepMax;
        needed[op.lo] = needed[op.hi] = true;
        kept[keptCount++] = op;
    }
    CompareNetwork net;
    for (int i = 0; i < keptCount; ++i)
        net.ops[static_cast<std::size_t>(i)] = kept[keptCount - 1 - i];
    net.count = keptCount;
    net.output = sorter.output;
    return net;
}

inline constexpr CompareNetwork kSortColumn3 = BatcherSortNetwork(3);
inline constexpr CompareNetwork kSortColumn5 = BatcherSortNetwork(5);
inline constexpr CompareNetwork kMedian3x3 = MedianNetwork(3);
inline constexpr CompareNetwork kMedian5x5 = MedianNetwork(5);
