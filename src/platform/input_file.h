#pragma once
// Opening files that the user or the settings name, for reading.
//
// Only a regular file is opened. A FIFO or a device named where a file is
// expected would block the open, or the first read, for good; the open here
// never waits, and anything but a regular file is refused with a reason.
#include <cstdio>
#include <string>

// A descriptor for reading (close-on-exec, blocking reads); -1 with errno
// set and, when `why` is given, the reason in it.
[[nodiscard]] int OpenInputFile(const std::string& path, std::string* why = nullptr);

// The same as a stdio stream ("rb"); null with errno and `why` set.
[[nodiscard]] std::FILE* OpenInputStream(const std::string& path, std::string* why = nullptr);
