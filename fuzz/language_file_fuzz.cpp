// Language files are user-editable: any bytes must load without a crash, and
// the table must stay consistent and hold only UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/command_hints.h"
#include "model/text_table.h"
#include "platform/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CLangTable& table = GetLangTable();
    table.LoadFromMemory(bytes);

    for (std::size_t i = 0; i < table.GetCount(); ++i) {
        const std::string& key = table.GetKeyAt(i);
        const std::string& value = table.GetValueAt(i);
        // Every stored key is found again at its own position.
        if (key.empty() || value.empty() || &table.Lookup(key) != &value)
            std::abort();
        if (!IsValidUtf8(key) || !IsValidUtf8(value))
            std::abort();
        if (value.find('%') != std::string::npos)
            std::abort();
    }

    for (const char* key : {"MainActZoomInHint", "EditMenuRedoHint", "HourName", "", "SetDlgFillPatternCap"})
        (void)GetLanString(key, "default");
    for (const unsigned id : {0u, 115u, 1011u, 32786u, 57644u, 65535u})
        (void)GetCommandHint(id);
    return 0;
}
