#pragma once

// The two small grids under the results list: the record's parameters and its computed
// results. They are display surfaces: no cell can be selected, the current cell sits on
// the hidden column 2, and the captions are drawn piece by piece so a subscript stands
// 2 pixels below its line.

#include <QTableWidget>

#include <vector>

struct TCaptionPiece
{
    QString Text;
    bool Lowered = false;
};
using TCaption = std::vector<TCaptionPiece>;

class TResultStringGrid : public QTableWidget
{
    Q_OBJECT

public:
    static constexpr int kRowHeight = 18;

    // `fixedRow`: row 0 is a heading row (the results grid); column 0 is always fixed.
    TResultStringGrid(int rows, bool fixedRow, QWidget* parent = nullptr);

    void SetCaption(int row, TCaption caption);
    const TCaption& Caption(int row) const { return m_captions.at(row); }
    // The caption as one line of text, for tests and accessibility.
    QString CaptionText(int row) const;

    // Column 0 as wide as its widest caption, in the grid's own font (both grids share the
    // window's font), and rows as high as the font needs, never below kRowHeight.
    void FitCaptions();
    int RowHeight() const;
    // Column 0 and the widest value among `values` (each as SetValue would show it), with
    // the cells' margins: the width at which nothing is cut off.
    int WidthFor(const QStringList& values) const;
    // A value wider than its clipped cell ends in "…"; its whole text is the cell's tooltip.
    bool ValueCut(int row) const;

    QString Value(int row) const;
    void SetValue(int row, const QString& text);
    // Empties column 1 from `firstRow` on.
    void ClearValues(int firstRow);

    bool FixedRow() const { return m_fixedRow; }
    // Values of column 1 are clipped to the cell (parameters) or may run past it (results).
    void SetClipValues(bool clip) { m_clipValues = clip; }
    bool ClipValues() const { return m_clipValues; }

    // A display surface never scrolls: column 0 stays in view when the grid is narrower
    // than its columns, as the hidden current cell would otherwise pull it aside.
    void scrollTo(const QModelIndex&, ScrollHint = EnsureVisible) override { }

protected:
    bool viewportEvent(QEvent* event) override;

private:
    std::vector<TCaption> m_captions;
    bool m_fixedRow;
    bool m_clipValues = true;
};

// The grids as the main window holds them, captions set.
TResultStringGrid* CreateParamStringGrid(QWidget* parent);
// Rows of the results grid: 1..8 the computed results down to the activity, then the measured
// strength and the forecast error (MPa, per cent), then the unit contraction.
constexpr int kMeasuredStrengthRow = 9;
constexpr int kForecastErrorRow = 10;
constexpr int kForecastErrorPercentRow = 11;
constexpr int kUnitContractionRow = 12;
TResultStringGrid* CreateDetailsStringGrid(QWidget* parent);
