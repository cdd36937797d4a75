// The main window as an operator works it: the layout at the first and at a large size,
// what it remembers, the keyboard, undo, save as and help.

#include "MainFormFixture.h"

#include "app/DBControls.h"
#include "app/HelpWindow.h"
#include "app/IniFile.h"
#include "compute/ReferenceTables.h"
#include "compute/ResultText.h"
#include "view/ResultGrids.h"

#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>

#include <filesystem>

namespace {

int TextWidth(const QWidget* widget, const QString& text)
{
    return QFontMetrics(widget->font()).horizontalAdvance(text);
}

} // namespace

class OperatorWindowTest : public MainFormTest
{
protected:
    // A project with records, the window shown at its first size.
    void OpenWithRecords(const char* name, int records = 6)
    {
        NewProject(ProjectFile(name));
        Simulator->Plug(MakeRealisticInstrument(records, 5));
        ASSERT_EQ(Download().second, records);
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    }

    void ShowAt(QSize size)
    {
        Form->resize(size);
        QApplication::processEvents();
    }

    QAction* MenuEntry(const char* name) { return Form->findChild<QAction*>(name); }
};

TEST_F(OperatorWindowTest, LayoutAtTheFirstAndALargeSizeCutsNothing)
{
    OpenWithRecords("layout.fdb");
    QWidget* gridPanel = Form->findChild<QWidget*>("GridPanel");
    QWidget* chartPanel = Form->findChild<QWidget*>("ChartPanel");
    QTableView* list = Form->MainDBGrid();
    TResultStringGrid* params = Form->ParamStringGrid();
    TResultStringGrid* details = Form->DetailsStringGrid();
    EXPECT_EQ(params->font(), details->font());

    struct TSize
    {
        QSize Window;
        int LeastListRows;
        double LeastChartShare;
    };
    const TSize sizes[] = {{QSize(720, 572), 5, 0.45}, {QSize(1920, 1080), 30, 0.6}};
    int gridWidth = -1;
    for (const TSize& size : sizes) {
        SCOPED_TRACE(size.Window.width());
        ShowAt(size.Window);
        ASSERT_EQ(Form->size(), size.Window);
        EXPECT_GE(chartPanel->width(), size.Window.width() * size.LeastChartShare);
        EXPECT_GE(
            list->viewport()->height() / list->verticalHeader()->defaultSectionSize(), size.LeastListRows);

        // Every caption fits column 0; every value its cell (a parameter too long for it ends
        // in "…" and has its whole text as tooltip).
        for (TResultStringGrid* grid : {params, details})
            for (int row = 0; row < grid->rowCount(); ++row) {
                SCOPED_TRACE(grid->CaptionText(row).toStdString());
                EXPECT_LE(TextWidth(grid, grid->CaptionText(row)) + 4, grid->columnWidth(0));
                const int room = grid->ClipValues() ? grid->columnWidth(1)
                                                    : grid->viewport()->width() - grid->columnWidth(0);
                EXPECT_TRUE(TextWidth(grid, grid->Value(row)) + 4 <= room || grid->ValueCut(row));
            }
        EXPECT_LE(params->columnWidth(0) + params->columnWidth(1) + 8, gridPanel->width() + 1);
        // The list's columns hold their headings and values; the number is not lost in a wide column.
        for (int column = 0; column < 3; ++column) {
            QString widest = list->model()->headerData(column, Qt::Horizontal).toString();
            for (int row = 0; row < list->model()->rowCount(); ++row) {
                const QString text = list->model()->index(row, column).data().toString();
                if (TextWidth(list, text) > TextWidth(list, widest))
                    widest = text;
            }
            EXPECT_LE(TextWidth(list, widest) + 6, list->columnWidth(column)) << column;
            EXPECT_LE(list->columnWidth(column), TextWidth(list, widest) + TextWidth(list, "0000000"))
                << column;
        }
        // The status bar's first panel ends before the second begins, whatever its text.
        Form->StatusPanel(0)->setText(QString(300, QLatin1Char('x')));
        QApplication::processEvents();
        EXPECT_LE(Form->StatusPanel(0)->geometry().right(), Form->StatusPanel(1)->geometry().left());
        // The results panel is never wider than its texts: the chart takes what the window gives.
        EXPECT_LE(gridPanel->width(), Form->GridPanelNeededWidth());
        EXPECT_GE(gridPanel->width(), gridWidth);
        gridWidth = gridPanel->width();
    }
    // On the large screen every supplier's text fits whole.
    TMsrResult probe;
    for (std::uint32_t supplier = 0; supplier < kSupplierCount; ++supplier) {
        probe.Supplier = supplier;
        params->SetValue(4, QString::fromStdString(GetParamTexts(probe, ".")[4]));
        EXPECT_FALSE(params->ValueCut(4)) << supplier;
    }
}

TEST_F(OperatorWindowTest, SizePlaceSplittersAndColumnsAreRemembered)
{
    OpenWithRecords("geometry.fdb", 3);
    // Larger than the first size, within the screen (a window is kept within its screen).
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize size(std::min(780, screen.width()), std::min(590, screen.height()));
    Form->resize(size);
    Form->move(40, 30);
    QApplication::processEvents();
    Form->DataSplitter()->setSizes({420, Form->DataSplitter()->width() - 424});
    Form->ChartSplitter()->setSizes({Form->ChartSplitter()->height() - 154, 150});
    Form->MainDBGrid()->horizontalHeader()->resizeSection(1, 97);
    const QList<int> data = Form->DataSplitter()->sizes();
    const QList<int> chart = Form->ChartSplitter()->sizes();
    Form->SaveProjectAction->trigger();
    ASSERT_TRUE(Form->close());
    // The display settings' own lines stay as they were written.
    const std::string ini = ReadFileBytes(Form->SettingsFileName().toStdString());
    EXPECT_NE(ini.find("[Graphics]"), std::string::npos);
    EXPECT_NE(ini.find("Width=" + std::to_string(size.width()) + "\r\n"), std::string::npos) << ini;

    Form.reset();
    CreateForm();
    EXPECT_EQ(Form->size(), size);
    NewProject(ProjectFile("geometry2.fdb"));
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    EXPECT_EQ(Form->DataSplitter()->sizes(), data);
    EXPECT_EQ(Form->ChartSplitter()->sizes(), chart);
    EXPECT_EQ(Form->MainDBGrid()->columnWidth(1), 97);
}

TEST_F(OperatorWindowTest, EveryShortcutIsTheCommandsAndListedInItsMenu)
{
    const std::pair<QAction*, const char*> keys[] = {{Form->SaveProjectAsAction, "Ctrl+Shift+S"},
        {Form->CloseProjectAction, "Ctrl+W"}, {Form->PrintReportAction, "Ctrl+P"},
        {Form->ExportAction, "Ctrl+Shift+E"}, {Form->UndoAction, "Ctrl+Z"}, {Form->EditParamsAction, "F2"},
        {Form->DeleteRecordAction, "Del"}, {Form->FirstRecordAction, "Ctrl+Home"},
        {Form->PriorRecordAction, "Ctrl+Up"}, {Form->NextRecordAction, "Ctrl+Down"},
        {Form->LastRecordAction, "Ctrl+End"}, {Form->DescriptionPageAction, "Ctrl+1"},
        {Form->DataPageAction, "Ctrl+2"}, {Form->JournalPageAction, "Ctrl+J"},
        {Form->ReadFromDeviceAction, "Ctrl+D"}, {Form->ScreenShotAction, "Ctrl+Shift+D"},
        {Form->HelpAction, "F1"}, {Form->QuantityActions[0], "Alt+1"}, {Form->QuantityActions[4], "Alt+5"}};
    QStringList menuTexts;
    for (QMenu* menu : Form->menuBar()->findChildren<QMenu*>())
        for (QAction* entry : menu->actions())
            menuTexts << entry->text()
                    + (entry->shortcut().isEmpty() ? QString() : "\t" + entry->shortcut().toString());
    for (const auto& [action, key] : keys) {
        SCOPED_TRACE(action->objectName().toStdString());
        EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromLatin1(key)));
        EXPECT_TRUE(Form->actions().contains(action));
        const QString listed = action->text().section(QLatin1Char(':'), 0, 0);
        EXPECT_TRUE(std::any_of(menuTexts.begin(), menuTexts.end(), [&](const QString& text) {
            return (text.startsWith(listed) || text.contains(listed))
                && text.endsWith(QKeySequence(QString::fromLatin1(key)).toString(QKeySequence::NativeText));
        })) << menuTexts.join(" | ").toStdString();
    }

    // Moving through the records and the pages from the keyboard.
    OpenWithRecords("keys.fdb", 4);
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    Form->MainDBGrid()->setFocus();
    TCachedDataSet& ds = DataModule.ResultDataSet();
    const std::pair<QKeyCombination, int> moves[] = {{Qt::CTRL | Qt::Key_Home, 1},
        {Qt::CTRL | Qt::Key_Down, 2}, {Qt::CTRL | Qt::Key_End, 4}, {Qt::CTRL | Qt::Key_Up, 3}};
    for (const auto& [key, recNo] : moves) {
        QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
        EXPECT_EQ(ds.RecNo(), recNo);
    }
    const std::pair<QKeyCombination, int> pages[]
        = {{Qt::CTRL | Qt::Key_J, 2}, {Qt::CTRL | Qt::Key_1, 0}, {Qt::CTRL | Qt::Key_2, 1}};
    for (const auto& [key, page] : pages) {
        QTest::keyClick(Form.get(), key.key(), key.keyboardModifiers());
        EXPECT_EQ(Form->PageControl()->currentIndex(), page);
    }
    QTest::keyClick(Form.get(), Qt::Key_3, Qt::AltModifier);
    EXPECT_EQ(Form->Settings().VorkastGraphicType, 2);
    EXPECT_FALSE(Form->QuantityActions[2]->toolTip().isEmpty());
}

TEST_F(OperatorWindowTest, DeleteAsksUndoTakesBackAndCancelAsksForMoreThanOne)
{
    OpenWithRecords("undo.fdb", 3);
    Form->SaveProjectAction->trigger();
    EXPECT_FALSE(Enabled(Form->UndoAction));
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    Form->MainDBGrid()->setFocus();

    // Delete asks, "Нет" keeps the record.
    Dialogs->Answers.push_back(QMessageBox::No);
    QTest::keyClick(Form->MainDBGrid(), Qt::Key_Delete);
    EXPECT_TRUE(TakeMessageText().startsWith(QStringLiteral("Удалить запись из проекта?\rЗапись № ")));
    EXPECT_EQ(DataModule.GetRecordCount(), 3);
    Dialogs->Answers.push_back(QMessageBox::Yes);
    QTest::keyClick(Form->MainDBGrid(), Qt::Key_Delete);
    TakeMessage();
    EXPECT_EQ(DataModule.GetRecordCount(), 2);

    // A comment on another record, posted: undone first, then the deletion.
    Form->CommentDBMemo()->setFocus();
    QTest::keyClicks(Form->CommentDBMemo(), "note");
    Form->MainDBGrid()->setFocus();
    ASSERT_TRUE(Enabled(Form->UndoAction));
    EXPECT_TRUE(Form->UndoAction->text().startsWith(QStringLiteral("Отменить: ")));
    EXPECT_TRUE(MenuEntry("UndoMenuItem")->text().startsWith(Form->UndoAction->text()));
    QTest::keyClick(Form->MainDBGrid(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Form->CommentDBMemo()->toPlainText(), "");
    EXPECT_EQ(DataModule.GetRecordCount(), 2);
    QTest::keyClick(Form->MainDBGrid(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(DataModule.GetRecordCount(), 3);
    EXPECT_EQ(Form->MainDBGrid()->model()->rowCount(), 3);
    EXPECT_FALSE(DataModule.HasChanges());
    EXPECT_FALSE(Enabled(Form->UndoAction));

    // Cancel: one change goes at once, more are asked about ("Нет" keeps them).
    struct TCase
    {
        int Deleted;
        QMessageBox::StandardButton Answer;
        int Left;
        bool Asked;
    };
    for (const TCase& c : {TCase{1, QMessageBox::NoButton, 3, false}, TCase{2, QMessageBox::No, 1, true},
             TCase{2, QMessageBox::Yes, 3, true}}) {
        for (int i = 0; i < c.Deleted; ++i)
            DataModule.ResultDataSet().Delete();
        if (c.Answer != QMessageBox::NoButton)
            Dialogs->Answers.push_back(c.Answer);
        Form->CancelChangesAction->trigger();
        if (c.Asked) {
            EXPECT_TRUE(TakeMessageText().startsWith(QStringLiteral("Отменить все несохранённые изменения")));
        }
        EXPECT_EQ(DataModule.GetRecordCount(), c.Left);
        if (DataModule.HasChanges()) {
            Dialogs->Answers.push_back(QMessageBox::Yes);
            Form->CancelChangesAction->trigger();
            TakeMessage();
        }
    }
}

TEST(QtOperatorDialogs, DestructiveQuestionsAnswerNoOnEnter)
{
    TQtOperatorDialogs dialogs;
    QMessageBox::StandardButton shown = QMessageBox::NoButton;
    HandleModalLater<QMessageBox>(
        [&shown](QMessageBox* box) { shown = box->standardButton(box->defaultButton()); });
    dialogs.Ask(APPLICATION_TITLE, QStringLiteral("Удалить все записи из проекта?"), QMessageBox::Warning,
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    EXPECT_EQ(shown, QMessageBox::No);
}

TEST_F(OperatorWindowTest, SaveAsWritesThePendingChangesAndGoesOnThere)
{
    struct TCase
    {
        const char* Name;
        bool RemoveOriginalFolder;
        const char* Target;
    };
    const TCase cases[] = {{"a copy beside it", false, "copy.fdb"},
        {"the original's folder gone, into a new one", true, "rescued/saved.fdb"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string folder = Dir.File(c.RemoveOriginalFolder ? "doomed" : "kept");
        std::filesystem::create_directories(folder);
        const QString original = QString::fromStdString(folder + "/original.fdb");
        NewProject(original);
        Simulator->Plug(MakeRealisticInstrument(2, 9));
        ASSERT_EQ(Download().second, 2);
        if (c.RemoveOriginalFolder) {
            std::filesystem::remove_all(folder);
            std::filesystem::create_directories(Dir.File("rescued"));
            // The plain save cannot reach the file any more; nothing is lost.
            Form->SaveProjectAction->trigger();
            TakeMessage();
            ASSERT_TRUE(DataModule.HasChanges());
        }
        const QString target = QString::fromStdString(Dir.File(c.Target));
        Dialogs->Files.push_back(target);
        Form->SaveProjectAsAction->trigger();
        EXPECT_EQ(Dialogs->FileDialogs.back().Options.FileName, "original.fdb");
        EXPECT_FALSE(DataModule.HasChanges());
        EXPECT_EQ(Form->GetProjectName(), target);
        EXPECT_TRUE(Form->windowTitle().endsWith(QFileInfo(target).fileName() + "]"));
        // Work goes on in the new file.
        DataModule.ResultDataSet().Delete();
        Form->SaveProjectAction->trigger();
        Form->CloseProjectAction->trigger();
        OpenProject(target);
        EXPECT_EQ(DataModule.GetRecordCount(), 1);
        if (!c.RemoveOriginalFolder) {
            OpenProject(original);
            EXPECT_EQ(DataModule.GetRecordCount(), 0);
        }
        Form->CloseProjectAction->trigger();
    }
}

TEST_F(OperatorWindowTest, F1OpensTheHelpAndExportSuggestsAFileInTheProjectsFolder)
{
    OpenWithRecords("help.fdb", 2);
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    QTest::keyClick(Form.get(), Qt::Key_F1);
    ASSERT_NE(Form->HelpWindow(), nullptr);
    EXPECT_TRUE(Form->HelpWindow()->isVisible());
    const QString help = Form->HelpWindow()->Browser()->toPlainText();
    for (const char* topic : {"ΔV", "Торможение", "udev", "cement-lab-cli", "Ctrl+Z", "Сохранить как"})
        EXPECT_TRUE(help.contains(QString::fromUtf8(topic))) << topic;
    Form->HelpWindow()->close();

    const QString file = Form->GetProjectsPath() + "chosen.txt";
    Dialogs->Files.push_back(file);
    Form->ExportAction->trigger();
    const TFileDialogOptions& options = Dialogs->FileDialogs.back().Options;
    EXPECT_EQ(options.Directory, Form->GetProjectsPath());
    EXPECT_TRUE(options.FileName.startsWith("help_")) << options.FileName.toStdString();
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_TRUE(Form->StatusPanel(0)->text().endsWith(QDir::toNativeSeparators(file)));
}
