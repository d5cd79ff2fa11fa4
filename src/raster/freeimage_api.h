#pragma once
// The one place FreeImage.h is included. The library declares its own copies
// of the DIB records unless told they exist; it gets ours, which have the same
// layout, so a header pointer from the library is a BITMAPINFOHEADER here.
// Include this before anything else that might pull in FreeImage.h.
#include "platform/dib_types.h"

#include <cstdint>

#ifdef _WINDOWS_
#error "FreeImage.h was included before raster/freeimage_api.h"
#endif
#define _WINDOWS_
using BOOL = std::int32_t;
using INT64 = std::int64_t;
using UINT64 = std::uint64_t;
#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

#include <FreeImage.h>

static_assert(FREEIMAGE_COLORORDER == FREEIMAGE_COLORORDER_BGR, "RGBQUAD order must match the library's");
