// Pixel operations: each kernel against a pixel-by-pixel reference on
// random images of every depth and odd widths, and quarter turns against
// pnmflip.
#include "raster_test_support.h"

#include "model/constants.h"
#include "model/undo.h"
#include "raster/packed_bits.h"
#include "raster/pixel_ops.h"

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>

namespace {

// Every pixel as a number (index, or the stored colour bytes), then the
// palette: what an operation may change.
std::vector<std::uint32_t> Snapshot(const CRasterSrc& image, bool withPalette = true)
{
    std::vector<std::uint32_t> out;
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            if (image.GetBitCount() <= 8) {
                out.push_back(static_cast<std::uint32_t>(image.GetPixelIndex(x, y)));
            } else {
                const BYTE* p = image.GetRow(y) + static_cast<size_t>(x) * (image.GetBitCount() / 8);
                std::uint32_t v = 0;
                for (int i = 0; i < image.GetBitCount() / 8; ++i)
                    v = v << 8 | p[i];
                out.push_back(v);
            }
        }
    }
    for (unsigned i = 0; withPalette && i < image.GetColorsUsed(); ++i) {
        const RGBQUAD& e = image.GetPalette()[i];
        out.push_back(std::uint32_t{e.rgbBlue} << 16 | std::uint32_t{e.rgbGreen} << 8 | e.rgbRed);
    }
    return out;
}

// Applies f(bgr) -> bool to every pixel (or palette entry) the way the
// operations are described: through the pixel accessors.
template <class F>
void ReferencePerColour(CRasterSrc& image, F&& f)
{
    if (image.GetBitCount() <= 8) {
        for (unsigned i = 0; i < image.GetColorsUsed(); ++i) {
            RGBQUAD& e = image.GetPalette()[i];
            BYTE bgr[3] = {e.rgbBlue, e.rgbGreen, e.rgbRed};
            if (f(bgr)) {
                ASSERT_TRUE(image.SetPaletteEntry(static_cast<int>(i), bgr));
            }
        }
        return;
    }
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x) {
            BYTE bgr[3];
            ASSERT_TRUE(image.GetPixelColor(x, y, bgr));
            if (f(bgr))
                image.SetPixelRGB(x, y, bgr[2], bgr[1], bgr[0]);
        }
}

BYTE ReferenceBrightContrast(BYTE v, int brightness, int contrast)
{
    float k = static_cast<float>((contrast + 100) / 100.0);
    double u = std::trunc((v - 128) * k + 128.0);
    int level = static_cast<int>(std::min(255.0, std::max(0.0, u)));
    int step = static_cast<int>(std::trunc(std::abs(brightness) * 255 * 0.01));
    if (brightness > 0)
        level = std::min(255, level + step);
    if (brightness < 0)
        level = std::max(0, level - step);
    return static_cast<BYTE>(level);
}

// The fill-holes passes on plain arrays, as first described.
std::vector<int> ReferenceSmooth(const CRasterSrc& image, int passes)
{
    const int w = image.GetWidth(), h = image.GetHeight();
    std::vector<int> a = Bits(image), b = a;
    auto at = [w](std::vector<int>& v, int x, int y) -> int& { return v[static_cast<size_t>(y) * w + x]; };
    for (int pass = 0; pass < 2 * passes; ++pass) {
        for (int y = 1; y < h - 1; ++y)
            for (int x = 1; x < w - 1; ++x) {
                int c = at(a, x, y), l = at(a, x - 1, y), r = at(a, x + 1, y), u = at(a, x, y - 1), d = at(a, x, y + 1);
                at(b, x, y) = pass < passes ? (c | l | r | u | d) : (c & l & r & u & d);
            }
        std::swap(a, b);
    }
    return a;
}

std::vector<std::array<BYTE, 3>> Colours(const CRasterSrc& image)
{
    std::vector<std::array<BYTE, 3>> out;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            image.GetPixelBGR(x, y, out.emplace_back().data());
    return out;
}

// Where new pixel (x, r) of a clockwise quarter turn of w x h pixels comes from.
template <class T>
std::vector<T> QuarterTurned(const std::vector<T>& pixels, int w, int h, int quarters)
{
    auto old = [&](int x, int y) { return pixels[static_cast<size_t>(y) * w + x]; };
    std::vector<T> out;
    const int nw = quarters == 2 ? w : h, nh = quarters == 2 ? h : w;
    for (int r = 0; r < nh; ++r)
        for (int x = 0; x < nw; ++x)
            out.push_back(quarters == 1   ? old(r, h - 1 - x)
                          : quarters == 2 ? old(w - 1 - x, h - 1 - r)
                                          : old(w - 1 - r, x));
    return out;
}

// The bits of a copy of image turned by degrees.
std::vector<int> TurnedBits(const CRasterSrc& image, double degrees)
{
    CRasterSrc turned;
    EXPECT_TRUE(turned.Copy(image));
    EXPECT_TRUE(Rotate1Bit(turned, degrees));
    return Bits(turned);
}

bool PaddingIsClear(const CRasterSrc& image)
{
    if (image.GetBitCount() != 1 || (image.GetWidth() & 7) == 0)
        return true;
    for (int y = 0; y < image.GetHeight(); ++y)
        if (image.GetRow(y)[image.GetWidth() >> 3] & ~LastByteMask(image.GetWidth()))
            return false;
    return true;
}

// Random images come with random padding; operations must not set it.
void ClearPadding(CRasterSrc& image)
{
    for (int y = 0; y < image.GetHeight() && image.GetBitCount() == 1; ++y)
        image.GetRow(y)[PackedRowBytes(image.GetWidth()) - 1] &= LastByteMask(image.GetWidth());
}

void WritePbm(const CRasterSrc& image, const std::string& path)
{
    std::ofstream file(path, std::ios::binary);
    file << "P4\n" << image.GetWidth() << " " << image.GetHeight() << "\n";
    for (int y = 0; y < image.GetHeight(); ++y)
        file.write(reinterpret_cast<const char*>(image.GetRow(y)), PackedRowBytes(image.GetWidth()));
}

std::vector<int> ReadPbmBits(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string magic;
    int w = 0, h = 0;
    file >> magic >> w >> h;
    file.get();
    std::vector<int> bits;
    std::vector<BYTE> row(static_cast<size_t>(PackedRowBytes(w)));
    for (int y = 0; y < h && file; ++y) {
        file.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size()));
        for (int x = 0; x < w; ++x)
            bits.push_back(TestPixel(row.data(), x) ? 1 : 0);
    }
    return bits;
}

}  // namespace

// ------------------------------------------------------------------ colour --

TEST(ReplaceColor, MatchesThePerColourReferenceAtEveryDepth)
{
    for (int bitCount : {4, 8, 16, 24, 32}) {
        for (int tolerance : {0, 5000}) {
            CRasterSrc image, expected;
            MakeRandomImage(image, 33, 5, bitCount, static_cast<unsigned>(bitCount + tolerance));
            // Make the from colour occur.
            BYTE from[3];
            ASSERT_TRUE(image.GetPixelColor(3, 2, from));
            ASSERT_TRUE(expected.Copy(image));
            const BYTE to[3] = {10, 20, 30};
            ReferencePerColour(expected, [&](BYTE* bgr) {
                if (ColorDistance(from, bgr) > tolerance)
                    return false;
                std::memcpy(bgr, to, 3);
                return true;
            });
            CRasterProcess process(image, nullptr);
            ASSERT_TRUE(process.ReplaceColor(RGB(from[2], from[1], from[0]), RGB(to[2], to[1], to[0]), tolerance));
            EXPECT_EQ(Snapshot(image), Snapshot(expected)) << bitCount << " bits, tolerance " << tolerance;
        }
    }
    CRasterSrc bits;
    MakeRandomImage(bits, 9, 9, 1, 1);
    EXPECT_FALSE(CRasterProcess(bits, nullptr).ReplaceColor(0, 0xFFFFFF, 0));
}

TEST(AdjustBrightContrast, MatchesTheFormulaAtEveryDepth)
{
    const int cases[][2] = {{0, 50}, {40, -30}, {-70, 20}, {100, 0}, {0, -100}, {-100, 400}};
    for (int bitCount : {4, 8, 16, 24, 32}) {
        for (const auto& c : cases) {
            CRasterSrc image, expected;
            MakeRandomImage(image, 17, 4, bitCount, static_cast<unsigned>(bitCount * 3 + c[0]));
            ASSERT_TRUE(expected.Copy(image));
            ReferencePerColour(expected, [&](BYTE* bgr) {
                for (int i = 0; i < 3; ++i)
                    bgr[i] = ReferenceBrightContrast(bgr[i], c[0], c[1]);
                return true;
            });
            ASSERT_TRUE(CRasterProcess(image, nullptr).AdjustBrightContrast(c[0], c[1]));
            EXPECT_EQ(Snapshot(image), Snapshot(expected)) << bitCount << " bits, " << c[0] << ", " << c[1];
        }
    }
    // Nothing to do, or out of range: the image stays; one bit is refused.
    CRasterSrc image, before;
    MakeRandomImage(image, 9, 3, 24, 4);
    ASSERT_TRUE(before.Copy(image));
    CRasterProcess process(image, nullptr);
    EXPECT_TRUE(process.AdjustBrightContrast(0, 0));
    EXPECT_TRUE(process.AdjustBrightContrast(101, 0));
    EXPECT_EQ(Snapshot(image), Snapshot(before));
    CRasterSrc bits;
    MakeRandomImage(bits, 9, 9, 1, 1);
    EXPECT_FALSE(CRasterProcess(bits, nullptr).AdjustBrightContrast(0, 0));
}

// -------------------------------------------------------------- fill holes --

TEST(SmoothFilter, MatchesThePassReferenceOnOddWidths)
{
    for (int width : {3, 7, 63, 64, 65, 131, 200}) {
        for (int passes : {1, 2, 3}) {
            CRasterSrc image;
            MakeRandomImage(image, width, 13, 1, static_cast<unsigned>(width * 5 + passes));
            ClearPadding(image);
            std::vector<int> expected = ReferenceSmooth(image, passes);
            ASSERT_TRUE(SmoothFilter(image, passes));
            EXPECT_EQ(Bits(image), expected) << "width " << width << ", passes " << passes;
            EXPECT_TRUE(PaddingIsClear(image));
        }
    }
    CRasterSrc image, grey;
    MakeRandomImage(image, 12, 12, 1, 2);
    const std::vector<int> before = Bits(image);
    EXPECT_TRUE(SmoothFilter(image, 0));
    EXPECT_EQ(Bits(image), before);
    EXPECT_FALSE(SmoothFilter(image, -1));
    MakeRandomImage(grey, 5, 5, 8, 1);
    EXPECT_FALSE(SmoothFilter(grey, 1));
}

// -------------------------------------------------------- flips and invert --

TEST(Flips, MatchThePixelReferenceAtEveryDepth)
{
    for (int bitCount : kAllDepths) {
        for (int width : {1, 7, 64, 65, 131}) {
            CRasterSrc image;
            MakeRandomImage(image, width, 5, bitCount, static_cast<unsigned>(bitCount * 100 + width));
            const int w = width, h = image.GetHeight();
            std::vector<std::uint32_t> before = Snapshot(image), vertical = before, horizontal = before;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    vertical[static_cast<size_t>(y) * w + x] = before[static_cast<size_t>(h - 1 - y) * w + x];
                    horizontal[static_cast<size_t>(y) * w + x] = before[static_cast<size_t>(y) * w + w - 1 - x];
                }
            ASSERT_TRUE(FlipVertical(image));
            EXPECT_EQ(Snapshot(image), vertical) << bitCount << " bits, width " << width;
            ASSERT_TRUE(FlipVertical(image));
            ASSERT_TRUE(FlipHorizontal(image));
            EXPECT_EQ(Snapshot(image), horizontal) << bitCount << " bits, width " << width;
            EXPECT_TRUE(PaddingIsClear(image));
        }
    }
    CRasterSrc empty;
    EXPECT_FALSE(FlipHorizontal(empty));
    EXPECT_FALSE(Invert(empty));
}

TEST(Invert, TurnsEveryColourIntoItsComplementAndForgetsTheHistogram)
{
    for (int bitCount : kAllDepths) {
        CRasterSrc image;
        MakeRandomImage(image, 13, 4, bitCount, static_cast<unsigned>(bitCount));
        if (bitCount == 8)
            image.SetGreyRamp();
        // A 5-5-5 field of 5 bits inverts within its 5 bits.
        std::vector<std::array<BYTE, 3>> expected = Colours(image);
        for (auto& colour : expected)
            for (BYTE& v : colour)
                v = static_cast<BYTE>((bitCount == 16 ? 248 : 255) - v);
        BYTE bins[256];
        image.ComputeHistogram(bins);
        ASSERT_TRUE(Invert(image));
        EXPECT_FALSE(image.IsHistogramValid());
        EXPECT_EQ(Colours(image), expected) << bitCount << " bits";
        if (bitCount == 8) {
            EXPECT_TRUE(image.IsGreyRamp()) << "a ramp keeps its palette";
        }
        EXPECT_TRUE(PaddingIsClear(image));
    }
}

TEST(Invert, LeavesABrushStrokeUnderWayOnItsWayToUndo)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(40, 40, 8));
    image.SetGreyRamp();
    BYTE bins[256];
    image.ComputeHistogram(bins);
    ASSERT_TRUE(image.IsHistogramValid());
    const BYTE colour[4] = {0, 0, 0, 7};
    image.SetFillMode("Fill raster by point", colour);
    ASSERT_TRUE(image.BeginErase(20, 20));
    const FIBITMAP* bitmap = image.GetBitmap();
    ASSERT_TRUE(Invert(image));
    EXPECT_FALSE(image.IsHistogramValid());
    EXPECT_EQ(image.GetBitmap(), bitmap);
    ASSERT_NE(image.GetLocalUndoItem(), nullptr);
    CUndoList list;
    ASSERT_TRUE(image.EndErase(&list));
    EXPECT_EQ(list.GetCount(), 1u);
}

TEST(Invert, KeepsTheDimmedPaletteOfATracedImage)
{
    CRasterSrc image;
    MakeRandomImage(image, 20, 3, 1, 9);
    image.SetPaletteGrey(1, 210);
    LONG resolution = 0;
    ASSERT_TRUE(image.SetResolution(15748));
    ASSERT_TRUE(Invert(image));
    EXPECT_EQ(image.GetPaletteDimmed(), 1);
    EXPECT_EQ(image.GetPalette()[1].rgbRed, 210);
    ASSERT_TRUE(image.GetResolution(resolution));
    EXPECT_EQ(resolution, 15748);
}

// ---------------------------------------------------------------- rotation --

TEST(Rotate1Bit, QuarterTurnsMoveEveryPixelExactly)
{
    for (int width : {1, 7, 9, 64, 65, 131}) {
        for (int height : {1, 8, 13}) {
            CRasterSrc image;
            MakeRandomImage(image, width, height, 1, static_cast<unsigned>(width * 17 + height));
            image.SetPaletteGrey(1, 220);
            for (int quarters = 1; quarters <= 3; ++quarters) {
                CRasterSrc turned;
                ASSERT_TRUE(turned.Copy(image));
                const std::vector<int> expected = QuarterTurned(Bits(image), width, height, quarters);
                ASSERT_TRUE(Rotate1Bit(turned, 90.0 * quarters));
                ASSERT_EQ(turned.GetWidth(), quarters == 2 ? width : height);
                EXPECT_EQ(Bits(turned), expected) << width << "x" << height << " by " << quarters * 90;
                EXPECT_TRUE(PaddingIsClear(turned));
                EXPECT_EQ(turned.GetPalette()[1].rgbRed, 220);
                // The same turn given the other way round, or a turn further.
                CRasterSrc again;
                ASSERT_TRUE(again.Copy(image));
                ASSERT_TRUE(Rotate(again, 90.0 * quarters - 360.0 * quarters));
                EXPECT_EQ(Bits(again), expected);
            }
        }
    }
}

// Just off a quarter turn the general sampler runs; at pixel centres it must
// land on the same pixels instead of tearing by one across half the image.
TEST(Rotate1Bit, AngleJustOffAQuarterAgreesWithTheExactTurn)
{
    CRasterSrc image;
    MakeRandomImage(image, 41, 29, 1, 3);
    for (double degrees : {90.0, 180.0, 270.0})
        EXPECT_EQ(TurnedBits(image, degrees + 1e-9), TurnedBits(image, degrees)) << degrees;
    EXPECT_EQ(TurnedBits(image, 1e-9), Bits(image));
    EXPECT_EQ(TurnedBits(image, 0), Bits(image));
    EXPECT_FALSE(Rotate1Bit(image, std::nan("")));
}

TEST(Rotate1Bit, ArbitraryAnglesSampleThePixelUnderEachNewCentre)
{
    CRasterSrc image;
    MakeRandomImage(image, 37, 23, 1, 8);
    for (double degrees : {30.0, -45.0, 123.4}) {
        CRasterSrc turned;
        ASSERT_TRUE(turned.Copy(image));
        ASSERT_TRUE(Rotate1Bit(turned, degrees));
        const double a = degrees * DEGREE, c = std::cos(a), s = std::sin(a);
        const int W = turned.GetWidth(), H = turned.GetHeight(), w = 37, h = 23;
        EXPECT_NEAR(W, std::fabs(w * c) + std::fabs(h * s), 1.0);
        for (int r = 0; r < H; ++r)
            for (int x = 0; x < W; ++x) {
                double dx = x + 0.5 - W / 2.0, dy = r + 0.5 - H / 2.0;
                double sx = std::floor(dx * c + dy * s + w / 2.0), sy = std::floor(dy * c - dx * s + h / 2.0);
                int expected = sx >= 0 && sy >= 0 && sx < w && sy < h ? image.GetPixelIndex(int(sx), int(sy)) : 0;
                ASSERT_EQ(turned.GetPixelIndex(x, r), expected) << degrees << " at " << x << ", " << r;
            }
    }
}

TEST(Rotate1Bit, QuarterTurnsAgreeWithPnmflip)
{
    if (std::system("pnmflip -version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "netpbm's pnmflip is not installed";
    TempFolder folder;
    CRasterSrc image;
    MakeRandomImage(image, 77, 31, 1, 12);
    WritePbm(image, folder / "in.pbm");
    const std::pair<double, const char*> turns[] = {{90, "-cw"}, {180, "-r180"}, {270, "-ccw"}};
    for (const auto& [degrees, option] : turns) {
        std::string command = std::string("pnmflip ") + option + " " + folder / "in.pbm" + " > " + folder / "out.pbm";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_EQ(TurnedBits(image, degrees), ReadPbmBits(folder / "out.pbm")) << option;
    }
}

TEST(Rotate, ImagesAboveOneBitTurnTheSameWayWithWhiteCornersAndTheirResolution)
{
    for (int bitCount : {4, 8, 16, 24, 32}) {
        CRasterSrc image;
        MakeRandomImage(image, 15, 6, bitCount, static_cast<unsigned>(bitCount));
        if (bitCount == 8)
            image.SetGreyRamp();
        ASSERT_TRUE(image.SetResolution(15748));
        MessageRecorder messages;
        CRasterSrc quarter;
        ASSERT_TRUE(quarter.Copy(image));
        ASSERT_TRUE(Rotate(quarter, 90));
        ASSERT_EQ(quarter.GetWidth(), 6);
        ASSERT_EQ(quarter.GetHeight(), 15);
        // Same direction as 1-bit images, every colour where the exact turn puts it.
        EXPECT_EQ(Colours(quarter), QuarterTurned(Colours(image), 15, 6, 1)) << bitCount << " bits";
        CRasterSrc slanted;
        ASSERT_TRUE(slanted.Copy(image));
        ASSERT_TRUE(Rotate(slanted, 30));
        BYTE corner[3];
        slanted.GetPixelBGR(0, 0, corner);
        EXPECT_EQ(corner[0] + corner[1] + corner[2], 3 * 255) << bitCount << " bits";
        LONG resolution = 0;
        ASSERT_TRUE(slanted.GetResolution(resolution));
        EXPECT_EQ(resolution, 15748);
        EXPECT_TRUE(messages.messages.empty()) << "no depth is reported as a lack of memory";
    }
}
