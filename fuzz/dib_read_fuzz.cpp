// Packed DIBs arrive in BMP files (the display bitmap's Read) and as blocks
// from drivers (AttachDIBHandle): both check every size against the bytes
// they have. What the display bitmap accepts must write and read back to the
// same block, from memory and from a stream alike.
#include "platform/message_box.h"
#include "raster/dib.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "raster/twain.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t kMaxInput = 1u << 20;
constexpr size_t kFileHeaderBytes = 14;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitRasterLibrary();
    SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return IDOK; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    CDib dib;
    const bool read = dib.ReadFromMemory(data, size);
    // The stream reader (an archive's) takes exactly what the memory reader
    // takes.
    if (size > 0) {
        std::string copy(reinterpret_cast<const char*>(data), size);
        if (std::FILE* stream = fmemopen(copy.data(), copy.size(), "rb")) {
            CDib streamed;
            const bool same = streamed.Read(stream) == read &&
                              (!read || (streamed.GetHandle().GetSize() == dib.GetHandle().GetSize() &&
                                         std::memcmp(streamed.GetHandle().Lock(), dib.GetHandle().Lock(),
                                                     dib.GetHandle().GetSize()) == 0));
            std::fclose(stream);
            if (!same)
                std::abort();
        }
    }
    if (read) {
        if (dib.Width() <= 0 || dib.Height() <= 0)
            std::abort();
        std::string written;
        if (dib.WriteToMemory(written)) {
            CDib again;
            if (!again.ReadFromMemory(reinterpret_cast<const BYTE*>(written.data()), written.size()))
                std::abort();
            std::string rewritten;
            if (!again.WriteToMemory(rewritten) || rewritten != written)
                std::abort();
        }
    }
    // The same bytes without the file header, as a driver's block: a scanner
    // hands it over without a length, which is taken from its header.
    if (size > kFileHeaderBytes + sizeof(BITMAPINFOHEADER)) {
        const std::uint8_t* block = data + kFileHeaderBytes;
        const std::size_t available = size - kFileHeaderBytes;
        const std::size_t claimed = TwainNativeImageSize(block);
        CRasterSrc image;
        if (image.AttachDIBHandle(block, claimed && claimed <= available ? claimed : available)) {
            (void)image.GetAutoThreshold();
            (void)image.ConvertTo1Bit(128);
        }
    }
    return 0;
}
