#pragma once

// The main window over real project files, with scripted dialogs and the instrument
// simulator behind the real USB module.

#include "ScriptedDialogs.h"

#include "app/MainUnit.h"
#include "device/DownloadSummaryUnit.h"
#include "device/InstrumentSimulator.h"
#include "device/USB.h"
#include "store/MainDataModuleUnit.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QLabel>

#include <memory>
#include <utility>

class MainFormTest : public TUiTest
{
protected:
    void SetUp() override
    {
        TUiTest::SetUp();
        CreateForm();
    }

    void TearDown() override
    {
        Form.reset();
        DataModule.CloseProjectDatabase();
        USBFinalize();
        TUiTest::TearDown();
    }

    void CreateForm()
    {
        Simulator = std::make_shared<TInstrumentSimulator>();
        Form = std::make_unique<TMainForm>(DataModule, Executable, Simulator);
    }

    QString ProjectFile(const char* name) const { return QString::fromStdString(Dir.File(name)); }

    void NewProject(const QString& path)
    {
        Dialogs->Files.push_back(path);
        Form->CreateNewProjectAction->trigger();
        ASSERT_TRUE(DataModule.IsProjectOpen()) << path.toStdString();
    }

    void OpenProject(const QString& path)
    {
        Dialogs->Files.push_back(path);
        Form->OpenProjectAction->trigger();
    }

    // Reads the plugged instrument through the command; the summary's counts.
    std::pair<int, int> Download()
    {
        std::pair<int, int> counts{-1, -1};
        HandleModalLater<TDownloadSummaryForm>([&counts](TDownloadSummaryForm* summary) {
            counts = {summary->ResultsInDeviceMemoryLabel()->text().toInt(),
                summary->ResultsAddedToProjectLabel()->text().toInt()};
        });
        Form->ReadFromDeviceAction->trigger();
        return counts;
    }

    bool Enabled(QAction* action)
    {
        Form->ActionListUpdate();
        return action->isEnabled();
    }

    TTempDir Dir;
    QString Executable = QString::fromStdString(Dir.File("cement-lab"));
    TMainDataModule DataModule;
    std::shared_ptr<TInstrumentSimulator> Simulator;
    std::unique_ptr<TMainForm> Form;
};
