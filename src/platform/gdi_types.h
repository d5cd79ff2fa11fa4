#pragma once
// Integer point, size and rectangle records of device pixels. What "up"
// means depends on who fills them: the drawing device's records have y
// pointing up, a CDC's logical coordinates follow its mapping.
#include <cstdint>

struct POINT {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct SIZE {
    std::int32_t cx = 0;
    std::int32_t cy = 0;
};

struct RECT {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};
