#include "store/MsrResult.h"

#include "store/LittleEndian.h"

#include <algorithm>
#include <cstring>

static_assert(sizeof(float) == 4 && sizeof(double) == 8);

namespace { } // namespace

int DecodeMsrResult(std::string_view blob, TMsrResult& result)
{
    result.Data.clear();
    if (blob.size() < MSR_HEADER_SIZE)
        return -1;
    result.BeginDateTime = LoadLE<double>(blob.data(), 0);
    result.DataVersion = LoadLE<std::uint32_t>(blob.data(), 8);
    result.MeasureNumber = LoadLE<std::int32_t>(blob.data(), 12);
    result.CementMass = LoadLE<std::uint32_t>(blob.data(), 16);
    result.ExpCementGrade = LoadLE<std::uint32_t>(blob.data(), 20);
    result.Supplier = LoadLE<std::uint32_t>(blob.data(), 24);
    result.Duration = LoadLE<std::uint32_t>(blob.data(), 28);
    result.Period = LoadLE<std::uint32_t>(blob.data(), 32);
    result.ConcretionTime = LoadLE<std::int32_t>(blob.data(), 36);
    result.VolumeOffset = LoadLE<float>(blob.data(), 40);
    result.TempOffset = LoadLE<float>(blob.data(), 44);

    const std::size_t n = result.SampleCount();
    if (n == 0)
        return 0;
    const std::size_t arrayBytes = 4 * n;
    const std::size_t k = (blob.size() - MSR_HEADER_SIZE) / arrayBytes;
    result.Data.resize(k);
    for (std::size_t i = 0; i < k; ++i) {
        result.Data[i].resize(n);
        std::memcpy(result.Data[i].data(), blob.data() + MSR_HEADER_SIZE + i * arrayBytes, arrayBytes);
    }
    return 0;
}

std::string EncodeMsrResult(const TMsrResult& result)
{
    const std::size_t n = result.SampleCount();
    const std::size_t k = n == 0 ? 0 : result.Data.size();
    std::string blob(MSR_HEADER_SIZE + 4 * n * k, '\0');
    StoreLE(blob.data(), 0, result.BeginDateTime);
    StoreLE(blob.data(), 8, MSR_DATA_VERSION); // whatever the record was read with
    StoreLE(blob.data(), 12, result.MeasureNumber);
    StoreLE(blob.data(), 16, result.CementMass);
    StoreLE(blob.data(), 20, result.ExpCementGrade);
    StoreLE(blob.data(), 24, result.Supplier);
    StoreLE(blob.data(), 28, result.Duration);
    StoreLE(blob.data(), 32, result.Period);
    StoreLE(blob.data(), 36, result.ConcretionTime);
    StoreLE(blob.data(), 40, result.VolumeOffset);
    StoreLE(blob.data(), 44, result.TempOffset);
    for (std::size_t i = 0; i < k; ++i) {
        const TSampleArray& array = result.Data[i];
        const std::size_t copied = std::min<std::size_t>(array.size(), n);
        if (copied > 0)
            std::memcpy(blob.data() + MSR_HEADER_SIZE + 4 * n * i, array.data(), 4 * copied);
    }
    return blob;
}
