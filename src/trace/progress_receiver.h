#pragma once
// The receiving side of the progress protocol (see trace/common_thread.h).
//
// CProgressSteps is what a progress display shows: the step counter, the
// step's text and the bar. Most steps report a percentage; the two thinning
// steps count down instead: their first position is the work to do, which
// becomes the bar's end, and later positions are the work left. The desktop
// dialog and the terminal both keep one.
//
// CTextProgressReceiver shows it as text: on a terminal one line redrawn in
// place, elsewhere (a pipe, a log) one line per step.
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/win_types.h"
#include "platform/window_messages.h"

class CProgressSteps {
public:
    // The total counts the step texts the run will announce; the caller
    // sets it before the run.
    void ResetStepCount();
    void AddStep() { ++m_totalSteps; }
    void SetTotalSteps(int total) { m_totalSteps = total; }

    // A step begins: counted, bar back to 0 of 100, count-down when the text
    // is that of a thinning step (in the user's language).
    void BeginStep(std::string_view text);
    // A position: a percentage, or in count-down the work to do (first) and
    // then the work left.
    void SetPos(DWORD position);
    // The step is over: bar full.
    void EndStep() { m_barPos = m_barEnd; }

    [[nodiscard]] int GetCurrentStep() const { return m_currentStep; }
    [[nodiscard]] int GetTotalSteps() const { return m_totalSteps; }
    [[nodiscard]] const std::string& GetText() const { return m_text; }
    [[nodiscard]] bool IsCountDown() const { return m_countDown; }
    [[nodiscard]] DWORD GetBarEnd() const { return m_barEnd; }
    [[nodiscard]] DWORD GetBarPos() const { return m_barPos; }
    // The bar's fill, 0..100.
    [[nodiscard]] int GetPercent() const;
    // "current / total".
    [[nodiscard]] std::string GetCounterText() const;

private:
    int m_currentStep = 0;
    int m_totalSteps = 0;
    std::string m_text;
    bool m_countDown = false;
    bool m_firstPos = false;
    DWORD m_barEnd = 100;
    DWORD m_barPos = 0;
};

class CTextProgressReceiver : public CMessageReceiver {
public:
    // Writes to out, which stays open while the receiver lives. redraw: keep
    // one line up to date in place (a terminal of the given columns); else
    // one line per step.
    CTextProgressReceiver(std::FILE* out, bool redraw, int columns = 80);
    ~CTextProgressReceiver() override;

    [[nodiscard]] CProgressSteps& Steps() { return m_steps; }
    // The first run end received; later ones are ignored.
    [[nodiscard]] bool HasRunEnded() const { return m_runEnded; }
    // The run's code, RUN_NOT_REPORTED until the run end.
    [[nodiscard]] DWORD GetResultCode() const { return m_resultCode; }

    // A line of its own (a notice to the user) that leaves the progress line
    // intact below it.
    void PrintNote(std::string_view text);

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    [[nodiscard]] std::string RenderLine() const;
    void DrawLine(bool force);
    void FinishLine();

    std::FILE* m_out;
    bool m_redraw;
    int m_columns;
    CProgressSteps m_steps;
    std::string m_shownLine;  // the line on the terminal now, empty for none
    bool m_runEnded = false;
    DWORD m_resultCode;
};
