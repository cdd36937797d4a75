// The main window over real project files, with scripted dialogs and the instrument
// simulator behind the real USB module.

#include "MainFormFixture.h"
#include "ScriptedDialogs.h"

#include "app/Application.h"
#include "app/DBControls.h"
#include "app/IniFile.h"
#include "app/MainUnit.h"
#include "app/ProgramPaths.h"
#include "app/SingleInstance.h"
#include "compute/ViewTableUnit.h"
#include "device/DeviceScreenShotUnit.h"
#include "device/DownloadSummaryUnit.h"
#include "device/InstrumentSimulator.h"
#include "device/USB.h"
#include "settings/AboutUnit.h"
#include "settings/SetColorsUnit.h"
#include "tests/support/TempDir.h"
#include "view/ForecastChart.h"
#include "view/ResultGrids.h"

#include <qcustomplot.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <fstream>

namespace {

// Typed text as key presses (QTest's own typing knows only ASCII).
void TypeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &release);
    }
}

void Activate(QWidget* window)
{
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

} // namespace

TEST_F(MainFormTest, StartsWithTitleCaptionProjectsFolderAndHiddenPages)
{
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("ЦЕМЕНТ-ВОРКАСТ-ЛАБ-1.0"));
    EXPECT_EQ(Form->GetProjectsPath(), QString::fromStdString(Dir.File("projects/")));
    EXPECT_TRUE(QFileInfo(Form->GetProjectsPath()).isDir());
    EXPECT_FALSE(Form->PageControl()->isVisibleTo(Form.get()));
    EXPECT_EQ(Form->size(), QSize(720, 572));
    EXPECT_EQ(Form->minimumSize(), QSize(720, 560));
    EXPECT_EQ(Form->GraphicPageControl()->tabText(0), QStringLiteral("Канал 1"));
    EXPECT_EQ(Form->GraphicPageControl()->count(), 1);
}

TEST_F(MainFormTest, ProjectsFolderThatCannotBeMadeIsReportedAndStartGoesOn)
{
    Form.reset();
    // A file where the folder should be.
    std::filesystem::remove_all(Dir.File("projects"));
    std::ofstream(Dir.File("projects")) << "x";
    CreateForm();
    EXPECT_EQ(TakeMessageText(), QString::fromStdString(Dir.File("projects")) + ".");
    EXPECT_TRUE(Form->GetProjectsPath().isEmpty());
    NewProject(ProjectFile("elsewhere.fdb"));
}

TEST_F(MainFormTest, EnablingFollowsTheProjectState)
{
    auto enabledSet = [this] {
        std::vector<QString> names;
        Form->ActionListUpdate();
        for (QAction* action : Form->findChildren<QAction*>())
            if (action->objectName().endsWith("Action") && action->isEnabled())
                names.push_back(action->objectName());
        std::sort(names.begin(), names.end());
        return names;
    };
    using V = std::vector<QString>;
    const V always{"CreateNewProjectAction", "CreateServerProjectAction", "ExitApplicationAction",
        "HelpAction", "LaboratoryAction", "OpenProjectAction", "OpenServerProjectAction", "ScreenShotAction"};
    EXPECT_EQ(enabledSet(), always);
    EXPECT_FALSE(Form->CommentDBMemo()->isEnabled());

    NewProject(ProjectFile("march.fdb"));
    V empty = always;
    empty.insert(empty.end(),
        {"CloseProjectAction", "DataPageAction", "DescriptionPageAction", "HistoryAction",
            "JournalPageAction", "ReadFromDeviceAction", "RefreshProjectAction", "SaveProjectAsAction"});
    std::sort(empty.begin(), empty.end());
    EXPECT_EQ(enabledSet(), empty);
    auto* navigator = Form->findChild<TDBNavigator*>("ResultDBNavigator");
    for (int button = TDBNavigator::nbFirst; button <= TDBNavigator::nbPost; ++button)
        EXPECT_FALSE(navigator->Button(static_cast<TDBNavigator::TButton>(button))->isEnabled()) << button;

    Simulator->Plug(MakeRealisticInstrument(3, 7));
    EXPECT_EQ(Download(), std::make_pair(3, 3));
    V records = empty;
    records.insert(records.end(),
        {"CancelChangesAction", "DeleteAllRecordsAction", "DeleteRecordAction", "DeviceValuesAction",
            "EditParamsAction", "ExportAction", "FirstRecordAction", "PrintReportAction", "PriorRecordAction",
            "ResistanceTimeAction", "SaveProjectAction", "Temperature2TimeAction", "TemperatureTimeAction",
            "UndoAction", "VolumeTimeAction", "VolumeTimeNormAction"});
    std::sort(records.begin(), records.end());
    EXPECT_EQ(enabledSet(), records);
    EXPECT_TRUE(Form->CommentDBMemo()->isEnabled());

    Form->SaveProjectAction->trigger();
    EXPECT_FALSE(Enabled(Form->SaveProjectAction));
    EXPECT_FALSE(Enabled(Form->CancelChangesAction));

    // One character typed: save is possible at once, before anything is posted.
    Form->CommentDBMemo()->setFocus();
    QTest::keyClick(Form->CommentDBMemo(), Qt::Key_A);
    EXPECT_TRUE(Form->SaveProjectAction->isEnabled());
    EXPECT_TRUE(Form->CancelChangesAction->isEnabled());
    EXPECT_EQ(DataModule.ResultDataSet().State(), TDataSetState::Edit);

    // Delete all: the commands that need records go off until the deletion is cancelled.
    Dialogs->Answers.push_back(QMessageBox::Yes);
    Form->DeleteAllRecordsAction->trigger();
    EXPECT_EQ(TakeMessageText(), QStringLiteral("Удалить все записи из проекта?"));
    EXPECT_FALSE(Enabled(Form->DeleteAllRecordsAction));
    EXPECT_FALSE(Enabled(Form->PrintReportAction));
    EXPECT_FALSE(Enabled(Form->ExportAction));
    EXPECT_FALSE(Enabled(Form->QuantityActions[0]));
    // More than one change: asked first.
    Dialogs->Answers.push_back(QMessageBox::Yes);
    Form->CancelChangesAction->trigger();
    EXPECT_TRUE(TakeMessageText().startsWith(QStringLiteral("Отменить все несохранённые изменения")));
    EXPECT_EQ(DataModule.GetRecordCount(), 3);
    EXPECT_EQ(Form->MainDBGrid()->model()->rowCount(), 3);
    EXPECT_TRUE(Enabled(Form->DeleteAllRecordsAction));
    EXPECT_FALSE(Form->ParamStringGrid()->Value(0).isEmpty());
}

TEST_F(MainFormTest, ShortcutsOfDisabledCommandsDoNothing)
{
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    QSignalSpy saves(Form->SaveProjectAction, &QAction::triggered);
    QAction* saveMenuItem = Form->findChild<QAction*>("SaveMenuItem");
    ASSERT_NE(saveMenuItem, nullptr);
    QSignalSpy menuSaves(saveMenuItem, &QAction::triggered);
    QTest::keyClick(Form.get(), Qt::Key_R, Qt::ControlModifier);
    QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(saves.count(), 0);
    EXPECT_EQ(menuSaves.count(), 0);

    NewProject(ProjectFile("keys.fdb"));
    Simulator->Plug(MakeRealisticInstrument(1, 3));
    Download();
    ASSERT_TRUE(DataModule.HasChanges());
    Activate(Form.get());
    QTest::keyClick(Form.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(saves.count(), 1);
    EXPECT_FALSE(DataModule.HasChanges());

    Form->CommentDBMemo()->setFocus();
    QTest::keyClick(Form->CommentDBMemo(), Qt::Key_B);
    ASSERT_TRUE(DataModule.HasChanges());
    QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(menuSaves.count(), 1);
    EXPECT_FALSE(DataModule.HasChanges());
}

TEST_F(MainFormTest, CloseQueryAnswers)
{
    const QString path = ProjectFile("march.fdb");
    NewProject(path);
    Simulator->Plug(MakeRealisticInstrument(2, 11));
    Download();

    // Cancel: the project stays open with its changes.
    Dialogs->Answers.push_back(QMessageBox::Cancel);
    Form->CloseProjectAction->trigger();
    const TShownMessage question = TakeMessage();
    EXPECT_EQ(question.Text, QStringLiteral("Сохранить изменеия в проекте\rmarch.fdb ?"));
    EXPECT_EQ(question.Caption, QStringLiteral("ЦЕМЕНТ-ВОРКАСТ-ЛАБ-1.0"));
    EXPECT_EQ(question.Icon, QMessageBox::Warning);
    EXPECT_EQ(question.Buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_TRUE(DataModule.IsProjectOpen());
    EXPECT_TRUE(DataModule.HasChanges());
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("ЦЕМЕНТ-ВОРКАСТ-ЛАБ-1.0 - [march.fdb]"));

    // No: the changes are dropped and the project closed.
    Dialogs->Answers.push_back(QMessageBox::No);
    Form->CloseProjectAction->trigger();
    TakeMessage();
    EXPECT_FALSE(DataModule.IsProjectOpen());
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("ЦЕМЕНТ-ВОРКАСТ-ЛАБ-1.0"));
    EXPECT_FALSE(Form->PageControl()->isVisibleTo(Form.get()));
    OpenProject(path);
    EXPECT_EQ(DataModule.GetRecordCount(), 0);

    // Yes: written, then closed.
    Download();
    Dialogs->Answers.push_back(QMessageBox::Yes);
    Form->CloseProjectAction->trigger();
    TakeMessage();
    EXPECT_FALSE(DataModule.IsProjectOpen());
    OpenProject(path);
    EXPECT_EQ(DataModule.GetRecordCount(), 2);
    // Nothing changed: closing asks nothing.
    Form->CloseProjectAction->trigger();
    EXPECT_FALSE(DataModule.IsProjectOpen());
}

TEST_F(MainFormTest, NewProjectOverAnExistingFileIsEmpty)
{
    const QString path = ProjectFile("lab.fdb");
    NewProject(path);
    Simulator->Plug(MakeRealisticInstrument(2, 5));
    Download();
    Form->SaveProjectAction->trigger();
    Form->CloseProjectAction->trigger();

    NewProject(path);
    const TShownFileDialog& dialog = Dialogs->FileDialogs.back();
    EXPECT_TRUE(dialog.Save);
    EXPECT_EQ(dialog.Options.Title, QStringLiteral("Новый проект"));
    EXPECT_EQ(dialog.Options.Filter, QStringLiteral("Файлы проектов (*.fdb) (*.fdb)"));
    EXPECT_EQ(dialog.Options.Directory, Form->GetProjectsPath());
    EXPECT_TRUE(dialog.Options.ConfirmOverwrite);
    EXPECT_EQ(DataModule.GetRecordCount(), 0);
    EXPECT_TRUE(Form->PageControl()->isVisibleTo(Form.get()));
    EXPECT_EQ(Form->PageControl()->currentWidget()->objectName(), QStringLiteral("DataTabSheet"));
}

TEST_F(MainFormTest, NewProjectInAMissingFolderIsRefusedWithTheFolderNamed)
{
    const QString folder = ProjectFile("gone");
    Dialogs->Files.push_back(folder + "/new.fdb");
    Form->CreateNewProjectAction->trigger();
    EXPECT_EQ(TakeMessageText(),
        QStringLiteral("Папка %1 не существует.\rВыберите существующую папку.")
            .arg(QDir::toNativeSeparators(folder)));
    EXPECT_FALSE(DataModule.IsProjectOpen());
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST_F(MainFormTest, ForeignFileAndCancelledDialogsLeaveNoProject)
{
    const QString foreign = ProjectFile("notes.fdb");
    {
        QFile file(foreign);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a database");
    }
    OpenProject(foreign);
    EXPECT_EQ(TakeMessage().Text, QStringLiteral("Не удалось открыть проект!"));
    EXPECT_FALSE(DataModule.IsProjectOpen());
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("ЦЕМЕНТ-ВОРКАСТ-ЛАБ-1.0"));
    EXPECT_EQ(Dialogs->FileDialogs.back().Options.Filter, QStringLiteral("Файлы проектов (.fdb) (*.fdb)"));
    EXPECT_EQ(Dialogs->FileDialogs.back().Options.Title, QStringLiteral("Открыть проект"));

    // With changes pending, No and then a cancelled dialog: nothing open, title caption.
    NewProject(ProjectFile("a.fdb"));
    Simulator->Plug(MakeRealisticInstrument(1, 2));
    Download();
    Dialogs->Answers.push_back(QMessageBox::No);
    Form->OpenProjectAction->trigger();
    TakeMessage();
    EXPECT_FALSE(DataModule.IsProjectOpen());
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("ЦЕМЕНТ-ВОРКАСТ-ЛАБ-1.0"));
    EXPECT_FALSE(Form->PageControl()->isVisibleTo(Form.get()));
}

TEST_F(MainFormTest, CommentTypedThenExitThenYesIsKept)
{
    const QString path = ProjectFile("comment.fdb");
    NewProject(path);
    Simulator->Plug(MakeRealisticInstrument(2, 9));
    Download();
    Form->SaveProjectAction->trigger();
    Activate(Form.get());
    Form->CommentDBMemo()->setFocus();
    TypeText(Form->CommentDBMemo(), QStringLiteral("проба 1"));

    Dialogs->Answers.push_back(QMessageBox::Yes);
    Form->ExitApplicationAction->trigger();
    EXPECT_EQ(TakeMessageText(), QStringLiteral("Сохранить изменеия в проекте\rcomment.fdb ?"));
    EXPECT_FALSE(Form->isVisible());
    EXPECT_FALSE(DataModule.IsProjectOpen());

    ASSERT_TRUE(DataModule.OpenProjectDatabase(path.toStdString()));
    DataModule.ResultDataSet().Last();
    EXPECT_EQ(DataModule.GetMeasureComment(), "проба 1");
}

TEST_F(MainFormTest, CloseOfTheWindowCanBeRefused)
{
    NewProject(ProjectFile("keep.fdb"));
    Simulator->Plug(MakeRealisticInstrument(1, 1));
    Download();
    Form->show();
    Dialogs->Answers.push_back(QMessageBox::Cancel);
    EXPECT_FALSE(Form->close());
    TakeMessage();
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(DataModule.HasChanges());
    EXPECT_FALSE(QFileInfo::exists(Form->SettingsFileName()));
}

TEST_F(MainFormTest, FailedSaveOnCloseKeepsTheProjectAndItsChanges)
{
    const QString path = ProjectFile("gone.fdb");
    NewProject(path);
    Simulator->Plug(MakeRealisticInstrument(1, 4));
    Download();
    // The engine refuses to write: the project's table is gone underneath.
    DataModule.ExecuteSQL("DROP TABLE MEASURE_RESULT_TABLE");
    Dialogs->Answers.push_back(QMessageBox::Yes);
    Form->CloseProjectAction->trigger();
    TakeMessage();                             // the question
    EXPECT_FALSE(TakeMessageText().isEmpty()); // the engine's error
    EXPECT_TRUE(DataModule.IsProjectOpen());
    EXPECT_TRUE(DataModule.HasChanges());
    EXPECT_EQ(Form->GetProjectName(), path);
}

TEST_F(MainFormTest, SettingsWrittenAtCloseAndReadBack)
{
    Form->show();
    EXPECT_TRUE(Form->close());
    const std::string settings = Form->SettingsFileName().toStdString();
    EXPECT_EQ(settings, Dir.File("cement-lab.ini"));
    // The display settings first, as they always were; the window's place and size after them.
    const std::string written = ReadFileBytes(settings);
    EXPECT_EQ(written.substr(0, written.find("\r\n[MainWindow]")),
        "[Graphics]\r\nVorkastGraphicType=0\r\nSeriesColor0=0\r\n\r\n[DeviceScreenShot]\r\nPenColor=0\r\n"
        "BackgroundColor=16777215\r\n");
    EXPECT_NE(written.find("[MainWindow]\r\nLeft="), std::string::npos);

    for (const auto& [stored, pressed] : std::vector<std::pair<int, int>>{{7, -1}, {258, 2}, {4, 4}}) {
        Form.reset();
        TIniFile ini(settings);
        ini.WriteInteger("Graphics", "VorkastGraphicType", stored);
        ini.UpdateFile();
        CreateForm();
        int checked = -1;
        for (int tag = 0; tag < 5; ++tag)
            if (Form->QuantityActions[tag]->isChecked())
                checked = tag;
        EXPECT_EQ(checked, pressed) << "stored " << stored;
    }
}

// Each choice is in the file as soon as it is made, with the window still open.
TEST_F(MainFormTest, SettingsAreWrittenWhenTheyChange)
{
    NewProject(ProjectFile("settings.fdb"));
    Simulator->Plug(MakeRealisticInstrument(1, 4));
    Download();
    struct TChange
    {
        const char* Name;
        std::function<void()> Change;
        const char* Line;
    };
    const TChange changes[] = {
        {"quantity button", [this] { Form->QuantityActions[3]->trigger(); }, "VorkastGraphicType=3\r\n"},
        {"curve colour",
            [this] {
                HandleModalLater<TSetColorsForm>([](TSetColorsForm* form) {
                    form->SetColors({0x0000FF});
                    form->accept();
                });
                Form->findChild<QAction*>("GraphicsColorsMenuItem")->trigger();
            },
            "SeriesColor0=255\r\n"},
        {"screen colours",
            [this] {
                HandleModalLater<TDeviceScreenShotForm>([](TDeviceScreenShotForm* form) {
                    form->SetPenColor(0x00FF00);
                    form->SetBackgroundColor(0x00FFFF);
                });
                Form->ScreenShotAction->trigger();
            },
            "PenColor=65280\r\nBackgroundColor=65535\r\n"},
    };
    const std::string file = Form->SettingsFileName().toStdString();
    for (const TChange& change : changes) {
        change.Change();
        const std::string text = ReadFileBytes(file);
        EXPECT_NE(text.find(change.Line), std::string::npos) << change.Name << ":\n" << text;
    }
    EXPECT_EQ(ReadFileBytes(file),
        "[Graphics]\r\nVorkastGraphicType=3\r\nSeriesColor0=255\r\n\r\n[DeviceScreenShot]\r\nPenColor="
        "65280\r\n"
        "BackgroundColor=65535\r\n");
}

TEST_F(MainFormTest, UnwritableSettingsAreReportedAndTheWindowStillCloses)
{
    Form.reset();
    std::filesystem::create_directory(Dir.File("cement-lab.ini"));
    CreateForm();
    Form->show();
    EXPECT_TRUE(Form->close());
    EXPECT_EQ(TakeMessageText(), QStringLiteral("Unable to write to %1.").arg(Form->SettingsFileName()));
    EXPECT_FALSE(USBDeviceAttached());
}

TEST_F(MainFormTest, DownloadStoresNewRecordsAndShowsTheLast)
{
    NewProject(ProjectFile("read.fdb"));
    Dialogs->Answers.clear();
    Form->ReadFromDeviceAction->trigger();
    const TShownMessage notAttached = TakeMessage();
    EXPECT_EQ(notAttached.Text, QStringLiteral("Прибор не подключен!"));
    EXPECT_EQ(notAttached.Icon, QMessageBox::Critical);

    // Their start times rise with their order, so the last one read stays the last row.
    TSimulatedInstrument instrument = MakeRealisticInstrument(4, 21);
    const std::uint32_t lastMass = instrument.Measurements.back().Header.CementMass;
    const TUSBDeviceId device = Simulator->Plug(instrument);
    EXPECT_EQ(Download(), std::make_pair(4, 4));
    EXPECT_EQ(DataModule.GetRecordCount(), 4);
    EXPECT_EQ(Form->MainDBGrid()->model()->rowCount(), 4);
    EXPECT_EQ(Form->MainDBGrid()->currentIndex().row(), 3);
    EXPECT_EQ(DataModule.ResultDataSet().RecNo(), 4);
    EXPECT_EQ(Form->ParamStringGrid()->Value(0), QString::number(lastMass));
    const QAbstractItemModel* list = Form->MainDBGrid()->model();
    EXPECT_EQ(list->headerData(2, Qt::Horizontal).toString(), QStringLiteral("№"));
    EXPECT_EQ(list->data(list->index(3, 2)).toString(),
        QString::number(instrument.Measurements.back().Header.MeasureNumber));
    EXPECT_TRUE(QDateTime::fromString(
        list->data(list->index(3, 0)).toString() + " " + list->data(list->index(3, 1)).toString(),
        "dd.MM.yyyy hh:mm:ss")
                    .isValid());
    EXPECT_GT(Form->Chart()->PointCount(0), 0);

    // Read again: every record is known already.
    EXPECT_EQ(Download(), std::make_pair(4, 0));
    EXPECT_EQ(DataModule.GetRecordCount(), 4);

    // A failing exchange: eight hex digits of the status, nothing added.
    Simulator->Unplug(device);
    instrument.Faults.push_back({6, TSimulatorFault::TransferError, 0});
    Simulator->Plug(instrument);
    Form->ReadFromDeviceAction->trigger();
    EXPECT_EQ(TakeMessageText(), QStringLiteral("Ошибка связи 30000001"));
    EXPECT_EQ(DataModule.GetRecordCount(), 4);
}

TEST_F(MainFormTest, MovingInTheListShowsThatRecord)
{
    NewProject(ProjectFile("list.fdb"));
    TSimulatedInstrument instrument = MakeRealisticInstrument(3, 33);
    Simulator->Plug(instrument);
    Download();
    std::vector<QString> masses;
    for (int row = 0; row < 3; ++row) {
        Form->MainDBGrid()->setCurrentIndex(Form->MainDBGrid()->model()->index(row, 0));
        EXPECT_EQ(DataModule.ResultDataSet().RecNo(), row + 1);
        masses.push_back(Form->ParamStringGrid()->Value(0));
    }
    std::vector<QString> expected;
    for (const auto& m : instrument.Measurements)
        expected.push_back(QString::number(m.Header.CementMass));
    std::sort(masses.begin(), masses.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(masses, expected);

    // The navigator moves the list too.
    auto* navigator = Form->findChild<TDBNavigator*>("ResultDBNavigator");
    ASSERT_NE(navigator, nullptr);
    navigator->Button(TDBNavigator::nbFirst)->click();
    EXPECT_EQ(Form->MainDBGrid()->currentIndex().row(), 0);
    EXPECT_FALSE(navigator->Button(TDBNavigator::nbPrior)->isEnabled());
    navigator->Button(TDBNavigator::nbDelete)->click();
    EXPECT_EQ(DataModule.GetRecordCount(), 2);
    EXPECT_EQ(Form->MainDBGrid()->model()->rowCount(), 2);
}

// After every move of the current row the list has that row on screen and selected, so a
// comment is typed to the record the operator sees marked.
TEST_F(MainFormTest, ListShowsAndSelectsTheCurrentRowAfterEveryMove)
{
    Form->show();
    const QString path = ProjectFile("follow.fdb");
    NewProject(path);
    Simulator->Plug(MakeRealisticInstrument(12, 5));
    QTableView* list = Form->MainDBGrid();
    TCachedDataSet& ds = DataModule.ResultDataSet();
    auto* navigator = Form->findChild<TDBNavigator*>("ResultDBNavigator");
    ASSERT_NE(navigator, nullptr);
    const auto click = [navigator](TDBNavigator::TButton button) {
        return [navigator, button] { navigator->Button(button)->click(); };
    };
    struct TMove
    {
        const char* Name;
        std::function<void()> Move;
        int RecNo; // 0: wherever the move leaves the dataset
    };
    const TMove moves[] = {
        {"download", [this] { Download(); }, 12},
        {"navigator, first", click(TDBNavigator::nbFirst), 1},
        {"navigator, last", click(TDBNavigator::nbLast), 12},
        {"keyboard, Ctrl+Home", [list] { QTest::keyClick(list, Qt::Key_Home, Qt::ControlModifier); }, 1},
        {"keyboard, Ctrl+End", [list] { QTest::keyClick(list, Qt::Key_End, Qt::ControlModifier); }, 12},
        {"sort", [this] { DataModule.SortResults(); }, 12},
        {"cancel of a comment after a save",
            [this] {
                Form->SaveProjectAction->trigger();
                TypeText(Form->CommentDBMemo(), QStringLiteral("x"));
                Form->CancelChangesAction->trigger();
            },
            0},
        {"delete of the last row", click(TDBNavigator::nbDelete), 11},
        {"open after the question",
            [this, path] {
                Dialogs->Answers.push_back(QMessageBox::No);
                OpenProject(path);
                TakeMessage();
            },
            1},
    };
    for (const TMove& move : moves) {
        SCOPED_TRACE(move.Name);
        move.Move();
        QApplication::processEvents();
        if (move.RecNo != 0) {
            EXPECT_EQ(ds.RecNo(), move.RecNo);
        }
        const int row = ds.RecNo() - 1;
        EXPECT_EQ(list->currentIndex().row(), row);
        const QModelIndexList selected = list->selectionModel()->selectedRows();
        EXPECT_TRUE(selected.size() == 1 && selected.front().row() == row);
        EXPECT_TRUE(list->viewport()->rect().contains(list->visualRect(list->model()->index(row, 0))))
            << "row " << row << " at " << list->visualRect(list->model()->index(row, 0)).y();
    }
}

TEST_F(MainFormTest, MenuAndToolBarOrder)
{
    auto entries = [this](const char* menuName) {
        QStringList names;
        auto* menu = Form->findChild<QMenu*>(menuName);
        if (!menu)
            return QStringList{QStringLiteral("missing")};
        for (QAction* action : menu->actions())
            names << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
        return names;
    };
    EXPECT_EQ(entries("FileMenuItem").join(' '),
        "CreateMenuItem OpenMenuItem CreateServerMenuItem OpenServerMenuItem - SaveMenuItem SaveAsMenuItem "
        "RefreshMenuItem CloseMenuItem - PrintMenuItem ExportMenuItem - ExitMenuItem");
    EXPECT_EQ(entries("N4").join(' '),
        "UndoMenuItem N7 - EditParamsMenuItem DeviceValuesMenuItem HistoryMenuItem - DeleteRecordMenuItem "
        "DeleteAllMenuItem");
    EXPECT_EQ(entries("ViewMenuItem").join(' '),
        "DescriptionPageMenuItem DataPageMenuItem JournalPageMenuItem - FirstRecordMenuItem "
        "PriorRecordMenuItem "
        "NextRecordMenuItem LastRecordMenuItem - VolumeTimeAction VolumeTimeNormAction TemperatureTimeAction "
        "ResistanceTimeAction Temperature2TimeAction - GraphicsColorsMenuItem LaboratoryMenuItem");
    EXPECT_EQ(entries("N9").join(' '), "ReadFromDeviceMenuItem ScreenShotMenuItem");
    EXPECT_EQ(entries("N10").join(' '), "N11 N12");
    EXPECT_EQ(entries("N3").join(' '), "HelpMenuItem AboutMenuItem");

    QStringList menus;
    for (QAction* action : Form->menuBar()->actions())
        menus << action->text();
    EXPECT_EQ(menus.join(' '), QStringLiteral("Файл Правка Вид Связь Таблицы Помощь"));

    auto* toolBar = Form->findChild<QToolBar*>("ToolBar");
    ASSERT_NE(toolBar, nullptr);
    QStringList buttons;
    for (QAction* action : toolBar->actions())
        buttons << (action->isSeparator() ? QStringLiteral("-")
                                          : toolBar->widgetForAction(action)->objectName());
    EXPECT_EQ(buttons.join(' '),
        "CreateToolButton OpenToolButton - SaveToolButton CloseToolButton - ToolButton7 DeleteAllToolButton "
        "- "
        "PrintToolButton ExportToolButton - ReadFromDeviceToolButton - VolumeTimeSBtn VolumeTimeNormSBtn "
        "TemperatureTimeSBtn ResistanceTimeSBtn Temperature2TimeSBtn");

    // Shortcuts: the menu entries hold Ctrl+N, Ctrl+O, Ctrl+S; the commands Ctrl+R and Ctrl+E.
    EXPECT_EQ(Form->findChild<QAction*>("CreateMenuItem")->shortcut(), QKeySequence("Ctrl+N"));
    EXPECT_EQ(Form->findChild<QAction*>("OpenMenuItem")->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(Form->findChild<QAction*>("SaveMenuItem")->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_EQ(Form->SaveProjectAction->shortcut(), QKeySequence("Ctrl+R"));
    EXPECT_EQ(Form->ExitApplicationAction->shortcut(), QKeySequence("Ctrl+E"));
    EXPECT_TRUE(Form->findChild<QAction*>("ExitMenuItem")->text().endsWith("Ctrl+E"));
    // Every command and entry with a picture has one that loads.
    for (const char* name : {"CreateMenuItem", "OpenMenuItem", "SaveMenuItem", "CloseMenuItem",
             "PrintMenuItem", "ExportMenuItem", "ExitMenuItem", "N7", "DeleteAllMenuItem",
             "GraphicsColorsMenuItem", "ReadFromDeviceMenuItem", "ScreenShotMenuItem", "AboutMenuItem"})
        EXPECT_FALSE(Form->findChild<QAction*>(name)->icon().pixmap(16, 16).isNull()) << name;
}

TEST_F(MainFormTest, LayoutSizesAndGridColumnGuard)
{
    NewProject(ProjectFile("layout.fdb"));
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    EXPECT_EQ(Form->ParamStringGrid()->height(), 120);
    EXPECT_EQ(Form->DetailsStringGrid()->height(),
        Form->DetailsStringGrid()->rowCount() * 18 + 2 * Form->DetailsStringGrid()->frameWidth());
    EXPECT_EQ(Form->findChild<QWidget*>("ResultDBNavigator")->height(), 25);
    auto* bar = Form->findChild<QToolBar*>("ToolBar");
    EXPECT_EQ(bar->height(), 35);
    // The results panel as wide as its texts; the chart never below its minimum.
    EXPECT_GE(Form->findChild<QWidget*>("ChartPanel")->width(), 350);

    // Nothing cut off: every caption fits its column, the list's columns fit the list.
    for (TResultStringGrid* grid : {Form->ParamStringGrid(), Form->DetailsStringGrid()})
        for (int row = 0; row < grid->rowCount(); ++row)
            EXPECT_LE(QFontMetrics(grid->font()).horizontalAdvance(grid->CaptionText(row)) + 4,
                grid->columnWidth(0))
                << grid->CaptionText(row).toStdString();
    EXPECT_LE(Form->MainDBGrid()->horizontalHeader()->length(), Form->MainDBGrid()->viewport()->width());

    QWidget* gridPanel = Form->findChild<QWidget*>("GridPanel");
    const int column0 = Form->ParamStringGrid()->columnWidth(0);
    EXPECT_EQ(Form->ParamStringGrid()->columnWidth(1), gridPanel->width() - column0 - 8);
    gridPanel->resize(150, gridPanel->height());
    EXPECT_GT(Form->ParamStringGrid()->columnWidth(1), 0);
    gridPanel->resize(column0 + 200, gridPanel->height());
    EXPECT_EQ(Form->ParamStringGrid()->columnWidth(1), 192);
}

TEST_F(MainFormTest, HintsGoToTheStatusBar)
{
    Form->show();
    QStatusTipEvent tip(Form->CreateNewProjectAction->statusTip());
    QApplication::sendEvent(Form.get(), &tip);
    EXPECT_EQ(Form->StatusPanel(0)->text(), QStringLiteral("Создать новый проект"));
    EXPECT_EQ(Form->CreateNewProjectAction->toolTip(), QStringLiteral("Создать"));
    EXPECT_TRUE(Form->StatusPanel(1)->text().isEmpty());
}

TEST_F(MainFormTest, TableViewerOpensFromTheMenu)
{
    for (const auto& [item, heading] : {std::pair{"N11", "Активность"}, std::pair{"N12", "Удельная"}}) {
        QString shown;
        HandleModalLater<TViewTableForm>(
            [&shown](TViewTableForm* window) { shown = window->TableNameLbl()->text(); });
        Form->findChild<QAction*>(item)->trigger();
        EXPECT_TRUE(shown.startsWith(QString::fromUtf8(heading))) << item << " " << shown.toStdString();
    }
}

// ---- start, error display and the real message box --------------------------------------------

TEST_F(MainFormTest, SecondCopyIsRefusedUntilTheFirstEnds)
{
    // A lock folder of this test's own, so a copy of the program running on this machine
    // does not take part.
    const QByteArray runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(Dir.Path().string()));
    const auto restore = qScopeGuard([&runtimeDir] { qputenv("XDG_RUNTIME_DIR", runtimeDir); });
    TSingleInstanceGuard first;
    ASSERT_TRUE(AcquireSingleInstance(first));
    TSingleInstanceGuard second;
    EXPECT_FALSE(AcquireSingleInstance(second));
    const TShownMessage refused = TakeMessage();
    EXPECT_EQ(refused.Text,
        QStringLiteral("Копия данной программы уже запущена.\rПовторный запуск программы не разрешен."));
    EXPECT_EQ(refused.Icon, QMessageBox::Critical);
    EXPECT_EQ(refused.Caption, QStringLiteral("ЦЕМЕНТ-ВОРКАСТ-ЛАБ-1.0"));
    first.Release();
    EXPECT_TRUE(AcquireSingleInstance(second));
}

TEST(GeneralErrorDisplay, AppendsAFullStopAboveItsCode)
{
    EXPECT_EQ(GeneralErrorText("Unable to write to x.ini"), "Unable to write to x.ini.");
    EXPECT_EQ(GeneralErrorText("Ошибка"), "Ошибка.");
    EXPECT_EQ(GeneralErrorText("done."), "done.");
    // The rule is by character code: '?' lies above '.', '!' below it.
    EXPECT_EQ(GeneralErrorText("what?"), "what?.");
    EXPECT_EQ(GeneralErrorText("a!"), "a!");
    EXPECT_EQ(GeneralErrorText(""), "");
}

TEST(QtOperatorDialogs, ShowTheRealMessageBoxWithLineBreaks)
{
    TQtOperatorDialogs dialogs;
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    HandleModalLater<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::No)->click();
    });
    const auto answer
        = dialogs.Message(APPLICATION_TITLE, QStringLiteral("Сохранить изменеия в проекте\rmarch.fdb ?"),
            QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(answer, QMessageBox::No);
    EXPECT_EQ(text, QStringLiteral("Сохранить изменеия в проекте\nmarch.fdb ?"));
    EXPECT_EQ(title, APPLICATION_TITLE);
    EXPECT_EQ(icon, QMessageBox::Warning);
}

// The real save dialog, typed into as an operator would: a missing folder keeps it open with
// the reason shown; a name without an extension takes the one of the file type chosen.
TEST_F(MainFormTest, RealSaveDialogRefusesAMissingFolderAndAddsTheChosenTypesExtension)
{
    const QString folder = QString::fromStdString(Dir.File(""));
    const QString report = QStringLiteral("Документ PDF (*.pdf);;Рисунки JPEG по страницам (*.jpg)");
    const QString jpeg = QStringLiteral("Рисунки JPEG по страницам (*.jpg)");
    struct TCase
    {
        const char* Name;
        QString Filter;
        QString Chosen;
        QStringList Typed; // Save pressed after each
        QString Returned;
        int Refusals;
    };
    const TCase cases[] = {
        {"JPEG chosen, no extension", report, jpeg, {"protocol"}, "protocol.jpg", 0},
        {"PDF chosen, no extension", report, "Документ PDF (*.pdf)", {"protocol"}, "protocol.pdf", 0},
        {"JPEG chosen, PDF typed", report, jpeg, {"protocol.pdf"}, "protocol.pdf", 0},
        {"a project in a missing folder, then beside it", "Файлы проектов (*.fdb) (*.fdb)", "",
            {folder + "gone/new", "new"}, "new.fdb", 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<bool> open;
        HandleModalLater<QFileDialog>([&c, &open](QFileDialog* dialog) {
            if (!c.Chosen.isEmpty())
                dialog->selectNameFilter(c.Chosen);
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            for (const QString& typed : c.Typed) {
                name->setText(typed);
                dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
                open.push_back(dialog->isVisible());
            }
        });
        TFileDialogOptions options;
        options.Directory = folder;
        options.Filter = c.Filter;
        options.DefaultSuffix = QStringLiteral("pdf");
        const QString chosen = TQtOperatorDialogs().SaveFileName(options);
        EXPECT_EQ(chosen, folder + c.Returned);
        EXPECT_EQ(std::count(open.begin(), open.end(), true), c.Refusals);
        for (int i = 0; i < c.Refusals; ++i)
            EXPECT_EQ(TakeMessageText(),
                QStringLiteral("Папка %1 не существует.\rВыберите существующую папку.")
                    .arg(QDir::toNativeSeparators(folder + "gone")));
    }
    EXPECT_EQ(NameFilterSuffix("Рисунки (*.jpeg *.jpg)"), "jpeg");
    EXPECT_EQ(NameFilterSuffix("Все файлы (*)"), "");
    EXPECT_EQ(NameFilterSuffix("Текст (*.t?t)"), "");
}

TEST(FrameworkTexts, SpeakRussian)
{
    ASSERT_TRUE(LoadFrameworkTranslations(*qApp));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "File &name:"), QStringLiteral("&Имя файла:"));
}

TEST_F(MainFormTest, ScreenColoursChosenInTheCaptureWindowAreKept)
{
    const QString picture = QString::fromStdString(Dir.File("sceenshot.bmp"));
    HandleModalLater<TDeviceScreenShotForm>([&picture](TDeviceScreenShotForm* form) {
        EXPECT_EQ(form->FileName(), picture);
        form->SetPenColor(0x0000FF);
        form->SetBackgroundColor(0x00FFFF);
    });
    Form->ScreenShotAction->trigger();
    EXPECT_EQ(Form->Settings().PenColor, 0x0000FFu);
    EXPECT_EQ(Form->Settings().BackgroundColor, 0x00FFFFu);
    Form->show();
    ASSERT_TRUE(Form->close());
    const std::string settings = ReadFileBytes(Form->SettingsFileName().toStdString());
    EXPECT_NE(settings.find("PenColor=255\r\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("BackgroundColor=65535\r\n"), std::string::npos) << settings;
}

TEST_F(MainFormTest, ColourChosenRecoloursTheChartAndIsKept)
{
    NewProject(ProjectFile("colour.fdb"));
    Simulator->Plug(MakeRealisticInstrument(1, 8));
    Download();
    const int before = Form->Chart()->PointCount(0);
    HandleModalLater<TSetColorsForm>([](TSetColorsForm* form) { form->reject(); });
    Form->findChild<QAction*>("GraphicsColorsMenuItem")->trigger();
    EXPECT_EQ(Form->Settings().SeriesColor[0], 0u);

    HandleModalLater<TSetColorsForm>([](TSetColorsForm* form) {
        form->SetColors({0x0000FF});
        form->accept();
    });
    Form->findChild<QAction*>("GraphicsColorsMenuItem")->trigger();
    EXPECT_EQ(Form->Settings().SeriesColor[0], 0x0000FFu);
    EXPECT_EQ(Form->Chart()->Series(0)->pen().color(), QColor(255, 0, 0));
    EXPECT_EQ(Form->Chart()->PointCount(0), before); // recoloured, not refilled
}

TEST_F(MainFormTest, AboutWindowOpensFromTheMenu)
{
    bool shown = false;
    HandleModalLater<TAboutForm>([&shown](TAboutForm*) { shown = true; });
    Form->findChild<QAction*>("AboutMenuItem")->trigger();
    EXPECT_TRUE(shown);
}

// ---- where the files go ------------------------------------------------------------------------

class ProgramPathsTest : public MainFormTest
{
protected:
    void SetUp() override
    {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR", "XDG_PICTURES_DIR", "HOME"})
            m_saved.emplace_back(name, qgetenv(name));
        qputenv("HOME", QByteArray::fromStdString(Dir.File("home")));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Dir.File("config")));
        qunsetenv("XDG_DOCUMENTS_DIR");
        qunsetenv("XDG_PICTURES_DIR");
        MainFormTest::SetUp();
    }
    void TearDown() override
    {
        MainFormTest::TearDown();
        for (const auto& [name, value] : m_saved)
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
    }

private:
    std::vector<std::pair<const char*, QByteArray>> m_saved;
};

TEST_F(ProgramPathsTest, BesideAWritableProgramOrInTheUsersPlaces)
{
    const QString program = QString::fromStdString(Dir.File("bin/cement-lab"));
    const TProgramPaths beside = ProgramPathsFor(program, true);
    EXPECT_TRUE(beside.BesideProgram);
    EXPECT_EQ(beside.SettingsFile, QString::fromStdString(Dir.File("bin/cement-lab.ini")));
    EXPECT_EQ(beside.ProjectsFolder, QString::fromStdString(Dir.File("bin/projects")));
    EXPECT_EQ(beside.PictureFolder, QString::fromStdString(Dir.File("bin")));

    const TProgramPaths user = ProgramPathsFor(program, false);
    EXPECT_FALSE(user.BesideProgram);
    EXPECT_EQ(user.SettingsFile, QString::fromStdString(Dir.File("config/cement-lab/cement-lab.ini")));
    EXPECT_EQ(user.ProjectsFolder, QString::fromStdString(Dir.File("home/cement-lab-projects")));
    EXPECT_EQ(user.PictureFolder, user.ProjectsFolder);

    qputenv("XDG_DOCUMENTS_DIR", QByteArray::fromStdString(Dir.File("Документы")));
    qputenv("XDG_PICTURES_DIR", QByteArray::fromStdString(Dir.File("Pictures")));
    const TProgramPaths named = ProgramPathsFor(program, false);
    EXPECT_EQ(named.ProjectsFolder, QString::fromStdString(Dir.File("Документы/cement-lab-projects")));
    EXPECT_EQ(named.PictureFolder, QString::fromStdString(Dir.File("Pictures")));

    // The root's folder is writable for root only; a folder nobody may write is the user's case.
    EXPECT_TRUE(ProgramPaths(QString::fromStdString(Dir.File("cement-lab"))).BesideProgram);
}

TEST_F(ProgramPathsTest, TheWindowUsesTheUsersPlacesWhenTheProgramsFolderIsNotItsOwn)
{
    Form.reset();
    Form = std::make_unique<TMainForm>(DataModule,
        ProgramPathsFor(QString::fromStdString(Dir.File("usr/bin/cement-lab")), false), Simulator);
    EXPECT_EQ(Form->GetProjectsPath(), QString::fromStdString(Dir.File("home/cement-lab-projects/")));
    EXPECT_TRUE(QFileInfo(Form->GetProjectsPath()).isDir());
    Form->show();
    ASSERT_TRUE(Form->close());
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(Dir.File("config/cement-lab/cement-lab.ini"))));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Dir.File("usr"))));
}
