#include "model/utilities.h"

#include "model/text_table.h"
#include "platform/locale_separators.h"
#include "platform/number_text.h"

#include <algorithm>
#include <cctype>

bool ParseInt(std::string_view text, std::int32_t& value) { return ParseIntC(text, value); }

bool ParseDouble(std::string_view text, double& value)
{
    std::string copy(text);
    std::replace(copy.begin(), copy.end(), GetLocaleSeparators().decimal, '.');
    return ParseDoubleC(copy, value);
}

void UseLocaleDecimalPoint(std::string& text)
{
    std::replace(text.begin(), text.end(), '.', GetLocaleSeparators().decimal);
}

std::string IntToString(std::int32_t value) { return FormatC("%d", value); }

std::string DoubleToString(double value, std::int16_t decimals)
{
    // printf takes no negative precision; beyond 17 digits nothing is exact.
    int precision = std::clamp<int>(decimals, 0, 17);
    std::string text = FormatC("%-.*f", precision, value);
    UseLocaleDecimalPoint(text);
    return text;
}

int StrFindChar(std::string_view text, char c)
{
    size_t at = text.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

void FormatDuration(std::uint32_t seconds, std::string& text)
{
    // The unit names come from user-editable language files, so they are
    // concatenated, never used as a format.
    std::uint32_t hours = seconds / 3600;
    std::uint32_t minutes = seconds % 3600 / 60;
    std::uint32_t rest = seconds % 60;
    auto append = [&text](std::uint32_t n, const std::string& unit) {
        text += ' ';
        text += std::to_string(n);
        text += ' ';
        text += unit;
    };
    if (hours > 0)
        append(hours, GetLanString("HourName", "hours"));
    if (minutes > 0 || hours > 0)
        append(minutes, GetLanString("MinuteName", "minutes"));
    append(rest, GetLanString("SecondName", "seconds"));
}

void ScaleToPlotterUnits(double* x, double* y, int unit)
{
    double factor = 1.0;
    switch (unit) {
    case kUnitInch: factor = 1016.0; break;
    case kUnitCentimetre: factor = 400.0; break;
    case kUnitMillimetre: factor = 40.0; break;
    case kUnitPixel: factor = 10.0; break;
    default: return;
    }
    *x *= factor;
    *y *= factor;
}

bool IsRasterFileExt(std::string_view extension)
{
    static const char* const known[] = {".bmp", ".jpg", ".jpeg", ".tga", ".tif", ".tiff", ".pcx"};
    std::string lower(extension);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(std::begin(known), std::end(known), lower) != std::end(known);
}
