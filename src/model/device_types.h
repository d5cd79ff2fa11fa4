#pragma once
// Device pixel records shared by the view transform and the drawing device,
// with the meaning the system gives them: device y points up, so a RECT's
// top is its larger y and bottom its smaller y.
#include <cstdint>

struct POINT {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct RECT {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};
