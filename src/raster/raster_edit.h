#pragma once
// Painting over the raster before tracing: a square brush along the mouse
// path, and windows and polygons filled or erased (the CRasterSrc members are
// declared in raster_src.h, the world front ends in raster_entity.h).
//
// Every edit keeps exactly the bytes it overwrote, in undo blocks that trade
// places with the image (CRasterUndoBlock): a brush stroke keeps one
// CRasterBuffer per brush position, a fill one CRasterScanBuffer of runs.
// Below 8 bits a block keeps the whole bytes its pixels lie in, but an edit
// changes only the pixels inside its rectangle or span. Blocks are allocated
// before the image is touched, so no edit stands without its undo.
#include "model/undo.h"
#include "raster/raster_edit_scan.h"
#include "raster/raster_src.h"

#include <cstddef>
#include <memory>
#include <vector>

struct CBrushSize {
    int halfWidth = CRasterEditSettings::kDefaultBrushHalfSize;
    int halfHeight = CRasterEditSettings::kDefaultBrushHalfSize;
};

// The largest brush half-size the settings take.
constexpr int kMaxBrushHalfSize = 1 << 16;

// Byte of a row holding pixel x (x >= 0), and bytes holding pixels [x, x + n).
std::size_t PixelByteOffset(int x, int bitCount);
std::size_t PixelSpanBytes(int x, int n, int bitCount);

// What an edit writes into each pixel, in the image's own layout.
class CFillPattern {
public:
    // From the edit settings' colour (blue, green, red, palette index):
    // below 16 bits only the index counts (at 1 bit non-zero is black).
    static CFillPattern FromSettings(int bitCount, const BYTE* colour);
    // From a palette index (8 bits or fewer; at 1 bit non-zero is black) or,
    // above, a COLORREF.
    static CFillPattern FromValue(int bitCount, DWORD colour);
    // Paints pixels [x, x + n) of a row given from the byte holding pixel x.
    void Paint(BYTE* bytes, int x, int n) const;

private:
    int m_bitCount = 8;
    BYTE m_bytes[4] = {};
};

// The saved pixels of one brush position: the rectangle [x, x + width) x
// [y, y + height) of the image, kept as the whole bytes it lies in.
class CRasterBuffer : public CRasterUndoBlock {
public:
    // Allocates the bytes; false when memory is short or the size is empty.
    [[nodiscard]] bool Create(int x, int y, int width, int height, int bitCount);
    std::size_t GetRowBytes() const { return PixelSpanBytes(m_x, m_width, m_bitCount); }
    std::size_t GetXOffsetBytes() const { return PixelByteOffset(m_x, m_bitCount); }
    // The edit itself: keeps the image bytes the rectangle covers, then
    // paints its pixels. The buffer must fit the image.
    void Apply(CRasterSrc& image, const CFillPattern& pattern);
    bool SwapWith(CRasterSrc& image) override;

    int GetX() const { return m_x; }
    int GetY() const { return m_y; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }

private:
    bool Fits(const CRasterSrc& image) const;

    int m_x = 0;
    int m_y = 0;
    int m_width = 0;
    int m_height = 0;
    int m_bitCount = 0;
    std::unique_ptr<BYTE[]> m_bytes;
};

// One span of a fill, with the image bytes it covers.
struct CRasterScanRun {
    int x = 0;
    int y = 0;
    int length = 0;  // pixels
    std::unique_ptr<BYTE[]> bytes;
};

// The saved runs of one fill. Runs of a row may share a byte below 8 bits,
// so each swap takes them in the opposite order to the one before.
class CRasterScanBuffer : public CRasterUndoBlock {
public:
    // One run per span, its bytes allocated; false, nothing kept, when memory
    // is short.
    [[nodiscard]] bool Prepare(const std::vector<CScanLine>& spans, int bitCount);
    std::size_t GetCount() const { return m_runs.size(); }
    const CRasterScanRun& GetRun(std::size_t i) const { return m_runs[i]; }
    // The fill itself: keeps the image bytes of each run in turn, then paints
    // its pixels. The runs must fit the image.
    void Apply(CRasterSrc& image, const CFillPattern& pattern);
    bool SwapWith(CRasterSrc& image) override;

private:
    bool Fits(const CRasterSrc& image) const;

    std::vector<CRasterScanRun> m_runs;
    int m_bitCount = 0;
    bool m_applied = false;  // the image shows the fill
};

// The centres a brush passes from one point to the next: the line's steps
// after the start up to the end included, kept to those whose brush of the
// given half sizes meets an image of width x height.
std::vector<CPoint> CollectBrushPoints(CPoint from, CPoint to, int halfWidth, int halfHeight, int width, int height);
