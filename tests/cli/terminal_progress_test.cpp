// The terminal's progress display: the step state and the text receiver it
// is drawn by (the Ctrl-C wiring around them lives in the command).
#include "trace/progress_receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/text_table.h"
#include "trace/common_thread.h"

namespace {

// A FILE* writing into memory, read back as a string.
class CCapturedOutput {
public:
    CCapturedOutput() : m_file(open_memstream(&m_buffer, &m_size)) {}
    ~CCapturedOutput()
    {
        std::fclose(m_file);
        std::free(m_buffer);
    }
    std::FILE* File() { return m_file; }
    std::string Text()
    {
        std::fflush(m_file);
        return std::string(m_buffer, m_size);
    }

private:
    char* m_buffer = nullptr;
    std::size_t m_size = 0;
    std::FILE* m_file;
};

// The worker's side of the protocol, sent from the receiver's own thread.
void StepText(CTextProgressReceiver& receiver, const char* text)
{
    SendMessage(&receiver, WM_STEP_TEXT, 0, reinterpret_cast<LPARAM>(text));
}
void StepPos(CTextProgressReceiver& receiver, DWORD position) { SendMessage(&receiver, WM_STEP_POS, position, 0); }
void StepEnd(CTextProgressReceiver& receiver) { SendMessage(&receiver, WM_STEP_END, 0, 0); }
void RunEnd(CTextProgressReceiver& receiver, DWORD code)
{
    PostMessage(&receiver, WM_RUN_END, code, 0);
    receiver.Pump();
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(ProgressSteps, PercentStepsMoveTheBarToTheirPosition)
{
    CProgressSteps steps;
    steps.SetTotalSteps(6);
    steps.BeginStep("Centre line");
    EXPECT_FALSE(steps.IsCountDown());
    EXPECT_EQ(steps.GetCounterText(), "1 / 6");
    steps.SetPos(30);
    EXPECT_EQ(steps.GetPercent(), 30);
    steps.EndStep();
    EXPECT_EQ(steps.GetPercent(), 100);

    steps.BeginStep("Generate polyline");
    EXPECT_EQ(steps.GetCounterText(), "2 / 6");
    EXPECT_EQ(steps.GetPercent(), 0);
    steps.ResetStepCount();
    steps.AddStep();
    EXPECT_EQ(steps.GetCounterText(), "0 / 1");
}

TEST(ProgressSteps, ThinningStepsCountDownFromTheirFirstPosition)
{
    CProgressSteps steps;
    steps.BeginStep("Thin first step");
    ASSERT_TRUE(steps.IsCountDown());
    steps.SetPos(4000);  // the work to do: the bar's end, and a start at 1/40
    EXPECT_EQ(steps.GetBarEnd(), 4000u);
    EXPECT_EQ(steps.GetBarPos(), 100u);
    steps.SetPos(1000);  // work left
    EXPECT_EQ(steps.GetBarPos(), 3000u);
    EXPECT_EQ(steps.GetPercent(), 75);
    steps.SetPos(5000);  // more left than at the start
    EXPECT_EQ(steps.GetBarPos(), 0u);
    steps.EndStep();
    EXPECT_EQ(steps.GetPercent(), 100);

    steps.BeginStep("Thin second step");
    EXPECT_TRUE(steps.IsCountDown());
    steps.SetPos(0);  // nothing to thin
    EXPECT_EQ(steps.GetPercent(), 100);

    steps.BeginStep("Centre initialise");
    EXPECT_FALSE(steps.IsCountDown());
    EXPECT_EQ(steps.GetBarEnd(), 100u);
}

TEST(ProgressSteps, CountDownFollowsTheUsersLanguage)
{
    GetLangTable().LoadFromMemory("ProcessThinFirstStep=Erster D\xC3\xBCnnungsschritt\n");
    CProgressSteps steps;
    steps.BeginStep("Thin first step");
    EXPECT_FALSE(steps.IsCountDown());
    steps.BeginStep("Erster D\xC3\xBCnnungsschritt");
    EXPECT_TRUE(steps.IsCountDown());
    steps.BeginStep("Thin second step");  // untranslated: the default
    EXPECT_TRUE(steps.IsCountDown());
    GetLangTable().Clear();
}

TEST(TextProgressPipe, PrintsOneLinePerStepWithItsCounter)
{
    CCapturedOutput out;
    CTextProgressReceiver receiver(out.File(), false);
    receiver.Steps().SetTotalSteps(2);
    StepText(receiver, "Trace outline");
    for (DWORD pos = 0; pos <= 100; pos += 10)
        StepPos(receiver, pos);
    StepEnd(receiver);
    StepText(receiver, "Generate polyline");
    StepPos(receiver, 50);
    StepEnd(receiver);
    RunEnd(receiver, RUN_FINISHED);

    EXPECT_EQ(out.Text(), "1 / 2 Trace outline\n2 / 2 Generate polyline\n");
    EXPECT_TRUE(receiver.HasRunEnded());
    EXPECT_EQ(receiver.GetResultCode(), RUN_FINISHED);
}

TEST(TextProgressPipe, LineBreaksInAStepTextStayOnItsLine)
{
    CCapturedOutput out;
    CTextProgressReceiver receiver(out.File(), false);
    receiver.Steps().SetTotalSteps(1);
    StepText(receiver, "Two\r\nlines\t!");
    StepText(receiver, nullptr);
    EXPECT_EQ(out.Text(), "1 / 1 Two  lines !\n2 / 1 \n");
}

TEST(TextProgressPipe, KeepsTheFirstRunEndAndIgnoresASecond)
{
    CCapturedOutput out;
    CTextProgressReceiver receiver(out.File(), false);
    EXPECT_FALSE(receiver.HasRunEnded());
    EXPECT_EQ(receiver.GetResultCode(), RUN_NOT_REPORTED);
    RunEnd(receiver, RUN_STOPPED);
    RunEnd(receiver, RUN_FINISHED);
    EXPECT_EQ(receiver.GetResultCode(), RUN_STOPPED);
    EXPECT_EQ(out.Text(), "");
}

TEST(TextProgressTerminal, RedrawsOneLineInPlaceOnlyWhenItChanges)
{
    CCapturedOutput out;
    {
        CTextProgressReceiver receiver(out.File(), true, 80);
        receiver.Steps().SetTotalSteps(3);
        StepText(receiver, "Thin first step");
        StepPos(receiver, 4000);
        StepPos(receiver, 3000);  // 25 %
        StepPos(receiver, 2999);  // still 25 %: nothing drawn
        StepEnd(receiver);
        RunEnd(receiver, RUN_FINISHED);
        RunEnd(receiver, RUN_STOPPED);
    }
    EXPECT_EQ(out.Text(), "\r1 / 3 [------------------------]   0% Thin first step\x1b[K"
                          "\r1 / 3 [------------------------]   2% Thin first step\x1b[K"
                          "\r1 / 3 [######------------------]  25% Thin first step\x1b[K"
                          "\r1 / 3 [########################] 100% Thin first step\x1b[K"
                          "\n");
}

TEST(TextProgressTerminal, CutsTheTextToTheTerminalWidthOnACharacterBoundary)
{
    CCapturedOutput out;
    {
        // The line before the text takes 38 columns; the last stays free.
        CTextProgressReceiver receiver(out.File(), true, 41);
        receiver.Steps().SetTotalSteps(1);
        StepText(receiver, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
    }
    EXPECT_EQ(out.Text(), "\r1 / 1 [------------------------]   0% \xC3\xA9\xC3\xA9\x1b[K\n");
}

TEST(TextProgressTerminal, NoteGoesAboveTheProgressLine)
{
    CCapturedOutput out;
    CTextProgressReceiver receiver(out.File(), true, 80);
    receiver.PrintNote("before any step");
    receiver.Steps().SetTotalSteps(1);
    StepText(receiver, "Centre line");
    receiver.PrintNote("Stopping");
    RunEnd(receiver, RUN_STOPPED);
    receiver.PrintNote("after the end");

    const std::string line = "\r1 / 1 [------------------------]   0% Centre line\x1b[K";
    EXPECT_EQ(out.Text(), "before any step\n" + line + "\r\x1b[KStopping\n" + line + "\nafter the end\n");
}

TEST(TextProgressTerminal, ManyPositionsDrawAtMostOneLinePerPercent)
{
    CCapturedOutput out;
    CTextProgressReceiver receiver(out.File(), true, 80);
    StepText(receiver, "Thin second step");
    constexpr DWORD kWork = 100000;
    StepPos(receiver, kWork);
    for (DWORD left = kWork; left-- > 0;)
        StepPos(receiver, left);
    // The text at 0 %, the start at 1/40 (2 %), then 0 % to 100 % once each.
    EXPECT_EQ(Count(out.Text(), "\r"), 103u);
}

}  // namespace
