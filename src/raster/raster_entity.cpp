// The raster entity: placing, drawing, cropping and storing the image.
//
// Project record, after the common entity record:
//   f64 origin x, f64 origin y, u32 resolution x, u32 resolution y,
//   u32 packed length N (0: no image, the record ends here),
//   N bytes: the packed DIB block (u32 unpacked length, zlib stream) of
//     BITMAPINFOHEADER, colour table and bottom-up rows padded to 4 bytes,
//   u8 reserved flag, u8 palette dimmed (both may be missing).
#include "raster/raster_entity.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "model/byte_buffer.h"
#include "model/device.h"
#include "raster/raster_decoders.h"

namespace {

static_assert(sizeof(BITMAPINFOHEADER) == 40, "the DIB block starts with the 40-byte header");
static_assert(sizeof(RGBQUAD) == 4);

// Pixel positions are kept well inside int, so that width and height can be
// added to them without overflow.
constexpr double kPixelLimit = 1 << 30;

// A packed block is read in pieces of this size, so that a length field that
// promises more than the file holds costs no more memory than the file.
constexpr std::size_t kReadPiece = std::size_t{1} << 20;

int SaturatedPixel(double v)
{
    if (!(v > -kPixelLimit))
        return static_cast<int>(-kPixelLimit);  // NaN too
    if (v > kPixelLimit)
        return static_cast<int>(kPixelLimit);
    return static_cast<int>(v);
}

bool IsHeldDepth(int bits)
{
    switch (bits) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32: return true;
    default: return false;
    }
}

std::uint64_t PaletteEntries(int bits) { return bits <= 8 ? std::uint64_t{1} << bits : 0; }

std::uint64_t PaddedRowBytes(std::uint64_t width, int bits)
{
    return (width * static_cast<unsigned>(bits) + 31) / 32 * 4;
}

// The image as one packed DIB block: header, full colour table, rows from the
// bottom. 16-bit images are 5-5-5, which a plain BI_RGB header says.
bool MakeDibBlock(const CRasterSrc& image, CByteBuffer& block)
{
    const BITMAPINFOHEADER* source = image.GetHeader();
    if (source == nullptr)
        return false;
    const int bits = image.GetBitCount();
    const std::uint64_t colours = PaletteEntries(bits);
    const std::uint64_t rowBytes = image.GetRowBytes();
    const std::uint64_t height = static_cast<std::uint64_t>(image.GetHeight());
    const std::uint64_t total = sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD) + rowBytes * height;
    if (total > std::numeric_limits<std::uint32_t>::max() || (colours && !image.GetPalette()))
        return false;

    auto* bytes = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(total)));
    if (bytes == nullptr)
        return false;
    BITMAPINFOHEADER header = *source;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biCompression = BI_RGB;
    header.biClrUsed = static_cast<DWORD>(colours);
    std::uint8_t* at = bytes;
    std::memcpy(at, &header, sizeof header);
    at += sizeof header;
    if (colours) {
        std::memcpy(at, image.GetPalette(), static_cast<std::size_t>(colours * sizeof(RGBQUAD)));
        at += colours * sizeof(RGBQUAD);
    }
    for (int y = image.GetHeight() - 1; y >= 0; --y) {
        std::memcpy(at, image.GetRow(y), static_cast<std::size_t>(rowBytes));
        at += rowBytes;
    }
    block.SetBlock(bytes, static_cast<std::uint32_t>(total));
    return block.Compress(false);
}

// The bytes of the DIB block a header from a file declares: a plain header,
// a depth the image holds, positive sizes, a colour table that fits the depth
// and an image the loaders would allocate (CheckRasterSize); 0 for any other.
std::uint64_t DeclaredDibBytes(const std::uint8_t* header)
{
    BITMAPINFOHEADER h;
    std::memcpy(&h, header, sizeof h);
    const int bits = h.biBitCount;
    if (h.biSize != sizeof h || h.biPlanes != 1 || h.biCompression != BI_RGB || !IsHeldDepth(bits))
        return 0;
    if (h.biWidth <= 0 || h.biHeight <= 0 ||
        CheckRasterSize(h.biWidth, h.biHeight, static_cast<unsigned>(bits), nullptr) != RasterLoadError::kNone)
        return 0;
    const std::uint64_t table = PaletteEntries(bits);
    const std::uint64_t colours = h.biClrUsed ? h.biClrUsed : table;
    if (colours > table)
        return 0;
    const std::uint64_t rows =
        PaddedRowBytes(static_cast<std::uint64_t>(h.biWidth), bits) * static_cast<std::uint64_t>(h.biHeight);
    return sizeof h + colours * sizeof(RGBQUAD) + rows;
}

// Reads n bytes into a block of malloc'd memory, growing it piece by piece.
bool ReadPackedBlock(std::FILE* file, std::uint32_t n, CByteBuffer& out)
{
    std::uint8_t* block = nullptr;
    std::size_t have = 0;
    std::size_t capacity = 0;
    while (have < n) {
        const std::size_t piece = std::min<std::size_t>(n - have, kReadPiece);
        if (have + piece > capacity) {
            const std::size_t grown = std::min<std::size_t>(n, std::max(capacity * 2, have + piece));
            auto* bigger = static_cast<std::uint8_t*>(std::realloc(block, grown));
            if (bigger == nullptr) {
                std::free(block);
                return false;
            }
            block = bigger;
            capacity = grown;
        }
        if (!ReadProjectBytes(file, block + have, piece)) {
            std::free(block);
            return false;
        }
        have += piece;
    }
    out.SetBlock(block, n);
    return true;
}

double InRangeOrZero(double v) { return IsCoordinateInRange(v) ? v : 0.0; }

std::uint32_t DotsPerMetre(LONG v) { return v > 0 ? static_cast<std::uint32_t>(v) : 0; }

}  // namespace

CRaster::CRaster() { m_Type = ENTITY_RASTER; }

CRaster::~CRaster() = default;

// ---- placing --------------------------------------------------------------

int CRaster::WorldToColumn(double x) const { return SaturatedPixel(std::trunc(x - m_OriginX + 0.5)); }

int CRaster::WorldToRow(double y) const
{
    return SaturatedPixel(m_Image.GetHeight() - std::trunc(y - m_OriginY + 0.5));
}

bool CRaster::SetOrigin(double x, double y)
{
    if (!std::isfinite(x) || !std::isfinite(y))
        return false;
    m_OriginX = x;
    m_OriginY = y;
    return true;
}

bool CRaster::GetExtents(double* merge, double* box)
{
    if (m_Image.IsEmpty()) {
        std::fill(box, box + 4, 0.0);
        return false;
    }
    box[EXT_MIN_X] = m_OriginX;
    box[EXT_MAX_X] = m_OriginX + m_Image.GetWidth();
    box[EXT_MIN_Y] = m_OriginY;
    box[EXT_MAX_Y] = m_OriginY + m_Image.GetHeight();
    if (merge)
        MergeExtents(merge, box);
    return true;
}

void CRaster::Draw(CFrDevice* device)
{
    if (device == nullptr || m_Image.IsEmpty()) {
        m_Drawn = false;
        return;
    }
    if (m_ScaledDisplay)
        m_Drawn = device->DrawRasterScaled(m_OriginX, m_OriginY, &m_Image, &m_CacheScale, m_CacheRect, &m_Display);
    else
        m_Drawn = device->DrawRaster(m_OriginX, m_OriginY, &m_Image);
    const CVertex lowerLeft(m_OriginX, m_OriginY, 0, 0, 0);
    const CVertex upperRight(m_OriginX + m_Image.GetWidth(), m_OriginY + m_Image.GetHeight(), 0, 0, 0);
    (void)device->DrawShadowFrame(lowerLeft, upperRight, 0);
}

bool CRaster::LoadImage(double originX, double originY, const std::string& fileName)
{
    m_ResolutionX = m_ResolutionY = 0;
    if (!SetOrigin(originX, originY))
        return false;
    InvalidateDisplayCache();
    if (!m_Image.Load(fileName))
        return false;
    const BITMAPINFOHEADER* header = m_Image.GetHeader();
    m_ResolutionX = DotsPerMetre(header->biXPelsPerMeter);
    m_ResolutionY = DotsPerMetre(header->biYPelsPerMeter);
    return true;
}

bool CRaster::Crop(double xMin, double xMax, double yMin, double yMax)
{
    if (m_Image.IsEmpty() || !std::isfinite(xMin) || !std::isfinite(xMax) || !std::isfinite(yMin) ||
        !std::isfinite(yMax))
        return false;
    const int width = m_Image.GetWidth();
    const int height = m_Image.GetHeight();
    int left = WorldToColumn(xMin);
    int right = WorldToColumn(xMax);
    int top = WorldToRow(yMax);
    int bottom = WorldToRow(yMin);
    if (left >= width || top >= height || right < 1 || bottom < 1)
        return false;
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, width);
    bottom = std::min(bottom, height);
    // A box given the wrong way round would ask for a negative picture.
    if (left >= right || top >= bottom)
        return false;
    InvalidateDisplayCache();
    return m_Image.Crop(left, top, right, bottom);
}

// ---- project record -------------------------------------------------------

bool CRaster::Save(std::FILE* file)
{
    if (!CEntity::Save(file) || !WriteProjectF64(file, m_OriginX) || !WriteProjectF64(file, m_OriginY) ||
        !WriteProjectU32(file, m_ResolutionX) || !WriteProjectU32(file, m_ResolutionY))
        return false;
    if (m_Image.IsEmpty())
        return WriteProjectU32(file, 0);
    CByteBuffer packed;
    if (!MakeDibBlock(m_Image, packed))
        return false;
    return WriteProjectU32(file, packed.GetSize()) && WriteProjectBytes(file, packed.GetData(), packed.GetSize()) &&
           WriteProjectU8(file, m_Image.GetReservedFlag()) && WriteProjectU8(file, m_Image.GetPaletteDimmed());
}

bool CRaster::Load(std::FILE* file)
{
    if (!CEntity::Load(file))
        return false;
    m_Image.Free();
    InvalidateDisplayCache();
    double originX = 0, originY = 0;
    std::uint32_t resolutionX = 0, resolutionY = 0, packedLength = 0;
    if (!ReadProjectF64(file, originX) || !ReadProjectF64(file, originY) || !ReadProjectU32(file, resolutionX) ||
        !ReadProjectU32(file, resolutionY) || !ReadProjectU32(file, packedLength))
        return false;
    if (packedLength != 0 && !LoadImageBlock(file, packedLength))
        return false;
    // A damaged origin would spread NaN or overflow through extents and zoom.
    m_OriginX = InRangeOrZero(originX);
    m_OriginY = InRangeOrZero(originY);
    m_ResolutionX = resolutionX;
    m_ResolutionY = resolutionY;
    return true;
}

bool CRaster::LoadImageBlock(std::FILE* file, std::uint32_t packedLength)
{
    CByteBuffer block;
    if (!ReadPackedBlock(file, packedLength, block))
        return false;
    // The header is checked before the rest is unpacked, and the block must
    // unpack to exactly the image it declares: zlib's ratio alone would let
    // a damaged record of half a megabyte ask for half a gigabyte.
    std::uint8_t header[sizeof(BITMAPINFOHEADER)];
    const std::uint32_t stated = block.GetUnpackedLength();
    if (stated < sizeof header || !block.UnpackHead(header, sizeof header) || DeclaredDibBytes(header) != stated ||
        !block.Decompress(false) || !m_Image.AttachDIBHandle(block.GetData(), block.GetSize()))
        return false;
    // Records written before the flags existed end here.
    std::uint8_t reserved = 0, dimmed = 0;
    if (!ReadProjectU8(file, reserved) || !ReadProjectU8(file, dimmed))
        return true;
    m_Image.SetReservedFlag(reserved);
    m_Image.SetPaletteDimmed(dimmed);
    if (dimmed)
        m_Image.SetPaletteGrey(1, kDimmedGrey);
    return true;
}
