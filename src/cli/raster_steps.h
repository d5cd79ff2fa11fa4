#pragma once
// The raster clean-up steps `trace` and `raster` take on the command line,
// kept in the order given and applied one after another to the loaded image.
#include "cli/option_table.h"
#include "platform/colorref.h"

#include <string>
#include <vector>

class CRasterSrc;

enum class RasterStepKind {
    kInvert,
    kFlip,    // top to bottom
    kMirror,  // left to right
    kRotate,
    kCrop,
    kMedian,
    kFillHoles,
    kTemplate,
    kResample,
    kBrightContrast,
    kReplaceColour,
};

struct CRasterStep {
    RasterStepKind kind = RasterStepKind::kInvert;
    double degrees = 0.0;                     // kRotate
    int x = 0, y = 0, width = 0, height = 0;  // kCrop; width and height for kResample
    int size = 0;                             // kMedian window, kFillHoles passes
    int filter = 0;                           // kResample kernel index
    std::string name;                         // kTemplate
    int brightness = 0, contrast = 0;         // kBrightContrast
    bool hasBrightness = false, hasContrast = false;
    COLORREF from = 0, to = 0;  // kReplaceColour
};

// True when args[i] is a step option: the step (and its value, i moved past
// it) is added, or error says what is wrong with the value. False, nothing
// changed, for any other argument.
bool ParseRasterStep(const std::vector<std::string>& args, size_t& i, std::vector<CRasterStep>& steps,
                     std::string& error);

// The help lines of the steps, each with the values it takes (the template
// names from the stored list).
std::string RasterStepsHelp();

// Applies the steps in order; false with the message of the first that fails
// (the image then holds the steps before it), outOfMemory telling whether
// it failed for want of memory.
[[nodiscard]] bool ApplyRasterSteps(CRasterSrc& image, const std::vector<CRasterStep>& steps, std::string& error,
                                    bool& outOfMemory);

// --page N: the page of a multi-page TIFF, counted from 1.
[[nodiscard]] CCliOption PageOption(int& page);

// Loads a raster file, or page `page` (1-based; 0 = the file as a whole) of a
// TIFF, into image. False with a message for the user.
[[nodiscard]] bool LoadRasterPage(const std::string& path, int page, CRasterSrc& image, std::string& error);

// Warns on stderr of the damage the last raster load read past, if any.
void WarnOfRasterDamage(const std::string& shown);
