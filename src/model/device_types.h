#pragma once
// Device pixel records shared by the view transform and the drawing device,
// with the meaning the system gives them: device y points up, so a RECT's
// top is its larger y and bottom its smaller y.
#include "platform/gdi_types.h"
