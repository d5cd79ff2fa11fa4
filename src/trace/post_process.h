#pragma once
// The post-processing chain that runs after centre-line tracing, and the
// progress plumbing its layer commands share.
//
// Every layer command takes the progress sink (a worker thread, or null for
// a silent run that cannot be stopped) and returns true when it ran to its
// end. With a sink it sends its step text first, a position as entities are
// done, and its end; it tests the stop flag after each entity and, when set,
// posts the end code 10 and returns false with the layer holding what was
// made so far. A memory failure posts 2.
//
// The chain works on the drawing's first layer in place, with the option
// record the run started with.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win_types.h"

class CCommonThread;
class CGraph;
class CInkGuard;
class CLayer;
class CTraceOption;

// The progress of one layer command over count entities: position =
// offset + trunc(done x share), share = span / count. Positions are sent
// only when they change (the display shows nothing new otherwise).
class CStepProgress {
public:
    // Sends the text (looked up in the UI text table) when there is a sink.
    CStepProgress(CCommonThread* sink, const char* textKey, const char* englishDefault);
    // Starts a stretch of positions from offset to offset + span over count
    // entities.
    void SetRange(DWORD offset, DWORD span, std::int64_t count);
    // One more entity done: sends its position, then tests the stop flag.
    // False (end code 10 posted) when the run is to stop.
    [[nodiscard]] bool Advance() { return AdvanceBy(1); }
    // count more entities done: sends the position after them alone.
    [[nodiscard]] bool AdvanceBy(std::size_t count);
    // Tests the stop flag alone; false (end code 10 posted) when set.
    [[nodiscard]] bool Poll();
    // Posts the end code (2 for memory, 20 for a failure) to the sink.
    void Fail(DWORD code);
    // The step's end.
    void End();

private:
    CCommonThread* m_sink;
    std::string m_text;
    DWORD m_offset = 0;
    double m_share = 0;
    std::int64_t m_done = 0;
    DWORD m_last = ~DWORD{0};
};

// The batch's entities done at once; false when the run is to stop.
[[nodiscard]] bool AdvanceOverBatch(CStepProgress& step, std::size_t count);

// Lines and polylines shorter than the chart type's i_DelLine_Length are
// removed and deleted (a length equal to it stays). No sink and no stop.
void RemoveShortVectors(CLayer& layer, const CTraceOption& options);

// StraightenPolyline on every polyline with the straighten distance of the
// options' method and the ink guard, if any; progress share 100 / count, stop
// after each entity.
[[nodiscard]] bool StraightenLines(CLayer& layer, CCommonThread* sink, const CTraceOption& options,
                                   const CInkGuard* ink = nullptr);

// The whole chain on the drawing's first layer (made current): line widths,
// then as the chart type switches them connect, short-line removal, circle
// and arc recognition, straightening, angle adjustment, and width rounding
// or clearing. A step runs only while the layer holds an entity. False when
// a step stopped or failed (its code posted) or the chain threw (code 20,
// or 2 for want of memory); the layer keeps what was made so far.
[[nodiscard]] bool RunPostProcessing(CGraph& drawing, CCommonThread* sink, const CTraceOption& options);
