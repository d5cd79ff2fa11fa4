// PCX files: 1 bit in one to four planes and 4 bits in one plane (colours
// from the header's 16-entry table), 8 bits in one plane (with the
// 256-colour table at the end of the file, or grey without it), and 8 bits
// in three planes (red, green, blue) or four (and alpha), each row stored
// plane after plane, run-length coded or not.
//
// 1 and 4-bit pixels become 1 or 4-bit images, four 1-bit planes become
// 4-bit indices, three planes 24 bits and four planes 32 bits with the alpha
// composed over white.
#include "raster/freeimage_api.h"

#include "raster/raster_decoders.h"

#include "platform/number_text.h"
#include "raster/pixel_format.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kHeaderBytes = 128;
constexpr BYTE kManufacturer = 0x0A;
constexpr std::size_t kHeaderPaletteAt = 16;
constexpr std::size_t kEndPaletteBytes = 769;  // marker 0x0C and 256 entries
constexpr BYTE kEndPaletteMarker = 0x0C;
constexpr unsigned kVersionWithPalette = 5;
constexpr BYTE kRunFlag = 0xC0;
// A run is two bytes for up to 63 bytes of a row.
constexpr double kMaxBytesPerCodedByte = 63.0 / 2.0;

struct CPcxHeader {
    unsigned version = 0, encoding = 0, bits = 0, planes = 0;
    std::int64_t width = 0, height = 0;
    std::size_t lineBytes = 0;
    unsigned xDpi = 0, yDpi = 0;
};

FIBITMAP* ReadHeader(const BYTE* data, std::size_t size, CPcxHeader& h, CDecodeStatus& status)
{
    if (size < 1 || data[0] != kManufacturer)
        return status.Fail(RasterLoadError::kDecodeFailed, "no PCX signature");
    if (size < kHeaderBytes)
        return status.Fail(RasterLoadError::kTruncated, "the file ends inside its header");
    h.version = data[1];
    h.encoding = data[2];
    h.bits = data[3];
    h.width = std::int64_t{ReadLe16(data + 8)} - ReadLe16(data + 4) + 1;
    h.height = std::int64_t{ReadLe16(data + 10)} - ReadLe16(data + 6) + 1;
    h.xDpi = ReadLe16(data + 12);
    h.yDpi = ReadLe16(data + 14);
    h.planes = data[65];
    h.lineBytes = ReadLe16(data + 66);
    if (h.encoding > 1)
        return status.Fail(RasterLoadError::kDecodeFailed, FormatC("encoding %u", h.encoding));
    bool valid = (h.bits == 1 && h.planes >= 1 && h.planes <= 4) || (h.bits == 4 && h.planes == 1) ||
                 (h.bits == 8 && (h.planes == 1 || h.planes == 3 || h.planes == 4));
    if (!valid)
        return status.Fail(RasterLoadError::kUnsupportedLayout, FormatC("%u planes of %u bits", h.planes, h.bits));
    if (h.width <= 0 || h.height <= 0)
        return status.Fail(RasterLoadError::kDecodeFailed, "the header declares an empty image");
    return nullptr;
}

unsigned OutputBits(const CPcxHeader& h)
{
    if (h.bits == 8)
        return h.planes * 8;
    return h.planes == 1 && h.bits == 1 ? 1 : 4;
}

// The header's table for 1 and 4-bit images. A one-bit file whose two
// entries are alike (many writers leave the table empty) is black on white.
void HeaderPalette(const BYTE* data, const CPcxHeader& h, RGBQUAD* palette, unsigned entries)
{
    const BYTE* t = data + kHeaderPaletteAt;
    for (unsigned i = 0; i < entries; ++i) {
        palette[i].rgbRed = t[3 * i];
        palette[i].rgbGreen = t[3 * i + 1];
        palette[i].rgbBlue = t[3 * i + 2];
        palette[i].rgbReserved = 0;
    }
    if (h.bits == 1 && h.planes == 1 && std::memcmp(t, t + 3, 3) == 0) {
        palette[0] = RGBQUAD{0, 0, 0, 0};
        palette[1] = RGBQUAD{255, 255, 255, 0};
    }
}

// Fills the next count bytes of decoded rows; false when the file ends first.
class CRunReader {
public:
    CRunReader(const BYTE* data, std::size_t end, bool coded) : m_data(data), m_end(end), m_coded(coded) {}

    bool Read(BYTE* out, std::size_t count)
    {
        while (count > 0) {
            if (m_repeat == 0) {
                if (m_at >= m_end)
                    return false;
                BYTE b = m_data[m_at++];
                if (m_coded && (b & kRunFlag) == kRunFlag) {
                    if (m_at >= m_end)
                        return false;
                    m_repeat = b & ~kRunFlag;
                    m_value = m_data[m_at++];
                } else {
                    m_repeat = 1;
                    m_value = b;
                }
                continue;
            }
            std::size_t n = std::min<std::size_t>(m_repeat, count);
            std::memset(out, m_value, n);
            out += n;
            count -= n;
            m_repeat -= static_cast<unsigned>(n);
        }
        return true;
    }

private:
    const BYTE* m_data;
    std::size_t m_end;
    bool m_coded;
    std::size_t m_at = kHeaderBytes;
    unsigned m_repeat = 0;
    BYTE m_value = 0;
};

// One decoded row (its planes one after another) into a scan line.
void StoreRow(const CPcxHeader& h, const BYTE* line, BYTE* out)
{
    const std::size_t w = static_cast<std::size_t>(h.width);
    if (h.bits == 8 && h.planes == 1) {
        std::memcpy(out, line, w);
    } else if (h.bits == 8) {
        for (std::size_t x = 0; x < w; ++x) {
            BYTE* q = out + x * h.planes;
            q[2] = line[x];
            q[1] = line[h.lineBytes + x];
            q[0] = line[2 * h.lineBytes + x];
            if (h.planes == 4)
                q[3] = line[3 * h.lineBytes + x];
        }
    } else if (h.planes == 1) {
        std::memcpy(out, line, (w * h.bits + 7) / 8);
    } else {
        std::memset(out, 0, (w + 1) / 2);
        for (std::size_t x = 0; x < w; ++x) {
            unsigned index = 0;
            for (unsigned p = 0; p < h.planes; ++p)
                index |= ((line[p * h.lineBytes + x / 8] >> (7 - x % 8)) & 1u) << p;
            out[x / 2] |= static_cast<BYTE>(x % 2 ? index : index << 4);
        }
    }
}

}  // namespace

FIBITMAP* DecodePcx(const BYTE* data, std::size_t size, CDecodeStatus& status)
{
    CPcxHeader h;
    (void)ReadHeader(data, size, h, status);
    if (status.error != RasterLoadError::kNone)
        return nullptr;
    const unsigned outBits = OutputBits(h);
    std::string why;
    RasterLoadError declared = CheckRasterSize(h.width, h.height, std::max(outBits, h.bits * h.planes), &why);
    if (declared != RasterLoadError::kNone)
        return status.Fail(declared, why);

    if (static_cast<std::uint64_t>(h.lineBytes) * 8 < static_cast<std::uint64_t>(h.width) * h.bits)
        return status.Fail(RasterLoadError::kDecodeFailed, "rows shorter than the image is wide");
    std::size_t end = size;
    const bool endPalette = h.bits == 8 && h.planes == 1 && size >= kHeaderBytes + kEndPaletteBytes &&
                            data[size - kEndPaletteBytes] == kEndPaletteMarker;
    if (endPalette)
        end -= kEndPaletteBytes;
    else if (h.bits == 8 && h.planes == 1 && h.version >= kVersionWithPalette)
        return status.Fail(RasterLoadError::kTruncated, "the colour table at the end of the file is missing");
    const std::uint64_t lineTotal = std::uint64_t{h.lineBytes} * h.planes;
    const std::uint64_t needed = lineTotal * static_cast<std::uint64_t>(h.height);
    const std::uint64_t present = end - kHeaderBytes;
    const double perByte = h.encoding ? kMaxBytesPerCodedByte : 1.0;
    if (static_cast<double>(present) * perByte < static_cast<double>(needed))
        return status.Fail(RasterLoadError::kTruncated,
                           FormatC("%llu bytes cannot hold %lld rows of %llu bytes",
                                   static_cast<unsigned long long>(present), static_cast<long long>(h.height),
                                   static_cast<unsigned long long>(lineTotal)));

    FIBITMAP* bitmap = AllocateRaster(h.width, h.height, outBits, status);
    if (!bitmap)
        return nullptr;
    auto line = TryAllocate<BYTE>(lineTotal);
    if (!line) {
        FreeImage_Unload(bitmap);
        return status.Fail(RasterLoadError::kTooLarge, "no memory for a row");
    }
    FreeImage_SetDotsPerMeterX(bitmap, static_cast<unsigned>(h.xDpi / 0.0254 + 0.5));
    FreeImage_SetDotsPerMeterY(bitmap, static_cast<unsigned>(h.yDpi / 0.0254 + 0.5));
    if (outBits <= 8) {
        RGBQUAD* palette = FreeImage_GetPalette(bitmap);
        if (outBits < 8) {
            HeaderPalette(data, h, palette, 1u << outBits);
        } else {
            for (unsigned i = 0; i < 256; ++i) {
                const BYTE* e = data + size - kEndPaletteBytes + 1 + 3 * i;
                BYTE grey = static_cast<BYTE>(i);
                palette[i] = endPalette ? RGBQUAD{e[2], e[1], e[0], 0} : RGBQUAD{grey, grey, grey, 0};
            }
        }
    }
    CRunReader runs(data, end, h.encoding == 1);
    for (std::int64_t row = 0; row < h.height; ++row) {
        if (!runs.Read(line.get(), lineTotal)) {
            FreeImage_Unload(bitmap);
            return status.Fail(RasterLoadError::kTruncated,
                               FormatC("the file ends in row %lld of %lld", static_cast<long long>(row + 1),
                                       static_cast<long long>(h.height)));
        }
        StoreRow(h, line.get(), FreeImage_GetScanLine(bitmap, static_cast<int>(h.height - 1 - row)));
    }
    if (outBits == 32)
        ComposeOverWhite(bitmap);
    return bitmap;
}
