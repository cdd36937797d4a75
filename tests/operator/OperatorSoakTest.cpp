// The random operator: from a seed, drives the real main window over real project files,
// with the instrument simulator (faults included) behind the USB link and every dialog
// answered by the script, and after each step checks what the operator sees against the
// store, and what reopens against a model of what was last saved.
//
// A failure names the seed, the step and the last actions; a crash or a sanitizer report
// prints the same through a handler, so any run can be replayed with
//   CEMENTLAB_SOAK_SEED=<seed> CEMENTLAB_SOAK_STEPS=<steps> OperatorSoakTests
//   --gtest_filter=OperatorSoak.Soak

#include "tests/ui/ScriptedDialogs.h"

#include "app/DBControls.h"
#include "app/MainUnit.h"
#include "app/ServerDialogs.h"
#include "compute/ResultText.h"
#include "compute/ViewTableUnit.h"
#include "device/DeviceScreenShotUnit.h"
#include "device/DownloadSummaryUnit.h"
#include "device/DownloadUnit.h"
#include "device/InstrumentSimulator.h"
#include "device/USB.h"
#include "output/ReportPreviewUnit.h"
#include "output/SelectReportTypeUnit.h"
#include "settings/AboutUnit.h"
#include "settings/SetColorsUnit.h"
#include "store/Cp1251.h"
#include "store/MainDataModuleUnit.h"
#include "tests/support/TempDir.h"
#include "view/ResultGrids.h"
#include "view/SetParamUnit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <csignal>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <sstream>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// ---- the trail a crash prints ------------------------------------------------------------------

// Kept formatted, so a signal handler only has to write it out.
char g_trail[8192];
std::atomic<std::size_t> g_trailLength{0};
std::atomic<std::uint64_t> g_progress{0};

void WriteTrail()
{
    const std::size_t length = g_trailLength.load();
    if (length != 0 && write(STDERR_FILENO, g_trail, length) < 0)
        return;
}

extern "C" void CrashHandler(int signal)
{
    WriteTrail();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

QtMessageHandler g_qtMessages = nullptr;

// The offscreen platform says at every dialog that it cannot raise windows.
void QtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (g_qtMessages && !text.startsWith(QLatin1String("This plugin does not support")))
        g_qtMessages(type, context, text);
}

// Once per process: the crash trail, the filter of the platform's chatter, the watchdog.
void InstallCrashReport()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    g_qtMessages = qInstallMessageHandler(QtMessage);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers own the fatal signals and call this once their report is out. The
    // undefined-behaviour runtime is a library of its own with its own callback.
    __sanitizer_set_death_callback(WriteTrail);
    if (void* ubsan = dlopen("libubsan.so.1", RTLD_NOW | RTLD_NOLOAD))
        if (auto set = reinterpret_cast<void (*)(void (*)())>(dlsym(ubsan, "__sanitizer_set_death_callback")))
            set(WriteTrail);
#else
    for (int signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL})
        std::signal(signal, CrashHandler);
#endif
    // A step that never ends (a frozen window, a dialog nobody closes) ends the run with the trail.
    std::thread([] {
        std::uint64_t last = g_progress.load();
        int still = 0;
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const std::uint64_t now = g_progress.load();
            still = now == last && g_trailLength.load() != 0 ? still + 1 : 0;
            last = now;
            if (still == 120) {
                const char text[] = "\nOPERATOR SOAK: no step ended for 120 s\n";
                if (write(STDERR_FILENO, text, sizeof text - 1) >= 0)
                    WriteTrail();
                std::abort();
            }
        }
    }).detach();
}

// ---- what a project file holds -----------------------------------------------------------------

struct TSavedRow
{
    std::int64_t Key = 0;
    std::int64_t Date = 0; // engine ticks: the store keeps finer values in memory
    std::int64_t Time = 0;
    std::int64_t Number = 0;
    std::string Data;
    std::string Comment;
    bool operator==(const TSavedRow&) const = default;
};

struct TSavedProject
{
    std::string Description;
    std::vector<TSavedRow> Rows; // by key
    bool operator==(const TSavedProject&) const = default;
};

std::string Text(const TValue& value)
{
    const auto* text = std::get_if<std::string>(&value);
    return text ? *text : std::string();
}

std::int64_t Integer(const TValue& value)
{
    if (const auto* date = std::get_if<TDateTime>(&value))
        return OleDateToTimestampTicks(date->Value);
    const auto* number = std::get_if<std::int64_t>(&value);
    return number ? *number : -1;
}

// The project as a save would write it now: edits in progress count as posted.
TSavedProject Snapshot(const TMainDataModule& store)
{
    TSavedProject project;
    const TCachedDataSet& ds = store.ResultDataSet();
    if (!ds.Active())
        return project;
    auto value = [&ds](int row, const char* field) -> const TValue& {
        const std::size_t index = ds.FieldIndex(field);
        return row + 1 == ds.RecNo() ? ds.Field(index) : ds.RowField(row, index);
    };
    for (int row = 0; row < ds.RecordCount(); ++row)
        project.Rows.push_back(
            {Integer(value(row, "MEASURE_RESULT_TABLE_PK")), Integer(value(row, "MEASURE_DATE")),
                Integer(value(row, "MEASURE_TIME")), Integer(value(row, "MEASURE_NUMBER")),
                Text(value(row, "MEASURE_DATA")), Text(value(row, "MEASURE_COMMENT"))});
    std::sort(project.Rows.begin(), project.Rows.end(),
        [](const TSavedRow& a, const TSavedRow& b) { return a.Key < b.Key; });
    const TCachedDataSet& description = store.DescriptionDataSet();
    if (description.Active() && !description.IsEmpty())
        project.Description = Text(description.Field("PROJECT_DESCRIPTION"));
    return project;
}

std::string Short(const std::string& text)
{
    return text.size() <= 160 ? text
                              : text.substr(0, 120) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string Describe(const TSavedProject& project)
{
    std::ostringstream out;
    out << project.Rows.size() << " rows, description " << project.Description.size() << " bytes:";
    for (const TSavedRow& row : project.Rows)
        out << " [key " << row.Key << " no " << row.Number << " at " << row.Date << " data "
            << std::hash<std::string>()(row.Data) % 100000 << " comment '" << Short(Cp1251ToUtf8(row.Comment))
            << "']";
    return out.str();
}

// What a memo holds, as the store would keep it. A memo that keeps the text's own line
// breaks says so through Text(); the plain editor's text only knows LF.
template <typename TMemo> std::string Stored(const TMemo& memo)
{
    if constexpr (requires { memo.Text(); })
        return Utf8ToCp1251(memo.Text().toStdString());
    else
        return Utf8ToCp1251(memo.toPlainText().toStdString());
}

template <typename TMemo> std::string Stored(const TMemo&, std::string text)
{
    if constexpr (!requires(const TMemo& memo) { memo.Text(); }) {
        text = QString::fromStdString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")).toStdString();
        std::replace(text.begin(), text.end(), '\r', '\n');
    }
    return Utf8ToCp1251(text);
}

const QString kCloseQuestion = QStringLiteral("Сохранить изменеия в проекте\r");
const QString kDeleteQuestion = QStringLiteral("Удалить все записи из проекта?");
const QString kDeleteRecordQuestion = QStringLiteral("Удалить запись из проекта?");
const QString kCancelQuestion = QStringLiteral("Отменить все несохранённые изменения");

// The scripted dialogs, answering the two questions as this step decided.
class TSoakDialogs : public TScriptedDialogs
{
public:
    QMessageBox::StandardButton CloseAnswer = QMessageBox::Cancel;
    QMessageBox::StandardButton DeleteAnswer = QMessageBox::No;
    QMessageBox::StandardButton CancelAnswer = QMessageBox::No;

    QMessageBox::StandardButton Message(const QString& caption, const QString& text, QMessageBox::Icon icon,
        QMessageBox::StandardButtons buttons) override
    {
        const QMessageBox::StandardButton answer = TScriptedDialogs::Message(caption, text, icon, buttons);
        if (text.startsWith(kCloseQuestion))
            return CloseAnswer;
        if (text == kDeleteQuestion || text.startsWith(kDeleteRecordQuestion))
            return DeleteAnswer;
        if (text.startsWith(kCancelQuestion))
            return CancelAnswer;
        return answer;
    }
};

// What one step plans for the windows it may open; drawn before the step, so a replay draws
// the same numbers whatever the windows do.
struct TPlan
{
    bool Accept = false;
    int Choice = 0;
    int CancelDownloadAfterMs = -1;
    bool SaveReport = false;
    std::vector<int> Clicks; // buttons of the window pressed before it is closed
    QString MassText;
    int Grade = 0;
    int Supplier = 0;
    int Concretion = 0;
};

struct TSeenSummary
{
    bool Shown = false;
    int InDevice = -1;
    int Added = -1;
};

struct TParamExpectation
{
    bool Applied = false;
    std::uint32_t Mass = 0;
    std::uint32_t Grade = 0;
    std::uint32_t Supplier = 0;
    std::int32_t Concretion = 0;
};

// ---- one run of the operator -------------------------------------------------------------------

class TOperatorRun
{
public:
    explicit TOperatorRun(std::uint64_t seed)
        : m_seed(seed)
        , m_random(seed)
    {
        InstallCrashReport();
        auto dialogs = std::make_unique<TSoakDialogs>();
        m_dialogs = dialogs.get();
        m_previousDialogs = SetOperatorDialogs(std::move(dialogs));
        StartProgram();
        for (const char* name : {"a.fdb", "b.fdb", "c.fdb"})
            m_projectFiles.push_back(Form()->GetProjectsPath() + QLatin1String(name));
        m_foreignFile = Form()->GetProjectsPath() + QStringLiteral("notes.fdb");
        QFile foreign(m_foreignFile);
        if (foreign.open(QIODevice::WriteOnly))
            foreign.write("not a project");
        m_modalTimer.setInterval(5);
        QObject::connect(&m_modalTimer, &QTimer::timeout, [this] { AnswerModalWindow(); });
        m_modalTimer.start();
        SetServerProjectAsker([this](const QString&, const TProjectTarget&) { return m_serverTarget; });
        BuildActions();
    }

    ~TOperatorRun()
    {
        m_modalTimer.stop();
        SetServerProjectAsker(nullptr);
        m_form.reset();
        m_store.reset();
        USBFinalize();
        SetOperatorDialogs(std::move(m_previousDialogs));
        g_trailLength = 0;
    }

    // Runs `steps` steps; false, with a test failure naming seed, step and trail, at the first fault.
    bool Run(int steps)
    {
        for (m_stepNumber = 0; m_stepNumber < steps; ++m_stepNumber) {
            Step();
            if (!m_failure.empty()) {
                ADD_FAILURE() << "operator soak, seed " << m_seed << ", step " << m_stepNumber << ": "
                              << m_failure << "\nlast actions:\n"
                              << TrailText() << "replay: CEMENTLAB_SOAK_SEED=" << m_seed
                              << " CEMENTLAB_SOAK_STEPS=" << m_stepNumber + 1
                              << " OperatorSoakTests --gtest_filter=OperatorSoak.Soak";
                return false;
            }
            ++g_progress;
        }
        return true;
    }

private:
    struct TAction
    {
        const char* Name;
        int Weight;
        std::function<void()> Run;
    };

    TMainForm* Form() const { return m_form.get(); }
    TMainDataModule& Store() const { return *m_store; }

    int Pick(int n) { return static_cast<int>(m_random() % static_cast<std::uint64_t>(n)); }
    bool Chance(int percent) { return Pick(100) < percent; }
    template <typename T> T OneOf(std::initializer_list<T> items)
    {
        return items.begin()[Pick(items.size())];
    }

    void Fail(const std::string& what)
    {
        if (m_failure.empty())
            m_failure = what;
    }

    // Details of the step in progress go to the trail at once: a crash prints them.
    void Note(const std::string& text)
    {
        m_trail.back() += text;
        UpdateTrailBuffer();
    }

    // ---- program start and end -----------------------------------------------------------------

    void StartProgram()
    {
        m_form.reset();
        m_simulator = std::make_shared<TInstrumentSimulator>();
        m_instrument = 0;
        m_store.reset();
        m_store = std::make_unique<TMainDataModule>();
        m_form = std::make_unique<TMainForm>(
            *m_store, QString::fromStdString(m_dir.File("cement-lab")), m_simulator);
        m_form->show();
        m_form->activateWindow();
    }

    // ---- the actions ---------------------------------------------------------------------------

    QMessageBox::StandardButton CloseAnswer()
    {
        m_dialogs->CloseAnswer = OneOf({QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel});
        Note(std::string(" answer ")
            + (m_dialogs->CloseAnswer == QMessageBox::Yes       ? "Да"
                    : m_dialogs->CloseAnswer == QMessageBox::No ? "Нет"
                                                                : "Отмена"));
        m_closing = true;
        return m_dialogs->CloseAnswer;
    }

    QString FileName(const QString& path) const { return QFileInfo(path).fileName(); }

    void BuildActions()
    {
        m_actions = {
            // A new project file costs the engine most of a second: made seldom.
            {"create", 1,
                [this] {
                    CloseAnswer();
                    m_chosenFile = Chance(10) ? QString() : m_projectFiles[Pick(3)];
                    Note(" file " + FileName(m_chosenFile).toStdString());
                    m_dialogs->Files.push_back(m_chosenFile);
                    Form()->CreateNewProjectAction->trigger();
                    m_opened = m_chosenFile;
                    m_created = true;
                }},
            {"open", 4,
                [this] {
                    CloseAnswer();
                    const int which = Pick(25);
                    m_chosenFile = which < 21 ? m_projectFiles[which % 3]
                        : which < 23          ? m_foreignFile
                        : which == 23         ? Form()->GetProjectsPath() + QStringLiteral("missing.fdb")
                                              : QString();
                    // A project file not made yet: one that is.
                    if (which < 21 && !m_saved.empty() && !m_saved.count(m_chosenFile))
                        m_chosenFile = std::next(m_saved.begin(), which % m_saved.size())->first;
                    Note(" file " + FileName(m_chosenFile).toStdString());
                    if (!m_chosenFile.isEmpty() && !m_saved.count(m_chosenFile))
                        m_allowed << QStringLiteral("Не удалось открыть проект!");
                    m_dialogs->Files.push_back(m_chosenFile);
                    Form()->OpenProjectAction->trigger();
                    m_opened = m_chosenFile;
                }},
            // There is no server here: the operator cancels the form, or the connection is refused.
            {"server", 1,
                [this] {
                    CloseAnswer();
                    const bool create = Chance(50);
                    const bool cancel = Chance(40);
                    m_serverTarget = cancel
                        ? std::optional<TProjectTarget>()
                        : ServerProject("127.0.0.1", "1", "/cement/lab.fdb", "SYSDBA", "soak");
                    Note(std::string(create ? " create" : " open") + (cancel ? ", form cancelled" : ""));
                    m_allowed << (create ? QStringLiteral("Не удалось создать проект!\r")
                                         : QStringLiteral("Не удалось открыть проект!\r"));
                    (create ? Form()->CreateServerProjectAction : Form()->OpenServerProjectAction)->trigger();
                }},
            {"refresh", 2,
                [this] {
                    const bool key = Chance(50) && QApplication::activeWindow() == Form();
                    Note(key ? " F5" : " button");
                    if (key)
                        QTest::keyClick(Form(), Qt::Key_F5);
                    else
                        Form()->RefreshProjectAction->trigger();
                }},
            {"close", 2,
                [this] {
                    CloseAnswer();
                    Form()->CloseProjectAction->trigger();
                }},
            {"exit", 1,
                [this] {
                    CloseAnswer();
                    Form()->ExitApplicationAction->trigger();
                }},
            {"window close", 1,
                [this] {
                    CloseAnswer();
                    Form()->close();
                }},
            {"save", 6,
                [this] {
                    const int way = Pick(3);
                    Note(way == 0 ? " Ctrl+R" : way == 1 ? " Ctrl+S" : " button");
                    if (way < 2 && QApplication::activeWindow() == Form())
                        QTest::keyClick(Form(), way == 0 ? Qt::Key_R : Qt::Key_S, Qt::ControlModifier);
                    else
                        Form()->SaveProjectAction->trigger();
                }},
            {"cancel changes", 2,
                [this] {
                    m_dialogs->CancelAnswer = Chance(70) ? QMessageBox::Yes : QMessageBox::No;
                    Note(m_dialogs->CancelAnswer == QMessageBox::Yes ? " answer Да" : " answer Нет");
                    Form()->CancelChangesAction->trigger();
                }},
            {"undo", 3,
                [this] {
                    const bool key = Chance(50) && QApplication::activeWindow() == Form();
                    Note(key ? " Ctrl+Z on the list" : " menu");
                    if (key) {
                        Form()->PageControl()->setCurrentIndex(1);
                        Form()->MainDBGrid()->setFocus();
                        QTest::keyClick(Form()->MainDBGrid(), Qt::Key_Z, Qt::ControlModifier);
                    } else
                        Form()->UndoAction->trigger();
                }},
            {"delete record", 2,
                [this] {
                    m_dialogs->DeleteAnswer = Chance(60) ? QMessageBox::Yes : QMessageBox::No;
                    Note(m_dialogs->DeleteAnswer == QMessageBox::Yes ? " answer Да" : " answer Нет");
                    Form()->DeleteRecordAction->trigger();
                }},
            {"delete all", 1,
                [this] {
                    m_dialogs->DeleteAnswer = Chance(50) ? QMessageBox::Yes : QMessageBox::No;
                    Note(m_dialogs->DeleteAnswer == QMessageBox::Yes ? " answer Да" : " answer Нет");
                    Form()->DeleteAllRecordsAction->trigger();
                }},
            {"plug", 5, [this] { Plug(); }},
            {"unplug", 1,
                [this] {
                    m_simulator->Unplug(m_instrument);
                    m_instrument = 0;
                }},
            {"download", 12, [this] { Download(); }},
            {"report", 2,
                [this] {
                    m_plan.Accept = Chance(80);
                    m_plan.Choice = Pick(Store().GetRecordCount() <= 6 ? 2 : 1);
                    m_plan.SaveReport = Chance(15);
                    for (int i = Pick(4); i > 0; --i)
                        m_plan.Clicks.push_back(Pick(100));
                    if (m_plan.SaveReport)
                        m_dialogs->Files.push_back(QString::fromStdString(m_dir.File("report.pdf")));
                    Note(std::string(m_plan.Accept ? " shown" : " refused") + (m_plan.Choice ? ", all" : "")
                        + (m_plan.SaveReport ? ", saved" : ""));
                    Form()->PrintReportAction->trigger();
                }},
            {"export", 2,
                [this] {
                    m_chosenFile = Chance(20) ? QString() : QString::fromStdString(m_dir.File("export.txt"));
                    if (!m_chosenFile.isEmpty())
                        QFile::remove(m_chosenFile);
                    m_dialogs->Files.push_back(m_chosenFile);
                    const bool enabled = Form()->ExportAction->isEnabled();
                    Form()->ExportAction->trigger();
                    if (enabled && !m_chosenFile.isEmpty() && !QFile::exists(m_chosenFile))
                        Fail("the export wrote no file");
                }},
            {"screenshot", 1,
                [this] {
                    m_plan.Accept = Chance(60);
                    m_plan.Choice = Pick(6);
                    Note(m_plan.Accept ? " read" : "");
                    if (!USBDeviceAttached() || m_flawed)
                        m_allowed << QStringLiteral("Ошибка связи с прибором!");
                    Form()->ScreenShotAction->trigger();
                }},
            {"colours", 1,
                [this] {
                    m_plan.Accept = Chance(50);
                    m_plan.Choice = Pick(16);
                    Form()->findChild<QAction*>("GraphicsColorsMenuItem")->trigger();
                }},
            {"table", 1, [this] { Form()->findChild<QAction*>(Chance(50) ? "N11" : "N12")->trigger(); }},
            {"about", 1, [this] { Form()->findChild<QAction*>("AboutMenuItem")->trigger(); }},
            {"navigator", 8,
                [this] {
                    const auto buttons
                        = Form()->findChild<TDBNavigator*>("ResultDBNavigator")->findChildren<QToolButton*>();
                    QToolButton* button = buttons[Pick(buttons.size())];
                    Note(" " + button->objectName().toStdString());
                    button->click();
                }},
            {"quantity", 2,
                [this] {
                    const int tag = Pick(5);
                    Note(" " + std::to_string(tag));
                    const bool enabled = Form()->QuantityActions[tag]->isEnabled();
                    Form()->QuantityActions[tag]->trigger();
                    if (enabled
                        && (Form()->Settings().VorkastGraphicType != tag
                            || !Form()->QuantityActions[tag]->isChecked()))
                        Fail("the quantity pressed is not the one shown");
                }},
            {"list", 6, [this] { MoveInTheList(); }},
            {"type comment", 6,
                [this] {
                    Form()->PageControl()->setCurrentIndex(1);
                    Type(Form()->CommentDBMemo());
                }},
            {"type description", 3,
                [this] {
                    Form()->PageControl()->setCurrentIndex(0);
                    Type(Form()->DescriptionDBMemo());
                }},
            {"paste", 1,
                [this] {
                    const bool comment = Chance(50);
                    TDBMemo* memo = comment ? Form()->CommentDBMemo() : Form()->DescriptionDBMemo();
                    Form()->PageControl()->setCurrentIndex(comment ? 1 : 0);
                    const int kind = Pick(3);
                    const QString text = kind == 0 ? QString(2000 + Pick(8000), QChar(u'ж'))
                        : kind == 1 ? QStringLiteral("строка\r\n").repeated(50 + Pick(500))
                                    : QStringLiteral("a\rb\nc\r\nd");
                    Note(std::string(comment ? " comment, " : " description, ") + std::to_string(text.size())
                        + (kind == 0        ? " characters on one line"
                                : kind == 1 ? " characters of CR LF lines"
                                            : " mixed breaks"));
                    QGuiApplication::clipboard()->setText(text);
                    memo->setFocus();
                    SendKey(memo, Qt::Key_V, Qt::ControlModifier);
                }},
            {"focus to the list", 3,
                [this] {
                    Form()->PageControl()->setCurrentIndex(1);
                    Form()->MainDBGrid()->setFocus();
                }},
            {"parameters", 4, [this] { EditParameters(); }},
            {"page", 2,
                [this] {
                    const int page = Pick(2);
                    Note(page ? " Данные" : " Описание");
                    Form()->PageControl()->setCurrentIndex(page);
                }},
        };
        for (const TAction& action : m_actions)
            m_totalWeight += action.Weight;
    }

    void Plug()
    {
        m_simulator->Unplug(m_instrument);
        const int count = Pick(7);
        const bool realistic = Chance(8);
        TSimulatedInstrument instrument = realistic
            ? MakeRealisticInstrument(count, static_cast<std::uint32_t>(m_random()))
            : MakeQuickInstrument(count);
        // Numbers from an offset: later instruments hold some records the project has and some it has not.
        const int offset = Pick(20);
        for (TSimulatedMeasurement& measurement : instrument.Measurements)
            measurement.Header.MeasureNumber += offset;
        const std::uint32_t exchange = Pick(3 + 2 * count + 2);
        const int fault = Pick(140);
        std::ostringstream note;
        note << " " << count << (realistic ? " realistic" : " quick") << " records from " << offset + 1;
        auto inject = [&](TSimulatorFault kind, std::size_t bytes, const char* name) {
            instrument.Faults.push_back({exchange, kind, bytes});
            note << ", " << name << " at exchange " << exchange;
        };
        if (fault < 8)
            inject(TSimulatorFault::TransferError, 0, "transfer error");
        else if (fault < 14)
            inject(TSimulatorFault::ShortReply, Pick(20), "short reply");
        else if (fault < 18)
            inject(TSimulatorFault::LongReply, 1 + Pick(8), "long reply");
        else if (fault < 23)
            inject(TSimulatorFault::Unplug, 0, "unplug");
        else if (fault < 24)
            inject(TSimulatorFault::Timeout, 0, "time-out"); // costs the link's 2 s
        else if (fault < 26) {
            instrument.Name = "CEMENT-VORKAST-2.0";
            note << ", wrong name";
        } else if (fault < 28) {
            instrument.RecordCount = count + 1;
            note << ", counts one record more";
        }
        if (Chance(20)) {
            instrument.TransferDelay = std::chrono::microseconds(500 + Pick(2000));
            note << ", slow";
        }
        m_flawed = fault < 28;
        m_expectedInDevice = instrument.RecordCount.value_or(count);
        m_instrument = m_simulator->Plug(std::move(instrument));
        Note(note.str());
    }

    void Download()
    {
        m_plan.CancelDownloadAfterMs = Chance(12) ? Pick(15) : -1;
        if (m_plan.CancelDownloadAfterMs >= 0)
            Note(" cancelled after " + std::to_string(m_plan.CancelDownloadAfterMs) + " ms");
        const bool attached = USBDeviceAttached();
        if (!attached)
            m_allowed << QStringLiteral("Прибор не подключен!");
        else if (m_flawed || m_plan.CancelDownloadAfterMs >= 0)
            m_allowed << QStringLiteral("Ошибка связи ");
        const int before = Store().GetRecordCount();
        const bool open = Store().IsProjectOpen();
        Form()->ReadFromDeviceAction->trigger();
        if (m_summary.Shown) {
            if (m_summary.InDevice != m_expectedInDevice)
                Fail("the summary counts " + std::to_string(m_summary.InDevice)
                    + " records in the instrument, " + std::to_string(m_expectedInDevice) + " were there");
            if (m_summary.Added != Store().GetRecordCount() - before)
                Fail("the summary says " + std::to_string(m_summary.Added) + " added, the list grew by "
                    + std::to_string(Store().GetRecordCount() - before));
            if (m_summary.Added > 0 && Store().ResultDataSet().RecNo() != Store().GetRecordCount())
                Fail("after a download the last record is not the current one");
        } else if (open && attached && !m_flawed && m_plan.CancelDownloadAfterMs < 0)
            Fail("a sound instrument was read without a summary");
    }

    void MoveInTheList()
    {
        QTableView* list = Form()->MainDBGrid();
        const int rows = list->model()->rowCount();
        Form()->PageControl()->setCurrentIndex(1);
        if (rows > 0 && Chance(60)) {
            const int row = Pick(rows);
            Note(" row " + std::to_string(row + 1));
            list->setCurrentIndex(list->model()->index(row, Pick(3)));
            return;
        }
        const Qt::Key key = OneOf({Qt::Key_Down, Qt::Key_Up, Qt::Key_Home, Qt::Key_End, Qt::Key_PageDown});
        Note(" key " + QKeySequence(key).toString().toStdString());
        QTest::keyClick(list, key);
    }

    void SendKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers, const QString& text = {})
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
        QApplication::sendEvent(widget, &release);
    }

    void Type(TDBMemo* memo)
    {
        memo->setFocus();
        static const QString kLetters = QStringLiteral(
            "абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЯ  abcdefxyzABC0123456789.,;:-–—№€«»\"'");
        const int kind = Pick(20);
        if (memo->toPlainText().size() > 1500 || kind == 0) {
            Note(" select all, erase");
            SendKey(memo, Qt::Key_A, Qt::ControlModifier);
            SendKey(memo, Qt::Key_Backspace, Qt::NoModifier);
        } else if (kind < 3) {
            Note(" backspace");
            for (int i = Pick(6); i >= 0; --i)
                SendKey(memo, Qt::Key_Backspace, Qt::NoModifier);
        } else if (kind == 3) {
            Note(" undo");
            SendKey(memo, Qt::Key_Z, Qt::ControlModifier);
        } else if (kind == 4) {
            Note(" Enter");
            SendKey(memo, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        } else if (kind == 5) {
            Note(" Tab");
            SendKey(memo, Qt::Key_Tab, Qt::NoModifier);
        } else {
            QString text;
            for (int i = 1 + Pick(12); i > 0; --i) {
                const int c = Pick(200);
                // A character Windows-1251 cannot hold now and then: it is kept as '?'.
                text += c == 0 ? QStringLiteral("漢")
                    : c == 1   ? QStringLiteral("😀")
                               : QString(kLetters[c % kLetters.size()]);
            }
            Note(" \"" + text.toStdString() + "\"");
            for (const QChar ch : text)
                SendKey(memo, 0, Qt::NoModifier, QString(ch));
        }
    }

    void EditParameters()
    {
        m_plan.Accept = Chance(70);
        m_plan.MassText = OneOf({QStringLiteral(""), QStringLiteral("?"), QStringLiteral("0"),
            QStringLiteral("412"), QStringLiteral("4294967295"), QStringLiteral("4294967296"),
            QStringLiteral("-5"), QStringLiteral("12a"), QString::number(1 + Pick(999))});
        m_plan.Grade = Pick(8);
        m_plan.Supplier = Pick(9) - 1;
        m_plan.Concretion = Pick(7);
        const bool left = Chance(90);
        Note(std::string(left ? " left" : " right") + " click, mass '" + m_plan.MassText.toStdString()
            + "' grade " + std::to_string(m_plan.Grade) + " supplier " + std::to_string(m_plan.Supplier)
            + " time item " + std::to_string(m_plan.Concretion)
            + (m_plan.Accept ? ", Применить" : ", Отмена"));
        const Qt::MouseButton button = left ? Qt::LeftButton : Qt::RightButton;
        QWidget* grid = Form()->ParamStringGrid()->viewport();
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(10, 10), grid->mapToGlobal(QPointF(10, 10)),
            button, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(grid, &release);
        if (!m_param.Applied)
            return;
        TMsrResult msr;
        const TCachedDataSet& ds = Store().ResultDataSet();
        if (ds.IsEmpty() || DecodeMsrResult(Text(ds.Field("MEASURE_DATA")), msr) != 0)
            Fail("the parameters were applied to no readable record");
        else if (msr.CementMass != m_param.Mass || msr.ExpCementGrade != m_param.Grade
            || msr.Supplier != m_param.Supplier || msr.ConcretionTime != m_param.Concretion)
            Fail("the record does not hold the parameters applied: mass " + std::to_string(msr.CementMass)
                + " grade " + std::to_string(msr.ExpCementGrade) + " supplier " + std::to_string(msr.Supplier)
                + " days " + std::to_string(msr.ConcretionTime) + ", expected " + std::to_string(m_param.Mass)
                + " " + std::to_string(m_param.Grade) + " " + std::to_string(m_param.Supplier) + " "
                + std::to_string(m_param.Concretion));
    }

    // ---- the windows the actions open ----------------------------------------------------------

    // Runs every few milliseconds, also inside the window's modal loops.
    void AnswerModalWindow()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto* download = qobject_cast<TDownloadForm*>(modal)) {
            if (!m_downloadShown.isValid())
                m_downloadShown.start();
            const qint64 elapsed = m_downloadShown.elapsed();
            if (m_plan.CancelDownloadAfterMs >= 0 && elapsed >= m_plan.CancelDownloadAfterMs) {
                m_plan.CancelDownloadAfterMs = 1 << 30; // once
                download->CancelButton()->click();
            } else if (elapsed > 30000) {
                Fail("the download window stayed open for 30 s");
                download->CancelButton()->click();
            }
        } else if (auto* summary = qobject_cast<TDownloadSummaryForm*>(modal)) {
            m_summary = {true, summary->ResultsInDeviceMemoryLabel()->text().toInt(),
                summary->ResultsAddedToProjectLabel()->text().toInt()};
            summary->CloseButton()->click();
        } else if (auto* type = qobject_cast<TSelectReportTypeForm*>(modal)) {
            (m_plan.Choice ? type->AllRecordsRadioButton() : type->CurrentRecordRadioButton())
                ->setChecked(true);
            m_plan.Accept ? type->accept() : type->reject();
        } else if (auto* preview = qobject_cast<TReportPreviewForm*>(modal)) {
            if (preview->PageCount() < 1)
                Fail("an empty report was shown");
            // Paging and zoom; printing would need a printer, saving is planned on its own.
            auto buttons = preview->findChildren<QPushButton*>();
            buttons.removeIf([](QPushButton* button) {
                return button->objectName() == QLatin1String("PrintButton")
                    || button->objectName() == QLatin1String("SaveButton")
                    || button->objectName() == QLatin1String("CloseButton");
            });
            for (int click : m_plan.Clicks)
                if (!buttons.isEmpty())
                    buttons[click % buttons.size()]->click();
            if (m_plan.SaveReport)
                preview->findChild<QPushButton*>("SaveButton")->click();
            preview->accept();
        } else if (auto* screen = qobject_cast<TDeviceScreenShotForm*>(modal)) {
            if (m_plan.Accept)
                screen->GetPictureButton()->click();
            screen->PenColorComboBox()->setCurrentIndex(m_plan.Choice % screen->PenColorComboBox()->count());
            screen->CloseButton()->click();
        } else if (auto* colours = qobject_cast<TSetColorsForm*>(modal)) {
            colours->ColorComboBox()->setCurrentIndex(m_plan.Choice % colours->ColorComboBox()->count());
            (m_plan.Accept ? colours->ApplyButton() : colours->CancelButton())->click();
        } else if (auto* params = qobject_cast<TSetParamForm*>(modal)) {
            params->CementMassEdit()->setText(m_plan.MassText);
            params->CementGradeComboBox()->setCurrentIndex(m_plan.Grade);
            params->SupplierComboBox()->setCurrentIndex(
                std::min(m_plan.Supplier, params->SupplierComboBox()->count() - 1));
            params->ConcretionTimeComboBox()->setCurrentIndex(
                m_plan.Concretion % params->ConcretionTimeComboBox()->count());
            if (m_plan.Accept)
                m_param = {true, params->GetCementMass(), params->GetCementGrade(), params->GetSupplier(),
                    params->GetConcretionTime()};
            (m_plan.Accept ? params->ApplyButton() : params->CancelButton())->click();
        } else if (qobject_cast<TViewTableForm*>(modal) || qobject_cast<TAboutForm*>(modal)) {
            modal->close();
        } else if (qobject_cast<QProgressDialog*>(modal)) {
            // A long report's progress: it ends on its own.
        } else {
            Fail(std::string("a window nobody expected: ") + modal->metaObject()->className() + " \""
                + modal->windowTitle().toStdString() + "\"");
            modal->close();
        }
    }

    // ---- one step ------------------------------------------------------------------------------

    void Step()
    {
        std::size_t index = 0;
        for (int weight = Pick(m_totalWeight); weight >= m_actions[index].Weight; ++index)
            weight -= m_actions[index].Weight;
        // With no project file yet, the operator makes one; with none open, mostly opens one.
        if (m_saved.empty())
            index = 0;
        else if (!Store().IsProjectOpen() && Chance(60))
            index = 1;
        const TAction* action = &m_actions[index];

        const bool wasOpen = Store().IsProjectOpen();
        const QString openFile = wasOpen ? Form()->GetProjectName() : QString();
        const bool hadChanges = wasOpen && Store().HasChanges();
        const TSavedProject before = Snapshot(Store());
        m_allowed.clear();
        m_closing = false;
        m_opened.clear();
        m_created = false;
        m_plan = TPlan{};
        m_summary = TSeenSummary{};
        m_param = TParamExpectation{};
        m_downloadShown.invalidate();
        m_dialogs->Messages.clear();
        m_dialogs->CloseAnswer = QMessageBox::Cancel;
        m_dialogs->DeleteAnswer = QMessageBox::No;
        m_dialogs->CancelAnswer = QMessageBox::No;
        PushTrail(std::to_string(m_stepNumber) + " " + action->Name);
        action->Run();
        m_dialogs->Files.clear();
        Idle();
        Check(*action, wasOpen, openFile, hadChanges, before);
        if (!Form()->isVisible()) {
            // The window closed: the program ends, with it the store, and is started again.
            if (Store().IsProjectOpen() && Store().HasChanges())
                Fail("the window closed over unsaved changes");
            StartProgram();
            Idle();
        }
    }

    // Lets the event loop wait once, as it does between two clicks of the operator.
    void Idle()
    {
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // ---- the invariants ------------------------------------------------------------------------

    void Check(const TAction& action, bool wasOpen, const QString& openFile, bool hadChanges,
        const TSavedProject& before)
    {
        const std::string name = action.Name;
        // Every box shown was one this step could show.
        bool asked = false;
        bool errors = false;
        for (const TShownMessage& message : m_dialogs->Messages) {
            if (message.Text.startsWith(kCloseQuestion)) {
                asked = true;
                if (!m_closing)
                    Fail("the close question came from " + name);
                continue;
            }
            if (message.Text == kDeleteQuestion && name == "delete all")
                continue;
            if (message.Text.startsWith(kDeleteRecordQuestion) && name == "delete record")
                continue;
            if (message.Text.startsWith(kCancelQuestion) && name == "cancel changes")
                continue;
            bool allowed = false;
            for (const QString& text : m_allowed)
                allowed = allowed || message.Text.startsWith(text);
            errors = errors || !allowed;
            if (!allowed)
                Fail("a message nobody expected: \"" + message.Text.toStdString() + "\"");
        }
        // An edit that came back to what was saved may close unasked; real work may not.
        const auto saved = m_saved.find(openFile);
        if (m_closing && wasOpen && !asked && saved != m_saved.end() && saved->second != before)
            Fail("unsaved changes were closed without the question\nsaved:  " + Describe(saved->second)
                + "\nclosed: " + Describe(before));
        if (asked && !hadChanges)
            Fail("the close question came with nothing to save");

        // A save writes the project as it stood, edits in progress included, and changes nothing in it.
        if (name == "save" && wasOpen && !errors && !Store().HasChanges() && Snapshot(Store()) != before)
            Fail("the save changed the project\nbefore: " + Describe(before)
                + "\nafter:  " + Describe(Snapshot(Store())));
        // With no other workstation writing, a refresh brings in nothing and keeps what is pending.
        if (name == "refresh" && !errors && Snapshot(Store()) != before)
            Fail("the refresh changed the project\nbefore: " + Describe(before)
                + "\nafter:  " + Describe(Snapshot(Store())));
        // Answering Да saved the project as it stood, edits in progress included.
        if (asked && m_dialogs->CloseAnswer == QMessageBox::Yes && !errors)
            m_saved[openFile] = before;
        const bool open = Store().IsProjectOpen();
        const QString file = open ? Form()->GetProjectName() : QString();
        // Отмена to the question keeps the open project as it was, whatever file was chosen.
        const bool stayed = asked && m_dialogs->CloseAnswer == QMessageBox::Cancel;
        // A new project is empty, also over a file that held one.
        if (m_created && open && file == m_opened && !stayed)
            m_saved[file] = TSavedProject{};
        if (!m_opened.isEmpty() && m_saved.count(m_opened) && !stayed && !errors && file != m_opened)
            Fail("a saved project did not open");
        if (open && !m_opened.isEmpty() && file == m_opened && !stayed) {
            const auto saved = m_saved.find(file);
            if (saved == m_saved.end())
                Fail("a file never made opened as a project");
            else if (Snapshot(Store()) != saved->second)
                Fail("what reopened is not what was saved\nsaved:    " + Describe(saved->second)
                    + "\nreopened: " + Describe(Snapshot(Store())));
        }
        if (open && !Store().HasChanges())
            m_saved[file] = Snapshot(Store());

        CheckWindow(open);
    }

    void CheckWindow(bool open)
    {
        TMainForm* form = Form();
        if (!form->isVisible())
            return;
        if (QWidget* modal = QApplication::activeModalWidget())
            Fail(std::string("a window was left open: ") + modal->metaObject()->className());
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window != form && window->isVisible() && qobject_cast<QDialog*>(window))
                Fail(std::string("a dialog was left visible: ") + window->metaObject()->className());

        // The enabling rule, as the idle window shows it.
        const TCachedDataSet& ds = Store().ResultDataSet();
        const bool changes = open && Store().HasChanges();
        const bool records = open && !ds.IsEmpty();
        const std::pair<QAction*, bool> rule[] = {{form->SaveProjectAction, changes},
            {form->CancelChangesAction, changes}, {form->CloseProjectAction, open},
            {form->DeleteAllRecordsAction, records}, {form->PrintReportAction, records},
            {form->ExportAction, records}, {form->ReadFromDeviceAction, open},
            {form->CreateNewProjectAction, true}, {form->OpenProjectAction, true},
            {form->QuantityActions[0], records}, {form->RefreshProjectAction, open}};
        for (const auto& [action, enabled] : rule)
            if (action->isEnabled() != enabled)
                Fail(action->objectName().toStdString() + (enabled ? " is disabled" : " is enabled")
                    + " (open " + std::to_string(open) + ", changes " + std::to_string(changes) + ", records "
                    + std::to_string(ds.RecordCount()) + ")");
        if (form->CommentDBMemo()->isEnabled() != records)
            Fail(std::string("the comment memo is ") + (records ? "disabled" : "enabled"));

        // The navigator follows the dataset.
        const int recNo = open ? ds.RecNo() : 0;
        const int count = open ? ds.RecordCount() : 0;
        const bool editing = ds.State() == TDataSetState::Edit || ds.State() == TDataSetState::Insert;
        auto* navigator = form->findChild<TDBNavigator*>("ResultDBNavigator");
        const std::pair<TDBNavigator::TButton, bool> buttons[]
            = {{TDBNavigator::nbFirst, recNo > 1}, {TDBNavigator::nbPrior, recNo > 1},
                {TDBNavigator::nbNext, recNo < count}, {TDBNavigator::nbLast, recNo < count},
                {TDBNavigator::nbDelete, count > 0}, {TDBNavigator::nbPost, editing}};
        for (const auto& [button, enabled] : buttons)
            if (navigator->Button(button)->isEnabled() != enabled)
                Fail("navigator button " + navigator->Button(button)->objectName().toStdString()
                    + (enabled ? " is disabled" : " is enabled") + " at row " + std::to_string(recNo) + " of "
                    + std::to_string(count));

        // The list shows the dataset and highlights its current row.
        QTableView* list = form->MainDBGrid();
        if (list->model()->rowCount() != count)
            Fail("the list has " + std::to_string(list->model()->rowCount()) + " rows, the store "
                + std::to_string(count));
        else if (count > 0
            && (list->currentIndex().row() != recNo - 1
                || !list->selectionModel()->isRowSelected(recNo - 1, {})))
            Fail("the list's current row is " + std::to_string(list->currentIndex().row() + 1)
                + ", the store's " + std::to_string(recNo));
        else if (count > 0 && list->isVisible()
            && !list->viewport()->rect().intersects(list->visualRect(list->model()->index(recNo - 1, 0))))
            Fail("the list's current row " + std::to_string(recNo) + " of " + std::to_string(count)
                + " is out of sight");

        // Title and pages.
        if (form->PageControl()->isVisibleTo(form) != open)
            Fail(open ? "the project's pages are hidden" : "the pages show with no project");
        if (form->windowTitle().endsWith(QStringLiteral("]")) != open)
            Fail("the caption is \"" + form->windowTitle().toStdString() + "\"");

        // The grid shows the current record.
        if (ds.State() == TDataSetState::Browse || !open) {
            TMsrResult msr;
            const bool readable = records && DecodeMsrResult(Text(ds.Field("MEASURE_DATA")), msr) == 0;
            const TParamTexts params = GetParamTexts(msr, QLocale::system().decimalPoint().toStdString());
            for (int row = 0; row < static_cast<int>(params.size()); ++row) {
                const QString shown = form->ParamStringGrid()->Value(row);
                const QString expected = readable ? QString::fromStdString(params[row]) : QString();
                if (shown != expected) {
                    Fail("parameter row " + std::to_string(row) + " shows \"" + shown.toStdString()
                        + "\", the record "
                        + (readable ? "holds \"" + expected.toStdString() + "\"" : "is not there"));
                    break;
                }
            }
        }

        // The memos show what the store holds.
        const std::pair<TDBMemo*, std::string> memos[]
            = {{form->CommentDBMemo(), records ? Store().GetMeasureComment() : std::string()},
                {form->DescriptionDBMemo(), open ? Store().GetProjectDescription() : std::string()}};
        for (const auto& [memo, stored] : memos)
            if (Stored(*memo) != Stored(*memo, stored))
                Fail(memo->objectName().toStdString() + " shows \"" + Short(memo->toPlainText().toStdString())
                    + "\", the store holds \"" + Short(stored) + "\"");

        // The link and the simulator agree on the instrument.
        if (m_instrument && !m_simulator->IsPlugged(m_instrument))
            m_instrument = 0;
        if (USBDeviceAttached() != (m_instrument != 0))
            Fail(std::string("the link ") + (USBDeviceAttached() ? "holds an instrument" : "holds none")
                + " while the simulator " + (m_instrument ? "has one plugged" : "has none"));
    }

    // ---- the trail -----------------------------------------------------------------------------

    void PushTrail(const std::string& line)
    {
        m_trail.push_back(line);
        while (m_trail.size() > 20)
            m_trail.pop_front();
        UpdateTrailBuffer();
    }

    std::string TrailText() const
    {
        std::string text;
        for (const std::string& line : m_trail)
            text += "  " + line + "\n";
        return text;
    }

    void UpdateTrailBuffer()
    {
        std::string text = "\nOPERATOR SOAK seed " + std::to_string(m_seed) + ", step "
            + std::to_string(m_stepNumber) + ", last actions:\n" + TrailText();
        if (text.size() > sizeof g_trail)
            text.erase(0, text.size() - sizeof g_trail);
        g_trailLength = 0;
        std::memcpy(g_trail, text.data(), text.size());
        g_trailLength = text.size();
    }

    std::uint64_t m_seed;
    std::mt19937_64 m_random;
    TTempDir m_dir;
    std::unique_ptr<TMainDataModule> m_store;
    std::shared_ptr<TInstrumentSimulator> m_simulator;
    std::unique_ptr<TMainForm> m_form;
    TSoakDialogs* m_dialogs = nullptr;
    std::unique_ptr<TOperatorDialogs> m_previousDialogs;
    QTimer m_modalTimer;

    std::vector<TAction> m_actions;
    int m_totalWeight = 0;
    std::vector<QString> m_projectFiles;
    QString m_foreignFile;
    std::map<QString, TSavedProject> m_saved; // what each project file holds, as last saved

    TUSBDeviceId m_instrument = 0;
    bool m_flawed = false;
    int m_expectedInDevice = 0;

    // The step in progress.
    int m_stepNumber = 0;
    QStringList m_allowed;
    bool m_closing = false;
    QString m_chosenFile;
    std::optional<TProjectTarget> m_serverTarget;
    QString m_opened; // the file an open or create command was given
    bool m_created = false;
    TPlan m_plan;
    TSeenSummary m_summary;
    TParamExpectation m_param;
    QElapsedTimer m_downloadShown;
    std::string m_failure;
    std::deque<std::string> m_trail;
};

std::uint64_t EnvironmentNumber(const char* name)
{
    return QByteArray(qgetenv(name)).toULongLong();
}

} // namespace

// Seeds that CI runs on every change, plain and under the sanitizers.
TEST(OperatorSoak, FixedSeeds)
{
    for (std::uint64_t seed : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) {
        TOperatorRun run(seed);
        if (!run.Run(600))
            return;
    }
}

// A fresh seed from scripts/soak.
TEST(OperatorSoak, Soak)
{
    if (qEnvironmentVariableIsEmpty("CEMENTLAB_SOAK_SEED"))
        GTEST_SKIP() << "CEMENTLAB_SOAK_SEED not set";
    const std::uint64_t steps = qEnvironmentVariableIsEmpty("CEMENTLAB_SOAK_STEPS")
        ? 2000
        : EnvironmentNumber("CEMENTLAB_SOAK_STEPS");
    TOperatorRun run(EnvironmentNumber("CEMENTLAB_SOAK_SEED"));
    run.Run(static_cast<int>(steps));
}
