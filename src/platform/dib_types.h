#pragma once
// The device-independent bitmap records the raster code shares with the image
// library and with BMP files: a packed DIB is a BITMAPINFOHEADER, its colour
// table and bottom-up rows padded to 4 bytes. Colours are blue, green, red.
// Multi-byte fields are little-endian on every machine we build for.
#include "platform/win_types.h"

#include <cstdint>

using LONG = std::int32_t;

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct RGBTRIPLE {
    BYTE rgbtBlue;
    BYTE rgbtGreen;
    BYTE rgbtRed;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // positive: rows stored bottom-up
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// The old 12-byte header, still found at the start of some blocks.
struct BITMAPCOREHEADER {
    DWORD bcSize;
    WORD bcWidth;
    WORD bcHeight;
    WORD bcPlanes;
    WORD bcBitCount;
};

// biCompression values.
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;

// The BMP file header is 14 packed bytes: "BM", file size, two reserved
// words, offset of the bits. It is read and written field by field.
constexpr DWORD kBmpFileHeaderSize = 14;
constexpr WORD kBmpSignature = 0x4D42;  // "BM"

// The header of 32-bit rows without a colour table, bottom-up when height
// is positive: how pixel canvases hand their rows to a blit.
inline BITMAPINFO Make32BitInfo(LONG width, LONG height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(RGBTRIPLE) == 3);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPCOREHEADER) == 12);
