#pragma once
// CPalette: a logical palette, the colour table of a picture as the drawing
// contexts take it. Every context here draws in true colour, so selecting and
// realising a palette changes no pixel; the object keeps its entries for
// whoever asks for them.
#include "platform/win_types.h"

#include <utility>
#include <vector>

struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};

class CPalette {
public:
    explicit CPalette(std::vector<PALETTEENTRY> entries) : m_entries(std::move(entries)) {}

    [[nodiscard]] int GetEntryCount() const { return static_cast<int>(m_entries.size()); }
    [[nodiscard]] const std::vector<PALETTEENTRY>& GetEntries() const { return m_entries; }

private:
    std::vector<PALETTEENTRY> m_entries;
};
