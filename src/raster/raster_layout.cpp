#include "raster/freeimage_api.h"

#include "raster/raster_layout.h"

#include "model/text_table.h"
#include "raster/pixel_format.h"
#include "raster/pixel_math.h"

#include <climits>

namespace {

constexpr unsigned kMask565Red = 0xF800;
constexpr unsigned kMask565Green = 0x07E0;
constexpr unsigned kMask565Blue = 0x001F;

bool Is555(FIBITMAP* bitmap)
{
    return FreeImage_GetRedMask(bitmap) == kMask555Red && FreeImage_GetGreenMask(bitmap) == kMask555Green &&
           FreeImage_GetBlueMask(bitmap) == kMask555Blue;
}

bool Is565(FIBITMAP* bitmap)
{
    return FreeImage_GetRedMask(bitmap) == kMask565Red && FreeImage_GetGreenMask(bitmap) == kMask565Green &&
           FreeImage_GetBlueMask(bitmap) == kMask565Blue;
}

bool IsCmyk(FIBITMAP* bitmap)
{
    FIICCPROFILE* profile = FreeImage_GetICCProfile(bitmap);
    return profile && (profile->flags & FIICC_COLOR_IS_CMYK) != 0;
}

FIBITMAP* Replace(FIBITMAP* bitmap, FIBITMAP* converted)
{
    FreeImage_Unload(bitmap);
    return converted;
}

FIBITMAP* Refuse(FIBITMAP* bitmap, std::string* why, const char* key, const char* englishDefault)
{
    FreeImage_Unload(bitmap);
    if (why)
        *why = GetLanString(key, englishDefault);
    return nullptr;
}

}  // namespace

bool IsHeldRasterLayout(FIBITMAP* bitmap)
{
    if (!bitmap || !FreeImage_HasPixels(bitmap) || FreeImage_GetImageType(bitmap) != FIT_BITMAP)
        return false;
    unsigned width = FreeImage_GetWidth(bitmap);
    unsigned height = FreeImage_GetHeight(bitmap);
    if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX)
        return false;
    if (!FreeImage_GetInfoHeader(bitmap) || !FreeImage_GetBits(bitmap))
        return false;
    // A bitmap whose rows are shorter than its width is broken, whoever made it.
    if (FreeImage_GetPitch(bitmap) <
        AlignedRowBytes(static_cast<int>(FreeImage_GetBPP(bitmap)), static_cast<int>(width)))
        return false;
    switch (FreeImage_GetBPP(bitmap)) {
    case 1:
    case 4:
    case 8: {
        unsigned entries = 1u << FreeImage_GetBPP(bitmap);
        return FreeImage_GetPalette(bitmap) && FreeImage_GetColorsUsed(bitmap) >= entries;
    }
    case 16: return Is555(bitmap);
    case 24: return true;
    case 32: return !IsCmyk(bitmap);
    default: return false;
    }
}

FIBITMAP* NormaliseRasterBitmap(FIBITMAP* bitmap, std::string* why)
{
    if (!bitmap)
        return nullptr;
    if (!FreeImage_HasPixels(bitmap))
        return Refuse(bitmap, why, "RasterLayoutNoPixels", "the file holds no pixels");
    switch (FreeImage_GetImageType(bitmap)) {
    case FIT_BITMAP: break;
    case FIT_UINT16: {
        // 16-bit grey keeps its top 8 bits.
        FIBITMAP* grey = FreeImage_ConvertTo8Bits(bitmap);
        return grey ? NormaliseRasterBitmap(Replace(bitmap, grey), why)
                    : Refuse(bitmap, why, "RasterLayoutGrey16", "16-bit grey could not be converted");
    }
    case FIT_RGB16: {
        FIBITMAP* rgb = FreeImage_ConvertTo24Bits(bitmap);
        return rgb ? NormaliseRasterBitmap(Replace(bitmap, rgb), why)
                   : Refuse(bitmap, why, "RasterLayoutRgb48", "48-bit colour could not be converted");
    }
    case FIT_RGBA16: {
        FIBITMAP* rgba = FreeImage_ConvertTo32Bits(bitmap);
        return rgba ? NormaliseRasterBitmap(Replace(bitmap, rgba), why)
                    : Refuse(bitmap, why, "RasterLayoutRgba64", "64-bit colour could not be converted");
    }
    default: return Refuse(bitmap, why, "RasterLayoutType", "the pixels are not stored as 1 to 32-bit colour or grey");
    }
    unsigned bpp = FreeImage_GetBPP(bitmap);
    if (bpp == 16 && Is565(bitmap)) {
        FIBITMAP* rgb = FreeImage_ConvertTo24Bits(bitmap);
        return rgb ? NormaliseRasterBitmap(Replace(bitmap, rgb), why)
                   : Refuse(bitmap, why, "RasterLayout565", "5-6-5 colour could not be converted");
    }
    if (bpp == 32 && IsCmyk(bitmap))
        return Refuse(bitmap, why, "RasterLayoutCmyk", "CMYK colour is not supported");
    if (bpp == 16 && !Is555(bitmap))
        return Refuse(bitmap, why, "RasterLayoutMasks", "16-bit colour with unusual channel masks is not supported");
    if (!IsHeldRasterLayout(bitmap))
        return Refuse(bitmap, why, "RasterLayoutOther", "the pixel layout is not supported");
    return bitmap;
}
