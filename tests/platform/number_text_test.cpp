#include "platform/locale_separators.h"
#include "platform/number_text.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

namespace {

// Switches this thread to a comma-decimal locale, as Qt does for the process.
class CommaLocale {
public:
    CommaLocale() : m_locale(newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr)))
    {
        if (m_locale)
            m_previous = uselocale(m_locale);
    }
    ~CommaLocale()
    {
        if (m_locale) {
            uselocale(m_previous);
            freelocale(m_locale);
        }
    }
    bool Available() const { return m_locale != static_cast<locale_t>(nullptr); }

private:
    locale_t m_locale;
    locale_t m_previous = LC_GLOBAL_LOCALE;
};

}  // namespace

TEST(NumberText, FileNumbersIgnoreTheUsersLocale)
{
    CommaLocale comma;
    if (!comma.Available())
        GTEST_SKIP() << "de_DE.UTF-8 not generated";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5") << "the locale switch did not take";

    EXPECT_EQ(FormatC("%-.3f", 1.5), "1.500");
    EXPECT_EQ(FormatC("%f", -2.25), "-2.250000");
    double value = 0;
    EXPECT_TRUE(ParseDoubleC("1.5", value));
    EXPECT_EQ(value, 1.5);
    EXPECT_FALSE(ParseDoubleC("1,5", value));
}

TEST(NumberText, LongOutputIsNotCut)
{
    std::string big = FormatC("%f", 1e300);
    EXPECT_EQ(big.size(), 308u);
    EXPECT_EQ(big.substr(0, 2), "10");
}

// The reference is the C library's own "%f" (the test runs in the C locale).
std::string PrintfFixed(double value)
{
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%f", value);
    return buffer;
}

std::string Fixed6(double value)
{
    std::string text = "x";  // appends, so a prefix must survive
    AppendFixed6(text, value);
    return text.substr(1);
}

TEST(NumberText, FixedSixDecimalsMatchPrintfOnEdgeValues)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  -1.0,
                                  0.5,
                                  1e-7,
                                  -1e-7,
                                  4e-7,
                                  -4e-7,
                                  5e-7,
                                  -5e-7,
                                  0.0000015,
                                  0.9999995,
                                  0.99999949999,
                                  999999.9999995,
                                  123456.0000005,
                                  -2.0000005,
                                  std::numeric_limits<double>::min(),
                                  -std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::max(),
                                  -std::numeric_limits<double>::max(),
                                  1e15 + 0.3,
                                  9007199254740993.0,
                                  std::ldexp(1.0, 63),
                                  -std::ldexp(1.0, 63),
                                  std::ldexp(1.0, 64),
                                  std::nextafter(std::ldexp(1.0, 64), 0.0),
                                  -std::nextafter(std::ldexp(1.0, 64), 0.0),
                                  1e19,
                                  1e20,
                                  1e300,
                                  inf,
                                  -inf,
                                  nan,
                                  -nan};
    // Exact ties at the sixth decimal: odd multiples of 1/128 (the halves go
    // to the even digit), and their neighbours either side.
    for (int k : {0, 1, 7, 255, 4095, 65535, 1 << 20, 1 << 30}) {
        for (int j = 1; j < 128; j += 2) {
            const double tie = k + j / 128.0;
            for (double v : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, inf)}) {
                values.push_back(v);
                values.push_back(-v);
            }
        }
    }
    for (double v : values)
        EXPECT_EQ(Fixed6(v), PrintfFixed(v)) << "bits " << std::hex << std::bit_cast<std::uint64_t>(v);
}

TEST(NumberText, FixedSixDecimalsMatchPrintfOnRandomValues)
{
    std::mt19937_64 random(20261207);
    std::uniform_int_distribution<int> exponent(-90, 70);
    std::uniform_int_distribution<int> digits(0, 12);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    int mismatches = 0;
    for (int i = 0; i < 300000 && mismatches < 10; ++i) {
        double v = 0;
        switch (i % 4) {
        case 0: v = std::bit_cast<double>(random()); break;                                  // any bit pattern
        case 1: v = std::ldexp(unit(random), exponent(random)); break;                       // every magnitude
        case 2: v = std::round(unit(random) * 1e9) / std::pow(10.0, digits(random)); break;  // decimal-looking
        default: v = static_cast<double>(static_cast<std::int64_t>(random() >> 20)) / (1 << 23); break;  // dyadic
        }
        const std::string got = Fixed6(v), want = PrintfFixed(v);
        if (got != want) {
            ++mismatches;
            ADD_FAILURE() << "bits " << std::hex << std::bit_cast<std::uint64_t>(v) << ": " << got << " != " << want;
        }
    }
}

TEST(NumberText, ParsingRejectsAnythingButWholeFiniteDecimals)
{
    double d = 7;
    for (const char* bad :
         {"", " ", "nan", "inf", "-inf", "infinity", "0x10", "1e999", "1.5x", "1.5 ", "--1", "+-1", "1e", "."}) {
        EXPECT_FALSE(ParseDoubleC(bad, d)) << '"' << bad << '"';
        EXPECT_EQ(d, 7) << "output touched by \"" << bad << '"';
    }
    EXPECT_TRUE(ParseDoubleC("  +2.5e1", d));
    EXPECT_EQ(d, 25);

    std::int32_t i = 7;
    for (const char* bad : {"", "12 ", "2147483648", "-2147483649", "0x1f", "1.0", "nan"}) {
        EXPECT_FALSE(ParseIntC(bad, i)) << '"' << bad << '"';
        EXPECT_EQ(i, 7);
    }
    EXPECT_TRUE(ParseIntC("-2147483648", i));
    EXPECT_EQ(i, INT32_MIN);
}

TEST(LocaleSeparators, CommaLocaleMovesTheListSeparatorToAPoint)
{
    locale_t probe = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    if (!probe)
        GTEST_SKIP() << "de_DE.UTF-8 not generated";
    freelocale(probe);
    InitLocaleSeparators("de_DE.UTF-8");
    EXPECT_EQ(GetLocaleSeparators().decimal, ',');
    EXPECT_EQ(GetLocaleSeparators().list, '.');
    InitLocaleSeparators("C");
    EXPECT_EQ(GetLocaleSeparators().decimal, '.');
    EXPECT_EQ(GetLocaleSeparators().list, ',');
}

TEST(LocaleSeparators, SeparatorsNeverCoincide)
{
    EXPECT_EQ(ResolveLocaleSeparators(',', ',').list, '.');
    EXPECT_EQ(ResolveLocaleSeparators('.', '.').list, ',');
    EXPECT_EQ(ResolveLocaleSeparators(';', ';').list, ',');
    LocaleSeparators kept = ResolveLocaleSeparators(',', ';');
    EXPECT_EQ(kept.decimal, ',');
    EXPECT_EQ(kept.list, ';');
}
