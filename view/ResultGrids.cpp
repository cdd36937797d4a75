#include "view/ResultGrids.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

const QString kDelta = QStringLiteral("Δ");
const QString kDeltaDelta = QStringLiteral("ΔΔ");

class TCellDelegate : public QStyledItemDelegate
{
public:
    explicit TCellDelegate(TResultStringGrid* grid)
        : QStyledItemDelegate(grid)
        , m_grid(grid)
    { }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QRect cell = option.rect;
        const bool fixed = index.column() == 0 || (m_grid->FixedRow() && index.row() == 0);
        painter->save();
        painter->fillRect(cell, option.palette.color(fixed ? QPalette::Button : QPalette::Base));
        painter->setPen(option.palette.color(fixed ? QPalette::ButtonText : QPalette::Text));
        const QFontMetrics metrics(option.font);
        const int x = cell.left() + 2;
        const int top = cell.top() + (cell.height() - metrics.height()) / 2;
        if (index.column() == 0) {
            int left = x;
            for (const TCaptionPiece& piece : m_grid->Caption(index.row())) {
                const int y = top + (piece.Lowered ? 2 : 0);
                painter->drawText(QPoint(left, y + metrics.ascent()), piece.Text);
                left += metrics.horizontalAdvance(piece.Text);
            }
        } else if (index.column() == 1) {
            if (m_grid->ClipValues())
                painter->setClipRect(cell);
            painter->drawText(QPoint(x, top + metrics.ascent()), index.data().toString());
        }
        painter->restore();
    }

private:
    TResultStringGrid* m_grid;
};

TCaption Text(const QString& text)
{
    return {{text, false}};
}

} // namespace

TResultStringGrid::TResultStringGrid(int rows, bool fixedRow, QWidget* parent)
    : QTableWidget(rows, 3, parent)
    , m_captions(static_cast<std::size_t>(rows))
    , m_fixedRow(fixedRow)
{
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    horizontalHeader()->setMinimumSectionSize(0);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setShowGrid(true);
    setWordWrap(false);
    setItemDelegate(new TCellDelegate(this));
    setColumnWidth(0, 200);
    setColumnWidth(2, 0);
    for (int r = 0; r < rows; ++r) {
        setRowHeight(r, kRowHeight);
        for (int c = 0; c < 3; ++c)
            setItem(r, c, new QTableWidgetItem);
    }
    // Keeps the current cell on the hidden column, so nothing visible is ever marked.
    setCurrentCell(0, 2, QItemSelectionModel::NoUpdate);
}

void TResultStringGrid::SetCaption(int row, TCaption caption)
{
    m_captions.at(row) = std::move(caption);
    viewport()->update();
}

QString TResultStringGrid::CaptionText(int row) const
{
    QString text;
    for (const TCaptionPiece& piece : m_captions.at(row))
        text += piece.Text;
    return text;
}

void TResultStringGrid::FitCaptions()
{
    QFont fitted = font();
    for (;;) {
        const QFontMetrics metrics(fitted);
        int widest = 0;
        for (std::size_t r = 0; r < m_captions.size(); ++r)
            widest = std::max(widest, metrics.horizontalAdvance(CaptionText(static_cast<int>(r))));
        const bool fits = widest + 4 <= columnWidth(0) && metrics.height() + 2 <= kRowHeight;
        if (fits || fitted.pointSizeF() <= 6.0)
            break;
        fitted.setPointSizeF(fitted.pointSizeF() - 0.5);
    }
    setFont(fitted);
}

QString TResultStringGrid::Value(int row) const
{
    return item(row, 1)->text();
}

void TResultStringGrid::SetValue(int row, const QString& text)
{
    item(row, 1)->setText(text);
}

void TResultStringGrid::ClearValues(int firstRow)
{
    for (int r = firstRow; r < rowCount(); ++r)
        item(r, 1)->setText(QString());
}

TResultStringGrid* CreateParamStringGrid(QWidget* parent)
{
    auto* grid = new TResultStringGrid(6, false, parent);
    grid->setObjectName(QStringLiteral("ParamStringGrid"));
    grid->SetCaption(0, Text(QStringLiteral("Масса цемента в стакане Co, г")));
    grid->SetCaption(1, Text(QStringLiteral("Длительность, ч:м")));
    grid->SetCaption(2, Text(QStringLiteral("Период, с")));
    grid->SetCaption(3, Text(QStringLiteral("Ожидаемая марка")));
    grid->SetCaption(4, {{kDeltaDelta, false}, {QStringLiteral("V, мл (поставщик)"), false}});
    grid->SetCaption(5, Text(QStringLiteral("Длительность твердения, сут")));
    grid->SetClipValues(true);
    grid->FitCaptions();
    grid->setFixedHeight((TResultStringGrid::kRowHeight + 2) * 6);
    return grid;
}

TResultStringGrid* CreateDetailsStringGrid(QWidget* parent)
{
    auto* grid = new TResultStringGrid(kUnitContractionRow + 1, true, parent);
    grid->setObjectName(QStringLiteral("DetailsStringGrid"));
    grid->setColumnWidth(1, 90);
    grid->item(0, 1)->setText(QStringLiteral("Канал 1"));
    const QString contraction = QStringLiteral("Контракция ");
    grid->SetCaption(1,
        {{contraction, false}, {kDelta, false}, {QStringLiteral("V"), false}, {QStringLiteral("Co3"), true},
            {QStringLiteral(", мл"), false}});
    grid->SetCaption(2,
        {{contraction, false}, {kDelta, false}, {QStringLiteral("V"), false}, {QStringLiteral("1K3"), true},
            {QStringLiteral(", мл"), false}});
    grid->SetCaption(3, Text(QStringLiteral("Торможение")));
    grid->SetCaption(4,
        {{QStringLiteral("Поправка на торможение "), false}, {kDeltaDelta, false},
            {QStringLiteral("V, мл"), false}});
    grid->SetCaption(5, Text(QStringLiteral("Средняя температура Tср, °С")));
    grid->SetCaption(6,
        {{QStringLiteral("Поправка на температуру "), false}, {kDelta, false}, {QStringLiteral("V"), false},
            {QStringLiteral("T"), true}, {QStringLiteral(", мл"), false}});
    grid->SetCaption(7,
        {{QStringLiteral("Итоговая контракция "), false}, {kDelta, false},
            {QStringLiteral("Vo, мл"), false}});
    grid->SetCaption(8, Text(QStringLiteral("Активность R, МПа")));
    grid->SetCaption(kMeasuredStrengthRow, Text(QStringLiteral("Фактическая активность, МПа")));
    grid->SetCaption(kForecastErrorRow, Text(QStringLiteral("Ошибка прогноза, МПа")));
    grid->SetCaption(kForecastErrorPercentRow, Text(QStringLiteral("Ошибка прогноза, %")));
    grid->SetCaption(kUnitContractionRow,
        {{QStringLiteral("Удельная контракция "), false}, {kDelta, false},
            {QStringLiteral("V', мл/г"), false}});
    grid->SetClipValues(false);
    grid->FitCaptions();
    grid->setFixedHeight(196 + 3 * TResultStringGrid::kRowHeight);
    return grid;
}
