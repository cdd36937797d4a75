#include "settings/LaboratoryUnit.h"

#include "app/IniFile.h"
#include "app/OperatorDialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr const char* kSection = "Laboratory";

struct TKey
{
    const char* Name;
    std::string TLaboratory::*Field;
};

const TKey kKeys[] = {
    {"Name", &TLaboratory::Name},
    {"Address", &TLaboratory::Address},
    {"Accreditation", &TLaboratory::Accreditation},
    {"Logo", &TLaboratory::LogoFile},
    {"TestedBy", &TLaboratory::TestedBy},
    {"CheckedBy", &TLaboratory::CheckedBy},
    {"ApprovedBy", &TLaboratory::ApprovedBy},
};

} // namespace

std::string ReadSettingsText(const std::string& settingsFile, std::string_view section, std::string_view key)
{
    return TIniFile(settingsFile).ReadString(section, key);
}

void WriteSettingsText(
    const std::string& settingsFile, std::string_view section, std::string_view key, const std::string& value)
{
    TIniFile ini(settingsFile);
    ini.WriteString(section, key, value);
    ini.UpdateFile();
}

TLaboratory LoadLaboratory(const std::string& settingsFile)
{
    const TIniFile ini(settingsFile);
    TLaboratory laboratory;
    for (const TKey& key : kKeys)
        laboratory.*key.Field = ini.ReadString(kSection, key.Name);
    return laboratory;
}

void SaveLaboratory(const std::string& settingsFile, const TLaboratory& laboratory)
{
    TIniFile ini(settingsFile);
    for (const TKey& key : kKeys)
        ini.WriteString(kSection, key.Name, laboratory.*key.Field);
    ini.UpdateFile();
}

TLaboratoryForm::TLaboratoryForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("LaboratoryForm"));
    setWindowTitle(QStringLiteral("Лаборатория"));
    auto* form = new QFormLayout;
    auto field = [this, form](const char* name, const QString& label) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setMinimumWidth(360);
        form->addRow(label, edit);
        return edit;
    };
    m_name = field("NameEdit", QStringLiteral("Наименование:"));
    m_address = field("AddressEdit", QStringLiteral("Адрес:"));
    m_accreditation = field("AccreditationEdit", QStringLiteral("Аттестат аккредитации №:"));
    m_logo = new QLineEdit(this);
    m_logo->setObjectName(QStringLiteral("LogoEdit"));
    m_logo->setPlaceholderText(QStringLiteral("без эмблемы"));
    auto* logoRow = new QHBoxLayout;
    logoRow->addWidget(m_logo, 1);
    auto* choose = new QPushButton(QStringLiteral("Выбрать..."), this);
    choose->setObjectName(QStringLiteral("ChooseLogoButton"));
    choose->setAutoDefault(false);
    logoRow->addWidget(choose);
    form->addRow(QStringLiteral("Эмблема (рисунок):"), logoRow);
    m_testedBy = field("TestedByEdit", QStringLiteral("Испытания провёл:"));
    m_checkedBy = field("CheckedByEdit", QStringLiteral("Проверил:"));
    m_approvedBy = field("ApprovedByEdit", QStringLiteral("Утверждаю:"));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = buttons->addButton(QStringLiteral("Сохранить"), QDialogButtonBox::AcceptRole);
    save->setObjectName(QStringLiteral("SaveButton"));
    save->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(choose, &QPushButton::clicked, this, &TLaboratoryForm::ChooseLogo);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    CentreOnScreen(*this);
}

void TLaboratoryForm::SetLaboratory(const TLaboratory& laboratory)
{
    m_name->setText(QString::fromStdString(laboratory.Name));
    m_address->setText(QString::fromStdString(laboratory.Address));
    m_accreditation->setText(QString::fromStdString(laboratory.Accreditation));
    m_logo->setText(QString::fromStdString(laboratory.LogoFile));
    m_testedBy->setText(QString::fromStdString(laboratory.TestedBy));
    m_checkedBy->setText(QString::fromStdString(laboratory.CheckedBy));
    m_approvedBy->setText(QString::fromStdString(laboratory.ApprovedBy));
}

TLaboratory TLaboratoryForm::Laboratory() const
{
    const auto text = [](const QLineEdit* edit) { return edit->text().trimmed().toStdString(); };
    TLaboratory laboratory;
    laboratory.Name = text(m_name);
    laboratory.Address = text(m_address);
    laboratory.Accreditation = text(m_accreditation);
    laboratory.LogoFile = text(m_logo);
    laboratory.TestedBy = text(m_testedBy);
    laboratory.CheckedBy = text(m_checkedBy);
    laboratory.ApprovedBy = text(m_approvedBy);
    return laboratory;
}

QLineEdit* TLaboratoryForm::Field(const char* objectName) const
{
    return findChild<QLineEdit*>(QLatin1String(objectName));
}

void TLaboratoryForm::ChooseLogo()
{
    TFileDialogOptions options;
    options.Title = QStringLiteral("Эмблема лаборатории");
    options.Filter = QStringLiteral("Рисунки (*.png *.jpg *.jpeg *.bmp *.svg)");
    const QString file = OperatorDialogs().OpenFileName(options);
    if (!file.isEmpty())
        m_logo->setText(file);
}

bool ShowLaboratoryDialog(QWidget* owner, const QString& settingsFile)
{
    TLaboratoryForm form(owner);
    form.SetLaboratory(LoadLaboratory(settingsFile.toStdString()));
    CentreOnScreen(form);
    if (form.exec() != QDialog::Accepted)
        return false;
    SaveLaboratory(settingsFile.toStdString(), form.Laboratory());
    return true;
}
