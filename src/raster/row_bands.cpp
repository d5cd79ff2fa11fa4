// The row-band pool: workers that sleep on one condition variable and take
// bands of the current call by an atomic counter. One call at a time owns the
// pool; a second caller (another worker thread, or a band calling again)
// runs its bands itself, so nothing ever waits on a pool it holds.
#include "raster/row_bands.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// More threads than this buy nothing on the row kernels (memory bound).
constexpr int kMaxThreads = 64;
constexpr int kMaxEnvironmentDigits = 4;

std::atomic<int> g_requestedThreads{0};
thread_local bool t_insideBand = false;

// 0 when LW_THREADS is unset or not a count from 1 to kMaxThreads; the
// latter is said once on stderr, as --threads would refuse it.
int ThreadsFromEnvironment()
{
    const char* text = std::getenv("LW_THREADS");
    if (text == nullptr || *text == '\0')
        return 0;
    int value = 0;
    for (int i = 0; text[i] != '\0'; ++i) {
        if (text[i] < '0' || text[i] > '9' || i >= kMaxEnvironmentDigits) {
            value = 0;
            break;
        }
        value = value * 10 + (text[i] - '0');
    }
    if (value >= 1 && value <= kMaxThreads)
        return value;
    static std::once_flag warned;
    std::call_once(warned, [text] {
        std::fprintf(stderr, "lineweft: LW_THREADS=\"%s\" is not a count from 1 to %d; using the cores\n", text,
                     kMaxThreads);
    });
    return 0;
}

int UsableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return count;
    }
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

class CRowBandPool {
public:
    ~CRowBandPool()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        for (std::thread& worker : m_workers)
            worker.join();
    }

    // False when another call holds the pool.
    bool Run(int bands, const std::function<void(int)>& band)
    {
        std::unique_lock owner(m_owner, std::try_to_lock);
        if (!owner.owns_lock())
            return false;
        EnsureWorkers(std::min(bands, GetRowBandThreads()) - 1);
        {
            std::lock_guard lock(m_mutex);
            m_band = &band;
            m_bands = bands;
            m_next.store(1);
            m_done.store(1);  // band 0 is the caller's
            ++m_generation;
        }
        m_wake.notify_all();
        t_insideBand = true;
        band(0);
        t_insideBand = false;
        TakeBands();
        std::unique_lock lock(m_mutex);
        // No taker may still hold this call's band when the next call starts.
        m_finished.wait(lock, [&] { return m_done.load() == m_bands && m_active == 0; });
        m_band = nullptr;
        return true;
    }

private:
    void EnsureWorkers(int count)
    {
        while (static_cast<int>(m_workers.size()) < count)
            m_workers.emplace_back([this] { WorkerLoop(); });
    }

    // Runs bands of the current call until none is left.
    void TakeBands()
    {
        const std::function<void(int)>* band = nullptr;
        int bands = 0;
        {
            std::lock_guard lock(m_mutex);
            band = m_band;
            bands = m_bands;
            if (band == nullptr)
                return;
            ++m_active;
        }
        for (int b = m_next.fetch_add(1); b < bands; b = m_next.fetch_add(1)) {
            t_insideBand = true;
            (*band)(b);
            t_insideBand = false;
            // Only the last band wakes the caller: fine bands stay cheap.
            if (m_done.fetch_add(1) + 1 == bands) {
                std::lock_guard lock(m_mutex);
                m_finished.notify_all();
            }
        }
        std::lock_guard lock(m_mutex);
        --m_active;
        m_finished.notify_all();
    }

    void WorkerLoop()
    {
        unsigned seen = 0;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return m_quit || (m_generation != seen && m_band != nullptr); });
                if (m_quit)
                    return;
                seen = m_generation;
            }
            TakeBands();
        }
    }

    std::mutex m_owner;  // held by the call that uses the pool
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_finished;
    std::vector<std::thread> m_workers;
    const std::function<void(int)>* m_band = nullptr;
    int m_bands = 0;
    std::atomic<int> m_done{0};
    int m_active = 0;  // threads inside TakeBands
    unsigned m_generation = 0;
    bool m_quit = false;
    std::atomic<int> m_next{0};
};

CRowBandPool& Pool()
{
    static CRowBandPool pool;
    return pool;
}

}  // namespace

int GetRowBandThreads()
{
    int threads = g_requestedThreads.load();
    if (threads < 1)
        threads = ThreadsFromEnvironment();
    if (threads < 1)
        threads = UsableCores();
    return std::clamp(threads, 1, kMaxThreads);
}

void SetRowBandThreads(int threads) { g_requestedThreads.store(std::max(threads, 0)); }

int CountRowBands(int rows, int minRows)
{
    if (rows <= 0)
        return 0;
    const int byRows = std::max(1, rows / std::max(minRows, 1));
    return std::min(GetRowBandThreads(), byRows);
}

void RowBandOf(int rows, int bands, int b, int& y0, int& y1)
{
    // Bands differ by at most one row.
    y0 = static_cast<int>(static_cast<long long>(rows) * b / bands);
    y1 = static_cast<int>(static_cast<long long>(rows) * (b + 1) / bands);
}

void RunBands(int bands, const std::function<void(int band)>& body)
{
    if (bands <= 0)
        return;
    if (bands == 1 || t_insideBand || GetRowBandThreads() == 1 || !Pool().Run(bands, body)) {
        for (int b = 0; b < bands; ++b)
            body(b);
    }
}

void ForEachRowBand(int rows, int minRows, const std::function<void(int band, int y0, int y1)>& body)
{
    const int bands = CountRowBands(rows, minRows);
    RunBands(bands, [&](int b) {
        int y0 = 0, y1 = 0;
        RowBandOf(rows, bands, b, y0, y1);
        body(b, y0, y1);
    });
}
