#pragma once

#include "store/MsrResult.h"

#include <cstdint>

// The largest record the instrument delivers: 4 arrays of 4320 samples at 10 s, 400 g,
// grade M-500, supplier 3, 28 days. `number` and the start day tell records apart.
TMsrResult MakeLargestRecord(std::int32_t number = 1);
