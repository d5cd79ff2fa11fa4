#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex hookMutex;
MessageBoxHook messageHook;
StatusTextHook statusHook;

int DefaultAnswer(unsigned type)
{
    switch (type & 0xF) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    default: return IDOK;
    }
}

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    std::lock_guard lock(hookMutex);
    std::swap(hook, messageHook);
    return hook;
}

StatusTextHook SetStatusTextHook(StatusTextHook hook)
{
    std::lock_guard lock(hookMutex);
    std::swap(hook, statusHook);
    return hook;
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type)
{
    MessageBoxHook hook;
    {
        std::lock_guard lock(hookMutex);
        hook = messageHook;
    }
    if (hook)
        return hook(text, caption, type);
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return DefaultAnswer(type);
}

void ShowStatusText(const std::string& text)
{
    StatusTextHook hook;
    {
        std::lock_guard lock(hookMutex);
        hook = statusHook;
    }
    if (hook)
        hook(text);
}
