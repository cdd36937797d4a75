#include "compute/ResultText.h"

#include "RecordBuilder.h"
#include "compute/Activity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct TFormatCase
{
    double Value;
    int Decimals;
    const char* Separator;
    const char* Expected;
};

// Without it the test's name would be printed from the struct's padding bytes.
void PrintTo(const TFormatCase& c, std::ostream* os)
{
    *os << c.Value << " to " << c.Decimals;
}

class FormatDecimalTest : public testing::TestWithParam<TFormatCase>
{ };

TEST_P(FormatDecimalTest, Formats)
{
    const TFormatCase& c = GetParam();
    EXPECT_EQ(FormatDecimal(c.Value, c.Decimals, c.Separator), c.Expected) << c.Value << " at " << c.Decimals;
}

INSTANTIATE_TEST_SUITE_P(ExactHalves, FormatDecimalTest,
    testing::Values(TFormatCase{1.125, 2, ".", "1.13"}, TFormatCase{-1.125, 2, ".", "-1.13"},
        TFormatCase{1.125, 2, ",", "1,13"}, TFormatCase{2.625f - 1.5f, 2, ".", "1.13"},
        TFormatCase{0.125, 2, ".", "0.13"}, TFormatCase{0.25, 1, ".", "0.3"},
        TFormatCase{0.75, 1, ".", "0.8"}, TFormatCase{2.5, 0, ".", "3"}, TFormatCase{0.5, 0, ".", "1"},
        TFormatCase{-0.5, 0, ".", "-1"}, TFormatCase{9.875, 2, ".", "9.88"}, TFormatCase{-9.5, 0, ".", "-10"},
        TFormatCase{99.5, 0, ".", "100"}, TFormatCase{-9.9375, 3, ".", "-9.938"},
        TFormatCase{0.0625, 3, ",", "0,063"}));

// Decimal fractions that look like halves are not halves in binary; they go the way they lie.
INSTANTIATE_TEST_SUITE_P(NotHalves, FormatDecimalTest,
    testing::Values(TFormatCase{1.005, 2, ".", "1.00"}, // 1.00499999999999989...
        TFormatCase{1.115, 2, ".", "1.11"},             // 1.11499999999999999...
        TFormatCase{2.675, 2, ".", "2.67"},             // 2.67499999999999982...
        TFormatCase{-0.005, 2, ".", "-0.01"},           // -0.00500000000000000010...
        TFormatCase{999.9995, 3, ".", "1000.000"},      // 999.99950000000001...
        TFormatCase{1.125, 3, ".", "1.125"}, TFormatCase{1.125, 1, ".", "1.1"},
        TFormatCase{9.9375, 2, ".", "9.94"}, TFormatCase{std::nextafter(1.125, 2.0), 2, ".", "1.13"},
        TFormatCase{std::nextafter(1.125, 0.0), 2, ".", "1.12"}, TFormatCase{1.62f - 1.5f, 3, ",", "0,120"},
        TFormatCase{1.7f - 1.5f, 3, ",", "0,200"}));

INSTANTIATE_TEST_SUITE_P(Layout, FormatDecimalTest,
    testing::Values(TFormatCase{0.0, 2, ".", "0.00"}, TFormatCase{-0.0, 2, ".", "0.00"},
        TFormatCase{-0.001, 2, ".", "0.00"}, TFormatCase{-0.4, 0, ".", "0"},
        TFormatCase{0.4, 3, ",", "0,400"}, TFormatCase{3.0, 3, ".", "3.000"},
        TFormatCase{1234567.891, 3, ".", "1234567.891"}, TFormatCase{-44.94, 1, ",", "-44,9"},
        TFormatCase{1e20, 2, ".", "100000000000000000000.00"}, TFormatCase{7.25, 2, "٫", "7٫25"},
        TFormatCase{12.0, -1, ".", "12"}, TFormatCase{kNaN, 2, ".", "?"}, TFormatCase{kInf, 2, ".", "?"},
        TFormatCase{-kInf, 1, ".", "?"}));

TEST(ResultTextTest, Integers)
{
    EXPECT_EQ(GetCementMassStr(0), "0");
    EXPECT_EQ(GetCementMassStr(4294967295u), "4294967295");
    EXPECT_EQ(GetPeriodStr(60), "60");
    EXPECT_EQ(GetConcretionTimeStr(-28), "-28");
}

TEST(ResultTextTest, Duration)
{
    const struct
    {
        std::uint32_t Seconds;
        const char* Expected;
    } cases[] = {{10800, "3:0"}, {11100, "3:5"}, {0, "0:0"}, {3599, "0:59"}, {172800, "48:0"},
        {4294967295u, "1193046:28"}};
    for (const auto& c : cases)
        EXPECT_EQ(GetDurationStr(c.Seconds), c.Expected) << c.Seconds;
}

TEST(ResultTextTest, Supplier)
{
    EXPECT_EQ(GetSupplierDataStr(3, "."), "1.40 (Спасский) ");
    EXPECT_EQ(GetSupplierDataStr(6, ","), "1,30 ( другой ) ");
    EXPECT_EQ(GetSupplierDataStr(7, "."), "0.00 (?) ");
    EXPECT_EQ(GetSupplierDataSimpleStr(0xFFFFFFFFu, ","), "0,00");
}

TEST(ResultTextTest, Stagnation)
{
    const struct
    {
        std::int32_t Flag;
        double Correction;
        const char* Stagnation;
        const char* StagCorrection;
    } cases[] = {
        {1, 1.3, "есть", "1.30"},
        {0, 1.3, "нет", " "},
        {2, 1.3, "нет", " "},
        {-1, 1.3, "нет", " "},
        {1, kNaN, "?", "?"},
        {0, kNaN, "?", "?"},
        {1, 0.0, "есть", "0.00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetStagnationStr(c.Flag, c.Correction), c.Stagnation) << c.Flag << " " << c.Correction;
        EXPECT_EQ(GetStagCorrectionStr(c.Flag, c.Correction, "."), c.StagCorrection)
            << c.Flag << " " << c.Correction;
    }
}

TEST(ResultTextTest, BoundedValues)
{
    const struct
    {
        std::int32_t Bound;
        double Value;
        const char* Activity;
        const char* UnitContraction;
    } cases[] = {
        {-1, 15.0, "< 15,0", "< 15,000"},
        {1, 84.1, "> 84,1", "> 84,100"},
        {0, 44.9, " 44,9", " 44,900"},
        {2, 44.9, " 44,9", " 44,900"},
        {0, 0.0375, " 0,0", " 0,037"},
        {0, kNaN, "?", "?"},
        {-1, kNaN, "?", "?"},
        {1, kNaN, "?", "?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetActivityStr(c.Bound, c.Value, ","), c.Activity) << c.Bound << " " << c.Value;
        EXPECT_EQ(GetUnitContractionStr(c.Bound, c.Value, ","), c.UnitContraction)
            << c.Bound << " " << c.Value;
    }
}

TEST(ResultTextTest, PlainValues)
{
    EXPECT_EQ(GetContractionStr(3.25, ","), "3,25");
    EXPECT_EQ(GetContractionStr(kNaN, ","), "?");
    EXPECT_EQ(GetTempCorrectionStr(-0.6, "."), "-0.60");
    EXPECT_EQ(GetTempCorrectionStr(kNaN, "."), "?");
    EXPECT_EQ(GetAverageTempStr(19.96, "."), "20.0");
    EXPECT_EQ(GetAverageTempStr(kNaN, "."), "?");
}

// The rows of the results grid and the report, from records.
TEST(ResultTextsTest, RowsOfMeasurements)
{
    const auto step = [](float firstHour, float peak) { return StepCurve(60, firstHour, firstHour, peak); };
    const struct
    {
        const char* Name;
        std::uint32_t Duration;
        std::uint32_t Mass;
        std::int32_t Days;
        std::uint32_t Grade;
        TSampleFunction Volume;
        TResultTexts Expected;
    } cases[] = {
        {"shorter than 3 hours", 10799, 400, 28, 4, step(0.6f, 1.3f),
            {"1.30", "3.25", "?", "?", "20.0", "?", "?", "?", "?"}},
        // 3.25 per 1000 g lands at 3.2499999, just below the half of 0.037 .. 0.038.
        {"no stagnation", 10800, 400, 28, 4, step(0.6f, 1.3f),
            {"1.30", "3.25", "нет", " ", "20.0", "0.00", "3.25", " 44.9", " 0.037"}},
        {"stagnation", 10800, 400, 28, 4, step(0.2f, 1.0f),
            {"1.00", "2.50", "есть", "1.40", "20.0", "0.00", "3.90", " 54.4", " 0.044"}},
        {"below the table", 10800, 1000, 7, 2, step(1.5f, 1.9f),
            {"1.90", "1.90", "нет", " ", "20.0", "0.00", "1.90", "< 15.0", "< 0.014"}},
        {"above the table", 10800, 200, 360, 4, step(0.4f, 1.2f),
            {"1.20", "6.00", "нет", " ", "20.0", "0.00", "6.00", "> 84.1", "> 0.060"}},
        {"not a table column", 10800, 400, 30, 4, step(0.6f, 1.3f),
            {"1.30", "3.25", "нет", " ", "20.0", "0.00", "3.25", "?", "?"}},
    };
    for (const auto& c : cases) {
        TMsrResult msr = MakeRecord(c.Duration, 60, c.Volume, Constant(20.0f));
        msr.CementMass = c.Mass;
        msr.ConcretionTime = c.Days;
        msr.ExpCementGrade = c.Grade;
        EXPECT_EQ(GetResultTexts(CalcMsrResult(msr), "."), c.Expected) << c.Name;
    }
}

TEST(ResultTextsTest, RowsOfParameters)
{
    TMsrResult msr = MakeRecord(10800, 60, Constant(0.0f), Constant(20.0f));
    msr.CementMass = 400;
    msr.ExpCementGrade = 7;
    msr.Supplier = 7;
    const TParamTexts expected = {"400", "3:0", "60", "неизв.", "0,00 (?) ", "28"};
    EXPECT_EQ(GetParamTexts(msr, ","), expected);
}

} // namespace
