#pragma once
// Path pieces for page and batch output names. Paths use '/'; the extension
// is the last '.' part of the file name (a leading dot names a hidden file,
// not an extension).
#include <string>

bool FileExists(const std::string& path);                         // exists and is not a folder
bool DirectoryExists(const std::string& path);                    // a trailing '/' is ignored
[[nodiscard]] bool CreateDirectoryPath(const std::string& path);  // every missing level

std::string GetFileDir(const std::string& path);  // folder with its trailing '/'
std::string GetFileNameWithExt(const std::string& path);
std::string GetFileBaseName(const std::string& path);  // without folder and extension
std::string GetFileExt(const std::string& path);       // with its point, or empty
std::string ReplaceFileExt(const std::string& path, const std::string& extension);
// "folder/name_N.ext": the names of pages and batch outputs.
std::string MakeNumberedFileName(const std::string& path, int number);
