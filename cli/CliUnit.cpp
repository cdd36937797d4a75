#include "cli/CliUnit.h"

#include "app/DisplaySettings.h"
#include "cli/AnalysisCommands.h"
#include "compute/Activity.h"
#include "compute/ResultText.h"
#include "device/DownloadThread.h"
#include "device/USB.h"
#include "output/ExportUnit.h"
#include "output/LabProtocol.h"
#include "output/ReportCommand.h"
#include "output/ReportUnit.h"
#include "settings/LaboratoryUnit.h"
#include "settings/Version.h"
#include "store/MainDataModuleUnit.h"
#include "store/ProtocolNumbers.h"

#include <QPdfWriter>
#include <QString>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

const char* const kUsageText
    = "Использование:\n"
      "  cement-lab-cli create ПРОЕКТ.fdb\n"
      "  cement-lab-cli info ПРОЕКТ.fdb\n"
      "  cement-lab-cli results ПРОЕКТ.fdb\n"
      "  cement-lab-cli export ПРОЕКТ.fdb ЗАПИСЬ ФАЙЛ.txt\n"
      "  cement-lab-cli report ПРОЕКТ.fdb ФАЙЛ.pdf [--record ЗАПИСЬ] [--type lab]\n"
      "  cement-lab-cli download ПРОЕКТ.fdb\n"
      "  cement-lab-cli history ПРОЕКТ.fdb [ЗАПИСЬ]\n"
      "  cement-lab-cli set ПРОЕКТ.fdb ЗАПИСЬ ПОЛЕ ЗНАЧЕНИЕ\n"
      "  cement-lab-cli upgrade ПРОЕКТ.fdb\n"
      "  cement-lab-cli stats ПРОЕКТ.fdb [ОТБОР]\n"
      "  cement-lab-cli journal ПРОЕКТ.fdb [--format csv|xlsx] ФАЙЛ [ОТБОР]\n"
      "  cement-lab-cli --help | --version\n"
      "ЗАПИСЬ: номер записи от 1 в порядке списка проекта.\n"
      "ПОЛЕ: code, cement_type, manufacturer, batch, sampling_date, strength,\n"
      "      strength_date (даты ГГГГ-ММ-ДД или ДД.ММ.ГГГГ; пустое значение стирает).\n"
      "ОТБОР: --days СУТКИ --grade МАРКА --supplier ПОСТАВЩИК (номера, как в записи)\n"
      "       --from ГГГГ-ММ-ДД --to ГГГГ-ММ-ДД (включительно).\n";

// A failure the operator is told about in the program's own words.
class TCliFailure : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TUsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

std::string DecimalSeparator(const TCliOptions& options)
{
    if (!options.DecimalSeparator.empty())
        return options.DecimalSeparator;
    std::setlocale(LC_NUMERIC, "");
    const char* point = std::localeconv()->decimal_point;
    std::string separator = point && *point ? point : ".";
    std::setlocale(LC_NUMERIC, "C");
    return separator;
}

// A local file, or a project on a Firebird server named by the engine's own connection
// string with the user and password of ISC_USER and ISC_PASSWORD.
TProjectTarget Target(const std::string& text)
{
    TProjectTarget target = ParseProjectTarget(text);
    if (target.IsServer()) {
        const char* user = std::getenv("ISC_USER");
        const char* password = std::getenv("ISC_PASSWORD");
        if (!user || !*user || !password)
            throw TCliFailure("Для проекта на сервере нужны имя и пароль в ISC_USER и ISC_PASSWORD");
        target.User = user;
        target.Password = password;
    }
    return target;
}

// Opens an existing project; a missing file or one that is not ours is a failure.
void OpenProject(TMainDataModule& dataModule, const std::string& path,
    TMainDataModule::TOpenMode mode = TMainDataModule::TOpenMode::Whole)
{
    const TProjectTarget target = Target(path);
    if (!target.IsServer() && !std::filesystem::is_regular_file(path))
        throw TCliFailure("Не удалось открыть проект!");
    if (!dataModule.OpenProjectDatabase(target, mode))
        throw TCliFailure(target.IsServer() ? "Не удалось открыть проект!\n" + dataModule.LastError()
                                            : "Не удалось открыть проект!");
}

int ParseRecord(const std::string& text, int count)
{
    std::size_t used = 0;
    int record = 0;
    try {
        record = std::stoi(text, &used);
    } catch (const std::exception&) {
        throw TUsageError("Номер записи не число: " + text);
    }
    if (used != text.size())
        throw TUsageError("Номер записи не число: " + text);
    if (record < 1 || record > count)
        throw TCliFailure("В проекте нет записи " + text + " (записей: " + std::to_string(count) + ")");
    return record;
}

std::string Hex8(std::uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

void Create(const std::vector<std::string>& a, std::ostream&)
{
    if (a.size() != 2)
        throw TUsageError("create: нужен один файл проекта");
    TMainDataModule dataModule;
    const TProjectTarget target = Target(a[1]);
    if (target.IsServer()) {
        // The server refuses to replace a database: it is its administrator's to remove.
        if (!dataModule.CreateProjectDatabase(target))
            throw TCliFailure("Не удалось создать проект!\n" + dataModule.LastError());
    } else {
        std::error_code error;
        if (std::filesystem::exists(a[1], error) && !std::filesystem::remove(a[1], error))
            throw TCliFailure("Не удалось создать проект!");
        if (!dataModule.CreateProjectDatabase(a[1]))
            throw TCliFailure("Не удалось создать проект!");
    }
    OpenProject(dataModule, a[1]);
    dataModule.CloseProjectDatabase();
}

void Info(const std::vector<std::string>& a, std::ostream& out)
{
    if (a.size() != 2)
        throw TUsageError("info: нужен один файл проекта");
    TMainDataModule dataModule;
    OpenProject(dataModule, a[1], TMainDataModule::TOpenMode::ProjectRowOnly);
    out << "DEVICE_NAME: " << dataModule.GetDeviceName() << "\n"
        << "DEVICE_DATA_VERSION: " << dataModule.GetDeviceDataVersion() << "\n"
        << "RECORD_COUNT: " << dataModule.StoredRecordCount() << "\n"
        << "PROJECT_DESCRIPTION: " << EscapeComment(dataModule.GetProjectDescription()) << "\n";
    dataModule.CloseProjectDatabase();
}

void Results(const std::vector<std::string>& a, std::ostream& out, const TCliOptions& options)
{
    if (a.size() != 2)
        throw TUsageError("results: нужен один файл проекта");
    const std::string separator = DecimalSeparator(options);
    TMainDataModule dataModule;
    OpenProject(dataModule, a[1]);
    TCachedDataSet& results = dataModule.ResultDataSet();
    for (int row = 1; row <= results.RecordCount(); ++row) {
        results.SetRecNo(row);
        double date = 0.0;
        if (const auto* value = std::get_if<TDateTime>(&results.Field("MEASURE_DATE")))
            date = value->Value;
        double time = 0.0;
        if (const auto* value = std::get_if<TDateTime>(&results.Field("MEASURE_TIME")))
            time = value->Value;
        std::int64_t number = 0;
        if (const auto* value = std::get_if<std::int64_t>(&results.Field("MEASURE_NUMBER")))
            number = *value;
        out << OleDateText(date) << '\t' << OleTimeText(time) << '\t' << number;
        TMsrResult msr;
        TParamTexts params{};
        TResultTexts values{};
        std::optional<TMsrCalcResult> calc;
        if (dataModule.ReadMsrResult(msr) == 0) {
            params = GetParamTexts(msr, separator);
            calc = CalcMsrResult(msr);
            values = GetResultTexts(*calc, separator);
        }
        for (const std::string& text : params)
            out << '\t' << text;
        for (const std::string& text : values)
            out << '\t' << text;
        out << '\t' << EscapeComment(dataModule.GetMeasureComment());
        const TSampleInfo sample = dataModule.GetSampleInfo();
        auto dayText = [](const std::optional<double>& d) { return d ? OleDateText(*d) : std::string(); };
        const std::optional<TForecastError> error
            = calc ? GetForecastError(*calc, sample.Strength) : std::nullopt;
        out << '\t' << EscapeComment(sample.Code) << '\t' << EscapeComment(sample.CementType) << '\t'
            << EscapeComment(sample.Manufacturer) << '\t' << EscapeComment(sample.Batch) << '\t'
            << dayText(sample.SamplingDate) << '\t' << GetMeasuredStrengthStr(sample.Strength, separator)
            << '\t' << dayText(sample.StrengthDate) << '\t'
            << (error ? FormatDecimal(error->Mpa, 1, separator) : "?") << '\t'
            << (error ? FormatDecimal(error->Percent, 1, separator) : "?") << "\n";
    }
    dataModule.CloseProjectDatabase();
}

void History(const std::vector<std::string>& a, std::ostream& out, const TCliOptions& options)
{
    if (a.size() != 2 && a.size() != 3)
        throw TUsageError("history: нужны файл проекта и, может быть, номер записи");
    TMainDataModule dataModule;
    OpenProject(dataModule, a[1]);
    std::optional<std::int64_t> key;
    if (a.size() == 3)
        key = dataModule.RecordKeyAt(ParseRecord(a[2], dataModule.GetRecordCount()) - 1);
    const std::string separator = DecimalSeparator(options);
    for (const THistoryEntry& e : dataModule.ReadHistory(key))
        out << OleDateText(e.ChangedAt) << ' ' << OleTimeText(e.ChangedAt) << '\t'
            << EscapeComment(e.ChangedBy) << '\t' << (e.MeasureDate ? OleDateText(*e.MeasureDate) : "")
            << '\t' << (e.MeasureTime ? OleTimeText(*e.MeasureTime) : "") << '\t' << e.MeasureNumber << '\t'
            << e.Field << '\t' << EscapeComment(GetHistoryValueStr(e.Field, e.OldValue, separator)) << '\t'
            << EscapeComment(GetHistoryValueStr(e.Field, e.NewValue, separator)) << "\n";
    dataModule.CloseProjectDatabase();
}

// "2026-12-09" or "09.12.2026" as an OLE date; empty text: none.
std::optional<double> ParseDate(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3
        && std::sscanf(text.c_str(), "%2d.%2d.%4d%c", &d, &m, &y, &tail) != 3)
        throw TUsageError("Дата не в виде ГГГГ-ММ-ДД или ДД.ММ.ГГГГ: " + text);
    // Days from civil (proleptic Gregorian), then from 1899-12-30.
    const int yy = y - (m <= 2);
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const double days = era * 146097.0 + doe - 719468.0 + 25569.0;
    char expected[32];
    std::snprintf(expected, sizeof expected, "%02d.%02d.%04d", d, m, y);
    if (y < 1900 || y > 9999 || OleDateText(days) != expected)
        throw TUsageError("Такой даты нет: " + text);
    return days;
}

// Adds the tables of the sample, the measured strength and the history now, as the project's
// owner on a server must before the others can record changes.
void Upgrade(const std::vector<std::string>& a, std::ostream&)
{
    if (a.size() != 2)
        throw TUsageError("upgrade: нужен один файл проекта");
    TMainDataModule dataModule;
    OpenProject(dataModule, a[1], TMainDataModule::TOpenMode::ProjectRowOnly);
    ProjectExtensions::Create(dataModule.Connection());
    dataModule.CloseProjectDatabase();
}

void Set(const std::vector<std::string>& a, std::ostream&)
{
    if (a.size() != 5)
        throw TUsageError("set: нужны файл проекта, номер записи, поле и значение");
    TMainDataModule dataModule;
    OpenProject(dataModule, a[1]);
    dataModule.ResultDataSet().SetRecNo(ParseRecord(a[2], dataModule.GetRecordCount()));
    TSampleInfo info = dataModule.GetSampleInfo();
    const std::string& field = a[3];
    const std::string& value = a[4];
    if (field == "code")
        info.Code = value;
    else if (field == "cement_type")
        info.CementType = value;
    else if (field == "manufacturer")
        info.Manufacturer = value;
    else if (field == "batch")
        info.Batch = value;
    else if (field == "sampling_date")
        info.SamplingDate = ParseDate(value);
    else if (field == "strength_date")
        info.StrengthDate = ParseDate(value);
    else if (field == "strength") {
        info.Strength.reset();
        if (!value.empty()) {
            std::string number = value;
            std::replace(number.begin(), number.end(), ',', '.');
            std::size_t used = 0;
            double strength = 0.0;
            try {
                strength = std::stod(number, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != number.size() || !std::isfinite(strength) || strength < 0.0 || strength > 999.0)
                throw TUsageError("Фактическая активность не число от 0 до 999: " + value);
            info.Strength = strength;
        }
    } else
        throw TUsageError("Неизвестное поле: " + field);
    auto characters = [](const std::string& text) {
        return std::count_if(
            text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
    };
    for (const std::string* text : {&info.Code, &info.CementType, &info.Manufacturer, &info.Batch})
        if (static_cast<std::size_t>(characters(*text)) > kSampleTextLimit)
            throw TUsageError("Текст длиннее " + std::to_string(kSampleTextLimit) + " знаков: " + *text);
    dataModule.SetSampleInfo(info);
    dataModule.PostEdits();
    dataModule.ApplyChanges();
    dataModule.CloseProjectDatabase();
}

void Export(const std::vector<std::string>& a, std::ostream&, const TCliOptions& options)
{
    if (a.size() != 4)
        throw TUsageError("export: нужны файл проекта, номер записи и файл");
    TMainDataModule dataModule;
    OpenProject(dataModule, a[1]);
    dataModule.ResultDataSet().SetRecNo(ParseRecord(a[2], dataModule.GetRecordCount()));
    TMsrResult msr;
    if (dataModule.ReadMsrResult(msr) != 0)
        throw TCliFailure("Данные записи " + a[2] + " не читаются, файл не записан");
    WriteExportFile(QString::fromStdString(a[3]), msr, DecimalSeparator(options));
    dataModule.CloseProjectDatabase();
}

// The instrument's test sheets, or with --type lab the laboratory's protocol under the
// project's next number, which it then takes.
void Report(const std::vector<std::string>& a, std::ostream& out, const TCliOptions& options)
{
    std::optional<std::string> record;
    std::optional<std::string> type;
    bool valid = a.size() >= 3 && a.size() % 2 == 1;
    for (std::size_t i = 3; valid && i + 1 < a.size(); i += 2) {
        if (a[i] == "--record" && !record)
            record = a[i + 1];
        else if (a[i] == "--type" && !type && (a[i + 1] == "lab" || a[i + 1] == "sheet"))
            type = a[i + 1];
        else
            valid = false;
    }
    if (!valid)
        throw TUsageError(
            "report: нужны файл проекта и файл PDF, и, может быть, --record ЗАПИСЬ и --type lab");
    TMainDataModule dataModule;
    OpenProject(dataModule, a[1]);
    if (record)
        dataModule.ResultDataSet().SetRecNo(ParseRecord(*record, dataModule.GetRecordCount()));
    const std::string settings = (std::filesystem::path(options.ProgramFolder) / "cement-lab.ini").string();
    const std::uint32_t color = LoadDisplaySettings(settings).SeriesColor[0];
    const QString file = QString::fromStdString(a[2]);
    const auto written = [&a] {
        std::error_code error;
        if (std::filesystem::file_size(a[2], error) == 0 || error)
            throw TCliFailure("Unable to write to " + a[2]);
    };
    if (type == "lab") {
        TLabProtocol protocol = CollectLabProtocol(dataModule, !record, LoadLaboratory(settings));
        if (protocol.Records.empty())
            throw TCliFailure("В проекте нет записей, отчёт не создан");
        TProtocolIssue issue{protocol.Number, NowOleDate(), OperatingSystemUser(), {}};
        for (const TProtocolRecord& r : protocol.Records)
            issue.RecordKeys.push_back(r.RecordKey);
        TLabProtocolPainter painter(std::move(protocol), color);
        {
            QPdfWriter writer(file);
            writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
            writer.setPageLayout(LabProtocolPageLayout());
            writer.setResolution(300);
            writer.setTitle(QStringLiteral("Протокол испытаний № %1").arg(issue.Number));
            PaintLabProtocol(writer, painter);
        }
        written();
        ProtocolNumbers::Issue(dataModule.Connection(), issue);
        out << "Протокол испытаний № " << issue.Number << ", листов: " << painter.PageCount() << "\n";
        dataModule.CloseProjectDatabase();
        return;
    }
    const TStoreReportSheets sheets(dataModule, !record);
    if (sheets.Count() == 0)
        throw TCliFailure("В проекте нет записей, отчёт не создан");
    {
        QPdfWriter writer(file);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF()));
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("Протокол испытания"));
        PaintReport(writer, sheets, color);
    }
    written();
    dataModule.CloseProjectDatabase();
}

void Download(const std::vector<std::string>& a, std::ostream& out, const TCliOptions& options)
{
    if (a.size() != 2)
        throw TUsageError("download: нужен один файл проекта");
    TMainDataModule dataModule;
    OpenProject(dataModule, a[1]);
    struct TLink
    {
        ~TLink() { USBFinalize(); }
    } link;
    if (options.Backend)
        USBInitialize(options.Backend());
    else
        USBInitialize();
    if (!USBDeviceAttached())
        throw TCliFailure("Прибор не подключен!");
    TDownloadThread worker([](int, std::uint32_t) {});
    worker.Start();
    while (!worker.WaitFor(std::chrono::seconds(1))) { }
    const std::int32_t status = worker.ResultCode();
    if (status != 0)
        throw TCliFailure("Ошибка связи " + Hex8(static_cast<std::uint32_t>(status)));
    TArrayOfMsrResult records = worker.TakeResults();
    const std::size_t inDevice = records.size();
    const int added = records.empty() ? 0 : dataModule.StoreMsrResults(records);
    dataModule.ApplyChanges();
    dataModule.CloseProjectDatabase();
    out << "В памяти прибора: " << inDevice << "\n"
        << "Добавлено в проект: " << added << "\n";
}

} // namespace

std::string OleDateText(double oleDate)
{
    using namespace std::chrono;
    const auto ms = static_cast<std::int64_t>(std::llround(oleDate * 86400000.0));
    const sys_time<milliseconds> at = sys_days(year(1899) / December / 30) + milliseconds(ms);
    const year_month_day day(floor<days>(at));
    char text[16];
    std::snprintf(text, sizeof text, "%02u.%02u.%04d", static_cast<unsigned>(day.day()),
        static_cast<unsigned>(day.month()), static_cast<int>(day.year()));
    return text;
}

std::string OleTimeText(double oleDate)
{
    using namespace std::chrono;
    const auto ms = static_cast<std::int64_t>(std::llround(oleDate * 86400000.0));
    const sys_time<milliseconds> at = sys_days(year(1899) / December / 30) + milliseconds(ms);
    const hh_mm_ss<milliseconds> time(at - floor<days>(at));
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(time.hours().count()),
        static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
    return text;
}

std::string EscapeComment(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            continue; // a line break typed on Windows is one break
        else
            escaped += c;
    }
    return escaped;
}

int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
    const TCliOptions& options)
{
    if (arguments.empty()) {
        err << kUsageText;
        return kUsage;
    }
    const std::string& command = arguments[0];
    if (command == "--help" || command == "-h") {
        out << kUsageText;
        return kSuccess;
    }
    if (command == "--version") {
        out << "cement-lab-cli " << CEMENTLAB_VERSION << "\n";
        return kSuccess;
    }
    try {
        if (command == "create")
            Create(arguments, out);
        else if (command == "info")
            Info(arguments, out);
        else if (command == "results")
            Results(arguments, out, options);
        else if (command == "export")
            Export(arguments, out, options);
        else if (command == "report")
            Report(arguments, out, options);
        else if (command == "download")
            Download(arguments, out, options);
        else if (command == "history")
            History(arguments, out, options);
        else if (command == "set")
            Set(arguments, out);
        else if (command == "upgrade")
            Upgrade(arguments, out);
        else if (command == "stats" || command == "journal")
            return RunAnalysisCommand(arguments, out, err, DecimalSeparator(options), kUsageText,
                [](TMainDataModule& dataModule, const std::string& path) { OpenProject(dataModule, path); });
        else
            throw TUsageError("Неизвестная команда: " + command);
    } catch (const TUsageError& error) {
        err << error.what() << "\n" << kUsageText;
        return kUsage;
    } catch (const std::exception& error) {
        err << error.what() << "\n";
        return kFailure;
    }
    return kSuccess;
}
