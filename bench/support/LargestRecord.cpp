#include "bench/support/LargestRecord.h"

#include "store/MainDataModuleUnit.h"

TMsrResult MakeLargestRecord(std::int32_t number)
{
    TMsrResult msr;
    msr.BeginDateTime = 45000.5 + number;
    msr.DataVersion = DEVICE_DATA_VERSION;
    msr.MeasureNumber = number;
    msr.CementMass = 400;
    msr.ExpCementGrade = 4;
    msr.Supplier = 3;
    msr.Duration = 43200;
    msr.Period = 10;
    msr.ConcretionTime = 28;
    const std::uint32_t n = msr.SampleCount();
    msr.Data.assign(4, TSampleArray(n));
    for (std::uint32_t j = 0; j < n; ++j) {
        msr.Data[MSR_VOLUME][j] = 0.001f * static_cast<float>(j % 1500);
        msr.Data[MSR_TEMPERATURE][j] = 19.0f + 0.0005f * static_cast<float>(j);
        msr.Data[MSR_TEMPERATURE2][j] = 20.0f + 0.0003f * static_cast<float>(j);
        msr.Data[MSR_RESISTANCE][j] = 1000.0f + static_cast<float>(j % 97);
    }
    return msr;
}
