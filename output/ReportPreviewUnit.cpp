#include "output/ReportPreviewUnit.h"

#include "app/OperatorDialogs.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

#include <stdexcept>

namespace {

QPageLayout SheetLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0));
}

} // namespace

QString JpegPageName(const QString& fileName, int page)
{
    const QFileInfo info(fileName);
    const QString base
        = info.suffix().isEmpty() ? fileName : fileName.left(fileName.size() - info.suffix().size() - 1);
    return base + QStringLiteral("_%1.jpg").arg(page);
}

TReportPreviewForm::TReportPreviewForm(QWidget* owner, std::vector<TReportSheet> sheets, std::uint32_t color)
    : QDialog(owner)
    , m_sheets(std::move(sheets))
    , m_color(color)
{
    setObjectName(QStringLiteral("ReportPreviewForm"));
    setWindowTitle(QStringLiteral("Просмотр отчёта"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    auto button = [this, buttons](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    QPushButton* zoomIn = button("ZoomInButton", QStringLiteral("Увеличить"));
    QPushButton* zoomOut = button("ZoomOutButton", QStringLiteral("Уменьшить"));
    QPushButton* wholePage = button("WholePageButton", QStringLiteral("Страница целиком"));
    QPushButton* save = button("SaveButton", QStringLiteral("Сохранить..."));
    QPushButton* print = button("PrintButton", QStringLiteral("Печать..."));
    buttons->addStretch(1);
    QPushButton* close = button("CloseButton", QStringLiteral("Закрыть"));
    layout->addLayout(buttons);

    m_printer = std::make_unique<QPrinter>(QPrinter::ScreenResolution);
    m_printer->setPageLayout(SheetLayout());
    m_printer->setFullPage(true);
    m_preview = new QPrintPreviewWidget(m_printer.get(), this);
    m_preview->setObjectName(QStringLiteral("Preview"));
    m_preview->setViewMode(QPrintPreviewWidget::SinglePageView);
    m_preview->setZoomMode(QPrintPreviewWidget::FitInView);
    layout->addWidget(m_preview, 1);
    connect(m_preview, &QPrintPreviewWidget::paintRequested, this, &TReportPreviewForm::PaintRequested);

    connect(zoomIn, &QPushButton::clicked, m_preview, [this] { m_preview->zoomIn(); });
    connect(zoomOut, &QPushButton::clicked, m_preview, [this] { m_preview->zoomOut(); });
    connect(wholePage, &QPushButton::clicked, m_preview, &QPrintPreviewWidget::fitInView);
    connect(save, &QPushButton::clicked, this, [this] { RunCommand([this] { SaveReport(); }); });
    connect(print, &QPushButton::clicked, this, [this] { RunCommand([this] { PrintReport(); }); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    resize(900, 700);
}

TReportPreviewForm::~TReportPreviewForm()
{
    // The preview uses the printer to its end; the printer goes after it.
    delete m_preview;
}

void TReportPreviewForm::PaintRequested(QPrinter* printer)
{
    PaintReport(*printer, m_sheets, m_color);
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
    PaintReport(printer, m_sheets, m_color);
}

void TReportPreviewForm::SavePdf(const QString& fileName) const
{
    QPdfWriter writer(fileName);
    writer.setPageLayout(SheetLayout());
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("Протокол испытания"));
    PaintReport(writer, m_sheets, m_color);
    if (!QFileInfo(fileName).isFile() || QFileInfo(fileName).size() == 0)
        throw std::runtime_error(("Unable to write to " + fileName).toStdString());
}

QStringList TReportPreviewForm::SaveJpegPages(const QString& fileName, int dotsPerInch) const
{
    QStringList written;
    const QSizeF sheetMm(297.0, 210.0);
    const QSize size(
        qRound(sheetMm.width() / 25.4 * dotsPerInch), qRound(sheetMm.height() / 25.4 * dotsPerInch));
    const QRectF area = ReportPrintedArea();
    const double pxPerUnit = size.width() / (sheetMm.width() / kReportUnitMm);
    const QRect crop = QRectF(
        area.left() * pxPerUnit, area.top() * pxPerUnit, area.width() * pxPerUnit, area.height() * pxPerUnit)
                           .toAlignedRect()
                           .intersected(QRect(QPoint(0, 0), size));
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        QImage page(size, QImage::Format_RGB32);
        page.setDotsPerMeterX(qRound(dotsPerInch / 0.0254));
        page.setDotsPerMeterY(qRound(dotsPerInch / 0.0254));
        page.fill(Qt::white);
        {
            QPainter painter(&page);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            PaintReportSheet(painter, m_sheets[i], m_color);
        }
        const QString name = JpegPageName(fileName, static_cast<int>(i) + 1);
        QImageWriter writer(name, "jpg");
        writer.setQuality(100);
        if (!writer.write(page.copy(crop)))
            throw std::runtime_error(
                ("Unable to write to " + name + ": " + writer.errorString()).toStdString());
        written << name;
    }
    return written;
}
