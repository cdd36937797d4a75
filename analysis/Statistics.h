#pragma once

// Statistics of a selection of journal rows.
//
// Only an activity that is defined and inside the reference table counts in the figures;
// one shown with "< " or "> " is a bound, not a value, and is only counted (clamped), as is
// an undefined one. Figures that cannot be determined are kUndefined:
//   mean, min, max       n >= 1
//   sd (n - 1)           n >= 2
//   cv = 100 sd / |mean| sd defined and mean not 0
//   imr_sigma            mean moving range of consecutive values in time order / 1.128, n >= 2
//   ucl, lcl             mean +- 3 imr_sigma, where imr_sigma is defined
//   beyond_limits        values above ucl or below lcl; -1 where the limits are undefined
// The forecast error (activity minus measured strength) has the same summary over the rows
// with both.

#include "analysis/Journal.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

constexpr double kMovingRangeDivisor = 1.128; // d2 of a moving range of two

struct TSummary
{
    int N = 0;
    double Mean = kUndefined;
    double Sd = kUndefined;
    double Cv = kUndefined;
    double Min = kUndefined;
    double Max = kUndefined;
};

// The summary of plain values.
TSummary Summarize(const std::vector<double>& values);

struct TControlLimits
{
    double Centre = kUndefined;
    double Sigma = kUndefined;
    double Ucl = kUndefined;
    double Lcl = kUndefined;
    int Beyond = -1;
};

// The individuals chart of values in time order.
TControlLimits IndividualsLimits(const std::vector<double>& values);

struct TActivityStatistics
{
    int Records = 0;
    int Clamped = 0;
    int Undefined = 0;
    TSummary Activity;
    TControlLimits Limits;
    TSummary Error;
};

// Rows (indexes into `journal`) in any order; the control limits take them in time order.
TActivityStatistics ComputeStatistics(const TJournal& journal, const std::vector<int>& rows);

// The rows in time order whose activity counts, with their values: what the control chart plots.
struct TControlSeries
{
    std::vector<int> Rows;
    std::vector<double> Values;
};
TControlSeries ActivitySeries(const TJournal& journal, const std::vector<int>& rows);

// The statistics per expected grade and per supplier index, of the rows that are readable.
std::map<std::uint32_t, TActivityStatistics> StatisticsByGrade(
    const TJournal& journal, const std::vector<int>& rows);
std::map<std::uint32_t, TActivityStatistics> StatisticsBySupplier(
    const TJournal& journal, const std::vector<int>& rows);

// "name: value" lines as the command-line tool prints them: counts as integers, figures
// with two decimals by the program's rounding rule, "?" where undefined. `prefix` is put
// before each name.
std::string StatisticsLines(const TActivityStatistics& stats, std::string_view decimalSeparator,
    const std::string& prefix = {}, bool withError = true);
