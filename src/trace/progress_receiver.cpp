// Progress shown as text: the step state, then the text receiver.
#include "trace/progress_receiver.h"

#include <algorithm>
#include <cstdint>

#include "model/text_table.h"
#include "trace/common_thread.h"

namespace {

// The thinning steps report their first position as the work to do; the bar
// then starts at this fraction of it.
constexpr DWORD kCountDownStartDivisor = 40;

constexpr int kBarWidth = 24;
// Back to the line's start, and clear what is left of an older, longer line.
constexpr const char* kCarriageReturn = "\r";
constexpr const char* kClearToEnd = "\x1b[K";

// Step texts come from language files, where "%" stands for a line break: a
// control character would break the one-line display.
std::string OneLine(std::string_view text)
{
    std::string line(text);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, ' ');
    return line;
}

// The longest head of a UTF-8 text that takes at most this many characters.
std::string_view FitColumns(std::string_view text, int columns)
{
    int count = 0;
    std::size_t end = 0;
    for (; end < text.size(); ++end) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            continue;  // a continuation byte belongs to the character before
        if (count == columns)
            break;
        ++count;
    }
    return text.substr(0, end);
}

}  // namespace

void CProgressSteps::ResetStepCount()
{
    m_currentStep = 0;
    m_totalSteps = 0;
}

void CProgressSteps::BeginStep(std::string_view text)
{
    m_text = text;
    ++m_currentStep;
    m_barEnd = 100;
    m_barPos = 0;
    m_firstPos = true;
    m_countDown = text == GetLanString("ProcessThinFirstStep", "Thin first step") ||
                  text == GetLanString("ProcessThinSecondStep", "Thin second step");
}

void CProgressSteps::SetPos(DWORD position)
{
    if (!m_countDown) {
        m_barPos = position;
    } else if (m_firstPos) {
        m_barEnd = position;
        m_barPos = position / kCountDownStartDivisor;
        m_firstPos = false;
    } else {
        m_barPos = position > m_barEnd ? 0 : m_barEnd - position;
    }
}

int CProgressSteps::GetPercent() const
{
    if (m_barEnd == 0)
        return 100;  // a count-down with nothing to do
    std::uint64_t percent = std::uint64_t{m_barPos} * 100 / m_barEnd;
    return static_cast<int>(std::min<std::uint64_t>(percent, 100));
}

std::string CProgressSteps::GetCounterText() const
{
    return std::to_string(m_currentStep) + " / " + std::to_string(m_totalSteps);
}

CTextProgressReceiver::CTextProgressReceiver(std::FILE* out, bool redraw, int columns)
    : m_out(out), m_redraw(redraw), m_columns(columns), m_resultCode(RUN_NOT_REPORTED)
{}

CTextProgressReceiver::~CTextProgressReceiver()
{
    Close();
    FinishLine();
}

LRESULT CTextProgressReceiver::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_STEP_TEXT: {
        const char* text = reinterpret_cast<const char*>(lParam);
        m_steps.BeginStep(text ? text : "");
        if (m_redraw) {
            DrawLine(false);
        } else {
            std::string line = m_steps.GetCounterText() + " " + OneLine(m_steps.GetText()) + "\n";
            std::fputs(line.c_str(), m_out);
            std::fflush(m_out);
        }
        return 0;
    }
    case WM_STEP_POS:
        m_steps.SetPos(static_cast<DWORD>(wParam));
        DrawLine(false);
        return 0;
    case WM_STEP_END:
        m_steps.EndStep();
        DrawLine(false);
        return 0;
    case WM_RUN_END:
        // A second run end is a worker's fault; the first code stands.
        if (m_runEnded)
            return 0;
        m_runEnded = true;
        m_resultCode = static_cast<DWORD>(wParam);
        FinishLine();
        return 0;
    default: return 0;
    }
}

std::string CTextProgressReceiver::RenderLine() const
{
    const int percent = m_steps.GetPercent();
    const int filled = percent * kBarWidth / 100;
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    std::string line = m_steps.GetCounterText() + " [" + std::string(filled, '#') +
                       std::string(kBarWidth - filled, '-') + "] " + number + " ";
    // The last column stays free: writing it makes some terminals wrap.
    const int room = std::max(0, m_columns - 1 - static_cast<int>(line.size()));
    line += FitColumns(OneLine(m_steps.GetText()), room);
    return line;
}

void CTextProgressReceiver::DrawLine(bool force)
{
    if (!m_redraw || m_runEnded || m_steps.GetCurrentStep() == 0)
        return;
    std::string line = RenderLine();
    // Positions arrive far more often than the line changes.
    if (!force && line == m_shownLine)
        return;
    std::fputs(kCarriageReturn, m_out);
    std::fputs(line.c_str(), m_out);
    std::fputs(kClearToEnd, m_out);
    std::fflush(m_out);
    m_shownLine = std::move(line);
}

void CTextProgressReceiver::FinishLine()
{
    if (m_shownLine.empty())
        return;
    std::fputc('\n', m_out);
    std::fflush(m_out);
    m_shownLine.clear();
}

void CTextProgressReceiver::PrintNote(std::string_view text)
{
    const bool lineShown = !m_shownLine.empty();
    if (lineShown) {
        std::fputs(kCarriageReturn, m_out);
        std::fputs(kClearToEnd, m_out);
        m_shownLine.clear();
    }
    std::string note = OneLine(text) + "\n";
    std::fputs(note.c_str(), m_out);
    std::fflush(m_out);
    if (lineShown)
        DrawLine(true);
}
