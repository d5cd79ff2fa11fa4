#pragma once
// Numbers as the user reads and types them, durations, plotter units and the
// raster file extensions.
#include <cstdint>
#include <string>
#include <string_view>

// Whole-text conversions with the user's decimal separator (a '.' is taken
// too). Finite decimal numbers only; the output is untouched on failure.
[[nodiscard]] bool ParseInt(std::string_view text, std::int32_t& value);
[[nodiscard]] bool ParseDouble(std::string_view text, double& value);

void UseLocaleDecimalPoint(std::string& text);
std::string IntToString(std::int32_t value);
// Fixed notation with the given decimals, in the user's decimal separator.
std::string DoubleToString(double value, std::int16_t decimals);

// Index of the first occurrence, or -1.
int StrFindChar(std::string_view text, char c);

// Appends " H hours M minutes S seconds", leaving out leading zero parts.
void FormatDuration(std::uint32_t seconds, std::string& text);

// Drawing units of the HP-GL output.
enum PlotterUnit { kUnitInch = 0, kUnitCentimetre = 1, kUnitMillimetre = 2, kUnitPixel = 3 };
// Multiplies both by the plotter units per drawing unit.
void ScaleToPlotterUnits(double* x, double* y, int unit);

// True for the raster formats the program opens; the extension has its point.
bool IsRasterFileExt(std::string_view extension);
