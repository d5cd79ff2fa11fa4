// convert: a project (.lwt) or DXF file in, any output format out (another
// project included). The drawing is loaded whole, optionally given another
// unit, and written as trace writes its result.
#include "cli/command.h"

#include "cli/drawing_output.h"
#include "cli/option_table.h"
#include "cli/stdin_input.h"
#include "model/graph.h"

#include <cstdint>
#include <cstdio>

namespace {

struct ConvertArgs {
    std::string input;
    std::string output;
    std::string format;
    int unit = -1;  // DrawingUnit; -1 keeps the file's
    bool widths = true;
};

std::vector<CCliOption> ConvertOptions(ConvertArgs& out)
{
    std::vector<CCliOption> options = {TextOption({"-o", "--output"}, "FILE", "the file to write", out.output)};
    AddDrawingOutputOptions(options, out.format, out.unit, out.widths);
    return options;
}

// Empty on success, else the usage error's message.
std::string ParseArgs(const std::vector<std::string>& args, ConvertArgs& out)
{
    std::vector<std::string> positional;
    if (std::string error = ParseCommandLine(args, ConvertOptions(out), 1, positional); !error.empty())
        return error;
    if (positional.empty())
        return "convert needs an input file (.lwt or .dxf)";
    out.input = positional[0];
    if (out.input != "-" && !IsProjectPath(out.input) && !IsDxfPath(out.input))
        return "cannot tell the input kind from '" + out.input + "': convert reads .lwt and .dxf files";
    if (out.output.empty())
        return "convert needs an output file (-o FILE)";
    return {};
}

}  // namespace

int RunConvert(const std::vector<std::string>& args)
{
    ConvertArgs parsed;
    if (std::string problem = ParseArgs(args, parsed); !problem.empty())
        return UsageError(problem);
    CDrawingOutput output;
    if (const int status = ChooseDrawingOutput(parsed.output, parsed.format, output); status != kExitOk)
        return status;

    CStdinInput stdinInput;
    std::string error;
    if (!stdinInput.Take(parsed.input, error)) {
        std::fprintf(stderr, "lineweft: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!IsProjectPath(parsed.input) && !IsDxfPath(parsed.input)) {
        std::fprintf(stderr, "lineweft: standard input holds neither a project nor a DXF file\n");
        return kExitFailure;
    }
    CGraph drawing;
    const bool loaded = IsProjectPath(parsed.input) ? drawing.LoadProject(parsed.input, nullptr, &error)
                                                    : ReadDxfDrawing(drawing, parsed.input, error);
    if (!loaded) {
        std::fprintf(stderr, "lineweft: cannot read '%s': %s\n", parsed.input.c_str(), error.c_str());
        return kExitFailure;
    }
    if (parsed.unit >= 0)
        (void)drawing.SetUnit(static_cast<std::uint32_t>(parsed.unit));
    if (!WriteDrawingOutput(drawing, parsed.output, output, parsed.widths, error)) {
        std::fprintf(stderr, "lineweft: cannot write '%s': %s\n", parsed.output.c_str(), error.c_str());
        return kExitFailure;
    }
    const int layers = drawing.GetLayerCount();
    std::fprintf(stderr, "%s: %d entities on %d layer%s\n", parsed.output.c_str(), drawing.GetEntityCount(), layers,
                 layers == 1 ? "" : "s");
    stdinInput.Remove();
    return ExitSkippingTeardown(kExitOk);
}

std::string ConvertDetails()
{
    ConvertArgs unused;
    return std::string("\n") + kStdinNote + "\nOptions:\n" + CommandOptionsHelp(ConvertOptions(unused));
}
