// The progress dialog driven by scripted workers: what it shows at each step,
// the count-down steps, Stop, the run end, and the keys that must not end it.
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include <gtest/gtest.h>

#include "model/graph.h"
#include "model/layer.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "trace/common_thread.h"
#include "trace/trace_option.h"
#include "trace/trace_run.h"
#include "ui/progress_dialog.h"
#include "ui/static_ex.h"
#include "qt_test_app.h"
#include "scripted_worker.h"

namespace {

void SendKey(QWidget* target, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

class ProgressDialog : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }

    // Shows the dialog without a modal loop, so the test can look at it
    // between the worker's steps.
    void Show(CProgressDlg& dialog, CCommonThread& worker, int total)
    {
        dialog.SetWorker(&worker);
        dialog.SetTotalSteps(total);
        dialog.show();
    }
    static bool WaitFor(CGate& gate)
    {
        return PumpEventsUntil([&gate] { return gate.Reached(); });
    }
    static bool WaitForEnd(CProgressDlg& dialog)
    {
        return PumpEventsUntil([&dialog] { return !dialog.isVisible(); });
    }
};

TEST_F(ProgressDialog, ShowsEachStepsCounterTextAndBarIncludingCountDownSteps)
{
    CGate percent, firstCount, laterCount;
    CScriptedWorker worker([&](CScriptedWorker& w) {
        w.SendProgressText("Trace outline");
        w.SendProgressPos(40);
        percent.Arrive();
        w.SendProgressEnd("Trace outline");
        // The thinning steps count down: the first position is the work.
        w.SendProgressText("Thin first step");
        w.SendProgressPos(400);
        firstCount.Arrive();
        w.SendProgressPos(100);
        laterCount.Arrive();
        w.SendProgressEnd("Thin first step");
        w.PostRunEnd(RUN_FINISHED);
    });
    CProgressDlg dialog;
    Show(dialog, worker, 3);

    ASSERT_TRUE(WaitFor(percent));
    EXPECT_EQ(dialog.GetStepCounter()->GetText(), "1 / 3");
    EXPECT_EQ(dialog.GetStepText()->text(), "Trace outline");
    EXPECT_EQ(dialog.GetProgressBar()->value(), 40);
    EXPECT_FALSE(dialog.GetSteps().IsCountDown());
    percent.Open();

    ASSERT_TRUE(WaitFor(firstCount));
    EXPECT_EQ(dialog.GetStepCounter()->GetText(), "2 / 3");
    EXPECT_TRUE(dialog.GetSteps().IsCountDown());
    EXPECT_EQ(dialog.GetSteps().GetBarEnd(), 400u);
    EXPECT_EQ(dialog.GetSteps().GetBarPos(), 10u);  // a fortieth of the work
    EXPECT_EQ(dialog.GetProgressBar()->value(), 2);
    firstCount.Open();

    ASSERT_TRUE(WaitFor(laterCount));
    EXPECT_EQ(dialog.GetSteps().GetBarPos(), 300u);  // 100 left of 400
    EXPECT_EQ(dialog.GetProgressBar()->value(), 75);
    laterCount.Open();

    ASSERT_TRUE(WaitForEnd(dialog));
    EXPECT_EQ(dialog.result(), CProgressDlg::kRunEnded);
    EXPECT_EQ(dialog.GetResultCode(), RUN_FINISHED);
    EXPECT_EQ(dialog.GetProgressBar()->value(), 100);  // the step's end fills it
    EXPECT_TRUE(worker.IsFinished());
    EXPECT_EQ(worker.GetNotifyWindow(), nullptr);
}

TEST_F(ProgressDialog, CounterIsYellowOnBlueBoldAndStopReadsCancel)
{
    CProgressDlg dialog;
    CStaticEx* counter = dialog.GetStepCounter();
    EXPECT_EQ(counter->GetBkColor(), RGB(0, 0, 255));
    EXPECT_EQ(counter->GetTextColor(), RGB(255, 255, 0));
    EXPECT_EQ(counter->GetEdge(), kStaticEdgeSunken);
    EXPECT_EQ(counter->GetTextFormat(), DT_CENTER | DT_VCENTER);
    EXPECT_TRUE(counter->IsFontBold());
    EXPECT_EQ(counter->GetFontSize(), counter->contentsRect().height() * 3 / 4);
    EXPECT_EQ(dialog.GetStopButton()->text(), "&Cancel");
    EXPECT_EQ(dialog.windowTitle(), "Tracing");
}

TEST_F(ProgressDialog, EnterEscAndCloseLeaveTheDialogOpenUntilTheRunEnd)
{
    CGate running;
    CScriptedWorker worker([&](CScriptedWorker& w) {
        w.SendProgressText("Generate polyline");
        running.Arrive();
        w.PostRunEnd(RUN_FINISHED);
    });
    CProgressDlg dialog;
    Show(dialog, worker, 1);
    ASSERT_TRUE(WaitFor(running));

    dialog.GetStopButton()->setFocus();
    for (QWidget* target : {static_cast<QWidget*>(&dialog), static_cast<QWidget*>(dialog.GetStopButton())}) {
        SendKey(target, Qt::Key_Escape);
        SendKey(target, Qt::Key_Return);
        SendKey(target, Qt::Key_Enter);
    }
    dialog.close();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(worker.IsStopRequested());  // Enter did not press Stop
    EXPECT_FALSE(dialog.HasRunEnded());

    running.Open();
    ASSERT_TRUE(WaitForEnd(dialog));
    EXPECT_EQ(dialog.GetResultCode(), RUN_FINISHED);
}

TEST_F(ProgressDialog, StopSetsTheWorkersFlagAndTheRunEndsWithItsCode)
{
    std::atomic<int> positionsAfterStop{0};
    CScriptedWorker worker([&](CScriptedWorker& w) {
        w.SendProgressText("Centre line");
        for (DWORD i = 0; !w.IsStopRequested(); i = (i + 1) % 100) {
            w.SendProgressPos(i);
            QThread::msleep(1);
        }
        w.SendProgressPos(99);  // swallowed: the flag is set
        ++positionsAfterStop;
        w.PostRunEnd(RUN_STOPPED);
    });
    CProgressDlg dialog;
    Show(dialog, worker, 6);
    ASSERT_TRUE(PumpEventsUntil([&dialog] { return dialog.GetSteps().GetCurrentStep() == 1; }));

    dialog.GetStopButton()->click();
    EXPECT_TRUE(worker.IsStopRequested());
    ASSERT_TRUE(WaitForEnd(dialog));
    EXPECT_EQ(dialog.GetResultCode(), RUN_STOPPED);
    EXPECT_EQ(positionsAfterStop.load(), 1);
}

TEST_F(ProgressDialog, ModalRunAnswersTheFirstRunEndOnly)
{
    CScriptedWorker worker([](CScriptedWorker& w) {
        w.SendProgressText("Connect lines");
        w.SendProgressPos(50);
        w.PostRunEnd(RUN_FAILED);
        // A faulty second run end must not replace the first code.
        PostMessage(w.GetNotifyWindow(), WM_RUN_END, RUN_FINISHED, 0);
    });
    EXPECT_EQ(RunWithProgressDialog(worker, 1), RUN_FAILED);
    EXPECT_TRUE(worker.IsFinished());
}

TEST_F(ProgressDialog, WithoutAWorkerThatCanStartTheDialogEndsByItself)
{
    CProgressDlg none;
    EXPECT_EQ(none.exec(), CProgressDlg::kNotStarted);
    EXPECT_EQ(none.GetResultCode(), RUN_NOT_REPORTED);

    // One that was started before cannot be started again.
    CScriptedWorker used([](CScriptedWorker& w) { w.PostRunEnd(RUN_FINISHED); });
    ASSERT_TRUE(used.Start());
    used.Wait();
    CProgressDlg dialog;
    dialog.SetWorker(&used);
    EXPECT_EQ(dialog.exec(), CProgressDlg::kNotStarted);
    EXPECT_EQ(dialog.GetResultCode(), RUN_NOT_REPORTED);
}

TEST_F(ProgressDialog, TracesADrawingUnderTheDialog)
{
    CGraph drawing;
    CRasterSrc& image = drawing.GetRaster()->GetImage();
    ASSERT_TRUE(image.Create(60, 40, 1));
    for (int y = 10; y < 30; ++y)
        for (int x = 15; x < 45; ++x)
            image.SetPixelBit(x, y, true);
    CTraceOption options;
    options.i_AutoTraceWhat = TRACE_OUTLINE;
    options.Outline.b_RecogniseCirArc = false;
    options.Outline.b_Fill = false;

    const CTraceRunResult result = TraceWithProgressDialog(nullptr, &drawing, options);
    EXPECT_EQ(result.code, RUN_FINISHED);
    ASSERT_EQ(drawing.GetLayerCount(), 1);
    EXPECT_EQ(drawing.GetFirstLayer()->GetName(), "Trace");
    EXPECT_GT(drawing.GetFirstLayer()->CountEntities(), 0);

    EXPECT_EQ(TraceWithProgressDialog(nullptr, nullptr, options).code, RUN_NOT_REPORTED);
}

}  // namespace
