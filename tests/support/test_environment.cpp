// Every test program runs with its own empty settings and data folders, so no
// test reads or changes the settings of the person running it.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct IsolatedFolders {
    IsolatedFolders()
    {
        std::string base = (std::filesystem::temp_directory_path() / "lineweft-test-XXXXXX").string();
        if (!mkdtemp(base.data()))
            std::abort();
        root = base;
        setenv("LINEWEFT_CONFIG_DIR", (root + "/config").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/xdg-config").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/xdg-data").c_str(), 1);
    }
    ~IsolatedFolders()
    {
        std::error_code error;
        std::filesystem::remove_all(root, error);
    }
    std::string root;
};

const IsolatedFolders folders;

}  // namespace
