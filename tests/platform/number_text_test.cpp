#include "platform/locale_separators.h"
#include "platform/number_text.h"

#include <gtest/gtest.h>
#include <locale.h>

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

} // namespace

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

TEST(NumberText, ParsingRejectsAnythingButWholeFiniteDecimals)
{
    double d = 7;
    for (const char* bad : {"", " ", "nan", "inf", "-inf", "infinity", "0x10", "1e999", "1.5x", "1.5 ", "--1", "+-1",
                            "1e", "."}) {
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
