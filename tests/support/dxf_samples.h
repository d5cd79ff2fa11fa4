#pragma once
// The DXF files of real CAD programs the tests read. They live beside the
// checkout, not in it; a clone elsewhere names them through LW_DXF_SAMPLES.
#include <cstdlib>
#include <filesystem>

namespace test_support {

inline std::filesystem::path DxfSamplesFolder()
{
    std::filesystem::path folder = std::filesystem::path(LW_SHARED_DATA_DIR) / "dxf-samples";
    if (const char* env = std::getenv("LW_DXF_SAMPLES"); env && *env) folder = env;
    else if (!std::filesystem::is_directory(folder)) folder = "/work/shared/data/dxf-samples";
    return folder;
}

} // namespace test_support
