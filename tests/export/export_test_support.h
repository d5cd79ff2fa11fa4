#pragma once
// What the export tests share: a private folder per test, a way to run the
// readers of each format, and a polyline builder.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include "model/layer.h"
#include "model/polyline.h"

namespace export_test {

namespace fs = std::filesystem;

inline constexpr const char* kPython = "/usr/bin/python3";
inline constexpr double kQuarterBulge = 0.41421356237309503;

inline std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a shell command; its output (stdout and stderr) comes back in *output.
inline int RunCommand(const std::string& command, std::string* output)
{
    output->clear();
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output->append(buffer, got);
    return pclose(pipe);
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() / ("lw_export_" + std::to_string(getpid()) + "_" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    // A polyline of (x, y, bulge) vertices with width 1.5, added to the layer.
    CPolyLine* Add(CLayer* layer, std::initializer_list<std::array<double, 3>> points, bool closed = false)
    {
        auto* poly = new CPolyLine();
        for (const auto& p : points) {
            auto* v = new CVertex(p[0], p[1], 1.5, 1.5, 0);
            v->bulge = p[2];
            poly->AddVertex(v, true);
        }
        poly->m_Closed = closed;
        layer->AddEntity(poly);
        return poly;
    }

    fs::path folder;
};

// A polyline of (x, y, bulge) vertices, every width (and its own) `width`.
inline std::unique_ptr<CPolyLine> Chain(std::initializer_list<std::array<double, 3>> points, bool closed, double width)
{
    auto poly = std::make_unique<CPolyLine>();
    for (const auto& p : points) {
        auto* v = new CVertex(p[0], p[1], width, width, 0);
        v->bulge = p[2];
        poly->AddVertex(v, true);
    }
    poly->m_Closed = closed;
    poly->m_Width = width;
    return poly;
}

// What a writer puts into a stream, captured in memory.
template <typename Write>
std::string Capture(Write write, bool* result = nullptr)
{
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* file = open_memstream(&data, &size);
    const bool ok = write(file);
    std::fclose(file);
    std::string text(data ? data : "", size);
    std::free(data);
    if (result)
        *result = ok;
    return text;
}

}  // namespace export_test
