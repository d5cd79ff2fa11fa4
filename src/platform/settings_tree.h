#pragma once
// Tree helpers the settings store and its text format share. Internal to
// src/platform/settings_*.cpp; callers elsewhere go through CSettingsKey.
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"

// Bytes kept out of key names and escaped in quoted text.
inline bool IsSettingsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

bool IsValidSettingsKeyName(std::string_view name);

// Splits a backslash path into key names; one trailing backslash is allowed
// because callers build paths as base + "\" + name. False on a bad name or a
// path deeper than SETTINGS_MAX_DEPTH.
bool SplitSettingsPath(std::string_view path, std::vector<std::string>& parts);

// Walks parts from root, creating missing keys; created is set when any was.
SettingsNode* CreateSettingsNode(SettingsNode& root, const std::vector<std::string>& parts, bool& created);

// Replaces the value, keeping the name's first spelling.
void SetNamedSetting(SettingsNode& node, const std::string& name, SettingValue value);
