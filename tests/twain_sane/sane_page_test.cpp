// The page assembly of the SANE source manager against a scripted backend
// defined here: the backend's parameters and bytes are outside data.
#include "twain_sane/sane_page.h"

#include "platform/dib_types.h"
#include "raster/twain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

std::atomic<std::size_t> g_largestNew{0};

}  // namespace

// Records the largest block asked of operator new, to see what a frame
// reserves before its bytes arrive. Every form is replaced, so that no
// block passes between this pair and the runtime's.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    std::size_t seen = g_largestNew.load();
    while (size > seen && !g_largestNew.compare_exchange_weak(seen, size)) {
    }
    return std::malloc(size ? size : 1);
}

void* operator new(std::size_t size)
{
    if (void* block = operator new(size, std::nothrow))
        return block;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) { return operator new(size); }

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }

// GCC takes the replacement pairs for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* block) noexcept { std::free(block); }

void operator delete(void* block, std::size_t) noexcept { std::free(block); }

void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }

void operator delete[](void* block) noexcept { std::free(block); }

void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

struct FakeFrame {
    SANE_Parameters parameters{};
    int rawFormat = -1;  // stored over the enum when not -1
    std::vector<SANE_Byte> bytes;
};

struct Backend {
    std::vector<FakeFrame> frames;
    std::size_t next = 0;  // the frame sane_start begins
    std::size_t at = 0;    // read position in the current frame
};

Backend g_backend;
int g_handle;

FakeFrame Frame(SANE_Frame format, bool last, int width, int lines, int depth, int bytesPerLine,
                std::vector<SANE_Byte> bytes)
{
    FakeFrame frame;
    frame.parameters.format = format;
    frame.parameters.last_frame = last;
    frame.parameters.pixels_per_line = width;
    frame.parameters.lines = lines;
    frame.parameters.depth = depth;
    frame.parameters.bytes_per_line = bytesPerLine;
    frame.bytes = std::move(bytes);
    return frame;
}

// A plane of width x lines 8-bit samples, every one `value` plus its column.
std::vector<SANE_Byte> Plane(int width, int lines, int value)
{
    std::vector<SANE_Byte> bytes;
    for (int y = 0; y < lines; ++y)
        for (int x = 0; x < width; ++x)
            bytes.push_back(static_cast<SANE_Byte>(value + x));
    return bytes;
}

ScanOutcome Scan(std::vector<FakeFrame> frames, ScannedPage& page)
{
    g_backend = Backend{};
    g_backend.frames = std::move(frames);
    return ScanPage(&g_handle, page);
}

const BYTE* PixelsOf(const ScannedPage& page)
{
    int colours = page.bitCount <= 8 ? 1 << page.bitCount : 0;
    return static_cast<const BYTE*>(page.dib) + sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD);
}

TEST(SanePage, AnnouncedFrameSizeIsNotReservedBeforeTheBytesArrive)
{
    // 262144 lines of 12288 bytes announced (3 GiB), 16 bytes sent.
    g_largestNew = 0;
    ScannedPage page;
    EXPECT_EQ(Scan({Frame(SANE_FRAME_GRAY, true, 4096, 262144, 8, 12288, std::vector<SANE_Byte>(16, 7))}, page),
              ScanOutcome::Failed);
    EXPECT_EQ(page.dib, nullptr);
    EXPECT_LE(g_largestNew.load(), std::size_t{256} << 20);
}

TEST(SanePage, ThreePlanesMakeOneColourPage)
{
    ScannedPage page;
    ASSERT_EQ(Scan({Frame(SANE_FRAME_GREEN, false, 3, 2, 8, 3, Plane(3, 2, 100)),
                    Frame(SANE_FRAME_BLUE, false, 3, 2, 8, 3, Plane(3, 2, 200)),
                    Frame(SANE_FRAME_RED, true, 3, 2, 8, 3, Plane(3, 2, 10))},
                   page),
              ScanOutcome::Page);
    EXPECT_EQ(page.bitCount, 24);
    EXPECT_EQ(TwainNativeImageSize(page.dib), page.size);
    const BYTE* row = PixelsOf(page);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(row[3 * x + 0], 200 + x);  // blue
        EXPECT_EQ(row[3 * x + 1], 100 + x);  // green
        EXPECT_EQ(row[3 * x + 2], 10 + x);   // red
    }
    FreePage(page);
}

TEST(SanePage, FramesThatDoNotMakeAPictureAreRefused)
{
    const int w = 64, h = 4;
    // One plane alone holds a third of what a colour row needs.
    std::vector<std::vector<FakeFrame>> cases = {
        {Frame(SANE_FRAME_RED, true, w, h, 8, w, Plane(w, h, 1))},
        {Frame(SANE_FRAME_BLUE, true, w, h, 16, 2 * w, Plane(2 * w, h, 1))},
        // A plane twice, or grey or interleaved colour before planes.
        {Frame(SANE_FRAME_RED, false, w, h, 8, w, Plane(w, h, 1)),
         Frame(SANE_FRAME_RED, false, w, h, 8, w, Plane(w, h, 1)),
         Frame(SANE_FRAME_BLUE, true, w, h, 8, w, Plane(w, h, 1))},
        {Frame(SANE_FRAME_GRAY, false, w, h, 8, w, Plane(w, h, 1)),
         Frame(SANE_FRAME_GREEN, false, w, h, 8, w, Plane(w, h, 1)),
         Frame(SANE_FRAME_BLUE, true, w, h, 8, w, Plane(w, h, 1))},
        {Frame(SANE_FRAME_RGB, false, w, h, 8, 3 * w, Plane(3 * w, h, 1)),
         Frame(SANE_FRAME_GREEN, false, w, h, 8, 3 * w, Plane(3 * w, h, 1)),
         Frame(SANE_FRAME_BLUE, true, w, h, 8, 3 * w, Plane(3 * w, h, 1))},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ScannedPage page;
        EXPECT_EQ(Scan(cases[i], page), ScanOutcome::Failed) << "case " << i;
        EXPECT_EQ(page.dib, nullptr);
        FreePage(page);
    }
}

TEST(SanePage, FrameFormatOutsideTheEnumIsRefused)
{
    for (int format : {5, 7, 200, -3}) {
        FakeFrame frame = Frame(SANE_FRAME_GRAY, true, 8, 2, 8, 8, Plane(8, 2, 0));
        frame.rawFormat = format;
        ScannedPage page;
        EXPECT_EQ(Scan({frame}, page), ScanOutcome::Failed) << format;
        FreePage(page);
    }
}

}  // namespace

// ---- the scripted backend ---------------------------------------------------

extern "C" {

SANE_Status sane_start(SANE_Handle)
{
    if (g_backend.next >= g_backend.frames.size())
        return SANE_STATUS_NO_DOCS;
    g_backend.at = 0;
    ++g_backend.next;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_get_parameters(SANE_Handle, SANE_Parameters* p)
{
    const FakeFrame& frame = g_backend.frames[g_backend.next - 1];
    *p = frame.parameters;
    // A C backend may store any int in the enum.
    if (frame.rawFormat != -1)
        std::memcpy(&p->format, &frame.rawFormat, sizeof frame.rawFormat);
    return SANE_STATUS_GOOD;
}

SANE_Status sane_read(SANE_Handle, SANE_Byte* buffer, SANE_Int maxLength, SANE_Int* length)
{
    const std::vector<SANE_Byte>& bytes = g_backend.frames[g_backend.next - 1].bytes;
    std::size_t n = std::min<std::size_t>(maxLength, bytes.size() - g_backend.at);
    *length = static_cast<SANE_Int>(n);
    if (n == 0)
        return SANE_STATUS_EOF;
    std::memcpy(buffer, bytes.data() + g_backend.at, n);
    g_backend.at += n;
    return SANE_STATUS_GOOD;
}

const SANE_Option_Descriptor* sane_get_option_descriptor(SANE_Handle, SANE_Int) { return nullptr; }

SANE_Status sane_control_option(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*)
{
    return SANE_STATUS_UNSUPPORTED;
}

}  // extern "C"
