#pragma once

// Contraction, its corrections and the predicted activity of one measurement.
//
// The volume curve is p[j] = Volume[j] - VolumeOffset, formed in single precision, the precision of
// the samples; everything after that is double. The evaluation window is the whole record for a
// measurement shorter than 3 hours, else the first 3 hours (w = 10800 div Period samples); samples
// after the window are never read.
//
// Nothing here reads a sample that does not exist: a record without the Volume and Temperature
// arrays, with arrays shorter than the window, or with an empty window (Period 0, Duration shorter
// than Period, Period above 10800 s) gives every field kUndefined, Stagnation 0 and both bounds 0.
// With Period above 3600 s the first hour holds no sample, so a grade whose curve has to be examined
// gets an undetermined stagnation: Stagnation 0, StagCorrection, FinalContraction, Activity and
// UnitContraction kUndefined. Every undefined field carries exactly the bits of kUndefined.

#include "compute/Undefined.h"
#include "store/MsrResult.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The 3 hours that separate a short measurement from a full one.
constexpr std::uint32_t FULL_MEASURE_DURATION = 10800;
constexpr std::uint32_t FIRST_HOUR_DURATION = 3600;

struct TMsrCalcResult
{
    double RawContraction = kUndefined;   // ml, of the sample in the flask
    double ExContraction = kUndefined;    // ml, recalculated to 1000 g of cement
    std::int32_t Stagnation = 0;          // 1: detected and corrected for
    double StagCorrection = kUndefined;   // ml, the supplier's value, added only when Stagnation is 1
    double AverageTemp = kUndefined;      // °C over the window
    double TempCorrection = kUndefined;   // ml per 1000 g
    double FinalContraction = kUndefined; // ml of 1000 g
    double Activity = kUndefined;         // MPa
    std::int32_t ActivityBound = 0;       // -1 below the table, +1 at or above its top, else 0
    double UnitContraction = kUndefined;  // ml/g
    std::int32_t UnitContractionBound = 0;
};

// max(series[first..last]) - ref, the running maximum starting with series[first]; series[first] - ref
// when last < first. kUndefined when first lies outside the series or last at or past its end.
double GetRise(std::span<const float> series, std::ptrdiff_t first, std::ptrdiff_t last, double ref);

// The mean of series[first..last], summed in double. kUndefined for an empty range or one that does
// not lie inside the series.
double GetAverage(std::span<const float> series, std::ptrdiff_t first, std::ptrdiff_t last);

// (18 - t) * 0.08 below 18 °C, (22 - t) * 0.08 above 22 °C, 0 in between; kUndefined for a NaN t.
double GetTempCorrection(double t);

// True when the expected grade index calls for examining the curve for stagnation: 3..6 and every
// index above 7.
bool IsStagnationExamined(std::uint32_t expCementGrade);

// The stagnation rules on the first-hour rise a, the rise b from the end of the first hour to the end
// of the third (both per 1000 g) and the contraction exContraction: 1 when a <= 1.0, else 1 when
// exContraction <= 2.3, else 0 when exContraction > 2.8, else 0 when b / 1.5 > a, else 1.
// Returns 0 when any input is NaN.
std::int32_t GetStagnation(double a, double b, double exContraction);

// The whole record is the window; only the contractions and the average temperature are defined.
TMsrCalcResult CalcShortResult(const TMsrResult& msr);

// The first 3 hours are the window; every field as far as the record allows.
TMsrCalcResult CalcFullResult(const TMsrResult& msr);

// CalcFullResult for Duration >= 10800 s, else CalcShortResult. Never fails; see the header comment
// for what an unusable record gives.
TMsrCalcResult CalcMsrResult(const TMsrResult& msr);
