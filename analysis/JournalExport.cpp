#include "analysis/JournalExport.h"

#include <xlsxwriter.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>

std::string JournalHeaderText(TJournalColumn column)
{
    const std::string unit = JournalColumnUnit(column);
    return JournalColumnCaption(column) + (unit.empty() ? "" : ", " + unit);
}

bool WriteJournalXlsx(
    const std::string& path, const TJournal& journal, const std::vector<int>& rows, std::string& error)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go out as written: a project of any size fits
    lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
    if (!book) {
        error = "Не удалось создать файл " + path;
        return false;
    }
    lxw_worksheet* sheet = workbook_add_worksheet(book, "Журнал");
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    format_set_text_wrap(bold);
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "dd.mm.yyyy");
    lxw_format* time = workbook_add_format(book);
    format_set_num_format(time, "hh:mm:ss");
    lxw_format* one = workbook_add_format(book);
    format_set_num_format(one, "0.0");
    lxw_format* two = workbook_add_format(book);
    format_set_num_format(two, "0.00");
    for (int c = 0; c < kJournalColumnCount; ++c) {
        const auto column = static_cast<TJournalColumn>(c);
        worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c), JournalHeaderText(column).c_str(), bold);
        worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
            column == TJournalColumn::Comment ? 40 : 12, nullptr);
    }
    worksheet_freeze_panes(sheet, 1, 0);
    lxw_row_t r = 1;
    for (const int index : rows) {
        const TJournalRow& row = journal[static_cast<std::size_t>(index)];
        for (int c = 0; c < kJournalColumnCount; ++c) {
            const auto column = static_cast<TJournalColumn>(c);
            const auto col = static_cast<lxw_col_t>(c);
            // A spreadsheet counts days from the same day as an OLE date (after February 1900).
            if (column == TJournalColumn::Date && !IsUndefined(row.Date)) {
                worksheet_write_number(sheet, r, col, std::floor(row.Date), date);
                continue;
            }
            if (column == TJournalColumn::Time && !IsUndefined(row.Time)) {
                worksheet_write_number(sheet, r, col, row.Time - std::floor(row.Time), time);
                continue;
            }
            if (column == TJournalColumn::SamplingDate && row.Sample.SamplingDate) {
                worksheet_write_number(sheet, r, col, *row.Sample.SamplingDate, date);
                continue;
            }
            // A clamped activity is a bound, not a value: it stays text with its sign.
            const bool bound = column == TJournalColumn::Activity && row.Calc.ActivityBound != 0;
            if (const auto number = JournalCellNumber(row, column); number && !bound) {
                lxw_format* format = column == TJournalColumn::FinalContraction ? two
                    : (column == TJournalColumn::Activity || column == TJournalColumn::Strength
                          || column == TJournalColumn::Error)
                    ? one
                    : nullptr;
                worksheet_write_number(sheet, r, col, *number, format);
                continue;
            }
            const std::string text = JournalCellText(row, column, ".");
            if (!text.empty())
                worksheet_write_string(sheet, r, col, text.c_str(), nullptr);
        }
        ++r;
    }
    const lxw_error result = workbook_close(book);
    if (result != LXW_NO_ERROR) {
        error = "Не удалось записать файл " + path + ": " + lxw_strerror(result);
        return false;
    }
    return true;
}

std::string CsvFieldSeparator(std::string_view decimalSeparator)
{
    return decimalSeparator == "," ? ";" : ",";
}

namespace {

void AppendField(std::string& line, const std::string& text, const std::string& separator)
{
    if (text.find_first_of("\"\r\n") == std::string::npos && text.find(separator) == std::string::npos) {
        line += text;
        return;
    }
    line += '"';
    for (const char c : text) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

} // namespace

std::string JournalCsv(
    const TJournal& journal, const std::vector<int>& rows, std::string_view decimalSeparator)
{
    const std::string separator = CsvFieldSeparator(decimalSeparator);
    std::string csv = "\xEF\xBB\xBF";
    for (int c = 0; c < kJournalColumnCount; ++c) {
        if (c > 0)
            csv += separator;
        AppendField(csv, JournalHeaderText(static_cast<TJournalColumn>(c)), separator);
    }
    csv += "\r\n";
    for (const int index : rows) {
        for (int c = 0; c < kJournalColumnCount; ++c) {
            if (c > 0)
                csv += separator;
            AppendField(csv,
                JournalCellText(journal[static_cast<std::size_t>(index)], static_cast<TJournalColumn>(c),
                    decimalSeparator),
                separator);
        }
        csv += "\r\n";
    }
    return csv;
}

bool WriteJournalCsv(const std::string& path, const TJournal& journal, const std::vector<int>& rows,
    std::string_view decimalSeparator, std::string& error)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const std::string csv = JournalCsv(journal, rows, decimalSeparator);
    if (file)
        file.write(csv.data(), static_cast<std::streamsize>(csv.size()));
    file.close();
    if (!file) {
        error = "Не удалось записать файл " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
