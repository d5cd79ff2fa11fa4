#include "model/text_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A real file opened in binary, as the readers see them.
FilePtr FileWith(const std::string& bytes)
{
    FilePtr f(std::tmpfile());
    if (!f)
        return f;
    std::fwrite(bytes.data(), 1, bytes.size(), f.get());
    std::rewind(f.get());
    return f;
}

struct FileLine {
    std::string text;
    int last;
};

// Every ReadFileLine result up to and including the first one past the end.
std::vector<FileLine> ReadAllFileLines(std::FILE* f)
{
    std::vector<FileLine> lines;
    for (int guard = 0; guard < 1000; ++guard) {
        char buffer[kFileLineBufferSize];
        std::fill(std::begin(buffer), std::end(buffer), 'x');
        const int last = ReadFileLine(f, buffer);
        lines.push_back({buffer, last});
        if (last == EOF && buffer[0] == '\0')
            break;
    }
    return lines;
}

std::vector<std::string> Texts(const std::vector<FileLine>& lines)
{
    std::vector<std::string> texts;
    for (const FileLine& l : lines)
        texts.push_back(l.text);
    return texts;
}

TEST(ReadFileLine, CrLfLfAndCrFilesGiveTheSameLines)
{
    const std::vector<std::string> expected = {"  0", "SECTION", "  2", "", "  0", "EOF", ""};
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        std::string bytes;
        for (std::size_t i = 0; i + 1 < expected.size(); ++i)
            bytes += expected[i] + eol;
        FilePtr f = FileWith(bytes);
        ASSERT_TRUE(f);
        EXPECT_EQ(Texts(ReadAllFileLines(f.get())), expected) << "line end " << static_cast<int>(eol[0]);
    }
}

TEST(ReadFileLine, ReturnsTheCharacterThatEndedTheLine)
{
    FilePtr f = FileWith("a\nb\r\nc\rd");
    ASSERT_TRUE(f);
    const auto lines = ReadAllFileLines(f.get());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].last, '\n');
    EXPECT_EQ(lines[1].last, '\n');
    EXPECT_EQ(lines[2].last, '\r');
    EXPECT_EQ(lines[3].text, "d");  // last line without a line end
    EXPECT_EQ(lines[3].last, EOF);
    EXPECT_EQ(lines[4].text, "");  // the stream was already at its end
    EXPECT_EQ(lines[4].last, EOF);
}

TEST(ReadFileLine, EmptyFileIsAtItsEndAtOnce)
{
    FilePtr f = FileWith("");
    ASSERT_TRUE(f);
    char buffer[kFileLineBufferSize] = {'x'};
    EXPECT_EQ(ReadFileLine(f.get(), buffer), EOF);
    EXPECT_STREQ(buffer, "");
}

TEST(ReadFileLine, OverlongLineKeepsItsStartAndPairsStayInStep)
{
    const std::string longValue(300, 'v');
    const std::string exact(kFileLineMaxChars, 'e');
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        const std::string bytes = std::string("  1") + eol + longValue + eol + "  8" + eol + exact + eol + "  0" + eol;
        FilePtr f = FileWith(bytes);
        ASSERT_TRUE(f);
        const std::vector<std::string> expected = {"  1", longValue.substr(0, kFileLineMaxChars), "  8", exact, "  0",
                                                   ""};
        EXPECT_EQ(Texts(ReadAllFileLines(f.get())), expected) << "line end " << static_cast<int>(eol[0]);
    }
}

TEST(ReadTextLine, SkipsRunsOfLineBreaksOfEveryKind)
{
    const std::string bytes = "\r\n\0\nfirst=1\r\r\nsecond = 2\0\0third\nlast"s;
    const std::vector<std::string> expected = {"first=1", "second = 2", "third", "last"};

    FilePtr f = FileWith(bytes);
    ASSERT_TRUE(f);
    std::vector<std::string> fromFile;
    for (std::string l = ReadTextLine(f.get()); !l.empty(); l = ReadTextLine(f.get()))
        fromFile.push_back(l);
    EXPECT_EQ(fromFile, expected);
    EXPECT_EQ(ReadTextLine(f.get()), "");

    std::string_view rest = bytes;
    std::vector<std::string> fromMemory;
    for (std::string l = ReadTextLine(rest); !l.empty(); l = ReadTextLine(rest))
        fromMemory.push_back(l);
    EXPECT_EQ(fromMemory, expected);
    EXPECT_TRUE(rest.empty());
    EXPECT_EQ(ReadTextLine(rest), "");
}

TEST(ReadTextLine, OverlongLineIsCappedAndTheNextLineSurvives)
{
    const std::string huge(kTextLineMaxBytes + 5000, 'h');
    const std::string bytes = huge + "\nnext=1\n";

    FilePtr f = FileWith(bytes);
    ASSERT_TRUE(f);
    EXPECT_EQ(ReadTextLine(f.get()), huge.substr(0, kTextLineMaxBytes));
    EXPECT_EQ(ReadTextLine(f.get()), "next=1");

    std::string_view rest = bytes;
    EXPECT_EQ(ReadTextLine(rest).size(), kTextLineMaxBytes);
    EXPECT_EQ(ReadTextLine(rest), "next=1");
}

}  // namespace
