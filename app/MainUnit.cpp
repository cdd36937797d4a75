#include "app/MainUnit.h"

#include "analysis/JournalPage.h"
#include "app/DBControls.h"
#include "app/HelpWindow.h"
#include "app/HistoryWindow.h"
#include "app/IniFile.h"
#include "app/OperatorDialogs.h"
#include "app/ResultTableModel.h"
#include "app/SamplePanel.h"
#include "app/ServerDialogs.h"
#include "compute/Activity.h"
#include "compute/ReferenceTables.h"
#include "compute/ResultText.h"
#include "compute/ViewTableUnit.h"
#include "device/DeviceScreenShotUnit.h"
#include "device/DownloadSummaryUnit.h"
#include "device/DownloadUnit.h"
#include "device/USB.h"
#include "output/ExportUnit.h"
#include "output/ReportCommand.h"
#include "output/ReportPreviewUnit.h"
#include "output/SelectReportTypeUnit.h"
#include "settings/AboutUnit.h"
#include "settings/LaboratoryUnit.h"
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
// The chart's width and the comment panel's height as the window first shows them.
constexpr int kChartWidth = 456;
constexpr int kChartMinWidth = 350;
constexpr int kCommentHeight = 196;

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

// "Запись № 7 от 12.03.2026 10:15", from what the row holds.
QString RecordTitle(const TValue& number, const TValue& date)
{
    QString name = QStringLiteral("Запись");
    if (const auto* n = std::get_if<std::int64_t>(&number))
        name += QStringLiteral(" № %1").arg(*n);
    if (const auto* d = std::get_if<TDateTime>(&date))
        name += QStringLiteral(" от ")
            + OleDateToDateTime(d->Value).toString(QStringLiteral("dd.MM.yyyy hh:mm"));
    return name;
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
    // A small screen (or a large scale factor) never gets a window taller or wider than it.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() : QSize(kWindowWidth, kWindowHeight);
    resize(QSize(kWindowWidth, kWindowHeight).boundedTo(room));
    setMinimumSize(QSize(kWindowWidth, kWindowMinHeight).boundedTo(room));
    CreateActions();
    CreateMenu();
    CreateToolBar();
    CreateClientArea();
    CreateStatusBar();
    FormCreate();
    RestoreGeometry();
}

TMainForm::~TMainForm()
{
    m_enablingActive = false;
    m_dataModule.OnShowResult = nullptr;
    m_dataModule.ResultDataSet().RemoveListener(this);
    m_dataModule.DescriptionDataSet().RemoveListener(this);
    // The children go first, while this is still a whole main window: their last events
    // (a memo losing the focus, a resize) must not reach a half-destroyed one.
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
        {&SaveProjectAsAction, "SaveProjectAsAction", "Сохранить как...", "Сохранить как",
            "Записать проект со всеми изменениями в новый файл и продолжить работу в нём", "save",
            &TMainForm::SaveProjectAsActionExecute},
        {&UndoAction, "UndoAction", "Отменить", "Отменить", "Отменить последнее несохранённое изменение",
            "cancelchanges", &TMainForm::UndoActionExecute},
        {&DeleteRecordAction, "DeleteRecordAction", "Удалить запись", "Удалить запись",
            "Удалить текущую запись (до сохранения это можно отменить)", "delete",
            &TMainForm::DeleteRecordActionExecute},
        {&EditParamsAction, "EditParamsAction", "Параметры записи...", "Параметры записи",
            "Изменить массу цемента, марку, поставщика и длительность твердения", "",
            &TMainForm::EditParamsActionExecute},
        {&HelpAction, "HelpAction", "Справка", "Справка", "Как работать с программой", "about",
            &TMainForm::HelpActionExecute},
        {&LaboratoryAction, "LaboratoryAction", "Лаборатория...", "Лаборатория",
            "Название, адрес и аттестат лаборатории, подписи протоколов", "",
            &TMainForm::LaboratoryActionExecute},
    };
    for (const TEntry& entry : entries) {
        auto* action = new QAction(
            *entry.Icon ? QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(entry.Icon))) : QIcon(),
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
    // Moving through the records from anywhere in the window, as the navigator does.
    struct TMove
    {
        QAction** Action;
        const char* Name;
        const char* Caption;
        const char* Icon;
        void (TCachedDataSet::*Move)();
    };
    const TMove moves[] = {
        {&FirstRecordAction, "FirstRecordAction", "Первая запись", "first", &TCachedDataSet::First},
        {&PriorRecordAction, "PriorRecordAction", "Предыдущая запись", "prior", &TCachedDataSet::Prior},
        {&NextRecordAction, "NextRecordAction", "Следующая запись", "next", &TCachedDataSet::Next},
        {&LastRecordAction, "LastRecordAction", "Последняя запись", "last", &TCachedDataSet::Last},
    };
    for (const TMove& move : moves) {
        auto* action = new QAction(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(move.Icon))),
            QString::fromUtf8(move.Caption), this);
        action->setObjectName(QLatin1String(move.Name));
        action->setStatusTip(action->text());
        const auto step = move.Move;
        connect(action, &QAction::triggered, this, [this, step] {
            RunCommand([this, step] {
                TCachedDataSet& ds = m_dataModule.ResultDataSet();
                if (ds.Active())
                    (ds.*step)();
            });
            CommandDone();
        });
        *move.Action = action;
    }

    // The pages of a project.
    struct TPage
    {
        QAction** Action;
        const char* Name;
        const char* Caption;
        int Index;
    };
    const TPage pages[] = {
        {&DescriptionPageAction, "DescriptionPageAction", "Описание проекта", 0},
        {&DataPageAction, "DataPageAction", "Данные", 1},
        {&JournalPageAction, "JournalPageAction", "Журнал", 2},
    };
    for (const TPage& page : pages) {
        auto* action = new QAction(QString::fromUtf8(page.Caption), this);
        action->setObjectName(QLatin1String(page.Name));
        action->setStatusTip(QStringLiteral("Перейти на страницу «%1»").arg(action->text()));
        const int index = page.Index;
        connect(action, &QAction::triggered, this, [this, index] {
            if (m_pageControl && index < m_pageControl->count()) {
                m_pageControl->setCurrentIndex(index);
                if (QWidget* page = m_pageControl->currentWidget())
                    page->setFocus();
                if (index == 1)
                    MainDBGridFocus();
            }
        });
        *page.Action = action;
    }

    static const char* const kQuantityNames[] = {"VolumeTimeAction", "VolumeTimeNormAction",
        "TemperatureTimeAction", "ResistanceTimeAction", "Temperature2TimeAction"};
    static const char* const kQuantityCaptions[] = {"Контракция ΔVCo3(t)", "Контракция на 1000 г ΔV1K3(t)",
        "Температура T(t)", "Сопротивление R(t)", "Температура среды Tc(t)"};
    static const char* const kQuantityHints[] = {"ΔVCo3(t): контракция пробы в колбе, мл",
        "ΔV1K3(t): контракция, пересчитанная на 1000 г цемента, мл", "T(t): температура пробы, °С",
        "R(t): электрическое сопротивление пробы, Ом", "Tc(t): вторая температура (среды), °С"};
    m_quantityGroup = new QActionGroup(this);
    m_quantityGroup->setExclusive(true);
    for (int tag = 0; tag < static_cast<int>(QuantityActions.size()); ++tag) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(kQuantityNames[tag]));
        action->setCheckable(true);
        action->setData(tag);
        action->setIcon(QIcon(QuantityPicture(tag)));
        action->setText(QString::fromUtf8(kQuantityCaptions[tag]));
        action->setToolTip(QString::fromUtf8(kQuantityHints[tag]));
        action->setStatusTip(QString::fromUtf8(kQuantityHints[tag]));
        m_quantityGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, tag] {
            RunCommand([this, tag] { GraphicsMenuClick(tag); });
            CommandDone();
        });
        QuantityActions[tag] = action;
    }
    SetShortcuts();
}

void TMainForm::SetShortcuts()
{
    // The menu entries of Ctrl+N, Ctrl+O and Ctrl+S hold those keys themselves; every other
    // key belongs to its command, which the window holds, so it works wherever the focus is.
    // A text field keeps the keys it edits with (Delete, Ctrl+Z, Ctrl+Home ...) for itself.
    const std::pair<QAction*, QKeySequence> keys[] = {
        {SaveProjectAction, QKeySequence(Qt::CTRL | Qt::Key_R)},
        {SaveProjectAsAction, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
        {CloseProjectAction, QKeySequence(Qt::CTRL | Qt::Key_W)},
        {ExitApplicationAction, QKeySequence(Qt::CTRL | Qt::Key_E)},
        {PrintReportAction, QKeySequence(Qt::CTRL | Qt::Key_P)},
        {ExportAction, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)},
        {UndoAction, QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {EditParamsAction, QKeySequence(Qt::Key_F2)},
        {DeleteRecordAction, QKeySequence(Qt::Key_Delete)},
        {FirstRecordAction, QKeySequence(Qt::CTRL | Qt::Key_Home)},
        {PriorRecordAction, QKeySequence(Qt::CTRL | Qt::Key_Up)},
        {NextRecordAction, QKeySequence(Qt::CTRL | Qt::Key_Down)},
        {LastRecordAction, QKeySequence(Qt::CTRL | Qt::Key_End)},
        {DescriptionPageAction, QKeySequence(Qt::CTRL | Qt::Key_1)},
        {DataPageAction, QKeySequence(Qt::CTRL | Qt::Key_2)},
        {JournalPageAction, QKeySequence(Qt::CTRL | Qt::Key_J)},
        {ReadFromDeviceAction, QKeySequence(Qt::CTRL | Qt::Key_D)},
        {ScreenShotAction, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D)},
        {HelpAction, QKeySequence(Qt::Key_F1)},
    };
    for (const auto& [action, key] : keys) {
        action->setShortcut(key);
        addAction(action);
    }
    for (int tag = 0; tag < static_cast<int>(QuantityActions.size()); ++tag) {
        QuantityActions[tag]->setShortcut(QKeySequence(Qt::ALT | static_cast<Qt::Key>(Qt::Key_1 + tag)));
        addAction(QuantityActions[tag]);
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
        const auto follow = [entry, command, shown = shortcut.isEmpty()] {
            entry->setEnabled(command->isEnabled());
            QString text = command->text();
            if (shown && !command->shortcut().isEmpty())
                text += QLatin1Char('\t') + command->shortcut().toString(QKeySequence::NativeText);
            if (entry->text() != text)
                entry->setText(text);
        };
        follow();
        connect(command, &QAction::changed, entry, follow);
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
    addEntry(file, "SaveAsMenuItem", SaveProjectAsAction);
    addEntry(file, "RefreshMenuItem", RefreshProjectAction, QKeySequence(Qt::Key_F5));
    addEntry(file, "CloseMenuItem", CloseProjectAction);
    file->addSeparator();
    addEntry(file, "PrintMenuItem", PrintReportAction);
    addEntry(file, "ExportMenuItem", ExportAction);
    file->addSeparator();
    addEntry(file, "ExitMenuItem", ExitApplicationAction);

    QMenu* edit = addMenu("N4", "Правка");
    addEntry(edit, "UndoMenuItem", UndoAction);
    addEntry(edit, "N7", CancelChangesAction);
    edit->addSeparator();
    addEntry(edit, "EditParamsMenuItem", EditParamsAction);
    addEntry(edit, "DeviceValuesMenuItem", DeviceValuesAction);
    addEntry(edit, "HistoryMenuItem", HistoryAction, QKeySequence(Qt::CTRL | Qt::Key_H));
    edit->addSeparator();
    addEntry(edit, "DeleteRecordMenuItem", DeleteRecordAction);
    addEntry(edit, "DeleteAllMenuItem", DeleteAllRecordsAction);

    QMenu* view = addMenu("ViewMenuItem", "Вид");
    addEntry(view, "DescriptionPageMenuItem", DescriptionPageAction);
    addEntry(view, "DataPageMenuItem", DataPageAction);
    addEntry(view, "JournalPageMenuItem", JournalPageAction);
    view->addSeparator();
    addEntry(view, "FirstRecordMenuItem", FirstRecordAction);
    addEntry(view, "PriorRecordMenuItem", PriorRecordAction);
    addEntry(view, "NextRecordMenuItem", NextRecordAction);
    addEntry(view, "LastRecordMenuItem", LastRecordAction);
    view->addSeparator();
    // The quantities themselves, so the menu shows which one is drawn.
    for (QAction* quantity : QuantityActions)
        view->addAction(quantity);
    view->addSeparator();
    QAction* colours
        = addItem(view, "GraphicsColorsMenuItem", "Цвета графиков...", "colors", "Цвета", "Установить цвета");
    connect(colours, &QAction::triggered, this, [this] { RunCommand([this] { ColorsActionExecute(); }); });
    addEntry(view, "LaboratoryMenuItem", LaboratoryAction);

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
    addEntry(help, "HelpMenuItem", HelpAction);
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
    // The chart takes what a larger window gives; the results panel stays as wide as its texts.
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({kWindowWidth - kChartWidth - 4, kChartWidth});
    splitter->installEventFilter(this);
    m_dataSplitter = splitter;
    dataLayout->addWidget(splitter);
    m_pageControl->addTab(data, QStringLiteral("Данные"));

    auto* journal = new TJournalPage(m_dataModule, m_pageControl);
    journal->setObjectName(QStringLiteral("JournalTabSheet"));
    connect(journal, &TJournalPage::RecordChosen, this, [this](int row) {
        RunCommand([this, row] {
            TCachedDataSet& ds = m_dataModule.ResultDataSet();
            if (ds.Active() && row >= 0 && row < ds.RecordCount())
                ds.SetRecNo(row + 1);
        });
        m_pageControl->setCurrentIndex(1);
        MainDBGridFocus();
        CommandDone();
    });
    m_pageControl->addTab(journal, QStringLiteral("Журнал"));
    m_journalPage = journal;
    // Beside the page tabs, where it takes no height from the list.
    m_pageControl->setCornerWidget(m_resultDBNavigator, Qt::TopRightCorner);

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
    // Each column as wide as its texts; what the operator drags them to is kept.
    m_listColumnWidths.assign(static_cast<std::size_t>(m_resultModel->columnCount()), 12 * charWidth + 6);
    m_listColumnWidths[0] = 10 * charWidth + 6;
    m_listColumnWidths[1] = 8 * charWidth + 6;
    m_listColumnWidths[2] = std::max(7 * charWidth + 6,
        m_mainDBGrid->fontMetrics().horizontalAdvance(m_resultModel->headerData(2, Qt::Horizontal).toString())
            + 16);
    try {
        const TIniFile ini(m_paths.SettingsFile.toStdString());
        for (std::size_t column = 0; column < m_listColumnWidths.size(); ++column) {
            const int width = ini.ReadInteger("ResultList", "Width" + std::to_string(column), 0);
            if (width >= 8 && width <= 2000)
                m_listColumnWidths[column] = width;
        }
    } catch (const std::exception&) {
        // An unreadable settings file leaves the widths as the texts need them.
    }
    m_mainDBGrid->horizontalHeader()->setStretchLastSection(false);
    connect(m_mainDBGrid->horizontalHeader(), &QHeaderView::sectionResized, this,
        [this](int column, int, int width) {
            // A hidden column reports 0; it keeps the width it is shown with again.
            if (!m_applyingListWidths && width > 0 && column >= 0
                && column < static_cast<int>(m_listColumnWidths.size()))
                m_listColumnWidths[static_cast<std::size_t>(column)] = width;
        });
    // A reset gives every column the default width back; the list's own are put back after it.
    connect(m_resultModel, &QAbstractItemModel::modelAboutToBeReset, this,
        [this] { m_applyingListWidths = true; });
    connect(m_resultModel, &QAbstractItemModel::modelReset, this, [this] {
        m_applyingListWidths = false;
        MainDBGridResize();
    });
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
    for (int column = TResultTableModel::kFixedColumns; column < m_resultModel->columnCount(); ++column)
        m_mainDBGrid->setColumnHidden(column, !(shown & (1 << (column - TResultTableModel::kFixedColumns))));
    MainDBGridResize();
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
    auto* bottomLayout = new QVBoxLayout(commentPanel);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    // The comment and the sample share the panel as two pages: side by side they would not
    // fit under a chart of the window's first width without cutting the sample's captions.
    m_commentTabs = new QTabWidget(commentPanel);
    m_commentTabs->setObjectName(QStringLiteral("CommentTabs"));
    m_commentTabs->setDocumentMode(true);
    bottomLayout->addWidget(m_commentTabs);
    auto* commentPage = new QWidget(m_commentTabs);
    auto* commentLayout = new QVBoxLayout(commentPage);
    commentLayout->setContentsMargins(2, 2, 2, 2);
    commentLayout->setSpacing(2);
    m_commentDBMemo = new TDBMemo(commentPage);
    m_commentDBMemo->setObjectName(QStringLiteral("CommentDBMemo"));
    m_commentDBMemo->Bind(
        m_dataModule.ResultDataSet(), [this] { return m_dataModule.GetMeasureComment(); },
        [this](const std::string& text) { m_dataModule.SetMeasureComment(text); });
    connect(
        m_commentDBMemo, &TDBMemo::Exit, this, [this] { RunCommand([this] { m_dataModule.PostEdits(); }); });
    connect(m_commentDBMemo, &QPlainTextEdit::textChanged, this, &TMainForm::ActionListUpdate);
    commentLayout->addWidget(m_commentDBMemo, 1);
    m_commentTabs->addTab(commentPage, QStringLiteral("Комментарий"));
    m_samplePanel = new TSamplePanel(m_dataModule, m_commentTabs);
    connect(m_samplePanel, &TSamplePanel::Exit, this, [this] {
        RunCommand([this] {
            m_dataModule.PostEdits();
            ShowResult();
        });
    });
    m_commentTabs->addTab(m_samplePanel, QStringLiteral("Проба"));

    splitter->addWidget(m_graphicPageControl);
    splitter->addWidget(commentPanel);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({kWindowHeight - kCommentHeight, kCommentHeight});
    m_chartSplitter = splitter;
    splitter->installEventFilter(this);
    layout->addWidget(splitter);
    return panel;
}

void TMainForm::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(true);
    static const int kWidths[] = {0, 125, 150};
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        if (i == 0) {
            // The first panel takes the width the others leave, whatever its text: a long
            // hint is cut at the second panel instead of running under it.
            panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            bar->addWidget(panel, 1);
        } else {
            panel->setFixedWidth(kWidths[i]);
            panel->setFrameShape(QFrame::Panel);
            panel->setFrameShadow(QFrame::Sunken);
            bar->addPermanentWidget(panel);
        }
        m_statusPanels[i] = panel;
    }
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
        if (watched == m_gridPanel)
            GridPanelResize();
        else if (watched == m_dataSplitter && !m_dataSplitterArranged)
            ArrangeDataSplitter();
        else if (watched == m_chartSplitter && !m_chartSplitterArranged)
            ArrangeChartSplitter();
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

int TMainForm::GridPanelNeededWidth() const
{
    // Every supplier's text and whatever the grids show now: the panel need not change
    // width from one record to the next.
    QStringList params;
    TMsrResult probe;
    for (std::uint32_t supplier = 0; supplier < kSupplierCount; ++supplier) {
        probe.Supplier = supplier;
        params << Utf8(GetParamTexts(probe, DecimalSeparator())[4]);
    }
    QStringList details{QStringLiteral("> 0%10,052").arg(QString::fromStdString(DecimalSeparator()))};
    for (int row = 0; row < m_paramStringGrid->rowCount(); ++row)
        params << m_paramStringGrid->Value(row);
    for (int row = 0; row < m_detailsStringGrid->rowCount(); ++row)
        details << m_detailsStringGrid->Value(row);
    const QHeaderView* header = m_mainDBGrid->horizontalHeader();
    const int list = header->length() + m_mainDBGrid->verticalHeader()->width()
        + 2 * m_mainDBGrid->frameWidth() + m_mainDBGrid->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    // The parameters' column 1 is the panel's width less column 0 and 8 pixels.
    return std::max({list, m_paramStringGrid->WidthFor(params) + 8 - 2 * m_paramStringGrid->frameWidth() - 2,
        m_detailsStringGrid->WidthFor(details)});
}

void TMainForm::ArrangeDataSplitter()
{
    const int total = m_dataSplitter->width() - m_dataSplitter->handleWidth();
    if (total <= 0)
        return;
    m_dataSplitterArranged = true;
    // The chart keeps its drawn width where the texts leave it that, and never less than its minimum.
    const int wanted = m_keptGridPanelWidth > 0 ? m_keptGridPanelWidth : GridPanelNeededWidth();
    const int grid = std::max(1, std::min(wanted, total - kChartMinWidth));
    m_dataSplitter->setSizes({grid, total - grid});
}

void TMainForm::ArrangeChartSplitter()
{
    const int height = m_chartSplitter->height() - m_chartSplitter->handleWidth();
    if (height <= 100)
        return;
    m_chartSplitterArranged = true;
    if (m_keptCommentHeight <= 0)
        return;
    const int comment = std::clamp(m_keptCommentHeight, 50, height - 50);
    m_chartSplitter->setSizes({height - comment, comment});
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
    RunCommand([this] {
        SaveSettings();
        SaveGeometry();
    });
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
    SaveProjectAsAction->setEnabled(open);
    DeleteRecordAction->setEnabled(records);
    EditParamsAction->setEnabled(records);
    const TCachedDataSet& ds = m_dataModule.ResultDataSet();
    const int recNo = records ? ds.RecNo() : 0;
    const int count = records ? ds.RecordCount() : 0;
    FirstRecordAction->setEnabled(recNo > 1);
    PriorRecordAction->setEnabled(recNo > 1);
    NextRecordAction->setEnabled(recNo < count);
    LastRecordAction->setEnabled(recNo < count);
    DescriptionPageAction->setEnabled(open);
    DataPageAction->setEnabled(open);
    JournalPageAction->setEnabled(open && m_journalPage);
    // The command names what it would take back.
    const bool canUndo = open && m_dataModule.CanUndo();
    UndoAction->setEnabled(canUndo);
    const QString undoText = canUndo
        ? QStringLiteral("Отменить: ") + QString::fromStdString(m_dataModule.UndoText())
        : QStringLiteral("Отменить");
    if (UndoAction->text() != undoText)
        UndoAction->setText(undoText);
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

namespace {

const char* const kWindowSection = "MainWindow";
const char* const kSplitterSection = "Splitters";

} // namespace

void TMainForm::RestoreGeometry()
{
    std::int32_t left = 0, top = 0, width = 0, height = 0, maximized = 0;
    try {
        const TIniFile ini(m_paths.SettingsFile.toStdString());
        left = ini.ReadInteger(kWindowSection, "Left", 0);
        top = ini.ReadInteger(kWindowSection, "Top", 0);
        width = ini.ReadInteger(kWindowSection, "Width", 0);
        height = ini.ReadInteger(kWindowSection, "Height", 0);
        maximized = ini.ReadInteger(kWindowSection, "Maximized", 0);
        m_keptGridPanelWidth = std::max(0, ini.ReadInteger(kSplitterSection, "GridPanelWidth", 0));
        m_keptCommentHeight = std::max(0, ini.ReadInteger(kSplitterSection, "CommentPanelHeight", 0));
    } catch (const std::exception&) {
        // An unreadable settings file: the window as it first comes.
    }
    if (width <= 0 || height <= 0) {
        CentreOnScreen(*this);
        return;
    }
    // Within the screen it was on, or the main one when that screen is gone.
    const QRect kept(left, top, std::max(width, minimumWidth()), std::max(height, minimumHeight()));
    const QScreen* screen = QGuiApplication::screenAt(kept.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : kept;
    QRect frame = kept;
    frame.setWidth(std::min(frame.width(), std::max(minimumWidth(), area.width())));
    frame.setHeight(std::min(frame.height(), std::max(minimumHeight(), area.height())));
    if (!area.contains(frame.center()))
        frame.moveCenter(area.center());
    resize(frame.size());
    move(frame.topLeft());
    if (maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TMainForm::SaveGeometry()
{
    if (!m_paths.BesideProgram)
        QDir().mkpath(QFileInfo(m_paths.SettingsFile).absolutePath());
    TIniFile ini(m_paths.SettingsFile.toStdString());
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    ini.WriteInteger(kWindowSection, "Left", normal.x());
    ini.WriteInteger(kWindowSection, "Top", normal.y());
    ini.WriteInteger(kWindowSection, "Width", normal.width());
    ini.WriteInteger(kWindowSection, "Height", normal.height());
    ini.WriteInteger(kWindowSection, "Maximized", isMaximized() ? 1 : 0);
    // Only what the operator could have seen; a project never opened leaves the file's values.
    if (m_dataSplitterArranged)
        ini.WriteInteger(kSplitterSection, "GridPanelWidth", m_dataSplitter->sizes().value(0));
    if (m_chartSplitterArranged)
        ini.WriteInteger(kSplitterSection, "CommentPanelHeight", m_chartSplitter->sizes().value(1));
    for (std::size_t column = 0; column < m_listColumnWidths.size(); ++column)
        ini.WriteInteger("ResultList", "Width" + std::to_string(column), m_listColumnWidths[column]);
    ini.UpdateFile();
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

QString TMainForm::AskNewProjectFile(const QString& title, const QString& suggested)
{
    TFileDialogOptions options;
    options.Title = title;
    options.Directory = m_projectsPath;
    options.FileName = suggested;
    options.Filter = QStringLiteral("Файлы проектов (*.fdb) (*.fdb)");
    options.DefaultSuffix = QStringLiteral("fdb");
    options.ConfirmOverwrite = true;
    const QString path = OperatorDialogs().SaveFileName(options);
    if (path.isEmpty())
        return path;
    // The dialog refuses a missing folder; this one may have gone since.
    if (const QString problem = SaveFolderProblem(path); !problem.isEmpty()) {
        ShowErrorMessage(problem);
        return QString();
    }
    return path;
}

void TMainForm::CreateNewProjectActionExecute()
{
    if (!CloseBeforeAnotherProject())
        return;
    const QString path = AskNewProjectFile(QStringLiteral("Новый проект"), QString());
    if (path.isEmpty())
        return;
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
        if (values.size() != results.FieldCount())
            return QStringLiteral("Описание проекта");
        return RecordTitle(
            values[results.FieldIndex("MEASURE_NUMBER")], values[results.FieldIndex("MEASURE_DATE")]);
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
    ShowStoreAgain();
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

int TMainForm::PendingChangeCount() const
{
    int count = 0;
    for (const TCachedDataSet* ds : {&m_dataModule.ResultDataSet(), &m_dataModule.DescriptionDataSet()}) {
        if (!ds->Active())
            continue;
        ds->ForEachChange(
            [&count](TUpdateStatus, const std::vector<TValue>&, const std::vector<TValue>&) { ++count; });
        if (ds->State() == TDataSetState::Edit || ds->State() == TDataSetState::Insert)
            ++count;
    }
    return count;
}

void TMainForm::ShowStoreAgain()
{
    if (m_dataModule.OnShowResult)
        m_dataModule.OnShowResult(m_dataModule.ResultDataSet());
    m_commentDBMemo->Reload();
    m_descriptionDBMemo->Reload();
    m_samplePanel->Reload();
    MainDBGridCurrentChanged(m_resultModel->CurrentRow());
}

void TMainForm::CancelChangesActionExecute()
{
    // One change is easily made again; more are asked about, as they may be an hour's work.
    const int changes = PendingChangeCount();
    if (changes > 1
        && AskQuestion(QStringLiteral("Отменить все несохранённые изменения проекта (%1)?\r"
                                      "Вернуть их будет нельзя.")
                           .arg(changes),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes)
        return;
    m_dataModule.CancelChanges();
    ShowStoreAgain();
}

void TMainForm::UndoActionExecute()
{
    const QString what = QString::fromStdString(m_dataModule.UndoText());
    if (!m_dataModule.Undo())
        return;
    ShowStoreAgain();
    ApplicationEventsHint(QStringLiteral("Отменено: ") + what);
}

void TMainForm::DeleteRecordActionExecute()
{
    TCachedDataSet& ds = m_dataModule.ResultDataSet();
    if (!ds.Active() || ds.IsEmpty())
        return;
    m_dataModule.PostEdits();
    const QString record
        = RecordTitle(ds.Field(ds.FieldIndex("MEASURE_NUMBER")), ds.Field(ds.FieldIndex("MEASURE_DATE")));
    if (AskQuestion(QStringLiteral("Удалить запись из проекта?\r") + record
                + QStringLiteral(
                    "\r\rДо сохранения удаление можно отменить: «Правка» → «Отменить» (Ctrl+Z)."),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return;
    ds.Delete();
    ShowStoreAgain();
    ApplicationEventsHint(record + QStringLiteral(" удалена"));
}

void TMainForm::EditParamsActionExecute()
{
    ParamStringGridMouseUp(Qt::LeftButton);
}

void TMainForm::SaveProjectAsActionExecute()
{
    m_dataModule.PostEdits();
    const bool server = m_dataModule.Target().IsServer();
    const QString path = AskNewProjectFile(
        QStringLiteral("Сохранить проект как"), server ? QString() : FileNamePart(m_projectName));
    if (path.isEmpty())
        return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QString shown = QDir::toNativeSeparators(absolute);
    // The project's own file: the engine holds it open, so this is a plain save.
    if (!server && absolute == QFileInfo(m_projectName).absoluteFilePath()) {
        SaveProjectActionExecute();
        return;
    }
    // A file the operator agreed to replace is replaced only by a complete copy.
    if (!m_dataModule.SaveProjectAs(absolute.toStdString())) {
        ShowErrorMessage(QStringLiteral("Не удалось сохранить проект в файл %1!\r").arg(shown)
            + QString::fromStdString(m_dataModule.LastError()));
        return;
    }
    SetProjectName(absolute);
    ApplicationEventsHint(QStringLiteral("Проект сохранён в файл ") + shown);
}

void TMainForm::LaboratoryActionExecute()
{
    if (ShowLaboratoryDialog(this, m_paths.SettingsFile))
        ApplicationEventsHint(QStringLiteral("Сведения о лаборатории сохранены"));
}

void TMainForm::HelpActionExecute()
{
    if (!m_helpWindow)
        m_helpWindow = new THelpWindow(this);
    m_helpWindow->ShowSection();
}

void TMainForm::DeleteAllRecordsActionExecute()
{
    if (AskQuestion(QStringLiteral("Удалить все записи из проекта?"), QMessageBox::Yes | QMessageBox::No,
            QMessageBox::No)
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
    QHeaderView* header = m_mainDBGrid->horizontalHeader();
    m_applyingListWidths = true;
    for (int column = 0; column < header->count() && column < static_cast<int>(m_listColumnWidths.size());
         ++column)
        if (header->sectionSize(column) != m_listColumnWidths[static_cast<std::size_t>(column)]
            && !header->isSectionHidden(column))
            header->resizeSection(column, m_listColumnWidths[static_cast<std::size_t>(column)]);
    m_applyingListWidths = false;
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
    TReportCommandSettings report;
    report.Color = m_settings.SeriesColor[0];
    report.SettingsFile = m_paths.SettingsFile;
    report.ProjectsFolder = m_projectsPath;
    report.LabProtocol = m_reportLabProtocol;
    report.Saved = [this](const QString& path) {
        ApplicationEventsHint(QStringLiteral("Отчёт записан в файл ") + QDir::toNativeSeparators(path));
    };
    PrintReportCommand(this, m_dataModule, report);
    m_reportAllRecords = report.AllRecords;
    m_reportLabProtocol = report.LabProtocol;
    MainDBGridFocus();
}

void TMainForm::ExportActionExecute()
{
    TMsrResult msr;
    if (m_dataModule.ReadMsrResult(msr) != 0)
        throw std::runtime_error("Данные текущего измерения не читаются, файл не записан");
    // The project's name and the measurement's number, so a day's exports do not overwrite
    // one another.
    const QString project = m_dataModule.Target().IsServer() ? QStringLiteral("export")
                                                             : QFileInfo(m_projectName).completeBaseName();
    TFileDialogOptions options;
    options.Title = QStringLiteral("Экспорт данных в .txt");
    options.Directory = m_projectsPath;
    options.FileName = QStringLiteral("%1_%2.txt").arg(project).arg(msr.MeasureNumber);
    options.Filter = QStringLiteral("Файлы (.txt) (*.txt)");
    options.DefaultSuffix = QStringLiteral("txt");
    options.ConfirmOverwrite = true;
    const QString path = OperatorDialogs().SaveFileName(options);
    if (path.isEmpty())
        return;
    WriteExportFile(path, msr, QLocale::system().decimalPoint().toStdString());
    ApplicationEventsHint(QStringLiteral("Экспорт записан в файл ")
        + QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
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
