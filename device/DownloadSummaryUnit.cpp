#include "device/DownloadSummaryUnit.h"
#include "app/OperatorDialogs.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {

constexpr Qt::WindowFlags kWindowFlags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

constexpr int kPanelWidth = 193;
constexpr int kPanelHeight = 81;
constexpr int kClientHeight = 119;
constexpr int kCaptionX = 16;
constexpr int kCountX = 152;
constexpr int kFirstRowY = 16;
constexpr int kSecondRowY = 56;
constexpr int kSpacing = 8;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonY = 88;

QLabel* MakeLabel(const QString& text, QWidget* parent, const QString& name = {})
{
    auto* label = new QLabel(text, parent);
    if (!name.isEmpty())
        label->setObjectName(name);
    return label;
}

void Place(QLabel* label, int x, int y, int width)
{
    label->setGeometry(x, y, width, label->sizeHint().height());
}

} // namespace

TDownloadSummaryForm::TDownloadSummaryForm(QWidget* owner)
    : QDialog(owner, kWindowFlags)
{
    setObjectName(QStringLiteral("DownloadSummaryForm"));
    setWindowTitle(QStringLiteral("Результаты чтения"));

    m_panel = new QFrame(this);
    m_panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_inDeviceMemoryCaption = MakeLabel(QStringLiteral("В памяти прибора"), m_panel);
    m_resultsInDeviceMemoryLabel
        = MakeLabel(QStringLiteral("0"), m_panel, QStringLiteral("ResultsInDeviceMemoryLabel"));
    m_addedToProjectCaption = MakeLabel(QStringLiteral("Добавлено в проект"), m_panel);
    m_resultsAddedToProjectLabel
        = MakeLabel(QStringLiteral("0"), m_panel, QStringLiteral("ResultsAddedToProjectLabel"));

    m_closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    m_closeButton->setObjectName(QStringLiteral("CloseButton"));
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);

    Arrange();
}

void TDownloadSummaryForm::SetResultsInDeviceMemory(int count)
{
    m_resultsInDeviceMemory = count;
    m_resultsInDeviceMemoryLabel->setText(QString::number(count));
    Arrange();
}

void TDownloadSummaryForm::SetResultsAddedToProject(int count)
{
    m_resultsAddedToProject = count;
    m_resultsAddedToProjectLabel->setText(QString::number(count));
    Arrange();
}

void TDownloadSummaryForm::Arrange()
{
    const int captionWidth
        = std::max(m_inDeviceMemoryCaption->sizeHint().width(), m_addedToProjectCaption->sizeHint().width());
    const int countX = std::max(kCountX, kCaptionX + captionWidth + kSpacing);
    const int countWidth = std::max({kPanelWidth - kCaptionX - kCountX,
        m_resultsInDeviceMemoryLabel->sizeHint().width(), m_resultsAddedToProjectLabel->sizeHint().width()});
    const int panelWidth = std::max(kPanelWidth, countX + countWidth + kCaptionX);

    Place(m_inDeviceMemoryCaption, kCaptionX, kFirstRowY, captionWidth);
    Place(m_resultsInDeviceMemoryLabel, countX, kFirstRowY, countWidth);
    Place(m_addedToProjectCaption, kCaptionX, kSecondRowY, captionWidth);
    Place(m_resultsAddedToProjectLabel, countX, kSecondRowY, countWidth);
    m_panel->setGeometry(0, 0, panelWidth, kPanelHeight);

    const int clientWidth = panelWidth + 1;
    setFixedSize(clientWidth, kClientHeight);
    const int buttonWidth = std::max(kButtonWidth, m_closeButton->sizeHint().width());
    m_closeButton->setGeometry((clientWidth - buttonWidth + 1) / 2, kButtonY, buttonWidth, kButtonHeight);

    // The counts are set before the window is shown; keep it in the middle of the screen
    // (a dialog that has not been moved would sit over its owner).
    if (!isVisible())
        CentreOnScreen(*this);
}
