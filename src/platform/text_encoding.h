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

// Converts text in another code page to UTF-8 through the C library's
// converters, the code page named as they name it ("CP1251", "CP932").
// False, *out unchanged, when there is no such converter or the bytes are
// not text in that code page.
[[nodiscard]] bool CodePageToUtf8(std::string_view bytes, const char* codePage, std::string* out);

// The code point of the UTF-8 sequence at text[*at], with *at moved past it;
// false at a malformed sequence, *at then moved on by one byte.
[[nodiscard]] bool NextUtf8CodePoint(std::string_view text, std::size_t* at, char32_t* codePoint);
// Appends a code point (up to U+10FFFF, no surrogates) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);
// The Windows-1252 byte of a code point; -1 when the code page lacks it.
[[nodiscard]] int CodePointToCp1252(char32_t codePoint);
