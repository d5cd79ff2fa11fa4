// Colour replacement, brightness and contrast, flips and inversion. Palette
// images change their palette; deeper images are walked row by row through
// the row table, one switch on the depth per row.
#include "raster/freeimage_api.h"

#include "raster/pixel_ops.h"

#include "model/text_table.h"
#include "raster/packed_bits.h"
#include "raster/pixel_math.h"
#include "raster/pixel_ops_support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kMaxBrightness = 100;
constexpr double kBrightnessStep = 255 * 0.01;  // one brightness unit in grey levels
constexpr double kContrastUnit = 100.0;
constexpr int kMidGrey = 128;
constexpr WORD k555Mask = 0x7FFF;

void ColourBytes(COLORREF colour, BYTE* bgr)
{
    bgr[0] = GetBValue(colour);
    bgr[1] = GetGValue(colour);
    bgr[2] = GetRValue(colour);
}

// The operation's channel mapping as a table: the contrast around mid grey
// in single precision, then the brightness step, saturating.
void MakeBrightContrastTable(int brightness, int contrast, BYTE* table)
{
    const auto step = static_cast<int>(std::trunc(std::abs(brightness) * kBrightnessStep));
    const auto k = static_cast<float>((contrast + kContrastUnit) / kContrastUnit);
    for (int v = 0; v < 256; ++v) {
        double u = std::trunc(static_cast<float>(v - kMidGrey) * k + 128.0);
        int level = static_cast<int>(std::clamp(u, 0.0, 255.0));
        if (brightness > 0)
            level = AddClamp255(static_cast<BYTE>(level), step);
        else if (brightness < 0)
            level = SubClamp0(static_cast<BYTE>(level), step);
        table[v] = static_cast<BYTE>(level);
    }
}

// Applies a per-channel operation to every palette entry, reporting after
// each one. False without palette.
template <class EntryOp>
bool ChangePalette(CRasterSrc& image, RasterProgress progress, const std::string& text, EntryOp&& op)
{
    unsigned used = image.GetColorsUsed();
    RGBQUAD* palette = image.GetPalette();
    if (!palette || used == 0)
        return false;
    for (unsigned i = 0; i < used; ++i) {
        op(palette[i]);
        ReportProgress(progress, text, ProgressPercent(i, used));
    }
    image.InitBackgroundColor();
    return true;
}

// Applies op(bgr) -> bool (changed) to every pixel above 8 bits, writing
// back the pixels it changed as SetPixelRGB writes them.
template <class PixelOp>
void ChangePixels(CRasterSrc& image, RasterProgress progress, const std::string& text, PixelOp&& op)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    const int bitCount = image.GetBitCount();
    for (int y = 0; y < height; ++y) {
        BYTE* row = image.GetRow(y);
        if (bitCount == 16) {
            for (int x = 0; x < width; ++x) {
                BYTE bgr[3];
                image.GetPixelBGR(x, y, bgr);
                if (op(bgr))
                    image.SetPixelRGB(x, y, bgr[2], bgr[1], bgr[0]);
            }
        } else {
            const int step = bitCount / 8;
            for (BYTE* p = row; p < row + static_cast<size_t>(width) * step; p += step) {
                if (op(p) && step == 4)
                    p[3] = 0;
            }
        }
        ReportProgress(progress, text, ProgressPercent(y, height));
    }
}

}  // namespace

// ------------------------------------------------------------ bitmap swap --

namespace {

struct OwnerState {
    CRasterEditSettings settings;
    int brushX = 0, brushY = 0;
    BYTE reserved = 0, dimmed = 0;
    LONG xResolution = 0, yResolution = 0;
    bool oneBit = false;
    RGBQUAD palette[2] = {};

    explicit OwnerState(const CRasterSrc& image)
        : settings(image.GetEditSettings()), reserved(image.GetReservedFlag()), dimmed(image.GetPaletteDimmed()),
          oneBit(image.GetBitCount() == 1 && image.GetPalette())
    {
        image.GetLastBrushPoint(brushX, brushY);
        if (const BITMAPINFOHEADER* header = image.GetHeader()) {
            xResolution = header->biXPelsPerMeter;
            yResolution = header->biYPelsPerMeter;
        }
        if (oneBit)
            std::memcpy(palette, image.GetPalette(), sizeof palette);
    }

    void RestoreTo(CRasterSrc& image) const
    {
        image.GetEditSettings() = settings;
        image.SetLastBrushPoint(brushX, brushY);
        image.SetReservedFlag(reserved);
        image.SetPaletteDimmed(dimmed);
        if (BITMAPINFOHEADER* header = image.GetHeader()) {
            header->biXPelsPerMeter = xResolution;
            header->biYPelsPerMeter = yResolution;
        }
        if (oneBit && image.GetBitCount() == 1)
            std::memcpy(image.GetPalette(), palette, sizeof palette);
    }
};

// Attaches bitmap in place of the image's own (which may be the same one).
bool Adopt(CRasterSrc& image, FIBITMAP* bitmap)
{
    const OwnerState state(image);
    const bool same = bitmap == image.GetBitmap();
    CRasterSrc fresh;
    if (!fresh.Attach(bitmap)) {
        // Attach may have normalised a shared 1-bit palette already.
        if (same)
            state.RestoreTo(image);
        return false;
    }
    if (same)
        (void)image.Detach();
    (void)fresh.MoveTo(image);
    state.RestoreTo(image);
    return true;
}

}  // namespace

bool AdoptRasterBitmap(CRasterSrc& image, FIBITMAP* bitmap)
{
    if (!bitmap)
        return false;
    if (!Adopt(image, bitmap)) {
        FreeImage_Unload(bitmap);
        return false;
    }
    return true;
}

// ----------------------------------------------------------------- colour --

bool CRasterProcess::ReplaceColor(COLORREF from, COLORREF to, int tolerance)
{
    if (m_image.IsEmpty() || m_image.GetBitCount() == 1)
        return false;
    BYTE fromBgr[3], toBgr[3];
    ColourBytes(from, fromBgr);
    ColourBytes(to, toBgr);
    const std::string text = GetLanString("RasterReplaceColor", "Replace color");
    Report(text, 0);
    if (m_image.GetBitCount() <= 8) {
        bool ok = ChangePalette(m_image, m_progress, text, [&](RGBQUAD& entry) {
            const BYTE bgr[3] = {entry.rgbBlue, entry.rgbGreen, entry.rgbRed};
            if (ColorDistance(fromBgr, bgr) <= tolerance) {
                entry.rgbBlue = toBgr[0];
                entry.rgbGreen = toBgr[1];
                entry.rgbRed = toBgr[2];
            }
        });
        if (!ok)
            return false;
    } else {
        ChangePixels(m_image, m_progress, text, [&](BYTE* bgr) {
            if (ColorDistance(fromBgr, bgr) > tolerance)
                return false;
            std::memcpy(bgr, toBgr, 3);
            return true;
        });
    }
    Report(text, kFullPercent);
    return true;
}

bool CRasterProcess::AdjustBrightContrast(int brightness, int contrast)
{
    if (m_image.IsEmpty() || m_image.GetBitCount() == 1)
        return false;
    if (brightness < -kMaxBrightness || brightness > kMaxBrightness || (brightness == 0 && contrast == 0))
        return true;
    BYTE table[256];
    MakeBrightContrastTable(brightness, contrast, table);
    const std::string text = GetLanString("RasterAdjustBrightContrast", "Adjust bright & contrast");
    Report(text, 0);
    if (m_image.GetBitCount() <= 8) {
        bool ok = ChangePalette(m_image, m_progress, text, [&](RGBQUAD& entry) {
            entry.rgbBlue = table[entry.rgbBlue];
            entry.rgbGreen = table[entry.rgbGreen];
            entry.rgbRed = table[entry.rgbRed];
        });
        if (!ok)
            return false;
    } else {
        ChangePixels(m_image, m_progress, text, [&](BYTE* bgr) {
            bgr[0] = table[bgr[0]];
            bgr[1] = table[bgr[1]];
            bgr[2] = table[bgr[2]];
            return true;
        });
    }
    Report(text, kFullPercent);
    return true;
}

// ------------------------------------------------------- flips and invert --

bool FlipVertical(CRasterSrc& image)
{
    if (image.IsEmpty())
        return false;
    const size_t bytes = image.GetRowBytes();
    for (int top = 0, bottom = image.GetHeight() - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(image.GetRow(top), image.GetRow(top) + bytes, image.GetRow(bottom));
    return true;
}

namespace {

// Bit order of a byte reversed.
constexpr BYTE ReverseBits(BYTE b)
{
    b = static_cast<BYTE>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<BYTE>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<BYTE>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// A 1-bit row mirrored: the used bytes reversed with their bits, which
// mirrors the row padded to whole bytes, then moved left by the padding.
void MirrorBitRow(BYTE* row, int width, BYTE* scratch)
{
    const int bytes = PackedRowBytes(width);
    for (int i = 0; i < bytes; ++i)
        scratch[i] = ReverseBits(row[bytes - 1 - i]);
    ExtractPixels(scratch, bytes * 8 - width, width, row);
}

void MirrorNibbleRow(BYTE* row, int width, BYTE* scratch)
{
    std::memcpy(scratch, row, static_cast<size_t>(PackedRowBytes(width * 4)));
    auto nibble = [&](int x) { return (x & 1) ? (scratch[x >> 1] & 0x0F) : (scratch[x >> 1] >> 4); };
    for (int x = 0; x < width; ++x) {
        int v = nibble(width - 1 - x);
        BYTE& b = row[x >> 1];
        b = (x & 1) ? static_cast<BYTE>((b & 0xF0) | v) : static_cast<BYTE>((b & 0x0F) | (v << 4));
    }
}

void MirrorPixelRow(BYTE* row, int width, int pixelBytes)
{
    for (int left = 0, right = width - 1; left < right; ++left, --right)
        std::swap_ranges(row + static_cast<size_t>(left) * pixelBytes, row + static_cast<size_t>(left + 1) * pixelBytes,
                         row + static_cast<size_t>(right) * pixelBytes);
}

bool IsFourBitGreyRamp(const CRasterSrc& image)
{
    constexpr int kFourBitStep = 17;  // 255 / 15
    const RGBQUAD* palette = image.GetPalette();
    for (unsigned i = 0; i < image.GetColorsUsed(); ++i) {
        const RGBQUAD& e = palette[i];
        if (e.rgbRed != i * kFourBitStep || e.rgbGreen != e.rgbRed || e.rgbBlue != e.rgbRed)
            return false;
    }
    return true;
}

void InvertBytes(BYTE* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<BYTE>(~p[i]);
}

}  // namespace

bool FlipHorizontal(CRasterSrc& image)
{
    if (image.IsEmpty())
        return false;
    const int width = image.GetWidth();
    const int bitCount = image.GetBitCount();
    std::vector<BYTE> scratch(image.GetRowBytes() + sizeof(PackedWord));
    for (int y = 0; y < image.GetHeight(); ++y) {
        BYTE* row = image.GetRow(y);
        switch (bitCount) {
        case 1: MirrorBitRow(row, width, scratch.data()); break;
        case 4: MirrorNibbleRow(row, width, scratch.data()); break;
        default: MirrorPixelRow(row, width, bitCount / 8); break;
        }
    }
    return true;
}

bool Invert(CRasterSrc& image)
{
    if (image.IsEmpty())
        return false;
    const int width = image.GetWidth();
    const int bitCount = image.GetBitCount();
    // A grey ramp stays a ramp: its indices are inverted, not its colours.
    const bool invertIndices =
        bitCount == 1 || (bitCount == 8 && image.IsGreyRamp()) || (bitCount == 4 && IsFourBitGreyRamp(image));
    if (bitCount <= 8 && !invertIndices) {
        RGBQUAD* palette = image.GetPalette();
        for (unsigned i = 0; i < image.GetColorsUsed(); ++i) {
            RGBQUAD& e = palette[i];
            e = RGBQUAD{static_cast<BYTE>(~e.rgbBlue), static_cast<BYTE>(~e.rgbGreen), static_cast<BYTE>(~e.rgbRed),
                        e.rgbReserved};
        }
        image.InitBackgroundColor();
    } else {
        for (int y = 0; y < image.GetHeight(); ++y) {
            BYTE* row = image.GetRow(y);
            switch (bitCount) {
            case 1:
            case 4:
            case 8: {
                const int bytes = PackedRowBytes(width * bitCount);
                InvertBytes(row, static_cast<size_t>(bytes));
                if (bitCount == 1)
                    row[bytes - 1] &= LastByteMask(width);
                break;
            }
            case 16:
                for (int x = 0; x < width; ++x) {
                    row[2 * x] = static_cast<BYTE>(~row[2 * x]);
                    row[2 * x + 1] = static_cast<BYTE>(row[2 * x + 1] ^ (k555Mask >> 8));
                }
                break;
            case 24: InvertBytes(row, static_cast<size_t>(width) * 3); break;
            case 32:
                for (BYTE* p = row; p < row + static_cast<size_t>(width) * 4; p += 4)
                    InvertBytes(p, 3);
                break;
            default: break;
            }
        }
    }
    // Reversing the bins would be off where a grey level rounds at a half;
    // the histogram is counted again when next wanted.
    image.InvalidateHistogram();
    return true;
}
