#pragma once
// Numbers in files are written and parsed in the C locale whatever the user's
// locale: Qt sets LC_NUMERIC for the process, and a DXF with "1,5" is broken.
#include <cstdint>
#include <string>
#include <string_view>

// printf-style formatting under the C locale.
std::string FormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Whole-text conversions: optional leading blanks and sign, nothing after the
// number. Doubles must be finite decimal numbers (no hex, nan, inf), integers
// must fit. The output is untouched on failure.
[[nodiscard]] bool ParseDoubleC(std::string_view text, double& value);
[[nodiscard]] bool ParseIntC(std::string_view text, std::int32_t& value);
