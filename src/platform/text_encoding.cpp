#include "platform/text_encoding.h"

#include <iconv.h>

#include <cstdint>
#include <utility>

namespace {

// Code points of bytes 0x80..0x9F; from 0xA0 on the code page equals Latin-1.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The code points past the Basic Multilingual Plane and their UTF-8 lead.
constexpr char32_t kFirstSupplementary = 0x10000;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed sequence at p[i], 0 when it is malformed.
std::size_t SequenceLength(const unsigned char* p, std::size_t n, std::size_t i)
{
    const unsigned char c = p[i];
    if (c < 0x80)
        return 1;
    // The lead byte fixes the length and the allowed range of the second
    // byte, which is where overlong forms, surrogates and code points past
    // U+10FFFF show.
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0)
            lo = 0xA0;
        if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (n - i < len)
        return 0;
    if (p[i + 1] < lo || p[i + 1] > hi)
        return 0;
    for (std::size_t k = 2; k < len; ++k)
        if (!IsContinuation(p[i + k]))
            return 0;
    return len;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < kFirstSupplementary) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsValidUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = SequenceLength(p, text.size(), i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

bool NextUtf8CodePoint(std::string_view text, std::size_t* at, char32_t* codePoint)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t len = SequenceLength(p, text.size(), *at);
    if (len == 0) {
        ++*at;
        return false;
    }
    static constexpr unsigned char kLeadBits[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t cp = p[*at] & kLeadBits[len];
    for (std::size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (p[*at + k] & 0x3F);
    *at += len;
    *codePoint = cp;
    return true;
}

int CodePointToCp1252(char32_t codePoint)
{
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF))
        return static_cast<int>(codePoint);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == codePoint)
            return 0x80 + i;
    return -1;
}

bool CodePageToUtf8(std::string_view bytes, const char* codePage, std::string* out)
{
    iconv_t cd = iconv_open("UTF-8", codePage);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    // Four bytes of UTF-8 at most for each byte of the code page.
    std::string converted(bytes.size() * 4, '\0');
    std::string input(bytes);
    char* in = input.data();
    char* to = converted.data();
    std::size_t inLeft = input.size(), outLeft = converted.size();
    const bool ok = iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<std::size_t>(-1) &&
                    iconv(cd, nullptr, nullptr, &to, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok || inLeft != 0)
        return false;
    converted.resize(converted.size() - outLeft);
    *out = std::move(converted);
    return true;
}

std::string Cp1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out += ch;
        else if (c < 0xA0)
            AppendUtf8(out, kCp1252High[c - 0x80]);
        else
            AppendUtf8(out, c);
    }
    return out;
}

std::string LegacyTextToUtf8(std::string_view bytes)
{
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    return Cp1252ToUtf8(bytes);
}
