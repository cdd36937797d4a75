#pragma once

// The window in which the operator chooses each channel's line colour. It works on its own copy
// of the colours (0x00BBGGRR): a pick changes the copy only, and closing without "Применить"
// puts back what the caller set. A colour that is not among the offered ones is kept and painted
// as it is until the operator picks another.

#include <QDialog>

#include <cstdint>
#include <vector>

class QComboBox;
class QPushButton;
class QTableWidget;

class TSetColorsForm : public QDialog
{
    Q_OBJECT

public:
    explicit TSetColorsForm(QWidget* owner);

    // One grid row per colour; the selection goes back to the first row's colour cell.
    void SetColors(const std::vector<std::uint32_t>& colors);
    std::vector<std::uint32_t> Colors() const { return m_colors; }

    QTableWidget* ColorsDrawGrid() const { return m_colorsDrawGrid; }
    QComboBox* ColorComboBox() const { return m_colorComboBox; }
    QPushButton* ApplyButton() const { return m_applyButton; }
    QPushButton* CancelButton() const { return m_cancelButton; }

    void reject() override;

private:
    void ColorsDrawGridSelectCell(int row, int column);
    void ColorComboBoxChange(int index);

    std::vector<std::uint32_t> m_colors;
    std::vector<std::uint32_t> m_givenColors;
    int m_comboRow = -1; // the row whose colour the drop-down shows

    QTableWidget* m_colorsDrawGrid = nullptr;
    QComboBox* m_colorComboBox = nullptr;
    QPushButton* m_applyButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
