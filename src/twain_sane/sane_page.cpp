// Reads a page from SANE and repacks it as a bottom-up DIB. A device's
// parameters are outside data: sides, depth, row length and the bytes read
// are checked against fixed limits before the buffers grow.
#include "twain_sane/sane_page.h"

#include "platform/dib_types.h"
#include "raster/twain_types.h"

#include <sane/saneopts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr int kMaxSide = 1 << 18;                                 // pixels, either way
constexpr std::uint64_t kMaxFrameBytes = std::uint64_t{3} << 30;  // raw bytes of one frame
// Reserved before any byte arrives: the announced size is only the backend's
// word, and a frame may end early.
constexpr std::uint64_t kMaxUpFrontBytes = std::uint64_t{64} << 20;
constexpr SANE_Int kReadChunk = 1 << 16;
constexpr double kMetresPerInch = 0.0254;

struct Frame {
    SANE_Frame format;
    std::vector<SANE_Byte> data;
};

struct Geometry {
    int width = 0;
    int depth = 0;
    std::size_t bytesPerLine = 0;
    int channels = 0;  // of the final picture: 1 grey or lineart, 3 colour
};

// The bytes one row of the frame needs at least.
std::uint64_t NeededRowBytes(const SANE_Parameters& p)
{
    std::uint64_t samples = static_cast<std::uint64_t>(p.pixels_per_line) * (p.format == SANE_FRAME_RGB ? 3 : 1);
    return (samples * static_cast<std::uint64_t>(p.depth) + 7) / 8;
}

bool CheckParameters(const SANE_Parameters& p, const Geometry* first)
{
    if (p.pixels_per_line <= 0 || p.pixels_per_line > kMaxSide || p.lines > kMaxSide || p.lines == 0 || p.lines < -1 ||
        p.bytes_per_line <= 0)
        return false;
    bool colourPlane = p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN || p.format == SANE_FRAME_BLUE;
    if (p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB && !colourPlane)
        return false;
    if (p.depth != 8 && p.depth != 16 && !(p.depth == 1 && p.format == SANE_FRAME_GRAY))
        return false;
    if (static_cast<std::uint64_t>(p.bytes_per_line) < NeededRowBytes(p))
        return false;
    if (first && (first->width != p.pixels_per_line || first->depth != p.depth ||
                  first->bytesPerLine != static_cast<std::size_t>(p.bytes_per_line) || !colourPlane))
        return false;
    return true;
}

// One frame of grey or interleaved colour, or the red, green and blue planes
// once each: what PackRows knows how to read.
bool FramesMakeAPicture(const std::vector<Frame>& frames)
{
    if (frames.size() == 1)
        return frames[0].format == SANE_FRAME_GRAY || frames[0].format == SANE_FRAME_RGB;
    if (frames.size() != 3)
        return false;
    unsigned seen = 0;
    for (const Frame& frame : frames) {
        if (frame.format != SANE_FRAME_RED && frame.format != SANE_FRAME_GREEN && frame.format != SANE_FRAME_BLUE)
            return false;
        seen |= 1u << frame.format;
    }
    return seen == (1u << SANE_FRAME_RED | 1u << SANE_FRAME_GREEN | 1u << SANE_FRAME_BLUE);
}

// Reads one frame to its end; the buffer never grows past the limit.
SANE_Status ReadFrame(SANE_Handle device, const SANE_Parameters& p, std::vector<SANE_Byte>& data)
{
    std::uint64_t limit = kMaxFrameBytes;
    if (p.lines > 0)
        limit = std::min(limit, static_cast<std::uint64_t>(p.bytes_per_line) * static_cast<std::uint64_t>(p.lines));
    try {
        if (p.lines > 0)
            data.reserve(static_cast<std::size_t>(std::min(limit, kMaxUpFrontBytes)));
        std::vector<SANE_Byte> chunk(kReadChunk);
        for (;;) {
            SANE_Int length = 0;
            SANE_Status status = sane_read(device, chunk.data(), kReadChunk, &length);
            if (status == SANE_STATUS_EOF)
                return SANE_STATUS_GOOD;
            if (status != SANE_STATUS_GOOD)
                return status;
            if (length < 0 || length > kReadChunk)
                return SANE_STATUS_IO_ERROR;
            // Bytes past the announced lines are dropped, not kept.
            std::size_t room = static_cast<std::size_t>(limit - data.size());
            data.insert(data.end(), chunk.begin(), chunk.begin() + std::min<std::size_t>(room, length));
            if (p.lines < 0 && data.size() >= limit)
                return SANE_STATUS_NO_MEM;
        }
    } catch (const std::bad_alloc&) {
        return SANE_STATUS_NO_MEM;
    }
}

std::uint8_t Sample(const SANE_Byte* row, int index, int depth)
{
    if (depth == 8)
        return row[index];
    std::uint16_t value;  // host byte order, as SANE delivers it
    std::memcpy(&value, row + 2 * index, sizeof value);
    return static_cast<std::uint8_t>(value >> 8);
}

void* AllocateDib(int width, int height, int bitCount, int dotsPerInch, std::size_t& size)
{
    int colours = bitCount <= 8 ? 1 << bitCount : 0;
    std::size_t rowBytes = (static_cast<std::size_t>(width) * bitCount + 31) / 32 * 4;
    std::size_t bitsOffset = sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD);
    size = bitsOffset + rowBytes * static_cast<std::size_t>(height);
    if (size > kMaxTwainImageBytes)
        return nullptr;
    auto* block = static_cast<BYTE*>(std::calloc(1, size));
    if (!block)
        return nullptr;
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(rowBytes * height);
    LONG perMetre = static_cast<LONG>(std::lround(dotsPerInch / kMetresPerInch));
    h.biXPelsPerMeter = h.biYPelsPerMeter = perMetre;
    h.biClrUsed = static_cast<DWORD>(colours);
    std::memcpy(block, &h, sizeof h);
    auto* palette = reinterpret_cast<RGBQUAD*>(block + sizeof h);
    if (bitCount == 1) {
        palette[0] = RGBQUAD{255, 255, 255, 0};
        palette[1] = RGBQUAD{0, 0, 0, 0};
    } else if (bitCount == 8) {
        for (int i = 0; i < 256; ++i)
            palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    }
    return block;
}

// Fills the DIB's rows (bottom-up) from the frames read.
void PackRows(const std::vector<Frame>& frames, const Geometry& g, int height, BYTE* bits, std::size_t rowBytes)
{
    for (int y = 0; y < height; ++y) {
        BYTE* out = bits + rowBytes * static_cast<std::size_t>(height - 1 - y);
        std::size_t offset = g.bytesPerLine * static_cast<std::size_t>(y);
        if (g.depth == 1) {
            std::size_t bytes = (static_cast<std::size_t>(g.width) + 7) / 8;
            std::memcpy(out, frames[0].data.data() + offset, bytes);
            if (int spare = g.width % 8)
                out[bytes - 1] &= static_cast<BYTE>(0xFF << (8 - spare));
        } else if (g.channels == 1) {
            for (int x = 0; x < g.width; ++x)
                out[x] = Sample(frames[0].data.data() + offset, x, g.depth);
        } else if (frames.size() == 1) {
            const SANE_Byte* row = frames[0].data.data() + offset;
            for (int x = 0; x < g.width; ++x)
                for (int c = 0; c < 3; ++c)
                    out[3 * x + 2 - c] = Sample(row, 3 * x + c, g.depth);
        } else {
            for (const Frame& frame : frames) {
                int c = frame.format == SANE_FRAME_RED ? 2 : frame.format == SANE_FRAME_GREEN ? 1 : 0;
                for (int x = 0; x < g.width; ++x)
                    out[3 * x + c] = Sample(frame.data.data() + offset, x, g.depth);
            }
        }
    }
}

const SANE_Option_Descriptor* FindOption(SANE_Handle device, const char* name, SANE_Int& index)
{
    for (index = 1;; ++index) {
        const SANE_Option_Descriptor* option = sane_get_option_descriptor(device, index);
        if (!option)
            return nullptr;
        if (option->name && std::strcmp(option->name, name) == 0)
            return option;
    }
}

int ReadResolution(SANE_Handle device)
{
    SANE_Int index = 0;
    const SANE_Option_Descriptor* option = FindOption(device, SANE_NAME_SCAN_RESOLUTION, index);
    if (!option || option->size != sizeof(SANE_Word) ||
        (option->type != SANE_TYPE_INT && option->type != SANE_TYPE_FIXED))
        return 0;
    SANE_Word value = 0;
    if (sane_control_option(device, index, SANE_ACTION_GET_VALUE, &value, nullptr) != SANE_STATUS_GOOD)
        return 0;
    double dpi = option->type == SANE_TYPE_FIXED ? SANE_UNFIX(value) : value;
    return dpi > 0 && dpi < 100000 ? static_cast<int>(std::lround(dpi)) : 0;
}

ScanOutcome Outcome(SANE_Status status)
{
    if (status == SANE_STATUS_NO_DOCS)
        return ScanOutcome::NoDocuments;
    return status == SANE_STATUS_CANCELLED ? ScanOutcome::Cancelled : ScanOutcome::Failed;
}

}  // namespace

ScanOutcome ScanPage(SANE_Handle device, ScannedPage& page, SANE_Status* why)
{
    page = ScannedPage{};
    SANE_Status ignored = SANE_STATUS_GOOD;
    SANE_Status& reason = why ? *why : ignored;
    reason = SANE_STATUS_GOOD;
    std::vector<Frame> frames;
    Geometry g;
    for (;;) {
        SANE_Status status = sane_start(device);
        if (status != SANE_STATUS_GOOD)
            return Outcome(reason = status);
        SANE_Parameters p{};
        if (sane_get_parameters(device, &p) != SANE_STATUS_GOOD)
            return ScanOutcome::Failed;
        // The backend is C and may leave any int in the enum: look at it as one.
        int format = 0;
        static_assert(sizeof format == sizeof p.format);
        std::memcpy(&format, &p.format, sizeof format);
        if (format < SANE_FRAME_GRAY || format > SANE_FRAME_BLUE || !CheckParameters(p, frames.empty() ? nullptr : &g))
            return ScanOutcome::Failed;
        if (frames.empty()) {
            g.width = p.pixels_per_line;
            g.depth = p.depth;
            g.bytesPerLine = static_cast<std::size_t>(p.bytes_per_line);
            g.channels = p.format == SANE_FRAME_GRAY ? 1 : 3;
        }
        Frame frame{p.format, {}};
        status = ReadFrame(device, p, frame.data);
        if (status != SANE_STATUS_GOOD)
            return Outcome(reason = status);
        frames.push_back(std::move(frame));
        if (p.last_frame)
            break;
        if (frames.size() >= 3)
            return ScanOutcome::Failed;
    }
    if (!FramesMakeAPicture(frames))
        return ScanOutcome::Failed;
    // Rows every frame holds in full; a short last row is dropped.
    std::size_t rows = SIZE_MAX;
    for (const Frame& frame : frames)
        rows = std::min(rows, frame.data.size() / g.bytesPerLine);
    if (rows == 0 || rows > static_cast<std::size_t>(kMaxSide))
        return ScanOutcome::Failed;
    int height = static_cast<int>(rows);
    int bitCount = g.depth == 1 ? 1 : g.channels == 1 ? 8 : 24;
    int dpi = ReadResolution(device);
    std::size_t size = 0;
    void* dib = AllocateDib(g.width, height, bitCount, dpi, size);
    if (!dib)
        return ScanOutcome::Failed;
    int colours = bitCount <= 8 ? 1 << bitCount : 0;
    BYTE* bits = static_cast<BYTE*>(dib) + sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD);
    PackRows(frames, g, height, bits, (static_cast<std::size_t>(g.width) * bitCount + 31) / 32 * 4);
    page.dib = dib;
    page.size = size;
    page.width = g.width;
    page.height = height;
    page.bitCount = bitCount;
    page.dotsPerInch = dpi;
    return ScanOutcome::Page;
}

void FreePage(ScannedPage& page)
{
    std::free(page.dib);
    page = ScannedPage{};
}

bool IsFeederSource(SANE_Handle device)
{
    SANE_Int index = 0;
    const SANE_Option_Descriptor* option = FindOption(device, SANE_NAME_SCAN_SOURCE, index);
    if (!option || option->type != SANE_TYPE_STRING || option->size <= 0 || option->size > 4096)
        return false;
    std::string value(static_cast<std::size_t>(option->size), '\0');
    if (sane_control_option(device, index, SANE_ACTION_GET_VALUE, value.data(), nullptr) != SANE_STATUS_GOOD)
        return false;
    value.resize(std::strlen(value.c_str()));
    std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
    return value.find("adf") != std::string::npos || value.find("feeder") != std::string::npos;
}
