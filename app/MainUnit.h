#pragma once

// The main window: actions, menu, tool bar, project pages and the status bar, and the
// handlers of the project commands. It owns the display settings from creation to
// close. The store (TMainDataModule) lives longer than the window and is passed in.
//
// Enabling rule: ActionListUpdate is the only place that enables or disables commands.
// It runs whenever the event loop is about to wait, whenever either dataset reports a
// change, and after each command, so a shortcut never reaches a command whose state is
// stale.

#include "app/DisplaySettings.h"
#include "app/ProgramPaths.h"
#include "store/CachedDataSet.h"
#include "store/MainDataModuleUnit.h"
#include "store/ProjectTarget.h"

#include <QMainWindow>

#include <array>
#include <memory>
#include <vector>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QSplitter;
class QStackedLayout;
class QTabWidget;
class QTableView;
class QToolButton;
class TDBMemo;
class TUSBBackend;
class TDBNavigator;
class TForecastChart;
class TResultStringGrid;
class TResultTableModel;
class TSamplePanel;
class THelpWindow;

class TMainForm : public QMainWindow, private TDataSetListener
{
    Q_OBJECT

public:
    // `executablePath` names the settings file (same path, ".ini") and the projects folder.
    // `usbBackend` is the instrument link the window opens; null: the real USB stack.
    TMainForm(TMainDataModule& dataModule, const QString& executablePath,
        std::shared_ptr<TUSBBackend> usbBackend = nullptr, QWidget* parent = nullptr);
    // With the places decided already.
    TMainForm(TMainDataModule& dataModule, const TProgramPaths& paths,
        std::shared_ptr<TUSBBackend> usbBackend, QWidget* parent = nullptr);
    ~TMainForm() override;

    void ActionListUpdate();

    // Projects (the file dialogs start in ProjectsPath; empty: the home folder).
    void CreateProjectsDirectory();
    QString GetProjectsPath() const { return m_projectsPath; }
    void SetProjectName(const QString& name);
    QString GetProjectName() const { return m_projectName; }
    bool ProjectCloseQuery();

    void CreateNewProjectActionExecute();
    void OpenProjectActionExecute();
    void CloseProjectActionExecute();
    void SaveProjectActionExecute();
    void CancelChangesActionExecute();
    void OpenServerProjectActionExecute();
    void CreateServerProjectActionExecute();
    void RefreshProjectActionExecute();
    // The change history window; the instrument's own values back into the current record.
    void HistoryActionExecute();
    void DeviceValuesActionExecute();
    TSamplePanel* SamplePanel() const { return m_samplePanel; }
    // "Комментарий" and "Проба", the pages under the chart.
    QTabWidget* CommentTabs() const { return m_commentTabs; }
    // Asks where the project on a server is, then creates it there or opens it.
    void ServerProjectCommand(bool create);
    void DeleteAllRecordsActionExecute();
    void ExitApplicationActionExecute();
    // Writes the project with its pending changes to a file the operator names and goes on there.
    void SaveProjectAsActionExecute();
    // Takes back the newest pending change; the command's text names it.
    void UndoActionExecute();
    // Deletes the current record into the pending changes, once the operator agrees.
    void DeleteRecordActionExecute();
    // The parameters of the current record, as a click on their grid opens them.
    void EditParamsActionExecute();
    void HelpActionExecute();
    void LaboratoryActionExecute();
    void ReadFromDeviceActionExecute();
    void PrintReportActionExecute();
    void ExportActionExecute();
    void ScreenShotActionExecute();
    void ColorsActionExecute();
    void ViewTableActionExecute(int tag);

    void ShowResult();
    void ClearStringGrids();
    void ClearGraphics();
    void ShowVorkastGraphic();
    void GraphicsMenuClick(int tag);
    void ParamStringGridMouseUp(Qt::MouseButton button);

    void LoadSettings();
    // Writes the settings file; throws TIniFileError "Unable to write to <file>".
    void SaveSettings();
    // The window's place and size, the splitters and the list's column widths, kept in
    // sections of their own ([MainWindow], [Splitters], [ResultList]) of the settings file.
    void RestoreGeometry();
    void SaveGeometry();
    // The width the results panel needs for its grids' texts and the list's columns.
    int GridPanelNeededWidth() const;
    const TDisplaySettings& Settings() const { return m_settings; }
    QString SettingsFileName() const { return m_paths.SettingsFile; }
    const TProgramPaths& Paths() const { return m_paths; }

    // Named parts, for the feature units that work on them.
    TMainDataModule& DataModule() { return m_dataModule; }
    QTableView* MainDBGrid() const { return m_mainDBGrid; }
    TResultStringGrid* ParamStringGrid() const { return m_paramStringGrid; }
    TResultStringGrid* DetailsStringGrid() const { return m_detailsStringGrid; }
    TDBMemo* CommentDBMemo() const { return m_commentDBMemo; }
    TDBMemo* DescriptionDBMemo() const { return m_descriptionDBMemo; }
    QTabWidget* PageControl() const { return m_pageControl; }
    // The journal page, or null when the program is built without one.
    QWidget* JournalPage() const { return m_journalPage; }
    QSplitter* DataSplitter() const { return m_dataSplitter; }
    QSplitter* ChartSplitter() const { return m_chartSplitter; }
    THelpWindow* HelpWindow() const { return m_helpWindow; }
    QTabWidget* GraphicPageControl() const { return m_graphicPageControl; }
    TForecastChart* Chart() const { return m_chart; }
    QLabel* StatusPanel(int index) const { return m_statusPanels.at(index); }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void CreateActions();
    void CreateMenu();
    void CreateToolBar();
    void CreateClientArea();
    void CreateStatusBar();
    QWidget* CreateGridPanel();
    QWidget* CreateChartPanel();

    bool FormCloseQuery();
    void FormClose();
    void ApplicationEventsHint(const QString& hint);
    void GridPanelResize();
    // Gives the results panel the width its texts need (or the one the operator left), the
    // chart the rest, once the data page first has its size.
    void ArrangeDataSplitter();
    void ArrangeChartSplitter();

    bool CloseBeforeAnotherProject();
    // The file dialog of a new project file; empty when cancelled or its folder is gone.
    QString AskNewProjectFile(const QString& title, const QString& suggested);
    // The pending changes of both datasets, an edit in progress counted once.
    int PendingChangeCount() const;
    // What the view shows again after the store changed under it (cancel, undo, refresh).
    void ShowStoreAgain();
    // The commands' shortcuts, also given to the window so they work wherever the focus is.
    void SetShortcuts();
    // Pages hidden, caption the title, the project closed, grids and chart empty.
    void CloseProjectView();
    // Opens `path` and shows it; "Не удалось открыть проект!" and no project when it fails.
    void OpenAndShowProject(const QString& path);
    void ShowOpenedProject(const QString& path);
    void ShowProjectPages(bool show);
    void MainDBGridFocus();
    void MainDBGridResize();
    void MainDBGridCurrentChanged(int row);
    void CommandDone();
    // Writes the settings when they differ from the file's.
    void SettingsChanged();

    void DataSetChanged() override { ActionListUpdate(); }
    void RecordChanged() override { ActionListUpdate(); }
    void CurrentChanged() override { ActionListUpdate(); }
    void StateChanged() override { ActionListUpdate(); }

    TMainDataModule& m_dataModule;
    TProgramPaths m_paths;
    QString m_projectsPath;
    QString m_projectName;
    TDisplaySettings m_settings;
    TDisplaySettings m_savedSettings; // as the settings file holds them
    std::shared_ptr<TUSBBackend> m_usbBackend;
    bool m_enablingActive = false;
    bool m_reportAllRecords = false; // the report type last chosen
    bool m_reportLabProtocol = false;
    bool m_closed = false;
    TProjectTarget m_lastServer; // offered again; never with its password

public:
    // Commands, named as the operator's manual names them.
    QAction* CreateNewProjectAction = nullptr;
    QAction* OpenProjectAction = nullptr;
    QAction* SaveProjectAction = nullptr;
    QAction* CloseProjectAction = nullptr;
    QAction* ExitApplicationAction = nullptr;
    QAction* CancelChangesAction = nullptr;
    QAction* DeleteAllRecordsAction = nullptr;
    QAction* PrintReportAction = nullptr;
    QAction* ExportAction = nullptr;
    QAction* ReadFromDeviceAction = nullptr;
    QAction* ScreenShotAction = nullptr;
    QAction* OpenServerProjectAction = nullptr;
    QAction* CreateServerProjectAction = nullptr;
    QAction* RefreshProjectAction = nullptr;
    QAction* HistoryAction = nullptr;
    QAction* DeviceValuesAction = nullptr;
    QAction* SaveProjectAsAction = nullptr;
    QAction* UndoAction = nullptr;
    QAction* DeleteRecordAction = nullptr;
    QAction* EditParamsAction = nullptr;
    QAction* FirstRecordAction = nullptr;
    QAction* PriorRecordAction = nullptr;
    QAction* NextRecordAction = nullptr;
    QAction* LastRecordAction = nullptr;
    QAction* DescriptionPageAction = nullptr;
    QAction* DataPageAction = nullptr;
    QAction* JournalPageAction = nullptr;
    QAction* HelpAction = nullptr;
    QAction* LaboratoryAction = nullptr;
    std::array<QAction*, 5> QuantityActions{}; // VolumeTimeAction .. Temperature2TimeAction

private:
    QActionGroup* m_quantityGroup = nullptr;
    QStackedLayout* m_clientLayout = nullptr;
    QFrame* m_mainBevel = nullptr;
    QTabWidget* m_pageControl = nullptr;
    QWidget* m_gridPanel = nullptr;
    QTableView* m_mainDBGrid = nullptr;
    TResultTableModel* m_resultModel = nullptr;
    TResultStringGrid* m_paramStringGrid = nullptr;
    TResultStringGrid* m_detailsStringGrid = nullptr;
    TDBNavigator* m_resultDBNavigator = nullptr;
    TDBMemo* m_commentDBMemo = nullptr;
    TSamplePanel* m_samplePanel = nullptr;
    TDBMemo* m_descriptionDBMemo = nullptr;
    QTabWidget* m_graphicPageControl = nullptr;
    TForecastChart* m_chart = nullptr;
    std::array<QLabel*, 3> m_statusPanels{};
    QSplitter* m_dataSplitter = nullptr;
    QSplitter* m_chartSplitter = nullptr;
    QTabWidget* m_commentTabs = nullptr;
    QWidget* m_journalPage = nullptr;
    THelpWindow* m_helpWindow = nullptr;
    std::vector<int> m_listColumnWidths;
    bool m_applyingListWidths = false;
    bool m_dataSplitterArranged = false;
    bool m_chartSplitterArranged = false;
    // Read from the settings file; 0: not kept there.
    int m_keptGridPanelWidth = 0;
    int m_keptCommentHeight = 0;
    int m_afterScrollHook = 0;
};
