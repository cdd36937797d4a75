#include "compute/Activity.h"

#include "compute/ReferenceTables.h"

#include <vector>

namespace {

// Both arrays the computation reads, each covering a window of `count` samples.
bool HasWindow(const TMsrResult& msr, std::size_t count)
{
    return count > 0 && msr.Data.size() > MSR_TEMPERATURE && msr.Data[MSR_VOLUME].size() >= count
        && msr.Data[MSR_TEMPERATURE].size() >= count;
}

// Kept in float on purpose: the subtraction must round as a single-precision one.
std::vector<float> GetVolumeCurve(const TMsrResult& msr, std::size_t count)
{
    const TSampleArray& volume = msr.Data[MSR_VOLUME];
    std::vector<float> p(count);
    for (std::size_t j = 0; j < count; ++j)
        p[j] = volume[j] - msr.VolumeOffset;
    return p;
}

double GetMassFactor(std::uint32_t cementMass)
{
    return cementMass > 0 ? 1000.0 / cementMass : 1.0;
}

// NaNs made by arithmetic may carry other bits; the callers see one pattern only.
void NormaliseUndefined(TMsrCalcResult& result)
{
    for (double* value :
        {&result.RawContraction, &result.ExContraction, &result.StagCorrection, &result.AverageTemp,
            &result.TempCorrection, &result.FinalContraction, &result.Activity, &result.UnitContraction}) {
        if (IsUndefined(*value))
            *value = kUndefined;
    }
}

} // namespace

double GetRise(std::span<const float> series, std::ptrdiff_t first, std::ptrdiff_t last, double ref)
{
    const auto size = static_cast<std::ptrdiff_t>(series.size());
    if (first < 0 || first >= size || last >= size)
        return kUndefined;
    double maximum = series[first];
    for (std::ptrdiff_t i = first + 1; i <= last; ++i) {
        if (series[i] > maximum)
            maximum = series[i];
    }
    return maximum - ref;
}

double GetAverage(std::span<const float> series, std::ptrdiff_t first, std::ptrdiff_t last)
{
    if (first < 0 || last < first || last >= static_cast<std::ptrdiff_t>(series.size()))
        return kUndefined;
    double sum = 0.0;
    for (std::ptrdiff_t i = first; i <= last; ++i)
        sum += series[i];
    return sum / static_cast<double>(last - first + 1);
}

double GetTempCorrection(double t)
{
    if (IsUndefined(t))
        return kUndefined;
    if (t < 18.0)
        return (18.0 - t) * 0.08;
    if (t > 22.0)
        return (22.0 - t) * 0.08;
    return 0.0;
}

bool IsStagnationExamined(std::uint32_t expCementGrade)
{
    return expCementGrade >= 3 && expCementGrade != 7;
}

std::int32_t GetStagnation(double a, double b, double exContraction)
{
    if (IsUndefined(a) || IsUndefined(b) || IsUndefined(exContraction))
        return 0;
    if (a <= 1.0)
        return 1;
    if (exContraction <= 2.3)
        return 1;
    if (exContraction > 2.8)
        return 0;
    return b / 1.5 > a ? 0 : 1;
}

TMsrCalcResult CalcShortResult(const TMsrResult& msr)
{
    TMsrCalcResult result;
    const std::size_t n = msr.SampleCount();
    if (!HasWindow(msr, n))
        return result;
    const std::vector<float> p = GetVolumeCurve(msr, n);
    const auto last = static_cast<std::ptrdiff_t>(n) - 1;
    result.RawContraction = GetRise(p, 0, last, p[0]);
    result.ExContraction = GetMassFactor(msr.CementMass) * result.RawContraction;
    result.AverageTemp = GetAverage(msr.Data[MSR_TEMPERATURE], 0, last);
    NormaliseUndefined(result);
    return result;
}

TMsrCalcResult CalcFullResult(const TMsrResult& msr)
{
    TMsrCalcResult result;
    if (msr.Period == 0)
        return result;
    const std::size_t m = FIRST_HOUR_DURATION / msr.Period;
    const std::size_t w = FULL_MEASURE_DURATION / msr.Period;
    if (!HasWindow(msr, w))
        return result;

    const std::vector<float> p = GetVolumeCurve(msr, w);
    const double k = GetMassFactor(msr.CementMass);
    const auto last = static_cast<std::ptrdiff_t>(w) - 1;
    result.RawContraction = GetRise(p, 0, last, p[0]);
    result.ExContraction = k * result.RawContraction;
    result.AverageTemp = GetAverage(msr.Data[MSR_TEMPERATURE], 0, last);
    result.TempCorrection = k * GetTempCorrection(result.AverageTemp);

    if (IsStagnationExamined(msr.ExpCementGrade)) {
        // With no sample inside the first hour its rise is unknown, and so is everything that
        // depends on the stagnation decision.
        if (m == 0) {
            NormaliseUndefined(result);
            return result;
        }
        const auto firstHourEnd = static_cast<std::ptrdiff_t>(m);
        const double a = k * GetRise(p, 0, firstHourEnd - 1, p[0]);
        const double b = k * GetRise(p, firstHourEnd, last, p[m]);
        if (IsUndefined(a) || IsUndefined(b) || IsUndefined(result.ExContraction)) {
            NormaliseUndefined(result);
            return result;
        }
        result.Stagnation = GetStagnation(a, b, result.ExContraction);
    }

    result.StagCorrection = GetSupplierData(msr.Supplier);
    result.FinalContraction = result.ExContraction + (result.Stagnation == 1 ? result.StagCorrection : 0.0)
        + result.TempCorrection;
    GetActivity(msr.ConcretionTime, result.FinalContraction, result.Activity, result.ActivityBound);
    GetUnitContraction(
        msr.ConcretionTime, result.FinalContraction, result.UnitContraction, result.UnitContractionBound);
    NormaliseUndefined(result);
    return result;
}

TMsrCalcResult CalcMsrResult(const TMsrResult& msr)
{
    return msr.Duration >= FULL_MEASURE_DURATION ? CalcFullResult(msr) : CalcShortResult(msr);
}
