#include "model/file_paths.h"

#include <filesystem>
#include <sys/stat.h>

namespace {

struct PathParts {
    std::string dir;  // with its trailing '/'
    std::string base;
    std::string ext;  // with its point
};

PathParts SplitPath(const std::string& path)
{
    PathParts parts;
    size_t slash = path.rfind('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    parts.dir = path.substr(0, nameStart);
    std::string name = path.substr(nameStart);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        parts.base = name;
    } else {
        parts.base = name.substr(0, dot);
        parts.ext = name.substr(dot);
    }
    return parts;
}

}  // namespace

bool FileExists(const std::string& path)
{
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    struct stat info;
    return !trimmed.empty() && stat(trimmed.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateDirectoryPath(const std::string& path)
{
    if (path.empty())
        return false;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return !error && DirectoryExists(path);
}

std::string GetFileDir(const std::string& path) { return SplitPath(path).dir; }

std::string GetFileNameWithExt(const std::string& path)
{
    PathParts parts = SplitPath(path);
    return parts.base + parts.ext;
}

std::string GetFileBaseName(const std::string& path) { return SplitPath(path).base; }

std::string GetFileExt(const std::string& path) { return SplitPath(path).ext; }

std::string ReplaceFileExt(const std::string& path, const std::string& extension)
{
    PathParts parts = SplitPath(path);
    return parts.dir + parts.base + extension;
}

std::string MakeNumberedFileName(const std::string& path, int number)
{
    PathParts parts = SplitPath(path);
    return parts.dir + parts.base + "_" + std::to_string(number) + parts.ext;
}
