#include "compute/ViewTableUnit.h"

#include "app/OperatorDialogs.h"
#include "compute/ReferenceTables.h"
#include "compute/ResultText.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int kClientWidth = 513;
constexpr int kClientHeight = 648;

constexpr int kColumnCount = 8;
constexpr int kRowCount = 33;
constexpr int kFirstColumnWidth = 162;
constexpr int kDayColumnWidth = 46;
constexpr int kHeadRowHeight = 48;
constexpr int kDataRowHeight = 14;
// The current cell sits in this row of height 0, so nothing ever shows as selected.
constexpr int kHiddenRow = kRowCount - 1;
constexpr int kDataRows = static_cast<int>(kContractionRowCount);

constexpr int kGridContentWidth = kFirstColumnWidth + (kColumnCount - 1) * kDayColumnWidth;
constexpr int kGridContentHeight = kHeadRowHeight + kDataRows * kDataRowHeight;

const QString kCornerLine1 = QStringLiteral("Контракция 1000 г");
const QString kCornerLine2 = QStringLiteral("цемента ΔVo за 3 часа, мл");

QString DecimalText(double value, int decimals)
{
    const std::string separator = QLocale::system().decimalPoint().toStdString();
    return QString::fromStdString(FormatDecimal(value, decimals, separator));
}

// Row 0 and column 0 are the grid's own fixed cells: grey, with the corner split over two lines.
class TViewTableDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool fixed = index.row() == 0 || index.column() == 0;
        // The cells are disabled so a click cannot move the current cell; draw them as enabled anyway.
        const QPalette& palette = option.palette;
        const QRect cell = option.rect;
        const QString text = index.data(Qt::DisplayRole).toString();

        painter->save();
        painter->fillRect(cell, palette.brush(QPalette::Active, fixed ? QPalette::Button : QPalette::Base));
        painter->setPen(palette.color(QPalette::Active, fixed ? QPalette::ButtonText : QPalette::Text));
        painter->setFont(option.font);
        painter->setClipRect(cell);
        if (index.row() == 0 && index.column() == 0) {
            const int lineHeight = option.fontMetrics.height();
            int y = cell.top() + cell.height() / 3 + 2;
            for (const QString& line : text.split(QLatin1Char('\n'))) {
                painter->drawText(QRect(cell.left() + 2, y, cell.width() - 2, lineHeight),
                    Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, line);
                y += lineHeight + 2;
            }
        } else if (index.row() == 0) {
            painter->drawText(
                cell.adjusted(0, 2, 0, 0), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, text);
        } else {
            painter->drawText(cell, Qt::AlignCenter | Qt::TextSingleLine, text);
        }
        painter->restore();
    }
};

// The desktop's font, made smaller until a line fits a 14 px row (one pixel goes to the grid line)
// and the corner's longer line fits its column.
QFont GridFont(QFont font)
{
    const int maxHeight = kDataRowHeight - 1;
    const int maxWidth = kFirstColumnWidth - 4;
    int pixels = QFontMetrics(font).height();
    while (pixels > 6) {
        const QFontMetrics metrics(font);
        if (metrics.height() <= maxHeight && metrics.horizontalAdvance(kCornerLine2) <= maxWidth)
            break;
        font.setPixelSize(--pixels);
    }
    return font;
}

} // namespace

TViewTableForm::TViewTableForm(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowTitle(APPLICATION_TITLE);

    m_tableNameLbl = new QLabel(QStringLiteral("?"), this);
    m_tableNameLbl->setObjectName(QStringLiteral("TableNameLbl"));
    m_tableNameLbl->setWordWrap(true);
    m_tableNameLbl->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);

    m_tableHead2Lbl = new QLabel(QStringLiteral("?"), this);
    m_tableHead2Lbl->setObjectName(QStringLiteral("TableHead2Lbl"));
    m_tableHead2Lbl->setWordWrap(true);
    m_tableHead2Lbl->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    m_tableHead2Lbl->setFixedWidth((kColumnCount - 1) * kDayColumnWidth);

    auto* grid = new QTableWidget(kRowCount, kColumnCount, this);
    m_tableStringGrid = grid;
    grid->setObjectName(QStringLiteral("TableStringGrid"));
    grid->setFont(GridFont(font()));
    grid->setItemDelegate(new TViewTableDelegate(grid));
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    grid->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    grid->setSelectionMode(QAbstractItemView::NoSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setFocusPolicy(Qt::NoFocus);
    grid->setAutoScroll(false);
    grid->setTabKeyNavigation(false);
    for (QHeaderView* header : {grid->horizontalHeader(), grid->verticalHeader()}) {
        header->setMinimumSectionSize(0);
        header->setSectionResizeMode(QHeaderView::Fixed);
    }
    grid->setColumnWidth(0, kFirstColumnWidth);
    for (int column = 1; column < kColumnCount; ++column)
        grid->setColumnWidth(column, kDayColumnWidth);
    grid->setRowHeight(0, kHeadRowHeight);
    for (int row = 1; row <= kDataRows; ++row)
        grid->setRowHeight(row, kDataRowHeight);
    grid->setRowHeight(kHiddenRow, 0);
    const int frame = grid->frameWidth();
    grid->setFixedSize(kGridContentWidth + 2 * frame, kGridContentHeight + 2 * frame);

    for (int row = 0; row < kRowCount; ++row) {
        for (int column = 0; column < kColumnCount; ++column) {
            auto* item = new QTableWidgetItem;
            // Not even enabled: a click must not move the current cell out of the hidden row.
            item->setFlags(Qt::NoItemFlags);
            grid->setItem(row, column, item);
        }
    }
    grid->item(0, 0)->setText(kCornerLine1 + QLatin1Char('\n') + kCornerLine2);
    for (int column = 1; column < kColumnCount; ++column)
        grid->item(0, column)->setText(QString::number(ConcretionTimes[column - 1]));
    for (int row = 1; row <= kDataRows; ++row)
        grid->item(row, 0)->setText(DecimalText(ContractionScale[kDataRows - row], 1));
    grid->setCurrentCell(kHiddenRow, 1);

    auto* closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    closeButton->setObjectName(QStringLiteral("CloseButton"));
    closeButton->setDefault(true);
    // Esc reaches QDialog::reject as well, so the button is the cancel button too.
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);

    // The caption over the day columns lines up with column 1 of the grid.
    auto* tableBox = new QWidget(this);
    auto* tableLayout = new QVBoxLayout(tableBox);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tableLayout->setSpacing(2);
    auto* headRow = new QHBoxLayout;
    headRow->setContentsMargins(0, 0, 0, 0);
    headRow->addSpacing(frame + kFirstColumnWidth);
    headRow->addWidget(m_tableHead2Lbl);
    headRow->addStretch();
    tableLayout->addLayout(headRow);
    tableLayout->addWidget(grid);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 8);
    layout->setSpacing(4);
    layout->addWidget(m_tableNameLbl);
    layout->addWidget(separator);
    layout->addStretch();
    layout->addWidget(tableBox, 0, Qt::AlignHCenter);
    layout->addStretch();
    layout->addWidget(closeButton, 0, Qt::AlignHCenter);

    setFixedSize(kClientWidth, kClientHeight);
    CentreOnScreen(*this);

    FillTable();
}

void TViewTableForm::SetTableKind(int kind)
{
    m_tableKind = kind;
    FillTable();
}

void TViewTableForm::FillTable()
{
    for (int row = 1; row < kRowCount; ++row) {
        for (int column = 1; column < kColumnCount; ++column)
            m_tableStringGrid->item(row, column)->setText(QString());
    }
    m_tableNameLbl->setText(QStringLiteral("?"));
    m_tableHead2Lbl->setText(QStringLiteral("?"));

    const TReferenceTable* table = nullptr;
    int decimals = 0;
    if (m_tableKind == kActivityTable) {
        m_tableNameLbl->setText(
            QStringLiteral("Активность (МПа) 1000г цемента по ГОСТ 310.4 в зависимости от "
                           "его контракции за 3 часа и длительности твердения"));
        table = &ActivityTable;
        decimals = 1;
    } else if (m_tableKind == kUnitContractionTable) {
        m_tableNameLbl->setText(QStringLiteral(
            "Удельная текущая контракция цемента (мл/г) в зависимости от длительности твердения"));
        table = &UnitContractionTable;
        decimals = 3;
    }
    if (table == nullptr)
        return;

    m_tableHead2Lbl->setText(QStringLiteral("Длительность твердения в нормальных условиях, сутки"));
    for (int row = 1; row <= kDataRows; ++row) {
        for (int column = 1; column < kColumnCount; ++column) {
            const double value = (*table)[kDataRows - row][column - 1];
            m_tableStringGrid->item(row, column)->setText(DecimalText(value, decimals));
        }
    }
}

int ViewTableKindOfTag(int tag)
{
    switch (tag) {
    case 1:
        return TViewTableForm::kActivityTable;
    case 2:
        return TViewTableForm::kUnitContractionTable;
    default:
        return 2;
    }
}
