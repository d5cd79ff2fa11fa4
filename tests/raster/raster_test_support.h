#pragma once
// Shared by the raster tests: the library's start-up, a temporary folder,
// recorded message boxes, and random images of every depth with their
// straightforward reference readings.
#include "raster/freeimage_api.h"

#include "platform/message_box.h"
#include "raster/pixel_math.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

class RasterLibraryEnvironment : public ::testing::Environment {
public:
    void SetUp() override { InitRasterLibrary(); }
    void TearDown() override { ReleaseRasterLibrary(); }
};

inline ::testing::Environment* const g_rasterLibraryEnvironment =
    ::testing::AddGlobalTestEnvironment(new RasterLibraryEnvironment);

// A folder of its own for each test, removed afterwards.
class TempFolder {
public:
    TempFolder()
    {
        std::string base = (std::filesystem::temp_directory_path() / "lw-raster-XXXXXX").string();
        if (!mkdtemp(base.data()))
            std::abort();
        m_path = base;
    }
    ~TempFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Records message boxes instead of printing them.
class MessageRecorder {
public:
    MessageRecorder()
    {
        m_previous = SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            messages.push_back(text);
            return IDOK;
        });
    }
    ~MessageRecorder() { SetMessageBoxHook(m_previous); }
    std::vector<std::string> messages;

private:
    MessageBoxHook m_previous;
};

// Fills every stored byte of an image (row padding included, so kernels are
// seen to ignore it) and, below 16 bits, the palette, from a seeded generator.
inline void FillRandom(CRasterSrc& image, unsigned seed)
{
    std::mt19937 random(seed);
    for (int y = 0; y < image.GetHeight(); ++y) {
        BYTE* row = image.GetRow(y);
        for (size_t i = 0; i < image.GetRowBytes(); ++i)
            row[i] = static_cast<BYTE>(random());
    }
    if (image.GetBitCount() > 1 && image.GetBitCount() <= 8) {
        for (unsigned i = 0; i < image.GetColorsUsed(); ++i) {
            BYTE bgr[3] = {static_cast<BYTE>(random()), static_cast<BYTE>(random()), static_cast<BYTE>(random())};
            // Some exact greys so that boundary sums occur.
            if (i % 5 == 0)
                bgr[1] = bgr[2] = bgr[0];
            EXPECT_TRUE(image.SetPaletteEntry(static_cast<int>(i), bgr));
        }
    }
}

inline void MakeRandomImage(CRasterSrc& image, int width, int height, int bitCount, unsigned seed)
{
    ASSERT_TRUE(image.Create(width, height, bitCount));
    FillRandom(image, seed);
}

// The truncated grey of one pixel through the pixel accessors.
inline BYTE ReferenceGrey(const CRasterSrc& image, int x, int y)
{
    BYTE bgr[3];
    EXPECT_TRUE(image.GetPixelColor(x, y, bgr));
    return GreyLevel(bgr[2], bgr[1], bgr[0]);
}

inline BYTE ReferenceRoundedGrey(const CRasterSrc& image, int x, int y)
{
    BYTE bgr[3];
    EXPECT_TRUE(image.GetPixelColor(x, y, bgr));
    return RoundedGreyLevel(bgr[2], bgr[1], bgr[0]);
}

// Every pixel of a 1-bit image as 0 or 1, row by row.
inline std::vector<int> Bits(const CRasterSrc& image)
{
    std::vector<int> bits;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            bits.push_back(image.GetPixelIndex(x, y));
    return bits;
}

constexpr int kAllDepths[] = {1, 4, 8, 16, 24, 32};
