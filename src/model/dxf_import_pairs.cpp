// Code/value pairs of DXF text and the value checks every DXF reader shares.
#include <algorithm>
#include <cmath>

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

std::string DxfNameToUtf8(const std::string& value) { return ClampLayerName(LegacyTextToUtf8(value)); }

bool DxfNameIs(const std::string& value, const char* name) { return LayerNamesEqual(value, name); }

void DxfWarning(const std::string& text)
{
    if (t_Warnings == nullptr || t_Warnings->size() >= kMaxWarnings)
        return;
    if (std::find(t_Warnings->begin(), t_Warnings->end(), text) == t_Warnings->end())
        t_Warnings->push_back(text);
}

DxfWarningScope::DxfWarningScope(std::vector<std::string>* sink) : m_Previous(t_Warnings) { t_Warnings = sink; }

DxfWarningScope::~DxfWarningScope() { t_Warnings = m_Previous; }
