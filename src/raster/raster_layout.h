#pragma once
// Which library bitmaps CRasterSrc can hold, and the conversion of the others
// into a layout it holds, so no file is ever read with the wrong layout.
#include <string>

struct FIBITMAP;

// Plain bitmaps of 1, 4, 8, 16 (5-5-5), 24 or 32 bits with pixels, a full
// colour table at 8 bits or fewer and no CMYK. Sizes must fit an int.
bool IsHeldRasterLayout(FIBITMAP* bitmap);

// Returns a bitmap CRasterSrc holds: the bitmap itself when it already does,
// else a converted copy (16-bit grey to 8-bit grey, 48 and 64 bits to 24 and
// 32, 5-6-5 to 24 bits) with the input unloaded. Null, with the input
// unloaded and a reason in why, for layouts with no faithful conversion.
FIBITMAP* NormaliseRasterBitmap(FIBITMAP* bitmap, std::string* why = nullptr);
