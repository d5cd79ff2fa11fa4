#pragma once
// Raster files: which formats are read, how a multi-page TIFF is split into
// single images named after their pages, and saving as BMP (the one format
// written; CRasterSrc::SaveBMP).
//
// Formats are chosen by the file's extension through the library's tables:
// BMP, JPEG, PCX, TARGA and TIFF are read; every other format is refused
// even when the library knows it. Every loaded bitmap is brought into a
// layout CRasterSrc holds (NormaliseRasterBitmap) or refused.
//
// Every image's header is read on its own before its pixels: the library
// allocates whatever a header declares, so a file of a few bytes could ask
// for terabytes. Sides above a million pixels or pixel blocks above 8 GiB are
// refused (kTooLarge); the reference A0 scan at 400 dpi is about 0.7 GB.
#include "platform/win_types.h"
#include "raster/raster_src.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct FIBITMAP;
struct FIMULTIBITMAP;
struct FIMEMORY;

enum class RasterLoadError : int {
    kNone = 0,
    kNotFound,           // no such file
    kNotReadable,        // a folder, or no permission to read
    kUnknownFormat,      // not one of the five formats by its extension
    kDecodeFailed,       // the library could not read it: damaged or another format
    kUnsupportedLayout,  // read, but its pixels have no faithful conversion
    kTooLarge,           // its header declares more pixels than are ever loaded
};

// Lowers (or restores) the 8 GiB bound on an image's pixel block for the
// whole process, as a fuzz target does to stay fast; returns the previous one.
std::uint64_t SetMaxRasterPixelBytes(std::uint64_t bytes);

// A sentence for the user, from the UI text table.
std::string RasterLoadErrorText(RasterLoadError error);

// The library's name of the file's format ("BMP", "JPEG", "PCX", "TARGA",
// "TIFF"), or empty when the extension names none of the five.
std::string RasterFileFormatName(const std::string& fileName);

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

// The pages of a multi-page TIFF. Other formats do not open here.
class CRasterLoader {
public:
    CRasterLoader() = default;
    virtual ~CRasterLoader();
    CRasterLoader(const CRasterLoader&) = delete;
    CRasterLoader& operator=(const CRasterLoader&) = delete;

    [[nodiscard]] bool Open(const std::string& fileName);
    // Opens bytes in memory that must outlive the loader; fileName names the
    // pages and gives the format.
    [[nodiscard]] bool OpenMemory(const std::string& fileName, const BYTE* data, std::size_t size);
    void SplitPath(const std::string& fileName);
    int GetPageCount() const;
    // Null also when the page's header declares too large an image.
    FIBITMAP* LockPage(int page);
    void UnlockPage(FIBITMAP* bitmap, bool changed);
    // A copy of the page in a layout CRasterSrc holds, owned by the caller;
    // null when the page cannot be read or held.
    [[nodiscard]] FIBITMAP* CopyPage(int page, RasterLoadError* error = nullptr, std::string* detail = nullptr);
    // "dir/name_N.ext", pages counted from 0.
    std::string GetPageFileName(int page) const;
    void Close();
    bool IsOpen() const { return m_multi != nullptr; }

private:
    FIBITMAP* LockCheckedPage(int page, RasterLoadError* error, std::string* detail);

    FIMULTIBITMAP* m_multi = nullptr;
    FIMEMORY* m_memory = nullptr;
    // The same pages opened for their headers only, read before each page.
    FIMULTIBITMAP* m_headers = nullptr;
    FIMEMORY* m_headerMemory = nullptr;
    std::string m_dir;   // drive and folder, with the trailing '/'
    std::string m_name;  // without extension
    std::string m_ext;   // with its point
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
