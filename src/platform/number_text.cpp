#include "platform/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <locale.h>

namespace {

locale_t CLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// Strips the leading blanks and a '+' that from_chars does not take.
std::string_view NumberStart(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    return text;
}

} // namespace

std::string FormatC(const char* format, ...)
{
    locale_t previous = uselocale(CLocale());
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    char small[128];
    int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string result;
    if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
        result.assign(small, static_cast<size_t>(length));
    } else if (length >= 0) {
        result.resize(static_cast<size_t>(length));
        std::vsnprintf(result.data(), result.size() + 1, format, copy);
    }
    va_end(copy);
    uselocale(previous);
    return result;
}

bool ParseDoubleC(std::string_view text, double& value)
{
    text = NumberStart(text);
    if (text.empty())
        return false;
    double parsed = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::general);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

bool ParseIntC(std::string_view text, std::int32_t& value)
{
    text = NumberStart(text);
    if (text.empty())
        return false;
    std::int32_t parsed = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
    if (error != std::errc() || end != text.data() + text.size())
        return false;
    value = parsed;
    return true;
}
