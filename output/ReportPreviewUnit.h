#pragma once

// The preview of a prepared report: one whole page at a time, with zoom, save (PDF, or
// one JPEG per page), print and close.

#include "output/ReportUnit.h"

#include <QDialog>

#include <memory>
#include <vector>

class QPrinter;
class QPrintPreviewWidget;

class TReportPreviewForm : public QDialog
{
    Q_OBJECT

public:
    TReportPreviewForm(QWidget* owner, std::vector<TReportSheet> sheets, std::uint32_t color);
    ~TReportPreviewForm() override;

    int PageCount() const { return static_cast<int>(m_sheets.size()); }
    QPrintPreviewWidget* Preview() const { return m_preview; }

    // Asks for a file and writes the pages: JPEG pages when the name ends in .jpg or
    // .jpeg, else one PDF. Errors escape as exceptions.
    void SaveReport();
    void PrintReport();

    void SavePdf(const QString& fileName) const;
    // <name>_1.jpg, <name>_2.jpg ...: quality 100, white, cropped to the printed area.
    // One page image at a time is held.
    QStringList SaveJpegPages(const QString& fileName, int dotsPerInch = 200) const;

private:
    void PaintRequested(QPrinter* printer);

    std::vector<TReportSheet> m_sheets;
    std::uint32_t m_color;
    std::unique_ptr<QPrinter> m_printer;
    QPrintPreviewWidget* m_preview = nullptr;
};

// The names of the JPEG pages written for `fileName`: its extension replaced by "_" and
// the page number counted from 1, then ".jpg".
QString JpegPageName(const QString& fileName, int page);
