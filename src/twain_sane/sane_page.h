#pragma once
// One page scanned from an open SANE device, turned into the packed DIB that
// a native transfer hands over (raster/twain_types.h): 1-bit lineart (palette
// white, black, so SANE's set bit stays black), 8-bit grey or 24-bit colour.
// Sixteen-bit samples keep their top 8 bits.
#include <sane/sane.h>

#include <cstddef>

struct ScannedPage {
    void* dib = nullptr;  // malloc block, owned until handed over
    std::size_t size = 0;
    int width = 0;
    int height = 0;
    int bitCount = 0;
    int dotsPerInch = 0;  // 0 when the device does not say
};

enum class ScanOutcome { Page, NoDocuments, Cancelled, Failed };

// Starts a scan and reads every frame of one page. The device's sizes are
// checked before anything is allocated; nothing is kept on failure. When
// given, why gets the device's status that ended a failed scan.
ScanOutcome ScanPage(SANE_Handle device, ScannedPage& page, SANE_Status* why = nullptr);
void FreePage(ScannedPage& page);

// Whether the device's scan source is a document feeder, which may hold
// more pages than one.
bool IsFeederSource(SANE_Handle device);
