#pragma once
// A command's options as one table: the parser reads the arguments by it and
// the help (and so the manual page made from the help) is written from it,
// so the two cannot tell different stories.
#include <functional>
#include <string>
#include <vector>

struct CRasterStep;

struct CCliOption {
    std::vector<const char*> names;  // "-o", "--output"
    const char* value;               // the value's name in the help; null for a flag
    std::string help;                // a line break continues it at the help column
    // Takes the value ("" for a flag): empty when taken, else the usage
    // message.
    std::function<std::string(const std::string& value)> take;
};

// Reads args by the table. Options and raster steps (when steps is given)
// may stand anywhere; other words, "-" among them, are positional, at most
// maxPositional of them. Empty on success, else the usage message of the
// first argument that does not fit.
[[nodiscard]] std::string ParseCommandLine(const std::vector<std::string>& args, const std::vector<CCliOption>& options,
                                           std::size_t maxPositional, std::vector<std::string>& positional,
                                           std::vector<CRasterStep>* steps = nullptr);

// The help lines of the options, one per option (more when its help breaks).
[[nodiscard]] std::string CommandOptionsHelp(const std::vector<CCliOption>& options);

// An option whose value is kept as it is given (the last one counts).
[[nodiscard]] CCliOption TextOption(std::vector<const char*> names, const char* value, std::string help,
                                    std::string& target);

// --set KEY=VALUE: job-file keys, kept in the order given; its help lists the
// keys by method.
[[nodiscard]] CCliOption SetOption(std::vector<std::string>& settings);

// One help row: the usage ("--page N") padded to the help column, then the
// help, each of its further lines indented to that column.
[[nodiscard]] std::string HelpRow(const std::string& usage, const std::string& help);
