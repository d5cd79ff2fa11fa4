#pragma once
// A drawn picture written as PNG while it is encoded: each row of the canvas
// is filtered and deflated on its way out, so a picture of 16384 x 16384
// pixels is never held a second time, neither as pixels nor as a file.
//
// The file is 8-bit RGB, not interlaced. Each row takes the PNG filter whose
// bytes have the smallest sum of magnitudes (the usual heuristic), and the
// rows are deflated at zlib's default level into IDAT chunks.
#include <cstdio>

class CPixelDC;

// False when a write failed or zlib gave up; what was written is then no
// whole file.
[[nodiscard]] bool WriteCanvasPng(const CPixelDC& canvas, std::FILE* file);
