#include "app/MainUnit.h"

#include "app/DBControls.h"
#include "app/HistoryWindow.h"
#include "app/IniFile.h"
#include "app/OperatorDialogs.h"
#include "app/ResultTableModel.h"
#include "app/SamplePanel.h"
#include "app/ServerDialogs.h"
#include "compute/Activity.h"
#include "compute/ResultText.h"
#include "compute/ViewTableUnit.h"
#include "device/DeviceScreenShotUnit.h"
#include "device/DownloadSummaryUnit.h"
#include "device/DownloadUnit.h"
#include "device/USB.h"
#include "output/ExportUnit.h"
#include "output/ReportPreviewUnit.h"
#include "output/SelectReportTypeUnit.h"
#include "settings/AboutUnit.h"
#include "settings/SetColorsUnit.h"
#include "view/DateTimes.h"
#include "view/ForecastChart.h"
#include "view/ResultGrids.h"
#include "view/SetParamUnit.h"

#include <QAbstractEventDispatcher>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QSplitter>
#include <QStackedLayout>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyleOptionToolButton>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A tool bar hands its own icon size to its buttons when they paint; the pictures of the
// quantities are wider than the 16-pixel icons and keep theirs.
class TQuantityButton : public QToolButton
{
public:
    using QToolButton::QToolButton;

protected:
    void initStyleOption(QStyleOptionToolButton* option) const override
    {
        QToolButton::initStyleOption(option);
        option->iconSize = iconSize();
    }
};

} // namespace

// The icons live in the static UI library, whose resources are not registered by themselves.
static void InitIconsResource()
{
    Q_INIT_RESOURCE(Icons);
}

namespace {

constexpr int kWindowWidth = 720;
constexpr int kWindowHeight = 572;
constexpr int kWindowMinHeight = 560;

QString Utf8(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string DecimalSeparator()
{
    return QLocale::system().decimalPoint().toStdString();
}

QString FileNamePart(const QString& path)
{
    return QFileInfo(path).fileName();
}

} // namespace

TMainForm::TMainForm(TMainDataModule& dataModule, const QString& executablePath,
    std::shared_ptr<TUSBBackend> usbBackend, QWidget* parent)
    : TMainForm(dataModule, ProgramPaths(executablePath), std::move(usbBackend), parent)
{ }

TMainForm::TMainForm(TMainDataModule& dataModule, const TProgramPaths& paths,
    std::shared_ptr<TUSBBackend> usbBackend, QWidget* parent)
    : QMainWindow(parent)
    , m_dataModule(dataModule)
    , m_paths(paths)
    , m_usbBackend(std::move(usbBackend))
{
    InitIconsResource();
    setObjectName(QStringLiteral("MainForm"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/cement-lab.svg")));
    resize(kWindowWidth, kWindowHeight);
    setMinimumSize(kWindowWidth, kWindowMinHeight);
    CreateActions();
    CreateMenu();
    CreateToolBar();
    CreateClientArea();
    CreateStatusBar();
    FormCreate();
    CentreOnScreen(*this);
}

TMainForm::~TMainForm()
{
    m_enablingActive = false;
    m_dataModule.OnShowResult = nullptr;
    m_dataModule.ResultDataSet().RemoveListener(this);
    m_dataModule.DescriptionDataSet().RemoveListener(this);
    // The children go first, while this is still a whole main window: their last events
    // (a memo losing the focus, a resize) must not reach a half-destroyed one.
    statusBar()->removeEventFilter(this);
    delete centralWidget();
}

// ---- creation ----------------------------------------------------------------------------------

void TMainForm::FormCreate()
{
    LoadSettings();
    SetProjectName(QString());
    m_projectsPath.clear();
    // A folder that cannot be made is reported; the dialogs then start in the home folder.
    RunCommand([this] { CreateProjectsDirectory(); });
    m_dataModule.OnShowResult = [this](TCachedDataSet&) { ShowResult(); };
    m_dataModule.ResultDataSet().AddListener(this);
    m_dataModule.DescriptionDataSet().AddListener(this);

    m_chart = new TForecastChart(m_graphicPageControl);
    m_graphicPageControl->addTab(m_chart, QStringLiteral("Канал 1"));

    // The link's status is not examined here: the instrument commands report it when used.
    if (m_usbBackend)
        USBInitialize(std::move(m_usbBackend));
    else
        USBInitialize();

    m_enablingActive = true;
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TMainForm::ActionListUpdate);
    ActionListUpdate();

    const int type = m_settings.VorkastGraphicType;
    if (type >= 0 && type < static_cast<int>(QuantityActions.size()))
        QuantityActions[type]->setChecked(true);

    GridPanelResize();
}

void TMainForm::CreateActions()
{
    struct TEntry
    {
        QAction** Action;
        const char* Name;
        const char* Caption;
        const char* ShortHint;
        const char* LongHint;
        const char* Icon;
        void (TMainForm::*Execute)();
    };
    const TEntry entries[] = {
        {&CreateNewProjectAction, "CreateNewProjectAction", "Создать", "Создать", "Создать новый проект",
            "new", &TMainForm::CreateNewProjectActionExecute},
        {&OpenProjectAction, "OpenProjectAction", "Открыть", "Открыть", "Открыть проект", "open",
            &TMainForm::OpenProjectActionExecute},
        {&SaveProjectAction, "SaveProjectAction", "Сохранить", "Сохранить", "Сохранить проект", "save",
            &TMainForm::SaveProjectActionExecute},
        {&CloseProjectAction, "CloseProjectAction", "Закрыть", "Закрыть", "Закрыть проект", "close",
            &TMainForm::CloseProjectActionExecute},
        {&ExitApplicationAction, "ExitApplicationAction", "Выход", "Выход", "Завершение приложения", "exit",
            &TMainForm::ExitApplicationActionExecute},
        {&CancelChangesAction, "CancelChangesAction", "Отменить изменения", "Отменить изменения",
            "Отменить изменения в проекте", "cancelchanges", &TMainForm::CancelChangesActionExecute},
        {&DeleteAllRecordsAction, "DeleteAllRecordsAction", "Удалить всё", "Удалить всё",
            "Удалить всё из проекта", "deleteall", &TMainForm::DeleteAllRecordsActionExecute},
        {&PrintReportAction, "PrintReportAction", "Отчёт", "Создать отчёт", "Создание и печать отчёта",
            "report", &TMainForm::PrintReportActionExecute},
        {&ExportAction, "ExportAction", "Экспорт", "Экспорт данных", "Экспортировать данные в .txt", "export",
            &TMainForm::ExportActionExecute},
        {&ReadFromDeviceAction, "ReadFromDeviceAction", "Считать из прибора", "Считать", "Считать из прибора",
            "read", &TMainForm::ReadFromDeviceActionExecute},
        {&ScreenShotAction, "ScreenShotAction", "Снимок экрана", "Снимок экрана", "Снимок экрана прибора",
            "screenshot", &TMainForm::ScreenShotActionExecute},
        {&OpenServerProjectAction, "OpenServerProjectAction", "Открыть с сервера...", "Открыть с сервера",
            "Открыть проект на сервере Firebird", "open", &TMainForm::OpenServerProjectActionExecute},
        {&CreateServerProjectAction, "CreateServerProjectAction", "Создать на сервере...",
            "Создать на сервере", "Создать проект на сервере Firebird", "new",
            &TMainForm::CreateServerProjectActionExecute},
        {&RefreshProjectAction, "RefreshProjectAction", "Обновить", "Обновить",
            "Показать, что сохранили другие рабочие места, сохранив свои изменения", "read",
            &TMainForm::RefreshProjectActionExecute},
        {&HistoryAction, "HistoryAction", "История...", "История изменений",
            "Изменения записи и проекта: что, кем и когда изменено; восстановление удалённых записей",
            "report", &TMainForm::HistoryActionExecute},
        {&DeviceValuesAction, "DeviceValuesAction", "Значения прибора", "Значения прибора",
            "Вернуть записи параметры, записанные прибором (до сохранения это можно отменить)",
            "cancelchanges", &TMainForm::DeviceValuesActionExecute},
    };
    for (const TEntry& entry : entries) {
        auto* action = new QAction(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(entry.Icon))),
            QString::fromUtf8(entry.Caption), this);
        action->setObjectName(QLatin1String(entry.Name));
        action->setToolTip(QString::fromUtf8(entry.ShortHint));
        action->setStatusTip(QString::fromUtf8(entry.LongHint));
        const auto execute = entry.Execute;
        connect(action, &QAction::triggered, this, [this, execute] {
            RunCommand([this, execute] { (this->*execute)(); });
            CommandDone();
        });
        *entry.Action = action;
    }
    // The window holds the commands, so their shortcuts work wherever the focus is.
    SaveProjectAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    ExitApplicationAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    addActions({SaveProjectAction, ExitApplicationAction});

    static const char* const kQuantityNames[] = {"VolumeTimeAction", "VolumeTimeNormAction",
        "TemperatureTimeAction", "ResistanceTimeAction", "Temperature2TimeAction"};
    m_quantityGroup = new QActionGroup(this);
    m_quantityGroup->setExclusive(true);
    for (int tag = 0; tag < static_cast<int>(QuantityActions.size()); ++tag) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(kQuantityNames[tag]));
        action->setCheckable(true);
        action->setData(tag);
        action->setIcon(QIcon(QuantityPicture(tag)));
        m_quantityGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, tag] {
            RunCommand([this, tag] { GraphicsMenuClick(tag); });
            CommandDone();
        });
        QuantityActions[tag] = action;
    }
}

void TMainForm::CreateMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    auto addMenu = [bar](const char* name, const char* caption) {
        QMenu* menu = bar->addMenu(QString::fromUtf8(caption));
        menu->setObjectName(QLatin1String(name));
        menu->menuAction()->setObjectName(QLatin1String(name));
        return menu;
    };
    // A menu entry mirrors its command: same caption, icon, hint and enabled state. The
    // entry may carry a shortcut of its own, or only show the command's.
    auto addEntry = [](QMenu* menu, const char* name, QAction* command, const QKeySequence& shortcut = {}) {
        auto* entry = new QAction(command->icon(), command->text(), menu);
        entry->setObjectName(QLatin1String(name));
        entry->setStatusTip(command->statusTip());
        entry->setShortcut(shortcut);
        if (shortcut.isEmpty() && !command->shortcut().isEmpty())
            entry->setText(
                command->text() + QLatin1Char('\t') + command->shortcut().toString(QKeySequence::NativeText));
        entry->setEnabled(command->isEnabled());
        connect(
            command, &QAction::changed, entry, [entry, command] { entry->setEnabled(command->isEnabled()); });
        connect(entry, &QAction::triggered, command, [command] {
            if (command->isEnabled())
                command->trigger();
        });
        menu->addAction(entry);
        return entry;
    };
    auto addItem = [](QMenu* menu, const char* name, const char* caption, const char* icon,
                       const char* shortHint, const char* longHint) {
        auto* item = new QAction(QString::fromUtf8(caption), menu);
        item->setObjectName(QLatin1String(name));
        if (icon)
            item->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(icon))));
        if (shortHint)
            item->setToolTip(QString::fromUtf8(shortHint));
        if (longHint)
            item->setStatusTip(QString::fromUtf8(longHint));
        menu->addAction(item);
        return item;
    };

    QMenu* file = addMenu("FileMenuItem", "Файл");
    addEntry(file, "CreateMenuItem", CreateNewProjectAction, QKeySequence(Qt::CTRL | Qt::Key_N));
    addEntry(file, "OpenMenuItem", OpenProjectAction, QKeySequence(Qt::CTRL | Qt::Key_O));
    addEntry(file, "CreateServerMenuItem", CreateServerProjectAction);
    addEntry(file, "OpenServerMenuItem", OpenServerProjectAction);
    file->addSeparator();
    addEntry(file, "SaveMenuItem", SaveProjectAction, QKeySequence(Qt::CTRL | Qt::Key_S));
    addEntry(file, "RefreshMenuItem", RefreshProjectAction, QKeySequence(Qt::Key_F5));
    addEntry(file, "CloseMenuItem", CloseProjectAction);
    file->addSeparator();
    addEntry(file, "PrintMenuItem", PrintReportAction);
    addEntry(file, "ExportMenuItem", ExportAction);
    file->addSeparator();
    addEntry(file, "ExitMenuItem", ExitApplicationAction);

    QMenu* edit = addMenu("N4", "Правка");
    addEntry(edit, "N7", CancelChangesAction);
    addEntry(edit, "DeviceValuesMenuItem", DeviceValuesAction);
    addEntry(edit, "HistoryMenuItem", HistoryAction, QKeySequence(Qt::CTRL | Qt::Key_H));
    edit->addSeparator();
    addEntry(edit, "DeleteAllMenuItem", DeleteAllRecordsAction);

    QMenu* view = addMenu("ViewMenuItem", "Вид");
    QAction* colours
        = addItem(view, "GraphicsColorsMenuItem", "Цвета графиков...", "colors", "Цвета", "Установить цвета");
    connect(colours, &QAction::triggered, this, [this] { RunCommand([this] { ColorsActionExecute(); }); });

    QMenu* link = addMenu("N9", "Связь");
    addEntry(link, "ReadFromDeviceMenuItem", ReadFromDeviceAction);
    addEntry(link, "ScreenShotMenuItem", ScreenShotAction);

    QMenu* tables = addMenu("N10", "Таблицы");
    QAction* n11 = addItem(tables, "N11", "Таблица активности", nullptr, nullptr, nullptr);
    QAction* n12 = addItem(tables, "N12", "Таблица удельной контракции", nullptr, nullptr, nullptr);
    n11->setData(1);
    n12->setData(2);
    for (QAction* item : {n11, n12})
        connect(item, &QAction::triggered, this,
            [this, item] { RunCommand([this, item] { ViewTableActionExecute(item->data().toInt()); }); });

    QMenu* help = addMenu("N3", "Помощь");
    QAction* about = addItem(help, "AboutMenuItem", "О программе", "about", nullptr, nullptr);
    connect(about, &QAction::triggered, this, [this] {
        RunCommand([this] {
            TAboutForm form(this);
            form.Fill();
            form.exec();
        });
    });
}

void TMainForm::CreateToolBar()
{
    QToolBar* bar = addToolBar(QStringLiteral("ToolBar"));
    bar->setObjectName(QStringLiteral("ToolBar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    bar->toggleViewAction()->setEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    auto add = [bar](QAction* action, const char* name) {
        bar->addAction(action);
        QWidget* button = bar->widgetForAction(action);
        button->setObjectName(QLatin1String(name));
        return button;
    };
    add(CreateNewProjectAction, "CreateToolButton");
    add(OpenProjectAction, "OpenToolButton");
    bar->addSeparator();
    add(SaveProjectAction, "SaveToolButton");
    add(CloseProjectAction, "CloseToolButton");
    bar->addSeparator();
    add(CancelChangesAction, "ToolButton7");
    add(DeleteAllRecordsAction, "DeleteAllToolButton");
    bar->addSeparator();
    add(PrintReportAction, "PrintToolButton");
    add(ExportAction, "ExportToolButton");
    bar->addSeparator();
    add(ReadFromDeviceAction, "ReadFromDeviceToolButton");
    bar->addSeparator();
    static const char* const kButtonNames[] = {"VolumeTimeSBtn", "VolumeTimeNormSBtn", "TemperatureTimeSBtn",
        "ResistanceTimeSBtn", "Temperature2TimeSBtn"};
    for (int tag = 0; tag < static_cast<int>(QuantityActions.size()); ++tag) {
        auto* button = new TQuantityButton(bar);
        button->setObjectName(QLatin1String(kButtonNames[tag]));
        button->setDefaultAction(QuantityActions[tag]);
        button->setAutoRaise(true);
        button->setIconSize(QuantityPictureSize());
        button->setFixedSize(64, 22);
        bar->addWidget(button);
    }
    // The tool bar's layout sets its own minimum as it fills; the height is fixed last.
    bar->setFixedHeight(35);
}

void TMainForm::CreateClientArea()
{
    auto* client = new QWidget(this);
    m_clientLayout = new QStackedLayout(client);
    m_clientLayout->setStackingMode(QStackedLayout::StackOne);

    m_mainBevel = new QFrame(client);
    m_mainBevel->setObjectName(QStringLiteral("MainBevel"));
    m_mainBevel->setFrameShape(QFrame::StyledPanel);
    m_mainBevel->setFrameShadow(QFrame::Sunken);
    m_clientLayout->addWidget(m_mainBevel);

    m_pageControl = new QTabWidget(client);
    m_pageControl->setObjectName(QStringLiteral("PageControl"));
    auto* description = new QWidget(m_pageControl);
    description->setObjectName(QStringLiteral("DescriptionTabSheet"));
    auto* descriptionLayout = new QVBoxLayout(description);
    descriptionLayout->setContentsMargins(0, 0, 0, 0);
    m_descriptionDBMemo = new TDBMemo(description);
    m_descriptionDBMemo->setObjectName(QStringLiteral("DescriptionDBMemo"));
    m_descriptionDBMemo->Bind(
        m_dataModule.DescriptionDataSet(), [this] { return m_dataModule.GetProjectDescription(); },
        [this](const std::string& text) { m_dataModule.SetProjectDescription(text); });
    connect(m_descriptionDBMemo, &TDBMemo::Exit, this,
        [this] { RunCommand([this] { m_dataModule.PostEdits(); }); });
    descriptionLayout->addWidget(m_descriptionDBMemo);
    m_pageControl->addTab(description, QStringLiteral("Описание"));

    auto* data = new QWidget(m_pageControl);
    data->setObjectName(QStringLiteral("DataTabSheet"));
    auto* dataLayout = new QVBoxLayout(data);
    dataLayout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Horizontal, data);
    splitter->setObjectName(QStringLiteral("Splitter"));
    splitter->setHandleWidth(4);
    splitter->setChildrenCollapsible(false);
    splitter->setOpaqueResize(true);
    m_gridPanel = CreateGridPanel();
    QWidget* chartPanel = CreateChartPanel();
    splitter->addWidget(m_gridPanel);
    splitter->addWidget(chartPanel);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({kWindowWidth - 456 - 4, 456});
    dataLayout->addWidget(splitter);
    m_pageControl->addTab(data, QStringLiteral("Данные"));

    m_clientLayout->addWidget(m_pageControl);
    m_clientLayout->setCurrentWidget(m_mainBevel);
    setCentralWidget(client);
}

QWidget* TMainForm::CreateGridPanel()
{
    auto* panel = new QWidget;
    panel->setObjectName(QStringLiteral("GridPanel"));
    panel->setMinimumWidth(1);
    panel->installEventFilter(this);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_mainDBGrid = new QTableView(panel);
    m_mainDBGrid->setObjectName(QStringLiteral("MainDBGrid"));
    m_resultModel = new TResultTableModel(m_dataModule.ResultDataSet(), m_mainDBGrid);
    m_mainDBGrid->setModel(m_resultModel);
    m_mainDBGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_mainDBGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_mainDBGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_mainDBGrid->verticalHeader()->setDefaultSectionSize(18);
    m_mainDBGrid->verticalHeader()->setFixedWidth(14);
    m_mainDBGrid->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    const int charWidth = m_mainDBGrid->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    m_mainDBGrid->setColumnWidth(0, 10 * charWidth + 6);
    m_mainDBGrid->setColumnWidth(1, 8 * charWidth + 6);
    m_mainDBGrid->viewport()->installEventFilter(this);
    // The sample's columns are there for those who want them: the header's menu shows them.
    m_mainDBGrid->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    const std::int32_t shown = [this] {
        try {
            return TIniFile(m_paths.SettingsFile.toStdString()).ReadInteger("ResultList", "SampleColumns", 0);
        } catch (const std::exception&) {
            return 0;
        }
    }();
    for (int column = TResultTableModel::kFixedColumns; column < m_resultModel->columnCount(); ++column) {
        m_mainDBGrid->setColumnHidden(column, !(shown & (1 << (column - TResultTableModel::kFixedColumns))));
        m_mainDBGrid->setColumnWidth(column, 12 * charWidth + 6);
    }
    connect(m_mainDBGrid->horizontalHeader(), &QWidget::customContextMenuRequested, this,
        [this](const QPoint& at) {
            QMenu menu(this);
            for (int column = TResultTableModel::kFixedColumns; column < m_resultModel->columnCount();
                 ++column) {
                QAction* item = menu.addAction(m_resultModel->headerData(column, Qt::Horizontal).toString());
                item->setCheckable(true);
                item->setChecked(!m_mainDBGrid->isColumnHidden(column));
                item->setData(column);
            }
            QAction* chosen = menu.exec(m_mainDBGrid->horizontalHeader()->mapToGlobal(at));
            if (!chosen)
                return;
            m_mainDBGrid->setColumnHidden(chosen->data().toInt(), !chosen->isChecked());
            std::int32_t mask = 0;
            for (int column = TResultTableModel::kFixedColumns; column < m_resultModel->columnCount();
                 ++column)
                if (!m_mainDBGrid->isColumnHidden(column))
                    mask |= 1 << (column - TResultTableModel::kFixedColumns);
            RunCommand([this, mask] {
                QDir().mkpath(QFileInfo(m_paths.SettingsFile).absolutePath());
                TIniFile ini(m_paths.SettingsFile.toStdString());
                ini.WriteInteger("ResultList", "SampleColumns", mask);
                ini.UpdateFile();
            });
        });
    connect(m_mainDBGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            if (!current.isValid())
                return;
            TCachedDataSet& ds = m_dataModule.ResultDataSet();
            if (ds.Active() && current.row() + 1 != ds.RecNo())
                RunCommand([&ds, &current] { ds.SetRecNo(current.row() + 1); });
        });
    connect(m_resultModel, &TResultTableModel::CurrentRowChanged, this, &TMainForm::MainDBGridCurrentChanged);
    layout->addWidget(m_mainDBGrid, 1);

    m_paramStringGrid = CreateParamStringGrid(panel);
    m_paramStringGrid->viewport()->installEventFilter(this);
    m_paramStringGrid->setStatusTip(
        QStringLiteral("Щёлкните левой кнопкой мыши для изменения общих параметров"));
    layout->addWidget(m_paramStringGrid);

    m_detailsStringGrid = CreateDetailsStringGrid(panel);
    m_detailsStringGrid->setStatusTip(QStringLiteral("Результаты обработки"));
    layout->addWidget(m_detailsStringGrid);

    m_resultDBNavigator = new TDBNavigator(m_dataModule.ResultDataSet(), panel);
    m_resultDBNavigator->setObjectName(QStringLiteral("ResultDBNavigator"));
    m_resultDBNavigator->setFixedHeight(25);
    layout->addWidget(m_resultDBNavigator);
    return panel;
}

QWidget* TMainForm::CreateChartPanel()
{
    auto* panel = new QWidget;
    panel->setObjectName(QStringLiteral("ChartPanel"));
    panel->setMinimumWidth(350);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Vertical, panel);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(4);
    splitter->setChildrenCollapsible(false);

    m_graphicPageControl = new QTabWidget(splitter);
    m_graphicPageControl->setObjectName(QStringLiteral("GraphicPageControl"));
    m_graphicPageControl->setMinimumHeight(50);

    auto* commentPanel = new QWidget(splitter);
    commentPanel->setObjectName(QStringLiteral("CommentPanel"));
    commentPanel->setMinimumHeight(50);
    auto* bottomLayout = new QHBoxLayout(commentPanel);
    bottomLayout->setContentsMargins(2, 2, 2, 2);
    bottomLayout->setSpacing(6);
    auto* commentLayout = new QVBoxLayout;
    commentLayout->setSpacing(2);
    bottomLayout->addLayout(commentLayout, 1);
    commentLayout->addWidget(new QLabel(QStringLiteral("Комментарий:"), commentPanel));
    m_commentDBMemo = new TDBMemo(commentPanel);
    m_commentDBMemo->setObjectName(QStringLiteral("CommentDBMemo"));
    m_commentDBMemo->Bind(
        m_dataModule.ResultDataSet(), [this] { return m_dataModule.GetMeasureComment(); },
        [this](const std::string& text) { m_dataModule.SetMeasureComment(text); });
    connect(
        m_commentDBMemo, &TDBMemo::Exit, this, [this] { RunCommand([this] { m_dataModule.PostEdits(); }); });
    connect(m_commentDBMemo, &QPlainTextEdit::textChanged, this, &TMainForm::ActionListUpdate);
    commentLayout->addWidget(m_commentDBMemo, 1);
    m_samplePanel = new TSamplePanel(m_dataModule, commentPanel);
    connect(m_samplePanel, &TSamplePanel::Exit, this, [this] {
        RunCommand([this] {
            m_dataModule.PostEdits();
            ShowResult();
        });
    });
    bottomLayout->addWidget(m_samplePanel, 1);

    splitter->addWidget(m_graphicPageControl);
    splitter->addWidget(commentPanel);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({kWindowHeight - 196, 196});
    layout->addWidget(splitter);
    return panel;
}

void TMainForm::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(true);
    static const int kWidths[] = {350, 125, 150};
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(kWidths[i]);
        if (i == 0)
            bar->addWidget(panel);
        else {
            panel->setFrameShape(QFrame::Panel);
            panel->setFrameShadow(QFrame::Sunken);
            bar->addPermanentWidget(panel);
        }
        m_statusPanels[i] = panel;
    }
    bar->installEventFilter(this);
}

// ---- events ------------------------------------------------------------------------------------

bool TMainForm::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip) {
        ApplicationEventsHint(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize) {
        if (watched == statusBar())
            StatusBarResize();
        else if (watched == m_gridPanel)
            GridPanelResize();
        else if (watched == m_mainDBGrid->viewport())
            MainDBGridResize();
    } else if (event->type() == QEvent::MouseButtonRelease && watched == m_paramStringGrid->viewport()) {
        const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
        RunCommand([this, button] { ParamStringGridMouseUp(button); });
        ActionListUpdate();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::ApplicationEventsHint(const QString& hint)
{
    m_statusPanels[0]->setText(hint);
}

void TMainForm::StatusBarResize()
{
    m_statusPanels[0]->setFixedWidth(std::max(0, statusBar()->width() - 280));
}

void TMainForm::GridPanelResize()
{
    // Column 1 fills the panel; below column 0 plus the margin it keeps its last width
    // instead of turning negative.
    const int column0 = m_paramStringGrid->columnWidth(0);
    const int width = m_gridPanel->width() - column0 - 8;
    if (width > 0)
        m_paramStringGrid->setColumnWidth(1, width);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (m_closed) {
        event->accept();
        return;
    }
    bool canClose = false;
    RunCommand([this, &canClose] { canClose = FormCloseQuery(); });
    if (!canClose) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

bool TMainForm::FormCloseQuery()
{
    if (!m_dataModule.IsProjectOpen())
        return true;
    return ProjectCloseQuery();
}

void TMainForm::FormClose()
{
    m_closed = true;
    m_enablingActive = false;
    // A settings file that cannot be written is reported; the program still ends and
    // lets the instrument go.
    RunCommand([this] { SaveSettings(); });
    USBFinalize();
}

void TMainForm::CommandDone()
{
    ActionListUpdate();
}

// ---- enabling rule -----------------------------------------------------------------------------

void TMainForm::ActionListUpdate()
{
    if (!m_enablingActive)
        return;
    const bool open = m_dataModule.IsProjectOpen();
    const bool changed = open && m_dataModule.HasChanges();
    const bool records = open && !m_dataModule.IsResultEmpty();
    SaveProjectAction->setEnabled(open && changed);
    CancelChangesAction->setEnabled(open && changed);
    CloseProjectAction->setEnabled(open);
    RefreshProjectAction->setEnabled(open);
    DeleteAllRecordsAction->setEnabled(records);
    PrintReportAction->setEnabled(records);
    ExportAction->setEnabled(records);
    ReadFromDeviceAction->setEnabled(open);
    for (QAction* action : QuantityActions)
        action->setEnabled(records);
    m_commentDBMemo->setEnabled(records);
    HistoryAction->setEnabled(open);
    DeviceValuesAction->setEnabled(records);
}

// ---- settings ----------------------------------------------------------------------------------

void TMainForm::LoadSettings()
{
    m_settings = LoadDisplaySettings(m_paths.SettingsFile.toStdString());
    m_savedSettings = m_settings;
}

void TMainForm::SettingsChanged()
{
    // Written at once, so a crash or a power cut does not take the choice with it.
    if (m_settings != m_savedSettings)
        SaveSettings();
}

void TMainForm::SaveSettings()
{
    // The XDG configuration folder may not exist yet; the folder beside the program does.
    if (!m_paths.BesideProgram)
        QDir().mkpath(QFileInfo(m_paths.SettingsFile).absolutePath());
    SaveDisplaySettings(m_paths.SettingsFile.toStdString(), m_settings);
    m_savedSettings = m_settings;
}

// ---- projects ----------------------------------------------------------------------------------

void TMainForm::CreateProjectsDirectory()
{
    // Beside the program one level is made, as there; a folder of the user's may need its parents.
    const QString folder = m_paths.ProjectsFolder;
    const bool made = m_paths.BesideProgram ? QDir().mkdir(folder) : QDir().mkpath(folder);
    if (!QFileInfo(folder).isDir() && !made)
        throw std::runtime_error(QDir::toNativeSeparators(folder).toStdString());
    m_projectsPath = folder + QLatin1Char('/');
}

void TMainForm::SetProjectName(const QString& name)
{
    m_projectName = name;
    if (name.isEmpty())
        setWindowTitle(APPLICATION_TITLE);
    else
        setWindowTitle(APPLICATION_TITLE + QStringLiteral(" - [")
            + (m_dataModule.Target().IsServer() ? name : FileNamePart(name)) + QStringLiteral("]"));
}

bool TMainForm::ProjectCloseQuery()
{
    m_dataModule.PostEdits();
    if (!m_dataModule.HasChanges())
        return true;
    const auto answer = AskQuestion(QStringLiteral("Сохранить изменеия в проекте\r")
            + FileNamePart(GetProjectName()) + QStringLiteral(" ?"),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    // Once the changes are saved or dropped the project is closed even when the engine
    // fails to let the file go: the failure is shown and the connection abandoned, so the
    // window never stays with a project half closed.
    const auto close = [this] { RunCommand([this] { m_dataModule.CloseProjectDatabase(); }); };
    switch (answer) {
    case QMessageBox::Yes:
        // A save that fails keeps the project open with its changes.
        try {
            m_dataModule.ApplyChanges();
        } catch (const std::exception& error) {
            ShowGeneralError(error);
            return false;
        }
        close();
        return true;
    case QMessageBox::No:
        m_dataModule.CancelChanges();
        close();
        return true;
    default:
        // Cancel, or the box closed without an answer: nothing is closed or lost.
        return false;
    }
}

bool TMainForm::CloseBeforeAnotherProject()
{
    if (m_dataModule.IsProjectOpen() && !ProjectCloseQuery())
        return false;
    CloseProjectView();
    return true;
}

void TMainForm::CloseProjectView()
{
    ShowProjectPages(false);
    SetProjectName(QString());
    m_dataModule.CloseProjectDatabase();
    ClearStringGrids();
    ClearGraphics();
}

void TMainForm::OpenAndShowProject(const QString& path)
{
    if (!m_dataModule.OpenProjectDatabase(path.toStdString())) {
        SetProjectName(QString());
        ShowErrorMessage(QStringLiteral("Не удалось открыть проект!"));
        return;
    }
    ShowOpenedProject(path);
}

void TMainForm::CreateNewProjectActionExecute()
{
    if (!CloseBeforeAnotherProject())
        return;
    TFileDialogOptions options;
    options.Title = QStringLiteral("Новый проект");
    options.Directory = m_projectsPath;
    options.Filter = QStringLiteral("Файлы проектов (*.fdb) (*.fdb)");
    options.DefaultSuffix = QStringLiteral("fdb");
    options.ConfirmOverwrite = true;
    const QString path = OperatorDialogs().SaveFileName(options);
    if (path.isEmpty())
        return;
    // The dialog refuses a missing folder; this one may have gone since.
    if (const QString problem = SaveFolderProblem(path); !problem.isEmpty()) {
        ShowErrorMessage(problem);
        return;
    }
    if (QFileInfo::exists(path) && !QFile::remove(path))
        return;
    if (!m_dataModule.CreateProjectDatabase(path.toStdString())) {
        SetProjectName(QString());
        ShowErrorMessage(QStringLiteral("Не удалось создать проект!"));
        return;
    }
    OpenAndShowProject(path);
}

void TMainForm::OpenProjectActionExecute()
{
    if (!CloseBeforeAnotherProject())
        return;
    TFileDialogOptions options;
    options.Title = QStringLiteral("Открыть проект");
    options.Directory = m_projectsPath;
    options.Filter = QStringLiteral("Файлы проектов (.fdb) (*.fdb)");
    const QString path = OperatorDialogs().OpenFileName(options);
    if (path.isEmpty())
        return;
    OpenAndShowProject(path);
}

void TMainForm::ShowOpenedProject(const QString& path)
{
    SetProjectName(m_dataModule.Target().IsServer() ? path : QFileInfo(path).absoluteFilePath());
    m_pageControl->setCurrentIndex(1);
    m_graphicPageControl->setCurrentIndex(0);
    ClearGraphics();
    m_dataModule.ResultDataSet().First();
    // The scroll notification does not fire for every list (an empty one, say): show
    // the current record in any case.
    ShowResult();
    m_descriptionDBMemo->Reload();
    m_commentDBMemo->Reload();
    ShowProjectPages(true);
    MainDBGridCurrentChanged(m_resultModel->CurrentRow());
}

void TMainForm::ShowProjectPages(bool show)
{
    m_clientLayout->setCurrentWidget(show ? static_cast<QWidget*>(m_pageControl) : m_mainBevel);
}

void TMainForm::HistoryActionExecute()
{
    m_dataModule.PostEdits();
    THistoryWindow window(m_dataModule, this);
    CentreOnScreen(window);
    if (window.exec() == QDialog::Accepted)
        ShowResult();
}

void TMainForm::DeviceValuesActionExecute()
{
    if (!m_dataModule.RestoreDeviceValues()) {
        OperatorDialogs().Message(QApplication::applicationName(),
            QStringLiteral("Параметры этой записи не изменялись: в ней значения прибора."),
            QMessageBox::Information, QMessageBox::Ok);
        return;
    }
    ShowResult();
}

void TMainForm::OpenServerProjectActionExecute()
{
    ServerProjectCommand(false);
}

void TMainForm::CreateServerProjectActionExecute()
{
    ServerProjectCommand(true);
}

void TMainForm::ServerProjectCommand(bool create)
{
    if (!CloseBeforeAnotherProject())
        return;
    const auto target = AskServerProject(this,
        create ? QStringLiteral("Создать проект на сервере") : QStringLiteral("Открыть проект с сервера"),
        m_lastServer);
    if (!target)
        return;
    m_lastServer = *target;
    m_lastServer.Password.clear();
    if ((create && !m_dataModule.CreateProjectDatabase(*target))
        || !m_dataModule.OpenProjectDatabase(*target)) {
        SetProjectName(QString());
        ShowErrorMessage((create ? QStringLiteral("Не удалось создать проект!\r")
                                 : QStringLiteral("Не удалось открыть проект!\r"))
            + QString::fromStdString(m_dataModule.LastError()));
        return;
    }
    ShowOpenedProject(QString::fromStdString(target->Caption()));
}

void TMainForm::RefreshProjectActionExecute()
{
    const TCachedDataSet& results = m_dataModule.ResultDataSet();
    auto describe = [&results](const std::vector<TValue>& values) {
        QString name = QStringLiteral("Описание проекта");
        if (values.size() == results.FieldCount()) {
            name = QStringLiteral("Запись");
            if (const auto* n = std::get_if<std::int64_t>(&values[results.FieldIndex("MEASURE_NUMBER")]))
                name += QStringLiteral(" № %1").arg(*n);
            if (const auto* d = std::get_if<TDateTime>(&values[results.FieldIndex("MEASURE_DATE")]))
                name += QStringLiteral(" от ")
                    + OleDateToDateTime(d->Value).toString(QStringLiteral("dd.MM.yyyy hh:mm"));
        }
        return name;
    };
    const int different = m_dataModule.RefreshProject([&](const TRowConflict& conflict) {
        const QString name = describe(conflict.Theirs.empty() ? conflict.Mine : conflict.Theirs);
        const QString there
            = conflict.Theirs.empty() ? QStringLiteral("удалена") : QStringLiteral("изменена");
        const QString here = conflict.Mine.empty() ? QStringLiteral("удаление") : QStringLiteral("изменение");
        return AskQuestion(name + QStringLiteral(": ") + there
                       + QStringLiteral(" на другом рабочем месте, а здесь есть несохранённое ") + here
                       + QStringLiteral(
                           ".\rОставить сделанное здесь?\r\rДа — оставить (при сохранении оно заменит "
                           "сохранённое там), Нет — взять сохранённое там."),
                   QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes;
    });
    if (m_dataModule.OnShowResult)
        m_dataModule.OnShowResult(m_dataModule.ResultDataSet());
    m_commentDBMemo->Reload();
    m_descriptionDBMemo->Reload();
    ApplicationEventsHint(different == 0
            ? QStringLiteral("Проект обновлён: других изменений нет")
            : QStringLiteral("Проект обновлён: изменено записей %1").arg(different));
}

void TMainForm::CloseProjectActionExecute()
{
    if (!ProjectCloseQuery())
        return;
    CloseProjectView();
}

void TMainForm::SaveProjectActionExecute()
{
    m_dataModule.PostEdits();
    m_dataModule.ApplyChanges();
}

void TMainForm::CancelChangesActionExecute()
{
    m_dataModule.CancelChanges();
    if (m_dataModule.OnShowResult)
        m_dataModule.OnShowResult(m_dataModule.ResultDataSet());
    m_commentDBMemo->Reload();
    m_descriptionDBMemo->Reload();
}

void TMainForm::DeleteAllRecordsActionExecute()
{
    if (AskQuestion(QStringLiteral("Удалить все записи из проекта?"), QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    m_dataModule.PostEdits();
    m_dataModule.DeleteAllRecords();
    ClearGraphics();
    ClearStringGrids();
}

void TMainForm::ExitApplicationActionExecute()
{
    close();
}

void TMainForm::ClearStringGrids()
{
    m_paramStringGrid->ClearValues(0);
    m_detailsStringGrid->ClearValues(1);
}

// ---- results -----------------------------------------------------------------------------------

void TMainForm::ShowResult()
{
    if (m_dataModule.ResultDataSet().State() != TDataSetState::Browse)
        return;
    TMsrResult msr;
    if (m_dataModule.ReadMsrResult(msr) != 0) {
        ClearGraphics();
        ClearStringGrids();
        return;
    }
    const std::string separator = DecimalSeparator();
    const TParamTexts params = GetParamTexts(msr, separator);
    for (int row = 0; row < static_cast<int>(params.size()); ++row)
        m_paramStringGrid->SetValue(row, Utf8(params[row]));
    const TMsrCalcResult calc = CalcMsrResult(msr);
    const TResultTexts results = GetResultTexts(calc, separator);
    for (int row = 0; row + 1 < static_cast<int>(results.size()); ++row)
        m_detailsStringGrid->SetValue(row + 1, Utf8(results[row]));
    m_detailsStringGrid->SetValue(kUnitContractionRow, Utf8(results.back()));
    const std::optional<double> strength = m_dataModule.GetSampleInfo().Strength;
    m_detailsStringGrid->SetValue(kMeasuredStrengthRow, Utf8(GetMeasuredStrengthStr(strength, separator)));
    const auto [errorMpa, errorPercent] = GetForecastErrorStrs(calc, strength, separator);
    m_detailsStringGrid->SetValue(kForecastErrorRow, Utf8(errorMpa));
    m_detailsStringGrid->SetValue(kForecastErrorPercentRow, Utf8(errorPercent));
    ClearGraphics();
    m_chart->Fill(msr);
    ShowVorkastGraphic();
}

void TMainForm::ClearGraphics()
{
    if (m_chart)
        m_chart->Clear();
}

void TMainForm::ShowVorkastGraphic()
{
    if (m_chart)
        m_chart->ShowQuantity(m_settings.VorkastGraphicType, m_settings.SeriesColor[0]);
}

void TMainForm::GraphicsMenuClick(int tag)
{
    m_settings.VorkastGraphicType = static_cast<std::uint8_t>(tag);
    if (tag >= 0 && tag < static_cast<int>(QuantityActions.size()))
        QuantityActions[tag]->setChecked(true);
    ShowVorkastGraphic();
    SettingsChanged();
}

void TMainForm::ParamStringGridMouseUp(Qt::MouseButton button)
{
    if (button != Qt::LeftButton)
        return;
    TMsrResult msr;
    if (m_dataModule.ReadMsrResult(msr) == 0) {
        TSetParamForm form(this);
        form.SetCementMass(msr.CementMass);
        form.SetCementGrade(msr.ExpCementGrade);
        form.SetSupplier(msr.Supplier);
        form.SetConcretionTime(msr.ConcretionTime);
        if (form.exec() == QDialog::Accepted) {
            msr.CementMass = form.GetCementMass();
            msr.ExpCementGrade = form.GetCementGrade();
            msr.Supplier = form.GetSupplier();
            msr.ConcretionTime = form.GetConcretionTime();
            m_dataModule.WriteMsrResult(msr);
            ShowResult();
        }
    }
    MainDBGridFocus();
}

void TMainForm::MainDBGridCurrentChanged(int row)
{
    MainDBGridResize();
    QItemSelectionModel* selection = m_mainDBGrid->selectionModel();
    if (row < 0) {
        selection->clear();
        return;
    }
    const QModelIndex index = m_resultModel->index(row, 0);
    if (selection->currentIndex().row() != row || !selection->isRowSelected(row, {})) {
        const QSignalBlocker blocker(selection);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_mainDBGrid->viewport()->update();
    }
    // After a reset the view lays its rows out only when the event loop next runs; until
    // then its scroll range is the old one and scrolling to a new row would stop short.
    m_mainDBGrid->doItemsLayout();
    m_mainDBGrid->scrollTo(index);
}

void TMainForm::MainDBGridResize()
{
    // The number column takes what the two date columns leave; a model reset would give
    // it its default width back, so this runs after each one as well.
    QHeaderView* header = m_mainDBGrid->horizontalHeader();
    const int rest = m_mainDBGrid->viewport()->width() - header->sectionSize(0) - header->sectionSize(1);
    header->resizeSection(2, std::max(rest, header->minimumSectionSize()));
}

void TMainForm::MainDBGridFocus()
{
    if (m_mainDBGrid->isVisible() && m_mainDBGrid->isEnabled())
        m_mainDBGrid->setFocus();
}

// ---- feature commands --------------------------------------------------------------------------

void TMainForm::ReadFromDeviceActionExecute()
{
    if (!USBDeviceAttached()) {
        ShowErrorMessage(QStringLiteral("Прибор не подключен!"));
        return;
    }
    // A comment being typed belongs to the row it was typed on, before any record is added.
    m_dataModule.PostEdits();
    TArrayOfMsrResult results;
    bool success = false;
    std::int32_t resultCode = -1;
    {
        TDownloadForm form(this);
        form.RunDownloadThread(results);
        form.exec();
        // After Release, so a worker that never ended counts as a failure.
        form.Release();
        success = form.Success();
        resultCode = form.ResultCode();
    }
    if (!success) {
        results.clear();
        if (resultCode != 0)
            ShowErrorMessage(QStringLiteral("Ошибка связи ")
                + QString::number(static_cast<std::uint32_t>(resultCode), 16)
                      .toUpper()
                      .rightJustified(8, QLatin1Char('0')));
        MainDBGridFocus();
        return;
    }
    const int inDevice = static_cast<int>(results.size());
    int added = 0;
    if (!results.empty()) {
        added = m_dataModule.StoreMsrResults(results);
        if (m_dataModule.OnShowResult)
            m_dataModule.OnShowResult(m_dataModule.ResultDataSet());
    }
    TDownloadSummaryForm summary(this);
    summary.SetResultsInDeviceMemory(inDevice);
    summary.SetResultsAddedToProject(added);
    summary.exec();
    results.clear();
    MainDBGridFocus();
}

void TMainForm::PrintReportActionExecute()
{
    bool accepted = false;
    {
        TSelectReportTypeForm form(this);
        form.SetAllRecords(false);
        accepted = form.exec() == QDialog::Accepted;
        m_reportAllRecords = form.AllRecords();
    }
    if (accepted) {
        // Each sheet is read when shown or painted; the modal preview keeps the store still.
        const auto sheets = std::make_shared<const TStoreReportSheets>(m_dataModule, m_reportAllRecords);
        if (sheets->Count() > 0) {
            TReportPreviewForm preview(this, sheets, m_settings.SeriesColor[0]);
            preview.exec();
        }
    }
    MainDBGridFocus();
}

void TMainForm::ExportActionExecute()
{
    ::ExportActionExecute(this, m_dataModule, m_projectsPath);
}

void TMainForm::ScreenShotActionExecute()
{
    ::ScreenShotActionExecute(this, m_settings.PenColor, m_settings.BackgroundColor, m_paths.PictureFolder);
    SettingsChanged();
}

void TMainForm::ColorsActionExecute()
{
    TSetColorsForm form(this);
    form.SetColors(std::vector<std::uint32_t>(m_settings.SeriesColor.begin(), m_settings.SeriesColor.end()));
    if (form.exec() != QDialog::Accepted)
        return;
    const std::vector<std::uint32_t> colors = form.Colors();
    for (std::size_t c = 0; c < m_settings.SeriesColor.size() && c < colors.size(); ++c)
        m_settings.SeriesColor[c] = colors[c];
    ShowVorkastGraphic();
    SettingsChanged();
}

void TMainForm::ViewTableActionExecute(int tag)
{
    TViewTableForm form(this);
    form.SetTableKind(ViewTableKindOfTag(tag));
    form.exec();
}
