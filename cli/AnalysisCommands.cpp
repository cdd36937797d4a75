#include "cli/AnalysisCommands.h"

#include "analysis/Journal.h"
#include "analysis/JournalExport.h"
#include "analysis/Statistics.h"
#include "compute/ReferenceTables.h"
#include "store/MainDataModuleUnit.h"

#include <ostream>
#include <stdexcept>

namespace {

class TUsage : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

std::int64_t Whole(const std::string& option, const std::string& text)
{
    std::size_t used = 0;
    long long value = -1;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value < 0 || value > 0x7FFFFFFF)
        throw TUsage(option + ": нужно целое число от 0, а не " + text);
    return value;
}

double Day(const std::string& option, const std::string& text)
{
    const std::optional<double> day = ParseIsoDate(text);
    if (!day)
        throw TUsage(option + ": нужна дата ГГГГ-ММ-ДД, а не " + text);
    return *day;
}

struct TCommandLine
{
    std::string Project;
    std::vector<std::string> Positional; // after the project
    std::string Format;
    TJournalFilter Filter;
};

TCommandLine Parse(const std::vector<std::string>& a, bool withFormat)
{
    TCommandLine line;
    for (std::size_t i = 1; i < a.size(); ++i) {
        const std::string& word = a[i];
        if (word.rfind("--", 0) != 0) {
            (line.Project.empty() ? line.Project : line.Positional.emplace_back()) = word;
            continue;
        }
        if (i + 1 >= a.size())
            throw TUsage(word + ": нет значения");
        const std::string& value = a[++i];
        if (word == "--days")
            line.Filter.ConcretionTime = static_cast<std::int32_t>(Whole(word, value));
        else if (word == "--grade")
            line.Filter.Grade = static_cast<std::uint32_t>(Whole(word, value));
        else if (word == "--supplier")
            line.Filter.Supplier = static_cast<std::uint32_t>(Whole(word, value));
        else if (word == "--from")
            line.Filter.FromDate = Day(word, value);
        else if (word == "--to")
            line.Filter.ToDate = Day(word, value);
        else if (word == "--format" && withFormat && (value == "csv" || value == "xlsx"))
            line.Format = value;
        else
            throw TUsage("Неизвестный параметр: " + word + " " + value);
    }
    return line;
}

// The journal of the whole project (computed here, on this thread) and the rows the filter passes.
TJournal ReadJournal(const TCommandLine& line, const TProjectOpener& open, std::vector<int>& rows)
{
    TMainDataModule dataModule;
    open(dataModule, line.Project);
    TJournalSource source = TakeJournalSource(dataModule);
    dataModule.CloseProjectDatabase();
    const std::atomic<bool> never{false};
    ComputeJournal(source, {}, never);
    rows = FilterJournal(source.Rows, line.Filter);
    return std::move(source.Rows);
}

void Stats(const std::vector<std::string>& a, std::ostream& out, const std::string& separator,
    const TProjectOpener& open)
{
    const TCommandLine line = Parse(a, false);
    if (line.Project.empty() || !line.Positional.empty())
        throw TUsage("stats: нужен один файл проекта");
    std::vector<int> rows;
    const TJournal journal = ReadJournal(line, open, rows);
    out << StatisticsLines(ComputeStatistics(journal, rows), separator);
    for (const auto& [grade, stats] : StatisticsByGrade(journal, rows))
        out << StatisticsLines(stats, separator, "grade_" + std::to_string(grade) + ".");
    for (const auto& [supplier, stats] : StatisticsBySupplier(journal, rows))
        out << StatisticsLines(stats, separator, "supplier_" + std::to_string(supplier) + ".");
}

void Journal(const std::vector<std::string>& a, const std::string& separator, const TProjectOpener& open)
{
    const TCommandLine line = Parse(a, true);
    if (line.Project.empty() || line.Positional.size() != 1)
        throw TUsage("journal: нужны файл проекта и файл журнала");
    const std::string& target = line.Positional[0];
    const bool xlsx = line.Format.empty() ? target.size() > 5 && target.substr(target.size() - 5) == ".xlsx"
                                          : line.Format == "xlsx";
    std::vector<int> rows;
    const TJournal journal = ReadJournal(line, open, rows);
    std::string error;
    if (!(xlsx ? WriteJournalXlsx(target, journal, rows, error)
               : WriteJournalCsv(target, journal, rows, separator, error)))
        throw std::runtime_error(error);
}

} // namespace

int RunAnalysisCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
    const std::string& decimalSeparator, const char* usage, const TProjectOpener& open)
{
    try {
        if (arguments.at(0) == "stats")
            Stats(arguments, out, decimalSeparator, open);
        else
            Journal(arguments, decimalSeparator, open);
    } catch (const TUsage& error) {
        err << error.what() << "\n" << usage;
        return 2;
    } catch (const std::exception& error) {
        err << error.what() << "\n";
        return 1;
    }
    return 0;
}
