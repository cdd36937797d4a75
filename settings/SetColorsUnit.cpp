#include "settings/SetColorsUnit.h"
#include "app/OperatorDialogs.h"

#include "view/ForecastChart.h"

#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <algorithm>
#include <array>

namespace {

constexpr int kClientWidth = 274;
constexpr int kClientHeight = 173;
constexpr QRect kGridRect{8, 8, 257, 121};
constexpr int kBevelHeight = 137;
constexpr int kColumnWidth = 126;
constexpr int kRowHeight = 20;
constexpr int kColorColumn = 1;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonGap = 8;

class TSwatchDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (option.state & (QStyle::State_Selected | QStyle::State_MouseOver))
            painter->fillRect(option.rect, option.palette.highlight());
        else
            painter->fillRect(option.rect, option.palette.base());
        PaintColorSwatch(*painter, option.rect.adjusted(3, 2, -3, -2), index.data(Qt::UserRole).toUInt());
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return {option.rect.width(), option.fontMetrics.height() + 4};
    }
};

// The offered colours as swatches. It also shows a colour that is not among them (as a swatch,
// with no entry current), since the operator must still see the colour in use while choosing.
class TColorComboBox : public QComboBox
{
public:
    explicit TColorComboBox(QWidget* parent)
        : QComboBox(parent)
    {
        for (std::uint32_t color : OFFERED_COLORS)
            addItem(QString(), color);
        setItemDelegate(new TSwatchDelegate(this));
    }

    void SetShownColor(std::uint32_t color)
    {
        m_unlisted = color;
        setCurrentIndex(findData(color));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        option.currentText.clear();
        option.currentIcon = QIcon();
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field
            = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
        const std::uint32_t color = currentIndex() >= 0 ? currentData().toUInt() : m_unlisted;
        PaintColorSwatch(painter, field.adjusted(1, 1, -1, -1), color);
    }

private:
    std::uint32_t m_unlisted = 0;
};

class TColorsGridDelegate : public QStyledItemDelegate
{
public:
    TColorsGridDelegate(const std::vector<std::uint32_t>& colors, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_colors(colors)
    { }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QRect cell = option.rect;
        if (index.column() == kColorColumn) {
            if (static_cast<std::size_t>(index.row()) < m_colors.size())
                painter->fillRect(cell.adjusted(1, 1, -1, -1), ColorOfValue(m_colors[index.row()]));
            return;
        }
        painter->save();
        painter->fillRect(cell, Qt::white);
        painter->setPen(Qt::black);
        const QFontMetrics& metrics = option.fontMetrics;
        const int left = cell.left() + metrics.horizontalAdvance(QLatin1Char('A'));
        const int top = cell.top() + (cell.height() - metrics.height()) / 2;
        painter->drawText(
            QPoint(left, top + metrics.ascent()), QStringLiteral("Канал %1").arg(index.row() + 1));
        painter->restore();
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.rect = cell.adjusted(1, 1, -1, -1);
            focus.backgroundColor = Qt::white;
            option.widget->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, option.widget);
        }
    }

private:
    // The form's working copy; nothing paints the grid while the form is being destroyed.
    const std::vector<std::uint32_t>& m_colors;
};

QPushButton* MakeButton(const QString& caption, const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->resize(std::max(kButtonWidth, button->sizeHint().width()), kButtonHeight);
    return button;
}

} // namespace

TSetColorsForm::TSetColorsForm(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_colors(1, 0)
    , m_givenColors(m_colors)
{
    setObjectName(QStringLiteral("SetColorsForm"));
    setWindowTitle(QStringLiteral("Цвета графиков"));

    auto* bevel = new QFrame(this);
    bevel->setFrameShape(QFrame::Box);
    bevel->setFrameShadow(QFrame::Sunken);

    m_colorsDrawGrid = new QTableWidget(1, 2, this);
    m_colorsDrawGrid->setObjectName(QStringLiteral("ColorsDrawGrid"));
    m_colorsDrawGrid->setGeometry(kGridRect);
    m_colorsDrawGrid->horizontalHeader()->hide();
    m_colorsDrawGrid->verticalHeader()->hide();
    m_colorsDrawGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_colorsDrawGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_colorsDrawGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_colorsDrawGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_colorsDrawGrid->setTabKeyNavigation(false);
    for (int column = 0; column < 2; ++column)
        m_colorsDrawGrid->setColumnWidth(column, kColumnWidth);
    // A desktop font taller than the design's keeps its text whole.
    m_colorsDrawGrid->verticalHeader()->setDefaultSectionSize(
        std::max(kRowHeight, m_colorsDrawGrid->fontMetrics().height() + 4));
    m_colorsDrawGrid->setItemDelegate(new TColorsGridDelegate(m_colors, m_colorsDrawGrid));

    auto* combo = new TColorComboBox(m_colorsDrawGrid->viewport());
    combo->setObjectName(QStringLiteral("ColorComboBox"));
    combo->hide();
    m_colorComboBox = combo;

    m_applyButton = MakeButton(QStringLiteral("Применить"), QStringLiteral("ApplyButton"), this);
    m_applyButton->setDefault(true);
    m_cancelButton = MakeButton(QStringLiteral("Отмена"), QStringLiteral("CancelButton"), this);
    connect(m_applyButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    // A click on the cell already current must show the drop-down again after a pick hid it.
    connect(m_colorsDrawGrid, &QTableWidget::cellClicked, this, &TSetColorsForm::ColorsDrawGridSelectCell);
    connect(
        m_colorsDrawGrid, &QTableWidget::currentCellChanged, this, &TSetColorsForm::ColorsDrawGridSelectCell);
    // Only the operator's pick counts: setting the shown colour must not store it.
    connect(m_colorComboBox, &QComboBox::activated, this, &TSetColorsForm::ColorComboBoxChange);

    const int buttonsWidth = m_applyButton->width() + kButtonGap + m_cancelButton->width();
    const int clientWidth = std::max(kClientWidth, buttonsWidth + 2 * kButtonGap);
    bevel->setGeometry(0, 0, clientWidth, kBevelHeight);
    const int buttonsTop = kBevelHeight + 7;
    m_applyButton->move((clientWidth - buttonsWidth) / 2, buttonsTop);
    m_cancelButton->move(m_applyButton->geometry().right() + 1 + kButtonGap, buttonsTop);
    setFixedSize(clientWidth, std::max(kClientHeight, buttonsTop + kButtonHeight + 4));
    CentreOnScreen(*this);

    SetColors(m_colors);
    m_colorsDrawGrid->setFocus();
}

void TSetColorsForm::SetColors(const std::vector<std::uint32_t>& colors)
{
    m_colors = colors;
    m_givenColors = colors;
    m_comboRow = -1;
    m_colorComboBox->hide();
    // Placing the selection is not the operator selecting the cell: the drop-down stays hidden.
    const QSignalBlocker blocker(m_colorsDrawGrid);
    m_colorsDrawGrid->setRowCount(static_cast<int>(colors.size()));
    if (!colors.empty())
        m_colorsDrawGrid->setCurrentCell(0, kColorColumn);
    m_colorsDrawGrid->viewport()->update();
}

void TSetColorsForm::reject()
{
    m_colors = m_givenColors;
    QDialog::reject();
}

void TSetColorsForm::ColorsDrawGridSelectCell(int row, int column)
{
    if (column != kColorColumn || row < 0 || static_cast<std::size_t>(row) >= m_colors.size())
        return;
    m_comboRow = row;
    m_colorComboBox->setGeometry(m_colorsDrawGrid->visualRect(m_colorsDrawGrid->model()->index(row, column)));
    static_cast<TColorComboBox*>(m_colorComboBox)->SetShownColor(m_colors[row]);
    m_colorComboBox->show();
    m_colorComboBox->raise();
}

void TSetColorsForm::ColorComboBoxChange(int index)
{
    if (m_comboRow < 0 || index < 0)
        return;
    m_colors[m_comboRow] = m_colorComboBox->itemData(index).toUInt();
    m_comboRow = -1;
    m_colorComboBox->hide();
    m_colorsDrawGrid->setFocus();
    m_colorsDrawGrid->viewport()->update();
}
