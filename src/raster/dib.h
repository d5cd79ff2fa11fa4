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
#include <memory>
#include <string>

class CDC;
class CPixelDC;

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

int DIBWidth(const BYTE* dib);   // core or info header
int DIBHeight(const BYTE* dib);
// biClrUsed when set, else 2, 16 or 256 for 1, 4 or 8 bits, else 0.
DWORD DIBNumColors(const BYTE* dib);
DWORD DIBPaletteSize(const BYTE* dib);  // bytes: 4 per entry, 3 for a core header
DWORD DIBBytesPerLine(const BYTE* dib);  // padded to 4 bytes
BYTE* FindDIBBits(BYTE* dib);            // behind the header and colour table
const BYTE* FindDIBBits(const BYTE* dib);

class CDib {
public:
    CDib();
    virtual ~CDib();
    CDib(const CDib&) = delete;
    CDib& operator=(const CDib&) = delete;

    // Replaces the DIB by a blank one (see CreateBlankDIB); kept on failure.
    [[nodiscard]] bool Create(int width, int height, int bitCount);
    // Takes ownership of a block; a null handle gives false.
    [[nodiscard]] bool Attach(CDibHandle handle);
    void Free();

    bool IsEmpty() const { return m_dib.IsNull(); }
    int Width() const { return IsEmpty() ? 0 : DIBWidth(m_dib.Lock()); }
    int Height() const { return IsEmpty() ? 0 : DIBHeight(m_dib.Lock()); }
    const CDibHandle& GetHandle() const { return m_dib; }
    BYTE* GetBlock() { return m_dib.Lock(); }

    // BMP file: only DIBs with a 40-byte header. The file is written through
    // a temporary file, so a failure leaves the previous one as it was.
    [[nodiscard]] bool Write(const std::string& path);
    [[nodiscard]] bool WriteToMemory(std::string& bytes);
    // Checks the file header's sizes against the file, the info header, the
    // colour count and that the rows fit in the block, then takes it; the
    // DIB is kept as it was on any failure.
    [[nodiscard]] bool Read(const std::string& path);
    [[nodiscard]] bool ReadFromMemory(const BYTE* data, std::size_t size);

    // ---- display ----------------------------------------------------------

    // A drawing context over the picture: a canvas holding a copy of its
    // pixels, which EndPaint writes back (to the nearest palette colour below
    // 16 bits). Null for an empty DIB, one that is not uncompressed with a
    // 40-byte header, or when memory is short. While painting, a second call
    // returns the open context; Create, Attach and Free drop it unsaved. The
    // parent is the context the picture is meant for; a canvas needs none.
    CDC* BeginPaint(CDC* parent);
    void EndPaint();
    [[nodiscard]] bool IsPainting() const { return m_paintDC != nullptr; }

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
    std::unique_ptr<CPixelDC> m_paintDC;
};

// The picture at (x, y) of the context, leaving the context's pixels where
// the picture has the transparent colour: a mask clears the opaque part
// (SRCAND), then the picture with its transparent pixels turned black is
// merged in (SRCPAINT). False when the picture is empty or memory is short.
bool DrawTransparentBitmap(CDC* dc, const CDib& bitmap, int x, int y, COLORREF transparent);
