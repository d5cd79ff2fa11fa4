#include "raster/png_file.h"

#include "platform/pixel_dc.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kHeaderBytes = 13;
constexpr unsigned char kBitDepth = 8;
constexpr unsigned char kColourTypeRgb = 2;
constexpr std::size_t kBytesPerPixel = 3;
// Deflated bytes are handed out in chunks of this size.
constexpr std::size_t kDataChunkBytes = std::size_t{1} << 16;

// The five row filters in the order of their type bytes.
enum Filter : unsigned char { kNone, kSub, kUp, kAverage, kPaeth, kFilterCount };

void PutBigEndian32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

bool WriteChunk(std::FILE* file, const char* type, const unsigned char* data, std::size_t size)
{
    unsigned char head[8];
    PutBigEndian32(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (size > 0)
        crc = crc32(crc, data, static_cast<uInt>(size));
    unsigned char tail[4];
    PutBigEndian32(tail, static_cast<std::uint32_t>(crc));
    return std::fwrite(head, 1, sizeof head, file) == sizeof head &&
           (size == 0 || std::fwrite(data, 1, size, file) == size) &&
           std::fwrite(tail, 1, sizeof tail, file) == sizeof tail;
}

unsigned char PaethPredictor(int left, int up, int upLeft)
{
    const int p = left + up - upLeft;
    const int toLeft = std::abs(p - left), toUp = std::abs(p - up), toUpLeft = std::abs(p - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft)
        return static_cast<unsigned char>(left);
    return static_cast<unsigned char>(toUp <= toUpLeft ? up : upLeft);
}

// One row of RGB bytes, each filter's form of it (type byte first), and the
// row above it as the filters see it (zeros above the first).
class CRowFilters {
public:
    explicit CRowFilters(std::size_t rowBytes)
        : m_RowBytes(rowBytes), m_Row(rowBytes, 0), m_Above(rowBytes, 0), m_Filtered(kFilterCount)
    {
        for (auto& filtered : m_Filtered)
            filtered.assign(rowBytes + 1, 0);
    }

    unsigned char* Row() { return m_Row.data(); }

    // The filtered row whose bytes, read as signed, have the smallest sum of
    // magnitudes; the row becomes the one above for the next.
    const std::vector<unsigned char>& Filter()
    {
        std::size_t best = kNone;
        unsigned long bestSum = 0;
        for (std::size_t f = kNone; f < kFilterCount; ++f) {
            unsigned char* out = m_Filtered[f].data();
            out[0] = static_cast<unsigned char>(f);
            unsigned long sum = 0;
            for (std::size_t i = 0; i < m_RowBytes; ++i) {
                const int left = i >= kBytesPerPixel ? m_Row[i - kBytesPerPixel] : 0;
                const int up = m_Above[i];
                const int upLeft = i >= kBytesPerPixel ? m_Above[i - kBytesPerPixel] : 0;
                int predicted = 0;
                switch (f) {
                case kSub: predicted = left; break;
                case kUp: predicted = up; break;
                case kAverage: predicted = (left + up) / 2; break;
                case kPaeth: predicted = PaethPredictor(left, up, upLeft); break;
                default: break;
                }
                const auto value = static_cast<unsigned char>(m_Row[i] - predicted);
                out[i + 1] = value;
                sum += static_cast<unsigned long>(std::abs(static_cast<signed char>(value)));
            }
            if (f == kNone || sum < bestSum) {
                best = f;
                bestSum = sum;
            }
        }
        m_Above.swap(m_Row);
        return m_Filtered[best];
    }

private:
    std::size_t m_RowBytes;
    std::vector<unsigned char> m_Row;
    std::vector<unsigned char> m_Above;
    std::vector<std::vector<unsigned char>> m_Filtered;
};

// Deflates the filtered rows into IDAT chunks as its output fills.
class CDataChunks {
public:
    explicit CDataChunks(std::FILE* file) : m_File(file), m_Out(kDataChunkBytes)
    {
        m_Ready = deflateInit(&m_Stream, Z_DEFAULT_COMPRESSION) == Z_OK;
        m_Stream.next_out = m_Out.data();
        m_Stream.avail_out = static_cast<uInt>(m_Out.size());
    }
    ~CDataChunks()
    {
        if (m_Ready)
            deflateEnd(&m_Stream);
    }
    CDataChunks(const CDataChunks&) = delete;
    CDataChunks& operator=(const CDataChunks&) = delete;

    bool Add(const unsigned char* data, std::size_t size)
    {
        m_Stream.next_in = const_cast<unsigned char*>(data);
        m_Stream.avail_in = static_cast<uInt>(size);
        while (m_Ready && m_Stream.avail_in > 0)
            m_Ready = deflate(&m_Stream, Z_NO_FLUSH) == Z_OK && Drain(false);
        return m_Ready;
    }

    bool Finish()
    {
        int result = Z_OK;
        while (m_Ready && result == Z_OK) {
            result = deflate(&m_Stream, Z_FINISH);
            m_Ready = (result == Z_OK || result == Z_STREAM_END) && Drain(result == Z_STREAM_END);
        }
        return m_Ready && result == Z_STREAM_END;
    }

private:
    // Writes the output as a chunk once it is full, or whatever there is at the end.
    bool Drain(bool last)
    {
        const std::size_t held = m_Out.size() - m_Stream.avail_out;
        if (held == 0 || (!last && m_Stream.avail_out > 0))
            return true;
        if (!WriteChunk(m_File, "IDAT", m_Out.data(), held))
            return false;
        m_Stream.next_out = m_Out.data();
        m_Stream.avail_out = static_cast<uInt>(m_Out.size());
        return true;
    }

    std::FILE* m_File;
    std::vector<unsigned char> m_Out;
    z_stream m_Stream{};
    bool m_Ready = false;
};

}  // namespace

bool WriteCanvasPng(const CPixelDC& canvas, std::FILE* file)
{
    const int width = canvas.Width(), height = canvas.Height();
    if (!canvas.IsValid() || width <= 0 || height <= 0 || file == nullptr)
        return false;
    std::array<unsigned char, kHeaderBytes> header{};
    PutBigEndian32(header.data(), static_cast<std::uint32_t>(width));
    PutBigEndian32(header.data() + 4, static_cast<std::uint32_t>(height));
    header[8] = kBitDepth;
    header[9] = kColourTypeRgb;  // compression, filter method and interlace stay 0
    if (std::fwrite(kSignature, 1, sizeof kSignature, file) != sizeof kSignature ||
        !WriteChunk(file, "IHDR", header.data(), header.size()))
        return false;

    const auto columns = static_cast<std::size_t>(width);
    CRowFilters filters(columns * kBytesPerPixel);
    CDataChunks data(file);
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* pixel = canvas.Bits() + columns * static_cast<std::size_t>(y);
        unsigned char* rgb = filters.Row();
        for (std::size_t x = 0; x < columns; ++x, rgb += kBytesPerPixel) {
            rgb[0] = static_cast<unsigned char>(pixel[x] >> 16);
            rgb[1] = static_cast<unsigned char>(pixel[x] >> 8);
            rgb[2] = static_cast<unsigned char>(pixel[x]);
        }
        const std::vector<unsigned char>& row = filters.Filter();
        if (!data.Add(row.data(), row.size()))
            return false;
    }
    return data.Finish() && WriteChunk(file, "IEND", nullptr, 0);
}
