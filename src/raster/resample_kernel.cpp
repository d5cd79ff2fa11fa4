// The separable resampling kernel: contributor tables, then one pass along
// the rows and one down the columns, fused so that only the rows the second
// pass is about to read are kept.
//
// The first pass works on bands of eight source rows turned on their side
// (sample e of row r at e * 8 + r), so every contributor of an output column
// is eight neighbouring floats and the eight rows add in step. The second
// pass adds whole first-pass rows, 32 sums at a time held in registers. Both
// keep, for each output sample, the order of the sum that the contributor
// table gives, so the result does not depend on how the loops are arranged.
#include "raster/resample_kernel.h"

#include "model/text_table.h"
#include "raster/grey_rows.h"
#include "raster/pixel_format.h"
#include "raster/resample.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr int kBandRows = 8;
constexpr int kPercent = 100;
constexpr float kMaxSample = 255.0f;

// Four lanes of floats: the widest that every x86-64 and ARM64 machine adds
// in one instruction. A band is two of them.
typedef float Lanes __attribute__((vector_size(16)));
typedef std::int32_t LaneInts __attribute__((vector_size(16)));
constexpr int kLanes = 4;
constexpr int kBandLanes = kBandRows / kLanes;
// The second pass keeps this many lanes of sums in registers across all the
// rows it adds.
constexpr int kBlockLanes = 8;
constexpr std::size_t kBlockFloats = kBlockLanes * kLanes;

inline Lanes Splat(float w) { return Lanes{w, w, w, w}; }

inline Lanes LoadLanes(const float* p)
{
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void StoreLanes(float* p, Lanes v) { std::memcpy(p, &v, sizeof v); }

// Each lane clamped to 0..255, then rounded half up: floor(v + 0.5), which
// truncation gives once v is not negative.
inline Lanes RoundLanes(Lanes v)
{
    const LaneInts positive = v > Lanes{};
    v = std::bit_cast<Lanes>(std::bit_cast<LaneInts>(v) & positive);
    const Lanes top = Splat(kMaxSample);
    const LaneInts over = v > top;
    v = std::bit_cast<Lanes>((std::bit_cast<LaneInts>(v) & ~over) | (std::bit_cast<LaneInts>(top) & over));
    return __builtin_convertvector(__builtin_convertvector(v + Splat(0.5f), LaneInts), Lanes);
}

std::size_t RoundUpToBlock(std::size_t n) { return (n + kBlockFloats - 1) / kBlockFloats * kBlockFloats; }

class CProgressSteps {
public:
    CProgressSteps(RasterProgress progress, const std::string& text) : m_progress(progress), m_text(text) {}
    void Report(std::int64_t done, std::int64_t total)
    {
        if (!m_progress)
            return;
        int percent = total > 0 ? static_cast<int>(done * kPercent / total) : kPercent;
        if (percent != m_last) {
            m_last = percent;
            m_progress(m_text, percent);
        }
    }

private:
    RasterProgress m_progress;
    const std::string& m_text;
    int m_last = -1;
};

// The working samples of a source row: its grey level below 16 bits (as the
// conversion to 8-bit grey gives it), else blue, green, red.
class CSampleRowReader {
public:
    [[nodiscard]] bool Init(const CRasterSrc& image)
    {
        m_bitCount = image.GetBitCount();
        m_ramp = image.IsGreyRamp();
        return m_bitCount > 8 || m_ramp || m_grey.Init(image);
    }
    int Channels() const { return m_bitCount <= 8 ? 1 : 3; }

    void Read(const BYTE* row, int width, BYTE* out) const
    {
        switch (m_bitCount) {
        case 16:
            for (int x = 0; x < width; ++x, out += 3) {
                WORD v = Load555(row, static_cast<std::size_t>(x));
                out[0] = Blue555(v);
                out[1] = Green555(v);
                out[2] = Red555(v);
            }
            return;
        case 24: std::memcpy(out, row, static_cast<std::size_t>(width) * 3); return;
        case 32:
            for (int x = 0; x < width; ++x, out += 3, row += 4) {
                out[0] = row[0];
                out[1] = row[1];
                out[2] = row[2];
            }
            return;
        default:
            if (m_ramp)
                std::memcpy(out, row, static_cast<std::size_t>(width));
            else
                m_grey.GreyRow(row, 0, width, out);
            return;
        }
    }

private:
    int m_bitCount = 0;
    bool m_ramp = false;
    CGreyRowReader m_grey;
};

// Writes samples, already rounded, into an image row of the output depth.
void WriteSamples(const float* samples, int width, int bitCount, BYTE* row)
{
    switch (bitCount) {
    case 8:
        for (int x = 0; x < width; ++x)
            row[x] = static_cast<BYTE>(samples[x]);
        return;
    case 16:
        for (int x = 0; x < width; ++x, samples += 3) {
            auto blue = static_cast<unsigned>(samples[0]);
            auto green = static_cast<unsigned>(samples[1]);
            auto red = static_cast<unsigned>(samples[2]);
            Store555(row, static_cast<std::size_t>(x), Pack555(red, green, blue));
        }
        return;
    case 24:
        for (int i = 0; i < 3 * width; ++i)
            row[i] = static_cast<BYTE>(samples[i]);
        return;
    default:
        for (int x = 0; x < width; ++x, samples += 3, row += 4) {
            row[0] = static_cast<BYTE>(samples[0]);
            row[1] = static_cast<BYTE>(samples[1]);
            row[2] = static_cast<BYTE>(samples[2]);
            row[3] = 0;
        }
        return;
    }
}

inline std::uint64_t LoadLittleEndian(const BYTE* p)
{
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::big)
        w = __builtin_bswap64(w);
    return w;
}

inline void StoreLittleEndian(BYTE* p, std::uint64_t w)
{
    if constexpr (std::endian::native == std::endian::big)
        w = __builtin_bswap64(w);
    std::memcpy(p, &w, sizeof w);
}

// Transposes an 8 x 8 block of bytes, byte e of word r to byte r of word e,
// by swapping ever smaller off-diagonal blocks: 4 x 4, 2 x 2, then single
// bytes.
inline void TransposeBytes(std::uint64_t* w)
{
    constexpr std::uint64_t kHalves = 0x00000000FFFFFFFFull;
    constexpr std::uint64_t kPairs = 0x0000FFFF0000FFFFull;
    constexpr std::uint64_t kSingles = 0x00FF00FF00FF00FFull;
    for (int r = 0; r < 4; ++r) {
        const std::uint64_t t = ((w[r] >> 32) ^ w[r + 4]) & kHalves;
        w[r] ^= t << 32;
        w[r + 4] ^= t;
    }
    for (int r : {0, 1, 4, 5}) {
        const std::uint64_t t = ((w[r] >> 16) ^ w[r + 2]) & kPairs;
        w[r] ^= t << 16;
        w[r + 2] ^= t;
    }
    for (int r = 0; r < 8; r += 2) {
        const std::uint64_t t = ((w[r] >> 8) ^ w[r + 1]) & kSingles;
        w[r] ^= t << 8;
        w[r + 1] ^= t;
    }
}

// The first pass over one band: output column i of every band row from the
// band on its side. Results are rounded and stored row by row in slot.
template <int C>
void FilterBand(const CContributorTable& columns, const float* sideways, int rows, float* slot, std::size_t stride)
{
    const int taps = columns.taps;
    for (int i = 0; i < columns.outCount; ++i) {
        const int* index = columns.index.data() + static_cast<std::size_t>(i) * taps;
        const float* weight = columns.weight.data() + static_cast<std::size_t>(i) * taps;
        Lanes sum[C][kBandLanes] = {};
        for (int k = 0; k < taps; ++k) {
            const float* p = sideways + static_cast<std::size_t>(index[k]) * C * kBandRows;
            const Lanes w = Splat(weight[k]);
            for (int c = 0; c < C; ++c)
                for (int h = 0; h < kBandLanes; ++h)
                    sum[c][h] += w * LoadLanes(p + c * kBandRows + h * kLanes);
        }
        float* out = slot + static_cast<std::size_t>(i) * C;
        for (int c = 0; c < C; ++c)
            for (int h = 0; h < kBandLanes; ++h) {
                const Lanes rounded = RoundLanes(sum[c][h]);
                for (int q = 0; q < kLanes && h * kLanes + q < rows; ++q)
                    out[static_cast<std::size_t>(h * kLanes + q) * stride + c] = rounded[q];
            }
    }
}

class CSeparableResampler {
public:
    CSeparableResampler(const CRasterSrc& source, CRasterSrc& target, const CContributorTable& columns,
                        const CContributorTable& rows, const CSampleRowReader& reader)
        : m_source(source), m_target(target), m_columns(columns), m_rows(rows), m_reader(reader),
          m_channels(reader.Channels()), m_rowSamples(static_cast<std::size_t>(columns.outCount) * m_channels),
          m_stride(RoundUpToBlock(m_rowSamples))
    {}

    // Sizes the band cache: all the bands one output row reads when they fit
    // the budget, otherwise fewer, fetched tap by tap. Throws bad_alloc.
    void Allocate(std::size_t budget)
    {
        const int taps = m_rows.taps;
        int needed = 1;
        for (int y = 0; y < m_rows.outCount; ++y) {
            const int* index = m_rows.index.data() + static_cast<std::size_t>(y) * taps;
            auto [lo, hi] = std::minmax_element(index, index + taps);
            needed = std::max(needed, *hi / kBandRows - *lo / kBandRows + 1);
        }
        const std::size_t bandBytes = m_stride * kBandRows * sizeof(float);
        const std::size_t affordable = std::max<std::size_t>(1, budget / bandBytes);
        m_resident = static_cast<std::size_t>(needed) <= affordable;
        m_slots =
            m_resident ? needed : static_cast<int>(std::min<std::size_t>(affordable, static_cast<std::size_t>(needed)));
        m_cache.assign(static_cast<std::size_t>(m_slots) * kBandRows * m_stride, 0.0f);
        m_slotBand.assign(static_cast<std::size_t>(m_slots), -1);
        const int width = m_source.GetWidth();
        m_sideways.assign(static_cast<std::size_t>(width) * m_channels * kBandRows, 0.0f);
        m_samples.assign(static_cast<std::size_t>(width) * m_channels * kBandRows, 0);
        m_sidewaysBytes.assign(static_cast<std::size_t>(width) * m_channels * kBandRows, 0);
        m_sum.assign(m_stride, 0.0f);
        m_tapRows.assign(static_cast<std::size_t>(taps), nullptr);
    }

    void Run(CProgressSteps& progress)
    {
        const int taps = m_rows.taps;
        for (int y = 0; y < m_rows.outCount; ++y) {
            const int* index = m_rows.index.data() + static_cast<std::size_t>(y) * taps;
            const float* weight = m_rows.weight.data() + static_cast<std::size_t>(y) * taps;
            if (m_resident)
                SumInRegisters(index, weight);
            else
                SumTapByTap(index, weight);
            WriteSamples(m_sum.data(), m_columns.outCount, m_target.GetBitCount(), m_target.GetRow(y));
            progress.Report(y + 1, m_rows.outCount);
        }
    }

private:
    // One output row into m_sum, rounded, when every band it reads is cached
    // at once: a block of sums stays in registers over all its taps.
    void SumInRegisters(const int* index, const float* weight)
    {
        const int taps = m_rows.taps;
        for (int k = 0; k < taps; ++k)
            m_tapRows[static_cast<std::size_t>(k)] = FirstPassRow(index[k]);
        for (std::size_t x = 0; x < m_stride; x += kBlockFloats) {
            Lanes sum[kBlockLanes] = {};
            for (int k = 0; k < taps; ++k) {
                const Lanes w = Splat(weight[k]);
                const float* src = m_tapRows[static_cast<std::size_t>(k)] + x;
                for (int q = 0; q < kBlockLanes; ++q)
                    sum[q] += w * LoadLanes(src + q * kLanes);
            }
            for (int q = 0; q < kBlockLanes; ++q)
                StoreLanes(m_sum.data() + x + q * kLanes, RoundLanes(sum[q]));
        }
    }

    // The same when the cache is short: each band is fetched as its tap
    // comes, so sums wait in memory.
    void SumTapByTap(const int* index, const float* weight)
    {
        float* sum = m_sum.data();
        std::fill(sum, sum + m_stride, 0.0f);
        for (int k = 0; k < m_rows.taps; ++k) {
            const float* src = FirstPassRow(index[k]);
            const Lanes w = Splat(weight[k]);
            for (std::size_t x = 0; x < m_stride; x += kLanes)
                StoreLanes(sum + x, LoadLanes(sum + x) + w * LoadLanes(src + x));
        }
        for (std::size_t x = 0; x < m_stride; x += kLanes)
            StoreLanes(sum + x, RoundLanes(LoadLanes(sum + x)));
    }

    // Row y of the first pass, computed with its band when not cached.
    const float* FirstPassRow(int y)
    {
        const int band = y / kBandRows;
        const int slotIndex = band % m_slots;
        float* slot = m_cache.data() + static_cast<std::size_t>(slotIndex) * kBandRows * m_stride;
        if (m_slotBand[static_cast<std::size_t>(slotIndex)] != band) {
            ComputeBand(band, slot);
            m_slotBand[static_cast<std::size_t>(slotIndex)] = band;
        }
        return slot + static_cast<std::size_t>(y % kBandRows) * m_stride;
    }

    void ComputeBand(int band, float* slot)
    {
        const int first = band * kBandRows;
        const int rows = std::min(kBandRows, m_source.GetHeight() - first);
        const int width = m_source.GetWidth();
        const std::size_t samples = static_cast<std::size_t>(width) * m_channels;
        // Lanes of rows past the image keep what they held; their sums are
        // never stored.
        for (int r = 0; r < rows; ++r)
            m_reader.Read(m_source.GetRow(first + r), width, m_samples.data() + static_cast<std::size_t>(r) * samples);
        TurnBand(samples);
        if (m_channels == 1)
            FilterBand<1>(m_columns, m_sideways.data(), rows, slot, m_stride);
        else
            FilterBand<3>(m_columns, m_sideways.data(), rows, slot, m_stride);
    }

    // Lays the band's samples on their side as bytes, eight by eight rows
    // and samples at a time, then widens them to floats in one run.
    void TurnBand(std::size_t samples)
    {
        BYTE* sideways = m_sidewaysBytes.data();
        const BYTE* rows = m_samples.data();
        std::size_t e = 0;
        for (; e + kBandRows <= samples; e += kBandRows) {
            std::uint64_t block[kBandRows];
            for (int r = 0; r < kBandRows; ++r)
                block[r] = LoadLittleEndian(rows + static_cast<std::size_t>(r) * samples + e);
            TransposeBytes(block);
            for (int k = 0; k < kBandRows; ++k)
                StoreLittleEndian(sideways + (e + static_cast<std::size_t>(k)) * kBandRows, block[k]);
        }
        for (; e < samples; ++e)
            for (int r = 0; r < kBandRows; ++r)
                sideways[e * kBandRows + static_cast<std::size_t>(r)] = rows[static_cast<std::size_t>(r) * samples + e];
        float* out = m_sideways.data();
        const std::size_t n = samples * kBandRows;
        for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<float>(sideways[i]);
    }

    const CRasterSrc& m_source;
    CRasterSrc& m_target;
    const CContributorTable& m_columns;
    const CContributorTable& m_rows;
    const CSampleRowReader& m_reader;
    const int m_channels;
    const std::size_t m_rowSamples;  // samples of an output row
    const std::size_t m_stride;      // the same rounded up to whole blocks
    bool m_resident = true;
    int m_slots = 1;
    std::vector<float> m_cache;           // slots x band rows x stride
    std::vector<int> m_slotBand;          // band held by each slot, -1 none
    std::vector<float> m_sideways;        // source width x channels x band rows
    std::vector<BYTE> m_samples;          // a band's samples, row after row
    std::vector<BYTE> m_sidewaysBytes;    // the same on their side
    std::vector<float> m_sum;             // second-pass sums of one output row
    std::vector<const float*> m_tapRows;  // first-pass rows of one output row
};

}  // namespace

int ReflectIndex(std::int64_t j, int count)
{
    if (j >= 0 && j < count)
        return static_cast<int>(j);
    // Mirroring about 0 (-1 is 1) and about count - 0.5 (count is count - 1)
    // repeats every 2 count - 1 pixels.
    const std::int64_t period = 2 * static_cast<std::int64_t>(count) - 1;
    std::int64_t m = j % period;
    if (m < 0)
        m += period;
    return static_cast<int>(m < count ? m : period - m);
}

bool BuildContributors(int inCount, int outCount, const CStrecthFilter& kernel, CContributorTable& table,
                       RasterProgress progress, const std::string& text)
{
    const float support = kernel.support;
    if (inCount < 1 || outCount < 1 || !(support > 0.0f && support <= kMaxStretchSupport))
        return false;
    float scale = 0.0f;
    float offset = 0.0f;
    if (inCount == 1) {
        scale = static_cast<float>(outCount);
    } else if (outCount == 1) {
        scale = 1.0f / static_cast<float>(inCount);
        offset = static_cast<float>(inCount - 1) * 0.5f;
    } else {
        scale = static_cast<float>(outCount - 1) / static_cast<float>(inCount - 1);
    }
    const bool minify = scale < 1.0f;
    const float width = minify ? support / scale : support;
    const float fscale = minify ? 1.0f / scale : 1.0f;

    CProgressSteps steps(progress, text);
    try {
        std::vector<std::size_t> start(static_cast<std::size_t>(outCount) + 1, 0);
        std::vector<int> index;
        std::vector<float> weight;
        int taps = 1;
        for (int i = 0; i < outCount; ++i) {
            const float c = static_cast<float>(i) / scale + offset;
            const std::size_t first = index.size();
            const auto lo = static_cast<std::int64_t>(std::floor(c - width));
            const auto hi = static_cast<std::int64_t>(std::ceil(c + width));
            for (std::int64_t j = lo; j <= hi; ++j) {
                const float t = c - static_cast<float>(j);
                const float w = minify ? kernel.Filter(t / fscale) / fscale : kernel.Filter(t);
                if (w == 0.0f)
                    continue;
                index.push_back(ReflectIndex(j, inCount));
                weight.push_back(w);
            }
            float total = 0.0f;
            for (std::size_t k = first; k < weight.size(); ++k)
                total += weight[k];
            if (total > 0.0f && std::isfinite(total)) {
                for (std::size_t k = first; k < weight.size(); ++k)
                    weight[k] /= total;
            } else {
                // A kernel that gives nothing here: take the nearest pixel.
                index.resize(first);
                weight.resize(first);
                index.push_back(ReflectIndex(std::llround(c), inCount));
                weight.push_back(1.0f);
            }
            start[static_cast<std::size_t>(i) + 1] = index.size();
            taps = std::max(taps, static_cast<int>(index.size() - first));
            steps.Report(i, outCount);
        }

        table.outCount = outCount;
        table.taps = taps;
        table.index.assign(static_cast<std::size_t>(outCount) * taps, 0);
        table.weight.assign(static_cast<std::size_t>(outCount) * taps, 0.0f);
        for (int i = 0; i < outCount; ++i) {
            const std::size_t from = start[static_cast<std::size_t>(i)];
            const std::size_t to = start[static_cast<std::size_t>(i) + 1];
            const std::size_t at = static_cast<std::size_t>(i) * taps;
            std::copy(index.begin() + static_cast<std::ptrdiff_t>(from),
                      index.begin() + static_cast<std::ptrdiff_t>(to),
                      table.index.begin() + static_cast<std::ptrdiff_t>(at));
            std::copy(weight.begin() + static_cast<std::ptrdiff_t>(from),
                      weight.begin() + static_cast<std::ptrdiff_t>(to),
                      table.weight.begin() + static_cast<std::ptrdiff_t>(at));
            std::fill(table.index.begin() + static_cast<std::ptrdiff_t>(at + (to - from)),
                      table.index.begin() + static_cast<std::ptrdiff_t>(at + static_cast<std::size_t>(taps)),
                      index[from]);
        }
    } catch (const std::bad_alloc&) {
        table = CContributorTable{};
        return false;
    } catch (const std::length_error&) {
        table = CContributorTable{};
        return false;
    }
    steps.Report(outCount, outCount);
    return true;
}

bool ResampleInto(const CRasterSrc& source, CRasterSrc& target, const CStrecthFilter& kernel, RasterProgress progress,
                  std::size_t cacheBudget)
{
    if (source.IsEmpty() || target.IsEmpty())
        return false;
    const int outBits = source.GetBitCount() <= 8 ? 8 : source.GetBitCount();
    if (target.GetBitCount() != outBits)
        return false;
    CSampleRowReader reader;
    if (!reader.Init(source))
        return false;

    CContributorTable columns;
    CContributorTable rows;
    const std::string columnText = GetLanString("RasterResample2", "Resample step 2:");
    if (!BuildContributors(source.GetWidth(), target.GetWidth(), kernel, columns, progress, columnText))
        return false;
    const std::string rowText = GetLanString("RasterResample4", "Resample step 4:");
    if (!BuildContributors(source.GetHeight(), target.GetHeight(), kernel, rows, progress, rowText))
        return false;

    const std::string passText = GetLanString("RasterResample5", "Resample step 5:");
    CProgressSteps steps(progress, passText);
    try {
        CSeparableResampler resampler(source, target, columns, rows, reader);
        resampler.Allocate(cacheBudget);
        resampler.Run(steps);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}
