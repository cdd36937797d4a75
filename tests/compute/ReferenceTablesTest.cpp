#include "compute/ReferenceTables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double Below(double x)
{
    return std::nextafter(x, -kInf);
}

// Adding 0.1 up from 2.0 drifts off the nearest doubles (2.0 + 0.1 * 3 is not 2.3), which would move
// every row boundary.
TEST(ContractionScaleTest, EveryRowIsTheNearestDoubleToItsDecimal)
{
    for (std::size_t r = 0; r < kContractionRowCount; ++r) {
        const std::string digits = std::to_string(20 + r);
        const std::string decimal = digits.substr(0, 1) + "." + digits.substr(1);
        EXPECT_EQ(ContractionScale[r], std::strtod(decimal.c_str(), nullptr)) << decimal;
    }
}

TEST(FindContractionRowTest, EachRowHoldsItsLowerEdgeButNotItsUpper)
{
    for (std::size_t r = 0; r + 1 < kContractionRowCount; ++r) {
        EXPECT_EQ(FindContractionRow(ContractionScale[r]), static_cast<int>(r));
        EXPECT_EQ(FindContractionRow(Below(ContractionScale[r + 1])), static_cast<int>(r));
    }
}

TEST(FindContractionRowTest, OutsideTheTable)
{
    for (double x : {1.95, Below(2.0), 0.0, -kInf, 5.0, 7.5, kInf, kNaN})
        EXPECT_EQ(FindContractionRow(x), -1) << x;
}

TEST(FindConcretionTimeColumnTest, OnlyExactDurationsSelectAColumn)
{
    EXPECT_EQ(FindConcretionTimeColumn(180), 5);
    for (std::size_t c = 0; c < kConcretionTimeCount; ++c)
        EXPECT_EQ(FindConcretionTimeColumn(ConcretionTimes[c]), static_cast<int>(c));
    for (std::int32_t days : {0, -7, 8, 30, 365, 361})
        EXPECT_EQ(FindConcretionTimeColumn(days), -1) << days;
}

using TLookUp = bool (*)(std::int32_t, double, double&, std::int32_t&);

struct TTableCase
{
    const char* Name;
    TLookUp LookUp;
    const TReferenceTable* Table;
};

class TableLookUpTest : public testing::TestWithParam<TTableCase>
{ };

TEST_P(TableLookUpTest, EdgesAndBoundsInEveryColumn)
{
    const TReferenceTable& table = *GetParam().Table;
    struct TEdge
    {
        double X;
        std::size_t Row;
        std::int32_t Bound;
    };
    const TEdge edges[] = {
        {2.0, 0, 0},
        {1.95, 0, -1},
        {-kInf, 0, -1},
        {5.0, 30, 1},
        {1e9, 30, 1},
        {kInf, 30, 1},
    };
    for (std::size_t c = 0; c < kConcretionTimeCount; ++c) {
        for (const TEdge& edge : edges) {
            double value = 0.0;
            std::int32_t bound = 7;
            EXPECT_TRUE(GetParam().LookUp(ConcretionTimes[c], edge.X, value, bound));
            EXPECT_EQ(value, table[edge.Row][c]) << "x " << edge.X << " column " << c;
            EXPECT_EQ(bound, edge.Bound) << "x " << edge.X << " column " << c;
        }
        double value = 0.0;
        std::int32_t bound = 7;
        GetParam().LookUp(ConcretionTimes[c], Below(5.0), value, bound);
        EXPECT_NEAR(value, table[30][c], 1e-12);
        EXPECT_EQ(bound, 0);
    }
}

TEST_P(TableLookUpTest, InterpolatesLinearlyBetweenRows)
{
    const TReferenceTable& table = *GetParam().Table;
    for (std::size_t r = 0; r + 1 < kContractionRowCount; ++r) {
        for (std::size_t c = 0; c < kConcretionTimeCount; ++c) {
            double value = 0.0;
            std::int32_t bound = 7;
            GetParam().LookUp(
                ConcretionTimes[c], (ContractionScale[r] + ContractionScale[r + 1]) / 2, value, bound);
            EXPECT_NEAR(value, (table[r][c] + table[r + 1][c]) / 2, 1e-9) << r << " " << c;
            EXPECT_EQ(bound, 0);
        }
    }
}

TEST_P(TableLookUpTest, UnknownDurationOrNaNGivesUndefinedWithoutBound)
{
    const struct
    {
        std::int32_t Days;
        double X;
    } cases[] = {{30, 3.0}, {365, 1.95}, {365, 5.0}, {0, 2.0}, {28, kNaN}};
    for (const auto& c : cases) {
        double value = 0.0;
        std::int32_t bound = 7;
        EXPECT_FALSE(GetParam().LookUp(c.Days, c.X, value, bound));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(value), UNDEFINED_VALUE_BITS) << c.Days << " " << c.X;
        EXPECT_EQ(bound, 0) << c.Days << " " << c.X;
    }
}

// A digit slipped while copying a table shows as a value out of order.
TEST_P(TableLookUpTest, ValuesRiseWithContractionAndWithDuration)
{
    const TReferenceTable& table = *GetParam().Table;
    for (std::size_t r = 0; r < kContractionRowCount; ++r) {
        for (std::size_t c = 0; c < kConcretionTimeCount; ++c) {
            if (r > 0) {
                EXPECT_LE(table[r - 1][c], table[r][c]) << r << " " << c;
            }
            if (c > 0) {
                EXPECT_LE(table[r][c - 1], table[r][c]) << r << " " << c;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, TableLookUpTest,
    testing::Values(TTableCase{"Activity", &GetActivity, &ActivityTable},
        TTableCase{"UnitContraction", &GetUnitContraction, &UnitContractionTable}),
    [](const testing::TestParamInfo<TTableCase>& info) { return std::string(info.param.Name); });

TEST(GetActivityTest, KnownValues)
{
    const struct
    {
        std::int32_t Days;
        double X;
        double Activity;
        double UnitContraction;
        std::int32_t Bound;
    } cases[] = {
        {28, 3.25, 44.9, 0.0375, 0},
        {7, 1.0, 15.0, 0.014, -1},
        {360, 6.0, 84.1, 0.060, 1},
        {180, 3.25, 61.1, 0.0495, 0},
    };
    for (const auto& c : cases) {
        double value = 0.0;
        std::int32_t bound = 7;
        GetActivity(c.Days, c.X, value, bound);
        EXPECT_NEAR(value, c.Activity, 1e-9) << c.Days << " " << c.X;
        EXPECT_EQ(bound, c.Bound);
        GetUnitContraction(c.Days, c.X, value, bound);
        EXPECT_NEAR(value, c.UnitContraction, 1e-12) << c.Days << " " << c.X;
        EXPECT_EQ(bound, c.Bound);
    }
}

TEST(SupplierTest, IndexIsCheckedAsUnsigned)
{
    const struct
    {
        std::uint32_t Index;
        bool Valid;
    } cases[] = {{0, true}, {6, true}, {7, false}, {0x80000000u, false}, {0xFFFFFFFFu, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(IsSupplierValid(c.Index), c.Valid) << c.Index;
        if (!c.Valid) {
            EXPECT_EQ(GetSupplierData(c.Index), 0.0) << c.Index;
            EXPECT_EQ(GetSupplierName(c.Index), "?") << c.Index;
        }
    }
    EXPECT_EQ(GetSupplierName(6), " другой ");
}

TEST(GetCementGradeNameTest, Names)
{
    const struct
    {
        std::uint32_t Index;
        const char* Name;
    } cases[] = {{0, "M-100"}, {3, "M-400"}, {6, "M-700"}, {7, "неизв."}, {8, "?"}, {0xFFFFFFFFu, "?"}};
    for (const auto& c : cases)
        EXPECT_EQ(GetCementGradeName(c.Index), c.Name) << c.Index;
}

} // namespace
