#pragma once
// The image library is initialised once at start-up and released at exit.
// Both calls may be repeated; only the first Init and the last Release count.

void InitRasterLibrary();
void ReleaseRasterLibrary();

// Initialises the library for the lifetime of a scope (the programs' mains).
class CRasterLibraryGuard {
public:
    CRasterLibraryGuard() { InitRasterLibrary(); }
    ~CRasterLibraryGuard() { ReleaseRasterLibrary(); }
    CRasterLibraryGuard(const CRasterLibraryGuard&) = delete;
    CRasterLibraryGuard& operator=(const CRasterLibraryGuard&) = delete;
};
