#include "ScriptedDialogs.h"

#include "device/DeviceScreenShotUnit.h"
#include "device/InstrumentSimulator.h"
#include "view/ForecastChart.h"

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <vector>

namespace {

// Red differs from blue in both, so a swapped byte order shows.
constexpr std::uint32_t kPen = 0x008080;
constexpr std::uint32_t kBackground = 0xFFFF00;

using TPixelRule = std::function<bool(int x, int y)>;

bool OnBorder(int x, int y)
{
    return x == 0 || y == 0 || x == SCREEN_FRAME_WIDTH - 1 || y == SCREEN_FRAME_HEIGHT - 1;
}

bool InDisplay(int x, int y)
{
    return x >= 2 && x <= 129 && y >= 2 && y <= 65;
}

// Compares every pixel with `set` (plus the border, which is always set) in the two colours.
void ExpectPicture(const QImage& image, std::uint32_t pen, std::uint32_t background, const TPixelRule& set)
{
    ASSERT_EQ(image.size(), QSize(SCREEN_FRAME_WIDTH, SCREEN_FRAME_HEIGHT));
    int wrong = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const std::uint32_t expected = OnBorder(x, y) || set(x, y) ? pen : background;
            const std::uint32_t actual = ValueOfColor(image.pixelColor(x, y));
            if (actual != expected && ++wrong <= 5)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << actual << ", not "
                              << expected;
        }
    EXPECT_EQ(wrong, 0);
}

bool Blank(int, int)
{
    return false;
}

TScreenReply Filled(std::uint8_t value)
{
    TScreenReply reply;
    reply.fill(value);
    return reply;
}

class ScreenShotTest : public TUiTest
{
protected:
    void SetUp() override
    {
        TUiTest::SetUp();
        ASSERT_TRUE(m_folder.isValid());
        ASSERT_EQ(USBInitialize(m_simulator), STATUS_SUCCESS);
    }
    void TearDown() override
    {
        USBFinalize();
        TUiTest::TearDown();
    }

    TUSBDeviceId PlugScreen(const TScreenReply& screen, std::vector<TExchangeFault> faults = {})
    {
        TSimulatedInstrument instrument;
        instrument.Screen = screen;
        instrument.Faults = std::move(faults);
        return m_simulator->Plug(std::move(instrument));
    }

    QString File() const { return QDir(m_folder.path()).filePath(SCREEN_SHOT_FILE_NAME); }
    QImage Saved() const { return QImage(File(), "BMP"); }

    // A window as the action sets it up, in the test colours.
    void Prepare(TDeviceScreenShotForm& form)
    {
        form.SetPenColor(kPen);
        form.SetBackgroundColor(kBackground);
        form.SetFileName(File());
    }

    std::shared_ptr<TInstrumentSimulator> m_simulator = std::make_shared<TInstrumentSimulator>();
    QTemporaryDir m_folder;
};

struct TReplyCase
{
    const char* Name;
    std::uint8_t Fill;
    std::size_t Byte; // then set to Value
    std::uint8_t Value;
    TPixelRule Set;
};

class ScreenReplyTest : public ScreenShotTest, public ::testing::WithParamInterface<TReplyCase>
{ };

TEST_P(ScreenReplyTest, SavedFileAndClipboardHoldTheDisplay)
{
    TScreenReply screen = Filled(GetParam().Fill);
    screen[GetParam().Byte] = GetParam().Value;
    PlugScreen(screen);
    TDeviceScreenShotForm form(nullptr);
    Prepare(form);

    form.GetPictureButton()->click();

    ExpectPicture(Saved(), kPen, kBackground, GetParam().Set);
    ExpectPicture(QGuiApplication::clipboard()->image(), kPen, kBackground, GetParam().Set);
}

const auto kAt = [](int px, int py) { return TPixelRule([=](int x, int y) { return x == px && y == py; }); };

INSTANTIATE_TEST_SUITE_P(Replies, ScreenReplyTest,
    ::testing::Values(TReplyCase{"AllZero", 0x00, 0, 0x00, Blank},
        TReplyCase{"AllOnesLeaveTheGap", 0xFF, 0, 0xFF, InDisplay},
        TReplyCase{"FirstBit", 0x00, 0, 0x01, kAt(2, 2)},
        TReplyCase{"HighBitIsLowestRowOfBand", 0x00, 0, 0x80, kAt(2, 9)},
        TReplyCase{"LastColumn", 0x00, 127, 0x01, kAt(129, 2)},
        TReplyCase{"SecondBand", 0x00, 128, 0x01, kAt(2, 10)},
        TReplyCase{"LastByte", 0x00, 1023, 0x80, kAt(129, 65)}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ScreenShotTest, FailedReadShowsTheMessageAndWritesTheBlankPicture)
{
    TDeviceScreenShotForm form(nullptr);
    Prepare(form);
    const auto expectFailure = [&](const char* when) {
        SCOPED_TRACE(when);
        const TShownMessage message = TakeMessage();
        EXPECT_EQ(message.Caption, QString());
        EXPECT_EQ(message.Text, QStringLiteral("Ошибка связи с прибором!"));
        EXPECT_EQ(message.Icon, QMessageBox::Critical);
        EXPECT_EQ(message.Buttons, QMessageBox::Ok);
        ExpectPicture(Saved(), kPen, kBackground, Blank);
        ExpectPicture(QGuiApplication::clipboard()->image(), kPen, kBackground, Blank);
    };

    form.GetPictureButton()->click();
    expectFailure("no instrument");

    const TUSBDeviceId device = PlugScreen(Filled(0xFF));
    form.GetPictureButton()->click();
    ExpectPicture(Saved(), kPen, kBackground, InDisplay);

    m_simulator->Unplug(device);
    form.GetPictureButton()->click();
    expectFailure("unplugged after a read");
}

TEST_F(ScreenShotTest, BytesAShortReplyDidNotBringAreClear)
{
    PlugScreen(Filled(0xFF), {{1, TSimulatorFault::ShortReply, 128}});
    TDeviceScreenShotForm form(nullptr);
    Prepare(form);

    form.GetPictureButton()->click();
    form.GetPictureButton()->click();

    ExpectPicture(Saved(), kPen, kBackground, [](int x, int y) { return InDisplay(x, y) && y < 10; });
}

TEST_F(ScreenShotTest, ActionOpensBlankWithoutFileAndHandsTheColoursBack)
{
    TScreenReply screen = Filled(0x00);
    screen[0] = 0x01;
    PlugScreen(screen);
    QWidget owner;
    std::uint32_t pen = 0x123456; // not offered by the drop-down
    std::uint32_t background = kBackground;
    QGuiApplication::clipboard()->setText(QStringLiteral("earlier"));
    bool handled = false;
    QPointer<TDeviceScreenShotForm> shown;

    HandleModalLater<TDeviceScreenShotForm>([&](TDeviceScreenShotForm* form) {
        handled = true;
        shown = form;
        EXPECT_EQ(form->parentWidget(), &owner);
        EXPECT_EQ(form->FileName(), File());
        EXPECT_FALSE(QFile::exists(File()));
        ExpectPicture(QGuiApplication::clipboard()->image(), 0x123456, kBackground, Blank);
        EXPECT_EQ(form->PenColorComboBox()->currentIndex(), -1);
        EXPECT_EQ(form->BackgroundColorComboBox()->currentData().value<std::uint32_t>(), kBackground);

        form->GetPictureButton()->click();
        ExpectPicture(Saved(), 0x123456, kBackground, kAt(2, 2));

        QTest::keyClick(form->PenColorComboBox(), Qt::Key_End);
        EXPECT_EQ(form->PenColor(), 0xFFFFFFu);
        ExpectPicture(Saved(), 0xFFFFFF, kBackground, kAt(2, 2));
        ExpectPicture(QGuiApplication::clipboard()->image(), 0xFFFFFF, kBackground, kAt(2, 2));
    });
    ScreenShotActionExecute(&owner, pen, background, m_folder.path());

    ASSERT_TRUE(handled) << "the window was never shown";
    EXPECT_TRUE(shown.isNull()) << "the window was not released";
    EXPECT_EQ(pen, 0xFFFFFFu);
    EXPECT_EQ(background, kBackground);
}

TEST_F(ScreenShotTest, UnwritableFileIsReported)
{
    TDeviceScreenShotForm form(nullptr);
    form.SetFileName(QDir(m_folder.path()).filePath(QStringLiteral("missing/") + SCREEN_SHOT_FILE_NAME));

    form.SetPenColor(kPen);

    const TShownMessage message = TakeMessage();
    EXPECT_EQ(message.Caption, APPLICATION_TITLE);
    EXPECT_TRUE(message.Text.contains(QDir::toNativeSeparators(form.FileName())))
        << message.Text.toStdString();
}

TEST_F(ScreenShotTest, LayoutFitsTheDesktopFont)
{
    TDeviceScreenShotForm form(nullptr);
    form.show();

    EXPECT_EQ(form.DeviceScreenShotImage()->geometry(), QRect(8, 8, SCREEN_FRAME_WIDTH, SCREEN_FRAME_HEIGHT));
    EXPECT_TRUE(form.CloseButton()->isDefault());
    for (QWidget* widget : form.findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        SCOPED_TRACE(widget->objectName().toStdString() + " " + widget->metaObject()->className());
        const QRect inWindow(widget->mapTo(&form, QPoint(0, 0)), widget->size());
        EXPECT_TRUE(form.rect().contains(inWindow));
        EXPECT_GE(widget->width(), widget->sizeHint().width());
        EXPECT_GE(widget->height(), widget->sizeHint().height());
        if (qobject_cast<QLabel*>(widget) && widget != form.DeviceScreenShotImage()) {
            EXPECT_LT(widget->geometry().right(), form.PenColorComboBox()->x());
        }
    }
}

} // namespace
