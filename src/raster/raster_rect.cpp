// Rectangles of an image: copying one into another image and cropping.
#include "raster/freeimage_api.h"

#include "raster/raster_src.h"

#include "raster/packed_bits.h"
#include "raster/pixel_math.h"

#include <algorithm>
#include <cstring>

namespace {

// Copies pixels [x, x + n) of a 4-bit row to the start of dst, nibble by
// nibble so that odd and even pixels keep their places.
void CopyNibbles(const BYTE* src, int x, int n, BYTE* dst)
{
    for (int i = 0; i < n; ++i) {
        int sx = x + i;
        BYTE v = (sx & 1) ? static_cast<BYTE>(src[sx >> 1] & 0x0F) : static_cast<BYTE>(src[sx >> 1] >> 4);
        BYTE& d = dst[i >> 1];
        d = (i & 1) ? static_cast<BYTE>((d & 0xF0) | v) : static_cast<BYTE>((d & 0x0F) | (v << 4));
    }
}

}  // namespace

bool CRasterSrc::CopyRectTo(CRasterSrc& target, int x, int y, int w, int h) const
{
    if (!m_bitmap || &target == this)
        return false;
    // Clip on all four sides; the sums are formed wide so huge sizes cannot wrap.
    long long left = std::max(x, 0);
    long long top = std::max(y, 0);
    long long right = std::min<long long>(static_cast<long long>(x) + w, m_width);
    long long bottom = std::min<long long>(static_cast<long long>(y) + h, m_height);
    if (right <= left || bottom <= top)
        return true;
    int x0 = static_cast<int>(left);
    int y0 = static_cast<int>(top);
    int cw = static_cast<int>(right - left);
    int ch = static_cast<int>(bottom - top);

    if (target.IsEmpty() || target.m_width != cw || target.m_height != ch || target.m_bitCount != m_bitCount) {
        target.Free();
        if (!target.Create(cw, ch, m_bitCount))
            return false;
    }
    if (m_palette && target.m_palette) {
        unsigned entries = std::min(GetColorsUsed(), target.GetColorsUsed());
        for (unsigned i = 0; i < entries; ++i)
            target.m_palette[i] = m_palette[i];
    }
    for (int r = 0; r < ch; ++r) {
        const BYTE* src = m_rows[static_cast<size_t>(y0 + r)];
        BYTE* dst = target.m_rows[static_cast<size_t>(r)];
        switch (m_bitCount) {
        case 1: ExtractPixels(src, x0, cw, dst); break;
        case 4: CopyNibbles(src, x0, cw, dst); break;
        default:
            std::memcpy(dst, src + PixelsToBytes(x0, m_bitCount), static_cast<size_t>(PixelsToBytes(cw, m_bitCount)));
            break;
        }
    }
    CopyResolutionTo(target);
    target.m_histogramValid = 0;
    return true;
}

bool CRasterSrc::Crop(int x1, int y1, int x2, int y2)
{
    // An empty, inverted or outlying rectangle is the caller's mistake, not a
    // shortage of memory: refuse it before anything is allocated.
    if (!m_bitmap || x1 < 0 || y1 < 0 || x2 > m_width || y2 > m_height || x1 >= x2 || y1 >= y2)
        return false;
    CRasterSrc part;
    if (!CopyRectTo(part, x1, y1, x2 - x1, y2 - y1))
        return false;
    return ReplaceBitmap(part.Detach());
}
