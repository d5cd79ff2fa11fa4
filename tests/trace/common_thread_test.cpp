#include "trace/common_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kNoHang = 10s;

bool IsProgress(UINT message) { return message == WM_STEP_TEXT || message == WM_STEP_POS || message == WM_STEP_END; }

// Records the protocol as a dialog receives it; sets the worker's stop flag
// while it handles the stopAt-th message (1-based; 0: never), as a Stop
// button pressed during a step would.
class CRecorder : public CMessageReceiver {
public:
    ~CRecorder() override { Close(); }

    struct Entry {
        UINT message;
        WPARAM wParam;
        std::string text;
    };
    std::vector<Entry> entries;
    CCommonThread* worker = nullptr;
    std::size_t stopAt = 0;
    std::function<void()> onMessage;

    [[nodiscard]] int CountRunEnds() const
    {
        int count = 0;
        for (const Entry& entry : entries)
            count += entry.message == WM_RUN_END;
        return count;
    }
    [[nodiscard]] std::size_t CountProgress() const
    {
        std::size_t count = 0;
        for (const Entry& entry : entries)
            count += IsProgress(entry.message);
        return count;
    }
    // Pumps until the run end, waits for the thread, then takes whatever
    // else arrived, so a second run end would be seen.
    void RunToEnd(CCommonThread& thread)
    {
        ASSERT_TRUE(PumpUntil([this] { return CountRunEnds() > 0; }, kNoHang));
        thread.Wait();
        Pump();
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        std::string text;
        if (message == WM_STEP_TEXT && lParam)
            text = reinterpret_cast<const char*>(lParam);
        entries.push_back({message, wParam, text});
        if (entries.size() == stopAt && worker)
            worker->RequestStop();
        if (onMessage)
            onMessage();
        return 0;
    }
};

// A worker shaped like the tracing steps: each step sends its text, its
// positions and its end, and polls the stop flag at each loop boundary.
class CStepWorker : public CCommonThread {
public:
    static constexpr int kSteps = 3;
    static constexpr int kPositions = 4;
    // Messages of a run that is not stopped: text, positions, end per step.
    static constexpr std::size_t kProgressMessages = kSteps * (kPositions + 2);

    // Counts progress calls made, to see that the receiver runs while the
    // worker waits in SendMessage.
    std::atomic<int> calls{0};

protected:
    DWORD Run() override
    {
        for (int step = 0; step < kSteps; ++step) {
            if (IsStopRequested())
                return Stopped();
            // A temporary: SendMessage must not return before it is read.
            const std::string text = "Step " + std::to_string(step + 1);
            SendProgressText(text.c_str());
            ++calls;
            for (DWORD pos = 1; pos <= kPositions; ++pos) {
                if (IsStopRequested())
                    return Stopped();
                SendProgressPos(pos * 25);
                ++calls;
            }
            SendProgressEnd(text.c_str());
            ++calls;
        }
        PostRunEnd(IsStopRequested() ? RUN_STOPPED : RUN_FINISHED);
        return 0;
    }

private:
    DWORD Stopped()
    {
        PostRunEnd(RUN_STOPPED);
        return 0;
    }
};

TEST(CommonThreadProtocol, UnstoppedRunSendsEveryStepThenOneRunEnd)
{
    CRecorder recorder;
    CStepWorker worker;
    worker.SetNotifyWindow(&recorder);
    ASSERT_TRUE(worker.Start());
    recorder.RunToEnd(worker);

    ASSERT_EQ(recorder.entries.size(), CStepWorker::kProgressMessages + 1);
    EXPECT_EQ(recorder.entries.front().message, WM_STEP_TEXT);
    EXPECT_EQ(recorder.entries.front().text, "Step 1");
    EXPECT_EQ(recorder.entries[1].message, WM_STEP_POS);
    EXPECT_EQ(recorder.entries[1].wParam, 25u);
    EXPECT_EQ(recorder.entries[CStepWorker::kProgressMessages - 1].message, WM_STEP_END);
    EXPECT_EQ(recorder.entries.back().message, WM_RUN_END);
    EXPECT_EQ(recorder.entries.back().wParam, RUN_FINISHED);
    EXPECT_EQ(worker.GetRunResult(), RUN_FINISHED);
}

TEST(CommonThreadProtocol, StopAtAnyMessageEndsWithOneStoppedCodeAndNoFurtherProgress)
{
    for (std::size_t n = 1; n <= CStepWorker::kProgressMessages; ++n) {
        SCOPED_TRACE("stop at message " + std::to_string(n));
        CRecorder recorder;
        CStepWorker worker;
        recorder.worker = &worker;
        recorder.stopAt = n;
        worker.SetNotifyWindow(&recorder);
        ASSERT_TRUE(worker.Start());
        recorder.RunToEnd(worker);

        EXPECT_EQ(recorder.CountProgress(), n);
        EXPECT_EQ(recorder.CountRunEnds(), 1);
        ASSERT_FALSE(recorder.entries.empty());
        EXPECT_EQ(recorder.entries.back().message, WM_RUN_END);
        EXPECT_EQ(recorder.entries.back().wParam, RUN_STOPPED);
    }
}

TEST(CommonThreadProtocol, StopBeforeStartSendsNoProgressAtAll)
{
    CRecorder recorder;
    CStepWorker worker;
    worker.SetNotifyWindow(&recorder);
    worker.RequestStop();
    ASSERT_TRUE(worker.Start());
    recorder.RunToEnd(worker);
    ASSERT_EQ(recorder.entries.size(), 1u);
    EXPECT_EQ(recorder.entries[0].wParam, RUN_STOPPED);
}

TEST(CommonThreadProtocol, ProgressSendsWaitForTheReceiver)
{
    CRecorder recorder;
    CStepWorker worker;
    // The worker counts a call only after its send returned, so while the
    // receiver handles progress message k exactly k-1 calls are counted.
    std::vector<int> callsSeen;
    recorder.onMessage = [&] {
        if (IsProgress(recorder.entries.back().message))
            callsSeen.push_back(worker.calls.load());
    };
    worker.SetNotifyWindow(&recorder);
    ASSERT_TRUE(worker.Start());
    recorder.RunToEnd(worker);
    ASSERT_EQ(callsSeen.size(), CStepWorker::kProgressMessages);
    for (std::size_t i = 0; i < callsSeen.size(); ++i)
        EXPECT_EQ(callsSeen[i], static_cast<int>(i)) << "message " << i + 1;
}

TEST(CommonThreadProtocol, WorkerWithoutWindowRunsSilentlyToTheEnd)
{
    CStepWorker worker;
    ASSERT_TRUE(worker.Start());
    worker.Wait();
    EXPECT_TRUE(worker.IsFinished());
    EXPECT_EQ(worker.calls.load(), static_cast<int>(CStepWorker::kProgressMessages));
    EXPECT_EQ(worker.GetRunResult(), RUN_FINISHED);
}

// Runs whatever it is given as its body.
class CScriptedWorker : public CCommonThread {
public:
    // The body is a member that Run uses: stop before it is destroyed.
    ~CScriptedWorker() override { StopAndWait(); }

    std::function<void(CScriptedWorker&)> body;
    std::atomic<bool> pendingInRun{true};

protected:
    DWORD Run() override
    {
        pendingInRun = IsPending();
        if (body)
            body(*this);
        return 0;
    }
};

struct ExceptionCase {
    const char* name;
    std::function<void(CScriptedWorker&)> body;
    DWORD expectedCode;
};

TEST(CommonThreadExceptions, EndTheRunWithOneCodeInsteadOfTheProcess)
{
    const std::vector<ExceptionCase> cases = {
        {"bad_alloc", [](CScriptedWorker&) { throw std::bad_alloc(); }, RUN_NO_MEMORY},
        {"bad_alloc after progress",
         [](CScriptedWorker& w) {
             w.SendProgressText("Generate polyline");
             throw std::bad_alloc();
         },
         RUN_NO_MEMORY},
        {"runtime_error", [](CScriptedWorker&) { throw std::runtime_error("kernel"); }, RUN_FAILED},
        {"not an exception class", [](CScriptedWorker&) { throw 7; }, RUN_FAILED},
        {"throws after reporting",
         [](CScriptedWorker& w) {
             w.PostRunEnd(RUN_FINISHED);
             throw std::bad_alloc();
         },
         RUN_FINISHED},
        {"returns without reporting", [](CScriptedWorker&) {}, RUN_NOT_REPORTED},
        {"reports twice",
         [](CScriptedWorker& w) {
             EXPECT_TRUE(w.PostRunEnd(RUN_STOPPED));
             EXPECT_FALSE(w.PostRunEnd(RUN_FINISHED));
         },
         RUN_STOPPED},
    };
    for (const ExceptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        CRecorder recorder;
        CScriptedWorker worker;
        worker.body = c.body;
        worker.SetNotifyWindow(&recorder);
        ASSERT_TRUE(worker.Start());
        recorder.RunToEnd(worker);
        EXPECT_EQ(recorder.CountRunEnds(), 1);
        EXPECT_EQ(recorder.entries.back().message, WM_RUN_END);
        EXPECT_EQ(recorder.entries.back().wParam, c.expectedCode);
        EXPECT_EQ(worker.GetRunResult(), c.expectedCode);
        EXPECT_TRUE(worker.IsFinished());
    }
}

TEST(CommonThreadLifecycle, PendingUntilTheBodyStartsAndStartsOnlyOnce)
{
    CScriptedWorker worker;
    EXPECT_TRUE(worker.IsPending());
    EXPECT_FALSE(worker.IsStopRequested());
    EXPECT_EQ(worker.GetNotifyWindow(), nullptr);
    EXPECT_EQ(worker.GetRunResult(), RUN_NOT_REPORTED);
    worker.Wait();  // not started: returns at once

    ASSERT_TRUE(worker.Start());
    EXPECT_FALSE(worker.Start());
    worker.Wait();
    worker.Wait();
    EXPECT_FALSE(worker.IsPending());
    EXPECT_FALSE(worker.pendingInRun);
}

TEST(CommonThreadLifecycle, DeletingARunningWorkerStopsItAndWaits)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool running = false;
    std::atomic<bool> bodyDone{false};
    {
        CScriptedWorker worker;
        worker.body = [&](CScriptedWorker& w) {
            {
                std::lock_guard lock(mutex);
                running = true;
            }
            changed.notify_all();
            while (!w.IsStopRequested())
                std::this_thread::yield();
            bodyDone = true;
        };
        ASSERT_TRUE(worker.Start());
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, kNoHang, [&] { return running; }));
    }
    EXPECT_TRUE(bodyDone);
}

TEST(CommonThreadLifecycle, ReceiverClosedMidRunNeverBlocksTheWorker)
{
    auto recorder = std::make_unique<CRecorder>();
    CStepWorker worker;
    worker.SetNotifyWindow(recorder.get());
    recorder->Close();  // a dialog gone before the worker ends
    ASSERT_TRUE(worker.Start());
    worker.Wait();
    EXPECT_EQ(worker.GetRunResult(), RUN_FINISHED);
    EXPECT_TRUE(recorder->entries.empty());
}

}  // namespace
