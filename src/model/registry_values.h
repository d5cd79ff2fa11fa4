#pragma once
// Doubles kept in the settings store as 8-byte binary values, so every bit
// (NaN payloads, the sign of zero, denormals) survives.
#include <string>

#include "platform/settings_store.h"

[[nodiscard]] bool RegSetDouble(CSettingsKey& key, const std::string& name, double value);
// True only for an existing binary value of exactly 8 bytes; out is untouched
// otherwise.
[[nodiscard]] bool RegQueryDouble(const CSettingsKey& key, const std::string& name, double& out);
