#pragma once
// Status-bar hints of commands and dialog controls, looked up by id through
// the UI text table.
#include <span>
#include <string>

// One entry: the ids first..last share a key and an English default. A row
// of hints that covers two separate id ranges is two entries.
struct CommandHintEntry {
    unsigned idFirst;
    unsigned idLast;
    const char* key;
    const char* englishDefault;
};

// The hint shown for a command or control id, or "" when the id has none.
[[nodiscard]] std::string GetCommandHint(unsigned id);

// The whole table, ordered by idFirst.
[[nodiscard]] std::span<const CommandHintEntry> GetCommandHintTable();
