#pragma once

// The journal's rows as files for a spreadsheet: XLSX (through libxlsxwriter) with numbers
// stored as numbers, dates and times as spreadsheet dates, and CSV in UTF-8. Both start with a
// header row of captions and units and hold the rows given, in that order: the rows the
// journal shows.

#include "analysis/Journal.h"

#include <string>
#include <string_view>
#include <vector>

// Writes the sheet "Журнал". False with `error` set (Russian) when the file cannot be written.
bool WriteJournalXlsx(
    const std::string& path, const TJournal& journal, const std::vector<int>& rows, std::string& error);

// The field separator that goes with a decimal separator: ";" after a decimal comma, else ",".
std::string CsvFieldSeparator(std::string_view decimalSeparator);

// The CSV text: a UTF-8 byte-order mark, the header, one line per row, CRLF line ends; a field
// holding the separator, a quote or a line break is quoted with its quotes doubled.
std::string JournalCsv(
    const TJournal& journal, const std::vector<int>& rows, std::string_view decimalSeparator);
// False with `error` set when the file cannot be written.
bool WriteJournalCsv(const std::string& path, const TJournal& journal, const std::vector<int>& rows,
    std::string_view decimalSeparator, std::string& error);

// The header text of a column: the caption, and ", unit" when it has one.
std::string JournalHeaderText(TJournalColumn column);
