#include "output/ReportPreviewUnit.h"

#include "app/OperatorDialogs.h"
#include "output/LabProtocol.h"
#include "settings/LaboratoryUnit.h"

#include <qcustomplot.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QPaintEvent>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// Grey around the page.
constexpr int kPageMargin = 12;
constexpr double kZoomStep = 1.1;
constexpr double kMinZoom = 0.1;
constexpr double kMaxZoom = 3.0;
// The page image never holds more (about 36 MB); above it the image is painted smaller
// and stretched.
constexpr double kMaxImagePixels = 9.0e6;

QPageLayout SheetLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0));
}

// Where the middle of the view lies along a scroll bar, as a fraction of all it scrolls over.
double ScrollCentre(const QScrollBar* bar)
{
    const double length = bar->maximum() + bar->pageStep();
    return length > 0 ? (bar->value() + bar->pageStep() / 2.0) / length : 0.5;
}

void ScrollToCentre(QScrollBar* bar, double centre)
{
    bar->setValue(qRound(centre * (bar->maximum() + bar->pageStep()) - bar->pageStep() / 2.0));
}

} // namespace

QString JpegPageName(const QString& fileName, int page)
{
    const QFileInfo info(fileName);
    const QString base
        = info.suffix().isEmpty() ? fileName : fileName.left(fileName.size() - info.suffix().size() - 1);
    return base + QStringLiteral("_%1.jpg").arg(page);
}

// ---- the pages of each report type ----------------------------------------------------------

namespace {

class TSheetPages : public TReportPages
{
public:
    TSheetPages(std::shared_ptr<const TReportSheets> sheets, std::uint32_t color)
        : m_sheets(std::move(sheets))
        , m_color(color)
        , m_painter(color)
    { }
    int Count() const override { return m_sheets->Count(); }
    QPageLayout Layout() const override { return SheetLayout(); }
    QRectF PrintedArea() const override
    {
        const QRectF area = ReportPrintedArea();
        return QRectF(area.topLeft() * kReportUnitMm, area.size() * kReportUnitMm);
    }
    QString Title() const override { return QStringLiteral("Протокол испытания"); }
    void Turn(int index) override { m_sheet = m_sheets->Sheet(index); }
    void PaintCurrent(QCPPainter& painter) override
    {
        if (m_sheet)
            m_painter.Paint(painter, *m_sheet);
    }
    void PaintPage(QCPPainter& painter, int index) override
    {
        m_painter.Paint(painter, m_sheets->Sheet(index));
    }
    bool PaintAll(QPagedPaintDevice& device, const std::function<bool(int, int)>& progress) override
    {
        return PaintReport(device, *m_sheets, m_color, progress);
    }
    const TReportSheet* Sheet() const { return m_sheet ? &*m_sheet : nullptr; }

private:
    std::shared_ptr<const TReportSheets> m_sheets;
    std::uint32_t m_color;
    TReportPainter m_painter;
    std::optional<TReportSheet> m_sheet;
};

class TProtocolPages : public TReportPages
{
public:
    explicit TProtocolPages(std::shared_ptr<TLabProtocolPainter> protocol)
        : m_protocol(std::move(protocol))
    { }
    int Count() const override { return m_protocol->PageCount(); }
    QPageLayout Layout() const override { return LabProtocolPageLayout(); }
    QRectF PrintedArea() const override { return Layout().fullRect(QPageLayout::Millimeter); }
    QString Title() const override
    {
        return QStringLiteral("Протокол испытаний № %1").arg(m_protocol->Protocol().Number);
    }
    void Turn(int index) override { m_index = index; }
    void PaintCurrent(QCPPainter& painter) override { m_protocol->Paint(painter, m_index); }
    void PaintPage(QCPPainter& painter, int index) override { m_protocol->Paint(painter, index); }
    bool PaintAll(QPagedPaintDevice& device, const std::function<bool(int, int)>& progress) override
    {
        return PaintLabProtocol(device, *m_protocol, progress);
    }

private:
    std::shared_ptr<TLabProtocolPainter> m_protocol;
    int m_index = 0;
};

constexpr const char* kReportSection = "Report";
constexpr const char* kLastFolderKey = "LastFolder";

} // namespace

std::unique_ptr<TReportPages> SheetPages(std::shared_ptr<const TReportSheets> sheets, std::uint32_t color)
{
    return std::make_unique<TSheetPages>(std::move(sheets), color);
}

std::unique_ptr<TReportPages> LabProtocolPages(std::shared_ptr<TLabProtocolPainter> protocol)
{
    return std::make_unique<TProtocolPages>(std::move(protocol));
}

QString SuggestedReportName(const QString& projectFile, std::optional<std::int32_t> measureNumber)
{
    const QString project = QFileInfo(projectFile).completeBaseName();
    return (project.isEmpty() ? QStringLiteral("отчёт") : project) + QLatin1Char('_')
        + (measureNumber ? QString::number(*measureNumber) : QStringLiteral("все")) + QStringLiteral(".pdf");
}

QString ReportSaveFolder(const TReportSaveSettings& settings)
{
    if (!settings.SettingsFile.isEmpty()) {
        const QString last = QString::fromStdString(
            ReadSettingsText(settings.SettingsFile.toStdString(), kReportSection, kLastFolderKey));
        if (!last.isEmpty() && QFileInfo(last).isDir())
            return last;
    }
    return settings.ProjectsFolder;
}

// ---- the page view ---------------------------------------------------------------------------

TReportPageView::TReportPageView(std::shared_ptr<TReportPages> pages, QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_pages(std::move(pages))
{
    setFocusPolicy(Qt::StrongFocus);
    horizontalScrollBar()->setSingleStep(20);
    verticalScrollBar()->setSingleStep(20);
    if (PageCount() > 0)
        SetCurrentPage(1);
}

TReportPageView::~TReportPageView() = default;

void TReportPageView::SetCurrentPage(int page)
{
    if (PageCount() == 0)
        return;
    page = std::clamp(page, 1, PageCount());
    if (m_page > 0 && page == m_page)
        return;
    m_pages->Turn(page - 1);
    m_page = page;
    m_image = QImage();
    viewport()->update();
    emit CurrentPageChanged(m_page);
}

const TReportSheet* TReportPageView::CurrentSheet() const
{
    const auto* sheets = dynamic_cast<const TSheetPages*>(m_pages.get());
    return sheets ? sheets->Sheet() : nullptr;
}

void TReportPageView::Repaint()
{
    m_image = QImage();
    if (m_page > PageCount())
        SetCurrentPage(PageCount());
    Relayout();
}

QSizeF TReportPageView::RealPageSize() const
{
    const QSizeF mm = m_pages->Layout().fullRect(QPageLayout::Millimeter).size();
    return QSizeF(mm.width() / 25.4 * logicalDpiX(), mm.height() / 25.4 * logicalDpiY());
}

double TReportPageView::Zoom() const
{
    if (!m_fit)
        return m_zoom;
    const QSizeF real = RealPageSize();
    const QSize area = viewport()->size() - QSize(2 * kPageMargin, 2 * kPageMargin);
    return std::clamp(
        std::min(area.width() / real.width(), area.height() / real.height()), kMinZoom, kMaxZoom);
}

QSize TReportPageView::PageSize() const
{
    return (RealPageSize() * Zoom()).toSize();
}

QRect TReportPageView::PageRect() const
{
    const QSize page = PageSize();
    const QSize view = viewport()->size();
    const auto start = [](int pageLength, int viewLength, const QScrollBar* bar) {
        return pageLength + 2 * kPageMargin <= viewLength ? (viewLength - pageLength) / 2
                                                          : kPageMargin - bar->value();
    };
    return QRect(QPoint(start(page.width(), view.width(), horizontalScrollBar()),
                     start(page.height(), view.height(), verticalScrollBar())),
        page);
}

void TReportPageView::Relayout()
{
    const QSize page = PageSize() + QSize(2 * kPageMargin, 2 * kPageMargin);
    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, page.width() - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    verticalScrollBar()->setRange(0, std::max(0, page.height() - view.height()));
    verticalScrollBar()->setPageStep(view.height());
    viewport()->update();
}

void TReportPageView::SetZoom(double zoom)
{
    const double x = ScrollCentre(horizontalScrollBar());
    const double y = ScrollCentre(verticalScrollBar());
    m_zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    m_fit = false;
    Relayout();
    ScrollToCentre(horizontalScrollBar(), x);
    ScrollToCentre(verticalScrollBar(), y);
}

void TReportPageView::ZoomIn()
{
    SetZoom(Zoom() * kZoomStep);
}

void TReportPageView::ZoomOut()
{
    SetZoom(Zoom() / kZoomStep);
}

void TReportPageView::FitInView()
{
    m_fit = true;
    Relayout();
}

const QImage& TReportPageView::PageImage()
{
    if (m_page == 0)
        return m_image;
    const QSizeF page = PageSize();
    const double scale
        = std::min(devicePixelRatioF(), std::sqrt(kMaxImagePixels / (page.width() * page.height())));
    const QSize size = (page * scale).toSize().expandedTo(QSize(1, 1));
    if (m_image.size() != size || m_imagePage != m_page) {
        m_image = QImage();
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QCPPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            m_pages->PaintCurrent(painter);
        }
        m_image = std::move(image);
        m_imagePage = m_page;
    }
    return m_image;
}

void TReportPageView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().color(QPalette::Dark));
    if (m_page == 0)
        return;
    const QRect page = PageRect();
    painter.fillRect(page.translated(3, 3), QColor(0, 0, 0, 90));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(page, PageImage());
}

void TReportPageView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void TReportPageView::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    if (event->angleDelta().y() > 0)
        ZoomIn();
    else if (event->angleDelta().y() < 0)
        ZoomOut();
    event->accept();
}

// ---- the window ------------------------------------------------------------------------------

TReportPreviewForm::TReportPreviewForm(QWidget* owner, std::vector<TReportSheet> sheets, std::uint32_t color)
    : TReportPreviewForm(owner, std::make_shared<const TReportSheetList>(std::move(sheets)), color)
{ }

TReportPreviewForm::TReportPreviewForm(
    QWidget* owner, std::shared_ptr<const TReportSheets> sheets, std::uint32_t color)
    : TReportPreviewForm(owner, std::shared_ptr<TReportPages>(SheetPages(std::move(sheets), color)), nullptr)
{ }

TReportPreviewForm::TReportPreviewForm(QWidget* owner, std::shared_ptr<TLabProtocolPainter> protocol)
    : TReportPreviewForm(owner, std::shared_ptr<TReportPages>(LabProtocolPages(protocol)), protocol)
{ }

TReportPreviewForm::TReportPreviewForm(
    QWidget* owner, std::shared_ptr<TReportPages> pages, std::shared_ptr<TLabProtocolPainter> protocol)
    : QDialog(owner)
    , m_pages(std::move(pages))
    , m_protocol(std::move(protocol))
{
    setObjectName(QStringLiteral("ReportPreviewForm"));
    setWindowTitle(QStringLiteral("Просмотр отчёта"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    // The first sheet is made here: a store that cannot give it stops the window opening.
    m_preview = new TReportPageView(m_pages, this);
    m_preview->setObjectName(QStringLiteral("Preview"));

    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    auto button = [this, buttons](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    auto pageButton = [&button](const char* name, const QString& text, const QString& tip, QKeySequence key) {
        QPushButton* b = button(name, text);
        b->setToolTip(tip);
        b->setShortcut(key);
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("MMM")));
        return b;
    };
    m_firstButton = pageButton("FirstPageButton", QStringLiteral("«"), QStringLiteral("Первый лист"),
        QKeySequence(Qt::CTRL | Qt::Key_Home));
    m_previousButton = pageButton("PreviousPageButton", QStringLiteral("‹"),
        QStringLiteral("Предыдущий лист"), QKeySequence(Qt::Key_PageUp));
    m_pageSpinBox = new QSpinBox(this);
    m_pageSpinBox->setObjectName(QStringLiteral("PageSpinBox"));
    m_pageSpinBox->setRange(std::min(1, PageCount()), PageCount());
    m_pageSpinBox->setPrefix(QStringLiteral("Лист "));
    m_pageSpinBox->setSuffix(QStringLiteral(" из %1").arg(PageCount()));
    // A number typed takes effect on Enter, not digit by digit.
    m_pageSpinBox->setKeyboardTracking(false);
    m_pageSpinBox->setToolTip(QStringLiteral("Номер листа"));
    buttons->addWidget(m_pageSpinBox);
    m_nextButton = pageButton("NextPageButton", QStringLiteral("›"), QStringLiteral("Следующий лист"),
        QKeySequence(Qt::Key_PageDown));
    m_lastButton = pageButton("LastPageButton", QStringLiteral("»"), QStringLiteral("Последний лист"),
        QKeySequence(Qt::CTRL | Qt::Key_End));
    buttons->addSpacing(12);
    if (m_protocol) {
        m_numberSpinBox = new QSpinBox(this);
        m_numberSpinBox->setObjectName(QStringLiteral("ProtocolNumberSpinBox"));
        m_numberSpinBox->setRange(1, 999999999);
        m_numberSpinBox->setValue(
            static_cast<int>(std::clamp<std::int64_t>(m_protocol->Protocol().Number, 1, 999999999)));
        m_numberSpinBox->setPrefix(QStringLiteral("Протокол № "));
        m_numberSpinBox->setKeyboardTracking(false);
        m_numberSpinBox->setToolTip(QStringLiteral("Номер протокола; следующий по проекту предложен"));
        buttons->addWidget(m_numberSpinBox);
        connect(m_numberSpinBox, &QSpinBox::valueChanged, this, [this](int number) {
            m_protocol->SetNumber(number);
            m_pageSpinBox->setRange(std::min(1, PageCount()), PageCount());
            m_pageSpinBox->setSuffix(QStringLiteral(" из %1").arg(PageCount()));
            m_preview->Repaint();
            ShowPage(CurrentPage());
        });
        buttons->addSpacing(12);
    }
    QPushButton* zoomIn = button("ZoomInButton", QStringLiteral("Увеличить"));
    QPushButton* zoomOut = button("ZoomOutButton", QStringLiteral("Уменьшить"));
    QPushButton* wholePage = button("WholePageButton", QStringLiteral("Страница целиком"));
    QPushButton* save = button("SaveButton", QStringLiteral("Сохранить..."));
    QPushButton* print = button("PrintButton", QStringLiteral("Печать..."));
    buttons->addStretch(1);
    QPushButton* close = button("CloseButton", QStringLiteral("Закрыть"));
    layout->addLayout(buttons);
    layout->addWidget(m_preview, 1);

    connect(m_firstButton, &QPushButton::clicked, this, [this] { TurnTo(1); });
    connect(m_previousButton, &QPushButton::clicked, this, [this] { TurnTo(CurrentPage() - 1); });
    connect(m_nextButton, &QPushButton::clicked, this, [this] { TurnTo(CurrentPage() + 1); });
    connect(m_lastButton, &QPushButton::clicked, this, [this] { TurnTo(PageCount()); });
    connect(m_pageSpinBox, &QSpinBox::valueChanged, this, &TReportPreviewForm::TurnTo);
    connect(m_preview, &TReportPageView::CurrentPageChanged, this, &TReportPreviewForm::ShowPage);
    connect(zoomIn, &QPushButton::clicked, m_preview, &TReportPageView::ZoomIn);
    connect(zoomOut, &QPushButton::clicked, m_preview, &TReportPageView::ZoomOut);
    connect(wholePage, &QPushButton::clicked, m_preview, &TReportPageView::FitInView);
    connect(save, &QPushButton::clicked, this, [this] { RunCommand([this] { SaveReport(); }); });
    connect(print, &QPushButton::clicked, this, [this] { RunCommand([this] { PrintReport(); }); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    ShowPage(CurrentPage());
    m_preview->setFocus();
    resize(960, 720);
}

void TReportPreviewForm::TurnTo(int page)
{
    RunCommand([this, page] { m_preview->SetCurrentPage(page); });
    // After a sheet that could not be made, the number shown goes back to the page shown.
    ShowPage(CurrentPage());
}

void TReportPreviewForm::ShowPage(int page)
{
    const QSignalBlocker blocker(m_pageSpinBox);
    m_pageSpinBox->setValue(page);
    m_firstButton->setEnabled(page > 1);
    m_previousButton->setEnabled(page > 1);
    m_nextButton->setEnabled(page < PageCount());
    m_lastButton->setEnabled(page < PageCount());
}

bool TReportPreviewForm::WithProgress(const std::function<bool(const std::function<bool(int, int)>&)>& paint)
{
    const int count = m_pages->Count();
    const QString label = QStringLiteral("Отчёт: лист %1 из %2");
    QProgressDialog progress(
        label.arg(std::min(1, count)).arg(count), QStringLiteral("Отмена"), 0, count, this);
    progress.setObjectName(QStringLiteral("ReportProgress"));
    progress.setWindowTitle(APPLICATION_TITLE);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    // Escape, or a window closed by the program, stops the work as "Отмена" does.
    connect(&progress, &QDialog::rejected, &progress, &QProgressDialog::cancel);
    progress.setValue(0);
    return paint([&progress, &label](int done, int all) {
        progress.setLabelText(label.arg(std::min(done + 1, all)).arg(all));
        // Once the window shows, this also lets the operator press "Отмена".
        progress.setValue(done);
        return !progress.wasCanceled();
    });
}

void TReportPreviewForm::SaveReport()
{
    TFileDialogOptions options;
    options.Title = QStringLiteral("Сохранить отчёт");
    options.Filter = QStringLiteral("Документ PDF (*.pdf);;Рисунки JPEG по страницам (*.jpg)");
    options.DefaultSuffix = QStringLiteral("pdf");
    options.Directory = ReportSaveFolder(m_saveSettings);
    options.FileName = m_saveSettings.SuggestedName;
    const QString fileName = OperatorDialogs().SaveFileName(options);
    if (fileName.isEmpty())
        return;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    QString written = fileName;
    bool saved = false;
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) {
        const QStringList pages = SaveJpegPages(fileName);
        saved = !pages.isEmpty();
        if (saved)
            written
                = pages.size() == 1 ? pages.front() : pages.front() + QStringLiteral(" … ") + pages.back();
    } else {
        saved = SavePdf(fileName);
    }
    if (saved && !m_saveSettings.SettingsFile.isEmpty())
        WriteSettingsText(m_saveSettings.SettingsFile.toStdString(), kReportSection, kLastFolderKey,
            QFileInfo(fileName).absolutePath().toStdString());
    if (saved && OnSaved)
        OnSaved(written);
}

void TReportPreviewForm::Issued()
{
    if (!m_protocol || !OnProtocolIssued)
        return;
    const std::int64_t number = m_protocol->Protocol().Number;
    if (std::find(m_issued.begin(), m_issued.end(), number) != m_issued.end())
        return;
    OnProtocolIssued(number);
    m_issued.push_back(number);
}

void TReportPreviewForm::PrintReport()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(m_pages->Layout());
    printer.setFullPage(true);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const bool done = WithProgress([this, &printer](const std::function<bool(int, int)>& progress) {
        return m_pages->PaintAll(printer, [&printer, &progress](int done, int all) {
            if (progress(done, all))
                return true;
            // Withdraws the job where the system can; CUPS is sent Qt's spool file when
            // painting ends, so there the sheets painted so far are still printed.
            printer.abort();
            return false;
        });
    });
    if (done)
        Issued();
}

bool TReportPreviewForm::SavePdf(const QString& fileName)
{
    // Written under another name beside it and put in its place when whole, so a stopped or
    // failed save leaves no half file and keeps the one that was there.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error(
            ("Unable to write to " + fileName + ": " + file.errorString()).toStdString());
    bool done = false;
    {
        QPdfWriter writer(&file);
        // For archiving: fonts embedded, nothing that needs outside resources to show.
        writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
        writer.setPageLayout(m_pages->Layout());
        writer.setResolution(300);
        writer.setTitle(m_pages->Title());
        writer.setCreator(APPLICATION_TITLE);
        done = WithProgress([this, &writer](const std::function<bool(int, int)>& progress) {
            return m_pages->PaintAll(writer, progress);
        });
    }
    if (!done) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        throw std::runtime_error(
            ("Unable to write to " + fileName + ": " + file.errorString()).toStdString());
    Issued();
    return true;
}

QStringList TReportPreviewForm::SaveJpegPages(const QString& fileName, int dotsPerInch)
{
    QStringList written;
    const QSizeF pageMm = m_pages->Layout().fullRect(QPageLayout::Millimeter).size();
    const QSize size(
        qRound(pageMm.width() / 25.4 * dotsPerInch), qRound(pageMm.height() / 25.4 * dotsPerInch));
    const QRectF area = m_pages->PrintedArea();
    const double pxPerMm = dotsPerInch / 25.4;
    const QRect crop = QRectF(area.topLeft() * pxPerMm, area.size() * pxPerMm)
                           .toAlignedRect()
                           .intersected(QRect(QPoint(0, 0), size));
    const bool done = WithProgress([&](const std::function<bool(int, int)>& progress) {
        const int count = m_pages->Count();
        for (int i = 0; i < count; ++i) {
            QImage page(size, QImage::Format_RGB32);
            page.setDotsPerMeterX(qRound(dotsPerInch / 0.0254));
            page.setDotsPerMeterY(qRound(dotsPerInch / 0.0254));
            page.fill(Qt::white);
            {
                QCPPainter painter(&page);
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setRenderHint(QPainter::TextAntialiasing);
                m_pages->PaintPage(painter, i);
            }
            const QString name = JpegPageName(fileName, i + 1);
            QImageWriter writer(name, "jpg");
            writer.setQuality(100);
            if (!writer.write(page.copy(crop)))
                throw std::runtime_error(
                    ("Unable to write to " + name + ": " + writer.errorString()).toStdString());
            written << name;
            if (!progress(i + 1, count))
                return false;
        }
        return true;
    });
    if (done) {
        Issued();
        return written;
    }
    for (const QString& name : written)
        QFile::remove(name);
    return {};
}
