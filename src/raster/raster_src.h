#pragma once
// CRasterSrc: the working raster image. Every raster operation, the tracer and
// the display read and write pixels through it.
//
// It owns one image-library bitmap (header, colour table and bottom-up rows
// padded to 4 bytes) and keeps beside it a top-down table of row pointers, so
// row 0 is the top row of the picture and pixel access needs no library call.
//
// Pixel layouts held (x from the left):
//   1 bit   bit 0x80 >> (x & 7) of byte x >> 3; set = black, clear = white
//   4 bits  byte x >> 1, even x in the high nibble; palette index
//   8 bits  byte x; palette index
//   16 bits u16 5-5-5 (red in bits 10..14)
//   24 bits blue, green, red
//   32 bits blue, green, red, unused
// Invariants once a bitmap is attached: a 1-bit image has the palette
// {white, black}; images of 8 bits or fewer have a full colour table of
// 1 << bitCount entries; the background colour is white (the palette index
// nearest to white at 8 bits or fewer).
//
// Colours pass as bytes in the order blue, green, red. Not thread-safe: the
// trace thread works on the image while the user interface waits.
#include "platform/colorref.h"
#include "platform/dib_types.h"
#include "raster/raster_edit_settings.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

struct FIBITMAP;
enum class RasterLoadError : int;
class CLocalRasterUndoItem;
class CStrecthFilter;
class CUndoList;
struct CBrushSize;
struct CPoint;

// Progress of a long operation: (text, percent 0..100). May be null.
using RasterProgress = void (*)(const std::string& text, int percent);

// The resolution written into headers that claim 1 dot per inch or less.
constexpr LONG kDefaultDotsPerMetre = 7874;  // 200 dpi

// A header resolution of 1 dot per inch or less, which stands for none.
[[nodiscard]] bool IsMissingResolution(double dotsPerMetre);

class CRasterSrc {
public:
    CRasterSrc();
    virtual ~CRasterSrc();
    CRasterSrc(const CRasterSrc&) = delete;
    CRasterSrc& operator=(const CRasterSrc&) = delete;

    // --- life cycle (raster_src.cpp) ---
    void Free();
    // Forgets the bitmap without unloading it and returns it to the caller.
    [[nodiscard]] FIBITMAP* Detach();
    // Takes ownership of a library bitmap on success. On failure the image is
    // empty and the caller still owns the bitmap. Refuses layouts the table
    // above does not hold (see NormaliseRasterBitmap).
    [[nodiscard]] bool Attach(FIBITMAP* bitmap);
    [[nodiscard]] bool Create(int width, int height, int bitCount);
    [[nodiscard]] bool Copy(const CRasterSrc& other);
    [[nodiscard]] bool MoveTo(CRasterSrc& target);

    // --- rectangles (raster_rect.cpp) ---
    // Copies [x, x + w) x [y, y + h), clipped to the image, into target.
    [[nodiscard]] bool CopyRectTo(CRasterSrc& target, int x, int y, int w, int h) const;
    // Keeps [x1, x2) x [y1, y2), rows from the top; the rectangle must lie in
    // the image and must not be empty.
    [[nodiscard]] bool Crop(int x1, int y1, int x2, int y2);

    // --- files (raster_file.cpp) ---
    [[nodiscard]] bool Load(const std::string& fileName, int flags = 0, RasterLoadError* error = nullptr);
    // Writes BMP only (by the name's extension), through a temporary file.
    [[nodiscard]] bool SaveBMP(const std::string& fileName, int flag = 0) const;

    // --- packed DIB from a driver (raster_dib_block.cpp) ---
    // Builds the image from a packed DIB of length bytes after checking every
    // size and count against the block; the image is kept on failure.
    [[nodiscard]] bool AttachDIBHandle(const void* dib, std::size_t length);

    // --- pixel access (raster_src.cpp) ---
    bool GetPixelColor(int x, int y, BYTE* bgr) const;  // false outside
    bool SetPixelColor(int x, int y, const BYTE* bgr);  // below 16 bits red is the raw value
    // Without bounds test: callers stay inside the image.
    void GetPixelRGB(int x, int y, BYTE& red, BYTE& green, BYTE& blue) const;
    void GetPixelBGR(int x, int y, BYTE* bgr) const;
    void SetPixelRGB(int x, int y, BYTE red, BYTE green, BYTE blue);
    int GetPixelIndex(int x, int y) const;  // 1, 4 and 8 bits; 0 otherwise
    void SetPixelIndex(int x, int y, int value);
    void SetPixelBit(int x, int y, bool on);
    // One byte (0 or 1) per pixel of a 1-bit row, the whole width.
    [[nodiscard]] bool UnpackRow(int row, BYTE* bytes) const;
    // Writes the pattern value into every byte of every 1-bit row, the last
    // partial byte included; padding bits past the width are cleared.
    void FillBytes(BYTE value);

    // --- palette, background, resolution (raster_src.cpp) ---
    unsigned GetColorsUsed() const;
    unsigned GetDIBSize() const;
    [[nodiscard]] bool SetPaletteEntry(int index, const BYTE* bgr);
    void SetPaletteGrey(int index, BYTE grey);
    bool IsGreyRamp() const;
    void SetGreyRamp();
    int FindNearestPaletteIndex(const BYTE* bgr) const;
    void InitBackgroundColor();
    DWORD GetBackgroundColor() const;
    // The horizontal resolution; a header of 1 dpi or less gets 200 dpi.
    [[nodiscard]] bool GetResolution(LONG& dotsPerMetre);
    [[nodiscard]] bool SetResolution(LONG dotsPerMetre);

    // --- threshold and depth conversion (threshold.cpp, histogram.cpp) ---
    [[nodiscard]] bool ConvertTo1Bit(BYTE threshold, RasterProgress progress = nullptr);
    BYTE GetAutoThreshold();
    void ComputeHistogram(BYTE* bins, RasterProgress progress = nullptr);
    // Threshold per box x box tile at factor x the tile's mean grey; box >= 1.
    [[nodiscard]] bool SmartThreshold(int box, float factor, RasterProgress progress = nullptr);
    [[nodiscard]] bool ThresholdRect(CRasterSrc& target, int x, int y, int w, int h, BYTE threshold) const;
    [[nodiscard]] bool ThresholdScaledRect(CRasterSrc& target, int x, int y, int w, int h, double scale,
                                           BYTE threshold) const;
    [[nodiscard]] bool ConvertToGrey8();

    // --- resampling (resample.cpp) ---
    // Scales the image to newWidth x newHeight (1 to 1000000 each) through
    // the kernel; images of 8 bits or fewer come back as 8-bit grey. The
    // new image is built beside this one, so on failure nothing has changed.
    // A resolution of 0 or less keeps the present one.
    [[nodiscard]] bool Resample(int newWidth, int newHeight, LONG dotsPerMetre, const CStrecthFilter& kernel,
                                RasterProgress progress = nullptr);

    // --- editing by brush, window and polygon (raster_edit.cpp) ---
    // What the next edit paints: erase with the background colour, or fill
    // with the given colour (blue, green, red, palette index); null leaves a
    // setting as it is.
    void SetEraseMode(const char* undoName = nullptr, const CBrushSize* brush = nullptr);
    void SetFillMode(const char* undoName = nullptr, const BYTE* colour = nullptr, const CBrushSize* brush = nullptr);
    // A brush stroke: BeginErase starts it at a pixel, EraseTo paints the
    // brush along the way to the next, EndErase puts it on the undo list.
    [[nodiscard]] bool BeginErase(int x, int y);
    bool EraseTo(int x, int y);
    bool EndErase(CUndoList* undoList);
    CLocalRasterUndoItem* GetLocalUndoItem() const { return m_localUndo.get(); }
    // Fills the polygon with a palette index (8 bits or fewer; at 1 bit any
    // non-zero value is black) or a COLORREF; the undo record goes on the
    // list. False, nothing changed and nothing pushed, when there is nothing
    // to fill or memory is short.
    [[nodiscard]] bool FillPolygon(CUndoList* undoList, std::span<const CPoint> points, DWORD colour,
                                   const CPoint* offset = nullptr);

    // --- state ---
    bool IsEmpty() const { return m_bitmap == nullptr; }
    FIBITMAP* GetBitmap() const { return m_bitmap; }
    BITMAPINFOHEADER* GetHeader() const { return m_header; }
    BYTE* GetBits() const { return m_bits; }
    RGBQUAD* GetPalette() const { return m_palette; }
    int GetBitCount() const { return m_bitCount; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    // Row y from the top; y must lie in the image.
    BYTE* GetRow(int y) const { return m_rows[y]; }
    // Stored bytes of a row, padding included.
    std::size_t GetRowBytes() const;

    BYTE GetReservedFlag() const { return m_reserved; }
    void SetReservedFlag(BYTE value) { m_reserved = value; }
    BYTE GetPaletteDimmed() const { return m_paletteDimmed; }
    void SetPaletteDimmed(BYTE value) { m_paletteDimmed = value; }
    bool IsMoreThan1Bit() const { return m_moreThan1Bit != 0; }
    const BYTE* GetBackground() const { return m_background; }
    bool IsHistogramValid() const { return m_histogramValid != 0; }
    // After pixels changed in place: the histogram is counted again when next
    // wanted. The bitmap, and a brush stroke under way, stay as they are.
    void InvalidateHistogram() { m_histogramValid = 0; }
    const BYTE* GetDisplayHistogram() const { return m_histogram; }

    CRasterEditSettings& GetEditSettings() { return m_editSettings; }
    const CRasterEditSettings& GetEditSettings() const { return m_editSettings; }
    void GetLastBrushPoint(int& x, int& y) const
    {
        x = m_lastBrushX;
        y = m_lastBrushY;
    }
    void SetLastBrushPoint(int x, int y)
    {
        m_lastBrushX = x;
        m_lastBrushY = y;
    }

    static constexpr int kHistogramBins = 256;
    static constexpr BYTE kHistogramTop = 80;  // the largest display bin

private:
    void ClearState();
    void CopyResolutionTo(CRasterSrc& target) const;
    // Replaces the bitmap by a new one made here, as Attach does, but keeps
    // the old picture and unloads the new bitmap when it cannot be held.
    [[nodiscard]] bool ReplaceBitmap(FIBITMAP* bitmap);
    void Install(FIBITMAP* bitmap, std::unique_ptr<BYTE*[]> rows);

    int m_lastBrushX = 0;
    int m_lastBrushY = 0;
    FIBITMAP* m_bitmap = nullptr;
    BITMAPINFOHEADER* m_header = nullptr;
    BYTE* m_bits = nullptr;
    RGBQUAD* m_palette = nullptr;
    BYTE m_bitCount = 1;
    std::unique_ptr<BYTE*[]> m_rows;
    BYTE m_reserved = 0;
    BYTE m_paletteDimmed = 0;
    BYTE m_moreThan1Bit = 0;
    int m_width = 0;
    int m_height = 0;
    BYTE m_background[4] = {};  // blue, green, red, palette index
    BYTE m_histogram[kHistogramBins] = {};
    BYTE m_histogramValid = 0;
    CRasterEditSettings m_editSettings;
    std::unique_ptr<CLocalRasterUndoItem> m_localUndo;  // the brush stroke under way
};

// The automatic threshold of a display histogram (256 bins, top 80): the
// level below the paper's peak where a flat valley or the foreground's peak
// begins; 0 when there is none.
BYTE AutoThresholdFromHistogram(const BYTE* bins);
// The display histogram of 256 grey-level counts: the largest bin is
// kHistogramTop, the others in proportion, truncated.
void ScaleHistogram(const std::uint64_t* counts, BYTE* bins);
// The automatic threshold of 256 grey-level counts, through their display
// histogram.
BYTE AutoThresholdFromCounts(const std::uint64_t* counts);

// Shows the raster code's allocation failure message.
void ShowNoMemoryMessage();

// A new library bitmap of the given depth with the layout CRasterSrc holds: a
// 1-bit bitmap gets the palette {white, black} so that it is blank, not black;
// 16 bits are 5-5-5. Null when the size is not positive or memory is short.
[[nodiscard]] FIBITMAP* AllocateRasterBitmap(int width, int height, int bitCount);
