#include "view/ResultGrids.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace {

const QString kDelta = QStringLiteral("Δ");
// Left of a cell's text; the same is kept free on its right.
constexpr int kMargin = 2;
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
        const int x = cell.left() + kMargin;
        const int top = cell.top() + (cell.height() - metrics.height()) / 2;
        if (index.column() == 0) {
            int left = x;
            for (const TCaptionPiece& piece : m_grid->Caption(index.row())) {
                const int y = top + (piece.Lowered ? 2 : 0);
                painter->drawText(QPoint(left, y + metrics.ascent()), piece.Text);
                left += metrics.horizontalAdvance(piece.Text);
            }
        } else if (index.column() == 1) {
            QString text = index.data().toString();
            if (m_grid->ClipValues()) {
                painter->setClipRect(cell);
                text = metrics.elidedText(text, Qt::ElideRight, cell.width() - 2 * kMargin);
            }
            painter->drawText(QPoint(x, top + metrics.ascent()), text);
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
    const QFontMetrics metrics(font());
    int widest = 0;
    for (std::size_t r = 0; r < m_captions.size(); ++r)
        widest = std::max(widest, metrics.horizontalAdvance(CaptionText(static_cast<int>(r))));
    // The column keeps its 200 pixels where the captions fit in them.
    setColumnWidth(0, std::max(200, widest + 3 * kMargin));
    for (int r = 0; r < rowCount(); ++r)
        setRowHeight(r, RowHeight());
}

int TResultStringGrid::RowHeight() const
{
    return std::max(kRowHeight, QFontMetrics(font()).height() + 2);
}

int TResultStringGrid::WidthFor(const QStringList& values) const
{
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const QString& value : values)
        widest = std::max(widest, metrics.horizontalAdvance(value));
    // The frame on both sides and one pixel of grid line per column.
    return columnWidth(0) + widest + 3 * kMargin + 2 * frameWidth() + 2;
}

bool TResultStringGrid::ValueCut(int row) const
{
    const int room = columnWidth(1) - 2 * kMargin;
    return m_clipValues && QFontMetrics(font()).horizontalAdvance(Value(row)) > room;
}

bool TResultStringGrid::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        if (index.isValid() && index.column() == 1 && ValueCut(index.row()))
            QToolTip::showText(help->globalPos(), Value(index.row()), viewport(), visualRect(index));
        else
            QToolTip::hideText();
        return true;
    }
    return QTableWidget::viewportEvent(event);
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
    grid->setFixedHeight((grid->RowHeight() + 2) * 6);
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
    // Every row whole: the rows and the frame.
    grid->setFixedHeight(grid->rowCount() * grid->RowHeight() + 2 * grid->frameWidth());
    return grid;
}
