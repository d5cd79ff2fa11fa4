// What the bench programs share: timing, peak memory, running a command as
// a process of its own, and one-bit pages as raw PBM files.
#pragma once

#include "raster/raster_src.h"
#include "trace/outline.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

// Grey levels above half are white: ImageMagick's "-threshold 50%" in 8 bits.
inline constexpr BYTE kHalfThreshold = 127;

using BenchClock = std::chrono::steady_clock;

inline double Since(BenchClock::time_point start)
{
    return std::chrono::duration<double>(BenchClock::now() - start).count();
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// --- memory of this process

inline long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

inline long CurrentRssKb()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0;
    long resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// What the items of a trace occupy as allocated: every list node and node
// block with its allocator overhead.
inline size_t OutlineItemBytes(const COutlineList& list, size_t& items, size_t& nodes)
{
    size_t bytes = 0;
    for (ONode<COutlineItem>* item = list.GetItems().GetHead(); item; item = item->next) {
        ++items;
        bytes += malloc_usable_size(item) + sizeof(size_t);
        nodes += item->value.nodes.GetCount();
        if (item->value.nodes.GetCapacity() > 0)
            bytes += item->value.nodes.GetCapacity() * sizeof(COutlineNode) + sizeof(size_t);
    }
    return bytes;
}

// --- a command as a process of its own, measured as the kernel accounts for it

enum class ChildOutput { Keep, Discard, Capture };

struct ProcessFigures {
    double wall = 0;     // seconds
    double cpu = 0;      // user + system seconds
    long peakKb = 0;     // largest resident size
    std::string output;  // what it printed, with ChildOutput::Capture
    bool ok = false;     // ran and exited 0
};

inline double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// Runs a program with extra environment entries ("NAME=value").
inline ProcessFigures MeasureProcess(const std::vector<std::string>& command,
                                     const std::vector<std::string>& environment = {},
                                     ChildOutput output = ChildOutput::Keep)
{
    ProcessFigures figures;
    int pipeEnds[2] = {-1, -1};
    if (output == ChildOutput::Capture && pipe(pipeEnds) != 0)
        return figures;
    auto start = BenchClock::now();
    pid_t child = fork();
    if (child == 0) {
        if (output == ChildOutput::Discard) {
            std::FILE* null = std::freopen("/dev/null", "w", stdout);
            (void)null;
        } else if (output == ChildOutput::Capture) {
            dup2(pipeEnds[1], STDOUT_FILENO);
            close(pipeEnds[0]);
            close(pipeEnds[1]);
        }
        for (const std::string& entry : environment)
            putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> argv;
        for (const std::string& arg : command)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (output == ChildOutput::Capture) {
        close(pipeEnds[1]);
        char buffer[4096];
        ssize_t n;
        while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
            figures.output.append(buffer, static_cast<size_t>(n));
        close(pipeEnds[0]);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0)
        return figures;
    figures.wall = Since(start);
    figures.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    figures.peakKb = usage.ru_maxrss;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return figures;
}

// The figures of one command run again and again.
struct ProcessSeries {
    ProcessSeries(std::string name_, std::vector<std::string> command_, std::vector<std::string> environment_ = {})
        : name(std::move(name_)), command(std::move(command_)), environment(std::move(environment_))
    {}

    std::string name;
    std::vector<std::string> command;
    std::vector<std::string> environment;
    std::vector<double> walls, cpus;
    long peakKb = 0;

    void Add(const ProcessFigures& f)
    {
        walls.push_back(f.wall);
        cpus.push_back(f.cpu);
        peakKb = std::max(peakKb, f.peakKb);
    }
    double MedianWall() const { return Median(walls); }
    double MedianCpu() const { return Median(cpus); }
};

// The convert program to compare with; IMAGEMAGICK_CONVERT names another.
inline std::string ImageMagickConvert()
{
    const char* magick = std::getenv("IMAGEMAGICK_CONVERT");
    return magick && *magick ? magick : "convert";
}

// --- PBM (P4): rows of packed bits, the leftmost pixel in the top bit and 1
// for black, which is the raster's own row layout.

inline bool WritePbm(const CRasterSrc& raster, const char* path)
{
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    const int w = raster.GetWidth();
    const int h = raster.GetHeight();
    const size_t rowBytes = static_cast<size_t>((w + 7) / 8);
    bool ok = std::fprintf(f, "P4\n%d %d\n", w, h) > 0;
    for (int y = 0; ok && y < h; ++y)
        ok = std::fwrite(raster.GetRow(y), 1, rowBytes, f) == rowBytes;
    return std::fclose(f) == 0 && ok;
}

// Reads the top part/parts of the page (all of it by default).
inline bool ReadPbm(CRasterSrc& raster, const char* path, int parts = 1, int part = 1)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    int w = 0;
    int h = 0;
    bool ok = std::fscanf(f, "P4 %d %d", &w, &h) == 2 && std::fgetc(f) != EOF && w > 0 && h > 0;
    const int rows = static_cast<int>(static_cast<long long>(h) * part / parts);
    ok = ok && raster.Create(w, rows, 1);
    const size_t rowBytes = static_cast<size_t>((w + 7) / 8);
    for (int y = 0; ok && y < rows; ++y)
        ok = std::fread(raster.GetRow(y), 1, rowBytes, f) == rowBytes;
    std::fclose(f);
    return ok;
}

// A scan thresholded at half grey, written as a PBM page.
inline bool MakePbmPage(CRasterSrc& raster, const char* greyPath, const char* pbmPath)
{
    return raster.Load(greyPath) && raster.ConvertTo1Bit(kHalfThreshold) && WritePbm(raster, pbmPath);
}
