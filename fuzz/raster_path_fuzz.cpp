// Raster files opened by name take a road of their own: the access checks,
// the PCX header read from the file, the TIFF page loader and the shell's
// page split. The first byte picks the extension, the rest is the file.
#include "raster/freeimage_api.h"

#include "fuzz_folder.h"

#include "platform/message_box.h"
#include "raster/raster_file.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "raster_fuzz.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Fuzz-speed limits, as in the loader's memory target.
constexpr std::size_t kMaxInput = 1u << 20;
constexpr int kMaxPages = 8;

const char* const kExtensions[] = {".bmp", ".jpg", ".pcx", ".tga", ".tif", ".png"};

std::string g_folder;

bool WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitRasterFuzzing();
    g_folder = MakeFuzzFolder("lineweft-raster-path-fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > kMaxInput)
        return 0;
    const int choice = data[0] % 6;
    const std::string path = g_folder + "/scan" + kExtensions[choice];
    if (!WriteFile(path, data + 1, size - 1))
        std::abort();
    CRasterLoader loader;
    if (loader.Open(path))
        for (int page = 0; page < loader.GetPageCount() && page < kMaxPages; ++page)
            Check(!loader.GetPageFileName(page).empty());

    RasterLoadError error = RasterLoadError::kNone;
    FIBITMAP* bitmap = LoadRasterFile(path, &error);
    Check((bitmap == nullptr) == (error != RasterLoadError::kNone));
    if (bitmap) {
        CRasterSrc image;
        Check(image.Attach(bitmap));
        (void)image.ConvertTo1Bit(image.GetAutoThreshold());
    }

    std::vector<CRasterPage> pages;
    if (LoadRasterPages(path, pages, &error)) {
        Check(!pages.empty());
        for (const CRasterPage& page : pages)
            Check(page.image && page.image->GetWidth() > 0 && page.image->GetHeight() > 0);
    }
    ::unlink(path.c_str());
    return 0;
}
