#include "compute/ResultText.h"

#include "store/ProjectExtensions.h"

#include "compute/ReferenceTables.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>

namespace {

constexpr int kMaxDecimals = 40;

// A value halfway between two neighbours at `decimals` places is (2N + 1) / (2 * 10^decimals); being
// a binary number as well, it is an odd multiple of 2^-(decimals + 1). So the tie is exact exactly
// when the lowest set bit of the value has that weight.
bool IsHalfway(double magnitude, int decimals)
{
    if (magnitude == 0.0 || !std::isfinite(magnitude))
        return false;
    int exponent = 0;
    const double fraction = std::frexp(magnitude, &exponent);
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const int lowestBit = exponent - 53 + std::countr_zero(mantissa);
    return lowestBit == -(decimals + 1);
}

// Correctly rounded and independent of the C locale (which a GUI toolkit may have set).
std::string ToFixed(double magnitude, int decimals)
{
    // The largest double has 309 integer digits.
    std::array<char, 320 + kMaxDecimals + 2> buffer{};
    const auto [end, error] = std::to_chars(
        buffer.data(), buffer.data() + buffer.size(), magnitude, std::chars_format::fixed, decimals);
    if (error != std::errc())
        return {};
    return std::string(buffer.data(), end);
}

void IncrementLastDigit(std::string& digits)
{
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it == '.')
            continue;
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

std::string WithPrefix(std::int32_t bound, double value, int decimals, std::string_view decimalSeparator)
{
    if (IsUndefined(value))
        return "?";
    const char* prefix = bound == -1 ? "< " : bound == 1 ? "> " : " ";
    return prefix + FormatDecimal(value, decimals, decimalSeparator);
}

} // namespace

std::string FormatDecimal(double value, int decimals, std::string_view decimalSeparator)
{
    if (!std::isfinite(value))
        return "?";
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    const double magnitude = std::fabs(value);
    std::string digits;
    if (IsHalfway(magnitude, decimals)) {
        // At one more place the tie is exact and ends in 5: drop that digit and round up.
        digits = ToFixed(magnitude, decimals + 1);
        digits.pop_back();
        if (!digits.empty() && digits.back() == '.')
            digits.pop_back();
        IncrementLastDigit(digits);
    } else {
        digits = ToFixed(magnitude, decimals);
    }
    if (digits.empty())
        return "?";

    std::string text;
    const bool roundsToZero = digits.find_first_not_of("0.") == std::string::npos;
    if (std::signbit(value) && !roundsToZero)
        text = "-";
    const std::size_t point = digits.find('.');
    if (point == std::string::npos) {
        text += digits;
    } else {
        text.append(digits, 0, point);
        text += decimalSeparator;
        text.append(digits, point + 1);
    }
    return text;
}

std::string GetCementMassStr(std::uint32_t cementMass)
{
    return std::to_string(cementMass);
}

std::string GetDurationStr(std::uint32_t seconds)
{
    return std::to_string(seconds / 3600) + ":" + std::to_string(seconds % 3600 / 60);
}

std::string GetPeriodStr(std::uint32_t seconds)
{
    return std::to_string(seconds);
}

std::string GetConcretionTimeStr(std::int32_t days)
{
    return std::to_string(days);
}

std::string GetSupplierDataSimpleStr(std::uint32_t supplier, std::string_view decimalSeparator)
{
    return FormatDecimal(GetSupplierData(supplier), 2, decimalSeparator);
}

std::string GetSupplierDataStr(std::uint32_t supplier, std::string_view decimalSeparator)
{
    return GetSupplierDataSimpleStr(supplier, decimalSeparator) + " (" + GetSupplierName(supplier) + ") ";
}

std::string GetContractionStr(double contraction, std::string_view decimalSeparator)
{
    return IsUndefined(contraction) ? "?" : FormatDecimal(contraction, 2, decimalSeparator);
}

std::string GetStagnationStr(std::int32_t stagnation, double stagCorrection)
{
    if (IsUndefined(stagCorrection))
        return "?";
    return stagnation == 1 ? "есть" : "нет";
}

std::string GetStagCorrectionStr(
    std::int32_t stagnation, double stagCorrection, std::string_view decimalSeparator)
{
    if (IsUndefined(stagCorrection))
        return "?";
    return stagnation == 1 ? FormatDecimal(stagCorrection, 2, decimalSeparator) : " ";
}

std::string GetAverageTempStr(double averageTemp, std::string_view decimalSeparator)
{
    return IsUndefined(averageTemp) ? "?" : FormatDecimal(averageTemp, 1, decimalSeparator);
}

std::string GetTempCorrectionStr(double tempCorrection, std::string_view decimalSeparator)
{
    return IsUndefined(tempCorrection) ? "?" : FormatDecimal(tempCorrection, 2, decimalSeparator);
}

std::string GetActivityStr(std::int32_t bound, double activity, std::string_view decimalSeparator)
{
    return WithPrefix(bound, activity, 1, decimalSeparator);
}

std::string GetUnitContractionStr(
    std::int32_t bound, double unitContraction, std::string_view decimalSeparator)
{
    return WithPrefix(bound, unitContraction, 3, decimalSeparator);
}

TParamTexts GetParamTexts(const TMsrResult& msr, std::string_view decimalSeparator)
{
    return {
        GetCementMassStr(msr.CementMass),
        GetDurationStr(msr.Duration),
        GetPeriodStr(msr.Period),
        GetCementGradeName(msr.ExpCementGrade),
        GetSupplierDataStr(msr.Supplier, decimalSeparator),
        GetConcretionTimeStr(msr.ConcretionTime),
    };
}

TResultTexts GetResultTexts(const TMsrCalcResult& result, std::string_view decimalSeparator)
{
    return {
        GetContractionStr(result.RawContraction, decimalSeparator),
        GetContractionStr(result.ExContraction, decimalSeparator),
        GetStagnationStr(result.Stagnation, result.StagCorrection),
        GetStagCorrectionStr(result.Stagnation, result.StagCorrection, decimalSeparator),
        GetAverageTempStr(result.AverageTemp, decimalSeparator),
        GetTempCorrectionStr(result.TempCorrection, decimalSeparator),
        GetContractionStr(result.FinalContraction, decimalSeparator),
        GetActivityStr(result.ActivityBound, result.Activity, decimalSeparator),
        GetUnitContractionStr(result.UnitContractionBound, result.UnitContraction, decimalSeparator),
    };
}

std::string GetMeasuredStrengthStr(std::optional<double> strength, std::string_view decimalSeparator)
{
    return strength ? FormatDecimal(*strength, 1, decimalSeparator) : "?";
}

std::optional<TForecastError> GetForecastError(const TMsrCalcResult& result, std::optional<double> strength)
{
    if (!strength || !std::isfinite(*strength) || *strength <= 0.0 || IsUndefined(result.Activity)
        || result.ActivityBound != 0)
        return std::nullopt;
    const double mpa = result.Activity - *strength;
    return TForecastError{mpa, mpa / *strength * 100.0};
}

std::pair<std::string, std::string> GetForecastErrorStrs(
    const TMsrCalcResult& result, std::optional<double> strength, std::string_view decimalSeparator)
{
    const std::optional<TForecastError> error = GetForecastError(result, strength);
    if (!error)
        return {"?", "?"};
    return {
        FormatDecimal(error->Mpa, 1, decimalSeparator), FormatDecimal(error->Percent, 1, decimalSeparator)};
}

std::string GetForecastErrorStr(
    const TMsrCalcResult& result, std::optional<double> strength, std::string_view decimalSeparator)
{
    const auto [mpa, percent] = GetForecastErrorStrs(result, strength, decimalSeparator);
    return mpa == "?" ? mpa : mpa + " (" + percent + " %)";
}

std::string GetHistoryValueStr(
    const std::string& field, const std::string& value, std::string_view decimalSeparator)
{
    if (value.empty())
        return value;
    char* end = nullptr;
    const unsigned long number = std::strtoul(value.c_str(), &end, 10);
    const bool integer = end && *end == '\0';
    if (integer && field == HistoryField::Mass)
        return GetCementMassStr(static_cast<std::uint32_t>(number)) + " г";
    if (integer && field == HistoryField::Grade)
        return GetCementGradeName(static_cast<std::uint32_t>(number));
    if (integer && field == HistoryField::Supplier)
        return GetSupplierDataSimpleStr(static_cast<std::uint32_t>(number), decimalSeparator);
    if (integer && field == HistoryField::Duration)
        return GetConcretionTimeStr(static_cast<std::int32_t>(number)) + " сут";
    if (field == SampleColumn::Strength) {
        std::string text = value;
        if (const std::size_t point = text.find('.'); point != std::string::npos)
            text.replace(point, 1, decimalSeparator);
        return text;
    }
    return value;
}
