#include "platform/number_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
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

// Six decimals: the fraction is scaled by a million before rounding.
constexpr std::uint64_t kMicro = 1000000;
constexpr int kDecimals = 6;
// Magnitudes below 2^64 go the integer way; the million-fold scaled value
// (under 2^84) then fits 128 bits.
constexpr int kMantissaBits = 52;
constexpr int kExponentBias = 1023;
constexpr int kLargestIntegerExponent = 63;
// A 53-bit mantissa times a million stays below 2^73, so a value shifted
// right by more than that rounds to 0.
constexpr int kScaledBits = 73;

__extension__ typedef unsigned __int128 Wide;

// |value| * 10^6 rounded to the nearest integer, ties to even, exactly: the
// double is m * 2^e, so the product is an integer over a power of two.
Wide ScaledMagnitude(std::uint64_t bits)
{
    const int biased = static_cast<int>((bits >> kMantissaBits) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << kMantissaBits) - 1);
    int exponent = 1 - kExponentBias - kMantissaBits;  // subnormal
    if (biased != 0) {
        mantissa |= std::uint64_t{1} << kMantissaBits;
        exponent = biased - kExponentBias - kMantissaBits;
    }
    const Wide product = static_cast<Wide>(mantissa) * kMicro;
    if (exponent >= 0)
        return product << exponent;
    const int shift = -exponent;
    if (shift > kScaledBits)
        return 0;
    const Wide quotient = product >> shift;
    const Wide rest = product & ((Wide{1} << shift) - 1);
    const Wide half = Wide{1} << (shift - 1);
    const bool up = rest > half || (rest == half && (quotient & 1) != 0);
    return quotient + (up ? 1 : 0);
}

}  // namespace

void AppendFixed6(std::string& text, double value)
{
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const int biased = static_cast<int>((bits >> kMantissaBits) & 0x7FF);
    if (biased - kExponentBias > kLargestIntegerExponent) {
        // Huge, infinite or not a number: rare enough for printf itself.
        text += FormatC("%f", value);
        return;
    }
    const Wide scaled = ScaledMagnitude(bits);
    std::uint64_t whole = 0;
    std::uint32_t fraction = 0;
    if (const auto low = static_cast<std::uint64_t>(scaled); low == scaled) {
        // Below 1.8e13 in magnitude, as drawings are: no 128-bit division.
        whole = low / kMicro;
        fraction = static_cast<std::uint32_t>(low % kMicro);
    } else {
        whole = static_cast<std::uint64_t>(scaled / kMicro);
        fraction = static_cast<std::uint32_t>(scaled % kMicro);
    }
    char buffer[32];
    char* end = buffer;
    if (bits >> 63)
        *end++ = '-';
    end = std::to_chars(end, buffer + sizeof buffer - kDecimals - 1, whole).ptr;
    *end = '.';
    for (int i = kDecimals; i > 0; --i) {
        end[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    text.append(buffer, static_cast<std::size_t>(end + 1 + kDecimals - buffer));
}

void AppendFixedFormat(std::string& text, std::string_view format, std::initializer_list<double> values)
{
    const double* next = values.begin();
    for (std::size_t at = format.find("%f"); at != std::string_view::npos && next != values.end();
         at = format.find("%f")) {
        text.append(format.substr(0, at));
        AppendFixed6(text, *next++);
        format.remove_prefix(at + 2);
    }
    text.append(format);
}

std::string HexText(std::uint32_t value)
{
    char buffer[8];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, value, 16).ptr;
    for (char* c = buffer; c != end; ++c)
        if (*c >= 'a')
            *c = static_cast<char>(*c - 'a' + 'A');
    return std::string(buffer, end);
}

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
