#pragma once
// The readers of the formats whose files the image library reads wrongly or
// unsafely (BMP with the newer headers, PCX with an alpha plane, TARGA), the
// check of a JPEG before the library decodes it, and
// what they share with the loader: the declared-size bounds and the result of
// a decode. Each reader validates its header fully, checks that the file
// holds the bytes its header promises before it allocates, and reports a file
// that ends early as truncated. Results are bitmaps in a layout CRasterSrc
// holds, with any alpha already composed over white.
#include "platform/dib_types.h"
#include "platform/win_types.h"
#include "raster/raster_file.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct FIBITMAP;

// Why a decode failed, and the detail for the user.
struct CDecodeStatus {
    RasterLoadError error = RasterLoadError::kNone;
    std::string detail;
    // The bytes are a private mapping of the file: a reader that has read a
    // range for good may give its pages back, so the file and the image are
    // not both resident at the peak.
    bool mapped = false;
    // Damage read past, as a viewer shows such a file: the first found.
    std::string warning;

    void Warn(std::string text)
    {
        if (warning.empty())
            warning = std::move(text);
    }

    // Gives back the whole pages of [from, from + bytes) when mapped.
    void ReleaseRead(const BYTE* from, std::size_t bytes) const;

    // Always null, so a reader can return its failure in one line.
    FIBITMAP* Fail(RasterLoadError why, std::string text)
    {
        error = why;
        detail = std::move(text);
        return nullptr;
    }
};

// Whether an image of width x height at bits per pixel may be allocated:
// kTooLarge when it exceeds the loader's bound or half the machine's memory,
// kDecodeFailed for an empty image.
RasterLoadError CheckRasterSize(std::int64_t width, std::int64_t height, unsigned bits, std::string* detail);

// A file declaring more pixels than its bytes can encode, given the most
// pixels one byte can stand for in its compression, is truncated.
bool IsPlausibleSize(std::int64_t width, std::int64_t height, std::uint64_t bytes, double pixelsPerByte);

// A zeroed bitmap after CheckRasterSize; null with the status set on failure.
FIBITMAP* AllocateRaster(std::int64_t width, std::int64_t height, unsigned bits, CDecodeStatus& status);

// Composes the alpha of a 32-bit bitmap over white and makes it opaque.
void ComposeOverWhite(FIBITMAP* bitmap);

// No scanner or printer comes near this: a file claiming more holds a broken
// resolution, which counts as none (0 dots per metre) like a missing one.
constexpr double kMaxFileDotsPerInch = 100000.0;
constexpr double kMetresPerInch = 0.0254;
// The whole number of dots per metre nearest to it.
constexpr unsigned kMaxFileDotsPerMetre = 3937008;
[[nodiscard]] inline bool IsAbsurdDotsPerMetre(double dotsPerMetre) { return dotsPerMetre > kMaxFileDotsPerMetre; }
// Clears both resolutions of a bitmap when either is absurd.
void DropAbsurdResolution(FIBITMAP* bitmap);

[[nodiscard]] FIBITMAP* DecodeBmp(const BYTE* data, std::size_t size, CDecodeStatus& status);

// The pixels of a BMP that can be read where they lie in the file: no run
// lengths, 24 bits, or 32 bits in the usual order without alpha.
struct CBmpRowView {
    int width = 0;
    int height = 0;
    int bits = 0;
    const BYTE* first = nullptr;  // the top row
    std::ptrdiff_t step = 0;      // from a row to the one below it
    LONG xDotsPerMetre = 0;       // 0 or more, as the decoder sets them
    LONG yDotsPerMetre = 0;

    const BYTE* Row(int y) const { return first + step * y; }
};
// False for any other file, and for one DecodeBmp would refuse.
[[nodiscard]] bool ViewBmpRows(const BYTE* data, std::size_t size, CBmpRowView& view);
[[nodiscard]] FIBITMAP* DecodeTga(const BYTE* data, std::size_t size, CDecodeStatus& status);
[[nodiscard]] FIBITMAP* DecodePcx(const BYTE* data, std::size_t size, CDecodeStatus& status);
[[nodiscard]] FIBITMAP* DecodeJpeg(const BYTE* data, std::size_t size, CDecodeStatus& status);

// Little-endian fields of a validated buffer.
inline std::uint16_t ReadLe16(const BYTE* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

inline std::uint32_t ReadLe32(const BYTE* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Straight alpha composed over white, so a transparent pixel reads as the
// white page a viewer shows behind it.
inline BYTE OverWhite(unsigned value, unsigned alpha)
{
    return static_cast<BYTE>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}
