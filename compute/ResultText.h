#pragma once

// The one way in which a record's fields and its computed results become text: the results grids,
// the printed report and any command-line tool call these, so all of them show identical text.
//
// The decimal separator is passed in as UTF-8 text (std::string_view), so a locale whose separator
// is more than one byte is served as well; the window layer passes its locale's separator, a tool
// may pass ".". Functions that print no decimals take none.
//
// Texts are UTF-8. An undefined value (any NaN) is shown as "?".

#include "compute/Activity.h"
#include "store/MsrResult.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// A number with a fixed count of decimals, as the patterns "0", "0.0", "0.00", "0.000" give it: no
// thousands separator, at least one integer digit, a leading "-" for a negative value. The rounding
// is decided on the exact binary value; a value exactly halfway rounds away from zero (1.125 at two
// places gives "1.13"). A negative value that rounds to zero is shown without a sign ("0.00", never
// "-0.00"). decimals is clamped to 0..40. Returns "?" for NaN and for an infinite value.
std::string FormatDecimal(double value, int decimals, std::string_view decimalSeparator);

// Decimal integer.
std::string GetCementMassStr(std::uint32_t cementMass);

// Whole hours, ":", whole minutes of the last hour, no leading zeros: 11100 s gives "3:5".
std::string GetDurationStr(std::uint32_t seconds);

// Decimal integer.
std::string GetPeriodStr(std::uint32_t seconds);

// Decimal integer.
std::string GetConcretionTimeStr(std::int32_t days);

// The supplier's correction with two decimals; "0.00" for an invalid index.
std::string GetSupplierDataSimpleStr(std::uint32_t supplier, std::string_view decimalSeparator);

// The simple text, " (", the supplier's name, ") " with a trailing blank: "1.40 (Спасский) ";
// "0.00 (?) " for an invalid index.
std::string GetSupplierDataStr(std::uint32_t supplier, std::string_view decimalSeparator);

// Two decimals; "?" when undefined.
std::string GetContractionStr(double contraction, std::string_view decimalSeparator);

// "есть" for flag 1, "нет" for any other flag; "?" when the correction is undefined.
std::string GetStagnationStr(std::int32_t stagnation, double stagCorrection);

// The correction with two decimals for flag 1, a single blank for any other flag; "?" when the
// correction is undefined.
std::string GetStagCorrectionStr(
    std::int32_t stagnation, double stagCorrection, std::string_view decimalSeparator);

// One decimal; "?" when undefined (a record without samples has no average).
std::string GetAverageTempStr(double averageTemp, std::string_view decimalSeparator);

// Two decimals; "?" when undefined.
std::string GetTempCorrectionStr(double tempCorrection, std::string_view decimalSeparator);

// "< " for bound -1, "> " for bound +1, a single blank otherwise, then one decimal; "?" when the
// value is undefined, whatever the bound.
std::string GetActivityStr(std::int32_t bound, double activity, std::string_view decimalSeparator);

// As GetActivityStr, with three decimals.
std::string GetUnitContractionStr(
    std::int32_t bound, double unitContraction, std::string_view decimalSeparator);

// The values of the parameter rows in their order: cement mass, duration, period, expected grade,
// supplier, hardening duration.
using TParamTexts = std::array<std::string, 6>;
TParamTexts GetParamTexts(const TMsrResult& msr, std::string_view decimalSeparator);

// The values of the result rows in their order: raw contraction, contraction of 1000 g, stagnation,
// stagnation correction, average temperature, temperature correction, final contraction, activity,
// specific contraction.
using TResultTexts = std::array<std::string, 9>;
TResultTexts GetResultTexts(const TMsrCalcResult& result, std::string_view decimalSeparator);

// The strength measured by the standard compressive test, as the activity is shown; "?" when
// none was entered.
std::string GetMeasuredStrengthStr(std::optional<double> strength, std::string_view decimalSeparator);

// Predicted minus measured activity, in MPa and per cent of the measured. None when either is
// missing or undefined, when the prediction lies at a table bound, or the measured is not positive.
struct TForecastError
{
    double Mpa = 0.0;
    double Percent = 0.0;
};
std::optional<TForecastError> GetForecastError(const TMsrCalcResult& result, std::optional<double> strength);
// "-1.2 (-2.5 %)", or "?".
std::string GetForecastErrorStr(
    const TMsrCalcResult& result, std::optional<double> strength, std::string_view decimalSeparator);

// A value of the change history as the operator reads it: parameters by their names, numbers
// with the separator; `field` is the history's field name.
// The error in MPa and in per cent apart ("-1.2", "-2.5"), each "?" when there is none.
std::pair<std::string, std::string> GetForecastErrorStrs(
    const TMsrCalcResult& result, std::optional<double> strength, std::string_view decimalSeparator);

std::string GetHistoryValueStr(
    const std::string& field, const std::string& value, std::string_view decimalSeparator);
