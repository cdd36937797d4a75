#pragma once

// Measurement records for the compute tests, built sample by sample.

#include "store/MsrResult.h"

#include <cstddef>
#include <cstdint>
#include <functional>

using TSampleFunction = std::function<float(std::size_t)>;

// A record of Duration div Period samples in all four arrays; Volume and Temperature come from the
// functions, the other two arrays are zero. Mass 0, grade 4, supplier 3, 28 days unless changed.
TMsrResult MakeRecord(std::uint32_t duration, std::uint32_t period, const TSampleFunction& volume,
    const TSampleFunction& temperature);

// A volume curve that is 0 at sample 0, `firstHour` on samples 1 .. m - 1, `hourOne` at sample m and
// `peak` after it; so the first-hour rise is firstHour, the later rise peak - hourOne.
TSampleFunction StepCurve(std::size_t m, float firstHour, float hourOne, float peak);

TSampleFunction Constant(float value);
