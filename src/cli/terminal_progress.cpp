// The terminal as a progress receiver, and Ctrl-C as the Stop button.
//
// The SIGINT handler only writes a byte into a pipe; a watcher thread reads
// it and does the rest outside signal context: the first asks the worker to
// stop, the second ends the process.
#include "cli/terminal_progress.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

#include "model/text_table.h"
#include "trace/common_thread.h"
#include "trace/progress_receiver.h"

namespace {

// The watcher tells the receiver's thread to print the stop notice.
enum : UINT { WM_INTERRUPT_NOTE = WM_APP + 0xC0 };

constexpr char kInterruptByte = 1;
constexpr char kShutdownByte = 0;
constexpr int kDefaultColumns = 80;

// The thread body posts a run end in every case; polling for the thread's end
// only guards against a run end lost for want of memory.
constexpr std::chrono::milliseconds kFinishPoll(200);

// The pipe's write end while a handler is installed, else -1.
std::atomic<int> g_interruptFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

void OnInterruptSignal(int)
{
    const int savedErrno = errno;
    const int fd = g_interruptFd.load();
    if (fd >= 0)
        (void)!write(fd, &kInterruptByte, 1);
    errno = savedErrno;
}

// Made once and never closed, so that a handler still running on another
// thread while the watch ends never writes into a closed or reused file.
bool GetInterruptPipe(int (&fds)[2])
{
    static int pipeFds[2] = {-1, -1};
    static const bool made = [] {
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return false;
        // The handler must never block on a full pipe.
        fcntl(pipeFds[1], F_SETFL, fcntl(pipeFds[1], F_GETFL) | O_NONBLOCK);
        return true;
    }();
    fds[0] = pipeFds[0];
    fds[1] = pipeFds[1];
    return made;
}

// Calls onInterrupt(count) on a thread of its own for each Ctrl-C while it
// lives. Does nothing where SIGINT is ignored.
class CInterruptWatch {
public:
    explicit CInterruptWatch(std::function<void(int count)> onInterrupt) : m_onInterrupt(std::move(onInterrupt))
    {
        struct sigaction current {};
        if (sigaction(SIGINT, nullptr, &current) != 0)
            return;
        if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN)
            return;
        if (!GetInterruptPipe(m_pipe))
            return;
        try {
            m_watcher = std::thread([this] { Watch(); });
        } catch (...) {
            return;  // Ctrl-C keeps its default: end the process
        }
        g_interruptFd.store(m_pipe[1]);
        struct sigaction action {};
        action.sa_handler = OnInterruptSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        m_installed = sigaction(SIGINT, &action, &m_previous) == 0;
    }

    ~CInterruptWatch()
    {
        if (m_installed)
            sigaction(SIGINT, &m_previous, nullptr);
        g_interruptFd.store(-1);
        if (m_watcher.joinable()) {
            while (write(m_pipe[1], &kShutdownByte, 1) < 0 && errno == EINTR) {
            }
            m_watcher.join();
        }
    }

    CInterruptWatch(const CInterruptWatch&) = delete;
    CInterruptWatch& operator=(const CInterruptWatch&) = delete;

private:
    void Watch()
    {
        int count = 0;
        for (;;) {
            char byte = kShutdownByte;
            const ssize_t got = read(m_pipe[0], &byte, 1);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0 || byte == kShutdownByte)
                return;
            m_onInterrupt(++count);
        }
    }

    std::function<void(int)> m_onInterrupt;
    int m_pipe[2] = {-1, -1};
    std::thread m_watcher;
    struct sigaction m_previous {};
    bool m_installed = false;
};

// Ends the process as SIGINT would have without our handler, so that the
// shell sees an interrupted program.
[[noreturn]] void EndByInterrupt()
{
    std::fputs("\n", stderr);
    std::fflush(stderr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    raise(SIGINT);
    std::_Exit(128 + SIGINT);
}

class CTerminalProgress : public CTextProgressReceiver {
public:
    using CTextProgressReceiver::CTextProgressReceiver;
    ~CTerminalProgress() override { Close(); }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_INTERRUPT_NOTE) {
            PrintNote(GetLanString("CliStopRequested", "Stopping... press Ctrl-C again to quit at once."));
            return 0;
        }
        return CTextProgressReceiver::WindowProc(message, wParam, lParam);
    }
};

bool ShouldRedraw()
{
    if (!isatty(STDERR_FILENO))
        return false;
    const char* term = std::getenv("TERM");
    return !(term && std::strcmp(term, "dumb") == 0);
}

int TerminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return kDefaultColumns;
}

}  // namespace

DWORD RunWithTerminalProgress(CCommonThread& worker, int totalSteps)
{
    const bool redraw = ShouldRedraw();
    CTerminalProgress receiver(stderr, redraw, redraw ? TerminalColumns() : kDefaultColumns);
    receiver.Steps().SetTotalSteps(totalSteps);
    worker.SetNotifyWindow(&receiver);

    CInterruptWatch watch([&worker, &receiver](int count) {
        if (count > 1)
            EndByInterrupt();
        worker.RequestStop();
        PostMessage(&receiver, WM_INTERRUPT_NOTE, 0, 0);
    });

    if (!worker.Start()) {
        worker.SetNotifyWindow(nullptr);
        return RUN_NOT_REPORTED;
    }
    auto ended = [&receiver] { return receiver.HasRunEnded(); };
    while (!ended() && !worker.IsFinished())
        receiver.PumpUntil(ended, kFinishPoll);
    receiver.Pump();
    worker.Wait();
    worker.SetNotifyWindow(nullptr);
    return receiver.HasRunEnded() ? receiver.GetResultCode() : worker.GetRunResult();
}
