#pragma once
// What a process stopped by a signal (Ctrl-C, a hang-up, kill) must not leave
// behind, kept where a signal handler can reach it: temporary files and
// folders to remove, and the file being saved, to name in the notice.
//
// Entries sit in a small fixed table of plain buffers, so the handler needs
// no allocation and no lock: it removes the files, then the folders, writes
// one line on stderr saying what was not written, and ends the process as
// the signal would have.
#include <string>

enum class StopEntryKind {
    kFile,       // removed on a stop
    kFolder,     // removed on a stop once empty (its files registered first)
    kSaving,     // a file being replaced: left as it was, named in the notice
    kStdinCopy,  // the copy of standard input: removed, and said so
};

// One entry, registered for as long as the object lives. A path too long for
// the table's buffers, or a full table, is not registered (the stop then
// leaves it as before).
class CStopEntry {
public:
    CStopEntry() = default;
    CStopEntry(StopEntryKind kind, const std::string& path) { Set(kind, path); }
    ~CStopEntry() { Clear(); }
    CStopEntry(const CStopEntry&) = delete;
    CStopEntry& operator=(const CStopEntry&) = delete;

    void Set(StopEntryKind kind, const std::string& path);
    void Clear();

private:
    int m_Slot = -1;
};

// Installs the handler for SIGINT, SIGTERM and SIGHUP (a signal the shell
// made us ignore stays ignored). Handlers installed later for a while (the
// trace's Ctrl-C watch) put this one back when they are done.
void InstallStopCleanup();

// What the handler does before ending the process: removes the entries and
// writes the notice to fd. Async-signal-safe.
void CleanUpForStop(int fd) noexcept;
