#pragma once
// Reading DXF text: the code/value pairs that the drawing's import and every
// entity's reader walk, and the value checks they share.
//
// A DXF text file is a sequence of pairs of lines: an integer group code,
// then its value. Both lines are trimmed of blanks. Lines end at LF, CR LF or
// a lone CR; a NUL byte ends the text (a text DXF never holds one). Comment
// groups (999) are passed over here, so no reader ever sees them.
//
// Entity readers take the open file positioned after the entity's name pair
// and read up to the next group 0, which they leave to be read again: the
// stream is set back to the position remembered before that pair.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct CDxfPair {
    std::int32_t code = 0;
    std::string value;  // trimmed
};

enum class DxfPairStatus {
    kPair,     // a pair was read
    kEnd,      // end of the text; nothing read
    kBadCode,  // the code line is not an integer; the pair was consumed
};

// The next pair that is not a comment. With codeAt, the position of its code
// line, and on kBadCode the line itself in pair.value.
[[nodiscard]] DxfPairStatus ReadDxfPair(std::FILE* file, CDxfPair& pair, long* codeAt = nullptr);

enum class DxfGroupStatus {
    kGroup,      // a group of the current record
    kRecordEnd,  // the next group 0 is next to be read again
    kFailed,     // end of the text or a malformed code (consumed)
};

// One group of an entity record: a group 0 is put back and ends the record.
[[nodiscard]] DxfGroupStatus ReadDxfGroup(std::FILE* file, CDxfPair& pair);

// Reads every group of one record, handing each to take(pair); take returns
// false to refuse the record. True when the record ended at its next group 0
// without a refusal; false at the end of the text, on a malformed code or on
// a refusal (the rest of the record is then left unread).
template <typename Take>
[[nodiscard]] bool ReadDxfRecord(std::FILE* file, Take take)
{
    CDxfPair pair;
    for (;;) {
        switch (ReadDxfGroup(file, pair)) {
        case DxfGroupStatus::kRecordEnd: return true;
        case DxfGroupStatus::kFailed: return false;
        case DxfGroupStatus::kGroup:
            if (!take(pair))
                return false;
            break;
        }
    }
}

// ---- values -----------------------------------------------------------------

// A decimal number in the coordinate range (IsCoordinateInRange; C locale).
[[nodiscard]] bool ParseDxfCoordinate(const std::string& value, double& out);
// A whole integer; false for anything else.
[[nodiscard]] bool ParseDxfInt(const std::string& value, std::int32_t& out);
// An entity colour: indexes 1..255 are kept, everything else (0 by block,
// 256 by layer, negative, unreadable) becomes 256, by layer.
[[nodiscard]] std::int16_t DxfEntityColor(const std::string& value);
// A layer or other symbol name as UTF-8. Text that is valid UTF-8 is kept:
// files from AC1021 on are UTF-8, and writers that declare a code page but
// write UTF-8 are common. Other text is read in the file's code page
// (DxfTextScope). "\U+XXXX" stands for a character the code page lacks.
[[nodiscard]] std::string DxfNameToUtf8(const std::string& value);
// Name comparison without regard to ASCII case ("SECTION", "3dFace").
[[nodiscard]] bool DxfNameIs(const std::string& value, const char* name);

// The z part of an entity's extrusion direction (group 230). Planar entities
// whose extrusion points down (mirrored in the CAD program) have their x
// axis reversed; the readers mirror them back into the drawing's plane.
[[nodiscard]] inline bool DxfExtrusionIsMirrored(double extrusionZ) { return extrusionZ < 0; }

// ---- the file's encoding ----------------------------------------------------

// How the file being read on this thread encodes its names, while the scope
// is alive: Windows-1252 until the header says otherwise.
class DxfTextScope {
public:
    DxfTextScope();
    ~DxfTextScope();
    DxfTextScope(const DxfTextScope&) = delete;
    DxfTextScope& operator=(const DxfTextScope&) = delete;

private:
    std::string m_PreviousCodePage;
};
// The header's $DWGCODEPAGE ("ANSI_1251", "DOS850"); a name this system has
// no converter for leaves Windows-1252. (Files from AC1021 on need nothing:
// their text is UTF-8, which DxfNameToUtf8 keeps.)
void SetDxfCodePage(const std::string& name);

// ---- warnings ---------------------------------------------------------------

// Notes what an import had to leave out (a hatch path of spline edges, a
// mesh polyline). Collected while a DxfWarningScope is alive on this thread;
// dropped otherwise. Repeats of one text are kept once.
void DxfWarning(const std::string& text);

class DxfWarningScope {
public:
    explicit DxfWarningScope(std::vector<std::string>* sink);
    ~DxfWarningScope();
    DxfWarningScope(const DxfWarningScope&) = delete;
    DxfWarningScope& operator=(const DxfWarningScope&) = delete;

private:
    std::vector<std::string>* m_Previous;
};
