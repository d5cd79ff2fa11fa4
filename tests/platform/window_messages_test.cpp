#include "platform/window_messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Generous: only reached when a test is about to fail.
constexpr auto kNoHang = 10s;

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Records what it handles and answers wParam + 1; text messages (id 2) copy
// the string lParam points to while the sender still waits.
class CRecordingReceiver : public CMessageReceiver {
public:
    ~CRecordingReceiver() override { Close(); }

    std::vector<Received> received;
    std::vector<std::string> texts;
    std::function<void()> onMessage;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        received.push_back({message, wParam, lParam});
        if (message == 2)
            texts.emplace_back(reinterpret_cast<const char*>(lParam));
        if (onMessage)
            onMessage();
        return static_cast<LRESULT>(wParam + 1);
    }
};

// Lets a test wait, without sleeping, until a message has been queued.
class CQueuedSignal {
public:
    void Attach(CMessageReceiver& receiver)
    {
        receiver.SetWakeCallback([this] {
            std::lock_guard lock(m_mutex);
            ++m_count;
            m_changed.notify_all();
        });
    }
    bool WaitFor(int count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kNoHang, [&] { return m_count >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};

TEST(WindowMessagesSend, FromAnotherThreadWaitsUntilTheOwnerHasHandledIt)
{
    CRecordingReceiver receiver;
    std::atomic<bool> returned{false};
    std::atomic<LRESULT> answer{0};
    std::thread sender([&] {
        std::string text = "step text on the sender's stack";
        answer = SendMessage(&receiver, 2, 41, reinterpret_cast<LPARAM>(text.c_str()));
        text.assign(text.size(), 'x');  // the receiver must have copied it by now
        returned = true;
    });
    bool returnedDuringHandler = true;
    receiver.onMessage = [&] { returnedDuringHandler = returned.load(); };
    ASSERT_TRUE(receiver.PumpUntil([&] { return !receiver.received.empty(); }, kNoHang));
    sender.join();

    EXPECT_FALSE(returnedDuringHandler);
    EXPECT_TRUE(returned);
    EXPECT_EQ(answer, 42);
    ASSERT_EQ(receiver.texts.size(), 1u);
    EXPECT_EQ(receiver.texts[0], "step text on the sender's stack");
}

TEST(WindowMessagesSend, OnTheOwnersThreadCallsTheHandlerDirectly)
{
    CRecordingReceiver receiver;
    EXPECT_EQ(SendMessage(&receiver, 1, 6, 0), 7);
    ASSERT_EQ(receiver.received.size(), 1u);
    EXPECT_EQ(receiver.Pump(), 0u);
}

TEST(WindowMessagesSend, ManySendersAreAllAnsweredWithTheirOwnResult)
{
    CRecordingReceiver receiver;
    constexpr int kThreads = 4;
    constexpr int kMessages = 200;
    std::atomic<int> wrongAnswers{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kMessages; ++i) {
                const WPARAM value = static_cast<WPARAM>(t * kMessages + i);
                if (SendMessage(&receiver, 1, value, 0) != static_cast<LRESULT>(value + 1))
                    ++wrongAnswers;
            }
        });
    }
    ASSERT_TRUE(receiver.PumpUntil([&] { return receiver.received.size() == kThreads * kMessages; }, kNoHang));
    for (std::thread& sender : senders)
        sender.join();
    EXPECT_EQ(wrongAnswers, 0);
}

TEST(WindowMessagesPost, QueuesInOrderUntilTheOwnerPumps)
{
    CRecordingReceiver receiver;
    EXPECT_TRUE(PostMessage(&receiver, 5, 1, 10));
    EXPECT_TRUE(PostMessage(&receiver, 6, 2, 20));
    EXPECT_TRUE(PostMessage(&receiver, 7, 3, 30));
    EXPECT_TRUE(receiver.received.empty());

    EXPECT_EQ(receiver.Pump(), 3u);
    ASSERT_EQ(receiver.received.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(receiver.received[i].message, 5 + i);
        EXPECT_EQ(receiver.received[i].wParam, 1 + i);
        EXPECT_EQ(receiver.received[i].lParam, static_cast<LPARAM>(10 * (i + 1)));
    }
    EXPECT_EQ(receiver.Pump(), 0u);
}

TEST(WindowMessagesPost, FromAnotherThreadWakesTheEventLoop)
{
    CRecordingReceiver receiver;
    CQueuedSignal queued;
    queued.Attach(receiver);
    std::thread poster([&] { PostMessage(&receiver, 9, 0, 0); });
    ASSERT_TRUE(queued.WaitFor(1));
    poster.join();
    EXPECT_EQ(receiver.Pump(), 1u);
}

TEST(WindowMessagesPump, TimesOutWhenNothingArrives)
{
    CRecordingReceiver receiver;
    EXPECT_FALSE(receiver.PumpFor(1ms));
    EXPECT_FALSE(receiver.PumpUntil([] { return false; }, 1ms));
    EXPECT_TRUE(receiver.PumpUntil([] { return true; }, 0ms));
}

TEST(WindowMessagesPump, StopsAsSoonAsThePredicateHolds)
{
    CRecordingReceiver receiver;
    for (WPARAM i = 0; i < 5; ++i)
        PostMessage(&receiver, 1, i, 0);
    EXPECT_TRUE(receiver.PumpUntil([&] { return receiver.received.size() == 2; }, kNoHang));
    EXPECT_EQ(receiver.received.size(), 2u);
    EXPECT_TRUE(receiver.PumpFor(0ms));
    EXPECT_EQ(receiver.received.size(), 5u);
}

TEST(WindowMessagesPump, OnlyTheOwningThreadHandlesMessages)
{
    CRecordingReceiver receiver;
    PostMessage(&receiver, 1, 0, 0);
    std::size_t handledElsewhere = 99;
    std::thread other([&] { handledElsewhere = receiver.Pump(); });
    other.join();
    EXPECT_EQ(handledElsewhere, 0u);
    EXPECT_TRUE(receiver.received.empty());

    // Handed over, the other thread pumps and this one no longer does.
    std::thread owner([&] {
        receiver.AttachToCurrentThread();
        handledElsewhere = receiver.Pump();
    });
    owner.join();
    EXPECT_EQ(handledElsewhere, 1u);
    EXPECT_FALSE(receiver.IsOwnerThread());
}

TEST(WindowMessagesClose, AnswersAWaitingSenderWithZeroAndRefusesLaterMessages)
{
    CRecordingReceiver receiver;
    CQueuedSignal queued;
    queued.Attach(receiver);
    std::future<LRESULT> answer = std::async(std::launch::async, [&] { return SendMessage(&receiver, 1, 5, 0); });
    ASSERT_TRUE(queued.WaitFor(1));
    PostMessage(&receiver, 1, 6, 0);
    receiver.Close();

    ASSERT_EQ(answer.wait_for(kNoHang), std::future_status::ready);
    EXPECT_EQ(answer.get(), 0);
    EXPECT_FALSE(IsWindow(&receiver));
    EXPECT_EQ(SendMessage(&receiver, 1, 7, 0), 0);
    EXPECT_FALSE(PostMessage(&receiver, 1, 8, 0));
    EXPECT_EQ(receiver.Pump(), 0u);
    EXPECT_FALSE(receiver.PumpFor(kNoHang));  // a closed receiver never waits
    EXPECT_TRUE(receiver.received.empty());
}

TEST(WindowMessagesClose, DestroyingTheReceiverReleasesItsSenders)
{
    auto receiver = std::make_unique<CRecordingReceiver>();
    const HWND hwnd = receiver.get();
    CQueuedSignal queued;
    queued.Attach(*receiver);
    std::future<LRESULT> answer = std::async(std::launch::async, [hwnd] { return SendMessage(hwnd, 1, 5, 0); });
    ASSERT_TRUE(queued.WaitFor(1));
    // Kept opaque so the compiler does not flag the deliberate stale use.
    volatile std::uintptr_t address = reinterpret_cast<std::uintptr_t>(hwnd);
    receiver.reset();

    ASSERT_EQ(answer.wait_for(kNoHang), std::future_status::ready);
    EXPECT_EQ(answer.get(), 0);
    // A stale handle only finds nothing.
    const HWND stale = reinterpret_cast<HWND>(address);
    EXPECT_FALSE(IsWindow(stale));
    EXPECT_EQ(SendMessage(stale, 1, 5, 0), 0);
    EXPECT_FALSE(PostMessage(stale, 1, 5, 0));
}

TEST(WindowMessagesClose, AMessageBeingHandledStillGetsItsAnswer)
{
    CRecordingReceiver receiver;
    receiver.onMessage = [&] { receiver.Close(); };
    std::future<LRESULT> answer = std::async(std::launch::async, [&] { return SendMessage(&receiver, 1, 2, 0); });
    ASSERT_TRUE(receiver.PumpUntil([&] { return !receiver.received.empty(); }, kNoHang));
    ASSERT_EQ(answer.wait_for(kNoHang), std::future_status::ready);
    EXPECT_EQ(answer.get(), 3);
}

TEST(WindowMessagesClose, NullWindowReceivesNothing)
{
    EXPECT_EQ(SendMessage(nullptr, 1, 1, 0), 0);
    EXPECT_FALSE(PostMessage(nullptr, 1, 1, 0));
    EXPECT_FALSE(IsWindow(nullptr));
}

}  // namespace
