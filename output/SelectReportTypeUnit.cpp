#include "output/SelectReportTypeUnit.h"
#include "app/OperatorDialogs.h"

#include <QDialogButtonBox>
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
    m_currentRecordRadioButton
        = new QRadioButton(QStringLiteral("Включить в отчёт только текущую запись"), this);
    m_currentRecordRadioButton->setObjectName(QStringLiteral("CurrentRecordRadioButton"));
    m_allRecordsRadioButton = new QRadioButton(QStringLiteral("Включить в отчёт все записи проекта"), this);
    m_allRecordsRadioButton->setObjectName(QStringLiteral("AllRecordsRadioButton"));
    layout->addWidget(m_currentRecordRadioButton);
    layout->addWidget(m_allRecordsRadioButton);
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
