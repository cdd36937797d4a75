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

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        return lower(x) == lower(y);
    });
}

// The settings file reader knows numbers only; text keys are found in its lines the way it
// finds its own: the first key of that name in the first section of that name.
std::string ReadText(const std::string& fileText, std::string_view section, std::string_view key)
{
    bool inSection = false;
    bool seen = false;
    std::string_view text = fileText;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            if (seen)
                return {};
            inSection = SameName(Trim(line.substr(1, line.size() - 2)), section);
            seen = inSection;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (inSection && !line.empty() && line.front() != ';' && eq != std::string_view::npos && eq > 0
            && SameName(Trim(line.substr(0, eq)), key))
            return std::string(Trim(line.substr(eq + 1)));
    }
    return {};
}

// The file's writer places the key (its section made when missing); its number is then
// replaced by the text in the same line.
void WriteText(TIniFile& ini, std::string_view section, std::string_view key, std::string value)
{
    std::replace(value.begin(), value.end(), '\n', ' ');
    std::replace(value.begin(), value.end(), '\r', ' ');
    constexpr std::int32_t kPlaceholder = -2147483647;
    ini.WriteInteger(section, key, kPlaceholder);
    const std::string placed = std::string(key) + "=" + std::to_string(kPlaceholder) + "\r\n";
    std::string text = ini.Text();
    const std::size_t at = text.find(placed);
    if (at != std::string::npos && (at == 0 || text[at - 1] == '\n'))
        text.replace(at, placed.size(), std::string(key) + "=" + std::string(Trim(value)) + "\r\n");
    ini.Parse(text);
}

} // namespace

std::string ReadSettingsText(const std::string& settingsFile, std::string_view section, std::string_view key)
{
    return ReadText(TIniFile(settingsFile).Text(), section, key);
}

void WriteSettingsText(
    const std::string& settingsFile, std::string_view section, std::string_view key, const std::string& value)
{
    TIniFile ini(settingsFile);
    WriteText(ini, section, key, value);
    ini.UpdateFile();
}

TLaboratory LoadLaboratory(const std::string& settingsFile)
{
    const std::string text = TIniFile(settingsFile).Text();
    TLaboratory laboratory;
    for (const TKey& key : kKeys)
        laboratory.*key.Field = ReadText(text, kSection, key.Name);
    return laboratory;
}

void SaveLaboratory(const std::string& settingsFile, const TLaboratory& laboratory)
{
    TIniFile ini(settingsFile);
    for (const TKey& key : kKeys)
        WriteText(ini, kSection, key.Name, laboratory.*key.Field);
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
    if (form.exec() != QDialog::Accepted)
        return false;
    SaveLaboratory(settingsFile.toStdString(), form.Laboratory());
    return true;
}
