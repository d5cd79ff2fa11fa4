// A SANE backend is outside code: a faulty or hostile one controls the frame
// parameters and every byte sane_read hands over. Here a fake backend plays
// both from the fuzzer's bytes, and every page put together must be a block
// the scanner client takes as it is.
//
// Input: an options byte (bit 0 resolution option, bit 1 of fixed type,
// bit 2 scan source option), the resolution word, the source's length and
// text; then per frame a start byte, a parameter record and read commands.
#include "twain_sane/sane_page.h"

#include "platform/message_box.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "raster/twain.h"
#include "fuzz_script.h"

#include <sane/saneopts.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kMaxPages = 3;
constexpr std::uint8_t kReadEof = 0xFF;
constexpr std::uint8_t kReadTooLong = 0xF7;  // claims one byte more than asked

struct Device {
    Script script;
    SANE_Option_Descriptor resolution{};
    SANE_Option_Descriptor source{};
    bool hasResolution = false;
    bool hasSource = false;
    SANE_Word resolutionValue = 0;
    std::string sourceValue;
};

Device g_device;
int g_handle;  // the handle the fake hands out: only its address matters

const SANE_Status kErrors[] = {SANE_STATUS_IO_ERROR, SANE_STATUS_CANCELLED,  SANE_STATUS_NO_DOCS,
                               SANE_STATUS_JAMMED,   SANE_STATUS_NO_MEM,     SANE_STATUS_EOF,
                               SANE_STATUS_INVAL,    SANE_STATUS_DEVICE_BUSY};

void ReadHeader(Device& d)
{
    Script& s = d.script;
    std::uint8_t options = s.Byte();
    d.hasResolution = options & 1;
    d.resolution = SANE_Option_Descriptor{};
    d.resolution.name = SANE_NAME_SCAN_RESOLUTION;
    d.resolution.type = options & 2 ? SANE_TYPE_FIXED : SANE_TYPE_INT;
    d.resolution.size = options & 8 ? 2 : sizeof(SANE_Word);
    d.resolutionValue = s.Int();
    d.hasSource = options & 4;
    d.source = SANE_Option_Descriptor{};
    d.source.name = SANE_NAME_SCAN_SOURCE;
    d.source.type = options & 16 ? SANE_TYPE_INT : SANE_TYPE_STRING;
    std::size_t length = s.Byte();
    d.sourceValue.assign(length, '\0');
    length = s.Fill(d.sourceValue.data(), length);
    d.sourceValue.resize(length);
    // The option's size may be shorter than the text: the backend then
    // writes only that much.
    d.source.size = static_cast<SANE_Int>(options & 32 ? length / 2 : length + 1);
}

}  // namespace

// ---- the fake backend -------------------------------------------------------

extern "C" {

SANE_Status sane_start(SANE_Handle)
{
    Script& s = g_device.script;
    if (s.Empty())
        return SANE_STATUS_NO_DOCS;
    std::uint8_t b = s.Byte();
    return b < 0xE0 ? SANE_STATUS_GOOD : kErrors[b & 7];
}

SANE_Status sane_get_parameters(SANE_Handle, SANE_Parameters* p)
{
    Script& s = g_device.script;
    if (s.Empty())
        return SANE_STATUS_IO_ERROR;
    p->format = static_cast<SANE_Frame>(s.Byte());
    p->last_frame = s.Byte() & 1;
    p->bytes_per_line = s.Int();
    p->pixels_per_line = s.Int();
    p->lines = s.Int();
    p->depth = s.Byte();
    return SANE_STATUS_GOOD;
}

SANE_Status sane_read(SANE_Handle, SANE_Byte* buffer, SANE_Int maxLength, SANE_Int* length)
{
    Script& s = g_device.script;
    *length = 0;
    if (s.Empty())
        return SANE_STATUS_EOF;
    std::uint8_t command = s.Byte();
    if (command == kReadEof)
        return SANE_STATUS_EOF;
    if (command > kReadTooLong)
        return kErrors[command & 7];
    if (command == kReadTooLong) {
        *length = maxLength + 1;
        return SANE_STATUS_GOOD;
    }
    std::size_t wanted = static_cast<std::size_t>(command) << 8 | s.Byte();
    *length = static_cast<SANE_Int>(s.Fill(buffer, std::min<std::size_t>(wanted, maxLength)));
    return SANE_STATUS_GOOD;
}

const SANE_Option_Descriptor* sane_get_option_descriptor(SANE_Handle, SANE_Int index)
{
    if (index == 1 && g_device.hasResolution)
        return &g_device.resolution;
    if (index == 2 && g_device.hasSource)
        return &g_device.source;
    return index < 3 ? &g_device.resolution : nullptr;
}

SANE_Status sane_control_option(SANE_Handle, SANE_Int index, SANE_Action action, void* value, SANE_Int*)
{
    if (action != SANE_ACTION_GET_VALUE || !value)
        return SANE_STATUS_INVAL;
    if (index == 1 && g_device.hasResolution) {
        std::memcpy(value, &g_device.resolutionValue, static_cast<std::size_t>(g_device.resolution.size));
        return SANE_STATUS_GOOD;
    }
    if (index == 2 && g_device.hasSource) {
        std::size_t room = static_cast<std::size_t>(g_device.source.size);
        std::memcpy(value, g_device.sourceValue.data(), std::min(room, g_device.sourceValue.size()));
        return SANE_STATUS_GOOD;
    }
    return SANE_STATUS_INVAL;
}

}  // extern "C"

// ---- the driver -------------------------------------------------------------

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// The client sizes the block from its header alone and copies it.
void CheckPage(const ScannedPage& page)
{
    Check(page.dib && TwainNativeImageSize(page.dib) == page.size);
    CRasterSrc image;
    Check(image.AttachDIBHandle(page.dib, page.size));
    Check(image.GetWidth() == page.width && image.GetHeight() == page.height);
    Check(image.GetBitCount() == page.bitCount);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitRasterLibrary();
    SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return IDOK; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    g_device = Device{};
    g_device.script = Script{data, size, 0};
    ReadHeader(g_device);
    (void)IsFeederSource(&g_handle);
    for (int i = 0; i < kMaxPages && !g_device.script.Empty(); ++i) {
        ScannedPage page;
        if (ScanPage(&g_handle, page) != ScanOutcome::Page) {
            Check(page.dib == nullptr);
            break;
        }
        CheckPage(page);
        FreePage(page);
    }
    return 0;
}
