// Resampling: the seven kernels and CRasterSrc::Resample, which checks its
// arguments, builds the new image beside the old one through the separable
// kernel (resample_kernel.cpp) and only then puts it in the old one's place.
#include "raster/resample.h"

#include "model/constants.h"
#include "model/text_table.h"
#include "platform/message_box.h"
#include "raster/raster_src.h"
#include "raster/resample_kernel.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <new>

namespace {

constexpr float kPiF = static_cast<float>(PI);
constexpr float kLanczosLobes = 3.0f;
constexpr float kOneThird = 1.0f / 3.0f;
constexpr int kMaxResampleSide = 1000000;

// sin(pi x) / (pi x), 1 at 0.
float Sinc(float x)
{
    if (x == 0.0f)
        return 1.0f;
    const float a = kPiF * x;
    return std::sin(a) / a;
}

struct FilterName {
    std::string_view name;
    int index;
};

constexpr std::array<std::string_view, kStretchFilterCount> kFilterNames = {"triangle", "box",      "hermite", "bell",
                                                                            "spline",   "lanczos3", "mitchell"};
constexpr std::array<FilterName, 2> kFilterAliases = {{{"bspline", 4}, {"lanczos", 5}}};

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

void Report(RasterProgress progress, const std::string& text, int percent)
{
    if (progress)
        progress(text, percent);
}

}  // namespace

float CTriangleFilter::Filter(float t) const
{
    t = std::fabs(t);
    return t < 1.0f ? 1.0f - t : 0.0f;
}

float CBoxFilter::Filter(float t) const { return t > -0.5f && t <= 0.5f ? 1.0f : 0.0f; }

float CHermiteFilter::Filter(float t) const
{
    t = std::fabs(t);
    return t < 1.0f ? (2.0f * t - 3.0f) * t * t + 1.0f : 0.0f;
}

float CBellFilter::Filter(float t) const
{
    t = std::fabs(t);
    if (t < 0.5f)
        return 0.75f - t * t;
    if (t < 1.5f) {
        const float d = t - 1.5f;
        return 0.5f * d * d;
    }
    return 0.0f;
}

float CSplineFilter::Filter(float t) const
{
    t = std::fabs(t);
    if (t < 1.0f)
        return 0.5f * t * t * t - t * t + 2.0f / 3.0f;
    if (t < 2.0f) {
        const float d = 2.0f - t;
        return d * d * d / 6.0f;
    }
    return 0.0f;
}

float CLanczos3Filter::Filter(float t) const
{
    t = std::fabs(t);
    return t < kLanczosLobes ? Sinc(t) * Sinc(t / kLanczosLobes) : 0.0f;
}

float CMitchellFilter::Filter(float t) const
{
    // Both parameters 1/3, the pair its authors recommend.
    t = std::fabs(t);
    const float t2 = t * t;
    if (t < 1.0f)
        return (7.0f * t2 * t - 12.0f * t2 + 16.0f * kOneThird) / 6.0f;
    if (t < 2.0f)
        return (-7.0f * kOneThird * t2 * t + 12.0f * t2 - 20.0f * t + 32.0f * kOneThird) / 6.0f;
    return 0.0f;
}

std::unique_ptr<CStrecthFilter> CreateStretchFilter(int index)
{
    switch (index) {
    case 0: return std::unique_ptr<CStrecthFilter>(new (std::nothrow) CTriangleFilter);
    case 1: return std::unique_ptr<CStrecthFilter>(new (std::nothrow) CBoxFilter);
    case 2: return std::unique_ptr<CStrecthFilter>(new (std::nothrow) CHermiteFilter);
    case 3: return std::unique_ptr<CStrecthFilter>(new (std::nothrow) CBellFilter);
    case 4: return std::unique_ptr<CStrecthFilter>(new (std::nothrow) CSplineFilter);
    case 5: return std::unique_ptr<CStrecthFilter>(new (std::nothrow) CLanczos3Filter);
    case 6: return std::unique_ptr<CStrecthFilter>(new (std::nothrow) CMitchellFilter);
    default: return nullptr;
    }
}

std::string_view GetStretchFilterName(int index)
{
    return index >= 0 && index < kStretchFilterCount ? kFilterNames[static_cast<std::size_t>(index)]
                                                     : std::string_view{};
}

int FindStretchFilter(std::string_view name)
{
    for (int i = 0; i < kStretchFilterCount; ++i)
        if (SameName(name, kFilterNames[static_cast<std::size_t>(i)]))
            return i;
    for (const FilterName& alias : kFilterAliases)
        if (SameName(name, alias.name))
            return alias.index;
    return -1;
}

bool CRasterSrc::Resample(int newWidth, int newHeight, LONG dotsPerMetre, const CStrecthFilter& kernel,
                          RasterProgress progress)
{
    if (!m_bitmap)
        return false;
    // Everything is checked before anything changes: the image stays as it
    // was on every failure.
    if (newWidth < 1 || newHeight < 1 || newWidth > kMaxResampleSide || newHeight > kMaxResampleSide) {
        ShowMessageBox(
            GetLanString("RasterResampleSizeMsg", "The new size must be from 1 to 1000000 pixels in each direction!"),
            "Lineweft", MB_OK | MB_ICONERROR);
        return false;
    }
    if (!(kernel.support > 0.0f && kernel.support <= kMaxStretchSupport))
        return false;

    const std::string text = GetLanString("RasterResample1", "Resample step 1:");
    Report(progress, text, 0);
    // Images of 8 bits or fewer are filtered as grey levels; say so when
    // that changes colours, which the grey ramp and one bit do not.
    if (m_bitCount == 4 || (m_bitCount == 8 && !IsGreyRamp()))
        ShowMessageBox(GetLanString("RasterConvertGrayMsg", "Convert image to gray !!!"), "Lineweft", MB_OK);
    Report(progress, text, 50);

    CRasterSrc result;
    if (!result.Create(newWidth, newHeight, m_bitCount <= 8 ? 8 : m_bitCount))
        return false;
    if (result.GetBitCount() == 8)
        result.SetGreyRamp();
    Report(progress, text, 100);

    if (!ResampleInto(*this, result, kernel, progress)) {
        ShowNoMemoryMessage();
        return false;
    }
    if (dotsPerMetre > 0)
        (void)result.SetResolution(dotsPerMetre);
    else
        CopyResolutionTo(result);
    return ReplaceBitmap(result.Detach());
}
