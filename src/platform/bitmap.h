#pragma once
// CBitmap: a DIB section, a picture of a given depth and colour table that
// drawing contexts can draw into and copy from.
//
// The pixels live in a pixel canvas (a CPixelDC), which stands for the memory
// context the section is selected into: draw into it through GetDC, or use it
// as the source of BitBlt and StretchBlt. The depth and colour table say what
// the pixels become when they are read back as a packed DIB: below 16 bits
// each pixel takes the nearest colour of the table.
#include "platform/dib_types.h"
#include "platform/pixel_dc.h"

#include <memory>
#include <vector>

class CBitmap {
public:
    // A white canvas of width x height; null when a side is not positive,
    // the depth is not 1, 4, 8, 16, 24 or 32, a table is given above 8 bits,
    // none or one of more than 1 << bits entries at 8 bits or fewer, or
    // memory is short.
    [[nodiscard]] static std::unique_ptr<CBitmap> Create(int width, int height, int bitCount,
                                                         std::vector<RGBQUAD> colours);

    [[nodiscard]] int GetWidth() const { return m_canvas->Width(); }
    [[nodiscard]] int GetHeight() const { return m_canvas->Height(); }
    [[nodiscard]] int GetBitCount() const { return m_bitCount; }
    [[nodiscard]] const std::vector<RGBQUAD>& GetColorTable() const { return m_colours; }

    // The context drawing into the pixels.
    [[nodiscard]] CPixelDC* GetDC() { return m_canvas.get(); }
    [[nodiscard]] const CPixelDC& GetCanvas() const { return *m_canvas; }

private:
    CBitmap(std::unique_ptr<CPixelDC> canvas, int bitCount, std::vector<RGBQUAD> colours);

    std::unique_ptr<CPixelDC> m_canvas;
    int m_bitCount;
    std::vector<RGBQUAD> m_colours;
};
