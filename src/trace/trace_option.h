#pragma once
// The tracing option record: everything a trace needs besides the raster
// (the chart type with its series, the outline and fill-pattern parameters,
// the method and the grey threshold) and the view colours and grip settings
// kept with them.
//
// One global record is the application's current setting: built with the
// defaults, loaded from the settings store at start-up, edited by the user
// interface and saved at exit. A trace run never reads it while it runs: it
// works on a snapshot taken when it starts, so the interface may change the
// global record meanwhile. Records copy deeply.
//
// Only the global record publishes its background colour to the colour index
// palette (colour 7 contrasts with it); other records (snapshots, the batch
// jobs) leave the display alone.
#include <cstdio>
#include <string>

#include "platform/colorref.h"
#include "platform/win_types.h"
#include "trace/chart_type.h"

// Tracing methods.
enum : UINT { TRACE_CENTER_LINE = 1, TRACE_OUTLINE = 2, TRACE_FILL_PATTERN = 3 };
// Fill types of the outline hatch and the fill pattern.
enum : UINT { FILL_HORIZONTAL = 0, FILL_VERTICAL = 1, FILL_CROSS = 2, FILL_SOLID = 3 };

// Fill spacings below this would hatch a row many thousand times over (and a
// spacing too small to move the scan position would never end).
inline constexpr double kMinFillSpace = 0.01;

struct COutlineOption {
    double d_MaxDis = 1.5;  // straighten distance of the outline method
    bool b_RecogniseCirArc = true;
    bool b_Fill = false;
    UINT i_FillType = FILL_SOLID;  // 0..3
    double d_FillSpace = 1.0;      // pixels, at least kMinFillSpace
};

struct CFillPatternOption {
    UINT i_FillType = FILL_HORIZONTAL;  // 0..2
    double d_FillSpace = 1.0;
};

class CProfileFile;

class CTraceOption {
public:
    CTraceOption();
    CTraceOption(const CTraceOption& other) : CTraceOption() { Copy(other); }
    CTraceOption& operator=(const CTraceOption& other)
    {
        Copy(other);
        return *this;
    }

    CChartType ChartType;
    COutlineOption Outline;
    CFillPatternOption FillPattern;
    UINT i_AutoTraceWhat = TRACE_CENTER_LINE;
    BYTE i_Gray = 128;
    bool b_AutoGray = true;
    UINT i_SearchStepCap = 128;  // largest step of the simplification's chord search; not stored

    COLORREF c_NormalColor = 0;
    UINT c_NormalColorIndex = 5;
    COLORREF c_SelectColor = 0;
    UINT c_SelectColorIndex = 1;
    COLORREF c_BackGroundColor = 0;
    UINT c_BackGroundColorIndex = 7;
    COLORREF c_OsnapBoxColor = 0;
    UINT c_OsnapBoxColorIndex = 6;
    COLORREF c_GripBoxColor = 0;
    WORD c_GripBoxColorIndex = 214;
    COLORREF c_SelGripBoxColor = 0;
    WORD c_SelGripBoxColorIndex = 3;
    WORD i_GripBoxHalfWidth = 4;
    UINT GridPointType = 0;       // 0..2
    UINT i_VectorFileFormat = 7;  // 1..9
    bool b_Batch = false;         // the batch dialog's

    void SetDefaults();
    // Copies everything; the grip colours are recomputed from their indexes.
    void Copy(const CTraceOption& other);
    // The straighten distance of the current method.
    [[nodiscard]] double GetMaxDis() const;
    // Recomputes every RGB value from its index (the background first, as
    // colour 7 of the others depends on it).
    void UpdateColors();

    // Settings store: the keys "Option", "Option\Center", "Option\Outline"
    // and "Option\FillPattern". A key that is missing keeps the record's
    // values; saving reports each key it could not write and returns false.
    void LoadFromRegistry();
    [[nodiscard]] bool SaveToRegistry() const;

    // Job files (option_text.cpp). WriteJobText writes the key lines of one
    // section (the caller writes the header); ReadJobSection reads a section
    // of a parsed profile, or of a file (false when it cannot be read).
    [[nodiscard]] std::string GetJobText() const;
    bool WriteJobText(FILE* file) const;
    void ReadJobSection(const CProfileFile& profile, const std::string& section);
    [[nodiscard]] bool ReadJobSection(const std::string& section, const std::string& path);
    [[nodiscard]] std::string GetDescriptionText() const;
    bool GetDescription(FILE* file) const;

private:
    friend CTraceOption& GetTraceOption();
    struct GlobalTag {};
    explicit CTraceOption(GlobalTag);

    void LoadCenterFromRegistry();
    void PublishBackground() const;

    bool m_IsGlobal = false;
};

// The application's current options.
[[nodiscard]] CTraceOption& GetTraceOption();
// A copy of the current options for a run that must not see later changes.
// Take it on the thread that edits the options.
[[nodiscard]] CTraceOption SnapshotTraceOption();

// The clamps every loader applies, store and job file alike.
[[nodiscard]] BYTE ClampGray(long long v);
[[nodiscard]] int ClampDistance(long long v);  // lengths and distances: 0 and up
[[nodiscard]] double ClampFillSpace(double v, double fallback);
