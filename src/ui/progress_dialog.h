#pragma once
// CProgressDlg: the modal dialog that runs a worker (trace/common_thread.h)
// and shows its progress: a step counter, the step's text, a bar and a Stop
// button. It is the worker's receiver: the worker's messages are handled on
// the dialog's thread from its event loop. Once shown it starts the worker;
// the run end waits for the worker's thread and closes the dialog, which
// nothing else does (Enter, Esc and the window's close button are ignored).
//
//   CProgressDlg dialog(parent);
//   dialog.SetWorker(&worker);           // not owned
//   dialog.SetTotalSteps(GetTraceStepCount(options));
//   dialog.exec();                       // 1 after a run end
//   DWORD code = dialog.GetResultCode(); // RUN_NOT_REPORTED without one
#include <QDialog>
#include <memory>

#include "platform/win_types.h"
#include "trace/common_thread.h"
#include "trace/progress_receiver.h"
#include "trace/trace_run.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class CStaticEx;
class CGraph;

class CProgressDlg : public QDialog {
    Q_OBJECT
public:
    // What exec() answers: the run ended, or the dialog ended by itself
    // because no worker could be started (no run end will come).
    static constexpr int kRunEnded = 1;
    static constexpr int kNotStarted = 2;

    explicit CProgressDlg(QWidget* parent = nullptr);
    // Frees the controls only; the worker was waited for at the run end.
    ~CProgressDlg() override;

    // The worker to start once the dialog is shown; it must not have been
    // started. The caller keeps it alive until the dialog has ended.
    void SetWorker(CCommonThread* worker) { m_worker = worker; }

    // The step total, shown as "step / total"; set before the dialog runs.
    void ResetStepCount() { m_steps.ResetStepCount(); }
    void AddStep() { m_steps.AddStep(); }
    void SetTotalSteps(int total) { m_steps.SetTotalSteps(total); }

    // The run's code, RUN_NOT_REPORTED until a run end arrived.
    [[nodiscard]] DWORD GetResultCode() const { return m_resultCode; }
    [[nodiscard]] bool HasRunEnded() const { return m_runEnded; }

    [[nodiscard]] const CProgressSteps& GetSteps() const { return m_steps; }
    [[nodiscard]] CStaticEx* GetStepCounter() const { return m_counter; }
    [[nodiscard]] QLabel* GetStepText() const { return m_stepText; }
    [[nodiscard]] QProgressBar* GetProgressBar() const { return m_bar; }
    [[nodiscard]] QPushButton* GetStopButton() const { return m_stop; }

public slots:
    // Enter and Esc end ordinary dialogs through these; this one ends only
    // at the run end.
    void accept() override {}
    void reject() override {}

protected:
    void showEvent(QShowEvent* event) override;

private:
    class CReceiver;
    struct CWakeTarget;

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void PumpMessages();
    void OnStartThread();
    void OnStepText(const char* text);
    void OnStepPos(DWORD position);
    void OnStepEnd();
    void OnStop();
    void OnThreadEnd(DWORD code);
    void CheckWorkerFinished();
    void ShowSteps();

    CCommonThread* m_worker = nullptr;
    CProgressSteps m_steps;
    DWORD m_resultCode = RUN_NOT_REPORTED;
    bool m_startPosted = false;
    bool m_running = false;
    bool m_runEnded = false;

    CStaticEx* m_counter = nullptr;
    QLabel* m_stepText = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_stop = nullptr;
    QTimer* m_finishPoll = nullptr;

    std::shared_ptr<CWakeTarget> m_wake;
    std::unique_ptr<CReceiver> m_receiver;
};

// A TraceRunner (trace/trace_run.h): runs the worker under a modal progress
// dialog and answers its result code.
[[nodiscard]] DWORD RunWithProgressDialog(CCommonThread& worker, int totalSteps);

// The whole trace of the drawing under a progress dialog over the parent.
[[nodiscard]] CTraceRunResult TraceWithProgressDialog(QWidget* parent, CGraph* drawing, const CTraceOption& options);
