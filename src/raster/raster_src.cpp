#include "raster/freeimage_api.h"

#include "raster/raster_src.h"

#include "model/text_table.h"
#include "model/undo.h"
#include "platform/message_box.h"
#include "raster/packed_bits.h"
#include "raster/pixel_format.h"
#include "raster/pixel_math.h"
#include "raster/raster_layout.h"

#include <cstring>
#include <new>

namespace {

constexpr BYTE kWhite[3] = {255, 255, 255};
constexpr double kCentimetresPerInch = 2.54;
constexpr double kMinimumDotsPerInch = 1.0;

void SetEntry(RGBQUAD& entry, BYTE blue, BYTE green, BYTE red)
{
    entry.rgbBlue = blue;
    entry.rgbGreen = green;
    entry.rgbRed = red;
    entry.rgbReserved = 0;
}

// Row pointers of a bitmap, top row first; null when memory is short.
std::unique_ptr<BYTE* []> MakeRowTable(FIBITMAP* bitmap) {
    int height = static_cast<int>(FreeImage_GetHeight(bitmap));
    std::unique_ptr<BYTE*[]> rows(new (std::nothrow) BYTE*[static_cast<size_t>(height)]);
    if (rows) {
        for (int i = 0; i < height; ++i)
            rows[static_cast<size_t>(height - 1 - i)] = FreeImage_GetScanLine(bitmap, i);
    }
    return rows;
}

}  // namespace

void ShowNoMemoryMessage()
{
    ShowMessageBox(GetLanString("NoMemoryMsg", "Not enough memory to perform operation !"), "Lineweft",
                   MB_OK | MB_ICONERROR);
}

FIBITMAP* AllocateRasterBitmap(int width, int height, int bitCount)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    FIBITMAP* bitmap = nullptr;
    switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 24:
    case 32: bitmap = FreeImage_Allocate(width, height, bitCount); break;
    case 16:
        bitmap = FreeImage_Allocate(width, height, 16, FI16_555_RED_MASK, FI16_555_GREEN_MASK, FI16_555_BLUE_MASK);
        break;
    default: return nullptr;
    }
    if (bitmap && bitCount == 1) {
        // The library starts 1-bit bitmaps as {black, white}; attached that
        // way the zero bits would be inverted into a black page.
        RGBQUAD* palette = FreeImage_GetPalette(bitmap);
        SetEntry(palette[0], 255, 255, 255);
        SetEntry(palette[1], 0, 0, 0);
    }
    return bitmap;
}

CRasterSrc::CRasterSrc() = default;

CRasterSrc::~CRasterSrc() { Free(); }

void CRasterSrc::ClearState()
{
    m_bitmap = nullptr;
    m_header = nullptr;
    m_bits = nullptr;
    m_palette = nullptr;
    m_rows.reset();
    m_localUndo.reset();
    m_width = 0;
    m_height = 0;
    m_reserved = 0;
    m_paletteDimmed = 0;
    m_moreThan1Bit = 0;
    m_histogramValid = 0;
}

void CRasterSrc::Free()
{
    if (m_bitmap)
        FreeImage_Unload(m_bitmap);
    ClearState();
}

FIBITMAP* CRasterSrc::Detach()
{
    FIBITMAP* bitmap = m_bitmap;
    ClearState();
    return bitmap;
}

bool CRasterSrc::Attach(FIBITMAP* bitmap)
{
    Free();
    if (!IsHeldRasterLayout(bitmap))
        return false;
    std::unique_ptr<BYTE*[]> rows = MakeRowTable(bitmap);
    if (!rows) {
        ShowNoMemoryMessage();
        return false;
    }
    Install(bitmap, std::move(rows));
    return true;
}

bool CRasterSrc::ReplaceBitmap(FIBITMAP* bitmap)
{
    // Everything that can fail happens before the old picture is let go.
    if (!IsHeldRasterLayout(bitmap)) {
        if (bitmap)
            FreeImage_Unload(bitmap);
        return false;
    }
    std::unique_ptr<BYTE*[]> rows = MakeRowTable(bitmap);
    if (!rows) {
        FreeImage_Unload(bitmap);
        ShowNoMemoryMessage();
        return false;
    }
    Free();
    Install(bitmap, std::move(rows));
    return true;
}

void CRasterSrc::Install(FIBITMAP* bitmap, std::unique_ptr<BYTE*[]> rows)
{
    m_bitmap = bitmap;
    m_header = FreeImage_GetInfoHeader(bitmap);
    m_bits = FreeImage_GetBits(bitmap);
    m_palette = FreeImage_GetBPP(bitmap) <= 8 ? FreeImage_GetPalette(bitmap) : nullptr;
    m_bitCount = static_cast<BYTE>(FreeImage_GetBPP(bitmap));
    m_width = static_cast<int>(FreeImage_GetWidth(bitmap));
    m_height = static_cast<int>(FreeImage_GetHeight(bitmap));
    m_rows = std::move(rows);
    m_moreThan1Bit = m_bitCount > 1;
    m_reserved = 0;
    m_histogramValid = 0;
    if (m_bitCount == 1) {
        // A set bit is black throughout; a file whose entry 0 is dark has its
        // bits inverted so the picture stays the same.
        SetEntry(m_palette[1], 0, 0, 0);
        const RGBQUAD& zero = m_palette[0];
        if (zero.rgbBlue < 255 || zero.rgbGreen < 255 || zero.rgbRed < 255) {
            SetEntry(m_palette[0], 255, 255, 255);
            size_t bytes = GetRowBytes();
            for (int y = 0; y < m_height; ++y) {
                BYTE* row = m_rows[static_cast<size_t>(y)];
                for (size_t i = 0; i < bytes; ++i)
                    row[i] = static_cast<BYTE>(~row[i]);
            }
        }
        m_background[0] = m_background[1] = m_background[2] = 255;
        m_background[3] = 0;
    } else {
        InitBackgroundColor();
    }
}

bool CRasterSrc::Create(int width, int height, int bitCount)
{
    if (width <= 0 || height <= 0 || PixelsToBytes(8, bitCount) == 0)
        return false;
    FIBITMAP* bitmap = AllocateRasterBitmap(width, height, bitCount);
    if (!bitmap) {
        ShowNoMemoryMessage();
        return false;
    }
    if (!Attach(bitmap)) {
        FreeImage_Unload(bitmap);
        return false;
    }
    return true;
}

bool CRasterSrc::Copy(const CRasterSrc& other)
{
    if (&other == this)
        return true;
    if (!other.m_bitmap)
        return false;
    // Clone before letting go of the current picture, so a failed clone
    // loses nothing.
    FIBITMAP* clone = FreeImage_Clone(other.m_bitmap);
    if (!clone || !ReplaceBitmap(clone))
        return false;
    // Attach normalises a 1-bit palette; a copy keeps a dimmed entry as it was.
    if (m_palette && other.m_palette)
        std::memcpy(m_palette, other.m_palette, sizeof(RGBQUAD) * GetColorsUsed());
    m_reserved = other.m_reserved;
    m_paletteDimmed = other.m_paletteDimmed;
    m_moreThan1Bit = other.m_moreThan1Bit;
    m_histogramValid = other.m_histogramValid;
    if (m_histogramValid)
        std::memcpy(m_histogram, other.m_histogram, sizeof m_histogram);
    return true;
}

bool CRasterSrc::MoveTo(CRasterSrc& target)
{
    if (!m_bitmap)
        return false;
    if (&target == this)
        return true;
    target.Free();
    target.m_lastBrushX = m_lastBrushX;
    target.m_lastBrushY = m_lastBrushY;
    target.m_bitmap = m_bitmap;
    target.m_header = m_header;
    target.m_bits = m_bits;
    target.m_palette = m_palette;
    target.m_bitCount = m_bitCount;
    target.m_rows = std::move(m_rows);
    target.m_reserved = m_reserved;
    target.m_paletteDimmed = m_paletteDimmed;
    target.m_moreThan1Bit = m_moreThan1Bit;
    target.m_width = m_width;
    target.m_height = m_height;
    std::memcpy(target.m_background, m_background, sizeof m_background);
    std::memcpy(target.m_histogram, m_histogram, sizeof m_histogram);
    target.m_histogramValid = m_histogramValid;
    target.m_editSettings = m_editSettings;
    target.m_localUndo = std::move(m_localUndo);
    ClearState();
    return true;
}

std::size_t CRasterSrc::GetRowBytes() const { return m_bitmap ? FreeImage_GetPitch(m_bitmap) : 0; }

// ---------------------------------------------------------------- pixels --

bool CRasterSrc::GetPixelColor(int x, int y, BYTE* bgr) const
{
    if (!m_bitmap || x < 0 || y < 0 || x >= m_width || y >= m_height)
        return false;
    GetPixelBGR(x, y, bgr);
    return true;
}

bool CRasterSrc::SetPixelColor(int x, int y, const BYTE* bgr)
{
    if (!m_bitmap || x < 0 || y < 0 || x >= m_width || y >= m_height)
        return false;
    SetPixelRGB(x, y, bgr[2], bgr[1], bgr[0]);
    return true;
}

void CRasterSrc::GetPixelBGR(int x, int y, BYTE* bgr) const
{
    const BYTE* row = m_rows[static_cast<size_t>(y)];
    switch (m_bitCount) {
    case 1: {
        BYTE v = TestPixel(row, x) ? 0 : 255;
        bgr[0] = bgr[1] = bgr[2] = v;
        return;
    }
    case 4:
    case 8: {
        const RGBQUAD& entry = m_palette[GetPixelIndex(x, y)];
        bgr[0] = entry.rgbBlue;
        bgr[1] = entry.rgbGreen;
        bgr[2] = entry.rgbRed;
        return;
    }
    case 16: {
        WORD v = Load555(row, x);
        bgr[0] = Blue555(v);
        bgr[1] = Green555(v);
        bgr[2] = Red555(v);
        return;
    }
    case 24:
    case 32: {
        const BYTE* p = row + static_cast<size_t>(x) * (m_bitCount / 8);
        bgr[0] = p[0];
        bgr[1] = p[1];
        bgr[2] = p[2];
        return;
    }
    default: return;
    }
}

void CRasterSrc::GetPixelRGB(int x, int y, BYTE& red, BYTE& green, BYTE& blue) const
{
    BYTE bgr[3] = {};
    GetPixelBGR(x, y, bgr);
    blue = bgr[0];
    green = bgr[1];
    red = bgr[2];
}

void CRasterSrc::SetPixelRGB(int x, int y, BYTE red, BYTE green, BYTE blue)
{
    BYTE* row = m_rows[static_cast<size_t>(y)];
    switch (m_bitCount) {
    case 1:
    case 4:
    case 8: SetPixelIndex(x, y, red); return;
    case 16: Store555(row, x, Pack555(red, green, blue)); return;
    case 24: {
        BYTE* p = row + static_cast<size_t>(x) * 3;
        p[0] = blue;
        p[1] = green;
        p[2] = red;
        return;
    }
    case 32: {
        BYTE* p = row + static_cast<size_t>(x) * 4;
        p[0] = blue;
        p[1] = green;
        p[2] = red;
        p[3] = 0;
        return;
    }
    default: return;
    }
}

int CRasterSrc::GetPixelIndex(int x, int y) const
{
    const BYTE* row = m_rows[static_cast<size_t>(y)];
    switch (m_bitCount) {
    case 1: return TestPixel(row, x) ? 1 : 0;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    case 8: return row[x];
    default: return 0;
    }
}

void CRasterSrc::SetPixelIndex(int x, int y, int value)
{
    BYTE* row = m_rows[static_cast<size_t>(y)];
    switch (m_bitCount) {
    case 1: AssignPixel(row, x, value != 0); return;
    case 4: {
        BYTE& b = row[x >> 1];
        b = (x & 1) ? static_cast<BYTE>((b & 0xF0) | (value & 0x0F))
                    : static_cast<BYTE>((b & 0x0F) | ((value & 0x0F) << 4));
        return;
    }
    case 8: row[x] = static_cast<BYTE>(value); return;
    default: return;
    }
}

void CRasterSrc::SetPixelBit(int x, int y, bool on)
{
    if (m_bitCount == 1)
        AssignPixel(m_rows[static_cast<size_t>(y)], x, on);
}

bool CRasterSrc::UnpackRow(int row, BYTE* bytes) const
{
    if (!m_bitmap || m_bitCount != 1 || row < 0 || row >= m_height)
        return false;
    UnpackPixels(m_rows[static_cast<size_t>(row)], m_width, bytes);
    return true;
}

void CRasterSrc::FillBytes(BYTE value)
{
    if (!m_bitmap || m_bitCount != 1)
        return;
    int whole = m_width >> 3;
    for (int y = 0; y < m_height; ++y) {
        BYTE* row = m_rows[static_cast<size_t>(y)];
        std::memset(row, value, static_cast<size_t>(whole));
        if (m_width & 7)
            row[whole] = static_cast<BYTE>(value & LastByteMask(m_width));
    }
}

// ----------------------------------------------------- palette and header --

unsigned CRasterSrc::GetColorsUsed() const { return m_bitmap ? FreeImage_GetColorsUsed(m_bitmap) : 0; }

unsigned CRasterSrc::GetDIBSize() const { return m_bitmap ? FreeImage_GetDIBSize(m_bitmap) : 0; }

bool CRasterSrc::SetPaletteEntry(int index, const BYTE* bgr)
{
    if (!m_palette || index < 0 || static_cast<unsigned>(index) >= GetColorsUsed())
        return false;
    SetEntry(m_palette[index], bgr[0], bgr[1], bgr[2]);
    return true;
}

void CRasterSrc::SetPaletteGrey(int index, BYTE grey)
{
    if (!m_palette || index < 0 || static_cast<unsigned>(index) >= GetColorsUsed())
        return;
    SetEntry(m_palette[index], grey, grey, grey);
    m_paletteDimmed = 1;
}

bool CRasterSrc::IsGreyRamp() const
{
    if (!m_bitmap || m_bitCount != 8)
        return false;
    unsigned used = GetColorsUsed();
    for (unsigned i = 0; i < used && m_palette; ++i) {
        const RGBQUAD& entry = m_palette[i];
        if (entry.rgbBlue != i || entry.rgbGreen != i || entry.rgbRed != i)
            return false;
    }
    return true;
}

void CRasterSrc::SetGreyRamp()
{
    if (!m_palette || m_bitCount != 8)
        return;
    for (int i = 0; i < 256; ++i)
        SetEntry(m_palette[i], static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i));
}

int CRasterSrc::FindNearestPaletteIndex(const BYTE* bgr) const
{
    if (!m_palette)
        return -1;
    unsigned used = GetColorsUsed();
    int best = -1;
    int bestDistance = 0;
    for (unsigned i = 0; i < used; ++i) {
        const BYTE entry[3] = {m_palette[i].rgbBlue, m_palette[i].rgbGreen, m_palette[i].rgbRed};
        int distance = ColorDistance(entry, bgr);
        if (best < 0 || distance < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = distance;
            if (distance == 0)
                break;
        }
    }
    return best;
}

void CRasterSrc::InitBackgroundColor()
{
    m_background[0] = m_background[1] = m_background[2] = 255;
    m_background[3] = 255;
    if (m_bitmap && m_bitCount <= 8) {
        int index = m_bitCount == 1 ? 0 : FindNearestPaletteIndex(kWhite);
        m_background[3] = static_cast<BYTE>(index < 0 ? 0 : index);
    }
}

DWORD CRasterSrc::GetBackgroundColor() const
{
    if (m_bitCount <= 8)
        return m_background[3];
    return RGB(m_background[2], m_background[1], m_background[0]);
}

bool IsMissingResolution(double dotsPerMetre)
{
    return dotsPerMetre / 100.0 * kCentimetresPerInch <= kMinimumDotsPerInch;
}

bool CRasterSrc::GetResolution(LONG& dotsPerMetre)
{
    if (!m_header)
        return false;
    dotsPerMetre = m_header->biXPelsPerMeter;
    if (IsMissingResolution(dotsPerMetre)) {
        m_header->biXPelsPerMeter = kDefaultDotsPerMetre;
        m_header->biYPelsPerMeter = kDefaultDotsPerMetre;
        dotsPerMetre = kDefaultDotsPerMetre;
    }
    return true;
}

bool CRasterSrc::SetResolution(LONG dotsPerMetre)
{
    if (!m_header)
        return false;
    m_header->biXPelsPerMeter = dotsPerMetre;
    m_header->biYPelsPerMeter = dotsPerMetre;
    return true;
}

void CRasterSrc::CopyResolutionTo(CRasterSrc& target) const
{
    if (m_header && target.m_header) {
        target.m_header->biXPelsPerMeter = m_header->biXPelsPerMeter;
        target.m_header->biYPelsPerMeter = m_header->biYPelsPerMeter;
    }
}
