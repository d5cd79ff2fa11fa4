#include "platform/file_types.h"

#include "platform/atomic_file.h"
#include "platform/system.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* const kMimeMarker = "<!-- Registered by Lineweft. -->";
const char* const kDesktopMarker = "X-Lineweft-Registered=true";

bool IsSafeName(const std::string& s, const char* extra)
{
    return !s.empty() && s.size() < 128 && std::all_of(s.begin(), s.end(), [extra](unsigned char c) {
        return std::isalnum(c) || std::strchr(extra, c);
    });
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string XmlEscape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// A value of a .desktop file: no line breaks.
std::string DesktopValue(const std::string& s)
{
    std::string out;
    for (char c : s)
        out += (c == '\n' || c == '\r') ? ' ' : c;
    return out;
}

// The program as one quoted argument of an Exec line.
std::string DesktopExecArgument(const std::string& path)
{
    std::string out = "\"";
    for (char c : path) {
        // Escaped once for the quoting rule and once more for the string
        // rule applied before it.
        if (c == '\\')
            out += "\\\\\\\\";
        else if (c == '"' || c == '`' || c == '$')
            out += std::string("\\\\") + c;
        else if (c == '%')
            out += "%%";
        else
            out += c;
    }
    return out + "\"";
}

std::string MimeFile(const std::string& extension)
{
    return UserDataFolder() + "/mime/packages/lineweft-" + Lower(extension.substr(1)) + ".xml";
}

std::string DesktopFile(const std::string& extension)
{
    return UserDataFolder() + "/applications/lineweft-" + Lower(extension.substr(1)) + ".desktop";
}

// Ours are a few hundred bytes; a larger file or one that is not a regular
// file (a FIFO would block the read) is someone else's.
constexpr std::uintmax_t kMaxRegistrationBytes = 1u << 20;

bool FileContains(const std::string& path, const std::string& text)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error) || fs::file_size(path, error) > kMaxRegistrationBytes || error)
        return false;
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return in && content.str().find(text) != std::string::npos;
}

void RefreshDesktopDatabases()
{
    // Missing tools only mean the desktop picks the change up later.
    RunQuietly({"update-mime-database", UserDataFolder() + "/mime"});
    RunQuietly({"update-desktop-database", UserDataFolder() + "/applications"});
}

}  // namespace

std::string UserDataFolder()
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/share";
}

bool RegisterFileType(const std::string& extension, const std::string& documentType, const std::string& description,
                      const std::string& contentType, const std::string& iconFile, int iconIndex,
                      const std::string& programPath)
{
    if (extension.size() < 2 || extension[0] != '.' || !IsSafeName(extension.substr(1), "_-"))
        return false;
    if (!IsSafeName(documentType, "._-"))
        return false;
    std::string mimeType = contentType.empty() ? "application/x-" + Lower(documentType) : Lower(contentType);
    size_t slash = mimeType.find('/');
    if (slash == std::string::npos || !IsSafeName(mimeType.substr(0, slash), ".+-") ||
        !IsSafeName(mimeType.substr(slash + 1), ".+-_"))
        return false;
    std::string program = programPath.empty() ? GetProgramPath() : programPath;
    if (program.empty())
        return false;

    std::error_code error;
    fs::create_directories(UserDataFolder() + "/mime/packages", error);
    fs::create_directories(UserDataFolder() + "/applications", error);

    std::string mime = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    mime += kMimeMarker;
    mime += "\n<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    mime += "  <mime-type type=\"" + mimeType + "\">\n";
    mime += "    <comment>" + XmlEscape(description) + "</comment>\n";
    mime += "    <glob pattern=\"*" + Lower(extension) + "\"/>\n";
    mime += "  </mime-type>\n</mime-info>\n";

    std::string desktop = "[Desktop Entry]\nType=Application\n";
    desktop += "Name=" + DesktopValue(description.empty() ? documentType : description) + "\n";
    desktop += "Exec=" + DesktopExecArgument(program) + " %f\n";
    desktop += "MimeType=" + mimeType + ";\n";
    if (iconIndex >= 0 && !iconFile.empty())
        desktop += "Icon=" + DesktopValue(iconFile) + "\n";
    desktop += "NoDisplay=true\nTerminal=false\n";
    desktop += std::string(kDesktopMarker) + "\n";

    if (!WriteFileAtomically(MimeFile(extension), mime) || !WriteFileAtomically(DesktopFile(extension), desktop))
        return false;
    RefreshDesktopDatabases();
    return true;
}

bool UnregisterFileType(const std::string& extension)
{
    if (extension.size() < 2 || extension[0] != '.' || !IsSafeName(extension.substr(1), "_-"))
        return false;
    bool removed = false;
    bool left = false;
    for (const auto& [path, marker] :
         {std::pair{MimeFile(extension), kMimeMarker}, std::pair{DesktopFile(extension), kDesktopMarker}}) {
        if (!fs::exists(path))
            continue;
        // A file of that name without our marker is someone else's.
        if (!FileContains(path, marker))
            continue;
        std::error_code error;
        if (fs::remove(path, error))
            removed = true;
        else
            left = true;
    }
    if (removed)
        RefreshDesktopDatabases();
    return !left;
}
