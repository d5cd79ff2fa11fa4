#pragma once
// Trimming for the line-based text formats, each of which has its own idea of
// what a blank is.
#include <string_view>

// The text without any of the characters in blanks at either end.
[[nodiscard]] inline std::string_view TrimChars(std::string_view text, std::string_view blanks)
{
    while (!text.empty() && blanks.find(text.front()) != std::string_view::npos)
        text.remove_prefix(1);
    while (!text.empty() && blanks.find(text.back()) != std::string_view::npos)
        text.remove_suffix(1);
    return text;
}
