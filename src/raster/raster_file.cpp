#include "raster/freeimage_api.h"

#include "raster/raster_file.h"

#include "model/file_paths.h"
#include "model/text_table.h"
#include "platform/atomic_file.h"
#include "platform/number_text.h"
#include "raster/raster_layout.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace {

thread_local std::string t_lastLibraryMessage;

const char* const kProjectExtension = ".lwt";

// The formats read, each loaded with flags 0.
bool IsReadFormat(FREE_IMAGE_FORMAT format)
{
    return format == FIF_BMP || format == FIF_JPEG || format == FIF_PCX || format == FIF_TARGA ||
           format == FIF_TIFF;
}

FREE_IMAGE_FORMAT FormatOfName(const std::string& fileName)
{
    if (GetFileExt(fileName).empty())
        return FIF_UNKNOWN;
    return FreeImage_GetFIFFromFilename(fileName.c_str());
}

void Report(RasterLoadError* error, RasterLoadError value)
{
    if (error)
        *error = value;
}

// Whether the file can be read at all, before the library sees it.
RasterLoadError CheckFile(const std::string& fileName)
{
    struct stat info {};
    if (::stat(fileName.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? RasterLoadError::kNotFound : RasterLoadError::kNotReadable;
    // A FIFO or a device would block the library's open or its reads.
    if (!S_ISREG(info.st_mode) || ::access(fileName.c_str(), R_OK) != 0)
        return RasterLoadError::kNotReadable;
    return RasterLoadError::kNone;
}

FIBITMAP* Refuse(RasterLoadError why, const std::string& text, RasterLoadError* error, std::string* detail)
{
    Report(error, why);
    if (detail)
        *detail = text;
    return nullptr;
}

// ------------------------------------------------------- declared size --

// Generous bounds: the reference A0 scan at 400 dpi (13000 x 18000 x 24
// bits, 0.7 GB) is far inside them, so only absurd headers reach them.
constexpr std::int64_t kMaxImageSide = 1000000;
constexpr std::uint64_t kDefaultMaxPixelBytes = std::uint64_t{8} << 30;
constexpr std::size_t kPcxHeaderBytes = 128;

std::atomic<std::uint64_t> g_maxPixelBytes{kDefaultMaxPixelBytes};

RasterLoadError CheckDeclaredSize(std::int64_t width, std::int64_t height, unsigned bits, std::string* detail)
{
    if (width <= 0 || height <= 0) {
        if (detail)
            *detail = "the header declares an empty image";
        return RasterLoadError::kDecodeFailed;
    }
    // Both sides are bounded first, so the product cannot overflow.
    if (width <= kMaxImageSide && height <= kMaxImageSide &&
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * std::max(bits, 1u) / 8 <=
            g_maxPixelBytes.load(std::memory_order_relaxed))
        return RasterLoadError::kNone;
    if (detail)
        *detail = FormatC("the header declares %lld x %lld pixels at %u bits per pixel",
                          static_cast<long long>(width), static_cast<long long>(height), bits);
    return RasterLoadError::kTooLarge;
}

// A header-only bitmap from the library, null when it could not read one.
RasterLoadError CheckHeaderBitmap(FIBITMAP* header, std::string* detail)
{
    if (!header) {
        if (detail)
            *detail = t_lastLibraryMessage;
        return RasterLoadError::kDecodeFailed;
    }
    return CheckDeclaredSize(FreeImage_GetWidth(header), FreeImage_GetHeight(header), FreeImage_GetBPP(header),
                             detail);
}

// The library's PCX reader decodes the whole image even when asked for the
// header only, so the header is read here: a window of inclusive corners at
// bytes 4..11, bits per plane at 3, planes at 65.
RasterLoadError CheckPcxHeader(const BYTE* header, std::size_t size, std::string* detail)
{
    // Shorter than a header, the reader refuses it before allocating.
    if (size < kPcxHeaderBytes)
        return RasterLoadError::kNone;
    auto word = [header](int at) { return static_cast<std::int64_t>(header[at] | header[at + 1] << 8); };
    return CheckDeclaredSize(word(8) - word(4) + 1, word(10) - word(6) + 1, unsigned{header[3]} * header[65],
                             detail);
}

RasterLoadError CheckFileHeader(FREE_IMAGE_FORMAT format, const std::string& fileName, std::string* detail)
{
    if (format != FIF_PCX) {
        FIBITMAP* header = FreeImage_Load(format, fileName.c_str(), FIF_LOAD_NOPIXELS);
        RasterLoadError result = CheckHeaderBitmap(header, detail);
        if (header)
            FreeImage_Unload(header);
        return result;
    }
    BYTE header[kPcxHeaderBytes];
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file)
        return RasterLoadError::kNotReadable;
    std::size_t size = std::fread(header, 1, sizeof header, file);
    std::fclose(file);
    return CheckPcxHeader(header, size, detail);
}

// Leaves the memory stream at its start for the real load.
RasterLoadError CheckMemoryHeader(FREE_IMAGE_FORMAT format, FIMEMORY* memory, const BYTE* data, std::size_t size,
                                  std::string* detail)
{
    if (format == FIF_PCX)
        return CheckPcxHeader(data, size, detail);
    FIBITMAP* header = FreeImage_LoadFromMemory(format, memory, FIF_LOAD_NOPIXELS);
    RasterLoadError result = CheckHeaderBitmap(header, detail);
    if (header)
        FreeImage_Unload(header);
    FreeImage_SeekMemory(memory, 0, SEEK_SET);
    return result;
}

// ------------------------------------------------------------ loading --

FIBITMAP* Normalise(FIBITMAP* bitmap, RasterLoadError* error, std::string* detail)
{
    if (!bitmap) {
        Report(error, RasterLoadError::kDecodeFailed);
        if (detail)
            *detail = t_lastLibraryMessage;
        return nullptr;
    }
    std::string why;
    FIBITMAP* held = NormaliseRasterBitmap(bitmap, &why);
    if (!held) {
        Report(error, RasterLoadError::kUnsupportedLayout);
        if (detail)
            *detail = why;
        return nullptr;
    }
    Report(error, RasterLoadError::kNone);
    return held;
}

// Streams a save into a temporary file beside the target, so a failed save
// leaves the previous file as it was.
// The whole file in memory first, then the one save helper puts it in place.
bool SaveThroughMemory(FIBITMAP* bitmap, FREE_IMAGE_FORMAT format, const std::string& fileName)
{
    FIMEMORY* memory = FreeImage_OpenMemory();
    if (memory == nullptr)
        return false;
    BYTE* data = nullptr;
    DWORD size = 0;
    const bool ok = FreeImage_SaveToMemory(format, bitmap, memory, 0) && FreeImage_AcquireMemory(memory, &data, &size) &&
                    WriteFileAtomically(fileName, std::string_view(reinterpret_cast<const char*>(data), size));
    FreeImage_CloseMemory(memory);
    return ok;
}

} // namespace

const std::string& GetLastRasterLibraryMessage()
{
    return t_lastLibraryMessage;
}

void SetLastRasterLibraryMessage(const char* message)
{
    t_lastLibraryMessage = message ? message : "";
}

std::uint64_t SetMaxRasterPixelBytes(std::uint64_t bytes)
{
    return g_maxPixelBytes.exchange(bytes);
}

std::string RasterLoadErrorText(RasterLoadError error)
{
    switch (error) {
    case RasterLoadError::kNone: return {};
    case RasterLoadError::kNotFound: return GetLanString("RasterFileNotFound", "The file does not exist.");
    case RasterLoadError::kNotReadable: return GetLanString("RasterFileNotReadable", "The file cannot be read.");
    case RasterLoadError::kUnknownFormat:
        return GetLanString("RasterFileUnknownFormat",
                            "Unsupported file type: raster files must be BMP, JPEG, PCX, TGA or TIFF.");
    case RasterLoadError::kDecodeFailed:
        return GetLanString("RasterFileDecodeFailed", "The file is damaged or is not the image its name says.");
    case RasterLoadError::kUnsupportedLayout:
        return GetLanString("RasterFileLayout", "The image's pixel format is not supported.");
    case RasterLoadError::kTooLarge:
        return GetLanString("RasterFileTooLarge",
                            "The image is too large: its file declares more pixels than can be loaded.");
    }
    return {};
}

std::string RasterFileFormatName(const std::string& fileName)
{
    FREE_IMAGE_FORMAT format = FormatOfName(fileName);
    if (!IsReadFormat(format))
        return {};
    const char* name = FreeImage_GetFormatFromFIF(format);
    return name ? name : "";
}

FIBITMAP* LoadRasterFile(const std::string& fileName, RasterLoadError* error, std::string* detail)
{
    FREE_IMAGE_FORMAT format = FormatOfName(fileName);
    if (!IsReadFormat(format)) {
        Report(error, RasterLoadError::kUnknownFormat);
        return nullptr;
    }
    RasterLoadError access = CheckFile(fileName);
    if (access != RasterLoadError::kNone) {
        Report(error, access);
        return nullptr;
    }
    t_lastLibraryMessage.clear();
    std::string why;
    RasterLoadError declared = CheckFileHeader(format, fileName, &why);
    if (declared != RasterLoadError::kNone)
        return Refuse(declared, why, error, detail);
    return Normalise(FreeImage_Load(format, fileName.c_str(), 0), error, detail);
}

FIBITMAP* LoadRasterFromMemory(const std::string& fileName, const BYTE* data, std::size_t size,
                               RasterLoadError* error, std::string* detail)
{
    FREE_IMAGE_FORMAT format = FormatOfName(fileName);
    if (!IsReadFormat(format)) {
        Report(error, RasterLoadError::kUnknownFormat);
        return nullptr;
    }
    if (!data || size == 0 || size > UINT32_MAX) {
        Report(error, RasterLoadError::kDecodeFailed);
        return nullptr;
    }
    t_lastLibraryMessage.clear();
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    if (!memory) {
        Report(error, RasterLoadError::kDecodeFailed);
        return nullptr;
    }
    std::string why;
    RasterLoadError declared = CheckMemoryHeader(format, memory, data, size, &why);
    if (declared != RasterLoadError::kNone) {
        FreeImage_CloseMemory(memory);
        return Refuse(declared, why, error, detail);
    }
    FIBITMAP* bitmap = FreeImage_LoadFromMemory(format, memory, 0);
    FreeImage_CloseMemory(memory);
    return Normalise(bitmap, error, detail);
}

bool CRasterSrc::Load(const std::string& fileName, int /*flags*/, RasterLoadError* error)
{
    Free();
    FIBITMAP* bitmap = LoadRasterFile(fileName, error);
    if (!bitmap)
        return false;
    if (!Attach(bitmap)) {
        FreeImage_Unload(bitmap);
        Report(error, RasterLoadError::kUnsupportedLayout);
        return false;
    }
    return true;
}

bool CRasterSrc::SaveBMP(const std::string& fileName, int /*flag*/) const
{
    if (!m_bitmap || (FormatOfName(fileName) != FIF_BMP && !IsStreamTarget(fileName)))
        return false;
    return SaveThroughMemory(m_bitmap, FIF_BMP, fileName);
}

// ------------------------------------------------------------- pages --

CRasterLoader::~CRasterLoader()
{
    Close();
}

bool CRasterLoader::Open(const std::string& fileName)
{
    Close();
    // Only TIFF pages are split; other multi-page formats open as one image.
    if (FormatOfName(fileName) != FIF_TIFF || CheckFile(fileName) != RasterLoadError::kNone)
        return false;
    SplitPath(fileName);
    m_multi = FreeImage_OpenMultiBitmap(FIF_TIFF, fileName.c_str(), FALSE, TRUE, FALSE, 0);
    m_headers = FreeImage_OpenMultiBitmap(FIF_TIFF, fileName.c_str(), FALSE, TRUE, FALSE, FIF_LOAD_NOPIXELS);
    if (!m_multi || !m_headers)
        Close();
    return m_multi != nullptr;
}

bool CRasterLoader::OpenMemory(const std::string& fileName, const BYTE* data, std::size_t size)
{
    Close();
    if (FormatOfName(fileName) != FIF_TIFF || !data || size == 0 || size > UINT32_MAX)
        return false;
    SplitPath(fileName);
    // Each opening reads its own stream, so neither moves the other's position.
    m_memory = FreeImage_OpenMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    m_headerMemory = FreeImage_OpenMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    if (m_memory && m_headerMemory) {
        m_multi = FreeImage_LoadMultiBitmapFromMemory(FIF_TIFF, m_memory, 0);
        m_headers = FreeImage_LoadMultiBitmapFromMemory(FIF_TIFF, m_headerMemory, FIF_LOAD_NOPIXELS);
    }
    if (!m_multi || !m_headers)
        Close();
    return m_multi != nullptr;
}

void CRasterLoader::SplitPath(const std::string& fileName)
{
    m_dir = GetFileDir(fileName);
    m_name = GetFileBaseName(fileName);
    m_ext = GetFileExt(fileName);
}

int CRasterLoader::GetPageCount() const
{
    return m_multi ? FreeImage_GetPageCount(m_multi) : 0;
}

FIBITMAP* CRasterLoader::LockPage(int page)
{
    return LockCheckedPage(page, nullptr, nullptr);
}

FIBITMAP* CRasterLoader::LockCheckedPage(int page, RasterLoadError* error, std::string* detail)
{
    if (!m_multi || page < 0 || page >= GetPageCount())
        return Refuse(RasterLoadError::kDecodeFailed, {}, error, detail);
    FIBITMAP* header = FreeImage_LockPage(m_headers, page);
    std::string why;
    RasterLoadError declared = CheckHeaderBitmap(header, &why);
    if (header)
        FreeImage_UnlockPage(m_headers, header, FALSE);
    if (declared != RasterLoadError::kNone)
        return Refuse(declared, why, error, detail);
    FIBITMAP* locked = FreeImage_LockPage(m_multi, page);
    if (!locked)
        return Refuse(RasterLoadError::kDecodeFailed, t_lastLibraryMessage, error, detail);
    return locked;
}

void CRasterLoader::UnlockPage(FIBITMAP* bitmap, bool changed)
{
    if (m_multi && bitmap)
        FreeImage_UnlockPage(m_multi, bitmap, changed ? TRUE : FALSE);
}

FIBITMAP* CRasterLoader::CopyPage(int page, RasterLoadError* error, std::string* detail)
{
    t_lastLibraryMessage.clear();
    FIBITMAP* locked = LockCheckedPage(page, error, detail);
    if (!locked)
        return nullptr;
    FIBITMAP* copy = FreeImage_Clone(locked);
    UnlockPage(locked, false);
    return Normalise(copy, error, detail);
}

std::string CRasterLoader::GetPageFileName(int page) const
{
    return m_dir + m_name + "_" + std::to_string(page) + m_ext;
}

void CRasterLoader::Close()
{
    for (FIMULTIBITMAP** multi : {&m_multi, &m_headers}) {
        if (*multi)
            FreeImage_CloseMultiBitmap(*multi, 0);
        *multi = nullptr;
    }
    for (FIMEMORY** memory : {&m_memory, &m_headerMemory}) {
        if (*memory)
            FreeImage_CloseMemory(*memory);
        *memory = nullptr;
    }
}

bool LoadRasterPages(const std::string& fileName, std::vector<CRasterPage>& pages, RasterLoadError* error,
                     std::string* detail)
{
    pages.clear();
    if (GetFileExt(fileName) == kProjectExtension) {
        Report(error, RasterLoadError::kUnknownFormat);
        return false;
    }
    auto addPage = [&pages](const std::string& name, FIBITMAP* bitmap) {
        auto image = std::make_unique<CRasterSrc>();
        if (!image->Attach(bitmap)) {
            FreeImage_Unload(bitmap);
            return false;
        }
        pages.push_back(CRasterPage{name, std::move(image)});
        return true;
    };

    CRasterLoader loader;
    if (loader.Open(fileName) && loader.GetPageCount() >= 2) {
        RasterLoadError pageError = RasterLoadError::kDecodeFailed;
        std::string pageDetail;
        for (int page = 0; page < loader.GetPageCount(); ++page) {
            FIBITMAP* bitmap = loader.CopyPage(page, &pageError, &pageDetail);
            if (bitmap)
                (void)addPage(loader.GetPageFileName(page), bitmap);
        }
        if (!pages.empty()) {
            Report(error, RasterLoadError::kNone);
            return true;
        }
        Report(error, pageError);
        if (detail)
            *detail = pageDetail;
        return false;
    }
    loader.Close();

    FIBITMAP* bitmap = LoadRasterFile(fileName, error, detail);
    if (!bitmap)
        return false;
    if (!addPage(fileName, bitmap)) {
        Report(error, RasterLoadError::kUnsupportedLayout);
        return false;
    }
    return true;
}
