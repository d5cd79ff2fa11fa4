#pragma once
// The user's decimal and list separators, for numbers shown to and typed by
// the user (never for numbers in files).

struct LocaleSeparators {
    char decimal = '.';
    char list = ',';
};

// Fills the process-wide separators from the user's numeric locale (the
// environment's LC_ALL, LC_NUMERIC or LANG), or from the named locale. Called
// once at start-up, before any worker thread runs.
void InitLocaleSeparators(const char* localeName = "");

const LocaleSeparators& GetLocaleSeparators();

// Applies the fallbacks and the rule that the two never coincide. A zero
// character means "the locale gave nothing".
LocaleSeparators ResolveLocaleSeparators(char localeDecimal, char localeList);
