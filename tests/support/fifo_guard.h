#pragma once
// A FIFO where a file is expected, for the tests that readers refuse it. A
// reader that wrongly waits on it is woken after a few seconds by a writer
// that opens and closes it, so such a fault fails the test instead of
// hanging the suite.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class FifoGuard {
public:
    explicit FifoGuard(std::string path) : m_path(std::move(path))
    {
        m_made = ::mkfifo(m_path.c_str(), 0600) == 0;
        m_waker = std::thread([this] {
            std::unique_lock lock(m_mutex);
            while (!m_done) {
                if (m_wake.wait_for(lock, std::chrono::seconds(3)) == std::cv_status::timeout) {
                    const int fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK);
                    if (fd >= 0) {
                        m_woke = true;
                        ::close(fd);
                    }
                }
            }
        });
    }
    ~FifoGuard()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_waker.join();
        ::unlink(m_path.c_str());
    }
    FifoGuard(const FifoGuard&) = delete;
    FifoGuard& operator=(const FifoGuard&) = delete;

    [[nodiscard]] bool Made() const { return m_made; }
    [[nodiscard]] const std::string& Path() const { return m_path; }
    // True when a reader had to be woken: it waited on the FIFO.
    [[nodiscard]] bool WokeAReader()
    {
        std::lock_guard lock(m_mutex);
        return m_woke;
    }
    [[nodiscard]] bool IsStillAFifo() const
    {
        struct stat info {};
        return ::lstat(m_path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
    }

private:
    std::string m_path;
    bool m_made = false;
    bool m_done = false;
    bool m_woke = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_waker;
};
