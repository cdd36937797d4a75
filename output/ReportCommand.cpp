#include "output/ReportCommand.h"

#include "output/LabProtocol.h"
#include "output/ReportPreviewUnit.h"
#include "output/SelectReportTypeUnit.h"
#include "store/MainDataModuleUnit.h"
#include "store/ProtocolNumbers.h"

#include <optional>

void PrintReportCommand(QWidget* owner, TMainDataModule& dataModule, TReportCommandSettings& settings)
{
    {
        TSelectReportTypeForm form(owner);
        form.SetAllRecords(settings.AllRecords);
        form.SetLabProtocol(settings.LabProtocol);
        const bool accepted = form.exec() == QDialog::Accepted;
        settings.AllRecords = form.AllRecords();
        settings.LabProtocol = form.LabProtocol();
        if (!accepted)
            return;
    }
    const TCachedDataSet& results = dataModule.ResultDataSet();
    std::optional<std::int32_t> number;
    if (!settings.AllRecords && results.Active() && !results.IsEmpty())
        if (const auto* n = std::get_if<std::int64_t>(&results.Field("MEASURE_NUMBER")))
            number = static_cast<std::int32_t>(*n);
    TReportSaveSettings save;
    save.SettingsFile = settings.SettingsFile;
    save.ProjectsFolder = settings.ProjectsFolder;
    save.SuggestedName = SuggestedReportName(QString::fromStdString(dataModule.Target().Path), number);

    if (!settings.LabProtocol) {
        // Each sheet is read when shown or painted; the modal preview keeps the store still.
        const auto sheets = std::make_shared<const TStoreReportSheets>(dataModule, settings.AllRecords);
        if (sheets->Count() == 0)
            return;
        TReportPreviewForm preview(owner, sheets, settings.Color);
        preview.SetSaveSettings(save);
        preview.OnSaved = settings.Saved;
        preview.exec();
        return;
    }
    TLabProtocol protocol = CollectLabProtocol(
        dataModule, settings.AllRecords, LoadLaboratory(settings.SettingsFile.toStdString()));
    if (protocol.Records.empty())
        return;
    std::vector<std::int64_t> keys;
    for (const TProtocolRecord& record : protocol.Records)
        keys.push_back(record.RecordKey);
    auto painter = std::make_shared<TLabProtocolPainter>(std::move(protocol), settings.Color);
    TReportPreviewForm preview(owner, painter);
    preview.SetSaveSettings(save);
    preview.OnSaved = settings.Saved;
    preview.OnProtocolIssued = [&dataModule, keys](std::int64_t issued) {
        ProtocolNumbers::Issue(dataModule.Connection(), {issued, NowOleDate(), OperatingSystemUser(), keys});
    };
    preview.exec();
}
