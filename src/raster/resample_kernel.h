#pragma once
// The two passes of resampling, apart from argument checks, messages and the
// replacement of the image (CRasterSrc::Resample).
//
// Data: a contributor table lists, for every output column (or row), the
// source pixels that make it and their weights, `taps` entries per output:
// the real contributors first, in source order, then padding of weight 0 on
// the output's first source (adding 0 to a sum changes nothing, so every
// output runs the same loop). Indices always lie in the source; weights are
// normalised to sum to 1, so a flat picture stays flat at any ratio.
//
// Arithmetic is single precision throughout. Each output sample is the sum of
// weight x source sample over its contributors in table order, clamped to
// 0..255 and rounded half up; the first pass (along rows) is rounded to bytes
// before the second (down columns) reads it.
#include "raster/raster_src.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CStrecthFilter;

struct CContributorTable {
    int outCount = 0;
    int taps = 0;
    std::vector<int> index;     // outCount x taps
    std::vector<float> weight;  // outCount x taps
};

// The largest kernel half-width accepted, in source pixels at scale 1.
constexpr float kMaxStretchSupport = 16.0f;

// A source index reflected into [0, count): -1 is 1, count is count - 1, and
// so on as often as needed for indices far outside.
int ReflectIndex(std::int64_t j, int count);

// Builds the table for inCount source pixels to outCount output pixels
// (both >= 1). Output i is centred on i / scale with scale = (outCount - 1) /
// (inCount - 1); a source of 1 pixel has scale outCount, and a single output
// pixel is centred on the middle of the source with scale 1 / inCount. When
// minifying (scale < 1) the kernel is widened by 1 / scale. Progress runs
// 0..100 with the given text. False when memory is short.
[[nodiscard]] bool BuildContributors(int inCount, int outCount, const CStrecthFilter& kernel, CContributorTable& table,
                                     RasterProgress progress = nullptr, const std::string& text = {});

// How much the first pass may keep of its rows for the second to read.
constexpr std::size_t kResampleCacheBudget = std::size_t{256} << 20;

// Resamples source into target, which must already hold the output size at
// the output depth: 8-bit grey for sources of 8 bits or fewer (read as their
// grey levels), the source's own depth above. False, target incomplete, when
// memory is short or the depths do not match.
[[nodiscard]] bool ResampleInto(const CRasterSrc& source, CRasterSrc& target, const CStrecthFilter& kernel,
                                RasterProgress progress = nullptr, std::size_t cacheBudget = kResampleCacheBudget);
