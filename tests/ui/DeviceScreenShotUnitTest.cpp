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
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <iterator>
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

// Compares every pixel with `set` (plus the border, which is always set) in the two colours;
// enlarged `scale` times, each picture pixel is a square of that side in one colour.
void ExpectPicture(
    const QImage& image, std::uint32_t pen, std::uint32_t background, const TPixelRule& set, int scale = 1)
{
    ASSERT_EQ(image.size(), QSize(SCREEN_FRAME_WIDTH, SCREEN_FRAME_HEIGHT) * scale);
    int wrong = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int px = x / scale;
            const int py = y / scale;
            const std::uint32_t expected = OnBorder(px, py) || set(px, py) ? pen : background;
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

TEST_F(ScreenShotTest, ZoomShowsWholePixelsAndLeavesFileAndClipboardAlone)
{
    TScreenReply screen = Filled(0x00);
    screen[0] = 0x05; // (2, 2) and (2, 4)
    screen[1] = 0x01; // (3, 2): neighbours, so a blur or an offset between them shows
    PlugScreen(screen);
    const TPixelRule set = [](int x, int y) { return ((x == 2 || x == 3) && y == 2) || (x == 2 && y == 4); };
    TDeviceScreenShotForm form(nullptr);
    Prepare(form);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.GetPictureButton()->click();

    const auto keys
        = [&form](Qt::Key key) { return [&form, key] { QTest::keyClick(&form, key, Qt::ControlModifier); }; };
    const auto list
        = [&form](Qt::Key key) { return [&form, key] { QTest::keyClick(form.ScaleComboBox(), key); }; };
    const struct
    {
        const char* Name;
        std::function<void()> Do;
        int Scale;
    } steps[] = {
        {"Ctrl+Plus", keys(Qt::Key_Plus), 2},
        {"Ctrl+=", keys(Qt::Key_Equal), 3},
        {"Ctrl+Plus at the largest", keys(Qt::Key_Plus), 3},
        {"Ctrl+Minus", keys(Qt::Key_Minus), 2},
        {"first in the list", list(Qt::Key_Home), 1},
        {"Ctrl+Minus at the smallest", keys(Qt::Key_Minus), 1},
        {"last in the list", list(Qt::Key_End), 3},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Name);
        QFile::remove(File());
        QGuiApplication::clipboard()->setText(QStringLiteral("earlier"));

        step.Do();

        EXPECT_EQ(form.Scale(), step.Scale);
        EXPECT_EQ(form.ScaleComboBox()->currentText(), QStringLiteral("×%1").arg(step.Scale));
        EXPECT_FALSE(QFile::exists(File()));
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("earlier"));
        QLabel* image = form.DeviceScreenShotImage();
        ExpectPicture(image->pixmap().toImage(), kPen, kBackground, set, step.Scale);
        EXPECT_EQ(image->size(), image->pixmap().size());
        // The window grew: the whole picture in view, the controls beside it, all inside.
        const QWidget* viewport = form.PictureScrollArea()->viewport();
        EXPECT_TRUE(viewport->rect().contains(QRect(image->mapTo(viewport, QPoint(0, 0)), image->size())));
        EXPECT_TRUE(form.rect().contains(QRect(viewport->mapTo(&form, QPoint(0, 0)), viewport->size())));
        EXPECT_GT(form.ScaleComboBox()->mapTo(&form, QPoint(0, 0)).x(),
            image->mapTo(&form, image->rect().topRight()).x());
        EXPECT_TRUE(form.rect().contains(form.CloseButton()->geometry()));

        form.GetPictureButton()->click();
        ExpectPicture(Saved(), kPen, kBackground, set);
        ExpectPicture(QGuiApplication::clipboard()->image(), kPen, kBackground, set);
    }
}

TEST_F(ScreenShotTest, ColourListsNameTheirColours)
{
    const struct
    {
        QColor Rgb;
        const char* Name;
    } named[] = {
        {QColor(0, 0, 0), "Чёрный"},
        {QColor(128, 0, 0), "Тёмно-красный"},
        {QColor(0, 128, 0), "Зелёный"},
        {QColor(128, 128, 0), "Оливковый"},
        {QColor(0, 0, 128), "Тёмно-синий"},
        {QColor(128, 0, 128), "Фиолетовый"},
        {QColor(0, 128, 128), "Тёмно-бирюзовый"},
        {QColor(128, 128, 128), "Серый"},
        {QColor(192, 192, 192), "Светло-серый"},
        {QColor(255, 0, 0), "Красный"},
        {QColor(0, 255, 0), "Ярко-зелёный"},
        {QColor(255, 255, 0), "Жёлтый"},
        {QColor(0, 0, 255), "Синий"},
        {QColor(255, 0, 255), "Пурпурный"},
        {QColor(0, 255, 255), "Бирюзовый"},
        {QColor(255, 255, 255), "Белый"},
    };
    TDeviceScreenShotForm form(nullptr);
    for (QComboBox* colors : {form.PenColorComboBox(), form.BackgroundColorComboBox()}) {
        SCOPED_TRACE(colors->objectName().toStdString());
        ASSERT_EQ(colors->count(), static_cast<int>(std::size(named)));
        for (int i = 0; i < colors->count(); ++i) {
            SCOPED_TRACE(named[i].Name);
            const QColor rgb = ColorOfValue(colors->itemData(i).value<std::uint32_t>());
            EXPECT_EQ(rgb, named[i].Rgb);
            EXPECT_EQ(colors->itemText(i), QString::fromUtf8(named[i].Name));
            const QImage swatch = colors->itemIcon(i).pixmap(colors->iconSize()).toImage();
            EXPECT_EQ(swatch.pixelColor(swatch.rect().center()), rgb);
        }
    }
    form.SetPenColor(0x0000FF);
    EXPECT_EQ(form.PenColorComboBox()->currentText(), QStringLiteral("Красный"));
}

} // namespace
