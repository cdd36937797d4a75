#pragma once

// The samples of one measurement as a tab-separated text file for a spreadsheet.
//
// One line per sample, each ended by CR LF, no header, no byte-order mark. Five fields separated by
// a single tab: the sample index from 0; Volume - VolumeOffset as "0.000" (formed in single
// precision); Temperature, Resistance and Temperature2 as "0.00". A value the record does not hold
// (an array missing or shorter than the others) is an empty field, so the columns keep their
// places; a non-finite sample is "?". There are Duration div Period lines, but never more than the
// longest array holds.

#include "store/MsrResult.h"

#include <QString>

#include <string>
#include <string_view>

class QWidget;
class TMainDataModule;

// The whole export text of `msr`, with the given decimal separator (UTF-8).
std::string ExportText(const TMsrResult& msr, std::string_view decimalSeparator);

// Writes the export text to `path`, replacing any file of that name only once the new one is
// complete. Raises std::runtime_error with the reason when the file cannot be written; the file
// that was there before, or none, is left then.
void WriteExportFile(const QString& path, const TMsrResult& msr, std::string_view decimalSeparator);

// ExportAction: asks for the file and writes the current record with the system's decimal
// separator. Nothing happens when the operator cancels. Raises std::runtime_error when the
// current row holds no readable record or the file cannot be written; nothing is written then.
void ExportActionExecute(QWidget* owner, TMainDataModule& dataModule, const QString& initialFolder);
