#pragma once

// The "Отчёт" command: which report and which records, then the preview of the
// instrument's test sheets or of the laboratory's protocol. A protocol saved or printed
// whole takes its number in the project.

#include <QString>

#include <cstdint>
#include <functional>

class QWidget;
class TMainDataModule;

struct TReportCommandSettings
{
    std::uint32_t Color = 0; // the channel's line colour, 0x00BBGGRR
    QString SettingsFile;    // the laboratory's details and the folder saved to last
    QString ProjectsFolder;  // where the save dialog starts the first time
    bool AllRecords = false; // the choices made last, offered again
    bool LabProtocol = false;
    // Told where a save of the preview wrote (the status bar says it).
    std::function<void(const QString&)> Saved;
};

// Errors escape as exceptions (the caller's general error display shows them).
void PrintReportCommand(QWidget* owner, TMainDataModule& dataModule, TReportCommandSettings& settings);
