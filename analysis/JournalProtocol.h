#pragma once

// The printed summary of a journal selection: the rows as a table over as many pages as they
// need (a heading repeated on each), then the statistics overall, per grade and per supplier,
// then the control chart. Pages are A4 landscape, numbered.

#include "analysis/Journal.h"

#include <QString>

#include <string>
#include <vector>

class QPagedPaintDevice;

// Returns the number of pages painted.
int PaintJournalProtocol(QPagedPaintDevice& device, const QString& title, const TJournal& journal,
    const std::vector<int>& rows, const std::string& decimalSeparator);

// The statistics as the page and the protocol show them: overall, per grade, per supplier;
// activity figures, control limits (НГ, ВГ) and the forecast error.
std::vector<QString> StatisticsHeader();
std::vector<std::vector<QString>> StatisticsTable(
    const TJournal& journal, const std::vector<int>& rows, const std::string& decimalSeparator);
