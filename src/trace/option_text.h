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
#include <vector>

#include "platform/profile_file.h"
#include "trace/trace_option.h"

// The section `lineweft options` writes its options under.
inline constexpr const char* kJobOptionSection = "Options";

// The first section of a job file that holds tracing options (one with a
// "Method" key), or "" when there is none.
[[nodiscard]] std::string FindJobOptionSection(const CProfileFile& profile);

// A value of a job section that reading would quietly replace: a method it
// does not know, a number that does not parse or lies outside its range.
struct CJobValueProblem {
    std::string key;
    std::string value;
    int line = 0;          // from 1
    std::string expected;  // "Gray takes a grey level from 0 to 255"
};

// The values of the section that are outside their range, in the order of
// the file's lines (the method's own keys only when the method is known).
[[nodiscard]] std::vector<CJobValueProblem> CheckJobSection(const CProfileFile& profile, const std::string& section);

// Reads one job section of a file into option. With an empty section name
// the first section holding options is taken. False, with the reason in
// error and option untouched, when the file cannot be read or has no such
// section. With problems given, the section's values are checked first: any
// bad value fails the load, is listed there, and error names each one by
// its line ("job.lwj:4: Method=Banana: ...").
[[nodiscard]] bool LoadJobFileOptions(const std::string& path, const std::string& section, CTraceOption& option,
                                      std::string* error = nullptr, std::vector<CJobValueProblem>* problems = nullptr);

// The keys of a job section in the order of the description above, each
// with the methods it belongs to ("" for every method).
struct CJobKey {
    const char* name;
    const char* methods;
};
[[nodiscard]] const std::vector<CJobKey>& GetJobKeys();

// Sets single job-file keys ("KEY=VALUE", a key of GetJobKeys in any case)
// over option, read as the job reader reads a section: the section is the
// options' own key lines with the given keys in their place (the last of a
// repeated key counts). A new Method writes the new method's own keys from
// the options; a new Chart lets the chart type's values stand unless set too.
// False, with the reason in error and option untouched, for a setting without
// "=", an unknown key or a value on more than one line, and for values the
// job reader would replace or not read at all, being another method's (each
// listed in problems, and in error as "--set KEY=VALUE: expected").
[[nodiscard]] bool ApplyJobSettings(const std::vector<std::string>& settings, CTraceOption& option,
                                    std::string* error = nullptr, std::vector<CJobValueProblem>* problems = nullptr);
