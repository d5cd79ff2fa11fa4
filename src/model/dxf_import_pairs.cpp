// Code/value pairs of DXF text and the value checks every DXF reader shares.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "model/dxf_import.h"
#include "model/layer.h"
#include "platform/number_text.h"
#include "platform/text_encoding.h"
#include "platform/text_trim.h"

namespace {

// Longest line kept. Values that matter (numbers, names of at most 255
// bytes) are far shorter; the rest of a longer line is dropped, never read as
// a line of its own, so the pairs stay in step.
constexpr std::size_t kMaxDxfLine = 4096;
constexpr std::int32_t kCommentCode = 999;
// Distinct warnings kept per import; a hostile file could otherwise make
// one per entity.
constexpr std::size_t kMaxWarnings = 100;

thread_local std::vector<std::string>* t_Warnings = nullptr;

// The file's code page as the C library's converters name it, empty for
// Windows-1252.
thread_local std::string t_CodePage;
// A code page's number has a few digits.
constexpr std::size_t kMaxCodePageDigits = 5;

// "\U+XXXX": the escape of a character a code page lacks, a UTF-16 code
// unit; a character past U+FFFF is a surrogate pair of them, or (as some
// writers put it) eight digits.
constexpr char kEscape[] = "\\U+";
constexpr std::size_t kEscapeLength = 7, kLongEscapeLength = 11;
constexpr char32_t kFirstPrintable = 0x20, kFirstHighSurrogate = 0xD800, kFirstLowSurrogate = 0xDC00,
                   kPastLowSurrogate = 0xE000, kFirstSupplementary = 0x10000, kLastCodePoint = 0x10FFFF;

// The value of the hexadecimal digits text[from, to); -1 when any is none.
long HexValue(const std::string& text, std::size_t from, std::size_t to)
{
    if (to > text.size())
        return -1;
    long value = 0;
    for (std::size_t k = from; k < to; ++k) {
        const char c = text[k];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

// The character of an escape at text[at] and the escape's length; 0 when
// no escape of a printable character starts there.
char32_t EscapeAt(const std::string& text, std::size_t at, std::size_t* length)
{
    if (text.compare(at, 3, kEscape) != 0)
        return 0;
    const long unit = HexValue(text, at + 3, at + kEscapeLength);
    if (unit < 0)
        return 0;
    *length = kEscapeLength;
    if (unit < static_cast<long>(kFirstPrintable)) {
        const long wide = HexValue(text, at + 3, at + kLongEscapeLength);
        *length = kLongEscapeLength;
        return wide >= static_cast<long>(kFirstSupplementary) && wide <= static_cast<long>(kLastCodePoint)
                   ? static_cast<char32_t>(wide)
                   : 0;
    }
    if (unit >= static_cast<long>(kFirstLowSurrogate) && unit < static_cast<long>(kPastLowSurrogate))
        return 0;
    if (unit < static_cast<long>(kFirstHighSurrogate) || unit >= static_cast<long>(kFirstLowSurrogate))
        return static_cast<char32_t>(unit);
    const long low = text.compare(at + kEscapeLength, 3, kEscape) == 0
                         ? HexValue(text, at + kEscapeLength + 3, at + 2 * kEscapeLength)
                         : -1;
    if (low < static_cast<long>(kFirstLowSurrogate) || low >= static_cast<long>(kPastLowSurrogate))
        return 0;
    *length = 2 * kEscapeLength;
    return kFirstSupplementary + ((static_cast<char32_t>(unit) - kFirstHighSurrogate) << 10) +
           (static_cast<char32_t>(low) - kFirstLowSurrogate);
}

// Each escape turned into its character; one of nothing printable (a
// control, a lone surrogate) stays as written.
std::string DecodeEscapes(const std::string& text)
{
    if (text.find(kEscape) == std::string::npos)
        return text;
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        if (const char32_t c = EscapeAt(text, at, &length); c != 0) {
            AppendUtf8(out, c);
            at += length;
        } else {
            out += text[at++];
        }
    }
    return out;
}

std::string DecodeDxfText(const std::string& value)
{
    if (IsValidUtf8(value))
        return DecodeEscapes(value);
    std::string converted;
    if (t_CodePage.empty() || !CodePageToUtf8(value, t_CodePage.c_str(), &converted))
        converted = Cp1252ToUtf8(value);
    return DecodeEscapes(converted);
}

enum class LineStatus { kLine, kEnd };

LineStatus ReadDxfLine(std::FILE* file, std::string& line)
{
    line.clear();
    int c = std::getc(file);
    if (c == EOF)
        return LineStatus::kEnd;
    if (c == '\0') {
        std::ungetc(c, file);
        return LineStatus::kEnd;
    }
    while (c != EOF && c != '\n' && c != '\r') {
        // A NUL ends the text: leave the stream at it so every later read
        // stops there too.
        if (c == '\0') {
            std::ungetc(c, file);
            break;
        }
        if (line.size() < kMaxDxfLine)
            line += static_cast<char>(c);
        c = std::getc(file);
    }
    if (c == '\r') {
        const int next = std::getc(file);
        if (next != '\n' && next != EOF)
            std::ungetc(next, file);
    }
    const std::string_view trimmed = TrimChars(line, " \t");
    line = std::string(trimmed);
    return LineStatus::kLine;
}

}  // namespace

DxfPairStatus ReadDxfPair(std::FILE* file, CDxfPair& pair, long* codeAt)
{
    std::string codeLine;
    for (;;) {
        if (codeAt != nullptr)
            *codeAt = std::ftell(file);
        if (ReadDxfLine(file, codeLine) == LineStatus::kEnd)
            return DxfPairStatus::kEnd;
        if (ReadDxfLine(file, pair.value) == LineStatus::kEnd)
            return DxfPairStatus::kEnd;
        if (!ParseIntC(codeLine, pair.code)) {
            if (codeAt != nullptr)
                pair.value = codeLine;
            return DxfPairStatus::kBadCode;
        }
        if (pair.code != kCommentCode)
            return DxfPairStatus::kPair;
    }
}

DxfGroupStatus ReadDxfGroup(std::FILE* file, CDxfPair& pair)
{
    const long start = std::ftell(file);
    if (ReadDxfPair(file, pair) != DxfPairStatus::kPair)
        return DxfGroupStatus::kFailed;
    if (pair.code != 0)
        return DxfGroupStatus::kGroup;
    // A stream that cannot seek back would lose the next record's name.
    if (start < 0 || std::fseek(file, start, SEEK_SET) != 0)
        return DxfGroupStatus::kFailed;
    return DxfGroupStatus::kRecordEnd;
}

bool ParseDxfCoordinate(const std::string& value, double& out)
{
    double parsed = 0;
    if (!ParseDoubleC(value, parsed) || !IsCoordinateInRange(parsed))
        return false;
    out = parsed;
    return true;
}

bool ParseDxfInt(const std::string& value, std::int32_t& out) { return ParseIntC(value, out); }

std::int16_t DxfEntityColor(const std::string& value)
{
    constexpr std::int16_t kByLayer = 256;
    std::int32_t color = 0;
    if (!ParseIntC(value, color) || color < 1 || color > 255)
        return kByLayer;
    return static_cast<std::int16_t>(color);
}

std::string DxfNameToUtf8(const std::string& value) { return ClampLayerName(DecodeDxfText(value)); }

bool DxfNameIs(const std::string& value, const char* name) { return LayerNamesEqual(value, name); }

void DxfWarning(const std::string& text)
{
    if (t_Warnings == nullptr || t_Warnings->size() >= kMaxWarnings)
        return;
    if (std::find(t_Warnings->begin(), t_Warnings->end(), text) == t_Warnings->end())
        t_Warnings->push_back(text);
}

DxfTextScope::DxfTextScope() : m_PreviousCodePage(std::move(t_CodePage)) { t_CodePage.clear(); }

DxfTextScope::~DxfTextScope() { t_CodePage = std::move(m_PreviousCodePage); }

void SetDxfCodePage(const std::string& name)
{
    // "ANSI_1251" and "DOS850" are the converters' "CP1251" and "CP850".
    std::string digits;
    for (const char* prefix : {"ANSI_", "DOS"}) {
        const std::size_t length = std::strlen(prefix);
        if (name.size() > length && DxfNameIs(name.substr(0, length), prefix))
            digits = name.substr(length);
    }
    const bool number = !digits.empty() && digits.size() <= kMaxCodePageDigits &&
                        digits.find_first_not_of("0123456789") == std::string::npos;
    t_CodePage = number && digits != "1252" ? "CP" + digits : "";
}

DxfWarningScope::DxfWarningScope(std::vector<std::string>* sink) : m_Previous(t_Warnings) { t_Warnings = sink; }

DxfWarningScope::~DxfWarningScope() { t_Warnings = m_Previous; }
