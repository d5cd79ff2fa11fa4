// Rotation into the bounding box of the turned picture. Positive angles turn
// clockwise on the screen at every depth.
//
// 1-bit images are turned here: quarter turns exactly, through 8 x 8 bit
// transposes, and other angles by nearest-pixel sampling at pixel centres,
// which cannot tear where the sine or cosine is a hair off an integer.
// Deeper images are turned by the image library, which interpolates; it
// holds 8-bit grey, 24 and 32 bits, so the others are converted first.
#include "raster/freeimage_api.h"

#include "raster/pixel_ops.h"

#include "model/constants.h"
#include "model/text_table.h"
#include "raster/packed_bits.h"
#include "raster/pixel_ops_support.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kFullTurn = 360.0;
constexpr int kRowBand = 64;  // rows between progress reports

enum class Turn { kNone, kQuarter, kHalf, kThreeQuarters, kOther };

// Degrees brought into [0, 360).
double NormaliseDegrees(double degrees)
{
    double r = std::fmod(degrees, kFullTurn);
    if (r < 0)
        r += kFullTurn;
    return r >= kFullTurn ? 0.0 : r;
}

Turn ClassifyTurn(double normalised)
{
    if (normalised == 0.0)
        return Turn::kNone;
    if (normalised == 90.0)
        return Turn::kQuarter;
    if (normalised == 180.0)
        return Turn::kHalf;
    if (normalised == 270.0)
        return Turn::kThreeQuarters;
    return Turn::kOther;
}

// An 8 x 8 bit matrix transposed: row i is byte i from the top of the word,
// column j is bit 7 - j of its byte.
constexpr PackedWord Transpose8x8(PackedWord x)
{
    PackedWord t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    return x;
}

// target(x, r) = source(r, x); target is source's height wide and its width
// high.
void TransposeBits(const CRasterSrc& source, CRasterSrc& target, RasterProgress progress, const std::string& text)
{
    const int width = source.GetWidth();
    const int height = source.GetHeight();
    const int byteColumns = PackedRowBytes(width);
    for (int y0 = 0; y0 < height; y0 += 8) {
        const BYTE* rows[8];
        for (int i = 0; i < 8; ++i)
            rows[i] = y0 + i < height ? source.GetRow(y0 + i) : nullptr;
        for (int bx = 0; bx < byteColumns; ++bx) {
            PackedWord block = 0;
            for (int i = 0; i < 8; ++i)
                block = (block << 8) | (rows[i] ? rows[i][bx] : 0);
            block = Transpose8x8(block);
            for (int j = 0, r = bx * 8; j < 8 && r < width; ++j, ++r)
                target.GetRow(r)[y0 >> 3] = static_cast<BYTE>(block >> (56 - 8 * j));
        }
        if ((y0 & (kRowBand - 1)) == 0)
            ReportProgress(progress, text, ProgressPercent(y0, height));
    }
    // The bits of source rows past its height landed as zeros; the last
    // byte of every target row is clean.
}

// The new 1-bit image of a quarter turn, built into target.
bool QuarterTurn(const CRasterSrc& image, Turn turn, CRasterSrc& target, RasterProgress progress,
                 const std::string& text)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    if (turn == Turn::kHalf) {
        if (!target.Create(width, height, 1))
            return false;
        const size_t bytes = static_cast<size_t>(PackedRowBytes(width));
        for (int r = 0; r < height; ++r)
            std::copy(image.GetRow(height - 1 - r), image.GetRow(height - 1 - r) + bytes, target.GetRow(r));
        return FlipHorizontal(target);
    }
    if (!target.Create(height, width, 1))
        return false;
    TransposeBits(image, target, progress, text);
    return turn == Turn::kQuarter ? FlipHorizontal(target) : FlipVertical(target);
}

// Nearest-pixel rotation into the bounding box, each new pixel taken from
// the old pixel under its centre.
bool TurnByAngle(const CRasterSrc& image, double degrees, CRasterSrc& target, RasterProgress progress,
                 const std::string& text)
{
    const double a = degrees * DEGREE;
    const double c = std::cos(a);
    const double s = std::sin(a);
    const double w = image.GetWidth();
    const double h = image.GetHeight();
    // Where the corners go: (x, y) -> (x c + y s, y c - x s), y up.
    auto turnedX = [&](double x, double y) { return x * c + y * s; };
    auto turnedY = [&](double x, double y) { return y * c - x * s; };
    double spanX = std::max(std::fabs(turnedX(w / 2, -h / 2) - turnedX(-w / 2, h / 2)),
                            std::fabs(turnedX(-w / 2, -h / 2) - turnedX(w / 2, h / 2)));
    double spanY = std::max(std::fabs(turnedY(w / 2, -h / 2) - turnedY(-w / 2, h / 2)),
                            std::fabs(turnedY(-w / 2, -h / 2) - turnedY(w / 2, h / 2)));
    const int newWidth = std::max(1, static_cast<int>(spanX + 0.5));
    const int newHeight = std::max(1, static_cast<int>(spanY + 0.5));
    if (!target.Create(newWidth, newHeight, 1))
        return false;

    const int width = image.GetWidth();
    const int height = image.GetHeight();
    for (int r = 0; r < newHeight; ++r) {
        const double dy = r + 0.5 - newHeight / 2.0;
        // The source point of the centre of new pixel (x, r), y down.
        const double x0 = -newWidth / 2.0 + 0.5;
        const double baseX = x0 * c + dy * s + w / 2;
        const double baseY = dy * c - x0 * s + h / 2;
        PackRow(target.GetRow(r), newWidth, [&](int x) {
            double sx = std::floor(baseX + x * c);
            double sy = std::floor(baseY - x * s);
            if (sx < 0 || sy < 0 || sx >= width || sy >= height)
                return false;
            return TestPixel(image.GetRow(static_cast<int>(sy)), static_cast<int>(sx));
        });
        if ((r & (kRowBand - 1)) == 0)
            ReportProgress(progress, text, ProgressPercent(r, newHeight));
    }
    return true;
}

// A new bitmap of the given depth (8-bit grey or 24 bits) with the colours
// the pixel accessors read: an all-grey palette as grey levels, anything
// else as colour. Conversion here rather than in the library keeps 5-5-5
// values as the rest of the system reads them.
FIBITMAP* ConvertForTurning(const CRasterSrc& image, int bitCount)
{
    FIBITMAP* bitmap = AllocateRasterBitmap(image.GetWidth(), image.GetHeight(), bitCount);
    if (!bitmap)
        return nullptr;
    if (bitCount == 8) {
        RGBQUAD* ramp = FreeImage_GetPalette(bitmap);
        for (int i = 0; i < 256; ++i)
            ramp[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    }
    const int height = image.GetHeight();
    for (int y = 0; y < height; ++y) {
        BYTE* out = FreeImage_GetScanLine(bitmap, height - 1 - y);
        for (int x = 0; x < image.GetWidth(); ++x) {
            BYTE bgr[3];
            image.GetPixelBGR(x, y, bgr);
            if (bitCount == 8)
                out[x] = bgr[2];
            else
                std::copy(bgr, bgr + 3, out + 3 * x);
        }
    }
    return bitmap;
}

bool IsGreyPalette(const CRasterSrc& image)
{
    const RGBQUAD* palette = image.GetPalette();
    for (unsigned i = 0; i < image.GetColorsUsed(); ++i) {
        if (palette[i].rgbRed != palette[i].rgbGreen || palette[i].rgbRed != palette[i].rgbBlue)
            return false;
    }
    return true;
}

}  // namespace

bool Rotate1Bit(CRasterSrc& image, double degrees, RasterProgress progress)
{
    if (image.IsEmpty() || image.GetBitCount() != 1 || !std::isfinite(degrees))
        return false;
    const double normalised = NormaliseDegrees(degrees);
    const Turn turn = ClassifyTurn(normalised);
    if (turn == Turn::kNone)
        return true;
    const std::string text = GetLanString("RasterRotate", "Rotate raster");
    ReportProgress(progress, text, 0);
    CRasterSrc target;
    bool made = turn == Turn::kOther ? TurnByAngle(image, normalised, target, progress, text)
                                     : QuarterTurn(image, turn, target, progress, text);
    if (!made || !AdoptRasterBitmap(image, target.Detach()))
        return false;
    ReportProgress(progress, text, kFullPercent);
    return true;
}

bool Rotate(CRasterSrc& image, double degrees, RasterProgress progress)
{
    if (image.IsEmpty() || !std::isfinite(degrees))
        return false;
    if (image.GetBitCount() == 1)
        return Rotate1Bit(image, degrees, progress);
    const double normalised = NormaliseDegrees(degrees);
    if (ClassifyTurn(normalised) == Turn::kNone)
        return true;
    const std::string text = GetLanString("RasterRotate", "Rotate raster");
    ReportProgress(progress, text, 0);

    // The library turns 8-bit grey, 24 and 32 bits only.
    const int bitCount = image.GetBitCount();
    FIBITMAP* converted = nullptr;
    if (bitCount == 16 || (bitCount <= 8 && !image.IsGreyRamp())) {
        converted = ConvertForTurning(image, bitCount <= 8 && IsGreyPalette(image) ? 8 : 24);
        if (!converted) {
            ShowNoMemoryMessage();
            return false;
        }
    }
    // White is palette index 255 of the grey ramp, and (255, 255, 255) above.
    RGBQUAD white = {255, 255, 255, 0};
    // The library turns counter-clockwise for positive angles.
    FIBITMAP* turned = FreeImage_Rotate(converted ? converted : image.GetBitmap(), -normalised, &white);
    if (converted)
        FreeImage_Unload(converted);
    if (!turned) {
        ShowNoMemoryMessage();
        return false;
    }
    if (!AdoptRasterBitmap(image, turned))
        return false;
    ReportProgress(progress, text, kFullPercent);
    return true;
}
