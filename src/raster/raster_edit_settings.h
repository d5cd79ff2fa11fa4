#pragma once
// The settings of the pixel edit in progress, kept inside each image: what a
// brush stroke, window or polygon paints and how the undo entry is named.
#include "platform/win_types.h"

#include <string>

struct CRasterEditSettings {
    static constexpr DWORD kModeFill = 1;
    static constexpr DWORD kModeErase = 2;
    static constexpr int kDefaultBrushHalfSize = 32;

    std::string undoName;
    DWORD mode = 0;
    int brushHalfWidth = kDefaultBrushHalfSize;
    int brushHalfHeight = kDefaultBrushHalfSize;
    BYTE colour[4] = {};  // blue, green, red, palette index
};
