// What every raster reader shares: the bounds on what a header may declare
// and the composition of alpha over white.
#include "raster/freeimage_api.h"

#include "raster/raster_decoders.h"

#include "platform/number_text.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace {

// Generous bounds: the reference A0 scan at 400 dpi (13000 x 18000 x 24
// bits, 0.7 GB) is far inside them, so only absurd headers reach them.
constexpr std::int64_t kMaxImageSide = 1000000;
constexpr std::uint64_t kDefaultMaxPixelBytes = std::uint64_t{8} << 30;
// An image may take at most this share of the machine's memory: the
// operations on it need room for a second copy.
constexpr std::uint64_t kMemoryShare = 2;

std::atomic<std::uint64_t> g_maxPixelBytes{kDefaultMaxPixelBytes};

std::uint64_t MachineMemory()
{
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

}  // namespace

std::uint64_t SetMaxRasterPixelBytes(std::uint64_t bytes) { return g_maxPixelBytes.exchange(bytes); }

RasterLoadError CheckRasterSize(std::int64_t width, std::int64_t height, unsigned bits, std::string* detail)
{
    if (width <= 0 || height <= 0) {
        if (detail)
            *detail = "the header declares an empty image";
        return RasterLoadError::kDecodeFailed;
    }
    static const std::uint64_t machine = MachineMemory();
    const std::uint64_t bound = std::min(g_maxPixelBytes.load(std::memory_order_relaxed), machine / kMemoryShare);
    // Both sides are bounded first, so the product cannot overflow.
    if (width <= kMaxImageSide && height <= kMaxImageSide &&
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * std::max(bits, 1u) / 8 <= bound)
        return RasterLoadError::kNone;
    if (detail)
        *detail = FormatC("the header declares %lld x %lld pixels at %u bits per pixel", static_cast<long long>(width),
                          static_cast<long long>(height), bits);
    return RasterLoadError::kTooLarge;
}

bool IsPlausibleSize(std::int64_t width, std::int64_t height, std::uint64_t bytes, double pixelsPerByte)
{
    return static_cast<double>(width) * static_cast<double>(height) <= static_cast<double>(bytes) * pixelsPerByte;
}

FIBITMAP* AllocateRaster(std::int64_t width, std::int64_t height, unsigned bits, CDecodeStatus& status)
{
    std::string why;
    RasterLoadError declared = CheckRasterSize(width, height, bits, &why);
    if (declared != RasterLoadError::kNone)
        return status.Fail(declared, why);
    FIBITMAP* bitmap = FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), static_cast<int>(bits));
    if (!bitmap)
        return status.Fail(RasterLoadError::kTooLarge, "the memory for its pixels is not available");
    return bitmap;
}

void ComposeOverWhite(FIBITMAP* bitmap)
{
    if (!bitmap || FreeImage_GetBPP(bitmap) != 32 || FreeImage_GetImageType(bitmap) != FIT_BITMAP)
        return;
    const unsigned height = FreeImage_GetHeight(bitmap), width = FreeImage_GetWidth(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* p = FreeImage_GetScanLine(bitmap, static_cast<int>(y));
        for (unsigned x = 0; x < width; ++x, p += 4) {
            for (int c = 0; c < 3; ++c)
                p[c] = OverWhite(p[c], p[3]);
            p[3] = 255;
        }
    }
}

void DropAbsurdResolution(FIBITMAP* bitmap)
{
    if (bitmap && (IsAbsurdDotsPerMetre(FreeImage_GetDotsPerMeterX(bitmap)) ||
                   IsAbsurdDotsPerMetre(FreeImage_GetDotsPerMeterY(bitmap)))) {
        FreeImage_SetDotsPerMeterX(bitmap, 0);
        FreeImage_SetDotsPerMeterY(bitmap, 0);
    }
}

void CDecodeStatus::ReleaseRead(const BYTE* from, std::size_t bytes) const
{
    if (!mapped || bytes == 0)
        return;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(from) + page - 1) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(from) + bytes) / page * page;
    // Read-only private file pages come back from the file if touched again.
    if (end > begin)
        (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}
