#pragma once
// CDib: a device-independent bitmap kept for display (the device's back
// buffer, the raster entity's scaled copy, image controls), not for image
// processing. It owns one packed DIB: a BITMAPINFOHEADER, the colour table
// and bottom-up rows padded to 4 bytes, in one block of memory.
//
// The free functions read a block the program made or checked: they trust
// its header. Blocks from files are checked by CDib::Read first.
#include "platform/colorref.h"
#include "platform/dib_types.h"
#include "platform/gdi_types.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

class CArchive;
class CBitmap;
class CDC;
class CPalette;

// An owned packed-DIB block: the stand-in for a global-memory handle.
class CDibHandle {
public:
    CDibHandle() = default;
    CDibHandle(CDibHandle&&) noexcept = default;
    CDibHandle& operator=(CDibHandle&&) noexcept = default;

    // A zeroed block; a null handle when size is 0 or memory is short.
    [[nodiscard]] static CDibHandle Allocate(std::size_t size);

    bool IsNull() const { return !m_data; }
    BYTE* Lock() { return m_data.get(); }
    const BYTE* Lock() const { return m_data.get(); }
    std::size_t GetSize() const { return m_size; }
    void Free();

private:
    std::unique_ptr<BYTE[]> m_data;
    std::size_t m_size = 0;
};

// A blank DIB of width x height. The depth is rounded up to 1, 4, 8 or 24;
// a request above 24 gives 4 bits. Only the header is written (biClrUsed 0,
// so the colour table has 1 << bits entries, all black). Null when a side is
// not positive or memory is short.
[[nodiscard]] CDibHandle CreateBlankDIB(int width, int height, int bitCount);

int DIBWidth(const BYTE* dib);  // core or info header
int DIBHeight(const BYTE* dib);
// biClrUsed when set, else 2, 16 or 256 for 1, 4 or 8 bits, else 0.
DWORD DIBNumColors(const BYTE* dib);
DWORD DIBPaletteSize(const BYTE* dib);   // bytes: 4 per entry, 3 for a core header
DWORD DIBBytesPerLine(const BYTE* dib);  // padded to 4 bytes
BYTE* FindDIBBits(BYTE* dib);            // behind the header and colour table
const BYTE* FindDIBBits(const BYTE* dib);

// ---- the drawing objects of a packed DIB (dib_display.cpp) ----------------

// A palette with one entry per colour of the block's table (RGBQUAD, or
// RGBTRIPLE after a core header), flags 0; null for a block without colours.
[[nodiscard]] std::unique_ptr<CPalette> CreateDIBPalette(const BYTE* dib);
// The same for an owned block; null also when the block is too short for its
// header and table.
[[nodiscard]] std::unique_ptr<CPalette> CreateDIBPaletteFromHandle(const CDibHandle& handle);
// A DIB section of the block's size, depth and colour table holding its
// picture. Null for a block that is not uncompressed, bottom-up and of a
// 40-byte header, or when memory is short.
[[nodiscard]] std::unique_ptr<CBitmap> DIBToDIBSection(const BYTE* dib);
// The same for an owned block; null also when its rows do not fit in it.
[[nodiscard]] std::unique_ptr<CBitmap> HandleToDIBSection(const CDibHandle& handle);
// The bitmap's pixels read back as a packed DIB of its depth and colour table
// (each pixel the nearest colour of the table below 16 bits); null when
// memory is short.
[[nodiscard]] CDibHandle BitmapToDIB(const CBitmap& bitmap);
// Copies the source rectangle of the bitmap onto the destination rectangle
// ({left, top, right, bottom}, right and bottom excluded) through the raster
// operation: BitBlt when both have the same size, else StretchBlt with
// COLORONCOLOR, the context's stretch mode restored afterwards. The palette
// (may be null) is the one the picture is meant for; a true-colour context
// needs none. False when nothing could be drawn.
bool DrawBitmap(CDC* dc, const RECT& destination, const CBitmap& bitmap, const RECT& source, const CPalette* palette,
                DWORD rop);

// The packed DIB is what is kept, written and read; beside it the DIB keeps
// its drawing objects, made from the block by UpdateGdiObjects whenever the
// block is replaced (Create, Attach, the reads, EndPaint): the palette of its
// colour table and the DIB section that painting draws into.
class CDib {
public:
    CDib();
    virtual ~CDib();
    CDib(const CDib&) = delete;
    CDib& operator=(const CDib&) = delete;

    // Replaces the DIB by a blank one (see CreateBlankDIB); kept on failure.
    [[nodiscard]] bool Create(int width, int height, int bitCount);
    // Takes ownership of a block and rebuilds the drawing objects; a null
    // handle gives false.
    [[nodiscard]] bool Attach(CDibHandle handle);
    // Replaces the DIB by the bitmap's pixels (BitmapToDIB); kept (false)
    // when that fails.
    [[nodiscard]] bool CreateFromBitmap(const CBitmap& bitmap);
    void Free();

    bool IsEmpty() const { return m_dib.IsNull(); }
    int Width() const { return IsEmpty() ? 0 : DIBWidth(m_dib.Lock()); }
    int Height() const { return IsEmpty() ? 0 : DIBHeight(m_dib.Lock()); }
    const CDibHandle& GetHandle() const { return m_dib; }
    // Whoever changes the block through this pointer calls UpdateGdiObjects
    // before painting or using the bitmap or palette.
    BYTE* GetBlock() { return m_dib.Lock(); }

    // ---- drawing objects --------------------------------------------------

    // MakePalette, then MakeBitmap; true when the bitmap was made.
    bool UpdateGdiObjects();
    // The palette of the colour table (CreateDIBPaletteFromHandle); none
    // without one.
    void MakePalette();
    // The DIB section of the block (HandleToDIBSection); false, none, for a
    // block it cannot hold or when memory is short.
    bool MakeBitmap();
    [[nodiscard]] const CPalette* GetPalette() const { return m_palette.get(); }
    [[nodiscard]] const CBitmap* GetBitmap() const { return m_bitmap.get(); }

    // ---- files ------------------------------------------------------------

    // BMP file: only DIBs with a 40-byte header. The file is written through
    // a temporary file, so a failure leaves the previous one as it was.
    [[nodiscard]] bool Write(const std::string& path);
    // The same bytes at the stream's position; false when a write failed.
    [[nodiscard]] bool Write(std::FILE* file);
    [[nodiscard]] bool WriteToMemory(std::string& bytes);
    // Checks the file header's sizes against the file, the info header, the
    // colour count and that the rows fit in the block, then takes it; the
    // DIB is kept as it was on any failure.
    [[nodiscard]] bool Read(const std::string& path);
    // The same from the stream's position, reading no further than the file
    // header's size; a stream that ends sooner fails.
    [[nodiscard]] bool Read(std::FILE* file);
    [[nodiscard]] bool ReadFromMemory(const BYTE* data, std::size_t size);
    // Stores with Write or loads with Read on the archive's file.
    [[nodiscard]] bool Serialize(CArchive& archive);

    // ---- display ----------------------------------------------------------

    // A drawing context over the picture: the DIB section's. EndPaint reads
    // the section back into the block (to the nearest palette colour below
    // 16 bits; the resolution is kept) and rebuilds the drawing objects. Null
    // for an empty DIB, one that is not uncompressed with a 40-byte header,
    // or when memory is short. While painting, a second call returns the open
    // context; Create, Attach and Free drop it unsaved. The parent is the
    // context the picture is meant for; a canvas needs none.
    CDC* BeginPaint(CDC* parent);
    void EndPaint();
    [[nodiscard]] bool IsPainting() const { return m_painting; }

    // The picture as of the last EndPaint, its top-left corner at (x, y) of
    // the context, through the raster operation.
    bool Draw(CDC* dc, int x, int y, DWORD rop) const;
    // Source rows count from the top of the picture.
    bool StretchDraw(CDC* dc, int x, int y, int width, int height, int sourceX, int sourceY, int sourceWidth,
                     int sourceHeight, DWORD rop) const;
    // Between rectangles {left, top, right, bottom}; right and bottom excluded.
    bool DrawRect(CDC* dc, const RECT& destination, const RECT& source, DWORD rop) const;

private:
    // The header and bits as StretchDIBits takes them; false when the block
    // is not one it can draw.
    bool GetDrawable(const BITMAPINFO** info, const void** bits) const;

    CDibHandle m_dib;
    std::unique_ptr<CPalette> m_palette;
    std::unique_ptr<CBitmap> m_bitmap;  // the DIB section
    bool m_painting = false;
};

// The picture at (x, y) of the context, leaving the context's pixels where
// the picture has the transparent colour: a mask clears the opaque part
// (SRCAND), then the picture with its transparent pixels turned black is
// merged in (SRCPAINT). False when the picture is empty or memory is short.
bool DrawTransparentBitmap(CDC* dc, const CDib& bitmap, int x, int y, COLORREF transparent);
