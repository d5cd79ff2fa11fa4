#include "raster/freeimage_api.h"

#include "raster/tiff_pages.h"

#include "platform/number_text.h"
#include "raster/grey_rows.h"
#include "raster/raster_file.h"
#include "raster/raster_library.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr std::uint16_t kClassicMagic = 42, kBigMagic = 43;
constexpr std::size_t kClassicHeaderBytes = 8, kBigHeaderBytes = 16;
constexpr unsigned kMaxSamples = 5;  // CMYK and alpha
constexpr double kUnknownCodecBytesPerByte = 1e5;
// The library decodes a whole tile or strip at once: one larger than this is
// refused before it allocates it.
constexpr std::uint64_t kMaxPieceBytes = std::uint64_t{256} << 20;
// Tile sides are multiples of 16, so a page's tiles may overhang it by less.
constexpr std::uint32_t kTileAlign = 16;
// What the library takes when a page gives no resolution.
constexpr float kLibraryDefaultDotsPerInch = 300.0f;
constexpr double kCentimetresPerMetre = 100.0;

// Most decoded bytes one compressed byte can stand for, per compression:
// a PackBits run is 2 bytes for 128, an LZW table of 4094 codes spells at
// most 8 million bytes in 6 kB, deflate expands at most 1032 times, a
// Huffman-coded JPEG needs a bit per 8 x 8 block of each sample, a fax
// code at least a bit per row.
// The sample layouts the image library copies safely for each colour space;
// others (a palette of four samples, CMYK of two) make it abort or write
// through a null row while copying pixels.
bool LibraryTakesLayout(unsigned photometric, unsigned samples, unsigned bits)
{
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK: return samples == 1 || (samples == 2 && bits >= 8);
    case PHOTOMETRIC_PALETTE: return samples == 1 && bits <= 8;
    case PHOTOMETRIC_RGB: return (samples == 3 || samples == 4) && bits >= 8;
    case PHOTOMETRIC_SEPARATED: return samples >= 4 && bits >= 8;
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB: return samples >= 3 && bits >= 8;
    default: return true;
    }
}

double MaxExpansion(unsigned compression, std::uint64_t rowBytes, unsigned samples)
{
    switch (compression) {
    case COMPRESSION_NONE: return 1.0;
    case COMPRESSION_PACKBITS: return 64.0;
    case COMPRESSION_LZW: return 1400.0;
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE: return 1100.0;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG: return 1024.0 * samples;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4: return 8.0 * static_cast<double>(std::max<std::uint64_t>(rowBytes, 1));
    default: return kUnknownCodecBytesPerByte;
    }
}

// ------------------------------------------------------- file in memory --

struct CMemoryStream {
    const BYTE* data;
    std::size_t size;
    std::uint64_t at = 0;
};

tmsize_t StreamRead(thandle_t handle, void* buffer, tmsize_t bytes)
{
    auto* s = static_cast<CMemoryStream*>(handle);
    if (bytes <= 0 || s->at >= s->size)
        return 0;
    std::size_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(bytes), s->size - s->at);
    std::memcpy(buffer, s->data + s->at, n);
    s->at += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t StreamWrite(thandle_t, void*, tmsize_t) { return 0; }

toff_t StreamSeek(thandle_t handle, toff_t offset, int whence)
{
    auto* s = static_cast<CMemoryStream*>(handle);
    std::uint64_t base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? s->size : 0;
    s->at = base + offset;
    return s->at;
}

int StreamClose(thandle_t) { return 0; }

toff_t StreamSize(thandle_t handle) { return static_cast<CMemoryStream*>(handle)->size; }

int StreamMap(thandle_t, void**, toff_t*) { return 0; }

void StreamUnmap(thandle_t, void*, toff_t) {}

bool IsLittleEndian(const BYTE* data) { return data[0] == 'I'; }

std::uint64_t ReadWord(const BYTE* p, unsigned bytes, bool little)
{
    std::uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i)
        v |= std::uint64_t{p[little ? i : bytes - 1 - i]} << (8 * i);
    return v;
}

void WriteWord(BYTE* p, std::uint64_t v, unsigned bytes, bool little)
{
    for (unsigned i = 0; i < bytes; ++i)
        p[little ? i : bytes - 1 - i] = static_cast<BYTE>(v >> (8 * i));
}

bool IsBig(const BYTE* data) { return ReadWord(data + 2, 2, IsLittleEndian(data)) == kBigMagic; }

// Where the value of the page's entry for tag lies, when it is one SHORT;
// 0 if absent or otherwise.
std::uint64_t FindShortValue(const BYTE* data, std::size_t size, std::uint64_t directory, unsigned tag)
{
    const bool little = IsLittleEndian(data), big = IsBig(data);
    const unsigned countBytes = big ? 8 : 2, entryBytes = big ? 20 : 12, valueAt = big ? 12 : 8;
    if (directory > size || size - directory < countBytes)
        return 0;
    std::uint64_t count = ReadWord(data + directory, countBytes, little);
    std::uint64_t first = directory + countBytes;
    if (count > (size - first) / entryBytes)
        return 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const BYTE* entry = data + first + i * entryBytes;
        if (ReadWord(entry, 2, little) == tag)
            return ReadWord(entry + 2, 2, little) == TIFF_SHORT ? first + i * entryBytes + valueAt : 0;
    }
    return 0;
}

// --------------------------------------------------------- page checks --

const char* SampleFormatName(unsigned format)
{
    switch (format) {
    case SAMPLEFORMAT_INT: return "signed integer";
    case SAMPLEFORMAT_IEEEFP: return "floating-point";
    case SAMPLEFORMAT_COMPLEXINT:
    case SAMPLEFORMAT_COMPLEXIEEEFP: return "complex";
    default: return "unknown-format";
    }
}

// The page's resolution in dots per metre as the library sets it (inch when
// the unit is none, 300 dpi when absent); 0 for both when the unit is not
// one of the three or either value is absurd.
void ReadResolution(TIFF* tif, const BYTE* data, std::size_t size, CTiffPage& page)
{
    std::uint16_t unit = RESUNIT_INCH;
    float x = kLibraryDefaultDotsPerInch, y = kLibraryDefaultDotsPerInch;
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    // The decoder drops a unit it does not know and takes inches: read the
    // page's own.
    if (const std::uint64_t at = FindShortValue(data, size, page.directory, TIFFTAG_RESOLUTIONUNIT))
        unit = static_cast<std::uint16_t>(ReadWord(data + at, 2, IsLittleEndian(data)));
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y);
    if (unit == RESUNIT_NONE && x > 0 && y > 0)
        unit = RESUNIT_INCH;
    if (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER)
        return;
    const double perInch = unit == RESUNIT_INCH ? 1.0 : kCentimetresPerMetre * kMetresPerInch;
    const double xDpi = static_cast<double>(x) * perInch, yDpi = static_cast<double>(y) * perInch;
    if (!(xDpi <= kMaxFileDotsPerInch) || !(yDpi <= kMaxFileDotsPerInch))  // NaN too
        return;
    page.xDotsPerMetre = static_cast<LONG>(std::floor(std::max(0.0, xDpi / kMetresPerInch + 0.5)));
    page.yDotsPerMetre = static_cast<LONG>(std::floor(std::max(0.0, yDpi / kMetresPerInch + 0.5)));
}

// One tile or strip as the library decodes it: a tile larger than the page
// it tiles is damage, and any piece over kMaxPieceBytes is refused before
// the library allocates it.
bool CheckPieceSize(TIFF* tif, std::uint32_t width, std::uint32_t height, std::string& why)
{
    std::uint64_t bytes = 0;
    if (TIFFIsTiled(tif)) {
        std::uint32_t tileWidth = 0, tileHeight = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
        auto aligned = [](std::uint64_t side) { return (side + kTileAlign - 1) / kTileAlign * kTileAlign; };
        if (tileWidth > aligned(width) || tileHeight > aligned(height)) {
            why = FormatC("tiles of %u x %u pixels on a page of %u x %u", tileWidth, tileHeight, width, height);
            return false;
        }
        bytes = TIFFTileSize64(tif);
    } else {
        bytes = TIFFStripSize64(tif);
    }
    if (bytes > kMaxPieceBytes) {
        why = FormatC("a %s of %llu bytes decoded, more than %llu", TIFFIsTiled(tif) ? "tile" : "strip",
                      static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(kMaxPieceBytes));
        return false;
    }
    return true;
}

// The pages whose pixels the library keeps as stored, so that the loaded
// image's grey levels can be counted piece by piece: 8-bit grey, and 8-bit
// RGB with its samples together, neither with extra samples. JPEG is left
// out: the library decodes it through a colour path of its own. So is a page
// without its own photometric entry: the decoder guesses one, the library
// takes white as zero.
enum class CountedLayout { kNone, kGrey, kInvertedGrey, kRgb };

CountedLayout CountedLayoutOf(TIFF* tif, const BYTE* data, std::size_t size, std::uint64_t directory)
{
    if (FindShortValue(data, size, directory, TIFFTAG_PHOTOMETRIC) == 0)
        return CountedLayout::kNone;
    std::uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK, extraCount = 0;
    std::uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    // An entry the decoder threw away (a wrong count, say) leaves the library
    // to guess, as if there were none.
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1)
        return CountedLayout::kNone;
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (bits != 8 || extraCount != 0 || compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG)
        return CountedLayout::kNone;
    if (samples == 1 && photometric == PHOTOMETRIC_MINISBLACK)
        return CountedLayout::kGrey;
    if (samples == 1 && photometric == PHOTOMETRIC_MINISWHITE)
        return CountedLayout::kInvertedGrey;
    if (samples == 3 && photometric == PHOTOMETRIC_RGB && planar == PLANARCONFIG_CONTIG)
        return CountedLayout::kRgb;
    return CountedLayout::kNone;
}

unsigned LoadedBitCount(TIFF* tif, const BYTE* data, std::size_t size, const CTiffPage& page)
{
    if (page.bitsPerPixel == 1)
        return 1;
    switch (CountedLayoutOf(tif, data, size, page.directory)) {
    case CountedLayout::kGrey:
    case CountedLayout::kInvertedGrey: return 8;
    case CountedLayout::kRgb: return 24;
    default: return 0;
    }
}

void CheckPage(TIFF* tif, const BYTE* data, std::size_t size, CTiffPage& page)
{
    auto fail = [&page](RasterLoadError why, std::string text) {
        page.error = why;
        page.detail = std::move(text);
    };
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height))
        return fail(RasterLoadError::kDecodeFailed, "a page without its width or height");
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    // The library reads any other sample format as unsigned integers: wrong colours.
    if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID)
        return fail(RasterLoadError::kUnsupportedLayout,
                    FormatC("%s samples of %u bits", SampleFormatName(sampleFormat), unsigned{bits}));
    // An unknown compression otherwise decodes as a blank page.
    if (!TIFFIsCODECConfigured(compression))
        return fail(RasterLoadError::kUnsupportedLayout, FormatC("compression %u", unsigned{compression}));
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16)
        return fail(RasterLoadError::kUnsupportedLayout, FormatC("%u bits per sample", unsigned{bits}));
    if (samples < 1 || samples > kMaxSamples)
        return fail(RasterLoadError::kUnsupportedLayout, FormatC("%u samples per pixel", unsigned{samples}));
    const bool separate = planar == PLANARCONFIG_SEPARATE && samples > 1;
    if (separate && bits < 8)
        return fail(RasterLoadError::kUnsupportedLayout, "separate planes of fewer than 8 bits per sample");
    if (planar == PLANARCONFIG_SEPARATE && samples == 1) {
        page.planarValueAt = FindShortValue(data, size, page.directory, TIFFTAG_PLANARCONFIG);
        if (page.planarValueAt == 0)
            return fail(RasterLoadError::kDecodeFailed, "a planar configuration the page does not hold");
    }
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0 && extra) {
        page.alpha = extra[0] == EXTRASAMPLE_UNASSALPHA || extra[0] == EXTRASAMPLE_ASSOCALPHA;
        page.premultiplied = extra[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    // Colours the library converts pass through a 32-bit copy on their way in.
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (!LibraryTakesLayout(photometric, samples, bits))
        return fail(RasterLoadError::kUnsupportedLayout,
                    FormatC("%u samples of %u bits for photometric %u", unsigned{samples}, unsigned{bits},
                            unsigned{photometric}));
    unsigned declaredBits = bits * samples;
    if (photometric == PHOTOMETRIC_YCBCR || photometric == PHOTOMETRIC_SEPARATED || photometric == PHOTOMETRIC_CIELAB ||
        compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG)
        declaredBits = std::max(declaredBits, 32u) * 2;
    std::string why;
    RasterLoadError declared = CheckRasterSize(width, height, declaredBits, &why);
    if (declared != RasterLoadError::kNone)
        return fail(declared, why);
    page.width = width;
    page.height = height;
    page.bitsPerPixel = unsigned{bits} * samples;
    ReadResolution(tif, data, size, page);

    const std::uint32_t pieces = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    if (pieces == 0)
        return fail(RasterLoadError::kDecodeFailed, "a page without strips or tiles");
    std::uint64_t present = 0;
    for (std::uint32_t i = 0; i < pieces; ++i) {
        std::uint64_t offset = TIFFGetStrileOffset(tif, i), bytes = TIFFGetStrileByteCount(tif, i);
        if (bytes == 0 || offset >= size || bytes > size - offset)
            return fail(RasterLoadError::kTruncated,
                        FormatC("strip %u of %u lies beyond the end of the file", i + 1, pieces));
        present += bytes;
    }
    const std::uint64_t rowBytes = (std::uint64_t{width} * bits * (separate ? 1 : samples) + 7) / 8;
    const std::uint64_t expected = rowBytes * height * (separate ? samples : 1);
    if (static_cast<double>(present) * MaxExpansion(compression, rowBytes, samples) < static_cast<double>(expected))
        return fail(RasterLoadError::kTruncated, FormatC("%llu bytes of compressed pixels cannot hold %u x %u pixels",
                                                         static_cast<unsigned long long>(present), width, height));
    if (!CheckPieceSize(tif, width, height, why))
        return fail(RasterLoadError::kUnsupportedLayout, why);
    page.loadedBitCount = LoadedBitCount(tif, data, size, page);
}

// Counts the rows of one decoded piece that lie on the page: rgb rows are
// turned to the blue, green, red order of the loaded image first.
void CountPiece(const CGreyRowReader& reader, bool rgb, const BYTE* piece, std::uint64_t rowBytes, unsigned cols,
                unsigned rows, BYTE* bgr, CGreyCounts& counts)
{
    for (unsigned r = 0; r < rows; ++r) {
        const BYTE* row = piece + r * rowBytes;
        if (rgb) {
            for (unsigned x = 0; x < cols; ++x) {
                bgr[3 * x] = row[3 * x + 2];
                bgr[3 * x + 1] = row[3 * x + 1];
                bgr[3 * x + 2] = row[3 * x];
            }
            row = bgr;
        }
        reader.CountRow(row, static_cast<int>(cols), counts);
    }
}

// ------------------------------------------------------ patched view --

// The file as the library reads it: the same bytes, with a few replaced.
struct CPatchedView {
    const BYTE* data;
    std::size_t size;
    std::size_t at = 0;
    struct Patch {
        std::uint64_t at;
        BYTE bytes[8];
        unsigned count;
    } patches[2] = {};
    unsigned patchCount = 0;
};

unsigned ViewRead(void* buffer, unsigned size, unsigned count, fi_handle handle)
{
    auto* v = static_cast<CPatchedView*>(handle);
    if (size == 0 || v->at >= v->size)
        return 0;
    std::uint64_t items = std::min<std::uint64_t>(count, (v->size - v->at) / size);
    std::size_t n = static_cast<std::size_t>(items * size);
    auto* out = static_cast<BYTE*>(buffer);
    std::memcpy(out, v->data + v->at, n);
    for (unsigned p = 0; p < v->patchCount; ++p) {
        const auto& patch = v->patches[p];
        for (unsigned i = 0; i < patch.count; ++i) {
            std::uint64_t at = patch.at + i;
            if (at >= v->at && at < v->at + n)
                out[at - v->at] = patch.bytes[i];
        }
    }
    v->at += n;
    return static_cast<unsigned>(items);
}

unsigned ViewWrite(void*, unsigned, unsigned, fi_handle) { return 0; }

int ViewSeek(fi_handle handle, long offset, int origin)
{
    auto* v = static_cast<CPatchedView*>(handle);
    long long base = origin == SEEK_CUR   ? static_cast<long long>(v->at)
                     : origin == SEEK_END ? static_cast<long long>(v->size)
                                          : 0;
    long long to = base + offset;
    if (to < 0)
        return -1;
    v->at = static_cast<std::size_t>(to);
    return 0;
}

long ViewTell(fi_handle handle) { return static_cast<long>(static_cast<CPatchedView*>(handle)->at); }

// ------------------------------------------------------------ damage --

// The library decodes what it can of a damaged page and leaves the rest
// blank; the decoder says so only in its messages. So a page decoded with
// reports is decoded again one piece at a time through a handle of its own,
// whose messages each belong to the piece being decoded.
constexpr std::size_t kMaxNamedPieces = 8;  // ranges listed in a warning

struct CPieceReports {
    unsigned count = 0;
    std::string first;  // of the piece being decoded
};

int KeepPieceReport(TIFF* tif, void* user, const char* module, const char* format, va_list arguments)
{
    if (module && std::strcmp(module, "TIFFFieldWithTag") == 0)
        return 1;
    auto& reports = *static_cast<CPieceReports*>(user);
    if (reports.count++ == 0) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        // Some reports name the handle, which says nothing to the user.
        const bool named = module && *module && !(tif && std::strcmp(module, TIFFFileName(tif)) == 0);
        reports.first = named ? std::string(module) + ": " + text : text;
    }
    return 1;  // handled: the process-wide handlers never see it
}

struct CTiffDamage {
    bool tiled = false;
    std::uint32_t pieces = 0;
    std::vector<std::uint32_t> damaged;  // from 0, ascending
    std::string first;                   // the first damaged piece's report
};

// Decodes every piece of a checked page; false when the page cannot be
// opened again or no piece buffer can be had.
bool FindTiffDamage(const BYTE* data, std::size_t size, const CTiffPage& page, CTiffDamage& damage)
{
    CPieceReports reports;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return false;
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepPieceReport, &reports);
    TIFFOpenOptionsSetWarningHandlerExtR(options, KeepPieceReport, &reports);
    CMemoryStream stream{data, size};
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFClientOpenExt("memory", "rm", &stream, StreamRead, StreamWrite,
                                                                 StreamSeek, StreamClose, StreamSize, StreamMap,
                                                                 StreamUnmap, options),
                                               TIFFClose);
    TIFFOpenOptionsFree(options);
    if (!tif || !TIFFSetSubDirectory(tif.get(), page.directory))
        return false;
    damage.tiled = TIFFIsTiled(tif.get());
    damage.pieces = damage.tiled ? TIFFNumberOfTiles(tif.get()) : TIFFNumberOfStrips(tif.get());
    // The page checks bounded a piece by kMaxPieceBytes.
    const tmsize_t pieceBytes = damage.tiled ? TIFFTileSize(tif.get()) : TIFFStripSize(tif.get());
    if (pieceBytes <= 0)
        return false;
    std::unique_ptr<BYTE[]> piece(new (std::nothrow) BYTE[static_cast<std::size_t>(pieceBytes)]);
    if (!piece)
        return false;
    for (std::uint32_t i = 0; i < damage.pieces; ++i) {
        reports = {};
        const tmsize_t read = damage.tiled ? TIFFReadEncodedTile(tif.get(), i, piece.get(), pieceBytes)
                                           : TIFFReadEncodedStrip(tif.get(), i, piece.get(), pieceBytes);
        if (read >= 0 && reports.count == 0)
            continue;
        if (damage.damaged.empty())
            damage.first = reports.first.empty() ? "it does not decode" : reports.first;
        damage.damaged.push_back(i);
    }
    return true;
}

// "strip 21 of 66 is damaged", "strips 3-5, 9 of 66 are damaged", counted
// from 1, with the decoder's report on the first.
std::string DescribeTiffDamage(const CTiffDamage& damage)
{
    std::string list;
    std::size_t ranges = 0;
    for (std::size_t i = 0; i < damage.damaged.size();) {
        std::size_t j = i;
        while (j + 1 < damage.damaged.size() && damage.damaged[j + 1] == damage.damaged[j] + 1)
            ++j;
        if (ranges++ == kMaxNamedPieces) {
            list += ", ...";
            break;
        }
        list += (list.empty() ? "" : ", ") + std::to_string(damage.damaged[i] + 1);
        if (j > i)
            list += "-" + std::to_string(damage.damaged[j] + 1);
        i = j + 1;
    }
    const bool one = damage.damaged.size() == 1;
    return FormatC("%s%s %s of %u %s damaged (%s)", damage.tiled ? "tile" : "strip", one ? "" : "s", list.c_str(),
                   damage.pieces, one ? "is" : "are", damage.first.c_str());
}

// Premultiplied colours over white only need the white the alpha let through.
void ComposeTiffAlpha(FIBITMAP* bitmap, bool premultiplied)
{
    if (!premultiplied)
        return ComposeOverWhite(bitmap);
    const unsigned height = FreeImage_GetHeight(bitmap), width = FreeImage_GetWidth(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* p = FreeImage_GetScanLine(bitmap, static_cast<int>(y));
        for (unsigned x = 0; x < width; ++x, p += 4) {
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<BYTE>(std::min(255u, p[c] + 255u - p[3]));
            p[3] = 255;
        }
    }
}

}  // namespace

bool IsTiffSignature(const BYTE* data, std::size_t size)
{
    if (size < kClassicHeaderBytes || !((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M')))
        return false;
    std::uint64_t magic = ReadWord(data + 2, 2, IsLittleEndian(data));
    return magic == kClassicMagic || (magic == kBigMagic && size >= kBigHeaderBytes);
}

bool ScanTiffPages(const BYTE* data, std::size_t size, std::vector<CTiffPage>& pages, CDecodeStatus& status,
                   std::size_t maxPages)
{
    pages.clear();
    if (!IsTiffSignature(data, size)) {
        status.Fail(size < kClassicHeaderBytes ? RasterLoadError::kTruncated : RasterLoadError::kDecodeFailed,
                    "no TIFF signature");
        return false;
    }
    CMemoryStream stream{data, size};
    SetLastRasterLibraryMessage("");
    TIFF* tif = TIFFClientOpen("memory", "rm", &stream, StreamRead, StreamWrite, StreamSeek, StreamClose, StreamSize,
                               StreamMap, StreamUnmap);
    if (!tif) {
        std::uint64_t first = ReadWord(data + (IsBig(data) ? 8 : 4), IsBig(data) ? 8 : 4, IsLittleEndian(data));
        status.Fail(first >= size ? RasterLoadError::kTruncated : RasterLoadError::kDecodeFailed,
                    first >= size ? "the first page lies beyond the end of the file" : GetLastRasterLibraryMessage());
        return false;
    }
    do {
        CTiffPage page;
        page.directory = TIFFCurrentDirOffset(tif);
        CheckPage(tif, data, size, page);
        pages.push_back(std::move(page));
    } while (pages.size() < maxPages && TIFFReadDirectory(tif));
    TIFFClose(tif);
    return true;
}

bool CountTiffPageGrey(const BYTE* data, std::size_t size, const CTiffPage& page, std::uint64_t* bins)
{
    if (page.error != RasterLoadError::kNone || page.loadedBitCount <= 1)
        return false;
    CMemoryStream stream{data, size};
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFClientOpen("memory", "rm", &stream, StreamRead, StreamWrite,
                                                              StreamSeek, StreamClose, StreamSize, StreamMap,
                                                              StreamUnmap),
                                               TIFFClose);
    if (!tif || !TIFFSetSubDirectory(tif.get(), page.directory))
        return false;
    const CountedLayout layout = CountedLayoutOf(tif.get(), data, size, page.directory);
    if (layout == CountedLayout::kNone)
        return false;
    const bool rgb = layout == CountedLayout::kRgb;
    // The palette the library gives a grey page.
    RGBQUAD palette[256];
    for (int i = 0; i < 256; ++i) {
        const BYTE v = static_cast<BYTE>(layout == CountedLayout::kInvertedGrey ? 255 - i : i);
        palette[i] = RGBQUAD{v, v, v, 0};
    }
    CGreyRowReader reader;
    if (!reader.Init(rgb ? 24 : 8, palette))
        return false;

    const bool tiled = TIFFIsTiled(tif.get());
    std::uint32_t pieceWidth = page.width, pieceHeight = page.height;
    if (tiled) {
        TIFFGetField(tif.get(), TIFFTAG_TILEWIDTH, &pieceWidth);
        TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &pieceHeight);
    } else {
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &pieceHeight);
    }
    pieceHeight = std::min(pieceHeight, page.height);
    if (pieceWidth == 0 || pieceHeight == 0)
        return false;
    const unsigned pixelBytes = rgb ? 3 : 1;
    const std::uint64_t rowBytes = std::uint64_t{pieceWidth} * pixelBytes;
    const tmsize_t pieceBytes = tiled ? TIFFTileSize(tif.get()) : TIFFStripSize(tif.get());
    if (pieceBytes <= 0 || static_cast<std::uint64_t>(pieceBytes) < rowBytes * pieceHeight)
        return false;
    std::unique_ptr<BYTE[]> piece(new (std::nothrow) BYTE[static_cast<std::size_t>(pieceBytes)]);
    std::unique_ptr<BYTE[]> bgr(new (std::nothrow) BYTE[rgb ? std::size_t{page.width} * 3 : 1]);
    auto counts = std::make_unique<CGreyCounts>();
    if (!piece || !bgr)
        return false;

    const std::uint32_t across = (page.width + pieceWidth - 1) / pieceWidth;
    // Every piece the page needs is in the file: the page checks saw to it.
    const std::uint32_t pieces = tiled ? TIFFNumberOfTiles(tif.get()) : TIFFNumberOfStrips(tif.get());
    for (std::uint32_t i = 0; i < pieces; ++i) {
        const std::uint32_t x0 = tiled ? i % across * pieceWidth : 0;
        const std::uint64_t y0 = std::uint64_t{tiled ? i / across : i} * pieceHeight;
        if (y0 >= page.height)
            break;
        const unsigned cols = std::min(pieceWidth, page.width - x0);
        const auto rows = static_cast<unsigned>(std::min<std::uint64_t>(pieceHeight, page.height - y0));
        const tmsize_t read = tiled ? TIFFReadEncodedTile(tif.get(), i, piece.get(), pieceBytes)
                                    : TIFFReadEncodedStrip(tif.get(), i, piece.get(), pieceBytes);
        // A short piece is damage the library would show its own way.
        if (read < 0 || static_cast<std::uint64_t>(read) < rowBytes * (tiled ? pieceHeight : rows))
            return false;
        CountPiece(reader, rgb, piece.get(), rowBytes, cols, rows, bgr.get(), *counts);
    }
    reader.FoldCounts(*counts, bins);
    return true;
}

FIBITMAP* DecodeTiffPage(const BYTE* data, std::size_t size, const CTiffPage& page, CDecodeStatus& status)
{
    if (page.error != RasterLoadError::kNone)
        return status.Fail(page.error, page.detail);
    const bool little = IsLittleEndian(data), big = IsBig(data);
    CPatchedView view{data, size};
    auto& first = view.patches[view.patchCount++];
    first.at = big ? 8 : 4;
    first.count = big ? 8 : 4;
    WriteWord(first.bytes, page.directory, first.count, little);
    if (page.planarValueAt) {
        auto& planar = view.patches[view.patchCount++];
        planar.at = page.planarValueAt;
        planar.count = 2;
        WriteWord(planar.bytes, PLANARCONFIG_CONTIG, 2, little);
    }
    FreeImageIO io{};
    io.read_proc = ViewRead;
    io.write_proc = ViewWrite;
    io.seek_proc = ViewSeek;
    io.tell_proc = ViewTell;
    SetLastRasterLibraryMessage("");
    const unsigned long reportsBefore = CountTiffPixelReports();
    FIBITMAP* bitmap = FreeImage_LoadFromHandle(FIF_TIFF, &io, &view, 0);
    if (!bitmap)
        return status.Fail(RasterLoadError::kDecodeFailed, GetLastRasterLibraryMessage());
    // Damaged pieces come out blank: a page with no intact piece is refused,
    // one with some is kept with a warning naming the others.
    CTiffDamage damage;
    if (CountTiffPixelReports() != reportsBefore && FindTiffDamage(data, size, page, damage) &&
        !damage.damaged.empty()) {
        if (damage.damaged.size() == damage.pieces) {
            FreeImage_Unload(bitmap);
            return status.Fail(
                RasterLoadError::kDecodeFailed,
                FormatC("every %s is damaged (%s)", damage.tiled ? "tile" : "strip", damage.first.c_str()));
        }
        status.Warn(DescribeTiffDamage(damage));
    }
    // Sixteen-bit alpha is composed once brought to eight bits.
    if (page.alpha && FreeImage_GetImageType(bitmap) == FIT_RGBA16) {
        FIBITMAP* narrow = FreeImage_ConvertTo32Bits(bitmap);
        FreeImage_Unload(bitmap);
        if (!narrow)
            return status.Fail(RasterLoadError::kTooLarge, "the memory for its pixels is not available");
        bitmap = narrow;
    }
    if (page.alpha && FreeImage_GetImageType(bitmap) == FIT_BITMAP && FreeImage_GetBPP(bitmap) == 32)
        ComposeTiffAlpha(bitmap, page.premultiplied);
    FreeImage_SetDotsPerMeterX(bitmap, static_cast<unsigned>(page.xDotsPerMetre));
    FreeImage_SetDotsPerMeterY(bitmap, static_cast<unsigned>(page.yDotsPerMetre));
    return bitmap;
}
