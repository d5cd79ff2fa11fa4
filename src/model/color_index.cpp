#include "model/color_index.h"

#include "model/text_table.h"

#include <array>
#include <atomic>
#include <cmath>

namespace {

constexpr COLORREF kByLayerGrey = RGB(0xDE, 0xDE, 0xDE);
constexpr int kHueCount = 24;
constexpr int kShadesPerHue = 10;
constexpr int kFirstHueIndex = 10;
constexpr int kFirstGreyIndex = 250;
// Brightness (the largest channel) of the shade pairs of a hue.
constexpr double kShadeBrightness[5] = {255, 166, 128, 76, 38};
constexpr BYTE kGreys[6] = {84, 118, 152, 187, 221, 255};

std::atomic<COLORREF> viewBackground{RGB(255, 255, 255)};

BYTE RoundChannel(double v) { return static_cast<BYTE>(std::floor(v + 0.5)); }

// Hue h of 24 runs round the wheel in 15 degree steps from red; each channel
// is a fraction 0, 1/4 .. 1 of the brightness. Odd shades are half-saturated:
// the weaker channels go half way up to the brightness.
COLORREF HueColor(int index)
{
    int hue = (index - kFirstHueIndex) / kShadesPerHue;
    int shade = (index - kFirstHueIndex) % kShadesPerHue;
    double brightness = kShadeBrightness[shade / 2];
    int sector = hue / 4;
    double f = (hue % 4) / 4.0;
    double r = 0, g = 0, b = 0;
    switch (sector) {
    case 0:
        r = 1;
        g = f;
        break;
    case 1:
        r = 1 - f;
        g = 1;
        break;
    case 2:
        g = 1;
        b = f;
        break;
    case 3:
        g = 1 - f;
        b = 1;
        break;
    case 4:
        r = f;
        b = 1;
        break;
    default:
        r = 1;
        b = 1 - f;
        break;
    }
    r *= brightness;
    g *= brightness;
    b *= brightness;
    if (shade % 2) {
        r = (r + brightness) / 2;
        g = (g + brightness) / 2;
        b = (b + brightness) / 2;
    }
    return RGB(RoundChannel(r), RoundChannel(g), RoundChannel(b));
}

std::array<COLORREF, 256> BuildPalette()
{
    std::array<COLORREF, 256> palette{};
    palette[1] = RGB(255, 0, 0);
    palette[2] = RGB(255, 255, 0);
    palette[3] = RGB(0, 255, 0);
    palette[4] = RGB(0, 255, 255);
    palette[5] = RGB(0, 0, 255);
    palette[6] = RGB(255, 0, 255);
    palette[7] = RGB(255, 255, 255);
    palette[8] = RGB(152, 152, 152);
    palette[9] = RGB(192, 192, 192);
    for (int i = kFirstHueIndex; i < kFirstHueIndex + kHueCount * kShadesPerHue; ++i)
        palette[i] = HueColor(i);
    for (int i = 0; i < 6; ++i)
        palette[kFirstGreyIndex + i] = RGB(kGreys[i], kGreys[i], kGreys[i]);
    return palette;
}

std::string ColorName(int index)
{
    switch (index) {
    case kColorByLayer: return GetLanString("clByLayer", "Bylayer");
    case 1: return GetLanString("clRed", "Red");
    case 2: return GetLanString("clYellow", "Yellow");
    case 3: return GetLanString("clGreen", "green");
    case 4: return GetLanString("clAqua", "Aqua");
    case 5: return GetLanString("clBlue", "Blue");
    case 6: return GetLanString("clFuchsia", "Fuchsia");
    case 7: return GetLanString("clWhite", "White");
    case 8: return GetLanString("clDarkGray", "Dark Gray");
    default: return GetLanString("clColor", "Color") + " " + std::to_string(index);
    }
}

}  // namespace

COLORREF ColorIndexToRGB(int index, std::string* name, bool white)
{
    static const std::array<COLORREF, 256> palette = BuildPalette();
    if (index < 1)
        index = kColorByLayer;
    if (name)
        *name = ColorName(index > 255 ? kColorByLayer : index);
    if (index > 255)
        return kByLayerGrey;
    if (index == kColorWhite && !white)
        return GetGrayLevel(GetViewBackgroundColor()) < 129 ? RGB(255, 255, 255) : RGB(0, 0, 0);
    return palette[index];
}

void SetViewBackgroundColor(COLORREF color) { viewBackground.store(color); }

COLORREF GetViewBackgroundColor() { return viewBackground.load(); }
