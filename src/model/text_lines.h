#pragma once
// Line readers for the text files the program reads: DXF code/value pairs,
// language files and job files. Files are opened in binary, so every reader
// handles CR, LF and CR LF endings itself.
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// ReadFileLine keeps at most this many characters; its buffer holds one more
// for the terminating zero.
inline constexpr std::size_t kFileLineMaxChars = 256;
inline constexpr std::size_t kFileLineBufferSize = kFileLineMaxChars + 1;

// Longest line ReadTextLine returns; the rest of a longer line is dropped so a
// hostile file cannot exhaust memory.
inline constexpr std::size_t kTextLineMaxBytes = 64 * 1024;

// Reads one line into buffer (kFileLineBufferSize bytes), zero-terminated.
// A line ends at LF, CR LF or a lone CR; characters past kFileLineMaxChars
// are read and dropped, so an overlong line never turns into two lines.
// Returns the last character read: '\n' or '\r' at a line end, EOF (-1) when
// the file ended on this line, or EOF with an empty buffer when the stream was
// already at its end.
int ReadFileLine(std::FILE* f, char* buffer);

// Skips leading CR, LF and NUL bytes, then collects bytes up to the next CR,
// LF, NUL or the end of the file. Returns an empty string only at the end of
// the file. Lines are capped at kTextLineMaxBytes.
[[nodiscard]] std::string ReadTextLine(std::FILE* f);

// The same over bytes in memory: reads from the front of rest and advances it
// past what was consumed.
[[nodiscard]] std::string ReadTextLine(std::string_view& rest);
