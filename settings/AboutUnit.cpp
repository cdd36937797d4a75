#include "settings/AboutUnit.h"
#include "app/OperatorDialogs.h"

#include "settings/Version.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include <algorithm>

namespace {

// The design's geometry, for a font whose line is 13 pixels high.
constexpr int kDesignLineHeight = 13;
constexpr int kClientWidth = 274;
constexpr int kClientHeight = 197;
constexpr int kBevelWidth = 273;
constexpr int kBevelHeight = 161;
constexpr int kWrappedWidth = 249;
constexpr int kWrappedHeight = 25;
constexpr QRect kCloseButtonRect{100, 168, 75, 25};
constexpr int kLabelGap = 8;

QLabel* MakeLabel(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QLabel* MakeWrappedLabel(const QString& name, const QString& text, QWidget* parent)
{
    QLabel* label = MakeLabel(name, text, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

void MakeClickable(QLabel* label)
{
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(palette);
    label->setCursor(Qt::PointingHandCursor);
}

} // namespace

std::optional<QString> VersionValue(const QString& key)
{
    for (const TVersionString& entry : VERSION_STRINGS) {
        if (key == QLatin1String(entry.Key)) {
            if (*entry.Value == '\0')
                return std::nullopt;
            return QString::fromUtf8(entry.Value);
        }
    }
    return std::nullopt;
}

TAboutForm::TAboutForm(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("О программе"));

    auto* bevel = new QFrame(this);
    bevel->setFrameShape(QFrame::Box);
    bevel->setFrameShadow(QFrame::Sunken);
    m_bevel = bevel;

    // What the operator reads for a string the program does not have.
    m_productNameLabel
        = MakeLabel(QStringLiteral("ProductNameLabel"), QStringLiteral("Название не указано"), this);
    m_commentsLabel
        = MakeWrappedLabel(QStringLiteral("CommentsLabel"), QStringLiteral("Описание не указано"), this);
    m_fileVersionLabel
        = MakeLabel(QStringLiteral("FileVersionLabel"), QStringLiteral("Версия не указана,"), this);
    m_yearLabel = MakeLabel(QStringLiteral("YearLabel"), QStringLiteral("год не указан"), this);
    m_companyNameLabel
        = MakeLabel(QStringLiteral("CompanyNameLabel"), QStringLiteral("Разработчик: нет"), this);
    m_companyPhoneLabel
        = MakeWrappedLabel(QStringLiteral("CompanyPhoneLabel"), QStringLiteral("тел. нет"), this);
    m_companyEMailLabel = MakeLabel(QStringLiteral("CompanyEMailLabel"), QStringLiteral("e-mail: нет"), this);
    m_companyWebLabel = MakeLabel(QStringLiteral("CompanyWebLabel"), QStringLiteral("сайт: нет"), this);
    m_companyEMailLabel->installEventFilter(this);
    m_companyWebLabel->installEventFilter(this);

    m_closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    m_closeButton->setObjectName(QStringLiteral("CloseButton"));
    m_closeButton->setDefault(true);
    // Esc reaches QDialog::reject on its own.
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);

    Arrange();
}

void TAboutForm::Fill(const TVersionQuery& query)
{
    const auto set = [&](const char* key, QLabel* label, const QString& prefix, const QString& suffix) {
        const std::optional<QString> value = query(QLatin1String(key));
        if (value)
            label->setText(prefix + *value + suffix);
        return value;
    };
    set("ProductName", m_productNameLabel, {}, {});
    set("Comments", m_commentsLabel, {}, {});
    set("FileVersion", m_fileVersionLabel, QStringLiteral("Версия "), QStringLiteral(","));
    set("Year", m_yearLabel, {}, {});
    set("CompanyName", m_companyNameLabel, {}, {});
    set("CompanyPhone", m_companyPhoneLabel, QStringLiteral("тел. "), {});
    if (const auto mail = set("CompanyEMail", m_companyEMailLabel, QStringLiteral("e-mail: "), {})) {
        m_mailTarget = QStringLiteral("mailto:") + *mail;
        MakeClickable(m_companyEMailLabel);
    }
    if (const auto web = set("CompanyWeb", m_companyWebLabel, QStringLiteral("http://"), {})) {
        m_webTarget = QStringLiteral("http://") + *web;
        MakeClickable(m_companyWebLabel);
    }
    Arrange();
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease
        && (watched == m_companyEMailLabel || watched == m_companyWebLabel)) {
        const auto& mouse = static_cast<const QMouseEvent&>(*event);
        auto* label = static_cast<QLabel*>(watched);
        // A press that the operator drags off the label before letting go is not a click.
        if (mouse.button() == Qt::LeftButton && label->rect().contains(mouse.position().toPoint())) {
            if (label == m_companyEMailLabel)
                CompanyEMailLabelClick();
            else
                CompanyWebLabelClick();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutForm::CompanyEMailLabelClick()
{
    if (!m_mailTarget.isEmpty())
        QDesktopServices::openUrl(QUrl(m_mailTarget));
}

void TAboutForm::CompanyWebLabelClick()
{
    if (!m_webTarget.isEmpty())
        QDesktopServices::openUrl(QUrl(m_webTarget));
}

void TAboutForm::Arrange()
{
    int shift = 0; // how far the rows below have been pushed down
    int right = 0; // the rightmost pixel column in use
    const auto placeLine = [&](QLabel* label, int left, int top) {
        label->adjustSize();
        label->move(left, top + shift);
        right = std::max(right, label->x() + label->width());
        return label->height();
    };
    const auto endLine = [&](int height) { shift += std::max(0, height - kDesignLineHeight); };
    const auto placeWrapped = [&](QLabel* label, int left, int top) {
        const int height = std::max(kWrappedHeight, label->heightForWidth(kWrappedWidth));
        label->setGeometry(left, top + shift, kWrappedWidth, height);
        right = std::max(right, left + kWrappedWidth);
        shift += height - kWrappedHeight;
    };
    const auto rightOf = [](const QLabel* label) { return label->x() + label->width() + kLabelGap; };

    endLine(placeLine(m_productNameLabel, 16, 16));
    placeWrapped(m_commentsLabel, 16, 32);
    int height = placeLine(m_fileVersionLabel, 16, 64);
    endLine(std::max(height, placeLine(m_yearLabel, std::max(104, rightOf(m_fileVersionLabel)), 64)));
    endLine(placeLine(m_companyNameLabel, 16, 88));
    placeWrapped(m_companyPhoneLabel, 16, 104);
    height = placeLine(m_companyEMailLabel, 16, 136);
    endLine(std::max(height, placeLine(m_companyWebLabel, std::max(144, rightOf(m_companyEMailLabel)), 136)));

    const int clientWidth = std::max(kClientWidth, right + kLabelGap + 1);
    m_bevel->setGeometry(0, 0, clientWidth - (kClientWidth - kBevelWidth), kBevelHeight + shift);
    const int buttonWidth = std::max(kCloseButtonRect.width(), m_closeButton->sizeHint().width());
    const int buttonLeft = kCloseButtonRect.left() + (clientWidth - kClientWidth) / 2
        - (buttonWidth - kCloseButtonRect.width()) / 2;
    m_closeButton->setGeometry(
        buttonLeft, kCloseButtonRect.top() + shift, buttonWidth, kCloseButtonRect.height());
    setFixedSize(clientWidth, kClientHeight + shift);
    CentreOnScreen(*this);
}
