#include "model/registry_values.h"

#include <bit>
#include <cstdint>

// The bytes are little-endian whatever the host, so a settings file moves
// between machines unchanged.

bool RegSetDouble(CSettingsKey& key, const std::string& name, double value)
{
    std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    BYTE bytes[8];
    for (BYTE& b : bytes) {
        b = static_cast<BYTE>(bits & 0xFF);
        bits >>= 8;
    }
    return key.SetBinary(name, bytes, sizeof bytes);
}

bool RegQueryDouble(const CSettingsKey& key, const std::string& name, double& out)
{
    std::vector<BYTE> bytes;
    if (!key.QueryBinary(name, bytes) || bytes.size() != 8)
        return false;
    std::uint64_t bits = 0;
    for (size_t i = 8; i-- > 0;)
        bits = (bits << 8) | bytes[i];
    out = std::bit_cast<double>(bits);
    return true;
}
