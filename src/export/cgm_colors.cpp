#include "export/cgm_colors.h"

namespace {

// Attribute element headers: class 5, parameter length 4 (three colour bytes
// and a pad byte).
constexpr unsigned kCgmEdgeColour = 0x53A3;
constexpr unsigned kCgmFillColour = 0x52E3;
constexpr unsigned kCgmLineColour = 0x5083;

void WriteColorElement(unsigned header, COLORREF color, std::FILE* file)
{
    const unsigned char bytes[6] = {static_cast<unsigned char>(header >> 8),
                                    static_cast<unsigned char>(header & 0xFF),
                                    GetRValue(color),
                                    GetGValue(color),
                                    GetBValue(color),
                                    0};
    (void)std::fwrite(bytes, 1, sizeof bytes, file);
}

}  // namespace

void WriteCgmColors(COLORREF color, std::FILE* file)
{
    WriteColorElement(kCgmEdgeColour, color, file);
    WriteColorElement(kCgmFillColour, color, file);
    WriteColorElement(kCgmLineColour, color, file);
}
