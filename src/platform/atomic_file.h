#pragma once
#include <string>
#include <string_view>

// Writes the whole file through a temporary file beside it (fsync, rename,
// then fsync of the folder), so a failed save never destroys the previous
// file. A replaced file keeps its permission bits; a new one gets 0644. The
// folder must exist. False on any failure, with the temporary file removed.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, std::string_view content);
