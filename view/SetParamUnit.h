#pragma once

// The window in which the operator corrects four parameters of a stored measurement: cement mass,
// expected grade, supplier and hardening duration. It keeps the values it was loaded with, and each
// getter falls back to its loaded value when the control holds nothing usable, so confirming an
// untouched or garbled field never writes a made-up value.

#include <QDialog>

#include <cstdint>

class QComboBox;
class QKeyEvent;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TSetParamForm : public QDialog
{
    Q_OBJECT

public:
    explicit TSetParamForm(QWidget* owner);

    // The edit shows the mass, or "?" for 0.
    void SetCementMass(std::uint32_t mass);
    // The edit's text as a decimal integer 0..4294967295; the loaded mass for anything else ("?",
    // empty, signed, too large, pasted garbage).
    std::uint32_t GetCementMass() const;

    // Grades above 6 (taken as unsigned) select "неизв.", item 7.
    void SetCementGrade(std::uint32_t grade);
    // The selected item, 0..7.
    std::uint32_t GetCementGrade() const;

    // An invalid index leaves the list without a selection and "?" under it.
    void SetSupplier(std::uint32_t supplier);
    // The selected item; 0xFFFFFFFF when none is selected.
    std::uint32_t GetSupplier() const { return m_supplier; }

    // 7, 14, 60, 90, 180 and 360 select their item; any other value selects "28".
    void SetConcretionTime(std::int32_t days);
    // The selected item's days; the loaded value when its text is not an integer.
    std::int32_t GetConcretionTime() const;

    QLineEdit* CementMassEdit() const { return m_cementMassEdit; }
    QComboBox* CementGradeComboBox() const { return m_cementGradeComboBox; }
    QComboBox* SupplierComboBox() const { return m_supplierComboBox; }
    QPlainTextEdit* SupplierNameMemo() const { return m_supplierNameMemo; }
    QComboBox* ConcretionTimeComboBox() const { return m_concretionTimeComboBox; }
    QPushButton* ApplyButton() const { return m_applyButton; }
    QPushButton* CancelButton() const { return m_cancelButton; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SupplierComboBoxChange();
    // False for a key that must not reach the mass edit.
    static bool EditKeyPress(const QKeyEvent& key);

    std::uint32_t m_cementMass = 0;
    std::uint32_t m_cementGrade = 0;
    std::uint32_t m_supplier = 0xFFFFFFFF;
    std::int32_t m_concretionTime = 28;

    QLineEdit* m_cementMassEdit = nullptr;
    QComboBox* m_cementGradeComboBox = nullptr;
    QComboBox* m_supplierComboBox = nullptr;
    QPlainTextEdit* m_supplierNameMemo = nullptr;
    QComboBox* m_concretionTimeComboBox = nullptr;
    QPushButton* m_applyButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
