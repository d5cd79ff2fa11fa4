// Feeds settings-file text to the store and loads the convolution templates
// from it, as the raster page does. Whatever loads must be a valid template
// and must convolve small images of every depth without reading outside
// them (the sanitizers watch).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/message_box.h"
#include "platform/settings_store.h"
#include "raster/pixel_ops.h"
#include "raster/raster_library.h"
#include "raster/raster_template.h"

namespace {

std::string SettingsPath()
{
    static const std::string path = "/tmp/lw-raster-template-fuzz-" + std::to_string(getpid()) + ".conf";
    return path;
}

void Convolve(const CRasterTemplate& kernel)
{
    for (int bitCount : {8, 24}) {
        CRasterSrc image;
        if (!image.Create(kernel.GetWidth() + 2, kernel.GetHeight() + 1, bitCount))
            std::abort();
        for (int y = 0; y < image.GetHeight(); ++y)
            for (size_t i = 0; i < image.GetRowBytes(); ++i)
                image.GetRow(y)[i] = static_cast<BYTE>(i * 37 + static_cast<size_t>(y) * 11);
        if (!CRasterProcess(image, nullptr).ApplyTemplate(kernel))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitRasterLibrary();
    SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return IDOK; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    // Only text the store accepts reaches the loader; the store's own parser
    // has a target of its own.
    std::string_view text(reinterpret_cast<const char*>(data), size);
    SettingsNode root;
    if (!CSettingsStore::ParseText(text, root))
        return 0;
    FILE* file = std::fopen(SettingsPath().c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    CSettingsStore store(SettingsPath());
    CRasterTemplateList list;
    (void)list.Load(store);
    for (auto* node = list.Items().GetHead(); node; node = node->next) {
        if (!node->value.IsValid())
            std::abort();
        Convolve(node->value);
    }
    return 0;
}
