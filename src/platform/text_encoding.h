#pragma once
// Text in the program is UTF-8. Language and job files come from users and
// older installations, often in the Western single-byte code page; they are
// read as bytes and anything that is not valid UTF-8 is taken as
// Windows-1252.
#include <string>
#include <string_view>

// True when the bytes are well-formed UTF-8: no overlong forms, no
// surrogates, nothing past U+10FFFF, no truncated sequence.
[[nodiscard]] bool IsValidUtf8(std::string_view text);

// Converts Windows-1252 bytes to UTF-8. Every byte maps: the five bytes the
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1
// controls of the same number, so no input is ever lost or rejected.
[[nodiscard]] std::string Cp1252ToUtf8(std::string_view bytes);

// The text unchanged when it is valid UTF-8, else converted from
// Windows-1252.
[[nodiscard]] std::string LegacyTextToUtf8(std::string_view bytes);
