#include "device/DeviceScreenShotUnit.h"

#include "app/OperatorDialogs.h"
#include "view/ForecastChart.h"

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <array>

namespace {

constexpr Qt::WindowFlags kWindowFlags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

constexpr int kMargin = 8;
constexpr int kPanelWidth = 321;
constexpr int kPanelHeight = 105;
constexpr int kLabelX = 152;
constexpr int kColumnX = 184;
constexpr int kColumnWidth = 129;
constexpr int kPenRowY = 8;
constexpr int kBackgroundRowY = 40;
constexpr int kGetPictureButtonY = 72;
constexpr int kButtonHeight = 25;
constexpr int kCloseButtonWidth = 75;
constexpr int kCloseButtonRight = 7;  // from the window's right edge
constexpr int kCloseButtonBelow = 7;  // from the panel's bottom edge
constexpr int kCloseButtonBottom = 5; // to the window's bottom edge
constexpr int kLabelSpacing = 4;
constexpr int kRowSpacing = 6;

QPixmap MakeSwatch(std::uint32_t color, QSize size)
{
    QPixmap swatch(size);
    QPainter painter(&swatch);
    PaintColorSwatch(painter, swatch.rect(), color);
    painter.end();
    return swatch;
}

void SelectColor(QComboBox* comboBox, std::uint32_t color)
{
    const QSignalBlocker blocker(comboBox);
    comboBox->setCurrentIndex(comboBox->findData(QVariant::fromValue(color)));
}

// The colour the operator picked, or `current` when nothing is selected.
std::uint32_t SelectedColor(const QComboBox* comboBox, std::uint32_t current)
{
    const QVariant data = comboBox->currentData();
    return data.isValid() ? data.value<std::uint32_t>() : current;
}

} // namespace

TDeviceScreenShotForm::TDeviceScreenShotForm(QWidget* owner)
    : QDialog(owner, kWindowFlags)
{
    setObjectName(QStringLiteral("DeviceScreenShotForm"));
    setWindowTitle(QStringLiteral("Картинка с экрана прибора"));

    m_panel = new QFrame(this);
    m_panel->setFrameStyle(QFrame::Panel | QFrame::Raised);

    m_deviceScreenShotImage = new QLabel(m_panel);
    m_deviceScreenShotImage->setObjectName(QStringLiteral("DeviceScreenShotImage"));
    m_deviceScreenShotImage->setGeometry(kMargin, kMargin, SCREEN_FRAME_WIDTH, SCREEN_FRAME_HEIGHT);

    m_penLabel = new QLabel(QStringLiteral("Перо"), m_panel);
    m_penColorComboBox = MakeColorComboBox(QStringLiteral("PenColorComboBox"));
    m_backgroundLabel = new QLabel(QStringLiteral("Фон"), m_panel);
    m_backgroundColorComboBox = MakeColorComboBox(QStringLiteral("BackgroundColorComboBox"));
    m_penLabel->setBuddy(m_penColorComboBox);
    m_backgroundLabel->setBuddy(m_backgroundColorComboBox);

    m_getPictureButton = new QPushButton(QStringLiteral("Прочитать картинку"), m_panel);
    m_getPictureButton->setObjectName(QStringLiteral("GetPictureButton"));

    m_closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    m_closeButton->setObjectName(QStringLiteral("CloseButton"));
    m_closeButton->setDefault(true);

    connect(m_penColorComboBox, &QComboBox::activated, this, &TDeviceScreenShotForm::PenColorComboBoxChange);
    connect(m_backgroundColorComboBox, &QComboBox::activated, this,
        &TDeviceScreenShotForm::BackgroundColorComboBoxChange);
    connect(m_getPictureButton, &QPushButton::clicked, this, &TDeviceScreenShotForm::GetPictureButtonClick);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);

    Arrange();
    SelectColor(m_penColorComboBox, m_penColor);
    SelectColor(m_backgroundColorComboBox, m_backgroundColor);
    Paint();

    CentreOnScreen(*this);
}

QComboBox* TDeviceScreenShotForm::MakeColorComboBox(const QString& name)
{
    auto* comboBox = new QComboBox(m_panel);
    comboBox->setObjectName(name);
    for (const std::uint32_t color : OFFERED_COLORS)
        comboBox->addItem(QString(), QVariant::fromValue(color));
    return comboBox;
}

void TDeviceScreenShotForm::SetPenColor(std::uint32_t color)
{
    m_penColor = color;
    SelectColor(m_penColorComboBox, color);
    ShowScreen();
}

void TDeviceScreenShotForm::SetBackgroundColor(std::uint32_t color)
{
    m_backgroundColor = color;
    SelectColor(m_backgroundColorComboBox, color);
    ShowScreen();
}

void TDeviceScreenShotForm::PenColorComboBoxChange()
{
    m_penColor = SelectedColor(m_penColorComboBox, m_penColor);
    ShowScreen();
}

void TDeviceScreenShotForm::BackgroundColorComboBoxChange()
{
    m_backgroundColor = SelectedColor(m_backgroundColorComboBox, m_backgroundColor);
    ShowScreen();
}

void TDeviceScreenShotForm::GetPictureButtonClick()
{
    // A failed read leaves the bare border, so the file and the clipboard never keep a
    // picture that the instrument did not just send.
    const TUSBStatus status = ReadScreenFrame(m_screenFrame);
    ShowScreen();
    if (status != STATUS_SUCCESS)
        OperatorDialogs().Message(
            QString(), QStringLiteral("Ошибка связи с прибором!"), QMessageBox::Critical, QMessageBox::Ok);
}

void TDeviceScreenShotForm::Paint()
{
    // Index 1 is a set pixel; a two-entry palette keeps the file at one bit per pixel.
    QImage picture(SCREEN_FRAME_WIDTH, SCREEN_FRAME_HEIGHT, QImage::Format_Mono);
    picture.setColorTable({ColorOfValue(m_backgroundColor).rgb(), ColorOfValue(m_penColor).rgb()});
    for (int y = 0; y < SCREEN_FRAME_HEIGHT; ++y)
        for (int x = 0; x < SCREEN_FRAME_WIDTH; ++x)
            picture.setPixel(x, y, m_screenFrame.Pixel(x, y) ? 1 : 0);
    m_picture = picture;
    m_deviceScreenShotImage->setPixmap(QPixmap::fromImage(m_picture));
}

void TDeviceScreenShotForm::ShowScreen()
{
    Paint();
    if (!m_fileName.isEmpty() && !m_picture.save(m_fileName, "BMP"))
        ShowErrorMessage(
            QStringLiteral("Не удалось записать файл \"%1\"!").arg(QDir::toNativeSeparators(m_fileName)));
    QGuiApplication::clipboard()->setImage(m_picture);
}

void TDeviceScreenShotForm::Arrange()
{
    const int labelWidth = std::max(m_penLabel->sizeHint().width(), m_backgroundLabel->sizeHint().width());
    const int columnX = std::max(kColumnX, kLabelX + labelWidth + kLabelSpacing);
    const int columnWidth = std::max(kColumnWidth, m_getPictureButton->sizeHint().width());
    const int comboHeight = m_penColorComboBox->sizeHint().height();
    const int backgroundRowY = std::max(kBackgroundRowY, kPenRowY + comboHeight + kRowSpacing);
    const int buttonY = std::max(kGetPictureButtonY, backgroundRowY + comboHeight + kRowSpacing);
    const int buttonHeight = std::max(kButtonHeight, m_getPictureButton->sizeHint().height());
    const int panelWidth = std::max(kPanelWidth, columnX + columnWidth + kMargin);
    const int panelHeight = std::max(kPanelHeight, buttonY + buttonHeight + kMargin);

    const auto placeRow = [&](QLabel* label, QComboBox* comboBox, int y) {
        comboBox->setGeometry(columnX, y, columnWidth, comboHeight);
        const int labelHeight = label->sizeHint().height();
        label->setGeometry(kLabelX, y + (comboHeight - labelHeight) / 2, labelWidth, labelHeight);
    };
    placeRow(m_penLabel, m_penColorComboBox, kPenRowY);
    placeRow(m_backgroundLabel, m_backgroundColorComboBox, backgroundRowY);
    m_getPictureButton->setGeometry(columnX, buttonY, columnWidth, buttonHeight);
    m_panel->setGeometry(0, 0, panelWidth, panelHeight);

    // The swatch fills the drop-down's text field, as there is no name to show: measured
    // with a trial width, then cut by what the style adds around it.
    const auto setSwatches = [&](QSize size) {
        for (QComboBox* comboBox : {m_penColorComboBox, m_backgroundColorComboBox}) {
            comboBox->setIconSize(size);
            for (int i = 0; i < comboBox->count(); ++i)
                comboBox->setItemIcon(i, MakeSwatch(comboBox->itemData(i).value<std::uint32_t>(), size));
        }
    };
    const int swatchHeight = std::max(8, comboHeight - 10);
    setSwatches(QSize(columnWidth, swatchHeight));
    const int around = m_penColorComboBox->sizeHint().width() - columnWidth;
    setSwatches(QSize(std::max(16, columnWidth - around), swatchHeight));

    const int clientWidth = panelWidth + 1;
    const int closeWidth = std::max(kCloseButtonWidth, m_closeButton->sizeHint().width());
    const int closeY = panelHeight + kCloseButtonBelow;
    m_closeButton->setGeometry(
        clientWidth - kCloseButtonRight - closeWidth, closeY, closeWidth, kButtonHeight);
    setFixedSize(clientWidth, closeY + kButtonHeight + kCloseButtonBottom);
}

void ScreenShotActionExecute(
    QWidget* owner, std::uint32_t& penColor, std::uint32_t& backgroundColor, const QString& programFolder)
{
    TDeviceScreenShotForm form(owner);
    form.SetPenColor(penColor);
    form.SetBackgroundColor(backgroundColor);
    form.SetFileName(QDir(programFolder).filePath(SCREEN_SHOT_FILE_NAME));
    form.exec();
    penColor = form.PenColor();
    backgroundColor = form.BackgroundColor();
}
