#include "output/ExportUnit.h"

#include "app/OperatorDialogs.h"
#include "compute/ResultText.h"
#include "store/MainDataModuleUnit.h"

#include <QDir>
#include <QLocale>
#include <QSaveFile>

#include <algorithm>
#include <stdexcept>

namespace {

// The sample, or nothing when the record does not hold it.
const float* Sample(const TMsrResult& msr, std::size_t array, std::size_t i)
{
    if (array >= msr.Data.size() || i >= msr.Data[array].size())
        return nullptr;
    return &msr.Data[array][i];
}

void AppendField(std::string& line, const float* value, int decimals, std::string_view separator)
{
    line += '\t';
    if (value)
        line += FormatDecimal(*value, decimals, separator);
}

std::runtime_error WriteError(const QString& path, const QString& reason)
{
    const QString text
        = QStringLiteral("Не удалось записать файл \"%1\": %2").arg(QDir::toNativeSeparators(path), reason);
    return std::runtime_error(text.toStdString());
}

} // namespace

std::string ExportText(const TMsrResult& msr, std::string_view decimalSeparator)
{
    // A damaged header can claim billions of samples; only what is stored is written.
    std::size_t stored = 0;
    for (const TSampleArray& array : msr.Data)
        stored = std::max(stored, array.size());
    const std::size_t lines = std::min<std::size_t>(msr.SampleCount(), stored);

    std::string text;
    text.reserve(lines * 40);
    for (std::size_t i = 0; i < lines; ++i) {
        text += std::to_string(i);
        const float* volume = Sample(msr, MSR_VOLUME, i);
        if (volume) {
            const float change = *volume - msr.VolumeOffset;
            AppendField(text, &change, 3, decimalSeparator);
        } else {
            AppendField(text, nullptr, 3, decimalSeparator);
        }
        AppendField(text, Sample(msr, MSR_TEMPERATURE, i), 2, decimalSeparator);
        AppendField(text, Sample(msr, MSR_RESISTANCE, i), 2, decimalSeparator);
        AppendField(text, Sample(msr, MSR_TEMPERATURE2, i), 2, decimalSeparator);
        text += "\r\n";
    }
    return text;
}

void WriteExportFile(const QString& path, const TMsrResult& msr, std::string_view decimalSeparator)
{
    const std::string text = ExportText(msr, decimalSeparator);
    // QSaveFile writes beside the target and renames only on commit, so a failure never leaves
    // a truncated file where a complete one is expected. But it takes a short write (file size
    // limit, full disk) for success, buffered or not: unbuffered, the count tells.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw WriteError(path, file.errorString());
    const auto size = static_cast<qint64>(text.size());
    if (file.write(text.data(), size) != size) {
        const QString reason = file.error() == QFileDevice::NoError
            ? QStringLiteral("файл записан не полностью")
            : file.errorString();
        file.cancelWriting();
        throw WriteError(path, reason);
    }
    if (!file.commit())
        throw WriteError(path, file.errorString());
}

void ExportActionExecute(QWidget* /*owner: the dialogs open over the active window*/,
    TMainDataModule& dataModule, const QString& initialFolder)
{
    TFileDialogOptions options;
    options.Title = QStringLiteral("Экспорт данных в .txt");
    options.Directory = initialFolder;
    options.Filter = QStringLiteral("Файлы (.txt) (*.txt)");
    options.DefaultSuffix = QStringLiteral("txt");
    options.ConfirmOverwrite = true;
    const QString path = OperatorDialogs().SaveFileName(options);
    if (path.isEmpty())
        return;

    TMsrResult msr;
    if (dataModule.ReadMsrResult(msr) != 0)
        throw std::runtime_error("Данные текущего измерения не читаются, файл не записан");
    WriteExportFile(path, msr, QLocale::system().decimalPoint().toStdString());
}
