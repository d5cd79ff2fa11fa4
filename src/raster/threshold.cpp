// Turning a colour or grey image into the 1-bit form tracing works on (fixed
// threshold, dynamic threshold per tile, threshold previews of a rectangle)
// and the conversion to 8-bit grey that other filters need first. Each
// operation checks its arguments, then walks the rows once through
// CGreyRowReader and replaces the bitmap only when the new one is complete.
#include "raster/freeimage_api.h"

#include "raster/raster_src.h"

#include "model/text_table.h"
#include "raster/grey_rows.h"
#include "raster/packed_bits.h"
#include "raster/pixel_format.h"
#include "raster/row_bands.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace {

// Tile thresholds above this make every pixel black; below 0, none.
constexpr float kMaxTileThreshold = 256.0f;
constexpr int kPercent = 100;
// Row-band split of the grey conversion: bands no thinner than this.
constexpr int kMinBandRows = 16;

BYTE* ScanLineFromTop(FIBITMAP* bitmap, int y)
{
    return FreeImage_GetScanLine(bitmap, static_cast<int>(FreeImage_GetHeight(bitmap)) - 1 - y);
}

void SetBitmapResolution(FIBITMAP* bitmap, const BITMAPINFOHEADER* header)
{
    FreeImage_SetDotsPerMeterX(bitmap, static_cast<unsigned>(std::max<LONG>(0, header->biXPelsPerMeter)));
    FreeImage_SetDotsPerMeterY(bitmap, static_cast<unsigned>(std::max<LONG>(0, header->biYPelsPerMeter)));
}

int Percent(std::int64_t done, std::int64_t total)
{
    return total > 0 ? static_cast<int>(done * kPercent / total) : kPercent;
}

// The end of a conversion, given whether the new bitmap replaced the old:
// only a finished one reports 100 %.
bool Finished(bool replaced, RasterProgress progress, const std::string& text)
{
    if (replaced && progress)
        progress(text, kPercent);
    return replaced;
}

// The mean-based threshold of one tile, computed in single precision as the
// operation always has, from a sum that cannot overflow.
int TileThreshold(std::uint64_t sum, std::uint64_t pixels, float factor)
{
    float t = static_cast<float>(sum) * factor / static_cast<float>(pixels);
    return static_cast<int>(std::clamp(t, 0.0f, kMaxTileThreshold));
}

}  // namespace

bool CRasterSrc::ConvertTo1Bit(BYTE threshold, RasterProgress progress)
{
    if (!m_bitmap)
        return false;
    if (m_bitCount == 1)
        return true;
    LONG resolution = 0;
    (void)GetResolution(resolution);
    CGreyRowReader reader;
    FIBITMAP* bitmap = reader.Init(*this) ? AllocateRasterBitmap(m_width, m_height, 1) : nullptr;
    if (!bitmap) {
        ShowNoMemoryMessage();
        return false;
    }
    std::string text = GetLanString("RasterConvert1bitMsg", "Convert to 1-bit");
    if (progress)
        progress(text, 0);
    std::unique_ptr<BYTE*[]> out(new (std::nothrow) BYTE*[static_cast<size_t>(m_height)]);
    if (!out) {
        FreeImage_Unload(bitmap);
        ShowNoMemoryMessage();
        return false;
    }
    for (int y = 0; y < m_height; ++y)
        out[static_cast<size_t>(y)] = ScanLineFromTop(bitmap, y);
    // Rows are independent: each chunk is split across the threads, and the
    // progress moves between chunks on this thread.
    ThresholdGreyRows(reader, m_rows.get(), m_width, m_height, threshold, out.get(), [&](int top, int rows) {
        if (progress)
            progress(text, Percent(top + rows - 1, m_height));
    });
    SetBitmapResolution(bitmap, m_header);
    return Finished(ReplaceBitmap(bitmap), progress, text);
}

bool CRasterSrc::SmartThreshold(int box, float factor, RasterProgress progress)
{
    if (!m_bitmap)
        return false;
    if (m_bitCount == 1)
        return true;
    // A box below 1 has no tiles to walk; a factor that is not a number has
    // no threshold.
    if (box < 1 || !std::isfinite(factor))
        return false;
    std::string text = GetLanString("RasterSmartThreshold", "Smart Threshold");
    if (progress)
        progress(text, 0);

    const int tileWidth = std::min(box, m_width);
    const int tileHeight = std::min(box, m_height);
    const int tiles = (m_width + tileWidth - 1) / tileWidth;
    const size_t width = static_cast<size_t>(m_width);
    // One band of tiles at a time: its grey levels are computed once, summed
    // per tile, then compared with their tile's threshold.
    CGreyRowReader reader;
    auto band = TryAllocate<BYTE>(width * static_cast<size_t>(tileHeight));
    auto columnThreshold = TryAllocate<std::uint16_t>(width);
    std::vector<std::uint64_t> sums;
    FIBITMAP* bitmap = nullptr;
    if (band && columnThreshold && reader.Init(*this))
        bitmap = AllocateRasterBitmap(m_width, m_height, 1);
    if (!bitmap)
        return false;
    sums.resize(static_cast<size_t>(tiles));

    const std::int64_t total = static_cast<std::int64_t>(m_width) * m_height;
    for (int top = 0; top < m_height; top += tileHeight) {
        const int rows = std::min(tileHeight, m_height - top);
        std::fill(sums.begin(), sums.end(), 0);
        for (int r = 0; r < rows; ++r) {
            BYTE* grey = band.get() + width * static_cast<size_t>(r);
            reader.GreyRow(m_rows[static_cast<size_t>(top + r)], 0, m_width, grey);
            for (int k = 0; k < tiles; ++k) {
                int x1 = std::min(m_width, (k + 1) * tileWidth);
                std::uint64_t s = 0;
                for (int x = k * tileWidth; x < x1; ++x)
                    s += grey[x];
                sums[static_cast<size_t>(k)] += s;
            }
        }
        for (int k = 0; k < tiles; ++k) {
            int x0 = k * tileWidth;
            int x1 = std::min(m_width, x0 + tileWidth);
            std::uint64_t pixels = static_cast<std::uint64_t>(x1 - x0) * static_cast<std::uint64_t>(rows);
            auto t = static_cast<std::uint16_t>(TileThreshold(sums[static_cast<size_t>(k)], pixels, factor));
            std::fill(columnThreshold.get() + x0, columnThreshold.get() + x1, t);
        }
        for (int r = 0; r < rows; ++r) {
            const BYTE* grey = band.get() + width * static_cast<size_t>(r);
            const std::uint16_t* limit = columnThreshold.get();
            PackRow(ScanLineFromTop(bitmap, top + r), m_width, [&](int x) { return grey[x] < limit[x]; });
            if (progress)
                progress(text, Percent(static_cast<std::int64_t>(top + r + 1) * m_width, total));
        }
    }
    SetBitmapResolution(bitmap, m_header);
    return Finished(ReplaceBitmap(bitmap), progress, text);
}

namespace {

// The preview rectangle [x0, x2) x [y0, y2), already clipped.
struct PreviewRect {
    int x0, y0, x2, y2;
};

bool ThresholdPreview(const CRasterSrc& source, CRasterSrc& target, PreviewRect r, BYTE threshold)
{
    const int w = r.x2 - r.x0;
    const int h = r.y2 - r.y0;
    if (target.IsEmpty() || target.GetWidth() != w || target.GetHeight() != h || target.GetBitCount() != 1) {
        target.Free();
        if (!target.Create(w, h, 1))
            return false;
    }
    CGreyRowReader reader;
    if (!reader.Init(source)) {
        ShowNoMemoryMessage();
        return false;
    }
    for (int y = r.y2 - 1; y >= r.y0; --y)
        reader.ThresholdRow(source.GetRow(y), r.x0, w, threshold, target.GetRow(y - r.y0));
    (void)target.SetResolution(source.GetHeader()->biXPelsPerMeter);
    target.GetHeader()->biYPelsPerMeter = source.GetHeader()->biYPelsPerMeter;
    return true;
}

}  // namespace

bool CRasterSrc::ThresholdRect(CRasterSrc& target, int x, int y, int w, int h, BYTE threshold) const
{
    if (!m_bitmap || &target == this)
        return false;
    // The last column and row of the image are never part of a preview.
    long long right = std::min<long long>(static_cast<long long>(x) + w, m_width - 1);
    long long bottom = std::min<long long>(static_cast<long long>(y) + h, m_height - 1);
    // A rectangle reaching left of or above the image starts at its edge.
    int x0 = std::max(x, 0);
    int y0 = std::max(y, 0);
    if (x0 >= m_width - 1 || y0 >= m_height - 1 || right <= x0 || bottom <= y0)
        return true;
    return ThresholdPreview(*this, target, {x0, y0, static_cast<int>(right), static_cast<int>(bottom)}, threshold);
}

bool CRasterSrc::ThresholdScaledRect(CRasterSrc& target, int x, int y, int w, int h, double scale, BYTE threshold) const
{
    if (!m_bitmap || &target == this || !std::isfinite(scale))
        return false;
    // Computed in doubles and brought into the image before any conversion
    // to int, so a large scale cannot overflow.
    auto toPixel = [](double v, int limit) { return static_cast<int>(std::clamp(std::trunc(v), 0.0, double(limit))); };
    double left = std::trunc(x * scale);
    double top = std::trunc(y * scale);
    int x0 = toPixel(left, m_width);
    int y0 = toPixel(top, m_height);
    int x2 = toPixel(left + w * scale, m_width - 1);
    int y2 = toPixel(top + h * scale, m_height - 1);
    if (x0 >= m_width - 1 || y0 >= m_height - 1 || x2 <= x0 || y2 <= y0)
        return true;
    return ThresholdPreview(*this, target, {x0, y0, x2, y2}, threshold);
}

bool CRasterSrc::ConvertToGrey8()
{
    if (!m_bitmap)
        return false;
    if (IsGreyRamp())
        return true;
    CGreyRowReader reader;
    FIBITMAP* bitmap = reader.Init(*this) ? AllocateRasterBitmap(m_width, m_height, 8) : nullptr;
    if (!bitmap)
        return false;
    RGBQUAD* palette = FreeImage_GetPalette(bitmap);
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    ForEachRowBand(m_height, kMinBandRows, [&](int, int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            reader.GreyRow(m_rows[static_cast<size_t>(y)], 0, m_width, ScanLineFromTop(bitmap, y));
    });
    SetBitmapResolution(bitmap, m_header);
    return ReplaceBitmap(bitmap);
}
