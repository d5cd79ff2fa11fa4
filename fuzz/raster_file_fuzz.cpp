// Raster files come from anywhere: whatever the image library decodes must
// come out in a layout the image holds, and every operation on it must stay
// inside the pixels. The first byte picks the format, the rest is the file.
//
// Pictures whose headers promise more than a few megapixels are skipped
// before decoding: the library allocates what a header asks for, and such
// allocations say nothing about our code.
#include "raster/freeimage_api.h"

#include "platform/message_box.h"
#include "raster/raster_file.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::uint64_t kMaxPixels = 1u << 22;
constexpr int kMaxPages = 8;
constexpr size_t kMaxInput = 1u << 20;

const char* const kNames[] = {"f.bmp", "f.jpg", "f.pcx", "f.tga", "f.tif"};
const FREE_IMAGE_FORMAT kFormats[] = {FIF_BMP, FIF_JPEG, FIF_PCX, FIF_TARGA, FIF_TIFF};

bool SmallBitmap(FIBITMAP* bitmap)
{
    return bitmap && static_cast<std::uint64_t>(FreeImage_GetWidth(bitmap)) * FreeImage_GetHeight(bitmap) <= kMaxPixels;
}

std::uint16_t Word(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// The size a file says it has, read without decoding its pixels.
bool SmallPicture(FREE_IMAGE_FORMAT format, const std::uint8_t* data, size_t size)
{
    if (format == FIF_PCX) {
        // The PCX reader has no header-only mode: its window is at bytes 4..11.
        if (size < 12)
            return true;
        std::uint64_t w = static_cast<std::uint16_t>(Word(data + 8) - Word(data + 4)) + 1u;
        std::uint64_t h = static_cast<std::uint16_t>(Word(data + 10) - Word(data + 6)) + 1u;
        return w * h <= kMaxPixels;
    }
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    bool small = true;
    if (format == FIF_TIFF) {
        FIMULTIBITMAP* multi = FreeImage_LoadMultiBitmapFromMemory(FIF_TIFF, memory, FIF_LOAD_NOPIXELS);
        if (multi) {
            int pages = FreeImage_GetPageCount(multi);
            small = pages <= kMaxPages;
            for (int page = 0; small && page < pages; ++page) {
                FIBITMAP* header = FreeImage_LockPage(multi, page);
                small = !header || SmallBitmap(header);
                if (header)
                    FreeImage_UnlockPage(multi, header, FALSE);
            }
            FreeImage_CloseMultiBitmap(multi, 0);
        }
    } else {
        FIBITMAP* header = FreeImage_LoadFromMemory(format, memory, FIF_LOAD_NOPIXELS);
        small = !header || SmallBitmap(header);
        if (header)
            FreeImage_Unload(header);
    }
    FreeImage_CloseMemory(memory);
    return small;
}

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

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitRasterLibrary();
    SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return IDOK; });
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
    if (!SmallPicture(kFormats[choice], data, size))
        return 0;

    FIBITMAP* bitmap = LoadRasterFromMemory(name, data, size);
    if (bitmap) {
        CRasterSrc image;
        // What the loader hands out must always be attachable.
        if (!image.Attach(bitmap))
            std::abort();
        Exercise(image);
    }
    if (kFormats[choice] == FIF_TIFF) {
        CRasterLoader loader;
        if (loader.OpenMemory(name, data, size)) {
            for (int page = 0; page < loader.GetPageCount(); ++page) {
                FIBITMAP* copy = loader.CopyPage(page);
                if (!copy)
                    continue;
                CRasterSrc image;
                if (!image.Attach(copy))
                    std::abort();
                Exercise(image);
            }
        }
    }
    return 0;
}
