#include "store/MsrResult.h"

#include <algorithm>
#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the stored format is little-endian");
static_assert(sizeof(float) == 4 && sizeof(double) == 8);

namespace {

template <typename T> T Get(std::string_view bytes, std::size_t offset)
{
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

template <typename T> void Put(std::string& bytes, std::size_t offset, T value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

} // namespace

int DecodeMsrResult(std::string_view blob, TMsrResult& result)
{
    result.Data.clear();
    if (blob.size() < MSR_HEADER_SIZE)
        return -1;
    result.BeginDateTime = Get<double>(blob, 0);
    result.DataVersion = Get<std::uint32_t>(blob, 8);
    result.MeasureNumber = Get<std::int32_t>(blob, 12);
    result.CementMass = Get<std::uint32_t>(blob, 16);
    result.ExpCementGrade = Get<std::uint32_t>(blob, 20);
    result.Supplier = Get<std::uint32_t>(blob, 24);
    result.Duration = Get<std::uint32_t>(blob, 28);
    result.Period = Get<std::uint32_t>(blob, 32);
    result.ConcretionTime = Get<std::int32_t>(blob, 36);
    result.VolumeOffset = Get<float>(blob, 40);
    result.TempOffset = Get<float>(blob, 44);

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
    Put(blob, 0, result.BeginDateTime);
    Put(blob, 8, result.DataVersion);
    Put(blob, 12, result.MeasureNumber);
    Put(blob, 16, result.CementMass);
    Put(blob, 20, result.ExpCementGrade);
    Put(blob, 24, result.Supplier);
    Put(blob, 28, result.Duration);
    Put(blob, 32, result.Period);
    Put(blob, 36, result.ConcretionTime);
    Put(blob, 40, result.VolumeOffset);
    Put(blob, 44, result.TempOffset);
    for (std::size_t i = 0; i < k; ++i) {
        const TSampleArray& array = result.Data[i];
        const std::size_t copied = std::min<std::size_t>(array.size(), n);
        if (copied > 0)
            std::memcpy(blob.data() + MSR_HEADER_SIZE + 4 * n * i, array.data(), 4 * copied);
    }
    return blob;
}
