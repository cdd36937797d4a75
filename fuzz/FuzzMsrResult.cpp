// The stored measurement blob, as a project file hands it back: any bytes at all.

#include "fuzz/FuzzCheck.h"
#include "store/MsrResult.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// A header no blob of the corpus is likely to carry, to see that a refused blob leaves it.
TMsrResult Marked()
{
    TMsrResult r;
    r.BeginDateTime = -1.25;
    r.DataVersion = 0xDEADBEEF;
    r.MeasureNumber = -3;
    r.CementMass = 7;
    r.ExpCementGrade = 9;
    r.Supplier = 11;
    r.Duration = 13;
    r.Period = 2;
    r.ConcretionTime = -17;
    r.VolumeOffset = 0.5f;
    r.TempOffset = -0.5f;
    r.Data.assign(2, TSampleArray(6, 1.0f));
    return r;
}

// Arrays of the wrong length are written with exactly n samples: cut, or padded with zeros.
void CheckWrongLengths(const TMsrResult& decoded)
{
    const std::size_t n = decoded.SampleCount();
    TMsrResult changed = decoded;
    changed.Data.front().resize(n / 2);
    changed.Data.back().push_back(-2.0f);
    TMsrResult expected = changed;
    for (TSampleArray& array : expected.Data)
        array.resize(n, 0.0f);

    const std::string blob = EncodeMsrResult(changed);
    FUZZ_CHECK(blob.size() == MSR_HEADER_SIZE + 4 * n * decoded.Data.size());
    TMsrResult back;
    FUZZ_CHECK(DecodeMsrResult(blob, back) == 0);
    FUZZ_CHECK(SameMsrResult(back, expected));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view blob(reinterpret_cast<const char*>(data), size);
    TMsrResult decoded = Marked();
    const int rc = DecodeMsrResult(blob, decoded);

    if (size < MSR_HEADER_SIZE) {
        FUZZ_CHECK(rc == -1);
        TMsrResult untouched = Marked();
        untouched.Data.clear();
        FUZZ_CHECK(SameMsrResult(decoded, untouched));
        return 0;
    }
    FUZZ_CHECK(rc == 0);

    // k whole arrays of n samples, the rest dropped.
    const std::size_t n = decoded.SampleCount();
    const std::size_t k = n == 0 ? 0 : (size - MSR_HEADER_SIZE) / (4 * n);
    FUZZ_CHECK(decoded.Data.size() == k);
    for (const TSampleArray& array : decoded.Data)
        FUZZ_CHECK(array.size() == n);

    // Encoding gives back the bytes that were kept, with the version word written as this
    // program's and the reserved word cleared.
    const std::string encoded = EncodeMsrResult(decoded);
    std::string kept(blob.substr(0, MSR_HEADER_SIZE + 4 * n * k));
    for (int i = 0; i < 4; ++i)
        kept[8 + i] = static_cast<char>(MSR_DATA_VERSION >> (8 * i));
    std::fill(kept.begin() + 48, kept.begin() + 52, '\0');
    FUZZ_CHECK(encoded == kept);

    decoded.DataVersion = MSR_DATA_VERSION;
    TMsrResult again = Marked();
    FUZZ_CHECK(DecodeMsrResult(encoded, again) == 0);
    FUZZ_CHECK(SameMsrResult(again, decoded));
    FUZZ_CHECK(EncodeMsrResult(again) == encoded);

    if (k > 0)
        CheckWrongLengths(decoded);
    return 0;
}
