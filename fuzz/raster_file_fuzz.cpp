// Raster files come from anywhere: whatever the image library decodes must
// come out in a layout the image holds, and every operation on it must stay
// inside the pixels. The first byte picks the format, the rest is the file.
//
// The loader refuses headers that declare absurd sizes before decoding; its
// bound is lowered here only so that each run stays fast.
#include "raster/freeimage_api.h"

#include "platform/message_box.h"
#include "raster/raster_file.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "raster_fuzz.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Fuzz-speed limit, not a safety one: the first few pages of a TIFF.
constexpr int kMaxPages = 8;
constexpr size_t kMaxInput = 1u << 20;

const char* const kNames[] = {"f.bmp", "f.jpg", "f.pcx", "f.tga", "f.tif"};
constexpr int kTiffChoice = 4;

void CheckHeld(CRasterSrc& image)
{
    if (image.GetBitCount() == 1) {
        const RGBQUAD* palette = image.GetPalette();
        if (palette[0].rgbRed != 255 || palette[1].rgbRed != 0)
            std::abort();
    }
}

void Exercise(CRasterSrc& image)
{
    CheckHeld(image);
    (void)image.GetAutoThreshold();
    CRasterSrc part;
    (void)image.CopyRectTo(part, image.GetWidth() / 3, image.GetHeight() / 3, image.GetWidth(), 7);
    CRasterSrc copy;
    if (copy.Copy(image))
        (void)copy.SmartThreshold(5, 0.9f);
    (void)image.ConvertToGrey8();
    (void)image.ConvertTo1Bit(image.GetAutoThreshold());
    CheckHeld(image);
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
    int choice = data[0] % 5;
    const char* name = kNames[choice];
    ++data;
    --size;

    FIBITMAP* bitmap = LoadRasterFromMemory(name, data, size);
    if (bitmap) {
        CRasterSrc image;
        // What the loader hands out must always be attachable.
        if (!image.Attach(bitmap))
            std::abort();
        Exercise(image);
    }
    if (choice == kTiffChoice) {
        CRasterLoader loader;
        if (loader.OpenMemory(name, data, size)) {
            for (int page = 0; page < loader.GetPageCount() && page < kMaxPages; ++page) {
                BYTE counted = 0;
                const bool byStrips = loader.GetPageAutoThreshold(page, counted);
                FIBITMAP* copy = loader.CopyPage(page);
                if (!copy)
                    continue;
                CRasterSrc image;
                if (!image.Attach(copy))
                    std::abort();
                // info's threshold counted strip by strip is the decoded page's.
                if (byStrips && counted != image.GetAutoThreshold())
                    std::abort();
                Exercise(image);
            }
        }
    }
    return 0;
}
