#pragma once
// Workers that run a script of progress messages, and gates where the script
// waits until the test lets it on, for the progress dialog's tests.
#include <condition_variable>
#include <functional>
#include <mutex>

#include "trace/common_thread.h"

// A point of the script where the worker waits until the test lets it on.
// Every message sent before it has been handled by then: sends wait.
class CGate {
public:
    void Arrive()
    {
        std::unique_lock lock(m_mutex);
        m_reached = true;
        m_changed.wait(lock, [this] { return m_open; });
    }
    void Open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool Reached()
    {
        std::lock_guard lock(m_mutex);
        return m_reached;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_reached = false;
    bool m_open = false;
};

class CScriptedWorker : public CCommonThread {
public:
    explicit CScriptedWorker(std::function<void(CScriptedWorker&)> script) : m_script(std::move(script)) {}
    ~CScriptedWorker() override { StopAndWait(); }

protected:
    DWORD Run() override
    {
        m_script(*this);
        return 0;
    }

private:
    std::function<void(CScriptedWorker&)> m_script;
};
