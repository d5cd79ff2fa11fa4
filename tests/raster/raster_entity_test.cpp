#include "raster/raster_entity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "model/byte_buffer.h"
#include "model/recording_device.h"
#include "model/test_entity.h"
#include "raster_test_support.h"

namespace {

std::string SaveToBytes(CRaster& raster)
{
    bool ok = false;
    std::string bytes = WriteToBytes([&](std::FILE* f) { return raster.Save(f); }, &ok);
    EXPECT_TRUE(ok);
    return bytes;
}

// Loads a record (type code first, as the project file holds it).
bool LoadFromBytes(CRaster& raster, const std::string& bytes)
{
    FilePtr file = OpenBytes(bytes);
    std::uint32_t type = 0;
    return ReadProjectU32(file.get(), type) && type == ENTITY_RASTER && raster.Load(file.get());
}

// Size of the common entity record, type code included.
constexpr std::size_t kEntityHeader = 34;
constexpr std::size_t kPlacement = 24;  // origin and resolution

std::string Le32(std::uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

// A record carrying the given bytes as its DIB block (packed here).
std::string RecordWithBlock(const std::string& dib, const std::string& tail = std::string(2, '\0'))
{
    CRaster empty;
    std::string record = SaveToBytes(empty);
    record.resize(record.size() - 4);  // drop the zero length
    CByteBuffer packed;
    auto* copy = static_cast<std::uint8_t*>(std::malloc(dib.size()));
    std::memcpy(copy, dib.data(), dib.size());
    packed.SetBlock(copy, static_cast<std::uint32_t>(dib.size()));
    EXPECT_TRUE(packed.Compress(false));
    record += Le32(packed.GetSize());
    record.append(reinterpret_cast<const char*>(packed.GetData()), packed.GetSize());
    return record + tail;
}

// A plain DIB block: header, table and rows as stated, of `size` bytes.
std::string DibBlock(int width, int height, int bits, std::uint32_t colours, std::size_t size)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bits);
    h.biClrUsed = colours;
    std::string block(std::max(size, sizeof h), '\0');
    std::memcpy(block.data(), &h, sizeof h);
    block.resize(size);
    return block;
}

std::vector<BYTE> AllPixels(const CRasterSrc& image)
{
    std::vector<BYTE> pixels;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x) {
            BYTE bgr[3];
            image.GetPixelBGR(x, y, bgr);
            pixels.insert(pixels.end(), bgr, bgr + 3);
        }
    return pixels;
}

// ---- placing and drawing ------------------------------------------------------

TEST(RasterEntity, WorldPointsMapToPixelsRoundingHalfUpFromTheTop)
{
    CRaster raster;
    ASSERT_TRUE(raster.GetImage().Create(20, 10, 8));
    ASSERT_TRUE(raster.SetOrigin(100, 50));
    EXPECT_EQ(raster.WorldToColumn(100 + 0.49), 0);
    EXPECT_EQ(raster.WorldToRow(50 + 10 - 0.51), 1);
    EXPECT_EQ(raster.WorldToColumn(100 + 0.5), 1);
    EXPECT_EQ(raster.WorldToRow(50 + 10 - 0.5), 0);
    // Far away and damaged coordinates saturate instead of overflowing.
    EXPECT_LT(raster.WorldToColumn(-1e300), -1000000);
    EXPECT_GT(raster.WorldToColumn(1e300), 1000000);
    EXPECT_LT(raster.WorldToColumn(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_FALSE(raster.SetOrigin(std::numeric_limits<double>::infinity(), 0));
    EXPECT_EQ(raster.GetOriginX(), 100);
}

TEST(RasterEntity, ExtentsCoverThePictureAndWidenAnAccumulator)
{
    CRaster raster;
    double box[4] = {9, 9, 9, 9};
    EXPECT_FALSE(raster.GetExtents(nullptr, box));
    EXPECT_EQ(std::vector<double>(box, box + 4), std::vector<double>(4, 0.0));

    ASSERT_TRUE(raster.GetImage().Create(30, 20, 1));
    ASSERT_TRUE(raster.SetOrigin(-5, 2));
    double merge[4] = {0, 10, 10, 40};
    ASSERT_TRUE(raster.GetExtents(merge, box));
    EXPECT_EQ(std::vector<double>(box, box + 4), (std::vector<double>{-5, 25, 2, 22}));
    EXPECT_EQ(std::vector<double>(merge, merge + 4), (std::vector<double>{-5, 25, 2, 40}));
}

TEST(RasterEntity, DrawsTheImageThenAShadowedFrame)
{
    CRaster raster;
    CRecordingDevice device;
    raster.Draw(&device);
    EXPECT_TRUE(device.calls.empty());

    ASSERT_TRUE(raster.GetImage().Create(30, 20, 1));
    ASSERT_TRUE(raster.SetOrigin(1.5, -2));
    raster.Draw(&device);
    raster.SetScaledDisplay(false);
    raster.Draw(&device);
    EXPECT_EQ(device.calls, (std::vector<std::string>{
                                "DrawRasterScaled 1.5 -2 image scale=-1 rect=-1,0,-1,0 cache",
                                "DrawShadowFrame (1.5,-2 w0) (31.5,18 w0) rgb=000000",
                                "DrawRaster 1.5 -2 image",
                                "DrawShadowFrame (1.5,-2 w0) (31.5,18 w0) rgb=000000",
                            }));
    EXPECT_TRUE(raster.m_Drawn);
    device.result = false;
    raster.Draw(&device);
    EXPECT_FALSE(raster.m_Drawn);
}

// ---- crop ---------------------------------------------------------------------

TEST(RasterEntity, CropKeepsThePartInsideTheBox)
{
    CRaster raster;
    MakeRandomImage(raster.GetImage(), 40, 30, 8, 3);
    ASSERT_TRUE(raster.SetOrigin(10, 20));
    CRasterSrc original;
    ASSERT_TRUE(original.Copy(raster.GetImage()));
    // Columns 5..15, rows (from the top) 30 - 25 = 5 .. 30 - 22 = 8.
    ASSERT_TRUE(raster.Crop(15, 25, 42, 45));
    EXPECT_EQ(raster.GetImage().GetWidth(), 10);
    EXPECT_EQ(raster.GetImage().GetHeight(), 3);
    EXPECT_EQ(raster.GetImage().GetPixelIndex(0, 0), original.GetPixelIndex(5, 5));
    EXPECT_EQ(raster.GetImage().GetPixelIndex(9, 2), original.GetPixelIndex(14, 7));
    EXPECT_EQ(raster.GetOriginX(), 10);
    EXPECT_EQ(raster.GetCacheScale(), -1.0);
}

TEST(RasterEntity, CropBeyondThePictureIsClampedToIt)
{
    CRaster raster;
    ASSERT_TRUE(raster.GetImage().Create(40, 30, 4));
    ASSERT_TRUE(raster.Crop(-100, 20.2, -100, 100));
    EXPECT_EQ(raster.GetImage().GetWidth(), 20);
    EXPECT_EQ(raster.GetImage().GetHeight(), 30);
}

TEST(RasterEntity, CropOutsideEmptyOrDamagedChangesNothing)
{
    CRaster raster;
    EXPECT_FALSE(raster.Crop(0, 10, 0, 10));  // no image
    ASSERT_TRUE(raster.GetImage().Create(40, 30, 8));
    ASSERT_TRUE(raster.SetOrigin(100, 0));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(raster.Crop(0, 100.4, 0, 30));     // wholly left of the picture
    EXPECT_FALSE(raster.Crop(140, 200, 0, 30));     // wholly right
    EXPECT_FALSE(raster.Crop(100, 140, 30, 60));    // wholly above
    EXPECT_FALSE(raster.Crop(100, 140, -30, 0.4));  // wholly below
    EXPECT_FALSE(raster.Crop(130, 110, 0, 30));     // the wrong way round
    EXPECT_FALSE(raster.Crop(nan, 140, 0, 30));
    EXPECT_EQ(raster.GetImage().GetWidth(), 40);
    EXPECT_EQ(raster.GetImage().GetHeight(), 30);
}

TEST(RasterEntity, LoadImageTakesTheResolutionFromTheFile)
{
    TempFolder folder;
    CRasterSrc image;
    MakeRandomImage(image, 7, 5, 24, 11);
    ASSERT_TRUE(image.SetResolution(11811));  // 300 dpi
    ASSERT_TRUE(image.SaveBMP(folder / "scan.bmp"));

    CRaster raster;
    ASSERT_TRUE(raster.LoadImage(3, 4, folder / "scan.bmp"));
    EXPECT_EQ(raster.GetResolutionX(), 11811u);
    EXPECT_EQ(raster.GetResolutionY(), 11811u);
    EXPECT_EQ(raster.GetOriginY(), 4);
    EXPECT_EQ(AllPixels(raster.GetImage()), AllPixels(image));

    MessageRecorder messages;
    EXPECT_FALSE(raster.LoadImage(0, 0, folder / "missing.bmp"));
    EXPECT_EQ(raster.GetResolutionX(), 0u);
    EXPECT_EQ(raster.GetResolutionY(), 0u);
}

// ---- project record -----------------------------------------------------------

TEST(RasterRecord, AnEmptyRasterStoresPlacementAndAZeroLength)
{
    CRaster raster;
    ASSERT_TRUE(raster.SetOrigin(1.25, -3));
    raster.SetResolution(7874, 3937);
    raster.m_Id = 77;
    const std::string bytes = SaveToBytes(raster);
    ASSERT_EQ(bytes.size(), kEntityHeader + kPlacement + 4);
    EXPECT_EQ(bytes.substr(0, 4), Le32(ENTITY_RASTER));
    EXPECT_EQ(bytes.substr(kEntityHeader + 16, 8), Le32(7874) + Le32(3937));
    EXPECT_EQ(bytes.substr(bytes.size() - 4), Le32(0));

    CRaster loaded;
    MakeRandomImage(loaded.GetImage(), 4, 4, 8, 1);  // replaced by the record
    ASSERT_TRUE(LoadFromBytes(loaded, bytes));
    EXPECT_TRUE(loaded.GetImage().IsEmpty());
    EXPECT_EQ(loaded.m_Id, 77u);
    EXPECT_EQ(loaded.GetOriginX(), 1.25);
    EXPECT_EQ(loaded.GetResolutionY(), 3937u);
    EXPECT_EQ(SaveToBytes(loaded), bytes);
}

TEST(RasterRecord, EveryDepthRoundTripsByteForByte)
{
    for (int bits : kAllDepths) {
        SCOPED_TRACE(bits);
        CRaster raster;
        MakeRandomImage(raster.GetImage(), 13, 7, bits, 40 + bits);
        ASSERT_TRUE(raster.SetOrigin(-2.5, 8));
        raster.SetResolution(11811, 11812);
        raster.GetImage().SetReservedFlag(1);
        const std::string bytes = SaveToBytes(raster);

        CRaster loaded;
        ASSERT_TRUE(LoadFromBytes(loaded, bytes));
        EXPECT_EQ(loaded.GetImage().GetBitCount(), bits);
        EXPECT_EQ(AllPixels(loaded.GetImage()), AllPixels(raster.GetImage()));
        EXPECT_EQ(loaded.GetImage().GetReservedFlag(), 1);
        EXPECT_EQ(loaded.GetImage().GetPaletteDimmed(), 0);
        EXPECT_EQ(SaveToBytes(loaded), bytes);
    }
}

TEST(RasterRecord, ADimmedPaletteShowsGrey210AfterLoading)
{
    CRaster raster;
    MakeRandomImage(raster.GetImage(), 16, 3, 1, 5);
    const BYTE dark[3] = {30, 20, 10};
    ASSERT_TRUE(raster.GetImage().SetPaletteEntry(1, dark));
    raster.GetImage().SetPaletteDimmed(1);
    const std::string bytes = SaveToBytes(raster);

    CRaster loaded;
    ASSERT_TRUE(LoadFromBytes(loaded, bytes));
    const RGBQUAD& entry = loaded.GetImage().GetPalette()[1];
    EXPECT_EQ(entry.rgbRed, 210);
    EXPECT_EQ(entry.rgbGreen, 210);
    EXPECT_EQ(entry.rgbBlue, 210);
    EXPECT_EQ(loaded.GetImage().GetPaletteDimmed(), 1);
}

TEST(RasterRecord, EveryTruncatedPrefixFailsCleanly)
{
    CRaster raster;
    MakeRandomImage(raster.GetImage(), 21, 9, 8, 77);
    raster.GetImage().SetReservedFlag(1);
    raster.GetImage().SetPaletteDimmed(1);
    const std::string bytes = SaveToBytes(raster);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        SCOPED_TRACE(n);
        CRaster loaded;
        const bool ok = LoadFromBytes(loaded, bytes.substr(0, n));
        if (n >= bytes.size() - 2) {
            // Only the flags are missing: the image loads, the flags stay clear.
            EXPECT_TRUE(ok);
            EXPECT_EQ(AllPixels(loaded.GetImage()), AllPixels(raster.GetImage()));
            EXPECT_EQ(loaded.GetImage().GetReservedFlag(), 0);
            EXPECT_EQ(loaded.GetImage().GetPaletteDimmed(), 0);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(loaded.GetImage().IsEmpty());
        }
    }
}

TEST(RasterRecord, LengthsThatPromiseMoreThanTheRecordHoldsFail)
{
    CRaster empty;
    std::string head = SaveToBytes(empty);
    head.resize(head.size() - 4);
    CRaster loaded;
    EXPECT_FALSE(LoadFromBytes(loaded, head + Le32(0xFFFFFFFFu) + "tiny"));
    // A packed block whose stated unpacked length is far beyond what zlib
    // could expand it to.
    EXPECT_FALSE(LoadFromBytes(loaded, head + Le32(10) + Le32(0x7FFFFFFF) + "xxxxxx"));
    EXPECT_TRUE(loaded.GetImage().IsEmpty());
}

TEST(RasterRecord, DamagedImageBlocksAreRefusedWithoutAMessage)
{
    MessageRecorder messages;
    const std::size_t header = sizeof(BITMAPINFOHEADER);
    struct Case {
        const char* what;
        std::string block;
    };
    std::string wrongSize = DibBlock(8, 8, 8, 0, header + 1024 + 64);
    wrongSize[0] = 12;
    std::string compressed = DibBlock(8, 8, 8, 0, header + 1024 + 64);
    compressed[16] = 1;  // biCompression = BI_RLE8
    std::string planes = DibBlock(8, 8, 8, 0, header + 1024 + 64);
    planes[12] = 2;
    const Case cases[] = {
        {"shorter than a header", std::string(20, '\0')},
        {"old header size", wrongSize},
        {"run-length compressed", compressed},
        {"two planes", planes},
        {"three bits", DibBlock(8, 8, 3, 0, header + 64 + 32)},
        {"zero width", DibBlock(0, 8, 8, 0, header + 1024)},
        {"negative height", DibBlock(8, -8, 8, 0, header + 1024 + 64)},
        {"table beyond the depth", DibBlock(8, 8, 4, 17, header + 17 * 4 + 32)},
        {"rows beyond the block", DibBlock(8, 8, 8, 0, header + 1024 + 63)},
        // Unpacked only as far as its header declares: longer is damage.
        {"longer than its image", DibBlock(8, 8, 8, 0, header + 1024 + 64 + 1)},
        {"a side no raster file may have", DibBlock(1000001, 1, 1, 0, header + 8 + 125004)},
        {"huge width", DibBlock(0x7FFFFFFF, 1, 1, 0, header + 8 + 64)},
        {"huge height", DibBlock(1, 0x7FFFFFFF, 24, 0, header + 64)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CRaster loaded;
        EXPECT_FALSE(LoadFromBytes(loaded, RecordWithBlock(c.block)));
        EXPECT_TRUE(loaded.GetImage().IsEmpty());
    }
    EXPECT_TRUE(messages.messages.empty());

    // The smallest sound block loads.
    CRaster loaded;
    ASSERT_TRUE(LoadFromBytes(loaded, RecordWithBlock(DibBlock(8, 8, 8, 0, header + 1024 + 64))));
    EXPECT_EQ(loaded.GetImage().GetWidth(), 8);
}

TEST(RasterRecord, ACorruptZlibStreamFails)
{
    CRaster raster;
    MakeRandomImage(raster.GetImage(), 30, 30, 24, 9);
    std::string bytes = SaveToBytes(raster);
    const std::size_t streamStart = kEntityHeader + kPlacement + 4 + 4;
    for (std::size_t i = streamStart + 2; i < bytes.size() - 2; i += 7)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    CRaster loaded;
    EXPECT_FALSE(LoadFromBytes(loaded, bytes));
    EXPECT_TRUE(loaded.GetImage().IsEmpty());
}

TEST(RasterRecord, DamagedOriginsBecomeZero)
{
    CRaster raster;
    ASSERT_TRUE(raster.SetOrigin(4, 5));
    std::string bytes = SaveToBytes(raster);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::memcpy(bytes.data() + kEntityHeader, &nan, sizeof nan);
    CRaster loaded;
    ASSERT_TRUE(LoadFromBytes(loaded, bytes));
    EXPECT_EQ(loaded.GetOriginX(), 0.0);
    EXPECT_EQ(loaded.GetOriginY(), 5.0);
}

TEST(RasterRecord, TheFactoryReadsARasterRecord)
{
    CRaster raster;
    MakeRandomImage(raster.GetImage(), 5, 5, 4, 2);
    const std::string bytes = SaveToBytes(raster);
    FilePtr file = OpenBytes(bytes);
    std::unique_ptr<CEntity> entity = CreateEntityFromProject(file.get());
    auto* loaded = dynamic_cast<CRaster*>(entity.get());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(AllPixels(loaded->GetImage()), AllPixels(raster.GetImage()));
    EXPECT_EQ(loaded->m_Type, ENTITY_RASTER);
    FilePtr truncated = OpenBytes(bytes.substr(0, bytes.size() / 2));
    EXPECT_EQ(CreateEntityFromProject(truncated.get()), nullptr);
}

}  // namespace
