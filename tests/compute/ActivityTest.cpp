#include "compute/Activity.h"

#include "RecordBuilder.h"
#include "compute/ReferenceTables.h"
#include "compute/ResultText.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool HasUndefinedBits(double value)
{
    return std::bit_cast<std::uint64_t>(value) == UNDEFINED_VALUE_BITS;
}

float Above(float x)
{
    return std::nextafter(x, std::numeric_limits<float>::infinity());
}

// 3 hours at 60 s: m = 60, w = 180.
TMsrResult MakeFullRecord(const TSampleFunction& volume, float temperature = 20.0f)
{
    return MakeRecord(10800, 60, volume, Constant(temperature));
}

void ExpectNothingDetermined(const TMsrCalcResult& r)
{
    for (double value : {r.RawContraction, r.ExContraction, r.StagCorrection, r.AverageTemp, r.TempCorrection,
             r.FinalContraction, r.Activity, r.UnitContraction})
        EXPECT_TRUE(HasUndefinedBits(value)) << value;
    EXPECT_EQ(r.Stagnation, 0);
    EXPECT_EQ(r.ActivityBound, 0);
    EXPECT_EQ(r.UnitContractionBound, 0);
    for (const std::string& text : GetResultTexts(r, "."))
        EXPECT_EQ(text, "?");
}

TEST(GetRiseTest, Ranges)
{
    const std::vector<float> s = {1.0f, 3.0f, 2.0f, 0.5f};
    const struct
    {
        std::ptrdiff_t First, Last;
        double Ref, Expected;
    } cases[] = {
        {0, 3, 1.0, 2.0},   // maximum inside
        {2, 3, 2.0, 0.0},   // falling: the first sample is the maximum
        {3, 3, 1.0, -0.5},  // one sample
        {1, 0, 1.0, 2.0},   // last before first: series[first] - ref
        {0, 4, 0.0, kNaN},  // past the end
        {4, 3, 0.0, kNaN},  // first past the end
        {-1, 2, 0.0, kNaN}, // first before the start
    };
    for (const auto& c : cases) {
        const double rise = GetRise(s, c.First, c.Last, c.Ref);
        if (std::isnan(c.Expected)) {
            EXPECT_TRUE(HasUndefinedBits(rise)) << c.First << ".." << c.Last;
        } else {
            EXPECT_EQ(rise, c.Expected) << c.First << ".." << c.Last;
        }
    }
}

TEST(GetAverageTest, Ranges)
{
    const std::vector<float> s = {1.0f, 2.0f, 3.0f, 4.0f};
    EXPECT_EQ(GetAverage(s, 1, 2), 2.5);
    EXPECT_EQ(GetAverage(s, 3, 3), 4.0);
    EXPECT_TRUE(HasUndefinedBits(GetAverage(s, 2, 1)));
    EXPECT_TRUE(HasUndefinedBits(GetAverage(s, 0, 4)));
    EXPECT_TRUE(HasUndefinedBits(GetAverage(s, -1, 2)));
    EXPECT_TRUE(HasUndefinedBits(GetAverage({}, 0, 0)));
}

// A float accumulator drops the small samples next to a large one.
TEST(GetAverageTest, SumsInDouble)
{
    const std::vector<float> s = {16777216.0f, 1.0f, 1.0f};
    EXPECT_EQ(GetAverage(s, 0, 2), 16777218.0 / 3.0);
}

TEST(GetTempCorrectionTest, NormalRangeIsInclusive)
{
    const struct
    {
        double T, Expected;
    } cases[] = {
        {18.0, 0.0},
        {22.0, 0.0},
        {20.0, 0.0},
        {16.0, 2.0 * 0.08},
        {25.0, -3.0 * 0.08},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(GetTempCorrection(c.T), c.Expected) << c.T;
    EXPECT_GT(GetTempCorrection(std::nextafter(18.0, 0.0)), 0.0);
    EXPECT_LT(GetTempCorrection(std::nextafter(22.0, 30.0)), 0.0);
    EXPECT_TRUE(HasUndefinedBits(GetTempCorrection(kNaN)));
}

TEST(GetStagnationTest, RulesAtTheirThresholds)
{
    const struct
    {
        double A, B, Ex;
        std::int32_t Expected;
    } cases[] = {
        {1.0, 9.0, 3.5, 1},                      // rule 1 holds at 1.0
        {std::nextafter(1.0, 2.0), 0.0, 3.5, 0}, // just above: rule 3
        {1.2, 3.0, 2.3, 1},                      // rule 2 holds at 2.3 ...
        {1.2, 3.0, std::nextafter(2.3, 3.0), 0}, // ... rule 4 just above (3.0 / 1.5 > 1.2)
        {1.5, 1.5, 2.8, 1},                      // 2.8 reaches rule 4 (1.0 < 1.5)
        {1.5, 1.5, std::nextafter(2.8, 3.0), 0}, // just above: rule 3
        {1.2, 1.8, 2.5, 1},                      // b / 1.5 equal to a is not above it
        {1.2, std::nextafter(1.8, 2.0), 2.5, 0},
        {kNaN, 0.0, 2.5, 0},
        {1.2, 0.0, kNaN, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetStagnation(c.A, c.B, c.Ex), c.Expected) << c.A << " " << c.B << " " << c.Ex;
}

struct TWorkedCase
{
    float Temperature;
    double TempCorrection;
    double Activity;
};

// Without it the test's name would be printed from the struct's padding bytes.
void PrintTo(const TWorkedCase& c, std::ostream* os)
{
    *os << c.Temperature << " °C";
}

class WorkedExampleTest : public testing::TestWithParam<TWorkedCase>
{ };

// 400 g, 1.30 ml over 3 hours, 0.60 ml of it in the first hour, 28 days.
TEST_P(WorkedExampleTest, FromRecordToActivity)
{
    TMsrResult msr = MakeFullRecord(StepCurve(60, 0.6f, 0.6f, 1.3f), GetParam().Temperature);
    msr.CementMass = 400;
    const TMsrCalcResult r = CalcMsrResult(msr);
    EXPECT_NEAR(r.RawContraction, 1.30, 1e-6);
    EXPECT_NEAR(r.ExContraction, 3.25, 1e-6);
    EXPECT_EQ(r.Stagnation, 0);
    EXPECT_DOUBLE_EQ(r.StagCorrection, 1.40);
    EXPECT_EQ(r.AverageTemp, GetParam().Temperature);
    EXPECT_NEAR(r.TempCorrection, GetParam().TempCorrection, 1e-12);
    EXPECT_NEAR(r.FinalContraction, 3.25 + GetParam().TempCorrection, 1e-6);
    EXPECT_NEAR(r.Activity, GetParam().Activity, 1e-4);
    EXPECT_EQ(r.ActivityBound, 0);
    EXPECT_EQ(r.UnitContractionBound, 0);
}

INSTANTIATE_TEST_SUITE_P(Temperatures, WorkedExampleTest,
    testing::Values(TWorkedCase{20.0f, 0.0, 44.9}, // between rows 3.2 and 3.3
        TWorkedCase{16.0f, 0.4, 50.9},             // 3.65: between 3.6 and 3.7
        TWorkedCase{25.0f, -0.6, 36.25}));         // 2.65: between 2.6 and 2.7

TEST(CalcMsrResultTest, ThreeHoursTakeTheFullPath)
{
    const auto rising = [](std::size_t j) { return 0.02f * static_cast<float>(j); };
    const TMsrCalcResult full = CalcMsrResult(MakeRecord(10800, 60, rising, Constant(20.0f)));
    EXPECT_FALSE(IsUndefined(full.TempCorrection));
    EXPECT_FALSE(IsUndefined(full.Activity));

    const TMsrCalcResult shortResult = CalcMsrResult(MakeRecord(10799, 60, rising, Constant(20.0f)));
    EXPECT_DOUBLE_EQ(shortResult.RawContraction, 0.02f * 178.0f);
    EXPECT_EQ(shortResult.AverageTemp, 20.0);
    EXPECT_EQ(shortResult.Stagnation, 0);
    for (double value : {shortResult.StagCorrection, shortResult.TempCorrection, shortResult.FinalContraction,
             shortResult.Activity, shortResult.UnitContraction})
        EXPECT_TRUE(HasUndefinedBits(value));
    EXPECT_EQ(shortResult.ActivityBound, 0);
    EXPECT_EQ(shortResult.UnitContractionBound, 0);
}

TEST(CalcMsrResultTest, MassFactor)
{
    const struct
    {
        std::uint32_t Mass;
        double K;
    } cases[] = {{0, 1.0}, {1000, 1.0}, {400, 2.5}, {3, 1000.0 / 3.0}};
    for (std::uint32_t duration : {10800u, 7200u}) {
        for (const auto& c : cases) {
            TMsrResult msr = MakeRecord(duration, 60, StepCurve(60, 0.5f, 0.5f, 1.1f), Constant(20.0f));
            msr.CementMass = c.Mass;
            const TMsrCalcResult r = CalcMsrResult(msr);
            EXPECT_EQ(r.ExContraction, c.K * r.RawContraction) << c.Mass << " " << duration;
        }
    }
}

// The curve would show stagnation (first-hour rise 0.5 per 1000 g); only some grades look at it.
TEST(CalcMsrResultTest, GradesThatExamineTheCurve)
{
    const struct
    {
        std::uint32_t Grade;
        std::int32_t Stagnation;
    } cases[] = {{0, 0}, {1, 0}, {2, 0}, {7, 0}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {8, 1}, {0xFFFFFFFFu, 1}};
    for (const auto& c : cases) {
        TMsrResult msr = MakeFullRecord(StepCurve(60, 0.5f, 0.5f, 3.0f));
        msr.ExpCementGrade = c.Grade;
        const TMsrCalcResult r = CalcMsrResult(msr);
        EXPECT_EQ(r.Stagnation, c.Stagnation) << c.Grade;
        EXPECT_DOUBLE_EQ(r.StagCorrection, 1.40) << c.Grade;
        EXPECT_EQ(r.FinalContraction, 3.0 + (c.Stagnation == 1 ? 1.40 : 0.0)) << c.Grade;
    }
}

// The thresholds as float samples really reach them: a sample written 2.3 is 2.29999995 and stays
// at or below 2.3; only the next float above passes it.
TEST(CalcMsrResultTest, StagnationAsTheSamplesLand)
{
    const struct
    {
        const char* Name;
        std::uint32_t Mass;
        float FirstHour, HourOne, Peak;
        std::int32_t Expected;
    } cases[] = {
        {"first-hour rise 1.0", 0, 1.0f, 1.0f, 3.0f, 1},
        {"first-hour rise above 1.0", 0, Above(1.0f), Above(1.0f), 3.0f, 0},
        {"2.3f passes rule 2", 0, 2.0f, -1.5f, 2.3f, 1},
        {"above 2.3f reaches rule 4", 0, 2.0f, -1.5f, Above(2.3f), 0},
        {"2.8f reaches rule 4", 0, 1.5f, 1.5f, 2.8f, 1},
        {"above 2.8f stops at rule 3", 0, 1.5f, 1.5f, Above(2.8f), 0},
        {"later rise equal to 1.5 a", 0, 1.0625f, 1.0625f, 2.65625f, 1},
        {"later rise above 1.5 a", 0, 1.0625f, 1.0625f, 2.65625f + 0x1p-20f, 0},
        // At 400 g a flask reading of 0.92 ml is 2.30000004 per 1000 g: above 2.3.
        {"0.92 ml of 400 g", 400, 0.8f, -0.4f, 0.92f, 0},
        {"just below 0.92 ml of 400 g", 400, 0.8f, -0.4f, std::nextafter(0.92f, 0.0f), 1},
    };
    for (const auto& c : cases) {
        TMsrResult msr = MakeFullRecord(StepCurve(60, c.FirstHour, c.HourOne, c.Peak));
        msr.CementMass = c.Mass;
        EXPECT_EQ(CalcMsrResult(msr).Stagnation, c.Expected) << c.Name;
    }
}

// The supplier's correction is added as it stands, not scaled by the mass factor.
TEST(CalcMsrResultTest, StagnationAddsTheSupplierCorrection)
{
    const struct
    {
        std::uint32_t Supplier;
        double Correction;
    } cases[] = {{3, 1.40}, {6, 1.30}, {7, 0.0}, {0xFFFFFFFFu, 0.0}};
    for (const auto& c : cases) {
        TMsrResult msr = MakeFullRecord(StepCurve(60, 0.2f, 0.2f, 1.0f), 16.0f);
        msr.CementMass = 400;
        msr.Supplier = c.Supplier;
        const TMsrCalcResult r = CalcMsrResult(msr);
        ASSERT_EQ(r.Stagnation, 1);
        EXPECT_EQ(r.StagCorrection, c.Correction) << c.Supplier;
        EXPECT_EQ(r.FinalContraction, r.ExContraction + c.Correction + r.TempCorrection) << c.Supplier;
        EXPECT_NEAR(r.TempCorrection, 0.4, 1e-12);
    }
}

TEST(CalcMsrResultTest, HardeningDurationSelectsTheColumn)
{
    const struct
    {
        std::int32_t Days;
        double Activity; // NaN: not a column
    } cases[] = {{28, 44.9}, {180, 61.1}, {360, 66.7}, {30, kNaN}, {365, kNaN}, {-28, kNaN}};
    for (const auto& c : cases) {
        TMsrResult msr = MakeFullRecord(StepCurve(60, 0.6f, 0.6f, 1.3f));
        msr.CementMass = 400;
        msr.ConcretionTime = c.Days;
        const TMsrCalcResult r = CalcMsrResult(msr);
        EXPECT_FALSE(IsUndefined(r.FinalContraction));
        if (std::isnan(c.Activity)) {
            EXPECT_TRUE(HasUndefinedBits(r.Activity)) << c.Days;
            EXPECT_TRUE(HasUndefinedBits(r.UnitContraction)) << c.Days;
        } else {
            EXPECT_NEAR(r.Activity, c.Activity, 1e-4) << c.Days;
            EXPECT_FALSE(IsUndefined(r.UnitContraction)) << c.Days;
        }
        EXPECT_EQ(r.ActivityBound, 0);
        EXPECT_EQ(r.UnitContractionBound, 0);
    }
}

TEST(CalcMsrResultTest, FallingCurveHasNoRise)
{
    const auto falling = [](std::size_t j) { return 5.0f - 0.01f * static_cast<float>(j); };
    for (std::uint32_t duration : {10800u, 3600u}) {
        const TMsrCalcResult r = CalcMsrResult(MakeRecord(duration, 60, falling, Constant(20.0f)));
        EXPECT_EQ(r.RawContraction, 0.0) << duration;
    }
    const TMsrCalcResult r = CalcMsrResult(MakeRecord(10800, 60, falling, Constant(20.0f)));
    EXPECT_EQ(r.ActivityBound, -1);
    EXPECT_EQ(r.Activity, 28.9);
}

TEST(CalcMsrResultTest, SamplesAfterThreeHoursAreNotUsed)
{
    const auto volume = [](std::size_t j) { return j < 180 ? 0.01f * static_cast<float>(j) : 10.0f; };
    const auto temperature = [](std::size_t j) { return j < 180 ? 20.0f : 100.0f; };
    const TMsrCalcResult r = CalcMsrResult(MakeRecord(21600, 60, volume, temperature));
    EXPECT_DOUBLE_EQ(r.RawContraction, 0.01f * 179.0f);
    EXPECT_EQ(r.AverageTemp, 20.0);
}

// Volume minus offset is rounded to float before anything else; in double 3.0 - 0.1f would give
// 2.8999999985, in float it is 2.9000000954.
TEST(CalcMsrResultTest, VolumeCurveIsSinglePrecision)
{
    TMsrResult msr = MakeFullRecord([](std::size_t j) { return j == 0 ? 0.1f : 3.0f; });
    msr.VolumeOffset = 0.1f;
    const double expected = static_cast<double>(3.0f - 0.1f);
    ASSERT_NE(expected, 3.0 - static_cast<double>(0.1f));
    EXPECT_EQ(CalcMsrResult(msr).RawContraction, expected);
}

TEST(CalcMsrResultTest, RecordsWithoutUsableSamples)
{
    const auto rising = [](std::size_t j) { return 0.01f * static_cast<float>(j); };
    struct TCase
    {
        const char* Name;
        TMsrResult Msr;
    };
    std::vector<TCase> cases = {
        {"n = 0, short", MakeRecord(100, 200, rising, Constant(20.0f))},
        {"Period 0, full", MakeRecord(10800, 0, rising, Constant(20.0f))},
        {"Period 0, short", MakeRecord(100, 0, rising, Constant(20.0f))},
        {"w = 0", MakeRecord(21602, 10801, rising, Constant(20.0f))},
        {"no arrays, full", MakeRecord(10800, 60, rising, Constant(20.0f))},
        {"no arrays, short", MakeRecord(3600, 60, rising, Constant(20.0f))},
        {"volume only", MakeRecord(10800, 60, rising, Constant(20.0f))},
        {"arrays shorter than the window, full", MakeRecord(10800, 60, rising, Constant(20.0f))},
        {"arrays shorter than n, short", MakeRecord(3600, 60, rising, Constant(20.0f))},
    };
    cases[4].Msr.Data.clear();
    cases[5].Msr.Data.clear();
    cases[6].Msr.Data.resize(1);
    cases[7].Msr.Data[MSR_TEMPERATURE].resize(179);
    cases[8].Msr.Data[MSR_VOLUME].resize(59);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ExpectNothingDetermined(CalcMsrResult(c.Msr));
    }
}

// Arrays may be shorter than n as long as they cover the 3-hour window.
TEST(CalcMsrResultTest, ArraysCoveringTheWindowAreEnough)
{
    TMsrResult msr = MakeRecord(21600, 60, StepCurve(60, 0.6f, 0.6f, 1.3f), Constant(20.0f));
    msr.CementMass = 400;
    msr.Data[MSR_VOLUME].resize(180);
    msr.Data[MSR_TEMPERATURE].resize(180);
    EXPECT_NEAR(CalcMsrResult(msr).Activity, 44.9, 1e-4);
}

// Period above 3600 s leaves no sample inside the first hour: its rise is unknown, so a grade that
// needs the stagnation decision gets no final result, while the other grades do.
TEST(CalcMsrResultTest, NoSampleInsideTheFirstHour)
{
    const auto volume = [](std::size_t j) { return j == 0 ? 0.0f : 1.3f; };
    for (std::uint32_t grade : {4u, 2u}) {
        TMsrResult msr = MakeRecord(10800, 5400, volume, Constant(16.0f));
        msr.CementMass = 400;
        msr.ExpCementGrade = grade;
        const TMsrCalcResult r = CalcMsrResult(msr);
        SCOPED_TRACE(grade);
        EXPECT_NEAR(r.ExContraction, 3.25, 1e-6);
        EXPECT_EQ(r.AverageTemp, 16.0);
        EXPECT_NEAR(r.TempCorrection, 0.4, 1e-12);
        EXPECT_EQ(r.Stagnation, 0);
        if (grade == 4) {
            for (double value : {r.StagCorrection, r.FinalContraction, r.Activity, r.UnitContraction})
                EXPECT_TRUE(HasUndefinedBits(value));
            EXPECT_EQ(r.ActivityBound, 0);
        } else {
            EXPECT_DOUBLE_EQ(r.StagCorrection, 1.40);
            EXPECT_NEAR(r.FinalContraction, 3.65, 1e-6);
            EXPECT_NEAR(r.Activity, 50.9, 1e-4);
        }
    }
}

// With Period 3600 the first hour holds sample 0 only: its rise is 0, which rule 1 takes as stagnation.
TEST(CalcMsrResultTest, OneSampleInsideTheFirstHour)
{
    const TMsrCalcResult r = CalcMsrResult(MakeRecord(
        10800, 3600, [](std::size_t j) { return 1.5f * j; }, Constant(20.0f)));
    EXPECT_EQ(r.Stagnation, 1);
    EXPECT_DOUBLE_EQ(r.FinalContraction, 3.0 + 1.40);
}

} // namespace
