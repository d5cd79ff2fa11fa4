#include "platform/bitmap.h"

#include <new>
#include <utility>

CBitmap::CBitmap(std::unique_ptr<CPixelDC> canvas, int bitCount, std::vector<RGBQUAD> colours)
    : m_canvas(std::move(canvas)), m_bitCount(bitCount), m_colours(std::move(colours))
{}

std::unique_ptr<CBitmap> CBitmap::Create(int width, int height, int bitCount, std::vector<RGBQUAD> colours)
{
    const bool knownDepth =
        bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
    if (width <= 0 || height <= 0 || !knownDepth)
        return nullptr;
    // Pixels of 8 bits or fewer are indices: they need a table to index.
    if (bitCount > 8 ? !colours.empty() : colours.empty() || colours.size() > (std::size_t{1} << bitCount))
        return nullptr;
    std::unique_ptr<CPixelDC> canvas(new (std::nothrow) CPixelDC(width, height));
    if (!canvas || !canvas->IsValid())
        return nullptr;
    return std::unique_ptr<CBitmap>(new (std::nothrow) CBitmap(std::move(canvas), bitCount, std::move(colours)));
}
