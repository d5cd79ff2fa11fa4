// The source manager the scanner client loads in its fuzz target: it hands
// every call to the entry point the target registered.
#include "raster/twain_types.h"

namespace {

DSMENTRYPROC g_target = nullptr;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void SetRelayTarget(DSMENTRYPROC target) { g_target = target; }

__attribute__((visibility("default"))) TW_UINT16
DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    return g_target ? g_target(origin, destination, group, dat, msg, data) : TWRC_FAILURE;
}

}  // extern "C"
