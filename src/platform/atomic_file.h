#pragma once
#include <string>
#include <string_view>

// Writes the whole file through a temporary file beside it (fsync, rename), so
// a failed save never destroys the previous file. False on any failure, with
// the temporary file removed.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, std::string_view content);
