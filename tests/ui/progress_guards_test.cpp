// The progress dialog's guards against messages out of turn (a second start,
// Stop before the start or after the end, a run that ends without a code, a
// dialog that goes while its worker runs), and controls that must repaint
// when their state changes.
#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include "trace/common_thread.h"
#include "ui/cavus.h"
#include "ui/progress_dialog.h"
#include "ui/static_ex.h"
#include "qt_test_app.h"
#include "scripted_worker.h"

namespace {

class ProgressGuards : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }

    static bool WaitForEnd(CProgressDlg& dialog)
    {
        return PumpEventsUntil([&dialog] { return !dialog.isVisible(); });
    }
};

TEST_F(ProgressGuards, AStartMessageDuringOrAfterTheRunChangesNothing)
{
    CGate running;
    CScriptedWorker worker([&](CScriptedWorker& w) {
        w.SendProgressText("Trace outline");
        // Shown again, or a stray start message: the running worker is not
        // started twice and the dialog does not end early.
        PostMessage(w.GetNotifyWindow(), WM_START_THREAD, 0, 0);
        running.Arrive();
        w.PostRunEnd(RUN_FINISHED);
        PostMessage(w.GetNotifyWindow(), WM_START_THREAD, 0, 0);
    });
    CProgressDlg dialog;
    dialog.SetWorker(&worker);
    dialog.SetTotalSteps(2);
    dialog.show();
    ASSERT_TRUE(PumpEventsUntil([&running] { return running.Reached(); }));
    dialog.hide();
    dialog.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.GetSteps().GetCurrentStep(), 1);
    EXPECT_EQ(dialog.GetStepText()->text(), "Trace outline");
    running.Open();
    ASSERT_TRUE(WaitForEnd(dialog));
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.result(), CProgressDlg::kRunEnded);
    EXPECT_EQ(dialog.GetResultCode(), RUN_FINISHED);
    EXPECT_TRUE(worker.IsFinished());
}

TEST_F(ProgressGuards, StopOnlyReachesARunningWorker)
{
    CScriptedWorker worker([](CScriptedWorker& w) { w.PostRunEnd(RUN_FINISHED); });
    CProgressDlg dialog;
    dialog.SetWorker(&worker);
    dialog.SetTotalSteps(1);
    // Before the start: nothing to stop.
    dialog.GetStopButton()->click();
    EXPECT_FALSE(worker.IsStopRequested());
    dialog.show();
    ASSERT_TRUE(WaitForEnd(dialog));
    EXPECT_EQ(dialog.GetResultCode(), RUN_FINISHED);
    // After the end the flag stays clear, so the result stands as reported.
    dialog.GetStopButton()->click();
    EXPECT_FALSE(worker.IsStopRequested());
}

TEST_F(ProgressGuards, AWorkerThatEndsWithoutARunEndStillEndsTheDialog)
{
    CScriptedWorker worker([](CScriptedWorker& w) { w.SendProgressText("Generate polyline"); });
    CProgressDlg dialog;
    dialog.SetWorker(&worker);
    dialog.SetTotalSteps(1);
    dialog.show();
    ASSERT_TRUE(WaitForEnd(dialog));
    EXPECT_EQ(dialog.result(), CProgressDlg::kRunEnded);
    EXPECT_TRUE(dialog.HasRunEnded());
    EXPECT_EQ(dialog.GetResultCode(), worker.GetRunResult());
    EXPECT_EQ(worker.GetNotifyWindow(), nullptr);
}

TEST_F(ProgressGuards, ADialogThatGoesFirstLetsItsWorkerFinish)
{
    CGate running;
    CScriptedWorker worker([&](CScriptedWorker& w) {
        running.Arrive();
        // The dialog is gone: these find no receiver and must not block.
        w.SendProgressText("Connect lines");
        w.SendProgressPos(50);
        w.PostRunEnd(RUN_FINISHED);
    });
    {
        CProgressDlg dialog;
        dialog.SetWorker(&worker);
        dialog.show();
        ASSERT_TRUE(PumpEventsUntil([&running] { return running.Reached(); }));
        EXPECT_NE(worker.GetNotifyWindow(), nullptr);
    }
    EXPECT_EQ(worker.GetNotifyWindow(), nullptr);
    running.Open();
    worker.Wait();
    EXPECT_TRUE(worker.IsFinished());
    EXPECT_EQ(worker.GetRunResult(), DWORD{RUN_FINISHED});
}

// ---- repainting ---------------------------------------------------------------------

// Counts the paint events a widget receives.
class CPaintCounter : public QObject {
public:
    explicit CPaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// True when the change makes the shown widget paint again.
template <typename Change>
bool Repaints(CPaintCounter& counter, Change change)
{
    QCoreApplication::processEvents();
    const int before = counter.paints;
    change();
    return PumpEventsUntil([&] { return counter.paints > before; }, std::chrono::milliseconds(500));
}

TEST(ControlRepaint, StaticTextAndPictureRepaintWhenTheirStateChanges)
{
    TestApp();
    CStaticEx label;
    label.resize(120, 30);
    CPaintCounter labelPaints(label);
    label.show();
    ASSERT_TRUE(PumpEventsUntil([&] { return labelPaints.paints > 0; }));
    EXPECT_TRUE(Repaints(labelPaints, [&] { label.SetText("2 / 5"); }));
    EXPECT_TRUE(Repaints(labelPaints, [&] { label.SetBkColor(RGB(0, 0, 255)); }));
    EXPECT_TRUE(Repaints(labelPaints, [&] { label.SetTextColor(RGB(255, 255, 0)); }));
    EXPECT_TRUE(Repaints(labelPaints, [&] { label.SetEdge(kStaticEdgeSunken); }));
    EXPECT_TRUE(Repaints(labelPaints, [&] { label.SetTextFormat(DT_CENTER | DT_VCENTER); }));
    EXPECT_TRUE(Repaints(labelPaints, [&] { label.SetFontBold(true); }));

    CCavus picture;
    picture.resize(80, 60);
    CPaintCounter picturePaints(picture);
    picture.show();
    ASSERT_TRUE(PumpEventsUntil([&] { return picturePaints.paints > 0; }));
    EXPECT_TRUE(Repaints(picturePaints, [&] { EXPECT_TRUE(picture.CreateImageFitWindow(24)); }));
    EXPECT_TRUE(Repaints(picturePaints, [&] { picture.FillImage(RGB(255, 0, 0)); }));
    EXPECT_TRUE(Repaints(picturePaints, [&] { picture.SetBandText("x 12 y 7", 14); }));
}

}  // namespace
