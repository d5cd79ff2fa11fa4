// The memory stream: what goes through stdio is the content, in order, past
// its first mapping, after seeks within it, and again after a clear.
#include "platform/memory_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Pattern(std::size_t size, unsigned seed)
{
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
    return text;
}

TEST(MemoryFile, SmallAndLargeWritesMakeTheContentInOrder)
{
    for (auto buffering : {MemoryFile::Buffering::kBuffered, MemoryFile::Buffering::kUnbuffered}) {
        MemoryFile file(buffering);
        ASSERT_NE(file.Get(), nullptr);
        std::string expected;
        for (int i = 0; i < 20000; ++i) {
            const std::string small = std::to_string(i) + ",";
            ASSERT_EQ(std::fputs(small.c_str(), file.Get()), 1);
            expected += small;
        }
        // Well past the first mapping, so the block moves as it grows.
        const std::string large = Pattern(3 << 20, 5);
        ASSERT_EQ(std::fwrite(large.data(), 1, large.size(), file.Get()), large.size());
        expected += large;
        ASSERT_EQ(std::fprintf(file.Get(), "%d\n", 42), 3);
        expected += "42\n";
        ASSERT_TRUE(file.Finish());
        EXPECT_TRUE(file.Content() == expected);
        EXPECT_FALSE(file.Finish()) << "finished once";
    }
}

TEST(MemoryFile, SeeksStayWithinTheContentAndClearStartsAnew)
{
    MemoryFile file;
    std::FILE* stream = file.Get();
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::fputs("0123456789", stream), 1);
    ASSERT_EQ(std::fseek(stream, 3, SEEK_SET), 0);
    ASSERT_EQ(std::fputs("abc", stream), 1);
    EXPECT_EQ(std::ftell(stream), 6);
    ASSERT_EQ(std::fseek(stream, -1, SEEK_END), 0);
    ASSERT_EQ(std::fputs("Z!", stream), 1);
    EXPECT_NE(std::fseek(stream, 100, SEEK_SET), 0) << "past the end";
    ASSERT_EQ(std::fflush(stream), 0);
    EXPECT_EQ(file.Content(), "012abc678Z!");

    file.Clear();
    ASSERT_EQ(std::fputs("new", stream), 1);
    EXPECT_NE(std::fseek(stream, 5, SEEK_SET), 0) << "the earlier bytes are gone";
    ASSERT_TRUE(file.Finish());
    EXPECT_EQ(file.Content(), "new");
}

}  // namespace
