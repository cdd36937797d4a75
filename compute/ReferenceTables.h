#pragma once

// Constant reference data of the activity prediction: two tables indexed by the final contraction of
// 1000 g of cement over 3 hours (rows, `ContractionScale`) and by the hardening duration (columns,
// `ConcretionTimes`), the cement suppliers with their stagnation correction, and the grade names.
// Every lookup is total: an unknown duration, contraction or index gives a documented value, never
// an error.

#include "compute/Undefined.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr std::size_t kContractionRowCount = 31;
constexpr std::size_t kConcretionTimeCount = 7;
constexpr std::size_t kSupplierCount = 7;

using TReferenceTable = std::array<std::array<double, kConcretionTimeCount>, kContractionRowCount>;

// 2.0, 2.1, ..., 5.0 ml, each the double nearest to its decimal.
extern const std::array<double, kContractionRowCount> ContractionScale;
// 7, 14, 28, 60, 90, 180, 360 days.
extern const std::array<std::int32_t, kConcretionTimeCount> ConcretionTimes;
// Activity in MPa, [row][column].
extern const TReferenceTable ActivityTable;
// Specific current contraction in ml/g, [row][column].
extern const TReferenceTable UnitContractionTable;
// Stagnation correction in ml, by supplier index.
extern const std::array<double, kSupplierCount> SupplierDataTable;
// UTF-8 names, by supplier index; the last entry (" другой ") has a blank on both sides.
extern const std::array<std::string_view, kSupplierCount> SupplierNameTable;

// Column 0..6 of an exact match in `ConcretionTimes`; -1 for any other value.
int FindConcretionTimeColumn(std::int32_t days);

// The first row r in 0..29 with ContractionScale[r] <= x < ContractionScale[r + 1]; -1 when there is
// none (x below 2.0, at or above 5.0, or NaN).
int FindContractionRow(double x);

// Activity for a hardening duration and a final contraction x, interpolated linearly between rows
// (bound 0). Below the table the bottom row's value with bound -1, at or above 5.0 the top row's with
// bound +1. Returns false with value kUndefined and bound 0 when days is not a table column or x is
// NaN; true otherwise.
bool GetActivity(std::int32_t days, double x, double& value, std::int32_t& bound);

// As GetActivity, on `UnitContractionTable`.
bool GetUnitContraction(std::int32_t days, double x, double& value, std::int32_t& bound);

// True for an index 0..6.
bool IsSupplierValid(std::uint32_t supplier);

// The supplier's stagnation correction; 0.0 for an invalid index.
double GetSupplierData(std::uint32_t supplier);

// The supplier's name; "?" for an invalid index.
std::string GetSupplierName(std::uint32_t supplier);

// "M-100" .. "M-700" for 0..6 (Latin M), "неизв." for 7, "?" for any other index.
std::string GetCementGradeName(std::uint32_t grade);
