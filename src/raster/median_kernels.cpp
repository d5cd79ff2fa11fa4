// Comparator networks run on vectors of pixels: each wire holds the same
// sample position of 32 neighbouring windows, so one minimum or maximum
// instruction compares 32 grey levels (or 8 colour keys) at once.
//
// Helpers take vectors by pointer or reference only: passing wide vectors by
// value would tie them to one instruction set's calling convention.
#include "raster/median_kernels.h"

#include "raster/median_network.h"
#include "raster/vector_dispatch.h"

#include <cstring>
#include <utility>

namespace {

using ByteVector = BYTE __attribute__((vector_size(32)));
using KeyVector = std::uint32_t __attribute__((vector_size(32)));

template <class E>
struct VectorOf;
template <>
struct VectorOf<BYTE> {
    using Type = ByteVector;
};
template <>
struct VectorOf<std::uint32_t> {
    using Type = KeyVector;
};

// A vector at any address: loads and stores through it are single unaligned
// moves, where a memcpy may be split in halves that the next whole-vector
// read then waits for.
template <class V>
struct __attribute__((packed, may_alias)) Loose {
    V v;
};

template <class E>
[[gnu::always_inline]] inline void Load(typename VectorOf<E>::Type& v, const E* p)
{
    v = reinterpret_cast<const Loose<typename VectorOf<E>::Type>*>(p)->v;
}

template <class E>
[[gnu::always_inline]] inline void Store(E* p, const typename VectorOf<E>::Type& v)
{
    reinterpret_cast<Loose<typename VectorOf<E>::Type>*>(p)->v = v;
}

// The first count lanes of v, the rest of the memory left alone.
template <class E>
[[gnu::always_inline]] inline void StoreFirst(E* p, const typename VectorOf<E>::Type& v, int count)
{
    if (count == static_cast<int>(sizeof(v) / sizeof(E)))
        Store(p, v);
    else
        std::memcpy(p, &v, static_cast<std::size_t>(count) * sizeof(E));
}

template <class E>
constexpr int kLanes = static_cast<int>(32 / sizeof(E));

template <const CompareNetwork& Net, std::size_t I, class V>
[[gnu::always_inline]] inline void Step(V* w)
{
    constexpr CompareOp op = Net.ops[I];
    const V a = w[op.lo];
    const V b = w[op.hi];
    if constexpr (op.keep != kKeepMax)
        w[op.lo] = a < b ? a : b;
    if constexpr (op.keep != kKeepMin)
        w[op.hi] = a < b ? b : a;
}

template <const CompareNetwork& Net, class V, std::size_t... I>
[[gnu::always_inline]] inline void RunSteps(V* w, std::index_sequence<I...>)
{
    (Step<Net, I>(w), ...);
}

template <const CompareNetwork& Net, class V>
[[gnu::always_inline]] inline void Run(V* w)
{
    RunSteps<Net>(w, std::make_index_sequence<static_cast<std::size_t>(Net.count)>());
}

template <class E, int Size, const CompareNetwork& Net>
[[gnu::always_inline]] inline void SortColumnsOf(const E* const* rows, int n, E* const* sorted)
{
    using V = typename VectorOf<E>::Type;
    for (int x = 0; x < n; x += kLanes<E>) {
        V w[Size];
        for (int i = 0; i < Size; ++i)
            Load<E>(w[i], rows[i] + x);
        Run<Net>(w);
        for (int i = 0; i < Size; ++i)
            Store<E>(sorted[i] + x, w[i]);
    }
}

template <class V>
[[gnu::always_inline]] inline void MinInto(V& a, const V& b)
{
    a = b < a ? b : a;
}

template <class V>
[[gnu::always_inline]] inline void MaxInto(V& a, const V& b)
{
    a = a < b ? b : a;
}

// a := the median of a, b and c.
template <class V>
[[gnu::always_inline]] inline void Median3Into(V& a, const V& b, const V& c)
{
    V low = a, high = a;
    MinInto(low, b);
    MaxInto(high, b);
    MinInto(high, c);
    a = low;
    MaxInto(a, high);
}

// With sorted columns, the median of 3 x 3 is the median of the largest
// column minimum, the median of the column medians and the smallest column
// maximum: 12 operations where the pruned network needs 26.
template <class E>
[[gnu::always_inline]] inline void MedianRow3(const E* const* sorted, int n, E* out)
{
    using V = typename VectorOf<E>::Type;
    for (int x = 0; x < n; x += kLanes<E>) {
        V v[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                Load<E>(v[r][c], sorted[r] + x + c);
        V low = v[0][0];
        MaxInto(low, v[0][1]);
        MaxInto(low, v[0][2]);
        V middle = v[1][0];
        Median3Into(middle, v[1][1], v[1][2]);
        V high = v[2][0];
        MinInto(high, v[2][1]);
        MinInto(high, v[2][2]);
        Median3Into(middle, low, high);
        StoreFirst<E>(out + x, middle, n - x < kLanes<E> ? n - x : kLanes<E>);
    }
}

template <class E, int Size, const CompareNetwork& Net>
[[gnu::always_inline]] inline void MedianRowOf(const E* const* sorted, int n, E* out)
{
    using V = typename VectorOf<E>::Type;
    for (int x = 0; x < n; x += kLanes<E>) {
        V w[Size * Size];
        for (int c = 0; c < Size; ++c)
            for (int r = 0; r < Size; ++r)
                Load<E>(w[c * Size + r], sorted[r] + x + c);
        Run<Net>(w);
        StoreFirst<E>(out + x, w[Net.output], n - x < kLanes<E> ? n - x : kLanes<E>);
    }
}

// The sorted rows are scratch of the caller's, written whole vectors at a
// time; they hold the slack past n.
template <class E>
[[gnu::always_inline]] inline void SortColumnsAny(const E* const* rows, int size, int n, E* const* sorted)
{
    if (size == 3)
        SortColumnsOf<E, 3, kSortColumn3>(rows, n, sorted);
    else if (size == 5)
        SortColumnsOf<E, 5, kSortColumn5>(rows, n, sorted);
}

template <class E>
[[gnu::always_inline]] inline void MedianRowAny(const E* const* sorted, int size, int n, E* out)
{
    if (size == 3)
        MedianRow3(sorted, n, out);
    else if (size == 5)
        MedianRowOf<E, 5, kMedian5x5>(sorted, n, out);
}

// Compiled for AVX2 and for the baseline, picked at the call.
// They stay inside this file: callers elsewhere reach them through plain
// functions, as compilers name the chooser differently.
[[gnu::always_inline]] inline void SortByteColumnsBody(const BYTE* const* rows, int size, int n, BYTE* const* sorted)
{
    SortColumnsAny(rows, size, n, sorted);
}
LW_VECTOR_KERNEL(SortByteColumns, SortByteColumnsBody, (const BYTE* const* rows, int size, int n, BYTE* const* sorted),
                 (rows, size, n, sorted))

[[gnu::always_inline]] inline void SortKeyColumnsBody(const std::uint32_t* const* rows, int size, int n,
                                                      std::uint32_t* const* sorted)
{
    SortColumnsAny(rows, size, n, sorted);
}
LW_VECTOR_KERNEL(SortKeyColumns, SortKeyColumnsBody,
                 (const std::uint32_t* const* rows, int size, int n, std::uint32_t* const* sorted),
                 (rows, size, n, sorted))

[[gnu::always_inline]] inline void ByteMedianRowBody(const BYTE* const* sorted, int size, int n, BYTE* out)
{
    MedianRowAny(sorted, size, n, out);
}
LW_VECTOR_KERNEL(ByteMedianRow, ByteMedianRowBody, (const BYTE* const* sorted, int size, int n, BYTE* out),
                 (sorted, size, n, out))

[[gnu::always_inline]] inline void KeyMedianRowBody(const std::uint32_t* const* sorted, int size, int n,
                                                    std::uint32_t* out)
{
    MedianRowAny(sorted, size, n, out);
}
LW_VECTOR_KERNEL(KeyMedianRow, KeyMedianRowBody,
                 (const std::uint32_t* const* sorted, int size, int n, std::uint32_t* out), (sorted, size, n, out))

}  // namespace

void SortColumns(const BYTE* const* rows, int size, int n, BYTE* const* sorted)
{
    SortByteColumns(rows, size, n, sorted);
}

void SortColumns(const std::uint32_t* const* rows, int size, int n, std::uint32_t* const* sorted)
{
    SortKeyColumns(rows, size, n, sorted);
}

void MedianRow(const BYTE* const* sorted, int size, int n, BYTE* out) { ByteMedianRow(sorted, size, n, out); }

void MedianRow(const std::uint32_t* const* sorted, int size, int n, std::uint32_t* out)
{
    KeyMedianRow(sorted, size, n, out);
}
