#include "model/registry_values.h"

#include <bit>
#include <cstdint>
#include <filesystem>
#include <limits>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

std::uint64_t Bits(double d) { return std::bit_cast<std::uint64_t>(d); }

class RegistryDoubles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "lw-regdouble-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

TEST_F(RegistryDoubles, EveryBitSurvivesTheFile)
{
    const std::uint64_t patterns[] = {
        0x7FF4000000000123ull,  // quiet-bit-clear NaN with a payload
        0xFFF8000000000001ull,  // negative quiet NaN with a payload
        Bits(-0.0),
        0x0000000000000001ull,  // smallest denormal
        Bits(std::numeric_limits<double>::infinity()),
        Bits(1.5),
    };
    const std::string file = dir_ + "/settings.conf";
    {
        CSettingsStore store(file);
        CSettingsKey key(store);
        ASSERT_TRUE(key.Create("WidthSeries\\Default"));
        for (size_t i = 0; i < std::size(patterns); ++i)
            ASSERT_TRUE(RegSetDouble(key, "w" + std::to_string(i), std::bit_cast<double>(patterns[i])));
    }
    CSettingsStore store(file);
    CSettingsKey key(store);
    ASSERT_TRUE(key.Open("WidthSeries\\Default"));
    for (size_t i = 0; i < std::size(patterns); ++i) {
        double d = 0;
        ASSERT_TRUE(RegQueryDouble(key, "w" + std::to_string(i), d));
        EXPECT_EQ(Bits(d), patterns[i]) << i;
    }
    // Stored little-endian whatever the host.
    std::vector<BYTE> bytes;
    ASSERT_TRUE(key.QueryBinary("w5", bytes));
    EXPECT_EQ(bytes, (std::vector<BYTE>{0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
}

TEST_F(RegistryDoubles, OnlyEightByteBinaryValuesAreRead)
{
    CSettingsStore store(dir_ + "/settings.conf");
    CSettingsKey key(store);
    ASSERT_TRUE(key.Create("k"));
    const BYTE four[4] = {1, 2, 3, 4};
    const BYTE nine[9] = {};
    ASSERT_TRUE(key.SetBinary("four", four, sizeof four));
    ASSERT_TRUE(key.SetBinary("nine", nine, sizeof nine));
    ASSERT_TRUE(key.SetDword("dword", 8));
    ASSERT_TRUE(key.SetString("text", "12345678"));
    double d = 2.5;
    for (const char* name : {"four", "nine", "dword", "text", "missing"})
        EXPECT_FALSE(RegQueryDouble(key, name, d)) << name;
    EXPECT_EQ(d, 2.5);
}

}  // namespace
