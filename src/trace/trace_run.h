#pragma once
// The trace run: the worker that turns the drawing's one-bit raster into
// entities, and the receiver-side logic around it (step total, result code,
// elapsed time) that the progress dialog and the terminal share.
//
// A run clears the drawing's layers, adds the layer "Trace", traces by the
// method of its options (centre line, outline, fill pattern), turns the
// traced items into polylines or polygon sets on that layer, post-processes
// them and posts exactly one result code (trace/common_thread.h).
//
// The worker reads only the option record it was set up with, a snapshot
// taken on the thread that edits the options, so the interface may change
// the global record while the run goes on. It leaves the raster's palette
// alone: the interface may still be drawing the raster. The dimmed palette
// that shows a traced raster under its vectors is applied by the owner once
// the thread has ended.
#include <string>

#include "platform/win_types.h"
#include "trace/common_thread.h"
#include "trace/trace_option.h"

class CGraph;

// Palette entry 1 of a traced raster, so that the vectors stand out on it.
inline constexpr BYTE kCenterLineRasterGrey = 210;
inline constexpr BYTE kOutlineRasterGrey = 220;

class CDoAllThread : public CCommonThread {
public:
    CDoAllThread() = default;
    // Stops and waits for a run still going: Run uses this object's members.
    ~CDoAllThread() override;

    // The drawing to trace into (not owned; the owner must not touch it until
    // the thread has ended), the receiver of the progress messages (null runs
    // silently) and the options the run works on.
    void Setup(CGraph* drawing, HWND notify, const CTraceOption& options);

    [[nodiscard]] UINT GetMethod() const { return m_options.i_AutoTraceWhat; }
    [[nodiscard]] const CTraceOption& GetOptions() const { return m_options; }
    // The grey palette entry 1 of the raster takes after this run, 0 for none
    // (no run yet, or the run traced nothing into the layer).
    [[nodiscard]] BYTE GetRasterGrey() const { return m_rasterGrey; }
    // Call after the thread has ended: dims the traced raster's palette.
    void ApplyRasterPalette();

protected:
    DWORD Run() override;

private:
    CGraph* m_drawing = nullptr;
    CTraceOption m_options;
    BYTE m_rasterGrey = 0;
};

// The step texts a run with these options announces: the total that the
// receiver shows as "step / total".
[[nodiscard]] int GetTraceStepCount(const CTraceOption& options);

// Runs a worker to its end with a receiver and answers its result code
// (RunWithTerminalProgress, or a test receiver). A runner that cannot start
// the thread answers a code itself, as no run end will arrive.
using TraceRunner = DWORD (*)(CCommonThread& worker, int totalSteps);

struct CTraceRunResult {
    DWORD code = RUN_NOT_REPORTED;
    DWORD elapsedMs = 0;
};

// The whole run as the progress dialog drives it: no drawing answers
// RUN_NOT_REPORTED at once (nothing starts); otherwise a worker is set
// up with the options and the step total, run by the runner, and after its
// thread has ended the raster's palette is dimmed. The drawing then holds
// what the run made, also after a stop or a failure.
[[nodiscard]] CTraceRunResult TraceDrawing(CGraph* drawing, const CTraceOption& options, TraceRunner runner);

// The user's sentence for a result code (empty for RUN_FINISHED).
[[nodiscard]] std::string TraceResultText(DWORD code);
