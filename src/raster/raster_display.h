#pragma once
// Putting raster images on a drawing context: our own stretch blit from a
// working image or a display bitmap to any CDC.
//
// Rectangles are {left, top, right, bottom}, right and bottom excluded. A
// source rectangle is in image pixels with row 0 at the top; a destination
// is in the DC's pixels at a one-to-one mapping (MM_TEXT, rows down). Each
// destination pixel shows the source pixel under its centre; where a one-bit
// image is shrunk it shows instead the mean of the pixels it covers, so that
// lines thinner than a screen pixel stay visible as grey.
#include "platform/gdi_types.h"
#include "platform/win_types.h"

class CDC;
class CDib;
class CRasterSrc;

// Platform codes of GetPlatformCode.
constexpr int kPlatformUnknown = 0;
constexpr int kPlatformWin32s = 1;
constexpr int kPlatformNT = 2;
constexpr int kPlatformOld = 3;
constexpr int kPlatformNew = 4;

// The platform family the display runs on. Ours behaves as the NT family:
// one drawing context serves every call, and one-bit images are drawn at
// their own colours (shrinking greys them as described above).
[[nodiscard]] int GetPlatformCode();

// The source rectangle of the raster stretched onto the destination. False
// without pixels, without a DC, for an empty destination or a source that
// is empty or leaves the image.
bool DrawRasterDib(const CRasterSrc* raster, const RECT& source, CDC* dc, const RECT& destination);
// The same, but only the pixels of the destination inside `visible` are
// drawn: far zoomed in, a destination may be many times the size of the DC.
// False as well when the two do not overlap.
bool DrawRasterDib(const CRasterSrc* raster, const RECT& source, CDC* dc, const RECT& destination, const RECT& visible);
// The same from a display bitmap (uncompressed, with a 40-byte header).
bool DrawDibRect(const CDib& dib, const RECT& source, CDC* dc, const RECT& destination, const RECT& visible);
