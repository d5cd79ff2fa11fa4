#pragma once
#include "platform/stop_cleanup.h"

#include <sys/types.h>

#include <cstdio>
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
// system's reason in it; the temporary file is gone. A stop by a signal that
// InstallStopCleanup handles removes a named temporary too.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* why = nullptr);

// True for "-" and for a path that exists and is not a regular file (or a
// folder): a save there is written straight through, whatever the name says
// about the format.
[[nodiscard]] bool IsStreamTarget(const std::string& path);

// A replacing save written through a stream, for content too large to hold
// twice: the bytes go straight into the temporary beside the target, and
// Commit puts it in place as WriteFileAtomically does. Destroyed without a
// successful Commit, it leaves the old file and no temporary. Only for
// regular files and new names, not for stream targets.
class CAtomicFile {
public:
    CAtomicFile() = default;
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;
    ~CAtomicFile();

    [[nodiscard]] bool Open(const std::string& path, std::string* why = nullptr);
    // Null before a successful Open.
    [[nodiscard]] std::FILE* File() const { return m_File; }
    // False, the old file kept, when a write failed or the file could not be
    // put in place.
    [[nodiscard]] bool Commit(std::string* why = nullptr);
    // The system's error code of the first write that failed, 0 while none
    // has: a writer that stops at a failed write can give the reason.
    [[nodiscard]] int WriteError() const { return m_WriteError; }

private:
    static ssize_t WriteToTemporary(void* self, const char* data, std::size_t size);

    std::string m_Target;
    std::string m_Named;  // the temporary's name, where it has one
    CStopEntry m_SavingEntry;
    CStopEntry m_TemporaryEntry;
    int m_Fd = -1;
    mode_t m_Mode = 0;
    std::FILE* m_File = nullptr;
    off_t m_Written = 0;      // bytes in the temporary
    off_t m_WrittenBack = 0;  // of which the system was asked to write out
    int m_WriteError = 0;
};
