#pragma once
// Raster files: which formats are read, how a multi-page TIFF is split into
// single images named after their pages, and saving as BMP (the one format
// written; CRasterSrc::SaveBMP).
//
// A file is one of the five formats read (BMP, JPEG, PCX, TARGA, TIFF) by its
// extension, through the library's tables; every other format is refused
// even when the library knows it. Its content decides how it is read: a
// JPEG named .tif is read as a JPEG. BMP, PCX and TARGA are read here; JPEG
// and TIFF by the library after their headers (every TIFF page's) are
// checked here. Every loaded bitmap is brought into a layout CRasterSrc
// holds (NormaliseRasterBitmap) or refused, with any alpha composed over
// white.
//
// What a header declares is bounded before anything is allocated: by the
// bytes the file holds for it (fewer means truncated), by sides of a million
// pixels and an 8 GiB pixel block, and by half the machine's memory
// (kTooLarge). The reference A0 scan at 400 dpi is about 0.7 GB.
#include "platform/win_types.h"
#include "raster/raster_src.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct FIBITMAP;

enum class RasterLoadError : int {
    kNone = 0,
    kNotFound,           // no such file
    kNotReadable,        // a folder, or no permission to read
    kUnknownFormat,      // not one of the five formats by its extension
    kDecodeFailed,       // the library could not read it: damaged or another format
    kUnsupportedLayout,  // read, but its pixels have no faithful conversion
    kTooLarge,           // its header declares more pixels than this machine can hold
    kTruncated,          // the file ends before the image it declares
};

// Lowers (or restores) the 8 GiB bound on an image's pixel block for the
// whole process, as a fuzz target does to stay fast; returns the previous one.
std::uint64_t SetMaxRasterPixelBytes(std::uint64_t bytes);

// A sentence for the user, from the UI text table.
std::string RasterLoadErrorText(RasterLoadError error);

// The library's name of the file's format ("BMP", "JPEG", "PCX", "TARGA",
// "TIFF"), or empty when the extension names none of the five.
std::string RasterFileFormatName(const std::string& fileName);

// The format the file's content is read as: its signature's format when it
// has one of the five, else the name's; empty when the name names none.
std::string RasterContentFormatName(const std::string& fileName);

// The damage the last load on this thread read past (a viewer shows such
// files too), for the caller to warn of; empty when none.
const std::string& GetLastRasterLoadWarning();

// The last message the image library reported on this thread.
const std::string& GetLastRasterLibraryMessage();
void SetLastRasterLibraryMessage(const char* message);

// Loads one image; null on failure with the reason in error and any detail
// (the library's or the layout's message) in detail. Owned by the caller.
[[nodiscard]] FIBITMAP* LoadRasterFile(const std::string& fileName, RasterLoadError* error = nullptr,
                                       std::string* detail = nullptr);
// The same from bytes in memory; the format comes from fileName's extension.
[[nodiscard]] FIBITMAP* LoadRasterFromMemory(const std::string& fileName, const BYTE* data, std::size_t size,
                                             RasterLoadError* error = nullptr, std::string* detail = nullptr);

// Loads a colour BMP straight into one bit, for a caller that would load it
// and threshold it at once: an uncompressed 24 or 32-bit file is counted
// and thresholded where its pixels lie in the mapped file, so its colour
// pixels (0.7 GB for the A0 scan) are never copied. The threshold is grey,
// or with automatic the histogram's (AutoThresholdFromHistogram) when it
// finds one. The image is left as loading and ConvertTo1Bit would leave it.
enum class OneBitLoad {
    kDone,
    kNotInPlace,  // any other file, and every failure to open or read it: load it the ordinary way
    kNoMemory,    // the one-bit image could not be allocated
};
[[nodiscard]] OneBitLoad LoadBmpAsOneBit(const std::string& fileName, BYTE grey, bool automatic, CRasterSrc& image);

class CMappedFile;
struct CTiffPage;

// What a page's header says, as loading the page would set it.
struct CRasterHeader {
    int width = 0;
    int height = 0;
    int bitCount = 0;
    LONG xDotsPerMetre = 0;
    LONG yDotsPerMetre = 0;
};

// The pages of a multi-page TIFF. Other formats do not open here.
class CRasterLoader {
public:
    CRasterLoader();
    virtual ~CRasterLoader();
    CRasterLoader(const CRasterLoader&) = delete;
    CRasterLoader& operator=(const CRasterLoader&) = delete;

    [[nodiscard]] bool Open(const std::string& fileName);
    // Opens bytes in memory that must outlive the loader; fileName names the
    // pages.
    [[nodiscard]] bool OpenMemory(const std::string& fileName, const BYTE* data, std::size_t size);
    void SplitPath(const std::string& fileName);
    int GetPageCount() const;
    // The page as the library decodes it, for UnlockPage to release; null
    // also when the page's header declares too large an image.
    FIBITMAP* LockPage(int page);
    void UnlockPage(FIBITMAP* bitmap, bool changed);
    // A copy of the page in a layout CRasterSrc holds, owned by the caller;
    // null when the page cannot be read or held.
    [[nodiscard]] FIBITMAP* CopyPage(int page, RasterLoadError* error = nullptr, std::string* detail = nullptr);
    // The header of a page as loading it would set it, read without decoding
    // its pixels (a page of 100,000 pixels square would take gigabytes):
    // true for one-bit, 8-bit grey and 8-bit RGB pages. For other readable
    // pages it is false, and the header's bit count is the one stored, which
    // decoding may change.
    [[nodiscard]] bool GetPageHeader(int page, CRasterHeader& header) const;
    // The automatic threshold of a page GetPageHeader tells, other than one
    // bit, as its loaded image gives it (0 when none is found), decoded one
    // strip or tile at a time; false when the page must be decoded whole.
    [[nodiscard]] bool GetPageAutoThreshold(int page, BYTE& threshold) const;
    // "dir/name_N.ext", pages counted from 0.
    std::string GetPageFileName(int page) const;
    void Close();
    bool IsOpen() const { return m_data != nullptr; }

private:
    bool OpenBytes(const std::string& fileName, const BYTE* data, std::size_t size);
    FIBITMAP* DecodePage(int page, RasterLoadError* error, std::string* detail);

    std::unique_ptr<CMappedFile> m_file;  // when opened from a file
    const BYTE* m_data = nullptr;
    std::size_t m_size = 0;
    std::vector<CTiffPage> m_pages;  // found in one walk of the directories
    std::string m_dir;               // drive and folder, with the trailing '/'
    std::string m_name;              // without extension
    std::string m_ext;               // with its point
};

// One image of an opened file and the name its window gets.
struct CRasterPage {
    std::string name;
    std::unique_ptr<CRasterSrc> image;
};

// Opens a raster file as the shell does: a TIFF of two or more pages gives
// one image per page that can be read (pages that fail are skipped), anything
// else one image under the file's own name. False when nothing was loaded.
[[nodiscard]] bool LoadRasterPages(const std::string& fileName, std::vector<CRasterPage>& pages,
                                   RasterLoadError* error = nullptr, std::string* detail = nullptr);
