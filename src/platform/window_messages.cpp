// Window messages between threads: one queue per receiver, shared with the
// senders, and a process-wide table from receiver to queue so that a message
// to a receiver that is gone finds nothing instead of freed memory.
#include "platform/window_messages.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;

// The answer to one SendMessage; the sender waits until it is done.
struct CSentReply {
    bool done = false;
    LRESULT result = 0;
};

struct CQueuedMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::shared_ptr<CSentReply> reply;  // null for a posted message
};

using WakeCallback = std::shared_ptr<const std::function<void()>>;

}  // namespace

// Everything below is guarded by the mutex.
class CMessageQueue {
public:
    std::mutex mutex;
    std::condition_variable arrived;   // the owner waits for messages
    std::condition_variable answered;  // senders wait for their replies
    std::deque<CQueuedMessage> messages;
    std::thread::id owner;
    bool closed = false;
    WakeCallback wake;

    // Queues a message and answers the wake callback to call once the lock
    // is released; throws std::bad_alloc when the message cannot be queued.
    WakeCallback Push(CQueuedMessage message)
    {
        messages.push_back(std::move(message));
        arrived.notify_all();
        return wake;
    }
};

namespace {

// Never destroyed, so that receivers and threads still around at exit can
// look it up safely.
struct CReceiverTable {
    std::mutex mutex;
    std::unordered_map<const CMessageReceiver*, std::shared_ptr<CMessageQueue>> queues;
};

CReceiverTable& Receivers()
{
    static CReceiverTable* const table = new CReceiverTable;
    return *table;
}

std::shared_ptr<CMessageQueue> FindQueue(HWND hwnd) noexcept
{
    if (!hwnd)
        return nullptr;
    CReceiverTable& table = Receivers();
    std::lock_guard lock(table.mutex);
    auto found = table.queues.find(hwnd);
    return found == table.queues.end() ? nullptr : found->second;
}

void CallWake(const WakeCallback& wake)
{
    if (wake && *wake)
        (*wake)();
}

// The time the pump stops waiting; max() stands for no end.
Clock::time_point DeadlineAfter(std::chrono::milliseconds timeout)
{
    Clock::time_point now = Clock::now();
    if (timeout >= std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now))
        return Clock::time_point::max();
    return now + std::max(timeout, std::chrono::milliseconds(0));
}

}  // namespace

CMessageReceiver::CMessageReceiver() : m_queue(std::make_shared<CMessageQueue>())
{
    m_queue->owner = std::this_thread::get_id();
    CReceiverTable& table = Receivers();
    std::lock_guard lock(table.mutex);
    table.queues[this] = m_queue;
}

CMessageReceiver::~CMessageReceiver() { Close(); }

void CMessageReceiver::AttachToCurrentThread()
{
    std::lock_guard lock(m_queue->mutex);
    m_queue->owner = std::this_thread::get_id();
}

bool CMessageReceiver::IsOwnerThread() const
{
    std::lock_guard lock(m_queue->mutex);
    return m_queue->owner == std::this_thread::get_id();
}

bool CMessageReceiver::HandleNext(bool wait, Clock::time_point deadline)
{
    CQueuedMessage next;
    {
        std::unique_lock lock(m_queue->mutex);
        if (m_queue->owner != std::this_thread::get_id())
            return false;
        auto ready = [this] { return m_queue->closed || !m_queue->messages.empty(); };
        if (wait && deadline == Clock::time_point::max())
            m_queue->arrived.wait(lock, ready);
        else if (wait)
            m_queue->arrived.wait_until(lock, deadline, ready);
        if (m_queue->closed || m_queue->messages.empty())
            return false;
        next = std::move(m_queue->messages.front());
        m_queue->messages.pop_front();
    }

    // The sender is answered even if the handler throws, so it never hangs.
    struct Answer {
        CMessageQueue& queue;
        CSentReply* reply;
        LRESULT result = 0;
        ~Answer()
        {
            if (!reply)
                return;
            std::lock_guard lock(queue.mutex);
            reply->result = result;
            reply->done = true;
            queue.answered.notify_all();
        }
    };
    Answer answer{*m_queue, next.reply.get()};
    answer.result = WindowProc(next.message, next.wParam, next.lParam);
    return true;
}

std::size_t CMessageReceiver::Pump()
{
    std::size_t handled = 0;
    while (HandleNext(false, Clock::time_point::min()))
        ++handled;
    return handled;
}

bool CMessageReceiver::PumpFor(std::chrono::milliseconds timeout)
{
    if (!HandleNext(true, DeadlineAfter(timeout)))
        return false;
    Pump();
    return true;
}

bool CMessageReceiver::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = DeadlineAfter(timeout);
    while (!done()) {
        if (!HandleNext(true, deadline))
            return done();
    }
    return true;
}

void CMessageReceiver::Close()
{
    std::deque<CQueuedMessage> dropped;
    {
        std::lock_guard lock(m_queue->mutex);
        if (m_queue->closed)
            return;
        m_queue->closed = true;
        dropped.swap(m_queue->messages);
        for (CQueuedMessage& message : dropped) {
            if (message.reply)
                message.reply->done = true;  // answered with 0
        }
        m_queue->answered.notify_all();
        m_queue->arrived.notify_all();
    }
    CReceiverTable& table = Receivers();
    std::lock_guard lock(table.mutex);
    auto found = table.queues.find(this);
    if (found != table.queues.end() && found->second == m_queue)
        table.queues.erase(found);
}

bool CMessageReceiver::IsClosed() const
{
    std::lock_guard lock(m_queue->mutex);
    return m_queue->closed;
}

void CMessageReceiver::SetWakeCallback(std::function<void()> wake)
{
    WakeCallback callback = wake ? std::make_shared<const std::function<void()>>(std::move(wake)) : nullptr;
    std::lock_guard lock(m_queue->mutex);
    m_queue->wake = std::move(callback);
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    std::shared_ptr<CMessageQueue> queue = FindQueue(hwnd);
    if (!queue)
        return 0;
    std::unique_lock lock(queue->mutex);
    if (queue->closed)
        return 0;
    if (queue->owner == std::this_thread::get_id()) {
        // The receiver is ours, so it cannot be destroyed during the call.
        lock.unlock();
        return hwnd->WindowProc(message, wParam, lParam);
    }
    std::shared_ptr<CSentReply> reply;
    WakeCallback wake;
    try {
        reply = std::make_shared<CSentReply>();
        wake = queue->Push(CQueuedMessage{message, wParam, lParam, reply});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    lock.unlock();
    CallWake(wake);
    lock.lock();
    queue->answered.wait(lock, [&reply] { return reply->done; });
    return reply->result;
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    std::shared_ptr<CMessageQueue> queue = FindQueue(hwnd);
    if (!queue)
        return false;
    WakeCallback wake;
    {
        std::lock_guard lock(queue->mutex);
        if (queue->closed)
            return false;
        try {
            wake = queue->Push(CQueuedMessage{message, wParam, lParam, nullptr});
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    CallWake(wake);
    return true;
}

bool IsWindow(HWND hwnd) noexcept
{
    std::shared_ptr<CMessageQueue> queue = FindQueue(hwnd);
    if (!queue)
        return false;
    std::lock_guard lock(queue->mutex);
    return !queue->closed;
}
