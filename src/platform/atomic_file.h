#pragma once
#include <string>
#include <string_view>

// The one way every writer puts a finished file on disk.
//
// A regular file (or a new one) is replaced in one step: the content goes to
// an unnamed file in the target's folder (a named "NAME.tmp-XXXXXX" where the
// file system has no unnamed files), is synced, and is renamed over the
// target, so a failed or killed save never destroys the previous file. A
// symbolic link is followed and its target replaced in the target's own
// folder; the link stays. A replaced file keeps its permission bits; a new
// one gets 0644. A path that exists and is not a regular file (a FIFO, a
// device, a socket) is written straight through, and "-" writes to standard
// output. The folder must exist.
//
// False on any failure, with errno set and, when `why` is given, the
// system's reason in it; the temporary file is gone.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, std::string_view content,
                                       std::string* why = nullptr);

// True for "-" and for a path that exists and is not a regular file (or a
// folder): a save there is written straight through, whatever the name says
// about the format.
[[nodiscard]] bool IsStreamTarget(const std::string& path);
