#include "app/SamplePanel.h"

#include "store/MainDataModuleUnit.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include <cmath>

namespace {

const QDate kEpoch(1899, 12, 30);
// The lowest date of an edit shows as "not given".
const QDate kNoDate(1900, 1, 1);

QDateEdit* DateEdit(QWidget* parent, const char* name)
{
    auto* edit = new QDateEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    edit->setCalendarPopup(true);
    edit->setMinimumDate(kNoDate);
    edit->setMaximumDate(QDate(9999, 12, 31));
    edit->setSpecialValueText(QStringLiteral("не указана"));
    edit->setDate(kNoDate);
    return edit;
}

QLineEdit* TextEdit(QWidget* parent, const char* name, const char* hint)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(static_cast<int>(kSampleTextLimit));
    edit->setPlaceholderText(QString::fromUtf8(hint));
    return edit;
}

} // namespace

double OleDateOf(const QDate& date)
{
    return static_cast<double>(kEpoch.daysTo(date));
}

QDate DateOfOle(double oleDate)
{
    return kEpoch.addDays(static_cast<qint64>(std::floor(oleDate)));
}

TSamplePanel::TSamplePanel(TMainDataModule& dataModule, QWidget* parent)
    : QWidget(parent)
    , m_dataModule(dataModule)
{
    setObjectName(QStringLiteral("SamplePanel"));
    // Captions beside their fields, one a row: the panel has a page of its own under the chart,
    // as high as the comment's, and the captions are read at a glance down one column.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(1);
    m_code = TextEdit(this, "SampleCodeEdit", "");
    m_cementType = TextEdit(this, "CementTypeEdit", "");
    m_manufacturer = TextEdit(this, "ManufacturerEdit", "");
    m_batch = TextEdit(this, "BatchEdit", "");
    m_samplingDate = DateEdit(this, "SamplingDateEdit");
    m_strength = new QLineEdit(this);
    m_strength->setObjectName(QStringLiteral("StrengthEdit"));
    m_strength->setPlaceholderText(QStringLiteral("МПа"));
    m_strength->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("\\d{0,3}([.,]\\d{0,2})?")), m_strength));
    m_strengthDate = DateEdit(this, "StrengthDateEdit");
    const std::pair<const char*, QWidget*> fields[]
        = {{"Шифр пробы", m_code}, {"Вид цемента", m_cementType}, {"Завод-изготовитель", m_manufacturer},
            {"Номер партии", m_batch}, {"Дата отбора пробы", m_samplingDate},
            {"Фактическая активность, МПа", m_strength}, {"Дата испытания", m_strengthDate}};
    for (int i = 0; i < static_cast<int>(std::size(fields)); ++i) {
        auto* caption = new QLabel(QString::fromUtf8(fields[i].first) + QLatin1Char(':'), this);
        caption->setBuddy(fields[i].second);
        grid->addWidget(caption, i, 0);
        grid->addWidget(fields[i].second, i, 1);
    }
    grid->setColumnStretch(0, 0);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(static_cast<int>(std::size(fields)), 1);
    m_strength->setToolTip(QStringLiteral(
        "Прочность при сжатии в срок твердения по стандартному испытанию; вносится, когда оно выполнено"));

    for (QLineEdit* edit : {m_code, m_cementType, m_manufacturer, m_batch, m_strength}) {
        connect(edit, &QLineEdit::textEdited, this, &TSamplePanel::Edited);
        connect(edit, &QLineEdit::editingFinished, this, &TSamplePanel::Exit);
    }
    for (QDateEdit* edit : {m_samplingDate, m_strengthDate}) {
        connect(edit, &QDateEdit::dateChanged, this, &TSamplePanel::Edited);
        connect(edit, &QDateEdit::editingFinished, this, &TSamplePanel::Exit);
    }
    m_dataModule.ResultDataSet().AddListener(this);
    Reload();
}

TSamplePanel::~TSamplePanel()
{
    m_dataModule.ResultDataSet().RemoveListener(this);
}

void TSamplePanel::Reload()
{
    if (m_writing)
        return;
    const TCachedDataSet& ds = m_dataModule.ResultDataSet();
    const bool hasRow = ds.Active() && !ds.IsEmpty();
    const TSampleInfo info = hasRow ? m_dataModule.GetSampleInfo() : TSampleInfo{};
    m_loading = true;
    auto show = [](QLineEdit* edit, const std::string& text) {
        const QString value = QString::fromStdString(text);
        if (edit->text() != value)
            edit->setText(value);
    };
    show(m_code, info.Code);
    show(m_cementType, info.CementType);
    show(m_manufacturer, info.Manufacturer);
    show(m_batch, info.Batch);
    QString strength;
    if (info.Strength)
        strength
            = QString::number(*info.Strength, 'f', 2).remove(QRegularExpression(QStringLiteral("\\.?0+$")));
    if (m_strength->text().replace(QLatin1Char(','), QLatin1Char('.')) != strength)
        m_strength->setText(strength);
    m_samplingDate->setDate(info.SamplingDate ? DateOfOle(*info.SamplingDate) : kNoDate);
    m_strengthDate->setDate(info.StrengthDate ? DateOfOle(*info.StrengthDate) : kNoDate);
    m_loading = false;
    setEnabled(hasRow);
}

void TSamplePanel::Edited()
{
    const TCachedDataSet& ds = m_dataModule.ResultDataSet();
    if (m_loading || !ds.Active() || ds.IsEmpty())
        return;
    TSampleInfo info;
    info.Code = m_code->text().trimmed().toStdString();
    info.CementType = m_cementType->text().trimmed().toStdString();
    info.Manufacturer = m_manufacturer->text().trimmed().toStdString();
    info.Batch = m_batch->text().trimmed().toStdString();
    bool number = false;
    const double strength = m_strength->text().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&number);
    if (number)
        info.Strength = strength;
    auto date = [](QDateEdit* edit) {
        return edit->date() > kNoDate ? std::optional<double>(OleDateOf(edit->date())) : std::nullopt;
    };
    info.SamplingDate = date(m_samplingDate);
    info.StrengthDate = date(m_strengthDate);
    if (info == m_dataModule.GetSampleInfo())
        return;
    m_writing = true;
    try {
        m_dataModule.SetSampleInfo(info);
    } catch (...) {
        m_writing = false;
        throw;
    }
    m_writing = false;
}
