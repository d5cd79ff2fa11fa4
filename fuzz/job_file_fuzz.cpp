// Job files come from users and other machines: any bytes must read into an
// option record without a crash, every value must land inside the range the
// kernels rely on, and what the record writes must read back to itself and
// pass the value check.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

#include "fuzz_folder.h"
#include "platform/profile_file.h"
#include "trace/option_text.h"
#include "trace/trace_option.h"

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

void CheckRanges(const CTraceOption& o)
{
    Check(o.i_AutoTraceWhat >= TRACE_CENTER_LINE && o.i_AutoTraceWhat <= TRACE_FILL_PATTERN);
    const CChartType& c = o.ChartType;
    Check(std::isfinite(c.d_MaxDis) && c.d_MaxDis >= 0);
    Check(c.i_ConDis >= 0 && c.i_DelLine_Length >= 0);
    Check(std::isfinite(o.Outline.d_MaxDis) && o.Outline.d_MaxDis >= 0);
    Check(o.Outline.i_FillType <= FILL_SOLID && o.FillPattern.i_FillType <= FILL_CROSS);
    Check(std::isfinite(o.Outline.d_FillSpace) && o.Outline.d_FillSpace >= kMinFillSpace);
    Check(std::isfinite(o.FillPattern.d_FillSpace) && o.FillPattern.d_FillSpace >= kMinFillSpace);
    const std::vector<double> widths = c.WidthSeries.GetWidths();
    for (size_t i = 1; i < widths.size(); ++i)
        Check(widths[i] > widths[i - 1]);
}

}  // namespace

// Chart types and series named in a job are looked up in the settings store:
// give the run an empty one of its own rather than the user's.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("LINEWEFT_CONFIG_DIR", MakeFuzzFolder("lineweft-job-fuzz").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CProfileFile profile;
    profile.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::vector<std::string> sections = profile.GetSectionNames();
    for (size_t i = 0; i < sections.size() && i < 4; ++i) {
        // Every value reported names the line it stands on.
        for (const CJobValueProblem& problem : CheckJobSection(profile, sections[i]))
            Check(problem.line > 0 && static_cast<std::size_t>(problem.line) <= size + 1);
        CTraceOption option;
        option.ReadJobSection(profile, sections[i]);
        CheckRanges(option);
        (void)option.GetDescriptionText();

        // Written and read back into a fresh record, the text stays the same.
        const std::string text = option.GetJobText();
        CProfileFile written;
        written.Parse("[" + std::string(kJobOptionSection) + "]\n" + text);
        CTraceOption back;
        back.ReadJobSection(written, kJobOptionSection);
        CheckRanges(back);
        Check(back.GetJobText() == text);
        // What the record writes is never refused.
        Check(CheckJobSection(written, kJobOptionSection).empty());
    }
    return 0;
}
