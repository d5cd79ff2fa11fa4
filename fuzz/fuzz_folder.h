#pragma once
// A private folder under /tmp for one fuzz run, removed with everything in it
// when the run ends (libFuzzer ends a run through exit()), so runs leave
// nothing behind.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

inline std::string& FuzzFolderPath()
{
    static std::string path;
    return path;
}

// prefix: the folder's name before its random part.
inline const std::string& MakeFuzzFolder(const char* prefix)
{
    std::string name = std::string("/tmp/") + prefix + "-XXXXXX";
    if (!mkdtemp(name.data()))
        std::abort();
    FuzzFolderPath() = name;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(FuzzFolderPath(), ignored);
    });
    return FuzzFolderPath();
}
