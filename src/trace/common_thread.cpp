// The worker-thread base: the thread, the stop flag and the progress calls.
#include "trace/common_thread.h"

#include <new>

CCommonThread::CCommonThread() = default;

CCommonThread::~CCommonThread()
{
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id()) {
        // Joining itself would throw; deleting a worker from its own Run is
        // a caller's error in any case, as the body still uses the object.
        m_thread.detach();
        return;
    }
    StopAndWait();
}

bool CCommonThread::Start()
{
    if (m_started.exchange(true))
        return false;
    try {
        m_thread = std::thread([this] { ThreadProc(); });
    } catch (...) {
        // std::system_error when no thread can be made, std::bad_alloc.
        return false;
    }
    return true;
}

void CCommonThread::Wait()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void CCommonThread::ThreadProc() noexcept
{
    m_pending.store(false);
    // An exception must not end the process: the run ends with a code the
    // receiver knows, and the receiver is never left waiting.
    try {
        (void)Run();
    } catch (const std::bad_alloc&) {
        PostRunEnd(RUN_NO_MEMORY);
    } catch (...) {
        PostRunEnd(RUN_FAILED);
    }
    PostRunEnd(RUN_NOT_REPORTED);
    m_finished.store(true);
}

void CCommonThread::SendProgressText(const char* text)
{
    if (!m_stop.load())
        SendMessage(m_notify.load(), WM_STEP_TEXT, 0, reinterpret_cast<LPARAM>(text));
}

void CCommonThread::SendProgressPos(DWORD position)
{
    if (!m_stop.load())
        SendMessage(m_notify.load(), WM_STEP_POS, position, 0);
}

void CCommonThread::SendProgressEnd(const char* /*text*/)
{
    if (!m_stop.load())
        SendMessage(m_notify.load(), WM_STEP_END, 0, 0);
}

bool CCommonThread::PostRunEnd(DWORD code) noexcept
{
    if (m_runEnded.exchange(true))
        return false;
    m_runResult.store(code);
    PostMessage(m_notify.load(), WM_RUN_END, code, 0);
    return true;
}
