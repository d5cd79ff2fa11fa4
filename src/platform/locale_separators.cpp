#include "platform/locale_separators.h"

#include "platform/settings_store.h"

#include <langinfo.h>
#include <locale.h>

namespace {

LocaleSeparators separators;

const char* const kInternationalKey = "Control Panel\\International";

// The first character of a stored override, or 0.
char StoredSeparator(const char* valueName)
{
    CSettingsKey key;
    std::string text;
    if (!key.Open(kInternationalKey) || !key.QueryString(valueName, text) || text.empty())
        return 0;
    // Only a one-byte character can stand in a number; ignore anything else.
    unsigned char c = static_cast<unsigned char>(text[0]);
    return c < 0x80 ? static_cast<char>(c) : 0;
}

}  // namespace

LocaleSeparators ResolveLocaleSeparators(char localeDecimal, char localeList)
{
    LocaleSeparators result;
    result.decimal = localeDecimal ? localeDecimal : StoredSeparator("sDecimal");
    if (!result.decimal)
        result.decimal = '.';
    result.list = localeList ? localeList : StoredSeparator("sList");
    if (!result.list)
        result.list = ',';
    if (result.decimal == result.list)
        result.list = result.decimal == ',' ? '.' : ',';
    return result;
}

void InitLocaleSeparators(const char* localeName)
{
    char decimal = 0;
    locale_t locale = newlocale(LC_NUMERIC_MASK, localeName, static_cast<locale_t>(nullptr));
    if (locale) {
        const char* radix = nl_langinfo_l(RADIXCHAR, locale);
        // A multi-byte radix (Arabic, for one) cannot stand in for one char.
        if (radix && radix[0] && static_cast<unsigned char>(radix[0]) < 0x80)
            decimal = radix[0];
        freelocale(locale);
    }
    // POSIX locales carry no list separator: only the stored value or the
    // default gives one.
    separators = ResolveLocaleSeparators(decimal, 0);
}

const LocaleSeparators& GetLocaleSeparators() { return separators; }
