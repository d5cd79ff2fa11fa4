#pragma once
// Numbers in files are written and parsed in the C locale whatever the user's
// locale: Qt sets LC_NUMERIC for the process, and a DXF with "1,5" is broken.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// printf-style formatting under the C locale.
std::string FormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends value exactly as FormatC("%f", value) writes it (six decimals,
// rounded half to even on the exact binary value, "-0.000000", "nan", "inf"),
// without printf's cost: the vector writers format millions of coordinates.
void AppendFixed6(std::string& text, double value);
// Appends format with each "%f" replaced by the next value as AppendFixed6
// writes it (it holds no other conversion), so a record keeps its layout in
// one literal.
void AppendFixedFormat(std::string& text, std::string_view format, std::initializer_list<double> values);
// The value as "%X" writes it: upper-case hexadecimal digits.
std::string HexText(std::uint32_t value);

// Whole-text conversions: optional leading blanks and sign, nothing after the
// number. Doubles must be finite decimal numbers (no hex, nan, inf), integers
// must fit. The output is untouched on failure.
[[nodiscard]] bool ParseDoubleC(std::string_view text, double& value);
[[nodiscard]] bool ParseIntC(std::string_view text, std::int32_t& value);
