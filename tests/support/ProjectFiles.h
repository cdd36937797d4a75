#pragma once

// Project files and their records as the store tests and window tests make and read them.

#include "store/Firebird.h"
#include "store/MsrResult.h"

#include <string>
#include <vector>

using TRows = std::vector<std::vector<TValue>>;

// Reads a project file through a connection of its own, as another program would.
TRows Query(const std::string& path, const std::string& sql);
void Execute(const std::string& path, const std::string& sql);
// Runs one statement with positional parameters and commits.
void Execute(const std::string& path, const std::string& sql, const std::vector<TValue>& params);

// Everything an operator could see of a project, read by another connection, as text that
// compares equal exactly when that is the same. Row keys are left out: the engine's
// generators are not rolled back with a lost transaction.
std::string ProjectContents(const std::string& path);

// A record of n samples at a 10 s period (mass 400 g, 28 days) whose sample values tell
// record, array and position apart: number * 100 + array * 10 + sample.
TMsrResult NumberedRecord(double begin, std::int32_t number, std::uint32_t n = 3);
