#pragma once
// The DXF files of real CAD programs the tests read. They live beside the
// checkout, not in it; a clone elsewhere names them through LW_DXF_SAMPLES.
#include <cstdlib>
#include <filesystem>

namespace test_support {

inline std::filesystem::path DxfSamplesFolder()
{
    // The build names the folder; the environment may name another.
    if (const char* env = std::getenv("LW_DXF_SAMPLES"); env && *env)
        return env;
    return LW_DXF_SAMPLES_DIR;
}

}  // namespace test_support
