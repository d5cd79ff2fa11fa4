#pragma once
// Pictures for the render comparisons: a reader's PNG loaded as grey, and
// the comparison of two pictures of one drawing by where their ink lies.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "export_test_support.h"

namespace export_test {

struct GrayImage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // top row first
    bool Dark(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x] < 128; }
};

inline bool LoadGray(const fs::path& path, GrayImage* image)
{
    FIBITMAP* loaded = FreeImage_Load(FIF_PNG, path.c_str(), 0);
    if (loaded == nullptr)
        return false;
    // Transparent parts are the white page.
    RGBQUAD white{255, 255, 255, 0};
    FIBITMAP* flat = FreeImage_IsTransparent(loaded) ? FreeImage_Composite(loaded, FALSE, &white, nullptr) : nullptr;
    FIBITMAP* gray = FreeImage_ConvertToGreyscale(flat ? flat : loaded);
    if (flat)
        FreeImage_Unload(flat);
    FreeImage_Unload(loaded);
    if (gray == nullptr)
        return false;
    image->width = static_cast<int>(FreeImage_GetWidth(gray));
    image->height = static_cast<int>(FreeImage_GetHeight(gray));
    image->pixels.resize(static_cast<std::size_t>(image->width) * image->height);
    for (int y = 0; y < image->height; ++y) {
        const BYTE* row = FreeImage_GetScanLine(gray, image->height - 1 - y);  // stored bottom-up
        std::copy(row, row + image->width, image->pixels.begin() + static_cast<std::ptrdiff_t>(y) * image->width);
    }
    FreeImage_Unload(gray);
    return true;
}

// Whether a command the tests run is on the path.
inline bool HaveTool(const std::string& tool)
{
    std::string out;
    return RunCommand("command -v " + tool, &out) == 0;
}

// The ink of a picture (grey below this: a thin line drawn smooth is light
// grey).
inline constexpr std::uint8_t kInkLevel = 245;

struct InkPicture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> ink;
    bool At(int x, int y) const { return ink[static_cast<std::size_t>(y) * width + x] != 0; }
    long Count() const { return static_cast<long>(std::count(ink.begin(), ink.end(), 1)); }
};

inline InkPicture InkOf(const GrayImage& image)
{
    InkPicture out{image.width, image.height, {}};
    out.ink.reserve(image.pixels.size());
    for (std::uint8_t v : image.pixels)
        out.ink.push_back(v < kInkLevel ? 1 : 0);
    return out;
}

// Zhang and Suen's thinning, at most `rounds` rounds: strokes of different
// widths (a reader's own pen, a format's minimum width) come down to their
// centre lines.
inline void ThinInk(InkPicture* p, int rounds)
{
    const int w = p->width, h = p->height;
    auto at = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && p->At(x, y) ? 1 : 0; };
    std::vector<std::size_t> remove;
    for (int round = 0; round < rounds; ++round) {
        bool changed = false;
        for (int pass = 0; pass < 2; ++pass) {
            remove.clear();
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    if (!p->At(x, y))
                        continue;
                    const int n[8] = {at(x, y - 1), at(x + 1, y - 1), at(x + 1, y), at(x + 1, y + 1),
                                      at(x, y + 1), at(x - 1, y + 1), at(x - 1, y), at(x - 1, y - 1)};
                    int b = 0, a = 0;
                    for (int k = 0; k < 8; ++k)
                        b += n[k], a += (n[k] == 0 && n[(k + 1) % 8] == 1) ? 1 : 0;
                    if (b < 2 || b > 6 || a != 1)
                        continue;
                    const bool drop = pass == 0 ? (n[0] * n[2] * n[4] == 0 && n[2] * n[4] * n[6] == 0)
                                                : (n[0] * n[2] * n[6] == 0 && n[0] * n[4] * n[6] == 0);
                    if (drop)
                        remove.push_back(static_cast<std::size_t>(y) * w + x);
                }
            for (std::size_t i : remove)
                p->ink[i] = 0;
            changed = changed || !remove.empty();
        }
        if (!changed)
            break;
    }
}

// The ink cut to its own box and scaled so that the box's larger side is
// `side` pixels: pictures of one drawing by readers that add margins or
// choose their own size line up. Thin the ink first, so that a thick pen
// does not widen the box.
inline InkPicture NormalizeInk(const InkPicture& in, int side)
{
    int x0 = in.width, y0 = in.height, x1 = -1, y1 = -1;
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x)
            if (in.At(x, y))
                x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    InkPicture out;
    if (x1 < 0)
        return out;
    const double scale = static_cast<double>(side - 1) / std::max(std::max(x1 - x0, y1 - y0), 1);
    out.width = static_cast<int>((x1 - x0) * scale) + 1;
    out.height = static_cast<int>((y1 - y0) * scale) + 1;
    out.ink.assign(static_cast<std::size_t>(out.width) * out.height, 0);
    // Each ink pixel goes to the pixel under it: at about the same size no
    // line breaks up.
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (in.At(x, y)) {
                const int u = std::min(out.width - 1, static_cast<int>((x - x0) * scale + 0.5));
                const int v = std::min(out.height - 1, static_cast<int>((y - y0) * scale + 0.5));
                out.ink[static_cast<std::size_t>(v) * out.width + u] = 1;
            }
    return out;
}

// Pictures are compared in a box this many pixels wide; ink of one this near
// the other's counts as shown by both, and at least kMinShared of each
// picture's ink must be. Thinning first brings strokes up to about twice
// kThinRounds wide to their middles (a plotter reader's pen is thick on a
// small drawing).
inline constexpr int kRenderBox = 1000;
inline constexpr int kReach = 4;
inline constexpr double kMinShared = 0.8;
inline constexpr int kThinRounds = 30;

// The part of a's ink that has ink of b within `reach` pixels (a square).
inline double InkShareNear(const InkPicture& a, const InkPicture& b, int reach)
{
    // b grown by the reach, rows then columns.
    const int w = std::max(a.width, b.width), h = std::max(a.height, b.height);
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(w) * h, 0), grown(rows.size(), 0);
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            if (b.At(x, y))
                for (int u = std::max(0, x - reach); u <= std::min(w - 1, x + reach); ++u)
                    rows[static_cast<std::size_t>(y) * w + u] = 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (rows[static_cast<std::size_t>(y) * w + x])
                for (int v = std::max(0, y - reach); v <= std::min(h - 1, y + reach); ++v)
                    grown[static_cast<std::size_t>(v) * w + x] = 1;
    long inside = 0, total = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (a.At(x, y))
                ++total, inside += grown[static_cast<std::size_t>(y) * w + x];
    return total == 0 ? 0.0 : static_cast<double>(inside) / static_cast<double>(total);
}

// A reader's PNG as thinned ink in the comparison box.
inline void LoadInk(const fs::path& png, InkPicture* ink)
{
    GrayImage image;
    ASSERT_TRUE(LoadGray(png, &image)) << png;
    InkPicture native = InkOf(image);
    ASSERT_GT(native.Count(), 0) << png << " shows nothing";
    ThinInk(&native, kThinRounds);
    *ink = NormalizeInk(native, kRenderBox);
}

// Both ways: the picture draws no ink the reference has not, and leaves
// out none of the reference's.
inline void ExpectSameDrawing(const InkPicture& reference, const InkPicture& picture, const std::string& what)
{
    EXPECT_GE(InkShareNear(picture, reference, kReach), kMinShared) << what << " draws ink the PDF has not";
    EXPECT_GE(InkShareNear(reference, picture, kReach), kMinShared) << what << " leaves out ink of the PDF";
}

}  // namespace export_test
