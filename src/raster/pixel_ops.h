#pragma once
// The clean-up operations run on a raster before tracing: colour replacement,
// brightness and contrast, convolution templates (CRasterProcess), and the
// whole-image operations filling holes, flipping, inverting and rotating.
//
// Every operation checks its arguments before it touches the image and
// reports by its result; an operation that fails leaves the image as it was.
// Operations that replace the bitmap keep the resolution, the edit settings
// and the palette-dimmed flag of the image, and leave its histogram to be
// counted again.
#include "platform/colorref.h"
#include "raster/raster_src.h"

class CRasterTemplate;

// Colour operations bound to one image and one progress callback. Colours
// are COLORREF values; at 8 bits or fewer they change the palette, above it
// every pixel.
class CRasterProcess {
public:
    CRasterProcess(CRasterSrc& image, RasterProgress progress) : m_image(image), m_progress(progress) {}
    virtual ~CRasterProcess() = default;
    CRasterProcess(const CRasterProcess&) = delete;
    CRasterProcess& operator=(const CRasterProcess&) = delete;

    // Writes `to` over every palette entry (8 bits or fewer) or pixel whose
    // ColorDistance from `from` is at most tolerance (squared units). False
    // for 1-bit and empty images.
    [[nodiscard]] bool ReplaceColor(COLORREF from, COLORREF to, int tolerance);

    // v -> clamp(trunc((v - 128) k + 128)), k = (contrast + 100) / 100, then
    // plus or minus trunc(|brightness| x 2.55), saturating. A brightness
    // outside -100..100, or both zero, changes nothing and succeeds. False
    // for 1-bit and empty images.
    [[nodiscard]] bool AdjustBrightContrast(int brightness, int contrast);

    // Convolution with a width x height kernel whose element (cenX, cenY)
    // lies on the output pixel; every sum is scaled, its absolute value
    // rounded and limited to 255. Only pixels whose whole kernel lies inside
    // the image change. Palette images become 8-bit grey first. False for
    // 1-bit and empty images and for kernels that fail CheckTemplate.
    [[nodiscard]] bool ApplyTemplate(int width, int height, int cenX, int cenY, const double* coefficients,
                                     double scale);
    [[nodiscard]] bool ApplyTemplate(const CRasterTemplate& kernel);

private:
    bool ApplyTemplateRGB(int width, int height, int cenX, int cenY, const double* coefficients, double scale);
    bool ApplyTemplateGrey(int width, int height, int cenX, int cenY, const double* coefficients, double scale);
    void Report(const std::string& text, int percent) const
    {
        if (m_progress)
            m_progress(text, percent);
    }

    CRasterSrc& m_image;  // not owned
    RasterProgress m_progress;
};

// Fills holes of a 1-bit image (a closing of the black pixels): passes
// dilations, then as many erosions, each over the four neighbours. The
// outermost rows and columns keep their values. 0 passes changes nothing.
// False for empty images, images above 1 bit and negative passes.
[[nodiscard]] bool SmoothFilter(CRasterSrc& image, int passes, RasterProgress progress = nullptr);

// Top to bottom and left to right, in place. False for empty images.
bool FlipVertical(CRasterSrc& image);
bool FlipHorizontal(CRasterSrc& image);

// Every colour becomes its complement (a 1-bit image swaps black and white);
// a grey ramp keeps its palette and inverts its indices, other palettes are
// inverted themselves. False for empty images.
bool Invert(CRasterSrc& image);

// Rotates into the bounding box of the turned picture, clockwise on the
// screen for positive degrees at every depth. Multiples of 90 degrees are
// exact. New corners are white. Images above 1 bit are turned by the image
// library: palette and 16-bit images first become 8-bit grey (when every
// colour is grey) or 24 bits. False for empty images and angles that are not
// finite; the memory message when the new image cannot be made.
[[nodiscard]] bool Rotate(CRasterSrc& image, double degrees, RasterProgress progress = nullptr);
// The same for 1-bit images: nearest pixel, sampled at pixel centres.
[[nodiscard]] bool Rotate1Bit(CRasterSrc& image, double degrees, RasterProgress progress = nullptr);
