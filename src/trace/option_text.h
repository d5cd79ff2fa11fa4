#pragma once
// The options as text: the key lines of a job-file section, which batch jobs
// and `lineweft options` use, and a readable summary for job lists.
//
// A job section (numbers in the C locale):
//   AutoGray=0|1  Gray=N  Method=Center|Outline|FillPattern
//   Center:      Chart, Straighten, Circle, Width [WidthSeries], Connect
//                [distance], Force [AngleSeries], Delete [Length]
//   Outline:     Straighten, Circle, Fill [Type, Space]
//   FillPattern: Type, Space
// Reading starts from the record's current values; a centre-line value that
// differs from the named chart type renames it "Unnamed". Every value is
// clamped as the settings store clamps it. The members of CTraceOption that
// read and write this live in option_text.cpp.
#include <string>

#include "platform/profile_file.h"
#include "trace/trace_option.h"

// The section `lineweft options` writes its options under.
inline constexpr const char* kJobOptionSection = "Options";

// The first section of a job file that holds tracing options (one with a
// "Method" key), or "" when there is none.
[[nodiscard]] std::string FindJobOptionSection(const CProfileFile& profile);

// Reads one job section of a file into option. With an empty section name
// the first section holding options is taken. False, with the reason in
// error and option untouched, when the file cannot be read or has no such
// section.
[[nodiscard]] bool LoadJobFileOptions(const std::string& path, const std::string& section, CTraceOption& option,
                                      std::string* error = nullptr);
