#pragma once
// Colour attributes of the binary CGM output, written before each entity's
// geometry.
#include <cstdio>

#include "platform/colorref.h"

// EDGE COLOUR, FILL COLOUR and LINE COLOUR, each a big-endian header word and
// red, green, blue and a pad byte. Write failures are not reported: the
// entity records carry on and the export checks the stream at the end.
void WriteCgmColors(COLORREF color, std::FILE* file);
