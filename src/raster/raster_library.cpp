#include "raster/freeimage_api.h"

#include "raster/raster_library.h"

#include "raster/raster_file.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_libraryMutex;
int g_libraryUsers = 0;

// What the TIFF decoder reported on this thread other than while reading a
// directory: a page decoded with any such report may hold damaged pixels.
thread_local unsigned long t_tiffPixelReports = 0;

// The library reports decoder problems here; the last one explains a failed load.
void KeepLibraryMessage(FREE_IMAGE_FORMAT, const char* message) { SetLastRasterLibraryMessage(message ? message : ""); }

// The TIFF decoder under the image library prints its messages to stderr
// unless given a handler, and the library gives none: every TIFF read would
// print a screen of harmless lookups of tags it does not know. Its messages
// are kept like the library's own instead. The decoder is found at run time
// because it is the library's dependency, not ours.
using TiffHandler = void (*)(const char* module, const char* format, va_list arguments);
using SetTiffHandler = TiffHandler (*)(TiffHandler handler);

// Tags a directory holds that the decoder does not know are no damage.
bool IsDirectoryModule(const char* module)
{
    for (const char* prefix : {"TIFFReadDirectory", "TIFFReadCustomDirectory", "TIFFFetch"})
        if (std::strncmp(module, prefix, std::strlen(prefix)) == 0)
            return true;
    return false;
}

void KeepTiffMessage(const char* module, const char* format, va_list arguments)
{
    // Lookups of unknown tags are the decoder talking to itself.
    if (module && std::strcmp(module, "TIFFFieldWithTag") == 0)
        return;
    if (!module || !IsDirectoryModule(module))
        ++t_tiffPixelReports;
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    SetLastRasterLibraryMessage(text);
}

void QuietenTiffDecoder()
{
    for (const char* name : {"TIFFSetErrorHandler", "TIFFSetWarningHandler"}) {
        if (void* symbol = ::dlsym(RTLD_DEFAULT, name))
            reinterpret_cast<SetTiffHandler>(symbol)(KeepTiffMessage);
    }
}

}  // namespace

unsigned long CountTiffPixelReports() { return t_tiffPixelReports; }

void InitRasterLibrary()
{
    std::lock_guard<std::mutex> lock(g_libraryMutex);
    if (g_libraryUsers++ == 0) {
        FreeImage_Initialise(FALSE);
        FreeImage_SetOutputMessage(KeepLibraryMessage);
        QuietenTiffDecoder();
    }
}

void ReleaseRasterLibrary()
{
    std::lock_guard<std::mutex> lock(g_libraryMutex);
    if (g_libraryUsers > 0 && --g_libraryUsers == 0)
        FreeImage_DeInitialise();
}
