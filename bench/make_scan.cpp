// make_scan RGB.bmp GREY.bmp [WIDTH HEIGHT]: a synthetic scan of an A0 drawing
// at 400 dpi (13000 x 18000 by default) as 24-bit colour and 8-bit grey BMP:
// warm paper with noise and specks, line work of several widths and angles,
// rows of text-like glyphs, filled and hatched areas. Deterministic.
#include "raster/raster_library.h"
#include "raster/raster_src.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kA0Width = 13000;
constexpr int kA0Height = 18000;
constexpr LONG k400DpiInDotsPerMetre = 15748;

struct Colour {
    BYTE blue, green, red;
};

class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
    int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }

private:
    std::uint64_t m_state;
};

class Canvas {
public:
    explicit Canvas(CRasterSrc& image) : m_image(image), m_w(image.GetWidth()), m_h(image.GetHeight()) {}

    void Span(int y, int x0, int x1, Colour c)
    {
        if (y < 0 || y >= m_h)
            return;
        x0 = std::max(x0, 0);
        x1 = std::min(x1, m_w);
        BYTE* p = m_image.GetRow(y) + static_cast<size_t>(x0) * 3;
        for (int x = x0; x < x1; ++x, p += 3) {
            p[0] = c.blue;
            p[1] = c.green;
            p[2] = c.red;
        }
    }

    void Rect(int x0, int y0, int x1, int y1, Colour c)
    {
        for (int y = std::max(y0, 0); y < std::min(y1, m_h); ++y)
            Span(y, x0, x1, c);
    }

    // A segment of the given width, drawn as spans across its major axis.
    void Segment(double x0, double y0, double x1, double y1, int width, Colour c)
    {
        double dx = x1 - x0, dy = y1 - y0;
        int steps = static_cast<int>(std::max(std::fabs(dx), std::fabs(dy)));
        if (steps == 0)
            steps = 1;
        bool horizontal = std::fabs(dx) >= std::fabs(dy);
        for (int i = 0; i <= steps; ++i) {
            int x = static_cast<int>(x0 + dx * i / steps);
            int y = static_cast<int>(y0 + dy * i / steps);
            if (horizontal) {
                for (int k = -width / 2; k < width - width / 2; ++k)
                    Span(y + k, x, x + 1, c);
            } else {
                Span(y, x - width / 2, x + width - width / 2, c);
            }
        }
    }

    void Disc(int cx, int cy, int r, Colour c)
    {
        for (int y = -r; y <= r; ++y) {
            int half = static_cast<int>(std::sqrt(static_cast<double>(r) * r - static_cast<double>(y) * y));
            Span(cy + y, cx - half, cx + half + 1, c);
        }
    }

private:
    CRasterSrc& m_image;
    int m_w, m_h;
};

void Paper(CRasterSrc& image, Random& random)
{
    for (int y = 0; y < image.GetHeight(); ++y) {
        BYTE* p = image.GetRow(y);
        for (int x = 0; x < image.GetWidth(); ++x, p += 3) {
            std::uint64_t r = random.Next();
            int noise = static_cast<int>(r & 15) - 8;
            bool speck = ((r >> 8) & 8191) == 0;
            p[0] = static_cast<BYTE>(speck ? 60 : 226 + noise);
            p[1] = static_cast<BYTE>(speck ? 60 : 236 + noise);
            p[2] = static_cast<BYTE>(speck ? 60 : 242 + noise);
        }
    }
}

Colour Ink(Random& random)
{
    switch (random.Below(6)) {
    case 0: return {110, 40, 30};  // blue pencil
    case 1: return {40, 40, 170};  // red mark-up
    default: {
        auto k = static_cast<BYTE>(random.Between(15, 60));
        return {k, k, k};
    }
    }
}

void LineWork(Canvas& canvas, int w, int h, Random& random)
{
    for (int i = 0; i < 1500; ++i) {
        int width = random.Between(2, 8);
        if (random.Below(2)) {
            int y = random.Below(h);
            int x0 = random.Below(w), x1 = std::min(w, x0 + random.Between(200, 6000));
            canvas.Rect(x0, y, x1, y + width, Ink(random));
        } else {
            int x = random.Below(w);
            int y0 = random.Below(h), y1 = std::min(h, y0 + random.Between(200, 6000));
            canvas.Rect(x, y0, x + width, y1, Ink(random));
        }
    }
    for (int i = 0; i < 1500; ++i) {
        double x0 = random.Below(w), y0 = random.Below(h);
        double angle = random.Below(3600) / 3600.0 * 6.283185307179586;
        double length = random.Between(100, 4000);
        canvas.Segment(x0, y0, x0 + length * std::cos(angle), y0 + length * std::sin(angle), random.Between(2, 6),
                       Ink(random));
    }
}

void Areas(Canvas& canvas, int w, int h, Random& random)
{
    for (int i = 0; i < 200; ++i) {
        int x = random.Below(w), y = random.Below(h);
        int rw = random.Between(100, 1500), rh = random.Between(100, 1500);
        auto g = static_cast<BYTE>(random.Between(90, 200));
        if (random.Below(2)) {
            canvas.Rect(x, y, x + rw, y + rh, {g, g, static_cast<BYTE>(std::min(255, g + 30))});
        } else {
            // Hatching at 45 degrees.
            for (int k = -rh; k < rw; k += 24)
                canvas.Segment(x + k, y + rh, x + k + rh, y, 3, Ink(random));
        }
    }
    for (int i = 0; i < 150; ++i)
        canvas.Disc(random.Below(w), random.Below(h), random.Between(20, 400), Ink(random));
}

void Text(Canvas& canvas, int w, int h, Random& random)
{
    constexpr int kCellWidth = 22, kCellHeight = 34;
    for (int block = 0; block < 220; ++block) {
        int left = random.Below(w), top = random.Below(h);
        int lines = random.Between(2, 12), chars = random.Between(8, 60);
        Colour ink = Ink(random);
        for (int line = 0; line < lines; ++line) {
            for (int ch = 0; ch < chars; ++ch) {
                if (random.Below(7) == 0)
                    continue;  // a space
                int cx = left + ch * kCellWidth, cy = top + line * kCellHeight * 3 / 2;
                for (int s = random.Between(2, 5); s > 0; --s) {
                    int ax = cx + random.Below(16), ay = cy + random.Below(26);
                    int bx = cx + random.Below(16), by = cy + random.Below(26);
                    canvas.Segment(ax, ay, bx, by, 3, ink);
                }
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: make_scan RGB.bmp GREY.bmp [WIDTH HEIGHT]\n");
        return 2;
    }
    int w = argc == 5 ? std::atoi(argv[3]) : kA0Width;
    int h = argc == 5 ? std::atoi(argv[4]) : kA0Height;
    CRasterLibraryGuard library;
    CRasterSrc image;
    if (!image.Create(w, h, 24) || !image.SetResolution(k400DpiInDotsPerMetre)) {
        std::fprintf(stderr, "make_scan: cannot make a %d x %d image\n", w, h);
        return 1;
    }
    Random random(20240601);
    Paper(image, random);
    Canvas canvas(image);
    Areas(canvas, w, h, random);
    LineWork(canvas, w, h, random);
    Text(canvas, w, h, random);
    if (!image.SaveBMP(argv[1]) || !image.ConvertToGrey8() || !image.SaveBMP(argv[2])) {
        std::fprintf(stderr, "make_scan: cannot write the scans\n");
        return 1;
    }
    return 0;
}
