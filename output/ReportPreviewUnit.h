#pragma once

// The preview of a report: one sheet on screen at a time, made from the report's sheets when
// it is turned to, so a report of any length holds one sheet and one page image; page
// navigation, zoom, save (PDF, or one JPEG per page), print and close. Saving and printing
// paint one sheet at a time as well, behind a progress window that can stop them.

#include "output/ReportUnit.h"

#include <QPageLayout>

#include <QAbstractScrollArea>
#include <QDialog>
#include <QImage>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCPPainter;
class QPagedPaintDevice;
class QPushButton;
class QSpinBox;
class TLabProtocolPainter;

// What a preview shows and writes: the pages of one type of report.
class TReportPages
{
public:
    virtual ~TReportPages() = default;
    virtual int Count() const = 0;
    virtual QPageLayout Layout() const = 0;
    // The part of the page that holds print, in millimetres from its top left: a JPEG page
    // is cropped to it.
    virtual QRectF PrintedArea() const = 0;
    virtual QString Title() const = 0;
    // Makes page `index` (from 0) the one PaintCurrent paints; throws what making it throws,
    // and then the current page stays as it was.
    virtual void Turn(int index) = 0;
    virtual void PaintCurrent(QCPPainter& painter) = 0;
    // Page `index`, made for this call, on a painter over a whole page.
    virtual void PaintPage(QCPPainter& painter, int index) = 0;
    // Every page onto the device; `progress` as PaintReport's. False when stopped.
    virtual bool PaintAll(QPagedPaintDevice& device, const std::function<bool(int, int)>& progress) = 0;
};

// The sheets of the instrument's test report, one A4 landscape page each.
std::unique_ptr<TReportPages> SheetPages(std::shared_ptr<const TReportSheets> sheets, std::uint32_t color);
// The laboratory's protocol, A4 portrait pages.
std::unique_ptr<TReportPages> LabProtocolPages(std::shared_ptr<TLabProtocolPainter> protocol);

// Where the save dialog starts and what it offers.
struct TReportSaveSettings
{
    QString SettingsFile;   // keeps the folder saved to last; empty: not kept
    QString ProjectsFolder; // offered while no folder was saved to
    QString SuggestedName;  // "<project>_<record>.pdf"
};

// "<project>_<record>.pdf": the project file's name without its extension and the measure
// number of the record, or "все" for every record.
QString SuggestedReportName(const QString& projectFile, std::optional<std::int32_t> measureNumber);
// The folder a save dialog offers: the one saved to last while it exists, else the projects
// folder.
QString ReportSaveFolder(const TReportSaveSettings& settings);

// The current sheet as a white page on a grey ground: whole in the view, or larger and
// scrolled. The page image is painted when it is first shown at a page and zoom.
class TReportPageView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    TReportPageView(std::shared_ptr<TReportPages> pages, QWidget* parent = nullptr);
    ~TReportPageView() override;

    int PageCount() const { return m_pages->Count(); }
    // From 1; 0 when the report has no sheets.
    int CurrentPage() const { return m_page; }
    // Makes sheet `page` (from 1, kept within the report) the one shown. Throws what making
    // the sheet throws, and then the page shown stays as it was.
    void SetCurrentPage(int page);
    // Null when the report has no sheets or is not made of sheets.
    const TReportSheet* CurrentSheet() const;
    // Paints the current page again (after its contents changed).
    void Repaint();

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

    std::shared_ptr<TReportPages> m_pages;
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
    // The laboratory's protocol; its number can be changed in the window before printing.
    TReportPreviewForm(QWidget* owner, std::shared_ptr<TLabProtocolPainter> protocol);

    void SetSaveSettings(TReportSaveSettings settings) { m_saveSettings = std::move(settings); }
    // Hears the protocol's number each time a protocol was saved or printed whole, once per
    // number.
    std::function<void(std::int64_t)> OnProtocolIssued;
    // A save wrote this file (the first of JPEG pages), for the owner to say where it went.
    std::function<void(const QString&)> OnSaved;
    QSpinBox* ProtocolNumberSpinBox() const { return m_numberSpinBox; }

    int PageCount() const { return m_preview->PageCount(); }
    int CurrentPage() const { return m_preview->CurrentPage(); }
    TReportPageView* Preview() const { return m_preview; }
    QSpinBox* PageSpinBox() const { return m_pageSpinBox; }

    // Asks for a file and writes the pages: JPEG pages when the name ends in .jpg or
    // .jpeg, else one PDF/A-1b. Errors escape as exceptions.
    void SaveReport();
    void PrintReport();

    // False when the operator stopped it; then no file is left and an existing one is kept.
    bool SavePdf(const QString& fileName);
    // <name>_1.jpg, <name>_2.jpg ...: quality 100, white, cropped to the printed area.
    // One page image at a time is held. Empty when the operator stopped it; then the pages
    // written are removed.
    QStringList SaveJpegPages(const QString& fileName, int dotsPerInch = 200);

private:
    TReportPreviewForm(
        QWidget* owner, std::shared_ptr<TReportPages> pages, std::shared_ptr<TLabProtocolPainter> protocol);
    void Issued();
    // Runs `paint` with a hook for (pages done, pages in all) that returns false once the
    // operator pressed "Отмена"; the progress window shows when the work lasts over half a
    // second.
    bool WithProgress(const std::function<bool(const std::function<bool(int, int)>&)>& paint);
    void TurnTo(int page);
    void ShowPage(int page);

    std::shared_ptr<TReportPages> m_pages;
    std::shared_ptr<TLabProtocolPainter> m_protocol;
    std::vector<std::int64_t> m_issued;
    TReportSaveSettings m_saveSettings;
    TReportPageView* m_preview = nullptr;
    QSpinBox* m_numberSpinBox = nullptr;
    QSpinBox* m_pageSpinBox = nullptr;
    QPushButton* m_firstButton = nullptr;
    QPushButton* m_previousButton = nullptr;
    QPushButton* m_nextButton = nullptr;
    QPushButton* m_lastButton = nullptr;
};

// The names of the JPEG pages written for `fileName`: its extension replaced by "_" and
// the page number counted from 1, then ".jpg".
QString JpegPageName(const QString& fileName, int page);
