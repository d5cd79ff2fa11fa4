// Grey and colour medians. Every pixel, border included, is the median of
// the size x size window around it, the picture's edge pixels repeated
// beyond the edge.
//
// Samples: grey levels (the index bytes of an 8-bit image) or, for colour,
// 32-bit keys luminance << 24 | red << 16 | green << 8 | blue, whose numeric
// order is the median's order, so both kinds run through the same kernels.
//
// The source rows a window needs are kept, converted and padded by the
// window's radius on each side, in a ring of size rows; each image row is
// converted before it is overwritten, so no copy of the image is made.
// Row bands run side by side; each band converts the rows of its
// neighbours' that its windows reach before any band starts, since those
// are overwritten by the time it gets to them.
// Windows of 3 and 5 go through comparator networks (median_kernels.cpp);
// larger ones through a sliding histogram of levels.
#include "raster/median.h"

#include "model/text_table.h"
#include "platform/message_box.h"
#include "raster/median_kernels.h"
#include "raster/pixel_ops_support.h"
#include "raster/row_bands.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

static_assert(kMinMedianSize == 3 && kMaxMedianSize == 15, "the size message names the range");

namespace {

constexpr int kLevels = 256;
// Thinner bands would spend more on their borrowed rows than they save.
constexpr int kMinMedianBandRows = 64;
constexpr int kLuminanceShift = 24;
// Integer luminance weights of red, green and blue, in hundredths.
constexpr std::uint32_t kRedWeight = 30, kGreenWeight = 59, kBlueWeight = 11, kWeightScale = 100;

std::uint32_t ColourKey(BYTE red, BYTE green, BYTE blue)
{
    std::uint32_t luminance = (kRedWeight * red + kGreenWeight * green + kBlueWeight * blue) / kWeightScale;
    return luminance << kLuminanceShift | static_cast<std::uint32_t>(red) << 16 |
           static_cast<std::uint32_t>(green) << 8 | blue;
}

// One row of samples in, one row of results out, per kind of image.
struct GreySamples {
    using Sample = BYTE;
    static void Load(const CRasterSrc& image, int y, BYTE* out)
    {
        std::memcpy(out, image.GetRow(y), static_cast<size_t>(image.GetWidth()));
    }
    static void Store(CRasterSrc& image, int y, const BYTE* in)
    {
        std::memcpy(image.GetRow(y), in, static_cast<size_t>(image.GetWidth()));
    }
    static int Level(BYTE v) { return v; }
};

struct ColourSamples {
    using Sample = std::uint32_t;
    static void Load(const CRasterSrc& image, int y, std::uint32_t* out)
    {
        const int width = image.GetWidth();
        const BYTE* row = image.GetRow(y);
        switch (image.GetBitCount()) {
        case 24:
            for (int x = 0; x < width; ++x, row += 3)
                out[x] = ColourKey(row[2], row[1], row[0]);
            break;
        case 32:
            for (int x = 0; x < width; ++x, row += 4)
                out[x] = ColourKey(row[2], row[1], row[0]);
            break;
        default:
            for (int x = 0; x < width; ++x) {
                BYTE bgr[3];
                image.GetPixelBGR(x, y, bgr);
                out[x] = ColourKey(bgr[2], bgr[1], bgr[0]);
            }
            break;
        }
    }
    static void Store(CRasterSrc& image, int y, const std::uint32_t* in)
    {
        const int width = image.GetWidth();
        BYTE* row = image.GetRow(y);
        auto red = [](std::uint32_t k) { return static_cast<BYTE>(k >> 16); };
        auto green = [](std::uint32_t k) { return static_cast<BYTE>(k >> 8); };
        auto blue = [](std::uint32_t k) { return static_cast<BYTE>(k); };
        switch (image.GetBitCount()) {
        case 24:
            for (int x = 0; x < width; ++x, row += 3) {
                row[0] = blue(in[x]);
                row[1] = green(in[x]);
                row[2] = red(in[x]);
            }
            break;
        case 32:
            for (int x = 0; x < width; ++x, row += 4) {
                row[0] = blue(in[x]);
                row[1] = green(in[x]);
                row[2] = red(in[x]);
                row[3] = 0;
            }
            break;
        default:
            for (int x = 0; x < width; ++x)
                image.SetPixelRGB(x, y, red(in[x]), green(in[x]), blue(in[x]));
            break;
        }
    }
    static int Level(std::uint32_t v) { return static_cast<int>(v >> kLuminanceShift); }
};

// The source rows of the windows of one output row.
template <class Kind>
class CWindowRows {
public:
    using Sample = typename Kind::Sample;

    // Output rows [y0, y1); the rows of the windows outside the band are
    // converted here, before the bands write.
    [[nodiscard]] bool Init(const CRasterSrc& image, int size, int y0, int y1)
    {
        m_image = &image;
        m_y0 = y0;
        m_y1 = y1;
        m_size = size;
        m_radius = size / 2;
        m_width = image.GetWidth();
        m_padded = m_width + 2 * m_radius;
        m_stride = static_cast<size_t>(m_padded) + kMedianSlack;
        const size_t total = m_stride * static_cast<size_t>(size);
        m_ring = TryAllocate<Sample>(total);
        m_sorted = TryAllocate<Sample>(total);
        m_out = TryAllocate<Sample>(m_stride);
        m_halo = TryAllocate<Sample>(m_stride * static_cast<size_t>(2 * m_radius));
        if (!m_ring || !m_sorted || !m_out || !m_halo)
            return false;
        std::fill(m_halo.get(), m_halo.get() + m_stride * static_cast<size_t>(2 * m_radius), Sample{0});
        for (int source = y0 - m_radius; source < y1 + m_radius; ++source)
            if (source >= 0 && source < image.GetHeight() && (source < y0 || source >= y1))
                LoadPadded(source, HaloRow(source));
        std::fill(m_ring.get(), m_ring.get() + total, Sample{0});
        std::fill(m_sorted.get(), m_sorted.get() + total, Sample{0});
        m_loaded.assign(static_cast<size_t>(size), -1);
        m_rows.assign(static_cast<size_t>(size), nullptr);
        m_sortedRows.resize(static_cast<size_t>(size));
        for (int i = 0; i < size; ++i)
            m_sortedRows[static_cast<size_t>(i)] = m_sorted.get() + m_stride * static_cast<size_t>(i);
        return true;
    }

    // Rows y - radius .. y + radius, clamped to the image, padded.
    const Sample* const* Gather(int y)
    {
        const int height = m_image->GetHeight();
        for (int i = 0; i < m_size; ++i) {
            int source = std::clamp(y - m_radius + i, 0, height - 1);
            if (source < m_y0 || source >= m_y1) {
                m_rows[static_cast<size_t>(i)] = HaloRow(source);
                continue;
            }
            size_t slot = static_cast<size_t>(source % m_size);
            Sample* row = m_ring.get() + m_stride * slot;
            if (m_loaded[slot] != source) {
                LoadPadded(source, row);
                m_loaded[slot] = source;
            }
            m_rows[static_cast<size_t>(i)] = row;
        }
        return m_rows.data();
    }

    Sample* const* SortedRows() { return m_sortedRows.data(); }
    Sample* Out() { return m_out.get(); }
    int Size() const { return m_size; }
    int Width() const { return m_width; }
    int Padded() const { return m_padded; }

private:
    void LoadPadded(int source, Sample* row)
    {
        Kind::Load(*m_image, source, row + m_radius);
        std::fill(row, row + m_radius, row[m_radius]);
        std::fill(row + m_radius + m_width, row + m_padded, row[m_radius + m_width - 1]);
    }
    // The slot of a row within radius above or below the band.
    Sample* HaloRow(int source)
    {
        const int slot = source < m_y0 ? source - (m_y0 - m_radius) : m_radius + source - m_y1;
        return m_halo.get() + m_stride * static_cast<size_t>(slot);
    }

    const CRasterSrc* m_image = nullptr;
    int m_size = 0, m_radius = 0, m_width = 0, m_padded = 0;
    int m_y0 = 0, m_y1 = 0;
    size_t m_stride = 0;
    std::unique_ptr<Sample[]> m_ring, m_sorted, m_out, m_halo;
    std::vector<int> m_loaded;  // which source row each ring slot holds
    std::vector<const Sample*> m_rows;
    std::vector<Sample*> m_sortedRows;
};

// A colour median whose luminance several window colours share: the
// wanted-th smallest key among them.
std::uint32_t PickKey(const std::uint32_t* const* rows, int size, int x, int level, int wanted,
                      std::vector<std::uint32_t>& ties)
{
    ties.clear();
    for (int i = 0; i < size; ++i)
        for (int dx = 0; dx < size; ++dx)
            if (ColourSamples::Level(rows[i][x + dx]) == level)
                ties.push_back(rows[i][x + dx]);
    std::nth_element(ties.begin(), ties.begin() + wanted, ties.end());
    return ties[static_cast<size_t>(wanted)];
}

// Huang's sliding histogram along one row: the window's level counts are
// updated by one column out and one in, and the median level moves from
// where it was.
template <class Kind>
void SlidingMedianRow(const typename Kind::Sample* const* rows, int size, int width, typename Kind::Sample* out,
                      std::vector<std::uint32_t>& ties)
{
    int counts[kLevels] = {};
    for (int i = 0; i < size; ++i)
        for (int dx = 0; dx < size; ++dx)
            ++counts[Kind::Level(rows[i][dx])];
    const int half = size * size / 2;
    int level = 0;
    int below = 0;  // samples under level
    for (int x = 0;; ++x) {
        while (below > half)
            below -= counts[--level];
        while (below + counts[level] <= half)
            below += counts[level++];
        if constexpr (sizeof(typename Kind::Sample) == 1)
            out[x] = static_cast<BYTE>(level);
        else
            out[x] = PickKey(rows, size, x, level, half - below, ties);
        if (x + 1 == width)
            break;
        for (int i = 0; i < size; ++i) {
            int gone = Kind::Level(rows[i][x]);
            int come = Kind::Level(rows[i][x + size]);
            --counts[gone];
            ++counts[come];
            below += (come < level) - (gone < level);
        }
    }
}

template <class Kind>
bool RunMedian(CRasterSrc& image, int size, RasterProgress progress)
{
    ReportProgress(progress, GetLanString("MFilterInit", "Init Median filter..."), 0);
    const int height = image.GetHeight();
    const int bands = CountRowBands(height, kMinMedianBandRows);
    std::vector<CWindowRows<Kind>> windows(static_cast<size_t>(bands));
    for (int b = 0; b < bands; ++b) {
        int y0 = 0, y1 = 0;
        RowBandOf(height, bands, b, y0, y1);
        if (!windows[static_cast<size_t>(b)].Init(image, size, y0, y1)) {
            ShowNoMemoryMessage();
            return false;
        }
    }
    const std::string text = GetLanString("MFilterMsg", "Median Filter");
    // Band 0 runs on this thread and reports for all.
    RunBands(bands, [&](int b) {
        CWindowRows<Kind>& window = windows[static_cast<size_t>(b)];
        std::vector<std::uint32_t> ties;
        ties.reserve(static_cast<size_t>(size * size));
        int y0 = 0, y1 = 0;
        RowBandOf(height, bands, b, y0, y1);
        int lastPercent = -1;
        for (int y = y0; y < y1; ++y) {
            const auto* rows = window.Gather(y);
            if (HasMedianNetwork(size)) {
                SortColumns(rows, size, window.Padded(), window.SortedRows());
                MedianRow(window.SortedRows(), size, window.Width(), window.Out());
            } else {
                SlidingMedianRow<Kind>(rows, size, window.Width(), window.Out(), ties);
            }
            Kind::Store(image, y, window.Out());
            int percent = ProgressPercent(y - y0, y1 - y0);
            if (b == 0 && percent != lastPercent) {
                ReportProgress(progress, text, percent);
                lastPercent = percent;
            }
        }
    });
    ReportProgress(progress, GetLanString("MFilterFinish", "Median Filter Finish"), kFullPercent);
    return true;
}

bool RefuseSize(int size)
{
    if (IsValidMedianSize(size))
        return false;
    ShowMessageBox(GetLanString("MFilterSizeMsg", "The median filter size must be an odd number from 3 to 15."),
                   "Lineweft", MB_OK | MB_ICONERROR);
    return true;
}

}  // namespace

bool IsValidMedianSize(int size) { return size >= kMinMedianSize && size <= kMaxMedianSize && (size & 1) == 1; }

bool ColorMedianFilter(CRasterSrc& raster, int size, RasterProgress progress)
{
    if (raster.IsEmpty() || raster.GetBitCount() <= 8 || RefuseSize(size))
        return false;
    return RunMedian<ColourSamples>(raster, size, progress);
}

bool GreyMedianFilter(CRasterSrc& raster, int size, RasterProgress progress)
{
    if (raster.IsEmpty() || raster.GetBitCount() != 8 || RefuseSize(size))
        return false;
    return RunMedian<GreySamples>(raster, size, progress);
}

bool MedianFilter(CRasterSrc& raster, int size, RasterProgress progress)
{
    if (raster.IsEmpty() || raster.GetBitCount() == 1 || RefuseSize(size))
        return false;
    if (raster.GetBitCount() > 8)
        return ColorMedianFilter(raster, size, progress);
    if (!raster.ConvertToGrey8())
        return false;
    return GreyMedianFilter(raster, size, progress);
}

bool ApplyMedianFilter(CRasterSrc& raster, int size, RasterProgress progress)
{
    if (raster.GetBitCount() != 1 || raster.IsEmpty())
        return MedianFilter(raster, size, progress);
    CBinaryMedianFilter filter;
    if (RefuseSize(size) || !filter.SetSize(size))
        return false;
    return filter.Apply(raster, progress);
}
