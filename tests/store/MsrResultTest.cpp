#include "store/MsrResult.h"
#include "store/Cp1251.h"
#include "store/Firebird.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

TMsrResult SampleRecord(std::uint32_t duration, std::uint32_t period, std::size_t arrays)
{
    TMsrResult r;
    r.BeginDateTime = 39512.588194444445; // 05.03.2008 14:07
    r.DataVersion = MSR_DATA_VERSION;
    r.MeasureNumber = -7;
    r.CementMass = 400;
    r.ExpCementGrade = 4;
    r.Supplier = 2;
    r.Duration = duration;
    r.Period = period;
    r.ConcretionTime = 28;
    r.VolumeOffset = 1.5f;
    r.TempOffset = -0.25f;
    const std::uint32_t n = r.SampleCount();
    for (std::size_t i = 0; i < arrays; ++i) {
        TSampleArray a(n);
        for (std::uint32_t j = 0; j < n; ++j)
            a[j] = static_cast<float>(i * 1000 + j) / 8.0f;
        r.Data.push_back(a);
    }
    return r;
}

template <typename T> T At(const std::string& blob, std::size_t offset)
{
    T v;
    std::memcpy(&v, blob.data() + offset, sizeof v);
    return v;
}

} // namespace

TEST(MsrResultCodec, HeaderLayoutIsFixed)
{
    const std::string blob = EncodeMsrResult(SampleRecord(30, 10, 4));
    ASSERT_EQ(blob.size(), 52u + 4 * 3 * 4);
    EXPECT_EQ(At<double>(blob, 0), 39512.588194444445);
    EXPECT_EQ(At<std::uint32_t>(blob, 8), 65538u);
    EXPECT_EQ(At<std::int32_t>(blob, 12), -7);
    EXPECT_EQ(At<std::uint32_t>(blob, 16), 400u);
    EXPECT_EQ(At<std::uint32_t>(blob, 20), 4u);
    EXPECT_EQ(At<std::uint32_t>(blob, 24), 2u);
    EXPECT_EQ(At<std::uint32_t>(blob, 28), 30u);
    EXPECT_EQ(At<std::uint32_t>(blob, 32), 10u);
    EXPECT_EQ(At<std::int32_t>(blob, 36), 28);
    EXPECT_EQ(At<float>(blob, 40), 1.5f);
    EXPECT_EQ(At<float>(blob, 44), -0.25f);
    EXPECT_EQ(At<std::uint32_t>(blob, 48), 0u);
    // sample j of array i at 52 + 4 (i n + j)
    EXPECT_EQ(At<float>(blob, 52 + 4 * (2 * 3 + 1)), 2001.0f / 8.0f);
}

TEST(MsrResultCodec, RoundTripIsByteForByte)
{
    for (auto [duration, period, arrays] :
        {std::tuple{30u, 10u, 4u}, {10800u, 10u, 4u}, {7u, 10u, 0u}, {5u, 0u, 0u}}) {
        const std::string blob = EncodeMsrResult(SampleRecord(duration, period, arrays));
        TMsrResult decoded;
        ASSERT_EQ(DecodeMsrResult(blob, decoded), 0);
        EXPECT_EQ(decoded.Data.size(), arrays);
        EXPECT_EQ(EncodeMsrResult(decoded), blob) << duration << "/" << period;
    }
}

TEST(MsrResultCodec, VersionAndReservedWordsAreReadAsTheyAreAndWrittenAsConstants)
{
    std::string blob = EncodeMsrResult(SampleRecord(30, 10, 1));
    blob[48] = '\x7f';
    blob[8] = '\x01'; // 0x00010001, an older format's number
    TMsrResult decoded;
    ASSERT_EQ(DecodeMsrResult(blob, decoded), 0);
    EXPECT_EQ(decoded.DataVersion, 0x00010001u);
    const std::string again = EncodeMsrResult(decoded);
    EXPECT_EQ(At<std::uint32_t>(again, 48), 0u);
    EXPECT_EQ(At<std::uint32_t>(again, 8), MSR_DATA_VERSION);
    decoded.DataVersion = 0;
    EXPECT_EQ(At<std::uint32_t>(EncodeMsrResult(decoded), 8), MSR_DATA_VERSION);
}

TEST(MsrResultCodec, PartialTrailingArrayIsDropped)
{
    std::string blob = EncodeMsrResult(SampleRecord(30, 10, 2));
    blob.append(4 * 3 - 1, '\x01'); // one byte short of a third array
    TMsrResult decoded;
    ASSERT_EQ(DecodeMsrResult(blob, decoded), 0);
    ASSERT_EQ(decoded.Data.size(), 2u);
    EXPECT_EQ(EncodeMsrResult(decoded).size(), 52u + 2 * 12);
}

TEST(MsrResultCodec, ShortOrDegenerateBlobsNeverReadPastTheEnd)
{
    TMsrResult decoded;
    for (std::size_t length : {0u, 1u, 51u})
        EXPECT_EQ(DecodeMsrResult(std::string(length, '\xff'), decoded), -1) << length;

    // Period 0, and Duration below Period: header only, whatever follows.
    for (std::uint32_t period : {0u, 100u}) {
        std::string blob = EncodeMsrResult(SampleRecord(60, 10, 4));
        std::memcpy(blob.data() + 32, &period, 4);
        ASSERT_EQ(DecodeMsrResult(blob, decoded), 0);
        EXPECT_TRUE(decoded.Data.empty());
    }

    // A header claiming 4320 samples with 10 bytes of data.
    std::string blob = EncodeMsrResult(SampleRecord(43200, 10, 0));
    blob.append(10, '\0');
    ASSERT_EQ(DecodeMsrResult(blob, decoded), 0);
    EXPECT_TRUE(decoded.Data.empty());
}

TEST(MsrResultCodec, ArraysOfTheWrongLengthAreWrittenWithExactlyNSamples)
{
    TMsrResult r = SampleRecord(30, 10, 2);
    r.Data[0].resize(1);
    r.Data[1].resize(9, 5.0f);
    const std::string blob = EncodeMsrResult(r);
    ASSERT_EQ(blob.size(), 52u + 2 * 12);
    EXPECT_EQ(At<float>(blob, 56), 0.0f);
    EXPECT_EQ(At<float>(blob, 52 + 12 + 8), r.Data[1][2]) << "the extra samples are not written";
}

TEST(Cp1251, CyrillicTextIsStoredAsSingleBytes)
{
    EXPECT_EQ(Utf8ToCp1251("Проба ёЁ №"), "\xcf\xf0\xee\xe1\xe0\x20\xb8\xa8\x20\xb9");
    EXPECT_EQ(Cp1251ToUtf8("\xcf\xf0\xee\xe1\xe0\x20\xb8\xa8\x20\xb9"), "Проба ёЁ №");
    const std::string all = [] {
        std::string s;
        for (int c = 1; c < 256; ++c)
            if (c != 0x98)
                s += static_cast<char>(c);
        return s;
    }();
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
}

TEST(Cp1251, UnrepresentableCharactersDoNotCorruptTheRest)
{
    EXPECT_EQ(Utf8ToCp1251("a€b"),
        "a\x88"
        "b"); // the euro sign exists in 1251
    EXPECT_EQ(Utf8ToCp1251("до 中 после"), Utf8ToCp1251("до ? после"));
    EXPECT_EQ(Utf8ToCp1251("x\xff\xfey"), "x??y");                // invalid UTF-8
    EXPECT_EQ(Utf8ToCp1251("конец\xd0"), Utf8ToCp1251("конец?")); // cut sequence
    EXPECT_EQ(Cp1251ToUtf8("a\x98z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(Cp1251ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
    const std::string longText(100000, '\xe0');
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(longText)), longText);
}

TEST(TimestampTicks, OleDatesMapToTenThousandthsOfASecond)
{
    // 2000-01-01 01:00:00 is OLE 36526 + 1/24; 1858-11-17 is tick 0.
    EXPECT_EQ(OleDateToTimestampTicks(-15018.0), 0);
    EXPECT_EQ(OleDateToTimestampTicks(36526.0 + 1.0 / 24), (36526LL + 15018) * 864000000 + 36000000);
    for (double d : {0.0, 39512.588194444445, 45000.123456789, -1.25, 45000.99999999999}) {
        const std::int64_t t = OleDateToTimestampTicks(d);
        EXPECT_EQ(OleDateToTimestampTicks(TimestampTicksToOleDate(t)), t) << d;
        EXPECT_NEAR(TimestampTicksToOleDate(t), d, 1e-9) << d;
    }
}

TEST(NamedParameters, NamesAreCollectedOutsideQuotes)
{
    std::vector<std::string> names;
    EXPECT_EQ(ParseNamedParameters("UPDATE T SET A = ?A, B = :B_2 WHERE K = ?OLD_K AND S = '?X'", names),
        "UPDATE T SET A = ?, B = ? WHERE K = ? AND S = '?X'");
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B_2", "OLD_K"}));
    EXPECT_EQ(QuoteSqlString("it's"), "it''s");
}
