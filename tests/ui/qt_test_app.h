#pragma once
// The one QApplication of the ui tests, made on first use (gtest_main owns
// main), on the offscreen platform unless the environment names another;
// and a pump that runs the event loop until a condition holds.
#include <QApplication>
#include <QThread>
#include <chrono>
#include <functional>

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig keeps a cache block for the life of the process that Qt's font
// lookup makes it allocate, and SANE's test backend never frees its read
// buffer: neither is ours to free. Weak, as each test file includes this.
extern "C" __attribute__((weak, used)) const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libsane-test.so\n";
}
#endif

inline QApplication& TestApp()
{
    static int argc = 1;
    static char name[] = "lw_ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Handles events until done() holds or the time-out passes; answers done().
inline bool PumpEventsUntil(const std::function<bool()>& done,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(1);
    }
    return true;
}
