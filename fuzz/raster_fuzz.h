#pragma once
// The set-up the raster targets share: the image library, a lower pixel
// bound so that each run stays fast (a fuzz-speed limit, not a safety one:
// 4 MiB of pixels, 4 megapixels at 8 bits), and message boxes answered at once.
#include <cstdint>
#include <string>

#include "platform/message_box.h"
#include "raster/raster_file.h"
#include "raster/raster_library.h"

constexpr std::uint64_t kFuzzMaxPixelBytes = 4u << 20;

inline void InitRasterFuzzing()
{
    InitRasterLibrary();
    (void)SetMaxRasterPixelBytes(kFuzzMaxPixelBytes);
    SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return IDOK; });
}
