#include "analysis/Statistics.h"

#include "compute/ResultText.h"

#include <algorithm>
#include <cmath>

TSummary Summarize(const std::vector<double>& values)
{
    TSummary s;
    s.N = static_cast<int>(values.size());
    if (values.empty())
        return s;
    double sum = 0.0;
    s.Min = s.Max = values.front();
    for (const double v : values) {
        sum += v;
        s.Min = std::min(s.Min, v);
        s.Max = std::max(s.Max, v);
    }
    s.Mean = sum / s.N;
    if (s.N < 2)
        return s;
    double squares = 0.0;
    for (const double v : values)
        squares += (v - s.Mean) * (v - s.Mean);
    s.Sd = std::sqrt(squares / (s.N - 1));
    if (s.Mean != 0.0)
        s.Cv = 100.0 * s.Sd / std::fabs(s.Mean);
    return s;
}

TControlLimits IndividualsLimits(const std::vector<double>& values)
{
    TControlLimits limits;
    if (values.empty())
        return limits;
    double sum = 0.0;
    for (const double v : values)
        sum += v;
    limits.Centre = sum / static_cast<double>(values.size());
    if (values.size() < 2)
        return limits;
    double ranges = 0.0;
    for (std::size_t i = 1; i < values.size(); ++i)
        ranges += std::fabs(values[i] - values[i - 1]);
    limits.Sigma = ranges / static_cast<double>(values.size() - 1) / kMovingRangeDivisor;
    limits.Ucl = limits.Centre + 3.0 * limits.Sigma;
    limits.Lcl = limits.Centre - 3.0 * limits.Sigma;
    limits.Beyond = static_cast<int>(std::count_if(
        values.begin(), values.end(), [&](double v) { return v > limits.Ucl || v < limits.Lcl; }));
    return limits;
}

TControlSeries ActivitySeries(const TJournal& journal, const std::vector<int>& rows)
{
    TControlSeries series;
    for (const int i : rows)
        if (journal[static_cast<std::size_t>(i)].ActivityInTable())
            series.Rows.push_back(i);
    std::stable_sort(series.Rows.begin(), series.Rows.end(), [&journal](int a, int b) {
        return TimeOrderLess(journal[static_cast<std::size_t>(a)], journal[static_cast<std::size_t>(b)]);
    });
    series.Values.reserve(series.Rows.size());
    for (const int i : series.Rows)
        series.Values.push_back(journal[static_cast<std::size_t>(i)].Calc.Activity);
    return series;
}

TActivityStatistics ComputeStatistics(const TJournal& journal, const std::vector<int>& rows)
{
    TActivityStatistics stats;
    stats.Records = static_cast<int>(rows.size());
    std::vector<double> errors;
    for (const int i : rows) {
        const TJournalRow& row = journal[static_cast<std::size_t>(i)];
        if (!row.Readable || IsUndefined(row.Calc.Activity))
            ++stats.Undefined;
        else if (row.Calc.ActivityBound != 0)
            ++stats.Clamped;
        if (const double error = row.ForecastError(); !IsUndefined(error))
            errors.push_back(error);
    }
    const TControlSeries series = ActivitySeries(journal, rows);
    stats.Activity = Summarize(series.Values);
    stats.Limits = IndividualsLimits(series.Values);
    stats.Error = Summarize(errors);
    return stats;
}

namespace {

std::map<std::uint32_t, TActivityStatistics> Grouped(
    const TJournal& journal, const std::vector<int>& rows, std::uint32_t (*key)(const TJournalRow&))
{
    std::map<std::uint32_t, std::vector<int>> groups;
    for (const int i : rows)
        if (journal[static_cast<std::size_t>(i)].Readable)
            groups[key(journal[static_cast<std::size_t>(i)])].push_back(i);
    std::map<std::uint32_t, TActivityStatistics> result;
    for (const auto& [k, members] : groups)
        result.emplace(k, ComputeStatistics(journal, members));
    return result;
}

} // namespace

std::map<std::uint32_t, TActivityStatistics> StatisticsByGrade(
    const TJournal& journal, const std::vector<int>& rows)
{
    return Grouped(journal, rows, [](const TJournalRow& r) { return r.ExpCementGrade; });
}

std::map<std::uint32_t, TActivityStatistics> StatisticsBySupplier(
    const TJournal& journal, const std::vector<int>& rows)
{
    return Grouped(journal, rows, [](const TJournalRow& r) { return r.Supplier; });
}

std::string StatisticsLines(
    const TActivityStatistics& s, std::string_view separator, const std::string& prefix, bool withError)
{
    std::string out;
    const auto count = [&](const char* name, int value) {
        out += prefix + name + ": " + (value < 0 ? std::string("?") : std::to_string(value)) + "\n";
    };
    const auto figure = [&](const char* name, double value) {
        out += prefix + name + ": " + FormatDecimal(value, 2, separator) + "\n";
    };
    count("records", s.Records);
    count("activity_n", s.Activity.N);
    count("activity_clamped", s.Clamped);
    count("activity_undefined", s.Undefined);
    figure("activity_mean", s.Activity.Mean);
    figure("activity_sd", s.Activity.Sd);
    figure("activity_cv", s.Activity.Cv);
    figure("activity_min", s.Activity.Min);
    figure("activity_max", s.Activity.Max);
    figure("imr_sigma", s.Limits.Sigma);
    figure("ucl", s.Limits.Ucl);
    figure("lcl", s.Limits.Lcl);
    count("beyond_limits", s.Limits.Beyond);
    if (withError) {
        count("error_n", s.Error.N);
        figure("error_mean", s.Error.Mean);
        figure("error_sd", s.Error.Sd);
        figure("error_cv", s.Error.Cv);
        figure("error_min", s.Error.Min);
        figure("error_max", s.Error.Max);
    }
    return out;
}
