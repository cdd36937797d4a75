#pragma once

// The preview of a report: one sheet on screen at a time, made from the report's sheets when
// it is turned to, so a report of any length holds one sheet and one page image; page
// navigation, zoom, save (PDF, or one JPEG per page), print and close. Saving and printing
// paint one sheet at a time as well, behind a progress window that can stop them.

#include "output/ReportUnit.h"

#include <QAbstractScrollArea>
#include <QDialog>
#include <QImage>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPushButton;
class QSpinBox;

// The current sheet as a white page on a grey ground: whole in the view, or larger and
// scrolled. The page image is painted when it is first shown at a page and zoom.
class TReportPageView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    TReportPageView(
        std::shared_ptr<const TReportSheets> sheets, std::uint32_t color, QWidget* parent = nullptr);
    ~TReportPageView() override;

    int PageCount() const { return m_sheets->Count(); }
    // From 1; 0 when the report has no sheets.
    int CurrentPage() const { return m_page; }
    // Makes sheet `page` (from 1, kept within the report) the one shown. Throws what making
    // the sheet throws, and then the page shown stays as it was.
    void SetCurrentPage(int page);
    // Null when the report has no sheets.
    const TReportSheet* CurrentSheet() const { return m_sheet ? &*m_sheet : nullptr; }

    // 1: the sheet at its real size on this screen.
    double Zoom() const;
    bool FitsInView() const { return m_fit; }
    void ZoomIn();
    void ZoomOut();
    void FitInView();

    // The current page at the present zoom, painted first when it is not yet.
    const QImage& PageImage();

signals:
    void CurrentPageChanged(int page);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QSizeF RealPageSize() const;
    QSize PageSize() const;
    QRect PageRect() const;
    void SetZoom(double zoom);
    void Relayout();

    std::shared_ptr<const TReportSheets> m_sheets;
    std::unique_ptr<TReportPainter> m_painter;
    std::optional<TReportSheet> m_sheet;
    int m_page = 0;
    double m_zoom = 1.0;
    bool m_fit = true;
    QImage m_image;
    int m_imagePage = 0;
};

class TReportPreviewForm : public QDialog
{
    Q_OBJECT

public:
    // `sheets` is read while the window lives.
    TReportPreviewForm(QWidget* owner, std::shared_ptr<const TReportSheets> sheets, std::uint32_t color);
    // Sheets already made (a few, or a test's).
    TReportPreviewForm(QWidget* owner, std::vector<TReportSheet> sheets, std::uint32_t color);

    int PageCount() const { return m_preview->PageCount(); }
    int CurrentPage() const { return m_preview->CurrentPage(); }
    TReportPageView* Preview() const { return m_preview; }
    QSpinBox* PageSpinBox() const { return m_pageSpinBox; }

    // Asks for a file and writes the pages: JPEG pages when the name ends in .jpg or
    // .jpeg, else one PDF. Errors escape as exceptions.
    void SaveReport();
    void PrintReport();

    // False when the operator stopped it; then no file is left and an existing one is kept.
    bool SavePdf(const QString& fileName);
    // <name>_1.jpg, <name>_2.jpg ...: quality 100, white, cropped to the printed area.
    // One page image at a time is held. Empty when the operator stopped it; then the pages
    // written are removed.
    QStringList SaveJpegPages(const QString& fileName, int dotsPerInch = 200);

private:
    // Runs `paint` with a hook for (pages done, pages in all) that returns false once the
    // operator pressed "Отмена"; the progress window shows when the work lasts over half a
    // second.
    bool WithProgress(const std::function<bool(const std::function<bool(int, int)>&)>& paint);
    void TurnTo(int page);
    void ShowPage(int page);

    std::shared_ptr<const TReportSheets> m_sheets;
    std::uint32_t m_color;
    TReportPageView* m_preview = nullptr;
    QSpinBox* m_pageSpinBox = nullptr;
    QPushButton* m_firstButton = nullptr;
    QPushButton* m_previousButton = nullptr;
    QPushButton* m_nextButton = nullptr;
    QPushButton* m_lastButton = nullptr;
};

// The names of the JPEG pages written for `fileName`: its extension replaced by "_" and
// the page number counted from 1, then ".jpg".
QString JpegPageName(const QString& fileName, int page);
