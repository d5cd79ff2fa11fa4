#include "platform/text_encoding.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace {

// glibc's converter is the independent reference for the defined bytes; it
// rejects the five the code page leaves open, which we keep as C1 controls.
bool IconvCp1252(unsigned char byte, std::string& out)
{
    iconv_t cd = iconv_open("UTF-8", "CP1252");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    char in[1] = {static_cast<char>(byte)};
    char buf[8] = {};
    char* inp = in;
    char* outp = buf;
    std::size_t inLeft = 1, outLeft = sizeof buf;
    const bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (ok)
        out.assign(buf, sizeof buf - outLeft);
    return ok;
}

TEST(Utf8Validation, AcceptsWellFormedText)
{
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain ASCII = 7 bit"));
    EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9"));               // é
    EXPECT_TRUE(IsValidUtf8("\xE2\x82\xAC"));              // €
    EXPECT_TRUE(IsValidUtf8("\xF0\x9D\x84\x9E"));          // U+1D11E
    EXPECT_TRUE(IsValidUtf8("\xED\x9F\xBF\xEE\x80\x80"));  // around the surrogates
    EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));          // U+10FFFF
    EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));
}

TEST(Utf8Validation, RejectsMalformedSequences)
{
    EXPECT_FALSE(IsValidUtf8("caf\xE9"));  // a Windows-1252 é
    EXPECT_FALSE(IsValidUtf8("\x80"));     // lone continuation
    EXPECT_FALSE(IsValidUtf8("\xC3"));     // truncated at the end
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"
                             "A"));         // truncated inside
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));  // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xC1\xBF"));
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));
    EXPECT_FALSE(IsValidUtf8("\xF0\x80\x80\xAF"));
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xF5\x80\x80\x80"));
    EXPECT_FALSE(IsValidUtf8("\xFF"));
}

TEST(Cp1252Conversion, DefinedBytesMatchTheSystemConverter)
{
    int compared = 0;
    for (int b = 0; b < 256; ++b) {
        std::string expected;
        if (!IconvCp1252(static_cast<unsigned char>(b), expected))
            continue;
        EXPECT_EQ(Cp1252ToUtf8(std::string(1, static_cast<char>(b))), expected) << "byte " << b;
        ++compared;
    }
    if (compared == 0)
        GTEST_SKIP() << "no CP1252 converter in this C library";
    EXPECT_EQ(compared, 251);
}

TEST(Cp1252Conversion, UndefinedBytesBecomeC1Controls)
{
    for (const int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        const std::string expected = {static_cast<char>(0xC2), static_cast<char>(b)};
        EXPECT_EQ(Cp1252ToUtf8(std::string(1, static_cast<char>(b))), expected) << "byte " << b;
    }
}

TEST(Cp1252Conversion, EveryByteGivesValidUtf8)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string utf8 = Cp1252ToUtf8(all);
    EXPECT_TRUE(IsValidUtf8(utf8));
    // One code point per byte: count the lead bytes.
    int codePoints = 0;
    for (const char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++codePoints;
    EXPECT_EQ(codePoints, 256);
    EXPECT_EQ(Cp1252ToUtf8("Gr\xFC\xDF \x80 \x93x\x94"), "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D");
}

// Decoding the UTF-8 of every byte gives back its code point, whose byte is
// the one converted; a code point the code page lacks has none.
TEST(Cp1252Conversion, EveryByteComesBackFromItsCodePoint)
{
    for (int b = 0; b < 256; ++b) {
        const std::string utf8 = Cp1252ToUtf8(std::string(1, static_cast<char>(b)));
        std::size_t at = 0;
        char32_t codePoint = 0;
        ASSERT_TRUE(NextUtf8CodePoint(utf8, &at, &codePoint)) << "byte " << b;
        EXPECT_EQ(at, utf8.size());
        EXPECT_EQ(CodePointToCp1252(codePoint), b);
        std::string again;
        AppendUtf8(again, codePoint);
        EXPECT_EQ(again, utf8);
    }
    EXPECT_EQ(CodePointToCp1252(0x0421), -1);
    std::size_t at = 0;
    char32_t codePoint = 0;
    EXPECT_TRUE(NextUtf8CodePoint("\xF0\x9F\x98\x80", &at, &codePoint));
    EXPECT_EQ(codePoint, 0x1F600u);
    at = 0;
    EXPECT_FALSE(NextUtf8CodePoint("\xE9t", &at, &codePoint));
    EXPECT_EQ(at, 1u);
}

TEST(LegacyText, KeepsUtf8AndConvertsEverythingElse)
{
    EXPECT_EQ(LegacyTextToUtf8("Zoom in"), "Zoom in");
    EXPECT_EQ(LegacyTextToUtf8("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(LegacyTextToUtf8("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");
    // Valid UTF-8 mixed with a stray code-page byte: the whole text is
    // code-page text, so each byte converts on its own.
    EXPECT_EQ(LegacyTextToUtf8("\xC3\xA9\xE9"), "\xC3\x83\xC2\xA9\xC3\xA9");
}

}  // namespace
