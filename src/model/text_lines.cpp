#include "model/text_lines.h"

namespace {

bool IsTextLineBreak(int c) { return c == '\r' || c == '\n' || c == '\0'; }

// One rule for files and memory: next() yields the next byte or EOF.
template <class NextByte>
std::string CollectTextLine(NextByte next)
{
    int c = next();
    while (c != EOF && IsTextLineBreak(c))
        c = next();
    std::string line;
    while (c != EOF && !IsTextLineBreak(c)) {
        if (line.size() < kTextLineMaxBytes)
            line += static_cast<char>(c);
        c = next();
    }
    return line;
}

}  // namespace

int ReadFileLine(std::FILE* f, char* buffer)
{
    std::size_t n = 0;
    int c = std::getc(f);
    while (c != EOF && c != '\r' && c != '\n') {
        if (n < kFileLineMaxChars)
            buffer[n++] = static_cast<char>(c);
        c = std::getc(f);
    }
    buffer[n] = '\0';
    if (c == '\r') {
        // CR LF is one line end; a lone CR (old Mac files) is one too.
        const int next = std::getc(f);
        if (next == '\n')
            return next;
        if (next != EOF)
            std::ungetc(next, f);
    }
    return c;
}

std::string ReadTextLine(std::FILE* f)
{
    return CollectTextLine([f] { return std::getc(f); });
}

std::string ReadTextLine(std::string_view& rest)
{
    return CollectTextLine([&rest]() -> int {
        if (rest.empty())
            return EOF;
        const auto c = static_cast<unsigned char>(rest.front());
        rest.remove_prefix(1);
        return c;
    });
}
