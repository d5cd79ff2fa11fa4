#pragma once
// The colour index every entity and layer carries: 1..255 index a fixed
// palette laid out like the DXF colour index, 256 (or anything below 1) means
// "by layer".
#include "platform/colorref.h"

#include <string>

constexpr int kColorByLayer = 256;
constexpr int kColorWhite = 7;

// The screen colour of an index, and its display name when `name` is given.
// Index 7 is white when `white` is set; otherwise it contrasts with the view
// background.
COLORREF ColorIndexToRGB(int index, std::string* name, bool white);

// The view background that index 7 contrasts with; the display options set it.
void SetViewBackgroundColor(COLORREF color);
COLORREF GetViewBackgroundColor();
