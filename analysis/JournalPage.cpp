#include "analysis/JournalPage.h"

#include "analysis/ComparisonUnit.h"
#include "analysis/ControlChartUnit.h"
#include "analysis/JournalExport.h"
#include "analysis/JournalProtocol.h"
#include "app/OperatorDialogs.h"
#include "compute/ReferenceTables.h"
#include "store/MainDataModuleUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPdfWriter>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <QPointer>

#include <set>

namespace {

const QDate kOleEpoch(1899, 12, 30);

std::string LocaleSeparator()
{
    return QLocale::system().decimalPoint().toStdString();
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

TJournalModel::TJournalModel(QObject* parent)
    : QAbstractTableModel(parent)
    , m_separator(LocaleSeparator())
{ }

void TJournalModel::SetRows(const TJournal* journal, std::vector<int> rows)
{
    beginResetModel();
    m_journal = journal;
    m_rows = std::move(rows);
    endResetModel();
}

int TJournalModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TJournalModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kJournalColumnCount;
}

QVariant TJournalModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !m_journal || index.row() >= rowCount())
        return {};
    const auto column = static_cast<TJournalColumn>(index.column());
    const TJournalRow& row
        = (*m_journal)[static_cast<std::size_t>(m_rows[static_cast<std::size_t>(index.row())])];
    if (role == Qt::DisplayRole)
        return Q(JournalCellText(row, column, m_separator));
    if (role == Qt::TextAlignmentRole && JournalColumnUnit(column) != "")
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TJournalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    return Q(JournalHeaderText(static_cast<TJournalColumn>(section)));
}

void TJournalModel::sort(int column, Qt::SortOrder order)
{
    if (!m_journal || column < 0 || column >= kJournalColumnCount)
        return;
    emit layoutAboutToBeChanged();
    SortJournalRows(*m_journal, m_rows, static_cast<TJournalColumn>(column), order == Qt::DescendingOrder);
    emit layoutChanged();
}

TJournalPage::TJournalPage(TMainDataModule& dataModule, QWidget* parent)
    : QWidget(parent)
    , m_dataModule(dataModule)
{
    setObjectName(QStringLiteral("JournalTabSheet"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);

    auto* filters = new QHBoxLayout;
    m_useFrom = new QCheckBox(QStringLiteral("с"), this);
    m_from = new QDateEdit(QDate::currentDate().addMonths(-1), this);
    m_useTo = new QCheckBox(QStringLiteral("по"), this);
    m_to = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit* edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    }
    m_grade = new QComboBox(this);
    m_grade->setObjectName(QStringLiteral("GradeFilter"));
    m_grade->addItem(QStringLiteral("Все марки"));
    for (std::uint32_t g = 0; g <= 7; ++g)
        m_grade->addItem(Q(GetCementGradeName(g)), g);
    m_supplier = new QComboBox(this);
    m_supplier->setObjectName(QStringLiteral("SupplierFilter"));
    m_supplier->addItem(QStringLiteral("Все поставщики"));
    for (std::uint32_t s = 0; s < kSupplierCount; ++s)
        m_supplier->addItem(Q(GetSupplierName(s)).trimmed(), s);
    m_days = new QComboBox(this);
    m_days->setObjectName(QStringLiteral("DaysFilter"));
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("TextFilter"));
    m_text->setPlaceholderText(QStringLiteral("Поиск в комментарии и данных пробы"));
    m_text->setClearButtonEnabled(true);
    filters->addWidget(new QLabel(QStringLiteral("Дата:"), this));
    for (QWidget* w :
        std::initializer_list<QWidget*>{m_useFrom, m_from, m_useTo, m_to, m_grade, m_supplier, m_days})
        filters->addWidget(w);
    filters->addWidget(m_text, 1);
    layout->addLayout(filters);

    auto* commands = new QHBoxLayout;
    const auto button
        = [this, commands](const QString& text, const char* name, void (TJournalPage::*command)()) {
              auto* b = new QPushButton(text, this);
              b->setObjectName(QLatin1String(name));
              commands->addWidget(b);
              connect(b, &QPushButton::clicked, this,
                  [this, command] { RunCommand([this, command] { (this->*command)(); }); });
              return b;
          };
    button(QStringLiteral("Обновить"), "RefreshJournalButton", &TJournalPage::Recompute);
    button(QStringLiteral("Контрольная карта..."), "ControlChartButton", &TJournalPage::ShowControlChart);
    button(QStringLiteral("Сравнить кривые..."), "CompareButton", &TJournalPage::CompareSelected);
    button(QStringLiteral("Экспорт..."), "ExportJournalButton", &TJournalPage::ExportJournal);
    button(QStringLiteral("Протокол..."), "ProtocolButton", &TJournalPage::PrintProtocol);
    commands->addStretch();
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("JournalStatus"));
    commands->addWidget(m_status);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("JournalProgress"));
    m_progress->setVisible(false);
    commands->addWidget(m_progress);
    m_cancel = new QPushButton(QStringLiteral("Отмена"), this);
    m_cancel->setObjectName(QStringLiteral("CancelJournalButton"));
    m_cancel->setVisible(false);
    commands->addWidget(m_cancel);
    layout->addLayout(commands);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    m_model = new TJournalModel(this);
    m_grid = new QTableView(splitter);
    m_grid->setObjectName(QStringLiteral("JournalGrid"));
    m_grid->setModel(m_model);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSortingEnabled(true);
    m_grid->sortByColumn(static_cast<int>(TJournalColumn::Date), Qt::AscendingOrder);
    m_grid->verticalHeader()->setDefaultSectionSize(20);
    m_grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_statistics = new QTableWidget(splitter);
    m_statistics->setObjectName(QStringLiteral("StatisticsGrid"));
    m_statistics->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_statistics->verticalHeader()->setVisible(false);
    splitter->addWidget(m_grid);
    splitter->addWidget(m_statistics);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    layout->addWidget(splitter, 1);

    connect(m_cancel, &QPushButton::clicked, this, &TJournalPage::CancelCompute);
    connect(m_grid, &QTableView::activated, this, [this](const QModelIndex& index) {
        ChooseRow(m_model->Rows().at(static_cast<std::size_t>(index.row())));
    });
    for (QCheckBox* box : {m_useFrom, m_useTo})
        connect(box, &QCheckBox::toggled, this, &TJournalPage::ApplyFilter);
    for (QDateEdit* edit : {m_from, m_to})
        connect(edit, &QDateEdit::dateChanged, this, &TJournalPage::ApplyFilter);
    for (QComboBox* box : {m_grade, m_supplier, m_days})
        connect(box, &QComboBox::currentIndexChanged, this, &TJournalPage::ApplyFilter);
    connect(m_text, &QLineEdit::textChanged, this, &TJournalPage::ApplyFilter);
    FillChoices();
    m_dataModule.ResultDataSet().AddListener(this);
}

TJournalPage::~TJournalPage()
{
    m_dataModule.ResultDataSet().RemoveListener(this);
    m_thread.reset();
}

void TJournalPage::DataSetChanged()
{
    m_stale = true;
}

void TJournalPage::RecordChanged()
{
    m_stale = true;
}

void TJournalPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_stale && !m_thread)
        Recompute();
}

void TJournalPage::Recompute()
{
    m_thread.reset(); // a running one is cancelled and waited for: at most one row's read
    const int generation = ++m_generation;
    m_stale = false;
    if (!m_dataModule.IsProjectOpen() || !m_dataModule.ResultDataSet().Active()) {
        m_journal.clear();
        ApplyFilter();
        return;
    }
    m_dataModule.PostEdits();
    TJournalSource source = TakeJournalSource(m_dataModule);
    m_progress->setRange(0, std::max<int>(1, static_cast<int>(source.Rows.size())));
    m_progress->setValue(0);
    m_progress->setVisible(true);
    m_cancel->setVisible(true);
    m_status->setText(QStringLiteral("Расчёт журнала..."));
    QPointer<TJournalPage> self(this);
    m_thread = std::make_unique<TJournalThread>(
        std::move(source),
        [self, generation](int done, int total) {
            QMetaObject::invokeMethod(
                self,
                [self, generation, done, total] {
                    if (self && self->m_generation == generation) {
                        self->m_progress->setMaximum(std::max(total, 1));
                        self->m_progress->setValue(done);
                    }
                },
                Qt::QueuedConnection);
        },
        [self, generation](bool completed, const std::string& error) {
            QMetaObject::invokeMethod(
                self,
                [self, generation, completed, error = Q(error)] {
                    if (self)
                        self->Finished(generation, completed, error);
                },
                Qt::QueuedConnection);
        });
    m_thread->Start();
}

void TJournalPage::CancelCompute()
{
    if (m_thread)
        m_thread->Cancel();
}

void TJournalPage::Finished(int generation, bool completed, const QString& error)
{
    if (generation != m_generation || !m_thread)
        return;
    TJournal journal = m_thread->TakeJournal();
    m_thread.reset();
    m_progress->setVisible(false);
    m_cancel->setVisible(false);
    if (completed) {
        m_journal = std::move(journal);
        m_status->clear();
    } else {
        m_stale = true;
        m_status->setText(error.isEmpty() ? QStringLiteral("Расчёт журнала отменён") : QString());
    }
    FillChoices();
    ApplyFilter();
    emit Computed();
    if (!error.isEmpty())
        ShowErrorMessage(QStringLiteral("Журнал не рассчитан:\r%1").arg(error));
}

void TJournalPage::FillChoices()
{
    const QVariant chosen = m_days->currentData();
    std::set<std::int32_t> days(ConcretionTimes.begin(), ConcretionTimes.end());
    for (const TJournalRow& row : m_journal)
        if (row.Readable)
            days.insert(row.ConcretionTime);
    const QSignalBlocker blocker(m_days);
    m_days->clear();
    m_days->addItem(QStringLiteral("Все сроки"));
    for (const std::int32_t d : days)
        m_days->addItem(QStringLiteral("%1 сут").arg(d), d);
    m_days->setCurrentIndex(std::max(0, m_days->findData(chosen)));
}

TJournalFilter TJournalPage::Filter() const
{
    TJournalFilter filter;
    if (m_useFrom->isChecked())
        filter.FromDate = static_cast<double>(kOleEpoch.daysTo(m_from->date()));
    if (m_useTo->isChecked())
        filter.ToDate = static_cast<double>(kOleEpoch.daysTo(m_to->date()));
    if (m_grade->currentIndex() > 0)
        filter.Grade = m_grade->currentData().toUInt();
    if (m_supplier->currentIndex() > 0)
        filter.Supplier = m_supplier->currentData().toUInt();
    if (m_days->currentIndex() > 0)
        filter.ConcretionTime = m_days->currentData().toInt();
    filter.Text = m_text->text().trimmed().toStdString();
    return filter;
}

void TJournalPage::SetFilter(const TJournalFilter& filter)
{
    const QSignalBlocker b1(m_useFrom), b2(m_useTo), b3(m_from), b4(m_to), b5(m_grade), b6(m_supplier),
        b7(m_days), b8(m_text);
    m_useFrom->setChecked(filter.FromDate.has_value());
    if (filter.FromDate)
        m_from->setDate(kOleEpoch.addDays(static_cast<qint64>(*filter.FromDate)));
    m_useTo->setChecked(filter.ToDate.has_value());
    if (filter.ToDate)
        m_to->setDate(kOleEpoch.addDays(static_cast<qint64>(*filter.ToDate)));
    m_grade->setCurrentIndex(filter.Grade ? std::max(0, m_grade->findData(*filter.Grade)) : 0);
    m_supplier->setCurrentIndex(filter.Supplier ? std::max(0, m_supplier->findData(*filter.Supplier)) : 0);
    if (filter.ConcretionTime && m_days->findData(*filter.ConcretionTime) < 0)
        m_days->addItem(QStringLiteral("%1 сут").arg(*filter.ConcretionTime), *filter.ConcretionTime);
    m_days->setCurrentIndex(filter.ConcretionTime ? m_days->findData(*filter.ConcretionTime) : 0);
    m_text->setText(Q(filter.Text));
    ApplyFilter();
}

const std::vector<int>& TJournalPage::ShownRows() const
{
    return m_model->Rows();
}

void TJournalPage::ApplyFilter()
{
    m_model->SetRows(&m_journal, FilterJournal(m_journal, Filter()));
    const QHeaderView* header = m_grid->horizontalHeader();
    m_model->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
    ShowStatistics();
    if (!m_thread)
        m_status->setText(QStringLiteral("Показано %1 из %2").arg(ShownRows().size()).arg(m_journal.size()));
}

void TJournalPage::ShowStatistics()
{
    const std::vector<QString> header = StatisticsHeader();
    const auto table = StatisticsTable(m_journal, ShownRows(), LocaleSeparator());
    m_statistics->clear();
    m_statistics->setColumnCount(static_cast<int>(header.size()));
    m_statistics->setRowCount(static_cast<int>(table.size()));
    for (std::size_t c = 0; c < header.size(); ++c)
        m_statistics->setHorizontalHeaderItem(static_cast<int>(c), new QTableWidgetItem(header[c]));
    for (std::size_t r = 0; r < table.size(); ++r)
        for (std::size_t c = 0; c < table[r].size(); ++c)
            m_statistics->setItem(
                static_cast<int>(r), static_cast<int>(c), new QTableWidgetItem(table[r][c]));
    m_statistics->resizeColumnsToContents();
}

bool TJournalPage::ChooseRow(int journalRow)
{
    if (journalRow < 0 || journalRow >= static_cast<int>(m_journal.size()))
        return false;
    const std::int64_t key = m_journal[static_cast<std::size_t>(journalRow)].Key;
    // The list may have changed since the journal was made: the row is found by its key.
    const int hint = m_journal[static_cast<std::size_t>(journalRow)].ListRow;
    if (hint < m_dataModule.GetRecordCount() && m_dataModule.RecordKeyAt(hint) == key) {
        emit RecordChosen(hint);
        return true;
    }
    for (int row = 0; row < m_dataModule.GetRecordCount(); ++row)
        if (m_dataModule.RecordKeyAt(row) == key) {
            emit RecordChosen(row);
            return true;
        }
    return false;
}

void TJournalPage::ShowControlChart()
{
    auto* form = new TControlChartForm(window());
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->Chart()->SetData(m_journal, ShownRows());
    connect(form->Chart(), &TControlChart::RowChosen, this, [this](int row) { ChooseRow(row); });
    form->show();
}

void TJournalPage::CompareSelected()
{
    std::vector<int> chosen;
    for (const QModelIndex& index : m_grid->selectionModel()->selectedRows())
        chosen.push_back(ShownRows().at(static_cast<std::size_t>(index.row())));
    if (chosen.empty() || chosen.size() > kMaxCompared) {
        ShowErrorMessage(
            QStringLiteral("Выберите в журнале от 1 до %1 измерений для сравнения.").arg(kMaxCompared));
        return;
    }
    std::sort(chosen.begin(), chosen.end(), [this](int a, int b) {
        return TimeOrderLess(m_journal[static_cast<std::size_t>(a)], m_journal[static_cast<std::size_t>(b)]);
    });
    std::vector<TComparedRecord> records;
    for (const int i : chosen) {
        const TJournalRow& row = m_journal[static_cast<std::size_t>(i)];
        int listRow = -1;
        for (int r = 0; r < m_dataModule.GetRecordCount() && listRow < 0; ++r)
            if (m_dataModule.RecordKeyAt(r) == row.Key)
                listRow = r;
        TComparedRecord record;
        record.Name = QStringLiteral("%1 № %2").arg(Q(JournalDateText(row.Date))).arg(row.Number);
        if (listRow >= 0 && m_dataModule.ReadMsrResultAt(listRow, record.Msr) == 0)
            records.push_back(std::move(record));
    }
    auto* form = new TComparisonForm(window());
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->SetRecords(std::move(records));
    form->show();
}

void TJournalPage::ExportJournal()
{
    TFileDialogOptions options;
    options.Title = QStringLiteral("Экспорт журнала");
    options.Filter = QStringLiteral("Книга Excel (*.xlsx);;Текст CSV (*.csv)");
    options.DefaultSuffix = QStringLiteral("xlsx");
    const QString path = OperatorDialogs().SaveFileName(options);
    if (path.isEmpty())
        return;
    std::string error;
    const bool written = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)
        ? WriteJournalCsv(path.toStdString(), m_journal, ShownRows(), LocaleSeparator(), error)
        : WriteJournalXlsx(path.toStdString(), m_journal, ShownRows(), error);
    if (!written)
        ShowErrorMessage(Q(error));
}

void TJournalPage::PrintProtocol()
{
    TFileDialogOptions options;
    options.Title = QStringLiteral("Протокол журнала");
    options.Filter = QStringLiteral("Документ PDF (*.pdf)");
    options.DefaultSuffix = QStringLiteral("pdf");
    const QString path = OperatorDialogs().SaveFileName(options);
    if (path.isEmpty())
        return;
    {
        QPdfWriter writer(path);
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("Журнал испытаний"));
        PaintJournalProtocol(writer,
            QStringLiteral("Журнал испытаний: %1, %2")
                .arg(Q(m_dataModule.Target().Caption()),
                    QLocale().toString(QDate::currentDate(), QLocale::ShortFormat)),
            m_journal, ShownRows(), LocaleSeparator());
    }
    if (QFileInfo(path).size() == 0)
        ShowErrorMessage(QStringLiteral("Не удалось записать файл %1").arg(path));
}
