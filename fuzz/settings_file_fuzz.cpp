// Feeds bytes to the settings parser; whatever it accepts must write out and
// parse back to the same tree, and write out the same text again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    SettingsNode first;
    if (!CSettingsStore::ParseText(text, first))
        return 0;
    const std::string written = CSettingsStore::WriteText(first);
    // Escaping can grow a file past the loader's limit; Save refuses those.
    if (written.size() > SETTINGS_MAX_FILE_SIZE)
        return 0;
    SettingsNode second;
    if (!CSettingsStore::ParseText(written, second) || !(first == second))
        std::abort();
    if (CSettingsStore::WriteText(second) != written)
        std::abort();
    return 0;
}
