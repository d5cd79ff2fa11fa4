// Images on the drawing device: display bitmaps, and the raster directly or
// through the display cache its entity keeps.
//
// The visible part of an image is widened to whole image pixels and the
// destination is taken from the world positions of those pixel edges, so
// the picture lands exactly where the vectors over it are, at any zoom.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "model/cdc_device.h"
#include "model/geometry.h"
#include "platform/dc.h"
#include "raster/raster_display.h"
#include "raster/raster_src.h"

// Where the visible part of an image goes: its source rectangle in image
// pixels (rows from the top), the destination of that rectangle on the
// buffer's rows, and the buffer's own rectangle, which bounds what is drawn.
struct CFrCDCDevice::ImagePlacement {
    RECT source;
    RECT destination;
    RECT visible;
};

namespace {

// Buffer coordinates are kept within this, as device coordinates are.
std::int32_t ClampCoord(std::int64_t v)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -DEVICE_COORD_LIMIT, DEVICE_COORD_LIMIT));
}

bool SameRect(const std::int32_t* cacheRect, const RECT& r)
{
    return cacheRect[0] == r.left && cacheRect[1] == r.top && cacheRect[2] == r.right && cacheRect[3] == r.bottom;
}

// Image edge e (0..size) of the scaled cache, nearest.
int ScaledEdge(int e, int size, int scaledSize)
{
    return static_cast<int>((std::int64_t{e} * scaledSize * 2 + size) / (std::int64_t{size} * 2));
}

}  // namespace

bool CFrCDCDevice::PlaceImage(double x, double y, int width, int height, ImagePlacement* place) const
{
    if (width <= 0 || height <= 0)
        return false;
    const CFrZoomBox& world = Transform().WorldBox();
    const double box[4] = {x, x + width, y, y + height};
    const double view[4] = {world.xmin, world.xmax, world.ymin, world.ymax};
    double seen[4];
    if (!BoxesOverlap(box, view, seen) || !(seen[1] > seen[0]) || !(seen[3] > seen[2]))
        return false;

    const double top = y + height;
    auto column = [&](double v) { return std::clamp(v - x, 0.0, double(width)); };
    auto row = [&](double v) { return std::clamp(top - v, 0.0, double(height)); };
    RECT& s = place->source;
    s.left = static_cast<std::int32_t>(std::floor(column(seen[0])));
    s.right = static_cast<std::int32_t>(std::ceil(column(seen[1])));
    s.top = static_cast<std::int32_t>(std::floor(row(seen[3])));
    s.bottom = static_cast<std::int32_t>(std::ceil(row(seen[2])));
    if (s.left >= s.right || s.top >= s.bottom)
        return false;

    std::int32_t X0, Y0, X1, Y1;
    Transform().WorldToDevice(x + s.left, top - s.top, &X0, &Y0);
    Transform().WorldToDevice(x + s.right, top - s.bottom, &X1, &Y1);
    const RECT& rect = Transform().DeviceRect();
    const std::int64_t topRow = std::int64_t{rect.bottom} + Transform().DeviceHeight();
    place->destination = RECT{ClampCoord(std::int64_t{X0} - rect.left), ClampCoord(topRow - Y0),
                              ClampCoord(std::int64_t{X1} - rect.left), ClampCoord(topRow - Y1)};
    place->visible = RECT{0, 0, Transform().DeviceWidth(), Transform().DeviceHeight()};
    return true;
}

bool CFrCDCDevice::DrawDib(double x, double y, const CDib* dib)
{
    ImagePlacement place;
    if (m_DC == nullptr || dib == nullptr || !PlaceImage(x, y, dib->Width(), dib->Height(), &place))
        return false;
    RestoreMapping();
    const bool drew = DrawDibRect(*dib, place.source, m_DC, place.destination, place.visible);
    SetMapping();
    return drew;
}

bool CFrCDCDevice::DrawRaster(double x, double y, const CRasterSrc* image)
{
    ImagePlacement place;
    if (m_DC == nullptr || image == nullptr || image->IsEmpty() ||
        !PlaceImage(x, y, image->GetWidth(), image->GetHeight(), &place))
        return false;
    RestoreMapping();
    const bool drew = DrawRasterDib(image, place.source, m_DC, place.destination, place.visible);
    SetMapping();
    return drew;
}

bool CFrCDCDevice::DrawRasterScaled(double x, double y, const CRasterSrc* image, double* cacheScale,
                                    std::int32_t* cacheRect, CDib* cache)
{
    ImagePlacement place;
    if (m_DC == nullptr || image == nullptr || image->IsEmpty() || cacheScale == nullptr || cacheRect == nullptr ||
        cache == nullptr || !PlaceImage(x, y, image->GetWidth(), image->GetHeight(), &place))
        return false;
    const int width = image->GetWidth(), height = image->GetHeight();
    const RECT& dest = place.destination;
    const std::int64_t destWidth = std::int64_t{dest.right} - dest.left;
    const std::int64_t destHeight = std::int64_t{dest.bottom} - dest.top;
    // An image that shows as less than a pixel across is not drawn.
    if (destWidth <= 0 || destHeight <= 0)
        return false;

    const double k = Transform().DeviceWidth() / Transform().WorldWidth();
    const double s = *cacheScale;
    const bool scaledFits = s > 0 && std::fabs(s - k) / s <= 0.01;
    const double scaledWidth = std::trunc(width * k + 0.5), scaledHeight = std::trunc(height * k + 0.5);
    bool drew = false;
    RestoreMapping();
    if (scaledFits || (scaledWidth <= kMaxScaledCacheSide && scaledHeight <= kMaxScaledCacheSide)) {
        // The whole raster at the zoom's scale, drawn once per zoom level.
        if (!scaledFits) {
            *cacheScale = kInvalidCacheScale;
            const int ws = static_cast<int>(scaledWidth), hs = static_cast<int>(scaledHeight);
            CDC* dc = nullptr;
            if (ws > 0 && hs > 0 && ((cache->Width() == ws && cache->Height() == hs) || cache->Create(ws, hs, 24)) &&
                (dc = cache->BeginPaint(m_DC)) != nullptr) {
                const bool painted = DrawRasterDib(image, RECT{0, 0, width, height}, dc, RECT{0, 0, ws, hs});
                cache->EndPaint();
                if (painted)
                    *cacheScale = k;
            }
        }
        if (*cacheScale > 0) {
            const int cw = cache->Width(), ch = cache->Height();
            const RECT& src = place.source;
            RECT inCache{ScaledEdge(src.left, width, cw), ScaledEdge(src.top, height, ch),
                         ScaledEdge(src.right, width, cw), ScaledEdge(src.bottom, height, ch)};
            inCache.right = std::clamp(std::max(inCache.right, inCache.left + 1), 1, cw);
            inCache.left = std::min(inCache.left, inCache.right - 1);
            inCache.bottom = std::clamp(std::max(inCache.bottom, inCache.top + 1), 1, ch);
            inCache.top = std::min(inCache.top, inCache.bottom - 1);
            drew = DrawDibRect(*cache, inCache, m_DC, dest, place.visible);
        }
    } else if (m_CallersContext || destWidth > std::int64_t{kMaxCropCacheWindows} * Transform().DeviceWidth() ||
               destHeight > std::int64_t{kMaxCropCacheWindows} * Transform().DeviceHeight()) {
        // So far zoomed in that a cache would dwarf the window, while the
        // visible source is small, or a picture drawn once on the caller's
        // context, which a cache as large as it would only double: drawn
        // straight from the image.
        drew = DrawRasterDib(image, place.source, m_DC, dest, place.visible);
    } else {
        // One visible rectangle at device resolution, kept while both the
        // source rectangle and the destination's size stay the same.
        const int cw = static_cast<int>(destWidth), ch = static_cast<int>(destHeight);
        const bool fits = *cacheScale <= kCropCacheLimit && SameRect(cacheRect, place.source) && cache->Width() == cw &&
                          cache->Height() == ch;
        if (!fits) {
            *cacheScale = kInvalidCacheScale;
            cacheRect[0] = place.source.left;
            cacheRect[1] = place.source.top;
            cacheRect[2] = place.source.right;
            cacheRect[3] = place.source.bottom;
            CDC* dc = nullptr;
            if (((cache->Width() == cw && cache->Height() == ch) || cache->Create(cw, ch, 24)) &&
                (dc = cache->BeginPaint(m_DC)) != nullptr) {
                const bool painted = DrawRasterDib(image, place.source, dc, RECT{0, 0, cw, ch});
                cache->EndPaint();
                if (painted)
                    *cacheScale = kCropCacheScale;
            }
        }
        if (*cacheScale <= kCropCacheLimit)
            drew = DrawDibRect(*cache, RECT{0, 0, cw, ch}, m_DC, dest, place.visible);
    }
    SetMapping();
    return drew;
}
