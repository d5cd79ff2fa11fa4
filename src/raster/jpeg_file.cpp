// JPEG files: the frame header is read here, before the library sees the
// file, to bound what it declares by the bytes present and the memory the
// machine has; the library decodes the pixels. A file that ends before its
// last block is truncated, not an image with a grey lower part.
#include "raster/freeimage_api.h"

#include "raster/raster_decoders.h"

#include "platform/number_text.h"

#include <string>

namespace {

constexpr BYTE kJpegStartOfScan = 0xDA, kJpegEnd = 0xD9;
// A Huffman-coded block of 64 samples takes at least a bit; arithmetic
// coding can take far less.
constexpr double kJpegPixelsPerByte = 1024.0;
constexpr double kArithmeticJpegPixelsPerByte = 65536.0;
const char* const kJpegEndedEarly = "Premature end of JPEG file";

bool IsJpegFrame(BYTE marker, bool* arithmetic)
{
    if (marker < 0xC0 || marker > 0xCF || marker == 0xC4 || marker == 0xC8 || marker == 0xCC)
        return false;
    *arithmetic = marker >= 0xC9;
    return true;
}

// Coded data never holds an end-of-image marker (0xFF is followed by 0 or a
// restart marker there), so a file without one after its first scan ended
// early, whatever the decoder says.
bool HasEndMarker(const BYTE* data, std::size_t size)
{
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == kJpegEnd && data[i - 1] == 0xFF)
            return true;
    }
    return false;
}

}  // namespace

FIBITMAP* DecodeJpeg(const BYTE* data, std::size_t size, CDecodeStatus& status)
{
    if (size < 3 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF)
        return status.Fail(RasterLoadError::kDecodeFailed, "no JPEG signature");
    std::size_t at = 2;
    std::int64_t width = 0, height = 0;
    unsigned components = 0;
    bool arithmetic = false, frame = false;
    for (;;) {
        while (at + 1 < size && data[at] == 0xFF && data[at + 1] == 0xFF)
            ++at;
        if (at + 4 > size)
            return status.Fail(RasterLoadError::kTruncated, "the file ends before its image data");
        if (data[at] != 0xFF)
            return status.Fail(RasterLoadError::kDecodeFailed, "a marker is missing");
        BYTE marker = data[at + 1];
        if (marker == kJpegEnd)
            return status.Fail(RasterLoadError::kDecodeFailed, "the file ends without image data");
        std::size_t length = static_cast<std::size_t>(data[at + 2] << 8 | data[at + 3]);
        if (length < 2)
            return status.Fail(RasterLoadError::kDecodeFailed, "a segment of no length");
        if (size - at - 2 < length)
            return status.Fail(RasterLoadError::kTruncated, "the file ends inside a header segment");
        if (marker == kJpegStartOfScan)
            break;
        if (IsJpegFrame(marker, &arithmetic)) {
            if (length < 8)
                return status.Fail(RasterLoadError::kDecodeFailed, "a frame header too short");
            height = data[at + 5] << 8 | data[at + 6];
            width = data[at + 7] << 8 | data[at + 8];
            components = data[at + 9];
            frame = true;
        }
        at += 2 + length;
    }
    if (!frame)
        return status.Fail(RasterLoadError::kDecodeFailed, "no frame header");
    if (components != 1 && components != 3 && components != 4)
        return status.Fail(RasterLoadError::kUnsupportedLayout, FormatC("%u colour components", components));
    if (height == 0)
        return status.Fail(RasterLoadError::kUnsupportedLayout, "the height is given after the image data");
    std::string why;
    RasterLoadError declared = CheckRasterSize(width, height, components * 8, &why);
    if (declared != RasterLoadError::kNone)
        return status.Fail(declared, why);
    if (!IsPlausibleSize(width, height, size - at, arithmetic ? kArithmeticJpegPixelsPerByte : kJpegPixelsPerByte))
        return status.Fail(RasterLoadError::kTruncated,
                           FormatC("%zu bytes of image data cannot hold %lld x %lld pixels", size - at,
                                   static_cast<long long>(width), static_cast<long long>(height)));
    if (!HasEndMarker(data + at, size - at))
        return status.Fail(RasterLoadError::kTruncated, "the file ends before its end-of-image marker");
    // The library reads memory of up to 4 GiB.
    if (size > UINT32_MAX)
        return status.Fail(RasterLoadError::kTooLarge, "the file is larger than 4 GiB");
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    if (!memory)
        return status.Fail(RasterLoadError::kTooLarge, "no memory to read the file");
    SetLastRasterLibraryMessage("");
    FIBITMAP* bitmap = FreeImage_LoadFromMemory(FIF_JPEG, memory, 0);
    FreeImage_CloseMemory(memory);
    if (GetLastRasterLibraryMessage().find(kJpegEndedEarly) != std::string::npos) {
        if (bitmap)
            FreeImage_Unload(bitmap);
        return status.Fail(RasterLoadError::kTruncated, GetLastRasterLibraryMessage());
    }
    if (!bitmap)
        return status.Fail(RasterLoadError::kDecodeFailed, GetLastRasterLibraryMessage());
    return bitmap;
}
