// BMP files of every header the format has had: the 12-byte core header and
// the 40-byte header with its later extensions (52, 56, 64, 108 and 124
// bytes: channel masks, colour space, profile), at 1, 4, 8, 16, 24 and 32
// bits, uncompressed, run-length coded (4 and 8 bits) or with channel masks,
// bottom-up or top-down.
//
// Indexed images keep their indices and colour table; 5-5-5 stays 16 bits;
// other masks are widened to 24 bits, or 32 when an alpha mask is present.
// Alpha, where an alpha mask declares it, is composed over white; without
// one the fourth byte of a 32-bit pixel is kept as it is.
#include "raster/freeimage_api.h"

#include "raster/raster_decoders.h"

#include "platform/number_text.h"
#include "raster/pixel_format.h"
#include "raster/row_bands.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kLargestHeaderBytes = 124;
// Pixel bytes of a mapped file copied (across the row-band threads) and
// then given back at a time, and the thinnest band of rows.
constexpr std::uint64_t kReleaseBytes = 16 << 20;
constexpr int kMinCopyBandRows = 16;
constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6;

struct CBmpHeader {
    std::uint32_t headerBytes = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // positive; topDown says the row order
    bool topDown = false;
    unsigned bits = 0;
    std::uint32_t compression = kRgb;
    std::int32_t xDpm = 0, yDpm = 0;
    std::uint32_t colours = 0;  // colour table entries in the file
    std::uint32_t paletteAt = 0;
    unsigned paletteEntryBytes = 4;
    std::uint32_t masks[4] = {};  // red, green, blue, alpha
    std::uint32_t pixelsAt = 0;
};

// One channel of a masked pixel, widened to 8 bits.
struct CChannel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit CChannel(std::uint32_t m) : mask(m)
    {
        if (m) {
            shift = std::countr_zero(m);
            max = m >> shift;
        }
    }
    BYTE Read(std::uint32_t pixel, BYTE none) const
    {
        if (!mask)
            return none;
        std::uint32_t v = (pixel & mask) >> shift;
        return static_cast<BYTE>((static_cast<std::uint64_t>(v) * 255 + max / 2) / max);
    }
};

bool IsContiguous(std::uint32_t mask) { return mask == 0 || std::has_single_bit((mask >> std::countr_zero(mask)) + 1); }

FIBITMAP* ReadHeader(const BYTE* data, std::size_t size, CBmpHeader& h, CDecodeStatus& status)
{
    if (size < 2 || data[0] != 'B' || data[1] != 'M')
        return status.Fail(RasterLoadError::kDecodeFailed, "no BMP signature");
    if (size < kFileHeaderBytes + 4)
        return status.Fail(RasterLoadError::kTruncated, "the file ends inside its header");
    h.pixelsAt = ReadLe32(data + 10);
    h.headerBytes = ReadLe32(data + kFileHeaderBytes);
    if (h.headerBytes != kCoreHeaderBytes && (h.headerBytes < kInfoHeaderBytes || h.headerBytes > kLargestHeaderBytes))
        return status.Fail(RasterLoadError::kDecodeFailed, FormatC("unknown header of %u bytes", h.headerBytes));
    if (size < kFileHeaderBytes + h.headerBytes)
        return status.Fail(RasterLoadError::kTruncated, "the file ends inside its header");
    const BYTE* p = data + kFileHeaderBytes;
    unsigned planes = 0;
    if (h.headerBytes == kCoreHeaderBytes) {
        h.width = ReadLe16(p + 4);
        h.height = ReadLe16(p + 6);
        planes = ReadLe16(p + 8);
        h.bits = ReadLe16(p + 10);
        h.paletteEntryBytes = 3;
    } else {
        h.width = static_cast<std::int32_t>(ReadLe32(p + 4));
        std::int32_t height = static_cast<std::int32_t>(ReadLe32(p + 8));
        h.topDown = height < 0;
        h.height = h.topDown ? -static_cast<std::int64_t>(height) : height;
        planes = ReadLe16(p + 12);
        h.bits = ReadLe16(p + 14);
        h.compression = ReadLe32(p + 16);
        h.xDpm = static_cast<std::int32_t>(ReadLe32(p + 24));
        h.yDpm = static_cast<std::int32_t>(ReadLe32(p + 28));
        h.colours = ReadLe32(p + 32);
    }
    if (planes != 1)
        return status.Fail(RasterLoadError::kDecodeFailed, FormatC("%u colour planes", planes));
    switch (h.bits) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32: break;
    default: return status.Fail(RasterLoadError::kUnsupportedLayout, FormatC("%u bits per pixel", h.bits));
    }
    bool masked = h.compression == kBitfields || h.compression == kAlphaBitfields;
    bool valid = h.compression == kRgb || (h.compression == kRle8 && h.bits == 8) ||
                 (h.compression == kRle4 && h.bits == 4) || (masked && (h.bits == 16 || h.bits == 32));
    if (!valid)
        return status.Fail(RasterLoadError::kUnsupportedLayout,
                           FormatC("compression %u at %u bits per pixel", h.compression, h.bits));
    if (h.topDown && (h.compression == kRle8 || h.compression == kRle4))
        return status.Fail(RasterLoadError::kDecodeFailed, "a run-length coded image stored top-down");

    // Masks sit in the header from 52 bytes on, else just after it.
    std::uint32_t masksAt = kFileHeaderBytes + kInfoHeaderBytes;
    std::uint32_t tableAt = kFileHeaderBytes + h.headerBytes;
    unsigned maskCount = h.headerBytes >= 56 ? 4 : h.headerBytes >= 52 ? 3 : 0;
    if (masked && maskCount == 0) {
        maskCount = h.compression == kAlphaBitfields ? 4 : 3;
        tableAt += 4 * maskCount;
        if (size < tableAt)
            return status.Fail(RasterLoadError::kTruncated, "the file ends inside its channel masks");
    }
    if (masked) {
        for (unsigned i = 0; i < maskCount; ++i)
            h.masks[i] = ReadLe32(data + masksAt + 4 * i);
        if (h.compression == kBitfields && h.headerBytes < 56)
            h.masks[3] = 0;
    } else if (h.bits == 16) {
        h.masks[0] = kMask555Red, h.masks[1] = kMask555Green, h.masks[2] = kMask555Blue;
    } else if (h.bits == 32) {
        h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
        // An alpha mask in a newer header counts for uncompressed pixels too.
        h.masks[3] = h.headerBytes >= 56 ? ReadLe32(data + masksAt + 12) : 0;
    }
    std::uint32_t limit = h.bits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (std::uint32_t m : h.masks) {
        if ((m & ~limit) || !IsContiguous(m))
            return status.Fail(RasterLoadError::kDecodeFailed, "channel masks outside the pixel or not contiguous");
    }
    if (masked && !h.masks[0] && !h.masks[1] && !h.masks[2])
        return status.Fail(RasterLoadError::kDecodeFailed, "no colour channel masks");

    if (h.bits <= 8) {
        std::uint32_t full = 1u << h.bits;
        h.colours = h.colours == 0 || h.colours > full ? full : h.colours;
    } else {
        h.colours = 0;  // a table beside true-colour pixels is only a display hint
    }
    h.paletteAt = tableAt;
    std::uint64_t tableEnd = tableAt + std::uint64_t{h.colours} * h.paletteEntryBytes;
    if (size < tableEnd)
        return status.Fail(RasterLoadError::kTruncated, "the file ends inside its colour table");
    // Some writers leave the pixel offset 0; the pixels then follow the table.
    if (h.pixelsAt == 0)
        h.pixelsAt = static_cast<std::uint32_t>(tableEnd);
    if (h.pixelsAt < kFileHeaderBytes + std::min(h.headerBytes, kInfoHeaderBytes))
        return status.Fail(RasterLoadError::kDecodeFailed, "the pixels are said to start inside the header");
    if (h.width <= 0 || h.height <= 0)
        return status.Fail(RasterLoadError::kDecodeFailed, "the header declares an empty image");
    return nullptr;
}

void CopyPalette(const BYTE* data, const CBmpHeader& h, FIBITMAP* bitmap)
{
    RGBQUAD* palette = FreeImage_GetPalette(bitmap);
    for (std::uint32_t i = 0; i < h.colours; ++i) {
        const BYTE* e = data + h.paletteAt + std::size_t{i} * h.paletteEntryBytes;
        palette[i].rgbBlue = e[0];
        palette[i].rgbGreen = e[1];
        palette[i].rgbRed = e[2];
        palette[i].rgbReserved = 0;
    }
}

// The library's scan line of file row i.
BYTE* ScanLine(FIBITMAP* bitmap, const CBmpHeader& h, std::int64_t row)
{
    return FreeImage_GetScanLine(bitmap, static_cast<int>(h.topDown ? h.height - 1 - row : row));
}

// Run-length coded rows, bottom-up; a run never writes past its row.
FIBITMAP* DecodeRle(const BYTE* data, std::size_t size, const CBmpHeader& h, FIBITMAP* bitmap, CDecodeStatus& status)
{
    const bool four = h.compression == kRle4;
    std::size_t at = h.pixelsAt;
    std::int64_t x = 0, y = 0;
    // Runs past the row's end and moves out of the image draw nothing there.
    auto put = [&](unsigned index) {
        if (x >= h.width && y < h.height)
            status.Warn(FormatC("a run overruns row %lld from the bottom", static_cast<long long>(y + 1)));
        if (x < h.width && y < h.height) {
            BYTE* row = FreeImage_GetScanLine(bitmap, static_cast<int>(y));
            if (four) {
                BYTE& b = row[x >> 1];
                b = (x & 1) ? static_cast<BYTE>((b & 0xF0) | (index & 0x0F))
                            : static_cast<BYTE>((b & 0x0F) | (index & 0x0F) << 4);
            } else {
                row[x] = static_cast<BYTE>(index);
            }
        }
        ++x;
    };
    while (y < h.height) {
        if (at + 2 > size)
            return status.Fail(RasterLoadError::kTruncated, "the file ends before its last run");
        unsigned count = data[at], value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i)
                put(four ? (i & 1 ? value & 0x0F : value >> 4) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of image
            return bitmap;
        } else if (value == 2) {  // move right and up
            if (at + 2 > size)
                return status.Fail(RasterLoadError::kTruncated, "the file ends before its last run");
            const std::int64_t from = y;
            x += data[at];
            y += data[at + 1];
            at += 2;
            if (x > h.width || y >= h.height)
                status.Warn(
                    FormatC("a move from row %lld from the bottom leaves the image", static_cast<long long>(from + 1)));
        } else {  // value literal pixels, padded to a 16-bit boundary
            std::size_t bytes = four ? (value + 1) / 2 : value;
            if (at + bytes > size)
                return status.Fail(RasterLoadError::kTruncated, "the file ends before its last run");
            for (unsigned i = 0; i < value; ++i)
                put(four ? (i & 1 ? data[at + i / 2] & 0x0F : data[at + i / 2] >> 4) : data[at + i]);
            at += (bytes + 1) & ~std::size_t{1};
        }
    }
    return bitmap;
}

// Masked 16 and 32-bit pixels that are not 5-5-5, into 24 or 32 bits.
void DecodeMasked(const BYTE* data, const CBmpHeader& h, std::size_t stride, FIBITMAP* bitmap, bool alpha)
{
    const CChannel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), opacity(h.masks[3]);
    const unsigned outBytes = alpha ? 4 : 3;
    for (std::int64_t row = 0; row < h.height; ++row) {
        const BYTE* in = data + h.pixelsAt + row * stride;
        BYTE* out = ScanLine(bitmap, h, row);
        for (std::int64_t x = 0; x < h.width; ++x, out += outBytes) {
            std::uint32_t v = h.bits == 16 ? ReadLe16(in + 2 * x) : ReadLe32(in + 4 * x);
            out[0] = blue.Read(v, 0);
            out[1] = green.Read(v, 0);
            out[2] = red.Read(v, 0);
            if (alpha)
                out[3] = opacity.Read(v, 255);
        }
    }
}

bool IsStandard8888(const CBmpHeader& h)
{
    return h.bits == 32 && h.masks[0] == 0xFF0000 && h.masks[1] == 0xFF00 && h.masks[2] == 0xFF;
}

// Bytes of the pixels a decode reads: the last row may lack its padding.
std::uint64_t NeededPixelBytes(const CBmpHeader& h, std::size_t stride)
{
    return stride * static_cast<std::uint64_t>(h.height - 1) + static_cast<std::uint64_t>((h.width * h.bits + 7) / 8);
}

}  // namespace

bool ViewBmpRows(const BYTE* data, std::size_t size, CBmpRowView& view)
{
    CBmpHeader h;
    CDecodeStatus status;
    (void)ReadHeader(data, size, h, status);
    if (status.error != RasterLoadError::kNone)
        return false;
    const bool plain24 = h.bits == 24 && h.compression == kRgb;
    const bool plain32 = IsStandard8888(h) && h.masks[3] == 0 && (h.compression == kRgb || h.compression == kBitfields);
    if ((!plain24 && !plain32) || CheckRasterSize(h.width, h.height, h.bits, nullptr) != RasterLoadError::kNone)
        return false;
    const std::size_t stride = static_cast<std::size_t>((h.width * h.bits + 31) / 32 * 4);
    const std::uint64_t available = size > h.pixelsAt ? size - h.pixelsAt : 0;
    if (available < NeededPixelBytes(h, stride))
        return false;
    view.width = static_cast<int>(h.width);
    view.height = static_cast<int>(h.height);
    view.bits = static_cast<int>(h.bits);
    const BYTE* pixels = data + h.pixelsAt;
    const auto step = static_cast<std::ptrdiff_t>(stride);
    view.first = h.topDown ? pixels : pixels + step * (h.height - 1);
    view.step = h.topDown ? step : -step;
    view.xDotsPerMetre = std::max(h.xDpm, 0);
    view.yDotsPerMetre = std::max(h.yDpm, 0);
    return true;
}

FIBITMAP* DecodeBmp(const BYTE* data, std::size_t size, CDecodeStatus& status)
{
    CBmpHeader h;
    (void)ReadHeader(data, size, h, status);
    if (status.error != RasterLoadError::kNone)
        return nullptr;
    const bool rle = h.compression == kRle8 || h.compression == kRle4;
    const std::size_t stride = static_cast<std::size_t>((h.width * h.bits + 31) / 32 * 4);
    const bool is555 = h.bits == 16 && h.masks[0] == kMask555Red && h.masks[1] == kMask555Green &&
                       h.masks[2] == kMask555Blue && h.masks[3] == 0;
    const bool is8888 = IsStandard8888(h) && (h.masks[3] == 0 || h.masks[3] == 0xFF000000u);
    unsigned outBits = h.bits;
    if (h.bits == 16 && !is555)
        outBits = h.masks[3] ? 32 : 24;

    std::string why;
    RasterLoadError declared = CheckRasterSize(h.width, h.height, std::max(outBits, h.bits), &why);
    if (declared != RasterLoadError::kNone)
        return status.Fail(declared, why);
    const std::uint64_t available = size > h.pixelsAt ? size - h.pixelsAt : 0;
    if (!rle) {
        // The last row may lack its padding.
        const std::uint64_t needed = NeededPixelBytes(h, stride);
        if (available < needed)
            return status.Fail(RasterLoadError::kTruncated, FormatC("%llu of the %llu bytes of pixels are present",
                                                                    static_cast<unsigned long long>(available),
                                                                    static_cast<unsigned long long>(needed)));
    } else if (available < 2) {
        return status.Fail(RasterLoadError::kTruncated, "the file ends before its pixels");
    }

    FIBITMAP* bitmap = nullptr;
    if (h.bits == 16 && is555)
        bitmap = FreeImage_Allocate(static_cast<int>(h.width), static_cast<int>(h.height), 16, kMask555Red,
                                    kMask555Green, kMask555Blue);
    else
        bitmap = AllocateRaster(h.width, h.height, outBits, status);
    if (!bitmap)
        return status.error != RasterLoadError::kNone ? nullptr : status.Fail(RasterLoadError::kTooLarge, "no memory");
    const double dpm[2] = {static_cast<double>(std::max(h.xDpm, 0)), static_cast<double>(std::max(h.yDpm, 0))};
    FreeImage_SetDotsPerMeterX(bitmap, static_cast<unsigned>(dpm[0]));
    FreeImage_SetDotsPerMeterY(bitmap, static_cast<unsigned>(dpm[1]));
    if (h.bits <= 8)
        CopyPalette(data, h, bitmap);

    if (rle) {
        if (!DecodeRle(data, size, h, bitmap, status)) {
            FreeImage_Unload(bitmap);
            return nullptr;
        }
        return bitmap;
    }
    if (h.bits <= 24 && (h.bits != 16 || is555)) {
        const std::size_t rowBytes = static_cast<std::size_t>((h.width * h.bits + 7) / 8);
        const int height = static_cast<int>(h.height);
        const int chunk = static_cast<int>(std::max<std::uint64_t>(kMinCopyBandRows, kReleaseBytes / stride));
        for (int top = 0; top < height; top += chunk) {
            const int rows = std::min(chunk, height - top);
            ForEachRowBand(rows, kMinCopyBandRows, [&](int, int y0, int y1) {
                for (std::int64_t row = top + y0; row < top + y1; ++row)
                    std::memcpy(ScanLine(bitmap, h, row), data + h.pixelsAt + row * stride, rowBytes);
            });
            // The chunk's rows are read for good, in file order.
            const std::uint64_t from = static_cast<std::uint64_t>(top) * stride;
            const std::uint64_t to =
                std::min<std::uint64_t>(static_cast<std::uint64_t>(top + rows) * stride, available);
            status.ReleaseRead(data + h.pixelsAt + from, static_cast<std::size_t>(to - from));
        }
        return bitmap;
    }
    if (h.bits == 32 && is8888) {
        for (std::int64_t row = 0; row < h.height; ++row)
            std::memcpy(ScanLine(bitmap, h, row), data + h.pixelsAt + row * stride,
                        static_cast<std::size_t>(h.width) * 4);
        if (h.masks[3])
            ComposeOverWhite(bitmap);
        return bitmap;
    }
    DecodeMasked(data, h, stride, bitmap, outBits == 32);
    if (outBits == 32)
        ComposeOverWhite(bitmap);
    return bitmap;
}
