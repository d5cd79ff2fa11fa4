#pragma once
// Registers a document type with the desktop: a shared-mime-info package and
// a .desktop file under the user's data folder ($XDG_DATA_HOME, else
// ~/.local/share), each marked as ours so that removal never touches another
// program's registration.
#include <string>

// The program opening the files is `programPath`, or this program when empty.
// The extension must begin with '.'; without a content type the mime type is
// "application/x-" and the document type in lower case. The icon is written
// only for an index of 0 or more.
[[nodiscard]] bool RegisterFileType(const std::string& extension, const std::string& documentType,
                                    const std::string& description, const std::string& contentType,
                                    const std::string& iconFile, int iconIndex, const std::string& programPath = "");

// Removes our registration of the extension; another program's stays.
// True when nothing of ours is left.
bool UnregisterFileType(const std::string& extension);

// Where the two files go.
std::string UserDataFolder();
