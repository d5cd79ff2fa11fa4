#pragma once
// The image library is initialised once at start-up and released at exit.
// Both calls may be repeated; only the first Init and the last Release count.

void InitRasterLibrary();
void ReleaseRasterLibrary();

// How many reports the TIFF decoder has made on this thread other than those
// of reading a directory (unknown tags and the like), since the library was
// first initialised: a decode during which it grew met trouble in the pixels.
unsigned long CountTiffPixelReports();

// Initialises the library for the lifetime of a scope (the programs' mains).
class CRasterLibraryGuard {
public:
    CRasterLibraryGuard() { InitRasterLibrary(); }
    ~CRasterLibraryGuard() { ReleaseRasterLibrary(); }
    CRasterLibraryGuard(const CRasterLibraryGuard&) = delete;
    CRasterLibraryGuard& operator=(const CRasterLibraryGuard&) = delete;
};
