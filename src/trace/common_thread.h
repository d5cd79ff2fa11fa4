#pragma once
// The base of the workers that run one long operation (a trace with its
// post-processing, a save) on a thread of their own while the user interface
// shows progress. A worker knows the receiver of its progress messages and
// carries the stop flag that the interface sets and every step polls.
//
// The protocol: each step sends its text, its positions and its end with
// SendMessage, so the worker waits until the receiver has shown them; once
// the stop flag is set nothing more is sent, so a stopping worker never
// waits on a display that is going away. A run ends with exactly one posted
// run-end message carrying the result code: from the step that stopped or
// failed, from the run at its end, or from the thread body when the run
// threw or returned without reporting. Posting lets the receiver wait for
// the thread without deadlock.
//
// Lifecycle: construct, SetNotifyWindow, Start; the receiver pumps until the
// run end arrives, then the owner calls Wait and deletes the worker. One run
// per object.
#include <atomic>
#include <thread>

#include "platform/win_types.h"
#include "platform/window_messages.h"

// The progress messages, in the application's private range.
enum : UINT {
    WM_RUN_END = WM_APP + 0x64,       // posted; wParam: result code
    WM_START_THREAD = WM_APP + 0xA0,  // a progress dialog to itself once shown
    WM_STEP_TEXT = WM_APP + 0xAA,     // lParam: const char* text, valid during the call only
    WM_STEP_POS = WM_APP + 0xAF,      // wParam: position (a percentage, or work left while thinning)
    WM_STEP_END = WM_APP + 0xB4,
};

// Result codes of a run, carried by WM_RUN_END.
enum : DWORD {
    RUN_FINISHED = 0,      // also when nothing was traced
    RUN_NO_MEMORY = 2,     // out of memory (also any std::bad_alloc out of Run)
    RUN_FILL_FAILED = 3,   // the outline method's hatch fill failed
    RUN_NOT_REPORTED = 4,  // the receiver's default: no run end was reported
    RUN_STOPPED = 10,      // stopped by the user
    RUN_FAILED = 20,       // a kernel failed (also any other exception out of Run)
};

class CCommonThread {
public:
    CCommonThread();
    // Owners wait for the thread before deleting a worker. One still running
    // here is asked to stop and waited for, but by now the derived part is
    // gone: a derived worker whose Run uses its own members calls
    // StopAndWait() first in its own destructor.
    virtual ~CCommonThread();
    CCommonThread(const CCommonThread&) = delete;
    CCommonThread& operator=(const CCommonThread&) = delete;

    // The receiver of the progress messages; none (null) runs silently.
    void SetNotifyWindow(HWND hwnd) { m_notify.store(hwnd); }
    [[nodiscard]] HWND GetNotifyWindow() const { return m_notify.load(); }

    // Starts the thread that calls Run. False when the thread could not be
    // made or this worker was started before; no run end is posted then.
    [[nodiscard]] bool Start();
    // Waits without time-out until the thread has ended; returns at once
    // when it never started or was already waited for.
    void Wait();
    // Sets the stop flag, then waits.
    void StopAndWait()
    {
        RequestStop();
        Wait();
    }
    // True from construction until the thread body begins.
    [[nodiscard]] bool IsPending() const { return m_pending.load(); }
    // True once the thread body is done, run end posted.
    [[nodiscard]] bool IsFinished() const { return m_finished.load(); }

    // The stop flag: set by the interface from any thread, polled by the
    // steps at their loop boundaries.
    void RequestStop() { m_stop.store(true); }
    [[nodiscard]] bool IsStopRequested() const { return m_stop.load(); }

    // Step progress, sent to the receiver unless the stop flag is set.
    void SendProgressText(const char* text);
    void SendProgressPos(DWORD position);
    // The text is the one that opened the step; the receiver ignores it.
    void SendProgressEnd(const char* text);

    // Posts the run end with this code unless this run has posted one
    // already. True when this call was the run's first (even when the
    // receiver is null or gone and nothing could be delivered).
    bool PostRunEnd(DWORD code) noexcept;
    // The code of the run end, RUN_NOT_REPORTED until one was posted.
    [[nodiscard]] DWORD GetRunResult() const { return m_runResult.load(); }

protected:
    // The work, on the worker thread. The value is the thread's exit code,
    // which nobody reads; bodies return 0.
    virtual DWORD Run() = 0;

private:
    void ThreadProc() noexcept;

    std::thread m_thread;
    std::atomic<HWND> m_notify{nullptr};
    std::atomic<bool> m_pending{true};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_runEnded{false};
    std::atomic<DWORD> m_runResult{RUN_NOT_REPORTED};
};
