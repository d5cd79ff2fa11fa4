// TARGA files: colour-mapped (8-bit indices into a map of 15, 16, 24 or
// 32-bit entries), true colour (15, 16, 24, 32 bits) and grey (8 bits), each
// uncompressed or run-length coded, in any of the four row and column
// orders. The footer and extension area carry nothing the image needs and
// are not read.
//
// Colour maps become 8-bit palettes (map alpha composed over white into the
// entries), 15 and 16 bits stay 5-5-5, 24 bits stay 24, 32 bits become
// 32 bits with the alpha composed over white when the header says the
// fourth byte is alpha.
#include "raster/freeimage_api.h"

#include "raster/raster_decoders.h"

#include "platform/number_text.h"
#include "raster/pixel_format.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kHeaderBytes = 18;
constexpr unsigned kMapped = 1, kTrueColour = 2, kGrey = 3, kRunLength = 8;
constexpr unsigned kRightToLeft = 0x10, kTopDown = 0x20, kAlphaBitsMask = 0x0F;
// A run-length packet is one count byte and one pixel for up to 128 pixels.
constexpr unsigned kMaxRun = 128;
constexpr unsigned kMaxPaletteEntries = 256;

struct CTgaHeader {
    unsigned idBytes = 0, mapType = 0, type = 0;
    unsigned mapFirst = 0, mapLength = 0, mapEntryBits = 0;
    std::int64_t width = 0, height = 0;
    unsigned pixelBits = 0, descriptor = 0;
};

unsigned PixelBytes(unsigned bits) { return (bits + 7) / 8; }

FIBITMAP* ReadHeader(const BYTE* data, std::size_t size, CTgaHeader& h, CDecodeStatus& status)
{
    // The two type bytes say whether this can be a TARGA file at all.
    if (size < 3)
        return status.Fail(RasterLoadError::kTruncated, "the file ends inside its header");
    h.idBytes = data[0];
    h.mapType = data[1];
    h.type = data[2];
    const unsigned kind = h.type & ~kRunLength;
    if (h.mapType > 1 || kind < kMapped || kind > kGrey || (h.type & ~(kRunLength | 3u)))
        return status.Fail(RasterLoadError::kDecodeFailed, FormatC("image type %u", h.type));
    if (size < kHeaderBytes)
        return status.Fail(RasterLoadError::kTruncated, "the file ends inside its header");
    h.mapFirst = ReadLe16(data + 3);
    h.mapLength = ReadLe16(data + 5);
    h.mapEntryBits = data[7];
    h.width = ReadLe16(data + 12);
    h.height = ReadLe16(data + 14);
    h.pixelBits = data[16];
    h.descriptor = data[17];
    if (h.mapType == 1 && h.mapEntryBits != 15 && h.mapEntryBits != 16 && h.mapEntryBits != 24 && h.mapEntryBits != 32)
        return status.Fail(RasterLoadError::kDecodeFailed, FormatC("colour map entries of %u bits", h.mapEntryBits));
    bool valid = false;
    switch (kind) {
    case kMapped: valid = h.mapType == 1 && h.pixelBits == 8; break;
    case kTrueColour: valid = h.pixelBits == 15 || h.pixelBits == 16 || h.pixelBits == 24 || h.pixelBits == 32; break;
    case kGrey: valid = h.pixelBits == 8; break;
    default: break;
    }
    if (!valid)
        return status.Fail(RasterLoadError::kUnsupportedLayout,
                           FormatC("image type %u at %u bits per pixel", h.type, h.pixelBits));
    if (kind == kMapped && h.mapLength == 0)
        return status.Fail(RasterLoadError::kDecodeFailed, "a colour map of 0 entries");
    if (h.width == 0 || h.height == 0)
        return status.Fail(RasterLoadError::kDecodeFailed, "the header declares an empty image");
    return nullptr;
}

// The map entry as blue, green, red, alpha.
void MapEntry(const BYTE* e, unsigned bits, BYTE out[4])
{
    if (bits <= 16) {
        unsigned v = ReadLe16(e);
        out[0] = Blue555(v), out[1] = Green555(v), out[2] = Red555(v), out[3] = 255;
        return;
    }
    out[0] = e[0], out[1] = e[1], out[2] = e[2];
    out[3] = bits == 32 ? e[3] : 255;
}

// The pixels in file order, one pixel after another, run-length packets
// expanded; false when the file ends first.
bool Expand(const BYTE* data, std::size_t size, std::size_t at, bool rle, std::size_t pixelBytes, std::size_t pixels,
            BYTE* out)
{
    if (!rle) {
        if (size - at < pixels * pixelBytes)
            return false;
        std::memcpy(out, data + at, pixels * pixelBytes);
        return true;
    }
    std::size_t done = 0;
    while (done < pixels) {
        if (at >= size)
            return false;
        unsigned packet = data[at++];
        std::size_t count = std::min<std::size_t>((packet & 0x7F) + 1, pixels - done);
        if (packet & 0x80) {
            if (size - at < pixelBytes)
                return false;
            for (std::size_t i = 0; i < count; ++i)
                std::memcpy(out + (done + i) * pixelBytes, data + at, pixelBytes);
            at += pixelBytes;
        } else {
            std::size_t bytes = ((packet & 0x7F) + 1) * pixelBytes;
            if (size - at < bytes)
                return false;
            std::memcpy(out + done * pixelBytes, data + at, count * pixelBytes);
            at += bytes;
        }
        done += count;
    }
    return true;
}

}  // namespace

FIBITMAP* DecodeTga(const BYTE* data, std::size_t size, CDecodeStatus& status)
{
    CTgaHeader h;
    (void)ReadHeader(data, size, h, status);
    if (status.error != RasterLoadError::kNone)
        return nullptr;
    const unsigned kind = h.type & ~kRunLength;
    const bool rle = (h.type & kRunLength) != 0;
    const std::size_t pixelBytes = PixelBytes(h.pixelBits);
    const std::size_t mapBytes = h.mapType ? std::size_t{h.mapLength} * PixelBytes(h.mapEntryBits) : 0;
    const std::size_t mapAt = kHeaderBytes + h.idBytes;
    const std::size_t pixelsAt = mapAt + mapBytes;
    if (size < pixelsAt)
        return status.Fail(RasterLoadError::kTruncated, "the file ends inside its colour map");
    const bool alpha = h.pixelBits == 32 && (h.descriptor & kAlphaBitsMask) != 0;
    const unsigned outBits = kind == kTrueColour ? (h.pixelBits == 15 ? 16 : h.pixelBits) : 8;

    std::string why;
    RasterLoadError declared = CheckRasterSize(h.width, h.height, outBits, &why);
    if (declared != RasterLoadError::kNone)
        return status.Fail(declared, why);
    const std::uint64_t pixels = static_cast<std::uint64_t>(h.width * h.height);
    const std::uint64_t present = size - pixelsAt;
    if (!rle && present < pixels * pixelBytes)
        return status.Fail(RasterLoadError::kTruncated, FormatC("%llu of the %llu bytes of pixels are present",
                                                                static_cast<unsigned long long>(present),
                                                                static_cast<unsigned long long>(pixels * pixelBytes)));
    if (rle && !IsPlausibleSize(h.width, h.height, present, static_cast<double>(kMaxRun) / (1 + pixelBytes)))
        return status.Fail(RasterLoadError::kTruncated,
                           FormatC("%llu bytes cannot hold %lld x %lld pixels",
                                   static_cast<unsigned long long>(present), static_cast<long long>(h.width),
                                   static_cast<long long>(h.height)));

    FIBITMAP* bitmap = outBits == 16 ? FreeImage_Allocate(static_cast<int>(h.width), static_cast<int>(h.height), 16,
                                                          kMask555Red, kMask555Green, kMask555Blue)
                                     : AllocateRaster(h.width, h.height, outBits, status);
    if (!bitmap)
        return status.error != RasterLoadError::kNone ? nullptr : status.Fail(RasterLoadError::kTooLarge, "no memory");
    // The file's pixels, expanded, in a buffer of their own: rows may run in
    // either direction and packets may cross rows.
    auto expanded = TryAllocate<BYTE>(pixels * pixelBytes);
    if (!expanded) {
        FreeImage_Unload(bitmap);
        return status.Fail(RasterLoadError::kTooLarge, "no memory for the decoded pixels");
    }
    if (!Expand(data, size, pixelsAt, rle, pixelBytes, pixels, expanded.get())) {
        FreeImage_Unload(bitmap);
        return status.Fail(RasterLoadError::kTruncated, "the file ends before its last pixel");
    }

    // An index the map does not hold has no colour: the page would be drawn
    // in black where the file's maker meant something else.
    if (kind == kMapped) {
        const BYTE* begin = expanded.get();
        const BYTE* end = begin + pixels;
        const auto [low, high] = std::minmax_element(begin, end);
        if (*low < h.mapFirst || *high - h.mapFirst >= h.mapLength) {
            FreeImage_Unload(bitmap);
            return status.Fail(RasterLoadError::kDecodeFailed,
                               FormatC("pixels use index %u, the colour map holds %u to %u",
                                       unsigned{*low < h.mapFirst ? *low : *high}, h.mapFirst,
                                       h.mapFirst + h.mapLength - 1));
        }
    }
    if (kind != kTrueColour) {
        RGBQUAD* palette = FreeImage_GetPalette(bitmap);
        for (unsigned i = 0; i < kMaxPaletteEntries; ++i) {
            BYTE e[4] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 255};
            if (kind == kMapped) {
                e[0] = e[1] = e[2] = 0;
                if (i >= h.mapFirst && i - h.mapFirst < h.mapLength)
                    MapEntry(data + mapAt + (i - h.mapFirst) * PixelBytes(h.mapEntryBits), h.mapEntryBits, e);
            }
            palette[i].rgbBlue = OverWhite(e[0], e[3]);
            palette[i].rgbGreen = OverWhite(e[1], e[3]);
            palette[i].rgbRed = OverWhite(e[2], e[3]);
            palette[i].rgbReserved = 0;
        }
    }
    const bool topDown = (h.descriptor & kTopDown) != 0, mirrored = (h.descriptor & kRightToLeft) != 0;
    const std::size_t outBytes = PixelBytes(outBits);
    for (std::int64_t row = 0; row < h.height; ++row) {
        const BYTE* in = expanded.get() + static_cast<std::size_t>(row * h.width) * pixelBytes;
        BYTE* out = FreeImage_GetScanLine(bitmap, static_cast<int>(topDown ? h.height - 1 - row : row));
        for (std::int64_t x = 0; x < h.width; ++x) {
            const BYTE* p = in + static_cast<std::size_t>(x) * pixelBytes;
            BYTE* q = out + static_cast<std::size_t>(mirrored ? h.width - 1 - x : x) * outBytes;
            std::memcpy(q, p, outBytes);
            if (h.pixelBits == 16 || h.pixelBits == 15)
                q[1] &= 0x7F;  // the attribute bit is not part of the colour
            if (outBits == 32 && !alpha)
                q[3] = 255;
        }
    }
    if (alpha)
        ComposeOverWhite(bitmap);
    return bitmap;
}
