// The progress dialog: its controls, the worker's messages on the dialog's
// thread, and the runner that puts a trace under it.
#include "ui/progress_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <mutex>
#include <new>

#include "model/text_table.h"
#include "ui/static_ex.h"

namespace {

// The step counter: yellow on blue, bold, its font three quarters of its
// height.
constexpr COLORREF kCounterBackground = 0x00FF0000;
constexpr COLORREF kCounterText = 0x0000FFFF;
constexpr int kCounterHeight = 32;
constexpr int kCounterFontNumerator = 3;
constexpr int kCounterFontDenominator = 4;
constexpr int kDialogWidth = 360;

// The bar shows CProgressSteps' percentage.
constexpr int kBarMaximum = 100;

// The thread body posts a run end in every case; polling for its end only
// guards against a run end lost for want of memory.
constexpr int kFinishPollMs = 200;
constexpr std::chrono::milliseconds kEndPumpInterval(10);

// The parent of the dialogs RunWithProgressDialog opens.
QPointer<QWidget> g_runnerParent;

}  // namespace

// The dialog as the worker's receiver; made and pumped on the dialog's thread.
class CProgressDlg::CReceiver : public CMessageReceiver {
public:
    explicit CReceiver(CProgressDlg* dialog) : m_dialog(dialog) {}
    ~CReceiver() override { Close(); }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        return m_dialog->HandleMessage(message, wParam, lParam);
    }

private:
    CProgressDlg* m_dialog;
};

// What the wake callback reaches the dialog through. The worker's thread
// calls it; the dialog clears it under the lock before it goes away, so a
// late wake finds nothing instead of a dialog being destroyed.
struct CProgressDlg::CWakeTarget {
    std::mutex mutex;
    CProgressDlg* dialog = nullptr;
};

CProgressDlg::CProgressDlg(QWidget* parent)
    : QDialog(parent), m_wake(std::make_shared<CWakeTarget>()), m_receiver(std::make_unique<CReceiver>(this))
{
    setWindowTitle(QString::fromStdString(GetLanString("JdWinCaption", "Tracing")));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* caption = new QLabel(QString::fromStdString(GetLanString("JdCurProgress", "Current progress")), this);
    m_stepText = new QLabel(this);
    m_stepText->setWordWrap(true);
    m_counter = new CStaticEx(this);
    m_counter->setFixedHeight(kCounterHeight);
    m_counter->SetBkColor(kCounterBackground);
    m_counter->SetTextColor(kCounterText);
    m_counter->SetEdge(kStaticEdgeSunken);
    m_counter->SetTextFormat(DT_CENTER | DT_VCENTER);
    m_counter->SetFontBold(true);
    m_counter->SetFontSize(m_counter->contentsRect().height() * kCounterFontNumerator / kCounterFontDenominator);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, kBarMaximum);
    m_bar->setValue(0);
    // The template's "&Stop" is shown with the text of the Cancel button.
    m_stop = new QPushButton(QString::fromStdString(GetLanString("ButtonCancel", "&Cancel")), this);
    // Enter must not press it.
    m_stop->setAutoDefault(false);
    m_stop->setDefault(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addWidget(m_counter);
    layout->addWidget(m_stepText);
    layout->addWidget(m_bar);
    layout->addWidget(m_stop, 0, Qt::AlignHCenter);
    setMinimumWidth(kDialogWidth);

    connect(m_stop, &QPushButton::clicked, this, [this] { OnStop(); });
    m_finishPoll = new QTimer(this);
    m_finishPoll->setInterval(kFinishPollMs);
    connect(m_finishPoll, &QTimer::timeout, this, [this] { CheckWorkerFinished(); });

    m_wake->dialog = this;
    m_receiver->SetWakeCallback([wake = m_wake] {
        std::lock_guard lock(wake->mutex);
        if (wake->dialog == nullptr)
            return;
        CProgressDlg* dialog = wake->dialog;
        try {
            QMetaObject::invokeMethod(
                dialog, [dialog] { dialog->PumpMessages(); }, Qt::QueuedConnection);
        } catch (...) {
            // Out of memory: the finish poll still ends the run.
        }
    });
}

CProgressDlg::~CProgressDlg()
{
    {
        std::lock_guard lock(m_wake->mutex);
        m_wake->dialog = nullptr;
    }
    // Waiting senders are answered with 0 before the controls go.
    m_receiver->Close();
    if (m_worker && m_worker->GetNotifyWindow() == m_receiver.get())
        m_worker->SetNotifyWindow(nullptr);
}

void CProgressDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_startPosted) {
        m_startPosted = true;
        PostMessage(m_receiver.get(), WM_START_THREAD, 0, 0);
    }
}

void CProgressDlg::PumpMessages() { m_receiver->Pump(); }

LRESULT CProgressDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_START_THREAD: OnStartThread(); break;
    case WM_STEP_TEXT: OnStepText(reinterpret_cast<const char*>(lParam)); break;
    case WM_STEP_POS: OnStepPos(static_cast<DWORD>(wParam)); break;
    case WM_STEP_END: OnStepEnd(); break;
    case WM_RUN_END: OnThreadEnd(static_cast<DWORD>(wParam)); break;
    default: break;
    }
    return 0;
}

void CProgressDlg::OnStartThread()
{
    if (m_running || m_runEnded)
        return;
    const int total = m_steps.GetTotalSteps();
    m_steps.ResetStepCount();
    m_steps.SetTotalSteps(total);
    ShowSteps();
    if (m_worker == nullptr) {
        done(kNotStarted);
        return;
    }
    m_worker->SetNotifyWindow(m_receiver.get());
    if (!m_worker->Start()) {
        // No run end will come for a worker that did not start.
        m_worker->SetNotifyWindow(nullptr);
        done(kNotStarted);
        return;
    }
    m_running = true;
    m_finishPoll->start();
}

void CProgressDlg::OnStepText(const char* text)
{
    m_steps.BeginStep(text ? text : "");
    m_stepText->setText(QString::fromStdString(m_steps.GetText()));
    ShowSteps();
}

void CProgressDlg::OnStepPos(DWORD position)
{
    m_steps.SetPos(position);
    m_bar->setValue(m_steps.GetPercent());
}

void CProgressDlg::OnStepEnd()
{
    m_steps.EndStep();
    m_bar->setValue(m_steps.GetPercent());
}

void CProgressDlg::OnStop()
{
    if (m_worker && m_running)
        m_worker->RequestStop();
}

void CProgressDlg::OnThreadEnd(DWORD code)
{
    // A second run end is a worker's fault; the first code stands.
    if (m_runEnded || !m_running)
        return;
    m_runEnded = true;
    m_running = false;
    m_finishPoll->stop();
    m_resultCode = code;
    // A worker that still sent after its run end would block on us while we
    // wait for it: keep answering until its body is done.
    while (!m_worker->IsFinished())
        m_receiver->PumpFor(kEndPumpInterval);
    m_worker->Wait();
    m_worker->SetNotifyWindow(nullptr);
    done(kRunEnded);
}

void CProgressDlg::CheckWorkerFinished()
{
    if (!m_running || !m_worker->IsFinished())
        return;
    // Its run end may still be queued behind the wake.
    m_receiver->Pump();
    if (m_running)
        OnThreadEnd(m_worker->GetRunResult());
}

void CProgressDlg::ShowSteps()
{
    m_counter->SetText(QString::fromStdString(m_steps.GetCounterText()));
    m_bar->setRange(0, kBarMaximum);
    m_bar->setValue(m_steps.GetPercent());
}

DWORD RunWithProgressDialog(CCommonThread& worker, int totalSteps)
{
    QWidget* parent = g_runnerParent ? g_runnerParent.data() : QApplication::activeWindow();
    CProgressDlg dialog(parent);
    dialog.SetWorker(&worker);
    dialog.SetTotalSteps(totalSteps);
    dialog.exec();
    return dialog.GetResultCode();
}

CTraceRunResult TraceWithProgressDialog(QWidget* parent, CGraph* drawing, const CTraceOption& options)
{
    QPointer<QWidget> previous = g_runnerParent;
    g_runnerParent = parent;
    CTraceRunResult result = TraceDrawing(drawing, options, &RunWithProgressDialog);
    g_runnerParent = previous;
    return result;
}
