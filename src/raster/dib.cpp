#include "raster/dib.h"

#include "platform/archive.h"
#include "platform/atomic_file.h"
#include "platform/bitmap.h"
#include "platform/palette.h"
#include "platform/input_file.h"
#include "platform/pixel_dc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr DWORD kInfoHeaderSize = sizeof(BITMAPINFOHEADER);
constexpr DWORD kCoreHeaderSize = sizeof(BITMAPCOREHEADER);
constexpr DWORD kMaxColours = 256;

// Offsets in the 14-byte file header.
constexpr std::size_t kFileSizeOffset = 2;
constexpr std::size_t kBitsOffsetOffset = 10;

bool IsCoreHeader(const BYTE* dib)
{
    DWORD size;
    std::memcpy(&size, dib, sizeof size);
    return size == kCoreHeaderSize;
}

BITMAPINFOHEADER InfoHeader(const BYTE* dib)
{
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    return h;
}

BITMAPCOREHEADER CoreHeader(const BYTE* dib)
{
    BITMAPCOREHEADER h;
    std::memcpy(&h, dib, sizeof h);
    return h;
}

int BitCount(const BYTE* dib) { return IsCoreHeader(dib) ? CoreHeader(dib).bcBitCount : InfoHeader(dib).biBitCount; }

std::uint64_t RowBytes(std::uint64_t bitCount, std::uint64_t width) { return ((bitCount * width + 31) >> 5) * 4; }

DWORD ReadDword(const BYTE* p)
{
    return static_cast<DWORD>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24));
}

void PutWord(std::string& out, WORD v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void PutDword(std::string& out, DWORD v)
{
    PutWord(out, static_cast<WORD>(v & 0xFFFF));
    PutWord(out, static_cast<WORD>(v >> 16));
}

bool IsKnownBitCount(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// Checks a block just read from a file and fills in the defaults the header
// may leave out. The bits must start where the file header says.
bool AcceptReadBlock(BYTE* block, std::size_t size, DWORD bitsOffsetInFile)
{
    if (size < kInfoHeaderSize)
        return false;
    BITMAPINFOHEADER h = InfoHeader(block);
    if (h.biSize != kInfoHeaderSize || h.biPlanes != 1 || !IsKnownBitCount(h.biBitCount) || h.biWidth <= 0 ||
        h.biHeight <= 0)
        return false;
    bool rle = h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4;
    if (!(h.biCompression == BI_RGB || (h.biCompression == BI_RLE8 && h.biBitCount == 8) ||
          (h.biCompression == BI_RLE4 && h.biBitCount == 4)))
        return false;
    // Only a colour table can be implied; above 8 bits there is none by default.
    if (h.biClrUsed == 0 && h.biBitCount <= 8)
        h.biClrUsed = 1u << h.biBitCount;
    if (h.biClrUsed > kMaxColours || (h.biBitCount <= 8 && h.biClrUsed > (1u << h.biBitCount)))
        return false;
    std::uint64_t rows =
        RowBytes(h.biBitCount, static_cast<std::uint64_t>(h.biWidth)) * static_cast<std::uint64_t>(h.biHeight);
    if (h.biSizeImage == 0) {
        if (rows > UINT32_MAX)
            return false;
        h.biSizeImage = static_cast<DWORD>(rows);
    }
    std::uint64_t bitsOffset = kInfoHeaderSize + std::uint64_t{h.biClrUsed} * sizeof(RGBQUAD);
    std::uint64_t imageBytes = rle ? h.biSizeImage : rows;
    if (bitsOffset + kBmpFileHeaderSize != bitsOffsetInFile || bitsOffset > size || imageBytes > size - bitsOffset)
        return false;
    std::memcpy(block, &h, sizeof h);
    return true;
}

// Reads a BMP file's bytes through read(buffer, n) -> bool, given the total
// size of the file.
template <class ReadBytes>
CDibHandle ReadBmp(std::size_t total, ReadBytes&& read)
{
    BYTE fileHeader[kBmpFileHeaderSize];
    if (total < kBmpFileHeaderSize || !read(fileHeader, sizeof fileHeader))
        return {};
    if (fileHeader[0] != (kBmpSignature & 0xFF) || fileHeader[1] != (kBmpSignature >> 8))
        return {};
    DWORD fileSize = ReadDword(fileHeader + kFileSizeOffset);
    DWORD bitsOffset = ReadDword(fileHeader + kBitsOffsetOffset);
    // The stated size must hold the headers and must not promise more bytes
    // than the file has.
    if (fileSize < kBmpFileHeaderSize + kInfoHeaderSize || fileSize > total)
        return {};
    CDibHandle block = CDibHandle::Allocate(fileSize - kBmpFileHeaderSize);
    if (block.IsNull() || !read(block.Lock(), block.GetSize()) ||
        !AcceptReadBlock(block.Lock(), block.GetSize(), bitsOffset))
        return {};
    return block;
}

}  // namespace

// ------------------------------------------------------------ CDibHandle --

CDibHandle CDibHandle::Allocate(std::size_t size)
{
    CDibHandle handle;
    if (size == 0)
        return handle;
    handle.m_data.reset(new (std::nothrow) BYTE[size]());
    if (handle.m_data)
        handle.m_size = size;
    return handle;
}

void CDibHandle::Free()
{
    m_data.reset();
    m_size = 0;
}

// -------------------------------------------------------- free functions --

CDibHandle CreateBlankDIB(int width, int height, int bitCount)
{
    if (width <= 0 || height <= 0)
        return {};
    int bits = bitCount <= 1 ? 1 : bitCount <= 4 ? 4 : bitCount <= 8 ? 8 : bitCount <= 24 ? 24 : 4;
    std::uint64_t colours = bits <= 8 ? (1u << bits) : 0;
    std::uint64_t size = kInfoHeaderSize + colours * sizeof(RGBQUAD) +
                         RowBytes(static_cast<std::uint64_t>(bits), static_cast<std::uint64_t>(width)) *
                             static_cast<std::uint64_t>(height);
    if (size > SIZE_MAX / 2)
        return {};
    CDibHandle handle = CDibHandle::Allocate(static_cast<std::size_t>(size));
    if (handle.IsNull())
        return handle;
    BITMAPINFOHEADER h{};
    h.biSize = kInfoHeaderSize;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bits);
    std::memcpy(handle.Lock(), &h, sizeof h);
    return handle;
}

int DIBWidth(const BYTE* dib) { return IsCoreHeader(dib) ? CoreHeader(dib).bcWidth : InfoHeader(dib).biWidth; }

int DIBHeight(const BYTE* dib) { return IsCoreHeader(dib) ? CoreHeader(dib).bcHeight : InfoHeader(dib).biHeight; }

DWORD DIBNumColors(const BYTE* dib)
{
    if (!IsCoreHeader(dib)) {
        DWORD used = InfoHeader(dib).biClrUsed;
        if (used)
            return used;
    }
    int bits = BitCount(dib);
    return bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
}

DWORD DIBPaletteSize(const BYTE* dib)
{
    return DIBNumColors(dib) * (IsCoreHeader(dib) ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD));
}

DWORD DIBBytesPerLine(const BYTE* dib)
{
    return static_cast<DWORD>(RowBytes(static_cast<std::uint64_t>(BitCount(dib)),
                                       static_cast<std::uint64_t>(DIBWidth(dib) < 0 ? 0 : DIBWidth(dib))));
}

BYTE* FindDIBBits(BYTE* dib)
{
    DWORD headerSize;
    std::memcpy(&headerSize, dib, sizeof headerSize);
    return dib + headerSize + DIBPaletteSize(dib);
}

const BYTE* FindDIBBits(const BYTE* dib) { return FindDIBBits(const_cast<BYTE*>(dib)); }

// ------------------------------------------------------------------ CDib --

CDib::CDib() = default;

CDib::~CDib() { Free(); }

void CDib::Free()
{
    m_painting = false;
    m_bitmap.reset();
    m_palette.reset();
    m_dib.Free();
}

bool CDib::Create(int width, int height, int bitCount) { return Attach(CreateBlankDIB(width, height, bitCount)); }

bool CDib::Attach(CDibHandle handle)
{
    if (handle.IsNull())
        return false;
    m_painting = false;
    m_dib = std::move(handle);
    (void)UpdateGdiObjects();
    return true;
}

bool CDib::CreateFromBitmap(const CBitmap& bitmap) { return Attach(BitmapToDIB(bitmap)); }

bool CDib::UpdateGdiObjects()
{
    MakePalette();
    return MakeBitmap();
}

void CDib::MakePalette() { m_palette = CreateDIBPaletteFromHandle(m_dib); }

bool CDib::MakeBitmap()
{
    // The old section goes first: both at once would double the peak.
    m_painting = false;
    m_bitmap.reset();
    m_bitmap = HandleToDIBSection(m_dib);
    return m_bitmap != nullptr;
}

bool CDib::WriteToMemory(std::string& bytes)
{
    if (m_dib.IsNull() || m_dib.GetSize() < kInfoHeaderSize)
        return false;
    BYTE* block = m_dib.Lock();
    BITMAPINFOHEADER h = InfoHeader(block);
    if (h.biSize != kInfoHeaderSize || h.biWidth <= 0 || h.biHeight <= 0)
        return false;
    std::uint64_t palette = DIBPaletteSize(block);
    std::uint64_t image = h.biSizeImage;
    if (h.biCompression != BI_RLE8 && h.biCompression != BI_RLE4) {
        image = RowBytes(h.biBitCount, static_cast<std::uint64_t>(h.biWidth)) * static_cast<std::uint64_t>(h.biHeight);
        if (image > UINT32_MAX)
            return false;
        h.biSizeImage = static_cast<DWORD>(image);
    }
    std::uint64_t blockBytes = kInfoHeaderSize + palette + image;
    if (blockBytes > m_dib.GetSize() || blockBytes + kBmpFileHeaderSize > UINT32_MAX)
        return false;
    std::memcpy(block, &h, sizeof h);
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(blockBytes + kBmpFileHeaderSize));
    PutWord(bytes, kBmpSignature);
    PutDword(bytes, static_cast<DWORD>(kBmpFileHeaderSize + blockBytes));
    PutWord(bytes, 0);
    PutWord(bytes, 0);
    PutDword(bytes, static_cast<DWORD>(kBmpFileHeaderSize + kInfoHeaderSize + palette));
    bytes.append(reinterpret_cast<const char*>(block), static_cast<std::size_t>(blockBytes));
    return true;
}

bool CDib::Write(const std::string& path)
{
    std::string bytes;
    return WriteToMemory(bytes) && WriteFileAtomically(path, bytes);
}

bool CDib::Write(std::FILE* file)
{
    std::string bytes;
    return file != nullptr && WriteToMemory(bytes) && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool CDib::Serialize(CArchive& archive)
{
    return archive.IsStoring() ? Write(archive.GetFile()) : Read(archive.GetFile());
}

bool CDib::ReadFromMemory(const BYTE* data, std::size_t size)
{
    std::size_t position = 0;
    CDibHandle block = ReadBmp(size, [&](void* buffer, std::size_t n) {
        if (n > size - position)
            return false;
        std::memcpy(buffer, data + position, n);
        position += n;
        return true;
    });
    return Attach(std::move(block));
}

bool CDib::Read(const std::string& path)
{
    const int fd = OpenInputFile(path);
    if (fd < 0)
        return false;
    struct stat info {};
    CDibHandle block;
    if (::fstat(fd, &info) == 0) {
        block = ReadBmp(static_cast<std::size_t>(info.st_size), [fd](void* buffer, std::size_t n) {
            auto* p = static_cast<BYTE*>(buffer);
            while (n > 0) {
                ssize_t got = ::read(fd, p, n);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    return false;
                p += got;
                n -= static_cast<std::size_t>(got);
            }
            return true;
        });
    }
    ::close(fd);
    return Attach(std::move(block));
}

bool CDib::Read(std::FILE* file)
{
    if (file == nullptr)
        return false;
    // The stream's length may be unknown: the bytes the file header claims
    // are read in steps, so a short stream costs no more than it holds.
    constexpr std::size_t kStep = 1u << 16;
    std::vector<BYTE> bytes(kBmpFileHeaderSize);
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size())
        return false;
    const std::size_t claimed = ReadDword(bytes.data() + kFileSizeOffset);
    try {
        while (bytes.size() < claimed) {
            const std::size_t have = bytes.size();
            const std::size_t want = std::min(kStep, claimed - have);
            bytes.resize(have + want);
            const std::size_t got = std::fread(bytes.data() + have, 1, want, file);
            if (got != want) {
                bytes.resize(have + got);
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return ReadFromMemory(bytes.data(), bytes.size());
}
