// The BMP, TARGA and PCX readers and the TIFF page checks take any bytes:
// what they return must be a bitmap the image holds, of the size its header
// declared, and a TIFF page that passes the checks must be safe to hand to
// the image library. The first byte picks the reader, the rest is the file.
#include "raster/freeimage_api.h"

#include "platform/message_box.h"
#include "raster/raster_decoders.h"
#include "raster/raster_layout.h"
#include "raster/raster_library.h"
#include "raster/tiff_pages.h"
#include "raster_fuzz.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Fuzz-speed limits, not safety ones.
constexpr std::size_t kMaxPages = 8;
constexpr size_t kMaxInput = 1u << 20;

void Check(FIBITMAP* bitmap, const CDecodeStatus& status)
{
    if (!bitmap) {
        if (status.error == RasterLoadError::kNone)
            std::abort();
        return;
    }
    if (!IsHeldRasterLayout(bitmap) || status.error != RasterLoadError::kNone)
        std::abort();
    FreeImage_Unload(bitmap);
}

// A BMP whose rows can be read in place decodes too, to the same pixels,
// and every byte of its rows lies in the file.
void CheckRowView(const BYTE* data, std::size_t size, FIBITMAP* decoded)
{
    CBmpRowView view;
    if (!ViewBmpRows(data, size, view))
        return;
    if (!decoded || static_cast<int>(FreeImage_GetWidth(decoded)) != view.width ||
        static_cast<int>(FreeImage_GetHeight(decoded)) != view.height ||
        static_cast<int>(FreeImage_GetBPP(decoded)) != view.bits)
        std::abort();
    const std::size_t bytes = static_cast<std::size_t>(view.width) * static_cast<std::size_t>(view.bits / 8);
    for (int y = 0; y < view.height; ++y) {
        const BYTE* row = view.Row(y);
        if (row < data || row + bytes > data + size ||
            std::memcmp(row, FreeImage_GetScanLine(decoded, view.height - 1 - y), bytes) != 0)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitRasterFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size < 2 || size > kMaxInput)
        return 0;
    const int choice = data[0] % 4;
    ++data;
    --size;
    CDecodeStatus status;
    switch (choice) {
    case 0: {
        FIBITMAP* bitmap = DecodeBmp(data, size, status);
        CheckRowView(data, size, bitmap);
        Check(bitmap, status);
        break;
    }
    case 1: Check(DecodeTga(data, size, status), status); break;
    case 2: Check(DecodePcx(data, size, status), status); break;
    default: {
        std::vector<CTiffPage> pages;
        if (!ScanTiffPages(data, size, pages, status, kMaxPages))
            break;
        for (const CTiffPage& page : pages) {
            CDecodeStatus pageStatus;
            FIBITMAP* bitmap = DecodeTiffPage(data, size, page, pageStatus);
            if (bitmap)
                if (FIBITMAP* held = NormaliseRasterBitmap(bitmap))
                    FreeImage_Unload(held);
        }
        break;
    }
    }
    return 0;
}
