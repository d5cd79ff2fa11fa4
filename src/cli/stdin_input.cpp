#include "raster/freeimage_api.h"

#include "cli/stdin_input.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <strings.h>
#include <unistd.h>

namespace {

// A project starts with its version, the f32 1.0 in little-endian order.
constexpr unsigned char kProjectMagic[] = {0x00, 0x00, 0x80, 0x3F};
// The bytes kept for telling a drawing's kind.
constexpr std::size_t kHeadBytes = 4096;
constexpr std::size_t kCopyChunk = 1 << 20;

// The next line of text, trimmed; false at the end.
bool NextTrimmedLine(const std::string& text, std::size_t& at, std::string& line)
{
    if (at >= text.size())
        return false;
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos)
        end = text.size();
    std::size_t first = at, last = end;
    while (first < last && std::isspace(static_cast<unsigned char>(text[first])))
        ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1])))
        --last;
    line = text.substr(first, last - first);
    at = end + 1;
    return true;
}

// The image library's first extension for the file's format, "" when it knows
// none.
std::string RasterExtensionOf(const std::string& path)
{
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN)
        return "";
    const char* list = FreeImage_GetFIFExtensionList(format);
    if (list == nullptr || *list == '\0')
        return "";
    const std::string extensions(list);
    return "." + extensions.substr(0, extensions.find(','));
}

}  // namespace

std::string DrawingExtensionOfContent(const std::string& head)
{
    if (head.size() >= sizeof kProjectMagic && std::memcmp(head.data(), kProjectMagic, sizeof kProjectMagic) == 0)
        return ".lwt";
    // DXF text: after any 999 comments, the pair 0 / SECTION.
    std::size_t at = 0;
    std::string code, value;
    while (NextTrimmedLine(head, at, code) && NextTrimmedLine(head, at, value)) {
        if (code != "999")
            return code == "0" && strcasecmp(value.c_str(), "SECTION") == 0 ? ".dxf" : "";
    }
    return "";
}

CStdinInput::~CStdinInput() { Remove(); }

void CStdinInput::Remove()
{
    m_copyEntry.Clear();
    m_dirEntry.Clear();
    if (!m_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
        m_dir.clear();
    }
}

bool CStdinInput::Take(std::string& path, std::string& error, std::uint64_t maxBytes)
{
    if (path != "-")
        return true;
    if (isatty(STDIN_FILENO)) {
        error = "standard input is a terminal: pipe or redirect the file into it";
        return false;
    }
    std::error_code failure;
    std::string folder = (std::filesystem::temp_directory_path(failure) / "lineweft-stdin-XXXXXX").string();
    if (failure || mkdtemp(folder.data()) == nullptr) {
        error = "cannot make a temporary folder for standard input";
        return false;
    }
    m_dir = folder;
    m_dirEntry.Set(StopEntryKind::kFolder, m_dir);
    const std::string copy = m_dir + "/stdin";
    m_copyEntry.Set(StopEntryKind::kStdinCopy, copy);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(copy.c_str(), "wb"), std::fclose);
    if (!out) {
        error = "cannot write the copy of standard input in " + m_dir;
        return false;
    }
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyChunk]);
    if (!buffer) {
        error = "not enough memory to read standard input";
        return false;
    }
    std::string head;
    std::uint64_t total = 0;
    std::size_t got = 0;
    while ((got = std::fread(buffer.get(), 1, kCopyChunk, stdin)) > 0) {
        total += got;
        if (total > maxBytes) {
            error = "standard input holds more than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
        if (head.size() < kHeadBytes)
            head.append(buffer.get(), std::min(got, kHeadBytes - head.size()));
        if (std::fwrite(buffer.get(), 1, got, out.get()) != got) {
            error = "cannot write the copy of standard input in " + m_dir;
            return false;
        }
    }
    if (std::ferror(stdin)) {
        error = "cannot read standard input";
        return false;
    }
    if (std::fclose(out.release()) != 0) {
        error = "cannot write the copy of standard input in " + m_dir;
        return false;
    }
    if (total == 0) {
        error = "standard input is empty";
        return false;
    }
    std::string extension = DrawingExtensionOfContent(head);
    if (extension.empty())
        extension = RasterExtensionOf(copy);
    // Without an extension the commands say they cannot tell the kind.
    path = copy + extension;
    if (!extension.empty()) {
        const bool renamed = std::rename(copy.c_str(), path.c_str()) == 0;
        m_copyEntry.Set(StopEntryKind::kStdinCopy, renamed ? path : copy);
        if (!renamed) {
            error = "cannot name the copy of standard input in " + m_dir;
            return false;
        }
    }
    return true;
}
