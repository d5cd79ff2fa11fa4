// make_sample OUT.tif: a small mechanical drawing as a scanner would deliver
// it: 8-bit grey at 300 dpi, 5 x 3.5 inches (1500 x 1050 pixels), with
// slightly uneven paper, grain noise, soft stroke edges and a few specks.
// Lines of several widths and angles, arcs, circles, text-like strokes and
// filled areas. Deterministic; the committed samples/plate.tif comes from it.
//
//   c++ -std=c++20 -O2 samples/make_sample.cpp -lfreeimage -o make_sample
#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWidth = 1500;
constexpr int kHeight = 1050;
constexpr int kDotsPerMetre = 11811; // 300 dpi
constexpr double kPi = 3.14159265358979323846;
constexpr double kPaper = 236.0;
constexpr double kInk = 30.0;

struct Point {
    double x, y;
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
    double Uniform() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
    // Roughly normal: the sum of four uniforms.
    double Grain() { return (Uniform() + Uniform() + Uniform() + Uniform() - 2.0) * 1.7; }

private:
    std::uint64_t m_state;
};

// Ink coverage 0..1 per pixel; shapes add coverage through a distance test.
class Sheet {
public:
    Sheet() : m_ink(static_cast<size_t>(kWidth) * kHeight, 0.0) {}

    // A pixel at distance d from a shape's centre line of half width h.
    void Cover(int x, int y, double d, double h)
    {
        const double c = std::clamp(h - d + 0.5, 0.0, 1.0);
        double& ink = m_ink[static_cast<size_t>(y) * kWidth + x];
        ink = std::max(ink, c);
    }

    template <typename Distance>
    void Shape(double x0, double y0, double x1, double y1, double h, Distance distance)
    {
        const int left = std::max(0, static_cast<int>(std::floor(x0 - h - 2)));
        const int right = std::min(kWidth - 1, static_cast<int>(std::ceil(x1 + h + 2)));
        const int top = std::max(0, static_cast<int>(std::floor(y0 - h - 2)));
        const int bottom = std::min(kHeight - 1, static_cast<int>(std::ceil(y1 + h + 2)));
        for (int y = top; y <= bottom; ++y)
            for (int x = left; x <= right; ++x)
                Cover(x, y, distance(x, y), h);
    }

    void Line(Point a, Point b, double width)
    {
        const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
        Shape(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y), width / 2,
              [&](double x, double y) {
                  const double t = std::clamp(((x - a.x) * dx + (y - a.y) * dy) / len2, 0.0, 1.0);
                  return std::hypot(x - a.x - t * dx, y - a.y - t * dy);
              });
    }

    // Degrees counter-clockwise on the page (y down), from start through sweep.
    void Arc(Point c, double r, double start, double sweep, double width)
    {
        const Point a = OnCircle(c, r, start), b = OnCircle(c, r, start + sweep);
        Shape(c.x - r, c.y - r, c.x + r, c.y + r, width / 2, [&](double x, double y) {
            double angle = std::atan2(c.y - y, x - c.x) * 180.0 / kPi - start;
            angle = std::fmod(std::fmod(angle, 360.0) + 360.0, 360.0);
            if (angle <= sweep)
                return std::fabs(std::hypot(x - c.x, y - c.y) - r);
            return std::min(std::hypot(x - a.x, y - a.y), std::hypot(x - b.x, y - b.y));
        });
    }

    void Circle(Point c, double r, double width) { Arc(c, r, 0.0, 360.0, width); }

    void Disc(Point c, double r)
    {
        Shape(c.x - r, c.y - r, c.x + r, c.y + r, 0.0,
              [&](double x, double y) { return std::hypot(x - c.x, y - c.y) - r; });
    }

    void Box(Point a, Point b)
    {
        Shape(a.x, a.y, b.x, b.y, 0.0, [&](double x, double y) {
            return std::max({a.x - x, x - b.x, a.y - y, y - b.y});
        });
    }

    // A ring of a thick outline with a hole: the fill between two circles.
    void Annulus(Point c, double inner, double outer)
    {
        Shape(c.x - outer, c.y - outer, c.x + outer, c.y + outer, 0.0, [&](double x, double y) {
            const double d = std::hypot(x - c.x, y - c.y);
            return std::max(d - outer, inner - d);
        });
    }

    [[nodiscard]] double Ink(int x, int y) const { return m_ink[static_cast<size_t>(y) * kWidth + x]; }

private:
    static Point OnCircle(Point c, double r, double degrees)
    {
        const double a = degrees * kPi / 180.0;
        return {c.x + r * std::cos(a), c.y - r * std::sin(a)};
    }

    std::vector<double> m_ink;
};

// Text-like strokes: a row of glyphs made of a few strokes each, as lettering
// looks to a tracer.
void Lettering(Sheet& sheet, Random& random, Point at, int count, double size, double width)
{
    for (int i = 0; i < count; ++i) {
        const double x = at.x + i * size * 0.8;
        const double y = at.y;
        switch (random.Next() % 5) {
        case 0: // H
            sheet.Line({x, y}, {x, y + size}, width);
            sheet.Line({x + size * 0.5, y}, {x + size * 0.5, y + size}, width);
            sheet.Line({x, y + size * 0.5}, {x + size * 0.5, y + size * 0.5}, width);
            break;
        case 1: // A
            sheet.Line({x, y + size}, {x + size * 0.3, y}, width);
            sheet.Line({x + size * 0.3, y}, {x + size * 0.6, y + size}, width);
            sheet.Line({x + size * 0.15, y + size * 0.6}, {x + size * 0.45, y + size * 0.6}, width);
            break;
        case 2: // O
            sheet.Circle({x + size * 0.3, y + size * 0.5}, size * 0.3, width);
            break;
        case 3: // L
            sheet.Line({x, y}, {x, y + size}, width);
            sheet.Line({x, y + size}, {x + size * 0.5, y + size}, width);
            break;
        default: // C
            sheet.Arc({x + size * 0.3, y + size * 0.5}, size * 0.3, 45.0, 270.0, width);
            break;
        }
    }
}

void DrawPlate(Sheet& sheet, Random& random)
{
    // Frame and title block.
    sheet.Line({40, 40}, {1460, 40}, 6);
    sheet.Line({1460, 40}, {1460, 1010}, 6);
    sheet.Line({1460, 1010}, {40, 1010}, 6);
    sheet.Line({40, 1010}, {40, 40}, 6);
    sheet.Line({1000, 880}, {1460, 880}, 4);
    sheet.Line({1000, 880}, {1000, 1010}, 4);
    Lettering(sheet, random, {1030, 910}, 12, 30, 3);
    Lettering(sheet, random, {1030, 960}, 16, 20, 2.5);

    // A flange: circles, bolt holes, centre lines.
    const Point centre{330, 330};
    sheet.Circle(centre, 200, 5);
    sheet.Circle(centre, 80, 5);
    for (int i = 0; i < 6; ++i) {
        const double a = i * kPi / 3;
        sheet.Circle({centre.x + 140 * std::cos(a), centre.y + 140 * std::sin(a)}, 18, 3);
    }
    sheet.Line({100, 330}, {560, 330}, 2);
    sheet.Line({330, 100}, {330, 560}, 2);

    // A slotted link: two half circles joined by lines, at an angle.
    sheet.Arc({700, 250}, 60, 90, 180, 5);
    sheet.Arc({950, 180}, 60, 270, 180, 5);
    sheet.Line({700, 190}, {950, 120}, 5);
    sheet.Line({700, 310}, {950, 240}, 5);
    sheet.Circle({700, 250}, 25, 3);
    sheet.Circle({950, 180}, 25, 3);

    // Lines at many angles and widths: a fan.
    for (int i = 0; i <= 8; ++i) {
        const double a = i * kPi / 16;
        sheet.Line({1100, 700}, {1100 + 300 * std::cos(a), 700 - 300 * std::sin(a)}, 2 + i % 4 * 2);
    }

    // Filled areas: a solid block, a disc, a ring and a hatched section.
    sheet.Box({120, 650}, {320, 760});
    sheet.Disc({450, 720}, 55);
    sheet.Annulus({620, 720}, 35, 70);
    sheet.Box({120, 800}, {320, 960});
    for (int i = 0; i < 12; ++i)
        sheet.Line({380 + i * 20.0, 960}, {380 + i * 20.0 + 100, 800}, 3);
    sheet.Line({380, 800}, {700, 800}, 4);
    sheet.Line({380, 960}, {700, 960}, 4);

    // A dimension with arrows and figures.
    sheet.Line({130, 600}, {530, 600}, 2);
    sheet.Line({130, 600}, {150, 592}, 2);
    sheet.Line({130, 600}, {150, 608}, 2);
    sheet.Line({530, 600}, {510, 592}, 2);
    sheet.Line({530, 600}, {510, 608}, 2);
    Lettering(sheet, random, {300, 565}, 3, 24, 2.5);
}

// Paper: a faint shading across the sheet, grain, soft ink, specks.
void Scan(const Sheet& sheet, Random& random, FIBITMAP* bitmap)
{
    for (int y = 0; y < kHeight; ++y) {
        BYTE* row = FreeImage_GetScanLine(bitmap, kHeight - 1 - y);
        for (int x = 0; x < kWidth; ++x) {
            const double paper = kPaper - 10.0 * x / kWidth - 6.0 * y / kHeight;
            const double ink = sheet.Ink(x, y);
            double grey = paper + (kInk - paper) * ink + random.Grain() * 2.0;
            if (random.Next() % 20000 == 0)
                grey -= 90.0; // dust
            row[x] = static_cast<BYTE>(std::clamp(std::lround(grey), 0L, 255L));
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample OUT.tif\n");
        return 2;
    }
    FreeImage_Initialise(FALSE);
    Sheet sheet;
    Random random(0x5eed1e55u);
    DrawPlate(sheet, random);
    FIBITMAP* bitmap = FreeImage_Allocate(kWidth, kHeight, 8);
    if (bitmap == nullptr)
        return 1;
    RGBQUAD* palette = FreeImage_GetPalette(bitmap);
    for (int i = 0; i < 256; ++i)
        palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
    FreeImage_SetDotsPerMeterX(bitmap, kDotsPerMetre);
    FreeImage_SetDotsPerMeterY(bitmap, kDotsPerMetre);
    Scan(sheet, random, bitmap);
    const bool saved = FreeImage_Save(FIF_TIFF, bitmap, argv[1], TIFF_ADOBE_DEFLATE) != 0;
    FreeImage_Unload(bitmap);
    FreeImage_DeInitialise();
    if (!saved) {
        std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
