// The program a signal test ends: the real main window over a real project, with the
// instrument simulator plugged in. It opens the project, comments the first record, reads
// the instrument, leaves one modal window open and says "ready" on stdout; the test then
// sends a signal. The close question is answered from the command line, other message
// boxes are real ones unless unexpected, which are reported and answered with no button.
// After a cancelled question the same modal window is opened again and "ready" said again.
//
//   SignalChild <project> <modal> <answer>...
//     modal: none | summary | message | editor | file | preview (a file dialog over it) | save
//     answer: yes | no | cancel, one per close question
//   "save" saves through the command and closes without any signal: what a saved project holds.
//
// Lines said: "ready", "asked level=<event loops running>", "kept open=<0|1> changes=<0|1>"
// after a cancelled question, "message <text>" for a box not expected, "ended" at the end.
#include "app/Application.h"
#include "app/MainUnit.h"
#include "app/OperatorDialogs.h"
#include "device/DownloadSummaryUnit.h"
#include "device/InstrumentSimulator.h"
#include "device/USB.h"
#include "output/ReportPreviewUnit.h"
#include "output/SelectReportTypeUnit.h"
#include "store/MainDataModuleUnit.h"
#include "view/SetParamUnit.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <string>

namespace {

void Say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

int LoopLevel()
{
    return QThread::currentThread()->loopLevel();
}

class TChildDialogs : public TQtOperatorDialogs
{
public:
    std::deque<QMessageBox::StandardButton> Answers;
    QString ProjectFile;
    QString RealMessage;
    bool CancelAnswered = false;

    QMessageBox::StandardButton Message(const QString& caption, const QString& text, QMessageBox::Icon icon,
        QMessageBox::StandardButtons buttons) override
    {
        if (text.startsWith(QStringLiteral("Сохранить изменеия в проекте"))) {
            Say(QStringLiteral("asked level=%1").arg(LoopLevel()));
            const auto answer = Answers.empty() ? QMessageBox::Cancel : Answers.front();
            if (!Answers.empty())
                Answers.pop_front();
            CancelAnswered = answer == QMessageBox::Cancel;
            return answer;
        }
        if (text == RealMessage)
            return TQtOperatorDialogs::Message(caption, text, icon, buttons);
        Say(QStringLiteral("message ") + QString(text).replace(QLatin1Char('\r'), QLatin1Char(' ')));
        return QMessageBox::NoButton;
    }
    QString OpenFileName(const TFileDialogOptions&) override { return std::exchange(ProjectFile, QString()); }
};

QMessageBox::StandardButton Answer(const std::string& word)
{
    if (word == "yes")
        return QMessageBox::Yes;
    if (word == "no")
        return QMessageBox::No;
    return QMessageBox::Cancel;
}

// Opens the modal window the test asked for once the download's summary has been seen,
// and says "ready" when it is up.
class TScenario : public QObject
{
public:
    TScenario(TMainForm& form, TInstrumentSimulator& simulator, TUSBDeviceId instrument,
        TChildDialogs& dialogs, QString modal)
        : m_form(form)
        , m_simulator(simulator)
        , m_instrument(instrument)
        , m_dialogs(dialogs)
        , m_modal(std::move(modal))
    {
        connect(&m_poll, &QTimer::timeout, this, &TScenario::Poll);
        m_poll.start(10);
        QTimer::singleShot(0, m_form.ReadFromDeviceAction, &QAction::trigger);
    }

private:
    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (m_dialogs.CancelAnswered && !modal && LoopLevel() == 1) {
            m_dialogs.CancelAnswered = false;
            TMainDataModule& data = m_form.DataModule();
            Say(QStringLiteral("kept open=%1 changes=%2")
                    .arg(int(data.IsProjectOpen() && m_form.isVisible()))
                    .arg(int(data.HasChanges())));
            // The program goes on: the same window is opened again for the next signal.
            m_phase = 1;
            m_saveAsked = false;
        }
        switch (m_phase) {
        case 0:
            if (auto* summary = qobject_cast<TDownloadSummaryForm*>(modal)) {
                if (m_modal == QLatin1String("summary")) {
                    Ready();
                } else {
                    summary->accept();
                    m_phase = 1;
                }
            }
            break;
        case 1:
            if (!modal && LoopLevel() == 1) {
                m_phase = 2;
                QTimer::singleShot(0, this, &TScenario::OpenModal);
            }
            break;
        case 2:
            if (auto* select = qobject_cast<TSelectReportTypeForm*>(modal))
                select->accept();
            else if (auto* preview = qobject_cast<TReportPreviewForm*>(modal); preview && !m_saveAsked) {
                m_saveAsked = true;
                QTimer::singleShot(0, preview, &TReportPreviewForm::SaveReport);
            } else if (Expected(modal))
                Ready();
            break;
        default:
            break;
        }
    }

    bool Expected(QWidget* modal) const
    {
        if (m_modal == QLatin1String("message"))
            return qobject_cast<QMessageBox*>(modal);
        if (m_modal == QLatin1String("editor"))
            return qobject_cast<TSetParamForm*>(modal);
        if (m_modal == QLatin1String("file"))
            return qobject_cast<QFileDialog*>(modal);
        if (m_modal == QLatin1String("preview"))
            return qobject_cast<QFileDialog*>(modal)
                && qobject_cast<TReportPreviewForm*>(modal->parentWidget());
        return false;
    }

    void OpenModal()
    {
        if (m_modal == QLatin1String("none")) {
            Ready();
        } else if (m_modal == QLatin1String("summary")) {
            m_phase = 0;
            m_form.ReadFromDeviceAction->trigger();
        } else if (m_modal == QLatin1String("save")) {
            m_phase = 3;
            m_form.SaveProjectAction->trigger();
            m_form.close();
        } else if (m_modal == QLatin1String("message")) {
            m_dialogs.RealMessage = QStringLiteral("Прибор не подключен!");
            m_simulator.Unplug(m_instrument);
            m_form.ReadFromDeviceAction->trigger();
        } else if (m_modal == QLatin1String("editor")) {
            m_form.ParamStringGridMouseUp(Qt::LeftButton);
        } else if (m_modal == QLatin1String("file")) {
            m_form.ExportAction->trigger();
        } else if (m_modal == QLatin1String("preview")) {
            m_form.PrintReportAction->trigger();
        }
    }

    void Ready()
    {
        m_phase = 3;
        Say(QStringLiteral("ready"));
    }

    TMainForm& m_form;
    TInstrumentSimulator& m_simulator;
    TUSBDeviceId m_instrument;
    TChildDialogs& m_dialogs;
    QString m_modal;
    QTimer m_poll;
    int m_phase = 0;
    bool m_saveAsked = false;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QString project = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();

    auto dialogs = std::make_unique<TChildDialogs>();
    TChildDialogs& script = *dialogs;
    for (int i = 3; i < argc; ++i)
        script.Answers.push_back(Answer(argv[i]));
    SetOperatorDialogs(std::move(dialogs));

    auto simulator = std::make_shared<TInstrumentSimulator>();
    const TUSBDeviceId instrument = simulator->Plug(MakeRealisticInstrument(3, 11));
    TMainDataModule dataModule;
    int status = 0;
    {
        TMainForm form(
            dataModule, QFileInfo(project).absolutePath() + QStringLiteral("/cement-lab"), simulator);
        CloseOnTerminationSignals(form);
        form.show();
        script.ProjectFile = project;
        form.OpenProjectActionExecute();
        if (!dataModule.IsProjectOpen())
            return 3;
        dataModule.ResultDataSet().First();
        dataModule.SetMeasureComment("записано до сигнала");
        TScenario scenario(form, *simulator, instrument, script, QString::fromLocal8Bit(argv[2]));
        status = QApplication::exec();
    }
    USBFinalize();
    SetOperatorDialogs(nullptr);
    Say(QStringLiteral("ended"));
    return status;
}
