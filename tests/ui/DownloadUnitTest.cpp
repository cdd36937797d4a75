#include "ScriptedDialogs.h"

#include "device/DownloadSummaryUnit.h"
#include "device/DownloadUnit.h"
#include "device/InstrumentSimulator.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <numeric>
#include <optional>

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr std::uint32_t HeaderExchange(std::uint32_t record)
{
    return 3 + 2 * record;
}

enum class TCloseBy
{
    CancelButton,
    Escape,
    WindowManager,
};

struct TOutcome
{
    int Exec = -1;
    bool Success = false;
    std::int32_t Code = 0;
    TArrayOfMsrResult Results;
    std::vector<int> Bar; // every value the bar took
    TClock::duration ReleaseTime{};
};

// Every download goes through the real link to a simulated instrument.
class DownloadFormTest : public TUiTest
{
protected:
    void SetUp() override
    {
        TUiTest::SetUp();
        ASSERT_EQ(USBInitialize(m_simulator), STATUS_SUCCESS);
    }
    void TearDown() override
    {
        USBFinalize();
        TUiTest::TearDown();
    }

    // Runs the window as the main window does; `whileShown` runs once the window is up.
    TOutcome Download(const std::function<void(TDownloadForm&)>& whileShown = {})
    {
        TOutcome outcome;
        outcome.Results.resize(1); // a stale record that must not survive
        TDownloadForm form(nullptr);
        m_form = &form;
        QObject::connect(form.DownloadGauge(), &QProgressBar::valueChanged,
            [&](int value) { outcome.Bar.push_back(value); });
        form.RunDownloadThread(outcome.Results);
        if (whileShown)
            QTimer::singleShot(0, &form, [&] { whileShown(form); });
        QTimer::singleShot(20s, &form, [&] {
            ADD_FAILURE() << "the window did not close";
            form.reject();
        });
        outcome.Exec = form.exec();
        outcome.Success = form.Success();
        const auto start = TClock::now();
        form.Release();
        outcome.ReleaseTime = TClock::now() - start;
        outcome.Code = form.ResultCode();
        m_form = nullptr;
        // A late end message must change nothing.
        QTest::qWait(50);
        EXPECT_EQ(form.Success(), outcome.Success);
        EXPECT_EQ(form.ResultCode(), outcome.Code);
        return outcome;
    }

    // Closes the window the operator's way as exchange `at` gets under way.
    void CloseAt(TSimulatedInstrument& instrument, std::uint32_t at, TCloseBy by)
    {
        instrument.OnCommand = [this, at, by](std::uint32_t exchange, std::uint32_t) {
            TDownloadForm* form = m_form.load();
            if (!form || exchange != at)
                return;
            QMetaObject::invokeMethod(
                form,
                [form, by] {
                    if (by == TCloseBy::CancelButton)
                        form->CancelButton()->click();
                    else if (by == TCloseBy::Escape)
                        QTest::keyClick(form, Qt::Key_Escape);
                    else
                        form->close();
                },
                Qt::QueuedConnection);
        };
    }

    std::shared_ptr<TInstrumentSimulator> m_simulator = std::make_shared<TInstrumentSimulator>();
    std::atomic<TDownloadForm*> m_form{nullptr};
};

TEST_F(DownloadFormTest, StartsEmptyAndReleasesOnce)
{
    TDownloadForm form(nullptr);
    EXPECT_EQ(form.DownloadGauge(), form.findChild<QProgressBar*>("DownloadGauge"));
    EXPECT_EQ(form.CancelButton(), form.findChild<QPushButton*>("CancelButton"));
    EXPECT_EQ(form.DownloadGauge()->value(), 0);
    EXPECT_EQ(form.DownloadGauge()->maximum(), 100);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    form.Release();
    EXPECT_FALSE(form.Success());
    EXPECT_EQ(form.ResultCode(), -1);

    m_simulator->Plug(MakeRealisticInstrument(3, 5));
    TArrayOfMsrResult results;
    form.RunDownloadThread(results);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Success(); }, 10000));
    form.Release();
    form.Release();
    EXPECT_EQ(form.ResultCode(), 0);
    EXPECT_EQ(results.size(), 3u);
}

struct TCountCase
{
    std::size_t Records;
    std::vector<int> Bar;
};

void PrintTo(const TCountCase& c, std::ostream* os)
{
    *os << c.Records << " records";
}

class DownloadFormSuccessTest : public DownloadFormTest, public ::testing::WithParamInterface<TCountCase>
{ };

TEST_P(DownloadFormSuccessTest, ClosesByItselfWithEveryRecord)
{
    const TSimulatedInstrument instrument = MakeRealisticInstrument(GetParam().Records, 7);
    m_simulator->Plug(instrument);
    const TOutcome outcome = Download();
    EXPECT_EQ(outcome.Exec, QDialog::Accepted);
    EXPECT_TRUE(outcome.Success);
    EXPECT_EQ(outcome.Code, 0);
    EXPECT_EQ(outcome.Bar, GetParam().Bar);
    ASSERT_EQ(outcome.Results.size(), GetParam().Records);
    for (std::size_t i = 0; i < outcome.Results.size(); ++i) {
        EXPECT_EQ(outcome.Results[i].MeasureNumber, instrument.Measurements[i].Header.MeasureNumber);
        EXPECT_EQ(outcome.Results[i].Data.size(), 4u);
    }
}

std::vector<int> Percents(int from, int to)
{
    std::vector<int> values(to - from + 1);
    std::iota(values.begin(), values.end(), from);
    return values;
}

// The bar starts at 0, so the first message moves nothing; it never reaches 100.
INSTANTIATE_TEST_SUITE_P(Counts, DownloadFormSuccessTest,
    ::testing::Values(
        TCountCase{0, {}}, TCountCase{1, {}}, TCountCase{3, {33, 66}}, TCountCase{200, Percents(1, 99)}));

struct TFailureCase
{
    const char* Name;
    std::optional<TSimulatedInstrument> Instrument;
    TUSBStatus Expected;
};

void PrintTo(const TFailureCase& c, std::ostream* os)
{
    *os << c.Name;
}

TSimulatedInstrument FaultyAt(std::uint32_t exchange, TSimulatorFault kind)
{
    TSimulatedInstrument instrument = MakeRealisticInstrument(4, 3);
    instrument.Faults = {{exchange, kind}};
    return instrument;
}

class DownloadFormFailureTest : public DownloadFormTest, public ::testing::WithParamInterface<TFailureCase>
{ };

TEST_P(DownloadFormFailureTest, ClosesWithTheStatusAndNothingRead)
{
    if (GetParam().Instrument)
        m_simulator->Plug(*GetParam().Instrument);
    const TOutcome outcome = Download();
    EXPECT_EQ(outcome.Exec, QDialog::Rejected);
    EXPECT_FALSE(outcome.Success);
    EXPECT_EQ(outcome.Code, static_cast<std::int32_t>(GetParam().Expected));
    EXPECT_TRUE(outcome.Results.empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, DownloadFormFailureTest,
    ::testing::Values(TFailureCase{"NoInstrument", std::nullopt, STATUS_USB_NO_DEVICE},
        TFailureCase{"WrongName",
            [] {
                TSimulatedInstrument instrument = MakeRealisticInstrument(2, 1);
                instrument.Name = "CEMENT-VORKAST-2.0";
                return instrument;
            }(),
            STATUS_WRONG_DEVICE},
        TFailureCase{"StartFails", FaultyAt(2, TSimulatorFault::TransferError), STATUS_USB_IO},
        TFailureCase{
            "ThirdHeaderFails", FaultyAt(HeaderExchange(2), TSimulatorFault::TransferError), STATUS_USB_IO},
        TFailureCase{"UnplugInLastSamples", FaultyAt(HeaderExchange(3) + 1, TSimulatorFault::Unplug),
            STATUS_USB_NO_DEVICE}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TCancelCase
{
    const char* Name;
    TCloseBy By;
    std::size_t Records;
    std::uint32_t AtExchange;
    std::int32_t Expected; // the worker's status as the window takes it
};

void PrintTo(const TCancelCase& c, std::ostream* os)
{
    *os << c.Name;
}

class DownloadFormCancelTest : public DownloadFormTest, public ::testing::WithParamInterface<TCancelCase>
{ };

TEST_P(DownloadFormCancelTest, StopsTheWorkerAndKeepsNothing)
{
    TSimulatedInstrument instrument = MakeRealisticInstrument(GetParam().Records, 2);
    instrument.TransferDelay = 20ms;
    CloseAt(instrument, GetParam().AtExchange, GetParam().By);
    m_simulator->Plug(instrument);
    const TOutcome outcome = Download();
    EXPECT_EQ(outcome.Exec, QDialog::Rejected);
    EXPECT_FALSE(outcome.Success);
    EXPECT_EQ(outcome.Code, GetParam().Expected);
    EXPECT_TRUE(outcome.Results.empty());
    EXPECT_LT(outcome.ReleaseTime, TDownloadForm::kStopWait);
    const std::size_t commands = m_simulator->Commands().size();
    QTest::qWait(200);
    EXPECT_EQ(m_simulator->Commands().size(), commands) << "the worker must have ended";
}

// Cancel at the last exchange: the worker still ends with 0, but the operator's cancel
// stands and nothing is kept.
INSTANTIATE_TEST_SUITE_P(Ways, DownloadFormCancelTest,
    ::testing::Values(TCancelCase{"Button", TCloseBy::CancelButton, 50, HeaderExchange(1), -1},
        TCancelCase{"Escape", TCloseBy::Escape, 50, HeaderExchange(1), -1},
        TCancelCase{"WindowManager", TCloseBy::WindowManager, 50, 0, -1},
        TCancelCase{"ButtonAtLastExchange", TCloseBy::CancelButton, 3, HeaderExchange(2) + 1, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DownloadFormTest, WorkerStuckPastTheWaitIsLeftBehind)
{
    TSimulatedInstrument instrument = MakeRealisticInstrument(2, 4);
    instrument.TransferDelay = 60s; // ends early once unplugged
    const TUSBDeviceId device = m_simulator->Plug(instrument);
    const TOutcome outcome = Download([](TDownloadForm& form) {
        QTimer::singleShot(50, &form, [&form] { form.CancelButton()->click(); });
    });
    m_simulator->Unplug(device);
    EXPECT_FALSE(outcome.Success);
    EXPECT_EQ(outcome.Code, -1);
    EXPECT_TRUE(outcome.Results.empty());
    EXPECT_GE(outcome.ReleaseTime, TDownloadForm::kStopWait - 50ms);
    EXPECT_LT(outcome.ReleaseTime, TDownloadForm::kStopWait + 1s);
}

TEST_F(DownloadFormTest, WindowDestroyedDuringDownloadStopsTheWorker)
{
    TSimulatedInstrument instrument = MakeRealisticInstrument(40, 6);
    instrument.TransferDelay = 5ms;
    m_simulator->Plug(instrument);
    TArrayOfMsrResult results(1);
    auto* form = new TDownloadForm(nullptr);
    form->RunDownloadThread(results);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->DownloadGauge()->value() > 0; }, 10000));
    delete form;
    const std::size_t commands = m_simulator->Commands().size();
    QTest::qWait(200); // messages still queued for the window are dropped
    EXPECT_EQ(m_simulator->Commands().size(), commands);
    EXPECT_TRUE(results.empty());
}

TEST_F(DownloadFormTest, WindowsSitInTheMiddleOfTheScreen)
{
    QWidget owner;
    owner.setGeometry(0, 0, 200, 150);
    owner.show();
    TDownloadForm progress(&owner);
    TDownloadSummaryForm summary(&owner);
    summary.SetResultsInDeviceMemory(12);
    for (QDialog* window : std::initializer_list<QDialog*>{&progress, &summary}) {
        window->show();
        const QPoint offset = window->geometry().center() - owner.screen()->availableGeometry().center();
        EXPECT_LE(offset.manhattanLength(), 40) << window->objectName().toStdString();
        window->hide();
    }
}

QStringList LabelTexts(const QWidget& window)
{
    QStringList texts;
    for (const QLabel* label : window.findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

// Each label shows its whole text inside the window, and no two labels overlap.
void ExpectWholeTexts(const QWidget& window)
{
    const QList<QLabel*> labels = window.findChildren<QLabel*>();
    for (const QLabel* label : labels) {
        const QRect shown = QRect(label->mapTo(&window, QPoint(0, 0)), label->size());
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        EXPECT_TRUE(window.rect().contains(shown)) << label->text().toStdString();
        for (const QLabel* other : labels) {
            if (other == label)
                continue;
            EXPECT_FALSE(shown.intersects(QRect(other->mapTo(&window, QPoint(0, 0)), other->size())))
                << label->text().toStdString() << " / " << other->text().toStdString();
        }
    }
    for (const QPushButton* button : window.findChildren<QPushButton*>())
        EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 8);
}

TEST_F(DownloadFormTest, SummaryShowsItsCountsWhole)
{
    TDownloadSummaryForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), "Результаты чтения");
    EXPECT_EQ(form.ResultsInDeviceMemoryLabel(), form.findChild<QLabel*>("ResultsInDeviceMemoryLabel"));
    EXPECT_EQ(form.ResultsAddedToProjectLabel(), form.findChild<QLabel*>("ResultsAddedToProjectLabel"));
    EXPECT_EQ(LabelTexts(form).size(), 4);
    EXPECT_TRUE(LabelTexts(form).contains("В памяти прибора"));
    EXPECT_TRUE(LabelTexts(form).contains("Добавлено в проект"));
    EXPECT_EQ(form.ResultsInDeviceMemoryLabel()->text(), "0");
    EXPECT_EQ(form.ResultsAddedToProjectLabel()->text(), "0");
    ExpectWholeTexts(form);

    for (const auto& [inDevice, added] : {std::pair{3, 0}, {200, 17}, {1234567, 890123}, {9, 9}}) {
        form.SetResultsInDeviceMemory(inDevice);
        form.SetResultsAddedToProject(added);
        EXPECT_EQ(form.ResultsInDeviceMemory(), inDevice);
        EXPECT_EQ(form.ResultsAddedToProject(), added);
        EXPECT_EQ(form.ResultsInDeviceMemoryLabel()->text(), QString::number(inDevice));
        EXPECT_EQ(form.ResultsAddedToProjectLabel()->text(), QString::number(added));
        ExpectWholeTexts(form);
    }
    TDownloadForm progress(nullptr);
    EXPECT_EQ(progress.windowTitle(), "Чтение из прибора");
    ExpectWholeTexts(progress);
}

TEST_F(DownloadFormTest, SummaryClosesByButtonOrEscape)
{
    for (const bool escape : {false, true}) {
        TDownloadSummaryForm form(nullptr);
        QTimer::singleShot(0, &form, [&] {
            if (escape)
                QTest::keyClick(&form, Qt::Key_Escape);
            else
                form.CloseButton()->click();
        });
        QTimer::singleShot(10s, &form, [&] {
            ADD_FAILURE() << "the summary did not close";
            form.done(-1);
        });
        EXPECT_NE(form.exec(), -1);
        EXPECT_FALSE(form.isVisible());
    }
}

} // namespace
