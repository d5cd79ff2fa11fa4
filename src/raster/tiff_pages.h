#pragma once
// The pages of a TIFF file, found and checked through the TIFF decoder
// before the image library decodes any of them.
//
// The directories are walked once, in order, and each page's offset kept:
// the library would walk from the first page again for every page. A page
// is checked fully (sizes, sample layout, every strip or tile present in the
// file, and enough compressed bytes for the pixels declared); only then does
// the library decode it, from a view of the file whose first directory is
// that page, with any field it would trip over corrected in the view.
// Samples other than unsigned integers, a compression the decoder lacks and
// tiles or strips too large to decode at once are refused; a resolution of
// an unknown unit or above 100,000 dpi is taken for none.
#include "raster/raster_decoders.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CTiffPage {
    std::uint64_t directory = 0;  // offset of the page's directory
    RasterLoadError error = RasterLoadError::kNone;
    std::string detail;
    // A one-sample page that declares separate planes: the same pixels as
    // contiguous ones, which the library expects; 0 when not needed.
    std::uint64_t planarValueAt = 0;
    // The extra sample is alpha: straight, or already multiplied in.
    bool alpha = false;
    bool premultiplied = false;
    // The page as a loaded image has it, read from the directory alone.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned bitsPerPixel = 0;  // samples x bits per sample as stored
    // The loaded image's bit count when the directory alone tells it (one
    // bit, and the layouts CountTiffPageGrey reads); 0 otherwise.
    unsigned loadedBitCount = 0;
    LONG xDotsPerMetre = 0;  // 0 when the file's resolution counts as none
    LONG yDotsPerMetre = 0;
};

// True when the bytes start like a TIFF (classic or big).
bool IsTiffSignature(const BYTE* data, std::size_t size);

// The pages of a TIFF in memory, at most maxPages of them; false (with the
// reason) when not even the first directory can be read.
bool ScanTiffPages(const BYTE* data, std::size_t size, std::vector<CTiffPage>& pages, CDecodeStatus& status,
                   std::size_t maxPages = SIZE_MAX);

// Adds the rounded grey-level counts of a checked page to bins[256], as
// the loaded image would give them, decoding one strip or tile at a time:
// the whole page may not fit in memory. Only for pages with a
// loadedBitCount above 1; false for others and when a piece fails to decode.
[[nodiscard]] bool CountTiffPageGrey(const BYTE* data, std::size_t size, const CTiffPage& page, std::uint64_t* bins);

// Decodes a checked page; null with the reason on failure. Damaged
// compressed pixels, which the library decodes as blank rows, are found from
// the decoder's reports (InitRasterLibrary routes them): a page with no intact
// strip or tile is refused, one with some is decoded with a warning in status
// naming the damaged ones.
[[nodiscard]] FIBITMAP* DecodeTiffPage(const BYTE* data, std::size_t size, const CTiffPage& page,
                                       CDecodeStatus& status);
