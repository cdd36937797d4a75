#include "analysis/Journal.h"

#include "compute/ReferenceTables.h"
#include "compute/ResultText.h"
#include "store/Cp1251.h"
#include "store/MainDataModuleUnit.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <unordered_map>

namespace {

double DateOf(const TValue& value)
{
    const auto* date = std::get_if<TDateTime>(&value);
    return date ? date->Value : kUndefined;
}

std::string TextOf(const TValue& value)
{
    const auto* text = std::get_if<std::string>(&value);
    return text ? *text : std::string();
}

std::string OptionalDecimal(const std::optional<double>& value, int decimals, std::string_view separator)
{
    return value ? FormatDecimal(*value, decimals, separator) : std::string();
}

// Undefined before any number, so a sort puts the rows without a value together first.
int CompareNumbers(double a, double b)
{
    const bool ua = std::isnan(a), ub = std::isnan(b);
    if (ua || ub)
        return ua == ub ? 0 : (ua ? -1 : 1);
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

double TJournalRow::ForecastError() const
{
    if (!ActivityInTable() || !Sample.Strength)
        return kUndefined;
    return Calc.Activity - *Sample.Strength;
}

void FillMeasurement(TJournalRow& row, const TMsrResult& msr)
{
    row.Readable = true;
    row.CementMass = msr.CementMass;
    row.ExpCementGrade = msr.ExpCementGrade;
    row.Supplier = msr.Supplier;
    row.ConcretionTime = msr.ConcretionTime;
    row.Calc = CalcMsrResult(msr);
}

TJournalSource TakeJournalSource(TMainDataModule& dataModule)
{
    TJournalSource source;
    source.Target = dataModule.Target();
    const TCachedDataSet& list = dataModule.ResultDataSet();
    const int count = dataModule.GetRecordCount();
    const std::size_t date = list.FieldIndex("MEASURE_DATE");
    const std::size_t time = list.FieldIndex("MEASURE_TIME");
    const std::size_t number = list.FieldIndex("MEASURE_NUMBER");
    const std::size_t comment = list.FieldIndex("MEASURE_COMMENT");
    source.Rows.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        TJournalRow& row = source.Rows[static_cast<std::size_t>(i)];
        const std::vector<TValue>& values = list.RowAsRead(i);
        row.ListRow = i;
        row.Key = dataModule.RecordKeyAt(i);
        row.Sample = dataModule.SampleInfoAt(i);
        row.Pending = list.RowStatus(i) != TUpdateStatus::Unchanged;
        if (!row.Pending) {
            // As read: the same values the row holds, the lazy blobs left unread.
            row.Date = DateOf(values[date]);
            row.Time = DateOf(values[time]);
            if (const auto* n = std::get_if<std::int64_t>(&values[number]))
                row.Number = *n;
            continue;
        }
        row.Date = DateOf(list.RowField(i, date));
        row.Time = DateOf(list.RowField(i, time));
        if (const auto* n = std::get_if<std::int64_t>(&list.RowField(i, number)))
            row.Number = *n;
        row.Comment = Cp1251ToUtf8(TextOf(list.RowField(i, comment)));
        TMsrResult msr;
        if (dataModule.ReadMsrResultAt(i, msr) == 0)
            FillMeasurement(row, msr);
    }
    return source;
}

bool ComputeJournal(
    TJournalSource& source, const std::function<void(int, int)>& progress, const std::atomic<bool>& cancel)
{
    std::unordered_map<std::int64_t, std::size_t> wanted;
    for (std::size_t i = 0; i < source.Rows.size(); ++i)
        if (!source.Rows[i].Pending)
            wanted.emplace(source.Rows[i].Key, i);
    const int total = static_cast<int>(wanted.size());
    if (progress)
        progress(0, total);
    if (wanted.empty())
        return true;
    TMainDataModule project;
    if (!project.OpenProjectDatabase(source.Target, TMainDataModule::TOpenMode::ProjectRowOnly))
        throw TDatabaseError("Не удалось открыть проект для журнала.\n" + project.LastError());
    auto query = project.Connection().Prepare(
        "SELECT MEASURE_RESULT_TABLE_PK, MEASURE_COMMENT, MEASURE_DATA FROM MEASURE_RESULT_TABLE");
    query->Open();
    int done = 0;
    TMsrResult msr;
    while (query->Fetch()) {
        if (cancel.load(std::memory_order_relaxed)) {
            query->CloseCursor();
            project.CloseProjectDatabase();
            return false;
        }
        const TValue keyValue = query->Column(0);
        const auto* key = std::get_if<std::int64_t>(&keyValue);
        const auto found = key ? wanted.find(*key) : wanted.end();
        if (found == wanted.end())
            continue;
        TJournalRow& row = source.Rows[found->second];
        row.Comment = Cp1251ToUtf8(TextOf(query->Column(1)));
        const TValue data = query->Column(2);
        if (const auto* blob = std::get_if<std::string>(&data); blob && DecodeMsrResult(*blob, msr) == 0)
            FillMeasurement(row, msr);
        if (++done % 256 == 0 && progress)
            progress(done, total);
    }
    query->CloseCursor();
    query.reset();
    project.CloseProjectDatabase();
    if (progress)
        progress(total, total);
    return true;
}

bool TimeOrderLess(const TJournalRow& a, const TJournalRow& b)
{
    if (const int c = CompareNumbers(a.Date, b.Date))
        return c < 0;
    if (const int c = CompareNumbers(a.Time, b.Time))
        return c < 0;
    return std::tie(a.Number, a.ListRow) < std::tie(b.Number, b.ListRow);
}

std::string FoldCase(const std::string& utf8)
{
    std::string folded = utf8;
    for (std::size_t i = 0; i < folded.size(); ++i) {
        unsigned char& c = reinterpret_cast<unsigned char&>(folded[i]);
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<unsigned char>(c + ('a' - 'A'));
        } else if (c == 0xD0 && i + 1 < folded.size()) {
            unsigned char& d = reinterpret_cast<unsigned char&>(folded[i + 1]);
            if (d >= 0x90 && d <= 0x9F) { // А..П
                d = static_cast<unsigned char>(d + 0x20);
            } else if (d >= 0xA0 && d <= 0xAF) { // Р..Я
                c = 0xD1;
                d = static_cast<unsigned char>(d - 0x20);
            } else if (d == 0x81) { // Ё
                c = 0xD1;
                d = 0x91;
            }
            ++i;
        }
    }
    return folded;
}

bool TJournalFilter::Matches(const TJournalRow& row) const
{
    if (FromDate || ToDate) {
        if (IsUndefined(row.Date))
            return false;
        const double day = std::floor(row.Date);
        if ((FromDate && day < *FromDate) || (ToDate && day > *ToDate))
            return false;
    }
    if ((Grade || Supplier || ConcretionTime) && !row.Readable)
        return false;
    if ((Grade && row.ExpCementGrade != *Grade) || (Supplier && row.Supplier != *Supplier)
        || (ConcretionTime && row.ConcretionTime != *ConcretionTime))
        return false;
    if (Text.empty())
        return true;
    const std::string wanted = FoldCase(Text);
    for (const std::string* text :
        {&row.Comment, &row.Sample.Code, &row.Sample.CementType, &row.Sample.Manufacturer, &row.Sample.Batch})
        if (FoldCase(*text).find(wanted) != std::string::npos)
            return true;
    return false;
}

std::vector<int> FilterJournal(const TJournal& journal, const TJournalFilter& filter)
{
    std::vector<int> rows;
    rows.reserve(journal.size());
    for (std::size_t i = 0; i < journal.size(); ++i)
        if (filter.Matches(journal[i]))
            rows.push_back(static_cast<int>(i));
    return rows;
}

std::optional<double> ParseIsoDate(const std::string& text)
{
    using namespace std::chrono;
    int y = 0;
    unsigned m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2u-%2u%c", &y, &m, &d, &tail) != 3
        || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    const year_month_day day{year(y), month(m), std::chrono::day(d)};
    if (!day.ok())
        return std::nullopt;
    return static_cast<double>((sys_days(day) - sys_days(year(1899) / December / 30)).count());
}

namespace {

std::chrono::sys_time<std::chrono::milliseconds> OleInstant(double oleDate)
{
    using namespace std::chrono;
    return sys_days(year(1899) / December / 30) + milliseconds(std::llround(oleDate * 86400000.0));
}

} // namespace

std::string JournalDateText(double oleDate)
{
    using namespace std::chrono;
    if (!std::isfinite(oleDate))
        return {};
    const year_month_day day(floor<days>(OleInstant(oleDate)));
    char text[24];
    std::snprintf(text, sizeof text, "%02u.%02u.%04d", static_cast<unsigned>(day.day()),
        static_cast<unsigned>(day.month()), static_cast<int>(day.year()));
    return text;
}

std::string JournalTimeText(double oleDate)
{
    using namespace std::chrono;
    if (!std::isfinite(oleDate))
        return {};
    const auto at = OleInstant(oleDate);
    const hh_mm_ss<milliseconds> time(at - floor<days>(at));
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(time.hours().count()),
        static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
    return text;
}

std::string JournalColumnCaption(TJournalColumn column)
{
    switch (column) {
    case TJournalColumn::Date:
        return "Дата";
    case TJournalColumn::Time:
        return "Время";
    case TJournalColumn::Number:
        return "№";
    case TJournalColumn::SampleCode:
        return "Шифр пробы";
    case TJournalColumn::CementType:
        return "Вид цемента";
    case TJournalColumn::Manufacturer:
        return "Изготовитель";
    case TJournalColumn::Batch:
        return "Партия";
    case TJournalColumn::SamplingDate:
        return "Дата отбора";
    case TJournalColumn::Mass:
        return "Масса";
    case TJournalColumn::Grade:
        return "Марка";
    case TJournalColumn::Supplier:
        return "Поставщик";
    case TJournalColumn::ConcretionTime:
        return "Срок твердения";
    case TJournalColumn::FinalContraction:
        return "Контракция";
    case TJournalColumn::Activity:
        return "Активность";
    case TJournalColumn::Strength:
        return "Фактическая активность";
    case TJournalColumn::Error:
        return "Ошибка прогноза";
    case TJournalColumn::Comment:
        return "Комментарий";
    case TJournalColumn::Count:
        break;
    }
    return {};
}

std::string JournalColumnUnit(TJournalColumn column)
{
    switch (column) {
    case TJournalColumn::Mass:
        return "г";
    case TJournalColumn::ConcretionTime:
        return "сут";
    case TJournalColumn::FinalContraction:
        return "мл";
    case TJournalColumn::Activity:
    case TJournalColumn::Strength:
    case TJournalColumn::Error:
        return "МПа";
    default:
        return {};
    }
}

std::string JournalCellText(const TJournalRow& row, TJournalColumn column, std::string_view separator)
{
    switch (column) {
    case TJournalColumn::Date:
        return JournalDateText(row.Date);
    case TJournalColumn::Time:
        return JournalTimeText(row.Time);
    case TJournalColumn::Number:
        return std::to_string(row.Number);
    case TJournalColumn::SampleCode:
        return row.Sample.Code;
    case TJournalColumn::CementType:
        return row.Sample.CementType;
    case TJournalColumn::Manufacturer:
        return row.Sample.Manufacturer;
    case TJournalColumn::Batch:
        return row.Sample.Batch;
    case TJournalColumn::SamplingDate:
        return row.Sample.SamplingDate ? JournalDateText(*row.Sample.SamplingDate) : std::string();
    case TJournalColumn::Comment:
        return row.Comment;
    case TJournalColumn::Strength:
        return OptionalDecimal(row.Sample.Strength, 1, separator);
    default:
        break;
    }
    if (!row.Readable)
        return "?";
    switch (column) {
    case TJournalColumn::Mass:
        return GetCementMassStr(row.CementMass);
    case TJournalColumn::Grade:
        return GetCementGradeName(row.ExpCementGrade);
    case TJournalColumn::Supplier:
        return GetSupplierName(row.Supplier);
    case TJournalColumn::ConcretionTime:
        return GetConcretionTimeStr(row.ConcretionTime);
    case TJournalColumn::FinalContraction:
        return GetContractionStr(row.Calc.FinalContraction, separator);
    case TJournalColumn::Activity:
        return GetActivityStr(row.Calc.ActivityBound, row.Calc.Activity, separator);
    case TJournalColumn::Error:
        return row.Sample.Strength ? FormatDecimal(row.ForecastError(), 1, separator) : std::string();
    default:
        return {};
    }
}

std::optional<double> JournalCellNumber(const TJournalRow& row, TJournalColumn column)
{
    double value = kUndefined;
    switch (column) {
    case TJournalColumn::Number:
        value = static_cast<double>(row.Number);
        break;
    case TJournalColumn::Strength:
        value = row.Sample.Strength.value_or(kUndefined);
        break;
    case TJournalColumn::Mass:
        value = row.Readable ? row.CementMass : kUndefined;
        break;
    case TJournalColumn::ConcretionTime:
        value = row.Readable ? row.ConcretionTime : kUndefined;
        break;
    case TJournalColumn::FinalContraction:
        value = row.Readable ? row.Calc.FinalContraction : kUndefined;
        break;
    case TJournalColumn::Activity:
        value = row.Readable ? row.Calc.Activity : kUndefined;
        break;
    case TJournalColumn::Error:
        value = row.ForecastError();
        break;
    default:
        return std::nullopt;
    }
    if (IsUndefined(value))
        return std::nullopt;
    return value;
}

bool JournalColumnLess(const TJournalRow& a, const TJournalRow& b, TJournalColumn column)
{
    int c = 0;
    switch (column) {
    case TJournalColumn::Date:
    case TJournalColumn::Time:
        return TimeOrderLess(a, b);
    case TJournalColumn::SamplingDate:
        c = CompareNumbers(
            a.Sample.SamplingDate.value_or(kUndefined), b.Sample.SamplingDate.value_or(kUndefined));
        break;
    case TJournalColumn::Grade:
    case TJournalColumn::Supplier: {
        // By index, the order the instrument gives them; unreadable rows first.
        const auto index = [column](const TJournalRow& r) {
            return r.Readable ? double(column == TJournalColumn::Grade ? r.ExpCementGrade : r.Supplier)
                              : kUndefined;
        };
        c = CompareNumbers(index(a), index(b));
        break;
    }
    case TJournalColumn::Activity:
        c = CompareNumbers(
            a.Readable ? a.Calc.Activity : kUndefined, b.Readable ? b.Calc.Activity : kUndefined);
        if (c == 0)
            c = a.Calc.ActivityBound - b.Calc.ActivityBound;
        break;
    case TJournalColumn::SampleCode:
    case TJournalColumn::CementType:
    case TJournalColumn::Manufacturer:
    case TJournalColumn::Batch:
    case TJournalColumn::Comment: {
        const std::string x = FoldCase(JournalCellText(a, column, "."));
        const std::string y = FoldCase(JournalCellText(b, column, "."));
        c = x.compare(y);
        break;
    }
    default:
        c = CompareNumbers(JournalCellNumber(a, column).value_or(kUndefined),
            JournalCellNumber(b, column).value_or(kUndefined));
        break;
    }
    if (c != 0)
        return c < 0;
    return TimeOrderLess(a, b);
}

void SortJournalRows(const TJournal& journal, std::vector<int>& rows, TJournalColumn column, bool descending)
{
    const bool text = column == TJournalColumn::SampleCode || column == TJournalColumn::CementType
        || column == TJournalColumn::Manufacturer || column == TJournalColumn::Batch
        || column == TJournalColumn::Comment;
    if (!text) {
        std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
            return descending ? JournalColumnLess(journal[b], journal[a], column)
                              : JournalColumnLess(journal[a], journal[b], column);
        });
        return;
    }
    std::vector<std::string> folded(journal.size());
    for (const int i : rows)
        folded[static_cast<std::size_t>(i)] = FoldCase(JournalCellText(journal[i], column, "."));
    const auto less = [&](int a, int b) {
        if (const int c = folded[static_cast<std::size_t>(a)].compare(folded[static_cast<std::size_t>(b)]))
            return c < 0;
        return TimeOrderLess(journal[a], journal[b]);
    };
    std::stable_sort(
        rows.begin(), rows.end(), [&](int a, int b) { return descending ? less(b, a) : less(a, b); });
}
