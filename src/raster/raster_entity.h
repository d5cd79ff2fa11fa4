#pragma once
// CRaster: the entity that places a raster image in the drawing.
//
// One image pixel is one world unit: the picture covers
// [originX, originX + width] x [originY, originY + height], y up, with row 0
// of the image at the top. The entity owns the working image (CRasterSrc) and
// a display copy that the device keeps up to date together with its scale and
// source rectangle; every pixel edit and crop marks that copy stale.
//
// World to pixel: column = trunc(x - originX + 0.5),
//                 row = height - trunc(y - originY + 0.5).
#include <cstdint>
#include <cstdio>
#include <string>

#include "model/entity.h"
#include "raster/dib.h"
#include "raster/raster_src.h"

class CRaster : public CEntity {
public:
    // A display cache scale that marks the display copy stale.
    static constexpr double kCacheInvalid = -1.0;
    // The grey that a dimmed 1-bit palette shows for black.
    static constexpr BYTE kDimmedGrey = 210;

    CRaster();
    ~CRaster() override;

    // ---- entity operations ------------------------------------------------

    // Nothing without pixels. Else the image, through the display cache when
    // scaled display is on, then a shadowed frame round the picture.
    void Draw(CFrDevice* device) override;
    // The picture's box. False, with a box of zeros, without an image.
    bool GetExtents(double* merge, double* box) override;
    // The project record: the common entity record, then origin, resolution
    // and the image as a packed DIB block with its two flags. Load checks
    // every size against the data before it allocates and fails cleanly on
    // truncated or damaged records (leaving an empty image).
    [[nodiscard]] bool Load(std::FILE* file) override;
    [[nodiscard]] bool Save(std::FILE* file) override;

    // ---- own operations ---------------------------------------------------

    // Sets the origin and loads the image file; the resolution comes from its
    // header (0 and false when the file does not load).
    [[nodiscard]] bool LoadImage(double originX, double originY, const std::string& fileName);
    // Keeps the part of the picture inside the world box. False, nothing
    // changed, when the box misses the picture, is empty or not finite. The
    // origin stays where it is.
    [[nodiscard]] bool Crop(double xMin, double xMax, double yMin, double yMax);

    // Image pixel of a world coordinate (saturated far outside the picture).
    [[nodiscard]] int WorldToColumn(double x) const;
    [[nodiscard]] int WorldToRow(double y) const;

    // World-coordinate front ends of the image's edits (raster_edit.cpp):
    // each converts its points to pixels, marks the display copy stale and
    // calls the CRasterSrc operation of the same name.
    bool BeginErase(double x, double y);
    bool EraseTo(double x, double y);
    bool EndErase(CUndoList* undoList);
    bool FillPolygon(CUndoList* undoList, std::span<const frDoublePoint> points, DWORD colour);

    // The display copy no longer matches the image.
    void InvalidateDisplayCache() { m_CacheScale = kCacheInvalid; }
    [[nodiscard]] double GetCacheScale() const { return m_CacheScale; }

    CRasterSrc& GetImage() { return m_Image; }
    [[nodiscard]] const CRasterSrc& GetImage() const { return m_Image; }
    [[nodiscard]] double GetOriginX() const { return m_OriginX; }
    [[nodiscard]] double GetOriginY() const { return m_OriginY; }
    // False, unchanged, for a coordinate that is not finite.
    bool SetOrigin(double x, double y);
    [[nodiscard]] std::uint32_t GetResolutionX() const { return m_ResolutionX; }
    [[nodiscard]] std::uint32_t GetResolutionY() const { return m_ResolutionY; }
    void SetResolution(std::uint32_t x, std::uint32_t y)
    {
        m_ResolutionX = x;
        m_ResolutionY = y;
    }
    [[nodiscard]] bool GetScaledDisplay() const { return m_ScaledDisplay != 0; }
    void SetScaledDisplay(bool on) { m_ScaledDisplay = on ? 1 : 0; }

private:
    [[nodiscard]] bool LoadImageBlock(std::FILE* file, std::uint32_t packedLength);

    CRasterSrc m_Image;
    double m_OriginX = 0.0;
    double m_OriginY = 0.0;
    std::uint32_t m_ResolutionX = 0;  // dots per metre, from the file header
    std::uint32_t m_ResolutionY = 0;
    std::uint32_t m_ScaledDisplay = 1;
    double m_CacheScale = kCacheInvalid;
    std::int32_t m_CacheRect[4] = {-1, 0, -1, 0};  // left, top, right, bottom
    CDib m_Display;
};
