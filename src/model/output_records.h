#pragma once
// Helpers that every entity's output records share: the page colour, the
// conversion from raster pixels to the drawing unit, whole-record writes,
// the colour forms of SVG and PDF and the words of binary CGM.
#include <cstdio>
#include <string>

#include "platform/colorref.h"

class CEntity;
class CPDFStream;

// The colour a page format (SVG, CGM, EPS, PDF, metafile) draws the entity
// in: its own index or its layer's, with index 7 as black so that it shows on
// the white page whichever way it was reached.
[[nodiscard]] COLORREF GetPageColor(const CEntity& entity);
// Raster pixels to the unit of the entity's drawing (unchanged without one).
void ConvertToDrawingUnit(const CEntity& entity, double* x, double* y);
[[nodiscard]] double ConvertLengthToDrawingUnit(const CEntity& entity, double length);
// The whole text in one write; false when it was not all written.
[[nodiscard]] bool WriteOutputText(std::FILE* file, const std::string& text);
// "RGB(r,g,b)" for SVG.
[[nodiscard]] std::string SvgColorText(COLORREF color);
// Grey when the three parts are equal, else RGB; the fill as well when asked.
void SetPdfColor(CPDFStream* stream, COLORREF color, bool fill);
// A big-endian 16-bit word, and a coordinate rounded to the nearest integer
// (halves up) and held within the signed 16-bit range.
void PutCgmWord16(std::FILE* file, unsigned word);
void PutCgmCoordinate(std::FILE* file, double value);
