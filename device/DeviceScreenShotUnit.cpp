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
#include <QScrollArea>
#include <QShortcut>
#include <QStyle>

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
constexpr int kButtonHeight = 25;
constexpr int kCloseButtonWidth = 75;
constexpr int kCloseButtonRight = 7;  // from the window's right edge
constexpr int kCloseButtonBelow = 7;  // from the panel's bottom edge
constexpr int kCloseButtonBottom = 5; // to the window's bottom edge
constexpr int kLabelSpacing = 4;
constexpr int kRowSpacing = 6;
// The least of the picture a window too large for its screen still shows, and room kept
// for the window's frame while the window manager has not yet given one.
constexpr QSize kLeastPictureView{96, 64};
constexpr QSize kFrameAllowance{16, 40};

struct TColorName
{
    std::uint32_t Value;
    const char* Name;
};

// Every colour the lists offer (0x00BBGGRR).
constexpr std::array<TColorName, 16> kColorNames = {{
    {0x000000, "Чёрный"},
    {0x000080, "Тёмно-красный"},
    {0x008000, "Зелёный"},
    {0x008080, "Оливковый"},
    {0x800000, "Тёмно-синий"},
    {0x800080, "Фиолетовый"},
    {0x808000, "Тёмно-бирюзовый"},
    {0x808080, "Серый"},
    {0xC0C0C0, "Светло-серый"},
    {0x0000FF, "Красный"},
    {0x00FF00, "Ярко-зелёный"},
    {0x00FFFF, "Жёлтый"},
    {0xFF0000, "Синий"},
    {0xFF00FF, "Пурпурный"},
    {0xFFFF00, "Бирюзовый"},
    {0xFFFFFF, "Белый"},
}};
static_assert(kColorNames.size() == OFFERED_COLORS.size());

// A colour without a name of its own is named by its RGB code, so no list entry is blank.
QString ColorName(std::uint32_t color)
{
    for (const TColorName& entry : kColorNames)
        if (entry.Value == color)
            return QString::fromUtf8(entry.Name);
    return ColorOfValue(color).name(QColor::HexRgb).toUpper();
}

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

    // The area is see-through and starts at the panel's corner, so the panel's bevel shows
    // and the picture sits where it always did.
    m_pictureScrollArea = new QScrollArea(m_panel);
    m_pictureScrollArea->setObjectName(QStringLiteral("PictureScrollArea"));
    m_pictureScrollArea->setFrameShape(QFrame::NoFrame);
    m_pictureScrollArea->viewport()->setAutoFillBackground(false);
    m_pictureHolder = new QWidget;
    m_pictureHolder->setObjectName(QStringLiteral("PictureHolder"));
    m_deviceScreenShotImage = new QLabel(m_pictureHolder);
    m_deviceScreenShotImage->setObjectName(QStringLiteral("DeviceScreenShotImage"));
    m_deviceScreenShotImage->setGeometry(kMargin, kMargin, SCREEN_FRAME_WIDTH, SCREEN_FRAME_HEIGHT);
    m_pictureScrollArea->setWidget(m_pictureHolder);

    m_penLabel = new QLabel(QStringLiteral("Перо"), m_panel);
    m_penColorComboBox = MakeColorComboBox(QStringLiteral("PenColorComboBox"));
    m_backgroundLabel = new QLabel(QStringLiteral("Фон"), m_panel);
    m_backgroundColorComboBox = MakeColorComboBox(QStringLiteral("BackgroundColorComboBox"));
    m_penLabel->setBuddy(m_penColorComboBox);
    m_backgroundLabel->setBuddy(m_backgroundColorComboBox);

    m_scaleLabel = new QLabel(QStringLiteral("Масштаб"), m_panel);
    m_scaleComboBox = new QComboBox(m_panel);
    m_scaleComboBox->setObjectName(QStringLiteral("ScaleComboBox"));
    m_scaleComboBox->setToolTip(QStringLiteral("Увеличить: Ctrl+Плюс, уменьшить: Ctrl+Минус"));
    for (int scale = 1; scale <= MAX_SCALE; ++scale)
        m_scaleComboBox->addItem(QStringLiteral("×%1").arg(scale), scale);
    m_scaleLabel->setBuddy(m_scaleComboBox);

    m_getPictureButton = new QPushButton(QStringLiteral("Прочитать картинку"), m_panel);
    m_getPictureButton->setObjectName(QStringLiteral("GetPictureButton"));

    m_closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    m_closeButton->setObjectName(QStringLiteral("CloseButton"));
    m_closeButton->setDefault(true);

    connect(m_penColorComboBox, &QComboBox::activated, this, &TDeviceScreenShotForm::PenColorComboBoxChange);
    connect(m_backgroundColorComboBox, &QComboBox::activated, this,
        &TDeviceScreenShotForm::BackgroundColorComboBoxChange);
    connect(m_scaleComboBox, &QComboBox::activated, this,
        [this] { SetScale(m_scaleComboBox->currentData().toInt()); });
    connect(m_getPictureButton, &QPushButton::clicked, this, &TDeviceScreenShotForm::GetPictureButtonClick);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);

    // Ctrl+= as well: on most layouts the plus needs Shift, and the key under it is "=".
    const auto addShortcut = [this](const QKeySequence& keys, int step) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this,
            [this, step] { SetScale(m_scale + step); });
    };
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_Plus), 1);
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal), 1);
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus), -1);

    Arrange();
    SelectColor(m_penColorComboBox, m_penColor);
    SelectColor(m_backgroundColorComboBox, m_backgroundColor);
    m_scaleComboBox->setCurrentIndex(0);
    Paint();

    CentreOnScreen(*this);
}

QComboBox* TDeviceScreenShotForm::MakeColorComboBox(const QString& name)
{
    auto* comboBox = new QComboBox(m_panel);
    comboBox->setObjectName(name);
    const int swatchHeight = std::max(8, comboBox->fontMetrics().height() - 2);
    const QSize swatchSize(swatchHeight * 2, swatchHeight);
    comboBox->setIconSize(swatchSize);
    for (const std::uint32_t color : OFFERED_COLORS)
        comboBox->addItem(MakeSwatch(color, swatchSize), ColorName(color), QVariant::fromValue(color));
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

void TDeviceScreenShotForm::SetScale(int scale)
{
    scale = std::clamp(scale, 1, MAX_SCALE);
    m_scaleComboBox->setCurrentIndex(m_scaleComboBox->findData(scale));
    if (scale == m_scale)
        return;
    m_scale = scale;
    ShowPicture();
    Arrange();
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
    ShowPicture();
}

void TDeviceScreenShotForm::ShowPicture()
{
    // Fast transformation is nearest-neighbour: every pixel stays a crisp square.
    const QSize size = m_picture.size() * m_scale;
    m_deviceScreenShotImage->setPixmap(
        QPixmap::fromImage(m_picture.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    m_deviceScreenShotImage->resize(size);
    m_pictureHolder->resize(kMargin + size.width() + kMargin, kMargin + size.height() + kMargin);
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
    const QSize holder(
        kMargin + SCREEN_FRAME_WIDTH * m_scale + kMargin, kMargin + SCREEN_FRAME_HEIGHT * m_scale + kMargin);
    const int labelWidth = std::max({m_penLabel->sizeHint().width(), m_backgroundLabel->sizeHint().width(),
        m_scaleLabel->sizeHint().width()});
    const int labelX = std::max(kLabelX, holder.width() + kLabelSpacing);
    const int columnX = std::max(kColumnX - kLabelX + labelX, labelX + labelWidth + kLabelSpacing);
    const int columnWidth = std::max(
        {kColumnWidth, m_getPictureButton->sizeHint().width(), m_penColorComboBox->sizeHint().width(),
            m_backgroundColorComboBox->sizeHint().width(), m_scaleComboBox->sizeHint().width()});
    const int comboHeight = std::max({m_penColorComboBox->sizeHint().height(),
        m_backgroundColorComboBox->sizeHint().height(), m_scaleComboBox->sizeHint().height()});
    const int backgroundRowY = std::max(kBackgroundRowY, kPenRowY + comboHeight + kRowSpacing);
    const int scaleRowY = backgroundRowY + std::max(kBackgroundRowY - kPenRowY, comboHeight + kRowSpacing);
    const int buttonY = scaleRowY + std::max(kBackgroundRowY - kPenRowY, comboHeight + kRowSpacing);
    const int buttonHeight = std::max(kButtonHeight, m_getPictureButton->sizeHint().height());
    const int closeWidth = std::max(kCloseButtonWidth, m_closeButton->sizeHint().width());
    const int controlsWidth = columnX + columnWidth + kMargin - holder.width();
    const int controlsHeight = std::max(kPanelHeight, buttonY + buttonHeight + kMargin);
    // Below the panel: the gap, the Close button and the margin under it.
    const int belowPanel = kCloseButtonBelow + kButtonHeight + kCloseButtonBottom;

    // The picture gives up room only when the whole window cannot fit on its screen.
    QSize view = holder;
    if (const QScreen* screen = this->screen()) {
        const QSize frame = isVisible() ? frameGeometry().size() - size() : kFrameAllowance;
        const QSize room = screen->availableGeometry().size() - frame;
        view.setWidth(
            std::clamp(room.width() - controlsWidth - 1, kLeastPictureView.width(), holder.width()));
        view.setHeight(std::clamp(room.height() - belowPanel, kLeastPictureView.height(), holder.height()));
        view.setHeight(std::max(view.height(), std::min(holder.height(), controlsHeight)));
        // A cut side brings a scroll bar across the other one, which gets room for it if it can.
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_pictureScrollArea);
        if (view.width() < holder.width())
            view.setHeight(
                std::max(view.height(), std::min(room.height() - belowPanel, holder.height() + bar)));
        if (view.height() < holder.height())
            view.setWidth(
                std::max(view.width(), std::min(room.width() - controlsWidth - 1, holder.width() + bar)));
    }
    const int shift = view.width() - holder.width();
    const int panelWidth = std::max(kPanelWidth, columnX + shift + columnWidth + kMargin);
    const int panelHeight = std::max(controlsHeight, view.height() + 1);
    // Scroll bars only when the picture is cut: left to decide alone, bars once shown stay
    // after the area grows to fit exactly, as their ranges were set against the smaller view.
    const Qt::ScrollBarPolicy bars = view == holder ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
    m_pictureScrollArea->setHorizontalScrollBarPolicy(bars);
    m_pictureScrollArea->setVerticalScrollBarPolicy(bars);
    m_pictureScrollArea->setGeometry(0, 0, view.width(), view.height());

    const auto placeRow = [&](QLabel* label, QComboBox* comboBox, int y) {
        comboBox->setGeometry(columnX + shift, y, columnWidth, comboHeight);
        const int labelHeight = label->sizeHint().height();
        label->setGeometry(labelX + shift, y + (comboHeight - labelHeight) / 2, labelWidth, labelHeight);
    };
    placeRow(m_penLabel, m_penColorComboBox, kPenRowY);
    placeRow(m_backgroundLabel, m_backgroundColorComboBox, backgroundRowY);
    placeRow(m_scaleLabel, m_scaleComboBox, scaleRowY);
    m_getPictureButton->setGeometry(columnX + shift, buttonY, columnWidth, buttonHeight);
    m_panel->setGeometry(0, 0, panelWidth, panelHeight);

    const int clientWidth = panelWidth + 1;
    const int closeY = panelHeight + kCloseButtonBelow;
    m_closeButton->setGeometry(
        clientWidth - kCloseButtonRight - closeWidth, closeY, closeWidth, kButtonHeight);
    setFixedSize(clientWidth, panelHeight + belowPanel);

    // A window grown past its screen's edge moves back inside.
    if (const QScreen* screen = this->screen(); screen && isVisible()) {
        const QRect available = screen->availableGeometry();
        const QRect frame = frameGeometry();
        const QPoint topLeft(
            std::max(available.left(), std::min(frame.left(), available.right() - frame.width() + 1)),
            std::max(available.top(), std::min(frame.top(), available.bottom() - frame.height() + 1)));
        if (topLeft != frame.topLeft())
            move(topLeft);
    }
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
