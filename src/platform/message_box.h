#pragma once
// Message boxes and status text go through process-wide hooks: the desktop
// shows a dialog, the command line prints to stderr, tests record. Worker
// threads never open a dialog themselves.
#include <functional>
#include <string>

// Button sets and icons, as the callers combine them.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};

// Answers.
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

using MessageBoxHook = std::function<int(const std::string& text, const std::string& caption, unsigned type)>;
using StatusTextHook = std::function<void(const std::string& text)>;

// Installs a hook and returns the previous one; an empty hook restores the
// default (stderr for messages, nothing for status text).
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
StatusTextHook SetStatusTextHook(StatusTextHook hook);

// Shows a message; without a desktop the default answer of the button set
// (OK, or Yes) is returned.
int ShowMessageBox(const std::string& text, const std::string& caption = "Lineweft", unsigned type = MB_OK);
void ShowStatusText(const std::string& text);
