#include "output/SelectReportTypeUnit.h"
#include "app/OperatorDialogs.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

TSelectReportTypeForm::TSelectReportTypeForm(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("SelectReportTypeForm"));
    setWindowTitle(QStringLiteral("Выбор типа отчёта"));
    auto* layout = new QVBoxLayout(this);
    auto* typeBox = new QGroupBox(QStringLiteral("Отчёт"), this);
    auto* typeLayout = new QVBoxLayout(typeBox);
    m_sheetRadioButton = new QRadioButton(QStringLiteral("Лист испытания (форма прибора)"), typeBox);
    m_sheetRadioButton->setObjectName(QStringLiteral("SheetRadioButton"));
    m_labProtocolRadioButton = new QRadioButton(QStringLiteral("Протокол лаборатории"), typeBox);
    m_labProtocolRadioButton->setObjectName(QStringLiteral("LabProtocolRadioButton"));
    typeLayout->addWidget(m_sheetRadioButton);
    typeLayout->addWidget(m_labProtocolRadioButton);
    layout->addWidget(typeBox);
    auto* recordsBox = new QGroupBox(QStringLiteral("Записи"), this);
    auto* recordsLayout = new QVBoxLayout(recordsBox);
    m_currentRecordRadioButton
        = new QRadioButton(QStringLiteral("Включить в отчёт только текущую запись"), this);
    m_currentRecordRadioButton->setObjectName(QStringLiteral("CurrentRecordRadioButton"));
    m_allRecordsRadioButton = new QRadioButton(QStringLiteral("Включить в отчёт все записи проекта"), this);
    m_allRecordsRadioButton->setObjectName(QStringLiteral("AllRecordsRadioButton"));
    recordsLayout->addWidget(m_currentRecordRadioButton);
    recordsLayout->addWidget(m_allRecordsRadioButton);
    layout->addWidget(recordsBox);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* apply = buttons->addButton(QStringLiteral("Применить"), QDialogButtonBox::AcceptRole);
    apply->setObjectName(QStringLiteral("ApplyButton"));
    apply->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    SetAllRecords(false);
    SetLabProtocol(false);
    setFixedSize(sizeHint());
    CentreOnScreen(*this);
}

void TSelectReportTypeForm::SetAllRecords(bool all)
{
    m_allRecordsRadioButton->setChecked(all);
    m_currentRecordRadioButton->setChecked(!all);
}

bool TSelectReportTypeForm::AllRecords() const
{
    return !m_currentRecordRadioButton->isChecked();
}

void TSelectReportTypeForm::SetLabProtocol(bool lab)
{
    m_labProtocolRadioButton->setChecked(lab);
    m_sheetRadioButton->setChecked(!lab);
}

bool TSelectReportTypeForm::LabProtocol() const
{
    return m_labProtocolRadioButton->isChecked();
}
