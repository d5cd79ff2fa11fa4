// The stop table and its handler. Slots are claimed with an atomic flag; the
// path is written before the slot is published, so the handler reads only
// whole paths.
#include "platform/stop_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

// A save, its temporary, the stdin copy and its folder, with room to spare.
constexpr int kSlots = 16;
constexpr std::size_t kPathBytes = 4096;

struct Slot {
    std::atomic<int> state{0};  // 0 free, 1 being written, 2 published
    StopEntryKind kind = StopEntryKind::kFile;
    char path[kPathBytes] = {};
};

Slot g_slots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

constexpr int kFree = 0, kWriting = 1, kPublished = 2;
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void Say(int fd, const char* text) { (void)!write(fd, text, std::strlen(text)); }

void OnStopSignal(int signal)
{
    CleanUpForStop(STDERR_FILENO);
    // End as the signal would have, so the shell sees a stopped program.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // The signal is blocked while its handler runs: let it through now.
    sigset_t own;
    sigemptyset(&own);
    sigaddset(&own, signal);
    sigprocmask(SIG_UNBLOCK, &own, nullptr);
    raise(signal);
    _exit(128 + signal);
}

}  // namespace

void CStopEntry::Set(StopEntryKind kind, const std::string& path)
{
    Clear();
    if (path.size() >= kPathBytes)
        return;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kWriting))
            continue;
        g_slots[i].kind = kind;
        std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
        g_slots[i].state.store(kPublished);
        m_Slot = i;
        return;
    }
}

void CStopEntry::Clear()
{
    if (m_Slot >= 0)
        g_slots[m_Slot].state.store(kFree);
    m_Slot = -1;
}

void InstallStopCleanup()
{
    for (int signal : kStopSignals) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        for (int other : kStopSignals)
            sigaddset(&action.sa_mask, other);
        sigaction(signal, &action, nullptr);
    }
}

void CleanUpForStop(int fd) noexcept
{
    const char* saving = nullptr;
    bool stdinCopy = false;
    for (const StopEntryKind pass :
         {StopEntryKind::kFile, StopEntryKind::kStdinCopy, StopEntryKind::kFolder, StopEntryKind::kSaving}) {
        for (Slot& slot : g_slots) {
            if (slot.state.load() != kPublished || slot.kind != pass)
                continue;
            switch (pass) {
            case StopEntryKind::kFile: (void)unlink(slot.path); break;
            case StopEntryKind::kStdinCopy:
                (void)unlink(slot.path);
                stdinCopy = true;
                break;
            case StopEntryKind::kFolder: (void)rmdir(slot.path); break;
            case StopEntryKind::kSaving: saving = slot.path; break;
            }
        }
    }
    Say(fd, "\nlineweft: stopped: ");
    if (stdinCopy)
        Say(fd, "the copy of standard input was removed; ");
    if (saving) {
        Say(fd, "'");
        Say(fd, saving);
        Say(fd, "' was not written and is as it was\n");
    } else {
        Say(fd, "nothing was written\n");
    }
}
