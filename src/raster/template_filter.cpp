// Template convolution. Each output pixel is
//   s = sum over j = 0..h-1, i = 0..w-1 of source(x - cx + i, y - cy + j) k[j w + i],
// summed in that order, then v = |s scale|, written as trunc(v + 0.5) up to
// 255. Only pixels whose whole kernel lies in the image are written.
//
// The source rows of one output row are kept, as samples, in a ring of h
// rows, converted before the image row is overwritten. A whole output row is
// summed at once, one kernel element at a time, so every pixel adds its
// products in the same order as the formula and gets the same double.
// Kernels of small integers (the usual blur, sharpen and edge kernels) sum
// exactly in 16-bit integers instead, which give the same doubles. Row bands
// run side by side, each with its own ring.
#include "raster/pixel_ops.h"

#include "model/text_table.h"
#include "raster/pixel_ops_support.h"
#include "raster/raster_template.h"
#include "raster/row_bands.h"
#include "raster/vector_dispatch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kSlack = 64;                // elements a block of vectors may read past a row
constexpr double kExactShortSum = 32767;  // the largest sum 16 bits hold
constexpr int kMinTemplateBandRows = 32;  // thinner bands spend more on borrowed rows than they save

using ShortVector = std::int16_t __attribute__((vector_size(32)));
using DoubleVector = double __attribute__((vector_size(32)));

template <class E>
struct VectorOf;
template <>
struct VectorOf<std::int16_t> {
    using Type = ShortVector;
};
template <>
struct VectorOf<double> {
    using Type = DoubleVector;
};

// A vector at any address, for single unaligned loads and stores.
template <class V>
struct __attribute__((packed, may_alias)) Loose {
    V v;
};

template <class E>
[[gnu::always_inline]] inline void AccumulateOf(const E* const* source, const E* factor, int taps, int n, E* acc)
{
    using V = typename VectorOf<E>::Type;
    constexpr int kLanes = static_cast<int>(sizeof(V) / sizeof(E));
    constexpr int kBlock = 4;  // vectors summed side by side, in registers
    for (int x = 0; x < n; x += kBlock * kLanes) {
        V sum[kBlock] = {};
        for (int t = 0; t < taps; ++t) {
            const V f = V{} + factor[t];
            const E* src = source[t] + x;
            for (int b = 0; b < kBlock; ++b)
                sum[b] += reinterpret_cast<const Loose<V>*>(src + b * kLanes)->v * f;
        }
        for (int b = 0; b < kBlock; ++b)
            reinterpret_cast<Loose<V>*>(acc + x + b * kLanes)->v = sum[b];
    }
}

// acc[x] = the kernel's sum at output column x, x in [0, n); acc holds the
// slack past n, the sources hold it past n.
LW_VECTOR_KERNEL(Accumulate, AccumulateOf,
                 (const std::int16_t* const* source, const std::int16_t* factor, int taps, int n, std::int16_t* acc),
                 (source, factor, taps, n, acc))

LW_VECTOR_KERNEL(Accumulate, AccumulateOf,
                 (const double* const* source, const double* factor, int taps, int n, double* acc),
                 (source, factor, taps, n, acc))

// Integer coefficients whose sums over 255s stay within 16 bits.
bool FitsShortSums(const double* k, int count)
{
    double bound = 0;
    for (int i = 0; i < count; ++i) {
        if (k[i] != std::trunc(k[i]))
            return false;
        bound += std::fabs(k[i]) * 255.0;
    }
    return bound <= kExactShortSum;
}

BYTE ResultByte(double sum, double scale)
{
    double v = std::fabs(sum * scale);
    return v <= 255.0 ? static_cast<BYTE>(static_cast<int>(v + 0.5)) : BYTE{255};
}

struct Kernel {
    int w, h, cx, cy;
    const double* k;
    double scale;
};

// Bytes into samples, many at a time.
[[gnu::always_inline]] inline void WidenBody(const BYTE* in, int n, std::int16_t* out)
{
    using Bytes = BYTE __attribute__((vector_size(16)));
    using Shorts = std::int16_t __attribute__((vector_size(32)));
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        Bytes b = reinterpret_cast<const Loose<Bytes>*>(in + i)->v;
        reinterpret_cast<Loose<Shorts>*>(out + i)->v = __builtin_convertvector(b, Shorts);
    }
    for (; i < n; ++i)
        out[i] = in[i];
}
LW_VECTOR_KERNEL(Widen, WidenBody, (const BYTE* in, int n, std::int16_t* out), (in, n, out))

using Words = std::int32_t __attribute__((vector_size(16)));

// Sixteen bytes as four vectors of 32-bit words.
[[gnu::always_inline]] inline void SpreadBytes(const BYTE* in, Words* words)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i low = _mm_unpacklo_epi8(bytes, zero);
    const __m128i high = _mm_unpackhi_epi8(bytes, zero);
    words[0] = reinterpret_cast<Words>(_mm_unpacklo_epi16(low, zero));
    words[1] = reinterpret_cast<Words>(_mm_unpackhi_epi16(low, zero));
    words[2] = reinterpret_cast<Words>(_mm_unpacklo_epi16(high, zero));
    words[3] = reinterpret_cast<Words>(_mm_unpackhi_epi16(high, zero));
#else
    for (int q = 0; q < 4; ++q)
        for (int l = 0; l < 4; ++l)
            words[q][l] = in[4 * q + l];
#endif
}

// Four vectors of words, each 0..255, as sixteen bytes.
[[gnu::always_inline]] inline void GatherBytes(const Words* words, BYTE* out)
{
#if defined(__SSE2__)
    const __m128i low = _mm_packs_epi32(reinterpret_cast<__m128i>(words[0]), reinterpret_cast<__m128i>(words[1]));
    const __m128i high = _mm_packs_epi32(reinterpret_cast<__m128i>(words[2]), reinterpret_cast<__m128i>(words[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(low, high));
#else
    for (int q = 0; q < 4; ++q)
        for (int l = 0; l < 4; ++l)
            out[4 * q + l] = static_cast<BYTE>(words[q][l]);
#endif
}

[[gnu::always_inline]] inline void WidenBody(const BYTE* in, int n, double* out)
{
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        Words words[4];
        SpreadBytes(in + i, words);
        for (int q = 0; q < 4; ++q)
            reinterpret_cast<Loose<DoubleVector>*>(out + i + 4 * q)->v =
                __builtin_convertvector(words[q], DoubleVector);
    }
    for (; i < n; ++i)
        out[i] = in[i];
}
LW_VECTOR_KERNEL(Widen, WidenBody, (const BYTE* in, int n, double* out), (in, n, out))

// Sixteen 16-bit sums as four vectors of 32-bit words.
[[gnu::always_inline]] inline void SpreadShorts(const std::int16_t* in, Words* words)
{
#if defined(__SSE2__)
    for (int half = 0; half < 2; ++half) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * half));
        // Each short into the top of a word, then shifted down with its sign.
        words[2 * half] = reinterpret_cast<Words>(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
        words[2 * half + 1] = reinterpret_cast<Words>(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16));
    }
#else
    for (int q = 0; q < 4; ++q)
        for (int l = 0; l < 4; ++l)
            words[q][l] = in[4 * q + l];
#endif
}

// ResultByte of four sums into four words: the same operations in the same
// order, so the same bytes.
[[gnu::always_inline]] inline void FinishVector(const DoubleVector& sums, double scale, Words& out)
{
    const DoubleVector factor = {scale, scale, scale, scale};
    const DoubleVector top = {255.0, 255.0, 255.0, 255.0};
    const DoubleVector half = {0.5, 0.5, 0.5, 0.5};
    DoubleVector v = sums * factor;
    v = v < 0 ? -v : v;
    v = v <= top ? v + half : top;
    out = __builtin_convertvector(v, Words);
}

// ResultByte of every sum, sixteen at a time.
[[gnu::always_inline]] inline void FinishRowBody(const double* acc, int n, double scale, BYTE* out)
{
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        Words words[4];
        for (int q = 0; q < 4; ++q)
            FinishVector(reinterpret_cast<const Loose<DoubleVector>*>(acc + i + 4 * q)->v, scale, words[q]);
        GatherBytes(words, out + i);
    }
    for (; i < n; ++i)
        out[i] = ResultByte(acc[i], scale);
}
LW_VECTOR_KERNEL(FinishRow, FinishRowBody, (const double* acc, int n, double scale, BYTE* out), (acc, n, scale, out))

[[gnu::always_inline]] inline void FinishRowBody(const std::int16_t* acc, int n, double scale, BYTE* out)
{
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        Words words[4];
        SpreadShorts(acc + i, words);
        for (int q = 0; q < 4; ++q)
            FinishVector(__builtin_convertvector(words[q], DoubleVector), scale, words[q]);
        GatherBytes(words, out + i);
    }
    for (; i < n; ++i)
        out[i] = ResultByte(acc[i], scale);
}
LW_VECTOR_KERNEL(FinishRow, FinishRowBody, (const std::int16_t* acc, int n, double scale, BYTE* out),
                 (acc, n, scale, out))

// One row band of a convolution: output rows [r0, r1) write image rows
// [r0 + cy, r1 + cy). Sources outside those rows belong to other bands, so
// they are converted before any band starts.
template <class E>
struct ConvolveBand {
    int r0 = 0;
    int r1 = 0;
    std::unique_ptr<E[]> ring;      // h source rows
    std::unique_ptr<E[]> borrowed;  // the h - 1 sources outside the band
    std::unique_ptr<E[]> acc;
    std::unique_ptr<BYTE[]> bytes;
    std::vector<int> loaded;  // which source row each ring slot holds
    // Where each nonzero kernel element reads in the current output row's
    // sources, in summation order (row j, then column i).
    std::vector<const E*> source;

    [[nodiscard]] bool Init(size_t stride, int h, int taps)
    {
        ring = TryAllocate<E>(stride * static_cast<size_t>(h));
        borrowed = TryAllocate<E>(stride * static_cast<size_t>(std::max(h - 1, 1)));
        acc = TryAllocate<E>(stride);
        bytes = TryAllocate<BYTE>(stride);
        if (!ring || !borrowed || !acc || !bytes)
            return false;
        // The slack past each row is read by whole vectors: zero, not garbage.
        std::fill(ring.get(), ring.get() + stride * static_cast<size_t>(h), E{0});
        std::fill(borrowed.get(), borrowed.get() + stride * static_cast<size_t>(std::max(h - 1, 1)), E{0});
        loaded.assign(static_cast<size_t>(h), -1);
        source.resize(static_cast<size_t>(taps));
        return true;
    }
    // The converted row of a source outside the band's rows; null for one
    // of its own.
    E* Borrowed(int y, int cy, size_t stride) const
    {
        int slot = 0;
        if (y < r0 + cy)
            slot = y - r0;
        else if (y >= r1 + cy)
            slot = cy + y - (r1 + cy);
        else
            return nullptr;
        return borrowed.get() + stride * static_cast<size_t>(slot);
    }
};

// The convolution on rows of interleaved samples (samples per pixel: 1 for
// grey, 3 for blue, green, red, 4 with the fourth byte of 32 bits): every
// channel has the same kernel, so a tap i columns over reads i x samples
// further along and all channels are summed in one pass.
// load(y, samples) fills a source row, store(y, bytes) writes the results
// of output row y from column cx on.
template <class E, class LoadRow, class StoreRow>
bool Convolve(CRasterSrc& image, const Kernel& kernel, int samples, LoadRow&& load, StoreRow&& store,
              RasterProgress progress, const std::string& text)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    const int n = (width - kernel.w + 1) * samples;
    const int rowsToDo = height - kernel.h + 1;
    const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(samples) + kSlack;
    std::vector<E> factor;  // of the nonzero elements, in summation order
    for (int i = 0; i < kernel.w * kernel.h; ++i) {
        // A zero adds nothing, not even a rounding.
        if (kernel.k[i] != 0)
            factor.push_back(static_cast<E>(kernel.k[i]));
    }
    const int tapCount = static_cast<int>(factor.size());

    const int bandCount = CountRowBands(rowsToDo, kMinTemplateBandRows);
    std::vector<ConvolveBand<E>> bands(static_cast<size_t>(bandCount));
    for (int b = 0; b < bandCount; ++b) {
        ConvolveBand<E>& band = bands[static_cast<size_t>(b)];
        RowBandOf(rowsToDo, bandCount, b, band.r0, band.r1);
        if (!band.Init(stride, kernel.h, tapCount)) {
            ShowNoMemoryMessage();
            return false;
        }
        // The sources this band reads but does not write, as they are now.
        for (int source = band.r0; source < band.r1 + kernel.h - 1; ++source)
            if (E* row = band.Borrowed(source, kernel.cy, stride))
                load(source, row);
    }

    // Band 0 runs on this thread and reports for all.
    RunBands(bandCount, [&](int b) {
        ConvolveBand<E>& band = bands[static_cast<size_t>(b)];
        for (int r = band.r0; r < band.r1; ++r) {
            // Source rows r .. r + h - 1, each converted once, before output
            // row r + cy overwrites one of them.
            size_t t = 0;
            for (int j = 0; j < kernel.h; ++j) {
                const int source = r + j;
                E* row = band.Borrowed(source, kernel.cy, stride);
                if (!row) {
                    const size_t slot = static_cast<size_t>(source % kernel.h);
                    row = band.ring.get() + stride * slot;
                    if (band.loaded[slot] != source) {
                        load(source, row);
                        band.loaded[slot] = source;
                    }
                }
                for (int i = 0; i < kernel.w; ++i)
                    if (kernel.k[j * kernel.w + i] != 0)
                        band.source[t++] = row + i * samples;
            }
            Accumulate(band.source.data(), factor.data(), tapCount, n, band.acc.get());
            FinishRow(band.acc.get(), n, kernel.scale, band.bytes.get());
            store(r + kernel.cy, band.bytes.get());
            if (b == 0)
                ReportProgress(progress, text, ProgressPercent(r - band.r0 + 1, band.r1 - band.r0));
        }
    });
    return true;
}

template <class E>
bool ConvolveGrey(CRasterSrc& image, const Kernel& kernel, RasterProgress progress, const std::string& text)
{
    const int width = image.GetWidth();
    const int n = width - kernel.w + 1;
    auto load = [&](int y, E* samples) { Widen(image.GetRow(y), width, samples); };
    auto store = [&](int y, const BYTE* bytes) {
        std::memcpy(image.GetRow(y) + kernel.cx, bytes, static_cast<size_t>(n));
    };
    return Convolve<E>(image, kernel, 1, load, store, progress, text);
}

template <class E>
bool ConvolveColour(CRasterSrc& image, const Kernel& kernel, RasterProgress progress, const std::string& text)
{
    const int width = image.GetWidth();
    const int n = width - kernel.w + 1;
    const int bitCount = image.GetBitCount();
    if (bitCount == 16) {
        // 5-5-5 pixels through the accessors, as blue, green, red samples.
        auto load = [&](int y, E* samples) {
            for (int x = 0; x < width; ++x) {
                BYTE bgr[3];
                image.GetPixelBGR(x, y, bgr);
                for (int c = 0; c < 3; ++c)
                    samples[3 * x + c] = static_cast<E>(bgr[c]);
            }
        };
        auto store = [&](int y, const BYTE* bytes) {
            for (int x = 0; x < n; ++x, bytes += 3)
                image.SetPixelRGB(kernel.cx + x, y, bytes[2], bytes[1], bytes[0]);
        };
        return Convolve<E>(image, kernel, 3, load, store, progress, text);
    }
    const int samples = bitCount / 8;
    auto load = [&](int y, E* row) { Widen(image.GetRow(y), width * samples, row); };
    auto store = [&](int y, const BYTE* bytes) {
        BYTE* p = image.GetRow(y) + static_cast<size_t>(kernel.cx) * samples;
        std::memcpy(p, bytes, static_cast<size_t>(n) * samples);
        // The fourth byte is written as SetPixelRGB writes it.
        for (int x = 0; x < n && samples == 4; ++x)
            p[4 * x + 3] = 0;
    };
    return Convolve<E>(image, kernel, samples, load, store, progress, text);
}

}  // namespace

bool CRasterProcess::ApplyTemplate(const CRasterTemplate& kernel)
{
    return kernel.IsValid() && ApplyTemplate(kernel.GetWidth(), kernel.GetHeight(), kernel.GetCenX(), kernel.GetCenY(),
                                             kernel.GetCoefficients(), kernel.GetScale());
}

bool CRasterProcess::ApplyTemplate(int width, int height, int cenX, int cenY, const double* coefficients, double scale)
{
    if (m_image.IsEmpty() || m_image.GetBitCount() == 1 ||
        !CheckTemplate(width, height, cenX, cenY, coefficients, scale))
        return false;
    if (m_image.GetBitCount() > 8)
        return ApplyTemplateRGB(width, height, cenX, cenY, coefficients, scale);
    if (!m_image.ConvertToGrey8())
        return false;
    return ApplyTemplateGrey(width, height, cenX, cenY, coefficients, scale);
}

bool CRasterProcess::ApplyTemplateRGB(int width, int height, int cenX, int cenY, const double* coefficients,
                                      double scale)
{
    const std::string text = GetLanString("RasterGenTemplate", "Raster template");
    Report(text, 0);
    const Kernel kernel{width, height, cenX, cenY, coefficients, scale};
    if (m_image.GetWidth() >= width && m_image.GetHeight() >= height) {
        bool done = FitsShortSums(coefficients, width * height)
                        ? ConvolveColour<std::int16_t>(m_image, kernel, m_progress, text)
                        : ConvolveColour<double>(m_image, kernel, m_progress, text);
        if (!done)
            return false;
    }
    Report(text, kFullPercent);
    return true;
}

bool CRasterProcess::ApplyTemplateGrey(int width, int height, int cenX, int cenY, const double* coefficients,
                                       double scale)
{
    const std::string text = GetLanString("RasterGenTemplate", "Raster template");
    Report(text, 0);
    const Kernel kernel{width, height, cenX, cenY, coefficients, scale};
    if (m_image.GetWidth() >= width && m_image.GetHeight() >= height) {
        bool done = FitsShortSums(coefficients, width * height)
                        ? ConvolveGrey<std::int16_t>(m_image, kernel, m_progress, text)
                        : ConvolveGrey<double>(m_image, kernel, m_progress, text);
        if (!done)
            return false;
    }
    Report(text, kFullPercent);
    return true;
}
