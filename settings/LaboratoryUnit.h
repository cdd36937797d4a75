#pragma once

// The laboratory that issues protocols: its name, address, accreditation, an optional logo
// and the people who sign. Set once in the "Лаборатория..." window and kept in the
// settings file, section [Laboratory], as UTF-8 text.

#include <QDialog>
#include <QString>

#include <string>
#include <string_view>

class QLineEdit;

struct TLaboratory
{
    std::string Name;
    std::string Address;
    std::string Accreditation; // the accreditation certificate's number
    std::string LogoFile;      // a picture file; empty: no logo
    std::string TestedBy;      // "Испытания провёл"
    std::string CheckedBy;     // "Проверил"
    std::string ApprovedBy;    // "Утверждаю"

    bool operator==(const TLaboratory&) const = default;
};

// A missing file, section or key reads as empty text.
TLaboratory LoadLaboratory(const std::string& settingsFile);
// Writes every key and keeps the file's other lines; a line break in a text becomes a
// blank. Throws TIniFileError "Unable to write to <file>".
void SaveLaboratory(const std::string& settingsFile, const TLaboratory& laboratory);

// A text key of the settings file: the first key of that name in the first section of that
// name, compared without regard to case; empty when there is none.
std::string ReadSettingsText(const std::string& settingsFile, std::string_view section, std::string_view key);
// Sets the key (its section made when missing), keeping the file's other lines; a line
// break becomes a blank. Throws TIniFileError "Unable to write to <file>".
void WriteSettingsText(const std::string& settingsFile, std::string_view section, std::string_view key,
    const std::string& value);

class TLaboratoryForm : public QDialog
{
    Q_OBJECT

public:
    explicit TLaboratoryForm(QWidget* owner);

    void SetLaboratory(const TLaboratory& laboratory);
    TLaboratory Laboratory() const;

    QLineEdit* Field(const char* objectName) const;

private:
    void ChooseLogo();

    QLineEdit* m_name = nullptr;
    QLineEdit* m_address = nullptr;
    QLineEdit* m_accreditation = nullptr;
    QLineEdit* m_logo = nullptr;
    QLineEdit* m_testedBy = nullptr;
    QLineEdit* m_checkedBy = nullptr;
    QLineEdit* m_approvedBy = nullptr;
};

// The "Лаборатория..." command: shows the window with what the settings file holds and
// writes it back on "Сохранить". True when written; errors escape as exceptions.
bool ShowLaboratoryDialog(QWidget* owner, const QString& settingsFile);
