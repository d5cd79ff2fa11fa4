#pragma once
// Window messages between threads. A receiver stands where a window handle
// would: it belongs to one thread (the one that made it), and that thread
// handles its messages by pumping it, one message at a time, in the order
// they arrived. Any event loop can drive the pump: the terminal pumps it in
// a loop, a desktop dialog from its own loop through the wake callback.
//
// SendMessage from another thread queues the message and waits until the
// owner has handled it, so pointers passed with it may point into the
// sender's own temporaries; on the owner's thread it calls the handler
// directly. PostMessage queues and returns.
//
// No sender waits forever on a receiver that is going away: closing a
// receiver (its destructor does) answers every waiting and later
// SendMessage with 0 and drops the posted messages. An owner that stops
// pumping for good must close its receiver. A thread blocked in SendMessage
// does not handle its own receivers' messages meanwhile, so two threads must
// not send to each other synchronously.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/win_types.h"

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// The first message id of the application's private range.
inline constexpr UINT WM_APP = 0x8000;

class CMessageQueue;

class CMessageReceiver {
public:
    // Waits without end.
    static constexpr std::chrono::milliseconds kInfinite = std::chrono::milliseconds::max();

    // The receiver belongs to the constructing thread.
    CMessageReceiver();
    // Closes the receiver. Derived classes whose handler uses their own
    // members should call Close() first in their destructor, so that no
    // sender is answered by a half-destroyed object.
    virtual ~CMessageReceiver();
    CMessageReceiver(const CMessageReceiver&) = delete;
    CMessageReceiver& operator=(const CMessageReceiver&) = delete;

    // Hands the receiver to the calling thread, for one made on one thread
    // and pumped on another. Only while no pump runs.
    void AttachToCurrentThread();
    [[nodiscard]] bool IsOwnerThread() const;

    // The pumps run on the owner's thread only; elsewhere they handle
    // nothing. A handler may pump again (a nested modal loop).
    //
    // Handles what is queued now without waiting; returns how many.
    std::size_t Pump();
    // Waits up to the time-out for a message, then handles what is queued.
    // True when any message was handled.
    bool PumpFor(std::chrono::milliseconds timeout);
    // Handles messages until done() holds (tested before each wait and after
    // each message) or the time-out passes; answers done().
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kInfinite);

    // Stops receiving: waiting senders get 0, queued posts are dropped, later
    // messages are refused. A message being handled right now completes.
    void Close();
    [[nodiscard]] bool IsClosed() const;

    // Called on the queuing thread each time a message is queued, so that an
    // event loop can schedule a Pump(). Must neither throw nor call
    // SendMessage itself.
    void SetWakeCallback(std::function<void()> wake);

protected:
    // Handles one message on the owner's thread; the answer goes back to the
    // sender of a SendMessage. Handlers do not throw.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    friend LRESULT SendMessage(CMessageReceiver* hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

    // Takes the oldest message, waiting for one until the deadline when
    // asked to, and handles it. False when nothing was handled.
    bool HandleNext(bool wait, std::chrono::steady_clock::time_point deadline);

    // Shared with the senders, so that a sender still waiting when the
    // receiver is destroyed never touches freed memory.
    std::shared_ptr<CMessageQueue> m_queue;
};

using HWND = CMessageReceiver*;

// Handles the message on the receiver's thread and answers its result. 0 for
// a null, closed or destroyed receiver, and when the receiver closes before
// handling the message (also when memory runs out).
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// Queues the message. False for a null, closed or destroyed receiver, or
// when the message could not be queued for want of memory.
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// True while the receiver exists and is not closed.
[[nodiscard]] bool IsWindow(HWND hwnd) noexcept;
