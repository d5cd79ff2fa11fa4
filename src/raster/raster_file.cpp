#include "raster/freeimage_api.h"

#include "raster/raster_file.h"

#include "model/file_paths.h"
#include "model/text_table.h"
#include "platform/atomic_file.h"
#include "platform/input_file.h"
#include "platform/number_text.h"
#include "raster/grey_rows.h"
#include "raster/raster_decoders.h"
#include "raster/raster_layout.h"
#include "raster/tiff_pages.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <new>

namespace {

thread_local std::string t_lastLibraryMessage;
thread_local std::string t_lastLoadWarning;

const char* const kProjectExtension = ".lwt";

// The formats read, each loaded with flags 0.
bool IsReadFormat(FREE_IMAGE_FORMAT format)
{
    return format == FIF_BMP || format == FIF_JPEG || format == FIF_PCX || format == FIF_TARGA || format == FIF_TIFF;
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

FIBITMAP* Refuse(RasterLoadError why, const std::string& text, RasterLoadError* error, std::string* detail)
{
    Report(error, why);
    if (detail)
        *detail = text;
    return nullptr;
}

// ------------------------------------------------------------ content --

constexpr BYTE kPcxManufacturer = 0x0A;

// The format the bytes announce, for the formats that have a signature
// (TARGA has none): a file is read as what it holds, whatever its name.
FREE_IMAGE_FORMAT ContentFormat(const BYTE* data, std::size_t size)
{
    if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        return FIF_BMP;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return FIF_JPEG;
    if (IsTiffSignature(data, size))
        return FIF_TIFF;
    // Manufacturer, version 0 to 5 but 1, encoding 0 or 1, 1 to 8 bits. No
    // TARGA header passes: its image type (byte 2) is 1 only after a map
    // flag (byte 1) of 1, which is no PCX version.
    if (size >= 4 && data[0] == kPcxManufacturer && data[1] <= 5 && data[1] != 1 && data[2] <= 1 &&
        (data[3] == 1 || data[3] == 2 || data[3] == 4 || data[3] == 8))
        return FIF_PCX;
    return FIF_UNKNOWN;
}

FREE_IMAGE_FORMAT FormatToRead(FREE_IMAGE_FORMAT byName, const BYTE* data, std::size_t size)
{
    FREE_IMAGE_FORMAT byContent = ContentFormat(data, size);
    return byContent != FIF_UNKNOWN ? byContent : byName;
}

}  // namespace

// A file's bytes, mapped read-only for as long as the object lives.
class CMappedFile {
public:
    CMappedFile() = default;
    ~CMappedFile()
    {
        if (m_data)
            ::munmap(m_data, m_size);
    }
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;

    RasterLoadError Open(const std::string& fileName, std::string* detail)
    {
        int fd = OpenInputFile(fileName);
        if (fd < 0)
            return SystemError(errno, detail);
        struct stat info {};
        RasterLoadError result = RasterLoadError::kNone;
        if (::fstat(fd, &info) != 0) {
            result = SystemError(errno, detail);
        } else if (!S_ISREG(info.st_mode)) {
            result = SystemError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, detail);
        } else if (info.st_size > 0) {
            void* data = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (data == MAP_FAILED) {
                result = SystemError(errno, detail);
            } else {
                m_data = data;
                m_size = static_cast<std::size_t>(info.st_size);
            }
        }
        ::close(fd);
        return result;
    }
    const BYTE* Data() const { return static_cast<const BYTE*>(m_data); }
    std::size_t Size() const { return m_size; }

private:
    static RasterLoadError SystemError(int code, std::string* detail)
    {
        if (detail)
            *detail = std::strerror(code);
        return code == ENOENT || code == ENOTDIR ? RasterLoadError::kNotFound : RasterLoadError::kNotReadable;
    }

    void* m_data = nullptr;
    std::size_t m_size = 0;
};

namespace {

// ------------------------------------------------------------ loading --

// A failed library allocation is a lack of memory, and a sample layout the
// library has no reader for is not damage either.
RasterLoadError LibraryFailure(const std::string& message)
{
    if (message.find("allocation failed") != std::string::npos || message.find("memory") != std::string::npos)
        return RasterLoadError::kTooLarge;
    if (message.find("Unable to handle") != std::string::npos)
        return RasterLoadError::kUnsupportedLayout;
    return RasterLoadError::kDecodeFailed;
}

FIBITMAP* Normalise(FIBITMAP* bitmap, RasterLoadError* error, std::string* detail)
{
    if (!bitmap) {
        Report(error, LibraryFailure(t_lastLibraryMessage));
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
    DropAbsurdResolution(held);
    Report(error, RasterLoadError::kNone);
    return held;
}

FIBITMAP* Decode(FREE_IMAGE_FORMAT format, const BYTE* data, std::size_t size, RasterLoadError* error,
                 std::string* detail, bool mapped = false)
{
    if (!data || size == 0)
        return Refuse(RasterLoadError::kTruncated, "the file is empty", error, detail);
    t_lastLibraryMessage.clear();
    t_lastLoadWarning.clear();
    CDecodeStatus status;
    status.mapped = mapped;
    FIBITMAP* bitmap = nullptr;
    switch (FormatToRead(format, data, size)) {
    case FIF_BMP: bitmap = DecodeBmp(data, size, status); break;
    case FIF_TARGA: bitmap = DecodeTga(data, size, status); break;
    case FIF_PCX: bitmap = DecodePcx(data, size, status); break;
    case FIF_JPEG: bitmap = DecodeJpeg(data, size, status); break;
    case FIF_TIFF: {
        std::vector<CTiffPage> pages;
        if (ScanTiffPages(data, size, pages, status, 1))
            bitmap = DecodeTiffPage(data, size, pages.front(), status);
        break;
    }
    default: status.Fail(RasterLoadError::kUnknownFormat, {}); break;
    }
    if (!bitmap) {
        RasterLoadError why = status.error;
        if (why == RasterLoadError::kNone || why == RasterLoadError::kDecodeFailed)
            why = status.detail.empty() ? RasterLoadError::kDecodeFailed : LibraryFailure(status.detail);
        return Refuse(why, status.detail, error, detail);
    }
    t_lastLoadWarning = std::move(status.warning);
    return Normalise(bitmap, error, detail);
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
    const bool ok = FreeImage_SaveToMemory(format, bitmap, memory, 0) &&
                    FreeImage_AcquireMemory(memory, &data, &size) &&
                    WriteFileAtomically(fileName, std::string_view(reinterpret_cast<const char*>(data), size));
    FreeImage_CloseMemory(memory);
    return ok;
}

}  // namespace

const std::string& GetLastRasterLoadWarning() { return t_lastLoadWarning; }

const std::string& GetLastRasterLibraryMessage() { return t_lastLibraryMessage; }

void SetLastRasterLibraryMessage(const char* message) { t_lastLibraryMessage = message ? message : ""; }

std::string RasterLoadErrorText(RasterLoadError error)
{
    switch (error) {
    case RasterLoadError::kNone: return {};
    case RasterLoadError::kNotFound: return GetLanString("RasterFileNotFound", "The file does not exist.");
    case RasterLoadError::kNotReadable: return GetLanString("RasterFileNotReadable", "The file cannot be opened.");
    case RasterLoadError::kUnknownFormat:
        return GetLanString("RasterFileUnknownFormat",
                            "Unsupported file type: raster files must be BMP, JPEG, PCX, TGA or TIFF.");
    case RasterLoadError::kDecodeFailed:
        return GetLanString("RasterFileDecodeFailed", "The file is damaged or is not the image its name says.");
    case RasterLoadError::kUnsupportedLayout:
        return GetLanString("RasterFileLayout", "The image's pixel format is not supported.");
    case RasterLoadError::kTooLarge:
        return GetLanString("RasterFileTooLarge", "The image is too large for this machine.");
    case RasterLoadError::kTruncated:
        return GetLanString("RasterFileTruncated", "The file is truncated: it ends before the image it declares.");
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

std::string RasterContentFormatName(const std::string& fileName)
{
    FREE_IMAGE_FORMAT byName = FormatOfName(fileName);
    if (!IsReadFormat(byName))
        return {};
    BYTE head[16] = {};
    std::size_t size = 0;
    if (std::FILE* file = OpenInputStream(fileName)) {
        size = std::fread(head, 1, sizeof head, file);
        std::fclose(file);
    }
    const char* name = FreeImage_GetFormatFromFIF(FormatToRead(byName, head, size));
    return name ? name : "";
}

FIBITMAP* LoadRasterFile(const std::string& fileName, RasterLoadError* error, std::string* detail)
{
    FREE_IMAGE_FORMAT format = FormatOfName(fileName);
    if (!IsReadFormat(format)) {
        Report(error, RasterLoadError::kUnknownFormat);
        return nullptr;
    }
    CMappedFile file;
    std::string why;
    RasterLoadError opened = file.Open(fileName, &why);
    if (opened != RasterLoadError::kNone)
        return Refuse(opened, why, error, detail);
    return Decode(format, file.Data(), file.Size(), error, detail, true);
}

OneBitLoad LoadBmpAsOneBit(const std::string& fileName, BYTE grey, bool automatic, CRasterSrc& image)
{
    if (FormatOfName(fileName) != FIF_BMP)
        return OneBitLoad::kNotInPlace;
    CMappedFile file;
    CBmpRowView view;
    CGreyRowReader reader;
    if (file.Open(fileName, nullptr) != RasterLoadError::kNone ||
        FormatToRead(FIF_BMP, file.Data(), file.Size()) != FIF_BMP || !ViewBmpRows(file.Data(), file.Size(), view) ||
        !reader.Init(view.bits, nullptr))
        return OneBitLoad::kNotInPlace;
    const auto height = static_cast<std::size_t>(view.height);
    std::unique_ptr<const BYTE*[]> rows(new (std::nothrow) const BYTE*[height]);
    std::unique_ptr<BYTE*[]> out(new (std::nothrow) BYTE*[height]);
    FIBITMAP* bitmap = rows && out ? AllocateRasterBitmap(view.width, view.height, 1) : nullptr;
    if (!bitmap)
        return OneBitLoad::kNoMemory;
    for (int y = 0; y < view.height; ++y) {
        rows[static_cast<std::size_t>(y)] = view.Row(y);
        out[static_cast<std::size_t>(y)] = FreeImage_GetScanLine(bitmap, view.height - 1 - y);
    }
    // Each chunk's file pages are given back once read, so the file is not
    // resident beside everything else.
    CDecodeStatus mapping;
    mapping.mapped = true;
    auto release = [&](int top, int n) {
        const BYTE* a = view.Row(top);
        const BYTE* b = view.Row(top + n - 1);
        const BYTE* low = std::min(a, b);
        const auto span = static_cast<std::size_t>(std::max(a, b) - low + std::abs(view.step));
        mapping.ReleaseRead(low, span);
    };
    if (automatic) {
        std::uint64_t counts[CRasterSrc::kHistogramBins] = {};
        if (!CountGreyRows(reader, rows.get(), view.width, view.height, counts, release)) {
            FreeImage_Unload(bitmap);
            return OneBitLoad::kNoMemory;
        }
        BYTE bins[CRasterSrc::kHistogramBins];
        ScaleHistogram(counts, bins);
        if (const BYTE found = AutoThresholdFromHistogram(bins); found != 0)
            grey = found;
    }
    ThresholdGreyRows(reader, rows.get(), view.width, view.height, grey, out.get(), release);
    FreeImage_SetDotsPerMeterX(bitmap, static_cast<unsigned>(view.xDotsPerMetre));
    FreeImage_SetDotsPerMeterY(bitmap, static_cast<unsigned>(view.yDotsPerMetre));
    DropAbsurdResolution(bitmap);
    if (!image.Attach(bitmap)) {
        FreeImage_Unload(bitmap);
        return OneBitLoad::kNoMemory;
    }
    return OneBitLoad::kDone;
}

FIBITMAP* LoadRasterFromMemory(const std::string& fileName, const BYTE* data, std::size_t size, RasterLoadError* error,
                               std::string* detail)
{
    FREE_IMAGE_FORMAT format = FormatOfName(fileName);
    if (!IsReadFormat(format)) {
        Report(error, RasterLoadError::kUnknownFormat);
        return nullptr;
    }
    return Decode(format, data, size, error, detail);
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

CRasterLoader::CRasterLoader() = default;

CRasterLoader::~CRasterLoader() { Close(); }

bool CRasterLoader::Open(const std::string& fileName)
{
    Close();
    if (!IsReadFormat(FormatOfName(fileName)))
        return false;
    auto file = std::make_unique<CMappedFile>();
    if (file->Open(fileName, nullptr) != RasterLoadError::kNone)
        return false;
    const BYTE* data = file->Data();
    std::size_t size = file->Size();
    m_file = std::move(file);
    return OpenBytes(fileName, data, size);
}

bool CRasterLoader::OpenMemory(const std::string& fileName, const BYTE* data, std::size_t size)
{
    Close();
    return IsReadFormat(FormatOfName(fileName)) && OpenBytes(fileName, data, size);
}

// Only TIFF pages are split, whatever the file's name says.
bool CRasterLoader::OpenBytes(const std::string& fileName, const BYTE* data, std::size_t size)
{
    CDecodeStatus status;
    if (!data || size == 0 || ContentFormat(data, size) != FIF_TIFF || !ScanTiffPages(data, size, m_pages, status)) {
        Close();
        return false;
    }
    SplitPath(fileName);
    m_data = data;
    m_size = size;
    return true;
}

void CRasterLoader::SplitPath(const std::string& fileName)
{
    m_dir = GetFileDir(fileName);
    m_name = GetFileBaseName(fileName);
    m_ext = GetFileExt(fileName);
}

int CRasterLoader::GetPageCount() const
{
    return m_data ? static_cast<int>(std::min<std::size_t>(m_pages.size(), INT_MAX)) : 0;
}

FIBITMAP* CRasterLoader::LockPage(int page) { return DecodePage(page, nullptr, nullptr); }

FIBITMAP* CRasterLoader::DecodePage(int page, RasterLoadError* error, std::string* detail)
{
    if (!m_data || page < 0 || page >= GetPageCount())
        return Refuse(RasterLoadError::kDecodeFailed, {}, error, detail);
    t_lastLibraryMessage.clear();
    t_lastLoadWarning.clear();
    CDecodeStatus status;
    FIBITMAP* bitmap = DecodeTiffPage(m_data, m_size, m_pages[static_cast<std::size_t>(page)], status);
    if (!bitmap) {
        RasterLoadError why =
            status.error == RasterLoadError::kDecodeFailed ? LibraryFailure(status.detail) : status.error;
        return Refuse(why, status.detail, error, detail);
    }
    t_lastLoadWarning = std::move(status.warning);
    return bitmap;
}

void CRasterLoader::UnlockPage(FIBITMAP* bitmap, bool /*changed*/)
{
    if (bitmap)
        FreeImage_Unload(bitmap);
}

FIBITMAP* CRasterLoader::CopyPage(int page, RasterLoadError* error, std::string* detail)
{
    FIBITMAP* bitmap = DecodePage(page, error, detail);
    return bitmap ? Normalise(bitmap, error, detail) : nullptr;
}

bool CRasterLoader::GetPageHeader(int page, CRasterHeader& header) const
{
    if (!m_data || page < 0 || page >= GetPageCount())
        return false;
    const CTiffPage& p = m_pages[static_cast<std::size_t>(page)];
    if (p.error != RasterLoadError::kNone)
        return false;
    header = CRasterHeader{static_cast<int>(p.width), static_cast<int>(p.height),
                           static_cast<int>(p.loadedBitCount ? p.loadedBitCount : p.bitsPerPixel), p.xDotsPerMetre,
                           p.yDotsPerMetre};
    return p.loadedBitCount != 0;
}

bool CRasterLoader::GetPageAutoThreshold(int page, BYTE& threshold) const
{
    if (!m_data || page < 0 || page >= GetPageCount())
        return false;
    std::uint64_t counts[CRasterSrc::kHistogramBins] = {};
    if (!CountTiffPageGrey(m_data, m_size, m_pages[static_cast<std::size_t>(page)], counts))
        return false;
    threshold = AutoThresholdFromCounts(counts);
    return true;
}

std::string CRasterLoader::GetPageFileName(int page) const
{
    return m_dir + m_name + "_" + std::to_string(page) + m_ext;
}

void CRasterLoader::Close()
{
    m_pages.clear();
    m_data = nullptr;
    m_size = 0;
    m_file.reset();
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
        std::string pageDetail, warning;
        for (int page = 0; page < loader.GetPageCount(); ++page) {
            FIBITMAP* bitmap = loader.CopyPage(page, &pageError, &pageDetail);
            if (bitmap && warning.empty() && !t_lastLoadWarning.empty())
                warning = "page " + std::to_string(page + 1) + ": " + t_lastLoadWarning;
            if (bitmap)
                (void)addPage(loader.GetPageFileName(page), bitmap);
        }
        // The first damaged page is told, as one file's damage is.
        t_lastLoadWarning = std::move(warning);
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
