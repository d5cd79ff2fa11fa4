#include "model/color_index.h"
#include "model/text_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

TEST(ColorIndex, PaletteMatchesTheGoldenTable)
{
    std::ifstream golden(LW_TEST_DATA_DIR "/color_index_palette.txt");
    ASSERT_TRUE(golden) << "missing golden table";
    std::string line;
    int rows = 0;
    while (std::getline(golden, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream in(line);
        int index, r, g, b;
        ASSERT_TRUE(in >> index >> r >> g >> b) << line;
        if (index == kColorWhite)
            EXPECT_EQ(ColorIndexToRGB(index, nullptr, true), RGB(r, g, b));
        else
            EXPECT_EQ(ColorIndexToRGB(index, nullptr, false), RGB(r, g, b)) << "index " << index;
        ++rows;
    }
    EXPECT_EQ(rows, 255);
}

TEST(ColorIndex, ByLayerAndOutOfRangeAreLightGrey)
{
    std::string name;
    for (int index : {0, -5, 256, 1000}) {
        EXPECT_EQ(ColorIndexToRGB(index, &name, false), RGB(0xDE, 0xDE, 0xDE)) << index;
        EXPECT_EQ(name, "Bylayer") << index;
    }
}

TEST(ColorIndex, WhiteContrastsWithTheViewBackground)
{
    const COLORREF saved = GetViewBackgroundColor();
    SetViewBackgroundColor(RGB(255, 255, 255));
    EXPECT_EQ(ColorIndexToRGB(7, nullptr, false), RGB(0, 0, 0));
    SetViewBackgroundColor(RGB(0, 0, 0));
    EXPECT_EQ(ColorIndexToRGB(7, nullptr, false), RGB(255, 255, 255));
    // Grey level 128 (below 129) still counts as dark.
    SetViewBackgroundColor(RGB(128, 128, 128));
    EXPECT_EQ(ColorIndexToRGB(7, nullptr, false), RGB(255, 255, 255));
    SetViewBackgroundColor(RGB(129, 129, 129));
    EXPECT_EQ(ColorIndexToRGB(7, nullptr, false), RGB(0, 0, 0));
    EXPECT_EQ(ColorIndexToRGB(7, nullptr, true), RGB(255, 255, 255));
    SetViewBackgroundColor(saved);
}

TEST(ColorIndex, NamesComeFromTheTextTable)
{
    std::string name;
    ColorIndexToRGB(3, &name, false);
    EXPECT_EQ(name, "green");
    ColorIndexToRGB(25, &name, false);
    EXPECT_EQ(name, "Color 25");
    ColorIndexToRGB(8, &name, false);
    EXPECT_EQ(name, "Dark Gray");
}

TEST(GrayLevel, WeightsTruncate)
{
    EXPECT_EQ(GetGrayLevel(RGB(255, 255, 255)), 255);
    EXPECT_EQ(GetGrayLevel(RGB(255, 0, 0)), 76);   // 76.245
    EXPECT_EQ(GetGrayLevel(RGB(0, 255, 0)), 149);  // 149.685
    EXPECT_EQ(GetGrayLevel(RGB(0, 0, 255)), 29);   // 29.07
}
