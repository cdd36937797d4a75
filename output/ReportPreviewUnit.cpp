#include "output/ReportPreviewUnit.h"

#include "app/OperatorDialogs.h"

#include <qcustomplot.h>

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

constexpr double kSheetWidthMm = 297.0;
constexpr double kSheetHeightMm = 210.0;
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

// ---- the page view ---------------------------------------------------------------------------

TReportPageView::TReportPageView(
    std::shared_ptr<const TReportSheets> sheets, std::uint32_t color, QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_sheets(std::move(sheets))
    , m_painter(std::make_unique<TReportPainter>(color))
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
    if (m_sheet && page == m_page)
        return;
    TReportSheet sheet = m_sheets->Sheet(page - 1);
    m_sheet = std::move(sheet);
    m_page = page;
    m_image = QImage();
    viewport()->update();
    emit CurrentPageChanged(m_page);
}

QSizeF TReportPageView::RealPageSize() const
{
    return QSizeF(kSheetWidthMm / 25.4 * logicalDpiX(), kSheetHeightMm / 25.4 * logicalDpiY());
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
    if (!m_sheet)
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
            m_painter->Paint(painter, *m_sheet);
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
    if (!m_sheet)
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
    : QDialog(owner)
    , m_sheets(std::move(sheets))
    , m_color(color)
{
    setObjectName(QStringLiteral("ReportPreviewForm"));
    setWindowTitle(QStringLiteral("Просмотр отчёта"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    // The first sheet is made here: a store that cannot give it stops the window opening.
    m_preview = new TReportPageView(m_sheets, color, this);
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
    const int count = m_sheets->Count();
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
    const QString fileName = OperatorDialogs().SaveFileName(options);
    if (fileName.isEmpty())
        return;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        SaveJpegPages(fileName);
    else
        SavePdf(fileName);
}

void TReportPreviewForm::PrintReport()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(SheetLayout());
    printer.setFullPage(true);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    WithProgress([this, &printer](const std::function<bool(int, int)>& progress) {
        return PaintReport(printer, *m_sheets, m_color, [&printer, &progress](int done, int all) {
            if (progress(done, all))
                return true;
            // Withdraws the job where the system can; CUPS is sent Qt's spool file when
            // painting ends, so there the sheets painted so far are still printed.
            printer.abort();
            return false;
        });
    });
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
        writer.setPageLayout(SheetLayout());
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("Протокол испытания"));
        done = WithProgress([this, &writer](const std::function<bool(int, int)>& progress) {
            return PaintReport(writer, *m_sheets, m_color, progress);
        });
    }
    if (!done) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        throw std::runtime_error(
            ("Unable to write to " + fileName + ": " + file.errorString()).toStdString());
    return true;
}

QStringList TReportPreviewForm::SaveJpegPages(const QString& fileName, int dotsPerInch)
{
    QStringList written;
    const QSize size(qRound(kSheetWidthMm / 25.4 * dotsPerInch), qRound(kSheetHeightMm / 25.4 * dotsPerInch));
    const QRectF area = ReportPrintedArea();
    const double pxPerUnit = size.width() / (kSheetWidthMm / kReportUnitMm);
    const QRect crop = QRectF(
        area.left() * pxPerUnit, area.top() * pxPerUnit, area.width() * pxPerUnit, area.height() * pxPerUnit)
                           .toAlignedRect()
                           .intersected(QRect(QPoint(0, 0), size));
    TReportPainter sheetPainter(m_color);
    const bool done = WithProgress([&](const std::function<bool(int, int)>& progress) {
        const int count = m_sheets->Count();
        for (int i = 0; i < count; ++i) {
            QImage page(size, QImage::Format_RGB32);
            page.setDotsPerMeterX(qRound(dotsPerInch / 0.0254));
            page.setDotsPerMeterY(qRound(dotsPerInch / 0.0254));
            page.fill(Qt::white);
            {
                QCPPainter painter(&page);
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setRenderHint(QPainter::TextAntialiasing);
                sheetPainter.Paint(painter, m_sheets->Sheet(i));
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
    if (done)
        return written;
    for (const QString& name : written)
        QFile::remove(name);
    return {};
}
