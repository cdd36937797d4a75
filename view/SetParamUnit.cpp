#include "view/SetParamUnit.h"
#include "app/OperatorDialogs.h"

#include "compute/ReferenceTables.h"
#include "compute/ResultText.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextDocument>

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>

namespace {

constexpr int kClientWidth = 266;
constexpr int kClientHeight = 263;
constexpr int kControlWidth = 73;
constexpr int kButtonWidth = 75;
constexpr int kMemoLines = 2;
constexpr std::uint32_t kUnknownGrade = 7;
constexpr std::int32_t kDefaultConcretionTime = 28;

const QString kUnknownMassText = QStringLiteral("?");

bool AllAsciiDigits(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Plain decimal digits only (a minus sign for signed types): no plus sign, exponent, other scripts'
// digits or wrap-around. Blanks around the number are forgiven, as a paste from a table cell brings a
// line end along.
template <typename T> std::optional<T> ParseDecimal(const QString& text)
{
    const std::string digits = text.trimmed().toStdString();
    const char* const last = digits.data() + digits.size();
    T value{};
    const auto [end, error] = std::from_chars(digits.data(), last, value);
    if (digits.empty() || error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

// Wide enough for the largest mass, so no digit scrolls out of sight.
int MassEditWidth(const QLineEdit& edit)
{
    QStyleOptionFrame option;
    option.initFrom(&edit);
    option.lineWidth = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit);
    const QMargins margins = edit.textMargins();
    // The line edit keeps 2 pixels each side of its text, and the cursor takes one more.
    const int text = edit.fontMetrics().horizontalAdvance(QStringLiteral("4294967295")) + margins.left()
        + margins.right() + 2 * 2 + 1;
    return edit.style()
        ->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(text, edit.fontMetrics().height()), &edit)
        .width();
}

QFrame* MakeSeparator(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QComboBox* MakeList(const QString& name, const QStringList& items, QWidget* parent)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(name);
    list->setEditable(false);
    list->addItems(items);
    return list;
}

QLabel* MakeCaption(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

TSetParamForm::TSetParamForm(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("SetParamForm"));
    setWindowTitle(QStringLiteral("Параметры"));

    m_cementMassEdit = new QLineEdit(this);
    m_cementMassEdit->setObjectName(QStringLiteral("CementMassEdit"));
    m_cementMassEdit->setInputMethodHints(Qt::ImhDigitsOnly);
    m_cementMassEdit->installEventFilter(this);

    QStringList grades;
    for (std::uint32_t grade = 0; grade <= kUnknownGrade; ++grade)
        grades << QString::fromStdString(GetCementGradeName(grade));
    m_cementGradeComboBox = MakeList(QStringLiteral("CementGradeComboBox"), grades, this);

    const std::string separator = QLocale::system().decimalPoint().toStdString();
    QStringList corrections;
    for (double correction : SupplierDataTable)
        corrections << QString::fromStdString(FormatDecimal(correction, 2, separator));
    m_supplierComboBox = MakeList(QStringLiteral("SupplierComboBox"), corrections, this);
    m_supplierComboBox->setCurrentIndex(-1);

    m_supplierNameMemo = new QPlainTextEdit(this);
    m_supplierNameMemo->setObjectName(QStringLiteral("SupplierNameMemo"));
    m_supplierNameMemo->setReadOnly(true);
    m_supplierNameMemo->setFocusPolicy(Qt::NoFocus);
    m_supplierNameMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_supplierNameMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int memoMargins = 2
        * (m_supplierNameMemo->frameWidth()
            + static_cast<int>(m_supplierNameMemo->document()->documentMargin()));
    // The view counts a line as cut unless a pixel is left over below it; fractional metrics may
    // want one more.
    m_supplierNameMemo->setFixedHeight(
        kMemoLines * m_supplierNameMemo->fontMetrics().lineSpacing() + memoMargins + 2);

    QStringList days;
    for (std::int32_t time : ConcretionTimes)
        days << QString::number(time);
    m_concretionTimeComboBox = MakeList(QStringLiteral("ConcretionTimeComboBox"), days, this);

    m_applyButton = new QPushButton(QStringLiteral("Применить"), this);
    m_applyButton->setObjectName(QStringLiteral("ApplyButton"));
    m_applyButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(m_applyButton, &QPushButton::clicked, this, &QDialog::accept);
    // Esc reaches QDialog::reject on its own.
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    // The memo follows the list whoever changes it, so the name shown always belongs to the
    // correction shown.
    connect(
        m_supplierComboBox, &QComboBox::currentIndexChanged, this, &TSetParamForm::SupplierComboBoxChange);

    int controlWidth = kControlWidth;
    for (QWidget* control :
        std::initializer_list<QWidget*>{m_cementGradeComboBox, m_supplierComboBox, m_concretionTimeComboBox})
        controlWidth = std::max(controlWidth, control->sizeHint().width());
    controlWidth = std::max(controlWidth, MassEditWidth(*m_cementMassEdit));
    for (QWidget* control : std::initializer_list<QWidget*>{
             m_cementMassEdit, m_cementGradeComboBox, m_supplierComboBox, m_concretionTimeComboBox})
        control->setFixedWidth(controlWidth);

    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    int row = 0;
    const auto addControl = [&](const QString& caption, QWidget* control) {
        grid->addWidget(MakeCaption(caption, control, this), row, 0);
        grid->addWidget(control, row, 1);
        ++row;
    };
    const auto addSeparator = [&] { grid->addWidget(MakeSeparator(this), row++, 0, 1, 2); };
    addControl(QStringLiteral("Масса цемента в стакане Co, г"), m_cementMassEdit);
    addSeparator();
    addControl(QStringLiteral("Ожидаемая марка"), m_cementGradeComboBox);
    addSeparator();
    addControl(QStringLiteral("ΔΔV, мл (поставщик)"), m_supplierComboBox);
    grid->addWidget(m_supplierNameMemo, row++, 0, 1, 2);
    addSeparator();
    addControl(QStringLiteral("Длительность твердения, сут"), m_concretionTimeComboBox);
    grid->setColumnStretch(0, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    for (QPushButton* button : {m_applyButton, m_cancelButton}) {
        button->setMinimumWidth(kButtonWidth);
        buttons->addWidget(button);
    }
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addLayout(buttons);

    // Wider only when the desktop's font leaves a caption no room.
    const QSize needed = layout->totalSizeHint();
    setFixedSize(std::max(kClientWidth, needed.width()), std::max(kClientHeight, needed.height()));
    CentreOnScreen(*this);

    SupplierComboBoxChange();
}

void TSetParamForm::SetCementMass(std::uint32_t mass)
{
    m_cementMass = mass;
    m_cementMassEdit->setText(mass == 0 ? kUnknownMassText : QString::number(mass));
}

std::uint32_t TSetParamForm::GetCementMass() const
{
    return ParseDecimal<std::uint32_t>(m_cementMassEdit->text()).value_or(m_cementMass);
}

void TSetParamForm::SetCementGrade(std::uint32_t grade)
{
    m_cementGrade = grade;
    m_cementGradeComboBox->setCurrentIndex(static_cast<int>(std::min(grade, kUnknownGrade)));
}

std::uint32_t TSetParamForm::GetCementGrade() const
{
    const int index = m_cementGradeComboBox->currentIndex();
    return index >= 0 ? static_cast<std::uint32_t>(index) : m_cementGrade;
}

void TSetParamForm::SetSupplier(std::uint32_t supplier)
{
    m_supplier = supplier;
    m_supplierComboBox->setCurrentIndex(IsSupplierValid(supplier) ? static_cast<int>(supplier) : -1);
    SupplierComboBoxChange();
}

void TSetParamForm::SupplierComboBoxChange()
{
    // No selection is stored as all bits set, which every lookup treats as an unknown supplier.
    m_supplier = static_cast<std::uint32_t>(m_supplierComboBox->currentIndex());
    m_supplierNameMemo->setPlainText(QString::fromStdString(GetSupplierName(m_supplier)));
}

void TSetParamForm::SetConcretionTime(std::int32_t days)
{
    m_concretionTime = days;
    const int column = FindConcretionTimeColumn(days);
    m_concretionTimeComboBox->setCurrentIndex(
        column >= 0 ? column : FindConcretionTimeColumn(kDefaultConcretionTime));
}

std::int32_t TSetParamForm::GetConcretionTime() const
{
    return ParseDecimal<std::int32_t>(m_concretionTimeComboBox->currentText()).value_or(m_concretionTime);
}

bool TSetParamForm::EditKeyPress(const QKeyEvent& key)
{
    // Shortcuts (copy, paste, undo, select all) insert no typed text of their own.
    if (key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        return true;
    const QString text = key.text();
    // Keys without printable text are editing and dialog keys: backspace, Delete, arrows,
    // Home/End, Tab, Enter for the default button, Esc.
    if (text.isEmpty() || !text.front().isPrint())
        return true;
    return AllAsciiDigits(text);
}

bool TSetParamForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_cementMassEdit)
        return QDialog::eventFilter(watched, event);
    QString typed;
    if (event->type() == QEvent::KeyPress) {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        if (!EditKeyPress(key))
            return true;
        if (!(key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
            typed = key.text();
    } else if (event->type() == QEvent::InputMethod) {
        // A composed commit is typed text too.
        typed = static_cast<const QInputMethodEvent&>(*event).commitString();
        if (!AllAsciiDigits(typed))
            return true;
    }
    // "?" stands for an unknown mass: the first digit typed replaces it instead of following it.
    if (!typed.isEmpty() && AllAsciiDigits(typed) && m_cementMassEdit->text() == kUnknownMassText)
        m_cementMassEdit->clear();
    return QDialog::eventFilter(watched, event);
}
