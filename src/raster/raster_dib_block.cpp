// Packed DIBs handed over by drivers (scanners, the clipboard): the block is
// outside data, so every size and count is checked against its length before
// a bitmap is built from it.
#include "raster/freeimage_api.h"

#include "raster/raster_src.h"

#include "model/text_table.h"
#include "platform/message_box.h"
#include "raster/pixel_math.h"
#include "raster/raster_layout.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

constexpr DWORD kInfoHeaderSize = 40;
constexpr DWORD kV4HeaderSize = 108;
constexpr DWORD kV5HeaderSize = 124;
constexpr std::size_t kMaskBytes = 3 * sizeof(DWORD);

struct DibLayout {
    BITMAPINFOHEADER header;
    int width;
    int height;  // rows, always positive
    bool topDown;
    DWORD masks[3];
    std::uint64_t colours;        // entries in the colour table
    std::uint64_t paletteOffset;  // from the start of the block
    std::uint64_t bitsOffset;
    std::uint64_t rowBytes;
};

DWORD ReadDword(const BYTE* p)
{
    DWORD v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

bool AcceptedMasks(int bitCount, const DWORD* masks)
{
    if (bitCount == 16)
        return masks[1] == FI16_555_GREEN_MASK
                   ? masks[0] == FI16_555_RED_MASK && masks[2] == FI16_555_BLUE_MASK
                   : masks[0] == FI16_565_RED_MASK && masks[1] == FI16_565_GREEN_MASK && masks[2] == FI16_565_BLUE_MASK;
    return bitCount == 32 && masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 && masks[2] == 0x000000FF;
}

bool CheckLayout(const BYTE* block, std::size_t length, DibLayout& layout)
{
    if (!block || length < kInfoHeaderSize)
        return false;
    BITMAPINFOHEADER& h = layout.header;
    std::memcpy(&h, block, sizeof h);
    if ((h.biSize != kInfoHeaderSize && h.biSize != kV4HeaderSize && h.biSize != kV5HeaderSize) || h.biSize > length ||
        h.biPlanes != 1)
        return false;
    int bits = h.biBitCount;
    if (PixelsToBytes(8, bits) == 0)
        return false;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT_MIN)
        return false;
    layout.width = h.biWidth;
    layout.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    layout.topDown = h.biHeight < 0;

    std::uint64_t offset = h.biSize;
    if (h.biCompression == BI_RGB) {
        layout.masks[0] = bits == 16 ? FI16_555_RED_MASK : 0;
        layout.masks[1] = bits == 16 ? FI16_555_GREEN_MASK : 0;
        layout.masks[2] = bits == 16 ? FI16_555_BLUE_MASK : 0;
    } else if (h.biCompression == BI_BITFIELDS && (bits == 16 || bits == 32)) {
        // The masks follow a 40-byte header and sit inside the longer ones.
        if (h.biSize == kInfoHeaderSize) {
            if (length < offset + kMaskBytes)
                return false;
            offset += kMaskBytes;
        }
        for (int i = 0; i < 3; ++i)
            layout.masks[i] = ReadDword(block + kInfoHeaderSize + i * sizeof(DWORD));
        if (!AcceptedMasks(bits, layout.masks))
            return false;
    } else {
        return false;
    }

    std::uint64_t tableSize = bits <= 8 ? (1u << bits) : 0;
    layout.colours = h.biClrUsed ? h.biClrUsed : tableSize;
    if (bits <= 8 && layout.colours > tableSize)
        return false;
    layout.paletteOffset = offset;
    layout.bitsOffset = offset + layout.colours * sizeof(RGBQUAD);
    layout.rowBytes = static_cast<std::uint64_t>(AlignedRowBytes(bits, layout.width));
    std::uint64_t imageBytes = layout.rowBytes * static_cast<std::uint64_t>(layout.height);
    return layout.bitsOffset <= length && imageBytes <= length - layout.bitsOffset;
}

FIBITMAP* BuildBitmap(const BYTE* block, const DibLayout& layout)
{
    int bits = layout.header.biBitCount;
    FIBITMAP* bitmap =
        FreeImage_Allocate(layout.width, layout.height, bits, layout.masks[0], layout.masks[1], layout.masks[2]);
    if (!bitmap)
        return nullptr;
    if (bits <= 8) {
        RGBQUAD* palette = FreeImage_GetPalette(bitmap);
        std::memset(palette, 0, sizeof(RGBQUAD) * (1u << bits));
        std::memcpy(palette, block + layout.paletteOffset, sizeof(RGBQUAD) * layout.colours);
    }
    size_t rowBytes = static_cast<size_t>(layout.rowBytes);
    for (int i = 0; i < layout.height; ++i) {
        int scanLine = layout.topDown ? layout.height - 1 - i : i;
        std::memcpy(FreeImage_GetScanLine(bitmap, scanLine), block + layout.bitsOffset + rowBytes * i, rowBytes);
    }
    FreeImage_SetDotsPerMeterX(bitmap, static_cast<unsigned>(std::max(0, layout.header.biXPelsPerMeter)));
    FreeImage_SetDotsPerMeterY(bitmap, static_cast<unsigned>(std::max(0, layout.header.biYPelsPerMeter)));
    return bitmap;
}

}  // namespace

bool CRasterSrc::AttachDIBHandle(const void* dib, std::size_t length)
{
    DibLayout layout{};
    if (!CheckLayout(static_cast<const BYTE*>(dib), length, layout)) {
        ShowMessageBox(GetLanString("CopyDIBError", "Copy DIB Error !!!"), "Lineweft", MB_OK | MB_ICONERROR);
        return false;
    }
    FIBITMAP* bitmap = BuildBitmap(static_cast<const BYTE*>(dib), layout);
    if (bitmap)
        bitmap = NormaliseRasterBitmap(bitmap);
    if (!bitmap) {
        ShowMessageBox(GetLanString("CloneDIBFail", "Clone DIB failed !"), "Lineweft", MB_OK | MB_ICONERROR);
        return false;
    }
    return ReplaceBitmap(bitmap);
}
