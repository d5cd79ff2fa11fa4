#include "model/point.h"
#include "model/polyline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

// The 16-bit words a CGM polyline element carries after its header.
std::vector<std::int16_t> PolylineWords(const std::vector<frDoublePoint>& points)
{
    std::FILE* file = std::tmpfile();
    WriteCgmPolyline(points.data(), static_cast<int>(points.size()), file);
    std::rewind(file);
    std::vector<unsigned char> bytes;
    for (int c; (c = std::fgetc(file)) != EOF;)
        bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(file);
    std::vector<std::int16_t> words;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        words.push_back(static_cast<std::int16_t>(bytes[i] << 8 | bytes[i + 1]));
    return words;
}

}  // namespace

TEST(CgmCoordinates, RoundToNearestAndClampInsteadOfWrapping)
{
    std::vector<std::int16_t> words = PolylineWords({{-2.7, 40000.0}, {70000.0, -40000.0}});
    ASSERT_GE(words.size(), 5u);
    // The header word is first; the points follow.
    const std::vector<std::int16_t> points(words.end() - 4, words.end());
    EXPECT_EQ(points[0], -3) << "below zero rounds to nearest, not toward zero";
    EXPECT_EQ(points[1], 32767);
    EXPECT_EQ(points[2], 32767);
    EXPECT_EQ(points[3], -32768);
}
