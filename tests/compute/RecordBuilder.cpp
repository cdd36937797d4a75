#include "RecordBuilder.h"

TMsrResult MakeRecord(std::uint32_t duration, std::uint32_t period, const TSampleFunction& volume,
    const TSampleFunction& temperature)
{
    TMsrResult msr;
    msr.DataVersion = MSR_DATA_VERSION;
    msr.ExpCementGrade = 4;
    msr.Supplier = 3;
    msr.Duration = duration;
    msr.Period = period;
    msr.ConcretionTime = DEFAULT_CONCRETION_TIME;
    const std::uint32_t n = msr.SampleCount();
    msr.Data.assign(4, TSampleArray(n, 0.0f));
    for (std::uint32_t j = 0; j < n; ++j) {
        msr.Data[MSR_VOLUME][j] = volume(j);
        msr.Data[MSR_TEMPERATURE][j] = temperature(j);
    }
    return msr;
}

TSampleFunction StepCurve(std::size_t m, float firstHour, float hourOne, float peak)
{
    return [=](std::size_t j) {
        if (j == 0)
            return 0.0f;
        if (j < m)
            return firstHour;
        return j == m ? hourOne : peak;
    };
}

TSampleFunction Constant(float value)
{
    return [value](std::size_t) { return value; };
}
